// ReportCatalog: what the report manager reads from the log database: the
// report folder and the names of every run and trial, by which the output
// files of two items whose names clean to the same file name are told
// apart. The log database adapter implements it; tests use an in-memory
// version.
//
// Thread safety: main thread only.
#pragma once

#include <string>
#include <vector>

namespace rvx {

// A run with its trial's and vessel's names (Windows-1252, as stored).
struct TReportRunEntry {
  int RunId = -1;
  std::string VesselName;
  std::string TrialName;
  std::string RunName;
};

// A trial with its vessel's name.
struct TReportTrialEntry {
  int TrialId = -1;
  std::string VesselName;
  std::string TrialName;
};

class ReportCatalog {
 public:
  ReportCatalog() = default;
  ReportCatalog(const ReportCatalog&) = delete;
  ReportCatalog& operator=(const ReportCatalog&) = delete;
  virtual ~ReportCatalog() = default;

  // The report folder as the file system names it, ending in "/"; created
  // when missing. Raises when it cannot be created.
  virtual std::string getReportPath() = 0;
  // Every run and every trial of the log, any order.
  virtual std::vector<TReportRunEntry> AllRuns() = 0;
  virtual std::vector<TReportTrialEntry> AllTrials() = 0;
};

}  // namespace rvx

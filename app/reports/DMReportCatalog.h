// TDMReportCatalog: the report catalog read from the log database: the
// report folder of its System row and every run and trial reachable from
// its vessels.
//
// The lists are the adapter's list reads: like them they leave the Trials
// and Runs tables filtered as the last read did (a later deleteTrial or
// deleteRun sees that filter; list the trial's runs again first).
//
// Errors: engine errors pass to the caller; a trial whose runs cannot be
// read lists none (the adapter's GetTrialRuns keeps what it has).
//
// Thread safety: main thread only.
#pragma once

#include <string>
#include <vector>

#include "app/reports/ReportCatalog.h"

namespace rvx {

class TDM_System;

class TDMReportCatalog : public ReportCatalog {
 public:
  // log must outlive the catalog.
  explicit TDMReportCatalog(TDM_System& log) : log_(log) {}

  std::string getReportPath() override;
  std::vector<TReportRunEntry> AllRuns() override;
  std::vector<TReportTrialEntry> AllTrials() override;

 private:
  TDM_System& log_;
};

}  // namespace rvx

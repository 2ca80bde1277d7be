// ReportFileNames: the names of the program's output files in the report
// folder. A file's base is the vessel, trial and run names (or "Summary")
// joined by "-" and cleaned of \ / : * ? " > < | and "." (SanitizeFileName):
//
//   run report        folder + base + ".pdf"
//   raw data          folder + base + " - Raw data (No filter) - Shaft 1.csv"
//                     folder + base + " - Raw data (Chauvenet) - Shaft 1.csv"
//   trial summary     folder + base + ".csv" / ".xlsx" / ".pdf"
//
// so the vessel M.V. Ocean, trial Trial 1 and run Run 2/3 give
// "MV Ocean-Trial 1-Run 23.pdf".
//
// Names that clean to the same base ("Run 1.5" and "Run 15") would share
// their files: each would overwrite the other's, and deleting one run would
// delete the other's report. So the item of lowest ID with a base keeps the
// plain base, and every later item (a run of higher ID anywhere in the log;
// for summaries a trial) gets " (ID n)" with its own ID after it. The plain
// names of the earliest items, and so every file written before, stay as
// they were.
//
// Bases are Windows-1252 texts; full names are file-system names (UTF-8).
//
// Thread safety: pure functions.
#pragma once

#include <string>
#include <vector>

#include "app/reports/ReportCatalog.h"

namespace rvx {

// The cleaned base names.
std::string RunReportBase(const TReportRunEntry& run);
std::string TrialSummaryBase(const TReportTrialEntry& trial);

// " (ID n)".
std::string IdSuffix(int id);

// The base the run's files carry among runs (which may or may not hold the
// run itself): the plain base, or it + IdSuffix(run's ID) when a run of
// lower ID in runs has the same plain base.
std::string RunFileBase(const TReportRunEntry& run, const std::vector<TReportRunEntry>& runs);
// The same for a trial's summary files among trials.
std::string TrialFileBase(const TReportTrialEntry& trial,
                          const std::vector<TReportTrialEntry>& trials);

// Full names; folder ends in "/".
std::string RunPdfFileName(const std::string& folder, const std::string& base);
std::string RawDataCsvFileName(const std::string& folder, const std::string& base, bool filtered,
                               int shaftId);
// extension: ".csv", ".xlsx" or ".pdf".
std::string TrialSummaryFileName(const std::string& folder, const std::string& base,
                                 const std::string& extension);

}  // namespace rvx

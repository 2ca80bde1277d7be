#include "app/reports/ReportFileNames.h"

#include "app/util/Utils.h"
#include "platform/core/CodePage.h"
#include "platform/core/TextConvert.h"

namespace rvx {

std::string RunReportBase(const TReportRunEntry& run) {
  return SanitizeFileName(run.VesselName + "-" + run.TrialName + "-" + run.RunName);
}

std::string TrialSummaryBase(const TReportTrialEntry& trial) {
  return SanitizeFileName(trial.VesselName + "-" + trial.TrialName + "-" + "Summary");
}

std::string IdSuffix(int id) {
  return " (ID " + platform::IntToStr(id) + ")";
}

std::string RunFileBase(const TReportRunEntry& run, const std::vector<TReportRunEntry>& runs) {
  const std::string base = RunReportBase(run);
  for (const TReportRunEntry& other : runs)
    if (other.RunId < run.RunId && RunReportBase(other) == base) return base + IdSuffix(run.RunId);
  return base;
}

std::string TrialFileBase(const TReportTrialEntry& trial,
                          const std::vector<TReportTrialEntry>& trials) {
  const std::string base = TrialSummaryBase(trial);
  for (const TReportTrialEntry& other : trials)
    if (other.TrialId < trial.TrialId && TrialSummaryBase(other) == base)
      return base + IdSuffix(trial.TrialId);
  return base;
}

std::string RunPdfFileName(const std::string& folder, const std::string& base) {
  return folder + platform::AnsiToUtf8(base) + ".pdf";
}

std::string RawDataCsvFileName(const std::string& folder, const std::string& base, bool filtered,
                               int shaftId) {
  return folder + platform::AnsiToUtf8(base) + " - Raw data (" +
         (filtered ? "Chauvenet" : "No filter") + ") - Shaft " + platform::IntToStr(shaftId) +
         ".csv";
}

std::string TrialSummaryFileName(const std::string& folder, const std::string& base,
                                 const std::string& extension) {
  return folder + platform::AnsiToUtf8(base) + extension;
}

}  // namespace rvx

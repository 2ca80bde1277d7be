#include "app/reports/DMReportCatalog.h"

#include <memory>

#include "app/storage/DMSystem.h"

namespace rvx {

std::string TDMReportCatalog::getReportPath() {
  return log_.getReportPath();
}

std::vector<TReportRunEntry> TDMReportCatalog::AllRuns() {
  std::vector<TReportRunEntry> runs;
  for (const TReportTrialEntry& trial : AllTrials())
    for (const std::unique_ptr<TRun>& run : log_.GetTrialRuns(trial.TrialId))
      runs.push_back({run->ID, trial.VesselName, trial.TrialName, run->name});
  return runs;
}

std::vector<TReportTrialEntry> TDMReportCatalog::AllTrials() {
  std::vector<TReportTrialEntry> trials;
  const std::unique_ptr<TVessels> vessels = log_.getVessels();
  // The list is read whole first: the trial reads below move the tables.
  for (std::size_t v = 0; v < vessels->Count(); ++v) {
    const TVessel& vessel = vessels->Item(v);
    for (const std::unique_ptr<TTrial>& trial : log_.getTrialsByVesselId(vessel.ID))
      trials.push_back({trial->ID, vessel.name, trial->name});
  }
  return trials;
}

}  // namespace rvx

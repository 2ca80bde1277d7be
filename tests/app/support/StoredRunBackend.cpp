#include "tests/app/support/StoredRunBackend.h"

#include "app/storage/StoredRunData.h"
#include "dbengine/api/VEZDatabase.h"

namespace rvx::test {

StoredRunBackend::~StoredRunBackend() {
  stored_.clear();
  log_.reset();
}

RunData& StoredRunBackend::Through(RunData& run) {
  if (backend_ == SeamBackend::kInMemory) return run;
  return StoreInTrial(run, next_trial_++);  // a trial of its own, so names never clash
}

TDM_System& StoredRunBackend::Log() {
  if (!log_) log_ = std::make_unique<TDM_System>("RVX_Log.vez", box_);
  return *log_;
}

RunData& StoredRunBackend::StoreInTrial(RunData& run, int trialId) {
  Log();
  TRun row;
  row.name = run.RunName();
  row.TrialID = trialId;
  log_->addRun(row);
  EXPECT_NE(row.ID, 0) << "a run named " << row.name << " is already in trial " << trialId;
  row.StartTime = run.StartTime();
  row.StopTime = run.StopTime();
  row.Comments = run.Comments();
  log_->UpdateRun(row);
  int window = 5, minimum = 5;
  vez::TVEZDatabase& db = log_->Database();
  db.Open();
  db.StartTransaction();
  for (std::size_t s = 0; s < run.ShaftCount(); ++s) {
    TShaftDataSet& set = run.ShaftDataSet(s);
    window = set.PowerData().WindowSize();
    minimum = set.PowerData().MinimumSamplesInWindow();
    TMeassurement m(row.ID, run.ShaftId(s));
    log_->AddMeassurement(m);
    const auto power = set.PowerData().Values();
    const auto torque = set.TorqueData().Values();
    const auto speed = set.SpeedData().Values();
    const std::size_t n = std::max({power.Count(), torque.Count(), speed.Count()});
    auto at = [](const TDataValueEntries& v, std::size_t i) {
      return i < v.Count() ? v[i] : nullptr;
    };
    for (std::size_t i = 0; i < n; ++i)
      log_->AddDataToDb(m, at(power, i), at(torque, i), at(speed, i));
  }
  db.Commit();
  if (read_back_)
    stored_.push_back(read_back_(*log_, row, window, minimum));
  else
    stored_.push_back(std::make_unique<TStoredRunData>(*log_, row, window, minimum));
  return *stored_.back();
}

std::vector<RunData*> StoredRunBackend::Through(const std::vector<RunData*>& runs) {
  std::vector<RunData*> out;
  for (RunData* run : runs)
    out.push_back(&Through(*run));
  return out;
}

}  // namespace rvx::test

// Run data sets over replay managers on a real log file: the run's fields,
// its shafts in measurement order, and the stop time of a run that was
// interrupted while recording.
#include "app/run/RunDataSet.h"

#include <gtest/gtest.h>

#include "app/storage/ConfigurationManager.h"
#include "app/storage/DMSystem.h"
#include "app/util/Utils.h"
#include "tests/app/run/RunTestSupport.h"
#include "tests/app/support/QtTestApplication.h"

namespace rvx::test {
namespace {

class RunDataSetTest : public LogDatabaseTest {
 protected:
  void SetUp() override {
    EnsureQtApplication();
    log_ = OpenLog();
    config_ = std::make_unique<TConfigurationManager>(*log_);
  }

  // Records one reading per listed time on shaft 2 then shaft 1 (so the
  // first measurement is shaft 2's), storing the run's start only.
  TRun Record(const std::vector<double>& times) {
    TRun run;
    run.name = "R" + std::to_string(next_++);
    run.TrialID = 1;
    run.Comments = "calm sea";
    log_->addRun(run);
    run.StartTime = 42700.5;
    log_->MarkRunStarted(run);
    auto s2 = std::make_shared<HandFedShaft>(1);
    auto s1 = std::make_shared<HandFedShaft>(0);
    std::vector<std::shared_ptr<TMeassurementManager>> live;
    for (auto& shaft : {s2, s1}) {
      live.push_back(std::make_shared<TMeassurementManager>(run, shaft, *log_, *config_));
      live.back()->StartRecording();
    }
    for (double t : times) {
      const TDataValue p(t, 5000, false), s(t, 90, false);
      s2->Feed(&p, nullptr, &s);
    }
    for (auto& m : live)
      m->Shutdown();
    return run;
  }

  std::unique_ptr<TRunDataSet> ReadBack(const TRun& stored) {
    TMeassurementManagerList managers;
    for (auto& m : log_->GetMeassurements(stored.ID))
      managers.push_back(
          std::make_shared<TMeassurementManager>(stored, *log_, *config_, std::move(m)));
    return std::make_unique<TRunDataSet>(stored, std::move(managers));
  }

  TRun StoredRun(int id) {
    for (auto& r : log_->GetTrialRuns(1))
      if (r->ID == id) return *r;
    ADD_FAILURE() << "run " << id << " not stored";
    return {};
  }

  std::unique_ptr<TDM_System> log_;
  std::unique_ptr<TConfigurationManager> config_;
  int next_ = 1;
};

TEST_F(RunDataSetTest, ServesTheStoppedRunAndItsShaftsInMeasurementOrder) {
  TRun run = Record({42700.51, 42700.52});
  run.StopTime = 42700.6;
  log_->UpdateRun(run);
  const TRun stored = StoredRun(run.ID);
  auto set = ReadBack(stored);
  RunData& data = *set;
  EXPECT_EQ(data.RunId(), run.ID);
  EXPECT_EQ(data.RunName(), "R1");
  EXPECT_EQ(data.Comments(), "calm sea");
  EXPECT_DOUBLE_EQ(data.StartTime(), 42700.5);
  EXPECT_DOUBLE_EQ(data.StopTime(), 42700.6);
  EXPECT_FALSE(set->IsInterrupted());
  ASSERT_EQ(data.ShaftCount(), 2u);
  EXPECT_EQ(data.ShaftId(0), 2);
  EXPECT_EQ(data.ShaftId(1), 1);
  EXPECT_EQ(data.ShaftDataSet(0).PowerData().Values().Count(), 2u);
  EXPECT_FALSE(data.ShaftDataSet(1).PowerData().HasData());
  EXPECT_EQ(data.RunDurationText(), FormatDuration(42700.6 - 42700.5));
}

// The program ended while recording: the start is stored and the stop is
// null; the run ends at its last sample, or at its start without any.
TEST_F(RunDataSetTest, InterruptedRunEndsAtItsLastSampleOrItsStart) {
  struct Case {
    const char* name;
    std::vector<double> times;
    double stop;
  };
  for (const Case& c : {Case{"with samples", {42700.51, 42700.53}, 42700.53},
                        Case{"without samples", {}, 42700.5}}) {
    SCOPED_TRACE(c.name);
    const TRun stored = StoredRun(Record(c.times).ID);
    EXPECT_DOUBLE_EQ(stored.StartTime, 42700.5);
    auto set = ReadBack(stored);
    EXPECT_TRUE(set->IsInterrupted());
    EXPECT_DOUBLE_EQ(set->StopTime(), c.stop);
    EXPECT_GE(set->StopTime() - set->StartTime(), 0);
    EXPECT_EQ(set->RunDurationText(), FormatDuration(c.stop - 42700.5));
  }
}

}  // namespace
}  // namespace rvx::test

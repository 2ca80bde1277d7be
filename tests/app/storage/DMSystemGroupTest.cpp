// Readings committed in groups: when a group becomes visible to another
// process, which calls commit it first, where error rows go, and what a
// failed commit keeps.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/Exceptions.h"
#include "tests/app/storage/LogDatabaseTestSupport.h"
#include "tests/common/WorkerProcess.h"

namespace rvx::test {
namespace {

using vez::test::WorkerProcess;

using GroupTest = LogDatabaseTest;

void AppendReading(TDM_System& log, const TMeassurement& m, int i) {
  const double t = 42700.5 + i / 864000.0;
  const TDataValue p(t, i, false), q(t, 2.0 * i, false), s(t, i / 10.0, false);
  log.AddDataToDb(m, &p, &q, &s);
}

std::vector<double> PowerValues(TDM_System& log, int measurementId) {
  TRun run;
  auto set = log.GetDataSet(run, TMeassurement(1, 1, measurementId), 0, {}, 5, 5);
  std::vector<double> out;
  for (const TDataValue* v : set->PowerData().Values())
    out.push_back(v->Value());
  return out;
}

TEST_F(GroupTest, GroupBecomesVisibleToAnotherProcessWithinOnePeriod) {
  auto log = OpenLog();
  TMeassurement m(1, 1);
  log->AddMeassurement(m);
  WorkerProcess reader(RVX_LOG_WORKER);
  reader.Ok("open");
  const std::string count = "count " + std::to_string(m.ID);
  AppendReading(*log, m, 0);
  clock_.Advance(TDM_System::kDataGroupMs - 1);
  AppendReading(*log, m, 1);
  EXPECT_TRUE(log->HasPendingData());
  EXPECT_EQ(reader.Ok(count), "0");
  // A meter gone quiet: the recording's tick commits the group when due.
  log->CommitDataIfDue();
  EXPECT_TRUE(log->HasPendingData());
  clock_.Advance(1);
  log->CommitDataIfDue();
  EXPECT_FALSE(log->HasPendingData());
  EXPECT_EQ(reader.Ok(count), "2");
  // While readings flow, the append that finds the group due commits it.
  for (int i = 2; i < 30; ++i) {
    AppendReading(*log, m, i);
    clock_.Advance(10);
  }
  // The group opened by reading 2 is 250 ms old at reading 27.
  EXPECT_EQ(reader.Ok(count), "28");
  log.reset();  // closing commits the rest
  EXPECT_EQ(reader.Ok(count), "30");
}

struct Operation {
  const char* name;
  std::function<void(TDM_System&, const TMeassurement&)> run;
};

// Every call other than an append commits the open group first, so a reader
// never sees a later change without the readings that came before it.
TEST_F(GroupTest, EveryOtherCallCommitsTheOpenGroupFirst) {
  auto log = OpenLog();
  TRun run;
  run.name = "R";
  run.TrialID = 1;
  log->addRun(run);
  TMeassurement m(run.ID, 1), other(run.ID, 2);
  log->AddMeassurement(m);
  log->AddMeassurement(other);
  const std::vector<Operation> operations{
      {"UpdateRun", [&](TDM_System& l, const TMeassurement&) { l.UpdateRun(run); }},
      {"MarkRunStarted", [&](TDM_System& l, const TMeassurement&) { l.MarkRunStarted(run); }},
      {"addRun",
       [&](TDM_System& l, const TMeassurement&) {
         TRun r;
         r.name = "Another";
         r.TrialID = 1;
         l.addRun(r);
       }},
      {"deleteRun", [](TDM_System& l, const TMeassurement&) { l.deleteRun(999); }},
      {"AddMeassurement",
       [](TDM_System& l, const TMeassurement&) {
         TMeassurement x(7, 7);
         l.AddMeassurement(x);
       }},
      {"DeleteMeassurementData",
       [&](TDM_System& l, const TMeassurement&) { l.DeleteMeassurementData(other.ID); }},
      {"GetDataSet", [](TDM_System& l, const TMeassurement& x) { PowerValues(l, x.ID); }},
      {"GetMeassurements",
       [&](TDM_System& l, const TMeassurement&) { l.GetMeassurements(run.ID); }},
      {"addVessel", [](TDM_System& l, const TMeassurement&) { l.addVessel(TVessel{}); }},
      {"addTrial",
       [](TDM_System& l, const TMeassurement&) {
         l.addTrial(TTrial{0, "T", 1});
       }},
      {"SetRunningAverageWindowSize",
       [](TDM_System& l, const TMeassurement&) { l.SetRunningAverageWindowSize(7); }},
      {"setComMode", [](TDM_System& l, const TMeassurement&) { l.setComMode(0, "Demo"); }},
  };
  WorkerProcess reader(RVX_LOG_WORKER);
  reader.Ok("open");
  int appended = 0;
  for (const Operation& op : operations) {
    SCOPED_TRACE(op.name);
    AppendReading(*log, m, appended++);
    AppendReading(*log, m, appended++);
    ASSERT_TRUE(log->HasPendingData());
    op.run(*log, m);
    EXPECT_FALSE(log->HasPendingData());
    EXPECT_EQ(reader.Ok("count " + std::to_string(m.ID)), std::to_string(appended));
  }
  EXPECT_EQ(PowerValues(*log, m.ID).size(), static_cast<std::size_t>(appended));
}

TEST_F(GroupTest, ErrorRowsJoinTheOpenGroup) {
  auto log = OpenLog();
  TMeassurement m(1, 1);
  log->AddMeassurement(m);
  WorkerProcess reader(RVX_LOG_WORKER);
  reader.Ok("open");
  AppendReading(*log, m, 0);
  log->newError("Unit", "Function", "damaged sentence", ErrorLog::kLog);
  EXPECT_TRUE(log->HasPendingData()) << "an error row does not cut the group short";
  EXPECT_EQ(reader.Ok("errors"), "0");
  clock_.Advance(TDM_System::kDataGroupMs);
  log->CommitDataIfDue();
  EXPECT_EQ(reader.Ok("errors"), "1");
  EXPECT_EQ(reader.Ok("count " + std::to_string(m.ID)), "1");
  // Without an open group an error row is its own commit, as before.
  log->newError("Unit", "Function", "alone", ErrorLog::kLog);
  EXPECT_FALSE(log->HasPendingData());
  EXPECT_EQ(reader.Ok("errors"), "2");
}

TEST_F(GroupTest, FailedCommitRaisesDropsItsGroupAndKeepsTheOthers) {
  FailingSyncFileSystem fs;
  platform::ScopedFileSystem scoped(fs);
  auto log = OpenLog();
  TMeassurement m(1, 1);
  log->AddMeassurement(m);
  std::vector<double> expected;
  auto group = [&](int first) {
    for (int i = first; i < first + 5; ++i)
      AppendReading(*log, m, i);
    clock_.Advance(TDM_System::kDataGroupMs);
  };
  group(0);
  log->CommitDataIfDue();
  expected.insert(expected.end(), {0, 1, 2, 3, 4});
  group(10);
  fs.armed = true;
  EXPECT_THROW(log->CommitDataIfDue(), platform::Exception);
  fs.armed = false;
  ASSERT_GT(fs.failures, 0);
  EXPECT_FALSE(log->HasPendingData());
  EXPECT_FALSE(log->Database().InTransaction());
  // Recording goes on into a new group.
  group(20);
  log->CommitDataIfDue();
  expected.insert(expected.end(), {20, 21, 22, 23, 24});
  EXPECT_EQ(PowerValues(*log, m.ID), expected);
  // A failure found by an append raises there, and the next append starts
  // afresh.
  group(30);
  fs.armed = true;
  EXPECT_THROW(AppendReading(*log, m, 35), platform::Exception);
  fs.armed = false;
  EXPECT_FALSE(log->HasPendingData());
  AppendReading(*log, m, 40);
  log.reset();
  expected.push_back(40);
  auto reopened = OpenLog();
  EXPECT_EQ(PowerValues(*reopened, m.ID), expected);
}

}  // namespace
}  // namespace rvx::test

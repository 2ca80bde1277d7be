// Two processes on one log file: a reader beside a recording program, and a
// recording program killed mid-run.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "tests/app/storage/LogDatabaseTestSupport.h"
#include "tests/common/WorkerProcess.h"

namespace rvx::test {
namespace {

using vez::test::WorkerProcess;

using ProcessTest = LogDatabaseTest;

void AppendReading(TDM_System& log, const TMeassurement& m, int i) {
  const double t = 42700.5 + i / 864000.0;
  const TDataValue p(t, i, false), q(t, 2.0 * i, false), s(t, i / 10.0, false);
  log.AddDataToDb(m, &p, &q, &s);
}

TEST_F(ProcessTest, SecondProcessReadsWhileTheFirstAppends) {
  auto log = OpenLog();
  TMeassurement m(1, 1);
  log->AddMeassurement(m);
  WorkerProcess reader(RVX_LOG_WORKER);
  reader.Ok("open");
  EXPECT_EQ(reader.Ok("count " + std::to_string(m.ID)), "0");
  // Readings are committed in groups: the reader sees a group once it is
  // one period old, and nothing of the group still open.
  int appended = 0;
  int committed = 0;
  for (int round = 1; round <= 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    for (int i = 0; i < 40 * round; ++i) {
      AppendReading(*log, m, appended++);
      clock_.Advance(1);
    }
    EXPECT_TRUE(log->HasPendingData());
    EXPECT_EQ(reader.Ok("count " + std::to_string(m.ID)), std::to_string(committed));
    clock_.Advance(TDM_System::kDataGroupMs);
    AppendReading(*log, m, appended++);  // the group is due: this append commits it
    committed = appended;
    EXPECT_FALSE(log->HasPendingData());
    EXPECT_EQ(reader.Ok("count " + std::to_string(m.ID)), std::to_string(committed));
  }
  // And the other way round: the worker records, this process reads.
  const std::string other = reader.Ok("measure 1 2");
  const int otherId = std::stoi(other);
  const std::string progress = docs_.Path() + "/progress";
  reader.Ok("append " + std::to_string(otherId) + " 25 " + progress);
  EXPECT_EQ(reader.Ok("count " + std::to_string(otherId)), "25");
  TRun run;
  EXPECT_EQ(
      log->GetDataSet(run, TMeassurement(1, 2, otherId), 0, {}, 5, 5)->PowerData().Values().Count(),
      25u);
}

int ReadProgress(const std::string& path) {
  std::ifstream in(path);
  int n = 0;
  in >> n;
  return n;
}

TEST_F(ProcessTest, KilledRecorderLeavesEveryReportedRowAndAFileThatOpens) {
  int id = 0;
  {
    auto log = OpenLog();
    TMeassurement m(1, 1);
    log->AddMeassurement(m);
    id = m.ID;
  }
  const std::string progress = docs_.Path() + "/progress";
  int reported = 0;
  {
    WorkerProcess recorder(RVX_LOG_WORKER);
    recorder.Ok("open");
    recorder.Ok("append " + std::to_string(id) + " 10000 " + progress + " 1");
    // Wait (real time: the child syncs, a group every quarter second) until
    // it has committed a few hundred.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ReadProgress(progress) < 300 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    recorder.Kill();
    reported = ReadProgress(progress);
  }
  ASSERT_GE(reported, 300);
  ASSERT_LT(reported, 10000) << "the recorder finished before it was killed";
  auto log = OpenLog();
  TRun run;
  auto set = log->GetDataSet(run, TMeassurement(1, 1, id), 0, {}, 5, 5);
  const auto values = set->PowerData().Values();
  // Every row of a committed group is there, in order; of the group in
  // flight, all or nothing.
  ASSERT_GE(values.Count(), static_cast<std::size_t>(reported));
  for (std::size_t i = 0; i < values.Count(); ++i) {
    ASSERT_EQ(values[i]->Value(), static_cast<double>(i)) << i;
    ASSERT_EQ(set->TorqueData().Values()[i]->Value(), 2.0 * static_cast<double>(i)) << i;
  }
  // The file takes new rows afterwards.
  AppendReading(*log, TMeassurement(1, 1, id), static_cast<int>(values.Count()));
  EXPECT_EQ(
      log->GetDataSet(run, TMeassurement(1, 1, id), 0, {}, 5, 5)->PowerData().Values().Count(),
      values.Count() + 1);
}

}  // namespace
}  // namespace rvx::test

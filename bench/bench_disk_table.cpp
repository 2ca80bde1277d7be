// The disk table end to end through the test cursor, on the log's Data table
// (ID AutoInc, MeasurementID, Time, Power, Speed, Torque, IsError; index on
// MeasurementID, Time) in a file in $TMPDIR (default /tmp), 4096-byte pages,
// durability off (no syncs).
// Append/0, Append/1: rows posted one by one, each committed as the
// application posts them; 0 = single-user, 1 = multi-user (locks and the
// most-updated reload per post).
// AppendTwoProcesses: two processes (this one and a forked child) append
// kTwoProcessRows rows each to one multi-user file at the same time; the
// rows per second are both processes' rows over the wall time.
// FullScan/0|1 and IndexedRead/0|1 over a table of 1,000,000 rows, 28
// measurements of about 36,000 consecutive readings each: every row in
// storage order, and the readings of one measurement through the index;
// 0 = single-user, 1 = multi-user.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench/BenchDiskFiles.h"
#include "tests/dbengine/storage/DiskTableTestSupport.h"

namespace {

using namespace vez;
using test::MakeDataRow;
using test::TDiskTableEnv;
using test::TTestLocalCursor;

constexpr std::int32_t kRowsPerIteration = 1000;
constexpr std::int32_t kTwoProcessRows = 20000;
constexpr std::int32_t kBigTableRows = 1000000;
constexpr std::int32_t kRowsPerMeasurement = 35715;

std::string TempPath(const std::string& name) {
  return bench::BenchFilePath("bench_disk_table", name);
}

void CreateDataFile(const std::string& path) {
  std::remove(path.c_str());
  TDiskTableEnv env(path, true, true);
  env.CreateDataTable();
}

void BM_Append(benchmark::State& state) {
  const bool multi_user = state.range(0) != 0;
  const std::string path = TempPath("append");
  CreateDataFile(path);
  {
    TDiskTableEnv env(path, false, multi_user);
    TTestLocalCursor& c = env.Open();
    std::int32_t n = 0;
    for (auto _ : state) {
      for (std::int32_t i = 0; i < kRowsPerIteration; ++i, ++n) {
        if (TDiskTableEnv::Append(c, MakeDataRow(1 + n / kRowsPerMeasurement, n)) <= 0)
          state.SkipWithError("append refused");
      }
    }
    state.SetItemsProcessed(state.iterations() * kRowsPerIteration);
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_Append)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Appends rows of measurement m in a process of its own; waits for a byte on
// start_fd first.
void AppendInThisProcess(const std::string& path, double m, int start_fd) {
  TDiskTableEnv env(path, false, true);
  TTestLocalCursor& c = env.Open();
  char go = 0;
  if (start_fd >= 0 && read(start_fd, &go, 1) != 1) std::_Exit(3);
  for (std::int32_t i = 0; i < kTwoProcessRows; ++i)
    if (TDiskTableEnv::Append(c, MakeDataRow(m, i)) <= 0) std::_Exit(4);
}

void BM_AppendTwoProcesses(benchmark::State& state) {
  const std::string path = TempPath("two");
  for (auto _ : state) {
    state.PauseTiming();
    CreateDataFile(path);
    int go[2];
    if (pipe(go) != 0) state.SkipWithError("pipe");
    const pid_t child = fork();
    if (child == 0) {
      close(go[1]);
      AppendInThisProcess(path, 2, go[0]);
      std::_Exit(0);
    }
    close(go[0]);
    {
      TDiskTableEnv env(path, false, true);
      TTestLocalCursor& c = env.Open();
      // The child has had time to open the file; both start now.
      usleep(200000);
      state.ResumeTiming();
      if (write(go[1], "g", 1) != 1) state.SkipWithError("start");
      for (std::int32_t i = 0; i < kTwoProcessRows; ++i)
        if (TDiskTableEnv::Append(c, MakeDataRow(1, i)) <= 0) state.SkipWithError("append");
      int status = 0;
      waitpid(child, &status, 0);
      state.PauseTiming();
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("child failed");
      if (TDiskTableEnv::ReadAll(c).size() != 2u * kTwoProcessRows)
        state.SkipWithError("rows lost");
    }
    close(go[1]);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * 2 * kTwoProcessRows);
  std::remove(path.c_str());
}
BENCHMARK(BM_AppendTwoProcesses)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// The 1,000,000-row table, built once (in batches of 10,000 posts per
// commit) and removed at exit.
const std::string& BigTable() {
  static const std::string path = [] {
    const std::string p = TempPath("big");
    CreateDataFile(p);
    TDiskTableEnv env(p, false, false);
    TTestLocalCursor& c = env.Open();
    c.InBatchUpdate = true;
    for (std::int32_t n = 0; n < kBigTableRows; ++n) {
      TDiskTableEnv::Append(c, MakeDataRow(1 + n / kRowsPerMeasurement, n));
      if ((n + 1) % 10000 == 0) c.table_data->ApplyChanges(env.Session().SessionID, false);
    }
    c.table_data->ApplyChanges(env.Session().SessionID, false);
    std::atexit([] { std::remove(TempPath("big").c_str()); });
    return p;
  }();
  return path;
}

void BM_FullScan(benchmark::State& state) {
  const std::string& path = BigTable();
  TDiskTableEnv env(path, false, state.range(0) != 0);
  TTestLocalCursor& c = env.Open();
  std::size_t rows = 0;
  for (auto _ : state) {
    c.IndexID = -1;
    c.FirstPosition = true;
    c.LastPosition = false;
    rows = 0;
    while (c.GetRecordBuffer(grmNext) == grrOK)
      ++rows;
  }
  if (rows != static_cast<std::size_t>(kBigTableRows)) state.SkipWithError("rows lost");
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(rows));
}
BENCHMARK(BM_FullScan)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_IndexedRead(benchmark::State& state) {
  const std::string& path = BigTable();
  TDiskTableEnv env(path, false, state.range(0) != 0);
  TTestLocalCursor& c = env.Open();
  const double wanted = 14;
  c.IndexID = TDiskTableEnv::IndexID(c, test::kDataIndexName);
  c.KeyBuffer = c.AllocateKeyRecordBuffer();
  c.InternalInitKeyBuffer(c.KeyBuffer);
  SetRecordFieldData(test::kDataMeasurement, c.FieldDefs(), &wanted, c.KeyBuffer);
  c.KeyFieldCount = 1;
  std::size_t rows = 0;
  for (auto _ : state) {
    rows = 0;
    if (!c.FindKey(scEqual)) state.SkipWithError("not found");
    for (TVEZGetRecordMode mode = grmCurrent; c.GetRecordBuffer(mode) == grrOK; mode = grmNext) {
      if (test::ReadDataRecord(c).measurement != wanted) break;
      ++rows;
    }
  }
  if (rows != static_cast<std::size_t>(kRowsPerMeasurement)) state.SkipWithError("rows lost");
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(rows));
  c.FreeRecordBuffer(c.KeyBuffer);
}
BENCHMARK(BM_IndexedRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

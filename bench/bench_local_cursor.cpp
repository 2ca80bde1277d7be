// The shipped local cursor beside the storage tests' cursor, in one run, on
// the log's Data table (ID AutoInc, MeasurementID, Time, Power, Speed,
// Torque, IsError; index on MeasurementID, Time) in a file in $TMPDIR
// (default /tmp), 4096-byte pages. The difference is the cursor's own cost:
// its lock protocol, the re-read checks and the record layout.
// Append/<cursor>/<multi-user>/<durability>: rows posted one by one outside
// a transaction, each applied as the application posts them; cursor 0 = the
// test cursor, 1 = the local cursor; multi-user 0/1; durability 0 = off,
// 1 = normal (journal, no syncs).
// FullWalk/<cursor>: every row of a 1,000,000-row table in storage order,
// single-user.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench/BenchDiskFiles.h"
#include "dbengine/api/VEZLocalCursor.h"
#include "dbengine/api/VEZLocalSession.h"
#include "tests/dbengine/storage/DiskTableTestSupport.h"

namespace {

using namespace vez;
using test::MakeDataRow;
using test::TDataRow;
using test::TDiskTableEnv;
using test::TTestLocalCursor;

constexpr std::int32_t kRowsPerIteration = 1000;
constexpr std::int32_t kBigTableRows = 1000000;
constexpr std::int32_t kRowsPerMeasurement = 35715;

std::string TempPath(const std::string& name) {
  return bench::BenchFilePath("bench_local_cursor", name);
}

void CreateDataFile(const std::string& path) {
  std::remove(path.c_str());
  TDiskTableEnv env(path, true, true);
  env.CreateDataTable();
}

TVEZDurability DurabilityOf(std::int64_t arg) {
  return arg != 0 ? TVEZDurability::Normal : TVEZDurability::Off;
}

// The local cursor on the Data table of a file, through a session of its own.
class TLocalEnv {
 public:
  TLocalEnv(const std::string& path, bool multi_user, TVEZDurability durability) {
    session_.DatabaseName = "Bench";
    session_.DatabaseFileName = path;
    session_.MultiUser = multi_user;
    session_.Durability = durability;
    session_.SetConnected(true);
    cursor_ = std::make_unique<TVEZLocalCursor>();
    cursor_->Session = &session_;
    cursor_->TableName = "Data";
    TVEZFieldDefs fields;
    TVEZIndexDefs indexes;
    TVEZConstraintDefs constraints;
    cursor_->OpenTableByFieldDefs(fields, indexes, constraints);
    buffer_ = cursor_->AllocateRecordBuffer();
    cursor_->CurrentRecordBuffer = buffer_;
  }
  ~TLocalEnv() {
    cursor_->CurrentRecordBuffer = nullptr;
    cursor_->FreeRecordBuffer(buffer_);
    cursor_.reset();
    session_.DisconnectQuietly();
  }
  TLocalEnv(const TLocalEnv&) = delete;
  TLocalEnv& operator=(const TLocalEnv&) = delete;

  TVEZLocalCursor& Cursor() { return *cursor_; }

  // Posts row as the dataset does; false when refused.
  bool Append(const TDataRow& row) {
    TVEZLocalCursor& c = *cursor_;
    c.InternalInitRecord(buffer_, true);
    const TVEZFieldDefs& defs = c.FieldDefs();
    SetRecordFieldData(test::kDataMeasurement, defs, &row.measurement, buffer_);
    std::uint8_t time[8];
    PutLE<std::int32_t>(time, row.day);
    PutLE<std::int32_t>(time + 4, row.ms);
    SetRecordFieldData(test::kDataTime, defs, time, buffer_);
    SetRecordFieldData(test::kDataPower, defs, &row.power, buffer_);
    SetRecordFieldData(test::kDataSpeed, defs, &row.speed, buffer_);
    SetRecordFieldData(test::kDataTorque, defs, &row.torque, buffer_);
    const std::int16_t flag = row.is_error ? 1 : 0;
    SetRecordFieldData(test::kDataIsError, defs, &flag, buffer_);
    c.InternalInsert();
    c.InternalPost(true);
    return c.ErrorCode == cecOK;
  }

 private:
  TVEZLocalSession session_;
  std::unique_ptr<TVEZLocalCursor> cursor_;
  std::uint8_t* buffer_ = nullptr;
};

void BM_Append(benchmark::State& state) {
  const bool local = state.range(0) != 0;
  const bool multi_user = state.range(1) != 0;
  const TVEZDurability durability = DurabilityOf(state.range(2));
  const std::string path = TempPath("append");
  CreateDataFile(path);
  {
    std::unique_ptr<TDiskTableEnv> test_env;
    std::unique_ptr<TLocalEnv> local_env;
    TTestLocalCursor* test_cursor = nullptr;
    if (local) {
      local_env = std::make_unique<TLocalEnv>(path, multi_user, durability);
    } else {
      test_env = std::make_unique<TDiskTableEnv>(path, false, multi_user, durability);
      test_cursor = &test_env->Open();
    }
    std::int32_t n = 0;
    for (auto _ : state) {
      for (std::int32_t i = 0; i < kRowsPerIteration; ++i, ++n) {
        const TDataRow row = MakeDataRow(1 + n / kRowsPerMeasurement, n);
        const bool ok =
            local ? local_env->Append(row) : TDiskTableEnv::Append(*test_cursor, row) > 0;
        if (!ok) state.SkipWithError("append refused");
      }
    }
    state.SetItemsProcessed(state.iterations() * kRowsPerIteration);
  }
  std::remove(path.c_str());
  std::remove((path + "-journal").c_str());
}
BENCHMARK(BM_Append)
    ->ArgNames({"local", "multi", "durability"})
    ->ArgsProduct({{0, 1}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

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
    std::atexit([] {
      std::remove(TempPath("big").c_str());
      std::remove((TempPath("big") + "-journal").c_str());
    });
    return p;
  }();
  return path;
}

void BM_FullWalk(benchmark::State& state) {
  const bool local = state.range(0) != 0;
  const std::string& path = BigTable();
  std::unique_ptr<TDiskTableEnv> test_env;
  std::unique_ptr<TLocalEnv> local_env;
  TVEZCursor* c = nullptr;
  if (local) {
    local_env = std::make_unique<TLocalEnv>(path, false, TVEZDurability::Off);
    c = &local_env->Cursor();
  } else {
    test_env = std::make_unique<TDiskTableEnv>(path, false, false);
    c = &test_env->Open();
  }
  std::size_t rows = 0;
  for (auto _ : state) {
    c->IndexID = -1;
    c->InternalFirst();
    rows = 0;
    while (c->GetRecordBuffer(grmNext) == grrOK)
      ++rows;
  }
  if (rows != static_cast<std::size_t>(kBigTableRows)) state.SkipWithError("rows lost");
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(rows));
}
BENCHMARK(BM_FullWalk)->ArgName("local")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

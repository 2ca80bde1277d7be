// The log database adapter on a real file, beside SQLite 3 in the same run.
// Files live under a documents folder in $TMPDIR (default /tmp).
//
// BM_GetDataSet/900k: GetDataSet of one measurement of 900,000 readings (a
// 25-hour run of one shaft at 10 Hz) among 1,800,000 rows (two shafts,
// interleaved), into a TShaftDataSet with moving averages, 100 progress
// steps. BM_SQLiteGetDataSet/900k: the same rows through SELECT over the
// (MeasurementID, Time) index, ORDER BY Time, ID, into the same data set.
//
// BM_AddDataToDb/<durability>: one AddDataToDb (one commit) per iteration,
// wall-clock time (syncs wait for the disk); the CPU column is the process's
// CPU time per append. BM_SQLiteAddData/<mode>: one INSERT per commit (full
// = rollback journal with synchronous FULL, normal = WAL with synchronous
// NORMAL).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/storage/DMSystem.h"
#include "bench/BenchDiskFiles.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZSessionList.h"
#include "platform/core/DateTime.h"

namespace {

using rvx::TDataValue;
using rvx::TDM_System;
using rvx::TMeassurement;
using rvx::TRun;
using vez::TVEZDurability;

constexpr int kReadings = 900000;
constexpr double kStart = 42700.5;
constexpr double kTenthSecond = 1.0 / 864000.0;

class SilentBox : public rvx::MessageBox {
 public:
  void ShowError(const std::string&) override {}
  bool Confirm(const std::string&) override { return false; }
};

// A documents folder of its own for the life of the object.
class BenchDocuments {
 public:
  explicit BenchDocuments(const std::string& name) {
    path_ = vez::bench::BenchFilePath("bench_log_database", name) + ".docs";
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
    setenv("RVX_DOCUMENTS", path_.c_str(), 1);
  }
  ~BenchDocuments() {
    vez::FinalizeSessionLayer();
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

struct Reading {
  double power, speed, torque;
};
Reading MakeReading(std::int64_t i) {
  return {8000.0 + static_cast<double>(i % 97), 100.0 + static_cast<double>(i % 13) * 0.1,
          760.0 + static_cast<double>(i % 31)};
}

void Append(TDM_System& log, const TMeassurement& m, std::int64_t i) {
  const Reading r = MakeReading(i);
  const double t = kStart + static_cast<double>(i) * kTenthSecond;
  const TDataValue power(t, r.power, false);
  const TDataValue torque(t, r.torque, false);
  const TDataValue speed(t, r.speed, i % 1000 == 0);
  log.AddDataToDb(m, &power, &torque, &speed);
}

// ---------------------------------------------------------------------------
// Read-back

void BM_GetDataSet(benchmark::State& state) {
  BenchDocuments docs("readback");
  SilentBox box;
  auto log = std::make_unique<TDM_System>("RVX_Log.vez", box, TVEZDurability::Off);
  TMeassurement m1(1, 1), m2(1, 2);
  log->AddMeassurement(m1);
  log->AddMeassurement(m2);
  vez::TVEZDatabase& db = log->Database();
  db.Open();
  for (std::int64_t i = 0; i < kReadings; ++i) {
    if (i % 50000 == 0) db.StartTransaction();
    Append(*log, m1, i);
    Append(*log, m2, i);
    if (i % 50000 == 49999 || i == kReadings - 1) db.Commit();
  }
  TRun run;
  run.ID = 1;
  run.StartTime = kStart;
  run.StopTime = kStart + kReadings * kTenthSecond;
  std::int64_t rows = 0;
  for (auto _ : state) {
    int steps = 0;
    auto set = log->GetDataSet(
        run, m1, 100, [&] { ++steps; }, 5, 5);
    const auto n = set->PowerData().Values().Count();
    if (n != static_cast<std::size_t>(kReadings) || steps != 100)
      state.SkipWithError("wrong read-back");
    rows += static_cast<std::int64_t>(n);
  }
  state.SetItemsProcessed(rows);
  log.reset();
}
BENCHMARK(BM_GetDataSet)->Name("BM_GetDataSet/900k")->Unit(benchmark::kMillisecond)->Iterations(3);

class SqliteFile {
 public:
  SqliteFile(const std::string& name, const std::string& pragmas)
      : path_(vez::bench::BenchFilePath("bench_log_database", name) + ".sqlite") {
    Remove();
    if (sqlite3_open(path_.c_str(), &db_) != SQLITE_OK) Fail("open");
    Exec("PRAGMA page_size=4096; PRAGMA cache_size=-4000; " + pragmas);
    Exec(
        "CREATE TABLE Data (ID INTEGER PRIMARY KEY, MeasurementID REAL, Time REAL, Power REAL, "
        "Speed REAL, Torque REAL, IsError INTEGER);"
        "CREATE INDEX \"Primary\" ON Data (MeasurementID, Time);");
    insert_ = Prepare(
        "INSERT INTO Data (MeasurementID, Time, Power, Speed, Torque, IsError) "
        "VALUES (?, ?, ?, ?, ?, ?)");
  }
  ~SqliteFile() {
    sqlite3_finalize(insert_);
    sqlite3_close(db_);
    Remove();
  }
  void Exec(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
  }
  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) Fail(sql);
    return s;
  }
  void Insert(int measurement, std::int64_t i) {
    const Reading r = MakeReading(i);
    sqlite3_bind_double(insert_, 1, measurement);
    sqlite3_bind_double(insert_, 2, kStart + static_cast<double>(i) * kTenthSecond);
    sqlite3_bind_double(insert_, 3, r.power);
    sqlite3_bind_double(insert_, 4, r.speed);
    sqlite3_bind_double(insert_, 5, r.torque);
    sqlite3_bind_int(insert_, 6, i % 1000 == 0 ? 1 : 0);
    if (sqlite3_step(insert_) != SQLITE_DONE) Fail("insert");
    sqlite3_reset(insert_);
  }

 private:
  void Remove() {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
      unlink((path_ + suffix).c_str());
  }
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("sqlite: " + what + ": " + sqlite3_errmsg(db_));
  }
  std::string path_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
};

void BM_SQLiteGetDataSet(benchmark::State& state) {
  SqliteFile file("readback", "PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF;");
  file.Exec("BEGIN");
  for (std::int64_t i = 0; i < kReadings; ++i) {
    file.Insert(1, i);
    file.Insert(2, i);
  }
  file.Exec("COMMIT");
  sqlite3_stmt* select = file.Prepare(
      "SELECT Time, Power, Speed, Torque, IsError FROM Data WHERE MeasurementID = ? "
      "ORDER BY Time, ID");
  std::int64_t rows = 0;
  for (auto _ : state) {
    auto set = std::make_unique<rvx::TShaftDataSet>(5, 5);
    sqlite3_bind_double(select, 1, 1);
    std::uint32_t ordinal = 0;
    while (sqlite3_step(select) == SQLITE_ROW) {
      const double t = sqlite3_column_double(select, 0);
      const bool error = sqlite3_column_int(select, 4) != 0;
      if (sqlite3_column_type(select, 1) != SQLITE_NULL)
        set->AddPower(t, sqlite3_column_double(select, 1), error, ordinal);
      if (sqlite3_column_type(select, 3) != SQLITE_NULL)
        set->AddTorque(t, sqlite3_column_double(select, 3), error, ordinal);
      if (sqlite3_column_type(select, 2) != SQLITE_NULL)
        set->AddSpeed(t, sqlite3_column_double(select, 2), error, ordinal);
      ++ordinal;
    }
    sqlite3_reset(select);
    if (ordinal != static_cast<std::uint32_t>(kReadings)) state.SkipWithError("wrong row count");
    rows += ordinal;
  }
  sqlite3_finalize(select);
  state.SetItemsProcessed(rows);
}
BENCHMARK(BM_SQLiteGetDataSet)
    ->Name("BM_SQLiteGetDataSet/900k")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// ---------------------------------------------------------------------------
// Appends

void BM_AddDataToDb(benchmark::State& state, TVEZDurability durability, const char* tag) {
  BenchDocuments docs(std::string("append.") + tag);
  SilentBox box;
  auto log = std::make_unique<TDM_System>("RVX_Log.vez", box, durability);
  TMeassurement m(1, 1);
  log->AddMeassurement(m);
  std::int64_t i = 0;
  for (auto _ : state)
    Append(*log, m, i++);
  state.SetItemsProcessed(state.iterations());
  log.reset();
}
BENCHMARK_CAPTURE(BM_AddDataToDb, full, TVEZDurability::Full, "full")
    ->MinTime(2.0)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_AddDataToDb, normal, TVEZDurability::Normal, "normal")
    ->MinTime(2.0)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

void BM_SQLiteAddData(benchmark::State& state, const char* pragmas, const char* tag) {
  SqliteFile file(std::string("append.") + tag, pragmas);
  std::int64_t i = 0;
  for (auto _ : state)
    file.Insert(1, i++);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_SQLiteAddData, full, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;",
                  "full")
    ->MinTime(2.0)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SQLiteAddData, normal, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;",
                  "normal")
    ->MinTime(2.0)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

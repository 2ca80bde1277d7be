// Single-table SELECT through the query component on a disk database, beside
// SQLite 3 in the same run. 1,000,000 Data rows (two shafts at 10 Hz, one
// hour per measurement, 36,000 rows each; Power = 5000 + i mod 97) with the
// (MeasurementID, Time) index, in $TMPDIR (4096-byte pages, durability off
// for the load). Each iteration opens the query, reads every row's values to
// the end through the fields and closes it; items are rows delivered.
//
//   BM_SelectWhereVEZ/live         SELECT * FROM Data WHERE MeasurementID = 12
//                                  with RequestLive (the table operator)
//   BM_SelectWhereVEZ/readonly     the same, not live (copied into a result
//                                  table)
//   BM_SelectWhereVEZ/live_desc    ... ORDER BY Time DESC, live
//   BM_SelectWhereVEZ/readonly_desc  ... ORDER BY Time DESC, not live
//   BM_SelectWhereVEZ/scan         WHERE [Power] = 5010 (unindexed; 10,310 rows),
//                                  live
//   BM_SelectWhereSQLite/index, /index_desc, /scan: the same statements,
//                                  every row stepped and its values read
//
// The counter temp_bytes is what the process wrote per iteration (the
// kernel's wchar), i.e. the temporary result table's bytes for a non-live
// query.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchDiskFiles.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZQuery.h"
#include "dbengine/api/VEZSessionList.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/sql/VEZSQLEngine.h"
#include "dbengine/storage/VEZDurability.h"
#include "platform/core/DateTime.h"

namespace {

using platform::Variant;

constexpr int kReadingsPerMeasurement = 36000;
constexpr int kRows = 1000000;
constexpr const char* kWhereIndexed = "SELECT * FROM Data WHERE MeasurementID = 12";
constexpr const char* kWhereIndexedDesc =
    "SELECT * FROM Data WHERE MeasurementID = 12 ORDER BY Time DESC";
constexpr const char* kWhereScan = "SELECT * FROM Data WHERE [Power] = 5010";
constexpr const char* kWhereScanSQLite = "SELECT * FROM Data WHERE Power = 5010";
constexpr int kScanRows = kRows / 97 + 1;

void RemoveDatabaseFiles(const std::string& path) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"})
    unlink((path + suffix).c_str());
}

struct Reading {
  double measurement;
  double time;
  double power;
};
Reading MakeReading(std::int64_t i) {
  const std::int64_t pair = i / (2 * kReadingsPerMeasurement);
  const double t0 = platform::EncodeDateTime(2016, 9, 20, 12, 0, 0, 0);
  return {static_cast<double>(pair * 2 + i % 2 + 1), t0 + static_cast<double>(i / 2) / 864000.0,
          5000.0 + static_cast<double>(i % 97)};
}

std::int64_t WrittenBytes() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::int64_t value = 0;
  while (io >> key >> value)
    if (key == "wchar:") return value;
  return 0;
}

class VezFile {
 public:
  VezFile() : path_(vez::bench::BenchFilePath("bench_select", "")) {
    vez::RegisterSQLEngine();
    RemoveDatabaseFiles(path_);
    db_ = std::make_unique<vez::TVEZDatabase>();
    db_->SetDatabaseName("RVX_Database");
    db_->SetDatabaseFileName(path_);
    db_->SetDurability(vez::TVEZDurability::Off);
    db_->CreateDatabase();
    db_->Open();
    vez::TVEZTable t;
    t.SetDatabaseName("RVX_Database");
    t.SetTableName("Data");
    t.FieldDefs().Add("ID", platform::ftAutoInc, 0, true);
    t.FieldDefs().Add("MeasurementID", platform::ftFloat);
    t.FieldDefs().Add("Time", platform::ftDateTime);
    t.FieldDefs().Add("Power", platform::ftFloat);
    t.FieldDefs().Add("Speed", platform::ftFloat);
    t.FieldDefs().Add("Torque", platform::ftFloat);
    t.FieldDefs().Add("IsError", platform::ftBoolean);
    t.IndexDefs().Add("Primary", "MeasurementID;Time", 0);
    t.CreateTable();
    t.Open();
    for (int i = 0; i < kRows; ++i) {
      if (i % 50000 == 0) db_->StartTransaction();
      const Reading r = MakeReading(i);
      t.AppendRecord({Variant(), Variant::FromDouble(r.measurement), Variant::FromDate(r.time),
                      Variant::FromDouble(r.power), Variant::FromDouble(88.1),
                      Variant::FromDouble(140.25), Variant::FromBoolean(false)});
      if (i % 50000 == 49999) db_->Commit();
    }
    t.Close();
  }
  ~VezFile() {
    db_.reset();
    vez::FinalizeSessionLayer();
    RemoveDatabaseFiles(path_);
  }

 private:
  std::string path_;
  std::unique_ptr<vez::TVEZDatabase> db_;
};

VezFile& Vez() {
  static VezFile file;
  return file;
}

class SqliteFile {
 public:
  SqliteFile() : path_(vez::bench::BenchFilePath("bench_select", "") + ".sqlite") {
    RemoveDatabaseFiles(path_);
    if (sqlite3_open(path_.c_str(), &db_) != SQLITE_OK) Fail("open");
    Exec("PRAGMA page_size=4096; PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF;");
    Exec(
        "CREATE TABLE Data (ID INTEGER PRIMARY KEY, MeasurementID REAL, Time REAL, Power REAL, "
        "Speed REAL, Torque REAL, IsError INTEGER);"
        "CREATE INDEX \"Primary\" ON Data (MeasurementID, Time);");
    sqlite3_stmt* insert = Prepare(
        "INSERT INTO Data (MeasurementID, Time, Power, Speed, Torque, IsError) "
        "VALUES (?, ?, ?, 88.1, 140.25, 0)");
    Exec("BEGIN");
    for (int i = 0; i < kRows; ++i) {
      const Reading r = MakeReading(i);
      sqlite3_bind_double(insert, 1, r.measurement);
      sqlite3_bind_double(insert, 2, r.time);
      sqlite3_bind_double(insert, 3, r.power);
      if (sqlite3_step(insert) != SQLITE_DONE) Fail("insert");
      sqlite3_reset(insert);
    }
    Exec("COMMIT");
    sqlite3_finalize(insert);
  }
  ~SqliteFile() {
    sqlite3_close(db_);
    RemoveDatabaseFiles(path_);
  }
  void Exec(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
  }
  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) Fail(sql);
    return s;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("sqlite: " + what + ": " + sqlite3_errmsg(db_));
  }
  std::string path_;
  sqlite3* db_ = nullptr;
};

SqliteFile& Sqlite() {
  static SqliteFile file;
  return file;
}

void BM_SelectWhereVEZ(benchmark::State& state, const char* sql, bool live, int expected) {
  Vez();
  std::int64_t rows = 0;
  std::int64_t written = 0;
  for (auto _ : state) {
    const std::int64_t before = WrittenBytes();
    vez::TVEZQuery query;
    query.SetDatabaseName("RVX_Database");
    query.SetRequestLive(live);
    query.SetSQL(sql);
    query.Open();
    platform::Field& time = query.FieldByName("Time");
    platform::Field& power = query.FieldByName("Power");
    platform::Field& speed = query.FieldByName("Speed");
    platform::Field& torque = query.FieldByName("Torque");
    platform::Field& error = query.FieldByName("IsError");
    std::int64_t n = 0;
    for (query.First(); !query.Eof(); query.Next()) {
      benchmark::DoNotOptimize(time.AsFloat() + power.AsFloat() + speed.AsFloat() +
                               torque.AsFloat() + (error.AsBoolean() ? 1 : 0));
      ++n;
    }
    query.Close();
    written += WrittenBytes() - before;
    if (n != expected) state.SkipWithError("wrong row count");
    rows += n;
  }
  state.SetItemsProcessed(rows);
  state.counters["temp_bytes"] =
      benchmark::Counter(static_cast<double>(written), benchmark::Counter::kAvgIterations);
}
BENCHMARK_CAPTURE(BM_SelectWhereVEZ, live, kWhereIndexed, true, kReadingsPerMeasurement)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SelectWhereVEZ, readonly, kWhereIndexed, false, kReadingsPerMeasurement)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SelectWhereVEZ, live_desc, kWhereIndexedDesc, true, kReadingsPerMeasurement)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SelectWhereVEZ, readonly_desc, kWhereIndexedDesc, false,
                  kReadingsPerMeasurement)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SelectWhereVEZ, scan, kWhereScan, true, kScanRows)
    ->Unit(benchmark::kMillisecond);

void BM_SelectWhereSQLite(benchmark::State& state, const char* sql, int expected) {
  SqliteFile& file = Sqlite();
  sqlite3_stmt* select = file.Prepare(sql);
  std::int64_t rows = 0;
  for (auto _ : state) {
    std::int64_t n = 0;
    while (sqlite3_step(select) == SQLITE_ROW) {
      double sum = 0;
      for (int c = 2; c <= 5; ++c)
        sum += sqlite3_column_double(select, c);
      benchmark::DoNotOptimize(sum + sqlite3_column_int(select, 6));
      ++n;
    }
    sqlite3_reset(select);
    if (n != expected) state.SkipWithError("wrong row count");
    rows += n;
  }
  sqlite3_finalize(select);
  state.SetItemsProcessed(rows);
}
BENCHMARK_CAPTURE(BM_SelectWhereSQLite, index, kWhereIndexed, kReadingsPerMeasurement)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SelectWhereSQLite, index_desc, kWhereIndexedDesc, kReadingsPerMeasurement)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SelectWhereSQLite, scan, kWhereScanSQLite, kScanRows)->Unit(benchmark::kMillisecond);

}  // namespace

// The table component as the log database adapter uses it, on a multi-user
// disk file opened under an alias without a kept connection, beside SQLite 3
// in the same run. Files live in $TMPDIR (default /tmp).
//
// BM_TableAppendData/<durability>: AppendRecord of one Data row (ID left to
// the engine) with its (MeasurementID, Time) index, one post (and so one
// commit) per row outside a transaction. BM_SQLiteAppendData/<mode>: the same
// rows and index, one INSERT per commit (normal = WAL with synchronous
// NORMAL, full = rollback journal with synchronous FULL).
//
// Appends are timed by the wall clock (syncs wait for the disk), the rest by
// CPU time; items_per_second is rows per second.
//
// BM_TableFindKeyRuns: FindKey([id]) on Runs (10,000 rows, index "Primary"
// over ID) for random IDs; BM_SQLiteFindRuns the same lookup by rowid.
//
// BM_TableFilterReadBack: every row of one measurement (36,000 of 1,000,000)
// through Filter "MeasurementID=n" with Filtered, as the adapter reads a
// measurement back, each row's values read through the fields.
// BM_SQLiteReadBack: SELECT * WHERE MeasurementID = n over its index.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include "bench/BenchDiskFiles.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZSessionList.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/sql/VEZSQLEngine.h"
#include "dbengine/storage/VEZDurability.h"
#include "platform/core/DateTime.h"

namespace {

using platform::Variant;
using vez::TVEZDatabase;
using vez::TVEZDurability;
using vez::TVEZTable;

constexpr int kReadingsPerMeasurement = 36000;
constexpr int kReadBackRows = 1000000;
constexpr int kRunsRows = 10000;

void RemoveDatabaseFiles(const std::string& path) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"})
    unlink((path + suffix).c_str());
}

// Two shafts at 10 Hz, interleaved; each measurement holds one hour.
struct Reading {
  double measurement;
  double time;
};
Reading MakeReading(std::int64_t i) {
  const std::int64_t pair = i / (2 * kReadingsPerMeasurement);
  const double t0 = platform::EncodeDateTime(2016, 9, 20, 12, 0, 0, 0);
  return {static_cast<double>(pair * 2 + i % 2 + 1), t0 + static_cast<double>(i / 2) / 864000.0};
}

// The log file and its tables, as the adapter opens them.
class LogFile {
 public:
  LogFile(const std::string& name, TVEZDurability durability)
      : path_(vez::bench::BenchFilePath("bench_table", name)) {
    RemoveDatabaseFiles(path_);
    db_ = std::make_unique<TVEZDatabase>();
    db_->SetDatabaseName("RVX_Database");
    db_->SetDatabaseFileName(path_);
    db_->SetMultiUser(true);
    db_->SetKeepConnection(false);
    db_->SetDurability(durability);
    db_->CreateDatabase();
  }
  ~LogFile() {
    tables_.clear();
    db_.reset();
    vez::FinalizeSessionLayer();
    RemoveDatabaseFiles(path_);
  }
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  TVEZDatabase& Db() { return *db_; }

  TVEZTable& Data() {
    TVEZTable& t = NewTable("Data");
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
    return t;
  }

  TVEZTable& Runs() {
    TVEZTable& t = NewTable("Runs");
    t.FieldDefs().Add("ID", platform::ftAutoInc, 0, true);
    t.FieldDefs().Add("TrialID", platform::ftInteger);
    t.FieldDefs().Add("Name", platform::ftString, 30);
    t.FieldDefs().Add("StartTime", platform::ftDateTime);
    t.FieldDefs().Add("StopTime", platform::ftDateTime);
    t.FieldDefs().Add("Comments", platform::ftString, 500);
    t.IndexDefs().Add("Primary", "ID", 0);
    t.CreateTable();
    t.Open();
    t.SetIndexName("Primary");
    return t;
  }

 private:
  TVEZTable& NewTable(const std::string& name) {
    tables_.push_back(std::make_unique<TVEZTable>());
    TVEZTable& t = *tables_.back();
    t.SetDatabaseName("RVX_Database");
    t.SetTableName(name);
    return t;
  }

  std::string path_;
  std::unique_ptr<TVEZDatabase> db_;
  std::vector<std::unique_ptr<TVEZTable>> tables_;
};

void AppendData(TVEZTable& data, std::int64_t i) {
  const Reading r = MakeReading(i);
  data.AppendRecord({Variant(), Variant::FromDouble(r.measurement), Variant::FromDate(r.time),
                     Variant::FromDouble(1234.5), Variant::FromDouble(88.1),
                     Variant::FromDouble(140.25), Variant::FromBoolean(false)});
}

// ---------------------------------------------------------------------------
// SQLite

class SqliteFile {
 public:
  SqliteFile(const std::string& name, const std::string& pragmas)
      : path_(vez::bench::BenchFilePath("bench_table", name) + ".sqlite") {
    RemoveDatabaseFiles(path_);
    if (sqlite3_open(path_.c_str(), &db_) != SQLITE_OK) Fail("open");
    Exec("PRAGMA page_size=4096; PRAGMA cache_size=-4000; " + pragmas);
    Exec(
        "CREATE TABLE Data (ID INTEGER PRIMARY KEY, MeasurementID REAL, Time REAL, Power REAL, "
        "Speed REAL, Torque REAL, IsError INTEGER);"
        "CREATE INDEX \"Primary\" ON Data (MeasurementID, Time);"
        "CREATE TABLE Runs (ID INTEGER PRIMARY KEY, TrialID INTEGER, Name VARCHAR(30), "
        "StartTime REAL, StopTime REAL, Comments VARCHAR(500));");
    insert_ = Prepare(
        "INSERT INTO Data (MeasurementID, Time, Power, Speed, Torque, IsError) "
        "VALUES (?, ?, 1234.5, 88.1, 140.25, 0)");
  }
  ~SqliteFile() {
    sqlite3_finalize(insert_);
    sqlite3_close(db_);
    RemoveDatabaseFiles(path_);
  }
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;

  void Exec(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
  }
  void Insert(std::int64_t i) {
    const Reading r = MakeReading(i);
    sqlite3_bind_double(insert_, 1, r.measurement);
    sqlite3_bind_double(insert_, 2, r.time);
    if (sqlite3_step(insert_) != SQLITE_DONE) Fail("insert");
    sqlite3_reset(insert_);
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
  sqlite3_stmt* insert_ = nullptr;
};

// ---------------------------------------------------------------------------
// Appends

void BM_TableAppendData(benchmark::State& state, TVEZDurability durability, const char* tag) {
  LogFile file(std::string("append.") + tag, durability);
  TVEZTable& data = file.Data();
  std::int64_t i = 0;
  for (auto _ : state)
    AppendData(data, i++);
  state.SetItemsProcessed(state.iterations());
}

void BM_SQLiteAppendData(benchmark::State& state, const char* pragmas, const char* tag) {
  SqliteFile file(std::string("append.") + tag, pragmas);
  std::int64_t i = 0;
  for (auto _ : state)
    file.Insert(i++);
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(BM_TableAppendData, normal, TVEZDurability::Normal, "normal")
    ->MinTime(2.0)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SQLiteAppendData, normal,
                  "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", "normal")
    ->MinTime(2.0)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_TableAppendData, full, TVEZDurability::Full, "full")
    ->MinTime(2.0)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SQLiteAppendData, full, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;",
                  "full")
    ->MinTime(2.0)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------------------
// Key lookups on Runs

void BM_TableFindKeyRuns(benchmark::State& state) {
  LogFile file("runs", TVEZDurability::Off);
  TVEZTable& runs = file.Runs();
  file.Db().Open();
  file.Db().StartTransaction();
  for (int i = 0; i < kRunsRows; ++i)
    runs.AppendRecord({Variant(), Variant::FromInteger(i / 20 + 1),
                       Variant::FromString("run " + std::to_string(i))});
  file.Db().Commit();
  std::mt19937 random(7);
  std::uniform_int_distribution<int> id(1, kRunsRows);
  std::int64_t found = 0;
  for (auto _ : state) {
    found += runs.FindKey({Variant::FromInteger(id(random))}) ? 1 : 0;
    benchmark::DoNotOptimize(runs.FieldByName("Name").AsString());
  }
  if (found != state.iterations()) state.SkipWithError("a lookup missed");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TableFindKeyRuns)->Unit(benchmark::kMicrosecond);

void BM_SQLiteFindRuns(benchmark::State& state) {
  SqliteFile file("runs", "PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF;");
  file.Exec("BEGIN");
  sqlite3_stmt* insert = file.Prepare("INSERT INTO Runs (TrialID, Name) VALUES (?, ?)");
  for (int i = 0; i < kRunsRows; ++i) {
    const std::string name = "run " + std::to_string(i);
    sqlite3_bind_int(insert, 1, i / 20 + 1);
    sqlite3_bind_text(insert, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  file.Exec("COMMIT");
  sqlite3_stmt* select = file.Prepare("SELECT * FROM Runs WHERE ID = ?");
  std::mt19937 random(7);
  std::uniform_int_distribution<int> id(1, kRunsRows);
  for (auto _ : state) {
    sqlite3_bind_int(select, 1, id(random));
    if (sqlite3_step(select) == SQLITE_ROW)
      benchmark::DoNotOptimize(sqlite3_column_text(select, 2));
    sqlite3_reset(select);
  }
  sqlite3_finalize(select);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SQLiteFindRuns)->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------------------
// Read-back of one measurement

void BM_TableFilterReadBack(benchmark::State& state) {
  vez::RegisterSQLEngine();
  LogFile file("readback", TVEZDurability::Off);
  TVEZTable& data = file.Data();
  file.Db().Open();
  for (int i = 0; i < kReadBackRows; ++i) {
    if (i % 50000 == 0) file.Db().StartTransaction();
    AppendData(data, i);
    if (i % 50000 == 49999) file.Db().Commit();
  }
  data.SetFilterText("MeasurementID=7");
  data.SetFiltered(true);
  platform::Field& time = data.FieldByName("Time");
  platform::Field& power = data.FieldByName("Power");
  platform::Field& speed = data.FieldByName("Speed");
  platform::Field& torque = data.FieldByName("Torque");
  platform::Field& error = data.FieldByName("IsError");
  std::int64_t rows = 0;
  for (auto _ : state) {
    std::int64_t n = 0;
    data.First();
    while (!data.Eof()) {
      benchmark::DoNotOptimize(time.AsFloat() + power.AsFloat() + speed.AsFloat() +
                               torque.AsFloat() + (error.AsBoolean() ? 1 : 0));
      ++n;
      data.Next();
    }
    if (n != kReadingsPerMeasurement) state.SkipWithError("wrong row count");
    rows += n;
  }
  state.SetItemsProcessed(rows);
}
BENCHMARK(BM_TableFilterReadBack)->Unit(benchmark::kMillisecond);

void BM_SQLiteReadBack(benchmark::State& state) {
  SqliteFile file("readback", "PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF;");
  file.Exec("BEGIN");
  for (int i = 0; i < kReadBackRows; ++i)
    file.Insert(i);
  file.Exec("COMMIT");
  sqlite3_stmt* select = file.Prepare("SELECT * FROM Data WHERE MeasurementID = ?");
  std::int64_t rows = 0;
  for (auto _ : state) {
    sqlite3_bind_double(select, 1, 7);
    std::int64_t n = 0;
    while (sqlite3_step(select) == SQLITE_ROW) {
      double sum = 0;
      for (int c = 2; c <= 5; ++c)
        sum += sqlite3_column_double(select, c);
      benchmark::DoNotOptimize(sum + sqlite3_column_int(select, 6));
      ++n;
    }
    sqlite3_reset(select);
    if (n != kReadingsPerMeasurement) state.SkipWithError("wrong row count");
    rows += n;
  }
  sqlite3_finalize(select);
  state.SetItemsProcessed(rows);
}
BENCHMARK(BM_SQLiteReadBack)->Unit(benchmark::kMillisecond);

}  // namespace

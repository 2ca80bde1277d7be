// The log's schema upgrade: ALTER TABLE <table> ADD (<column> <type>) run
// through the query component on a disk file (durability full), as the
// application runs it when an older file lacks a column, beside SQLite 3's
// ALTER TABLE ... ADD COLUMN on the same rows in the same run (SQLite
// changes only its schema text, no row).
//
// BM_AlterAddColumnVEZ/Runs/full: Runs with 1,000 rows; /Data/full and
// /Data/normal: Data with 1,000,000 rows (RVX_BENCH_DATA_ROWS overrides the
// count) and its (MeasurementID, Time) index. Each iteration adds a new
// column. Wall-clock time; items_per_second is rows copied per second.
// BM_AlterAddColumnSQLite/Runs and /Data: the same statements on SQLite
// (rollback journal, synchronous FULL).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "bench/BenchDiskFiles.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZQuery.h"
#include "dbengine/api/VEZSessionList.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/sql/VEZSQLEngine.h"
#include "dbengine/storage/VEZDurability.h"

namespace {

using platform::Variant;

constexpr int kRunsRows = 1000;
const int kDataRows = [] {
  const char* rows = std::getenv("RVX_BENCH_DATA_ROWS");
  return rows != nullptr && *rows != '\0' ? std::atoi(rows) : 1000000;
}();
constexpr int kRowsPerCommit = 50000;

void RemoveDatabaseFiles(const std::string& path) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"})
    unlink((path + suffix).c_str());
}

class VEZFile {
 public:
  VEZFile(const std::string& table, int rows, vez::TVEZDurability durability)
      : path_(vez::bench::BenchFilePath("bench_alter", table)) {
    vez::RegisterSQLEngine();
    RemoveDatabaseFiles(path_);
    db_ = std::make_unique<vez::TVEZDatabase>();
    db_->SetDatabaseName("RVX_Database");
    db_->SetDatabaseFileName(path_);
    db_->SetMultiUser(true);
    db_->SetKeepConnection(false);
    db_->SetDurability(durability);
    db_->CreateDatabase();
    vez::TVEZTable t;
    t.SetDatabaseName("RVX_Database");
    t.SetTableName(table);
    t.FieldDefs().Add("ID", platform::ftAutoInc, 0, true);
    if (table == "Runs") {
      t.FieldDefs().Add("TrialID", platform::ftInteger);
      t.FieldDefs().Add("Name", platform::ftString, 30);
      t.FieldDefs().Add("StartTime", platform::ftDateTime);
      t.FieldDefs().Add("StopTime", platform::ftDateTime);
      t.IndexDefs().Add("Primary", "ID", 0);
    } else {
      t.FieldDefs().Add("MeasurementID", platform::ftFloat);
      t.FieldDefs().Add("Time", platform::ftDateTime);
      t.FieldDefs().Add("Power", platform::ftFloat);
      t.FieldDefs().Add("Speed", platform::ftFloat);
      t.FieldDefs().Add("Torque", platform::ftFloat);
      t.FieldDefs().Add("IsError", platform::ftBoolean);
      t.IndexDefs().Add("Primary", "MeasurementID;Time", 0);
    }
    t.CreateTable();
    t.Open();
    // Filled in large transactions: the fill is not what is measured.
    for (int i = 0; i < rows; ++i) {
      if (i % kRowsPerCommit == 0) t.Database()->StartTransaction();
      if (table == "Runs")
        t.AppendRecord({Variant(), Variant::FromInteger(i / 3 + 1),
                        Variant::FromString("run " + std::to_string(i)),
                        Variant::FromDate(45000.0 + i), Variant::FromDate(45000.5 + i)});
      else
        t.AppendRecord({Variant(), Variant::FromDouble(i / 36000 + 1),
                        Variant::FromDate(45000.0 + i / 864000.0), Variant::FromDouble(1234.5),
                        Variant::FromDouble(88.1), Variant::FromDouble(140.25),
                        Variant::FromBoolean(false)});
      if (i % kRowsPerCommit == kRowsPerCommit - 1 || i == rows - 1) t.Database()->Commit();
    }
    t.Close();
  }
  ~VEZFile() {
    db_.reset();
    vez::FinalizeSessionLayer();
    RemoveDatabaseFiles(path_);
  }
  VEZFile(const VEZFile&) = delete;
  VEZFile& operator=(const VEZFile&) = delete;

  void Exec(const std::string& sql) {
    vez::TVEZQuery query;
    query.SetDatabaseName("RVX_Database");
    query.SetSQL(sql);
    query.Prepare();
    query.ExecSQL();
  }

 private:
  std::string path_;
  std::unique_ptr<vez::TVEZDatabase> db_;
};

class SqliteFile {
 public:
  SqliteFile(const std::string& table, int rows)
      : path_(vez::bench::BenchFilePath("bench_alter", table) + ".sqlite") {
    RemoveDatabaseFiles(path_);
    if (sqlite3_open(path_.c_str(), &db_) != SQLITE_OK) Fail("open");
    Exec("PRAGMA page_size=4096; PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;");
    if (table == "Runs")
      Exec(
          "CREATE TABLE Runs (ID INTEGER PRIMARY KEY, TrialID INTEGER, Name VARCHAR(30), "
          "StartTime REAL, StopTime REAL)");
    else
      Exec(
          "CREATE TABLE Data (ID INTEGER PRIMARY KEY, MeasurementID REAL, Time REAL, Power REAL, "
          "Speed REAL, Torque REAL, IsError INTEGER);"
          "CREATE INDEX \"Primary\" ON Data (MeasurementID, Time);");
    Exec("BEGIN");
    const std::string insert =
        table == "Runs" ? "INSERT INTO Runs (TrialID, Name, StartTime, StopTime) VALUES (?, 'run', "
                          "45000.0, 45000.5)"
                        : "INSERT INTO Data (MeasurementID, Time, Power, Speed, Torque, IsError) "
                          "VALUES (?, ?, 1234.5, 88.1, 140.25, 0)";
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, insert.c_str(), -1, &s, nullptr) != SQLITE_OK) Fail(insert);
    for (int i = 0; i < rows; ++i) {
      sqlite3_bind_double(s, 1, i / 36000 + 1);
      if (table != "Runs") sqlite3_bind_double(s, 2, 45000.0 + i / 864000.0);
      if (sqlite3_step(s) != SQLITE_DONE) Fail("insert");
      sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    Exec("COMMIT");
  }
  ~SqliteFile() {
    sqlite3_close(db_);
    RemoveDatabaseFiles(path_);
  }
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;

  void Exec(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("sqlite: " + what + ": " + sqlite3_errmsg(db_));
  }

  std::string path_;
  sqlite3* db_ = nullptr;
};

void BM_AlterAddColumnVEZ(benchmark::State& state, const char* table, int rows,
                          vez::TVEZDurability durability) {
  VEZFile file(table, rows, durability);
  int n = 0;
  for (auto _ : state)
    file.Exec(std::string("ALTER TABLE ") + table + " ADD (Extra" + std::to_string(n++) +
              " VARCHAR(500))");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * rows);
}

void BM_AlterAddColumnSQLite(benchmark::State& state, const char* table, int rows) {
  SqliteFile file(table, rows);
  int n = 0;
  for (auto _ : state)
    file.Exec(std::string("ALTER TABLE ") + table + " ADD COLUMN Extra" + std::to_string(n++) +
              " VARCHAR(500)");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * rows);
}

constexpr auto kFull = vez::TVEZDurability::Full;
constexpr auto kNormal = vez::TVEZDurability::Normal;

BENCHMARK_CAPTURE(BM_AlterAddColumnVEZ, Runs / full, "Runs", kRunsRows, kFull)
    ->UseRealTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_AlterAddColumnSQLite, Runs, "Runs", kRunsRows)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AlterAddColumnVEZ, Data / full, "Data", kDataRows, kFull)
    ->UseRealTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_AlterAddColumnVEZ, Data / normal, "Data", kDataRows, kNormal)
    ->UseRealTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_AlterAddColumnSQLite, Data, "Data", kDataRows)
    ->UseRealTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

// Grouping and a join through the query component on a disk database,
// beside SQLite 3 with the same tables and indexes in the same run. The log's
// database is made by its adapter (durability off for the fill) and filled to
// scale: 900,000 Data readings (25 measurements of 36,000), 1,000 runs (ten
// trials of 100) and 5,000 measurements (five per run). Files live under a
// documents folder in $TMPDIR (default /tmp).
// The counter temp_bytes is what one query wrote to files (the process's
// write count in /proc/self/io): a query writes only its temporary tables and
// indexes.
//
//   BM_GroupByVEZ / BM_GroupBySQLite:
//     SELECT MeasurementID, COUNT(*), AVG(Power), MIN(Power), MAX(Power)
//     FROM Data GROUP BY MeasurementID  (items: input rows, 900,000)
//   BM_JoinVEZ / BM_JoinSQLite:
//     SELECT m.ID, m.ShaftID, r.Name FROM Measurements m JOIN Runs r
//     ON m.RunID = r.ID WHERE r.TrialID = 3  (items: input rows, 6,000)
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/storage/DMSystem.h"
#include "bench/BenchDiskFiles.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZQuery.h"
#include "dbengine/api/VEZSessionList.h"
#include "dbengine/api/VEZTable.h"

namespace {

using rvx::TDataValue;
using rvx::TDM_System;
using rvx::TMeassurement;

constexpr int kMeasurementsWithData = 25;
constexpr int kReadingsPerMeasurement = 36000;
constexpr int kRuns = 1000;
constexpr int kMeasurementsPerRun = 5;
constexpr int kRunsPerTrial = 100;
constexpr double kStart = 42700.5;
constexpr double kTenthSecond = 1.0 / 864000.0;

// Bytes the process has handed to write calls so far.
double WrittenBytes() {
  std::ifstream io("/proc/self/io");
  std::string key;
  double value = 0;
  while (io >> key >> value)
    if (key == "wchar:") return value;
  return 0;
}

const char* kGroupBy =
    "SELECT MeasurementID, COUNT(*), AVG([Power]), MIN([Power]), MAX([Power]) FROM Data GROUP BY "
    "MeasurementID";
const char* kGroupBySQLite =
    "SELECT MeasurementID, COUNT(*), AVG(Power), MIN(Power), MAX(Power) FROM Data GROUP BY "
    "MeasurementID";
const char* kJoin =
    "SELECT m.ID, m.ShaftID, r.Name FROM Measurements m JOIN Runs r ON m.RunID = r.ID WHERE "
    "r.TrialID = 3";

class SilentBox : public rvx::MessageBox {
 public:
  void ShowError(const std::string&) override {}
  bool Confirm(const std::string&) override { return false; }
};

double PowerOf(std::int64_t i) {
  return 8000.0 + static_cast<double>(i % 97);
}

// The log's database, filled once for every benchmark of the run.
class LogFile {
 public:
  LogFile() {
    docs_ = vez::bench::BenchFilePath("bench_query_operators", "log") + ".docs";
    std::filesystem::remove_all(docs_);
    std::filesystem::create_directories(docs_);
    setenv("RVX_DOCUMENTS", docs_.c_str(), 1);
    log_ = std::make_unique<TDM_System>("RVX_Log.vez", box_, vez::TVEZDurability::Off);
    vez::TVEZDatabase& db = log_->Database();
    db.Open();
    db.StartTransaction();
    Fill("Runs", kRuns, [](vez::TVEZTable& t, int i) {
      t.FieldByName("TrialID").SetAsInteger(1 + i / kRunsPerTrial);
      t.FieldByName("Name").SetAsString("Run " + std::to_string(i + 1));
    });
    Fill("Measurements", kRuns * kMeasurementsPerRun, [](vez::TVEZTable& t, int i) {
      t.FieldByName("RunID").SetAsInteger(1 + i / kMeasurementsPerRun);
      t.FieldByName("ShaftID").SetAsInteger(i % kMeasurementsPerRun);
    });
    db.Commit();
    for (int m = 1; m <= kMeasurementsWithData; ++m) {
      TMeassurement measurement(1, 1, m);
      db.StartTransaction();
      for (std::int64_t i = 0; i < kReadingsPerMeasurement; ++i) {
        const double t = kStart + static_cast<double>(i) * kTenthSecond;
        const TDataValue power(t, PowerOf(i), false);
        const TDataValue torque(t, 760.0, false);
        const TDataValue speed(t, 100.0, false);
        log_->AddDataToDb(measurement, &power, &torque, &speed);
      }
      db.Commit();
    }
  }
  ~LogFile() {
    log_.reset();
    vez::FinalizeSessionLayer();
    std::error_code ignored;
    std::filesystem::remove_all(docs_, ignored);
  }

  // Runs sql through a query on the log's database; the result rows read.
  std::int64_t Query(const std::string& sql) {
    vez::TVEZQuery query;
    query.SetDatabaseName("RVX_Database");
    query.SetSQL(sql);
    query.Open();
    std::int64_t rows = 0;
    for (query.First(); !query.Eof(); query.Next()) {
      benchmark::DoNotOptimize(query.Fields(0).AsString());
      ++rows;
    }
    query.Close();
    return rows;
  }

 private:
  template <class F>
  void Fill(const std::string& name, int count, F set) {
    vez::TVEZTable t;
    t.SetDatabaseName("RVX_Database");
    t.SetTableName(name);
    t.Open();
    for (int i = 0; i < count; ++i) {
      t.Append();
      set(t, i);
      t.Post();
    }
    t.Close();
  }

  SilentBox box_;
  std::string docs_;
  std::unique_ptr<TDM_System> log_;
};

LogFile& Log() {
  static LogFile* log = new LogFile();
  return *log;
}

class SqliteFile {
 public:
  SqliteFile() : path_(vez::bench::BenchFilePath("bench_query_operators", "peer") + ".sqlite") {
    unlink(path_.c_str());
    if (sqlite3_open(path_.c_str(), &db_) != SQLITE_OK) Fail("open");
    Exec("PRAGMA page_size=4096; PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF;");
    Exec(
        "CREATE TABLE Runs (ID INTEGER PRIMARY KEY, TrialID INTEGER, Name TEXT, StartTime REAL, "
        "StopTime REAL, Comments TEXT);"
        "CREATE TABLE Measurements (ID INTEGER PRIMARY KEY, RunID INTEGER, ShaftID INTEGER, "
        "AvgPower REAL, AvgSpeed REAL, AvgTorque REAL);"
        "CREATE TABLE Data (ID INTEGER PRIMARY KEY, MeasurementID REAL, Time REAL, Power REAL, "
        "Speed REAL, Torque REAL, IsError INTEGER);"
        "CREATE INDEX \"Primary\" ON Data (MeasurementID, Time);");
    Exec("BEGIN");
    for (int i = 0; i < kRuns; ++i)
      Exec("INSERT INTO Runs (TrialID, Name) VALUES (" + std::to_string(1 + i / kRunsPerTrial) +
           ", 'Run " + std::to_string(i + 1) + "')");
    for (int i = 0; i < kRuns * kMeasurementsPerRun; ++i)
      Exec("INSERT INTO Measurements (RunID, ShaftID) VALUES (" +
           std::to_string(1 + i / kMeasurementsPerRun) + ", " +
           std::to_string(i % kMeasurementsPerRun) + ")");
    sqlite3_stmt* insert = Prepare(
        "INSERT INTO Data (MeasurementID, Time, Power, Speed, Torque, IsError) VALUES (?, ?, ?, "
        "100, 760, 0)");
    for (int m = 1; m <= kMeasurementsWithData; ++m) {
      for (std::int64_t i = 0; i < kReadingsPerMeasurement; ++i) {
        sqlite3_bind_double(insert, 1, m);
        sqlite3_bind_double(insert, 2, kStart + static_cast<double>(i) * kTenthSecond);
        sqlite3_bind_double(insert, 3, PowerOf(i));
        if (sqlite3_step(insert) != SQLITE_DONE) Fail("insert");
        sqlite3_reset(insert);
      }
    }
    sqlite3_finalize(insert);
    Exec("COMMIT");
  }
  ~SqliteFile() {
    sqlite3_close(db_);
    for (const char* suffix : {"", "-wal", "-shm"})
      unlink((path_ + suffix).c_str());
  }
  std::int64_t Query(const std::string& sql) {
    sqlite3_stmt* s = Prepare(sql);
    std::int64_t rows = 0;
    while (sqlite3_step(s) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_text(s, 0));
      ++rows;
    }
    sqlite3_finalize(s);
    return rows;
  }

 private:
  void Exec(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
  }
  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) Fail(sql);
    return s;
  }
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("sqlite: " + what + ": " + sqlite3_errmsg(db_));
  }
  std::string path_;
  sqlite3* db_ = nullptr;
};

SqliteFile& Peer() {
  static SqliteFile* peer = new SqliteFile();
  return *peer;
}

constexpr std::int64_t kGroupInput =
    static_cast<std::int64_t>(kMeasurementsWithData) * kReadingsPerMeasurement;
constexpr std::int64_t kJoinInput = kRuns + kRuns * kMeasurementsPerRun;

void BM_GroupByVEZ(benchmark::State& state) {
  LogFile& log = Log();
  const double written = WrittenBytes();
  for (auto _ : state) {
    if (log.Query(kGroupBy) != kMeasurementsWithData) state.SkipWithError("wrong group count");
  }
  state.SetItemsProcessed(state.iterations() * kGroupInput);
  state.counters["temp_bytes"] =
      (WrittenBytes() - written) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_GroupByVEZ)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_GroupBySQLite(benchmark::State& state) {
  SqliteFile& peer = Peer();
  for (auto _ : state) {
    if (peer.Query(kGroupBySQLite) != kMeasurementsWithData)
      state.SkipWithError("wrong group count");
  }
  state.SetItemsProcessed(state.iterations() * kGroupInput);
}
BENCHMARK(BM_GroupBySQLite)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_JoinVEZ(benchmark::State& state) {
  LogFile& log = Log();
  const double written = WrittenBytes();
  for (auto _ : state) {
    if (log.Query(kJoin) != kRunsPerTrial * kMeasurementsPerRun)
      state.SkipWithError("wrong join count");
  }
  state.SetItemsProcessed(state.iterations() * kJoinInput);
  state.counters["temp_bytes"] =
      (WrittenBytes() - written) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_JoinVEZ)->Unit(benchmark::kMillisecond);

void BM_JoinSQLite(benchmark::State& state) {
  SqliteFile& peer = Peer();
  for (auto _ : state) {
    if (peer.Query(kJoin) != kRunsPerTrial * kMeasurementsPerRun)
      state.SkipWithError("wrong join count");
  }
  state.SetItemsProcessed(state.iterations() * kJoinInput);
}
BENCHMARK(BM_JoinSQLite)->Unit(benchmark::kMillisecond);

}  // namespace

// The data-changing statements on a disk database of the log's Data table
// (1,000,000 readings, index on (MeasurementID, Time), 36,000 readings a
// measurement), beside SQLite 3 with the same rows and index in a file of its
// own, in the same run. Both files live in $TMPDIR, without syncs (SQLite:
// synchronous OFF). Each benchmark runs once; items are rows written.
//   BM_InsertValuesVEZ / SQLite: 20,000 statements INSERT INTO Data VALUES
//     (...), each its own SQL text (parsed afresh), in one transaction
//   BM_UpdateWhereVEZ / SQLite: UPDATE Data SET Power = Power * 2 WHERE
//     MeasurementID = 12 (36,000 rows)
//   BM_DeleteWhereVEZ / SQLite: DELETE FROM Data WHERE MeasurementID = 12
// POWER is a reserved word of the engine's SQL, so its statements delimit
// the name: [Power].
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "bench/BenchDiskFiles.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZQuery.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/sql/VEZSQLEngine.h"
#include "platform/core/Variant.h"
#include "tests/dbengine/api/LogSchemaTestSupport.h"

namespace {

using platform::Variant;
using vez::TVEZDatabase;
using vez::TVEZQuery;
using vez::TVEZTable;

constexpr int kRows = 1000000;
constexpr int kPerMeasurement = 36000;
constexpr int kInserts = 20000;

double TimeOf(int i) {
  return 46174.0 + (8.0 * 3600000 + static_cast<double>((i % kPerMeasurement) * 100)) / 86400000.0;
}

std::string InsertText(int i) {
  return "INSERT INTO Data VALUES (NULL, 900, " + std::to_string(46175.0 + i / 864000.0) + ", " +
         std::to_string(5000 + i % 97) + ", 88.1, 140.25, FALSE)";
}

class VEZData {
 public:
  VEZData() : path_(vez::bench::BenchFilePath("bench_data_change", "vez")) {
    vez::RegisterSQLEngine();
    for (const char* suffix : {"", "-journal"})
      unlink((path_ + suffix).c_str());
    db_ = std::make_unique<TVEZDatabase>();
    db_->SetDatabaseName("Bench");
    db_->SetDatabaseFileName(path_);
    db_->SetSilentMode(true);
    db_->SetDurability(vez::TVEZDurability::Off);
    db_->CreateDatabase();
    TVEZTable t;
    t.SetDatabaseName("Bench");
    vez::test::DeclareLogTable(t, vez::test::LogTableNamed("Data"));
    t.CreateTable();
    db_->Open();
    t.Open();
    for (int i = 0; i < kRows; ++i) {
      if (i % 50000 == 0) db_->StartTransaction();
      t.AppendRecord({Variant(), Variant::FromDouble(1 + i / kPerMeasurement),
                      Variant::FromDate(TimeOf(i)), Variant::FromDouble(5000.0 + i % 97),
                      Variant::FromDouble(88.1), Variant::FromDouble(140.25),
                      Variant::FromBoolean(false)});
      if (i % 50000 == 49999 || i == kRows - 1) db_->Commit();
    }
    t.Close();
  }
  ~VEZData() {
    db_.reset();
    for (const char* suffix : {"", "-journal"})
      unlink((path_ + suffix).c_str());
  }

  std::int64_t Exec(TVEZQuery& query, const std::string& sql) {
    query.SetSQL(sql);
    query.ExecSQL();
    return query.RowsAffected();
  }
  TVEZDatabase& Db() { return *db_; }

 private:
  std::string path_;
  std::unique_ptr<TVEZDatabase> db_;
};

VEZData& Vez() {
  static VEZData* d = new VEZData();
  return *d;
}

class SQLiteData {
 public:
  SQLiteData() : path_(vez::bench::BenchFilePath("bench_data_change", "sqlite")) {
    unlink(path_.c_str());
    if (sqlite3_open(path_.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("sqlite3_open");
    Exec("PRAGMA synchronous=OFF");
    Exec(
        "CREATE TABLE Data(ID INTEGER PRIMARY KEY, MeasurementID REAL, Time REAL, Power REAL, "
        "Speed REAL, Torque REAL, IsError INTEGER)");
    Exec("CREATE INDEX IX_MeasTime ON Data(MeasurementID, Time)");
    Exec("BEGIN");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db_, "INSERT INTO Data VALUES (NULL, ?, ?, ?, 88.1, 140.25, 0)", -1, &insert,
                       nullptr);
    for (int i = 0; i < kRows; ++i) {
      sqlite3_bind_double(insert, 1, 1 + i / kPerMeasurement);
      sqlite3_bind_double(insert, 2, TimeOf(i));
      sqlite3_bind_double(insert, 3, 5000.0 + i % 97);
      if (sqlite3_step(insert) != SQLITE_DONE) throw std::runtime_error("insert");
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec("COMMIT");
  }
  ~SQLiteData() {
    sqlite3_close(db_);
    unlink(path_.c_str());
  }
  std::int64_t Exec(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
    return sqlite3_changes(db_);
  }

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
};

SQLiteData& Lite() {
  static SQLiteData* d = new SQLiteData();
  return *d;
}

void BM_InsertValuesVEZ(benchmark::State& state) {
  VEZData& d = Vez();
  TVEZQuery query;
  query.SetDatabaseName("Bench");
  std::int64_t rows = 0;
  for (auto _ : state) {
    d.Exec(query, "START TRANSACTION");
    for (int i = 0; i < kInserts; ++i)
      rows += d.Exec(query, InsertText(i));
    d.Exec(query, "COMMIT");
  }
  if (rows != kInserts) state.SkipWithError("wrong row count");
  state.SetItemsProcessed(rows);
}

void BM_InsertValuesSQLite(benchmark::State& state) {
  SQLiteData& d = Lite();
  std::int64_t rows = 0;
  for (auto _ : state) {
    d.Exec("BEGIN");
    for (int i = 0; i < kInserts; ++i)
      rows += d.Exec(InsertText(i));
    d.Exec("COMMIT");
  }
  if (rows != kInserts) state.SkipWithError("wrong row count");
  state.SetItemsProcessed(rows);
}

// Runs sql each iteration; together the runs must touch one measurement's rows.
void ChangeOneMeasurementVEZ(benchmark::State& state, const char* sql) {
  VEZData& d = Vez();
  TVEZQuery query;
  query.SetDatabaseName("Bench");
  std::int64_t rows = 0;
  for (auto _ : state)
    rows += d.Exec(query, sql);
  if (rows != kPerMeasurement) state.SkipWithError("wrong row count");
  state.SetItemsProcessed(rows);
}

void ChangeOneMeasurementSQLite(benchmark::State& state, const char* sql) {
  SQLiteData& d = Lite();
  std::int64_t rows = 0;
  for (auto _ : state)
    rows += d.Exec(sql);
  if (rows != kPerMeasurement) state.SkipWithError("wrong row count");
  state.SetItemsProcessed(rows);
}

void BM_UpdateWhereVEZ(benchmark::State& state) {
  ChangeOneMeasurementVEZ(state, "UPDATE Data SET [Power] = [Power] * 2 WHERE MeasurementID = 12");
}

void BM_UpdateWhereSQLite(benchmark::State& state) {
  ChangeOneMeasurementSQLite(state, "UPDATE Data SET Power = Power * 2 WHERE MeasurementID = 12");
}

void BM_DeleteWhereVEZ(benchmark::State& state) {
  ChangeOneMeasurementVEZ(state, "DELETE FROM Data WHERE MeasurementID = 12");
}

void BM_DeleteWhereSQLite(benchmark::State& state) {
  ChangeOneMeasurementSQLite(state, "DELETE FROM Data WHERE MeasurementID = 12");
}

// Each changes the rows it measures, so it runs once; the files are filled
// before the first one starts.
void Setup(const benchmark::State&) {
  Vez();
  Lite();
}

}  // namespace

BENCHMARK(BM_InsertValuesVEZ)->Iterations(1)->Unit(benchmark::kMillisecond)->Setup(Setup);
BENCHMARK(BM_InsertValuesSQLite)->Iterations(1)->Unit(benchmark::kMillisecond)->Setup(Setup);
BENCHMARK(BM_UpdateWhereVEZ)->Iterations(1)->Unit(benchmark::kMillisecond)->Setup(Setup);
BENCHMARK(BM_UpdateWhereSQLite)->Iterations(1)->Unit(benchmark::kMillisecond)->Setup(Setup);
BENCHMARK(BM_DeleteWhereVEZ)->Iterations(1)->Unit(benchmark::kMillisecond)->Setup(Setup);
BENCHMARK(BM_DeleteWhereSQLite)->Iterations(1)->Unit(benchmark::kMillisecond)->Setup(Setup);

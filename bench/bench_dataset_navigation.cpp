// The dataset component beside its cursor, in one run, on the log's Data
// table (ID AutoInc, MeasurementID, Time, Power, Speed, Torque, IsError;
// index IX_MeasTime on MeasurementID, Time) with 1,000,000 rows, 36,000 per
// measurement, walked in index order. The dataset is the tests' minimal
// table dataset; the difference is the dataset layer's own cost per row.
// kind: 0 memory table, 1 disk single-user, 2 disk multi-user (a walk of the
// first 100,000 rows there). layer: 0 cursor, 1 dataset.
// Walk/<kind>/<layer>: First to Eof.
// RecordCount/<kind>/<layer>, RandomRecNo/<kind> (10,000 record-number
// sets), Bookmark/<kind> (save, move, return),
// Filtered/<kind>/<layer>: the rows of one measurement through the filter
// "MeasurementID = 5".
// SQLite/<filtered>: the same rows in an in-memory SQLite table with the same
// index, stepped in index order (all, or one measurement).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include "bench/BenchDiskFiles.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZLocalCursor.h"
#include "dbengine/api/VEZSessionList.h"
#include "dbengine/sql/VEZSQLEngine.h"
#include "tests/common/VEZTestDataSet.h"
#include "tests/dbengine/storage/DiskTableTestSupport.h"

namespace {

using namespace vez;
using test::MakeDataRow;
using test::TDataRow;
using test::TDiskTableEnv;
using test::TTestLocalCursor;
using test::TTestTable;

constexpr std::int32_t kRows = 1000000;
constexpr std::int32_t kRowsPerMeasurement = 36000;
constexpr std::int32_t kMultiUserRows = 100000;
constexpr const char* kFilter = "MeasurementID = 5";

std::string DiskPath() {
  static const std::string path = bench::BenchFilePath("bench_dataset_navigation", "big");
  return path;
}

void MakeDiskFile() {
  const std::string path = DiskPath();
  std::remove(path.c_str());
  {
    TDiskTableEnv env(path, true, true);
    env.CreateDataTable();
  }
  TDiskTableEnv env(path, false, false);
  TTestLocalCursor& c = env.Open();
  c.InBatchUpdate = true;
  for (std::int32_t n = 0; n < kRows; ++n) {
    TDiskTableEnv::Append(c, MakeDataRow(1 + n / kRowsPerMeasurement, n));
    if ((n + 1) % 10000 == 0) c.table_data->ApplyChanges(env.Session().SessionID, false);
  }
  c.table_data->ApplyChanges(env.Session().SessionID, false);
  std::atexit([] {
    std::remove(DiskPath().c_str());
    std::remove((DiskPath() + "-journal").c_str());
  });
}

// Posts the rows through a local cursor of the memory database.
void FillMemoryTable(TVEZDatabase& database) {
  TVEZFieldDefs fields;
  TVEZIndexDefs indexes;
  TVEZConstraintDefs constraints;
  test::AddDataTableDefs(fields, indexes);
  test::CreateTable(database, "Data", fields, indexes, constraints);
  TVEZLocalCursor c;
  c.Session = database.Handle();
  c.TableName = "Data";
  TVEZFieldDefs none;
  TVEZIndexDefs no_indexes;
  TVEZConstraintDefs no_constraints;
  c.OpenTableByFieldDefs(none, no_indexes, no_constraints);
  std::uint8_t* buffer = c.AllocateRecordBuffer();
  c.CurrentRecordBuffer = buffer;
  const TVEZFieldDefs& defs = c.FieldDefs();
  for (std::int32_t n = 0; n < kRows; ++n) {
    const TDataRow row = MakeDataRow(1 + n / kRowsPerMeasurement, n);
    c.InternalInitRecord(buffer, true);
    SetRecordFieldData(test::kDataMeasurement, defs, &row.measurement, buffer);
    std::uint8_t time[8];
    PutLE<std::int32_t>(time, row.day);
    PutLE<std::int32_t>(time + 4, row.ms);
    SetRecordFieldData(test::kDataTime, defs, time, buffer);
    SetRecordFieldData(test::kDataPower, defs, &row.power, buffer);
    SetRecordFieldData(test::kDataSpeed, defs, &row.speed, buffer);
    SetRecordFieldData(test::kDataTorque, defs, &row.torque, buffer);
    const std::int16_t flag = row.is_error ? 1 : 0;
    SetRecordFieldData(test::kDataIsError, defs, &flag, buffer);
    c.InternalInsert();
    c.InternalPost(true);
    if (c.ErrorCode != cecOK) throw std::runtime_error("memory fill refused");
  }
  c.CurrentRecordBuffer = nullptr;
  c.FreeRecordBuffer(buffer);
}

// A dataset and a cursor of its own beside it, on the same database.
class TEnv {
 public:
  explicit TEnv(int kind) {
    if (kind != 0) {
      database_ = std::make_unique<TVEZDatabase>();
      database_->SetDatabaseName(kind == 1 ? "Single" : "Multi");
      database_->SetDatabaseFileName(DiskPath());
      database_->SetDurability(TVEZDurability::Off);
      database_->SetMultiUser(kind == 2);
      database_->Open();
    }
    table.SetDatabaseName(kind == 0 ? "MEMORY" : database_->DatabaseName());
    table.TableName = "Data";
    table.IndexName = test::kDataIndexName;
    table.Open();
    cursor.Session = table.Database()->Handle();
    cursor.TableName = "Data";
    TVEZFieldDefs f;
    TVEZIndexDefs i;
    TVEZConstraintDefs c;
    cursor.OpenTableByFieldDefs(f, i, c);
    cursor.SetIndexName(test::kDataIndexName);
    buffer_ = cursor.AllocateRecordBuffer();
    cursor.CurrentRecordBuffer = buffer_;
  }
  ~TEnv() {
    cursor.CurrentRecordBuffer = nullptr;
    cursor.FreeRecordBuffer(buffer_);
    cursor.CloseTable();
    table.Close();
  }
  TEnv(const TEnv&) = delete;
  TEnv& operator=(const TEnv&) = delete;

  std::unique_ptr<TVEZDatabase> database_;
  TTestTable table;
  TVEZLocalCursor cursor;

 private:
  std::uint8_t* buffer_ = nullptr;
};

// Made once: the disk file, the memory table (kept by a dataset that stays
// open for the run), the SQL engine.
TEnv& Env(int kind) {
  static bool prepared = [] {
    RegisterSQLEngine();
    MakeDiskFile();
    static TTestTable keeper;
    keeper.SetDatabaseName("MEMORY");
    keeper.WithDatabase([](TVEZDatabase& db) { FillMemoryTable(db); });
    keeper.TableName = "Data";
    keeper.Open();
    return true;
  }();
  (void)prepared;
  static std::unique_ptr<TEnv> envs[3];
  // One database at a time: the single- and multi-user sessions of one file
  // are not open together.
  for (int k = 0; k < 3; ++k)
    if (k != kind) envs[k].reset();
  if (!envs[kind]) envs[kind] = std::make_unique<TEnv>(kind);
  return *envs[kind];
}

std::int32_t WalkLimit(int kind) {
  return kind == 2 ? kMultiUserRows : kRows;
}

std::int64_t CursorWalk(TVEZCursor& c, std::int32_t limit) {
  c.InternalFirst();
  std::int64_t rows = 0;
  while (rows < limit && c.GetRecordBuffer(grmNext) == grrOK)
    ++rows;
  return rows;
}

std::int64_t DataSetWalk(TTestTable& t, std::int32_t limit) {
  t.First();
  std::int64_t rows = 0;
  while (!t.Eof() && rows < limit) {
    ++rows;
    t.Next();
  }
  return rows;
}

void BM_Walk(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  const bool dataset = state.range(1) != 0;
  TEnv& env = Env(kind);
  const std::int32_t limit = WalkLimit(kind);
  std::int64_t rows = 0;
  for (auto _ : state)
    rows = dataset ? DataSetWalk(env.table, limit) : CursorWalk(env.cursor, limit);
  if (rows != limit) state.SkipWithError("rows lost");
  state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_Walk)
    ->ArgNames({"kind", "dataset"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

void BM_RecordCount(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  const bool dataset = state.range(1) != 0;
  TEnv& env = Env(kind);
  std::int64_t count = 0;
  for (auto _ : state)
    count = dataset ? env.table.RecordCount() : env.cursor.GetRecordCount();
  if (count != kRows) state.SkipWithError("wrong count");
}
BENCHMARK(BM_RecordCount)
    ->ArgNames({"kind", "dataset"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

void BM_RandomRecNo(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  TEnv& env = Env(kind);
  std::mt19937 rng(20261211);
  std::uniform_int_distribution<int> pick(1, kRows);
  for (auto _ : state) {
    for (int i = 0; i < 10000; ++i)
      env.table.SetRecNo(pick(rng));
  }
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_RandomRecNo)->ArgName("kind")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Bookmark(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  TEnv& env = Env(kind);
  env.table.SetRecNo(kRows / 2);
  for (auto _ : state) {
    const platform::TBookmark mark = env.table.GetBookmark();
    env.table.Next();
    env.table.GotoBookmark(mark);
  }
}
BENCHMARK(BM_Bookmark)->ArgName("kind")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_Filtered(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  const bool dataset = state.range(1) != 0;
  TEnv& env = Env(kind);
  std::int64_t rows = 0;
  if (dataset) {
    env.table.SetFilterText(kFilter);
    env.table.SetFiltered(true);
  } else {
    env.cursor.ActivateFilters(kFilter, false, true);
  }
  for (auto _ : state)
    rows = dataset ? DataSetWalk(env.table, kRows) : CursorWalk(env.cursor, kRows);
  if (dataset)
    env.table.SetFiltered(false);
  else
    env.cursor.DeactivateFilters();
  if (rows != kRowsPerMeasurement) state.SkipWithError("wrong row count");
  state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_Filtered)
    ->ArgNames({"kind", "dataset"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

class TSQLite {
 public:
  TSQLite() {
    if (sqlite3_open(":memory:", &db_) != SQLITE_OK) throw std::runtime_error("sqlite3_open");
    Exec(
        "CREATE TABLE Data(ID INTEGER PRIMARY KEY, MeasurementID REAL, Time REAL, Power REAL, "
        "Speed REAL, Torque REAL, IsError INTEGER)");
    Exec("CREATE INDEX IX_MeasTime ON Data(MeasurementID, Time)");
    Exec("BEGIN");
    sqlite3_stmt* insert = Prepare("INSERT INTO Data VALUES (?, ?, ?, ?, ?, ?, ?)");
    for (std::int32_t n = 0; n < kRows; ++n) {
      const TDataRow row = MakeDataRow(1 + n / kRowsPerMeasurement, n);
      sqlite3_bind_int64(insert, 1, n + 1);
      sqlite3_bind_double(insert, 2, row.measurement);
      sqlite3_bind_double(insert, 3, row.day + row.ms / 86400000.0);
      sqlite3_bind_double(insert, 4, row.power);
      sqlite3_bind_double(insert, 5, row.speed);
      sqlite3_bind_double(insert, 6, row.torque);
      sqlite3_bind_int(insert, 7, row.is_error ? 1 : 0);
      if (sqlite3_step(insert) != SQLITE_DONE) throw std::runtime_error("insert");
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec("COMMIT");
  }
  ~TSQLite() { sqlite3_close(db_); }
  TSQLite(const TSQLite&) = delete;
  TSQLite& operator=(const TSQLite&) = delete;

  std::int64_t Walk(bool filtered) {
    sqlite3_stmt* s = Prepare(filtered ? "SELECT * FROM Data WHERE MeasurementID = 5 "
                                         "ORDER BY MeasurementID, Time"
                                       : "SELECT * FROM Data ORDER BY MeasurementID, Time");
    std::int64_t rows = 0;
    while (sqlite3_step(s) == SQLITE_ROW)
      ++rows;
    sqlite3_finalize(s);
    return rows;
  }

 private:
  void Exec(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error(sql);
  }
  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK)
      throw std::runtime_error(sql);
    return s;
  }
  sqlite3* db_ = nullptr;
};

void BM_SQLite(benchmark::State& state) {
  static TSQLite sqlite;
  const bool filtered = state.range(0) != 0;
  std::int64_t rows = 0;
  for (auto _ : state)
    rows = sqlite.Walk(filtered);
  if (rows != (filtered ? kRowsPerMeasurement : kRows)) state.SkipWithError("wrong row count");
  state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_SQLite)->ArgName("filtered")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

// The table component's restructure and copy on a Data-shaped table of
// 100,000 rows (ID, MeasurementID, Time, Power, Speed, Torque, IsError, index
// over MeasurementID;Time) in a multi-user disk file, beside SQLite 3 in the
// same run. Files live in $TMPDIR (default /tmp). Timed by the wall clock;
// items_per_second is rows per second. Filling the file is not timed.
//
// BM_RestructureAddColumn/<durability>: RestructureTable adding one text
// column, as ALTER TABLE ... ADD does (the copied rows are written as one
// batch, in one commit). BM_CopyTableToNewFile/<durability>: CopyTable
// of the table into a new file (the destination opens with the default, full
// durability; the source's setting only affects its own reads).
// BM_SQLiteRebuildAddColumn/<mode>: SQLite's rebuild of the same table with
// the new column in one transaction (CREATE, INSERT ... SELECT, DROP, RENAME,
// CREATE INDEX); normal = WAL with synchronous NORMAL, full = rollback journal
// with synchronous FULL.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "bench/BenchDiskFiles.h"
#include "dbengine/api/VEZAdvancedDefs.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZSessionList.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/storage/VEZDurability.h"
#include "platform/core/DateTime.h"

namespace {

using platform::Variant;
using vez::TVEZDatabase;
using vez::TVEZDurability;
using vez::TVEZTable;

constexpr int kRows = 100000;

void RemoveDatabaseFiles(const std::string& path) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"})
    unlink((path + suffix).c_str());
}

double TimeOf(int i) {
  return platform::EncodeDateTime(2016, 9, 20, 12, 0, 0, 0) + static_cast<double>(i / 2) / 864000.0;
}

std::unique_ptr<TVEZDatabase> MakeDatabase(const std::string& name, const std::string& path,
                                           TVEZDurability durability) {
  auto db = std::make_unique<TVEZDatabase>();
  db->SetDatabaseName(name);
  db->SetDatabaseFileName(path);
  db->SetMultiUser(true);
  db->SetKeepConnection(false);
  db->SetSilentMode(true);
  db->SetDurability(durability);
  return db;
}

// A file holding Data with kRows rows, closed.
void FillDataFile(const std::string& path) {
  RemoveDatabaseFiles(path);
  auto db = MakeDatabase("Fill", path, TVEZDurability::Off);
  db->CreateDatabase();
  TVEZTable t;
  t.SetDatabaseName("Fill");
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
  db->Open();
  t.Open();
  for (int i = 0; i < kRows; ++i) {
    if (i % 50000 == 0) db->StartTransaction();
    t.AppendRecord({Variant(), Variant::FromDouble(i / 72000 * 2 + i % 2 + 1),
                    Variant::FromDate(TimeOf(i)), Variant::FromDouble(1234.5),
                    Variant::FromDouble(88.1), Variant::FromDouble(140.25),
                    Variant::FromBoolean(false)});
    if (i % 50000 == 49999) db->Commit();
  }
  t.Close();
  db->Close();
}

void BM_RestructureAddColumn(benchmark::State& state, TVEZDurability durability, const char* tag) {
  const std::string path = vez::bench::BenchFilePath("bench_restructure", tag);
  for (auto _ : state) {
    state.PauseTiming();
    FillDataFile(path);
    vez::FinalizeSessionLayer();
    auto db = MakeDatabase("RVX_Database", path, durability);
    TVEZTable data;
    data.SetDatabaseName("RVX_Database");
    data.SetTableName("Data");
    data.Open();
    data.Close();
    data.RestructureFieldDefs().Add("Comments", vez::aftString, 50, false);
    state.ResumeTiming();
    std::string log;
    if (!data.RestructureTable(log)) state.SkipWithError(log.c_str());
    state.PauseTiming();
    vez::FinalizeSessionLayer();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
  RemoveDatabaseFiles(path);
}

void BM_CopyTableToNewFile(benchmark::State& state, TVEZDurability durability, const char* tag) {
  const std::string path = vez::bench::BenchFilePath("bench_restructure", tag);
  const std::string dest =
      vez::bench::BenchFilePath("bench_restructure", std::string(tag) + ".dest");
  FillDataFile(path);
  vez::FinalizeSessionLayer();
  for (auto _ : state) {
    state.PauseTiming();
    RemoveDatabaseFiles(dest);
    {
      auto made = MakeDatabase("Dest", dest, TVEZDurability::Full);
      made->CreateDatabase();
    }
    auto db = MakeDatabase("RVX_Database", path, durability);
    TVEZTable data;
    data.SetDatabaseName("RVX_Database");
    data.SetTableName("Data");
    state.ResumeTiming();
    if (!data.CopyTable("Data", dest, "")) state.SkipWithError("copy failed");
    state.PauseTiming();
    vez::FinalizeSessionLayer();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
  RemoveDatabaseFiles(path);
  RemoveDatabaseFiles(dest);
}

void BM_SQLiteRebuildAddColumn(benchmark::State& state, const char* pragmas, const char* tag) {
  const std::string path = vez::bench::BenchFilePath("bench_restructure_sqlite", tag);
  auto exec = [](sqlite3* db, const std::string& sql) {
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error("sqlite: " + sql + ": " + sqlite3_errmsg(db));
  };
  for (auto _ : state) {
    state.PauseTiming();
    RemoveDatabaseFiles(path);
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("sqlite open");
    exec(db, pragmas);
    exec(db,
         "CREATE TABLE Data (ID INTEGER PRIMARY KEY, MeasurementID REAL, Time REAL, Power REAL, "
         "Speed REAL, Torque REAL, IsError INTEGER);"
         "CREATE INDEX \"Primary\" ON Data (MeasurementID, Time);");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO Data (MeasurementID, Time, Power, Speed, Torque, IsError) "
                       "VALUES (?, ?, 1234.5, 88.1, 140.25, 0)",
                       -1, &insert, nullptr);
    exec(db, "BEGIN");
    for (int i = 0; i < kRows; ++i) {
      sqlite3_bind_double(insert, 1, i / 72000 * 2 + i % 2 + 1);
      sqlite3_bind_double(insert, 2, TimeOf(i));
      if (sqlite3_step(insert) != SQLITE_DONE) throw std::runtime_error("sqlite insert");
      sqlite3_reset(insert);
    }
    exec(db, "COMMIT");
    sqlite3_finalize(insert);
    state.ResumeTiming();
    exec(db,
         "BEGIN;"
         "CREATE TABLE Data2 (ID INTEGER PRIMARY KEY, MeasurementID REAL, Time REAL, Power REAL, "
         "Speed REAL, Torque REAL, IsError INTEGER, Comments VARCHAR(50));"
         "INSERT INTO Data2 SELECT *, NULL FROM Data;"
         "DROP TABLE Data;"
         "ALTER TABLE Data2 RENAME TO Data;"
         "CREATE INDEX \"Primary\" ON Data (MeasurementID, Time);"
         "COMMIT;");
    state.PauseTiming();
    sqlite3_close(db);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
  RemoveDatabaseFiles(path);
}

BENCHMARK_CAPTURE(BM_RestructureAddColumn, normal, TVEZDurability::Normal, "normal")
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RestructureAddColumn, full, TVEZDurability::Full, "full")
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CopyTableToNewFile, normal, TVEZDurability::Normal, "copy.normal")
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SQLiteRebuildAddColumn, normal,
                  "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", "normal")
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SQLiteRebuildAddColumn, full,
                  "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;", "full")
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

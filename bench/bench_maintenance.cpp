// In-place compaction of a file holding the log's ten tables, Data with
// RVX_BENCH_DATA_ROWS rows (default 1,000,000) and every fifth Data row
// deleted, beside SQLite 3's VACUUM of the same rows in the same run. Files
// live in $TMPDIR (default /tmp). Timed by the wall clock; filling is not
// timed. items_per_second is Data rows per second.
//
// BM_CompactDatabase/<durability>: TVEZDatabase::CompactDatabase() with the
// component at that durability. The new file is written without per-commit
// syncs and synced once before it replaces the old one, so the setting only
// affects opening the old file. Counter peak_extra_MB: the largest size of
// "<file>.tmp" and its journal seen at the progress events (the extra disk
// space the compaction needs); old_MB and new_MB the file before and after.
// BM_SQLiteVacuum/<mode>: VACUUM of a table of the same rows (normal = WAL
// with synchronous NORMAL, full = rollback journal with synchronous FULL).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench/BenchDiskFiles.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZSessionList.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/storage/VEZDurability.h"
#include "platform/core/DateTime.h"
#include "tests/dbengine/api/LogSchemaTestSupport.h"

namespace {

using platform::Variant;
using vez::TVEZDatabase;
using vez::TVEZDurability;
using vez::TVEZTable;

int DataRows() {
  const char* s = std::getenv("RVX_BENCH_DATA_ROWS");
  const int v = s != nullptr ? std::atoi(s) : 0;
  return v > 0 ? v : 1000000;
}

void RemoveDatabaseFiles(const std::string& path) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm", ".tmp", ".tmp-journal"})
    unlink((path + suffix).c_str());
}

double SizeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<double>(st.st_size) : 0.0;
}

double TimeOf(int i) {
  return platform::EncodeDateTime(2016, 9, 20, 12, 0, 0, 0) + static_cast<double>(i / 2) / 864000.0;
}

std::unique_ptr<TVEZDatabase> MakeDatabase(const std::string& name, const std::string& path,
                                           TVEZDurability durability) {
  auto db = std::make_unique<TVEZDatabase>();
  db->SetDatabaseName(name);
  db->SetDatabaseFileName(path);
  db->SetSilentMode(true);
  db->SetDurability(durability);
  return db;
}

// The log's tables, a few rows in the small ones, Data with rows rows of
// which every fifth is deleted again.
void FillLogFile(const std::string& path, int rows) {
  RemoveDatabaseFiles(path);
  auto db = MakeDatabase("Fill", path, TVEZDurability::Off);
  db->CreateDatabase();
  for (const vez::test::LogTable& table_def : vez::test::LogTables()) {
    TVEZTable t;
    t.SetDatabaseName("Fill");
    vez::test::DeclareLogTable(t, table_def);
    t.CreateTable();
  }
  db->Open();
  TVEZTable t;
  t.SetDatabaseName("Fill");
  t.SetTableName("Data");
  t.Open();
  for (int i = 0; i < rows; ++i) {
    if (i % 50000 == 0) db->StartTransaction();
    t.AppendRecord({Variant(), Variant::FromDouble(i / 72000 * 2 + i % 2 + 1),
                    Variant::FromDate(TimeOf(i)), Variant::FromDouble(1234.5 + i % 100),
                    Variant::FromDouble(88.1), Variant::FromDouble(140.25),
                    Variant::FromBoolean(false)});
    if (i % 50000 == 49999 || i == rows - 1) db->Commit();
  }
  t.SetIndexName("");
  db->StartTransaction();
  int n = 0;
  for (t.First(); !t.Eof(); ++n) {
    if (n % 5 == 4) {
      t.Delete();
    } else {
      t.Next();
    }
    if (n % 50000 == 49999) {
      db->Commit();
      db->StartTransaction();
    }
  }
  db->Commit();
  t.Close();
  db->Close();
}

void BM_CompactDatabase(benchmark::State& state, TVEZDurability durability, const char* tag) {
  const std::string path = vez::bench::BenchFilePath("bench_maintenance", tag);
  const int rows = DataRows();
  double peak = 0, old_size = 0, new_size = 0;
  for (auto _ : state) {
    state.PauseTiming();
    FillLogFile(path, rows);
    vez::FinalizeSessionLayer();
    old_size = SizeOf(path);
    auto db = MakeDatabase("RVX_Database", path, durability);
    db->OnCompactProgress = [&](TVEZDatabase&, int, bool&) {
      peak = std::max(peak, SizeOf(path + ".tmp") + SizeOf(path + ".tmp-journal"));
    };
    state.ResumeTiming();
    db->CompactDatabase();
    state.PauseTiming();
    peak = std::max(peak, SizeOf(path + ".tmp"));
    new_size = SizeOf(path);
    db.reset();
    vez::FinalizeSessionLayer();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * rows);
  state.counters["peak_extra_MB"] = peak / 1e6;
  state.counters["old_MB"] = old_size / 1e6;
  state.counters["new_MB"] = new_size / 1e6;
  RemoveDatabaseFiles(path);
}

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string text = error != nullptr ? error : "sqlite error";
    sqlite3_free(error);
    throw std::runtime_error(text);
  }
}

void BM_SQLiteVacuum(benchmark::State& state, bool wal, const char* tag) {
  const std::string path = vez::bench::BenchFilePath("bench_maintenance_sqlite", tag);
  const int rows = DataRows();
  for (auto _ : state) {
    state.PauseTiming();
    RemoveDatabaseFiles(path);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    Exec(db, wal ? "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                 : "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;");
    Exec(db,
         "CREATE TABLE Data(ID INTEGER PRIMARY KEY AUTOINCREMENT, MeasurementID REAL, Time REAL, "
         "Power REAL, Speed REAL, Torque REAL, IsError INTEGER)");
    Exec(db, "CREATE INDEX DataPrimary ON Data(MeasurementID, Time)");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO Data VALUES(NULL, ?, ?, ?, 88.1, 140.25, 0)", -1, &insert,
                       nullptr);
    Exec(db, "BEGIN");
    for (int i = 0; i < rows; ++i) {
      sqlite3_bind_double(insert, 1, i / 72000 * 2 + i % 2 + 1);
      sqlite3_bind_double(insert, 2, TimeOf(i));
      sqlite3_bind_double(insert, 3, 1234.5 + i % 100);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec(db, "COMMIT");
    Exec(db, "DELETE FROM Data WHERE ID % 5 = 0");
    state.ResumeTiming();
    Exec(db, "VACUUM");
    state.PauseTiming();
    sqlite3_close(db);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * rows);
  RemoveDatabaseFiles(path);
}

BENCHMARK_CAPTURE(BM_CompactDatabase, full, TVEZDurability::Full, "full")
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_CompactDatabase, normal, TVEZDurability::Normal, "normal")
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_SQLiteVacuum, full, false, "full")
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_SQLiteVacuum, normal, true, "normal")
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace

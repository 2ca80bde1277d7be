// A filtered full scan through the cursor's filter, beside SQLite 3 in the
// same run: 1,000,000 readings of the log's Data table (ID autoincrement,
// MeasurementID Float, Time DateTime, Power, Speed, Torque Float, IsError
// Boolean) in a memory table, and the same rows in an in-memory SQLite table
// without an index. The filter Power = 5010 is on an unindexed column and
// selects about 1 % of the rows (POWER is a reserved word of the engine's SQL,
// so its filter text delimits the name: "[Power] = 5010"); items are rows
// examined.
//   BM_FilterScanVEZ/noindex:    the text parsed into the cursor's filter
//                                expression, the view walked row by row
//   BM_FilterScanSQLite/noindex: SELECT count(*) FROM Data WHERE Power = 5010
//   BM_ParseFilter:              parsing "TrialID = 5" against a cursor
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "bench/BenchMemoryDataTable.h"
#include "dbengine/sql/VEZExpression.h"
#include "tests/dbengine/storage/StorageTestDoubles.h"

namespace {

using namespace vez;

constexpr std::int64_t kRows = 1000000;
constexpr std::int32_t kReadingsPerMeasurement = 36000;
constexpr const char* kFilter = "[Power] = 5010";
constexpr const char* kWhere = "Power = 5010";
// Power is 5000 + i mod 97.
constexpr std::int64_t kSelected = kRows / 97 + (kRows % 97 > 10 ? 1 : 0);

struct DataTable : bench::MemoryDataTable<kReadingsPerMeasurement> {
  DataTable() {
    for (std::int64_t i = 0; i < kRows; ++i)
      Post(i);
  }
};

DataTable& VEZTable() {
  static DataTable* t = new DataTable();
  return *t;
}

class SQLiteData {
 public:
  SQLiteData() {
    if (sqlite3_open(":memory:", &db_) != SQLITE_OK) throw std::runtime_error("sqlite3_open");
    Exec(
        "CREATE TABLE Data(ID INTEGER PRIMARY KEY, MeasurementID REAL, Time REAL, Power REAL, "
        "Speed REAL, Torque REAL, IsError INTEGER)");
    Exec("BEGIN");
    sqlite3_stmt* insert = Prepare("INSERT INTO Data VALUES (?, ?, ?, ?, ?, ?, ?)");
    for (std::int64_t i = 0; i < kRows; ++i) {
      // The same readings as MemoryDataTable::Post.
      const double measurement = static_cast<double>(1 + i / kReadingsPerMeasurement);
      const double time =
          46174.0 +
          (8.0 * 3600000 + static_cast<double>((i % kReadingsPerMeasurement) * 100)) / 86400000.0;
      const double power = 5000.0 + static_cast<double>(i % 97);
      const double speed = 90.0 + static_cast<double>(i % 13) / 10.0;
      sqlite3_bind_int64(insert, 1, i + 1);
      sqlite3_bind_double(insert, 2, measurement);
      sqlite3_bind_double(insert, 3, time);
      sqlite3_bind_double(insert, 4, power);
      sqlite3_bind_double(insert, 5, speed);
      sqlite3_bind_double(insert, 6, power / speed);
      sqlite3_bind_int(insert, 7, 0);
      if (sqlite3_step(insert) != SQLITE_DONE) throw std::runtime_error("insert");
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec("COMMIT");
  }
  ~SQLiteData() { sqlite3_close(db_); }

  std::int64_t Count(const std::string& where) {
    sqlite3_stmt* s = Prepare("SELECT count(*) FROM Data WHERE " + where);
    std::int64_t n = -1;
    if (sqlite3_step(s) == SQLITE_ROW) n = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    return n;
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

SQLiteData& SQLiteTable() {
  static SQLiteData* d = new SQLiteData();
  return *d;
}

void BM_FilterScanVEZ(benchmark::State& state) {
  DataTable& t = VEZTable();
  TVEZExpression filter;
  filter.ParseForFilter(&t.cursor, kFilter, false, false);
  t.cursor.FilterExpression = &filter;
  std::int64_t examined = 0;
  for (auto _ : state) {
    // Every pass filters afresh: no bitmap from the last one.
    t.cursor.DisableRecordBitmap();
    t.cursor.InternalFirst();
    std::int64_t n = 0;
    while (t.cursor.GetRecordBuffer(grmNext) == grrOK)
      ++n;
    if (n != kSelected) state.SkipWithError("wrong row count");
    examined += kRows;
  }
  t.cursor.FilterExpression = nullptr;
  t.cursor.DisableRecordBitmap();
  state.SetItemsProcessed(examined);
}

void BM_FilterScanSQLite(benchmark::State& state) {
  SQLiteData& d = SQLiteTable();
  std::int64_t examined = 0;
  for (auto _ : state) {
    if (d.Count(kWhere) != kSelected) state.SkipWithError("wrong row count");
    examined += kRows;
  }
  state.SetItemsProcessed(examined);
}

void BM_ParseFilter(benchmark::State& state) {
  test::TestCursor cursor;
  for (const char* name : {"ID", "Name", "VesselID", "TrialID"}) {
    TVEZFieldDef* def = cursor.FieldDefs().AddCreated();
    def->Name = name;
    def->SetFieldDefDataType(aftInteger, 0);
  }
  cursor.SetUpLayout();
  for (auto _ : state) {
    TVEZExpression filter;
    filter.ParseForFilter(&cursor, "TrialID = 5", false, false);
    benchmark::DoNotOptimize(filter.Root());
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_FilterScanVEZ)->Name("BM_FilterScanVEZ/noindex")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterScanSQLite)->Name("BM_FilterScanSQLite/noindex")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseFilter);

}  // namespace

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
// The filter MeasurementID=12 selects one measurement (36,000 rows), which the
// index on (MeasurementID, Time) answers; items are rows selected, and the
// counter records_read is how many records one pass tested:
//   BM_FilterScanVEZ/index/memory: the memory table above, walked row by row
//   BM_FilterScanVEZ/index/disk:   the same readings in a database file in
//                                  $TMPDIR (4096-byte pages, no syncs)
//   BM_FilterScanSQLite/index:     SELECT ID, Time, Power FROM Data WHERE
//                                  MeasurementID=12, every row stepped, with
//                                  an index on (MeasurementID, Time)
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "bench/BenchDiskFiles.h"
#include "bench/BenchMemoryDataTable.h"
#include "dbengine/sql/VEZExprNodeBoolean.h"
#include "dbengine/sql/VEZExpression.h"
#include "tests/dbengine/storage/DiskTableTestSupport.h"
#include "tests/dbengine/storage/StorageTestDoubles.h"

namespace {

using namespace vez;

constexpr std::int64_t kRows = 1000000;
constexpr std::int32_t kReadingsPerMeasurement = 36000;
constexpr const char* kFilter = "[Power] = 5010";
constexpr const char* kWhere = "Power = 5010";
// Power is 5000 + i mod 97.
constexpr std::int64_t kSelected = kRows / 97 + (kRows % 97 > 10 ? 1 : 0);
constexpr const char* kMeasurementFilter = "MeasurementID=12";
constexpr double kMeasurement = 12;

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
  ~SQLiteData() {
    sqlite3_finalize(select_);
    sqlite3_close(db_);
  }

  // The index the log's Data table has, made by the benchmark that needs it.
  void EnsureMeasurementIndex() {
    if (indexed_) return;
    Exec("CREATE INDEX IX_MeasTime ON Data(MeasurementID, Time)");
    indexed_ = true;
  }

  // The rows of one measurement, every column the log reads stepped over.
  std::int64_t SelectMeasurement(double measurement) {
    if (select_ == nullptr)
      select_ = Prepare("SELECT ID, Time, Power FROM Data WHERE MeasurementID = ?");
    sqlite3_bind_double(select_, 1, measurement);
    std::int64_t n = 0;
    double sum = 0;
    while (sqlite3_step(select_) == SQLITE_ROW) {
      sum += sqlite3_column_double(select_, 1) + sqlite3_column_double(select_, 2);
      ++n;
    }
    sqlite3_reset(select_);
    benchmark::DoNotOptimize(sum);
    return n;
  }

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
  sqlite3_stmt* select_ = nullptr;
  bool indexed_ = false;
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

// Counts the records a scan tests: the first node of an AND over the filter.
class TCountingNode : public TVEZExprNode {
 public:
  explicit TCountingNode(std::int64_t* count) : TVEZExprNode(false, false), count_(count) {
    FKind = TVEZExprNodeKind::Boolean;
    Operator = doISNOTNULL;  // a Boolean kind the scan never takes as a key bound
  }
  TVEZVariant* GetDataValue() override {
    ++*count_;
    SetBooleanValue(Value, true);
    return &Value;
  }

 private:
  std::int64_t* count_;
};

// One pass over the cursor's filtered view: the rows shown.
std::int64_t WalkFiltered(test::TTestLocalCursor& cursor) {
  cursor.DisableRecordBitmap();
  cursor.InternalFirst();
  std::int64_t n = 0;
  while (cursor.GetRecordBuffer(grmNext) == grrOK)
    ++n;
  return n;
}

// The records one pass of kMeasurementFilter tests, outside the timing.
std::int64_t RecordsRead(test::TTestLocalCursor& cursor) {
  std::int64_t count = 0;
  TVEZExpression filter;
  filter.ParseForFilter(&cursor, kMeasurementFilter, false, false);
  filter.SetRoot(std::make_unique<TVEZExprNodeBoolean>(
      doAND, std::make_unique<TCountingNode>(&count), filter.ReleaseRoot(), false, false));
  filter.MoveAndNodesToRoot();
  cursor.FilterExpression = &filter;
  WalkFiltered(cursor);
  cursor.FilterExpression = nullptr;
  cursor.DisableRecordBitmap();
  return count;
}

// Walks kMeasurementFilter's rows through cursor's filter in every iteration.
void RunMeasurementFilter(benchmark::State& state, test::TTestLocalCursor& cursor) {
  state.counters["records_read"] = static_cast<double>(RecordsRead(cursor));
  TVEZExpression filter;
  filter.ParseForFilter(&cursor, kMeasurementFilter, false, false);
  cursor.FilterExpression = &filter;
  std::int64_t selected = 0;
  for (auto _ : state) {
    const std::int64_t n = WalkFiltered(cursor);
    if (n != kReadingsPerMeasurement) state.SkipWithError("wrong row count");
    selected += n;
  }
  cursor.FilterExpression = nullptr;
  cursor.DisableRecordBitmap();
  state.SetItemsProcessed(selected);
}

void BM_FilterScanVEZIndexMemory(benchmark::State& state) {
  RunMeasurementFilter(state, VEZTable().cursor);
}

// The readings of the memory table in a database file, built once and
// removed at exit.
test::TDiskTableEnv& DiskTable() {
  static test::TDiskTableEnv* env = [] {
    const std::string path = bench::BenchFilePath("bench_filter_scan", "data");
    std::remove(path.c_str());
    {
      test::TDiskTableEnv create(path, true, false);
      create.CreateDataTable();
      test::TTestLocalCursor& c = create.Open();
      c.InBatchUpdate = true;
      for (std::int32_t n = 0; n < kRows; ++n) {
        test::TDiskTableEnv::Append(c, test::MakeDataRow(1 + n / kReadingsPerMeasurement, n));
        if ((n + 1) % 10000 == 0) c.table_data->ApplyChanges(create.Session().SessionID, false);
      }
      c.table_data->ApplyChanges(create.Session().SessionID, false);
    }
    std::atexit([] { std::remove(bench::BenchFilePath("bench_filter_scan", "data").c_str()); });
    return new test::TDiskTableEnv(path, false, false);
  }();
  return *env;
}

void BM_FilterScanVEZIndexDisk(benchmark::State& state) {
  test::TDiskTableEnv& env = DiskTable();
  static test::TTestLocalCursor& cursor = env.Open();
  RunMeasurementFilter(state, cursor);
}

void BM_FilterScanSQLiteIndex(benchmark::State& state) {
  SQLiteData& d = SQLiteTable();
  d.EnsureMeasurementIndex();
  std::int64_t selected = 0;
  for (auto _ : state) {
    const std::int64_t n = d.SelectMeasurement(kMeasurement);
    if (n != kReadingsPerMeasurement) state.SkipWithError("wrong row count");
    selected += n;
  }
  state.counters["records_read"] = static_cast<double>(kReadingsPerMeasurement);
  state.SetItemsProcessed(selected);
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
BENCHMARK(BM_FilterScanVEZIndexMemory)
    ->Name("BM_FilterScanVEZ/index/memory")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterScanVEZIndexDisk)
    ->Name("BM_FilterScanVEZ/index/disk")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterScanSQLiteIndex)
    ->Name("BM_FilterScanSQLite/index")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseFilter);

}  // namespace

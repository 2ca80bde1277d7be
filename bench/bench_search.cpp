// Record search on the shape of the log's Data table (ID autoincrement,
// MeasurementID Float, Time DateTime, Power, Speed, Torque Float, IsError
// Boolean) with its primary index on (MeasurementID, Time): 1,000,000
// readings of 28 measurements (about 36,000 each) in a memory table. One
// measurement is selected by a key range on the index (the search scans the
// index range) and by a record filter in storage order (the search walks the
// whole table); items are the selected rows delivered.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <stdexcept>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZMemoryTableData.h"
#include "tests/common/VEZTestLocalCursor.h"
#include "tests/dbengine/storage/StorageTestDoubles.h"

namespace {

using namespace vez;

constexpr std::int64_t kRows = 1000000;
constexpr std::int32_t kReadingsPerMeasurement = 36000;
constexpr double kWanted = 14.0;

struct DataTable {
  TVEZMemoryDatabaseData db;
  test::TestSession session;
  test::TTestLocalCursor cursor;
  TVEZMemoryTableData* table = nullptr;
  std::int32_t off_measurement = 0, off_time = 0, off_power = 0, off_speed = 0, off_torque = 0,
               off_error = 0;
  std::uint8_t* low = nullptr;
  std::uint8_t* high = nullptr;

  DataTable() {
    db.ConnectSession(session);
    cursor.Session = &session;
    cursor.TableName = "Data";
    table = static_cast<TVEZMemoryTableData*>(db.FindOrCreateTableData(cursor));
    TVEZFieldDefs fields;
    auto add = [&](const char* name, TVEZAdvancedFieldType type) {
      TVEZFieldDef* def = fields.AddCreated();
      def->Name = name;
      def->SetFieldDefDataType(type, 0);
    };
    add("ID", aftAutoIncInteger);
    add("MeasurementID", aftDouble);
    add("Time", aftDateTime);
    add("Power", aftDouble);
    add("Speed", aftDouble);
    add("Torque", aftDouble);
    add("IsError", aftBoolean);
    TVEZIndexDefs indexes;
    TVEZIndexDef* index = indexes.AddCreated();
    index->Name = "Primary";
    index->AssignByNames({"MeasurementID", "Time"}, {"", ""}, {"", ""});
    index->Primary = true;
    TVEZConstraintDefs constraints;
    table->CreateTable(&cursor, fields, indexes, constraints);
    cursor.Open(*table);
    const TVEZFieldDefs& defs = table->FieldManager()->FieldDefs();
    off_measurement = defs.GetDef(1)->MemoryOffset;
    off_time = defs.GetDef(2)->MemoryOffset;
    off_power = defs.GetDef(3)->MemoryOffset;
    off_speed = defs.GetDef(4)->MemoryOffset;
    off_torque = defs.GetDef(5)->MemoryOffset;
    off_error = defs.GetDef(6)->MemoryOffset;
    for (std::int64_t i = 0; i < kRows; ++i)
      Post(i);
    low = cursor.AllocateRecordBuffer();
    high = cursor.AllocateRecordBuffer();
  }
  ~DataTable() {
    ClearView();
    cursor.FreeRecordBuffer(low);
    cursor.FreeRecordBuffer(high);
    cursor.Close();
    db.DisconnectSession(session);
  }

  void Post(std::int64_t i) {
    cursor.NewRecord();
    std::uint8_t* r = cursor.CurrentRecordBuffer;
    const double measurement = static_cast<double>(1 + i / kReadingsPerMeasurement);
    // Readings 100 ms apart from 08:00 on 1 June 2026.
    const std::int64_t ms = 8LL * 3600000 + (i % kReadingsPerMeasurement) * 100;
    const TVEZDateTime time{739770 + static_cast<std::int32_t>(ms / 86400000),
                            static_cast<std::int32_t>(ms % 86400000)};
    const double power = 5000.0 + static_cast<double>(i % 97);
    const double speed = 90.0 + static_cast<double>(i % 13) / 10.0;
    const double torque = power / speed;
    std::memcpy(r + off_measurement, &measurement, 8);
    time.Encode(r + off_time);
    std::memcpy(r + off_power, &power, 8);
    std::memcpy(r + off_speed, &speed, 8);
    std::memcpy(r + off_torque, &torque, 8);
    r[off_error] = 0;
    for (std::int32_t f = 1; f <= 6; ++f)
      SetBufferBit(false, f, r);
    cursor.InternalPost(true);
    if (cursor.ErrorCode != cecOK) throw std::runtime_error("insert refused");
  }

  double MeasurementOf(const std::uint8_t* record) const {
    double value = 0;
    std::memcpy(&value, record + off_measurement, 8);
    return value;
  }

  // MeasurementID = kWanted as a key range on the primary index.
  void ByIndex() {
    ClearView();
    cursor.IndexID = table->IndexManager()->IndexDefs().GetDef(0)->ObjectID;
    for (std::uint8_t* key : {low, high}) {
      cursor.InternalInitRecord(key, true);
      std::memcpy(key + off_measurement, &kWanted, 8);
      SetBufferBit(false, 1, key);
    }
    cursor.KeyBufferSize = cursor.RecordBufferSize;
    cursor.RangeStartBuffer = low;
    cursor.RangeEndBuffer = high;
    cursor.RangeStartKeyFieldCount = cursor.RangeEndKeyFieldCount = 1;
    cursor.RangeStartExclusive = cursor.RangeEndExclusive = false;
    cursor.DisableRecordBitmap();
  }
  // MeasurementID = kWanted as a record filter in storage order: no index
  // can serve it, every record is tested.
  void ByFullScan() {
    ClearView();
    cursor.IndexID = -1;
    cursor.FilterRecord = [this](std::uint8_t* record, void*) {
      return MeasurementOf(record) == kWanted;
    };
    cursor.DisableRecordBitmap();
  }
  void ClearView() {
    cursor.RangeStartBuffer = cursor.RangeEndBuffer = nullptr;
    cursor.FilterRecord = nullptr;
    cursor.DisableRecordBitmap();
  }
  // Delivers the view row by row; returns the rows.
  std::int64_t Walk() {
    cursor.InternalFirst();
    std::int64_t n = 0;
    while (cursor.GetRecordBuffer(grmNext) == grrOK)
      ++n;
    return n;
  }
};

DataTable& Table() {
  static DataTable* t = new DataTable();
  return *t;
}

void Select(benchmark::State& state, bool by_index, bool count_only) {
  DataTable& t = Table();
  if (by_index)
    t.ByIndex();
  else
    t.ByFullScan();
  std::int64_t rows = 0;
  for (auto _ : state) {
    // Every pass searches afresh: no complete bitmap from the last one.
    t.cursor.DisableRecordBitmap();
    const std::int64_t n = count_only ? t.table->GetRecordCount(t.cursor) : t.Walk();
    if (n != kReadingsPerMeasurement) state.SkipWithError("wrong row count");
    rows += n;
  }
  t.ClearView();
  state.SetItemsProcessed(rows);
}

// Row by row, as a grid or report reads the measurement.
void BM_SelectMeasurementByIndex(benchmark::State& state) {
  Select(state, true, false);
}
void BM_SelectMeasurementByFullScan(benchmark::State& state) {
  Select(state, false, false);
}
// One pass that marks the rows in the record bitmap (a record count).
void BM_CountMeasurementByIndex(benchmark::State& state) {
  Select(state, true, true);
}
void BM_CountMeasurementByFullScan(benchmark::State& state) {
  Select(state, false, true);
}
BENCHMARK(BM_SelectMeasurementByIndex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectMeasurementByFullScan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountMeasurementByIndex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountMeasurementByFullScan)->Unit(benchmark::kMillisecond);

}  // namespace

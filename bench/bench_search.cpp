// Record search on the shape of the log's Data table (ID autoincrement,
// MeasurementID Float, Time DateTime, Power, Speed, Torque Float, IsError
// Boolean) with its primary index on (MeasurementID, Time): 1,000,000
// readings of 28 measurements (about 36,000 each) in a memory table. One
// measurement is selected by a key range on the index (the search scans the
// index range) and by a record filter in storage order (the search walks the
// whole table); items are the selected rows delivered.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench/BenchMemoryDataTable.h"

namespace {

using namespace vez;

constexpr std::int64_t kRows = 1000000;
constexpr std::int32_t kReadingsPerMeasurement = 36000;
constexpr double kWanted = 14.0;

struct DataTable : bench::MemoryDataTable<kReadingsPerMeasurement> {
  std::uint8_t* low = nullptr;
  std::uint8_t* high = nullptr;

  DataTable() {
    for (std::int64_t i = 0; i < kRows; ++i)
      Post(i);
    low = cursor.AllocateRecordBuffer();
    high = cursor.AllocateRecordBuffer();
  }
  ~DataTable() {
    ClearView();
    cursor.FreeRecordBuffer(low);
    cursor.FreeRecordBuffer(high);
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

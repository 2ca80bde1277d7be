// Memory table throughput with the shape of the log's Data table (ID
// autoincrement, MeasurementID Float, Time DateTime, Power, Speed, Torque
// Float, IsError Boolean) and its primary index on (MeasurementID, Time):
// 1,000,000 readings posted through a local cursor (autoincrement,
// constraints, record and index), then a full scan in index order.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/BenchMemoryDataTable.h"

namespace {

using namespace vez;

constexpr std::int64_t kRows = 1000000;
constexpr std::int32_t kReadingsPerMeasurement = 3000;

struct DataTable : bench::MemoryDataTable<kReadingsPerMeasurement> {};

void BM_MemoryDataTableInsert(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto t = std::make_unique<DataTable>();
    state.ResumeTiming();
    for (std::int64_t i = 0; i < kRows; ++i)
      t->Post(i);
    state.PauseTiming();
    t.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_MemoryDataTableInsert)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_MemoryDataTableIndexScan(benchmark::State& state) {
  static DataTable* t = [] {
    auto* d = new DataTable();
    for (std::int64_t i = 0; i < kRows; ++i)
      d->Post(i);
    return d;
  }();
  t->cursor.IndexID = t->table->IndexManager()->IndexDefs().GetDef(0)->ObjectID;
  std::int64_t rows = 0;
  for (auto _ : state) {
    t->cursor.InternalFirst();
    std::int64_t n = 0;
    while (t->cursor.GetRecordBuffer(grmNext) == grrOK)
      ++n;
    if (n != kRows) state.SkipWithError("scan missed rows");
    rows += n;
  }
  state.SetItemsProcessed(rows);
}
BENCHMARK(BM_MemoryDataTableIndexScan)->Unit(benchmark::kMillisecond);

void BM_MemoryDataTableStorageScan(benchmark::State& state) {
  DataTable t;
  for (std::int64_t i = 0; i < kRows / 10; ++i)
    t.Post(i);
  t.cursor.IndexID = -1;
  std::int64_t rows = 0;
  for (auto _ : state) {
    t.cursor.InternalFirst();
    while (t.cursor.GetRecordBuffer(grmNext) == grrOK)
      ++rows;
  }
  state.SetItemsProcessed(rows);
}
BENCHMARK(BM_MemoryDataTableStorageScan)->Unit(benchmark::kMillisecond);

}  // namespace

// Cost of one AppendRecord through the dataset base layer on the test fake
// (an in-memory table), shaped like the log's Data table: the part of a
// recorded reading's append that is the dataset layer and not the engine.
#include <benchmark/benchmark.h>

#include <memory>

#include "platform/core/DateTime.h"
#include "tests/platform/dataset/FakeDataSet.h"

namespace {

using platform::Variant;
using platform::test::FakeDataSet;

void DefineData(FakeDataSet& ds) {
  ds.DefineField("ID", platform::ftAutoInc);
  ds.DefineField("MeasurementID", platform::ftFloat);
  ds.DefineField("Time", platform::ftDateTime);
  ds.DefineField("Power", platform::ftFloat);
  ds.DefineField("Speed", platform::ftFloat);
  ds.DefineField("Torque", platform::ftFloat);
  ds.DefineField("IsError", platform::ftBoolean);
}

constexpr int kRowsPerTable = 100000;

// A fresh, open Data table.
std::unique_ptr<FakeDataSet> OpenData() {
  auto ds = std::make_unique<FakeDataSet>();
  DefineData(*ds);
  ds->Open();
  return ds;
}

// Counts an append; the table is emptied, untimed, after every kRowsPerTable
// of them so that the appends all meet a table of about the same size.
void CountAppend(benchmark::State& state, FakeDataSet& ds, int& n) {
  if (++n < kRowsPerTable) return;
  state.PauseTiming();
  ds.rows.clear();
  n = 0;
  state.ResumeTiming();
}

// AppendRecord with the seven values of a reading.
void BM_AppendRecord(benchmark::State& state) {
  auto ds = OpenData();
  const double t0 = platform::EncodeDateTime(2016, 9, 20, 12, 0, 0, 0);
  int n = 0;
  for (auto _ : state) {
    ds->AppendRecord({Variant(), Variant::FromDouble(7), Variant::FromDate(t0 + n * 1e-5),
                      Variant::FromDouble(1234.5), Variant::FromDouble(88.1),
                      Variant::FromDouble(140.25), Variant::FromBoolean(false)});
    CountAppend(state, *ds, n);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendRecord);

// Append, the field setters and Post: the path the application's adapter
// takes for its other tables.
void BM_AppendSetPost(benchmark::State& state) {
  auto ds = OpenData();
  platform::Field& measurement = ds->FieldByName("MeasurementID");
  platform::Field& time = ds->FieldByName("Time");
  platform::Field& power = ds->FieldByName("Power");
  platform::Field& speed = ds->FieldByName("Speed");
  platform::Field& torque = ds->FieldByName("Torque");
  platform::Field& error = ds->FieldByName("IsError");
  const double t0 = platform::EncodeDateTime(2016, 9, 20, 12, 0, 0, 0);
  int n = 0;
  for (auto _ : state) {
    ds->Append();
    measurement.SetAsFloat(7);
    time.SetAsDateTime(t0 + n * 1e-5);
    power.SetAsFloat(1234.5);
    speed.SetAsFloat(88.1);
    torque.SetAsFloat(140.25);
    error.SetAsBoolean(false);
    ds->Post();
    CountAppend(state, *ds, n);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendSetPost);

// The fake's own share: copying a record image into its row map.
void BM_FakeStoreOnly(benchmark::State& state) {
  FakeDataSet ds;
  std::vector<std::uint8_t> image(7 + 4 + 8 * 5 + 2, 1);
  std::int32_t id = 0;
  for (auto _ : state) {
    ds.rows.emplace(++id, image);
    if (id % kRowsPerTable == 0) {
      state.PauseTiming();
      ds.rows.clear();
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_FakeStoreOnly);

}  // namespace

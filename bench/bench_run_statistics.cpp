// Run statistics and moving averages of the application's sample lists.
//
// BM_RunStatistics/900k: the statistics and outlier filter of the three
// quantities of one shaft over a 25-hour run's 900,000 readings each (the
// report and raw-data files of a two-shaft run pay it twice). Beside it,
// SQLite computes the same figures over the same values held in an
// in-memory table: one aggregate pass for mean, spread, minimum and maximum,
// and one pass over the rows that lie within the outlier bound.
//
// BM_ShaftDataAdd/<window>: one Add (sample appended, moving average
// updated) with window 5 and window 100, on a list that grows as a live
// shaft's does; "per_Add" is the time of one Add.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cmath>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include "app/acquisition/ShaftData.h"
#include "app/acquisition/StatisticalShaftData.h"

namespace {

constexpr std::size_t kRunReadings = 900000;

// One shaft's run: power, torque and speed around a steady point with noise,
// one reading in 1000 flagged and one in 5000 far out.
struct Run {
  std::unique_ptr<rvx::TShaftDataSet> set = std::make_unique<rvx::TShaftDataSet>(5, 5);
  std::vector<double> power, torque, speed;
  std::vector<bool> flagged;
};

const Run& TheRun() {
  static const Run run = [] {
    Run r;
    std::mt19937_64 random(42);
    std::normal_distribution<double> noise;
    for (std::size_t i = 0; i < kRunReadings; ++i) {
      const double spike = i % 5000 == 17 ? 8 : 0;
      const double t = 40000 + static_cast<double>(i) / 36000;
      const bool flag = i % 1000 == 3;
      r.power.push_back(8000 + 40 * (noise(random) + spike));
      r.speed.push_back(100 + 0.5 * noise(random));
      r.torque.push_back(9.549297 * r.power.back() / r.speed.back());
      r.flagged.push_back(flag);
      const auto ordinal = static_cast<std::uint32_t>(i);
      r.set->AddPower(t, r.power.back(), flag, ordinal);
      r.set->AddTorque(t, r.torque.back(), flag, ordinal);
      r.set->AddSpeed(t, r.speed.back(), flag, ordinal);
    }
    return r;
  }();
  return run;
}

void BM_RunStatistics(benchmark::State& state) {
  const Run& run = TheRun();
  for (auto _ : state) {
    for (const rvx::TShaftData* data :
         {&run.set->PowerData(), &run.set->TorqueData(), &run.set->SpeedData()}) {
      rvx::TStatisticalShaftData statistics(data->Values());
      benchmark::DoNotOptimize(statistics.FilteredAverageValue());
    }
  }
  state.counters["samples"] = static_cast<double>(3 * kRunReadings);
}
BENCHMARK(BM_RunStatistics)->Name("BM_RunStatistics/900k")->Unit(benchmark::kMillisecond);

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw std::runtime_error(sqlite3_errmsg(db));
}

void BM_RunStatistics_SQLite(benchmark::State& state) {
  const Run& run = TheRun();
  sqlite3* db = nullptr;
  Check(sqlite3_open(":memory:", &db), db);
  Check(sqlite3_exec(db, "CREATE TABLE d(p REAL, q REAL, s REAL, e INTEGER)", nullptr, nullptr,
                     nullptr),
        db);
  Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO d VALUES(?,?,?,?)", -1, &insert, nullptr), db);
  for (std::size_t i = 0; i < kRunReadings; ++i) {
    sqlite3_bind_double(insert, 1, run.power[i]);
    sqlite3_bind_double(insert, 2, run.torque[i]);
    sqlite3_bind_double(insert, 3, run.speed[i]);
    sqlite3_bind_int(insert, 4, run.flagged[i]);
    Check(sqlite3_step(insert), db);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);

  sqlite3_stmt* plain = nullptr;
  sqlite3_stmt* kept[3] = {};
  Check(sqlite3_prepare_v2(db,
                           "SELECT count(*), sum(p), sum(p*p), min(p), max(p), sum(q), sum(q*q), "
                           "min(q), max(q), sum(s), sum(s*s), min(s), max(s) FROM d WHERE e = 0",
                           -1, &plain, nullptr),
        db);
  const char* kept_sql[3] = {
      "SELECT count(*), avg(p), min(p), max(p), sum(p*p) FROM d WHERE e = 0 AND abs(p - ?1) <= ?2",
      "SELECT count(*), avg(q), min(q), max(q), sum(q*q) FROM d WHERE e = 0 AND abs(q - ?1) <= ?2",
      "SELECT count(*), avg(s), min(s), max(s), sum(s*s) FROM d WHERE e = 0 AND abs(s - ?1) <= ?2"};
  for (int k = 0; k < 3; ++k)
    Check(sqlite3_prepare_v2(db, kept_sql[k], -1, &kept[k], nullptr), db);
  // Chauvenet's bound for N samples: 2N x P(Z > z) = 0.5.
  const double bound_z = 4.89;
  for (auto _ : state) {
    Check(sqlite3_step(plain), db);
    const double n = sqlite3_column_double(plain, 0);
    for (int k = 0; k < 3; ++k) {
      const double sum = sqlite3_column_double(plain, 1 + 4 * k);
      const double squares = sqlite3_column_double(plain, 2 + 4 * k);
      const double mean = sum / n;
      const double sd = std::sqrt(std::max((squares - sum * sum / n) / (n - 1), 0.0));
      sqlite3_bind_double(kept[k], 1, mean);
      sqlite3_bind_double(kept[k], 2, bound_z * sd);
      Check(sqlite3_step(kept[k]), db);
      benchmark::DoNotOptimize(sqlite3_column_double(kept[k], 1));
      sqlite3_reset(kept[k]);
    }
    sqlite3_reset(plain);
  }
  for (sqlite3_stmt* s : kept)
    sqlite3_finalize(s);
  sqlite3_finalize(plain);
  sqlite3_close(db);
}
BENCHMARK(BM_RunStatistics_SQLite)
    ->Name("BM_RunStatistics_SQLite/900k")
    ->Unit(benchmark::kMillisecond);

void BM_ShaftDataAdd(benchmark::State& state) {
  const int window = static_cast<int>(state.range(0));
  constexpr std::size_t kBatch = 100000;
  std::mt19937_64 random(5);
  std::normal_distribution<double> noise;
  std::vector<rvx::TDataValue> samples;
  for (std::size_t i = 0; i < kBatch; ++i)
    samples.emplace_back(40000 + i / 864000.0, 8000 + 40 * noise(random), i % 1000 == 3);
  for (auto _ : state) {
    state.PauseTiming();
    auto data = std::make_unique<rvx::TShaftData>(window, window);
    state.ResumeTiming();
    for (const rvx::TDataValue& v : samples)
      data->Add(v);
    benchmark::DoNotOptimize(data->LastRunningAverageValue());
    state.PauseTiming();
    data.reset();
    state.ResumeTiming();
  }
  state.counters["per_Add"] = benchmark::Counter(
      static_cast<double>(kBatch),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ShaftDataAdd)->Arg(5)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace

// Costs of the text and type routines on the hot paths: LIKE filters,
// collation of index keys, number text, and rank/select on record bitmaps.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "dbengine/foundation/VEZBitsArray.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "platform/core/Collation.h"
#include "platform/core/TextConvert.h"

namespace {

void BM_MatchLikeAnsi(benchmark::State& state) {
  const std::string value = "Sea trial run 42 - port shaft - calm sea, 15 knots";
  for (auto _ : state)
    benchmark::DoNotOptimize(vez::MatchLikeAnsi(value, "%PORT%15 knots", false, 0, true));
}
BENCHMARK(BM_MatchLikeAnsi);

void BM_MatchLikePathological(benchmark::State& state) {
  const std::string value(static_cast<std::size_t>(state.range(0)), 'a');
  for (auto _ : state)
    benchmark::DoNotOptimize(vez::MatchLikeAnsi(value, "%a%a%a%a%a%a%b", false, 0, false));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_MatchLikePathological)->Range(64, 16384)->Complexity();

void BM_CompareAnsi(benchmark::State& state) {
  const std::string a = "Vessel name: Northern Explorer", b = "VESSEL NAME: NORTHERN EXPLORES";
  const bool ci = state.range(0) != 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(platform::CompareAnsi(a, b, ci));
}
BENCHMARK(BM_CompareAnsi)->Arg(0)->Arg(1);

void BM_FloatToStr(benchmark::State& state) {
  double x = 1234.56789;
  for (auto _ : state) {
    benchmark::DoNotOptimize(platform::FloatToStr(x));
    x += 0.001;
  }
}
BENCHMARK(BM_FloatToStr);

void BM_StrToFloat(benchmark::State& state) {
  double v;
  for (auto _ : state)
    benchmark::DoNotOptimize(platform::TryStrToFloat("1234.56789", v));
}
BENCHMARK(BM_StrToFloat);

void BM_BitsRankSelect(benchmark::State& state) {
  const auto size = static_cast<std::int32_t>(state.range(0));
  vez::TVEZBitsArray bits;
  bits.SetSize(size);
  std::mt19937 rng(1);
  for (std::int32_t i = 0; i < size; ++i)
    bits.SetBit(i, rng() % 10 != 0);
  std::int32_t k = 0;
  for (auto _ : state) {
    const std::int32_t pos = bits.GetBitPositionByBitNo(k);
    if (pos >= 0) benchmark::DoNotOptimize(bits.GetBitNoByBitPosition(pos));
    k = (k + 7919) % size;
  }
}
BENCHMARK(BM_BitsRankSelect)->Arg(1 << 10)->Arg(1 << 20);

}  // namespace

// Key-part comparison speed: CompareTypedValuesOrder on equal types (the
// B-tree's inner loop) beside memcmp over the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZVariant.h"

namespace {

using namespace vez;

// Two values in guarded blocks (so at the same odd addresses as key data),
// differing in their last byte.
struct Pair {
  Pair(const void* a, const void* b, std::int32_t size) : size(size) {
    p1 = MemoryManager().GetMem(size);
    p2 = MemoryManager().GetMem(size);
    std::memcpy(p1, a, static_cast<std::size_t>(size));
    std::memcpy(p2, b, static_cast<std::size_t>(size));
  }
  ~Pair() {
    MemoryManager().FreeMem(p1);
    MemoryManager().FreeMem(p2);
  }
  void* p1;
  void* p2;
  std::int32_t size;
};

void Run(benchmark::State& state, const Pair& pair, TVEZBaseFieldType type, bool ci) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        CompareTypedValuesOrder(pair.p1, pair.p2, type, type, false, false, -1, ci, 0x400));
  }
  state.SetItemsProcessed(state.iterations());
}

void RunMemcmp(benchmark::State& state, const Pair& pair) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::memcmp(pair.p1, pair.p2, static_cast<std::size_t>(pair.size)));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

const std::string kText1 = "Sea trial run 0042, shaft 1, power meter";
const std::string kText2 = "Sea trial run 0042, shaft 1, power metes";
static_assert(sizeof("Sea trial run 0042, shaft 1, power meter") == 41);

void BM_Int32(benchmark::State& state) {
  const std::int32_t a = 123456, b = 123457;
  Pair pair(&a, &b, 4);
  Run(state, pair, bftSignedInt32, false);
}
void BM_Int32_memcmp(benchmark::State& state) {
  const std::int32_t a = 123456, b = 123457;
  Pair pair(&a, &b, 4);
  RunMemcmp(state, pair);
}
void BM_Double(benchmark::State& state) {
  const double a = 1234.5, b = 1234.75;
  Pair pair(&a, &b, 8);
  Run(state, pair, bftDouble, false);
}
void BM_Double_memcmp(benchmark::State& state) {
  const double a = 1234.5, b = 1234.75;
  Pair pair(&a, &b, 8);
  RunMemcmp(state, pair);
}
void BM_String40(benchmark::State& state) {
  Pair pair(kText1.c_str(), kText2.c_str(), 41);
  Run(state, pair, bftVarchar, false);
}
void BM_String40_CaseInsensitive(benchmark::State& state) {
  Pair pair(kText1.c_str(), kText2.c_str(), 41);
  Run(state, pair, bftVarchar, true);
}
void BM_String40_memcmp(benchmark::State& state) {
  Pair pair(kText1.c_str(), kText2.c_str(), 41);
  RunMemcmp(state, pair);
}
// Wide key text: copied to aligned storage on the stack, never allocated.
void BM_WideString40(benchmark::State& state) {
  const std::u16string w1(kText1.begin(), kText1.end()), w2(kText2.begin(), kText2.end());
  Pair pair(w1.c_str(), w2.c_str(), 82);
  Run(state, pair, bftWideVarchar, false);
}
void BM_WideString40_memcmp(benchmark::State& state) {
  const std::u16string w1(kText1.begin(), kText1.end()), w2(kText2.begin(), kText2.end());
  Pair pair(w1.c_str(), w2.c_str(), 82);
  RunMemcmp(state, pair);
}

BENCHMARK(BM_Int32);
BENCHMARK(BM_Int32_memcmp);
BENCHMARK(BM_Double);
BENCHMARK(BM_Double_memcmp);
BENCHMARK(BM_String40);
BENCHMARK(BM_String40_CaseInsensitive);
BENCHMARK(BM_String40_memcmp);
BENCHMARK(BM_WideString40);
BENCHMARK(BM_WideString40_memcmp);

}  // namespace

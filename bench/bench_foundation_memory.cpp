// The guarded allocator against plain malloc/free, and the engine's CRC-32.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZCrc32.h"

namespace {

void BM_GuardedGetMemFreeMem(benchmark::State& state) {
  const auto size = state.range(0);
  vez::TVEZMemoryManager& mm = vez::MemoryManager();
  for (auto _ : state) {
    void* p = mm.GetMem(size);
    benchmark::DoNotOptimize(p);
    static_cast<char*>(p)[0] = 1;
    mm.FreeMem(p);
  }
}
BENCHMARK(BM_GuardedGetMemFreeMem)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536);

void BM_MallocFree(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    void* p = std::malloc(size);
    benchmark::DoNotOptimize(p);
    static_cast<char*>(p)[0] = 1;
    std::free(p);
  }
}
BENCHMARK(BM_MallocFree)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536);

void BM_UpdateCrc32(benchmark::State& state) {
  std::vector<unsigned char> data(static_cast<std::size_t>(state.range(0)));
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<unsigned char>(i * 31 + 7);
  std::uint32_t crc = 0;
  for (auto _ : state) {
    crc = vez::UpdateCrc32(crc, data.data(), static_cast<std::uint32_t>(data.size()));
    benchmark::DoNotOptimize(crc);
  }
  const double bytes = static_cast<double>(state.iterations()) * static_cast<double>(data.size());
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_UpdateCrc32)->Arg(4096)->Arg(65536)->Arg(1 << 20);

}  // namespace

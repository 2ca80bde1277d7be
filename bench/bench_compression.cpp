// Buffer decompression with and without the expected size: a long run of
// zeros packs into a few dozen bytes, so the unknown-size path must grow its
// output many times over.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "dbengine/foundation/VEZCompression.h"

namespace {

using namespace vez;

std::vector<std::uint8_t> Packed(TVEZCompressionAlgorithm alg, std::int32_t size) {
  const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(size), 0);
  TVEZHeapBuffer out;
  std::int32_t out_size = 0;
  CompressBuffer(alg, 9, zeros.data(), size, out, out_size);
  return std::vector<std::uint8_t>(out.get(), out.get() + out_size);
}

void Decompress(benchmark::State& state, TVEZCompressionAlgorithm alg, bool known) {
  const auto size = static_cast<std::int32_t>(state.range(0));
  const std::vector<std::uint8_t> packed = Packed(alg, size);
  for (auto _ : state) {
    TVEZHeapBuffer out;
    std::int32_t out_size = known ? size : 0;
    const bool ok = DecompressBuffer(alg, packed.data(), static_cast<std::int32_t>(packed.size()),
                                     out, out_size);
    if (!ok || out_size != size) state.SkipWithError("decompression failed");
    benchmark::DoNotOptimize(out.get());
  }
  state.SetBytesProcessed(state.iterations() * size);
  state.counters["packed_bytes"] = static_cast<double>(packed.size());
}

void BM_BzipZerosKnownSize(benchmark::State& state) {
  Decompress(state, acaBZIP, true);
}
void BM_BzipZerosUnknownSize(benchmark::State& state) {
  Decompress(state, acaBZIP, false);
}
void BM_ZlibZerosUnknownSize(benchmark::State& state) {
  Decompress(state, acaZLIB, false);
}

BENCHMARK(BM_BzipZerosKnownSize)->Arg(1 << 20)->Arg(32 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BzipZerosUnknownSize)->Arg(1 << 20)->Arg(32 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibZerosUnknownSize)->Arg(1 << 20)->Arg(32 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

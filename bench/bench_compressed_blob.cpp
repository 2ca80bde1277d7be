// The compressed BLOB stream on a 10 MiB BLOB: reading it in 4 KiB pieces
// against one whole read, and appending it in 4 KiB pieces against one whole
// write, per algorithm and mode (default block size of the mode). The stream
// keeps its last block, so small reads decompress each block once; each small
// append still recompresses the partial last block, which the piecewise append
// figures show.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZCompressedBLOBStream.h"
#include "dbengine/foundation/VEZMemoryStream.h"

namespace {

using namespace vez;

constexpr std::int32_t kBlobSize = 10 << 20;
constexpr std::int32_t kPiece = 4096;

// Text like the logger's sample rows: compressible, not trivially so.
const std::vector<std::uint8_t>& Data() {
  static const std::vector<std::uint8_t> data = [] {
    std::mt19937 rng(42);
    std::string s;
    s.reserve(kBlobSize + 100);
    for (int i = 0; s.size() < static_cast<std::size_t>(kBlobSize); ++i)
      s += std::to_string(i) + ";" + std::to_string(12000 + rng() % 900) + "." +
           std::to_string(rng() % 10) + ";" + std::to_string(900 + rng() % 90) + ";" +
           std::to_string(85 + rng() % 5) + ";0\n";
    s.resize(kBlobSize);
    return std::vector<std::uint8_t>(s.begin(), s.end());
  }();
  return data;
}

TVEZBLOBDescriptor NewDescriptor(const benchmark::State& state) {
  TVEZBLOBDescriptor d;
  d.CompressionAlgorithm = static_cast<std::uint8_t>(state.range(0));
  d.CompressionMode = static_cast<std::uint8_t>(state.range(1));
  return d;
}

void Label(benchmark::State& state) {
  state.SetLabel(std::string(CompressionAlgorithmNames[state.range(0)]) + " mode " +
                 std::to_string(state.range(1)));
  state.SetBytesProcessed(state.iterations() * std::int64_t{kBlobSize});
}

void Write(benchmark::State& state, std::int32_t piece) {
  const auto& data = Data();
  for (auto _ : state) {
    TVEZMemoryStream under;
    TVEZCompressedBLOBStream blob(under, NewDescriptor(state), true, false);
    for (std::int32_t done = 0; done < kBlobSize; done += piece)
      blob.WriteBuffer(data.data() + done, piece);
    benchmark::DoNotOptimize(blob.BLOBDescriptor());
  }
  Label(state);
}

void Read(benchmark::State& state, std::int32_t piece) {
  const auto& data = Data();
  TVEZMemoryStream under;
  TVEZBLOBDescriptor stored;
  {
    TVEZCompressedBLOBStream blob(under, NewDescriptor(state), true, false);
    blob.WriteBuffer(data.data(), kBlobSize);
    stored = blob.BLOBDescriptor();
    state.counters["rate %"] = blob.CompressionRate();
  }
  std::vector<std::uint8_t> out(kBlobSize);
  for (auto _ : state) {
    TVEZCompressedBLOBStream blob(under, stored, false, false);
    for (std::int32_t done = 0; done < kBlobSize; done += piece)
      blob.ReadBuffer(out.data() + done, piece);
    benchmark::DoNotOptimize(out.data());
  }
  Label(state);
}

void BM_ReadWhole(benchmark::State& state) {
  Read(state, kBlobSize);
}
void BM_ReadPieces4K(benchmark::State& state) {
  Read(state, kPiece);
}
void BM_WriteWhole(benchmark::State& state) {
  Write(state, kBlobSize);
}
void BM_AppendPieces4K(benchmark::State& state) {
  Write(state, kPiece);
}

// (algorithm, mode): raw window, zlib fast (512 KiB blocks), zlib default
// (1 MiB blocks), bzip2 (512 KiB blocks).
void Modes(benchmark::internal::Benchmark* b) {
  b->Args({acaNone, 0})->Args({acaZLIB, 1})->Args({acaZLIB, 6})->Args({acaBZIP, 1});
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_ReadWhole)->Apply(Modes);
BENCHMARK(BM_ReadPieces4K)->Apply(Modes)->Iterations(1);
BENCHMARK(BM_WriteWhole)->Apply(Modes);
BENCHMARK(BM_AppendPieces4K)->Apply(Modes)->Iterations(1);

}  // namespace

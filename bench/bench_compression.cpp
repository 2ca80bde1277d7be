// Buffer decompression with and without the expected size: a long run of
// zeros packs into a few dozen bytes, so the unknown-size path must grow its
// output many times over. Then the three algorithms side by side at modes 1,
// 5 and 9 on 10 MB of trial-log text and 10 MB of logged float samples:
// MB/s both ways and the packed size as a ratio of the input.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
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

constexpr std::size_t kSampleSize = 10000000;

// Sentences of a trial log: words, numbers, line ends.
const std::vector<std::uint8_t>& TextLike() {
  static const std::vector<std::uint8_t> data = [] {
    static const char* const kWords[] = {"shaft", "power", "torque",  "speed", "trial",  "run",
                                         "the",   "of",    "and",     "kW",    "rpm",    "meter",
                                         "sea",   "state", "heading", "wind",  "logged", "at"};
    std::mt19937 rng(7);
    std::string s;
    while (s.size() < kSampleSize) {
      s += "2026-12-11 13:" + std::to_string(10 + rng() % 50) + ":" +
           std::to_string(10 + rng() % 50);
      const int words = 3 + static_cast<int>(rng() % 9);
      for (int i = 0; i < words; ++i) {
        s += ' ';
        s += rng() % 4 == 0 ? std::to_string(rng() % 20000) : kWords[rng() % std::size(kWords)];
      }
      s += ".\n";
    }
    s.resize(kSampleSize);
    return std::vector<std::uint8_t>(s.begin(), s.end());
  }();
  return data;
}

// Logged samples: time (float seconds), power, torque and speed as 32-bit
// floats, varying slowly with noise.
const std::vector<std::uint8_t>& FloatSamples() {
  static const std::vector<std::uint8_t> data = [] {
    std::mt19937 rng(8);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<std::uint8_t> b;
    b.reserve(kSampleSize + 16);
    for (int i = 0; b.size() < kSampleSize; ++i) {
      const float t = static_cast<float>(i) * 0.1f;
      const float values[4] = {t, 12000.0f + 300.0f * std::sin(t / 50.0f) + 4.0f * noise(rng),
                               1300.0f + 30.0f * std::sin(t / 50.0f) + 0.5f * noise(rng),
                               88.0f + 0.1f * noise(rng)};
      for (float v : values) {
        std::uint8_t bytes[4];
        std::memcpy(bytes, &v, 4);
        b.insert(b.end(), bytes, bytes + 4);
      }
    }
    b.resize(kSampleSize);
    return b;
  }();
  return data;
}

const std::vector<std::uint8_t>& Input(int kind) {
  return kind == 0 ? TextLike() : FloatSamples();
}

// Args: algorithm, mode, input (0 text, 1 float samples).
void BM_Compress(benchmark::State& state) {
  const auto alg = static_cast<TVEZCompressionAlgorithm>(state.range(0));
  const auto mode = static_cast<std::uint8_t>(state.range(1));
  const auto& in = Input(static_cast<int>(state.range(2)));
  std::int32_t out_size = 0;
  for (auto _ : state) {
    TVEZHeapBuffer out;
    if (!CompressBuffer(alg, mode, in.data(), static_cast<std::int32_t>(in.size()), out, out_size))
      state.SkipWithError("compression failed");
    benchmark::DoNotOptimize(out.get());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(in.size()));
  state.counters["ratio"] = static_cast<double>(out_size) / static_cast<double>(in.size());
  state.SetLabel(std::string(CompressionAlgorithmNames[alg]) +
                 (state.range(2) ? " floats" : " text"));
}

void BM_Decompress(benchmark::State& state) {
  const auto alg = static_cast<TVEZCompressionAlgorithm>(state.range(0));
  const auto mode = static_cast<std::uint8_t>(state.range(1));
  const auto& in = Input(static_cast<int>(state.range(2)));
  TVEZHeapBuffer packed;
  std::int32_t packed_size = 0;
  CompressBuffer(alg, mode, in.data(), static_cast<std::int32_t>(in.size()), packed, packed_size);
  for (auto _ : state) {
    TVEZHeapBuffer out;
    std::int32_t out_size = static_cast<std::int32_t>(in.size());
    if (!DecompressBuffer(alg, packed.get(), packed_size, out, out_size) ||
        std::memcmp(out.get(), in.data(), in.size()) != 0)
      state.SkipWithError("decompression failed");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(in.size()));
  state.counters["ratio"] = static_cast<double>(packed_size) / static_cast<double>(in.size());
  state.SetLabel(std::string(CompressionAlgorithmNames[alg]) +
                 (state.range(2) ? " floats" : " text"));
}

void SideBySide(benchmark::internal::Benchmark* b) {
  for (int kind : {0, 1})
    for (int mode : {1, 5, 9})
      for (int alg : {acaZLIB, acaBZIP, acaPPM})
        b->Args({alg, mode, kind});
  b->ArgNames({"alg", "mode", "input"})->Unit(benchmark::kMillisecond)->Iterations(1);
}

BENCHMARK(BM_Compress)->Apply(SideBySide);
BENCHMARK(BM_Decompress)->Apply(SideBySide);

}  // namespace

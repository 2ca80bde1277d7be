// Page encryption and decryption speed of every cipher-and-hash combination:
// one iteration codes the 4056 data bytes of one 4096-byte page in place, as
// the disk page manager does for every page it writes or reads (a cipher
// created and keyed from the password each time). bytes_per_second counts
// whole 4096-byte pages.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "dbengine/foundation/VEZSecurity.h"

namespace {

using namespace vez;

constexpr std::int32_t kPageSize = 4096;
constexpr std::int32_t kPageDataSize = kPageSize - 40;

void BM_Page(benchmark::State& state, bool encrypt) {
  const auto algorithm = static_cast<TVEZCryptoAlgorithm>(state.range(0));
  std::vector<std::uint8_t> page(kPageDataSize);
  std::mt19937 rng(1);
  for (auto& b : page) b = static_cast<std::uint8_t>(rng());
  for (auto _ : state) {
    const bool ok = encrypt ? EncryptPageData(algorithm, page.data(), kPageDataSize, "sea trial")
                            : DecryptPageData(algorithm, page.data(), kPageDataSize, "sea trial");
    if (!ok) state.SkipWithError("coding failed");
    benchmark::DoNotOptimize(page.data());
  }
  state.SetBytesProcessed(state.iterations() * kPageSize);
  state.SetLabel(kCryptoAlgorithmNames[state.range(0)]);
}

void BM_EncryptPage(benchmark::State& state) { BM_Page(state, true); }
void BM_DecryptPage(benchmark::State& state) { BM_Page(state, false); }

BENCHMARK(BM_EncryptPage)->DenseRange(0, kCryptoAlgorithmCount - 1);
BENCHMARK(BM_DecryptPage)->DenseRange(0, kCryptoAlgorithmCount - 1);

}  // namespace

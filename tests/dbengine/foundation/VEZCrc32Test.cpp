#include "dbengine/foundation/VEZCrc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

namespace vez {
namespace {

// zlib's table method, the reference: the engine's register is zlib's
// without the inversions.
std::uint32_t Reference(std::uint32_t crc, const std::uint8_t* p, std::uint32_t n) {
  return static_cast<std::uint32_t>(crc32(crc ^ 0xFFFFFFFFu, p, n)) ^ 0xFFFFFFFFu;
}

TEST(VEZCrc32Test, KnownValue) {
  EXPECT_EQ(UpdateCrc32(0, "abc", 3), 0xCA6598D0u);
  EXPECT_EQ(UpdateCrc32(0x1234, "abc", 0), 0x1234u);
}

// Every length up to a few folds, many alignments and start registers, and
// the sizes the journal and pages use, against the reference; a register fed
// in pieces equals one fed at once.
TEST(VEZCrc32Test, MatchesTheTableMethodForRandomBuffers) {
  std::mt19937 rng(7);
  std::vector<std::uint8_t> data(70000 + 16);
  for (std::uint8_t& b : data)
    b = static_cast<std::uint8_t>(rng());
  std::vector<std::uint32_t> lengths;
  for (std::uint32_t n = 0; n <= 300; ++n)
    lengths.push_back(n);
  for (const std::uint32_t n : {511u, 512u, 1023u, 4096u, 4097u, 16593u, 65536u, 70000u})
    lengths.push_back(n);
  for (const std::uint32_t n : lengths) {
    for (std::uint32_t offset = 0; offset < 16; offset += 5) {
      const std::uint32_t start = n % 3 == 0 ? 0 : static_cast<std::uint32_t>(rng());
      const std::uint8_t* p = data.data() + offset;
      ASSERT_EQ(UpdateCrc32(start, p, n), Reference(start, p, n))
          << "length " << n << ", offset " << offset;
      const std::uint32_t cut = n == 0 ? 0 : static_cast<std::uint32_t>(rng() % n);
      ASSERT_EQ(UpdateCrc32(UpdateCrc32(start, p, cut), p + cut, n - cut), Reference(start, p, n))
          << "length " << n << " cut at " << cut;
    }
  }
}

}  // namespace
}  // namespace vez

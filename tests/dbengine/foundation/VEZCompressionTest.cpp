#include "dbengine/foundation/VEZCompression.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <iterator>
#include <limits>
#include <new>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dbengine/foundation/VEZBZip2.h"
#include "dbengine/foundation/VEZZlib.h"

namespace vez {

// The algorithm by name in test names and failure messages.
static void PrintTo(TVEZCompressionAlgorithm a, std::ostream* os) {
  *os << (a < std::size(CompressionAlgorithmNames) ? CompressionAlgorithmNames[a] : "?");
}

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RandomBytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& c : b)
    c = static_cast<std::uint8_t>(rng());
  return b;
}

Bytes TextBytes() {
  std::string s;
  for (int i = 0; i < 200; ++i)
    s += "Run " + std::to_string(i) + ": power 12345.6 kW, torque 987.6 kNm, speed 88.2 rpm\n";
  return Bytes(s.begin(), s.end());
}

Bytes Compress(TVEZCompressionAlgorithm alg, std::uint8_t mode, const Bytes& in) {
  TVEZHeapBuffer out;
  std::int32_t out_size = -1;
  EXPECT_TRUE(
      CompressBuffer(alg, mode, in.data(), static_cast<std::int32_t>(in.size()), out, out_size));
  EXPECT_GT(out_size, 0);
  return Bytes(out.get(), out.get() + out_size);
}

// Decompresses with the expected size; nullopt-like empty result on failure.
bool Decompress(TVEZCompressionAlgorithm alg, const Bytes& in, std::int32_t expected,
                Bytes& result) {
  TVEZHeapBuffer out;
  std::int32_t out_size = expected;
  const bool ok =
      DecompressBuffer(alg, in.data(), static_cast<std::int32_t>(in.size()), out, out_size);
  if (ok) {
    result.assign(out.get(), out.get() + out_size);
  } else {
    EXPECT_EQ(out_size, 0);
    EXPECT_EQ(out.get(), nullptr);
  }
  return ok;
}

class RoundTripTest : public ::testing::TestWithParam<TVEZCompressionAlgorithm> {};

TEST_P(RoundTripTest, EveryModeAndInput) {
  const TVEZCompressionAlgorithm alg = GetParam();
  const struct {
    const char* name;
    Bytes data;
  } inputs[] = {{"one byte", Bytes{0x5A}},
                {"text", TextBytes()},
                {"random", RandomBytes(70000, 7)},
                {"64 KiB of zeros", Bytes(1 << 16, 0)},
                {"1 MiB of zeros", Bytes(1 << 20, 0)}};
  for (std::uint8_t mode = 0; mode <= 9; ++mode) {
    for (const auto& input : inputs) {
      SCOPED_TRACE(std::string(CompressionAlgorithmNames[alg]) + " mode " + std::to_string(mode) +
                   " " + input.name);
      const Bytes packed = Compress(alg, mode, input.data);
      Bytes back;
      ASSERT_TRUE(Decompress(alg, packed, static_cast<std::int32_t>(input.data.size()), back));
      EXPECT_EQ(back, input.data);
      // Without an expected size the decompressors grow their output (in
      // small steps: kept to inputs that need few of them).
      if (input.data.size() < 100000) {
        ASSERT_TRUE(Decompress(alg, packed, 0, back));
        EXPECT_EQ(back, input.data);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(VEZCompressionTest, RoundTripTest, ::testing::Values(acaZLIB, acaBZIP),
                         [](const auto& info) {
                           return std::string(CompressionAlgorithmNames[info.param]);
                         });

TEST(VEZCompressionTest, RepetitiveDataShrinks) {
  const Bytes zeros(1 << 20, 0);
  EXPECT_LT(Compress(acaZLIB, 6, zeros).size(), 4096u);
  EXPECT_LT(Compress(acaBZIP, 9, zeros).size(), 4096u);
  // zlib level 0 stores: a little larger than the input, never smaller.
  EXPECT_GT(Compress(acaZLIB, 0, zeros).size(), zeros.size());
}

TEST(VEZCompressionTest, RefusalsAnswerFalse) {
  const Bytes data = TextBytes();
  const auto size = static_cast<std::int32_t>(data.size());
  const struct {
    const char* name;
    TVEZCompressionAlgorithm alg;
    std::uint8_t mode;
    std::int32_t size;
  } rows[] = {{"none", acaNone, 6, size},
              {"empty input", acaZLIB, 6, 0},
              {"negative size", acaBZIP, 6, -5},
              {"unknown algorithm", static_cast<TVEZCompressionAlgorithm>(4), 6, size},
              {"zlib level 10", acaZLIB, 10, size},
              {"bzip2 block size 10", acaBZIP, 10, size}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TVEZHeapBuffer out;
    std::int32_t out_size = 77;
    EXPECT_FALSE(CompressBuffer(row.alg, row.mode, data.data(), row.size, out, out_size));
    EXPECT_EQ(out_size, 0);
    EXPECT_EQ(out.get(), nullptr);
  }
}

TEST(VEZCompressionTest, DecompressRefusalsLeaveOutputAsGiven) {
  const Bytes packed = Compress(acaZLIB, 6, TextBytes());
  const struct {
    const char* name;
    TVEZCompressionAlgorithm alg;
    std::int32_t size;
  } rows[] = {{"none", acaNone, static_cast<std::int32_t>(packed.size())},
              {"empty input", acaZLIB, 0},
              {"unknown algorithm", static_cast<TVEZCompressionAlgorithm>(9),
               static_cast<std::int32_t>(packed.size())}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TVEZHeapBuffer out;
    std::int32_t out_size = 1234;
    EXPECT_FALSE(DecompressBuffer(row.alg, packed.data(), row.size, out, out_size));
    EXPECT_EQ(out_size, 1234);
    EXPECT_EQ(out.get(), nullptr);
  }
}

TEST(VEZCompressionTest, BzipModeZeroUsesSmallestBlockSize) {
  const Bytes data = TextBytes();
  const Bytes packed = Compress(acaBZIP, 0, data);
  ASSERT_GE(packed.size(), 4u);
  EXPECT_EQ(packed[3], '1');  // the stream header records block size 1
  Bytes back;
  ASSERT_TRUE(Decompress(acaBZIP, packed, static_cast<std::int32_t>(data.size()), back));
  EXPECT_EQ(back, data);
}

// Damaged input of every kind fails cleanly (no crash, no endless growth,
// nothing handed out); the sanitizer build runs these too.
TEST(VEZCompressionTest, DamagedInputFailsCleanly) {
  const Bytes data = TextBytes();
  const auto n = static_cast<std::int32_t>(data.size());
  for (auto alg : {acaZLIB, acaBZIP}) {
    SCOPED_TRACE(CompressionAlgorithmNames[alg]);
    const Bytes packed = Compress(alg, 9, data);
    Bytes back;
    {
      SCOPED_TRACE("truncated");
      for (std::size_t keep :
           {std::size_t{1}, std::size_t{5}, packed.size() / 2, packed.size() - 1}) {
        Bytes cut(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(keep));
        EXPECT_FALSE(Decompress(alg, cut, n, back));
        EXPECT_FALSE(Decompress(alg, cut, 0, back));
      }
    }
    {
      SCOPED_TRACE("expected size too small or too large");
      EXPECT_FALSE(Decompress(alg, packed, n - 1, back));
      EXPECT_FALSE(Decompress(alg, packed, n + 1, back));
      EXPECT_FALSE(Decompress(alg, packed, 1, back));
    }
    {
      SCOPED_TRACE("garbage");
      for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        EXPECT_FALSE(Decompress(alg, RandomBytes(300, seed), n, back));
        EXPECT_FALSE(Decompress(alg, RandomBytes(300, seed), 0, back));
      }
    }
    {
      SCOPED_TRACE("flipped bytes");
      std::mt19937 rng(99);
      int failures = 0;
      for (int i = 0; i < 200; ++i) {
        Bytes bad = packed;
        bad[rng() % bad.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255);
        // A flip may survive only if the data still checks out whole.
        if (Decompress(alg, bad, n, back))
          EXPECT_EQ(back, data);
        else
          ++failures;
      }
      EXPECT_GT(failures, 150);
    }
  }
}

TEST(VEZCompressionTest, ZlibStreamAskingForDictionaryFails) {
  const Bytes data = TextBytes();
  const char dict[] = "power torque speed";
  z_stream s{};
  ASSERT_EQ(deflateInit(&s, 6), Z_OK);
  ASSERT_EQ(deflateSetDictionary(&s, reinterpret_cast<const Bytef*>(dict), sizeof dict), Z_OK);
  Bytes packed(deflateBound(&s, data.size()));
  s.next_in = const_cast<Bytef*>(data.data());
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = packed.data();
  s.avail_out = static_cast<uInt>(packed.size());
  ASSERT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
  packed.resize(s.total_out);
  deflateEnd(&s);
  Bytes back;
  EXPECT_FALSE(Decompress(acaZLIB, packed, static_cast<std::int32_t>(data.size()), back));
  EXPECT_FALSE(Decompress(acaZLIB, packed, 0, back));
}

TEST(VEZCompressionTest, DecodesStreamsMadeByOtherTools) {
  // A stored block written by hand from the format: header 78 01, final
  // stored block of 3 bytes, Adler-32 of "RVX" big-endian.
  const Bytes stored = {0x78, 0x01, 0x01, 0x03, 0x00, 0xfc, 0xff,
                        0x52, 0x56, 0x58, 0x01, 0xfd, 0x01, 0x01};
  // Python's zlib module, level 9, of the fox sentence three times.
  const Bytes python = {0x78, 0xda, 0x0b, 0xc9, 0x48, 0x55, 0x28, 0x2c, 0xcd, 0x4c, 0xce,
                        0x56, 0x48, 0x2a, 0xca, 0x2f, 0xcf, 0x53, 0x48, 0xcb, 0xaf, 0x50,
                        0xc8, 0x2a, 0xcd, 0x2d, 0x28, 0x56, 0xc8, 0x2f, 0x4b, 0x2d, 0x52,
                        0x28, 0x01, 0x4a, 0xe7, 0x24, 0x56, 0x55, 0x2a, 0xa4, 0xe4, 0xa7,
                        0xeb, 0x29, 0x84, 0xd0, 0x4c, 0x31, 0x00, 0xf9, 0x3c, 0x30, 0x76};
  // The bzip2 command-line tool, -9, of "RVX Log sea trial\n".
  const Bytes bzip = {0x42, 0x5a, 0x68, 0x39, 0x31, 0x41, 0x59, 0x26, 0x53, 0x59, 0x66, 0x6c, 0x4b,
                      0x24, 0x00, 0x00, 0x02, 0xd7, 0x80, 0x00, 0x10, 0x40, 0x00, 0x00, 0x04, 0x11,
                      0x40, 0x22, 0xa4, 0x9c, 0x00, 0x20, 0x00, 0x31, 0x4c, 0x00, 0x01, 0x46, 0x4c,
                      0x34, 0x35, 0x14, 0xe2, 0x59, 0xa2, 0x45, 0x1c, 0x20, 0xfa, 0xf5, 0xf1, 0x77,
                      0x24, 0x53, 0x85, 0x09, 0x06, 0x66, 0xc4, 0xb2, 0x40};
  std::string fox;
  for (int i = 0; i < 3; ++i)
    fox += "The quick brown fox jumps over the lazy dog. ";
  const struct {
    const char* name;
    TVEZCompressionAlgorithm alg;
    const Bytes& packed;
    std::string expected;
  } rows[] = {{"stored block", acaZLIB, stored, "RVX"},
              {"python zlib", acaZLIB, python, fox},
              {"bzip2 tool", acaBZIP, bzip, "RVX Log sea trial\n"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes back;
    ASSERT_TRUE(
        Decompress(row.alg, row.packed, static_cast<std::int32_t>(row.expected.size()), back));
    EXPECT_EQ(std::string(back.begin(), back.end()), row.expected);
  }
}

TEST(VEZCompressionTest, BufferSizing) {
  EXPECT_EQ(ZLIBInitialOutSize(1000), 1280);
  EXPECT_EQ(ZLIBInitialOutSize(1), 256);
  EXPECT_EQ(BZIPInitialOutSize(1000), 1610);
  EXPECT_EQ(BZIPInitialOutSize(0), 600);
  EXPECT_EQ(BZIPDecompressIncrement(1000), 65536);
  EXPECT_EQ(BZIPDecompressIncrement(6554), 131072);
  EXPECT_THROW(ZLIBInitialOutSize(2'000'000'000), platform::EIntOverflow);
  EXPECT_THROW(BZIPInitialOutSize(2'140'000'000), platform::EIntOverflow);
  EXPECT_THROW(BZIPDecompressIncrement(300'000'000), platform::EIntOverflow);
}

TEST(VEZCompressionTest, WrappersRaiseTheirErrors) {
  const Bytes data = TextBytes();
  const auto n = static_cast<std::int32_t>(data.size());
  TVEZHeapBuffer out;
  std::int32_t out_size = 0;
  try {
    ZLIBCompressBuffer(data.data(), n, out, out_size, 12);
    FAIL() << "no exception";
  } catch (const ECompressionError& e) {
    EXPECT_EQ(e.Message(), "error " + std::to_string(Z_STREAM_ERROR));
  }
  try {
    BZIPCompressBuffer(data.data(), n, out, out_size, 0);
    FAIL() << "no exception";
  } catch (const EBZCompressionError& e) {
    EXPECT_EQ(e.Message(), "error -2");
  }
  const Bytes garbage = RandomBytes(100, 3);
  try {
    BZIPDecompressBuffer(garbage.data(), 100, 1000, out, out_size);
    FAIL() << "no exception";
  } catch (const EBZDecompressionError& e) {
    EXPECT_EQ(e.Message(), "error -5");  // not a bzip2 stream
  }
  EXPECT_EQ(out.get(), nullptr);
}

TEST(VEZCompressionTest, StrToCompressionAlgorithm) {
  const struct {
    const char* text;
    TVEZCompressionAlgorithm expected;
  } rows[] = {{"zlib", acaZLIB}, {"ZLIB", acaZLIB}, {"bZiP", acaBZIP}, {"PpM", acaPPM},
              {"NONE", acaNone}, {"", acaNone},     {"gzip", acaNone}, {"ZLIB ", acaNone}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(StrToCompressionAlgorithm(row.text), row.expected);
  }
}

TEST(VEZCompressionTest, LastErrorAfterDamagedZlibIsTheInflateStartError) {
  // Run on a fresh thread, whose last-error texts start empty.
  std::string text = "unset";
  std::thread([&] {
    Bytes back;
    EXPECT_FALSE(Decompress(acaZLIB, RandomBytes(64, 5), 100, back));
    GetLastCompressionError(text);
  }).join();
  EXPECT_EQ(text, "");
}

TEST(VEZCompressionTest, ThreadsCompressAtOnce) {
  std::vector<std::thread> threads;
  std::vector<int> good(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &good] {
      const Bytes data = RandomBytes(5000, static_cast<std::uint32_t>(t));
      for (int i = 0; i < 20; ++i) {
        const auto alg = (i % 2) ? acaZLIB : acaBZIP;
        Bytes back;
        if (Decompress(alg, Compress(alg, 5, data), 5000, back) && back == data) ++good[t];
        std::string text;
        EXPECT_FALSE(Decompress(acaZLIB, RandomBytes(50, i), 10, back));
        GetLastCompressionError(text);
      }
    });
  }
  for (auto& th : threads)
    th.join();
  for (int t = 0; t < 4; ++t)
    EXPECT_EQ(good[t], 20);
}

}  // namespace
}  // namespace vez

namespace vez {
namespace {

// Out of memory and overflow are not "cannot compress": the dispatcher hands
// them on with their cause and gives nothing out.
TEST(VEZCompressionTest, DispatcherKeepsTheCauseOfNonLibraryErrors) {
  const Bytes data = TextBytes();
  const auto n = static_cast<std::int32_t>(data.size());
  for (auto alg : {acaZLIB, acaBZIP}) {
    SCOPED_TRACE(CompressionAlgorithmNames[alg]);
    const Bytes packed = Compress(alg, 6, data);
    TVEZHeapBuffer out;
    std::int32_t out_size = 0;
    {
      TScopedCompressionHeapFailure failing;
      EXPECT_THROW(CompressBuffer(alg, 6, data.data(), n, out, out_size), std::bad_alloc);
      EXPECT_EQ(out.get(), nullptr);
      EXPECT_EQ(out_size, 0);
      for (std::int32_t expected : {n, 0}) {
        out_size = expected;
        EXPECT_THROW(DecompressBuffer(alg, packed.data(), static_cast<std::int32_t>(packed.size()),
                                      out, out_size),
                     std::bad_alloc);
        EXPECT_EQ(out.get(), nullptr);
        EXPECT_EQ(out_size, 0);
      }
    }
    // Size arithmetic that overflows is raised before the input is read.
    EXPECT_THROW(CompressBuffer(alg, 6, data.data(), 2'140'000'000, out, out_size),
                 platform::EIntOverflow);
    // The library's own refusals still answer False.
    Bytes back;
    EXPECT_FALSE(Decompress(alg, RandomBytes(300, 5), n, back));
    // And with the heap back everything works again.
    ASSERT_TRUE(Decompress(alg, packed, n, back));
    EXPECT_EQ(back, data);
  }
}

// Without an expected size bzip2 grows its output and carries on where it
// stopped: a tiny stream of a long run comes back whole, and a stream that
// would unpack beyond what bzip2 can produce from its size is refused.
TEST(VEZCompressionTest, BzipUnknownSizeGrowsInOnePass) {
  const Bytes zeros(std::size_t{32} << 20, 0);
  const Bytes packed = Compress(acaBZIP, 9, zeros);
  EXPECT_LT(packed.size(), 200u);
  Bytes back;
  ASSERT_TRUE(Decompress(acaBZIP, packed, 0, back));
  EXPECT_EQ(back.size(), zeros.size());
  EXPECT_EQ(back, zeros);

  const auto in = static_cast<std::int32_t>(packed.size());
  EXPECT_LT(BZIPDecompressLimit(in), std::numeric_limits<std::int32_t>::max());
  EXPECT_GE(BZIPDecompressLimit(in), static_cast<std::int32_t>(zeros.size()));
  EXPECT_EQ(BZIPDecompressLimit(100'000), std::numeric_limits<std::int32_t>::max());
  // Several concatenated runs, each growth step landing mid-block.
  Bytes mixed;
  for (int i = 0; i < 40; ++i) {
    const Bytes part = RandomBytes(3000 + static_cast<std::size_t>(i) * 1000, 50 + i);
    mixed.insert(mixed.end(), part.begin(), part.end());
    mixed.insert(mixed.end(), 100000, static_cast<std::uint8_t>(i));
  }
  ASSERT_TRUE(Decompress(acaBZIP, Compress(acaBZIP, 1, mixed), 0, back));
  EXPECT_EQ(back, mixed);
}

// An expected size that deflate cannot reach from the input is damage: no
// block of that size is taken.
TEST(VEZCompressionTest, ZlibRefusesUnreachableExpectedSize) {
  const Bytes data = TextBytes();
  const Bytes packed = Compress(acaZLIB, 6, data);
  Bytes back;
  TScopedCompressionHeapFailure failing;  // any allocation would raise
  EXPECT_FALSE(Decompress(acaZLIB, packed, 1'400'000'000, back));
}

}  // namespace
}  // namespace vez

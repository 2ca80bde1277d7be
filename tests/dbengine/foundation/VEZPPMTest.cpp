// The PPM compressor: round trips at every mode over a table of inputs, the
// model's restart when its memory runs out, frozen outputs that pin the stored
// format, damaged and truncated input, and the dispatcher and its refusals.
#include "dbengine/foundation/VEZPPM.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dbengine/foundation/VEZCompression.h"
#include "dbengine/foundation/VEZCrc32.h"
#include "dbengine/foundation/VEZException.h"

namespace vez {
namespace {

using Bytes = std::vector<std::uint8_t>;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

Bytes RandomBytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& c : b)
    c = static_cast<std::uint8_t>(rng());
  return b;
}

// Sentences of a trial log: words, numbers and line ends.
Bytes TextLike(std::size_t n, std::uint32_t seed) {
  static const char* const kWords[] = {"shaft", "power", "torque",  "speed", "trial", "run",
                                       "the",   "of",    "and",     "kW",    "rpm",   "meter",
                                       "sea",   "state", "heading", "wind",  "calm",  "logged"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    const int words = 3 + static_cast<int>(rng() % 9);
    for (int i = 0; i < words; ++i) {
      if (rng() % 4 == 0)
        s += std::to_string(rng() % 20000);
      else
        s += kWords[rng() % std::size(kWords)];
      s += i + 1 < words ? " " : ".\n";
    }
  }
  s.resize(n);
  return Bytes(s.begin(), s.end());
}

// Logged float samples: a slowly varying power reading with noise, stored as
// little-endian 32-bit floats.
Bytes FloatSamples(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, 4.0f);
  Bytes b;
  b.reserve(n + 4);
  for (std::size_t i = 0; b.size() < n; ++i) {
    const float v = 12000.0f + 300.0f * std::sin(static_cast<float>(i) / 50.0f) + noise(rng);
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    for (int k = 0; k < 4; ++k)
      b.push_back(static_cast<std::uint8_t>(bits >> (8 * k)));
  }
  b.resize(n);
  return b;
}

Bytes Runs(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b;
  while (b.size() < n)
    b.insert(b.end(), 1 + rng() % 300, static_cast<std::uint8_t>(rng()));
  b.resize(n);
  return b;
}

Bytes AllByteValues() {
  Bytes b(256);
  for (int i = 0; i < 256; ++i)
    b[i] = static_cast<std::uint8_t>(i);
  return b;
}

// Chunks of text, samples, runs and random bytes in turn.
Bytes Mixed(std::size_t n, std::uint32_t seed) {
  Bytes b;
  std::uint32_t k = 0;
  while (b.size() < n) {
    const std::size_t chunk = 65536;
    Bytes part;
    switch (k % 4) {
      case 0:
        part = TextLike(chunk, seed + k);
        break;
      case 1:
        part = FloatSamples(chunk, seed + k);
        break;
      case 2:
        part = Runs(chunk, seed + k);
        break;
      default:
        part = RandomBytes(chunk / 4, seed + k);
        break;
    }
    b.insert(b.end(), part.begin(), part.end());
    ++k;
  }
  b.resize(n);
  return b;
}

Bytes Pack(const Bytes& in, std::int32_t mode) {
  TVEZHeapBuffer out;
  std::int32_t out_size = 0;
  PPMCompressBuffer(in.data(), static_cast<std::int32_t>(in.size()), out, out_size, mode);
  return Bytes(out.get(), out.get() + out_size);
}

Bytes PackWithModel(const Bytes& in, int order, int mib) {
  TVEZHeapBuffer out;
  std::int32_t out_size = 0;
  PPMCompressBufferWithModel(in.data(), static_cast<std::int32_t>(in.size()), out, out_size, order,
                             mib);
  return Bytes(out.get(), out.get() + out_size);
}

// Decompresses with the expected size; raises what PPMDecompressBuffer raises.
Bytes Unpack(const Bytes& packed, std::int32_t expected) {
  TVEZHeapBuffer out;
  std::int32_t out_size = expected;
  PPMDecompressBuffer(packed.data(), static_cast<std::int32_t>(packed.size()), out, out_size);
  return Bytes(out.get(), out.get() + out_size);
}

std::uint32_t HeadOf(const Bytes& packed) {
  return std::uint32_t{packed[0]} | (std::uint32_t{packed[1]} << 8) |
         (std::uint32_t{packed[2]} << 16) | (std::uint32_t{packed[3]} << 24);
}

std::uint32_t Crc(const Bytes& b) {
  return UpdateCrc32(0, b.data(), static_cast<std::uint32_t>(b.size()));
}

void ExpectPPMError(const std::function<void()>& f, const std::string& text) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected " << text;
  } catch (const EPPMError& e) {
    EXPECT_EQ(e.Message(), text);
  }
}

// The dispatcher's answer for damaged data: False with nothing handed out, or
// True with exactly the expected size.
void ExpectCleanDispatch(const Bytes& packed, std::int32_t expected) {
  TVEZHeapBuffer out;
  std::int32_t out_size = expected;
  if (DecompressBuffer(acaPPM, packed.data(), static_cast<std::int32_t>(packed.size()), out,
                       out_size)) {
    EXPECT_EQ(out_size, expected);
    EXPECT_NE(out.get(), nullptr);
  } else {
    EXPECT_EQ(out_size, 0);
    EXPECT_EQ(out.get(), nullptr);
  }
}

struct TInput {
  const char* name;
  Bytes data;
};

const std::vector<TInput>& Inputs() {
  static const std::vector<TInput> inputs = {
      {"one byte", Bytes{0x5A}},
      {"all 256 byte values", AllByteValues()},
      {"one value repeated", Bytes(100000, 'x')},
      {"runs", Runs(50000, 3)},
      {"text", TextLike(120000, 4)},
      {"random", RandomBytes(40000, 5)},
      {"float samples", FloatSamples(80000, 6)},
  };
  return inputs;
}

class PPMModeTest : public ::testing::TestWithParam<int> {};

TEST_P(PPMModeTest, InputsRoundTrip) {
  const int mode = GetParam();
  const TPPMPreset preset = PPMPresetForMode(mode);
  for (const auto& input : Inputs()) {
    SCOPED_TRACE(input.name);
    const Bytes packed = Pack(input.data, mode);
    ASSERT_GE(packed.size(), 8u);
    EXPECT_EQ(HeadOf(packed), PPMHead(preset.MaxOrder, preset.MemoryMiB));
    EXPECT_EQ(Unpack(packed, static_cast<std::int32_t>(input.data.size())), input.data);
  }
}

TEST_P(PPMModeTest, TenMegabytesOfMixedDataRoundTrip) {
  const int mode = GetParam();
  const Bytes data = Mixed(kSanitized ? 1000000 : 10000000, 42 + mode);
  const Bytes packed = Pack(data, mode);
  EXPECT_LT(packed.size(), data.size() / 2);
  EXPECT_EQ(Unpack(packed, static_cast<std::int32_t>(data.size())), data);
}

INSTANTIATE_TEST_SUITE_P(VEZPPMTest, PPMModeTest, ::testing::Range(1, 10),
                         [](const auto& info) { return "mode" + std::to_string(info.param); });

TEST(VEZPPMTest, ModeSelectsThePresetAndTheHead) {
  const struct {
    std::int32_t mode;
    std::uint32_t head;
  } rows[] = {{-3, 0x6011}, {0, 0x6011}, {1, 0x6011}, {2, 0x6022}, {3, 0x6063}, {4, 0x60F4},
              {5, 0x6156},  {6, 0x6187}, {7, 0x6279}, {8, 0x663C}, {9, 0x663F}, {12, 0x663F}};
  const Bytes data = TextLike(3000, 8);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.mode);
    const TPPMPreset p = PPMPresetForMode(row.mode);
    EXPECT_EQ(PPMHead(p.MaxOrder, p.MemoryMiB), row.head);
    EXPECT_EQ(HeadOf(Pack(data, row.mode)), row.head);
  }
  EXPECT_EQ(Pack(data, 0), Pack(data, 1));
  EXPECT_EQ(Pack(data, 12), Pack(data, 9));
}

// The stored format must not drift: these outputs were produced by this coder
// and are read back by every later version.
TEST(VEZPPMTest, FrozenOutputs) {
  const Bytes abra = [] {
    const std::string s = "abracadabra abracadabra abracadabra";
    return Bytes(s.begin(), s.end());
  }();
  const struct {
    int mode;
    Bytes packed;
  } small[] = {
      {1, {0x11, 0x60, 0x00, 0x00, 0x79, 0x98, 0x02, 0xB5, 0x18, 0x3F,
           0xA9, 0xDD, 0xCA, 0xD7, 0xA8, 0x10, 0xFC, 0x39, 0x4C, 0x00}},
      {5, {0x56, 0x61, 0x00, 0x00, 0xB4, 0x1C, 0x9A, 0xFB, 0x0E, 0x53,
           0x81, 0x46, 0xD0, 0x94, 0x34, 0xE5, 0x69, 0x71, 0x68, 0x00}},
      {9, {0x3F, 0x66, 0x00, 0x00, 0xB4, 0x1C, 0x9A, 0xFB, 0x0E, 0x53,
           0x81, 0x46, 0xD0, 0x94, 0x34, 0xE5, 0x69, 0x71, 0x68, 0x00}},
  };
  for (const auto& row : small) {
    SCOPED_TRACE(row.mode);
    EXPECT_EQ(Pack(abra, row.mode), row.packed);
    EXPECT_EQ(Unpack(row.packed, static_cast<std::int32_t>(abra.size())), abra);
  }
  const struct {
    const char* name;
    int mode;
    Bytes data;
    std::size_t size;
    std::uint32_t crc;
  } rows[] = {
      {"text", 1, TextLike(50000, 11), 11060, 0x140718FD},
      {"text", 3, TextLike(50000, 11), 10742, 0xEFB58A96},
      {"text", 5, TextLike(50000, 11), 10968, 0x7665F8E6},
      {"text", 7, TextLike(50000, 11), 11109, 0x57749CE1},
      {"text", 9, TextLike(50000, 11), 11126, 0xF9FD6912},
      {"samples", 1, FloatSamples(40000, 12), 27418, 0xE6DD0F23},
      {"samples", 5, FloatSamples(40000, 12), 27566, 0xCE11E610},
      {"samples", 9, FloatSamples(40000, 12), 27566, 0x7293B584},
      {"mixed", 2, Mixed(300000, 13), 107849, 0xB7F663E2},
      {"mixed", 8, Mixed(300000, 13), 109199, 0x050824C2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.name) + " mode " + std::to_string(row.mode));
    const Bytes packed = Pack(row.data, row.mode);
    EXPECT_EQ(packed.size(), row.size);
    EXPECT_EQ(Crc(packed), row.crc);
  }
}

// Small model memories run out again and again; encoder and decoder restart
// at the same symbol, so the data still round-trips.
TEST(VEZPPMTest, ModelRestartsStayInStep) {
  const struct {
    const char* name;
    int order;
    int mib;
    Bytes data;
  } rows[] = {
      {"order 2, 2 MiB, random", 2, 2, RandomBytes(kSanitized ? 200000 : 600000, 21)},
      {"order 16, 1 MiB, text", 16, 1, TextLike(kSanitized ? 400000 : 1500000, 22)},
      {"order 6, 1 MiB, mixed", 6, 1, Mixed(kSanitized ? 400000 : 1500000, 23)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Bytes packed = PackWithModel(row.data, row.order, row.mib);
    const int restarts = PPMLastRestarts();
    EXPECT_GT(restarts, 0);
    EXPECT_EQ(HeadOf(packed), PPMHead(row.order, row.mib));
    EXPECT_EQ(Unpack(packed, static_cast<std::int32_t>(row.data.size())), row.data);
    EXPECT_EQ(PPMLastRestarts(), restarts);
  }
}

TEST(VEZPPMTest, OneRepeatedValuePacksFarBelowTheDamageRatio) {
  // The tightest packing there is; its ratio bounds what a sound stream can
  // decompress to.
  for (int mode : {1, 9}) {
    SCOPED_TRACE(mode);
    const Bytes data(kSanitized ? 2000000 : 10000000, 0);
    const Bytes packed = Pack(data, mode);
    EXPECT_LT(static_cast<std::int64_t>(data.size()),
              static_cast<std::int64_t>(packed.size()) * kMaxPPMRatio);
    EXPECT_GE(MaxDecompressedSize(acaPPM, static_cast<std::int32_t>(packed.size())),
              static_cast<std::int64_t>(data.size()));
  }
}

TEST(VEZPPMTest, EmptyInputCodesOnlyTheEnd) {
  TVEZHeapBuffer out;
  std::int32_t out_size = 0;
  PPMCompressBuffer(nullptr, 0, out, out_size, 4);
  const Bytes packed(out.get(), out.get() + out_size);
  EXPECT_GE(packed.size(), 8u);
  EXPECT_LE(packed.size(), 12u);
  ExpectPPMError([&] { Unpack(packed, 1); }, "PPM Decompression error");
}

TEST(VEZPPMTest, IncompressibleInputRoundTrips) {
  for (int n : {1, 2, 10, 40, 256, 2000, 100000}) {
    SCOPED_TRACE(n);
    const Bytes data = RandomBytes(static_cast<std::size_t>(n), 31);
    for (int mode : {1, 9}) {
      const Bytes packed = Pack(data, mode);
      EXPECT_GT(packed.size(), data.size());
      EXPECT_EQ(Unpack(packed, n), data);
    }
  }
}

// The coder's output block grows when input expands beyond the first guess,
// instead of writing past it.
TEST(VEZPPMTest, OutputBlockGrowsOnDemand) {
  for (std::int32_t first : {1, 7, 300}) {
    SCOPED_TRACE(first);
    TPPMOutput out(first);
    EXPECT_EQ(out.Data()[0], 0);
    Bytes expected;
    for (int i = 0; i < 5000; ++i) {
      out.Put(static_cast<std::uint8_t>(i * 7));
      expected.push_back(static_cast<std::uint8_t>(i * 7));
    }
    EXPECT_EQ(out.Position(), 5000);
    TVEZHeapBuffer block = out.Release();
    EXPECT_EQ(Bytes(block.get(), block.get() + 5000), expected);
  }
}

TEST(VEZPPMTest, DecompressionStopsAtTheExpectedSize) {
  const Bytes data = TextLike(1000, 41);
  const Bytes packed = Pack(data, 3);
  ExpectPPMError([&] { Unpack(packed, 999); }, "PPM Decompression error");
  ExpectPPMError([&] { Unpack(packed, 1); }, "PPM Decompression error");
  EXPECT_EQ(Unpack(packed, 1000), data);
  // A larger expected size: the decoder reports what it found.
  TVEZHeapBuffer out;
  std::int32_t out_size = 1500;
  PPMDecompressBuffer(packed.data(), static_cast<std::int32_t>(packed.size()), out, out_size);
  EXPECT_EQ(out_size, 1000);
  EXPECT_EQ(Bytes(out.get(), out.get() + 1000), data);
  // The dispatcher takes only the exact size.
  ExpectCleanDispatch(packed, 1500);
  out_size = 1500;
  EXPECT_FALSE(DecompressBuffer(acaPPM, packed.data(), static_cast<std::int32_t>(packed.size()),
                                out, out_size));
}

TEST(VEZPPMTest, ErrorsCarryTheirTexts) {
  const Bytes packed = Pack(TextLike(500, 51), 2);
  for (std::int32_t bad : {0, -1}) {
    SCOPED_TRACE(bad);
    ExpectPPMError([&] { Unpack(packed, bad); }, "PPM DecpmpressBuf: OutSize must be set");
  }
  ExpectPPMError([&] { Unpack(Bytes{}, 10); }, "PPM Decompression error");
  ExpectPPMError([&] { Unpack(Bytes{0x11, 0x60}, 10); }, "PPM Decompression error");
  // Not an engine error: the base exception class of the platform.
  try {
    Unpack(Bytes{0x11, 0x50, 0, 0, 1, 2, 3, 4}, 10);
    ADD_FAILURE() << "no exception";
  } catch (const EVEZException&) {
    ADD_FAILURE() << "engine error";
  } catch (const platform::Exception& e) {
    EXPECT_EQ(e.Message(), "PPM Decompression error");
  }
}

TEST(VEZPPMTest, DamagedHeadsFailCleanly) {
  const Bytes data = TextLike(4000, 61);
  const Bytes packed = Pack(data, 2);  // order 3, 3 MiB: head 0x6022
  const struct {
    const char* name;
    std::uint32_t head;
    bool refused;  // true: refused outright; false: decodes something, safely
  } rows[] = {
      {"variant 0", 0x0022, true},     {"variant 5 (F)", 0x5022, true},
      {"variant 7 (H)", 0x7022, true}, {"variant 15", 0xF022, true},
      {"bit 16 set", 0x16022, true},   {"bit 31 set", 0x80006022u, true},
      {"order 1", 0x6020, false},      {"order 16", 0x602F, false},
      {"memory 1 MiB", 0x6002, false}, {"memory 100 MiB", 0x6632, false},
      {"order 2", 0x6021, false},      {"all fields at their limits", 0x6FFF, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes bad = packed;
    for (int i = 0; i < 4; ++i)
      bad[i] = static_cast<std::uint8_t>(row.head >> (8 * i));
    if (row.refused) ExpectPPMError([&] { Unpack(bad, 4000); }, "PPM Decompression error");
    ExpectCleanDispatch(bad, 4000);
  }
}

TEST(VEZPPMTest, TruncationAtEveryLengthFailsCleanly) {
  const Bytes data = TextLike(600, 71);
  const Bytes packed = Pack(data, 5);
  int refused = 0;
  for (std::size_t len = 0; len < packed.size(); ++len) {
    SCOPED_TRACE(len);
    const Bytes cut(packed.begin(), packed.begin() + static_cast<long>(len));
    TVEZHeapBuffer out;
    std::int32_t out_size = 600;
    if (DecompressBuffer(acaPPM, cut.data(), static_cast<std::int32_t>(cut.size()), out,
                         out_size)) {
      // Only the coder's last flush bytes can go missing unnoticed: the
      // decoder reads all bits set in their place.
      EXPECT_GE(len, packed.size() - 4);
      EXPECT_EQ(Bytes(out.get(), out.get() + out_size), data);
    } else {
      EXPECT_EQ(out.get(), nullptr);
      EXPECT_EQ(out_size, len == 0 ? 600 : 0);  // no input: nothing touched
      ++refused;
    }
  }
  EXPECT_GE(refused, static_cast<int>(packed.size()) - 4);
}

TEST(VEZPPMTest, RandomDamageFailsCleanly) {
  std::mt19937 rng(81);
  const Bytes data = Mixed(20000, 82);
  const int rounds = kSanitized ? 120 : 400;
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    const int mode = 1 + static_cast<int>(rng() % 3);
    Bytes bad;
    switch (rng() % 3) {
      case 0: {  // flipped bytes in a sound stream
        bad = Pack(Bytes(data.begin(), data.begin() + 2000 + rng() % 5000), mode);
        const int flips = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < flips; ++k)
          bad[4 + rng() % (bad.size() - 4)] ^= static_cast<std::uint8_t>(1 + rng() % 255);
        break;
      }
      case 1: {  // a sound head over random bytes
        bad = RandomBytes(rng() % 3000, rng());
        bad.insert(bad.begin(), {0x11, 0x60, 0, 0});
        bad[0] = static_cast<std::uint8_t>(rng() % 256);
        bad[1] = static_cast<std::uint8_t>(0x60 | (rng() % 2));
        break;
      }
      default:  // random bytes from the start
        bad = RandomBytes(rng() % 300, rng());
        break;
    }
    const auto expected = static_cast<std::int32_t>(1 + rng() % 8000);
    ExpectCleanDispatch(bad, expected);
    // Whatever went wrong inside, the caller sees the one decompression text.
    try {
      Unpack(bad, expected);
    } catch (const EPPMError& e) {
      EXPECT_EQ(e.Message(), "PPM Decompression error");
    }
  }
}

TEST(VEZPPMTest, NoStateCarriesFromOneCallToTheNext) {
  const Bytes a = TextLike(30000, 91);
  const Bytes b = Mixed(200000, 92);
  const Bytes first = Pack(a, 4);
  Pack(b, 4);
  ExpectCleanDispatch(RandomBytes(500, 93), 3000);
  try {
    TScopedCompressionHeapFailure failing;
    Pack(b, 4);
    ADD_FAILURE() << "no exception";
  } catch (const std::bad_alloc&) {
  }
  EXPECT_EQ(Pack(a, 4), first);
  EXPECT_EQ(Unpack(first, 30000), a);
}

TEST(VEZPPMTest, ConcurrentCallsMatchSequentialOnes) {
  std::vector<Bytes> inputs;
  std::vector<Bytes> expected;
  for (std::uint32_t i = 0; i < 4; ++i) {
    inputs.push_back(Mixed(60000, 100 + i));
    expected.push_back(Pack(inputs.back(), 1 + static_cast<int>(i)));
  }
  std::vector<Bytes> got(4);
  std::vector<Bytes> back(4);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      for (int k = 0; k < 3; ++k) {
        got[i] = Pack(inputs[i], 1 + static_cast<int>(i));
        back[i] = Unpack(got[i], static_cast<std::int32_t>(inputs[i].size()));
      }
    });
  }
  for (auto& t : threads)
    t.join();
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i], expected[i]);
    EXPECT_EQ(back[i], inputs[i]);
  }
}

// The sub-allocator over a 1 MiB block: 70997 units between the marks, then
// the reserve of 128 blocks of 128 units at offset 0.
class PPMSubAllocatorTest : public ::testing::Test {
 protected:
  using Ref = TPPMSubAllocator::Ref;
  static constexpr Ref kNil = TPPMSubAllocator::kNil;
  static constexpr std::uint32_t kUnit = TPPMSubAllocator::kUnitSize;
  static constexpr std::uint32_t kSize = 1048576;

  void SetUp() override { alloc_.Attach(block_.data(), kSize); }

  // Takes every unit between the marks.
  void ExhaustTheMarks() {
    const std::uint32_t units = (alloc_.HighMark() - alloc_.LowMark()) / kUnit;
    EXPECT_EQ(units, 70997u);
    for (std::uint32_t i = 0; i < units; ++i)
      ASSERT_NE(alloc_.AllocContext(), kNil);
    EXPECT_EQ(alloc_.HighMark(), alloc_.LowMark());
  }

  std::vector<std::uint8_t> block_ = std::vector<std::uint8_t>(kSize);
  TPPMSubAllocator alloc_;
};

TEST_F(PPMSubAllocatorTest, ClassesAndMarks) {
  const struct {
    int n;
    int units;
  } rows[] = {{1, 1},   {4, 4},   {5, 6},   {7, 8},     {11, 12},   {13, 15},  {16, 18},
              {24, 24}, {25, 28}, {29, 32}, {124, 124}, {125, 128}, {128, 128}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.n);
    EXPECT_EQ(TPPMSubAllocator::ClassUnits(row.n), row.units);
  }
  EXPECT_EQ(alloc_.LowMark(), TPPMSubAllocator::kReserveBytes);
  EXPECT_EQ(alloc_.HighMark(), kSize / kUnit * kUnit);
  // Contexts come from the high mark down, blocks from the low mark up.
  EXPECT_EQ(alloc_.AllocContext(), kSize / kUnit * kUnit - kUnit);
  EXPECT_EQ(alloc_.AllocUnits(5), TPPMSubAllocator::kReserveBytes);
  EXPECT_EQ(alloc_.LowMark(), TPPMSubAllocator::kReserveBytes + 6 * kUnit);
}

TEST_F(PPMSubAllocatorTest, OnlyALargerClassIsSplitOnceTheMarksMeet) {
  ExhaustTheMarks();
  // The request that meets the marks cuts the reserve onto the largest
  // class's list, but a class is never split to serve itself: it fails.
  EXPECT_EQ(alloc_.AllocUnits(128), kNil);
  // The next one of that class takes a reserve block from its list.
  EXPECT_EQ(alloc_.AllocUnits(125), 0u);
  // Smaller requests split reserve blocks; the rest goes back as one block
  // of the class of its exact size...
  EXPECT_EQ(alloc_.AllocUnits(100), 128 * kUnit);
  EXPECT_EQ(alloc_.AllocUnits(27), 228 * kUnit);  // the rest of 28 units
  // ...or as a block of the next smaller class plus the remainder.
  EXPECT_EQ(alloc_.AllocUnits(5), 256 * kUnit);  // rest 122 = 120 + 2
  EXPECT_EQ(alloc_.AllocUnits(120), 262 * kUnit);
  EXPECT_EQ(alloc_.AllocUnits(2), 382 * kUnit);
  // A context now comes from the free lists as well.
  const Ref one = alloc_.AllocUnits(1);
  ASSERT_NE(one, kNil);
  alloc_.FreeUnits(one, 1);
  EXPECT_EQ(alloc_.AllocContext(), one);
}

TEST_F(PPMSubAllocatorTest, GrowAndShrinkFollowTheClasses) {
  const Ref lo = alloc_.LowMark();
  // Growing inside a class keeps the block; across classes it moves and the
  // old block goes to its class's list.
  const Ref a = alloc_.AllocUnits(7);  // 8 units
  EXPECT_EQ(alloc_.Grow(a, 7), a);
  const Ref b = alloc_.AllocUnits(2);
  block_[b] = 0xAB;
  const Ref grown = alloc_.Grow(b, 2);
  EXPECT_NE(grown, b);
  EXPECT_EQ(block_[grown], 0xAB);
  EXPECT_EQ(alloc_.AllocUnits(2), b);

  // Shrinking with no free block of the smaller class cuts in place, keeping
  // a whole block of that class: 10 units to 7 keeps 8 and frees 2.
  const Ref c = alloc_.AllocUnits(10);
  EXPECT_EQ(c, lo + 13 * kUnit);
  EXPECT_EQ(alloc_.Shrink(c, 10, 7), c);
  EXPECT_EQ(alloc_.AllocUnits(2), c + 8 * kUnit);

  // With a free block of the smaller class the units move there.
  const Ref d = alloc_.AllocUnits(4);
  alloc_.FreeUnits(d, 4);
  const Ref e = alloc_.AllocUnits(6);
  block_[e] = 0xCD;
  EXPECT_EQ(alloc_.Shrink(e, 6, 4), d);
  EXPECT_EQ(block_[d], 0xCD);
  EXPECT_EQ(alloc_.AllocUnits(6), e);
}

TEST(VEZPPMTest, DecoderReadsPastTheEndAsAllBitsSet) {
  const Bytes four = {0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(TPPMRangeDecoder(four.data(), 4).Code(), 0x12345678u);
  for (std::size_t n : {0, 1, 2, 3}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(TPPMRangeDecoder(four.data(), n).Code(), 0xFFFFFFFFu);
  }
  // A narrow interval shifts one more byte in.
  const Bytes five = {0x12, 0x34, 0x56, 0x78, 0x9A};
  for (std::size_t n : {4, 5}) {
    SCOPED_TRACE(n);
    TPPMRangeDecoder rc(five.data(), n);
    rc.CountBinary();
    rc.Decode(0, 1);
    rc.Normalize();
    EXPECT_EQ(rc.Code(), n == 5 ? 0x3456789Au : 0xFFFFFFFFu);
  }
}

// Normalisation shifts a settled top byte out before looking at the range;
// the range is cut only when the top byte is not settled yet.
TEST(VEZPPMTest, EncoderNormalisationOrder) {
  const struct {
    std::uint32_t low, range;
    Bytes out;
    std::uint32_t low_after, range_after;
  } rows[] = {
      {0x12345678, 0x100, {0x12, 0x34}, 0x56780000, 0x1000000},
      {0x00FFFF00, 0x200, {0x00}, 0xFFFF0000, 0x10000},
      {0x12345678, 0x01000000, {}, 0x12345678, 0x01000000},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.low);
    TPPMOutput out(8);
    TPPMRangeEncoder rc(out);
    rc.SetRegisters(row.low, row.range);
    rc.Normalize();
    EXPECT_EQ(Bytes(out.Data(), out.Data() + out.Position()), row.out);
    EXPECT_EQ(rc.Low(), row.low_after);
    EXPECT_EQ(rc.Range(), row.range_after);
  }
}

TEST(VEZPPMTest, DispatcherRoundTripsAndRefuses) {
  const Bytes data = TextLike(20000, 111);
  TVEZHeapBuffer out;
  std::int32_t out_size = 0;
  ASSERT_TRUE(CompressBuffer(acaPPM, 6, data.data(), 20000, out, out_size));
  const Bytes packed(out.get(), out.get() + out_size);
  EXPECT_EQ(packed, Pack(data, 6));

  TVEZHeapBuffer back;
  std::int32_t back_size = 20000;
  ASSERT_TRUE(DecompressBuffer(acaPPM, packed.data(), out_size, back, back_size));
  EXPECT_EQ(Bytes(back.get(), back.get() + back_size), data);

  // Refusals: no input, no expected size, a wrong expected size, damage.
  out_size = 5;
  EXPECT_FALSE(CompressBuffer(acaPPM, 6, data.data(), 0, out, out_size));
  EXPECT_EQ(out_size, 0);
  back.reset();
  back_size = 0;
  EXPECT_FALSE(DecompressBuffer(acaPPM, packed.data(), out_size, back, back_size));
  const struct {
    const char* name;
    std::int32_t expected;
    Bytes in;
  } rows[] = {
      {"unknown size", 0, packed},
      {"too small a size", 19999, packed},
      {"too large a size", 20001, packed},
      {"other variant", 20000,
       [&] {
         Bytes b = packed;
         b[1] = 0x70;
         return b;
       }()},
      {"body of zeros", 20000,
       [&] {
         Bytes b = packed;
         std::fill(b.begin() + 4, b.end(), 0);
         return b;
       }()},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TVEZHeapBuffer o;
    std::int32_t n = row.expected;
    EXPECT_FALSE(
        DecompressBuffer(acaPPM, row.in.data(), static_cast<std::int32_t>(row.in.size()), o, n));
    EXPECT_EQ(n, 0);
    EXPECT_EQ(o.get(), nullptr);
  }
  EXPECT_EQ(MaxDecompressedSize(acaPPM, 10), 10 * kMaxPPMRatio);
  EXPECT_EQ(MaxDecompressedSize(acaPPM, 0), 0);
}

}  // namespace
}  // namespace vez

#include "dbengine/foundation/VEZBitsArray.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryStream.h"
#include "platform/core/Exceptions.h"

namespace vez {
namespace {

void ExpectNative(std::int32_t code, const auto& fn) {
  try {
    fn();
    ADD_FAILURE() << "expected native error " << code;
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), code) << e.Message();
  }
}

TVEZBitsArray& WithBits(TVEZBitsArray& a, std::int32_t size, std::vector<std::int32_t> set) {
  a.SetSize(size);
  for (std::int32_t b : set)
    a.SetBit(b, true);
  return a;
}

TEST(VEZBitsArrayTest, RankSelectExamples) {
  TVEZBitsArray a;
  WithBits(a, 10, {0, 3, 9});
  EXPECT_EQ(a.NonZeroBitCount(), 3);
  EXPECT_EQ(a.GetBitNoByBitPosition(2), 9);
  EXPECT_EQ(a.GetBitNoByBitPosition(0), 0);
  EXPECT_EQ(a.GetBitPositionByBitNo(3), 1);
  EXPECT_EQ(a.GetBitPositionByBitNo(5), 1);
  EXPECT_EQ(a.GetBitPositionByBitNo(0), 0);
  EXPECT_EQ(a.GetBitPositionByBitNo(9), 2);
  TVEZBitsArray b;
  WithBits(b, 10, {4});
  EXPECT_EQ(b.GetBitPositionByBitNo(2), -1);  // no set bit before
}

TEST(VEZBitsArrayTest, ResizeClearsWhatComesIntoRange) {
  TVEZBitsArray a;
  a.SetSize(5);
  a.SetAllBits();
  EXPECT_EQ(a.NonZeroBitCount(), 5);
  a.SetSize(7);
  EXPECT_FALSE(a.GetBit(5));
  EXPECT_FALSE(a.GetBit(6));
  EXPECT_EQ(a.NonZeroBitCount(), 5);

  TVEZBitsArray b;
  WithBits(b, 10, {0, 3, 9});
  b.SetSize(2);
  EXPECT_EQ(b.NonZeroBitCount(), 1);
  b.SetSize(200);  // bits 3 and 9 were cut and stay cut
  EXPECT_EQ(b.NonZeroBitCount(), 1);
  for (std::int32_t i = 1; i < 200; ++i)
    ASSERT_FALSE(b.GetBit(i)) << i;
  std::int32_t found;
  EXPECT_TRUE(b.Find(true, false, 0, found));
  EXPECT_EQ(found, 0);

  TVEZBitsArray c;
  c.SetSize(130);
  c.SetAllBits();
  c.SetSize(65);
  EXPECT_EQ(c.NonZeroBitCount(), 65);
  c.SetSize(130);
  EXPECT_EQ(c.NonZeroBitCount(), 65);
  EXPECT_EQ(c.GetBitNoByBitPosition(64), 64);
  EXPECT_FALSE(c.GetBit(65));
  // Grown one bit at a time (the buffer keeps room), then cut and grown
  // again inside the room: what was cut reads as zero.
  TVEZBitsArray d;
  for (std::int32_t i = 0; i < 5000; ++i) {
    d.SetSize(i + 1);
    d.SetBit(i, true);
  }
  EXPECT_EQ(d.NonZeroBitCount(), 5000);
  d.SetSize(100);
  d.SetSize(4000);
  EXPECT_EQ(d.NonZeroBitCount(), 100);
  std::int32_t last = -1;
  EXPECT_TRUE(d.Find(true, false, 0, last));
  EXPECT_EQ(last, 99);
  c.SetSize(0);
  EXPECT_EQ(c.Bits(), nullptr);
  EXPECT_EQ(c.NonZeroBitCount(), 0);
}

TEST(VEZBitsArrayTest, FindAndFindBit) {
  TVEZBitsArray a;
  WithBits(a, 10, {3, 9});
  std::int32_t f = -7;
  EXPECT_TRUE(a.Find(true, false, 0, f));
  EXPECT_EQ(f, 9);
  EXPECT_FALSE(a.Find(false, false, 0, f));
  EXPECT_TRUE(a.Find(false, false, 9, f));
  EXPECT_EQ(f, 3);
  EXPECT_TRUE(a.Find(false, true, 3, f));
  EXPECT_EQ(f, 9);
  EXPECT_FALSE(a.Find(false, true, 9, f));
  EXPECT_TRUE(a.Find(true, true, 5, f));
  EXPECT_EQ(f, 3);
  EXPECT_TRUE(a.FindBit(true, f));
  EXPECT_EQ(f, 3);
  EXPECT_TRUE(a.FindBit(false, f));
  EXPECT_EQ(f, 0);
  TVEZBitsArray full;
  full.SetSize(70);
  full.SetAllBits();
  EXPECT_FALSE(full.FindBit(false, f));  // bits past the size never count
  TVEZBitsArray empty;
  EXPECT_FALSE(empty.Find(true, true, 0, f));
  EXPECT_FALSE(empty.FindBit(true, f));
}

TEST(VEZBitsArrayTest, ErrorsAndNegativeBitNumbers) {
  TVEZBitsArray a;
  WithBits(a, 10, {1});
  ExpectNative(10394, [&] { a.GetBit(10); });
  ExpectNative(10394, [&] { a.GetBit(-1); });
  ExpectNative(10395, [&] { a.SetBit(10, true); });
  ExpectNative(10395, [&] { a.SetBit(-8, true); });
  ExpectNative(10428, [&] { a.GetBitNoByBitPosition(1); });
  ExpectNative(10428, [&] { a.GetBitNoByBitPosition(-1); });
  ExpectNative(10429, [&] { a.GetBitPositionByBitNo(10); });
  ExpectNative(10429, [&] { a.GetBitPositionByBitNo(-1); });
  try {
    a.GetBit(12);
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.Message(), "Invalid bit no = 12, number of bits = 10 - Native error: 10394");
  }
  EXPECT_THROW(a.SetSize(-1), platform::EIntOverflow);
  EXPECT_EQ(a.Size(), 10);
  EXPECT_EQ(a.NonZeroBitCount(), 1);
}

// Rank and select against a plain vector<bool>, over sizes that straddle
// word boundaries, sparse and dense.
TEST(VEZBitsArrayTest, RankSelectAgainstNaiveOracle) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 60; ++round) {
    const auto size = static_cast<std::int32_t>(1 + rng() % 700);
    const unsigned density = rng() % 4;  // 0: sparse .. 3: nearly full
    TVEZBitsArray a;
    a.SetSize(size);
    std::vector<bool> model(static_cast<std::size_t>(size));
    for (std::int32_t i = 0; i < size; ++i) {
      const bool v = density == 3 ? rng() % 50 != 0 : rng() % (8 >> density) == 0;
      a.SetBit(i, v);
      model[static_cast<std::size_t>(i)] = v;
    }
    if (round % 10 == 0) a.SetAllBits(), model.assign(model.size(), true);
    std::vector<std::int32_t> ones;
    for (std::int32_t i = 0; i < size; ++i)
      if (model[static_cast<std::size_t>(i)]) ones.push_back(i);
    ASSERT_EQ(a.NonZeroBitCount(), static_cast<std::int32_t>(ones.size()));
    for (std::size_t k = 0; k < ones.size(); ++k)
      ASSERT_EQ(a.GetBitNoByBitPosition(static_cast<std::int32_t>(k)), ones[k]);
    std::int32_t rank = -1;
    for (std::int32_t i = 0; i < size; ++i) {
      if (model[static_cast<std::size_t>(i)]) ++rank;
      ASSERT_EQ(a.GetBitPositionByBitNo(i), rank) << "size " << size << " bit " << i;
      std::int32_t f;
      const bool fwd = a.Find(false, true, i, f);
      const auto next = std::upper_bound(ones.begin(), ones.end(), i);
      ASSERT_EQ(fwd, next != ones.end());
      if (fwd) {
        ASSERT_EQ(f, *next);
      }
      const bool back = a.Find(false, false, i, f);
      const auto prev = std::lower_bound(ones.begin(), ones.end(), i);
      ASSERT_EQ(back, prev != ones.begin());
      if (back) {
        ASSERT_EQ(f, *(prev - 1));
      }
    }
    // A random shrink and regrowth keeps the count exact.
    const auto cut = static_cast<std::int32_t>(rng() % static_cast<unsigned>(size + 1));
    a.SetSize(cut);
    a.SetSize(size);
    const auto kept = std::lower_bound(ones.begin(), ones.end(), cut) - ones.begin();
    ASSERT_EQ(a.NonZeroBitCount(), static_cast<std::int32_t>(kept));
  }
}

TEST(VEZBitsArrayTest, StreamForm) {
  TVEZBitsArray empty;
  TVEZMemoryStream s0;
  empty.SaveToStream(s0);
  ASSERT_EQ(s0.Size(), 8);
  EXPECT_EQ(std::memcmp(s0.Buffer(), "\0\0\0\0\0\0\0\0", 8), 0);

  TVEZBitsArray a;
  WithBits(a, 10, {0, 3, 9});
  TVEZMemoryStream s;
  a.SaveToStream(s);
  ASSERT_EQ(s.Size(), 10);  // counts + 2 bytes of bits
  const std::uint8_t expected[] = {10, 0, 0, 0, 3, 0, 0, 0, 0x09, 0x02};
  EXPECT_EQ(std::memcmp(s.Buffer(), expected, sizeof expected), 0);
  s.SetPosition(0);
  TVEZBitsArray b;
  b.LoadFromStream(s);
  EXPECT_EQ(b.Size(), 10);
  EXPECT_EQ(b.NonZeroBitCount(), 3);
  EXPECT_TRUE(b.GetBit(9));
  EXPECT_FALSE(b.GetBit(8));
}

TEST(VEZBitsArrayTest, LoadRefusesDamagedStreamsAndKeepsContent) {
  struct Row {
    std::vector<std::uint8_t> bytes;
    std::int32_t code;
  };
  const Row rows[] = {
      {{10, 0}, 10401},                                  // short count
      {{10, 0, 0, 0, 3, 0}, 10426},                      // short set-bit count
      {{10, 0, 0, 0, 3, 0, 0, 0, 0x09}, 10402},          // short bits
      {{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, 10401},     // negative count
      {{10, 0, 0, 0, 11, 0, 0, 0, 0xFF, 0xFF}, 10426},   // more set than bits
      {{10, 0, 0, 0, 2, 0, 0, 0, 0x09, 0x02}, 10426},    // count does not match the bits
      {{0, 0, 0, 0, 1, 0, 0, 0}, 10426},                 // set bits in an empty array
      {{0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0, 0}, 10402},  // a count the stream cannot hold
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.code);
    TVEZBitsArray a;
    WithBits(a, 20, {1, 19});
    TVEZMemoryStream s;
    s.Write(r.bytes.data(), static_cast<std::int32_t>(r.bytes.size()));
    s.SetPosition(0);
    ExpectNative(r.code, [&] { a.LoadFromStream(s); });
    EXPECT_EQ(a.Size(), 20);
    EXPECT_EQ(a.NonZeroBitCount(), 2);
    EXPECT_TRUE(a.GetBit(19));
  }
  // Stray bits past the count in the last byte are dropped, not counted.
  TVEZBitsArray a;
  TVEZMemoryStream s;
  const std::uint8_t bytes[] = {3, 0, 0, 0, 1, 0, 0, 0, 0xF1};
  s.Write(bytes, sizeof bytes);
  s.SetPosition(0);
  a.LoadFromStream(s);
  EXPECT_EQ(a.NonZeroBitCount(), 1);
  a.SetSize(8);
  EXPECT_EQ(a.NonZeroBitCount(), 1);
}

TEST(VEZBitsArrayTest, SaveRaisesOnShortWrite) {
  // A stream that takes `room` bytes and then nothing more.
  class FullStream : public TVEZMemoryStream {
   public:
    explicit FullStream(std::int32_t room) : room_(room) {}
    std::int32_t Write(const void* buffer, std::int32_t count) override {
      const std::int32_t n = std::min(count, room_);
      room_ -= n;
      return n > 0 ? TVEZMemoryStream::Write(buffer, n) : 0;
    }

   private:
    std::int32_t room_;
  };
  struct Row {
    std::int32_t room, code;
  };
  // The bit count, the set-bit count, then the bits (two bytes for 10 bits).
  const Row rows[] = {{0, 10398}, {3, 10398}, {4, 10427}, {7, 10427}, {8, 10400}, {9, 10400}};
  TVEZBitsArray a;
  WithBits(a, 10, {1, 9});
  for (const Row& r : rows) {
    SCOPED_TRACE(r.room);
    FullStream s(r.room);
    ExpectNative(r.code, [&] { a.SaveToStream(s); });
  }
  FullStream s(10);
  a.SaveToStream(s);
  EXPECT_EQ(s.Size(), 10);
}

}  // namespace
}  // namespace vez

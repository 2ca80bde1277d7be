#include "dbengine/foundation/VEZDecimalRound.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "platform/core/Exceptions.h"

namespace vez {
namespace {

TEST(VEZDecimalRoundTest, ErrorBoundBits) {
  EXPECT_EQ(std::bit_cast<std::uint64_t>(DecimalRoundErrorBound()), 0x3CC3C0000001E5EDull);
  EXPECT_DOUBLE_EQ(DecimalRoundErrorBound(), 5.481726184209375e-16);
}

struct RoundCase {
  double value;
  std::int32_t digits;
  std::uint8_t mode;
  double expected;
};

TEST(VEZDecimalRoundTest, Goldens) {
  const RoundCase cases[] = {
      {2.5, 0, kRoundHalfEven, 2},
      {3.5, 0, kRoundHalfEven, 4},
      {0.125, 2, kRoundHalfEven, 0.12},
      {0.135, 2, kRoundHalfEven, 0.14},
      {1.005, 2, kRoundHalfUp, 1.01},
      {1.005, 2, kRoundHalfEven, 1.0},
      {2.675, 2, kRoundHalfUp, 2.68},
      {2.675, 2, kRoundHalfDown, 2.67},
      {-2.5, 0, kRoundHalfPos, -2},
      {-2.5, 0, kRoundHalfNeg, -3},
      {-2.5, 0, kRoundHalfDown, -2},
      {-2.5, 0, kRoundHalfUp, -3},
      {1.0000000000000002, 0, kRoundRndPos, 1},
      {1.1, 0, kRoundRndPos, 2},
      {-1.1, 0, kRoundRndNeg, -2},
      {-1.1, 0, kRoundRndDown, -1},
      {1.1, 0, kRoundRndUp, 2},
      {1234.5, -2, kRoundHalfEven, 1200},
      {1250, -2, kRoundHalfEven, 1200},
      {1250, -2, kRoundHalfUp, 1300},
      {1234.5678, 2, kRoundHalfEven, 1234.57},
      {1234.5678, -2, kRoundHalfEven, 1200},
      {2.5, 0, 77, 2},
      {3.7, 0, kRoundNone, 3.7},
      {0, 0, kRoundRndPos, 0},
      {0, 0, kRoundRndUp, 0},
      {-0.5, 0, kRoundHalfEven, 0},
  };
  for (const RoundCase& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.value << " digits " << c.digits << " mode " << int(c.mode));
    EXPECT_DOUBLE_EQ(static_cast<double>(DecimalRoundDouble(c.digits, c.mode, c.value)),
                     c.expected);
  }
}

TEST(VEZDecimalRoundTest, NanAndInfinitiesUnchangedUnderEveryMode) {
  const double specials[] = {std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity()};
  for (double v : specials) {
    EXPECT_TRUE(IsNanOrInf(v));
    for (int mode = 0; mode <= 10; ++mode) {
      SCOPED_TRACE(testing::Message() << v << " mode " << mode);
      const long double r = DecimalRoundDouble(2, static_cast<std::uint8_t>(mode), v);
      if (std::isnan(v))
        EXPECT_TRUE(std::isnan(r));
      else
        EXPECT_EQ(r, static_cast<long double>(v));
    }
  }
  EXPECT_FALSE(IsNanOrInf(0.0L));
  EXPECT_FALSE(IsNanOrInf(std::numeric_limits<long double>::max()));
}

// Out of the 64-bit range the scaled value cannot be converted: a clear
// error, never a silent garbage result.
TEST(VEZDecimalRoundTest, ScaledValueOutOfInt64RangeRaises) {
  for (int mode = 1; mode <= 10; ++mode) {
    SCOPED_TRACE(mode);
    EXPECT_THROW(DecimalRoundDouble(2, static_cast<std::uint8_t>(mode), 1e300),
                 platform::EMathError);
  }
  EXPECT_THROW(DecimalRoundDouble(2, kRoundHalfEven, 1e300), platform::EMathError);
  EXPECT_THROW(DecimalRoundDouble(400, kRoundHalfEven, 1.5), platform::EMathError);
}

// Beyond 2^52 the tolerance reaches half a unit: a whole number must not move
// to its neighbour, and a value with a fraction still rounds by its fraction.
TEST(VEZDecimalRoundTest, LargeMagnitudesKeepWholeNumbers) {
  const double big[] = {4503599627370497.0, 9007199254740993.0 /* rounds to ...992 */, 1e17, -1e17,
                        1152921504606846977.0};
  for (double v : big) {
    for (int mode = 1; mode <= 9; ++mode) {
      SCOPED_TRACE(testing::Message() << v << " mode " << mode);
      EXPECT_EQ(DecimalRoundDouble(0, static_cast<std::uint8_t>(mode), v),
                static_cast<long double>(v));
    }
  }
  // Halves at 2^51, where the tolerance is above one unit: ties still follow
  // the mode instead of being carried past the neighbour.
  const long double base = 2251799813685248.0L;  // 2^51
  EXPECT_EQ(DecimalRoundDouble(0, kRoundHalfDown, 2251799813685248.5), base);
  EXPECT_EQ(DecimalRoundDouble(0, kRoundHalfUp, 2251799813685248.5), base + 1);
  EXPECT_EQ(DecimalRoundDouble(0, kRoundHalfEven, 2251799813685248.5), base);
  EXPECT_EQ(DecimalRoundDouble(0, kRoundHalfEven, 2251799813685249.5), base + 2);
  EXPECT_EQ(DecimalRoundDouble(0, kRoundHalfNeg, -2251799813685248.5), -base - 1);
  EXPECT_EQ(DecimalRoundDouble(0, kRoundRndUp, -2251799813685248.5), -base - 1);
  EXPECT_EQ(DecimalRoundDouble(0, kRoundRndDown, 2251799813685248.5), base);
}

// Exact rounding of a value whose fraction is known, as the modes define it.
long double ExactOracle(long double v, std::uint8_t mode) {
  const long double lo = std::floor(v), hi = lo + 1, frac = v - lo;
  if (frac == 0) return v;
  switch (mode) {
    case kRoundRndNeg:
      return lo;
    case kRoundRndPos:
      return hi;
    case kRoundRndDown:
      return std::trunc(v);
    case kRoundRndUp:
      return v < 0 ? lo : hi;
    default:
      break;
  }
  if (frac != 0.5L) return frac < 0.5L ? lo : hi;
  switch (mode) {
    case kRoundHalfPos:
      return hi;
    case kRoundHalfNeg:
      return lo;
    case kRoundHalfDown:
      return std::trunc(v);
    case kRoundHalfUp:
      return v < 0 ? lo : hi;
    default:
      return std::fmod(lo, 2.0L) == 0 ? lo : hi;
  }
}

// From 2^50 to 2^52 the tolerance is half a unit or more, and a double still
// holds quarters there: FLOOR of x.75 must not give x + 1, HALFPOS of x.25
// must not give x + 1. Every mode against the exact rule.
TEST(VEZDecimalRoundTest, LargeMagnitudeFractionsFollowTheModeExactly) {
  std::mt19937_64 rng(45);
  std::uniform_int_distribution<std::int64_t> whole(std::int64_t{1} << 50,
                                                    (std::int64_t{1} << 51) - 1);
  std::uniform_int_distribution<int> quarter(0, 3);
  for (int i = 0; i < 2000; ++i) {
    const double v = (i % 2 ? -1.0 : 1.0) * (static_cast<double>(whole(rng)) + 0.25 * quarter(rng));
    for (int mode = 1; mode <= 10; ++mode) {
      SCOPED_TRACE(testing::Message() << std::fixed << v << " mode " << mode);
      ASSERT_EQ(DecimalRoundDouble(0, static_cast<std::uint8_t>(mode), v),
                ExactOracle(v, static_cast<std::uint8_t>(mode)));
    }
  }
  // The same at a scale of tenths: 2^50 / 10 + 0.075 at 1 digit.
  EXPECT_EQ(DecimalRoundDouble(1, kRoundRndNeg, 112589990684262.375),
            std::floor(1125899906842623.75L) / 10);
}

// A digit count past any finite scale raises at once instead of spinning.
TEST(VEZDecimalRoundTest, HugeDigitCountRaises) {
  EXPECT_THROW(DecimalRoundDouble(std::numeric_limits<std::int32_t>::max(), kRoundHalfEven, 1.5),
               platform::EMathError);
  // Past the extended range to the left the scale is infinite too: an error,
  // not the value handed back unrounded.
  EXPECT_THROW(DecimalRoundDouble(std::numeric_limits<std::int32_t>::min(), kRoundHalfEven, 1.5),
               platform::EMathError);
  EXPECT_EQ(DecimalRoundDouble(-400, kRoundHalfEven, 1.5), 0);
}

}  // namespace
}  // namespace vez

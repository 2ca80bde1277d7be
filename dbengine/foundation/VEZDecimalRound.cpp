#include "dbengine/foundation/VEZDecimalRound.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "platform/core/Exceptions.h"

namespace vez {

namespace {

// Nearest integer, ties to even, as a signed 64-bit integer; outside that
// range the conversion is an invalid operation.
long double RoundToInt64(long double x) {
  constexpr long double kLimit = 9223372036854775808.0L;  // 2^63
  const long double r = std::nearbyint(x);
  if (!(r >= -kLimit && r < kLimit)) throw platform::EMathError("Invalid floating point operation");
  return static_cast<long double>(static_cast<std::int64_t>(r));
}

}  // namespace

double DecimalRoundErrorBound() {
  return std::bit_cast<double>(std::uint64_t{0x3CC3C0000001E5EDull});
}

bool IsNanOrInf(long double value) {
  // The 80-bit layout: 64-bit significand, then sign and 15-bit exponent.
  static_assert(sizeof(long double) >= 10);
  unsigned char bytes[sizeof(long double)];
  std::memcpy(bytes, &value, sizeof value);
  std::uint64_t significand = 0;
  for (int i = 7; i >= 0; --i)
    significand = (significand << 8) | bytes[i];
  const std::uint16_t exponent = static_cast<std::uint16_t>((bytes[8] | (bytes[9] << 8)) & 0x7FFF);
  return exponent == 0x7FFF && significand != 0;
}

long double DecimalRound(std::int32_t digits, std::uint8_t mode, double error_bound,
                         long double value) {
  if (IsNanOrInf(value) || mode == kRoundNone) return value;
  long double p = 1.0L;
  const std::int64_t count = digits < 0 ? -static_cast<std::int64_t>(digits) : digits;
  for (std::int64_t i = 0; i < count; ++i)
    p *= 10.0L;
  const long double tolerance = std::fabs(value * static_cast<long double>(error_bound));
  const long double g = digits >= 0 ? value * p : value / p;
  long double f = digits >= 0 ? tolerance * p : tolerance / p;
  // A whole number stays as it is. Where the tolerance reaches half a unit it
  // would move the result to a neighbour: a quarter unit still breaks ties.
  if (std::isfinite(g) && g == std::trunc(g) && std::fabs(g) < 9223372036854775808.0L) return value;
  if (!(f < 0.5L)) f = 0.25L;
  const long double ag = std::fabs(g);
  long double n;
  switch (mode) {
    case kRoundHalfEven: {
      const long double a = RoundToInt64(g - f);
      n = std::fmod(a, 2.0L) != 0.0L ? RoundToInt64(g + f) : a;
      break;
    }
    case kRoundHalfPos:
      n = RoundToInt64(g + f);
      break;
    case kRoundHalfNeg:
      n = RoundToInt64(g - f);
      break;
    case kRoundHalfDown:
      n = RoundToInt64(ag - f);
      break;
    case kRoundHalfUp:
      n = RoundToInt64(ag + f);
      break;
    case kRoundRndNeg:
      n = RoundToInt64(g + f - 0.5L);
      break;
    case kRoundRndPos:
      n = RoundToInt64(g - f + 0.5L);
      break;
    case kRoundRndDown:
      n = RoundToInt64(ag + f - 0.5L);
      break;
    case kRoundRndUp:
      n = RoundToInt64(ag - f + 0.5L);
      break;
    default:
      n = RoundToInt64(g);
      break;
  }
  long double result = digits >= 0 ? n / p : n * p;
  if ((mode == kRoundHalfDown || mode == kRoundHalfUp || mode == kRoundRndDown ||
       mode == kRoundRndUp) &&
      value < 0)
    result = -result;
  return result;
}

long double DecimalRoundDouble(std::int32_t digits, std::uint8_t mode, double value) {
  return DecimalRound(digits, mode, DecimalRoundErrorBound(), static_cast<long double>(value));
}

}  // namespace vez

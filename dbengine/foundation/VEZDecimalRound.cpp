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

// g rounded to a whole number under mode with no tolerance at all, for
// magnitudes where the tolerance would cover half a unit or more: ties are
// exact there, and any fraction is the value's own.
long double RoundExact(long double g, std::uint8_t mode) {
  const long double lo = std::floor(g);
  const long double hi = lo + 1.0L;
  const long double frac = g - lo;
  if (frac == 0.0L) return RoundToInt64(g);
  const bool even_lo = std::fmod(lo, 2.0L) == 0.0L;
  long double n;
  switch (mode) {
    case kRoundRndNeg:
      n = lo;
      break;
    case kRoundRndPos:
      n = hi;
      break;
    case kRoundRndDown:
      n = g < 0 ? hi : lo;
      break;
    case kRoundRndUp:
      n = g < 0 ? lo : hi;
      break;
    default:
      if (frac < 0.5L) {
        n = lo;
      } else if (frac > 0.5L) {
        n = hi;
      } else if (mode == kRoundHalfPos) {
        n = hi;
      } else if (mode == kRoundHalfNeg) {
        n = lo;
      } else if (mode == kRoundHalfDown) {
        n = g < 0 ? hi : lo;
      } else if (mode == kRoundHalfUp) {
        n = g < 0 ? lo : hi;
      } else {
        n = even_lo ? lo : hi;
      }
      break;
  }
  return RoundToInt64(n);
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
  // Once the scale is infinite more factors change nothing: stop, so a huge
  // digit count does not spin.
  for (std::int64_t i = 0; i < count && std::isfinite(p); ++i)
    p *= 10.0L;
  // No value survives an infinite scale in either direction.
  if (!std::isfinite(p)) throw platform::EMathError("Invalid floating point operation");
  const long double tolerance = std::fabs(value * static_cast<long double>(error_bound));
  const long double g = digits >= 0 ? value * p : value / p;
  const long double f = digits >= 0 ? tolerance * p : tolerance / p;
  // A whole number stays as it is. Where the tolerance reaches half a unit it
  // would move the result to a neighbour: there the value is rounded exactly.
  if (std::isfinite(g) && g == std::trunc(g) && std::fabs(g) < 9223372036854775808.0L) return value;
  if (!(f < 0.5L)) {
    const long double n = RoundExact(g, mode);
    return digits >= 0 ? n / p : n * p;
  }
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

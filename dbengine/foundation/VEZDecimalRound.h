// Decimal rounding of floating-point values: rounds to a number of decimal
// digits (negative digits round to tens, hundreds ...) under one of the
// engine's rounding modes, with a relative tolerance that absorbs the binary
// representation error of the input (1.005 is stored just below 1.005 but
// rounds HALFUP to 1.01). All arithmetic is in extended precision.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>

namespace vez {

// Rounding modes, stored as a byte; the order of the rounding reserved words.
inline constexpr std::uint8_t kRoundNone = 0;      // value returned unchanged
inline constexpr std::uint8_t kRoundHalfEven = 1;  // nearest, ties to even
inline constexpr std::uint8_t kRoundHalfPos = 2;   // nearest, ties toward +inf
inline constexpr std::uint8_t kRoundHalfNeg = 3;   // nearest, ties toward -inf
inline constexpr std::uint8_t kRoundHalfDown = 4;  // nearest, ties toward zero
inline constexpr std::uint8_t kRoundHalfUp = 5;    // nearest, ties away from zero
inline constexpr std::uint8_t kRoundRndNeg = 6;    // floor
inline constexpr std::uint8_t kRoundRndPos = 7;    // ceiling
inline constexpr std::uint8_t kRoundRndDown = 8;   // truncation
inline constexpr std::uint8_t kRoundRndUp = 9;     // away from zero
// Any other mode rounds to nearest with ties to even and no tolerance.

// The relative input error DecimalRoundDouble allows: the double with bits
// 3CC3C0000001E5ED (about 2.47 double epsilons).
double DecimalRoundErrorBound();

// True for a NaN or either infinity (all exponent bits set).
bool IsNanOrInf(long double value);

// value rounded to digits decimal places under mode, with error_bound as the
// relative tolerance. NaN, infinities and mode 0 return value unchanged, and
// so does a value that is already a whole number at the scale of digits.
// Where the tolerance would reach half a unit (very large values) the value
// is rounded exactly under the mode, so it never moves past a neighbour.
// A scaled value outside the signed 64-bit range raises platform::EMathError
// "Invalid floating point operation".
long double DecimalRound(std::int32_t digits, std::uint8_t mode, double error_bound,
                         long double value);
// DecimalRound of the widened value with DecimalRoundErrorBound().
long double DecimalRoundDouble(std::int32_t digits, std::uint8_t mode, double value);

}  // namespace vez

// FloatDigits: the one rounding rule of every float formatter of the platform
// (Format's %f %e %g %n, FloatToStrF, FloatToStr, CurrToStr): a value is
// rounded on its exact binary value, a half away from zero. So 2.5 with no
// decimals is "3", 0.125 to two decimals "0.13", and 0.145 to two decimals
// "0.14" because the double nearest 0.145 lies just below it. A text that
// shows only zeros has no sign: -0.001 to two decimals is "0.00".
//
// The digits come from std::to_chars, never from printf or the locale. The
// exact decimal expansion is read only where the rounding digit looks like a
// tie; otherwise a few digits past the rounding position decide.
//
// Thread safety: pure functions.
#pragma once

#include <functional>
#include <string>

namespace platform {

// |value| = 0.d1d2... x 10^exponent with d1 != 0; digits without trailing
// zeros. Empty digits stand for 0 (exponent 0). negative is the sign bit.
struct TDecimalDigits {
  bool negative = false;
  std::string digits;
  int exponent = 0;
};

// |value| rounded, halves away from zero, to keep(E) significant digits,
// where E is the value's decimal exponent: keep may be 0 or negative when
// the rounding position lies left of the first digit (then the result is 0,
// or 1 x 10^E for a value of at least half that unit). value must be finite.
TDecimalDigits RoundDecimalDigits(long double value, const std::function<int(int)>& keep);
// Rounded to `significant` digits (at least 1).
TDecimalDigits RoundToSignificant(long double value, int significant);
// Rounded to `decimals` digits after the decimal point (0 or more).
TDecimalDigits RoundToDecimals(long double value, int decimals);

// The integer digits ("0" when there are none) and exactly `decimals`
// fraction digits of a rounded value.
void FixedDigits(const TDecimalDigits& d, int decimals, std::string& int_part,
                 std::string& frac_part);

}  // namespace platform

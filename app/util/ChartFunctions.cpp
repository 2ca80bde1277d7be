#include "app/util/ChartFunctions.h"

#include <cmath>

namespace rvx {

namespace {

// The nearest whole number, halves to the even neighbour, whatever the
// floating-point rounding mode of the moment.
double RoundHalfEven(double x) {
  const double r = std::round(x);  // halves away from zero
  if (std::fabs(x - std::trunc(x)) == 0.5) return 2.0 * std::round(x / 2.0);
  return r;
}

constexpr double kSecond = 1.0 / 86400.0;
constexpr double kMinute = 60 * kSecond;
constexpr double kHour = 60 * kMinute;

}  // namespace

double AxisMaximum(int kind, bool atLeastRange, double value, double range) {
  const double magnitude = std::fabs(range);
  const double step = magnitude < 500 ? 10 : magnitude < 4000 ? 100 : 1000;
  double offset = 0;
  if (kind == 0) offset = -0.2 * magnitude;
  if (kind == 2) offset = 0.2 * magnitude;
  double top = RoundHalfEven((range / 2 + value) / step) * step;
  if (atLeastRange) {
    const double whole = RoundHalfEven(range);
    if (whole > top) top = whole;
  }
  return top + offset;
}

double AxisMinimum(int kind, bool notBelowZero, double value, double range) {
  const double bottom = AxisMaximum(kind, false, value, -range);
  return notBelowZero && bottom < 0 ? 0 : bottom;
}

TTimeAxisFormat TimeAxisFormat(double span) {
  // A span taken as stop - start lies a hair off its true length; compare
  // it to the millisecond, as every date-time decodes.
  const double ms = std::round(span * 86400000.0);
  constexpr double kSecondMs = 1000;
  constexpr double kMinuteMs = 60 * kSecondMs;
  constexpr double kHourMs = 60 * kMinuteMs;
  if (ms > 0 && ms <= 30 * kSecondMs) return {"hh:nn:ss", 2 * kSecond};
  if (ms <= 2 * kMinuteMs) return {"hh:nn:ss", 5 * kSecond};
  if (ms <= 10 * kMinuteMs) return {"hh:nn:ss", 15 * kSecond};
  if (ms <= 30 * kMinuteMs) return {"hh:nn", kMinute};
  if (ms <= kHourMs) return {"hh:nn", 5 * kMinute};
  if (ms <= 12 * kHourMs) return {"hh:nn", 15 * kMinute};
  return {"DD.mmm. hh:nn", kHour};
}

}  // namespace rvx

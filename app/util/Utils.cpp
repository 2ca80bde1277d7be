#include "app/util/Utils.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/core/TextConvert.h"

namespace rvx {

namespace {

// A value counts as absent (zero) in MinNonZero within this distance of 0.
constexpr double kZeroEpsilon = 1e-12;
// Hours and days of a duration are 16-bit counts.
constexpr std::int64_t kMaxWord = 65535;

// Whole days and the hour, minute and second of the day of a duration; days
// clamped to 0 .. 65535 so that every later product fits.
struct DurationParts {
  std::int64_t days = 0;
  std::int64_t hours = 0;
  std::int64_t minutes = 0;
  std::int64_t seconds = 0;
};

DurationParts SplitDuration(TDateTime x) {
  DurationParts p;
  if (!std::isfinite(x)) return p;
  double days = 0;
  std::int32_t ms = 0;
  platform::SplitDateTime(x, days, ms);
  p.days = static_cast<std::int64_t>(std::clamp(days, 0.0, static_cast<double>(kMaxWord)));
  p.hours = ms / 3600000;
  p.minutes = ms / 60000 % 60;
  p.seconds = ms / 1000 % 60;
  return p;
}

std::string Counted(std::int64_t n, const char* unit) {
  std::string s = platform::IntToStr(n) + " " + unit;
  if (n != 1) s += "s";
  return s;
}

}  // namespace

std::string FormatValue(double x) {
  if (x >= 1000) return platform::FloatToStrF(x, platform::TFloatFormat::ffFixed, 6, 0);
  return platform::FloatToStrF(x, platform::TFloatFormat::ffFixed, 4, 1);
}

std::string FormatValueWithUnit(double x, std::string_view unit) {
  std::string s = FormatValue(x);
  s += ' ';
  s += unit;
  return s;
}

std::string IntToZeroPaddedStr(std::int64_t value, int digits) {
  std::string s;
  std::int64_t power = 1;
  for (int c = 1; c < digits; ++c) {
    // 10^19 does not fit; every int64 value lies below it.
    const bool below = c >= 19 || value < (power *= 10);
    if (below) s += '0';
  }
  return s + platform::IntToStr(value);
}

std::string ShaftName(int shaftIndex, int numberOfShafts) {
  if (numberOfShafts != 2) return {};
  return shaftIndex == 0 ? "Port Shaft" : "Starboard Shaft";
}

std::string ShaftShortName(int shaftIndex, int numberOfShafts) {
  if (numberOfShafts != 2) return {};
  return shaftIndex == 0 ? "Port" : "Stbd";
}

std::string SanitizeFileName(std::string_view text) {
  static constexpr std::string_view kRemoved = "\\/:*?\"><|.";
  std::string s;
  s.reserve(text.size());
  for (char c : text)
    if (kRemoved.find(c) == std::string_view::npos) s += c;
  return s;
}

std::string ReverseText(std::string_view text) {
  return std::string(text.rbegin(), text.rend());
}

int LastPos(std::string_view sub, std::string_view s) {
  if (sub.empty()) return 0;
  const std::size_t p = s.rfind(sub);
  return p == std::string_view::npos ? 0 : static_cast<int>(p) + 1;
}

double MinNonZero(double a, double b) {
  const bool a_zero = std::fabs(a) <= kZeroEpsilon;
  const bool b_zero = std::fabs(b) <= kZeroEpsilon;
  return !b_zero && (a_zero || b <= a) ? b : a;
}

double MaxOf(double a, double b) {
  return b >= a ? b : a;
}

void ListToArray(const std::vector<double>& list, std::vector<double>& array) {
  array.assign(list.begin(), list.end());
}

std::string FormatDuration(TDateTime x) {
  const DurationParts p = SplitDuration(x);
  const std::int64_t hours = std::min(p.days * 24 + p.hours, kMaxWord);
  return IntToZeroPaddedStr(hours, 2) + ":" + IntToZeroPaddedStr(p.minutes, 2) + ":" +
         IntToZeroPaddedStr(p.seconds, 2);
}

std::string FormatDurationInWords(TDateTime x) {
  const DurationParts p = SplitDuration(x);
  std::string s;
  if (p.days != 0) s += Counted(p.days, "day") + ", ";
  if (p.days != 0 || p.hours != 0) s += Counted(p.hours, "hour") + ", ";
  if (p.days != 0 || p.hours != 0 || p.minutes != 0) s += Counted(p.minutes, "minute");
  if (!s.empty()) s += " and ";
  return s + Counted(p.seconds, "second");
}

double ParseFloatText(std::string_view s, char sep) {
  long double value = 0;
  long double scale = 1;  // 10^k
  bool negative = false;
  for (auto it = s.rbegin(); it != s.rend(); ++it) {
    const char c = *it;
    if (c >= '0' && c <= '9') {
      // A zero adds nothing, also once a very long text took scale to infinity.
      if (c != '0') value += (c - '0') * scale;
      scale *= 10;
    } else if (c == sep || (sep == 'x' && (c == ',' || c == '.'))) {
      value /= scale;
      scale = 1;
    } else if (c == '-') {
      negative = true;
    }
  }
  return static_cast<double>(negative ? -value : value);
}

std::int32_t ParseIntegerPart(std::string_view s) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  std::int64_t value = 0;
  std::int64_t scale = 1;  // 10^k, held at kMax + 1 once beyond the range
  bool negative = false;
  for (auto it = s.rbegin(); it != s.rend(); ++it) {
    const char c = *it;
    if (c >= '0' && c <= '9') {
      if (c != '0') value = std::min(value + (c - '0') * scale, kMax);
      scale = std::min(scale * 10, kMax + 1);
    } else if (c == ',' || c == '.') {
      value = 0;
      scale = 1;
    } else if (c == '-') {
      negative = true;
    }
  }
  return static_cast<std::int32_t>(negative ? -value : value);
}

}  // namespace rvx

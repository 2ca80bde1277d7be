#include "platform/core/FloatDigits.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace platform {

namespace {

// Digits read first: enough past any precision a fixed-digit format asks
// for, so most values round from one short read.
constexpr int kFirstDigits = 22;
// Significant digits of the longest exact decimal expansion: a double has at
// most 767, an 80-bit long double at most about 11500 (its smallest
// subnormal, 2^-16445, has 11,495).
constexpr int kExactDoubleDigits = 770;
constexpr int kExactLongDoubleDigits = 11600;

bool IsDouble(long double a) {
  return a <= std::numeric_limits<double>::max() &&
         static_cast<long double>(static_cast<double>(a)) == a;
}

int ExactDigits(long double a) {
  return IsDouble(a) ? kExactDoubleDigits : kExactLongDoubleDigits;
}

// The first `sig` significant digits of |value| as to_chars rounds them,
// and the exponent of that rounded value.
TDecimalDigits RawDigits(long double value, int sig) {
  TDecimalDigits d;
  d.negative = std::signbit(value);
  const long double a = std::fabs(value);
  if (a == 0) return d;
  sig = std::clamp(sig, 1, ExactDigits(a));
  std::string buf(static_cast<std::size_t>(sig) + 32, '\0');
  char* const first = buf.data();
  char* const last = first + buf.size();
  // Most values are doubles, whose digits come much faster.
  const std::to_chars_result r =
      IsDouble(a) ? std::to_chars(first, last, static_cast<double>(a),
                                  std::chars_format::scientific, sig - 1)
                  : std::to_chars(first, last, a, std::chars_format::scientific, sig - 1);
  const std::string_view s(first, static_cast<std::size_t>(r.ptr - first));
  const std::size_t e = s.find('e');
  d.digits.reserve(e);
  for (std::size_t i = 0; i < e; ++i)
    if (s[i] != '.') d.digits.push_back(s[i]);
  int exp10 = 0;
  std::from_chars(s.data() + e + (s[e + 1] == '+' ? 2 : 1), s.data() + s.size(), exp10);
  d.exponent = exp10 + 1;
  return d;
}

}  // namespace

TDecimalDigits RoundDecimalDigits(long double value, const std::function<int(int)>& keep_for) {
  TDecimalDigits raw = RawDigits(value, kFirstDigits);
  TDecimalDigits d;
  d.negative = raw.negative;
  if (raw.digits.empty()) return d;
  int keep = keep_for(raw.exponent);
  // The digit after the rounding position must be among those read; a
  // re-read may move the exponent by one, and so the position.
  for (int tries = 0; tries < 2 && keep >= static_cast<int>(raw.digits.size()); ++tries) {
    raw = RawDigits(value, keep + 2);
    keep = keep_for(raw.exponent);
  }
  // A rounding digit of 5 followed by zeros may be a true tie or the
  // rounding of a value just below or above one: the exact digits decide.
  const auto looks_like_tie = [&] {
    if (keep < 0 || keep >= static_cast<int>(raw.digits.size())) return false;
    const auto k = static_cast<std::size_t>(keep);
    return raw.digits[k] == '5' && raw.digits.find_first_not_of('0', k + 1) == std::string::npos;
  };
  if (looks_like_tie()) {
    raw = RawDigits(value, std::numeric_limits<int>::max());
    keep = keep_for(raw.exponent);
  }
  if (keep < 0) return d;
  d.exponent = raw.exponent;
  if (keep == 0) {
    if (raw.digits[0] >= '5') {
      d.digits = "1";
      d.exponent = raw.exponent + 1;
    }
    return d;
  }
  const auto k = static_cast<std::size_t>(keep);
  d.digits = raw.digits.substr(0, std::min(k, raw.digits.size()));
  // Exact digits: 5 or more at the rounding position is at least half.
  if (k < raw.digits.size() && raw.digits[k] >= '5') {
    std::size_t i = d.digits.size();
    while (i > 0 && d.digits[i - 1] == '9')
      d.digits[--i] = '0';
    if (i == 0) {
      d.digits.insert(d.digits.begin(), '1');
      d.digits.pop_back();
      ++d.exponent;
    } else {
      ++d.digits[i - 1];
    }
  }
  while (!d.digits.empty() && d.digits.back() == '0')
    d.digits.pop_back();
  if (d.digits.empty()) d.exponent = 0;
  return d;
}

TDecimalDigits RoundToSignificant(long double value, int significant) {
  const int keep = std::max(significant, 1);
  return RoundDecimalDigits(value, [keep](int) { return keep; });
}

TDecimalDigits RoundToDecimals(long double value, int decimals) {
  const int places = std::max(decimals, 0);
  return RoundDecimalDigits(value, [places](int e) { return e + places; });
}

void FixedDigits(const TDecimalDigits& d, int decimals, std::string& int_part,
                 std::string& frac_part) {
  const int e = d.exponent;
  int_part.clear();
  frac_part.clear();
  if (d.digits.empty() || e <= 0) {
    int_part = "0";
    if (!d.digits.empty()) frac_part.assign(static_cast<std::size_t>(-e), '0');
    frac_part += d.digits;
  } else {
    std::string all = d.digits;
    if (static_cast<int>(all.size()) < e) all.append(static_cast<std::size_t>(e) - all.size(), '0');
    int_part = all.substr(0, static_cast<std::size_t>(e));
    frac_part = all.substr(static_cast<std::size_t>(e));
  }
  frac_part.resize(static_cast<std::size_t>(std::max(decimals, 0)), '0');
}

}  // namespace platform

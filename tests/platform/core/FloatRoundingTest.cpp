// Every float formatter of the platform rounds by one rule: on the exact
// binary value, a half away from zero. One table runs through Format's %f %n
// %e %g, FloatToStrF, FloatToStr and CurrToStr, and a randomized test checks
// them against an oracle that rounds the exact decimal expansion as text.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <random>
#include <string>

#include "platform/core/Format.h"
#include "platform/core/TextConvert.h"

namespace platform {
namespace {

TFormatSettings Settings() {
  TFormatSettings fs;
  fs.DecimalSeparator = '.';
  fs.ThousandSeparator = ',';
  return fs;
}

// The exact decimal expansion of a double or long double in fixed notation.
std::string ExactFixed(long double v) {
  std::string buf(20000, '\0');
  const auto r =
      std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed, 16500);
  return std::string(buf.data(), r.ptr);
}

// Adds one unit in the last place of a string of decimal digits; true when
// it carried out of the first digit.
bool Increment(std::string& digits) {
  for (std::size_t i = digits.size(); i > 0; --i) {
    if (digits[i - 1] != '9') {
      ++digits[i - 1];
      return false;
    }
    digits[i - 1] = '0';
  }
  return true;
}

// The oracle: an exact fixed text rounded to `decimals` places, half away
// from zero, the sign kept unless the text is all zeros.
std::string RoundFixedText(const std::string& exact, int decimals) {
  const bool negative = exact[0] == '-';
  const std::string body = exact.substr(negative ? 1 : 0);
  const std::size_t dot = body.find('.');
  std::string int_part = body.substr(0, dot);
  std::string frac = dot == std::string::npos ? "" : body.substr(dot + 1);
  const auto d = static_cast<std::size_t>(decimals);
  const bool up = frac.size() > d && frac[d] >= '5';
  frac.resize(d, '0');
  std::string all = int_part + frac;
  if (up && Increment(all)) all.insert(all.begin(), '1');
  const bool zero = all.find_first_not_of('0') == std::string::npos;
  std::string out = negative && !zero ? "-" : "";
  out += all.substr(0, all.size() - d);
  if (d > 0) out += "." + all.substr(all.size() - d);
  return out;
}

// The oracle for d.ddd E+xxx with `sig` significant digits.
std::string RoundScientificText(long double v, int sig, int exp_digits) {
  std::string buf(20000, '\0');
  const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), std::fabs(v),
                               std::chars_format::scientific, 16500);
  const std::string s(buf.data(), r.ptr);
  const std::size_t e = s.find('e');
  std::string digits;
  for (std::size_t i = 0; i < e; ++i)
    if (s[i] != '.') digits.push_back(s[i]);
  int exponent = std::stoi(s.substr(e + 1));
  const auto k = static_cast<std::size_t>(sig);
  const bool up = digits[k] >= '5';
  digits.resize(k);
  if (up && Increment(digits)) {
    digits.insert(digits.begin(), '1');
    digits.pop_back();
    ++exponent;
  }
  const bool zero = digits.find_first_not_of('0') == std::string::npos;
  std::string out = std::signbit(v) && !zero ? "-" : "";
  out += digits.substr(0, 1);
  if (k > 1) out += "." + digits.substr(1);
  std::string ex = std::to_string(std::abs(exponent));
  if (static_cast<int>(ex.size()) < exp_digits) ex.insert(0, exp_digits - ex.size(), '0');
  return out + "E" + (exponent < 0 ? "-" : "+") + ex;
}

std::string Group(const std::string& fixed) {
  const std::size_t start = fixed[0] == '-' ? 1 : 0;
  std::size_t end = fixed.find('.');
  if (end == std::string::npos) end = fixed.size();
  std::string s = fixed;
  for (std::ptrdiff_t i = static_cast<std::ptrdiff_t>(end) - 3;
       i > static_cast<std::ptrdiff_t>(start); i -= 3)
    s.insert(static_cast<std::size_t>(i), 1, ',');
  return s;
}

TEST(FloatRoundingTest, OneRuleThroughEveryFormatter) {
  const TFormatSettings fs = Settings();
  const struct {
    long double value;
    int decimals;
    const char* fixed;
  } rows[] = {
      {2.5, 0, "3"},
      {-2.5, 0, "-3"},
      {0.5, 0, "1"},
      {1.5, 0, "2"},
      {3.5, 0, "4"},
      {0.125, 2, "0.13"},
      {-0.125, 2, "-0.13"},
      {0.375, 2, "0.38"},
      {0.145, 2, "0.14"},  // stored just below 0.145
      {1.005, 2, "1.00"},  // stored just below 1.005
      {2.675, 2, "2.67"},
      {1234567.125, 2, "1234567.13"},
      {-1234567.125, 2, "-1234567.13"},
      {0.03125, 4, "0.0313"},
      {-0.03125, 4, "-0.0313"},
      {0.9995, 3, "1.000"},  // stored above the half: carries
      {0.000030517578125, 14, "0.00003051757813"},
      {999999999999999.5, 0, "1000000000000000"},
      {2.5L, 0, "3"},
      {0.125L, 2, "0.13"},
      {0.1L, 18, "0.100000000000000000"},  // long double: not the double's digits
      {0.25L + 0x1p-60L, 18, "0.250000000000000001"},
      // A text of zeros has no sign, whatever the value's sign.
      {-0.001, 2, "0.00"},
      {-0.0049, 2, "0.00"},
      {-0.005, 2, "-0.01"},  // stored just above 0.005
      {-0.4, 0, "0"},
      {-0.0, 0, "0"},
      {-0.0, 3, "0.000"},
      {-0.00001L, 4, "0.0000"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.fixed));
    const std::string f = "%." + std::to_string(row.decimals);
    EXPECT_EQ(Format(f + "f", {row.value}), row.fixed);
    EXPECT_EQ(Format(f + "n", {row.value}), Group(row.fixed));
    EXPECT_EQ(FloatToStrF(row.value, TFloatFormat::ffFixed, 18, row.decimals, fs), row.fixed);
    EXPECT_EQ(FloatToStrF(row.value, TFloatFormat::ffNumber, 18, row.decimals, fs),
              Group(row.fixed));
    EXPECT_EQ(RoundFixedText(ExactFixed(row.value), row.decimals), row.fixed);
    if (row.decimals == 4 &&
        static_cast<long double>(static_cast<double>(row.value)) == row.value) {
      EXPECT_EQ(CurrToStr(static_cast<double>(row.value), fs), row.fixed);
    }
  }
}

TEST(FloatRoundingTest, SignificantDigitsThroughEveryFormatter) {
  const TFormatSettings fs = Settings();
  const struct {
    long double value;
    int digits;
    const char* e;   // Format %e and FloatToStrF ffExponent with 3 exponent digits
    const char* g;   // Format %g
    const char* gf;  // FloatToStrF ffGeneral
  } rows[] = {
      {2.5, 1, "3E+000", "3", "3"},
      {-2.5, 1, "-3E+000", "-3", "-3"},
      {0.125, 2, "1.3E-001", "0.13", "0.13"},
      {0.145, 2, "1.4E-001", "0.14", "0.14"},
      {2.5e20, 1, "3E+020", "3E+20", "3E20"},
      {-1.25e-300, 2, "-1.2E-300", "-1.2E-300", "-1.2E-300"},  // stored below
      {1.5e300, 1, "2E+300", "2E+300", "2E300"},
      {0.000030517578125, 10, "3.051757813E-005", "3.051757813E-05", "3.051757813E-5"},
      {123456789012345.5, 15, "1.23456789012346E+014", "123456789012346", "123456789012346"},
      {2.5L, 1, "3E+000", "3", "3"},
      {0.0, 3, "0.00E+000", "0", "0"},
      {-0.0, 3, "0.00E+000", "0", "0"},  // no sign on a zero
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.e);
    const std::string p = "%." + std::to_string(row.digits);
    EXPECT_EQ(Format(p + "e", {row.value}), row.e);
    EXPECT_EQ(FloatToStrF(row.value, TFloatFormat::ffExponent, row.digits, 3, fs), row.e);
    EXPECT_EQ(RoundScientificText(row.value, row.digits, 3), row.e);
    EXPECT_EQ(Format(p + "g", {row.value}), row.g);
    EXPECT_EQ(FloatToStrF(row.value, TFloatFormat::ffGeneral, row.digits, 0, fs), row.gf);
  }
  // FloatToStr is the general format with 15 digits.
  EXPECT_EQ(FloatToStr(123456789012345.5L, fs), "123456789012346");
  EXPECT_EQ(FloatToStr(0.5, fs), "0.5");
}

// Random doubles and long doubles, with many exact ties (odd multiples of a
// power of two cut one digit short), against the text oracle.
TEST(FloatRoundingTest, RandomValuesMatchTheExactOracle) {
  const TFormatSettings fs = Settings();
  std::mt19937_64 rng(7);
  for (int i = 0; i < 3000; ++i) {
    long double v;
    int decimals;
    if (i % 2 == 0) {
      const int m = 1 + static_cast<int>(rng() % 14);
      v = std::ldexp(static_cast<long double>((rng() % 100000) * 2 + 1), -m);
      decimals = m - 1;  // the last exact digit is a 5: a tie
    } else {
      const double mant = static_cast<double>(rng() >> 11) / 9007199254740992.0;
      v = std::ldexp(static_cast<long double>(mant), static_cast<int>(rng() % 80) - 40);
      if (i % 4 == 1) v += std::ldexp(static_cast<long double>(rng() % 1024), -70);
      decimals = static_cast<int>(rng() % 19);
    }
    if (rng() % 2) v = -v;
    SCOPED_TRACE(ExactFixed(v).substr(0, 40) + " to " + std::to_string(decimals));
    const std::string expected = RoundFixedText(ExactFixed(v), decimals);
    const std::string f = "%." + std::to_string(decimals);
    {
      EXPECT_EQ(Format(f + "f", {v}), expected);
      // FloatToStrF keeps at most its precision of significant digits.
      std::string sig_digits;
      for (char c : expected)
        if (c >= '0' && c <= '9' && (c != '0' || !sig_digits.empty())) sig_digits.push_back(c);
      if (sig_digits.size() <= 18) {
        EXPECT_EQ(FloatToStrF(v, TFloatFormat::ffFixed, 18, decimals, fs), expected);
      }
    }
    const int sig = 1 + static_cast<int>(rng() % 18);
    if (v != 0) {
      const std::string e = RoundScientificText(v, sig, 3);
      EXPECT_EQ(Format("%." + std::to_string(sig) + "e", {v}), e);
      EXPECT_EQ(FloatToStrF(v, TFloatFormat::ffExponent, sig, 3, fs), e);
    }
  }
}

}  // namespace
}  // namespace platform

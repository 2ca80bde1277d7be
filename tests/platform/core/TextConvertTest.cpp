#include "platform/core/TextConvert.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <random>

#include "platform/core/Clock.h"
#include "platform/core/Exceptions.h"

namespace platform {
namespace {

TFormatSettings CommaSettings() {
  TFormatSettings fs;
  fs.DecimalSeparator = ',';
  fs.ThousandSeparator = '.';
  return fs;
}

TEST(TextConvertTest, FloatToStrGeneral15) {
  struct Row {
    long double value;
    const char* text;
  };
  const Row rows[] = {
      {0.1, "0.1"},
      {1e20, "1E20"},
      {123456789012345678.0, "1.23456789012346E17"},
      {0, "0"},
      {-0.0, "0"},
      {1, "1"},
      {-2.5, "-2.5"},
      {100, "100"},
      {1e14, "100000000000000"},
      {1e15, "1E15"},
      {999999999999999.0, "999999999999999"},
      {9999999999999999.0, "1E16"},
      {0.0001, "0.0001"},
      {0.00001, "1E-5"},
      {0.000123, "0.000123"},
      {1.5e-7, "1.5E-7"},
      {1.0 / 3.0, "0.333333333333333"},
      {0.5, "0.5"},
      {1234567890123456.5, "1.23456789012346E15"},
      {999999999999999.5, "1E15"},
      {2.0 / 3.0, "0.666666666666667"},
      {123.456, "123.456"},
      {static_cast<double>(0.1f), "0.100000001490116"},
      {1e-300, "1E-300"},
      {1.7976931348623157e308, "1.79769313486232E308"},
      {1e4000L, "1E4000"},
      {std::numeric_limits<double>::quiet_NaN(), "NAN"},
      {std::numeric_limits<double>::infinity(), "INF"},
      {-std::numeric_limits<double>::infinity(), "-INF"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(FloatToStr(r.value), r.text);
  }
  EXPECT_EQ(FloatToStr(2.5, CommaSettings()), "2,5");
  EXPECT_EQ(FloatToStr(1.5e-7, CommaSettings()), "1,5E-7");
}

TEST(TextConvertTest, FloatToStrFFormats) {
  struct Row {
    long double value;
    TFloatFormat format;
    int precision, digits;
    const char* text;
  };
  using F = TFloatFormat;
  const Row rows[] = {
      {1234.5, F::ffExponent, 4, 2, "1.235E+03"},
      {-0.00012345, F::ffExponent, 3, 0, "-1.23E-4"},
      {0, F::ffExponent, 3, 2, "0.00E+00"},
      {123.456, F::ffFixed, 15, 2, "123.46"},
      {0.006, F::ffFixed, 15, 2, "0.01"},
      {2.5, F::ffFixed, 15, 0, "3"},  // halves away from zero
      {3.5, F::ffFixed, 15, 0, "4"},
      {-2.5, F::ffFixed, 15, 0, "-3"},
      {0.125, F::ffFixed, 15, 2, "0.13"},
      {9.996, F::ffFixed, 15, 2, "10.00"},
      {0.5, F::ffFixed, 15, 0, "1"},
      {0.4, F::ffFixed, 15, 0, "0"},
      {999999999999999.9, F::ffFixed, 15, 2, "1.00000000000000E+15"},
      {-0.001, F::ffFixed, 15, 2, "0.00"},  // no "-0.00"
      {1.0 / 3.0, F::ffFixed, 15, 18, "0.333333333333333000"},
      {1e20, F::ffFixed, 15, 2, "1.00000000000000E+20"},
      {1234567.891, F::ffNumber, 15, 2, "1,234,567.89"},
      {-999.5, F::ffNumber, 15, 0, "-1,000"},
      {100, F::ffNumber, 15, 1, "100.0"},
      {1234.5, F::ffCurrency, 15, 2,
       "\xA3"
       "1,234.50"},
      {-1234.5, F::ffCurrency, 15, 2,
       "-\xA3"
       "1,234.50"},
      {1e20, F::ffGeneral, 15, 3, "1E020"},
      {1234.5, F::ffGeneral, 3, 0, "1.23E3"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(FloatToStrF(r.value, r.format, r.precision, r.digits), r.text);
  }
  EXPECT_EQ(FloatToStrF(1234567.5, TFloatFormat::ffNumber, 15, 1, CommaSettings()), "1.234.567,5");
}

TEST(TextConvertTest, StrToFloatTable) {
  struct Row {
    const char* text;
    bool ok;
    double value;
  };
  const Row rows[] = {
      {"3.5", true, 3.5},    {" -3.5 ", true, -3.5},
      {"+2", true, 2},       {"1e3", true, 1000},
      {"1E-3", true, 0.001}, {"5.", true, 5},
      {".5", true, 0.5},     {"1e-400", true, 0},
      {"0", true, 0},        {"1.23456789012346E17", true, 1.23456789012346E17},
      {"", false, 0},        {" ", false, 0},
      {".", false, 0},       {"3,5", false, 0},
      {"1,000", false, 0},   {"1e", false, 0},
      {"1e+", false, 0},     {"INF", false, 0},
      {"nan", false, 0},     {"1e400", false, 0},
      {"0x10", false, 0},    {"12abc", false, 0},
      {"- 1", false, 0},     {"++1", false, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    double v = 42;
    EXPECT_EQ(TryStrToFloat(r.text, v), r.ok);
    EXPECT_EQ(v, r.ok ? r.value : 42);
  }
  long double lv;
  EXPECT_TRUE(TryStrToFloat("1e400", lv));  // fits an Extended
  EXPECT_EQ(FloatToStr(lv), "1E400");
  EXPECT_FALSE(TryStrToFloat("1e5000", lv));
  EXPECT_EQ(StrToFloat("3,5", CommaSettings()), 3.5L);
  try {
    StrToFloat("abc");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid floating point value");
  }
}

// Text written with 15 digits reads back within 15 digits, under any locale.
TEST(TextConvertTest, FloatRoundTripIgnoresProcessLocale) {
  std::setlocale(LC_ALL, "C.UTF-8");
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> mant(-10, 10);
  std::uniform_int_distribution<int> exp(-30, 30);
  for (int i = 0; i < 2000; ++i) {
    const double x = mant(rng) * std::pow(10.0, exp(rng));
    const std::string s = FloatToStr(x);
    double back;
    ASSERT_TRUE(TryStrToFloat(s, back)) << s;
    ASSERT_NEAR(back, x, std::fabs(x) * 1e-14) << s;
    ASSERT_EQ(FloatToStr(back), s);
  }
  std::setlocale(LC_ALL, "C");
}

TEST(TextConvertTest, IntegersTable) {
  struct Row {
    const char* text;
    bool ok;
    std::int32_t value;
  };
  const Row rows[] = {
      {"0", true, 0},
      {"123", true, 123},
      {"-123", true, -123},
      {"+7", true, 7},
      {"  42", true, 42},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, -2147483647 - 1},
      {"$FF", true, 255},
      {"0x1f", true, 31},
      {"$FFFFFFFF", true, -1},
      {"-$10", true, -16},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"$100000000", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {"12 ", false, 0},
      {"1.0", false, 0},
      {"$", false, 0},
      {"99999999999999999999999", false, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    std::int32_t v = 42;
    EXPECT_EQ(TryStrToInt(r.text, v), r.ok);
    EXPECT_EQ(v, r.ok ? r.value : 42);
  }
  std::int64_t v64;
  EXPECT_TRUE(TryStrToInt64("-9223372036854775808", v64));
  EXPECT_EQ(v64, std::numeric_limits<std::int64_t>::min());
  EXPECT_FALSE(TryStrToInt64("9223372036854775808", v64));
  std::uint64_t u64;
  EXPECT_TRUE(TryStrToUInt64("18446744073709551615", u64));
  EXPECT_EQ(u64, std::numeric_limits<std::uint64_t>::max());
  EXPECT_FALSE(TryStrToUInt64("-1", u64));
  EXPECT_EQ(IntToStr(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(UIntToStr(18446744073709551615ull), "18446744073709551615");
  EXPECT_EQ(IntToHex(0xACCE, 8), "0000ACCE");
  EXPECT_EQ(StrToIntDef("x", -5), -5);
  try {
    StrToInt("12x");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'12x' is not a valid integer value");
  }
}

TEST(TextConvertTest, Currency) {
  EXPECT_EQ(CurrToStr(1.5), "1.5");
  EXPECT_EQ(CurrToStr(-1234.56785), "-1234.5678");  // four decimals, halves to even
  EXPECT_EQ(CurrToStr(100), "100");
  EXPECT_EQ(CurrToStr(0.00004), "0");
  EXPECT_EQ(CurrToStr(922337203685477.0), "922337203685477");
  EXPECT_EQ(CurrToStr(2.25, CommaSettings()), "2,25");
  double v;
  EXPECT_TRUE(TryStrToCurr("12.345678", v));
  EXPECT_DOUBLE_EQ(v, 12.3457);
  EXPECT_TRUE(TryStrToCurr("12,5", v, CommaSettings()));
  EXPECT_EQ(v, 12.5);
  EXPECT_FALSE(TryStrToCurr("1e19", v));
  EXPECT_FALSE(TryStrToCurr("12.5.", v));
  EXPECT_THROW(StrToCurr("x"), EConvertError);
}

TEST(TextConvertTest, DateTimeToText) {
  const TDateTime v = EncodeDateTime(2016, 9, 6, 7, 5, 3, 45);
  EXPECT_EQ(DateToStr(v), "06/09/2016");
  EXPECT_EQ(TimeToStr(v), "07:05:03");
  EXPECT_EQ(DateTimeToStr(v), "06/09/2016 07:05:03");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2016, 9, 6)), "06/09/2016");  // midnight: no time
  struct Row {
    const char* format;
    const char* text;
  };
  const Row rows[] = {
      {"yyyy-mm-dd hh:nn:ss.zzz", "2016-09-06 07:05:03.045"},
      {"d/m/yy", "6/9/16"},
      {"ddd dddd mmm mmmm", "Tue Tuesday Sep September"},
      {"hh:mm", "07:05"},  // 'mm' after an hour is minutes
      {"h:m:s z", "7:5:3 45"},
      {"h am/pm", "7 am"},
      {"hh AMPM", "07 AM"},
      {"'yyyy' \"mm\" yyyy", "yyyy mm 2016"},
      {"ddddd", "06/09/2016"},
      {"dddddd", "06 September 2016"},
      {"t|tt", "07:05|07:05:03"},
      {"c", "06/09/2016 07:05:03"},
      {"", "06/09/2016 07:05:03"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.format);
    EXPECT_EQ(FormatDateTime(r.format, v), r.text);
  }
  EXPECT_EQ(FormatDateTime("h:nn a/p", EncodeTime(13, 7, 0, 0)), "1:07 p");
  EXPECT_EQ(FormatDateTime("hh", EncodeTime(0, 7, 0, 0) + 1 + 0, TFormatSettings()), "00");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", EncodeDateTime(1899, 12, 29, 6, 0, 0, 0)),
            "1899-12-29 06:00:00.000");
  EXPECT_THROW(DateToStr(std::numeric_limits<double>::quiet_NaN()), EConvertError);
  TFormatSettings us;
  us.ShortDateFormat = "m/d/yyyy";
  us.DateSeparator = '-';
  EXPECT_EQ(DateToStr(v, us), "9-6-2016");
}

TEST(TextConvertTest, TextToDateTime) {
  struct Row {
    const char* text;
    bool ok;
    TDateTime value;
  };
  const Row dates[] = {
      {"06/09/2016", true, EncodeDate(2016, 9, 6)},
      {"6/9/2016", true, EncodeDate(2016, 9, 6)},
      {" 6 / 9 / 2016 ", true, EncodeDate(2016, 9, 6)},
      {"29/02/2000", true, EncodeDate(2000, 2, 29)},
      {"01/01/0001", true, EncodeDate(1, 1, 1)},
      {"29/02/2001", false, 0},
      {"32/01/2016", false, 0},
      {"06/13/2016", false, 0},
      {"06-09-2016", false, 0},
      {"06/09/2016 x", false, 0},
      {"", false, 0},
      {"06/", false, 0},
  };
  for (const Row& r : dates) {
    SCOPED_TRACE(r.text);
    TDateTime v = 42;
    EXPECT_EQ(TryStrToDate(r.text, v), r.ok);
    EXPECT_EQ(v, r.ok ? r.value : 42);
  }
  const Row times[] = {
      {"07:05:03", true, EncodeTime(7, 5, 3, 0)},
      {"7:05", true, EncodeTime(7, 5, 0, 0)},
      {"12", true, EncodeTime(12, 0, 0, 0)},
      {"07:05:03.5", true, EncodeTime(7, 5, 3, 500)},
      {"07:05:03.045", true, EncodeTime(7, 5, 3, 45)},
      {"7:05 PM", true, EncodeTime(19, 5, 0, 0)},
      {"12:00 am", true, EncodeTime(0, 0, 0, 0)},
      {"PM 1:00", true, EncodeTime(13, 0, 0, 0)},
      {"13:00 PM", false, 0},
      {"24:00", false, 0},
      {"25:00:00", false, 0},
      {"07:60", false, 0},
      {"07:05:03.1234", false, 0},
      {"07:", false, 0},
      {"x", false, 0},
  };
  for (const Row& r : times) {
    SCOPED_TRACE(r.text);
    TDateTime v = 42;
    EXPECT_EQ(TryStrToTime(r.text, v), r.ok);
    EXPECT_EQ(v, r.ok ? r.value : 42);
  }
  EXPECT_EQ(StrToDateTime("06/09/2016 07:05:03"), EncodeDateTime(2016, 9, 6, 7, 5, 3, 0));
  EXPECT_EQ(StrToDateTime("06/09/2016"), EncodeDate(2016, 9, 6));
  EXPECT_EQ(StrToDateTime("07:05"), EncodeTime(7, 5, 0, 0));
  EXPECT_EQ(StrToDateTime("29/12/1899 06:00"), -1.25);
  try {
    StrToDate("31/02/2016");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'31/02/2016' is not a valid date");
  }
  EXPECT_THROW(StrToTime("x"), EConvertError);
  EXPECT_THROW(StrToDateTime("06/09/2016 25:00"), EConvertError);
  // Other orders and separators follow the settings.
  TFormatSettings iso;
  iso.ShortDateFormat = "yyyy-mm-dd";
  iso.DateSeparator = '-';
  EXPECT_EQ(StrToDate("2016-09-06", iso), EncodeDate(2016, 9, 6));
  TFormatSettings us;
  us.ShortDateFormat = "mm/dd/yyyy";
  EXPECT_EQ(StrToDate("09/06/2016", us), EncodeDate(2016, 9, 6));
}

TEST(TextConvertTest, TwoDigitAndMissingYears) {
  TDateTime v;
  int y, m, d;
  ASSERT_TRUE(TryStrToDate("06/09", v));
  DecodeDate(v, y, m, d);
  EXPECT_EQ(m, 9);
  EXPECT_EQ(d, 6);
  EXPECT_GE(y, 2024);  // the current year
  const int current = y;
  ASSERT_TRUE(TryStrToDate("06/09/16", v));
  DecodeDate(v, y, m, d);
  EXPECT_GE(y, current - 50);
  EXPECT_LE(y, current + 49);
  EXPECT_EQ(y % 100, 16);
}

// The century of a two-digit year, and a missing year, come from the
// installed clock's date.
TEST(TextConvertTest, TwoDigitYearsFollowTheInstalledClock) {
  const struct {
    int now_year;
    int window;
    const char* text;
    int year;
  } rows[] = {
      {2026, 50, "06/09/16", 2016}, {2026, 50, "06/09/77", 1977}, {2026, 50, "06/09/76", 1976},
      {2026, 50, "06/09/75", 2075}, {2070, 50, "06/09/16", 2116}, {2070, 50, "06/09/20", 2020},
      {1990, 50, "06/09/39", 2039}, {1990, 50, "06/09/40", 1940}, {2026, 0, "06/09/99", 2099},
      {2150, 0, "06/09/07", 2107},  {2070, 50, "06/09", 2070},    {1999, 30, "06/09", 1999}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text + std::string(" in ") + std::to_string(row.now_year));
    FakeClock fake;
    fake.SetNow(EncodeDateTime(row.now_year, 12, 31, 23, 59, 0, 0));
    ScopedClock scope(fake);
    TFormatSettings fs;
    fs.TwoDigitYearCenturyWindow = row.window;
    TDateTime v;
    ASSERT_TRUE(TryStrToDate(row.text, v, fs));
    int y, m, d;
    DecodeDate(v, y, m, d);
    EXPECT_EQ(y, row.year);
    EXPECT_EQ(m, 9);
    EXPECT_EQ(d, 6);
  }
}

TEST(TextConvertTest, FakeWallClockMovesWithItsTicks) {
  FakeClock fake;
  fake.SetNow(EncodeDateTime(2026, 12, 31, 23, 59, 0, 0));
  ScopedClock scope(fake);
  fake.Advance(60'000);  // into the new year
  TDateTime v;
  ASSERT_TRUE(TryStrToDate("01/02", v));
  EXPECT_EQ(v, EncodeDate(2027, 2, 1));
}

TEST(TextConvertTest, ProcessWideSettings) {
  const TFormatSettings saved = FormatSettings();
  EXPECT_EQ(FormatSettings().DecimalSeparator, '.');
  EXPECT_EQ(FormatSettings().ShortDateFormat, "dd/mm/yyyy");
  EXPECT_EQ(FormatSettings().LongTimeFormat, "hh:nn:ss");
  SetFormatSettings(CommaSettings());
  EXPECT_EQ(FloatToStr(3.5), "3,5");
  EXPECT_EQ(StrToFloat("3,5"), 3.5L);
  SetFormatSettings(saved);
  EXPECT_EQ(FloatToStr(3.5), "3.5");
}

}  // namespace
}  // namespace platform

#include "app/util/Utils.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "platform/core/DateTime.h"
#include "tests/app/support/QtTestApplication.h"

namespace rvx {
namespace {

// Every table runs twice: as the process starts, and with Qt's default
// locale (and the C locale, where the machine has it) set to German, whose
// decimal separator is ",". No text here may follow the user's locale.
class UtilsTable : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    test::EnsureQtApplication();
    saved_locale_ = QLocale();
    if (std::string(GetParam()) == "German") {
      QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
      for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "German"})
        if (std::setlocale(LC_ALL, name)) break;
      ASSERT_EQ(QLocale().decimalPoint(), QStringLiteral(","));
    }
  }
  void TearDown() override {
    QLocale::setDefault(saved_locale_);
    std::setlocale(LC_ALL, "C");
  }

 private:
  QLocale saved_locale_;
};

INSTANTIATE_TEST_SUITE_P(Locales, UtilsTable, ::testing::Values("Default", "German"),
                         [](const auto& info) { return std::string(info.param); });

TEST_P(UtilsTable, FormatValue) {
  struct Row {
    double x;
    const char* text;
  };
  const Row rows[] = {
      {999.94, "999.9"},
      {999.95, "1000.0"},  // rounds up at four significant digits
      {999.99, "1000.0"},
      {1000, "1000"},
      {12345.6, "12346"},
      {9999.5, "10000"},  // a half rounds away from zero
      {9999.4, "9999"},
      {123456.5, "123457"},
      {999999.5, "1.00000E+6"},  // more integer digits than six
      {0, "0.0"},
      {0.04, "0.0"},
      {0.05, "0.1"},
      {-0.04, "0.0"},  // nothing left to be negative
      {-3, "-3.0"},
      {-999.95, "-1000.0"},
      {-1234.5, "-1235.0"},     // negative: four significant digits
      {-12345.6, "-1.235E+4"},  // negative beyond four integer digits
      {12.345, "12.3"},
      {7355.0 * 1.3596, "10000"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(FormatValue(r.x), r.text);
  }
  EXPECT_EQ(FormatValueWithUnit(1500.2, "kW"), "1500 kW");
  EXPECT_EQ(FormatValueWithUnit(85.25, "rpm"), "85.3 rpm");
}

TEST_P(UtilsTable, IntToZeroPaddedStr) {
  struct Row {
    std::int64_t value;
    int digits;
    const char* text;
  };
  const Row rows[] = {
      {7, 2, "07"},    {123, 2, "123"},
      {0, 2, "00"},    {5, 3, "005"},
      {10, 2, "10"},   {99, 3, "099"},
      {100, 3, "100"}, {7, 1, "7"},
      {7, 0, "7"},     {42, 25, "0000000000000000000000042"},
      {-5, 3, "00-5"},  // below the contract: the construction shows through
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(IntToZeroPaddedStr(r.value, r.digits), r.text);
  }
}

TDateTime Span(int days, int hours, int minutes, double seconds) {
  return days + (hours * 3600.0 + minutes * 60.0 + seconds) / 86400.0;
}

TEST_P(UtilsTable, FormatDuration) {
  struct Row {
    TDateTime x;
    const char* text;
  };
  const Row rows[] = {
      {0, "00:00:00"},
      {1.5, "36:00:00"},
      {Span(1, 1, 1, 5), "25:01:05"},
      {Span(0, 0, 0, 59.9996), "00:01:00"},  // rounded to the millisecond first
      {Span(0, 0, 0, 0.9994), "00:00:00"},   // milliseconds dropped
      {Span(0, 23, 59, 59), "23:59:59"},
      {Span(41, 16, 0, 0), "1000:00:00"},
      {3000, "65535:00:00"},  // hours are a 16-bit count
      {1e300, "65535:00:00"},
      {std::numeric_limits<double>::quiet_NaN(), "00:00:00"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(FormatDuration(r.x), r.text);
  }
}

TEST_P(UtilsTable, FormatDurationInWords) {
  struct Row {
    TDateTime x;
    const char* text;
  };
  const Row rows[] = {
      {0, "0 seconds"},
      {Span(0, 0, 0, 1), "1 second"},
      {Span(0, 0, 1, 5), "1 minute and 5 seconds"},
      {Span(0, 0, 2, 0), "2 minutes and 0 seconds"},
      {Span(2, 0, 4, 1), "2 days, 0 hours, 4 minutes and 1 second"},
      {Span(0, 1, 0, 0), "1 hour, 0 minutes and 0 seconds"},
      {Span(1, 0, 0, 0), "1 day, 0 hours, 0 minutes and 0 seconds"},
      {Span(3, 5, 6, 7), "3 days, 5 hours, 6 minutes and 7 seconds"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(FormatDurationInWords(r.x), r.text);
  }
}

TEST_P(UtilsTable, SanitizeFileNameAndReverseText) {
  struct Row {
    const char* text;
    const char* clean;
  };
  const Row rows[] = {
      {"A/B: \"C\".1", "AB C1"},
      {"\\/:*?\"><|.", ""},
      {"Sea Trial 3", "Sea Trial 3"},
      {"M\xFCller's run", "M\xFCller's run"},  // Windows-1252 letters stay
      {"", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(SanitizeFileName(r.text), r.clean);
  }
  EXPECT_EQ(ReverseText("abc"), "cba");
  EXPECT_EQ(ReverseText(""), "");
}

TEST_P(UtilsTable, LastPos) {
  struct Row {
    const char* sub;
    const char* s;
    int pos;
  };
  const Row rows[] = {
      {"\\", "C:\\x\\", 5},  // a trailing backslash is at the length
      {"\\", "C:\\x", 3},   {"", "abc", 0}, {"x", "", 0},      {"ab", "abab", 3},
      {"abc", "ab", 0},     {"a", "a", 1},  {"aa", "aaaa", 3}, {"z", "abc", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.sub) + " in " + r.s);
    EXPECT_EQ(LastPos(r.sub, r.s), r.pos);
  }
}

TEST_P(UtilsTable, ParseFloatText) {
  struct Row {
    const char* s;
    char sep;
    double value;
  };
  const Row rows[] = {
      {"12,5", 'x', 12.5}, {"12.5", 'x', 12.5}, {"1.234,5", 'x', 1.2345},  // every separator scales
      {"-7", 'x', -7},     {"7-", 'x', -7},     {"abc", 'x', 0},          {"", 'x', 0},
      {"12.5", ',', 125},  // "." is no separator here
      {"12,5", ',', 12.5}, {"12,5", '.', 125},  {"0.125", 'x', 0.125},    {"12.5 %", 'x', 12.5},
      {"--3", 'x', -3},    {"1e3", 'x', 13},  // letters are ignored
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.s) + " sep " + r.sep);
    EXPECT_DOUBLE_EQ(ParseFloatText(r.s, r.sep), r.value);
  }
  // A very long entry neither fails nor reads as NaN.
  EXPECT_FALSE(std::isnan(ParseFloatText("1" + std::string(6000, '0'), 'x')));
}

TEST_P(UtilsTable, ParseIntegerPart) {
  struct Row {
    const char* s;
    std::int32_t value;
  };
  const Row rows[] = {
      {"12.7", 12},
      {"1,234", 1},
      {"-40", -40},
      {"", 0},
      {"abc", 0},
      {"1 2 3", 123},
      {"00000000000000000007", 7},
      {"2147483647", 2147483647},
      {"99999999999", 2147483647},  // held at the range instead of wrapping
      {"-99999999999", -2147483647},
      {"8000 kW", 8000},
      {".5", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.s);
    EXPECT_EQ(ParseIntegerPart(r.s), r.value);
  }
}

TEST_P(UtilsTable, ShaftName) {
  struct Row {
    int index;
    int count;
    const char* name;
    const char* short_name;
  };
  const Row rows[] = {
      {0, 2, "Port Shaft", "Port"},
      {1, 2, "Starboard Shaft", "Stbd"},
      {5, 2, "Starboard Shaft", "Stbd"},
      {1, 1, "", ""},
      {0, 1, "", ""},
      {0, 3, "", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.index) + " of " + std::to_string(r.count));
    EXPECT_EQ(ShaftName(r.index, r.count), r.name);
    EXPECT_EQ(ShaftShortName(r.index, r.count), r.short_name);
  }
}

TEST_P(UtilsTable, MinNonZeroAndMaxOf) {
  struct Row {
    double a;
    double b;
    double min;
    double max;
  };
  const Row rows[] = {
      {0, 5, 5, 5},     {3, 0, 3, 3},     {4, 2, 2, 4},   {2, 4, 2, 4},   {0, 0, 0, 0},
      {1e-13, 5, 5, 5}, {5, 1e-13, 5, 5}, {-1, 2, -1, 2}, {2, -1, -1, 2},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.a) + ", " + std::to_string(r.b));
    EXPECT_EQ(MinNonZero(r.a, r.b), r.min);
    EXPECT_EQ(MaxOf(r.a, r.b), r.max);
  }
  std::vector<double> array{9};
  ListToArray({1.5, 2.5}, array);
  EXPECT_EQ(array, (std::vector<double>{1.5, 2.5}));
}

}  // namespace
}  // namespace rvx

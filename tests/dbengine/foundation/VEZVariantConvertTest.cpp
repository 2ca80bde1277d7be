// ConvertTypedValue: the whole source-by-target table, integer boundaries and
// the error texts.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "platform/core/DateTime.h"
#include "platform/core/FormatSettings.h"
#include "tests/dbengine/foundation/VEZVariantTestUtil.h"

namespace vez {
namespace {

using namespace vez::testing;

// Targets in the column order of the table below.
constexpr std::array<TVEZBaseFieldType, 20> kTargets = {
    bftChar,          bftWideChar,    bftVarchar,     bftWideVarchar,  bftSignedInt8,
    bftSignedInt16,   bftSignedInt32, bftSignedInt64, bftUnsignedInt8, bftUnsignedInt16,
    bftUnsignedInt32, bftSingle,      bftDouble,      bftExtended,     bftDate,
    bftTime,          bftDateTime,    bftBlob,        bftLogical,      bftCurrency};

constexpr std::int32_t kNoDate = INT32_MIN;
// 2016-09-20 as an engine day number (checked against the calendar below).
constexpr std::int32_t kDay = 736227;

struct Row {
  const char* name;
  TVEZBaseFieldType source;
  Bytes raw;
  std::int32_t size;  // -2: the raw size; -1: unknown
  // One expectation per target: the rendered value, "!30052" refused,
  // "!30051" failed.
  std::array<const char*, 20> expected;
};

#define R52 "!30052"
#define R51 "!30051"

// clang-format off
const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      {"varchar 12", bftVarchar, RawAnsi("12"), -2,
       {"12", "12", "12", "12", "12", "12", "12", "12", "12", "12", "12", "12", "12",
        "12", R51, "43200000", "693594,43200000", "313200", "F", "12"}},
      {"char timestamp", bftChar, RawAnsi("2016-09-20 12:30:45"), -2,
       {"2016-09-20 12:30:45", "2016-09-20 12:30:45", "2016-09-20 12:30:45",
        "2016-09-20 12:30:45", R51, R51, R51, R51, R51, R51, R51, R51, R51, R51, "736227", R51,
        "736227,45045000", "323031362d30392d32302031323a33303a343500", "F", R51}},
      {"varchar sql time, size unknown", bftVarchar, RawAnsi("12:30:45"), -1,
       {"12:30:45", "12:30:45", "12:30:45", "12:30:45", R51, R51, R51, R51, R51, R51, R51, R51,
        R51, R51, R51, "45045000", "693594,45045000", "31323a33303a343500", "F", R51}},
      {"varchar float", bftVarchar, RawAnsi("3.5"), -2,
       {"3.5", "3.5", "3.5", "3.5", R51, R51, R51, R51, R51, R51, R51, "3.5", "3.5", "3.5", R51,
        R51, R51, "332e3500", "F", "3.5"}},
      {"wide locale date", bftWideVarchar, RawWide("20/09/2016"), -2,
       {"20/09/2016", "20/09/2016", "20/09/2016", "20/09/2016", R51, R51, R51, R51, R51, R51,
        R51, R51, R51, R51, "736227", R51, "736227,0",
        "320030002f00300039002f0032003000310036000000", "F", R51}},
      {"widechar TRUE", bftWideChar, RawWide("TRUE"), -2,
       {"TRUE", "TRUE", "TRUE", "TRUE", R51, R51, R51, R51, R51, R51, R51, R51, R51, R51, R51,
        R51, R51, "5400520055004500" "0000", "T", R51}},
      {"clob", bftClob, RawAnsi("abc", false), -2,
       {"abc", "abc", "abc", "abc", R51, R51, R51, R51, R51, R51, R51, R51, R51, R51, R51, R51,
        R51, "61626300", "F", R51}},
      {"wide clob", bftWideClob, RawWide("ab", false), -2,
       {"ab", "ab", "ab", "ab", R51, R51, R51, R51, R51, R51, R51, R51, R51, R51, R51, R51, R51,
        "610062000000", "F", R51}},
      {"clob number", bftClob, RawAnsi("-7", false), -2,
       {"-7", "-7", "-7", "-7", "-7", "-7", "-7", "-7", R51, R51, R51, "-7", "-7", "-7",
        R51, R51, R51, "2d3700", "F", "-7"}},
      {"int8", bftSignedInt8, Raw<std::int8_t>(-5), -2,
       {"-5", "-5", "-5", "-5", "-5", "-5", "-5", "-5", "251", "65531", "4294967291", "-5",
        "-5", "-5", "-5", "-5", "-5,0", R52, "T", "-5"}},
      {"int16", bftSignedInt16, Raw<std::int16_t>(300), -2,
       {"300", "300", "300", "300", "44", "300", "300", "300", "44", "300", "300", "300",
        "300", "300", "300", "300", "300,0", R52, "T", "300"}},
      {"int32 min", bftSignedInt32, Raw<std::int32_t>(INT32_MIN), -2,
       {"-2147483648", "-2147483648", "-2147483648", "-2147483648", "0", "0", "-2147483648",
        "-2147483648", "0", "0", "2147483648", "-2147483648", "-2147483648", "-2147483648",
        "-2147483648", "-2147483648", "-2147483648,0", R52, "T", "-2147483648"}},
      {"int64", bftSignedInt64, Raw<std::int64_t>(4294967301LL), -2,
       {"4294967301", "4294967301", "4294967301", "4294967301", "5", "5", "5", "4294967301", "5",
        "5", "5", "4294967296", "4294967301", "4294967301", "5", "5", "5,0", R52, "T",
        "4294967301"}},
      {"uint8", bftUnsignedInt8, Raw<std::uint8_t>(255), -2,
       {"255", "255", "255", "255", "-1", "255", "255", "255", "255", "255", "255", "255",
        "255", "255", "255", "255", "255,0", R52, "T", "255"}},
      {"uint16 zero", bftUnsignedInt16, Raw<std::uint16_t>(0), -2,
       {"0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0",
        "0,0", R52, "F", "0"}},
      {"uint32 max", bftUnsignedInt32, Raw<std::uint32_t>(UINT32_MAX), -2,
       {"4294967295", "4294967295", "4294967295", "4294967295", "-1", "-1", "-1", "4294967295",
        "255", "65535", "4294967295", "4294967296", "4294967295", "4294967295", "-1", "-1",
        "-1,0", R52, "T", "4294967295"}},
      {"single", bftSingle, Raw<float>(2.75f), -2,
       {"2.75", "2.75", "2.75", "2.75", "2", "2", "2", "2", "2", "2", "2", "2.75", "2.75", "2.75",
        "2", "2", "2,64800000", R52, "T", "2.75"}},
      {"double negative", bftDouble, Raw<double>(-2.75), -2,
       {"-2.75", "-2.75", "-2.75", "-2.75", "-2", "-2", "-2", "-2", "254", "65534", "4294967294",
        "-2.75", "-2.75", "-2.75", "-2", "-2", "-2,-64800000", R52, "T", "-2.75"}},
      {"extended wide", bftExtended, RawExtended(10000000000.5L), -2,
       {"10000000000.5", "10000000000.5", "10000000000.5", "10000000000.5", "0", "-7168",
        "1410065408", "10000000000", "0", "58368", "1410065408", "10000000000",
        "10000000000.5", "10000000000.5", "1410065408", "64000000", "1410065408,43200000", R52,
        "T", "10000000000.5"}},
      {"double NaN", bftDouble, Raw<double>(std::numeric_limits<double>::quiet_NaN()), -2,
       {"NAN", "NAN", "NAN", "NAN", R51, R51, R51, R51, R51, R51, R51, "nan", "nan", "nan", R51,
        R51, R51, R52, "F", "nan"}},
      {"date", bftDate, Raw<std::int32_t>(kDay), -2,
       {"20/09/2016", "20/09/2016", "20/09/2016", "20/09/2016", "-29", "15331", "736227",
        "736227", "227", "15331", "736227", "736227", "736227", "736227", "736227",
        "736227", "736227,0", R52, "T", "736227"}},
      {"no date", bftDate, Raw<std::int32_t>(kNoDate), -2,
       {"", "", "", "", "0", "0", "-2147483648", "-2147483648", "0", "0", "2147483648",
        "-2147483648", "-2147483648", "-2147483648", "-2147483648", "-73883648", "-2147483648,0",
        R52, "F", "-2147483648"}},
      {"time", bftTime, Raw<std::int32_t>(45045000), -2,
       {"12:30:45", "12:30:45", "12:30:45", "12:30:45", "8", "21768", "45045000", "45045000",
        "8", "21768", "45045000", "45045000", "45045000", "45045000", "45045000",
        "45045000", "-2147483648,45045000", R52, "T", "45045000"}},
      {"time zero", bftTime, Raw<std::int32_t>(0), -2,
       {"", "", "", "", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0",
        "-2147483648,0", R52, "F", "0"}},
      {"datetime noon", bftDateTime, RawDateTime(kDay, 43200000), -2,
       {"20/09/2016 12:00:00", "20/09/2016 12:00:00", "20/09/2016 12:00:00",
        "20/09/2016 12:00:00", "-29", "15331", "736227", "736227", "227", "15331", "736227",
        "736227.5", "736227.5", "736227.5", "736227", "43200000", "736227,43200000", R52, "T",
        "736227.5"}},
      {"datetime without date", bftDateTime, RawDateTime(kNoDate, 43200000), -2,
       {R51, R51, R51, R51, "0", "0", "-2147483648", "-2147483648", "0", "0", "2147483648", "0.5",
        "0.5", "0.5", "-2147483648", "43200000", "-2147483648,43200000", R52, "T", "0.5"}},
      {"datetime empty", bftDateTime, RawDateTime(kNoDate, 0), -2,
       {"", "", "", "", "0", "0", "-2147483648", "-2147483648", "0", "0", "2147483648", "0",
        "0", "0", "-2147483648", "0", "-2147483648,0", R52, "F", "0"}},
      {"logical true", bftLogical, Raw<std::int16_t>(-1), -2,
       {"True", "True", "True", "True", "1", "1", "1", "1", "1", "1", "1", "1", "1", "1",
        R52, R52, R52, R52, "T", R52}},
      {"logical false", bftLogical, Raw<std::int16_t>(0), -2,
       {"False", "False", "False", "False", "0", "0", "0", "0", "0", "0", "0", "0", "0",
        "0", R52, R52, R52, R52, "F", R52}},
      {"currency", bftCurrency, Raw<double>(12.5), -2,
       {"12.5", "12.5", "12.5", "12.5", "12", "12", "12", "12", "12", "12", "12", "12.5", "12.5",
        "12.5", R52, R52, R52, R52, "T", "12.5"}},
  };
  return rows;
}
// clang-format on

TEST(ConvertTypedValueTest, SourceByTargetTable) {
  for (const Row& row : Rows()) {
    for (std::size_t i = 0; i < kTargets.size(); ++i) {
      SCOPED_TRACE(std::string(row.name) + " -> " + BaseTypeToSQLTypeName(kTargets[i]) + " (" +
                   std::to_string(kTargets[i]) + ")");
      const std::int32_t size = row.size == -2 ? static_cast<std::int32_t>(row.raw.size()) : -1;
      EXPECT_EQ(ConvertAndRender(row.raw, size, row.source, kTargets[i]), row.expected[i]);
    }
  }
}

TEST(ConvertTypedValueTest, NeverTargetsAndNeverSources) {
  const TVEZBaseFieldType never_targets[] = {bftUnknown, bftClob,     bftWideClob,
                                             bftBytes,   bftVarBytes, bftBFile};
  const Bytes raw = RawAnsi("12345678");
  for (int s = bftUnknown; s <= bftBFile; ++s) {
    for (TVEZBaseFieldType t : never_targets) {
      SCOPED_TRACE(std::to_string(s) + " -> " + std::to_string(t));
      EXPECT_EQ(ConvertAndRender(raw, 9, static_cast<TVEZBaseFieldType>(s), t), "!30052");
    }
  }
  const TVEZBaseFieldType never_sources[] = {bftUnknown, bftBlob, bftBytes, bftVarBytes, bftBFile};
  for (TVEZBaseFieldType s : never_sources) {
    for (int t = bftUnknown; t <= bftBFile; ++t) {
      SCOPED_TRACE(std::to_string(s) + " -> " + std::to_string(t));
      EXPECT_EQ(ConvertAndRender(raw, 9, s, static_cast<TVEZBaseFieldType>(t)), "!30052");
    }
  }
}

TEST(ConvertTypedValueTest, DayNumberMatchesCalendar) {
  EXPECT_EQ(TDateToVEZDate(platform::EncodeDate(2016, 9, 20)), kDay);
}

// Text to integer is range-checked for every width (no silent low bytes), and
// unsigned 32-bit values parse through 64 bits.
TEST(ConvertTypedValueTest, TextToIntegerBoundaries) {
  struct Case {
    const char* text;
    TVEZBaseFieldType target;
    const char* expected;
  };
  const Case cases[] = {
      {"127", bftSignedInt8, "127"},
      {"128", bftSignedInt8, "!30051"},
      {"-128", bftSignedInt8, "-128"},
      {"-129", bftSignedInt8, "!30051"},
      {"300", bftSignedInt8, "!30051"},
      {"32767", bftSignedInt16, "32767"},
      {"32768", bftSignedInt16, "!30051"},
      {"-32768", bftSignedInt16, "-32768"},
      {"-32769", bftSignedInt16, "!30051"},
      {"2147483647", bftSignedInt32, "2147483647"},
      {"2147483648", bftSignedInt32, "!30051"},
      {"-2147483648", bftSignedInt32, "-2147483648"},
      {"-2147483649", bftSignedInt32, "!30051"},
      {"9223372036854775807", bftSignedInt64, "9223372036854775807"},
      {"9223372036854775808", bftSignedInt64, "!30051"},
      {"-9223372036854775808", bftSignedInt64, "-9223372036854775808"},
      {"255", bftUnsignedInt8, "255"},
      {"256", bftUnsignedInt8, "!30051"},
      {"-1", bftUnsignedInt8, "!30051"},
      {"65535", bftUnsignedInt16, "65535"},
      {"65536", bftUnsignedInt16, "!30051"},
      {"4294967295", bftUnsignedInt32, "4294967295"},
      {"4294967296", bftUnsignedInt32, "!30051"},
      {"-1", bftUnsignedInt32, "!30051"},
      {"12", bftSignedInt8, "12"},
      {" 12", bftSignedInt32, "12"},
      {"x", bftSignedInt8, "!30051"},
      {"", bftSignedInt32, "!30051"},
      {"1.5", bftSignedInt32, "!30051"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " -> " + BaseTypeToSQLTypeName(c.target));
    EXPECT_EQ(ConvertAndRender(RawAnsi(c.text), -1, bftVarchar, c.target), c.expected);
  }
}

TEST(ConvertTypedValueTest, NumberToIntegerCutsAndFloatRange) {
  struct Case {
    TVEZBaseFieldType source;
    Bytes raw;
    TVEZBaseFieldType target;
    const char* expected;
  };
  const Case cases[] = {
      {bftSignedInt64, Raw<std::int64_t>(INT64_MAX), bftSignedInt32, "-1"},
      {bftSignedInt64, Raw<std::int64_t>(INT64_MIN), bftSignedInt16, "0"},
      {bftSignedInt32, Raw<std::int32_t>(INT32_MAX), bftSignedInt16, "-1"},
      {bftSignedInt32, Raw<std::int32_t>(-1), bftUnsignedInt32, "4294967295"},
      {bftUnsignedInt32, Raw<std::uint32_t>(UINT32_MAX), bftSignedInt64, "4294967295"},
      {bftSignedInt16, Raw<std::int16_t>(INT16_MIN), bftSignedInt8, "0"},
      {bftUnsignedInt16, Raw<std::uint16_t>(UINT16_MAX), bftSignedInt32, "65535"},
      {bftDouble, Raw<double>(9.2e18), bftSignedInt64, "9200000000000000000"},
      {bftDouble, Raw<double>(1e19), bftSignedInt64, "!30051"},
      {bftDouble, Raw<double>(-1e19), bftSignedInt8, "!30051"},
      {bftDouble, Raw<double>(std::numeric_limits<double>::infinity()), bftSignedInt32, "!30051"},
      {bftDouble, Raw<double>(1e300), bftSingle, "!30051"},
      {bftCurrency, Raw<double>(-7.9), bftSignedInt32, "-7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(BaseTypeToSQLTypeName(c.source) + " -> " + BaseTypeToSQLTypeName(c.target));
    EXPECT_EQ(ConvertAndRender(c.raw, static_cast<std::int32_t>(c.raw.size()), c.source, c.target),
              c.expected);
  }
}

TEST(ConvertTypedValueTest, ErrorTextsNameBothTypes) {
  try {
    std::int32_t size;
    ConvertTypedValue("x", 2, bftVarchar, size, bftSignedInt8);
    FAIL() << "no error";
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), 30051);
    EXPECT_STREQ(e.what(), "Cannot cast from 'STRING' to 'SHORTINT' - Native error: 30051");
  }
  try {
    std::int32_t size;
    const double c = 1;
    ConvertTypedValue(&c, 8, bftCurrency, size, bftDate);
    FAIL() << "no error";
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), 30052);
  }
}

// Floats read from text take '.' whatever the settings; floats and currency
// print with the settings' separator.
TEST(ConvertTypedValueTest, DecimalSeparatorOfSettings) {
  const platform::TFormatSettings saved = platform::FormatSettings();
  platform::TFormatSettings comma = saved;
  comma.DecimalSeparator = ',';
  platform::SetFormatSettings(comma);
  EXPECT_EQ(ConvertAndRender(RawAnsi("3.5"), -1, bftVarchar, bftDouble), "3.5");
  EXPECT_EQ(ConvertAndRender(Raw<double>(3.5), 8, bftDouble, bftVarchar), "3,5");
  EXPECT_EQ(ConvertAndRender(Raw<double>(3.5), 8, bftCurrency, bftVarchar), "3,5");
  platform::SetFormatSettings(saved);
}

TEST(ConvertTypedValueTest, LogicalTexts) {
  const std::pair<const char*, const char*> cases[] = {
      {"true", "T"}, {"TRUE", "T"}, {"1", "T"}, {"yes", "F"}, {"0", "F"}, {"", "F"}, {" 1", "F"}};
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ConvertAndRender(RawAnsi(text), -1, bftVarchar, bftLogical), expected);
    EXPECT_EQ(ConvertAndRender(RawWide(text), -1, bftWideVarchar, bftLogical), expected);
  }
}

// A text source is never read past its known size, terminator or not.
TEST(ConvertTypedValueTest, SizedTextWithoutTerminator) {
  Bytes raw = RawAnsi("12345", false);
  EXPECT_EQ(ConvertAndRender(raw, 3, bftVarchar, bftSignedInt32), "123");
  EXPECT_EQ(ConvertAndRender(raw, 3, bftClob, bftVarchar), "123");
  EXPECT_EQ(ConvertAndRender(Raw<std::int16_t>(1), 2, bftSignedInt32, bftDouble), "!30051");
  Bytes wide = RawWide("abcd", false);
  EXPECT_EQ(ConvertAndRender(wide, 4, bftWideVarchar, bftVarchar), "ab");
}

}  // namespace
}  // namespace vez

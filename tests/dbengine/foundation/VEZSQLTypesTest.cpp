#include "dbengine/foundation/VEZSQLTypes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "platform/core/CodePage.h"
#include "platform/core/Collation.h"
#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"

namespace vez {
namespace {

using namespace platform;  // ft... field types, EncodeDate

void ExpectNative(std::int32_t code, const std::string& message, const auto& fn) {
  try {
    fn();
    ADD_FAILURE() << "expected native error " << code;
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), code);
    if (!message.empty()) {
      EXPECT_EQ(e.Message(), message);
    }
  }
}

TEST(VEZSQLTypesTest, TableRows) {
  ASSERT_EQ(SQLFieldTypes.size(), 62u);
  EXPECT_EQ(SQLFieldTypes[0].SqlName, "CHAR");
  EXPECT_EQ(SQLFieldTypes[33].FieldType, ftBCD);  // row 34
  EXPECT_EQ(SQLFieldTypes[61].SqlName, "GUID");
  EXPECT_EQ(SQLFieldTypes[61].BaseFieldType, bftChar);
}

// Every first-match consequence that callers see.
TEST(VEZSQLTypesTest, TypeMapFirstMatch) {
  struct B2A {
    TVEZBaseFieldType base;
    TVEZAdvancedFieldType adv;
    const char* name;
  };
  const B2A base_rows[] = {
      {bftChar, aftChar, "CHAR"},
      {bftVarchar, aftString, "STRING"},
      {bftWideChar, aftWideChar, "WIDECHAR"},
      {bftSignedInt8, aftShortint, "SHORTINT"},
      {bftSignedInt16, aftSmallint, "SMALLINT"},
      {bftSignedInt32, aftInteger, "INTEGER"},
      {bftSignedInt64, aftLargeint, "LARGEINT"},
      {bftUnsignedInt8, aftByte, "BYTE"},
      {bftUnsignedInt32, aftCardinal, "CARDINAL"},
      {bftDouble, aftDouble, "FLOAT"},
      {bftDateTime, aftDateTime, "DATETIME"},
      {bftBlob, aftBlob, "BLOB"},
      {bftClob, aftMemo, "MEMO"},
      {bftWideClob, aftWideMemo, "WIDEMEMO"},
      {bftLogical, aftBoolean, "LOGICAL"},
      {bftCurrency, aftCurrency, "CURRENCY"},
      {bftUnknown, aftUnknown, "Unknown"},
      {bftBFile, aftUnknown, "Unknown"},
  };
  for (const B2A& r : base_rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(BaseTypeToAdvancedType(r.base), r.adv);
    EXPECT_EQ(BaseTypeToSQLTypeName(r.base), r.name);
  }
  struct A2 {
    TVEZAdvancedFieldType adv;
    TVEZBaseFieldType base;
    TFieldType ft;
    const char* name;
  };
  const A2 adv_rows[] = {
      {aftGuid, bftChar, ftGuid, "GUID"},
      {aftCardinal, bftUnsignedInt32, ftLargeint, "CARDINAL"},
      {aftDouble, bftDouble, ftFloat, "FLOAT"},
      {aftString, bftVarchar, ftString, "STRING"},
      {aftByte, bftUnsignedInt8, ftWord, "BYTE"},
      {aftAutoIncLargeint, bftSignedInt64, ftLargeint, "AUTOINCLARGEINT"},
      {aftTimeStamp, bftDateTime, ftTimeStamp, "TIMESTAMP"},
      {aftGraphic, bftBlob, ftGraphic, "GRAPHIC"},
      {aftMemo, bftClob, ftMemo, "MEMO"},
      {aftUnknown, bftUnknown, ftUnknown, "Unknown"},
  };
  for (const A2& r : adv_rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(AdvancedTypeToBaseType(r.adv), r.base);
    EXPECT_EQ(AdvancedTypeToVCLType(r.adv), r.ft);
    EXPECT_EQ(AdvancedTypeToSQLTypeName(r.adv), r.name);
  }
  struct V2A {
    TFieldType ft;
    TVEZAdvancedFieldType adv;
  };
  const V2A vcl_rows[] = {
      {ftWideString, aftWideChar}, {ftFloat, aftDouble},      {ftBCD, aftDouble},
      {ftSmallint, aftSmallint},   {ftWord, aftWord},         {ftLargeint, aftLargeint},
      {ftAutoInc, aftAutoInc},     {ftBlob, aftBlob},         {ftParadoxOle, aftBlob},
      {ftTypedBinary, aftBlob},    {ftDBaseOle, aftBlob},     {ftOraBlob, aftBlob},
      {ftOraClob, aftBlob},        {ftFixedChar, aftChar},    {ftString, aftString},
      {ftMemo, aftMemo},           {ftWideMemo, aftWideMemo}, {ftGuid, aftGuid},
      {ftTimeStamp, aftTimeStamp}, {ftCurrency, aftCurrency}, {ftBoolean, aftBoolean},
  };
  for (const V2A& r : vcl_rows) {
    SCOPED_TRACE(static_cast<int>(r.ft));
    EXPECT_EQ(VCLTypeToAdvancedType(r.ft), r.adv);
  }
  ExpectNative(30289, "Unknown DataType: '38' - Native error: 30289",
               [] { VCLTypeToAdvancedType(ftFixedWideChar); });
  ExpectNative(30289, "", [] { VCLTypeToAdvancedType(ftUnknown); });
  EXPECT_EQ(SQLTypeNameToAdvancedType("varchar"), aftString);
  EXPECT_EQ(SQLTypeNameToAdvancedType("Money"), aftCurrency);
  EXPECT_EQ(SQLTypeNameToAdvancedType("clob"), aftMemo);
  EXPECT_EQ(SQLTypeNameToAdvancedType("NUMBER"), aftUnknown);
}

TEST(VEZSQLTypesTest, GetValueSizeTable) {
  struct Row {
    TVEZBaseFieldType type;
    std::int32_t length, size;
  };
  const Row rows[] = {
      {bftChar, 10, 11},      {bftVarchar, 20, 21},     {bftVarchar, 0, 1},
      {bftWideChar, 5, 12},   {bftWideVarchar, 20, 42}, {bftBytes, 16, 17},
      {bftVarBytes, 0, 1},    {bftSignedInt8, 99, 1},   {bftUnsignedInt8, 0, 1},
      {bftSignedInt16, 0, 2}, {bftUnsignedInt16, 0, 2}, {bftLogical, 0, 2},
      {bftSignedInt32, 0, 4}, {bftUnsignedInt32, 0, 4}, {bftSingle, 0, 4},
      {bftDate, 0, 4},        {bftTime, 0, 4},          {bftSignedInt64, 0, 8},
      {bftDouble, 0, 8},      {bftDateTime, 0, 8},      {bftCurrency, 0, 8},
      {bftExtended, 0, 10},   {bftExtended, 1234, 10},  {bftBlob, 0, 10},
      {bftClob, 0, 10},       {bftWideClob, 0, 10},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.type));
    EXPECT_EQ(GetValueSize(r.type, r.length), r.size);
  }
  ExpectNative(30050, "Unknown DataType: 'Unknown' - Native error: 30050",
               [] { GetValueSize(bftUnknown, 0); });
  ExpectNative(30050, "", [] { GetValueSize(bftBFile, 0); });
  ExpectNative(30050, "", [] { GetValueSize(static_cast<TVEZBaseFieldType>(200), 0); });
  EXPECT_THROW(GetValueSize(bftVarchar, std::numeric_limits<std::int32_t>::max()),
               platform::EIntOverflow);
  EXPECT_THROW(GetValueSize(bftWideChar, 0x40000000), platform::EIntOverflow);
  EXPECT_THROW(GetValueSize(bftChar, -1), platform::EIntOverflow);
}

TEST(VEZSQLTypesTest, CopyValueToNewBuffer) {
  const std::int64_t before = MemoryManager().TotalMemAllocated();
  void* buf = nullptr;
  std::int32_t size = 0;
  CopyValueToNewBuffer(bftVarchar, std::string_view("ab\0cd", 5), buf, size);
  EXPECT_EQ(size, 3);
  EXPECT_EQ(std::memcmp(buf, "ab\0", 3), 0);
  MemoryManager().FreeAndNillMem(buf);

  CopyValueToNewBuffer(bftWideChar, std::u16string_view(u"\u20acx"), buf, size);
  EXPECT_EQ(size, 6);
  EXPECT_EQ(std::memcmp(buf, "\xAC\x20x\0\0\0", 6), 0);
  MemoryManager().FreeAndNillMem(buf);

  const double d = 2.5;
  CopyValueToNewBuffer(bftDouble, &d, buf, size);
  EXPECT_EQ(size, 8);
  EXPECT_EQ(std::memcmp(buf, &d, 8), 0);
  MemoryManager().FreeAndNillMem(buf);

  const char16_t text[] = u"hey";
  CopyValueToNewBuffer(bftWideVarchar, static_cast<const void*>(text), buf, size);
  EXPECT_EQ(size, 8);
  MemoryManager().FreeAndNillMem(buf);

  // Failures raise and leave nothing allocated.
  ExpectNative(30050, "", [&] { CopyValueToNewBuffer(bftBFile, &d, buf, size); });
  ExpectNative(30054, "Cannot copy data into new memory - Native error: 30054",
               [&] { CopyValueToNewBuffer(bftSignedInt32, std::string_view("x"), buf, size); });
  ExpectNative(30054, "", [&] { CopyValueToNewBuffer(bftDouble, nullptr, buf, size); });
  EXPECT_EQ(buf, nullptr);
  EXPECT_EQ(MemoryManager().TotalMemAllocated(), before);
}

TEST(VEZSQLTypesTest, WideCase) {
  EXPECT_EQ(VEZWideUpperCase(u"stra\u00dfe \u00e9"), u"STRA\u00dfE \u00c9");
  EXPECT_EQ(VEZWideLowerCase(u"\u0416\u00c9A"), u"\u0436\u00e9a");
  EXPECT_EQ(VEZWideUpperCase(u""), u"");
}

TEST(VEZSQLTypesTest, DateConversions) {
  EXPECT_EQ(TDateToVEZDate(EncodeDate(1, 1, 1)), 1);
  EXPECT_EQ(TDateToVEZDate(0.0), 693594);
  EXPECT_EQ(TDateToVEZDate(-1.25), 693593);
  EXPECT_EQ(VEZDateToTDate(693594), 0.0);
  EXPECT_EQ(VEZDateToTDate(1), -693593.0);
  EXPECT_EQ(TTimeToVEZTime(0.5), 43200000);
  EXPECT_EQ(TTimeToVEZTime(EncodeTime(23, 59, 59, 999)), 86399999);
  const double late = 1.0 - 0.0004 / 86400;  // 23:59:59.9996
  EXPECT_EQ(TTimeToVEZTime(late), 0);        // the time alone wraps to midnight
  EXPECT_EQ(VEZTimeToTTime(86400000), 0.0);
  EXPECT_EQ(TDateTimeToVEZDateTime(late), (TVEZDateTime{693595, 0}));  // next day's midnight
  EXPECT_EQ(TDateTimeToVEZDateTime(-1.25), (TVEZDateTime{693593, 21600000}));
  // Halves go to even: 0.5 ms and 1.5 ms of day 0.
  EXPECT_EQ(TTimeToVEZTime(0.5 / 86400000), 0);
  EXPECT_EQ(TTimeToVEZTime(1.5 / 86400000), 2);
  // Legacy rows with a negative time on an early date read as the same moment.
  EXPECT_EQ(VEZDateTimeToTDateTime({693593, -21600000}), -1.25);
  EXPECT_THROW(TDateToVEZDate(std::numeric_limits<double>::quiet_NaN()), platform::EConvertError);
  EXPECT_THROW(TDateToVEZDate(3e9), platform::EConvertError);
  EXPECT_THROW(TTimeToVEZTime(std::numeric_limits<double>::infinity()), platform::EConvertError);
}

// Round trips to the millisecond around 0001-01-01, 1899-12-30, negative
// platform dates and the last millisecond of a day.
TEST(VEZSQLTypesTest, DateTimeRoundTrips) {
  struct Row {
    int y, mo, d, h, mi, s, ms;
  };
  const Row rows[] = {
      {1, 1, 1, 0, 0, 0, 0},          {1, 1, 1, 23, 59, 59, 999},      {1, 1, 2, 0, 0, 0, 1},
      {1899, 12, 30, 0, 0, 0, 0},     {1899, 12, 30, 23, 59, 59, 999}, {1899, 12, 29, 0, 0, 0, 1},
      {1899, 12, 29, 12, 0, 0, 0},    {1899, 12, 31, 0, 0, 0, 0},      {1700, 3, 1, 8, 30, 0, 250},
      {2016, 9, 20, 23, 59, 59, 999}, {9999, 12, 31, 23, 59, 59, 999},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.y << "-" << r.mo << "-" << r.d << " " << r.h << ":" << r.mi
                                    << ":" << r.s << "." << r.ms);
    const double v = EncodeDateTime(r.y, r.mo, r.d, r.h, r.mi, r.s, r.ms);
    const TVEZDateTime dt = TDateTimeToVEZDateTime(v);
    std::int32_t day;
    ASSERT_TRUE(TryDayNumberFromDate(r.y, r.mo, r.d, day));
    EXPECT_EQ(dt.Date, day);
    EXPECT_EQ(dt.Time, ((r.h * 60 + r.mi) * 60 + r.s) * 1000 + r.ms);
    EXPECT_EQ(VEZDateTimeToTDateTime(dt), v);
    EXPECT_EQ(TDateTimeToVEZDateTime(VEZDateTimeToTDateTime(dt)), dt);
  }
  // The engine's split of a platform date-time is the platform's own time
  // stamp (the same rounding and carry), on random values over the calendar.
  std::mt19937_64 rng64(7);
  std::uniform_real_distribution<double> any_moment(-693593.9, 2958465.9);
  for (int i = 0; i < 20000; ++i) {
    const double v = any_moment(rng64);
    const TTimeStamp ts = DateTimeToTimeStamp(v);
    ASSERT_EQ(TDateTimeToVEZDateTime(v), (TVEZDateTime{ts.Date, ts.Time})) << v;
  }
  // Random moments: engine form -> platform -> engine is exact.
  std::mt19937 rng(99);
  for (int i = 0; i < 20000; ++i) {
    const TVEZDateTime dt{static_cast<std::int32_t>(1 + rng() % 3652059),
                          static_cast<std::int32_t>(rng() % 86400000)};
    ASSERT_EQ(TDateTimeToVEZDateTime(VEZDateTimeToTDateTime(dt)), dt) << dt.Date << " " << dt.Time;
  }
}

TEST(VEZSQLTypesTest, Predicates) {
  int counts[14] = {};
  for (int t = 0; t < kBaseFieldTypeCount; ++t) {
    const auto b = static_cast<TVEZBaseFieldType>(t);
    counts[0] += IsBlobBaseFieldType(b);
    counts[1] += IsStringBaseFieldType(b);
    counts[2] += IsWideStringBaseFieldType(b);
    counts[3] += IsNumericBaseFieldType(b);
    counts[4] += IsDateTimeBaseFieldType(b);
  }
  for (int t = 0; t < kAdvancedFieldTypeCount; ++t) {
    const auto a = static_cast<TVEZAdvancedFieldType>(t);
    counts[5] += IsBlobAdvancedFieldType(a);
    counts[6] += IsStringAdvancedFieldType(a);
    counts[7] += IsWideStringAdvancedFieldType(a);
    counts[8] += IsBytesAdvancedFieldType(a);
    counts[9] += IsAutoincAdvancedFieldType(a);
    counts[10] += IsNumericAdvancedFieldType(a);
    counts[11] += IsDateTimeAdvancedFieldType(a);
    counts[12] += IsSizedAdvancedFieldType(a);
    counts[13] += IsComparableAdvancedFieldType(a);
  }
  const int expected[14] = {3, 4, 2, 11, 3, 5, 5, 2, 2, 8, 19, 4, 6, 31};
  for (int k = 0; k < 14; ++k)
    EXPECT_EQ(counts[k], expected[k]) << k;
  EXPECT_TRUE(IsNumericBaseFieldType(bftCurrency));
  EXPECT_FALSE(IsNumericBaseFieldType(bftLogical));
  EXPECT_TRUE(IsNumericAdvancedFieldType(aftAutoIncCardinal));
  EXPECT_TRUE(IsDateTimeAdvancedFieldType(aftTimeStamp));
  EXPECT_TRUE(IsStringAdvancedFieldType(aftGuid));
  EXPECT_TRUE(IsComparableAdvancedFieldType(aftWideMemo));
  EXPECT_FALSE(IsComparableAdvancedFieldType(aftBlob));
  EXPECT_FALSE(IsComparableAdvancedFieldType(aftGuid));
}

TEST(VEZSQLTypesTest, LikeTable) {
  struct Row {
    const char* value;
    const char* pattern;
    bool escape;
    bool ci;
    bool match;
  };
  const Row rows[] = {
      {"abc", "a%", false, false, true},
      {"abc", "abc%", false, false, true},
      {"abc", "abc%%", false, false, true},  // a rest of only '%' matches
      {"", "%", false, false, true},
      {"", "%%", false, false, true},
      {"", "", false, false, true},
      {"", "_", false, false, false},
      {"a", "", false, false, false},
      {"abc", "%c", false, false, true},
      {"abc", "%b%", false, false, true},
      {"abc", "_b_", false, false, true},
      {"abc", "__", false, false, false},
      {"abc", "___", false, false, true},
      {"abc", "%d%", false, false, false},
      {"abc", "ABC", false, false, false},
      {"abc", "ABC", false, true, true},
      {"\xE9t\xE9", "\xC9T_", false, true, true},
      {"\xE9t\xE9", "\xC9T_", false, false, false},
      {"a%b", "a\\%b", true, false, true},
      {"axb", "a\\%b", true, false, false},
      {"a_b", "a\\_b", true, false, true},
      {"axb", "a\\_b", true, false, false},
      {"a\\b", "a\\\\b", true, false, true},
      {"ab", "ab\\", true, false, false},
      {"a%b", "a\\%b", false, false, false},  // without ESCAPE the backslash is plain
      {"a\\xb", "a\\%b", false, false, true},
      {"aXb", "axb", true, true, true},
      {"mississippi", "%iss%ipp%", false, false, true},
      {"mississippi", "m%s%s%s%s%s%", false, false, false},
      {"abcabd", "%abd", false, false, true},
      {"aab", "a%ab", false, false, true},
      // An escaped character after '%' is retried from each start like any other.
      {"xa%b", "%a\\%b", true, false, true},
      {"a%ya%b", "%a\\%b", true, false, true},
      {"a%ya%bc", "%a\\%b", true, false, false},
      {"ab", "%\\", true, false, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.value) + " LIKE " + r.pattern);
    EXPECT_EQ(MatchLikeAnsi(r.value, r.pattern, r.escape, '\\', r.ci), r.match);
    EXPECT_EQ(MatchLikeWide(AnsiToWide(r.value), AnsiToWide(r.pattern), r.escape, u'\\', r.ci),
              r.match);
  }
  // Texts end at their first zero character.
  EXPECT_TRUE(MatchLikeAnsi(std::string_view("ab\0zz", 5), "ab", false, 0, false));
  EXPECT_TRUE(MatchLikeWide(u"\u03a3\u03bc", u"\u03c3\u039c", false, 0, true));
}

// The plain recursive LIKE (with a rest of only '%' matching), as the oracle.
bool ReferenceLike(std::string_view v, std::string_view p, bool has_escape, char esc, bool ci) {
  if (!p.empty() && p.find_first_not_of('%') == std::string_view::npos) return true;
  if (v.empty()) return p.empty();
  if (p.empty()) return false;
  if (p[0] == '%') {
    for (std::size_t k = 0; k < v.size(); ++k)
      if (ReferenceLike(v.substr(k), p.substr(1), has_escape, esc, ci)) return true;
    return false;
  }
  if (p[0] == '_') return ReferenceLike(v.substr(1), p.substr(1), has_escape, esc, ci);
  std::size_t i = 0;
  if (has_escape && p[0] == esc) i = 1;
  if (i >= p.size()) return false;
  const bool eq =
      v[0] == p[i] || (ci && AnsiUpperCase(v.substr(0, 1)) == AnsiUpperCase(p.substr(i, 1)));
  return eq && ReferenceLike(v.substr(1), p.substr(i + 1), has_escape, esc, ci);
}

TEST(VEZSQLTypesTest, LikeAgainstReference) {
  std::mt19937 rng(77);
  const std::string value_chars = "abA\\%";
  const std::string pattern_chars = "abA%_\\";
  // The escape may also be a wildcard or a letter: '%' and '_' keep their
  // meaning first, any other escape character makes the next one literal.
  const std::string escapes = "\\%_a";
  for (int i = 0; i < 30000; ++i) {
    std::string v, p;
    for (unsigned k = rng() % 8; k > 0; --k)
      v.push_back(value_chars[rng() % value_chars.size()]);
    for (unsigned k = rng() % 7; k > 0; --k)
      p.push_back(pattern_chars[rng() % pattern_chars.size()]);
    const bool esc = rng() % 2;
    const bool ci = rng() % 2;
    const char e = escapes[rng() % escapes.size()];
    ASSERT_EQ(MatchLikeAnsi(v, p, esc, e, ci), ReferenceLike(v, p, esc, e, ci))
        << "'" << v << "' LIKE '" << p << "' esc " << esc << " '" << e << "' ci " << ci;
    ASSERT_EQ(MatchLikeWide(AnsiToWide(v), AnsiToWide(p), esc, static_cast<char16_t>(e), ci),
              ReferenceLike(v, p, esc, e, ci))
        << "wide '" << v << "' LIKE '" << p << "'";
  }
}

// A backtracking matcher takes exponential time here; ours stays linear in
// the value for a fixed pattern (this finishes at once).
TEST(VEZSQLTypesTest, LikeHasNoExponentialBacktracking) {
  const std::string value(20000, 'a');
  EXPECT_FALSE(MatchLikeAnsi(value, "%a%a%a%a%a%a%a%a%a%a%b", false, 0, false));
  EXPECT_TRUE(MatchLikeAnsi(value + "b", "%a%a%a%a%a%a%a%a%a%a%b", false, 0, false));
  const std::u16string wide(20000, u'a');
  EXPECT_FALSE(MatchLikeWide(wide, u"%a%a%a%a%a%a%b", false, 0, true));
}

TEST(VEZSQLTypesTest, LiteralParsers) {
  struct Row {
    const char* text;
    int kind;  // 0 date, 1 time, 2 timestamp
    bool ok;
    double value;
  };
  const double d = EncodeDate(2016, 9, 20);
  const Row rows[] = {
      {"2016-09-20", 0, true, d},
      {"2016/09/20", 0, true, d},
      {"2016-09-20X", 0, true, d},
      {"2016-09-20XY", 0, false, 0},
      {"16-09-20", 0, false, 0},
      {"2016-9-20", 0, false, 0},
      {" 2016-09-20", 0, false, 0},
      {"2016-13-01", 0, false, 0},  // month 13: false, not an exception
      {"2016-02-30", 0, false, 0},
      {"0000-01-01", 0, false, 0},
      {"", 0, false, 0},
      {"12:30:45", 1, true, EncodeTime(12, 30, 45, 0)},
      {"12.30.45", 1, true, EncodeTime(12, 30, 45, 0)},
      {"12:30:45.5", 1, false, 0},
      {"25:00:00", 1, false, 0},  // hour 25
      {"12:60:00", 1, false, 0},
      {"1:30:45", 1, false, 0},
      {"-12:30:45", 1, false, 0},
      {"2016-09-20 12:30:45", 2, true, EncodeDateTime(2016, 9, 20, 12, 30, 45, 0)},
      {"2016-09-20T12:30:45Z", 2, true, EncodeDateTime(2016, 9, 20, 12, 30, 45, 0)},
      {"1899-12-29 06:00:00", 2, true, -1.25},
      {"2016-09-20 12:30:45.123", 2, false, 0},
      {"2016-09-20 24:00:00", 2, false, 0},
      {"2016-09-20", 2, false, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    double v = 42;
    const bool ok = r.kind == 0   ? TryParseSQLDate(r.text, v)
                    : r.kind == 1 ? TryParseSQLTime(r.text, v)
                                  : TryParseSQLTimestamp(r.text, v);
    EXPECT_EQ(ok, r.ok);
    if (r.ok) {
      EXPECT_EQ(v, r.value);
    }
  }
}

TEST(VEZSQLTypesTest, TryReadDigits) {
  std::uint16_t v = 0;
  int pos = 1;
  EXPECT_TRUE(TryReadDigits("2016-09", 4, v, pos));
  EXPECT_EQ(v, 2016);
  EXPECT_EQ(pos, 6);
  EXPECT_TRUE(TryReadDigits("2016-09", 2, v, pos));
  EXPECT_EQ(v, 9);
  EXPECT_EQ(pos, 9);
  pos = 1;
  EXPECT_FALSE(TryReadDigits("123", 2, v, pos));
  EXPECT_EQ(pos, 5);
  pos = 1;
  EXPECT_FALSE(TryReadDigits("9999999", 7, v, pos));  // does not fit a Word
  pos = 0;
  EXPECT_FALSE(TryReadDigits("12", 2, v, pos));
}

}  // namespace
}  // namespace vez

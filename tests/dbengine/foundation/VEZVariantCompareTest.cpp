// Common type, comparison of raw values and the typed value's arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "tests/dbengine/foundation/VEZVariantTestUtil.h"

namespace vez {
namespace {

using namespace vez::testing;

// ---- common type ------------------------------------------------------------

struct Range {
  long double lo, hi;
};

Range IntegerRange(TVEZBaseFieldType t) {
  switch (t) {
    case bftSignedInt8:
      return {INT8_MIN, INT8_MAX};
    case bftSignedInt16:
      return {INT16_MIN, INT16_MAX};
    case bftSignedInt32:
      return {INT32_MIN, INT32_MAX};
    case bftSignedInt64:
      return {static_cast<long double>(INT64_MIN), static_cast<long double>(INT64_MAX)};
    case bftUnsignedInt8:
      return {0, UINT8_MAX};
    case bftUnsignedInt16:
      return {0, UINT16_MAX};
    case bftUnsignedInt32:
      return {0, UINT32_MAX};
    default:  // day numbers and milliseconds
      return {INT32_MIN, INT32_MAX};
  }
}

bool IsInteger(TVEZBaseFieldType t) {
  return t >= bftSignedInt8 && t <= bftUnsignedInt32;
}
bool IsDay(TVEZBaseFieldType t) {
  return t == bftDate || t == bftTime;
}

// A number of type t holding v (v must fit).
Bytes NumberRaw(TVEZBaseFieldType t, long double v) {
  switch (t) {
    case bftSignedInt8:
      return Raw(static_cast<std::int8_t>(v));
    case bftSignedInt16:
      return Raw(static_cast<std::int16_t>(v));
    case bftSignedInt32:
    case bftDate:
    case bftTime:
      return Raw(static_cast<std::int32_t>(v));
    case bftSignedInt64:
      return Raw(static_cast<std::int64_t>(v));
    case bftUnsignedInt8:
      return Raw(static_cast<std::uint8_t>(v));
    case bftUnsignedInt16:
      return Raw(static_cast<std::uint16_t>(v));
    case bftUnsignedInt32:
      return Raw(static_cast<std::uint32_t>(v));
    case bftSingle:
      return Raw(static_cast<float>(v));
    case bftDouble:
    case bftCurrency:
      return Raw(static_cast<double>(v));
    case bftExtended:
      return RawExtended(v);
    case bftLogical:
      return Raw<std::int16_t>(v != 0 ? -1 : 0);
    default:
      return {};
  }
}

TVEZCompareResult Reference(long double a, long double b) {
  return a < b ? cmprLower : (a > b ? cmprGreater : cmprEqual);
}

// Every pair of number, currency, Boolean, date and time types: the common
// type holds both operands (integers: the whole range of both), and comparing
// values of the two types gives what exact arithmetic says (a number meeting a
// date or time is read as a whole day number or millisecond count).
TEST(CompareTypedValuesTest, NumberPairsAgainstWideArithmetic) {
  std::vector<TVEZBaseFieldType> types;
  for (int t = bftSignedInt8; t <= bftExtended; ++t)
    types.push_back(static_cast<TVEZBaseFieldType>(t));
  types.push_back(bftCurrency);
  types.push_back(bftLogical);
  types.push_back(bftDate);
  types.push_back(bftTime);
  std::mt19937_64 rng(20260101);
  for (TVEZBaseFieldType t1 : types) {
    for (TVEZBaseFieldType t2 : types) {
      SCOPED_TRACE(BaseTypeToSQLTypeName(t1) + " vs " + BaseTypeToSQLTypeName(t2));
      const TVEZBaseFieldType g = GetCommonBaseType(t1, t2, true);
      if (IsDay(t1) && IsDay(t2) && t1 != t2) continue;  // a date-time; see the tables below
      auto no_order = [](TVEZBaseFieldType t) { return t == bftLogical || t == bftCurrency; };
      if ((no_order(t1) && no_order(t2) && t1 != t2) || (IsDay(t1) && no_order(t2)) ||
          (IsDay(t2) && no_order(t1))) {
        EXPECT_EQ(g, bftUnknown);
        const Bytes a = NumberRaw(t1, 1), b = NumberRaw(t2, 1);
        EXPECT_EQ(NativeErrorOf([&] {
                    CompareTypedValues(a.data(), b.data(), t1, t2, false, false, -1, false, 0x400);
                  }),
                  30044);
        continue;
      }
      ASSERT_NE(g, bftUnknown);
      EXPECT_EQ(GetCommonBaseType(t1, t2, false), g);
      if (IsInteger(t1) && IsInteger(t2)) {
        ASSERT_TRUE(IsInteger(g));
        EXPECT_LE(IntegerRange(g).lo, std::min(IntegerRange(t1).lo, IntegerRange(t2).lo));
        EXPECT_GE(IntegerRange(g).hi, std::max(IntegerRange(t1).hi, IntegerRange(t2).hi));
      }
      // Samples: the extremes of integer types, and values every float type
      // holds exactly when a float or currency is involved.
      const bool exact_only = !IsInteger(g) && !IsDay(g);
      auto sample = [&](TVEZBaseFieldType t) -> long double {
        if (t == bftLogical) return rng() % 2;
        if (IsInteger(t) || IsDay(t)) {
          const Range r = IntegerRange(t);
          Range s = r;
          if (exact_only) s = {std::max(r.lo, -1e6L), std::min(r.hi, 1e6L)};
          if (IsDay(g)) s = {std::max(r.lo, -2147483648.0L), std::min(r.hi, 2147483647.0L)};
          switch (rng() % 6) {
            case 0:
              return s.lo;
            case 1:
              return s.hi;
            case 2:
              return 0;
            default: {
              std::uniform_real_distribution<long double> d(s.lo, s.hi);
              return std::clamp(std::trunc(d(rng)), s.lo, s.hi);
            }
          }
        }
        return static_cast<long double>(static_cast<std::int64_t>(rng() % 4000001) - 2000000) / 4;
      };
      for (int i = 0; i < 200; ++i) {
        long double v1 = sample(t1), v2 = sample(t2);
        if (i % 10 == 0 && t1 != bftLogical && t2 != bftLogical) v2 = v1;  // equal values too
        const bool whole2 = IsInteger(t2) || IsDay(t2);
        if (whole2 && (v2 < IntegerRange(t2).lo || v2 > IntegerRange(t2).hi)) v2 = 0;
        if (whole2 && v2 != std::trunc(v2)) v2 = std::trunc(v2);
        // The value the float type really holds.
        if (t2 == bftSingle) v2 = static_cast<float>(v2);
        if (t2 == bftDouble || t2 == bftCurrency) v2 = static_cast<double>(v2);
        if (IsDay(g) && std::fabs(v2) > 2147483647.0L) v2 = 0;
        const Bytes a = NumberRaw(t1, v1), b = NumberRaw(t2, v2);
        auto reference = [&](TVEZBaseFieldType t, long double v) -> long double {
          if (t == bftLogical) return v != 0;
          // A float meeting a date is a whole day number, meeting a time a whole
          // millisecond count within a day.
          if (IsDay(g) && !IsInteger(t) && !IsDay(t))
            return g == bftTime ? std::fmod(std::trunc(v), 86400000.0L) : std::trunc(v);
          return v;
        };
        const long double r1 = reference(t1, v1), r2 = reference(t2, v2);
        ASSERT_EQ(CompareTypedValues(a.data(), b.data(), t1, t2, false, false, -1, false, 0x400),
                  Reference(r1, r2))
            << static_cast<double>(v1) << " vs " << static_cast<double>(v2);
      }
    }
  }
}

TEST(CompareTypedValuesTest, SignedMeetsUnsigned) {
  EXPECT_EQ(GetCommonBaseType(bftSignedInt8, bftUnsignedInt8, true), bftSignedInt16);
  EXPECT_EQ(GetCommonBaseType(bftSignedInt8, bftUnsignedInt16, true), bftSignedInt32);
  EXPECT_EQ(GetCommonBaseType(bftSignedInt16, bftUnsignedInt32, true), bftSignedInt64);
  EXPECT_EQ(GetCommonBaseType(bftSignedInt32, bftUnsignedInt32, true), bftSignedInt64);
  const Bytes m1 = Raw<std::int8_t>(-1), u5 = Raw<std::uint16_t>(5), u255 = Raw<std::uint8_t>(255);
  EXPECT_EQ(CompareTypedValues(m1.data(), u5.data(), bftSignedInt8, bftUnsignedInt16, false, false,
                               -1, false, 0x400),
            cmprLower);
  EXPECT_EQ(CompareTypedValues(m1.data(), u255.data(), bftSignedInt8, bftUnsignedInt8, false, false,
                               -1, false, 0x400),
            cmprLower);
  const Bytes i1 = Raw<std::int32_t>(1), umax = Raw<std::uint32_t>(UINT32_MAX);
  EXPECT_EQ(CompareTypedValues(i1.data(), umax.data(), bftSignedInt32, bftUnsignedInt32, false,
                               false, -1, false, 0x400),
            cmprLower);
}

TEST(GetCommonBaseTypeTest, StringTable) {
  const TVEZBaseFieldType kinds[] = {bftChar,        bftWideChar, bftVarchar,
                                     bftWideVarchar, bftClob,     bftWideClob};
  const TVEZBaseFieldType C = bftChar, W = bftWideChar, V = bftVarchar, WV = bftWideVarchar;
  const TVEZBaseFieldType expected[6][6] = {
      {C, W, V, WV, C, W},      {W, W, W, WV, W, W}, {V, W, V, WV, V, WV},
      {WV, WV, WV, WV, WV, WV}, {C, W, V, WV, C, W}, {W, W, WV, WV, W, W},
  };
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) {
      SCOPED_TRACE(std::to_string(i) + "," + std::to_string(j));
      EXPECT_EQ(GetCommonBaseType(kinds[i], kinds[j], false), expected[i][j]);
      EXPECT_EQ(GetCommonBaseType(kinds[i], kinds[j], true), expected[i][j]);
    }
}

// The number table cell by cell (rows the first operand). A signed 8- or
// 16-bit value meets an unsigned 16- or 32-bit one in a signed type wide
// enough for both, whichever comes first.
TEST(GetCommonBaseTypeTest, NumberTable) {
  const TVEZBaseFieldType I8 = bftSignedInt8, I16 = bftSignedInt16, I32 = bftSignedInt32,
                          I64 = bftSignedInt64, U8 = bftUnsignedInt8, U16 = bftUnsignedInt16,
                          U32 = bftUnsignedInt32, S = bftSingle, D = bftDouble, E = bftExtended;
  const TVEZBaseFieldType kinds[] = {I8, I16, I32, I64, U8, U16, U32, S, D, E};
  const TVEZBaseFieldType expected[10][10] = {
      {I8, I16, I32, I64, I16, I32, I64, S, D, E},
      {I16, I16, I32, I64, I16, I32, I64, S, D, E},
      {I32, I32, I32, I64, I32, I32, I64, S, D, E},
      {I64, I64, I64, I64, I64, I64, I64, S, D, E},
      {I16, I16, I32, I64, U8, U16, U32, S, D, E},
      {I32, I32, I32, I64, U16, U16, U32, S, D, E},
      {I64, I64, I64, I64, U32, U32, U32, S, D, E},
      {S, S, S, S, S, S, S, S, D, E},
      {D, D, D, D, D, D, D, D, D, E},
      {E, E, E, E, E, E, E, E, E, E},
  };
  for (int i = 0; i < 10; ++i)
    for (int j = 0; j < 10; ++j) {
      SCOPED_TRACE(BaseTypeToSQLTypeName(kinds[i]) + "," + BaseTypeToSQLTypeName(kinds[j]));
      EXPECT_EQ(GetCommonBaseType(kinds[i], kinds[j], false), expected[i][j]);
      EXPECT_EQ(GetCommonBaseType(kinds[i], kinds[j], true), expected[i][j]);
    }
}

TEST(GetCommonBaseTypeTest, OtherRules) {
  struct Case {
    TVEZBaseFieldType t1, t2;
    bool for_comparison;
    TVEZBaseFieldType expected;
  };
  const Case cases[] = {
      {bftBlob, bftBlob, false, bftUnknown},
      {bftBytes, bftBytes, true, bftUnknown},
      {bftVarchar, bftBlob, false, bftUnknown},
      {bftUnknown, bftSignedInt32, false, bftUnknown},
      {bftBFile, bftBFile, true, bftUnknown},
      {bftVarchar, bftSignedInt32, false, bftVarchar},
      {bftSignedInt32, bftWideChar, true, bftWideChar},
      {bftVarchar, bftDate, false, bftVarchar},
      {bftVarchar, bftDate, true, bftDate},
      {bftDateTime, bftChar, true, bftDateTime},
      {bftVarchar, bftLogical, true, bftVarchar},
      {bftVarchar, bftCurrency, true, bftVarchar},
      {bftClob, bftSignedInt32, false, bftUnknown},
      {bftDate, bftWideClob, true, bftUnknown},
      {bftLogical, bftSingle, false, bftSingle},
      {bftUnsignedInt8, bftLogical, false, bftUnsignedInt8},
      {bftSignedInt64, bftCurrency, false, bftCurrency},
      {bftCurrency, bftUnsignedInt8, false, bftCurrency},
      {bftDouble, bftCurrency, false, bftCurrency},
      {bftCurrency, bftDouble, false, bftDouble},
      {bftCurrency, bftExtended, true, bftExtended},
      {bftSignedInt32, bftDate, false, bftDate},
      {bftTime, bftDouble, false, bftTime},
      {bftDateTime, bftSignedInt8, true, bftDateTime},
      {bftDate, bftDate, false, bftDate},
      {bftTime, bftTime, false, bftTime},
      {bftDate, bftTime, false, bftDateTime},
      {bftTime, bftDate, true, bftDateTime},
      {bftDateTime, bftDate, false, bftDateTime},
      {bftLogical, bftLogical, false, bftLogical},
      {bftCurrency, bftCurrency, false, bftCurrency},
      {bftLogical, bftCurrency, false, bftUnknown},
      {bftLogical, bftDate, false, bftUnknown},
      {bftTime, bftCurrency, true, bftUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.t1) + "," + std::to_string(c.t2));
    EXPECT_EQ(GetCommonBaseType(c.t1, c.t2, c.for_comparison), c.expected);
  }
}

TEST(GetCommonBaseTypeTest, AdvancedTypesKeepTheOperandsType) {
  EXPECT_EQ(GetCommonAdvancedType(aftAutoInc, aftInteger, false), aftAutoInc);
  EXPECT_EQ(GetCommonAdvancedType(aftInteger, aftAutoInc, false), aftInteger);
  EXPECT_EQ(GetCommonAdvancedType(aftSmallint, aftLargeint, false), aftLargeint);
  EXPECT_EQ(GetCommonAdvancedType(aftShortint, aftByte, false), aftSmallint);
  EXPECT_EQ(GetCommonAdvancedType(aftDate, aftTime, false), aftDateTime);
  EXPECT_EQ(GetCommonAdvancedType(aftBlob, aftInteger, false), aftUnknown);
}

// ---- comparison of raw values ----------------------------------------------

TEST(CompareTypedValuesTest, NullResultsOfTheThreeEntryPoints) {
  const Bytes five = Raw<std::int32_t>(5);
  struct Case {
    bool null1, null2;
    TVEZCompareResult six;
    int order;
    TVEZCompareResult two_valued;
  };
  const Case cases[] = {
      {true, false, cmprLeftNull, -1, cmprLower},
      {false, true, cmprRightNull, 1, cmprGreater},
      {true, true, cmprBothNull, 0, cmprEqual},
      {false, false, cmprEqual, 0, cmprEqual},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.null1) + std::to_string(c.null2));
    EXPECT_EQ(CompareTypedValues(five.data(), five.data(), bftSignedInt32, bftSignedInt32, c.null1,
                                 c.null2, -1, false, 0x400),
              c.six);
    EXPECT_EQ(CompareTypedValuesOrder(five.data(), five.data(), bftSignedInt32, bftSignedInt32,
                                      c.null1, c.null2, -1, false, 0x400),
              c.order);
    TVEZVariant a, b;
    if (!c.null1) a.SetAsInteger(5);
    if (!c.null2) b.SetAsInteger(5);
    EXPECT_EQ(a.Compare(b, true, false, false), c.six);
    EXPECT_EQ(a.Compare(b, false, false, false), c.two_valued);
  }
  // NULL sides are decided before types are looked at.
  EXPECT_EQ(CompareTypedValues(nullptr, five.data(), bftBlob, bftSignedInt32, true, false, -1,
                               false, 0x400),
            cmprLeftNull);
}

TEST(CompareTypedValuesTest, Strings) {
  TVEZVariant abc, abd_upper, ab;
  abc.SetAsAnsiString("abc");
  abd_upper.SetAsAnsiString("ABD");
  ab.SetAsAnsiString("ab");
  EXPECT_EQ(abc.Compare(abd_upper, false, true, false), cmprLower);
  EXPECT_EQ(abc.Compare(abd_upper, false, false, false), cmprLower);
  EXPECT_EQ(abc.Compare(ab, false, false, true), cmprEqual);
  EXPECT_EQ(abc.Compare(ab, false, false, false), cmprGreater);
  TVEZVariant abc_upper;
  abc_upper.SetAsAnsiString("ABC");
  EXPECT_EQ(abc.Compare(abc_upper, false, true, false), cmprEqual);
  EXPECT_EQ(abc.Compare(abc_upper, false, false, false), cmprLower);  // lower case first

  TVEZVariant wide;
  wide.SetAsWideString(u"abd");
  EXPECT_EQ(abc.Compare(wide, false, false, false), cmprLower);
  EXPECT_EQ(wide.Compare(abc, false, false, false), cmprGreater);
}

// With a length the comparison stops at either string's end, and sized
// buffers are never read past their size.
TEST(CompareTypedValuesTest, LengthNeverReadsPastTheEnd) {
  // Guarded blocks: the tail signature follows the data at once, so reading
  // one byte too far would see it.
  void* a = MemoryManager().GetMem(3);
  void* b = MemoryManager().GetMem(3);
  std::memcpy(a, "ab", 3);
  std::memcpy(b, "ab", 3);
  EXPECT_EQ(CompareTypedValues(a, b, bftVarchar, bftVarchar, false, false, 40, false, 0x400, 3, 3),
            cmprEqual);
  std::memcpy(b, "ac", 3);
  EXPECT_EQ(CompareTypedValues(a, b, bftVarchar, bftVarchar, false, false, 1, false, 0x400, 3, 3),
            cmprEqual);
  EXPECT_EQ(CompareTypedValues(a, b, bftVarchar, bftVarchar, false, false, 2, false, 0x400, 3, 3),
            cmprLower);
  MemoryManager().FreeMem(a);
  MemoryManager().FreeMem(b);
  // A string without terminator in a sized buffer.
  const char unterminated[4] = {'a', 'b', 'c', 'd'};
  const char shorter[3] = {'a', 'b', 0};
  EXPECT_EQ(CompareTypedValues(unterminated, shorter, bftVarchar, bftVarchar, false, false, -1,
                               false, 0x400, 2, 3),
            cmprEqual);
}

// Wide texts at odd addresses, longer than any key, cut by a length or by a
// size, ordered as the collation orders them.
TEST(CompareTypedValuesTest, WideTextsOfAnyLengthAndAddress) {
  struct Case {
    std::u16string a, b;
    std::int32_t length;
    bool case_insensitive;
    TVEZCompareResult expected;
  };
  const std::u16string long_a(1000, u'x'), long_b = long_a + u"y";
  const Case cases[] = {
      {u"abc", u"abd", -1, false, cmprLower},
      {u"abd", u"ABD", -1, true, cmprEqual},
      {u"abd", u"ABD", -1, false, cmprLower},
      {u"abcz", u"abcy", 3, false, cmprEqual},
      {long_a, long_b, -1, false, cmprLower},
      {long_b, long_a, -1, false, cmprGreater},
      {long_a, long_b, 1000, false, cmprEqual},
      {long_a + u"b", long_a + u"a", -1, false, cmprGreater},
      {u"", u"a", -1, false, cmprLower},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::WideToAnsi(c.a.substr(0, 8)) + " / " +
                 platform::WideToAnsi(c.b.substr(0, 8)) + " len " + std::to_string(c.length));
    // One byte in, so neither text is aligned.
    auto place = [](const std::u16string& w) {
      Bytes b(1 + (w.size() + 1) * 2, 0);
      std::memcpy(b.data() + 1, w.data(), w.size() * 2);
      return b;
    };
    const Bytes a = place(c.a), b = place(c.b);
    const auto size_a = static_cast<std::int32_t>(a.size() - 1);
    const auto size_b = static_cast<std::int32_t>(b.size() - 1);
    EXPECT_EQ(CompareTypedValues(a.data() + 1, b.data() + 1, bftWideVarchar, bftWideVarchar, false,
                                 false, c.length, c.case_insensitive, 0x400, size_a, size_b),
              c.expected);
    EXPECT_EQ(CompareTypedValues(a.data() + 1, b.data() + 1, bftWideChar, bftWideChar, false, false,
                                 c.length, c.case_insensitive, 0x400),
              c.expected);
  }
  // A size stops the text where no terminator does.
  const char16_t abcd[] = u"abcd";
  const char16_t ab[] = u"ab";
  EXPECT_EQ(CompareTypedValues(abcd, ab, bftWideVarchar, bftWideVarchar, false, false, -1, false,
                               0x400, 4, 6),
            cmprEqual);
}

TEST(CompareTypedValuesTest, ClobsComparedOverTheirSize) {
  TVEZVariant clob1, clob2, text;
  clob1.SetData("abcXYZ", 3, bftClob, true);
  clob2.SetData("abd", 3, bftClob, true);
  text.SetAsAnsiString("abc");
  EXPECT_EQ(clob1.Compare(text, false, false, false), cmprEqual);
  EXPECT_EQ(text.Compare(clob1, false, false, false), cmprEqual);
  EXPECT_EQ(clob1.Compare(clob2, false, false, false), cmprLower);
  TVEZVariant wide_clob;
  const char16_t ab[] = u"abc";
  wide_clob.SetData(ab, 6, bftWideClob, true);
  EXPECT_EQ(wide_clob.Compare(clob1, false, false, false), cmprEqual);
}

TEST(CompareTypedValuesTest, BytesAreBinary) {
  const std::uint8_t a[4] = {0x01, 0x00, 0x05, 0xFF};
  const std::uint8_t b[4] = {0x01, 0x00, 0x07, 0x00};
  EXPECT_EQ(CompareTypedValues(a, b, bftBytes, bftBytes, false, false, -1, false, 0x400, 4, 4),
            cmprLower);
  EXPECT_EQ(CompareTypedValues(a, a, bftBytes, bftBytes, false, false, -1, false, 0x400, 4, 4),
            cmprEqual);
  // Upper and lower case are different bytes.
  EXPECT_EQ(CompareTypedValues("A", "a", bftBytes, bftBytes, false, false, -1, true, 0x400, 1, 1),
            cmprLower);
}

TEST(CompareTypedValuesTest, NaNSortsAfterEveryNumber) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const Bytes n = Raw(nan), big = Raw(inf), one = Raw(1.0);
  auto cmp = [](const Bytes& a, const Bytes& b) {
    return CompareTypedValuesOrder(a.data(), b.data(), bftDouble, bftDouble, false, false, -1,
                                   false, 0x400);
  };
  EXPECT_EQ(cmp(n, big), 1);
  EXPECT_EQ(cmp(one, n), -1);
  EXPECT_EQ(cmp(n, n), 0);
  const Bytes nf = Raw(std::numeric_limits<float>::quiet_NaN()), f1 = Raw(1.0f);
  EXPECT_EQ(CompareTypedValuesOrder(nf.data(), f1.data(), bftSingle, bftSingle, false, false, -1,
                                    false, 0x400),
            1);
}

TEST(CompareTypedValuesTest, DatesTimesAndBooleans) {
  const Bytes d1 = RawDateTime(10, 5000), d2 = RawDateTime(10, 4000), d3 = RawDateTime(9, 9000);
  auto cmp = [](const Bytes& a, const Bytes& b, TVEZBaseFieldType t1, TVEZBaseFieldType t2) {
    return CompareTypedValues(a.data(), b.data(), t1, t2, false, false, -1, false, 0x400);
  };
  EXPECT_EQ(cmp(d1, d2, bftDateTime, bftDateTime), cmprGreater);
  EXPECT_EQ(cmp(d3, d2, bftDateTime, bftDateTime), cmprLower);
  EXPECT_EQ(cmp(Raw<std::int16_t>(1), Raw<std::int16_t>(-1), bftLogical, bftLogical), cmprEqual);
  EXPECT_EQ(cmp(Raw<std::int16_t>(0), Raw<std::int16_t>(7), bftLogical, bftLogical), cmprLower);
  // A text beside a date is read as a date when comparing.
  TVEZVariant text, date;
  text.SetAsAnsiString("2016-09-20");
  date.SetAsVEZDate(736227);
  EXPECT_EQ(text.Compare(date, false, false, false), cmprEqual);
  date.SetAsVEZDate(736228);
  EXPECT_EQ(text.Compare(date, false, false, false), cmprLower);
}

TEST(CompareTypedValuesTest, Errors) {
  const Bytes x = Raw<std::int32_t>(1);
  auto err = [&](TVEZBaseFieldType t1, TVEZBaseFieldType t2, const void* p1, const void* p2) {
    return NativeErrorOf(
        [&] { CompareTypedValues(p1, p2, t1, t2, false, false, -1, false, 0x400); });
  };
  EXPECT_EQ(err(bftBlob, bftSignedInt32, x.data(), x.data()), 30044);
  EXPECT_EQ(err(bftBlob, bftBlob, x.data(), x.data()), 30047);
  EXPECT_EQ(err(bftVarBytes, bftVarBytes, x.data(), x.data()), 30047);
  EXPECT_EQ(err(bftSignedInt32, bftSignedInt32, nullptr, x.data()), 30140);
  EXPECT_EQ(err(bftSignedInt32, bftSignedInt16, x.data(), nullptr), 30140);
  const Bytes text = RawAnsi("x");
  EXPECT_EQ(err(bftVarchar, bftDate, text.data(), x.data()), 30051);
  try {
    CompareTypedValues(x.data(), x.data(), bftBlob, bftSignedInt32, false, false, -1, false, 0);
  } catch (const EVEZException& e) {
    EXPECT_STREQ(e.what(),
                 "Cannot compare Incompatible DataTypes: 'BLOB' and 'INTEGER' - Native error: "
                 "30044");
  }
}

// ---- arithmetic ------------------------------------------------------------

TEST(VEZVariantArithmeticTest, AddWrapsOnEveryIntegerWidth) {
  struct Case {
    TVEZBaseFieldType type;
    long double a, b;
    const char* expected;
  };
  const Case cases[] = {
      {bftSignedInt8, 100, 100, "-56"},
      {bftSignedInt16, 32767, 1, "-32768"},
      {bftSignedInt32, 2147483647, 1, "-2147483648"},
      {bftSignedInt64, 9223372036854775807.0L, 1, "-9223372036854775808"},
      {bftUnsignedInt8, 255, 1, "0"},
      {bftUnsignedInt16, 65535, 2, "1"},
      {bftUnsignedInt32, 4294967295.0L, 1, "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(BaseTypeToSQLTypeName(c.type));
    TVEZVariant a, b;
    Bytes ra = NumberRaw(c.type, c.a), rb = NumberRaw(c.type, c.b);
    if (c.type == bftSignedInt64) ra = Raw<std::int64_t>(INT64_MAX);
    a.SetData(ra.data(), static_cast<std::int32_t>(ra.size()), c.type, true);
    b.SetData(rb.data(), static_cast<std::int32_t>(rb.size()), c.type, true);
    a.Add(b);
    EXPECT_EQ(a.GetDataType(), c.type);
    EXPECT_EQ(Render(c.type, a.GetPData(), a.GetDataSize()), c.expected);
  }
}

TEST(VEZVariantArithmeticTest, NullRules) {
  TVEZVariant s, n, null_int(bftSignedInt32), null_str(bftVarchar), seven;
  s.SetAsAnsiString("abc");
  s.Add(null_int);
  EXPECT_EQ(s.GetAsAnsiString(), "abc");
  n.SetAsInteger(5);
  n.Add(null_int);
  EXPECT_TRUE(n.GetIsNull());
  EXPECT_EQ(n.GetDataType(), bftSignedInt32);
  seven.SetAsInteger(7);
  null_str.Add(seven);
  EXPECT_EQ(null_str.GetDataType(), bftSignedInt32);
  EXPECT_EQ(null_str.GetAsInteger(), 7);
  TVEZVariant null_num(bftDouble);
  null_num.Add(seven);
  EXPECT_TRUE(null_num.GetIsNull());
  for (auto op : {&TVEZVariant::Sub, &TVEZVariant::Mul, &TVEZVariant::Division}) {
    TVEZVariant a, b(bftVarchar);
    a.SetAsAnsiString("abc");
    (a.*op)(b);
    EXPECT_TRUE(a.GetIsNull());
    TVEZVariant c(bftSignedInt32);
    (c.*op)(seven);
    EXPECT_TRUE(c.GetIsNull());
  }
}

TEST(VEZVariantArithmeticTest, CommonTypeAndStrings) {
  TVEZVariant a, b;
  a.SetAsAnsiString("ab");
  b.SetAsInteger(12);
  a.Add(b);
  EXPECT_EQ(a.GetDataType(), bftVarchar);
  EXPECT_EQ(a.GetAsAnsiString(), "ab12");
  TVEZVariant date, text;
  text.SetAsAnsiString("2016-09-20");
  date.SetAsVEZDate(736227);
  text.Add(date);  // not a comparison: the string type wins
  EXPECT_EQ(text.GetAsAnsiString(), "2016-09-2020/09/2016");
  TVEZVariant w, x;
  w.SetAsWideString(u"\u0394");
  x.SetAsAnsiString("x");
  w.Add(x);
  EXPECT_EQ(w.GetAsWideString(), u"\u0394x");
  TVEZVariant i, d;
  i.SetAsInteger(3);
  d.SetAsDouble(0.5);
  i.Add(d);
  EXPECT_EQ(i.GetDataType(), bftDouble);
  EXPECT_EQ(i.GetAsDouble(), 3.5);
  TVEZVariant s, t;
  s.SetAsAnsiString("abc");
  t.SetAsAnsiString("d");
  EXPECT_EQ(NativeErrorOf([&] { s.Sub(t); }), 30125);
  EXPECT_EQ(NativeErrorOf([&] { s.Mul(t); }), 30126);
  EXPECT_EQ(NativeErrorOf([&] { s.Division(t); }), 30127);
  TVEZVariant blob, one;
  blob.SetData("xy", 2, bftBlob, true);
  one.SetAsInteger(1);
  EXPECT_EQ(NativeErrorOf([&] { blob.Add(one); }), 30052);
  TVEZVariant bad, num;
  bad.SetAsAnsiString("x");
  num.SetAsInteger(1);
  EXPECT_EQ(bad.GetAsAnsiString(), "x");
  TVEZVariant lg, cur;
  lg.SetAsBoolean(true);
  cur.SetAsCurrency(2);
  EXPECT_EQ(NativeErrorOf([&] { lg.Add(cur); }), 30052);
}

TEST(VEZVariantArithmeticTest, DatesAndTimes) {
  TVEZVariant a, b;
  a.SetAsVEZDateTime({100, 86000000});
  b.SetAsVEZDateTime({0, 1000000});
  a.Add(b);
  EXPECT_EQ(a.GetAsVEZDateTime(), (TVEZDateTime{101, 600000}));
  TVEZVariant t1, t2;
  t1.SetAsVEZTime(86000000);
  t2.SetAsVEZTime(1000000);
  t1.Add(t2);
  EXPECT_EQ(t1.GetAsVEZTime(), 87000000);  // no carry without a date
  TVEZVariant d, n;
  d.SetAsVEZDate(100);
  n.SetAsInteger(5);
  d.Add(n);
  EXPECT_EQ(d.GetDataType(), bftDate);
  EXPECT_EQ(d.GetAsVEZDate(), 105);
  TVEZVariant m1, m2;
  m1.SetAsVEZDateTime({3, 50000000});
  m2.SetAsVEZDateTime({2, 2});
  m1.Mul(m2);
  EXPECT_EQ(m1.GetAsVEZDateTime(), (TVEZDateTime{6 + 1, 100000000 - 86400000}));
  // A time added to a date (both brought to date-times) moves no days.
  TVEZVariant day, time;
  day.SetAsVEZDate(736227);
  time.SetAsVEZTime(43200000);
  day.Add(time);
  EXPECT_EQ(day.GetDataType(), bftDateTime);
  EXPECT_EQ(day.GetAsVEZDateTime(), (TVEZDateTime{736227, 43200000}));
  time.SetAsVEZTime(90000000);
  TVEZVariant day2;
  day2.SetAsVEZDate(736227);
  time.Add(day2);
  EXPECT_EQ(time.GetAsVEZDateTime(), (TVEZDateTime{736228, 3600000}));
  TVEZVariant stamp, less;
  stamp.SetAsVEZDateTime({736227, 43200000});
  less.SetAsVEZTime(3600000);
  stamp.Sub(less);
  EXPECT_EQ(stamp.GetAsVEZDateTime(), (TVEZDateTime{736227, 39600000}));
  TVEZVariant s1, s2;
  s1.SetAsVEZDateTime({3, 1000});
  s2.SetAsVEZDateTime({1, 2000});
  s1.Sub(s2);
  EXPECT_EQ(s1.GetAsVEZDateTime(), (TVEZDateTime{1, 86399000}));  // borrows a day
}

// A date-time plus a negative part of a day (a date-time minus a fraction
// in SQL) borrows whole days instead of keeping a time below midnight.
TEST(VEZVariantArithmeticTest, DateTimeBorrowsBelowMidnight) {
  struct Row {
    TVEZDateTime a;
    double add;  // days, brought to a date-time by the common type
    TVEZDateTime expected;
  };
  const Row rows[] = {
      {{736000, 21600000}, -0.5, {735999, 64800000}},
      {{736000, 21600000}, -1.5, {735998, 64800000}},
      {{736000, 21600000}, -0.25, {736000, 0}},
      {{736000, 0}, -0.125, {735999, 75600000}},
      {{736000, 21600000}, -30.75, {735969, 43200000}},
      {{736000, 21600000}, 0.75, {736001, 0}},
      {{736000, 21600000}, -2, {735998, 21600000}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.add);
    TVEZVariant v, d;
    v.SetAsVEZDateTime(row.a);
    d.SetAsDouble(row.add);
    v.Add(d);
    EXPECT_EQ(v.GetAsVEZDateTime(), row.expected);
  }
  // A time without a date has no day to borrow from: it is left as it is.
  TVEZVariant a, b;
  a.SetAsVEZDateTime({kVEZNoDate, 1000});
  b.SetAsVEZDateTime({kVEZNoDate, 2000});
  a.Sub(b);
  EXPECT_EQ(a.GetAsVEZDateTime(), (TVEZDateTime{kVEZNoDate, -1000}));
}

TEST(VEZVariantArithmeticTest, Division) {
  struct Case {
    std::int32_t a, b, expected;
  };
  for (const Case& c : {Case{7, 2, 3}, Case{-7, 2, -3}, Case{7, -2, -3}, Case{-7, -2, 3}}) {
    TVEZVariant a, b;
    a.SetAsInteger(c.a);
    b.SetAsInteger(c.b);
    a.Division(b);
    EXPECT_EQ(a.GetAsInteger(), c.expected);
  }
  TVEZVariant u, v;
  u.SetAsCardinal(4000000000u);
  v.SetAsCardinal(3);
  u.Division(v);
  EXPECT_EQ(u.GetAsCardinal(), 1333333333u);
  TVEZVariant i8, m1;
  i8.SetAsShortint(-128);
  m1.SetAsShortint(-1);
  i8.Division(m1);
  EXPECT_EQ(i8.GetAsShortint(), -128);  // computed in 32 bits, wraps when stored

  auto division_error = [](auto make_a, auto make_b) {
    TVEZVariant a, b;
    make_a(a);
    make_b(b);
    std::string message;
    try {
      a.Division(b);
    } catch (const EVEZException& e) {
      EXPECT_EQ(e.NativeError(), 30128);
      message = e.what();
    }
    return message;
  };
  EXPECT_EQ(division_error([](TVEZVariant& a) { a.SetAsInteger(7); },
                           [](TVEZVariant& b) { b.SetAsInteger(0); }),
            "Division error: Division by zero - Native error: 30128");
  EXPECT_EQ(division_error([](TVEZVariant& a) { a.SetAsInteger(INT32_MIN); },
                           [](TVEZVariant& b) { b.SetAsInteger(-1); }),
            "Division error: Integer overflow - Native error: 30128");
  EXPECT_EQ(division_error([](TVEZVariant& a) { a.SetAsInt64(INT64_MIN); },
                           [](TVEZVariant& b) { b.SetAsInt64(-1); }),
            "Division error: Integer overflow - Native error: 30128");
  EXPECT_EQ(division_error([](TVEZVariant& a) { a.SetAsDouble(1); },
                           [](TVEZVariant& b) { b.SetAsDouble(0); }),
            "Division error: Floating point division by zero - Native error: 30128");
  EXPECT_EQ(division_error([](TVEZVariant& a) { a.SetAsDouble(1e300); },
                           [](TVEZVariant& b) { b.SetAsDouble(1e-300); }),
            "Division error: Floating point overflow - Native error: 30128");
  EXPECT_EQ(division_error([](TVEZVariant& a) { a.SetAsVEZDate(5); },
                           [](TVEZVariant& b) { b.SetAsVEZDate(0); }),
            "Division error: Division by zero - Native error: 30128");
  TVEZVariant d, h;
  d.SetAsDouble(1);
  h.SetAsDouble(4);
  d.Division(h);
  EXPECT_EQ(d.GetAsDouble(), 0.25);
}

TEST(VEZVariantArithmeticTest, MulAndLogical) {
  TVEZVariant a, b;
  a.SetAsInteger(65536);
  b.SetAsInteger(65536);
  a.Mul(b);
  EXPECT_EQ(a.GetAsInteger(), 0);
  TVEZVariant t, f;
  t.SetAsBoolean(true);
  f.SetAsBoolean(false);
  for (auto op :
       {&TVEZVariant::Add, &TVEZVariant::Sub, &TVEZVariant::Mul, &TVEZVariant::Division}) {
    TVEZVariant x;
    x.SetAsBoolean(false);
    (x.*op)(t);
    EXPECT_TRUE(x.GetAsBoolean());
    TVEZVariant y;
    y.SetAsBoolean(false);
    (y.*op)(f);
    EXPECT_FALSE(y.GetAsBoolean());
  }
}

TEST(VEZVariantArithmeticTest, InvertValue) {
  TVEZVariant u8, i8, i32, i64, date, lg, dbl, ext, cur, s, tm, nul(bftSignedInt32);
  u8.SetAsByte(5);
  u8.InvertValue();
  EXPECT_EQ(u8.GetAsByte(), 251);
  i8.SetAsShortint(-128);
  i8.InvertValue();
  EXPECT_EQ(i8.GetAsShortint(), -128);
  i32.SetAsInteger(-7);
  i32.InvertValue();
  EXPECT_EQ(i32.GetAsInteger(), 7);
  dbl.SetAsDouble(2.5);
  dbl.InvertValue();
  EXPECT_EQ(dbl.GetAsDouble(), -2.5);
  ext.SetAsExtended(1.25L);
  ext.InvertValue();
  EXPECT_EQ(ext.GetAsExtended(), -1.25L);
  cur.SetAsCurrency(3);
  cur.InvertValue();
  EXPECT_EQ(cur.GetAsCurrency(), -3);
  lg.SetAsBoolean(true);
  lg.InvertValue();
  EXPECT_FALSE(lg.GetAsBoolean());
  lg.InvertValue();
  EXPECT_TRUE(lg.GetAsBoolean());
  nul.InvertValue();
  EXPECT_TRUE(nul.GetIsNull());
  // The smallest values of the wide signed types have no negation.
  i32.SetAsInteger(INT32_MIN);
  EXPECT_THROW(i32.InvertValue(), platform::EIntOverflow);
  EXPECT_EQ(i32.GetAsInteger(), INT32_MIN);
  i64.SetAsInt64(INT64_MIN);
  EXPECT_THROW(i64.InvertValue(), platform::EIntOverflow);
  date.SetAsVEZDate(INT32_MIN);
  EXPECT_THROW(date.InvertValue(), platform::EIntOverflow);
  s.SetAsAnsiString("a");
  EXPECT_EQ(NativeErrorOf([&] { s.InvertValue(); }), 30123);
  tm.SetAsVEZTime(5);
  EXPECT_EQ(NativeErrorOf([&] { tm.InvertValue(); }), 30123);
}

}  // namespace
}  // namespace vez

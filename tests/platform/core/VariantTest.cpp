#include "platform/core/Variant.h"

#include <gtest/gtest.h>

#include "platform/core/Exceptions.h"

namespace platform {
namespace {

TEST(VariantTest, TypeCodesAndReaders) {
  struct Case {
    Variant v;
    std::uint16_t code;
  };
  const Case cases[] = {
      {Variant(), 0},
      {Variant::Null(), 1},
      {Variant::FromSmallint(-2), 2},
      {Variant::FromInteger(-3), 3},
      {Variant::FromSingle(1.5f), 4},
      {Variant::FromDouble(2.5), 5},
      {Variant::FromCurrency(1.23456), 6},
      {Variant::FromDate(42633.5), 7},
      {Variant::FromOleStr(u"w"), 8},
      {Variant::FromBoolean(true), 11},
      {Variant::FromShortInt(-1), 16},
      {Variant::FromByte(255), 17},
      {Variant::FromWord(65535), 18},
      {Variant::FromLongWord(4294967295u), 19},
      {Variant::FromInt64(-5), 20},
      {Variant::FromUInt64(5), 21},
      {Variant::FromString("s"), 256},
      {Variant::FromUString(u"u"), 258},
      {Variant::FromArray({Variant::FromInteger(1)}), 0x200C},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(c.v.VarType(), c.code);
  }
  EXPECT_EQ(Variant::FromLongWord(4294967295u).ToInt64(), 4294967295LL);
  EXPECT_EQ(Variant::FromBoolean(true).ToInt64(), -1);
  EXPECT_EQ(Variant::FromCurrency(1.23456).CurrencyUnits(), 12346);
  EXPECT_DOUBLE_EQ(Variant::FromCurrency(1.23456).ToDouble(), 1.2346);
  EXPECT_EQ(Variant::FromOleStr(u"w").ToWideString(), u"w");
  EXPECT_EQ(Variant::FromString("s").ToAnsiString(), "s");
  EXPECT_TRUE(Variant::FromDouble(0.5).ToBoolean());
  EXPECT_EQ(Variant::FromArray({Variant::Null()}).Items().size(), 1u);
  EXPECT_TRUE(Variant::FromInteger(1) == Variant::FromInteger(1));
  EXPECT_FALSE(Variant::FromInteger(1) == Variant::FromSmallint(1));
}

TEST(VariantTest, MismatchedReadsRaise) {
  EXPECT_THROW(Variant::FromString("1").ToInt64(), EInvalidCast);
  EXPECT_THROW(Variant::Null().ToDouble(), EInvalidCast);
  EXPECT_THROW(Variant::FromInteger(-1).ToUInt64(), EInvalidCast);
  EXPECT_THROW(Variant::FromUInt64(UINT64_MAX).ToInt64(), EInvalidCast);
  EXPECT_THROW(Variant::FromInteger(1).ToWideString(), EInvalidCast);
  EXPECT_THROW(Variant::FromCurrency(1e300), EConvertError);
}

}  // namespace
}  // namespace platform

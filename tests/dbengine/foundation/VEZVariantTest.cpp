// TVEZVariant: ownership states, typed accessors, platform variants and the
// stream form.
#include "dbengine/foundation/VEZVariant.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dbengine/foundation/VEZMemoryStream.h"
#include "tests/dbengine/foundation/VEZVariantTestUtil.h"

namespace vez {
namespace {

using namespace vez::testing;
using platform::Variant;

// ---- states: owned, linked, NULL -------------------------------------------

TEST(VEZVariantStateTest, CreateClearAndSetNull) {
  TVEZVariant v(bftDate);
  EXPECT_TRUE(v.GetIsNull());
  EXPECT_EQ(v.GetDataType(), bftDate);
  EXPECT_EQ(v.GetDataSize(), 0);
  EXPECT_EQ(v.GetPData(), nullptr);
  v.SetAsVEZDate(5);
  EXPECT_FALSE(v.GetIsNull());
  EXPECT_FALSE(v.GetIsDataLinked());
  const void* block = v.GetPData();
  // SetNull of the same type keeps the block, and the next store reuses it.
  v.SetNull(bftDate);
  EXPECT_TRUE(v.GetIsNull());
  EXPECT_EQ(v.GetPData(), block);
  v.SetAsVEZDate(6);
  EXPECT_EQ(v.GetPData(), block);
  EXPECT_EQ(v.GetAsVEZDate(), 6);
  // Another type drops it.
  v.SetNull(bftTime);
  EXPECT_EQ(v.GetPData(), nullptr);
  EXPECT_EQ(v.GetDataSize(), 0);
  EXPECT_EQ(v.GetDataType(), bftTime);
  v.SetAsVEZTime(1);
  v.Clear(bftVarchar);
  EXPECT_TRUE(v.GetIsNull());
  EXPECT_EQ(v.GetDataType(), bftVarchar);
  EXPECT_EQ(v.GetPData(), nullptr);
}

TEST(VEZVariantStateTest, LinkedDataIsSharedNeverReleased) {
  TVEZVariant source;
  source.SetAsInteger(1);
  TVEZVariant link;
  link.Assign(source, false);
  EXPECT_TRUE(link.GetIsDataLinked());
  EXPECT_EQ(link.GetPData(), source.GetPData());
  source.SetAsInteger(42);  // in place: the link sees it
  EXPECT_EQ(link.GetAsInteger(), 42);
  link.Clear(bftUnknown);
  EXPECT_EQ(source.GetAsInteger(), 42);
  // A store through a linked value takes a block of its own.
  link.Assign(source, false);
  link.SetAsInteger(7);
  EXPECT_FALSE(link.GetIsDataLinked());
  EXPECT_EQ(source.GetAsInteger(), 42);
  // A copy owns its block.
  TVEZVariant copy;
  copy.Assign(source, true);
  EXPECT_FALSE(copy.GetIsDataLinked());
  EXPECT_NE(copy.GetPData(), source.GetPData());
  EXPECT_EQ(copy.GetAsInteger(), 42);
  // Assigning from a value that links this one's own block keeps the block
  // alive, copied or linked.
  TVEZVariant owner, alias;
  owner.SetAsAnsiString("kept text");
  alias.Assign(owner, false);
  owner.Assign(alias, true);
  EXPECT_FALSE(owner.GetIsDataLinked());
  EXPECT_EQ(owner.GetAsAnsiString(), "kept text");
  alias.Assign(owner, false);
  owner.Assign(alias, false);
  EXPECT_FALSE(owner.GetIsDataLinked());  // still the owner of its block
  EXPECT_EQ(owner.GetAsAnsiString(), "kept text");
  EXPECT_EQ(alias.GetAsAnsiString(), "kept text");
  // Assigning NULL gives NULL of its type.
  TVEZVariant null_source(bftDouble);
  copy.Assign(null_source, true);
  EXPECT_TRUE(copy.GetIsNull());
  EXPECT_EQ(copy.GetDataType(), bftDouble);
}

// Cast of a linked value converts into a new owned block and leaves the
// linked bytes alone (they belong to someone else).
TEST(VEZVariantStateTest, CastNeverReleasesALinkedBlock) {
  const std::int64_t before = MemoryManager().TotalMemAllocated();
  void* foreign = MemoryManager().GetMem(4);
  const std::int32_t five = 5;
  std::memcpy(foreign, &five, 4);
  {
    TVEZVariant v;
    v.SetData(foreign, 4, bftSignedInt32, false);
    v.Cast(bftDouble);
    EXPECT_FALSE(v.GetIsDataLinked());
    EXPECT_EQ(v.GetAsDouble(), 5.0);
    TVEZVariant clob;
    clob.SetData("abc", 3, bftClob, false);
    clob.Cast(bftVarchar);
    EXPECT_FALSE(clob.GetIsDataLinked());
    EXPECT_EQ(clob.GetDataSize(), 4);
    EXPECT_EQ(clob.GetAsAnsiString(), "abc");
  }
  EXPECT_EQ(MemoryManager().GetMemoryBufferSize(foreign), 4);  // still a valid block
  MemoryManager().FreeMem(foreign);
  EXPECT_EQ(MemoryManager().TotalMemAllocated(), before);
}

TEST(VEZVariantStateTest, SetDataAndCopyDataToAddress) {
  TVEZVariant v;
  const char text[] = "hello";
  v.SetData(text, 6, bftVarchar, true);
  const void* block = v.GetPData();
  EXPECT_FALSE(v.GetIsDataLinked());
  v.SetData("world", 6, bftVarchar, true);  // same size: block reused
  EXPECT_EQ(v.GetPData(), block);
  EXPECT_EQ(v.StrLen(), 5);
  char out[6] = {};
  EXPECT_TRUE(v.CopyDataToAddress(out, 6));
  EXPECT_STREQ(out, "world");
  EXPECT_EQ(NativeErrorOf([&] { v.CopyDataToAddress(out, 5); }), 20056);
  EXPECT_TRUE(v.CopyDataToAddress(out, -1));
  v.SetData(text, 6, bftVarchar, false);
  EXPECT_TRUE(v.GetIsDataLinked());
  EXPECT_EQ(v.GetPData(), text);
  // An empty string and NULL copy nothing.
  TVEZVariant empty;
  empty.SetData("", 1, bftVarchar, true);
  char untouched[2] = {'x', 'y'};
  EXPECT_FALSE(empty.CopyDataToAddress(untouched, 2));
  EXPECT_EQ(untouched[0], 'x');
  TVEZVariant null(bftSignedInt32);
  EXPECT_FALSE(null.CopyDataToAddress(untouched, 2));
  EXPECT_EQ(null.StrLen(), -1);
  // No data is NULL.
  v.SetData(text, 0, bftVarchar, true);
  EXPECT_TRUE(v.GetIsNull());
}

TEST(VEZVariantStateTest, StrLenAndPredicates) {
  TVEZVariant w;
  w.SetAsWideString(u"ab");
  EXPECT_EQ(w.GetDataSize(), 6);
  EXPECT_EQ(w.StrLen(), 2);
  EXPECT_TRUE(w.IsStringDataType());
  EXPECT_TRUE(w.IsWideStringDataType());
  TVEZVariant i;
  i.SetAsInteger(3);
  EXPECT_EQ(i.StrLen(), -1);
  EXPECT_TRUE(i.IsNumericDataType());
  EXPECT_FALSE(i.IsStringDataType());
  TVEZVariant d(bftDateTime), b(bftWideClob);
  EXPECT_TRUE(d.IsDateTimeDataType());
  EXPECT_TRUE(b.IsBlobDataType());
}

// ---- typed accessors -------------------------------------------------------

TEST(VEZVariantAccessorTest, SetterKeepsTheHeldType) {
  TVEZVariant v;
  v.SetAsInteger(7);
  EXPECT_EQ(v.GetDataType(), bftSignedInt32);
  EXPECT_EQ(v.GetAsAnsiString(), "7");
  TVEZVariant d(bftDouble);
  d.SetAsInteger(7);
  EXPECT_EQ(d.GetDataType(), bftDouble);
  EXPECT_EQ(d.GetAsDouble(), 7.0);
  TVEZVariant s;
  s.SetAsAnsiString("abc");
  s.SetAsAnsiString("");
  EXPECT_TRUE(s.GetIsNull());
  EXPECT_EQ(s.GetDataType(), bftVarchar);
  EXPECT_EQ(s.GetAsAnsiString(), "");
  EXPECT_EQ(NativeErrorOf([&] { s.GetAsInteger(); }), 30016);
  // A store that does not convert raises and keeps the value it held.
  TVEZVariant n(bftSignedInt32);
  n.SetAsInteger(4);
  EXPECT_EQ(NativeErrorOf([&] { n.SetAsAnsiString("x"); }), 30051);
  EXPECT_EQ(n.GetDataType(), bftSignedInt32);
  EXPECT_EQ(n.GetAsInteger(), 4);
  EXPECT_EQ(NativeErrorOf([&] { n.SetAsWideString(u"y"); }), 30051);
  EXPECT_EQ(n.GetAsInteger(), 4);
  TVEZVariant day(bftDate);
  day.SetAsVEZDate(736227);
  EXPECT_EQ(NativeErrorOf([&] { day.SetAsBoolean(true); }), 30052);
  EXPECT_EQ(day.GetAsVEZDate(), 736227);
  TVEZVariant small(bftSignedInt8);
  small.SetAsShortint(3);
  EXPECT_EQ(NativeErrorOf([&] { small.SetAsAnsiString("300"); }), 30051);
  EXPECT_EQ(small.GetAsShortint(), 3);
  // An empty string still makes the value NULL.
  small.SetAsAnsiString("");
  EXPECT_TRUE(small.GetIsNull());
  EXPECT_EQ(small.GetDataType(), bftSignedInt8);
}

TEST(VEZVariantAccessorTest, EveryAccessorRoundTrips) {
  TVEZVariant v;
  v.SetAsShortint(-8);
  EXPECT_EQ(v.GetDataType(), bftSignedInt8);
  EXPECT_EQ(v.GetAsShortint(), -8);
  v.Clear(bftUnknown);
  v.SetAsSmallint(-300);
  EXPECT_EQ(v.GetAsSmallint(), -300);
  EXPECT_EQ(v.GetAsInt64(), -300);
  v.Clear(bftUnknown);
  v.SetAsInt64(INT64_MIN);
  EXPECT_EQ(v.GetAsInt64(), INT64_MIN);
  v.Clear(bftUnknown);
  v.SetAsByte(200);
  EXPECT_EQ(v.GetDataType(), bftUnsignedInt8);
  EXPECT_EQ(v.GetAsWord(), 200);
  v.Clear(bftUnknown);
  v.SetAsWord(60000);
  EXPECT_EQ(v.GetAsCardinal(), 60000u);
  v.Clear(bftUnknown);
  v.SetAsLongWord(4000000000u);
  EXPECT_EQ(v.GetDataType(), bftUnsignedInt32);
  EXPECT_EQ(v.GetAsLongWord(), 4000000000u);
  EXPECT_EQ(v.GetAsInt64(), 4000000000LL);
  v.Clear(bftUnknown);
  v.SetAsSingle(1.5f);
  EXPECT_EQ(v.GetAsSingle(), 1.5f);
  EXPECT_EQ(v.GetDataSize(), 4);
  v.Clear(bftUnknown);
  v.SetAsExtended(1.0L / 3);
  EXPECT_EQ(v.GetDataSize(), 10);
  EXPECT_EQ(v.GetAsExtended(), 1.0L / 3);
  v.Clear(bftUnknown);
  v.SetAsCurrency(12.25);
  EXPECT_EQ(v.GetDataType(), bftCurrency);
  EXPECT_EQ(v.GetAsCurrency(), 12.25);
  v.Clear(bftUnknown);
  v.SetAsLogical(true);
  EXPECT_EQ(v.GetDataType(), bftLogical);
  std::int16_t raw;
  std::memcpy(&raw, v.GetPData(), 2);
  EXPECT_EQ(raw, -1);
  EXPECT_TRUE(v.GetAsLogical());
  EXPECT_EQ(v.GetAsAnsiString(), "True");
  v.Clear(bftUnknown);
  v.SetAsVEZDateTime({736227, 1000});
  EXPECT_EQ(v.GetAsVEZDateTime(), (TVEZDateTime{736227, 1000}));
  EXPECT_EQ(v.GetAsVEZDate(), 736227);
  EXPECT_EQ(v.GetAsVEZTime(), 1000);
  v.Clear(bftUnknown);
  v.SetAsTDate(42633.75);
  EXPECT_EQ(v.GetDataType(), bftDate);
  EXPECT_EQ(v.GetAsVEZDate(), 736227);
  EXPECT_EQ(v.GetAsTDate(), 42633.0);
  v.Clear(bftUnknown);
  v.SetAsTTime(0.5);
  EXPECT_EQ(v.GetAsVEZTime(), 43200000);
  EXPECT_EQ(v.GetAsTTime(), 0.5);
  v.Clear(bftUnknown);
  v.SetAsTDateTime(42633.25);
  EXPECT_EQ(v.GetAsVEZDateTime(), (TVEZDateTime{736227, 21600000}));
  EXPECT_EQ(v.GetAsTDateTime(), 42633.25);
  v.Clear(bftUnknown);
  v.SetAsWideString(u"\u0394x");
  EXPECT_EQ(v.GetDataType(), bftWideVarchar);
  EXPECT_EQ(v.GetAsWideString(), u"\u0394x");
  EXPECT_EQ(v.GetAsAnsiString(), "?x");
}

// A fixed-size getter never copies more than its target holds, nor reads past
// the block, whatever size the block has.
TEST(VEZVariantAccessorTest, FixedCopiesStayWithinTheTarget) {
  TVEZVariant v;
  const std::uint8_t eight[8] = {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  v.SetData(eight, 8, bftSignedInt32, true);
  EXPECT_EQ(v.GetAsInteger(), 1);
  const std::uint8_t two[2] = {2, 0};
  v.SetData(two, 2, bftSignedInt32, true);
  EXPECT_EQ(v.GetAsInteger(), 2);
  v.SetAsInteger(3);  // the odd-sized block is replaced, not overrun
  EXPECT_EQ(v.GetDataSize(), 4);
  EXPECT_EQ(v.GetAsInteger(), 3);
}

TEST(VEZVariantAccessorTest, DataTypeWrite) {
  TVEZVariant v;
  v.SetAsAnsiString("12");
  v.SetDataType(bftSignedInt32);
  EXPECT_EQ(v.GetDataType(), bftSignedInt32);
  EXPECT_EQ(v.GetAsInteger(), 12);
  // A conversion that fails raises and leaves the value as it was.
  TVEZVariant x;
  x.SetAsAnsiString("x");
  EXPECT_EQ(NativeErrorOf([&] { x.SetDataType(bftSignedInt32); }), 30051);
  EXPECT_EQ(x.GetDataType(), bftVarchar);
  EXPECT_EQ(x.GetAsAnsiString(), "x");
  TVEZVariant n(bftDate);
  n.SetDataType(bftVarchar);
  EXPECT_TRUE(n.GetIsNull());
  EXPECT_EQ(n.GetDataType(), bftVarchar);
}

TEST(VEZVariantAccessorTest, Cast) {
  TVEZVariant clob;
  clob.SetData("abc", 3, bftClob, true);
  clob.Cast(bftVarchar);
  EXPECT_EQ(clob.GetDataType(), bftVarchar);
  EXPECT_EQ(clob.GetDataSize(), 4);
  EXPECT_EQ(clob.GetAsAnsiString(), "abc");
  TVEZVariant date(bftDate);
  date.Cast(bftVarchar);
  EXPECT_TRUE(date.GetIsNull());
  EXPECT_EQ(date.GetDataType(), bftVarchar);
  TVEZVariant d;
  d.SetAsDouble(2.75);
  d.Cast(bftSignedInt32);
  EXPECT_EQ(d.GetAsInteger(), 2);
  TVEZVariant blob;
  blob.SetData("ab", 2, bftBlob, true);
  EXPECT_EQ(NativeErrorOf([&] { blob.Cast(bftVarchar); }), 30052);
  EXPECT_EQ(blob.GetDataType(), bftBlob);
  EXPECT_EQ(blob.GetDataSize(), 2);
}

TEST(VEZVariantAccessorTest, ReduceWideString) {
  TVEZVariant w;
  w.SetAsWideString(u"abc\u00e9");
  w.TryToReduceWideStringToAnsiString();
  EXPECT_EQ(w.GetDataType(), bftVarchar);
  EXPECT_EQ(w.GetAsAnsiString(), "abc\xe9");
  TVEZVariant g;
  g.SetAsWideString(u"a\u0394");
  g.TryToReduceWideStringToAnsiString();
  EXPECT_EQ(g.GetDataType(), bftWideVarchar);
  EXPECT_EQ(g.GetAsWideString(), u"a\u0394");
}

// ---- platform variants -----------------------------------------------------

TEST(VEZVariantPlatformTest, ReadAsVariant) {
  struct Case {
    std::function<void(TVEZVariant&)> set;
    Variant expected;
  };
  const Case cases[] = {
      {[](TVEZVariant& v) { v.SetAsShortint(-3); }, Variant::FromShortInt(-3)},
      {[](TVEZVariant& v) { v.SetAsSmallint(-3); }, Variant::FromSmallint(-3)},
      {[](TVEZVariant& v) { v.SetAsInteger(-3); }, Variant::FromInteger(-3)},
      {[](TVEZVariant& v) { v.SetAsInt64(-3); }, Variant::FromInt64(-3)},
      {[](TVEZVariant& v) { v.SetAsByte(3); }, Variant::FromByte(3)},
      {[](TVEZVariant& v) { v.SetAsWord(3); }, Variant::FromWord(3)},
      {[](TVEZVariant& v) { v.SetAsCardinal(3); }, Variant::FromLongWord(3)},
      {[](TVEZVariant& v) { v.SetAsSingle(1.5f); }, Variant::FromDouble(1.5)},
      {[](TVEZVariant& v) { v.SetAsExtended(1.5L); }, Variant::FromDouble(1.5)},
      {[](TVEZVariant& v) { v.SetAsCurrency(1.5); }, Variant::FromDouble(1.5)},
      {[](TVEZVariant& v) { v.SetAsAnsiString("ab"); }, Variant::FromString("ab")},
      {[](TVEZVariant& v) { v.SetAsWideString(u"ab"); }, Variant::FromOleStr(u"ab")},
      {[](TVEZVariant& v) { v.SetAsBoolean(true); }, Variant::FromBoolean(true)},
      {[](TVEZVariant& v) { v.SetAsVEZDate(693594 + 2); }, Variant::FromDate(2)},
      {[](TVEZVariant& v) { v.SetAsVEZTime(43200000); }, Variant::FromDate(0.5)},
      {[](TVEZVariant& v) {
         v.SetAsVEZDateTime({693594 + 2, 43200000});
       },
       Variant::FromDate(2.5)},
      {[](TVEZVariant& v) { v.SetNull(bftSignedInt32); }, Variant::Null()},
  };
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(row++);
    TVEZVariant v;
    c.set(v);
    EXPECT_TRUE(v.GetAsVariant() == c.expected) << v.GetAsVariant().VarType();
  }
  TVEZVariant blob, clob, bytes;
  blob.SetData("ab", 2, bftBlob, true);
  EXPECT_EQ(NativeErrorOf([&] { blob.GetAsVariant(); }), 30052);
  clob.SetData("ab", 2, bftClob, true);
  EXPECT_EQ(NativeErrorOf([&] { clob.GetAsVariant(); }), 30114);
  bytes.SetData("ab", 2, bftBytes, true);
  EXPECT_EQ(NativeErrorOf([&] { bytes.GetAsVariant(); }), 30114);
}

TEST(VEZVariantPlatformTest, WriteFromVariant) {
  struct Case {
    Variant value;
    TVEZBaseFieldType type;
    const char* text;
  };
  const Case cases[] = {
      {Variant::FromSmallint(-2), bftSignedInt16, "-2"},
      {Variant::FromInteger(-2), bftSignedInt32, "-2"},
      {Variant::FromSingle(0.5f), bftSingle, "0.5"},
      {Variant::FromDouble(0.25), bftDouble, "0.25"},
      {Variant::FromCurrency(1.5), bftCurrency, "1.5"},
      {Variant::FromDate(42633.5), bftDateTime, "20/09/2016 12:00:00"},
      {Variant::FromOleStr(u"w"), bftWideVarchar, "w"},
      {Variant::FromBoolean(true), bftLogical, "True"},
      {Variant::FromShortInt(-1), bftSignedInt8, "-1"},
      {Variant::FromByte(255), bftUnsignedInt8, "255"},
      {Variant::FromWord(65535), bftUnsignedInt16, "65535"},
      {Variant::FromLongWord(4294967295u), bftUnsignedInt32, "4294967295"},
      {Variant::FromInt64(-5), bftSignedInt64, "-5"},
      {Variant::FromString("s"), bftVarchar, "s"},
      {Variant::FromUString(u"u"), bftWideVarchar, "u"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TVEZVariant v;
    v.SetAsVariant(c.value);
    EXPECT_EQ(v.GetDataType(), c.type);
    EXPECT_EQ(v.GetAsAnsiString(), c.text);
  }
  // Into a held type.
  TVEZVariant d(bftDouble);
  d.SetAsVariant(Variant::FromInteger(3));
  EXPECT_EQ(d.GetDataType(), bftDouble);
  EXPECT_EQ(d.GetAsDouble(), 3.0);
  d.SetAsVariant(Variant::Null());
  EXPECT_TRUE(d.GetIsNull());
  EXPECT_EQ(d.GetDataType(), bftDouble);
  d.SetAsVariant(Variant());
  EXPECT_TRUE(d.GetIsNull());
  TVEZVariant a;
  try {
    a.SetAsVariant(Variant::FromArray({Variant::FromInteger(1)}));
    FAIL() << "no error";
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), 30113);
    EXPECT_STREQ(e.what(), "Unsupported Variant Type 8204 - Native error: 30113");
  }
  EXPECT_EQ(NativeErrorOf([&] { a.SetAsVariant(Variant::FromUInt64(1)); }), 30113);
}

// ---- stream form -----------------------------------------------------------

Bytes Save(const TVEZVariant& v) {
  TVEZMemoryStream s;
  v.SaveToStream(s);
  return Bytes(s.Buffer(), s.Buffer() + s.Size());
}

std::int32_t LoadError(const Bytes& bytes, TVEZVariant& v) {
  TVEZMemoryStream s;
  s.Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  s.SetPosition(0);
  return NativeErrorOf([&] { v.LoadFromStream(s); });
}

TEST(VEZVariantStreamTest, ByteExactForms) {
  TVEZVariant null_date(bftDate);
  EXPECT_EQ(Save(null_date), (Bytes{15, 255}));
  TVEZVariant one;
  one.SetAsInteger(1);
  EXPECT_EQ(Save(one), (Bytes{7, 0, 4, 0, 0, 0, 1, 0, 0, 0}));
  TVEZVariant text;
  text.SetAsAnsiString("ab");
  EXPECT_EQ(Save(text), (Bytes{3, 0, 3, 0, 0, 0, 'a', 'b', 0}));
  // A NULL value that kept its block is still written as NULL.
  one.SetNull(bftSignedInt32);
  EXPECT_EQ(Save(one), (Bytes{7, 255}));
}

TEST(VEZVariantStreamTest, RoundTripOfEveryType) {
  std::vector<std::function<void(TVEZVariant&)>> setters = {
      [](TVEZVariant& v) { v.SetAsAnsiString("text"); },
      [](TVEZVariant& v) { v.SetAsWideString(u"w\u0394"); },
      [](TVEZVariant& v) { v.SetAsShortint(-1); },
      [](TVEZVariant& v) { v.SetAsSmallint(-2); },
      [](TVEZVariant& v) { v.SetAsInt64(-3); },
      [](TVEZVariant& v) { v.SetAsByte(4); },
      [](TVEZVariant& v) { v.SetAsWord(5); },
      [](TVEZVariant& v) { v.SetAsCardinal(6); },
      [](TVEZVariant& v) { v.SetAsSingle(7.5f); },
      [](TVEZVariant& v) { v.SetAsDouble(8.5); },
      [](TVEZVariant& v) { v.SetAsExtended(9.5L); },
      [](TVEZVariant& v) { v.SetAsVEZDate(10); },
      [](TVEZVariant& v) { v.SetAsVEZTime(11); },
      [](TVEZVariant& v) {
        v.SetAsVEZDateTime({12, 13});
      },
      [](TVEZVariant& v) { v.SetData("\x00\x01\x02", 3, bftBlob, true); },
      [](TVEZVariant& v) { v.SetData("clob", 4, bftClob, true); },
      [](TVEZVariant& v) { v.SetAsBoolean(true); },
      [](TVEZVariant& v) { v.SetAsCurrency(14.25); },
      [](TVEZVariant& v) { v.SetData("\x01\x02", 2, bftBytes, true); },
      [](TVEZVariant& v) { v.SetNull(bftDouble); },
  };
  int row = 0;
  for (const auto& set : setters) {
    SCOPED_TRACE(row++);
    TVEZVariant v, back;
    set(v);
    const Bytes form = Save(v);
    back.SetAsInteger(99);  // replaced by the load
    ASSERT_EQ(LoadError(form, back), 0);
    EXPECT_EQ(back.GetDataType(), v.GetDataType());
    EXPECT_EQ(back.GetIsNull(), v.GetIsNull());
    EXPECT_EQ(back.GetDataSize(), v.GetDataSize());
    EXPECT_FALSE(back.GetIsDataLinked());
    if (!v.GetIsNull()) {
      EXPECT_EQ(std::memcmp(back.GetPData(), v.GetPData(), v.GetDataSize()), 0);
    }
  }
}

TEST(VEZVariantStreamTest, CorruptStreamsAreRefused) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::int32_t error;
  };
  const Case cases[] = {
      {"empty", {}, 10183},
      {"type only", {7}, 10184},
      {"type out of range", {26, 255}, 10183},
      {"type far out of range", {200, 0, 4, 0, 0, 0, 1, 0, 0, 0}, 10183},
      {"size missing", {7, 0, 4, 0}, 10185},
      {"data short", {7, 0, 4, 0, 0, 0, 1, 0}, 10186},
      {"int32 of 8 bytes", {7, 0, 8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}, 10185},
      {"int16 of 4 bytes", {6, 0, 4, 0, 0, 0, 1, 0, 0, 0}, 10185},
      {"zero size", {3, 0, 0, 0, 0, 0}, 10185},
      {"negative size", {18, 0, 0xFF, 0xFF, 0xFF, 0xFF}, 10185},
      {"huge size", {18, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2}, 10186},
      {"string without terminator", {3, 0, 2, 0, 0, 0, 'a', 'b'}, 10186},
      {"wide string without terminator", {4, 0, 4, 0, 0, 0, 'a', 0, 'b', 0}, 10186},
      {"wide string of odd size", {4, 0, 3, 0, 0, 0, 'a', 0, 0}, 10185},
      {"unknown type with data", {0, 0, 1, 0, 0, 0, 1}, 10185},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TVEZVariant v;
    v.SetAsInteger(5);
    EXPECT_EQ(LoadError(c.bytes, v), c.error);
    EXPECT_TRUE(v.GetIsNull());
  }
}

TEST(VEZVariantStreamTest, AnyNonZeroNullFlagReadsAsNull) {
  TVEZVariant v;
  ASSERT_EQ(LoadError({13, 1}, v), 0);
  EXPECT_TRUE(v.GetIsNull());
  EXPECT_EQ(v.GetDataType(), bftDouble);
}

TEST(VEZVariantStreamTest, ShortWritesRaiseTheirNumbers) {
  // A memory stream over a full 1-byte limit is not available; a stream whose
  // writes stop after n bytes stands in for a full disk.
  class TLimitedStream : public TVEZMemoryStream {
   public:
    explicit TLimitedStream(std::int32_t limit) : limit_(limit) {}
    std::int32_t Write(const void* buffer, std::int32_t count) override {
      const std::int32_t n = std::min(count, limit_);
      limit_ -= n;
      return TVEZMemoryStream::Write(buffer, n);
    }

   private:
    std::int32_t limit_;
  };
  TVEZVariant v;
  v.SetAsInteger(1);
  const std::pair<std::int32_t, std::int32_t> cases[] = {
      {0, 10179}, {1, 10180}, {2, 10181}, {6, 10182}};
  for (const auto& [limit, error] : cases) {
    SCOPED_TRACE(limit);
    TLimitedStream s(limit);
    EXPECT_EQ(NativeErrorOf([&] { v.SaveToStream(s); }), error);
  }
}

}  // namespace
}  // namespace vez

#include "platform/dataset/Field.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"
#include "platform/dataset/DatabaseError.h"
#include "tests/platform/dataset/FakeDataSet.h"

namespace platform::test {
namespace {

// One table with a column of every kind; the tests edit its one row.
class FieldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.DefineField("S", ftString, 5);
    ds.DefineField("FC", ftFixedChar, 3);
    ds.DefineField("G", ftGuid);
    ds.DefineField("W", ftWideString, 4);
    ds.DefineField("SI", ftSmallint);
    ds.DefineField("WO", ftWord);
    ds.DefineField("I", ftInteger);
    ds.DefineField("A", ftAutoInc);
    ds.DefineField("L", ftLargeint);
    ds.DefineField("F", ftFloat);
    ds.DefineField("C", ftCurrency);
    ds.DefineField("B", ftBoolean);
    ds.DefineField("D", ftDate);
    ds.DefineField("T", ftTime);
    ds.DefineField("DT", ftDateTime);
    ds.DefineField("TS", ftTimeStamp);
    ds.DefineField("BY", ftBytes, 4);
    ds.DefineField("VB", ftVarBytes, 4);
    ds.DefineField("BL", ftBlob);
    ds.DefineField("M", ftMemo);
    ds.DefineField("WM", ftWideMemo);
    ds.Open();
    ds.Append();
  }
  Field& F(const char* name) { return ds.FieldByName(name); }
  // The native bytes of the field in the active record.
  std::vector<std::uint8_t> Native(const char* name) {
    Field& f = F(name);
    std::vector<std::uint8_t> b(static_cast<std::size_t>(f.DataSize()));
    EXPECT_TRUE(f.GetData(b.data()));
    return b;
  }
  FakeDataSet ds;
};

TEST_F(FieldTest, FieldClassesFollowTheDefinitions) {
  struct Row {
    const char* name;
    TFieldType type;
    int size;
    int data_size;
  };
  const Row rows[] = {
      {"S", ftString, 5, 6},      {"FC", ftFixedChar, 3, 4}, {"G", ftGuid, 38, 39},
      {"W", ftWideString, 4, 10}, {"SI", ftSmallint, 0, 2},  {"WO", ftWord, 0, 2},
      {"I", ftInteger, 0, 4},     {"A", ftAutoInc, 0, 4},    {"L", ftLargeint, 0, 8},
      {"F", ftFloat, 0, 8},       {"C", ftCurrency, 0, 8},   {"B", ftBoolean, 0, 2},
      {"D", ftDate, 0, 4},        {"T", ftTime, 0, 4},       {"DT", ftDateTime, 0, 8},
      {"TS", ftTimeStamp, 0, 16}, {"BY", ftBytes, 4, 4},     {"VB", ftVarBytes, 4, 6},
      {"BL", ftBlob, 0, 0},       {"M", ftMemo, 0, 0},       {"WM", ftWideMemo, 0, 0}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(F(r.name).DataType(), r.type);
    EXPECT_EQ(F(r.name).Size(), r.size);
    EXPECT_EQ(F(r.name).DataSize(), r.data_size);
  }
}

TEST_F(FieldTest, NullReadsAsZeroFalseAndEmpty) {
  for (int i = 0; i < ds.FieldCount(); ++i) {
    Field& f = ds.Fields(i);
    SCOPED_TRACE(f.FieldName());
    EXPECT_TRUE(f.IsNull());
    EXPECT_TRUE(f.Value().IsNull());
    EXPECT_EQ(f.AsString(), "");
    const TFieldType t = f.DataType();
    if (t != ftBoolean && t != ftBytes && t != ftVarBytes && !f.IsBlob() && t != ftWideString &&
        t != ftTimeStamp && t != ftDate && t != ftTime && t != ftDateTime) {
      EXPECT_EQ(f.AsInteger(), 0);
      EXPECT_EQ(f.AsFloat(), 0.0);
    }
  }
  EXPECT_FALSE(F("B").AsBoolean());
  EXPECT_FALSE(F("S").AsBoolean());
  EXPECT_EQ(F("DT").AsDateTime(), 0.0);
  EXPECT_EQ(F("TS").AsDateTime(), 0.0);
  EXPECT_EQ(F("W").AsWideString(), u"");
}

TEST_F(FieldTest, StringsAreCutToTheFieldSize) {
  struct Row {
    const char* field;
    std::string in;
    std::string out;
  };
  const Row rows[] = {{"S", "abc", "abc"},
                      {"S", "abcde", "abcde"},
                      {"S", "abcdefgh", "abcde"},
                      {"S", "", ""},
                      {"FC", "wxyz", "wxy"},
                      {"S", std::string("a\0b", 3), "a"},
                      {"BY", "123456", std::string("1234")},
                      {"VB", "12", "12"},
                      {"VB", "123456", "1234"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.field) + " <- " + r.in);
    F(r.field).SetAsString(r.in);
    EXPECT_EQ(F(r.field).AsString(), r.out);
  }
  F("W").SetAsWideString(u"\u00e9t\u00e9s!");
  EXPECT_EQ(F("W").AsWideString(), u"\u00e9t\u00e9s");
  EXPECT_EQ(F("W").AsString(), "\xe9t\xe9s");
  F("BY").SetAsString("ab");
  EXPECT_EQ(F("BY").AsString(), std::string("ab\0\0", 4));
}

TEST_F(FieldTest, TypedValuesRoundTrip) {
  F("I").SetAsString(" -12");
  EXPECT_EQ(F("I").AsInteger(), -12);
  EXPECT_EQ(F("I").AsString(), "-12");
  EXPECT_EQ(F("I").Value(), Variant::FromInteger(-12));
  F("L").SetAsLargeInt(INT64_C(-9000000000000));
  EXPECT_EQ(F("L").AsString(), "-9000000000000");
  EXPECT_THROW(F("L").AsInteger(), EDatabaseError);
  F("WO").SetAsInteger(65535);
  EXPECT_EQ(F("WO").AsInteger(), 65535);
  F("SI").SetAsFloat(2.5);  // halves to even
  EXPECT_EQ(F("SI").AsInteger(), 2);
  F("F").SetAsString("1.5E3");
  EXPECT_EQ(F("F").AsFloat(), 1500.0);
  EXPECT_EQ(F("F").AsString(), "1500");
  EXPECT_EQ(F("F").AsInteger(), 1500);
  F("C").SetAsFloat(12.3456);
  EXPECT_EQ(F("C").Value(), Variant::FromCurrency(12.3456));
  F("B").SetAsBoolean(true);
  EXPECT_EQ(Native("B"), (std::vector<std::uint8_t>{0xFF, 0xFF}));
  EXPECT_EQ(F("B").AsString(), "True");
  F("B").SetAsString("f");
  EXPECT_FALSE(F("B").AsBoolean());
  EXPECT_EQ(Native("B"), (std::vector<std::uint8_t>{0, 0}));
  F("B").SetAsString("TR");
  EXPECT_TRUE(F("B").AsBoolean());
  F("B").SetAsString("");
  EXPECT_TRUE(F("B").IsNull());
  F("S").SetValue(Variant::FromInteger(42));
  EXPECT_EQ(F("S").AsInteger(), 42);
  F("I").SetValue(Variant::FromString("17"));
  EXPECT_EQ(F("I").AsInteger(), 17);
  F("I").SetValue(Variant::Null());
  EXPECT_TRUE(F("I").IsNull());
}

TEST_F(FieldTest, BadTextAndOutOfRangeValuesLeaveTheFieldUnchanged) {
  F("I").SetAsInteger(7);
  F("F").SetAsFloat(1.25);
  F("SI").SetAsInteger(3);
  F("B").SetAsBoolean(true);
  F("D").SetAsDateTime(EncodeDate(2020, 1, 1));
  struct Row {
    const char* name;
    std::function<void()> op;
    bool convert_error;  // EConvertError, else EDatabaseError
  };
  const Row rows[] = {
      {"integer text", [&] { F("I").SetAsString("12a"); }, true},
      {"integer too big", [&] { F("I").SetAsString("3000000000"); }, false},
      {"integer float text", [&] { F("I").SetAsString("1.5"); }, true},
      {"float text", [&] { F("F").SetAsString("1,5"); }, true},
      {"float words", [&] { F("F").SetAsString("abc"); }, true},
      {"smallint range", [&] { F("SI").SetAsInteger(40000); }, false},
      {"smallint float range", [&] { F("SI").SetAsFloat(-1e10); }, false},
      {"word negative", [&] { F("SI").SetAsLargeInt(INT64_C(1) << 40); }, false},
      {"boolean text", [&] { F("B").SetAsString("yes"); }, false},
      {"date text", [&] { F("D").SetAsString("31/02/2020"); }, true},
      {"date out of calendar", [&] { F("D").SetAsDateTime(1e9); }, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    if (r.convert_error)
      EXPECT_THROW(r.op(), EConvertError);
    else
      EXPECT_THROW(r.op(), EDatabaseError);
  }
  EXPECT_EQ(F("I").AsInteger(), 7);
  EXPECT_EQ(F("F").AsFloat(), 1.25);
  EXPECT_EQ(F("SI").AsInteger(), 3);
  EXPECT_TRUE(F("B").AsBoolean());
  EXPECT_EQ(F("D").AsDateTime(), EncodeDate(2020, 1, 1));
  try {
    F("SI").SetAsInteger(40000);
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(),
                 "40000 is not a valid value for field 'SI'. The allowed range is -32768 to 32767");
  }
  try {
    F("I").SetAsString("12a");
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'12a' is not a valid integer value");
  }
}

TEST_F(FieldTest, DatesAndTimesUseTheNativeForms) {
  const TDateTime d = EncodeDate(2016, 9, 20);
  F("D").SetAsDateTime(d);
  std::int32_t day;
  std::memcpy(&day, Native("D").data(), 4);
  EXPECT_EQ(day, 42633 + DateDelta);  // 2016-09-20 is platform day 42633
  EXPECT_EQ(F("D").AsDateTime(), d);
  EXPECT_EQ(F("D").AsString(), "20/09/2016");

  F("T").SetAsDateTime(EncodeTime(12, 0, 0, 500));
  std::int32_t ms;
  std::memcpy(&ms, Native("T").data(), 4);
  EXPECT_EQ(ms, 12 * 3600 * 1000 + 500);
  EXPECT_EQ(F("T").AsString(), "12:00:00");
  F("T").SetAsString("06:30");
  EXPECT_EQ(F("T").AsDateTime(), EncodeTime(6, 30, 0, 0));

  const TDateTime dt = d + EncodeTime(12, 0, 0, 500);
  F("DT").SetAsDateTime(dt);
  double native;
  std::memcpy(&native, Native("DT").data(), 8);
  EXPECT_EQ(native, (42633.0 + DateDelta) * MSecsPerDay + 43200500.0);
  EXPECT_EQ(F("DT").AsDateTime(), dt);
  EXPECT_EQ(F("DT").AsString(), "20/09/2016 12:00:00");

  // Before 1899-12-30 the time of day is the fraction's absolute value.
  const TDateTime early = EncodeDateTime(1899, 12, 29, 6, 0, 0, 0);
  EXPECT_EQ(early, -1.25);
  F("DT").SetAsDateTime(early);
  EXPECT_EQ(F("DT").AsDateTime(), -1.25);
  EXPECT_EQ(F("DT").AsString(), "29/12/1899 06:00:00");
  // The native form keeps the day and the time apart: 1899-12-29, then 6 h.
  std::memcpy(&native, Native("DT").data(), 8);
  EXPECT_EQ(native, (DateDelta - 1.0) * MSecsPerDay + 6 * 3600000.0);
  F("D").SetAsDateTime(EncodeDate(1752, 9, 14));
  EXPECT_EQ(F("D").AsString(), "14/09/1752");

  F("TS").SetAsDateTime(dt);
  EXPECT_EQ(F("TS").AsDateTime(), dt);
  TSQLTimeStamp ts;
  ASSERT_TRUE(static_cast<SQLTimeStampField&>(F("TS")).GetValue(ts));
  EXPECT_EQ(ts, (TSQLTimeStamp{2016, 9, 20, 12, 0, 0, 500}));
  EXPECT_EQ(Native("TS"), (std::vector<std::uint8_t>{0xE0, 0x07, 9, 0, 20, 0, 12, 0, 0, 0, 0, 0,
                                                     0xF4, 0x01, 0, 0}));
}

// A dataset that computes the native value as (D + 693594) * 86400000 from
// a date-time D often gives a hair less than the whole millisecond; the
// field must read the millisecond that was meant.
TEST_F(FieldTest, DateTimeNativeValuesReadToTheNearestMillisecond) {
  std::mt19937 rng(20160920);
  for (int i = 0; i < 2000; ++i) {
    TTimeStamp ts;
    ts.Date = DateDelta + 42633 + static_cast<std::int32_t>(rng() % 3000);
    ts.Time = static_cast<std::int32_t>(rng() % MSecsPerDay);
    SCOPED_TRACE(std::to_string(ts.Date) + " " + std::to_string(ts.Time));
    const TDateTime d = TimeStampToDateTime(ts);
    const double native = (d + DateDelta) * MSecsPerDay;
    F("DT").SetData(&native);
    ASSERT_EQ(F("DT").AsDateTime(), d);
  }
  // Just below midnight reads as the next day's midnight.
  const double late = (DateDelta + 42634.0) * MSecsPerDay - 0.25;
  F("DT").SetData(&late);
  EXPECT_EQ(F("DT").AsDateTime(), 42634.0);
}

TEST_F(FieldTest, BlobFieldsGoThroughStreams) {
  EXPECT_TRUE(F("BL").IsNull());
  F("BL").SetAsString(std::string("\0\1\2", 3));
  EXPECT_FALSE(F("BL").IsNull());
  EXPECT_EQ(F("BL").AsString(), std::string("\0\1\2", 3));
  EXPECT_EQ(static_cast<BlobField&>(F("BL")).BlobSize(), 3);
  F("WM").SetAsWideString(u"\u0416x");
  EXPECT_EQ(F("WM").AsWideString(), u"\u0416x");
  F("M").Assign(F("BL"));
  EXPECT_EQ(F("M").AsString(), std::string("\0\1\2", 3));
  ds.Post();
  EXPECT_EQ(F("M").AsString(), std::string("\0\1\2", 3));
  EXPECT_EQ(F("WM").Value(), Variant::FromUString(u"\u0416x"));
  ds.Edit();
  F("BL").Clear();
  ds.Post();
  EXPECT_TRUE(F("BL").IsNull());
  EXPECT_EQ(F("BL").AsString(), "");
}

TEST_F(FieldTest, AssignCopiesValuesAndNulls) {
  F("I").SetAsInteger(5);
  F("F").Assign(F("I"));
  EXPECT_EQ(F("F").AsFloat(), 5.0);
  F("S").Assign(F("F"));
  EXPECT_EQ(F("S").AsString(), "5");
  F("S").Assign(F("L"));  // NULL
  EXPECT_TRUE(F("S").IsNull());
  F("BY").SetAsString("wxyz");
  F("VB").Assign(F("BY"));
  EXPECT_EQ(F("VB").AsString(), "wxyz");
}

TEST_F(FieldTest, ValidateCanRefuseAValue) {
  F("I").OnValidate = [](Field& f, const void* buffer) {
    std::int32_t v = 0;
    if (buffer) std::memcpy(&v, buffer, 4);
    if (v < 0) throw EDatabaseError("negative " + f.FieldName());
  };
  F("I").SetAsInteger(3);
  EXPECT_THROW(F("I").SetAsInteger(-1), EDatabaseError);
  EXPECT_EQ(F("I").AsInteger(), 3);
  int changes = 0;
  F("I").OnChange = [&](Field&) { ++changes; };
  F("I").SetAsInteger(4);
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(ds.Modified());
}

}  // namespace
}  // namespace platform::test

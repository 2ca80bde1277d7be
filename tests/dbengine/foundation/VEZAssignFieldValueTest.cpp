#include "dbengine/foundation/VEZAssignFieldValue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "platform/dataset/DatabaseError.h"
#include "tests/platform/dataset/FakeDataSet.h"

namespace vez {
namespace {

using platform::Variant;
using platform::test::FakeDataSet;

// A source row and an empty destination row with one column of each kind.
class AssignFieldValueTest : public ::testing::Test {
 protected:
  static void Define(FakeDataSet& ds) {
    ds.DefineField("S", platform::ftString, 8);
    ds.DefineField("W", platform::ftWideString, 8);
    ds.DefineField("I", platform::ftInteger);
    ds.DefineField("L", platform::ftLargeint);
    ds.DefineField("F", platform::ftFloat);
    ds.DefineField("VB", platform::ftVarBytes, 4);
    ds.DefineField("BL", platform::ftBlob);
    ds.DefineField("G", platform::ftGraphic);
    ds.DefineField("WM", platform::ftWideMemo);
  }
  void SetUp() override {
    Define(src);
    Define(dst);
    src.Open();
    src.Append();
    dst.Open();
    dst.Append();
  }
  platform::Field& S(const char* n) { return src.FieldByName(n); }
  platform::Field& D(const char* n) { return dst.FieldByName(n); }
  FakeDataSet src, dst;
};

TEST_F(AssignFieldValueTest, CopiesByTheFieldTypes) {
  S("S").SetAsString("42");
  S("W").SetAsWideString(u"\u0416ab");
  S("I").SetAsInteger(-7);
  S("L").SetAsLargeInt(INT64_C(5000000000));
  S("F").SetAsFloat(2.5);
  S("VB").SetAsString(std::string("\x01\x02\x03", 3));
  S("BL").SetAsString(std::string("a\0b", 3));
  S("WM").SetAsWideString(u"x\u0416");
  struct Row {
    const char* from;
    const char* to;
    std::function<void()> check;
  };
  const Row rows[] = {
      {"L", "L", [&] { EXPECT_EQ(D("L").AsLargeInt(), INT64_C(5000000000)); }},
      {"L", "F", [&] { EXPECT_EQ(D("F").AsFloat(), 5e9); }},
      {"I", "L", [&] { EXPECT_EQ(D("L").AsLargeInt(), -7); }},  // sign-extended
      {"S", "I", [&] { EXPECT_EQ(D("I").AsInteger(), 42); }},
      {"F", "S", [&] { EXPECT_EQ(D("S").AsString(), "2.5"); }},
      {"VB", "VB", [&] { EXPECT_EQ(D("VB").AsString(), std::string("\x01\x02\x03", 3)); }},
      {"BL", "G", [&] { EXPECT_EQ(D("G").AsString(), std::string("a\0b", 3)); }},
      {"WM", "S", [&] { EXPECT_EQ(D("S").AsWideString(), u"x?"); }},
      {"WM", "W", [&] { EXPECT_EQ(D("W").AsWideString(), u"x\u0416"); }},
      {"BL", "WM", [&] { EXPECT_EQ(D("WM").AsWideString(), std::u16string(u"a\0b", 3)); }},
      {"W", "BL",
       [&] {
         EXPECT_EQ(D("BL").AsString(), std::string("\x16\x04"
                                                   "a\0b\0",
                                                   6));
       }},
      {"BL", "W",
       [&] {
         // Three bytes read as one UTF-16 unit; the odd byte is dropped.
         EXPECT_EQ(D("W").AsWideString(), std::u16string(1, static_cast<char16_t>('a')));
       }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.from) + " -> " + r.to);
    AssignFieldValue(S(r.from), D(r.to));
    r.check();
  }
}

TEST_F(AssignFieldValueTest, GraphicHeaderIsDroppedBetweenBlobs) {
  std::string header("\x01\x00\x00\x01\x03\x00\x00\x00", 8);
  S("G").SetAsString(header + "PIC");
  AssignFieldValue(S("G"), D("BL"));
  EXPECT_EQ(D("BL").AsString(), "PIC");
  // A header whose size does not match is data, copied as it is.
  std::string other("\x01\x00\x00\x01\x09\x00\x00\x00", 8);
  S("G").SetAsString(other + "PIC");
  AssignFieldValue(S("G"), D("BL"));
  EXPECT_EQ(D("BL").AsString(), other + "PIC");
}

TEST_F(AssignFieldValueTest, NullCopiesAsNullWhateverTheTypes) {
  const std::pair<const char*, const char*> pairs[] = {{"I", "L"},   {"L", "I"},  {"BL", "G"},
                                                       {"WM", "S"},  {"W", "BL"}, {"BL", "W"},
                                                       {"VB", "VB"}, {"S", "I"}};
  for (const auto& [from, to] : pairs) {
    SCOPED_TRACE(std::string(from) + " -> " + to);
    D(to).SetAsString("1");
    AssignFieldValue(S(from), D(to));
    EXPECT_TRUE(D(to).IsNull());
  }
}

TEST_F(AssignFieldValueTest, AFailedConversionKeepsTheDestination) {
  S("S").SetAsString("x1");
  D("I").SetAsInteger(3);
  EXPECT_THROW(AssignFieldValue(S("S"), D("I")), platform::EConvertError);
  EXPECT_EQ(D("I").AsInteger(), 3);
  S("L").SetAsLargeInt(INT64_C(1) << 40);
  EXPECT_THROW(AssignFieldValue(S("L"), D("I")), platform::EDatabaseError);
  EXPECT_EQ(D("I").AsInteger(), 3);
}

}  // namespace
}  // namespace vez

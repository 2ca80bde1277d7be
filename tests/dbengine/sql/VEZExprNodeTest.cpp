// The node framework and its leaves: field nodes bound to a cursor reading
// record buffers of every storage type, constants and their pattern and case
// tests, the base class's type rules and node tests.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ExprTestSupport.h"
#include "dbengine/foundation/VEZException.h"
#include "platform/core/CodePage.h"
#include "platform/core/Exceptions.h"
#include "tests/common/NativeError.h"

namespace vez {
namespace {

using test::NativeErrorOf;
using test::TNode;
using test::TRecordVehicle;

// One column of each storage type the record buffer holds directly.
std::vector<test::TColumnSpec> AllTypeColumns() {
  return {{"I8", aftShortint},     {"I16", aftSmallint}, {"I32", aftInteger},
          {"I64", aftLargeint},    {"U8", aftByte},      {"U16", aftWord},
          {"U32", aftCardinal},    {"SGL", aftSingle},   {"DBL", aftDouble},
          {"EXT", aftExtended},    {"CUR", aftCurrency}, {"BOOL", aftBoolean},
          {"DT", aftDate},         {"TM", aftTime},      {"DTM", aftDateTime},
          {"STR", aftString, 20},  {"FIX", aftChar, 8},  {"WSTR", aftWideString, 20},
          {"WCH", aftWideChar, 8}, {"BYT", aftBytes, 4}, {"GID", aftGuid, 38},
          {"MEMO", aftMemo},       {"AUTO", aftAutoInc}};
}

class FieldNodeTest : public ::testing::Test {
 protected:
  TRecordVehicle rec{AllTypeColumns()};
};

// Every column reads back what the buffer holds, typed as the column's
// storage type, with the column's declared type and size.
TEST_F(FieldNodeTest, ReadsEveryStorageTypeAsTheCursorDoes) {
  struct Row {
    std::string column;
    std::function<void()> fill;
  };
  const std::vector<Row> rows = {
      {"I8", [&] { rec.Set<std::int16_t>("I8", -7); }},
      {"I16", [&] { rec.Set<std::int16_t>("I16", -30000); }},
      {"I32", [&] { rec.SetInt("I32", -2000000000); }},
      {"I64", [&] { rec.Set<std::int64_t>("I64", -9000000000000LL); }},
      {"U8", [&] { rec.Set<std::uint8_t>("U8", 200); }},
      {"U16", [&] { rec.Set<std::uint16_t>("U16", 60000); }},
      {"U32", [&] { rec.Set<std::int64_t>("U32", 4000000000LL); }},
      {"SGL", [&] { rec.SetDouble("SGL", 1.5); }},
      {"DBL", [&] { rec.SetDouble("DBL", -2.25); }},
      {"EXT", [&] { rec.SetDouble("EXT", 3.125); }},
      {"CUR", [&] { rec.SetDouble("CUR", 12.5); }},
      {"BOOL", [&] { rec.SetBool("BOOL", true); }},
      {"DT", [&] { rec.SetInt("DT", 739770); }},
      {"TM", [&] { rec.SetInt("TM", 3600000); }},
      {"DTM", [&] { rec.Set<std::int64_t>("DTM", (std::int64_t{1000} << 32) | 739770); }},
      {"STR", [&] { rec.SetStr("STR", "Sea trial"); }},
      {"FIX", [&] { rec.SetStr("FIX", "abc"); }},
      {"WSTR", [&] { rec.SetWStr("WSTR", u"\u03a9mega"); }},
      {"WCH", [&] { rec.SetWStr("WCH", u"w"); }},
      {"BYT", [&] { rec.SetStr("BYT", "\x01\x02\x03"); }},
      {"GID", [&] { rec.SetStr("GID", "{00000000-0000-0000-0000-000000000001}"); }},
      {"AUTO", [&] { rec.SetInt("AUTO", 42); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.column);
    row.fill();
    TNode node = test::Field(&rec.cursor, row.column);
    const TVEZVariant& got = *node->GetDataValue();
    TVEZVariant expected;
    rec.cursor.GetFieldValue(expected, rec.No(row.column), true);
    ASSERT_FALSE(got.GetIsNull());
    EXPECT_EQ(got.GetDataType(), AdvancedTypeToBaseType(rec.Def(row.column).AdvancedFieldType));
    EXPECT_EQ(got.Compare(expected, true, false, false), cmprEqual);
    EXPECT_EQ(node->GetDataType(), rec.Def(row.column).AdvancedFieldType);
    EXPECT_EQ(node->GetDataSize(), rec.Def(row.column).MemoryDataSize);
  }
}

// The same value object serves every record: NULL first, then a value.
TEST_F(FieldNodeTest, NullThenValueInTheSameValueObject) {
  TNode node = test::Field(&rec.cursor, "I32");
  const TVEZVariant* first = node->GetDataValue();
  EXPECT_TRUE(first->GetIsNull());
  rec.SetInt("I32", 5);
  const TVEZVariant* second = node->GetDataValue();
  EXPECT_EQ(first, second);
  ASSERT_FALSE(second->GetIsNull());
  EXPECT_EQ(second->GetAsInteger(), 5);
  rec.SetNull("I32");
  EXPECT_TRUE(node->GetDataValue()->GetIsNull());
}

// Names are matched without regard to case; a name only the projection
// knows reads the physical column it stands for.
TEST_F(FieldNodeTest, BindsThroughNamesAndTheProjection) {
  rec.SetInt("I32", 11);
  rec.SetInt("AUTO", 22);
  rec.cursor.ApplyProjection({"AUTO", "I32"}, {"RunNo", ""});
  TNode by_alias = test::Field(&rec.cursor, "runno");
  auto* field = static_cast<TVEZExprNodeField*>(by_alias.get());
  EXPECT_EQ(field->FFieldNo, rec.No("AUTO"));
  EXPECT_EQ(by_alias->GetDataValue()->GetAsInteger(), 22);
  TNode by_name = test::Field(&rec.cursor, "i32");
  EXPECT_EQ(by_name->GetDataValue()->GetAsInteger(), 11);
}

TEST_F(FieldNodeTest, BindingErrors) {
  EXPECT_EQ(NativeErrorOf([&] { test::Field(&rec.cursor, "NoSuchColumn"); }), 30115);
  TNode unbound = test::Field(nullptr, "I32");
  EXPECT_EQ(NativeErrorOf([&] { unbound->GetDataType(); }), 30284);
  EXPECT_EQ(NativeErrorOf([&] { unbound->GetDataValue(); }), 30196);
  EXPECT_EQ(NativeErrorOf([&] { unbound->AssignCursor(nullptr, nullptr, nullptr); }), 30202);
  // No binding at all and no operator: 30197.
  EXPECT_EQ(NativeErrorOf([&] { unbound->AssignAO(nullptr, nullptr, nullptr); }), 30197);
  // A column the parent cursor has is bound to the parent.
  TRecordVehicle other({{"ONLY_HERE", aftInteger}});
  other.SetInt("ONLY_HERE", 9);
  unbound->AssignCursor(&rec.cursor, nullptr, &other.cursor);
  EXPECT_EQ(NativeErrorOf([&] { unbound->GetDataValue(); }), 0);
  TNode parent_only = test::Field(nullptr, "ONLY_HERE");
  parent_only->AssignCursor(&rec.cursor, nullptr, &other.cursor);
  EXPECT_EQ(parent_only->GetDataValue()->GetAsInteger(), 9);
  // Memo columns need a BLOB stream of the table: not built yet.
  rec.SetStr("MEMO", "x");
  TNode memo = test::Field(&rec.cursor, "MEMO");
  EXPECT_EQ(NativeErrorOf([&] { memo->GetDataValue(); }), kErrorNotImplementedYet);
}

// A raw buffer binding reaches the references of its own level only.
TEST_F(FieldNodeTest, BufferBindingFollowsTheLevel) {
  TRecordVehicle second(AllTypeColumns());
  rec.SetInt("I32", 1);
  second.SetInt("I32", 2);
  TNode node = test::Field(&rec.cursor, "I32");
  node->AssignCursorBuffer(second.buffer, true);  // outer-query records only
  EXPECT_EQ(node->GetDataValue()->GetAsInteger(), 1);
  node->AssignCursorBuffer(second.buffer, false);
  EXPECT_EQ(node->GetDataValue()->GetAsInteger(), 2);
}

// Without operators, a reference can be assigned only as an outer-query
// reference to the parent cursor; the planner's flags follow the answer.
TEST_F(FieldNodeTest, CanBeAssignedToTheParentCursor) {
  auto node = std::make_unique<TVEZExprNodeField>(nullptr, "i32", "");
  EXPECT_TRUE(node->CanBeAssigned(nullptr, nullptr, &rec.cursor, true));
  EXPECT_TRUE(node->FGetFromParent);
  EXPECT_TRUE(node->FScanOnlyVisibleFieldsInAO);
  auto missing = std::make_unique<TVEZExprNodeField>(nullptr, "NoSuchColumn", "");
  missing->FGetFromParent = true;
  EXPECT_FALSE(missing->CanBeAssigned(nullptr, nullptr, &rec.cursor, true));
  EXPECT_FALSE(missing->FGetFromParent);
  EXPECT_FALSE(missing->FScanOnlyVisibleFieldsInAO);
  EXPECT_FALSE(node->CanBeAssigned(nullptr, nullptr, nullptr, false));
  EXPECT_FALSE(node->FGetFromParent);
  // The answer of a tree is every field's.
  auto tree = test::And(test::Field(nullptr, "I32"), test::Field(nullptr, "NoSuchColumn"));
  EXPECT_FALSE(tree->CanBeAssigned(nullptr, nullptr, &rec.cursor, false));
}

TEST_F(FieldNodeTest, GroupByListIgnoresTheTableName) {
  auto node = std::make_unique<TVEZExprNodeField>(nullptr, "Name", "T");
  EXPECT_TRUE(node->CanBeUsedInGroupBy("name;x"));
  EXPECT_TRUE(node->CanBeUsedInGroupBy(" x ; NAME "));
  EXPECT_FALSE(node->CanBeUsedInGroupBy("x;names"));
  EXPECT_FALSE(node->CanBeUsedInGroupBy(""));
}

// ---------------------------------------------------------------------------
// Constants

TEST(ConstNodeTest, DataSizeAndType) {
  struct Row {
    const char* name;
    TNode node;
    std::int32_t size;
    TVEZAdvancedFieldType type;
  };
  Row rows[] = {{"'abc'", test::Str("abc"), 3, aftString},
                {"wide 'abc'", test::WStr(u"abc"), 6, aftWideString},
                {"NULL", test::Null(), 0, aftUnknown},
                {"5", test::Int(5), 0, aftInteger},
                {"2.5", test::Dbl(2.5), 0, aftDouble}};
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.node->GetDataSize(), row.size);
    EXPECT_EQ(row.node->GetDataType(), row.type);
    EXPECT_EQ(row.node->GetDataValue(), &row.node->Value);
    EXPECT_TRUE(row.node->CanBeAssigned(nullptr, nullptr, nullptr, false));
  }
}

TEST(ConstNodeTest, PartialComparePattern) {
  struct Row {
    std::string pattern;
    bool expected;
    std::string truncated;
  };
  const Row rows[] = {{"a%", true, "a"},  {"ab_c%", true, "ab_c"}, {"%", false, ""},
                      {"a%b", false, ""}, {"a%b%", false, ""},     {"ab", false, ""},
                      {"%%", false, ""}};
  for (const Row& row : rows) {
    for (bool wide : {false, true}) {
      SCOPED_TRACE(row.pattern + (wide ? " wide" : " ansi"));
      TNode node = wide ? test::WStr(platform::AnsiToWide(row.pattern)) : test::Str(row.pattern);
      auto* c = static_cast<TVEZExprNodeConst*>(node.get());
      EXPECT_EQ(c->IsLikePatternEqualToPartialComparePattern(), row.expected);
      if (!row.expected) continue;
      c->TruncateForPartialCompare();
      EXPECT_EQ(c->Value.IsWideStringDataType(), wide);
      EXPECT_EQ(c->Value.GetAsAnsiString(), row.truncated);
    }
  }
  auto number = test::Int(5);
  EXPECT_FALSE(
      static_cast<TVEZExprNodeConst*>(number.get())->IsLikePatternEqualToPartialComparePattern());
}

TEST(ConstNodeTest, LetterCase) {
  struct Row {
    const char* name;
    TNode node;
    bool upper, lower;
  };
  Row rows[] = {{"ABC1", test::Str("ABC1"), true, false},
                {"AbC", test::Str("AbC"), false, false},
                {"abc", test::Str("abc"), false, true},
                {"123", test::Str("123"), true, true},
                {"wide \u00c9T\u00c9", test::WStr(u"\u00c9T\u00c9"), true, false},
                {"wide \u00e9t\u00e9", test::WStr(u"\u00e9t\u00e9"), false, true},
                {"number", test::Int(5), false, false}};
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto* c = static_cast<TVEZExprNodeConst*>(row.node.get());
    EXPECT_EQ(c->IsUpperCase(), row.upper);
    EXPECT_EQ(c->IsLowerCase(), row.lower);
  }
}

// ---------------------------------------------------------------------------
// Base rules and node tests

TEST(ExprNodeBaseTest, TypeAndSizeRules) {
  // No children: no type.
  auto empty = test::And();
  EXPECT_EQ(NativeErrorOf([&] { empty->GetDataType(); }), 30283);
  // The common type of the children, left to right.
  EXPECT_EQ(test::Arith(doADD, test::Int(1), test::Dbl(2))->GetDataType(), aftDouble);
  EXPECT_EQ(test::Arith(doMUL, test::Int(1), test::Int(2))->GetDataType(), aftInteger);
  // A string sum has the sum of the sizes; other results none.
  EXPECT_EQ(test::Arith(doADD, test::Str("ab"), test::Str("cde"))->GetDataSize(), 5);
  EXPECT_EQ(test::Arith(doMUL, test::Int(1), test::Int(2))->GetDataSize(), 0);
  // A comparison reports the type of its operands.
  EXPECT_EQ(test::Cmp(doEQ, test::Int(1), test::Int(2))->GetDataType(), aftInteger);
}

// A size is a size: a sum the 32 bits cannot hold raises instead of wrapping
// to a negative one.
TEST(ExprNodeBaseTest, SizeSumDoesNotWrap) {
  TRecordVehicle rec({{"S", aftString, 20}});
  auto sum = test::Arith(doADD, test::Field(&rec.cursor, "S"), test::Field(&rec.cursor, "S"));
  EXPECT_EQ(sum->GetDataSize(), 2 * rec.Def("S").MemoryDataSize);
  static_cast<TVEZExprNodeField*>(sum->Child(0))->FFieldSize = INT32_MAX;
  EXPECT_THROW(sum->GetDataSize(), platform::EIntOverflow);
}

TEST(ExprNodeBaseTest, NodesUsableAsFieldOrConstant) {
  TRecordVehicle rec({{"A", aftInteger}});
  TNode field = test::Field(&rec.cursor, "A");
  TNode outer = test::Field(&rec.cursor, "A");
  static_cast<TVEZExprNodeField*>(outer.get())->FGetFromParent = true;
  TNode constant = test::Int(1);
  TNode sum = test::Arith(doADD, test::Int(1), test::Int(2));
  EXPECT_TRUE(TVEZExprNode::CanUseNodeAsField(field.get()));
  EXPECT_FALSE(TVEZExprNode::CanUseNodeAsField(outer.get()));
  EXPECT_FALSE(TVEZExprNode::CanUseNodeAsField(constant.get()));
  EXPECT_FALSE(TVEZExprNode::CanUseNodeAsField(sum.get()));
  EXPECT_FALSE(TVEZExprNode::CanUseNodeAsField(nullptr));
  EXPECT_FALSE(TVEZExprNode::CanUseNodeAsConst(field.get()));
  EXPECT_TRUE(TVEZExprNode::CanUseNodeAsConst(outer.get()));
  EXPECT_TRUE(TVEZExprNode::CanUseNodeAsConst(constant.get()));
  EXPECT_FALSE(TVEZExprNode::CanUseNodeAsConst(sum.get()));
}

TEST(ExprNodeBaseTest, ForwardingDefaults) {
  auto tree = test::And(test::Int(1), test::Cmp(doEQ, test::Int(1), test::Int(1)));
  EXPECT_FALSE(tree->IsAggregated());
  EXPECT_FALSE(tree->IsAggregatedCountAll());
  EXPECT_EQ(tree->GetSubqueryFieldValue(0), nullptr);
  EXPECT_TRUE(tree->CanBeAssigned(nullptr, nullptr, nullptr, false));
  EXPECT_TRUE(tree->CanBeUsedInGroupBy("A"));
  EXPECT_FALSE(tree->IsJoinCondition(nullptr, nullptr));
  EXPECT_EQ(tree->GetPrecision(), 0);
  tree->Init();
  tree->Accumulate();
  tree->ResetSubqueryFieldValues();
  tree->SetCountAll(3);
}

}  // namespace
}  // namespace vez

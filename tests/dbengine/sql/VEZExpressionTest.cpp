// The expression object: evaluation and the NULL reading of GetValue and
// GetResult, emptiness, field tests, AND flattening, moving trees between
// expressions, the scan protocol's taking out and putting back of nodes, and
// the unit's utility functions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ExprTestSupport.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZScanSearchCondition.h"
#include "tests/common/NativeError.h"

namespace vez {
namespace {

using test::NativeErrorOf;
using test::TNode;

// A named leaf for tree-shape tests: a field node that is never bound.
TNode Leaf(const char* name) {
  return test::Field(nullptr, name);
}

TEST(ExpressionTest, GetValueReadsNullAsFalseOnlyWhenAsked) {
  TVEZExpression e(test::And(test::Probe(true), test::Probe({})));
  TVEZVariant* three_valued = e.GetValue(true);
  ASSERT_NE(three_valued, nullptr);
  EXPECT_TRUE(three_valued->GetIsNull());
  TVEZVariant* two_valued = e.GetValue(false);
  EXPECT_EQ(two_valued, three_valued);  // the root's own value object
  ASSERT_FALSE(two_valued->GetIsNull());
  EXPECT_EQ(two_valued->GetDataType(), bftLogical);
  EXPECT_FALSE(two_valued->GetAsBoolean());
  EXPECT_FALSE(e.GetResult());
  // The next evaluation starts afresh.
  EXPECT_TRUE(e.GetValue(true)->GetIsNull());
  // A NULL of another type becomes a Boolean too, not a 0 of its type.
  TVEZExpression sum(test::Arith(doADD, test::Int(1), test::Null()));
  EXPECT_EQ(sum.GetValue(false)->GetDataType(), bftLogical);
}

TEST(ExpressionTest, EmptyExpressions) {
  TVEZExpression empty;
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_EQ(empty.GetValue(false), nullptr);
  EXPECT_EQ(NativeErrorOf([&] { empty.GetResult(); }), 30110);
  EXPECT_EQ(empty.GetDataType(), aftUnknown);
  EXPECT_EQ(empty.GetDataSize(), 0);
  EXPECT_FALSE(empty.IsAggregated());
  EXPECT_TRUE(empty.CanBeUsedInGroupBy("A"));
  empty.AssignCursor(nullptr, nullptr, nullptr);  // nothing to bind
  empty.AssignCursorBuffer(nullptr, false);
  TVEZExpression and_without_children(test::And());
  EXPECT_TRUE(and_without_children.IsEmpty());
  TVEZExpression comparison(test::Cmp(doEQ, test::Int(1), test::Int(1)));
  EXPECT_FALSE(comparison.IsEmpty());
  EXPECT_TRUE(comparison.GetResult());
}

TEST(ExpressionTest, FieldTests) {
  struct Row {
    const char* name;
    TNode root;
    bool is_field, is_fields_expression;
  };
  Row rows[] = {
      {"A", Leaf("A"), true, true},
      {"A + 1", test::Arith(doADD, Leaf("A"), test::Int(1)), false, true},
      {"1 + (A + 1)", test::Arith(doADD, test::Int(1), test::Arith(doADD, Leaf("A"), test::Int(1))),
       false, false},
      {"5", test::Int(5), false, false}};
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    TVEZExpression e(std::move(row.root));
    EXPECT_EQ(e.IsField(), row.is_field);
    EXPECT_EQ(e.IsFieldsExpression(), row.is_fields_expression);
    std::string table, field;
    if (row.is_field) {
      e.GetFieldInfo(table, field);
      EXPECT_EQ(field, "A");
    } else {
      EXPECT_EQ(NativeErrorOf([&] { e.GetFieldInfo(table, field); }), 30198);
    }
  }
  TVEZExpression t(std::make_unique<TVEZExprNodeField>(nullptr, "Name", "Runs"));
  std::string table, field;
  t.GetFieldInfo(table, field);
  EXPECT_EQ(table, "Runs");
  EXPECT_EQ(field, "Name");
}

TEST(ExpressionTest, MoveAndNodesToRootFlattensEveryDepth) {
  struct Row {
    const char* name;
    TNode root;
    std::string expected;
  };
  Row rows[] = {
      {"AND(a, AND(b, AND(c, d)), e)",
       test::And(Leaf("a"), test::And(Leaf("b"), test::And(Leaf("c"), Leaf("d"))), Leaf("e")),
       "AND(a,e,b,c,d)"},
      {"AND(AND(a), AND())", test::And(test::And(Leaf("a")), test::And()), "AND(a)"},
      {"OR root untouched", test::Or(test::And(Leaf("a"), Leaf("b")), Leaf("c")), "OR(AND(a,b),c)"},
      {"AND under OR untouched", test::And(test::Or(test::And(Leaf("a"), Leaf("b")), Leaf("c"))),
       "AND(OR(AND(a,b),c))"},
  };
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    TVEZExpression e(std::move(row.root));
    e.MoveAndNodesToRoot();
    EXPECT_EQ(test::TreeText(e.Root()), row.expected);
  }
  TVEZExpression empty;
  empty.MoveAndNodesToRoot();
  EXPECT_TRUE(empty.IsEmpty());
}

TEST(ExpressionTest, AddAndMoveNodesFromExpression) {
  {
    TVEZExpression target(Leaf("z"));
    TVEZExpression source(test::And(Leaf("x"), Leaf("y")));
    target.AddAndMoveNodesFromExpression(source);
    EXPECT_EQ(test::TreeText(target.Root()), "AND(z,x,y)");
    EXPECT_TRUE(source.IsEmpty());
    EXPECT_EQ(source.Root(), nullptr);
  }
  {
    TVEZExpression target(test::And(Leaf("a"), Leaf("b")));
    TVEZExpression source(Leaf("c"));
    target.AddAndMoveNodesFromExpression(source);
    EXPECT_EQ(test::TreeText(target.Root()), "AND(a,b,c)");
  }
  {
    TVEZExpression target;
    TVEZExpression source(test::Or(Leaf("a"), Leaf("b")));
    TVEZExprNode* moved = source.Root();
    target.AddAndMoveNodesFromExpression(source);
    EXPECT_EQ(target.Root(), moved);
    EXPECT_EQ(source.Root(), nullptr);
  }
  {
    TVEZExpression target(Leaf("a"));
    TVEZExpression source;
    target.AddAndMoveNodesFromExpression(source);
    EXPECT_EQ(test::TreeText(target.Root()), "a");
  }
  {
    // The new AND compares text without case, as the parser's would.
    TVEZExpression target(Leaf("a"));
    TVEZExpression source(Leaf("b"));
    target.AddAndMoveNodesFromExpression(source);
    EXPECT_EQ(target.Root()->Kind(), TVEZExprNodeKind::Boolean);
    EXPECT_TRUE(target.Root()->FCaseInsensitive);
  }
}

// The nodes a chosen scan condition answers leave the tree unfreed and come
// back at the end of the root's children (or as the root).
TEST(ExpressionTest, ScanProtocolTakesNodesOutAndPutsThemBack) {
  TVEZExpression e(test::And(Leaf("a"), Leaf("b"), Leaf("c")));
  TVEZExprNode* b = e.Root()->Child(1);
  TVEZScanSearchConditionArray array;
  array.AddExpression(&e);
  TVEZScanSearchCondition condition;
  condition.IndexID = 3;
  condition.CreatedFromExpression = true;
  condition.ParentExpressions = {&e};
  condition.ParentExpressionNodes = {b};
  array.AddCondition(condition);
  EXPECT_FALSE(e.IsEmpty());
  array.ExtractChosenConditionsFromExpressions(1, -1);
  EXPECT_EQ(test::TreeText(e.Root()), "AND(a,c)");
  array.ReturnExtractedConditionsToExpressions(1, -1);
  EXPECT_EQ(test::TreeText(e.Root()), "AND(a,c,b)");

  // A single comparison is the root itself.
  TVEZExpression single(test::Cmp(doEQ, Leaf("a"), test::Int(1)));
  TVEZExprNode* root = single.Root();
  TVEZScanSearchConditionArray array2;
  array2.AddExpression(&single);
  condition.ParentExpressions = {&single};
  condition.ParentExpressionNodes = {root};
  array2.AddCondition(condition);
  array2.ExtractChosenConditionsFromExpressions(1, 1);
  EXPECT_TRUE(single.IsEmpty());
  array2.ReturnExtractedConditionsToExpressions(1, 1);
  EXPECT_EQ(single.Root(), root);
  // No chosen condition: nothing moves.
  array2.ExtractChosenConditionsFromExpressions(-1, 300);
  EXPECT_EQ(single.Root(), root);
  // The stubs offer no condition: every record is tested by GetResult.
  TVEZIndexDefs defs;
  TVEZScanSearchConditionArray array3;
  array3.AddExpression(&single);
  array3.CreateIndexScanConditionsFromExpressions(defs, 0);
  EXPECT_EQ(array3.Count(), 1);
}

TEST(ExpressionTest, AddNodeMakesARootOrAChild) {
  TVEZExpression e;
  e.AddNode(test::And().release());
  e.AddNode(Leaf("x").release());
  EXPECT_EQ(test::TreeText(e.Root()), "AND(x)");
}

// ---------------------------------------------------------------------------
// Utility functions

TEST(ExpressionUtilityTest, SplitFieldNamesList) {
  struct Row {
    std::string text;
    std::vector<std::string> expected;
  };
  const Row rows[] = {{" a ; b;", {"A", "B"}},
                      {"A;;B", {"A", "", "B"}},
                      {"", {}},
                      {"id", {"ID"}},
                      {";", {""}},
                      {"TrialID;RunID", {"TRIALID", "RUNID"}},
                      {"\tx\t", {"X"}}};
  for (const Row& row : rows) {
    SCOPED_TRACE("'" + row.text + "'");
    std::vector<std::string> list = {"stale"};
    SplitFieldNamesList(list, row.text);
    EXPECT_EQ(list, row.expected);
  }
  std::size_t pos = 1;
  EXPECT_EQ(ExtractListItem("ab ; cd", pos), "ab");
  EXPECT_EQ(pos, 5u);
  EXPECT_EQ(ExtractListItem("ab ; cd", pos), "cd");
  EXPECT_EQ(pos, 9u);
}

TEST(ExpressionUtilityTest, OperatorTables) {
  struct Row {
    TVEZDataOperator op;
    const char* text;
    TVEZDataOperator mirrored, negated;
  };
  const Row rows[] = {
      {doEQ, "=", doEQ, doNE},
      {doNE, "<>", doNE, doEQ},
      {doGT, ">", doLT, doLE},
      {doLT, "<", doGT, doGE},
      {doGE, ">=", doLE, doLT},
      {doLE, "<=", doGE, doGT},
      {doLIKE, "LIKE", doUNDEFINED, doUNDEFINED},
      {doNOTLIKE, "NOT LIKE", doUNDEFINED, doUNDEFINED},
      {doAND, "AND", doUNDEFINED, doUNDEFINED},
      {doISNOTNULL, "IS NOT NULL", doUNDEFINED, doUNDEFINED},
      {doSUB, "-", doUNDEFINED, doUNDEFINED},
      {doCONCAT, "||", doUNDEFINED, doUNDEFINED},
      {doCOUNTALL, "COUNT(*)", doUNDEFINED, doUNDEFINED},
      {doIN, "unknown", doUNDEFINED, doUNDEFINED},
      {doSQRT, "unknown", doUNDEFINED, doUNDEFINED},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(OperatorToText(row.op), row.text);
    EXPECT_EQ(MirrorComparison(row.op), row.mirrored);
    EXPECT_EQ(NegateComparison(row.op), row.negated);
  }
}

}  // namespace
}  // namespace vez

// Truth tables of the logical, predicate, comparison and arithmetic nodes:
// three-valued connectives with their short cuts, IN / BETWEEN / LIKE / IS
// NULL, both NULL behaviours of comparisons, the re-typing of wide constants
// against single-byte columns, and the arithmetic operators.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "ExprTestSupport.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/sql/VEZExprNodeDateFunction.h"
#include "platform/core/CodePage.h"
#include "platform/core/Variant.h"
#include "tests/common/NativeError.h"

namespace vez {
namespace {

using test::NativeErrorOf;
using test::TNode;
using test::TriText;
using Tri = std::optional<bool>;

Tri Eval(TNode& node) {
  TVEZExpression e(std::move(node));
  const Tri r = test::EvalBool(e);
  node = e.ReleaseRoot();
  return r;
}

// ---------------------------------------------------------------------------
// Connectives

// Kleene's tables, written out independently of the node.
Tri KleeneAnd(Tri a, Tri b) {
  if (a == false || b == false) return false;
  if (!a || !b) return std::nullopt;
  return true;
}
Tri KleeneOr(Tri a, Tri b) {
  if (a == true || b == true) return true;
  if (!a || !b) return std::nullopt;
  return false;
}

TEST(ConnectiveTest, ThreeValuedAndOrNotOverEveryPair) {
  const Tri values[] = {true, false, std::nullopt};
  for (Tri a : values) {
    SCOPED_TRACE("NOT " + TriText(a));
    TNode n = test::Not(test::Probe(a));
    EXPECT_EQ(Eval(n), a ? Tri(!*a) : std::nullopt);
    for (Tri b : values) {
      SCOPED_TRACE(TriText(a) + ", " + TriText(b));
      TNode and_node = test::And(test::Probe(a), test::Probe(b));
      TNode or_node = test::Or(test::Probe(a), test::Probe(b));
      EXPECT_EQ(Eval(and_node), KleeneAnd(a, b));
      EXPECT_EQ(Eval(or_node), KleeneOr(a, b));
    }
  }
}

// The deciding child ends the evaluation; the others run in order.
TEST(ConnectiveTest, ShortCutsAndNamedCases) {
  struct Row {
    const char* name;
    TNode tree;
    Tri expected;
    int expected_later_evaluations;
  };
  int later = 0;
  std::vector<Row> rows;
  rows.push_back(
      {"AND(True, NULL)", test::And(test::Probe(true), test::Probe({}, &later)), std::nullopt, 1});
  rows.push_back(
      {"AND(NULL, False)", test::And(test::Probe({}), test::Probe(false, &later)), false, 1});
  rows.push_back(
      {"AND(False, x)", test::And(test::Probe(false), test::Probe(true, &later)), false, 0});
  rows.push_back({"AND(NULL, False, x)",
                  test::And(test::Probe({}), test::Probe(false), test::Probe(true, &later)), false,
                  0});
  rows.push_back({"OR(NULL, True)", test::Or(test::Probe({}), test::Probe(true, &later)), true, 1});
  rows.push_back({"OR(True, x)", test::Or(test::Probe(true), test::Probe(false, &later)), true, 0});
  rows.push_back(
      {"OR(False, NULL)", test::Or(test::Probe(false), test::Probe({}, &later)), std::nullopt, 1});
  rows.push_back({"AND()", test::And(), true, 0});
  rows.push_back({"NOT NULL", test::Not(test::Probe({}, &later)), std::nullopt, 1});
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    later = 0;
    EXPECT_EQ(Eval(row.tree), row.expected);
    EXPECT_EQ(later, row.expected_later_evaluations);
  }
}

// ---------------------------------------------------------------------------
// Predicates

TEST(PredicateTest, InBetweenLikeIsNull) {
  struct Row {
    const char* name;
    TNode tree;
    Tri expected;
  };
  std::vector<Row> rows;
  auto add = [&](const char* name, TNode tree, Tri expected) {
    rows.push_back({name, std::move(tree), expected});
  };
  add("5 IN (1, NULL)", test::In(test::Int(5), test::Int(1), test::Null()), false);
  add("5 NOT IN (1, NULL)", test::NotIn(test::Int(5), test::Int(1), test::Null()), true);
  add("NULL IN (1, 2)", test::In(test::Null(), test::Int(1), test::Int(2)), std::nullopt);
  add("NULL NOT IN (1, 2)", test::NotIn(test::Null(), test::Int(1), test::Int(2)), std::nullopt);
  add("'a' IN ('A')", test::In(test::Str("a"), test::Str("A")), true);
  add("2 IN (1, 2.0)", test::In(test::Int(2), test::Int(1), test::Dbl(2.0)), true);
  add("2 NOT IN (2)", test::NotIn(test::Int(2), test::Int(2)), false);
  add("3 BETWEEN 1 AND NULL", test::Between(test::Int(3), test::Int(1), test::Null()),
      std::nullopt);
  add("3 BETWEEN 5 AND NULL", test::Between(test::Int(3), test::Int(5), test::Null()),
      std::nullopt);
  add("NULL BETWEEN 1 AND 2", test::Between(test::Null(), test::Int(1), test::Int(2)),
      std::nullopt);
  add("'b' BETWEEN 'A' AND 'C'", test::Between(test::Str("b"), test::Str("A"), test::Str("C")),
      true);
  add("5 BETWEEN 5 AND 5", test::Between(test::Int(5), test::Int(5), test::Int(5)), true);
  add("6 BETWEEN 1 AND 5", test::Between(test::Int(6), test::Int(1), test::Int(5)), false);
  add("6 NOT BETWEEN 1 AND 5", test::Between(test::Int(6), test::Int(1), test::Int(5), true), true);
  add("3 NOT BETWEEN NULL AND 5", test::Between(test::Int(3), test::Null(), test::Int(5), true),
      std::nullopt);
  add("NULL LIKE '%'", test::Like(test::Null(), test::Str("%")), true);
  add("NULL LIKE 'a%'", test::Like(test::Null(), test::Str("a%")), false);
  add("'x' LIKE NULL", test::Like(test::Str("x"), test::Null()), std::nullopt);
  add("'x' NOT LIKE NULL", test::Like(test::Str("x"), test::Null(), "", false, true), std::nullopt);
  add("'abc' LIKE 'a_c'", test::Like(test::Str("abc"), test::Str("a_c")), true);
  add("'abc' LIKE 'A%' (case-sensitive)", test::Like(test::Str("abc"), test::Str("A%")), false);
  add("'abc' LIKE 'A%' (case-insensitive)", test::Like(test::Str("abc"), test::Str("A%"), "", true),
      true);
  add("'abc' NOT LIKE 'a%'", test::Like(test::Str("abc"), test::Str("a%"), "", false, true), false);
  add("'a%b' LIKE 'a!%b' ESCAPE '!'", test::Like(test::Str("a%b"), test::Str("a!%b"), "!"), true);
  add("'axb' LIKE 'a!%b' ESCAPE '!'", test::Like(test::Str("axb"), test::Str("a!%b"), "!"), false);
  add("wide '\u03a9x' LIKE '\u03a9%'", test::Like(test::WStr(u"\u03a9x"), test::WStr(u"\u03a9%")),
      true);
  add("'ab' LIKE wide 'a%'", test::Like(test::Str("ab"), test::WStr(u"a%")), true);
  add("NULL IS NULL", test::IsNull(test::Null()), true);
  add("5 IS NULL", test::IsNull(test::Int(5)), false);
  add("NULL IS NOT NULL", test::IsNotNull(test::Null()), false);
  add("(NULL AND True) IS NULL", test::IsNull(test::And(test::Probe({}), test::Probe(true))), true);
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Eval(row.tree), row.expected);
  }
}

TEST(PredicateTest, Errors) {
  TNode like_numbers = test::Like(test::Int(5), test::Int(5));
  EXPECT_EQ(NativeErrorOf([&] { Eval(like_numbers); }), 30120);
  // EXISTS and a quantified comparison need a query.
  TNode exists = test::Nary(doEXISTS, test::Int(1));
  EXPECT_EQ(NativeErrorOf([&] { Eval(exists); }), 30117);
  TNode unknown = test::Nary(doTRUE, test::Int(1));
  EXPECT_EQ(NativeErrorOf([&] { Eval(unknown); }), 30116);
  TNode cmp_like = test::Cmp(doLIKE, test::Int(1), test::Int(1));
  EXPECT_EQ(NativeErrorOf([&] { Eval(cmp_like); }), 30117);
  TNode quantified = std::make_unique<TVEZExprNodeComparison>(doEQ, qALL, test::Int(1),
                                                              test::Int(1), true, false, false);
  EXPECT_EQ(NativeErrorOf([&] { Eval(quantified); }), 30117);
}

// ---------------------------------------------------------------------------
// Comparisons

// The filter TrialID = 5 on a record whose TrialID is NULL, and the other
// operators, under both NULL behaviours; then plain values, case and prefix.
TEST(ComparisonTest, NullBehaviourAndFlags) {
  test::TRecordVehicle rec({{"TrialID", aftInteger}, {"Name", aftString, 20}});
  struct Row {
    TVEZDataOperator op;
    bool three_valued;
    std::optional<std::int32_t> left;  // nullopt: the NULL column
    std::optional<std::int32_t> right;
    bool expected;
  };
  const Row rows[] = {
      {doEQ, true, {}, 5, false},  {doNE, true, {}, 5, false},  {doLT, true, {}, 5, false},
      {doGT, true, {}, 5, false},  {doEQ, true, {}, {}, false}, {doNE, true, 5, {}, false},
      {doEQ, false, {}, {}, true}, {doNE, false, {}, 5, true},  {doLT, false, {}, 5, true},
      {doLE, false, {}, 5, true},  {doGT, false, {}, 5, false}, {doGT, false, 5, {}, true},
      {doEQ, true, 5, 5, true},    {doNE, true, 5, 5, false},   {doLT, true, 4, 5, true},
      {doLE, true, 5, 5, true},    {doGE, true, 5, 5, true},    {doGT, true, 5, 5, false},
      {doGE, false, 4, 5, false},  {doNE, false, 4, 5, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(OperatorToText(row.op) + (row.three_valued ? " flag on" : " flag off") + " left " +
                 (row.left ? std::to_string(*row.left) : "NULL") + " right " +
                 (row.right ? std::to_string(*row.right) : "NULL"));
    if (row.left)
      rec.SetInt("TrialID", *row.left);
    else
      rec.SetNull("TrialID");
    TNode tree = test::Cmp(row.op, test::Field(&rec.cursor, "TrialID"),
                           row.right ? test::Int(*row.right) : test::Null(), row.three_valued);
    EXPECT_EQ(Eval(tree), Tri(row.expected));
  }
  rec.SetStr("Name", "Trial A");
  struct TextRow {
    const char* right;
    bool case_insensitive, partial;
    bool expected;
  };
  const TextRow text_rows[] = {{"trial a", false, false, false}, {"trial a", true, false, true},
                               {"Trial", false, true, true},     {"trial", true, true, true},
                               {"Trial", false, false, false},   {"Trial AB", false, true, false}};
  for (const TextRow& row : text_rows) {
    SCOPED_TRACE(std::string(row.right) + (row.case_insensitive ? " ci" : "") +
                 (row.partial ? " partial" : ""));
    TNode tree = test::Cmp(doEQ, test::Field(&rec.cursor, "Name"), test::Str(row.right), true,
                           row.case_insensitive, row.partial);
    EXPECT_EQ(Eval(tree), Tri(row.expected));
  }
}

// A wide literal meeting a single-byte column is made single-byte only when
// no character is lost; otherwise it stays wide and cannot match the '?' that
// a lossy conversion would have made of it.
TEST(ComparisonTest, WideConstantAgainstSingleByteColumn) {
  test::TRecordVehicle rec({{"S", aftString, 10}, {"W", aftWideString, 10}});
  rec.SetStr("S", "?");
  rec.SetWStr("W", u"\u03a9");
  struct Row {
    const char* name;
    const char* column;
    std::u16string literal;
    TVEZBaseFieldType type_after_binding;
    bool expected;
  };
  const Row rows[] = {
      {"S = wide '?'", "S", u"?", bftVarchar, true},
      {"S = wide Omega", "S", u"\u03a9", bftWideVarchar, false},
      {"S = wide 'caf\u00e9'", "S", u"caf\u00e9", bftVarchar, false},
      {"W = wide Omega", "W", u"\u03a9", bftWideVarchar, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TVEZExpression e(test::Cmp(doEQ, test::Field(nullptr, row.column), test::WStr(row.literal)));
    e.AssignCursor(&rec.cursor, nullptr, nullptr);
    EXPECT_EQ(e.Root()->Child(1)->Value.GetDataType(), row.type_after_binding);
    EXPECT_EQ(test::EvalBool(e), Tri(row.expected));
    // Re-binding per record keeps the answer.
    e.AssignCursorBuffer(rec.buffer, false);
    EXPECT_EQ(test::EvalBool(e), Tri(row.expected));
  }
  // The literal as the left operand is re-typed the same way.
  TVEZExpression e(test::Cmp(doEQ, test::WStr(u"?"), test::Field(nullptr, "S")));
  e.AssignCursor(&rec.cursor, nullptr, nullptr);
  EXPECT_EQ(e.Root()->Child(0)->Value.GetDataType(), bftVarchar);
}

// A numeric literal takes the column's type at binding only when that is the
// type the two would be compared in anyway; the answers stay the same.
TEST(ComparisonTest, NumericConstantAgainstColumn) {
  test::TRecordVehicle rec({{"MeasurementID", aftDouble}, {"I", aftInteger}});
  rec.SetDouble("MeasurementID", 12);
  rec.SetInt("I", 2);
  struct Row {
    const char* name;
    const char* column;
    TVEZDataOperator op;
    std::function<TNode()> literal;
    TVEZBaseFieldType type_after_binding;
    bool expected;
  };
  const Row rows[] = {
      {"MeasurementID = 12", "MeasurementID", doEQ, [] { return test::Int(12); }, bftDouble, true},
      {"MeasurementID < 13", "MeasurementID", doLT, [] { return test::Int(13); }, bftDouble, true},
      {"I = 2.5", "I", doEQ, [] { return test::Dbl(2.5); }, bftDouble, false},
      {"I < 2.5", "I", doLT, [] { return test::Dbl(2.5); }, bftDouble, true},
      {"I = 2 (Int64)", "I", doEQ, [] { return test::Int64(2); }, bftSignedInt64, true},
      {"I = NULL", "I", doEQ, [] { return test::Null(); }, bftUnknown, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TVEZExpression e(test::Cmp(row.op, test::Field(nullptr, row.column), row.literal()));
    e.AssignCursor(&rec.cursor, nullptr, nullptr);
    EXPECT_EQ(e.Root()->Child(1)->Value.GetDataType(), row.type_after_binding);
    EXPECT_EQ(test::EvalBool(e), Tri(row.expected));
  }
}

// Re-typing reads the type of the column a constant meets, so it needs the
// field bound; without a constant nothing is read.
TEST(ComparisonTest, RetypingNeedsTheFieldBound) {
  TNode with_constant = test::Cmp(doEQ, test::Field(nullptr, "I"), test::Int(1));
  EXPECT_EQ(NativeErrorOf([&] { with_constant->AdjustConstTypes(); }), 30284);
  TNode two_fields = test::Cmp(doEQ, test::Field(nullptr, "I"), test::Field(nullptr, "J"));
  EXPECT_EQ(NativeErrorOf([&] { two_fields->AdjustConstTypes(); }), 0);
  // Locate without a cursor builds the tree and leaves re-typing to the
  // binding.
  TVEZExpression e;
  e.ParseForLocate(nullptr, "I", platform::Variant::FromInteger(1), false, false);
  EXPECT_EQ(test::TreeText(e.Root()), "=(I,1)");
}

// ---------------------------------------------------------------------------
// Arithmetic

TEST(ArithmeticTest, Operators) {
  struct Row {
    const char* name;
    TNode tree;
    std::function<void(const TVEZVariant&)> check;
  };
  auto int32_is = [](std::int32_t expected) {
    return [expected](const TVEZVariant& v) {
      ASSERT_FALSE(v.GetIsNull());
      EXPECT_EQ(v.GetDataType(), bftSignedInt32);
      EXPECT_EQ(v.GetAsInteger(), expected);
    };
  };
  auto double_is = [](double expected) {
    return [expected](const TVEZVariant& v) {
      ASSERT_FALSE(v.GetIsNull());
      EXPECT_EQ(v.GetDataType(), bftDouble);
      EXPECT_EQ(v.GetAsDouble(), expected);
    };
  };
  auto is_null = [](const TVEZVariant& v) { EXPECT_TRUE(v.GetIsNull()); };
  std::vector<Row> rows;
  auto add = [&](const char* name, TNode tree, std::function<void(const TVEZVariant&)> check) {
    rows.push_back({name, std::move(tree), std::move(check)});
  };
  add("2147483647 + 1", test::Arith(doADD, test::Int(2147483647), test::Int(1)),
      int32_is(-2147483647 - 1));
  add("7 / 2", test::Arith(doDIV, test::Int(7), test::Int(2)), int32_is(3));
  add("-7 / 2", test::Arith(doDIV, test::Int(-7), test::Int(2)), int32_is(-3));
  add("7 / -2", test::Arith(doDIV, test::Int(7), test::Int(-2)), int32_is(-3));
  add("7 / 2.0", test::Arith(doDIV, test::Int(7), test::Dbl(2)), double_is(3.5));
  add("6 * 7", test::Arith(doMUL, test::Int(6), test::Int(7)), int32_is(42));
  add("65536 * 65536", test::Arith(doMUL, test::Int(65536), test::Int(65536)), int32_is(0));
  add("-(5)", test::Neg(test::Int(5)), int32_is(-5));
  add("1.5 + 2", test::Arith(doADD, test::Dbl(1.5), test::Int(2)), double_is(3.5));
  add("10 - 4 (10 + -(4))", test::Arith(doADD, test::Int(10), test::Neg(test::Int(4))),
      int32_is(6));
  add("NULL + 5", test::Arith(doADD, test::Null(), test::Int(5)), is_null);
  add("5 + NULL", test::Arith(doADD, test::Int(5), test::Null()), is_null);
  add("5 * NULL", test::Arith(doMUL, test::Int(5), test::Null()), is_null);
  add("NULL / 0", test::Arith(doDIV, test::Null(), test::Int(0)), is_null);
  add("-(NULL)", test::Neg(test::Null()), is_null);
  add("'ab' + NULL", test::Arith(doADD, test::Str("ab"), test::Null()),
      [](const TVEZVariant& v) { EXPECT_EQ(v.GetAsAnsiString(), "ab"); });
  add("'ab' + 'cd'", test::Arith(doADD, test::Str("ab"), test::Str("cd")),
      [](const TVEZVariant& v) { EXPECT_EQ(v.GetAsAnsiString(), "abcd"); });
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    // Twice: the value object is reused.
    row.check(*row.tree->GetDataValue());
    row.check(*row.tree->GetDataValue());
  }
  // a - b + c: one ADD whose middle child is the unary minus.
  auto sum = std::make_unique<TVEZExprNodeArithmetic>(doADD, test::Int(10), test::Neg(test::Int(3)),
                                                      false, false);
  sum->AddChild(test::Int(4));
  EXPECT_EQ(sum->GetDataValue()->GetAsInteger(), 11);
  EXPECT_EQ(test::TreeText(sum.get()), "+(10,-(3),4)");
}

TEST(ArithmeticTest, Errors) {
  TNode by_zero = test::Arith(doDIV, test::Int(1), test::Int(0));
  EXPECT_EQ(NativeErrorOf([&] { by_zero->GetDataValue(); }), 30128);
  TNode by_zero_double = test::Arith(doDIV, test::Dbl(1), test::Dbl(0));
  EXPECT_EQ(NativeErrorOf([&] { by_zero_double->GetDataValue(); }), 30128);
  TNode concat = test::Arith(doCONCAT, test::Str("a"), test::Str("b"));
  EXPECT_EQ(NativeErrorOf([&] { concat->GetDataValue(); }), 30121);
  EXPECT_EQ(NativeErrorOf([&] { concat->GetDataType(); }), 30121);
  TNode text_minus = test::Neg(test::Str("a"));
  EXPECT_EQ(NativeErrorOf([&] { text_minus->GetDataValue(); }), 30123);
}

// A function node raises its own code for an operator it does not know, and
// for a template function built without a template.
TEST(FunctionNodeTest, UnknownOperators) {
  struct Row {
    const char* name;
    TNode node;
    std::int32_t value_error;
    std::int32_t type_error;
  };
  std::vector<Row> rows;
  rows.push_back(
      {"arithmetic CONCAT", test::Arith(doCONCAT, test::Int(1), test::Int(2)), 30121, 30121});
  rows.push_back({"arithmetic ABS", test::Neg(test::Int(-1)), 0, 0});
  rows.back().node->Operator = doABS;
  rows.push_back({"arithmetic ROUND", test::Neg(test::Int(1)), 0, 0});
  rows.back().node->Operator = doROUND;
  rows.push_back({"date ADD", std::make_unique<TVEZExprNodeDateFunction>(doADD), 30130, 30287});
  rows.push_back({"date UPPER", std::make_unique<TVEZExprNodeDateFunction>(doUPPER), 30130, 30287});
  rows.push_back({"date TODATE without template",
                  std::make_unique<TVEZExprNodeDateFunction>(doTODATE), 30130, 30287});
  rows.push_back({"date TOSTRING without template",
                  std::make_unique<TVEZExprNodeDateFunction>(doTOSTRING), 30130, 0});
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(NativeErrorOf([&] { row.node->GetDataValue(); }), row.value_error);
    EXPECT_EQ(NativeErrorOf([&] { row.node->GetDataType(); }), row.type_error);
  }
}

}  // namespace
}  // namespace vez

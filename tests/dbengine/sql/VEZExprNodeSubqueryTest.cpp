// The subquery node as the parser makes it: where its query starts (command
// and token), where it leaves the lexer, the row-subquery entry point, and
// the clear error its evaluation gives until queries can run.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ExprTestSupport.h"
#include "dbengine/api/VEZQuery.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZLexer.h"
#include "dbengine/sql/VEZExprNodeSubquery.h"
#include "dbengine/sql/VEZExpression.h"
#include "dbengine/sql/VEZSQLSelect.h"
#include "tests/common/NativeError.h"

namespace vez {
namespace {

using test::NativeErrorOf;

std::string CurrentText(const TVEZLexer& lexer) {
  TToken token;
  return lexer.GetCurrentToken(token) ? token.Text : "<end>";
}

class SubqueryNodeTest : public ::testing::Test {
 protected:
  TVEZQuery query_;
};

TEST_F(SubqueryNodeTest, CreationRemembersWhereTheQueryStartsAndLeavesTheLexerAfterIt) {
  struct Row {
    const char* sql;
    int start_token;
    const char* left_on;
  };
  const Row rows[] = {
      {"x IN (SELECT b FROM u WHERE b > 1) AND y = 2", 3, ")"},
      {"x IN (SELECT b FROM u UNION SELECT c FROM v ORDER BY 1)", 3, ")"},
      {"EXISTS ((SELECT a FROM u) EXCEPT (SELECT a FROM v)) OR z", 2, ")"},
      {"SELECT a FROM u", 0, "<end>"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.sql);
    TVEZLexer lexer(row.sql, nullptr, false);
    lexer.GetNextCommand();
    lexer.SetCurrentTokenNo(row.start_token);
    TVEZExprNodeSubquery node(true, false, &query_, &lexer);
    EXPECT_EQ(node.Kind(), TVEZExprNodeKind::Subquery);
    EXPECT_EQ(node.FCommandNo, 0);
    EXPECT_EQ(node.FTokenNo, row.start_token);
    EXPECT_EQ(node.LLexer, &lexer);
    EXPECT_EQ(node.LDataset, &query_);
    EXPECT_TRUE(node.FMustHaveOneField);
    EXPECT_FALSE(node.FMustHaveOneRow);
    EXPECT_EQ(node.FSubquery, nullptr) << "the creation parse is not kept";
    EXPECT_FALSE(node.FCorrelated);
    EXPECT_EQ(node.ChildCount(), 0u);
    EXPECT_EQ(CurrentText(lexer), row.left_on);
  }
}

TEST_F(SubqueryNodeTest, TheCommandNumberIsTheLexersCurrentCommand) {
  TVEZLexer lexer("SELECT 1 FROM t; SELECT * FROM v WHERE EXISTS (SELECT * FROM w) AND k = 1",
                  nullptr, false);
  lexer.GetNextCommand();
  lexer.GetNextCommand();
  TVEZExpression where;
  lexer.SetCurrentTokenNo(5);
  where.ParseForBooleanExpression(&query_, &lexer);
  ASSERT_NE(where.Root(), nullptr);
  EXPECT_EQ(test::ShapeText(where.Root()), "AND(EXISTS(SUBQ[nf,nr]@7),=[3v](k,1:Int32))");
  const auto* subquery = static_cast<const TVEZExprNodeSubquery*>(where.Root()->Child(0)->Child(0));
  EXPECT_EQ(subquery->FCommandNo, 1);
  EXPECT_EQ(CurrentText(lexer), "<end>");
}

TEST_F(SubqueryNodeTest, AQueryReadBeforeIsNotParsedAgain) {
  // Given the end, the node takes the position without reading the tokens.
  TVEZLexer lexer("not a query at all", nullptr, false);
  lexer.GetNextCommand();
  TVEZExprNodeSubquery node(true, true, &query_, &lexer, 3);
  EXPECT_EQ(node.FTokenNo, 0);
  EXPECT_EQ(CurrentText(lexer), "at");
}

TEST_F(SubqueryNodeTest, AQueryThatDoesNotParseRaisesItsError) {
  struct Row {
    const char* sql;
    std::int32_t number;
  };
  const Row rows[] = {{"SELECT FROM u", 30160},
                      {"SELECT a FROM u JOIN", 30176},
                      {"SELECT a INTO b FROM u UNION SELECT c FROM v", 20272},
                      {"SELECT a FROM u WHERE x IN (SELECT ,)", 30160}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.sql);
    TVEZLexer lexer(row.sql, nullptr, false);
    lexer.GetNextCommand();
    EXPECT_EQ(NativeErrorOf([&] { TVEZExprNodeSubquery node(true, true, &query_, &lexer); }),
              row.number);
  }
}

TEST_F(SubqueryNodeTest, RunningIsNotBuiltYetAndSaysSo) {
  TVEZLexer lexer("SELECT a FROM u", nullptr, false);
  lexer.GetNextCommand();
  TVEZExprNodeSubquery node(true, true, &query_, &lexer);
  TVEZVariant value(bftSignedInt32);
  EXPECT_EQ(NativeErrorOf([&] { node.GetDataValue(); }), kErrorNotImplementedYet);
  EXPECT_EQ(NativeErrorOf([&] { node.ResetSubqueryFieldValues(); }), kErrorNotImplementedYet);
  EXPECT_EQ(NativeErrorOf([&] { node.Exists(); }), kErrorNotImplementedYet);
  EXPECT_EQ(NativeErrorOf([&] { node.IsValueIn(&value); }), kErrorNotImplementedYet);
  EXPECT_EQ(NativeErrorOf([&] { node.QuantifiedCompare(doGT, qALL, &value); }),
            kErrorNotImplementedYet);
  EXPECT_EQ(NativeErrorOf([&] { node.GetDataType(); }), kErrorNotImplementedYet);
  EXPECT_EQ(NativeErrorOf([&] { node.GetDataSize(); }), kErrorNotImplementedYet);
  EXPECT_EQ(NativeErrorOf([&] { node.CanBeAssigned(nullptr, nullptr, nullptr, false); }),
            kErrorNotImplementedYet);
  EXPECT_EQ(node.GetSubqueryFieldValue(0), nullptr);
  EXPECT_EQ(node.GetSubqueryFieldValue(-1), nullptr);
  std::uint8_t buffer[4] = {};
  node.AssignCursorBuffer(buffer, false);
  EXPECT_EQ(node.LCursorRecordBuffer, buffer);
}

TEST_F(SubqueryNodeTest, RowSubqueryEntryPoint) {
  {
    TVEZLexer lexer("(SELECT a, b FROM t) WHERE", nullptr, false);
    lexer.GetNextCommand();
    TVEZExpression e;
    e.ParseForRowSubqueryExpression(&query_, &lexer);
    EXPECT_EQ(test::ShapeText(e.Root()), "SUBQ[nf,nr]@1");
    EXPECT_EQ(CurrentText(lexer), "WHERE");
  }
  {
    TVEZLexer lexer("5 + a", nullptr, false);
    lexer.GetNextCommand();
    TVEZExpression e;
    e.ParseForRowSubqueryExpression(&query_, &lexer);
    EXPECT_EQ(e.Root(), nullptr);
    EXPECT_EQ(CurrentText(lexer), "5");
  }
  {
    TVEZLexer lexer("x", nullptr, false);
    lexer.GetNextCommand();
    lexer.SetCurrentTokenNo(1);
    TVEZExpression e;
    EXPECT_EQ(NativeErrorOf([&] { e.ParseForRowSubqueryExpression(&query_, &lexer); }), 30497);
  }
  {
    // Without the statement's query there is nothing to run it in.
    TVEZLexer lexer("(SELECT a FROM t)", nullptr, false);
    lexer.GetNextCommand();
    TVEZExpression e;
    EXPECT_EQ(NativeErrorOf([&] { e.ParseForRowSubqueryExpression(nullptr, &lexer); }),
              kErrorNotImplementedYet);
  }
}

}  // namespace
}  // namespace vez

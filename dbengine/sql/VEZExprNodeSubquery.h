// TVEZExprNodeSubquery: a nested query inside an expression: a scalar value,
// a row of values, the set behind EXISTS and IN, and the right side of a
// quantified comparison (ALL / ANY / SOME). The node keeps where its query
// text starts in the statement's lexer; each run parses the query again from
// there, so the node needs that lexer for its whole life.
//
// Creation parses the query once to find its end (the lexer is left after
// it) and keeps nothing of that parse. Each run parses the query again and
// executes it; the outer cursor reads the outer query's current record
// meanwhile. A query that cannot apply its conditions without the outer query
// is correlated and runs for every evaluation; any other runs once and its
// result is kept for the node's life (one statement execution).
//
// As SQL has it: a scalar query without a row gives NULL (two rows raise
// 20247, two columns 20246); ALL over no row holds, ANY over no row does not.
//
// Thread safety: none (see VEZExprNode.h).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dbengine/sql/VEZExprNode.h"
#include "dbengine/sql/VEZExprNodeComparison.h"

namespace platform {
class DataSet;
}  // namespace platform

namespace vez {

class TVEZLexer;
class TVEZQuery;
class TVEZSQLUnion;
class TVEZTable;

class TVEZExprNodeSubquery : public TVEZExprNode {
 public:
  // The query starts on the lexer's current token (a SELECT, or a
  // parenthesis opening a query expression); it is parsed to find its end
  // and the lexer is left on the first token after it. Parse errors pass on.
  // dataset (the statement's query) and lexer are borrowed.
  TVEZExprNodeSubquery(bool must_have_one_field, bool must_have_one_row, platform::DataSet* dataset,
                       TVEZLexer* lexer);
  // The same query read before from the same position: end_token_no is the
  // token after it, where the lexer is left without parsing again.
  TVEZExprNodeSubquery(bool must_have_one_field, bool must_have_one_row, platform::DataSet* dataset,
                       TVEZLexer* lexer, std::int32_t end_token_no);
  ~TVEZExprNodeSubquery() override;

  // The first row's first value (NULL without a row).
  TVEZVariant* GetDataValue() override;
  void ResetSubqueryFieldValues() override;
  // The row reader's value of field_no; null past the row's fields.
  TVEZVariant* GetSubqueryFieldValue(std::int32_t field_no) override;
  // The outer query's binding, kept for the runs.
  void AssignAO(TVEZAO* ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) override;
  void AssignCursor(TVEZCursor* cursor, TVEZAO* parent_query_ao,
                    TVEZCursor* parent_cursor) override;
  void AssignCursorBuffer(std::uint8_t* buffer, bool apply_to_parent_query_fields) override;
  // The query's first result column, from an operator tree built for the
  // question.
  TVEZAdvancedFieldType GetDataType() override;
  std::int32_t GetDataSize() override;
  bool CanBeAssigned(TVEZAO* ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor,
                     bool for_having_clause) override;
  // Whether ao (as the outer query) lets the query apply all its conditions.
  // The readers: a row exists; value is among the first column's values
  // (exact, case-sensitive; NULL never is); the quantified comparison of
  // value with the first column's values.
  bool Exists();
  bool IsValueIn(TVEZVariant* value);
  bool QuantifiedCompare(TVEZDataOperator op, TVEZQuantifier quantifier, TVEZVariant* value);

  // Checks made after each run.
  bool FMustHaveOneField = false;
  bool FMustHaveOneRow = false;
  // The scalar result.
  TVEZVariant FValue{bftUnknown};
  // The row result.
  std::vector<std::unique_ptr<TVEZVariant>> FFieldValues;
  // Borrowed: the statement's query dataset and lexer, the outer query's
  // operator, cursor and current record buffer.
  platform::DataSet* LDataset = nullptr;
  TVEZLexer* LLexer = nullptr;
  TVEZAO* LAO = nullptr;
  TVEZCursor* LCursor = nullptr;
  std::uint8_t* LCursorRecordBuffer = nullptr;
  // The parsed and executed query while one is kept.
  std::unique_ptr<TVEZSQLUnion> FSubquery;
  // Where the query's text starts in LLexer.
  std::int32_t FCommandNo = -1;
  std::int32_t FTokenNo = -1;
  // Borrowed: the value IN or a quantified comparison tests.
  TVEZVariant* LValueToCheck = nullptr;
  // The last IN test of an uncorrelated query and its answer.
  TVEZVariant FPriorValueToCheck{bftUnknown};
  bool FPriorResult = false;
  bool FPriorResultInitalized = false;
  TVEZDataOperator FCompareOperator = doUNDEFINED;
  TVEZQuantifier FCompareQuantifier = qUNDEFINED;
  // The query reads the outer query's record and runs again for each;
  // worked out at the first run.
  bool FCorrelated = false;
  bool FCorrelationKnown = false;

  // Executions of subqueries in this process, for tests.
  static std::int64_t ExecutionCount();

 private:
  TVEZQuery* Query() const;
  // Builds (and frees) the query's operator tree under parent_query_ao.
  std::unique_ptr<TVEZAO> BuildTree(TVEZAO* parent_query_ao, bool* all_conditions_applied);
  void EnsureCorrelationKnown();
  // Executes the query unless a kept result serves; the checks of the
  // node's kind; the result table.
  TVEZTable& Run();
  // Drops the result of a correlated query.
  void AfterRun();
};

}  // namespace vez

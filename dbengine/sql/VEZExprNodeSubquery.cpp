#include "dbengine/sql/VEZExprNodeSubquery.h"

#include "dbengine/api/VEZQuery.h"
#include "dbengine/foundation/VEZLexer.h"
#include "dbengine/sql/VEZSQLSelect.h"
#include "dbengine/storage/VEZCursor.h"

namespace vez {

TVEZExprNodeSubquery::TVEZExprNodeSubquery(bool must_have_one_field, bool must_have_one_row,
                                           platform::DataSet* dataset, TVEZLexer* lexer)
    : TVEZExprNode(true, false),
      FMustHaveOneField(must_have_one_field),
      FMustHaveOneRow(must_have_one_row),
      LDataset(dataset),
      LLexer(lexer) {
  FKind = TVEZExprNodeKind::Subquery;
  FCommandNo = lexer->CurrentCommandNo;
  FTokenNo = lexer->GetCurrentTokenNo();
  // Parsed only to find where the query ends; each run parses it again.
  TVEZSQLUnion query(lexer, dynamic_cast<TVEZQuery*>(dataset));
}

TVEZExprNodeSubquery::TVEZExprNodeSubquery(bool must_have_one_field, bool must_have_one_row,
                                           platform::DataSet* dataset, TVEZLexer* lexer,
                                           std::int32_t end_token_no)
    : TVEZExprNode(true, false),
      FMustHaveOneField(must_have_one_field),
      FMustHaveOneRow(must_have_one_row),
      LDataset(dataset),
      LLexer(lexer) {
  FKind = TVEZExprNodeKind::Subquery;
  FCommandNo = lexer->CurrentCommandNo;
  FTokenNo = lexer->GetCurrentTokenNo();
  lexer->SetCurrentTokenNo(end_token_no);
}

TVEZExprNodeSubquery::~TVEZExprNodeSubquery() = default;

TVEZVariant* TVEZExprNodeSubquery::GetDataValue() {
  RaiseNotImplementedYet("running a subquery");
}

void TVEZExprNodeSubquery::ResetSubqueryFieldValues() {
  RaiseNotImplementedYet("running a subquery");
}

TVEZVariant* TVEZExprNodeSubquery::GetSubqueryFieldValue(std::int32_t field_no) {
  if (field_no < 0 || static_cast<std::size_t>(field_no) >= FFieldValues.size()) return nullptr;
  return FFieldValues[static_cast<std::size_t>(field_no)].get();
}

void TVEZExprNodeSubquery::AssignAO(TVEZAO* ao, TVEZAO* /*parent_query_ao*/,
                                    TVEZCursor* /*parent_cursor*/) {
  LAO = ao;
}

void TVEZExprNodeSubquery::AssignCursor(TVEZCursor* cursor, TVEZAO* /*parent_query_ao*/,
                                        TVEZCursor* /*parent_cursor*/) {
  LCursor = cursor;
  LCursorRecordBuffer = cursor != nullptr ? cursor->CurrentRecordBuffer : nullptr;
}

void TVEZExprNodeSubquery::AssignCursorBuffer(std::uint8_t* buffer,
                                              bool /*apply_to_parent_query_fields*/) {
  LCursorRecordBuffer = buffer;
}

TVEZAdvancedFieldType TVEZExprNodeSubquery::GetDataType() {
  RaiseNotImplementedYet("the result type of a subquery");
}

std::int32_t TVEZExprNodeSubquery::GetDataSize() {
  RaiseNotImplementedYet("the result size of a subquery");
}

bool TVEZExprNodeSubquery::CanBeAssigned(TVEZAO*, TVEZAO*, TVEZCursor*, bool) {
  RaiseNotImplementedYet("binding a subquery to relational operators");
}

bool TVEZExprNodeSubquery::Exists() {
  RaiseNotImplementedYet("running a subquery");
}

bool TVEZExprNodeSubquery::IsValueIn(TVEZVariant* value) {
  LValueToCheck = value;
  RaiseNotImplementedYet("running a subquery");
}

bool TVEZExprNodeSubquery::QuantifiedCompare(TVEZDataOperator op, TVEZQuantifier quantifier,
                                             TVEZVariant* value) {
  FCompareOperator = op;
  FCompareQuantifier = quantifier;
  LValueToCheck = value;
  RaiseNotImplementedYet("running a subquery");
}

}  // namespace vez

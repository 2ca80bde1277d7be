#include "dbengine/sql/VEZExprNodeSubquery.h"

#include <memory>

#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/sql/VEZAO.h"
#include "dbengine/sql/VEZExpression.h"

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

// ---- running the query

namespace {

// Puts the lexer on the query's first token and back again.
class TLexerPosition {
 public:
  TLexerPosition(TVEZLexer* lexer, std::int32_t command_no, std::int32_t token_no)
      : FLexer(lexer), FCommandNo(lexer->CurrentCommandNo), FTokenNo(lexer->GetCurrentTokenNo()) {
    lexer->CurrentCommandNo = command_no;
    lexer->SetCurrentTokenNo(token_no);
  }
  ~TLexerPosition() {
    FLexer->CurrentCommandNo = FCommandNo;
    FLexer->SetCurrentTokenNo(FTokenNo);
  }
  TLexerPosition(const TLexerPosition&) = delete;
  TLexerPosition& operator=(const TLexerPosition&) = delete;

 private:
  TVEZLexer* FLexer;
  std::int32_t FCommandNo;
  std::int32_t FTokenNo;
};

// The outer cursor reads the record the outer query stands on while the
// query runs; its own record comes back on every path.
class TRecordBufferSwap {
 public:
  TRecordBufferSwap(TVEZCursor* cursor, std::uint8_t* buffer) : FCursor(cursor) {
    if (FCursor == nullptr) return;
    FSaved = FCursor->CurrentRecordBuffer;
    if (buffer != nullptr) FCursor->CurrentRecordBuffer = buffer;
  }
  ~TRecordBufferSwap() {
    if (FCursor != nullptr) FCursor->CurrentRecordBuffer = FSaved;
  }
  TRecordBufferSwap(const TRecordBufferSwap&) = delete;
  TRecordBufferSwap& operator=(const TRecordBufferSwap&) = delete;

 private:
  TVEZCursor* FCursor;
  std::uint8_t* FSaved = nullptr;
};

bool Satisfies(TVEZDataOperator op, TVEZCompareResult r) {
  switch (op) {
    case doEQ:
      return r == cmprEqual;
    case doNE:
      return r == cmprLower || r == cmprGreater;
    case doLT:
      return r == cmprLower;
    case doLE:
      return r == cmprLower || r == cmprEqual;
    case doGT:
      return r == cmprGreater;
    case doGE:
      return r == cmprGreater || r == cmprEqual;
    default:
      throw EVEZException(30117, "Unknown operator: '%s'", {OperatorToText(op)});
  }
}

std::int64_t g_execution_count = 0;

}  // namespace

std::int64_t TVEZExprNodeSubquery::ExecutionCount() {
  return g_execution_count;
}

TVEZQuery* TVEZExprNodeSubquery::Query() const {
  return dynamic_cast<TVEZQuery*>(LDataset);
}

std::unique_ptr<TVEZAO> TVEZExprNodeSubquery::BuildTree(TVEZAO* parent_query_ao,
                                                        bool* all_conditions_applied) {
  TLexerPosition position(LLexer, FCommandNo, FTokenNo);
  TVEZSQLUnion query(LLexer, Query());
  std::unique_ptr<TVEZAO> tree(query.BuildAOTree(Query(), true, parent_query_ao, nullptr, true));
  if (all_conditions_applied != nullptr) *all_conditions_applied = query.AllConditionsApplied();
  // The tree uses databases the statement holds: it goes first.
  tree.reset();
  return tree;
}

void TVEZExprNodeSubquery::EnsureCorrelationKnown() {
  if (FCorrelationKnown) return;
  FCorrelated = !CanBeAssigned(nullptr, nullptr, nullptr, false);
  FCorrelationKnown = true;
}

TVEZTable& TVEZExprNodeSubquery::Run() {
  EnsureCorrelationKnown();
  if (FCorrelated || !FSubquery) {
    FSubquery.reset();
    {
      TLexerPosition position(LLexer, FCommandNo, FTokenNo);
      FSubquery = std::make_unique<TVEZSQLUnion>(LLexer, Query());
    }
    TRecordBufferSwap swap(LCursor, LCursorRecordBuffer);
    bool read_only = true;
    ++g_execution_count;
    FSubquery->ExecSQL(Query(), true, true, read_only, LAO, LCursor);
    TVEZTable& result = *FSubquery->RootAO->ResultDataset();
    if (FMustHaveOneField && result.FieldCount() != 1) {
      throw EVEZException(20246,
                          "Subquery must have only one result field, but subquery's FieldCount=%d",
                          {result.FieldCount()});
    }
    if (FMustHaveOneRow) {
      // No row reads as NULL (as SQL has it); more than one is an error.
      result.First();
      if (!result.Eof()) {
        result.Next();
        if (!result.Eof()) throw EVEZException(20247, "Subquery must have only one row");
      }
    }
  }
  return *FSubquery->RootAO->ResultDataset();
}

void TVEZExprNodeSubquery::AfterRun() {
  // A correlated query runs again for the next outer record.
  if (FCorrelated) FSubquery.reset();
}

TVEZVariant* TVEZExprNodeSubquery::GetDataValue() {
  TVEZTable& result = Run();
  try {
    result.First();
    if (result.Eof() || result.FieldCount() == 0) {
      FValue.SetNull(bftUnknown);
    } else {
      result.GetFieldValue(FValue, 0, false);
    }
  } catch (...) {
    AfterRun();
    throw;
  }
  AfterRun();
  return &FValue;
}

void TVEZExprNodeSubquery::ResetSubqueryFieldValues() {
  TVEZTable& result = Run();
  try {
    const auto count = static_cast<std::size_t>(result.FieldCount());
    FFieldValues.resize(count);
    result.First();
    for (std::size_t i = 0; i < count; ++i) {
      if (!FFieldValues[i]) FFieldValues[i] = std::make_unique<TVEZVariant>(bftUnknown);
      if (result.Eof()) {
        FFieldValues[i]->SetNull(bftUnknown);
      } else {
        result.GetFieldValue(*FFieldValues[i], static_cast<std::int32_t>(i), false);
      }
    }
  } catch (...) {
    AfterRun();
    throw;
  }
  AfterRun();
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
  TLexerPosition position(LLexer, FCommandNo, FTokenNo);
  TVEZSQLUnion query(LLexer, Query());
  std::unique_ptr<TVEZAO> tree(query.BuildAOTree(Query(), true, nullptr, nullptr, true));
  return tree->GetFieldType(tree->GetFieldNoByVisibleNumber(0));
}

std::int32_t TVEZExprNodeSubquery::GetDataSize() {
  TLexerPosition position(LLexer, FCommandNo, FTokenNo);
  TVEZSQLUnion query(LLexer, Query());
  std::unique_ptr<TVEZAO> tree(query.BuildAOTree(Query(), true, nullptr, nullptr, true));
  return tree->GetFieldSize(tree->GetFieldNoByVisibleNumber(0));
}

bool TVEZExprNodeSubquery::CanBeAssigned(TVEZAO* ao, TVEZAO*, TVEZCursor*, bool) {
  bool applied = false;
  BuildTree(ao, &applied);
  return applied;
}

bool TVEZExprNodeSubquery::Exists() {
  TVEZTable& result = Run();
  bool found = false;
  try {
    result.First();
    found = !result.Eof();
  } catch (...) {
    AfterRun();
    throw;
  }
  AfterRun();
  return found;
}

bool TVEZExprNodeSubquery::IsValueIn(TVEZVariant* value) {
  LValueToCheck = value;
  EnsureCorrelationKnown();
  if (!FCorrelated && FPriorResultInitalized &&
      value->Compare(FPriorValueToCheck, false, false, false) == cmprEqual) {
    return FPriorResult;
  }
  TVEZTable& result = Run();
  bool found = false;
  try {
    if (!value->GetIsNull() && result.FieldCount() > 0) {
      TVEZVariant row_value;
      for (result.First(); !result.Eof() && !found; result.Next()) {
        result.GetFieldValue(row_value, 0, false);
        found = value->Compare(row_value, true, false, false) == cmprEqual;
      }
    }
  } catch (...) {
    AfterRun();
    throw;
  }
  AfterRun();
  if (!FCorrelated) {
    FPriorValueToCheck.Assign(*value, true);
    FPriorResult = found;
    FPriorResultInitalized = true;
  }
  return found;
}

bool TVEZExprNodeSubquery::QuantifiedCompare(TVEZDataOperator op, TVEZQuantifier quantifier,
                                             TVEZVariant* value) {
  FCompareOperator = op;
  FCompareQuantifier = quantifier;
  LValueToCheck = value;
  TVEZTable& result = Run();
  // ANY: some row satisfies the comparison (none over no row). ALL: no row
  // violates it, so ALL over no row holds.
  bool any_match = false;
  bool any_violation = false;
  try {
    TVEZVariant row_value;
    for (result.First(); !result.Eof(); result.Next()) {
      result.GetFieldValue(row_value, 0, false);
      const TVEZCompareResult r = value->Compare(row_value, true, false, false);
      if (Satisfies(op, r)) any_match = true;
      if (Satisfies(NegateComparison(op), r)) any_violation = true;
    }
  } catch (...) {
    AfterRun();
    throw;
  }
  AfterRun();
  return quantifier == qALL ? !any_violation : any_match;
}

}  // namespace vez

// What the storage engine needs of the SQL engine's expressions: column
// default expressions, record filters evaluated on record buffers, and the
// index scan protocol in which filters offer conditions to the table's
// indexes. The SQL engine's TVEZExpression derives from TVEZBaseExpression and
// registers a TVEZExpressionFactory at start-up; the storage engine never
// includes the SQL engine.
//
// Thread safety: an expression belongs to one owner (a field def, a cursor, a
// statement) and is used by one thread at a time. RegisterExpressionFactory
// is meant for start-up; ExpressionFactory may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZTypes.h"

namespace platform {
class Variant;
}

namespace vez {

class TVEZVariant;
class TVEZCursor;
class TVEZIndexDef;
class TVEZIndexDefs;
class TVEZScanSearchCondition;
class TVEZScanSearchConditionArray;
// Defined by the SQL engine: a relational operator of a query and a node of
// an expression tree. The storage engine only passes pointers to them along.
class TVEZAO;
class TVEZExprNode;

class TVEZBaseExpression {
 public:
  TVEZBaseExpression() = default;
  virtual ~TVEZBaseExpression() = default;
  TVEZBaseExpression(const TVEZBaseExpression&) = delete;
  TVEZBaseExpression& operator=(const TVEZBaseExpression&) = delete;

  // Parses text as one value expression. True only when the text is exactly
  // one expression with nothing left over; a parse error gives false and
  // raises nothing.
  virtual bool ParseForDefaultValueExpression(const std::string& text) = 0;

  // The cursor's dataset filter, Locate and record-match test. Each replaces
  // the tree and binds its field references to cursor at once (a column the
  // cursor lacks raises 30115). On an error the expression is left empty.
  // An expression of an engine without a parser raises 30058.
  //
  // Parses filter as one condition. Comparisons and LIKE get
  // case_insensitive; with partial_key a string constant ending in '*'
  // compares as a prefix without the '*'. Blank text raises 30119, text that
  // is no condition a parse error naming the token, and a token left after
  // the condition 20260.
  virtual void ParseForFilter(TVEZCursor* /*cursor*/, const std::string& /*filter*/,
                              bool /*case_insensitive*/, bool /*partial_key*/) {
    RaiseNoParser();
  }
  // The AND, in name order, of field = value for the ';'-separated
  // field_names and key_values: an array with one element per name, or one
  // value for one name (another count raises 30112). The comparisons take
  // the two flags and order NULL below every value (a NULL key finds a NULL
  // column); a number given for a date or time column is read as a
  // date-time.
  virtual void ParseForLocate(TVEZCursor* /*cursor*/, const std::string& /*field_names*/,
                              const platform::Variant& /*key_values*/, bool /*case_insensitive*/,
                              bool /*partial_key*/) {
    RaiseNoParser();
  }
  // field_name data_operator value (a copy), NULL ordering below every value.
  virtual void ParseForIsAnyRecordMatchCondition(TVEZCursor* /*cursor*/,
                                                 const std::string& /*field_name*/,
                                                 TVEZDataOperator /*data_operator*/,
                                                 const TVEZVariant& /*value*/) {
    RaiseNoParser();
  }

  // Evaluates the expression. The value stays owned by the expression (the
  // caller may convert it in place) until the next evaluation or destruction.
  // With true_false_null_logic false a NULL result becomes Boolean false.
  // Null when the expression has no root.
  virtual TVEZVariant* GetValue(bool true_false_null_logic) = 0;

  // Boolean value of GetValue(false) on the bound record. Raises 30110 "Value
  // is Null" when there is no root.
  virtual bool GetResult() = 0;

  // True when nothing is left to test: no root, or a Boolean root without
  // children (for example while the scan protocol has taken its nodes out).
  virtual bool IsEmpty() const = 0;

  // Binds every field reference to cursor's current record (and, for a
  // correlated subquery, to the parent operator and cursor), then prepares
  // the expression again.
  virtual void AssignCursor(TVEZCursor* cursor, TVEZAO* parent_query_ao,
                            TVEZCursor* parent_cursor) = 0;

  // Binds every field reference to a raw record buffer of the table (the
  // storage engine passes apply_to_parent_query_fields false); GetResult then
  // tests that buffer. REQUIRES: buffer stays valid while it is bound.
  virtual void AssignCursorBuffer(std::uint8_t* buffer, bool apply_to_parent_query_fields) = 0;

  // Index scan protocol (one scan; see TVEZScanSearchConditionArray).
  // Appends to conditions the index conditions (created from expression,
  // remembering their expression and node) that indexes of index_defs can
  // serve for the comparisons and IS [NOT] NULL tests of the top AND level.
  virtual void CreateIndexScanConditions(const TVEZIndexDefs& index_defs,
                                         TVEZScanSearchConditionArray& conditions,
                                         std::int32_t session_id) = 0;
  // Adds the next key column of index_def to condition from one node of this
  // expression; true when it did.
  virtual bool ExtendMultiFieldIndexCondition(TVEZScanSearchCondition& condition,
                                              const TVEZIndexDef& index_def) = 0;
  // Takes out of the tree (without freeing) the nodes from which the two
  // chosen conditions were made, so that the expression no longer tests what
  // the index range guarantees. Numbers outside 0 to Count - 1 choose
  // nothing.
  virtual void RemoveExtractedNodes(const TVEZScanSearchConditionArray& conditions,
                                    std::int32_t scan_condition_no,
                                    std::int32_t scan_end_condition_no) = 0;
  // Puts a node taken out by RemoveExtractedNodes back: appended to the root's
  // children, or made the root when the expression has none.
  virtual void AddNode(TVEZExprNode* node) = 0;

 private:
  [[noreturn]] static void RaiseNoParser() { throw EVEZException(30058, "Not implemented yet"); }
};

// Made by the SQL engine, registered once at start-up.
class TVEZExpressionFactory {
 public:
  virtual ~TVEZExpressionFactory() = default;

  // A new empty expression: no root, case-insensitive and partial-key
  // comparison off, three-valued logic on.
  virtual std::unique_ptr<TVEZBaseExpression> CreateExpression() = 0;

  // True only when value is a non-empty, non-NULL string that parses as one
  // expression referring to no field and evaluating to a value, and that
  // expression either calls a function whose value is not fixed when it is
  // parsed (the current date or time, a random number, the last
  // autoincrement value, the row number) or is one quoted string (the form
  // in which string defaults are stored). Every other default is a literal.
  // Raises nothing.
  virtual bool IsDefaultValueExpression(const TVEZVariant& value) = 0;
};

// Registers the SQL engine's factory (nullptr unregisters). The factory must
// outlive every later call of ExpressionFactory.
void RegisterExpressionFactory(TVEZExpressionFactory* factory);
// The registered factory, or null when no SQL engine is linked in.
TVEZExpressionFactory* ExpressionFactory();

}  // namespace vez

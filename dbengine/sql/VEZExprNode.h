// TVEZExprNode: one node of an expression tree. Every expression the engine
// evaluates (filters, locates, record-match tests, column defaults, statement
// clauses) is a tree of these, owned by a TVEZExpression. A node owns its
// children and a value object that each evaluation overwrites: a value a node
// returns belongs to the node and is valid until its next evaluation, so a
// caller copies what it keeps.
//
// The virtual operations below keep the order of the engine's node contract;
// the base gives their default behaviour (forwarding to the children, or a
// neutral answer). Node classes replace what they compute.
//
// Thread safety: none. A tree carries its evaluation state (values, bindings)
// and is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/foundation/VEZVariant.h"

namespace vez {

class TVEZAO;
class TVEZCursor;
class TVEZExpression;
class TVEZIndexDef;
class TVEZScanSearchCondition;
class TVEZScanSearchConditionArray;
class TVEZSelectListItem;

// Raised for the parts of the SQL engine whose other side is not built yet
// (operator binding, subqueries, memo columns); the text names the feature.
inline constexpr std::int32_t kErrorNotImplementedYet = 30058;
[[noreturn]] void RaiseNotImplementedYet(const std::string& what);

// The class of a node, so that the tree operations can test a node's kind
// without a dynamic cast on every record.
enum class TVEZExprNodeKind : std::uint8_t {
  Generic,
  Field,
  Const,
  Comparison,
  Boolean,
  Aggregated,
  Subquery,
  Arithmetic,
  StringFunction,
  Cast,
  Case,
  Blob,
  DateFunction,
  System
};

class TVEZExprNode {
 public:
  using TNodePtr = std::unique_ptr<TVEZExprNode>;

  // No operator (doUNDEFINED), a NULL value of bftUnknown, no children.
  TVEZExprNode(bool case_insensitive, bool partial_key);
  TVEZExprNode(TVEZDataOperator op, bool case_insensitive, bool partial_key);
  // The nodes become the children in the order given.
  TVEZExprNode(TVEZDataOperator op, TNodePtr node, bool case_insensitive, bool partial_key);
  TVEZExprNode(TVEZDataOperator op, TNodePtr node1, TNodePtr node2, bool case_insensitive,
               bool partial_key);
  TVEZExprNode(TVEZDataOperator op, TNodePtr node1, TNodePtr node2, TNodePtr node3,
               bool case_insensitive, bool partial_key);
  // Frees every child and the value.
  virtual ~TVEZExprNode();
  TVEZExprNode(const TVEZExprNode&) = delete;
  TVEZExprNode& operator=(const TVEZExprNode&) = delete;

  TVEZExprNodeKind Kind() const { return FKind; }

  // ---- Virtual operations, in the order of the node contract.

  // Re-types constants against the fields they meet; runs after every
  // binding. Base: every child's.
  virtual void AdjustConstTypes();
  // Evaluates the node for the bound record and returns its value object
  // (owned by the node, overwritten by the next evaluation).
  virtual TVEZVariant* GetDataValue() = 0;
  // Base: nothing.
  virtual void ResetSubqueryFieldValues();
  // Base: null.
  virtual TVEZVariant* GetSubqueryFieldValue(std::int32_t field_no);
  // Base: true as soon as a child (null entries skipped) is aggregated.
  virtual bool IsAggregated();
  // Base: false.
  virtual bool IsAggregatedCountAll();
  // Base: every child's.
  virtual void Init();
  virtual void Accumulate();
  // Base: nothing.
  virtual void SetCountAll(std::int32_t record_count);
  // Binding to a relational operator, a cursor or a raw record buffer. Base:
  // forwarded to every child. Buffers and cursors are borrowed and must
  // outlive their use by the tree.
  virtual void AssignAO(TVEZAO* ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor);
  virtual void AssignCursor(TVEZCursor* cursor, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor);
  virtual void AssignCursorBuffer(std::uint8_t* buffer, bool apply_to_parent_query_fields);
  // Base: the children's types folded left to right with GetCommonAdvancedType
  // (not for comparison); no children or no common type raises 30283.
  virtual TVEZAdvancedFieldType GetDataType();
  // Base: 0, except the sum of the children's sizes for doADD, doCONCAT and
  // doCAST when the node's own type is a string type.
  virtual std::int32_t GetDataSize();
  // Base: 0.
  virtual std::int32_t GetPrecision();
  // Base: true when every child answers true (true without children).
  virtual bool CanBeAssigned(TVEZAO* ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor,
                             bool for_having_clause);
  // Index scan side. Base: false / nothing.
  virtual bool CanUseIndex(std::int32_t index_column_no,
                           TVEZSearchCondition condition_search_operator,
                           const TVEZIndexDef& index_def, std::int32_t session_id);
  virtual void AddAsIndexScanCondition(TVEZScanSearchConditionArray& scan_conditions,
                                       const TVEZIndexDef& index_def, TVEZExpression* expression);
  virtual void ExtendIndexScanCondition(TVEZScanSearchCondition& scan_condition,
                                        const TVEZIndexDef& index_def, TVEZExpression* expression);
  // Base: false.
  virtual bool IsJoinCondition(TVEZAO* ao1, TVEZAO* ao2);
  // Base: forwarded to every child.
  virtual void ReplacePseudonyms(const std::vector<TVEZSelectListItem>& select_list);
  // Base: true when every child answers true (true without children).
  virtual bool CanBeUsedInGroupBy(const std::string& group_by_fields);

  // ---- Tests of the index scan and join code.

  // A field node that is not an outer-query reference, or UPPER / LOWER over
  // one.
  static bool CanUseNodeAsField(const TVEZExprNode* node);
  // A constant, or an outer-query field reference (fixed while the inner
  // query runs).
  static bool CanUseNodeAsConst(const TVEZExprNode* node);

  // Writes value (converted in place) into column field_no of the
  // condition's key buffer through cursor's SetFieldValue, counts the key
  // column and records (expression, this node) as the pair that gave it.
  void AddScanKeyValue(TVEZVariant& value, TVEZCursor* cursor,
                       TVEZScanSearchCondition& scan_condition, TVEZExpression* expression,
                       std::int32_t field_no);

  // Appends node (taking it over).
  void AddChild(TNodePtr node);
  // The child at index; null for an empty entry. REQUIRES: index in range.
  TVEZExprNode* Child(std::size_t index) const { return Children[index].get(); }
  std::size_t ChildCount() const { return Children.size(); }

  // The operands, in order; owned. An entry may be null.
  std::vector<TNodePtr> Children;
  TVEZDataOperator Operator = doUNDEFINED;
  // The node's result holder.
  TVEZVariant Value{bftUnknown};
  // Comparison options of the nodes that compare strings.
  bool FCaseInsensitive = false;
  bool FPartialKey = false;

 protected:
  TVEZExprNodeKind FKind = TVEZExprNodeKind::Generic;
};

// Stores b in value as a Boolean (bftLogical), whatever value held before.
void SetBooleanValue(TVEZVariant& value, bool b);
// Makes dest an owned copy of source (type, size, null flag, data), reusing
// dest's block when the sizes agree.
void CopyValue(TVEZVariant& dest, const TVEZVariant& source);

}  // namespace vez

#include "dbengine/sql/VEZExprNode.h"

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/sql/VEZExprNodeField.h"
#include "platform/core/CheckedMath.h"

namespace vez {

void RaiseNotImplementedYet(const std::string& what) {
  throw EVEZException(kErrorNotImplementedYet, "Not implemented yet: %s", {what});
}

void SetBooleanValue(TVEZVariant& value, bool b) {
  // A value of another type would store the Boolean into that type.
  if (value.GetDataType() != bftLogical) value.Clear(bftLogical);
  value.SetAsBoolean(b);
}

void CopyValue(TVEZVariant& dest, const TVEZVariant& source) {
  if (&dest == &source) return;
  if (source.GetIsNull()) {
    dest.SetNull(source.GetDataType());
    return;
  }
  dest.SetData(source.GetPData(), source.GetDataSize(), source.GetDataType(), true);
}

// ---------------------------------------------------------------------------
// Construction

TVEZExprNode::TVEZExprNode(bool case_insensitive, bool partial_key)
    : FCaseInsensitive(case_insensitive), FPartialKey(partial_key) {}

TVEZExprNode::TVEZExprNode(TVEZDataOperator op, bool case_insensitive, bool partial_key)
    : Operator(op), FCaseInsensitive(case_insensitive), FPartialKey(partial_key) {}

TVEZExprNode::TVEZExprNode(TVEZDataOperator op, TNodePtr node, bool case_insensitive,
                           bool partial_key)
    : TVEZExprNode(op, case_insensitive, partial_key) {
  AddChild(std::move(node));
}

TVEZExprNode::TVEZExprNode(TVEZDataOperator op, TNodePtr node1, TNodePtr node2,
                           bool case_insensitive, bool partial_key)
    : TVEZExprNode(op, case_insensitive, partial_key) {
  Children.reserve(2);
  AddChild(std::move(node1));
  AddChild(std::move(node2));
}

TVEZExprNode::TVEZExprNode(TVEZDataOperator op, TNodePtr node1, TNodePtr node2, TNodePtr node3,
                           bool case_insensitive, bool partial_key)
    : TVEZExprNode(op, case_insensitive, partial_key) {
  Children.reserve(3);
  AddChild(std::move(node1));
  AddChild(std::move(node2));
  AddChild(std::move(node3));
}

TVEZExprNode::~TVEZExprNode() = default;

void TVEZExprNode::AddChild(TNodePtr node) {
  Children.push_back(std::move(node));
}

// ---------------------------------------------------------------------------
// Base behaviour of the virtual operations

void TVEZExprNode::AdjustConstTypes() {
  for (const TNodePtr& child : Children)
    if (child) child->AdjustConstTypes();
}

void TVEZExprNode::ResetSubqueryFieldValues() {}

TVEZVariant* TVEZExprNode::GetSubqueryFieldValue(std::int32_t /*field_no*/) {
  return nullptr;
}

bool TVEZExprNode::IsAggregated() {
  for (const TNodePtr& child : Children)
    if (child && child->IsAggregated()) return true;
  return false;
}

bool TVEZExprNode::IsAggregatedCountAll() {
  return false;
}

void TVEZExprNode::Init() {
  for (const TNodePtr& child : Children)
    if (child) child->Init();
}

void TVEZExprNode::Accumulate() {
  for (const TNodePtr& child : Children)
    if (child) child->Accumulate();
}

void TVEZExprNode::SetCountAll(std::int32_t /*record_count*/) {}

void TVEZExprNode::AssignAO(TVEZAO* ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) {
  for (const TNodePtr& child : Children)
    if (child) child->AssignAO(ao, parent_query_ao, parent_cursor);
}

void TVEZExprNode::AssignCursor(TVEZCursor* cursor, TVEZAO* parent_query_ao,
                                TVEZCursor* parent_cursor) {
  for (const TNodePtr& child : Children)
    if (child) child->AssignCursor(cursor, parent_query_ao, parent_cursor);
}

void TVEZExprNode::AssignCursorBuffer(std::uint8_t* buffer, bool apply_to_parent_query_fields) {
  for (const TNodePtr& child : Children)
    if (child) child->AssignCursorBuffer(buffer, apply_to_parent_query_fields);
}

TVEZAdvancedFieldType TVEZExprNode::GetDataType() {
  TVEZAdvancedFieldType type = aftUnknown;
  bool first = true;
  for (const TNodePtr& child : Children) {
    if (!child) continue;
    const TVEZAdvancedFieldType child_type = child->GetDataType();
    type = first ? child_type : GetCommonAdvancedType(type, child_type, false);
    first = false;
  }
  if (type == aftUnknown) throw EVEZException(30283, "Cannot determine expression type");
  return type;
}

std::int32_t TVEZExprNode::GetDataSize() {
  if (Operator != doADD && Operator != doCONCAT && Operator != doCAST) return 0;
  if (!IsStringBaseFieldType(AdvancedTypeToBaseType(GetDataType()))) return 0;
  std::int32_t size = 0;
  for (const TNodePtr& child : Children)
    if (child) size = platform::CheckedAdd(size, child->GetDataSize());
  return size;
}

std::int32_t TVEZExprNode::GetPrecision() {
  return 0;
}

bool TVEZExprNode::CanBeAssigned(TVEZAO* ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor,
                                 bool for_having_clause) {
  for (const TNodePtr& child : Children)
    if (child && !child->CanBeAssigned(ao, parent_query_ao, parent_cursor, for_having_clause))
      return false;
  return true;
}

bool TVEZExprNode::CanUseIndex(std::int32_t /*index_column_no*/,
                               TVEZSearchCondition /*condition_search_operator*/,
                               const TVEZIndexDef& /*index_def*/, std::int32_t /*session_id*/) {
  return false;
}

void TVEZExprNode::AddAsIndexScanCondition(TVEZScanSearchConditionArray& /*scan_conditions*/,
                                           const TVEZIndexDef& /*index_def*/,
                                           TVEZExpression* /*expression*/) {}

void TVEZExprNode::ExtendIndexScanCondition(TVEZScanSearchCondition& /*scan_condition*/,
                                            const TVEZIndexDef& /*index_def*/,
                                            TVEZExpression* /*expression*/) {}

bool TVEZExprNode::IsJoinCondition(TVEZAO* /*ao1*/, TVEZAO* /*ao2*/) {
  return false;
}

void TVEZExprNode::ReplacePseudonyms(const std::vector<TVEZSelectListItem>& select_list) {
  for (const TNodePtr& child : Children)
    if (child) child->ReplacePseudonyms(select_list);
}

bool TVEZExprNode::CanBeUsedInGroupBy(const std::string& group_by_fields) {
  for (const TNodePtr& child : Children)
    if (child && !child->CanBeUsedInGroupBy(group_by_fields)) return false;
  return true;
}

// ---------------------------------------------------------------------------
// Node tests

bool TVEZExprNode::CanUseNodeAsField(const TVEZExprNode* node) {
  if (node == nullptr) return false;
  if (node->Kind() == TVEZExprNodeKind::Field)
    return !static_cast<const TVEZExprNodeField*>(node)->FGetFromParent;
  if (node->Kind() == TVEZExprNodeKind::StringFunction &&
      (node->Operator == doUPPER || node->Operator == doLOWER) && !node->Children.empty()) {
    const TVEZExprNode* operand = node->Children[0].get();
    return operand != nullptr && operand->Kind() == TVEZExprNodeKind::Field &&
           !static_cast<const TVEZExprNodeField*>(operand)->FGetFromParent;
  }
  return false;
}

bool TVEZExprNode::CanUseNodeAsConst(const TVEZExprNode* node) {
  if (node == nullptr) return false;
  if (node->Kind() == TVEZExprNodeKind::Const) return true;
  return node->Kind() == TVEZExprNodeKind::Field &&
         static_cast<const TVEZExprNodeField*>(node)->FGetFromParent;
}

}  // namespace vez

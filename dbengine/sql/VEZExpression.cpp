#include "dbengine/sql/VEZExpression.h"

#include <algorithm>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/sql/VEZExprNodeBoolean.h"
#include "dbengine/sql/VEZExprNodeField.h"
#include "dbengine/storage/VEZIndexDef.h"
#include "dbengine/storage/VEZScanSearchCondition.h"
#include "platform/core/Collation.h"

namespace vez {

TVEZExpression::TVEZExpression() = default;

TVEZExpression::TVEZExpression(std::unique_ptr<TVEZExprNode> root)
    : FRootExprNode(std::move(root)) {}

TVEZExpression::~TVEZExpression() = default;

void TVEZExpression::SetRoot(std::unique_ptr<TVEZExprNode> root) {
  FRootExprNode = std::move(root);
}

std::unique_ptr<TVEZExprNode> TVEZExpression::ReleaseRoot() {
  return std::move(FRootExprNode);
}

// ---------------------------------------------------------------------------
// The storage engine's seam

TVEZVariant* TVEZExpression::GetValue(bool true_false_null_logic) {
  if (!FRootExprNode) return nullptr;
  TVEZVariant* value = FRootExprNode->GetDataValue();
  if (value->GetIsNull() && !true_false_null_logic) SetBooleanValue(*value, false);
  return value;
}

bool TVEZExpression::GetResult() {
  if (!FRootExprNode) throw EVEZException(30110, "Value is Null");
  return GetValue(false)->GetAsBoolean();
}

bool TVEZExpression::IsEmpty() const {
  return !FRootExprNode ||
         (FRootExprNode->Kind() == TVEZExprNodeKind::Boolean && FRootExprNode->Children.empty());
}

void TVEZExpression::AssignCursor(TVEZCursor* cursor, TVEZAO* parent_query_ao,
                                  TVEZCursor* parent_cursor) {
  if (!FRootExprNode) return;
  FRootExprNode->AssignCursor(cursor, parent_query_ao, parent_cursor);
  FRootExprNode->AdjustConstTypes();
}

void TVEZExpression::AssignCursorBuffer(std::uint8_t* buffer, bool apply_to_parent_query_fields) {
  if (!FRootExprNode) return;
  FRootExprNode->AssignCursorBuffer(buffer, apply_to_parent_query_fields);
  FRootExprNode->AdjustConstTypes();
}

namespace {

// The nodes of the top AND level that may give index conditions, in order:
// comparisons and IS [NOT] NULL tests of the root and of ANDs under ANDs.
template <typename Visit>
bool VisitScanNodes(TVEZExprNode* node, const Visit& visit) {
  if (node == nullptr) return false;
  if (node->Kind() == TVEZExprNodeKind::Comparison ||
      (node->Kind() == TVEZExprNodeKind::Boolean &&
       (node->Operator == doISNULL || node->Operator == doISNOTNULL)))
    return visit(node);
  if (node->Kind() == TVEZExprNodeKind::Boolean && node->Operator == doAND) {
    for (const auto& child : node->Children)
      if (VisitScanNodes(child.get(), visit)) return true;
  }
  return false;
}

}  // namespace

void TVEZExpression::CreateIndexScanConditions(const TVEZIndexDefs& index_defs,
                                               TVEZScanSearchConditionArray& conditions,
                                               std::int32_t session_id) {
  VisitScanNodes(FRootExprNode.get(), [&](TVEZExprNode* node) {
    TryCreateIndexScanConditionsFromNode(node, index_defs, conditions, session_id);
    return false;
  });
}

void TVEZExpression::TryCreateIndexScanConditionsFromNode(TVEZExprNode* node,
                                                          const TVEZIndexDefs& index_defs,
                                                          TVEZScanSearchConditionArray& conditions,
                                                          std::int32_t session_id) {
  for (std::int32_t i = 0; i < index_defs.Count(); ++i) {
    const TVEZIndexDef* index_def = index_defs.GetIndexDef(i);
    if (index_def != nullptr && node->CanUseIndex(0, scNone, *index_def, session_id))
      node->AddAsIndexScanCondition(conditions, *index_def, this);
  }
}

bool TVEZExpression::ExtendMultiFieldIndexCondition(TVEZScanSearchCondition& condition,
                                                    const TVEZIndexDef& index_def) {
  return VisitScanNodes(FRootExprNode.get(), [&](TVEZExprNode* node) {
    return ExtendMultiFieldIndexConditionFromNode(node, condition, index_def);
  });
}

bool TVEZExpression::ExtendMultiFieldIndexConditionFromNode(TVEZExprNode* node,
                                                            TVEZScanSearchCondition& condition,
                                                            const TVEZIndexDef& index_def) {
  if (condition.KeyFieldCount >= index_def.ColumnCount()) return false;
  if (!node->CanUseIndex(condition.KeyFieldCount, condition.Condition, index_def, -1)) return false;
  node->ExtendIndexScanCondition(condition, index_def, this);
  return true;
}

void TVEZExpression::RemoveExtractedNodes(const TVEZScanSearchConditionArray& conditions,
                                          std::int32_t scan_condition_no,
                                          std::int32_t scan_end_condition_no) {
  for (const std::int32_t no : {scan_condition_no, scan_end_condition_no}) {
    if (no < 0 || no >= conditions.Count()) continue;
    const TVEZScanSearchCondition& condition = *conditions.Items(no);
    const std::size_t pairs =
        std::min(condition.ParentExpressions.size(), condition.ParentExpressionNodes.size());
    for (std::size_t p = 0; p < pairs; ++p) {
      if (condition.ParentExpressions[p] != this || !FRootExprNode) continue;
      TVEZExprNode* node = condition.ParentExpressionNodes[p];
      if (node == FRootExprNode.get()) {
        // Out of the tree, not freed: the condition's list refers to it until
        // the scan puts it back.
        (void)FRootExprNode.release();
        FExtractedNodes.push_back(node);
        continue;
      }
      auto& children = FRootExprNode->Children;
      auto it = std::find_if(children.begin(), children.end(),
                             [node](const auto& child) { return child.get() == node; });
      if (it == children.end()) continue;
      (void)it->release();
      children.erase(it);
      FExtractedNodes.push_back(node);
    }
  }
}

namespace {

bool IsInTree(const TVEZExprNode* root, const TVEZExprNode* node) {
  if (root == nullptr) return false;
  if (root == node) return true;
  return std::any_of(root->Children.begin(), root->Children.end(),
                     [node](const auto& child) { return IsInTree(child.get(), node); });
}

}  // namespace

void TVEZExpression::AddNode(TVEZExprNode* node) {
  if (node == nullptr) return;
  auto extracted = std::find(FExtractedNodes.begin(), FExtractedNodes.end(), node);
  if (extracted != FExtractedNodes.end()) {
    FExtractedNodes.erase(extracted);
  } else if (IsInTree(FRootExprNode.get(), node)) {
    // A node that was never taken out (under a nested AND, or listed by two
    // chosen conditions) is owned by the tree already: adopting it again
    // would free it twice.
    return;
  }
  std::unique_ptr<TVEZExprNode> owned(node);
  if (!FRootExprNode)
    FRootExprNode = std::move(owned);
  else
    FRootExprNode->AddChild(std::move(owned));
}

// ---------------------------------------------------------------------------
// Binding and evaluation

void TVEZExpression::AssignAO(TVEZAO* ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) {
  if (!FRootExprNode) return;
  FRootExprNode->AssignAO(ao, parent_query_ao, parent_cursor);
  FRootExprNode->AdjustConstTypes();
}

void TVEZExpression::ResetSubqueryFieldValues() {
  if (FRootExprNode) FRootExprNode->ResetSubqueryFieldValues();
}

TVEZVariant* TVEZExpression::GetSubqueryFieldValue(std::int32_t field_no) {
  return FRootExprNode ? FRootExprNode->GetSubqueryFieldValue(field_no) : nullptr;
}

bool TVEZExpression::IsAggregated() {
  return FRootExprNode && FRootExprNode->IsAggregated();
}

bool TVEZExpression::IsAggregatedCountAll() {
  return FRootExprNode && FRootExprNode->IsAggregatedCountAll();
}

void TVEZExpression::Init() {
  if (FRootExprNode) FRootExprNode->Init();
}

void TVEZExpression::Accumulate() {
  if (FRootExprNode) FRootExprNode->Accumulate();
}

void TVEZExpression::SetCountAll(std::int32_t record_count) {
  if (FRootExprNode) FRootExprNode->SetCountAll(record_count);
}

TVEZAdvancedFieldType TVEZExpression::GetDataType() {
  return FRootExprNode ? FRootExprNode->GetDataType() : aftUnknown;
}

std::int32_t TVEZExpression::GetDataSize() {
  return FRootExprNode ? FRootExprNode->GetDataSize() : 0;
}

std::int32_t TVEZExpression::GetPrecision() {
  return FRootExprNode ? FRootExprNode->GetPrecision() : 0;
}

void TVEZExpression::ReplacePseudonyms(const std::vector<TVEZSelectListItem>& select_list) {
  if (FRootExprNode) FRootExprNode->ReplacePseudonyms(select_list);
}

bool TVEZExpression::CanBeUsedInGroupBy(const std::string& group_by_fields) {
  return !FRootExprNode || FRootExprNode->CanBeUsedInGroupBy(group_by_fields);
}

// ---------------------------------------------------------------------------
// Field tests

bool TVEZExpression::IsField() const {
  return FRootExprNode && FRootExprNode->Kind() == TVEZExprNodeKind::Field;
}

bool TVEZExpression::IsFieldsExpression() const {
  if (!FRootExprNode) return false;
  if (IsField()) return true;
  return std::any_of(
      FRootExprNode->Children.begin(), FRootExprNode->Children.end(),
      [](const auto& child) { return child && child->Kind() == TVEZExprNodeKind::Field; });
}

void TVEZExpression::GetFieldInfo(std::string& table_name, std::string& field_name) const {
  if (!IsField()) throw EVEZException(30198, "Node is not a field");
  const auto* field = static_cast<const TVEZExprNodeField*>(FRootExprNode.get());
  table_name = field->FTableName;
  field_name = field->FFieldName;
}

// ---------------------------------------------------------------------------
// Tree operations

namespace {

bool IsAndNode(const TVEZExprNode* node) {
  return node != nullptr && node->Kind() == TVEZExprNodeKind::Boolean && node->Operator == doAND;
}

}  // namespace

void TVEZExpression::MoveAndNodesToRoot() {
  if (!IsAndNode(FRootExprNode.get())) return;
  auto& children = FRootExprNode->Children;
  // Appended grandchildren are scanned in their turn, so any depth flattens.
  std::size_t i = 0;
  while (i < children.size()) {
    if (!IsAndNode(children[i].get())) {
      ++i;
      continue;
    }
    std::unique_ptr<TVEZExprNode> nested = std::move(children[i]);
    children.erase(children.begin() + static_cast<std::ptrdiff_t>(i));
    for (auto& grandchild : nested->Children)
      children.push_back(std::move(grandchild));
  }
}

void TVEZExpression::AddAndMoveNodesFromExpression(TVEZExpression& expr) {
  if (&expr == this || !expr.FRootExprNode) return;
  if (!FRootExprNode) {
    FRootExprNode = std::move(expr.FRootExprNode);
    return;
  }
  if (!IsAndNode(FRootExprNode.get())) {
    auto and_node =
        std::make_unique<TVEZExprNodeBoolean>(doAND, std::move(FRootExprNode), true, false);
    FRootExprNode = std::move(and_node);
  }
  FRootExprNode->AddChild(std::move(expr.FRootExprNode));
  MoveAndNodesToRoot();
}

// ---------------------------------------------------------------------------
// Utility functions

std::string OperatorToText(TVEZDataOperator op) {
  switch (op) {
    case doEQ:
      return "=";
    case doNE:
      return "<>";
    case doGT:
      return ">";
    case doLT:
      return "<";
    case doGE:
      return ">=";
    case doLE:
      return "<=";
    case doNOT:
      return "NOT";
    case doAND:
      return "AND";
    case doOR:
      return "OR";
    case doLIKE:
      return "LIKE";
    case doNOTLIKE:
      return "NOT LIKE";
    case doISNULL:
      return "IS NULL";
    case doISNOTNULL:
      return "IS NOT NULL";
    case doADD:
      return "+";
    case doSUB:
      return "-";
    case doMUL:
      return "*";
    case doDIV:
      return "/";
    case doCONCAT:
      return "||";
    case doUPPER:
      return "UPPER";
    case doLOWER:
      return "LOWER";
    case doTRIM:
      return "TRIM";
    case doLTRIM:
      return "LTRIM";
    case doRTRIM:
      return "RTRIM";
    case doSUM:
      return "SUM";
    case doAVG:
      return "AVG";
    case doMIN:
      return "MIN";
    case doMAX:
      return "MAX";
    case doCOUNT:
      return "COUNT";
    case doCOUNTALL:
      return "COUNT(*)";
    default:
      return "unknown";
  }
}

std::string ExtractListItem(const std::string& text, std::size_t& pos) {
  // pos is 1-based.
  const std::size_t start = pos == 0 ? 0 : pos - 1;
  if (start >= text.size()) {
    pos = text.size() + 1;
    return {};
  }
  std::size_t end = text.find(';', start);
  if (end == std::string::npos) end = text.size();
  pos = end + 2;  // the character after the ';' (or past the end)
  std::size_t first = start, last = end;
  // Trimming drops blanks and control characters, as a text trim does.
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ')
    ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
    --last;
  return text.substr(first, last - first);
}

void SplitFieldNamesList(std::vector<std::string>& list, const std::string& text) {
  list.clear();
  std::size_t pos = 1;
  while (pos <= text.size())
    list.push_back(platform::AnsiUpperCase(ExtractListItem(text, pos)));
}

TVEZDataOperator MirrorComparison(TVEZDataOperator op) {
  switch (op) {
    case doEQ:
    case doNE:
      return op;
    case doGT:
      return doLT;
    case doLT:
      return doGT;
    case doGE:
      return doLE;
    case doLE:
      return doGE;
    default:
      return doUNDEFINED;
  }
}

TVEZDataOperator NegateComparison(TVEZDataOperator op) {
  switch (op) {
    case doEQ:
      return doNE;
    case doNE:
      return doEQ;
    case doGT:
      return doLE;
    case doLT:
      return doGE;
    case doGE:
      return doLT;
    case doLE:
      return doGT;
    default:
      return doUNDEFINED;
  }
}

}  // namespace vez

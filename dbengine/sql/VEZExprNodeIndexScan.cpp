// The index scan side of the comparison and IS [NOT] NULL nodes: which index
// columns can answer a node, and the key bounds a node gives.
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/sql/VEZExprNodeBoolean.h"
#include "dbengine/sql/VEZExprNodeComparison.h"
#include "dbengine/sql/VEZExprNodeConst.h"
#include "dbengine/sql/VEZExprNodeField.h"
#include "dbengine/sql/VEZExpression.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZIndexDef.h"
#include "dbengine/storage/VEZScanSearchCondition.h"
#include "platform/core/Collation.h"

namespace vez {

namespace {

bool SameColumnName(const std::string& field_name, const TVEZIndexColumn& column) {
  return platform::AnsiUpperCase(field_name) == platform::AnsiUpperCase(column.FieldName);
}

// Another session's temporary index may vanish or lag behind the table.
bool IsForeignTemporaryIndex(const TVEZIndexDef& index_def, std::int32_t session_id) {
  return index_def.Temporary && index_def.SessionID != session_id;
}

bool IsUsableComparisonOperator(TVEZDataOperator op) {
  return op == doEQ || op == doGT || op == doLT || op == doGE || op == doLE;
}

// The key must select exactly the rows the node selects: a constant that the
// column's type cannot hold (12.5 for an integer column) would seek another
// key.
bool ConvertsWithoutLoss(const TVEZVariant& value, TVEZBaseFieldType field_type) {
  if (value.GetIsNull() || value.GetDataType() == field_type) return true;
  try {
    TVEZVariant converted;
    CopyValue(converted, value);
    converted.Cast(field_type);
    converted.Cast(value.GetDataType());
    return converted.Compare(value, false, false, false) == cmprEqual;
  } catch (const EVEZException&) {
    return false;
  }
}

// The relation of a new condition from the operator as written with the
// field first, on the index's first column direction.
TVEZSearchCondition ConditionOf(TVEZDataOperator op, bool descending) {
  switch (op) {
    case doEQ:
      return scEqual;
    case doGT:
      return descending ? scLower : scGreater;
    case doLT:
      return descending ? scGreater : scLower;
    case doGE:
      return descending ? scLowerEqual : scGreaterEqual;
    case doLE:
      return descending ? scGreaterEqual : scLowerEqual;
    default:
      return scNone;
  }
}

// Whether a range of this relation runs to the end of the index where NULL
// keys stand (first in ascending order, last in descending order).
bool ReachesNullKeys(TVEZSearchCondition condition, bool descending) {
  if (descending) return condition == scGreater || condition == scGreaterEqual;
  return condition == scLower || condition == scLowerEqual;
}

// A new condition on index_def with a key buffer of the field's cursor.
void StartCondition(TVEZScanSearchCondition& condition, TVEZCursor& cursor,
                    const TVEZIndexDef& index_def) {
  condition.KeyRecordBuffer = cursor.AllocateRecordBuffer();
  condition.KeyRecordBufferSize = cursor.RecordBufferSize;
  condition.KeyFieldCount = 0;
  condition.IndexID = index_def.ObjectID;
  condition.Expression = nullptr;
  condition.CreatedFromExpression = true;
}

}  // namespace

// ---------------------------------------------------------------------------
// TVEZExprNode

void TVEZExprNode::AddScanKeyValue(TVEZVariant& value, TVEZCursor* cursor,
                                   TVEZScanSearchCondition& scan_condition,
                                   TVEZExpression* expression, std::int32_t field_no) {
  cursor->SetFieldValue(value, field_no, true, scan_condition.KeyRecordBuffer);
  ++scan_condition.KeyFieldCount;
  scan_condition.ParentExpressions.push_back(expression);
  scan_condition.ParentExpressionNodes.push_back(this);
}

// ---------------------------------------------------------------------------
// TVEZExprNodeComparison

TVEZExprNodeField* TVEZExprNodeComparison::GetFieldNode(TVEZExprNode* node) {
  if (node == nullptr) return nullptr;
  if (node->Kind() == TVEZExprNodeKind::Field) return static_cast<TVEZExprNodeField*>(node);
  if ((node->Operator == doUPPER || node->Operator == doLOWER) && !node->Children.empty() &&
      node->Children[0] && node->Children[0]->Kind() == TVEZExprNodeKind::Field)
    return static_cast<TVEZExprNodeField*>(node->Children[0].get());
  return nullptr;
}

void TVEZExprNodeComparison::GetFieldAndConstNodes(TVEZExprNodeField*& field_node,
                                                   TVEZExprNode*& const_node, bool* field_first) {
  field_node = nullptr;
  const_node = nullptr;
  if (field_first != nullptr) *field_first = true;
  for (std::size_t i = 0; i < 2 && i < Children.size(); ++i)
    if (CanUseNodeAsConst(Children[i].get())) const_node = Children[i].get();
  for (std::size_t i = 0; i < 2 && i < Children.size(); ++i) {
    TVEZExprNode* child = Children[i].get();
    if (!CanUseNodeAsField(child)) continue;
    if (child->Kind() != TVEZExprNodeKind::Field) {
      // UPPER / LOWER over the field: an index without case can serve it
      // only when the constant is of the function's case.
      const auto* constant = const_node != nullptr && const_node->Kind() == TVEZExprNodeKind::Const
                                 ? static_cast<const TVEZExprNodeConst*>(const_node)
                                 : nullptr;
      const bool matches =
          constant != nullptr &&
          (child->Operator == doUPPER ? constant->IsUpperCase() : constant->IsLowerCase());
      if (const_node != nullptr && !matches) {
        field_node = nullptr;
        const_node = nullptr;
        return;
      }
      // Comparing without case changes nothing only against a constant of
      // the function's case; UPPER(Name) = Name must keep comparing with case.
      if (const_node != nullptr) FCaseInsensitive = true;
    }
    field_node = GetFieldNode(child);
    if (field_first != nullptr) *field_first = i == 0;
  }
}

bool TVEZExprNodeComparison::CanUseIndex(std::int32_t index_column_no,
                                         TVEZSearchCondition condition_search_operator,
                                         const TVEZIndexDef& index_def, std::int32_t session_id) {
  if (FQuantifier != qUNDEFINED) return false;
  if (index_column_no < 0 || index_column_no >= index_def.ColumnCount()) return false;
  TVEZExprNodeField* field = nullptr;
  TVEZExprNode* constant = nullptr;
  GetFieldAndConstNodes(field, constant);
  if (field == nullptr || constant == nullptr || field == constant) return false;
  const TVEZIndexColumn& column = *index_def.GetIndexColumn(index_column_no);
  if (!SameColumnName(field->FFieldName, column)) return false;
  if (index_column_no == 0 && IsForeignTemporaryIndex(index_def, session_id)) return false;
  if (IsBlobBaseFieldType(field->FBaseFieldType)) return false;
  const bool is_string = IsStringBaseFieldType(field->FBaseFieldType);
  if (is_string && static_cast<bool>(column.CaseInsensitive) != FCaseInsensitive) return false;
  if (FPartialKey) return false;
  if (!IsUsableComparisonOperator(Operator)) return false;
  // A constant as long as the column (its terminator aside) may be longer
  // than the key holds.
  const std::int32_t terminator = IsWideStringBaseFieldType(field->FBaseFieldType) ? 2 : 1;
  if (is_string && constant->GetDataSize() >= field->GetDataSize() - terminator) return false;
  if (index_column_no > 0 && (condition_search_operator != scEqual || Operator != doEQ))
    return false;
  const TVEZVariant& value = *constant->GetDataValue();
  // Under three-valued logic nothing equals or orders against NULL, while a
  // NULL key would find the NULL keys.
  if (F3ValueLogic && value.GetIsNull()) return false;
  return ConvertsWithoutLoss(value, field->FBaseFieldType);
}

void TVEZExprNodeComparison::AddAsIndexScanCondition(TVEZScanSearchConditionArray& scan_conditions,
                                                     const TVEZIndexDef& index_def,
                                                     TVEZExpression* expression) {
  TVEZExprNodeField* field = nullptr;
  TVEZExprNode* constant = nullptr;
  bool field_first = true;
  GetFieldAndConstNodes(field, constant, &field_first);
  if (field == nullptr || constant == nullptr) throw EVEZException(20055, "Pointer is nil");
  if (field->LCursor == nullptr) throw EVEZException(20054, "Pointer is nil");
  if (index_def.ColumnCount() == 0) throw EVEZException(20057, "Invalid index for search");
  const bool descending = index_def.GetIndexColumn(0)->Descending;
  const TVEZDataOperator op = field_first ? Operator : MirrorComparison(Operator);
  TVEZScanSearchCondition condition(false);
  condition.Condition = ConditionOf(op, descending);
  StartCondition(condition, *field->LCursor, index_def);
  condition.PartialCompare = FPartialKey;
  TVEZVariant key;
  CopyValue(key, *constant->GetDataValue());
  AddScanKeyValue(key, field->LCursor, condition, expression, field->FFieldNo);
  if (F3ValueLogic && ReachesNullKeys(condition.Condition, descending)) {
    // The range takes the NULL keys in, which this comparison rejects: the
    // node stays in its tree and tests every record of the range.
    condition.ParentExpressions.pop_back();
    condition.ParentExpressionNodes.pop_back();
  }
  scan_conditions.AddCondition(condition);
}

void TVEZExprNodeComparison::ExtendIndexScanCondition(TVEZScanSearchCondition& scan_condition,
                                                      const TVEZIndexDef& /*index_def*/,
                                                      TVEZExpression* expression) {
  TVEZExprNodeField* field = nullptr;
  TVEZExprNode* constant = nullptr;
  GetFieldAndConstNodes(field, constant);
  if (field == nullptr || constant == nullptr || field->LCursor == nullptr) return;
  TVEZVariant key;
  CopyValue(key, *constant->GetDataValue());
  AddScanKeyValue(key, field->LCursor, scan_condition, expression, field->FFieldNo);
}

// ---------------------------------------------------------------------------
// TVEZExprNodeBoolean

bool TVEZExprNodeBoolean::CanUseIndex(std::int32_t index_column_no,
                                      TVEZSearchCondition condition_search_operator,
                                      const TVEZIndexDef& index_def, std::int32_t session_id) {
  if (Operator != doISNULL && Operator != doISNOTNULL) return false;
  if (Children.empty() || !CanUseNodeAsField(Children[0].get())) return false;
  if (index_column_no < 0 || index_column_no >= index_def.ColumnCount()) return false;
  const TVEZExprNodeField* field = TVEZExprNodeComparison::GetFieldNode(Children[0].get());
  if (field == nullptr ||
      !SameColumnName(field->FFieldName, *index_def.GetIndexColumn(index_column_no)))
    return false;
  if (index_column_no == 0) return !IsForeignTemporaryIndex(index_def, session_id);
  return Operator == doISNULL && condition_search_operator == scEqual;
}

void TVEZExprNodeBoolean::AddAsIndexScanCondition(TVEZScanSearchConditionArray& scan_conditions,
                                                  const TVEZIndexDef& index_def,
                                                  TVEZExpression* expression) {
  TVEZExprNodeField* field =
      Children.empty() ? nullptr : TVEZExprNodeComparison::GetFieldNode(Children[0].get());
  if (field == nullptr || field->LCursor == nullptr) throw EVEZException(20254, "Pointer is nil");
  if (index_def.ColumnCount() == 0) throw EVEZException(20255, "Invalid index for search");
  const bool descending = index_def.GetIndexColumn(0)->Descending;
  TVEZScanSearchCondition condition(false);
  // NULL sorts first in an ascending index.
  condition.Condition = Operator == doISNULL ? scEqual : (descending ? scLower : scGreater);
  StartCondition(condition, *field->LCursor, index_def);
  condition.PartialCompare = false;
  TVEZVariant key;
  AddScanKeyValue(key, field->LCursor, condition, expression, field->FFieldNo);
  scan_conditions.AddCondition(condition);
}

void TVEZExprNodeBoolean::ExtendIndexScanCondition(TVEZScanSearchCondition& scan_condition,
                                                   const TVEZIndexDef& /*index_def*/,
                                                   TVEZExpression* expression) {
  TVEZExprNodeField* field =
      Children.empty() ? nullptr : TVEZExprNodeComparison::GetFieldNode(Children[0].get());
  if (field == nullptr || field->LCursor == nullptr) return;
  TVEZVariant key;
  AddScanKeyValue(key, field->LCursor, scan_condition, expression, field->FFieldNo);
}

}  // namespace vez

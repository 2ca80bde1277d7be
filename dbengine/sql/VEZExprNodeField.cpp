#include "dbengine/sql/VEZExprNodeField.h"

#include <algorithm>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/sql/VEZAO.h"
#include "dbengine/sql/VEZExpression.h"
#include "dbengine/sql/VEZFields.h"
#include "dbengine/storage/VEZCursor.h"
#include "platform/core/Collation.h"

namespace vez {

TVEZExprNodeField::TVEZExprNodeField(TVEZCursor* cursor, std::string field_name,
                                     std::string table_name)
    : TVEZExprNode(true, false),
      FTableName(std::move(table_name)),
      FFieldName(std::move(field_name)) {
  FKind = TVEZExprNodeKind::Field;
  if (cursor != nullptr) AssignCursor(cursor, nullptr, nullptr);
}

bool TVEZExprNodeField::FindFieldInCursor(TVEZCursor* cursor, std::int32_t& field_no) const {
  if (cursor == nullptr) return false;
  for (const std::string* name : {&FFieldName, &FFieldNameInAO}) {
    if (name->empty()) continue;
    const std::int32_t physical = cursor->FieldDefs().GetDefNumberByName(*name);
    if (physical >= 0) {
      field_no = physical;
      return true;
    }
    // A projected (visible) name stands for the physical column it was made
    // from.
    const std::int32_t visible = cursor->VisibleFieldDefs().GetDefNumberByName(*name);
    if (visible >= 0) {
      field_no = cursor->VisibleFieldDefs().GetDef(visible)->FieldNoReference;
      return true;
    }
  }
  return false;
}

bool TVEZExprNodeField::TryAssignAO(TVEZAO* ao_to_assign) {
  if (ao_to_assign == nullptr) return false;
  TVEZIntegerArray matches;
  ao_to_assign->FieldExists(FFieldName, FTableName, !FScanOnlyVisibleFieldsInAO, &matches, true,
                            FScanOnlyVisibleFieldsInAO);
  if (matches.empty()) return false;
  FFieldNo = matches.front();
  FFieldNameInAO = ao_to_assign->GetFieldNameByColumnNo(FFieldNo);
  FFieldOffsetInBuffer = 0;
  FFieldType = ao_to_assign->GetFieldType(FFieldNo);
  FBaseFieldType = AdvancedTypeToBaseType(FFieldType);
  FFieldSize = ao_to_assign->GetFieldSize(FFieldNo);
  FFieldPrecision = ao_to_assign->GetFieldPrecision(FFieldNo);
  return true;
}

void TVEZExprNodeField::AssignCursor(TVEZCursor* cursor, TVEZAO* parent_query_ao,
                                     TVEZCursor* parent_cursor) {
  if (cursor == nullptr) throw EVEZException(30202, "Value is Null");
  if (parent_query_ao != nullptr) LAO = nullptr;
  if (parent_cursor != nullptr) LCursor = nullptr;
  std::int32_t field_no = -1;
  if (FGetFromParent) {
    if (FindFieldInCursor(parent_cursor, field_no)) {
      LCursor = parent_cursor;
    } else if (TryAssignAO(parent_query_ao)) {
      LAO = parent_query_ao;
    } else {
      return;  // an outer reference the parent does not serve stays unbound
    }
  } else {
    LAO = nullptr;
    LCursor = nullptr;
    if (FindFieldInCursor(cursor, field_no))
      LCursor = cursor;
    else if (FindFieldInCursor(parent_cursor, field_no))
      LCursor = parent_cursor;
  }
  if (LAO == nullptr && LCursor == nullptr)
    throw EVEZException(30115, "Field '%s' not found", {FFieldName});
  if (LCursor == nullptr) return;
  const TVEZFieldDef* def = LCursor->FieldDefs().GetDef(field_no);
  FFieldNo = field_no;
  FFieldOffsetInBuffer = def->MemoryOffset;
  FFieldType = def->AdvancedFieldType;
  FBaseFieldType = AdvancedTypeToBaseType(def->AdvancedFieldType);
  FFieldSize = def->MemoryDataSize;
  AssignCursorBuffer(LCursor->CurrentRecordBuffer, FGetFromParent);
}

void TVEZExprNodeField::AssignCursorBuffer(std::uint8_t* buffer,
                                           bool apply_to_parent_query_fields) {
  if (apply_to_parent_query_fields == FGetFromParent) LRecordBuffer = buffer;
}

void TVEZExprNodeField::AssignAO(TVEZAO* ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) {
  LCursor = nullptr;
  LRecordBuffer = nullptr;
  if (TryAssignAO(ao)) {
    LAO = ao;
  } else if (TryAssignAO(parent_query_ao)) {
    LAO = parent_query_ao;
  } else if (FGetFromParent) {
    AssignCursor(parent_cursor, parent_query_ao, parent_cursor);
  } else if (LAO == nullptr && LCursor == nullptr) {
    throw EVEZException(30197, "Field '%s' not found", {FTableName + "." + FFieldName});
  }
}

TVEZVariant* TVEZExprNodeField::GetDataValue() {
  if (LRecordBuffer == nullptr) {
    if (LAO == nullptr || FFieldNo == -1) throw EVEZException(30196, "Dataset and AO not assigned");
    LAO->GetFieldValue(Value, FFieldNo, true, true);
    return &Value;
  }
  if (GetBufferBit(FFieldNo, LRecordBuffer)) {
    Value.SetNull(bftUnknown);
    return &Value;
  }
  if (FBaseFieldType == bftClob || FBaseFieldType == bftWideClob)
    RaiseNotImplementedYet("reading memo column '" + FFieldName + "' in an expression");
  Value.SetData(LRecordBuffer + FFieldOffsetInBuffer, FFieldSize, FBaseFieldType, true);
  return &Value;
}

TVEZAdvancedFieldType TVEZExprNodeField::GetDataType() {
  TVEZAdvancedFieldType type = aftUnknown;
  if (LCursor != nullptr && FFieldNo >= 0 && FFieldNo < LCursor->FieldDefs().GetCount())
    type = LCursor->FieldDefs().GetDef(FFieldNo)->AdvancedFieldType;
  else if (LCursor == nullptr && LAO != nullptr)
    type = FFieldType;
  if (type == aftUnknown) throw EVEZException(30284, "Cannot determine expression type");
  return type;
}

std::int32_t TVEZExprNodeField::GetDataSize() {
  return FFieldSize;
}

bool TVEZExprNodeField::CanBeAssigned(TVEZAO* ao, TVEZAO* parent_query_ao,
                                      TVEZCursor* parent_cursor, bool for_having_clause) {
  FGetFromParent = false;
  // Exactly one match: an ambiguous name is not evaluated here.
  auto found_in = [&](TVEZAO* a) {
    TVEZIntegerArray matches;
    return a->FieldExists(FFieldName, FTableName, false, &matches, for_having_clause, false) == 1;
  };
  bool found = ao != nullptr && found_in(ao);
  if (!found && parent_query_ao != nullptr) {
    found = found_in(parent_query_ao);
    FGetFromParent = found;
  }
  if (!found && parent_cursor != nullptr) {
    std::int32_t field_no = -1;
    // Only the outer query's cursor has it: an outer-query reference.
    found = FindFieldInCursor(parent_cursor, field_no);
    FGetFromParent = found;
  }
  if (found) FScanOnlyVisibleFieldsInAO = for_having_clause;
  return found;
}

void TVEZExprNodeField::ReplacePseudonyms(const std::vector<TVEZSelectListItem>& select_list) {
  for (const TVEZSelectListItem& item : select_list) {
    if (item.IsExpression || !platform::AnsiSameText(item.Pseudonym, FFieldName)) continue;
    if (!FTableName.empty() && !platform::AnsiSameText(item.TableName, FTableName)) continue;
    // One rename only: a later item whose pseudonym is the new column's
    // name must not take the reference on to another column.
    FFieldName = item.FieldName;
    FTableName = item.TableName;
    return;
  }
}

bool TVEZExprNodeField::CanBeUsedInGroupBy(const std::string& group_by_fields) {
  std::vector<std::string> names;
  SplitFieldNamesList(names, group_by_fields);
  const std::string name = platform::AnsiUpperCase(FFieldName);
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace vez

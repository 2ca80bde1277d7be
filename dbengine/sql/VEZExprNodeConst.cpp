#include "dbengine/sql/VEZExprNodeConst.h"

#include <string>

#include "dbengine/foundation/VEZSQLTypes.h"
#include "platform/core/Collation.h"

namespace vez {

TVEZExprNodeConst::TVEZExprNodeConst(bool case_insensitive, bool partial_key)
    : TVEZExprNode(case_insensitive, partial_key) {
  FKind = TVEZExprNodeKind::Const;
}

TVEZVariant* TVEZExprNodeConst::GetDataValue() {
  return &Value;
}

TVEZAdvancedFieldType TVEZExprNodeConst::GetDataType() {
  return BaseTypeToAdvancedType(Value.GetDataType());
}

std::int32_t TVEZExprNodeConst::GetDataSize() {
  if (Value.GetIsNull() || !Value.IsStringDataType()) return 0;
  const std::int32_t length = Value.StrLen();
  return Value.IsWideStringDataType() ? 2 * length : length;
}

bool TVEZExprNodeConst::CanBeAssigned(TVEZAO* /*ao*/, TVEZAO* /*parent_query_ao*/,
                                      TVEZCursor* /*parent_cursor*/, bool /*for_having_clause*/) {
  return true;
}

bool TVEZExprNodeConst::IsLikePatternEqualToPartialComparePattern() const {
  if (Value.GetIsNull() || !Value.IsStringDataType()) return false;
  if (Value.IsWideStringDataType()) {
    const std::u16string text = Value.GetAsWideString();
    return text.size() >= 2 && text.find(u'%') == text.size() - 1;
  }
  const std::string text = Value.GetAsAnsiString();
  return text.size() >= 2 && text.find('%') == text.size() - 1;
}

void TVEZExprNodeConst::TruncateForPartialCompare() {
  if (Value.GetIsNull() || !Value.IsStringDataType()) return;
  if (Value.IsWideStringDataType()) {
    std::u16string text = Value.GetAsWideString();
    if (!text.empty()) text.pop_back();
    Value.SetAsWideString(text);
  } else {
    std::string text = Value.GetAsAnsiString();
    if (!text.empty()) text.pop_back();
    Value.SetAsAnsiString(text);
  }
}

bool TVEZExprNodeConst::IsUpperCase() const {
  if (!Value.IsStringDataType()) return false;
  if (Value.IsWideStringDataType()) {
    const std::u16string text = Value.GetAsWideString();
    return text == VEZWideUpperCase(text);
  }
  const std::string text = Value.GetAsAnsiString();
  return text == platform::AnsiUpperCase(text);
}

bool TVEZExprNodeConst::IsLowerCase() const {
  if (!Value.IsStringDataType()) return false;
  if (Value.IsWideStringDataType()) {
    const std::u16string text = Value.GetAsWideString();
    return text == VEZWideLowerCase(text);
  }
  const std::string text = Value.GetAsAnsiString();
  return text == platform::AnsiLowerCase(text);
}

}  // namespace vez

#include "dbengine/sql/VEZExprNodeComparison.h"

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/sql/VEZExprNodeConst.h"
#include "dbengine/sql/VEZExprNodeField.h"
#include "dbengine/sql/VEZExprNodeSubquery.h"
#include "dbengine/sql/VEZExpression.h"

namespace vez {

TVEZExprNodeComparison::TVEZExprNodeComparison(TVEZDataOperator op, TNodePtr node1, TNodePtr node2,
                                               bool true_false_null_logic, bool case_insensitive,
                                               bool partial_key)
    : TVEZExprNode(op, std::move(node1), std::move(node2), case_insensitive, partial_key),
      F3ValueLogic(true_false_null_logic) {
  FKind = TVEZExprNodeKind::Comparison;
  Value.SetNull(bftUnknown);
}

TVEZExprNodeComparison::TVEZExprNodeComparison(TVEZDataOperator op, TVEZQuantifier quantifier,
                                               TNodePtr node1, TNodePtr node2,
                                               bool true_false_null_logic, bool case_insensitive,
                                               bool partial_key)
    : TVEZExprNodeComparison(op, std::move(node1), std::move(node2), true_false_null_logic,
                             case_insensitive, partial_key) {
  FQuantifier = quantifier;
}

void TVEZExprNodeComparison::AdjustConstTypes() {
  TVEZExprNode::AdjustConstTypes();
  TVEZExprNodeField* field = nullptr;
  TVEZExprNodeConst* constant = nullptr;
  for (const TNodePtr& child : Children) {
    if (!child) continue;
    if (child->Kind() == TVEZExprNodeKind::Field)
      field = static_cast<TVEZExprNodeField*>(child.get());
    else if (child->Kind() == TVEZExprNodeKind::Const)
      constant = static_cast<TVEZExprNodeConst*>(child.get());
  }
  if (field == nullptr || constant == nullptr) return;
  // The column's type is read whenever a constant meets it, so an unbound
  // field raises 30284 here.
  const TVEZAdvancedFieldType field_type = field->GetDataType();
  const TVEZBaseFieldType field_base = AdvancedTypeToBaseType(field_type);
  const TVEZBaseFieldType const_type = constant->Value.GetDataType();
  if (IsNumericBaseFieldType(const_type) && IsNumericBaseFieldType(field_base) &&
      const_type != field_base && !constant->Value.GetIsNull() &&
      GetCommonBaseType(field_base, const_type, true) == field_base) {
    // The constant would be converted to the column's type for every record
    // (MeasurementID = 12 compares as Float): convert it once instead. The
    // answers are the same.
    constant->Value.Cast(field_base);
    return;
  }
  if (!IsWideStringBaseFieldType(const_type)) return;
  if (field_type != aftChar && field_type != aftString && field_type != aftGuid) return;
  // Only a lossless reduction: a character the code page cannot hold would
  // become '?' and then match a stored '?'.
  constant->Value.TryToReduceWideStringToAnsiString();
}

TVEZVariant* TVEZExprNodeComparison::GetDataValue() {
  if (FQuantifier != qUNDEFINED) {
    if (Children.size() < 2 || !Children[0] || !Children[1] ||
        Children[1]->Kind() != TVEZExprNodeKind::Subquery)
      throw EVEZException(30117, "Unknown operator: '%s'", {OperatorToText(Operator)});
    TVEZVariant left(bftUnknown);
    left.Assign(*Children[0]->GetDataValue(), true);
    SetBooleanValue(Value, static_cast<TVEZExprNodeSubquery*>(Children[1].get())
                               ->QuantifiedCompare(Operator, FQuantifier, &left));
    return &Value;
  }
  if (Children.size() < 2 || !Children[0] || !Children[1])
    throw EVEZException(30117, "Unknown operator: '%s'", {OperatorToText(Operator)});
  const TVEZVariant& left = *Children[0]->GetDataValue();
  const TVEZVariant& right = *Children[1]->GetDataValue();
  const TVEZCompareResult r = left.Compare(right, F3ValueLogic, FCaseInsensitive, FPartialKey);
  bool result = false;
  switch (Operator) {
    case doEQ:
      result = r == cmprEqual;
      break;
    case doNE:
      // With three-valued logic a NULL operand is neither equal nor unequal.
      result = F3ValueLogic ? (r == cmprLower || r == cmprGreater) : r != cmprEqual;
      break;
    case doGT:
      result = r == cmprGreater;
      break;
    case doLT:
      result = r == cmprLower;
      break;
    case doGE:
      result = r == cmprEqual || r == cmprGreater;
      break;
    case doLE:
      result = r == cmprEqual || r == cmprLower;
      break;
    default:
      throw EVEZException(30117, "Unknown operator: '%s'", {OperatorToText(Operator)});
  }
  SetBooleanValue(Value, result);
  return &Value;
}

}  // namespace vez

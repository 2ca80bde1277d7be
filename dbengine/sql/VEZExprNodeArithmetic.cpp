#include "dbengine/sql/VEZExprNodeArithmetic.h"

#include "dbengine/foundation/VEZException.h"
#include "dbengine/sql/VEZExpression.h"
#include "dbengine/sql/VEZNumericFunctions.h"

namespace vez {

namespace {

bool IsBuiltOperator(TVEZDataOperator op) {
  return op == doADD || op == doSUB || op == doMUL || op == doDIV;
}

[[noreturn]] void RaiseUnknownOperator(TVEZDataOperator op) {
  throw EVEZException(30121, "Unknown operator: '%s'", {OperatorToText(op)});
}

}  // namespace

TVEZExprNodeArithmetic::TVEZExprNodeArithmetic(TVEZDataOperator op, TNodePtr node,
                                               bool case_insensitive, bool partial_key)
    : TVEZExprNode(op, std::move(node), case_insensitive, partial_key) {
  FKind = TVEZExprNodeKind::Arithmetic;
}

TVEZExprNodeArithmetic::TVEZExprNodeArithmetic(TVEZDataOperator op, TNodePtr node1, TNodePtr node2,
                                               bool case_insensitive, bool partial_key)
    : TVEZExprNode(op, std::move(node1), std::move(node2), case_insensitive, partial_key) {
  FKind = TVEZExprNodeKind::Arithmetic;
}

TVEZVariant* TVEZExprNodeArithmetic::GetDataValue() {
  if (IsNumericFunctionOperator(Operator)) {
    EvaluateNumericFunction(*this);
    return &Value;
  }
  if (!IsBuiltOperator(Operator)) RaiseUnknownOperator(Operator);
  if (Children.empty() || !Children[0]) RaiseUnknownOperator(Operator);
  CopyValue(Value, *Children[0]->GetDataValue());
  switch (Operator) {
    case doADD:
      for (std::size_t i = 1; i < Children.size(); ++i)
        if (Children[i]) Value.Add(*Children[i]->GetDataValue());
      break;
    case doSUB:
      Value.InvertValue();
      break;
    case doMUL:
      for (std::size_t i = 1; i < Children.size(); ++i)
        if (Children[i]) Value.Mul(*Children[i]->GetDataValue());
      break;
    default:  // doDIV
      if (Children.size() < 2 || !Children[1]) RaiseUnknownOperator(Operator);
      Value.Division(*Children[1]->GetDataValue());
      break;
  }
  return &Value;
}

TVEZAdvancedFieldType TVEZExprNodeArithmetic::GetDataType() {
  if (IsNumericFunctionOperator(Operator)) return NumericFunctionDataType(*this);
  if (!IsBuiltOperator(Operator)) RaiseUnknownOperator(Operator);
  return TVEZExprNode::GetDataType();
}

}  // namespace vez

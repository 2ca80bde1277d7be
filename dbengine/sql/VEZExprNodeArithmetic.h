// TVEZExprNodeArithmetic: the arithmetic operators on the engine's typed
// values, computed in the operands' common type: doADD (a + b + ..., where a
// written a - b is a + (-b)), doSUB (unary minus), doMUL (a * b * ...) and
// doDIV (a / b). Integers wrap (Int32 2147483647 + 1 is -2147483648) and
// divide with truncation toward zero; division by zero raises 30128. NULL
// operands make the result NULL, except that + beside a string treats NULL
// as the empty string.
//
// The numeric functions (ABS .. SQRT, ROUND) are in VEZNumericFunctions.
//
// Thread safety: none (see VEZExprNode.h).
#pragma once

#include "dbengine/sql/VEZExprNode.h"

namespace vez {

class TVEZExprNodeArithmetic : public TVEZExprNode {
 public:
  TVEZExprNodeArithmetic(TVEZDataOperator op, TNodePtr node, bool case_insensitive,
                         bool partial_key);
  TVEZExprNodeArithmetic(TVEZDataOperator op, TNodePtr node1, TNodePtr node2, bool case_insensitive,
                         bool partial_key);

  // The operator applied to the children's values in order, or the numeric
  // function. Another operator raises 30121.
  TVEZVariant* GetDataValue() override;
  // The common type of the children (the base rule) for the four operators;
  // other operators raise as GetDataValue does.
  TVEZAdvancedFieldType GetDataType() override;
};

}  // namespace vez

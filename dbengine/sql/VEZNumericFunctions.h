// The numeric functions of arithmetic nodes (ABS .. SQRT, ROUND): their value
// and result type. Floating point does not trap here, so every domain error
// (square root or logarithm of a negative number, an arc sine or cosine
// outside -1..1, a result that overflows) and every integer result that does
// not fit 32 bits raises platform::EMathError instead of yielding NaN,
// infinity or wrapped bits. Numeric functions other than ABS raise 30016 for
// NULL.
#pragma once

#include "dbengine/sql/VEZExprNode.h"

namespace vez {

bool IsNumericFunctionOperator(TVEZDataOperator op);
// Evaluates node's children and stores the function's result in node.Value.
// REQUIRES: IsNumericFunctionOperator(node.Operator).
void EvaluateNumericFunction(TVEZExprNode& node);
// The result type. REQUIRES: IsNumericFunctionOperator(node.Operator).
TVEZAdvancedFieldType NumericFunctionDataType(TVEZExprNode& node);

}  // namespace vez

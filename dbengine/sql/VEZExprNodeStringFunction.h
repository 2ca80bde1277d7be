// TVEZExprNodeStringFunction: CONCAT (a || b, or "+" between strings), UPPER,
// LOWER, TRIM, LTRIM, RTRIM, LENGTH, POS and SUBSTRING. A non-string argument
// is read as text (cast to varchar); wide arguments stay wide. NULL gives
// NULL, except LENGTH(NULL) = 0 and CONCAT, where NULL beside a string is the
// empty string. SUBSTRING counts from 1; a start below 1 counts as 1.
//
// Thread safety: none (see VEZExprNode.h).
#pragma once

#include "dbengine/sql/VEZExprNode.h"

namespace vez {

class TVEZExprNodeStringFunction : public TVEZExprNode {
 public:
  explicit TVEZExprNodeStringFunction(TVEZDataOperator op);

  // Another operator raises 30131.
  TVEZVariant* GetDataValue() override;
  TVEZAdvancedFieldType GetDataType() override;
  // CONCAT wraps children of another type in a CAST to the result type first.
  std::int32_t GetDataSize() override;
};

// The type a string function gives for an argument of type t: t itself for a
// string type, aftString / aftWideString for memo types, else t.
TVEZAdvancedFieldType StringResultType(TVEZAdvancedFieldType t);
// Wraps children[i] in a CAST to type when its type differs and it is not a
// CAST already (CONCAT, CASE and COALESCE do this before sizing).
void WrapInCastWhenTypeDiffers(TVEZExprNode::TNodePtr& child, TVEZAdvancedFieldType type);

}  // namespace vez

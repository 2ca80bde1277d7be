// TVEZExprNodeCast: CAST(value AS type [(size)]). The value is converted to
// the storage type of the target; a string target cuts the text to the size
// (4096 without one). The declared size without a size node is the width of
// the source type written as text.
//
// Thread safety: none (see VEZExprNode.h).
#pragma once

#include "dbengine/sql/VEZExprNode.h"

namespace vez {

class TVEZExprNodeCast : public TVEZExprNode {
 public:
  // Children: (size node, value) with a size node, else (value).
  TVEZExprNodeCast(TNodePtr node, TVEZAdvancedFieldType cast_type, TNodePtr cast_size_node);

  TVEZVariant* GetDataValue() override;
  TVEZAdvancedFieldType GetDataType() override;
  // The size node's value; else for a string target the source's width
  // (30466 for a source of unknown type); else 0.
  std::int32_t GetDataSize() override;

  TVEZAdvancedFieldType FCastType;
  // Also a child; null without a size.
  TVEZExprNode* LCastSizeNode = nullptr;

 private:
  TVEZExprNode* ValueNode() const;
};

}  // namespace vez

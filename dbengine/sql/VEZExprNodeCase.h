// TVEZExprNodeCase: CASE (simple, with an input compared without case where
// two NULLs match; or searched, where a condition that is NULL is not true)
// and COALESCE (the first argument that is not NULL). The lists refer to the
// node's own children.
//
// Thread safety: none (see VEZExprNode.h).
#pragma once

#include <vector>

#include "dbengine/sql/VEZExprNode.h"

namespace vez {

class TVEZExprNodeCase : public TVEZExprNode {
 public:
  static std::unique_ptr<TVEZExprNodeCase> CreateSimpleCase(TNodePtr input_expression);
  static std::unique_ptr<TVEZExprNodeCase> CreateSearchedCase();
  static std::unique_ptr<TVEZExprNodeCase> CreateCoalesce(std::vector<TNodePtr> nodes);

  void AddWhenExpression(TNodePtr node);
  void AddResultExpression(TNodePtr node);
  void SetElseResultExpression(TNodePtr node);

  TVEZVariant* GetDataValue() override;
  // COALESCE: the arguments' common type; CASE: the results' and ELSE's.
  TVEZAdvancedFieldType GetDataType() override;
  // Wraps arguments (or results) of another type in a CAST to the node's
  // type, then the largest of their sizes.
  std::int32_t GetDataSize() override;

  std::vector<TVEZExprNode*> FWhenExpressions;
  std::vector<TVEZExprNode*> FResultExpressions;
  TVEZExprNode* FElseResultExpression = nullptr;
  TVEZExprNode* FInputExpression = nullptr;
  std::vector<TVEZExprNode*> FCoalesceNodes;
  bool FIsCoalesceExpression = false;

 private:
  TVEZExprNodeCase();
  // Replaces node (a child) by a CAST of it when its type differs from type.
  TVEZExprNode* WrapChild(TVEZExprNode* node, TVEZAdvancedFieldType type);
};

}  // namespace vez

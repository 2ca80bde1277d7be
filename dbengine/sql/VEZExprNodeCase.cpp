#include "dbengine/sql/VEZExprNodeCase.h"

#include <algorithm>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/sql/VEZExprNodeStringFunction.h"

namespace vez {

TVEZExprNodeCase::TVEZExprNodeCase() : TVEZExprNode(true, false) {
  FKind = TVEZExprNodeKind::Case;
}

std::unique_ptr<TVEZExprNodeCase> TVEZExprNodeCase::CreateSimpleCase(TNodePtr input_expression) {
  std::unique_ptr<TVEZExprNodeCase> node(new TVEZExprNodeCase());
  node->FInputExpression = input_expression.get();
  node->AddChild(std::move(input_expression));
  return node;
}

std::unique_ptr<TVEZExprNodeCase> TVEZExprNodeCase::CreateSearchedCase() {
  return std::unique_ptr<TVEZExprNodeCase>(new TVEZExprNodeCase());
}

std::unique_ptr<TVEZExprNodeCase> TVEZExprNodeCase::CreateCoalesce(std::vector<TNodePtr> nodes) {
  std::unique_ptr<TVEZExprNodeCase> node(new TVEZExprNodeCase());
  node->FIsCoalesceExpression = true;
  for (TNodePtr& n : nodes) {
    node->FCoalesceNodes.push_back(n.get());
    node->AddChild(std::move(n));
  }
  return node;
}

void TVEZExprNodeCase::AddWhenExpression(TNodePtr node) {
  FWhenExpressions.push_back(node.get());
  AddChild(std::move(node));
}

void TVEZExprNodeCase::AddResultExpression(TNodePtr node) {
  FResultExpressions.push_back(node.get());
  AddChild(std::move(node));
}

void TVEZExprNodeCase::SetElseResultExpression(TNodePtr node) {
  FElseResultExpression = node.get();
  AddChild(std::move(node));
}

TVEZVariant* TVEZExprNodeCase::GetDataValue() {
  Value.Clear(Value.GetDataType());
  if (FIsCoalesceExpression) {
    for (TVEZExprNode* n : FCoalesceNodes) {
      TVEZVariant* v = n->GetDataValue();
      Value.Assign(*v, false);
      if (!v->GetIsNull()) break;
    }
    return &Value;
  }
  TVEZExprNode* selected = FElseResultExpression;
  if (FInputExpression != nullptr) {
    TVEZVariant input;
    CopyValue(input, *FInputExpression->GetDataValue());
    for (std::size_t i = 0; i < FWhenExpressions.size(); ++i) {
      const TVEZVariant* when = FWhenExpressions[i]->GetDataValue();
      const TVEZCompareResult r = input.Compare(*when, false, true, false);
      if (r == cmprEqual || r == cmprBothNull) {
        selected = i < FResultExpressions.size() ? FResultExpressions[i] : nullptr;
        break;
      }
    }
  } else {
    for (std::size_t i = 0; i < FWhenExpressions.size(); ++i) {
      const TVEZVariant* when = FWhenExpressions[i]->GetDataValue();
      // An unknown condition is not true: its branch is skipped.
      if (when->GetIsNull() || !when->GetAsBoolean()) continue;
      selected = i < FResultExpressions.size() ? FResultExpressions[i] : nullptr;
      break;
    }
  }
  if (selected != nullptr) Value.Assign(*selected->GetDataValue(), false);
  return &Value;
}

TVEZAdvancedFieldType TVEZExprNodeCase::GetDataType() {
  const std::vector<TVEZExprNode*>& list =
      FIsCoalesceExpression ? FCoalesceNodes : FResultExpressions;
  TVEZAdvancedFieldType type = aftUnknown;
  bool first = true;
  auto fold = [&](TVEZExprNode* n) {
    type = first ? n->GetDataType() : GetCommonAdvancedType(type, n->GetDataType(), false);
    first = false;
  };
  for (TVEZExprNode* n : list)
    fold(n);
  if (!FIsCoalesceExpression && FElseResultExpression != nullptr) fold(FElseResultExpression);
  return type;
}

TVEZExprNode* TVEZExprNodeCase::WrapChild(TVEZExprNode* node, TVEZAdvancedFieldType type) {
  for (TNodePtr& child : Children) {
    if (child.get() != node) continue;
    WrapInCastWhenTypeDiffers(child, type);
    return child.get();
  }
  return node;
}

std::int32_t TVEZExprNodeCase::GetDataSize() {
  const TVEZAdvancedFieldType type = GetDataType();
  std::int32_t size = 0;
  auto visit = [&](TVEZExprNode*& n) {
    n = WrapChild(n, type);
    size = std::max(size, n->GetDataSize());
  };
  if (FIsCoalesceExpression) {
    for (TVEZExprNode*& n : FCoalesceNodes)
      visit(n);
    return size;
  }
  for (TVEZExprNode*& n : FResultExpressions)
    visit(n);
  if (FElseResultExpression != nullptr) visit(FElseResultExpression);
  return size;
}

}  // namespace vez

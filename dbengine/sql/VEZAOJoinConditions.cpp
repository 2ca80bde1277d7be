// The planner's search for join keys: which equalities pair a column of one
// join input with a column of the other, and taking them out of a condition.
// Expression operations that need the operators, kept beside the join.
#include <memory>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/sql/VEZAO.h"
#include "dbengine/sql/VEZExprNodeComparison.h"
#include "dbengine/sql/VEZExprNodeField.h"
#include "dbengine/sql/VEZExpression.h"
#include "dbengine/sql/VEZFields.h"

namespace vez {

namespace {

TVEZExprNodeField* PlainField(TVEZExprNode* node) {
  if (node == nullptr || node->Kind() != TVEZExprNodeKind::Field) return nullptr;
  if (!TVEZExprNode::CanUseNodeAsField(node)) return nullptr;
  return static_cast<TVEZExprNodeField*>(node);
}

std::int32_t Matches(TVEZAO* ao, const TVEZExprNodeField& field) {
  TVEZIntegerArray found;
  return ao->FieldExists(field.FFieldName, field.FTableName, true, &found, false, false);
}

TVEZSelectListItem ColumnOf(const TVEZExprNodeField& field) {
  TVEZSelectListItem item;
  item.TableName = field.FTableName;
  item.FieldName = field.FFieldName;
  return item;
}

// The node is a join condition between ao1 and ao2: its columns go to the
// lists, the one found in ao1 first.
bool TakeJoinCondition(TVEZExprNode* node, TVEZAO* ao1, TVEZAO* ao2, TVEZFields& list1,
                       TVEZFields& list2) {
  if (node == nullptr || !node->IsJoinCondition(ao1, ao2)) return false;
  TVEZExprNodeField* first = PlainField(node->Children[0].get());
  TVEZExprNodeField* second = PlainField(node->Children[1].get());
  if (Matches(ao1, *first) == 0) std::swap(first, second);
  list1.Append(ColumnOf(*first));
  list2.Append(ColumnOf(*second));
  return true;
}

}  // namespace

bool TVEZExprNodeComparison::IsJoinCondition(TVEZAO* ao1, TVEZAO* ao2) {
  if (Operator != doEQ || FQuantifier != qUNDEFINED || Children.size() != 2) return false;
  TVEZExprNodeField* first = PlainField(Children[0].get());
  TVEZExprNodeField* second = PlainField(Children[1].get());
  if (first == nullptr || second == nullptr || ao1 == nullptr || ao2 == nullptr) return false;
  const std::int32_t e1 = Matches(ao1, *first);
  const std::int32_t f1 = Matches(ao2, *first);
  const std::int32_t e2 = Matches(ao1, *second);
  const std::int32_t f2 = Matches(ao2, *second);
  if (e1 + f1 > 1) {
    throw EVEZException(10404, "Ambiguous field reference to '%s'", {first->FFieldName});
  }
  if (e2 + f2 > 1) {
    throw EVEZException(10405, "Ambiguous field reference to '%s'", {second->FFieldName});
  }
  return e1 + f1 == 1 && e2 + f2 == 1 && e1 != e2;
}

std::int32_t TVEZExpression::ExtractJoinConditions(TVEZAO* ao1, TVEZAO* ao2,
                                                   TVEZFields& field_list1,
                                                   TVEZFields& field_list2) {
  TVEZExprNode* root = FRootExprNode.get();
  if (root == nullptr) return 0;
  std::int32_t count = 0;
  if (root->Kind() == TVEZExprNodeKind::Boolean && root->Operator == doAND) {
    std::vector<std::unique_ptr<TVEZExprNode>> kept;
    for (auto& child : root->Children) {
      if (TakeJoinCondition(child.get(), ao1, ao2, field_list1, field_list2)) {
        ++count;
      } else {
        kept.push_back(std::move(child));
      }
    }
    root->Children = std::move(kept);
    if (root->Children.empty()) FRootExprNode.reset();
    return count;
  }
  if (TakeJoinCondition(root, ao1, ao2, field_list1, field_list2)) {
    FRootExprNode.reset();
    return 1;
  }
  return 0;
}

}  // namespace vez

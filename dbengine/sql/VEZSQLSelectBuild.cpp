// Building the operators of joins, comma-separated FROM lists and set
// operations for the query statements.
#include <memory>
#include <string>
#include <utility>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/sql/VEZAO.h"
#include "dbengine/sql/VEZAOJoin.h"
#include "dbengine/sql/VEZAOUnion.h"
#include "dbengine/sql/VEZExpression.h"
#include "dbengine/sql/VEZFields.h"
#include "dbengine/sql/VEZSQLSelect.h"

namespace vez {

std::unique_ptr<TVEZAO> TVEZSQLSelect::BuildFromTree(TVEZQuery* query, TVEZAO* parent_query_ao,
                                                     TVEZCursor* parent_cursor,
                                                     bool allow_not_applied_conditions) {
  if (FromTables.empty()) RaiseNotImplementedYet("a query without FROM");
  std::unique_ptr<TVEZAO> root = BuildReference(*FromTables.front(), query, parent_query_ao,
                                                parent_cursor, allow_not_applied_conditions);
  for (std::size_t i = 1; i < FromTables.size(); ++i) {
    std::unique_ptr<TVEZAO> next = BuildReference(*FromTables[i], query, parent_query_ao,
                                                  parent_cursor, allow_not_applied_conditions);
    TVEZFields keys1;
    TVEZFields keys2;
    const std::int32_t found = SearchCondition ? SearchCondition->ExtractJoinConditions(
                                                     root.get(), next.get(), keys1, keys2)
                                               : 0;
    root = std::make_unique<TVEZAOJoin>(std::move(root), std::move(next),
                                        found > 0 ? ajtInner : ajtCross, false, &keys1, &keys2,
                                        nullptr);
  }
  return root;
}

std::unique_ptr<TVEZAO> TVEZSQLSelect::BuildJoin(TVEZTableReference& ref, TVEZQuery* query,
                                                 TVEZAO* parent_query_ao, TVEZCursor* parent_cursor,
                                                 bool allow_not_applied_conditions) {
  std::unique_ptr<TVEZAO> left = BuildReference(*ref.LeftTable, query, parent_query_ao,
                                                parent_cursor, allow_not_applied_conditions);
  std::unique_ptr<TVEZAO> right = BuildReference(*ref.RightTable, query, parent_query_ao,
                                                 parent_cursor, allow_not_applied_conditions);
  const bool outer =
      ref.JoinType == ajtLeftOuter || ref.JoinType == ajtRightOuter || ref.JoinType == ajtFullOuter;
  const bool keyed = ref.JoinType != ajtCross && !ref.NaturalJoin;
  TVEZFields keys1;
  TVEZFields keys2;
  if (keyed && !ref.UsingFields.empty()) {
    auto qualifier = [](const TVEZAO& ao) {
      return ao.TableAlias().empty() ? ao.TableName() : ao.TableAlias();
    };
    for (const std::string& name : ref.UsingFields) {
      TVEZSelectListItem column;
      column.FieldName = name;
      column.TableName = qualifier(*left);
      keys1.Append(column);
      column.TableName = qualifier(*right);
      keys2.Append(column);
    }
  } else if (keyed) {
    std::int32_t found = 0;
    if (ref.SearchCondition)
      found = ref.SearchCondition->ExtractJoinConditions(left.get(), right.get(), keys1, keys2);
    if (found == 0) {
      for (TVEZTableReference* child : {ref.LeftTable.get(), ref.RightTable.get()}) {
        if (child->SearchCondition)
          child->SearchCondition->ExtractJoinConditions(left.get(), right.get(), keys1, keys2);
      }
    }
    if (ref.JoinType == ajtInner && SearchCondition)
      SearchCondition->ExtractJoinConditions(left.get(), right.get(), keys1, keys2);
  }
  std::unique_ptr<TVEZExpression> condition;
  if (outer && ref.SearchCondition && !ref.SearchCondition->IsEmpty())
    condition = std::move(ref.SearchCondition);
  auto join = std::make_unique<TVEZAOJoin>(std::move(left), std::move(right), ref.JoinType,
                                           ref.NaturalJoin, keyed ? &keys1 : nullptr,
                                           keyed ? &keys2 : nullptr, std::move(condition));
  if (!outer && ref.SearchCondition && !ref.SearchCondition->IsEmpty()) {
    ref.SearchCondition->ApplyFilterParts(join.get(), parent_query_ao, parent_cursor, true, false);
    if (!ref.SearchCondition->IsEmpty())
      throw EVEZException(20270, "ON condition for JOIN is not applicable");
  }
  return join;
}

std::unique_ptr<TVEZAO> TVEZSQLUnion::BuildSetNode(TVEZQueryExprNode& node, TVEZQuery* query,
                                                   TVEZAO* parent_query_ao,
                                                   TVEZCursor* parent_cursor,
                                                   bool allow_not_applied_conditions) {
  if (node.NodeType == qetSelect) {
    return std::unique_ptr<TVEZAO>(node.SelectCommand->BuildAOTree(
        query, true, parent_query_ao, parent_cursor, allow_not_applied_conditions));
  }
  std::unique_ptr<TVEZAO> left =
      BuildSetNode(*node.Left, query, parent_query_ao, parent_cursor, allow_not_applied_conditions);
  std::unique_ptr<TVEZAO> right = BuildSetNode(*node.Right, query, parent_query_ao, parent_cursor,
                                               allow_not_applied_conditions);
  TVEZUnionType type = autUnion;
  if (node.NodeType == qetExcept) type = autExcept;
  if (node.NodeType == qetIntersect) type = autIntersect;
  TVEZFields by;
  for (const std::string& name : node.CorrespondingFields) {
    TVEZSelectListItem column;
    column.FieldName = name;
    by.Append(column);
  }
  return std::make_unique<TVEZAOUnion>(std::move(left), std::move(right), type, parent_query_ao,
                                       parent_cursor, node.Corresponding, !node.All,
                                       node.CorrespondingFields.empty() ? nullptr : &by);
}

}  // namespace vez

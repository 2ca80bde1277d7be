// Prints a parsed query statement as one line, so that parse tests compare
// the whole tree with a text:
//   query:     [INTO [mem] [imm] [db.]t ]<node>[ ORDER <sort_items>]
//   node:      {<select>} | UNION|EXCEPT|INTERSECT[all][,corr(a,b)](<node>,<node>)
//   select:    SELECT[distinct][ top n,m] <items>[ INTO ..] FROM <refs>[ WHERE <tree>]
//              [ GROUP <cols>][ HAVING <tree>][ ORDER <sort_items>]
//   item:      t.col | t.* | expr(<tree>)[dup], each [ AS p]
//   reference: [mem ][db.]t[ AS x][ PASSWORD p] | (<ref> <JOIN>[nat] <ref>[ ON <tree>]
//              [ USING(a,b)]) | SUB(<query>)[ AS x]
// Expression trees print with ShapeText.
#pragma once

#include <string>
#include <vector>

#include "ExprTestSupport.h"
#include "dbengine/sql/VEZExpression.h"
#include "dbengine/sql/VEZSQLSelect.h"

namespace vez::test {

inline std::string JoinNames(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names)
    text += (text.empty() ? "" : ",") + name;
  return text;
}

inline std::string ExprText(const TVEZExpression* e) {
  return e == nullptr ? "nil" : ShapeText(e->Root());
}

inline std::string IntoText(const TVEZSQLCursorCommand& c) {
  if (c.IntoTable.empty()) return "";
  std::string text = " INTO ";
  if (c.IntoMemory) text += "mem ";
  if (c.IntoImmediate) text += "imm ";
  if (!c.IntoDatabase.empty()) text += c.IntoDatabase + ".";
  return text + c.IntoTable;
}

inline std::string OrderText(const TVEZSQLCursorCommand& c) {
  if (c.OrderBySpecs.empty()) return "";
  std::string text = " ORDER ";
  for (std::size_t i = 0; i < c.OrderBySpecs.size(); ++i) {
    const TVEZSortSpecification& s = c.OrderBySpecs[i];
    if (i > 0) text += ",";
    if (!s.TableName.empty()) text += s.TableName + ".";
    text += s.ColumnName;
    if (s.Descending) text += " DESC";
  }
  return text;
}

std::string QueryText(const TVEZSQLUnion& q);

inline std::string JoinTypeText(TVEZJoinType t) {
  switch (t) {
    case ajtCross:
      return "CROSS";
    case ajtInner:
      return "INNER";
    case ajtLeftOuter:
      return "LEFT";
    case ajtRightOuter:
      return "RIGHT";
    case ajtFullOuter:
      return "FULL";
  }
  return "?";
}

inline std::string ReferenceText(const TVEZTableReference& r) {
  std::string text;
  switch (r.TableType) {
    case attTable:
      if (r.InMemory) text += "mem ";
      if (!r.DatabaseName.empty()) text += r.DatabaseName + ".";
      text += r.TableName;
      break;
    case attSubQuery:
      text = "SUB(" + (r.SubQuery ? QueryText(*r.SubQuery) : std::string("nil")) + ")";
      break;
    case attJoinedTable:
      text = "(" + ReferenceText(*r.LeftTable) + " " + JoinTypeText(r.JoinType) +
             (r.NaturalJoin ? "[nat] " : " ") + ReferenceText(*r.RightTable);
      if (r.SearchCondition) text += " ON " + ExprText(r.SearchCondition.get());
      if (!r.UsingFields.empty()) text += " USING(" + JoinNames(r.UsingFields) + ")";
      text += ")";
      break;
  }
  if (r.TableType != attJoinedTable || !r.Pseudonym.empty()) {
    if (!r.Pseudonym.empty()) text += " AS " + r.Pseudonym;
    if (!r.Password.empty()) text += " PASSWORD " + r.Password;
  }
  return text;
}

inline std::string SelectText(const TVEZSQLSelect& s) {
  std::string text = "SELECT";
  if (s.Distinct) text += "[distinct]";
  if (s.TopRowCount != -1 || s.FirstRowNo != -1)
    text += " top " + std::to_string(s.TopRowCount) + "," + std::to_string(s.FirstRowNo);
  if (s.AllFields) {
    text += " *";
  } else {
    for (std::size_t i = 0; i < s.SelectList.size(); ++i) {
      const TVEZSelectListItem& item = s.SelectList[i];
      text += i == 0 ? " " : ", ";
      if (item.IsExpression) {
        text += "expr(" + ExprText(item.ValueExpr) + ")";
        if (item.IsDuplicatedField) text += "[dup]";
      } else {
        if (!item.TableName.empty()) text += item.TableName + ".";
        text += item.FieldName;
        if (item.ValueExpr != nullptr) text += "[has expr]";
      }
      if (!item.Pseudonym.empty()) text += " AS " + item.Pseudonym;
    }
  }
  text += IntoText(s) + " FROM ";
  for (std::size_t i = 0; i < s.FromTables.size(); ++i)
    text += (i > 0 ? ", " : "") + ReferenceText(*s.FromTables[i]);
  if (s.SearchCondition) text += " WHERE " + ExprText(s.SearchCondition.get());
  if (s.GroupByFields.ItemCount() > 0) {
    text += " GROUP ";
    for (std::size_t i = 0; i < s.GroupByFields.Items.size(); ++i) {
      const TVEZSelectListItem& g = s.GroupByFields.Items[i];
      text += (i > 0 ? "," : "") + (g.TableName.empty() ? "" : g.TableName + ".") + g.FieldName;
    }
  }
  if (s.HavingCondition) text += " HAVING " + ExprText(s.HavingCondition.get());
  return text + OrderText(s);
}

inline std::string NodeText(const TVEZQueryExprNode& n) {
  if (n.NodeType == qetSelect)
    return "{" + (n.SelectCommand ? SelectText(*n.SelectCommand) : std::string("nil")) + "}";
  std::string text = n.NodeType == qetUnion    ? "UNION"
                     : n.NodeType == qetExcept ? "EXCEPT"
                                               : "INTERSECT";
  std::string flags;
  if (n.All) flags = "all";
  if (n.Corresponding) {
    if (!flags.empty()) flags += ",";
    flags += "corr";
    if (!n.CorrespondingFields.empty()) flags += "(" + JoinNames(n.CorrespondingFields) + ")";
  }
  if (!flags.empty()) text += "[" + flags + "]";
  return text + "(" + NodeText(*n.Left) + "," + NodeText(*n.Right) + ")";
}

inline std::string QueryText(const TVEZSQLUnion& q) {
  std::string into = IntoText(q);
  if (!into.empty()) into = into.substr(1) + " ";
  return into + (q.FRootNode ? NodeText(*q.FRootNode) : std::string("nil")) + OrderText(q);
}

}  // namespace vez::test

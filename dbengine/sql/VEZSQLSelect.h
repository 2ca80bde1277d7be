// The query statements: TVEZSQLSelect (one SELECT) and TVEZSQLUnion (a whole
// query: a lone SELECT, a SELECT in parentheses, or SELECTs joined by UNION,
// EXCEPT / MINUS and INTERSECT), with the objects they parse into: the FROM
// tree (TVEZTableReference) and the set-operation tree (TVEZQueryExprNode).
//
// A statement parses in its constructor, from the lexer's current token, and
// leaves the lexer on the first token after the query; a parse error frees
// what was built and leaves no object behind. The dispatcher makes a
// TVEZSQLUnion for every query; the same classes serve sub-queries in FROM
// and in expressions, INSERT ... SELECT, UPDATE and DELETE.
//
// BuildAOTree builds the operator tree of one FROM table or sub-query (joins,
// FROM lists, grouping and set operations raise 30058 until they are built).
// A statement object builds its tree once.
//
// Thread safety: none; a statement belongs to one processor.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/sql/VEZFields.h"
#include "dbengine/sql/VEZSQLProcessor.h"

namespace vez {

class TVEZDatabase;
class TVEZExpression;
class TVEZSQLUnion;

// One FROM entry: a table, a join of two references, or a sub-query. A
// reference owns its children, its ON condition, its sub-query and the
// database object made for a table of another database file.
class TVEZTableReference {
 public:
  TVEZTableReference();
  ~TVEZTableReference();
  TVEZTableReference(const TVEZTableReference&) = delete;
  TVEZTableReference& operator=(const TVEZTableReference&) = delete;

  // The reference's present content (type, names, password, flags, join
  // type, children, USING list, ON condition, sub-query) moves into a new
  // reference that becomes LeftTable; right becomes RightTable; this one
  // becomes a join of the given kind. Its own name strings stay. So joins grow
  // to the left: a JOIN b JOIN c is ((a, b), c).
  void MakeJoin(std::unique_ptr<TVEZTableReference> right, TVEZJoinType join_type, bool is_natural,
                std::vector<std::string> using_fields,
                std::unique_ptr<TVEZExpression> on_condition);
  // Becomes a sub-query parsed from the lexer's current token (a SELECT or a
  // left parenthesis); the lexer is left after it.
  void MakeSubQuery(TVEZLexer* lexer, TVEZQuery* query);

  TVEZTableType TableType = attTable;
  std::string DatabaseName;
  std::string TableName;
  std::string Pseudonym;
  std::string Password;
  bool InMemory = false;
  bool NaturalJoin = false;
  TVEZJoinType JoinType = ajtCross;
  std::unique_ptr<TVEZTableReference> LeftTable;
  std::unique_ptr<TVEZTableReference> RightTable;
  // USING columns; empty without USING.
  std::vector<std::string> UsingFields;
  // The ON condition; null without ON.
  std::unique_ptr<TVEZExpression> SearchCondition;
  std::unique_ptr<TVEZSQLUnion> SubQuery;
  std::unique_ptr<TVEZDatabase> ExternalDBToFree;
};

class TVEZSQLSelect;

// Makes ao deliver its rows in the order of sort_items: a bare integer n names the
// n-th result column; an unknown column raises 30195.
void ApplyOrderByToAO(TVEZAO& ao, const std::vector<TVEZSortSpecification>& sort_items);

// A node of a query expression: a SELECT, or a set operation over two
// nodes. A node owns its children and its SELECT.
class TVEZQueryExprNode {
 public:
  // An empty qetSelect node.
  TVEZQueryExprNode();
  ~TVEZQueryExprNode();
  TVEZQueryExprNode(const TVEZQueryExprNode&) = delete;
  TVEZQueryExprNode& operator=(const TVEZQueryExprNode&) = delete;

  // The node's present content moves into a new node that becomes Left;
  // right becomes Right; the node takes the new type, the flags and the
  // column list and has no SELECT of its own any more.
  void AddNode(TVEZQueryExprType new_type, std::unique_ptr<TVEZQueryExprNode> right, bool all,
               bool corresponding, std::vector<std::string> column_list);
  // A SELECT node answers its SELECT's; a set node True only when both
  // children do.
  bool AllConditionsApplied();
  // Whether its SELECT (or any SELECT below a set node) has an INTO table.
  bool HasInto() const;

  TVEZQueryExprType NodeType = qetSelect;
  std::unique_ptr<TVEZQueryExprNode> Left;
  std::unique_ptr<TVEZQueryExprNode> Right;
  bool All = false;
  bool Corresponding = false;
  // The CORRESPONDING BY columns; empty when no BY list was given.
  std::vector<std::string> CorrespondingFields;
  // The SELECT of a qetSelect node.
  std::unique_ptr<TVEZSQLSelect> SelectCommand;
};

// One SELECT.
class TVEZSQLSelect : public TVEZSQLCursorCommand {
 public:
  // Parses the SELECT starting on the lexer's current token.
  TVEZSQLSelect(TVEZLexer* lexer, TVEZQuery* query);
  // Frees the items' expressions, WHERE, HAVING and the FROM references.
  ~TVEZSQLSelect() override;

  void Parse() override;
  bool AllConditionsApplied() override;
  TVEZAO* BuildAOTree(TVEZQuery* query, bool request_live, TVEZAO* parent_query_ao,
                      TVEZCursor* parent_cursor, bool allow_not_applied_conditions) override;

  std::int32_t SelectListCount() const { return static_cast<std::int32_t>(SelectList.size()); }
  std::int32_t FromTablesCount() const { return static_cast<std::int32_t>(FromTables.size()); }

  bool Distinct = false;
  // TOP n [, m]: n, and m; -1 when not given.
  std::int32_t TopRowCount = -1;
  std::int32_t FirstRowNo = -1;
  // The select list is a lone `*`.
  bool AllFields = false;
  // The items own their ValueExpr until an operator takes it over.
  std::vector<TVEZSelectListItem> SelectList;
  std::vector<std::unique_ptr<TVEZTableReference>> FromTables;
  // WHERE; null without.
  std::unique_ptr<TVEZExpression> SearchCondition;
  TVEZFields GroupByFields;
  // HAVING; null without.
  std::unique_ptr<TVEZExpression> HavingCondition;
  // A sub-query in FROM left conditions it could not apply.
  bool FSubqueryHasNotAppliedConditions = false;

 private:
  std::unique_ptr<TVEZAO> BuildReference(TVEZTableReference& ref, TVEZQuery* query,
                                         TVEZAO* parent_query_ao, TVEZCursor* parent_cursor,
                                         bool allow_not_applied_conditions);
  void ParseSelectList();
  void ParseInto();
  void ParseFrom();
  // One FROM entry with the joins after it; null when the current token
  // starts none.
  std::unique_ptr<TVEZTableReference> ParseTableReference();
  std::unique_ptr<TVEZTableReference> ParseSimpleReference();
  std::unique_ptr<TVEZExpression> ParseCondition();
  void FreeSelectList();

  // ---- joins and comma lists (VEZSQLSelectBuild.cpp)
  // The FROM references joined from the left: each next one joins the tree
  // so far, inner on the WHERE equalities between them, else cross.
  std::unique_ptr<TVEZAO> BuildFromTree(TVEZQuery* query, TVEZAO* parent_query_ao,
                                        TVEZCursor* parent_cursor,
                                        bool allow_not_applied_conditions);
  // A joined reference: keys from USING or from the ON equalities (and, for
  // an inner join, the WHERE ones); an outer join keeps the rest of ON, an
  // inner or cross join pushes it into its inputs (20270 when some part
  // cannot be evaluated there).
  std::unique_ptr<TVEZAO> BuildJoin(TVEZTableReference& ref, TVEZQuery* query,
                                    TVEZAO* parent_query_ao, TVEZCursor* parent_cursor,
                                    bool allow_not_applied_conditions);
};

// A whole query: the set-operation tree of its SELECTs, with the ORDER BY
// and INTO that apply to the whole result.
class TVEZSQLUnion : public TVEZSQLCursorCommand {
 public:
  // Parses the query starting on the lexer's current token.
  TVEZSQLUnion(TVEZLexer* lexer, TVEZQuery* query);
  ~TVEZSQLUnion() override;

  void Parse() override;
  bool AllConditionsApplied() override;
  TVEZAO* BuildAOTree(TVEZQuery* query, bool request_live, TVEZAO* parent_query_ao,
                      TVEZCursor* parent_cursor, bool allow_not_applied_conditions) override;

  std::unique_ptr<TVEZQueryExprNode> FRootNode;

 private:
  std::unique_ptr<TVEZQueryExprNode> ParseQueryExpression();
  std::unique_ptr<TVEZQueryExprNode> ParseQueryTerm();
  std::unique_ptr<TVEZQueryExprNode> ParseQueryPrimary();
  // [ALL] [CORRESPONDING [BY (columns [)]]] after a set operator word.
  void ParseSetOptions(bool& all, bool& corresponding, std::vector<std::string>& columns);

  // ---- set operations (VEZSQLSelectBuild.cpp)
  // A SELECT node builds its SELECT live; a set node its two children and
  // the set operator over them.
  std::unique_ptr<TVEZAO> BuildSetNode(TVEZQueryExprNode& node, TVEZQuery* query,
                                       TVEZAO* parent_query_ao, TVEZCursor* parent_cursor,
                                       bool allow_not_applied_conditions);
};

}  // namespace vez

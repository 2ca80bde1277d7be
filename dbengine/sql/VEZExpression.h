// TVEZExpression: the one handle through which the engine uses an expression
// tree: the storage engine's record filters, column defaults and index scans
// (through TVEZBaseExpression), the local cursor's filters, locates and
// record-match tests, the statements and the relational operators. It owns
// the tree's root (and through it every node), binds the tree to a cursor, a
// record buffer or an operator, evaluates it, and offers the tree operations
// the planner and the scan protocol use. Also here: the utility functions of
// the expression unit.
//
// Evaluation: bind (AssignCursor, AssignCursorBuffer or AssignAO; each ends by
// re-typing constants against the bound fields), then GetValue or GetResult.
// GetResult reads NULL as False, so a record whose condition is unknown does
// not pass a filter.
//
// Parsing (VEZExpressionParser.cpp) is a recursive descent with backtracking
// over one command of a lexer: a rule either returns a tree, leaving the lexer
// after what it used, or returns nothing and frees what it built.
//
// Subqueries parse only inside a statement (a query dataset is given; a
// filter's own lexer would not outlive the tree) and cannot run yet. Not yet
// either: ExtractJoinConditions. ApplyFilterParts is defined beside the
// relational operators (VEZAO.cpp).
//
// Thread safety: none. An expression is used by one thread at a time; its
// evaluation state lives in the nodes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZLexer.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/sql/VEZExprNode.h"
#include "dbengine/storage/VEZBaseExpression.h"

namespace platform {
class DataSet;
class Variant;
}  // namespace platform

namespace vez {

class TVEZExpression : public TVEZBaseExpression {
 public:
  // Empty: no root, no lexer, case-insensitive and partial-key off,
  // three-valued logic on.
  TVEZExpression();
  // Takes root over as the tree.
  explicit TVEZExpression(std::unique_ptr<TVEZExprNode> root);
  // Frees the tree; the lexer is borrowed and stays.
  ~TVEZExpression() override;

  // ---- The storage engine's seam.

  // Parses text (without parameters) as one value expression; true only
  // when it holds exactly one command and no token is left after the
  // expression. Every error is swallowed (false). The tree stays whatever the
  // answer.
  bool ParseForDefaultValueExpression(const std::string& text) override;
  // See TVEZBaseExpression.
  void ParseForFilter(TVEZCursor* cursor, const std::string& filter, bool case_insensitive,
                      bool partial_key) override;
  void ParseForLocate(TVEZCursor* cursor, const std::string& field_names,
                      const platform::Variant& key_values, bool case_insensitive,
                      bool partial_key) override;
  void ParseForIsAnyRecordMatchCondition(TVEZCursor* cursor, const std::string& field_name,
                                         TVEZDataOperator data_operator,
                                         const TVEZVariant& value) override;
  // Null without a root; else the root's value (owned by the root node). A
  // NULL value becomes Boolean False in place when true_false_null_logic is
  // false.
  TVEZVariant* GetValue(bool true_false_null_logic) override;
  // GetValue(false) read as a Boolean. No root: 30110 "Value is Null".
  bool GetResult() override;
  // No root, or a Boolean root without children.
  bool IsEmpty() const override;
  // The root's binding, then AdjustConstTypes. Nothing without a root.
  void AssignCursor(TVEZCursor* cursor, TVEZAO* parent_query_ao,
                    TVEZCursor* parent_cursor) override;
  void AssignCursorBuffer(std::uint8_t* buffer, bool apply_to_parent_query_fields) override;
  // The comparisons and IS [NOT] NULL tests of the top AND level (the root,
  // or the children of AND roots, to any depth of AND) are offered to every
  // index in turn; each usable index gets one condition from the node.
  // Nodes under OR, NOT and other operators are never offered.
  void CreateIndexScanConditions(const TVEZIndexDefs& index_defs,
                                 TVEZScanSearchConditionArray& conditions,
                                 std::int32_t session_id) override;
  void TryCreateIndexScanConditionsFromNode(TVEZExprNode* node, const TVEZIndexDefs& index_defs,
                                            TVEZScanSearchConditionArray& conditions,
                                            std::int32_t session_id);
  // The first node of the top AND level that adds the next key column of
  // index_def to condition does so; true when one did.
  bool ExtendMultiFieldIndexCondition(TVEZScanSearchCondition& condition,
                                      const TVEZIndexDef& index_def) override;
  // False once the key covers every column of index_def.
  bool ExtendMultiFieldIndexConditionFromNode(TVEZExprNode* node,
                                              TVEZScanSearchCondition& condition,
                                              const TVEZIndexDef& index_def);
  // For each chosen condition (numbers 0 to Count - 1), each of its nodes
  // that came from this expression leaves the tree without being freed: the
  // root is released, a child of the root is removed from its list. A node
  // no longer in the tree, or deeper than the root's children, is passed
  // over and stays.
  void RemoveExtractedNodes(const TVEZScanSearchConditionArray& conditions,
                            std::int32_t scan_condition_no,
                            std::int32_t scan_end_condition_no) override;
  // Takes node over: appended to the root's children, or made the root. A
  // node that is in the tree already (one RemoveExtractedNodes passed over)
  // is left where it is.
  void AddNode(TVEZExprNode* node) override;

  // ---- Parsing for statements.

  // Frees the tree, then reads one search condition from lexer's current
  // token on; the lexer is left after it (the caller checks what follows).
  // No current token raises 30118, no condition 30066; nested ANDs are
  // flattened, and with LCursor set constants are re-typed.
  void ParseForBooleanExpression(platform::DataSet* dataset, TVEZLexer* lexer);
  // Reads one value expression from lexer's current token on; the root is
  // null when none parses (no error). No current token raises 30136.
  void ParseForValueExpression(platform::DataSet* dataset, TVEZLexer* lexer);
  // Reads a row subquery ((SELECT ...) giving the values of one row) from
  // lexer's current token on; the root is null when none starts there. No
  // current token raises 30497; dataset (the statement's query) is required.
  void ParseForRowSubqueryExpression(platform::DataSet* dataset, TVEZLexer* lexer);

  // ---- Binding and evaluation beside the seam.

  // The root's AssignAO, then AdjustConstTypes. Nothing without a root.
  void AssignAO(TVEZAO* ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor);
  // Forwarded to the root; without a root nothing happens (null / false).
  void ResetSubqueryFieldValues();
  TVEZVariant* GetSubqueryFieldValue(std::int32_t field_no);
  bool IsAggregated();
  bool IsAggregatedCountAll();
  void Init();
  void Accumulate();
  void SetCountAll(std::int32_t record_count);
  // The root's answers; aftUnknown, 0 and 0 without a root.
  TVEZAdvancedFieldType GetDataType();
  std::int32_t GetDataSize();
  std::int32_t GetPrecision();
  // Forwarded to the root.
  void ReplacePseudonyms(const std::vector<TVEZSelectListItem>& select_list);
  // The root's answer; true without a root.
  bool CanBeUsedInGroupBy(const std::string& group_by_fields);

  // ---- Field tests.

  // The root is a field node.
  bool IsField() const;
  // The root, or one of its direct children, is a field node.
  bool IsFieldsExpression() const;
  // The table and column name of a field root; another root (or none)
  // raises 30198 "Node is not a field".
  void GetFieldInfo(std::string& table_name, std::string& field_name) const;

  // ---- Tree operations.

  // In an AND root, every AND child is replaced by its children (appended at
  // the end, in order), to any depth: AND(a, AND(b, AND(c, d)), e) becomes
  // AND(a, e, b, c, d). Another root, or none, is left alone.
  void MoveAndNodesToRoot();
  // Takes expr's tree: it becomes the root when this expression has none;
  // otherwise it joins the root under an AND (a new AND root over the old
  // root when the root is not one), flattened by MoveAndNodesToRoot. expr is
  // left empty. An expr without a root changes nothing.
  void AddAndMoveNodesFromExpression(TVEZExpression& expr);
  // Hands every AND part the operator (with allow_recurse, first its
  // children, except below an outer join) can evaluate to that operator's
  // filter, and removes it from this expression; IsEmpty tells whether
  // anything is left.
  void ApplyFilterParts(TVEZAO* ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor,
                        bool allow_recurse, bool for_having_clause);

  TVEZExprNode* Root() const { return FRootExprNode.get(); }
  // Frees the old tree and takes root over.
  void SetRoot(std::unique_ptr<TVEZExprNode> root);
  // Hands the tree to the caller; the expression is left empty.
  std::unique_ptr<TVEZExprNode> ReleaseRoot();

  // The lexer of the last parse (borrowed) and the parser's current token.
  TVEZLexer* LLex = nullptr;
  TToken Token;
  // Cursor that field nodes are bound to while parsing (borrowed).
  TVEZCursor* LCursor = nullptr;
  // The statement's query dataset, handed to subquery nodes (borrowed).
  platform::DataSet* LDataset = nullptr;
  // Flags given to comparison and LIKE nodes while parsing.
  bool FCaseInsensitive = false;
  bool FPartialKey = false;
  // TrueFalseNullLogic of the comparisons Locate and the record-match test
  // build.
  bool F3ValueLogic = true;
  // Handed to LASTAUTOINC nodes.
  bool FInMemory = false;
  std::string FDatabaseName;
  std::string FSessionName;

 private:
  std::unique_ptr<TVEZExprNode> FRootExprNode;
  // Nodes out of the tree for a scan, until AddNode puts them back.
  std::vector<TVEZExprNode*> FExtractedNodes;
};

// ---------------------------------------------------------------------------
// Utility functions of the expression unit.

// Display text of an operator for error messages ("=", "<>", "AND", "LIKE",
// "+", "COUNT(*)" ...); "unknown" for the others.
std::string OperatorToText(TVEZDataOperator op);
// From the 1-based position pos, the text up to the next ';' (or the end),
// trimmed of blanks; pos moves past the ';' (or past the end).
std::string ExtractListItem(const std::string& text, std::size_t& pos);
// The upper-cased items of a ';'-separated list: "A;;B" gives A, "" and B; a
// final ';' adds no empty item; an empty text gives none.
void SplitFieldNamesList(std::vector<std::string>& list, const std::string& text);
// The operator for swapped operands (> and < swap, >= and <= swap, = and <>
// stay); doUNDEFINED for any other operator.
TVEZDataOperator MirrorComparison(TVEZDataOperator op);
// The negated comparison (= and <> swap, > becomes <=, < becomes >=, >=
// becomes <, <= becomes >); doUNDEFINED for any other operator.
TVEZDataOperator NegateComparison(TVEZDataOperator op);
// Whether a column's stored default text is an expression to evaluate when a
// record is inserted rather than a literal: a non-empty string that parses as
// one value expression naming no column and giving a value, and that calls a
// function whose value is not fixed when it is parsed (SYSDATE, NOW,
// CURRENT_TIMESTAMP, CURRENT_DATE, CURRENT_TIME, RAND, LASTAUTOINC, ROWNUM) or
// is one quoted string. So 2016-09-20 (which would compute 1987) is a literal
// and NOW is an expression. Never raises for text that does not parse.
bool IsDefaultValueExpression(const TVEZVariant& value);

}  // namespace vez

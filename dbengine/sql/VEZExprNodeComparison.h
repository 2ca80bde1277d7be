// TVEZExprNodeComparison: the six comparison operators between two operands.
// The result is always True or False. F3ValueLogic (TrueFalseNullLogic) makes
// every comparison with a NULL operand False, <> included; without it NULL
// orders below every value and equals NULL. Strings compare with the node's
// case and partial-key (prefix of the right operand's length) flags.
//
// Index scans: a comparison of a column (or UPPER / LOWER of one) with a
// constant gives a key bound on an index that begins with (or continues with)
// that column. Quantified comparisons (ALL / ANY over a subquery) and the
// join side are not built yet.
//
// Thread safety: none (see VEZExprNode.h).
#pragma once

#include "dbengine/sql/VEZExprNode.h"

namespace vez {

class TVEZExprNodeField;

enum TVEZQuantifier : std::uint8_t { qUNDEFINED = 0, qALL = 1, qANY = 2 };

class TVEZExprNodeComparison : public TVEZExprNode {
 public:
  // Children (left, right); the value starts NULL.
  TVEZExprNodeComparison(TVEZDataOperator op, TNodePtr node1, TNodePtr node2,
                         bool true_false_null_logic, bool case_insensitive, bool partial_key);
  TVEZExprNodeComparison(TVEZDataOperator op, TVEZQuantifier quantifier, TNodePtr node1,
                         TNodePtr node2, bool true_false_null_logic, bool case_insensitive,
                         bool partial_key);

  // Children first; then, when there is a field child and a constant child
  // (the last of each), the field's type is read (an unbound field raises
  // 30284), and when it is a single-byte string column and the constant a
  // wide string, the constant becomes a single-byte string if that loses no
  // character. A constant with a character Windows-1252 cannot hold stays
  // wide, so it compares as wide text and cannot match a stored '?'.
  void AdjustConstTypes() override;
  // Compares the operands (left evaluated first). An operator other than the
  // six raises 30117; a quantified comparison raises 30058 (not built yet).
  TVEZVariant* GetDataValue() override;

  // Whether column index_column_no of index_def can answer this comparison:
  // a field (or UPPER / LOWER over one) against a constant, the column's
  // name, no BLOB, matching case rule for strings, not partial, one of
  // = < > <= >=, a string constant shorter than the column, only = after the
  // first column (and only extending an scEqual condition), never column 0
  // of another session's temporary index. Under three-valued logic a NULL
  // constant matches nothing and gives no condition; a constant that does
  // not survive conversion to the column's type and back (12.5 for an
  // integer column) gives none either.
  bool CanUseIndex(std::int32_t index_column_no, TVEZSearchCondition condition_search_operator,
                   const TVEZIndexDef& index_def, std::int32_t session_id) override;
  // Appends a new condition on index_def whose key holds the constant. The
  // relation follows the operator (mirrored when the constant is written
  // first) and the direction of the index's first column. A range that runs
  // to the NULL end of the index under three-valued logic keeps the node in
  // its tree (it is not listed in the condition), so NULL keys are rejected.
  // No field or constant: 20055; field unbound: 20054; no columns: 20057.
  void AddAsIndexScanCondition(TVEZScanSearchConditionArray& scan_conditions,
                               const TVEZIndexDef& index_def, TVEZExpression* expression) override;
  // Adds the constant as the next key column.
  void ExtendIndexScanCondition(TVEZScanSearchCondition& scan_condition,
                                const TVEZIndexDef& index_def, TVEZExpression* expression) override;
  // An equality of two plain columns, one found once in ao1 and the other
  // once in ao2: a key pair of a join between them. A name found more than
  // once over the two raises 10404 (first column) or 10405 (second).
  // Defined beside the join operator (VEZAOJoinConditions.cpp).
  bool IsJoinCondition(TVEZAO* ao1, TVEZAO* ao2) override;

  // The field and constant operands (see CanUseIndex); both null when an
  // UPPER / LOWER operand meets a constant of the other case. Over UPPER or
  // LOWER the comparison becomes case-insensitive. field_first tells whether
  // the field is the first operand.
  void GetFieldAndConstNodes(TVEZExprNodeField*& field_node, TVEZExprNode*& const_node,
                             bool* field_first = nullptr);
  // The field node of a field, or of UPPER / LOWER over one; else null.
  static TVEZExprNodeField* GetFieldNode(TVEZExprNode* node);

  bool F3ValueLogic = true;
  TVEZQuantifier FQuantifier = qUNDEFINED;
};

}  // namespace vez

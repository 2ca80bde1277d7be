// TVEZExprNodeComparison: the six comparison operators between two operands.
// The result is always True or False. F3ValueLogic (TrueFalseNullLogic) makes
// every comparison with a NULL operand False, <> included; without it NULL
// orders below every value and equals NULL. Strings compare with the node's
// case and partial-key (prefix of the right operand's length) flags.
//
// Quantified comparisons (ALL / ANY over a subquery) and the join and index
// scan sides are not built yet.
//
// Thread safety: none (see VEZExprNode.h).
#pragma once

#include "dbengine/sql/VEZExprNode.h"

namespace vez {

enum TVEZQuantifier : std::uint8_t { qUNDEFINED = 0, qALL = 1, qANY = 2 };

class TVEZExprNodeComparison : public TVEZExprNode {
 public:
  // Children (left, right); the value starts NULL.
  TVEZExprNodeComparison(TVEZDataOperator op, TNodePtr node1, TNodePtr node2,
                         bool true_false_null_logic, bool case_insensitive, bool partial_key);
  TVEZExprNodeComparison(TVEZDataOperator op, TVEZQuantifier quantifier, TNodePtr node1,
                         TNodePtr node2, bool true_false_null_logic, bool case_insensitive,
                         bool partial_key);

  // Children first; then, when the last field child is a single-byte string
  // column and the last constant child a wide string, the constant becomes a
  // single-byte string if that loses no character. A constant with a
  // character Windows-1252 cannot hold stays wide, so it compares as wide
  // text and cannot match a stored '?'.
  void AdjustConstTypes() override;
  // Compares the operands (left evaluated first). An operator other than the
  // six raises 30117; a quantified comparison raises 30058 (not built yet).
  TVEZVariant* GetDataValue() override;

  bool F3ValueLogic = true;
  TVEZQuantifier FQuantifier = qUNDEFINED;
};

}  // namespace vez

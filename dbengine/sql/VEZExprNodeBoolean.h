// TVEZExprNodeBoolean: the logical connectives and the predicates other than
// plain comparisons. NOT, AND and OR follow three-valued logic (AND and OR
// stop at the first deciding child, so children are evaluated in written
// order); IN and BETWEEN compare text without regard to case; LIKE matches
// with the node's case flag and escape character; IS [NOT] NULL never gives
// NULL. The value is NULL only where these rules say so.
//
// Children by operator: doNOT, doISNULL, doISNOTNULL the operand; doAND any
// number of conditions; doOR two; doIN, doNOTIN the value then the list
// values; doBETWEEN, doNOTBETWEEN value, low, high; doLIKE, doNOTLIKE value,
// pattern. IN and EXISTS over a subquery are not built yet (30058).
//
// Thread safety: none (see VEZExprNode.h).
#pragma once

#include <string>

#include "dbengine/sql/VEZExprNode.h"

namespace vez {

class TVEZExprNodeBoolean : public TVEZExprNode {
 public:
  TVEZExprNodeBoolean(bool case_insensitive, bool partial_key);
  // With the escape text of LIKE and NOT LIKE (empty for none).
  TVEZExprNodeBoolean(TVEZDataOperator op, bool case_insensitive, bool partial_key,
                      std::string escape_str);
  TVEZExprNodeBoolean(TVEZDataOperator op, TNodePtr node, bool case_insensitive, bool partial_key);
  TVEZExprNodeBoolean(TVEZDataOperator op, TNodePtr node1, TNodePtr node2, bool case_insensitive,
                      bool partial_key);
  TVEZExprNodeBoolean(TVEZDataOperator op, TNodePtr node1, TNodePtr node2, TNodePtr node3,
                      bool case_insensitive, bool partial_key);

  // The Boolean result for the bound record (see the head comment). An
  // operator outside the table raises 30116; LIKE over operands without a
  // common string type raises 30120.
  TVEZVariant* GetDataValue() override;

  // Index scans, IS NULL and IS NOT NULL over a field (or UPPER / LOWER of
  // one) named by the index column: IS NULL gives scEqual on a NULL key, IS
  // NOT NULL the keys after NULL (NULL sorts first in an ascending index).
  // Only IS NULL extends an scEqual condition; column 0 of another session's
  // temporary index is never used. Unbound field: 20254; no columns: 20255.
  bool CanUseIndex(std::int32_t index_column_no, TVEZSearchCondition condition_search_operator,
                   const TVEZIndexDef& index_def, std::int32_t session_id) override;
  void AddAsIndexScanCondition(TVEZScanSearchConditionArray& scan_conditions,
                               const TVEZIndexDef& index_def, TVEZExpression* expression) override;
  void ExtendIndexScanCondition(TVEZScanSearchCondition& scan_condition,
                                const TVEZIndexDef& index_def, TVEZExpression* expression) override;

  // Scratch holder for a child's value.
  TVEZVariant TempVal{bftLogical};
  // Escape character of LIKE and NOT LIKE; empty when none.
  std::string EscapeStr;

 private:
  // LIKE of the two children: 1 True, 0 False, -1 NULL.
  int EvaluateLike();
};

}  // namespace vez

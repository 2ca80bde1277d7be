// TVEZExprNodeConst: a literal in an expression tree. Its value object is the
// literal itself; evaluating it returns that object. The tests of the LIKE
// rewrite and of the index scan code (partial patterns, letter case) live
// here.
//
// Thread safety: none (see VEZExprNode.h).
#pragma once

#include <cstdint>

#include "dbengine/sql/VEZExprNode.h"

namespace vez {

class TVEZExprNodeConst : public TVEZExprNode {
 public:
  // A NULL literal of bftUnknown; the creator sets Value.
  TVEZExprNodeConst(bool case_insensitive = false, bool partial_key = false);

  // Value itself.
  TVEZVariant* GetDataValue() override;
  // The advanced type of the value's storage type (aftUnknown for an untyped
  // NULL).
  TVEZAdvancedFieldType GetDataType() override;
  // 0 for NULL and non-strings; bytes of the text otherwise (two per
  // character for a wide string).
  std::int32_t GetDataSize() override;
  // Always true.
  bool CanBeAssigned(TVEZAO* ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor,
                     bool for_having_clause) override;

  // True when the text has at least two characters and its only '%' is the
  // last one (a LIKE pattern that is a plain prefix).
  bool IsLikePatternEqualToPartialComparePattern() const;
  // Drops the text's last character, keeping it wide or single-byte.
  void TruncateForPartialCompare();
  // False for a value that is not a string; else whether the text equals its
  // upper-case (lower-case) form.
  bool IsUpperCase() const;
  bool IsLowerCase() const;
};

}  // namespace vez

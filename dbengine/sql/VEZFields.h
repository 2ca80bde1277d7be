// The select-list record and the column-reference array the query
// statements, the expression object and the relational operators share: a
// SELECT's items, a GROUP BY list, the two column lists of a join and a
// CORRESPONDING list.
//
// Thread safety: none; plain data owned by one statement or operator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vez {

class TVEZExpression;

// One select-list entry, or one column reference of a field list. Copied
// freely: ValueExpr is not owned by the record but by the holder of the list
// (the SELECT, until an operator takes the expression over and clears the
// field).
class TVEZSelectListItem {
 public:
  // Qualifying table name or alias; empty when unqualified.
  std::string TableName;
  // The entry is `T.*` (a lone `*` is the statement's own flag).
  bool AllFields = false;
  // Column name; for an expression entry the result column it becomes.
  std::string FieldName;
  bool IsExpression = false;
  // A repeated plain column turned into an expression entry.
  bool IsDuplicatedField = false;
  // The entry's expression; null for a plain column.
  TVEZExpression* ValueExpr = nullptr;
  // AS name; empty when none.
  std::string Pseudonym;
};

// A growable array of column references.
class TVEZFields {
 public:
  // Copies item into a new last slot.
  void Append(const TVEZSelectListItem& item) { Items.push_back(item); }
  std::int32_t ItemCount() const { return static_cast<std::int32_t>(Items.size()); }

  std::vector<TVEZSelectListItem> Items;
};

}  // namespace vez

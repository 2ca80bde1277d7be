// Index scan conditions. A TVEZScanSearchCondition is one bound of a key range
// on one index (a search relation and a key record buffer), or an expression
// item whose conditions are still to be offered to the indexes. A
// TVEZScanSearchConditionArray holds, for one scan, the expression items and
// the candidate conditions. The protocol of one scan, as the table data runs
// it:
//   1. AddExpression for the cursor's filters and search expression,
//      AddCondition for ready key-search and range bounds;
//   2. CreateIndexScanConditionsFromExpressions;
//   3. the table data chooses the start and end conditions (-1 = none);
//   4. RemoveUnusedConditionsCreatedFromExpressions(start, end);
//   5. ExtractChosenConditionsFromExpressions(start, end);
//   6. the scan tests every other item on each record;
//   7. ReturnExtractedConditionsToExpressions(start, end), also on failure.
// Between 5 and 7 the extracted nodes are out of their trees and only the
// chosen conditions' lists refer to them.
//
// Thread safety: none; an array lives for one scan of one cursor.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZBaseExpression.h"

namespace vez {

class TVEZIndexDefs;

class TVEZScanSearchCondition {
 public:
  // No key, size 0, IndexID -1, no expression, scNone, KeyFieldCount 0,
  // empty parent lists. With external_key_record_buffer the key buffer that
  // the caller puts in KeyRecordBuffer stays the caller's and is never freed.
  explicit TVEZScanSearchCondition(bool external_key_record_buffer = false)
      : FExternalKeyRecordBuffer(external_key_record_buffer) {}
  ~TVEZScanSearchCondition();
  TVEZScanSearchCondition(const TVEZScanSearchCondition&) = delete;
  TVEZScanSearchCondition& operator=(const TVEZScanSearchCondition&) = delete;

  // Frees an owned key buffer through the engine memory manager; in any
  // case the condition no longer refers to a key buffer.
  void ClearKeyRecordBuffer();

  // Deep copy: every field, a private copy of source's key buffer (so this
  // condition owns its key from then on) and copies of both parent lists
  // (the same expressions and nodes). On an allocation failure nothing
  // changes.
  void Assign(const TVEZScanSearchCondition& source);

  bool ExternalKeyRecordBuffer() const { return FExternalKeyRecordBuffer; }

  // The expression of an expression item; null for an index condition.
  TVEZBaseExpression* Expression = nullptr;
  // How the wanted entries relate to the key; scNone for an expression item.
  TVEZSearchCondition Condition = scNone;
  // A memory record buffer of the table whose key columns hold the bound.
  std::uint8_t* KeyRecordBuffer = nullptr;
  std::int32_t KeyRecordBufferSize = 0;
  // Leading index columns the key holds.
  std::int32_t KeyFieldCount = 0;
  // ObjectID of the index def; -1 for none.
  std::int32_t IndexID = -1;
  // Made from an expression node (and may be dropped again).
  bool CreatedFromExpression = false;
  // Pairs, one per key column: the expression and the node of its tree that
  // gave that key value. Neither is owned.
  std::vector<TVEZBaseExpression*> ParentExpressions;
  std::vector<TVEZExprNode*> ParentExpressionNodes;
  // The key's last string column compares as a prefix.
  bool PartialCompare = false;

 private:
  bool FExternalKeyRecordBuffer;
};

class TVEZScanSearchConditionArray {
 public:
  TVEZScanSearchConditionArray() = default;
  TVEZScanSearchConditionArray(const TVEZScanSearchConditionArray&) = delete;
  TVEZScanSearchConditionArray& operator=(const TVEZScanSearchConditionArray&) = delete;

  std::int32_t Count() const { return static_cast<std::int32_t>(FItems.size()); }
  // The item at index (owned by the array). Raises platform::EListError
  // outside 0 to Count - 1.
  TVEZScanSearchCondition* Items(std::int32_t index) const;

  // Appends an expression item (scNone, no key, KeyFieldCount 0, IndexID -1).
  void AddExpression(TVEZBaseExpression* expression);
  // Appends an Assign copy of condition; the caller keeps its own object.
  // A condition with neither expression nor index raises 10388.
  void AddCondition(const TVEZScanSearchCondition& condition);
  // Frees the item and closes the gap. A number outside the array raises
  // 10413, an empty slot 10414.
  void Delete(std::int32_t item_no);

  // Asks every expression item present at the start for the index
  // conditions that index_defs can serve, then extends each condition on an
  // index of two or more columns, column by column, with further parts of
  // the expressions.
  void CreateIndexScanConditionsFromExpressions(const TVEZIndexDefs& index_defs,
                                                std::int32_t session_id);
  // Deletes every condition created from an expression other than the two
  // chosen ones (numbers 0 to Count - 1 choose; -1 none), keeping both numbers
  // pointing at the same items. The last item always stays.
  void RemoveUnusedConditionsCreatedFromExpressions(std::int32_t& scan_condition_no,
                                                    std::int32_t& scan_end_condition_no);
  // Every expression item takes out of its tree the nodes that the chosen
  // conditions answer.
  void ExtractChosenConditionsFromExpressions(std::int32_t scan_condition_no,
                                              std::int32_t scan_end_condition_no);
  // Puts the nodes of the chosen conditions back into their expressions.
  // When both numbers choose the same condition its nodes go back once.
  void ReturnExtractedConditionsToExpressions(std::int32_t scan_condition_no,
                                              std::int32_t scan_end_condition_no);

 private:
  bool IsChosenNumber(std::int32_t no) const { return no >= 0 && no < Count(); }

  std::vector<std::unique_ptr<TVEZScanSearchCondition>> FItems;
};

}  // namespace vez

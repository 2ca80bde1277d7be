// Merging of index scan conditions before a scan: conditions on one index are
// intersected into the tightest bounds (or found to admit no record at all),
// and duplicates are dropped, so that the index tests each bound once.
//
// Conditions that compare a prefix of their last column (PartialCompare) are
// never merged or deduplicated: a prefix bound is wider than the exact bound
// of the same key, so folding it would lose or invent records. They stay as
// separate conditions and the full filter decides.
//
// Thread safety: none; works on one scan's array.
#pragma once

#include <cstdint>
#include <functional>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZScanSearchCondition.h"

namespace vez {

// Compares two key record buffers over the leading field_count columns of
// index index_id: negative, 0 or positive.
using TVEZConditionKeyCompare =
    std::function<std::int32_t(std::int32_t index_id, const std::uint8_t* key1,
                               const std::uint8_t* key2, std::int32_t field_count)>;

// What intersecting two conditions on one index gives.
enum class TVEZIntersectOutcome {
  Empty,  // no record satisfies both
  C1,     // the first condition alone suffices
  C2,     // the second condition alone suffices
  Fewer,  // the one with fewer key fields (the first on a tie)
  More,   // the one with more key fields (the first on a tie)
  Equal,  // as More, turned into an equality
  Both    // both must stay
};

// The outcome for cond1 and cond2 with key field counts f1, f2, whose keys
// compare as compare_sign (over the smaller field count).
TVEZIntersectOutcome ScanIntersectOutcome(TVEZSearchCondition cond1, TVEZSearchCondition cond2,
                                          std::int32_t compare_sign, std::int32_t f1,
                                          std::int32_t f2);

// False when an equality has fewer key fields than a strict bound it meets,
// and whenever either condition compares a prefix.
bool CanIntersectScanConditions(const TVEZScanSearchCondition& n, const TVEZScanSearchCondition& c);

// Folds cond2 into cond1 where the outcome allows (is_changed: cond2 may be
// dropped); is_empty when no record satisfies both.
void IntersectScanConditions(TVEZScanSearchCondition& cond1, const TVEZScanSearchCondition& cond2,
                             const TVEZConditionKeyCompare& compare, bool& is_empty,
                             bool& is_changed);

// Same index, same condition (not scNone), same key field count, keys equal
// over it; never for a prefix compare.
bool AreScanConditionsEqual(const TVEZScanSearchCondition& a, const TVEZScanSearchCondition& b,
                            const TVEZConditionKeyCompare& compare);

// Deletes every item that equals some other item, until none does.
void RemoveDuplicateScanConditions(TVEZScanSearchConditionArray& array,
                                   const TVEZConditionKeyCompare& compare);

// Rebuilds array: index conditions grouped by index in order of first
// appearance and intersected, duplicates removed, then the expression items
// in their order. When no record can match, is_empty is set and the array is
// left as it was.
void OptimizeScanConditions(TVEZScanSearchConditionArray& array,
                            const TVEZConditionKeyCompare& compare, bool& is_empty);

}  // namespace vez

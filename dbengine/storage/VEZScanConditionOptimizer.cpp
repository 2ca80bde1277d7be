#include "dbengine/storage/VEZScanConditionOptimizer.h"

#include <algorithm>
#include <vector>

namespace vez {

namespace {

using O = TVEZIntersectOutcome;

// Row: cond1, column: cond2, both in the order Equal, Lower, Greater,
// LowerEqual, GreaterEqual; three cells each for a key compare of < 0, 0, > 0.
// The middle cell of some pairs depends on the key field counts: it is
// resolved in ScanIntersectOutcome (marked by Both here and listed there).
constexpr O kTable[5][5][3] = {
    // scEqual
    {{O::Empty, O::More, O::Empty},
     {O::C1, O::Empty, O::Empty},
     {O::Empty, O::Empty, O::C1},
     {O::C1, O::Both, O::Empty},
     {O::Empty, O::Both, O::C1}},
    // scLower
    {{O::Empty, O::Empty, O::C2},
     {O::C1, O::Fewer, O::C2},
     {O::Empty, O::Empty, O::Both},
     {O::C1, O::C1, O::C2},
     {O::Empty, O::Both, O::Both}},
    // scGreater
    {{O::C2, O::Empty, O::Empty},
     {O::Both, O::Empty, O::Empty},
     {O::C2, O::Fewer, O::C1},
     {O::Both, O::Both, O::Empty},
     {O::C2, O::C1, O::C1}},
    // scLowerEqual
    {{O::Empty, O::Both, O::C2},
     {O::C1, O::Both, O::C2},
     {O::Empty, O::Both, O::Both},
     {O::C1, O::More, O::C2},
     {O::Empty, O::Both, O::Both}},
    // scGreaterEqual
    {{O::C2, O::Both, O::Empty},
     {O::Both, O::Both, O::Empty},
     {O::C2, O::C2, O::C1},
     {O::Both, O::Both, O::Empty},
     {O::C2, O::More, O::C1}},
};

int RowOf(TVEZSearchCondition condition) {
  return static_cast<int>(condition) - 1;
}

}  // namespace

TVEZIntersectOutcome ScanIntersectOutcome(TVEZSearchCondition cond1, TVEZSearchCondition cond2,
                                          std::int32_t compare_sign, std::int32_t f1,
                                          std::int32_t f2) {
  if (cond1 == scNone || cond2 == scNone) return O::Both;
  const std::int32_t fmin = std::min(f1, f2);
  const std::int32_t fmax = std::max(f1, f2);
  if (compare_sign == 0) {
    // Cells that depend on the key field counts.
    switch (cond1) {
      case scEqual:
        if (cond2 == scLowerEqual || cond2 == scGreaterEqual) return f1 == fmax ? O::C1 : O::Both;
        break;
      case scLower:
        if (cond2 == scGreaterEqual) return f1 == fmin ? O::Empty : O::Both;
        break;
      case scGreater:
        if (cond2 == scLowerEqual) return f1 == fmin ? O::Empty : O::Both;
        break;
      case scLowerEqual:
        if (cond2 == scEqual) return f2 == fmax ? O::C2 : O::Both;
        if (cond2 == scGreater) return f2 == fmin ? O::Empty : O::Both;
        if (cond2 == scGreaterEqual) return f1 == f2 ? O::Equal : O::Both;
        break;
      case scGreaterEqual:
        if (cond2 == scEqual) return f2 == fmax ? O::C2 : O::Both;
        if (cond2 == scLower) return f2 == fmin ? O::Empty : O::Both;
        if (cond2 == scLowerEqual) return f1 == f2 ? O::Equal : O::Both;
        break;
      default:
        break;
    }
  }
  const int column = compare_sign < 0 ? 0 : (compare_sign == 0 ? 1 : 2);
  return kTable[RowOf(cond1)][RowOf(cond2)][column];
}

bool CanIntersectScanConditions(const TVEZScanSearchCondition& n,
                                const TVEZScanSearchCondition& c) {
  if (n.PartialCompare || c.PartialCompare) return false;
  auto strict = [](TVEZSearchCondition s) { return s == scLower || s == scGreater; };
  if (n.Condition == scEqual && strict(c.Condition) && n.KeyFieldCount < c.KeyFieldCount) {
    return false;
  }
  if (c.Condition == scEqual && strict(n.Condition) && c.KeyFieldCount < n.KeyFieldCount) {
    return false;
  }
  return true;
}

void IntersectScanConditions(TVEZScanSearchCondition& cond1, const TVEZScanSearchCondition& cond2,
                             const TVEZConditionKeyCompare& compare, bool& is_empty,
                             bool& is_changed) {
  is_empty = false;
  is_changed = false;
  if (cond1.Condition == scNone || cond2.Condition == scNone) return;
  const std::int32_t f1 = cond1.KeyFieldCount;
  const std::int32_t f2 = cond2.KeyFieldCount;
  const std::int32_t c =
      compare(cond1.IndexID, cond1.KeyRecordBuffer, cond2.KeyRecordBuffer, std::min(f1, f2));
  const std::int32_t sign = c < 0 ? -1 : (c > 0 ? 1 : 0);
  switch (ScanIntersectOutcome(cond1.Condition, cond2.Condition, sign, f1, f2)) {
    case O::Empty:
      is_empty = true;
      return;
    case O::C1:
      break;
    case O::C2:
      cond1.Assign(cond2);
      break;
    case O::Fewer:
      if (f2 < f1) cond1.Assign(cond2);
      break;
    case O::More:
      if (f2 > f1) cond1.Assign(cond2);
      break;
    case O::Equal:
      if (f2 > f1) cond1.Assign(cond2);
      cond1.Condition = scEqual;
      break;
    case O::Both:
      return;
  }
  is_changed = true;
}

bool AreScanConditionsEqual(const TVEZScanSearchCondition& a, const TVEZScanSearchCondition& b,
                            const TVEZConditionKeyCompare& compare) {
  if (a.PartialCompare || b.PartialCompare) return false;
  if (a.Expression != nullptr || b.Expression != nullptr) return false;
  if (a.IndexID != b.IndexID || a.Condition != b.Condition || a.Condition == scNone) return false;
  if (a.KeyFieldCount != b.KeyFieldCount) return false;
  return compare(a.IndexID, a.KeyRecordBuffer, b.KeyRecordBuffer, a.KeyFieldCount) == 0;
}

void RemoveDuplicateScanConditions(TVEZScanSearchConditionArray& array,
                                   const TVEZConditionKeyCompare& compare) {
  std::int32_t i = 0;
  while (array.Count() >= 2 && i < array.Count()) {
    bool duplicate = false;
    for (std::int32_t j = 0; j < array.Count() && !duplicate; ++j) {
      if (j != i && AreScanConditionsEqual(*array.Items(i), *array.Items(j), compare)) {
        duplicate = true;
      }
    }
    if (duplicate) {
      array.Delete(i);
    } else {
      ++i;
    }
  }
}

void OptimizeScanConditions(TVEZScanSearchConditionArray& array,
                            const TVEZConditionKeyCompare& compare, bool& is_empty) {
  is_empty = false;
  std::vector<std::int32_t> index_ids;
  for (std::int32_t i = 0; i < array.Count(); ++i) {
    const TVEZScanSearchCondition* item = array.Items(i);
    if (item->Expression == nullptr &&
        std::find(index_ids.begin(), index_ids.end(), item->IndexID) == index_ids.end()) {
      index_ids.push_back(item->IndexID);
    }
  }
  TVEZScanSearchConditionArray merged;
  for (std::int32_t index_id : index_ids) {
    const std::int32_t first_of_index = merged.Count();
    for (std::int32_t i = 0; i < array.Count(); ++i) {
      const TVEZScanSearchCondition& c = *array.Items(i);
      if (c.Expression != nullptr || c.IndexID != index_id) continue;
      bool keep = true;
      for (std::int32_t k = first_of_index; k < merged.Count(); ++k) {
        TVEZScanSearchCondition& n = *merged.Items(k);
        if (!CanIntersectScanConditions(n, c)) continue;
        bool changed = false;
        IntersectScanConditions(n, c, compare, is_empty, changed);
        if (is_empty) return;  // the source stays as it was
        if (changed) keep = false;
      }
      if (keep) merged.AddCondition(c);
    }
  }
  RemoveDuplicateScanConditions(merged, compare);
  std::vector<TVEZBaseExpression*> expressions;
  for (std::int32_t i = 0; i < array.Count(); ++i) {
    if (array.Items(i)->Expression != nullptr) expressions.push_back(array.Items(i)->Expression);
  }
  while (array.Count() > 0)
    array.Delete(array.Count() - 1);
  for (std::int32_t i = 0; i < merged.Count(); ++i)
    array.AddCondition(*merged.Items(i));
  for (TVEZBaseExpression* expression : expressions)
    array.AddExpression(expression);
}

}  // namespace vez

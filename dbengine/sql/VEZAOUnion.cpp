#include "dbengine/sql/VEZAOUnion.h"

#include <cassert>

#include "dbengine/foundation/VEZException.h"
#include "platform/core/Collation.h"

namespace vez {

TVEZUnionWalk::TVEZUnionWalk(TVEZUnionType union_type, bool all, TVEZWalkInput* left,
                             TVEZWalkInput* right, std::int32_t pair_count)
    : FUnionType(union_type), FAll(all), FLeft(left), FRight(right), FPairCount(pair_count) {
  assert(left != nullptr && right != nullptr && pair_count >= 0);
}

TVEZCompareResult TVEZUnionWalk::CompareUnionRows() {
  TVEZCompareResult result = cmprEqual;
  for (std::int32_t i = 0; i < FPairCount; ++i) {
    TVEZVariant left_value;
    TVEZVariant right_value;
    try {
      FLeft->GetValue(i, left_value);
      FRight->GetValue(i, right_value);
      result = left_value.Compare(right_value, false, false, false);
    } catch (const EVEZException& e) {
      throw EVEZException(10335, "Cannot compare values for fields: %s, %s. Error: %s",
                          {FLeft->ValueName(i), FRight->ValueName(i), std::string(e.what())});
    }
    if (result != cmprEqual && result != cmprBothNull) break;
  }
  switch (result) {
    case cmprBothNull:
      return cmprEqual;
    case cmprLeftNull:
      return cmprLower;
    case cmprRightNull:
      return cmprGreater;
    default:
      return result;
  }
}

void TVEZUnionWalk::DoFirst() {
  FEof = false;
  FShowLeft = true;
  FLeft->First();
  FRight->First();
  if (FUnionType == autUnion && !FLeft->Eof()) {
    FFirstTimeCalled = false;
    return;
  }
  FFirstTimeCalled = true;
  DoNext();
}

bool TVEZUnionWalk::DoGetEof() {
  if (FEof) return true;
  switch (FUnionType) {
    case autUnion:
      return FLeft->Eof() && FRight->Eof();
    case autIntersect:
      return FRight->IsEmpty() || FLeft->Eof();
    case autExcept:
      return FLeft->Eof();
  }
  return true;
}

void TVEZUnionWalk::DoNext() {
  if (DoGetEof()) return;
  switch (FUnionType) {
    case autUnion:
      if (FAll) {
        if (FShowLeft) {
          if (!FFirstTimeCalled) FLeft->Next();
        } else {
          FRight->Next();
        }
        if (FShowLeft && FLeft->Eof() && !FRight->Eof()) FShowLeft = false;
      } else {
        if (FShowLeft && !FLeft->Eof()) {
          if (!FFirstTimeCalled) FLeft->Next();
        } else if (!FShowLeft && !FRight->Eof()) {
          FRight->Next();
        }
        bool show_left;
        if (FLeft->Eof() || FRight->Eof()) {
          show_left = !FLeft->Eof();
        } else {
          TVEZCompareResult result = CompareUnionRows();
          while (result == cmprEqual) {
            FRight->Next();
            if (FRight->Eof()) break;
            result = CompareUnionRows();
          }
          show_left = (result == cmprLower && !FLeft->Eof()) || FRight->Eof();
        }
        FShowLeft = show_left;
      }
      FFirstTimeCalled = false;
      return;
    case autIntersect:
      StepIntersect();
      break;
    case autExcept:
      StepExcept();
      break;
    default:
      throw EVEZException(10336, "Invalid union type = %d", {static_cast<int>(FUnionType)});
  }
  FFirstTimeCalled = false;
}

void TVEZUnionWalk::StepIntersect() {
  if (!FFirstTimeCalled) FLeft->Next();
  for (;;) {
    if (DoGetEof()) return;
    const TVEZCompareResult result = CompareUnionRows();
    if (result == cmprEqual) return;
    if (result == cmprLower) {
      FLeft->Next();
    } else if (FRight->Eof()) {
      FEof = true;
      return;
    } else {
      FRight->Next();
    }
  }
}

void TVEZUnionWalk::StepExcept() {
  if (!FFirstTimeCalled) FLeft->Next();
  for (;;) {
    if (DoGetEof()) return;
    if (FRight->Eof()) return;
    const TVEZCompareResult result = CompareUnionRows();
    if (result == cmprEqual) {
      FLeft->Next();
    } else if (result == cmprLower) {
      return;
    } else if (FRight->Eof()) {
      return;
    } else {
      FRight->Next();
    }
  }
}

std::vector<std::pair<std::int32_t, std::int32_t>> PairUnionColumns(
    const std::vector<TVEZUnionColumn>& left, const std::vector<TVEZUnionColumn>& right,
    bool corresponding, const std::vector<std::string>* by_list, bool compares_rows) {
  std::vector<std::pair<std::int32_t, std::int32_t>> candidates;
  auto find = [](const std::vector<TVEZUnionColumn>& columns, const std::string& name) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (platform::AnsiSameText(columns[i].Name, name)) return static_cast<std::int32_t>(i);
    }
    return std::int32_t{-1};
  };
  if (by_list == nullptr) {
    for (std::size_t i = 0; i < left.size(); ++i) {
      std::int32_t partner = -1;
      if (corresponding) {
        partner = find(right, left[i].Name);
      } else if (i < right.size()) {
        partner = static_cast<std::int32_t>(i);
      }
      if (partner >= 0) candidates.emplace_back(static_cast<std::int32_t>(i), partner);
    }
  } else {
    if (by_list->empty()) {
      throw EVEZException(10337, "Empty field list, item count = %d", {0});
    }
    for (const std::string& name : *by_list) {
      const std::int32_t l = find(left, name);
      const std::int32_t r = find(right, name);
      if (l >= 0 && r >= 0) candidates.emplace_back(l, r);
    }
  }
  std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
  for (const auto& [l, r] : candidates) {
    if (compares_rows && (!left[l].Comparable || !right[r].Comparable)) continue;
    pairs.emplace_back(l, r);
  }
  if (pairs.empty()) {
    throw EVEZException(10339, "Empty field list, item count = %d", {0});
  }
  return pairs;
}

}  // namespace vez

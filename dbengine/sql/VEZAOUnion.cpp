#include "dbengine/sql/VEZAOUnion.h"

#include <algorithm>
#include <cassert>
#include <utility>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
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

// ---------------------------------------------------------------------------
// TVEZAOUnion

std::vector<std::int32_t> TVEZAOUnion::ResultColumns(TVEZAO& child) {
  std::vector<std::int32_t> columns;
  if (child.FHasSetResultFields && !child.FResultFieldsOrder.empty()) {
    for (std::int32_t no : child.FResultFieldsOrder) {
      if (!child.FieldLink(no).IsHidden) columns.push_back(no);
    }
    return columns;
  }
  // A table shown whole has every column, its links hidden or not.
  for (std::int32_t i = 0; i < child.FieldCount(); ++i) {
    if (child.FIsAOTable || !child.FieldLink(i).IsHidden) columns.push_back(i);
  }
  return columns;
}

TVEZAOUnion::TVEZAOUnion(std::unique_ptr<TVEZAO> left_ao, std::unique_ptr<TVEZAO> right_ao,
                         TVEZUnionType union_type, TVEZAO* parent_query_ao,
                         TVEZCursor* parent_cursor, bool corresponding, bool distinct,
                         const TVEZFields* field_list)
    : TVEZAO(std::move(left_ao), std::move(right_ao), std::string(), std::string()),
      FUnionType(union_type),
      FAll(!distinct) {
  assert(FLeftAO && FRightAO);
  FIsAOUnion = true;
  FIsMaterialized = false;
  if (union_type != autUnion && union_type != autIntersect && union_type != autExcept) {
    throw EVEZException(kErrUnionType, "Invalid union type = %d", {static_cast<int>(union_type)});
  }
  FLeftAO->Execute(false, parent_query_ao, parent_cursor);
  FRightAO->Execute(false, parent_query_ao, parent_cursor);
  const bool compares_rows = union_type != autUnion || distinct;
  const std::vector<std::int32_t> left_columns = ResultColumns(*FLeftAO);
  const std::vector<std::int32_t> right_columns = ResultColumns(*FRightAO);
  auto offer = [](TVEZAO& child, const std::vector<std::int32_t>& columns) {
    std::vector<TVEZUnionColumn> offered;
    for (std::int32_t no : columns) {
      const TVEZFieldLink& link = child.FieldLink(no);
      offered.push_back({link.DisplayName.empty() ? link.FieldName : link.DisplayName,
                         IsComparableAdvancedFieldType(link.FieldType)});
    }
    return offered;
  };
  std::vector<std::string> by_list;
  if (field_list != nullptr) {
    for (const TVEZSelectListItem& item : field_list->Items)
      by_list.push_back(item.FieldName);
  }
  const auto pairs =
      PairUnionColumns(offer(*FLeftAO, left_columns), offer(*FRightAO, right_columns),
                       corresponding, field_list != nullptr ? &by_list : nullptr, compares_rows);
  std::string left_list;
  std::string right_list;
  std::string union_list;
  for (const auto& [l, r] : pairs) {
    const std::int32_t left_no = left_columns[static_cast<std::size_t>(l)];
    const std::int32_t right_no = right_columns[static_cast<std::size_t>(r)];
    const TVEZFieldLink& left_link = FLeftAO->FieldLink(left_no);
    const TVEZFieldLink& right_link = FRightAO->FieldLink(right_no);
    TVEZFieldLink link;
    link.FieldName = left_link.DisplayName.empty() ? left_link.FieldName : left_link.DisplayName;
    link.DisplayName = link.FieldName;
    link.FieldType = left_link.FieldType;
    link.FieldPrecision = left_link.FieldPrecision;
    link.FieldSize = std::max(left_link.FieldSize, right_link.FieldSize);
    link.BLOBCompressionAlgorithm = left_link.BLOBCompressionAlgorithm;
    link.BLOBCompressionMode = left_link.BLOBCompressionMode;
    link.BLOBBlockSize = left_link.BLOBBlockSize;
    link.AO = FLeftAO.get();
    link.FieldNo = left_no;
    AddFieldLink(std::move(link));
    FFields1.push_back(left_no);
    FFields2.push_back(right_no);
    auto add = [](std::string& list, const std::string& name) {
      if (!list.empty()) list += ';';
      list += name;
    };
    add(left_list, left_link.FieldName);
    add(right_list, right_link.FieldName);
    add(union_list, FFieldLinks.back().FieldName);
  }
  if (FFields1.size() != FFields2.size()) {
    throw EVEZException(
        kErrListLengths, "Error - different list lengths. L1 = %d, L2 = %d",
        {static_cast<std::int32_t>(FFields1.size()), static_cast<std::int32_t>(FFields2.size())});
  }
  if (compares_rows) {
    FLeftAO->SetIndex(left_list, std::string(), std::string());
    FRightAO->SetIndex(right_list, std::string(), std::string());
  }
  if (distinct) ApplyDistinct(union_list);
}

TVEZAOUnion::~TVEZAOUnion() = default;

void TVEZAOUnion::ShowSide() {
  const bool left = FWalk->ShowLeft();
  for (std::size_t i = 0; i < FFieldLinks.size(); ++i) {
    TVEZFieldLink& link = FFieldLinks[i];
    link.AO = left ? FLeftAO.get() : FRightAO.get();
    link.FieldNo = left ? FFields1[i] : FFields2[i];
  }
}

void TVEZAOUnion::DoFirst() {
  if (!FWalk) {
    FLeftInput = std::make_unique<TVEZAOChildInput>(FLeftAO.get(), FFields1);
    FRightInput = std::make_unique<TVEZAOChildInput>(FRightAO.get(), FFields2);
    FWalk = std::make_unique<TVEZUnionWalk>(FUnionType, FAll, FLeftInput.get(), FRightInput.get(),
                                            static_cast<std::int32_t>(FFields1.size()));
  }
  FWalk->DoFirst();
  ShowSide();
}

void TVEZAOUnion::DoNext() {
  FWalk->DoNext();
  ShowSide();
}

bool TVEZAOUnion::DoGetEof() {
  return FWalk == nullptr || FWalk->DoGetEof();
}

std::int64_t TVEZAOUnion::DoGetRecordCount() {
  return FIsMaterialized ? TVEZAO::DoGetRecordCount() : 0;
}

void TVEZAOUnion::FreeChildren() {
  FWalk.reset();
  FLeftInput.reset();
  FRightInput.reset();
  TVEZAO::FreeChildren();
}

}  // namespace vez

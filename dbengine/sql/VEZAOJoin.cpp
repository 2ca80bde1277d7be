#include "dbengine/sql/VEZAOJoin.h"

#include <cassert>
#include <utility>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/sql/VEZExpression.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/Collation.h"

namespace vez {

TVEZJoinWalk::TVEZJoinWalk(TVEZJoinType join_type, TVEZWalkInput* left, TVEZWalkInput* right,
                           std::int32_t key_count, TCondition condition)
    : FJoinType(join_type),
      FLeft(left),
      FRight(right),
      FKeyCount(key_count),
      FCondition(std::move(condition)) {
  assert(left != nullptr && right != nullptr && key_count >= 0);
}

void TVEZJoinWalk::SwapInputs() {
  std::swap(FLeft, FRight);
}

bool TVEZJoinWalk::Low() const {
  return FCompareResult == cmprLower || FCompareResult == cmprLeftNull ||
         FCompareResult == cmprBothNull;
}

bool TVEZJoinWalk::High() const {
  return FCompareResult == cmprGreater || FCompareResult == cmprRightNull ||
         FCompareResult == cmprBothNull;
}

void TVEZJoinWalk::CompareJoinKeys() {
  FLeftNull = false;
  FRightNull = false;
  FCompareResult = cmprEqual;
  for (std::int32_t i = 0; i < FKeyCount; ++i) {
    TVEZVariant left_value;
    TVEZVariant right_value;
    try {
      if (!FLeft->IsEmpty()) FLeft->GetValue(i, left_value);
      if (!FRight->IsEmpty()) FRight->GetValue(i, right_value);
      FCompareResult = left_value.Compare(right_value, true, false, false);
    } catch (const EVEZException& e) {
      throw EVEZException(10328, "Cannot compare values for fields: %s, %s. Error: %s",
                          {FLeft->ValueName(i), FRight->ValueName(i), std::string(e.what())});
    }
    if (FCompareResult != cmprEqual) return;
  }
}

bool TVEZJoinWalk::JoinConditionHolds() {
  if (!FCondition) return true;
  const bool left_null = FLeftNull;
  const bool right_null = FRightNull;
  FLeftNull = false;
  FRightNull = false;
  bool holds = false;
  try {
    holds = FCondition();
  } catch (...) {
    FLeftNull = left_null;
    FRightNull = right_null;
    throw;
  }
  FLeftNull = left_null;
  FRightNull = right_null;
  return holds;
}

void TVEZJoinWalk::DoFirst() {
  FLeft->First();
  FRight->First();
  FLeftNull = false;
  FRightNull = false;
  switch (FJoinType) {
    case ajtCross:
    // An inner join with an empty side has no row; deciding it here keeps
    // a condition without keys from being tried on a missing row.
    case ajtInner:
      FEof = FLeft->Eof() || FRight->Eof();
      break;
    case ajtLeftOuter:
      FEof = FLeft->Eof();
      break;
    case ajtRightOuter:
      FEof = FRight->Eof();
      break;
    case ajtFullOuter:
      FEof = FLeft->Eof() && FRight->Eof();
      break;
  }
  FLinkCount = 0;
  FRightBeginBookmark.clear();
  FRightEndBookmark.clear();
  FTrackRightMatches = FJoinType == ajtFullOuter && FCondition;
  FMatchedRight.clear();
  FRightRest = false;
  if (!FEof && FTrackRightMatches && FLeft->Eof()) {
    // Nothing drives the first part: only the right rows remain.
    FRightRest = true;
    SkipMatchedRight();
  } else if (!FEof) {
    FEqualStarted = false;
    FBothNullsStarted = false;
    FFirstTimeCalled = true;
    DoNext();
  }
  FFirstTimeCalled = false;
}

bool TVEZJoinWalk::DoGetEof() {
  return FEof || (FLeft->Eof() && FRight->Eof());
}

std::int64_t TVEZJoinWalk::CrossRecordCount() {
  if (FJoinType != ajtCross) return 0;
  return platform::CheckedMul<std::int64_t>(FLeft->RecordCount(), FRight->RecordCount());
}

void TVEZJoinWalk::DoNext() {
  FLeftNull = false;
  FRightNull = false;
  switch (FJoinType) {
    case ajtCross:
      CrossNext();
      break;
    case ajtInner:
    case ajtLeftOuter:
    case ajtRightOuter:
      MergeNext(FJoinType);
      break;
    case ajtFullOuter:
      if (FTrackRightMatches) {
        FullOuterConditionNext();
      } else {
        FullOuterNext();
      }
      break;
  }
}

void TVEZJoinWalk::FullOuterConditionNext() {
  if (!FRightRest) {
    MergeNext(ajtLeftOuter);
    if (!FEof) return;
    FRightRest = true;
    FEof = false;
    FRight->First();
  } else {
    FRight->Next();
  }
  SkipMatchedRight();
}

void TVEZJoinWalk::SkipMatchedRight() {
  while (!FRight->Eof() && FMatchedRight.count(FRight->Bookmark()) != 0)
    FRight->Next();
  FRightNull = false;
  FLeftNull = true;
  if (FRight->Eof()) FEof = true;
}

void TVEZJoinWalk::CrossNext() {
  if (FFirstTimeCalled) return;
  FRight->Next();
  if (FRight->Eof()) {
    FLeft->Next();
    if (!FLeft->Eof()) FRight->First();
  }
}

void TVEZJoinWalk::GotoRightBookmark(const platform::TBookmark& bookmark) {
  if (!bookmark.empty()) FRight->GotoBookmark(bookmark);
}

void TVEZJoinWalk::MergeNext(TVEZJoinType kind) {
  const bool right_outer = kind == ajtRightOuter;
  const bool inner = kind == ajtInner;
  const bool outer = !inner;
  const bool keys = FKeyCount > 0;
  TVEZWalkInput* driving = right_outer ? FRight : FLeft;
  TVEZWalkInput* rescanned = right_outer ? FLeft : FRight;
  auto no_partner = [&] {
    return right_outer ? (FLeft->Eof() || (keys && High())) : (FRight->Eof() || (keys && Low()));
  };
  for (;;) {
    if (!FFirstTimeCalled) {
      if (no_partner()) {
        driving->Next();
        // The inner join is driven by the left input: once that is done
        // nothing can pair any more, whatever the last comparison said.
        if (inner && FLeft->Eof()) {
          FEof = true;
          FRightNull = true;
        }
        FLinkCount = 0;
        if (outer && driving->Eof()) FEof = true;
        if (FEof) return;
        if (!FRightBeginBookmark.empty()) {
          rescanned->GotoBookmark(FRightBeginBookmark);
        } else {
          rescanned->First();
        }
      } else {
        rescanned->Next();
      }
    }
    FFirstTimeCalled = false;
    if (keys) CompareJoinKeys();
    const bool alone = no_partner();
    if (!alone) {
      if ((!keys || FCompareResult == cmprEqual) && JoinConditionHolds()) {
        if (FLinkCount == 0 && keys) FRightBeginBookmark = rescanned->Bookmark();
        ++FLinkCount;
        if (FTrackRightMatches) FMatchedRight.insert(FRight->Bookmark());
        return;
      }
      if (inner && keys && FCompareResult == cmprGreater) {
        FRightBeginBookmark = rescanned->Bookmark();
      }
    } else if (FLinkCount == 0) {
      if (outer) break;
      if (FLeft->Eof()) {
        FEof = true;
        FRightNull = keys && Low();
        return;
      }
    }
    if (FEof) return;
  }
  if (right_outer) {
    FLeftNull = true;
  } else {
    FRightNull = true;
  }
}

void TVEZJoinWalk::FullOuterAdvance() {
  FLeftMoved = false;
  FRightMoved = false;
  CompareJoinKeys();
  if (FLeft->Eof() || FRight->Eof()) {
    if (FLeft->Eof()) {
      FRight->Next();
      FRightMoved = true;
    } else {
      FLeft->Next();
      FLeftMoved = true;
    }
  } else {
    const TVEZCompareResult result = FCompareResult;
    if (Low()) {
      FLeft->Next();
      FLeftMoved = true;
    }
    if (result == cmprEqual || result == cmprGreater || result == cmprRightNull ||
        result == cmprBothNull) {
      FRight->Next();
      FRightMoved = true;
      if (FRight->Eof() && result == cmprEqual) {
        FLeft->Next();
        FLeftMoved = true;
      }
    }
  }
  CompareJoinKeys();
}

bool TVEZJoinWalk::TryMatchEqualRun() {
  if (FCompareResult != cmprEqual || !JoinConditionHolds()) return false;
  if (!FEqualStarted) {
    FRightBeginBookmark = FRight->Bookmark();
    FEqualStarted = true;
  }
  FRightEndBookmark = FRight->Bookmark();
  return true;
}

bool TVEZJoinWalk::ContinueEqualRun() {
  if (FEqualStarted && FLeftMoved) {
    // The left input is done: no row is left to pair with the run again.
    if (FLeft->Eof()) {
      FEqualStarted = false;
      return false;
    }
    GotoRightBookmark(FRightBeginBookmark);
  }
  CompareJoinKeys();
  if (TryMatchEqualRun()) return true;
  if (!FEqualStarted) return false;
  for (;;) {
    CompareJoinKeys();
    if (TryMatchEqualRun()) return true;
    if (FCompareResult == cmprEqual) {
      FEqualStarted = false;
      GotoRightBookmark(FRightBeginBookmark);
      CompareJoinKeys();
      return false;
    }
    if (FCompareResult == cmprGreater) {
      FEqualStarted = false;
      GotoRightBookmark(FRightEndBookmark);
      CompareJoinKeys();
      return false;
    }
    FLeft->Next();
    if (FLeft->Eof()) {
      FEqualStarted = false;
      GotoRightBookmark(FRightEndBookmark);
      CompareJoinKeys();
      return false;
    }
    GotoRightBookmark(FRightBeginBookmark);
  }
}

void TVEZJoinWalk::FullOuterNext() {
  if (FFirstTimeCalled || FBothNullsStarted) {
    CompareJoinKeys();
  } else {
    FullOuterAdvance();
  }
  if (FLeftMoved && FRightMoved && FCompareResult == cmprEqual && FCondition) {
    FLeftMoved = false;
    FLeft->Prior();
    FLeft->Next();
  }
  if (FEof) return;
  while (FEqualStarted) {
    if (ContinueEqualRun()) return;
    FullOuterAdvance();
  }
  // A pair of NULL keys is two rows without partner, left one first; only
  // while both inputs stand on a row (an input at its end still shows its
  // last row, which is not one to deliver again).
  if (FCompareResult == cmprBothNull && !FLeft->Eof() && !FRight->Eof()) {
    if (!FBothNullsStarted) {
      FBothNullsStarted = true;
      FRightNull = true;
    } else {
      FBothNullsStarted = false;
      FLeftNull = true;
    }
    return;
  }
  FBothNullsStarted = false;
  if (FEof) return;
  if (!FLeft->Eof() && !FRight->Eof() && TryMatchEqualRun()) return;
  if (!FLeft->Eof() && !FRight->Eof()) {
    FLeftNull = FCompareResult == cmprEqual || FCompareResult == cmprGreater ||
                FCompareResult == cmprRightNull;
    FRightNull = FCompareResult == cmprLower || FCompareResult == cmprLeftNull ||
                 FCompareResult == cmprBothNull;
  } else {
    FLeftNull = FLeft->Eof();
    FRightNull = !FLeft->Eof();
  }
}

// ---------------------------------------------------------------------------
// TVEZAOJoin

TVEZAOJoin::TVEZAOJoin(std::unique_ptr<TVEZAO> left_ao, std::unique_ptr<TVEZAO> right_ao,
                       TVEZJoinType join_type, bool is_natural, const TVEZFields* field_list1,
                       const TVEZFields* field_list2,
                       std::unique_ptr<TVEZExpression> join_condition)
    : TVEZAO(std::move(left_ao), std::move(right_ao), std::string(), std::string()) {
  assert(FLeftAO && FRightAO);
  FIsAOJoin = true;
  const std::int32_t count1 = field_list1 != nullptr ? field_list1->ItemCount() : 0;
  const std::int32_t count2 = field_list2 != nullptr ? field_list2->ItemCount() : 0;
  if (join_type == ajtInner && !join_condition && field_list1 != nullptr && count1 == 0 &&
      count2 == 0 && !is_natural) {
    join_type = ajtCross;
  }
  FJoinType = join_type;
  FJoinCondition = std::move(join_condition);
  FInnerJoin = join_type == ajtInner;
  FDekart = join_type == ajtCross;
  FOuterJoin = join_type == ajtLeftOuter || join_type == ajtRightOuter || join_type == ajtFullOuter;
  if (!FDekart && !is_natural && count1 != count2) {
    throw EVEZException(kErrListLengths, "Error - different list lengths. L1 = %d, L2 = %d",
                        {count1, count2});
  }
  TVEZAO* left = FLeftAO.get();
  TVEZAO* right = FRightAO.get();
  for (TVEZAO* child : {left, right}) {
    for (std::int32_t i = 0; i < child->FieldCount(); ++i) {
      AppendChildFieldLink(child, i, false);
      FFieldLinks.back().DisplayName.clear();
    }
  }
  const std::int32_t left_count = left->FieldCount();
  if (is_natural) {
    for (std::int32_t r = left_count; r < FFieldCount; ++r) {
      for (std::int32_t l = 0; l < left_count; ++l) {
        TVEZFieldLink& left_link = FFieldLinks[static_cast<std::size_t>(l)];
        TVEZFieldLink& right_link = FFieldLinks[static_cast<std::size_t>(r)];
        if (!platform::AnsiSameText(left_link.FieldName, right_link.FieldName)) continue;
        FFields1.push_back(l);
        FFields2.push_back(r);
        left_link.IsHidden = false;
        right_link.IsHidden = false;
        left->FieldExists(left_link.FieldName, std::string(), true, nullptr, false, false);
        right->FieldExists(right_link.FieldName, std::string(), true, nullptr, false, false);
      }
    }
  } else if (!FDekart) {
    auto resolve = [this](const TVEZFields* list, TVEZIntegerArray& fields, std::int32_t error) {
      if (list == nullptr) return;
      for (std::int32_t i = 0; i < list->ItemCount(); ++i) {
        const TVEZSelectListItem& item = list->Items[static_cast<std::size_t>(i)];
        const std::int32_t found =
            FieldExists(item.FieldName, item.TableName, true, &fields, false, false);
        if (found != 1) {
          throw EVEZException(error,
                              "Invalid field for join operation. Table name = '%s', FieldName = "
                              "'%s', i = %d, FieldExists = %d",
                              {item.TableName, item.FieldName, i, found});
        }
      }
    };
    resolve(field_list1, FFields1, kErrLeftField);
    resolve(field_list2, FFields2, kErrRightField);
    if (FFields1.size() != FFields2.size()) {
      throw EVEZException(
          kErrRightField, "Error - different list lengths. L1 = %d, L2 = %d",
          {static_cast<std::int32_t>(FFields1.size()), static_cast<std::int32_t>(FFields2.size())});
    }
    for (std::size_t i = 0; i < FFields1.size(); ++i) {
      const TVEZFieldLink& a = FFieldLinks[static_cast<std::size_t>(FFields1[i])];
      const TVEZFieldLink& b = FFieldLinks[static_cast<std::size_t>(FFields2[i])];
      if (a.AO == b.AO) {
        throw EVEZException(
            kErrSameTable,
            "Both join fields are from the same table. Field1 = '%s', Field2 = '%s', No1 = %d, "
            "No2 = %d.",
            {a.FieldName, b.FieldName, FFields1[i], FFields2[i]});
      }
      if (a.AO == right) std::swap(FFields1[i], FFields2[i]);
    }
  }
  auto key_list = [this](const TVEZIntegerArray& fields) {
    std::string list;
    for (std::int32_t no : fields) {
      const TVEZFieldLink& link = FFieldLinks[static_cast<std::size_t>(no)];
      if (!list.empty()) list += ';';
      list += link.AO->FieldLink(link.FieldNo).FieldName;
    }
    return list;
  };
  if (!FFields1.empty()) {
    left->SetIndex(key_list(FFields1), std::string(), std::string());
    right->SetIndex(key_list(FFields2), std::string(), std::string());
  }
  FFieldsLink = !FFields1.empty();
  MakeFieldNamesUnique();
  FIsMaterialized = false;
}

TVEZAOJoin::~TVEZAOJoin() = default;

void TVEZAOJoin::Execute(bool is_root_ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) {
  if (FJoinCondition) FJoinCondition->AssignAO(this, parent_query_ao, parent_cursor);
  if ((FInnerJoin || FJoinType == ajtFullOuter) && FLeftAO && FRightAO) {
    FLeftAO->Execute(false, parent_query_ao, parent_cursor);
    FRightAO->Execute(false, parent_query_ao, parent_cursor);
    if (FRightAO->GetRecordCount() < FLeftAO->GetRecordCount()) {
      std::swap(FLeftAO, FRightAO);
      std::swap(FFields1, FFields2);
    }
  }
  // Nothing above reads a column (COUNT(*) over a join): one column still
  // makes a result table that holds the rows.
  bool any_visible = false;
  for (const TVEZFieldLink& link : FFieldLinks)
    any_visible = any_visible || !link.IsHidden;
  if (!any_visible && !FFieldLinks.empty()) FFieldLinks.front().IsHidden = false;
  TVEZAO::Execute(is_root_ao, parent_query_ao, parent_cursor);
}

void TVEZAOJoin::MakeWalk() {
  auto child_links = [this](const TVEZIntegerArray& fields) {
    std::vector<std::int32_t> links;
    for (std::int32_t no : fields)
      links.push_back(FFieldLinks[static_cast<std::size_t>(no)].FieldNo);
    return links;
  };
  FLeftInput = std::make_unique<TVEZAOChildInput>(FLeftAO.get(), child_links(FFields1));
  FRightInput = std::make_unique<TVEZAOChildInput>(FRightAO.get(), child_links(FFields2));
  TVEZJoinWalk::TCondition condition;
  if (FJoinCondition) {
    condition = [this] {
      // The condition reads both current rows whatever the walk shows.
      const bool left_null = FLeftAONull;
      const bool right_null = FRightAONull;
      FLeftAONull = false;
      FRightAONull = false;
      bool holds = false;
      try {
        holds = FJoinCondition->GetResult();
      } catch (...) {
        FLeftAONull = left_null;
        FRightAONull = right_null;
        throw;
      }
      FLeftAONull = left_null;
      FRightAONull = right_null;
      return holds;
    };
  }
  FWalk = std::make_unique<TVEZJoinWalk>(FJoinType, FLeftInput.get(), FRightInput.get(),
                                         static_cast<std::int32_t>(FFields1.size()),
                                         std::move(condition));
}

void TVEZAOJoin::TakeWalkNullFlags() {
  FLeftAONull = FWalk->LeftNull();
  FRightAONull = FWalk->RightNull();
}

void TVEZAOJoin::DoFirst() {
  if (!FWalk) MakeWalk();
  FLeftAONull = false;
  FRightAONull = false;
  FWalk->DoFirst();
  TakeWalkNullFlags();
}

void TVEZAOJoin::DoNext() {
  FLeftAONull = false;
  FRightAONull = false;
  FWalk->DoNext();
  TakeWalkNullFlags();
}

bool TVEZAOJoin::DoGetEof() {
  return FWalk == nullptr || FWalk->DoGetEof();
}

std::int64_t TVEZAOJoin::DoGetRecordCount() {
  if (FIsMaterialized) return TVEZAO::DoGetRecordCount();
  if (FDekart && FLeftAO && FRightAO) {
    return platform::CheckedMul<std::int64_t>(FLeftAO->GetRecordCount(),
                                              FRightAO->GetRecordCount());
  }
  return 0;
}

void TVEZAOJoin::FreeChildren() {
  FWalk.reset();
  FLeftInput.reset();
  FRightInput.reset();
  TVEZAO::FreeChildren();
}

}  // namespace vez

#include "dbengine/sql/VEZAOJoin.h"

#include <cassert>
#include <utility>

#include "dbengine/foundation/VEZException.h"
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

void MakeUniqueFieldNames(std::vector<std::string>& names, const std::vector<bool>& hidden) {
  assert(hidden.size() == names.size());
  auto make_unique = [&](std::size_t i) {
    std::string candidate = names[i];
    std::int32_t counter = 1;
    bool clashed = false;
    for (;;) {
      const std::string upper = platform::AnsiUpperCase(candidate);
      bool clash = false;
      for (std::size_t j = 0; j < i && !clash; ++j) {
        clash = platform::AnsiUpperCase(names[j]) == upper;
      }
      if (!clash) break;
      candidate += (clashed ? "" : "_") + std::to_string(counter);
      clashed = true;
      counter = platform::CheckedAdd<std::int32_t>(counter, 1);
    }
    names[i] = candidate;
  };
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (hidden[i]) make_unique(i);
  }
  for (std::size_t i = 1; i < names.size(); ++i)
    make_unique(i);
}

}  // namespace vez

#include "dbengine/sql/VEZAOGroupBy.h"

#include <cassert>
#include <utility>

#include "dbengine/foundation/VEZException.h"
#include "platform/core/CheckedMath.h"

namespace vez {

TVEZGroupWalk::TVEZGroupWalk(TVEZWalkInput* input, TVEZWalkInput* look_ahead,
                             std::int32_t key_count, bool has_expressions, THooks hooks)
    : FInput(input),
      FLookAhead(look_ahead),
      FKeyCount(key_count),
      FHasExpressions(has_expressions),
      FHooks(std::move(hooks)) {
  assert(input != nullptr && key_count >= 0);
  assert(FHooks.InitAggregates && FHooks.AccumulateAggregates);
}

TVEZCompareResult TVEZGroupWalk::CompareGroupKeys() {
  for (std::int32_t i = 0; i < FKeyCount; ++i) {
    TVEZVariant value;
    TVEZVariant ahead;
    TVEZCompareResult result;
    try {
      FInput->GetValue(i, value);
      FLookAhead->GetValue(i, ahead);
      result = value.Compare(ahead, false, false, false);
    } catch (const EVEZException& e) {
      throw EVEZException(10340, "Cannot compare values for fields: %s, %s. Error: %s",
                          {FInput->ValueName(i), FLookAhead->ValueName(i), std::string(e.what())});
    }
    if (result == cmprLeftNull) return cmprLower;
    if (result == cmprRightNull) return cmprGreater;
    if (result != cmprEqual && result != cmprBothNull) return result;
  }
  return cmprEqual;
}

void TVEZGroupWalk::Advance() {
  if (FHooks.BeforeAdvance) FHooks.BeforeAdvance();
  FInput->Next();
  FLookAhead->Next();
}

void TVEZGroupWalk::ReadGroup() {
  for (;;) {
    const bool same = CompareGroupKeys() == cmprEqual;
    FHooks.AccumulateAggregates();
    if (!same) return;
    Advance();
    if (FInput->Eof()) return;
  }
}

void TVEZGroupWalk::DoFirst() {
  FEOF = false;
  FInput->First();
  if (Grouped()) {
    FLookAhead->First();
    FEOF = FLookAhead->Eof();
  }
  FFirstTimeCalled = true;
  DoNext();
}

void TVEZGroupWalk::DoNext() {
  if (!Grouped()) {
    if (!FFirstTimeCalled) {
      FEOF = true;
      return;
    }
    FFirstTimeCalled = false;
    if (FHooks.IsCountAllOnly && FHooks.IsCountAllOnly()) {
      FHooks.SetCountAll(platform::CheckedCast<std::int32_t>(FInput->RecordCount()));
      return;
    }
    FHooks.InitAggregates();
    while (!FInput->Eof()) {
      FHooks.AccumulateAggregates();
      FInput->Next();
    }
    FInput->First();
    return;
  }
  if (FFirstTimeCalled) {
    FFirstTimeCalled = false;
    FHooks.InitAggregates();
    if (FInput->Eof()) {
      if (!FHasExpressions) FEOF = true;
      return;
    }
    FLookAhead->Next();
    if (FLookAhead->Eof()) {
      FHooks.AccumulateAggregates();
    } else {
      ReadGroup();
    }
    return;
  }
  Advance();
  FHooks.InitAggregates();
  if (FInput->Eof()) {
    FEOF = true;
    return;
  }
  ReadGroup();
}

}  // namespace vez

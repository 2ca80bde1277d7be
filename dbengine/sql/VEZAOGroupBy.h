// The grouping row walk: with GROUP BY columns, the input (ordered by those
// columns) is read as runs of equal keys, with a second cursor on the same
// rows kept one row ahead so that the end of a group is seen without moving
// the input past it; after each step the input stands on the group's last
// row (which supplies the plain columns) and the aggregates hold the group's
// values. Without GROUP BY columns the whole input is one group and one row
// is delivered, also for an empty input; when every aggregate is COUNT(*)
// the count is the input's record count and no row is read.
//
// Keys compare two-valued: NULL keys form one group.
//
// Thread safety: none.
#pragma once

#include <cstdint>
#include <functional>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/sql/VEZAOWalkInput.h"

namespace vez {

class TVEZGroupWalk {
 public:
  // What the walk asks of the operator's expressions.
  struct THooks {
    // Start a group (every aggregate of the select list and of HAVING).
    std::function<void()> InitAggregates;
    // Feed the input's current row to them.
    std::function<void()> AccumulateAggregates;
    // There is at least one aggregate and every one is COUNT(*).
    std::function<bool()> IsCountAllOnly;
    // Give every COUNT(*) this count.
    std::function<void(std::int32_t)> SetCountAll;
    // Called before the input and the look-ahead move on (may be empty).
    std::function<void()> BeforeAdvance;
  };

  // input and look_ahead (null without GROUP BY columns) are borrowed;
  // key_count columns are compared (column i of each). has_expressions: the
  // select list has computed columns.
  TVEZGroupWalk(TVEZWalkInput* input, TVEZWalkInput* look_ahead, std::int32_t key_count,
                bool has_expressions, THooks hooks);

  void DoFirst();
  void DoNext();
  bool DoGetEof() const { return FEOF; }

 private:
  bool Grouped() const { return FLookAhead != nullptr; }
  // A comparison that raises becomes 10340.
  TVEZCompareResult CompareGroupKeys();
  void Advance();
  void ReadGroup();

  TVEZWalkInput* FInput;
  TVEZWalkInput* FLookAhead;
  std::int32_t FKeyCount;
  bool FHasExpressions;
  THooks FHooks;
  bool FFirstTimeCalled = false;
  bool FEOF = false;
};

}  // namespace vez

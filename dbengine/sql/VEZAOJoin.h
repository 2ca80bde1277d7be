// The join's row walk: a merge join over two inputs ordered by their key
// columns, with the run of equal keys on the rescanned side bracketed by
// bookmarks and replayed for every driving row with that key; a nested loop
// when there are no key pairs; a cross product for a cross join. Every step
// leaves the current joined row as the pair of the inputs' current rows, with
// LeftNull / RightNull telling that one side reads as NULL (an outer join's
// row without partner). The join operator streams this walk into its result
// table; the walk itself owns no data and can run over any TVEZWalkInput.
//
// Inputs are ordered ascending by their keys, NULL first. Key pair i is
// compared column i of the left input with column i of the right input,
// case-sensitively, three-valued (a NULL key never pairs).
//
// Also here: the unique-name rule for the columns of a join.
//
// Thread safety: none.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/sql/VEZAOWalkInput.h"
#include "platform/dataset/DataSetTypes.h"

namespace vez {

class TVEZJoinWalk {
 public:
  // The further join condition over the current pair; empty when none. Its
  // result is read with both null flags cleared.
  using TCondition = std::function<bool()>;

  // left and right are borrowed and must outlive the walk. key_count is the
  // number of key pairs (0: nested loop).
  TVEZJoinWalk(TVEZJoinType join_type, TVEZWalkInput* left, TVEZWalkInput* right,
               std::int32_t key_count, TCondition condition);

  // The children changed places (and with them their key columns): the walk
  // takes the new order. Only before DoFirst.
  void SwapInputs();

  void DoFirst();
  void DoNext();
  bool DoGetEof();
  // Rows of a cross join (overflow raises); 0 for the other kinds.
  std::int64_t CrossRecordCount();

  bool LeftNull() const { return FLeftNull; }
  bool RightNull() const { return FRightNull; }
  TVEZJoinType JoinType() const { return FJoinType; }
  TVEZWalkInput* Left() const { return FLeft; }
  TVEZWalkInput* Right() const { return FRight; }

 private:
  // Compares the key pairs in order; the first result other than equal is
  // kept. A comparison that raises becomes 10328.
  void CompareJoinKeys();
  bool JoinConditionHolds();
  bool Low() const;
  bool High() const;
  void CrossNext();
  void MergeNext(TVEZJoinType kind);
  // A full outer join with a further condition: the left outer join first,
  // remembering every right row that paired, then the right rows that never
  // did. The run replay cannot tell a right row that failed the condition
  // for every left row of its key from one that paired.
  void FullOuterConditionNext();
  void SkipMatchedRight();
  void FullOuterNext();
  void FullOuterAdvance();
  bool TryMatchEqualRun();
  bool ContinueEqualRun();
  void GotoRightBookmark(const platform::TBookmark& bookmark);

  TVEZJoinType FJoinType;
  TVEZWalkInput* FLeft;
  TVEZWalkInput* FRight;
  std::int32_t FKeyCount;
  TCondition FCondition;

  bool FLeftNull = false;
  bool FRightNull = false;
  TVEZCompareResult FCompareResult = cmprEqual;
  bool FEqualStarted = false;
  bool FFirstTimeCalled = true;
  bool FEof = false;
  bool FBothNullsStarted = false;
  std::int32_t FLinkCount = 0;
  // Bookmarks of the rescanned side (the right input, or the left one in a
  // right outer join); empty when not set.
  platform::TBookmark FRightBeginBookmark;
  platform::TBookmark FRightEndBookmark;
  bool FTrackRightMatches = false;
  bool FRightRest = false;
  std::set<platform::TBookmark> FMatchedRight;
  bool FLeftMoved = false;
  bool FRightMoved = false;
};

// Makes the column names of a join unique, comparing upper-cased with the
// engine's own case mapping: every hidden column against all earlier ones,
// then every column from the second on against all earlier ones. A clash
// appends "_1", each further clash the next counter's digits, so three
// columns ID give ID, ID_1, ID_12. hidden has one flag per name.
void MakeUniqueFieldNames(std::vector<std::string>& names, const std::vector<bool>& hidden);

}  // namespace vez

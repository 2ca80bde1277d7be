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
// Thread safety: none.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/sql/VEZAO.h"
#include "dbengine/sql/VEZAOWalkInput.h"
#include "dbengine/sql/VEZFields.h"
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

// TVEZAOJoin: the join operator. Its links are the left child's links, then
// the right child's; key pairs come from USING, from the ON equalities the
// planner extracted, or (NATURAL) from every pair of equally named columns.
// Each child is asked to deliver its rows ordered by its key columns; the
// walk above runs over the two children's results while the join
// materialises. Of an inner or full outer join the smaller child drives.
class TVEZAOJoin : public TVEZAO {
 public:
  static constexpr std::int32_t kErrCompare = 10328;
  static constexpr std::int32_t kErrListLengths = 10330;
  static constexpr std::int32_t kErrLeftField = 10331;
  static constexpr std::int32_t kErrRightField = 10332;
  static constexpr std::int32_t kErrSameTable = 10334;

  // Takes both children and the further condition (may be null). The two
  // lists (may be null) name the key columns of each side; they stay the
  // caller's. An inner join without condition whose lists are given and
  // empty is a cross join (a NATURAL one is not).
  TVEZAOJoin(std::unique_ptr<TVEZAO> left_ao, std::unique_ptr<TVEZAO> right_ao,
             TVEZJoinType join_type, bool is_natural, const TVEZFields* field_list1,
             const TVEZFields* field_list2, std::unique_ptr<TVEZExpression> join_condition);
  ~TVEZAOJoin() override;

  void DoFirst() override;
  void DoNext() override;
  bool DoGetEof() override;
  std::int64_t DoGetRecordCount() override;
  // Binds the condition, runs the children, lets the smaller one of an inner
  // or full outer join drive, and materialises.
  void Execute(bool is_root_ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor) override;
  bool IsOuterJoin() const override { return FOuterJoin; }

  TVEZJoinType JoinType() const { return FJoinType; }
  bool OuterJoin() const { return FOuterJoin; }
  // Key pairs as link numbers: left side, right side.
  const TVEZIntegerArray& Fields1() const { return FFields1; }
  const TVEZIntegerArray& Fields2() const { return FFields2; }
  TVEZExpression* JoinCondition() const { return FJoinCondition.get(); }

 protected:
  // The walk reads the children: it goes first.
  void FreeChildren() override;

 private:
  // Makes the walk over the current children (after a swap too).
  void MakeWalk();
  void TakeWalkNullFlags();

  bool FDekart = false;
  bool FOuterJoin = false;
  bool FInnerJoin = false;
  TVEZJoinType FJoinType = ajtCross;
  TVEZIntegerArray FFields1;
  TVEZIntegerArray FFields2;
  std::unique_ptr<TVEZExpression> FJoinCondition;
  bool FFieldsLink = false;
  std::unique_ptr<TVEZAOChildInput> FLeftInput;
  std::unique_ptr<TVEZAOChildInput> FRightInput;
  std::unique_ptr<TVEZJoinWalk> FWalk;
};

}  // namespace vez

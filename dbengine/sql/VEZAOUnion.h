// The set operations' row walk and column pairing: UNION, INTERSECT and
// EXCEPT over two inputs, each read in the order of its paired columns. Each
// step leaves the current row on one input (ShowLeft tells which); the
// operator points its columns at that input and copies the row. UNION without
// ALL delivers every row of both inputs once at least, merged, so that the
// distinct result table keeps one of each; INTERSECT and EXCEPT deliver left
// rows (INTERSECT: those with an equal right row, duplicates kept; EXCEPT:
// those without).
//
// Rows are compared pair by pair, two-valued: two NULLs are equal and NULL
// sorts first.
//
// Thread safety: none.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/sql/VEZAO.h"
#include "dbengine/sql/VEZAOWalkInput.h"
#include "dbengine/sql/VEZFields.h"

namespace vez {

class TVEZUnionWalk {
 public:
  // left and right are borrowed; pair_count columns are compared (column i
  // of each input). all: the ALL form (UNION ALL delivers every row).
  TVEZUnionWalk(TVEZUnionType union_type, bool all, TVEZWalkInput* left, TVEZWalkInput* right,
                std::int32_t pair_count);

  void DoFirst();
  void DoNext();
  bool DoGetEof();
  // The current row is the left input's.
  bool ShowLeft() const { return FShowLeft; }

 private:
  // A comparison that raises becomes 10335.
  TVEZCompareResult CompareUnionRows();
  void StepIntersect();
  void StepExcept();

  TVEZUnionType FUnionType;
  bool FAll;
  TVEZWalkInput* FLeft;
  TVEZWalkInput* FRight;
  std::int32_t FPairCount;
  bool FEof = false;
  bool FFirstTimeCalled = false;
  bool FShowLeft = true;
};

// One column offered to pairing: its name and whether rows can be compared
// on it (not bytes, BLOB, graphic or GUID).
struct TVEZUnionColumn {
  std::string Name;
  bool Comparable = true;
};

// Pairs the visible columns of two inputs: by position (the shorter list
// decides), by name with corresponding (the first right column of the same
// name, case-insensitively), or by the names of a CORRESPONDING BY list
// (by_list; an empty list raises 10337). With compares_rows (every form but
// UNION ALL) a pair with a column that cannot be compared is left out. No
// pair at all raises 10339. Returns (left, right) column numbers.
std::vector<std::pair<std::int32_t, std::int32_t>> PairUnionColumns(
    const std::vector<TVEZUnionColumn>& left, const std::vector<TVEZUnionColumn>& right,
    bool corresponding, const std::vector<std::string>* by_list, bool compares_rows);

// TVEZAOUnion: UNION, INTERSECT and EXCEPT of two queries. The children are
// executed when the operator is made, so that their result columns can be
// paired; each result column is a link named after the left column that
// reads the left or the right child's column, as the walk shows one side or
// the other. Every form but UNION ALL has both children read ordered by the
// paired columns; the forms without ALL keep each row once.
class TVEZAOUnion : public TVEZAO {
 public:
  static constexpr std::int32_t kErrCompare = 10335;
  static constexpr std::int32_t kErrUnionType = 10336;
  static constexpr std::int32_t kErrEmptyByList = 10337;
  static constexpr std::int32_t kErrListLengths = 10338;
  static constexpr std::int32_t kErrNoPairs = 10339;

  // distinct: the form without ALL. corresponding: CORRESPONDING, with
  // field_list its BY list (null when none; the list stays the caller's).
  TVEZAOUnion(std::unique_ptr<TVEZAO> left_ao, std::unique_ptr<TVEZAO> right_ao,
              TVEZUnionType union_type, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor,
              bool corresponding, bool distinct, const TVEZFields* field_list);
  ~TVEZAOUnion() override;

  void DoFirst() override;
  void DoNext() override;
  bool DoGetEof() override;
  std::int64_t DoGetRecordCount() override;

  TVEZUnionType UnionType() const { return FUnionType; }

 protected:
  // The walk reads the children: it goes first.
  void FreeChildren() override;

 private:
  // The child's result columns as link numbers of the child.
  static std::vector<std::int32_t> ResultColumns(TVEZAO& child);
  // Points every link at the shown child's column.
  void ShowSide();

  TVEZUnionType FUnionType;
  bool FAll;
  // Paired columns as link numbers of the left and the right child.
  TVEZIntegerArray FFields1;
  TVEZIntegerArray FFields2;
  std::unique_ptr<TVEZAOChildInput> FLeftInput;
  std::unique_ptr<TVEZAOChildInput> FRightInput;
  std::unique_ptr<TVEZUnionWalk> FWalk;
};

}  // namespace vez

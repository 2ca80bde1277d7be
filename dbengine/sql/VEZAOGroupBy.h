// The grouping row walk: with GROUP BY columns, the input (ordered by those
// columns) is read as runs of equal keys; the first row of the next group is
// seen by moving onto it and stepping back, so after each step the input
// stands on the group's last row (which supplies the plain columns) and the
// aggregates hold the group's values. One cursor serves, so a filter the
// input's table applies holds for every row the walk sees. Without GROUP BY columns the whole input
// is one group and one row is delivered, also for an empty input; when every aggregate is COUNT(*)
// the count is the input's record count and no row is read.
//
// Keys compare two-valued: NULL keys form one group.
//
// Thread safety: none.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/sql/VEZAO.h"
#include "dbengine/sql/VEZAOWalkInput.h"
#include "dbengine/sql/VEZFields.h"

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
  };

  // input is borrowed; key_count columns (0: no GROUP BY list, one group)
  // are compared. has_expressions: the select list has computed columns.
  TVEZGroupWalk(TVEZWalkInput* input, std::int32_t key_count, bool has_expressions, THooks hooks);

  void DoFirst();
  void DoNext();
  bool DoGetEof() const { return FEOF; }

 private:
  bool Grouped() const { return FKeyCount > 0; }
  // The current row's keys against FGroupKeys; a comparison that raises
  // becomes 10340.
  TVEZCompareResult CompareGroupKeys();
  void ReadGroup();

  TVEZWalkInput* FInput;
  std::vector<TVEZVariant> FGroupKeys;
  // Reused for each row's key, so reading one allocates nothing new.
  TVEZVariant FScratch;
  std::int32_t FKeyCount;
  bool FHasExpressions;
  THooks FHooks;
  bool FFirstTimeCalled = false;
  bool FEOF = false;
};

// TVEZAOGroupBy: forms the groups of GROUP BY (or one group of the whole
// input without a list) and computes the select list's aggregates and the
// HAVING condition (its filter) per group. Its links are the child's (hidden)
// plus the select list's expression links; the child is asked to deliver its
// rows ordered by the GROUP BY columns.
class TVEZAOGroupBy : public TVEZAO {
 public:
  static constexpr std::int32_t kErrCompare = 10340;
  static constexpr std::int32_t kErrFieldNotFound = 10341;
  static constexpr std::int32_t kErrNotGrouped = 10342;
  static constexpr std::int32_t kErrGroupByField = 20245;
  static constexpr std::int32_t kErrExpression = 20269;

  // field_list: the GROUP BY list (null or empty: none); field_refs: the
  // select list, searched for aliases the GROUP BY list names.
  TVEZAOGroupBy(std::unique_ptr<TVEZAO> child, const TVEZFields* field_list,
                const std::vector<TVEZSelectListItem>& field_refs);
  ~TVEZAOGroupBy() override;

  void DoFirst() override;
  void DoNext() override;
  bool DoGetEof() override;
  std::int64_t DoGetRecordCount() override;
  // The base's (without DISTINCT, which an operator above applies), then:
  // an expression that cannot be computed per group raises 20269, a plain
  // column not found 10341, one not among the GROUP BY columns 10342.
  void SetResultFields(std::vector<TVEZSelectListItem>& field_refs, bool distinct) override;

  // ';'-list of the GROUP BY columns' link names.
  const std::string& GroupByFields() const { return FGroupByFields; }

 protected:
  void FreeChildren() override;

 private:
  void InitAggregates();
  void AccumulateAggregates();
  bool IsCountAllOnly();
  void SetCountAll(std::int32_t count);

  // Link numbers of the GROUP BY columns.
  TVEZIntegerArray FFields;
  bool FAllFields = true;
  std::string FGroupByFields;
  std::unique_ptr<TVEZAOChildInput> FInput;
  std::unique_ptr<TVEZGroupWalk> FWalk;
};

}  // namespace vez

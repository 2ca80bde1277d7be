// TVEZExprNodeAggregated: COUNT(*), COUNT, SUM, AVG, MIN and MAX over the
// records of one group. The grouping code calls Init at the start of a group,
// binds the tree to each record and calls Accumulate, then reads
// GetDataValue after the group's last record.
//
// SUM adds integers in 64 bits and raises EIntOverflow past that range (the
// typed value's own addition would wrap); floats add in double. With
// DISTINCT, COUNT, SUM and AVG take each non-NULL value once per group
// (whole value, case-sensitive); MIN and MAX are unaffected. MIN and MAX
// compare text without regard to case.
//
// Thread safety: none (see VEZExprNode.h).
#pragma once

#include <cstdint>
#include <memory>
#include <set>

#include "dbengine/sql/VEZExprNode.h"

namespace vez {

class TVEZExprNodeAggregated : public TVEZExprNode {
 public:
  // COUNT(*): no argument.
  explicit TVEZExprNodeAggregated(TVEZDataOperator op);
  // COUNT, SUM, AVG, MIN, MAX over node.
  TVEZExprNodeAggregated(TVEZDataOperator op, bool distinct, TNodePtr node);
  ~TVEZExprNodeAggregated() override;

  // COUNT and COUNT(*): the count as Int32; AVG: the mean as double (NULL
  // when no value was taken); SUM, MIN, MAX: as accumulated (NULL when
  // nothing was). Reading does not change the running state.
  TVEZVariant* GetDataValue() override;
  bool IsAggregated() override { return true; }
  bool IsAggregatedCountAll() override { return Operator == doCOUNTALL; }
  // Starts a new group.
  void Init() override;
  // Adds the bound record. SUM of a non-numeric value raises 30132, AVG
  // 30133; another operator raises 30134.
  void Accumulate() override;
  // For COUNT(*) when the record count is known without reading them.
  void SetCountAll(std::int32_t record_count) override;
  // SUM: the argument's type when it is a float or currency, else Largeint;
  // AVG: Double; MIN, MAX: the argument's; COUNT: Integer; a missing
  // argument gives Unknown.
  TVEZAdvancedFieldType GetDataType() override;
  // MIN, MAX: the argument's size; the others 0.
  std::int32_t GetDataSize() override;
  // False unless ao is a grouping operator; then whether the argument can
  // be read there.
  bool CanBeAssigned(TVEZAO* ao, TVEZAO* parent_query_ao, TVEZCursor* parent_cursor,
                     bool for_having_clause) override;
  // An aggregate never needs to be a grouping column.
  bool CanBeUsedInGroupBy(const std::string& group_by_fields) override;

  // Records counted (COUNT, COUNT(*), and the divisor of AVG).
  std::int32_t count = 0;
  // DISTINCT was written in the call.
  bool distinct = false;
  // The running sum of AVG (Double, NULL while no value was taken).
  TVEZVariant AvgSum{bftUnknown};

 private:
  struct TValueLess {
    using is_transparent = void;
    bool operator()(const std::unique_ptr<TVEZVariant>& a,
                    const std::unique_ptr<TVEZVariant>& b) const;
    bool operator()(const TVEZVariant* a, const std::unique_ptr<TVEZVariant>& b) const;
    bool operator()(const std::unique_ptr<TVEZVariant>& a, const TVEZVariant* b) const;
  };
  // True when value was seen before in this group (DISTINCT); records it
  // otherwise.
  bool SeenBefore(const TVEZVariant& value);
  void AddToSum(const TVEZVariant& value);

  std::set<std::unique_ptr<TVEZVariant>, TValueLess> FSeen;
  bool FSumAny = false;
  bool FSumIsFloat = false;
  std::int64_t FSumInt = 0;
  double FSumFloat = 0;
  double FAvgSum = 0;
};

}  // namespace vez

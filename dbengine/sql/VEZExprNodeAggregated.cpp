#include "dbengine/sql/VEZExprNodeAggregated.h"

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/sql/VEZAO.h"
#include "dbengine/sql/VEZExpression.h"
#include "platform/core/CheckedMath.h"

namespace vez {

namespace {

bool IsFloatType(TVEZBaseFieldType t) {
  return t == bftSingle || t == bftDouble || t == bftExtended || t == bftCurrency;
}

[[noreturn]] void RaiseNotNumeric(std::int32_t code, const char* name) {
  throw EVEZException(code, "Not numeric argument in numeric operator '%s'", {std::string(name)});
}

[[noreturn]] void RaiseUnknownOperator(TVEZDataOperator op) {
  throw EVEZException(30134, "Unknown operator: '%s'", {OperatorToText(op)});
}

// The order DISTINCT keeps values apart by: whole value, case-sensitive.
bool Lower(const TVEZVariant& a, const TVEZVariant& b) {
  return a.Compare(b, false, false, false) == cmprLower;
}

}  // namespace

bool TVEZExprNodeAggregated::TValueLess::operator()(const std::unique_ptr<TVEZVariant>& a,
                                                    const std::unique_ptr<TVEZVariant>& b) const {
  return Lower(*a, *b);
}
bool TVEZExprNodeAggregated::TValueLess::operator()(const TVEZVariant* a,
                                                    const std::unique_ptr<TVEZVariant>& b) const {
  return Lower(*a, *b);
}
bool TVEZExprNodeAggregated::TValueLess::operator()(const std::unique_ptr<TVEZVariant>& a,
                                                    const TVEZVariant* b) const {
  return Lower(*a, *b);
}

TVEZExprNodeAggregated::TVEZExprNodeAggregated(TVEZDataOperator op)
    : TVEZExprNode(op, true, false) {
  FKind = TVEZExprNodeKind::Aggregated;
}

TVEZExprNodeAggregated::TVEZExprNodeAggregated(TVEZDataOperator op, bool distinct_flag,
                                               TNodePtr node)
    : TVEZExprNode(op, std::move(node), true, false), distinct(distinct_flag) {
  FKind = TVEZExprNodeKind::Aggregated;
}

TVEZExprNodeAggregated::~TVEZExprNodeAggregated() = default;

void TVEZExprNodeAggregated::Init() {
  count = 0;
  Value.SetNull(Value.GetDataType());
  AvgSum.SetNull(bftDouble);
  FSeen.clear();
  FSumAny = false;
  FSumIsFloat = false;
  FSumInt = 0;
  FSumFloat = 0;
  FAvgSum = 0;
}

bool TVEZExprNodeAggregated::SeenBefore(const TVEZVariant& value) {
  if (FSeen.find(&value) != FSeen.end()) return true;
  auto copy = std::make_unique<TVEZVariant>(bftUnknown);
  CopyValue(*copy, value);
  FSeen.insert(std::move(copy));
  return false;
}

void TVEZExprNodeAggregated::AddToSum(const TVEZVariant& value) {
  if (IsFloatType(value.GetDataType())) {
    if (!FSumIsFloat) {
      FSumFloat = static_cast<double>(FSumInt);
      FSumIsFloat = true;
    }
    FSumFloat += value.GetAsDouble();
  } else if (FSumIsFloat) {
    FSumFloat += static_cast<double>(value.GetAsInt64());
  } else {
    FSumInt = platform::CheckedAdd(FSumInt, value.GetAsInt64());
  }
  FSumAny = true;
}

void TVEZExprNodeAggregated::Accumulate() {
  if (Operator == doCOUNTALL) {
    count = platform::CheckedAdd(count, std::int32_t{1});
    return;
  }
  if (Operator != doCOUNT && Operator != doSUM && Operator != doAVG && Operator != doMIN &&
      Operator != doMAX)
    RaiseUnknownOperator(Operator);
  if (Children.empty() || !Children[0]) RaiseUnknownOperator(Operator);
  const TVEZVariant& arg = *Children[0]->GetDataValue();
  switch (Operator) {
    case doSUM:
      if (arg.GetIsNull()) return;
      if (!arg.IsNumericDataType()) RaiseNotNumeric(30132, "SUM");
      if (distinct && SeenBefore(arg)) return;
      AddToSum(arg);
      break;
    case doAVG:
      if (arg.GetIsNull()) return;
      if (!arg.IsNumericDataType()) RaiseNotNumeric(30133, "AVG");
      if (distinct && SeenBefore(arg)) return;
      FAvgSum += arg.GetAsDouble();
      AvgSum.SetAsDouble(FAvgSum);
      count = platform::CheckedAdd(count, std::int32_t{1});
      break;
    case doMIN:
      if (Value.GetIsNull()) {
        CopyValue(Value, arg);
      } else if (!arg.GetIsNull() && arg.Compare(Value, true, true, false) == cmprLower) {
        CopyValue(Value, arg);
      }
      break;
    case doMAX:
      if (Value.GetIsNull() ||
          (!arg.GetIsNull() && arg.Compare(Value, true, true, false) == cmprGreater))
        CopyValue(Value, arg);
      break;
    default:  // doCOUNT
      if (arg.GetIsNull()) return;
      if (distinct && SeenBefore(arg)) return;
      count = platform::CheckedAdd(count, std::int32_t{1});
      break;
  }
}

void TVEZExprNodeAggregated::SetCountAll(std::int32_t record_count) {
  count = record_count;
}

TVEZVariant* TVEZExprNodeAggregated::GetDataValue() {
  switch (Operator) {
    case doCOUNT:
    case doCOUNTALL:
      Value.SetAsInteger(count);
      break;
    case doAVG:
      if (count == 0)
        Value.SetNull(bftDouble);
      else
        Value.SetAsDouble(FAvgSum / count);
      break;
    case doSUM:
      if (!FSumAny)
        Value.SetNull(Value.GetDataType());
      else if (FSumIsFloat)
        Value.SetAsDouble(FSumFloat);
      else
        Value.SetAsInt64(FSumInt);
      break;
    case doMIN:
    case doMAX:
      break;
    default:
      RaiseUnknownOperator(Operator);
  }
  return &Value;
}

TVEZAdvancedFieldType TVEZExprNodeAggregated::GetDataType() {
  switch (Operator) {
    case doCOUNT:
    case doCOUNTALL:
      return aftInteger;
    default:
      break;
  }
  if (Children.empty() || !Children[0]) return aftUnknown;
  const TVEZAdvancedFieldType arg = Children[0]->GetDataType();
  switch (Operator) {
    case doSUM:
      return (arg == aftSingle || arg == aftDouble || arg == aftExtended || arg == aftCurrency)
                 ? arg
                 : aftLargeint;
    case doAVG:
      return aftDouble;
    case doMIN:
    case doMAX:
      return arg;
    default:
      RaiseUnknownOperator(Operator);
  }
}

std::int32_t TVEZExprNodeAggregated::GetDataSize() {
  if ((Operator == doMIN || Operator == doMAX) && !Children.empty() && Children[0])
    return Children[0]->GetDataSize();
  return TVEZExprNode::GetDataSize();
}

bool TVEZExprNodeAggregated::CanBeAssigned(TVEZAO* ao, TVEZAO* parent_query_ao,
                                           TVEZCursor* parent_cursor,
                                           bool /*for_having_clause*/) {
  // Only a grouping operator computes aggregates; its argument reads the
  // grouping operator's input columns, hidden ones too.
  if (ao == nullptr || !ao->FIsAOGroupBy) return false;
  return TVEZExprNode::CanBeAssigned(ao, parent_query_ao, parent_cursor, false);
}

bool TVEZExprNodeAggregated::CanBeUsedInGroupBy(const std::string& /*group_by_fields*/) {
  return true;
}

}  // namespace vez

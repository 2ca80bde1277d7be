#include "dbengine/sql/VEZExprNodeDateFunction.h"

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/sql/VEZExpression.h"
#include "platform/core/Clock.h"
#include "platform/core/DateTime.h"

#include <cmath>

namespace vez {

namespace {

// An operator this node does not know (code 30130 for a value, 30287 for a
// type).
[[noreturn]] void RaiseUnknownOperator(TVEZDataOperator op, std::int32_t code) {
  throw EVEZException(code, "Unknown operator: '%s'", {OperatorToText(op)});
}

// The argument as a platform date-time. A time of day (or a date-time without
// a date) has no day of its own: it stands on day 0, 1899-12-30, instead of
// the no-date day number, which no calendar routine accepts.
platform::TDateTime ArgumentDateTime(const TVEZVariant& arg) {
  if (arg.GetDataType() == bftTime) return arg.GetAsTTime();
  if (arg.GetDataType() == bftDateTime) {
    const TVEZDateTime dt = arg.GetAsVEZDateTime();
    if (dt.Date == kVEZNoDate) return VEZTimeToTTime(dt.Time);
  }
  return arg.GetAsTDateTime();
}

}  // namespace

TVEZExprNodeDateFunction::TVEZExprNodeDateFunction(TVEZDataOperator op)
    : TVEZExprNode(op, true, false) {
  FKind = TVEZExprNodeKind::DateFunction;
}

TVEZExprNodeDateFunction::TVEZExprNodeDateFunction(TVEZDataOperator op, TNodePtr node,
                                                   const std::string& format_str)
    : TVEZExprNode(op, std::move(node), true, false),
      DateFormater(std::make_unique<TDateFormater>(format_str)) {
  FKind = TVEZExprNodeKind::DateFunction;
}

TVEZExprNodeDateFunction::TVEZExprNodeDateFunction(TVEZDataOperator op,
                                                   TVEZDateTimeExtractField extract_field,
                                                   TNodePtr extract_source)
    : TVEZExprNode(op, std::move(extract_source), true, false),
      ExtractDateTimeField(extract_field) {
  FKind = TVEZExprNodeKind::DateFunction;
}

TVEZVariant* TVEZExprNodeDateFunction::GetDataValue() {
  if ((Operator == doTODATE || Operator == doTOSTRING) && !DateFormater)
    RaiseUnknownOperator(Operator, 30130);
  if (Operator == doTODATE || Operator == doTOSTRING || Operator == doEXTRACT) {
    const TVEZVariant* arg =
        Children.empty() || !Children[0] ? nullptr : Children[0]->GetDataValue();
    if (arg == nullptr || arg->GetIsNull()) {
      Value.Clear(Operator == doTODATE ? bftDateTime
                                       : (Operator == doEXTRACT ? bftUnsignedInt16 : bftVarchar));
      return &Value;
    }
    if (Operator == doTODATE) {
      const double dt = DateFormater->ToDate(arg->GetAsAnsiString());
      Value.Clear(bftDateTime);
      Value.SetAsTDateTime(dt);
      // A value without whole days is a time, one without a time of day a date.
      if (std::trunc(dt) == 0) Value.Cast(bftTime);
      if (dt - std::trunc(dt) == 0) Value.Cast(bftDate);
    } else if (Operator == doTOSTRING) {
      const std::string text = DateFormater->ToString(ArgumentDateTime(*arg));
      Value.Clear(bftVarchar);
      Value.SetAsAnsiString(text);
    } else {
      int part = 0;
      const double dt = ArgumentDateTime(*arg);
      int y, m, d, h, n, sec, ms;
      switch (ExtractDateTimeField) {
        case dtefYear:
        case dtefMonth:
        case dtefDay:
          platform::DecodeDate(dt, y, m, d);
          part = ExtractDateTimeField == dtefYear ? y : (ExtractDateTimeField == dtefMonth ? m : d);
          break;
        default:
          platform::DecodeTime(dt, h, n, sec, ms);
          part =
              ExtractDateTimeField == dtefHour ? h : (ExtractDateTimeField == dtefMinute ? n : sec);
          break;
      }
      Value.Clear(bftUnsignedInt16);
      Value.SetAsWord(static_cast<std::uint16_t>(part));
    }
    return &Value;
  }
  const platform::TDateTime now = platform::Now();
  switch (Operator) {
    case doSYSDATE:
      Value.Clear(bftDateTime);
      Value.SetAsTDateTime(now);
      break;
    case doCURRENT_DATE:
      Value.Clear(bftDate);
      Value.SetAsTDate(now);
      break;
    case doCURRENT_TIME:
      Value.Clear(bftTime);
      Value.SetAsTTime(now);
      break;
    default:
      RaiseUnknownOperator(Operator, 30130);
  }
  return &Value;
}

TVEZAdvancedFieldType TVEZExprNodeDateFunction::GetDataType() {
  switch (Operator) {
    case doSYSDATE:
      return aftDateTime;
    case doCURRENT_DATE:
      return aftDate;
    case doCURRENT_TIME:
      return aftTime;
    case doTODATE:
      if (!DateFormater) RaiseUnknownOperator(Operator, 30287);
      return DateFormater->GetDataType();
    case doTOSTRING:
      return aftString;
    case doEXTRACT:
      return aftWord;
    default:
      RaiseUnknownOperator(Operator, 30287);
  }
}

std::int32_t TVEZExprNodeDateFunction::GetDataSize() {
  return Operator == doTOSTRING && DateFormater ? DateFormater->GetStringMaxSize() : 0;
}

}  // namespace vez

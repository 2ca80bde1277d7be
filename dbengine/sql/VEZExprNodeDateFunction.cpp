#include "dbengine/sql/VEZExprNodeDateFunction.h"

#include "dbengine/foundation/VEZException.h"
#include "dbengine/sql/VEZExpression.h"
#include "platform/core/Clock.h"

namespace vez {

namespace {

// TODATE, TOSTRING and EXTRACT are this node's operators too, only not built
// yet; anything else is unknown to it (code 30130 for a value, 30287 for a
// type).
[[noreturn]] void RaiseUnknownOperator(TVEZDataOperator op, std::int32_t code) {
  if (op == doTODATE || op == doTOSTRING || op == doEXTRACT)
    RaiseNotImplementedYet("date function " + OperatorToText(op));
  throw EVEZException(code, "Unknown operator: '%s'", {OperatorToText(op)});
}

}  // namespace

TVEZExprNodeDateFunction::TVEZExprNodeDateFunction(TVEZDataOperator op)
    : TVEZExprNode(op, true, false) {
  FKind = TVEZExprNodeKind::DateFunction;
}

TVEZVariant* TVEZExprNodeDateFunction::GetDataValue() {
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
    default:
      RaiseUnknownOperator(Operator, 30287);
  }
}

std::int32_t TVEZExprNodeDateFunction::GetDataSize() {
  return 0;
}

}  // namespace vez

#include "dbengine/sql/VEZExprNodeDateFunction.h"

#include "dbengine/sql/VEZExpression.h"
#include "platform/core/Clock.h"

namespace vez {

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
      RaiseNotImplementedYet("date function " + OperatorToText(Operator));
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
      RaiseNotImplementedYet("date function " + OperatorToText(Operator));
  }
}

std::int32_t TVEZExprNodeDateFunction::GetDataSize() {
  return 0;
}

}  // namespace vez

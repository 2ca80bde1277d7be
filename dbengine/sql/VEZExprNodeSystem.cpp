#include "dbengine/sql/VEZExprNodeSystem.h"

#include "dbengine/foundation/VEZException.h"
#include "dbengine/sql/VEZExpression.h"

namespace vez {

TVEZExprNodeSystem::TVEZExprNodeSystem(TVEZDataOperator op, const std::string& /*session_name*/,
                                       const std::string& /*database_name*/,
                                       const std::string& table_name,
                                       const std::string& column_name, bool in_memory)
    : TVEZExprNode(op, true, false),
      FTableName(table_name),
      FColumnName(column_name),
      FInMemory(in_memory) {
  FKind = TVEZExprNodeKind::System;
  // The last auto-increment value is read through a table object of its own.
  if (op == doLASTAUTOINC)
    RaiseNotImplementedYet("LASTAUTOINC (the table object it reads is not built)");
}

TVEZVariant* TVEZExprNodeSystem::GetDataValue() {
  if (Operator != doROWNUM)
    throw EVEZException(30338, "Unknown operator: '%s'", {OperatorToText(Operator)});
  // Wraps like the engine's other Int32 counters rather than overflowing.
  FRowNumValue = static_cast<std::int32_t>(static_cast<std::uint32_t>(FRowNumValue) + 1u);
  Value.Clear(bftSignedInt32);
  Value.SetAsInteger(FRowNumValue);
  return &Value;
}

TVEZAdvancedFieldType TVEZExprNodeSystem::GetDataType() {
  return Operator == doROWNUM ? aftInteger : aftUnknown;
}

std::int32_t TVEZExprNodeSystem::GetDataSize() {
  return 0;
}

}  // namespace vez

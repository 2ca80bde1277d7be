#include "dbengine/sql/VEZExprNodeSystem.h"

#include "dbengine/api/VEZAdvancedDefs.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/sql/VEZExpression.h"

namespace vez {

TVEZExprNodeSystem::TVEZExprNodeSystem(TVEZDataOperator op, const std::string& session_name,
                                       const std::string& database_name,
                                       const std::string& table_name,
                                       const std::string& column_name, bool in_memory)
    : TVEZExprNode(op, true, false),
      FTableName(table_name),
      FColumnName(column_name),
      FInMemory(in_memory) {
  FKind = TVEZExprNodeKind::System;
  if (op != doLASTAUTOINC) return;
  // The table stays open while the node lives, so each evaluation is one
  // read of the counter.
  FTable = std::make_unique<TVEZTable>();
  FTable->SetSessionName(session_name);
  if (in_memory)
    FTable->SetInMemory(true);
  else
    FTable->SetDatabaseName(database_name);
  FTable->SetTableName(table_name);
  FTable->SetReadOnly(true);
  FTable->Open();
  const TVEZAdvFieldDef* column = FTable->AdvFieldDefs().Find(column_name);
  if (column == nullptr) throw EVEZException(30337, "Field '%s' not found", {column_name});
  FFieldType = column->DataType;
}

TVEZExprNodeSystem::~TVEZExprNodeSystem() = default;

TVEZVariant* TVEZExprNodeSystem::GetDataValue() {
  if (Operator == doLASTAUTOINC) {
    Value.Clear(bftSignedInt64);
    Value.SetAsInt64(FTable->LastAutoincValue(FColumnName));
    return &Value;
  }
  if (Operator != doROWNUM)
    throw EVEZException(30338, "Unknown operator: '%s'", {OperatorToText(Operator)});
  // Wraps like the engine's other Int32 counters rather than overflowing.
  FRowNumValue = static_cast<std::int32_t>(static_cast<std::uint32_t>(FRowNumValue) + 1u);
  Value.Clear(bftSignedInt32);
  Value.SetAsInteger(FRowNumValue);
  return &Value;
}

TVEZAdvancedFieldType TVEZExprNodeSystem::GetDataType() {
  if (Operator == doLASTAUTOINC) return FFieldType;
  return Operator == doROWNUM ? aftInteger : aftUnknown;
}

std::int32_t TVEZExprNodeSystem::GetDataSize() {
  return 0;
}

}  // namespace vez

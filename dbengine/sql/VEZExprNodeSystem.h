// TVEZExprNodeSystem: the system values. ROWNUM counts its own evaluations
// (1, 2, 3 ... for the rows a query delivers; never reset). LASTAUTOINC reads
// a table's last auto-increment value through a read-only table object of
// its own, opened when the node is made and closed with it.
//
// Thread safety: none (see VEZExprNode.h).
#pragma once

#include <memory>
#include <string>

#include "dbengine/sql/VEZExprNode.h"

namespace vez {

class TVEZTable;

class TVEZExprNodeSystem : public TVEZExprNode {
 public:
  TVEZExprNodeSystem(TVEZDataOperator op, const std::string& session_name,
                     const std::string& database_name, const std::string& table_name,
                     const std::string& column_name, bool in_memory);
  ~TVEZExprNodeSystem() override;

  // Another operator raises 30338.
  TVEZVariant* GetDataValue() override;
  // aftInteger for ROWNUM; the column's type for LASTAUTOINC; aftUnknown
  // for another operator.
  TVEZAdvancedFieldType GetDataType() override;
  // 0.
  std::int32_t GetDataSize() override;

  std::string FTableName;
  std::string FColumnName;
  bool FInMemory = false;
  TVEZAdvancedFieldType FFieldType = aftUnknown;
  std::int32_t FRowNumValue = 0;
  std::unique_ptr<TVEZTable> FTable;
};

}  // namespace vez

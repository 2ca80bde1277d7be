#include "dbengine/sql/VEZSQLDataChange.h"

#include <string>

#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/sql/VEZAO.h"
#include "dbengine/sql/VEZSQLProcessor.h"
#include "dbengine/sql/VEZSQLSelect.h"
#include "dbengine/storage/VEZCursor.h"
#include "platform/core/Clock.h"
#include "platform/core/Collation.h"
#include "platform/dataset/Field.h"

namespace vez {

void VariantToField(const TVEZVariant* value, platform::Field& field) {
  if (value == nullptr) throw EVEZException(30359, "Value is Null");
  if (value->GetIsNull()) {
    field.Clear();
    return;
  }
  switch (field.DataType()) {
    case platform::ftSmallint:
    case platform::ftInteger:
    case platform::ftWord:
    case platform::ftAutoInc:
      field.SetAsInteger(value->GetAsInteger());
      break;
    case platform::ftLargeint:
      field.SetAsLargeInt(value->GetAsInt64());
      break;
    case platform::ftDate:
      field.SetAsDateTime(value->GetAsTDate());
      break;
    case platform::ftTime:
      field.SetAsDateTime(value->GetAsTTime());
      break;
    case platform::ftDateTime:
    case platform::ftTimeStamp:
      field.SetAsDateTime(value->GetAsTDateTime());
      break;
    case platform::ftBlob:
    case platform::ftGraphic:
    case platform::ftMemo:
    case platform::ftFmtMemo:
      if (value->IsWideStringDataType()) {
        field.SetAsWideString(value->GetAsWideString());
      } else if (value->IsStringDataType()) {
        field.SetAsString(value->GetAsAnsiString());
      } else {
        const auto* data = static_cast<const char*>(value->GetPData());
        field.SetAsString(std::string(data, data + value->GetDataSize()));
      }
      break;
    case platform::ftBytes:
    case platform::ftVarBytes:
      // A binary value (MimeToBin, a BLOB column) has no variant form; its
      // bytes are the field's.
      if (value->IsBlobDataType()) {
        const auto* data = static_cast<const char*>(value->GetPData());
        field.SetAsString(std::string(data, data + value->GetDataSize()));
      } else {
        field.SetValue(value->GetAsVariant());
      }
      break;
    default:
      field.SetValue(value->GetAsVariant());
      break;
  }
}

void InsertedValueToField(const TVEZVariant* value, platform::Field& field) {
  if (value == nullptr)
    throw EVEZException(
        30356, "Parameter Value undefined (FieldName='%s', Type='%s')",
        {field.FieldName(), AdvancedTypeToSQLTypeName(VCLTypeToAdvancedType(field.DataType()))});
  VariantToField(value, field);
}

TVEZTable& SelectedTable(TVEZSQLCursorCommand& selection, const std::string& table_name) {
  TVEZAO* root = selection.RootAO.get();
  TVEZTable* table = root != nullptr ? root->ResultDataset() : nullptr;
  const std::string shown = root != nullptr ? root->TableName() : std::string();
  if (root == nullptr || !root->FIsAOTable || table == nullptr ||
      (!table_name.empty() && !platform::AnsiSameText(table->TableName(), table_name)))
    throw EVEZException(30225,
                        "Cannot change the rows of table '%s': the query selecting them must read "
                        "the table itself (no TOP, DISTINCT, ORDER BY without an index or join)",
                        {table_name.empty() ? shown : table_name});
  return *table;
}

void ChangeSelectedRows(TVEZSQLUnion& selection, TVEZQuery* query, bool is_root,
                        const std::string& table_name,
                        const std::function<void(TVEZTable&)>& change) {
  bool read_only = false;
  struct FreeSelection {
    TVEZSQLUnion& s;
    ~FreeSelection() { s.RootAO.reset(); }
  } free_selection{selection};
  selection.ExecSQL(query, is_root, true, read_only, nullptr, nullptr);
  change(SelectedTable(selection, table_name));
}

TVEZStatementWriteLock::~TVEZStatementWriteLock() {
  try {
    Release();
  } catch (...) {
    // A lock the state of which cannot be written dies with the session.
  }
}

void TVEZStatementWriteLock::Acquire(std::int32_t error_number) {
  FHoldsRW = FCursor.LockTable(ltRW, kWriteLockAttempts, kWriteLockPauseMs, true);
  if (!FHoldsRW) throw EVEZException(error_number, "Table is locked");
  TakeXIRW();
}

void TVEZStatementWriteLock::AcquireReleasingTableData(std::int32_t error_number) {
  for (std::int32_t attempt = 1; attempt <= kWriteLockAttempts; ++attempt) {
    FHoldsRW = FCursor.LockTable(ltRW, 1, 0, true);
    if (FHoldsRW) break;
    FCursor.UnlockTableData();
    platform::Sleep(kWriteLockPauseMs);
    FCursor.LockTableData();
  }
  if (!FHoldsRW) throw EVEZException(error_number, "Table is locked");
  TakeXIRW();
}

void TVEZStatementWriteLock::TakeXIRW() {
  try {
    FHoldsXIRW = FCursor.LockTable(ltXIRW, 1, 0, true);
  } catch (...) {
    Release();
    throw;
  }
}

void TVEZStatementWriteLock::Release() {
  if (FHoldsXIRW) {
    FHoldsXIRW = false;
    FCursor.UnlockTable(ltXIRW, true);
  }
  if (FHoldsRW) {
    FHoldsRW = false;
    FCursor.UnlockTable(ltRW, true);
  }
}

}  // namespace vez

#include "dbengine/storage/VEZProcessTableData.h"

#include "platform/core/CheckedMath.h"

namespace vez {

void TVEZProcessTableData::DeleteTable(TVEZCursor* cursor, bool design_mode) {
  TVEZTableData::DeleteTable(cursor, design_mode);
  if (design_mode && !FCursorList.empty()) return;
  FDatabaseData->FreeTableData(this);
}

void TVEZProcessTableData::AddIndex(TVEZIndexDef& index_def, TVEZCursor* cursor) {
  TVEZLockGuard guard(*this);
  TVEZTableData::AddIndex(index_def, cursor);
  ApplyOutsideTransaction(cursor);
}

void TVEZProcessTableData::DeleteIndex(std::int32_t index_id, TVEZCursor* cursor) {
  TVEZLockGuard guard(*this);
  TVEZTableData::DeleteIndex(index_id, cursor);
  ApplyOutsideTransaction(cursor);
}

TVEZProcessDatabaseData::TVEZProcessDatabaseData(const char* database_name) {
  SetPageManager(nullptr);
  SetDatabaseName(database_name);
}

std::int32_t TVEZProcessDatabaseData::GetNewObjectId() {
  TVEZLockGuard guard(*this);
  FLastObjectID = platform::CheckedAdd(FLastObjectID, 1);
  return FLastObjectID;
}

}  // namespace vez

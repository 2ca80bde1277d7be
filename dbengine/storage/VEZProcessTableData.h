// What the memory and the temporary engines share: tables that live only in
// this process, with no file, no locks between processes and no transaction
// of their own. Index changes are applied at once outside a transaction, a
// deleted table frees its table data, and the database hands out object ids
// from a counter of the process.
#pragma once

#include <cstdint>

#include "dbengine/storage/VEZDatabaseData.h"
#include "dbengine/storage/VEZTableData.h"

namespace vez {

class TVEZProcessTableData : public TVEZTableData {
 public:
  using TVEZTableData::TVEZTableData;

  // Refuses (20017) while cursors have the table open; otherwise the table
  // data frees itself (the pointer is dangling afterwards).
  void DeleteTable(TVEZCursor* cursor, bool design_mode) override;
  void AddIndex(TVEZIndexDef& index_def, TVEZCursor* cursor) override;
  void DeleteIndex(std::int32_t index_id, TVEZCursor* cursor) override;
};

class TVEZProcessDatabaseData : public TVEZDatabaseData {
 public:
  explicit TVEZProcessDatabaseData(const char* database_name);

  // Under the lock: 1, 2, 3, ...
  std::int32_t GetNewObjectId() override;

 private:
  std::int32_t FLastObjectID = 0;
};

// The one database of type T in the process: made on first use, never freed
// (it lives as long as the process). The process-wide list takes it in
// through ListProcessDatabases.
template <class T>
T& ProcessDatabase() {
  static T* const database = new T();
  return *database;
}

}  // namespace vez

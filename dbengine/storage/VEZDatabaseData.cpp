#include "dbengine/storage/VEZDatabaseData.h"

#include <algorithm>

#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZDatabaseDataList.h"
#include "dbengine/storage/VEZMetaObjectDef.h"
#include "dbengine/storage/VEZPageManager.h"
#include "dbengine/storage/VEZTableData.h"

namespace vez {

TVEZDatabaseData::TVEZDatabaseData() = default;

TVEZDatabaseData::~TVEZDatabaseData() {
  // Tables go first, while the database they may still call is whole.
  while (!FTableDataList.empty()) {
    std::unique_ptr<TVEZTableData> first = std::move(FTableDataList.front());
    FTableDataList.erase(FTableDataList.begin());
    first.reset();
  }
  DatabaseDataList().Remove(this);
}

void TVEZDatabaseData::ConnectSession(TVEZBaseSession& session) {
  TVEZLockGuard guard(*this);
  if (std::find(FSessionList.begin(), FSessionList.end(), &session) == FSessionList.end())
    FSessionList.push_back(&session);
  session.SessionID = 0;
}

void TVEZDatabaseData::DisconnectSession(TVEZBaseSession& session) {
  TVEZLockGuard guard(*this);
  std::erase(FSessionList, &session);
}

bool TVEZDatabaseData::FreeIfNoSessionsConnected() {
  {
    TVEZLockGuard guard(*this);
    if (!FSessionList.empty()) return false;
  }
  delete this;
  return true;
}

void TVEZDatabaseData::GetTablesList(std::vector<std::string>& list) {
  TVEZLockGuard guard(*this);
  for (const auto& table : FTableDataList)
    list.push_back(table->TableName());
}

TVEZTableData* TVEZDatabaseData::FindTableData(const TVEZCursor& cursor) {
  TVEZLockGuard guard(*this);
  for (const auto& table : FTableDataList) {
    if (SameDefName(table->TableName(), cursor.TableName)) return table.get();
  }
  return nullptr;
}

TVEZTableData* TVEZDatabaseData::FindOrCreateTableData(TVEZCursor& cursor) {
  TVEZLockGuard guard(*this);
  TVEZTableData* found = FindTableData(cursor);
  return found != nullptr ? found : CreateTableData(cursor);
}

void TVEZDatabaseData::Commit(std::int32_t session_id, bool /*do_flush_buffers*/) {
  TVEZLockGuard guard(*this);
  if (FPageManager != nullptr) FPageManager->ApplyChanges(session_id);
}

void TVEZDatabaseData::Rollback(std::int32_t session_id) {
  TVEZLockGuard guard(*this);
  if (FPageManager != nullptr) FPageManager->CancelChanges(session_id);
  for (const auto& table : FTableDataList)
    table->Rollback(session_id);
}

bool TVEZDatabaseData::TableExists(const std::string& table_name) {
  TVEZLockGuard guard(*this);
  std::vector<std::string> names;
  GetTablesList(names);
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& name) { return SameDefName(name, table_name); });
}

TVEZTableData* TVEZDatabaseData::AddTableData(std::unique_ptr<TVEZTableData> table_data) {
  TVEZLockGuard guard(*this);
  FTableDataList.push_back(std::move(table_data));
  return FTableDataList.back().get();
}

void TVEZDatabaseData::FreeTableData(TVEZTableData* table_data) {
  std::unique_ptr<TVEZTableData> owned;
  {
    TVEZLockGuard guard(*this);
    auto it = std::find_if(FTableDataList.begin(), FTableDataList.end(),
                           [&](const auto& p) { return p.get() == table_data; });
    if (it == FTableDataList.end()) return;
    owned = std::move(*it);
    FTableDataList.erase(it);
  }
}

}  // namespace vez

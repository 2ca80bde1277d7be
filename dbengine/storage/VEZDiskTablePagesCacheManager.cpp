#include "dbengine/storage/VEZDiskTablePagesCacheManager.h"

#include <algorithm>

#include "dbengine/foundation/VEZException.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/Invariant.h"

namespace vez {

void TVEZDTPCTableInfo::Reset() {
  IsMostUpdatedLoaded = false;
  TableState = -1;
}

void TVEZDTPCTableInfo::TableIsSLocked() {
  if (TableSLockCount == 0 && TableRWLockCount == 0) Reset();
  TableSLockCount = platform::CheckedAdd(TableSLockCount, 1);
}

void TVEZDTPCTableInfo::TableIsRWLocked() {
  if (TableSLockCount == 0 && TableRWLockCount == 0) Reset();
  TableRWLockCount = platform::CheckedAdd(TableRWLockCount, 1);
}

void TVEZDTPCTableInfo::TableIsSUnlocked() {
  if (TableSLockCount > 0) --TableSLockCount;
  if (TableSLockCount == 0 && TableRWLockCount == 0) Reset();
}

void TVEZDTPCTableInfo::TableIsRWUnlocked() {
  if (TableRWLockCount > 0) --TableRWLockCount;
  if (TableSLockCount == 0 && TableRWLockCount == 0) Reset();
}

void TVEZDTPCTableInfo::SetIsMostUpdatedLoaded(std::int32_t table_state) {
  if (IsMostUpdatedLoaded) return;
  IsMostUpdatedLoaded = true;
  TableState = table_state;
}

TVEZDTPCTableInfo& TVEZDTPCSessionInfo::GetTableInfo(std::int32_t table_id) {
  for (auto& info : table_info_)
    if (info->TableID == table_id) return *info;
  table_info_.push_back(std::make_unique<TVEZDTPCTableInfo>(table_id));
  return *table_info_.back();
}

void TVEZDTPCSessionInfo::BeginWorkWithTable(std::int32_t table_id) {
  work_table_ids_.push_back(table_id);
}

void TVEZDTPCSessionInfo::EndWorkWithTable(std::int32_t table_id) {
  const auto it = std::find(work_table_ids_.begin(), work_table_ids_.end(), table_id);
  RVX_INVARIANT(it != work_table_ids_.end(), "work with a table ends only after it began");
  if (it != work_table_ids_.end()) work_table_ids_.erase(it);
}

bool TVEZDTPCSessionInfo::GetWorkTableState(std::int32_t& table_id,
                                            std::int32_t& work_table_state) {
  if (work_table_ids_.empty()) return false;
  TVEZDTPCTableInfo& info = GetTableInfo(work_table_ids_.back());
  table_id = info.TableID;
  work_table_state = info.TableState;
  return info.IsTableLockedFromModification() && info.IsMostUpdatedLoaded;
}

TVEZDTPCSessionInfo& TVEZDiskTablePagesCacheManager::Session(std::int32_t session_id) {
  if (session_id < -2) throw EVEZException(20186, "Invalid Session ID");
  const std::size_t place = static_cast<std::size_t>(session_id) + 2;
  while (session_info_.size() <= place)
    session_info_.push_back(std::make_unique<TVEZDTPCSessionInfo>());
  return *session_info_[place];
}

void TVEZDiskTablePagesCacheManager::TableIsSLocked(std::int32_t session_id,
                                                    std::int32_t table_id) {
  Session(session_id).GetTableInfo(table_id).TableIsSLocked();
}
void TVEZDiskTablePagesCacheManager::TableIsSUnlocked(std::int32_t session_id,
                                                      std::int32_t table_id) {
  Session(session_id).GetTableInfo(table_id).TableIsSUnlocked();
}
void TVEZDiskTablePagesCacheManager::TableIsRWLocked(std::int32_t session_id,
                                                     std::int32_t table_id) {
  Session(session_id).GetTableInfo(table_id).TableIsRWLocked();
}
void TVEZDiskTablePagesCacheManager::TableIsRWUnlocked(std::int32_t session_id,
                                                       std::int32_t table_id) {
  Session(session_id).GetTableInfo(table_id).TableIsRWUnlocked();
}
bool TVEZDiskTablePagesCacheManager::GetIsMostUpdatedLoaded(std::int32_t session_id,
                                                            std::int32_t table_id) {
  return Session(session_id).GetTableInfo(table_id).GetIsMostUpdatedLoaded();
}
void TVEZDiskTablePagesCacheManager::SetIsMostUpdatedLoaded(std::int32_t session_id,
                                                            std::int32_t table_id,
                                                            std::int32_t table_state) {
  Session(session_id).GetTableInfo(table_id).SetIsMostUpdatedLoaded(table_state);
}
void TVEZDiskTablePagesCacheManager::BeginWorkWithTable(std::int32_t session_id,
                                                        std::int32_t table_id) {
  Session(session_id).BeginWorkWithTable(table_id);
}
void TVEZDiskTablePagesCacheManager::EndWorkWithTable(std::int32_t session_id,
                                                      std::int32_t table_id) {
  Session(session_id).EndWorkWithTable(table_id);
}
bool TVEZDiskTablePagesCacheManager::GetWorkTableState(std::int32_t session_id,
                                                       std::int32_t& table_id,
                                                       std::int32_t& work_table_state) {
  return Session(session_id).GetWorkTableState(table_id, work_table_state);
}

}  // namespace vez

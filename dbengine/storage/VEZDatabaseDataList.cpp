#include "dbengine/storage/VEZDatabaseDataList.h"

#include <algorithm>

namespace vez {

void TVEZDatabaseDataList::Add(TVEZDatabaseData* data) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (data == nullptr || std::find(FItems.begin(), FItems.end(), data) != FItems.end()) return;
  FItems.push_back(data);
}

bool TVEZDatabaseDataList::Remove(TVEZDatabaseData* data) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  auto it = std::find(FItems.begin(), FItems.end(), data);
  if (it == FItems.end()) return false;
  FItems.erase(it);
  return true;
}

std::int32_t TVEZDatabaseDataList::Count() const {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  return static_cast<std::int32_t>(FItems.size());
}

TVEZDatabaseData* TVEZDatabaseDataList::Get(std::int32_t index) const {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (index < 0 || static_cast<std::size_t>(index) >= FItems.size()) return nullptr;
  return FItems[static_cast<std::size_t>(index)];
}

TVEZDatabaseData* TVEZDatabaseDataList::Find(
    const std::function<bool(TVEZDatabaseData*)>& match) const {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  for (TVEZDatabaseData* data : FItems) {
    if (match(data)) return data;
  }
  return nullptr;
}

TVEZDatabaseDataList& DatabaseDataList() {
  // Never destroyed: database data objects freed by other static objects at
  // exit remove themselves from it, whatever the order of destruction.
  static TVEZDatabaseDataList* const list = new TVEZDatabaseDataList();
  // The process's own databases are there from the first look on.
  [[maybe_unused]] static const bool listed = (ListProcessDatabases(*list), true);
  return *list;
}

}  // namespace vez

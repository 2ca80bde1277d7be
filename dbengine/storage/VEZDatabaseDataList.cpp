#include "dbengine/storage/VEZDatabaseDataList.h"

#include <algorithm>

#include "dbengine/storage/VEZMemoryTableData.h"
#include "dbengine/storage/VEZTemporaryTableData.h"

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
  return *list;
}

namespace {
// The process's "MEMORY" and "TEMP" databases are listed from start-up on.
// Made from here, since every program that looks a database up links this
// file: a registration in the engines' own files alone would be dropped by
// the linker from a program that never names an engine class.
[[maybe_unused]] const bool kProcessDatabasesListed =
    (MemoryDatabaseData(), TemporaryDatabaseData(), true);
}  // namespace

}  // namespace vez

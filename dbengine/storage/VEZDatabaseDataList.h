// The process-wide list of open database data objects (one per database file
// and session name, plus the process's memory and temporary databases). A
// session looks a database up in it and adds the one it creates; a database
// data removes itself when it is destroyed. The list does not own its
// entries: the session layer frees them at shutdown.
//
// Thread safety: every operation takes the list's own lock, which is
// re-entrant, so a caller may hold Lock() around a lookup and the Add that
// follows it.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace vez {

class TVEZDatabaseData;

class TVEZDatabaseDataList {
 public:
  TVEZDatabaseDataList() = default;
  TVEZDatabaseDataList(const TVEZDatabaseDataList&) = delete;
  TVEZDatabaseDataList& operator=(const TVEZDatabaseDataList&) = delete;

  void Lock() { FLock.lock(); }
  void Unlock() { FLock.unlock(); }

  // Appends data (not owned); a null or already listed entry is ignored.
  void Add(TVEZDatabaseData* data);
  // Removes data; false when it was not listed.
  bool Remove(TVEZDatabaseData* data);
  std::int32_t Count() const;
  // The entry at index, or null outside 0 to Count() - 1. Hold Lock() around
  // a walk when others may change the list.
  TVEZDatabaseData* Get(std::int32_t index) const;
  // The first entry for which match holds, or null.
  TVEZDatabaseData* Find(const std::function<bool(TVEZDatabaseData*)>& match) const;

 private:
  mutable std::recursive_mutex FLock;
  std::vector<TVEZDatabaseData*> FItems;
};

// The one list of the process. The first call lists the process's own
// databases (ListProcessDatabases), so every program that looks a database
// up finds "MEMORY" and "TEMP" there.
TVEZDatabaseDataList& DatabaseDataList();

// Adds the process's memory and temporary databases to list. Supplied by the
// engines that hold them (VEZProcessDatabases.cpp), so the list names none of
// them; called once, by the first DatabaseDataList(), and never calls it.
void ListProcessDatabases(TVEZDatabaseDataList& list);

}  // namespace vez

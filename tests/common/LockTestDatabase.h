// Test helper: a new database with the internal files a disk database starts
// with, and one table's lock-byte file, for the lock tests of one process and
// of the worker processes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dbengine/storage/VEZActiveSessionsFile.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "dbengine/storage/VEZSystemDirectory.h"
#include "dbengine/storage/VEZTableLocksFile.h"

namespace vez::test {

// Creates the database file name with the system directory, the sessions file
// and the table list, then table_count lock-byte files of max_sessions
// sessions; returns their first pages in creation order.
inline std::vector<std::int32_t> CreateLockTestDatabase(const std::string& name,
                                                        std::int32_t max_sessions,
                                                        int table_count = 1) {
  constexpr std::int32_t kInternal = -2;
  TVEZDiskPageManager pm;
  pm.CreateAndOpenDatabase(name, {}, 4096, 8);
  TVEZSystemDirectory dir(&pm);
  dir.CreateDirectory();
  TVEZActiveSessionsFile sessions(&pm);
  const std::int32_t sessions_page = sessions.CreateFile(max_sessions);
  TVEZTableListFile tables(&pm);
  const std::int32_t tables_page = tables.CreateFile();
  dir.CreateFile(dbftActiveSessionsList, sessions_page);
  dir.CreateFile(dbftTablesList, tables_page);
  dir.SaveDirectory();
  std::vector<std::int32_t> pages;
  for (int i = 0; i < table_count; ++i) {
    TVEZTableLocksFile locks(&pm);
    pages.push_back(locks.CreateFile(max_sessions));
  }
  pm.ApplyChanges(kInternal);
  return pages;
}

}  // namespace vez::test

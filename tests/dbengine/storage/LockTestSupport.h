// Test support for the table lock manager: two handles on one database (as
// two processes would have), a clock whose sleeps can act, and a probe that
// tells which lock bytes are held as another process sees them.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/storage/VEZDiskPageManager.h"
#include "dbengine/storage/VEZInternalDBFile.h"
#include "dbengine/storage/VEZTableLockManager.h"
#include "dbengine/storage/VEZTableLocksFile.h"
#include "platform/core/Clock.h"
#include "tests/common/LockTestDatabase.h"

namespace vez::test {

// A fake clock that calls hook(n, ms) after the n-th sleep (from 1).
class HookClock : public platform::FakeClock {
 public:
  std::function<void(int, std::uint32_t)> hook;
  void Sleep(std::uint32_t ms) override {
    FakeClock::Sleep(ms);
    ++count_;
    if (hook) hook(count_, ms);
  }
  int Count() const { return count_; }

 private:
  int count_ = 0;
};

// One open handle on the database with its own lock manager and the lock
// files of its tables: what one process holds.
struct LockHandleSet {
  TVEZDiskPageManager pm;
  std::unique_ptr<TVEZDatabaseTableLockManager> manager;
  std::vector<std::unique_ptr<TVEZTableLocksFile>> tables;

  LockHandleSet(const std::string& name, std::int32_t max_sessions,
                const std::vector<std::int32_t>& pages, bool exclusive = false) {
    bool read_only = false, repair = false, multi_user = true;
    pm.OpenDatabase(name, {}, read_only, repair, exclusive, multi_user);
    manager = std::make_unique<TVEZDatabaseTableLockManager>(max_sessions, &pm);
    for (std::int32_t page : pages) {
      tables.push_back(std::make_unique<TVEZTableLocksFile>(&pm));
      tables.back()->OpenFile(page);
    }
  }
  TVEZTableLocksFile& Table(std::size_t i = 0) { return *tables.at(i); }
};

// The raw bytes of a table's lock file seen through another handle.
class LockBytesProbe {
 public:
  LockBytesProbe(TVEZDiskPageManager& pm, std::int32_t start_page, std::int32_t max_sessions)
      : file_(&pm, kPageTypeTableLocks), max_(max_sessions) {
    file_.OpenFile(start_page);
  }
  bool Held(TVEZLockType kind, std::int32_t session) {
    return file_.IsByteLocked(kind * max_ + session);
  }
  TVEZPageItemID Slot(std::int32_t session) {
    std::uint8_t raw[6];
    file_.ReadBuffer(raw, 6, 6 * max_ + 6 * session);
    return TVEZPageItemID::Decode(raw);
  }
  bool GuardHeld() {
    if (!file_.LockFile()) return true;
    file_.UnlockFile();
    return false;
  }

 private:
  TVEZInternalDBDirectAccessFile file_;
  std::int32_t max_;
};

// The compatibility of the locks (held, requested), 1 = may be granted,
// written out from the rules, not from the code.
inline constexpr const char* kLockKindNames[] = {"IS", "S", "SIRW", "XIRW", "RW", "U", "X"};
inline constexpr int kCompatibilityTable[7][7] = {
    // IS S  SIRW XIRW RW U  X   (requested)
    {1, 1, 1, 1, 1, 1, 0},  // IS held
    {1, 1, 1, 1, 0, 1, 0},  // S
    {1, 1, 1, 0, 1, 1, 0},  // SIRW
    {1, 1, 0, 0, 0, 1, 0},  // XIRW
    {1, 0, 1, 0, 0, 1, 0},  // RW
    {1, 1, 1, 1, 1, 1, 0},  // U
    {0, 0, 0, 0, 0, 0, 0},  // X
};

}  // namespace vez::test

// TVEZDatabaseTableLockManager: the table and record locks of the sessions of
// this process on one database file, made visible to other processes as byte
// locks in each table's lock-byte file (TVEZTableLocksFile).
//
// Per session it keeps a TVEZTableLockList. A lock asked for while the session
// already holds a stronger one on the same table is logical: recorded, with no
// byte. When the stronger lock goes, the logical ones it covered get their
// bytes (a record lock its record byte and its record slot, so other
// processes see which record it is). ltX holds the lock-byte file's guard
// lock instead of a byte, and every check-and-lock of a table takes that
// guard, so nothing on a table changes while another session holds ltX.
//
// Waits poll through the installed clock and random source (platform
// Clock.h, Random.h) and let go of the manager's lock while they sleep, so
// the other sessions of the process can release what is waited for.
//
// Thread safety: every public operation takes the manager's lock. One session
// is used by one thread at a time. Callers may hold the database data's lock
// (always taken before this one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"

namespace vez {

class TVEZDiskPageManager;
class TVEZTableLocksFile;

// Whether every kind compatible with a is compatible with b too.
bool IsLockAtLeastAsStrong(TVEZLockType a, TVEZLockType b);

struct TVEZTableLockItem {
  TVEZLockType LockType = ltIS;
  std::int32_t LocksFilePageNo = 0;
  std::int32_t Count = 0;
  // False: logical, covered by a stronger lock of the same session.
  bool HasPhysicalLock = false;
  bool IsXIRWAfterSIRWAllowed = false;
  // The locked record of an ltU entry, written to the record slot when a
  // logical record lock gets its byte.
  TVEZPageItemID RecordID;
};

// At most one entry per (LockType, LocksFilePageNo), in the order of their
// first grant.
class TVEZTableLockList {
 public:
  TVEZTableLockList() = default;
  // Never throws: CheckEmpty reports locks still held.
  ~TVEZTableLockList() = default;
  TVEZTableLockList(const TVEZTableLockList&) = delete;
  TVEZTableLockList& operator=(const TVEZTableLockList&) = delete;

  // Raises 20201 when entries remain.
  void CheckEmpty() const;
  // An existing entry is counted once more and keeps its flags.
  void AddLock(TVEZLockType lock_type, std::int32_t locks_file_page_no, bool has_physical_lock,
               bool is_xirw_after_sirw_allowed, const TVEZPageItemID& record_id = {});
  // Counts the entry down and answers whether a physical entry was deleted
  // (count reached 0 or ignore_count). Raises 20202 when there is no entry.
  bool RemoveLock(TVEZLockType lock_type, std::int32_t locks_file_page_no, bool ignore_count);
  bool LockExists(TVEZLockType lock_type, std::int32_t locks_file_page_no) const;
  bool LockExists(TVEZLockType lock_type, std::int32_t locks_file_page_no,
                  bool is_xirw_after_sirw_allowed) const;
  // Another kind on the same table that is at least as strong.
  bool StrongerLockExists(TVEZLockType lock_type, std::int32_t locks_file_page_no) const;
  void SetPhysicalLock(std::size_t item_no);
  bool IsWeakerNonPhysicalLock(std::size_t item_no, TVEZLockType lock_type) const;

  // -1 when absent.
  std::ptrdiff_t Find(TVEZLockType lock_type, std::int32_t locks_file_page_no) const;
  std::size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  const TVEZTableLockItem& Item(std::size_t item_no) const { return items_.at(item_no); }
  const std::vector<TVEZTableLockItem>& Items() const { return items_; }

 private:
  std::vector<TVEZTableLockItem> items_;
};

class TVEZDatabaseTableLockManager {
 public:
  // The tries of unlocks and of the guard before weaker locks get bytes.
  static constexpr std::int32_t kUnlockTryCount = 4500;
  static constexpr std::int32_t kUnlockDelayMS = 20;
  // The tries of the locks taken at commit and at the end of a transaction.
  static constexpr std::int32_t kCommitTryCount = 900;
  static constexpr std::int32_t kCommitDelayMS = 100;

  // page_manager is borrowed and outlives the manager.
  TVEZDatabaseTableLockManager(std::int32_t max_session_count, TVEZDiskPageManager* page_manager);
  // Never throws; locks still held are only forgotten (their bytes go with
  // the file's handle). Release them, or call CheckNoLocks, before.
  ~TVEZDatabaseTableLockManager();
  TVEZDatabaseTableLockManager(const TVEZDatabaseTableLockManager&) = delete;
  TVEZDatabaseTableLockManager& operator=(const TVEZDatabaseTableLockManager&) = delete;

  std::int32_t MaxSessionCount() const { return max_session_count_; }

  // Raises 20201 when any session still holds a lock.
  void CheckNoLocks() const;

  // Every operation raises 20200 for a session id outside 0 .. Max - 1, and
  // answers true at once (recording nothing) on an exclusively opened file,
  // except the record operations.

  // try_count attempts, each pause half of delay_ms plus a random part of the
  // other half. A second ltSIRW of one session on one table answers false.
  bool LockTable(std::int32_t session_id, TVEZLockType lock_type, TVEZTableLocksFile& file,
                 std::int32_t try_count, std::int32_t delay_ms, bool allow_xirw_after_sirw);
  // Raises 20202 when the kind is not held and ignore_if_no_lock is false,
  // 20204 when the byte cannot be unlocked.
  bool UnlockTable(std::int32_t session_id, TVEZLockType lock_type, TVEZTableLocksFile& file,
                   bool ignore_if_no_lock, bool ignore_count);
  // At most one record per session and table; gives up after try_count
  // attempts or try_count * delay_ms milliseconds. Raises 20205.
  bool LockRecord(std::int32_t session_id, TVEZTableLocksFile& file,
                  const TVEZPageItemID& record_id, std::int32_t try_count, std::int32_t delay_ms);
  // Raises 20206.
  bool UnlockRecord(std::int32_t session_id, TVEZTableLocksFile& file,
                    const TVEZPageItemID& record_id);
  // Whether another session (of any process) holds record_id locked.
  bool IsRecordLocked(std::int32_t session_id, TVEZTableLocksFile& file,
                      const TVEZPageItemID& record_id);

  // ltRW on every table the session holds ltXIRW on; on a refusal every ltRW
  // of the session is released again (20234 when one stays) and the answer is
  // false.
  bool AddRWLocksBeforeCommit(std::int32_t session_id);
  // Gives every record lock an ltSIRW on its table, then releases the
  // session's ltXIRW and ltRW locks whole.
  bool ClearTransactionLocks(std::int32_t session_id);
  // Releases every lock of the session (its disconnect); false when one could
  // not be released.
  bool ReleaseAllLocks(std::int32_t session_id);

  // A copy of the session's entries.
  std::vector<TVEZTableLockItem> Locks(std::int32_t session_id) const;

 private:
  using Guard = std::unique_lock<std::mutex>;

  TVEZTableLockList& List(std::int32_t session_id);
  bool Exclusive() const;
  // Sleeps ms with the manager's lock let go.
  static void Pause(Guard& lock, std::uint32_t ms);
  // Takes the table's guard lock, up to kUnlockTryCount tries; *taken says
  // whether this call took it (not when the session's ltX already holds it).
  bool AcquireGuard(std::int32_t session_id, TVEZTableLocksFile& file, std::int32_t table,
                    Guard& lock, bool& taken);
  bool DoLockTable(std::int32_t session_id, TVEZLockType lock_type, TVEZTableLocksFile& file,
                   std::int32_t try_count, std::int32_t delay_ms, bool allow_xirw_after_sirw,
                   Guard& lock);
  bool DoUnlockTable(std::int32_t session_id, TVEZLockType lock_type, TVEZTableLocksFile& file,
                     bool ignore_if_no_lock, bool ignore_count, Guard& lock);
  bool DoUnlockRecord(std::int32_t session_id, TVEZTableLocksFile& file, Guard& lock);
  // Whether a logical entry of the table waits for a byte once lock_type goes.
  static bool HasWeakerNonPhysicalLocks(const TVEZTableLockList& list, std::int32_t table,
                                        TVEZLockType lock_type);
  bool MakeWeakerLocksPhysical(std::int32_t session_id, TVEZLockType lock_type,
                               TVEZTableLocksFile& file, Guard& lock);
  bool AddSIRWLocksForRecordLocks(std::int32_t session_id, Guard& lock);

  std::vector<std::unique_ptr<TVEZTableLockList>> session_lock_list_;
  std::int32_t max_session_count_;
  mutable std::mutex cs_;
  TVEZDiskPageManager* page_manager_;
};

}  // namespace vez

#include "dbengine/storage/VEZTableLockManager.h"

#include <utility>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "dbengine/storage/VEZTableLocksFile.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/Clock.h"
#include "platform/core/Invariant.h"
#include "platform/core/Random.h"

namespace vez {

namespace {

// Releases a table's guard lock when the scope ends, errors included, unless
// the lock is to be kept (a granted ltX).
class FileGuardRelease {
 public:
  FileGuardRelease(TVEZTableLocksFile& file, bool active) : file_(file), active_(active) {}
  ~FileGuardRelease() {
    if (!active_) return;
    try {
      file_.UnlockFile();
    } catch (...) {
      // The lock goes with the handle at the latest; a destructor never throws.
    }
  }
  FileGuardRelease(const FileGuardRelease&) = delete;
  FileGuardRelease& operator=(const FileGuardRelease&) = delete;
  void Keep() { active_ = false; }

 private:
  TVEZTableLocksFile& file_;
  bool active_;
};

// Every kind, for walks over the matrix.
constexpr TVEZLockType kAllKinds[] = {ltIS, ltS, ltSIRW, ltXIRW, ltRW, ltU, ltX};

}  // namespace

bool IsLockAtLeastAsStrong(TVEZLockType a, TVEZLockType b) {
  for (TVEZLockType other : kAllKinds)
    if (IsLockCompatible(a, other) && !IsLockCompatible(b, other)) return false;
  return true;
}

// ---------------------------------------------------------------------------
// TVEZTableLockList

void TVEZTableLockList::CheckEmpty() const {
  if (!items_.empty()) throw EVEZException(20201, "Some table locks still exist");
}

std::ptrdiff_t TVEZTableLockList::Find(TVEZLockType lock_type,
                                       std::int32_t locks_file_page_no) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i].LockType == lock_type && items_[i].LocksFilePageNo == locks_file_page_no)
      return static_cast<std::ptrdiff_t>(i);
  return -1;
}

void TVEZTableLockList::AddLock(TVEZLockType lock_type, std::int32_t locks_file_page_no,
                                bool has_physical_lock, bool is_xirw_after_sirw_allowed,
                                const TVEZPageItemID& record_id) {
  const std::ptrdiff_t i = Find(lock_type, locks_file_page_no);
  if (i >= 0) {
    TVEZTableLockItem& item = items_[static_cast<std::size_t>(i)];
    item.Count = platform::CheckedAdd<std::int32_t>(item.Count, 1);
    return;
  }
  TVEZTableLockItem item;
  item.LockType = lock_type;
  item.LocksFilePageNo = locks_file_page_no;
  item.Count = 1;
  item.HasPhysicalLock = has_physical_lock;
  item.IsXIRWAfterSIRWAllowed = is_xirw_after_sirw_allowed;
  item.RecordID = record_id;
  items_.push_back(item);
}

bool TVEZTableLockList::RemoveLock(TVEZLockType lock_type, std::int32_t locks_file_page_no,
                                   bool ignore_count) {
  const std::ptrdiff_t i = Find(lock_type, locks_file_page_no);
  if (i < 0) throw EVEZException(20202, "Cannot remove table lock. Lock not found");
  TVEZTableLockItem& item = items_[static_cast<std::size_t>(i)];
  RVX_INVARIANT(item.Count > 0, "a listed lock is held at least once");
  --item.Count;
  if (item.Count > 0 && !ignore_count) return false;
  const bool physical = item.HasPhysicalLock;
  items_.erase(items_.begin() + i);
  return physical;
}

bool TVEZTableLockList::LockExists(TVEZLockType lock_type, std::int32_t locks_file_page_no) const {
  return Find(lock_type, locks_file_page_no) >= 0;
}

bool TVEZTableLockList::LockExists(TVEZLockType lock_type, std::int32_t locks_file_page_no,
                                   bool is_xirw_after_sirw_allowed) const {
  const std::ptrdiff_t i = Find(lock_type, locks_file_page_no);
  return i >= 0 &&
         items_[static_cast<std::size_t>(i)].IsXIRWAfterSIRWAllowed == is_xirw_after_sirw_allowed;
}

bool TVEZTableLockList::StrongerLockExists(TVEZLockType lock_type,
                                           std::int32_t locks_file_page_no) const {
  for (const TVEZTableLockItem& item : items_)
    if (item.LocksFilePageNo == locks_file_page_no && item.LockType != lock_type &&
        IsLockAtLeastAsStrong(item.LockType, lock_type))
      return true;
  return false;
}

void TVEZTableLockList::SetPhysicalLock(std::size_t item_no) {
  items_.at(item_no).HasPhysicalLock = true;
}

bool TVEZTableLockList::IsWeakerNonPhysicalLock(std::size_t item_no, TVEZLockType lock_type) const {
  const TVEZTableLockItem& item = items_.at(item_no);
  return !item.HasPhysicalLock && IsLockAtLeastAsStrong(lock_type, item.LockType);
}

// ---------------------------------------------------------------------------
// TVEZDatabaseTableLockManager

TVEZDatabaseTableLockManager::TVEZDatabaseTableLockManager(std::int32_t max_session_count,
                                                           TVEZDiskPageManager* page_manager)
    : max_session_count_(max_session_count < 0 ? 0 : max_session_count),
      page_manager_(page_manager) {
  session_lock_list_.reserve(static_cast<std::size_t>(max_session_count_));
  for (std::int32_t i = 0; i < max_session_count_; ++i)
    session_lock_list_.push_back(std::make_unique<TVEZTableLockList>());
}

TVEZDatabaseTableLockManager::~TVEZDatabaseTableLockManager() = default;

void TVEZDatabaseTableLockManager::CheckNoLocks() const {
  Guard lock(cs_);
  for (const auto& list : session_lock_list_)
    list->CheckEmpty();
}

TVEZTableLockList& TVEZDatabaseTableLockManager::List(std::int32_t session_id) {
  if (session_id < 0 || session_id >= max_session_count_)
    throw EVEZException(20200,
                        "Cannot set table lock. Try to repair database or to increase number of "
                        "allowed connections");
  return *session_lock_list_[static_cast<std::size_t>(session_id)];
}

std::vector<TVEZTableLockItem> TVEZDatabaseTableLockManager::Locks(std::int32_t session_id) const {
  Guard lock(cs_);
  return const_cast<TVEZDatabaseTableLockManager*>(this)->List(session_id).Items();
}

bool TVEZDatabaseTableLockManager::Exclusive() const {
  return page_manager_ != nullptr && page_manager_->Exclusive();
}

void TVEZDatabaseTableLockManager::Pause(Guard& lock, std::uint32_t ms) {
  lock.unlock();
  try {
    platform::Sleep(ms);
  } catch (...) {
    lock.lock();
    throw;
  }
  lock.lock();
}

bool TVEZDatabaseTableLockManager::AcquireGuard(std::int32_t session_id, TVEZTableLocksFile& file,
                                                std::int32_t table, Guard& lock, bool& taken) {
  taken = false;
  // The session's own ltX keeps the guard: asking for it again could only fail.
  const std::ptrdiff_t x = List(session_id).Find(ltX, table);
  if (x >= 0 && List(session_id).Item(static_cast<std::size_t>(x)).HasPhysicalLock) return true;
  for (std::int32_t attempt = 0; attempt < kUnlockTryCount; ++attempt) {
    if (file.LockFile()) {
      taken = true;
      return true;
    }
    if (attempt + 1 < kUnlockTryCount) Pause(lock, kUnlockDelayMS);
  }
  return false;
}

bool TVEZDatabaseTableLockManager::LockTable(std::int32_t session_id, TVEZLockType lock_type,
                                             TVEZTableLocksFile& file, std::int32_t try_count,
                                             std::int32_t delay_ms, bool allow_xirw_after_sirw) {
  Guard lock(cs_);
  return DoLockTable(session_id, lock_type, file, try_count, delay_ms, allow_xirw_after_sirw, lock);
}

bool TVEZDatabaseTableLockManager::DoLockTable(std::int32_t session_id, TVEZLockType lock_type,
                                               TVEZTableLocksFile& file, std::int32_t try_count,
                                               std::int32_t delay_ms, bool allow_xirw_after_sirw,
                                               Guard& lock) {
  if (Exclusive()) return true;
  TVEZTableLockList& list = List(session_id);
  const std::int32_t table = file.StartPageNo();
  if (list.LockExists(lock_type, table)) {
    if (lock_type == ltSIRW) return false;
    list.AddLock(lock_type, table, false, false);
    return true;
  }
  if (list.StrongerLockExists(lock_type, table)) {
    list.AddLock(lock_type, table, false, true);
    return true;
  }
  const std::int32_t half = delay_ms > 0 ? delay_ms / 2 : 0;
  for (std::int32_t attempt = 0; attempt < try_count; ++attempt) {
    if (file.LockFile()) {
      FileGuardRelease guard(file, true);
      if (file.IsTableLockAllowed(session_id, lock_type, allow_xirw_after_sirw)) {
        if (lock_type != ltX && !file.LockTable(session_id, lock_type))
          throw EVEZException(20203, "Cannot set table lock");
        list.AddLock(lock_type, table, true, allow_xirw_after_sirw);
        if (lock_type == ltX) guard.Keep();
        return true;
      }
    }
    if (attempt + 1 < try_count)
      Pause(lock, static_cast<std::uint32_t>(platform::Random(half) + half));
  }
  return false;
}

bool TVEZDatabaseTableLockManager::UnlockTable(std::int32_t session_id, TVEZLockType lock_type,
                                               TVEZTableLocksFile& file, bool ignore_if_no_lock,
                                               bool ignore_count) {
  Guard lock(cs_);
  return DoUnlockTable(session_id, lock_type, file, ignore_if_no_lock, ignore_count, lock);
}

bool TVEZDatabaseTableLockManager::DoUnlockTable(std::int32_t session_id, TVEZLockType lock_type,
                                                 TVEZTableLocksFile& file, bool ignore_if_no_lock,
                                                 bool ignore_count, Guard& lock) {
  if (Exclusive()) return true;
  TVEZTableLockList& list = List(session_id);
  const std::int32_t table = file.StartPageNo();
  if (!list.LockExists(lock_type, table) && ignore_if_no_lock) return true;
  const bool had_physical = list.RemoveLock(lock_type, table, ignore_count);
  if (!had_physical || list.LockExists(lock_type, table)) return true;

  // The entry is gone while its byte (or the guard) is still held; put it
  // back whenever the release does not happen, so the list says what the
  // file holds.
  bool result = false;
  try {
    const bool weaker_pending = HasWeakerNonPhysicalLocks(list, table, lock_type);
    if (MakeWeakerLocksPhysical(session_id, lock_type, file, lock)) {
      if (lock_type == ltX) {
        result = file.UnlockFile();
      } else if (!weaker_pending) {
        // A byte can be let go without the guard: the guard makes a check and
        // the lock that follows it one step, and a byte released meanwhile
        // can only turn a check's refusal into a grant one try later, never
        // the reverse. While another session holds ltX no other session has
        // a byte to release (ltX conflicts with every kind). Weaker locks
        // that must get their bytes first are the one case that keeps the
        // guard (above), so no other session can slip in between.
        if (!file.UnlockTable(session_id, lock_type))
          throw EVEZException(20204, "Cannot unlock table");
        result = true;
      } else {
        bool taken = false;
        if (AcquireGuard(session_id, file, table, lock, taken)) {
          FileGuardRelease guard(file, taken);
          if (!file.UnlockTable(session_id, lock_type))
            throw EVEZException(20204, "Cannot unlock table");
          result = true;
        }
      }
    }
  } catch (...) {
    list.AddLock(lock_type, table, true, true);
    throw;
  }
  if (!result) list.AddLock(lock_type, table, true, true);
  return result;
}

bool TVEZDatabaseTableLockManager::HasWeakerNonPhysicalLocks(const TVEZTableLockList& list,
                                                             std::int32_t table,
                                                             TVEZLockType lock_type) {
  for (std::size_t i = 0; i < list.Count(); ++i)
    if (list.Item(i).LocksFilePageNo == table && list.IsWeakerNonPhysicalLock(i, lock_type))
      return true;
  return false;
}

bool TVEZDatabaseTableLockManager::MakeWeakerLocksPhysical(std::int32_t session_id,
                                                           TVEZLockType lock_type,
                                                           TVEZTableLocksFile& file, Guard& lock) {
  TVEZTableLockList& list = List(session_id);
  const std::int32_t table = file.StartPageNo();
  // Usually nothing is waiting to become physical: then the guard is not
  // taken at all, which saves two lock calls on every read.
  if (!HasWeakerNonPhysicalLocks(list, table, lock_type)) return true;
  bool taken = false;
  // Released ltX still holds the guard until the caller lets it go.
  if (lock_type != ltX && !AcquireGuard(session_id, file, table, lock, taken)) return false;
  FileGuardRelease guard(file, taken);
  bool result = true;
  for (std::size_t i = 0; i < list.Count(); ++i) {
    const TVEZTableLockItem& item = list.Item(i);
    if (item.LocksFilePageNo != table || !list.IsWeakerNonPhysicalLock(i, lock_type)) continue;
    // A record lock gets its record slot too, or other processes could not
    // tell which record is locked.
    const bool locked = item.LockType == ltU ? file.LockRecord(session_id, item.RecordID)
                                             : file.LockTable(session_id, item.LockType);
    if (locked) list.SetPhysicalLock(i);
    result = result && locked;
  }
  return result;
}

bool TVEZDatabaseTableLockManager::LockRecord(std::int32_t session_id, TVEZTableLocksFile& file,
                                              const TVEZPageItemID& record_id,
                                              std::int32_t try_count, std::int32_t delay_ms) {
  Guard lock(cs_);
  const std::uint64_t start = platform::TickCount64();
  const std::int64_t limit = platform::CheckedMul<std::int64_t>(try_count < 0 ? 0 : try_count,
                                                                delay_ms < 0 ? 0 : delay_ms);
  TVEZTableLockList& list = List(session_id);
  const std::int32_t table = file.StartPageNo();
  if (list.LockExists(ltU, table)) return false;
  if (list.LockExists(ltX, table) || list.LockExists(ltXIRW, table, false)) {
    list.AddLock(ltU, table, false, true, record_id);
    return true;
  }
  for (std::int32_t attempt = 0; attempt < try_count; ++attempt) {
    if (file.LockFile()) {
      FileGuardRelease guard(file, true);
      if (!file.IsRecordLockedByAnyOtherSession(session_id, record_id)) {
        if (!file.LockRecord(session_id, record_id))
          throw EVEZException(20205, "Cannot lock record");
        list.AddLock(ltU, table, true, true, record_id);
        return true;
      }
    }
    if (attempt + 1 >= try_count) break;
    Pause(lock, static_cast<std::uint32_t>(delay_ms < 0 ? 0 : delay_ms));
    if (static_cast<std::int64_t>(platform::TickCount64() - start) >= limit) break;
  }
  return false;
}

bool TVEZDatabaseTableLockManager::UnlockRecord(std::int32_t session_id, TVEZTableLocksFile& file,
                                                const TVEZPageItemID& /*record_id*/) {
  Guard lock(cs_);
  return DoUnlockRecord(session_id, file, lock);
}

bool TVEZDatabaseTableLockManager::DoUnlockRecord(std::int32_t session_id, TVEZTableLocksFile& file,
                                                  Guard& lock) {
  TVEZTableLockList& list = List(session_id);
  const std::int32_t table = file.StartPageNo();
  const std::ptrdiff_t i = list.Find(ltU, table);
  if (i < 0) return false;
  const TVEZPageItemID record_id = list.Item(static_cast<std::size_t>(i)).RecordID;
  if (!list.RemoveLock(ltU, table, false)) return true;
  // An ltIS asked for while the record was locked rode on the record lock; it
  // needs its own byte before the record byte goes, or ltX could be granted
  // to another session while this one has the table open.
  bool weaker_ok = true;
  for (std::size_t j = 0; j < list.Count(); ++j)
    if (list.Item(j).LocksFilePageNo == table && list.IsWeakerNonPhysicalLock(j, ltU)) {
      weaker_ok = MakeWeakerLocksPhysical(session_id, ltU, file, lock);
      break;
    }
  bool taken = false;
  if (!AcquireGuard(session_id, file, table, lock, taken)) return false;
  FileGuardRelease guard(file, taken);
  if (!file.UnlockRecord(session_id, record_id)) throw EVEZException(20206, "Cannot unlock record");
  return weaker_ok;
}

bool TVEZDatabaseTableLockManager::IsRecordLocked(std::int32_t session_id, TVEZTableLocksFile& file,
                                                  const TVEZPageItemID& record_id) {
  Guard lock(cs_);
  List(session_id);
  return file.IsRecordLockedByAnyOtherSession(session_id, record_id);
}

bool TVEZDatabaseTableLockManager::AddRWLocksBeforeCommit(std::int32_t session_id) {
  Guard lock(cs_);
  TVEZTableLockList& list = List(session_id);
  if (list.Empty()) return true;
  std::vector<std::int32_t> tables;
  for (const TVEZTableLockItem& item : list.Items())
    if (item.LockType == ltXIRW) tables.push_back(item.LocksFilePageNo);
  bool result = true;
  for (std::int32_t table : tables) {
    if (list.StrongerLockExists(ltRW, table)) continue;
    TVEZTableLocksFile file(page_manager_);
    file.OpenFile(table);
    // The wait lets go of the manager's lock: a reader of this process must
    // be able to finish, or the commit would wait for itself.
    if (!DoLockTable(session_id, ltRW, file, kCommitTryCount, kCommitDelayMS, true, lock)) {
      result = false;
      break;
    }
  }
  if (result) return true;
  std::vector<std::int32_t> rw_tables;
  for (const TVEZTableLockItem& item : list.Items())
    if (item.LockType == ltRW) rw_tables.push_back(item.LocksFilePageNo);
  for (std::int32_t table : rw_tables) {
    TVEZTableLocksFile file(page_manager_);
    file.OpenFile(table);
    DoUnlockTable(session_id, ltRW, file, false, false, lock);
    if (list.LockExists(ltRW, table)) throw EVEZException(20234, "Some table locks still exist");
  }
  return false;
}

bool TVEZDatabaseTableLockManager::AddSIRWLocksForRecordLocks(std::int32_t session_id,
                                                              Guard& lock) {
  TVEZTableLockList& list = List(session_id);
  std::vector<std::int32_t> tables;
  for (const TVEZTableLockItem& item : list.Items())
    if (item.LockType == ltU) tables.push_back(item.LocksFilePageNo);
  for (std::int32_t table : tables) {
    // A session holds ltSIRW on a table once: one already held covers the
    // record (asking again would be refused and keep the transaction's locks).
    if (list.LockExists(ltSIRW, table)) continue;
    TVEZTableLocksFile file(page_manager_);
    file.OpenFile(table);
    if (!DoLockTable(session_id, ltSIRW, file, kCommitTryCount, kCommitDelayMS, true, lock))
      return false;
  }
  return true;
}

bool TVEZDatabaseTableLockManager::ClearTransactionLocks(std::int32_t session_id) {
  Guard lock(cs_);
  if (Exclusive()) return true;
  if (!AddSIRWLocksForRecordLocks(session_id, lock)) return false;
  TVEZTableLockList& list = List(session_id);
  std::vector<std::pair<TVEZLockType, std::int32_t>> entries;
  for (const TVEZTableLockItem& item : list.Items())
    if (item.LockType == ltXIRW || item.LockType == ltRW)
      entries.emplace_back(item.LockType, item.LocksFilePageNo);
  bool result = true;
  for (const auto& [type, table] : entries) {
    TVEZTableLocksFile file(page_manager_);
    file.OpenFile(table);
    if (!DoUnlockTable(session_id, type, file, false, true, lock)) result = false;
  }
  return result;
}

bool TVEZDatabaseTableLockManager::ReleaseAllLocks(std::int32_t session_id) {
  Guard lock(cs_);
  TVEZTableLockList& list = List(session_id);
  bool result = true;
  // The strongest go last, so the weaker ones never need bytes of their own on
  // the way: record locks first, then ltIS .. ltX.
  std::vector<std::pair<TVEZLockType, std::int32_t>> entries;
  for (const TVEZTableLockItem& item : list.Items())
    if (item.LockType == ltU) entries.emplace_back(item.LockType, item.LocksFilePageNo);
  for (TVEZLockType kind : {ltIS, ltS, ltSIRW, ltXIRW, ltRW, ltX})
    for (const TVEZTableLockItem& item : list.Items())
      if (item.LockType == kind) entries.emplace_back(item.LockType, item.LocksFilePageNo);
  for (const auto& [type, table] : entries) {
    TVEZTableLocksFile file(page_manager_);
    file.OpenFile(table);
    const bool released = type == ltU ? DoUnlockRecord(session_id, file, lock)
                                      : DoUnlockTable(session_id, type, file, true, true, lock);
    if (!released) result = false;
  }
  return result;
}

}  // namespace vez

// TVEZDatabaseData: the state of one open database, shared by every session
// of the process that works on it: its connected sessions, the table data of
// its open tables (owned), its page manager and the one re-entrant lock that
// serialises all work on the database inside the process. The disk, memory
// and temporary engines derive from it.
//
// Lifetime: made with new by the session layer (or, for the memory and
// temporary databases, once for the process) and listed, unowned, in the
// process-wide DatabaseDataList(); the destructor frees every table data and
// unlists itself. FreeIfNoSessionsConnected frees the object when the last
// session has gone.
//
// Thread safety: Lock()/Unlock() is the database lock; the operations marked
// below take it themselves. TVEZTableData::Lock takes the same lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/Invariant.h"

namespace vez {

class TVEZBaseSession;
class TVEZCursor;
class TVEZPageManager;
class TVEZTableData;

class TVEZDatabaseData {
 public:
  TVEZDatabaseData();
  // Frees every table data (first of the list first), then unlists itself
  // from DatabaseDataList().
  virtual ~TVEZDatabaseData();
  TVEZDatabaseData(const TVEZDatabaseData&) = delete;
  TVEZDatabaseData& operator=(const TVEZDatabaseData&) = delete;

  // ---- Virtual operations.

  // Under the lock, lists the session and sets its SessionID to 0.
  virtual void ConnectSession(TVEZBaseSession& session);
  // Under the lock, unlists the session.
  virtual void DisconnectSession(TVEZBaseSession& session);
  // Deletes this object when no session is connected; true when it did.
  // REQUIRES: made with new and owned by nobody else.
  virtual bool FreeIfNoSessionsConnected();
  // Under the lock, appends the name of every open table, in list order.
  virtual void GetTablesList(std::vector<std::string>& list);
  // Creates the database's storage. Base: nothing.
  virtual void CreateDatabase() {}
  // The engine's table data for the cursor's TableName, listed here.
  virtual TVEZTableData* CreateTableData(TVEZCursor& cursor) = 0;
  // Under the lock, the table data whose name equals the cursor's
  // TableName (case-insensitive), or null.
  virtual TVEZTableData* FindTableData(const TVEZCursor& cursor);
  // Under the lock, FindTableData, else CreateTableData.
  virtual TVEZTableData* FindOrCreateTableData(TVEZCursor& cursor);
  // A new object id, unique within the database.
  virtual std::int32_t GetNewObjectId() = 0;
  // Under the lock, the page manager applies the session's changes (when
  // there is one). do_flush_buffers is the engines'.
  virtual void Commit(std::int32_t session_id, bool do_flush_buffers);
  // Under the lock, the page manager drops the session's changes (when
  // there is one), then every table data's Rollback, in list order.
  virtual void Rollback(std::int32_t session_id);
  // Makes what was written durable. Base: nothing.
  virtual void FlushBuffers() {}
  // Whether canonical_path (a platform CanonicalPath result) names this
  // database's file. Base: false (databases without a file are found by name).
  virtual bool SameDatabaseFile(const std::string& /*canonical_path*/) const { return false; }

  // ---- Operations of the base.

  void Lock() {
    FLock.lock();
    if (FLockDepth++ == 0) FLockOwner.store(std::this_thread::get_id(), std::memory_order_relaxed);
  }
  void Unlock() {
    RVX_INVARIANT(IsLockHeld(), "the database lock is given back by the thread that holds it");
    if (--FLockDepth == 0) FLockOwner.store(std::thread::id(), std::memory_order_relaxed);
    FLock.unlock();
  }
  // Whether this thread holds the lock (for the checks of callers that must).
  bool IsLockHeld() const {
    return FLockOwner.load(std::memory_order_relaxed) == std::this_thread::get_id();
  }
  // Under the lock: whether GetTablesList names the table (case-insensitive).
  bool TableExists(const std::string& table_name);

  // Lists a table data made by CreateTableData; the database data owns it
  // from now on. Returns it.
  TVEZTableData* AddTableData(std::unique_ptr<TVEZTableData> table_data);
  // Unlists and frees a table data of this database; nothing for another.
  void FreeTableData(TVEZTableData* table_data);
  const std::vector<std::unique_ptr<TVEZTableData>>& TableDataList() const {
    return FTableDataList;
  }
  const std::vector<TVEZBaseSession*>& SessionList() const { return FSessionList; }

  const std::string& DatabaseName() const { return FDatabaseName; }
  void SetDatabaseName(const std::string& name) { FDatabaseName = name; }
  TVEZPageManager* PageManager() const { return FPageManager; }
  void SetPageManager(TVEZPageManager* page_manager) { FPageManager = page_manager; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value) { FReadOnly = value; }
  bool MultiUser() const { return FMultiUser; }
  void SetMultiUser(bool value) { FMultiUser = value; }
  const std::string& SessionName() const { return FSessionName; }
  void SetSessionName(const std::string& name) { FSessionName = name; }

 private:
  std::recursive_mutex FLock;
  // The thread holding FLock and how often it took it (changed under FLock).
  std::atomic<std::thread::id> FLockOwner;
  std::int32_t FLockDepth = 0;
  std::vector<TVEZBaseSession*> FSessionList;
  std::vector<std::unique_ptr<TVEZTableData>> FTableDataList;
  std::string FDatabaseName;
  // Not owned: the disk engine's.
  TVEZPageManager* FPageManager = nullptr;
  bool FReadOnly = false;
  bool FMultiUser = false;
  std::string FSessionName;
};

// Holds a database or table data's lock for a scope.
template <typename T>
class TVEZLockGuard {
 public:
  explicit TVEZLockGuard(T& object) : FObject(object) { FObject.Lock(); }
  ~TVEZLockGuard() { FObject.Unlock(); }
  TVEZLockGuard(const TVEZLockGuard&) = delete;
  TVEZLockGuard& operator=(const TVEZLockGuard&) = delete;

 private:
  T& FObject;
};

}  // namespace vez

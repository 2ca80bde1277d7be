// TVEZDiskDatabaseData: the shared state of one database file within the
// process. The session layer finds it in DatabaseDataList() by the file's
// canonical path (and session name) or creates it; every local session that
// uses the file connects to it. It owns, while the file is open, the disk
// page manager, the system directory, the sessions file, the table list
// (catalogue) and the table lock manager; the disk table data calls its
// catalogue operations, its database tables lock and its object ids.
//
// Lifecycle: closed when made (no page manager), open from the first
// ConnectSession to the last DisconnectSession, closed again after
// CreateDatabase. A failed open leaves it closed, so the next ConnectSession
// tries again.
//
// Sessions: multi-user sessions get a slot of the sessions file as their id;
// single-user sessions all get 0 and this object holds every byte of the
// sessions file; when another process is connected a single-user database
// becomes read-only instead. Sessions of the other mode are refused (20235).
//
// Commit: multi-user commits first lock every table the transaction wrote
// for writing (20233 when that fails: the transaction stays open), then the
// page manager writes the session's pages under its commit protocol, then
// the transaction's table locks are released.
//
// Thread safety: the database data's lock (Lock/Unlock, re-entrant) guards
// every operation except LockTables, UnlockTables, TruncateDatabase,
// GetDBFileConnectionsCount, FlushBuffers and the suppress-errors accessors.
// The database lock is always taken before the table lock manager's.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dbengine/foundation/VEZSecurity.h"
#include "dbengine/storage/VEZDBFileFormat.h"
#include "dbengine/storage/VEZDatabaseData.h"
#include "dbengine/storage/VEZDurability.h"

namespace vez {

class TVEZActiveSessionsFile;
class TVEZDatabaseTableLockManager;
class TVEZDiskPageManager;
class TVEZSystemDirectory;
class TVEZTableListFile;

class TVEZDiskDatabaseData : public TVEZDatabaseData {
 public:
  // Tries and pause of the database tables lock (LockTables).
  static constexpr std::int32_t kLockTablesTryCount = 200;
  static constexpr std::uint32_t kLockTablesDelayMS = 20;
  // Tries and pause of GetNewObjectId.
  static constexpr std::int32_t kObjectIdTryCount = 5;
  static constexpr std::int32_t kObjectIdDelayMS = 100;

  // Closed; the file name, settings and password are set before the first
  // ConnectSession or CreateDatabase.
  TVEZDiskDatabaseData();
  // Closed, for the file database_file_name (see SetDatabaseFileName).
  explicit TVEZDiskDatabaseData(const std::string& database_file_name);
  // Closes the file (never throws), then the base frees the table data and
  // unlists the object.
  ~TVEZDiskDatabaseData() override;

  // ---- Virtual operations of the database data.

  // Opens the file at the first connection (the session's RepairNeeded and
  // MultiUser report how it opened), then gives the session its id and lists
  // it. Raises 20235 for a session of the other mode; the open's errors pass
  // through and leave the object closed.
  void ConnectSession(TVEZBaseSession& session) override;
  // Releases the session's slot (multi-user) or, for the last single-user
  // session, the single-user connection; unlists the session. The last
  // session leaving rolls back a transaction it still has, then the file is
  // closed; a multi-user session's transaction is rolled back before its
  // slot is released whether it is the last or not.
  void DisconnectSession(TVEZBaseSession& session) override;
  bool FreeIfNoSessionsConnected() override;
  // Under the lock: the names of every table of the catalogue, open or not,
  // in stored order (reloaded from the file). Nothing while closed.
  void GetTablesList(std::vector<std::string>& list) override;
  // Writes a new database file (system directory, sessions file, table list)
  // with PageSize, PageCountInExtent and MaxSessionCount and leaves it
  // closed. The page manager's errors pass through; nothing stays open.
  void CreateDatabase() override;
  // Under the lock: a new disk table data for the cursor's TableName, listed
  // and owned here.
  TVEZTableData* CreateTableData(TVEZCursor& cursor) override;
  // Under the lock: the file's next object id (shared between processes).
  std::int32_t GetNewObjectId() override;
  // Under the lock. Multi-user: 20233 when the changed tables cannot be
  // locked for writing (nothing written, transaction still open). Then the
  // session's pages are written; with do_flush_buffers the file is flushed.
  void Commit(std::int32_t session_id, bool do_flush_buffers) override;
  // Under the lock: releases the transaction's table locks (multi-user),
  // drops the session's pages, and every table data reloads its state.
  void Rollback(std::int32_t session_id) override;
  // Flushes the database file's buffers to the disk.
  void FlushBuffers() override;
  // Whether canonical_path (a CanonicalPath result) names this file.
  bool SameDatabaseFile(const std::string& canonical_path) const override;

  // ---- Disk database operations.

  // Drops the free pages at the end of the file.
  void TruncateDatabase();
  // How many connections the sessions file counts (every process). 0 while
  // closed.
  std::int32_t GetDBFileConnectionsCount();
  // The database tables lock (one byte of the file, between processes).
  // LockTables raises 20210 when it is not granted in 200 tries of 20 ms;
  // UnlockTables raises 20211 when it cannot be released.
  void LockTables();
  void UnlockTables();
  // The free space manager's flag: while set, damaged page headers are
  // accepted. False while closed; setting it while closed does nothing.
  bool GetSuppressDBHeaderErrors() const;
  void SetSuppressDBHeaderErrors(bool value);

  // ---- Catalogue operations for the disk table data, each under the lock.
  // Each reloads the table list under the database tables lock before it
  // searches or changes it, so another process's changes are seen. The
  // table list's errors pass through (30395 name in use, 30396 / 30405 /
  // 30397 no such table); without an open table list Find, Remove and
  // Rename raise 20129, 20130 and 20131 "Pointer is nil".

  // Adds the table and saves the list.
  void AddTableToList(std::int32_t table_id, const std::string& table_name,
                      std::int32_t metadata_file_page_no, std::int32_t most_updated_file_page_no,
                      std::int32_t locks_file_page_no);
  void FindTableInList(const std::string& table_name, std::int32_t& table_id,
                       std::int32_t& metadata_file_page_no, std::int32_t& most_updated_file_page_no,
                       std::int32_t& locks_file_page_no);
  void RemoveTableFromList(const std::string& table_name);
  void RenameTableInList(const std::string& table_name, const std::string& new_table_name);

  // ---- Settings and state.

  // Sets the database name and the canonical path that identifies the file.
  void SetDatabaseFileName(const std::string& database_file_name);
  // The canonical path of the database file ("" before a name is set or when
  // its folder cannot be resolved).
  const std::string& CanonicalFileName() const;

  // The password and crypto algorithm; after an open, the page manager's.
  const TVEZPassword* Password() const { return &FPassword; }
  void SetPassword(const TVEZPassword& password) { FPassword = password; }
  // Whether the open file is encrypted (false while closed).
  bool Encrypted() const;
  std::int32_t MaxSessionCount() const { return FMaxSessionCount; }
  void SetMaxSessionCount(std::int32_t value) { FMaxSessionCount = value; }
  std::int32_t PageSize() const { return FPageSize; }
  void SetPageSize(std::int32_t value) { FPageSize = value; }
  std::int32_t PageCountInExtent() const { return FPageCountInExtent; }
  void SetPageCountInExtent(std::int32_t value) { FPageCountInExtent = value; }
  // Applied to the page manager at every open and create (default: full).
  TVEZDurability Durability() const { return FDurability; }
  void SetDurability(TVEZDurability value);
  bool SingleUserConnected() const { return FSingleUserConnected; }

  bool IsOpen() const { return FDiskPageManager != nullptr; }
  // Null while closed; owned here.
  TVEZDiskPageManager* DiskPageManager() const { return FDiskPageManager.get(); }
  TVEZSystemDirectory* SystemDirectory() const { return FSystemDir.get(); }
  TVEZActiveSessionsFile* ActiveSessionsFile() const { return FActiveSessionsFile.get(); }
  TVEZTableListFile* TableListFile() const { return FTableListFile.get(); }
  TVEZDatabaseTableLockManager* TableLockManager() const { return FTableLockManager.get(); }

 private:
  void OpenDatabaseFile(TVEZBaseSession& session, bool exclusive, bool& repair_needed);
  void CloseDatabaseFile() noexcept;
  // The table list, reloaded from the file; error_code when there is none.
  // REQUIRES: the database tables lock is held.
  TVEZTableListFile& ReloadedTableList(std::int32_t error_code);
  // Saves the list; when that fails, reads the stored list back before the
  // error goes on.
  void SaveTableList(TVEZTableListFile& list);

  std::unique_ptr<TVEZDiskPageManager> FDiskPageManager;
  std::unique_ptr<TVEZSystemDirectory> FSystemDir;
  std::unique_ptr<TVEZActiveSessionsFile> FActiveSessionsFile;
  std::unique_ptr<TVEZTableListFile> FTableListFile;
  std::unique_ptr<TVEZDatabaseTableLockManager> FTableLockManager;
  TVEZPassword FPassword;
  std::int32_t FMaxSessionCount = 0;
  std::int32_t FPageSize = 0;
  std::int32_t FPageCountInExtent = 0;
  TVEZDurability FDurability = TVEZDurability::Full;
  bool FSingleUserConnected = false;
  // The canonical path and the database name it was resolved from.
  mutable std::string FCanonicalFileName;
  mutable std::string FCanonicalFileNameOf;
  // ReadOnly as the session layer set it, given back when the file closes.
  bool FReadOnlyBeforeOpen = false;
  // The database tables lock is re-entrant per thread: the disk table data
  // holds it around catalogue operations that take it again.
  std::int32_t FTablesLockCount = 0;
  std::thread::id FTablesLockOwner;
};

// Holds the database tables lock of a disk database data for a scope.
// Release lets it go early and raises its error; the destructor lets it go
// and reports nothing.
class TVEZTablesLockScope {
 public:
  // Raises 20210 as LockTables.
  explicit TVEZTablesLockScope(TVEZDiskDatabaseData& database_data);
  ~TVEZTablesLockScope();
  TVEZTablesLockScope(const TVEZTablesLockScope&) = delete;
  TVEZTablesLockScope& operator=(const TVEZTablesLockScope&) = delete;
  // Raises 20211 as UnlockTables.
  void Release();

 private:
  TVEZDiskDatabaseData* FDatabaseData;
};

// The disk database data of the file and session name in DatabaseDataList()
// (the file compared by canonical path, the session name upper-cased), or
// null (also when the file's folder cannot be resolved).
TVEZDiskDatabaseData* FindDiskDatabaseData(const std::string& database_file_name,
                                           const std::string& session_name);

}  // namespace vez

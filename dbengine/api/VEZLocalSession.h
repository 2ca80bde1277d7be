// TVEZLocalSession: the in-process session, one user's connection to one
// database through the shared state of that database in this process (a
// TVEZDatabaseData of the process-wide DatabaseDataList()). Every database
// component holds one while it is open; the cursors of its datasets work
// through it.
//
// Which database data a session uses:
// - alias (DatabaseName, exact case) "MEMORY" or "TEMP": the process's memory
//   or temporary database, whatever the file name;
// - otherwise the disk database data of the file (compared by canonical path,
//   so a symbolic link or a relative name reaches the same one) and the
//   session name (upper-cased). Single-user sessions have an empty session
//   name, so they all share one database data per file; multi-user sessions
//   of different session components get one each and meet only through the
//   file's locks, as two processes do. None found: a new disk database data
//   is made from the session's settings and listed.
//
// Connecting and disconnecting: a connected session is listed in its
// database data. A connect that fails at any step leaves the session
// disconnected and unlisted, and a disk database data that it made (or that
// has no session left) is freed again; a disconnect that leaves a disk
// database data without sessions frees it. The memory and temporary databases
// are never freed here. Destroying a connected session disconnects it first;
// errors of that disconnect are dropped, but the session is unlisted in any
// case, so no database data keeps a pointer to a freed session.
//
// Thread safety: a session is used by one thread at a time. Connecting,
// disconnecting and creating a database hold the lock of DatabaseDataList(),
// so files open and close one at a time in the process; the database data's
// own lock guards its session list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZSecurity.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZDurability.h"

namespace vez {

class TVEZDatabaseData;

class TVEZLocalSession : public TVEZBaseSession {
 public:
  // The aliases of the process's memory and temporary databases.
  static constexpr const char* kMemoryAlias = "MEMORY";
  static constexpr const char* kTempAlias = "TEMP";

  TVEZLocalSession() = default;
  ~TVEZLocalSession() override;

  // True while listed in a database data.
  bool GetConnected() override;
  // Connect: finds or makes the database data and connects to it (a disk
  // database opens its file for its first session). Then ReadOnly is the
  // database data's, and for a disk database the password record, PageSize,
  // PageCountInExtent and MaxSessionCount are the file's. Raises what the
  // open raises (30445 for a wrong password, 20235 for the other user mode),
  // and 20298 when the file is encrypted with another password than this
  // session's. Disconnect: leaves the database data; the last session of a
  // disk database rolls back its transaction and closes the file. Errors pass
  // on; the session stays connected while the database data still lists it.
  // Nothing when the state does not change.
  void SetConnected(bool value) override;
  // A connected disk database's flag; false (and nothing set) otherwise.
  bool GetSuppressDBHeaderErrors() override;
  void SetSuppressDBHeaderErrors(bool value) override;
  // Creates the file with PageSize, PageCountInExtent, MaxSessionCount and
  // the password. Raises 20092 when the file is open in this process for this
  // session name; whether it succeeds or not, no database data is left for it.
  void CreateDatabase() override;
  // Nothing: the database component deletes and renames the file itself.
  void DeleteDatabase() override {}
  void RenameDatabase(const std::string& /*new_database_file_name*/) override {}
  // Replaces list by the names of the database's tables. The database data's
  // errors pass on. Raises 20411 when not connected.
  void GetTablesList(std::vector<std::string>& list) override;
  // Whether the database has the table (case-insensitive). Raises 20411 when
  // not connected.
  bool TableExists(const std::string& table_name) override;

  // Marks the session in a transaction; nothing else until the first change.
  void StartTransaction() override;
  // Outside a transaction 20229; else the database data commits the
  // session's changes and the transaction ends. A failed commit leaves the
  // transaction open.
  void Commit(bool do_flush_buffers) override;
  // Outside a transaction 20229; else the session's changes are dropped and
  // the transaction ends.
  void Rollback() override;
  // Raises 20411 when not connected.
  void FlushBuffers() override;

  // A disk database cuts its file after the last used page; other kinds and
  // a disconnected session: nothing.
  void TruncateDatabase();
  // A disk database: the sessions of every process connected to the file;
  // other kinds and a disconnected session: 0.
  std::int32_t GetDBFileConnectionsCount();

  // Disconnects, dropping the database data's errors: the session is
  // unlisted in any case, and a disk database data left without sessions is
  // freed. Nothing when not connected. Never throws.
  void DisconnectQuietly() noexcept;

  // The connected database data (not owned); null while disconnected.
  TVEZDatabaseData* DatabaseData() const { return FDatabaseData; }

  // Settings the creator fills before connecting (see the base class for the
  // others). Durability is given to a disk database data this session makes.
  TVEZPassword Password;
  std::int32_t PageSize = 0;
  std::int32_t PageCountInExtent = 0;
  TVEZDurability Durability = TVEZDurability::Full;

 private:
  bool IsProcessDatabaseAlias() const;
  // The database data this session would use, or null. REQUIRES: the list's
  // lock is held.
  TVEZDatabaseData* FindDatabaseData() const;
  // A new disk database data with this session's settings, listed.
  TVEZDatabaseData* CreateDatabaseData() const;
  void Connect();
  void Disconnect();
  TVEZDatabaseData& ConnectedData(const char* operation) const;

  TVEZDatabaseData* FDatabaseData = nullptr;
};

}  // namespace vez

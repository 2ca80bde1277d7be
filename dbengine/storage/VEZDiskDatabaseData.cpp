#include "dbengine/storage/VEZDiskDatabaseData.h"

#include <algorithm>
#include <limits>
#include <thread>
#include <utility>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZActiveSessionsFile.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZDatabaseDataList.h"
#include "dbengine/storage/VEZDatabaseFile.h"
#include "dbengine/storage/VEZDatabaseFreeSpaceManager.h"
#include "dbengine/storage/VEZDesignMode.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "dbengine/storage/VEZDiskTableData.h"
#include "dbengine/storage/VEZSystemDirectory.h"
#include "dbengine/storage/VEZTableData.h"
#include "dbengine/storage/VEZTableLockManager.h"
#include "platform/core/Exceptions.h"
#include "platform/os/FileQueries.h"

namespace vez {

namespace {

constexpr std::int32_t kInternalSession = -2;
constexpr const char* kNotOpened = "Error - database file is not opened.";

// Session names of one process compare as the session layer always has:
// upper-cased.
std::string UpperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// The page manager takes 16-bit geometry: a larger value must be refused,
// not cut to its low bits.
std::uint16_t Geometry(std::int32_t page_size, std::int32_t page_count_in_extent,
                       std::int32_t value) {
  if (value < 0 || value > std::numeric_limits<std::uint16_t>::max())
    throw EVEZException(10480, "Invalid page geometry: page size %d, %d pages per extent",
                        {page_size, page_count_in_extent});
  return static_cast<std::uint16_t>(value);
}

// Catalogue names compare as the table list compares them: the letters a to
// z upper-cased, nothing else folded, 255 characters at most.
bool SameTableName(const std::string& a, const std::string& b) {
  return UpperAscii(a.substr(0, 255)) == UpperAscii(b.substr(0, 255));
}

}  // namespace

TVEZDiskDatabaseData::TVEZDiskDatabaseData() = default;

TVEZDiskDatabaseData::TVEZDiskDatabaseData(const std::string& database_file_name) {
  SetDatabaseFileName(database_file_name);
}

TVEZDiskDatabaseData::~TVEZDiskDatabaseData() {
  // The table data go first (they still use the page manager as they are
  // freed), then the file; the base then unlists this object.
  while (!TableDataList().empty())
    FreeTableData(TableDataList().front().get());
  CloseDatabaseFile();
}

void TVEZDiskDatabaseData::SetDatabaseFileName(const std::string& database_file_name) {
  SetDatabaseName(database_file_name);
  FCanonicalFileName.clear();
  CanonicalFileName();
}

const std::string& TVEZDiskDatabaseData::CanonicalFileName() const {
  // A name set through the base (SetDatabaseName) is resolved here once; one
  // that could not be resolved is tried again, as its folder may be made.
  if (FCanonicalFileNameOf != DatabaseName() || FCanonicalFileName.empty()) {
    try {
      FCanonicalFileName = platform::CanonicalPath(DatabaseName());
    } catch (const platform::EOSError&) {
      // A file whose folder is gone is no file a caller can name; opening or
      // creating it reports the file's own error.
      FCanonicalFileName.clear();
    }
    FCanonicalFileNameOf = DatabaseName();
  }
  return FCanonicalFileName;
}

bool TVEZDiskDatabaseData::SameDatabaseFile(const std::string& canonical_path) const {
  const std::string& own = CanonicalFileName();
  return !own.empty() && own == canonical_path;
}

void TVEZDiskDatabaseData::SetDurability(TVEZDurability value) {
  TVEZLockGuard guard(*this);
  FDurability = value;
  if (FDiskPageManager) FDiskPageManager->SetDurability(value);
}

bool TVEZDiskDatabaseData::Encrypted() const {
  return FDiskPageManager && FDiskPageManager->Encrypted();
}

// ---- Open and close.

void TVEZDiskDatabaseData::OpenDatabaseFile(TVEZBaseSession& session, bool exclusive,
                                            bool& repair_needed) {
  FReadOnlyBeforeOpen = ReadOnly();
  FDiskPageManager = std::make_unique<TVEZDiskPageManager>();
  FDiskPageManager->SetDurability(FDurability);
  SetPageManager(FDiskPageManager.get());
  SetMultiUser(session.MultiUser);
  try {
    bool read_only = ReadOnly();
    bool multi_user = MultiUser();
    FDiskPageManager->OpenDatabase(DatabaseName(), FPassword, read_only, repair_needed, exclusive,
                                   multi_user);
    SetReadOnly(read_only);
    SetMultiUser(multi_user);
    FPassword = FDiskPageManager->Password();
    FPageSize = FDiskPageManager->PageSize();
    FPageCountInExtent = FDiskPageManager->DBHeader().PageCountInExtent;

    FSystemDir = std::make_unique<TVEZSystemDirectory>(FDiskPageManager.get());
    FSystemDir->LoadDirectory();
    FActiveSessionsFile = std::make_unique<TVEZActiveSessionsFile>(FDiskPageManager.get());
    FActiveSessionsFile->OpenFile(FSystemDir->GetFileFirstPageNo(dbftActiveSessionsList));
    FMaxSessionCount = FActiveSessionsFile->MaxSessionCount();
    FTableListFile = std::make_unique<TVEZTableListFile>(FDiskPageManager.get());
    FTableListFile->OpenFile(FSystemDir->GetFileFirstPageNo(dbftTablesList));
    FTableListFile->Load();
    FTableLockManager =
        std::make_unique<TVEZDatabaseTableLockManager>(FMaxSessionCount, FDiskPageManager.get());
  } catch (...) {
    CloseDatabaseFile();
    throw;
  }
}

void TVEZDiskDatabaseData::CloseDatabaseFile() noexcept {
  FSystemDir.reset();
  FTableListFile.reset();
  FActiveSessionsFile.reset();
  FTableLockManager.reset();
  if (FDiskPageManager) {
    FDiskPageManager->CloseDatabase();
    SetPageManager(nullptr);
    FDiskPageManager.reset();
    // The next open starts over: it takes the single-user connection of the
    // new handle again and is read-only only if that or the file says so.
    FSingleUserConnected = false;
    SetReadOnly(FReadOnlyBeforeOpen);
  }
  FTablesLockCount = 0;
}

// ---- Sessions.

void TVEZDiskDatabaseData::ConnectSession(TVEZBaseSession& session) {
  TVEZLockGuard guard(*this);
  if (std::find(SessionList().begin(), SessionList().end(), &session) != SessionList().end())
    return;
  if (!IsOpen()) {
    bool repair_needed = false;
    OpenDatabaseFile(session, session.Exclusive, repair_needed);
    session.RepairNeeded = repair_needed;
    session.MultiUser = MultiUser();
  }
  try {
    if (session.MultiUser != MultiUser())
      throw EVEZException(
          20235, "Cannot open database in multi-user and signle-user mode at the same time");
    std::int32_t session_id = 0;
    if (MultiUser()) {
      session_id = FActiveSessionsFile->MultiUserConnect();
    } else if (!FSingleUserConnected) {
      FSingleUserConnected = FActiveSessionsFile->SingleUserConnect();
      // Another process is connected: this one may only read.
      if (!FSingleUserConnected) SetReadOnly(true);
    }
    try {
      TVEZDatabaseData::ConnectSession(session);
    } catch (...) {
      if (MultiUser()) FActiveSessionsFile->MultiUserDisconnect(session_id);
      throw;
    }
    session.SessionID = session_id;
  } catch (...) {
    // A first connection that fails leaves the object closed.
    if (SessionList().empty()) CloseDatabaseFile();
    throw;
  }
}

void TVEZDiskDatabaseData::DisconnectSession(TVEZBaseSession& session) {
  TVEZLockGuard guard(*this);
  if (std::find(SessionList().begin(), SessionList().end(), &session) == SessionList().end())
    return;
  // A multi-user session's slot goes to the next session that connects: a
  // transaction it left open must not pass to that one with the slot.
  if (IsOpen() && MultiUser() && session.InTransaction) session.Rollback();
  try {
    if (IsOpen()) {
      if (MultiUser()) {
        FActiveSessionsFile->MultiUserDisconnect(session.SessionID);
      } else if (FSingleUserConnected && SessionList().size() == 1) {
        FActiveSessionsFile->SingleUserDisconnect();
      }
    }
  } catch (const EVEZException&) {
    if (!DesignMode()) throw;
  }
  TVEZDatabaseData::DisconnectSession(session);
  if (!SessionList().empty()) return;
  // The last session may still be inside a transaction: its changes are
  // dropped before the file goes, whatever the rollback reports.
  try {
    if (session.InTransaction) session.Rollback();
  } catch (...) {
    CloseDatabaseFile();
    throw;
  }
  CloseDatabaseFile();
}

bool TVEZDiskDatabaseData::FreeIfNoSessionsConnected() {
  return TVEZDatabaseData::FreeIfNoSessionsConnected();
}

// ---- Database file.

void TVEZDiskDatabaseData::CreateDatabase() {
  TVEZLockGuard guard(*this);
  if (IsOpen()) throw EVEZException(20092, "Cannot create database. Database is already open");
  const std::uint16_t page_size = Geometry(FPageSize, FPageCountInExtent, FPageSize);
  const std::uint16_t extent = Geometry(FPageSize, FPageCountInExtent, FPageCountInExtent);
  TVEZDiskPageManager page_manager;
  page_manager.SetDurability(FDurability);
  page_manager.CreateAndOpenDatabase(DatabaseName(), FPassword, page_size, extent);
  TVEZSystemDirectory directory(&page_manager);
  TVEZActiveSessionsFile sessions(&page_manager);
  TVEZTableListFile tables(&page_manager);
  directory.CreateDirectory();
  directory.CreateFile(dbftActiveSessionsList, sessions.CreateFile(FMaxSessionCount));
  directory.CreateFile(dbftTablesList, tables.CreateFile());
  directory.SaveDirectory();
  page_manager.ApplyChanges(kInternalSession);
  page_manager.CloseDatabase();
}

void TVEZDiskDatabaseData::GetTablesList(std::vector<std::string>& list) {
  TVEZLockGuard guard(*this);
  if (!FTableListFile) return;
  TVEZTablesLockScope tables_lock(*this);
  FTableListFile->GetTablesList(list);
  tables_lock.Release();
}

TVEZTableData* TVEZDiskDatabaseData::CreateTableData(TVEZCursor& cursor) {
  TVEZLockGuard guard(*this);
  auto table = std::make_unique<TVEZDiskTableData>(this);
  table->SetTableName(cursor.TableName);
  return AddTableData(std::move(table));
}

std::int32_t TVEZDiskDatabaseData::GetNewObjectId() {
  TVEZLockGuard guard(*this);
  if (!FDiskPageManager) throw EVEZException(30399, kNotOpened);
  return FDiskPageManager->GetNextObjectID(kObjectIdTryCount, kObjectIdDelayMS);
}

void TVEZDiskDatabaseData::Commit(std::int32_t session_id, bool do_flush_buffers) {
  TVEZLockGuard guard(*this);
  if (MultiUser() && FTableLockManager && !FTableLockManager->AddRWLocksBeforeCommit(session_id))
    throw EVEZException(20233, "Cannot commit changes. Locks of modified tables failed");
  // A commit that flushes buffers is as durable as the file allows, whatever
  // the database's own level.
  if (do_flush_buffers && FDiskPageManager) FDiskPageManager->RequestFullDurabilityForNextCommit();
  TVEZDatabaseData::Commit(session_id, do_flush_buffers);
  if (do_flush_buffers) FlushBuffers();
  if (MultiUser() && FTableLockManager) FTableLockManager->ClearTransactionLocks(session_id);
}

void TVEZDiskDatabaseData::Rollback(std::int32_t session_id) {
  TVEZLockGuard guard(*this);
  if (MultiUser() && FTableLockManager) FTableLockManager->ClearTransactionLocks(session_id);
  TVEZDatabaseData::Rollback(session_id);
}

void TVEZDiskDatabaseData::FlushBuffers() {
  if (FDiskPageManager && FDiskPageManager->IsOpened())
    FDiskPageManager->DatabaseFile().FlushFileBuffers();
}

void TVEZDiskDatabaseData::TruncateDatabase() {
  if (!FDiskPageManager) throw EVEZException(10459, kNotOpened);
  FDiskPageManager->TruncateDatabase();
}

std::int32_t TVEZDiskDatabaseData::GetDBFileConnectionsCount() {
  return FActiveSessionsFile ? FActiveSessionsFile->GetDBFileConnectionsCount() : 0;
}

bool TVEZDiskDatabaseData::GetSuppressDBHeaderErrors() const {
  const TVEZDatabaseFreeSpaceManager* manager =
      FDiskPageManager ? FDiskPageManager->FreeSpaceManager() : nullptr;
  return manager != nullptr && manager->SuppressDBHeaderErrors();
}

void TVEZDiskDatabaseData::SetSuppressDBHeaderErrors(bool value) {
  TVEZDatabaseFreeSpaceManager* manager =
      FDiskPageManager ? FDiskPageManager->FreeSpaceManager() : nullptr;
  if (manager != nullptr) manager->SetSuppressDBHeaderErrors(value);
}

// ---- The database tables lock.

void TVEZDiskDatabaseData::LockTables() {
  const std::thread::id me = std::this_thread::get_id();
  // Each try holds the database lock only for itself, so the thread that
  // holds the tables lock can still reach UnlockTables while others wait.
  const bool granted = RetryCall(kLockTablesTryCount, kLockTablesDelayMS, [&] {
    TVEZLockGuard guard(*this);
    if (!FDiskPageManager) throw EVEZException(10459, kNotOpened);
    if (FTablesLockCount > 0 && FTablesLockOwner == me) {
      ++FTablesLockCount;
      return true;
    }
    if (FTablesLockCount > 0 || !FDiskPageManager->LockTables()) return false;
    FTablesLockCount = 1;
    FTablesLockOwner = me;
    return true;
  });
  if (!granted) throw EVEZException(20210, "Database tables are locked");
}

void TVEZDiskDatabaseData::UnlockTables() {
  TVEZLockGuard guard(*this);
  if (!FDiskPageManager || FTablesLockCount == 0 || FTablesLockOwner != std::this_thread::get_id())
    throw EVEZException(20211, "Cannot unlock database tables");
  if (FTablesLockCount > 1) {
    --FTablesLockCount;
    return;
  }
  if (!FDiskPageManager->UnlockTables())
    throw EVEZException(20211, "Cannot unlock database tables");
  FTablesLockCount = 0;
}

// ---- Catalogue.

TVEZTableListFile& TVEZDiskDatabaseData::ReloadedTableList(std::int32_t error_code) {
  if (!FTableListFile) throw EVEZException(error_code, "Pointer is nil");
  // Another process may have changed the catalogue since it was last read.
  FTableListFile->Load();
  return *FTableListFile;
}

void TVEZDiskDatabaseData::AddTableToList(std::int32_t table_id, const std::string& table_name,
                                          std::int32_t metadata_file_page_no,
                                          std::int32_t most_updated_file_page_no,
                                          std::int32_t locks_file_page_no) {
  TVEZLockGuard guard(*this);
  if (!FTableListFile) throw EVEZException(20128, "Pointer is nil");
  TVEZTablesLockScope tables_lock(*this);
  TVEZTableListFile& list = ReloadedTableList(20128);
  list.AddTable(table_id, table_name, metadata_file_page_no, most_updated_file_page_no,
                locks_file_page_no);
  SaveTableList(list);
  tables_lock.Release();
}

void TVEZDiskDatabaseData::FindTableInList(const std::string& table_name, std::int32_t& table_id,
                                           std::int32_t& metadata_file_page_no,
                                           std::int32_t& most_updated_file_page_no,
                                           std::int32_t& locks_file_page_no) {
  TVEZLockGuard guard(*this);
  if (!FTableListFile) throw EVEZException(20129, "Pointer is nil");
  TVEZTablesLockScope tables_lock(*this);
  ReloadedTableList(20129).OpenTable(table_name, table_id, metadata_file_page_no,
                                     most_updated_file_page_no, locks_file_page_no);
  tables_lock.Release();
}

void TVEZDiskDatabaseData::RemoveTableFromList(const std::string& table_name) {
  TVEZLockGuard guard(*this);
  if (!FTableListFile) throw EVEZException(20130, "Pointer is nil");
  TVEZTablesLockScope tables_lock(*this);
  TVEZTableListFile& list = ReloadedTableList(20130);
  list.RemoveTable(table_name);
  SaveTableList(list);
  tables_lock.Release();
}

void TVEZDiskDatabaseData::RenameTableInList(const std::string& table_name,
                                             const std::string& new_table_name) {
  TVEZLockGuard guard(*this);
  if (!FTableListFile) throw EVEZException(20131, "Pointer is nil");
  TVEZTablesLockScope tables_lock(*this);
  TVEZTableListFile& list = ReloadedTableList(20131);
  // Two entries of one name would leave the second table unreachable; a
  // change of case only is still allowed.
  if (list.TableExists(table_name) && list.TableExists(new_table_name) &&
      !SameTableName(table_name, new_table_name))
    throw EVEZException(30395, "Cannot rename table. Table '%s' already exists", {new_table_name});
  list.RenameTable(table_name, new_table_name);
  SaveTableList(list);
  tables_lock.Release();
}

void TVEZDiskDatabaseData::SaveTableList(TVEZTableListFile& list) {
  try {
    list.Save();
  } catch (...) {
    // The list in memory holds a change the file does not: read it back so
    // later searches see the catalogue as stored.
    try {
      list.Load();
    } catch (const EVEZException&) {
    }
    throw;
  }
}

TVEZTablesLockScope::TVEZTablesLockScope(TVEZDiskDatabaseData& database_data)
    : FDatabaseData(&database_data) {
  database_data.LockTables();
}

TVEZTablesLockScope::~TVEZTablesLockScope() {
  if (FDatabaseData == nullptr) return;
  try {
    FDatabaseData->UnlockTables();
  } catch (const EVEZException&) {
    // The byte goes with the file's handle when the database closes.
  }
}

void TVEZTablesLockScope::Release() {
  TVEZDiskDatabaseData* data = std::exchange(FDatabaseData, nullptr);
  if (data != nullptr) data->UnlockTables();
}

// ---- Lookup.

TVEZDiskDatabaseData* FindDiskDatabaseData(const std::string& database_file_name,
                                           const std::string& session_name) {
  std::string canonical;
  try {
    canonical = platform::CanonicalPath(database_file_name);
  } catch (const platform::EOSError&) {
    // Nothing open can lie in a folder that cannot be reached; the open or
    // create that follows reports why with its own error.
    return nullptr;
  }
  const std::string session = UpperAscii(session_name);
  return dynamic_cast<TVEZDiskDatabaseData*>(DatabaseDataList().Find([&](TVEZDatabaseData* data) {
    return data->SameDatabaseFile(canonical) && UpperAscii(data->SessionName()) == session &&
           dynamic_cast<TVEZDiskDatabaseData*>(data) != nullptr;
  }));
}

}  // namespace vez

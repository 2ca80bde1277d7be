#include "dbengine/api/VEZDatabase.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <filesystem>
#include <utility>

#include "dbengine/api/VEZBaseDataSet.h"
#include "dbengine/api/VEZFlagScope.h"
#include "dbengine/api/VEZLocalSession.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZDBFileFormat.h"
#include "dbengine/storage/VEZDatabaseFile.h"
#include "dbengine/storage/VEZDesignMode.h"
#include "dbengine/storage/VEZDiskDatabaseData.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "dbengine/storage/VEZRollbackJournal.h"
#include "platform/core/Collation.h"
#include "platform/core/Format.h"
#include "platform/dataset/DBConsts.h"
#include "platform/dataset/DatabaseError.h"
#include "platform/os/File.h"
#include "platform/ui/EngineUi.h"

namespace vez {

namespace {

constexpr const char* kRepairQuestion =
    "Database file was not correctly closed last time. Do you want to repair it?";
constexpr const char* kConversionNotice =
    "Database file you are opening is of old format. It will be converted to the current VEZ "
    "database format now. It is recommended to make a backup of the database before continuing.";
constexpr const char* kConversionFailed =
    "Cannot convert database to the new format. Please report this problem to the database "
    "engine's support, with the database file if you can.";

// The version stored in the header of the file handle opened; files of an
// old format are converted rather than repaired.
double HeaderVersion(const TVEZLocalSession& handle) {
  auto* disk = dynamic_cast<TVEZDiskDatabaseData*>(handle.DatabaseData());
  if (disk == nullptr || disk->DiskPageManager() == nullptr) return kDBVersion;
  return disk->DiskPageManager()->DBHeader().Version;
}

// Deletes a file of a database (the file or its journal) as the engine
// deletes files: 30364 when it is missing, 30362 when another opener holds
// it or the system refuses.
void DeleteDatabaseFile(const std::string& path) {
  TVEZDatabaseFile file;
  file.OpenFile(path, amReadOnly, smShareDenyNone);
  file.CloseFile();
  file.DeleteFile(path);
}

// Deletes the journal beside database_file_name when there is one.
void DeleteJournalOf(const std::string& database_file_name) {
  const std::string path = TVEZRollbackJournal::PathFor(database_file_name);
  if (platform::DefaultFileSystem().FileExists(path)) DeleteDatabaseFile(path);
}

}  // namespace

TVEZDatabase::TVEZDatabase(platform::Component* owner) : platform::Component(owner) {
  TVEZSession* session = dynamic_cast<TVEZSession*>(owner);
  if (session == nullptr) session = TVEZSession::AutoSessionOf(owner);
  if (session == nullptr) session = &DefaultSession();
  FSession = session;
  FSessionName = session->SessionName();
  session->AddDatabase(*this);
}

TVEZDatabase::~TVEZDatabase() {
  SetDestroying();
  try {
    Close();
  } catch (...) {
    platform::ReportCurrentException();
  }
  // A handle whose disconnect failed is still let go of.
  FreeHandle(std::move(FOwnHandle));
  FHandle = nullptr;
  if (FSession != nullptr) FSession->RemoveDatabase(*this);
  WipeString(FPassword);
}

// ---- Properties.

void TVEZDatabase::SetConnected(bool value) {
  if (value) {
    Open();
  } else {
    Close();
  }
}

std::string TVEZDatabase::CurrentVersion() const {
  char text[32];
  const auto result =
      std::to_chars(text, text + sizeof(text), kDBVersion, std::chars_format::fixed, 2);
  return std::string(text, result.ptr) + " ";
}

void TVEZDatabase::SetDatabaseFileName(const std::string& value) {
  if (value == FDatabaseFileName) return;
  Close();
  FDatabaseFileName = value;
}

void TVEZDatabase::SetDatabaseName(const std::string& value) {
  if (value == FDatabaseName) return;
  CheckInactiveOrClose();
  ValidateName(value);
  FDatabaseName = value;
}

void TVEZDatabase::SetKeepConnection(bool value) {
  FKeepConnection = value;
  if (!value && FRefCount == 0) Close();
}

void TVEZDatabase::SetSessionName(const std::string& value) {
  CheckInactiveOrClose();
  if (value == FSessionName) return;
  FSessionName = value;
  if (!Destroying()) AttachSession(false);
}

void TVEZDatabase::SetHandle(TVEZBaseSession* value) {
  if (Connected()) Close();
  if (value == nullptr) return;
  CheckDatabaseName();
  AttachSession(true);
  if (value->SessionComponentManager != FSession->Handle())
    platform::DatabaseError("Database handle owned by a different session", Name);
  FHandle = value;
  Notify(TVEZDatabaseEvent::dbOpen);
  FAcquiredHandle = true;
}

bool TVEZDatabase::InTransaction() const {
  return FHandle != nullptr && FHandle->InTransaction;
}

bool TVEZDatabase::Exists() const {
  return !FDatabaseFileName.empty() && platform::DefaultFileSystem().FileExists(FDatabaseFileName);
}

TVEZBaseDataSet* TVEZDatabase::GetDataSet(std::int32_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= FDataSets.size()) return nullptr;
  return FDataSets[static_cast<std::size_t>(index)];
}

void TVEZDatabase::AddDataSet(TVEZBaseDataSet& dataset) {
  if (std::find(FDataSets.begin(), FDataSets.end(), &dataset) == FDataSets.end())
    FDataSets.push_back(&dataset);
}

void TVEZDatabase::RemoveDataSet(TVEZBaseDataSet& dataset) {
  std::erase(FDataSets, &dataset);
}

void TVEZDatabase::Notify(TVEZDatabaseEvent event) {
  if (FSession != nullptr) FSession->DBNotification(event, *this);
}

// ---- Guards.

void TVEZDatabase::CheckDatabaseName() const {
  if (FDatabaseName.empty() && !FTemporary) platform::DatabaseError("Database name missing", Name);
}

void TVEZDatabase::CheckActive() const {
  if (FHandle == nullptr) platform::DatabaseError(platform::dbconsts::SDatabaseClosed, Name);
}

void TVEZDatabase::CheckInactive() const {
  if (FHandle != nullptr) platform::DatabaseError(platform::dbconsts::SDatabaseOpen, Name);
}

void TVEZDatabase::CheckInactiveOrClose() {
  if (DesignMode()) {
    Close();
  } else {
    CheckInactive();
  }
}

void TVEZDatabase::AttachSession(bool activate) {
  TVEZSession* session =
      activate ? &Sessions().GetSessionByName(FSessionName) : Sessions().FindSession(FSessionName);
  if (session == nullptr) session = FSession;
  if (session != FSession) {
    if (FSession != nullptr) FSession->RemoveDatabase(*this);
    FSession = session;
    if (session != nullptr) session->AddDatabase(*this);
    try {
      ValidateName(FDatabaseName);
    } catch (...) {
      FDatabaseName.clear();
      throw;
    }
  }
  if (activate && FSession != nullptr) FSession->SetActive(true);
}

void TVEZDatabase::ValidateName(const std::string& name) {
  if (name.empty() || FSession == nullptr) return;
  TVEZSessionLockScope lock(*FSession);
  TVEZDatabase* other = nullptr;
  for (TVEZDatabase* database : FSession->FDatabases) {
    if (database != this && (!database->FDatabaseName.empty() || database->FTemporary) &&
        platform::AnsiSameText(database->FDatabaseName, name)) {
      other = database;
      break;
    }
  }
  if (other == nullptr || (FHandleShared && other->FHandleShared)) return;
  if (!other->FTemporary || other->FRefCount > 0)
    platform::DatabaseError(platform::Format("Duplicate database name '%s'", {name}), Name);
  FSession->FreeTemporaryDatabase(*other);
}

// ---- Handles.

std::unique_ptr<TVEZLocalSession> TVEZDatabase::CreateHandle() {
  auto handle = std::make_unique<TVEZLocalSession>();
  handle->DatabaseName = FDatabaseName;
  handle->DatabaseFileName = FDatabaseFileName;
  handle->Password.Password = FPassword;
  handle->Password.CryptoAlgorithm = FCryptoAlgorithm;
  handle->PageSize = FPageSize;
  handle->PageCountInExtent = FPageCountInExtent;
  handle->MaxSessionCount = FMaxConnections;
  handle->ReadOnly = FReadOnly;
  handle->Exclusive = FExclusive;
  handle->MultiUser = FMultiUser;
  handle->Durability = FDurability;
  // The session the database is in names its multi-user connections, so
  // two session components meet through the file's locks.
  if (FMultiUser && FSession != nullptr) handle->SessionName = FSession->SessionName();
  if (FSession != nullptr) handle->SessionComponentManager = FSession->Handle();
  return handle;
}

void TVEZDatabase::FreeHandle(std::unique_ptr<TVEZLocalSession> handle) noexcept {
  if (handle) handle->DisconnectQuietly();
}

std::unique_ptr<TVEZLocalSession> TVEZDatabase::ConnectHandle(
    std::unique_ptr<TVEZLocalSession> handle) {
  try {
    handle->SetConnected(true);
    if (handle->RepairNeeded && !FSilentMode && !DesignMode()) {
      const bool repair =
          HeaderVersion(*handle) >= kDBLowestSoundVersion ? AskRepair() : AnnounceConversion();
      if (repair) {
        FreeHandle(std::move(handle));
        std::string log;
        {
          TVEZFlagScope no_request(FNoRequestAutoRepair, true);
          try {
            log = RepairDatabase();
          } catch (...) {
            throw EVEZException(20238, kConversionFailed);
          }
        }
        if (!log.empty()) platform::CurrentEngineUi().Inform(log);
        handle = CreateHandle();
        handle->SetConnected(true);
      }
    }
  } catch (...) {
    FreeHandle(std::move(handle));
    throw;
  }
  return handle;
}

bool TVEZDatabase::AskRepair() {
  if (FNoRequestAutoRepair) return false;
  if (OnNeedRepair) {
    bool do_repair = false;
    OnNeedRepair(*this, do_repair);
    return do_repair;
  }
  return platform::CurrentEngineUi().Confirm(kRepairQuestion);
}

bool TVEZDatabase::AnnounceConversion() {
  if (FNoRequestAutoRepair) return false;
  platform::CurrentEngineUi().Inform(kConversionNotice);
  return true;
}

bool TVEZDatabase::AskPassword() {
  if (OnPassword) {
    bool cont = false;
    OnPassword(*this, cont);
    return cont;
  }
  if (FSilentMode) return false;
  std::string password;
  if (!platform::CurrentEngineUi().PromptPassword("", password)) {
    WipeString(password);
    return false;
  }
  SetPassword(password);
  WipeString(password);
  return true;
}

// ---- Opening and closing.

void TVEZDatabase::Open() {
  if (FHandle != nullptr) return;
  CheckDatabaseName();
  AttachSession(true);
  if (FHandleShared) {
    if (TVEZBaseSession* shared = FSession->FindDatabaseHandle(FDatabaseName)) {
      FHandle = shared;
      FAcquiredHandle = true;
      return;
    }
  }
  TVEZSessionLockScope lock(*FSession);
  if (!FTemporary && !Exists())
    platform::DatabaseError(
        platform::Format("Database file '%s' does not exist", {FDatabaseFileName}), Name);
  std::unique_ptr<TVEZLocalSession> handle;
  for (;;) {
    try {
      handle = ConnectHandle(CreateHandle());
      break;
    } catch (const EVEZException& e) {
      // A wrong password: ask again as long as someone answers.
      if (e.NativeError() != 30445 || !AskPassword()) throw;
    }
  }
  if (!DesignMode()) FReadOnly = handle->ReadOnly;
  FCryptoAlgorithm = handle->Password.CryptoAlgorithm;
  FPageSize = handle->PageSize;
  FPageCountInExtent = handle->PageCountInExtent;
  FMaxConnections = handle->MaxSessionCount;
  FOwnHandle = std::move(handle);
  FHandle = FOwnHandle.get();
  FAcquiredHandle = false;
  Notify(TVEZDatabaseEvent::dbOpen);
}

void TVEZDatabase::Close() {
  if (FHandle == nullptr || FClosing) return;
  TVEZFlagScope closing(FClosing, true);
  Notify(TVEZDatabaseEvent::dbClose);
  CloseDataSets();
  if (!FAcquiredHandle) {
    // Databases that took this handle would be left with a freed one. They
    // are in this session: a handle is shared or taken only within one.
    if (FSession != nullptr) {
      const std::vector<TVEZDatabase*> databases = FSession->FDatabases;
      for (TVEZDatabase* database : databases) {
        if (database != this && database->FAcquiredHandle && database->FHandle == FHandle)
          database->Close();
      }
    }
    FOwnHandle->SetConnected(false);
    FOwnHandle.reset();
  }
  FHandle = nullptr;
  FAcquiredHandle = false;
  FRefCount = 0;
}

void TVEZDatabase::CloseDataSets() {
  [[maybe_unused]] auto attached = [&](TVEZBaseDataSet* dataset) {
    return std::find(FDataSets.begin(), FDataSets.end(), dataset) != FDataSets.end();
  };
  // A dataset that keeps itself attached after Disconnect breaks its
  // contract; it is let go of here so that closing ends.
  auto disconnect = [&](TVEZBaseDataSet* dataset) {
    dataset->Disconnect();
    assert(!attached(dataset));
    RemoveDataSet(*dataset);
  };
  for (;;) {
    auto query = std::find_if(FDataSets.begin(), FDataSets.end(),
                              [](TVEZBaseDataSet* dataset) { return dataset->IsQuery(); });
    if (query == FDataSets.end()) break;
    disconnect(*query);
  }
  while (!FDataSets.empty())
    disconnect(FDataSets.back());
}

void TVEZDatabase::CreateDatabase() {
  CheckDatabaseName();
  AttachSession(true);
  CheckInactive();
  TVEZSessionLockScope lock(*FSession);
  std::unique_ptr<TVEZLocalSession> handle = CreateHandle();
  try {
    handle->CreateDatabase();
  } catch (...) {
    FreeHandle(std::move(handle));
    throw;
  }
  FreeHandle(std::move(handle));
}

bool TVEZDatabase::TableExists(const std::string& table_name) {
  if (FHandle == nullptr) Open();
  return FHandle != nullptr && FHandle->TableExists(table_name);
}

void TVEZDatabase::GetTablesList(std::vector<std::string>& list) {
  const bool open_here = FHandle == nullptr;
  if (open_here) Open();
  try {
    if (FHandle != nullptr) FHandle->GetTablesList(list);
  } catch (...) {
    if (open_here) {
      try {
        Close();
      } catch (...) {
        // The list's error is the one to report.
      }
    }
    throw;
  }
  if (open_here) Close();
}

// ---- Transactions and buffers.

void TVEZDatabase::StartTransaction() {
  CheckActive();
  if (FHandle->InTransaction)
    platform::DatabaseError("Database is already within a transaction", Name);
  FHandle->StartTransaction();
}

void TVEZDatabase::Commit(bool do_flush_buffers) {
  CheckActive();
  FHandle->Commit(do_flush_buffers);
}

void TVEZDatabase::Rollback() {
  CheckActive();
  FHandle->Rollback();
}

void TVEZDatabase::FlushBuffers() {
  CheckDatabaseName();
  AttachSession(true);
  CheckActive();
  FHandle->FlushBuffers();
}

std::int32_t TVEZDatabase::GetDBFileConnectionsCount() {
  CheckDatabaseName();
  AttachSession(true);
  CheckActive();
  auto* local = dynamic_cast<TVEZLocalSession*>(FHandle);
  return local != nullptr ? local->GetDBFileConnectionsCount() : 0;
}

// ---- File operations.

void TVEZDatabase::RecoverJournal() const {
  TVEZDiskPageManager page_manager;
  page_manager.SetDurability(FDurability);
  bool read_only = false;
  bool repair_needed = false;
  bool multi_user = false;
  page_manager.OpenDatabase(FDatabaseFileName, TVEZPassword{FPassword, FCryptoAlgorithm}, read_only,
                            repair_needed, true, multi_user);
  page_manager.CloseDatabase();
}

void TVEZDatabase::DeleteDatabase() {
  CheckDatabaseName();
  AttachSession(true);
  CheckInactive();
  try {
    RecoverJournal();
  } catch (const EVEZException&) {
    // A file that cannot be opened as a database (damaged, foreign, held by
    // another opener) is still deleted with its journal when nobody holds
    // it; DeleteFile refuses one that is held.
  }
  DeleteDatabaseFile(FDatabaseFileName);
  DeleteJournalOf(FDatabaseFileName);
}

void TVEZDatabase::RenameDatabase(const std::string& new_database_file_name) {
  CheckDatabaseName();
  AttachSession(true);
  CheckInactive();
  // After this the journal beside the file holds nothing to apply.
  RecoverJournal();
  // A taken name is refused by the rename itself (30378), and its journal is
  // its file's own. A journal left under a free name belongs to no file
  // there; it must not be applied to this one.
  if (!platform::DefaultFileSystem().FileExists(new_database_file_name))
    DeleteJournalOf(new_database_file_name);
  TVEZDatabaseFile::RenameFile(FDatabaseFileName, new_database_file_name);
  DeleteJournalOf(FDatabaseFileName);
  SetDatabaseFileName(new_database_file_name);
}

void TVEZDatabase::SessionDestroyed(bool back_to_default) noexcept {
  try {
    Close();
  } catch (...) {
    platform::ReportCurrentException();
  }
  FSession = nullptr;
  if (!back_to_default) return;
  FSessionName.clear();
  try {
    AttachSession(false);
  } catch (...) {
    platform::ReportCurrentException();
  }
}

}  // namespace vez

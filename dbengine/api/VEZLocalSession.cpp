#include "dbengine/api/VEZLocalSession.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZDatabaseData.h"
#include "dbengine/storage/VEZDatabaseDataList.h"
#include "dbengine/storage/VEZDiskDatabaseData.h"
#include "platform/core/Collation.h"

namespace vez {

namespace {

constexpr std::int32_t kNotConnected = 20411;
constexpr std::int32_t kProcessDatabaseMissing = 20412;

TVEZDiskDatabaseData* AsDisk(TVEZDatabaseData* data) {
  return dynamic_cast<TVEZDiskDatabaseData*>(data);
}

void CheckInTransaction(const TVEZLocalSession& session) {
  if (!session.InTransaction)
    throw EVEZException(20229, "Database is not within a transaction. Cannot perform operation");
}

}  // namespace

TVEZLocalSession::~TVEZLocalSession() {
  DisconnectQuietly();
}

bool TVEZLocalSession::GetConnected() {
  return FDatabaseData != nullptr;
}

void TVEZLocalSession::SetConnected(bool value) {
  if (value == (FDatabaseData != nullptr)) return;
  // Opening and closing files one at a time: another session may be about to
  // find the database data this one makes or frees.
  TVEZLockGuard list_lock(DatabaseDataList());
  if (value) {
    Connect();
  } else {
    Disconnect();
  }
}

bool TVEZLocalSession::IsProcessDatabaseAlias() const {
  return DatabaseName == kMemoryAlias || DatabaseName == kTempAlias;
}

TVEZDatabaseData* TVEZLocalSession::FindDatabaseData() const {
  if (IsProcessDatabaseAlias()) {
    return DatabaseDataList().Find([&](TVEZDatabaseData* data) {
      return AsDisk(data) == nullptr && platform::UpperCase(data->DatabaseName()) == DatabaseName;
    });
  }
  return FindDiskDatabaseData(DatabaseFileName, SessionName);
}

TVEZDatabaseData* TVEZLocalSession::CreateDatabaseData() const {
  // The process's databases exist from start-up on; one that is missing is
  // not made up as a file of that name.
  if (IsProcessDatabaseAlias())
    throw EVEZException(kProcessDatabaseMissing, "Database '%s' is not available in this process",
                        {DatabaseName});
  auto data = std::make_unique<TVEZDiskDatabaseData>(DatabaseFileName);
  data->SetReadOnly(ReadOnly);
  data->SetMaxSessionCount(MaxSessionCount);
  data->SetPassword(Password);
  data->SetPageSize(PageSize);
  data->SetPageCountInExtent(PageCountInExtent);
  data->SetSessionName(SessionName);
  data->SetDurability(Durability);
  // Listed from here on; the list does not own it, FreeIfNoSessionsConnected
  // frees it.
  DatabaseDataList().Add(data.get());
  return data.release();
}

void TVEZLocalSession::Connect() {
  TVEZDatabaseData* data = FindDatabaseData();
  if (data == nullptr) data = CreateDatabaseData();
  FDatabaseData = data;
  try {
    data->ConnectSession(*this);
    ReadOnly = data->ReadOnly();
    if (TVEZDiskDatabaseData* disk = AsDisk(data)) {
      const std::string& stored = disk->Password()->Password;
      if (disk->Encrypted() && !stored.empty() && stored != Password.Password)
        throw EVEZException(20298, "Database password is invalid.");
      // The file's settings, not the ones this session was made with.
      Password = *disk->Password();
      PageSize = disk->PageSize();
      PageCountInExtent = disk->PageCountInExtent();
      MaxSessionCount = disk->MaxSessionCount();
    }
  } catch (...) {
    // A session refused after it joined must not stay listed: its owner
    // frees it next. A made database data goes again.
    DisconnectQuietly();
    throw;
  }
}

void TVEZLocalSession::Disconnect() {
  TVEZDatabaseData* data = FDatabaseData;
  try {
    data->DisconnectSession(*this);
  } catch (...) {
    // Still listed: still connected, and the caller may try again. Gone
    // from the list (the last session's rollback failed after the file was
    // closed): disconnected, whatever the error says.
    const auto& sessions = data->SessionList();
    if (std::find(sessions.begin(), sessions.end(), this) != sessions.end()) throw;
    FDatabaseData = nullptr;
    if (AsDisk(data) != nullptr) data->FreeIfNoSessionsConnected();
    throw;
  }
  FDatabaseData = nullptr;
  if (AsDisk(data) != nullptr) data->FreeIfNoSessionsConnected();
}

void TVEZLocalSession::DisconnectQuietly() noexcept {
  TVEZDatabaseData* data = FDatabaseData;
  if (data == nullptr) return;
  TVEZLockGuard list_lock(DatabaseDataList());
  try {
    data->DisconnectSession(*this);
  } catch (...) {
    // The slot or single-user mark could not be given back; they go with
    // the file's handle. The session is unlisted all the same.
    data->TVEZDatabaseData::DisconnectSession(*this);
  }
  FDatabaseData = nullptr;
  if (AsDisk(data) != nullptr) data->FreeIfNoSessionsConnected();
}

TVEZDatabaseData& TVEZLocalSession::ConnectedData(const char* operation) const {
  if (FDatabaseData == nullptr)
    throw EVEZException(kNotConnected, "Cannot perform '%s': database '%s' is not connected",
                        {std::string(operation), DatabaseName});
  return *FDatabaseData;
}

bool TVEZLocalSession::GetSuppressDBHeaderErrors() {
  TVEZDiskDatabaseData* disk = AsDisk(FDatabaseData);
  return disk != nullptr && disk->GetSuppressDBHeaderErrors();
}

void TVEZLocalSession::SetSuppressDBHeaderErrors(bool value) {
  if (TVEZDiskDatabaseData* disk = AsDisk(FDatabaseData)) disk->SetSuppressDBHeaderErrors(value);
}

void TVEZLocalSession::CreateDatabase() {
  TVEZLockGuard list_lock(DatabaseDataList());
  if (FindDatabaseData() != nullptr)
    throw EVEZException(20092, "Cannot create database. Database is already open");
  TVEZDatabaseData* data = CreateDatabaseData();
  try {
    data->CreateDatabase();
  } catch (...) {
    data->FreeIfNoSessionsConnected();
    throw;
  }
  data->FreeIfNoSessionsConnected();
}

void TVEZLocalSession::GetTablesList(std::vector<std::string>& list) {
  TVEZDatabaseData& data = ConnectedData("GetTablesList");
  list.clear();
  data.GetTablesList(list);
}

bool TVEZLocalSession::TableExists(const std::string& table_name) {
  return ConnectedData("TableExists").TableExists(table_name);
}

void TVEZLocalSession::StartTransaction() {
  InTransaction = true;
}

void TVEZLocalSession::Commit(bool do_flush_buffers) {
  CheckInTransaction(*this);
  ConnectedData("Commit").Commit(SessionID, do_flush_buffers);
  InTransaction = false;
}

void TVEZLocalSession::Rollback() {
  CheckInTransaction(*this);
  ConnectedData("Rollback").Rollback(SessionID);
  InTransaction = false;
}

void TVEZLocalSession::FlushBuffers() {
  ConnectedData("FlushBuffers").FlushBuffers();
}

void TVEZLocalSession::TruncateDatabase() {
  if (TVEZDiskDatabaseData* disk = AsDisk(FDatabaseData)) disk->TruncateDatabase();
}

std::int32_t TVEZLocalSession::GetDBFileConnectionsCount() {
  TVEZDiskDatabaseData* disk = AsDisk(FDatabaseData);
  return disk != nullptr ? disk->GetDBFileConnectionsCount() : 0;
}

}  // namespace vez

#include "dbengine/api/VEZSession.h"

#include <algorithm>
#include <utility>

#include "dbengine/api/VEZBaseDataSet.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZFlagScope.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "platform/core/Collation.h"
#include "platform/core/Format.h"
#include "platform/dataset/DatabaseError.h"
#include "platform/ui/EngineUi.h"

namespace vez {

TVEZSession::TVEZSession(platform::Component* owner) : platform::Component(owner) {
  ValidateAutoSession(owner, false, this);
  Sessions().AddSession(*this);
}

TVEZSession::~TVEZSession() {
  SetDestroying();
  try {
    SetActive(false);
  } catch (...) {
    platform::ReportCurrentException();
  }
  // Temporary databases it made that another session holds go with it.
  while (!FTemporaryDatabases.empty()) {
    std::unique_ptr<TVEZDatabase> database = std::move(FTemporaryDatabases.back());
    FTemporaryDatabases.pop_back();
    database.reset();
  }
  if (TVEZSessionList* list = SessionListIfAlive()) {
    list->RemoveSession(*this);
    if (FSessionNumber >= 0) list->ReleaseSessionNumber(FSessionNumber);
  }
  ReleaseDatabases();
}

void TVEZSession::ReleaseDatabases() noexcept {
  // The default session goes only when the layer ends; then there is no
  // session to go back to.
  const bool back_to_default = !FDefault && SessionListIfAlive() != nullptr;
  while (!FDatabases.empty()) {
    TVEZDatabase* database = FDatabases.back();
    FDatabases.pop_back();
    database->SessionDestroyed(back_to_default);
  }
}

TVEZDatabase* TVEZSession::GetDatabase(std::int32_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= FDatabases.size()) return nullptr;
  return FDatabases[static_cast<std::size_t>(index)];
}

void TVEZSession::SetActive(bool value) {
  if (value != Active()) StartSession(value);
}

void TVEZSession::StartSession(bool value) {
  std::lock_guard guard(SessionLock());
  if (value) {
    if (OnStartup) OnStartup(*this);
    if (FSessionName.empty()) platform::DatabaseError("Session name missing", Name);
    if (FDefault) {
      CreateDefaultSessionHandle();
      FHandle = GetDefaultSessionHandle();
    } else {
      DefaultSession().SetActive(true);
      FOwnHandle = CreateSessionHandle();
      FHandle = FOwnHandle.get();
    }
    return;
  }
  SetCurrentSessionHandle(FHandle);
  // Last first; freeing a database takes it out of the list.
  for (std::size_t i = FDatabases.size(); i-- > 0;) {
    if (i >= FDatabases.size()) continue;
    TVEZDatabase* database = FDatabases[i];
    if (database->Temporary()) {
      FreeTemporaryDatabase(*database);
    } else {
      database->Close();
    }
  }
  if (FDefault) {
    FreeDefaultSessionHandle();
  } else {
    FOwnHandle.reset();
    RestoreDefaultSessionHandle();
  }
  FHandle = nullptr;
}

void TVEZSession::MakeCurrent() {
  if (FHandle == nullptr) SetActive(true);
  SetCurrentSessionHandle(FHandle);
}

TVEZSessionComponentManager* TVEZSession::Handle() {
  MakeCurrent();
  return FHandle;
}

void TVEZSession::LockSession() {
  SessionLock().lock();
  try {
    MakeCurrent();
  } catch (...) {
    SessionLock().unlock();
    throw;
  }
}

void TVEZSession::UnlockSession() {
  SessionLock().unlock();
}

void TVEZSession::CheckInactive() const {
  if (Active()) platform::DatabaseError("Cannot perform this operation on an active session", Name);
}

void TVEZSession::SetSessionName(const std::string& value) {
  if (FAutoSessionName && !FUpdatingAutoSessionName)
    platform::DatabaseError("Cannot modify SessionName while AutoSessionName is enabled", Name);
  CheckInactive();
  if (!value.empty()) {
    TVEZSession* other = Sessions().FindSession(value);
    if (other != nullptr && other != this)
      platform::DatabaseError(platform::Format("Duplicate session name '%s'", {value}), Name);
  }
  FSessionName = value;
}

void TVEZSession::SetAutoSessionName(bool value) {
  if (value == FAutoSessionName) return;
  if (value) {
    CheckInactive();
    ValidateAutoSession(Owner(), true, this);
    {
      std::lock_guard guard(SessionLock());
      FSessionNumber = Sessions().TakeSessionNumber();
    }
    try {
      UpdateAutoSessionName();
    } catch (...) {
      std::lock_guard guard(SessionLock());
      Sessions().ReleaseSessionNumber(std::exchange(FSessionNumber, -1));
      throw;
    }
  } else if (FSessionNumber >= 0) {
    std::lock_guard guard(SessionLock());
    Sessions().ReleaseSessionNumber(std::exchange(FSessionNumber, -1));
  }
  FAutoSessionName = value;
}

void TVEZSession::SetName(const std::string& name) {
  Name = name;
  if (FAutoSessionName) UpdateAutoSessionName();
}

void TVEZSession::UpdateAutoSessionName() {
  {
    TVEZFlagScope updating(FUpdatingAutoSessionName, true);
    SetSessionName(platform::Format("%s_%d", {Name, FSessionNumber + 1}));
  }
  UpdateOwnerSessionNames();
}

void TVEZSession::UpdateOwnerSessionNames() {
  if (Owner() == nullptr) return;
  const std::vector<platform::Component*> components = Owner()->Components();
  for (platform::Component* component : components) {
    if (auto* dataset = dynamic_cast<TVEZBaseDataSet*>(component)) {
      if (!platform::AnsiSameText(dataset->GetSessionName(), FSessionName))
        dataset->SetSessionName(FSessionName);
    }
    if (auto* database = dynamic_cast<TVEZDatabase*>(component)) {
      if (!platform::AnsiSameText(database->SessionName(), FSessionName))
        database->SetSessionName(FSessionName);
    }
  }
}

void TVEZSession::ValidateAutoSession(const platform::Component* owner, bool enabling,
                                      const TVEZSession* self) {
  if (owner == nullptr) return;
  for (platform::Component* component : owner->Components()) {
    auto* other = dynamic_cast<TVEZSession*>(component);
    if (other == nullptr || other == self) continue;
    if (enabling)
      platform::DatabaseError(
          "Cannot enable AutoSessionName property with more than one session on a form or "
          "data-module",
          self != nullptr ? self->Name : std::string());
    if (other->FAutoSessionName)
      platform::DatabaseError(
          platform::Format("Cannot add a session to the form or data-module while session '%s' "
                           "has AutoSessionName enabled",
                           {other->Name}),
          self != nullptr ? self->Name : std::string());
  }
}

TVEZSession* TVEZSession::AutoSessionOf(const platform::Component* owner) {
  if (owner == nullptr) return nullptr;
  for (platform::Component* component : owner->Components()) {
    auto* session = dynamic_cast<TVEZSession*>(component);
    if (session != nullptr && session->FAutoSessionName) return session;
  }
  return nullptr;
}

// ---- Databases.

void TVEZSession::DBNotification(TVEZDatabaseEvent event, TVEZDatabase& database) {
  if (OnDBNotify) OnDBNotify(event, database);
}

void TVEZSession::AddDatabase(TVEZDatabase& database) {
  {
    std::lock_guard guard(SessionLock());
    if (std::find(FDatabases.begin(), FDatabases.end(), &database) == FDatabases.end())
      FDatabases.push_back(&database);
  }
  DBNotification(TVEZDatabaseEvent::dbAdd, database);
}

void TVEZSession::RemoveDatabase(TVEZDatabase& database) {
  {
    std::lock_guard guard(SessionLock());
    std::erase(FDatabases, &database);
  }
  DBNotification(TVEZDatabaseEvent::dbRemove, database);
}

TVEZDatabase* TVEZSession::FindDatabase(const std::string& database_name) {
  TVEZSessionLockScope lock(*this);
  for (TVEZDatabase* database : FDatabases) {
    if ((!database->DatabaseName().empty() || database->Temporary()) &&
        platform::AnsiSameText(database->DatabaseName(), database_name))
      return database;
  }
  return nullptr;
}

TVEZDatabase* TVEZSession::DoFindDatabase(const std::string& database_name,
                                          platform::Component* owner) {
  TVEZSessionLockScope lock(*this);
  if (owner != nullptr) {
    for (TVEZDatabase* database : FDatabases) {
      if (database->Owner() == owner && database->HandleShared() &&
          platform::AnsiSameText(database->DatabaseName(), database_name))
        return database;
    }
  }
  return FindDatabase(database_name);
}

TVEZDatabase& TVEZSession::DoOpenDatabase(const std::string& database_name,
                                          platform::Component* owner) {
  TVEZSessionLockScope lock(*this);
  TVEZDatabase* database = DoFindDatabase(database_name, owner);
  std::unique_ptr<TVEZDatabase> made;
  if (database == nullptr) {
    // Owned by this session from here on; freed again when the open fails.
    made = std::make_unique<TVEZDatabase>(this);
    made->SetDatabaseName(database_name);
    made->SetKeepConnection(FKeepConnections);
    made->SetTemporary(true);
    made->SetSilentMode(true);
    database = made.get();
  }
  database->Open();
  database->SetRefCount(database->RefCount() + 1);
  if (made) FTemporaryDatabases.push_back(std::move(made));
  return *database;
}

void TVEZSession::CloseDatabase(TVEZDatabase* database) {
  if (database == nullptr) return;
  if (database->RefCount() > 0) database->SetRefCount(database->RefCount() - 1);
  if (database->RefCount() != 0 || database->KeepConnection()) return;
  if (!database->Temporary()) {
    database->Close();
  } else if (!database->Destroying() && !database->FClosing) {
    // A database that is closing hears this from each dataset it lets go
    // of; it must outlive its own Close.
    FreeTemporaryDatabase(*database);
  }
}

void TVEZSession::FreeTemporaryDatabase(TVEZDatabase& database) {
  // Its maker owns it, which may be another session than the one it is in.
  auto* maker = dynamic_cast<TVEZSession*>(database.Owner());
  if (maker != nullptr) {
    auto& owned = maker->FTemporaryDatabases;
    auto it = std::find_if(owned.begin(), owned.end(),
                           [&](const auto& p) { return p.get() == &database; });
    if (it != owned.end()) {
      std::unique_ptr<TVEZDatabase> freed = std::move(*it);
      owned.erase(it);
      freed.reset();
      return;
    }
  }
  // Marked temporary by hand: it belongs to someone else, who frees it.
  database.Close();
}

void TVEZSession::DropConnections() {
  TVEZSessionLockScope lock(*this);
  for (std::size_t i = FDatabases.size(); i-- > 0;) {
    if (i >= FDatabases.size()) continue;
    TVEZDatabase* database = FDatabases[i];
    if (database->Temporary() && database->RefCount() == 0) FreeTemporaryDatabase(*database);
  }
}

TVEZBaseSession* TVEZSession::FindDatabaseHandle(const std::string& database_name) {
  TVEZSessionLockScope lock(*this);
  for (TVEZDatabase* database : FDatabases) {
    if (database->Handle() != nullptr && database->HandleShared() &&
        platform::AnsiSameText(database->DatabaseName(), database_name))
      return database->Handle();
  }
  return nullptr;
}

void TVEZSession::GetDatabaseNames(std::vector<std::string>& list) {
  TVEZSessionLockScope lock(*this);
  list.clear();
  for (TVEZDatabase* database : FDatabases)
    list.push_back(database->DatabaseName());
  std::stable_sort(list.begin(), list.end(), [](const std::string& a, const std::string& b) {
    return platform::AnsiCompareText(a, b) < 0;
  });
}

void TVEZSession::GetTableNames(const std::string& database_name, std::vector<std::string>& list) {
  list.clear();
  if (database_name.empty()) return;
  TVEZDatabase& database = OpenDatabase(database_name);
  try {
    if (TVEZBaseSession* handle = database.Handle()) handle->GetTablesList(list);
  } catch (...) {
    CloseDatabase(&database);
    throw;
  }
  CloseDatabase(&database);
}

}  // namespace vez

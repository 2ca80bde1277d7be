#include "dbengine/api/VEZDataSet.h"

#include <cassert>

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZSession.h"
#include "dbengine/api/VEZSessionList.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZCursor.h"
#include "platform/dataset/DatabaseError.h"

namespace vez {

TVEZDataSet::TVEZDataSet(platform::Component* owner) : platform::DataSet(owner) {}

TVEZDataSet::~TVEZDataSet() {
  DestroyingClose();
  // A failed close can leave flags set; the database must not keep listing
  // a freed dataset.
  try {
    DetachAll();
  } catch (...) {
  }
  if (FExternalHandle == nullptr) delete FHandle;
}

void TVEZDataSet::Disconnect() {
  Close();
  // Flags other than the cursor's (a prepared query, a schema operation)
  // would keep a database that is closing listing this dataset.
  DetachAll();
}

void TVEZDataSet::DetachAll() {
  if (FDBFlags == 0) return;
  FDBFlags = 1;
  SetDBFlag(0, false);
}

void TVEZDataSet::SetSessionName(const std::string& session_name) {
  CheckInactive();
  FSessionName = session_name;
}

void TVEZDataSet::SetDatabaseName(const std::string& value) {
  CheckInactive();
  FDatabaseName = value;
}

bool TVEZDataSet::DBFlag(int flag) const {
  assert(flag >= 0 && flag <= 15);
  return (FDBFlags & (1u << flag)) != 0;
}

TVEZDatabase& TVEZDataSet::OpenDatabase() {
  TVEZSession& session = Sessions().GetSessionByName(FSessionName);
  return session.DoOpenDatabase(FDatabaseName, Owner());
}

void TVEZDataSet::CloseDatabase(TVEZDatabase* database) {
  if (database == nullptr) return;
  database->Session()->CloseDatabase(database);
}

void TVEZDataSet::SyncDatabaseSession() {
  if (FSessionName.empty() || FDatabaseName.empty()) return;
  TVEZSession* session = Sessions().FindSession(FSessionName);
  if (session == nullptr || session->DoFindDatabase(FDatabaseName, Owner()) != nullptr) return;
  TVEZSession* default_session = Sessions().FindSession("");
  if (default_session == nullptr) return;
  if (TVEZDatabase* database = default_session->DoFindDatabase(FDatabaseName, Owner())) {
    database->AttachSession(true);
  }
}

void TVEZDataSet::SetDBFlag(int flag, bool value) {
  if (flag < 0 || flag > 15) throw std::out_of_range("database-use flag out of range");
  const auto bit = static_cast<std::uint16_t>(1u << flag);
  if (value) {
    if ((FDBFlags & bit) != 0) return;
    if (FDBFlags == 0) {
      SyncDatabaseSession();
      FDatabase = &OpenDatabase();
      FDatabase->AddDataSet(*this);
    }
    FDBFlags = static_cast<std::uint16_t>(FDBFlags | bit);
    return;
  }
  if ((FDBFlags & bit) == 0) return;
  FDBFlags = static_cast<std::uint16_t>(FDBFlags & ~bit);
  if (FDBFlags != 0 || FDatabase == nullptr) return;
  TVEZSession* session = FDatabase->Session();
  session->LockSession();
  try {
    TVEZDatabase* database = FDatabase;
    FDatabase = nullptr;
    database->RemoveDataSet(*this);
    session->CloseDatabase(database);
  } catch (...) {
    session->UnlockSession();
    throw;
  }
  session->UnlockSession();
}

void TVEZDataSet::DestroyHandle() {
  if (FExternalHandle == nullptr && FHandle != nullptr) {
    FHandle->FSettingProjection = false;
    delete FHandle;
  }
  FHandle = nullptr;
  FExternalHandle = nullptr;
}

void TVEZDataSet::OpenCursor(bool info_query) {
  if (FDatabaseName.empty()) platform::DatabaseError("DatabaseName property is blank", Name);
  SetDBFlag(0, true);
  if (FHandle == nullptr) {
    FHandle = CreateHandle();
    if (FHandle == nullptr) throw EVEZException(20001, "Error creating table handle");
  }
  platform::DataSet::OpenCursor(info_query);
}

void TVEZDataSet::CloseCursor() {
  platform::DataSet::CloseCursor();
  if (FHandle != nullptr) DestroyHandle();
  SetDBFlag(0, false);
}

}  // namespace vez

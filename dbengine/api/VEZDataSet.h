// TVEZDataSet: the engine's dataset component over a cursor. It names a
// database (DatabaseName) and optionally a session (SessionName); the
// database is attached while at least one database-use flag is set and let
// go of when the last one is cleared. Table and query components derive
// from it and supply the cursor (CreateHandle).
//
// Database-use flags: 0 cursor open, 1 query prepared, 2 query statement
// running, 3 table created/deleted/emptied/renamed, 4 field definitions of a
// closed table read, 5 index added/deleted or refreshed, 10 provider
// transaction, 11 table repair.
//
// Thread safety: a dataset is used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "dbengine/api/VEZBaseDataSet.h"
#include "platform/dataset/DataSet.h"

namespace vez {

class TVEZCursor;
class TVEZDatabase;

class TVEZDataSet : public platform::DataSet, public TVEZBaseDataSet {
 public:
  explicit TVEZDataSet(platform::Component* owner = nullptr);
  ~TVEZDataSet() override;

  // ---- TVEZBaseDataSet
  // Closes the dataset and clears every database-use flag, so the database
  // no longer lists it.
  void Disconnect() override;
  bool IsQuery() const override { return false; }
  std::string GetSessionName() const override { return FSessionName; }
  // REQUIRES closed: raises the dataset's "cannot perform on an open
  // dataset" error otherwise.
  void SetSessionName(const std::string& session_name) override;

  const std::string& DatabaseName() const { return FDatabaseName; }
  // REQUIRES closed, as SetSessionName.
  void SetDatabaseName(const std::string& value);
  bool InMemory() const { return FInMemory; }
  void SetInMemory(bool value) { FInMemory = value; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value) { FReadOnly = value; }

  // The cursor while open, else null.
  TVEZCursor* Handle() const { return FHandle; }
  // The database in use while any flag is set, else null.
  TVEZDatabase* Database() const { return FDatabase; }
  bool DBFlag(int flag) const;
  std::uint16_t DBFlags() const { return FDBFlags; }

  // Sets or clears one database-use flag (0..15). Setting the first one
  // attaches the database (the dataset joins its dataset list); clearing
  // the last one detaches it, which may close the database.
  virtual void SetDBFlag(int flag, bool value);

 protected:
  // The cursor to open with; the base has none. Ownership: the dataset
  // frees it in DestroyHandle unless it is the external cursor.
  virtual TVEZCursor* CreateHandle() { return nullptr; }
  // Frees the dataset's own cursor; forgets an external one.
  virtual void DestroyHandle();
  // The last step of opening; the base does nothing.
  virtual void ApplyMasterRange() {}

  // A cursor owned by someone else, used instead of CreateHandle's.
  void SetExternalHandle(TVEZCursor* cursor) { FExternalHandle = cursor; }

  // The session named SessionName, asked to open DatabaseName for this
  // dataset's owner.
  TVEZDatabase& OpenDatabase();
  // One user less of database (null: nothing).
  void CloseDatabase(TVEZDatabase* database);
  // Moves a database known only to the default session into the session
  // this dataset names.
  void SyncDatabaseSession();

  // ---- dataset overrides
  bool IsCursorOpen() override { return FHandle != nullptr; }
  void OpenCursor(bool info_query) override;
  void CloseCursor() override;
  bool GetCanModify() override { return platform::DataSet::GetCanModify() && !FReadOnly; }

  TVEZCursor* FHandle = nullptr;
  TVEZCursor* FExternalHandle = nullptr;

 private:
  // Clears every flag at once, detaching the database.
  void DetachAll();

  std::string FSessionName;
  std::string FDatabaseName;
  std::uint16_t FDBFlags = 0;
  TVEZDatabase* FDatabase = nullptr;
  bool FInMemory = false;
  bool FReadOnly = false;
};

}  // namespace vez

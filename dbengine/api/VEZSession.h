// TVEZSession: the component that groups database components. A dataset
// names its session and its database by name; the session finds the
// database, or makes a temporary one for a name no database component
// declares, counts the datasets using it (RefCount) and closes or frees it
// when the last one lets go. Every session of the process is listed in
// Sessions(); the default session "Default" exists from the layer's start to
// its end and is the one the application uses.
//
// A session is inactive (no token) or active (token held). It becomes active
// through Active/Open, by reading Handle, or through LockSession, which
// every database lookup and open takes. Stopping a session frees its
// temporary databases and closes the others.
//
// Ownership: temporary databases belong to the session that made them (it is
// their owner). Sessions made by the layer (the default one, OpenSession's)
// belong to the session list; other sessions belong to whoever made them.
// When a session goes, the database components still attached to it go back
// to the default session (or, while the layer ends, to no session).
//
// Not built: reading sessions from form files (streamed Active, Loaded).
//
// Thread safety: see VEZSessionList.h; the session lock guards each
// session's database list.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/api/VEZSessionList.h"
#include "platform/dataset/Component.h"

namespace vez {

class TVEZBaseSession;
class TVEZDatabase;

enum class TVEZDatabaseEvent { dbOpen, dbClose, dbAdd, dbRemove };

using TVEZDatabaseNotifyEvent = std::function<void(TVEZDatabaseEvent event, TVEZDatabase& param)>;
using TVEZSessionNotifyEvent = std::function<void(TVEZSession& sender)>;

class TVEZSession : public platform::Component {
 public:
  // Joins the session list (the first session ever becomes the default).
  // Raises when the owner already has a session with AutoSessionName on.
  explicit TVEZSession(platform::Component* owner = nullptr);
  // Deactivates (reporting errors through the engine UI), leaves the list
  // and sends its remaining databases back to the default session.
  ~TVEZSession() override;

  bool Active() const { return FHandle != nullptr; }
  // Starts or stops the session (see StartSession in the source).
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }

  const std::string& SessionName() const { return FSessionName; }
  // Refused while AutoSessionName is on, while active, and for a name another
  // session has (any letter case).
  void SetSessionName(const std::string& value);
  bool AutoSessionName() const { return FAutoSessionName; }
  // On: the session is named "<component name>_<n>" with the lowest free
  // number n (from 1), and the datasets and databases of its owner take that
  // name. Off: the number is released.
  void SetAutoSessionName(bool value);
  // Sets the component name; with AutoSessionName the session name follows.
  void SetName(const std::string& name);
  bool KeepConnections() const { return FKeepConnections; }
  void SetKeepConnections(bool value) { FKeepConnections = value; }
  bool IsDefault() const { return FDefault; }
  // The number of the automatic name, -1 when none.
  std::int32_t SessionNumber() const { return FSessionNumber; }

  // Activates the session when inactive, else makes its token current.
  TVEZSessionComponentManager* Handle();

  std::int32_t DatabaseCount() const { return static_cast<std::int32_t>(FDatabases.size()); }
  TVEZDatabase* GetDatabase(std::int32_t index) const;

  // Enters the session lock and makes this session current; leaves the lock
  // again when that raises.
  void LockSession();
  void UnlockSession();

  // Used by the database component when it joins and leaves the session.
  void AddDatabase(TVEZDatabase& database);
  void RemoveDatabase(TVEZDatabase& database);

  // The first database whose name (non-empty, or any for a temporary one)
  // equals database_name without regard to case; null if none.
  TVEZDatabase* FindDatabase(const std::string& database_name);
  // With an owner, first a database of that owner with HandleShared and the
  // name; then FindDatabase.
  TVEZDatabase* DoFindDatabase(const std::string& database_name, platform::Component* owner);
  // DoFindDatabase, else a new temporary database of that name (owned by
  // this session, KeepConnection as KeepConnections, SilentMode on); opens
  // it and counts one more user. A database made here is freed again when
  // the open fails.
  TVEZDatabase& DoOpenDatabase(const std::string& database_name, platform::Component* owner);
  TVEZDatabase& OpenDatabase(const std::string& database_name) {
    return DoOpenDatabase(database_name, nullptr);
  }
  // One user less; at none, a database without KeepConnection is closed (a
  // temporary one freed). Nothing for null.
  void CloseDatabase(TVEZDatabase* database);
  // Frees every temporary database no dataset uses, last first.
  void DropConnections();
  // The handle of the first open database with HandleShared and that name.
  TVEZBaseSession* FindDatabaseHandle(const std::string& database_name);
  // The names of every database, sorted without regard to case.
  void GetDatabaseNames(std::vector<std::string>& list);
  // The tables of the named database (opened and closed for it); list
  // cleared first, empty for an empty name.
  void GetTableNames(const std::string& database_name, std::vector<std::string>& list);

  // The session with AutoSessionName on among owner's components, or null: a
  // component made on that owner takes its name.
  static TVEZSession* AutoSessionOf(const platform::Component* owner);

  // Called when OnStartup is assigned, at the start of each activation.
  TVEZSessionNotifyEvent OnStartup;
  // Hears every database that opens, closes, joins or leaves the session.
  TVEZDatabaseNotifyEvent OnDBNotify;

 private:
  friend class TVEZDatabase;
  friend class TVEZSessionList;

  void StartSession(bool value);
  void MakeCurrent();
  void DBNotification(TVEZDatabaseEvent event, TVEZDatabase& database);
  void CheckInactive() const;
  void UpdateAutoSessionName();
  void UpdateOwnerSessionNames();
  static void ValidateAutoSession(const platform::Component* owner, bool enabling,
                                  const TVEZSession* self);
  // Frees a temporary database this session made, or closes one it did not.
  void FreeTemporaryDatabase(TVEZDatabase& database);
  // The databases still attached when the session goes leave it.
  void ReleaseDatabases() noexcept;

  TVEZSessionComponentManager* FHandle = nullptr;
  std::unique_ptr<TVEZSessionComponentManager> FOwnHandle;
  std::vector<TVEZDatabase*> FDatabases;
  std::vector<std::unique_ptr<TVEZDatabase>> FTemporaryDatabases;
  bool FKeepConnections = true;
  bool FDefault = false;
  bool FAutoSessionName = false;
  bool FUpdatingAutoSessionName = false;
  std::string FSessionName;
  std::int32_t FSessionNumber = -1;
};

// Holds a session's LockSession for a scope.
class TVEZSessionLockScope {
 public:
  explicit TVEZSessionLockScope(TVEZSession& session) : FSession(session) { session.LockSession(); }
  ~TVEZSessionLockScope() { FSession.UnlockSession(); }
  TVEZSessionLockScope(const TVEZSessionLockScope&) = delete;
  TVEZSessionLockScope& operator=(const TVEZSessionLockScope&) = delete;

 private:
  TVEZSession& FSession;
};

}  // namespace vez

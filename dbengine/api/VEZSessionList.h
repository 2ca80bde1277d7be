// The session layer's process-wide state: the list of session components,
// the default session "Default", the session tokens (which session is
// current), the re-entrant session lock and the cells list of wide-string
// fields. The list of open databases (DatabaseDataList(), with "MEMORY" and
// "TEMP") is the storage engine's; the memory and temporary databases live
// as long as the process.
//
// Lifetime: the state is made once, on first use (any of the accessors
// below, or the first session or database component). FinalizeSessionLayer
// ends it: every session is closed (their databases with them), local
// sessions made by hand are disconnected (so every database data the layer
// made is freed; the memory and temporary ones stay), the cells are freed. It is idempotent, and
// the next use starts the layer afresh. The objects it relies on are never
// destroyed by the exit of the process: the state lives on the heap and is
// only emptied, so a component destroyed late at exit (a static holding a
// database) still finds the lock and sees that the sessions are gone. The
// first use also arranges for FinalizeSessionLayer to run at exit, before
// the static objects it calls on (clock, random source, engine UI, file
// system, collation tables) are destroyed.
//
// Thread safety: the session list has its own lock; the session lock
// serialises finding, opening, closing and attaching databases, starting and
// stopping sessions and the layer's start and end. Lock order: session lock,
// then DatabaseDataList()'s lock, then a database data's own.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dbengine/storage/VEZBaseSession.h"

namespace vez {

class TVEZSession;

class TVEZSessionList {
 public:
  TVEZSessionList();
  // CloseAll.
  ~TVEZSessionList();
  TVEZSessionList(const TVEZSessionList&) = delete;
  TVEZSessionList& operator=(const TVEZSessionList&) = delete;

  std::int32_t Count() const;
  // The session at index, or null outside 0 .. Count() - 1.
  TVEZSession* GetSession(std::int32_t index) const;
  // The session whose token is the current one, or null.
  TVEZSession* CurrentSession() const;
  // Makes the session's token current (activating the session when needed).
  void SetCurrentSession(TVEZSession& session);

  // Lists a session; the first session ever listed becomes the default.
  void AddSession(TVEZSession& session);
  // Unlists a session; nothing when it is not listed.
  void RemoveSession(TVEZSession& session);
  // From the last session to the first: the sessions this list made are
  // freed; a session someone else owns is deactivated (its databases closed
  // or freed) and unlisted. Never throws: errors of closing are reported
  // through the engine UI.
  void CloseAll() noexcept;

  // An empty name gives the default session; otherwise the first session
  // whose name matches without regard to case, or null.
  TVEZSession* FindSession(const std::string& session_name) const;
  // As FindSession, but a name no session has raises 20002.
  TVEZSession& GetSessionByName(const std::string& session_name) const;
  // The session names in list order.
  void GetSessionNames(std::vector<std::string>& list) const;
  // FindSession, else a new session of that name (owned by this list); then
  // activates it.
  TVEZSession& OpenSession(const std::string& session_name);

  // The lowest number no session with an automatic name holds, now taken;
  // and its release.
  std::int32_t TakeSessionNumber();
  void ReleaseSessionNumber(std::int32_t number);

  // Keeps a session made by the layer (the default one) until CloseAll.
  void AdoptSession(std::unique_ptr<TVEZSession> session);

 private:
  mutable std::recursive_mutex FLock;
  std::vector<TVEZSession*> FSessions;
  std::vector<std::unique_ptr<TVEZSession>> FOwnedSessions;
  std::vector<bool> FSessionNumbers;
  bool FDefaultAdded = false;
};

// ---- The layer's start and end.

// Makes the process-wide state when it does not exist (never while
// FinalizeSessionLayer runs) and registers the layer's local cursor and BLOB
// stream with the storage engine (they stay registered after the end).
// Called by every accessor below.
void InitializeSessionLayer();
// Closes every session and database of the layer and frees the state (see
// the head of this file). Idempotent; never throws.
void FinalizeSessionLayer() noexcept;
bool SessionLayerInitialized();

// The session list and the default session; both start the layer. Raise
// 20007 while the layer is being finalized.
TVEZSessionList& Sessions();
TVEZSession& DefaultSession();
// The session list when the layer is up, else null; starts nothing (for
// destructors that run late).
TVEZSessionList* SessionListIfAlive();

// The process-wide, re-entrant session lock. It lives as long as the
// process, not only as long as the session list, so that a component going
// late still finds it.
std::recursive_mutex& SessionLock();

// ---- Session tokens.

// Makes the default session's token once and makes it current.
void CreateDefaultSessionHandle();
// Frees the default token (clearing the current token when it was that).
void FreeDefaultSessionHandle();
// The current token when the default token exists, else 20007 "Database
// Engine is not initialized".
TVEZSessionComponentManager* GetDefaultSessionHandle();
// Makes the default token current again (no token when there is none).
void RestoreDefaultSessionHandle();
TVEZSessionComponentManager* CurrentSessionHandle();
void SetCurrentSessionHandle(TVEZSessionComponentManager* token);
// A new token for a session that is not the default one.
std::unique_ptr<TVEZSessionComponentManager> CreateSessionHandle();

// ---- Cells of wide-string fields.

// A new empty cell, owned by the layer until FinalizeSessionLayer.
std::u16string* NewWideStringCell();
std::size_t WideStringCellCount();

}  // namespace vez

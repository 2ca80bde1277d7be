#include "dbengine/api/VEZSessionList.h"

#include <atomic>
#include <cstdlib>
#include <exception>
#include <utility>

#include "dbengine/api/VEZLocalSession.h"
#include "dbengine/api/VEZLocalSessionLayerServices.h"
#include "dbengine/api/VEZSession.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZDatabaseData.h"
#include "dbengine/storage/VEZDatabaseDataList.h"
#include "dbengine/storage/VEZDiskDatabaseData.h"
#include "platform/core/Clock.h"
#include "platform/core/Collation.h"
#include "platform/core/FormatSettings.h"
#include "platform/core/Random.h"
#include "platform/os/File.h"
#include "platform/ui/EngineUi.h"

namespace vez {

namespace {

constexpr const char* kDefaultSessionName = "Default";

[[noreturn]] void RaiseNotInitialized() {
  throw EVEZException(20007, "Database Engine is not initialized");
}

// Everything of the layer that outlives a single start: made once on the
// heap and never destroyed, so no order of static destruction can free the
// lock or the list under a component that goes late.
struct LayerState {
  std::recursive_mutex session_lock;
  std::unique_ptr<TVEZSessionList> sessions;
  TVEZSession* default_session = nullptr;
  std::unique_ptr<TVEZSessionComponentManager> default_token;
  std::atomic<TVEZSessionComponentManager*> current_token{nullptr};
  std::mutex cells_lock;
  std::vector<std::unique_ptr<std::u16string>> cells;
  bool finalizing = false;
  bool exit_hook_registered = false;
};

LayerState& State() {
  static LayerState* const state = new LayerState();
  return *state;
}

void FinalizeAtExit() {
  FinalizeSessionLayer();
}

// The static objects that closing a database may call on are made before the
// exit hook is registered, so that they are destroyed only after it ran.
void MakeStaticsFinalizationUses() {
  (void)platform::SystemClock();
  (void)platform::CurrentClock();
  (void)platform::SystemRandom();
  (void)platform::CurrentRandom();
  (void)platform::CurrentEngineUi();
  (void)platform::FormatSettings();
  (void)platform::DefaultFileSystem();
  (void)platform::AnsiSameText("a", "A");
  (void)DatabaseDataList();
}

// Disconnects the local sessions still connected to a disk database (made by
// hand, outside any component); the last one frees the database data it
// made. Database data someone else made and owns stay theirs.
void DisconnectRemainingLocalSessions() noexcept {
  TVEZLockGuard list_lock(DatabaseDataList());
  for (;;) {
    TVEZLocalSession* found = nullptr;
    for (std::int32_t i = 0; found == nullptr && i < DatabaseDataList().Count(); ++i) {
      auto* disk = dynamic_cast<TVEZDiskDatabaseData*>(DatabaseDataList().Get(i));
      if (disk == nullptr) continue;
      for (TVEZBaseSession* session : disk->SessionList()) {
        found = dynamic_cast<TVEZLocalSession*>(session);
        if (found != nullptr) break;
      }
    }
    if (found == nullptr) return;
    found->DisconnectQuietly();
  }
}

}  // namespace

// ---- TVEZSessionList

TVEZSessionList::TVEZSessionList() = default;

TVEZSessionList::~TVEZSessionList() {
  CloseAll();
}

std::int32_t TVEZSessionList::Count() const {
  std::lock_guard guard(FLock);
  return static_cast<std::int32_t>(FSessions.size());
}

TVEZSession* TVEZSessionList::GetSession(std::int32_t index) const {
  std::lock_guard guard(FLock);
  if (index < 0 || static_cast<std::size_t>(index) >= FSessions.size()) return nullptr;
  return FSessions[static_cast<std::size_t>(index)];
}

TVEZSession* TVEZSessionList::CurrentSession() const {
  TVEZSessionComponentManager* token = CurrentSessionHandle();
  if (token == nullptr) return nullptr;
  std::lock_guard guard(FLock);
  for (TVEZSession* session : FSessions)
    if (session->FHandle == token) return session;
  return nullptr;
}

void TVEZSessionList::SetCurrentSession(TVEZSession& session) {
  SetCurrentSessionHandle(session.Handle());
}

void TVEZSessionList::AddSession(TVEZSession& session) {
  std::lock_guard guard(FLock);
  if (!FDefaultAdded) {
    session.FDefault = true;
    FDefaultAdded = true;
  }
  FSessions.push_back(&session);
}

void TVEZSessionList::RemoveSession(TVEZSession& session) {
  std::lock_guard guard(FLock);
  std::erase(FSessions, &session);
}

void TVEZSessionList::AdoptSession(std::unique_ptr<TVEZSession> session) {
  std::lock_guard guard(FLock);
  FOwnedSessions.push_back(std::move(session));
}

void TVEZSessionList::CloseAll() noexcept {
  for (;;) {
    TVEZSession* last = nullptr;
    std::unique_ptr<TVEZSession> owned;
    {
      std::lock_guard guard(FLock);
      if (FSessions.empty()) break;
      // Unlisted first: the session may no longer find the list to leave it.
      last = FSessions.back();
      FSessions.pop_back();
      for (auto it = FOwnedSessions.begin(); it != FOwnedSessions.end(); ++it) {
        if (it->get() == last) {
          owned = std::move(*it);
          FOwnedSessions.erase(it);
          break;
        }
      }
    }
    if (owned) {
      // Its destructor closes and frees its databases.
      owned.reset();
      continue;
    }
    try {
      last->SetActive(false);
    } catch (...) {
      platform::ReportCurrentException();
    }
  }
  std::lock_guard guard(FLock);
  FOwnedSessions.clear();
}

TVEZSession* TVEZSessionList::FindSession(const std::string& session_name) const {
  std::lock_guard guard(FLock);
  for (TVEZSession* session : FSessions) {
    if (session_name.empty() ? session->FDefault
                             : platform::AnsiSameText(session->SessionName(), session_name))
      return session;
  }
  return nullptr;
}

TVEZSession& TVEZSessionList::GetSessionByName(const std::string& session_name) const {
  TVEZSession* session = FindSession(session_name);
  if (session == nullptr) throw EVEZException(20002, "Invalid session name '%s'", {session_name});
  return *session;
}

void TVEZSessionList::GetSessionNames(std::vector<std::string>& list) const {
  std::lock_guard guard(FLock);
  list.clear();
  for (TVEZSession* session : FSessions)
    list.push_back(session->SessionName());
}

TVEZSession& TVEZSessionList::OpenSession(const std::string& session_name) {
  // The session lock comes before the list's: a new session takes both.
  std::lock_guard session_guard(SessionLock());
  TVEZSession* session = FindSession(session_name);
  if (session == nullptr) {
    auto made = std::make_unique<TVEZSession>(nullptr);
    made->SetSessionName(session_name);
    session = made.get();
    AdoptSession(std::move(made));
  }
  session->SetActive(true);
  return *session;
}

std::int32_t TVEZSessionList::TakeSessionNumber() {
  std::lock_guard guard(FLock);
  std::size_t n = 0;
  while (n < FSessionNumbers.size() && FSessionNumbers[n])
    ++n;
  if (n == FSessionNumbers.size()) FSessionNumbers.push_back(false);
  FSessionNumbers[n] = true;
  return static_cast<std::int32_t>(n);
}

void TVEZSessionList::ReleaseSessionNumber(std::int32_t number) {
  std::lock_guard guard(FLock);
  if (number >= 0 && static_cast<std::size_t>(number) < FSessionNumbers.size())
    FSessionNumbers[static_cast<std::size_t>(number)] = false;
}

// ---- The layer's start and end.

void InitializeSessionLayer() {
  LayerState& state = State();
  std::lock_guard guard(state.session_lock);
  if (state.sessions || state.finalizing) return;
  if (!state.exit_hook_registered) {
    MakeStaticsFinalizationUses();
    std::atexit(FinalizeAtExit);
    state.exit_hook_registered = true;
  }
  // The open-database list with "MEMORY" and "TEMP" is the storage engine's
  // and is made on its first use.
  (void)DatabaseDataList();
  // From here on the storage engine reads tables through the shipped cursor
  // (an index built over existing rows, for one).
  RegisterLocalSessionLayerServices();
  state.sessions = std::make_unique<TVEZSessionList>();
  try {
    // The first session listed becomes the default one.
    auto session = std::make_unique<TVEZSession>(nullptr);
    session->SetSessionName(kDefaultSessionName);
    state.default_session = session.get();
    state.sessions->AdoptSession(std::move(session));
  } catch (...) {
    state.default_session = nullptr;
    state.sessions.reset();
    throw;
  }
}

void FinalizeSessionLayer() noexcept {
  LayerState& state = State();
  std::lock_guard guard(state.session_lock);
  if (!state.sessions || state.finalizing) return;
  state.finalizing = true;
  // Every session closes or frees its databases as it goes.
  state.sessions->CloseAll();
  state.sessions.reset();
  state.default_session = nullptr;
  DisconnectRemainingLocalSessions();
  {
    std::lock_guard cells_guard(state.cells_lock);
    state.cells.clear();
  }
  state.current_token.store(nullptr);
  state.default_token.reset();
  state.finalizing = false;
}

bool SessionLayerInitialized() {
  LayerState& state = State();
  std::lock_guard guard(state.session_lock);
  return state.sessions != nullptr;
}

TVEZSessionList& Sessions() {
  InitializeSessionLayer();
  TVEZSessionList* list = State().sessions.get();
  if (list == nullptr) RaiseNotInitialized();
  return *list;
}

TVEZSession& DefaultSession() {
  InitializeSessionLayer();
  TVEZSession* session = State().default_session;
  if (session == nullptr) RaiseNotInitialized();
  return *session;
}

TVEZSessionList* SessionListIfAlive() {
  LayerState& state = State();
  std::lock_guard guard(state.session_lock);
  return state.finalizing ? nullptr : state.sessions.get();
}

std::recursive_mutex& SessionLock() {
  return State().session_lock;
}

// ---- Session tokens.

void CreateDefaultSessionHandle() {
  LayerState& state = State();
  std::lock_guard guard(state.session_lock);
  if (!state.default_token) state.default_token = std::make_unique<TVEZSessionComponentManager>();
  state.current_token.store(state.default_token.get());
}

void FreeDefaultSessionHandle() {
  LayerState& state = State();
  std::lock_guard guard(state.session_lock);
  TVEZSessionComponentManager* token = state.default_token.get();
  state.current_token.compare_exchange_strong(token, nullptr);
  state.default_token.reset();
}

TVEZSessionComponentManager* GetDefaultSessionHandle() {
  LayerState& state = State();
  std::lock_guard guard(state.session_lock);
  if (!state.default_token) RaiseNotInitialized();
  return state.current_token.load();
}

void RestoreDefaultSessionHandle() {
  LayerState& state = State();
  std::lock_guard guard(state.session_lock);
  state.current_token.store(state.default_token.get());
}

TVEZSessionComponentManager* CurrentSessionHandle() {
  return State().current_token.load();
}

void SetCurrentSessionHandle(TVEZSessionComponentManager* token) {
  State().current_token.store(token);
}

std::unique_ptr<TVEZSessionComponentManager> CreateSessionHandle() {
  return std::make_unique<TVEZSessionComponentManager>();
}

// ---- Cells.

std::u16string* NewWideStringCell() {
  InitializeSessionLayer();
  LayerState& state = State();
  std::lock_guard guard(state.cells_lock);
  state.cells.push_back(std::make_unique<std::u16string>());
  return state.cells.back().get();
}

std::size_t WideStringCellCount() {
  LayerState& state = State();
  std::lock_guard guard(state.cells_lock);
  return state.cells.size();
}

}  // namespace vez

// The page cache of a database: every table page of every engine goes through
// one TVEZPageManager. It is both a cache shared by all sessions (clean pages,
// bounded, least recently used evicted first) and the unit of transactions at
// page level: a page a session changes lives in that session's dirty list,
// invisible to other sessions, until ApplyChanges writes it or CancelChanges
// drops it. The storage behind the cache is abstract (InternalAddPage,
// InternalRemovePage, InternalReadPage, InternalWritePage); the disk, memory
// and temporary engines implement it.
//
// Invariants: a page object is in exactly one list (the shared list or one
// session's dirty list); a page is pinned (UseCount > 0) by one session at a
// time; the shared list never holds two pages of one number; a page that failed
// to load is never left in the cache.
//
// Thread safety: none of its own. Callers serialise every call on one manager
// with the database data's lock; the disk engine adds file locks for commits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "dbengine/storage/VEZPageHeader.h"

namespace vez {

// Errors the page cache raises from more than one place.
constexpr std::int32_t kErrPageRead = 20299;
constexpr std::int32_t kErrPageUsedByOtherSession = 20090;

// Stored page states. A page's state changes at every write so another
// process can tell that its cached copy is old; states are compared only for
// equality, so they wrap instead of overflowing.
//
// The state of a freed page, and of a page whose state could not be read.
constexpr std::int32_t kFreedPageState = 0x7FFFFFFF;
// The largest state a write stores; the next one is 0.
constexpr std::int32_t kLastWrittenPageState = 0x7FFFFFFC;
// A new page's state is drawn from [0, kInitialPageStateRange).
constexpr std::int32_t kInitialPageStateRange = 1073741823;

// The state a write of a page in state gives it: one more, wrapping to 0 after
// kLastWrittenPageState, so it is never the freed-page state (a damaged or
// freed page's state wraps too).
constexpr std::int32_t NextPageState(std::int32_t state) {
  return state < 0 || state >= kLastWrittenPageState ? 0 : state + 1;
}

class TVEZPageManager;
class TVEZSortedPageList;
class TVEZStream;

// Per-session table state stamp of a cached page (used by the disk engine).
struct TVEZPageTableStateInfo {
  std::int32_t TableState = 0;
  bool IsTableStateValueAssigned = false;
};

// One cached page: the page image and its cache bookkeeping.
class TVEZPage {
 public:
  explicit TVEZPage(TVEZPageManager* page_manager);
  ~TVEZPage();
  TVEZPage(const TVEZPage&) = delete;
  TVEZPage& operator=(const TVEZPage&) = delete;

  TVEZPageManager* PageManager() const { return page_manager_; }
  std::int32_t PageNo() const { return page_no_; }
  void SetPageNo(std::int32_t v) { page_no_ = v; }
  std::uint8_t* PageBuffer() const { return buffer_; }
  // Points the page at a buffer it does not own (the old own buffer is freed).
  void SetBorrowedPageBuffer(std::uint8_t* buffer);
  bool OwnBuffer() const { return own_buffer_; }
  bool IsDirty() const { return is_dirty_; }
  void SetIsDirty(bool v) { is_dirty_ = v; }
  std::int32_t UseCount() const { return use_count_; }
  void SetUseCount(std::int32_t v) { use_count_ = v; }
  TVEZSortedPageList* ParentList() const { return parent_list_; }
  void SetParentList(TVEZSortedPageList* l) { parent_list_ = l; }
  std::int32_t SessionID() const { return session_id_; }
  void SetSessionID(std::int32_t v) { session_id_ = v; }
  bool Reloaded() const { return reloaded_; }
  void SetReloaded(bool v) { reloaded_ = v; }
  bool EncryptionEnabled() const { return encryption_enabled_; }
  void SetEncryptionEnabled(bool v) { encryption_enabled_ = v; }
  // A shared copy superseded by a commit while another session still pinned it:
  // it is freed when released instead of being served again.
  bool Stale() const { return stale_; }
  void SetStale(bool v) { stale_ = v; }

  // A zero-filled own buffer of PageSize bytes with an initialised header.
  void AllocPageBuffer();
  // Takes buffer (PageSize bytes from the engine memory manager) as its own,
  // zero-filled with an initialised header, as AllocPageBuffer would give it.
  void AdoptPageBuffer(std::uint8_t* buffer);
  // Hands over the own buffer (nullptr for none or a borrowed one); the page
  // is left without a buffer.
  std::uint8_t* DetachPageBuffer();
  void ClearPageBuffer();
  void FreeAndNilPageBuffer();
  // Makes the buffer NewSize bytes (at least PageSize), keeping its contents.
  // Raises 20038 without a buffer, 20039 for NewSize below PageSize.
  void EnlargePageBuffer(std::int32_t new_size);
  // Writes the new-page header values (no-op for an engine without headers).
  void InitHeader();

  TVEZDiskPageHeaderView PageHeader() const { return TVEZDiskPageHeaderView(buffer_); }
  std::int32_t PageHeaderSize() const;
  std::uint8_t* PageData() const { return buffer_ + PageHeaderSize(); }
  std::int32_t PageDataSize() const;
  std::int32_t PageSize() const;

  // Brings a cached copy up to date with the storage when the engine can tell
  // (multi-user disk engine): an unchanged stored state keeps the copy, any
  // other state, or a state that cannot be read, reloads it. A failed reload
  // raises as InternalReadPage does (20299 with the cause, or the engine's
  // error).
  void Synchronize();

  bool GetTableState(std::int32_t session_id, std::int32_t& table_state) const;
  void SetTableState(std::int32_t session_id, std::int32_t table_state);

 private:
  TVEZPageManager* page_manager_;
  std::int32_t page_no_ = -1;
  std::uint8_t* buffer_ = nullptr;
  bool own_buffer_ = true;
  bool is_dirty_ = false;
  std::int32_t use_count_ = 0;
  TVEZSortedPageList* parent_list_ = nullptr;
  std::int32_t session_id_ = -1;
  bool reloaded_ = false;
  bool encryption_enabled_ = true;
  bool stale_ = false;
  std::vector<TVEZPageTableStateInfo> table_states_;
};

// A page pinned in the cache (got with GetPage or AddPage) and given back with
// PutPage when the holder goes, on every path. It moves, never copies; an
// empty holder gives nothing back.
class TVEZPinnedPage {
 public:
  TVEZPinnedPage() = default;
  TVEZPinnedPage(TVEZPageManager* page_manager, TVEZPage* page) noexcept
      : page_manager_(page_manager), page_(page) {}
  // Gives the page back; a failure there only leaves the cache untrimmed and
  // is not reported.
  ~TVEZPinnedPage();
  TVEZPinnedPage(const TVEZPinnedPage&) = delete;
  TVEZPinnedPage& operator=(const TVEZPinnedPage&) = delete;
  TVEZPinnedPage(TVEZPinnedPage&& other) noexcept
      : page_manager_(other.page_manager_), page_(other.Detach()) {}
  // Gives the held page back as the destructor does, then takes other's.
  TVEZPinnedPage& operator=(TVEZPinnedPage&& other) noexcept;

  TVEZPage* get() const { return page_; }
  TVEZPage* operator->() const { return page_; }
  explicit operator bool() const { return page_ != nullptr; }

  // Holds page instead, the held one given back as the destructor does.
  void Reset(TVEZPage* page) noexcept;
  // Gives the page back now, raising what PutPage raises; empty afterwards.
  void Release();
  // Hands the pin over to the caller, who then owes the PutPage.
  TVEZPage* Detach() noexcept {
    TVEZPage* page = page_;
    page_ = nullptr;
    return page;
  }

 private:
  void PutQuietly() noexcept;

  TVEZPageManager* page_manager_ = nullptr;
  TVEZPage* page_ = nullptr;
};

// Base of typed page views (such as the B-tree page): forwards to the page.
class TVEZPageController {
 public:
  explicit TVEZPageController(TVEZPage* page) : page_(page) {}
  virtual ~TVEZPageController() = default;
  TVEZPageController(const TVEZPageController&) = delete;
  TVEZPageController& operator=(const TVEZPageController&) = delete;

  TVEZPage* Page() const { return page_; }
  std::int32_t PageNo() const { return page_->PageNo(); }
  void SetPageNo(std::int32_t v) { page_->SetPageNo(v); }
  std::uint8_t* PageBuffer() const { return page_->PageBuffer(); }
  bool OwnBuffer() const { return page_->OwnBuffer(); }
  bool IsDirty() const { return page_->IsDirty(); }
  void SetIsDirty(bool v) { page_->SetIsDirty(v); }
  std::int32_t UseCount() const { return page_->UseCount(); }
  void SetUseCount(std::int32_t v) { page_->SetUseCount(v); }
  std::int32_t PageSize() const { return page_->PageSize(); }
  TVEZPageManager* PageManager() const { return page_->PageManager(); }
  std::uint8_t* PageData() const { return page_->PageData(); }
  std::int32_t PageDataSize() const { return page_->PageDataSize(); }
  void EnlargePageBuffer(std::int32_t new_size) { page_->EnlargePageBuffer(new_size); }

 protected:
  TVEZPage* page_;
};

// Pages sorted by page number, each with a least-recently-used stamp. Does not
// own its pages. Lookups by number are binary searches; a second index by
// stamp makes each step of the least-recently-used walk logarithmic.
class TVEZSortedPageList {
 public:
  struct TVEZPageElement {
    TVEZPage* Page = nullptr;
    std::int64_t LRUCount = 0;
  };

  explicit TVEZSortedPageList(std::int32_t size = 0);
  TVEZSortedPageList(const TVEZSortedPageList&) = delete;
  TVEZSortedPageList& operator=(const TVEZSortedPageList&) = delete;

  std::int32_t Count() const { return static_cast<std::int32_t>(key_items_.size()); }
  TVEZPage* PageAt(std::int32_t i) const { return value_items_[static_cast<std::size_t>(i)].Page; }

  TVEZPage* Find(std::int32_t page_no) const;
  // Inserts with a fresh stamp. REQUIRES: no page of that number in the list.
  void Insert(TVEZPage* page);
  // Raises 20165 on an empty list, 20166 when the number is not there (also
  // when the list holds one other page).
  void Delete(std::int32_t page_no);
  // Removes the first count pages (in page-number order).
  void DeleteFirst(std::int32_t count);
  void Clear();
  // Raises 20167 when the page is not in the list.
  void UpdateLRU(TVEZPage* page);
  // UpdateLRU, except for a page stamped among the newest quarter of the
  // list's stamps, which keeps its stamp: the order stays close to least
  // recently used, and a page used over and over costs no reordering.
  void TouchLRU(TVEZPage* page);
  // The least recently used page (nullptr when empty), then each next one.
  TVEZPage* FirstByLRU();
  TVEZPage* NextByLRU();

 private:
  std::int32_t IndexOf(std::int32_t page_no, bool& found) const;

  std::vector<std::int32_t> key_items_;
  std::vector<TVEZPageElement> value_items_;
  std::map<std::int64_t, TVEZPage*> by_lru_;  // the same pages by stamp
  std::int64_t lru_count_ = 0;
  std::int64_t lru_last_found_ = 0;
};

// What a savepoint keeps of one page the session got or added after it
// opened (see TVEZPageManager::BeginSavepoint).
struct TVEZSavedPage {
  std::int32_t PageNo = -1;
  // Added after the savepoint: it goes back to the storage at a rollback.
  bool Added = false;
  // In the session's dirty list (or changed and pinned) when first got.
  bool WasDirty = false;
  // The page's image when first got (a PageSize block of the engine's memory
  // manager), kept when no other copy of it stays: for a page of the dirty
  // list, and for a page that works on its stored image. Null otherwise.
  std::uint8_t* Image = nullptr;
  // The stored image the page worked on when first got (an engine that keeps
  // pages in RAM), which a rollback writes Image back into; null otherwise.
  std::uint8_t* StorageBuffer = nullptr;
};

// One open savepoint of a session.
struct TVEZSavepoint {
  // Lengths of the session's added and removed page lists when it opened.
  std::size_t AddedCount = 0;
  std::size_t RemovedCount = 0;
  // Every page got or added since, one note per number. One operation sees
  // few pages, so a list searched from its end beats a tree.
  std::vector<TVEZSavedPage> Pages;

  TVEZSavedPage* Find(std::int32_t page_no) {
    for (auto it = Pages.rbegin(); it != Pages.rend(); ++it)
      if (it->PageNo == page_no) return &*it;
    return nullptr;
  }
};

// One session's uncommitted work.
struct TVEZSessionPageInfo {
  std::int32_t SessionID = -1;
  TVEZSortedPageList DirtyPages;
  std::vector<std::int32_t> AddedPageNumbers;
  std::vector<std::int32_t> RemovedPageNumbers;
  // Savepoints, the innermost open one at OpenSavepoints - 1; those beyond
  // are closed ones kept for their lists' room, so that an operation's
  // savepoint allocates nothing once the session has had one.
  std::vector<TVEZSavepoint> Savepoints;
  std::size_t OpenSavepoints = 0;
};

// What one commit changes, as the commit hooks see it.
struct TVEZCommitChanges {
  // The dirty pages to write, in page-number order (a removed page is
  // released, not written).
  std::vector<TVEZPage*> PagesToWrite;
  // Pages the session added, and those it removed in the order recorded (an
  // added page may be among them).
  const std::vector<std::int32_t>& AddedPageNumbers;
  const std::vector<std::int32_t>& RemovedPageNumbers;
  // How many of RemovedPageNumbers, from the first, are released so far.
  std::size_t ReleasedCount = 0;
};

// What the storage holds after a failed commit (see OnCommitFailed).
enum class TVEZFailedCommitStorage { kPartlyCommitted, kRestored };

class TVEZPageManager {
 public:
  TVEZPageManager();
  // Frees every page, committed or not. Call CheckNoUncommittedPages first
  // where uncommitted pages are an error; destruction itself never raises.
  virtual ~TVEZPageManager();
  TVEZPageManager(const TVEZPageManager&) = delete;
  TVEZPageManager& operator=(const TVEZPageManager&) = delete;

  // Raises 20097 when a session still has uncommitted pages.
  void CheckNoUncommittedPages() const;

  std::uint16_t PageSize() const { return page_size_; }
  std::uint16_t PageHeaderSize() const { return page_header_size_; }
  std::uint16_t PageDataSize() const { return page_data_size_; }
  std::int32_t CacheCapacity() const { return cache_capacity_; }
  void SetCacheCapacity(std::int32_t v) { cache_capacity_ = v; }
  bool MultiUser() const { return multi_user_; }
  void SetMultiUser(bool v) { multi_user_ = v; }
  bool IgnoreCRCErrors() const { return ignore_crc_errors_; }
  void SetIgnoreCRCErrors(bool v) { ignore_crc_errors_ = v; }
  const TVEZSortedPageList& SharedPages() const { return shared_pages_; }
  // The session's dirty list, or nullptr when the session never used the manager.
  const TVEZSortedPageList* SessionDirtyPages(std::int32_t session_id) const;

  // Returns the number of pages the storage holds (the base: the count the
  // engine last set). Raises nothing in the base; an engine may raise its
  // file error.
  virtual std::int32_t GetPageCount() { return page_count_; }
  // Whether page_no (0 or more) lies below the page count: the damage checks
  // of page references ask this for every page they follow. An engine may
  // answer from a count it keeps, asking the storage only for a number at or
  // past it. Raises what GetPageCount raises.
  virtual bool IsPageNoInStorage(std::int32_t page_no) {
    return page_no >= 0 && page_no < GetPageCount();
  }
  // Returns whether the session has seen the stored version of page that the
  // cached copy holds, so GetPage need not synchronise it (the base: never).
  // page is owned by the manager. Must not raise.
  virtual bool IsPageSynchronized(std::int32_t /*session_id*/, TVEZPage* /*page*/) { return false; }
  // Notes that the session has seen page's current stored version (the base
  // keeps nothing). page is owned by the manager. Must not raise.
  virtual void MarkPageSynchronized(std::int32_t /*session_id*/, TVEZPage* /*page*/) {}
  // Engines that keep their pages in a stream (the memory engine's table
  // files) replace every stored page with the stream's, or write every
  // stored page to it, from or at its position; the base does nothing. The
  // stream stays the caller's. Raise the stream's errors, or the engine's
  // corrupt-data error for a stream it cannot read.
  virtual void LoadFromStream(TVEZStream& /*stream*/) {}
  virtual void SaveToStream(TVEZStream& /*stream*/) {}

  // Records page_no to be released at ApplyChanges; CancelChanges forgets it.
  // Raises nothing but out of memory.
  virtual void RemovePage(std::int32_t session_id, std::int32_t page_no);

  // Returns page page_no (owned by the manager) pinned for the session: its
  // own dirty copy when it has one, else the shared copy, read from storage
  // when not cached. page_type 255 accepts any stored type. The caller gives
  // the page back with PutPage. Raises 20186 for session -1; 20299 (with the
  // cause) or the engine's own error when the read fails, 20153 for another
  // stored type (in both cases nothing is left cached); 20090 when another
  // session pins the page.
  virtual TVEZPage* GetPage(std::int32_t session_id, std::int32_t page_no, std::uint16_t page_type,
                            bool synchronize_allowed);

  // Commits the session's work, all or nothing in the cache: writes every
  // dirty page (except removed ones), then releases every removed page, then
  // makes the written pages shared. Raises 20152 while the session pins a
  // shared page, 20085 for a clean page among those to write, 20086 for a
  // pinned one (these before anything is written), or what a storage operation
  // or commit hook raises. After a failure the shared cache is exactly as
  // before and the session's pages stay dirty, for CancelChanges or a retry;
  // see OnCommitFailed for the removed pages already released.
  virtual void ApplyChanges(std::int32_t session_id);

  // A new page from the storage, pinned, dirty, in the session's dirty list.
  // Raises 20064 when the storage gave no page number.
  TVEZPage* AddPage(std::int32_t session_id, std::uint16_t page_type);

  // A read hold: between BeginReadHold and EndReadHold the last few pages the
  // session got stay pinned, and a GetPage of one of them hands it out again
  // without a lookup or a synchronisation check. For a run of reads under one
  // table lock that changes no page (a cursor's moves read ahead): nothing can
  // change such a page before the hold ends. One hold at a time; EndReadHold
  // gives the pins back and must come before the session applies, cancels or
  // rolls back anything.
  void BeginReadHold(std::int32_t session_id);
  void EndReadHold() noexcept;

  // Unpins a page got with GetPage or AddPage. A released dirty shared page
  // moves to its session's dirty list; the shared list is then trimmed to the
  // capacity by dropping unpinned least recently used pages.
  void PutPage(TVEZPage* page);

  // Drops the session's dirty pages and gives pages it added back to the
  // storage. Raises 20087 for a clean page in the dirty list, 20088 for a
  // pinned one.
  void CancelChanges(std::int32_t session_id);

  // Savepoints: one record operation's page changes, undone alone when it
  // fails, in a transaction as well as outside one. BeginSavepoint marks the
  // session's pages as they are; RollbackToSavepoint makes them so again
  // (pages it changed since get their old images, pages it added go back to
  // the storage, pages it removed stay) and ReleaseSavepoint keeps the
  // changes (an enclosing savepoint then covers them). Savepoints nest.
  //
  // While one is open, the first GetPage of a page keeps its image when
  // nothing else would: a page of the session's dirty list, or a page that
  // works on its stored image (an engine that keeps pages in RAM). A clean
  // page of an engine with its own copies costs nothing: a rollback drops the
  // changed copy and the storage still holds the old one. The session must
  // not pin a page when a savepoint is rolled back, nor apply or cancel its
  // changes while one is open.
  //
  // BeginSavepoint raises only out of memory; a GetPage or AddPage while one
  // is open may also raise the memory manager's error for the kept image
  // (the page is then not handed out). Release and rollback raise nothing: a
  // page the storage refuses to take back at a rollback stays the session's
  // and is released at its commit or cancel.
  void BeginSavepoint(std::int32_t session_id);
  void ReleaseSavepoint(std::int32_t session_id) noexcept;
  void RollbackToSavepoint(std::int32_t session_id) noexcept;
  // How many savepoints the session has open.
  std::size_t SavepointDepth(std::int32_t session_id) const;

  // A check run before GetPage and AddPage hand out a page (the page number,
  // -1 for AddPage), for tests that make each step of an operation fail in
  // turn: what it raises fails the call before anything is read, pinned or
  // added. Empty: none.
  void SetBeforePageAccess(std::function<void(std::int32_t)> check) {
    before_page_access_ = std::move(check);
  }

  // Storage operations, implemented by each engine. The manager calls them
  // with pages it owns; none keeps a page pointer past the call.
  //
  // Gives page (new, number -1, no buffer) a free page number (PageNo) and
  // an own buffer of PageSize bytes (AllocPageBuffer), growing the storage
  // when it must. The number stays taken until InternalRemovePage. Leaving
  // the number -1 makes AddPage raise 20064; may raise the engine's errors
  // (a full disk, a damaged free-space map), and then no number is taken.
  virtual void InternalAddPage(TVEZPage* page) = 0;
  // Gives page page_no back to the storage's free space; its contents are
  // lost. Called at commit for the session's removed pages (after every
  // dirty page is written) and at rollback for its added pages. May raise
  // the engine's errors; the page is then still taken.
  virtual void InternalRemovePage(std::int32_t page_no) = 0;
  // Fills page's buffer (own, PageSize bytes) with stored page PageNo.
  // Raises on failure with the cause: an EVEZException passes to the caller
  // as it is, any other platform::Exception (an OS error) becomes 20299
  // with its text, anything else (out of memory) passes. After a failure the buffer's contents are
  // unspecified and the manager never caches the page.
  virtual void InternalReadPage(TVEZPage* page) = 0;
  // Stores page's buffer (PageSize bytes; the engine may update its header,
  // such as the state and check sum, as it writes). Called only by
  // ApplyChanges, between BeforeCommitWrites and AfterCommitWrites. May raise
  // the engine's errors: the commit then fails (see ApplyChanges), and what
  // reached the storage is the engine's to undo in OnCommitFailed.
  virtual void InternalWritePage(TVEZPage* page) = 0;

  // Synchronisation between processes. Returns whether stored page states
  // can be compared at all (the base: no, and Synchronize does nothing).
  virtual bool CanSynchronizePages() const { return false; }
  // Returns true and the stored state of page page_no, or false when it
  // cannot be read (the cached copy is then reloaded). Must not raise.
  virtual bool ReadStoredPageState(std::int32_t /*page_no*/, std::int32_t& /*state*/) {
    return false;
  }

 protected:
  void SetPageSizes(std::uint16_t page_size, std::uint16_t page_header_size);
  void SetPageCount(std::int32_t v) { page_count_ = v; }
  TVEZSessionPageInfo& SessionInfo(std::int32_t session_id);
  TVEZSessionPageInfo* FindSessionInfo(std::int32_t session_id) const;
  // Takes back a page buffer that InternalReadPage does not need (an engine
  // whose pages point at their stored image): kept for the next cache miss,
  // or freed when enough are kept. buffer may be null.
  void RecycleBuffer(std::uint8_t* buffer) noexcept;

  // Commit hooks, for an engine that brackets a commit (header states, a
  // rollback journal). ApplyChanges calls them only when the session has pages
  // to write or release, in this order: BeforeCommitWrites, the writes in page
  // order, the releases in the order they were recorded, AfterCommitWrites.
  // The change set and its pages belong to the manager and are valid during
  // the call only; a hook must not get, put, add or remove pages.
  //
  // Before the first write. May raise: the commit then fails with nothing
  // written or released (OnCommitFailed is still called).
  virtual void BeforeCommitWrites(std::int32_t /*session_id*/,
                                  const TVEZCommitChanges& /*changes*/) {}
  // After the last release. May raise: the commit then fails as if a write had.
  virtual void AfterCommitWrites(std::int32_t /*session_id*/,
                                 const TVEZCommitChanges& /*changes*/) {}
  // After BeforeCommitWrites, a write, a release or AfterCommitWrites raised,
  // before the error goes on to the caller; the cache is not yet touched and
  // changes.ReleasedCount tells how many removed pages were released. Returns
  // what the storage now holds: kPartlyCommitted (the base: the writes done
  // stay, and the released pages are forgotten by the session so a rollback
  // does not release them twice) or kRestored (the hook put the storage back
  // as before the commit; the session keeps every removed and added number).
  // Must not raise: the commit's own error is the one reported.
  virtual TVEZFailedCommitStorage OnCommitFailed(std::int32_t /*session_id*/,
                                                 const TVEZCommitChanges& /*changes*/) noexcept {
    return TVEZFailedCommitStorage::kPartlyCommitted;
  }

 private:
  // Takes the shared copy of page_no out of the cache: freed when unpinned,
  // else marked stale so its holder keeps a valid object until it releases it.
  void DropSharedCopy(std::int32_t page_no);
  // The read hold takes its own pin of a page handed out, giving back the
  // oldest it keeps; PutHeld gives one back.
  void HoldForRead(TVEZPage* page) noexcept;
  void PutHeld(TVEZPage* page) noexcept;
  // Frees a page; its buffer is kept for the next page read when it has the
  // page size and few are kept already.
  void FreePage(TVEZPage* page) noexcept;
  void GiveNewBuffer(TVEZPage* page);
  void FreeSpareBuffers() noexcept;
  void TrimSharedList();
  // Moves written pages of the session's dirty list, now clean, into the
  // shared list (or frees them when it is full) and frees its dirty copies of
  // released pages.
  void SettleCommittedPages(TVEZSessionPageInfo& info, const TVEZCommitChanges& changes);
  // Drops the first removed_count removed pages from the session's lists,
  // together with those among its added pages.
  void ForgetReleasedPages(TVEZSessionPageInfo& info, std::size_t removed_count);
  // The innermost savepoint's note of page (got from the dirty list when
  // was_dirty), made at its first GetPage or AddPage since it opened.
  void NoteSavepointPage(TVEZSavepoint& savepoint, TVEZPage* page, bool was_dirty, bool added);
  void FreeSavedImages(TVEZSavepoint& savepoint) noexcept;
  // Closes every savepoint of the session without rolling back: a commit or
  // a cancel of the session ends what they cover.
  void DropSavepoints(TVEZSessionPageInfo& info) noexcept;

  std::int32_t cache_capacity_ = 0;
  TVEZSortedPageList shared_pages_;
  std::map<std::int32_t, std::unique_ptr<TVEZSessionPageInfo>> sessions_;
  std::uint16_t page_size_ = 0;
  std::uint16_t page_header_size_ = 0;
  std::uint16_t page_data_size_ = 0;
  std::int32_t page_count_ = 0;
  bool multi_user_ = false;
  bool ignore_crc_errors_ = false;
  // Page buffers of freed pages, reused by reads so that a cache miss after
  // an eviction needs no allocation.
  std::vector<std::uint8_t*> spare_buffers_;
  std::function<void(std::int32_t)> before_page_access_;
  // The read hold: its session (-1: none) and the pages it pins, reused in turn.
  static constexpr std::size_t kReadHoldPages = 4;
  std::int32_t read_hold_session_ = -1;
  TVEZPage* read_hold_pages_[kReadHoldPages] = {};
  std::size_t read_hold_next_ = 0;
};

// The savepoints of one session on one or more page managers, for one
// operation: rolled back when the scope ends unless released first.
class TVEZPageSavepoints {
 public:
  explicit TVEZPageSavepoints(std::int32_t session_id) : FSessionID(session_id) {}
  ~TVEZPageSavepoints() { Rollback(); }
  TVEZPageSavepoints(const TVEZPageSavepoints&) = delete;
  TVEZPageSavepoints& operator=(const TVEZPageSavepoints&) = delete;

  // Opens a savepoint on page_manager; nothing for null or a manager opened
  // here already.
  void Open(TVEZPageManager* page_manager);
  // Keeps every change since Open, or undoes them; both close the savepoints.
  void Release() noexcept;
  void Rollback() noexcept;

 private:
  static constexpr std::size_t kMaxManagers = 2;
  std::int32_t FSessionID;
  TVEZPageManager* FManagers[kMaxManagers] = {};
  std::size_t FCount = 0;
};

// Defined here, where the manager is complete: every key comparison in a page
// goes through PageData, so these must not cost a call.
inline std::int32_t TVEZPage::PageHeaderSize() const {
  return page_manager_->PageHeaderSize();
}
inline std::int32_t TVEZPage::PageDataSize() const {
  return page_manager_->PageDataSize();
}
inline std::int32_t TVEZPage::PageSize() const {
  return page_manager_->PageSize();
}

}  // namespace vez

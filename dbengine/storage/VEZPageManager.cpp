#include "dbengine/storage/VEZPageManager.h"

#include <algorithm>
#include <cstring>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/Invariant.h"
#include "platform/core/Random.h"

namespace vez {

using platform::CheckedAdd;

namespace {

// Reads the stored page through the engine. An engine error passes unchanged;
// any other failure (an OS error) becomes the page read error with its text,
// so callers see one error number and the cause.
void ReadStoredPage(TVEZPageManager& page_manager, TVEZPage* page, std::int32_t page_type) {
  try {
    page_manager.InternalReadPage(page);
  } catch (const EVEZException&) {
    throw;
  } catch (const platform::Exception& e) {
    throw EVEZException(kErrPageRead, "Error reading database file page. Page No: %d, type %d: %s",
                        {page->PageNo(), page_type, std::string(e.what())});
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// TVEZPage

TVEZPage::TVEZPage(TVEZPageManager* page_manager) : page_manager_(page_manager) {}

TVEZPage::~TVEZPage() {
  if (own_buffer_ && buffer_) {
    try {
      MemoryManager().FreeAndNillMem(buffer_);
    } catch (...) {
      // An overwritten block tail is reported by the allocator; a destructor
      // cannot pass it on.
    }
  }
}

void TVEZPage::SetBorrowedPageBuffer(std::uint8_t* buffer) {
  FreeAndNilPageBuffer();
  buffer_ = buffer;
  own_buffer_ = false;
}

void TVEZPage::AllocPageBuffer() {
  FreeAndNilPageBuffer();
  buffer_ = static_cast<std::uint8_t*>(MemoryManager().AllocMem(PageSize()));
  own_buffer_ = true;
  InitHeader();
}

void TVEZPage::AdoptPageBuffer(std::uint8_t* buffer) {
  FreeAndNilPageBuffer();
  buffer_ = buffer;
  own_buffer_ = true;
  ClearPageBuffer();
  InitHeader();
}

std::uint8_t* TVEZPage::DetachPageBuffer() {
  if (!own_buffer_) return nullptr;
  std::uint8_t* b = buffer_;
  buffer_ = nullptr;
  return b;
}

void TVEZPage::ClearPageBuffer() {
  if (buffer_) std::memset(buffer_, 0, static_cast<std::size_t>(PageSize()));
}

void TVEZPage::FreeAndNilPageBuffer() {
  if (!buffer_) return;
  if (own_buffer_)
    MemoryManager().FreeAndNillMem(buffer_);
  else
    buffer_ = nullptr;
  own_buffer_ = true;
}

void TVEZPage::EnlargePageBuffer(std::int32_t new_size) {
  if (!buffer_) throw EVEZException(20038, "Invalid page buffer. Buffer is Nil");
  if (new_size < PageSize()) throw EVEZException(20039, "Invalid page modification");
  if (own_buffer_) {
    MemoryManager().ReallocMem(buffer_, new_size, false);
  } else {
    auto* b = static_cast<std::uint8_t*>(MemoryManager().GetMem(new_size));
    std::memcpy(b, buffer_, static_cast<std::size_t>(PageSize()));
    buffer_ = b;
    own_buffer_ = true;
  }
}

void TVEZPage::InitHeader() {
  if (PageHeaderSize() == 0 || !buffer_) return;
  PageHeader().Init();
}

void TVEZPage::Synchronize() {
  if (!page_manager_->CanSynchronizePages()) return;
  std::int32_t stored = 0;
  const bool known = page_manager_->ReadStoredPageState(page_no_, stored);
  // A state that cannot be read proves nothing about the cached copy: reload.
  if (known && stored != kFreedPageState &&
      (PageHeaderSize() == 0 || stored == PageHeader().State()))
    return;
  ReadStoredPage(*page_manager_, this, PageHeaderSize() ? PageHeader().PageType() : 0);
}

bool TVEZPage::GetTableState(std::int32_t session_id, std::int32_t& table_state) const {
  const std::int64_t slot = static_cast<std::int64_t>(session_id) + 2;
  if (slot < 0 || slot >= static_cast<std::int64_t>(table_states_.size())) return false;
  table_state = table_states_[static_cast<std::size_t>(slot)].TableState;
  return table_states_[static_cast<std::size_t>(slot)].IsTableStateValueAssigned;
}

void TVEZPage::SetTableState(std::int32_t session_id, std::int32_t table_state) {
  const std::int32_t slot = CheckedAdd(session_id, 2);
  if (slot < 0) return;
  if (static_cast<std::size_t>(slot) >= table_states_.size())
    table_states_.resize(static_cast<std::size_t>(slot) + 1);
  table_states_[static_cast<std::size_t>(slot)] = {table_state, true};
}

// ---------------------------------------------------------------------------
// TVEZPinnedPage

TVEZPinnedPage::~TVEZPinnedPage() {
  PutQuietly();
}

TVEZPinnedPage& TVEZPinnedPage::operator=(TVEZPinnedPage&& other) noexcept {
  if (this != &other) {
    PutQuietly();
    page_manager_ = other.page_manager_;
    page_ = other.Detach();
  }
  return *this;
}

void TVEZPinnedPage::Reset(TVEZPage* page) noexcept {
  PutQuietly();
  page_ = page;
}

void TVEZPinnedPage::Release() {
  if (TVEZPage* page = Detach()) page_manager_->PutPage(page);
}

void TVEZPinnedPage::PutQuietly() noexcept {
  TVEZPage* page = Detach();
  if (page == nullptr) return;
  try {
    page_manager_->PutPage(page);
  } catch (...) {
    // Putting a page back only moves it between the cache's lists and trims
    // the shared one; nothing a caller could act on is lost.
  }
}

// ---------------------------------------------------------------------------
// TVEZSortedPageList

TVEZSortedPageList::TVEZSortedPageList(std::int32_t size) {
  key_items_.reserve(static_cast<std::size_t>(std::max(size, 0)));
  value_items_.reserve(static_cast<std::size_t>(std::max(size, 0)));
}

std::int32_t TVEZSortedPageList::IndexOf(std::int32_t page_no, bool& found) const {
  const auto it = std::lower_bound(key_items_.begin(), key_items_.end(), page_no);
  found = it != key_items_.end() && *it == page_no;
  return static_cast<std::int32_t>(it - key_items_.begin());
}

TVEZPage* TVEZSortedPageList::Find(std::int32_t page_no) const {
  bool found;
  const std::int32_t i = IndexOf(page_no, found);
  return found ? value_items_[static_cast<std::size_t>(i)].Page : nullptr;
}

void TVEZSortedPageList::Insert(TVEZPage* page) {
  bool found;
  const std::int32_t pos = IndexOf(page->PageNo(), found);
  RVX_INVARIANT(!found, "a page list holds one page of a number");
  ++lru_count_;
  key_items_.insert(key_items_.begin() + pos, page->PageNo());
  value_items_.insert(value_items_.begin() + pos, TVEZPageElement{page, lru_count_});
  by_lru_.emplace(lru_count_, page);
}

void TVEZSortedPageList::Delete(std::int32_t page_no) {
  if (key_items_.empty())
    throw EVEZException(20165, "TSortedPageList.Delete - no elements in array!");
  bool found;
  const std::int32_t pos = IndexOf(page_no, found);
  if (!found)
    throw EVEZException(20166,
                        "TSortedPageList.Delete - element not found, key = %d, itemCount = %d",
                        {page_no, Count()});
  by_lru_.erase(value_items_[static_cast<std::size_t>(pos)].LRUCount);
  key_items_.erase(key_items_.begin() + pos);
  value_items_.erase(value_items_.begin() + pos);
}

void TVEZSortedPageList::DeleteFirst(std::int32_t count) {
  const std::size_t n = std::min(static_cast<std::size_t>(std::max(count, 0)), key_items_.size());
  for (std::size_t i = 0; i < n; ++i)
    by_lru_.erase(value_items_[i].LRUCount);
  key_items_.erase(key_items_.begin(), key_items_.begin() + static_cast<std::ptrdiff_t>(n));
  value_items_.erase(value_items_.begin(), value_items_.begin() + static_cast<std::ptrdiff_t>(n));
}

void TVEZSortedPageList::Clear() {
  key_items_.clear();
  value_items_.clear();
  by_lru_.clear();
}

void TVEZSortedPageList::UpdateLRU(TVEZPage* page) {
  bool found;
  const std::int32_t pos = IndexOf(page->PageNo(), found);
  if (!found || value_items_[static_cast<std::size_t>(pos)].Page != page)
    throw EVEZException(20167, "Page not found");
  TVEZPageElement& e = value_items_[static_cast<std::size_t>(pos)];
  // Already the most recent: a new stamp would leave the order as it is.
  if (e.LRUCount == lru_count_) return;
  // The map node is reused: restamping a page allocates nothing.
  auto node = by_lru_.extract(e.LRUCount);
  e.LRUCount = ++lru_count_;
  node.key() = e.LRUCount;
  by_lru_.insert(std::move(node));
}

void TVEZSortedPageList::TouchLRU(TVEZPage* page) {
  bool found;
  const std::int32_t pos = IndexOf(page->PageNo(), found);
  if (!found || value_items_[static_cast<std::size_t>(pos)].Page != page)
    throw EVEZException(20167, "Page not found");
  if (lru_count_ - value_items_[static_cast<std::size_t>(pos)].LRUCount < Count() / 4) return;
  UpdateLRU(page);
}

TVEZPage* TVEZSortedPageList::FirstByLRU() {
  if (by_lru_.empty()) return nullptr;
  lru_last_found_ = by_lru_.begin()->first;
  return by_lru_.begin()->second;
}

TVEZPage* TVEZSortedPageList::NextByLRU() {
  const auto it = by_lru_.upper_bound(lru_last_found_);
  if (it == by_lru_.end()) return nullptr;
  lru_last_found_ = it->first;
  return it->second;
}

// ---------------------------------------------------------------------------
// TVEZPageManager

namespace {
constexpr std::size_t kMaxSpareBuffers = 256;  // 1 MB of 4096-byte pages
}

TVEZPageManager::TVEZPageManager() {
  cache_capacity_ = static_cast<std::int32_t>(
      std::min<std::int64_t>(MemoryManager().GetFreeMemorySize() / 65536, 1000));
  spare_buffers_.reserve(kMaxSpareBuffers);
}

TVEZPageManager::~TVEZPageManager() {
  for (auto& [id, info] : sessions_) {
    DropSavepoints(*info);
    for (std::int32_t i = 0; i < info->DirtyPages.Count(); ++i)
      FreePage(info->DirtyPages.PageAt(i));
  }
  for (std::int32_t i = 0; i < shared_pages_.Count(); ++i)
    FreePage(shared_pages_.PageAt(i));
  FreeSpareBuffers();
}

void TVEZPageManager::CheckNoUncommittedPages() const {
  for (const auto& [id, info] : sessions_)
    if (info->DirtyPages.Count() > 0) throw EVEZException(20097, "Cannot free non-commited pages");
}

void TVEZPageManager::SetPageSizes(std::uint16_t page_size, std::uint16_t page_header_size) {
  FreeSpareBuffers();  // kept buffers have the old size
  page_size_ = page_size;
  page_header_size_ = page_header_size;
  page_data_size_ = static_cast<std::uint16_t>(page_size - page_header_size);
}

const TVEZSortedPageList* TVEZPageManager::SessionDirtyPages(std::int32_t session_id) const {
  const TVEZSessionPageInfo* info = FindSessionInfo(session_id);
  return info ? &info->DirtyPages : nullptr;
}

TVEZSessionPageInfo* TVEZPageManager::FindSessionInfo(std::int32_t session_id) const {
  const auto it = sessions_.find(session_id);
  return it == sessions_.end() ? nullptr : it->second.get();
}

TVEZSessionPageInfo& TVEZPageManager::SessionInfo(std::int32_t session_id) {
  auto& slot = sessions_[session_id];
  if (!slot) {
    slot = std::make_unique<TVEZSessionPageInfo>();
    slot->SessionID = session_id;
  }
  return *slot;
}

void TVEZPageManager::FreePage(TVEZPage* page) noexcept {
  if (page->OwnBuffer() && page->PageBuffer() && spare_buffers_.size() < kMaxSpareBuffers) {
    try {
      // An enlarged buffer (a page held one entry over before a split) is not kept.
      if (MemoryManager().GetMemoryBufferSize(page->PageBuffer()) == page_size_)
        spare_buffers_.push_back(page->DetachPageBuffer());  // capacity reserved
    } catch (...) {
      // A damaged block is left to the page's own release, which reports nothing either.
    }
  }
  delete page;
}

void TVEZPageManager::RecycleBuffer(std::uint8_t* buffer) noexcept {
  if (buffer == nullptr) return;
  try {
    if (spare_buffers_.size() < kMaxSpareBuffers &&
        MemoryManager().GetMemoryBufferSize(buffer) == page_size_) {
      spare_buffers_.push_back(buffer);  // capacity reserved
      return;
    }
    MemoryManager().FreeMem(buffer);
  } catch (...) {
    // A damaged block is reported by the allocator; nothing to do here.
  }
}

void TVEZPageManager::GiveNewBuffer(TVEZPage* page) {
  if (spare_buffers_.empty()) {
    page->AllocPageBuffer();
    return;
  }
  page->AdoptPageBuffer(spare_buffers_.back());
  spare_buffers_.pop_back();
}

void TVEZPageManager::FreeSpareBuffers() noexcept {
  for (std::uint8_t*& b : spare_buffers_) {
    try {
      MemoryManager().FreeAndNillMem(b);
    } catch (...) {
      // An overwritten block tail is reported by the allocator; nothing to do here.
    }
  }
  spare_buffers_.clear();
}

void TVEZPageManager::DropSharedCopy(std::int32_t page_no) {
  TVEZPage* old = shared_pages_.Find(page_no);
  if (!old) return;
  if (old->UseCount() > 0) {
    old->SetStale(true);
    return;
  }
  shared_pages_.Delete(page_no);
  FreePage(old);
}

void TVEZPageManager::RemovePage(std::int32_t session_id, std::int32_t page_no) {
  SessionInfo(session_id).RemovedPageNumbers.push_back(page_no);
}

TVEZPage* TVEZPageManager::GetPage(std::int32_t session_id, std::int32_t page_no,
                                   std::uint16_t page_type, bool synchronize_allowed) {
  if (session_id == -1) throw EVEZException(20186, "Invalid Session ID");
  if (read_hold_session_ == session_id && !before_page_access_) {
    for (TVEZPage* held : read_hold_pages_) {
      if (held != nullptr && held->PageNo() == page_no && !held->Stale()) {
        held->SetUseCount(CheckedAdd(held->UseCount(), 1));
        return held;
      }
    }
  }
  if (before_page_access_) before_page_access_(page_no);
  TVEZSessionPageInfo& info = SessionInfo(session_id);
  TVEZPage* page = info.DirtyPages.Find(page_no);
  const bool from_dirty_list = page != nullptr;
  if (!page) {
    page = shared_pages_.Find(page_no);
    if (!page) {
      auto fresh = std::make_unique<TVEZPage>(this);
      fresh->SetPageNo(page_no);
      fresh->SetSessionID(session_id);
      GiveNewBuffer(fresh.get());
      ReadStoredPage(*this, fresh.get(), page_type);
      if (!ignore_crc_errors_ && page_header_size_ > 0 && page_type != kPageTypeAny &&
          fresh->PageHeader().PageType() != page_type)
        throw EVEZException(
            20153, "Invalid page type. Possible data corruption. Expecting type %d, but found %d",
            {page_type, fresh->PageHeader().PageType()});
      page = fresh.release();
      shared_pages_.Insert(page);
      page->SetParentList(&shared_pages_);
      MarkPageSynchronized(session_id, page);
    } else {
      // Another session's pin is checked first so that its buffer is never
      // reloaded under it; a changed copy is never replaced from storage.
      if (page->UseCount() > 0 && page->SessionID() != session_id)
        throw EVEZException(kErrPageUsedByOtherSession, "Page is used by other session");
      if (synchronize_allowed && !page->IsDirty() && !IsPageSynchronized(session_id, page)) {
        try {
          page->Synchronize();
        } catch (...) {
          // A failed reload may have left part of the image: never serve it again.
          DropSharedCopy(page_no);
          throw;
        }
        MarkPageSynchronized(session_id, page);
      }
    }
  }
  if (page->UseCount() > 0 && page->SessionID() != session_id)
    throw EVEZException(kErrPageUsedByOtherSession, "Page is used by other session");
  RVX_INVARIANT(page->ParentList() == &shared_pages_ || page->ParentList() == &info.DirtyPages,
                "a page handed out is in the shared list or its session's dirty list");
  if (info.OpenSavepoints > 0) {
    NoteSavepointPage(info.Savepoints[info.OpenSavepoints - 1], page,
                      from_dirty_list || page->IsDirty(), false);
  }
  page->SetSessionID(session_id);
  page->SetUseCount(CheckedAdd(page->UseCount(), 1));
  if (read_hold_session_ == session_id) HoldForRead(page);
  return page;
}

void TVEZPageManager::HoldForRead(TVEZPage* page) noexcept {
  TVEZPage*& slot = read_hold_pages_[read_hold_next_];
  read_hold_next_ = (read_hold_next_ + 1) % kReadHoldPages;
  TVEZPage* released = slot;
  // The caller's pin keeps the page while the hold takes one of its own.
  page->SetUseCount(page->UseCount() + 1);
  slot = page;
  if (released != nullptr) PutHeld(released);
}

void TVEZPageManager::PutHeld(TVEZPage* page) noexcept {
  try {
    PutPage(page);
  } catch (...) {
    // A read never dirties a page, so the release moves nothing; a failure
    // here leaves at most a page pinned until the manager goes.
  }
}

void TVEZPageManager::BeginReadHold(std::int32_t session_id) {
  RVX_INVARIANT(read_hold_session_ == -1, "one read hold at a time");
  RVX_INVARIANT(session_id != -1, "a read hold belongs to a session");
  // A savepoint notes each page's first GetPage: a held page would skip that.
  const TVEZSessionPageInfo* info = FindSessionInfo(session_id);
  if (info != nullptr && info->OpenSavepoints > 0) return;
  read_hold_session_ = session_id;
  read_hold_next_ = 0;
}

void TVEZPageManager::EndReadHold() noexcept {
  read_hold_session_ = -1;
  for (TVEZPage*& held : read_hold_pages_) {
    TVEZPage* page = held;
    held = nullptr;
    if (page != nullptr) PutHeld(page);
  }
}

TVEZPage* TVEZPageManager::AddPage(std::int32_t session_id, std::uint16_t page_type) {
  if (before_page_access_) before_page_access_(-1);
  TVEZSessionPageInfo& info = SessionInfo(session_id);
  auto page = std::make_unique<TVEZPage>(this);
  InternalAddPage(page.get());
  if (page->PageNo() == -1) throw EVEZException(20064, "Invalid page number");
  if (!page->PageBuffer()) page->AllocPageBuffer();
  page->SetUseCount(1);
  page->SetIsDirty(true);
  page->SetReloaded(false);
  if (page_header_size_ > 0) {
    page->PageHeader().SetPageType(page_type);
    // Through the installed source, so tests can make files byte for byte.
    page->PageHeader().SetState(platform::Random(kInitialPageStateRange));
  }
  page->SetSessionID(session_id);
  DropSharedCopy(page->PageNo());
  try {
    info.AddedPageNumbers.push_back(page->PageNo());
    if (info.OpenSavepoints > 0)
      NoteSavepointPage(info.Savepoints[info.OpenSavepoints - 1], page.get(), false, true);
  } catch (...) {
    // Out of memory: the number goes back, as if the storage had refused.
    if (!info.AddedPageNumbers.empty() && info.AddedPageNumbers.back() == page->PageNo())
      info.AddedPageNumbers.pop_back();
    try {
      InternalRemovePage(page->PageNo());
    } catch (...) {
      // The first error is the one reported; the number stays taken.
    }
    throw;
  }
  info.DirtyPages.Insert(page.get());
  page->SetParentList(&info.DirtyPages);
  return page.release();
}

void TVEZPageManager::PutPage(TVEZPage* page) {
  RVX_INVARIANT(page->UseCount() > 0, "a page is given back as often as it was got");
  RVX_INVARIANT(page->ParentList() != nullptr, "a page given back belongs to a list");
  page->SetUseCount(page->UseCount() - 1);
  if (page->UseCount() <= 0) {
    page->SetUseCount(0);
    page->SetReloaded(false);
    if (page->ParentList() == &shared_pages_) {
      if (page->IsDirty()) {
        shared_pages_.Delete(page->PageNo());
        TVEZSessionPageInfo& info = SessionInfo(page->SessionID());
        info.DirtyPages.Insert(page);
        page->SetParentList(&info.DirtyPages);
        page->SetStale(false);
      } else if (page->Stale()) {
        shared_pages_.Delete(page->PageNo());
        FreePage(page);
        return;
      } else {
        shared_pages_.TouchLRU(page);
      }
    }
  }
  if (page->ParentList() == &shared_pages_) TrimSharedList();
}

void TVEZPageManager::TrimSharedList() {
  if (shared_pages_.Count() <= cache_capacity_) return;
  TVEZPage* p = shared_pages_.FirstByLRU();
  while (p && shared_pages_.Count() > cache_capacity_) {
    if (p->UseCount() == 0) {
      shared_pages_.Delete(p->PageNo());
      FreePage(p);
    }
    p = shared_pages_.NextByLRU();
  }
}

void TVEZPageManager::ApplyChanges(std::int32_t session_id) {
  for (std::int32_t i = 0; i < shared_pages_.Count(); ++i) {
    const TVEZPage* p = shared_pages_.PageAt(i);
    if (p->UseCount() > 0 && p->SessionID() == session_id)
      throw EVEZException(20152, "Some session pages not released");
  }
  TVEZSessionPageInfo* info = FindSessionInfo(session_id);
  if (!info) return;
  RVX_INVARIANT(info->OpenSavepoints == 0, "no savepoint is open while the session commits");
  DropSavepoints(*info);
  TVEZCommitChanges changes{{}, info->AddedPageNumbers, info->RemovedPageNumbers, 0};
  {
    std::vector<std::int32_t> removed(info->RemovedPageNumbers);
    std::sort(removed.begin(), removed.end());
    TVEZSortedPageList& dirty = info->DirtyPages;
    changes.PagesToWrite.reserve(static_cast<std::size_t>(dirty.Count()));
    for (std::int32_t i = 0; i < dirty.Count(); ++i) {
      TVEZPage* p = dirty.PageAt(i);
      // A page released by this commit is never written.
      if (std::binary_search(removed.begin(), removed.end(), p->PageNo())) continue;
      if (!p->IsDirty()) throw EVEZException(20085, "Invalid page");
      if (p->UseCount() > 0) throw EVEZException(20086, "Cannot write used page");
      changes.PagesToWrite.push_back(p);
    }
  }
  if (changes.PagesToWrite.empty() && changes.RemovedPageNumbers.empty()) {
    info->AddedPageNumbers.clear();
    return;
  }
  // Nothing in the cache changes until every write and release is done, so a
  // failure leaves the shared cache as it was and the session's work intact.
  // Releases come after the writes: a journal must hold the old images of the
  // released pages before any of them is reused.
  try {
    BeforeCommitWrites(session_id, changes);
    for (TVEZPage* p : changes.PagesToWrite)
      InternalWritePage(p);
    for (; changes.ReleasedCount < changes.RemovedPageNumbers.size(); ++changes.ReleasedCount)
      InternalRemovePage(changes.RemovedPageNumbers[changes.ReleasedCount]);
    AfterCommitWrites(session_id, changes);
  } catch (...) {
    if (OnCommitFailed(session_id, changes) == TVEZFailedCommitStorage::kPartlyCommitted)
      ForgetReleasedPages(*info, changes.ReleasedCount);
    throw;
  }
  SettleCommittedPages(*info, changes);
  ForgetReleasedPages(*info, info->RemovedPageNumbers.size());
  info->AddedPageNumbers.clear();
}

void TVEZPageManager::ForgetReleasedPages(TVEZSessionPageInfo& info, std::size_t removed_count) {
  if (removed_count == 0) return;
  std::vector<std::int32_t>& removed_numbers = info.RemovedPageNumbers;
  // Pages both added and removed are already back in free space: a rollback
  // must not free them again. One pass, however many pages the session freed.
  std::vector<std::int32_t> removed(
      removed_numbers.begin(),
      removed_numbers.begin() + static_cast<std::ptrdiff_t>(removed_count));
  std::sort(removed.begin(), removed.end());
  std::erase_if(info.AddedPageNumbers, [&](std::int32_t page_no) {
    return std::binary_search(removed.begin(), removed.end(), page_no);
  });
  removed_numbers.erase(removed_numbers.begin(),
                        removed_numbers.begin() + static_cast<std::ptrdiff_t>(removed_count));
}

void TVEZPageManager::SettleCommittedPages(TVEZSessionPageInfo& info,
                                           const TVEZCommitChanges& changes) {
  for (const std::int32_t page_no : changes.RemovedPageNumbers) {
    if (TVEZPage* p = info.DirtyPages.Find(page_no)) {
      info.DirtyPages.Delete(page_no);
      FreePage(p);
    }
    DropSharedCopy(page_no);
  }
  for (TVEZPage* p : changes.PagesToWrite) {
    p->SetIsDirty(false);
    // An older copy read by another session while this one was dirty must not
    // be served again.
    DropSharedCopy(p->PageNo());
    if (shared_pages_.Count() < cache_capacity_ && !shared_pages_.Find(p->PageNo())) {
      shared_pages_.Insert(p);
      p->SetParentList(&shared_pages_);
    } else {
      FreePage(p);
    }
  }
  // Every page left in the dirty list was written or released above.
  info.DirtyPages.Clear();
}

void TVEZPageManager::CancelChanges(std::int32_t session_id) {
  TVEZSessionPageInfo* info = FindSessionInfo(session_id);
  if (!info) return;
  RVX_INVARIANT(info->OpenSavepoints == 0, "no savepoint is open while the session cancels");
  DropSavepoints(*info);
  TVEZSortedPageList& dirty = info->DirtyPages;
  std::int32_t dropped = 0;
  try {
    for (; dropped < dirty.Count(); ++dropped) {
      const TVEZPage* p = dirty.PageAt(dropped);
      if (!p->IsDirty()) throw EVEZException(20087, "Invalid index page");
      if (p->UseCount() > 0) throw EVEZException(20088, "Cannot remove used page");
    }
  } catch (...) {
    for (std::int32_t i = 0; i < dropped; ++i)
      FreePage(dirty.PageAt(i));
    dirty.DeleteFirst(dropped);
    throw;
  }
  for (std::int32_t i = 0; i < dropped; ++i)
    FreePage(dirty.PageAt(i));
  dirty.Clear();
  std::vector<std::int32_t>& added = info->AddedPageNumbers;
  std::size_t returned = 0;
  try {
    for (; returned < added.size(); ++returned)
      InternalRemovePage(added[returned]);
  } catch (...) {
    added.erase(added.begin(), added.begin() + static_cast<std::ptrdiff_t>(returned));
    throw;
  }
  added.clear();
  info->RemovedPageNumbers.clear();
}

// ---------------------------------------------------------------------------
// Savepoints

void TVEZPageManager::BeginSavepoint(std::int32_t session_id) {
  if (session_id == -1) throw EVEZException(20186, "Invalid Session ID");
  TVEZSessionPageInfo& info = SessionInfo(session_id);
  if (info.OpenSavepoints == info.Savepoints.size()) info.Savepoints.emplace_back();
  TVEZSavepoint& savepoint = info.Savepoints[info.OpenSavepoints];
  savepoint.Pages.clear();
  savepoint.AddedCount = info.AddedPageNumbers.size();
  savepoint.RemovedCount = info.RemovedPageNumbers.size();
  ++info.OpenSavepoints;
}

std::size_t TVEZPageManager::SavepointDepth(std::int32_t session_id) const {
  const TVEZSessionPageInfo* info = FindSessionInfo(session_id);
  return info != nullptr ? info->OpenSavepoints : 0;
}

void TVEZPageManager::NoteSavepointPage(TVEZSavepoint& savepoint, TVEZPage* page, bool was_dirty,
                                        bool added) {
  TVEZSavedPage* seen = savepoint.Find(page->PageNo());
  // A page seen before keeps its first note. Numbers are released only by a
  // commit or a cancel, so none is added again while a savepoint is open.
  RVX_INVARIANT(seen == nullptr || !added, "a page number is added once while a savepoint is open");
  if (seen != nullptr && !added) return;
  if (seen == nullptr) {
    savepoint.Pages.emplace_back();
    seen = &savepoint.Pages.back();
  }
  TVEZSavedPage& saved = *seen;
  RecycleBuffer(saved.Image);
  saved = TVEZSavedPage{};
  saved.PageNo = page->PageNo();
  saved.Added = added;
  saved.WasDirty = was_dirty;
  if (added) return;
  const bool on_stored_image = !page->OwnBuffer();
  if (!was_dirty && !on_stored_image) return;
  try {
    std::uint8_t* image;
    if (!spare_buffers_.empty()) {
      image = spare_buffers_.back();
      spare_buffers_.pop_back();
    } else {
      image = static_cast<std::uint8_t*>(MemoryManager().GetMem(page_size_));
    }
    std::memcpy(image, page->PageBuffer(), page_size_);
    saved.Image = image;
    if (on_stored_image) saved.StorageBuffer = page->PageBuffer();
  } catch (...) {
    // No note: the page is not handed out either.
    savepoint.Pages.pop_back();
    throw;
  }
}

void TVEZPageManager::FreeSavedImages(TVEZSavepoint& savepoint) noexcept {
  for (TVEZSavedPage& saved : savepoint.Pages) {
    RecycleBuffer(saved.Image);
    saved.Image = nullptr;
  }
  savepoint.Pages.clear();
}

void TVEZPageManager::DropSavepoints(TVEZSessionPageInfo& info) noexcept {
  for (std::size_t i = 0; i < info.OpenSavepoints; ++i)
    FreeSavedImages(info.Savepoints[i]);
  info.OpenSavepoints = 0;
}

void TVEZPageManager::ReleaseSavepoint(std::int32_t session_id) noexcept {
  TVEZSessionPageInfo* info = FindSessionInfo(session_id);
  if (info == nullptr || info->OpenSavepoints == 0) return;
  TVEZSavepoint& savepoint = info->Savepoints[--info->OpenSavepoints];
  // The enclosing savepoint takes the notes of pages it has not seen: their
  // state when this one opened was theirs when it opened. Its own notes win.
  if (info->OpenSavepoints > 0) {
    TVEZSavepoint& outer = info->Savepoints[info->OpenSavepoints - 1];
    for (TVEZSavedPage& saved : savepoint.Pages) {
      if (outer.Find(saved.PageNo) != nullptr) continue;
      try {
        outer.Pages.push_back(saved);
        saved.Image = nullptr;
      } catch (...) {
        // Out of memory: the outer savepoint no longer covers this page.
      }
    }
  }
  FreeSavedImages(savepoint);
}

void TVEZPageManager::RollbackToSavepoint(std::int32_t session_id) noexcept {
  TVEZSessionPageInfo* info = FindSessionInfo(session_id);
  if (info == nullptr || info->OpenSavepoints == 0) return;
  TVEZSavepoint* savepoint = &info->Savepoints[--info->OpenSavepoints];
  TVEZSortedPageList& dirty = info->DirtyPages;
  for (TVEZSavedPage& saved : savepoint->Pages) {
    const std::int32_t page_no = saved.PageNo;
    if (saved.Added) continue;
    TVEZPage* page = dirty.Find(page_no);
    const bool in_dirty_list = page != nullptr;
    if (page == nullptr) page = shared_pages_.Find(page_no);
    RVX_INVARIANT(page == nullptr || page->UseCount() == 0 || page->SessionID() != session_id,
                  "the session pins no page when its savepoint is rolled back");
    if (saved.StorageBuffer != nullptr) std::memcpy(saved.StorageBuffer, saved.Image, page_size_);
    if (page == nullptr || page->UseCount() > 0) continue;
    if (saved.WasDirty) {
      if (!in_dirty_list) continue;
      if (saved.StorageBuffer != nullptr) {
        // A copy made to grow the page gives way to the stored image again.
        if (page->PageBuffer() != saved.StorageBuffer)
          page->SetBorrowedPageBuffer(saved.StorageBuffer);
      } else {
        std::memcpy(page->PageBuffer(), saved.Image, page_size_);
      }
    } else if (in_dirty_list) {
      // Clean before: the storage (or the image written back above) holds it.
      dirty.Delete(page_no);
      FreePage(page);
    }
  }
  std::vector<std::int32_t>& added = info->AddedPageNumbers;
  std::vector<std::int32_t>& removed = info->RemovedPageNumbers;
  if (removed.size() > savepoint->RemovedCount) removed.resize(savepoint->RemovedCount);
  std::vector<std::int32_t> kept;
  for (std::size_t i = savepoint->AddedCount; i < added.size(); ++i) {
    const std::int32_t page_no = added[i];
    bool pinned = false;
    if (TVEZPage* page = dirty.Find(page_no)) {
      RVX_INVARIANT(page->UseCount() == 0,
                    "the session pins no page when its savepoint is rolled back");
      pinned = page->UseCount() > 0;
      if (!pinned) {
        dirty.Delete(page_no);
        FreePage(page);
      }
    }
    try {
      // A page still pinned stays the session's, as one the storage refused.
      if (pinned) throw EVEZException(20088, "Cannot remove used page");
      InternalRemovePage(page_no);
    } catch (...) {
      try {
        kept.push_back(page_no);
      } catch (...) {
        // Out of memory as well: the page stays taken in the storage.
      }
    }
  }
  if (added.size() > savepoint->AddedCount) added.resize(savepoint->AddedCount);
  // A page the storage would not take back stays the session's, added and
  // removed: its commit releases it, a cancel gives it back.
  for (const std::int32_t page_no : kept) {
    try {
      added.push_back(page_no);
      removed.push_back(page_no);
    } catch (...) {
      if (!added.empty() && added.back() == page_no) added.pop_back();
    }
  }
  FreeSavedImages(*savepoint);
}

void TVEZPageSavepoints::Open(TVEZPageManager* page_manager) {
  if (page_manager == nullptr) return;
  for (std::size_t i = 0; i < FCount; ++i)
    if (FManagers[i] == page_manager) return;
  RVX_INVARIANT(FCount < kMaxManagers, "a record operation changes at most two page managers");
  page_manager->BeginSavepoint(FSessionID);
  FManagers[FCount++] = page_manager;
}

void TVEZPageSavepoints::Release() noexcept {
  while (FCount > 0)
    FManagers[--FCount]->ReleaseSavepoint(FSessionID);
}

void TVEZPageSavepoints::Rollback() noexcept {
  while (FCount > 0)
    FManagers[--FCount]->RollbackToSavepoint(FSessionID);
}

}  // namespace vez

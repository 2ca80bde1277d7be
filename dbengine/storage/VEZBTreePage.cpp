#include "dbengine/storage/VEZBTreePage.h"

#include <algorithm>
#include <cstring>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/Invariant.h"

namespace vez {

namespace {

using Bytes = std::vector<std::uint8_t>;

void ThrowIntegrity(std::int32_t code, std::int32_t page_no, std::int32_t entry_no) {
  throw EVEZException(code, "Index integrity error. PageNo=%d EntryNo=%d", {page_no, entry_no});
}

}  // namespace

// ---------------------------------------------------------------------------
// TVEZBTreeWalk

void TVEZBTreeWalk::Visit(const TVEZBTreePage& page) {
  const std::int32_t page_no = page.PageNo();
  if (std::find(inline_, inline_ + inline_count_, page_no) != inline_ + inline_count_)
    page.RaiseCorrupt("page reached twice in one walk");
  if (inline_count_ < kInline) {
    inline_[inline_count_++] = page_no;
    return;
  }
  const auto at = std::lower_bound(more_.begin(), more_.end(), page_no);
  if (at != more_.end() && *at == page_no) page.RaiseCorrupt("page reached twice in one walk");
  more_.insert(at, page_no);
}

TVEZBTreeWalk::Level::Level(TVEZBTreeWalk& walk, const TVEZBTreePage& page) : walk_(walk) {
  if (walk.depth_ >= TVEZKeyPath::kMaxDepth) page.RaiseCorrupt("tree deeper than a key path");
  walk.Visit(page);
  ++walk.depth_;
}

// ---------------------------------------------------------------------------
// TVEZBTreePage

void TVEZBTreePagePutter::operator()(TVEZBTreePage* page) const noexcept {
  if (!page) return;
  try {
    page->PageManager()->PutPage(page->Page());
  } catch (...) {
    // Putting a page back only moves it between lists; a failure there is an
    // inconsistency a destructor cannot report.
  }
  delete page;
}

TVEZBTreePage::TVEZBTreePage(TVEZPage* page, TVEZBTreeKeyRef* key_ref)
    : TVEZPageController(page), key_ref_(key_ref), leaf_controller_(this), node_controller_(this) {
  RVX_INVARIANT(page->UseCount() > 0, "a B-tree page is read only while pinned");
}

namespace {
// A view on a page just taken from the cache; the page goes back when the
// view cannot be made.
TVEZBTreePageHolder HoldPage(TVEZPageManager* page_manager, TVEZPage* page,
                             TVEZBTreeKeyRef* key_ref) {
  try {
    return TVEZBTreePageHolder(new TVEZBTreePage(page, key_ref));
  } catch (...) {
    page_manager->PutPage(page);
    throw;
  }
}
}  // namespace

TVEZBTreePageHolder TVEZBTreePage::AddIndexPage(TVEZPageManager* page_manager,
                                                TVEZBTreeKeyRef* key_ref, std::int32_t session_id) {
  TVEZBTreePageHolder holder =
      HoldPage(page_manager, page_manager->AddPage(session_id, kPageTypeTableIndex), key_ref);
  holder->Init();
  holder->MarkDirty();
  return holder;
}

TVEZBTreePageHolder TVEZBTreePage::GetIndexPage(TVEZPageManager* page_manager,
                                                TVEZBTreeKeyRef* key_ref, std::int32_t session_id,
                                                std::int32_t page_no) {
  TVEZBTreePageHolder holder = HoldPage(
      page_manager, page_manager->GetPage(session_id, page_no, kPageTypeTableIndex, true), key_ref);
  holder->CheckStoredHead();
  return holder;
}

void TVEZBTreePage::RaiseCorrupt(const char* what) const {
  throw EVEZException(kErrorCorruptIndexPage,
                      "Damaged index page. Possible data corruption. PageNo=%d (%s)",
                      {PageNo(), std::string(what)});
}

void TVEZBTreePage::CheckEntriesFit(std::int64_t count) const {
  const std::int64_t end = static_cast<std::int64_t>(EntriesOffset()) + count * EntrySize();
  if (count < 0 || end > PageDataSize()) RaiseCorrupt("entries beyond the end of the page");
}

void TVEZBTreePage::CheckStoredHead() const {
  const std::uint8_t* d = Data();
  if (d[L::kIsRoot] > 1 || d[L::kIsLeaf] > 1 || d[L::kHasKeys] != 1 || d[L::kHasSuffixes] != 0 ||
      PagePrefixSize() != 0)
    RaiseCorrupt("invalid page head");
  // The key size ties the page to the index whose key layout reads it.
  if (KeyPrefixSize() != key_ref_->ShortKeySize()) RaiseCorrupt("key size of another index");
  CheckEntriesFit(EntryCount());
  if (!IsLeaf() && EntryCount() == 0) RaiseCorrupt("node without entries");
  for (const std::int32_t sibling : {LeftPageNo(), RightPageNo()}) {
    if (sibling == -1) continue;
    if (sibling == PageNo() || !PageManager()->IsPageNoInStorage(sibling))
      RaiseCorrupt("sibling page number out of range");
  }
}

TVEZBTreePageHolder TVEZBTreePage::ChildPage(std::int32_t session_id, std::int32_t position) const {
  if (IsLeaf() || position < 0 || position >= EntryCount()) RaiseCorrupt("no such child entry");
  const std::int32_t child_no = ChildPageNo(position);
  if (child_no == PageNo() || !PageManager()->IsPageNoInStorage(child_no))
    RaiseCorrupt("child page number out of range");
  TVEZBTreePageHolder child = GetIndexPage(session_id, child_no);
  if (child->IsRoot() || child->EntryCount() == 0) RaiseCorrupt("child is a root or empty");
  return child;
}

void TVEZBTreePage::RemoveIndexPage(TVEZPageManager* page_manager, std::int32_t session_id,
                                    std::int32_t page_no) {
  page_manager->RemovePage(session_id, page_no);
}

TVEZBTreePageHolder TVEZBTreePage::AddIndexPage(std::int32_t session_id) const {
  return AddIndexPage(PageManager(), key_ref_, session_id);
}

TVEZBTreePageHolder TVEZBTreePage::GetIndexPage(std::int32_t session_id,
                                                std::int32_t page_no) const {
  return GetIndexPage(PageManager(), key_ref_, session_id, page_no);
}

void TVEZBTreePage::RemoveIndexPage(std::int32_t session_id, std::int32_t page_no) const {
  RemoveIndexPage(PageManager(), session_id, page_no);
}

void TVEZBTreePage::Init() {
  SetIsRoot(false);
  SetIsLeaf(false);
  SetLeftPageNo(-1);
  SetRightPageNo(-1);
  SetHasKeys(false);
  SetHasSuffixes(false);
  SetKeyPrefixSize(0);
  SetEntryCount(0);
  SetPagePrefixSize(0);
  MarkDirty();
}

void TVEZBTreePage::InitAsRoot() {
  Init();
  SetIsRoot(true);
  SetIsLeaf(true);
  SetHasKeys(true);
  SetHasSuffixes(false);
  SetPagePrefixSize(0);
  SetKeyPrefixSize(key_ref_->ShortKeySize());
}

void TVEZBTreePage::CopyFrom(const TVEZBTreePage& source, std::int32_t start_no,
                             std::int32_t count) {
  if (&source == this || start_no < 0 || start_no + count > source.EntryCount())
    RaiseCorrupt("entry copy out of range");
  source.CheckEntriesFit(count);
  std::memcpy(Data(), source.Data(), static_cast<std::size_t>(source.EntriesOffset()));
  std::memcpy(GetPKey(0), source.GetPKey(start_no),
              static_cast<std::size_t>(count * source.EntrySize()));
  SetEntryCount(count);
  MarkDirty();
}

void TVEZBTreePage::AppendFrom(const TVEZBTreePage& source, std::int32_t start_no,
                               std::int32_t count) {
  // A damaged head must not turn the copy into an overlapping or oversized one.
  if (&source == this || source.EntrySize() != EntrySize() || start_no < 0 ||
      start_no + count > source.EntryCount())
    RaiseCorrupt("entry copy between unlike pages");
  CheckEntriesFit(static_cast<std::int64_t>(EntryCount()) + count);
  std::memcpy(GetPKey(EntryCount()), source.GetPKey(start_no),
              static_cast<std::size_t>(count * EntrySize()));
  SetEntryCount(EntryCount() + count);
  MarkDirty();
}

void TVEZBTreePage::InsertFrom(const TVEZBTreePage& source, std::int32_t start_no,
                               std::int32_t count) {
  if (&source == this || source.EntrySize() != EntrySize() || start_no < 0 ||
      start_no + count > source.EntryCount())
    RaiseCorrupt("entry copy between unlike pages");
  CheckEntriesFit(static_cast<std::int64_t>(EntryCount()) + count);
  std::memmove(GetPKey(count), GetPKey(0), static_cast<std::size_t>(EntryCount() * EntrySize()));
  std::memcpy(GetPKey(0), source.GetPKey(start_no), static_cast<std::size_t>(count * EntrySize()));
  SetEntryCount(EntryCount() + count);
  MarkDirty();
}

void TVEZBTreePage::UpdateKey(std::int32_t position, const std::uint8_t* key) {
  std::memmove(GetPKey(position), key, static_cast<std::size_t>(KeyPrefixSize()));
  MarkDirty();
}

void TVEZBTreePage::UpdateReference(std::int32_t position, const std::uint8_t* reference) {
  std::memmove(GetPReference(position), reference, static_cast<std::size_t>(ReferenceSize()));
  MarkDirty();
}

void TVEZBTreePage::InsertNodeEntry(std::int32_t session_id, const std::uint8_t* key,
                                    const std::uint8_t* reference, TVEZKeyPath& key_path) {
  if (IsLeaf()) throw EVEZException(kErrorInternalIndex, "Internal index error");
  node_controller_.InsertNodeEntry(session_id, key, reference, key_path);
}

void TVEZBTreePage::DeleteNodeEntry(std::int32_t session_id, TVEZKeyPath& key_path,
                                    bool merge_with_left, const std::uint8_t* bound_key) {
  if (IsLeaf()) throw EVEZException(20024, "Internal index error");
  node_controller_.DeleteNodeEntry(session_id, key_path, merge_with_left, bound_key);
}

// ---------------------------------------------------------------------------
// TVEZBTreePageController: page-level steps

TVEZBTreeKeyRef* TVEZBTreePageController::KeyRef() const {
  return page_->KeyRef();
}

bool TVEZBTreePageController::CanInsertEntry() const {
  return (page_->EntryCount() + 1) * page_->EntrySize() + page_->EntriesOffset() <=
         page_->PageDataSize();
}

bool TVEZBTreePageController::IsPageOverflow() const {
  return page_->EntryCount() * page_->EntrySize() + page_->EntriesOffset() > page_->PageDataSize();
}

bool TVEZBTreePageController::IsPageUnderflow() const {
  return page_->EntryCount() * page_->EntrySize() <
         (page_->PageDataSize() - page_->EntriesOffset()) / 2;
}

bool TVEZBTreePageController::CanMergePages(const TVEZBTreePage& other) const {
  return (page_->EntryCount() + other.EntryCount()) * page_->EntrySize() + page_->EntriesOffset() <=
         other.PageDataSize();
}

void TVEZBTreePageController::EnlargeForOneEntry() {
  const std::int32_t size = platform::CheckedAdd(page_->PageSize(), page_->EntrySize());
  if (!page_->OwnBuffer() || MemoryManager().GetMemoryBufferSize(page_->PageBuffer()) < size)
    page_->EnlargePageBuffer(size);
}

std::int32_t TVEZBTreePageController::CompareKeyAt(bool may_use_full_keys, std::int32_t session_id,
                                                   const std::uint8_t* key, std::int32_t position) {
  // A node's references are page numbers, never record identities.
  return KeyRef()->CompareShortKeys(key, page_->GetPKey(position), may_use_full_keys, session_id,
                                    nullptr,
                                    page_->IsLeaf() ? page_->GetPReference(position) : nullptr);
}

std::int32_t TVEZBTreePageController::CompareReferenceAt(const std::uint8_t* reference,
                                                         std::int32_t position) const {
  return TVEZBTreeKeyRef::CompareReferences(reference, page_->GetPReference(position),
                                            page_->ReferenceSize());
}

std::int32_t TVEZBTreePageController::FindPositionInPage(
    bool may_use_full_keys, std::int32_t session_id, const std::uint8_t* key,
    const std::uint8_t* reference, std::int32_t start_pos, TVEZKeyPathPosition& position_type,
    TVEZEqualKeyPick pick) {
  const std::int32_t count = page_->EntryCount();
  if (count == 0) {
    position_type = kppEOF;
    return 0;
  }
  std::int32_t lo = start_pos, hi = count - 1;
  while (lo <= hi) {
    const std::int32_t mid = lo + (hi - lo) / 2;
    std::int32_t c = CompareKeyAt(may_use_full_keys, session_id, key, mid);
    if (c == 0 && reference)
      c = CompareEntryReference(may_use_full_keys, session_id, key, reference, mid);
    if (c < 0) {
      hi = mid - 1;
    } else if (c > 0) {
      lo = mid + 1;
    } else {
      position_type = kppOnKey;
      if (pick == TVEZEqualKeyPick::Any) return mid;
      // Entries are sorted, so the run of equal keys around mid is found by
      // binary search rather than stepping entry by entry.
      if (pick == TVEZEqualKeyPick::First) {
        std::int32_t a = start_pos, b = mid;  // first equal in [a, b]
        while (a < b) {
          const std::int32_t m = a + (b - a) / 2;
          if (CompareKeyAt(may_use_full_keys, session_id, key, m) == 0)
            b = m;
          else
            a = m + 1;
        }
        return a;
      }
      std::int32_t a = mid, b = count - 1;  // last equal in [a, b]
      while (a < b) {
        const std::int32_t m = a + (b - a + 1) / 2;
        if (CompareKeyAt(may_use_full_keys, session_id, key, m) == 0)
          a = m;
        else
          b = m - 1;
      }
      return a;
    }
  }
  position_type = kppBeforeKey;
  return lo;
}

void TVEZBTreePageController::InsertEntryAt(const std::uint8_t* key, const std::uint8_t* reference,
                                            std::int32_t position) {
  if (!CanInsertEntry()) EnlargeForOneEntry();
  const std::int32_t count = page_->EntryCount();
  const std::int32_t entry_size = page_->EntrySize();
  std::memmove(page_->GetPKey(position + 1), page_->GetPKey(position),
               static_cast<std::size_t>((count - position) * entry_size));
  std::uint8_t* k = page_->GetPKey(position);
  std::memset(k, 0, static_cast<std::size_t>(page_->KeyPrefixSize()));
  if (key) std::memcpy(k, key, static_cast<std::size_t>(page_->KeyPrefixSize()));
  std::memcpy(page_->GetPReference(position), reference,
              static_cast<std::size_t>(page_->ReferenceSize()));
  page_->SetEntryCount(count + 1);
  page_->MarkDirty();
}

void TVEZBTreePageController::DeleteEntryAt(std::int32_t position) {
  const std::int32_t count = page_->EntryCount();
  if (count <= 0) throw EVEZException(kErrorIndexPageEmpty, "Index error: page is empty");
  std::memmove(page_->GetPKey(position), page_->GetPKey(position + 1),
               static_cast<std::size_t>((count - position - 1) * page_->EntrySize()));
  page_->SetEntryCount(count - 1);
  page_->MarkDirty();
}

void TVEZBTreePageController::Split(std::int32_t session_id, TVEZKeyPath& key_path) {
  if (page_->IsRoot())
    SplitRootPage(session_id, key_path);
  else
    SplitPage(session_id, key_path);
}

void TVEZBTreePageController::SplitRootPage(std::int32_t session_id, TVEZKeyPath& key_path) {
  TVEZBTreePageHolder left = page_->AddIndexPage(session_id);
  TVEZBTreePageHolder right = page_->AddIndexPage(session_id);
  const std::int32_t count = page_->EntryCount();
  const std::int32_t h = count / 2;
  left->CopyFrom(*page_, 0, h);
  right->CopyFrom(*page_, h, count - h);
  left->SetIsRoot(false);
  right->SetIsRoot(false);
  left->SetRightPageNo(right->PageNo());
  right->SetLeftPageNo(left->PageNo());
  page_->SetIsLeaf(false);
  page_->SetEntryCount(0);
  page_->MarkDirty();
  std::uint8_t ref[4];
  PutLE<std::int32_t>(ref, left->PageNo());
  page_->InsertNodeEntry(session_id, nullptr, ref, key_path);
  PutLE<std::int32_t>(ref, right->PageNo());
  page_->InsertNodeEntry(session_id, right->GetPKey(0), ref, key_path);
}

void TVEZBTreePageController::SplitPage(std::int32_t session_id, TVEZKeyPath& key_path) {
  TVEZBTreePageHolder right = page_->AddIndexPage(session_id);
  const std::int32_t count = page_->EntryCount();
  const std::int32_t h = count / 2;
  right->CopyFrom(*page_, h, count - h);
  const std::int32_t old_right = page_->RightPageNo();
  right->SetRightPageNo(old_right);
  right->SetLeftPageNo(page_->PageNo());
  if (old_right != -1) {
    TVEZBTreePageHolder neighbour = page_->GetIndexPage(session_id, old_right);
    if (neighbour->LeftPageNo() != page_->PageNo() || neighbour->IsLeaf() != page_->IsLeaf())
      neighbour->RaiseCorrupt("sibling does not link back");
    neighbour->SetLeftPageNo(right->PageNo());
    neighbour->MarkDirty();
  }
  page_->SetRightPageNo(right->PageNo());
  page_->SetEntryCount(h);
  page_->MarkDirty();
  // Only a root lacks a parent on the path: this page's root flag is wrong.
  if (key_path.ItemNo < 1) page_->RaiseCorrupt("page without a parent on the path");
  key_path.DecLevel();
  TVEZBTreePageHolder parent = page_->GetIndexPage(session_id, key_path.CurrentPageNo());
  std::uint8_t ref[4];
  PutLE<std::int32_t>(ref, right->PageNo());
  const Bytes separator(right->GetPKey(0), right->GetPKey(0) + right->KeyPrefixSize());
  right.reset();
  parent->InsertNodeEntry(session_id, separator.data(), ref, key_path);
  key_path.IncLevel();
}

bool TVEZBTreePageController::MergeWithNeighbour(std::int32_t session_id, TVEZKeyPath& key_path) {
  if (page_->IsRoot()) return false;
  bool merged = false;
  if (page_->LeftPageNo() != -1)
    merged = TryMergeWithSibling(session_id, page_->LeftPageNo(), key_path);
  if (!merged && page_->RightPageNo() != -1)
    merged = TryMergeWithSibling(session_id, page_->RightPageNo(), key_path);
  return merged;
}

bool TVEZBTreePageController::TryMergeWithSibling(std::int32_t session_id,
                                                  std::int32_t sibling_page_no,
                                                  TVEZKeyPath& key_path) {
  TVEZBTreePageHolder sibling = page_->GetIndexPage(session_id, sibling_page_no);
  const bool is_left = sibling_page_no == page_->LeftPageNo();
  // Entries move only between pages of one level that link to each other.
  if (sibling->IsLeaf() != page_->IsLeaf() || sibling->IsRoot() ||
      (is_left ? sibling->RightPageNo() : sibling->LeftPageNo()) != page_->PageNo())
    sibling->RaiseCorrupt("sibling does not link back");
  if (!CanMergePages(*sibling)) return false;
  if (is_left)
    MergeIntoLeftSibling(session_id, *sibling, key_path);
  else
    MergeIntoRightSibling(session_id, *sibling, key_path);
  page_->RemoveIndexPage(session_id, page_->PageNo());
  return true;
}

TVEZBTreePageHolder TVEZBTreePageController::UnlinkAndFetchParent(std::int32_t session_id,
                                                                  TVEZKeyPath& key_path,
                                                                  bool into_left) {
  const std::int32_t other = into_left ? page_->RightPageNo() : page_->LeftPageNo();
  if (other != -1) {
    TVEZBTreePageHolder neighbour = page_->GetIndexPage(session_id, other);
    if ((into_left ? neighbour->LeftPageNo() : neighbour->RightPageNo()) != page_->PageNo())
      neighbour->RaiseCorrupt("sibling does not link back");
    if (into_left)
      neighbour->SetLeftPageNo(page_->LeftPageNo());
    else
      neighbour->SetRightPageNo(page_->RightPageNo());
    neighbour->MarkDirty();
  }
  // Only a root lacks a parent on the path: this page's root flag is wrong.
  if (key_path.ItemNo < 1) page_->RaiseCorrupt("page without a parent on the path");
  key_path.DecLevel();
  return page_->GetIndexPage(session_id, key_path.CurrentPageNo());
}

void TVEZBTreePageController::MergeIntoLeftSibling(std::int32_t session_id, TVEZBTreePage& left,
                                                   TVEZKeyPath& key_path) {
  TVEZBTreePageHolder parent = UnlinkAndFetchParent(session_id, key_path, true);
  const std::int32_t count = page_->EntryCount();
  if (!page_->IsLeaf() && count > 0) {
    // Entry 0 stops being a first entry: give it a real lower bound.
    Bytes first(static_cast<std::size_t>(page_->KeyPrefixSize()));
    page_->GetFirstKey(session_id, first.data());
    page_->UpdateKey(0, first.data());
  }
  left.AppendFrom(*page_, 0, count);
  left.SetRightPageNo(page_->RightPageNo());
  left.MarkDirty();
  // Where the parent has no second entry to bound the moved entries from
  // above, the last key now in the left sibling does.
  Bytes bound;
  if (key_path.Current().EntryNo == 0 && parent->EntryCount() == 1 && left.EntryCount() > 0) {
    bound.resize(static_cast<std::size_t>(left.KeyPrefixSize()));
    left.GetLastKey(session_id, bound.data());
  }
  parent->DeleteNodeEntry(session_id, key_path, true, bound.empty() ? nullptr : bound.data());
}

void TVEZBTreePageController::MergeIntoRightSibling(std::int32_t session_id, TVEZBTreePage& right,
                                                    TVEZKeyPath& key_path) {
  TVEZBTreePageHolder parent = UnlinkAndFetchParent(session_id, key_path, false);
  const std::int32_t count = page_->EntryCount();
  if (!right.IsLeaf() && right.EntryCount() > 0) {
    Bytes first(static_cast<std::size_t>(right.KeyPrefixSize()));
    right.GetFirstKey(session_id, first.data());
    right.UpdateKey(0, first.data());
  }
  right.InsertFrom(*page_, 0, count);
  right.SetLeftPageNo(page_->LeftPageNo());
  right.MarkDirty();
  // The moved entries' own first key bounds them from below where the
  // parent's entry for this page may be a placeholder (entry 0).
  Bytes bound;
  if (count > 0) {
    bound.resize(static_cast<std::size_t>(right.KeyPrefixSize()));
    right.GetFirstKey(session_id, bound.data());
  }
  parent->DeleteNodeEntry(session_id, key_path, false, bound.empty() ? nullptr : bound.data());
}

bool TVEZBTreePageController::FindEntryWithReference(std::int32_t session_id,
                                                     const std::uint8_t* key,
                                                     std::int32_t& position,
                                                     const std::uint8_t* reference) {
  const std::int32_t count = page_->EntryCount();
  std::int32_t p = 0;
  if (key) {
    TVEZKeyPathPosition pt;
    p = FindPositionInPage(true, session_id, key, reference, 0, pt, TVEZEqualKeyPick::First);
    if (pt != kppOnKey) return false;
    while (CompareReferenceAt(reference, p) != 0) {
      ++p;
      if (p >= count || CompareKeyAt(false, -1, key, p) != 0) return false;
    }
  } else {
    while (p < count && CompareReferenceAt(reference, p) != 0)
      ++p;
    if (p >= count) return false;
  }
  position = p;
  return true;
}

bool TVEZBTreePageController::FindByConditionInPage(std::int32_t session_id, bool first,
                                                    const std::uint8_t* key, TVEZSearchCondition op,
                                                    TVEZKeyPath& position) {
  const std::int32_t count = page_->EntryCount();
  std::int32_t result = -1;
  if (!key || op == scNone) {
    result = first ? (count > 0 ? 0 : -1) : count - 1;
  } else {
    // The search lands on the first equal key where the matches end or start
    // before the run of equal keys, on the last one where they lie after it.
    const TVEZEqualKeyPick pick = (op == scEqual ? first : (op == scLower || op == scGreaterEqual))
                                      ? TVEZEqualKeyPick::First
                                      : TVEZEqualKeyPick::Last;
    TVEZKeyPathPosition pt = kppUnknown;
    const std::int32_t r = FindPositionInPage(true, session_id, key, nullptr, 0, pt, pick);
    const bool found = pt == kppOnKey;
    switch (op) {
      case scEqual:
        if (found) result = r;
        break;
      case scLower:
      case scLowerEqual: {
        // Matches are the entries 0 .. last_match.
        const std::int32_t last_match = op == scLowerEqual && found ? r : r - 1;
        if (last_match >= 0) result = first ? 0 : last_match;
        break;
      }
      case scGreater:
      case scGreaterEqual: {
        // Matches are the entries first_match .. count - 1.
        const std::int32_t first_match = op == scGreater && found ? r + 1 : r;
        if (first_match < count) result = first ? first_match : count - 1;
        break;
      }
      default:
        break;
    }
  }
  if (result < 0) return false;
  AddPathItem(position, result);
  return true;
}

// ---------------------------------------------------------------------------
// TVEZBTreeLeafController

std::int32_t TVEZBTreeLeafController::CompareEntryReference(bool, std::int32_t, const std::uint8_t*,
                                                            const std::uint8_t* reference,
                                                            std::int32_t position) {
  return CompareReferenceAt(reference, position);
}

void TVEZBTreeLeafController::InsertLeafEntry(std::int32_t session_id, const std::uint8_t* key,
                                              const std::uint8_t* reference,
                                              TVEZKeyPath& key_path) {
  TVEZKeyPathPosition pt;
  const std::int32_t p =
      FindPositionInPage(true, session_id, key, reference, 0, pt, TVEZEqualKeyPick::Any);
  InsertEntryAt(key, reference, p);
  if (IsPageOverflow()) {
    Split(session_id, key_path);
  } else {
    page_->MarkDirty();
    AddPathItem(key_path, p);
  }
}

bool TVEZBTreeLeafController::DeleteLeafEntry(std::int32_t session_id, const std::uint8_t* key,
                                              const std::uint8_t* reference,
                                              TVEZKeyPath& key_path) {
  std::int32_t p = 0;
  if (!FindEntryWithReference(session_id, key, p, reference)) return false;
  DeleteEntryAt(p);
  page_->MarkDirty();
  if (IsPageUnderflow()) MergeWithNeighbour(session_id, key_path);
  return true;
}

void TVEZBTreeLeafController::FreeAllPages(std::int32_t session_id, bool keep_root_page,
                                           TVEZBTreeWalk&) {
  if (!(page_->IsRoot() && keep_root_page)) page_->RemoveIndexPage(session_id, page_->PageNo());
}

void TVEZBTreeLeafController::CheckIntegrity(std::int32_t, TVEZKeyPath&, TVEZBTreeWalk&) {
  const bool whole_keys = !KeyRef()->HasTruncatedParts();
  for (std::int32_t i = 0; i + 1 < page_->EntryCount(); ++i) {
    const std::int32_t c = KeyRef()->CompareShortKeys(page_->GetPKey(i), page_->GetPKey(i + 1),
                                                      false, -1, nullptr, nullptr);
    if (c > 0 || (c == 0 && whole_keys && CompareReferenceAt(page_->GetPReference(i), i + 1) >= 0))
      ThrowIntegrity(20028, page_->PageNo(), i);
  }
}

bool TVEZBTreeLeafController::FindEntry(std::int32_t session_id, const std::uint8_t* key,
                                        const std::uint8_t* reference, TVEZKeyPath& position,
                                        TVEZBTreeWalk&) {
  std::int32_t p = 0;
  if (!FindEntryWithReference(session_id, key, p, reference)) return false;
  AddPathItem(position, p);
  return true;
}

bool TVEZBTreeLeafController::GetFirstPosition(std::int32_t, TVEZKeyPath& position) {
  if (page_->EntryCount() == 0) return false;
  AddPathItem(position, 0);
  return true;
}

bool TVEZBTreeLeafController::GetLastPosition(std::int32_t, TVEZKeyPath& position) {
  if (page_->EntryCount() == 0) return false;
  AddPathItem(position, page_->EntryCount() - 1);
  return true;
}

bool TVEZBTreeLeafController::FindByCondition(std::int32_t session_id, bool first,
                                              const std::uint8_t* key, TVEZSearchCondition op,
                                              TVEZKeyPath& position, TVEZBTreeWalk&) {
  return FindByConditionInPage(session_id, first, key, op, position);
}

void TVEZBTreeLeafController::GetFirstKey(std::int32_t session_id, std::uint8_t* key) {
  GetFirstEntry(session_id, key, nullptr);
}

void TVEZBTreeLeafController::GetLastKey(std::int32_t session_id, std::uint8_t* key) {
  GetLastEntry(session_id, key, nullptr);
}

void TVEZBTreeLeafController::GetFirstEntry(std::int32_t, std::uint8_t* key,
                                            std::uint8_t* reference) {
  if (page_->EntryCount() == 0)
    throw EVEZException(kErrorIndexPageEmpty, "Index error: page is empty");
  std::memcpy(key, page_->GetPKey(0), static_cast<std::size_t>(page_->KeyPrefixSize()));
  if (reference)
    std::memcpy(reference, page_->GetPReference(0),
                static_cast<std::size_t>(KeyRef()->ReferenceSize()));
}

void TVEZBTreeLeafController::GetLastEntry(std::int32_t, std::uint8_t* key,
                                           std::uint8_t* reference) {
  const std::int32_t n = page_->EntryCount();
  if (n == 0) throw EVEZException(kErrorIndexPageEmpty, "Index error: page is empty");
  std::memcpy(key, page_->GetPKey(n - 1), static_cast<std::size_t>(page_->KeyPrefixSize()));
  if (reference)
    std::memcpy(reference, page_->GetPReference(n - 1),
                static_cast<std::size_t>(KeyRef()->ReferenceSize()));
}

// ---------------------------------------------------------------------------
// TVEZBTreeNodeController

void TVEZBTreePageController::AddPathItem(TVEZKeyPath& path, std::int32_t position) {
  if (path.Count >= TVEZKeyPath::kMaxDepth || path.ItemNo >= TVEZKeyPath::kMaxDepth)
    page_->RaiseCorrupt("tree deeper than a key path");
  path.AddItem(page_->PageNo(), position, page_->EntryCount());
}

void TVEZBTreeNodeController::CopyEdgeEntry(std::int32_t session_id, std::int32_t position,
                                            bool first, std::uint8_t* key,
                                            std::uint8_t* reference) {
  TVEZBTreePageHolder held;
  const TVEZBTreePage* node = page_;
  // One page per level, iteratively: a cycle ends at the depth bound.
  for (std::int32_t depth = 1; depth < TVEZKeyPath::kMaxDepth; ++depth) {
    TVEZBTreePageHolder child = node->ChildPage(session_id, position);
    if (child->IsLeaf()) {
      if (first)
        child->Controller().GetFirstEntry(session_id, key, reference);
      else
        child->Controller().GetLastEntry(session_id, key, reference);
      return;
    }
    position = first ? 0 : child->EntryCount() - 1;
    held = std::move(child);
    node = held.get();
  }
  node->RaiseCorrupt("tree deeper than a key path");
}

std::int32_t TVEZBTreeNodeController::CompareEntryReference(bool, std::int32_t session_id,
                                                            const std::uint8_t* key,
                                                            const std::uint8_t* reference,
                                                            std::int32_t position) {
  TVEZBTreeKeyRef* key_ref = KeyRef();
  std::uint8_t local[256];
  Bytes heap;
  std::uint8_t* first_key = local;
  const std::int32_t need = page_->KeyPrefixSize() + key_ref->ReferenceSize();
  if (need > static_cast<std::int32_t>(sizeof(local))) {
    heap.resize(static_cast<std::size_t>(need));
    first_key = heap.data();
  }
  std::uint8_t* first_ref = first_key + page_->KeyPrefixSize();
  CopyEdgeEntry(session_id, position, true, first_key, first_ref);
  std::int32_t r =
      key_ref->CompareShortKeys(key, first_key, true, session_id, reference, first_ref);
  if (r == 0)
    r = TVEZBTreeKeyRef::CompareReferences(reference, first_ref, key_ref->ReferenceSize());
  return r;
}

namespace {

// The child to descend into for (key, reference): the last child whose lower
// bound lies below, or the one whose first entry equals it.
std::int32_t DescentPosition(TVEZBTreePageController& c, TVEZBTreePage& page,
                             std::int32_t session_id, const std::uint8_t* key,
                             const std::uint8_t* reference) {
  if (page.EntryCount() == 0) throw EVEZException(kErrorInternalIndex, "Internal index error");
  TVEZKeyPathPosition pt;
  std::int32_t p =
      c.FindPositionInPage(false, session_id, key, reference, 1, pt, TVEZEqualKeyPick::Any);
  if (pt != kppOnKey) p -= 1;
  return p < 0 ? 0 : p;
}

}  // namespace

void TVEZBTreeNodeController::InsertLeafEntry(std::int32_t session_id, const std::uint8_t* key,
                                              const std::uint8_t* reference,
                                              TVEZKeyPath& key_path) {
  const std::int32_t p = DescentPosition(*this, *page_, session_id, key, reference);
  AddPathItem(key_path, p);
  page_->ChildPage(session_id, p)->InsertLeafEntry(session_id, key, reference, key_path);
}

bool TVEZBTreeNodeController::DeleteLeafEntry(std::int32_t session_id, const std::uint8_t* key,
                                              const std::uint8_t* reference,
                                              TVEZKeyPath& key_path) {
  const std::int32_t p = DescentPosition(*this, *page_, session_id, key, reference);
  AddPathItem(key_path, p);
  return page_->ChildPage(session_id, p)->DeleteLeafEntry(session_id, key, reference, key_path);
}

void TVEZBTreeNodeController::FreeAllPages(std::int32_t session_id, bool keep_root_page,
                                           TVEZBTreeWalk& walk) {
  if (page_->PageNo() != -1)
    for (std::int32_t i = 0; i < page_->EntryCount(); ++i)
      page_->ChildPage(session_id, i)->FreeAllPages(session_id, false, walk);
  if (!(page_->IsRoot() && keep_root_page)) page_->RemoveIndexPage(session_id, page_->PageNo());
}

void TVEZBTreeNodeController::CheckIntegrity(std::int32_t session_id, TVEZKeyPath& key_path,
                                             TVEZBTreeWalk& walk) {
  const std::int32_t count = page_->EntryCount();
  const std::int32_t page_no = page_->PageNo();
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t child_no = page_->ChildPageNo(i);
    if (key_path.PageExists(child_no) || child_no == page_no)
      throw EVEZException(20032, "Index integrity error. Circular links. PageNo=%d EntryNo=%d",
                          {page_no, i});
    AddPathItem(key_path, i);
    TVEZBTreePageHolder child = page_->ChildPage(session_id, i);
    if (i > 0 && child->LeftPageNo() != page_->ChildPageNo(i - 1))
      throw EVEZException(20033, "Index integrity error. Invlaid leaf link. PageNo=%d EntryNo=%d",
                          {page_no, i});
    if (i < count - 1 && child->RightPageNo() != page_->ChildPageNo(i + 1))
      throw EVEZException(20034, "Index integrity error. Invlaid leaf link. PageNo=%d EntryNo=%d",
                          {page_no, i});
    child->CheckIntegrity(session_id, key_path, walk);
    key_path.DeleteLastItem();
  }
  // Every separator i >= 1 lies between the keys of child i - 1 and child i.
  TVEZBTreeKeyRef* key_ref = KeyRef();
  const std::int32_t key_size = page_->KeyPrefixSize();
  const std::int32_t ref_size = key_ref->ReferenceSize();
  const bool whole_keys = !key_ref->HasTruncatedParts();
  Bytes last_key(static_cast<std::size_t>(key_size + ref_size)),
      first_key(static_cast<std::size_t>(key_size + ref_size));
  for (std::int32_t i = 1; i < count; ++i) {
    const std::uint8_t* sep = page_->GetPKey(i);
    if (i + 1 < count &&
        key_ref->CompareShortKeys(sep, page_->GetPKey(i + 1), false, -1, nullptr, nullptr) > 0)
      ThrowIntegrity(20029, page_no, i);
    CopyEdgeEntry(session_id, i - 1, false, last_key.data(), last_key.data() + key_size);
    if (key_ref->CompareShortKeys(last_key.data(), sep, false, -1, nullptr, nullptr) > 0)
      ThrowIntegrity(20030, page_no, i);
    CopyEdgeEntry(session_id, i, true, first_key.data(), first_key.data() + key_size);
    if (key_ref->CompareShortKeys(first_key.data(), sep, false, -1, nullptr, nullptr) < 0)
      ThrowIntegrity(20031, page_no, i);
    if (whole_keys &&
        key_ref->CompareShortKeys(last_key.data(), first_key.data(), false, -1, nullptr, nullptr) ==
            0 &&
        TVEZBTreeKeyRef::CompareReferences(last_key.data() + key_size, first_key.data() + key_size,
                                           ref_size) >= 0)
      ThrowIntegrity(20194, page_no, i);
  }
}

void TVEZBTreeNodeController::GetChildRange(std::int32_t session_id, const std::uint8_t* key,
                                            TVEZSearchCondition op, std::int32_t& a,
                                            std::int32_t& b) {
  const std::int32_t last = page_->EntryCount() - 1;
  a = 0;
  b = last;
  if (!key) return;
  TVEZKeyPathPosition pt;
  const bool truncated = KeyRef()->HasTruncatedParts();
  switch (op) {
    case scEqual: {
      const std::int32_t r0 =
          FindPositionInPage(false, session_id, key, nullptr, 1, pt, TVEZEqualKeyPick::First);
      const bool found = pt == kppOnKey;
      a = std::max(r0 - 1, 0);
      if (found)
        b = FindPositionInPage(false, session_id, key, nullptr, 1, pt, TVEZEqualKeyPick::Last);
      else
        b = a;
      break;
    }
    case scLower: {
      b = FindPositionInPage(false, session_id, key, nullptr, 1, pt, TVEZEqualKeyPick::First) - 1;
      // A separator equal only in its truncated bytes may still lead to
      // smaller full values: keep the children it covers.
      if (pt == kppOnKey && truncated)
        b = FindPositionInPage(false, session_id, key, nullptr, 1, pt, TVEZEqualKeyPick::Last);
      break;
    }
    case scGreater: {
      a = FindPositionInPage(false, session_id, key, nullptr, 1, pt, TVEZEqualKeyPick::Last);
      if (pt != kppOnKey)
        a -= 1;
      else if (truncated)
        a = FindPositionInPage(false, session_id, key, nullptr, 1, pt, TVEZEqualKeyPick::First) - 1;
      break;
    }
    case scLowerEqual: {
      b = FindPositionInPage(false, session_id, key, nullptr, 1, pt, TVEZEqualKeyPick::Last);
      if (pt != kppOnKey) b -= 1;
      break;
    }
    case scGreaterEqual:
      a = FindPositionInPage(false, session_id, key, nullptr, 1, pt, TVEZEqualKeyPick::First) - 1;
      break;
    default:
      // No caller asks for scNone with a key: every child is a candidate.
      break;
  }
  a = std::max(a, 0);
  b = std::min(b, last);
}

bool TVEZBTreeNodeController::FindEntry(std::int32_t session_id, const std::uint8_t* key,
                                        const std::uint8_t* reference, TVEZKeyPath& position,
                                        TVEZBTreeWalk& walk) {
  std::int32_t a, b;
  GetChildRange(session_id, key, scEqual, a, b);
  for (std::int32_t i = a; i <= b; ++i) {
    AddPathItem(position, i);
    if (page_->ChildPage(session_id, i)->FindEntry(session_id, key, reference, position, walk))
      return true;
    position.DeleteLastItem();
  }
  return false;
}

bool TVEZBTreeNodeController::GetFirstPosition(std::int32_t session_id, TVEZKeyPath& position) {
  AddPathItem(position, 0);
  return page_->ChildPage(session_id, 0)->GetFirstPosition(session_id, position);
}

bool TVEZBTreeNodeController::GetLastPosition(std::int32_t session_id, TVEZKeyPath& position) {
  const std::int32_t n = page_->EntryCount();
  AddPathItem(position, n - 1);
  return page_->ChildPage(session_id, n - 1)->GetLastPosition(session_id, position);
}

bool TVEZBTreeNodeController::FindByCondition(std::int32_t session_id, bool first,
                                              const std::uint8_t* key, TVEZSearchCondition op,
                                              TVEZKeyPath& position, TVEZBTreeWalk& walk) {
  std::int32_t a, b;
  GetChildRange(session_id, key, op, a, b);
  for (std::int32_t k = 0; k <= b - a; ++k) {
    const std::int32_t i = first ? a + k : b - k;
    AddPathItem(position, i);
    if (page_->ChildPage(session_id, i)
            ->FindByCondition(session_id, first, key, op, position, walk))
      return true;
    position.DeleteLastItem();
  }
  return false;
}

void TVEZBTreeNodeController::GetFirstKey(std::int32_t session_id, std::uint8_t* key) {
  CopyEdgeEntry(session_id, 0, true, key, nullptr);
}

void TVEZBTreeNodeController::GetLastKey(std::int32_t session_id, std::uint8_t* key) {
  CopyEdgeEntry(session_id, page_->EntryCount() - 1, false, key, nullptr);
}

void TVEZBTreeNodeController::GetFirstEntry(std::int32_t session_id, std::uint8_t* key,
                                            std::uint8_t* reference) {
  CopyEdgeEntry(session_id, 0, true, key, reference);
}

void TVEZBTreeNodeController::GetLastEntry(std::int32_t session_id, std::uint8_t* key,
                                           std::uint8_t* reference) {
  CopyEdgeEntry(session_id, page_->EntryCount() - 1, false, key, reference);
}

void TVEZBTreeNodeController::InsertNodeEntry(std::int32_t session_id, const std::uint8_t* key,
                                              const std::uint8_t* reference,
                                              TVEZKeyPath& key_path) {
  const std::int32_t count = page_->EntryCount();
  const std::int32_t position = count > 1 ? key_path.Current().EntryNo + 1 : count;
  InsertEntryAt(key, reference, position);
  if (IsPageOverflow())
    Split(session_id, key_path);
  else
    page_->MarkDirty();
}

void TVEZBTreeNodeController::DeleteNodeEntry(std::int32_t session_id, TVEZKeyPath& key_path,
                                              bool merge_with_left, const std::uint8_t* bound_key) {
  const std::int32_t level = key_path.ItemNo;
  const std::int32_t e = key_path.Current().EntryNo;
  const std::int32_t count = page_->EntryCount();
  const std::size_t key_size = static_cast<std::size_t>(page_->KeyPrefixSize());
  Bytes key;
  if (merge_with_left) {
    // The subtree's lower bound rises to the next separator of this node (or,
    // with none, to the bound the caller found for the moved entries).
    if (e == 0) {
      if (count > 1)
        key.assign(page_->GetPKey(1), page_->GetPKey(1) + key_size);
      else if (bound_key)
        key.assign(bound_key, bound_key + key_size);
      if (!key.empty())
        for (std::int32_t a = level - 1; a >= 0; --a) {
          const TVEZKeyPathItem& item = key_path.Items[a];
          if (item.EntryNo > 0) {
            TVEZBTreePageHolder p = page_->GetIndexPage(session_id, item.PageNo);
            p->UpdateKey(item.EntryNo, key.data());
            break;
          }
        }
    }
  } else {
    // The right neighbour's lower bound falls to cover the moved entries.
    if (e > 0)
      key.assign(page_->GetPKey(e), page_->GetPKey(e) + key_size);
    else if (bound_key)
      key.assign(bound_key, bound_key + key_size);
    if (!key.empty())
      for (std::int32_t i = level; i >= 0; --i) {
        const TVEZKeyPathItem& item = key_path.Items[i];
        if (item.EntryNo < item.EntryCount - 1) {
          if (i == level) {
            page_->UpdateKey(item.EntryNo + 1, key.data());
          } else {
            TVEZBTreePageHolder p = page_->GetIndexPage(session_id, item.PageNo);
            p->UpdateKey(item.EntryNo + 1, key.data());
          }
          break;
        }
      }
  }
  DeleteEntryAt(e);
  page_->MarkDirty();
  bool merged = false;
  if (IsPageUnderflow()) merged = MergeWithNeighbour(session_id, key_path);
  if (!merged && page_->IsRoot()) CollapseRoot(session_id);
}

void TVEZBTreeNodeController::CollapseRoot(std::int32_t session_id) {
  // A root node with a single child takes the child's contents back; repeat
  // while the new root is again a node of one entry.
  while (!page_->IsLeaf() && page_->EntryCount() == 1) {
    const std::int32_t child_no = page_->ChildPageNo(0);
    {
      TVEZBTreePageHolder child = page_->ChildPage(session_id, 0);
      page_->CopyFrom(*child, 0, child->EntryCount());
    }
    page_->SetIsRoot(true);
    page_->SetLeftPageNo(-1);
    page_->SetRightPageNo(-1);
    page_->MarkDirty();
    page_->RemoveIndexPage(session_id, child_no);
  }
}

}  // namespace vez

#include "dbengine/storage/VEZBTreePageIndex.h"

#include <algorithm>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZKeyPathMoves.h"
#include "platform/core/CheckedMath.h"

namespace vez {

namespace {

struct Entry {
  std::uint8_t key[4];
  std::uint8_t ref[2];
  Entry(std::int32_t page_no, std::int32_t value) {
    PutLE<std::int32_t>(key, page_no);
    PutLE<std::uint16_t>(ref, platform::CheckedCast<std::uint16_t>(value));
  }
};

// The entry entry_no of a leaf, checked against the page as stored.
void CheckLeafEntry(const TVEZBTreePage& page, std::int32_t entry_no) {
  if (!page.IsLeaf() || entry_no < 0 || entry_no >= page.EntryCount())
    page.RaiseCorrupt("no such leaf entry");
}

// A leaf met on a walk along the leaf level.
void CheckLevelLeaf(const TVEZBTreePage& page) {
  if (!page.IsLeaf() || (page.EntryCount() == 0 && !page.IsRoot()))
    page.RaiseCorrupt("leaf level broken");
}

}  // namespace

std::int32_t TVEZBTreePageIndex::StoredPageNo(const TVEZBTreePage& leaf, std::int32_t entry_no) {
  CheckLeafEntry(leaf, entry_no);
  // The listed page is the caller's to read, and its read checks it.
  return GetLE<std::int32_t>(leaf.GetPKey(entry_no));
}

std::int32_t TVEZBTreePageIndex::StoredValue(const TVEZBTreePage& leaf, std::int32_t entry_no) {
  CheckLeafEntry(leaf, entry_no);
  return GetLE<std::uint16_t>(leaf.GetPReference(entry_no));
}

TVEZBTreePageHolder TVEZBTreePageIndex::Page(std::int32_t session_id, std::int32_t page_no) {
  return TVEZBTreePage::GetIndexPage(page_manager_, &key_ref_, session_id, page_no);
}

TVEZBTreePageHolder TVEZBTreePageIndex::Root(std::int32_t session_id) {
  TVEZBTreePageHolder root = Page(session_id, root_page_no_);
  if (!root->IsRoot()) root->RaiseCorrupt("root page not marked as root");
  return root;
}

void TVEZBTreePageIndex::CreateIndex(std::int32_t session_id) {
  TVEZBTreePageHolder root = TVEZBTreePage::AddIndexPage(page_manager_, &key_ref_, session_id);
  root_page_no_ = root->PageNo();
  root->InitAsRoot();
  root->MarkDirty();
}

void TVEZBTreePageIndex::DropIndex(std::int32_t session_id) {
  Root(session_id)->FreeAllPages(session_id, false);
  root_page_no_ = -1;
}

void TVEZBTreePageIndex::EmptyIndex(std::int32_t session_id) {
  TVEZBTreePageHolder root = Root(session_id);
  root->FreeAllPages(session_id, true);
  root->InitAsRoot();
  root->MarkDirty();
}

void TVEZBTreePageIndex::CheckIntegrity(std::int32_t session_id) {
  TVEZKeyPath path;
  Root(session_id)->CheckIntegrity(session_id, path);
}

bool TVEZBTreePageIndex::GetFirstPosition(std::int32_t session_id, TVEZKeyPath& path) {
  if (root_page_no_ == -1) throw EVEZException(20115, "Index error: invalid page number");
  path.Clear();
  return Root(session_id)->GetFirstPosition(session_id, path);
}

bool TVEZBTreePageIndex::GetLastPosition(std::int32_t session_id, TVEZKeyPath& path) {
  if (root_page_no_ == -1) throw EVEZException(20116, "Index error: invalid page number");
  path.Clear();
  return Root(session_id)->GetLastPosition(session_id, path);
}

void TVEZBTreePageIndex::CheckNeighbour(const TVEZBTreePage& page, const TVEZBTreePage& neighbour,
                                        bool right) {
  CheckLevelNeighbour(page, neighbour, right);
}

namespace {
constexpr TVEZKeyPathMoveErrors kPageIndexMoveErrors{20099, 20101, 20100, 20102};
}  // namespace

bool TVEZBTreePageIndex::GotoNextPosition(std::int32_t session_id, TVEZKeyPath& path) {
  return StepKeyPath(page_manager_, &key_ref_, session_id, path, true, kPageIndexMoveErrors);
}

bool TVEZBTreePageIndex::GotoPriorPosition(std::int32_t session_id, TVEZKeyPath& path) {
  return StepKeyPath(page_manager_, &key_ref_, session_id, path, false, kPageIndexMoveErrors);
}

bool TVEZBTreePageIndex::FindPage(std::int32_t session_id, std::int32_t page_no,
                                  TVEZKeyPath& path) {
  if (root_page_no_ == -1) throw EVEZException(20117, "Index error: invalid page number");
  path.Clear();
  std::uint8_t key[4];
  PutLE<std::int32_t>(key, page_no);
  return Root(session_id)->FindByCondition(session_id, true, key, scEqual, path);
}

std::int32_t TVEZBTreePageIndex::GetValueAt(std::int32_t session_id, const TVEZKeyPath& path) {
  if (path.Count == 0) throw EVEZException(20107, "Index error: invalid position");
  const TVEZKeyPathItem& item = path.Items[path.Count - 1];
  return StoredValue(*Page(session_id, item.PageNo), item.EntryNo);
}

void TVEZBTreePageIndex::SetValueAt(std::int32_t session_id, const TVEZKeyPath& path,
                                    std::int32_t value) {
  if (path.Count == 0) throw EVEZException(20108, "Index error: invalid position");
  const TVEZKeyPathItem& item = path.Items[path.Count - 1];
  TVEZBTreePageHolder page = Page(session_id, item.PageNo);
  CheckLeafEntry(*page, item.EntryNo);
  PutLE<std::uint16_t>(page->GetPReference(item.EntryNo),
                       platform::CheckedCast<std::uint16_t>(value));
  page->MarkDirty();
}

std::int32_t TVEZBTreePageIndex::GetPageNoAt(std::int32_t session_id, const TVEZKeyPath& path) {
  if (path.Count == 0) throw EVEZException(20103, "Index error: invalid position");
  const TVEZKeyPathItem& item = path.Items[path.Count - 1];
  return StoredPageNo(*Page(session_id, item.PageNo), item.EntryNo);
}

bool TVEZBTreePageIndex::FindPageWithRoom(std::int32_t session_id, std::int32_t amount,
                                          std::int32_t& page_no) {
  if (root_page_no_ == -1) return false;
  TVEZKeyPath path;
  // Only the two ends of the page order are tried: the newest pages and the
  // oldest ones, never a walk over the whole table.
  if (GetLastPosition(session_id, path)) {
    TVEZBTreePageHolder leaf = Page(session_id, path.Last().PageNo);
    const std::int32_t n = leaf->EntryCount();
    const std::int32_t tries = std::max(n - 1, 1);
    for (std::int32_t j = n - 1; j >= n - tries && j >= 0; --j)
      if (HasRoom(StoredValue(*leaf, j), amount)) {
        page_no = StoredPageNo(*leaf, j);
        return true;
      }
  }
  if (GetFirstPosition(session_id, path)) {
    TVEZBTreePageHolder leaf = Page(session_id, path.Last().PageNo);
    const std::int32_t m = leaf->EntryCount();
    const std::int32_t tries = std::max(m - 1, 1);
    for (std::int32_t j = 0; j < tries && j < m; ++j)
      if (HasRoom(StoredValue(*leaf, j), amount)) {
        page_no = StoredPageNo(*leaf, j);
        return true;
      }
  }
  return false;
}

void TVEZBTreePageIndex::AddToPageValue(std::int32_t session_id, std::int32_t amount,
                                        std::int32_t page_no) {
  if (root_page_no_ == -1) throw EVEZException(20118, "Index error: invalid page number");
  TVEZKeyPath path;
  if (!FindPage(session_id, page_no, path)) {
    const Entry e(page_no, amount);
    path.Clear();
    Root(session_id)->InsertLeafEntry(session_id, e.key, e.ref, path);
    return;
  }
  const std::int32_t v = GetValueAt(session_id, path);
  if (!HasRoom(v, amount)) throw EVEZException(20106, "Cannot add data item to page. Page is full");
  SetValueAt(session_id, path, platform::CheckedAdd(v, amount));
}

void TVEZBTreePageIndex::SubtractFromPageValue(std::int32_t session_id, std::int32_t amount,
                                               std::int32_t new_value, std::int32_t page_no) {
  if (root_page_no_ == -1) throw EVEZException(20110, "Invalid page number");
  TVEZKeyPath path;
  if (!FindPage(session_id, page_no, path)) throw EVEZException(20111, "Invalid page number");
  const std::int32_t v = GetValueAt(session_id, path);
  std::int32_t value = new_value;
  if (new_value < 0) {
    // Subtracting more than was added would wrap the stored count.
    if (v == 0 || amount > v) throw EVEZException(20112, "Index error: page is empty");
    value = v - amount;
  }
  if (value != 0) {
    SetValueAt(session_id, path, value);
    return;
  }
  const Entry e(page_no, v);
  path.Clear();
  Root(session_id)->DeleteLeafEntry(session_id, e.key, e.ref, path);
}

// ---------------------------------------------------------------------------
// TVEZBTreeRecordPageIndex

bool TVEZBTreeRecordPageIndex::FindPageForNewRecord(std::int32_t session_id,
                                                    std::int32_t& page_no) {
  return FindPageWithRoom(session_id, 1, page_no);
}

void TVEZBTreeRecordPageIndex::AddRecord(std::int32_t session_id, std::int32_t page_no,
                                         std::int32_t add_count) {
  AddToPageValue(session_id, add_count, page_no);
}

void TVEZBTreeRecordPageIndex::DeleteRecord(std::int32_t session_id, std::int32_t page_no,
                                            std::int32_t new_item_count) {
  SubtractFromPageValue(session_id, 1, new_item_count, page_no);
}

bool TVEZBTreeRecordPageIndex::GetFirstRecordPage(std::int32_t session_id, std::int32_t& page_no) {
  TVEZKeyPath path;
  if (!GetFirstPosition(session_id, path)) return false;
  page_no = GetPageNoAt(session_id, path);
  return true;
}

bool TVEZBTreeRecordPageIndex::GetLastRecordPage(std::int32_t session_id, std::int32_t& page_no) {
  TVEZKeyPath path;
  if (!GetLastPosition(session_id, path)) return false;
  page_no = GetPageNoAt(session_id, path);
  return true;
}

bool TVEZBTreeRecordPageIndex::StepRecordPage(std::int32_t session_id, std::int32_t current_page_no,
                                              bool forward, std::int32_t& page_no) {
  TVEZKeyPath path;
  if (!FindPage(session_id, current_page_no, path))
    throw EVEZException(forward ? 20104 : 20105, "Invalid page number");
  if (!(forward ? GotoNextPosition(session_id, path) : GotoPriorPosition(session_id, path)))
    return false;
  page_no = GetPageNoAt(session_id, path);
  return true;
}

bool TVEZBTreeRecordPageIndex::GetNextRecordPage(std::int32_t session_id,
                                                 std::int32_t current_page_no,
                                                 std::int32_t& next_page_no) {
  return StepRecordPage(session_id, current_page_no, true, next_page_no);
}

bool TVEZBTreeRecordPageIndex::GetPriorRecordPage(std::int32_t session_id,
                                                  std::int32_t current_page_no,
                                                  std::int32_t& prior_page_no) {
  return StepRecordPage(session_id, current_page_no, false, prior_page_no);
}

void TVEZBTreeRecordPageIndex::GetRecordByRecNo(std::int32_t session_id, std::int64_t rec_no,
                                                std::int32_t& page_no,
                                                std::int32_t& rec_no_on_page) {
  TVEZKeyPath path;
  if (rec_no >= 0 && GetFirstPosition(session_id, path)) {
    // Walk the leaf level, a page's counts at a time.
    std::int64_t sum = 0;
    std::int32_t leaf_no = path.Last().PageNo;
    TVEZBTreeWalk walk;
    while (leaf_no != -1) {
      TVEZBTreePageHolder leaf = Page(session_id, leaf_no);
      walk.Visit(*leaf);
      CheckLevelLeaf(*leaf);
      for (std::int32_t j = 0; j < leaf->EntryCount(); ++j) {
        const std::int32_t count = StoredValue(*leaf, j);
        if (rec_no < sum + count) {
          page_no = StoredPageNo(*leaf, j);
          rec_no_on_page = static_cast<std::int32_t>(rec_no - sum);
          return;
        }
        sum += count;
      }
      leaf_no = leaf->RightPageNo();
    }
  }
  throw EVEZException(20113, "Cannot set RecNo greater than RecordCount");
}

void TVEZBTreeRecordPageIndex::GetRecNoByRecord(std::int32_t session_id, std::int32_t page_no,
                                                std::int32_t rec_no_on_page, std::int64_t& rec_no) {
  TVEZKeyPath path;
  if (!FindPage(session_id, page_no, path)) throw EVEZException(20114, "Invalid page number");
  // Counts before the page: the rest of its leaf, then whole leaves leftwards.
  const TVEZKeyPathItem item = path.Last();
  std::int64_t sum = 0;
  TVEZBTreePageHolder leaf = Page(session_id, item.PageNo);
  TVEZBTreeWalk walk;
  walk.Visit(*leaf);
  for (std::int32_t j = 0; j < item.EntryNo; ++j)
    sum += StoredValue(*leaf, j);
  std::int32_t left = leaf->LeftPageNo();
  leaf.reset();
  while (left != -1) {
    TVEZBTreePageHolder p = Page(session_id, left);
    walk.Visit(*p);
    CheckLevelLeaf(*p);
    for (std::int32_t j = 0; j < p->EntryCount(); ++j)
      sum += StoredValue(*p, j);
    left = p->LeftPageNo();
  }
  rec_no = sum + rec_no_on_page;
}

void TVEZBTreeRecordPageIndex::Validate(std::int32_t session_id, std::int64_t stored_record_count) {
  std::int64_t sum = 0;
  TVEZKeyPath path;
  if (GetFirstPosition(session_id, path)) {
    std::int32_t leaf_no = path.Last().PageNo;
    TVEZBTreeWalk walk;
    while (leaf_no != -1) {
      TVEZBTreePageHolder leaf = Page(session_id, leaf_no);
      walk.Visit(*leaf);
      CheckLevelLeaf(*leaf);
      for (std::int32_t j = 0; j < leaf->EntryCount(); ++j)
        sum += StoredValue(*leaf, j);
      leaf_no = leaf->RightPageNo();
    }
  }
  if (sum != stored_record_count)
    throw EVEZException(20292,
                        "Invalid table RecordPageIndex or MostUpdated. "
                        "RecordPageIndex.RecordCount=%d, MostUpdated.RecordCount=%d",
                        {sum, stored_record_count});
}

// ---------------------------------------------------------------------------
// TVEZBTreeBlobPageIndex

bool TVEZBTreeBlobPageIndex::HasRoom(std::int32_t value, std::int32_t amount) {
  return static_cast<std::int64_t>(value) + amount < PageManager()->PageDataSize() - 2;
}

bool TVEZBTreeBlobPageIndex::FindPageForNewBlob(std::int32_t session_id, std::int32_t blob_size,
                                                std::int32_t& page_no) {
  return FindPageWithRoom(session_id, blob_size, page_no);
}

void TVEZBTreeBlobPageIndex::AddBlob(std::int32_t session_id, std::int32_t blob_size,
                                     std::int32_t page_no) {
  AddToPageValue(session_id, blob_size, page_no);
}

void TVEZBTreeBlobPageIndex::DeleteBlob(std::int32_t session_id, std::int32_t blob_size,
                                        std::int32_t page_no) {
  SubtractFromPageValue(session_id, blob_size, -1, page_no);
}

std::int32_t TVEZBTreeBlobPageIndex::GetBlobPageAllocatedSpace(std::int32_t session_id,
                                                               std::int32_t page_no) {
  TVEZKeyPath path;
  if (!FindPage(session_id, page_no, path)) return -1;
  return GetValueAt(session_id, path);
}

}  // namespace vez

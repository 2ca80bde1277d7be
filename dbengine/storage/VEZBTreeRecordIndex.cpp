#include "dbengine/storage/VEZBTreeRecordIndex.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/storage/VEZBaseRecordManager.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZKeyPathMoves.h"
#include "dbengine/storage/VEZRecordBitmap.h"
#include "dbengine/storage/VEZScanSearchCondition.h"
#include "dbengine/storage/VEZSessionLayerServices.h"

namespace vez {

namespace {

constexpr std::int32_t kRefSize = TVEZPageItemID::kSize;
constexpr TVEZKeyPathMoveErrors kRecordIndexMoveErrors{20069, 20069, 20070, 20071};

// Compares over count leading parts (and, with a key record, partial string
// lengths) for a scope; whole keys again afterwards, also on failure.
class TCompareScope {
 public:
  TCompareScope(TVEZRecordKeyRef& key_ref, std::int32_t count,
                const std::uint8_t* partial_record = nullptr, bool partial = false)
      : FKeyRef(key_ref), FPartial(partial && partial_record != nullptr) {
    FKeyRef.SetCompareFieldCount(count);
    if (FPartial) FKeyRef.SetPartialCompare(partial_record, true);
  }
  ~TCompareScope() {
    if (FPartial) FKeyRef.SetPartialCompare(nullptr, false);
    FKeyRef.SetCompareFieldCount(FKeyRef.PartCount());
  }
  TCompareScope(const TCompareScope&) = delete;
  TCompareScope& operator=(const TCompareScope&) = delete;

 private:
  TVEZRecordKeyRef& FKeyRef;
  bool FPartial;
};

// A memory-manager record buffer freed with the scope.
struct TRecordBlock {
  explicit TRecordBlock(std::int32_t size)
      : p(static_cast<std::uint8_t*>(MemoryManager().AllocMem(std::max(size, 1)))) {
    std::memset(p, 0, static_cast<std::size_t>(std::max(size, 1)));
  }
  ~TRecordBlock() { MemoryManager().FreeMem(p); }
  TRecordBlock(const TRecordBlock&) = delete;
  TRecordBlock& operator=(const TRecordBlock&) = delete;
  std::uint8_t* p;
};

}  // namespace

TVEZBTreeRecordIndex::TVEZBTreeRecordIndex(TVEZBaseIndexManager* index_manager)
    : TVEZIndex(index_manager) {}

TVEZPageManager* TVEZBTreeRecordIndex::Pages() const {
  return FIndexManager->GetPageManager(*this);
}

TVEZBTreePageHolder TVEZBTreeRecordIndex::Page(std::int32_t session_id, std::int32_t page_no) {
  return TVEZBTreePage::GetIndexPage(Pages(), &FKeyRef, session_id, page_no);
}

TVEZBTreePageHolder TVEZBTreeRecordIndex::Root(std::int32_t session_id,
                                               std::int32_t no_tree_error) {
  if (FIndexDef == nullptr || FIndexDef->RootPageNo == -1)
    throw EVEZException(no_tree_error, "Invalid page number");
  return Page(session_id, FIndexDef->RootPageNo);
}

std::int32_t TVEZBTreeRecordIndex::CurrentTableState() const {
  const TVEZBaseRecordManager* records = FIndexManager->RecordManager();
  return records != nullptr ? records->TableState : 0;
}

void TVEZBTreeRecordIndex::LayoutKey() {
  FKeyRef.Assign(*FIndexDef, FIndexManager->KeyRecordSource());
  FKeyRef.SetReferenceSize(kRefSize);
}

std::vector<std::uint8_t> TVEZBTreeRecordIndex::ShortKey(const std::uint8_t* record) {
  std::vector<std::uint8_t> key(static_cast<std::size_t>(std::max(FKeyRef.ShortKeySize(), 1)));
  FKeyRef.MakeShortKeyFromRecordBuffer(record, key.data());
  return key;
}

bool TVEZBTreeRecordIndex::GotoNextPosition(std::int32_t session_id, TVEZKeyPath& path) {
  return StepKeyPath(Pages(), &FKeyRef, session_id, path, true, kRecordIndexMoveErrors);
}

bool TVEZBTreeRecordIndex::GotoPriorPosition(std::int32_t session_id, TVEZKeyPath& path) {
  return StepKeyPath(Pages(), &FKeyRef, session_id, path, false, kRecordIndexMoveErrors);
}

void TVEZBTreeRecordIndex::GetReferenceAtPosition(std::int32_t session_id, const TVEZKeyPath& path,
                                                  std::uint8_t* reference) {
  if (path.Count == 0) throw EVEZException(20068, "Index error: invalid position");
  const TVEZKeyPathItem& item = path.Items[path.Count - 1];
  TVEZBTreePageHolder page = Page(session_id, item.PageNo);
  if (item.EntryNo < 0 || item.EntryNo >= page->EntryCount())
    throw EVEZException(20068, "Index error: invalid position");
  std::memcpy(reference, page->GetPReference(item.EntryNo), kRefSize);
}

TVEZPageItemID TVEZBTreeRecordIndex::RecordIDAt(std::int32_t session_id, const TVEZKeyPath& path) {
  std::uint8_t reference[kRefSize];
  GetReferenceAtPosition(session_id, path, reference);
  return TVEZPageItemID::Decode(reference);
}

// ---------------------------------------------------------------------------
// Life of the tree

void TVEZBTreeRecordIndex::InsertEntry(std::int32_t session_id, const std::uint8_t* record,
                                       TVEZPageItemID record_id) {
  ForgetScanResume();
  const std::vector<std::uint8_t> key = ShortKey(record);
  std::uint8_t reference[kRefSize];
  record_id.Encode(reference);
  TVEZKeyPath path;
  Root(session_id, 20127)->InsertLeafEntry(session_id, key.data(), reference, path);
}

void TVEZBTreeRecordIndex::CreateIndex(TVEZCursor* cursor, TVEZIndexDef& index_def) {
  ForgetScanResume();
  TVEZIndex::CreateIndex(cursor, index_def);
  LayoutKey();
  const std::int32_t session_id = cursor != nullptr ? cursor->SessionID() : -2;
  {
    TVEZBTreePageHolder root = TVEZBTreePage::AddIndexPage(Pages(), &FKeyRef, session_id);
    root->InitAsRoot();
    root->MarkDirty();
    index_def.RootPageNo = root->PageNo();
    FIndexDef->RootPageNo = root->PageNo();
  }
  if (cursor == nullptr) return;
  if (TVEZSessionLayerServices* services = SessionLayerServices()) {
    std::unique_ptr<TVEZCursor> local = services->CreateLocalCursor();
    local->Session = cursor->Session;
    local->TableName = cursor->TableName;
    services->OpenLocalCursor(*local, *FIndexManager->TableData());
    local->CurrentRecordBuffer = local->AllocateRecordBuffer();
    try {
      while (local->GetRecordBuffer(grmNext) == grrOK)
        InsertRecord(*local);
    } catch (...) {
      local->FreeRecordBuffer(local->CurrentRecordBuffer);
      throw;
    }
    local->FreeRecordBuffer(local->CurrentRecordBuffer);
    return;
  }
  // No session layer linked in (the engine's own tests and tools): the same
  // records, in the same order, straight from the record manager.
  TVEZBaseRecordManager* records = FIndexManager->RecordManager();
  if (records == nullptr) return;
  TRecordBlock record(records->RecordBufferSize);
  TVEZNavigationInfo info;
  info.GetRecordMode = grmNext;
  info.FirstPosition = true;
  info.RecordBuffer = record.p;
  for (;;) {
    records->GetRecordBuffer(session_id, info);
    if (info.GetRecordResult != grrOK) break;
    InsertEntry(session_id, record.p, info.RecordID);
  }
}

void TVEZBTreeRecordIndex::OpenIndex(const TVEZIndexDef& index_def) {
  ForgetScanResume();
  TVEZIndex::OpenIndex(index_def);
  LayoutKey();
}

void TVEZBTreeRecordIndex::DropIndex(std::int32_t session_id) {
  ForgetScanResume();
  Root(session_id, 20119)->FreeAllPages(session_id, false);
  FIndexDef->RootPageNo = -1;
}

void TVEZBTreeRecordIndex::EmptyIndex(std::int32_t session_id) {
  ForgetScanResume();
  TVEZBTreePageHolder root = Root(session_id, 20120);
  root->FreeAllPages(session_id, true);
  root->InitAsRoot();
  root->MarkDirty();
}

void TVEZBTreeRecordIndex::RebuildTemporaryIndex(TVEZCursor* cursor) {
  DropIndex(cursor != nullptr ? cursor->SessionID() : -2);
  TVEZIndexDef own;
  own.Assign(*FIndexDef);
  CreateIndex(cursor, own);
}

// ---------------------------------------------------------------------------
// Navigation

std::unique_ptr<TVEZKeyPath> TVEZBTreeRecordIndex::CreateIndexPosition() {
  return std::make_unique<TVEZKeyPath>();
}

bool TVEZBTreeRecordIndex::GetIndexPosition(std::int32_t session_id, TVEZPageItemID record_id,
                                            const std::uint8_t* record, TVEZKeyPath& position) {
  TVEZBTreePageHolder root = Root(session_id, 20124);
  position.Clear();
  const std::vector<std::uint8_t> key = ShortKey(record);
  std::uint8_t reference[kRefSize];
  record_id.Encode(reference);
  return root->FindEntry(session_id, key.data(), reference, position);
}

std::int32_t TVEZBTreeRecordIndex::CompareRecordPositionsInIndex(const TVEZKeyPath& position1,
                                                                 const TVEZKeyPath& position2) {
  return position1.Compare(position2);
}

void TVEZBTreeRecordIndex::ReadEntry(std::int32_t session_id, TVEZNavigationInfo& info,
                                     const TVEZKeyPath& path, TVEZIndexPositionCache* cache,
                                     std::int32_t table_state) {
  info.RecordID = RecordIDAt(session_id, path);
  info.FirstPosition = false;
  info.LastPosition = false;
  const TVEZGetRecordMode mode = info.GetRecordMode;
  info.GetRecordMode = grmCurrent;
  info.GetRecordResult = grrOK;
  try {
    FIndexManager->RecordManager()->GetRecordBuffer(session_id, info);
  } catch (...) {
    info.GetRecordMode = mode;
    throw;
  }
  info.GetRecordMode = mode;
  if (cache != nullptr) {
    cache->IndexID = FIndexDef->ObjectID;
    cache->TableState = table_state;
    cache->RecordID = info.RecordID;
    cache->Position->Assign(path);
  }
}

void TVEZBTreeRecordIndex::GetRecordBuffer(std::int32_t session_id, TVEZNavigationInfo& info,
                                           TVEZIndexPositionCache* cache,
                                           std::int32_t table_state) {
  if (info.GetRecordMode == grmCurrent)
    throw EVEZException(20053, "Invalid 'get record' mode for index: grmCurrent");
  if (FIndexDef == nullptr || FIndexDef->RootPageNo == -1)
    throw EVEZException(20123, "Invalid page number");
  TVEZKeyPath path;
  bool positioned = false;
  bool stepped = true;
  if (info.FirstPosition) {
    positioned = Root(session_id, 20123)->GetFirstPosition(session_id, path);
  } else if (info.LastPosition) {
    positioned = Root(session_id, 20123)->GetLastPosition(session_id, path);
  } else {
    // A position kept from the last move under the same table state needs no
    // walk from the root: the step reads only the pages it moves onto.
    if (cache != nullptr && cache->IndexID == FIndexDef->ObjectID &&
        cache->RecordID == info.RecordID && cache->TableState == table_state) {
      path.Assign(*cache->Position);
      positioned = true;
    } else {
      positioned = GetIndexPosition(session_id, info.RecordID, info.RecordBuffer, path);
    }
    if (positioned) {
      stepped = info.GetRecordMode == grmNext ? GotoNextPosition(session_id, path)
                                              : GotoPriorPosition(session_id, path);
    }
  }
  if (!positioned) {
    info.GetRecordResult = grrError;
    return;
  }
  if (!stepped) {
    const bool forward = info.GetRecordMode == grmNext;
    info.GetRecordResult = forward ? grrEOF : grrBOF;
    info.FirstPosition = !forward;
    info.LastPosition = forward;
    return;
  }
  ReadEntry(session_id, info, path, cache, table_state);
}

void TVEZBTreeRecordIndex::GetClosestRecordBuffer(std::int32_t session_id, TVEZNavigationInfo& info,
                                                  TVEZIndexPositionCache* cache,
                                                  std::int32_t table_state) {
  TVEZBTreePageHolder root = Root(session_id, 20293);
  const std::vector<std::uint8_t> key = ShortKey(info.RecordBuffer);
  const bool forward = info.GetRecordMode == grmNext;
  TVEZKeyPath path;
  const bool found =
      root->FindByCondition(session_id, forward, key.data(), forward ? scGreater : scLower, path);
  root.reset();
  if (!found) {
    info.GetRecordResult = forward ? grrEOF : grrBOF;
    info.FirstPosition = !forward;
    info.LastPosition = forward;
    return;
  }
  ReadEntry(session_id, info, path, cache, table_state);
}

// ---------------------------------------------------------------------------
// Record numbers

std::int64_t TVEZBTreeRecordIndex::GetRecNoByRecordID(std::int32_t session_id,
                                                      TVEZPageItemID record_id,
                                                      const std::uint8_t* record) {
  TVEZKeyPath path;
  if (!GetIndexPosition(session_id, record_id, record, path)) return -1;
  const TVEZKeyPathItem& leaf = path.Items[path.Count - 1];
  std::int64_t rec_no = leaf.EntryNo + 1;
  std::int32_t left = Page(session_id, leaf.PageNo)->LeftPageNo();
  while (left != -1) {
    TVEZBTreePageHolder page = Page(session_id, left);
    rec_no += page->EntryCount();
    left = page->LeftPageNo();
  }
  return rec_no;
}

TVEZPageItemID TVEZBTreeRecordIndex::GetRecordIDByRecNo(std::int32_t session_id,
                                                        std::int64_t rec_no) {
  TVEZKeyPath path;
  if (!Root(session_id, 20121)->GetFirstPosition(session_id, path))
    throw EVEZException(20074, "Cannot retrieve record from empty index");
  if (rec_no < 1) throw EVEZException(20075, "Cannot set RecNo greater than RecordCount");
  std::int64_t before = 0;
  std::int32_t page_no = path.Items[path.Count - 1].PageNo;
  while (page_no != -1) {
    TVEZBTreePageHolder page = Page(session_id, page_no);
    if (rec_no <= before + page->EntryCount()) {
      const auto entry = static_cast<std::int32_t>(rec_no - before - 1);
      return TVEZPageItemID::Decode(page->GetPReference(entry));
    }
    before += page->EntryCount();
    page_no = page->RightPageNo();
  }
  throw EVEZException(20075, "Cannot set RecNo greater than RecordCount");
}

void TVEZBTreeRecordIndex::GetRecordIDByIndexPosition(std::int32_t session_id,
                                                      const TVEZKeyPath& position,
                                                      TVEZPageItemID& record_id) {
  if (position.Count == 0) throw EVEZException(20068, "Index error: invalid position");
  TVEZBTreePageHolder page = Root(session_id, 20124);
  for (std::int32_t level = 0; level < position.Count; ++level) {
    const std::int32_t entry = position.Items[level].EntryNo;
    if (entry < 0 || entry >= page->EntryCount())
      throw EVEZException(20068, "Index error: invalid position");
    if (level == position.Count - 1) {
      if (!page->IsLeaf()) throw EVEZException(20068, "Index error: invalid position");
      record_id = TVEZPageItemID::Decode(page->GetPReference(entry));
      return;
    }
    if (page->IsLeaf()) throw EVEZException(20068, "Index error: invalid position");
    const std::int32_t child = page->ChildPageNo(entry);
    page.reset();
    page = Page(session_id, child);
  }
}

std::int32_t TVEZBTreeRecordIndex::GetEntrySize() {
  return FKeyRef.ShortKeySize() + FKeyRef.ReferenceSize();
}

std::int32_t TVEZBTreeRecordIndex::GetMaxEntriesPerPage() {
  return Pages()->PageDataSize() / (FKeyRef.ShortKeySize() + 4);
}

// ---------------------------------------------------------------------------
// Distinct

void TVEZBTreeRecordIndex::ApplyDistinctToRecordBitmap(std::int32_t session_id,
                                                       TVEZRecordBitmap& bitmap,
                                                       std::int32_t distinct_field_count) {
  TCompareScope scope(FKeyRef, distinct_field_count);
  TVEZKeyPath path;
  if (!Root(session_id, 20121)->GetFirstPosition(session_id, path)) return;
  const auto key_size = static_cast<std::size_t>(std::max(FKeyRef.ShortKeySize(), 1));
  std::vector<std::uint8_t> kept_key(key_size), entry_key(key_size);
  std::uint8_t kept_ref[kRefSize] = {}, entry_ref[kRefSize] = {};
  bool have_kept = false;
  do {
    {
      const TVEZKeyPathItem& leaf = path.Items[path.Count - 1];
      TVEZBTreePageHolder page = Page(session_id, leaf.PageNo);
      std::memcpy(entry_key.data(), page->GetPKey(leaf.EntryNo),
                  static_cast<std::size_t>(FKeyRef.ShortKeySize()));
      std::memcpy(entry_ref, page->GetPReference(leaf.EntryNo), kRefSize);
    }
    if (!bitmap.IsRecordVisible(FIndexDef->ObjectID, path)) continue;
    if (have_kept && FKeyRef.CompareShortKeys(entry_key.data(), kept_key.data(), true, session_id,
                                              entry_ref, kept_ref) == 0) {
      bitmap.HideRecord(FIndexDef->ObjectID, path);
      continue;
    }
    kept_key = entry_key;
    std::memcpy(kept_ref, entry_ref, kRefSize);
    have_kept = true;
  } while (GotoNextPosition(session_id, path));
}

// ---------------------------------------------------------------------------
// Range scans

std::unique_ptr<TVEZIndexSearchInfo> TVEZBTreeRecordIndex::CreateSearchInfo() {
  return std::make_unique<TVEZBTreeSearchInfo>();
}

bool TVEZBTreeRecordIndex::PositionAtScanStart(std::int32_t session_id, bool restart,
                                               bool go_forward,
                                               const TVEZScanSearchCondition* condition,
                                               const std::uint8_t* record, TVEZPageItemID record_id,
                                               TVEZBTreeSearchInfo& info) {
  info.Position.Clear();
  if (condition == nullptr) {
    if (!restart) return GetIndexPosition(session_id, record_id, record, info.Position);
    TVEZBTreePageHolder root = Root(session_id, go_forward ? 20121 : 20122);
    return go_forward ? root->GetFirstPosition(session_id, info.Position)
                      : root->GetLastPosition(session_id, info.Position);
  }
  bool found = false;
  {
    TCompareScope scope(FKeyRef, condition->KeyFieldCount, condition->KeyRecordBuffer,
                        condition->PartialCompare);
    const std::vector<std::uint8_t> key = ShortKey(condition->KeyRecordBuffer);
    found = Root(session_id, 20121)
                ->FindByCondition(session_id, go_forward, key.data(), condition->Condition,
                                  info.Position);
  }
  if (!found || restart) return found;
  TVEZKeyPath current;
  if (!GetIndexPosition(session_id, record_id, record, current)) return false;
  const std::int32_t order = current.Compare(info.Position);
  if (go_forward ? order < 0 : order > 0) {
    // The current record lies before the first match: step back once so the
    // scan's step lands on that match.
    return go_forward ? GotoPriorPosition(session_id, info.Position)
                      : GotoNextPosition(session_id, info.Position);
  }
  info.Position.Assign(current);
  return true;
}

bool TVEZBTreeRecordIndex::PositionAtScanEnd(std::int32_t session_id, bool go_forward,
                                             const TVEZScanSearchCondition* start_condition,
                                             const TVEZScanSearchCondition* end_condition,
                                             TVEZBTreeSearchInfo& info) {
  info.EndPosition.reset();
  if (start_condition == nullptr) return true;
  const TVEZScanSearchCondition& bound =
      end_condition != nullptr ? *end_condition : *start_condition;
  TCompareScope scope(FKeyRef, bound.KeyFieldCount, bound.KeyRecordBuffer,
                      start_condition->PartialCompare);
  const std::vector<std::uint8_t> key = ShortKey(bound.KeyRecordBuffer);
  info.EndPosition = std::make_unique<TVEZKeyPath>();
  return Root(session_id, 20122)
      ->FindByCondition(session_id, !go_forward, key.data(), bound.Condition, *info.EndPosition);
}

void TVEZBTreeRecordIndex::RememberEntry(std::int32_t session_id, TVEZBTreeSearchInfo& info) {
  const TVEZKeyPathItem& leaf = info.Position.Items[info.Position.Count - 1];
  {
    TVEZBTreePageHolder page = Page(session_id, leaf.PageNo);
    info.Key.assign(page->GetPKey(leaf.EntryNo),
                    page->GetPKey(leaf.EntryNo) + FKeyRef.ShortKeySize());
    std::memcpy(info.Reference, page->GetPReference(leaf.EntryNo), kRefSize);
  }
  info.TableState = CurrentTableState();
  info.Record.clear();
  if (!FKeyRef.HasTruncatedParts()) return;
  TVEZKeyRecordSource& table = *FIndexManager->KeyRecordSource();
  info.Record.resize(static_cast<std::size_t>(std::max(table.GetMemoryRecordBufferSize(), 1)));
  if (table.ReadRecord(session_id, TVEZPageItemID::Decode(info.Reference), info.Record.data()) !=
      grrOK)
    info.Record.clear();
}

bool TVEZBTreeRecordIndex::Reseek(std::int32_t session_id, bool go_forward,
                                  TVEZBTreeSearchInfo& info) {
  // Cut key parts are decided on the record as it was when it was returned
  // (the key ref reads the search key's full values from it).
  if (FKeyRef.HasTruncatedParts()) {
    if (info.Record.empty()) return false;
    FKeyRef.MakeShortKeyFromRecordBuffer(info.Record.data(), info.Key.data());
  }
  // The entries stand in (key, reference) order: find the first one after
  // the entry last returned (or the last one before it, going backward).
  TVEZKeyPath path;
  {
    TVEZBTreePageHolder root = Root(session_id, 20121);
    if (!root->FindByCondition(session_id, go_forward, info.Key.data(),
                               go_forward ? scGreaterEqual : scLowerEqual, path))
      return false;
  }
  std::vector<std::uint8_t> key(info.Key.size());
  std::uint8_t reference[kRefSize];
  for (;;) {
    {
      const TVEZKeyPathItem& leaf = path.Items[path.Count - 1];
      TVEZBTreePageHolder page = Page(session_id, leaf.PageNo);
      std::memcpy(key.data(), page->GetPKey(leaf.EntryNo), key.size());
      std::memcpy(reference, page->GetPReference(leaf.EntryNo), kRefSize);
    }
    const bool same_key = FKeyRef.CompareShortKeys(info.Key.data(), key.data(), true, session_id,
                                                   nullptr, reference) == 0;
    const std::int32_t by_ref =
        TVEZBTreeKeyRef::CompareReferences(reference, info.Reference, kRefSize);
    if (!same_key || (go_forward ? by_ref > 0 : by_ref < 0)) break;
    if (!(go_forward ? GotoNextPosition(session_id, path) : GotoPriorPosition(session_id, path)))
      return false;
  }
  info.Position.Assign(path);
  return true;
}

bool TVEZBTreeRecordIndex::ScanBounds(const TVEZScanSearchCondition* start_condition,
                                      const TVEZScanSearchCondition* end_condition,
                                      std::vector<std::uint8_t>& bounds) {
  bounds.clear();
  if (FKeyRef.HasTruncatedParts()) return false;
  for (const TVEZScanSearchCondition* condition : {start_condition, end_condition}) {
    if (condition == nullptr) {
      bounds.push_back(0);
      continue;
    }
    if (condition->PartialCompare || condition->KeyRecordBuffer == nullptr) return false;
    bounds.push_back(1);
    bounds.push_back(static_cast<std::uint8_t>(condition->Condition));
    std::uint8_t count[4];
    std::memcpy(count, &condition->KeyFieldCount, sizeof count);
    bounds.insert(bounds.end(), count, count + sizeof count);
    const std::size_t at = bounds.size();
    bounds.resize(at + static_cast<std::size_t>(std::max(FKeyRef.ShortKeySize(), 1)));
    FKeyRef.MakeShortKeyFromRecordBuffer(condition->KeyRecordBuffer, bounds.data() + at);
  }
  return true;
}

bool TVEZBTreeRecordIndex::SamePath(const TVEZKeyPath& a, const TVEZKeyPath& b) {
  if (a.Count != b.Count) return false;
  for (std::int32_t i = 0; i < a.Count; ++i) {
    if (a.Items[i].PageNo != b.Items[i].PageNo || a.Items[i].EntryNo != b.Items[i].EntryNo ||
        a.Items[i].EntryCount != b.Items[i].EntryCount)
      return false;
  }
  return true;
}

bool TVEZBTreeRecordIndex::EntryHolds(std::int32_t session_id, const TVEZKeyPath& path,
                                      const std::uint8_t* reference) {
  if (path.Count == 0) return false;
  const TVEZKeyPathItem& leaf = path.Items[path.Count - 1];
  TVEZBTreePageHolder page = Page(session_id, leaf.PageNo);
  return page->IsLeaf() && leaf.EntryNo >= 0 && leaf.EntryNo < page->EntryCount() &&
         leaf.EntryCount == page->EntryCount() &&
         std::memcmp(page->GetPReference(leaf.EntryNo), reference, kRefSize) == 0;
}

bool TVEZBTreeRecordIndex::ResumeScan(std::int32_t session_id, bool go_forward,
                                      const TVEZScanSearchCondition* start_condition,
                                      const TVEZScanSearchCondition* end_condition,
                                      TVEZPageItemID record_id, TVEZBTreeSearchInfo& info) {
  TScanResume& resume = FScanResume;
  if (!resume.Valid || resume.SessionID != session_id || resume.GoForward != go_forward ||
      FIndexDef == nullptr || resume.RootPageNo != FIndexDef->RootPageNo ||
      resume.TableState != CurrentTableState() ||
      !(TVEZPageItemID::Decode(resume.Reference) == record_id) ||
      resume.HasEnd != (start_condition != nullptr))
    return false;
  std::vector<std::uint8_t>& bounds = FScanBoundsScratch;
  if (!ScanBounds(start_condition, end_condition, bounds) || bounds != resume.Bounds) return false;
  // The state stamp may repeat after a rollback: the entries themselves must
  // still stand where they stood.
  if (!EntryHolds(session_id, resume.Position, resume.Reference)) return false;
  if (resume.HasEnd && !EntryHolds(session_id, resume.EndPosition, resume.EndReference))
    return false;
  info.Position.Assign(resume.Position);
  // The place is current: no reseek before the step.
  info.TableState = resume.TableState;
  if (resume.HasEnd) {
    if (info.EndPosition == nullptr) info.EndPosition = std::make_unique<TVEZKeyPath>();
    info.EndPosition->Assign(resume.EndPosition);
  } else {
    info.EndPosition.reset();
  }
  return true;
}

void TVEZBTreeRecordIndex::KeepScanResume(std::int32_t session_id, bool go_forward,
                                          const TVEZScanSearchCondition* start_condition,
                                          const TVEZScanSearchCondition* end_condition,
                                          const TVEZBTreeSearchInfo& info) {
  TScanResume& resume = FScanResume;
  // A resumed scan keeps its end: the entry there was read when it was kept.
  const bool same_end = resume.Valid && resume.HasEnd && info.EndPosition != nullptr &&
                        FIndexDef != nullptr && resume.RootPageNo == FIndexDef->RootPageNo &&
                        resume.SessionID == session_id && resume.TableState == info.TableState &&
                        SamePath(resume.EndPosition, *info.EndPosition);
  resume.Valid = false;
  if (FIndexDef == nullptr || (start_condition != nullptr) != (info.EndPosition != nullptr)) return;
  if (!ScanBounds(start_condition, end_condition, resume.Bounds)) return;
  if (info.EndPosition != nullptr && !same_end) {
    const TVEZKeyPath& end = *info.EndPosition;
    if (end.Count == 0) return;
    const TVEZKeyPathItem& leaf = end.Items[end.Count - 1];
    TVEZBTreePageHolder page = Page(session_id, leaf.PageNo);
    if (!page->IsLeaf() || leaf.EntryNo < 0 || leaf.EntryNo >= page->EntryCount()) return;
    std::memcpy(resume.EndReference, page->GetPReference(leaf.EntryNo), kRefSize);
    resume.EndPosition.Assign(end);
  }
  resume.HasEnd = info.EndPosition != nullptr;
  resume.SessionID = session_id;
  resume.TableState = info.TableState;
  resume.RootPageNo = FIndexDef->RootPageNo;
  resume.GoForward = go_forward;
  std::memcpy(resume.Reference, info.Reference, kRefSize);
  resume.Position.Assign(info.Position);
  resume.Valid = true;
}

bool TVEZBTreeRecordIndex::FindRecord(std::int32_t session_id, bool restart, bool go_forward,
                                      const TVEZScanSearchCondition* start_condition,
                                      const TVEZScanSearchCondition* end_condition,
                                      std::uint8_t* record, TVEZPageItemID& record_id,
                                      TVEZIndexSearchInfo* search_info) {
  auto* info = dynamic_cast<TVEZBTreeSearchInfo*>(search_info);
  if (info == nullptr) throw EVEZException(20077, "Pointer is nil");
  if (restart && info->Started) throw EVEZException(20078, "Index error: invalid params");
  bool stepped_already = false;
  const bool resumed =
      !restart && !info->Started &&
      ResumeScan(session_id, go_forward, start_condition, end_condition, record_id, *info);
  if (!resumed && (restart || !info->Started)) {
    if (!PositionAtScanStart(session_id, restart, go_forward, start_condition, record, record_id,
                             *info))
      return false;
    if (!PositionAtScanEnd(session_id, go_forward, start_condition, end_condition, *info))
      return false;
  } else if (info->TableState != CurrentTableState()) {
    // The pages may have split or merged since the last step: the paths
    // name old places. Find the place again by content, and the end too.
    if (!Reseek(session_id, go_forward, *info)) return false;
    if (!PositionAtScanEnd(session_id, go_forward, start_condition, end_condition, *info))
      return false;
    stepped_already = true;
  }
  if (!restart && !stepped_already) {
    if (!(go_forward ? GotoNextPosition(session_id, info->Position)
                     : GotoPriorPosition(session_id, info->Position)))
      return false;
  }
  if (info->EndPosition != nullptr) {
    const std::int32_t order = info->Position.Compare(*info->EndPosition);
    if (go_forward ? order > 0 : order < 0) return false;
  }
  RememberEntry(session_id, *info);
  record_id = TVEZPageItemID::Decode(info->Reference);
  info->Started = true;
  KeepScanResume(session_id, go_forward, start_condition, end_condition, *info);
  return true;
}

std::int32_t TVEZBTreeRecordIndex::CompareRecordBuffersByIndex(const std::uint8_t* record1,
                                                               const std::uint8_t* record2,
                                                               std::int32_t index_field_count) {
  const auto size = static_cast<std::size_t>(std::max(FKeyRef.FullKeySize(), 1));
  std::vector<std::uint8_t> key1(size), key2(size);
  FKeyRef.MakeFullKeyFromRecordBuffer(record1, key1.data());
  FKeyRef.MakeFullKeyFromRecordBuffer(record2, key2.data());
  TCompareScope scope(FKeyRef, index_field_count);
  return FKeyRef.CompareFullKeys(key1.data(), key2.data());
}

std::int32_t TVEZBTreeRecordIndex::CompareConditions(const TVEZScanSearchCondition& condition1,
                                                     const TVEZScanSearchCondition& condition2) {
  const auto lower = [](TVEZSearchCondition c) { return c == scGreater || c == scGreaterEqual; };
  const auto upper = [](TVEZSearchCondition c) { return c == scLower || c == scLowerEqual; };
  if (lower(condition1.Condition) && upper(condition2.Condition)) return -1;
  if (upper(condition1.Condition) && lower(condition2.Condition)) return 1;
  return 0;
}

std::int64_t TVEZBTreeRecordIndex::GetApproxRangeRecordCount(
    std::int32_t session_id, std::int64_t table_record_count,
    const TVEZScanSearchCondition* condition1, const TVEZScanSearchCondition* condition2) {
  TVEZBTreePageHolder root = Root(session_id, 20125);
  if (condition1 == nullptr || condition2 == nullptr) return 0;
  const bool first_is_low = CompareConditions(*condition1, *condition2) < 0;
  const TVEZScanSearchCondition& low = first_is_low ? *condition1 : *condition2;
  const TVEZScanSearchCondition& high = first_is_low ? *condition2 : *condition1;
  TCompareScope scope(FKeyRef, low.KeyFieldCount);
  TVEZKeyPath path;
  std::vector<std::uint8_t> key = ShortKey(low.KeyRecordBuffer);
  if (!root->FindByCondition(session_id, true, key.data(), low.Condition, path)) return 0;
  const double f1 = path.GetApproxRecNoInPercents();
  key = ShortKey(high.KeyRecordBuffer);
  path.Clear();
  if (!root->FindByCondition(session_id, false, key.data(), high.Condition, path)) return 0;
  const double f2 = path.GetApproxRecNoInPercents();
  const double estimate = std::nearbyint((f2 - f1) * static_cast<double>(table_record_count));
  if (!(estimate > 0)) return 0;
  if (estimate >= static_cast<double>(table_record_count)) return table_record_count;
  return static_cast<std::int64_t>(estimate);
}

// ---------------------------------------------------------------------------
// Keeping in step with the records

bool TVEZBTreeRecordIndex::CanInsertRecord(std::int32_t session_id, const std::uint8_t* record) {
  TVEZBTreePageHolder root = Root(session_id, 20126);
  if (!FIndexDef->Primary && !FIndexDef->Unique) return true;
  const std::vector<std::uint8_t> key = ShortKey(record);
  TVEZKeyPath path;
  return !root->FindByCondition(session_id, true, key.data(), scEqual, path);
}

bool TVEZBTreeRecordIndex::CanUpdateRecord(std::int32_t session_id, const std::uint8_t* old_record,
                                           const std::uint8_t* new_record) {
  if (CompareRecordBuffersByIndex(old_record, new_record, FKeyRef.PartCount()) == 0) return true;
  return CanInsertRecord(session_id, new_record);
}

void TVEZBTreeRecordIndex::InsertRecord(TVEZCursor& cursor) {
  InsertEntry(cursor.SessionID(), cursor.CurrentRecordBuffer, cursor.CurrentRecordID);
}

void TVEZBTreeRecordIndex::DeleteRecord(TVEZCursor& cursor) {
  ForgetScanResume();
  const std::int32_t session_id = cursor.SessionID();
  const std::vector<std::uint8_t> key = ShortKey(cursor.CurrentRecordBuffer);
  std::uint8_t reference[kRefSize];
  cursor.CurrentRecordID.Encode(reference);
  TVEZKeyPath path;
  if (!Root(session_id, 20127)->DeleteLeafEntry(session_id, key.data(), reference, path))
    throw EVEZException(20027, "Index error: cannot delete entry. Entry not found");
}

void TVEZBTreeRecordIndex::UpdateRecord(TVEZCursor& cursor, bool before_new_record_is_stored) {
  ForgetScanResume();
  if (CompareRecordBuffersByIndex(cursor.EditRecordBuffer, cursor.CurrentRecordBuffer,
                                  FKeyRef.PartCount()) == 0)
    return;
  const std::int32_t session_id = cursor.SessionID();
  if (!before_new_record_is_stored) {
    InsertEntry(session_id, cursor.CurrentRecordBuffer, cursor.CurrentRecordID);
    return;
  }
  const std::vector<std::uint8_t> key = ShortKey(cursor.EditRecordBuffer);
  std::uint8_t reference[kRefSize];
  cursor.CurrentRecordID.Encode(reference);
  TVEZKeyPath path;
  if (!Root(session_id, 20127)->DeleteLeafEntry(session_id, key.data(), reference, path))
    throw EVEZException(20250, "Index error: cannot delete entry. Entry not found");
}

}  // namespace vez

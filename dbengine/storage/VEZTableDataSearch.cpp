// The search engine of TVEZTableData: moves of restricted views, Locate,
// FindKey, record numbers and counts, the record bitmaps behind them, and
// where a record change leaves the cursor and its bitmap. It talks to the
// indexes through TVEZIndex only.
//
// One search: the cursor's restrictions (and the search's own expression or
// key condition) become a scan-condition array; expression items offer index
// conditions for their parts; conditions on one index are merged; one
// condition (or a pair forming a range) is chosen to drive an index scan, or
// none for a walk of the table; the chosen conditions leave their
// expressions for the scan and go back afterwards, also on failure. Every
// candidate is tested against every item that was not chosen.
//
// A record bitmap is complete (Active) only after a pass that saw every
// record of the view; an Unusable() bitmap (a record beyond its bits) is
// never marked complete, and counts and record numbers then walk the view.
//
// Thread safety: the table data's lock is held throughout (taken here, or by
// the cursor around GetRecordBuffer).
#include <algorithm>
#include <cstring>
#include <limits>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/storage/VEZBaseExpression.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZDatabaseData.h"
#include "dbengine/storage/VEZIndexManager.h"
#include "dbengine/storage/VEZKeyPath.h"
#include "dbengine/storage/VEZPageManager.h"
#include "dbengine/storage/VEZRecordBitmap.h"
#include "dbengine/storage/VEZScanConditionOptimizer.h"
#include "dbengine/storage/VEZScanSearchCondition.h"
#include "dbengine/storage/VEZScratchRecordBuffer.h"
#include "dbengine/storage/VEZTableData.h"
#include "platform/core/Invariant.h"

namespace vez {

namespace {

// A record buffer of the table from the engine memory manager, freed at scope end.
class TRecordScratch {
 public:
  explicit TRecordScratch(std::int32_t size)
      : FBuffer(static_cast<std::uint8_t*>(MemoryManager().AllocMem(std::max(size, 1)))) {}
  ~TRecordScratch() {
    try {
      MemoryManager().FreeMem(FBuffer);
    } catch (...) {
      // A damaged block is reported by the allocator; a release cannot pass it on.
    }
  }
  TRecordScratch(const TRecordScratch&) = delete;
  TRecordScratch& operator=(const TRecordScratch&) = delete;
  std::uint8_t* Get() const { return FBuffer; }

 private:
  std::uint8_t* FBuffer;
};

// The cursor's position, put back when the scope ends unless Keep() was called.
class TPositionKeeper {
 public:
  explicit TPositionKeeper(TVEZCursor& cursor)
      : FCursor(cursor), FPosition(cursor.SavePosition()) {}
  ~TPositionKeeper() {
    if (FRestore) FCursor.RestorePosition(FPosition);
    try {
      FCursor.FreePosition(FPosition);
    } catch (...) {
      // As for scratch buffers: a release cannot pass an error on.
    }
  }
  TPositionKeeper(const TPositionKeeper&) = delete;
  TPositionKeeper& operator=(const TPositionKeeper&) = delete;
  void Keep() { FRestore = false; }

 private:
  TVEZCursor& FCursor;
  void* FPosition;
  bool FRestore = true;
};

// The chosen conditions out of their expressions for a scope.
class TExtractedConditions {
 public:
  TExtractedConditions(TVEZScanSearchConditionArray& array, std::int32_t no, std::int32_t end_no)
      : FArray(array), FNo(no), FEndNo(end_no) {
    FArray.ExtractChosenConditionsFromExpressions(FNo, FEndNo);
  }
  ~TExtractedConditions() {
    try {
      FArray.ReturnExtractedConditionsToExpressions(FNo, FEndNo);
    } catch (...) {
      // Putting nodes back only appends pointers; the first error is the one reported.
    }
  }
  TExtractedConditions(const TExtractedConditions&) = delete;
  TExtractedConditions& operator=(const TExtractedConditions&) = delete;

 private:
  TVEZScanSearchConditionArray& FArray;
  std::int32_t FNo;
  std::int32_t FEndNo;
};

bool Satisfies(TVEZSearchCondition condition, std::int32_t c) {
  switch (condition) {
    case scEqual:
      return c == 0;
    case scLower:
      return c < 0;
    case scGreater:
      return c > 0;
    case scLowerEqual:
      return c <= 0;
    case scGreaterEqual:
      return c >= 0;
    default:
      return false;
  }
}

}  // namespace

struct TVEZTableData::TScanState {
  TScanState(TVEZCursor& cursor, TVEZScanSearchConditionArray& array)
      : Cursor(cursor), Array(array) {}

  TVEZCursor& Cursor;
  TVEZScanSearchConditionArray& Array;
  std::int32_t SessionID = -2;
  // The cursor's order: an index id, or -1 for storage order.
  std::int32_t IndexID = -1;
  std::int32_t ScanConditionNo = -1;
  std::int32_t ScanEndConditionNo = -1;
  TVEZPageItemID CurRecordID;
  bool Restart = false;
  bool GoForward = true;
  TVEZRecordBitmap* Bitmap = nullptr;
  bool FillBitmap = false;
  // The scratch record every expression of the array is bound to.
  std::uint8_t* Record = nullptr;
  TVEZPageItemID FoundRecordID;
};

// ---------------------------------------------------------------------------
// Moves

TVEZGetRecordResult TVEZTableData::GetRecordBuffer(TVEZCursor& cursor, TVEZGetRecordMode mode) {
  RVX_INVARIANT(IsLockHeld(), "the cursor holds the database lock around a record read");
  if (FRecordManager == nullptr) throw EVEZException(10015, "Nil pointer occured");
  if (FRecordManager->RecordCount == 0) return grrEOF;
  const bool distinct_step = cursor.DistinctFieldCount > 0 && mode != grmCurrent &&
                             !cursor.FirstPosition && !cursor.LastPosition;
  if (!distinct_step) {
    cursor.DistinctRecordBuffer = nullptr;
    return InternalGetRecordBuffer(cursor, mode, false);
  }
  // The record the cursor leaves: the move skips every record of its group.
  cursor.DistinctRecordBuffer = cursor.AllocateRecordBuffer();
  try {
    TVEZGetRecordResult result = grrError;
    if (ReadRecord(SessionIDOf(&cursor), cursor.CurrentRecordID, cursor.DistinctRecordBuffer) ==
        grrOK)
      result = InternalGetRecordBuffer(cursor, mode, false);
    cursor.FreeRecordBuffer(cursor.DistinctRecordBuffer);
    cursor.DistinctRecordBuffer = nullptr;
    return result;
  } catch (...) {
    cursor.FreeRecordBuffer(cursor.DistinctRecordBuffer);
    cursor.DistinctRecordBuffer = nullptr;
    throw;
  }
}

TVEZGetRecordResult TVEZTableData::InternalGetRecordBuffer(TVEZCursor& cursor,
                                                           TVEZGetRecordMode mode,
                                                           bool fill_bitmap) {
  const bool restricted = cursor.IsViewRestricted();
  const std::int32_t session_id = SessionIDOf(&cursor);
  if (restricted && mode != grmCurrent) {
    const bool forward = mode == grmNext;
    // At BOF nothing lies before, at EOF nothing after: no wrap to the other end.
    if (!forward && cursor.FirstPosition) return grrBOF;
    if (forward && cursor.LastPosition) return grrEOF;
    const bool restart = cursor.FirstPosition || cursor.LastPosition;
    // A distinct view shows the first record of each group; a search that
    // skips groups would find the last one going back. The filled bitmap
    // answers both directions alike.
    if (cursor.DistinctFieldCount > 0 && !fill_bitmap) RefreshRecordBitmap(cursor);
    // Each step in index order searches the index afresh; a walk that goes
    // on past a few rows fills the bitmap once and steps through it, while a
    // read of the first rows only (TOP) never pays for the whole view.
    if (restart) {
      cursor.IndexStepsWithoutBitmap = 0;
    } else if (!fill_bitmap && cursor.IndexID != -1 &&
               ++cursor.IndexStepsWithoutBitmap == kIndexStepsBeforeBitmap) {
      RefreshRecordBitmap(cursor);
    }
    const TVEZRecordBitmap* const bitmap = cursor.RecordBitmap;
    const bool from_bitmap = bitmap != nullptr && bitmap->Active && !bitmap->Unusable() &&
                             !bitmap->Outdated() && bitmap->IndexID == cursor.IndexID;
    TVEZPageItemID found;
    bool ok = false;
    // A bitmap of the table's present state shows only records still there.
    if (!restart && !fill_bitmap && !from_bitmap && cursor.CurrentRecordBuffer != nullptr &&
        !IsRecordPresent(session_id, cursor.CurrentRecordID)) {
      ok = StepFromGoneRecord(cursor, forward, found);
    } else {
      ok = FindRecord(cursor, nullptr, nullptr, restart, forward, &found, cursor.RecordBitmap,
                      fill_bitmap);
    }
    if (!ok) return forward ? grrEOF : grrBOF;
    // Without a complete bitmap a move back reaches the last record of a
    // group; the view shows its first.
    if (!forward && !from_bitmap && !fill_bitmap && cursor.DistinctFieldCount > 0 &&
        cursor.IndexID != -1)
      FirstOfDistinctGroup(cursor, found);
    const TVEZGetRecordResult result = ReadRecord(session_id, found, cursor.CurrentRecordBuffer);
    cursor.CurrentRecordID = found;
    cursor.FirstPosition = false;
    cursor.LastPosition = false;
    return result;
  }
  TVEZNavigationInfo info;
  info.GetRecordMode = mode;
  info.IndexID = cursor.IndexID;
  info.RecordID = cursor.CurrentRecordID;
  info.RecordBuffer = cursor.CurrentRecordBuffer;
  info.FirstPosition = cursor.FirstPosition;
  info.LastPosition = cursor.LastPosition;
  info.GetRecordResult = grrOK;
  ReadRecord(session_id, info, FRecordManager->TableState, cursor.IndexPositionCache());
  // A re-read record that the view no longer shows leaves the cursor as it was.
  if (info.GetRecordResult == grrOK && restricted && !IsRecordAccepted(cursor)) return grrError;
  cursor.CurrentRecordID = info.RecordID;
  cursor.FirstPosition = info.FirstPosition;
  cursor.LastPosition = info.LastPosition;
  return info.GetRecordResult;
}

void TVEZTableData::FirstOfDistinctGroup(TVEZCursor& cursor, TVEZPageItemID& record_id) {
  const std::int32_t session_id = SessionIDOf(&cursor);
  TRecordScratch group(std::max(cursor.RecordBufferSize, GetRecordBufferSize()));
  if (ReadRecord(session_id, record_id, group.Get()) != grrOK) return;
  const TVEZPageItemID saved_id = cursor.CurrentRecordID;
  const bool saved_first = cursor.FirstPosition;
  const bool saved_last = cursor.LastPosition;
  std::uint8_t* const saved_distinct = cursor.DistinctRecordBuffer;
  auto restore = [&] {
    cursor.CurrentRecordID = saved_id;
    cursor.FirstPosition = saved_first;
    cursor.LastPosition = saved_last;
    cursor.DistinctRecordBuffer = saved_distinct;
  };
  try {
    // The last record of the groups before, then the next record after it.
    cursor.CurrentRecordID = record_id;
    cursor.FirstPosition = false;
    cursor.LastPosition = false;
    cursor.DistinctRecordBuffer = group.Get();
    TVEZPageItemID before;
    const bool has_before =
        FindRecord(cursor, nullptr, nullptr, false, false, &before, nullptr, false);
    cursor.DistinctRecordBuffer = nullptr;
    if (has_before) cursor.CurrentRecordID = before;
    TVEZPageItemID first;
    if (FindRecord(cursor, nullptr, nullptr, !has_before, true, &first, nullptr, false))
      record_id = first;
  } catch (...) {
    restore();
    throw;
  }
  restore();
}

bool TVEZTableData::IsRecordPresent(std::int32_t session_id, TVEZPageItemID record_id) {
  TRecordScratch scratch(std::max(FRecordManager->RecordBufferSize, GetRecordBufferSize()));
  return ReadRecord(session_id, record_id, scratch.Get()) == grrOK;
}

bool TVEZTableData::StepFromGoneRecord(TVEZCursor& cursor, bool go_forward,
                                       TVEZPageItemID& record_id) {
  // The record went away under the cursor: the move goes on from its slot,
  // or in an index from its key, still held in the cursor's buffer.
  const std::int32_t size = GetRecordBufferSize();
  TRecordScratch scratch(size);
  std::memcpy(scratch.Get(), cursor.CurrentRecordBuffer, static_cast<std::size_t>(size));
  TVEZNavigationInfo info;
  info.IndexID = cursor.IndexID;
  info.RecordID = cursor.CurrentRecordID;
  info.RecordBuffer = scratch.Get();
  info.GetRecordMode = go_forward ? grmNext : grmPrior;
  TVEZIndexPositionCache cache;
  for (;;) {
    ReadRecord(SessionIDOf(&cursor), info, FRecordManager->TableState, &cache);
    if (info.GetRecordResult != grrOK) return false;
    if (IsBufferAccepted(cursor, scratch.Get(), info.RecordID)) {
      record_id = info.RecordID;
      return true;
    }
  }
}

// ---------------------------------------------------------------------------
// The search

bool TVEZTableData::FindRecord(TVEZCursor& cursor, TVEZBaseExpression* search_expression,
                               const TVEZScanSearchCondition* search_condition, bool restart,
                               bool go_forward, TVEZPageItemID* record_id, TVEZRecordBitmap* bitmap,
                               bool fill_bitmap) {
  TVEZLockGuard guard(*this);
  if (FRecordManager == nullptr) throw EVEZException(10015, "Nil pointer occured");
  if (FIndexManager == nullptr) throw EVEZException(10380, "Nil pointer occured");
  if (FRecordManager->RecordCount == 0) return false;
  TVEZPageItemID local_id;
  if (record_id == nullptr) record_id = &local_id;
  const std::int32_t session_id = SessionIDOf(&cursor);
  // A bitmap that could not hold a record stays out of the way until it is
  // filled again.
  if (bitmap != nullptr && bitmap->Unusable() && !fill_bitmap) bitmap = nullptr;
  // A bitmap kept for another order (the cursor changed its index) is of no use.
  if (bitmap != nullptr && (fill_bitmap || bitmap->Outdated() || bitmap->IndexID != cursor.IndexID))
    ResetRecordBitmap(*bitmap, cursor.IndexID);
  if (bitmap != nullptr && bitmap->Active)
    return FindRecordInBitmap(cursor, *bitmap, restart, go_forward, *record_id);

  TVEZScanSearchConditionArray array;
  PrepareScanConditions(cursor, array, search_condition, search_expression, go_forward);
  array.CreateIndexScanConditionsFromExpressions(FIndexManager->IndexDefs(), session_id);
  bool is_empty = false;
  OptimizeScanConditions(array, is_empty);
  // No record can match: a bitmap being filled stays inactive and empty.
  if (is_empty) return false;

  TScanState state(cursor, array);
  state.SessionID = session_id;
  state.IndexID = cursor.IndexID;
  state.CurRecordID = cursor.CurrentRecordID;
  state.Restart = restart;
  state.GoForward = go_forward;
  state.Bitmap = bitmap;
  state.FillBitmap = fill_bitmap;
  ChooseScanConditions(state);
  array.RemoveUnusedConditionsCreatedFromExpressions(state.ScanConditionNo,
                                                     state.ScanEndConditionNo);
  bool found = false;
  {
    TExtractedConditions extracted(array, state.ScanConditionNo, state.ScanEndConditionNo);
    found = ScanByConditions(state);
  }
  if (found) *record_id = state.FoundRecordID;
  if (bitmap != nullptr) {
    if (fill_bitmap && !bitmap->Unusable()) bitmap->Active = true;
    if (restart && bitmap->Active && cursor.DistinctFieldCount > 0 && cursor.IndexID != -1) {
      FIndexManager->OpenIndex(cursor.IndexID)
          ->ApplyDistinctToRecordBitmap(session_id, *bitmap, cursor.DistinctFieldCount);
    }
  }
  return found;
}

void TVEZTableData::PrepareScanConditions(TVEZCursor& cursor, TVEZScanSearchConditionArray& array,
                                          const TVEZScanSearchCondition* search_condition,
                                          TVEZBaseExpression* search_expression, bool go_forward) {
  if (search_condition != nullptr) {
    if (search_condition->IndexID == -1)
      throw EVEZException(20258,
                          "No active index is set for Key search. Set Table.IndexName to the "
                          "index on search fields.");
    array.AddCondition(*search_condition);
  }
  for (TVEZBaseExpression* expression :
       {search_expression, cursor.FilterExpression, cursor.SQLFilterExpression}) {
    if (expression != nullptr) array.AddExpression(expression);
  }
  auto add_bound = [&](TVEZSearchCondition condition, std::uint8_t* key, std::int32_t key_size,
                       std::int32_t field_count) {
    TVEZScanSearchCondition bound(true);
    bound.Condition = condition;
    bound.KeyRecordBuffer = key;
    bound.KeyRecordBufferSize = key_size;
    bound.KeyFieldCount = field_count;
    bound.IndexID = cursor.IndexID;
    array.AddCondition(bound);
  };
  if (cursor.IsRangeApplied()) {
    if (cursor.RangeStartBuffer != nullptr)
      add_bound(cursor.RangeStartExclusive ? scGreater : scGreaterEqual, cursor.RangeStartBuffer,
                cursor.KeyBufferSize, cursor.RangeStartKeyFieldCount);
    if (cursor.RangeEndBuffer != nullptr)
      add_bound(cursor.RangeEndExclusive ? scLower : scLowerEqual, cursor.RangeEndBuffer,
                cursor.KeyBufferSize, cursor.RangeEndKeyFieldCount);
  }
  if (cursor.DistinctFieldCount > 0 && cursor.DistinctRecordBuffer != nullptr &&
      cursor.IndexID != -1 && !cursor.FirstPosition && !cursor.LastPosition) {
    add_bound(go_forward ? scGreater : scLower, cursor.DistinctRecordBuffer,
              cursor.RecordBufferSize, cursor.DistinctFieldCount);
  }
}

std::int32_t TVEZTableData::CompareKeys(std::int32_t index_id, const std::uint8_t* key1,
                                        const std::uint8_t* key2, std::int32_t field_count) {
  return FIndexManager->OpenIndex(index_id)->CompareRecordBuffersByIndex(key1, key2, field_count);
}

void TVEZTableData::OptimizeScanConditions(TVEZScanSearchConditionArray& array, bool& is_empty) {
  vez::OptimizeScanConditions(
      array,
      [this](std::int32_t index_id, const std::uint8_t* a, const std::uint8_t* b, std::int32_t n) {
        return CompareKeys(index_id, a, b, n);
      },
      is_empty);
}

// ---------------------------------------------------------------------------
// Choosing the scan

void TVEZTableData::ChooseScanConditions(TScanState& state) {
  state.ScanConditionNo = -1;
  state.ScanEndConditionNo = -1;
  if (!FindDirectScanCondition(state)) ChooseCheapestScan(state);
  if (state.ScanConditionNo == -1 || state.ScanEndConditionNo == -1) return;
  TVEZIndex* index = FIndexManager->OpenIndex(state.Array.Items(state.ScanConditionNo)->IndexID);
  if (index == nullptr) throw EVEZException(20273, "Pointer is nil");
  const std::int32_t order = index->CompareConditions(*state.Array.Items(state.ScanConditionNo),
                                                      *state.Array.Items(state.ScanEndConditionNo));
  // The lower bound drives a forward scan, the upper one a backward scan.
  if (order != 0 && (order < 0) != state.GoForward)
    std::swap(state.ScanConditionNo, state.ScanEndConditionNo);
}

bool TVEZTableData::IsUniqueIndex(std::int32_t index_id) {
  const auto* def =
      static_cast<const TVEZIndexDef*>(FIndexManager->IndexDefs().GetDefByObjectId(index_id));
  if (def == nullptr) return false;
  if (def->Unique || def->Primary) return true;
  if (def->ColumnCount() == 0 || FFieldManager == nullptr) return false;
  const TVEZFieldDef* field =
      FFieldManager->FieldDefs().GetFieldDefByName(def->GetIndexColumn(0)->FieldName);
  return field != nullptr && IsAutoincAdvancedFieldType(field->AdvancedFieldType);
}

bool TVEZTableData::FindDirectScanCondition(TScanState& state) {
  TVEZScanSearchConditionArray& array = state.Array;
  std::int32_t index_conditions = 0;
  std::int32_t only = -1;
  for (std::int32_t i = 0; i < array.Count(); ++i) {
    const TVEZScanSearchCondition& item = *array.Items(i);
    if (item.Expression != nullptr) continue;
    ++index_conditions;
    only = i;
    // An equality on a one-column unique index reaches at most one record
    // (a prefix compare is a range and takes the estimate).
    if (item.Condition != scEqual || item.PartialCompare || !IsUniqueIndex(item.IndexID)) continue;
    const auto* def =
        static_cast<const TVEZIndexDef*>(FIndexManager->IndexDefs().GetDefByObjectId(item.IndexID));
    if (def != nullptr && def->ColumnCount() == 1) {
      state.ScanConditionNo = i;
      return true;
    }
  }
  if (index_conditions == 1 && array.Items(only)->IndexID == state.IndexID) {
    state.ScanConditionNo = only;
    return true;
  }
  return false;
}

void TVEZTableData::ChooseCheapestScan(TScanState& state) {
  TVEZScanSearchConditionArray& array = state.Array;
  double best_cost = static_cast<double>(FRecordManager->RecordCount);
  for (std::int32_t i = 0; i < array.Count(); ++i) {
    const TVEZScanSearchCondition& item = *array.Items(i);
    if (item.Expression != nullptr) continue;
    std::int32_t end = i;
    // Two conditions drive one scan only when they bound a range from both
    // sides: any other pair would end the scan at the wrong place.
    if (i + 1 < array.Count()) {
      const TVEZScanSearchCondition& next = *array.Items(i + 1);
      if (next.Expression == nullptr && next.IndexID == item.IndexID && !item.PartialCompare &&
          !next.PartialCompare &&
          FIndexManager->OpenIndex(item.IndexID)->CompareConditions(item, next) != 0)
        end = i + 1;
    }
    const double cost = GetIndexScanCost(state, i, end);
    if (cost < best_cost) {
      state.ScanConditionNo = i;
      state.ScanEndConditionNo = end != i ? end : -1;
      best_cost = cost;
    }
    if (end != i) ++i;
  }
  if (state.ScanConditionNo != -1 && FPageManager != nullptr && FPageManager->PageDataSize() > 0 &&
      GetFullScanCost(state) < best_cost) {
    state.ScanConditionNo = -1;
    state.ScanEndConditionNo = -1;
  }
}

double TVEZTableData::GetIndexScanCost(TScanState& state, std::int32_t start_no,
                                       std::int32_t end_no) {
  TVEZScanSearchConditionArray& array = state.Array;
  const TVEZScanSearchCondition& start = *array.Items(start_no);
  TVEZIndex* index = FIndexManager->OpenIndex(start.IndexID);
  if (index == nullptr) throw EVEZException(20058, "Pointer is nil");
  const double n = static_cast<double>(index->GetApproxRangeRecordCount(
      state.SessionID, FRecordManager->RecordCount, &start, array.Items(end_no)));
  const double page =
      std::max<double>(FPageManager != nullptr ? FPageManager->PageDataSize() : 0, 1.0);
  double entry = index->GetEntrySize();
  if (entry <= 0) entry = page / std::max(index->GetMaxEntriesPerPage(), 1);
  const double record =
      FFieldManager != nullptr
          ? static_cast<double>(FFieldManager->FieldDefs().GetDiskRecordBufferSize())
          : 0.0;
  double cost = n * entry / page;
  bool others = false;
  {
    TExtractedConditions extracted(array, start_no, end_no);
    const std::int32_t saved_no = state.ScanConditionNo;
    const std::int32_t saved_end = state.ScanEndConditionNo;
    state.ScanConditionNo = start_no;
    state.ScanEndConditionNo = end_no;
    others = AreOtherConditionsPresent(state);
    state.ScanConditionNo = saved_no;
    state.ScanEndConditionNo = saved_end;
  }
  const bool other_order = state.IndexID != -1 && state.IndexID != start.IndexID;
  if (others || other_order) cost += record / page * n;
  if (other_order) cost += n * entry / page;
  return cost;
}

double TVEZTableData::GetFullScanCost(TScanState& state) {
  const std::int64_t count = FRecordManager->RecordCount;
  std::int64_t n = count;
  if (!state.Restart) {
    const std::int64_t at = FRecordManager->GetApproximateRecNo(state.SessionID, state.CurRecordID);
    if (at > 0) n = std::max<std::int64_t>(count - at, 0);
  }
  if (state.IndexID != -1) return static_cast<double>(n);
  const double record =
      FFieldManager != nullptr ? FFieldManager->FieldDefs().GetDiskRecordBufferSize() : 0;
  return static_cast<double>(n) * record / FPageManager->PageDataSize();
}

// ---------------------------------------------------------------------------
// Testing candidates

bool TVEZTableData::IsScanConditionMatched(const TVEZScanSearchCondition& condition,
                                           const std::uint8_t* record) {
  if (condition.Condition == scNone) return false;
  // A prefix bound cannot be tested exactly over whole keys; prefix
  // conditions come from expressions, which keep their own test unless the
  // condition drives the scan.
  if (condition.PartialCompare) return true;
  return Satisfies(
      condition.Condition,
      CompareKeys(condition.IndexID, record, condition.KeyRecordBuffer, condition.KeyFieldCount));
}

bool TVEZTableData::AreOtherConditionsPresent(const TScanState& state) const {
  if (state.Cursor.FilterRecord) return true;
  for (std::int32_t i = 0; i < state.Array.Count(); ++i) {
    if (i == state.ScanConditionNo || i == state.ScanEndConditionNo) continue;
    const TVEZScanSearchCondition& item = *state.Array.Items(i);
    if (item.CreatedFromExpression) continue;
    if (item.Expression != nullptr && item.Expression->IsEmpty()) continue;
    return true;
  }
  return false;
}

bool TVEZTableData::CallFilterRecord(TVEZCursor& cursor, const std::uint8_t* record,
                                     TVEZPageItemID record_id) {
  // The dataset sees the record as one of its own buffers: the cursor being
  // searched allocates it and the bookmark holds the record's identity.
  std::uint8_t* buffer = cursor.AllocateRecordBuffer();
  bool result = false;
  try {
    const std::int32_t size = std::min(FRecordManager->RecordBufferSize, cursor.RecordBufferSize);
    std::memcpy(buffer, record, static_cast<std::size_t>(std::max(size, 0)));
    if (cursor.BookmarkOffset >= 0 &&
        cursor.BookmarkOffset <= cursor.RecordBufferSize - TVEZPageItemID::kSize)
      record_id.Encode(buffer + cursor.BookmarkOffset);
    result = cursor.FilterRecord(buffer, cursor.Dataset);
  } catch (...) {
    ClearBlobsCacheInRecordBuffer(buffer);
    cursor.FreeRecordBuffer(buffer);
    throw;
  }
  ClearBlobsCacheInRecordBuffer(buffer);
  cursor.FreeRecordBuffer(buffer);
  return result;
}

bool TVEZTableData::IsRecordMatched(TScanState& state, std::uint8_t* record,
                                    TVEZPageItemID record_id) {
  for (std::int32_t i = 0; i < state.Array.Count(); ++i) {
    if (i == state.ScanConditionNo || i == state.ScanEndConditionNo) continue;
    const TVEZScanSearchCondition& item = *state.Array.Items(i);
    if (item.Expression != nullptr) {
      if (!item.Expression->IsEmpty() && !item.Expression->GetResult()) return false;
    } else if (!IsScanConditionMatched(item, record)) {
      return false;
    }
  }
  if (state.Cursor.FilterRecord) return CallFilterRecord(state.Cursor, record, record_id);
  return true;
}

// ---------------------------------------------------------------------------
// Scans

bool TVEZTableData::ScanByConditions(TScanState& state) {
  TRecordScratch scratch(std::max(FRecordManager->RecordBufferSize, GetRecordBufferSize()));
  state.Record = scratch.Get();
  for (std::int32_t i = 0; i < state.Array.Count(); ++i) {
    TVEZBaseExpression* expression = state.Array.Items(i)->Expression;
    if (expression != nullptr) expression->AssignCursorBuffer(state.Record, false);
  }
  if (state.ScanConditionNo == -1) return ScanTable(state);
  if (state.ScanConditionNo >= state.Array.Count())
    throw EVEZException(10382, "Invalid condition number = %d, count = %d",
                        {state.ScanConditionNo, state.Array.Count()});
  if (state.IndexID == -1) return ScanIndexInRecordOrder(state);
  if (state.Array.Items(state.ScanConditionNo)->IndexID == state.IndexID) return ScanIndex(state);
  return ScanIndexInCursorOrder(state);
}

bool TVEZTableData::ScanTable(TScanState& state) {
  TVEZRecordBitmap* bitmap = state.Bitmap;
  if (bitmap != nullptr && state.FillBitmap && state.Array.Count() == 0 &&
      !state.Cursor.FilterRecord && state.IndexID == -1 && HasExactRecordBits()) {
    // Every record matches: all bits at once, but only when the bits are
    // exactly the records (no bit of a free slot, none missing).
    const std::int64_t bits = GetApproximateRecordCount(state.SessionID);
    if (bits == FRecordManager->RecordCount && bits <= TVEZRecordBitmap::kMaxBitmapBits) {
      bitmap->SetSize(bits);
      bitmap->SetAllBits();
      return false;
    }
  }
  TVEZNavigationInfo info;
  info.RecordID = state.CurRecordID;
  info.FirstPosition = state.GoForward && state.Restart;
  info.LastPosition = state.Restart && !state.GoForward;
  info.GetRecordMode = state.GoForward ? grmNext : grmPrior;
  info.IndexID = state.IndexID;
  info.RecordBuffer = state.Record;
  TVEZIndexPositionCache cache;
  bool matched = false;
  do {
    ReadRecord(state.SessionID, info, FRecordManager->TableState, &cache);
    if (info.GetRecordResult != grrOK) break;
    matched = IsRecordMatched(state, state.Record, info.RecordID);
    // Only a filling pass marks the bitmap: an incomplete bitmap is never
    // read, and marking the rows of single moves would grow it row by row.
    if (matched && bitmap != nullptr && state.FillBitmap) {
      if (!bitmap->IndexBased) {
        bitmap->ShowRecord(info.RecordID);
      } else if (cache.IndexID == state.IndexID && cache.RecordID == info.RecordID) {
        bitmap->ShowRecord(state.IndexID, *cache.Position);
      } else {
        std::unique_ptr<TVEZKeyPath> position =
            FIndexManager->OpenIndex(state.IndexID)->CreateIndexPosition();
        if (GetIndexPositionOfRecord(state.SessionID, state.IndexID, *position, info.RecordID))
          bitmap->ShowRecord(state.IndexID, *position);
      }
    }
    if (state.FillBitmap) matched = false;
  } while (!matched);
  if (info.GetRecordResult != grrOK) return false;
  state.FoundRecordID = info.RecordID;
  return true;
}

bool TVEZTableData::ScanIndex(TScanState& state) {
  TVEZScanSearchConditionArray& array = state.Array;
  const TVEZScanSearchCondition* start = array.Items(state.ScanConditionNo);
  const TVEZScanSearchCondition* end =
      state.ScanEndConditionNo >= 0 ? array.Items(state.ScanEndConditionNo) : nullptr;
  TVEZIndex* index = FIndexManager->OpenIndex(start->IndexID);
  std::unique_ptr<TVEZIndexSearchInfo> search = index->CreateSearchInfo();
  if (!state.Restart && ReadRecord(state.SessionID, state.CurRecordID, state.Record) != grrOK)
    return false;
  const bool others = AreOtherConditionsPresent(state);
  bool restart = state.Restart;
  TVEZPageItemID id = state.CurRecordID;
  for (;;) {
    if (!index->FindRecord(state.SessionID, restart, state.GoForward, start, end, state.Record, id,
                           search.get()))
      return false;
    restart = false;
    bool matched = true;
    if (others)
      matched = ReadRecord(state.SessionID, id, state.Record) == grrOK &&
                IsRecordMatched(state, state.Record, id);
    if (matched && state.Bitmap != nullptr && state.FillBitmap) {
      if (const TVEZKeyPath* position = search->FoundPosition()) {
        state.Bitmap->ShowRecord(start->IndexID, *position);
      } else {
        std::unique_ptr<TVEZKeyPath> found = index->CreateIndexPosition();
        if (GetIndexPositionOfRecord(state.SessionID, start->IndexID, *found, id))
          state.Bitmap->ShowRecord(start->IndexID, *found);
      }
    }
    if (matched && !state.FillBitmap) {
      state.FoundRecordID = id;
      return true;
    }
  }
}

bool TVEZTableData::ScanIndexInRecordOrder(TScanState& state) {
  TVEZScanSearchConditionArray& array = state.Array;
  const TVEZScanSearchCondition* start = array.Items(state.ScanConditionNo);
  const TVEZScanSearchCondition* end =
      state.ScanEndConditionNo >= 0 ? array.Items(state.ScanEndConditionNo) : nullptr;
  TVEZIndex* index = FIndexManager->OpenIndex(start->IndexID);
  const bool one_column = index->IndexDef()->ColumnCount() == 1;
  const bool stop_at_first = start->Condition == scEqual && !start->PartialCompare && one_column;
  // Entries of one key stand in record order, so the scan may go on from the
  // current record's entry, but only when that record has the key: from any
  // other entry it would miss the records of the key that lie behind it. A
  // prefix match spans several keys and always starts over.
  bool restart_index =
      state.Restart || start->Condition != scEqual || start->PartialCompare || !one_column;
  if (!restart_index) {
    restart_index = ReadRecord(state.SessionID, state.CurRecordID, state.Record) != grrOK ||
                    index->CompareRecordBuffersByIndex(state.Record, start->KeyRecordBuffer,
                                                       start->KeyFieldCount) != 0;
  }
  TVEZRecordBitmap* bitmap = state.Bitmap;
  if (bitmap != nullptr && state.Restart) ResetRecordBitmap(*bitmap, -1);
  const bool others = AreOtherConditionsPresent(state);
  std::unique_ptr<TVEZIndexSearchInfo> search = index->CreateSearchInfo();
  TVEZPageItemID id = state.CurRecordID;
  TVEZPageItemID best;
  bool have_best = false;
  bool first_call = true;
  auto before = [&](TVEZPageItemID a, TVEZPageItemID b) {
    const std::int32_t c = FRecordManager->CompareRecordID(a, b);
    return state.GoForward ? c < 0 : c > 0;
  };
  while (index->FindRecord(state.SessionID, first_call && restart_index, state.GoForward, start,
                           end, state.Record, id, search.get())) {
    first_call = false;
    if (others && !(ReadRecord(state.SessionID, id, state.Record) == grrOK &&
                    IsRecordMatched(state, state.Record, id)))
      continue;
    // A pass from the start sees every match: it may complete the bitmap.
    if (bitmap != nullptr && (state.FillBitmap || state.Restart)) bitmap->ShowRecord(id);
    if (state.FillBitmap) continue;
    if (state.Restart) {
      const bool first_match = !have_best;
      if (first_match || before(id, best)) best = id;
      have_best = true;
      if (first_match && stop_at_first) break;
    } else if (before(state.CurRecordID, id)) {
      if (!have_best || before(id, best)) best = id;
      have_best = true;
      if (state.GoForward && stop_at_first) break;
    }
  }
  if (bitmap != nullptr && !state.FillBitmap && state.Restart && !stop_at_first &&
      !bitmap->Unusable())
    bitmap->Active = true;
  if (state.FillBitmap || !have_best) return false;
  state.FoundRecordID = best;
  return true;
}

bool TVEZTableData::ScanIndexInCursorOrder(TScanState& state) {
  TVEZScanSearchConditionArray& array = state.Array;
  const TVEZScanSearchCondition* start = array.Items(state.ScanConditionNo);
  const TVEZScanSearchCondition* end =
      state.ScanEndConditionNo >= 0 ? array.Items(state.ScanEndConditionNo) : nullptr;
  TVEZIndex* scan_index = FIndexManager->OpenIndex(start->IndexID);
  TVEZIndex* order_index = FIndexManager->OpenIndex(state.IndexID);
  std::unique_ptr<TVEZKeyPath> current = order_index->CreateIndexPosition();
  if (!state.Restart) {
    auto fail = [&](std::int32_t code) {
      return EVEZException(code, "Cannot find record position in index %d, RecordID = %d %d",
                           {state.IndexID, state.CurRecordID.PageNo, state.CurRecordID.PageItemNo});
    };
    if (ReadRecord(state.SessionID, state.CurRecordID, state.Record) != grrOK) throw fail(10387);
    if (!order_index->GetIndexPosition(state.SessionID, state.CurRecordID, state.Record, *current))
      throw fail(10386);
    TVEZPageItemID at;
    order_index->GetRecordIDByIndexPosition(state.SessionID, *current, at);
    if (!(at == state.CurRecordID)) throw fail(10414);
  }
  TVEZRecordBitmap* bitmap = state.Bitmap;
  if (bitmap != nullptr && state.Restart) ResetRecordBitmap(*bitmap, state.IndexID);
  std::unique_ptr<TVEZIndexSearchInfo> search = scan_index->CreateSearchInfo();
  std::unique_ptr<TVEZKeyPath> candidate = order_index->CreateIndexPosition();
  std::unique_ptr<TVEZKeyPath> best = order_index->CreateIndexPosition();
  TVEZPageItemID best_id;
  bool have_best = false;
  auto before = [&](const TVEZKeyPath& a, const TVEZKeyPath& b) {
    const std::int32_t c = order_index->CompareRecordPositionsInIndex(a, b);
    return state.GoForward ? c < 0 : c > 0;
  };
  TVEZPageItemID id = state.CurRecordID;
  bool first_call = true;
  // Every candidate is seen, in either direction; the direction must be the
  // one the bounds were ordered for, or the scan runs from the wrong one.
  while (scan_index->FindRecord(state.SessionID, first_call, state.GoForward, start, end,
                                state.Record, id, search.get())) {
    first_call = false;
    if (ReadRecord(state.SessionID, id, state.Record) != grrOK ||
        !IsRecordMatched(state, state.Record, id))
      continue;
    if (!order_index->GetIndexPosition(state.SessionID, id, state.Record, *candidate))
      throw EVEZException(10432, "Cannot find record position in index %d, RecordID = %d %d",
                          {state.IndexID, id.PageNo, id.PageItemNo});
    if (bitmap != nullptr && (state.FillBitmap || state.Restart))
      bitmap->ShowRecord(state.IndexID, *candidate);
    if (state.FillBitmap) continue;
    if (!state.Restart && !before(*current, *candidate)) continue;
    if (!have_best || before(*candidate, *best)) {
      best->Assign(*candidate);
      best_id = id;
      have_best = true;
    }
  }
  if (bitmap != nullptr && !state.FillBitmap && state.Restart && !bitmap->Unusable())
    bitmap->Active = true;
  if (state.FillBitmap || !have_best) return false;
  state.FoundRecordID = best_id;
  return true;
}

// ---------------------------------------------------------------------------
// Record bitmaps

bool TVEZTableData::FindRecordInBitmap(TVEZCursor& cursor, TVEZRecordBitmap& bitmap, bool restart,
                                       bool go_forward, TVEZPageItemID& record_id) {
  if (!bitmap.IndexBased)
    return bitmap.FindRecord(restart, go_forward, cursor.CurrentRecordID, record_id);
  const std::int32_t session_id = SessionIDOf(&cursor);
  TVEZIndex* index = FIndexManager->OpenIndex(bitmap.IndexID);
  std::unique_ptr<TVEZKeyPath> current = index->CreateIndexPosition();
  std::unique_ptr<TVEZKeyPath> found = index->CreateIndexPosition();
  const std::int32_t table_state = FRecordManager->TableState;
  if (!restart) {
    if (bitmap.LastFoundPosition && bitmap.LastFoundTableState == table_state &&
        bitmap.LastFoundRecordID == cursor.CurrentRecordID) {
      current->Assign(*bitmap.LastFoundPosition);
    } else if (!GetIndexPositionOfRecord(session_id, bitmap.IndexID, *current,
                                         cursor.CurrentRecordID)) {
      return false;
    }
  }
  if (!bitmap.FindRecord(restart, go_forward, *current, *found, bitmap.IndexID)) return false;
  GetRecordIDByIndexPosition(session_id, bitmap.IndexID, record_id, *found);
  bitmap.LastFoundTableState = -1;
  if (!bitmap.LastFoundPosition) bitmap.LastFoundPosition = index->CreateIndexPosition();
  bitmap.LastFoundPosition->Assign(*found);
  bitmap.LastFoundRecordID = record_id;
  bitmap.LastFoundTableState = table_state;
  return true;
}

bool TVEZTableData::GetIndexPositionOfRecord(std::int32_t session_id, std::int32_t index_id,
                                             TVEZKeyPath& index_pos, TVEZPageItemID record_id) {
  TRecordScratch scratch(std::max(FRecordManager->RecordBufferSize, GetRecordBufferSize()));
  if (ReadRecord(session_id, record_id, scratch.Get()) != grrOK) return false;
  return FIndexManager->OpenIndex(index_id)->GetIndexPosition(session_id, record_id, scratch.Get(),
                                                              index_pos);
}

void TVEZTableData::GetRecordIDByIndexPosition(std::int32_t session_id, std::int32_t index_id,
                                               TVEZPageItemID& record_id,
                                               const TVEZKeyPath& index_pos) {
  FIndexManager->OpenIndex(index_id)->GetRecordIDByIndexPosition(session_id, index_pos, record_id);
}

void TVEZTableData::ResetRecordBitmap(TVEZRecordBitmap& bitmap, std::int32_t index_id) {
  bitmap.Clear();
  bitmap.TableState = FRecordManager->TableState;
  bitmap.IndexBased = index_id != -1;
  bitmap.IndexID = index_id;
}

void TVEZTableData::RefreshRecordBitmap(TVEZCursor& cursor) {
  TVEZRecordBitmap* bitmap = cursor.RecordBitmap;
  if (bitmap == nullptr) return;
  const bool stale = bitmap->Outdated() || bitmap->IndexID != cursor.IndexID;
  // A fill that could not hold the view fails again until the table or the
  // view changes; until then the callers walk.
  if (bitmap->Unusable() && !stale) return;
  if (bitmap->Active ? stale : cursor.IsViewRestricted()) RebuildRecordBitmap(cursor);
}

void TVEZTableData::RebuildRecordBitmap(TVEZCursor& cursor) {
  TVEZLockGuard guard(*this);
  TVEZRecordBitmap* bitmap = cursor.RecordBitmap;
  if (bitmap == nullptr) return;
  bitmap->Clear();
  if (FRecordManager == nullptr || FRecordManager->RecordCount == 0) return;
  TPositionKeeper position(cursor);
  std::uint8_t* const buffer = cursor.CurrentRecordBuffer;
  cursor.CurrentRecordBuffer = nullptr;
  cursor.FirstPosition = true;
  cursor.LastPosition = false;
  try {
    FindRecord(cursor, nullptr, nullptr, true, true, nullptr, bitmap, true);
  } catch (...) {
    cursor.CurrentRecordBuffer = buffer;
    throw;
  }
  cursor.CurrentRecordBuffer = buffer;
}

TVEZRecordBitmap* TVEZTableData::CompleteRecordBitmap(TVEZCursor& cursor) {
  RefreshRecordBitmap(cursor);
  TVEZRecordBitmap* bitmap = cursor.RecordBitmap;
  if (bitmap == nullptr || !bitmap->Active || bitmap->Outdated() ||
      bitmap->IndexID != cursor.IndexID)
    return nullptr;
  return bitmap;
}

std::int64_t TVEZTableData::WalkView(
    TVEZCursor& cursor, const std::function<bool(TVEZPageItemID, std::int64_t)>& visit) {
  TVEZLockGuard guard(*this);
  if (FRecordManager == nullptr) throw EVEZException(10015, "Nil pointer occured");
  TPositionKeeper position(cursor);
  const bool distinct = cursor.DistinctFieldCount > 0 && cursor.IndexID != -1;
  std::uint8_t* const saved_distinct = cursor.DistinctRecordBuffer;
  TRecordScratch group(std::max(cursor.RecordBufferSize, GetRecordBufferSize()));
  cursor.DistinctRecordBuffer = distinct ? group.Get() : nullptr;
  cursor.FirstPosition = true;
  cursor.LastPosition = false;
  std::int64_t count = 0;
  try {
    TVEZPageItemID id;
    while (FindRecord(cursor, nullptr, nullptr, count == 0, true, &id, nullptr, false)) {
      cursor.CurrentRecordID = id;
      cursor.FirstPosition = false;
      if (distinct && ReadRecord(SessionIDOf(&cursor), id, group.Get()) != grrOK) break;
      ++count;
      if (!visit(id, count)) break;
    }
  } catch (...) {
    cursor.DistinctRecordBuffer = saved_distinct;
    throw;
  }
  cursor.DistinctRecordBuffer = saved_distinct;
  return count;
}

// ---------------------------------------------------------------------------
// Public searches, counts and numbers

bool TVEZTableData::FindShownRecord(TVEZCursor& cursor, TVEZBaseExpression* search_expression,
                                    const TVEZScanSearchCondition* search_condition) {
  TVEZPageItemID found;
  if (!FindRecord(cursor, search_expression, search_condition, true, true, &found, nullptr, false))
    return false;
  const bool distinct = cursor.DistinctFieldCount > 0 && cursor.IndexID != -1;
  const std::int32_t session_id = SessionIDOf(&cursor);
  TRecordScratch group(std::max(cursor.RecordBufferSize, GetRecordBufferSize()));
  for (;;) {
    cursor.CurrentRecordID = found;
    cursor.FirstPosition = false;
    cursor.LastPosition = false;
    if (!distinct || !IsHiddenByDistinct(cursor, group.Get())) return true;
    // A distinct view shows only the first record of a group. The group's
    // first record came before and did not match, so no record of this
    // group is shown: the search goes on after it. group holds the record.
    std::uint8_t* const saved = cursor.DistinctRecordBuffer;
    cursor.DistinctRecordBuffer = group.Get();
    bool more = false;
    try {
      more = FindRecord(cursor, search_expression, search_condition, false, true, &found, nullptr,
                        false);
    } catch (...) {
      cursor.DistinctRecordBuffer = saved;
      throw;
    }
    cursor.DistinctRecordBuffer = saved;
    if (!more || ReadRecord(session_id, found, group.Get()) != grrOK) return false;
  }
}

bool TVEZTableData::IsHiddenByDistinct(TVEZCursor& cursor, std::uint8_t* record) {
  // The record (the cursor's current one, read into record) is hidden when
  // the view's record before it, distinct aside, has the same group key.
  const std::int32_t session_id = SessionIDOf(&cursor);
  if (ReadRecord(session_id, cursor.CurrentRecordID, record) != grrOK) return false;
  std::uint8_t* const saved = cursor.DistinctRecordBuffer;
  cursor.DistinctRecordBuffer = nullptr;
  TVEZPageItemID previous;
  bool has_previous = false;
  try {
    has_previous = FindRecord(cursor, nullptr, nullptr, false, false, &previous, nullptr, false);
  } catch (...) {
    cursor.DistinctRecordBuffer = saved;
    throw;
  }
  cursor.DistinctRecordBuffer = saved;
  if (!has_previous) return false;
  TRecordScratch before(std::max(cursor.RecordBufferSize, GetRecordBufferSize()));
  if (ReadRecord(session_id, previous, before.Get()) != grrOK) return false;
  return CompareKeys(cursor.IndexID, before.Get(), record, cursor.DistinctFieldCount) == 0;
}

bool TVEZTableData::Locate(TVEZCursor& cursor, TVEZBaseExpression* search_expression) {
  if (search_expression == nullptr) throw EVEZException(10272, "Nil pointer occured");
  TVEZLockGuard guard(*this);
  TPositionKeeper position(cursor);
  if (!FindShownRecord(cursor, search_expression, nullptr)) return false;
  GetRecordBuffer(cursor, grmCurrent);
  position.Keep();
  return true;
}

bool TVEZTableData::FindKey(TVEZCursor& cursor, TVEZSearchCondition search_condition) {
  // Refused on an empty table too: the caller's mistake does not depend on
  // the data.
  if (cursor.IndexID == -1)
    throw EVEZException(20258,
                        "No active index is set for Key search. Set Table.IndexName to the index "
                        "on search fields.");
  TVEZLockGuard guard(*this);
  TPositionKeeper position(cursor);
  // The cursor's key buffer serves as the key; it is not copied.
  TVEZScanSearchCondition condition(true);
  condition.Condition = search_condition;
  condition.KeyFieldCount = cursor.KeyFieldCount;
  condition.KeyRecordBuffer = cursor.KeyBuffer;
  condition.KeyRecordBufferSize = cursor.KeyBufferSize;
  condition.IndexID = cursor.IndexID;
  if (!FindShownRecord(cursor, nullptr, &condition)) return false;
  position.Keep();
  return true;
}

std::int64_t TVEZTableData::GetRecordCount(TVEZCursor& cursor) {
  TVEZLockGuard guard(*this);
  if (!cursor.IsViewRestricted()) return InternalGetRecordCount(cursor);
  if (TVEZRecordBitmap* bitmap = CompleteRecordBitmap(cursor)) return bitmap->GetRecordCount();
  return WalkView(cursor, [](TVEZPageItemID, std::int64_t) { return true; });
}

void TVEZTableData::SetRecNo(TVEZCursor& cursor, std::int64_t rec_no) {
  TVEZLockGuard guard(*this);
  const std::int64_t count = GetRecordCount(cursor);
  if (count == 0) return;
  // Numbers outside 1..count stand on the nearest end.
  rec_no = std::clamp<std::int64_t>(rec_no, 1, count);
  const std::int32_t session_id = SessionIDOf(&cursor);
  if (cursor.IsViewRestricted()) {
    if (TVEZRecordBitmap* bitmap = CompleteRecordBitmap(cursor)) {
      if (cursor.IndexID != -1) {
        std::unique_ptr<TVEZKeyPath> position =
            FIndexManager->OpenIndex(cursor.IndexID)->CreateIndexPosition();
        bitmap->GetIndexPosByRecNo(cursor.IndexID, rec_no, *position);
        GetRecordIDByIndexPosition(session_id, cursor.IndexID, cursor.CurrentRecordID, *position);
      } else {
        cursor.CurrentRecordID = bitmap->GetRecordIDByRecNo(rec_no);
      }
    } else {
      TVEZPageItemID found = cursor.CurrentRecordID;
      WalkView(cursor, [&](TVEZPageItemID id, std::int64_t no) {
        found = id;
        return no < rec_no;
      });
      cursor.CurrentRecordID = found;
    }
  } else if (cursor.IndexID != -1) {
    cursor.CurrentRecordID =
        FIndexManager->OpenIndex(cursor.IndexID)->GetRecordIDByRecNo(session_id, rec_no);
  } else {
    InternalSetRecNo(cursor, rec_no);
  }
  cursor.FirstPosition = false;
  cursor.LastPosition = false;
}

std::int64_t TVEZTableData::GetRecNo(TVEZCursor& cursor) {
  TVEZLockGuard guard(*this);
  if (cursor.FirstPosition || cursor.LastPosition || GetRecordCount(cursor) == 0) return -1;
  const std::int32_t session_id = SessionIDOf(&cursor);
  if (cursor.IsViewRestricted()) {
    if (TVEZRecordBitmap* bitmap = CompleteRecordBitmap(cursor)) {
      // A record the view does not show has no number (the rank alone would
      // name the next shown record).
      if (cursor.IndexID != -1) {
        std::unique_ptr<TVEZKeyPath> position =
            FIndexManager->OpenIndex(cursor.IndexID)->CreateIndexPosition();
        if (!GetIndexPositionOfRecord(session_id, cursor.IndexID, *position,
                                      cursor.CurrentRecordID) ||
            !bitmap->IsRecordVisible(cursor.IndexID, *position))
          return -1;
        return bitmap->GetRecNoByIndexPos(cursor.IndexID, *position);
      }
      const std::int64_t bit = RecordIDToApproximateRecNo(cursor.CurrentRecordID);
      if (bit < 0 || bit >= bitmap->Size() ||
          !bitmap->Bits().GetBit(static_cast<std::int32_t>(bit)))
        return -1;
      return bitmap->GetRecNoByRecordID(cursor.CurrentRecordID);
    }
    std::int64_t rec_no = -1;
    const TVEZPageItemID current = cursor.CurrentRecordID;
    WalkView(cursor, [&](TVEZPageItemID id, std::int64_t no) {
      if (!(id == current)) return true;
      rec_no = no;
      return false;
    });
    return rec_no;
  }
  if (cursor.IndexID == -1) return InternalGetRecNo(cursor);
  TRecordScratch record(GetRecordBufferSize());
  if (ReadRecord(session_id, cursor.CurrentRecordID, record.Get()) != grrOK) return -1;
  return FIndexManager->OpenIndex(cursor.IndexID)
      ->GetRecNoByRecordID(session_id, cursor.CurrentRecordID, record.Get());
}

// ---------------------------------------------------------------------------
// Record acceptance

bool TVEZTableData::IsBufferAccepted(TVEZCursor& cursor, std::uint8_t* buffer,
                                     TVEZPageItemID record_id) {
  if (cursor.IsRangeApplied()) {
    TVEZIndex* index = FIndexManager->OpenIndex(cursor.IndexID);
    if (cursor.RangeStartBuffer != nullptr) {
      const std::int32_t c = index->CompareRecordBuffersByIndex(buffer, cursor.RangeStartBuffer,
                                                                cursor.RangeStartKeyFieldCount);
      if (cursor.RangeStartExclusive ? c <= 0 : c < 0) return false;
    }
    if (cursor.RangeEndBuffer != nullptr) {
      const std::int32_t c = index->CompareRecordBuffersByIndex(buffer, cursor.RangeEndBuffer,
                                                                cursor.RangeEndKeyFieldCount);
      if (cursor.RangeEndExclusive ? c >= 0 : c > 0) return false;
    }
  }
  for (TVEZBaseExpression* filter : {cursor.FilterExpression, cursor.SQLFilterExpression}) {
    if (filter == nullptr) continue;
    filter->AssignCursorBuffer(buffer, false);
    if (!filter->GetResult()) return false;
  }
  if (!cursor.FilterRecord) return true;
  if (buffer == cursor.CurrentRecordBuffer) return cursor.FilterRecord(buffer, cursor.Dataset);
  return CallFilterRecord(cursor, buffer, record_id);
}

bool TVEZTableData::IsRecordInRange(TVEZCursor& cursor) {
  if (!cursor.IsRangeApplied()) return true;
  TVEZIndex* index = FIndexManager->OpenIndex(cursor.IndexID);
  const std::uint8_t* record = cursor.CurrentRecordBuffer;
  if (cursor.RangeStartBuffer != nullptr) {
    const std::int32_t c = index->CompareRecordBuffersByIndex(record, cursor.RangeStartBuffer,
                                                              cursor.RangeStartKeyFieldCount);
    if (cursor.RangeStartExclusive ? c <= 0 : c < 0) return false;
  }
  if (cursor.RangeEndBuffer != nullptr) {
    const std::int32_t c = index->CompareRecordBuffersByIndex(record, cursor.RangeEndBuffer,
                                                              cursor.RangeEndKeyFieldCount);
    if (cursor.RangeEndExclusive ? c >= 0 : c > 0) return false;
  }
  return true;
}

bool TVEZTableData::IsRecordAccepted(TVEZCursor& cursor) {
  return IsBufferAccepted(cursor, cursor.CurrentRecordBuffer, cursor.CurrentRecordID);
}

// ---------------------------------------------------------------------------
// The cursor after a record change

void TVEZTableData::ShowOrHideInBitmap(TVEZCursor& cursor) {
  TVEZRecordBitmap* bitmap = cursor.RecordBitmap;
  if (bitmap == nullptr || !bitmap->Active) return;
  if (IsRecordAccepted(cursor))
    bitmap->ShowRecord(cursor.CurrentRecordID);
  else
    bitmap->HideRecord(cursor.CurrentRecordID);
}

bool TVEZTableData::FindNeighbourForDelete(TVEZCursor& cursor, TVEZPageItemID& neighbour) {
  const TVEZPageItemID record_id = cursor.CurrentRecordID;
  std::uint8_t* saved_buffer = cursor.CurrentRecordBuffer;
  void* position = cursor.SavePosition();
  auto restore = [&] {
    cursor.CurrentRecordBuffer = saved_buffer;
    cursor.RestorePosition(position);
    cursor.FreePosition(position);
    cursor.CurrentRecordID = record_id;
  };
  bool found = false;
  try {
    TVEZScratchRecordBuffer scratch(cursor);
    // An index walk finds the record's place by its key: the scratch buffer
    // starts as a copy of the record.
    if (saved_buffer != nullptr)
      std::memcpy(scratch.Get(), saved_buffer, static_cast<std::size_t>(cursor.RecordBufferSize));
    cursor.CurrentRecordBuffer = scratch.Get();
    cursor.FirstPosition = cursor.LastPosition = false;
    if (GetRecordBuffer(cursor, grmNext) == grrOK) {
      found = true;
    } else {
      cursor.RestorePosition(position);
      cursor.FirstPosition = cursor.LastPosition = false;
      found = GetRecordBuffer(cursor, grmPrior) == grrOK;
    }
    if (found) neighbour = cursor.CurrentRecordID;
  } catch (...) {
    restore();
    throw;
  }
  restore();
  return found;
}

}  // namespace vez

// The record change of the table data (see VEZTableData.h, "Record changes"):
// the one routine every engine's insert, update and delete go through, its
// undo, and the base's hooks.
#include <algorithm>
#include <cstring>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZBaseRecordManager.h"
#include "dbengine/storage/VEZChangeCounter.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZDatabaseData.h"
#include "dbengine/storage/VEZIndexManager.h"
#include "dbengine/storage/VEZPageManager.h"
#include "dbengine/storage/VEZRecordBitmap.h"
#include "dbengine/storage/VEZTableData.h"
#include "platform/core/Invariant.h"

namespace vez {

// Undoes a failed record change: the engine's part outside pages, the page
// cache (rolled back to the savepoints, or the session's changes cancelled
// when the apply failed outside a transaction), the shared state noted in
// the context, and the cursor's record buffer and record id. Armed until
// Dismiss; runs at most once and raises nothing.
class TVEZTableData::TChangeUndo {
 public:
  TChangeUndo(TVEZTableData& table, TVEZCursor& cursor, TVEZRecordChangeContext& context)
      : FTable(table),
        FCursor(cursor),
        FContext(context),
        FSavepoints(context.SessionID),
        FRecordID(cursor.CurrentRecordID) {
    TVEZBaseRecordManager& records = *table.FRecordManager;
    context.RecordCount = records.RecordCount;
    context.TableState = records.TableState;
    if (table.FFieldManager != nullptr)
      context.AutoIncValues = table.FFieldManager->LastAutoIncValues();
    const TVEZIndexDefs& defs = table.FIndexManager->IndexDefs();
    context.IndexTableStates.reserve(static_cast<std::size_t>(defs.GetCount()));
    for (std::int32_t i = 0; i < defs.GetCount(); ++i)
      context.IndexTableStates.push_back(defs.GetDef(i)->TableState);
    if (cursor.CurrentRecordBuffer != nullptr) {
      const std::uint8_t* record = cursor.CurrentRecordBuffer;
      FRecord.assign(record, record + table.GetRecordBufferSize());
    }
    table.OpenSavepoints(FSavepoints);
  }
  ~TChangeUndo() { Run(); }
  TChangeUndo(const TChangeUndo&) = delete;
  TChangeUndo& operator=(const TChangeUndo&) = delete;

  // The page changes are kept from now on; a later failure (of the apply)
  // cancels the session's changes instead.
  void ReleasePages() noexcept {
    FSavepoints.Release();
    FPagesReleased = true;
  }
  void Dismiss() noexcept { FArmed = false; }

  void Run() noexcept {
    if (!FArmed) return;
    FArmed = false;
    FTable.UndoRecordChange(FCursor, FContext);
    if (FPagesReleased) {
      try {
        FTable.CancelChanges(FContext.SessionID, InTransaction(&FCursor));
      } catch (...) {
        // The first error is the one reported.
      }
    } else {
      FSavepoints.Rollback();
    }
    TVEZBaseRecordManager& records = *FTable.FRecordManager;
    records.RecordCount = FContext.RecordCount;
    records.TableState = FContext.TableState;
    if (FTable.FFieldManager != nullptr)
      FTable.FFieldManager->RestoreLastAutoIncValues(FContext.AutoIncValues);
    TVEZIndexDefs& defs = FTable.FIndexManager->IndexDefs();
    const auto count = std::min<std::size_t>(static_cast<std::size_t>(defs.GetCount()),
                                             FContext.IndexTableStates.size());
    for (std::size_t i = 0; i < count; ++i) {
      TVEZIndexDef& def = *defs.GetDef(static_cast<std::int32_t>(i));
      def.TableState = FContext.IndexTableStates[i];
      // Temporary indexes may have been written with the change before the
      // apply failed: they are built again at their next use.
      if (FPagesReleased && def.Temporary) def.TableState = NextChangeCounter(FContext.TableState);
    }
    if (!FRecord.empty() && FCursor.CurrentRecordBuffer != nullptr)
      std::memcpy(FCursor.CurrentRecordBuffer, FRecord.data(), FRecord.size());
    FCursor.CurrentRecordID = FRecordID;
  }

 private:
  TVEZTableData& FTable;
  TVEZCursor& FCursor;
  TVEZRecordChangeContext& FContext;
  TVEZPageSavepoints FSavepoints;
  TVEZPageItemID FRecordID;
  std::vector<std::uint8_t> FRecord;
  bool FArmed = true;
  bool FPagesReleased = false;
};

TVEZCursorErrorCode TVEZTableData::PostRecord(TVEZCursor& cursor, TVEZRecordChange change) {
  TVEZLockGuard guard(*this);
  if (!LockForChange(cursor)) return cecTableLocked;
  struct TUnlock {
    TVEZTableData& table;
    TVEZCursor& cursor;
    ~TUnlock() { table.UnlockAfterChange(cursor); }
  } unlock{*this, cursor};
  if (ChangeRecord(cursor, change, true)) return cecOK;
  switch (change) {
    case TVEZRecordChange::kInsert:
      return cecInsertFailed;
    case TVEZRecordChange::kUpdate:
      return cecUpdateFailed;
    case TVEZRecordChange::kDelete:
      break;
  }
  return cecDeleteFailed;
}

bool TVEZTableData::InsertRecord(TVEZCursor& cursor) {
  return ChangeRecord(cursor, TVEZRecordChange::kInsert, false);
}

bool TVEZTableData::UpdateRecord(TVEZCursor& cursor) {
  return ChangeRecord(cursor, TVEZRecordChange::kUpdate, false);
}

bool TVEZTableData::DeleteRecord(TVEZCursor& cursor) {
  return ChangeRecord(cursor, TVEZRecordChange::kDelete, false);
}

bool TVEZTableData::CanChangeRecord(TVEZCursor& cursor, TVEZRecordChange change) {
  if (FRecordManager == nullptr) throw EVEZException(10015, "Nil pointer occured");
  if (change != TVEZRecordChange::kDelete && cursor.CurrentRecordBuffer == nullptr)
    throw EVEZException(10016, "Nil pointer occured");
  return true;
}

void TVEZTableData::UndoRecordChange(TVEZCursor& cursor,
                                     const TVEZRecordChangeContext& context) noexcept {
  if (!context.RecordStored || FRecordManager == nullptr) return;
  try {
    switch (context.Change) {
      case TVEZRecordChange::kInsert: {
        TVEZPageItemID id = cursor.CurrentRecordID;
        FRecordManager->DeleteRecord(context.SessionID, id);
        break;
      }
      case TVEZRecordChange::kUpdate:
        FRecordManager->UpdateRecord(context.SessionID, context.StoredRecord.data(),
                                     cursor.CurrentRecordID);
        break;
      case TVEZRecordChange::kDelete:
        // A removed record is the last step that can fail for records kept
        // outside pages: nothing after it can fail, so there is nothing to
        // bring back.
        break;
    }
  } catch (...) {
    // The first error is the one reported.
  }
}

void TVEZTableData::OpenSavepoints(TVEZPageSavepoints& savepoints) {
  savepoints.Open(FPageManager);
  if (FIndexManager != nullptr) savepoints.Open(FIndexManager->TemporaryPageManager());
}

bool TVEZTableData::ChangeRecord(TVEZCursor& cursor, TVEZRecordChange change, bool post) {
  TVEZLockGuard guard(*this);
  if (!CanChangeRecord(cursor, change)) return false;
  RVX_INVARIANT(FIndexManager != nullptr, "a table with a record manager has an index manager");
  TVEZRecordChangeContext context;
  context.Change = change;
  context.SessionID = SessionIDOf(&cursor);
  const bool in_transaction = InTransaction(&cursor);
  ReloadSharedState(cursor);
  if (change != TVEZRecordChange::kInsert) {
    // A record another cursor or process removed is neither written nor
    // taken out of the indexes again.
    context.StoredRecord.resize(static_cast<std::size_t>(
        std::max(FRecordManager->RecordBufferSize, GetRecordBufferSize())));
    if (ReadRecord(context.SessionID, cursor.CurrentRecordID, context.StoredRecord.data()) != grrOK)
      return false;
  }
  // Where a delete leaves the cursor, found while the table is unchanged.
  TVEZPageItemID neighbour;
  const bool has_neighbour =
      change == TVEZRecordChange::kDelete && FindNeighbourForDelete(cursor, neighbour);
  const TVEZPageItemID record_id = cursor.CurrentRecordID;

  TChangeUndo undo(*this, cursor, context);
  if (post && change == TVEZRecordChange::kInsert)
    FFieldManager->ApplyAutoincsToRecordBuffer(cursor.Session, cursor.CurrentRecordBuffer);
  if (post && change != TVEZRecordChange::kDelete) {
    FConstraintManager->CheckConstraints(
        context.SessionID, cursor.CurrentRecordBuffer, cursor.EditRecordBuffer,
        change == TVEZRecordChange::kInsert, cursor.CurrentRecordID, true, true);
  }
  StoreBlobs(cursor, context);
  bool stored = false;
  switch (change) {
    case TVEZRecordChange::kInsert:
      stored = FRecordManager->AddRecord(context.SessionID, cursor.CurrentRecordBuffer,
                                         cursor.CurrentRecordID);
      context.RecordStored = stored;
      if (stored) FIndexManager->InsertRecord(cursor);
      break;
    case TVEZRecordChange::kUpdate:
      // The old entries leave while the stored record still has the values
      // they were made from (a cut key is compared against it).
      FIndexManager->UpdateRecord(cursor, true);
      stored =
          FRecordManager->UpdateRecord(context.SessionID, cursor.CurrentRecordBuffer, record_id);
      context.RecordStored = stored;
      if (stored) FIndexManager->UpdateRecord(cursor, false);
      break;
    case TVEZRecordChange::kDelete: {
      FIndexManager->DeleteRecord(cursor);
      TVEZPageItemID id = record_id;
      stored = FRecordManager->DeleteRecord(context.SessionID, id);
      context.RecordStored = stored;
      break;
    }
  }
  if (!stored) return false;  // the undo runs as the scope ends
  RVX_INVARIANT(FRecordManager->RecordCount >= 0, "a table never counts fewer than no records");
  SaveSharedState(cursor);
  undo.ReleasePages();
  if (!cursor.InBatchUpdate) ApplyChanges(context.SessionID, in_transaction);
  undo.Dismiss();

  // The change is in the table: the cursor follows it. A bitmap that cannot
  // follow (a filter that raises, no memory for a bit) is dropped; the next
  // read builds it again and meets the error then if it lasts.
  TVEZRecordBitmap* bitmap = cursor.RecordBitmap;
  try {
    if (change != TVEZRecordChange::kDelete) {
      ShowOrHideInBitmap(cursor);
    } else if (bitmap != nullptr && bitmap->Active) {
      bitmap->HideRecord(record_id);
      if (bitmap->TableState == context.TableState && !cursor.IsDistinctApplied())
        bitmap->TableState = FRecordManager->TableState;
    }
  } catch (...) {
    if (bitmap != nullptr) bitmap->Clear();
  }
  if (change == TVEZRecordChange::kInsert) {
    cursor.FirstPosition = false;
    cursor.LastPosition = false;
  } else if (change == TVEZRecordChange::kDelete) {
    cursor.FirstPosition = !has_neighbour;
    cursor.LastPosition = false;
    if (has_neighbour) cursor.CurrentRecordID = neighbour;
  }
  FinishRecordChange(cursor, context);
  return true;
}

}  // namespace vez

#include "dbengine/storage/VEZTableData.h"

#include <algorithm>
#include <cstring>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/storage/VEZBaseExpression.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZDatabaseData.h"
#include "dbengine/storage/VEZDefStreamIO.h"
#include "dbengine/storage/VEZDesignMode.h"
#include "dbengine/storage/VEZKeyPath.h"
#include "dbengine/storage/VEZPageManager.h"
#include "dbengine/storage/VEZScanConditionOptimizer.h"

namespace vez {

namespace {

constexpr std::int32_t kNotImplemented = 30058;

// A saved cursor position, restored and freed when the scope ends.
class TSavedPosition {
 public:
  explicit TSavedPosition(TVEZCursor* cursor)
      : FCursor(cursor), FPosition(cursor != nullptr ? cursor->SavePosition() : nullptr) {}
  ~TSavedPosition() {
    if (FCursor == nullptr) return;
    FCursor->RestorePosition(FPosition);
    FCursor->FreePosition(FPosition);
  }
  TSavedPosition(const TSavedPosition&) = delete;
  TSavedPosition& operator=(const TSavedPosition&) = delete;

 private:
  TVEZCursor* FCursor;
  void* FPosition;
};

std::string CutName(const std::string& name) {
  return name.substr(0, std::min(name.size(), defstream::kMaxShortStringLength));
}

}  // namespace

TVEZTableData::TVEZTableData(TVEZDatabaseData* database_data) : FDatabaseData(database_data) {}

TVEZTableData::~TVEZTableData() {
  FFieldManager.reset();
  FIndexManager.reset();
  FConstraintManager.reset();
  FRecordManager.reset();
}

std::int32_t TVEZTableData::SessionIDOf(const TVEZCursor* cursor) {
  if (cursor == nullptr || cursor->Session == nullptr) return -2;
  return cursor->Session->SessionID;
}

void TVEZTableData::Lock() {
  FDatabaseData->Lock();
}

void TVEZTableData::Unlock() {
  FDatabaseData->Unlock();
}

void TVEZTableData::AssignNewObjectIds(TVEZMetaObjectDefs& defs) {
  for (std::int32_t i = 0; i < defs.GetCount(); ++i)
    defs.GetDef(i)->ObjectID = FDatabaseData->GetNewObjectId();
}

std::unique_ptr<TVEZBaseIndexManager> TVEZTableData::NewIndexManager() {
  // Temporary indexes share the table's pages unless an engine keeps them
  // apart (the disk engine gives them a temporary page manager).
  return std::make_unique<TVEZBaseIndexManager>(this, FPageManager);
}

void TVEZTableData::CreateFieldManager(TVEZFieldDefs& field_defs) {
  auto manager = std::make_unique<TVEZBaseFieldManager>(this);
  AssignNewObjectIds(field_defs);
  manager->FieldDefs().Assign(field_defs);
  manager->RecalcFieldOffsets();
  manager->InitLastAutoIncValues();
  FFieldManager = std::move(manager);
}

void TVEZTableData::CreateIndexManager(TVEZIndexDefs& index_defs) {
  FIndexManager.reset();
  FIndexManager = NewIndexManager();
  AssignNewObjectIds(index_defs);
  FIndexManager->CreateIndexDefs(index_defs);
}

void TVEZTableData::CreateConstraintManager(TVEZConstraintDefs& constraint_defs) {
  for (std::int32_t i = 0; i < constraint_defs.GetCount(); ++i) {
    const TVEZConstraintType type = constraint_defs.GetDef(i)->ConstraintType;
    if (type == ctFK || type > ctCheck) throw EVEZException(kNotImplemented, "Not implemented yet");
  }
  // Built aside: a def that cannot be linked leaves the table's constraints
  // as they were.
  auto manager = std::make_unique<TVEZBaseConstraintManager>(this);
  AssignNewObjectIds(constraint_defs);
  const std::string table_name = CutName(FTableName);
  for (std::int32_t i = 0; i < constraint_defs.GetCount(); ++i) {
    TVEZConstraintDef* def = constraint_defs.GetDef(i);
    if (auto* column = dynamic_cast<TVEZColumnConstraintDef*>(def))
      column->TableName = table_name;
    else if (auto* key = dynamic_cast<TVEZConstraintDefUnique*>(def))
      key->TableName = table_name;
  }
  manager->ConstraintDefs().Assign(constraint_defs);
  manager->LinkObjectIds();
  manager->FillConstraintAutoNames();
  FConstraintManager = std::move(manager);
}

std::int32_t TVEZTableData::GetRecordBufferSize() const {
  if (FFieldManager == nullptr || FFieldManager->FieldCount() == 0) {
    if (!DesignMode())
      throw EVEZException(10131, "Error creating table - no fields were specified");
    return TVEZFieldDefs().GetMemoryRecordBufferSize();
  }
  return FFieldManager->FieldDefs().GetMemoryRecordBufferSize();
}

void TVEZTableData::InitCursorRecordLayout(TVEZCursor& cursor) {
  const bool has_fields = FFieldManager != nullptr && FFieldManager->FieldCount() > 0;
  cursor.FieldValuesOffset = has_fields ? FFieldManager->FieldDefs().GetDef(0)->MemoryOffset : 0;
  cursor.RecordSize = GetRecordBufferSize();
}

void TVEZTableData::ApplyChanges(std::int32_t session_id, bool in_transaction) {
  if (!in_transaction && FPageManager != nullptr) FPageManager->ApplyChanges(session_id);
}

void TVEZTableData::CancelChanges(std::int32_t session_id, bool in_transaction) {
  if (!in_transaction && FPageManager != nullptr) FPageManager->CancelChanges(session_id);
}

void TVEZTableData::DeleteTable(TVEZCursor* /*cursor*/, bool design_mode) {
  if (!design_mode && !FCursorList.empty()) {
    throw EVEZException(20017, "Cannot delete table '%s'. Table is open by another dataset",
                        {FTableName});
  }
}

void TVEZTableData::EmptyTable(TVEZCursor* cursor) {
  if (FFieldManager != nullptr) FFieldManager->InitLastAutoIncValues();
  EmptyAllIndexes(SessionIDOf(cursor));
}

void TVEZTableData::RenameTable(const std::string& new_table_name, TVEZCursor* /*cursor*/) {
  if (!FCursorList.empty()) {
    throw EVEZException(10150, "Cannot rename table '%s'. Table is open by another dataset",
                        {FTableName});
  }
  FTableName = new_table_name;
}

void TVEZTableData::OpenTable(TVEZCursor& cursor) {
  FCursorList.push_back(&cursor);
}

void TVEZTableData::CloseTable(TVEZCursor& cursor) {
  auto it = std::find(FCursorList.begin(), FCursorList.end(), &cursor);
  if (it != FCursorList.end()) FCursorList.erase(it);
}

void TVEZTableData::RenameField(const std::string& field_name, const std::string& new_field_name) {
  TVEZFieldDef* def =
      FFieldManager != nullptr ? FFieldManager->FieldDefs().GetFieldDefByName(field_name) : nullptr;
  if (def == nullptr) throw EVEZException(30343, "Field '%s' not found", {field_name});
  // The name as it will be stored: a longer one could be cut into another
  // field's name.
  const std::string stored_name = CutName(new_field_name);
  if (FFieldManager->FieldDefs().GetFieldDefByName(stored_name) != nullptr) {
    throw EVEZException(30344, "Cannot rename field '%s'. Field '%s' already exists",
                        {field_name, new_field_name});
  }
  def->Name = stored_name;
  if (FIndexManager != nullptr) FIndexManager->RenameField(field_name, def->Name);
}

void TVEZTableData::AddIndex(TVEZIndexDef& index_def, TVEZCursor* cursor) {
  TSavedPosition position(cursor);
  FIndexManager->CreateIndex(cursor, index_def);
  const bool cursor_temporary = cursor != nullptr && cursor->Temporary;
  if (!index_def.Temporary && !cursor_temporary && FConstraintManager != nullptr)
    FConstraintManager->AddConstraintFromIndex(index_def);
}

void TVEZTableData::DeleteIndex(std::int32_t index_id, TVEZCursor* cursor) {
  if (cursor != nullptr && FConstraintManager != nullptr) {
    const auto* def =
        static_cast<TVEZIndexDef*>(FIndexManager->IndexDefs().GetDefByObjectId(index_id));
    if (def != nullptr && !def->Temporary && !cursor->Temporary)
      FConstraintManager->DeleteConstraintForIndexID(index_id);
  }
  FIndexManager->DropIndex(SessionIDOf(cursor), index_id);
}

void TVEZTableData::ClearBLOBFieldsInRecordBuffer(std::uint8_t* record) {
  if (FFieldManager == nullptr || !FFieldManager->BlobFieldsPresent()) return;
  const TVEZFieldDefs& defs = FFieldManager->FieldDefs();
  for (std::int32_t i = 0; i < defs.GetCount(); ++i) {
    const TVEZBaseFieldType type = defs.GetDef(i)->BaseFieldType;
    if (type >= bftBlob && type <= bftWideClob) ClearBLOBFieldInRecordBuffer(record, i);
  }
}

std::int64_t TVEZTableData::LastAutoincValue(std::int32_t /*field_no*/,
                                             TVEZBaseSession* /*session*/) {
  return 0;
}

void TVEZTableData::Rollback(std::int32_t session_id) {
  RebuildTemporaryIndexes(session_id);
}

void TVEZTableData::EmptyIndex(std::int32_t index_id, std::int32_t session_id) {
  TVEZLockGuard guard(*this);
  FIndexManager->EmptyIndex(session_id, index_id);
}

void TVEZTableData::DeleteAllIndexes(TVEZCursor* cursor) {
  if (FIndexManager == nullptr) return;
  while (FIndexManager->IndexDefs().GetCount() > 0)
    DeleteIndex(FIndexManager->IndexDefs().GetDef(0)->ObjectID, cursor);
}

void TVEZTableData::EmptyAllIndexes(std::int32_t session_id) {
  if (FIndexManager != nullptr) FIndexManager->EmptyAllIndexes(session_id);
}

std::string TVEZTableData::FindOrCreateIndex(TVEZCursor& cursor,
                                             const std::vector<std::string>& field_names,
                                             const std::vector<std::string>& asc_desc_list,
                                             const std::vector<std::string>& case_sensitivity_list,
                                             bool& is_created) {
  TVEZLockGuard guard(*this);
  TSavedPosition position(&cursor);
  const std::int32_t session_id = SessionIDOf(&cursor);
  const bool in_transaction = cursor.Session != nullptr && cursor.Session->InTransaction;
  try {
    const std::int32_t id = FIndexManager->FindOrCreateIndex(&cursor, field_names, asc_desc_list,
                                                             case_sensitivity_list, is_created);
    const TVEZMetaObjectDef* def = FIndexManager->IndexDefs().GetDefByObjectId(id);
    if (def == nullptr) throw EVEZException(10324, "Cannot find index by ID = %d", {id});
    std::string name = def->Name;
    ApplyChanges(session_id, in_transaction);
    return name;
  } catch (...) {
    CancelChanges(session_id, in_transaction);
    throw;
  }
}

bool TVEZTableData::IndexExists(TVEZCursor& cursor, const std::vector<std::string>& field_names,
                                const std::vector<std::string>& asc_desc_list,
                                const std::vector<std::string>& case_sensitivity_list) {
  TVEZLockGuard guard(*this);
  return FIndexManager->IsIndexExists(field_names, asc_desc_list, case_sensitivity_list,
                                      SessionIDOf(&cursor), &cursor.FieldDefs());
}

bool TVEZTableData::IsUniqueConstraintFailed(std::int32_t session_id, std::int32_t index_id,
                                             const std::uint8_t* new_record,
                                             const std::uint8_t* old_record, bool to_insert,
                                             TVEZPageItemID /*current_record_id*/) {
  if (FRecordManager == nullptr || FRecordManager->RecordCount <= 0) return false;
  TVEZIndex* index = FIndexManager->OpenIndex(index_id);
  if (to_insert) return !index->CanInsertRecord(session_id, new_record);
  return !index->CanUpdateRecord(session_id, old_record, new_record);
}

void TVEZTableData::RebuildTemporaryIndexes(std::int32_t session_id) {
  if (FIndexManager == nullptr) return;
  for (TVEZCursor* cursor : std::vector<TVEZCursor*>(FCursorList)) {
    if (cursor->Session == nullptr || cursor->Session->SessionID != session_id) continue;
    bool is_changed = false;
    FIndexManager->SynchronizeTemporaryIndexes(cursor, is_changed);
  }
}

// ---------------------------------------------------------------------------
// Navigation of unrestricted views

void TVEZTableData::ReadRecord(std::int32_t session_id, TVEZNavigationInfo& info,
                               std::int32_t table_state, TVEZIndexPositionCache* cache) {
  if (FRecordManager == nullptr) throw EVEZException(10015, "Nil pointer occured");
  if (FIndexManager == nullptr) throw EVEZException(10380, "Nil pointer occured");
  if (info.RecordBuffer == nullptr) throw EVEZException(10016, "Nil pointer occured");
  if (info.IndexID != -1 && info.GetRecordMode != grmCurrent) {
    // The index reads its first or last entry from either end whatever the
    // direction: nothing lies before BOF or after EOF, in any order.
    if (info.FirstPosition && info.GetRecordMode == grmPrior) {
      info.GetRecordResult = grrBOF;
      return;
    }
    if (info.LastPosition && info.GetRecordMode == grmNext) {
      info.GetRecordResult = grrEOF;
      return;
    }
    FIndexManager->GetRecordBuffer(session_id, info, cache, table_state);
  } else {
    FRecordManager->GetRecordBuffer(session_id, info);
  }
}

namespace {

// A record buffer of the table from the engine memory manager, freed at scope end.
class TRecordScratch {
 public:
  explicit TRecordScratch(std::int32_t size)
      : FBuffer(static_cast<std::uint8_t*>(MemoryManager().AllocMem(size))) {}
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

// Whether the cursor's range bounds exclude each other, so that the view
// shows nothing and no record needs reading.
bool IsRangeEmpty(TVEZCursor& cursor, TVEZBaseIndexManager& index_manager) {
  if (cursor.RangeStartBuffer == nullptr || cursor.RangeEndBuffer == nullptr) return false;
  TVEZIndex* index = index_manager.OpenIndex(cursor.IndexID);
  TVEZScanSearchCondition start(true);
  start.Condition = cursor.RangeStartExclusive ? scGreater : scGreaterEqual;
  start.KeyRecordBuffer = cursor.RangeStartBuffer;
  start.KeyRecordBufferSize = cursor.KeyBufferSize;
  start.KeyFieldCount = cursor.RangeStartKeyFieldCount;
  start.IndexID = cursor.IndexID;
  TVEZScanSearchCondition end(true);
  end.Condition = cursor.RangeEndExclusive ? scLower : scLowerEqual;
  end.KeyRecordBuffer = cursor.RangeEndBuffer;
  end.KeyRecordBufferSize = cursor.KeyBufferSize;
  end.KeyFieldCount = cursor.RangeEndKeyFieldCount;
  end.IndexID = cursor.IndexID;
  if (!CanIntersectScanConditions(start, end)) return false;
  bool is_empty = false;
  bool is_changed = false;
  IntersectScanConditions(
      start, end,
      [index](std::int32_t, const std::uint8_t* a, const std::uint8_t* b, std::int32_t n) {
        return index->CompareRecordBuffersByIndex(a, b, n);
      },
      is_empty, is_changed);
  return is_empty;
}

}  // namespace

bool TVEZTableData::IsBufferAccepted(TVEZCursor& cursor, std::uint8_t* buffer) {
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
  if (cursor.FilterRecord && !cursor.FilterRecord(buffer, cursor.Dataset)) return false;
  return true;
}

bool TVEZTableData::FindVisibleRecord(TVEZCursor& cursor, bool restart, bool go_forward,
                                      TVEZPageItemID& record_id,
                                      const std::function<bool(std::uint8_t*)>& also) {
  TVEZLockGuard guard(*this);
  if (FRecordManager == nullptr) throw EVEZException(10015, "Nil pointer occured");
  if (FRecordManager->RecordCount == 0) return false;
  if (FIndexManager != nullptr && IsRangeEmpty(cursor, *FIndexManager)) return false;
  const std::int32_t session_id = SessionIDOf(&cursor);
  TRecordScratch scratch(GetRecordBufferSize());
  TVEZNavigationInfo info;
  info.IndexID = cursor.IndexID;
  info.RecordID = cursor.CurrentRecordID;
  info.RecordBuffer = scratch.Get();
  info.FirstPosition = restart && go_forward;
  info.LastPosition = restart && !go_forward;
  info.GetRecordMode = go_forward ? grmNext : grmPrior;
  // An index finds the current record's place by its key.
  if (!restart && ReadRecord(session_id, cursor.CurrentRecordID, scratch.Get()) != grrOK) {
    // The record went away under the cursor: the move goes on from its slot,
    // or in an index from its key, still held in the cursor's buffer.
    if (cursor.CurrentRecordBuffer == nullptr) return false;
    std::memcpy(scratch.Get(), cursor.CurrentRecordBuffer,
                static_cast<std::size_t>(GetRecordBufferSize()));
  }
  const bool distinct = cursor.DistinctFieldCount > 0 && cursor.DistinctRecordBuffer != nullptr &&
                        cursor.IndexID != -1;
  TVEZIndexPositionCache cache;
  for (;;) {
    ReadRecord(session_id, info, FRecordManager->TableState, &cache);
    if (info.GetRecordResult != grrOK) return false;
    if (distinct &&
        FIndexManager->OpenIndex(cursor.IndexID)
                ->CompareRecordBuffersByIndex(scratch.Get(), cursor.DistinctRecordBuffer,
                                              cursor.DistinctFieldCount) == 0)
      continue;
    if (IsBufferAccepted(cursor, scratch.Get()) && (!also || also(scratch.Get()))) {
      record_id = info.RecordID;
      return true;
    }
  }
}

std::int64_t TVEZTableData::ForEachVisibleRecord(
    TVEZCursor& cursor, const std::function<bool(TVEZPageItemID, std::int64_t)>& visit) {
  TVEZLockGuard guard(*this);
  if (FRecordManager == nullptr) throw EVEZException(10015, "Nil pointer occured");
  if (FRecordManager->RecordCount == 0) return 0;
  if (FIndexManager != nullptr && IsRangeEmpty(cursor, *FIndexManager)) return 0;
  const std::int32_t session_id = SessionIDOf(&cursor);
  const std::int32_t size = GetRecordBufferSize();
  TRecordScratch scratch(size);
  TRecordScratch previous(size);
  bool has_previous = false;
  const bool distinct = cursor.DistinctFieldCount > 0 && cursor.IndexID != -1;
  TVEZNavigationInfo info;
  info.IndexID = cursor.IndexID;
  info.RecordBuffer = scratch.Get();
  info.FirstPosition = true;
  info.GetRecordMode = grmNext;
  TVEZIndexPositionCache cache;
  std::int64_t count = 0;
  for (;;) {
    ReadRecord(session_id, info, FRecordManager->TableState, &cache);
    if (info.GetRecordResult != grrOK) return count;
    if (!IsBufferAccepted(cursor, scratch.Get())) continue;
    if (distinct) {
      // One record per distinct leading key: the first of its group.
      if (has_previous && FIndexManager->OpenIndex(cursor.IndexID)
                                  ->CompareRecordBuffersByIndex(scratch.Get(), previous.Get(),
                                                                cursor.DistinctFieldCount) == 0)
        continue;
      std::memcpy(previous.Get(), scratch.Get(), static_cast<std::size_t>(size));
      has_previous = true;
    }
    ++count;
    if (!visit(info.RecordID, count)) return count;
  }
}

TVEZGetRecordResult TVEZTableData::GetRecordBuffer(TVEZCursor& cursor, TVEZGetRecordMode mode) {
  if (FRecordManager == nullptr) throw EVEZException(10015, "Nil pointer occured");
  if (FRecordManager->RecordCount == 0) return grrEOF;
  const bool distinct_step = cursor.DistinctFieldCount > 0 && mode != grmCurrent &&
                             !cursor.FirstPosition && !cursor.LastPosition;
  if (!distinct_step) {
    cursor.DistinctRecordBuffer = nullptr;
    return InternalGetRecordBuffer(cursor, mode);
  }
  // The record the cursor leaves: the move skips every record of its group.
  cursor.DistinctRecordBuffer = cursor.AllocateRecordBuffer();
  try {
    TVEZGetRecordResult result = grrError;
    if (ReadRecord(SessionIDOf(&cursor), cursor.CurrentRecordID, cursor.DistinctRecordBuffer) ==
        grrOK)
      result = InternalGetRecordBuffer(cursor, mode);
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
                                                           TVEZGetRecordMode mode) {
  const bool restricted = cursor.IsViewRestricted();
  if (restricted && mode != grmCurrent) {
    const bool forward = mode == grmNext;
    // At BOF nothing lies before, at EOF nothing after: no wrap to the other end.
    if (!forward && cursor.FirstPosition) return grrBOF;
    if (forward && cursor.LastPosition) return grrEOF;
    TVEZPageItemID found;
    if (!FindVisibleRecord(cursor, cursor.FirstPosition || cursor.LastPosition, forward, found))
      return forward ? grrEOF : grrBOF;
    const TVEZGetRecordResult result =
        ReadRecord(SessionIDOf(&cursor), found, cursor.CurrentRecordBuffer);
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
  ReadRecord(SessionIDOf(&cursor), info, FRecordManager->TableState, cursor.IndexPositionCache());
  // A re-read record that the view no longer shows leaves the cursor as it was.
  if (info.GetRecordResult == grrOK && restricted && !IsRecordAccepted(cursor)) return grrError;
  cursor.CurrentRecordID = info.RecordID;
  cursor.FirstPosition = info.FirstPosition;
  cursor.LastPosition = info.LastPosition;
  return info.GetRecordResult;
}

bool TVEZTableData::Locate(TVEZCursor& cursor, TVEZBaseExpression* search_expression) {
  if (search_expression == nullptr) throw EVEZException(10272, "Nil pointer occured");
  TVEZLockGuard guard(*this);
  TVEZPageItemID found;
  // The search only reads scratch buffers: the cursor moves only on success.
  const bool ok = FindVisibleRecord(cursor, true, true, found, [&](std::uint8_t* buffer) {
    search_expression->AssignCursorBuffer(buffer, false);
    return search_expression->GetResult();
  });
  if (!ok) return false;
  cursor.FirstPosition = false;
  cursor.LastPosition = false;
  cursor.CurrentRecordID = found;
  GetRecordBuffer(cursor, grmCurrent);
  return true;
}

bool TVEZTableData::FindKey(TVEZCursor& cursor, TVEZSearchCondition search_condition) {
  if (cursor.IndexID == -1)
    throw EVEZException(20258,
                        "No active index is set for Key search. Set Table.IndexName to the index "
                        "on search fields.");
  TVEZLockGuard guard(*this);
  if (FIndexManager == nullptr) throw EVEZException(10380, "Nil pointer occured");
  TVEZIndex* index = FIndexManager->OpenIndex(cursor.IndexID);
  TVEZPageItemID found;
  const bool ok = FindVisibleRecord(cursor, true, true, found, [&](std::uint8_t* buffer) {
    const std::int32_t c =
        index->CompareRecordBuffersByIndex(buffer, cursor.KeyBuffer, cursor.KeyFieldCount);
    switch (search_condition) {
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
  });
  if (!ok) return false;
  cursor.FirstPosition = false;
  cursor.LastPosition = false;
  cursor.CurrentRecordID = found;
  return true;
}

std::int64_t TVEZTableData::GetRecordCount(TVEZCursor& cursor) {
  TVEZLockGuard guard(*this);
  if (cursor.IsViewRestricted())
    return ForEachVisibleRecord(cursor, [](TVEZPageItemID, std::int64_t) { return true; });
  return InternalGetRecordCount(cursor);
}

void TVEZTableData::SetRecNo(TVEZCursor& cursor, std::int64_t rec_no) {
  TVEZLockGuard guard(*this);
  const std::int64_t count = GetRecordCount(cursor);
  if (count == 0) return;
  // Numbers outside 1..count stand on the nearest end.
  rec_no = std::clamp<std::int64_t>(rec_no, 1, count);
  if (cursor.IsViewRestricted()) {
    TVEZPageItemID found = cursor.CurrentRecordID;
    ForEachVisibleRecord(cursor, [&](TVEZPageItemID id, std::int64_t no) {
      found = id;
      return no < rec_no;
    });
    cursor.CurrentRecordID = found;
  } else if (cursor.IndexID != -1) {
    cursor.CurrentRecordID =
        FIndexManager->OpenIndex(cursor.IndexID)->GetRecordIDByRecNo(SessionIDOf(&cursor), rec_no);
  } else {
    InternalSetRecNo(cursor, rec_no);
  }
  cursor.FirstPosition = false;
  cursor.LastPosition = false;
}

std::int64_t TVEZTableData::GetRecNo(TVEZCursor& cursor) {
  TVEZLockGuard guard(*this);
  if (cursor.FirstPosition || cursor.LastPosition || GetRecordCount(cursor) == 0) return -1;
  if (cursor.IsViewRestricted()) {
    std::int64_t rec_no = -1;
    const TVEZPageItemID current = cursor.CurrentRecordID;
    ForEachVisibleRecord(cursor, [&](TVEZPageItemID id, std::int64_t no) {
      if (!(id == current)) return true;
      rec_no = no;
      return false;
    });
    return rec_no;
  }
  if (cursor.IndexID == -1) return InternalGetRecNo(cursor);
  TRecordScratch record(GetRecordBufferSize());
  if (ReadRecord(SessionIDOf(&cursor), cursor.CurrentRecordID, record.Get()) != grrOK) return -1;
  return FIndexManager->OpenIndex(cursor.IndexID)
      ->GetRecNoByRecordID(SessionIDOf(&cursor), cursor.CurrentRecordID, record.Get());
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
  return IsBufferAccepted(cursor, cursor.CurrentRecordBuffer);
}

// ---------------------------------------------------------------------------
// Key record source

bool TVEZTableData::HasFieldDefs() const {
  return FFieldManager != nullptr && FFieldManager->FieldCount() > 0;
}

bool TVEZTableData::FindField(const std::string& name, TFieldLayout& layout) const {
  if (FFieldManager == nullptr) return false;
  const TVEZFieldDefs& defs = FFieldManager->FieldDefs();
  const std::int32_t no = defs.GetDefNumberByName(name);
  if (no < 0) return false;
  const TVEZFieldDef& def = *defs.GetDef(no);
  layout = {no, def.MemoryOffset, def.MemoryDataSize, def.BaseFieldType};
  return true;
}

std::int32_t TVEZTableData::GetMemoryRecordBufferSize() const {
  return FFieldManager != nullptr ? FFieldManager->FieldDefs().GetMemoryRecordBufferSize() : 0;
}

TVEZGetRecordResult TVEZTableData::ReadRecord(std::int32_t session_id, TVEZPageItemID record_id,
                                              std::uint8_t* buffer) {
  if (FRecordManager == nullptr) throw EVEZException(10015, "Nil pointer occured");
  TVEZNavigationInfo info;
  info.GetRecordMode = grmCurrent;
  info.RecordID = record_id;
  info.RecordBuffer = buffer;
  FRecordManager->GetRecordBuffer(session_id, info);
  return info.GetRecordResult;
}

}  // namespace vez

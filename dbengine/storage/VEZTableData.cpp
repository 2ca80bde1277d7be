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
#include "dbengine/storage/VEZRecordBitmap.h"
#include "dbengine/storage/VEZScanConditionOptimizer.h"
#include "dbengine/storage/VEZScratchRecordBuffer.h"
#include "platform/core/Invariant.h"

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

}  // namespace

TVEZTableData::TVEZTableData(TVEZDatabaseData* database_data) : FDatabaseData(database_data) {}

TVEZTableData::~TVEZTableData() {
  FFieldManager.reset();
  FIndexManager.reset();
  FConstraintManager.reset();
  FRecordManager.reset();
}

std::int32_t TVEZTableData::SessionIDOf(const TVEZCursor* cursor) {
  return cursor != nullptr ? cursor->SessionID() : -2;
}

bool TVEZTableData::InTransaction(const TVEZCursor* cursor) {
  return cursor != nullptr && cursor->Session != nullptr && cursor->Session->InTransaction;
}

void TVEZTableData::ApplyOutsideTransaction(TVEZCursor* cursor) {
  ApplyChanges(SessionIDOf(cursor), InTransaction(cursor));
}

void TVEZTableData::Lock() {
  FDatabaseData->Lock();
}

void TVEZTableData::Unlock() {
  FDatabaseData->Unlock();
}

bool TVEZTableData::IsLockHeld() const {
  return FDatabaseData->IsLockHeld();
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
  const std::string table_name = defstream::CutToShortString(FTableName);
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
  const std::string stored_name = defstream::CutToShortString(new_field_name);
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
  RVX_INVARIANT(IsLockHeld(), "a navigation step runs under the database lock");
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

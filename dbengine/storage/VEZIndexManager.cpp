#include "dbengine/storage/VEZIndexManager.h"

#include <algorithm>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/storage/VEZBTreeRecordIndex.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZChangeCounter.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZDatabaseData.h"
#include "dbengine/storage/VEZKeyPath.h"
#include "dbengine/storage/VEZTableData.h"
#include "platform/core/Invariant.h"

namespace vez {

// ---------------------------------------------------------------------------
// TVEZIndex

TVEZIndex::~TVEZIndex() = default;

TVEZBaseRecordManager* TVEZBaseIndexManager::RecordManager() const {
  return FTableData->RecordManager();
}

TVEZKeyRecordSource* TVEZBaseIndexManager::KeyRecordSource() const {
  return FTableData;
}

void TVEZIndex::CreateIndex(TVEZCursor* /*cursor*/, TVEZIndexDef& index_def) {
  if (FIndexDef.get() == &index_def) return;
  auto copy = std::make_unique<TVEZIndexDef>();
  copy->Assign(index_def);
  FIndexDef = std::move(copy);
}

void TVEZIndex::OpenIndex(const TVEZIndexDef& index_def) {
  auto copy = std::make_unique<TVEZIndexDef>();
  copy->Assign(index_def);
  FIndexDef = std::move(copy);
}

// ---------------------------------------------------------------------------
// TVEZBaseIndexManager

TVEZBaseIndexManager::TVEZBaseIndexManager(TVEZTableData* table_data,
                                           TVEZPageManager* temporary_page_manager)
    : FTableData(table_data),
      FPageManager(table_data != nullptr ? table_data->PageManager() : nullptr),
      FTemporaryPageManager(temporary_page_manager) {}

TVEZBaseIndexManager::~TVEZBaseIndexManager() {
  FOpenIndexList.clear();
}

void TVEZBaseIndexManager::LoadMetadata(TVEZStream& stream) {
  FIndexDefs.LoadFromStream(stream);
}

void TVEZBaseIndexManager::SaveMetadata(TVEZStream& stream) const {
  FIndexDefs.SaveToStream(stream);
}

void TVEZBaseIndexManager::CreateIndexDefs(const TVEZIndexDefs& index_defs) {
  FIndexDefs.Assign(index_defs);
}

TVEZPageManager* TVEZBaseIndexManager::GetPageManager(const TVEZIndex& index) const {
  const TVEZIndexDef* def = index.IndexDef();
  const bool temporary = def != nullptr && def->Temporary && FTemporaryPageManager != nullptr;
  return temporary ? FTemporaryPageManager : FPageManager;
}

std::int32_t TVEZBaseIndexManager::FindIndex(const std::vector<std::string>& field_names,
                                             const std::vector<std::string>& asc_desc_list,
                                             const std::vector<std::string>& case_sensitivity_list,
                                             std::int32_t session_id,
                                             const TVEZFieldDefs* field_defs) const {
  return FIndexDefs.FindIndex(&field_names, &asc_desc_list, &case_sensitivity_list, session_id,
                              field_defs);
}

bool TVEZBaseIndexManager::IsIndexExists(const std::vector<std::string>& field_names,
                                         const std::vector<std::string>& asc_desc_list,
                                         const std::vector<std::string>& case_sensitivity_list,
                                         std::int32_t session_id,
                                         const TVEZFieldDefs* field_defs) const {
  return FindIndex(field_names, asc_desc_list, case_sensitivity_list, session_id, field_defs) != -1;
}

TVEZIndex* TVEZBaseIndexManager::FindOpenIndex(std::int32_t index_id) const {
  for (const auto& index : FOpenIndexList) {
    if (index->IndexDef() != nullptr && index->IndexDef()->ObjectID == index_id) return index.get();
  }
  return nullptr;
}

TVEZIndex* TVEZBaseIndexManager::OpenIndex(std::int32_t index_id) {
  TVEZIndex* open = FindOpenIndex(index_id);
  return open != nullptr ? open : InternalOpenIndex(index_id);
}

void TVEZBaseIndexManager::CloseIndex(std::int32_t index_id) {
  auto it = std::find_if(FOpenIndexList.begin(), FOpenIndexList.end(), [&](const auto& index) {
    return index->IndexDef() != nullptr && index->IndexDef()->ObjectID == index_id;
  });
  if (it != FOpenIndexList.end()) FOpenIndexList.erase(it);
}

TVEZIndex* TVEZBaseIndexManager::InternalOpenIndex(std::int32_t index_id) {
  const auto* def = static_cast<const TVEZIndexDef*>(FIndexDefs.GetDefByObjectId(index_id));
  if (def == nullptr) throw EVEZException(20018, "Index not found");
  std::unique_ptr<TVEZIndex> index = NewIndex();
  index->OpenIndex(*def);
  FOpenIndexList.push_back(std::move(index));
  return FOpenIndexList.back().get();
}

std::unique_ptr<TVEZIndex> TVEZBaseIndexManager::NewIndex() {
  return std::make_unique<TVEZBTreeRecordIndex>(this);
}

std::int32_t TVEZBaseIndexManager::CreateIndex(TVEZCursor* cursor, TVEZIndexDef& index_def) {
  index_def.ObjectID = FTableData->DatabaseData()->GetNewObjectId();
  auto copy = std::make_unique<TVEZIndexDef>();
  copy->Assign(index_def);
  FIndexDefs.InternalAdd(std::move(copy));
  InternalCreateIndex(cursor, index_def);
  return index_def.ObjectID;
}

void TVEZBaseIndexManager::InternalCreateIndex(TVEZCursor* cursor, TVEZIndexDef& index_def) {
  try {
    std::unique_ptr<TVEZIndex> index = NewIndex();
    index->CreateIndex(cursor, index_def);
    const std::int32_t no = FIndexDefs.GetDefNumberByObjectId(index_def.ObjectID);
    if (no >= 0) FIndexDefs.GetDef(no)->Assign(index_def);
  } catch (...) {
    const std::int32_t no = FIndexDefs.GetDefNumberByObjectId(index_def.ObjectID);
    if (no >= 0) FIndexDefs.Delete(no);
    throw;
  }
}

void TVEZBaseIndexManager::CreateIndexesByIndexDefs(TVEZCursor* cursor) {
  for (std::int32_t i = 0; i < FIndexDefs.GetCount(); ++i) {
    // The def is built through a copy: building assigns the result back
    // into the list's def.
    TVEZIndexDef def;
    def.Assign(*FIndexDefs.GetDef(i));
    InternalCreateIndex(cursor, def);
  }
}

std::int32_t TVEZBaseIndexManager::CurrentTableState() const {
  const TVEZBaseRecordManager* records = FTableData->RecordManager();
  return records != nullptr ? records->TableState : 0;
}

std::int32_t TVEZBaseIndexManager::CreateTemporaryIndex(
    TVEZCursor* cursor, const std::vector<std::string>& field_names,
    const std::vector<std::string>& asc_desc_list,
    const std::vector<std::string>& case_sensitivity_list) {
  TVEZIndexDef def;
  do {
    def.Name = MakeUniqueName("TEMPORARY_INDEX_");
  } while (FIndexDefs.GetDefByName(def.Name) != nullptr);
  def.Temporary = true;
  def.IndexType = itBTree;
  def.Unique = false;
  def.Primary = false;
  def.AssignByNames(field_names, asc_desc_list, case_sensitivity_list);
  def.SessionID = TVEZTableData::SessionIDOf(cursor);
  def.TableState = CurrentTableState();
  return CreateIndex(cursor, def);
}

std::int32_t TVEZBaseIndexManager::FindOrCreateIndex(
    TVEZCursor* cursor, const std::vector<std::string>& field_names,
    const std::vector<std::string>& asc_desc_list,
    const std::vector<std::string>& case_sensitivity_list, bool& is_created) {
  const std::int32_t found = FindIndex(field_names, asc_desc_list, case_sensitivity_list,
                                       TVEZTableData::SessionIDOf(cursor),
                                       cursor != nullptr ? &cursor->FieldDefs() : nullptr);
  is_created = found == -1;
  if (!is_created) return found;
  return CreateTemporaryIndex(cursor, field_names, asc_desc_list, case_sensitivity_list);
}

void TVEZBaseIndexManager::DropIndex(std::int32_t session_id, std::int32_t index_id) {
  OpenIndex(index_id)->DropIndex(session_id);
  CloseIndex(index_id);
  const std::int32_t no = FIndexDefs.GetDefNumberByObjectId(index_id);
  if (no >= 0) FIndexDefs.Delete(no);
}

void TVEZBaseIndexManager::EmptyIndex(std::int32_t session_id, std::int32_t index_id) {
  OpenIndex(index_id)->EmptyIndex(session_id);
  CloseIndex(index_id);
}

void TVEZBaseIndexManager::EmptyAllIndexes(std::int32_t session_id) {
  for (std::int32_t i = 0; i < FIndexDefs.GetCount(); ++i)
    EmptyIndex(session_id, FIndexDefs.GetDef(i)->ObjectID);
}

void TVEZBaseIndexManager::GetRecordBuffer(std::int32_t session_id, TVEZNavigationInfo& info,
                                           TVEZIndexPositionCache* cache,
                                           std::int32_t table_state) {
  TVEZIndex* index = OpenIndex(info.IndexID);
  if (!info.FirstPosition && !info.LastPosition) {
    TVEZNavigationInfo current = info;
    current.GetRecordMode = grmCurrent;
    current.GetRecordResult = grrOK;
    FTableData->RecordManager()->GetRecordBuffer(session_id, current);
    if (current.GetRecordResult == grrError) {
      index->GetClosestRecordBuffer(session_id, info, cache, table_state);
      return;
    }
  }
  index->GetRecordBuffer(session_id, info, cache, table_state);
}

void TVEZBaseIndexManager::InsertRecord(TVEZCursor& cursor) {
  RVX_INVARIANT(FTableData->IsLockHeld(), "index entries change under the database lock");
  for (std::int32_t i = 0; i < FIndexDefs.GetCount(); ++i) {
    TVEZIndexDef& def = *FIndexDefs.GetDef(i);
    TVEZIndex* index = OpenIndex(def.ObjectID);
    index->InsertRecord(cursor);
    def.TableState = NextChangeCounter(def.TableState);
    if (index->IndexDef()->RootPageNo != def.RootPageNo)
      def.RootPageNo = index->IndexDef()->RootPageNo;
  }
}

void TVEZBaseIndexManager::UpdateRecord(TVEZCursor& cursor, bool before_new_record_is_stored) {
  RVX_INVARIANT(FTableData->IsLockHeld(), "index entries change under the database lock");
  for (std::int32_t i = 0; i < FIndexDefs.GetCount(); ++i) {
    TVEZIndexDef& def = *FIndexDefs.GetDef(i);
    OpenIndex(def.ObjectID)->UpdateRecord(cursor, before_new_record_is_stored);
    if (!before_new_record_is_stored) def.TableState = NextChangeCounter(def.TableState);
  }
}

void TVEZBaseIndexManager::DeleteRecord(TVEZCursor& cursor) {
  RVX_INVARIANT(FTableData->IsLockHeld(), "index entries change under the database lock");
  TVEZNavigationInfo info;
  info.GetRecordMode = grmCurrent;
  info.RecordID = cursor.CurrentRecordID;
  info.RecordBuffer = cursor.CurrentRecordBuffer;
  FTableData->RecordManager()->GetRecordBuffer(TVEZTableData::SessionIDOf(&cursor), info);
  if (info.GetRecordResult == grrError) return;
  for (std::int32_t i = 0; i < FIndexDefs.GetCount(); ++i) {
    TVEZIndexDef& def = *FIndexDefs.GetDef(i);
    OpenIndex(def.ObjectID)->DeleteRecord(cursor);
    def.TableState = NextChangeCounter(def.TableState);
  }
}

void TVEZBaseIndexManager::SynchronizeTemporaryIndexes(TVEZCursor* cursor, bool& is_changed) {
  RVX_INVARIANT(FTableData->IsLockHeld(), "temporary indexes are rebuilt under the database lock");
  is_changed = false;
  if (FSynchronizingTemporaryIndexes) return;
  const std::int32_t table_state = CurrentTableState();
  for (std::int32_t i = 0; i < FIndexDefs.GetCount(); ++i) {
    TVEZIndexDef& def = *FIndexDefs.GetDef(i);
    if (!def.Temporary || def.TableState == table_state) continue;
    FSynchronizingTemporaryIndexes = true;
    try {
      TVEZIndex* index = OpenIndex(def.ObjectID);
      index->RebuildTemporaryIndex(cursor);
      // A rebuilt tree has a new root; the list's def must not keep the freed one.
      def.RootPageNo = index->IndexDef()->RootPageNo;
    } catch (...) {
      FSynchronizingTemporaryIndexes = false;
      throw;
    }
    FSynchronizingTemporaryIndexes = false;
    def.TableState = table_state;
    is_changed = true;
  }
}

void TVEZBaseIndexManager::RenameField(const std::string& field_name,
                                       const std::string& new_field_name) {
  for (std::int32_t i = 0; i < FIndexDefs.GetCount(); ++i) {
    const TVEZIndexDef& def = *FIndexDefs.GetDef(i);
    for (std::int32_t c = 0; c < def.ColumnCount(); ++c) {
      TVEZIndexColumn* column = def.GetIndexColumn(c);
      if (SameDefName(column->FieldName, field_name)) column->FieldName = new_field_name;
    }
  }
}

}  // namespace vez

#include "dbengine/api/VEZLocalCursor.h"

#include <cstring>
#include <utility>

#include "dbengine/api/VEZLocalBLOBStream.h"
#include "dbengine/api/VEZLocalSession.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/storage/VEZDatabaseData.h"
#include "dbengine/storage/VEZDesignMode.h"
#include "dbengine/storage/VEZDiskTableData.h"
#include "dbengine/storage/VEZProcessTableData.h"
#include "dbengine/storage/VEZTableData.h"
#include "dbengine/storage/VEZTemporaryTableData.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/Clock.h"

namespace vez {

namespace {

constexpr const char* kNilPointer = "Nil pointer occured";
constexpr const char* kPointerIsNil = "Pointer is nil";
constexpr const char* kInvalidFieldNumber = "Invalid field number - FieldNo = %d, FieldCount = %d";
constexpr const char* kTableNotFound = "Table '%s' not found";
constexpr const char* kTableDataNotFound = "Table not found, table name = %s";

// Runs a step when the scope ends, however it ends; a step that raises while
// an error is already passing is dropped.
template <typename F>
class TScopeExit {
 public:
  explicit TScopeExit(F f) : FStep(std::move(f)) {}
  ~TScopeExit() noexcept(false) {
    if (!FArmed) return;
    if (std::uncaught_exceptions() > FUncaught) {
      try {
        FStep();
      } catch (...) {
      }
    } else {
      FStep();
    }
  }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;
  void Dismiss() { FArmed = false; }

 private:
  F FStep;
  bool FArmed = true;
  int FUncaught = std::uncaught_exceptions();
};

// A record buffer of the cursor's size, given back however the scope ends.
class TRecordCopy {
 public:
  TRecordCopy(TVEZCursor& cursor, const std::uint8_t* source) : FCursor(cursor) {
    FBuffer = cursor.AllocateRecordBuffer();
    std::memcpy(FBuffer, source, static_cast<std::size_t>(cursor.RecordBufferSize));
  }
  ~TRecordCopy() { MemoryManager().FreeAndNillMem(FBuffer); }
  TRecordCopy(const TRecordCopy&) = delete;
  TRecordCopy& operator=(const TRecordCopy&) = delete;
  std::uint8_t* Data() const { return FBuffer; }
  // Puts the copied image back into the cursor's current buffer.
  void PutBack() const {
    std::memcpy(FCursor.CurrentRecordBuffer, FBuffer,
                static_cast<std::size_t>(FCursor.RecordBufferSize));
  }

 private:
  TVEZCursor& FCursor;
  std::uint8_t* FBuffer;
};

constexpr const char* kNoSqlEngine =
    "SQL expressions are not available: no SQL engine is registered";

}  // namespace

// ---------------------------------------------------------------------------
// Construction and binding

TVEZLocalCursor::TVEZLocalCursor() {
  FIndexPositionCache = &FPositionCache;
}

TVEZLocalCursor::~TVEZLocalCursor() {
  CloseQuietly();
}

void TVEZLocalCursor::CloseQuietly() noexcept {
  try {
    CloseTable();
  } catch (...) {
    // A destructor reports nothing; the table data is let go below.
  }
  FTableData = nullptr;
  FBLOBStreams.clear();
  RecordBitmap = nullptr;
  FRecordBitmap.reset();
  FilterExpression = nullptr;
  FFilterExpression.reset();
}

void TVEZLocalCursor::OpenTable(TVEZTableData& table_data) {
  FDatabaseData = table_data.DatabaseData();
  TVEZLockGuard guard(*FDatabaseData);
  FTableData = &table_data;
  try {
    table_data.OpenTable(*this);
  } catch (...) {
    FTableData = nullptr;
    throw;
  }
  FinishOpen();
  InternalInitFieldDefs();
}

void TVEZLocalCursor::FinishOpen() {
  FirstPosition = true;
  LastPosition = false;
  FIndexDefs.Assign(FTableData->IndexManager()->IndexDefs());
  FBLOBStreams.clear();
  FRecordBitmap = std::make_unique<TVEZRecordBitmap>(FTableData);
  RecordBitmap = FRecordBitmap.get();
  IsOpen = true;
}

TVEZDatabaseData& TVEZLocalCursor::SessionDatabase() {
  auto* local = dynamic_cast<TVEZLocalSession*>(Session);
  TVEZDatabaseData* data = local != nullptr ? local->DatabaseData() : nullptr;
  if (data == nullptr) throw EVEZException(20151, kPointerIsNil);
  FDatabaseData = data;
  return *data;
}

TVEZTableData& TVEZLocalCursor::Bound(std::int32_t native) const {
  if (FTableData == nullptr) throw EVEZException(native, kNilPointer);
  return *FTableData;
}

TVEZDiskTableData* TVEZLocalCursor::DiskTable() const {
  return dynamic_cast<TVEZDiskTableData*>(FTableData);
}

bool TVEZLocalCursor::IsMultiUserDisk() const {
  return DiskTable() != nullptr && Session != nullptr && Session->MultiUser;
}

bool TVEZLocalCursor::IsTemporaryTable() const {
  return dynamic_cast<TVEZTemporaryTableData*>(FTableData) != nullptr;
}

bool TVEZLocalCursor::InTransaction() const {
  return Session != nullptr && Session->InTransaction;
}

std::int32_t TVEZLocalCursor::SessionID() const {
  return TVEZTableData::SessionIDOf(this);
}

// ---------------------------------------------------------------------------
// Schema operations

void TVEZLocalCursor::CreateTable(TVEZFieldDefs& field_defs, TVEZIndexDefs& index_defs,
                                  TVEZConstraintDefs& constraint_defs) {
  TVEZDatabaseData& database = SessionDatabase();
  TVEZLockGuard guard(database);
  CloseTable();
  TScopeExit close([&] { CloseTable(); });
  if (database.TableExists(TableName)) DeleteTable();
  FTableData = database.FindOrCreateTableData(*this);
  if (FTableData == nullptr) throw EVEZException(20151, kPointerIsNil);
  FTableData->CreateTable(this, field_defs, index_defs, constraint_defs);
}

void TVEZLocalCursor::DeleteTable() {
  TVEZDatabaseData& database = SessionDatabase();
  TVEZLockGuard guard(database);
  CloseTable();
  if (!database.TableExists(TableName)) throw EVEZException(20132, kTableNotFound, {TableName});
  FTableData = database.FindOrCreateTableData(*this);
  if (FTableData == nullptr) throw EVEZException(10027, kTableDataNotFound, {TableName});
  TScopeExit close([&] { CloseTable(); });
  // The session's named objects of the columns (their sequence values) go
  // with the table; a disk table not open yet is read for its columns.
  std::vector<std::int32_t> column_ids;
  auto collect = [&] {
    const TVEZFieldDefs& defs = FTableData->FieldManager()->FieldDefs();
    for (std::int32_t i = 0; i < defs.GetCount(); ++i)
      column_ids.push_back(defs.GetDef(i)->ObjectID);
  };
  if (FTableData->FieldManager() != nullptr) {
    collect();
  } else if (DiskTable() != nullptr) {
    FTableData->OpenTable(*this);
    TScopeExit unlist([&] { FTableData->CloseTable(*this); });
    if (FTableData->FieldManager() != nullptr) collect();
  }
  if (Session != nullptr)
    for (std::int32_t id : column_ids)
      Session->DeleteObject(id);
  const bool frees_itself = dynamic_cast<TVEZProcessTableData*>(FTableData) != nullptr;
  FTableData->DeleteTable(this, false);
  // A memory or temporary table data is gone with its table.
  if (frees_itself) FTableData = nullptr;
}

void TVEZLocalCursor::EmptyTable() {
  TVEZDatabaseData& database = SessionDatabase();
  TVEZLockGuard guard(database);
  CloseTable();
  TScopeExit close([&] { CloseTable(); });
  if (!database.TableExists(TableName)) throw EVEZException(20133, kTableNotFound, {TableName});
  FTableData = database.FindOrCreateTableData(*this);
  if (FTableData == nullptr) throw EVEZException(10073, kTableDataNotFound, {TableName});
  FTableData->EmptyTable(this);
}

void TVEZLocalCursor::RenameTable(const std::string& new_table_name) {
  TVEZDatabaseData& database = SessionDatabase();
  TVEZLockGuard guard(database);
  CloseTable();
  TScopeExit close([&] { CloseTable(); });
  if (!database.TableExists(TableName)) throw EVEZException(20134, kTableNotFound, {TableName});
  if (!SameDefName(new_table_name, TableName) && database.TableExists(new_table_name))
    throw EVEZException(30451, "Table %s already exists", {new_table_name});
  if (new_table_name == TableName)
    throw EVEZException(30452, "Cannot rename table '%s' into itself", {TableName});
  FTableData = database.FindOrCreateTableData(*this);
  if (FTableData == nullptr) throw EVEZException(10151, kTableDataNotFound, {TableName});
  FTableData->RenameTable(new_table_name, this);
  close.Dismiss();
  CloseTable();
  TableName = new_table_name;
}

void TVEZLocalCursor::InternalInitFieldDefs() {
  TVEZTableData& table = Bound(20151);
  const TVEZFieldDefs& source = table.FieldManager()->FieldDefs();
  FFieldDefs.Assign(source);
  FFieldDefs.RecalcFieldOffsets();

  const std::int32_t count = FFieldDefs.GetCount();
  std::int32_t bookmark_offset = 0;
  if (count > 0) {
    const TVEZFieldDef& last = *FFieldDefs.GetDef(count - 1);
    bookmark_offset = platform::CheckedAdd(last.MemoryOffset, last.MemoryDataSize);
  }
  const std::int32_t record_size = platform::CheckedAdd(bookmark_offset, kBookmarkSize);
  const std::int32_t key_size = platform::CheckedAdd(bookmark_offset, TVEZPageItemID::kSize);
  FieldValuesOffset = count > 0 ? FFieldDefs.GetDef(0)->MemoryOffset : 0;
  BookmarkOffset = bookmark_offset;
  KeyOffset = bookmark_offset;
  KeyBufferSize = key_size;
  RecordSize = record_size;
  RecordBufferSize = record_size;
  CalculatedFieldsOffset = record_size;

  if (!FSettingProjection) {
    FVisibleFieldDefs.Assign(source);
    for (std::int32_t i = 0; i < FVisibleFieldDefs.GetCount(); ++i)
      FVisibleFieldDefs.GetDef(i)->FieldNoReference = i;
  }
  FConstraintDefs.Assign(table.ConstraintManager()->ConstraintDefs());
}

void TVEZLocalCursor::OpenTableByFieldDefs(TVEZFieldDefs& field_defs, TVEZIndexDefs& index_defs,
                                           TVEZConstraintDefs& constraint_defs) {
  if (IsOpen) return;
  TVEZDatabaseData& database = SessionDatabase();
  TVEZLockGuard guard(database);
  TVEZTableData* table = database.FindTableData(*this);
  if (table == nullptr) {
    const bool process_database = dynamic_cast<TVEZProcessDatabaseData*>(&database) != nullptr;
    if (process_database && !IsDesignMode)
      throw EVEZException(10028, kTableDataNotFound, {TableName});
    table = database.CreateTableData(*this);
    if (process_database) table->CreateTable(this, field_defs, index_defs, constraint_defs);
  }
  table->SetIsRepairing(IsRepairing);
  FTableData = table;
  try {
    table->OpenTable(*this);
  } catch (...) {
    FTableData = nullptr;
    // A disk table data made for this open and left without cursors goes.
    if (auto* disk = dynamic_cast<TVEZDiskTableData*>(table)) disk->FreeIfNoCursorsConnected();
    throw;
  }
  FinishOpen();
  InternalInitFieldDefs();
}

void TVEZLocalCursor::CloseTable() {
  // Open streams are dropped: the record image they would be written into
  // is the caller's and may already be gone.
  FBLOBStreams.clear();
  if (FTableData != nullptr) {
    TVEZLockGuard guard(*FTableData->DatabaseData());
    TVEZTableData* table = std::exchange(FTableData, nullptr);
    TScopeExit unbound([&] {
      IsOpen = false;
      FEditLocks = {};
    });
    if (HoldsEditLocks()) {
      FTableData = table;
      try {
        ReleaseEditLocks();
      } catch (...) {
        // The session gives its locks back when it ends.
      }
      FTableData = nullptr;
    }
    table->CloseTable(*this);
    const bool process_table = dynamic_cast<TVEZProcessTableData*>(table) != nullptr;
    if (IsDesignMode && (InMemory || Temporary) && process_table) {
      table->DeleteTable(this, true);
    } else if (auto* disk = dynamic_cast<TVEZDiskTableData*>(table)) {
      disk->FreeIfNoCursorsConnected();
    }
  }
  IsOpen = false;
  RecordBitmap = nullptr;
  FRecordBitmap.reset();
  FilterExpression = nullptr;
  FFilterExpression.reset();
  FFieldDefs.Clear();
  if (!FSettingProjection) FVisibleFieldDefs.Clear();
  FIndexDefs.Clear();
  FConstraintDefs.Clear();
}

void TVEZLocalCursor::LockTableData() {
  Bound(10260).Lock();
}

void TVEZLocalCursor::UnlockTableData() {
  Bound(10261).Unlock();
}

bool TVEZLocalCursor::LockTable(TVEZLockType lock_type, std::int32_t try_count, std::int32_t delay,
                                bool allow_xirw_after_sirw) {
  if (FTableData == nullptr) throw EVEZException(20221, kPointerIsNil);
  TVEZDiskTableData* disk = DiskTable();
  if (disk == nullptr) return true;
  // The lock state is read and changed under the database lock.
  TVEZLockGuard guard(*disk);
  return disk->LockTable(SessionID(), lock_type, try_count, delay, allow_xirw_after_sirw);
}

bool TVEZLocalCursor::UnlockTable(TVEZLockType lock_type, bool ignore_if_no_lock) {
  if (FTableData == nullptr) throw EVEZException(20222, kPointerIsNil);
  TVEZDiskTableData* disk = DiskTable();
  if (disk == nullptr) return true;
  TVEZLockGuard guard(*disk);
  return disk->UnlockTable(SessionID(), lock_type, ignore_if_no_lock);
}

void TVEZLocalCursor::RenameField(const std::string& field_name,
                                  const std::string& new_field_name) {
  Bound(20151).RenameField(field_name, new_field_name);
}

TVEZIndexDefs* TVEZLocalCursor::GetIndexDefs() {
  if (FTableData != nullptr && FTableData->IndexManager() != nullptr)
    FIndexDefs.Assign(FTableData->IndexManager()->IndexDefs());
  return &FIndexDefs;
}

void TVEZLocalCursor::RefreshIndexAndConstraintDefs() {
  if (FTableData == nullptr) return;
  if (FTableData->IndexManager() != nullptr)
    FIndexDefs.Assign(FTableData->IndexManager()->IndexDefs());
  if (FTableData->ConstraintManager() != nullptr)
    FConstraintDefs.Assign(FTableData->ConstraintManager()->ConstraintDefs());
}

void TVEZLocalCursor::AddIndex(TVEZIndexDef& index_def) {
  if (FIndexDefs.GetIndexDefByName(index_def.Name) != nullptr)
    throw EVEZException(20022, "Cannot create index '%s'. Index already exists", {index_def.Name});
  Bound(20151).AddIndex(index_def, this);
  RefreshIndexAndConstraintDefs();
}

void TVEZLocalCursor::DeleteIndex(const std::string& name) {
  const TVEZIndexDef* def = FIndexDefs.GetIndexDefByName(name);
  if (def == nullptr)
    throw EVEZException(20021, "Cannot delete index '%s'. Index not found", {name});
  Bound(20151).DeleteIndex(def->ObjectID, this);
  RefreshIndexAndConstraintDefs();
}

void TVEZLocalCursor::DeleteAllIndexes() {
  Bound(20151).DeleteAllIndexes(this);
  RefreshIndexAndConstraintDefs();
}

std::vector<std::string> TVEZLocalCursor::TranslateFieldNames(
    const std::vector<std::string>& field_names) const {
  std::vector<std::string> names = field_names;
  for (std::string& name : names) {
    if (FFieldDefs.GetFieldDefByName(name) != nullptr) continue;
    const TVEZFieldDef* visible = FVisibleFieldDefs.GetFieldDefByName(name);
    if (visible == nullptr) continue;
    const std::int32_t physical = visible->FieldNoReference;
    if (physical >= 0 && physical < FFieldDefs.GetCount()) name = FFieldDefs.GetDef(physical)->Name;
  }
  return names;
}

std::string TVEZLocalCursor::FindOrCreateIndex(
    const std::vector<std::string>& field_names, const std::vector<std::string>& asc_desc_list,
    const std::vector<std::string>& case_sensitivity_list, bool& is_created) {
  TVEZTableData& table = Bound(20151);
  std::string name = table.FindOrCreateIndex(*this, TranslateFieldNames(field_names), asc_desc_list,
                                             case_sensitivity_list, is_created);
  GetIndexDefs();
  return name;
}

bool TVEZLocalCursor::IndexExists(const std::vector<std::string>& field_names,
                                  const std::vector<std::string>& asc_desc_list,
                                  const std::vector<std::string>& case_sensitivity_list) {
  return Bound(20151).IndexExists(*this, TranslateFieldNames(field_names), asc_desc_list,
                                  case_sensitivity_list);
}

// ---------------------------------------------------------------------------
// Field values

void TVEZLocalCursor::CopyFieldValue(std::int32_t src_field_no, bool direct_access,
                                     std::int32_t dest_field_no, TVEZCursor* dest_cursor) {
  if (dest_cursor == nullptr) throw EVEZException(10503, kNilPointer);
  const TVEZFieldDefs& src_defs = direct_access ? FFieldDefs : FVisibleFieldDefs;
  const TVEZFieldDefs& dest_defs = dest_cursor->VisibleFieldDefs();
  if (src_field_no < 0 || src_field_no >= src_defs.GetCount())
    throw EVEZException(10501, kInvalidFieldNumber, {src_field_no, src_defs.GetCount()});
  if (dest_field_no < 0 || dest_field_no >= dest_defs.GetCount())
    throw EVEZException(10502, kInvalidFieldNumber, {dest_field_no, dest_defs.GetCount()});
  const TVEZFieldDef& src = *src_defs.GetDef(src_field_no);
  const TVEZFieldDef& dest = *dest_defs.GetDef(dest_field_no);
  const std::int32_t src_physical = direct_access ? src_field_no : src.FieldNoReference;
  const std::int32_t dest_physical = dest.FieldNoReference;
  std::uint8_t* src_record = CurrentRecordBuffer;
  std::uint8_t* dest_record = dest_cursor->CurrentRecordBuffer;
  if (src_record == nullptr || dest_record == nullptr) throw EVEZException(10500, kNilPointer);

  if (GetBufferBit(src_physical, src_record)) {
    SetBufferBit(true, dest_physical, dest_record);
    return;
  }
  const bool src_blob = IsBlobBaseFieldType(src.BaseFieldType);
  if (src.BaseFieldType == dest.BaseFieldType && !src_blob &&
      src.MemoryDataSize == dest.MemoryDataSize) {
    SetBufferBit(false, dest_physical, dest_record);
    std::memcpy(dest_record + dest.MemoryOffset, src_record + src.MemoryOffset,
                static_cast<std::size_t>(src.MemoryDataSize));
    return;
  }
  if (src_blob) {
    auto* dest_local = dynamic_cast<TVEZLocalCursor*>(dest_cursor);
    if (dest_local == nullptr || dest_local->FTableData == nullptr)
      throw EVEZException(10504, kNilPointer);
    TVEZTableData& source_table = Bound(10500);
    TVEZPartialTemporaryBLOBDescriptor descriptor;
    std::uint8_t* data = nullptr;
    source_table.GetDirectBlobData(*this, src_physical, src_record, descriptor, data);
    TScopeExit free_data([&] {
      source_table.FreeDirectBlobData(*this, src_physical, src_record, descriptor, data);
    });
    dest_local->FTableData->SetDirectBlobData(*dest_local, dest_physical, dest_record, descriptor,
                                              data);
    return;
  }
  TVEZVariant value;
  GetFieldValue(value, src_field_no, direct_access);
  dest_cursor->SetFieldValue(value, dest_field_no, false, nullptr);
}

void TVEZLocalCursor::InternalInitRecord(std::uint8_t* record_buffer, bool insert_mode) {
  std::memset(record_buffer, 0, static_cast<std::size_t>(BookmarkOffset));
  for (std::int32_t i = 0; i < FFieldDefs.GetCount(); ++i)
    SetBufferBit(true, i, record_buffer);
  if (insert_mode && !Temporary && FTableData != nullptr)
    FTableData->FieldManager()->ApplyDefaultValuesToRecordBuffer(Session, record_buffer);
}

void TVEZLocalCursor::FreeRecordBuffer(std::uint8_t*& buffer) {
  if (buffer != nullptr && FTableData != nullptr) FTableData->ClearBlobsCacheInRecordBuffer(buffer);
  TVEZCursor::FreeRecordBuffer(buffer);
}

// ---------------------------------------------------------------------------
// Navigation

std::int64_t TVEZLocalCursor::GetRecordCount() {
  return Bound(20151).GetRecordCount(*this);
}

TVEZGetRecordResult TVEZLocalCursor::GetRecordBuffer(TVEZGetRecordMode get_record_mode) {
  TVEZTableData& table = Bound(20151);
  TVEZLockGuard guard(table);
  if (!ReverseOrder || get_record_mode == grmCurrent)
    return table.GetRecordBuffer(*this, get_record_mode);
  // Backwards view: a step forward is a step back in the index, and running
  // off its start is the view's end.
  const TVEZGetRecordResult result =
      table.GetRecordBuffer(*this, get_record_mode == grmNext ? grmPrior : grmNext);
  if (result == grrBOF) return grrEOF;
  if (result == grrEOF) return grrBOF;
  return result;
}

void TVEZLocalCursor::SetRecNo(std::int64_t value) {
  TVEZTableData& table = Bound(20151);
  if (ReverseOrder) value = table.GetRecordCount(*this) + 1 - value;
  table.SetRecNo(*this, value);
}

std::int64_t TVEZLocalCursor::GetRecNo() {
  TVEZTableData& table = Bound(20151);
  const std::int64_t rec_no = table.GetRecNo(*this);
  if (!ReverseOrder || rec_no <= 0) return rec_no;
  return table.GetRecordCount(*this) + 1 - rec_no;
}

std::int32_t TVEZLocalCursor::CompareRecordsOrder(const TVEZPageItemID& record_id1,
                                                  const TVEZPageItemID& record_id2) {
  if (IndexID != -1) {
    TVEZTableData& table = Bound(20151);
    void* position = SavePosition();
    std::uint8_t* saved_buffer = CurrentRecordBuffer;
    std::uint8_t* first = nullptr;
    std::uint8_t* second = nullptr;
    TScopeExit restore([&] {
      CurrentRecordBuffer = saved_buffer;
      RestorePosition(position);
      FreePosition(position);
      FreeRecordBuffer(first);
      FreeRecordBuffer(second);
    });
    first = AllocateRecordBuffer();
    second = AllocateRecordBuffer();
    auto read = [&](std::uint8_t* buffer, const TVEZPageItemID& id) {
      CurrentRecordBuffer = buffer;
      FirstPosition = false;
      LastPosition = false;
      CurrentRecordID = id;
      return GetRecordBuffer(grmCurrent) == grrOK;
    };
    if (!read(first, record_id1)) return -1;
    if (!read(second, record_id2)) return 1;
    const auto* def = static_cast<const TVEZIndexDef*>(FIndexDefs.GetDefByObjectId(IndexID));
    if (def == nullptr) throw EVEZException(20018, "Index not found");
    TVEZLockGuard guard(table);
    const std::int32_t order =
        table.IndexManager()->OpenIndex(IndexID)->CompareRecordBuffersByIndex(first, second,
                                                                              def->ColumnCount());
    if (order != 0) return (order < 0) != ReverseOrder ? -1 : 1;
  }
  // Equal keys stand in record order, which a backwards view reverses too.
  const std::int32_t sign = ReverseOrder && IndexID != -1 ? -1 : 1;
  if (record_id1.PageNo != record_id2.PageNo)
    return record_id1.PageNo < record_id2.PageNo ? -sign : sign;
  if (record_id1.PageItemNo != record_id2.PageItemNo)
    return record_id1.PageItemNo < record_id2.PageItemNo ? -sign : sign;
  return 0;
}

void TVEZLocalCursor::InternalFirst() {
  FirstPosition = !ReverseOrder;
  LastPosition = ReverseOrder;
}

void TVEZLocalCursor::InternalLast() {
  FirstPosition = ReverseOrder;
  LastPosition = !ReverseOrder;
}

void TVEZLocalCursor::InternalInsert() {}

// ---------------------------------------------------------------------------
// Record operations

TVEZPageItemID TVEZLocalCursor::BookmarkRecordID() const {
  return TVEZPageItemID::Decode(CurrentRecordBuffer + BookmarkOffset);
}

void TVEZLocalCursor::WriteInsertBookmark() {
  CurrentRecordID.Encode(CurrentRecordBuffer + BookmarkOffset);
  CurrentRecordBuffer[BookmarkOffset + TVEZPageItemID::kSize] = kInsertedRecordFlag;
}

TVEZGetRecordResult TVEZLocalCursor::ReReadCurrent() {
  const bool first = FirstPosition;
  const bool last = LastPosition;
  FirstPosition = false;
  LastPosition = false;
  TScopeExit restore([&] {
    FirstPosition = first;
    LastPosition = last;
  });
  return GetRecordBuffer(grmCurrent);
}

bool TVEZLocalCursor::LockTableForChange(TVEZLockType lock_type, std::int32_t try_count,
                                         std::int32_t sleep_ms) {
  for (std::int32_t attempt = 0; attempt < try_count; ++attempt) {
    if (LockTable(lock_type, 1, 0, true)) return true;
    // Other threads of the process must be able to finish what holds the
    // lock: the table data's lock is left while this one sleeps.
    FTableData->Unlock();
    TScopeExit relock([&] { FTableData->Lock(); });
    platform::Sleep(static_cast<std::uint32_t>(sleep_ms));
  }
  return false;
}

bool TVEZLocalCursor::LockRecord(TVEZPageItemID record_id, std::int32_t try_count,
                                 std::int32_t delay) {
  TVEZDiskTableData* disk = DiskTable();
  if (disk == nullptr) return true;
  return disk->LockRecord(SessionID(), record_id, try_count, delay);
}

void TVEZLocalCursor::UnlockRecord(TVEZPageItemID record_id) {
  if (TVEZDiskTableData* disk = DiskTable()) disk->UnlockRecord(SessionID(), record_id);
}

void TVEZLocalCursor::ReleaseEditLocks() {
  const TEditLocks locks = std::exchange(FEditLocks, {});
  if (locks.RecordLocked) UnlockRecord(locks.RecordID);
  if (locks.TableLocked && locks.TableLockType == ltSIRW) UnlockTable(ltSIRW, true);
}

std::int32_t TVEZLocalCursor::ChangeRecord(TVEZRecordChange change) {
  try {
    return FTableData->PostRecord(*this, change);
  } catch (const EVEZException& e) {
    // The change left nothing of itself: the record stays as the user made
    // it, to be corrected and posted again.
    ErrorMessage = e.what();
    return cecErrorMessage;
  }
}

void TVEZLocalCursor::InternalEdit() {
  TVEZTableData& table = Bound(20151);
  TVEZLockGuard guard(table);
  ErrorCode = cecOK;
  if (IsTemporaryTable()) {
    ErrorCode = cecUpdateInTemporaryMode;
    return;
  }
  if (!IsMultiUserDisk()) return;

  const TVEZLockType lock_type = InTransaction() ? ltXIRW : ltSIRW;
  // Only the locks taken here are given back when the edit fails: a refused
  // ltSIRW or record lock means an earlier edit of this session holds one,
  // and that edit keeps it.
  TEditLocks taken;
  bool succeeded = false;
  TScopeExit release_taken([&] {
    if (succeeded) return;
    if (taken.RecordLocked) UnlockRecord(taken.RecordID);
    if (taken.TableLocked) UnlockTable(taken.TableLockType, false);
  });
  if (!LockTable(lock_type, kEditLockTryCount, kEditLockDelayMS, true)) {
    ErrorCode = cecTableLocked;
    return;
  }
  taken.TableLocked = true;
  taken.TableLockType = lock_type;
  if (!LockRecord(CurrentRecordID, kRecordLockTryCount, kRecordLockDelayMS)) {
    ErrorCode = cecRecordLocked;
    return;
  }
  taken.RecordLocked = true;
  taken.RecordID = CurrentRecordID;

  const TRecordCopy copy(*this, CurrentRecordBuffer);
  if (ReReadCurrent() != grrOK) {
    ErrorCode = cecUpdateRecordDeleted;
    copy.PutBack();
    return;
  }
  if (!table.FieldManager()->CompareRecordBuffers(copy.Data(), CurrentRecordBuffer)) {
    ErrorCode = cecUpdateRecordChanged;
    copy.PutBack();
    return;
  }
  // The session holds one record lock per table, so no earlier edit of this
  // cursor can still hold its locks here.
  FEditLocks = taken;
  succeeded = true;
}

void TVEZLocalCursor::InternalCancel(bool to_insert) {
  TVEZTableData& table = Bound(20151);
  TVEZLockGuard guard(table);
  ErrorCode = cecOK;
  ClearBLOBStreams(true);
  TVEZDiskTableData* disk = DiskTable();
  if (disk != nullptr) disk->ClearModifiedBLOBFieldsInRecordBuffer(CurrentRecordBuffer);
  if (to_insert && CurrentRecordBuffer != nullptr)
    table.ClearBLOBFieldsInRecordBuffer(CurrentRecordBuffer);
  if (!to_insert && IsMultiUserDisk()) ReleaseEditLocks();
}

void TVEZLocalCursor::InternalPost(bool to_insert) {
  TVEZTableData& table = Bound(20151);
  TVEZLockGuard guard(table);
  ErrorCode = cecOK;
  ErrorMessage.clear();
  const bool multi_user_disk = IsMultiUserDisk();
  const bool in_transaction = InTransaction();
  if (multi_user_disk) {
    const TVEZLockType lock_type = in_transaction ? ltXIRW : ltRW;
    if (!LockTableForChange(lock_type, kPostLockTryCount, kPostLockSleepMS)) {
      // Nothing written; an edit's locks stay for the next try.
      ErrorCode = cecTableLocked;
      return;
    }
  }
  TScopeExit release([&] {
    if (!multi_user_disk) return;
    if (!to_insert && ErrorCode != cecErrorMessage) ReleaseEditLocks();
    if (!in_transaction) UnlockTable(ltRW, false);
  });

  ClearBLOBStreams(true);
  if (to_insert) {
    ErrorCode = ChangeRecord(TVEZRecordChange::kInsert);
    if (ErrorCode != cecErrorMessage) WriteInsertBookmark();
    return;
  }
  CurrentRecordID = BookmarkRecordID();
  const TRecordCopy edited(*this, CurrentRecordBuffer);
  if (ReReadCurrent() != grrOK) {
    ErrorCode = cecUpdateRecordDeleted;
    edited.PutBack();
    return;
  }
  const bool unchanged = EditRecordBuffer == nullptr || table.FieldManager()->CompareRecordBuffers(
                                                            EditRecordBuffer, CurrentRecordBuffer);
  edited.PutBack();
  if (!unchanged) {
    ErrorCode = cecUpdateRecordChanged;
    return;
  }
  ErrorCode = ChangeRecord(TVEZRecordChange::kUpdate);
}

void TVEZLocalCursor::InternalDelete() {
  TVEZTableData& table = Bound(20151);
  TVEZLockGuard guard(table);
  ErrorCode = cecOK;
  const bool multi_user_disk = IsMultiUserDisk();
  const bool in_transaction = InTransaction();
  TVEZPageItemID locked_record;
  if (multi_user_disk) {
    const TVEZLockType lock_type = in_transaction ? ltXIRW : ltRW;
    if (!LockTableForChange(lock_type, kDeleteLockTryCount, kDeleteLockSleepMS)) {
      ErrorCode = cecTableLocked;
      return;
    }
    bool record_locked = false;
    try {
      locked_record = CurrentRecordID;
      record_locked = LockRecord(locked_record, kRecordLockTryCount, kRecordLockDelayMS);
    } catch (...) {
      if (!in_transaction) UnlockTable(lock_type, true);
      throw;
    }
    if (!record_locked) {
      ErrorCode = cecRecordLocked;
      UnlockTable(lock_type, false);
      return;
    }
  }
  TScopeExit release([&] {
    if (!multi_user_disk) return;
    UnlockRecord(locked_record);
    if (!in_transaction) UnlockTable(ltRW, false);
  });

  if (IsTemporaryTable()) {
    ErrorCode = cecDeleteInTemporaryMode;
    return;
  }
  CurrentRecordID = BookmarkRecordID();
  const TRecordCopy copy(*this, CurrentRecordBuffer);
  if (ReReadCurrent() != grrOK) {
    ErrorCode = cecDeleteRecordDeleted;
    copy.PutBack();
    return;
  }
  // Values, not bytes: the bytes after a string's end and the BLOB cache
  // handles of two reads of one record differ.
  const bool unchanged =
      table.FieldManager()->CompareRecordBuffers(copy.Data(), CurrentRecordBuffer);
  copy.PutBack();
  if (!unchanged) {
    ErrorCode = cecDeleteRecordChanged;
    return;
  }
  ErrorCode = table.PostRecord(*this, TVEZRecordChange::kDelete);
}

bool TVEZLocalCursor::IsRecordLocked() {
  TVEZTableData& table = Bound(20151);
  TVEZLockGuard guard(table);
  if (CurrentRecordBuffer != nullptr) CurrentRecordID = BookmarkRecordID();
  TVEZDiskTableData* disk = DiskTable();
  if (disk == nullptr) return false;
  return disk->IsRecordLocked(SessionID(), CurrentRecordID);
}

// ---------------------------------------------------------------------------
// Views, filters and searches

void TVEZLocalCursor::ApplyDistinct(const std::vector<std::string>& field_names,
                                    const std::vector<std::string>& asc_desc_list,
                                    const std::vector<std::string>& case_sensitivity_list) {
  TVEZTableData& table = Bound(20151);
  TVEZLockGuard guard(table);
  bool is_created = false;
  const std::string name =
      FindOrCreateIndex(field_names, asc_desc_list, case_sensitivity_list, is_created);
  SetIndexName(name);
  DistinctFieldCount = static_cast<std::int32_t>(field_names.size());
  DisableRecordBitmap();
}

std::unique_ptr<TVEZBaseExpression> TVEZLocalCursor::NewExpression() {
  TVEZExpressionFactory* factory = ExpressionFactory();
  if (factory == nullptr) throw EVEZException(30058, kNoSqlEngine);
  return factory->CreateExpression();
}

void TVEZLocalCursor::ActivateFilters(const std::string& filter_text, bool case_insensitive,
                                      bool partial_key) {
  std::unique_ptr<TVEZBaseExpression> expression = NewExpression();
  // Parsed before the old filter goes, so a text that does not parse leaves
  // the view as it was.
  expression->ParseForFilter(this, filter_text, case_insensitive, partial_key);
  FFilterExpression = std::move(expression);
  FilterExpression = FFilterExpression.get();
  DisableRecordBitmap();
}

void TVEZLocalCursor::DeactivateFilters() {
  FilterExpression = nullptr;
  FFilterExpression.reset();
  DisableRecordBitmap();
}

bool TVEZLocalCursor::Locate(const std::string& key_fields, const platform::Variant& key_values,
                             bool case_insensitive, bool partial_key) {
  TVEZTableData& table = Bound(20151);
  std::unique_ptr<TVEZBaseExpression> expression = NewExpression();
  expression->ParseForLocate(this, key_fields, key_values, case_insensitive, partial_key);
  return table.Locate(*this, expression.get());
}

bool TVEZLocalCursor::FindKey(TVEZSearchCondition search_condition) {
  return Bound(20151).FindKey(*this, search_condition);
}

bool TVEZLocalCursor::IsAnyRecordMatchCondition(const std::string& field_name,
                                                TVEZDataOperator data_operator,
                                                const TVEZVariant& value) {
  TVEZTableData& table = Bound(20151);
  std::unique_ptr<TVEZBaseExpression> expression = NewExpression();
  expression->ParseForIsAnyRecordMatchCondition(this, field_name, data_operator, value);
  return table.Locate(*this, expression.get());
}

// ---------------------------------------------------------------------------
// BLOB streams

TVEZStream* TVEZLocalCursor::InternalCreateBlobStream(bool to_insert, bool to_edit,
                                                      std::int32_t field_no,
                                                      TVEZBLOBOpenMode open_mode,
                                                      bool can_do_get_record_buffer) {
  TVEZTableData& table = Bound(10113);
  TVEZLockGuard guard(table);
  auto create = [&]() -> TVEZStream* {
    if (field_no < 0 || field_no >= FVisibleFieldDefs.GetCount())
      throw EVEZException(10110, kInvalidFieldNumber, {field_no, FVisibleFieldDefs.GetCount()});
    const std::int32_t physical = FVisibleFieldDefs.GetDef(field_no)->FieldNoReference;
    if (open_mode == bomWrite || open_mode == bomReadWrite) {
      for (const auto& open : FBLOBStreams) {
        auto* stream = dynamic_cast<TVEZBaseBLOBStream*>(open.get());
        if (stream == nullptr) throw EVEZException(10114, kNilPointer);
        if (stream->FieldNo() == physical && stream->OpenMode() != bomRead) {
          throw EVEZException(10115, "BLOB field already opened. FieldNo = %d, FieldName = %s",
                              {physical, FFieldDefs.GetDef(physical)->Name});
        }
      }
    }
    std::unique_ptr<TVEZStream> stream =
        table.InternalCreateBlobStream(*this, to_insert, physical, open_mode);
    if (stream == nullptr) return nullptr;
    FBLOBStreams.push_back(std::move(stream));
    return FBLOBStreams.back().get();
  };
  if (!IsMultiUserDisk()) return create();

  if (!LockTable(ltS, kBlobLockTryCount, kBlobLockDelayMS, true)) return nullptr;
  TScopeExit unlock([&] { UnlockTable(ltS, false); });
  if (!to_insert && !to_edit && can_do_get_record_buffer && FBLOBStreams.empty()) {
    void* position = SavePosition();
    TScopeExit restore([&] {
      RestorePosition(position);
      FreePosition(position);
    });
    FirstPosition = false;
    LastPosition = false;
    if (GetRecordBuffer(grmCurrent) != grrOK) return nullptr;
  }
  return create();
}

void TVEZLocalCursor::CloseBLOBStream(std::size_t index) {
  auto* stream = dynamic_cast<TVEZBaseBLOBStream*>(FBLOBStreams[index].get());
  if (stream == nullptr) throw EVEZException(10120, kNilPointer);
  TVEZTableData& table = Bound(10119);
  const std::int32_t field = stream->FieldNo();
  if (stream->OpenMode() != bomRead) table.WriteBLOBFieldToRecordBuffer(*this, field, *stream);
  if (!stream->Modified() && DiskTable() != nullptr && CurrentRecordBuffer != nullptr)
    table.ClearBLOBFieldInRecordBuffer(CurrentRecordBuffer, field);
  if (auto* local = dynamic_cast<TVEZLocalBLOBStream*>(stream)) local->SetUserBLOBStream(nullptr);
  FBLOBStreams.erase(FBLOBStreams.begin() + static_cast<std::ptrdiff_t>(index));
}

void TVEZLocalCursor::InternalCloseBLOB(std::int32_t field_no) {
  TVEZTableData& table = Bound(10119);
  TVEZLockGuard guard(table);
  if (field_no < 0 || field_no >= FVisibleFieldDefs.GetCount())
    throw EVEZException(10118, kInvalidFieldNumber, {field_no, FVisibleFieldDefs.GetCount()});
  const std::int32_t physical = FVisibleFieldDefs.GetDef(field_no)->FieldNoReference;
  std::size_t i = 0;
  while (i < FBLOBStreams.size()) {
    auto* stream = dynamic_cast<TVEZBaseBLOBStream*>(FBLOBStreams[i].get());
    if (stream == nullptr) throw EVEZException(10120, kNilPointer);
    if (stream->FieldNo() == physical) {
      CloseBLOBStream(i);
    } else {
      ++i;
    }
  }
}

void TVEZLocalCursor::ClearBLOBStreams(bool write_only) {
  std::size_t i = 0;
  while (i < FBLOBStreams.size()) {
    auto* stream = dynamic_cast<TVEZBaseBLOBStream*>(FBLOBStreams[i].get());
    if (stream == nullptr) throw EVEZException(10121, kNilPointer);
    if (write_only && stream->OpenMode() == bomRead) {
      ++i;
      continue;
    }
    CloseBLOBStream(i);
  }
}

// ---------------------------------------------------------------------------
// Autoincrements, batches and constraints

std::int64_t TVEZLocalCursor::LastAutoincValue(std::int32_t field_no) {
  return Bound(20151).LastAutoincValue(field_no, Session);
}

void TVEZLocalCursor::BeginBatchUpdate() {
  if (!InTransaction()) InBatchUpdate = true;
}

void TVEZLocalCursor::EndBatchUpdate() {
  if (InTransaction() || !InBatchUpdate) return;
  TScopeExit end([&] { InBatchUpdate = false; });
  if (DiskTable() != nullptr) FTableData->ApplyChanges(SessionID(), false);
}

void TVEZLocalCursor::CancelBatchUpdate() {
  if (InTransaction() || !InBatchUpdate) return;
  TScopeExit end([&] { InBatchUpdate = false; });
  if (DiskTable() != nullptr) FTableData->CancelChanges(SessionID(), false);
}

bool TVEZLocalCursor::CheckConstraints(bool to_insert) {
  TVEZTableData& table = Bound(20151);
  return table.ConstraintManager()->CheckConstraints(
      SessionID(), CurrentRecordBuffer, EditRecordBuffer, to_insert, CurrentRecordID, false, true);
}

}  // namespace vez

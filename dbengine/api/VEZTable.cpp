#include "dbengine/api/VEZTable.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZDefConverters.h"
#include "dbengine/api/VEZFlagScope.h"
#include "dbengine/api/VEZLocalCursor.h"
#include "dbengine/api/VEZLocalSession.h"
#include "dbengine/api/VEZSession.h"
#include "dbengine/api/VEZSessionList.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/storage/VEZBaseExpression.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZDesignMode.h"
#include "platform/core/Collation.h"
#include "platform/core/Format.h"
#include "platform/dataset/DBConsts.h"
#include "platform/dataset/DatabaseError.h"
#include "platform/dataset/Stream.h"

namespace vez {

namespace {

constexpr const char* kNilPointer = "Nil pointer occured";
constexpr const char* kInTransaction = "Cannot perform '%s' operation on a database in transaction";
constexpr const char* kMissingTableName = "Missing TableName property";
constexpr const char* kNoIndexActive = "No index currently active";
constexpr const char* kCannotAccessIndexField = "Cannot access index field '%s'";

// Sets one database-use flag for a scope; cleared however the scope is left.
class DBFlagScope {
 public:
  DBFlagScope(TVEZDataSet& dataset, int flag) : FDataSet(dataset), FFlag(flag) {
    FDataSet.SetDBFlag(FFlag, true);
  }
  ~DBFlagScope() {
    try {
      FDataSet.SetDBFlag(FFlag, false);
    } catch (...) {
      // Closing the database on the way out must not replace the
      // operation's own error; the dataset no longer lists the flag.
    }
  }
  DBFlagScope(const DBFlagScope&) = delete;
  DBFlagScope& operator=(const DBFlagScope&) = delete;

 private:
  TVEZDataSet& FDataSet;
  int FFlag;
};

bool IsStringBaseType(TVEZBaseFieldType type) {
  return type == bftChar || type == bftWideChar || type == bftVarchar || type == bftWideVarchar;
}

// Column types whose declaration carries a size.
bool IsSizedAdvancedType(TVEZAdvancedFieldType type) {
  return (type >= aftChar && type <= aftWideString) || type == aftBytes || type == aftVarBytes;
}

bool IsBlobBaseType(TVEZBaseFieldType type) {
  return type == bftBlob || type == bftClob || type == bftWideClob;
}

bool IsBlobAdvancedType(TVEZAdvancedFieldType type) {
  return type == aftBlob || type == aftGraphic || type == aftMemo || type == aftFormattedMemo ||
         type == aftWideMemo;
}

bool IsDefaultExpression(const TVEZVariant& value) {
  TVEZExpressionFactory* factory = ExpressionFactory();
  if (factory == nullptr) return false;
  try {
    return factory->IsDefaultValueExpression(value);
  } catch (...) {
    // A default the parser cannot judge is taken as a literal.
    return false;
  }
}

// A non-null value whose text is empty counts as no value.
bool HasEmptyText(const TVEZVariant& value) {
  return value.IsStringDataType() && value.GetAsAnsiString().empty();
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and properties

TVEZTable::TVEZTable(platform::Component* owner)
    : TVEZDataSet(owner), FMasterLink(std::make_unique<platform::MasterDataLink>(*this)) {
  FMasterLink->OnMasterChange = [this] { MasterChanged(); };
  FMasterLink->OnMasterDisable = [this] { MasterDisabled(); };
}

TVEZTable::~TVEZTable() {
  DestroyingClose();
  FMasterLink->SetDataSource(nullptr);
}

void TVEZTable::SetTableName(const std::string& value) {
  if (value == FTableName) return;
  CheckInactive();
  FTableName = value;
  DataEvent(platform::TDataEvent::dePropertyChange, 0);
}

void TVEZTable::SetExclusive(bool value) {
  CheckInactive();
  FExclusive = value;
}

void TVEZTable::SetTemporary(bool value) {
  CheckInactive();
  FTemporary = value;
  if (value) SetDatabaseName(TVEZLocalSession::kTempAlias);
}

bool TVEZTable::Exists() {
  if (DatabaseName().empty()) return false;
  if (Database() != nullptr) return Database()->TableExists(FTableName);
  // A name that no database answers to, or a database whose file is not
  // there, holds no table; asking further would raise for no fault.
  TVEZSession* session = Sessions().FindSession(GetSessionName());
  if (session == nullptr) return false;
  TVEZDatabase* known = session->DoFindDatabase(DatabaseName(), Owner());
  const bool alias = platform::AnsiSameText(DatabaseName(), TVEZLocalSession::kMemoryAlias) ||
                     platform::AnsiSameText(DatabaseName(), TVEZLocalSession::kTempAlias);
  if (known == nullptr && !alias) return false;
  if (known != nullptr && !known->Connected() && !known->Temporary() && !known->Exists())
    return false;
  TVEZDatabase& database = OpenDatabase();
  bool exists = false;
  try {
    exists = database.TableExists(FTableName);
  } catch (...) {
    try {
      CloseDatabase(&database);
    } catch (...) {
      // The failed test is the error to report.
    }
    throw;
  }
  CloseDatabase(&database);
  return exists;
}

void TVEZTable::DataEvent(platform::TDataEvent event, std::intptr_t info) {
  if (event == platform::TDataEvent::dePropertyChange) IndexDefs().SetUpdated(false);
  TVEZDataSet::DataEvent(event, info);
}

// ---------------------------------------------------------------------------
// Opening

void TVEZTable::CheckTableName() const {
  // Blanks and control characters alone name no table.
  const bool blank = std::all_of(FTableName.begin(), FTableName.end(),
                                 [](char c) { return static_cast<unsigned char>(c) <= ' '; });
  if (blank) platform::DatabaseError(kMissingTableName, Name);
}

bool TVEZTable::InTransaction() const {
  const TVEZDatabase* database = Database();
  return database != nullptr && database->Handle() != nullptr && database->Handle()->InTransaction;
}

void TVEZTable::CheckNotInTransaction(std::int32_t native_error, const char* operation) const {
  if (InTransaction()) throw EVEZException(native_error, kInTransaction, {operation});
}

bool TVEZTable::CursorDisablesTempFiles() const {
  if (InMemory()) return true;
  const TVEZDatabase* database = Database();
  if (database == nullptr) return FDisableTempFiles;
  return database->Temporary() ? FDisableTempFiles : database->DisableTempFiles();
}

std::unique_ptr<TVEZLocalCursor> TVEZTable::NewSchemaCursor(bool exclusive) {
  assert(Database() != nullptr);
  auto cursor = std::make_unique<TVEZLocalCursor>();
  cursor->Session = Database()->Handle();
  cursor->TableName = FTableName;
  cursor->InMemory = InMemory();
  cursor->Temporary = FTemporary;
  cursor->FDisableTempFiles = CursorDisablesTempFiles();
  cursor->ReadOnly = false;
  cursor->Exclusive = exclusive;
  return cursor;
}

std::unique_ptr<TVEZLocalCursor> TVEZTable::OpenTableCursor() {
  assert(Database() != nullptr);
  auto cursor = std::make_unique<TVEZLocalCursor>();
  cursor->Session = Database()->Handle();
  cursor->TableName = FTableName;
  cursor->Exclusive = FExclusive;
  cursor->ReadOnly = ReadOnly() || Database()->ReadOnly();
  cursor->InMemory = InMemory();
  cursor->Temporary = FTemporary;
  cursor->FDisableTempFiles = CursorDisablesTempFiles();
  cursor->IsDesignMode = FIgnoreDesignMode ? false : DesignMode();
  cursor->IsRepairing = FIsRepairing;
  // A table of the memory or temporary database may have to be made from
  // the definitions the caller gave.
  if (FTemporary || InMemory()) {
    if (FieldDefs().Count() == 0) {
      AdvFieldDefsToFieldDefs(AdvFieldDefs(), FieldDefs());
    } else {
      FVEZFieldDefs.Clear();
      FieldDefsToVEZFieldDefs(FieldDefs(), FVEZFieldDefs);
    }
    if (IndexDefs().Count() != 0) {
      FVEZIndexDefs.Clear();
      IndexDefsToAdvIndexDefs(IndexDefs(), AdvIndexDefs());
      AdvIndexDefsToVEZIndexDefs(AdvIndexDefs(), FVEZIndexDefs, FieldDefs());
    }
  }
  cursor->OpenTableByFieldDefs(FVEZFieldDefs, FVEZIndexDefs, FVEZConstraintDefs);
  // A read-only database makes the table read-only for good.
  SetReadOnly(cursor->ReadOnly);
  return cursor;
}

TVEZCursor* TVEZTable::CreateHandle() {
  CheckTableName();
  IndexDefs().SetUpdated(false);
  std::unique_ptr<TVEZLocalCursor> own;
  TVEZCursor* cursor = FExternalHandle;
  if (cursor == nullptr) {
    own = OpenTableCursor();
    cursor = own.get();
  }
  FHandle = cursor;
  try {
    // Read from the new cursor here, once for the whole open.
    FieldDefs().SetUpdated(false);
    FCursorFieldDefsFresh = own != nullptr;
    UpdateIndexDefs();
    FCursorFieldDefsFresh = false;
    FFieldDefsReadFromNewHandle = true;
    const std::string index_name = ResolveIndexName(FIndexName, FFieldsIndex);
    if (!index_name.empty()) cursor->SetIndexName(index_name);
  } catch (...) {
    FCursorFieldDefsFresh = false;
    FHandle = nullptr;
    throw;
  }
  own.release();
  return cursor;
}

void TVEZTable::InternalInitFieldDefs() {
  if (FHandle != nullptr) {
    TVEZDataSet::InternalInitFieldDefs();
    return;
  }
  DBFlagScope flag(*this, 4);
  CheckTableName();
  std::unique_ptr<TVEZLocalCursor> cursor = OpenTableCursor();
  cursor->InternalInitFieldDefs();
  FVEZFieldDefs.Assign(cursor->VisibleFieldDefs());
  FieldDefs().Clear();
  VEZFieldDefsToFieldDefs(cursor->VisibleFieldDefs(), cursor->FieldDefs(), cursor->ConstraintDefs(),
                          FieldDefs());
  VEZFieldDefsToAdvFieldDefs(cursor->VisibleFieldDefs(), cursor->FieldDefs(),
                             cursor->ConstraintDefs(), AdvFieldDefs());
  RestructureFieldDefs().Assign(AdvFieldDefs());
}

void TVEZTable::UpdateIndexDefs() {
  if (IndexDefs().Updated()) return;
  DBFlagScope flag(*this, 5);
  FieldDefs().Update();
  std::unique_ptr<TVEZLocalCursor> temporary;
  TVEZCursor* cursor = FHandle;
  if (cursor == nullptr) {
    temporary = OpenTableCursor();
    cursor = temporary.get();
  }
  VEZIndexDefsToAdvIndexDefs(*cursor->GetIndexDefs(), AdvIndexDefs());
  AdvIndexDefsToIndexDefs(AdvIndexDefs(), IndexDefs());
  RestructureIndexDefs().Assign(AdvIndexDefs());
  IndexDefs().SetUpdated(true);
}

// ---------------------------------------------------------------------------
// Table operations

void TVEZTable::NormalizeAdvFieldDefs() {
  for (std::int32_t i = 0; i < AdvFieldDefs().Count(); ++i) {
    TVEZAdvFieldDef& def = *AdvFieldDefs().GetDef(i);
    const TVEZBaseFieldType base = AdvancedTypeToBaseType(def.DataType);
    if (def.DefaultValue.GetIsNull() || HasEmptyText(def.DefaultValue)) {
      def.DefaultValue.SetNull(base);
    } else if (!IsDefaultExpression(def.DefaultValue) && !IsBlobBaseType(base)) {
      // A BLOB column's default stays text: it is written into new records
      // through a stream, and a value cannot be cast to a BLOB type.
      def.DefaultValue.Cast(base);
    }
    for (TVEZVariant* bound : {&def.MinValue, &def.MaxValue}) {
      if (bound->GetIsNull() || HasEmptyText(*bound))
        bound->SetNull(base);
      else
        bound->Cast(base);
    }
    if (def.Size != 0 && !IsStringBaseType(base) && base != bftBytes && base != bftVarBytes)
      def.Size = 0;
    if (def.DataType == aftGuid) def.Size = platform::kGuidSize;
  }
}

void TVEZTable::ValidateAdvFieldDefs() {
  TVEZAdvFieldDefs& defs = AdvFieldDefs();
  for (std::int32_t i = 0; i < defs.Count(); ++i) {
    const TVEZAdvFieldDef& def = *defs.GetDef(i);
    if (def.Name.empty())
      throw EVEZException(30499, "Missing field name. FieldNo=%d, table '%s'", {i, FTableName});
    const bool sized = (def.DataType >= aftChar && def.DataType <= aftWideString) ||
                       def.DataType == aftGuid || def.DataType == aftBytes ||
                       def.DataType == aftVarBytes;
    if (sized && def.Size <= 0)
      throw EVEZException(30453, "Cannot create table '%s' with field: %s %s(%d)",
                          {FTableName, def.Name,
                           BaseTypeToSQLTypeName(AdvancedTypeToBaseType(def.DataType)), def.Size});
    if (IsBlobAdvancedType(def.DataType) &&
        def.BLOBCompressionAlgorithm != TCompressionAlgorithm::caNone &&
        (def.BLOBCompressionMode == 0 || def.BLOBCompressionMode > 9))
      throw EVEZException(20257,
                          "Invalid BlobCompressionMode (must be in 1..9 range) for blob field "
                          "'%s'. Cannot create table '%s'",
                          {def.Name, FTableName});
  }
}

void TVEZTable::NormalizeIndexColumnSizes() {
  for (std::int32_t i = 0; i < AdvIndexDefs().Count(); ++i) {
    TVEZAdvIndexDef& adv = *AdvIndexDefs().GetDef(i);
    TVEZIndexDef def;
    AdvIndexDefToVEZIndexDef(adv, def, FieldDefs());
    bool changed = false;
    for (std::int32_t c = 0; c < def.ColumnCount(); ++c) {
      TVEZIndexColumn& column = *def.GetIndexColumn(c);
      const TVEZAdvFieldDef* field = AdvFieldDefs().Find(column.FieldName);
      const bool keep =
          field == nullptr || (column.MaxIndexedSize > 0 && IsSizedAdvancedType(field->DataType));
      if (keep || column.MaxIndexedSize == kUnsizedIndexColumnSize) continue;
      column.MaxIndexedSize = kUnsizedIndexColumnSize;
      changed = true;
    }
    if (changed) VEZIndexDefToAdvIndexDef(def, adv);
  }
}

void TVEZTable::CreateTable() {
  CheckInactive();
  CheckTableName();
  DBFlagScope flag(*this, 3);
  std::unique_ptr<TVEZLocalCursor> cursor = NewSchemaCursor(true);
  if (AdvFieldDefs().Count() == 0) {
    for (int i = 0; i < FieldDefs().Count(); ++i) {
      platform::FieldDef& def = FieldDefs().Items(i);
      if (def.DataType == platform::ftGuid) def.Size = platform::kGuidSize;
    }
    FieldDefsToAdvFieldDefs(FieldDefs(), AdvFieldDefs());
    ValidateAdvFieldDefs();
  } else {
    NormalizeAdvFieldDefs();
    ValidateAdvFieldDefs();
    FieldDefs().Clear();
    AdvFieldDefsToFieldDefs(AdvFieldDefs(), FieldDefs());
  }
  if (AdvIndexDefs().Count() == 0) {
    IndexDefsToAdvIndexDefs(IndexDefs(), AdvIndexDefs());
  } else {
    IndexDefs().Clear();
    AdvIndexDefsToIndexDefs(AdvIndexDefs(), IndexDefs());
  }
  NormalizeIndexColumnSizes();
  AdvIndexDefsToVEZIndexDefs(AdvIndexDefs(), FVEZIndexDefs, FieldDefs());
  AdvFieldDefsToVEZDefs(AdvFieldDefs(), FVEZFieldDefs, FVEZIndexDefs, FVEZConstraintDefs,
                        FTemporary);
  CheckNotInTransaction(20182, "CreateTable");
  cursor->CreateTable(FVEZFieldDefs, FVEZIndexDefs, FVEZConstraintDefs);
}

void TVEZTable::DeleteTable() {
  if (Active()) Close();
  CheckTableName();
  DBFlagScope flag(*this, 3);
  std::unique_ptr<TVEZLocalCursor> cursor = NewSchemaCursor(true);
  CheckNotInTransaction(20183, "DeleteTable");
  cursor->DeleteTable();
}

void TVEZTable::EmptyTable() {
  CheckInactive();
  CheckTableName();
  DBFlagScope flag(*this, 3);
  std::unique_ptr<TVEZLocalCursor> cursor = NewSchemaCursor(true);
  cursor->EmptyTable();
}

void TVEZTable::RenameTable(const std::string& new_table_name) {
  CheckInactive();
  CheckTableName();
  DBFlagScope flag(*this, 3);
  std::unique_ptr<TVEZLocalCursor> cursor = NewSchemaCursor(true);
  CheckNotInTransaction(20181, "RenameTable");
  cursor->RenameTable(new_table_name);
  FTableName = new_table_name;
  IndexDefs().SetUpdated(false);
}

void TVEZTable::RenameField(const std::string& field_name, const std::string& new_field_name) {
  CheckInactive();
  const bool was_exclusive = FExclusive;
  FExclusive = true;
  try {
    Open();
    try {
      CheckNotInTransaction(20179, "RenameField");
      FHandle->RenameField(field_name, new_field_name);
    } catch (...) {
      Close();
      throw;
    }
    Close();
  } catch (...) {
    FExclusive = was_exclusive;
    throw;
  }
  FExclusive = was_exclusive;
  // The definitions read while open name the column as it was.
  FieldDefs().SetUpdated(false);
  IndexDefs().SetUpdated(false);
}

// ---------------------------------------------------------------------------
// Index operations

TVEZCursor& TVEZTable::IndexCursor(std::unique_ptr<TVEZLocalCursor>& temporary) {
  if (FHandle != nullptr) {
    CheckBrowseMode();
    CursorPosChanged();
    return *FHandle;
  }
  CheckTableName();
  temporary = OpenTableCursor();
  return *temporary;
}

void TVEZTable::AddIndex(const std::string& name, const std::string& fields,
                         platform::TIndexOptions options, const std::string& desc_fields,
                         const std::string& case_ins_fields) {
  FieldDefs().Update();
  DBFlagScope flag(*this, 5);
  struct MarkIndexDefs {
    platform::IndexDefs& defs;
    ~MarkIndexDefs() { defs.SetUpdated(false); }
  } mark{IndexDefs()};
  std::unique_ptr<TVEZLocalCursor> temporary;
  TVEZCursor& cursor = IndexCursor(temporary);
  if (name.empty()) throw EVEZException(20046, "Invalid index name '%s'", {std::string()});
  if (fields.empty()) throw EVEZException(20047, "Cannot find index field '%s'", {std::string()});
  CheckNotInTransaction(20175, "AddIndex");
  TVEZIndexDef def;
  BuildIndexDef(def, name, fields, options, false, desc_fields, case_ins_fields, {}, FieldDefs());
  cursor.InternalInitFieldDefs();
  if (!cursor.LockTable(ltX, kIndexLockTryCount, kIndexLockDelayMS, true))
    throw EVEZException(20228,
                        "Cannot access table '%s' in exclusive mode. Table is open by another user",
                        {FTableName});
  try {
    cursor.AddIndex(def);
  } catch (...) {
    cursor.UnlockTable(ltX, false);
    throw;
  }
  cursor.UnlockTable(ltX, false);
}

void TVEZTable::DeleteIndex(const std::string& name) {
  DBFlagScope flag(*this, 5);
  struct MarkIndexDefs {
    platform::IndexDefs& defs;
    ~MarkIndexDefs() { defs.SetUpdated(false); }
  } mark{IndexDefs()};
  std::unique_ptr<TVEZLocalCursor> temporary;
  TVEZCursor& cursor = IndexCursor(temporary);
  CheckNotInTransaction(20177, "DeleteIndex");
  cursor.InternalInitFieldDefs();
  cursor.DeleteIndex(name);
}

void TVEZTable::DeleteAllIndexes() {
  DBFlagScope flag(*this, 5);
  struct MarkIndexDefs {
    platform::IndexDefs& defs;
    ~MarkIndexDefs() { defs.SetUpdated(false); }
  } mark{IndexDefs()};
  std::unique_ptr<TVEZLocalCursor> temporary;
  TVEZCursor& cursor = IndexCursor(temporary);
  CheckNotInTransaction(20178, "DeleteAllIndexes");
  cursor.InternalInitFieldDefs();
  cursor.DeleteAllIndexes();
}

std::string TVEZTable::FindOrCreateIndex(const std::vector<std::string>& field_names,
                                         const std::vector<std::string>& asc_desc_list,
                                         const std::vector<std::string>& case_sensitivity_list,
                                         bool& is_created) {
  return CheckHandle(10311).FindOrCreateIndex(field_names, asc_desc_list, case_sensitivity_list,
                                              is_created);
}

bool TVEZTable::IndexExists(const std::vector<std::string>& field_names,
                            const std::vector<std::string>& asc_desc_list,
                            const std::vector<std::string>& case_sensitivity_list) {
  return CheckHandle(10514).IndexExists(field_names, asc_desc_list, case_sensitivity_list);
}

// ---------------------------------------------------------------------------
// Other operations

bool TVEZTable::IsRecordLocked() {
  if (FHandle == nullptr) return false;
  return FHandle->IsRecordLocked();
}

std::int64_t TVEZTable::LastAutoincValue(std::int32_t field_index) {
  CheckActive();
  return CheckHandle(10311).LastAutoincValue(field_index);
}

std::int64_t TVEZTable::LastAutoincValue(const std::string& field_name) {
  const platform::Field& field = FieldByName(field_name);
  for (int i = 0; i < FieldCount(); ++i)
    if (&Fields(i) == &field) return LastAutoincValue(i);
  platform::DatabaseError(platform::Format(platform::dbconsts::SFieldNotFound, {field_name}), Name);
}

void TVEZTable::RepairTable() {
  DBFlagScope flag(*this, 11);
  CheckTableName();
  std::unique_ptr<TVEZLocalCursor> cursor;
  {
    TVEZFlagScope repairing(FIsRepairing, true);
    cursor = OpenTableCursor();
  }
}

// New records take the master's values into their index fields, then the
// BLOB columns' default texts.
void TVEZTable::DoOnNewRecord() {
  if (FMasterLink->Active() && !FMasterLink->Fields().empty()) {
    const std::vector<platform::Field*>& master = FMasterLink->Fields();
    for (std::size_t i = 0; i < master.size(); ++i)
      GetIndexField(static_cast<int>(i)).Assign(*master[i]);
  }
  TVEZDataSet::DoOnNewRecord();
  ApplyBlobDefaults();
}

void TVEZTable::ApplyBlobDefaults() {
  if (FHandle == nullptr) return;
  const TVEZFieldDefs& defs = FHandle->FieldDefs();
  for (std::int32_t i = 0; i < defs.GetCount() && i < FieldCount(); ++i) {
    const TVEZFieldDef& def = *defs.GetDef(i);
    if ((def.BaseFieldType != bftBlob && def.BaseFieldType != bftClob) ||
        def.DefaultValue.GetIsNull())
      continue;
    std::string text;
    bool evaluated = false;
    if (def.DefaultValueExpr != nullptr) {
      try {
        if (TVEZVariant* value = def.DefaultValueExpr->GetValue(true)) {
          text = value->GetAsAnsiString();
          evaluated = true;
        }
      } catch (...) {
        // The stored default stands in for an expression that fails.
      }
    }
    if (!evaluated) text = def.DefaultValue.GetAsAnsiString();
    std::unique_ptr<platform::Stream> stream =
        CreateBlobStream(Fields(i), platform::TBlobStreamMode::bmWrite);
    if (stream && !text.empty()) stream->Write(text.data(), static_cast<std::int64_t>(text.size()));
  }
}

// ---------------------------------------------------------------------------
// Index choice

void TVEZTable::SetIndex(const std::string& value, bool fields_index) {
  if (Active()) CheckBrowseMode();
  if (value == FIndexName && fields_index == FFieldsIndex) return;
  if (Active()) {
    SwitchToIndex(ResolveIndexName(value, fields_index));
    CheckMasterRange();
  }
  FIndexName = value;
  FFieldsIndex = fields_index;
  if (Active()) Resync(0);
}

std::string TVEZTable::ResolveIndexName(const std::string& value, bool fields_index) {
  if (value.empty()) return {};
  IndexDefs().SetUpdated(false);
  IndexDefs().Update();
  if (fields_index) return IndexDefs().FindIndexForFields(value).Name;
  return value;
}

platform::Field& TVEZTable::GetIndexField(int index) {
  if (index < 0 || index >= IndexFieldCount())
    platform::DatabaseError(platform::dbconsts::SFieldIndexError, Name);
  const int field_no = IndexFieldMap()[static_cast<std::size_t>(index)];
  if (field_no > 0) {
    for (int i = 0; i < FieldCount(); ++i)
      if (Fields(i).FieldNo() == field_no) return Fields(i);
  }
  std::string name;
  if (field_no > 0 && field_no <= FieldDefs().Count()) name = FieldDefs().Items(field_no - 1).Name;
  platform::DatabaseError(platform::Format(kCannotAccessIndexField, {name}), Name);
}

void TVEZTable::SetIndexField(int index, const platform::Field& value) {
  GetIndexField(index).Assign(value);
}

void TVEZTable::ApplyDistinct(const std::vector<std::string>& field_names,
                              const std::vector<std::string>& asc_desc_list,
                              const std::vector<std::string>& case_sensitivity_list) {
  TVEZCursor& cursor = CheckHandle(10319);
  cursor.ApplyDistinct(field_names, asc_desc_list, case_sensitivity_list);
  SetIndexName(cursor.IndexName());
}

void TVEZTable::ApplyDistinct(TVEZDataSet& ds) {
  TVEZCursor& cursor = CheckHandle(10319);
  TVEZCursor* other = ds.Handle();
  if (other == nullptr) throw EVEZException(10319, kNilPointer);
  SetIndexName(other->IndexName());
  cursor.DistinctFieldCount = other->DistinctFieldCount;
  cursor.DisableRecordBitmap();
}

// ---------------------------------------------------------------------------
// Key editing

void TVEZTable::SetKeyBuffer(int key_index, bool clear) {
  TVEZCursor& cursor = CheckHandle(10286);
  CheckBrowseMode();
  std::uint8_t* key = KeyBuffers(key_index);
  platform::DataSet::SetKeyBuffer(key, KeyBuffers(kiSave), cursor.KeyBufferSize, clear);
  SetModified(KeyModified(key));
}

void TVEZTable::PostKeyBuffer(bool commit) {
  CheckHandle(10288);
  if (!commit || KeyBuffer() == nullptr) {
    platform::DataSet::PostKeyBuffer(commit);
    return;
  }
  // The links hand in their pending edits first, so the key's Modified byte
  // counts them; they hear of it once.
  DataEvent(platform::TDataEvent::deCheckBrowseMode, 0);
  SetKeyModified(KeyBuffer(), Modified());
  SetState(platform::TDataSetState::dsBrowse);
  DataEvent(platform::TDataEvent::deDataSetChange, 0);
}

void TVEZTable::CheckSetKeyMode() {
  if (State() != platform::TDataSetState::dsSetKey)
    platform::DatabaseError(platform::dbconsts::SNotEditing, Name);
}

bool TVEZTable::KeyExclusive() {
  CheckHandle(10282);
  CheckSetKeyMode();
  return TVEZDataSet::KeyExclusive(KeyBuffer());
}

void TVEZTable::SetKeyExclusive(bool value) {
  CheckHandle(10283);
  CheckSetKeyMode();
  TVEZDataSet::SetKeyExclusive(KeyBuffer(), value);
}

int TVEZTable::KeyFieldCount() {
  CheckHandle(10284);
  CheckSetKeyMode();
  return TVEZDataSet::KeyFieldCount(KeyBuffer());
}

void TVEZTable::SetKeyFieldCount(int value) {
  CheckHandle(10285);
  CheckSetKeyMode();
  TVEZDataSet::SetKeyFieldCount(KeyBuffer(), value);
}

// Each value goes into its index field as an assignment to that field
// would take it (rounding, range checks, conversions), under a temporary
// key-editing state that data sources do not hear of.
void TVEZTable::SetKeyFields(int key_index, std::span<const platform::Variant> values) {
  TVEZCursor& cursor = CheckHandle(10289);
  if (!HasCurrentIndex()) platform::DatabaseError(kNoIndexActive, Name);
  // Checked before the key changes, so a refused call leaves it as it was.
  if (values.size() > static_cast<std::size_t>(IndexFieldCount()))
    platform::DatabaseError(platform::dbconsts::SFieldIndexError, Name);
  std::uint8_t* key = KeyBuffers(key_index);
  std::vector<std::uint8_t> saved(key, key + cursor.KeyBufferSize);
  const platform::TRecordBuffer previous_target = KeyBuffer();
  try {
    TempState temporary(*this, platform::TDataSetState::dsSetKey);
    SetKeyBufferTarget(key);
    InitKeyBuffer(key);
    for (std::size_t i = 0; i < values.size(); ++i)
      GetIndexField(static_cast<int>(i)).SetValue(values[i]);
    SetKeyFieldCount(key, static_cast<std::int32_t>(values.size()));
    SetKeyModified(key, Modified());
  } catch (...) {
    SetKeyBufferTarget(previous_target);
    std::memcpy(key, saved.data(), saved.size());
    throw;
  }
  SetKeyBufferTarget(previous_target);
}

// ---------------------------------------------------------------------------
// Key search

template <typename F>
void TVEZTable::UnderReadLock(F&& reread) {
  const bool locked = FHandle->LockTable(ltS, kReadLockTryCount, kReadLockDelayMS, true);
  if (!locked) {
    reread();
    return;
  }
  try {
    reread();
  } catch (...) {
    FHandle->UnlockTable(ltS, false);
    throw;
  }
  FHandle->UnlockTable(ltS, false);
}

template <typename F>
bool TVEZTable::UnderFreeReadLock(F&& search_and_reread) {
  if (!FHandle->LockTable(ltS, 1, 0, true)) return false;
  try {
    search_and_reread();
  } catch (...) {
    FHandle->UnlockTable(ltS, false);
    throw;
  }
  FHandle->UnlockTable(ltS, false);
  return true;
}

void TVEZTable::PrepareCursorKey() {
  std::uint8_t* key = KeyBuffers(kiLookup);
  FHandle->KeyBuffer = key;
  const std::int32_t count = TVEZDataSet::KeyFieldCount(key);
  FHandle->KeyFieldCount = count != 0 ? count : IndexFieldCount();
}

bool TVEZTable::GotoKey() {
  CheckHandle(10290);
  CheckBrowseMode();
  DoBeforeScroll();
  CursorPosChanged();
  PrepareCursorKey();
  bool found = false;
  if (!UnderFreeReadLock([&] {
        found = FHandle->FindKey(scEqual);
        if (found) Resync(platform::rmExact | platform::rmCenter);
      })) {
    if (!FHandle->FindKey(scEqual)) return false;
    UnderReadLock([this] { Resync(platform::rmExact | platform::rmCenter); });
    found = true;
  }
  if (!found) return false;
  DoAfterScroll();
  return true;
}

void TVEZTable::GotoNearest() {
  CheckHandle(10291);
  CheckBrowseMode();
  CursorPosChanged();
  PrepareCursorKey();
  const TVEZSearchCondition condition =
      TVEZDataSet::KeyExclusive(KeyBuffers(kiLookup)) ? scGreater : scGreaterEqual;
  const auto reread = [this](bool found) {
    if (!found) Last();
    Resync(platform::rmCenter);
  };
  if (UnderFreeReadLock([&] { reread(FHandle->FindKey(condition)); })) return;
  const bool found = FHandle->FindKey(condition);
  UnderReadLock([&] { reread(found); });
}

bool TVEZTable::FindKey(std::span<const platform::Variant> key_values) {
  CheckBrowseMode();
  SetKeyFields(kiLookup, key_values);
  return GotoKey();
}

void TVEZTable::FindNearest(std::span<const platform::Variant> key_values) {
  CheckBrowseMode();
  SetKeyFields(kiLookup, key_values);
  GotoNearest();
}

// ---------------------------------------------------------------------------
// Ranges

void TVEZTable::SetRange(std::span<const platform::Variant> start_values,
                         std::span<const platform::Variant> end_values) {
  CheckBrowseMode();
  SetKeyFields(kiRangeStart, start_values);
  SetKeyFields(kiRangeEnd, end_values);
  ApplyRange();
}

// The cursor works on the buffers of the range in force (3 and 4), so
// editing the next range (1 and 2) does not move the view before it is
// applied.
bool TVEZTable::SetCursorRange() {
  TVEZCursor& cursor = CheckHandle(10296);
  const auto size = static_cast<std::size_t>(cursor.KeyBufferSize);
  for (int index : {kiRangeStart, kiCurRangeStart, kiRangeEnd, kiCurRangeEnd})
    cursor.ClearStringFieldsGarbage(KeyBuffers(index));
  if (std::memcmp(KeyBuffers(kiRangeStart), KeyBuffers(kiCurRangeStart), size) == 0 &&
      std::memcmp(KeyBuffers(kiRangeEnd), KeyBuffers(kiCurRangeEnd), size) == 0)
    return false;
  std::memcpy(KeyBuffers(kiCurRangeStart), KeyBuffers(kiRangeStart), size);
  std::memcpy(KeyBuffers(kiCurRangeEnd), KeyBuffers(kiRangeEnd), size);
  std::uint8_t* start = KeyBuffers(kiCurRangeStart);
  std::uint8_t* end = KeyBuffers(kiCurRangeEnd);
  std::int32_t start_count = TVEZDataSet::KeyFieldCount(start);
  std::int32_t end_count = TVEZDataSet::KeyFieldCount(end);
  if (start_count == 0) start_count = IndexFieldCount();
  if (end_count == 0) end_count = IndexFieldCount();
  cursor.ApplyRange(start, end, start_count, end_count, TVEZDataSet::KeyExclusive(start),
                    TVEZDataSet::KeyExclusive(end));
  return true;
}

void TVEZTable::ApplyRange() {
  CheckBrowseMode();
  if (SetCursorRange()) UnderReadLock([this] { First(); });
}

void TVEZTable::CancelRange() {
  CheckBrowseMode();
  UpdateCursorPos();
  if (ResetCursorRange()) UnderReadLock([this] { Resync(0); });
}

// ---------------------------------------------------------------------------
// Data-provider interface

namespace {

// Every field of a ';'-separated list is among the dataset's fields.
bool HasAllFields(const platform::DataSet& dataset, const std::string& fields) {
  std::size_t start = 0;
  while (start <= fields.size()) {
    std::size_t end = fields.find(';', start);
    if (end == std::string::npos) end = fields.size();
    const std::string name = fields.substr(start, end - start);
    if (!name.empty() && dataset.FindField(name) == nullptr) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

void TVEZTable::PSSetCommandText(const std::string& text) {
  if (!text.empty()) SetTableName(text);
}

std::string TVEZTable::PSGetKeyFields() {
  if (Exists()) {
    IndexDefs().Update();
    const bool any = FieldCount() == 0;
    for (int i = 0; i < IndexDefs().Count(); ++i) {
      const platform::IndexDef& def = IndexDefs().Items(i);
      if ((def.Options & (platform::ixPrimary | platform::ixUnique)) == 0) continue;
      if (any || HasAllFields(*this, def.Fields)) return def.Fields;
    }
  }
  std::string names;
  for (int i = 0; i < FieldCount(); ++i) {
    if (i > 0) names += ';';
    names += Fields(i).FieldName();
  }
  return names;
}

std::vector<platform::IndexDef> TVEZTable::PSGetIndexDefs(platform::TIndexOptions index_types) {
  IndexDefs().Update();
  std::vector<platform::IndexDef> defs;
  for (int i = 0; i < IndexDefs().Count(); ++i) {
    const platform::IndexDef& def = IndexDefs().Items(i);
    if (index_types == 0 || (def.Options & index_types) != 0) defs.push_back(def);
  }
  return defs;
}

std::optional<platform::IndexDef> TVEZTable::PSGetDefaultOrder() {
  IndexDefs().Update();
  const platform::IndexDef* chosen = nullptr;
  if (!FIndexName.empty()) {
    if (FFieldsIndex) {
      chosen = IndexDefs().GetIndexForFields(FIndexName);
    } else if (const int at = IndexDefs().IndexOf(FIndexName); at >= 0) {
      chosen = &IndexDefs().Items(at);
    }
    if (chosen != nullptr && !HasAllFields(*this, chosen->Fields)) chosen = nullptr;
  }
  for (platform::TIndexOptions kind : {platform::ixPrimary, platform::ixUnique}) {
    for (int i = 0; chosen == nullptr && i < IndexDefs().Count(); ++i) {
      const platform::IndexDef& def = IndexDefs().Items(i);
      if ((def.Options & kind) != 0 && HasAllFields(*this, def.Fields)) chosen = &def;
    }
  }
  if (chosen == nullptr) return std::nullopt;
  return *chosen;
}

void TVEZTable::PSSetParams(const platform::Params& params) {
  if (params.Count() > 0) {
    Open();
    const auto assign = [&] {
      for (int i = 0; i < params.Count(); ++i) {
        const platform::Param& param = params.Items(i);
        platform::Field& field = param.Name.empty() ? GetIndexField(i) : FieldByName(param.Name);
        field.SetValue(param.Value());
      }
    };
    for (bool start : {true, false}) {
      start ? SetRangeStart() : SetRangeEnd();
      try {
        assign();
      } catch (...) {
        // The range as it was stays in force.
        Cancel();
        throw;
      }
      Post();
    }
    ApplyRange();
  } else if (Active()) {
    CancelRange();
  }
  // Read again rather than close and reopen: closing would drop the range
  // the parameters just set.
  if (Active()) Refresh();
}

// ---------------------------------------------------------------------------
// Master/detail

void TVEZTable::SetMasterSource(platform::DataSource* source) {
  if (source != nullptr && IsLinkedTo(source))
    platform::DatabaseError(platform::dbconsts::SCircularDataLink, Name);
  FMasterLink->SetDataSource(source);
}

void TVEZTable::SetLinkRanges(const std::vector<platform::Field*>& master_fields) {
  TVEZCursor& cursor = CheckHandle(10299);
  // Each master field needs an index column to go into, also when no index
  // is chosen at all.
  if (master_fields.size() > static_cast<std::size_t>(IndexFieldCount()))
    platform::DatabaseError(platform::dbconsts::SFieldIndexError, Name);
  std::vector<platform::Variant> values;
  values.reserve(master_fields.size());
  for (const platform::Field* field : master_fields)
    values.push_back(field->Value());
  SetKeyFields(kiRangeStart, values);
  SetKeyModified(KeyBuffers(kiRangeStart), true);
  std::memcpy(KeyBuffers(kiRangeEnd), KeyBuffers(kiRangeStart),
              static_cast<std::size_t>(cursor.KeyBufferSize));
}

void TVEZTable::CheckMasterRange() {
  if (FMasterLink->Active() && !FMasterLink->Fields().empty()) {
    SetLinkRanges(FMasterLink->Fields());
    SetCursorRange();
  }
}

void TVEZTable::ApplyMasterRange() {
  CheckMasterRange();
}

void TVEZTable::MasterChanged() {
  CheckBrowseMode();
  SetLinkRanges(FMasterLink->Fields());
  ApplyRange();
}

void TVEZTable::MasterDisabled() {
  CancelRange();
}

}  // namespace vez

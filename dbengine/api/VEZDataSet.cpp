#include "dbengine/api/VEZDataSet.h"

#include <cassert>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "dbengine/api/VEZBLOBStream.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZDefConverters.h"
#include "dbengine/api/VEZEngineError.h"
#include "dbengine/api/VEZSession.h"
#include "dbengine/api/VEZSessionList.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZDesignMode.h"
#include "platform/core/Collation.h"
#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"
#include "platform/dataset/ByteOrder.h"
#include "platform/dataset/DBConsts.h"
#include "platform/dataset/DatabaseError.h"

namespace vez {

using platform::TBookmarkFlag;
using platform::TDataSetState;
using platform::TGetResult;
using platform::TRecordBuffer;

namespace {

// The database-use flag held while a projection reopens the dataset.
constexpr int kProjectionFlag = 15;
// A BLOB stream the cursor would not open.
constexpr std::int32_t kBlobNotOpened = 10109;
constexpr const char* kNilPointer = "Nil pointer occured";
constexpr std::int32_t kFlagOffset = TVEZPageItemID::kSize;
constexpr double kMSecsPerDay = platform::MSecsPerDay;

// Restores the cursor's current record buffer when it goes.
class TCurrentBufferScope {
 public:
  TCurrentBufferScope(TVEZCursor& cursor, std::uint8_t* buffer)
      : FCursor(cursor), FSaved(cursor.CurrentRecordBuffer) {
    cursor.CurrentRecordBuffer = buffer;
  }
  TCurrentBufferScope(const TCurrentBufferScope&) = delete;
  TCurrentBufferScope& operator=(const TCurrentBufferScope&) = delete;
  ~TCurrentBufferScope() { FCursor.CurrentRecordBuffer = FSaved; }

 private:
  TVEZCursor& FCursor;
  std::uint8_t* FSaved;
};

// Saves the cursor's position and puts it back (and frees it) when it goes.
class TPositionScope {
 public:
  explicit TPositionScope(TVEZCursor& cursor) : FCursor(cursor), FPosition(cursor.SavePosition()) {}
  TPositionScope(const TPositionScope&) = delete;
  TPositionScope& operator=(const TPositionScope&) = delete;
  ~TPositionScope() {
    FCursor.RestorePosition(FPosition);
    FCursor.FreePosition(FPosition);
  }

 private:
  TVEZCursor& FCursor;
  void* FPosition;
};

// The engine's date-time pair as the field buffer's milliseconds since
// 0001-01-01: exact for every day, also before 1899-12-30.
double EngineDateTimeToMSecs(const TVEZDateTime& value) {
  return static_cast<double>(value.Date) * kMSecsPerDay + value.Time;
}

TVEZDateTime MSecsToEngineDateTime(double msecs) {
  const double whole = std::nearbyint(msecs);
  const double days = std::floor(whole / kMSecsPerDay);
  if (!(days >= 1 && days <= 3652059)) throw platform::EConvertError("Invalid date-time value");
  TVEZDateTime result;
  result.Date = static_cast<std::int32_t>(days);
  result.Time = static_cast<std::int32_t>(whole - days * kMSecsPerDay);
  return result;
}

}  // namespace

TVEZDataSet::TVEZDataSet(platform::Component* owner)
    : platform::DataSet(owner), FIndexDefs(this), FAdvIndexDefs([this] { UpdateIndexDefs(); }) {}

TVEZDataSet::~TVEZDataSet() {
  DestroyingClose();
  // A failed close can leave flags set; the database must not keep listing
  // a freed dataset.
  try {
    DetachAll();
  } catch (...) {
  }
  FreeEditRecordBuffer();
  FreeKeyBuffers();
  if (FExternalHandle == nullptr) delete FHandle;
}

std::string TVEZDataSet::CurrentVersion() {
  return "7.50 ";
}

void TVEZDataSet::Disconnect() {
  Close();
  // Flags other than the cursor's (a prepared query, a schema operation)
  // would keep a database that is closing listing this dataset.
  DetachAll();
}

void TVEZDataSet::DetachAll() {
  if (FDBFlags == 0) return;
  FDBFlags = 1;
  SetDBFlag(0, false);
}

void TVEZDataSet::SetSessionName(const std::string& session_name) {
  CheckInactive();
  FSessionName = session_name;
  DataEvent(platform::TDataEvent::dePropertyChange, 0);
}

void TVEZDataSet::SetDatabaseName(const std::string& value) {
  if (value == FDatabaseName) return;
  CheckInactive();
  if (FDatabase != nullptr) platform::DatabaseError(platform::dbconsts::SDatabaseOpen, Name);
  FDatabaseName = value;
  FInMemory = platform::AnsiSameText(value, "MEMORY");
  DataEvent(platform::TDataEvent::dePropertyChange, 0);
}

void TVEZDataSet::SetInMemory(bool value) {
  CheckInactive();
  FInMemory = value;
  if (value) FDatabaseName = "MEMORY";
}

TVEZSession* TVEZDataSet::DBSession() const {
  if (FDatabase != nullptr) return FDatabase->Session();
  if (TVEZSession* session = Sessions().FindSession(FSessionName)) return session;
  return &DefaultSession();
}

void TVEZDataSet::GetDatabaseNameList(std::vector<std::string>& list) const {
  list.clear();
  TVEZSession* session = DBSession();
  if (session == nullptr) return;
  for (std::int32_t i = 0; i < session->DatabaseCount(); ++i)
    list.push_back(session->GetDatabase(i)->DatabaseName());
}

bool TVEZDataSet::DBFlag(int flag) const {
  assert(flag >= 0 && flag <= 15);
  return (FDBFlags & (1u << flag)) != 0;
}

TVEZDatabase& TVEZDataSet::OpenDatabase() {
  TVEZSession& session = Sessions().GetSessionByName(FSessionName);
  return session.DoOpenDatabase(FDatabaseName, Owner());
}

void TVEZDataSet::CloseDatabase(TVEZDatabase* database) {
  if (database == nullptr) return;
  database->Session()->CloseDatabase(database);
}

void TVEZDataSet::SyncDatabaseSession() {
  if (FSessionName.empty() || FDatabaseName.empty()) return;
  TVEZSession* session = Sessions().FindSession(FSessionName);
  if (session == nullptr || session->DoFindDatabase(FDatabaseName, Owner()) != nullptr) return;
  TVEZSession* default_session = Sessions().FindSession("");
  if (default_session == nullptr) return;
  if (TVEZDatabase* database = default_session->DoFindDatabase(FDatabaseName, Owner())) {
    database->AttachSession(true);
  }
}

void TVEZDataSet::SetDBFlag(int flag, bool value) {
  if (flag < 0 || flag > 15) throw std::out_of_range("database-use flag out of range");
  const auto bit = static_cast<std::uint16_t>(1u << flag);
  if (value) {
    if ((FDBFlags & bit) != 0) return;
    if (FDBFlags == 0) {
      SyncDatabaseSession();
      FDatabase = &OpenDatabase();
      FDatabase->AddDataSet(*this);
    }
    FDBFlags = static_cast<std::uint16_t>(FDBFlags | bit);
    return;
  }
  if ((FDBFlags & bit) == 0) return;
  FDBFlags = static_cast<std::uint16_t>(FDBFlags & ~bit);
  if (FDBFlags != 0 || FDatabase == nullptr) return;
  TVEZSession* session = FDatabase->Session();
  session->LockSession();
  try {
    TVEZDatabase* database = FDatabase;
    FDatabase = nullptr;
    database->RemoveDataSet(*this);
    session->CloseDatabase(database);
  } catch (...) {
    session->UnlockSession();
    throw;
  }
  session->UnlockSession();
}

// ---- cursor handle

TVEZCursor& TVEZDataSet::CheckHandle(std::int32_t number) const {
  if (FHandle == nullptr) throw EVEZException(number, kNilPointer);
  return *FHandle;
}

void TVEZDataSet::CheckEngineResult() {
  vez::CheckEngineResult(FHandle->ErrorCode, FHandle->ErrorMessage);
}

void TVEZDataSet::DestroyHandle() {
  if (FExternalHandle == nullptr && FHandle != nullptr) {
    FHandle->FSettingProjection = false;
    delete FHandle;
  }
  FHandle = nullptr;
  FExternalHandle = nullptr;
}

void TVEZDataSet::OpenCursor(bool info_query) {
  if (FDatabaseName.empty())
    platform::DatabaseError(platform::dbconsts::SDatabaseNameMissing, Name);
  SetDBFlag(0, true);
  if (FHandle == nullptr) {
    FHandle = FExternalHandle != nullptr ? FExternalHandle : CreateHandle();
    if (FHandle == nullptr) throw EVEZException(20001, "Error creating table handle");
  }
  try {
    platform::DataSet::OpenCursor(info_query);
  } catch (...) {
    FFieldDefsReadFromNewHandle = false;
    throw;
  }
  FFieldDefsReadFromNewHandle = false;
}

void TVEZDataSet::CloseCursor() {
  platform::DataSet::CloseCursor();
  if (FHandle != nullptr) DestroyHandle();
  SetDBFlag(0, false);
}

void TVEZDataSet::SetActive(bool value) {
  // The cursor's edit locks go before the dataset closes.
  if (!value && (State() == TDataSetState::dsEdit || State() == TDataSetState::dsInsert) &&
      FHandle != nullptr) {
    InternalCancel();
  }
  platform::DataSet::SetActive(value);
}

void TVEZDataSet::InternalOpen() {
  if (FHandle == nullptr) return;
  SetBookmarkSize(kBookmarkSize);
  const bool fresh = FFieldDefsReadFromNewHandle && FieldDefs().Updated();
  FFieldDefsReadFromNewHandle = false;
  if (!fresh) {
    FieldDefs().SetUpdated(false);
    InitFieldDefs();
  }
  BuildIndexFieldMap();
  FreeEditRecordBuffer();
  for (int i = 0; i < FieldDefs().Count(); ++i) {
    platform::FieldDef& def = FieldDefs().Items(i);
    if (def.DataType == platform::ftGuid) def.Size = platform::kGuidSize;
  }
  if (DefaultFields()) CreateFields();
  BindFields(true);
  FHandle->Dataset = this;
  FHandle->RecordBufferSize += CalcFieldsSize();
  if (Filtered())
    ActivateFilters();
  else
    DeactivateFilters();
  AllocKeyBuffers();
  ResetCursorRange();
  ApplyMasterRange();
}

void TVEZDataSet::InternalClose() {
  if (FHandle != nullptr) {
    FreeEditRecordBuffer();
    FreeKeyBuffers();
  }
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  FAdvFieldDefs.Clear();
  FVEZFieldDefs.Clear();
  FAdvIndexDefs.Clear();
  FVEZIndexDefs.Clear();
  FIndexFieldCount = 0;
  FIndexFieldMap.clear();
  FKeySize = 0;
}

void TVEZDataSet::InternalInitFieldDefs() {
  FieldDefs().Clear();
  if (FHandle == nullptr) return;
  if (!FIgnoreDesignMode) FHandle->IsDesignMode = DesignMode();
  if (FCursorFieldDefsFresh)
    FCursorFieldDefsFresh = false;
  else
    FHandle->InternalInitFieldDefs();
  FVEZFieldDefs.Assign(FHandle->VisibleFieldDefs());
  VEZFieldDefsToFieldDefs(FHandle->VisibleFieldDefs(), FHandle->FieldDefs(),
                          FHandle->ConstraintDefs(), FieldDefs());
  VEZFieldDefsToAdvFieldDefs(FHandle->VisibleFieldDefs(), FHandle->FieldDefs(),
                             FHandle->ConstraintDefs(), FAdvFieldDefs);
  FRestructureFieldDefs.Assign(FAdvFieldDefs);
}

// ---- record buffers and bookmarks

TRecordBuffer TVEZDataSet::GetActiveRecordBuffer() const {
  switch (State()) {
    case TDataSetState::dsBrowse:
      return IsEmpty() ? nullptr : ActiveBuffer();
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
      return ActiveBuffer();
    case TDataSetState::dsSetKey:
      return KeyBuffer();
    case TDataSetState::dsCalcFields:
      return CalcBuffer();
    case TDataSetState::dsFilter:
      return FFilterBuffer;
    case TDataSetState::dsOldValue:
      return FEditRecordBuffer;
    default:
      return nullptr;
  }
}

bool TVEZDataSet::HasCurrentIndex() const {
  return CheckHandle(10381).IndexID != -1;
}

TRecordBuffer TVEZDataSet::AllocRecordBuffer() {
  return CheckHandle(10052).AllocateRecordBuffer();
}

void TVEZDataSet::FreeRecordBuffer(TRecordBuffer& buffer) {
  CheckHandle(10053).FreeRecordBuffer(buffer);
}

void TVEZDataSet::FreeEditRecordBuffer() {
  if (FEditRecordBuffer == nullptr) return;
  if (FHandle != nullptr) {
    if (FHandle->EditRecordBuffer == FEditRecordBuffer) FHandle->EditRecordBuffer = nullptr;
    FHandle->FreeRecordBuffer(FEditRecordBuffer);
  } else {
    MemoryManager().FreeAndNillMem(FEditRecordBuffer);
  }
  FEditRecordBuffer = nullptr;
}

void TVEZDataSet::GetBookmarkData(TRecordBuffer buffer, std::uint8_t* data) {
  if (buffer == nullptr) throw EVEZException(10034, kNilPointer);
  if (data == nullptr) throw EVEZException(10035, kNilPointer);
  const TVEZCursor& cursor = CheckHandle(10036);
  std::memcpy(data, buffer + cursor.BookmarkOffset, TVEZPageItemID::kSize);
}

void TVEZDataSet::SetBookmarkData(TRecordBuffer buffer, const std::uint8_t* data) {
  const TVEZCursor& cursor = CheckHandle(10058);
  if (buffer == nullptr) throw EVEZException(10061, kNilPointer);
  if (data == nullptr) return;
  std::memcpy(buffer + cursor.BookmarkOffset, data, TVEZPageItemID::kSize);
}

TBookmarkFlag TVEZDataSet::GetBookmarkFlag(TRecordBuffer buffer) {
  if (buffer == nullptr) throw EVEZException(10059, kNilPointer);
  const TVEZCursor& cursor = CheckHandle(10060);
  const std::uint8_t flag = buffer[cursor.BookmarkOffset + kFlagOffset];
  return flag >= 1 && flag <= 3 ? static_cast<TBookmarkFlag>(flag) : platform::bfCurrent;
}

void TVEZDataSet::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag value) {
  const TVEZCursor& cursor = CheckHandle(10057);
  if (buffer == nullptr) throw EVEZException(10057, kNilPointer);
  if (value > 3) return;
  buffer[cursor.BookmarkOffset + kFlagOffset] = value;
}

TGetResult TVEZDataSet::GetRecord(TRecordBuffer buffer, platform::TGetMode mode, bool do_check) {
  TVEZCursor& cursor = CheckHandle(10041);
  cursor.CurrentRecordBuffer = buffer;
  const TVEZGetRecordResult result =
      cursor.GetRecordBuffer(static_cast<TVEZGetRecordMode>(static_cast<int>(mode)));
  switch (result) {
    case grrOK:
      cursor.CurrentRecordID.Encode(buffer + cursor.BookmarkOffset);
      buffer[cursor.BookmarkOffset + kFlagOffset] = platform::bfCurrent;
      ClearCalcFields(buffer);
      GetCalcFields(buffer);
      return TGetResult::grOK;
    case grrBOF:
      return TGetResult::grBOF;
    case grrEOF:
      return TGetResult::grEOF;
    default:
      if (do_check) throw EVEZException(10026, "Cannot retrieve record");
      return TGetResult::grError;
  }
}

int TVEZDataSet::GetRecordSize() {
  return CheckHandle(10055).RecordSize - kBookmarkSize;
}

bool TVEZDataSet::GetCurrentRecord(TRecordBuffer buffer) {
  if (FHandle == nullptr || IsEmpty() || GetBookmarkFlag(ActiveBuffer()) != platform::bfCurrent)
    return false;
  UpdateCursorPos();
  TCurrentBufferScope scope(*FHandle, buffer);
  return FHandle->GetRecordBuffer(grmCurrent) == grrOK;
}

void TVEZDataSet::InitRecord(TRecordBuffer buffer) {
  platform::DataSet::InitRecord(buffer);
  const TVEZCursor& cursor = CheckHandle(10054);
  TVEZPageItemID inserted;
  inserted.PageNo = -1;
  inserted.PageItemNo = 0xFFFF;
  inserted.Encode(buffer + cursor.BookmarkOffset);
  buffer[cursor.BookmarkOffset + kFlagOffset] = platform::bfInserted;
}

void TVEZDataSet::InternalInitRecord(TRecordBuffer buffer) {
  CheckHandle(10054).InternalInitRecord(buffer, true);
}

void TVEZDataSet::ClearCalcFields(TRecordBuffer buffer) {
  if (buffer == nullptr) throw EVEZException(10039, kNilPointer);
  const TVEZCursor& cursor = CheckHandle(10040);
  if (CalcFieldsSize() > 0)
    std::memset(buffer + cursor.CalculatedFieldsOffset, 0,
                static_cast<std::size_t>(CalcFieldsSize()));
}

// ---- navigation

void TVEZDataSet::InternalFirst() {
  CheckHandle(10044).InternalFirst();
}

void TVEZDataSet::InternalLast() {
  CheckHandle(10045).InternalLast();
}

void TVEZDataSet::InternalGotoBookmark(const std::uint8_t* bookmark) {
  if (bookmark == nullptr) throw EVEZException(10037, kNilPointer);
  TVEZCursor& cursor = CheckHandle(10038);
  cursor.CurrentRecordID = TVEZPageItemID::Decode(bookmark);
  cursor.FirstPosition = false;
  cursor.LastPosition = false;
}

void TVEZDataSet::InternalSetToRecord(TRecordBuffer buffer) {
  const TVEZCursor& cursor = CheckHandle(10046);
  if (buffer == nullptr) throw EVEZException(10047, kNilPointer);
  InternalGotoBookmark(buffer + cursor.BookmarkOffset);
}

int TVEZDataSet::GetRecordCount() {
  if (!Active()) return 0;
  return static_cast<int>(CheckHandle(10056).GetRecordCount());
}

int TVEZDataSet::GetRecNo() {
  if (State() == TDataSetState::dsInsert || !Active()) return -1;
  TVEZCursor& cursor = CheckHandle(10043);
  if (IsEmpty()) return -1;
  TRecordBuffer buffer = State() == TDataSetState::dsCalcFields ? CalcBuffer() : ActiveBuffer();
  if (buffer == nullptr) return -1;
  cursor.CurrentRecordBuffer = buffer;
  TPositionScope position(cursor);
  cursor.FirstPosition = false;
  cursor.LastPosition = false;
  cursor.CurrentRecordID = TVEZPageItemID::Decode(buffer + cursor.BookmarkOffset);
  return static_cast<int>(cursor.GetRecNo());
}

void TVEZDataSet::SetRecNo(int value) {
  Operation op(*this);
  Nested nested(*this);
  CheckBrowseMode();
  TVEZCursor& cursor = CheckHandle(10042);
  DoBeforeScroll();
  cursor.SetRecNo(static_cast<std::int64_t>(value));
  Resync(platform::rmCenter);
  DoAfterScroll();
}

int TVEZDataSet::CompareBookmarks(const platform::TBookmark& bookmark1,
                                  const platform::TBookmark& bookmark2) {
  if (bookmark1.empty()) return bookmark2.empty() ? 0 : 1;
  if (bookmark2.empty()) return -1;
  TVEZCursor& cursor = CheckHandle(10063);
  if (bookmark1.size() < TVEZPageItemID::kSize || bookmark2.size() < TVEZPageItemID::kSize)
    throw EVEZException(10063, kNilPointer);
  const std::int32_t result = cursor.CompareRecordsOrder(TVEZPageItemID::Decode(bookmark1.data()),
                                                         TVEZPageItemID::Decode(bookmark2.data()));
  return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

bool TVEZDataSet::BookmarkValid(const platform::TBookmark& bookmark) {
  if (FHandle == nullptr || bookmark.size() < TVEZPageItemID::kSize) return false;
  TVEZCursor& cursor = *FHandle;
  CursorPosChanged();
  std::uint8_t* scratch = cursor.AllocateRecordBuffer();
  bool result = false;
  try {
    TPositionScope position(cursor);
    TCurrentBufferScope current(cursor, scratch);
    cursor.FirstPosition = false;
    cursor.LastPosition = false;
    cursor.CurrentRecordID = TVEZPageItemID::Decode(bookmark.data());
    result = cursor.GetRecordBuffer(grmCurrent) == grrOK;
  } catch (...) {
    cursor.FreeRecordBuffer(scratch);
    throw;
  }
  cursor.FreeRecordBuffer(scratch);
  return result;
}

// ---- record operations

void TVEZDataSet::InternalInsert() {
  if (FReadOnly) return;
  CheckHandle(10065).InternalInsert();
}

void TVEZDataSet::InternalEdit() {
  if (FReadOnly) return;
  TVEZCursor& cursor = CheckHandle(10065);
  TRecordBuffer active = ActiveBuffer();
  if (active == nullptr) throw EVEZException(10067, kNilPointer);
  FreeEditRecordBuffer();
  FEditRecordBuffer = AllocRecordBuffer();
  std::memcpy(FEditRecordBuffer, active, static_cast<std::size_t>(cursor.RecordSize));
  cursor.CurrentRecordBuffer = active;
  try {
    cursor.InternalEdit();
    CheckEngineResult();
  } catch (...) {
    FreeEditRecordBuffer();
    throw;
  }
}

void TVEZDataSet::InternalPost() {
  platform::DataSet::InternalPost();
  if (!Active()) throw EVEZException(10029, "Dataset is not opened");
  const bool inserting = State() == TDataSetState::dsInsert;
  if (!inserting && State() != TDataSetState::dsEdit)
    throw EVEZException(10030, "Dataset is not in insert or edit mode");
  if (FReadOnly) throw EVEZException(10032, "Dataset is in read only mode");
  TVEZCursor& cursor = CheckHandle(10048);
  cursor.CurrentRecordBuffer = GetActiveRecordBuffer();
  if (!inserting) cursor.EditRecordBuffer = FEditRecordBuffer;
  cursor.InternalPost(inserting);
  if (!inserting && cursor.ErrorCode == cecOK) FreeEditRecordBuffer();
  CheckEngineResult();
}

void TVEZDataSet::InternalCancel() {
  TVEZCursor& cursor = CheckHandle(10066);
  FreeEditRecordBuffer();
  cursor.CurrentRecordBuffer = GetActiveRecordBuffer();
  cursor.InternalCancel(State() == TDataSetState::dsInsert);
  CheckEngineResult();
}

void TVEZDataSet::InternalDelete() {
  if (!Active()) throw EVEZException(10068, "Dataset is not opened");
  if (FReadOnly) throw EVEZException(10069, "Dataset is in read only mode");
  TVEZCursor& cursor = CheckHandle(10070);
  TRecordBuffer active = ActiveBuffer();
  if (active == nullptr) throw EVEZException(10071, kNilPointer);
  cursor.CurrentRecordBuffer = active;
  cursor.InternalDelete();
  CheckEngineResult();
}

void TVEZDataSet::InternalAddRecord(TRecordBuffer buffer, bool /*append*/) {
  if (!Active()) throw EVEZException(10075, "Dataset is not opened");
  if (State() != TDataSetState::dsInsert)
    throw EVEZException(10076, "Dataset is not in insert or edit mode");
  if (FReadOnly) throw EVEZException(10077, "Dataset is in read only mode");
  TVEZCursor& cursor = CheckHandle(10078);
  cursor.CurrentRecordBuffer = buffer;
  cursor.InternalPost(true);
  CheckEngineResult();
}

void TVEZDataSet::InternalRefresh() {
  if (Active() && IsFilterEventActive() && FHandle != nullptr) FHandle->DisableRecordBitmap();
}

// ---- key buffers and the current index

void TVEZDataSet::InitKeyBuffer(TRecordBuffer buffer, int /*size*/) {
  InitKeyBuffer(buffer);
}

TRecordBuffer TVEZDataSet::InitKeyBuffer(TRecordBuffer buffer) {
  CheckHandle(10280).InternalInitKeyBuffer(buffer);
  return buffer;
}

void TVEZDataSet::AllocKeyBuffers() {
  TVEZCursor& cursor = CheckHandle(10281);
  try {
    for (auto& key : FKeyBuffers) {
      key = cursor.AllocateKeyRecordBuffer();
      InitKeyBuffer(key);
    }
  } catch (...) {
    FreeKeyBuffers();
    throw;
  }
}

void TVEZDataSet::FreeKeyBuffers() {
  for (auto& key : FKeyBuffers) {
    if (key == nullptr) continue;
    if (FHandle != nullptr) {
      // A range in force names the buffers; the cursor must not keep them.
      if (FHandle->RangeStartBuffer == key) FHandle->RangeStartBuffer = nullptr;
      if (FHandle->RangeEndBuffer == key) FHandle->RangeEndBuffer = nullptr;
      if (FHandle->KeyBuffer == key) FHandle->KeyBuffer = nullptr;
    }
    MemoryManager().FreeAndNillMem(key);
    key = nullptr;
  }
}

bool TVEZDataSet::KeyModified(const std::uint8_t* key) const {
  return key[CheckHandle(10280).KeyOffset + kKeyModifiedOffset] != 0;
}

void TVEZDataSet::SetKeyModified(std::uint8_t* key, bool value) const {
  key[CheckHandle(10280).KeyOffset + kKeyModifiedOffset] = value ? 1 : 0;
}

bool TVEZDataSet::KeyExclusive(const std::uint8_t* key) const {
  return key[CheckHandle(10280).KeyOffset + kKeyExclusiveOffset] != 0;
}

void TVEZDataSet::SetKeyExclusive(std::uint8_t* key, bool value) const {
  key[CheckHandle(10280).KeyOffset + kKeyExclusiveOffset] = value ? 1 : 0;
}

std::int32_t TVEZDataSet::KeyFieldCount(const std::uint8_t* key) const {
  return GetLE<std::int32_t>(key + CheckHandle(10280).KeyOffset + kKeyFieldCountOffset);
}

void TVEZDataSet::SetKeyFieldCount(std::uint8_t* key, std::int32_t value) const {
  PutLE<std::int32_t>(key + CheckHandle(10280).KeyOffset + kKeyFieldCountOffset, value);
}

bool TVEZDataSet::ResetCursorRange() {
  TVEZCursor& cursor = CheckHandle(10287);
  std::uint8_t* start = FKeyBuffers[kiCurRangeStart];
  std::uint8_t* end = FKeyBuffers[kiCurRangeEnd];
  const bool in_force =
      (start != nullptr && KeyModified(start)) || (end != nullptr && KeyModified(end));
  if (!in_force) {
    cursor.ResetRange();
    return false;
  }
  InitKeyBuffer(start);
  InitKeyBuffer(end);
  cursor.ResetRange();
  return true;
}

void TVEZDataSet::SwitchToIndex(const std::string& index_name) {
  ResetCursorRange();
  UpdateCursorPos();
  FHandle->SetIndexName(index_name);
  FKeySize = 0;
  FIndexFieldCount = 0;
  BuildIndexFieldMap();
}

void TVEZDataSet::BuildIndexFieldMap() {
  FIndexFieldMap.clear();
  FIndexFieldCount = 0;
  FKeySize = 0;
  if (FHandle == nullptr || FHandle->IndexName().empty()) return;
  TVEZIndexDefs& index_defs = *FHandle->GetIndexDefs();
  const TVEZIndexDef* index = index_defs.GetIndexDefByName(FHandle->IndexName());
  if (index == nullptr) throw EVEZException(10325, "Cannot find index %s", {FHandle->IndexName()});
  const TVEZFieldDefs& fields = FHandle->FieldDefs();
  FIndexFieldCount = index->ColumnCount();
  FIndexFieldMap.resize(static_cast<std::size_t>(FIndexFieldCount));
  for (int i = 0; i < FIndexFieldCount; ++i) {
    const std::int32_t no = fields.GetDefNumberByName(index->GetIndexColumn(i)->FieldName);
    FIndexFieldMap[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(no + 1);
    if (no >= 0) FKeySize += fields.GetDef(no)->MemoryDataSize;
  }
}

bool TVEZDataSet::GetIsIndexField(const platform::Field& field) {
  if (field.FieldNo() <= 0) return false;
  for (int i = 0; i < FIndexFieldCount; ++i)
    if (FIndexFieldMap[static_cast<std::size_t>(i)] == field.FieldNo()) return true;
  return false;
}

// ---- field data

void TVEZDataSet::ConvertDateTimeValue(const platform::Field& field, const void* source,
                                       bool to_native, void* dest) {
  const auto* src = static_cast<const std::uint8_t*>(source);
  auto* dst = static_cast<std::uint8_t*>(dest);
  switch (field.DataType()) {
    case platform::ftDate:
    case platform::ftTime:
      platform::DataSet::DataConvert(field, source, dest, to_native);
      break;
    case platform::ftDateTime:
      // The date-time double and the engine's day and milliseconds pair.
      if (to_native) {
        platform::TDateTime value = 0;
        std::memcpy(&value, source, sizeof value);
        const platform::TTimeStamp ts = platform::DateTimeToTimeStamp(value);
        TVEZDateTime{ts.Date, ts.Time}.Encode(dst);
      } else {
        const TVEZDateTime value = TVEZDateTime::Decode(src);
        platform::TTimeStamp ts;
        ts.Date = value.Date;
        ts.Time = value.Time;
        const platform::TDateTime result = platform::TimeStampToDateTime(ts);
        std::memcpy(dest, &result, sizeof result);
      }
      break;
    case platform::ftTimeStamp:
      if (to_native) {
        const platform::TSQLTimeStamp stamp = platform::DecodeSQLTimeStamp(src);
        const platform::TTimeStamp ts =
            platform::DateTimeToTimeStamp(platform::SQLTimeStampToDateTime(stamp));
        TVEZDateTime{ts.Date, ts.Time}.Encode(dst);
      } else {
        const TVEZDateTime value = TVEZDateTime::Decode(src);
        platform::TTimeStamp ts;
        ts.Date = value.Date;
        ts.Time = value.Time;
        platform::EncodeSQLTimeStamp(
            platform::DateTimeToSQLTimeStamp(platform::TimeStampToDateTime(ts)), dst);
      }
      break;
    default:
      break;
  }
}

void TVEZDataSet::DataConvert(const platform::Field& field, const void* source, void* dest,
                              bool to_native) {
  switch (field.DataType()) {
    case platform::ftDate:
    case platform::ftTime:
    case platform::ftTimeStamp:
      ConvertDateTimeValue(field, source, to_native, dest);
      break;
    default:
      platform::DataSet::DataConvert(field, source, dest, to_native);
      break;
  }
}

bool TVEZDataSet::GetFieldData(const platform::Field& field, void* buffer) {
  TRecordBuffer record = GetActiveRecordBuffer();
  if (!Active() || record == nullptr) return false;
  TVEZCursor& cursor = CheckHandle(10050);
  if (field.FieldKind() != platform::TFieldKind::fkData)
    return ReadCalcField(record + cursor.CalculatedFieldsOffset, field, buffer);
  if (!cursor.GetFieldData(field.FieldNo() - 1, buffer, record)) return false;
  if (buffer != nullptr && field.DataType() == platform::ftDateTime) {
    // The engine's day and milliseconds pair, as milliseconds since
    // 0001-01-01, without a detour through a date-time double.
    const TVEZDateTime value = TVEZDateTime::Decode(buffer);
    platform::StoreLE(static_cast<std::uint8_t*>(buffer), EngineDateTimeToMSecs(value));
  }
  return true;
}

void TVEZDataSet::SetFieldData(platform::Field& field, const void* buffer) {
  const TDataSetState state = State();
  switch (state) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
    case TDataSetState::dsSetKey:
    case TDataSetState::dsCalcFields:
    case TDataSetState::dsFilter:
    case TDataSetState::dsNewValue:
    case TDataSetState::dsInternalCalc:
      break;
    default:
      throw EVEZException(10007, "Dataset not in edit or insert mode");
  }
  if (state == TDataSetState::dsSetKey &&
      (field.FieldNo() < 0 || (FIndexFieldCount > 0 && !GetIsIndexField(field)))) {
    throw EVEZException(20019, "Field %s is not in the current index", {field.DisplayName()});
  }
  TRecordBuffer record = GetActiveRecordBuffer();
  TVEZCursor& cursor = CheckHandle(10051);
  if (record == nullptr) throw EVEZException(10051, kNilPointer);
  if (field.FieldKind() != platform::TFieldKind::fkData) {
    WriteCalcField(record + cursor.CalculatedFieldsOffset, field, buffer);
  } else {
    field.Validate(buffer);
    std::uint8_t date_time[TVEZDateTime::kSize];
    const void* value = buffer;
    if (buffer != nullptr && field.DataType() == platform::ftDateTime) {
      MSecsToEngineDateTime(platform::LoadLE<double>(static_cast<const std::uint8_t*>(buffer)))
          .Encode(date_time);
      value = date_time;
    }
    cursor.SetFieldData(field.FieldNo() - 1, value, record);
  }
  if (state != TDataSetState::dsCalcFields && state != TDataSetState::dsFilter &&
      state != TDataSetState::dsNewValue) {
    DataEvent(platform::TDataEvent::deFieldChange, reinterpret_cast<std::intptr_t>(&field));
  }
}

// ---- engine-level values

void TVEZDataSet::GetFieldValue(TVEZVariant& value, std::int32_t field_no, bool direct_access) {
  TVEZCursor& cursor = CheckHandle(10315);
  cursor.CurrentRecordBuffer = GetActiveRecordBuffer();
  const TVEZFieldDefs& defs = direct_access ? cursor.FieldDefs() : cursor.VisibleFieldDefs();
  const TVEZFieldDef* def =
      field_no >= 0 && field_no < defs.GetCount() ? defs.GetDef(field_no) : nullptr;
  const bool blob =
      def != nullptr && (def->BaseFieldType == bftBlob || def->BaseFieldType == bftClob ||
                         def->BaseFieldType == bftWideClob);
  if (!blob) {
    cursor.GetFieldValue(value, field_no, direct_access);
    return;
  }
  value.SetNull(def->BaseFieldType);
  std::int32_t visible_no = field_no;
  if (direct_access) {
    visible_no = -1;
    const TVEZFieldDefs& visible = cursor.VisibleFieldDefs();
    for (std::int32_t i = 0; i < visible.GetCount(); ++i) {
      if (visible.GetDef(i)->FieldNoReference == field_no) {
        visible_no = i;
        break;
      }
    }
    if (visible_no < 0) throw EVEZException(10315, kNilPointer);
  }
  platform::Field& field = Fields(FieldIndexOfFieldNo(visible_no + 1));
  TVEZBLOBStream stream(field, platform::TBlobStreamMode::bmRead);
  const std::int64_t size = stream.GetSize();
  if (size <= 0) return;
  if (size > INT32_MAX) throw platform::EIntOverflow();
  std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
  stream.ReadBuffer(data.data(), static_cast<std::int32_t>(size));
  value.SetData(data.data(), static_cast<std::int32_t>(size), def->BaseFieldType, true);
}

void TVEZDataSet::SetFieldValue(TVEZVariant& value, std::int32_t field_no, bool direct_access) {
  TVEZCursor& cursor = CheckHandle(10316);
  cursor.CurrentRecordBuffer = GetActiveRecordBuffer();
  const int index = FieldIndexOfFieldNo(field_no + 1);
  platform::Field* field = index >= 0 ? &Fields(index) : nullptr;
  if (field == nullptr || !field->IsBlob() || value.GetIsNull()) {
    cursor.SetFieldValue(value, field_no, direct_access, cursor.CurrentRecordBuffer);
    return;
  }
  TVEZBLOBStream stream(*field, platform::TBlobStreamMode::bmWrite);
  stream.WriteBuffer(value.GetPData(), value.GetDataSize());
}

void TVEZDataSet::CopyFieldValue(std::int32_t src_field_no, bool use_direct_field_access,
                                 std::int32_t dest_field_no, TVEZDataSet* dest_dataset) {
  TVEZCursor& cursor = CheckHandle(10500);
  if (dest_dataset == nullptr) throw EVEZException(10503, kNilPointer);
  if (dest_dataset->FHandle == nullptr) throw EVEZException(10504, kNilPointer);
  cursor.CurrentRecordBuffer = GetActiveRecordBuffer();
  dest_dataset->FHandle->CurrentRecordBuffer = dest_dataset->GetActiveRecordBuffer();
  cursor.CopyFieldValue(src_field_no, use_direct_field_access, dest_field_no,
                        dest_dataset->FHandle);
}

int TVEZDataSet::FieldIndexOfFieldNo(int field_no) const {
  for (int i = 0; i < FieldCount(); ++i)
    if (Fields(i).FieldKind() == platform::TFieldKind::fkData && Fields(i).FieldNo() == field_no)
      return i;
  return -1;
}

// ---- SQL engine hooks

void TVEZDataSet::SetSQLFilter(TVEZBaseExpression* filter_expr, TVEZAO* parent_query_ao,
                               TVEZCursor* parent_cursor) {
  CheckHandle(10300).SetSQLFilter(filter_expr, parent_query_ao, parent_cursor);
}

void TVEZDataSet::ApplyProjection(const std::vector<std::string>& field_names,
                                  const std::vector<std::string>& alias_list) {
  TVEZCursor& cursor = CheckHandle(10320);
  cursor.ApplyProjection(field_names, alias_list);
  // The dataset reopens on the same cursor; as the external cursor it is
  // not freed by the close. Only a failed reopen frees it (the dataset is
  // then closed and nothing else refers to it).
  TVEZCursor* projected = &cursor;
  const bool owned = FExternalHandle == nullptr;
  projected->FSettingProjection = true;
  // Holds the database through the close, so the cursor's session stays
  // connected while the dataset reopens on it.
  SetDBFlag(kProjectionFlag, true);
  struct TFlagRelease {
    TVEZDataSet& dataset;
    ~TFlagRelease() {
      try {
        dataset.SetDBFlag(kProjectionFlag, false);
      } catch (...) {
        dataset.HandleException();
      }
    }
  } release{*this};
  try {
    FExternalHandle = projected;
    projected->FirstPosition = true;
    Close();
    FExternalHandle = projected;
    Open();
    if (FDatabase != nullptr) projected->Session = FDatabase->Handle();
  } catch (...) {
    if (FHandle == nullptr) {
      // Closed with the cursor forgotten: ours to free unless someone else
      // owns it.
      FExternalHandle = nullptr;
      projected->FSettingProjection = false;
      if (owned) delete projected;
    } else {
      projected->FSettingProjection = false;
      if (owned) FExternalHandle = nullptr;
    }
    throw;
  }
  projected->FSettingProjection = false;
  if (owned) FExternalHandle = nullptr;
}

// ---- BLOB fields

std::unique_ptr<platform::Stream> TVEZDataSet::CreateBlobStream(platform::Field& field,
                                                                platform::TBlobStreamMode mode) {
  if (mode != platform::TBlobStreamMode::bmRead && FReadOnly)
    throw EVEZException(10107, "Dataset is in read only mode");
  try {
    return std::make_unique<TVEZBLOBStream>(field, mode);
  } catch (const EVEZException& e) {
    // The cursor gave no stream (its shared lock refused, or the record
    // gone): one refresh, then the second refusal stands. A pending edit is
    // not refreshed away.
    if (e.NativeError() != kBlobNotOpened || FIsRefreshing || State() != TDataSetState::dsBrowse)
      throw;
  }
  FIsRefreshing = true;
  try {
    Refresh();
  } catch (...) {
    FIsRefreshing = false;
    throw;
  }
  FIsRefreshing = false;
  return std::make_unique<TVEZBLOBStream>(field, mode);
}

TVEZStream* TVEZDataSet::OpenFieldBlobStream(platform::Field& field,
                                             platform::TBlobStreamMode mode) {
  TVEZCursor& cursor = CheckHandle(10108);
  const TDataSetState state = State();
  if (mode != platform::TBlobStreamMode::bmRead && state != TDataSetState::dsEdit &&
      state != TDataSetState::dsInsert) {
    throw EVEZException(10111, "Dataset not in edit or insert mode");
  }
  const TVEZBLOBOpenMode open_mode = mode == platform::TBlobStreamMode::bmWrite       ? bomWrite
                                     : mode == platform::TBlobStreamMode::bmReadWrite ? bomReadWrite
                                                                                      : bomRead;
  TRecordBuffer record = GetActiveRecordBuffer();
  TCurrentBufferScope current(cursor, record);
  if (record == nullptr)
    return cursor.InternalCreateBlobStream(true, false, field.FieldNo() - 1, open_mode, false);
  TPositionScope position(cursor);
  cursor.CurrentRecordID = TVEZPageItemID::Decode(record + cursor.BookmarkOffset);
  return cursor.InternalCreateBlobStream(state == TDataSetState::dsInsert,
                                         state == TDataSetState::dsEdit, field.FieldNo() - 1,
                                         open_mode, state == TDataSetState::dsBrowse);
}

void TVEZDataSet::CloseBlob(platform::Field& field) {
  TVEZCursor& cursor = CheckHandle(10108);
  TCurrentBufferScope current(cursor, GetActiveRecordBuffer());
  cursor.InternalCloseBLOB(field.FieldNo() - 1);
}

void TVEZDataSet::BlobFieldChanged(platform::Field& field) {
  field.Modified = true;
  DataEvent(platform::TDataEvent::deFieldChange, reinterpret_cast<std::intptr_t>(&field));
}

// ---- filters

void TVEZDataSet::ApplyFilterCallback() {
  if (FHandle == nullptr) return;
  if (OnFilterRecord())
    FHandle->FilterRecord = &TVEZDataSet::FilterRecord;
  else
    FHandle->FilterRecord = nullptr;
}

void TVEZDataSet::ActivateFilters() {
  TVEZCursor& cursor = CheckHandle(10269);
  if (!Filter().empty()) {
    cursor.ActivateFilters(Filter(), (FilterOptions() & platform::foCaseInsensitive) != 0,
                           (FilterOptions() & platform::foNoPartialCompare) == 0);
  } else {
    cursor.DeactivateFilters();
  }
  ApplyFilterCallback();
  cursor.DisableRecordBitmap();
}

void TVEZDataSet::DeactivateFilters() {
  TVEZCursor& cursor = CheckHandle(10270);
  cursor.DeactivateFilters();
  cursor.FilterRecord = nullptr;
  cursor.DisableRecordBitmap();
}

void TVEZDataSet::SetFilterData(const std::string& text, platform::TFilterOptions options) {
  if (Active()) {
    CheckBrowseMode();
    CheckHandle(10266);
  }
  platform::DataSet::SetFilterText(text);
  platform::DataSet::SetFilterOptions(options);
  if (Active() && Filtered()) {
    ActivateFilters();
    First();
  }
}

void TVEZDataSet::SetFilterText(const std::string& value) {
  SetFilterData(value, FilterOptions());
}

void TVEZDataSet::SetFilterOptions(platform::TFilterOptions value) {
  SetFilterData(Filter(), value);
}

void TVEZDataSet::SetFiltered(bool value) {
  if (!Active()) {
    platform::DataSet::SetFiltered(value);
    return;
  }
  CheckBrowseMode();
  CheckHandle(10267);
  if (value != Filtered()) {
    if (value)
      ActivateFilters();
    else
      DeactivateFilters();
    platform::DataSet::SetFiltered(value);
  }
  if (value)
    First();
  else
    Refresh();
}

void TVEZDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
  if (!Active()) {
    platform::DataSet::SetOnFilterRecord(std::move(handler));
    return;
  }
  CheckHandle(10275);
  CheckBrowseMode();
  const bool had = static_cast<bool>(OnFilterRecord());
  const bool has = static_cast<bool>(handler);
  platform::DataSet::SetOnFilterRecord(std::move(handler));
  if (had != has) {
    if (Filtered())
      ActivateFilters();
    else
      DeactivateFilters();
  } else if (has && Filtered()) {
    // The view the old handler chose must not outlive it.
    FHandle->DisableRecordBitmap();
  }
  if (Filtered()) First();
}

bool TVEZDataSet::InternalFilterRecord(TRecordBuffer buffer) {
  if (!IsFilterEventActive()) return true;
  std::uint8_t* saved = FFilterBuffer;
  FFilterBuffer = buffer;
  bool accept = true;
  try {
    accept = FilterRecordThroughHandler(buffer);
  } catch (...) {
    FFilterBuffer = saved;
    throw;
  }
  FFilterBuffer = saved;
  return accept;
}

bool TVEZDataSet::FilterRecord(std::uint8_t* buffer, void* dataset) {
  return static_cast<TVEZDataSet*>(dataset)->InternalFilterRecord(buffer);
}

// ---- search

bool TVEZDataSet::FindRecord(bool restart, bool go_forward) {
  Operation op(*this);
  Nested nested(*this);
  CheckBrowseMode();
  DoBeforeScroll();
  SetFound(false);
  TVEZCursor& cursor = CheckHandle(10268);
  UpdateCursorPos();
  CursorPosChanged();
  const bool search_filter = !Filtered();
  if (search_filter) ActivateFilters();
  std::uint8_t* scratch = nullptr;
  TGetResult result = TGetResult::grError;
  try {
    scratch = AllocRecordBuffer();
    if (go_forward) {
      if (restart) InternalFirst();
      result = GetRecord(scratch, platform::TGetMode::gmNext, false);
    } else {
      if (restart) InternalLast();
      result = GetRecord(scratch, platform::TGetMode::gmPrior, false);
    }
  } catch (...) {
    cursor.FreeRecordBuffer(scratch);
    if (search_filter) DeactivateFilters();
    throw;
  }
  cursor.FreeRecordBuffer(scratch);
  if (search_filter) DeactivateFilters();
  if (result == TGetResult::grOK) {
    Resync(platform::rmExact | platform::rmCenter);
    SetFound(true);
  }
  if (Found()) DoAfterScroll();
  return Found();
}

bool TVEZDataSet::LocateRecord(const std::string& key_fields, const platform::Variant& key_values,
                               platform::TLocateOptions options) {
  if (FHandle == nullptr) throw EVEZException(10271, "Cannot perform LOCATE on a closed dataset");
  TVEZCursor& cursor = *FHandle;
  CheckBrowseMode();
  CursorPosChanged();
  TempState temp(*this, TDataSetState::dsFilter);
  std::uint8_t* saved = FFilterBuffer;
  FFilterBuffer = TempBuffer();
  cursor.CurrentRecordBuffer = TempBuffer();
  bool found = false;
  try {
    found = cursor.Locate(key_fields, key_values, (options & platform::loCaseInsensitive) != 0,
                          (options & platform::loPartialKey) != 0);
  } catch (...) {
    FFilterBuffer = saved;
    throw;
  }
  FFilterBuffer = saved;
  return found;
}

bool TVEZDataSet::Locate(const std::string& key_fields, const platform::Variant& key_values,
                         platform::TLocateOptions options) {
  Operation op(*this);
  Nested nested(*this);
  CheckActive();
  DoBeforeScroll();
  const bool found = LocateRecord(key_fields, key_values, options);
  if (found) {
    Resync(platform::rmExact | platform::rmCenter);
    DoAfterScroll();
  }
  return found;
}

platform::Variant TVEZDataSet::Lookup(const std::string& key_fields,
                                      const platform::Variant& key_values,
                                      const std::string& result_fields) {
  Operation op(*this);
  Nested nested(*this);
  CheckActive();
  if (!LocateRecord(key_fields, key_values, 0)) return platform::Variant::Null();
  TRecordBuffer found = TempBuffer();
  // The cursor read the record but the bookmark area is the dataset's.
  FHandle->CurrentRecordID.Encode(found + FHandle->BookmarkOffset);
  found[FHandle->BookmarkOffset + kFlagOffset] = platform::bfCurrent;
  ClearCalcFields(found);
  GetCalcFields(found);
  std::vector<platform::Field*> fields;
  GetFieldList(fields, result_fields);
  // The values are read from the found record, not the active one.
  TempState temp(*this, TDataSetState::dsFilter);
  std::uint8_t* saved = FFilterBuffer;
  FFilterBuffer = found;
  platform::Variant result;
  try {
    if (fields.size() == 1) {
      result = fields[0]->Value();
    } else {
      std::vector<platform::Variant> values;
      values.reserve(fields.size());
      for (platform::Field* f : fields)
        values.push_back(f->Value());
      result = platform::Variant::FromArray(std::move(values));
    }
  } catch (...) {
    FFilterBuffer = saved;
    throw;
  }
  FFilterBuffer = saved;
  return result;
}

}  // namespace vez

#include "platform/dataset/DataSet.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/core/Collation.h"
#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Format.h"
#include "platform/dataset/ByteOrder.h"
#include "platform/dataset/DBConsts.h"
#include "platform/dataset/DataSource.h"
#include "platform/dataset/DatabaseError.h"
#include "platform/ui/EngineUi.h"

namespace platform {

using enum TDataSetState;
using enum TDataEvent;
using enum TGetMode;
using enum TGetResult;

namespace {

bool InWriteMode(TDataSetState s) {
  switch (s) {
    case dsEdit:
    case dsInsert:
    case dsSetKey:
    case dsCalcFields:
    case dsFilter:
    case dsNewValue:
    case dsInternalCalc:
      return true;
    default:
      return false;
  }
}

}  // namespace

DataSet::DataSet(Component* owner) : Component(owner), field_defs_(this) {}

DataSet::~DataSet() {
  SetDestroying();
  const std::vector<DataSource*> sources = data_sources_;
  data_sources_.clear();
  for (DataSource* s : sources)
    s->DataSetGone();
}

void DataSet::Fire(const TDataSetNotifyEvent& event, DataSet& self) {
  if (event) event(self);
}

void DataSet::FireAfter(const TDataSetNotifyEvent& event) {
  if (!event) return;
  if (operation_depth_ != 1 || hold_after_) {
    event(*this);
    return;
  }
  struct Release {
    DataSet& ds;
    explicit Release(DataSet& d) : ds(d) { ds.operation_depth_ = 0; }
    ~Release() { ds.operation_depth_ = 1; }
  } release(*this);
  event(*this);
}

void DataSet::DoBeforeScroll() {
  Fire(BeforeScroll, *this);
}
void DataSet::DoAfterScroll() {
  FireAfter(AfterScroll);
}

// ---- re-entrancy

DataSet::Operation::Operation(DataSet& dataset)
    : dataset_(dataset), saved_nested_(dataset.nested_ok_) {
  // An operation may start inside another only as one of its own steps;
  // an event handler or a pumped event that starts one mid-way is refused.
  if (dataset.operation_depth_ > 0 && !dataset.nested_ok_)
    DatabaseError(dbconsts::SDataSetBusy, dataset.Name);
  ++dataset.operation_depth_;
  dataset.nested_ok_ = false;
}

DataSet::Operation::~Operation() {
  --dataset_.operation_depth_;
  dataset_.nested_ok_ = saved_nested_;
}

// ---- state

void DataSet::SetState(TDataSetState value) {
  if (state_ != value) {
    state_ = value;
    modified_ = false;
    DataEvent(deUpdateState, 0);
  }
}

void DataSet::CheckActive() const {
  if (state_ == dsInactive) DatabaseError(dbconsts::SDataSetClosed, Name);
}

void DataSet::CheckInactive() const {
  if (state_ != dsInactive) DatabaseError(dbconsts::SDataSetOpen, Name);
}

void DataSet::CheckCanModify() {
  if (!GetCanModify()) DatabaseError(dbconsts::SDataSetReadOnly, Name);
}

void DataSet::CheckWriteMode() {
  if (!InWriteMode(state_)) DatabaseError(dbconsts::SNotEditing, Name);
}

void DataSet::DataEvent(TDataEvent event, std::intptr_t info) {
  if (event == deFieldChange) {
    auto* field = reinterpret_cast<Field*>(info);
    if (field->FieldKind() == TFieldKind::fkData ||
        field->FieldKind() == TFieldKind::fkInternalCalc)
      modified_ = true;
    if (state_ != dsSetKey) {
      if (calc_fields_size_ != 0 && AutoCalcFields && field->FieldKind() == TFieldKind::fkData)
        GetCalcFields(ActiveBuffer());
      field->Change();
    }
  } else if (event == dePropertyChange) {
    field_defs_.SetUpdated(false);
  }
  if (disable_count_ == 0)
    NotifyDataSources(event, info);
  else if ((event == deUpdateState && state_ == dsInactive) || event == deLayoutChange)
    enable_event_ = deLayoutChange;
}

void DataSet::NotifyDataSources(TDataEvent event, std::intptr_t info) {
  const std::vector<DataSource*> sources = data_sources_;
  for (DataSource* s : sources)
    if (std::find(data_sources_.begin(), data_sources_.end(), s) != data_sources_.end())
      s->DataEvent(event, info);
}

void DataSet::DisableControls() {
  if (disable_count_ == 0) {
    disable_state_ = state_;
    enable_event_ = deDataSetChange;
  }
  ++disable_count_;
}

void DataSet::EnableControls() {
  if (disable_count_ == 0) return;
  if (--disable_count_ == 0) {
    if (disable_state_ != state_) DataEvent(deUpdateState, 0);
    if (disable_state_ != dsInactive && state_ != dsInactive) DataEvent(enable_event_, 0);
  }
}

bool DataSet::IsLinkedTo(const DataSource* source) const {
  while (source != nullptr) {
    const DataSet* ds = source->GetDataSet();
    if (ds == nullptr) break;
    if (ds == this) return true;
    source = ds->GetDataSource();
  }
  return false;
}

void DataSet::GetFieldList(std::vector<Field*>& list, const std::string& names) const {
  std::size_t pos = 0;
  while (pos <= names.size()) {
    std::size_t end = names.find(';', pos);
    if (end == std::string::npos) end = names.size();
    std::string_view name(names.data() + pos, end - pos);
    while (!name.empty() && name.front() == ' ')
      name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ')
      name.remove_suffix(1);
    if (!name.empty()) list.push_back(&FieldByName(name));
    pos = end + 1;
  }
}

// ---- opening and closing

void DataSet::SetActive(bool value) {
  if (Active() == value) return;
  Operation op(*this);
  DoSetActive(value);
}

void DataSet::DoSetActive(bool value) {
  if (value) {
    Fire(BeforeOpen, *this);
    try {
      OpenCursor(false);
    } catch (...) {
      if (state_ != dsOpening) OpenCursorComplete();
      throw;
    }
    if (state_ != dsOpening) OpenCursorComplete();
  } else {
    if (!Destroying()) Fire(BeforeClose, *this);
    SetState(dsInactive);
    CloseCursor();
    if (!Destroying()) FireAfter(AfterClose);
  }
}

void DataSet::OpenCursor(bool info_query) {
  if (info_query)
    InternalInitFieldDefs();
  else if (state_ != dsOpening)
    DoInternalOpen();
}

void DataSet::DoInternalOpen() {
  internal_open_complete_ = false;
  default_fields_ = std::none_of(fields_.begin(), fields_.end(), [](const auto& f) {
    return f->FieldKind() == TFieldKind::fkData;
  });
  InternalOpen();
  AllocateBuffers();
  ClearBuffers();
  GetNextRecords();
  bof_ = true;
  // Only now: a failure above must close again rather than leave an open
  // dataset without its first record.
  internal_open_complete_ = true;
}

void DataSet::OpenCursorComplete() {
  if (internal_open_complete_) {
    SetState(dsBrowse);
    FireAfter(AfterOpen);
    if (!IsEmpty()) DoAfterScroll();
  } else {
    SetState(dsInactive);
    CloseCursor();
  }
}

void DataSet::CloseCursor() {
  internal_open_complete_ = false;
  ClearBuffers();
  FreeBuffers();
  InternalClose();
  default_fields_ = false;
}

void DataSet::DestroyingClose() noexcept {
  SetDestroying();
  try {
    if (Active()) {
      SetActive(false);
    } else if (buffers_allocated_) {
      CloseCursor();
    }
  } catch (...) {
    InternalHandleException();
  }
  // Whatever failed above, no buffer may outlive the dataset.
  try {
    FreeBuffers();
  } catch (...) {
  }
}

void DataSet::AllocateBuffers() {
  if (buffers_allocated_) return;
  try {
    for (auto& b : buffers_)
      b = AllocRecordBuffer();
  } catch (...) {
    for (auto& b : buffers_)
      if (b != nullptr) FreeRecordBuffer(b);
    throw;
  }
  buffers_allocated_ = true;
}

void DataSet::FreeBuffers() {
  for (auto& b : buffers_)
    if (b != nullptr) FreeRecordBuffer(b);
  for (auto& b : buffers_)
    b = nullptr;
  buffers_allocated_ = false;
  calc_buffer_ = nullptr;
}

// ---- buffers

void DataSet::ClearBuffers() {
  record_count_ = 0;
  active_record_ = 0;
  current_record_ = -1;
  bof_ = true;
  eof_ = true;
}

void DataSet::ActivateBuffers() {
  record_count_ = 1;
  active_record_ = 0;
  current_record_ = 0;
  bof_ = false;
  eof_ = false;
}

void DataSet::MoveBuffer(int cur_index, int new_index) {
  // With the active buffer and the spare, moving one buffer across the
  // others is a swap.
  static_assert(kBufferCount == 1);
  if (cur_index != new_index) std::swap(buffers_[cur_index], buffers_[new_index]);
}

void DataSet::SetCurrentRecord(int index) {
  if (current_record_ == index) return;
  TRecordBuffer b = buffers_[index];
  switch (GetBookmarkFlag(b)) {
    case bfCurrent:
    case bfInserted:
      InternalSetToRecord(b);
      break;
    case bfBOF:
      InternalFirst();
      break;
    case bfEOF:
      InternalLast();
      break;
  }
  current_record_ = index;
}

void DataSet::UpdateCursorPos() {
  if (record_count_ > 0) SetCurrentRecord(active_record_);
}

bool DataSet::GetNextRecord() {
  TGetMode mode = gmNext;
  if (record_count_ > 0) {
    SetCurrentRecord(record_count_ - 1);
    if (state_ == dsInsert && current_record_ == active_record_ &&
        GetBookmarkFlag(ActiveBuffer()) == bfCurrent)
      mode = gmCurrent;
  }
  bool ok;
  try {
    ok = GetRecord(buffers_[record_count_], mode, true) == grOK;
  } catch (...) {
    // The cursor may have moved: put it back before the next read.
    CursorPosChanged();
    throw;
  }
  if (ok) {
    if (record_count_ == 0)
      ActivateBuffers();
    else if (record_count_ < kBufferCount)
      ++record_count_;
    else
      MoveBuffer(0, record_count_);
    current_record_ = record_count_ - 1;
  } else {
    CursorPosChanged();
  }
  return ok;
}

bool DataSet::GetPriorRecord() {
  if (record_count_ > 0) SetCurrentRecord(0);
  bool ok;
  try {
    ok = GetRecord(buffers_[record_count_], gmPrior, true) == grOK;
  } catch (...) {
    CursorPosChanged();
    throw;
  }
  if (ok) {
    if (record_count_ == 0) {
      ActivateBuffers();
    } else {
      MoveBuffer(record_count_, 0);
      if (record_count_ < kBufferCount) {
        ++record_count_;
        ++active_record_;
      }
    }
    current_record_ = 0;
  } else {
    CursorPosChanged();
  }
  return ok;
}

void DataSet::GetNextRecords() {
  while (record_count_ < kBufferCount && GetNextRecord()) {
  }
}

void DataSet::GetPriorRecords() {
  while (record_count_ < kBufferCount && GetPriorRecord()) {
  }
}

void DataSet::Resync(TResyncMode mode) {
  if ((mode & rmExact) != 0) {
    CursorPosChanged();
    if (GetRecord(buffers_[record_count_], gmCurrent, true) != grOK)
      DatabaseError(dbconsts::SRecordNotFound, Name);
  } else if (GetRecord(buffers_[record_count_], gmCurrent, false) != grOK &&
             GetRecord(buffers_[record_count_], gmNext, false) != grOK &&
             GetRecord(buffers_[record_count_], gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange, 0);
    return;
  }
  MoveBuffer(record_count_, 0);
  ActivateBuffers();
  // With one buffer there is nothing to fill around the active record.
  DataEvent(deDataSetChange, 0);
}

// ---- navigation

void DataSet::CheckBrowseMode() {
  // Only a pending edit makes this an operation (it posts or cancels).
  if (state_ == dsEdit || state_ == dsInsert || state_ == dsSetKey) {
    Operation op(*this);
    CheckBrowseModeNested(true);
  } else {
    CheckBrowseModeNested(true);
  }
}

void DataSet::CheckBrowseModeNested(bool whole_operation) {
  // Unless this is the whole operation, the post or cancel made here is only
  // its first step: their After events still run inside the operation.
  struct Hold {
    bool& flag;
    bool saved;
    Hold(bool& f, bool hold) : flag(f), saved(f) { flag = f || hold; }
    ~Hold() { flag = saved; }
  } hold(hold_after_, !whole_operation);
  CheckActive();
  DataEvent(deCheckBrowseMode, 0);
  switch (state_) {
    case dsEdit:
    case dsInsert:
      UpdateRecord();
      if (modified_)
        DoPost();
      else
        DoCancel();
      break;
    case dsSetKey:
      DoPost();
      break;
    default:
      break;
  }
}

void DataSet::UpdateRecord() {
  if (!InWriteMode(state_)) DatabaseError(dbconsts::SNotEditing, Name);
  DataEvent(deUpdateRecord, 0);
}

void DataSet::First() {
  Operation op(*this);
  CheckBrowseModeNested();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecords();
  } catch (...) {
    bof_ = true;
    DataEvent(deDataSetChange, 0);
    throw;
  }
  bof_ = true;
  DataEvent(deDataSetChange, 0);
  DoAfterScroll();
}

void DataSet::Last() {
  Operation op(*this);
  CheckBrowseModeNested();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecords();
  } catch (...) {
    eof_ = true;
    DataEvent(deDataSetChange, 0);
    throw;
  }
  eof_ = true;
  DataEvent(deDataSetChange, 0);
  DoAfterScroll();
}

int DataSet::MoveBy(int distance) {
  Operation op(*this);
  CheckBrowseModeNested();
  int result = 0;
  DoBeforeScroll();
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    bof_ = false;
    eof_ = false;
    const int old_record_count = record_count_;
    auto finish = [&] {
      DataEvent(record_count_ != old_record_count ? deDataSetChange : deDataSetScroll, 0);
    };
    try {
      while (distance > 0) {
        if (active_record_ < record_count_ - 1) {
          ++active_record_;
        } else if (!GetNextRecord()) {
          eof_ = true;
          break;
        }
        --distance;
        ++result;
      }
      while (distance < 0) {
        if (active_record_ > 0) {
          --active_record_;
        } else if (!GetPriorRecord()) {
          bof_ = true;
          break;
        }
        ++distance;
        --result;
      }
    } catch (...) {
      finish();
      throw;
    }
    finish();
    DoAfterScroll();
  }
  return result;
}

void DataSet::Refresh() {
  Operation op(*this);
  Fire(BeforeRefresh, *this);
  CheckBrowseModeNested();
  UpdateCursorPos();
  InternalRefresh();
  Resync(0);
  FireAfter(AfterRefresh);
}

// ---- editing

void DataSet::BeginInsertAppend() {
  CheckBrowseModeNested();
  CheckCanModify();
  Fire(BeforeInsert, *this);
}

void DataSet::EndInsertAppend() {
  SetState(dsInsert);
  try {
    modified_ = false;
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    SetState(dsBrowse);
    Resync(0);
    throw;
  }
  modified_ = false;
  DataEvent(deDataSetChange, 0);
  FireAfter(AfterInsert);
}

void DataSet::Insert() {
  Operation op(*this);
  DoInsert();
}

void DataSet::DoInsert() {
  BeginInsertAppend();
  const TBookmark old_current = GetBookmark();
  MoveBuffer(record_count_, active_record_);
  TRecordBuffer buffer = ActiveBuffer();
  InitRecord(buffer);
  if (record_count_ == 0)
    SetBookmarkFlag(buffer, bfBOF);
  else if (!old_current.empty())
    SetBookmarkData(buffer, old_current.data());
  if (record_count_ < kBufferCount) ++record_count_;
  InternalInsert();
  EndInsertAppend();
}

void DataSet::Append() {
  Operation op(*this);
  BeginInsertAppend();
  ClearBuffers();
  TRecordBuffer buffer = buffers_[0];
  InitRecord(buffer);
  SetBookmarkFlag(buffer, bfEOF);
  record_count_ = 1;
  bof_ = false;
  GetPriorRecords();
  InternalLast();
  EndInsertAppend();
}

void DataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  Operation op(*this);
  if (record_count_ == 0) {
    DoInsert();
    return;
  }
  CheckBrowseModeNested();
  CheckCanModify();
  Fire(BeforeEdit, *this);
  UpdateCursorPos();
  InternalEdit();
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange, 0);
  FireAfter(AfterEdit);
}

void DataSet::Post() {
  Operation op(*this);
  DoPost();
}

void DataSet::DoPost() {
  UpdateRecord();
  if (state_ == dsSetKey) {
    PostKeyBuffer(true);
    return;
  }
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  Fire(BeforePost, *this);
  UpdateCursorPos();
  InternalPost();
  SetState(dsBrowse);
  Resync(0);
  FireAfter(AfterPost);
}

void DataSet::Cancel() {
  Operation op(*this);
  DoCancel();
}

void DataSet::DoCancel() {
  if (state_ == dsSetKey) {
    PostKeyBuffer(false);
    return;
  }
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  Fire(BeforeCancel, *this);
  const bool scroll_events = state_ == dsInsert;
  if (scroll_events) DoBeforeScroll();
  UpdateCursorPos();
  InternalCancel();
  SetState(dsBrowse);
  Resync(0);
  FireAfter(AfterCancel);
  if (scroll_events) DoAfterScroll();
}

void DataSet::Delete() {
  Operation op(*this);
  CheckActive();
  if (state_ == dsInsert || state_ == dsSetKey) {
    DoCancel();
    return;
  }
  if (record_count_ == 0) DatabaseError(dbconsts::SDataSetEmpty, Name);
  DataEvent(deCheckBrowseMode, 0);
  Fire(BeforeDelete, *this);
  DoBeforeScroll();
  UpdateCursorPos();
  InternalDelete();
  SetState(dsBrowse);
  Resync(0);
  FireAfter(AfterDelete);
  DoAfterScroll();
}

void DataSet::DoOnNewRecord() {
  Fire(OnNewRecord, *this);
}

void DataSet::InternalPost() {
  CheckRequiredFields();
}

void DataSet::CheckRequiredFields() {
  for (const auto& f : fields_)
    if (f->Required && !f->ReadOnly && f->FieldKind() == TFieldKind::fkData && f->IsNull())
      DatabaseError(Format(dbconsts::SFieldRequired, {f->DisplayName()}), Name);
}

void DataSet::SetFields(std::span<const Variant> values) {
  if (values.size() > fields_.size()) throw EListError(dbconsts::SFieldIndexError);
  for (std::size_t i = 0; i < values.size(); ++i)
    fields_[i]->SetValue(values[i]);
}

void DataSet::InsertAppendRecord(std::span<const Variant> values, bool append) {
  Operation op(*this);
  BeginInsertAppend();
  if (!append) UpdateCursorPos();
  MoveBuffer(record_count_, active_record_);
  try {
    TRecordBuffer buffer = ActiveBuffer();
    InitRecord(buffer);
    state_ = dsInsert;
    try {
      modified_ = false;
      DoOnNewRecord();
      Fire(AfterInsert, *this);
      SetFields(values);
      Fire(BeforePost, *this);
      InternalAddRecord(buffer, append);
    } catch (...) {
      state_ = dsBrowse;
      modified_ = false;
      throw;
    }
    state_ = dsBrowse;
    modified_ = false;
  } catch (...) {
    MoveBuffer(active_record_, record_count_);
    throw;
  }
  Resync(0);
  FireAfter(AfterPost);
}

void DataSet::InsertRecord(std::span<const Variant> values) {
  InsertAppendRecord(values, false);
}
void DataSet::AppendRecord(std::span<const Variant> values) {
  InsertAppendRecord(values, true);
}

// ---- key editing, searching, filter handler

void DataSet::SetKeyBuffer(TRecordBuffer key, TRecordBuffer save, int size, bool clear) {
  Operation op(*this);
  CheckBrowseModeNested();
  std::memcpy(save, key, static_cast<std::size_t>(size));
  key_buffer_ = key;
  key_save_ = save;
  key_size_ = size;
  if (clear) InitKeyBuffer(key, size);
  SetState(dsSetKey);
  DataEvent(deDataSetChange, 0);
}

void DataSet::InitKeyBuffer(TRecordBuffer buffer, int size) {
  std::memset(buffer, 0, static_cast<std::size_t>(size));
}

void DataSet::PostKeyBuffer(bool commit) {
  DataEvent(deCheckBrowseMode, 0);
  if (!commit && key_buffer_ != nullptr)
    std::memcpy(key_buffer_, key_save_, static_cast<std::size_t>(key_size_));
  SetState(dsBrowse);
  DataEvent(deDataSetChange, 0);
}

bool DataSet::FindRecord(bool, bool) {
  found_ = false;
  return false;
}

bool DataSet::Locate(const std::string&, const Variant&, TLocateOptions) {
  return false;
}

Variant DataSet::Lookup(const std::string&, const Variant&, const std::string&) {
  return Variant::Null();
}

bool DataSet::FilterRecordThroughHandler(TRecordBuffer buffer) {
  if (!on_filter_record_) return true;
  TempState temp(*this, dsFilter);
  const TRecordBuffer saved = filter_buffer_;
  filter_buffer_ = buffer;
  bool accept = true;
  try {
    on_filter_record_(*this, accept);
  } catch (...) {
    InternalHandleException();
  }
  filter_buffer_ = saved;
  return accept;
}

// ---- record buffers

void DataSet::InitRecord(TRecordBuffer buffer) {
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, bfInserted);
}

void DataSet::ClearCalcFields(TRecordBuffer) {}

bool DataSet::GetCurrentRecord(TRecordBuffer) {
  return false;
}

void DataSet::GetCalcFields(TRecordBuffer buffer) {
  if (calc_fields_size_ <= 0) return;
  TempState temp(*this, dsCalcFields);
  CalculateFields(buffer);
}

void DataSet::CalculateFields(TRecordBuffer buffer) {
  calc_buffer_ = buffer;
  ClearCalcFields(buffer);
  Fire(OnCalcFields, *this);
}

bool DataSet::ReadCalcField(const std::uint8_t* calc_area, const Field& field, void* buffer) {
  const std::uint8_t* p = calc_area + field.Offset();
  if (p[0] == 0) return false;
  if (buffer != nullptr) std::memcpy(buffer, p + 1, static_cast<std::size_t>(field.DataSize()));
  return true;
}

void DataSet::WriteCalcField(std::uint8_t* calc_area, const Field& field, const void* buffer) {
  std::uint8_t* p = calc_area + field.Offset();
  p[0] = buffer != nullptr ? 1 : 0;
  if (buffer != nullptr)
    std::memcpy(p + 1, buffer, static_cast<std::size_t>(field.DataSize()));
  else
    std::memset(p + 1, 0, static_cast<std::size_t>(field.DataSize()));
}

// ---- bookmarks

TBookmark DataSet::GetBookmark() {
  if ((state_ == dsBrowse || state_ == dsEdit || state_ == dsInsert) && record_count_ > 0 &&
      GetBookmarkFlag(ActiveBuffer()) == bfCurrent) {
    TBookmark b(static_cast<std::size_t>(bookmark_size_));
    GetBookmarkData(ActiveBuffer(), b.data());
    return b;
  }
  return {};
}

void DataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  Operation op(*this);
  CheckBrowseModeNested();
  if (bookmark.size() != static_cast<std::size_t>(bookmark_size_))
    DatabaseError(dbconsts::SRecordNotFound, Name);
  DoBeforeScroll();
  InternalGotoBookmark(bookmark.data());
  Resync(rmExact | rmCenter);
  DoAfterScroll();
}

bool DataSet::BookmarkValid(const TBookmark&) {
  return false;
}

int DataSet::CompareBookmarks(const TBookmark& bookmark1, const TBookmark& bookmark2) {
  if (bookmark1.empty()) return bookmark2.empty() ? 0 : 1;
  if (bookmark2.empty()) return -1;
  return 0;
}

// ---- fields

Field& DataSet::Fields(int index) const {
  if (index < 0 || index >= FieldCount()) throw EListError(dbconsts::SFieldIndexError);
  return *fields_[static_cast<std::size_t>(index)];
}

Field* DataSet::FindField(std::string_view name) const {
  for (const auto& f : fields_)
    if (AnsiSameText(f->FieldName(), name)) return f.get();
  return nullptr;
}

Field& DataSet::FieldByName(std::string_view name) const {
  Field* f = FindField(name);
  if (f == nullptr) DatabaseError(Format(dbconsts::SFieldNotFound, {name}), Name);
  return *f;
}

Field& DataSet::AddCalculatedField(std::string_view name, TFieldType type, int size) {
  CheckInactive();
  if (FindField(name) != nullptr)
    DatabaseError(Format(dbconsts::SDuplicateFieldName, {name}), Name);
  if (IsSizedFieldType(type) && size == 0) size = type == ftGuid ? kGuidSize : kDefaultStringSize;
  std::unique_ptr<Field> f = CreateFieldOfType(type, size);
  if (!f || f->IsBlob()) DatabaseError(Format(dbconsts::SUnknownFieldType, {name}), Name);
  f->SetFieldName(std::string(name));
  f->kind_ = TFieldKind::fkCalculated;
  f->field_no_ = -1;
  f->dataset_ = this;
  fields_.push_back(std::move(f));
  for (std::size_t i = 0; i < fields_.size(); ++i)
    fields_[i]->index_ = static_cast<int>(i);
  return *fields_.back();
}

void DataSet::InitFieldDefs() {
  InternalInitFieldDefs();
  field_defs_.SetUpdated(true);
}

void DataSet::CreateFields() {
  std::vector<std::unique_ptr<Field>> made;
  for (int i = 0; i < field_defs_.Count(); ++i) {
    const FieldDef& def = field_defs_.Items(i);
    if (FindField(def.Name) != nullptr)
      DatabaseError(Format(dbconsts::SDuplicateFieldName, {def.Name}), Name);
    std::unique_ptr<Field> f = def.CreateField();
    f->dataset_ = this;
    made.push_back(std::move(f));
  }
  // Data fields come first, in definition order; calculated ones follow.
  fields_.insert(fields_.begin(), std::make_move_iterator(made.begin()),
                 std::make_move_iterator(made.end()));
  for (std::size_t i = 0; i < fields_.size(); ++i)
    fields_[i]->index_ = static_cast<int>(i);
}

void DataSet::DestroyFields() {
  // Not held back by DisableControls: links must not keep pointers to the
  // fields across the close and reopen that batched notices would hide.
  for (DataSource* s : data_sources_)
    s->FieldsDestroying();
  std::erase_if(fields_, [](const auto& f) { return f->FieldKind() == TFieldKind::fkData; });
  for (std::size_t i = 0; i < fields_.size(); ++i)
    fields_[i]->index_ = static_cast<int>(i);
}

void DataSet::BindFields(bool binding) {
  calc_fields_size_ = 0;
  for (const auto& f : fields_) {
    if (f->FieldKind() == TFieldKind::fkData) {
      if (binding) {
        const int i = field_defs_.IndexOf(f->FieldName());
        if (i < 0) DatabaseError(Format(dbconsts::SFieldNotFound, {f->FieldName()}), Name);
        const FieldDef& def = field_defs_.Items(i);
        if (def.DataType != f->DataType())
          DatabaseError(
              Format("Type mismatch for field '%s', expecting: %s actual: %s",
                     {f->DisplayName(), FieldTypeName(f->DataType()), FieldTypeName(def.DataType)}),
              Name);
        f->field_no_ = def.FieldNo;
      } else {
        f->field_no_ = 0;
      }
    } else if (binding) {
      f->offset_ = calc_fields_size_;
      calc_fields_size_ += f->DataSize() + 1;
    }
  }
  if (!binding) calc_fields_size_ = 0;
}

// ---- field data

bool DataSet::GetFieldData(const Field& field, void* buffer, bool native_format) {
  if (native_format || buffer == nullptr) return GetFieldData(field, buffer);
  std::vector<std::uint8_t> temp(static_cast<std::size_t>(std::max(field.DataSize(), 1)), 0);
  const bool result = GetFieldData(field, temp.data());
  if (result) DataConvert(field, temp.data(), buffer, false);
  return result;
}

void DataSet::SetFieldData(Field& field, const void* buffer, bool native_format) {
  if (native_format || buffer == nullptr) {
    SetFieldData(field, buffer);
    return;
  }
  std::vector<std::uint8_t> temp(static_cast<std::size_t>(std::max(field.DataSize(), 1)), 0);
  DataConvert(field, buffer, temp.data(), true);
  SetFieldData(field, temp.data());
}

void DataSet::DataConvert(const Field& field, const void* source, void* dest, bool to_native) {
  switch (field.DataType()) {
    case ftDate:
    case ftTime:
    case ftDateTime: {
      const auto* src = static_cast<const std::uint8_t*>(source);
      auto* dst = static_cast<std::uint8_t*>(dest);
      if (to_native) {
        // The exchange form is the caller's double, in host order.
        TDateTime d;
        std::memcpy(&d, source, sizeof d);
        const TTimeStamp ts = DateTimeToTimeStamp(d);
        if (field.DataType() == ftDateTime)
          StoreLE(dst, static_cast<double>(ts.Date) * MSecsPerDay + ts.Time);
        else
          StoreLE(dst, field.DataType() == ftDate ? ts.Date : ts.Time);
      } else {
        TTimeStamp ts;
        if (field.DataType() == ftDateTime) {
          const double ms = LoadLE<double>(src);
          // Rounded first: a product like (D + 693594) * 86400000 often lands a
          // hair below the whole millisecond, and truncating it lost one.
          const double whole = std::nearbyint(ms);
          const double days = std::floor(whole / MSecsPerDay);
          if (!(days >= 1 && days <= 3652059)) throw EConvertError("Invalid date-time value");
          ts.Date = static_cast<std::int32_t>(days);
          ts.Time = static_cast<std::int32_t>(whole - days * MSecsPerDay);
        } else if (field.DataType() == ftDate) {
          ts.Date = LoadLE<std::int32_t>(src);
        } else {
          ts.Date = DateDelta;
          ts.Time = LoadLE<std::int32_t>(src);
        }
        const TDateTime d = TimeStampToDateTime(ts);
        std::memcpy(dest, &d, sizeof d);
      }
      break;
    }
    default:
      std::memcpy(dest, source, static_cast<std::size_t>(field.DataSize()));
      break;
  }
}

std::unique_ptr<Stream> DataSet::CreateBlobStream(Field&, TBlobStreamMode) {
  return nullptr;
}

// ---- filter settings

void DataSet::SetFilterText(const std::string& value) {
  if (Active() && filtered_) CheckBrowseMode();
  filter_text_ = value;
}

void DataSet::SetFiltered(bool value) {
  if (Active()) CheckBrowseMode();
  filtered_ = value;
}

void DataSet::SetFilterOptions(TFilterOptions value) {
  if (Active() && filtered_) CheckBrowseMode();
  filter_options_ = value;
}

void DataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
  if (Active()) CheckBrowseMode();
  on_filter_record_ = std::move(handler);
}

void DataSet::InternalHandleException() noexcept {
  ReportCurrentException();
}

}  // namespace platform

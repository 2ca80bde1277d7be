// DataSet: the dataset base class of the platform's dataset framework. It
// keeps the state machine (inactive, browse, edit, insert and the temporary
// states), the record buffers, the fields and their definitions, and drives
// navigation and editing through protected hooks that a concrete dataset
// (the engine's table and query, or a test's fake) overrides.
//
// Record buffers. The base holds one active record buffer and one spare,
// both allocated by the concrete dataset (AllocRecordBuffer) when it opens
// and freed (FreeRecordBuffer) when it closes. A read goes into the spare,
// which then swaps places with the active buffer, so the active record is
// never half-overwritten by a failed read. The concrete dataset lays out its
// buffers (values, bookmark, calculated-field area) as it likes.
//
// Behaviour that callers rely on:
// - Navigation, bookmark, refresh and record-number operations first post a
//   modified edit, or cancel an unmodified one (CheckBrowseMode).
// - A failed Post leaves the dataset in Edit or Insert with its buffer, so
//   the next navigation posts again (and raises again) until Cancel.
// - Before Edit, Post, Cancel and Delete the cursor is put back on the active
//   record (UpdateCursorPos).
// - InternalPost checks required fields ("Field '%s' must have a value").
// - After Post the cursor's current record (the new row after an insert) is
//   read back into the active buffer, so autoincrement values are visible.
// - Edit on an empty dataset inserts; Delete on it raises.
// - Open that fails leaves the dataset inactive and its buffers freed.
//
// Re-entrancy: a state-changing operation (open, close, navigation, editing,
// bookmarks, searches) may not start while another one on the same dataset
// is under way, except as one of that operation's own steps: an event
// handler, a filter or calculation handler, a data link or an event pumped
// during a long operation that tries gets EDatabaseError. The After events
// of an operation run once it is over, so their handlers may start the next
// one.
//
// Data sources follow the dataset: every data event goes to them (held back
// between DisableControls and EnableControls). Only the notice that fields
// are about to be freed is never held back.
//
// Destruction: the base cannot call the concrete dataset's hooks from its
// own destructor, so every concrete dataset calls DestroyingClose() in its
// destructor. Nothing throws from a destructor.
//
// Not built, because nothing uses them: form streaming and designer support
// (design mode is always false), lookup and persistent data fields, the
// post/edit/delete error events, buffer counts above one.
//
// Thread safety: a dataset is driven by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Variant.h"
#include "platform/dataset/Component.h"
#include "platform/dataset/DataSetTypes.h"
#include "platform/dataset/Field.h"
#include "platform/dataset/FieldDefs.h"
#include "platform/dataset/Stream.h"

namespace platform {

class DataSet;
class DataSource;
using TDataSetNotifyEvent = std::function<void(DataSet& sender)>;

class DataSet : public Component {
 public:
  // Errors of a named dataset begin "<Name>: ".
  explicit DataSet(Component* owner = nullptr);
  // REQUIRES: the concrete dataset closed itself (DestroyingClose). Detaches
  // the data sources that point at the dataset.
  ~DataSet() override;

  // ---- opening and closing
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  bool Active() const { return state_ != TDataSetState::dsInactive; }
  virtual void SetActive(bool value);
  TDataSetState State() const { return state_; }
  bool Modified() const { return modified_; }
  // True while the state is dsInactive or there is no record.
  bool IsEmpty() const { return record_count_ == 0; }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool CanModify() { return GetCanModify(); }

  // ---- navigation
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves up to distance records; returns how far it got (negative
  // backwards).
  int MoveBy(int distance);
  void Refresh();
  // Re-reads the active record from the cursor. rmExact: the record must
  // still be there ("Record not found" otherwise); without it the next or
  // prior record takes its place, or the dataset shows empty.
  void Resync(TResyncMode mode);

  // ---- editing
  void Insert();
  void Append();
  void Edit();
  void Post();
  void Cancel();
  void Delete();
  // One record in one step: the values go to the fields in order (Null and
  // Empty leave a field NULL), then the record is added; the dataset ends in
  // browse state on the new record, or, on failure, where it was.
  void InsertRecord(std::span<const Variant> values);
  void AppendRecord(std::span<const Variant> values);
  void InsertRecord(std::initializer_list<Variant> values) {
    InsertRecord(std::span<const Variant>(values.begin(), values.size()));
  }
  void AppendRecord(std::initializer_list<Variant> values) {
    AppendRecord(std::span<const Variant>(values.begin(), values.size()));
  }
  // The values of the fields in order (Null/Empty clear a field).
  void SetFields(std::span<const Variant> values);
  // Posts a modified edit, cancels an unmodified one; raises when inactive.
  void CheckBrowseMode();
  // Sends deUpdateRecord; raises "Dataset not in edit or insert mode"
  // outside the write states.
  void UpdateRecord();
  void CheckActive() const;
  void CheckInactive() const;

  // ---- bookmarks and record numbers
  int BookmarkSize() const { return bookmark_size_; }
  // Empty when the active record has none (empty dataset, record being
  // inserted).
  TBookmark GetBookmark();
  void GotoBookmark(const TBookmark& bookmark);
  TBookmark Bookmark() { return GetBookmark(); }
  void SetBookmark(const TBookmark& bookmark) { GotoBookmark(bookmark); }
  virtual bool BookmarkValid(const TBookmark& bookmark);
  // -1, 0 or 1; an empty bookmark sorts after a real one, two empty ones
  // are equal.
  virtual int CompareBookmarks(const TBookmark& bookmark1, const TBookmark& bookmark2);
  int RecordCount() { return GetRecordCount(); }
  int RecNo() { return GetRecNo(); }
  // Moves to the record with that 1-based number; the base does nothing.
  virtual void SetRecNo(int /*value*/) {}

  // ---- fields
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  // Raises EListError for an index outside 0..FieldCount()-1.
  Field& Fields(int index) const;
  // Case-insensitive; null when absent.
  Field* FindField(std::string_view name) const;
  // Raises EDatabaseError "Field '%s' not found".
  Field& FieldByName(std::string_view name) const;
  platform::FieldDefs& FieldDefs() { return field_defs_; }
  // Adds a calculated field; allowed only while inactive. Its value is set
  // by OnCalcFields (state dsCalcFields) and kept per record buffer.
  Field& AddCalculatedField(std::string_view name, TFieldType type, int size = 0);
  int CalcFieldsSize() const { return calc_fields_size_; }
  bool DefaultFields() const { return default_fields_; }
  bool AutoCalcFields = true;

  // ---- BLOBs
  // A stream over a BLOB field of the active record; null when the dataset
  // cannot give one. The stream may hold on to the dataset until destroyed.
  virtual std::unique_ptr<Stream> CreateBlobStream(Field& field, TBlobStreamMode mode);

  // ---- filter settings (the concrete dataset applies them)
  const std::string& Filter() const { return filter_text_; }
  bool Filtered() const { return filtered_; }
  TFilterOptions FilterOptions() const { return filter_options_; }
  virtual void SetFilterText(const std::string& value);
  virtual void SetFiltered(bool value);
  virtual void SetFilterOptions(TFilterOptions value);

  // ---- searching
  // FindFirst/FindNext/FindPrior/FindLast go to FindRecord; Found is the
  // last answer.
  bool FindFirst() { return FindRecord(true, true); }
  bool FindLast() { return FindRecord(true, false); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }
  bool Found() const { return found_; }
  // Moves to the first record whose key_fields (names separated by ';')
  // hold key_values (one value, or an array for several fields); false and
  // no move when none does. The base finds nothing.
  virtual bool Locate(const std::string& key_fields, const Variant& key_values,
                      TLocateOptions options);
  // The result_fields of the record Locate would find, without moving;
  // Null when none. The base finds nothing.
  virtual Variant Lookup(const std::string& key_fields, const Variant& key_values,
                         const std::string& result_fields);

  // ---- data sources and controls
  // Notifications to data sources are held back until the matching
  // EnableControls, which then sends one: a state change when the state
  // differs, and one data-set change (a layout change when the dataset
  // closed or its layout changed meanwhile).
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ != 0; }
  // The source this dataset follows (a detail's master); null in the base.
  virtual DataSource* GetDataSource() const { return nullptr; }
  // True when `source` leads back to this dataset through its chain of
  // masters.
  bool IsLinkedTo(const DataSource* source) const;
  // The fields named in `names` (separated by ';'); raises "Field '%s' not
  // found" for an unknown name.
  void GetFieldList(std::vector<Field*>& list, const std::string& names) const;

  // ---- events
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent BeforeRefresh, AfterRefresh;
  TDataSetNotifyEvent OnCalcFields, OnNewRecord;
  using TFilterRecordEvent = std::function<void(DataSet& sender, bool& accept)>;
  const TFilterRecordEvent& OnFilterRecord() const { return on_filter_record_; }
  virtual void SetOnFilterRecord(TFilterRecordEvent handler);

  // ---- field data, called by the fields
  // The field's value in the active record (see GetActiveRecordBuffer),
  // native form; false for NULL. A null buffer only asks.
  virtual bool GetFieldData(const Field& field, void* buffer) = 0;
  // Stores the field's value (null buffer: NULL) and sends deFieldChange.
  virtual void SetFieldData(Field& field, const void* buffer) = 0;
  // Converts between a field's native buffer and its exchange form (the
  // date-time double for ftDate, ftTime and ftDateTime; the SQL time-stamp
  // record for ftTimeStamp). Other types are copied as they are.
  virtual void DataConvert(const Field& field, const void* source, void* dest, bool to_native);
  bool GetFieldData(const Field& field, void* buffer, bool native_format);
  void SetFieldData(Field& field, const void* buffer, bool native_format);

  // The exception-handler entry point: hands the exception being handled to
  // the application's handler (the current EngineUi). Call inside a catch.
  void HandleException() noexcept { InternalHandleException(); }

  // Sends a data event: marks the record modified on a field change and
  // recalculates calculated fields.
  virtual void DataEvent(TDataEvent event, std::intptr_t info);

 protected:
  // ---- record-buffer protocol
  virtual TRecordBuffer AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(TRecordBuffer& buffer) = 0;
  virtual void GetBookmarkData(TRecordBuffer buffer, std::uint8_t* data) = 0;
  virtual void SetBookmarkData(TRecordBuffer buffer, const std::uint8_t* data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) = 0;
  virtual void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag value) = 0;
  virtual TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) = 0;
  virtual int GetRecordSize() = 0;
  virtual bool GetCurrentRecord(TRecordBuffer buffer);
  virtual void InitRecord(TRecordBuffer buffer);
  virtual void InternalInitRecord(TRecordBuffer buffer) = 0;
  virtual void ClearCalcFields(TRecordBuffer buffer);
  virtual void GetCalcFields(TRecordBuffer buffer);

  // ---- cursor hooks
  virtual bool IsCursorOpen() = 0;
  virtual void OpenCursor(bool info_query);
  virtual void CloseCursor();
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual void InternalInitFieldDefs() = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalGotoBookmark(const std::uint8_t* bookmark) = 0;
  virtual void InternalSetToRecord(TRecordBuffer buffer) = 0;
  virtual void InternalAddRecord(TRecordBuffer buffer, bool append) = 0;
  virtual void InternalInsert() {}
  virtual void InternalEdit() {}
  // The base checks required fields.
  virtual void InternalPost();
  virtual void InternalCancel() {}
  virtual void InternalDelete() = 0;
  // Fills a new record (state dsInsert) before the caller's values; the base
  // fires OnNewRecord.
  virtual void DoOnNewRecord();
  virtual void InternalRefresh() {}
  // Reports the exception being handled through the current EngineUi.
  virtual void InternalHandleException() noexcept;
  virtual bool GetCanModify() { return true; }
  virtual int GetRecordCount() { return -1; }
  virtual int GetRecNo() { return -1; }
  // True for a field of the current index; the base has no index.
  virtual bool GetIsIndexField(const Field& /*field*/) { return false; }
  virtual void CloseBlob(Field& /*field*/) {}
  // The search behind FindFirst and its kin; sets Found. The base finds
  // nothing.
  virtual bool FindRecord(bool restart, bool go_forward);
  void SetFound(bool value) { found_ = value; }
  // Re-initialises a key buffer when key editing starts with a clear key;
  // the base zero-fills it.
  virtual void InitKeyBuffer(TRecordBuffer buffer, int size);
  // Called by IndexDefs::Update; the base has no index definitions.
  virtual void UpdateIndexDefs() {}
  friend class IndexDefs;
  friend class FieldDefs;

  // ---- helpers for concrete datasets
  TRecordBuffer ActiveBuffer() const { return buffers_[active_record_]; }
  // The spare buffer (free for scratch reads).
  TRecordBuffer TempBuffer() const { return buffers_[record_count_]; }
  // The buffer that calculated fields are being computed for.
  TRecordBuffer CalcBuffer() const { return calc_buffer_; }
  void SetBookmarkSize(int size) { bookmark_size_ = size; }
  void SetState(TDataSetState value);
  // A temporary state (dsCalcFields, dsFilter, dsNewValue ...) for the life
  // of the guard; the previous state and its Modified flag come back also on
  // exceptions. Modified starts false (it tells whether the temporary record
  // was written). No event is sent and data sources hear nothing meanwhile:
  // a master's key being filled in must not move its details.
  class TempState {
   public:
    TempState(DataSet& dataset, TDataSetState state)
        : dataset_(dataset), saved_(dataset.state_), saved_modified_(dataset.modified_) {
      dataset.state_ = state;
      dataset.modified_ = false;
      ++dataset.disable_count_;
    }
    TempState(const TempState&) = delete;
    TempState& operator=(const TempState&) = delete;
    ~TempState() {
      dataset_.state_ = saved_;
      dataset_.modified_ = saved_modified_;
      if (dataset_.disable_count_ > 0) --dataset_.disable_count_;
    }

   private:
    DataSet& dataset_;
    TDataSetState saved_;
    bool saved_modified_;
  };
  // Key editing (dsSetKey): `key` becomes the buffer that field writes go
  // to, its first `size` bytes are saved to `save` (and the key cleared when
  // asked). Post keeps the edited key, Cancel puts the saved bytes back.
  // An operation of its own (called from another one, it must be Nested).
  void SetKeyBuffer(TRecordBuffer key, TRecordBuffer save, int size, bool clear);
  // Ends key editing; commit false restores the saved key.
  virtual void PostKeyBuffer(bool commit);
  TRecordBuffer KeyBuffer() const { return key_buffer_; }
  // Points field writes in dsSetKey at `key` without the saving and notices
  // of SetKeyBuffer: for a key filled in one step under a TempState.
  void SetKeyBufferTarget(TRecordBuffer key) { key_buffer_ = key; }
  // The record an OnFilterRecord handler is looking at (state dsFilter).
  TRecordBuffer FilterBuffer() const { return filter_buffer_; }
  bool IsFilterEventActive() const { return filtered_ && static_cast<bool>(on_filter_record_); }
  // Shows `buffer` to OnFilterRecord in state dsFilter and returns its
  // verdict (true without a handler). A handler that throws is reported
  // through the exception handler and the record keeps the verdict it had,
  // so a scan goes on.
  bool FilterRecordThroughHandler(TRecordBuffer buffer);
  // Marks a state-changing operation for the re-entrancy check. A concrete
  // dataset wraps its own public operations in one.
  class Operation {
   public:
    explicit Operation(DataSet& dataset);
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;
    ~Operation();

   private:
    DataSet& dataset_;
    bool saved_nested_;
  };
  // Lets the next operations inside the current one nest (the dataset's own
  // steps, as Post inside CheckBrowseMode).
  class Nested {
   public:
    explicit Nested(DataSet& dataset) : dataset_(dataset), saved_(dataset.nested_ok_) {
      dataset.nested_ok_ = true;
    }
    Nested(const Nested&) = delete;
    Nested& operator=(const Nested&) = delete;
    ~Nested() { dataset_.nested_ok_ = saved_; }

   private:
    DataSet& dataset_;
    bool saved_;
  };
  void SetModified(bool value) { modified_ = value; }
  void CheckCanModify();
  // Raises "Dataset not in edit or insert mode" outside the write states.
  void CheckWriteMode();
  void CheckRequiredFields();
  void CursorPosChanged() { current_record_ = -1; }
  void UpdateCursorPos();
  // Reads the definitions (InternalInitFieldDefs) and marks them up to date.
  void InitFieldDefs();
  // Makes one field per definition (data fields, in definition order, ahead
  // of the calculated fields).
  void CreateFields();
  // Frees the data fields made by CreateFields, first telling the data links
  // (at once, even with controls disabled) so none keeps a pointer to them.
  void DestroyFields();
  // Binds the data fields to their definitions' column numbers and lays out
  // the calculated fields (offsets, CalcFieldsSize); false unbinds.
  void BindFields(bool binding);
  // The calculated-field area of a buffer holds, per calculated field at its
  // Offset, a byte that is 1 when the field has a value, then DataSize bytes.
  static bool ReadCalcField(const std::uint8_t* calc_area, const Field& field, void* buffer);
  static void WriteCalcField(std::uint8_t* calc_area, const Field& field, const void* buffer);
  // Closes from a concrete dataset's destructor: no events, exceptions go to
  // the exception handler. Safe to call more than once.
  void DestroyingClose() noexcept;
  void DoBeforeScroll();
  void DoAfterScroll();

 private:
  void DoInternalOpen();
  void OpenCursorComplete();
  void AllocateBuffers();
  void FreeBuffers();
  void ClearBuffers();
  void ActivateBuffers();
  bool GetNextRecord();
  bool GetPriorRecord();
  void GetNextRecords();
  void GetPriorRecords();
  void SetCurrentRecord(int index);
  // Moves the buffer at cur_index to new_index, shifting those between.
  void MoveBuffer(int cur_index, int new_index);
  void CalculateFields(TRecordBuffer buffer);
  void BeginInsertAppend();
  void EndInsertAppend();
  void InsertAppendRecord(std::span<const Variant> values, bool append);
  static void Fire(const TDataSetNotifyEvent& event, DataSet& self);
  // After-events of an outermost operation run as if it had finished, so
  // their handlers may start the next operation.
  void FireAfter(const TDataSetNotifyEvent& event);
  void NotifyDataSources(TDataEvent event, std::intptr_t info);
  void CheckBrowseModeNested(bool whole_operation = false);
  void DoPost();
  void DoCancel();
  void DoInsert();
  void DoSetActive(bool value);
  friend class DataSource;

  TDataSetState state_ = TDataSetState::dsInactive;
  bool modified_ = false;
  bool bof_ = true;
  bool eof_ = true;
  bool default_fields_ = false;
  bool internal_open_complete_ = false;
  bool found_ = false;
  int disable_count_ = 0;
  TDataSetState disable_state_ = TDataSetState::dsInactive;
  TDataEvent enable_event_ = TDataEvent::deDataSetChange;
  std::vector<DataSource*> data_sources_;
  TRecordBuffer key_buffer_ = nullptr;
  TRecordBuffer key_save_ = nullptr;
  int key_size_ = 0;
  TRecordBuffer filter_buffer_ = nullptr;
  int operation_depth_ = 0;
  bool nested_ok_ = false;
  // Set while a step's After events must not release the operation.
  bool hold_after_ = false;
  static constexpr int kBufferCount = 1;
  // Active buffer(s) then the spare.
  TRecordBuffer buffers_[kBufferCount + 1] = {};
  bool buffers_allocated_ = false;
  int record_count_ = 0;
  int active_record_ = 0;
  int current_record_ = -1;
  TRecordBuffer calc_buffer_ = nullptr;
  int bookmark_size_ = 0;
  int calc_fields_size_ = 0;
  std::vector<std::unique_ptr<Field>> fields_;
  platform::FieldDefs field_defs_;
  std::string filter_text_;
  bool filtered_ = false;
  TFilterOptions filter_options_ = 0;
  TFilterRecordEvent on_filter_record_;
  friend class Field;
};

}  // namespace platform

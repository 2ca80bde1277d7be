// Test helper: a dataset over an in-memory table with the engine cursor's
// semantics. Rows are kept in stored order (their ids ascend; a new row goes
// to the end). The cursor is before the first row, after the last, or on a
// row id; a row deleted under the cursor fails a current read (grError) but
// still lets next and prior find its neighbours. Edit, post, cancel and
// delete act on the cursor's row, as the engine does, so a dataset that
// forgot to put its cursor back would change the wrong row.
//
// Record buffer: one null byte per data field, the field values (BLOBs: an
// int32 slot in the blob store), the 4-byte row id and the bookmark flag,
// then the calculated-field area.
//
// Failures: `fail` is called with the hook's name ("Open", "GetRecord",
// "Edit", "Post", "AddRecord", "Cancel", "Delete", "AllocRecordBuffer") and
// may throw.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dataset/DataSet.h"
#include "platform/dataset/DatabaseError.h"

namespace platform::test {

class FakeDataSet : public DataSet {
 public:
  struct Column {
    std::string name;
    TFieldType type;
    int size;
    bool required;
  };

  FakeDataSet() = default;
  ~FakeDataSet() override { DestroyingClose(); }

  void DefineField(std::string name, TFieldType type, int size = 0, bool required = false) {
    columns.push_back({std::move(name), type, size, required});
  }

  // The table: row id -> data image (null bytes and values).
  std::vector<Column> columns;
  std::map<std::int32_t, std::vector<std::uint8_t>> rows;
  std::int32_t next_id = 1;
  std::int32_t last_autoinc = 0;
  std::vector<std::string> blobs;
  bool read_only = false;
  std::function<void(std::string_view hook)> fail;
  // Data events, when set.
  std::function<void(TDataEvent, std::intptr_t)> on_data_event;
  int live_buffers = 0;
  // Also counts live buffers, for checks after the dataset is gone.
  int* buffer_counter = nullptr;

  // Moves the cursor away from the active record behind the dataset's back,
  // as a scratch read of the engine does.
  void ScrambleCursor() {
    pos_ = Pos::kBof;
    CursorPosChanged();
  }
  // The value bytes of a field in a stored row (for checks of the native
  // form); empty for NULL.
  std::vector<std::uint8_t> StoredBytes(std::int32_t id, const Field& field) const {
    const auto& image = rows.at(id);
    const int i = field.FieldNo() - 1;
    if (image[static_cast<std::size_t>(i)] == 0) return {};
    const auto begin = image.begin() + offsets_[static_cast<std::size_t>(i)];
    return {begin, begin + field.DataSize()};
  }

  using DataSet::ActiveBuffer;
  using DataSet::CursorPosChanged;

  // Key editing over the fake's own key buffer (a record image).
  void SetKey() {
    SetKeyBuffer(key_.data(), key_save_.data(), static_cast<int>(key_.size()), true);
  }
  void EditKey() {
    SetKeyBuffer(key_.data(), key_save_.data(), static_cast<int>(key_.size()), false);
  }
  const std::vector<std::uint8_t>& Key() const { return key_; }
  // While set, reads skip rows that OnFilterRecord rejects even when the
  // dataset is not filtered (the scan of FindFirst and its kin).
  bool force_filter = false;

  void DataEvent(TDataEvent event, std::intptr_t info) override {
    DataSet::DataEvent(event, info);
    if (on_data_event) on_data_event(event, info);
  }

  bool GetFieldData(const Field& field, void* buffer) override {
    const std::uint8_t* rb = RecordBuffer();
    if (rb == nullptr) return false;
    if (field.Calculated()) return ReadCalcField(rb + calc_offset_, field, buffer);
    const auto i = static_cast<std::size_t>(field.FieldNo() - 1);
    if (rb[i] == 0) return false;
    if (buffer != nullptr && !field.IsBlob())
      std::memcpy(buffer, rb + offsets_[i], static_cast<std::size_t>(field.DataSize()));
    return true;
  }

  void SetFieldData(Field& field, const void* buffer) override {
    CheckWriteMode();
    std::uint8_t* rb = RecordBuffer();
    if (rb == nullptr) DatabaseError("No record buffer");
    if (field.Calculated()) {
      WriteCalcField(rb + calc_offset_, field, buffer);
    } else {
      field.Validate(buffer);
      const auto i = static_cast<std::size_t>(field.FieldNo() - 1);
      rb[i] = buffer != nullptr ? 1 : 0;
      if (buffer != nullptr)
        std::memcpy(rb + offsets_[i], buffer, static_cast<std::size_t>(ValueSize(columns[i])));
      else
        std::memset(rb + offsets_[i], 0, static_cast<std::size_t>(ValueSize(columns[i])));
    }
    const TDataSetState s = State();
    if (s != TDataSetState::dsCalcFields && s != TDataSetState::dsFilter &&
        s != TDataSetState::dsNewValue)
      DataEvent(TDataEvent::deFieldChange, reinterpret_cast<std::intptr_t>(&field));
  }

  std::unique_ptr<Stream> CreateBlobStream(Field& field, TBlobStreamMode mode) override;

  void SetRecNo(int value) override {
    CheckBrowseMode();
    if (value < 1 || value > static_cast<int>(rows.size())) return;
    DoBeforeScroll();
    pos_ = Pos::kOn;
    id_ = std::next(rows.begin(), value - 1)->first;
    Resync(rmCenter);
    DoAfterScroll();
  }

  bool BookmarkValid(const TBookmark& bookmark) override {
    return Active() && bookmark.size() == 4 && rows.count(IdOf(bookmark.data())) != 0;
  }

  int CompareBookmarks(const TBookmark& b1, const TBookmark& b2) override {
    if (b1.empty() || b2.empty()) return DataSet::CompareBookmarks(b1, b2);
    const std::int32_t a = IdOf(b1.data()), b = IdOf(b2.data());
    return a < b ? -1 : a > b ? 1 : 0;
  }

 protected:
  TRecordBuffer AllocRecordBuffer() override {
    Hook("AllocRecordBuffer");
    auto* b = new std::uint8_t[static_cast<std::size_t>(buffer_size_)]();
    ++live_buffers;
    if (buffer_counter) ++*buffer_counter;
    return b;
  }
  void FreeRecordBuffer(TRecordBuffer& buffer) override {
    delete[] buffer;
    buffer = nullptr;
    --live_buffers;
    if (buffer_counter) --*buffer_counter;
  }
  void GetBookmarkData(TRecordBuffer buffer, std::uint8_t* data) override {
    std::memcpy(data, buffer + bookmark_offset_, 4);
  }
  void SetBookmarkData(TRecordBuffer buffer, const std::uint8_t* data) override {
    std::memcpy(buffer + bookmark_offset_, data, 4);
  }
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) override {
    return static_cast<TBookmarkFlag>(buffer[bookmark_offset_ + 4]);
  }
  void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag value) override {
    buffer[bookmark_offset_ + 4] = value;
  }

  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) override {
    Hook("GetRecord");
    auto it = rows.end();
    switch (mode) {
      case TGetMode::gmCurrent:
        if (pos_ == Pos::kBof) return TGetResult::grBOF;
        if (pos_ == Pos::kEof) return TGetResult::grEOF;
        it = rows.find(id_);
        if (it == rows.end()) {
          if (do_check) DatabaseError("Cannot retrieve record");
          return TGetResult::grError;
        }
        break;
      case TGetMode::gmNext:
        if (pos_ == Pos::kEof) return TGetResult::grEOF;
        it = pos_ == Pos::kBof ? rows.begin() : rows.upper_bound(id_);
        while (it != rows.end() && !Passes(buffer, it))
          ++it;
        if (it == rows.end()) {
          pos_ = Pos::kEof;
          return TGetResult::grEOF;
        }
        break;
      case TGetMode::gmPrior:
        if (pos_ == Pos::kBof) return TGetResult::grBOF;
        it = pos_ == Pos::kEof ? rows.end() : rows.lower_bound(id_);
        while (true) {
          if (it == rows.begin()) {
            pos_ = Pos::kBof;
            return TGetResult::grBOF;
          }
          --it;
          if (Passes(buffer, it)) break;
        }
        break;
    }
    pos_ = Pos::kOn;
    id_ = it->first;
    std::memcpy(buffer, it->second.data(), it->second.size());
    std::memcpy(buffer + bookmark_offset_, &id_, 4);
    buffer[bookmark_offset_ + 4] = bfCurrent;
    ClearCalcFields(buffer);
    GetCalcFields(buffer);
    return TGetResult::grOK;
  }

  int GetRecordSize() override { return bookmark_offset_; }
  void InternalInitRecord(TRecordBuffer buffer) override {
    std::memset(buffer, 0, static_cast<std::size_t>(bookmark_offset_));
  }
  void ClearCalcFields(TRecordBuffer buffer) override {
    if (CalcFieldsSize() > 0)
      std::memset(buffer + calc_offset_, 0, static_cast<std::size_t>(CalcFieldsSize()));
  }

  bool IsCursorOpen() override { return open_; }
  void InternalOpen() override {
    Hook("Open");
    InitFieldDefs();
    if (DefaultFields()) CreateFields();
    BindFields(true);
    offsets_.clear();
    int off = static_cast<int>(columns.size());
    for (const Column& c : columns) {
      offsets_.push_back(off);
      off += ValueSize(c);
    }
    bookmark_offset_ = off;
    calc_offset_ = off + 5;
    buffer_size_ = calc_offset_ + CalcFieldsSize();
    SetBookmarkSize(4);
    key_.assign(static_cast<std::size_t>(buffer_size_), 0);
    key_save_.assign(static_cast<std::size_t>(buffer_size_), 0);
    pos_ = Pos::kBof;
    open_ = true;
  }
  void InternalClose() override {
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    open_ = false;
  }
  void InternalInitFieldDefs() override {
    FieldDefs().Clear();
    for (const Column& c : columns)
      FieldDefs().Add(c.name, c.type, c.size, c.required);
  }
  bool FindRecord(bool restart, bool go_forward) override {
    Operation op(*this);
    {
      Nested nested(*this);
      CheckBrowseMode();
    }
    DoBeforeScroll();
    SetFound(false);
    UpdateCursorPos();
    CursorPosChanged();
    if (restart) {
      if (go_forward)
        InternalFirst();
      else
        InternalLast();
    }
    force_filter = true;
    TGetResult r;
    try {
      r = GetRecord(TempBuffer(), go_forward ? TGetMode::gmNext : TGetMode::gmPrior, false);
    } catch (...) {
      force_filter = false;
      throw;
    }
    force_filter = false;
    if (r == TGetResult::grOK) {
      Resync(rmExact | rmCenter);
      SetFound(true);
      DoAfterScroll();
    }
    return Found();
  }
  void InternalFirst() override { pos_ = Pos::kBof; }
  void InternalLast() override { pos_ = Pos::kEof; }
  void InternalGotoBookmark(const std::uint8_t* bookmark) override {
    pos_ = Pos::kOn;
    id_ = IdOf(bookmark);
  }
  void InternalSetToRecord(TRecordBuffer buffer) override {
    InternalGotoBookmark(buffer + bookmark_offset_);
  }
  void InternalAddRecord(TRecordBuffer buffer, bool) override {
    Hook("AddRecord");
    AddRow(buffer);
  }
  void InternalEdit() override {
    Hook("Edit");
    if (pos_ != Pos::kOn || rows.count(id_) == 0) DatabaseError("Record not found");
  }
  void InternalPost() override {
    DataSet::InternalPost();
    Hook("Post");
    if (State() == TDataSetState::dsInsert) {
      AddRow(ActiveBuffer());
    } else {
      auto it = pos_ == Pos::kOn ? rows.find(id_) : rows.end();
      if (it == rows.end()) DatabaseError("Record not found");
      std::memcpy(it->second.data(), ActiveBuffer(), it->second.size());
    }
  }
  void InternalCancel() override { Hook("Cancel"); }
  void InternalDelete() override {
    Hook("Delete");
    if (pos_ != Pos::kOn || rows.erase(id_) == 0) DatabaseError("Record not found");
  }
  bool GetCanModify() override { return !read_only; }
  int GetRecordCount() override { return Active() ? static_cast<int>(rows.size()) : 0; }
  int GetRecNo() override {
    if (State() == TDataSetState::dsInsert || IsEmpty()) return -1;
    std::int32_t id;
    std::memcpy(&id, ActiveBuffer() + bookmark_offset_, 4);
    auto it = rows.find(id);
    if (it == rows.end()) return -1;
    return static_cast<int>(std::distance(rows.begin(), it)) + 1;
  }

 private:
  enum class Pos { kBof, kOn, kEof };
  friend class FakeBlobStream;

  static std::int32_t IdOf(const std::uint8_t* p) {
    std::int32_t id;
    std::memcpy(&id, p, 4);
    return id;
  }
  static int ValueSize(const Column& c) {
    if (IsBlobFieldType(c.type)) return 4;
    FieldDef def;
    def.Name = c.name;
    def.DataType = c.type;
    def.Size = c.size != 0 ? c.size : (c.type == ftGuid ? kGuidSize : kDefaultStringSize);
    return def.CreateField()->DataSize();
  }
  // The row as the filter handler sees it, in `buffer` (state dsFilter).
  bool Passes(TRecordBuffer buffer,
              std::map<std::int32_t, std::vector<std::uint8_t>>::iterator it) {
    if (!force_filter && !IsFilterEventActive()) return true;
    std::memcpy(buffer, it->second.data(), it->second.size());
    std::memcpy(buffer + bookmark_offset_, &it->first, 4);
    return FilterRecordThroughHandler(buffer);
  }
  void Hook(std::string_view name) {
    if (fail) fail(name);
  }
  std::uint8_t* RecordBuffer() {
    switch (State()) {
      case TDataSetState::dsBrowse:
        return IsEmpty() ? nullptr : ActiveBuffer();
      case TDataSetState::dsEdit:
      case TDataSetState::dsInsert:
        return ActiveBuffer();
      case TDataSetState::dsCalcFields:
        return CalcBuffer();
      case TDataSetState::dsFilter:
        return FilterBuffer();
      case TDataSetState::dsSetKey:
        return KeyBuffer();
      default:
        return nullptr;
    }
  }
  void AddRow(const std::uint8_t* buffer) {
    std::vector<std::uint8_t> image(buffer, buffer + bookmark_offset_);
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (columns[i].type != ftAutoInc) continue;
      std::int32_t v;
      if (image[i] == 0) {
        v = ++last_autoinc;
        image[i] = 1;
        std::memcpy(image.data() + offsets_[i], &v, 4);
      } else {
        std::memcpy(&v, image.data() + offsets_[i], 4);
        if (v > last_autoinc) last_autoinc = v;
      }
    }
    id_ = next_id++;
    rows.emplace(id_, std::move(image));
    pos_ = Pos::kOn;
  }

  std::vector<int> offsets_;
  std::vector<std::uint8_t> key_;
  std::vector<std::uint8_t> key_save_;
  int bookmark_offset_ = 0;
  int calc_offset_ = 0;
  int buffer_size_ = 0;
  bool open_ = false;
  Pos pos_ = Pos::kBof;
  std::int32_t id_ = 0;
};

// A BLOB value being read or written; a written value is stored into the
// active record when the stream goes away.
class FakeBlobStream : public Stream {
 public:
  FakeBlobStream(FakeDataSet& ds, Field& field, TBlobStreamMode mode, std::string data)
      : ds_(ds), field_(field), mode_(mode), data_(std::move(data)) {}
  ~FakeBlobStream() override {
    if (mode_ == TBlobStreamMode::bmRead || !modified_) return;
    try {
      const auto slot = static_cast<std::int32_t>(ds_.blobs.size());
      ds_.blobs.push_back(data_);
      ds_.SetFieldData(field_, &slot);
    } catch (...) {
      ds_.HandleException();
    }
  }
  std::int64_t GetSize() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t n) override {
    data_.resize(static_cast<std::size_t>(n));
    modified_ = true;
  }
  std::int32_t Read(void* buffer, std::int32_t count) override {
    if (count < 1 || pos_ >= data_.size()) return 0;
    const auto n = std::min<std::size_t>(static_cast<std::size_t>(count), data_.size() - pos_);
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return static_cast<std::int32_t>(n);
  }
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    if (count < 1) return 0;
    if (mode_ == TBlobStreamMode::bmRead) return 0;
    if (data_.size() < pos_ + static_cast<std::size_t>(count))
      data_.resize(pos_ + static_cast<std::size_t>(count));
    std::memcpy(data_.data() + pos_, buffer, static_cast<std::size_t>(count));
    pos_ += static_cast<std::size_t>(count);
    modified_ = true;
    return count;
  }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    std::int64_t base = origin == soBeginning ? 0
                        : origin == soCurrent ? static_cast<std::int64_t>(pos_)
                                              : static_cast<std::int64_t>(data_.size());
    if (base + offset < 0) return -1;
    pos_ = static_cast<std::size_t>(base + offset);
    return base + offset;
  }

 private:
  FakeDataSet& ds_;
  Field& field_;
  TBlobStreamMode mode_;
  std::string data_;
  std::size_t pos_ = 0;
  bool modified_ = false;
};

inline std::unique_ptr<Stream> FakeDataSet::CreateBlobStream(Field& field, TBlobStreamMode mode) {
  if (mode != TBlobStreamMode::bmRead) CheckWriteMode();
  std::string data;
  if (mode != TBlobStreamMode::bmWrite) {
    std::int32_t slot = 0;
    // A BLOB field's record value is its slot in the blob store.
    const std::uint8_t* rb = RecordBuffer();
    const auto i = static_cast<std::size_t>(field.FieldNo() - 1);
    if (rb != nullptr && rb[i] != 0) {
      std::memcpy(&slot, rb + offsets_[i], 4);
      data = blobs.at(static_cast<std::size_t>(slot));
    }
  }
  auto s = std::make_unique<FakeBlobStream>(*this, field, mode, std::move(data));
  // bmWrite starts empty and replaces the value even when nothing is written.
  if (mode == TBlobStreamMode::bmWrite) s->SetSize(0);
  return s;
}

}  // namespace platform::test

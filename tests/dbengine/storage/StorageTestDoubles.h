// Test doubles for the storage engine's upper-layer interfaces: a cursor whose
// abstract operations do the least the base class needs, a session, a scripted
// expression for the scan-condition protocol and an expression factory, plus
// byte helpers for engine streams.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryStream.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/storage/VEZBaseExpression.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZScanSearchCondition.h"
#include "dbengine/storage/VEZSessionLayerServices.h"
#include "tests/common/FakeExpression.h"

namespace vez::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes StreamBytes(TVEZMemoryStream& stream) {
  const auto size = static_cast<std::size_t>(stream.Size());
  Bytes out(size);
  if (size > 0) std::memcpy(out.data(), stream.Buffer(), size);
  return out;
}

// A stream holding bytes, positioned at 0.
inline std::unique_ptr<TVEZMemoryStream> StreamOf(const Bytes& bytes) {
  auto stream = std::make_unique<TVEZMemoryStream>();
  if (!bytes.empty()) stream->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  stream->SetPosition(0);
  return stream;
}

// A cursor with the base class's behaviour and trivial abstract operations.
// InternalInitRecord makes an empty record (every null bit set, fields zero).
class TestCursor : public TVEZCursor {
 public:
  // Lays out the fields and sets the record sizes as a table open would.
  void SetUpLayout() {
    FieldDefs().RecalcFieldOffsets();
    RecordSize = FieldDefs().GetMemoryRecordBufferSize();
    RecordBufferSize = RecordSize + 6;  // a bookmark after the record
    BookmarkOffset = RecordSize;
    KeyBufferSize = RecordBufferSize;
    FieldValuesOffset = FieldDefs().GetCount() > 0 ? FieldDefs().GetDef(0)->MemoryOffset : 0;
  }
  // Every field visible under its own name.
  void ShowAllFields() {
    std::vector<std::string> names, aliases;
    for (std::int32_t i = 0; i < FieldDefs().GetCount(); ++i) {
      names.push_back(FieldDefs().GetDef(i)->Name);
      aliases.emplace_back();
    }
    ApplyProjection(names, aliases);
  }

  void CreateTable(TVEZFieldDefs&, TVEZIndexDefs&, TVEZConstraintDefs&) override {}
  void DeleteTable() override {}
  void EmptyTable() override {}
  void RenameTable(const std::string&) override {}
  void InternalInitFieldDefs() override {}
  void OpenTableByFieldDefs(TVEZFieldDefs&, TVEZIndexDefs&, TVEZConstraintDefs&) override {}
  void CloseTable() override {}
  void LockTableData() override {}
  void UnlockTableData() override {}
  bool LockTable(TVEZLockType, std::int32_t, std::int32_t, bool) override { return true; }
  bool UnlockTable(TVEZLockType, bool) override { return true; }
  void AddIndex(TVEZIndexDef&) override {}
  void DeleteIndex(const std::string&) override {}
  void DeleteAllIndexes() override {}
  std::string FindOrCreateIndex(const std::vector<std::string>&, const std::vector<std::string>&,
                                const std::vector<std::string>&, bool& is_created) override {
    is_created = false;
    return {};
  }
  bool IndexExists(const std::vector<std::string>&, const std::vector<std::string>&,
                   const std::vector<std::string>&) override {
    return false;
  }
  void CopyFieldValue(std::int32_t, bool, std::int32_t, TVEZCursor*) override {}
  void InternalInitRecord(std::uint8_t* record_buffer, bool) override {
    std::memset(record_buffer, 0, static_cast<std::size_t>(RecordSize));
    for (std::int32_t i = 0; i < FieldDefs().GetCount(); ++i)
      SetBufferBit(true, i, record_buffer);
  }
  std::int64_t GetRecordCount() override { return 0; }
  TVEZGetRecordResult GetRecordBuffer(TVEZGetRecordMode) override { return grrEOF; }
  void SetRecNo(std::int64_t) override {}
  std::int64_t GetRecNo() override { return 0; }
  std::int32_t CompareRecordsOrder(const TVEZPageItemID&, const TVEZPageItemID&) override {
    return 0;
  }
  void InternalFirst() override {}
  void InternalLast() override {}
  void InternalInsert() override {}
  void InternalEdit() override {}
  void InternalCancel(bool) override {}
  void InternalPost(bool) override {}
  void InternalDelete() override {}
  bool IsRecordLocked() override { return false; }
  void ApplyDistinct(const std::vector<std::string>&, const std::vector<std::string>&,
                     const std::vector<std::string>&) override {}
  void ActivateFilters(const std::string&, bool, bool) override {}
  void DeactivateFilters() override {}
  bool Locate(const std::string&, const platform::Variant&, bool, bool) override { return false; }
  bool FindKey(TVEZSearchCondition) override { return false; }
  bool IsAnyRecordMatchCondition(const std::string&, TVEZDataOperator,
                                 const TVEZVariant&) override {
    return false;
  }
  TVEZStream* InternalCreateBlobStream(bool, bool, std::int32_t, TVEZBLOBOpenMode, bool) override {
    return nullptr;
  }
  void InternalCloseBLOB(std::int32_t) override {}
  void ClearBLOBStreams(bool) override {}
  std::int64_t LastAutoincValue(std::int32_t) override { return 0; }
  void BeginBatchUpdate() override {}
  void EndBatchUpdate() override {}
  void CancelBatchUpdate() override {}
  bool CheckConstraints(bool) override { return true; }
};

class TestSession : public TVEZBaseSession {
 public:
  bool connected = false;
  bool suppress = false;

  bool GetConnected() override { return connected; }
  void SetConnected(bool value) override { connected = value; }
  bool GetSuppressDBHeaderErrors() override { return suppress; }
  void SetSuppressDBHeaderErrors(bool value) override { suppress = value; }
  void CreateDatabase() override {}
  void DeleteDatabase() override {}
  void RenameDatabase(const std::string&) override {}
  void GetTablesList(std::vector<std::string>& list) override { list.clear(); }
  bool TableExists(const std::string&) override { return false; }
  void StartTransaction() override { InTransaction = true; }
  void Commit(bool) override { InTransaction = false; }
  void Rollback() override { InTransaction = false; }
  void FlushBuffers() override {}
};

// Accepts a string default as an expression when its text is "NOW()".
class FakeExpressionFactory : public TVEZExpressionFactory {
 public:
  int created = 0;
  std::unique_ptr<TVEZBaseExpression> CreateExpression() override {
    ++created;
    return std::make_unique<FakeExpression>();
  }
  bool IsDefaultValueExpression(const TVEZVariant& value) override {
    return value.IsStringDataType() && !value.GetIsNull() && value.GetAsAnsiString() == "NOW()";
  }
};

// Registers a factory for the life of a test.
class ScopedExpressionFactory {
 public:
  explicit ScopedExpressionFactory(TVEZExpressionFactory* factory) {
    RegisterExpressionFactory(factory);
  }
  ~ScopedExpressionFactory() { RegisterExpressionFactory(nullptr); }
};

// A BLOB stream as the session layer makes one: everything goes to the
// compressed stream; a read-only stream refuses writes and size changes.
class FakeBLOBStream : public TVEZBaseBLOBStream {
 public:
  FakeBLOBStream(std::unique_ptr<TVEZStream> temporary, std::unique_ptr<TVEZStream> underlying,
                 TVEZCursor* cursor, TVEZBLOBOpenMode mode, std::int32_t field_no)
      : underlying_(std::move(underlying)),
        temporary_(std::move(temporary)),
        cursor_(cursor),
        mode_(mode),
        field_no_(field_no) {
    temporary_->SetPosition(0);
  }
  std::int64_t GetSize() override { return temporary_->Size(); }
  void SetSize(std::int64_t new_size) override {
    if (mode_ == bomRead) throw EVEZException(10116, "Cannot write to read only stream");
    temporary_->SetSize(new_size);
  }
  std::int32_t Read(void* buffer, std::int32_t count) override {
    return temporary_->Read(buffer, count);
  }
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    if (mode_ == bomRead) throw EVEZException(10115, "Cannot write to read only stream");
    SetModified(true);
    return temporary_->Write(buffer, count);
  }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    return temporary_->Seek(offset, origin);
  }
  TVEZStream* TemporaryStream() override { return temporary_.get(); }
  TVEZCursor* Cursor() const override { return cursor_; }
  TVEZBLOBOpenMode OpenMode() const override { return mode_; }
  std::int32_t FieldNo() const override { return field_no_; }

 private:
  std::unique_ptr<TVEZStream> underlying_;
  std::unique_ptr<TVEZStream> temporary_;
  TVEZCursor* cursor_;
  TVEZBLOBOpenMode mode_;
  std::int32_t field_no_;
};

class FakeSessionLayerServices : public TVEZSessionLayerServices {
 public:
  std::vector<TVEZTableData*> opened;

  std::unique_ptr<TVEZCursor> CreateLocalCursor() override {
    return std::make_unique<TestCursor>();
  }
  void OpenLocalCursor(TVEZCursor& cursor, TVEZTableData& table_data) override {
    opened.push_back(&table_data);
    cursor.FirstPosition = true;
    cursor.LastPosition = false;
    cursor.IsOpen = true;
  }
  std::unique_ptr<TVEZBaseBLOBStream> CreateLocalBLOBStream(
      std::unique_ptr<TVEZStream> temporary_stream, std::unique_ptr<TVEZStream> underlying_stream,
      TVEZCursor* cursor, TVEZBLOBOpenMode open_mode, std::int32_t field_no) override {
    return std::make_unique<FakeBLOBStream>(
        std::move(temporary_stream), std::move(underlying_stream), cursor, open_mode, field_no);
  }
};

}  // namespace vez::test

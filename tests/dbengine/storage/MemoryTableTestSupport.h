// Test vehicle for memory and temporary tables: a database of the test's own
// (not the process's), a table of ID Integer, A Integer, NAME String(12), DATA
// Blob with the indexes BY_A (A, ID) and BY_NAME (NAME, ID), a local cursor,
// and session-layer services whose BLOB stream passes everything to the
// table data's compressed stream.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/storage/VEZMemoryTableData.h"
#include "dbengine/storage/VEZSessionLayerServices.h"
#include "dbengine/storage/VEZTemporaryTableData.h"
#include "tests/common/VEZTestLocalCursor.h"
#include "tests/dbengine/storage/StorageTestDoubles.h"
#include "tests/dbengine/storage/TableTestSupport.h"
#include "tests/dbengine/storage/TemporaryTestSupport.h"

namespace vez::test {

class TTestBLOBStream : public TVEZBaseBLOBStream {
 public:
  TTestBLOBStream(std::unique_ptr<TVEZStream> compressed, std::unique_ptr<TVEZStream> underlying,
                  TVEZCursor* cursor, TVEZBLOBOpenMode mode, std::int32_t field_no)
      : underlying_(std::move(underlying)),
        compressed_(std::move(compressed)),
        cursor_(cursor),
        mode_(mode),
        field_no_(field_no) {}
  ~TTestBLOBStream() override {
    compressed_.reset();
    underlying_.reset();
  }
  TVEZStream* TemporaryStream() override { return compressed_.get(); }
  TVEZCursor* Cursor() const override { return cursor_; }
  TVEZBLOBOpenMode OpenMode() const override { return mode_; }
  std::int32_t FieldNo() const override { return field_no_; }
  std::int64_t GetSize() override { return compressed_->Size(); }
  void SetSize(std::int64_t n) override {
    compressed_->SetSize(n);
    SetModified(true);
  }
  std::int32_t Read(void* b, std::int32_t n) override { return compressed_->Read(b, n); }
  std::int32_t Write(const void* b, std::int32_t n) override {
    SetModified(true);
    return compressed_->Write(b, n);
  }
  std::int64_t Seek(std::int64_t o, TSeekOrigin origin) override {
    return compressed_->Seek(o, origin);
  }

 private:
  std::unique_ptr<TVEZStream> underlying_;
  std::unique_ptr<TVEZStream> compressed_;
  TVEZCursor* cursor_;
  TVEZBLOBOpenMode mode_;
  std::int32_t field_no_;
};

class TMemoryTestServices : public TTestSessionLayerServices {
 public:
  std::unique_ptr<TVEZBaseBLOBStream> CreateLocalBLOBStream(std::unique_ptr<TVEZStream> compressed,
                                                            std::unique_ptr<TVEZStream> underlying,
                                                            TVEZCursor* cursor,
                                                            TVEZBLOBOpenMode mode,
                                                            std::int32_t field_no) override {
    return std::make_unique<TTestBLOBStream>(std::move(compressed), std::move(underlying), cursor,
                                             mode, field_no);
  }
};

struct TMemRow {
  std::int32_t id = 0;
  std::int32_t a = 0;
  std::string name;
  std::optional<std::string> blob;  // nullopt: NULL
};

constexpr std::int32_t kFieldID = 0, kFieldA = 1, kFieldName = 2, kFieldData = 3;

// memory_tenth > 0 lowers the memory limit while the table is made, so that
// an engine sizing its RAM by the free memory keeps about that many bytes.
template <class TDb, class TTable>
class TEngineTableFixture {
 public:
  explicit TEngineTableFixture(std::int32_t blob_block_size = 64, std::int64_t memory_tenth = 0,
                               bool disable_temp_files = false)
      : scoped_(&services_) {
    session_.SessionID = 7;
    db_.ConnectSession(session_);
    cursor_ = std::make_unique<TTestLocalCursor>();
    cursor_->Session = &session_;
    cursor_->TableName = "T";
    cursor_->FDisableTempFiles = disable_temp_files;
    table_ = static_cast<TTable*>(db_.FindOrCreateTableData(*cursor_));
    TVEZFieldDefs fields;
    AddField(fields, "ID", aftInteger);
    AddField(fields, "A", aftInteger);
    AddField(fields, "NAME", aftString, 12);
    AddField(fields, "DATA", aftBlob)->BLOBBlockSize = blob_block_size;
    TVEZIndexDefs indexes;
    AddIndexDef(indexes, "BY_A", {"A", "ID"});
    AddIndexDef(indexes, "BY_NAME", {"NAME", "ID"});
    TVEZConstraintDefs constraints;
    if (memory_tenth > 0) {
      // The limits are fixed when the table is made; the indexes follow
      // under the normal limit, since their first RAM pages come in a batch.
      {
        // The free memory is the limit itself: a limit of ten times the
        // tenth, with room above what other work in the process holds.
        const std::int64_t ten = memory_tenth * 10;
        ScopedMemoryLimit limit(std::max(ten + 1, MemoryManager().TotalMemAllocated() + ten / 2));
        TVEZIndexDefs none;
        table_->CreateTable(cursor_.get(), fields, none, constraints);
      }
      for (std::int32_t i = 0; i < indexes.GetCount(); ++i)
        table_->AddIndex(*indexes.GetDef(i), cursor_.get());
    } else {
      table_->CreateTable(cursor_.get(), fields, indexes, constraints);
    }
    cursor_->Open(*table_);
    cursor_->NewRecord();
  }
  ~TEngineTableFixture() {
    cursor_.reset();
    db_.DisconnectSession(session_);
  }

  TTable& Table() { return *table_; }
  TTestLocalCursor& Cursor() { return *cursor_; }
  TDb& Db() { return db_; }
  TestSession& Session() { return session_; }
  std::int32_t IndexID(std::int32_t no) {
    return table_->IndexManager()->IndexDefs().GetDef(no)->ObjectID;
  }

  void Fill(const TMemRow& r) {
    TTestLocalCursor& c = *cursor_;
    TVEZVariant id(bftSignedInt32);
    id.SetAsInteger(r.id);
    c.SetFieldValue(id, kFieldID, true);
    TVEZVariant a(bftSignedInt32);
    a.SetAsInteger(r.a);
    c.SetFieldValue(a, kFieldA, true);
    TVEZVariant name(bftVarchar);
    name.SetAsAnsiString(r.name);
    c.SetFieldValue(name, kFieldName, true);
    c.ClearStringFieldsGarbage(c.CurrentRecordBuffer);
  }
  // Writes the BLOB through the table's stream, as a cursor would.
  void WriteBlob(const std::optional<std::string>& value) {
    TTestLocalCursor& c = *cursor_;
    std::unique_ptr<TVEZStream> stream;
    {
      TVEZLockGuard guard(*table_);
      stream = table_->InternalCreateBlobStream(c, true, kFieldData, bomWrite);
    }
    if (value && !value->empty())
      stream->Write(value->data(), static_cast<std::int32_t>(value->size()));
    else
      stream->SetModified(true);
    if (!value) stream->SetModified(true);
    TVEZLockGuard guard(*table_);
    table_->WriteBLOBFieldToRecordBuffer(c, kFieldData, *stream);
  }
  // The BLOB of the cursor's current record, read through the table's stream.
  std::optional<std::string> ReadBlob() {
    TTestLocalCursor& c = *cursor_;
    if (GetBufferBit(kFieldData, c.CurrentRecordBuffer)) return std::nullopt;
    TVEZLockGuard guard(*table_);
    auto stream = table_->InternalCreateBlobStream(c, false, kFieldData, bomRead);
    std::string s(static_cast<std::size_t>(stream->Size()), '\0');
    if (!s.empty()) stream->Read(s.data(), static_cast<std::int32_t>(s.size()));
    return s;
  }
  TMemRow Current() {
    TTestLocalCursor& c = *cursor_;
    TMemRow r;
    TVEZVariant v;
    c.GetFieldValue(v, kFieldID, true);
    r.id = v.GetAsInteger();
    c.GetFieldValue(v, kFieldA, true);
    r.a = v.GetAsInteger();
    c.GetFieldValue(v, kFieldName, true);
    r.name = v.GetAsAnsiString();
    r.blob = ReadBlob();
    return r;
  }
  // True when stored; the new record's slot in slot.
  bool Insert(const TMemRow& r, std::int32_t& slot) {
    cursor_->NewRecord();
    Fill(r);
    WriteBlob(r.blob);
    cursor_->InternalPost(true);
    slot = cursor_->CurrentRecordID.PageNo;
    return cursor_->ErrorCode == cecOK;
  }
  void ReadSlot(std::int32_t slot) {
    cursor_->IndexID = -1;
    cursor_->FirstPosition = cursor_->LastPosition = false;
    cursor_->CurrentRecordID = {slot, 0};
    TVEZLockGuard guard(*table_);
    if (table_->GetRecordBuffer(*cursor_, grmCurrent) != grrOK) throw std::runtime_error("read");
  }

 private:
  TMemoryTestServices services_;
  TScopedSessionLayerServices scoped_;
  TDb db_;
  TestSession session_;
  std::unique_ptr<TTestLocalCursor> cursor_;
  TTable* table_ = nullptr;
};

using TMemoryTableFixture = TEngineTableFixture<TVEZMemoryDatabaseData, TVEZMemoryTableData>;
using TTemporaryTableFixture =
    TEngineTableFixture<TVEZTemporaryDatabaseData, TVEZTemporaryTableData>;

}  // namespace vez::test

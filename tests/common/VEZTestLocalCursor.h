// A local cursor and session-layer services for the storage engine's tests,
// doing for the table data what the session layer's own cursor does: the
// table is opened under the database lock; records are read under the table
// lock; freeing a record buffer first clears the BLOB caches it holds; posts
// and deletes are the table data's PostRecord (which takes the write lock,
// autoincrements and constraints). On a disk table an edit holds ltSIRW
// (ltXIRW in a transaction) and the record's lock until it is posted or
// cancelled; a delete holds the record's lock while it runs.
// The shipped cursor comes with the session layer; this one lets index
// builds over existing records and the engines' cursor paths run now.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZDatabaseData.h"
#include "dbengine/storage/VEZDiskTableData.h"
#include "dbengine/storage/VEZKeyPath.h"
#include "dbengine/storage/VEZRecordBitmap.h"
#include "dbengine/storage/VEZSessionLayerServices.h"
#include "dbengine/storage/VEZTableData.h"

namespace vez::test {

class TTestLocalCursor : public TVEZCursor {
 public:
  TTestLocalCursor() { FIndexPositionCache = &position_cache_; }
  ~TTestLocalCursor() override {
    // Buffers first: freeing one gives its BLOB caches back to the table,
    // which only an open cursor can reach.
    for (std::uint8_t** buffer : {&CurrentRecordBuffer, &EditRecordBuffer}) {
      try {
        FreeRecordBuffer(*buffer);
      } catch (...) {
        TVEZCursor::FreeRecordBuffer(*buffer);
      }
    }
    try {
      Close();
    } catch (...) {
    }
  }

  TVEZTableData* table_data = nullptr;
  int get_record_calls = 0;

  // Opens the cursor on table_data as the session layer does.
  void Open(TVEZTableData& table) {
    table.SetIsRepairing(IsRepairing);
    {
      TVEZLockGuard guard(*table.DatabaseData());
      table.OpenTable(*this);
    }
    table_data = &table;
    FirstPosition = true;
    LastPosition = false;
    FIndexDefs.Assign(table.IndexManager()->IndexDefs());
    FFieldDefs.Assign(table.FieldManager()->FieldDefs());
    FFieldDefs.RecalcFieldOffsets();
    RecordSize = FFieldDefs.GetMemoryRecordBufferSize();
    BookmarkOffset = RecordSize;
    RecordBufferSize = RecordSize + TVEZPageItemID::kSize;
    KeyBufferSize = RecordBufferSize;
    FieldValuesOffset = FFieldDefs.GetCount() > 0 ? FFieldDefs.GetDef(0)->MemoryOffset : 0;
    bitmap_ = std::make_unique<TVEZRecordBitmap>(&table);
    RecordBitmap = bitmap_.get();
    IsOpen = true;
  }
  void Close() {
    if (table_data == nullptr) return;
    TVEZLockGuard guard(*table_data->DatabaseData());
    ReleaseEditLocks();
    table_data->CloseTable(*this);
    table_data = nullptr;
    IsOpen = false;
  }
  // A fresh record in CurrentRecordBuffer (allocated when missing).
  void NewRecord() {
    if (CurrentRecordBuffer == nullptr) CurrentRecordBuffer = AllocateRecordBuffer();
    InternalInitRecord(CurrentRecordBuffer, true);
  }
  // The current record locked (InternalEdit) and copied into
  // EditRecordBuffer, as an edit begins; nothing is copied when the lock is
  // refused (ErrorCode says why).
  void BeginEdit() {
    InternalEdit();
    if (ErrorCode != cecOK) return;
    if (EditRecordBuffer == nullptr) EditRecordBuffer = AllocateRecordBuffer();
    std::memcpy(EditRecordBuffer, CurrentRecordBuffer, static_cast<std::size_t>(RecordBufferSize));
  }

  void CreateTable(TVEZFieldDefs&, TVEZIndexDefs&, TVEZConstraintDefs&) override {}
  void DeleteTable() override {}
  void EmptyTable() override {}
  void RenameTable(const std::string&) override {}
  void InternalInitFieldDefs() override {}
  void OpenTableByFieldDefs(TVEZFieldDefs&, TVEZIndexDefs&, TVEZConstraintDefs&) override {}
  void CloseTable() override { Close(); }
  void LockTableData() override {
    if (table_data == nullptr) throw EVEZException(10260, "Nil pointer occured");
    table_data->Lock();
  }
  void UnlockTableData() override {
    if (table_data == nullptr) throw EVEZException(10261, "Nil pointer occured");
    table_data->Unlock();
  }
  // Table locks are the disk engine's; other engines have none.
  TVEZDiskTableData* DiskTable() const { return dynamic_cast<TVEZDiskTableData*>(table_data); }
  bool LockTable(TVEZLockType lock_type, std::int32_t try_count, std::int32_t delay,
                 bool allow_xirw_after_sirw) override {
    TVEZDiskTableData* disk = DiskTable();
    if (disk == nullptr) return true;
    TVEZLockGuard guard(*disk);
    return disk->LockTable(TVEZTableData::SessionIDOf(this), lock_type, try_count, delay,
                           allow_xirw_after_sirw);
  }
  bool UnlockTable(TVEZLockType lock_type, bool ignore_if_no_lock) override {
    TVEZDiskTableData* disk = DiskTable();
    if (disk == nullptr) return true;
    TVEZLockGuard guard(*disk);
    return disk->UnlockTable(TVEZTableData::SessionIDOf(this), lock_type, ignore_if_no_lock);
  }
  void AddIndex(TVEZIndexDef& index_def) override {
    TVEZLockGuard guard(*table_data);
    table_data->AddIndex(index_def, this);
    FIndexDefs.Assign(table_data->IndexManager()->IndexDefs());
  }
  void DeleteIndex(const std::string&) override {}
  void DeleteAllIndexes() override {}
  std::string FindOrCreateIndex(const std::vector<std::string>& f,
                                const std::vector<std::string>& a,
                                const std::vector<std::string>& c, bool& is_created) override {
    return table_data->FindOrCreateIndex(*this, f, a, c, is_created);
  }
  bool IndexExists(const std::vector<std::string>& f, const std::vector<std::string>& a,
                   const std::vector<std::string>& c) override {
    return table_data->IndexExists(*this, f, a, c);
  }
  void CopyFieldValue(std::int32_t, bool, std::int32_t, TVEZCursor*) override {}
  void InternalInitRecord(std::uint8_t* record_buffer, bool insert_mode) override {
    std::memset(record_buffer, 0, static_cast<std::size_t>(RecordSize));
    for (std::int32_t i = 0; i < FFieldDefs.GetCount(); ++i)
      SetBufferBit(true, i, record_buffer);
    if (insert_mode && !Temporary && table_data != nullptr)
      table_data->FieldManager()->ApplyDefaultValuesToRecordBuffer(Session, record_buffer);
  }
  void FreeRecordBuffer(std::uint8_t*& buffer) override {
    if (buffer != nullptr && table_data != nullptr)
      table_data->ClearBlobsCacheInRecordBuffer(buffer);
    TVEZCursor::FreeRecordBuffer(buffer);
  }
  std::int64_t GetRecordCount() override { return table_data->GetRecordCount(*this); }
  // A record read carries its identity in the buffer's bookmark, as the
  // dataset's buffers do.
  TVEZGetRecordResult GetRecordBuffer(TVEZGetRecordMode mode) override {
    ++get_record_calls;
    TVEZLockGuard guard(*table_data);
    const TVEZGetRecordResult result = table_data->GetRecordBuffer(*this, mode);
    if (result == grrOK) WriteBookmark();
    return result;
  }
  void SetRecNo(std::int64_t value) override { table_data->SetRecNo(*this, value); }
  std::int64_t GetRecNo() override { return table_data->GetRecNo(*this); }
  std::int32_t CompareRecordsOrder(const TVEZPageItemID&, const TVEZPageItemID&) override {
    return 0;
  }
  void InternalFirst() override {
    FirstPosition = true;
    LastPosition = false;
  }
  void InternalLast() override {
    FirstPosition = false;
    LastPosition = true;
  }
  void InternalInsert() override {}
  void InternalEdit() override {
    TVEZLockGuard guard(*table_data);
    ErrorCode = cecOK;
    if (editing_ && edit_record_id_ == CurrentRecordID) return;
    ReleaseEditLocks();
    const bool in_transaction = Session != nullptr && Session->InTransaction;
    const TVEZLockType lock_type = in_transaction ? ltXIRW : ltSIRW;
    if (!LockTable(lock_type, 900, 100, true)) {
      ErrorCode = cecTableLocked;
      return;
    }
    bool record_locked = false;
    try {
      record_locked = LockRecord(CurrentRecordID, 15, 100);
    } catch (...) {
      // The table lock goes with the failed edit (an ltXIRW is the
      // transaction's).
      if (lock_type == ltSIRW) UnlockTable(lock_type, true);
      throw;
    }
    if (!record_locked) {
      UnlockTable(lock_type, false);
      ErrorCode = cecRecordLocked;
      return;
    }
    editing_ = true;
    edit_lock_type_ = lock_type;
    edit_record_id_ = CurrentRecordID;
  }
  void InternalCancel(bool) override {
    TVEZLockGuard guard(*table_data);
    ReleaseEditLocks();
  }
  // The table data's post (write lock, autoincrements, constraints, the
  // change); a refused store or lock sets ErrorCode. A stored edit ends: its
  // record and table locks go (an ltXIRW stays with the transaction).
  void InternalPost(bool to_insert) override {
    TVEZLockGuard guard(*table_data);
    ErrorCode = table_data->PostRecord(
        *this, to_insert ? TVEZRecordChange::kInsert : TVEZRecordChange::kUpdate);
    if (ErrorCode != cecOK) return;
    WriteBookmark();
    if (!to_insert) ReleaseEditLocks();
  }
  // The record's lock while the table data's post deletes it.
  void InternalDelete() override {
    TVEZLockGuard guard(*table_data);
    const TVEZPageItemID record_id = CurrentRecordID;
    if (!LockRecord(record_id, 15, 100)) {
      ErrorCode = cecRecordLocked;
      return;
    }
    struct TRecordUnlock {
      TTestLocalCursor& cursor;
      TVEZPageItemID id;
      ~TRecordUnlock() {
        try {
          cursor.UnlockRecord(id);
        } catch (...) {
        }
      }
    } unlock{*this, record_id};
    ErrorCode = table_data->PostRecord(*this, TVEZRecordChange::kDelete);
  }
  // Whether another session holds the lock of the record in the current
  // buffer (its bookmark); a disk table that is not multi-user answers true.
  bool IsRecordLocked() override {
    TVEZDiskTableData* disk = DiskTable();
    if (disk == nullptr) return false;
    TVEZLockGuard guard(*table_data);
    if (CurrentRecordBuffer != nullptr)
      CurrentRecordID = TVEZPageItemID::Decode(CurrentRecordBuffer + BookmarkOffset);
    return disk->IsRecordLocked(TVEZTableData::SessionIDOf(this), CurrentRecordID);
  }
  void ApplyDistinct(const std::vector<std::string>&, const std::vector<std::string>&,
                     const std::vector<std::string>&) override {}
  void ActivateFilters(const std::string&, bool, bool) override {}
  void DeactivateFilters() override {}
  bool Locate(const std::string&, const platform::Variant&, bool, bool) override { return false; }
  bool FindKey(TVEZSearchCondition condition) override {
    return table_data->FindKey(*this, condition);
  }
  bool IsAnyRecordMatchCondition(const std::string&, TVEZDataOperator,
                                 const TVEZVariant&) override {
    return false;
  }
  TVEZStream* InternalCreateBlobStream(bool, bool, std::int32_t, TVEZBLOBOpenMode, bool) override {
    return nullptr;
  }
  void InternalCloseBLOB(std::int32_t) override {}
  void ClearBLOBStreams(bool) override {}
  std::int64_t LastAutoincValue(std::int32_t field_no) override {
    return table_data->LastAutoincValue(field_no, Session);
  }
  void BeginBatchUpdate() override {}
  void EndBatchUpdate() override {}
  void CancelBatchUpdate() override {}
  bool CheckConstraints(bool to_insert) override {
    return table_data->ConstraintManager()->CheckConstraints(
        table_data->SessionIDOf(this), CurrentRecordBuffer, EditRecordBuffer, to_insert,
        CurrentRecordID, false, true);
  }

 private:
  bool LockRecord(TVEZPageItemID record_id, std::int32_t try_count, std::int32_t delay) {
    TVEZDiskTableData* disk = DiskTable();
    if (disk == nullptr) return true;
    return disk->LockRecord(TVEZTableData::SessionIDOf(this), record_id, try_count, delay);
  }
  bool UnlockRecord(TVEZPageItemID record_id) {
    TVEZDiskTableData* disk = DiskTable();
    if (disk == nullptr) return true;
    return disk->UnlockRecord(TVEZTableData::SessionIDOf(this), record_id);
  }
  // The edit's record lock and its ltSIRW; an ltXIRW is the transaction's.
  void ReleaseEditLocks() {
    if (!editing_) return;
    editing_ = false;
    UnlockRecord(edit_record_id_);
    if (edit_lock_type_ == ltSIRW) UnlockTable(ltSIRW, false);
  }
  void WriteBookmark() {
    if (CurrentRecordBuffer != nullptr &&
        BookmarkOffset + TVEZPageItemID::kSize <= RecordBufferSize)
      CurrentRecordID.Encode(CurrentRecordBuffer + BookmarkOffset);
  }

  TVEZIndexPositionCache position_cache_;
  std::unique_ptr<TVEZRecordBitmap> bitmap_;
  bool editing_ = false;
  TVEZLockType edit_lock_type_ = ltSIRW;
  TVEZPageItemID edit_record_id_;
};

// Session-layer services over TTestLocalCursor. BLOB streams are not served.
class TTestSessionLayerServices : public TVEZSessionLayerServices {
 public:
  int cursors_made = 0;
  std::unique_ptr<TVEZCursor> CreateLocalCursor() override {
    ++cursors_made;
    return std::make_unique<TTestLocalCursor>();
  }
  void OpenLocalCursor(TVEZCursor& cursor, TVEZTableData& table_data) override {
    static_cast<TTestLocalCursor&>(cursor).Open(table_data);
  }
  std::unique_ptr<TVEZBaseBLOBStream> CreateLocalBLOBStream(std::unique_ptr<TVEZStream>,
                                                            std::unique_ptr<TVEZStream>,
                                                            TVEZCursor*, TVEZBLOBOpenMode,
                                                            std::int32_t) override {
    throw EVEZException(30058, "Not implemented yet");
  }
};

// Registers services for a scope.
class TScopedSessionLayerServices {
 public:
  explicit TScopedSessionLayerServices(TVEZSessionLayerServices* services) {
    RegisterSessionLayerServices(services);
  }
  ~TScopedSessionLayerServices() { RegisterSessionLayerServices(nullptr); }
  TScopedSessionLayerServices(const TScopedSessionLayerServices&) = delete;
  TScopedSessionLayerServices& operator=(const TScopedSessionLayerServices&) = delete;
};

}  // namespace vez::test

// The memory engine: tables kept entirely in the process's memory, shared by
// every session of the process through the one memory database "MEMORY".
//
// TVEZMemoryTableData: records in a TVEZMemoryRecordManager (slots of one
// growing block), index pages in a TVEZMemoryPageManager of the table's own,
// BLOB values in blocks of the engine's memory manager reached through the
// table's TVEZBlobHandleTable. No file, no locks between processes, no
// transactions: records and BLOBs change in place at once; changed index
// pages are applied after every operation of a session outside a
// transaction. A record change that fails is undone by the base's record
// change (VEZTableData.h): the record slot it took or overwrote, and the
// index pages it changed in place, whose images its savepoint kept.
//
// A BLOB field's memory form is 10 bytes: 6 bytes of page item id (zero
// here) and a 32-bit handle (little-endian, at byte 6). The handle's block:
// Int32 NumBlocks, Int64 UncompressedSize, then the compressed BLOB stream's
// bytes. A stored record owns the blocks its handles name. A value written
// into a cursor's buffer but not yet stored is pending: storing the record
// makes it the record's (the record's old value is freed only then, once the
// change has succeeded); freeing or cancelling the buffer frees it.
//
// Thread safety: the database data's lock (TVEZTableData::Lock) guards every
// operation; the record, BLOB and navigation operations the cursor calls
// with the lock held do not take it again.
#pragma once

#include <cstdint>
#include <memory>

#include "dbengine/storage/VEZBlobHandleTable.h"
#include "dbengine/storage/VEZMemoryPageManager.h"
#include "dbengine/storage/VEZMemoryRecordManager.h"
#include "dbengine/storage/VEZProcessTableData.h"

namespace vez {

class TVEZMemoryTableData : public TVEZProcessTableData {
 public:
  TVEZMemoryTableData(TVEZDatabaseData* database_data, std::int32_t alloc_records_by);
  // Frees the records, BLOBs, indexes and pages; reports nothing.
  ~TVEZMemoryTableData() override;

  void CreateRecordManager() override;
  void CreateConstraintManager(TVEZConstraintDefs& constraint_defs) override;
  // 10025 without field defs (outside design mode).
  void CreateTable(TVEZCursor* cursor, TVEZFieldDefs& field_defs, TVEZIndexDefs& index_defs,
                   TVEZConstraintDefs& constraint_defs) override;
  // Frees every record and BLOB, empties the indexes, restarts the
  // autoincrement counters; the table state moves on.
  void EmptyTable(TVEZCursor* cursor) override;
  void OpenTable(TVEZCursor& cursor) override;
  std::int64_t GetApproximateRecordCount(std::int32_t session_id) override;
  std::int64_t RecordIDToApproximateRecNo(TVEZPageItemID record_id) override;
  TVEZPageItemID ApproximateRecNoToRecordID(std::int64_t value) override;
  // Frees the pending BLOB values the buffer holds (a cancelled change).
  void ClearBlobsCacheInRecordBuffer(std::uint8_t* record) override;
  void WriteBLOBFieldToRecordBuffer(TVEZCursor& cursor, std::int32_t field_no,
                                    TVEZStream& blob_stream) override;
  // Drops the field's value from record (NULL afterwards): a pending value is
  // freed; a stored one stays with its record until the record changes.
  void ClearBLOBFieldInRecordBuffer(std::uint8_t* record, std::int32_t field_no) override;
  std::unique_ptr<TVEZStream> InternalCreateBlobStream(TVEZCursor& cursor, bool to_insert,
                                                       std::int32_t field_no,
                                                       TVEZBLOBOpenMode open_mode) override;
  void GetDirectBlobData(TVEZCursor& cursor, std::int32_t field_no, std::uint8_t* record,
                         TVEZPartialTemporaryBLOBDescriptor& descriptor,
                         std::uint8_t*& data) override;
  void SetDirectBlobData(TVEZCursor& cursor, std::int32_t field_no, std::uint8_t* record,
                         TVEZPartialTemporaryBLOBDescriptor& descriptor,
                         std::uint8_t*& data) override;
  void FreeDirectBlobData(TVEZCursor& cursor, std::int32_t field_no, std::uint8_t* record,
                          TVEZPartialTemporaryBLOBDescriptor& descriptor,
                          std::uint8_t*& data) override;
  void InternalSetRecNo(TVEZCursor& cursor, std::int64_t rec_no) override;
  std::int64_t InternalGetRecNo(TVEZCursor& cursor) override;
  std::int64_t InternalGetRecordCount(TVEZCursor& cursor) override;
  std::int64_t LastAutoincValue(std::int32_t field_no, TVEZBaseSession* session) override;

  TVEZMemoryPageManager& MemoryPageManager() { return *FMemoryPageManager; }
  TVEZBlobHandleTable& BlobHandles() { return FBlobHandles; }
  TVEZMemoryRecordManager* MemoryRecordManager() const;

  // The handle in a BLOB field's memory form, and the block it names
  // (nullptr for NULL, empty or a stale handle).
  static std::uint32_t BlobHandleOf(const std::uint8_t* record, const TVEZFieldDef& def);
  const std::uint8_t* BlobBlockOf(const std::uint8_t* record, std::int32_t field_no) const;

 protected:
  // One bit per slot: with as many slots as records every bit is a record.
  bool HasExactRecordBits() const override { return true; }
  // 10010 / 10018 (insert), 10014 / 10017 (update), 10013 (delete) without
  // record manager or record buffer.
  bool CanChangeRecord(TVEZCursor& cursor, TVEZRecordChange change) override;
  // A stored record owns the BLOB values its buffer held pending; the values
  // an update replaced or a delete removed are freed.
  void FinishRecordChange(TVEZCursor& cursor, TVEZRecordChangeContext& context) noexcept override;

 private:
  bool IsBlobField(std::int32_t field_no) const;
  const TVEZFieldDef& FieldDef(std::int32_t field_no) const;
  void SetBlobHandle(std::uint8_t* record, std::int32_t field_no, std::uint32_t handle);
  // Puts a new block in place of the field's value in record: a pending
  // value there is freed, a stored one is left to its record.
  void ReplaceBlob(std::uint8_t* record, std::int32_t field_no, std::uint8_t* block);
  // Every BLOB handle of record, marked stored (not pending).
  void MarkBlobsStored(const std::uint8_t* record);
  // Frees the blocks of stored that new_record no longer names (every block
  // of stored when new_record is null).
  void FreeReplacedBlobs(const std::uint8_t* stored, const std::uint8_t* new_record);

  std::unique_ptr<TVEZMemoryPageManager> FMemoryPageManager;
  TVEZBlobHandleTable FBlobHandles;
  std::int32_t FAllocRecordsBy;
};

class TVEZMemoryDatabaseData : public TVEZProcessDatabaseData {
 public:
  static constexpr const char* kDatabaseName = "MEMORY";
  static constexpr std::int32_t kAllocRecordsBy = 1000;

  TVEZMemoryDatabaseData();
  // Frees every table (first of the list first).
  ~TVEZMemoryDatabaseData() override;

  // Every session of the memory database has session id 0.
  void ConnectSession(TVEZBaseSession& session) override;
  TVEZTableData* CreateTableData(TVEZCursor& cursor) override;
};

// The process's memory database, made at the first call; it lives until the
// process ends. DatabaseDataList() lists it from its own first use on.
TVEZMemoryDatabaseData& MemoryDatabaseData();

}  // namespace vez

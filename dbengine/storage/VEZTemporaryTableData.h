// The temporary engine: tables that live only as long as the process and may
// grow larger than memory, the tables of the one database "TEMP".
//
// TVEZTemporaryTableData: append-only records in a TVEZTemporaryRecordManager
// (RAM up to a tenth of the free memory, then an unlinked spill file), index
// pages in a TVEZTemporaryPageManager of the table's own (the same split), and
// a BLOB file (in memory up to 1 MiB, then an unlinked temporary file) to
// which every BLOB value written is appended. With the cursor's
// FDisableTempFiles all three stay in memory without limit.
//
// BLOB file entry: Int32 NumBlocks, Int64 UncompressedSize, Int64
// CompressedSize (little-endian, 20 bytes), then the compressed BLOB stream's
// bytes. A BLOB field's memory form holds the Int64 offset of its entry in its
// first 8 bytes. Entries are never removed or overwritten; a value written
// again gets a new entry. An entry is referred to only once it is whole: a
// failed append is cut off again and leaves the record as it was.
//
// Records are never updated or deleted (UpdateRecord and DeleteRecord answer
// false). An insert that fails leaves no record and no index entry behind:
// the record is dropped again and the index pages go back to the savepoint
// the base's record change opened (VEZTableData.h).
// The table state moves on with every insert and with EmptyTable, so record
// bitmaps and position caches of other cursors see the change.
//
// Thread safety: the database data's lock (TVEZTableData::Lock) guards every
// operation; the record, BLOB and navigation operations the cursor calls
// with the lock held do not take it again.
#pragma once

#include <cstdint>
#include <memory>

#include "dbengine/foundation/VEZStream.h"
#include "dbengine/storage/VEZProcessTableData.h"
#include "dbengine/storage/VEZTemporaryPageManager.h"
#include "dbengine/storage/VEZTemporaryRecordManager.h"

namespace vez {

class TVEZTemporaryTableData : public TVEZProcessTableData {
 public:
  static constexpr std::int32_t kBLOBFileMemoryLimit = 1048576;

  TVEZTemporaryTableData(TVEZDatabaseData* database_data, std::int32_t records_per_page,
                         std::int32_t alloc_records_by);
  // Frees the records, indexes, pages and the BLOB file (their temporary
  // files go with them); reports nothing.
  ~TVEZTemporaryTableData() override;

  void CreateRecordManager() override;
  // 10132 without field defs (outside design mode). Takes FDisableTempFiles
  // from the cursor and gives the table a new page manager and BLOB file.
  void CreateTable(TVEZCursor* cursor, TVEZFieldDefs& field_defs, TVEZIndexDefs& index_defs,
                   TVEZConstraintDefs& constraint_defs) override;
  // Drops every record and BLOB entry, empties the indexes, restarts the
  // autoincrement counters and gives the table a fresh BLOB file, so BLOBs
  // can be written again at once; the table state moves on.
  void EmptyTable(TVEZCursor* cursor) override;
  // Lists the cursor and marks it Temporary.
  void OpenTable(TVEZCursor& cursor) override;
  std::int64_t GetApproximateRecordCount(std::int32_t session_id) override;
  std::int64_t RecordIDToApproximateRecNo(TVEZPageItemID record_id) override;
  TVEZPageItemID ApproximateRecNoToRecordID(std::int64_t value) override;
  // 10144 without a BLOB file. A modified stream is appended as a new entry
  // (empty: the field becomes NULL). 10145 for a short descriptor write; a
  // failed write leaves the BLOB file and the record as they were.
  void WriteBLOBFieldToRecordBuffer(TVEZCursor& cursor, std::int32_t field_no,
                                    TVEZStream& blob_stream) override;
  // 10140 without a BLOB file; 10141 / 10142 for an entry the file does not
  // hold (a damaged offset or descriptor).
  std::unique_ptr<TVEZStream> InternalCreateBlobStream(TVEZCursor& cursor, bool to_insert,
                                                       std::int32_t field_no,
                                                       TVEZBLOBOpenMode open_mode) override;
  // A NULL field gives a zeroed descriptor and no data; 10509 / 10510 for an
  // entry the file does not hold. data is a memory-manager block.
  void GetDirectBlobData(TVEZCursor& cursor, std::int32_t field_no, std::uint8_t* record,
                         TVEZPartialTemporaryBLOBDescriptor& descriptor,
                         std::uint8_t*& data) override;
  // 10506 without a BLOB file or with a size the data cannot hold; appends an
  // entry when UncompressedSize is not 0, else makes the field NULL.
  void SetDirectBlobData(TVEZCursor& cursor, std::int32_t field_no, std::uint8_t* record,
                         TVEZPartialTemporaryBLOBDescriptor& descriptor,
                         std::uint8_t*& data) override;
  void FreeDirectBlobData(TVEZCursor& cursor, std::int32_t field_no, std::uint8_t* record,
                          TVEZPartialTemporaryBLOBDescriptor& descriptor,
                          std::uint8_t*& data) override;
  void InternalSetRecNo(TVEZCursor& cursor, std::int64_t rec_no) override;
  std::int64_t InternalGetRecNo(TVEZCursor& cursor) override;
  std::int64_t InternalGetRecordCount(TVEZCursor& cursor) override;

  TVEZTemporaryRecordManager* TemporaryRecordManager() const;
  TVEZTemporaryPageManager* TemporaryPageManager() const { return FTemporaryPageManager.get(); }
  // The BLOB file; null without BLOB fields or before CreateTable.
  TVEZStream* BLOBFile() const { return FBLOBFile.get(); }
  // The offset of the field's entry, as its memory form holds it.
  static std::int64_t BlobOffsetOf(const std::uint8_t* record, const TVEZFieldDef& def);

 protected:
  // 10134 without record manager, 10135 without a record buffer; updates and
  // deletes are refused (false).
  bool CanChangeRecord(TVEZCursor& cursor, TVEZRecordChange change) override;
  // A record stored by a failed insert is dropped again (it is the last).
  void UndoRecordChange(TVEZCursor& cursor,
                        const TVEZRecordChangeContext& context) noexcept override;

 private:
  // A new BLOB file when the table has BLOB fields, else null.
  std::unique_ptr<TVEZStream> CreateBLOBFile() const;
  const TVEZFieldDef& BlobFieldDef(std::int32_t field_no) const;
  // Appends descriptor and size bytes (from source, or from data) at the end
  // of the BLOB file and returns the entry's offset; on failure the file is
  // cut back and the error passes on.
  std::int64_t AppendBlobEntry(const TVEZPartialTemporaryBLOBDescriptor& descriptor,
                               TVEZStream* source, const std::uint8_t* data,
                               std::int32_t seek_error, std::int32_t descriptor_error);
  // Reads and checks the descriptor of the entry at offset.
  TVEZPartialTemporaryBLOBDescriptor ReadBlobEntry(std::int64_t offset, std::int32_t seek_error,
                                                   std::int32_t read_error);
  void SetBlobOffset(std::uint8_t* record, std::int32_t field_no, std::int64_t offset);

  std::unique_ptr<TVEZStream> FBLOBFile;
  std::int32_t FRecordsPerPage;
  std::int32_t FAllocRecordsBy;
  std::unique_ptr<TVEZTemporaryPageManager> FTemporaryPageManager;
};

class TVEZTemporaryDatabaseData : public TVEZProcessDatabaseData {
 public:
  static constexpr const char* kDatabaseName = "TEMP";
  static constexpr std::int32_t kRecordsPerPage = 10;
  static constexpr std::int32_t kAllocRecordsBy = 1000;

  TVEZTemporaryDatabaseData();
  // Frees every table (first of the list first).
  ~TVEZTemporaryDatabaseData() override;

  TVEZTableData* CreateTableData(TVEZCursor& cursor) override;
};

// The process's temporary database, made at the first call; it lives until
// the process ends. DatabaseDataList() lists it from its own first use on.
TVEZTemporaryDatabaseData& TemporaryDatabaseData();

}  // namespace vez

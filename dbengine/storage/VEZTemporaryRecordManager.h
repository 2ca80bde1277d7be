// TVEZTemporaryRecordManager: the records of a temporary table. The table is
// append-only: record N (0-based, insertion order) has the identity holding N
// as a 48-bit little-endian number. Records below a limit of a tenth of the
// free memory stay in a RAM cache; later ones go through a staging page to an
// unnamed temporary spill file (unlinked at once) at (N - limit) x record size.
// The spill file holds bare memory record images, back to back. Every added
// record and every Empty moves the table state on.
//
// Thread safety: none of its own; the table data's lock guards every call.
#pragma once

#include <cstdint>
#include <memory>

#include "dbengine/foundation/VEZFileStream.h"
#include "dbengine/storage/VEZBaseRecordManager.h"

namespace vez {

class TVEZTemporaryRecordManager : public TVEZBaseRecordManager {
 public:
  // 10124 "Invalid record size = 0" for a record size of 0 or less.
  TVEZTemporaryRecordManager(std::int32_t record_buffer_size, std::int32_t records_per_page,
                             std::int32_t alloc_records_by, bool disable_temp_files);
  ~TVEZTemporaryRecordManager() override;

  // The cache limit in records for a free memory figure: a tenth of it, but
  // never more than one memory-manager block can hold.
  static std::int32_t MaxCachedRecordsFor(std::int64_t free_memory,
                                          std::int32_t record_buffer_size);
  static TVEZPageItemID RecordIDOf(std::int64_t n);
  static std::int64_t RecordNoOf(const TVEZPageItemID& id);

  // Drops every record, the cache and the spill file (which goes with it).
  void Empty(std::int32_t session_id) override;
  // False (nothing changed) when the cache cannot grow or the spill file
  // cannot be written.
  bool AddRecord(std::int32_t session_id, const std::uint8_t* record_buffer,
                 TVEZPageItemID& record_id) override;
  // Takes back the last record added (a table insert whose index entries
  // failed); the table state moves on.
  void DropLastRecord();
  bool UpdateRecord(std::int32_t, const std::uint8_t*, TVEZPageItemID) override { return false; }
  bool DeleteRecord(std::int32_t, TVEZPageItemID&) override { return false; }
  void GetRecordBuffer(std::int32_t session_id, TVEZNavigationInfo& info) override;
  std::int32_t CompareRecordID(const TVEZPageItemID& record_id1,
                               const TVEZPageItemID& record_id2) override;
  std::int64_t GetApproximateRecNo(std::int32_t session_id, TVEZPageItemID record_id) override;

  // Reads record n into buffer (RecordBufferSize bytes): 10127 for a record
  // outside the table, 10130 for a short spill file read.
  void ReadRecord(std::int64_t n, std::uint8_t* buffer);

  std::int32_t MaxCachedRecordCount() const { return FMaxCachedRecordCount; }
  std::int32_t CachedRecordCount() const { return FCachedRecordCount; }
  bool HasSpillFile() const { return FTempPageFile != nullptr; }

 private:
  void WriteTempPage();

  std::int32_t FRecordsPerPage = 1;
  std::int32_t FPageSize = 0;
  std::int32_t FCachedRecordCount = 0;
  std::uint8_t* FCache = nullptr;
  std::int32_t FAllocatedRecordCount = 0;
  std::uint8_t* FTempPage = nullptr;
  std::int32_t FTempPageRecordCount = 0;
  std::unique_ptr<TVEZFileStream> FTempPageFile;
  std::int32_t FMaxCachedRecordCount = 0;
  std::int32_t FAllocRecordsBy = 1;
  bool FDisableTempFiles = false;
};

}  // namespace vez

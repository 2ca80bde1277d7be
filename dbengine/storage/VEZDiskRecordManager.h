// Disk record storage: the records of a disk table on record pages of the
// database file, several fixed-size records per page, and the record page
// index (VEZBTreePageIndex.h) that lists the table's record pages with their
// record counts.
//
// Record page (page type TableRecord, 10; header ObjectID = the table id).
// Data area of P bytes (the page manager's PageDataSize), S = disk record size,
// M = MaxRecordsOnPage = floor((P - 1) / (S + 1/8)), the same on every page:
//   0               ceil(M / 8) bytes  slot map, bit n (byte n / 8, mask
//                                      1 << (n % 8)) set = slot n holds a record
//   ceil(M/8) + n*S S bytes            slot n, one record in disk form
//   ceil(M/8) + M*S the rest           unused
// A freed slot keeps its old bytes; only its bit is cleared. A record's
// identity is (record page, slot) for its whole life; a freed slot is reused.
//
// Failure: an operation that raises after it changed pages leaves them in the
// session's dirty list and its counters (RecordCount, TableState) as they
// were; the caller rolls the pages back to the savepoint of its change (or
// cancels the session's changes), so nothing of the failed change reaches a
// commit.
//
// Thread safety: none of its own; the disk table data's lock guards every call.
#pragma once

#include <cstdint>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZBTreePageIndex.h"
#include "dbengine/storage/VEZBaseRecordManager.h"

namespace vez {

class TVEZDiskPageManager;

class TVEZBaseFieldManager;
class TVEZPage;
class TVEZPageManager;
class TVEZStream;

// Errors of record storage.
inline constexpr std::int32_t kErrInvalidRecordsOnPage = 20140;
inline constexpr std::int32_t kErrRecordPageFull = 20141;
inline constexpr std::int32_t kErrRecordNotFoundFirst = 20143;
inline constexpr std::int32_t kErrRecordNotFoundLast = 20144;
inline constexpr std::int32_t kErrRecordNotFoundNext = 20145;
inline constexpr std::int32_t kErrRecordNotFoundNextPage = 20146;
inline constexpr std::int32_t kErrRecordNotFoundPrior = 20147;
inline constexpr std::int32_t kErrRecordNotFoundPriorPage = 20148;
inline constexpr std::int32_t kErrRecordTooLarge = 20174;
inline constexpr std::int32_t kErrMostUpdatedData = 20164;

// M for a page data area of page_data_size bytes and records of
// record_size bytes (0 when not even one record fits).
std::int32_t MaxRecordsOnRecordPage(std::int32_t page_data_size, std::int32_t record_size);

// The view over one record page (borrowed, pinned by the caller). Slot
// numbers at or above M count as free slots.
class TVEZSmallRecordPage {
 public:
  // Raises 20140 when M slots of record_size bytes and their map do not fit.
  TVEZSmallRecordPage(TVEZPage* page, std::int32_t record_size, std::int32_t max_records_on_page);

  std::int64_t RecordCount() const;
  bool IsSlotUsed(std::int32_t slot) const;

  // Stores record (S bytes) in the lowest free slot; 20141 when there is none.
  void AddRecord(const std::uint8_t* record, TVEZPageItemID& record_id);
  // False when the slot is free (nothing changes).
  bool UpdateRecord(const std::uint8_t* record, TVEZPageItemID record_id);
  bool DeleteRecord(TVEZPageItemID record_id);
  bool GetRecordBuffer(TVEZPageItemID record_id, std::uint8_t* record) const;
  // Lowest / highest occupied slot; 20143 / 20144 on an empty page.
  void GetFirstRecordID(TVEZPageItemID& record_id) const;
  void GetLastRecordID(TVEZPageItemID& record_id) const;
  // The next / prior occupied slot; false (record_id.PageItemNo kept) when none.
  bool GetNextRecordID(TVEZPageItemID& record_id) const;
  bool GetPriorRecordID(TVEZPageItemID& record_id) const;
  // The occupied slot with rec_no_on_page occupied slots before it; 20146 past them.
  void GetRecordID(std::int32_t rec_no_on_page, TVEZPageItemID& record_id) const;
  // Occupied slots below record_id.PageItemNo.
  std::int32_t GetRecNoOnPage(TVEZPageItemID record_id) const;

 private:
  std::uint8_t* Slot(std::int32_t slot) const;
  void SetSlotUsed(std::int32_t slot, bool used);

  TVEZPage* page_;
  std::int32_t record_size_;
  std::int32_t max_records_on_page_;
  std::int32_t record_data_offset_;
};

class TVEZDiskRecordManager : public TVEZBaseRecordManager {
 public:
  // Borrows the page manager (the database's) and the table's field manager;
  // table_id is the id written into and expected in every record page header.
  TVEZDiskRecordManager(TVEZPageManager* page_manager, TVEZBaseFieldManager* field_manager,
                        std::int32_t table_id);
  ~TVEZDiskRecordManager() override;

  TVEZBTreeRecordPageIndex& RecordPageIndex() { return record_page_index_; }
  std::int32_t MaxRecordsOnPage() const { return max_records_on_page_; }
  std::int32_t DiskRecordBufferSize() const { return disk_record_buffer_size_; }
  std::int32_t TableID() const { return table_id_; }
  void SetTableID(std::int32_t table_id) { table_id_ = table_id; }

  // Sizes the record forms and M; counters 0. Raises 20174 when no record
  // fits a page (nothing changes then).
  void Init(std::int32_t record_buffer_size, std::int32_t disk_record_buffer_size,
            std::int32_t field_count);

  // Int32 table state, then Int32 record count, at buffer + offset (buffer_size
  // bytes in all); offset moves by 8. 20164 when they do not fit or a stored
  // count is negative (nothing changes then).
  void LoadMostUpdated(const std::uint8_t* buffer, std::int32_t buffer_size, std::int32_t& offset);
  void SaveMostUpdated(std::uint8_t* buffer, std::int32_t buffer_size, std::int32_t& offset) const;
  // The record page index's root page number (Int32).
  void LoadMetadata(TVEZStream& stream);
  void SaveMetadata(TVEZStream& stream) const;
  // A new empty record page index, for the engine's own session -2.
  void CreateRecordPageIndex();

  void Empty(std::int32_t session_id) override;
  // Empty, then the record page index's own pages go too.
  void Delete(std::int32_t session_id);
  // Raises what the page manager or the index raises; counters are raised
  // only when the record is stored (see the head of this file).
  bool AddRecord(std::int32_t session_id, const std::uint8_t* record_buffer,
                 TVEZPageItemID& record_id) override;
  bool UpdateRecord(std::int32_t session_id, const std::uint8_t* record_buffer,
                    TVEZPageItemID record_id) override;
  bool DeleteRecord(std::int32_t session_id, TVEZPageItemID& record_id) override;
  void GetRecordBuffer(std::int32_t session_id, TVEZNavigationInfo& info) override;
  std::int32_t CompareRecordID(const TVEZPageItemID& record_id1,
                               const TVEZPageItemID& record_id2) override;
  std::int64_t GetApproximateRecNo(std::int32_t session_id, TVEZPageItemID record_id) override;

  // 1-based record numbers in page order.
  void SetRecNo(std::int32_t session_id, std::int64_t rec_no, TVEZPageItemID& record_id);
  std::int64_t GetRecNo(std::int32_t session_id, TVEZPageItemID record_id);

  // Repair: a new record page index over every page of the file that is a
  // record page of this table, in use by the free space maps.
  void RebuildRecordPageIndex(std::int32_t session_id);
  // Raises 20292 when the index counts other than RecordCount records.
  void ValidateRecordPageIndex(std::int32_t session_id);

  // Whether navigation may trust page: a record page of this table in a
  // stored state (always true when the database's header errors are
  // suppressed or the file predates the checked format).
  bool IsRecordPageValid(TVEZPage* page) const;

 private:
  TVEZSmallRecordPage View(TVEZPage* page) const;
  // Reads the slot into info (converted to memory form when a buffer is given).
  void Deliver(const TVEZSmallRecordPage& view, TVEZPageItemID id, TVEZNavigationInfo& info,
               std::int32_t not_found_error);
  // The first (first = true) or last record of the table into info.
  void ReadEnd(std::int32_t session_id, TVEZNavigationInfo& info, bool first);

  TVEZBTreeRecordPageIndex record_page_index_;
  TVEZPageManager* page_manager_;
  // The same manager when it is a database file's (null otherwise), found
  // once: every record read asks for its header's settings.
  TVEZDiskPageManager* disk_page_manager_;
  TVEZBaseFieldManager* field_manager_;
  std::int32_t table_id_;
  std::int32_t max_records_on_page_ = 0;
  std::int32_t disk_record_buffer_size_ = 0;
  // One disk-form record reused by every conversion (memory manager block).
  std::uint8_t* temp_disk_record_ = nullptr;
};

}  // namespace vez

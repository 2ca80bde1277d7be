// TVEZMemoryRecordManager: the records of one memory table, as fixed-size
// slots in one growing block with one delete flag per slot (set = free). A
// record's identity is (slot, 0) for its life. New records go right after the
// highest live slot, so slot order is insertion order; deleted slots below it
// are not reused, while free slots at the end are taken again.
//
// Every slot that is allocated but holds no record has its flag set, so the
// live slots are exactly the clear flags: record numbers are counted from the
// flags, eight slots per byte, and while no record was ever deleted a record
// number is simply the slot + 1.
//
// The slot block grows by the growth step or by a quarter of its size,
// whichever is more, so inserts stay linear in a large table.
//
// Failures inside AddRecord, UpdateRecord and DeleteRecord answer false and
// leave the records, the counters and the table state as they were.
//
// Thread safety: none of its own; the table data's lock guards every call.
#pragma once

#include <cstdint>

#include "dbengine/storage/VEZBaseRecordManager.h"

namespace vez {

class TVEZMemoryRecordManager : public TVEZBaseRecordManager {
 public:
  // 10011 for a record size of 0 (outside design mode).
  TVEZMemoryRecordManager(std::int32_t record_buffer_size, std::int32_t alloc_records_by);
  ~TVEZMemoryRecordManager() override;

  // Frees every slot; the table state moves on, so cached positions and
  // record bitmaps of the old records are seen to be out of date.
  void Empty(std::int32_t session_id) override;
  bool AddRecord(std::int32_t session_id, const std::uint8_t* record_buffer,
                 TVEZPageItemID& record_id) override;
  // False for a slot that holds no record (deleted or never used).
  bool UpdateRecord(std::int32_t session_id, const std::uint8_t* record_buffer,
                    TVEZPageItemID record_id) override;
  // Deleting the highest live record moves record_id to the new highest.
  bool DeleteRecord(std::int32_t session_id, TVEZPageItemID& record_id) override;
  // A move past the last live slot gives grrEOF with LastPosition set, before
  // the first grrBOF with FirstPosition set; RecordID then stands one past
  // the end it left. 10019 when the copy of the record fails.
  void GetRecordBuffer(std::int32_t session_id, TVEZNavigationInfo& info) override;
  std::int32_t CompareRecordID(const TVEZPageItemID& record_id1,
                               const TVEZPageItemID& record_id2) override;
  // 1..RecordCount, by the slot's place in the live span; -1 for a slot
  // outside it or an empty table.
  std::int64_t GetApproximateRecNo(std::int32_t session_id, TVEZPageItemID record_id) override;

  // The slot of the rec_no-th live record (1-based), -1 when there is none.
  std::int32_t SlotOfRecNo(std::int64_t rec_no) const;
  // The number of live records at slots 0..slot (for a free slot: the number
  // of the live record before it); -1 for a slot outside the allocation.
  std::int64_t RecNoOfSlot(std::int32_t slot) const;
  bool IsLive(std::int32_t slot) const;
  // The stored bytes of a live slot, nullptr otherwise.
  const std::uint8_t* SlotData(std::int32_t slot) const;

  std::int32_t AllocatedRecordCount() const { return FAllocatedRecordCount; }
  std::int32_t FirstRecordID() const { return FFirstRecordID; }
  std::int32_t LastRecordID() const { return FLastRecordID; }
  bool NoRecordsDeleted() const { return FNoRecordsDeleted; }

 private:
  bool Flag(std::int32_t slot) const;
  void SetFlag(std::int32_t slot, bool free);
  std::uint8_t* Slot(std::int32_t slot) const;
  void FreeBuffers() noexcept;

  std::uint8_t* FRecordBuffer = nullptr;
  std::uint8_t* FDeleteFlagBuffer = nullptr;
  std::int32_t FAllocatedRecordCount = 0;
  std::int32_t FAllocRecordsBy;
  std::int32_t FFirstRecordID = 0;
  std::int32_t FLastRecordID = 0;
  bool FNoRecordsDeleted = true;
};

}  // namespace vez

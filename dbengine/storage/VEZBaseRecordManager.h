// TVEZBaseRecordManager: the keeper of one table's records, in the storage
// order of its engine (disk record pages, memory slots, temporary spill
// file). The table data (VEZTableData.h) stores, reads and walks records only
// through these seven operations; each engine implements them.
//
// Records travel as memory record buffers (VEZFieldDef.h) of RecordBufferSize
// bytes; the record manager keeps its own copies. A record keeps its identity
// (TVEZPageItemID) for its life.
//
// Thread safety: none of its own; the table data's lock guards every call.
#pragma once

#include <cstdint>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZChangeCounter.h"

namespace vez {

class TVEZBaseRecordManager {
 public:
  TVEZBaseRecordManager() = default;
  virtual ~TVEZBaseRecordManager() = default;
  TVEZBaseRecordManager(const TVEZBaseRecordManager&) = delete;
  TVEZBaseRecordManager& operator=(const TVEZBaseRecordManager&) = delete;

  // Drops every record.
  virtual void Empty(std::int32_t session_id) = 0;
  // Stores a copy of record_buffer; record_id receives its identity. False
  // when the record could not be stored (nothing is then stored).
  virtual bool AddRecord(std::int32_t session_id, const std::uint8_t* record_buffer,
                         TVEZPageItemID& record_id) = 0;
  // Overwrites record record_id; false when it could not.
  virtual bool UpdateRecord(std::int32_t session_id, const std::uint8_t* record_buffer,
                            TVEZPageItemID record_id) = 0;
  // Removes record record_id; false when it could not. An engine may move
  // record_id to a neighbour.
  virtual bool DeleteRecord(std::int32_t session_id, TVEZPageItemID& record_id) = 0;
  // One step in storage order. grmCurrent reads info.RecordID; grmNext and
  // grmPrior move from it to the next or previous live record. FirstPosition
  // stands before the first record (grmNext gives the first, grmPrior grrBOF),
  // LastPosition after the last (grmNext grrEOF, grmPrior the last); the flag
  // that applied is cleared when a record is found. On grrOK info.RecordID is
  // the record's identity and info.RecordBuffer holds a copy of it; an empty
  // table gives grrEOF. info.IndexID is not used.
  virtual void GetRecordBuffer(std::int32_t session_id, TVEZNavigationInfo& info) = 0;
  // Order of two identities in storage order: negative, 0, positive.
  virtual std::int32_t CompareRecordID(const TVEZPageItemID& record_id1,
                                       const TVEZPageItemID& record_id2) = 0;
  // Estimated 1-based position of the record in storage order, for cost
  // estimates only.
  virtual std::int64_t GetApproximateRecNo(std::int32_t session_id, TVEZPageItemID record_id) = 0;

  // Number of live records.
  std::int64_t RecordCount = 0;
  // Change counter of the records: record bitmaps, index position caches and
  // other processes compare it to see that what they hold is out of date.
  // Raise it with IncTableState, which wraps.
  std::int32_t TableState = 0;
  // Bytes of one memory record buffer.
  std::int32_t RecordBufferSize = 0;

  // One change more: the next table state, 0 after the largest Int32.
  void IncTableState() { TableState = NextChangeCounter(TableState); }
};

}  // namespace vez

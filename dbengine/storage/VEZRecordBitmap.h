// TVEZRecordBitmap: a cursor's set of visible records under a filter, a key
// range or a distinct setting: one bit per record number. A physical bitmap
// numbers records by the table engine's approximate record numbers
// (TVEZTableData::RecordIDToApproximateRecNo and its inverse); an index-based
// one by the record's position in one index, read as a number
// (TVEZKeyPath::GetBitmapRecNoByIndexPosition).
//
// Index-based numbers grow as (entries per page + 1) ^ depth and pass 2^31 in
// deep trees. The bit array counts bits in Int32, so a bitmap never takes a
// bit at or above kMaxBitmapBits: showing such a record makes the bitmap
// unusable (Clear, then Unusable() true until the next Clear), and the
// search scans without a bitmap instead of answering from a wrong one.
//
// Thread safety: none; the cursor's table data lock covers it.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>

#include "dbengine/foundation/VEZBitsArray.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZKeyPath.h"

namespace vez {

class TVEZKeyPath;
class TVEZTableData;

class TVEZRecordBitmap {
 public:
  static constexpr std::int64_t kMaxBitmapBits = std::numeric_limits<std::int32_t>::max();

  // Empty, inactive, physical, TableState -1. A null table data raises 10425.
  explicit TVEZRecordBitmap(TVEZTableData* table_data);
  TVEZRecordBitmap(const TVEZRecordBitmap&) = delete;
  TVEZRecordBitmap& operator=(const TVEZRecordBitmap&) = delete;

  std::int64_t Size() const { return FBitmap.Size(); }
  // Raises EIntOverflow beyond kMaxBitmapBits.
  void SetSize(std::int64_t size);
  // Number of set bits.
  std::int64_t GetRecordCount() const { return FBitmap.NonZeroBitCount(); }
  // True when TableState differs from the table's current one.
  bool Outdated() const;
  // A record could not be given a bit (see above).
  bool Unusable() const { return FUnusable; }

  // 1-based rank of the record among the shown ones; -1 when its bit lies
  // beyond Size().
  std::int64_t GetRecNoByRecordID(TVEZPageItemID record_id);
  std::int64_t GetRecNoByIndexPos(std::int32_t index_id, const TVEZKeyPath& index_pos);
  // The record of the shown bit of rank rec_no - 1 (10428 outside).
  TVEZPageItemID GetRecordIDByRecNo(std::int64_t rec_no);
  void GetIndexPosByRecNo(std::int32_t index_id, std::int64_t rec_no, TVEZKeyPath& index_pos);
  bool IsRecordVisible(std::int32_t index_id, const TVEZKeyPath& index_pos);

  // On an index-based bitmap showing or hiding by record id only clears the
  // bitmap (it is rebuilt when next needed); otherwise the bit is set or
  // cleared, growing the bitmap when needed.
  void ShowRecord(TVEZPageItemID record_id);
  void HideRecord(TVEZPageItemID record_id);
  void ShowRecord(std::int32_t index_id, const TVEZKeyPath& index_pos);
  void HideRecord(std::int32_t index_id, const TVEZKeyPath& index_pos);
  void SetAllBits() { FBitmap.SetAllBits(); }
  // Inactive, empty and usable again.
  void Clear();

  // The next shown record after (go_forward) or before cur_record_id, or
  // from the first or last bit with restart.
  bool FindRecord(bool restart, bool go_forward, TVEZPageItemID cur_record_id,
                  TVEZPageItemID& found_record_id);
  // The same in index numbering.
  bool FindRecord(bool restart, bool go_forward, const TVEZKeyPath& cur_index_pos,
                  TVEZKeyPath& found_index_pos, std::int32_t index_id);

  const TVEZBitsArray& Bits() const { return FBitmap; }
  TVEZTableData* TableData() const { return FTableData; }

  bool Active = false;
  bool IndexBased = false;
  // The index whose order an index-based bitmap follows (-1: physical), so
  // that a bitmap built for one order is never read in another.
  std::int32_t IndexID = -1;
  std::int32_t TableState = -1;
  // Where the last index-based move landed (the record, its index position
  // and the table state then), so that the next move starts there instead
  // of searching the index for the record again. Clear forgets it.
  std::unique_ptr<TVEZKeyPath> LastFoundPosition;
  TVEZPageItemID LastFoundRecordID;
  std::int32_t LastFoundTableState = -1;

 private:
  std::int64_t BitOfRecord(TVEZPageItemID record_id) const;
  std::int64_t BitOfPosition(std::int32_t index_id, const TVEZKeyPath& index_pos) const;
  void PositionOfBit(std::int32_t index_id, std::int64_t bit, TVEZKeyPath& index_pos) const;
  void SetBitGrowing(std::int64_t bit, bool value);

  TVEZBitsArray FBitmap;
  TVEZTableData* FTableData;
  bool FUnusable = false;
};

}  // namespace vez

#include "dbengine/storage/VEZRecordBitmap.h"

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZIndexManager.h"
#include "dbengine/storage/VEZKeyPath.h"
#include "dbengine/storage/VEZTableData.h"
#include "platform/core/Exceptions.h"

namespace vez {

TVEZRecordBitmap::TVEZRecordBitmap(TVEZTableData* table_data) : FTableData(table_data) {
  if (table_data == nullptr) throw EVEZException(10425, "Nil pointer occured");
}

void TVEZRecordBitmap::SetSize(std::int64_t size) {
  if (size < 0 || size > kMaxBitmapBits) throw platform::EIntOverflow();
  FBitmap.SetSize(static_cast<std::int32_t>(size));
}

bool TVEZRecordBitmap::Outdated() const {
  const TVEZBaseRecordManager* records = FTableData->RecordManager();
  return records == nullptr || TableState != records->TableState;
}

std::int64_t TVEZRecordBitmap::BitOfRecord(TVEZPageItemID record_id) const {
  return FTableData->RecordIDToApproximateRecNo(record_id);
}

std::int64_t TVEZRecordBitmap::BitOfPosition(std::int32_t index_id,
                                             const TVEZKeyPath& index_pos) const {
  TVEZIndex* index = FTableData->IndexManager()->OpenIndex(index_id);
  try {
    return index_pos.GetBitmapRecNoByIndexPosition(index->GetMaxEntriesPerPage());
  } catch (const platform::EIntOverflow&) {
    // Beyond 64 bits is beyond any bitmap.
    return std::numeric_limits<std::int64_t>::max();
  }
}

void TVEZRecordBitmap::PositionOfBit(std::int32_t index_id, std::int64_t bit,
                                     TVEZKeyPath& index_pos) const {
  TVEZIndex* index = FTableData->IndexManager()->OpenIndex(index_id);
  index_pos.FillItemsByBitmapRecNo(bit, index->GetMaxEntriesPerPage());
}

std::int64_t TVEZRecordBitmap::GetRecNoByRecordID(TVEZPageItemID record_id) {
  const std::int64_t bit = BitOfRecord(record_id);
  if (bit < 0 || bit >= Size()) return -1;
  return FBitmap.GetBitPositionByBitNo(static_cast<std::int32_t>(bit)) + 1;
}

std::int64_t TVEZRecordBitmap::GetRecNoByIndexPos(std::int32_t index_id,
                                                  const TVEZKeyPath& index_pos) {
  const std::int64_t bit = BitOfPosition(index_id, index_pos);
  if (bit < 0 || bit >= Size()) return -1;
  return FBitmap.GetBitPositionByBitNo(static_cast<std::int32_t>(bit)) + 1;
}

TVEZPageItemID TVEZRecordBitmap::GetRecordIDByRecNo(std::int64_t rec_no) {
  if (rec_no < 1 || rec_no > GetRecordCount())
    throw EVEZException(10428, "Invalid bit position = %d", {rec_no});
  return FTableData->ApproximateRecNoToRecordID(
      FBitmap.GetBitNoByBitPosition(static_cast<std::int32_t>(rec_no - 1)));
}

void TVEZRecordBitmap::GetIndexPosByRecNo(std::int32_t index_id, std::int64_t rec_no,
                                          TVEZKeyPath& index_pos) {
  if (rec_no < 1 || rec_no > GetRecordCount())
    throw EVEZException(10428, "Invalid bit position = %d", {rec_no});
  PositionOfBit(index_id, FBitmap.GetBitNoByBitPosition(static_cast<std::int32_t>(rec_no - 1)),
                index_pos);
}

bool TVEZRecordBitmap::IsRecordVisible(std::int32_t index_id, const TVEZKeyPath& index_pos) {
  const std::int64_t bit = BitOfPosition(index_id, index_pos);
  return bit >= 0 && bit < Size() && FBitmap.GetBit(static_cast<std::int32_t>(bit));
}

void TVEZRecordBitmap::SetBitGrowing(std::int64_t bit, bool value) {
  if (bit < 0 || bit >= kMaxBitmapBits) {
    if (!value) return;  // a bit the bitmap cannot hold is hidden already
    Clear();
    FUnusable = true;
    return;
  }
  if (bit >= Size()) {
    if (!value) return;
    SetSize(bit + 1);
  }
  FBitmap.SetBit(static_cast<std::int32_t>(bit), value);
}

void TVEZRecordBitmap::ShowRecord(TVEZPageItemID record_id) {
  if (IndexBased) {
    Clear();
    return;
  }
  SetBitGrowing(BitOfRecord(record_id), true);
}

void TVEZRecordBitmap::HideRecord(TVEZPageItemID record_id) {
  if (IndexBased) {
    Clear();
    return;
  }
  SetBitGrowing(BitOfRecord(record_id), false);
}

void TVEZRecordBitmap::ShowRecord(std::int32_t index_id, const TVEZKeyPath& index_pos) {
  SetBitGrowing(BitOfPosition(index_id, index_pos), true);
}

void TVEZRecordBitmap::HideRecord(std::int32_t index_id, const TVEZKeyPath& index_pos) {
  SetBitGrowing(BitOfPosition(index_id, index_pos), false);
}

void TVEZRecordBitmap::Clear() {
  Active = false;
  FUnusable = false;
  FBitmap.SetSize(0);
  LastFoundTableState = -1;
}

bool TVEZRecordBitmap::FindRecord(bool restart, bool go_forward, TVEZPageItemID cur_record_id,
                                  TVEZPageItemID& found_record_id) {
  if (Size() == 0) return false;
  std::int64_t cur = restart ? 0 : BitOfRecord(cur_record_id);
  if (!restart && (cur < 0 || cur >= Size())) {
    // A record beyond the bits has every bit before it; one below bit 0
    // has every bit after it.
    if (go_forward == (cur >= 0)) return false;
    restart = true;
  }
  std::int32_t found = 0;
  if (!FBitmap.Find(restart, go_forward, static_cast<std::int32_t>(restart ? 0 : cur), found))
    return false;
  found_record_id = FTableData->ApproximateRecNoToRecordID(found);
  return true;
}

bool TVEZRecordBitmap::FindRecord(bool restart, bool go_forward, const TVEZKeyPath& cur_index_pos,
                                  TVEZKeyPath& found_index_pos, std::int32_t index_id) {
  if (Size() == 0) return false;
  std::int64_t cur = restart ? 0 : BitOfPosition(index_id, cur_index_pos);
  if (!restart && (cur < 0 || cur >= Size())) {
    if (go_forward == (cur >= 0)) return false;
    restart = true;
  }
  std::int32_t found = 0;
  if (!FBitmap.Find(restart, go_forward, static_cast<std::int32_t>(restart ? 0 : cur), found))
    return false;
  PositionOfBit(index_id, found, found_index_pos);
  return true;
}

}  // namespace vez

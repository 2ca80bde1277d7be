#include "dbengine/storage/VEZKeyPath.h"

#include "dbengine/foundation/VEZException.h"
#include "platform/core/CheckedMath.h"

namespace vez {

using platform::CheckedAdd;
using platform::CheckedMul;

void TVEZKeyPath::Assign(const TVEZKeyPath& other) {
  Count = other.Count;
  ItemNo = other.ItemNo;
  PositionType = other.PositionType;
  IndexState = other.IndexState;
  for (std::int32_t i = 0; i < Count; ++i)
    Items[i] = other.Items[i];
}

void TVEZKeyPath::AddItem(std::int32_t page_no, std::int32_t entry_no, std::int32_t entry_count) {
  if (ItemNo < 0 || ItemNo >= kMaxDepth || Count >= kMaxDepth)
    throw EVEZException(kErrorInvalidKeyPath, "Invalid index key path");
  Items[ItemNo] = {page_no, entry_no, entry_count};
  ++ItemNo;
  ++Count;
}

void TVEZKeyPath::DeleteLastItem() {
  if (Count <= 0) throw EVEZException(kErrorInvalidKeyPath, "Invalid index key path");
  --ItemNo;
  --Count;
}

TVEZKeyPathItem& TVEZKeyPath::Current() {
  if (ItemNo < 0 || ItemNo >= kMaxDepth)
    throw EVEZException(kErrorInvalidKeyPath, "Invalid index key path");
  return Items[ItemNo];
}

bool TVEZKeyPath::PageExists(std::int32_t page_no) const {
  for (std::int32_t i = 0; i < Count; ++i)
    if (Items[i].PageNo == page_no) return true;
  return false;
}

std::int32_t TVEZKeyPath::Compare(const TVEZKeyPath& other) const {
  if (Count != other.Count) throw EVEZException(kErrorInvalidKeyPath, "Invalid index key path");
  for (std::int32_t i = 0; i < Count; ++i) {
    if (Items[i].PageNo != other.Items[i].PageNo)
      throw EVEZException(20052, "Invalid index key path");
    if (Items[i].EntryNo < other.Items[i].EntryNo) return -1;
    if (Items[i].EntryNo > other.Items[i].EntryNo) return 1;
  }
  return 0;
}

double TVEZKeyPath::GetApproxRecNoInPercents() const {
  std::int64_t n = 0, d = 1;
  for (std::int32_t i = Count - 1; i >= 0; --i) {
    n = CheckedAdd(n, CheckedMul<std::int64_t>(Items[i].EntryNo, d));
    d = CheckedMul<std::int64_t>(d, Items[i].EntryCount);
  }
  if (d == 0) return 0;
  return static_cast<double>(n) / static_cast<double>(d);
}

std::int64_t TVEZKeyPath::GetBitmapRecNoByIndexPosition(std::int32_t max_entries_per_page) const {
  const std::int64_t base = CheckedAdd<std::int64_t>(max_entries_per_page, 1);
  std::int64_t result = 0;
  for (std::int32_t k = 0; k < Count; ++k)
    result = CheckedAdd(CheckedMul(result, base), CheckedAdd<std::int64_t>(Items[k].EntryNo, 1));
  return result;
}

void TVEZKeyPath::FillItemsByBitmapRecNo(std::int64_t record_no,
                                         std::int32_t max_entries_per_page) {
  Clear();
  if (record_no < 1 || max_entries_per_page < 1)
    throw EVEZException(kErrorInvalidKeyPath, "Invalid index key path");
  const std::int64_t base = CheckedAdd<std::int64_t>(max_entries_per_page, 1);
  std::int32_t digits = 0;
  for (std::int64_t r = record_no; r > 0; r /= base)
    ++digits;
  if (digits > kMaxDepth) throw EVEZException(kErrorInvalidKeyPath, "Invalid index key path");
  std::int64_t r = record_no;
  for (std::int32_t i = digits - 1; i >= 0; --i) {
    const std::int64_t digit = r % base;
    // Encoded digits are never 0; a 0 is no position this path could have had.
    if (digit == 0) throw EVEZException(kErrorInvalidKeyPath, "Invalid index key path");
    Items[i] = {-1, static_cast<std::int32_t>(digit - 1), 0};
    r /= base;
  }
  Count = digits;
  ItemNo = 0;
}

}  // namespace vez

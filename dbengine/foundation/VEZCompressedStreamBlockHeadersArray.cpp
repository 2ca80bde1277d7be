#include "dbengine/foundation/VEZCompressedStreamBlockHeadersArray.h"

#include <algorithm>
#include <string>

#include "platform/core/Exceptions.h"

namespace vez {

void TVEZCompressedStreamBlockHeadersArray::SetSize(std::int64_t new_size) {
  if (new_size < 0) throw platform::EListError("Invalid item count " + std::to_string(new_size));
  if (new_size == 0) {
    item_count_ = 0;
    alloc_item_count_ = 0;
    items_ = {};
    positions_ = {};
    return;
  }
  if (new_size > alloc_item_count_) {
    alloc_by_ = std::min(2 * alloc_by_, max_alloc_by_);
    alloc_item_count_ =
        new_size >= alloc_item_count_ + alloc_by_ ? new_size : alloc_item_count_ + alloc_by_;
    items_.resize(static_cast<std::size_t>(alloc_item_count_));
    positions_.resize(static_cast<std::size_t>(alloc_item_count_));
  } else if (new_size < item_count_ && alloc_item_count_ - new_size > dealloc_by_) {
    dealloc_by_ = std::min(2 * dealloc_by_, max_alloc_by_);
    alloc_item_count_ = new_size;
    items_.resize(static_cast<std::size_t>(new_size));
    positions_.resize(static_cast<std::size_t>(new_size));
    items_.shrink_to_fit();
    positions_.shrink_to_fit();
  }
  // Entries beyond the count are cleared so that a later growth reads zeros.
  for (std::int64_t i = new_size; i < std::min(item_count_, alloc_item_count_); ++i) {
    items_[static_cast<std::size_t>(i)] = {};
    positions_[static_cast<std::size_t>(i)] = 0;
  }
  item_count_ = new_size;
}

void TVEZCompressedStreamBlockHeadersArray::AppendItem(const TVEZCompressedStreamBlockHeader& value,
                                                       std::int64_t pos) {
  SetSize(item_count_ + 1);
  items_[static_cast<std::size_t>(item_count_ - 1)] = value;
  positions_[static_cast<std::size_t>(item_count_ - 1)] = pos;
}

std::int64_t TVEZCompressedStreamBlockHeadersArray::FindPosition(std::int64_t pos) const {
  if (item_count_ == 0) return 0;
  const auto begin = positions_.begin();
  const auto end = begin + item_count_;
  // First position above pos; the one before it is the answer.
  const auto it = std::upper_bound(begin, end, pos);
  return it == begin ? 0 : (it - begin) - 1;
}

void TVEZCompressedStreamBlockHeadersArray::CheckIndex(std::int64_t index) const {
  if (index < 0 || index >= item_count_)
    throw platform::EListError("List index out of bounds (" + std::to_string(index) + ")");
}

TVEZCompressedStreamBlockHeader& TVEZCompressedStreamBlockHeadersArray::Items(std::int64_t index) {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)];
}

const TVEZCompressedStreamBlockHeader& TVEZCompressedStreamBlockHeadersArray::Items(
    std::int64_t index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)];
}

std::int64_t& TVEZCompressedStreamBlockHeadersArray::Positions(std::int64_t index) {
  CheckIndex(index);
  return positions_[static_cast<std::size_t>(index)];
}

std::int64_t TVEZCompressedStreamBlockHeadersArray::Positions(std::int64_t index) const {
  CheckIndex(index);
  return positions_[static_cast<std::size_t>(index)];
}

}  // namespace vez

#include "dbengine/foundation/VEZIntegerArray.h"

#include <algorithm>
#include <cstring>

#include "platform/core/CheckedMath.h"
#include "platform/core/Exceptions.h"

namespace vez {

namespace {
// step x 2, capped; the cap applies before the result could overflow.
std::int32_t Doubled(std::int32_t step, std::int32_t cap) {
  return static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t{step} * 2, cap));
}
}  // namespace

TVEZIntegerArray::TVEZIntegerArray(std::int32_t size, std::int32_t default_alloc_by,
                                   std::int32_t maximum_alloc_by)
    : alloc_by_(default_alloc_by), de_alloc_by_(default_alloc_by), max_alloc_by_(maximum_alloc_by) {
  SetSize(size);
}

void TVEZIntegerArray::Reallocate(std::int32_t capacity) {
  auto items = std::make_unique<std::int32_t[]>(static_cast<std::size_t>(capacity));  // zeroed
  const std::int32_t keep = std::min(item_count_, capacity);
  if (keep > 0) std::memcpy(items.get(), items_.get(), static_cast<std::size_t>(keep) * 4);
  items_ = std::move(items);
  alloc_item_count_ = capacity;
}

void TVEZIntegerArray::SetSize(std::int32_t new_size) {
  if (new_size < 0) throw platform::EIntOverflow();
  if (new_size == 0) {
    items_.reset();
    item_count_ = 0;
    alloc_item_count_ = 0;
    return;
  }
  if (new_size > alloc_item_count_) {
    alloc_by_ = Doubled(alloc_by_, max_alloc_by_);
    const std::int32_t grown = platform::CheckedAdd(alloc_item_count_, alloc_by_);
    Reallocate(grown > new_size ? grown : new_size);
  } else if (new_size < item_count_ && alloc_item_count_ - new_size > de_alloc_by_) {
    de_alloc_by_ = Doubled(de_alloc_by_, max_alloc_by_);
    Reallocate(new_size);
  }
  // Items that come back into range after a shrink read 0, like new ones.
  if (new_size > item_count_)
    std::memset(items_.get() + item_count_, 0,
                static_cast<std::size_t>(new_size - item_count_) * 4);
  item_count_ = new_size;
}

void TVEZIntegerArray::Append(std::int32_t value) {
  SetSize(platform::CheckedAdd<std::int32_t>(item_count_, 1));
  items_[item_count_ - 1] = value;
}

void TVEZIntegerArray::Insert(std::int32_t item_no, std::int32_t value) {
  const std::int32_t n = platform::CheckedAdd<std::int32_t>(item_count_, 1);
  SetSize(n);
  if (n == 1) {
    items_[0] = value;
  } else if (item_no >= n - 1) {
    items_[n - 1] = value;
  } else {
    std::memmove(items_.get() + item_no + 1, items_.get() + item_no,
                 static_cast<std::size_t>(n - 1 - item_no) * 4);
    items_[item_no] = value;
  }
}

void TVEZIntegerArray::Delete(std::int32_t item_no) {
  if (item_no < item_count_ - 1)
    std::memmove(items_.get() + item_no, items_.get() + item_no + 1,
                 static_cast<std::size_t>(item_count_ - 1 - item_no) * 4);
  SetSize(item_count_ - 1);
}

void TVEZIntegerArray::MoveTo(std::int32_t item_no, std::int32_t new_item_no) {
  if (item_no == new_item_no) return;
  if (item_no - new_item_no == 1 || new_item_no - item_no == 1) {
    // Neighbours swap; the last item moved one past the end has nowhere to go.
    if (new_item_no < item_count_) std::swap(items_[item_no], items_[new_item_no]);
    return;
  }
  const std::int32_t v = items_[item_no];
  if (new_item_no < item_no) {
    std::memmove(items_.get() + new_item_no + 1, items_.get() + new_item_no,
                 static_cast<std::size_t>(item_no - new_item_no) * 4);
    items_[new_item_no] = v;
  } else {
    std::memmove(items_.get() + item_no, items_.get() + item_no + 1,
                 static_cast<std::size_t>(new_item_no - 1 - item_no) * 4);
    items_[new_item_no - 1] = v;
  }
}

void TVEZIntegerArray::CopyTo(std::int32_t* ar, std::int32_t item_no, std::int32_t count) const {
  if (item_count_ == 0 || count <= 0) return;
  std::memcpy(ar, items_.get() + item_no, static_cast<std::size_t>(count) * 4);
}

void TVEZIntegerArray::Assign(const TVEZIntegerArray& v) {
  if (&v == this) return;
  SetSize(v.item_count_);
  if (v.item_count_ > 0)
    std::memcpy(items_.get(), v.items_.get(), static_cast<std::size_t>(v.item_count_) * 4);
}

std::int32_t TVEZIntegerArray::IndexOf(std::int32_t value) const {
  for (std::int32_t i = 0; i < item_count_; ++i)
    if (items_[i] == value) return i;
  return -1;
}

}  // namespace vez

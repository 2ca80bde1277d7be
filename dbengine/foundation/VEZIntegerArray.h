// TVEZIntegerArray: a growable array of Int32 for page lists and the like.
// Growth doubles its step (AllocBy) up to MaxAllocBy so appends stay cheap;
// a shrink keeps up to deAllocBy spare items before the storage is cut, and
// then doubles deAllocBy (capped at MaxAllocBy). Both steps only grow.
//
// Item numbers are not checked: callers keep them within 0..ItemCount()-1.
// Size arithmetic is overflow-checked (EIntOverflow); a negative size raises
// EIntOverflow as well.
//
// Thread safety: none; the owner's lock covers it.
#pragma once

#include <cstdint>
#include <memory>

namespace vez {

class TVEZIntegerArray {
 public:
  TVEZIntegerArray(std::int32_t size, std::int32_t default_alloc_by, std::int32_t maximum_alloc_by);
  TVEZIntegerArray(const TVEZIntegerArray&) = delete;
  TVEZIntegerArray& operator=(const TVEZIntegerArray&) = delete;

  // Sets ItemCount, growing or shrinking the storage by the steps above.
  // New items read 0.
  void SetSize(std::int32_t new_size);
  void Append(std::int32_t value);
  // Inserts at item_no (appends when item_no >= ItemCount()).
  void Insert(std::int32_t item_no, std::int32_t value);
  void Delete(std::int32_t item_no);
  // Moves an item: to a lower number it lands at new_item_no; to a higher one
  // at new_item_no - 1; neighbours simply swap (moving the last item to
  // ItemCount() changes nothing).
  void MoveTo(std::int32_t item_no, std::int32_t new_item_no);
  // Copies count items from item_no to the start of ar (nothing when empty).
  void CopyTo(std::int32_t* ar, std::int32_t item_no, std::int32_t count) const;
  void Assign(const TVEZIntegerArray& v);
  bool IsValueExists(std::int32_t value) const { return IndexOf(value) >= 0; }
  // The first index holding value, or -1.
  std::int32_t IndexOf(std::int32_t value) const;

  std::int32_t& operator[](std::int32_t i) { return items_[i]; }
  std::int32_t operator[](std::int32_t i) const { return items_[i]; }
  std::int32_t* Items() { return items_.get(); }
  const std::int32_t* Items() const { return items_.get(); }

  std::int32_t ItemCount() const { return item_count_; }
  std::int32_t AllocItemCount() const { return alloc_item_count_; }
  std::int32_t AllocBy() const { return alloc_by_; }
  std::int32_t DeAllocBy() const { return de_alloc_by_; }
  std::int32_t MaxAllocBy() const { return max_alloc_by_; }

 private:
  void Reallocate(std::int32_t capacity);

  std::unique_ptr<std::int32_t[]> items_;
  std::int32_t item_count_ = 0;
  std::int32_t alloc_item_count_ = 0;
  std::int32_t alloc_by_;
  std::int32_t de_alloc_by_;
  std::int32_t max_alloc_by_;
};

}  // namespace vez

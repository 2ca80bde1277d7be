// The in-memory list of a compressed BLOB chain's block headers with the
// position of each header in the underlying stream.
//
// Thread safety: none; a list belongs to one BLOB stream, used by one thread
// at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"

namespace vez {

class TVEZCompressedStreamBlockHeadersArray {
 public:
  TVEZCompressedStreamBlockHeadersArray() = default;
  TVEZCompressedStreamBlockHeadersArray(const TVEZCompressedStreamBlockHeadersArray&) = delete;
  TVEZCompressedStreamBlockHeadersArray& operator=(const TVEZCompressedStreamBlockHeadersArray&) =
      delete;

  // Sets the item count. Growth allocates ahead in steps that double up to
  // MaxAllocBy; shrinking by more than DeAllocBy gives the room back. Kept
  // entries keep their values, new ones are zero. Raises EListError for a
  // negative size.
  void SetSize(std::int64_t new_size);
  // Adds one entry at the end.
  void AppendItem(const TVEZCompressedStreamBlockHeader& value, std::int64_t pos);
  // Binary search over the header positions: the last index whose position is
  // not above pos; 0 for an empty list or a pos before the first position.
  std::int64_t FindPosition(std::int64_t pos) const;

  std::int64_t ItemCount() const { return item_count_; }
  std::int64_t AllocItemCount() const { return alloc_item_count_; }
  std::int64_t AllocBy() const { return alloc_by_; }
  std::int64_t DeAllocBy() const { return dealloc_by_; }
  std::int64_t MaxAllocBy() const { return max_alloc_by_; }

  // Entry access; an index outside 0 .. ItemCount - 1 raises EListError.
  TVEZCompressedStreamBlockHeader& Items(std::int64_t index);
  const TVEZCompressedStreamBlockHeader& Items(std::int64_t index) const;
  std::int64_t& Positions(std::int64_t index);
  std::int64_t Positions(std::int64_t index) const;

 private:
  void CheckIndex(std::int64_t index) const;

  std::int64_t alloc_by_ = 10;
  std::int64_t dealloc_by_ = 10;
  std::int64_t max_alloc_by_ = 10000;
  std::int64_t alloc_item_count_ = 0;
  std::int64_t item_count_ = 0;
  std::vector<TVEZCompressedStreamBlockHeader> items_;
  std::vector<std::int64_t> positions_;
};

}  // namespace vez

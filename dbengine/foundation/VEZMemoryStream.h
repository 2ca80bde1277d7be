// TVEZMemoryStream: a stream held in one block of the engine's memory manager.
// Sizes and positions are 32-bit: a size or position that does not fit raises
// EIntOverflow instead of being cut. The allocation doubles when the stream
// grows past it and is given back only when the stream is emptied.
//
// Thread safety: one thread at a time (see VEZStream.h).
#pragma once

#include <cstdint>

#include "dbengine/foundation/VEZStream.h"

namespace vez {

class TVEZMemoryStream : public TVEZStream {
 public:
  // With buffer not null the stream adopts it: it must be a block of
  // MemoryManager(); size and allocation become the block's size and the stream
  // frees the block. Otherwise, with default_allocated_size > 0, a block of that
  // size is allocated (not initialised) and the size is 0.
  explicit TVEZMemoryStream(std::uint8_t* buffer = nullptr,
                            std::int32_t default_allocated_size = 0);
  // Frees the buffer (as SetSize(0)); never throws.
  ~TVEZMemoryStream() override;

  std::int64_t GetSize() override { return buffer_size_; }
  // new_size 0 frees the buffer; a smaller size keeps the allocation and
  // moves a position beyond the new end back to it; growth reads back as
  // zeros. Raises for a negative size and EIntOverflow past 32 bits.
  void SetSize(std::int64_t new_size) override;
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  // Positions past 32 bits raise EIntOverflow; an unknown origin or a negative
  // position gives -1 and leaves the position.
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

  // The data; nullptr while nothing is allocated. Owned by the stream.
  std::uint8_t* Buffer() const { return buffer_; }
  std::int32_t AllocatedBufferSize() const { return allocated_buffer_size_; }

 private:
  // Sets the size to new_size (0 < new_size), zeroing [old size, zero_to).
  void Resize(std::int32_t new_size, std::int32_t zero_to);

  std::uint8_t* buffer_ = nullptr;
  std::int32_t buffer_size_ = 0;
  std::int32_t allocated_buffer_size_ = 0;
  std::int32_t position_ = 0;
};

}  // namespace vez

#include "dbengine/foundation/VEZMemoryStream.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "dbengine/foundation/VEZMemoryManager.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/Exceptions.h"

namespace vez {

TVEZMemoryStream::TVEZMemoryStream(std::uint8_t* buffer, std::int32_t default_allocated_size) {
  if (buffer) {
    const auto size = static_cast<std::int32_t>(MemoryManager().GetMemoryBufferSize(buffer));
    buffer_ = buffer;
    buffer_size_ = allocated_buffer_size_ = size;
  } else if (default_allocated_size != 0) {
    buffer_ = static_cast<std::uint8_t*>(MemoryManager().GetMem(default_allocated_size));
    allocated_buffer_size_ = default_allocated_size;
  }
}

TVEZMemoryStream::~TVEZMemoryStream() {
  try {
    SetSize(0);
  } catch (...) {
    // A destructor never throws; the block is freed before an overrun is
    // reported.
  }
}

void TVEZMemoryStream::Resize(std::int32_t new_size, std::int32_t zero_to) {
  const std::int32_t old_size = buffer_size_;
  if (allocated_buffer_size_ == 0) {
    buffer_ = static_cast<std::uint8_t*>(MemoryManager().GetMem(new_size));
    allocated_buffer_size_ = new_size;
  } else if (new_size > allocated_buffer_size_) {
    const std::int32_t allocation = platform::CheckedMul<std::int32_t>(new_size, 2);
    MemoryManager().ReallocMem(buffer_, allocation, false);
    allocated_buffer_size_ = allocation;
  }
  buffer_size_ = new_size;
  if (zero_to > old_size)
    std::memset(buffer_ + old_size, 0, static_cast<std::size_t>(zero_to - old_size));
  if (position_ > buffer_size_) position_ = buffer_size_;
}

void TVEZMemoryStream::SetSize(std::int64_t new_size) {
  if (new_size < 0) throw platform::EWriteError("Invalid stream size " + std::to_string(new_size));
  const auto size32 = platform::CheckedCast<std::int32_t>(new_size);
  if (size32 == 0) {
    buffer_size_ = allocated_buffer_size_ = 0;
    if (buffer_) MemoryManager().FreeAndNillMem(buffer_);
    position_ = 0;
    return;
  }
  Resize(size32, size32);
}

std::int32_t TVEZMemoryStream::Read(void* buffer, std::int32_t count) {
  if (position_ >= buffer_size_ || count < 1) return 0;
  const std::int32_t n = std::min(count, buffer_size_ - position_);
  std::memcpy(buffer, buffer_ + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int32_t TVEZMemoryStream::Write(const void* buffer, std::int32_t count) {
  if (count < 1) return 0;
  const std::int32_t end = platform::CheckedAdd(position_, count);
  // Bytes between the old end and the position become zeros, not stale memory.
  if (end > buffer_size_) Resize(end, position_);
  std::memcpy(buffer_ + position_, buffer, static_cast<std::size_t>(count));
  position_ = end;
  return count;
}

std::int64_t TVEZMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const std::int64_t position =
      SeekTarget(offset, origin, position_, [this] { return buffer_size_; });
  if (position < 0) return -1;
  position_ = platform::CheckedCast<std::int32_t>(position);
  return position_;
}

}  // namespace vez

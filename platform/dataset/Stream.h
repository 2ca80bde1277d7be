// Stream: the byte stream through which the dataset layer exchanges BLOB
// values without naming the engine. It carries the engine stream's five
// operations; the engine's stream base derives from it.
//
// Thread safety: a stream is used by one thread at a time.
#pragma once

#include <cstdint>

namespace platform {

// Origins of Seek; the ordinals are the platform stream's.
enum TSeekOrigin : std::uint16_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class Stream {
 public:
  Stream() = default;
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;
  virtual ~Stream() = default;

  // The size in bytes.
  virtual std::int64_t GetSize() = 0;
  // Sets the size; growth reads back as zeros. Raises when the stream cannot
  // take the size.
  virtual void SetSize(std::int64_t new_size) = 0;
  // Copies up to count bytes from the position into buffer and moves past
  // them; fewer than count only at the end or on failure, 0 for count < 1.
  virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
  // Writes count bytes at the position, growing the stream; returns the
  // number written (count on success), 0 for count < 1.
  virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
  // Moves the position and returns it; a negative target is refused with -1
  // and the position kept.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
};

}  // namespace platform

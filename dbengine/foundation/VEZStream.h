// TVEZStream: the engine's stream base (size, position, read, write, seek),
// with a block size for whole-stream copies, a progress event, a modified flag
// and a lock pair; and the stream helpers of the whole engine: checked read,
// write and seek with the caller's native error number. The file form lives in
// VEZFileStream.h, temporary names in VEZTemporaryFileName.h and the CRC in
// VEZCrc32.h; this header knows none of them.
//
// Thread safety: a stream is used by one thread at a time; its owners
// serialise access under their own locks. Lock/Unlock exist for callers that
// want the stream's own re-entrant lock; the engine does not use them.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/core/CheckedMath.h"
#include "platform/dataset/Stream.h"

namespace vez {

// Origins of Seek: the platform stream's, so BLOBs cross the dataset layer.
using platform::soBeginning;
using platform::soCurrent;
using platform::soEnd;
using platform::TSeekOrigin;

class TVEZStream;

// Progress of a whole-stream copy, in percent (0 first, 100 last).
using TVEZNoCancelProgressEvent = std::function<void(TVEZStream& sender, double percent_done)>;

class TVEZStream : public platform::Stream {
 public:
  static constexpr std::int32_t kDefaultBlockSize = 102400;

  TVEZStream() = default;
  TVEZStream(const TVEZStream&) = delete;
  TVEZStream& operator=(const TVEZStream&) = delete;
  virtual ~TVEZStream() = default;

  // The stream's size in bytes. Default: seek to the end and back.
  virtual std::int64_t GetSize();

  // Sets the size; growth reads back as zeros. A position beyond the new end
  // is left to the stream (the memory and file streams move it to the end).
  // Raises on failure: a negative size or one the stream cannot hold.
  virtual void SetSize(std::int64_t new_size) = 0;

  // Copies up to count bytes from the current position into buffer and moves
  // the position past them. Returns the number copied: fewer than count only
  // at the end of the stream, 0 for count < 1. A stream whose device fails
  // raises that failure (platform::EOSError for a file) instead of returning
  // short, so a failing disk is never mistaken for damaged data.
  virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;

  // Writes count bytes at the current position, growing the stream as needed
  // (bytes skipped over read back as zeros), and moves the position past them.
  // Returns the number written: count on success, 0 for count < 1. A stream
  // that cannot take the bytes raises its cause (platform::EOSError for a
  // file, the memory manager's error for memory); a short count, which
  // WriteBuffer and CheckedStreamWrite turn into errors, is left for streams
  // without one.
  virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;

  // Moves the position to offset from origin and returns the new position.
  // A position beyond the end is allowed. A negative position is refused: the
  // position stays and the result is -1.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

  // The engine's lock pair: enter and leave the stream's re-entrant lock.
  virtual void Lock() { lock_.lock(); }
  virtual void Unlock() { lock_.unlock(); }

  std::int64_t Size() { return GetSize(); }
  std::int64_t Position() { return Seek(0, soCurrent); }
  // Seek(position, soBeginning); a refused position leaves the stream as is.
  void SetPosition(std::int64_t position) { Seek(position, soBeginning); }

  // Read and Write of exactly count bytes; a short transfer raises
  // platform::EReadError "Stream read error" / EWriteError "Stream write error".
  void ReadBuffer(void* buffer, std::int32_t count);
  void WriteBuffer(const void* buffer, std::int32_t count);

  // Copies the whole content, from position 0, to stream at its current
  // position, BlockSize bytes at a time; afterwards both positions are as
  // they were. Raises 10418 for a block size below 1, 10146 for a short read
  // of this stream, 10147 for a short write to stream.
  void SaveToStream(TVEZStream& stream);

  // Replaces the content by stream_size bytes of stream from from_position
  // (this stream's position is kept, even beyond the new end; stream's too).
  // Raises 10419 for a block size below 1, 10148 for a range the source does
  // not hold or a short read (this stream is left unchanged when the range is
  // refused before copying), 10149 for a short write to this stream.
  void LoadFromStreamWithPosition(TVEZStream& stream, std::int64_t from_position,
                                  std::int64_t stream_size);
  void LoadFromStream(TVEZStream& stream) { LoadFromStreamWithPosition(stream, 0, stream.Size()); }

  // Opens file_name for reading, denying writers (mode 0x20), and loads it.
  void LoadFromFile(const std::string& file_name);
  // Creates (or truncates) file_name (mode 0xFF00) and saves into it.
  void SaveToFile(const std::string& file_name);

  std::int32_t BlockSize() const { return block_size_; }
  void SetBlockSize(std::int32_t block_size) { block_size_ = block_size; }
  const TVEZNoCancelProgressEvent& OnProgress() const { return on_progress_; }
  void SetOnProgress(TVEZNoCancelProgressEvent handler) { on_progress_ = std::move(handler); }
  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }

 protected:
  void DoProgress(double percent_done);

  // The position Seek(offset, origin) asks for, from the current position and
  // (for soEnd only) size(); -1 for an unknown origin. Raises EIntOverflow.
  // Callers refuse a negative result.
  template <typename SizeFn>
  static std::int64_t SeekTarget(std::int64_t offset, TSeekOrigin origin, std::int64_t current,
                                 SizeFn size) {
    switch (origin) {
      case soBeginning:
        return offset;
      case soCurrent:
        return platform::CheckedAdd(current, offset);
      case soEnd:
        return platform::CheckedAdd(static_cast<std::int64_t>(size()), offset);
    }
    return -1;
  }

 private:
  std::int32_t block_size_ = kDefaultBlockSize;
  TVEZNoCancelProgressEvent on_progress_;
  bool modified_ = false;
  std::recursive_mutex lock_;
};

// stream.Read(buffer, count); fewer bytes raise EVEZException(native_error_code,
// "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d,
// Bytes Read = %d") with the position before the read, the size, count and
// the bytes read.
void CheckedStreamRead(void* buffer, std::int32_t count, TVEZStream& stream,
                       std::int32_t native_error_code);

// The same for stream.Write, with "Cannot write to stream. ... Bytes Write = %d".
void CheckedStreamWrite(const void* buffer, std::int32_t count, TVEZStream& stream,
                        std::int32_t native_error_code);

// Sets the position and reads it back; a different position raises
// EVEZException(native_error_code, "Cannot set stream position to %d.
// Position = %d, Size = %d") with the requested position, the position before
// the call and the size.
void CheckedStreamSeek(TVEZStream& stream, std::int32_t native_error_code, std::int64_t position);

}  // namespace vez

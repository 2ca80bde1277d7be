#include "dbengine/foundation/VEZStream.h"

#include <algorithm>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/Exceptions.h"

namespace vez {

namespace {

// Error numbers raised from more than one place in this file.
constexpr std::int32_t kErrorCopyRead = 10148;  // a positioned copy cannot read its source

}  // namespace

namespace {

constexpr const char* kReadText =
    "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d";
constexpr const char* kWriteText =
    "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d";
constexpr const char* kBlockSizeText = "Stream block size = 0 is not allowed";

// One copy buffer per copy, no larger than the copy needs.
std::vector<std::uint8_t> CopyBuffer(std::int32_t block_size, std::int64_t total) {
  return std::vector<std::uint8_t>(
      static_cast<std::size_t>(std::clamp<std::int64_t>(total, 1, block_size)));
}

}  // namespace

std::int64_t TVEZStream::GetSize() {
  const std::int64_t position = Seek(0, soCurrent);
  const std::int64_t size = Seek(0, soEnd);
  Seek(position, soBeginning);
  return size;
}

void TVEZStream::ReadBuffer(void* buffer, std::int32_t count) {
  if (count != 0 && Read(buffer, count) != count) throw platform::EReadError("Stream read error");
}

void TVEZStream::WriteBuffer(const void* buffer, std::int32_t count) {
  if (count != 0 && Write(buffer, count) != count)
    throw platform::EWriteError("Stream write error");
}

void TVEZStream::DoProgress(double percent_done) {
  if (on_progress_) on_progress_(*this, percent_done);
}

void TVEZStream::SaveToStream(TVEZStream& stream) {
  if (block_size_ < 1) throw EVEZException(10418, kBlockSizeText);
  const std::int64_t own_position = Position();
  const std::int64_t target_position = stream.Position();
  SetPosition(0);
  DoProgress(0);
  const std::int64_t total = Size();
  std::vector<std::uint8_t> buffer = CopyBuffer(block_size_, total);
  std::int64_t copied = 0;
  while (copied < total) {
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(block_size_, total - copied));
    const std::int64_t read_position = Position();
    const std::int32_t read = Read(buffer.data(), n);
    if (read != n) throw EVEZException(10146, kReadText, {read_position, Size(), n, read});
    const std::int64_t write_position = stream.Position();
    const std::int32_t written = stream.Write(buffer.data(), n);
    if (written != n)
      throw EVEZException(10147, kWriteText, {write_position, stream.Size(), n, written});
    copied += n;
    DoProgress(static_cast<double>(copied) / static_cast<double>(total) * 100.0);
  }
  SetPosition(own_position);
  stream.SetPosition(target_position);
  DoProgress(100);
}

void TVEZStream::LoadFromStreamWithPosition(TVEZStream& stream, std::int64_t from_position,
                                            std::int64_t stream_size) {
  if (block_size_ < 1) throw EVEZException(10419, kBlockSizeText);
  const std::int64_t own_position = Position();
  const std::int64_t source_position = stream.Position();
  const std::int64_t source_size = stream.Size();
  // Refuse a range the source does not hold before this stream is emptied.
  if (from_position < 0 || stream_size < 0 || from_position > source_size ||
      stream_size > source_size - from_position)
    throw EVEZException(kErrorCopyRead, kReadText, {from_position, source_size, stream_size, 0});
  const std::int64_t end = platform::CheckedAdd(from_position, stream_size);
  if (stream.Seek(from_position, soBeginning) != from_position)
    throw EVEZException(kErrorCopyRead, kReadText, {source_position, source_size, stream_size, 0});
  SetSize(0);
  SetPosition(0);
  DoProgress(0);
  std::vector<std::uint8_t> buffer = CopyBuffer(block_size_, stream_size);
  std::int64_t current = from_position;
  while (current < end) {
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(block_size_, end - current));
    const std::int32_t read = stream.Read(buffer.data(), n);
    if (read != n)
      throw EVEZException(kErrorCopyRead, kReadText, {current, stream.Size(), n, read});
    const std::int64_t write_position = Position();
    const std::int32_t written = Write(buffer.data(), n);
    if (written != n) throw EVEZException(10149, kWriteText, {write_position, Size(), n, written});
    current += n;
    // The share of the whole source, not of the copied range.
    DoProgress(static_cast<double>(current) / static_cast<double>(source_size) * 100.0);
  }
  SetPosition(own_position);
  stream.SetPosition(source_position);
  DoProgress(100);
}

void CheckedStreamRead(void* buffer, std::int32_t count, TVEZStream& stream,
                       std::int32_t native_error_code) {
  const std::int64_t position = stream.Position();
  const std::int32_t read = stream.Read(buffer, count);
  if (read != count)
    throw EVEZException(native_error_code, kReadText, {position, stream.Size(), count, read});
}

void CheckedStreamWrite(const void* buffer, std::int32_t count, TVEZStream& stream,
                        std::int32_t native_error_code) {
  const std::int64_t position = stream.Position();
  const std::int32_t written = stream.Write(buffer, count);
  if (written != count)
    throw EVEZException(native_error_code, kWriteText, {position, stream.Size(), count, written});
}

void CheckedStreamSeek(TVEZStream& stream, std::int32_t native_error_code, std::int64_t position) {
  const std::int64_t before = stream.Position();
  try {
    stream.SetPosition(position);
  } catch (const platform::EIntOverflow&) {
    // A position past what the stream can hold is the caller's error too.
  }
  if (stream.Position() != position)
    throw EVEZException(native_error_code,
                        "Cannot set stream position to %d. Position = %d, Size = %d",
                        {position, before, stream.Size()});
}

}  // namespace vez

#include "dbengine/storage/VEZDefStreamIO.h"

#include <array>
#include <cstring>

#include "dbengine/foundation/VEZException.h"
#include "platform/core/CheckedMath.h"

namespace vez::defstream {

namespace {

template <typename T>
void WriteLE(TVEZStream& stream, T value, std::int32_t write_error) {
  std::array<std::uint8_t, sizeof(T)> bytes{};
  auto u = static_cast<std::make_unsigned_t<T>>(value);
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    bytes[i] = static_cast<std::uint8_t>(u >> (8 * i));
  }
  CheckedStreamWrite(bytes.data(), static_cast<std::int32_t>(sizeof(T)), stream, write_error);
}

template <typename T>
T ReadLE(TVEZStream& stream, std::int32_t read_error) {
  std::array<std::uint8_t, sizeof(T)> bytes{};
  CheckedStreamRead(bytes.data(), static_cast<std::int32_t>(sizeof(T)), stream, read_error);
  std::make_unsigned_t<T> u = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    u |= static_cast<std::make_unsigned_t<T>>(bytes[i]) << (8 * i);
  }
  return static_cast<T>(u);
}

}  // namespace

void WriteUInt8(TVEZStream& stream, std::uint8_t value, std::int32_t write_error) {
  CheckedStreamWrite(&value, 1, stream, write_error);
}

void WriteInt32(TVEZStream& stream, std::int32_t value, std::int32_t write_error) {
  WriteLE<std::int32_t>(stream, value, write_error);
}

void WriteInt64(TVEZStream& stream, std::int64_t value, std::int32_t write_error) {
  WriteLE<std::int64_t>(stream, value, write_error);
}

void WriteBytes(TVEZStream& stream, const void* data, std::size_t count, std::int32_t write_error) {
  if (count == 0) return;
  CheckedStreamWrite(data, platform::CheckedCast<std::int32_t>(count), stream, write_error);
}

void WriteBoolByte(TVEZStream& stream, TVEZBoolByte value, std::int32_t write_error) {
  WriteUInt8(stream, value.Value, write_error);
}

std::uint8_t ReadUInt8(TVEZStream& stream, std::int32_t read_error) {
  std::uint8_t value = 0;
  CheckedStreamRead(&value, 1, stream, read_error);
  return value;
}

std::int32_t ReadInt32(TVEZStream& stream, std::int32_t read_error) {
  return ReadLE<std::int32_t>(stream, read_error);
}

std::int64_t ReadInt64(TVEZStream& stream, std::int32_t read_error) {
  return ReadLE<std::int64_t>(stream, read_error);
}

void ReadBytes(TVEZStream& stream, void* data, std::size_t count, std::int32_t read_error) {
  if (count == 0) return;
  CheckedStreamRead(data, platform::CheckedCast<std::int32_t>(count), stream, read_error);
}

TVEZBoolByte ReadBoolByte(TVEZStream& stream, std::int32_t read_error) {
  return TVEZBoolByte::Raw(ReadUInt8(stream, read_error));
}

std::int64_t RemainingBytes(TVEZStream& stream) {
  const std::int64_t size = stream.Size();
  const std::int64_t position = stream.Position();
  return position < size ? size - position : 0;
}

void CheckNameLength(std::string_view name, std::size_t max_length, std::int32_t error,
                     std::string_view what) {
  if (name.size() <= max_length) return;
  throw EVEZException(error, std::string(what) + " '%s' is too long: %d characters, at most %d",
                      {std::string(name), static_cast<std::int64_t>(name.size()),
                       static_cast<std::int64_t>(max_length)});
}

void WriteShortString(TVEZStream& stream, std::string_view text, std::int32_t length_error,
                      std::int32_t chars_error) {
  CheckNameLength(text, kMaxShortStringLength, length_error, "Name");
  WriteUInt8(stream, static_cast<std::uint8_t>(text.size()), length_error);
  WriteBytes(stream, text.data(), text.size(), chars_error);
}

std::string ReadShortString(TVEZStream& stream, std::int32_t length_error,
                            std::int32_t chars_error) {
  const std::uint8_t length = ReadUInt8(stream, length_error);
  std::string text(length, '\0');
  ReadBytes(stream, text.data(), length, chars_error);
  return text;
}

void WriteSizedShortString(TVEZStream& stream, std::string_view text, bool length_is_int32,
                           std::int32_t length_error, std::int32_t data_error) {
  // L counts the length byte too, so a one-byte L leaves room for 254 characters.
  const std::size_t max_length = length_is_int32 ? kMaxShortStringLength : 254;
  CheckNameLength(text, max_length, length_error, "Name");
  const std::size_t size = text.size() + 1;
  if (length_is_int32) {
    WriteInt32(stream, static_cast<std::int32_t>(size), length_error);
  } else {
    WriteUInt8(stream, static_cast<std::uint8_t>(size), length_error);
  }
  std::array<std::uint8_t, kMaxShortStringLength + 1> image{};
  image[0] = static_cast<std::uint8_t>(text.size());
  if (!text.empty()) std::memcpy(image.data() + 1, text.data(), text.size());
  WriteBytes(stream, image.data(), size, data_error);
}

std::string ReadSizedShortString(TVEZStream& stream, bool length_is_int32,
                                 std::int32_t length_error, std::int32_t data_error) {
  const std::int32_t size = length_is_int32
                                ? ReadInt32(stream, length_error)
                                : static_cast<std::int32_t>(ReadUInt8(stream, length_error));
  if (size < 1 || size > static_cast<std::int32_t>(kMaxShortStringLength + 1)) {
    throw EVEZException(length_error, "Invalid name size in stream: %d", {size});
  }
  std::array<std::uint8_t, kMaxShortStringLength + 1> image{};
  ReadBytes(stream, image.data(), static_cast<std::size_t>(size), data_error);
  const std::uint8_t length = image[0];
  if (length > size - 1) {
    throw EVEZException(data_error, "Invalid name in stream: length %d in %d bytes",
                        {static_cast<std::int32_t>(length), size});
  }
  return std::string(reinterpret_cast<const char*>(image.data()) + 1, length);
}

}  // namespace vez::defstream

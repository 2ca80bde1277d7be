// Little-endian readers and writers for the stream forms of schema
// definitions. Every piece goes through the checked stream routines with the
// caller's native error number, so a short read or write names the piece.
// Names are short strings: a length (one byte or Int32, depending on the
// form) and at most 255 single-byte characters.
//
// Thread safety: stateless; the stream belongs to the caller.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "dbengine/foundation/VEZStream.h"
#include "dbengine/storage/VEZMetaObjectDef.h"

namespace vez::defstream {

// Longest name a short string holds.
inline constexpr std::size_t kMaxShortStringLength = 255;

// The name as a short string stores it: its first kMaxShortStringLength
// characters.
inline std::string CutToShortString(std::string_view text) {
  return std::string(text.substr(0, kMaxShortStringLength));
}

void WriteUInt8(TVEZStream& stream, std::uint8_t value, std::int32_t write_error);
void WriteInt32(TVEZStream& stream, std::int32_t value, std::int32_t write_error);
void WriteInt64(TVEZStream& stream, std::int64_t value, std::int32_t write_error);
void WriteBytes(TVEZStream& stream, const void* data, std::size_t count, std::int32_t write_error);
void WriteBoolByte(TVEZStream& stream, TVEZBoolByte value, std::int32_t write_error);

std::uint8_t ReadUInt8(TVEZStream& stream, std::int32_t read_error);
std::int32_t ReadInt32(TVEZStream& stream, std::int32_t read_error);
std::int64_t ReadInt64(TVEZStream& stream, std::int32_t read_error);
void ReadBytes(TVEZStream& stream, void* data, std::size_t count, std::int32_t read_error);
// The byte as it stands; any non-zero byte reads as true.
TVEZBoolByte ReadBoolByte(TVEZStream& stream, std::int32_t read_error);

// Bytes left between the stream's position and its end (0 when past it).
std::int64_t RemainingBytes(TVEZStream& stream);

// Raises `error` ("<what> '<name>' is too long: %d characters, at most %d")
// when name is longer than max_length. Checked before anything is written,
// so a refused def leaves no partial piece behind it.
void CheckNameLength(std::string_view name, std::size_t max_length, std::int32_t error,
                     std::string_view what);

// A short string in the form "length byte, characters".
void WriteShortString(TVEZStream& stream, std::string_view text, std::int32_t length_error,
                      std::int32_t chars_error);
std::string ReadShortString(TVEZStream& stream, std::int32_t length_error,
                            std::int32_t chars_error);

// A short string as it lies in memory, preceded by its size L = length + 1:
// L (one byte when length_is_int32 is false, else Int32), then the length
// byte and the characters. Reading checks L (1 to 256, within the remaining
// data) and that the inner length byte stays inside the L bytes.
void WriteSizedShortString(TVEZStream& stream, std::string_view text, bool length_is_int32,
                           std::int32_t length_error, std::int32_t data_error);
std::string ReadSizedShortString(TVEZStream& stream, bool length_is_int32,
                                 std::int32_t length_error, std::int32_t data_error);

}  // namespace vez::defstream

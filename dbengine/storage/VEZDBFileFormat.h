// The fixed header area at the start of a database file and the helpers every
// user of the file format shares. Records are encoded and decoded field by
// field, little-endian and packed; nothing casts file bytes to a struct.
//
// File layout (offsets relative to the header offset H, 0 for files this
// engine creates; a header found further into a file is searched for):
//   H        database header  76 bytes  TVEZDBHeader
//   H + 76   crypto header   280 bytes  TVEZCryptoHeader
//   H + 356  lock-byte area   20 bytes  TVEZLockedBytes (targets of file locks)
//   H + 376  last object id    4 bytes  Int32
//   H + 380  page n at H + 380 + n * PageSize
//
// Thread safety: plain values and stateless functions.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Durability levels, for users that knew them from this header.
#include "dbengine/storage/VEZDurability.h"

namespace vez {

inline constexpr char kDBSignature[] = "VOZ0ERIZADORAVOV";
inline constexpr std::int32_t kDBSignatureSize = 16;
inline constexpr std::int16_t kDBHeaderSize = 76;
inline constexpr std::int16_t kCryptoHeaderSize = 280;
inline constexpr std::int16_t kLockedByteSize = 20;
inline constexpr double kDBVersion = 7.5;
// Files below this version are reported as needing repair.
inline constexpr double kDBLowestSoundVersion = 2.99;
// WriteChangesState values.
inline constexpr std::uint8_t kWriteChangesInProgress = 1;
inline constexpr std::uint8_t kWriteChangesDone = 2;

// The header's commit counter is compared only for equality: it wraps.
inline std::int32_t NextHeaderState(std::int32_t s) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(s) + 1u);
}

struct TVEZDBHeader {
  static constexpr std::int32_t kSize = kDBHeaderSize;
  // Where State (Int32) and WriteChangesState (one byte) lie in the record.
  static constexpr std::int32_t kStateOffset = 38;
  static constexpr std::int32_t kWriteChangesStateOffset = 42;
  std::array<char, 16> Signature{};
  std::int16_t HeaderSize = 0;
  double Version = 0;
  std::uint16_t PageSize = 0;
  std::uint16_t PageCountInExtent = 0;
  std::int32_t TotalPageCount = 0;
  std::int32_t LastUsedPageNo = 0;
  std::int32_t State = 0;
  std::uint8_t WriteChangesState = 0;
  std::uint8_t Encrypted = 0;
  std::array<std::uint8_t, 32> Reserved{};

  // The values of a new file (no page, not encrypted, page sizes 0).
  static TVEZDBHeader Initial();
  bool HasSignature() const;
  std::string SignatureText() const { return std::string(Signature.data(), Signature.size()); }
  bool IsEncrypted() const { return Encrypted != 0; }

  void Encode(std::uint8_t* p) const;
  static TVEZDBHeader Decode(const std::uint8_t* p);
};

struct TVEZCryptoHeader {
  static constexpr std::int32_t kSize = kCryptoHeaderSize;
  std::int16_t CryptoHeaderSize = kCryptoHeaderSize;
  std::uint8_t CryptoAlgorithm = 0;
  std::uint8_t CryptoMode = 0;
  std::array<std::uint8_t, 256> ControlBlock{};
  std::uint32_t ControlBlockCRC = 0;
  std::array<std::uint8_t, 16> Reserved{};

  void Encode(std::uint8_t* p) const;
  static TVEZCryptoHeader Decode(const std::uint8_t* p);
};

struct TVEZLockedBytes {
  static constexpr std::int32_t kSize = kLockedByteSize;
  // Offsets of the lock targets inside the area.
  static constexpr std::int32_t kFSMByte = 2;
  static constexpr std::int32_t kTablesByte = 3;
  static constexpr std::int32_t kDBHeaderByte = 4;
  std::int16_t LockedByteSize = kLockedByteSize;

  void Encode(std::uint8_t* p) const;
  static TVEZLockedBytes Decode(const std::uint8_t* p);
};

// Name of a stored page type. Raises 30382 "Unknown Page Type: (%d)" above 12.
std::string GetPageTypeName(std::uint16_t page_type);

// Raises native_error with both type names when found differs from expected
// (30382 when found is unknown).
void CheckPageType(std::uint16_t found_type, std::uint16_t expected_type,
                   std::int32_t native_error);

// Calls f up to try_count times, sleeping delay_ms through the installed clock
// after every failure (also the last); true as soon as f answers true.
template <typename F>
bool RetryCall(std::int32_t try_count, std::uint32_t delay_ms, F&& f);

}  // namespace vez

#include "platform/core/Clock.h"

template <typename F>
bool vez::RetryCall(std::int32_t try_count, std::uint32_t delay_ms, F&& f) {
  for (std::int32_t i = 0; i < try_count; ++i) {
    if (f()) return true;
    platform::Sleep(delay_ms);
  }
  return false;
}

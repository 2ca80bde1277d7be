// The 40-byte header at the start of every stored page. Page buffers come from the guarded
// allocator and are not aligned, so every field is copied in and out with
// memcpy; nothing casts page bytes to a struct.
//
// Layout (offsets in bytes, little-endian, packed):
//   0 Signature "VEZP" | 4 State Int32 | 8 PageType UInt16 | 10 NextPageNo Int32 |
//   14 CRC32 UInt32 | 18 CRCType | 19 HashType | 20 Cipherype | 21 MACType (bytes) |
//   22 ObjectID Int32 | 26 RecordID (PageNo Int32, PageItemNo UInt16) | 32 reserved 8
//
// Thread safety: stateless functions over caller-owned bytes.
#pragma once

#include <cstdint>
#include <cstring>

#include "dbengine/foundation/VEZTypes.h"

namespace vez {

// Page types as stored in the header.
enum : std::uint16_t {
  kPageTypeUnknown = 0,
  kPageTypeEmpty = 1,
  kPageTypeEAM = 2,
  kPageTypePFS = 3,
  kPageTypeFileSystemDirectory = 4,
  kPageTypeActiveSessionList = 5,
  kPageTypeTableList = 6,
  kPageTypeTableLocks = 7,
  kPageTypeTableMetaData = 8,
  kPageTypeTableMostUpdated = 9,
  kPageTypeTableRecord = 10,
  kPageTypeTableBlob = 11,
  kPageTypeTableIndex = 12,
  // Asks GetPage to accept whatever type is stored.
  kPageTypeAny = 255,
};

struct TVEZDiskPageHeaderLayout {
  static constexpr std::int32_t kSize = 40;
  static constexpr std::int32_t kSignature = 0;
  static constexpr std::int32_t kState = 4;
  static constexpr std::int32_t kPageType = 8;
  static constexpr std::int32_t kNextPageNo = 10;
  static constexpr std::int32_t kCRC32 = 14;
  static constexpr std::int32_t kCRCType = 18;
  static constexpr std::int32_t kHashType = 19;
  static constexpr std::int32_t kCipherType = 20;
  static constexpr std::int32_t kMACType = 21;
  static constexpr std::int32_t kObjectID = 22;
  static constexpr std::int32_t kRecordIDPageNo = 26;
  static constexpr std::int32_t kRecordIDPageItemNo = 30;
  static constexpr std::int32_t kReserved = 32;
};

// A view of the header bytes at the start of a page buffer (not owned).
class TVEZDiskPageHeaderView {
 public:
  using L = TVEZDiskPageHeaderLayout;
  explicit TVEZDiskPageHeaderView(std::uint8_t* header) : p_(header) {}

  // Signature "VEZP", State 0, type 0, no next page, no CRC or cipher, object -1,
  // record (-1, 0), reserved bytes zero.
  void Init() {
    std::memset(p_, 0, L::kSize);
    std::memcpy(p_ + L::kSignature, "VEZP", 4);
    SetNextPageNo(-1);
    SetObjectID(-1);
    PutLE<std::int32_t>(p_ + L::kRecordIDPageNo, -1);
  }

  bool HasSignature() const { return std::memcmp(p_ + L::kSignature, "VEZP", 4) == 0; }
  std::int32_t State() const { return GetLE<std::int32_t>(p_ + L::kState); }
  void SetState(std::int32_t v) { PutLE(p_ + L::kState, v); }
  std::uint16_t PageType() const { return GetLE<std::uint16_t>(p_ + L::kPageType); }
  void SetPageType(std::uint16_t v) { PutLE(p_ + L::kPageType, v); }
  std::int32_t NextPageNo() const { return GetLE<std::int32_t>(p_ + L::kNextPageNo); }
  void SetNextPageNo(std::int32_t v) { PutLE(p_ + L::kNextPageNo, v); }
  std::uint32_t CRC32() const { return GetLE<std::uint32_t>(p_ + L::kCRC32); }
  void SetCRC32(std::uint32_t v) { PutLE(p_ + L::kCRC32, v); }
  std::uint8_t CipherType() const { return p_[L::kCipherType]; }
  void SetCipherType(std::uint8_t v) { p_[L::kCipherType] = v; }
  std::int32_t ObjectID() const { return GetLE<std::int32_t>(p_ + L::kObjectID); }
  void SetObjectID(std::int32_t v) { PutLE(p_ + L::kObjectID, v); }
  std::int32_t RecordIDPageNo() const { return GetLE<std::int32_t>(p_ + L::kRecordIDPageNo); }
  std::uint16_t RecordIDPageItemNo() const {
    return GetLE<std::uint16_t>(p_ + L::kRecordIDPageItemNo);
  }

 private:
  std::uint8_t* p_;
};

}  // namespace vez

// Compression settings of BLOB columns and internal files, the BLOB descriptor
// and the block header of a compressed BLOB. Stand-in until the engine
// vocabulary header carries these types; the ordinals and layouts are stored.
#pragma once

#include <cstdint>
#include <cstring>

namespace vez {

enum TVEZCompressionAlgorithm : std::uint8_t { acaNone = 0, acaZLIB = 1, acaBZIP = 2, acaPPM = 3 };

enum TVEZCompressionLevel : std::uint8_t {
  aclNone = 0,
  aclFastest = 1,
  aclNormal = 2,
  aclMaximum = 3
};

struct TVEZCompression {
  TVEZCompressionAlgorithm CompressionAlgorithm = acaNone;
  std::uint8_t CompressionMode = 0;
  TVEZCompressionLevel CompressionLevel = aclNone;
};

// Layout: 0 Int32 BlockSize | 4 Int64 NumBlocks | 12 Int64 UncompressedSize |
// 20 Int64 StartPosition | 28 Byte CompressionAlgorithm | 29 Byte
// CompressionMode | 30 2 bytes Reserved.
struct TVEZBLOBDescriptor {
  static constexpr int kSize = 32;
  std::int32_t BlockSize = 0;
  std::int64_t NumBlocks = 0;
  std::int64_t UncompressedSize = 0;
  std::int64_t StartPosition = 0;
  std::uint8_t CompressionAlgorithm = 0;
  std::uint8_t CompressionMode = 0;
  std::uint16_t Reserved = 0;

  void Encode(void* dst) const {
    auto* p = static_cast<std::uint8_t*>(dst);
    std::memcpy(p, &BlockSize, 4);
    std::memcpy(p + 4, &NumBlocks, 8);
    std::memcpy(p + 12, &UncompressedSize, 8);
    std::memcpy(p + 20, &StartPosition, 8);
    p[28] = CompressionAlgorithm;
    p[29] = CompressionMode;
    std::memcpy(p + 30, &Reserved, 2);
  }
  static TVEZBLOBDescriptor Decode(const void* src) {
    const auto* p = static_cast<const std::uint8_t*>(src);
    TVEZBLOBDescriptor d;
    std::memcpy(&d.BlockSize, p, 4);
    std::memcpy(&d.NumBlocks, p + 4, 8);
    std::memcpy(&d.UncompressedSize, p + 12, 8);
    std::memcpy(&d.StartPosition, p + 20, 8);
    d.CompressionAlgorithm = p[28];
    d.CompressionMode = p[29];
    std::memcpy(&d.Reserved, p + 30, 2);
    return d;
  }
  friend bool operator==(const TVEZBLOBDescriptor&, const TVEZBLOBDescriptor&) = default;
};

// Layout: 0 Int32 CompressedSize | 4 Int32 UncompressedSize | 8 UInt32 Crc32 |
// 12 Int64 OffsetToNextHeader.
struct TVEZCompressedStreamBlockHeader {
  static constexpr int kSize = 20;
  std::int32_t CompressedSize = 0;
  std::int32_t UncompressedSize = 0;
  std::uint32_t Crc32 = 0;
  std::int64_t OffsetToNextHeader = 0;

  void Encode(void* dst) const {
    auto* p = static_cast<std::uint8_t*>(dst);
    std::memcpy(p, &CompressedSize, 4);
    std::memcpy(p + 4, &UncompressedSize, 4);
    std::memcpy(p + 8, &Crc32, 4);
    std::memcpy(p + 12, &OffsetToNextHeader, 8);
  }
  static TVEZCompressedStreamBlockHeader Decode(const void* src) {
    const auto* p = static_cast<const std::uint8_t*>(src);
    TVEZCompressedStreamBlockHeader h;
    std::memcpy(&h.CompressedSize, p, 4);
    std::memcpy(&h.UncompressedSize, p + 4, 4);
    std::memcpy(&h.Crc32, p + 8, 4);
    std::memcpy(&h.OffsetToNextHeader, p + 12, 8);
    return h;
  }
  friend bool operator==(const TVEZCompressedStreamBlockHeader&,
                         const TVEZCompressedStreamBlockHeader&) = default;
};

}  // namespace vez

// Compression settings of BLOB columns, cursors and internal files. The
// ordinals are stored (BLOB descriptors, internal file heads): append, never
// reorder.
#pragma once

#include <cstdint>

namespace vez {

enum TVEZCompressionAlgorithm : std::uint8_t { acaNone = 0, acaZLIB = 1, acaBZIP = 2, acaPPM = 3 };

enum TVEZCompressionLevel : std::uint8_t {
  aclNone = 0,
  aclFastest = 1,
  aclNormal = 2,
  aclMaximum = 3
};

// How a column or cursor compresses its BLOBs. Layout (3 bytes): 0 Byte
// CompressionAlgorithm | 1 Byte CompressionMode (0 to 9) | 2 Byte
// CompressionLevel (carried, read by no compression routine).
struct TVEZCompression {
  static constexpr int kSize = 3;
  TVEZCompressionAlgorithm CompressionAlgorithm = acaNone;
  std::uint8_t CompressionMode = 0;
  TVEZCompressionLevel CompressionLevel = aclNone;

  void Encode(void* dst) const {
    auto* p = static_cast<std::uint8_t*>(dst);
    p[0] = CompressionAlgorithm;
    p[1] = CompressionMode;
    p[2] = CompressionLevel;
  }
  // Stored bytes are taken as they are: an unknown algorithm is refused later
  // by the compression dispatcher.
  static TVEZCompression Decode(const void* src) {
    const auto* p = static_cast<const std::uint8_t*>(src);
    return {static_cast<TVEZCompressionAlgorithm>(p[0]), p[1],
            static_cast<TVEZCompressionLevel>(p[2])};
  }
  friend bool operator==(const TVEZCompression&, const TVEZCompression&) = default;
};

}  // namespace vez

// Compression settings of BLOB columns and internal files. Stand-in until the
// engine vocabulary header carries these types; the ordinals are stored.
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

struct TVEZCompression {
  TVEZCompressionAlgorithm CompressionAlgorithm = acaNone;
  std::uint8_t CompressionMode = 0;
  TVEZCompressionLevel CompressionLevel = aclNone;
};

}  // namespace vez

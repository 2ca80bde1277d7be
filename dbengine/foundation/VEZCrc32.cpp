#include "dbengine/foundation/VEZCrc32.h"

#include <zlib.h>

namespace vez {

std::uint32_t UpdateCrc32(std::uint32_t crc, const void* buffer, std::uint32_t length) {
  if (length == 0) return crc;
  // zlib's crc32 inverts on entry and exit; the engine's register does not.
  return static_cast<std::uint32_t>(
             crc32(crc ^ 0xFFFFFFFFu, static_cast<const Bytef*>(buffer), length)) ^
         0xFFFFFFFFu;
}

}  // namespace vez

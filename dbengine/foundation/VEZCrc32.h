// The engine's CRC-32 (the zlib polynomial), as stored in compressed BLOB
// block headers and other checksummed forms.
//
// Thread safety: a pure function.
#pragma once

#include <cstdint>

namespace vez {

// The CRC register after feeding length bytes of buffer, without the
// customary inversions: UpdateCrc32(0, "abc", 3) == 0xCA6598D0. A length of 0
// leaves the register as it is.
std::uint32_t UpdateCrc32(std::uint32_t crc, const void* buffer, std::uint32_t length);

}  // namespace vez

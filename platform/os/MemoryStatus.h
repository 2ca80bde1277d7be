// What the operating system reports about physical memory.
#pragma once

#include <cstdint>

namespace platform {

// Bytes of physical memory currently available to new allocations (free plus
// reclaimable cache). A 64-bit figure: callers that derive 32-bit limits from
// it must clamp.
std::uint64_t FreePhysicalMemory();

}  // namespace platform

// Test helper for damaged input: a cap on the engine's allocator, and which
// engine errors mean an allocation was refused.
#pragma once

#include <cstdint>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"

namespace vez::test {

// Caps the engine's allocator near what is in use, so that an allocation
// sized by a damaged count or size fails with the memory error, which the
// test tells from the read errors.
class AllocationCap {
 public:
  AllocationCap() : before_(MemoryManager().MaxMemorySize()) {
    MemoryManager().SetMaxMemorySize(MemoryManager().TotalMemAllocated() + (1 << 20));
  }
  ~AllocationCap() { MemoryManager().SetMaxMemorySize(before_); }
  AllocationCap(const AllocationCap&) = delete;
  AllocationCap& operator=(const AllocationCap&) = delete;

 private:
  std::int64_t before_;
};

inline bool IsMemoryError(const EVEZException& e) {
  return e.NativeError() == 30004 || e.NativeError() == 30015 || e.NativeError() == 30286;
}

}  // namespace vez::test

// Small pieces shared by the typed value's sources: a MemoryManager block
// released unless handed over, and unaligned loads of raw values (engine
// buffers hold values at any byte address).
//
// Thread safety: plain helpers; a TVEZVariantBlock belongs to one caller.
#pragma once

#include <cstdint>
#include <cstring>

#include "dbengine/foundation/VEZMemoryManager.h"

namespace vez {

// A block from MemoryManager, released when the holder goes unless Release()
// handed it over.
class TVEZVariantBlock {
 public:
  TVEZVariantBlock() = default;
  TVEZVariantBlock(const TVEZVariantBlock&) = delete;
  TVEZVariantBlock& operator=(const TVEZVariantBlock&) = delete;
  ~TVEZVariantBlock() {
    if (p == nullptr) return;
    try {
      MemoryManager().FreeMem(p);
    } catch (...) {
      // Never raise from a destructor; a damaged block is already reported
      // by whoever damaged it.
    }
  }
  void* Release() {
    void* r = p;
    p = nullptr;
    return r;
  }
  void* p = nullptr;
  std::int32_t size = 0;
};

template <typename T>
T LoadRawValue(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The 10-byte x87 form into a long double.
inline long double LoadRawExtended(const void* p) {
  long double v = 0;
  std::memcpy(&v, p, 10);
  return v;
}

}  // namespace vez

// Test helper: which engine error a call raises.
#pragma once

#include <cstdint>
#include <functional>

#include "dbengine/foundation/VEZException.h"

namespace vez::test {

// The native error number of the EVEZException that f raises; 0 when f
// returns normally. Other exceptions pass through.
inline std::int32_t NativeErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EVEZException& e) {
    return e.NativeError();
  }
  return 0;
}

}  // namespace vez::test

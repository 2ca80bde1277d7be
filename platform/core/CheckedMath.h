// Overflow-checked integer arithmetic for sizes, counters and offsets. Each
// helper raises EIntOverflow instead of wrapping. The typed value's own
// arithmetic wraps on purpose and does not use these.
#pragma once

#include <concepts>
#include <limits>

#include "platform/core/Exceptions.h"

namespace platform {

template <std::integral T>
T CheckedAdd(T a, T b) {
  T r;
  if (__builtin_add_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}

template <std::integral T>
T CheckedSub(T a, T b) {
  T r;
  if (__builtin_sub_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}

template <std::integral T>
T CheckedMul(T a, T b) {
  T r;
  if (__builtin_mul_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}

// Narrows From to To, raising EIntOverflow when the value does not fit.
template <std::integral To, std::integral From>
To CheckedCast(From v) {
  To r;
  if (__builtin_add_overflow(v, From{0}, &r)) throw EIntOverflow();
  return r;
}

}  // namespace platform

// Change counters that are only ever compared for equality: the table state
// (records added, updated or deleted), a page's state (raised at every write)
// and the database header's state (raised at every commit). Readers only ask
// "has it changed since I looked?", so running past the largest Int32 must not
// make a table or a file unusable: these counters wrap to 0 instead of
// raising. Sizes, offsets and loop counters are not change counters and stay
// overflow-checked.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <limits>

namespace vez {

// Written into the state of a freed page, and taken as "unknown" for a page
// whose state cannot be read; a live page never carries it.
inline constexpr std::int32_t kFreedPageState = 0x7FFFFFFF;
// Written page states run 0 .. kLastPageState, then 0 again.
inline constexpr std::int32_t kLastPageState = 0x7FFFFFFC;

// The next value of a table or header state: one more, 0 after the largest
// Int32.
constexpr std::int32_t NextChangeCounter(std::int32_t value) {
  return value == std::numeric_limits<std::int32_t>::max() ? 0 : value + 1;
}

// The next state of a written page: one more, 0 after kLastPageState, so the
// freed-page marker (and the value reserved beside it) is never written for
// a live page; a page that carried the marker starts again at 0.
constexpr std::int32_t NextPageState(std::int32_t value) {
  return value >= kLastPageState ? 0 : value + 1;
}

}  // namespace vez

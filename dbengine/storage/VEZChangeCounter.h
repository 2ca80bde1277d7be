// Change counters that are only ever compared for equality: the table state
// (records added, updated or deleted), the table state an index def keeps, and
// the database header's state (raised at every commit). Readers only ask "has
// it changed since I looked?", so running past the largest Int32 must not make
// a table or a file unusable: these counters wrap to 0 instead of raising.
// (Page states wrap too, skipping the freed-page marker: NextPageState in
// VEZPageManager.h.) Sizes, offsets and loop counters are not change counters
// and stay overflow-checked.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <limits>

namespace vez {

// The next value of a table or header state: one more, 0 after the largest
// Int32.
constexpr std::int32_t NextChangeCounter(std::int32_t value) {
  return value == std::numeric_limits<std::int32_t>::max() ? 0 : value + 1;
}

}  // namespace vez

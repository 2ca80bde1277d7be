// AssignFieldValue: copies one dataset field's value into another field,
// possibly of another dataset, by the two fields' types: BLOB to BLOB through
// streams, wide text into and out of BLOBs as UTF-16 bytes, large integers
// without passing through a 32-bit value where the destination can hold 64
// bits, otherwise the destination field's own assignment. Table copies,
// batch moves and INSERT ... SELECT use it.
//
// NULL copies as NULL whatever the types (the destination is cleared).
// Errors of the fields and their streams pass through unchanged; the
// destination keeps its value when a conversion fails. Streams opened here
// are closed before return, also on failure.
//
// Thread safety: as the two datasets'.
#pragma once

#include "platform/dataset/Field.h"

namespace vez {

// REQUIRES: Dest's dataset is in a write state (edit or insert).
void AssignFieldValue(const platform::Field& Source, platform::Field& Dest);

}  // namespace vez

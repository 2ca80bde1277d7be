// A record buffer of a cursor that lives for one scope: the table data's
// record walks park the cursor on it while they move and give it back through
// the cursor at scope end, whatever happens.
#pragma once

#include <cstdint>

#include "dbengine/storage/VEZCursor.h"

namespace vez {

class TVEZScratchRecordBuffer {
 public:
  explicit TVEZScratchRecordBuffer(TVEZCursor& cursor)
      : FCursor(cursor), FBuffer(cursor.AllocateRecordBuffer()) {}
  ~TVEZScratchRecordBuffer() {
    try {
      FCursor.FreeRecordBuffer(FBuffer);
    } catch (...) {
      // A damaged block is reported by the allocator; a release cannot pass it on.
    }
  }
  TVEZScratchRecordBuffer(const TVEZScratchRecordBuffer&) = delete;
  TVEZScratchRecordBuffer& operator=(const TVEZScratchRecordBuffer&) = delete;
  std::uint8_t* Get() const { return FBuffer; }

 private:
  TVEZCursor& FCursor;
  std::uint8_t* FBuffer;
};

}  // namespace vez

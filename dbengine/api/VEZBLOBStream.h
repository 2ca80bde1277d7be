// TVEZBLOBStream: the stream a dataset hands out for a BLOB field of its
// active record. It reads and writes through the cursor's BLOB stream
// (owned by the cursor) and, when destroyed, has the dataset close the
// field's BLOB, which stores a written value into the record image; a
// written stream then marks the field modified and sends its field-change
// notice.
//
// Construction raises when the stream cannot be had (read-only dataset for
// a writing mode, 10106; the cursor refused it, see
// TVEZDataSet::CreateBlobStream); a constructed stream always has the
// cursor's stream behind it.
//
// Lifetime: the stream must be destroyed before its dataset closes or
// moves to another record.
//
// Thread safety: used by its dataset's thread.
#pragma once

#include <cstdint>

#include "dbengine/foundation/VEZStream.h"
#include "platform/dataset/DataSetTypes.h"

namespace platform {
class Field;
}

namespace vez {

class TVEZDataSet;

class TVEZBLOBStream : public TVEZStream {
 public:
  // REQUIRES: field belongs to a TVEZDataSet. bmWrite empties the value.
  TVEZBLOBStream(platform::Field& field, platform::TBlobStreamMode mode);
  ~TVEZBLOBStream() override;

  std::int64_t GetSize() override;
  void SetSize(std::int64_t new_size) override;
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  // Size := position.
  void Truncate();
  // The compressed size of the value held by the cursor's stream.
  std::int64_t CompressedSize();
  // The cursor's stream (owned by the cursor); null once given back.
  TVEZStream* BLOBStream() const { return FBLOBStream; }

 private:
  platform::Field& FField;
  TVEZDataSet& FDataSet;
  TVEZStream* FBLOBStream = nullptr;
};

}  // namespace vez

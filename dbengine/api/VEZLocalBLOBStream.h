// TVEZLocalBLOBStream: the stream a cursor gets for one BLOB field of its
// current record. The table engine makes the stream that holds the BLOB's
// data (a compressed BLOB stream over a temporary stream) and hands both to
// this object, which owns them and passes every read, write, seek and size
// change on to the compressed one. A stream opened for reading refuses
// writes (10115) and size changes (10116) and changes nothing.
//
// Modified is set by every write and size change: the table data reads it
// when the cursor closes the stream to decide whether the field changed, so
// a BLOB cut short by a size change is stored as well.
//
// Thread safety: used by one thread at a time (its cursor's).
#pragma once

#include <cstdint>
#include <memory>

#include "dbengine/storage/VEZSessionLayerServices.h"

namespace vez {

class TVEZLocalBLOBStream : public TVEZBaseBLOBStream {
 public:
  // Takes temporary_stream (the compressed stream) and underlying_stream
  // (what it is built on); the position is 0.
  TVEZLocalBLOBStream(std::unique_ptr<TVEZStream> temporary_stream,
                      std::unique_ptr<TVEZStream> underlying_stream, TVEZCursor* cursor,
                      TVEZBLOBOpenMode open_mode, std::int32_t field_no);
  // Frees the compressed stream, then the stream under it.
  ~TVEZLocalBLOBStream() override;

  std::int64_t GetSize() override;
  void SetSize(std::int64_t new_size) override;
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

  TVEZStream* TemporaryStream() override { return FTemporaryStream.get(); }
  TVEZCursor* Cursor() const override { return FCursor; }
  TVEZBLOBOpenMode OpenMode() const override { return FOpenMode; }
  std::int32_t FieldNo() const override { return FFieldNo; }
  // The dataset's BLOB stream reading and writing through this one (not
  // owned), or null.
  TVEZStream* UserBLOBStream() const { return FUserBLOBStream; }
  void SetUserBLOBStream(TVEZStream* stream) { FUserBLOBStream = stream; }

 private:
  std::unique_ptr<TVEZStream> FUnderlyingStream;
  std::unique_ptr<TVEZStream> FTemporaryStream;
  TVEZStream* FUserBLOBStream = nullptr;
  TVEZCursor* FCursor;
  TVEZBLOBOpenMode FOpenMode;
  std::int32_t FFieldNo;
};

}  // namespace vez

#include "dbengine/api/VEZLocalBLOBStream.h"

#include <cassert>
#include <utility>

#include "dbengine/foundation/VEZException.h"

namespace vez {

TVEZLocalBLOBStream::TVEZLocalBLOBStream(std::unique_ptr<TVEZStream> temporary_stream,
                                         std::unique_ptr<TVEZStream> underlying_stream,
                                         TVEZCursor* cursor, TVEZBLOBOpenMode open_mode,
                                         std::int32_t field_no)
    : FUnderlyingStream(std::move(underlying_stream)),
      FTemporaryStream(std::move(temporary_stream)),
      FCursor(cursor),
      FOpenMode(open_mode),
      FFieldNo(field_no) {
  assert(FTemporaryStream != nullptr);
  FTemporaryStream->SetPosition(0);
}

TVEZLocalBLOBStream::~TVEZLocalBLOBStream() {
  // The compressed stream refers to the one under it: it goes first.
  FTemporaryStream.reset();
  FUnderlyingStream.reset();
}

std::int64_t TVEZLocalBLOBStream::GetSize() {
  return FTemporaryStream->Size();
}

void TVEZLocalBLOBStream::SetSize(std::int64_t new_size) {
  if (FOpenMode == bomRead) throw EVEZException(10116, "Cannot write to read only stream");
  // Marked first: a change that fails halfway may have changed the data.
  SetModified(true);
  FTemporaryStream->SetSize(new_size);
}

std::int32_t TVEZLocalBLOBStream::Read(void* buffer, std::int32_t count) {
  return FTemporaryStream->Read(buffer, count);
}

std::int32_t TVEZLocalBLOBStream::Write(const void* buffer, std::int32_t count) {
  if (FOpenMode == bomRead) throw EVEZException(10115, "Cannot write to read only stream");
  if (count > 0) SetModified(true);
  return FTemporaryStream->Write(buffer, count);
}

std::int64_t TVEZLocalBLOBStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  return FTemporaryStream->Seek(offset, origin);
}

}  // namespace vez

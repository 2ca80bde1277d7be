// The stream form of a typed value: type byte, null byte, and for a value
// that is not NULL an Int32 size and the data. Schema definitions carry their
// default, minimum and maximum values in it, so a damaged stream must be
// refused here rather than trusted.
#include <cstring>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/foundation/VEZStream.h"
#include "dbengine/foundation/VEZVariant.h"

namespace vez {

namespace {

constexpr std::int32_t kWriteType = 10179, kWriteNull = 10180, kWriteSize = 10181,
                       kWriteData = 10182;
constexpr std::int32_t kReadType = 10183, kReadNull = 10184, kReadSize = 10185, kReadData = 10186;

[[noreturn]] void RaiseCorrupt(std::int32_t code, const char* what) {
  throw EVEZException(code, "Invalid typed value in stream: %s", {what});
}

bool HasFixedSize(TVEZBaseFieldType t) {
  return (t >= bftSignedInt8 && t <= bftDateTime) || t == bftLogical || t == bftCurrency;
}

// The data read for a value of type t must be a valid storage form.
void CheckStorageForm(TVEZBaseFieldType t, const std::uint8_t* data, std::int32_t size) {
  if (t == bftChar || t == bftVarchar) {
    if (std::memchr(data, 0, static_cast<std::size_t>(size)) == nullptr)
      RaiseCorrupt(kReadData, "string without terminator");
  } else if (t == bftWideChar || t == bftWideVarchar) {
    bool terminated = false;
    for (std::int32_t i = 0; i + 1 < size && !terminated; i += 2)
      terminated = data[i] == 0 && data[i + 1] == 0;
    if (!terminated) RaiseCorrupt(kReadData, "string without terminator");
  }
}

}  // namespace

void TVEZVariant::SaveToStream(TVEZStream& Stream) const {
  const std::uint8_t type = FDataType;
  const bool is_null = GetIsNull();
  const std::uint8_t null_flag = is_null ? 255 : 0;
  CheckedStreamWrite(&type, 1, Stream, kWriteType);
  CheckedStreamWrite(&null_flag, 1, Stream, kWriteNull);
  if (is_null) return;
  std::uint8_t size[4];
  PutLE<std::int32_t>(size, FDataSize);
  CheckedStreamWrite(size, 4, Stream, kWriteSize);
  CheckedStreamWrite(FPData, FDataSize, Stream, kWriteData);
}

void TVEZVariant::LoadFromStream(TVEZStream& Stream) {
  Clear(bftUnknown);
  std::uint8_t type = 0, null_flag = 0;
  CheckedStreamRead(&type, 1, Stream, kReadType);
  if (type > bftBFile) RaiseCorrupt(kReadType, "unknown data type");
  const auto data_type = static_cast<TVEZBaseFieldType>(type);
  CheckedStreamRead(&null_flag, 1, Stream, kReadNull);
  if (null_flag != 0) {
    FDataType = data_type;
    return;
  }
  std::uint8_t size_bytes[4];
  CheckedStreamRead(size_bytes, 4, Stream, kReadSize);
  const std::int32_t size = GetLE<std::int32_t>(size_bytes);
  if (data_type == bftUnknown || data_type == bftBFile)
    RaiseCorrupt(kReadSize, "value of a type without storage form");
  if (size < 1) RaiseCorrupt(kReadSize, "size out of range");
  if (HasFixedSize(data_type) && size != GetValueSize(data_type, 0))
    RaiseCorrupt(kReadSize, "size does not match the data type");
  if (data_type == bftWideChar || data_type == bftWideVarchar || data_type == bftWideClob) {
    if (size % 2 != 0) RaiseCorrupt(kReadSize, "odd size of wide text");
  }
  // Data the stream does not hold is a short read; refused before allocating
  // for a size that may be garbage.
  if (size > Stream.Size() - Stream.Position())
    RaiseCorrupt(kReadData, "data beyond the end of the stream");
  void* block = MemoryManager().GetMem(size);
  try {
    CheckedStreamRead(block, size, Stream, kReadData);
    CheckStorageForm(data_type, static_cast<std::uint8_t*>(block), size);
  } catch (...) {
    MemoryManager().FreeMem(block);
    throw;
  }
  TakeOwnedBlock(block, size, data_type);
}

}  // namespace vez

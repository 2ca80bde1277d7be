#include "dbengine/storage/VEZRecordFieldData.h"

#include <cstring>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZFieldDef.h"

namespace vez {

namespace {

// Error numbers raised from more than one place in this file.
constexpr std::int32_t kErrorSetFieldData =
    10004;  // a field number or record buffer SetRecordFieldData cannot use

}  // namespace

namespace {

constexpr std::size_t kExtendedSize = 10;

double ExtendedToDouble(const std::uint8_t* src) {
  long double value = 0;
  std::memcpy(&value, src, kExtendedSize);
  return static_cast<double>(value);
}

void DoubleToExtended(double value, std::uint8_t* dst) {
  const long double wide = value;
  std::memcpy(dst, &wide, kExtendedSize);
}

}  // namespace

bool GetRecordFieldData(std::int32_t field_no, const TVEZFieldDefs& field_defs, void* buffer,
                        const std::uint8_t* record_buffer) {
  if (record_buffer == nullptr) throw EVEZException(10003, "Nil pointer occured");
  // Checked before the null bit is read: a bad number would read past the
  // null bitmap.
  if (field_no < 0 || field_no >= field_defs.GetCount()) {
    throw EVEZException(10000, "Invalid field number - FieldNo = %d, FieldCount = %d",
                        {field_no, field_defs.GetCount()});
  }
  if (GetBufferBit(field_no, record_buffer)) return false;
  if (buffer == nullptr) return true;
  const TVEZFieldDef& def = *field_defs.GetDef(field_no);
  if (def.AdvancedFieldType >= aftBlob && def.AdvancedFieldType <= aftWideMemo) return true;
  const std::uint8_t* src = record_buffer + def.MemoryOffset;
  auto* dst = static_cast<std::uint8_t*>(buffer);
  switch (def.AdvancedFieldType) {
    case aftShortint: {
      const auto value = static_cast<std::int16_t>(static_cast<std::int8_t>(src[0]));
      PutLE<std::int16_t>(dst, value);
      break;
    }
    case aftCardinal: {
      const auto value = static_cast<std::int64_t>(GetLE<std::uint32_t>(src));
      PutLE<std::int64_t>(dst, value);
      break;
    }
    case aftSingle: {
      float value = 0;
      std::memcpy(&value, src, sizeof(value));
      const double wide = value;
      std::memcpy(dst, &wide, sizeof(wide));
      break;
    }
    case aftExtended: {
      const double value = ExtendedToDouble(src);
      std::memcpy(dst, &value, sizeof(value));
      break;
    }
    default:
      if (def.MemoryDataSize < 0) {
        throw EVEZException(10002,
                            "Error getting field data - FieldNo = %d, MemoryOffset = %d, "
                            "MemoryDataSize = %d",
                            {field_no, def.MemoryOffset, def.MemoryDataSize});
      }
      std::memcpy(dst, src, static_cast<std::size_t>(def.MemoryDataSize));
      break;
  }
  return true;
}

void SetRecordFieldData(std::int32_t field_no, const TVEZFieldDefs& field_defs, const void* buffer,
                        std::uint8_t* record_buffer) {
  if (field_no < 0 || field_no >= field_defs.GetCount()) {
    throw EVEZException(kErrorSetFieldData, "Invalid field number - FieldNo = %d, FieldCount = %d",
                        {field_no, field_defs.GetCount()});
  }
  if (record_buffer == nullptr) throw EVEZException(kErrorSetFieldData, "Nil pointer occured");
  const TVEZFieldDef& def = *field_defs.GetDef(field_no);
  const auto* src = static_cast<const std::uint8_t*>(buffer);
  bool to_null = src == nullptr;
  if (!to_null) {
    switch (def.AdvancedFieldType) {
      case aftChar:
      case aftString:
      case aftGuid:
        to_null = src[0] == 0;
        break;
      case aftWideChar:
      case aftWideString:
        to_null = src[0] == 0 && src[1] == 0;
        break;
      default:
        break;
    }
  }
  if (to_null) {
    SetBufferBit(true, field_no, record_buffer);
    return;
  }
  SetBufferBit(false, field_no, record_buffer);
  std::uint8_t* dst = record_buffer + def.MemoryOffset;
  switch (def.AdvancedFieldType) {
    case aftShortint:
      dst[0] = src[0];  // low byte of the 2-byte integer
      break;
    case aftCardinal:
      std::memcpy(dst, src, 4);  // low half of the 8-byte integer
      break;
    case aftSingle: {
      double value = 0;
      std::memcpy(&value, src, sizeof(value));
      const auto narrow = static_cast<float>(value);
      std::memcpy(dst, &narrow, sizeof(narrow));
      break;
    }
    case aftExtended: {
      double value = 0;
      std::memcpy(&value, src, sizeof(value));
      DoubleToExtended(value, dst);
      break;
    }
    default:
      if (def.MemoryDataSize > 0) {
        std::memcpy(dst, src, static_cast<std::size_t>(def.MemoryDataSize));
      }
      break;
  }
}

bool BuffersEqual(const void* buffer1, const void* buffer2, std::int32_t count) {
  if (buffer1 == nullptr) throw EVEZException(10122, "Nil pointer occured");
  if (buffer2 == nullptr) throw EVEZException(10123, "Nil pointer occured");
  if (count <= 0) return true;
  return std::memcmp(buffer1, buffer2, static_cast<std::size_t>(count)) == 0;
}

}  // namespace vez

#include "dbengine/storage/VEZRecordFieldData.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZFieldDef.h"
#include "platform/core/TextConvert.h"

namespace vez {

namespace {

// Error numbers raised from more than one place in this file.
constexpr std::int32_t kErrorSetFieldData =
    10004;  // a field number or record buffer SetRecordFieldData cannot use
// A value outside the range its column can store.
constexpr std::int32_t kErrorFieldRange = 10008;

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

// An integer column narrower than its dataset buffer: the stored width, the
// buffer width, signedness and the column's range.
struct TNarrowInteger {
  int stored;
  int buffer;
  bool is_signed;
  std::int64_t min;
  std::int64_t max;
};

bool NarrowIntegerOf(TVEZAdvancedFieldType type, TNarrowInteger& out) {
  switch (type) {
    case aftShortint:
      out = {1, 2, true, INT8_MIN, INT8_MAX};
      return true;
    case aftByte:
      out = {1, 2, false, 0, UINT8_MAX};
      return true;
    case aftCardinal:
      out = {4, 8, false, 0, UINT32_MAX};
      return true;
    case aftAutoIncShortint:
      out = {1, 4, true, INT8_MIN, INT8_MAX};
      return true;
    case aftAutoIncSmallint:
      out = {2, 4, true, INT16_MIN, INT16_MAX};
      return true;
    case aftAutoIncByte:
      out = {1, 4, false, 0, UINT8_MAX};
      return true;
    case aftAutoIncWord:
      out = {2, 4, false, 0, UINT16_MAX};
      return true;
    case aftAutoIncCardinal:
      // The buffer is a signed Int32: values above its range cannot be shown.
      out = {4, 4, false, 0, INT32_MAX};
      return true;
    default:
      return false;
  }
}

std::int64_t LoadInteger(const std::uint8_t* p, int width, bool is_signed) {
  std::uint64_t bits = 0;
  for (int i = width - 1; i >= 0; --i)
    bits = (bits << 8) | p[i];
  if (is_signed && width < 8 && (bits & (std::uint64_t{1} << (width * 8 - 1))) != 0)
    bits |= ~std::uint64_t{0} << (width * 8);
  return static_cast<std::int64_t>(bits);
}

void StoreInteger(std::uint8_t* p, int width, std::int64_t value) {
  auto bits = static_cast<std::uint64_t>(value);
  for (int i = 0; i < width; ++i) {
    p[i] = static_cast<std::uint8_t>(bits & 0xFF);
    bits >>= 8;
  }
}

// A variable-length byte column keeps its value in its size + 1 stored bytes
// as the bytes, one 0x80 end mark and zeros: the length is where the mark
// is, for any column size. A zero-filled value (a new record) is empty. The
// field buffer holds a 2-byte length and then the column's size in bytes.
constexpr std::uint8_t kVarBytesEndMark = 0x80;
constexpr std::size_t kVarBytesLengthSize = 2;

std::size_t VarBytesSize(const TVEZFieldDef& def) {
  return static_cast<std::size_t>(std::max(0, std::min(def.FieldSize, def.MemoryDataSize - 1)));
}

std::size_t StoredVarBytesLength(const std::uint8_t* src, const TVEZFieldDef& def) {
  const std::size_t size = VarBytesSize(def);
  std::size_t i = size + 1;
  while (i > 0 && src[i - 1] == 0)
    --i;
  if (i == 0) return 0;
  // Without its end mark the value fills the column.
  if (src[i - 1] != kVarBytesEndMark) return size;
  return std::min(i - 1, size);
}

void ReadVarBytes(const std::uint8_t* src, const TVEZFieldDef& def, std::uint8_t* dst) {
  const std::size_t length = StoredVarBytesLength(src, def);
  PutLE<std::uint16_t>(dst, static_cast<std::uint16_t>(length));
  std::memcpy(dst + kVarBytesLengthSize, src, length);
  std::memset(dst + kVarBytesLengthSize + length, 0, VarBytesSize(def) - length);
}

void WriteVarBytes(const std::uint8_t* src, const TVEZFieldDef& def, std::uint8_t* dst) {
  // A length beyond the column is cut to it, as strings are.
  const std::size_t size = VarBytesSize(def);
  const std::size_t length = std::min<std::size_t>(GetLE<std::uint16_t>(src), size);
  std::memset(dst, 0, size + 1);
  std::memcpy(dst, src + kVarBytesLengthSize, length);
  dst[length] = kVarBytesEndMark;
}

[[noreturn]] void RaiseRange(const TVEZFieldDef& def, std::int64_t value,
                             const TNarrowInteger& range) {
  throw EVEZException(
      kErrorFieldRange, "%s is not a valid value for field '%s'. The allowed range is %s to %s",
      {std::to_string(value), def.Name, std::to_string(range.min), std::to_string(range.max)});
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
  TNarrowInteger narrow{};
  if (NarrowIntegerOf(def.AdvancedFieldType, narrow)) {
    const std::int64_t value = LoadInteger(src, narrow.stored, narrow.is_signed);
    if (value < narrow.min || value > narrow.max) RaiseRange(def, value, narrow);
    StoreInteger(dst, narrow.buffer, value);
    return true;
  }
  switch (def.AdvancedFieldType) {
    case aftVarBytes:
      ReadVarBytes(src, def, dst);
      break;
    case aftBytes:
      // Stored with one byte more than the field buffer holds.
      std::memcpy(dst, src,
                  static_cast<std::size_t>(std::min(def.FieldSize, def.MemoryDataSize - 1)));
      break;
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
  std::uint8_t* dst = record_buffer + def.MemoryOffset;
  TNarrowInteger narrow{};
  if (NarrowIntegerOf(def.AdvancedFieldType, narrow)) {
    // Checked before anything is written: a value the column cannot hold is
    // refused, never cut to its low bytes.
    const bool buffer_signed = narrow.buffer != 2 || narrow.is_signed;
    const std::int64_t value = LoadInteger(src, narrow.buffer, buffer_signed);
    if (value < narrow.min || value > narrow.max) RaiseRange(def, value, narrow);
    SetBufferBit(false, field_no, record_buffer);
    StoreInteger(dst, narrow.stored, value);
    return;
  }
  if (def.AdvancedFieldType == aftSingle) {
    // A finite value beyond a Single would be stored as infinity.
    double value = 0;
    std::memcpy(&value, src, sizeof(value));
    if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max()) {
      const std::string max = platform::FloatToStr(std::numeric_limits<float>::max());
      throw EVEZException(kErrorFieldRange,
                          "%s is not a valid value for field '%s'. The allowed range is %s to %s",
                          {platform::FloatToStr(value), def.Name, "-" + max, max});
    }
  }
  SetBufferBit(false, field_no, record_buffer);
  switch (def.AdvancedFieldType) {
    case aftVarBytes:
      WriteVarBytes(src, def, dst);
      break;
    case aftBytes:
      std::memcpy(dst, src,
                  static_cast<std::size_t>(std::min(def.FieldSize, def.MemoryDataSize - 1)));
      dst[def.MemoryDataSize - 1] = 0;
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

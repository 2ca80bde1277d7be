// The common-type rule and the comparison of raw values in storage form.
// Values of equal types are compared straight from their buffers, without
// conversion or allocation: the B-tree calls this for every key part of every
// search step.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/foundation/VEZVariantBlock.h"
#include "platform/core/Collation.h"

namespace vez {

namespace {

// Error numbers raised from more than one place in this file.
constexpr std::int32_t kErrorCompareNull = 30140;  // a compared value that is NULL

}  // namespace

namespace {

bool IsNumberType(TVEZBaseFieldType t) {
  return t >= bftSignedInt8 && t <= bftExtended;
}
bool IsIntegerType(TVEZBaseFieldType t) {
  return t >= bftSignedInt8 && t <= bftUnsignedInt32;
}
bool IsFloatType(TVEZBaseFieldType t) {
  return t >= bftSingle && t <= bftExtended;
}
bool IsStringType(TVEZBaseFieldType t) {
  return t >= bftChar && t <= bftWideVarchar;
}
bool IsClobType(TVEZBaseFieldType t) {
  return t == bftClob || t == bftWideClob;
}
bool IsDateType(TVEZBaseFieldType t) {
  return t >= bftDate && t <= bftDateTime;
}

int TextIndex(TVEZBaseFieldType t) {
  switch (t) {
    case bftChar:
      return 0;
    case bftWideChar:
      return 1;
    case bftVarchar:
      return 2;
    case bftWideVarchar:
      return 3;
    case bftClob:
      return 4;
    default:
      return 5;  // bftWideClob
  }
}

constexpr TVEZBaseFieldType C = bftChar, W = bftWideChar, V = bftVarchar, WV = bftWideVarchar;
constexpr TVEZBaseFieldType kTextTable[6][6] = {
    {C, W, V, WV, C, W},      {W, W, W, WV, W, W}, {V, W, V, WV, V, WV},
    {WV, WV, WV, WV, WV, WV}, {C, W, V, WV, C, W}, {W, W, WV, WV, W, W},
};

constexpr TVEZBaseFieldType I8 = bftSignedInt8, I16 = bftSignedInt16, I32 = bftSignedInt32,
                            I64 = bftSignedInt64, U8 = bftUnsignedInt8, U16 = bftUnsignedInt16,
                            U32 = bftUnsignedInt32, S = bftSingle, D = bftDouble, E = bftExtended;
// Rows the first operand, columns the second. A signed 8- or 16-bit value
// meets an unsigned 16- or 32-bit one in a signed type wide enough for both,
// in either order, so that -1 never compares above an unsigned value.
constexpr TVEZBaseFieldType kNumberTable[10][10] = {
    {I8, I16, I32, I64, I16, I32, I64, S, D, E},   // I8
    {I16, I16, I32, I64, I16, I32, I64, S, D, E},  // I16
    {I32, I32, I32, I64, I32, I32, I64, S, D, E},  // I32
    {I64, I64, I64, I64, I64, I64, I64, S, D, E},  // I64
    {I16, I16, I32, I64, U8, U16, U32, S, D, E},   // U8
    {I32, I32, I32, I64, U16, U16, U32, S, D, E},  // U16
    {I64, I64, I64, I64, U32, U32, U32, S, D, E},  // U32
    {S, S, S, S, S, S, S, S, D, E},                // Single
    {D, D, D, D, D, D, D, D, D, E},                // Double
    {E, E, E, E, E, E, E, E, E, E},                // Extended
};

template <typename T>
TVEZCompareResult Order(T a, T b) {
  return a < b ? cmprLower : (b < a ? cmprGreater : cmprEqual);
}

// Floats: NaN has one place, after every number, so that an index over a
// float column stays ordered.
template <typename T>
TVEZCompareResult FloatOrder(T a, T b) {
  const bool na = std::isnan(a), nb = std::isnan(b);
  if (na || nb) return na == nb ? cmprEqual : (na ? cmprGreater : cmprLower);
  return Order(a, b);
}

// The number of characters of a zero-terminated text to compare: stops at the
// terminator, at Length characters when Length >= 0, and at the buffer's end
// when its size is known.
std::size_t AnsiCount(const void* p, std::int32_t length, std::int32_t size) {
  std::size_t limit = SIZE_MAX;
  if (size >= 0) limit = static_cast<std::size_t>(size);
  if (length >= 0 && static_cast<std::size_t>(length) < limit)
    limit = static_cast<std::size_t>(length);
  return limit == SIZE_MAX ? std::strlen(static_cast<const char*>(p))
                           : strnlen(static_cast<const char*>(p), limit);
}

// A wide text to compare. Engine buffers hold it at any byte address, so its
// units are copied into aligned storage: on the stack for key-sized texts, so
// that the B-tree's comparisons allocate nothing. Stops at the terminator, at
// Length characters when Length >= 0, and at the buffer's end when its size
// is known.
class TWideText {
 public:
  TWideText(const void* p, std::int32_t length, std::int32_t size) {
    std::int64_t limit = INT64_MAX;
    if (size >= 0) limit = size / 2;
    if (length >= 0 && length < limit) limit = length;
    const auto* b = static_cast<const unsigned char*>(p);
    std::size_t n = 0;
    while (static_cast<std::int64_t>(n) < limit && (b[2 * n] != 0 || b[2 * n + 1] != 0))
      ++n;
    char16_t* dst = inline_;
    if (n > kInlineUnits) {
      heap_.resize(n);
      dst = heap_.data();
    }
    if (n != 0) std::memcpy(dst, b, n * 2);
    view_ = std::u16string_view(dst, n);
  }
  TWideText(const TWideText&) = delete;
  TWideText& operator=(const TWideText&) = delete;
  std::u16string_view View() const { return view_; }

 private:
  static constexpr std::size_t kInlineUnits = 256;
  char16_t inline_[kInlineUnits];
  std::u16string heap_;
  std::u16string_view view_;
};

TVEZCompareResult FromSign(int r) {
  return r < 0 ? cmprLower : (r > 0 ? cmprGreater : cmprEqual);
}

[[noreturn]] void RaiseUnknownType(TVEZBaseFieldType t) {
  throw EVEZException(30047, "Unknown DataType: '%s'", {BaseTypeToSQLTypeName(t)});
}

// Compares two non-NULL raw values of the same type G.
TVEZCompareResult CompareSameType(const void* a, const void* b, TVEZBaseFieldType g,
                                  std::int32_t length, bool case_insensitive, std::int32_t size1,
                                  std::int32_t size2) {
  switch (g) {
    case bftChar:
    case bftVarchar:
      return FromSign(platform::CompareAnsi(
          std::string_view(static_cast<const char*>(a), AnsiCount(a, length, size1)),
          std::string_view(static_cast<const char*>(b), AnsiCount(b, length, size2)),
          case_insensitive));
    case bftWideChar:
    case bftWideVarchar: {
      const TWideText wa(a, length, size1), wb(b, length, size2);
      return FromSign(platform::CompareWide(wa.View(), wb.View(), case_insensitive));
    }
    case bftBytes: {
      // Byte strings are binary: compared byte by byte over the field length.
      std::int32_t n1 = size1, n2 = size2;
      if (n1 < 0 || n2 < 0) {
        if (length < 0) RaiseUnknownType(g);
        n1 = n2 = length;
      } else if (length >= 0) {
        n1 = std::min(n1, length);
        n2 = std::min(n2, length);
      }
      const int r = std::memcmp(a, b, static_cast<std::size_t>(std::min(n1, n2)));
      if (r != 0) return FromSign(r);
      return Order(n1, n2);
    }
    case bftSignedInt8:
      return Order(LoadRawValue<std::int8_t>(a), LoadRawValue<std::int8_t>(b));
    case bftSignedInt16:
      return Order(LoadRawValue<std::int16_t>(a), LoadRawValue<std::int16_t>(b));
    case bftSignedInt32:
    case bftDate:
    case bftTime:
      return Order(LoadRawValue<std::int32_t>(a), LoadRawValue<std::int32_t>(b));
    case bftSignedInt64:
      return Order(LoadRawValue<std::int64_t>(a), LoadRawValue<std::int64_t>(b));
    case bftUnsignedInt8:
      return Order(LoadRawValue<std::uint8_t>(a), LoadRawValue<std::uint8_t>(b));
    case bftUnsignedInt16:
      return Order(LoadRawValue<std::uint16_t>(a), LoadRawValue<std::uint16_t>(b));
    case bftUnsignedInt32:
      return Order(LoadRawValue<std::uint32_t>(a), LoadRawValue<std::uint32_t>(b));
    case bftSingle:
      return FloatOrder(LoadRawValue<float>(a), LoadRawValue<float>(b));
    case bftDouble:
    case bftCurrency:
      return FloatOrder(LoadRawValue<double>(a), LoadRawValue<double>(b));
    case bftExtended:
      return FloatOrder(LoadRawExtended(a), LoadRawExtended(b));
    case bftDateTime: {
      const TVEZCompareResult r =
          Order(LoadRawValue<std::int32_t>(a), LoadRawValue<std::int32_t>(b));
      if (r != cmprEqual) return r;
      return Order(LoadRawValue<std::int32_t>(static_cast<const char*>(a) + 4),
                   LoadRawValue<std::int32_t>(static_cast<const char*>(b) + 4));
    }
    case bftLogical:
      return Order(LoadRawValue<std::int16_t>(a) != 0, LoadRawValue<std::int16_t>(b) != 0);
    default:
      RaiseUnknownType(g);
  }
}

}  // namespace

TVEZBaseFieldType GetCommonBaseType(TVEZBaseFieldType Type1, TVEZBaseFieldType Type2,
                                    bool ForComparison) {
  auto no_common = [](TVEZBaseFieldType t) {
    return t == bftUnknown || t == bftBlob || t == bftBytes || t == bftVarBytes || t == bftBFile ||
           t > bftBFile;
  };
  if (no_common(Type1) || no_common(Type2)) return bftUnknown;
  const bool text1 = IsStringType(Type1) || IsClobType(Type1);
  const bool text2 = IsStringType(Type2) || IsClobType(Type2);
  if (text1 && text2) return kTextTable[TextIndex(Type1)][TextIndex(Type2)];
  // Rule 3: a string beside a number, Boolean, currency or date.
  if (IsStringType(Type1) || IsStringType(Type2)) {
    const TVEZBaseFieldType str = IsStringType(Type1) ? Type1 : Type2;
    const TVEZBaseFieldType other = IsStringType(Type1) ? Type2 : Type1;
    if (IsClobType(other)) return bftUnknown;
    if (ForComparison && IsDateType(other)) return other;
    return str;
  }
  if (IsClobType(Type1) || IsClobType(Type2)) return bftUnknown;
  if (IsNumberType(Type1) && IsNumberType(Type2))
    return kNumberTable[Type1 - bftSignedInt8][Type2 - bftSignedInt8];
  if (IsNumberType(Type1) && Type2 == bftLogical) return Type1;
  if (IsNumberType(Type2) && Type1 == bftLogical) return Type2;
  if ((IsIntegerType(Type1) && Type2 == bftCurrency) ||
      (IsIntegerType(Type2) && Type1 == bftCurrency))
    return bftCurrency;
  if (IsFloatType(Type1) && Type2 == bftCurrency) return bftCurrency;
  if (Type1 == bftCurrency && IsFloatType(Type2)) return Type2;
  if (IsNumberType(Type1) && IsDateType(Type2)) return Type2;
  if (IsNumberType(Type2) && IsDateType(Type1)) return Type1;
  if (IsDateType(Type1) && IsDateType(Type2)) {
    if (Type1 == Type2) return Type1;
    return bftDateTime;  // date with time, or anything with a date-time
  }
  if (Type1 == bftLogical && Type2 == bftLogical) return bftLogical;
  if (Type1 == bftCurrency && Type2 == bftCurrency) return bftCurrency;
  return bftUnknown;
}

TVEZAdvancedFieldType GetCommonAdvancedType(TVEZAdvancedFieldType Type1,
                                            TVEZAdvancedFieldType Type2, bool ForComparison) {
  const TVEZBaseFieldType b1 = AdvancedTypeToBaseType(Type1);
  const TVEZBaseFieldType b2 = AdvancedTypeToBaseType(Type2);
  const TVEZBaseFieldType g = GetCommonBaseType(b1, b2, ForComparison);
  if (b1 == g) return Type1;
  if (b2 == g) return Type2;
  return BaseTypeToAdvancedType(g);
}

TVEZCompareResult CompareTypedValues(const void* Buffer1, const void* Buffer2,
                                     TVEZBaseFieldType DataType1, TVEZBaseFieldType DataType2,
                                     bool IsNull1, bool IsNull2, std::int32_t Length,
                                     bool CaseInsensitive, std::int32_t /*LocaleID*/,
                                     std::int32_t Size1, std::int32_t Size2) {
  if (IsNull1 && IsNull2) return cmprBothNull;
  if (IsNull1) return cmprLeftNull;
  if (IsNull2) return cmprRightNull;
  if (DataType1 == DataType2 && !IsClobType(DataType1)) {
    if (Buffer1 == nullptr || Buffer2 == nullptr)
      throw EVEZException(kErrorCompareNull, "Value is Null");
    return CompareSameType(Buffer1, Buffer2, DataType1, Length, CaseInsensitive, Size1, Size2);
  }
  const TVEZBaseFieldType g = GetCommonBaseType(DataType1, DataType2, true);
  if (g == bftUnknown)
    throw EVEZException(30044, "Cannot compare Incompatible DataTypes: '%s' and '%s'",
                        {BaseTypeToSQLTypeName(DataType1), BaseTypeToSQLTypeName(DataType2)});
  if (Buffer1 == nullptr || Buffer2 == nullptr)
    throw EVEZException(kErrorCompareNull, "Value is Null");
  TVEZVariantBlock t1, t2;
  if (DataType1 != g) {
    std::int32_t out_size = 0;
    t1.p = ConvertTypedValue(Buffer1, Size1, DataType1, out_size, g);
    Buffer1 = t1.p;
    Size1 = out_size;
  }
  if (DataType2 != g) {
    std::int32_t out_size = 0;
    t2.p = ConvertTypedValue(Buffer2, Size2, DataType2, out_size, g);
    Buffer2 = t2.p;
    Size2 = out_size;
  }
  return CompareSameType(Buffer1, Buffer2, g, Length, CaseInsensitive, Size1, Size2);
}

int CompareTypedValuesOrder(const void* Buffer1, const void* Buffer2, TVEZBaseFieldType DataType1,
                            TVEZBaseFieldType DataType2, bool IsNull1, bool IsNull2,
                            std::int32_t Length, bool CaseInsensitive, std::int32_t LocaleID,
                            std::int32_t Size1, std::int32_t Size2) {
  switch (CompareTypedValues(Buffer1, Buffer2, DataType1, DataType2, IsNull1, IsNull2, Length,
                             CaseInsensitive, LocaleID, Size1, Size2)) {
    case cmprLower:
    case cmprLeftNull:
      return -1;
    case cmprGreater:
    case cmprRightNull:
      return 1;
    default:
      return 0;
  }
}

}  // namespace vez

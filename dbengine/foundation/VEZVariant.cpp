#include "dbengine/foundation/VEZVariant.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/foundation/VEZVariantBlock.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/CodePage.h"

namespace vez {

namespace {

constexpr std::int32_t kMsPerDay = 86400000;

bool IsAnsiType(TVEZBaseFieldType t) {
  return t == bftChar || t == bftVarchar;
}
bool IsWideType(TVEZBaseFieldType t) {
  return t == bftWideChar || t == bftWideVarchar;
}

[[noreturn]] void RaiseNotNumeric(std::int32_t code, const char* op) {
  throw EVEZException(code, "Not numeric argument in numeric operator '%s'", {op});
}

}  // namespace

TVEZVariant::~TVEZVariant() {
  try {
    Clear(bftUnknown);
  } catch (...) {
    // A damaged owned block cannot be released; destructors do not raise.
  }
}

TVEZVariant::TVEZVariant(TVEZVariant&& Source) noexcept
    : FDataType(Source.FDataType),
      FDataSize(Source.FDataSize),
      FPData(Source.FPData),
      FIsDataLinked(Source.FIsDataLinked),
      FIsNull(Source.FIsNull) {
  Source.FPData = nullptr;
  Source.FDataSize = 0;
  Source.FIsDataLinked = false;
  Source.FIsNull = 255;
}

TVEZVariant& TVEZVariant::operator=(TVEZVariant&& Source) noexcept {
  if (this == &Source) return *this;
  try {
    ReleaseBlock();
  } catch (...) {
    // A damaged owned block cannot be released; it is dropped, not kept.
  }
  FDataType = Source.FDataType;
  FDataSize = Source.FDataSize;
  FPData = Source.FPData;
  FIsDataLinked = Source.FIsDataLinked;
  FIsNull = Source.FIsNull;
  Source.FPData = nullptr;
  Source.FDataSize = 0;
  Source.FIsDataLinked = false;
  Source.FIsNull = 255;
  return *this;
}

void TVEZVariant::ReleaseBlock() {
  if (FPData != nullptr && !FIsDataLinked) MemoryManager().FreeAndNillMem(FPData);
  FPData = nullptr;
  FDataSize = 0;
  FIsDataLinked = false;
}

void TVEZVariant::TakeOwnedBlock(void* Block, std::int32_t Size, TVEZBaseFieldType DataType) {
  FPData = static_cast<std::uint8_t*>(Block);
  FDataSize = Size;
  FDataType = DataType;
  FIsDataLinked = false;
  FIsNull = 0;
}

void TVEZVariant::Clear(TVEZBaseFieldType DataType) {
  ReleaseBlock();
  FIsNull = 255;
  FDataType = DataType;
}

void TVEZVariant::SetNull(TVEZBaseFieldType DataType) {
  if (DataType != FDataType) ReleaseBlock();
  FIsNull = 255;
  FDataType = DataType;
}

void TVEZVariant::SetDataType(TVEZBaseFieldType DataType) {
  if (DataType == FDataType) return;
  if (GetIsNull())
    Clear(DataType);
  else
    Cast(DataType);
}

void TVEZVariant::Assign(const TVEZVariant& Source, bool CopyDataFlag) {
  if (&Source == this) return;
  if (Source.GetIsNull()) {
    Clear(Source.FDataType);
    return;
  }
  if (CopyDataFlag) {
    // Copied before the held block goes: Source may link to this value's block.
    TVEZVariantBlock block;
    block.p = MemoryManager().GetMem(Source.FDataSize);
    std::memcpy(block.p, Source.FPData, static_cast<std::size_t>(Source.FDataSize));
    ReleaseBlock();
    TakeOwnedBlock(block.Release(), Source.FDataSize, Source.FDataType);
  } else if (Source.FPData == FPData) {
    // Source links this value's own block: keep it rather than release what
    // the link would then point to.
    FDataType = Source.FDataType;
    FDataSize = Source.FDataSize;
    FIsNull = 0;
  } else {
    Clear(Source.FDataType);
    FPData = Source.FPData;
    FDataSize = Source.FDataSize;
    FIsDataLinked = true;
    FIsNull = 0;
  }
}

void TVEZVariant::SetData(const void* Buffer, std::int32_t Size, TVEZBaseFieldType DataType,
                          bool CopyDataFlag) {
  if (Buffer == nullptr || Size < 1) {
    // No data is NULL: a value never holds a zero-sized block.
    Clear(DataType);
    return;
  }
  if (!CopyDataFlag) {
    Clear(DataType);
    // A linked block is never written through this value.
    FPData = static_cast<std::uint8_t*>(const_cast<void*>(Buffer));
    FDataSize = Size;
    FIsDataLinked = true;
    FIsNull = 0;
    return;
  }
  if (FPData != nullptr && !FIsDataLinked && FDataSize == Size) {
    std::memmove(FPData, Buffer, static_cast<std::size_t>(Size));
  } else {
    void* block = MemoryManager().GetMem(Size);
    std::memcpy(block, Buffer, static_cast<std::size_t>(Size));
    try {
      ReleaseBlock();
    } catch (...) {
      MemoryManager().FreeMem(block);
      throw;
    }
    FPData = static_cast<std::uint8_t*>(block);
  }
  FDataSize = Size;
  FDataType = DataType;
  FIsDataLinked = false;
  FIsNull = 0;
}

bool TVEZVariant::CopyDataToAddress(void* Buffer, std::int32_t MaxSize) const {
  if (GetIsNull()) return false;
  if (MaxSize != -1 && MaxSize < FDataSize)
    throw EVEZException(kErrorBufferSizeExceeded, "Buffer size exceeded");
  if (IsStringDataType() && FDataSize <= 1) return false;
  std::memcpy(Buffer, FPData, static_cast<std::size_t>(FDataSize));
  return true;
}

std::int32_t TVEZVariant::StrLen() const {
  if (GetIsNull()) return -1;
  if (IsAnsiType(FDataType)) return FDataSize - 1;
  if (IsWideType(FDataType)) return FDataSize / 2 - 1;
  return -1;
}

bool TVEZVariant::IsNumericDataType() const {
  return IsNumericBaseFieldType(FDataType);
}
bool TVEZVariant::IsStringDataType() const {
  return IsStringBaseFieldType(FDataType);
}
bool TVEZVariant::IsWideStringDataType() const {
  return IsWideStringBaseFieldType(FDataType);
}
bool TVEZVariant::IsBlobDataType() const {
  return IsBlobBaseFieldType(FDataType);
}
bool TVEZVariant::IsDateTimeDataType() const {
  return IsDateTimeBaseFieldType(FDataType);
}

void TVEZVariant::Cast(TVEZBaseFieldType NewDataType) {
  if (NewDataType == FDataType) return;
  if (GetIsNull()) {
    Clear(NewDataType);
    return;
  }
  if (FDataType == bftClob && NewDataType == bftVarchar) {
    // The text stays as it is; it only gains its terminator.
    const std::int32_t new_size = platform::CheckedAdd<std::int32_t>(FDataSize, 1);
    if (FIsDataLinked) {
      void* block = MemoryManager().GetMem(new_size);
      std::memcpy(block, FPData, static_cast<std::size_t>(FDataSize));
      static_cast<std::uint8_t*>(block)[FDataSize] = 0;
      TakeOwnedBlock(block, new_size, bftVarchar);
    } else {
      MemoryManager().ReallocMemAndClearTail(FPData, new_size);
      FDataSize = new_size;
      FDataType = bftVarchar;
    }
    return;
  }
  std::int32_t out_size = 0;
  TVEZVariantBlock block;
  block.p = ConvertTypedValue(FPData, FDataSize, FDataType, out_size, NewDataType);
  ReleaseBlock();  // a linked block is only dropped, never released
  TakeOwnedBlock(block.Release(), out_size, NewDataType);
}

void TVEZVariant::TryToReduceWideStringToAnsiString() {
  if (!IsWideStringDataType()) return;
  const std::u16string wide = GetAsWideString();
  const std::string ansi = platform::WideToAnsi(wide);
  if (platform::AnsiToWide(ansi) != wide) return;
  Clear(bftUnknown);
  SetAsAnsiString(ansi);
}

// ---- typed storage and retrieval -------------------------------------------

void TVEZVariant::SetTypedValue(const void* Data, std::int32_t Size, TVEZBaseFieldType InType) {
  if (FDataType == InType && !IsStringBaseFieldType(InType) && FPData != nullptr &&
      !FIsDataLinked && FDataSize == Size) {
    std::memcpy(FPData, Data, static_cast<std::size_t>(Size));
    FIsNull = 0;
    return;
  }
  const TVEZBaseFieldType type = FDataType == bftUnknown ? InType : FDataType;
  TVEZVariantBlock block;
  const bool same_form = type == InType || (IsAnsiType(type) && IsAnsiType(InType)) ||
                         (IsWideType(type) && IsWideType(InType));
  if (same_form) {
    block.p = MemoryManager().GetMem(Size);
    std::memcpy(block.p, Data, static_cast<std::size_t>(Size));
    block.size = Size;
  } else {
    block.p = ConvertTypedValue(Data, Size, InType, block.size, type);
  }
  // The held block goes only now: a store that fails keeps the value.
  ReleaseBlock();
  const std::int32_t size = block.size;
  TakeOwnedBlock(block.Release(), size, type);
}

void TVEZVariant::SetTypedString(const std::string& Value) {
  const std::size_t len = strnlen(Value.c_str(), Value.size());
  if (len == 0) {  // an empty string is NULL
    Clear(FDataType == bftUnknown ? bftVarchar : FDataType);
    return;
  }
  SetTypedValue(Value.c_str(), platform::CheckedCast<std::int32_t>(len + 1), bftVarchar);
}

void TVEZVariant::SetTypedWideString(const std::u16string& Value) {
  std::size_t len = 0;
  while (len < Value.size() && Value[len] != 0)
    ++len;
  if (len == 0) {  // an empty string is NULL
    Clear(FDataType == bftUnknown ? bftWideVarchar : FDataType);
    return;
  }
  SetTypedValue(Value.c_str(), platform::CheckedCast<std::int32_t>((len + 1) * 2), bftWideVarchar);
}

void TVEZVariant::CheckNotNull() const {
  if (GetIsNull()) throw EVEZException(30016, "Value is Null");
}

void TVEZVariant::GetTypedValue(void* Target, std::int32_t TargetSize,
                                TVEZBaseFieldType OutType) const {
  CheckNotNull();
  // Never more than the target holds, nor more than the block has.
  auto copy_out = [&](const void* src, std::int32_t size) {
    const std::int32_t n = std::min(size, TargetSize);
    std::memcpy(Target, src, static_cast<std::size_t>(n));
    if (n < TargetSize)
      std::memset(static_cast<std::uint8_t*>(Target) + n, 0,
                  static_cast<std::size_t>(TargetSize - n));
  };
  if (OutType == FDataType) {
    copy_out(FPData, FDataSize);
    return;
  }
  TVEZVariantBlock block;
  block.p = ConvertTypedValue(FPData, FDataSize, FDataType, block.size, OutType);
  copy_out(block.p, block.size);
}

#define VEZ_TYPED_ACCESSORS(Name, CType, BaseType) \
  CType TVEZVariant::GetAs##Name() const {         \
    CType v{};                                     \
    GetTypedValue(&v, sizeof v, BaseType);         \
    return v;                                      \
  }                                                \
  void TVEZVariant::SetAs##Name(CType Value) {     \
    SetTypedValue(&Value, sizeof Value, BaseType); \
  }

VEZ_TYPED_ACCESSORS(Shortint, std::int8_t, bftSignedInt8)
VEZ_TYPED_ACCESSORS(Smallint, std::int16_t, bftSignedInt16)
VEZ_TYPED_ACCESSORS(Integer, std::int32_t, bftSignedInt32)
VEZ_TYPED_ACCESSORS(Int64, std::int64_t, bftSignedInt64)
VEZ_TYPED_ACCESSORS(Byte, std::uint8_t, bftUnsignedInt8)
VEZ_TYPED_ACCESSORS(Word, std::uint16_t, bftUnsignedInt16)
VEZ_TYPED_ACCESSORS(Cardinal, std::uint32_t, bftUnsignedInt32)
VEZ_TYPED_ACCESSORS(Single, float, bftSingle)
VEZ_TYPED_ACCESSORS(Double, double, bftDouble)
VEZ_TYPED_ACCESSORS(Currency, double, bftCurrency)
VEZ_TYPED_ACCESSORS(VEZDate, std::int32_t, bftDate)
VEZ_TYPED_ACCESSORS(VEZTime, std::int32_t, bftTime)

#undef VEZ_TYPED_ACCESSORS

long double TVEZVariant::GetAsExtended() const {
  unsigned char b[sizeof(long double)] = {};
  GetTypedValue(b, 10, bftExtended);
  long double v;
  std::memcpy(&v, b, sizeof v);
  return v;
}

void TVEZVariant::SetAsExtended(long double Value) {
  unsigned char b[sizeof(long double)];
  std::memcpy(b, &Value, sizeof Value);
  SetTypedValue(b, 10, bftExtended);
}

TVEZDateTime TVEZVariant::GetAsVEZDateTime() const {
  unsigned char b[8];
  GetTypedValue(b, 8, bftDateTime);
  TVEZDateTime dt;
  dt.Date = LoadRawValue<std::int32_t>(b);
  dt.Time = LoadRawValue<std::int32_t>(b + 4);
  return dt;
}

void TVEZVariant::SetAsVEZDateTime(const TVEZDateTime& Value) {
  unsigned char b[8];
  const std::int32_t d = Value.Date, t = Value.Time;
  std::memcpy(b, &d, 4);
  std::memcpy(b + 4, &t, 4);
  SetTypedValue(b, 8, bftDateTime);
}

bool TVEZVariant::GetAsBoolean() const {
  std::int16_t v = 0;
  GetTypedValue(&v, sizeof v, bftLogical);
  return v != 0;
}

void TVEZVariant::SetAsBoolean(bool Value) {
  const std::int16_t v = Value ? -1 : 0;
  SetTypedValue(&v, sizeof v, bftLogical);
}

std::string TVEZVariant::GetAsAnsiString() const {
  if (GetIsNull()) return std::string();
  if (IsAnsiType(FDataType)) {
    const auto* p = reinterpret_cast<const char*>(FPData);
    return std::string(p, strnlen(p, static_cast<std::size_t>(FDataSize)));
  }
  TVEZVariantBlock block;
  block.p = ConvertTypedValue(FPData, FDataSize, FDataType, block.size, bftVarchar);
  return std::string(static_cast<const char*>(block.p),
                     static_cast<std::size_t>(std::max(block.size - 1, 0)));
}

void TVEZVariant::SetAsAnsiString(const std::string& Value) {
  SetTypedString(Value);
}

std::u16string TVEZVariant::GetAsWideString() const {
  if (GetIsNull()) return std::u16string();
  std::u16string s;
  if (IsWideType(FDataType)) {
    // The held text ends at its first zero unit, and never past the block.
    for (std::int32_t i = 0; i + 1 < FDataSize; i += 2) {
      char16_t c;
      std::memcpy(&c, FPData + i, 2);
      if (c == 0) break;
      s.push_back(c);
    }
    return s;
  }
  TVEZVariantBlock block;
  block.p = ConvertTypedValue(FPData, FDataSize, FDataType, block.size, bftWideVarchar);
  const std::int32_t units = std::max(block.size / 2 - 1, 0);
  s.resize(static_cast<std::size_t>(units));
  std::memcpy(s.data(), block.p, static_cast<std::size_t>(units) * 2);
  return s;
}

void TVEZVariant::SetAsWideString(const std::u16string& Value) {
  SetTypedWideString(Value);
}

double TVEZVariant::GetAsTDate() const {
  return VEZDateToTDate(GetAsVEZDate());
}
void TVEZVariant::SetAsTDate(double Value) {
  SetAsVEZDate(TDateToVEZDate(Value));
}
double TVEZVariant::GetAsTTime() const {
  return VEZTimeToTTime(GetAsVEZTime());
}
void TVEZVariant::SetAsTTime(double Value) {
  SetAsVEZTime(TTimeToVEZTime(Value));
}
double TVEZVariant::GetAsTDateTime() const {
  return VEZDateTimeToTDateTime(GetAsVEZDateTime());
}
void TVEZVariant::SetAsTDateTime(double Value) {
  SetAsVEZDateTime(TDateTimeToVEZDateTime(Value));
}

// ---- platform variants ----------------------------------------------------

platform::Variant TVEZVariant::GetAsVariant() const {
  using platform::Variant;
  if (GetIsNull()) return Variant::Null();
  switch (FDataType) {
    case bftChar:
    case bftVarchar:
      return Variant::FromString(GetAsAnsiString());
    case bftWideChar:
    case bftWideVarchar:
      return Variant::FromOleStr(GetAsWideString());
    case bftSignedInt8:
      return Variant::FromShortInt(GetAsShortint());
    case bftSignedInt16:
      return Variant::FromSmallint(GetAsSmallint());
    case bftSignedInt32:
      return Variant::FromInteger(GetAsInteger());
    case bftSignedInt64:
      return Variant::FromInt64(GetAsInt64());
    case bftUnsignedInt8:
      return Variant::FromByte(GetAsByte());
    case bftUnsignedInt16:
      return Variant::FromWord(GetAsWord());
    case bftUnsignedInt32:
      return Variant::FromLongWord(GetAsCardinal());
    case bftSingle:
    case bftDouble:
    case bftExtended:
    case bftCurrency:
      return Variant::FromDouble(GetAsDouble());
    case bftDate:
      return Variant::FromDate(GetAsTDate());
    case bftTime:
      return Variant::FromDate(GetAsTTime());
    case bftDateTime:
      return Variant::FromDate(GetAsTDateTime());
    case bftLogical:
      return Variant::FromBoolean(GetAsBoolean());
    case bftBlob:
      // The conversion table refuses BLOB to text (30052).
      return Variant::FromString(GetAsAnsiString());
    default:
      throw EVEZException(30114, "Unsupported Variant Type %s", {BaseTypeToSQLTypeName(FDataType)});
  }
}

void TVEZVariant::SetAsVariant(const platform::Variant& Value) {
  using namespace platform;
  const std::uint16_t code = Value.VarType();
  switch (code) {
    case varEmpty:
    case varNull:
      SetNull(FDataType);
      return;
    case varSmallint:
      SetAsSmallint(static_cast<std::int16_t>(Value.ToInt64()));
      return;
    case varInteger:
      SetAsInteger(static_cast<std::int32_t>(Value.ToInt64()));
      return;
    case varSingle:
      SetAsSingle(static_cast<float>(Value.ToDouble()));
      return;
    case varDouble:
      SetAsDouble(Value.ToDouble());
      return;
    case varCurrency:
      SetAsCurrency(Value.ToDouble());
      return;
    case varDate:
      SetAsTDateTime(Value.ToDouble());
      return;
    case varOleStr:
      SetAsWideString(Value.ToWideString());
      return;
    case varBoolean:
      SetAsBoolean(Value.ToBoolean());
      return;
    case varShortInt:
      SetAsShortint(static_cast<std::int8_t>(Value.ToInt64()));
      return;
    case varByte:
      SetAsByte(static_cast<std::uint8_t>(Value.ToUInt64()));
      return;
    case varWord:
      SetAsWord(static_cast<std::uint16_t>(Value.ToUInt64()));
      return;
    case varLongWord:
      SetAsCardinal(static_cast<std::uint32_t>(Value.ToUInt64()));
      return;
    case varInt64:
      SetAsInt64(Value.ToInt64());
      return;
    default:
      break;
  }
  if (code >= 256 && code <= 287) {
    if (code == varUString)
      SetAsWideString(Value.ToWideString());
    else
      SetAsAnsiString(Value.ToAnsiString());
    return;
  }
  throw EVEZException(30113, "Unsupported Variant Type %s", {std::to_string(code)});
}

// ---- comparison -----------------------------------------------------------

TVEZCompareResult TVEZVariant::Compare(const TVEZVariant& Value, bool TrueFalseNullLogic,
                                       bool CaseInsensitive, bool PartialKey) const {
  const bool null1 = GetIsNull(), null2 = Value.GetIsNull();
  const TVEZCompareResult r =
      CompareTypedValues(FPData, Value.FPData, FDataType, Value.FDataType, null1, null2,
                         PartialKey ? Value.StrLen() : -1, CaseInsensitive, 0x400,
                         null1 ? -1 : FDataSize, null2 ? -1 : Value.FDataSize);
  if (TrueFalseNullLogic) return r;
  switch (r) {
    case cmprLeftNull:
      return cmprLower;
    case cmprRightNull:
      return cmprGreater;
    case cmprBothNull:
      return cmprEqual;
    default:
      return r;
  }
}

// ---- arithmetic -----------------------------------------------------------

void TVEZVariant::InvertValue() {
  if (GetIsNull()) return;
  const TVEZBaseFieldType t = FDataType;
  auto store = [&](const auto v) { SetTypedValue(&v, sizeof v, t); };
  switch (t) {
    case bftSignedInt8:
      store(static_cast<std::int8_t>(0u - static_cast<std::uint8_t>(GetAsShortint())));
      return;
    case bftSignedInt16:
      store(static_cast<std::int16_t>(0u - static_cast<std::uint16_t>(GetAsSmallint())));
      return;
    case bftSignedInt32:
    case bftDate: {
      std::int32_t v;
      GetTypedValue(&v, 4, t);
      if (v == INT32_MIN) throw platform::EIntOverflow("Integer overflow");
      store(static_cast<std::int32_t>(-v));
      return;
    }
    case bftSignedInt64: {
      const std::int64_t v = GetAsInt64();
      if (v == INT64_MIN) throw platform::EIntOverflow("Integer overflow");
      store(-v);
      return;
    }
    case bftUnsignedInt8:
      store(static_cast<std::uint8_t>(0u - GetAsByte()));
      return;
    case bftUnsignedInt16:
      store(static_cast<std::uint16_t>(0u - GetAsWord()));
      return;
    case bftUnsignedInt32:
      store(static_cast<std::uint32_t>(0u - GetAsCardinal()));
      return;
    case bftSingle:
      store(-GetAsSingle());
      return;
    case bftDouble:
      store(-GetAsDouble());
      return;
    case bftCurrency:
      store(-GetAsCurrency());
      return;
    case bftExtended:
      SetAsExtended(-GetAsExtended());
      return;
    case bftLogical:
      store(static_cast<std::int16_t>(GetAsBoolean() ? 0 : -1));
      return;
    default:
      throw EVEZException(30123, "Cannot invert value with not numeric type '%s'",
                          {BaseTypeToSQLTypeName(t)});
  }
}

void TVEZVariant::Add(const TVEZVariant& Value) {
  if (Value.GetIsNull()) {
    // Beside a string a NULL acts as the empty string.
    if (!IsStringDataType()) SetNull(FDataType);
    return;
  }
  if (GetIsNull()) {
    if (IsStringDataType()) Assign(Value, true);
    return;
  }
  Arithmetic(Value, TArithOp::Add);
}

void TVEZVariant::Sub(const TVEZVariant& Value) {
  if (GetIsNull() || Value.GetIsNull()) {
    SetNull(FDataType);
    return;
  }
  Arithmetic(Value, TArithOp::Sub);
}

void TVEZVariant::Mul(const TVEZVariant& Value) {
  if (GetIsNull() || Value.GetIsNull()) {
    SetNull(FDataType);
    return;
  }
  Arithmetic(Value, TArithOp::Mul);
}

void TVEZVariant::Division(const TVEZVariant& Value) {
  if (GetIsNull() || Value.GetIsNull()) {
    SetNull(FDataType);
    return;
  }
  try {
    Arithmetic(Value, TArithOp::Div);
  } catch (const EVEZException&) {
    throw;  // the engine's own errors pass unchanged
  } catch (const std::exception& e) {
    throw EVEZException(30128, "Division error: %s", {std::string(e.what())});
  }
}

namespace {

[[noreturn]] void RaiseDivByZero() {
  throw platform::Exception("Division by zero");
}

// Integer operation of the typed value: 32-bit (64-bit for Int64) arithmetic
// that wraps; division truncates toward zero.
template <typename Wide>
Wide IntOp(Wide a, Wide b, int op) {
  using U = std::make_unsigned_t<Wide>;
  switch (op) {
    case 0:
      return static_cast<Wide>(static_cast<U>(a) + static_cast<U>(b));
    case 1:
      return static_cast<Wide>(static_cast<U>(a) - static_cast<U>(b));
    case 2:
      return static_cast<Wide>(static_cast<U>(a) * static_cast<U>(b));
    default:
      if (b == 0) RaiseDivByZero();
      if constexpr (std::is_signed_v<Wide>) {
        if (a == std::numeric_limits<Wide>::min() && b == -1)
          throw platform::EIntOverflow("Integer overflow");
      }
      return a / b;
  }
}

// Day numbers of two date-times. A time brought to a date-time has the
// no-date value as its day: added or subtracted, it moves no days.
std::int32_t DayOp(std::int32_t a, std::int32_t b, int op) {
  if (op <= 1) {
    if (b == kVEZNoDate) return a;
    if (a == kVEZNoDate && op == 0) return b;
  }
  return IntOp<std::int32_t>(a, b, op);
}

template <typename F>
F FloatOp(F a, F b, int op) {
  switch (op) {
    case 0:
      return a + b;
    case 1:
      return a - b;
    case 2:
      return a * b;
    default: {
      if (b == 0) {
        if (a == 0 || std::isnan(a)) throw platform::Exception("Invalid floating point operation");
        throw platform::Exception("Floating point division by zero");
      }
      const F r = a / b;
      if (std::isinf(r) && std::isfinite(a) && std::isfinite(b))
        throw platform::Exception("Floating point overflow");
      return r;
    }
  }
}

}  // namespace

void TVEZVariant::Arithmetic(const TVEZVariant& Value, TArithOp Op) {
  static constexpr const char* kOpText[] = {"+", "-", "*", "/"};
  static constexpr std::int32_t kOpError[] = {30124, 30125, 30126, 30127};
  const int op = static_cast<int>(Op);
  const TVEZBaseFieldType g = GetCommonBaseType(FDataType, Value.FDataType, false);
  Cast(g);
  auto store = [&](const auto v) { SetTypedValue(&v, sizeof v, g); };
  // Reads both operands in g (this value already holds g) as T, combines
  // them in Wide (integers wrap) and stores the result cut back to T.
  auto int_case = [&](auto a, auto wide) {
    using T = decltype(a);
    using Wide = decltype(wide);
    T b;
    GetTypedValue(&a, sizeof a, g);
    Value.GetTypedValue(&b, sizeof b, g);
    store(static_cast<T>(IntOp<Wide>(a, b, op)));
  };
  auto float_case = [&](auto a) {
    decltype(a) b;
    GetTypedValue(&a, sizeof a, g);
    Value.GetTypedValue(&b, sizeof b, g);
    store(FloatOp(a, b, op));
  };
  switch (g) {
    case bftChar:
    case bftVarchar:
      if (Op != TArithOp::Add) RaiseNotNumeric(kOpError[op], kOpText[op]);
      SetAsAnsiString(GetAsAnsiString() + Value.GetAsAnsiString());
      return;
    case bftWideChar:
    case bftWideVarchar:
      if (Op != TArithOp::Add) RaiseNotNumeric(kOpError[op], kOpText[op]);
      SetAsWideString(GetAsWideString() + Value.GetAsWideString());
      return;
    case bftSignedInt8:
      int_case(std::int8_t{}, std::int32_t{});
      return;
    case bftSignedInt16:
      int_case(std::int16_t{}, std::int32_t{});
      return;
    case bftSignedInt32:
    case bftDate:
    case bftTime:
      int_case(std::int32_t{}, std::int32_t{});
      return;
    case bftSignedInt64:
      int_case(std::int64_t{}, std::int64_t{});
      return;
    case bftUnsignedInt8:
      int_case(std::uint8_t{}, std::uint32_t{});
      return;
    case bftUnsignedInt16:
      int_case(std::uint16_t{}, std::uint32_t{});
      return;
    case bftUnsignedInt32:
      int_case(std::uint32_t{}, std::uint32_t{});
      return;
    case bftSingle:
      float_case(float{});
      return;
    case bftDouble:
    case bftCurrency:
      float_case(double{});
      return;
    case bftExtended: {
      const long double a = GetAsExtended();
      const long double b = Value.GetAsExtended();
      SetAsExtended(FloatOp(a, b, op));
      return;
    }
    case bftDateTime: {
      const TVEZDateTime a = GetAsVEZDateTime();
      const TVEZDateTime b = Value.GetAsVEZDateTime();
      TVEZDateTime r;
      r.Date = DayOp(a.Date, b.Date, op);
      r.Time = IntOp<std::int32_t>(a.Time, b.Time, op);
      if (r.Time > kMsPerDay - 1) {
        r.Date = IntOp<std::int32_t>(r.Date, r.Time / kMsPerDay, 0);
        r.Time = r.Time % kMsPerDay;
      } else if (r.Time < 0 && r.Date != kVEZNoDate) {
        // A time below midnight (a date-time minus part of a day) borrows
        // whole days, so 06:00 minus half a day is 18:00 the day before.
        const std::int32_t days = (-(r.Time + 1)) / kMsPerDay + 1;
        r.Date = IntOp<std::int32_t>(r.Date, days, 1);
        r.Time = static_cast<std::int32_t>(r.Time + std::int64_t{days} * kMsPerDay);
      }
      SetAsVEZDateTime(r);
      return;
    }
    case bftLogical: {
      // Every operator of two Booleans is OR.
      const bool r = GetAsBoolean() || Value.GetAsBoolean();
      store(static_cast<std::int16_t>(r ? -1 : 0));
      return;
    }
    default:
      RaiseNotNumeric(kOpError[op], kOpText[op]);
  }
}

}  // namespace vez

#include "platform/core/Variant.h"

#include <cmath>

#include "platform/core/Exceptions.h"

namespace platform {

namespace {
[[noreturn]] void InvalidConversion() {
  throw EInvalidCast("Invalid variant type conversion");
}
}  // namespace

Variant Variant::OfSigned(std::uint16_t type, std::int64_t v) {
  Variant r(type);
  r.int_ = v;
  return r;
}
Variant Variant::OfUnsigned(std::uint16_t type, std::uint64_t v) {
  Variant r(type);
  r.uint_ = v;
  return r;
}
Variant Variant::OfFloat(std::uint16_t type, double v) {
  Variant r(type);
  r.float_ = v;
  return r;
}
Variant Variant::OfWide(std::uint16_t type, std::u16string v) {
  Variant r(type);
  r.wide_ = std::move(v);
  return r;
}

Variant Variant::Null() {
  return Variant(varNull);
}

Variant Variant::FromShortInt(std::int8_t v) {
  return OfSigned(varShortInt, v);
}
Variant Variant::FromSmallint(std::int16_t v) {
  return OfSigned(varSmallint, v);
}
Variant Variant::FromInteger(std::int32_t v) {
  return OfSigned(varInteger, v);
}
Variant Variant::FromInt64(std::int64_t v) {
  return OfSigned(varInt64, v);
}
Variant Variant::FromByte(std::uint8_t v) {
  return OfUnsigned(varByte, v);
}
Variant Variant::FromWord(std::uint16_t v) {
  return OfUnsigned(varWord, v);
}
Variant Variant::FromLongWord(std::uint32_t v) {
  return OfUnsigned(varLongWord, v);
}
Variant Variant::FromUInt64(std::uint64_t v) {
  return OfUnsigned(varUInt64, v);
}
Variant Variant::FromSingle(float v) {
  return OfFloat(varSingle, v);
}
Variant Variant::FromDouble(double v) {
  return OfFloat(varDouble, v);
}
Variant Variant::FromCurrency(double v) {
  const long double units = std::round(static_cast<long double>(v) * 10000.0L);
  // The fixed-point form holds +-922337203685477.5807.
  if (!(units >= -9223372036854775807.0L - 1.0L && units < 9223372036854775808.0L))
    throw EConvertError("Currency value out of range");
  return FromCurrencyUnits(static_cast<std::int64_t>(units));
}
Variant Variant::FromCurrencyUnits(std::int64_t ten_thousandths) {
  return OfSigned(varCurrency, ten_thousandths);
}
Variant Variant::FromDate(double v) {
  return OfFloat(varDate, v);
}
Variant Variant::FromBoolean(bool v) {
  return OfSigned(varBoolean, v ? -1 : 0);
}
Variant Variant::FromOleStr(std::u16string v) {
  return OfWide(varOleStr, std::move(v));
}
Variant Variant::FromString(std::string v) {
  Variant r(varString);
  r.ansi_ = std::move(v);
  return r;
}
Variant Variant::FromUString(std::u16string v) {
  return OfWide(varUString, std::move(v));
}
Variant Variant::FromArray(std::vector<Variant> items) {
  Variant r(static_cast<std::uint16_t>(varArray | varVariant));
  r.items_ = std::move(items);
  return r;
}

std::int64_t Variant::ToInt64() const {
  switch (type_) {
    case varShortInt:
    case varSmallint:
    case varInteger:
    case varInt64:
    case varBoolean:
      return int_;
    case varByte:
    case varWord:
    case varLongWord:
      return static_cast<std::int64_t>(uint_);
    case varUInt64:
      if (uint_ > static_cast<std::uint64_t>(INT64_MAX)) InvalidConversion();
      return static_cast<std::int64_t>(uint_);
    default:
      InvalidConversion();
  }
}

std::uint64_t Variant::ToUInt64() const {
  switch (type_) {
    case varByte:
    case varWord:
    case varLongWord:
    case varUInt64:
      return uint_;
    case varShortInt:
    case varSmallint:
    case varInteger:
    case varInt64:
    case varBoolean:
      if (int_ < 0) InvalidConversion();
      return static_cast<std::uint64_t>(int_);
    default:
      InvalidConversion();
  }
}

double Variant::ToDouble() const {
  switch (type_) {
    case varSingle:
    case varDouble:
    case varDate:
      return float_;
    case varCurrency:
      return static_cast<double>(static_cast<long double>(int_) / 10000.0L);
    case varShortInt:
    case varSmallint:
    case varInteger:
    case varInt64:
      return static_cast<double>(int_);
    case varByte:
    case varWord:
    case varLongWord:
    case varUInt64:
      return static_cast<double>(uint_);
    default:
      InvalidConversion();
  }
}

bool Variant::ToBoolean() const {
  switch (type_) {
    case varSingle:
    case varDouble:
      return float_ != 0;
    case varByte:
    case varWord:
    case varLongWord:
    case varUInt64:
      return uint_ != 0;
    case varShortInt:
    case varSmallint:
    case varInteger:
    case varInt64:
    case varBoolean:
      return int_ != 0;
    default:
      InvalidConversion();
  }
}

std::int64_t Variant::CurrencyUnits() const {
  if (type_ != varCurrency) InvalidConversion();
  return int_;
}

const std::string& Variant::ToAnsiString() const {
  if (type_ != varString) InvalidConversion();
  return ansi_;
}

const std::u16string& Variant::ToWideString() const {
  if (type_ != varOleStr && type_ != varUString) InvalidConversion();
  return wide_;
}

const std::vector<Variant>& Variant::Items() const {
  if (!IsArray()) InvalidConversion();
  return items_;
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.type_ != b.type_) return false;
  return a.int_ == b.int_ && a.uint_ == b.uint_ &&
         (a.float_ == b.float_ || (std::isnan(a.float_) && std::isnan(b.float_))) &&
         a.ansi_ == b.ansi_ && a.wide_ == b.wide_ && a.items_ == b.items_;
}

}  // namespace platform

// Variant: the program's tagged value in place of the platform's variant
// type. It keeps the platform's type codes (0 empty, 1 null, 2 Smallint ...
// 256 single-byte string, 258 UTF-16 string, 0x2000 array flag) because the
// engine's typed value and the dataset layer dispatch on them. Currency is
// held as the platform holds it: a 64-bit integer counting ten-thousandths.
//
// Thread safety: a Variant is a plain value; distinct objects may be used on
// distinct threads, one object needs external synchronisation.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// Type codes; the values are fixed and are what VarType() answers.
enum VarTypeCode : std::uint16_t {
  varEmpty = 0x0000,
  varNull = 0x0001,
  varSmallint = 0x0002,
  varInteger = 0x0003,
  varSingle = 0x0004,
  varDouble = 0x0005,
  varCurrency = 0x0006,
  varDate = 0x0007,
  varOleStr = 0x0008,
  varError = 0x000A,
  varBoolean = 0x000B,
  varVariant = 0x000C,
  varShortInt = 0x0010,
  varByte = 0x0011,
  varWord = 0x0012,
  varLongWord = 0x0013,
  varInt64 = 0x0014,
  varUInt64 = 0x0015,
  varString = 0x0100,   // single-byte (Windows-1252) string
  varUString = 0x0102,  // UTF-16 string
  varTypeMask = 0x0FFF,
  varArray = 0x2000,
};

class Variant {
 public:
  // An empty variant (varEmpty).
  Variant() = default;

  static Variant Null();
  static Variant FromShortInt(std::int8_t v);
  static Variant FromSmallint(std::int16_t v);
  static Variant FromInteger(std::int32_t v);
  static Variant FromInt64(std::int64_t v);
  static Variant FromByte(std::uint8_t v);
  static Variant FromWord(std::uint16_t v);
  static Variant FromLongWord(std::uint32_t v);
  static Variant FromUInt64(std::uint64_t v);
  static Variant FromSingle(float v);
  static Variant FromDouble(double v);
  // Rounded to the nearest ten-thousandth, halves away from zero. Raises
  // EConvertError when the value does not fit the 64-bit fixed-point form.
  static Variant FromCurrency(double v);
  static Variant FromCurrencyUnits(std::int64_t ten_thousandths);
  // Platform date-time: days since 1899-12-30, time of day as fraction.
  static Variant FromDate(double v);
  static Variant FromBoolean(bool v);
  static Variant FromOleStr(std::u16string v);
  static Variant FromString(std::string v);
  static Variant FromUString(std::u16string v);
  // An array of variants (type code varArray | varVariant).
  static Variant FromArray(std::vector<Variant> items);

  std::uint16_t VarType() const { return type_; }
  bool IsEmpty() const { return type_ == varEmpty; }
  bool IsNull() const { return type_ == varNull; }
  bool IsArray() const { return (type_ & varArray) != 0; }

  // Readers. Each accepts the variant kinds that convert without loss of
  // meaning and raises EInvalidCast ("Invalid variant type conversion")
  // for the others: ToInt64 and ToUInt64 take integer kinds and Boolean
  // (True is -1 as on the platform); ToDouble takes every numeric kind,
  // currency and date; ToBoolean integer kinds, floats and Boolean;
  // ToAnsiString varString; ToWideString varOleStr and varUString.
  std::int64_t ToInt64() const;
  std::uint64_t ToUInt64() const;
  double ToDouble() const;
  bool ToBoolean() const;
  std::int64_t CurrencyUnits() const;
  const std::string& ToAnsiString() const;
  const std::u16string& ToWideString() const;
  const std::vector<Variant>& Items() const;

  friend bool operator==(const Variant& a, const Variant& b);

 private:
  Variant(std::uint16_t type) : type_(type) {}
  static Variant OfSigned(std::uint16_t type, std::int64_t v);
  static Variant OfUnsigned(std::uint16_t type, std::uint64_t v);
  static Variant OfFloat(std::uint16_t type, double v);
  static Variant OfWide(std::uint16_t type, std::u16string v);

  std::uint16_t type_ = varEmpty;
  std::int64_t int_ = 0;        // signed integer kinds, Boolean, currency units
  std::uint64_t uint_ = 0;      // unsigned integer kinds
  double float_ = 0;            // varSingle, varDouble, varDate
  std::string ansi_;            // varString
  std::u16string wide_;         // varOleStr, varUString
  std::vector<Variant> items_;  // arrays
};

}  // namespace platform

#include "platform/dataset/Field.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

#include "platform/core/CheckedMath.h"
#include "platform/core/CodePage.h"
#include "platform/core/Collation.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Format.h"
#include "platform/core/TextConvert.h"
#include "platform/dataset/ByteOrder.h"
#include "platform/dataset/DBConsts.h"
#include "platform/dataset/DataSet.h"
#include "platform/dataset/DatabaseError.h"
#include "platform/dataset/FieldDefs.h"

namespace platform {

namespace {

bool IsTextVariant(const Variant& v) {
  const auto t = v.VarType();
  return t == varString || t == varUString || t == varOleStr;
}

bool IsIntegerVariant(const Variant& v) {
  switch (v.VarType()) {
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
    case varBoolean:
      return true;
    default:
      return false;
  }
}

// Round half to even, as the platform's Round does.
double RoundEven(double v) {
  return std::nearbyint(v);
}

}  // namespace

std::string VariantToText(const Variant& value) {
  switch (value.VarType()) {
    case varEmpty:
    case varNull:
      return {};
    case varString:
      return value.ToAnsiString();
    case varUString:
    case varOleStr:
      return WideToAnsi(value.ToWideString());
    case varBoolean:
      return value.ToBoolean() ? dbconsts::STextTrue : dbconsts::STextFalse;
    case varDate:
      return DateTimeToStr(value.ToDouble());
    case varSingle:
    case varDouble:
      return FloatToStr(value.ToDouble());
    case varCurrency:
      return CurrToStr(value.ToDouble());
    case varUInt64:
      return UIntToStr(value.ToUInt64());
    default:
      if (IsIntegerVariant(value)) return IntToStr(value.ToInt64());
      throw EInvalidCast("Invalid variant type conversion");
  }
}

// ---- Field

Field::Field(TFieldType type, int size) : type_(type), size_(size) {}

bool Field::GetData(void* buffer, bool native_format) const {
  if (dataset_ == nullptr) DatabaseError(Format(dbconsts::SDataSetMissing, {DisplayName()}));
  return dataset_->GetFieldData(*this, buffer, native_format);
}

void Field::SetData(const void* buffer, bool native_format) {
  if (dataset_ == nullptr) DatabaseError(Format(dbconsts::SDataSetMissing, {DisplayName()}));
  const TDataSetState s = dataset_->State();
  if (ReadOnly && s != TDataSetState::dsCalcFields && s != TDataSetState::dsSetKey &&
      s != TDataSetState::dsFilter && s != TDataSetState::dsInternalCalc)
    DatabaseError(Format(dbconsts::SFieldReadOnly, {DisplayName()}), dataset_->Name);
  dataset_->SetFieldData(*this, buffer, native_format);
}

bool Field::IsNull() const {
  return !GetData(nullptr);
}

void Field::Validate(const void* buffer) {
  if (OnValidate) OnValidate(*this, buffer);
}

void Field::Change() {
  if (OnChange) OnChange(*this);
}

void Field::AccessError(const char* type_name) const {
  DatabaseError(Format(dbconsts::SFieldAccessError, {DisplayName(), type_name}));
}

void Field::RangeError(long double value, long double min, long double max) const {
  DatabaseError(Format(dbconsts::SFieldRangeError,
                       {FloatToStr(value), DisplayName(), FloatToStr(min), FloatToStr(max)}));
}

std::string Field::AsString() const {
  AccessError("String");
}
void Field::SetAsString(const std::string&) {
  AccessError("String");
}
std::int32_t Field::AsInteger() const {
  AccessError("Integer");
}
void Field::SetAsInteger(std::int32_t) {
  AccessError("Integer");
}
std::int64_t Field::AsLargeInt() const {
  return AsInteger();
}
void Field::SetAsLargeInt(std::int64_t value) {
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    RangeError(static_cast<long double>(value), std::numeric_limits<std::int32_t>::min(),
               std::numeric_limits<std::int32_t>::max());
  SetAsInteger(static_cast<std::int32_t>(value));
}
double Field::AsFloat() const {
  AccessError("Float");
}
void Field::SetAsFloat(double) {
  AccessError("Float");
}
bool Field::AsBoolean() const {
  AccessError("Boolean");
}
void Field::SetAsBoolean(bool) {
  AccessError("Boolean");
}
TDateTime Field::AsDateTime() const {
  AccessError("DateTime");
}
void Field::SetAsDateTime(TDateTime) {
  AccessError("DateTime");
}
std::u16string Field::AsWideString() const {
  return AnsiToWide(AsString());
}
void Field::SetAsWideString(const std::u16string& value) {
  SetAsString(WideToAnsi(value));
}
Variant Field::Value() const {
  AccessError("Variant");
}
void Field::SetVarValue(const Variant&) {
  AccessError("Variant");
}

void Field::SetValue(const Variant& value) {
  // Empty clears too: an empty value in AppendRecord leaves the column to
  // the engine (autoincrement) instead of storing 0.
  if (value.IsNull() || value.IsEmpty())
    Clear();
  else
    SetVarValue(value);
}

void Field::Assign(const Field& source) {
  if (&source == this) return;
  if (source.IsNull())
    Clear();
  else
    SetValue(source.Value());
}

// ---- StringField

bool StringField::GetValue(std::string& value) const {
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(DataSize()), 0);
  if (!GetData(buf.data())) return false;
  const auto* p = reinterpret_cast<const char*>(buf.data());
  value.assign(p, strnlen(p, static_cast<std::size_t>(Size())));
  return true;
}

std::string StringField::AsString() const {
  std::string s;
  return GetValue(s) ? s : std::string();
}

void StringField::SetAsString(const std::string& value) {
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(DataSize()), 0);
  const std::size_t n =
      std::min(strnlen(value.c_str(), value.size()), static_cast<std::size_t>(Size()));
  std::memcpy(buf.data(), value.data(), n);
  SetData(buf.data());
}

std::int32_t StringField::AsInteger() const {
  std::string s;
  return GetValue(s) ? StrToInt(s) : 0;
}
void StringField::SetAsInteger(std::int32_t value) {
  SetAsString(IntToStr(value));
}
std::int64_t StringField::AsLargeInt() const {
  std::string s;
  return GetValue(s) ? StrToInt64(s) : 0;
}
void StringField::SetAsLargeInt(std::int64_t value) {
  SetAsString(IntToStr(value));
}
double StringField::AsFloat() const {
  std::string s;
  return GetValue(s) ? static_cast<double>(StrToFloat(s)) : 0.0;
}
void StringField::SetAsFloat(double value) {
  SetAsString(FloatToStr(value));
}
bool StringField::AsBoolean() const {
  const std::string s = AsString();
  return !s.empty() && (s[0] == 'T' || s[0] == 't' || s[0] == 'Y' || s[0] == 'y');
}
void StringField::SetAsBoolean(bool value) {
  SetAsString(value ? "T" : "F");
}
TDateTime StringField::AsDateTime() const {
  std::string s;
  return GetValue(s) ? StrToDateTime(s) : 0.0;
}
void StringField::SetAsDateTime(TDateTime value) {
  SetAsString(DateTimeToStr(value));
}
Variant StringField::Value() const {
  std::string s;
  return GetValue(s) ? Variant::FromString(std::move(s)) : Variant::Null();
}
void StringField::SetVarValue(const Variant& value) {
  SetAsString(VariantToText(value));
}

// ---- WideStringField

bool WideStringField::GetValue(std::u16string& value) const {
  std::vector<char16_t> buf(static_cast<std::size_t>(Size()) + 1, 0);
  if (!GetData(buf.data())) return false;
  std::size_t n = 0;
  while (n < static_cast<std::size_t>(Size()) && buf[n] != 0)
    ++n;
  value.assign(buf.data(), n);
  return true;
}

std::u16string WideStringField::AsWideString() const {
  std::u16string s;
  return GetValue(s) ? s : std::u16string();
}

void WideStringField::SetAsWideString(const std::u16string& value) {
  std::vector<char16_t> buf(static_cast<std::size_t>(Size()) + 1, 0);
  std::size_t n = 0;
  while (n < value.size() && n < static_cast<std::size_t>(Size()) && value[n] != 0)
    ++n;
  std::copy(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(n), buf.begin());
  SetData(buf.data());
}

std::string WideStringField::AsString() const {
  return WideToAnsi(AsWideString());
}
void WideStringField::SetAsString(const std::string& value) {
  SetAsWideString(AnsiToWide(value));
}
Variant WideStringField::Value() const {
  std::u16string s;
  return GetValue(s) ? Variant::FromUString(std::move(s)) : Variant::Null();
}
void WideStringField::SetVarValue(const Variant& value) {
  if (value.VarType() == varUString || value.VarType() == varOleStr)
    SetAsWideString(value.ToWideString());
  else
    SetAsString(VariantToText(value));
}

// ---- IntegerField

IntegerField::IntegerField(TFieldType type) : Field(type, 0) {
  switch (type) {
    case ftSmallint:
      min_ = std::numeric_limits<std::int16_t>::min();
      max_ = std::numeric_limits<std::int16_t>::max();
      break;
    case ftWord:
      min_ = 0;
      max_ = std::numeric_limits<std::uint16_t>::max();
      break;
    case ftLargeint:
      min_ = std::numeric_limits<std::int64_t>::min();
      max_ = std::numeric_limits<std::int64_t>::max();
      break;
    default:
      min_ = std::numeric_limits<std::int32_t>::min();
      max_ = std::numeric_limits<std::int32_t>::max();
      break;
  }
}

int IntegerField::DataSize() const {
  switch (DataType()) {
    case ftSmallint:
    case ftWord:
      return 2;
    case ftLargeint:
      return 8;
    default:
      return 4;
  }
}

bool IntegerField::GetValue(std::int64_t& value) const {
  std::uint8_t buf[8] = {};
  if (!GetData(buf)) return false;
  switch (DataType()) {
    case ftSmallint:
      value = LoadLE<std::int16_t>(buf);
      break;
    case ftWord:
      value = LoadLE<std::uint16_t>(buf);
      break;
    case ftLargeint:
      value = LoadLE<std::int64_t>(buf);
      break;
    default:
      value = LoadLE<std::int32_t>(buf);
      break;
  }
  return true;
}

std::int64_t IntegerField::AsLargeInt() const {
  std::int64_t v = 0;
  return GetValue(v) ? v : 0;
}

void IntegerField::SetAsLargeInt(std::int64_t value) {
  if (value < min_ || value > max_)
    RangeError(static_cast<long double>(value), static_cast<long double>(min_),
               static_cast<long double>(max_));
  std::uint8_t buf[8] = {};
  switch (DataType()) {
    case ftSmallint:
      StoreLE(buf, static_cast<std::int16_t>(value));
      break;
    case ftWord:
      StoreLE(buf, static_cast<std::uint16_t>(value));
      break;
    case ftLargeint:
      StoreLE(buf, value);
      break;
    default:
      StoreLE(buf, static_cast<std::int32_t>(value));
      break;
  }
  SetData(buf);
}

std::int32_t IntegerField::AsInteger() const {
  const std::int64_t v = AsLargeInt();
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    RangeError(static_cast<long double>(v), std::numeric_limits<std::int32_t>::min(),
               std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int32_t>(v);
}

void IntegerField::SetAsInteger(std::int32_t value) {
  SetAsLargeInt(value);
}

std::string IntegerField::AsString() const {
  std::int64_t v = 0;
  return GetValue(v) ? IntToStr(v) : std::string();
}

void IntegerField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  SetAsLargeInt(StrToInt64(value));
}

double IntegerField::AsFloat() const {
  return static_cast<double>(AsLargeInt());
}

void IntegerField::SetAsFloat(double value) {
  const double r = RoundEven(value);
  // Compared as doubles first: casting an out-of-range double is undefined.
  // max_ + 1 is exact for every width (2^63 for Int64, where max_ rounds up).
  if (!(r >= static_cast<double>(min_) && r < static_cast<double>(max_) + 1.0))
    RangeError(value, static_cast<long double>(min_), static_cast<long double>(max_));
  SetAsLargeInt(static_cast<std::int64_t>(r));
}

Variant IntegerField::Value() const {
  std::int64_t v = 0;
  if (!GetValue(v)) return Variant::Null();
  switch (DataType()) {
    case ftSmallint:
      return Variant::FromSmallint(static_cast<std::int16_t>(v));
    case ftLargeint:
      return Variant::FromInt64(v);
    default:
      return Variant::FromInteger(static_cast<std::int32_t>(v));
  }
}

void IntegerField::SetVarValue(const Variant& value) {
  if (IsTextVariant(value))
    SetAsString(VariantToText(value));
  else if (value.VarType() == varUInt64) {
    const std::uint64_t u = value.ToUInt64();
    if (u > static_cast<std::uint64_t>(max_))
      RangeError(static_cast<long double>(u), static_cast<long double>(min_),
                 static_cast<long double>(max_));
    SetAsLargeInt(static_cast<std::int64_t>(u));
  } else if (IsIntegerVariant(value))
    SetAsLargeInt(value.ToInt64());
  else
    SetAsFloat(value.ToDouble());
}

// ---- FloatField

bool FloatField::GetValue(double& value) const {
  std::uint8_t buf[8] = {};
  if (!GetData(buf)) return false;
  value = LoadLE<double>(buf);
  return true;
}

double FloatField::AsFloat() const {
  double v = 0;
  return GetValue(v) ? v : 0.0;
}

void FloatField::SetAsFloat(double value) {
  std::uint8_t buf[8];
  StoreLE(buf, value);
  SetData(buf);
}

std::string FloatField::AsString() const {
  double v = 0;
  return GetValue(v) ? FloatToStr(v) : std::string();
}

void FloatField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  double v = 0;
  if (!TryStrToFloat(value, v))
    throw EConvertError(Format("'%s' is not a valid floating point value", {value}));
  SetAsFloat(v);
}

std::int64_t FloatField::AsLargeInt() const {
  const double r = RoundEven(AsFloat());
  // 2^63 is the first double past the largest Int64.
  if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0))
    RangeError(r, std::numeric_limits<std::int64_t>::min(),
               std::numeric_limits<std::int64_t>::max());
  return static_cast<std::int64_t>(r);
}

std::int32_t FloatField::AsInteger() const {
  const double r = RoundEven(AsFloat());
  if (!(r >= -2147483648.0 && r <= 2147483647.0))
    RangeError(r, std::numeric_limits<std::int32_t>::min(),
               std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int32_t>(r);
}

void FloatField::SetAsInteger(std::int32_t value) {
  SetAsFloat(value);
}
void FloatField::SetAsLargeInt(std::int64_t value) {
  SetAsFloat(static_cast<double>(value));
}

Variant FloatField::Value() const {
  double v = 0;
  return GetValue(v) ? Variant::FromDouble(v) : Variant::Null();
}

void FloatField::SetVarValue(const Variant& value) {
  if (IsTextVariant(value))
    SetAsString(VariantToText(value));
  else
    SetAsFloat(value.ToDouble());
}

Variant CurrencyField::Value() const {
  double v = 0;
  return GetValue(v) ? Variant::FromCurrency(v) : Variant::Null();
}

// ---- BooleanField

bool BooleanField::GetValue(bool& value) const {
  std::uint8_t buf[2] = {};
  if (!GetData(buf)) return false;
  value = LoadLE<std::int16_t>(buf) != 0;
  return true;
}

bool BooleanField::AsBoolean() const {
  bool v = false;
  return GetValue(v) && v;
}

void BooleanField::SetAsBoolean(bool value) {
  std::uint8_t buf[2];
  StoreLE(buf, static_cast<std::int16_t>(value ? -1 : 0));
  SetData(buf);
}

std::string BooleanField::AsString() const {
  bool v = false;
  if (!GetValue(v)) return {};
  return v ? dbconsts::STextTrue : dbconsts::STextFalse;
}

void BooleanField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  const std::string_view t = dbconsts::STextTrue, f = dbconsts::STextFalse;
  if (value.size() <= f.size() && AnsiSameText(value, f.substr(0, value.size())))
    SetAsBoolean(false);
  else if (value.size() <= t.size() && AnsiSameText(value, t.substr(0, value.size())))
    SetAsBoolean(true);
  else
    DatabaseError(Format(dbconsts::SInvalidBoolValue, {value, DisplayName()}));
}

Variant BooleanField::Value() const {
  bool v = false;
  return GetValue(v) ? Variant::FromBoolean(v) : Variant::Null();
}

void BooleanField::SetVarValue(const Variant& value) {
  if (IsTextVariant(value))
    SetAsString(VariantToText(value));
  else
    SetAsBoolean(value.ToBoolean());
}

// ---- DateTimeField (and date, time)

int DateTimeField::DataSize() const {
  return DataType() == ftDateTime ? 8 : 4;
}

bool DateTimeField::GetValue(TDateTime& value) const {
  double v = 0;
  if (!GetData(&v, false)) return false;
  value = v;
  return true;
}

TDateTime DateTimeField::AsDateTime() const {
  TDateTime v = 0;
  return GetValue(v) ? v : 0.0;
}

void DateTimeField::SetAsDateTime(TDateTime value) {
  SetData(&value, false);
}
double DateTimeField::AsFloat() const {
  return AsDateTime();
}
void DateTimeField::SetAsFloat(double value) {
  SetAsDateTime(value);
}

std::string DateTimeField::AsString() const {
  TDateTime v = 0;
  if (!GetValue(v)) return {};
  switch (DataType()) {
    case ftDate:
      return DateToStr(v);
    case ftTime:
      return TimeToStr(v);
    default:
      return DateTimeToStr(v);
  }
}

void DateTimeField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  switch (DataType()) {
    case ftDate:
      SetAsDateTime(StrToDate(value));
      break;
    case ftTime:
      SetAsDateTime(StrToTime(value));
      break;
    default:
      SetAsDateTime(StrToDateTime(value));
      break;
  }
}

Variant DateTimeField::Value() const {
  TDateTime v = 0;
  return GetValue(v) ? Variant::FromDate(v) : Variant::Null();
}

void DateTimeField::SetVarValue(const Variant& value) {
  if (IsTextVariant(value))
    SetAsString(VariantToText(value));
  else
    SetAsDateTime(value.ToDouble());
}

// ---- SQL time stamps

void EncodeSQLTimeStamp(const TSQLTimeStamp& v, std::uint8_t* out) {
  StoreLE(out + 0, v.Year);
  StoreLE(out + 2, v.Month);
  StoreLE(out + 4, v.Day);
  StoreLE(out + 6, v.Hour);
  StoreLE(out + 8, v.Minute);
  StoreLE(out + 10, v.Second);
  StoreLE(out + 12, v.Fractions);
}

TSQLTimeStamp DecodeSQLTimeStamp(const std::uint8_t* in) {
  TSQLTimeStamp v;
  v.Year = LoadLE<std::uint16_t>(in + 0);
  v.Month = LoadLE<std::uint16_t>(in + 2);
  v.Day = LoadLE<std::uint16_t>(in + 4);
  v.Hour = LoadLE<std::uint16_t>(in + 6);
  v.Minute = LoadLE<std::uint16_t>(in + 8);
  v.Second = LoadLE<std::uint16_t>(in + 10);
  v.Fractions = LoadLE<std::uint32_t>(in + 12);
  return v;
}

TSQLTimeStamp DateTimeToSQLTimeStamp(TDateTime value) {
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(value, y, mo, d, h, mi, s, ms);
  TSQLTimeStamp r;
  r.Year = static_cast<std::uint16_t>(y);
  r.Month = static_cast<std::uint16_t>(mo);
  r.Day = static_cast<std::uint16_t>(d);
  r.Hour = static_cast<std::uint16_t>(h);
  r.Minute = static_cast<std::uint16_t>(mi);
  r.Second = static_cast<std::uint16_t>(s);
  r.Fractions = static_cast<std::uint32_t>(ms);
  return r;
}

TDateTime SQLTimeStampToDateTime(const TSQLTimeStamp& v) {
  if (v.Fractions > 999) throw EConvertError("Invalid argument to time encode");
  return EncodeDateTime(v.Year, v.Month, v.Day, v.Hour, v.Minute, v.Second,
                        static_cast<int>(v.Fractions));
}

bool SQLTimeStampField::GetValue(TSQLTimeStamp& value) const {
  std::uint8_t buf[kSQLTimeStampSize] = {};
  if (!GetData(buf, false)) return false;
  value = DecodeSQLTimeStamp(buf);
  return true;
}

TDateTime SQLTimeStampField::AsDateTime() const {
  TSQLTimeStamp v;
  return GetValue(v) ? SQLTimeStampToDateTime(v) : 0.0;
}

void SQLTimeStampField::SetAsDateTime(TDateTime value) {
  std::uint8_t buf[kSQLTimeStampSize];
  EncodeSQLTimeStamp(DateTimeToSQLTimeStamp(value), buf);
  SetData(buf, false);
}

double SQLTimeStampField::AsFloat() const {
  return AsDateTime();
}

std::string SQLTimeStampField::AsString() const {
  TSQLTimeStamp v;
  return GetValue(v) ? DateTimeToStr(SQLTimeStampToDateTime(v)) : std::string();
}

void SQLTimeStampField::SetAsString(const std::string& value) {
  if (value.empty())
    Clear();
  else
    SetAsDateTime(StrToDateTime(value));
}

Variant SQLTimeStampField::Value() const {
  TSQLTimeStamp v;
  return GetValue(v) ? Variant::FromDate(SQLTimeStampToDateTime(v)) : Variant::Null();
}

void SQLTimeStampField::SetVarValue(const Variant& value) {
  if (IsTextVariant(value))
    SetAsString(VariantToText(value));
  else
    SetAsDateTime(value.ToDouble());
}

// ---- BytesField

bool BytesField::GetValue(std::string& bytes) const {
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(DataSize()), 0);
  if (!GetData(buf.data())) return false;
  if (DataType() == ftVarBytes) {
    const std::size_t n =
        std::min<std::size_t>(LoadLE<std::uint16_t>(buf.data()), static_cast<std::size_t>(Size()));
    bytes.assign(reinterpret_cast<const char*>(buf.data()) + 2, n);
  } else {
    bytes.assign(reinterpret_cast<const char*>(buf.data()), buf.size());
  }
  return true;
}

std::string BytesField::AsString() const {
  std::string s;
  return GetValue(s) ? s : std::string();
}

void BytesField::SetAsString(const std::string& value) {
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(DataSize()), 0);
  const std::size_t n = std::min(value.size(), static_cast<std::size_t>(Size()));
  if (DataType() == ftVarBytes) {
    StoreLE(buf.data(), static_cast<std::uint16_t>(n));
    std::memcpy(buf.data() + 2, value.data(), n);
  } else {
    std::memcpy(buf.data(), value.data(), n);
  }
  SetData(buf.data());
}

Variant BytesField::Value() const {
  std::string s;
  if (!GetValue(s)) return Variant::Null();
  std::vector<Variant> items;
  items.reserve(s.size());
  for (const char c : s)
    items.push_back(Variant::FromByte(static_cast<std::uint8_t>(c)));
  return Variant::FromArray(std::move(items));
}

void BytesField::SetVarValue(const Variant& value) {
  if (value.IsArray()) {
    std::string s;
    for (const Variant& item : value.Items()) {
      const std::int64_t b = item.ToInt64();
      if (b < 0 || b > 255) throw EInvalidCast("Invalid variant type conversion");
      s.push_back(static_cast<char>(b));
    }
    SetAsString(s);
  } else {
    SetAsString(VariantToText(value));
  }
}

// ---- BLOB fields

namespace {

std::unique_ptr<Stream> OpenBlob(const Field& field, TBlobStreamMode mode) {
  DataSet* ds = field.GetDataSet();
  if (ds == nullptr) DatabaseError(Format(dbconsts::SDataSetMissing, {field.DisplayName()}));
  std::unique_ptr<Stream> s = ds->CreateBlobStream(const_cast<Field&>(field), mode);
  if (!s) DatabaseError(Format(dbconsts::SNoBlobStream, {field.DisplayName()}));
  return s;
}

std::string ReadAll(Stream& s) {
  const std::int64_t size = s.GetSize();
  if (size < 0 || size > std::numeric_limits<std::int32_t>::max()) throw EIntOverflow();
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (s.Seek(0, soBeginning) != 0) throw EReadError("Stream read error");
  if (size > 0 && s.Read(bytes.data(), static_cast<std::int32_t>(size)) != size)
    throw EReadError("Stream read error");
  return bytes;
}

void WriteAll(Stream& s, std::string_view bytes) {
  if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
    throw EIntOverflow();
  const auto n = static_cast<std::int32_t>(bytes.size());
  if (n > 0 && s.Write(bytes.data(), n) != n) throw EWriteError("Stream write error");
}

}  // namespace

std::string BlobField::AsString() const {
  if (IsNull()) return {};
  auto s = OpenBlob(*this, TBlobStreamMode::bmRead);
  return ReadAll(*s);
}

void BlobField::SetAsString(const std::string& value) {
  auto s = OpenBlob(*this, TBlobStreamMode::bmWrite);
  WriteAll(*s, value);
}

std::int64_t BlobField::BlobSize() const {
  if (IsNull()) return 0;
  return OpenBlob(*this, TBlobStreamMode::bmRead)->GetSize();
}

Variant BlobField::Value() const {
  if (IsNull()) return Variant::Null();
  return Variant::FromString(AsString());
}

void BlobField::SetVarValue(const Variant& value) {
  if (value.IsArray()) {
    std::string s;
    for (const Variant& item : value.Items())
      s.push_back(static_cast<char>(item.ToInt64()));
    SetAsString(s);
  } else {
    SetAsString(VariantToText(value));
  }
}

void BlobField::LoadFromStream(Stream& stream) {
  const std::int64_t pos = stream.Seek(0, soCurrent);
  const std::int64_t size = stream.GetSize();
  if (pos < 0 || size < pos || size - pos > std::numeric_limits<std::int32_t>::max())
    throw EReadError("Stream read error");
  std::string bytes(static_cast<std::size_t>(size - pos), '\0');
  if (!bytes.empty() && stream.Read(bytes.data(), static_cast<std::int32_t>(bytes.size())) !=
                            static_cast<std::int32_t>(bytes.size()))
    throw EReadError("Stream read error");
  SetAsString(bytes);
}

void BlobField::SaveToStream(Stream& stream) const {
  WriteAll(stream, AsString());
}

void BlobField::Assign(const Field& source) {
  if (&source == this) return;
  if (source.IsBlob()) {
    if (source.IsNull()) {
      Clear();
      return;
    }
    auto in = OpenBlob(source, TBlobStreamMode::bmRead);
    const std::string bytes = ReadAll(*in);
    in.reset();
    auto out = OpenBlob(*this, TBlobStreamMode::bmWrite);
    WriteAll(*out, bytes);
    return;
  }
  Field::Assign(source);
}

std::u16string WideMemoField::AsWideString() const {
  const std::string bytes = BlobField::AsString();
  std::u16string s(bytes.size() / 2, u'\0');
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

void WideMemoField::SetAsWideString(const std::u16string& value) {
  std::string bytes(value.size() * 2, '\0');
  std::memcpy(bytes.data(), value.data(), bytes.size());
  BlobField::SetAsString(bytes);
}

std::string WideMemoField::AsString() const {
  return WideToAnsi(AsWideString());
}
void WideMemoField::SetAsString(const std::string& value) {
  SetAsWideString(AnsiToWide(value));
}
Variant WideMemoField::Value() const {
  if (IsNull()) return Variant::Null();
  return Variant::FromUString(AsWideString());
}
void WideMemoField::SetVarValue(const Variant& value) {
  if (value.VarType() == varUString || value.VarType() == varOleStr)
    SetAsWideString(value.ToWideString());
  else
    SetAsString(VariantToText(value));
}

// ---- field classes by type

std::unique_ptr<Field> CreateFieldOfType(TFieldType type, int size) {
  switch (type) {
    case ftString:
    case ftFixedChar:
      return std::make_unique<StringField>(size, type);
    case ftGuid:
      return std::make_unique<GuidField>();
    case ftWideString:
      return std::make_unique<WideStringField>(size);
    case ftSmallint:
      return std::make_unique<SmallintField>();
    case ftWord:
      return std::make_unique<WordField>();
    case ftInteger:
      return std::make_unique<IntegerField>();
    case ftAutoInc:
      return std::make_unique<AutoIncField>();
    case ftLargeint:
      return std::make_unique<LargeintField>();
    case ftFloat:
      return std::make_unique<FloatField>();
    case ftCurrency:
      return std::make_unique<CurrencyField>();
    case ftBoolean:
      return std::make_unique<BooleanField>();
    case ftDate:
      return std::make_unique<DateField>();
    case ftTime:
      return std::make_unique<TimeField>();
    case ftDateTime:
      return std::make_unique<DateTimeField>();
    case ftTimeStamp:
      return std::make_unique<SQLTimeStampField>();
    case ftBytes:
      return std::make_unique<BytesField>(size);
    case ftVarBytes:
      return std::make_unique<VarBytesField>(size);
    case ftMemo:
    case ftFmtMemo:
    case ftOraClob:
      return std::make_unique<MemoField>(type);
    case ftWideMemo:
      return std::make_unique<WideMemoField>();
    case ftBlob:
    case ftGraphic:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
      return std::make_unique<BlobField>(type);
    default:
      return nullptr;
  }
}

}  // namespace platform

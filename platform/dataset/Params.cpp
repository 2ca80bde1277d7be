#include "platform/dataset/Params.h"

#include <cmath>
#include <cstdint>

#include "platform/core/CodePage.h"
#include "platform/core/Collation.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Format.h"
#include "platform/core/TextConvert.h"
#include "platform/dataset/DBConsts.h"
#include "platform/dataset/DatabaseError.h"
#include "platform/dataset/Field.h"

namespace platform {

namespace {

TFieldType TypeOfVariant(const Variant& v) {
  switch (v.VarType()) {
    case varSmallint:
    case varShortInt:
    case varByte:
      return ftSmallint;
    case varWord:
      return ftWord;
    case varInteger:
    case varLongWord:
      return ftInteger;
    case varInt64:
    case varUInt64:
      return ftLargeint;
    case varSingle:
    case varDouble:
      return ftFloat;
    case varCurrency:
      return ftCurrency;
    case varDate:
      return ftDateTime;
    case varBoolean:
      return ftBoolean;
    case varString:
      return ftString;
    case varUString:
    case varOleStr:
      return ftWideString;
    default:
      return ftUnknown;
  }
}

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

bool IsQuote(char c) {
  return c == '\'' || c == '"' || c == '`';
}

}  // namespace

// ---- Param

void Param::Clear() {
  value_ = Variant::Null();
}

void Param::SetValue(const Variant& value) {
  if (DataType == ftUnknown) DataType = TypeOfVariant(value);
  value_ = value;
  Bound = true;
}

void Param::SetAsString(const std::string& value) {
  DataType = ftString;
  SetValue(Variant::FromString(value));
}
void Param::SetAsWideString(const std::u16string& value) {
  DataType = ftWideString;
  SetValue(Variant::FromUString(value));
}
void Param::SetAsInteger(std::int32_t value) {
  DataType = ftInteger;
  SetValue(Variant::FromInteger(value));
}
void Param::SetAsLargeInt(std::int64_t value) {
  DataType = ftLargeint;
  SetValue(Variant::FromInt64(value));
}
void Param::SetAsFloat(double value) {
  DataType = ftFloat;
  SetValue(Variant::FromDouble(value));
}
void Param::SetAsBoolean(bool value) {
  DataType = ftBoolean;
  SetValue(Variant::FromBoolean(value));
}
void Param::SetAsDateTime(TDateTime value) {
  DataType = ftDateTime;
  SetValue(Variant::FromDate(value));
}
void Param::SetAsBlob(const std::string& bytes) {
  DataType = ftBlob;
  SetValue(Variant::FromString(bytes));
}
void Param::SetAsMemo(const std::string& text) {
  DataType = ftMemo;
  SetValue(Variant::FromString(text));
}

std::string Param::AsString() const {
  return IsNull() ? std::string() : VariantToText(value_);
}

std::int64_t Param::AsLargeInt() const {
  if (IsNull()) return 0;
  const auto t = value_.VarType();
  if (t == varString || t == varUString || t == varOleStr) return StrToInt64(AsString());
  if (t == varSingle || t == varDouble || t == varCurrency || t == varDate) {
    const double d = value_.ToDouble();
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0))
      throw EConvertError(Format("'%s' is not a valid integer value", {AsString()}));
    return static_cast<std::int64_t>(std::nearbyint(d));
  }
  return value_.ToInt64();
}

std::int32_t Param::AsInteger() const {
  const std::int64_t v = AsLargeInt();
  if (v < INT32_MIN || v > INT32_MAX)
    throw EConvertError(Format("'%s' is not a valid integer value", {AsString()}));
  return static_cast<std::int32_t>(v);
}

double Param::AsFloat() const {
  if (IsNull()) return 0;
  const auto t = value_.VarType();
  if (t == varString || t == varUString || t == varOleStr)
    return static_cast<double>(StrToFloat(AsString()));
  return value_.ToDouble();
}

bool Param::AsBoolean() const {
  return !IsNull() && value_.ToBoolean();
}

TDateTime Param::AsDateTime() const {
  if (IsNull()) return 0;
  const auto t = value_.VarType();
  if (t == varString || t == varUString || t == varOleStr) return StrToDateTime(AsString());
  return value_.ToDouble();
}

void Param::AssignField(const Field& field) {
  Name = field.FieldName();
  AssignFieldValue(field, field.Value());
}

void Param::AssignFieldValue(const Field& field, const Variant& value) {
  DataType = field.DataType();
  value_ = value;
  Bound = true;
}

void Param::Assign(const Param& source) {
  if (&source == this) return;
  Name = source.Name;
  DataType = source.DataType;
  ParamType = source.ParamType;
  Bound = source.Bound;
  value_ = source.value_;
}

// ---- Params

Param& Params::CreateParam(TFieldType type, std::string_view name, TParamType param_type) {
  auto p = std::make_unique<Param>(std::string(name), param_type);
  p->DataType = type;
  items_.push_back(std::move(p));
  return *items_.back();
}

Param& Params::Items(int index) {
  if (index < 0 || index >= Count())
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return *items_[static_cast<std::size_t>(index)];
}

const Param& Params::Items(int index) const {
  return const_cast<Params*>(this)->Items(index);
}

Param* Params::FindParam(std::string_view name) {
  for (auto& p : items_)
    if (AnsiSameText(p->Name, name)) return p.get();
  return nullptr;
}

Param& Params::ParamByName(std::string_view name) {
  Param* p = FindParam(name);
  if (p == nullptr) DatabaseError(Format(dbconsts::SParameterNotFound, {name}));
  return *p;
}

void Params::AssignValues(const Params& source) {
  for (const auto& s : source.items_)
    if (Param* p = FindParam(s->Name)) p->Assign(*s);
}

void Params::Assign(const Params& source) {
  if (&source == this) return;
  std::vector<std::unique_ptr<Param>> copy;
  for (const auto& s : source.items_) {
    auto p = std::make_unique<Param>();
    p->Assign(*s);
    copy.push_back(std::move(p));
  }
  items_ = std::move(copy);
}

std::string Params::ParseSQL(std::string_view sql, bool do_create) {
  if (do_create) Clear();
  std::string out;
  out.reserve(sql.size());
  char quote = 0;  // the quote character of the literal we are in, or 0
  std::size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (quote != 0) {
      out.push_back(c);
      if (c == quote) quote = 0;
      ++i;
      continue;
    }
    if (IsQuote(c)) {
      quote = c;
      out.push_back(c);
      ++i;
      continue;
    }
    if (c != ':') {
      out.push_back(c);
      ++i;
      continue;
    }
    if (i + 1 < sql.size() && sql[i + 1] == ':') {  // "::" is one literal colon
      out.push_back(':');
      i += 2;
      continue;
    }
    std::string name;
    std::size_t end = i + 1;
    if (end < sql.size() && (IsQuote(sql[end]) || sql[end] == '[')) {
      // The engine's lexer takes ":[name]" as a parameter too.
      const char q = sql[end] == '[' ? ']' : sql[end];
      const std::size_t close = sql.find(q, end + 1);
      if (close == std::string_view::npos) {  // unterminated: not a parameter
        out.push_back(c);
        ++i;
        continue;
      }
      name = std::string(sql.substr(end + 1, close - end - 1));
      end = close + 1;
    } else {
      while (end < sql.size() && IsNameChar(sql[end]))
        ++end;
      name = std::string(sql.substr(i + 1, end - i - 1));
    }
    if (name.empty()) {  // a colon not followed by a name
      out.push_back(c);
      ++i;
      continue;
    }
    if (do_create && FindParam(name) == nullptr)
      CreateParam(ftUnknown, name, TParamType::ptUnknown);
    out.push_back('?');
    i = end;
  }
  return out;
}

}  // namespace platform

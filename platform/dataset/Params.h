// Param/Params: the named parameters of an SQL text. ParseSQL finds them
// (":Name", ':"Quoted name"' or ":[Bracketed name]", as the engine's lexer
// does), replaces each by '?' and can create one parameter per distinct
// name, in order of first appearance. Quoted text
// ('...', "...", `...`) holds no parameters, "::" stands for one literal
// colon, and a colon not followed by a name is left as it is. A name ends at
// the first character that is not a letter, digit or '_'.
//
// Names compare without regard to case.
//
// Thread safety: none.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/DateTime.h"
#include "platform/core/Variant.h"
#include "platform/dataset/FieldType.h"

namespace platform {

class Field;

enum class TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

class Param {
 public:
  Param() = default;
  explicit Param(std::string name, TParamType type = TParamType::ptUnknown)
      : Name(std::move(name)), ParamType(type) {}

  std::string Name;
  TFieldType DataType = ftUnknown;
  TParamType ParamType = TParamType::ptUnknown;
  // Set whenever a value is given; a bound parameter keeps its value when a
  // query takes values from its master.
  bool Bound = false;

  bool IsNull() const { return value_.IsNull() || value_.IsEmpty(); }
  void Clear();
  const Variant& Value() const { return value_; }
  // Stores the value; an unknown DataType is taken from the value's kind.
  void SetValue(const Variant& value);

  void SetAsString(const std::string& value);
  void SetAsWideString(const std::u16string& value);
  void SetAsInteger(std::int32_t value);
  void SetAsLargeInt(std::int64_t value);
  void SetAsFloat(double value);
  void SetAsBoolean(bool value);
  void SetAsDateTime(TDateTime value);
  // Bytes of a BLOB, text of a memo.
  void SetAsBlob(const std::string& bytes);
  void SetAsMemo(const std::string& text);

  // NULL reads as 0, false, "".
  std::string AsString() const;
  std::int32_t AsInteger() const;
  std::int64_t AsLargeInt() const;
  double AsFloat() const;
  bool AsBoolean() const;
  TDateTime AsDateTime() const;

  // Takes the field's type and value (and, for AssignField, its name).
  void AssignField(const Field& field);
  void AssignFieldValue(const Field& field, const Variant& value);
  // Copies name, types, value and the bound flag.
  void Assign(const Param& source);

 private:
  Variant value_ = Variant::Null();
};

class Params {
 public:
  Params() = default;
  Params(const Params&) = delete;
  Params& operator=(const Params&) = delete;

  Param& CreateParam(TFieldType type, std::string_view name, TParamType param_type);
  int Count() const { return static_cast<int>(items_.size()); }
  // Raises EListError outside 0..Count()-1.
  Param& Items(int index);
  const Param& Items(int index) const;
  // Null when absent.
  Param* FindParam(std::string_view name);
  // Raises EDatabaseError "Parameter '%s' not found".
  Param& ParamByName(std::string_view name);
  void Clear() { items_.clear(); }
  // Copies every parameter of source into the parameter of the same name
  // here; names that are not here are skipped.
  void AssignValues(const Params& source);
  // Replaces the list by copies of source's parameters.
  void Assign(const Params& source);

  // The SQL text with each parameter replaced by '?'; with do_create the list
  // is cleared and refilled from the text.
  std::string ParseSQL(std::string_view sql, bool do_create);

 private:
  std::vector<std::unique_ptr<Param>> items_;
};

}  // namespace platform

// Field and its family: one column of a dataset's current record, seen as a
// typed value. A field owns no data: it reads and writes the active record
// buffer through its dataset (GetFieldData/SetFieldData), in the field
// type's native buffer form:
//
//   type                           native buffer (little-endian)
//   ftString, ftFixedChar, ftGuid  Size bytes of text + a 0 byte
//   ftWideString                   Size UTF-16 units + a 0 unit
//   ftSmallint / ftWord            int16 / uint16
//   ftInteger, ftAutoInc           int32
//   ftLargeint                     int64
//   ftFloat, ftCurrency            double
//   ftBoolean                      int16: 0 false, any other true (-1 written)
//   ftDate                         int32 day number (0001-01-01 is 1)
//   ftTime                         int32 milliseconds of the day
//   ftDateTime                     double: day number x 86400000 + the
//                                  milliseconds of the time of day (before
//                                  1899-12-30 the time is the fraction's
//                                  absolute value, as in the platform's time
//                                  stamp); read to the nearest millisecond
//   ftTimeStamp                    uint16 year, month, day, hour, minute,
//                                  second, uint32 milliseconds (16 bytes)
//   ftBytes / ftVarBytes           Size bytes / uint16 length + Size bytes
//   BLOB kinds                     none: read and written through streams
//
// Date and time fields are exchanged with callers as the platform date-time;
// the dataset's DataConvert turns them into the native form and back.
//
// NULL reads as 0, false, "" (Value() gives Null). Text written to a string
// field is cut to the field's size; integer fields refuse values outside
// their type's range (EDatabaseError) instead of wrapping; text that does not
// convert raises EConvertError and leaves the field unchanged.
//
// Thread safety: as the dataset's.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/core/DateTime.h"
#include "platform/core/Variant.h"
#include "platform/dataset/DataSetTypes.h"
#include "platform/dataset/FieldType.h"

namespace platform {

class DataSet;
class Stream;

class Field {
 public:
  Field(TFieldType type, int size);
  Field(const Field&) = delete;
  Field& operator=(const Field&) = delete;
  virtual ~Field() = default;

  const std::string& FieldName() const { return name_; }
  void SetFieldName(std::string name) { name_ = std::move(name); }
  // The label when one is set, else the field name.
  const std::string& DisplayName() const { return label_.empty() ? name_ : label_; }
  void SetDisplayLabel(std::string label) { label_ = std::move(label); }
  TFieldType DataType() const { return type_; }
  int Size() const { return size_; }
  // Bytes of the native buffer.
  virtual int DataSize() const = 0;
  TFieldKind FieldKind() const { return kind_; }
  bool Calculated() const { return kind_ == TFieldKind::fkCalculated; }
  // 1-based column of a data field in the record; -1 for a calculated one.
  int FieldNo() const { return field_no_; }
  // Position among the dataset's fields.
  int Index() const { return index_; }
  // Offset of a calculated field's flag byte in the calculated-field area.
  int Offset() const { return offset_; }
  DataSet* GetDataSet() const { return dataset_; }
  virtual bool IsBlob() const { return false; }
  // True for a column of the dataset's current index.
  bool IsIndexField() const;

  bool Required = false;
  bool ReadOnly = false;
  // Set when a BLOB field's value was written through a stream.
  bool Modified = false;

  // Called with the native buffer (null for NULL) before a value is stored;
  // throwing refuses the value.
  std::function<void(Field& sender, const void* buffer)> OnValidate;
  // Called after the field's value changed in the active record.
  std::function<void(Field& sender)> OnChange;

  // Copies the value into buffer (DataSize bytes native, or the exchange
  // form when native_format is false); false for NULL. A null buffer asks
  // only whether there is a value. Raises EDatabaseError without a dataset.
  bool GetData(void* buffer, bool native_format = true) const;
  // Stores the value from buffer; a null buffer stores NULL. Raises
  // EDatabaseError for a read-only field or a dataset not in a write state.
  void SetData(const void* buffer, bool native_format = true);
  bool IsNull() const;
  void Clear() { SetData(nullptr); }

  virtual std::string AsString() const;
  virtual void SetAsString(const std::string& value);
  virtual std::int32_t AsInteger() const;
  virtual void SetAsInteger(std::int32_t value);
  virtual std::int64_t AsLargeInt() const;
  virtual void SetAsLargeInt(std::int64_t value);
  virtual double AsFloat() const;
  virtual void SetAsFloat(double value);
  virtual bool AsBoolean() const;
  virtual void SetAsBoolean(bool value);
  virtual TDateTime AsDateTime() const;
  virtual void SetAsDateTime(TDateTime value);
  virtual std::u16string AsWideString() const;
  virtual void SetAsWideString(const std::u16string& value);
  // Null for NULL, else the value as its natural variant kind.
  virtual Variant Value() const;
  // Null and Empty clear the field; other kinds convert as the typed setters
  // do (EInvalidCast / EConvertError when they cannot).
  void SetValue(const Variant& value);
  // The field's own assignment: NULL clears, else Value is copied.
  virtual void Assign(const Field& source);

  // Runs OnValidate for a value about to be stored.
  void Validate(const void* buffer);
  // Runs OnChange.
  void Change();

 protected:
  [[noreturn]] void AccessError(const char* type_name) const;
  [[noreturn]] void RangeError(long double value, long double min, long double max) const;
  virtual void SetVarValue(const Variant& value);

 private:
  friend class DataSet;

  TFieldType type_;
  int size_;
  std::string name_;
  std::string label_;
  TFieldKind kind_ = TFieldKind::fkData;
  int field_no_ = 0;
  int index_ = -1;
  int offset_ = 0;
  DataSet* dataset_ = nullptr;
};

class StringField : public Field {
 public:
  explicit StringField(int size = 20, TFieldType type = ftString) : Field(type, size) {}
  int DataSize() const override { return Size() + 1; }
  // False for NULL; otherwise the text up to its first 0 byte.
  bool GetValue(std::string& value) const;
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  std::int32_t AsInteger() const override;
  void SetAsInteger(std::int32_t value) override;
  std::int64_t AsLargeInt() const override;
  void SetAsLargeInt(std::int64_t value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  bool AsBoolean() const override;
  void SetAsBoolean(bool value) override;
  TDateTime AsDateTime() const override;
  void SetAsDateTime(TDateTime value) override;
  Variant Value() const override;

 protected:
  void SetVarValue(const Variant& value) override;
};

class GuidField : public StringField {
 public:
  GuidField() : StringField(38, ftGuid) {}
};

class WideStringField : public Field {
 public:
  explicit WideStringField(int size = 20) : Field(ftWideString, size) {}
  int DataSize() const override { return (Size() + 1) * 2; }
  bool GetValue(std::u16string& value) const;
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  std::u16string AsWideString() const override;
  void SetAsWideString(const std::u16string& value) override;
  Variant Value() const override;

 protected:
  void SetVarValue(const Variant& value) override;
};

// Smallint, Word, Integer and AutoInc fields share one implementation over
// their native width.
class IntegerField : public Field {
 public:
  IntegerField() : IntegerField(ftInteger) {}
  int DataSize() const override;
  bool GetValue(std::int64_t& value) const;
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  std::int32_t AsInteger() const override;
  void SetAsInteger(std::int32_t value) override;
  std::int64_t AsLargeInt() const override;
  void SetAsLargeInt(std::int64_t value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  Variant Value() const override;

 protected:
  explicit IntegerField(TFieldType type);
  void SetVarValue(const Variant& value) override;

 private:
  std::int64_t min_;
  std::int64_t max_;
};

class SmallintField : public IntegerField {
 public:
  SmallintField() : IntegerField(ftSmallint) {}
};
class WordField : public IntegerField {
 public:
  WordField() : IntegerField(ftWord) {}
};
class AutoIncField : public IntegerField {
 public:
  AutoIncField() : IntegerField(ftAutoInc) {}
};
class LargeintField : public IntegerField {
 public:
  LargeintField() : IntegerField(ftLargeint) {}
};

class FloatField : public Field {
 public:
  FloatField() : FloatField(ftFloat) {}
  int DataSize() const override { return 8; }
  bool GetValue(double& value) const;
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  std::int32_t AsInteger() const override;
  void SetAsInteger(std::int32_t value) override;
  std::int64_t AsLargeInt() const override;
  void SetAsLargeInt(std::int64_t value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  Variant Value() const override;

 protected:
  explicit FloatField(TFieldType type) : Field(type, 0) {}
  void SetVarValue(const Variant& value) override;
};

class CurrencyField : public FloatField {
 public:
  CurrencyField() : FloatField(ftCurrency) {}
  Variant Value() const override;
};

class BooleanField : public Field {
 public:
  BooleanField() : Field(ftBoolean, 0) {}
  int DataSize() const override { return 2; }
  bool GetValue(bool& value) const;
  std::string AsString() const override;
  // "" clears; otherwise a case-insensitive prefix of "True" or "False".
  void SetAsString(const std::string& value) override;
  bool AsBoolean() const override;
  void SetAsBoolean(bool value) override;
  Variant Value() const override;

 protected:
  void SetVarValue(const Variant& value) override;
};

// ftDateTime; the base of the date and time fields.
class DateTimeField : public Field {
 public:
  DateTimeField() : DateTimeField(ftDateTime) {}
  int DataSize() const override;
  bool GetValue(TDateTime& value) const;
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  TDateTime AsDateTime() const override;
  void SetAsDateTime(TDateTime value) override;
  Variant Value() const override;

 protected:
  explicit DateTimeField(TFieldType type) : Field(type, 0) {}
  void SetVarValue(const Variant& value) override;
};

class DateField : public DateTimeField {
 public:
  DateField() : DateTimeField(ftDate) {}
};
class TimeField : public DateTimeField {
 public:
  TimeField() : DateTimeField(ftTime) {}
};

// The SQL time-stamp record of ftTimeStamp fields.
struct TSQLTimeStamp {
  std::uint16_t Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
  std::uint32_t Fractions = 0;  // milliseconds
  friend bool operator==(const TSQLTimeStamp&, const TSQLTimeStamp&) = default;
};
inline constexpr int kSQLTimeStampSize = 16;
void EncodeSQLTimeStamp(const TSQLTimeStamp& value, std::uint8_t* out);
TSQLTimeStamp DecodeSQLTimeStamp(const std::uint8_t* in);
// Raises EConvertError for a value outside the calendar.
TSQLTimeStamp DateTimeToSQLTimeStamp(TDateTime value);
TDateTime SQLTimeStampToDateTime(const TSQLTimeStamp& value);

class SQLTimeStampField : public Field {
 public:
  SQLTimeStampField() : Field(ftTimeStamp, 0) {}
  int DataSize() const override { return kSQLTimeStampSize; }
  bool GetValue(TSQLTimeStamp& value) const;
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  TDateTime AsDateTime() const override;
  void SetAsDateTime(TDateTime value) override;
  double AsFloat() const override;
  Variant Value() const override;

 protected:
  void SetVarValue(const Variant& value) override;
};

// ftBytes (fixed size) and ftVarBytes (length-prefixed).
class BytesField : public Field {
 public:
  explicit BytesField(int size = 16) : BytesField(ftBytes, size) {}
  int DataSize() const override { return DataType() == ftVarBytes ? Size() + 2 : Size(); }
  bool GetValue(std::string& bytes) const;
  std::string AsString() const override;
  // Longer values are cut to Size; a fixed field pads with zeros.
  void SetAsString(const std::string& value) override;
  // An array of Byte variants.
  Variant Value() const override;

 protected:
  BytesField(TFieldType type, int size) : Field(type, size) {}
  void SetVarValue(const Variant& value) override;
};

class VarBytesField : public BytesField {
 public:
  explicit VarBytesField(int size = 16) : BytesField(ftVarBytes, size) {}
};

// The BLOB kinds. The value travels through the dataset's BLOB streams.
class BlobField : public Field {
 public:
  explicit BlobField(TFieldType type = ftBlob) : Field(type, 0) {}
  int DataSize() const override { return 0; }
  bool IsBlob() const override { return true; }
  // The whole value as bytes ("" for NULL).
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  Variant Value() const override;
  // BLOB to BLOB copies the bytes through streams.
  void Assign(const Field& source) override;
  // Replaces the value by stream's bytes from its position to its end.
  void LoadFromStream(Stream& stream);
  // Writes the value to stream at its position.
  void SaveToStream(Stream& stream) const;
  std::int64_t BlobSize() const;

 protected:
  void SetVarValue(const Variant& value) override;
};

class MemoField : public BlobField {
 public:
  explicit MemoField(TFieldType type = ftMemo) : BlobField(type) {}
};

// UTF-16 text, two bytes per unit, no terminator.
class WideMemoField : public BlobField {
 public:
  WideMemoField() : BlobField(ftWideMemo) {}
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  std::u16string AsWideString() const override;
  void SetAsWideString(const std::u16string& value) override;
  Variant Value() const override;

 protected:
  void SetVarValue(const Variant& value) override;
};

// The field class that serves a field type; null for a type none serves.
std::unique_ptr<Field> CreateFieldOfType(TFieldType type, int size);

// A variant's text as a string field would take it ("" for Null and
// Empty); raises EInvalidCast for arrays.
std::string VariantToText(const Variant& value);

}  // namespace platform

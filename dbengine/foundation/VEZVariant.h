// TVEZVariant: the engine's one typed value (field values, parameters,
// constants and intermediate results of expressions, defaults, constraint
// values), with the conversion between storage types (ConvertTypedValue),
// the common-type rule, comparison of raw values and the value's arithmetic.
//
// A value is a storage type, a data block in the engine's storage form (the
// same bytes as in a record buffer) and a null flag. The block is either owned
// (a MemoryManager block, released by the value) or linked (someone else's
// bytes, never released nor written by the value). A value never holds a
// zero-sized block: no data means NULL.
//
// Thread safety: a value belongs to one owner and has no lock; a linked value
// must not outlive the block it references. The free routines are reentrant.
#pragma once

#include <cstdint>
#include <string>

#include "dbengine/foundation/VEZTypes.h"
#include "platform/core/Variant.h"

namespace vez {

class TVEZStream;

// The day number that stands for "no date" (a time converted to a date-time
// gets it as its date).
inline constexpr std::int32_t kVEZNoDate = INT32_MIN;

// A value copied to a caller's buffer that is smaller than the value (here
// and in the cursor's field access).
inline constexpr std::int32_t kErrorBufferSizeExceeded = 20056;

// Converts a raw value of SourceType into a new MemoryManager block holding
// the value in TargetType's storage form; the caller owns the block, whose
// size goes to OutSize. SourceSize is the source's byte count, or -1 when
// unknown (text sources are then read up to their terminator). A pair the
// conversion table refuses raises 30052, a supported pair that fails 30051;
// no block is returned on failure.
void* ConvertTypedValue(const void* Source, std::int32_t SourceSize, TVEZBaseFieldType SourceType,
                        std::int32_t& OutSize, TVEZBaseFieldType TargetType);

// The type in which two values are combined (ForComparison false) or compared
// (true); bftUnknown when there is none.
TVEZBaseFieldType GetCommonBaseType(TVEZBaseFieldType Type1, TVEZBaseFieldType Type2,
                                    bool ForComparison);
TVEZAdvancedFieldType GetCommonAdvancedType(TVEZAdvancedFieldType Type1,
                                            TVEZAdvancedFieldType Type2, bool ForComparison);

// Compares two raw values. Length -1 compares whole strings, n >= 0 their
// first n characters. Size1 and Size2 are the buffers' byte counts when known
// (-1 otherwise): a character large object has no terminator and is read over
// its size, a byte string is compared over its size, and no string is read
// past its size. LocaleID is kept for callers' sake; the engine's collation
// does not depend on any locale. NULL sides give the three NULL results.
TVEZCompareResult CompareTypedValues(const void* Buffer1, const void* Buffer2,
                                     TVEZBaseFieldType DataType1, TVEZBaseFieldType DataType2,
                                     bool IsNull1, bool IsNull2, std::int32_t Length,
                                     bool CaseInsensitive, std::int32_t LocaleID,
                                     std::int32_t Size1 = -1, std::int32_t Size2 = -1);

// CompareTypedValues as a sort order: -1 lower or left NULL, 1 greater or
// right NULL, 0 equal or both NULL. NULL sorts first; NULLs are equal.
int CompareTypedValuesOrder(const void* Buffer1, const void* Buffer2, TVEZBaseFieldType DataType1,
                            TVEZBaseFieldType DataType2, bool IsNull1, bool IsNull2,
                            std::int32_t Length, bool CaseInsensitive, std::int32_t LocaleID,
                            std::int32_t Size1 = -1, std::int32_t Size2 = -1);

class TVEZVariant {
 public:
  // An empty value of DataType: no data, NULL.
  explicit TVEZVariant(TVEZBaseFieldType DataType = bftUnknown) : FDataType(DataType) {}
  ~TVEZVariant();
  TVEZVariant(const TVEZVariant&) = delete;
  TVEZVariant& operator=(const TVEZVariant&) = delete;
  // Moving hands over the block as it is (owned stays owned, linked stays
  // linked to the same bytes), so values can live in standard containers.
  // The moved-from value keeps its type and is NULL without data.
  TVEZVariant(TVEZVariant&& Source) noexcept;
  // Releases this value's owned block first (a damaged block is dropped, as
  // the destructor drops it), then takes Source's.
  TVEZVariant& operator=(TVEZVariant&& Source) noexcept;

  TVEZBaseFieldType GetDataType() const { return FDataType; }
  // A NULL value takes the type (an owned block is released); any other value
  // is converted by Cast and a failed conversion raises, leaving it unchanged.
  void SetDataType(TVEZBaseFieldType DataType);
  std::int32_t GetDataSize() const { return FDataSize; }
  const void* GetPData() const { return FPData; }
  bool GetIsDataLinked() const { return FIsDataLinked; }
  bool GetIsNull() const { return FIsNull != 0 || FPData == nullptr; }

  // Releases an owned block: no data, size 0, not linked, NULL, of DataType.
  void Clear(TVEZBaseFieldType DataType);
  // NULL of DataType; the block is kept when the type does not change.
  void SetNull(TVEZBaseFieldType DataType);
  // Copies Source's type, size and null flag; the data is copied into an
  // owned block (CopyDataFlag) or referenced as linked data.
  void Assign(const TVEZVariant& Source, bool CopyDataFlag);
  // Takes Size bytes in DataType's storage form: linked to Buffer itself, or
  // copied into an owned block. Size must be at least 1.
  void SetData(const void* Buffer, std::int32_t Size, TVEZBaseFieldType DataType,
               bool CopyDataFlag);
  // Copies the data to Buffer; false for NULL and for an empty string. MaxSize
  // -1 is no limit; a MaxSize below DataSize raises 20056.
  bool CopyDataToAddress(void* Buffer, std::int32_t MaxSize = -1) const;
  // Characters of a string value; -1 for NULL and other types.
  std::int32_t StrLen() const;

  bool IsNumericDataType() const;
  bool IsStringDataType() const;
  bool IsWideStringDataType() const;
  bool IsBlobDataType() const;
  bool IsDateTimeDataType() const;

  // Converts the value in place to NewDataType. A failed conversion leaves the
  // value as it was and raises the conversion error (30051, 30052).
  void Cast(TVEZBaseFieldType NewDataType);
  // A wide string whose single-byte round trip is lossless becomes a varchar.
  void TryToReduceWideStringToAnsiString();

  // Stream form: type byte, null byte (0 or 255), and for a value that is not
  // NULL an Int32 size and the data. LoadFromStream checks what it reads and
  // raises (10183 to 10186) on a short or corrupt stream, leaving the value
  // NULL.
  void LoadFromStream(TVEZStream& Stream);
  void SaveToStream(TVEZStream& Stream) const;

  // Typed accessors. A getter converts the held value to its type (a NULL value
  // raises 30016, except that string getters give the empty string); a setter
  // stores into the held type, or makes a bftUnknown value of its own type.
  std::int8_t GetAsShortint() const;
  void SetAsShortint(std::int8_t Value);
  std::int16_t GetAsSmallint() const;
  void SetAsSmallint(std::int16_t Value);
  std::int32_t GetAsInteger() const;
  void SetAsInteger(std::int32_t Value);
  std::int64_t GetAsInt64() const;
  void SetAsInt64(std::int64_t Value);
  std::uint8_t GetAsByte() const;
  void SetAsByte(std::uint8_t Value);
  std::uint16_t GetAsWord() const;
  void SetAsWord(std::uint16_t Value);
  std::uint32_t GetAsCardinal() const;
  void SetAsCardinal(std::uint32_t Value);
  std::uint32_t GetAsLongWord() const { return GetAsCardinal(); }
  void SetAsLongWord(std::uint32_t Value) { SetAsCardinal(Value); }
  float GetAsSingle() const;
  void SetAsSingle(float Value);
  double GetAsDouble() const;
  void SetAsDouble(double Value);
  long double GetAsExtended() const;
  void SetAsExtended(long double Value);
  double GetAsCurrency() const;
  void SetAsCurrency(double Value);
  std::string GetAsAnsiString() const;
  void SetAsAnsiString(const std::string& Value);
  std::u16string GetAsWideString() const;
  void SetAsWideString(const std::u16string& Value);
  std::int32_t GetAsVEZDate() const;
  void SetAsVEZDate(std::int32_t Value);
  std::int32_t GetAsVEZTime() const;
  void SetAsVEZTime(std::int32_t Value);
  TVEZDateTime GetAsVEZDateTime() const;
  void SetAsVEZDateTime(const TVEZDateTime& Value);
  bool GetAsBoolean() const;
  void SetAsBoolean(bool Value);
  bool GetAsLogical() const { return GetAsBoolean(); }
  void SetAsLogical(bool Value) { SetAsBoolean(Value); }
  // Platform date-times (days since 1899-12-30 with the time as fraction).
  double GetAsTDate() const;
  void SetAsTDate(double Value);
  double GetAsTTime() const;
  void SetAsTTime(double Value);
  double GetAsTDateTime() const;
  void SetAsTDateTime(double Value);
  platform::Variant GetAsVariant() const;
  void SetAsVariant(const platform::Variant& Value);

  // Compares with Value. Without TrueFalseNullLogic a NULL side sorts first
  // and two NULLs are equal; with it the NULL results are returned as they
  // are. PartialKey compares only the length of Value's string.
  TVEZCompareResult Compare(const TVEZVariant& Value, bool TrueFalseNullLogic, bool CaseInsensitive,
                            bool PartialKey) const;

  // In-place arithmetic in the common type of the two operands. Integers wrap;
  // NULL rules: Add treats a NULL beside a string as the empty string, the
  // others make the result NULL.
  void InvertValue();
  void Add(const TVEZVariant& Value);
  void Sub(const TVEZVariant& Value);
  void Mul(const TVEZVariant& Value);
  void Division(const TVEZVariant& Value);

 private:
  enum class TArithOp { Add, Sub, Mul, Div };

  void ReleaseBlock();
  void TakeOwnedBlock(void* Block, std::int32_t Size, TVEZBaseFieldType DataType);
  void SetTypedValue(const void* Data, std::int32_t Size, TVEZBaseFieldType InType);
  void SetTypedString(const std::string& Value);
  void SetTypedWideString(const std::u16string& Value);
  void GetTypedValue(void* Target, std::int32_t TargetSize, TVEZBaseFieldType OutType) const;
  void CheckNotNull() const;
  void Arithmetic(const TVEZVariant& Value, TArithOp Op);

  TVEZBaseFieldType FDataType = bftUnknown;
  std::int32_t FDataSize = 0;
  std::uint8_t* FPData = nullptr;
  bool FIsDataLinked = false;
  std::uint8_t FIsNull = 255;
};

}  // namespace vez

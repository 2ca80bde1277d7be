// VEZSQLTypes: the SQL data-type table that ties together the four type
// vocabularies (SQL type name, declared column type TVEZAdvancedFieldType,
// storage type TVEZBaseFieldType, dataset field type TFieldType), and the
// small type routines every layer calls: value sizes, value copies, wide case
// mapping, conversions between the platform date-time and TVEZDateTime, type
// predicates, SQL LIKE and the parsers of SQL date and time literals.
//
// Case mapping and LIKE character comparison use the engine's own collation
// (platform/core/Collation.h), never the process locale.
//
// Thread safety: the table is constant; every routine is reentrant.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "dbengine/foundation/VEZTypes.h"
#include "platform/dataset/FieldType.h"

namespace vez {

// One row of the type table.
struct TSQLFieldType {
  std::string_view SqlName;
  TVEZAdvancedFieldType AdvancedFieldType;
  TVEZBaseFieldType BaseFieldType;
  platform::TFieldType FieldType;
};

inline constexpr int kSQLFieldTypeCount = 62;

// The 62 rows; row n of the table is SQLFieldTypes[n - 1]. Rows that repeat a
// name or a type serve the reverse lookups; every lookup takes the FIRST row
// whose key matches.
extern const std::array<TSQLFieldType, kSQLFieldTypeCount> SQLFieldTypes;

// Type map; "no match" results as noted.
TVEZBaseFieldType AdvancedTypeToBaseType(TVEZAdvancedFieldType AdvancedFieldType);  // bftUnknown
TVEZAdvancedFieldType BaseTypeToAdvancedType(TVEZBaseFieldType BaseFieldType);      // aftUnknown
// Raises 30289 "Unknown DataType: '<ordinal>'" when no row holds FieldType.
TVEZAdvancedFieldType VCLTypeToAdvancedType(platform::TFieldType FieldType);
platform::TFieldType AdvancedTypeToVCLType(TVEZAdvancedFieldType AdvancedFieldType);  // ftUnknown
std::string AdvancedTypeToSQLTypeName(TVEZAdvancedFieldType AdvancedFieldType);       // "Unknown"
std::string BaseTypeToSQLTypeName(TVEZBaseFieldType BaseFieldType);                   // "Unknown"
// The SQL engine's type-name lookup: the name upper-cased (a to z), first
// matching row; aftUnknown when none.
TVEZAdvancedFieldType SQLTypeNameToAdvancedType(std::string_view SqlName);

// Bytes one value of the type takes in a record or value buffer. Length is
// the declared length in characters (bytes for byte strings). Raises 30050
// "Unknown DataType: 'Unknown'" for bftUnknown and bftBFile (and any ordinal
// outside the enumeration); EIntOverflow for a negative Length of a sized type
// or a size that overflows.
std::int32_t GetValueSize(TVEZBaseFieldType DataType, std::int32_t Length);

// An owned copy of a value in a new MemoryManager() block; Buffer must be null
// on entry and receives the block, Size its byte count.
// - bftChar/bftVarchar: Source is the text; the characters up to the first
//   zero character and one terminating zero are copied.
// - bftWideChar/bftWideVarchar: the same in UTF-16 (2 bytes a character).
// - any other type: GetValueSize(DataType, 0) bytes from the address Source.
// The const void* overload takes a zero-terminated text for the string types.
// Every failure raises (30050 unknown type, the allocator's errors, 30054
// "Cannot copy data into new memory" for a source that does not suit the
// type); a block obtained before the failure is freed and Buffer left null.
void CopyValueToNewBuffer(TVEZBaseFieldType DataType, std::string_view Source, void*& Buffer,
                          std::int32_t& Size);
void CopyValueToNewBuffer(TVEZBaseFieldType DataType, std::u16string_view Source, void*& Buffer,
                          std::int32_t& Size);
void CopyValueToNewBuffer(TVEZBaseFieldType DataType, const void* Source, void*& Buffer,
                          std::int32_t& Size);

// Upper/lower-cased copies (simple one-to-one Unicode case mapping of the
// engine's collation). The SQL UPPER and LOWER functions use them.
std::u16string VEZWideUpperCase(std::u16string_view S);
std::u16string VEZWideLowerCase(std::u16string_view S);

// Conversions between the platform date-time (days since 1899-12-30, time of
// day as fraction; before 1899-12-30 the time is the fraction's absolute
// value) and the engine's day number / milliseconds. Times round to the
// nearest millisecond, halves to even. A non-finite date-time, or one whose
// day number does not fit Int32, raises platform::EConvertError.
std::int32_t TDateToVEZDate(double D);    // trunc(D) + 693594
double VEZDateToTDate(std::int32_t Day);  // Day - 693594
// Milliseconds of the day 0..86399999; a time that rounds to 86400000 is the
// next midnight and gives 0.
std::int32_t TTimeToVEZTime(double D);
double VEZTimeToTTime(std::int32_t Milliseconds);  // |frac(ms / 86400000)|
// Carries a time that rounds to 86400000 ms into the next day.
TVEZDateTime TDateTimeToVEZDateTime(double D);
// Day + time, or day - time for days before 1899-12-30 (the platform form).
double VEZDateTimeToTDateTime(const TVEZDateTime& DT);

// Type predicates.
bool IsBlobBaseFieldType(TVEZBaseFieldType T);
bool IsBlobAdvancedFieldType(TVEZAdvancedFieldType T);
bool IsStringBaseFieldType(TVEZBaseFieldType T);
bool IsStringAdvancedFieldType(TVEZAdvancedFieldType T);
bool IsWideStringBaseFieldType(TVEZBaseFieldType T);
bool IsWideStringAdvancedFieldType(TVEZAdvancedFieldType T);
bool IsBytesAdvancedFieldType(TVEZAdvancedFieldType T);
bool IsAutoincAdvancedFieldType(TVEZAdvancedFieldType T);
bool IsNumericBaseFieldType(TVEZBaseFieldType T);
bool IsNumericAdvancedFieldType(TVEZAdvancedFieldType T);
bool IsDateTimeBaseFieldType(TVEZBaseFieldType T);
bool IsDateTimeAdvancedFieldType(TVEZAdvancedFieldType T);
bool IsSizedAdvancedFieldType(TVEZAdvancedFieldType T);
bool IsComparableAdvancedFieldType(TVEZAdvancedFieldType T);

// SQL LIKE: '%' matches any sequence (also an empty one), '_' one character;
// with HasEscape the character after EscapeChar is taken literally (an escape
// at the very end of the pattern matches nothing). Characters compare equal
// when identical, or when CaseInsensitive and equal after case folding. Texts
// end at their first zero character. Runs in O(|Value| x |Pattern|).
bool MatchLikeAnsi(std::string_view Value, std::string_view Pattern, bool HasEscape,
                   char EscapeChar, bool CaseInsensitive);
bool MatchLikeWide(std::u16string_view Value, std::u16string_view Pattern, bool HasEscape,
                   char16_t EscapeChar, bool CaseInsensitive);

// Reads decimal digits of Text from Pos (1-based) until a non-digit or the
// end, then steps Pos over one more character. True when exactly Count digits
// were read; Value is then their number.
bool TryReadDigits(std::string_view Text, int Count, std::uint16_t& Value, int& Pos);

// SQL literals: 'YYYY?MM?DD', 'HH?NN?SS', 'YYYY?MM?DD?HH?NN?SS', '?' being any
// single non-digit, with at most one more character after the last field.
// False for malformed text and for digits that make no valid date or time.
bool TryParseSQLDate(std::string_view Text, double& Value);
bool TryParseSQLTime(std::string_view Text, double& Value);
bool TryParseSQLTimestamp(std::string_view Text, double& Value);

}  // namespace vez

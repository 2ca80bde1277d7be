#include "dbengine/foundation/VEZSQLTypes.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/Collation.h"
#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"
#include "platform/core/TextConvert.h"

namespace vez {

// clang-format off
const std::array<TSQLFieldType, kSQLFieldTypeCount> SQLFieldTypes = {{
    {"CHAR", aftChar, bftChar, platform::ftFixedChar},  // 1
    {"FIXEDCHAR", aftChar, bftChar, platform::ftFixedChar},  // 2
    {"STRING", aftString, bftVarchar, platform::ftString},  // 3
    {"VARCHAR", aftString, bftVarchar, platform::ftString},  // 4
    {"VARCHAR2", aftString, bftVarchar, platform::ftString},  // 5
    {"WIDECHAR", aftWideChar, bftWideChar, platform::ftWideString},  // 6
    {"FIXEDWIDECHAR", aftWideChar, bftWideChar, platform::ftWideString},  // 7
    {"WIDESTRING", aftWideString, bftWideVarchar, platform::ftWideString},  // 8
    {"WIDEVARCHAR", aftWideString, bftWideVarchar, platform::ftWideString},  // 9
    {"SMALLINT", aftSmallint, bftSignedInt16, platform::ftSmallint},  // 10
    {"SIGNEDINT16", aftSmallint, bftSignedInt16, platform::ftSmallint},  // 11
    {"SHORTINT", aftShortint, bftSignedInt8, platform::ftSmallint},  // 12
    {"SIGNEDINT8", aftShortint, bftSignedInt8, platform::ftSmallint},  // 13
    {"INTEGER", aftInteger, bftSignedInt32, platform::ftInteger},  // 14
    {"SIGNEDINT32", aftInteger, bftSignedInt32, platform::ftInteger},  // 15
    {"LARGEINT", aftLargeint, bftSignedInt64, platform::ftLargeint},  // 16
    {"INT64", aftLargeint, bftSignedInt64, platform::ftLargeint},  // 17
    {"SIGNEDINT64", aftLargeint, bftSignedInt64, platform::ftLargeint},  // 18
    {"WORD", aftWord, bftUnsignedInt16, platform::ftWord},  // 19
    {"UNSIGNEDINT16", aftWord, bftUnsignedInt16, platform::ftWord},  // 20
    {"BYTE", aftByte, bftUnsignedInt8, platform::ftWord},  // 21
    {"UNSIGNEDINT8", aftByte, bftUnsignedInt8, platform::ftWord},  // 22
    {"CARDINAL", aftCardinal, bftUnsignedInt32, platform::ftLargeint},  // 23
    {"UNSIGNEDINT32", aftCardinal, bftUnsignedInt32, platform::ftLargeint},  // 24
    {"AUTOINC", aftAutoInc, bftSignedInt32, platform::ftAutoInc},  // 25
    {"AUTOINCSHORTINT", aftAutoIncShortint, bftSignedInt8, platform::ftAutoInc},  // 26
    {"AUTOINCSMALLINT", aftAutoIncSmallint, bftSignedInt16, platform::ftAutoInc},  // 27
    {"AUTOINCINTEGER", aftAutoIncInteger, bftSignedInt32, platform::ftAutoInc},  // 28
    {"AUTOINCLARGEINT", aftAutoIncLargeint, bftSignedInt64, platform::ftLargeint},  // 29
    {"AUTOINCBYTE", aftAutoIncByte, bftUnsignedInt8, platform::ftAutoInc},  // 30
    {"AUTOINCWORD", aftAutoIncWord, bftUnsignedInt16, platform::ftAutoInc},  // 31
    {"AUTOINCCARDINAL", aftAutoIncCardinal, bftUnsignedInt32, platform::ftAutoInc},  // 32
    {"FLOAT", aftDouble, bftDouble, platform::ftFloat},  // 33
    {"FLOAT", aftDouble, bftDouble, platform::ftBCD},  // 34
    {"SINGLE", aftSingle, bftSingle, platform::ftFloat},  // 35
    {"DOUBLE", aftDouble, bftDouble, platform::ftFloat},  // 36
    {"EXTENDED", aftExtended, bftExtended, platform::ftFloat},  // 37
    {"LOGICAL", aftBoolean, bftLogical, platform::ftBoolean},  // 38
    {"BOOLEAN", aftBoolean, bftLogical, platform::ftBoolean},  // 39
    {"BOOL", aftBoolean, bftLogical, platform::ftBoolean},  // 40
    {"BIT", aftBoolean, bftLogical, platform::ftBoolean},  // 41
    {"CURRENCY", aftCurrency, bftCurrency, platform::ftCurrency},  // 42
    {"MONEY", aftCurrency, bftCurrency, platform::ftCurrency},  // 43
    {"DATE", aftDate, bftDate, platform::ftDate},  // 44
    {"TIME", aftTime, bftTime, platform::ftTime},  // 45
    {"DATETIME", aftDateTime, bftDateTime, platform::ftDateTime},  // 46
    {"TIMESTAMP", aftTimeStamp, bftDateTime, platform::ftTimeStamp},  // 47
    {"BYTES", aftBytes, bftBytes, platform::ftBytes},  // 48
    {"VARBYTES", aftVarBytes, bftVarBytes, platform::ftVarBytes},  // 49
    {"BLOB", aftBlob, bftBlob, platform::ftBlob},  // 50
    {"BLOB", aftBlob, bftBlob, platform::ftParadoxOle},  // 51
    {"BLOB", aftBlob, bftBlob, platform::ftTypedBinary},  // 52
    {"BLOB", aftBlob, bftBlob, platform::ftDBaseOle},  // 53
    {"BLOB", aftBlob, bftBlob, platform::ftOraBlob},  // 54
    {"BLOB", aftBlob, bftBlob, platform::ftOraClob},  // 55
    {"GRAPHIC", aftGraphic, bftBlob, platform::ftGraphic},  // 56
    {"MEMO", aftMemo, bftClob, platform::ftMemo},  // 57
    {"CLOB", aftMemo, bftClob, platform::ftMemo},  // 58
    {"FORMATTEDMEMO", aftFormattedMemo, bftClob, platform::ftFmtMemo},  // 59
    {"WIDEMEMO", aftWideMemo, bftWideClob, platform::ftWideMemo},  // 60
    {"WIDECLOB", aftWideMemo, bftWideClob, platform::ftWideMemo},  // 61
    {"GUID", aftGuid, bftChar, platform::ftGuid},  // 62
}};
// clang-format on

namespace {

constexpr std::int32_t kDateDelta = platform::DateDelta;
constexpr std::int32_t kMSecsPerDay = platform::MSecsPerDay;

const TSQLFieldType* FindRow(auto matches) {
  for (const TSQLFieldType& row : SQLFieldTypes)
    if (matches(row)) return &row;
  return nullptr;
}

[[noreturn]] void InvalidDateTime() {
  throw platform::EConvertError("Invalid date-time value");
}

// The day offset from 1899-12-30 and the milliseconds of the day, rounded and
// carried; refuses what is not finite.
double SplitDateTime(double D, std::int32_t& ms) {
  if (!std::isfinite(D)) InvalidDateTime();
  double days;
  platform::SplitDateTime(D, days, ms);
  return days;
}

// The engine's day number of a day offset; refuses what Int32 cannot hold.
std::int32_t DayNumber(double days) {
  const double day = days + kDateDelta;
  if (day < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
      day > static_cast<double>(std::numeric_limits<std::int32_t>::max()))
    InvalidDateTime();
  return static_cast<std::int32_t>(day);
}

[[noreturn]] void CannotCopy() {
  throw EVEZException(30054, "Cannot copy data into new memory");
}

// Allocates size bytes and lets fill write them; frees the block when fill
// fails, so a failed copy leaves nothing behind.
template <typename Fill>
void CopyInto(std::int32_t size, void*& Buffer, std::int32_t& Size, Fill fill) {
  void* block = MemoryManager().GetMem(size);
  try {
    fill(static_cast<std::uint8_t*>(block));
  } catch (...) {
    MemoryManager().FreeMem(block);
    CannotCopy();
  }
  Buffer = block;
  Size = size;
}

// ---- LIKE

template <typename Char>
std::basic_string_view<Char> UpToZero(std::basic_string_view<Char> s) {
  const auto z = s.find(Char(0));
  return z == std::basic_string_view<Char>::npos ? s : s.substr(0, z);
}

// Greedy match with one resumable '%': on a mismatch, the last '%' takes one
// more character and the rest is retried. A later '%' supersedes an earlier
// one, so no position is retried more than once per pattern position:
// O(n x m), and no allocation (LIKE runs once per row of a filter).
template <typename Char, typename Eq>
bool MatchLike(std::basic_string_view<Char> value, std::basic_string_view<Char> pattern,
               bool has_escape, Char escape, Eq eq) {
  value = UpToZero(value);
  pattern = UpToZero(pattern);
  const std::size_t n = value.size(), m = pattern.size(), none = m + 1;
  std::size_t i = 0, j = 0, star = none, mark = 0;
  while (i < n) {
    bool step = false;
    std::size_t width = 1;
    if (j < m && pattern[j] == Char('%')) {
      star = ++j;  // a run of '%' means the same as one
      mark = i;
      continue;
    }
    if (j < m && pattern[j] == Char('_')) {
      step = true;
    } else if (j < m) {
      // After the escape character the next one is literal; an escape at the
      // very end matches nothing.
      if (has_escape && pattern[j] == escape) width = 2;
      step = j + width <= m && eq(value[i], pattern[j + width - 1]);
    }
    if (step) {
      ++i;
      j += width;
    } else if (star != none) {
      j = star;
      i = ++mark;
    } else {
      return false;
    }
  }
  while (j < m && pattern[j] == Char('%'))
    ++j;
  return j == m;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

TVEZBaseFieldType AdvancedTypeToBaseType(TVEZAdvancedFieldType AdvancedFieldType) {
  const auto* row =
      FindRow([&](const TSQLFieldType& r) { return r.AdvancedFieldType == AdvancedFieldType; });
  return row ? row->BaseFieldType : bftUnknown;
}

TVEZAdvancedFieldType BaseTypeToAdvancedType(TVEZBaseFieldType BaseFieldType) {
  const auto* row =
      FindRow([&](const TSQLFieldType& r) { return r.BaseFieldType == BaseFieldType; });
  return row ? row->AdvancedFieldType : aftUnknown;
}

TVEZAdvancedFieldType VCLTypeToAdvancedType(platform::TFieldType FieldType) {
  const auto* row = FindRow([&](const TSQLFieldType& r) { return r.FieldType == FieldType; });
  if (row == nullptr)
    throw EVEZException(30289, "Unknown DataType: '%s'",
                        {platform::IntToStr(static_cast<int>(FieldType))});
  return row->AdvancedFieldType;
}

platform::TFieldType AdvancedTypeToVCLType(TVEZAdvancedFieldType AdvancedFieldType) {
  const auto* row =
      FindRow([&](const TSQLFieldType& r) { return r.AdvancedFieldType == AdvancedFieldType; });
  return row ? row->FieldType : platform::ftUnknown;
}

std::string AdvancedTypeToSQLTypeName(TVEZAdvancedFieldType AdvancedFieldType) {
  const auto* row =
      FindRow([&](const TSQLFieldType& r) { return r.AdvancedFieldType == AdvancedFieldType; });
  return row ? std::string(row->SqlName) : std::string("Unknown");
}

std::string BaseTypeToSQLTypeName(TVEZBaseFieldType BaseFieldType) {
  const auto* row =
      FindRow([&](const TSQLFieldType& r) { return r.BaseFieldType == BaseFieldType; });
  return row ? std::string(row->SqlName) : std::string("Unknown");
}

TVEZAdvancedFieldType SQLTypeNameToAdvancedType(std::string_view SqlName) {
  const std::string name = platform::UpperCase(SqlName);
  const auto* row = FindRow([&](const TSQLFieldType& r) { return r.SqlName == name; });
  return row ? row->AdvancedFieldType : aftUnknown;
}

std::int32_t GetValueSize(TVEZBaseFieldType DataType, std::int32_t Length) {
  using platform::CheckedAdd;
  using platform::CheckedMul;
  switch (DataType) {
    case bftChar:
    case bftVarchar:
    case bftBytes:
    case bftVarBytes:
      if (Length < 0) throw platform::EIntOverflow();
      return CheckedAdd<std::int32_t>(Length, 1);
    case bftWideChar:
    case bftWideVarchar:
      if (Length < 0) throw platform::EIntOverflow();
      return CheckedMul<std::int32_t>(CheckedAdd<std::int32_t>(Length, 1), 2);
    case bftSignedInt8:
    case bftUnsignedInt8:
      return 1;
    case bftSignedInt16:
    case bftUnsignedInt16:
    case bftLogical:
      return 2;
    case bftSignedInt32:
    case bftUnsignedInt32:
    case bftSingle:
    case bftDate:
    case bftTime:
      return 4;
    case bftSignedInt64:
    case bftDouble:
    case bftDateTime:
    case bftCurrency:
      return 8;
    case bftExtended:
    case bftBlob:
    case bftClob:
    case bftWideClob:
      return 10;
    default:
      throw EVEZException(30050, "Unknown DataType: '%s'", {BaseTypeToSQLTypeName(DataType)});
  }
}

void CopyValueToNewBuffer(TVEZBaseFieldType DataType, std::string_view Source, void*& Buffer,
                          std::int32_t& Size) {
  if (DataType != bftChar && DataType != bftVarchar) CannotCopy();
  Source = UpToZero(Source);
  const auto length = platform::CheckedCast<std::int32_t>(Source.size());
  const std::int32_t size = platform::CheckedAdd<std::int32_t>(length, 1);
  CopyInto(size, Buffer, Size, [&](std::uint8_t* p) {
    std::memcpy(p, Source.data(), Source.size());
    p[Source.size()] = 0;
  });
}

void CopyValueToNewBuffer(TVEZBaseFieldType DataType, std::u16string_view Source, void*& Buffer,
                          std::int32_t& Size) {
  if (DataType != bftWideChar && DataType != bftWideVarchar) CannotCopy();
  Source = UpToZero(Source);
  const auto length = platform::CheckedCast<std::int32_t>(Source.size());
  const std::int32_t size =
      platform::CheckedMul<std::int32_t>(platform::CheckedAdd<std::int32_t>(length, 1), 2);
  CopyInto(size, Buffer, Size, [&](std::uint8_t* p) {
    for (std::size_t i = 0; i <= Source.size(); ++i)
      PutLE<std::uint16_t>(p + 2 * i, i < Source.size() ? Source[i] : 0);
  });
}

void CopyValueToNewBuffer(TVEZBaseFieldType DataType, const void* Source, void*& Buffer,
                          std::int32_t& Size) {
  if (Source == nullptr) CannotCopy();
  const auto* src = static_cast<const std::uint8_t*>(Source);
  if (DataType == bftChar || DataType == bftVarchar) {
    CopyValueToNewBuffer(DataType, std::string_view(reinterpret_cast<const char*>(src)), Buffer,
                         Size);
    return;
  }
  if (DataType == bftWideChar || DataType == bftWideVarchar) {
    std::u16string text;
    for (const std::uint8_t* p = src;; p += 2) {
      const auto c = GetLE<std::uint16_t>(p);
      if (c == 0) break;
      text.push_back(static_cast<char16_t>(c));
    }
    CopyValueToNewBuffer(DataType, std::u16string_view(text), Buffer, Size);
    return;
  }
  const std::int32_t size = GetValueSize(DataType, 0);
  CopyInto(size, Buffer, Size,
           [&](std::uint8_t* p) { std::memcpy(p, src, static_cast<std::size_t>(size)); });
}

std::u16string VEZWideUpperCase(std::u16string_view S) {
  return platform::WideUpperCase(S);
}

std::u16string VEZWideLowerCase(std::u16string_view S) {
  return platform::WideLowerCase(S);
}

std::int32_t TDateToVEZDate(double D) {
  if (!std::isfinite(D)) InvalidDateTime();
  return DayNumber(std::trunc(D));
}

double VEZDateToTDate(std::int32_t Day) {
  return static_cast<double>(std::int64_t{Day} - kDateDelta);
}

std::int32_t TTimeToVEZTime(double D) {
  std::int32_t ms;
  SplitDateTime(D, ms);  // a time that rounds to midnight is 0 of the next day
  return ms;
}

double VEZTimeToTTime(std::int32_t Milliseconds) {
  const std::int64_t ms =
      std::int64_t{Milliseconds} < 0 ? -std::int64_t{Milliseconds} : std::int64_t{Milliseconds};
  return static_cast<double>(ms % kMSecsPerDay) / kMSecsPerDay;
}

TVEZDateTime TDateTimeToVEZDateTime(double D) {
  TVEZDateTime dt;
  const double days = SplitDateTime(D, dt.Time);
  dt.Date = DayNumber(days);
  return dt;
}

double VEZDateTimeToTDateTime(const TVEZDateTime& DT) {
  const double day = VEZDateToTDate(DT.Date);
  const double time = VEZTimeToTTime(DT.Time);
  return day < 0 ? day - time : day + time;
}

bool IsBlobBaseFieldType(TVEZBaseFieldType T) {
  return T == bftBlob || T == bftClob || T == bftWideClob;
}

bool IsBlobAdvancedFieldType(TVEZAdvancedFieldType T) {
  return T == aftBlob || T == aftGraphic || T == aftMemo || T == aftFormattedMemo ||
         T == aftWideMemo;
}

bool IsStringBaseFieldType(TVEZBaseFieldType T) {
  return T == bftChar || T == bftWideChar || T == bftVarchar || T == bftWideVarchar;
}

bool IsStringAdvancedFieldType(TVEZAdvancedFieldType T) {
  return T == aftChar || T == aftString || T == aftWideChar || T == aftWideString || T == aftGuid;
}

bool IsWideStringBaseFieldType(TVEZBaseFieldType T) {
  return T == bftWideChar || T == bftWideVarchar;
}

bool IsWideStringAdvancedFieldType(TVEZAdvancedFieldType T) {
  return T == aftWideChar || T == aftWideString;
}

bool IsBytesAdvancedFieldType(TVEZAdvancedFieldType T) {
  return T == aftBytes || T == aftVarBytes;
}

bool IsAutoincAdvancedFieldType(TVEZAdvancedFieldType T) {
  return T >= aftAutoInc && T <= aftAutoIncCardinal;
}

bool IsNumericBaseFieldType(TVEZBaseFieldType T) {
  return (T >= bftSignedInt8 && T <= bftExtended) || T == bftCurrency;
}

bool IsNumericAdvancedFieldType(TVEZAdvancedFieldType T) {
  return IsNumericBaseFieldType(AdvancedTypeToBaseType(T));
}

bool IsDateTimeBaseFieldType(TVEZBaseFieldType T) {
  return T == bftDate || T == bftTime || T == bftDateTime;
}

bool IsDateTimeAdvancedFieldType(TVEZAdvancedFieldType T) {
  return IsDateTimeBaseFieldType(AdvancedTypeToBaseType(T));
}

bool IsSizedAdvancedFieldType(TVEZAdvancedFieldType T) {
  return T == aftChar || T == aftString || T == aftWideChar || T == aftWideString ||
         T == aftBytes || T == aftVarBytes;
}

bool IsComparableAdvancedFieldType(TVEZAdvancedFieldType T) {
  return (T >= aftChar && T <= aftTimeStamp) || T == aftMemo || T == aftFormattedMemo ||
         T == aftWideMemo;
}

bool MatchLikeAnsi(std::string_view Value, std::string_view Pattern, bool HasEscape,
                   char EscapeChar, bool CaseInsensitive) {
  return MatchLike<char>(Value, Pattern, HasEscape, EscapeChar, [&](char a, char b) {
    return platform::AnsiCharsEqual(a, b, CaseInsensitive);
  });
}

bool MatchLikeWide(std::u16string_view Value, std::u16string_view Pattern, bool HasEscape,
                   char16_t EscapeChar, bool CaseInsensitive) {
  return MatchLike<char16_t>(Value, Pattern, HasEscape, EscapeChar, [&](char16_t a, char16_t b) {
    return platform::WideCharsEqual(a, b, CaseInsensitive);
  });
}

bool TryReadDigits(std::string_view Text, int Count, std::uint16_t& Value, int& Pos) {
  if (Pos < 1) return false;
  const int start = Pos;
  std::uint32_t v = 0;
  while (Pos <= static_cast<int>(Text.size()) && IsDigit(Text[static_cast<std::size_t>(Pos - 1)])) {
    if (v <= 0xFFFF)
      v = v * 10 + static_cast<std::uint32_t>(Text[static_cast<std::size_t>(Pos - 1)] - '0');
    ++Pos;
  }
  const int digits = Pos - start;
  ++Pos;  // over the character that ended the number
  if (digits != Count || v > 0xFFFF) return false;
  Value = static_cast<std::uint16_t>(v);
  return true;
}

namespace {

// Reads fields of the given digit counts; then at most one character may
// follow the last one.
template <std::size_t N>
bool ReadFields(std::string_view Text, const int (&counts)[N], std::uint16_t (&values)[N]) {
  int pos = 1;
  for (std::size_t k = 0; k < N; ++k)
    if (!TryReadDigits(Text, counts[k], values[k], pos)) return false;
  return static_cast<int>(Text.size()) < pos;
}

}  // namespace

bool TryParseSQLDate(std::string_view Text, double& Value) {
  static constexpr int kCounts[] = {4, 2, 2};
  std::uint16_t v[3];
  return ReadFields(Text, kCounts, v) && platform::TryEncodeDate(v[0], v[1], v[2], Value);
}

bool TryParseSQLTime(std::string_view Text, double& Value) {
  static constexpr int kCounts[] = {2, 2, 2};
  std::uint16_t v[3];
  return ReadFields(Text, kCounts, v) && platform::TryEncodeTime(v[0], v[1], v[2], 0, Value);
}

bool TryParseSQLTimestamp(std::string_view Text, double& Value) {
  static constexpr int kCounts[] = {4, 2, 2, 2, 2, 2};
  std::uint16_t v[6];
  return ReadFields(Text, kCounts, v) &&
         platform::TryEncodeDateTime(v[0], v[1], v[2], v[3], v[4], v[5], 0, Value);
}

}  // namespace vez

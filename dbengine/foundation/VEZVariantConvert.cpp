// ConvertTypedValue: the one conversion between storage types. A source is
// first read into a small intermediate (text, integer, float, currency, date,
// time, date-time or Boolean), then written in the target's storage form.
// Every failure of a supported pair becomes 30051, a refused pair 30052.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/foundation/VEZVariantBlock.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/CodePage.h"
#include "platform/core/TextConvert.h"

namespace vez {

namespace {

constexpr std::int32_t kMsPerDay = 86400000;

enum class TGroup {
  Ansi,
  Wide,
  Clob,
  WideClob,
  Integer,
  Float,
  Date,
  Time,
  DateTime,
  Logical,
  Currency,
  Blob,
  None
};

TGroup GroupOf(TVEZBaseFieldType t) {
  switch (t) {
    case bftChar:
    case bftVarchar:
      return TGroup::Ansi;
    case bftWideChar:
    case bftWideVarchar:
      return TGroup::Wide;
    case bftClob:
      return TGroup::Clob;
    case bftWideClob:
      return TGroup::WideClob;
    case bftSignedInt8:
    case bftSignedInt16:
    case bftSignedInt32:
    case bftSignedInt64:
    case bftUnsignedInt8:
    case bftUnsignedInt16:
    case bftUnsignedInt32:
      return TGroup::Integer;
    case bftSingle:
    case bftDouble:
    case bftExtended:
      return TGroup::Float;
    case bftDate:
      return TGroup::Date;
    case bftTime:
      return TGroup::Time;
    case bftDateTime:
      return TGroup::DateTime;
    case bftLogical:
      return TGroup::Logical;
    case bftCurrency:
      return TGroup::Currency;
    case bftBlob:
      return TGroup::Blob;
    default:
      return TGroup::None;
  }
}

bool IsTextGroup(TGroup g) {
  return g == TGroup::Ansi || g == TGroup::Wide || g == TGroup::Clob || g == TGroup::WideClob;
}
bool IsDateGroup(TGroup g) {
  return g == TGroup::Date || g == TGroup::Time || g == TGroup::DateTime;
}

// The conversion table: which source groups may reach which target groups.
bool PairSupported(TGroup src, TGroup dst) {
  if (dst == TGroup::Clob || dst == TGroup::WideClob || dst == TGroup::None) return false;
  const bool dst_text = dst == TGroup::Ansi || dst == TGroup::Wide;
  const bool dst_number = dst == TGroup::Integer || dst == TGroup::Float;
  if (IsTextGroup(src)) return true;
  if (src == TGroup::Integer || src == TGroup::Float || IsDateGroup(src))
    return dst != TGroup::Blob;
  if (src == TGroup::Logical) return dst_text || dst_number || dst == TGroup::Logical;
  if (src == TGroup::Currency)
    return dst_text || dst_number || dst == TGroup::Logical || dst == TGroup::Currency;
  return false;
}

// Texts read as floats take '.' as decimal separator whatever the settings say.
const platform::TFormatSettings& DotSettings() {
  static const platform::TFormatSettings settings = platform::TFormatSettings::EnGB();
  return settings;
}

// Raised inside a conversion to be reported as 30051.
struct TConversionFailed {};

[[noreturn]] void Fail() {
  throw TConversionFailed{};
}

// Output of one conversion, built in ordinary memory and moved into a
// MemoryManager block only when the whole conversion succeeded.
class TOut {
 public:
  void Bytes(const void* p, std::size_t n) {
    data_.resize(n);
    if (n != 0) std::memcpy(data_.data(), p, n);
  }
  template <typename T>
  void Value(T v) {
    Bytes(&v, sizeof v);
  }
  void Extended(long double v) {
    unsigned char b[sizeof(long double)] = {};
    std::memcpy(b, &v, sizeof v);
    Bytes(b, 10);
  }
  void Ansi(std::string_view s) {
    data_.assign(s.size() + 1, 0);
    if (!s.empty()) std::memcpy(data_.data(), s.data(), s.size());
  }
  void Wide(std::u16string_view s) {
    data_.assign(s.size() * 2 + 2, 0);
    if (!s.empty()) std::memcpy(data_.data(), s.data(), s.size() * 2);
  }
  const std::vector<unsigned char>& Data() const { return data_; }

 private:
  std::vector<unsigned char> data_;
};

// Integers cut to the target width (their low bytes), as stored.
void WriteInteger(TOut& out, std::int64_t v, TVEZBaseFieldType target) {
  const auto u = static_cast<std::uint64_t>(v);
  switch (target) {
    case bftSignedInt8:
      out.Value(static_cast<std::int8_t>(u));
      break;
    case bftSignedInt16:
      out.Value(static_cast<std::int16_t>(u));
      break;
    case bftSignedInt32:
      out.Value(static_cast<std::int32_t>(u));
      break;
    case bftSignedInt64:
      out.Value(v);
      break;
    case bftUnsignedInt8:
      out.Value(static_cast<std::uint8_t>(u));
      break;
    case bftUnsignedInt16:
      out.Value(static_cast<std::uint16_t>(u));
      break;
    case bftUnsignedInt32:
      out.Value(static_cast<std::uint32_t>(u));
      break;
    default:
      Fail();
  }
}

void WriteFloat(TOut& out, long double v, TVEZBaseFieldType target) {
  switch (target) {
    case bftSingle: {
      const float f = static_cast<float>(v);
      if (std::isinf(f) && std::isfinite(v)) Fail();  // overflow of the narrower type
      out.Value(f);
      break;
    }
    case bftDouble: {
      const double d = static_cast<double>(v);
      if (std::isinf(d) && std::isfinite(v)) Fail();
      out.Value(d);
      break;
    }
    case bftExtended:
      out.Extended(v);
      break;
    default:
      Fail();
  }
}

void WriteCurrency(TOut& out, long double v) {
  const double d = static_cast<double>(v);
  if (std::isinf(d) && std::isfinite(v)) Fail();
  out.Value(d);
}

void WriteLogical(TOut& out, bool b) {
  out.Value(static_cast<std::int16_t>(b ? -1 : 0));
}

void WriteDateTime(TOut& out, std::int32_t d, std::int32_t t) {
  unsigned char b[8];
  std::memcpy(b, &d, 4);
  std::memcpy(b + 4, &t, 4);
  out.Bytes(b, 8);
}

void WriteText(TOut& out, const std::string& ansi, TVEZBaseFieldType target) {
  if (target == bftWideChar || target == bftWideVarchar)
    out.Wide(platform::AnsiToWide(ansi));
  else
    out.Ansi(ansi);
}

// Truncates a float toward zero into 64 bits; NaN and values out of range fail.
std::int64_t TruncToInt64(long double v) {
  if (std::isnan(v)) Fail();
  const long double t = std::trunc(v);
  if (!(t >= -9223372036854775808.0L && t < 9223372036854775808.0L)) Fail();
  return static_cast<std::int64_t>(t);
}

std::int32_t Cut32(std::int64_t v) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}

// ---- text sources ----------------------------------------------------------

// Text parsed as an integer of the target's width; out of range fails.
void TextToInteger(TOut& out, const std::string& text, TVEZBaseFieldType target) {
  std::int64_t v = 0;
  if (!platform::TryStrToInt64(text, v)) Fail();
  std::int64_t lo = 0, hi = 0;
  switch (target) {
    case bftSignedInt8:
      lo = INT8_MIN, hi = INT8_MAX;
      break;
    case bftSignedInt16:
      lo = INT16_MIN, hi = INT16_MAX;
      break;
    case bftSignedInt32:
      lo = INT32_MIN, hi = INT32_MAX;
      break;
    case bftSignedInt64:
      lo = INT64_MIN, hi = INT64_MAX;
      break;
    case bftUnsignedInt8:
      hi = UINT8_MAX;
      break;
    case bftUnsignedInt16:
      hi = UINT16_MAX;
      break;
    case bftUnsignedInt32:
      hi = UINT32_MAX;
      break;
    default:
      Fail();
  }
  if (v < lo || v > hi) Fail();
  WriteInteger(out, v, target);
}

bool IsTrueText(const std::string& text) {
  std::string u = text;
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return u == "1" || u == "TRUE";
}

void FromText(TOut& out, TGroup src, const std::string& ansi, const std::u16string& wide,
              TVEZBaseFieldType target) {
  const bool sql_forms = src == TGroup::Ansi;  // only single-byte strings know the SQL literals
  const bool wide_source = src == TGroup::Wide || src == TGroup::WideClob;
  switch (GroupOf(target)) {
    case TGroup::Ansi:
      out.Ansi(ansi);
      return;
    case TGroup::Wide:
      out.Wide(wide_source ? wide : platform::AnsiToWide(ansi));
      return;
    case TGroup::Integer:
      TextToInteger(out, ansi, target);
      return;
    case TGroup::Float:
      WriteFloat(out, platform::StrToFloat(ansi, DotSettings()), target);
      return;
    case TGroup::Currency:
      WriteCurrency(out, platform::StrToCurr(ansi));
      return;
    case TGroup::Logical:
      WriteLogical(out, IsTrueText(ansi));
      return;
    case TGroup::Blob:
      if (wide_source)
        out.Wide(wide);
      else
        out.Ansi(ansi);
      return;
    case TGroup::Date: {
      double d;
      if (!(sql_forms && (TryParseSQLTimestamp(ansi, d) || TryParseSQLDate(ansi, d))))
        d = platform::StrToDate(ansi);
      out.Value(TDateToVEZDate(d));
      return;
    }
    case TGroup::Time: {
      double d;
      if (!(sql_forms && TryParseSQLTime(ansi, d))) d = platform::StrToTime(ansi);
      out.Value(TTimeToVEZTime(d));
      return;
    }
    case TGroup::DateTime: {
      double d;
      if (!(sql_forms && (TryParseSQLTimestamp(ansi, d) || TryParseSQLDate(ansi, d))))
        d = platform::StrToDateTime(ansi);
      const TVEZDateTime dt = TDateTimeToVEZDateTime(d);
      WriteDateTime(out, dt.Date, dt.Time);
      return;
    }
    default:
      Fail();
  }
}

// ---- number sources --------------------------------------------------------

void FromInteger(TOut& out, std::int64_t v, bool unsigned32, TVEZBaseFieldType target) {
  switch (GroupOf(target)) {
    case TGroup::Ansi:
    case TGroup::Wide:
      WriteText(out, unsigned32 ? std::to_string(static_cast<std::uint64_t>(v)) : std::to_string(v),
                target);
      return;
    case TGroup::Integer:
      WriteInteger(out, v, target);
      return;
    case TGroup::Float:
      WriteFloat(out, static_cast<long double>(v), target);
      return;
    case TGroup::Currency:
      WriteCurrency(out, static_cast<long double>(v));
      return;
    case TGroup::Date:
      out.Value(Cut32(v));
      return;
    case TGroup::Time:
      out.Value(Cut32(v));
      return;
    case TGroup::DateTime:
      WriteDateTime(out, Cut32(v), 0);
      return;
    case TGroup::Logical:
      WriteLogical(out, v != 0);
      return;
    default:
      Fail();
  }
}

void FromFloat(TOut& out, long double v, bool currency, TVEZBaseFieldType target) {
  switch (GroupOf(target)) {
    case TGroup::Ansi:
    case TGroup::Wide:
      WriteText(out,
                currency ? platform::CurrToStr(static_cast<double>(v)) : platform::FloatToStr(v),
                target);
      return;
    case TGroup::Integer:
      WriteInteger(out, TruncToInt64(v), target);
      return;
    case TGroup::Float:
      WriteFloat(out, v, target);
      return;
    case TGroup::Currency:
      WriteCurrency(out, v);
      return;
    case TGroup::Logical:
      WriteLogical(out, !std::isnan(v) && v != 0);
      return;
    case TGroup::Date:
      if (currency) Fail();
      out.Value(Cut32(TruncToInt64(v)));
      return;
    case TGroup::Time:
      if (currency) Fail();
      out.Value(Cut32(TruncToInt64(v) % kMsPerDay));
      return;
    case TGroup::DateTime: {
      if (currency) Fail();
      const std::int64_t whole = TruncToInt64(v);
      const long double frac = v - std::trunc(v);
      WriteDateTime(out, Cut32(whole), Cut32(TruncToInt64(frac * kMsPerDay)));
      return;
    }
    default:
      Fail();
  }
}

// ---- date and time sources -------------------------------------------------

void FromDateTimeParts(TOut& out, TGroup src, std::int32_t d, std::int32_t t,
                       TVEZBaseFieldType target) {
  // d is meaningful for Date and DateTime sources, t for Time and DateTime.
  switch (GroupOf(target)) {
    case TGroup::Ansi:
    case TGroup::Wide: {
      std::string text;
      if (src == TGroup::Date) {
        if (d != kVEZNoDate) text = platform::DateToStr(VEZDateToTDate(d));
      } else if (src == TGroup::Time) {
        if (t != 0) text = platform::TimeToStr(VEZTimeToTTime(t));
      } else if (!(d == kVEZNoDate && t == 0)) {
        if (d == kVEZNoDate) Fail();  // a time without a date has no text form
        TVEZDateTime dt;
        dt.Date = d;
        dt.Time = t;
        text = platform::DateTimeToStr(VEZDateTimeToTDateTime(dt));
      }
      WriteText(out, text, target);
      return;
    }
    case TGroup::Integer:
      WriteInteger(out, src == TGroup::Time ? t : d, target);
      return;
    case TGroup::Float:
    case TGroup::Currency: {
      long double v;
      if (src == TGroup::Date)
        v = d;
      else if (src == TGroup::Time)
        v = t;
      else {
        v = static_cast<long double>(d == kVEZNoDate ? 0 : d) +
            static_cast<long double>(t) / kMsPerDay;
        if (GroupOf(target) == TGroup::Currency) v = std::round(v * 10000.0L) / 10000.0L;
      }
      if (GroupOf(target) == TGroup::Currency)
        WriteCurrency(out, v);
      else
        WriteFloat(out, v, target);
      return;
    }
    case TGroup::Date:
      out.Value(src == TGroup::Time ? t : d);
      return;
    case TGroup::Time:
      out.Value(src == TGroup::Date ? d % kMsPerDay : t);
      return;
    case TGroup::DateTime:
      if (src == TGroup::Date)
        WriteDateTime(out, d, 0);
      else if (src == TGroup::Time)
        WriteDateTime(out, kVEZNoDate, t);
      else
        WriteDateTime(out, d, t);
      return;
    case TGroup::Logical:
      if (src == TGroup::Date)
        WriteLogical(out, d != kVEZNoDate);
      else if (src == TGroup::Time)
        WriteLogical(out, t != 0);
      else
        WriteLogical(out, d != kVEZNoDate || t != 0);
      return;
    default:
      Fail();
  }
}

void FromLogical(TOut& out, const void* source, TVEZBaseFieldType target) {
  const auto raw = LoadRawValue<std::int16_t>(source);
  const bool b = raw != 0;
  switch (GroupOf(target)) {
    case TGroup::Ansi:
    case TGroup::Wide:
      WriteText(out, b ? "True" : "False", target);
      return;
    case TGroup::Integer:
      WriteInteger(out, b ? 1 : 0, target);
      return;
    case TGroup::Float:
      WriteFloat(out, b ? 1.0L : 0.0L, target);
      return;
    case TGroup::Logical:
      out.Value(raw);
      return;
    default:
      Fail();
  }
}

// Single-byte text of a source, never read past SourceSize when it is known.
std::string ReadAnsiText(const char* p, std::int32_t size, bool clob) {
  if (size < 0) return std::string(p);
  if (clob) return std::string(p, static_cast<std::size_t>(size));
  return std::string(p, strnlen(p, static_cast<std::size_t>(size)));
}

std::u16string ReadWideText(const void* p, std::int32_t size, bool clob) {
  std::u16string s;
  const auto* b = static_cast<const unsigned char*>(p);
  const std::int64_t units = size < 0 ? INT64_MAX : size / 2;
  for (std::int64_t i = 0; i < units; ++i) {
    char16_t c;
    std::memcpy(&c, b + 2 * i, 2);
    if (c == 0 && !clob) break;
    if (c == 0 && size < 0) break;
    s.push_back(c);
  }
  return s;
}

}  // namespace

void* ConvertTypedValue(const void* Source, std::int32_t SourceSize, TVEZBaseFieldType SourceType,
                        std::int32_t& OutSize, TVEZBaseFieldType TargetType) {
  const TGroup src = GroupOf(SourceType);
  const TGroup dst = GroupOf(TargetType);
  if (!PairSupported(src, dst))
    throw EVEZException(30052, "Cannot cast from '%s' to '%s'",
                        {BaseTypeToSQLTypeName(SourceType), BaseTypeToSQLTypeName(TargetType)});
  try {
    // A fixed-size source shorter than its type is never read past its end.
    if (SourceSize >= 0 && !IsTextGroup(src) && SourceSize < GetValueSize(SourceType, 0)) Fail();
    TOut out;
    switch (src) {
      case TGroup::Ansi:
      case TGroup::Clob: {
        const std::string ansi =
            ReadAnsiText(static_cast<const char*>(Source), SourceSize, src == TGroup::Clob);
        FromText(out, src, ansi, std::u16string(), TargetType);
        break;
      }
      case TGroup::Wide:
      case TGroup::WideClob: {
        const std::u16string wide = ReadWideText(Source, SourceSize, src == TGroup::WideClob);
        FromText(out, src, platform::WideToAnsi(wide), wide, TargetType);
        break;
      }
      case TGroup::Integer: {
        std::int64_t v = 0;
        switch (SourceType) {
          case bftSignedInt8:
            v = LoadRawValue<std::int8_t>(Source);
            break;
          case bftSignedInt16:
            v = LoadRawValue<std::int16_t>(Source);
            break;
          case bftSignedInt32:
            v = LoadRawValue<std::int32_t>(Source);
            break;
          case bftSignedInt64:
            v = LoadRawValue<std::int64_t>(Source);
            break;
          case bftUnsignedInt8:
            v = LoadRawValue<std::uint8_t>(Source);
            break;
          case bftUnsignedInt16:
            v = LoadRawValue<std::uint16_t>(Source);
            break;
          default:
            v = LoadRawValue<std::uint32_t>(Source);
            break;
        }
        FromInteger(out, v, SourceType == bftUnsignedInt32, TargetType);
        break;
      }
      case TGroup::Float: {
        long double v;
        if (SourceType == bftSingle)
          v = LoadRawValue<float>(Source);
        else if (SourceType == bftDouble)
          v = LoadRawValue<double>(Source);
        else
          v = LoadRawExtended(Source);
        FromFloat(out, v, false, TargetType);
        break;
      }
      case TGroup::Currency:
        FromFloat(out, LoadRawValue<double>(Source), true, TargetType);
        break;
      case TGroup::Date:
        FromDateTimeParts(out, src, LoadRawValue<std::int32_t>(Source), 0, TargetType);
        break;
      case TGroup::Time:
        FromDateTimeParts(out, src, 0, LoadRawValue<std::int32_t>(Source), TargetType);
        break;
      case TGroup::DateTime: {
        const auto* b = static_cast<const unsigned char*>(Source);
        FromDateTimeParts(out, src, LoadRawValue<std::int32_t>(b),
                          LoadRawValue<std::int32_t>(b + 4), TargetType);
        break;
      }
      case TGroup::Logical:
        FromLogical(out, Source, TargetType);
        break;
      default:
        Fail();
    }
    const std::vector<unsigned char>& data = out.Data();
    const std::int32_t size = platform::CheckedCast<std::int32_t>(data.size());
    void* block = MemoryManager().GetMem(size);
    std::memcpy(block, data.data(), data.size());
    OutSize = size;
    return block;
  } catch (...) {
    // Whatever failed (text that does not parse, an invalid date, memory),
    // the caller sees one conversion error.
    throw EVEZException(30051, "Cannot cast from '%s' to '%s'",
                        {BaseTypeToSQLTypeName(SourceType), BaseTypeToSQLTypeName(TargetType)});
  }
}

}  // namespace vez

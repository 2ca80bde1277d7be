// TextConvert: numbers, currency and dates to and from text under a
// TFormatSettings, never under the C locale (no strtod, printf or iostreams:
// std::to_chars / std::from_chars only).
//
// Integers: optional leading blanks, optional sign, decimal digits, or '$' /
// "0x" / "0X" followed by hexadecimal digits (read as the two's complement
// bits of the target width). Nothing may follow. Out of range is an error.
//
// Floats: text = [blanks] [sign] digits [DecimalSeparator digits]
// [('E'|'e') [sign] digits] [blanks], at least one digit before the exponent
// ("5.", ".5" are fine); no thousand separators, no "INF"/"NAN". A value that
// overflows the target type is an error; one that underflows reads as 0.
//
// FloatToStr (general format, 15 significant digits), exact rules:
// 1. NaN prints "NAN", infinities "INF" and "-INF".
// 2. The value is rounded to 15 significant decimal digits from its exact
//    binary value, a half away from zero (as every fixed-digit format here:
//    2.5 with no decimals prints "3"); trailing zeros are dropped. Let E be
//    the decimal exponent with the value = 0.d1d2... x 10^E (d1 != 0).
// 3. 0 (of either sign) prints "0".
// 4. When -3 <= E <= 15: fixed notation, no exponent; integer digits (or
//    "0"), then DecimalSeparator and the remaining digits when there are any:
//    0.1 -> "0.1", 0.0001 -> "0.0001", 1e14 -> "100000000000000".
// 5. Otherwise: scientific: d1, then DecimalSeparator and the other digits
//    when there are any, then 'E', '-' for a negative exponent (no '+'), and
//    the exponent E - 1 without leading zeros: 1e15 -> "1E15",
//    1e20 -> "1E20", 123456789012345678 -> "1.23456789012346E17",
//    0.00001 -> "1E-5".
// 6. A negative value gets a leading '-'.
// FloatToStrF formats: see TFloatFormat.
//
// Currency values are doubles held to four decimals: CurrToStr rounds to
// four decimals and prints general format; StrToCurr reads a float and rounds
// it to four decimals (range +-922337203685477.5807).
//
// Dates and times: DateToStr uses ShortDateFormat, TimeToStr LongTimeFormat,
// DateTimeToStr both (the time omitted when it is exactly midnight).
// StrToDate reads day, month and year in the order of ShortDateFormat,
// separated by DateSeparator (a missing year is the current year; a one- or
// two-digit year goes through TwoDigitYearCenturyWindow); StrToTime reads
// hh[:nn[:ss[.zzz]]] with TimeSeparator and an optional AM/PM string;
// StrToDateTime a date, blanks, then an optional time.
//
// Errors raise EConvertError with the platform's texts ("'%s' is not a valid
// integer value", "'%s' is not a valid floating point value", "'%s' is not a
// valid date", "'%s' is not a valid time", "'%s' is not a valid date and
// time"). The Try forms answer false instead and leave the result untouched.
//
// Thread safety: pure functions; the default settings argument reads the
// process-wide settings (see FormatSettings.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/DateTime.h"
#include "platform/core/FormatSettings.h"

namespace platform {

// ---- integers
std::string IntToStr(std::int64_t value);
std::string UIntToStr(std::uint64_t value);
// Upper-case hex, at least `digits` digits (zero-padded).
std::string IntToHex(std::uint64_t value, int digits);
bool TryStrToInt(std::string_view text, std::int32_t& value);
bool TryStrToInt64(std::string_view text, std::int64_t& value);
bool TryStrToUInt64(std::string_view text, std::uint64_t& value);
std::int32_t StrToInt(std::string_view text);
std::int64_t StrToInt64(std::string_view text);
std::int32_t StrToIntDef(std::string_view text, std::int32_t default_value);

// ---- floats
enum class TFloatFormat {
  // As FloatToStr with `precision` significant digits (1..18); scientific
  // when E > precision or E < -3; exponent padded to at least `digits` digits
  // (0..4).
  ffGeneral,
  // d.ddd...E+xxx: `precision` significant digits (kept), 'E', the exponent's
  // sign always, at least `digits` exponent digits (0..4).
  ffExponent,
  // Fixed notation with `digits` decimals (0..18); ffExponent when the value
  // has more than `precision` integer digits.
  ffFixed,
  // ffFixed with ThousandSeparator between groups of three integer digits.
  ffNumber,
  // ffNumber with `digits` decimals placed with CurrencyString as
  // CurrencyFormat / NegCurrFormat say.
  ffCurrency
};
// A value that rounds to zero at the chosen digits prints without a sign.
std::string FloatToStrF(long double value, TFloatFormat format, int precision, int digits,
                        const TFormatSettings& fs = FormatSettings());
std::string FloatToStr(long double value, const TFormatSettings& fs = FormatSettings());
bool TryStrToFloat(std::string_view text, long double& value,
                   const TFormatSettings& fs = FormatSettings());
bool TryStrToFloat(std::string_view text, double& value,
                   const TFormatSettings& fs = FormatSettings());
long double StrToFloat(std::string_view text, const TFormatSettings& fs = FormatSettings());

// ---- currency (doubles held to four decimals)
std::string CurrToStr(double value, const TFormatSettings& fs = FormatSettings());
bool TryStrToCurr(std::string_view text, double& value,
                  const TFormatSettings& fs = FormatSettings());
double StrToCurr(std::string_view text, const TFormatSettings& fs = FormatSettings());

// ---- dates and times
// Format specifiers (case-insensitive, longest match): c (ShortDateFormat,
// then ' ' and LongTimeFormat unless midnight), d dd ddd dddd ddddd
// (ShortDateFormat) dddddd (LongDateFormat), m mm mmm mmmm (month; m and mm
// right after h/hh are minutes), yy yyyy, h hh, n nn, s ss, z zzz, t
// (ShortTimeFormat), tt (LongTimeFormat), am/pm a/p ampm (12-hour clock),
// '/' (DateSeparator), ':' (TimeSeparator), '...' and "..." quoted text.
// An empty format prints as "c". Raises EConvertError for an invalid value.
std::string FormatDateTime(std::string_view format, TDateTime value,
                           const TFormatSettings& fs = FormatSettings());
std::string DateToStr(TDateTime value, const TFormatSettings& fs = FormatSettings());
std::string TimeToStr(TDateTime value, const TFormatSettings& fs = FormatSettings());
std::string DateTimeToStr(TDateTime value, const TFormatSettings& fs = FormatSettings());
bool TryStrToDate(std::string_view text, TDateTime& value,
                  const TFormatSettings& fs = FormatSettings());
bool TryStrToTime(std::string_view text, TDateTime& value,
                  const TFormatSettings& fs = FormatSettings());
bool TryStrToDateTime(std::string_view text, TDateTime& value,
                      const TFormatSettings& fs = FormatSettings());
TDateTime StrToDate(std::string_view text, const TFormatSettings& fs = FormatSettings());
TDateTime StrToTime(std::string_view text, const TFormatSettings& fs = FormatSettings());
TDateTime StrToDateTime(std::string_view text, const TFormatSettings& fs = FormatSettings());

}  // namespace platform

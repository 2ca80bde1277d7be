// Utils: the application's small shared routines: number and duration texts,
// shaft names, file-name cleaning, last-occurrence search and lenient number
// entry. Texts are Windows-1252 (the engine's single-byte text); numbers and
// dates follow the process-wide format settings (en-GB), never the C or Qt
// locale of the user, so every text here reads the same on every machine.
//
// None of the routines reports an error: the lenient parsers read any text.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/DateTime.h"

namespace rvx {

using platform::TDateTime;

// x >= 1000: no decimals, at most 6 significant digits; x < 1000 (negative
// values included): one decimal, at most 4 significant digits. No thousands
// separator; a value with more integer digits than that comes out in
// scientific notation (1.235E+4).
std::string FormatValue(double x);
// FormatValue(x) + " " + unit.
std::string FormatValueWithUnit(double x, std::string_view unit);

// The decimal text of value left-filled with "0" to `digits` characters;
// longer values come out whole. Meant for value >= 0: one "0" is put in front
// for every c = 1 .. digits - 1 with value < 10^c, so a negative value gets
// digits - 1 of them.
std::string IntToZeroPaddedStr(std::int64_t value, int digits);

// Two shafts: "Port Shaft" for index 0, "Starboard Shaft" for any other index;
// any other number of shafts: empty.
std::string ShaftName(int shaftIndex, int numberOfShafts);
// The same with "Port" and "Stbd".
std::string ShaftShortName(int shaftIndex, int numberOfShafts);

// text without any of \ / : * ? " > < | and "." (report file base names).
std::string SanitizeFileName(std::string_view text);
std::string ReverseText(std::string_view text);
// 1-based position of the last occurrence of sub in s; 0 when there is none
// or sub is empty.
int LastPos(std::string_view sub, std::string_view s);

// The smaller of a and b where a value with |x| <= 1E-12 counts as absent:
// b when b is not absent and (a is absent or b <= a), else a.
double MinNonZero(double a, double b);
// b when b >= a, else a.
double MaxOf(double a, double b);
// array := the values of list, in order.
void ListToArray(const std::vector<double>& list, std::vector<double>& array);

// A duration (a date-time difference in days) as hours:minutes:seconds, each
// at least two digits; hours = whole days x 24 + the hour of the day, so they
// pass 24 (held in 16 bits: at most 65535); milliseconds dropped (the time is
// first rounded to the millisecond). 0 gives "00:00:00", 1.5 gives "36:00:00".
// Meant for durations >= 0.
std::string FormatDuration(TDateTime x);
// "2 days, 0 hours, 4 minutes and 1 second": the units from the largest one
// that is not zero (days, hours, minutes) down to seconds, which are always
// written; "s" unless the number is 1; parts joined by ", ", the seconds by
// " and ". Days are held in 16 bits. Meant for durations >= 0.
std::string FormatDurationInWords(TDateTime x);

// A number typed in a dialog, read from right to left: every digit adds
// digit x 10^k, k counting the digits since the last separator; a separator
// (the character sep, or either "," or "." when sep is 'x') scales the value
// read so far by 10^-k and sets k to 0; a "-" anywhere makes the result
// negative; every other character is ignored. "" gives 0, "1.234,5" 1.2345.
double ParseFloatText(std::string_view s, char sep);
// An integer typed in a dialog, read from right to left: every digit adds
// digit x 10^k; a "," or "." throws away what was read so far, so only the
// digits left of the leftmost separator count; a "-" anywhere negates; other
// characters are ignored; "" gives 0. A number beyond the 32-bit range is
// held at +-2147483647 instead of wrapping.
std::int32_t ParseIntegerPart(std::string_view s);

}  // namespace rvx

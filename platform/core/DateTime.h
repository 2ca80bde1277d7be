// DateTime: the platform date-time and its calendar. A TDateTime is a double
// counting days from 1899-12-30 (day 0); its fraction is the time of day.
// Before 1899-12-30 the number is negative and the time of day is the
// absolute value of the fraction (-1.25 is 1899-12-29 06:00). The calendar is
// the proleptic Gregorian one for years 1 to 9999.
//
// Decoding rounds the time to the nearest millisecond (halves to even) and
// carries a time that rounds to 24:00:00.000 into the next day, so
// 23:59:59.9996 decodes as the next day's midnight, never as hour 24.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>

namespace platform {

using TDateTime = double;

inline constexpr std::int32_t DateDelta = 693594;  // days from 0001-01-01 (day 1) to 1899-12-30
inline constexpr std::int32_t HoursPerDay = 24;
inline constexpr std::int32_t MinsPerHour = 60;
inline constexpr std::int32_t SecsPerMin = 60;
inline constexpr std::int32_t MSecsPerSec = 1000;
inline constexpr std::int32_t SecsPerDay = 86400;
inline constexpr std::int32_t MSecsPerDay = 86400000;
inline constexpr double MinDateTime = -693593.0;         // 0001-01-01 00:00
inline constexpr double MaxDateTime = 2958465.99999999;  // 9999-12-31 23:59:59.999

// Day number (0001-01-01 is 1) and milliseconds of the day (0..86399999).
struct TTimeStamp {
  std::int32_t Time = 0;
  std::int32_t Date = 0;
  friend bool operator==(const TTimeStamp&, const TTimeStamp&) = default;
};

bool IsLeapYear(int year);
// 28..31; 0 for a month outside 1..12.
int DaysInMonth(int year, int month);

// False (result untouched) for a date outside 0001-01-01..9999-12-31 or an
// impossible day or month.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
// False unless hour < 24, min < 60, sec < 60 and msec < 1000.
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result);
bool TryEncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec,
                       TDateTime& result);
// As the Try forms; raise EConvertError "Invalid argument to date encode" /
// "Invalid argument to time encode".
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec);

// Day number and milliseconds (rounded, carried). False for a value that is
// not finite or lies outside MinDateTime..MaxDateTime (after rounding).
bool TryDateTimeToTimeStamp(TDateTime value, TTimeStamp& result);
// Raises EConvertError "Invalid date-time value" where the Try form fails.
TTimeStamp DateTimeToTimeStamp(TDateTime value);
// The whole days (trunc, then +1 for a carried time) and the milliseconds of
// the day (|fraction| rounded halves to even; 24:00:00.000 carried) of a
// date-time, without range checks; the engine's day number uses it too.
// REQUIRES: value is finite.
void SplitDateTime(TDateTime value, double& days, std::int32_t& ms);
// The platform form of a time stamp (day - time before 1899-12-30). A Time
// outside 0..86399999 is taken as |Time| mod 86400000, the legacy negative
// times of early dates included.
TDateTime TimeStampToDateTime(const TTimeStamp& stamp);

// Decoding; values outside MinDateTime..MaxDateTime (or not finite) make the
// Try forms answer false and the others raise EConvertError "Invalid
// date-time value".
bool TryDecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& min,
                       int& sec, int& msec);
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& min, int& sec,
                    int& msec);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec);

// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime value);
// The date part (midnight of the day) and the time part (0 <= t < 1).
TDateTime DateOf(TDateTime value);
TDateTime TimeOf(TDateTime value);

// Calendar day numbers: 0001-01-01 is 1. False when out of 1..9999.
bool TryDayNumberFromDate(int year, int month, int day, std::int32_t& day_number);
bool TryDateFromDayNumber(std::int32_t day_number, int& year, int& month, int& day);

}  // namespace platform

#include "platform/core/DateTime.h"

#include <cmath>
#include <cstdlib>

#include "platform/core/Exceptions.h"

namespace platform {

namespace {

constexpr std::int32_t kMaxDayNumber = 3652059;  // 9999-12-31

// Days from 1970-01-01 of a proleptic Gregorian date (valid for any year).
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

constexpr void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

// 0001-01-01 is day 1.
constexpr std::int64_t kCivilOffset = 719163;
static_assert(DaysFromCivil(1, 1, 1) + kCivilOffset == 1);
static_assert(DaysFromCivil(1899, 12, 30) + kCivilOffset == DateDelta);

// Rounds to the nearest integer, halves to even, whatever the FPU's mode.
double RoundHalfEven(double x) {
  double r = std::floor(x);
  const double diff = x - r;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(r, 2.0) != 0.0)) r += 1.0;
  return r;
}

[[noreturn]] void InvalidValue() {
  throw EConvertError("Invalid date-time value");
}

}  // namespace

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryDayNumberFromDate(int year, int month, int day, std::int32_t& day_number) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  day_number = static_cast<std::int32_t>(
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kCivilOffset);
  return true;
}

bool TryDateFromDayNumber(std::int32_t day_number, int& year, int& month, int& day) {
  if (day_number < 1 || day_number > kMaxDayNumber) return false;
  CivilFromDays(static_cast<std::int64_t>(day_number) - kCivilOffset, year, month, day);
  return true;
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  std::int32_t dn;
  if (!TryDayNumberFromDate(year, month, day, dn)) return false;
  result = static_cast<double>(dn - DateDelta);
  return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result) {
  if (hour < 0 || hour >= 24 || min < 0 || min >= 60 || sec < 0 || sec >= 60 || msec < 0 ||
      msec >= 1000)
    return false;
  const std::int32_t ms = ((hour * 60 + min) * 60 + sec) * 1000 + msec;
  result = static_cast<double>(ms) / MSecsPerDay;
  return true;
}

bool TryEncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec,
                       TDateTime& result) {
  TDateTime date, time;
  if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, min, sec, msec, time))
    return false;
  result = date >= 0 ? date + time : date - time;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime r;
  if (!TryEncodeDate(year, month, day, r)) throw EConvertError("Invalid argument to date encode");
  return r;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  TDateTime r;
  if (!TryEncodeTime(hour, min, sec, msec, r))
    throw EConvertError("Invalid argument to time encode");
  return r;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec) {
  const TDateTime date = EncodeDate(year, month, day);
  const TDateTime time = EncodeTime(hour, min, sec, msec);
  return date >= 0 ? date + time : date - time;
}

void SplitDateTime(TDateTime value, double& days, std::int32_t& ms) {
  days = std::trunc(value);
  double t = RoundHalfEven(std::fabs(value - days) * MSecsPerDay);
  if (t >= MSecsPerDay) {  // 23:59:59.9995 and above: the next day's midnight
    t -= MSecsPerDay;
    days += 1;
  }
  ms = static_cast<std::int32_t>(t);
}

bool TryDateTimeToTimeStamp(TDateTime value, TTimeStamp& result) {
  // Checked before the cast so it cannot overflow.
  if (!std::isfinite(value) || value <= -693594.0 || value >= 2958466.0) return false;
  double days;
  std::int32_t ms;
  SplitDateTime(value, days, ms);
  const std::int32_t date = static_cast<std::int32_t>(days) + DateDelta;
  if (date < 1 || date > kMaxDayNumber) return false;
  result.Date = date;
  result.Time = ms;
  return true;
}

TTimeStamp DateTimeToTimeStamp(TDateTime value) {
  TTimeStamp ts;
  if (!TryDateTimeToTimeStamp(value, ts)) InvalidValue();
  return ts;
}

TDateTime TimeStampToDateTime(const TTimeStamp& stamp) {
  const std::int64_t ms = std::llabs(static_cast<std::int64_t>(stamp.Time)) % MSecsPerDay;
  const double time = static_cast<double>(ms) / MSecsPerDay;
  const double day = static_cast<double>(static_cast<std::int64_t>(stamp.Date) - DateDelta);
  return day < 0 ? day - time : day + time;
}

bool TryDecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& min,
                       int& sec, int& msec) {
  TTimeStamp ts;
  if (!TryDateTimeToTimeStamp(value, ts)) return false;
  TryDateFromDayNumber(ts.Date, year, month, day);
  std::int32_t ms = ts.Time;
  msec = ms % 1000;
  ms /= 1000;
  sec = ms % 60;
  ms /= 60;
  min = ms % 60;
  hour = ms / 60;
  return true;
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& min, int& sec,
                    int& msec) {
  if (!TryDecodeDateTime(value, year, month, day, hour, min, sec, msec)) InvalidValue();
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  int h, n, s, z;
  DecodeDateTime(value, year, month, day, h, n, s, z);
}

void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec) {
  int y, m, d;
  DecodeDateTime(value, y, m, d, hour, min, sec, msec);
}

int DayOfWeek(TDateTime value) {
  return DateTimeToTimeStamp(value).Date % 7 + 1;
}

TDateTime DateOf(TDateTime value) {
  return TimeStampToDateTime({0, DateTimeToTimeStamp(value).Date});
}

TDateTime TimeOf(TDateTime value) {
  return static_cast<double>(DateTimeToTimeStamp(value).Time) / MSecsPerDay;
}

}  // namespace platform

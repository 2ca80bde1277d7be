#include "platform/core/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/core/Exceptions.h"

namespace platform {
namespace {

TEST(DateTimeTest, EncodeDateTable) {
  struct Row {
    int y, m, d;
    double expected;
  };
  const Row rows[] = {
      {1899, 12, 30, 0},  {1899, 12, 31, 1},       {1900, 1, 1, 2},
      {1899, 12, 29, -1}, {2000, 1, 1, 36526},     {2016, 9, 20, 42633},
      {1, 1, 1, -693593}, {9999, 12, 31, 2958465}, {2000, 2, 29, 36585},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.y << "-" << r.m << "-" << r.d);
    EXPECT_EQ(EncodeDate(r.y, r.m, r.d), r.expected);
    int y, m, d;
    DecodeDate(r.expected, y, m, d);
    EXPECT_EQ(y, r.y);
    EXPECT_EQ(m, r.m);
    EXPECT_EQ(d, r.d);
  }
}

TEST(DateTimeTest, InvalidEncodings) {
  struct Row {
    int y, m, d;
  };
  const Row bad_dates[] = {{0, 1, 1},     {10000, 1, 1}, {2001, 2, 29}, {1900, 2, 29},
                           {2016, 13, 1}, {2016, 0, 1},  {2016, 4, 31}, {2016, 1, 0}};
  for (const Row& r : bad_dates) {
    SCOPED_TRACE(testing::Message() << r.y << "-" << r.m << "-" << r.d);
    TDateTime v = 42;
    EXPECT_FALSE(TryEncodeDate(r.y, r.m, r.d, v));
    EXPECT_EQ(v, 42);
    EXPECT_THROW(EncodeDate(r.y, r.m, r.d), EConvertError);
  }
  TDateTime v;
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, v));
  EXPECT_FALSE(TryEncodeTime(25, 0, 0, 0, v));
  EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, v));
  EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0, v));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, v));
  EXPECT_FALSE(TryEncodeTime(-1, 0, 0, 0, v));
  try {
    EncodeTime(25, 0, 0, 0);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Invalid argument to time encode");
  }
  try {
    EncodeDate(2016, 13, 1);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Invalid argument to date encode");
  }
}

TEST(DateTimeTest, LeapYearsAndMonthLengths) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(2023));
  EXPECT_EQ(DaysInMonth(2024, 2), 29);
  EXPECT_EQ(DaysInMonth(2023, 2), 28);
  EXPECT_EQ(DaysInMonth(2023, 12), 31);
  EXPECT_EQ(DaysInMonth(2023, 13), 0);
}

// Every day from 0001-01-01 to 9999-12-31 decodes to the date that encodes
// to it, and consecutive days are consecutive dates.
TEST(DateTimeTest, CalendarRoundTripEveryDay) {
  int py = 1, pm = 1, pd = 0;
  for (std::int32_t dn = 1; dn <= 3652059; ++dn) {
    int y, m, d;
    ASSERT_TRUE(TryDateFromDayNumber(dn, y, m, d)) << dn;
    std::int32_t back;
    ASSERT_TRUE(TryDayNumberFromDate(y, m, d, back));
    ASSERT_EQ(back, dn);
    const bool next_day = y == py && m == pm && d == pd + 1;
    const bool next_month = y == py && m == pm + 1 && d == 1 && pd == DaysInMonth(py, pm);
    const bool next_year = y == py + 1 && m == 1 && d == 1 && pm == 12 && pd == 31;
    ASSERT_TRUE(next_day || next_month || next_year || dn == 1) << dn;
    py = y, pm = m, pd = d;
  }
  int y, m, d;
  EXPECT_FALSE(TryDateFromDayNumber(0, y, m, d));
  EXPECT_FALSE(TryDateFromDayNumber(3652060, y, m, d));
}

TEST(DateTimeTest, TimeStampsRoundAndCarry) {
  struct Row {
    double value;
    std::int32_t date, time;
  };
  const Row rows[] = {
      {0.0, 693594, 0},
      {0.5, 693594, 43200000},
      {-1.25, 693593, 21600000},          // 1899-12-29 06:00: the time is |fraction|
      {-0.25, 693594, 21600000},          // 1899-12-30 06:00 written the negative way
      {1.0 - 0.0004 / 86400, 693595, 0},  // 23:59:59.9996 -> next midnight
      {-1.0 - 0.99999999999, 693594, 0},  // carries forward on early dates too
      {EncodeDate(1, 1, 1), 1, 0},
      {EncodeDateTime(9999, 12, 31, 23, 59, 59, 999), 3652059, 86399999},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.value);
    const TTimeStamp ts = DateTimeToTimeStamp(r.value);
    EXPECT_EQ(ts.Date, r.date);
    EXPECT_EQ(ts.Time, r.time);
  }
  TTimeStamp ts;
  EXPECT_FALSE(TryDateTimeToTimeStamp(std::numeric_limits<double>::quiet_NaN(), ts));
  EXPECT_FALSE(TryDateTimeToTimeStamp(1e300, ts));
  EXPECT_FALSE(TryDateTimeToTimeStamp(-693594.5, ts));
  EXPECT_FALSE(TryDateTimeToTimeStamp(2958465.9999999999, ts));  // rounds past 9999
  EXPECT_THROW(DateTimeToTimeStamp(std::numeric_limits<double>::infinity()), EConvertError);
}

TEST(DateTimeTest, EncodeDecodeAroundEpochAndEnds) {
  struct Row {
    int y, mo, d, h, mi, s, ms;
  };
  const Row rows[] = {{1899, 12, 30, 0, 0, 0, 0},      {1899, 12, 29, 6, 0, 0, 0},
                      {1899, 12, 29, 23, 59, 59, 999}, {1, 1, 1, 0, 0, 0, 1},
                      {1, 1, 1, 23, 59, 59, 999},      {9999, 12, 31, 23, 59, 59, 999},
                      {2016, 9, 20, 12, 30, 45, 500},  {1800, 6, 15, 13, 14, 15, 16}};
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.y << "-" << r.mo << "-" << r.d << " " << r.h << ":" << r.mi
                                    << ":" << r.s << "." << r.ms);
    const TDateTime v = EncodeDateTime(r.y, r.mo, r.d, r.h, r.mi, r.s, r.ms);
    int y, mo, d, h, mi, s, ms;
    DecodeDateTime(v, y, mo, d, h, mi, s, ms);
    EXPECT_EQ(y, r.y);
    EXPECT_EQ(mo, r.mo);
    EXPECT_EQ(d, r.d);
    EXPECT_EQ(h, r.h);
    EXPECT_EQ(mi, r.mi);
    EXPECT_EQ(s, r.s);
    EXPECT_EQ(ms, r.ms);
    EXPECT_EQ(TimeStampToDateTime(DateTimeToTimeStamp(v)), v);
  }
  // Before 1899-12-30 a time moves the value away from zero.
  EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), -1.25);
  EXPECT_EQ(TimeStampToDateTime({21600000, 693593}), -1.25);
  EXPECT_EQ(TimeStampToDateTime({-21600000, 693593}), -1.25);  // legacy negative time
}

TEST(DateTimeTest, DayOfWeekAndParts) {
  EXPECT_EQ(DayOfWeek(EncodeDate(2016, 9, 20)), 3);   // a Tuesday
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);  // a Saturday
  EXPECT_EQ(DayOfWeek(EncodeDate(1, 1, 1)), 2);       // a Monday
  EXPECT_EQ(DateOf(-1.25), -1.0);
  EXPECT_EQ(TimeOf(-1.25), 0.25);
  EXPECT_EQ(DateOf(2.75), 2.0);
  EXPECT_EQ(DateOf(1.0 - 0.0001 / 86400), 1.0);  // the carried day
  int h, m, s, ms;
  DecodeTime(1.0 - 0.0004 / 86400, h, m, s, ms);
  EXPECT_EQ(h, 0);  // never hour 24
}

}  // namespace
}  // namespace platform

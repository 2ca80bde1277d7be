#include "app/util/ChartFunctions.h"

#include <gtest/gtest.h>

#include <string>

namespace rvx {
namespace {

constexpr double kSecond = 1.0 / 86400;

TEST(ChartFunctionsTest, AxisRangesAroundAValue) {
  struct Row {
    const char* name;
    int kind;
    bool flag;
    double value;
    double range;
    double minimum;
    double maximum;
  };
  const Row rows[] = {
      // Power, MCR 10000 kW: interval 2000, step 100, shifted down by 400.
      {"power mean 8500", 0, true, 8500, 2000, 7100, 9100},
      // At least the interval (2000 - 400), never below 0.
      {"power at 0", 0, true, 0, 2000, 0, 1600},
      // Torque, interval 300 (step 10), shifted up by 60.
      {"torque 450", 2, false, 450, 300, 360, 660},
      // Speed: no shift; (10 + 85) / 10 = 9.5 and 7.5 go to the even 10 and 8.
      {"speed halves to even", 1, false, 85, 20, 80, 100},
      {"speed 87", 1, false, 87, 20, 80, 100},
      // Step 1000 from an interval of 4000; an unknown kind is not shifted.
      {"large interval", 7, false, 20000, 5000, 18000, 22000},
      // The flag of the maximum only matters when the range beats the value.
      {"power flag off", 0, false, 0, 2000, -1400, 600},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_DOUBLE_EQ(AxisMinimum(r.kind, r.flag, r.value, r.range), r.minimum);
    EXPECT_DOUBLE_EQ(AxisMaximum(r.kind, r.flag, r.value, r.range), r.maximum);
  }
}

TEST(ChartFunctionsTest, StepsChangeAt500And4000) {
  // |range| below 500: step 10; below 4000: 100; else 1000.
  EXPECT_DOUBLE_EQ(AxisMaximum(1, false, 1234, 499.9), 1480);
  EXPECT_DOUBLE_EQ(AxisMaximum(1, false, 1234, 500), 1500);
  EXPECT_DOUBLE_EQ(AxisMaximum(1, false, 1234, 3999), 3200);
  EXPECT_DOUBLE_EQ(AxisMaximum(1, false, 1234, 4000), 3000);
}

TEST(ChartFunctionsTest, TimeAxisFormatBySpan) {
  struct Row {
    double span;
    const char* format;
    double increment;
  };
  const Row rows[] = {
      {1 * kSecond, "hh:nn:ss", 2 * kSecond},
      {30 * kSecond, "hh:nn:ss", 2 * kSecond},
      {0, "hh:nn:ss", 5 * kSecond},
      {-1, "hh:nn:ss", 5 * kSecond},
      {31 * kSecond, "hh:nn:ss", 5 * kSecond},
      {120 * kSecond, "hh:nn:ss", 5 * kSecond},
      {300 * kSecond, "hh:nn:ss", 15 * kSecond},
      {600 * kSecond, "hh:nn:ss", 15 * kSecond},
      {601 * kSecond, "hh:nn", 60 * kSecond},
      {1800 * kSecond, "hh:nn", 60 * kSecond},
      {3600 * kSecond, "hh:nn", 300 * kSecond},
      {12 * 3600 * kSecond, "hh:nn", 900 * kSecond},
      {1, "DD.mmm. hh:nn", 3600 * kSecond},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.span * 86400);
    const TTimeAxisFormat f = TimeAxisFormat(r.span);
    EXPECT_EQ(f.DateTimeFormat, r.format);
    EXPECT_DOUBLE_EQ(f.Increment, r.increment);
  }
  // A run's stop - start lies a hair off its length; it still counts as it.
  const double start = 45323.41666666666;
  const double stop = start + 30.0 / 1440;
  EXPECT_NE(stop - start, 30.0 / 1440);
  EXPECT_EQ(TimeAxisFormat(stop - start).DateTimeFormat, "hh:nn");
  EXPECT_DOUBLE_EQ(TimeAxisFormat(stop - start).Increment, 60 * kSecond);
  struct Axis {
    std::string DateTimeFormat;
    double Increment = 0;
  } axis;
  SetTimeAxisFormat(axis, 2.0);
  EXPECT_EQ(axis.DateTimeFormat, "DD.mmm. hh:nn");
  EXPECT_DOUBLE_EQ(axis.Increment, 3600 * kSecond);
}

}  // namespace
}  // namespace rvx

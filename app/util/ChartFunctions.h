// ChartFunctions: the axis arithmetic that the live graph and the run report
// share. Pure functions of their arguments, so every chart of a quantity is
// scaled the same on screen and on paper.
//
// Axis kinds: 0 power, 1 speed, 2 torque (any other kind gets no offset).
// An axis spans about one interval (0.2 x the quantity's MCR in display
// units) around a value, on whole steps (10 below an interval of 500, 100
// below 4000, else 1000). The power scale is shifted down by 0.2 of the
// interval and the torque scale up, so the three curves sit apart. Whole
// numbers are taken to the nearest, halves to the even neighbour.
//
// Thread safety: pure functions.
#pragma once

#include <string>

namespace rvx {

// The top of the axis for value: (range / 2 + value) taken to whole steps,
// at least range (to the nearest whole number) when atLeastRange, plus the
// kind's offset (-0.2 x |range| for power, +0.2 x |range| for torque).
double AxisMaximum(int kind, bool atLeastRange, double value, double range);
// AxisMaximum(kind, false, value, -range), not below 0 when notBelowZero.
double AxisMinimum(int kind, bool notBelowZero, double value, double range);

// How a date-time axis labels a visible span: a FormatDateTime pattern of
// the process-wide format settings and the distance between labels (days).
struct TTimeAxisFormat {
  std::string DateTimeFormat;
  double Increment = 0;
};

// The label format and increment for a visible span (days, compared to the
// millisecond, so stop - start of a 30-minute run is 30 minutes): up to 30 s
// "hh:nn:ss" every 2 s; up to 2 min (also a span of 0 or less) every 5 s; up
// to 10 min every 15 s; up to 30 min "hh:nn" every minute; up to 1 h every
// 5 min; up to 12 h every 15 min; longer "DD.mmm. hh:nn" every hour.
TTimeAxisFormat TimeAxisFormat(double span);
// axis takes the format and increment of TimeAxisFormat(span); axis is any
// type with the members DateTimeFormat and Increment.
template <class Axis>
void SetTimeAxisFormat(Axis& axis, double span) {
  const TTimeAxisFormat f = TimeAxisFormat(span);
  axis.DateTimeFormat = f.DateTimeFormat;
  axis.Increment = f.Increment;
}

}  // namespace rvx

// ReportChart: the run report's chart of one shaft, drawn with a QPainter:
// a title, a legend at the top, the three quantities as lines against time,
// each on its own vertical axis (power on the left, torque on the right,
// speed on a further axis right of the torque labels), dotted grids of the
// left and bottom axes, and time labels on the bottom axis in two
// alternating rows.
//
// The lines are reduced to the pixel columns of the device (MinMaxDecimation)
// before they are drawn, so a 25-hour run costs no more than a short one.
// The chart borrows its series' samples: they must outlive it.
//
// Value axis labels (ValueAxisLabels) run from the axis minimum in equal
// steps of 1, 2, 2.5 or 5 x 10^k that end on the maximum when some such
// step does and the minimum shows exactly with the step's decimals (7100 ..
// 9100 by 200), else on the multiples of the step inside the range; no more
// intervals than the axis height has room for. Time
// labels fall on whole multiples of the axis increment, thinned to every
// 2nd, 3rd ... one until labels of one row do not overlap.
//
// Thread safety: GUI thread only.
#pragma once

#include <QColor>

#include <string>
#include <vector>

#include "app/acquisition/DataValue.h"

namespace rvx {

class TReportCanvas;

struct TValueAxisLabels {
  std::vector<double> Values;
  double Increment = 0;
  // Decimals the texts show.
  int Decimals = 0;
};
// The labels of a value axis from minimum to maximum with at most
// maxIntervals steps; just the minimum when the range is empty.
TValueAxisLabels ValueAxisLabels(double minimum, double maximum, int maxIntervals);

struct TChartValueAxis {
  double Minimum = 0;
  double Maximum = 1;
  // The unit text, over the axis's end.
  std::string Title;
  QColor Colour;
  bool Grid = false;
  // Tick marks beside the labels; the right-hand axes go without.
  bool Ticks = false;
};

struct TChartTimeAxis {
  double Minimum = 0;
  double Maximum = 0;
  // As SetTimeAxisFormat leaves them.
  std::string DateTimeFormat = "hh:nn";
  double Increment = 0;
};

struct TChartSeries {
  std::string Title;
  QColor Colour;
  // Index into TReportChart::Axes.
  int Axis = 0;
  TDataValueList Values;
  double Factor = 1;
};

class TReportChart {
 public:
  enum { kLeftAxis = 0, kSpeedAxis = 1, kRightAxis = 2 };

  std::string Title;
  TChartValueAxis Axes[3];
  TChartTimeAxis BottomAxis;
  std::vector<TChartSeries> Series;

  // Paints the chart into the rectangle (mm, from the canvas origin).
  void Paint(TReportCanvas& canvas, double left, double top, double width, double height) const;
};

}  // namespace rvx

#include "app/reports/ReportChart.h"

#include <QPainter>
#include <QPen>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "app/reports/BandReport.h"
#include "app/reports/MinMaxDecimation.h"
#include "platform/core/TextConvert.h"

namespace rvx {

namespace {

constexpr double kMsPerDay = 86400000.0;
// Millimetres of the chart's parts.
constexpr double kTopMargin = 2.0;
constexpr double kGap = 1.5;
constexpr double kTick = 1.0;
constexpr double kLineWidth = 0.4;
constexpr double kLegendLine = 6.0;
const TLabelFont kAxisFont{8, false, false, false, ReportColour::kBlack};
const TLabelFont kLegendFont{9, false, false, false, ReportColour::kBlack};
// A step is taken as dividing a range when the quotient lies this close to
// a whole number.
constexpr double kWholeTolerance = 1e-9;

bool IsWhole(double x) {
  return std::fabs(x - std::round(x)) <= kWholeTolerance * std::max(1.0, std::fabs(x));
}

std::string LabelText(double value, int decimals) {
  return platform::FloatToStrF(value, platform::TFloatFormat::ffFixed, 15, decimals);
}

// The label texts and the widest of them (mm).
struct TAxisTexts {
  std::vector<double> values;
  std::vector<std::string> texts;
  double width = 0;
};

TAxisTexts AxisTexts(const TReportCanvas& canvas, const TChartValueAxis& axis, int maxIntervals) {
  TAxisTexts t;
  const TValueAxisLabels labels = ValueAxisLabels(axis.Minimum, axis.Maximum, maxIntervals);
  t.values = labels.Values;
  TLabelFont font = kAxisFont;
  font.Colour = axis.Colour;
  for (double v : t.values) {
    t.texts.push_back(LabelText(v, labels.Decimals));
    t.width = std::max(t.width, canvas.TextWidth(t.texts.back(), font));
  }
  return t;
}

}  // namespace

TValueAxisLabels ValueAxisLabels(double minimum, double maximum, int maxIntervals) {
  TValueAxisLabels labels;
  const double span = maximum - minimum;
  if (!(span > 0) || !std::isfinite(span) || maxIntervals < 1) {
    labels.Values.push_back(minimum);
    return labels;
  }
  // Steps of 1, 2, 2.5 and 5 x 10^k from the smallest that fits upwards.
  const double least = span / maxIntervals;
  const int k0 = static_cast<int>(std::floor(std::log10(least))) - 1;
  std::vector<double> steps;
  for (int k = k0; k <= k0 + 3; ++k)
    for (double m : {1.0, 2.0, 2.5, 5.0}) {
      const double step = m * std::pow(10.0, k);
      if (step >= least * (1 - kWholeTolerance)) steps.push_back(step);
    }
  auto decimals_of = [](double step) {
    int d = 0;
    while (d < 6 && !IsWhole(step * std::pow(10.0, d)))
      ++d;
    return d;
  };
  // Anchored at the minimum when a step divides the range and the minimum
  // shows exactly with the step's decimals; else the step's multiples.
  double step = steps.front();
  bool anchored = false;
  for (double s : steps)
    if (s <= span && IsWhole(span / s) && IsWhole(minimum * std::pow(10.0, decimals_of(s)))) {
      step = s;
      anchored = true;
      break;
    }
  labels.Increment = step;
  labels.Decimals = decimals_of(step);
  if (anchored) {
    const auto count = static_cast<int>(std::llround(span / step));
    for (int i = 0; i <= count; ++i)
      labels.Values.push_back(minimum + i * step);
  } else {
    for (double v = std::ceil(minimum / step - kWholeTolerance) * step;
         v <= maximum + step * kWholeTolerance; v += step)
      labels.Values.push_back(v);
  }
  return labels;
}

void TReportChart::Paint(TReportCanvas& canvas, double left, double top, double width,
                         double height) const {
  QPainter& painter = canvas.Painter();
  const double axis_h = canvas.LineHeight(kAxisFont);

  // Title, left-aligned.
  TLabelFont title_font{12, true, false, true, ReportColour::kTitle};
  double y = top + kTopMargin;
  canvas.Label(left, y, Title, title_font);
  y += canvas.LineHeight(title_font) + kGap;

  // Legend at the top, centred.
  double legend_w = 0;
  for (const TChartSeries& s : Series)
    legend_w += kLegendLine + 1 + canvas.TextWidth(s.Title, kLegendFont) + 5;
  double x = left + (width - legend_w) / 2;
  const double legend_h = canvas.LineHeight(kLegendFont);
  for (const TChartSeries& s : Series) {
    painter.setPen(QPen(s.Colour, canvas.Px(kLineWidth)));
    const QRectF r = canvas.Rect(x, y + legend_h / 2, kLegendLine, 0);
    painter.drawLine(r.topLeft(), r.topRight());
    canvas.Label(x + kLegendLine + 1, y, s.Title, kLegendFont);
    x += kLegendLine + 1 + canvas.TextWidth(s.Title, kLegendFont) + 5;
  }
  y += legend_h + kGap;

  // Axis titles go over the axes' ends; the plot starts below them.
  TLabelFont unit_font{9, false, false, false, ReportColour::kBlack};
  const double unit_y = y;
  const double plot_top = unit_y + canvas.LineHeight(unit_font) + kGap;
  const double plot_bottom = top + height - 2 * axis_h - kTick - 0.5;
  const double plot_h = plot_bottom - plot_top;
  const int max_intervals = std::max(1, static_cast<int>(plot_h / (2.2 * axis_h)));

  const TAxisTexts left_texts = AxisTexts(canvas, Axes[kLeftAxis], max_intervals);
  const TAxisTexts speed_texts = AxisTexts(canvas, Axes[kSpeedAxis], max_intervals);
  const TAxisTexts right_texts = AxisTexts(canvas, Axes[kRightAxis], max_intervals);
  const double plot_left = left + left_texts.width + kTick + 1;
  const double speed_x = left + width - speed_texts.width - kTick - 1;
  const double plot_right = speed_x - 2 - right_texts.width - kTick - 1;
  const double plot_w = plot_right - plot_left;
  if (!(plot_w > 0) || !(plot_h > 0)) return;

  auto y_of = [&](const TChartValueAxis& axis, double v) {
    const double range = axis.Maximum - axis.Minimum;
    return plot_bottom - (range > 0 ? (v - axis.Minimum) / range * plot_h : 0);
  };

  // Value axes: grid, line, ticks and labels.
  const QPen grid_pen(QColor(160, 160, 160), canvas.Px(0.1), Qt::DotLine);
  const QPen axis_pen(ReportColour::kBlack, canvas.Px(0.2));
  struct Side {
    int axis;
    double line_x;
    const TAxisTexts* texts;
    bool labels_left;
  };
  const Side sides[] = {{kLeftAxis, plot_left, &left_texts, true},
                        {kRightAxis, plot_right, &right_texts, false},
                        {kSpeedAxis, speed_x, &speed_texts, false}};
  for (const Side& side : sides) {
    const TChartValueAxis& axis = Axes[side.axis];
    TLabelFont font = kAxisFont;
    font.Colour = axis.Colour;
    for (std::size_t i = 0; i < side.texts->values.size(); ++i) {
      const double ly = y_of(axis, side.texts->values[i]);
      if (axis.Grid) {
        painter.setPen(grid_pen);
        painter.drawLine(canvas.Rect(plot_left, ly, plot_w, 0).topLeft(),
                         canvas.Rect(plot_left, ly, plot_w, 0).topRight());
      }
      if (axis.Ticks) {
        painter.setPen(axis_pen);
        const double tick_x = side.labels_left ? side.line_x - kTick : side.line_x;
        painter.drawLine(canvas.Rect(tick_x, ly, kTick, 0).topLeft(),
                         canvas.Rect(tick_x, ly, kTick, 0).topRight());
      }
      if (side.labels_left)
        canvas.RightLabel(side.line_x - kTick - 0.5, ly - axis_h / 2, side.texts->texts[i], font);
      else
        canvas.Label(side.line_x + kTick + 0.5, ly - axis_h / 2, side.texts->texts[i], font);
    }
    painter.setPen(axis_pen);
    painter.drawLine(canvas.Rect(side.line_x, plot_top, 0, plot_h).topLeft(),
                     canvas.Rect(side.line_x, plot_top, 0, plot_h).bottomLeft());
    TLabelFont title = unit_font;
    title.Colour = axis.Colour;
    if (side.labels_left)
      canvas.RightLabel(side.line_x, unit_y, axis.Title, title);
    else
      canvas.Label(side.line_x, unit_y, axis.Title, title);
  }

  // Bottom axis: line, labels on whole multiples of the increment.
  painter.setPen(axis_pen);
  painter.drawLine(canvas.Rect(plot_left, plot_bottom, plot_w, 0).topLeft(),
                   canvas.Rect(plot_left, plot_bottom, plot_w, 0).topRight());
  const TChartTimeAxis& bottom = BottomAxis;
  const double t_span = bottom.Maximum - bottom.Minimum;
  auto x_of = [&](double t) {
    return plot_left + (t_span > 0 ? (t - bottom.Minimum) / t_span * plot_w : 0);
  };
  const auto inc_ms = static_cast<std::int64_t>(std::llround(bottom.Increment * kMsPerDay));
  if (inc_ms > 0 && std::isfinite(bottom.Minimum) && std::isfinite(t_span) && t_span >= 0) {
    const auto lo_ms = static_cast<std::int64_t>(std::ceil(bottom.Minimum * kMsPerDay));
    const auto hi_ms = static_cast<std::int64_t>(std::floor(bottom.Maximum * kMsPerDay));
    std::int64_t first = lo_ms / inc_ms * inc_ms;
    if (first < lo_ms) first += inc_ms;
    // Thin the labels until two of one row (every other label) clear each
    // other: the first tick's text stands for the width of all.
    const double tick_w = t_span > 0 ? inc_ms / kMsPerDay / t_span * plot_w : plot_w;
    const double text_w = canvas.TextWidth(
        platform::FormatDateTime(bottom.DateTimeFormat, first / kMsPerDay), kAxisFont);
    std::int64_t every = 1;
    for (std::int64_t m : {1, 2, 3, 4, 6, 8, 12, 24, 48, 96, 192, 384, 768}) {
      every = m;
      if (2 * m * tick_w >= text_w + 2) break;
    }
    // Far more ticks than the plot has room for are thinned as well.
    while ((hi_ms - first) / (inc_ms * every) > 1000)
      every *= 2;
    int row = 0;
    for (std::int64_t t = first; t <= hi_ms; t += inc_ms * every, row ^= 1) {
      const double tx = x_of(t / kMsPerDay);
      painter.setPen(grid_pen);
      painter.drawLine(canvas.Rect(tx, plot_top, 0, plot_h).topLeft(),
                       canvas.Rect(tx, plot_top, 0, plot_h).bottomLeft());
      painter.setPen(axis_pen);
      painter.drawLine(canvas.Rect(tx, plot_bottom, 0, kTick).topLeft(),
                       canvas.Rect(tx, plot_bottom, 0, kTick).bottomLeft());
      const std::string text = platform::FormatDateTime(bottom.DateTimeFormat, t / kMsPerDay);
      const double w = canvas.TextWidth(text, kAxisFont);
      canvas.Label(tx - w / 2, plot_bottom + kTick + 0.25 + row * axis_h, text, kAxisFont);
    }
  }

  // The series, clipped to the plot, one point per kept sample.
  const QRectF plot = canvas.Rect(plot_left, plot_top, plot_w, plot_h);
  painter.save();
  painter.setClipRect(plot);
  const int columns = std::max(1, static_cast<int>(std::floor(plot.width())));
  for (const TChartSeries& s : Series) {
    const TChartValueAxis& axis = Axes[s.Axis];
    const std::vector<TColumnPoint> points =
        DecimateMinMax(s.Values, s.Factor, bottom.Minimum, bottom.Maximum, columns);
    if (points.empty()) continue;
    QPolygonF line;
    line.reserve(static_cast<qsizetype>(points.size()));
    const double range = axis.Maximum - axis.Minimum;
    for (const TColumnPoint& p : points) {
      const double py =
          plot.bottom() - (range > 0 ? (p.Value - axis.Minimum) / range * plot.height() : 0);
      line.append(QPointF(plot.left() + p.Column + 0.5, py));
    }
    QPen pen(s.Colour, canvas.Px(kLineWidth));
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    if (line.size() == 1)
      painter.drawPoint(line.front());
    else
      painter.drawPolyline(line);
  }
  painter.restore();
}

}  // namespace rvx

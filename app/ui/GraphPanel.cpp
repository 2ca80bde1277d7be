#include "app/ui/GraphPanel.h"

#include <QChart>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFont>
#include <QGraphicsLayout>
#include <QGraphicsLineItem>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QIcon>
#include <QLabel>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QRubberBand>
#include <QTimeZone>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "app/acquisition/DisplaySettings.h"
#include "app/acquisition/ShaftData.h"
#include "app/util/ChartFunctions.h"
#include "app/util/ControlStyle.h"
#include "app/util/QtText.h"
#include "app/util/Utils.h"
#include "platform/core/Clock.h"
#include "platform/core/DateTime.h"

namespace rvx {
namespace {

constexpr double kDay = 1.0;
constexpr double kMinute = 1.0 / 1440;
constexpr double kUnixEpoch = 25569.0;  // 1970-01-01 as a platform date-time
constexpr double kMsPerDay = 86400000.0;
constexpr int kRefreshMs = 250;
constexpr int kHintMs = 3000;
constexpr int kComboWidth = 90;
constexpr double kLabelPixels = 80;  // room one date-time label needs

const QColor kPowerColour(0, 0, 255);         // blue
const QColor kSpeedColour(0, 128, 0);         // green
const QColor kTorqueColour(128, 0, 0);        // maroon
const QColor kStartColour(0, 128, 0);         // green
const QColor kStopColour(255, 0, 0);          // red
const QColor kHintTextColour(240, 240, 240);  // button face
const QColor kZoomIconColour(0, 0, 128);      // navy
const QColor kGridColour(128, 128, 128);      // gray

const double kTimeScales[] = {5 * kMinute,   15 * kMinute,  60 * kMinute,
                              240 * kMinute, 720 * kMinute, kDay};

QFont ArialFont(int pointSize, bool bold) {
  QFont font(QStringLiteral("Arial"));
  font.setPointSize(pointSize);
  font.setBold(bold);
  return font;
}

// Axis look: fixed range, black line, no grid (drawn in small dots where
// shown), bold labels in colour. The chart would turn a vertical axis's
// title along the axis; the graph draws it level at the axis's top end
// (PlaceAxisTitles), so the chart's own stays hidden.
void SetupAxis(QAbstractAxis* axis, const QColor& colour, const std::string& title) {
  axis->setLinePenColor(Qt::black);
  axis->setGridLineVisible(false);
  QPen grid(kGridColour, 1);
  grid.setCapStyle(Qt::FlatCap);
  grid.setDashPattern({1, 1});
  axis->setGridLinePen(grid);
  axis->setLabelsFont(ArialFont(10, true));
  axis->setLabelsColor(colour);
  axis->setVisible(true);
  axis->setTitleText(ToQString(title));
  axis->setTitleBrush(colour);
  axis->setTitleFont(ArialFont(9, false));
  axis->setTitleVisible(false);
}

QLineSeries* SetupSeries(QChart* chart, const QColor& colour) {
  auto* series = new QLineSeries;
  series->setColor(colour);
  chart->addSeries(series);
  return series;
}

// Value-axis ticks on whole multiples of a round step, about five of them.
void SetValueTicks(QValueAxis* axis) {
  const double span = axis->max() - axis->min();
  if (!(span > 0)) return;
  const double raw = span / 5;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  double step = magnitude;
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * magnitude >= raw) {
      step = m * magnitude;
      break;
    }
  axis->setTickType(QValueAxis::TicksDynamic);
  axis->setTickAnchor(0);
  axis->setTickInterval(step);
}

// The picture of the button that undoes a zoom: a magnifier over a frame's
// corners, drawn here so the program carries no picture files.
QIcon ZoomResetIcon() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  // Hard edges: a 16-pixel picture blurs when smoothed.
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(QPen(Qt::black, 1));
  for (const QPoint corner : {QPoint(0, 0), QPoint(15, 0), QPoint(0, 15), QPoint(15, 15)}) {
    const int dx = corner.x() == 0 ? 1 : -1, dy = corner.y() == 0 ? 1 : -1;
    painter.drawLine(corner, corner + QPoint(3 * dx, 0));
    painter.drawLine(corner, corner + QPoint(0, 3 * dy));
  }
  painter.setBrush(QColor(255, 255, 255));
  painter.setPen(QPen(kZoomIconColour, 2));
  painter.drawEllipse(QRect(3, 3, 7, 7));
  painter.setPen(QPen(Qt::black, 3, Qt::SolidLine, Qt::FlatCap));
  painter.drawLine(QPoint(10, 10), QPoint(13, 13));
  painter.end();
  return QIcon(pixmap);
}

QString FormatAxisValue(const QValueAxis* axis, double value) {
  return QString::asprintf(axis->labelFormat().toLatin1().constData(), value);
}

}  // namespace

// ---- conversions ----

std::int64_t DateTimeToMSecs(TDateTime value) {
  int year, month, day, hour, min, sec, msec;
  if (!platform::TryDecodeDateTime(value, year, month, day, hour, min, sec, msec))
    return static_cast<std::int64_t>(std::llround((value - kUnixEpoch) * kMsPerDay));
  const QDateTime local(QDate(year, month, day), QTime(hour, min, sec, msec), Qt::LocalTime);
  return local.toMSecsSinceEpoch();
}

TDateTime MSecsToDateTime(std::int64_t msecs) {
  const QDateTime local = QDateTime::fromMSecsSinceEpoch(msecs, Qt::LocalTime);
  const QDate d = local.date();
  const QTime t = local.time();
  return platform::EncodeDateTime(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(),
                                  t.msec());
}

QString QtDateTimeFormat(const std::string& pattern) {
  QString out;
  char lastLetter = 0;
  for (std::size_t i = 0; i < pattern.size();) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(pattern[i])));
    std::size_t n = 1;
    while (i + n < pattern.size() && std::tolower(static_cast<unsigned char>(pattern[i + n])) == c)
      ++n;
    char q = pattern[i];
    switch (c) {
      case 'h':
      case 's':
      case 'd':
      case 'y':
        q = c;
        break;
      case 'n':
        q = 'm';
        break;
      case 'm':  // minutes right after an hour, else the month
        q = lastLetter == 'h' && n <= 2 ? 'm' : 'M';
        break;
      default:
        break;
    }
    out += QString(static_cast<qsizetype>(n), QLatin1Char(q));
    if (std::isalpha(static_cast<unsigned char>(c))) lastLetter = c;
    i += n;
  }
  return out;
}

int TimeTickCount(double span, double increment, double plotWidth) {
  if (!(span > 0) || !(increment > 0)) return 2;
  const double steps = std::max(1.0, std::round(span / increment));
  const double room = std::max(2.0, std::floor(plotWidth / kLabelPixels));
  double multiple = 1;
  while (steps / multiple + 1 > room)
    ++multiple;
  return std::max(2, static_cast<int>(std::floor(steps / multiple)) + 1);
}

// ---- buffer ----

void TGraphBuffer::Add(TDateTime time, double value) {
  const std::uint64_t position = first_ + points_.size();
  points_.push_back({time, value});
  if (position % kBlock == 0) {
    blocks_.push_back({time, position, position, value, value});
    return;
  }
  TBlock& block = blocks_.back();
  if (value < block.lowValue) {
    block.low = position;
    block.lowValue = value;
  }
  if (value > block.highValue) {
    block.high = position;
    block.highValue = value;
  }
}

void TGraphBuffer::PurgeBefore(TDateTime cutoff) {
  while (!points_.empty() && points_.front().Time < cutoff) {
    points_.pop_front();
    ++first_;
  }
  // A block goes once its last sample has; a block cut at the front is read
  // sample by sample (LowHigh), never as a whole.
  while (!blocks_.empty() && (firstBlock_ + 1) * kBlock <= first_) {
    blocks_.pop_front();
    ++firstBlock_;
  }
}

void TGraphBuffer::LowHigh(std::uint64_t from, std::uint64_t to, std::uint64_t& low,
                           std::uint64_t& high) const {
  low = high = from;
  double lowValue = At(from).Value, highValue = lowValue;
  const auto take = [&](std::uint64_t lo, double loValue, std::uint64_t hi, double hiValue) {
    if (loValue < lowValue) {
      low = lo;
      lowValue = loValue;
    }
    if (hiValue > highValue) {
      high = hi;
      highValue = hiValue;
    }
  };
  const auto one = [&](std::uint64_t p) {
    const double v = At(p).Value;
    take(p, v, p, v);
  };
  std::uint64_t p = from + 1;
  const std::uint64_t blocksFrom = (from + kBlock - 1) / kBlock * kBlock;
  const std::uint64_t blocksTo = to / kBlock * kBlock;
  if (blocksFrom < blocksTo) {
    for (; p < blocksFrom; ++p)
      one(p);
    // Whole blocks: the block's own extremes, kept as the samples came.
    for (std::uint64_t b = blocksFrom / kBlock; b < blocksTo / kBlock; ++b) {
      const TBlock& block = blocks_[static_cast<std::size_t>(b - firstBlock_)];
      take(block.low, block.lowValue, block.high, block.highValue);
    }
    p = std::max(p, blocksTo);
  }
  for (; p < to; ++p)
    one(p);
}

std::vector<TGraphPoint> TGraphBuffer::Reduce(TDateTime x0, TDateTime x1, int columns) const {
  std::vector<TGraphPoint> out;
  if (points_.empty() || columns <= 0 || !(x1 >= x0)) return out;
  const auto byTime = [](const TGraphPoint& p, TDateTime t) { return p.Time < t; };
  auto first = std::lower_bound(points_.begin(), points_.end(), x0, byTime);
  auto last = std::lower_bound(first, points_.end(), x1,
                               [](const TGraphPoint& p, TDateTime t) { return p.Time <= t; });
  // One neighbour outside each edge, drawn as it is.
  if (first != points_.begin()) out.push_back(*(first - 1));
  const double scale = x1 > x0 ? columns / (x1 - x0) : 0;
  const auto columnOf = [&](TDateTime t) {
    return std::min(columns - 1, static_cast<int>(std::max(0.0, std::floor((t - x0) * scale))));
  };
  const std::uint64_t lastPosition = first_ + static_cast<std::uint64_t>(last - points_.begin());
  auto it = first;
  while (it != last) {
    const int column = columnOf(it->Time);
    const std::uint64_t from = first_ + static_cast<std::uint64_t>(it - points_.begin());
    // The end of the column: first the block it lies in, by the blocks'
    // first times (a small array), then sample by sample within the block.
    const auto blockInColumn = [&](std::uint64_t b) {
      return columnOf(blocks_[static_cast<std::size_t>(b - firstBlock_)].firstTime) <= column;
    };
    const std::uint64_t blocksEnd = (lastPosition + kBlock - 1) / kBlock;
    std::uint64_t b0 = from / kBlock + 1, b1 = b0;
    // Galloping: the next column starts close by, and near blocks are cached.
    for (std::uint64_t step = 1; b1 < blocksEnd && blockInColumn(b1); step *= 2) {
      b0 = b1 + 1;
      b1 = std::min(blocksEnd, b1 + step);
    }
    while (b0 < b1) {
      const std::uint64_t mid = b0 + (b1 - b0) / 2;
      if (blockInColumn(mid))
        b0 = mid + 1;
      else
        b1 = mid;
    }
    std::uint64_t to = std::max(from + 1, (b0 - 1) * kBlock);
    const std::uint64_t limit = std::min(b0 * kBlock, lastPosition);
    while (to < limit && columnOf(At(to).Time) <= column)
      ++to;
    const auto end = points_.begin() + static_cast<std::ptrdiff_t>(to - first_);
    std::uint64_t low, high;
    LowHigh(from, to, low, high);
    // First, lowest, highest and last, in time order.
    std::uint64_t kept[4] = {from, low, high, to - 1};
    std::sort(std::begin(kept), std::end(kept));
    for (int k = 0; k < 4; ++k)
      if (k == 0 || kept[k] != kept[k - 1]) out.push_back(At(kept[k]));
    it = end;
  }
  if (last != points_.end()) out.push_back(*last);
  return out;
}

// ---- chart view ----

TGraphChartView::TGraphChartView(QChart* chart, QWidget* parent, TGraphPanel& owner)
    : QChartView(chart, parent), owner_(owner) {
  setRubberBand(QChartView::RectangleRubberBand);
  setMouseTracking(true);
  viewport()->setMouseTracking(true);
  setFrameShape(QFrame::NoFrame);
}

void TGraphChartView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::MiddleButton) {
    panning_ = true;
    panFrom_ = event->position();
    event->accept();
    return;
  }
  QChartView::mousePressEvent(event);
}

void TGraphChartView::mouseMoveEvent(QMouseEvent* event) {
  owner_.ChartMouseMove(event->position());
  if (panning_) {
    const QPointF delta = event->position() - panFrom_;
    panFrom_ = event->position();
    chart()->scroll(-delta.x(), delta.y());
    owner_.ChartScroll();
    event->accept();
    return;
  }
  QChartView::mouseMoveEvent(event);
}

void TGraphChartView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::MiddleButton && panning_) {
    panning_ = false;
    event->accept();
    return;
  }
  auto* band = findChild<QRubberBand*>();
  if (event->button() == Qt::LeftButton && band && band->isVisible() && owner_.Speed) {
    // The speeds at the rectangle's edges, before the zoom moves the axis.
    const QRectF rect = band->geometry();
    const double speedMin = chart()->mapToValue(rect.bottomLeft(), owner_.Speed).y();
    const double speedMax = chart()->mapToValue(rect.topLeft(), owner_.Speed).y();
    QChartView::mouseReleaseEvent(event);
    owner_.ChartZoom(speedMin, speedMax);
    return;
  }
  if (event->button() == Qt::RightButton && band) {
    QChartView::mouseReleaseEvent(event);
    owner_.ChartZoomedOut();
    return;
  }
  QChartView::mouseReleaseEvent(event);
}

// ---- graph panel ----

TGraphPanel::TGraphPanel(QWidget* AParent, const DisplaySettings& aConfigurationManager)
    : FConfigurationManager(aConfigurationManager) {
  SetUp(AParent);
}

TGraphPanel::TGraphPanel(QWidget* AParent, const DisplaySettings& aConfigurationManager,
                         TShaftDataSet& aShaftDataSet)
    : FConfigurationManager(aConfigurationManager) {
  SetUp(AParent);
  setRunMode();
  LoadShaftDataSet(aShaftDataSet);
}

std::shared_ptr<TGraphPanel> TGraphPanel::Create(QWidget* AParent,
                                                 const DisplaySettings& aConfigurationManager,
                                                 IShaftSubject& aShaft) {
  auto panel = std::make_shared<TGraphPanel>(AParent, aConfigurationManager);
  panel->FShaft = &aShaft;
  aShaft.RegisterObserver(panel);
  return panel;
}

TGraphPanel::~TGraphPanel() {
  // The view calls back into this object: it must not outlive it.
  delete Panel.data();
}

void TGraphPanel::SetUp(QWidget* AParent) {
  Panel = new QWidget(AParent);
  Panel->resize(600, 400);
  Panel->setAutoFillBackground(true);
  {
    QPalette palette = Panel->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    Panel->setPalette(palette);
  }
  const QColor face = Panel->palette().color(QPalette::Window);

  Chart = new QChart;
  Chart->legend()->hide();
  Chart->setBackgroundRoundness(0);
  Chart->setBackgroundBrush(face);
  Chart->setBackgroundPen(Qt::NoPen);
  Chart->setMargins(QMargins(0, 2, 5, 0));
  Chart->layout()->setContentsMargins(0, 0, 0, 0);
  // English month names whatever the user's locale.
  Chart->setLocale(QLocale(QLocale::English, QLocale::UnitedKingdom));
  ChartView = new TGraphChartView(Chart, Panel, *this);
  ChartView->setBackgroundBrush(face);
  ChartView->setGeometry(0, 0, Panel->width(), Panel->height() - 30);

  ChartHint = new QLabel(ChartView);
  ChartHint->setAutoFillBackground(true);
  {
    QPalette palette = ChartHint->palette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, kHintTextColour);
    ChartHint->setPalette(palette);
  }
  ChartHint->setFont(ArialFont(9, false));
  ChartHint->hide();
  HintTimer = new QTimer(Panel);
  HintTimer->setInterval(kHintMs);
  QObject::connect(HintTimer, &QTimer::timeout, Panel, [this] { HintTimerTimer(); });

  PowerAxis = new QValueAxis;
  SpeedAxis = new QValueAxis;
  TorqueAxis = new QValueAxis;
  StartStopAxis = new QValueAxis;
  BottomAxis = new QDateTimeAxis;
  TopAxis = new QDateTimeAxis;
  SetupAxis(PowerAxis, kPowerColour, FConfigurationManager.PowerUnit());
  PowerAxis->setGridLineVisible(true);
  SetupAxis(SpeedAxis, kSpeedColour, FConfigurationManager.SpeedUnit());
  SetupAxis(TorqueAxis, kTorqueColour, FConfigurationManager.TorqueUnit());
  for (QValueAxis* axis : {PowerAxis, SpeedAxis, TorqueAxis}) {
    axis->setLabelFormat(QStringLiteral("%.0f"));
    axis->setMinorTickCount(0);
  }
  SetupAxis(StartStopAxis, Qt::black, "");
  StartStopAxis->setRange(0, 1);
  SetupAxis(TopAxis, Qt::black, "");
  TopAxis->setLineVisible(false);
  TopAxis->setGridLineVisible(false);
  // Its labels only keep a row free above the plot for the marker texts.
  TopAxis->setLabelsColor(Qt::transparent);
  SetupAxis(BottomAxis, Qt::black, "");
  BottomAxis->setGridLineVisible(true);
  BottomAxis->setFormat(QStringLiteral("hh:mm"));
  BottomAxis->setLabelsAngle(0);
  Chart->addAxis(PowerAxis, Qt::AlignLeft);
  Chart->addAxis(BottomAxis, Qt::AlignBottom);
  Chart->addAxis(TopAxis, Qt::AlignTop);
  Chart->addAxis(TorqueAxis, Qt::AlignRight);
  // Qt stacks this one beside the torque axis.
  Chart->addAxis(SpeedAxis, Qt::AlignRight);
  Chart->addAxis(StartStopAxis, Qt::AlignLeft);
  StartStopAxis->setVisible(false);

  Power = SetupSeries(Chart, kPowerColour);
  Power->attachAxis(BottomAxis);
  Power->attachAxis(PowerAxis);
  Speed = SetupSeries(Chart, kSpeedColour);
  Speed->attachAxis(BottomAxis);
  Speed->attachAxis(SpeedAxis);
  Torque = SetupSeries(Chart, kTorqueColour);
  Torque->attachAxis(BottomAxis);
  Torque->attachAxis(TorqueAxis);
  // The markers hang on the top axis, which carries no quantity: the chart's
  // zoom and pan move it only while it holds a marker. It shows the bottom
  // axis's range at all times.
  QObject::connect(BottomAxis, &QDateTimeAxis::rangeChanged, Panel,
                   [this](const QDateTime& min, const QDateTime& max) {
                     if (TopAxis->min() != min || TopAxis->max() != max)
                       TopAxis->setRange(min, max);
                     FitTimeTicks();
                     PlaceMarkerTexts();
                     MarkDirty();
                   });
  QObject::connect(TopAxis, &QDateTimeAxis::rangeChanged, Panel, [this] {
    if (BottomAxis->min() != TopAxis->min() || BottomAxis->max() != TopAxis->max())
      TopAxis->setRange(BottomAxis->min(), BottomAxis->max());
  });
  for (QValueAxis* axis : {PowerAxis, SpeedAxis, TorqueAxis}) {
    auto* title = new QGraphicsSimpleTextItem(axis->titleText(), Chart);
    title->setBrush(axis->titleBrush());
    title->setFont(axis->titleFont());
    AxisTitles.push_back(title);
  }
  QObject::connect(Chart, &QChart::plotAreaChanged, Panel, [this] {
    MarkDirty();
    FitTimeTicks();
    PlaceMarkerTexts();
    PlaceAxisTitles();
    // The axes take their places after the plot area has.
    QTimer::singleShot(0, Panel, [this] { PlaceAxisTitles(); });
  });

  Lbl_UpdateStoppedWarning =
      new QLabel(QStringLiteral("Display update stopped while zooming\nPress 100% button to "
                                "continue"));
  PlaceOvcLabel(Lbl_UpdateStoppedWarning, Panel);
  {
    QFont font = Lbl_UpdateStoppedWarning->font();
    font.setPointSize(10);
    Lbl_UpdateStoppedWarning->setFont(font);
    QPalette palette = Lbl_UpdateStoppedWarning->palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    Lbl_UpdateStoppedWarning->setPalette(palette);
    Lbl_UpdateStoppedWarning->adjustSize();
  }
  Btn_100Percent = new QPushButton(Panel);
  Btn_100Percent->setIcon(ZoomResetIcon());
  Btn_100Percent->setIconSize(QSize(16, 16));
  Btn_100Percent->setToolTip(QStringLiteral("Undo the zoom"));
  Btn_100Percent->resize(26, 26);
  QObject::connect(Btn_100Percent, &QPushButton::clicked, Panel, [this] { Btn100PercentClick(); });
  Lbl_GraphTime = new QLabel(QStringLiteral("Chart Time-Scale:"));
  PlaceOvcLabel(Lbl_GraphTime, Panel);
  CB_GraphTime = new QComboBox(Panel);
  CB_GraphTime->setFont(ArialFont(9, false));
  CB_GraphTime->resize(kComboWidth, CB_GraphTime->sizeHint().height());
  for (const char* item : {"5 minutes", "15 minutes", "1 hour", "4 hours", "12 hours", "24 hours"})
    CB_GraphTime->addItem(QString::fromLatin1(item));
  CB_GraphTime->setCurrentIndex(1);
  QObject::connect(CB_GraphTime, &QComboBox::activated, Panel,
                   [this](int index) { GraphTimeChange(index); });

  RefreshTimer = new QTimer(Panel);
  RefreshTimer->setInterval(kRefreshMs);
  QObject::connect(RefreshTimer, &QTimer::timeout, Panel, [this] {
    if (dirty_) Refresh();
  });
  RefreshTimer->start();

  ResumeUpdating();
  GraphTimeChange(CB_GraphTime->currentIndex());
  UpdateMCR();
  // Until a first value scales them, the axes show 0 .. their interval.
  const std::pair<QValueAxis*, double> axes[] = {
      {PowerAxis, PowerInterval}, {SpeedAxis, SpeedInterval}, {TorqueAxis, TorqueInterval}};
  for (const auto& [axis, interval] : axes) {
    axis->setRange(0, interval > 0 ? interval : 1);
    SetValueTicks(axis);
  }
  setSize(Panel->width(), Panel->height());
}

void TGraphPanel::UpdateMCR() {
  PowerInterval = 0.2 * FConfigurationManager.PowerMCR();
  SpeedInterval = 0.2 * FConfigurationManager.SpeedMCR();
  TorqueInterval = 0.2 * FConfigurationManager.TorqueMCR();
}

TGraphPanel::TAxisRange& TGraphPanel::RangeOf(QValueAxis* axis) {
  return ranges_[axis == PowerAxis ? 0 : axis == SpeedAxis ? 1 : 2];
}

void TGraphPanel::SetVerticalRange(QValueAxis* axis, double min, double max) {
  RangeOf(axis) = {min, max, true};
  axis->setRange(min, max);
  SetValueTicks(axis);
  MarkDirty();
}

void TGraphPanel::SuspendUpdating() {
  Running = false;
  if (Lbl_UpdateStoppedWarning) Lbl_UpdateStoppedWarning->show();
  if (Btn_100Percent) Btn_100Percent->show();
}

void TGraphPanel::ResumeUpdating() {
  Running = true;
  if (Lbl_UpdateStoppedWarning) Lbl_UpdateStoppedWarning->hide();
  if (Btn_100Percent) Btn_100Percent->hide();
}

void TGraphPanel::SetTimeAxes(TDateTime min, TDateTime max) {
  if (!ChartView) return;
  settingAxes_ = true;
  const QDateTime from = QDateTime::fromMSecsSinceEpoch(DateTimeToMSecs(min));
  const QDateTime to = QDateTime::fromMSecsSinceEpoch(DateTimeToMSecs(max));
  BottomAxis->setRange(from, to);
  TopAxis->setRange(from, to);
  settingAxes_ = false;
  MarkDirty();
}

void TGraphPanel::ApplyTimeAxisFormat(TDateTime span) {
  const TTimeAxisFormat f = rvx::TimeAxisFormat(span);
  TimeAxisFormat = f.DateTimeFormat;
  TimeAxisIncrement = f.Increment;
  if (!ChartView) return;
  BottomAxis->setFormat(QtDateTimeFormat(f.DateTimeFormat));
  FitTimeTicks();
}

void TGraphPanel::FitTimeTicks() {
  if (!ChartView) return;
  const double width = Chart->plotArea().width() > 0 ? Chart->plotArea().width() : Panel->width();
  // The visible span: a zoom keeps the time scale's format and label
  // spacing, so it shows fewer labels.
  const double span = static_cast<double>(BottomAxis->max().toMSecsSinceEpoch() -
                                          BottomAxis->min().toMSecsSinceEpoch()) /
                      kMsPerDay;
  const int ticks = TimeTickCount(span, TimeAxisIncrement, width);
  if (BottomAxis->tickCount() != ticks) BottomAxis->setTickCount(ticks);
}

void TGraphPanel::ScrollTimeWindow() {
  if (!Running || RunMode) return;
  const TDateTime now = platform::Now();
  if ((TimeLimitMax - TimeLimitMin) * 0.003 >= now - TimeLimitMax) return;
  TimeLimitMin = now - GraphInterval;
  TimeLimitMax = now;
  SetTimeAxes(TimeLimitMin, TimeLimitMax);
}

void TGraphPanel::GraphTimeChange(int index) {
  if (index < 0 || index > 5) return;
  GraphInterval = kTimeScales[index];
  if (CB_GraphTime && CB_GraphTime->currentIndex() != index) CB_GraphTime->setCurrentIndex(index);
  TimeLimitMin = 0;
  TimeLimitMax = 0;
  ResumeUpdating();
  ScrollTimeWindow();
  ApplyTimeAxisFormat(GraphInterval);
}

void TGraphPanel::RescaleAxisForValue(QValueAxis* axis, double value, double interval, int kind,
                                      bool flag) {
  const double margin = 0.05 * interval;
  const bool set = RangeOf(axis).set;
  if (set && !(value < axis->min() + margin) && !(value > axis->max() - margin)) return;
  SetVerticalRange(axis, AxisMinimum(kind, flag, value, interval),
                   AxisMaximum(kind, flag, value, interval));
}

void TGraphPanel::PurgeOldPoints() {
  const TDateTime cutoff = platform::Now() - kDay;
  PowerBuffer.PurgeBefore(cutoff);
  SpeedBuffer.PurgeBefore(cutoff);
  TorqueBuffer.PurgeBefore(cutoff);
  while (!Markers.empty() && Markers.front().Time < cutoff)
    RemoveMarker(0);
}

void TGraphPanel::UpdateRunningAverageValues(const TDataValue* aPower, const TDataValue* aTorque,
                                             const TDataValue* aSpeed) {
  const DisplaySettings& s = FConfigurationManager;
  const double power = aPower ? aPower->Value() * s.PowerFactor() : 0;
  const double torque = aTorque ? aTorque->Value() * s.TorqueFactor() : 0;
  const double speed = aSpeed ? aSpeed->Value() * s.SpeedFactor() : 0;
  if (aPower) PowerBuffer.Add(aPower->Time(), power);
  if (aTorque) TorqueBuffer.Add(aTorque->Time(), torque);
  if (aSpeed) SpeedBuffer.Add(aSpeed->Time(), speed);
  if (aPower || aTorque || aSpeed) MarkDirty();
  if (RunMode || !ChartView) return;
  ScrollTimeWindow();
  if (aPower) RescaleAxisForValue(PowerAxis, power, PowerInterval, 0, true);
  if (aTorque) RescaleAxisForValue(TorqueAxis, torque, TorqueInterval, 2, false);
  if (aSpeed) RescaleAxisForValue(SpeedAxis, speed, SpeedInterval, 1, false);
  PurgeOldPoints();
}

void TGraphPanel::Refresh() {
  dirty_ = false;
  if (!ChartView) return;
  const int columns = std::max(1, static_cast<int>(Chart->plotArea().width()));
  const std::int64_t ms0 = BottomAxis->min().toMSecsSinceEpoch();
  const std::int64_t ms1 = BottomAxis->max().toMSecsSinceEpoch();
  const TDateTime x0 = MSecsToDateTime(ms0), x1 = MSecsToDateTime(ms1);
  // One offset for the whole window unless a clock change falls within it.
  const double offset0 = (x0 - kUnixEpoch) * kMsPerDay - static_cast<double>(ms0);
  const double offset1 = (x1 - kUnixEpoch) * kMsPerDay - static_cast<double>(ms1);
  const bool oneOffset = std::fabs(offset0 - offset1) < 1;
  const auto toX = [&](TDateTime t) {
    return oneOffset ? std::round((t - kUnixEpoch) * kMsPerDay - offset0)
                     : static_cast<double>(DateTimeToMSecs(t));
  };
  const auto fill = [&](QLineSeries* series, const TGraphBuffer& buffer) {
    const std::vector<TGraphPoint> points = buffer.Reduce(x0, x1, columns);
    QList<QPointF> list;
    list.reserve(static_cast<qsizetype>(points.size()));
    for (const TGraphPoint& p : points)
      list.append(QPointF(toX(p.Time), p.Value));
    series->replace(list);
  };
  fill(Power, PowerBuffer);
  fill(Speed, SpeedBuffer);
  fill(Torque, TorqueBuffer);
  PlaceMarkerTexts();
}

void TGraphPanel::ChartZoom(double speedMin, double speedMax) {
  SuspendUpdating();
  if (!ChartView) return;
  if (speedMin < speedMax) SpeedAxis->setRange(speedMin, speedMax);
  StartStopAxis->setRange(0, 1);
  MarkDirty();
}

void TGraphPanel::ChartZoomedOut() {
  ChartScroll();
}

void TGraphPanel::ChartScroll() {
  SuspendUpdating();
  if (!ChartView) return;
  StartStopAxis->setRange(0, 1);
  MarkDirty();
}

void TGraphPanel::Btn100PercentClick() {
  if (!ChartView) return;
  Chart->zoomReset();
  // The chart's reset puts back the ranges of the first zoom; the graph's own
  // ranges have moved on since.
  for (QValueAxis* axis : {PowerAxis, SpeedAxis, TorqueAxis}) {
    const TAxisRange r = RangeOf(axis);
    if (r.set) SetVerticalRange(axis, r.min, r.max);
  }
  StartStopAxis->setRange(0, 1);
  SetTimeAxes(TimeLimitMin, TimeLimitMax);
  ResumeUpdating();
  ScrollTimeWindow();
  Refresh();
}

void TGraphPanel::ChartMouseMove(const QPointF& pos) {
  try {
    if (!ChartView) return;
    const QPointF power = Chart->mapToValue(pos, Power);
    const QPointF speed = Chart->mapToValue(pos, Speed);
    const QPointF torque = Chart->mapToValue(pos, Torque);
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(power.x()));
    const QString text = Chart->locale().toString(time, BottomAxis->format()) +
                         QStringLiteral(" (") + FormatAxisValue(PowerAxis, power.y()) +
                         QStringLiteral(", ") + FormatAxisValue(SpeedAxis, speed.y()) +
                         QStringLiteral(", ") + FormatAxisValue(TorqueAxis, torque.y()) +
                         QStringLiteral(")");
    ChartHint->setText(text);
    ChartHint->adjustSize();
    ChartHint->move(static_cast<int>(pos.x()) + 5,
                    static_cast<int>(pos.y()) - ChartHint->height() - 5);
    ChartHint->show();
    ChartHint->raise();
    HintTimer->stop();
    HintTimer->start();
  } catch (...) {
    // A hint is not worth an error box.
  }
}

void TGraphPanel::HintTimerTimer() {
  if (ChartHint) ChartHint->hide();
  if (HintTimer) HintTimer->stop();
}

void TGraphPanel::AddMarker(TDateTime time, const std::string& text, bool isStart) {
  if (!ChartView) return;
  const QColor colour = isStart ? kStartColour : kStopColour;
  auto* line = new QLineSeries;
  QPen pen(colour);
  pen.setWidth(2);
  line->setPen(pen);
  const double x = static_cast<double>(DateTimeToMSecs(time));
  line->append(x, -1.0);
  line->append(x, 2.0);
  Chart->addSeries(line);
  line->attachAxis(TopAxis);
  line->attachAxis(StartStopAxis);
  auto* label = new QGraphicsSimpleTextItem(ToQString(text), Chart);
  label->setBrush(colour);
  label->setFont(ArialFont(9, true));
  Markers.push_back({time, isStart, line, label});
  PlaceMarkerTexts();
}

void TGraphPanel::RemoveMarker(std::size_t index) {
  TMarker m = Markers[index];
  Markers.erase(Markers.begin() + static_cast<std::ptrdiff_t>(index));
  if (!ChartView) return;
  Chart->removeSeries(m.Line);
  delete m.Line;
  delete m.Text;
}

void TGraphPanel::PlaceAxisTitles() {
  if (!ChartView || AxisTitles.size() != 3) return;
  const QRectF plot = Chart->plotArea();
  // The chart stacks the speed axis beside the torque axis and does not say
  // where: its line is the one right of the plot, as tall as the plot.
  double speedX = plot.right();
  if (QGraphicsScene* scene = Chart->scene())
    for (QGraphicsItem* item : scene->items()) {
      auto* line = qgraphicsitem_cast<QGraphicsLineItem*>(item);
      if (!line || !line->isVisible()) continue;
      const QLineF l(Chart->mapFromScene(line->mapToScene(line->line().p1())),
                     Chart->mapFromScene(line->mapToScene(line->line().p2())));
      if (l.x1() == l.x2() && std::fabs(l.dy()) >= plot.height() - 1 && l.x1() > plot.right() + 1)
        speedX = std::max(speedX, l.x1());
    }
  const double x[] = {plot.left(), speedX, plot.right()};
  const double chartWidth = Chart->size().width();
  for (std::size_t i = 0; i < 3; ++i) {
    QGraphicsSimpleTextItem* title = AxisTitles[i];
    const QRectF box = title->boundingRect();
    const double left =
        std::clamp(x[i] - box.width() / 2, 0.0, std::max(0.0, chartWidth - box.width()));
    title->setPos(left, plot.top() - box.height() - 1);
  }
}

void TGraphPanel::PlaceMarkerTexts() {
  if (!ChartView) return;
  const QRectF plot = Chart->plotArea();
  for (const TMarker& m : Markers) {
    const QPointF at = Chart->mapToPosition(QPointF(m.Line->at(0).x(), 1.0), m.Line);
    const QRectF box = m.Text->boundingRect();
    m.Text->setPos(at.x() - box.width() / 2, plot.top() - box.height() - 1);
    m.Text->setVisible(at.x() >= plot.left() && at.x() <= plot.right());
  }
}

void TGraphPanel::addStart(TDateTime time, const std::string& Name) {
  AddMarker(time, Name + " start", true);
}

void TGraphPanel::addStop(TDateTime time, const std::string& Name) {
  AddMarker(time, Name + " stop", false);
}

void TGraphPanel::deleteLastStart() {
  // A restart takes back the running run's start marker, the latest one.
  // After a stop the run has ended: its markers, and older runs', stay.
  if (!Markers.empty() && Markers.back().IsStart) RemoveMarker(Markers.size() - 1);
}

void TGraphPanel::setPosition(int x, int y) {
  if (Panel) Panel->move(x, y);
}

void TGraphPanel::setSize(int x, int y) {
  if (!Panel) return;
  const int a = RunMode ? 20 : 34;
  Panel->resize(x, y);
  ChartView->setGeometry(0, 0, x, std::max(0, y - a));
  CB_GraphTime->move(x - CB_GraphTime->width() - 10, y - a + 4);
  Lbl_GraphTime->move(CB_GraphTime->x() - Lbl_GraphTime->width() - 5, CB_GraphTime->y());
  Lbl_UpdateStoppedWarning->move(43, y - a);
  Btn_100Percent->move(10, y - a - 5);
  MarkDirty();
}

void TGraphPanel::setRunMode() {
  if (Lbl_UpdateStoppedWarning) {
    Lbl_UpdateStoppedWarning->setText(QStringLiteral("The chart is zoomed."));
    Lbl_UpdateStoppedWarning->adjustSize();
  }
  if (CB_GraphTime) CB_GraphTime->hide();
  if (Lbl_GraphTime) Lbl_GraphTime->hide();
  RunMode = true;
  if (Panel) setSize(Panel->width(), Panel->height());
}

void TGraphPanel::setTimeLine(TDateTime Min, TDateTime Max) {
  TimeLimitMin = Min;
  TimeLimitMax = Max;
  SetTimeAxes(Min, Max);
  GraphInterval = Max - Min;
  ScrollTimeWindow();
  ApplyTimeAxisFormat(GraphInterval);
}

void TGraphPanel::Disconnect() {
  if (FShaft) FShaft->RemoveObserver(this);
  FShaft = nullptr;
}

void TGraphPanel::LoadShaftDataSet(TShaftDataSet& aShaftDataSet) {
  const DisplaySettings& s = FConfigurationManager;
  TDateTime earliest = 0, latest = 0;
  struct Quantity {
    TShaftData& data;
    TGraphBuffer& buffer;
    double factor;
    QValueAxis* axis;
    double interval;
    int kind;
    bool flag;
  };
  const Quantity quantities[] = {
      {aShaftDataSet.PowerData(), PowerBuffer, s.PowerFactor(), PowerAxis, PowerInterval, 0, true},
      {aShaftDataSet.TorqueData(), TorqueBuffer, s.TorqueFactor(), TorqueAxis, TorqueInterval, 2,
       false},
      {aShaftDataSet.SpeedData(), SpeedBuffer, s.SpeedFactor(), SpeedAxis, SpeedInterval, 1,
       false}};
  for (const Quantity& q : quantities) {
    bool any = false;
    double low = 0, high = 0;
    const TDataValueList kept = q.data.StatisticalShaftData().GoodValues();
    for (std::size_t i = 0; i < kept.Count(); ++i) {
      const TDataValue& v = kept[i];
      const double y = v.Value() * q.factor;
      q.buffer.Add(v.Time(), y);
      low = any ? std::min(low, y) : y;
      high = any ? std::max(high, y) : y;
      any = true;
      earliest = MinNonZero(earliest, v.Time());
      latest = MaxOf(latest, v.Time());
    }
    // Without kept values there is nothing to scale around.
    if (any)
      SetVerticalRange(q.axis, AxisMinimum(q.kind, q.flag, low, q.interval),
                       AxisMaximum(q.kind, q.flag, high, q.interval));
    else
      SetVerticalRange(q.axis, 0, q.interval);
  }
  setTimeLine(earliest, latest);
  Refresh();
}

}  // namespace rvx

// GraphPanel: the time graph of one shaft: the moving averages of power,
// speed and torque in display units against the PC clock, each on its own
// vertical axis, with a vertical marker where a run starts and stops.
//
// Live mode observes a shaft and scrolls with the clock over the chosen time
// scale; stored-run mode shows once the samples the run's filter kept.
//
// Readings do not go into the chart directly: every reading goes into our
// own buffer per quantity (one day long in live mode), and about four times
// a second the visible time range of each buffer is reduced to the first,
// lowest, highest and last sample of each pixel column and handed to the
// chart in one go. The chart library repaints on every appended point, which
// readings at line rate cannot afford. The time window and the vertical axes
// follow the readings at once; only the series are batched.
//
// The chart's x values are milliseconds since the epoch; our date-times are
// local, so they convert through the local time zone.
//
// Ownership: Panel belongs to the parent widget and holds every control;
// the object itself lives while the shaft panel or the shaft's observer list
// holds it, and does nothing once its controls are gone.
//
// Thread safety: GUI thread only.
#pragma once

#include <QChartView>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/acquisition/Shaft.h"
#include "app/ui/ShaftPanel.h"

class QChart;
class QComboBox;
class QDateTimeAxis;
class QGraphicsSimpleTextItem;
class QLabel;
class QLineSeries;
class QPushButton;
class QValueAxis;
class QWidget;

namespace rvx {

class DisplaySettings;
class TShaftDataSet;

// A local platform date-time as milliseconds since the epoch, and back.
std::int64_t DateTimeToMSecs(TDateTime value);
TDateTime MSecsToDateTime(std::int64_t msecs);

// A date-time label pattern of our format settings ("hh:nn:ss",
// "DD.mmm. hh:nn") as a Qt date-time format ("hh:mm:ss", "dd.MMM. hh:mm").
QString QtDateTimeFormat(const std::string& pattern);

// The labels of a date-time axis spanning span days: one every increment,
// or every whole multiple of it when that many would not fit into
// plotWidth pixels (about 80 pixels each). At least 2.
int TimeTickCount(double span, double increment, double plotWidth);

// One plotted sample: time (days) and value in display units.
struct TGraphPoint {
  TDateTime Time;
  double Value;
};

// The samples of one quantity, oldest first (times must not decrease). The
// lowest and highest sample of every block of kBlock samples are kept as
// samples arrive, so a pixel column of a long time range is reduced from
// its blocks rather than from every sample.
class TGraphBuffer {
 public:
  static constexpr std::size_t kBlock = 32;

  void Add(TDateTime time, double value);
  // Drops samples from the front while they are older than cutoff.
  void PurgeBefore(TDateTime cutoff);
  std::size_t Count() const { return points_.size(); }
  const TGraphPoint& operator[](std::size_t i) const { return points_[i]; }
  bool Empty() const { return points_.empty(); }
  const TGraphPoint& Front() const { return points_.front(); }
  const TGraphPoint& Back() const { return points_.back(); }

  // The samples within [x0, x1] and one neighbour on each side (so the
  // line reaches the edges), reduced to the first, lowest, highest and last
  // of each of `columns` pixel columns, in time order (of equal values, the
  // earliest).
  std::vector<TGraphPoint> Reduce(TDateTime x0, TDateTime x1, int columns) const;

 private:
  // Positions count from the first sample ever added.
  struct TBlock {
    TDateTime firstTime;
    std::uint64_t low;
    std::uint64_t high;
    double lowValue;
    double highValue;
  };
  const TGraphPoint& At(std::uint64_t position) const {
    return points_[static_cast<std::size_t>(position - first_)];
  }
  // The lowest and highest sample of positions [from, to).
  void LowHigh(std::uint64_t from, std::uint64_t to, std::uint64_t& low, std::uint64_t& high) const;

  std::deque<TGraphPoint> points_;
  std::uint64_t first_ = 0;  // position of points_[0]
  std::deque<TBlock> blocks_;
  std::uint64_t firstBlock_ = 0;  // block number of blocks_[0]
};

class TGraphPanel;

// The chart view of a graph panel: passes rubber-band zooms, middle-button
// panning and cursor moves on to the panel.
class TGraphChartView : public QChartView {
 public:
  TGraphChartView(QChart* chart, QWidget* parent, TGraphPanel& owner);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  TGraphPanel& owner_;
  QPointF panFrom_;
  bool panning_ = false;
};

class TGraphPanel : public IShaftObserver, public IGraphPanel {
 public:
  // Live: registered with aShaft.
  static std::shared_ptr<TGraphPanel> Create(QWidget* AParent,
                                             const DisplaySettings& aConfigurationManager,
                                             IShaftSubject& aShaft);
  // Stored run: shows the kept samples of aShaftDataSet, observes nothing.
  TGraphPanel(QWidget* AParent, const DisplaySettings& aConfigurationManager,
              TShaftDataSet& aShaftDataSet);
  // Live, not yet registered (Create registers it).
  TGraphPanel(QWidget* AParent, const DisplaySettings& aConfigurationManager);
  ~TGraphPanel() override;
  TGraphPanel(const TGraphPanel&) = delete;
  TGraphPanel& operator=(const TGraphPanel&) = delete;

  void UpdateValues(const TDataValue*, const TDataValue*, const TDataValue*) override {}
  void UpdateRunningAverageValues(const TDataValue* aPower, const TDataValue* aTorque,
                                  const TDataValue* aSpeed) override;
  void UpdateHasCommunication(bool) override {}
  void UpdateCheckSumError(int, const std::string&, const TDataValue*, const TDataValue*,
                           const TDataValue*) override {}
  void UpdateTorqueError(int, const std::string&, const TDataValue*, const TDataValue*,
                         const TDataValue*) override {}

  void addStart(TDateTime time, const std::string& Name) override;
  void addStop(TDateTime time, const std::string& Name) override;
  void setPosition(int x, int y) override;
  void setSize(int x, int y) override;
  void setRunMode() override;
  void setTimeLine(TDateTime Min, TDateTime Max) override;
  void deleteLastStart() override;
  void Disconnect() override;

  // The time-scale choice (0 "5 minutes" .. 5 "24 hours").
  void GraphTimeChange(int index);
  // The 100 % button: the chart's undo zoom, then updating resumes.
  void Btn100PercentClick();
  // Hands the visible part of the buffers to the chart now (the refresh
  // timer does this about four times a second when something changed).
  void Refresh();
  // Something the chart shows has changed; the next timer tick refreshes.
  void MarkDirty() { dirty_ = true; }

  // Called by the chart view.
  // The user drew a zoom rectangle; speedMin and speedMax are the speeds at
  // its lower and upper edge before the chart zoomed.
  void ChartZoom(double speedMin, double speedMax);
  // The chart's own zoom-out (right button) or zoom reset.
  void ChartZoomedOut();
  void ChartScroll();
  void ChartMouseMove(const QPointF& pos);
  void HintTimerTimer();

  TDateTime TimeLimitMin = 0;
  TDateTime TimeLimitMax = 0;
  TDateTime GraphInterval = 0;
  double PowerInterval = 0;
  double SpeedInterval = 0;
  double TorqueInterval = 0;
  bool Running = false;
  bool RunMode = false;
  // The label format and increment (days) the bottom axis got last.
  std::string TimeAxisFormat;
  double TimeAxisIncrement = 0;

  QPointer<QWidget> Panel;
  QPointer<TGraphChartView> ChartView;
  QPointer<QLabel> Lbl_GraphTime;
  QPointer<QLabel> Lbl_UpdateStoppedWarning;
  QPointer<QPushButton> Btn_100Percent;
  QPointer<QComboBox> CB_GraphTime;
  QPointer<QLabel> ChartHint;
  QPointer<QTimer> HintTimer;
  QPointer<QTimer> RefreshTimer;

  // Chart parts, owned by the chart (valid while ChartView is).
  QChart* Chart = nullptr;
  QLineSeries* Power = nullptr;
  QLineSeries* Speed = nullptr;
  QLineSeries* Torque = nullptr;
  QValueAxis* PowerAxis = nullptr;
  QValueAxis* SpeedAxis = nullptr;
  QValueAxis* TorqueAxis = nullptr;
  QValueAxis* StartStopAxis = nullptr;
  QDateTimeAxis* BottomAxis = nullptr;
  QDateTimeAxis* TopAxis = nullptr;

  // One start or stop marker: a vertical line across the plot and its text
  // above it.
  struct TMarker {
    TDateTime Time;
    bool IsStart;
    QLineSeries* Line;
    QGraphicsSimpleTextItem* Text;
  };
  std::vector<TMarker> Markers;
  // The titles of the power, speed and torque axes, level above the top end
  // of each axis.
  std::vector<QGraphicsSimpleTextItem*> AxisTitles;

  TGraphBuffer PowerBuffer;
  TGraphBuffer SpeedBuffer;
  TGraphBuffer TorqueBuffer;

 private:
  void SetUp(QWidget* AParent);
  void UpdateMCR();
  void SuspendUpdating();
  void ResumeUpdating();
  void ScrollTimeWindow();
  void SetTimeAxes(TDateTime min, TDateTime max);
  void ApplyTimeAxisFormat(TDateTime span);
  // As many time labels over the visible span as the plot's width holds
  // (TimeTickCount).
  void FitTimeTicks();
  void RescaleAxisForValue(QValueAxis* axis, double value, double interval, int kind, bool flag);
  void PurgeOldPoints();
  void LoadShaftDataSet(TShaftDataSet& aShaftDataSet);
  void AddMarker(TDateTime time, const std::string& text, bool isStart);
  void RemoveMarker(std::size_t index);
  void PlaceMarkerTexts();
  void PlaceAxisTitles();
  void SetVerticalRange(QValueAxis* axis, double min, double max);
  // The ranges the graph gave its vertical axes (power, speed, torque),
  // put back after an undone zoom; "set" is false until the first.
  struct TAxisRange {
    double min = 0;
    double max = 0;
    bool set = false;
  };
  TAxisRange& RangeOf(QValueAxis* axis);
  TAxisRange ranges_[3];

  IShaftSubject* FShaft = nullptr;
  const DisplaySettings& FConfigurationManager;
  bool dirty_ = true;
  bool settingAxes_ = false;
};

}  // namespace rvx

// The graph panel on the offscreen platform: its sample buffers and their
// reduction to pixel columns against a brute-force model, the time window
// and axis rules under a fake clock, zoom and undo by mouse and button, the
// run markers and the cursor hint, checked on grabbed pictures.
#include <gtest/gtest.h>

#include <QApplication>
#include <QChart>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QGraphicsSimpleTextItem>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QValueAxis>
#include <QWidget>
#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "app/acquisition/ShaftData.h"
#include "app/ui/GraphPanel.h"
#include "platform/core/Clock.h"
#include "platform/core/DateTime.h"
#include "tests/app/support/InMemoryDisplaySettings.h"
#include "tests/app/support/QtTestApplication.h"

namespace rvx {
namespace {

constexpr double kSecond = 1.0 / 86400;
constexpr double kMinute = 60 * kSecond;

// ---- pure parts ----

TEST(GraphTimeTest, LabelPatternsBecomeQtFormats) {
  struct Row {
    const char* pattern;
    const char* qt;
  };
  for (const Row& r :
       {Row{"hh:nn:ss", "hh:mm:ss"}, Row{"hh:nn", "hh:mm"}, Row{"DD.mmm. hh:nn", "dd.MMM. hh:mm"},
        Row{"hh:mm", "hh:mm"}, Row{"dd/mm/yyyy", "dd/MM/yyyy"}}) {
    SCOPED_TRACE(r.pattern);
    EXPECT_EQ(QtDateTimeFormat(r.pattern).toStdString(), r.qt);
  }
}

TEST(GraphTimeTest, TickCountFollowsTheIncrementWhileLabelsFit) {
  struct Row {
    double span, increment, width;
    int ticks;
  };
  const Row rows[] = {
      {5 * kMinute, 15 * kSecond, 2000, 21},  // every 15 s
      {5 * kMinute, 15 * kSecond, 1000, 11},  // every 30 s: 21 would not fit in 12
      {1, 60 * kMinute, 1200, 13},            // every 2 h
      {1, 60 * kMinute, 2400, 25},            // every hour
      {0, 5 * kSecond, 1000, 2},
      {kSecond, 2 * kSecond, 1000, 2},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.span * 86400 << " s on " << r.width << " px");
    EXPECT_EQ(TimeTickCount(r.span, r.increment, r.width), r.ticks);
  }
}

TEST(GraphTimeTest, LocalDateTimesRoundTripThroughEpochMilliseconds) {
  const TDateTime t = platform::EncodeDateTime(2026, 7, 14, 13, 45, 30, 250);
  const std::int64_t ms = DateTimeToMSecs(t);
  const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime);
  EXPECT_EQ(local.date(), QDate(2026, 7, 14));
  EXPECT_EQ(local.time(), QTime(13, 45, 30, 250));
  EXPECT_NEAR(MSecsToDateTime(ms), t, 0.5 / 86400000);
}

TEST(GraphBufferTest, PurgeKeepsAPointExactlyAtTheCutoff) {
  TGraphBuffer buffer;
  const TDateTime now = 46000.5;
  buffer.Add(now - 1 - kSecond, 1);
  buffer.Add(now - 1, 2);
  buffer.Add(now, 3);
  buffer.PurgeBefore(now - 1);
  ASSERT_EQ(buffer.Count(), 2u);
  EXPECT_EQ(buffer.Front().Value, 2);
}

// Model: every sample of [x0, x1] by column; the reduction keeps each
// column's first, last, lowest and highest, plus one neighbour each side.
TEST(GraphBufferTest, ReductionKeepsEachColumnsExtremesAgainstAModel) {
  std::mt19937 random(41);
  for (int round = 0; round < 80; ++round) {
    SCOPED_TRACE(round);
    TGraphBuffer buffer;
    std::vector<TGraphPoint> all;
    TDateTime t = 46000;
    const int n = std::uniform_int_distribution<int>(0, 6000)(random);
    for (int i = 0; i < n; ++i) {
      t += std::uniform_int_distribution<int>(0, 3)(random) * 0.1 * kSecond;
      const double v = std::uniform_int_distribution<int>(-50, 50)(random);
      buffer.Add(t, v);
      all.push_back({t, v});
    }
    // Purged at a random place, so blocks are cut at the front.
    if (round % 2 == 1 && !all.empty()) {
      const TDateTime cutoff = all[all.size() / 3].Time;
      buffer.PurgeBefore(cutoff);
      std::erase_if(all, [&](const TGraphPoint& p) { return p.Time < cutoff; });
      for (int i = 0; i < 100; ++i) {
        t += 0.1 * kSecond;
        const double v = std::uniform_int_distribution<int>(-50, 50)(random);
        buffer.Add(t, v);
        all.push_back({t, v});
      }
    }
    ASSERT_EQ(buffer.Count(), all.size());
    const TDateTime x0 = 46000 + std::uniform_real_distribution<double>(-10, 100)(random) * kSecond;
    const TDateTime x1 = x0 + std::uniform_real_distribution<double>(0, 600)(random) * kSecond;
    const int columns = std::uniform_int_distribution<int>(1, 200)(random);
    const std::vector<TGraphPoint> got = buffer.Reduce(x0, x1, columns);

    // Expected: by index.
    std::vector<std::size_t> keep;
    const double scale = x1 > x0 ? columns / (x1 - x0) : 0;
    std::vector<std::vector<std::size_t>> byColumn(static_cast<std::size_t>(columns));
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (all[i].Time < x0) continue;
      if (all[i].Time > x1) break;
      int c = static_cast<int>(std::floor((all[i].Time - x0) * scale));
      c = std::clamp(c, 0, columns - 1);
      byColumn[static_cast<std::size_t>(c)].push_back(i);
    }
    std::size_t before = all.size(), after = all.size();
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (all[i].Time < x0) before = i;
      if (all[i].Time > x1 && after == all.size()) after = i;
    }
    if (before != all.size()) keep.push_back(before);
    for (const auto& col : byColumn) {
      if (col.empty()) continue;
      std::size_t lo = col.front(), hi = col.front();
      for (std::size_t i : col) {
        if (all[i].Value < all[lo].Value) lo = i;
        if (all[i].Value > all[hi].Value) hi = i;
      }
      std::vector<std::size_t> k = {col.front(), lo, hi, col.back()};
      std::sort(k.begin(), k.end());
      k.erase(std::unique(k.begin(), k.end()), k.end());
      keep.insert(keep.end(), k.begin(), k.end());
    }
    if (after != all.size()) keep.push_back(after);
    ASSERT_EQ(got.size(), keep.size());
    for (std::size_t i = 0; i < keep.size(); ++i) {
      EXPECT_EQ(got[i].Time, all[keep[i]].Time) << i;
      EXPECT_EQ(got[i].Value, all[keep[i]].Value) << i;
    }
    EXPECT_LE(got.size(), static_cast<std::size_t>(columns) * 4 + 2);
  }
}

// ---- the panel ----

void Send(QWidget* target, QEvent::Type type, QPoint pos, Qt::MouseButton button,
          Qt::MouseButtons buttons) {
  QMouseEvent event(type, QPointF(pos), QPointF(target->mapToGlobal(pos)), button, buttons,
                    Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

int CountColour(const QImage& image, const QColor& colour, const QRect& area) {
  int n = 0;
  const QRect r = area.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      n += QColor(image.pixel(x, y)) == colour;
  return n;
}

// Pixels that read as colour on the light background: smoothed text is
// seldom drawn in its exact colour.
int CountNear(const QImage& image, const QColor& colour, const QRect& area) {
  int n = 0;
  const QRect r = area.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) {
      const QColor c(image.pixel(x, y));
      n += std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
               std::abs(c.blue() - colour.blue()) <
           150;
    }
  return n;
}

class GraphPanelTest : public ::testing::Test {
 protected:
  GraphPanelTest() {
    clock_.SetNow(46367.5);       // noon: whole days add exactly
    settings_.power_mcr = 10000;  // interval 2000
    settings_.torque_mcr = 1500;  // interval 300
    settings_.speed_mcr = 100;    // interval 20
    window_.resize(1200, 400);
  }
  std::shared_ptr<TGraphPanel> Live() {
    auto panel = TGraphPanel::Create(&window_, settings_, shaft_);
    Show(*panel);
    return panel;
  }
  void Show(TGraphPanel& panel) {
    panel.setPosition(1, 70);
    panel.setSize(1198, 328);
    window_.show();
    for (int i = 0; i < 3; ++i)
      QApplication::processEvents();
  }
  // One reading's moving averages, at the clock's time, after a step.
  void Reading(TGraphPanel& panel, const double* power, const double* torque, const double* speed,
               int stepMs = 1000) {
    clock_.Advance(static_cast<std::uint64_t>(stepMs));
    const TDateTime now = platform::Now();
    std::unique_ptr<TDataValue> p, t, s;
    if (power) p = std::make_unique<TDataValue>(now, *power, false);
    if (torque) t = std::make_unique<TDataValue>(now, *torque, false);
    if (speed) s = std::make_unique<TDataValue>(now, *speed, false);
    panel.UpdateRunningAverageValues(p.get(), t.get(), s.get());
  }
  static std::pair<double, double> Range(const QValueAxis* axis) {
    return {axis->min(), axis->max()};
  }
  static double WindowMinutes(const TGraphPanel& panel) {
    return (panel.BottomAxis->max().toMSecsSinceEpoch() -
            panel.BottomAxis->min().toMSecsSinceEpoch()) /
           60000.0;
  }

  bool app_ = (test::EnsureQtApplication(), true);
  platform::FakeClock clock_;
  platform::ScopedClock scoped_{clock_};
  QWidget window_;
  struct NoShaft : IShaftSubject {
    void RegisterObserver(std::shared_ptr<IShaftObserver> o) override { observers.push_back(o); }
    void RemoveObserver(const IShaftObserver* o) override {
      std::erase_if(observers, [&](const auto& x) { return x.get() == o; });
    }
    void NotifyObserversOfValues() override {}
    void NotifyObserversOfCommunication() override {}
    void NotifyObserversOfCheckSumError(const std::string&, const TDataValue*, const TDataValue*,
                                        const TDataValue*) override {}
    void NotifyObserversOfTorqueError(const std::string&, const TDataValue*, const TDataValue*,
                                      const TDataValue*) override {}
    std::vector<std::shared_ptr<IShaftObserver>> observers;
  } shaft_;
  test::InMemoryDisplaySettings settings_;
};

TEST_F(GraphPanelTest, LiveSetUpShowsFifteenMinutesEndingNow) {
  auto panel = Live();
  ASSERT_EQ(shaft_.observers.size(), 1u);
  EXPECT_TRUE(panel->Running);
  EXPECT_FALSE(panel->RunMode);
  EXPECT_EQ(panel->CB_GraphTime->currentText(), "15 minutes");
  EXPECT_EQ(panel->BottomAxis->max().toMSecsSinceEpoch(), DateTimeToMSecs(platform::Now()));
  EXPECT_NEAR(WindowMinutes(*panel), 15, 1e-6);
  EXPECT_EQ(panel->TopAxis->min(), panel->BottomAxis->min());
  EXPECT_EQ(panel->TopAxis->max(), panel->BottomAxis->max());
  EXPECT_FALSE(panel->Lbl_UpdateStoppedWarning->isVisible());
  EXPECT_FALSE(panel->Btn_100Percent->isVisible());
  EXPECT_EQ(panel->Chart->locale().language(), QLocale::English);
  // Before any value: 0 .. the interval (0.2 x MCR).
  EXPECT_EQ(Range(panel->PowerAxis), std::make_pair(0.0, 2000.0));
  EXPECT_EQ(Range(panel->SpeedAxis), std::make_pair(0.0, 20.0));
  EXPECT_EQ(Range(panel->TorqueAxis), std::make_pair(0.0, 300.0));
  for (QAbstractAxis* axis : panel->Chart->axes())
    EXPECT_EQ(axis->labelsFont().family(), "Arial");
  // Layout of a live 1198 x 328 panel: 34 below the chart.
  EXPECT_EQ(panel->ChartView->geometry(), QRect(0, 0, 1198, 294));
  EXPECT_EQ(panel->CB_GraphTime->geometry().topLeft(), QPoint(1198 - 90 - 10, 298));
  EXPECT_EQ(panel->Lbl_GraphTime->geometry().right() + 1 + 5, panel->CB_GraphTime->x());
  EXPECT_EQ(panel->Btn_100Percent->geometry(), QRect(10, 289, 26, 26));
  EXPECT_EQ(panel->Lbl_UpdateStoppedWarning->pos(), QPoint(43, 294));
  panel->Disconnect();
  EXPECT_TRUE(shaft_.observers.empty());
}

TEST_F(GraphPanelTest, FirstValuesScaleTheirAxes) {
  auto panel = Live();
  const double power = 0, torque = 450, speed = 85;
  Reading(*panel, &power, &torque, &speed);
  EXPECT_EQ(Range(panel->PowerAxis), std::make_pair(0.0, 1600.0));
  EXPECT_EQ(Range(panel->TorqueAxis), std::make_pair(360.0, 660.0));
  EXPECT_EQ(Range(panel->SpeedAxis), std::make_pair(80.0, 100.0));
}

TEST_F(GraphPanelTest, AnAxisMovesOnlyWhenAValueLeavesItsMargin) {
  auto panel = Live();
  struct Step {
    double torque;
    double min, max;
  };
  // Interval 300: the margin is 15 inside each end.
  const Step steps[] = {
      {450, 360, 660},   {375, 360, 660}, {645, 360, 660},  // at the margins: stays
      {645.1, 560, 860},                                    // just past: rescaled
      {574.9, 480, 780},                                    // below 560 + 15
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.torque);
    Reading(*panel, nullptr, &s.torque, nullptr);
    EXPECT_EQ(Range(panel->TorqueAxis), std::make_pair(s.min, s.max));
  }
}

TEST_F(GraphPanelTest, AnAbsentAverageAddsNoPointAndLeavesItsAxis) {
  auto panel = Live();
  const double power = 5000, torque = 450;
  // Steps past the window's slack, so both points are inside it.
  Reading(*panel, &power, &torque, nullptr, 3000);
  const auto speedRange = Range(panel->SpeedAxis);
  const auto torqueRange = Range(panel->TorqueAxis);
  Reading(*panel, &power, nullptr, nullptr, 3000);
  EXPECT_EQ(panel->PowerBuffer.Count(), 2u);
  EXPECT_EQ(panel->TorqueBuffer.Count(), 1u);
  EXPECT_EQ(panel->SpeedBuffer.Count(), 0u);
  EXPECT_EQ(Range(panel->SpeedAxis), speedRange);
  EXPECT_EQ(Range(panel->TorqueAxis), torqueRange);
  panel->Refresh();
  EXPECT_EQ(panel->Power->count(), 2);
  EXPECT_EQ(panel->Torque->count(), 1);
  EXPECT_EQ(panel->Speed->count(), 0);
}

TEST_F(GraphPanelTest, TimeScalesGiveTheirWindowAndLabels) {
  auto panel = Live();
  struct Row {
    int item;
    const char* text;
    double minutes;
    const char* format;
    const char* qt;
    double incrementSeconds;
  };
  const Row rows[] = {{5, "24 hours", 1440, "DD.mmm. hh:nn", "dd.MMM. hh:mm", 3600},
                      {0, "5 minutes", 5, "hh:nn:ss", "hh:mm:ss", 15},
                      {2, "1 hour", 60, "hh:nn", "hh:mm", 300}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    panel->CB_GraphTime->setCurrentIndex(r.item);
    emit panel->CB_GraphTime->activated(r.item);
    EXPECT_EQ(panel->CB_GraphTime->currentText(), r.text);
    EXPECT_NEAR(WindowMinutes(*panel), r.minutes, 1e-6);
    EXPECT_EQ(panel->BottomAxis->max().toMSecsSinceEpoch(), DateTimeToMSecs(platform::Now()));
    EXPECT_EQ(panel->TimeAxisFormat, r.format);
    EXPECT_EQ(panel->BottomAxis->format().toStdString(), r.qt);
    EXPECT_NEAR(panel->TimeAxisIncrement * 86400, r.incrementSeconds, 1e-6);
    EXPECT_GE(panel->BottomAxis->tickCount(), 2);
  }
  // English month names in the one-day labels, whatever the user's locale.
  panel->GraphTimeChange(5);
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  const QString label = panel->Chart->locale().toString(QDateTime(QDate(2026, 3, 2), QTime(7, 5)),
                                                        panel->BottomAxis->format());
  QLocale::setDefault(QLocale::c());
  EXPECT_EQ(label.toStdString(), "02.Mar. 07:05");
}

TEST_F(GraphPanelTest, TheWindowMovesOnlyPastThreeThousandthsOfItsWidth) {
  auto panel = Live();  // 15 minutes: 2.7 s of slack
  const qint64 end = panel->BottomAxis->max().toMSecsSinceEpoch();
  const double power = 5000;
  Reading(*panel, &power, nullptr, nullptr, 2699);
  EXPECT_EQ(panel->BottomAxis->max().toMSecsSinceEpoch(), end);
  Reading(*panel, &power, nullptr, nullptr, 2);
  EXPECT_EQ(panel->BottomAxis->max().toMSecsSinceEpoch(), end + 2701);
  EXPECT_NEAR(WindowMinutes(*panel), 15, 1e-6);
}

TEST_F(GraphPanelTest, APointExactlyOneDayOldStaysAndAnOlderOneGoes) {
  auto panel = Live();
  const TDateTime start = platform::Now();
  panel->PowerBuffer.Add(start - kSecond, 1);
  panel->PowerBuffer.Add(start, 2);
  panel->addStart(start - kSecond, "Run 1");
  clock_.SetNow(start + 1);
  const double power = 5000;
  Reading(*panel, &power, nullptr, nullptr, 0);
  ASSERT_EQ(panel->PowerBuffer.Count(), 2u);
  EXPECT_EQ(panel->PowerBuffer.Front().Value, 2);
  EXPECT_TRUE(panel->Markers.empty()) << "the marker is older than a day";
}

TEST_F(GraphPanelTest, LinesAndMarkersAppearInTheGrab) {
  auto panel = Live();
  const double torque = 450;
  for (int i = 0; i < 120; ++i) {
    const double power = 5000 + (i % 7) * 50;
    Reading(*panel, &power, &torque, nullptr);
  }
  panel->addStart(platform::Now() - 5 * kMinute, "Run 1");
  panel->Refresh();
  QApplication::processEvents();
  const QImage picture = panel->ChartView->grab().toImage();
  const QRect plot = panel->Chart->plotArea().toRect();
  EXPECT_GT(CountColour(picture, QColor(0, 0, 255), plot), 50) << "power line";
  EXPECT_GT(CountColour(picture, QColor(128, 0, 0), plot), 50) << "torque line";
  const QPointF marker = panel->Chart->mapToPosition(
      QPointF(panel->Markers[0].Line->at(0).x(), 0.5), panel->Markers[0].Line);
  const QRect column(static_cast<int>(marker.x()) - 2, plot.top(), 5, plot.height());
  EXPECT_GT(CountColour(picture, QColor(0, 128, 0), column), plot.height() / 2) << "start line";
  // Its text sits above the plot, over its line.
  const QRectF text = panel->Markers[0].Text->sceneBoundingRect();
  EXPECT_EQ(panel->Markers[0].Text->text(), "Run 1 start");
  EXPECT_TRUE(panel->Markers[0].Text->isVisible());
  EXPECT_LE(text.bottom(), plot.top());
  EXPECT_NEAR(text.center().x(), marker.x(), 1.5);
  EXPECT_GT(CountColour(picture, QColor(0, 128, 0), text.toRect()), 5) << "start text";
}

TEST_F(GraphPanelTest, ARestartMarkerReplacesTheOldStartMarker) {
  auto panel = Live();
  const TDateTime now = platform::Now();
  panel->addStart(now - 10 * kMinute, "Run 1");
  panel->addStop(now - 8 * kMinute, "Run 1");
  panel->addStart(now - 6 * kMinute, "Run 2");
  panel->deleteLastStart();
  panel->addStart(now - 4 * kMinute, "Run 2");
  ASSERT_EQ(panel->Markers.size(), 3u);
  EXPECT_EQ(panel->Markers[2].Time, now - 4 * kMinute);
  EXPECT_EQ(panel->Markers[2].Text->text(), "Run 2 start");
  EXPECT_EQ(panel->Markers[1].Text->text(), "Run 1 stop");
  EXPECT_EQ(panel->Chart->series().size(), 3 + 3);
  panel->Refresh();
  QApplication::processEvents();
  const QImage picture = panel->ChartView->grab().toImage();
  const QRect plot = panel->Chart->plotArea().toRect();
  auto columnAt = [&](TDateTime t) {
    const QPointF p = panel->Chart->mapToPosition(
        QPointF(static_cast<double>(DateTimeToMSecs(t)), 0.5), panel->Markers[0].Line);
    return QRect(static_cast<int>(p.x()) - 2, plot.top(), 5, plot.height());
  };
  EXPECT_EQ(CountColour(picture, QColor(0, 128, 0), columnAt(now - 6 * kMinute)), 0);
  EXPECT_GT(CountColour(picture, QColor(0, 128, 0), columnAt(now - 4 * kMinute)), 100);
  EXPECT_GT(CountColour(picture, QColor(255, 0, 0), columnAt(now - 8 * kMinute)), 100);
}

TEST_F(GraphPanelTest, DragZoomHoldsTheWindowUntilTheHundredPercentButton) {
  auto panel = Live();
  const double power = 5000, torque = 450, speed = 85;
  for (int i = 0; i < 60; ++i)
    Reading(*panel, &power, &torque, &speed);
  const QRectF plot = panel->Chart->plotArea();
  QWidget* viewport = panel->ChartView->viewport();
  const QPoint from = plot.topLeft().toPoint() + QPoint(100, 20);
  const QPoint to = plot.bottomLeft().toPoint() + QPoint(400, -20);
  const auto before = panel->BottomAxis->max();
  Send(viewport, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
  Send(viewport, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton);
  Send(viewport, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
  Send(viewport, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
  EXPECT_FALSE(panel->Running);
  EXPECT_TRUE(panel->Lbl_UpdateStoppedWarning->isVisible());
  EXPECT_TRUE(panel->Btn_100Percent->isVisible());
  EXPECT_LT(panel->BottomAxis->max(), before) << "zoomed into the window";
  EXPECT_LT(WindowMinutes(*panel), 15);
  EXPECT_EQ(Range(panel->StartStopAxis), std::make_pair(0.0, 1.0));
  const auto zoomedMin = panel->BottomAxis->min(), zoomedMax = panel->BottomAxis->max();
  // The labels keep the time scale's format and spacing over the zoomed span.
  EXPECT_EQ(panel->TimeAxisFormat, "hh:nn");
  EXPECT_EQ(panel->BottomAxis->format(), "hh:mm");
  EXPECT_EQ(panel->BottomAxis->tickCount(), TimeTickCount(WindowMinutes(*panel) * kMinute, kMinute,
                                                          panel->Chart->plotArea().width()));

  // Readings keep arriving, for longer than the window; the view stays.
  for (int i = 0; i < 30; ++i)
    Reading(*panel, &power, &torque, &speed, 60000);
  EXPECT_EQ(panel->PowerBuffer.Count(), 90u);
  EXPECT_EQ(panel->BottomAxis->min(), zoomedMin);
  EXPECT_EQ(panel->BottomAxis->max(), zoomedMax);

  QTest::mouseClick(panel->Btn_100Percent, Qt::LeftButton);
  EXPECT_TRUE(panel->Running);
  EXPECT_FALSE(panel->Lbl_UpdateStoppedWarning->isVisible());
  EXPECT_FALSE(panel->Btn_100Percent->isVisible());
  EXPECT_EQ(panel->BottomAxis->max().toMSecsSinceEpoch(), DateTimeToMSecs(platform::Now()));
  EXPECT_NEAR(WindowMinutes(*panel), 15, 1e-6);
  EXPECT_EQ(Range(panel->PowerAxis), std::make_pair(3600.0, 5600.0));
  EXPECT_EQ(panel->TimeAxisFormat, "hh:nn");
}

// Markers hang on the top axis: it must follow a zoom even while it holds
// no marker, or one added later sits at the wrong time.
TEST_F(GraphPanelTest, AMarkerAddedWhileZoomedSitsAtItsTime) {
  auto panel = Live();
  const double power = 5000;
  for (int i = 0; i < 60; ++i)
    Reading(*panel, &power, nullptr, nullptr);
  const QRectF plot = panel->Chart->plotArea();
  // One marker from before the zoom, inside the rectangle drawn below.
  const TDateTime before = MSecsToDateTime(panel->BottomAxis->min().toMSecsSinceEpoch() +
                                           (panel->BottomAxis->max().toMSecsSinceEpoch() -
                                            panel->BottomAxis->min().toMSecsSinceEpoch()) *
                                               45 / 100);
  panel->addStop(before, "Run 0");
  QWidget* viewport = panel->ChartView->viewport();
  const QPoint from = plot.topLeft().toPoint() + QPoint(300, 20);
  const QPoint to = plot.bottomLeft().toPoint() + QPoint(700, -20);
  Send(viewport, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
  Send(viewport, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
  Send(viewport, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
  ASSERT_FALSE(panel->Running);
  EXPECT_EQ(panel->TopAxis->min(), panel->BottomAxis->min());
  EXPECT_EQ(panel->TopAxis->max(), panel->BottomAxis->max());
  const std::int64_t ms0 = panel->BottomAxis->min().toMSecsSinceEpoch();
  const std::int64_t ms1 = panel->BottomAxis->max().toMSecsSinceEpoch();
  const TDateTime at = MSecsToDateTime(ms0 + (ms1 - ms0) / 2);
  panel->addStart(at, "Run 1");
  panel->Refresh();
  QApplication::processEvents();
  const QImage picture = panel->ChartView->grab().toImage();
  const QRect area = panel->Chart->plotArea().toRect();
  const double x =
      panel->Chart
          ->mapToPosition(QPointF(static_cast<double>(DateTimeToMSecs(at)), 0), panel->Power)
          .x();
  const QRect column(static_cast<int>(x) - 2, area.top(), 5, area.height());
  EXPECT_GT(CountColour(picture, QColor(0, 128, 0), column), area.height() / 2);
  const double xBefore =
      panel->Chart
          ->mapToPosition(QPointF(static_cast<double>(DateTimeToMSecs(before)), 0), panel->Power)
          .x();
  ASSERT_GT(xBefore, area.left());
  ASSERT_LT(xBefore, area.right());
  EXPECT_GT(CountColour(picture, QColor(255, 0, 0),
                        QRect(static_cast<int>(xBefore) - 2, area.top(), 5, area.height())),
            area.height() / 2);
  // Panning moves both axes alike.
  panel->ChartView->chart()->scroll(-50, 0);
  EXPECT_EQ(panel->TopAxis->min(), panel->BottomAxis->min());
  EXPECT_EQ(panel->TopAxis->max(), panel->BottomAxis->max());
}

// A restart removes the start marker of the running run; when the latest
// marker is a stop, the run it belongs to has ended and every marker stays.
TEST_F(GraphPanelTest, DeleteLastStartLeavesAStoppedRunsMarkers) {
  auto panel = Live();
  const TDateTime now = platform::Now();
  panel->addStart(now - 10 * kMinute, "Run 1");
  panel->addStop(now - 8 * kMinute, "Run 1");
  panel->deleteLastStart();
  ASSERT_EQ(panel->Markers.size(), 2u);
  EXPECT_EQ(panel->Markers[0].Text->text(), "Run 1 start");
  EXPECT_EQ(panel->Markers[1].Text->text(), "Run 1 stop");
  panel->Refresh();
  QApplication::processEvents();
  const QImage picture = panel->ChartView->grab().toImage();
  const QRect plot = panel->Chart->plotArea().toRect();
  const double x =
      panel->Chart
          ->mapToPosition(QPointF(static_cast<double>(DateTimeToMSecs(now - 10 * kMinute)), 0),
                          panel->Power)
          .x();
  EXPECT_GT(CountColour(picture, QColor(0, 128, 0),
                        QRect(static_cast<int>(x) - 2, plot.top(), 5, plot.height())),
            plot.height() / 2);
}

TEST_F(GraphPanelTest, TheHundredPercentButtonShowsAPicture) {
  auto panel = Live();
  panel->ChartScroll();  // shows the button
  QApplication::processEvents();
  ASSERT_TRUE(panel->Btn_100Percent->isVisible());
  EXPECT_TRUE(panel->Btn_100Percent->text().isEmpty());
  EXPECT_FALSE(panel->Btn_100Percent->icon().isNull());
  EXPECT_EQ(panel->Btn_100Percent->size(), QSize(26, 26));
  const QImage picture = panel->Btn_100Percent->grab().toImage();
  // The magnifier's rim.
  EXPECT_GT(CountColour(picture, QColor(0, 0, 128), picture.rect()), 12);
}

// Each unit stands level above the top end of its axis, in the axis's
// colour, with small-dot grid lines across the plot.
TEST_F(GraphPanelTest, AxisTitlesStandLevelAtTheTopOfTheirAxes) {
  auto panel = Live();
  const double power = 5000, torque = 450, speed = 85;
  Reading(*panel, &power, &torque, &speed);
  panel->Refresh();
  QApplication::processEvents();
  const QImage picture = panel->ChartView->grab().toImage();
  const QRectF plot = panel->Chart->plotArea();
  struct Row {
    const char* text;
    QColor colour;
  };
  const Row rows[] = {
      {"kW", QColor(0, 0, 255)}, {"rpm", QColor(0, 128, 0)}, {"kNm", QColor(128, 0, 0)}};
  ASSERT_EQ(panel->AxisTitles.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(rows[i].text);
    const QGraphicsSimpleTextItem* title = panel->AxisTitles[i];
    EXPECT_EQ(title->text(), rows[i].text);
    EXPECT_EQ(title->font().family(), "Arial");
    EXPECT_EQ(title->font().pointSize(), 9);
    EXPECT_EQ(title->rotation(), 0);
    const QRect box = title->sceneBoundingRect().toRect();
    EXPECT_LE(box.bottom(), plot.top());
    EXPECT_GT(box.width(), box.height()) << "level, not along the axis";
    EXPECT_GT(CountNear(picture, rows[i].colour, box), 3);
  }
  EXPECT_NEAR(panel->AxisTitles[0]->sceneBoundingRect().center().x(), plot.left(), 1);
  EXPECT_NEAR(panel->AxisTitles[2]->sceneBoundingRect().center().x(), plot.right(), 1);
  // Speed: beyond torque's labels, on the chart.
  EXPECT_GT(panel->AxisTitles[1]->sceneBoundingRect().center().x(), plot.right() + 20);
  EXPECT_LE(panel->AxisTitles[1]->sceneBoundingRect().right(), picture.width());
  // Beside the axes, halfway down, no turned title.
  const int middle = static_cast<int>(plot.center().y());
  EXPECT_EQ(CountNear(picture, QColor(0, 0, 255), QRect(0, middle - 30, 14, 60)), 0);
  for (QValueAxis* axis : {panel->PowerAxis, panel->SpeedAxis, panel->TorqueAxis})
    EXPECT_FALSE(axis->isTitleVisible());
  // A grid line of small dots: every other pixel along a row.
  const int y = static_cast<int>(panel->Chart->mapToPosition(QPointF(0, 5000), panel->Power).y());
  const QColor grid(128, 128, 128);
  int dots = 0, neighbours = 0;
  for (int x = static_cast<int>(plot.left()) + 5; x < static_cast<int>(plot.right()) - 5; ++x)
    if (QColor(picture.pixel(x, y)) == grid) {
      ++dots;
      neighbours += QColor(picture.pixel(x + 1, y)) == grid;
    }
  EXPECT_GT(dots, plot.width() / 4);
  // Only where a time grid line crosses.
  EXPECT_LT(neighbours, dots / 10);
}

TEST_F(GraphPanelTest, CursorHintShowsTimeAndTheThreeValuesThenHides) {
  auto panel = Live();
  const double power = 5000, torque = 450, speed = 85;
  Reading(*panel, &power, &torque, &speed);
  const QPoint at = panel->Chart->plotArea().center().toPoint();
  Send(panel->ChartView->viewport(), QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
  ASSERT_TRUE(panel->ChartHint->isVisible());
  const QString text = panel->ChartHint->text();
  const auto match = QRegularExpression(R"(^\d\d:\d\d \((\d+), (\d+), (\d+)\)$)").match(text);
  ASSERT_TRUE(match.hasMatch()) << text.toStdString();
  // The middle of each axis: power 3600..5600, speed 80..100, torque 360..660.
  EXPECT_NEAR(match.captured(1).toDouble(), 4600, 20);
  EXPECT_NEAR(match.captured(2).toDouble(), 90, 1);
  EXPECT_NEAR(match.captured(3).toDouble(), 510, 3);
  EXPECT_EQ(panel->ChartHint->geometry().bottom() + 1 + 5, at.y());
  EXPECT_EQ(panel->ChartHint->x(), at.x() + 5);
  EXPECT_TRUE(panel->HintTimer->isActive());
  panel->HintTimerTimer();
  EXPECT_FALSE(panel->ChartHint->isVisible());
  // Anywhere on the chart, beyond the plot too.
  Send(panel->ChartView->viewport(), QEvent::MouseMove, QPoint(3, 30), Qt::NoButton, Qt::NoButton);
  EXPECT_TRUE(panel->ChartHint->isVisible());
  EXPECT_EQ(panel->ChartHint->x(), 8);
}

TEST_F(GraphPanelTest, StoredRunShowsItsKeptSamplesOnce) {
  TShaftDataSet run(5, 5);
  const TDateTime start = platform::EncodeDateTime(2026, 12, 10, 9, 0, 0, 0);
  for (int i = 0; i < 600; ++i) {
    run.AddPower(start + i * kSecond, 4000 + (i % 10), false);
    run.AddSpeed(start + i * kSecond, 80, false);
  }
  TGraphPanel panel(&window_, settings_, run);
  Show(panel);
  EXPECT_TRUE(panel.RunMode);
  EXPECT_TRUE(panel.CB_GraphTime->isHidden());
  EXPECT_TRUE(panel.Lbl_GraphTime->isHidden());
  EXPECT_EQ(panel.Lbl_UpdateStoppedWarning->text(), "The chart is zoomed.");
  EXPECT_EQ(panel.ChartView->geometry(), QRect(0, 0, 1198, 308));
  EXPECT_EQ(panel.BottomAxis->min().toMSecsSinceEpoch(), DateTimeToMSecs(start));
  EXPECT_EQ(panel.BottomAxis->max().toMSecsSinceEpoch(), DateTimeToMSecs(start + 599 * kSecond));
  EXPECT_EQ(panel.TimeAxisFormat, "hh:nn:ss");  // 9 min 59 s
  // Labels every 15 s would not fit; every whole multiple that does.
  EXPECT_EQ(panel.BottomAxis->tickCount(),
            TimeTickCount(599 * kSecond, 15 * kSecond, panel.Chart->plotArea().width()));
  EXPECT_GT(panel.BottomAxis->tickCount(), 8) << "as wide as the shaft panel, not as at set-up";
  EXPECT_EQ(Range(panel.PowerAxis), std::make_pair(2600.0, 4600.0));
  EXPECT_EQ(Range(panel.SpeedAxis), std::make_pair(70.0, 90.0));
  EXPECT_EQ(Range(panel.TorqueAxis), std::make_pair(0.0, 300.0)) << "no kept torque";
  EXPECT_EQ(panel.PowerBuffer.Count(), 600u);
  EXPECT_GT(panel.Power->count(), 0);
  // The clock does not move a stored run.
  clock_.Advance(3600 * 1000);
  const double power = 4000;
  panel.UpdateRunningAverageValues(
      std::make_unique<TDataValue>(platform::Now(), power, false).get(), nullptr, nullptr);
  EXPECT_EQ(panel.BottomAxis->max().toMSecsSinceEpoch(), DateTimeToMSecs(start + 599 * kSecond));
}

// The 100 % button of a stored run shows the whole run again.
TEST_F(GraphPanelTest, StoredRunZoomsAndReturnsToTheWholeRun) {
  TShaftDataSet run(5, 5);
  const TDateTime start = platform::EncodeDateTime(2026, 12, 10, 9, 0, 0, 0);
  for (int i = 0; i < 1800; ++i)
    run.AddPower(start + i * kSecond, 4000 + (i % 10), false);
  TGraphPanel panel(&window_, settings_, run);
  Show(panel);
  const QDateTime min = panel.BottomAxis->min(), max = panel.BottomAxis->max();
  const QRectF plot = panel.Chart->plotArea();
  QWidget* viewport = panel.ChartView->viewport();
  const QPoint from = plot.topLeft().toPoint() + QPoint(200, 20);
  const QPoint to = plot.bottomLeft().toPoint() + QPoint(500, -20);
  Send(viewport, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
  Send(viewport, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
  Send(viewport, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
  EXPECT_GT(panel.BottomAxis->min(), min);
  EXPECT_LT(panel.BottomAxis->max(), max);
  EXPECT_TRUE(panel.Lbl_UpdateStoppedWarning->isVisible());
  EXPECT_EQ(panel.Lbl_UpdateStoppedWarning->text(), "The chart is zoomed.");
  EXPECT_EQ(panel.TimeAxisFormat, "hh:nn") << "the run's own label format";
  QTest::mouseClick(panel.Btn_100Percent, Qt::LeftButton);
  EXPECT_EQ(panel.BottomAxis->min(), min);
  EXPECT_EQ(panel.BottomAxis->max(), max);
  EXPECT_EQ(panel.TopAxis->min(), min);
  EXPECT_EQ(panel.TopAxis->max(), max);
  EXPECT_FALSE(panel.Lbl_UpdateStoppedWarning->isVisible());
  EXPECT_FALSE(panel.Btn_100Percent->isVisible());
}

TEST_F(GraphPanelTest, AGraphWhoseControlsAreGoneDoesNothing) {
  auto panel = Live();
  delete panel->Panel.data();
  const double power = 5000;
  Reading(*panel, &power, nullptr, nullptr);
  panel->addStart(platform::Now(), "Run");
  panel->deleteLastStart();
  panel->Refresh();
  panel->setSize(100, 100);
  panel->setRunMode();
  panel->GraphTimeChange(0);
  EXPECT_EQ(panel->PowerBuffer.Count(), 1u);
}

}  // namespace
}  // namespace rvx

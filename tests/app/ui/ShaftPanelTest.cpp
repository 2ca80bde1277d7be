// The live and stored-run shaft panels on the offscreen platform: texts of
// their labels, their layout and the colours of grabbed pictures.
#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QWidget>
#include <algorithm>
#include <memory>
#include <vector>

#include "app/acquisition/DemoCommunication.h"
#include "app/acquisition/LinkSettingsStore.h"
#include "app/acquisition/ShaftData.h"
#include "app/ui/GraphPanel.h"
#include "app/ui/ShaftPanel.h"
#include "platform/core/Clock.h"
#include "tests/app/support/InMemoryDisplaySettings.h"
#include "tests/app/support/LinkTestKit.h"
#include "tests/app/support/QtTestApplication.h"

namespace rvx {
namespace {

// A shaft's observer list alone: the panels register with it, the test
// sends the notifications a shaft sends for each reading.
class ObserverList : public IShaftSubject {
 public:
  void RegisterObserver(std::shared_ptr<IShaftObserver> aObserver) override {
    observers.push_back(std::move(aObserver));
  }
  void RemoveObserver(const IShaftObserver* aObserver) override {
    auto it = std::find_if(observers.begin(), observers.end(),
                           [&](const auto& o) { return o.get() == aObserver; });
    if (it != observers.end()) observers.erase(it);
  }
  void NotifyObserversOfValues() override {}
  void NotifyObserversOfCommunication() override {}
  void NotifyObserversOfCheckSumError(const std::string&, const TDataValue*, const TDataValue*,
                                      const TDataValue*) override {}
  void NotifyObserversOfTorqueError(const std::string&, const TDataValue*, const TDataValue*,
                                    const TDataValue*) override {}

  // One reading as a shaft passes it on: values, communication, averages.
  void Reading(bool isError, const TDataValue* power, const TDataValue* torque,
               const TDataValue* speed) {
    const TDataValue p(0, 5000, isError), t(0, 450, false), s(0, 80, false);
    for (auto& o : observers)
      o->UpdateValues(&p, &t, &s);
    for (auto& o : observers)
      o->UpdateHasCommunication(true);
    for (auto& o : observers)
      o->UpdateRunningAverageValues(power, torque, speed);
  }

  std::vector<std::shared_ptr<IShaftObserver>> observers;
};

// Records what the shaft panel asks of its graph.
class RecordingGraph : public IGraphPanel {
 public:
  void setPosition(int x, int y) override { pos = {x, y}; }
  void setSize(int x, int y) override { size = {x, y}; }
  void setRunMode() override { runMode = true; }
  void addStart(TDateTime, const std::string& Name) override { calls.push_back("start " + Name); }
  void addStop(TDateTime, const std::string& Name) override { calls.push_back("stop " + Name); }
  void setTimeLine(TDateTime, TDateTime) override { calls.push_back("time line"); }
  void deleteLastStart() override { calls.push_back("delete"); }
  void Disconnect() override { calls.push_back("disconnect"); }
  QPoint pos;
  QSize size;
  bool runMode = false;
  std::vector<std::string> calls;
};

std::string Text(const QLabel* label) {
  return label->text().toStdString();
}

class ShaftPanelTest : public ::testing::Test {
 protected:
  std::unique_ptr<TShaftPanel> LivePanel(std::shared_ptr<IGraphPanel> graph = nullptr) {
    auto panel =
        std::make_unique<TShaftPanel>(&window_, shaft_, "Port Shaft", settings_, std::move(graph));
    panel->setSize(1200, 400);
    panel->setVisible(true);
    return panel;
  }
  // The application first: widgets need it.
  bool app_ = (test::EnsureQtApplication(), true);
  QWidget window_;
  ObserverList shaft_;
  test::InMemoryDisplaySettings settings_;
};

TEST_F(ShaftPanelTest, ErrorRateCoversTheLatestWindowOfReadings) {
  auto panel = LivePanel();
  EXPECT_EQ(Text(panel->ComPanel->Lbl_TotalErrorRate), "Error rate: 0.0%");
  for (int i = 1; i <= 5; ++i)
    shaft_.Reading(i == 3, nullptr, nullptr, nullptr);
  EXPECT_EQ(Text(panel->ComPanel->Lbl_TotalErrorRate), "Error rate: 20.0%");
  // The flagged third reading leaves the window of five at the eighth.
  for (int i = 6; i <= 10; ++i) {
    shaft_.Reading(false, nullptr, nullptr, nullptr);
    EXPECT_EQ(Text(panel->ComPanel->Lbl_TotalErrorRate),
              i <= 7 ? "Error rate: 20.0%" : "Error rate: 0.0%")
        << "reading " << i;
  }
}

TEST_F(ShaftPanelTest, MetricVesselShowsShaftHorsePowerAndItsPercentage) {
  settings_.units = "Metric";
  settings_.power_factor = 1.3596;
  settings_.power_mcr = 13596;
  auto panel = LivePanel();
  EXPECT_EQ(Text(panel->DataPanel->Power->Lbl_Data), "N/A");
  const TDataValue power(0, 5000, false);
  shaft_.Reading(false, &power, nullptr, nullptr);
  EXPECT_EQ(Text(panel->DataPanel->Power->Lbl_Data), "6798 SHp");
  EXPECT_EQ(Text(panel->DataPanel->Power->Lbl_DataName), "Power (50.0%)");
  EXPECT_EQ(Text(panel->DataPanel->Torque->Lbl_Data), "NA");
  EXPECT_EQ(Text(panel->DataPanel->Speed->Lbl_Data), "NA");
}

TEST_F(ShaftPanelTest, ValuesAtTheThousandBoundary) {
  auto panel = LivePanel();
  struct Case {
    double value;
    const char* text;
  };
  for (const Case& c : {Case{999.9, "999.9 kNm"}, Case{1000, "1000 kNm"}}) {
    SCOPED_TRACE(c.text);
    const TDataValue torque(0, c.value, false);
    shaft_.Reading(false, nullptr, &torque, nullptr);
    EXPECT_EQ(Text(panel->DataPanel->Torque->Lbl_Data), c.text);
  }
}

TEST_F(ShaftPanelTest, AverageOfZeroShowsNAAndKeepsThePercentage) {
  auto panel = LivePanel();
  const TDataValue speed(0, 50, false), zero(0, 0, false);
  shaft_.Reading(false, nullptr, nullptr, &speed);
  EXPECT_EQ(Text(panel->DataPanel->Speed->Lbl_Data), "50.0 rpm");
  EXPECT_EQ(Text(panel->DataPanel->Speed->Lbl_DataName), "Speed (50.0%)");
  shaft_.Reading(false, nullptr, nullptr, &zero);
  EXPECT_EQ(Text(panel->DataPanel->Speed->Lbl_Data), "NA");
  EXPECT_EQ(Text(panel->DataPanel->Speed->Lbl_DataName), "Speed (50.0%)");
}

TEST_F(ShaftPanelTest, McrOfZeroShowsNAInPlaceOfThePercentage) {
  settings_.torque_mcr = 0;
  auto panel = LivePanel();
  const TDataValue torque(0, 450, false);
  shaft_.Reading(false, nullptr, &torque, nullptr);
  EXPECT_EQ(Text(panel->DataPanel->Torque->Lbl_Data), "450.0 kNm");
  EXPECT_EQ(Text(panel->DataPanel->Torque->Lbl_DataName), "Torque (NA%)");
}

TEST_F(ShaftPanelTest, StoredRunWithoutTorqueShowsNAAndTheMeanCaption) {
  TShaftDataSet run(5, 5);
  for (int i = 0; i < 10; ++i) {
    run.AddPower(i, 4000, false);
    run.AddSpeed(i, 80, false);
  }
  settings_.torque_mcr = 0;
  auto graph = std::make_shared<RecordingGraph>();
  TShaftPanel panel(&window_, "Stbd", settings_, run, graph);
  EXPECT_TRUE(graph->runMode);
  EXPECT_EQ(Text(panel.DataPanel->Power->Lbl_Data), "4000 kW");
  EXPECT_EQ(Text(panel.DataPanel->Power->Lbl_DataName), "Power (50.0%)");
  EXPECT_EQ(Text(panel.DataPanel->Speed->Lbl_Data), "80.0 rpm");
  EXPECT_EQ(Text(panel.DataPanel->Torque->Lbl_Data), "NA");
  EXPECT_EQ(Text(panel.DataPanel->Lbl_State), "Mean for this run");
  EXPECT_TRUE(panel.ComPanel->Panel->isHidden());
  EXPECT_TRUE(shaft_.observers.empty());
}

TEST_F(ShaftPanelTest, LayoutOfA1200By400Panel) {
  auto graph = std::make_shared<RecordingGraph>();
  auto panel = LivePanel(graph);
  EXPECT_EQ(panel->DataPanel->Panel->geometry(), QRect(50, 23, 480, 47));
  EXPECT_EQ(panel->DataPanel->Speed->Panel->geometry(), QRect(158, 0, 158, 47));
  EXPECT_EQ(panel->DataPanel->Torque->Panel->geometry(), QRect(316, 0, 158, 47));
  EXPECT_EQ(panel->ComPanel->Panel->geometry(), QRect(1200 - 150 - 1, 1, 150, 69));
  EXPECT_EQ(graph->pos, QPoint(1, 70));
  EXPECT_EQ(graph->size, QSize(1198, 328));
  panel->addStart(1, "Run 1");
  panel->deleteLastStart();
  panel->addStop(2, "Run 1");
  panel.reset();
  EXPECT_EQ(graph->calls,
            (std::vector<std::string>{"start Run 1", "delete", "stop Run 1", "disconnect"}));
  EXPECT_TRUE(shaft_.observers.empty()) << "the sub-panels leave the shaft";
}

TEST_F(ShaftPanelTest, GrabbedLightFollowsCommunicationAndPowerIsBlue) {
  auto panel = LivePanel();
  window_.resize(1200, 400);
  const TDataValue power(0, 5000, false);
  shaft_.Reading(false, &power, nullptr, nullptr);
  auto ledPixel = [&] {
    const QImage picture = panel->Panel->grab().toImage();
    const QRect led =
        panel->ComPanel->LED_Com->geometry().translated(panel->ComPanel->Panel->pos());
    return QColor(picture.pixel(led.center()));
  };
  EXPECT_EQ(ledPixel(), QColor(0, 170, 0));
  for (auto& o : shaft_.observers)
    o->UpdateHasCommunication(false);
  EXPECT_EQ(ledPixel(), QColor(255, 0, 0));
  EXPECT_EQ(Text(panel->DataPanel->Power->Lbl_Data), "NA");

  shaft_.Reading(false, &power, nullptr, nullptr);
  QLabel* value = panel->DataPanel->Power->Lbl_Data;
  const QImage text = value->grab().toImage();
  int blue = 0, other = 0;
  const QColor background = value->palette().color(QPalette::Window);
  for (int y = 0; y < text.height(); ++y)
    for (int x = 0; x < text.width(); ++x) {
      const QColor c(text.pixel(x, y));
      if (c == QColor(0, 0, 255))
        ++blue;
      else if (c != background && (c.red() > c.blue() || c.green() > c.blue()))
        ++other;  // neither blue ink nor its blend with the background
    }
  EXPECT_GT(blue, 20);
  EXPECT_EQ(other, 0);
}

// A real shaft on the simulated meter (a 10 ms tick, driven by the test
// under the fake clock): the panel's light, numbers and graph follow it.
TEST_F(ShaftPanelTest, FedByASimulatedMeterTheLightTurnsRedAtTheFirstTickFiveSecondsOn) {
  platform::FakeClock clock(1000);
  platform::ScopedClock scoped(clock);
  test::LinkTestBench bench;
  bench.store.EnsureComIndexExists(0, kComModeDemo);
  bench.store.GetDemoComInterval(0);
  bench.store.SetDemoComSettings(0, 10, 8000, 100, 0);
  settings_.data_window_size = 5;
  settings_.minimum_data_samples = 5;
  auto shaft = std::make_shared<TShaft>(0, bench.services, settings_);
  auto* meter = dynamic_cast<TDemoCommunication*>(shaft->Communication());
  ASSERT_NE(meter, nullptr);
  TShaftPanel panel(&window_, *shaft, "Port Shaft", settings_);
  panel.setSize(1200, 400);
  panel.setVisible(true);
  window_.resize(1200, 400);
  auto graph = std::dynamic_pointer_cast<TGraphPanel>(panel.GraphPanel);
  ASSERT_NE(graph, nullptr) << "a live shaft panel makes its own graph";
  EXPECT_EQ(graph->Panel->geometry(), QRect(1, 70, 1198, 328));
  EXPECT_EQ(graph->Panel->parentWidget(), panel.Panel.get());
  auto ledPixel = [&] {
    const QImage picture = panel.Panel->grab().toImage();
    const QRect led = panel.ComPanel->LED_Com->geometry().translated(panel.ComPanel->Panel->pos());
    return QColor(picture.pixel(led.center()));
  };
  EXPECT_EQ(ledPixel(), QColor(255, 0, 0));
  for (int i = 0; i < 20; ++i) {
    clock.Advance(10);
    meter->OnDemoTimer();
  }
  EXPECT_EQ(ledPixel(), QColor(0, 170, 0));
  EXPECT_EQ(Text(panel.ComPanel->Lbl_TotalErrorRate), "Error rate: 0.0%");
  EXPECT_NE(Text(panel.DataPanel->Power->Lbl_Data), "NA");
  EXPECT_NE(Text(panel.DataPanel->Power->Lbl_Data), "N/A");
  // The first four readings have no moving average of five.
  EXPECT_EQ(graph->PowerBuffer.Count(), 16u);
  EXPECT_EQ(graph->SpeedBuffer.Count(), 16u);

  // The feed stops; the status ticks see the last reading age.
  clock.Advance(4990);
  shaft->OnCommunicationStatusTimer();
  EXPECT_EQ(ledPixel(), QColor(0, 170, 0));
  clock.Advance(10);
  shaft->OnCommunicationStatusTimer();
  EXPECT_EQ(ledPixel(), QColor(255, 0, 0));
  EXPECT_EQ(Text(panel.DataPanel->Power->Lbl_Data), "NA");
  EXPECT_EQ(Text(panel.DataPanel->Speed->Lbl_Data), "NA");
}

}  // namespace
}  // namespace rvx

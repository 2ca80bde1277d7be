// The simulated meter, on its timer at 10 ms and tick by tick, with the
// random numbers from a seeded source; and how link handlers report an
// observer's exception.
#include "app/acquisition/DemoCommunication.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/Exceptions.h"
#include "platform/core/Random.h"
#include "tests/app/support/LinkTestKit.h"
#include "tests/app/support/QtTestApplication.h"

namespace rvx {
namespace {

using test::RecordingLinkObserver;
using test::WaitUntil;

constexpr double kFactor = 9.549297;

// The uniform number the meter draws, replayed from a source of our own.
double Unit(platform::RandomSource& source) {
  return static_cast<double>(source.Next64() >> 11) / 9007199254740992.0;
}

class DemoCommunicationTest : public ::testing::TestWithParam<test::SeamBackend> {
 protected:
  void SetUp() override { test::EnsureQtApplication(); }

  // Stores the Demo row of shaft 0.
  void Settings(int interval, int power, int speed, double spike) {
    bench_.settings.GetDemoComInterval(0);
    bench_.settings.SetDemoComSettings(0, interval, power, speed, spike);
  }

  test::LinkTestBench bench_{GetParam()};
  platform::SeededRandom random_{4711};
  platform::ScopedRandom scoped_random_{random_};
};

TEST_P(DemoCommunicationTest, DefaultsGiveTheBaseValuesFirstThenTheWave) {
  Settings(10, 8000, 100, 0);
  TDemoCommunication link(bench_.services, 0);
  RecordingLinkObserver observer;
  link.RegisterObserver(&observer);
  EXPECT_FALSE(link.IsTicking()) << "made closed";
  link.Connect();
  EXPECT_TRUE(link.IsTicking());
  ASSERT_TRUE(WaitUntil([&] { return observer.readings.size() >= 5; }));
  link.Disconnect();
  EXPECT_FALSE(link.IsTicking());

  const DataSet::TDataSet& first = observer.readings[0];
  EXPECT_EQ(first.RawData, "N/A - Demo mode");
  EXPECT_FALSE(first.HasCheckSumError);
  ASSERT_TRUE(first.Power && first.Speed && first.Torque);
  EXPECT_EQ(first.Power->Value(), 8000);
  EXPECT_EQ(first.Speed->Value(), 100);
  EXPECT_NEAR(first.Torque->Value(), 763.94376, 1e-9);
  for (std::size_t k = 0; k < observer.readings.size(); ++k) {
    SCOPED_TRACE("reading " + std::to_string(k));
    const DataSet::TDataSet& r = observer.readings[k];
    const double e = std::sin(static_cast<double>(k) * 10 / 20000);
    EXPECT_EQ(r.RawData, "N/A - Demo mode");
    EXPECT_DOUBLE_EQ(r.Power->Value(), 8000 + 100 * e);
    EXPECT_DOUBLE_EQ(r.Speed->Value(), 100 + e / 2);
    EXPECT_DOUBLE_EQ(r.Torque->Value(), kFactor * r.Power->Value() / r.Speed->Value());
    for (const auto* v : {&r.Power, &r.Speed, &r.Torque}) {
      EXPECT_EQ((*v)->Time(), r.Time);
      EXPECT_FALSE((*v)->IsError());
    }
  }
  EXPECT_EQ(link.LoggingCount(), static_cast<std::int64_t>(observer.readings.size()));
}

// At a 10 ms interval the wave moves 0.0005 rad a reading; at the default
// 1000 ms it swings once in about 126 readings. The ticks are driven here.
TEST_P(DemoCommunicationTest, SwingsOncePerAbout126Readings) {
  TDemoCommunication link(bench_.services, 0);
  EXPECT_EQ(link.Interval(), 1000) << "defaults";
  RecordingLinkObserver observer;
  link.RegisterObserver(&observer);
  for (int i = 0; i < 126; ++i)
    link.OnDemoTimer();
  double min_power = 1e9, max_power = -1e9, min_speed = 1e9, max_speed = -1e9;
  for (const auto& r : observer.readings) {
    min_power = std::min(min_power, r.Power->Value());
    max_power = std::max(max_power, r.Power->Value());
    min_speed = std::min(min_speed, r.Speed->Value());
    max_speed = std::max(max_speed, r.Speed->Value());
  }
  EXPECT_NEAR(max_power, 8100, 0.05);
  EXPECT_NEAR(min_power, 7900, 0.05);
  EXPECT_NEAR(max_speed, 100.5, 0.0005);
  EXPECT_NEAR(min_speed, 99.5, 0.0005);
  // Readings 0 and 126 would meet again: one period is 2 pi x 20 readings.
  EXPECT_NEAR(std::sin(126.0 * 1000 / 20000), 0, 0.03);
}

TEST_P(DemoCommunicationTest, BaseSpeedZeroGivesNoTorqueFirst) {
  Settings(10, 8000, 0, 0);
  TDemoCommunication link(bench_.services, 0);
  RecordingLinkObserver observer;
  link.RegisterObserver(&observer);
  link.Connect();
  ASSERT_TRUE(WaitUntil([&] { return observer.readings.size() >= 2; }));
  link.Disconnect();
  EXPECT_FALSE(observer.readings[0].Torque.has_value());
  EXPECT_EQ(observer.readings[0].Speed->Value(), 0);
  ASSERT_TRUE(observer.readings[1].Torque.has_value());
  EXPECT_GT(observer.readings[1].Torque->Value(), 1e6);
}

TEST_P(DemoCommunicationTest, SpikeChanceOneRaisesEveryValueByUpToHalf) {
  Settings(10, 8000, 100, 1.0);
  // The meter's draws from a fresh seed: storing the settings in the log
  // database draws from the installed source too.
  platform::SeededRandom meter_random(4711);
  platform::ScopedRandom scoped_meter_random(meter_random);
  TDemoCommunication link(bench_.services, 0);
  RecordingLinkObserver observer;
  link.RegisterObserver(&observer);
  link.Connect();
  ASSERT_TRUE(WaitUntil([&] { return observer.readings.size() >= 20; }));
  link.Disconnect();

  platform::SeededRandom replay(4711);
  for (std::size_t k = 0; k < observer.readings.size(); ++k) {
    SCOPED_TRACE("reading " + std::to_string(k));
    const DataSet::TDataSet& r = observer.readings[k];
    const double e = std::sin(static_cast<double>(k) * 10 / 20000);
    const double power = 8000 + 100 * e, speed = 100 + e / 2;
    const double torque = kFactor * power / speed;
    double expected[3] = {power, speed, torque};
    for (double& v : expected) {
      EXPECT_LE(Unit(replay), 1.0);
      v += Unit(replay) * v * 0.5;
    }
    EXPECT_DOUBLE_EQ(r.Power->Value(), expected[0]);
    EXPECT_DOUBLE_EQ(r.Speed->Value(), expected[1]);
    EXPECT_DOUBLE_EQ(r.Torque->Value(), expected[2]);
    EXPECT_GE(r.Power->Value(), power);
    EXPECT_LT(r.Power->Value(), power * 1.5);
    EXPECT_GE(r.Torque->Value(), torque);
    EXPECT_LT(r.Torque->Value(), torque * 1.5);
  }
}

TEST_P(DemoCommunicationTest, AnIntervalOfZeroOrLessGivesNoReadings) {
  for (int interval : {0, -5}) {
    SCOPED_TRACE("interval " + std::to_string(interval));
    Settings(interval, 8000, 100, 0);
    TDemoCommunication link(bench_.services, 0);
    RecordingLinkObserver observer;
    link.RegisterObserver(&observer);
    link.Connect();
    EXPECT_FALSE(link.IsTicking());
    // A running 0 ms timer fires at every turn of the loop.
    int turns = 0;
    WaitUntil([&] { return ++turns > 20; });
    EXPECT_TRUE(observer.readings.empty());
  }
}

TEST_P(DemoCommunicationTest, ReadsBasePowerAndSpeedAtEveryTick) {
  TDemoCommunication link(bench_.services, 0);
  RecordingLinkObserver observer;
  link.RegisterObserver(&observer);
  link.OnDemoTimer();
  bench_.settings.SetDemoComSettings(0, 1000, 5000, 50, 0);
  link.OnDemoTimer();
  const double e = std::sin(1000.0 / 20000);
  EXPECT_EQ(observer.readings[0].Power->Value(), 8000);
  EXPECT_DOUBLE_EQ(observer.readings[1].Power->Value(), 5000 + 100 * e);
  EXPECT_DOUBLE_EQ(observer.readings[1].Speed->Value(), 50 + e / 2);
  EXPECT_EQ(link.Interval(), 1000) << "the interval is read at creation only";
}

TEST_P(DemoCommunicationTest, AnObserverThatThrowsOnReading3MissesOnlyThatOne) {
  Settings(10, 8000, 100, 0);
  TDemoCommunication link(bench_.services, 0);
  RecordingLinkObserver thrower, after;
  thrower.on_reading = [&](DataSet::TDataSet&) {
    if (thrower.readings.size() == 3) throw platform::Exception("Disk full");
  };
  link.RegisterObserver(&thrower);
  link.RegisterObserver(&after);
  bench_.box.ExpectErrors(1);
  link.Connect();
  ASSERT_TRUE(WaitUntil([&] { return thrower.readings.size() >= 6; }));
  link.Disconnect();
  EXPECT_EQ(after.readings.size(), thrower.readings.size() - 1) << "the later observer missed one";
  ASSERT_EQ(bench_.errors.Rows().size(), 1u);
  EXPECT_EQ(bench_.errors.Rows()[0].UnitName, "DemoCommunication");
  EXPECT_EQ(bench_.errors.Rows()[0].FunctionName, "OnDemoTimer");
  EXPECT_EQ(bench_.errors.Rows()[0].Message, "Disk full");
  EXPECT_EQ(bench_.box.Log(), std::vector<std::string>{"error:Disk full"});
  bench_.box.ExpectDone();
}

// A box that stays open (running the message loop) until more failures
// have been logged, then closes the meter.
class OpenBox : public MessageBox {
 public:
  std::function<void()> while_open;
  void ShowError(const std::string& text) override {
    shown.push_back(text);
    if (while_open) while_open();
  }
  bool Confirm(const std::string&) override { return false; }
  std::vector<std::string> shown;
};

// A timer does not tick again while its own tick runs, so the failures
// that come while the box is open are the other shaft's.
TEST_P(DemoCommunicationTest, OnlyOneErrorBoxIsOpenAtATime) {
  Settings(10, 8000, 100, 0);
  bench_.settings.GetDemoComInterval(1);
  bench_.settings.SetDemoComSettings(1, 10, 8000, 100, 0);
  OpenBox box;
  test::InMemoryErrorLog log(box);
  LinkServices services{bench_.store, log, box};
  TDemoCommunication port_link(services, 0), starboard_link(services, 1);
  RecordingLinkObserver observer;
  observer.on_reading = [](DataSet::TDataSet&) { throw platform::Exception("Table is locked"); };
  port_link.RegisterObserver(&observer);
  starboard_link.RegisterObserver(&observer);
  box.while_open = [&] {
    EXPECT_TRUE(WaitUntil([&] { return log.Rows().size() >= 4; }));
    port_link.Disconnect();
    starboard_link.Disconnect();
  };
  port_link.Connect();
  starboard_link.Connect();
  ASSERT_TRUE(WaitUntil([&] { return !box.shown.empty() && !port_link.IsTicking(); }));
  EXPECT_EQ(box.shown, std::vector<std::string>{"Table is locked"});
  EXPECT_GE(log.Rows().size(), 4u) << "failures while the box was open are logged";
  // Once the box is closed, the next failure shows one again.
  port_link.OnDemoTimer();
  EXPECT_EQ(box.shown.size(), 2u);
}

// An error log whose store fails.
class FailingErrorLog : public ErrorLog {
 public:
  using ErrorLog::ErrorLog;

 protected:
  std::size_t RowCount() override { return 0; }
  void DeleteOldestRow() override {}
  void AppendRow(platform::TDateTime, const std::string&, const std::string&,
                 const std::string&) override {
    throw platform::Exception("Log table damaged");
  }
};

TEST_P(DemoCommunicationTest, AFailingLogStillShowsTheBox) {
  FailingErrorLog log(bench_.box);
  LinkServices services{bench_.store, log, bench_.box};
  TDemoCommunication link(services, 0);
  RecordingLinkObserver observer;
  observer.on_reading = [](DataSet::TDataSet&) { throw platform::Exception("Table is locked"); };
  link.RegisterObserver(&observer);
  bench_.box.ExpectErrors(1);
  EXPECT_NO_THROW(link.OnDemoTimer());
  EXPECT_EQ(bench_.box.Log(), std::vector<std::string>{"error:Table is locked"});
  bench_.box.ExpectDone();
}

TEST_P(DemoCommunicationTest, AnObserverMayFreeTheLinkDuringATick) {
  Settings(10, 8000, 100, 0);
  auto link = std::make_unique<TDemoCommunication>(bench_.services, 0);
  RecordingLinkObserver observer;
  observer.on_reading = [&](DataSet::TDataSet&) { link.reset(); };
  link->RegisterObserver(&observer);
  link->Connect();
  ASSERT_TRUE(WaitUntil([&] { return link == nullptr; }));
  int turns = 0;
  WaitUntil([&] { return ++turns > 10; });
  EXPECT_EQ(observer.readings.size(), 1u);
  EXPECT_TRUE(bench_.errors.Rows().empty());
}

// The same scenarios with the settings and the error log in memory and in
// the log database on a real file.
INSTANTIATE_TEST_SUITE_P(Seams, DemoCommunicationTest,
                         ::testing::Values(test::SeamBackend::kInMemory,
                                           test::SeamBackend::kLogDatabase),
                         test::SeamBackendName);

}  // namespace
}  // namespace rvx

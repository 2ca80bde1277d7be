// Shafts and the observer chain: flags, error rows, call order, the
// communication light on a fake clock, link choice, and the whole road from a
// pty to the error log.
#include "app/acquisition/Shaft.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/acquisition/AutoCommunication.h"
#include "app/acquisition/DemoCommunication.h"
#include "app/acquisition/ErrorManager.h"
#include "platform/core/Clock.h"
#include "platform/core/Exceptions.h"
#include "tests/app/support/InMemoryDisplaySettings.h"
#include "tests/app/support/LinkTestKit.h"
#include "tests/app/support/QtTestApplication.h"
#include "tests/app/support/RecordingShaftObserver.h"

namespace rvx {
namespace {

using test::MeterSentence;
using test::RecordingShaftObserver;
using test::WaitUntil;
using Value = RecordingShaftObserver::Value;

struct Plain {
  std::optional<double> torque, speed, power;
  bool checksum_error = false;
  std::string raw = "$raw";
};

DataSet::TDataSet Reading(const Plain& p) {
  DataSet::TDataSet r;
  r.RawData = p.raw;
  r.HasCheckSumError = p.checksum_error;
  if (p.torque) r.Torque = TDataValue(r.Time, *p.torque, false);
  if (p.speed) r.Speed = TDataValue(r.Time, *p.speed, false);
  if (p.power) r.Power = TDataValue(r.Time, *p.power, false);
  return r;
}

std::optional<Value> V(double value, bool is_error) {
  return Value{value, is_error};
}

void ExpectTriple(const RecordingShaftObserver::Triple& t, std::optional<Value> power,
                  std::optional<Value> torque, std::optional<Value> speed) {
  auto same = [](const std::optional<Value>& a, const std::optional<Value>& b) {
    return a.has_value() == b.has_value() &&
           (!a || (a->value == b->value && a->is_error == b->is_error));
  };
  EXPECT_TRUE(same(t.power, power)) << "power";
  EXPECT_TRUE(same(t.torque, torque)) << "torque";
  EXPECT_TRUE(same(t.speed, speed)) << "speed";
}

class ShaftTest : public ::testing::TestWithParam<test::SeamBackend> {
 protected:
  void SetUp() override {
    test::EnsureQtApplication();
    settings_.data_window_size = 1;
    settings_.minimum_data_samples = 1;
  }

  // A shaft on a simulated meter that never ticks: readings come from the
  // test.
  std::shared_ptr<TShaft> QuietShaft(int index = 0) {
    bench_.settings.EnsureComIndexExists(index, kComModeDemo);
    bench_.settings.GetDemoComInterval(index);
    bench_.settings.SetDemoComSettings(index, 0, 8000, 100, 0);
    return std::make_shared<TShaft>(index, bench_.services, settings_);
  }

  std::shared_ptr<RecordingShaftObserver> Observe(TShaft& shaft, std::string name = "",
                                                  std::vector<std::string>* log = nullptr) {
    auto observer = std::make_shared<RecordingShaftObserver>(std::move(name), log);
    shaft.RegisterObserver(observer);
    return observer;
  }

  test::LinkTestBench bench_{GetParam()};
  test::InMemoryDisplaySettings settings_;
};

TEST_P(ShaftTest, TorqueZeroFlagsEveryValueAndLogsOneTorqueRow) {
  auto shaft = QuietShaft();
  std::vector<std::shared_ptr<IShaft>> shafts{shaft};
  auto manager = TErrorManager::Create(settings_, shafts, bench_.errors);
  auto observer = Observe(*shaft);
  auto r = Reading({0.0, 85.2, 900, false, "$SPS1,torque zero"});
  shaft->OnDataReceived(r);

  ASSERT_EQ(bench_.errors.Rows().size(), 1u);
  EXPECT_EQ(bench_.errors.Rows()[0].UnitName, "Shaft: ");
  EXPECT_EQ(bench_.errors.Rows()[0].FunctionName, "Torque 0.0 error");
  EXPECT_EQ(bench_.errors.Rows()[0].Message, "$SPS1,torque zero");
  ASSERT_EQ(observer->values.size(), 1u);
  ExpectTriple(observer->values[0], V(900, true), V(0, true), V(85.2, true));
  ExpectTriple(observer->averages[0], std::nullopt, std::nullopt, std::nullopt);
  ASSERT_EQ(observer->torque_errors.size(), 1u);
  EXPECT_EQ(observer->torque_errors[0].raw_data, "$SPS1,torque zero");
  EXPECT_TRUE(observer->checksum_errors.empty());

  // A good reading next makes an average (window 1); the flagged one is not
  // in it.
  auto good = Reading({100.0, 85.0, 890, false});
  shaft->OnDataReceived(good);
  ExpectTriple(observer->averages[1], V(890, false), V(100, false), V(85, false));
  EXPECT_EQ(bench_.errors.Rows().size(), 1u);
  manager->Disconnect();
}

TEST_P(ShaftTest, AbsentTorqueFlagsPowerAndSpeedAndIsATorqueError) {
  auto shaft = QuietShaft();
  auto observer = Observe(*shaft);
  auto r = Reading({std::nullopt, 85.2, 900, false});
  shaft->OnDataReceived(r);
  ASSERT_EQ(observer->torque_errors.size(), 1u);
  ExpectTriple(observer->torque_errors[0].values, V(900, true), std::nullopt, V(85.2, true));
  ExpectTriple(observer->values[0], V(900, true), std::nullopt, V(85.2, true));
  ASSERT_EQ(shaft->TorqueData().Values().Count(), 1u);
  EXPECT_EQ(shaft->TorqueData().Values()[0], nullptr) << "an absent entry";
  EXPECT_TRUE(shaft->PowerData().Values()[0]->IsError());
}

TEST_P(ShaftTest, ObserversAreCalledInTheChainOrder) {
  auto shaft = QuietShaft();
  std::vector<std::string> calls;
  auto a = Observe(*shaft, "A", &calls);
  auto b = Observe(*shaft, "B", &calls);
  // Wrong checksum and torque 0: every notification of a reading.
  auto r = Reading({0.0, 85.2, 900, true});
  shaft->OnDataReceived(r);
  const std::vector<std::string> expected = {
      "A:UpdateHasCommunication", "B:UpdateHasCommunication",      // the state turned on
      "A:UpdateHasCommunication", "B:UpdateHasCommunication",      // always once more
      "A:UpdateCheckSumError",    "B:UpdateCheckSumError",         //
      "A:UpdateTorqueError",      "B:UpdateTorqueError",           //
      "A:UpdateValues",           "A:UpdateRunningAverageValues",  //
      "B:UpdateValues",           "B:UpdateRunningAverageValues",
  };
  EXPECT_EQ(calls, expected);

  // The state does not change with the next reading: one call each.
  calls.clear();
  auto next = Reading({10.0, 85.2, 900, false});
  shaft->OnDataReceived(next);
  EXPECT_EQ(calls, (std::vector<std::string>{"A:UpdateHasCommunication", "B:UpdateHasCommunication",
                                             "A:UpdateValues", "A:UpdateRunningAverageValues",
                                             "B:UpdateValues", "B:UpdateRunningAverageValues"}));
  EXPECT_EQ(a->communication, (std::vector<bool>{true, true, true}));
}

TEST_P(ShaftTest, AnObserverRemovedDuringANotificationIsNotCalledAfterIt) {
  auto shaft = QuietShaft();
  std::vector<std::string> calls;
  auto a = Observe(*shaft, "A", &calls);
  auto b = Observe(*shaft, "B", &calls);
  a->before_call = [&](const std::string&) { shaft->RemoveObserver(b.get()); };
  shaft->NotifyObserversOfCommunication();
  EXPECT_EQ(calls, std::vector<std::string>{"A:UpdateHasCommunication"});
}

TEST_P(ShaftTest, TheLightFollowsTheLastReadingOnTheStatusTicks) {
  platform::FakeClock clock(1000);
  platform::ScopedClock scoped(clock);
  auto shaft = QuietShaft();
  auto observer = Observe(*shaft);
  EXPECT_FALSE(shaft->GetHasCommunication());
  shaft->OnCommunicationStatusTimer();
  EXPECT_TRUE(observer->communication.empty()) << "never had a reading: stays off";

  auto r = Reading({10.0, 85.2, 900, false});
  shaft->OnDataReceived(r);
  EXPECT_TRUE(shaft->GetHasCommunication());
  EXPECT_EQ(observer->communication, (std::vector<bool>{true, true}));

  clock.Advance(4999);
  shaft->OnCommunicationStatusTimer();
  EXPECT_TRUE(shaft->GetHasCommunication());
  EXPECT_EQ(observer->communication.size(), 2u) << "no change, no call";

  clock.Advance(1);
  shaft->OnCommunicationStatusTimer();
  EXPECT_FALSE(shaft->GetHasCommunication());
  EXPECT_EQ(observer->communication, (std::vector<bool>{true, true, false}));

  clock.Advance(5000);
  shaft->OnCommunicationStatusTimer();
  EXPECT_EQ(observer->communication.size(), 3u);
  // The status timer runs by itself too.
  EXPECT_TRUE(bench_.errors.Rows().empty());
}

TEST_P(ShaftTest, APortThatDoesNotOpenGivesOneRowAndNoLight) {
  bench_.SetPortDevice(1, bench_.dirs.File("absent-meter"));
  auto shaft = std::make_shared<TShaft>(0, bench_.services, settings_);
  auto observer = Observe(*shaft);
  EXPECT_EQ(shaft->GetComMode(), "RVS Auto-send") << "the Com row is made with the first mode";
  EXPECT_EQ(bench_.settings.getComMode(0), "RVS Auto-send");
  EXPECT_TRUE(shaft->IsConnected()) << "connected, without communication";
  shaft->OnCommunicationStatusTimer();
  EXPECT_FALSE(shaft->GetHasCommunication());
  EXPECT_TRUE(observer->communication.empty());
  ASSERT_EQ(bench_.errors.Rows().size(), 1u);
  EXPECT_EQ(bench_.errors.Rows()[0].FunctionName, "Connect");
}

TEST_P(ShaftTest, OnlyDemoExactlySelectsTheSimulatedMeter) {
  bench_.SetPortDevice(1, bench_.dirs.File("absent-meter"));
  for (const char* mode : {"demo", "DEMO", "", "RVS Auto-send", "Demo"}) {
    SCOPED_TRACE(std::string("mode '") + mode + "'");
    bench_.settings.EnsureComIndexExists(0, mode);
    bench_.settings.setComMode(0, mode);
    bench_.settings.GetDemoComInterval(0);
    bench_.settings.SetDemoComSettings(0, 0, 8000, 100, 0);
    auto shaft = std::make_shared<TShaft>(0, bench_.services, settings_);
    EXPECT_EQ(shaft->GetComMode(), mode);
    const bool demo = std::string(mode) == "Demo";
    EXPECT_EQ(dynamic_cast<TDemoCommunication*>(shaft->Communication()) != nullptr, demo);
    EXPECT_EQ(dynamic_cast<TAutoCommunication*>(shaft->Communication()) != nullptr, !demo);
  }
}

TEST_P(ShaftTest, ReconnectingPicksUpAChangedMode) {
  bench_.SetPortDevice(1, bench_.dirs.File("absent-meter"));
  auto shaft = std::make_shared<TShaft>(0, bench_.services, settings_);
  ASSERT_NE(dynamic_cast<TAutoCommunication*>(shaft->Communication()), nullptr);
  shaft->Disconnect();
  EXPECT_FALSE(shaft->IsConnected());
  EXPECT_EQ(shaft->Communication(), nullptr);
  bench_.settings.setComMode(0, kComModeDemo);
  shaft->Connect();
  EXPECT_TRUE(shaft->IsConnected());
  EXPECT_EQ(shaft->GetComMode(), "Demo");
  auto* demo = dynamic_cast<TDemoCommunication*>(shaft->Communication());
  ASSERT_NE(demo, nullptr);
  EXPECT_TRUE(demo->IsTicking());
  // Its readings reach the shaft.
  auto observer = Observe(*shaft);
  demo->OnDemoTimer();
  ASSERT_EQ(observer->values.size(), 1u);
  ExpectTriple(observer->values[0], V(8000, false), V(9.549297 * 8000 / 100, false), V(100, false));
}

TEST_P(ShaftTest, StarboardRowsAndId) {
  settings_.number_of_shafts = 2;
  auto port = QuietShaft(0);
  auto starboard = QuietShaft(1);
  EXPECT_EQ(port->GetID(), 1);
  EXPECT_EQ(starboard->GetID(), 2);
  EXPECT_EQ(starboard->GetShaftIndex(), 1);
  std::vector<std::shared_ptr<IShaft>> shafts{port, starboard};
  auto manager = TErrorManager::Create(settings_, shafts, bench_.errors);
  auto bad = Reading({10.0, 85.2, 900, true, "$SPS1,bad"});
  starboard->OnDataReceived(bad);
  auto zero = Reading({0.0, 85.2, 900, false, "$SPS1,zero"});
  port->OnDataReceived(zero);
  ASSERT_EQ(bench_.errors.Rows().size(), 2u);
  EXPECT_EQ(bench_.errors.Rows()[0].UnitName, "Shaft: Starboard Sha");
  EXPECT_EQ(bench_.errors.Rows()[0].FunctionName, "Checksum error");
  EXPECT_EQ(bench_.errors.Rows()[0].Message, "$SPS1,bad");
  EXPECT_EQ(bench_.errors.Rows()[1].UnitName, "Shaft: Port Shaft");
  EXPECT_EQ(bench_.errors.Rows()[1].FunctionName, "Torque 0.0 error");

  manager->Disconnect();
  starboard->OnDataReceived(bad);
  EXPECT_EQ(bench_.errors.Rows().size(), 2u) << "the manager left every shaft";
  EXPECT_EQ(manager.use_count(), 1) << "no shaft holds it any more";
}

TEST_P(ShaftTest, AWrongChecksumWithTorqueZeroGivesTwoRowsThroughAPty) {
  test::SocatPair& pty = bench_.StartMeter(1);
  auto shaft = std::make_shared<TShaft>(0, bench_.services, settings_);
  std::vector<std::shared_ptr<IShaft>> shafts{shaft};
  auto manager = TErrorManager::Create(settings_, shafts, bench_.errors);
  auto observer = Observe(*shaft);
  auto* link = dynamic_cast<TAutoCommunication*>(shaft->Communication());
  ASSERT_TRUE(link && link->IsOpen());
  const std::string sentence = "$SPS1,1,0,0,85.2,900,0,0*00\r\n";
  const std::string good = MeterSentence("SPS1,1,100.5,0,85.2,900,0,0");
  pty.Write(sentence + good);
  ASSERT_TRUE(WaitUntil([&] { return observer->values.size() == 2; }));
  ASSERT_EQ(bench_.errors.Rows().size(), 2u);
  EXPECT_EQ(bench_.errors.Rows()[0].UnitName, "Shaft: ");
  EXPECT_EQ(bench_.errors.Rows()[0].FunctionName, "Checksum error");
  EXPECT_EQ(bench_.errors.Rows()[0].Message, sentence.substr(0, 60));
  EXPECT_EQ(bench_.errors.Rows()[1].FunctionName, "Torque 0.0 error");
  EXPECT_EQ(bench_.errors.Rows()[1].Message, sentence.substr(0, 60));
  ExpectTriple(observer->values[0], V(900, true), V(0, true), V(85.2, true));
  ExpectTriple(observer->values[1], V(900, false), V(100.5, false), V(85.2, false));
  EXPECT_TRUE(shaft->GetHasCommunication());
  manager->Disconnect();
}

TEST_P(ShaftTest, AnObserverThatThrowsOnReading3MissesOnlyThatOneThroughAPty) {
  test::SocatPair& pty = bench_.StartMeter(1);
  auto shaft = std::make_shared<TShaft>(0, bench_.services, settings_);
  auto thrower = Observe(*shaft);
  auto after = Observe(*shaft);
  int values_calls = 0;
  thrower->before_call = [&](const std::string& call) {
    if (call == "UpdateValues" && ++values_calls == 3) throw platform::Exception("Table is locked");
  };
  bench_.box.ExpectErrors(1);
  std::string bytes;
  for (int i = 1; i <= 6; ++i)
    bytes += MeterSentence("SPS1," + std::to_string(i) + "," + std::to_string(100 + i) +
                           ",0,85,900,0,0");
  pty.Write(bytes);
  ASSERT_TRUE(WaitUntil([&] { return after->values.size() == 5; }));
  std::vector<double> torques;
  for (const auto& t : after->values)
    torques.push_back(t.torque->value);
  EXPECT_EQ(torques, (std::vector<double>{101, 102, 104, 105, 106}));
  EXPECT_EQ(thrower->values.size(), 5u);
  EXPECT_EQ(shaft->TorqueData().Values().Count(), 6u) << "the shaft kept reading 3";
  ASSERT_EQ(bench_.errors.Rows().size(), 1u);
  EXPECT_EQ(bench_.errors.Rows()[0].UnitName, "AutoCommunication");
  EXPECT_EQ(bench_.errors.Rows()[0].FunctionName, "OnStringPacket");
  EXPECT_EQ(bench_.errors.Rows()[0].Message, "Table is locked");
  EXPECT_EQ(bench_.box.Log(), std::vector<std::string>{"error:Table is locked"});
  bench_.box.ExpectDone();
  auto* link = dynamic_cast<TAutoCommunication*>(shaft->Communication());
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->PackagesInQueue(), 0);
}

TEST_P(ShaftTest, AStatusTickThatFailsIsReportedNotRaised) {
  platform::FakeClock clock(1000);
  platform::ScopedClock scoped(clock);
  auto shaft = QuietShaft();
  auto observer = Observe(*shaft);
  auto r = Reading({10.0, 85.2, 900, false});
  shaft->OnDataReceived(r);
  observer->before_call = [](const std::string&) { throw platform::Exception("Panel gone"); };
  clock.Advance(6000);
  bench_.box.ExpectErrors(1);
  EXPECT_NO_THROW(shaft->OnCommunicationStatusTimer());
  EXPECT_FALSE(shaft->GetHasCommunication());
  ASSERT_EQ(bench_.errors.Rows().size(), 1u);
  EXPECT_EQ(bench_.errors.Rows()[0].UnitName, "Shaft");
  EXPECT_EQ(bench_.errors.Rows()[0].FunctionName, "CommunicationStatus");
  EXPECT_EQ(bench_.errors.Rows()[0].Message, "Panel gone");
  bench_.box.ExpectDone();
}

TEST_P(ShaftTest, AShaftReleasedDuringItsOwnReadingGoesSafely) {
  test::SocatPair& pty = bench_.StartMeter(1);
  auto shaft = std::make_shared<TShaft>(0, bench_.services, settings_);
  auto observer = std::make_shared<RecordingShaftObserver>();
  std::weak_ptr<TShaft> watch = shaft;
  // The observer drops the only other reference while the reading is in
  // hand: the shaft, its link and its port go when the reading is done.
  observer->before_call = [&](const std::string& call) {
    if (call == "UpdateValues") shaft.reset();
  };
  shaft->RegisterObserver(observer);
  pty.Write(MeterSentence("SPS1,1,100.5,0,85.2,900,0,0"));
  ASSERT_TRUE(WaitUntil([&] { return watch.expired(); }));
  EXPECT_EQ(observer->values.size(), 1u);
  EXPECT_EQ(observer->averages.size(), 1u) << "the notification finished";
  int turns = 0;
  WaitUntil([&] { return ++turns > 10; });
  EXPECT_TRUE(bench_.errors.Rows().empty());
}

// The same scenarios with the settings and the error log in memory and in
// the log database on a real file.
INSTANTIATE_TEST_SUITE_P(Seams, ShaftTest,
                         ::testing::Values(test::SeamBackend::kInMemory,
                                           test::SeamBackend::kLogDatabase),
                         test::SeamBackendName);

}  // namespace
}  // namespace rvx

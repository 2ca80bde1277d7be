// The configuration manager over the real log database.
#include <gtest/gtest.h>

#include <QLocale>

#include <string>

#include "app/storage/ConfigurationManager.h"
#include "platform/core/FormatSettings.h"
#include "tests/app/storage/LogDatabaseTestSupport.h"

namespace rvx::test {
namespace {

class ConfigurationManagerTest : public LogDatabaseTest {
 protected:
  int AddTrialOf(const std::string& units, int power = 7355, int speed = 120, int torque = 1000) {
    TVessel v;
    v.name = "Vessel " + units;
    v.MCRPower = power;
    v.MCRSpeed = speed;
    v.MCRTorque = torque;
    v.Shafts = 2;
    v.Units = units;
    log_->addVessel(v);
    auto vessels = log_->getVessels();
    const int vessel = vessels->Item(vessels->Count() - 1).ID;
    log_->addTrial(TTrial{0, "Trial " + units, vessel});
    return log_->getTrialsByVesselId(vessel).back()->ID;
  }

  std::unique_ptr<TDM_System> log_ = OpenLog();
};

struct UnitCase {
  const char* units;
  bool metric;
};

class UnitsTest : public ConfigurationManagerTest,
                  public ::testing::WithParamInterface<UnitCase> {};

TEST_P(UnitsTest, UnitsTextSelectsUnitsAndFactors) {
  const UnitCase c = GetParam();
  TConfigurationManager manager(*log_);
  manager.Initialize(AddTrialOf(c.units));
  EXPECT_EQ(manager.Units(), c.units);
  EXPECT_EQ(manager.PowerUnit(), c.metric ? "SHp" : "kW");
  EXPECT_EQ(manager.TorqueUnit(), c.metric ? "Tm" : "kNm");
  EXPECT_EQ(manager.SpeedUnit(), "rpm");
  EXPECT_EQ(manager.PowerFactor(), c.metric ? 1.3596 : 1.0);
  EXPECT_EQ(manager.TorqueFactor(), c.metric ? 0.10197 : 1.0);
  EXPECT_EQ(manager.SpeedFactor(), 1.0);
  EXPECT_EQ(manager.PowerMCR(), c.metric ? 10000 : 7355);
  EXPECT_EQ(manager.TorqueMCR(), c.metric ? 102 : 1000);
  EXPECT_EQ(manager.SpeedMCR(), 120);
  EXPECT_EQ(manager.NumberOfShafts(), 2);
  EXPECT_EQ(manager.VesselName(), std::string("Vessel ") + c.units);
  EXPECT_EQ(manager.TrialName(), std::string("Trial ") + c.units);
}

INSTANTIATE_TEST_SUITE_P(Units, UnitsTest,
                         ::testing::Values(UnitCase{"metric", true}, UnitCase{"Metric", true},
                                           UnitCase{"METRIC", true}, UnitCase{"SI", false},
                                           UnitCase{"", false}, UnitCase{"Metric ", false}),
                         [](const auto& info) {
                           std::string name = info.param.units;
                           for (char& ch : name)
                             if (ch == ' ') ch = '_';
                           return name.empty() ? std::string("Empty") : name;
                         });

TEST_F(ConfigurationManagerTest, MCRValuesRoundHalvesToEven) {
  EXPECT_EQ(TConfigurationManager::RoundHalfEven(2.5), 2);
  EXPECT_EQ(TConfigurationManager::RoundHalfEven(3.5), 4);
  EXPECT_EQ(TConfigurationManager::RoundHalfEven(-2.5), -2);
  EXPECT_EQ(TConfigurationManager::RoundHalfEven(9999.858), 10000);
  EXPECT_EQ(TConfigurationManager::RoundHalfEven(101.97), 102);
  EXPECT_EQ(TConfigurationManager::RoundHalfEven(0.49999), 0);
}

TEST_F(ConfigurationManagerTest, MovingAverageSettingsAreStoredAtOnce) {
  {
    TConfigurationManager manager(*log_);
    EXPECT_EQ(manager.DataWindowSize(), 5);
    EXPECT_EQ(manager.MinimumDataSamplesInWindow(), 5);
    manager.SetMinimumDataSamplesInWindow(3);
    manager.SetDataWindowSize(8);
  }
  log_.reset();
  log_ = OpenLog();
  TConfigurationManager again(*log_);
  EXPECT_EQ(again.DataWindowSize(), 8);
  EXPECT_EQ(again.MinimumDataSamplesInWindow(), 3);
  EXPECT_EQ(again.ComModes(), (std::vector<std::string>{"RVS Auto-send", "Demo"}));
}

TEST_F(ConfigurationManagerTest, FormatStaysEnGbWhateverTheLocale) {
  platform::TFormatSettings german = platform::TFormatSettings::EnGB();
  german.DecimalSeparator = ',';
  platform::SetFormatSettings(german);
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  TConfigurationManager manager(*log_);
  EXPECT_EQ(platform::FormatSettings().DecimalSeparator, '.');
  EXPECT_EQ(QLocale().decimalPoint(), ".");
  EXPECT_EQ(QLocale().toString(1.5), "1.5");
  QLocale::setDefault(QLocale::c());
}

TEST_F(ConfigurationManagerTest, UnknownTrialIsRefused) {
  TConfigurationManager manager(*log_);
  EXPECT_THROW(manager.Initialize(42), platform::Exception);
}

}  // namespace
}  // namespace rvx::test

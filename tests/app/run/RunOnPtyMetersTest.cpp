// A run recorded from two real shafts whose serial links read socat ptys,
// into a real log file; only one meter is fed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/acquisition/AutoCommunication.h"
#include "app/acquisition/Shaft.h"
#include "app/run/NewRunForm.h"
#include "app/run/RunManager.h"
#include "app/storage/ConfigurationManager.h"
#include "tests/app/support/LinkTestKit.h"
#include "tests/app/support/QtTestApplication.h"
#include "tests/app/support/RecordingShaftObserver.h"

namespace rvx {
namespace {

struct Sample {
  double power, torque, speed;
};

std::string SentenceOf(const Sample& s) {
  char body[96];
  std::snprintf(body, sizeof body, "SPS1,1,%.1f,0,%.1f,%.0f,0,0", s.torque, s.speed, s.power);
  return test::MeterSentence(body);
}

class RunOnPtyMetersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureQtApplication();
    log_ = bench_.Database();
    config_ = std::make_unique<TConfigurationManager>(*log_);
    // Every reading counts in the moving averages at once.
    config_->SetMinimumDataSamplesInWindow(1);
    config_->SetDataWindowSize(1);
    TVessel v;
    v.name = "Vessel";
    v.Shafts = 2;
    v.Units = "SI";
    log_->addVessel(v);
    const int vessel = log_->getVessels()->Item(0).ID;
    log_->addTrial(TTrial{0, "Trial A", vessel});
    config_->Initialize(log_->getTrialsByVesselId(vessel).back()->ID);
    port_pty_ = &bench_.StartMeter(1);
    starboard_pty_ = &bench_.StartMeter(2);
    port_ = std::make_shared<TShaft>(0, bench_.services, *config_);
    starboard_ = std::make_shared<TShaft>(1, bench_.services, *config_);
    shafts_ = {port_, starboard_};
    seen_ = std::make_shared<test::RecordingShaftObserver>();
    port_->RegisterObserver(seen_);
    manager_ = std::make_unique<TRunManager>(nullptr, *config_, shafts_, *log_, bench_.box);
  }
  void TearDown() override {
    manager_.reset();
    port_->RemoveObserver(seen_.get());
  }

  // Starts a run named name, answering the new-run dialog when it shows.
  TRun* Start(const std::string& name) {
    QTimer poll;
    bool answered = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<TFrm_NewRun*>(QApplication::activeModalWidget());
      if (!dialog || answered) return;
      answered = true;
      dialog->Edit_Name->setText(QString::fromStdString(name));
      dialog->Btn_OK->click();
    });
    poll.start(1);
    return manager_->StartNewRun();
  }

  test::LinkTestBench bench_{test::SeamBackend::kLogDatabase};
  TDM_System* log_ = nullptr;
  std::unique_ptr<TConfigurationManager> config_;
  test::SocatPair* port_pty_ = nullptr;
  test::SocatPair* starboard_pty_ = nullptr;
  std::shared_ptr<TShaft> port_, starboard_;
  std::vector<std::shared_ptr<IShaft>> shafts_;
  std::shared_ptr<test::RecordingShaftObserver> seen_;
  std::unique_ptr<TRunManager> manager_;
};

TEST_F(RunOnPtyMetersTest, TwoShaftsOneFedRecordsTheFedShaftSentenceBySentence) {
  ASSERT_TRUE(dynamic_cast<TAutoCommunication*>(port_->Communication())->IsOpen());
  ASSERT_TRUE(dynamic_cast<TAutoCommunication*>(starboard_->Communication())->IsOpen());
  // Nothing can start before a meter speaks.
  EXPECT_FALSE(manager_->IsReadyToStartRun());
  port_pty_->Write(SentenceOf({1000, 100, 95}));
  ASSERT_TRUE(test::WaitUntil([&] { return seen_->values.size() == 1; }));
  ASSERT_TRUE(manager_->IsReadyToStartRun());
  EXPECT_FALSE(starboard_->GetHasCommunication());

  TRun* run = Start("Pty run");
  ASSERT_NE(run, nullptr);
  const std::vector<Sample> written = {
      {8000, 764.5, 100}, {8100, 770.1, 101}, {7900, 760.2, 99}, {8050, 768.9, 100.5}};
  std::string bytes;
  for (const Sample& s : written)
    bytes += SentenceOf(s);
  port_pty_->Write(bytes);
  ASSERT_TRUE(test::WaitUntil([&] { return seen_->values.size() == 1 + written.size(); }));
  manager_->StopRun();
  EXPECT_FALSE(manager_->IsRunInProgress());

  // Two Measurements rows, one per shaft, whether fed or not.
  auto stored = log_->GetMeassurements(run->ID);
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0]->ShaftId, 1);
  EXPECT_EQ(stored[1]->ShaftId, 2);
  // The replay managers read back a Data row per sentence written during the
  // run, in order; the reading from before the start is not in it.
  const TMeassurementManagerList& managers = *manager_->MeassurementManagers();
  ASSERT_EQ(managers.size(), 2u);
  TShaftDataSet& fed = managers[0]->GetShaftDataSet();
  const auto power = fed.PowerData().Values();
  const auto torque = fed.TorqueData().Values();
  const auto speed = fed.SpeedData().Values();
  ASSERT_EQ(power.Count(), written.size());
  ASSERT_EQ(torque.Count(), written.size());
  ASSERT_EQ(speed.Count(), written.size());
  for (std::size_t i = 0; i < written.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_NE(power[i], nullptr);
    EXPECT_DOUBLE_EQ(power[i]->Value(), written[i].power);
    EXPECT_NEAR(torque[i]->Value(), written[i].torque, 1e-9);
    EXPECT_NEAR(speed[i]->Value(), written[i].speed, 1e-9);
    EXPECT_FALSE(power[i]->IsError());
    EXPECT_GE(power[i]->Time(), run->StartTime);
    EXPECT_LE(power[i]->Time(), run->StopTime);
  }
  EXPECT_FALSE(managers[1]->GetShaftDataSet().PowerData().HasData()) << "the silent shaft";
  EXPECT_EQ(port_->PowerData().Values().Count(), 1 + written.size()) << "the shaft saw them all";
}

}  // namespace
}  // namespace rvx

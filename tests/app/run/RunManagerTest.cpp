// The run manager on a real log file with hand-fed shafts and the fake
// clock; the new-run dialog is answered by polling the active modal widget.
#include "app/run/RunManager.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "app/run/NewRunForm.h"
#include "app/storage/ConfigurationManager.h"
#include "app/ui/SettingsForms.h"
#include "tests/app/run/RunTestSupport.h"
#include "tests/app/support/QtTestApplication.h"

namespace rvx::test {
namespace {

constexpr double kMinute = 1.0 / 1440;

// Runs answer on the first new-run dialog that shows, then clicks Start
// unless answer returned false (then Cancel).
class DialogAnswerer {
 public:
  explicit DialogAnswerer(std::function<bool(TFrm_NewRun&)> answer) : answer_(std::move(answer)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* dialog = qobject_cast<TFrm_NewRun*>(QApplication::activeModalWidget());
      if (!dialog || done_) return;
      ++shown_;
      done_ = true;
      if (answer_(*dialog))
        dialog->Btn_OK->click();
      else
        dialog->Btn_Cancel->click();
    });
    timer_.start(0);
  }
  int Shown() const { return shown_; }

 private:
  std::function<bool(TFrm_NewRun&)> answer_;
  QTimer timer_;
  int shown_ = 0;
  bool done_ = false;
};

class RunManagerTest : public LogDatabaseTest {
 protected:
  void SetUp() override {
    EnsureQtApplication();
    log_ = OpenLog();
    config_ = std::make_unique<TConfigurationManager>(*log_);
    TVessel v;
    v.name = "Vessel";
    v.Shafts = 2;
    v.Units = "SI";
    log_->addVessel(v);
    const int vessel = log_->getVessels()->Item(0).ID;
    log_->addTrial(TTrial{0, "Trial A", vessel});
    config_->Initialize(log_->getTrialsByVesselId(vessel).back()->ID);
    port_ = std::make_shared<HandFedShaft>(0);
    starboard_ = std::make_shared<HandFedShaft>(1);
    shafts_ = {port_, starboard_};
    manager_ = std::make_unique<TRunManager>(nullptr, *config_, shafts_, *log_, box_);
  }
  void TearDown() override { manager_.reset(); }

  TRun* Start(const std::string& name, int hours = -1, int minutes = 0) {
    DialogAnswerer answer([&](TFrm_NewRun& d) {
      d.Edit_Name->setText(QString::fromStdString(name));
      if (hours >= 0) {
        d.CB_AutoStop->click();
        d.DateTimePicker_AutoStopHours->setValue(hours);
        d.DateTimePicker_AutoStopMinutes->setValue(minutes);
      }
      return true;
    });
    return manager_->StartNewRun();
  }

  void Feed(HandFedShaft& shaft, double value) {
    const TDataValue p(platform::Now(), value, false);
    shaft.Feed(&p, nullptr, nullptr);
  }

  TRun StoredRun(int id) {
    for (auto& r : log_->GetTrialRuns(config_->TrialId()))
      if (r->ID == id) return *r;
    ADD_FAILURE() << "run " << id << " not stored";
    return {};
  }

  std::vector<double> StoredPower(const TMeassurement& m, const TRun& run) {
    std::vector<double> out;
    auto set = log_->GetDataSet(run, m, 0, {}, 5, 5);
    for (const TDataValue* v : set->PowerData().Values())
      if (v) out.push_back(v->Value());
    return out;
  }

  std::unique_ptr<TDM_System> log_;
  std::unique_ptr<TConfigurationManager> config_;
  std::shared_ptr<HandFedShaft> port_, starboard_;
  std::vector<std::shared_ptr<IShaft>> shafts_;
  std::unique_ptr<TRunManager> manager_;
};

TEST_F(RunManagerTest, StartRecordsEveryShaftAndStoresTheStartAtOnce) {
  starboard_->SetHasCommunication(false);
  TRun* run = Start("Trial run 1");
  ASSERT_NE(run, nullptr);
  EXPECT_TRUE(manager_->IsRunInProgress());
  EXPECT_EQ(manager_->SelectedRun(), run);
  EXPECT_EQ(run->name, "Trial run 1");
  Feed(*port_, 1);
  Feed(*port_, 2);
  Feed(*starboard_, 99);  // silent shaft: its link delivers nothing, but a feed still records
  auto stored = log_->GetMeassurements(run->ID);
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0]->ShaftId, 1);
  EXPECT_EQ(stored[1]->ShaftId, 2);
  // The start is in the file before the stop; the stop is still null.
  const TRun inFile = StoredRun(run->ID);
  EXPECT_DOUBLE_EQ(inFile.StartTime, 42700.5);
  EXPECT_EQ(inFile.StopTime, 0);
  EXPECT_EQ(StoredPower(*stored[0], *run), (std::vector<double>{1, 2}));
}

TEST_F(RunManagerTest, NoShaftWithCommunicationRefusesWithoutDialog) {
  port_->SetHasCommunication(false);
  starboard_->SetHasCommunication(false);
  box_.ExpectErrors(1);
  DialogAnswerer answer([](TFrm_NewRun&) { return true; });
  EXPECT_EQ(manager_->StartNewRun(), nullptr);
  QApplication::processEvents();
  EXPECT_EQ(answer.Shown(), 0);
  EXPECT_EQ(box_.Log(),
            (std::vector<std::string>{
                "error:Not ready to start a run, RVX must be connected and activated."}));
  EXPECT_TRUE(log_->GetTrialRuns(config_->TrialId()).empty());
  EXPECT_FALSE(manager_->IsRunInProgress());
}

TEST_F(RunManagerTest, ExistingNameShowsErrorAndDialogStaysOpen) {
  ASSERT_NE(Start("Same"), nullptr);
  manager_->StopRun();
  box_.ExpectErrors(1);
  bool stayed_open = false;
  DialogAnswerer answer([&](TFrm_NewRun& d) {
    d.Edit_Name->setText("Same");
    d.Btn_OK->click();
    stayed_open = d.isVisible() && QApplication::activeModalWidget() == &d;
    return false;
  });
  EXPECT_EQ(manager_->StartNewRun(), nullptr);
  EXPECT_TRUE(stayed_open);
  EXPECT_EQ(
      box_.Log(),
      (std::vector<std::string>{"error:A run named 'Same' allready exist for trial 'Trial A'"}));
  EXPECT_EQ(log_->GetTrialRuns(config_->TrialId()).size(), 1u);
}

TEST_F(RunManagerTest, DurationsPlanTheStopAndTheCaption) {
  struct Case {
    int hours, minutes;
    bool autoStop;
    double stopAfter;
    const char* caption;
    const char* captionAfter10Min;
  };
  const Case cases[] = {
      {-1, 0, false, 25.0 / 24, "Time elapsed: 00:00:00", "Time elapsed: 00:10:00"},
      {0, 0, false, 25.0 / 24, "Time elapsed: 00:00:00", "Time elapsed: 00:10:00"},
      {1, 30, true, 0.0625, "Time left: 01:30:00", "Time left: 01:20:00"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.hours) + " h " + std::to_string(c.minutes) + " min");
    TRun* run = Start("D" + std::to_string(n++), c.hours, c.minutes);
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run->IsAutoStop, c.autoStop);
    EXPECT_NEAR(run->StopAfter, c.stopAfter, 1e-12);
    EXPECT_NEAR(run->StopTime - run->StartTime, c.stopAfter, 1e-9);
    EXPECT_EQ(manager_->RunTimeCaption(), c.caption);
    clock_.Advance(10 * 60 * 1000);
    EXPECT_EQ(manager_->RunTimeCaption(), c.captionAfter10Min);
    // The plan ends: the time left runs out exactly at the planned stop.
    clock_.SetNow(run->StartTime + c.stopAfter - kMinute);
    EXPECT_GT(manager_->RunTimeLeft(), 0);
    clock_.SetNow(run->StartTime + c.stopAfter);
    EXPECT_LE(manager_->RunTimeLeft(), 0);
    manager_->StopRun();
  }
}

TEST_F(RunManagerTest, RestartDropsSamplesAndStoresTheNewStart) {
  TRun* run = Start("R");
  Feed(*port_, 1);
  std::vector<int> ids;
  for (auto& m : *manager_->MeassurementManagers())
    ids.push_back(m->GetMeassurement().ID);
  clock_.Advance(10 * 60 * 1000);
  const double restart = platform::Now();
  manager_->RestartRun();
  EXPECT_TRUE(manager_->IsRunInProgress());
  auto stored = log_->GetMeassurements(run->ID);
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(StoredPower(*stored[0], *run), std::vector<double>{});
  EXPECT_DOUBLE_EQ(StoredRun(run->ID).StartTime, restart);
  EXPECT_EQ(StoredRun(run->ID).StopTime, 0);
  std::vector<int> after;
  for (auto& m : *manager_->MeassurementManagers())
    after.push_back(m->GetMeassurement().ID);
  EXPECT_EQ(after, ids);
  Feed(*port_, 7);
  EXPECT_EQ(StoredPower(*stored[0], *run), std::vector<double>{7});
}

TEST_F(RunManagerTest, StopStoresBothTimesAndReplaysInRecordingOrder) {
  TRun* run = Start("S");
  for (int i = 0; i < 5; ++i) {
    clock_.Advance(1000);
    Feed(*port_, 10 + i);
  }
  clock_.Advance(60 * 1000);
  const double stop = platform::Now();
  EXPECT_TRUE(log_->HasPendingData()) << "the last reading waits in an open group";
  manager_->StopRun();
  EXPECT_FALSE(log_->HasPendingData()) << "the stop commits every reading";
  EXPECT_FALSE(manager_->IsRunInProgress());
  const TRun inFile = StoredRun(run->ID);
  EXPECT_DOUBLE_EQ(inFile.StartTime, 42700.5);
  EXPECT_DOUBLE_EQ(inFile.StopTime, stop);
  ASSERT_EQ(manager_->MeassurementManagers()->size(), 2u);
  std::vector<double> replayed;
  for (const TDataValue* v :
       manager_->MeassurementManagers()->at(0)->GetShaftDataSet().PowerData().Values())
    if (v) replayed.push_back(v->Value());
  EXPECT_EQ(replayed, (std::vector<double>{10, 11, 12, 13, 14}));
  EXPECT_FALSE(manager_->MeassurementManagers()->at(1)->GetShaftDataSet().PowerData().HasData());
}

// The automatic stop may come while the restart confirmation is open.
TEST_F(RunManagerTest, RestartAfterTheStopChangesNothing) {
  TRun* run = Start("M");
  Feed(*port_, 3);
  manager_->StopRun();
  const TRun before = StoredRun(run->ID);
  clock_.Advance(60 * 1000);
  manager_->RestartRun();
  EXPECT_FALSE(manager_->IsRunInProgress());
  const TRun after = StoredRun(run->ID);
  EXPECT_DOUBLE_EQ(after.StartTime, before.StartTime);
  EXPECT_DOUBLE_EQ(after.StopTime, before.StopTime);
  auto stored = log_->GetMeassurements(run->ID);
  EXPECT_EQ(StoredPower(*stored[0], after), std::vector<double>{3});
  Feed(*port_, 4);
  EXPECT_EQ(StoredPower(*stored[0], after), std::vector<double>{3});
}

TEST_F(RunManagerTest, SelectAndDelete) {
  TRun* first = Start("A");
  manager_->StopRun();
  const int firstId = first->ID;
  TRun* second = Start("B");
  manager_->StopRun();
  const int secondId = second->ID;
  manager_->SelectRun(firstId);
  ASSERT_NE(manager_->SelectedRun(), nullptr);
  EXPECT_EQ(manager_->SelectedRun()->ID, firstId);
  const TMeassurementManagerList* loaded = manager_->MeassurementManagers();
  const IMeassurementManager* firstManager = loaded->at(0).get();
  manager_->SelectRun(firstId);  // no reload
  EXPECT_EQ(manager_->MeassurementManagers()->at(0).get(), firstManager);
  manager_->SelectRun(-1);
  EXPECT_EQ(manager_->SelectedRun(), nullptr);
  EXPECT_EQ(manager_->MeassurementManagers()->at(0).get(), firstManager);  // managers stay

  for (int id : {firstId, secondId}) {
    manager_->SelectRun(id);
    manager_->DeleteSelectedRun();
    EXPECT_EQ(manager_->SelectedRun(), nullptr);
  }
  EXPECT_TRUE(manager_->AllRuns().empty());
  EXPECT_TRUE(log_->GetTrialRuns(config_->TrialId()).empty());
}

// A click or timer during a read-back's progress window must not re-enter
// the manager.
TEST_F(RunManagerTest, CommandsDuringAReadBackAreRefused) {
  TRun* other = Start("Other");
  manager_->StopRun();
  const int otherId = other->ID;
  TRun* run = Start("Busy");
  for (int i = 0; i < 20; ++i)
    Feed(*port_, i);
  int reentered = 0;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!manager_->IsBusy()) return;
    ++reentered;
    manager_->SelectRun(otherId);
    manager_->StopRun();
    manager_->RestartRun();
    manager_->DeleteSelectedRun();
    manager_->LoadAllRuns();
    EXPECT_EQ(manager_->StartNewRun(), nullptr);
  });
  poll.start(0);
  manager_->StopRun();
  EXPECT_GT(reentered, 0);
  EXPECT_EQ(manager_->SelectedRun(), run);
  EXPECT_EQ(manager_->AllRuns().size(), 2u);
  ASSERT_EQ(manager_->MeassurementManagers()->size(), 2u);
  EXPECT_EQ(manager_->MeassurementManagers()->at(0)->GetShaftDataSet().PowerData().Values().Count(),
            20u);

  reentered = 0;
  auto sets = manager_->GetRunDataSetsForAllRuns();
  EXPECT_GT(reentered, 0);
  EXPECT_EQ(sets.size(), 2u);
  EXPECT_EQ(manager_->SelectedRun(), run);
  EXPECT_EQ(manager_->AllRuns().size(), 2u);
  poll.stop();
}

// Reloading the runs while one records would free it under the live
// managers and leave the run impossible to stop.
TEST_F(RunManagerTest, ReloadingTheRunsWhileRecordingKeepsTheRun) {
  TRun* run = Start("Kept");
  ASSERT_NE(run, nullptr);
  manager_->LoadAllRuns();
  EXPECT_EQ(manager_->SelectedRun(), run);
  ASSERT_EQ(manager_->AllRuns().size(), 1u);
  EXPECT_EQ(manager_->AllRuns()[0].get(), run);
  clock_.Advance(60000);
  Feed(*port_, 7);
  manager_->StopRun();
  EXPECT_FALSE(manager_->IsRunInProgress());
  const TRun stored = StoredRun(run->ID);
  EXPECT_DOUBLE_EQ(stored.StopTime, 42700.5 + 1.0 / 1440);
  // Afterwards a reload reads the stored runs again.
  manager_->LoadAllRuns();
  EXPECT_EQ(manager_->SelectedRun(), nullptr);
  ASSERT_EQ(manager_->AllRuns().size(), 1u);
  EXPECT_DOUBLE_EQ(manager_->AllRuns()[0]->StopTime, 42700.5 + 1.0 / 1440);
}

// A process that ends while recording leaves the start in the file and no
// stop: the run reads back as interrupted with a non-negative duration.
TEST_F(RunManagerTest, RunCutShortReadsBackWithItsStart) {
  TRun* run = Start("Cut");
  clock_.Advance(5000);
  Feed(*port_, 1);
  clock_.Advance(5000);
  const double last = platform::Now();
  Feed(*port_, 2);
  const int id = run->ID;
  const int trial = config_->TrialId();
  // The file as a power cut would leave it.
  const std::string copy = docs_.Path() + "/RVX/data/Cut.vez";
  std::filesystem::copy_file(LogPath(), copy);
  manager_.reset();
  config_.reset();
  log_.reset();

  log_ = std::make_unique<TDM_System>("Cut.vez", box_);
  config_ = std::make_unique<TConfigurationManager>(*log_);
  config_->Initialize(trial);
  const TRun stored = StoredRun(id);
  EXPECT_DOUBLE_EQ(stored.StartTime, 42700.5);
  EXPECT_EQ(stored.StopTime, 0);
  manager_ = std::make_unique<TRunManager>(nullptr, *config_, shafts_, *log_, box_);
  auto sets = manager_->GetRunDataSetsForAllRuns();
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_TRUE(sets[0]->IsInterrupted());
  EXPECT_DOUBLE_EQ(sets[0]->StopTime(), last);
  EXPECT_EQ(sets[0]->RunDurationText(), "00:00:10");
}

}  // namespace
}  // namespace rvx::test

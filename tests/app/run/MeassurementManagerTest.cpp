// Measurement managers on a real log file: live managers store their row
// and one Data row per reading while registered; replay managers read the
// rows back in recording order behind a progress window.
#include "app/run/MeassurementManager.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "app/storage/ConfigurationManager.h"
#include "app/ui/SettingsForms.h"
#include "dbengine/api/VEZTable.h"
#include "tests/app/run/RunTestSupport.h"
#include "tests/app/support/QtTestApplication.h"

namespace rvx::test {
namespace {

struct Sample {
  double time, value;
  bool error;
  bool operator==(const Sample&) const = default;
};

std::vector<Sample> Samples(const TShaftData& data) {
  std::vector<Sample> out;
  for (const TDataValue* v : data.Values())
    if (v) out.push_back({v->Time(), v->Value(), v->IsError()});
  return out;
}

class MeassurementManagerTest : public LogDatabaseTest {
 protected:
  void SetUp() override {
    EnsureQtApplication();
    log_ = OpenLog();
    config_ = std::make_unique<TConfigurationManager>(*log_);
    run_.name = "Run A";
    run_.TrialID = 1;
    log_->addRun(run_);
    ASSERT_GT(run_.ID, 0);
  }

  std::shared_ptr<TMeassurementManager> Replay(const TMeassurement& m) {
    return std::make_shared<TMeassurementManager>(
        run_, *log_, *config_, std::make_unique<TMeassurement>(m.RunId, m.ShaftId, m.ID));
  }

  std::unique_ptr<TDM_System> log_;
  std::unique_ptr<TConfigurationManager> config_;
  TRun run_;
};

TEST_F(MeassurementManagerTest, LiveManagerStoresRowAndOnlyReadingsWhileRecording) {
  auto shaft = std::make_shared<HandFedShaft>(1);
  auto manager = std::make_shared<TMeassurementManager>(run_, shaft, *log_, *config_);
  EXPECT_GT(manager->GetMeassurement().ID, 0);
  EXPECT_EQ(manager->GetMeassurement().ShaftId, 2);
  auto stored = log_->GetMeassurements(run_.ID);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0]->ID, manager->GetMeassurement().ID);

  const TDataValue early(42700.50, 1.0, false);
  shaft->Feed(&early, &early, &early);  // not recording yet
  manager->StartRecording();
  EXPECT_EQ(shaft->ObserverCount(), 1u);
  const TDataValue p1(42700.51, 8000, false), t1(42700.51, 700, true), s1(42700.51, 100, false);
  shaft->Feed(&p1, &t1, &s1);
  // Power and torque absent: stored as absent, the speed's mark alone.
  const TDataValue s2(42700.52, 101, true);
  shaft->Feed(nullptr, nullptr, &s2);
  shaft->Feed(nullptr, nullptr, nullptr);  // nothing at all: no row
  EXPECT_EQ(manager->GetShaftDataSet().SampleCount(), 0u);

  manager->Shutdown();
  manager->Shutdown();
  EXPECT_FALSE(manager->IsRecording());
  EXPECT_EQ(shaft->ObserverCount(), 0u);
  const TDataValue late(42700.53, 2.0, false);
  shaft->Feed(&late, &late, &late);

  auto replay = Replay(manager->GetMeassurement());
  TShaftDataSet& set = replay->GetShaftDataSet();
  EXPECT_EQ(Samples(set.PowerData()), (std::vector<Sample>{{42700.51, 8000, true}}));
  EXPECT_EQ(Samples(set.TorqueData()), (std::vector<Sample>{{42700.51, 700, true}}));
  EXPECT_EQ(Samples(set.SpeedData()),
            (std::vector<Sample>{{42700.51, 100, true}, {42700.52, 101, true}}));
}

// Runs the event loop until done() holds or a generous deadline passes.
bool PumpUntil(const std::function<bool()>& done) {
  QElapsedTimer waited;
  waited.start();
  while (!done() && waited.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

// Pumps events for a few of the recording's ticks.
void PumpTicks(int ticks) {
  QEventLoop loop;
  QTimer::singleShot(ticks * TMeassurementManager::kGroupTickMs, &loop, &QEventLoop::quit);
  loop.exec();
}

TEST_F(MeassurementManagerTest, RecordingTimerCommitsAGroupThatStoppedGrowing) {
  auto shaft = std::make_shared<HandFedShaft>(1);
  auto manager = std::make_shared<TMeassurementManager>(run_, shaft, *log_, *config_);
  manager->StartRecording();
  const TDataValue p(42700.51, 8000, false);
  shaft->Feed(&p, &p, &p);
  ASSERT_TRUE(log_->HasPendingData());
  PumpTicks(3);
  EXPECT_TRUE(log_->HasPendingData()) << "the group is not due yet";
  clock_.Advance(TDM_System::kDataGroupMs);
  EXPECT_TRUE(PumpUntil([&] { return !log_->HasPendingData(); }));
  // Stopped: no timer commits any more; the next call to the log does.
  manager->StopRecording();
  log_->AddDataToDb(manager->GetMeassurement(), &p, nullptr, nullptr);
  clock_.Advance(TDM_System::kDataGroupMs);
  PumpTicks(3);
  EXPECT_TRUE(log_->HasPendingData());
  log_->GetMeassurements(run_.ID);
  EXPECT_FALSE(log_->HasPendingData());
}

TEST_F(MeassurementManagerTest, RecordingTimerLogsAndShowsAFailedCommit) {
  FailingSyncFileSystem fs;
  platform::ScopedFileSystem scoped(fs);
  config_.reset();
  log_.reset();  // opened again through the failing file system
  log_ = OpenLog();
  config_ = std::make_unique<TConfigurationManager>(*log_);
  auto shaft = std::make_shared<HandFedShaft>(1);
  auto manager = std::make_shared<TMeassurementManager>(run_, shaft, *log_, *config_);
  manager->StartRecording();
  const TDataValue kept(42700.51, 1, false), lost(42700.52, 2, false);
  shaft->Feed(&kept, nullptr, nullptr);
  clock_.Advance(TDM_System::kDataGroupMs);
  ASSERT_TRUE(PumpUntil([&] { return !log_->HasPendingData(); }));
  shaft->Feed(&lost, nullptr, nullptr);
  clock_.Advance(TDM_System::kDataGroupMs);
  box_.ExpectErrors();
  fs.once = true;  // the error row after it is stored
  fs.armed = true;
  EXPECT_TRUE(PumpUntil([&] { return !box_.Log().empty(); }));
  fs.armed = false;
  manager->StopRecording();
  ASSERT_EQ(box_.Log().size(), 1u);
  EXPECT_NE(box_.Log()[0].find("sync"), std::string::npos) << box_.Log()[0];
  EXPECT_FALSE(log_->HasPendingData());
  // The error row is stored, and of the readings only the committed group.
  vez::TVEZTable& errors = log_->getErrorLogDataSource();
  errors.SetFiltered(false);
  errors.Last();
  EXPECT_EQ(errors.FieldByName("FunctionName").AsString(), "CommitData");
  auto replay = Replay(manager->GetMeassurement());
  EXPECT_EQ(Samples(replay->GetShaftDataSet().PowerData()),
            (std::vector<Sample>{{42700.51, 1, false}}));
  replay.reset();
  manager.reset();
  config_.reset();
  log_.reset();
}

TEST_F(MeassurementManagerTest, ReplayReadsManyRowsInRecordingOrder) {
  auto shaft = std::make_shared<HandFedShaft>(0);
  auto manager = std::make_shared<TMeassurementManager>(run_, shaft, *log_, *config_);
  manager->StartRecording();
  std::vector<Sample> expected;
  for (int i = 0; i < 250; ++i) {
    const double time = 42700.5 + i / 86400.0;
    const TDataValue p(time, 1000 + i, i % 7 == 0);
    shaft->Feed(&p, nullptr, nullptr);
    expected.push_back({time, 1000.0 + i, i % 7 == 0});
  }
  manager->StopRecording();
  auto replay = Replay(manager->GetMeassurement());
  EXPECT_EQ(Samples(replay->GetShaftDataSet().PowerData()), expected);
}

// The progress window shows while the rows are read and ends at 100 %,
// also for a measurement without samples; two replays show two windows.
TEST_F(MeassurementManagerTest, ReplayShowsProgressWindowToTheEnd) {
  auto shaft = std::make_shared<HandFedShaft>(0);
  auto empty = std::make_shared<TMeassurementManager>(run_, shaft, *log_, *config_);
  auto fed = std::make_shared<TMeassurementManager>(run_, shaft, *log_, *config_);
  fed->StartRecording();
  for (int i = 0; i < 30; ++i) {
    const TDataValue p(42700.5 + i / 86400.0, i, false);
    shaft->Feed(&p, &p, &p);
  }
  fed->StopRecording();

  struct Seen {
    QString title, text, percent;
    int value = -1, maximum = -1;
  };
  std::vector<Seen> seen;
  int windows = 0;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* busy = qobject_cast<TBusyForm*>(w);
      if (!busy || !busy->isVisible()) continue;
      Seen s{busy->windowTitle(), busy->Lbl_text->text(), busy->Lbl_PercentFinished->text(),
             busy->ProgressBar->value(), busy->ProgressBar->maximum()};
      seen.push_back(s);
    }
  });
  poll.start(0);
  for (auto& m : {empty, fed}) {
    const std::size_t before = seen.size();
    auto replay = Replay(m->GetMeassurement());
    ++windows;
    ASSERT_GT(seen.size(), before) << "no progress window seen, replay " << windows;
    EXPECT_EQ(seen.back().title, "Run");
    EXPECT_EQ(seen.back().text, "Reading run data...");
    EXPECT_EQ(seen.back().maximum, 100);
    EXPECT_EQ(seen.back().value, 100);
    EXPECT_EQ(seen.back().percent, "100% finished");
  }
  poll.stop();
  // Each window is gone when its replay ends.
  for (QWidget* w : QApplication::topLevelWidgets())
    EXPECT_FALSE(qobject_cast<TBusyForm*>(w) && w->isVisible());
}

}  // namespace
}  // namespace rvx::test

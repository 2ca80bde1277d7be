// The stand-ins behave as the seams promise, so that tests of the meter,
// panel and report code can rely on them; the error routine's rule lives in
// the seam itself and is tested here through the in-memory log.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/core/Clock.h"
#include "tests/app/support/InMemoryDisplaySettings.h"
#include "tests/app/support/InMemoryErrorLog.h"
#include "tests/app/support/InMemoryLinkSettingsStore.h"
#include "tests/app/support/InMemoryRunData.h"
#include "tests/app/support/ScriptedMessageBox.h"

namespace rvx {
namespace {

TEST(ErrorLogTest, LevelsLogShowOrDoNothing) {
  struct Row {
    int level;
    bool logged;
    bool shown;
  };
  const Row rows[] = {{10, true, false}, {5, false, true},  {20, true, true},
                      {0, false, false}, {1, false, false}, {-20, false, false}};
  platform::FakeClock clock;
  clock.SetNow(45123.5);
  platform::ScopedClock installed(clock);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.level);
    test::ScriptedMessageBox box;
    if (r.shown) box.ExpectErrors();
    test::InMemoryErrorLog log(box);
    log.newError("RunManager", "StartNewRun", "Not ready", r.level);
    ASSERT_EQ(log.Rows().size(), r.logged ? 1u : 0u);
    if (r.logged) {
      EXPECT_EQ(log.Rows()[0].UnitName, "RunManager");
      EXPECT_EQ(log.Rows()[0].FunctionName, "StartNewRun");
      EXPECT_EQ(log.Rows()[0].Message, "Not ready");
      EXPECT_EQ(log.Rows()[0].Time, 45123.5);
    }
    box.ExpectDone();
    EXPECT_EQ(box.Log().size(), r.shown ? 1u : 0u);
  }
}

TEST(ErrorLogTest, TextsAreCutToTheirColumnsButShownWhole) {
  test::ScriptedMessageBox box;
  box.ExpectErrors(2);
  test::InMemoryErrorLog log(box);
  const std::string message(80, 'm');
  log.newError(std::string(30, 'u'), std::string(25, 'f'), message, 20);
  ASSERT_EQ(log.Rows().size(), 1u);
  EXPECT_EQ(log.Rows()[0].UnitName, std::string(20, 'u'));
  EXPECT_EQ(log.Rows()[0].FunctionName, std::string(20, 'f'));
  EXPECT_EQ(log.Rows()[0].Message, std::string(60, 'm'));
  EXPECT_EQ(box.Log()[0], "error:" + message);
  // A caller's text is at most 255 characters.
  log.newError("u", "f", std::string(300, 'x'), 5);
  EXPECT_EQ(box.Log()[1], "error:" + std::string(255, 'x'));
  box.ExpectDone();
}

TEST(ErrorLogTest, LogStaysAtOneThousandAndOneRows) {
  test::ScriptedMessageBox box;
  test::InMemoryErrorLog log(box);
  log.Prefill(1000);
  log.newError("Shaft: Port Shaft", "Checksum error", "$SPS1,...", 10);
  ASSERT_EQ(log.Rows().size(), 1001u);
  EXPECT_EQ(log.Rows().front().ID, 1);
  for (int i = 0; i < 5; ++i)
    log.newError("u", "f", "again " + std::to_string(i), 10);
  EXPECT_EQ(log.Rows().size(), 1001u);
  EXPECT_EQ(log.Rows().front().ID, 6);  // the oldest went first
  EXPECT_EQ(log.Rows().back().Message, "again 4");
  // Level 0 logs nothing but still trims.
  log.Prefill(3);
  log.newError("u", "f", "nothing", 0);
  EXPECT_EQ(log.Rows().size(), 1003u);
}

TEST(ErrorLogTest, StoreErrorsPassToTheCaller) {
  class FailingLog : public test::InMemoryErrorLog {
   public:
    using InMemoryErrorLog::InMemoryErrorLog;

   protected:
    void AppendRow(platform::TDateTime, const std::string&, const std::string&,
                   const std::string&) override {
      throw std::runtime_error("disk full");
    }
  };
  test::ScriptedMessageBox box;
  FailingLog log(box);
  EXPECT_THROW(log.newError("u", "f", "m", 20), std::runtime_error);
  EXPECT_TRUE(box.Log().empty());  // the box comes after the row
}

TEST(LinkSettingsStoreTest, RowsAreCreatedWithTheirDefaultsOnFirstRead) {
  test::InMemoryLinkSettingsStore store;
  EXPECT_EQ(store.getComMode(0), "");
  store.EnsureComIndexExists(0, kComModeAuto);
  store.EnsureComIndexExists(0, kComModeDemo);  // an existing row stays
  EXPECT_EQ(store.getComMode(0), kComModeAuto);
  store.setComMode(0, kComModeDemo);
  EXPECT_EQ(store.getComMode(0), kComModeDemo);
  store.setComMode(7, kComModeDemo);  // no row: nothing written
  EXPECT_EQ(store.getComMode(7), "");

  EXPECT_EQ(store.GetAutoComPort(1), 2);
  EXPECT_EQ(store.GetAutoComBaud(1), 4800);
  store.SetAutoComSettings(1, 9600, 5);
  EXPECT_EQ(store.GetAutoComBaud(1), 9600);
  EXPECT_EQ(store.GetAutoComPort(1), 5);
  store.SetAutoComSettings(3, 19200, 9);  // never read: the write makes the row
  ASSERT_EQ(store.AutoRows().count(3), 1u);
  EXPECT_EQ(store.AutoRows().at(3).Baud, 19200);
  EXPECT_EQ(store.AutoRows().at(3).Port, 9);

  EXPECT_EQ(store.GetDemoComInterval(0), 1000);
  EXPECT_EQ(store.GetDemoComPower(0), 8000);
  EXPECT_EQ(store.GetDemoComSpeed(0), 100);
  EXPECT_EQ(store.GetDemoComSpikeChance(0), 0);
  store.SetDemoComSettings(0, 500, 9000, 110, 0.125);
  EXPECT_EQ(store.GetDemoComSpikeChance(0), 0.125);
  store.SetDemoComSettings(1, 500, 9000, 110, 0.125);  // never read: no row
  EXPECT_EQ(store.DemoRows().count(1), 0u);
}

TEST(DisplaySettingsTest, StandInDefaultsAndStores) {
  test::InMemoryDisplaySettings settings;
  const DisplaySettings& seen = settings;
  EXPECT_EQ(seen.DataWindowSize(), 5);
  EXPECT_EQ(seen.MinimumDataSamplesInWindow(), 5);
  ASSERT_EQ(seen.ComModes().size(), 2u);
  EXPECT_EQ(seen.ComModes()[0], "RVS Auto-send");
  EXPECT_EQ(seen.ComModes()[1], "Demo");
  settings.SetDataWindowSize(8);
  EXPECT_EQ(seen.DataWindowSize(), 8);
  EXPECT_EQ(settings.stores, 1);
}

TEST(RunDataTest, TextsOfARun) {
  // 14/03/2024 09:05:07, stopped 25 h 1 min 5 s later.
  const platform::TDateTime start = platform::EncodeDateTime(2024, 3, 14, 9, 5, 7, 0);
  test::InMemoryRunData run("Run 1", start, start + (25 * 3600 + 65) / 86400.0);
  EXPECT_EQ(run.RunStartDate(), "14/03/2024");
  EXPECT_EQ(run.RunStartTime(), "09:05:07");
  EXPECT_EQ(run.RunDurationText(), "25:01:05");
  TShaftDataSet& shaft = run.AddShaft(5, 3);
  shaft.AddPower(start, 8000, false);
  RunData& seen = run;
  ASSERT_EQ(seen.ShaftCount(), 1u);
  EXPECT_EQ(seen.ShaftDataSet(0).PowerData().Values().Count(), 1u);
  EXPECT_EQ(seen.ShaftDataSet(0).SpeedData().MinimumSamplesInWindow(), 3);
}

}  // namespace
}  // namespace rvx

// The real program under Xvfb: one instance at a time, the layout chosen by
// the screen, and closing during a run. Each scenario has its own server,
// documents folder and runtime folder.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QProcess>
#include <QThread>
#include <filesystem>
#include <memory>

#include "app/storage/DMSystem.h"
#include "tests/app/main/desktop/DesktopTestKit.h"
#include "tests/app/support/QtTestApplication.h"
#include "tests/app/support/ScopedDocumentsFolder.h"
#include "tests/app/support/ScriptedMessageBox.h"

namespace rvx::test {
namespace {

const QString kWelcome = QStringLiteral("Trelmar Rovex - Log");
const QString kSelect = QStringLiteral("RVX - Select Vessel");
const QString kMain = QStringLiteral("Trelmar Rovex - Logging Program");
const QString kNewRun = QStringLiteral("RVX - New Run");
// The selection dialog's OK button and the new-run dialog's Start button,
// in their windows.
const QPoint kSelectOk(378, 349);
const QPoint kNewRunStart(196, 248);
// The first row of the runs list in the main window, below the menu bar.
const QPoint kFirstRunRow(80, 180);

// A one-shaft vessel on a simulated meter, and a trial.
void PrepareLog() {
  EnsureQtApplication();
  ScriptedMessageBox box;
  TDM_System log("RVX_Log.vez", box);
  TVessel v;
  v.name = "Vessel";
  v.MCRPower = 1000;
  v.MCRSpeed = 100;
  v.MCRTorque = 95;
  v.Shafts = 1;
  v.Units = "SI";
  log.addVessel(v);
  log.addTrial(TTrial{0, "Trial", log.getVessels()->Item(0).ID});
  log.EnsureComIndexExists(0, "Demo");
  log.setComMode(0, "Demo");
  log.SetDemoComSettings(0, 100, 500, 60, 0.0);
}

// Through the welcome window and the selection, to the main window.
unsigned long OpenMainWindow(VirtualDesktop& desk) {
  const unsigned long select = desk.FindWindow(kSelect, 30'000);
  if (select == 0) return 0;
  desk.Click(select, kSelectOk.x(), kSelectOk.y());
  return desk.FindWindow(kMain, 20'000);
}

void Stop(QProcess& program) {
  if (program.state() == QProcess::NotRunning) return;
  program.terminate();
  if (!program.waitForFinished(10'000)) program.kill();
  program.waitForFinished(5000);
}

struct ScreenCase {
  int width;
  int height;
  QSize window;
};

void PrintTo(const ScreenCase& c, std::ostream* os) {
  *os << c.width << "x" << c.height;
}

class DesktopScreenTest : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(DesktopScreenTest, OneInstanceAndTheLayoutOfTheScreen) {
  const ScreenCase& c = GetParam();
  ScopedDocumentsFolder docs;
  PrepareLog();
  VirtualDesktop desk(c.width, c.height, QString::fromStdString(docs.Path()));
  ASSERT_TRUE(desk.Ready());
  std::unique_ptr<QProcess> first = desk.StartProgram();
  EXPECT_NE(desk.FindWindow(kWelcome, 20'000), 0u);
  const unsigned long main = OpenMainWindow(desk);
  ASSERT_NE(main, 0u);
  const QRect geometry = desk.Geometry(main);
  EXPECT_EQ(geometry.size(), c.window);

  // The logo at the top left of the window is on the screen.
  const QImage screen = desk.Screenshot();
  ASSERT_FALSE(screen.isNull());
  const QColor logo = screen.pixelColor(geometry.x() + 12, geometry.y() + 70);
  EXPECT_EQ(logo, QColor(0, 84, 166));

  // A second start ends at once with 0 and shows nothing.
  std::unique_ptr<QProcess> second = desk.StartProgram();
  ASSERT_TRUE(second->waitForFinished(15'000));
  EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second->exitCode(), 0);
  QThread::msleep(500);
  EXPECT_EQ(desk.CountWindows(kWelcome), 0);
  EXPECT_EQ(desk.CountWindows(kMain), 1);
  EXPECT_EQ(first->state(), QProcess::Running);
  Stop(*first);
}

INSTANTIATE_TEST_SUITE_P(Screens, DesktopScreenTest,
                         ::testing::Values(ScreenCase{1280, 768, QSize(800, 600)},
                                           ScreenCase{1920, 1200, QSize(865, 841)}));

TEST(DesktopRunTest, ClosingDuringARunStoresItsStopAndReport) {
  ScopedDocumentsFolder docs;
  PrepareLog();
  VirtualDesktop desk(1920, 1200, QString::fromStdString(docs.Path()));
  ASSERT_TRUE(desk.Ready());
  std::unique_ptr<QProcess> program = desk.StartProgram();
  const unsigned long main = OpenMainWindow(desk);
  ASSERT_NE(main, 0u);
  QThread::msleep(1500);  // the simulated meter's first readings
  desk.Keys(main, {QStringLiteral("alt+n")});
  const unsigned long dialog = desk.FindWindow(kNewRun, 10'000);
  ASSERT_NE(dialog, 0u);
  desk.Click(dialog, kNewRunStart.x(), kNewRunStart.y());
  QThread::msleep(2000);
  // File > Exit from the keyboard.
  desk.Keys(main, {QStringLiteral("alt+f")});
  QThread::msleep(500);
  desk.Run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("e")});
  ASSERT_TRUE(program->waitForFinished(30'000));
  EXPECT_EQ(program->exitCode(), 0);

  EXPECT_TRUE(std::filesystem::exists(docs.ReportFolder() + "Vessel-Trial-Run.pdf"));
  ScriptedMessageBox box;
  TDM_System log("RVX_Log.vez", box);
  const int trial = log.getTrialsByVesselId(log.getVessels()->Item(0).ID).back()->ID;
  const auto runs = log.GetTrialRuns(trial);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0]->name, "Run");
  EXPECT_GT(runs[0]->StopTime, runs[0]->StartTime);

  // The next start lists the run: a click on its row paints it light blue.
  std::unique_ptr<QProcess> again = desk.StartProgram();
  const unsigned long main_again = OpenMainWindow(desk);
  ASSERT_NE(main_again, 0u);
  int blue = 0;
  for (int attempt = 0; attempt < 10 && blue <= 200; ++attempt) {
    desk.Click(main_again, kFirstRunRow.x(), kFirstRunRow.y());
    QThread::msleep(1000);
    const QImage screen = desk.Screenshot();
    blue = 0;
    for (int y = 0; y < screen.height(); ++y)
      for (int x = 0; x < screen.width(); ++x)
        blue += screen.pixelColor(x, y) == QColor(0, 176, 240);
  }
  EXPECT_GT(blue, 200);
  Stop(*again);
}

}  // namespace
}  // namespace rvx::test

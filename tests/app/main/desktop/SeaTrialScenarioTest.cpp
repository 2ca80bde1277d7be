// A simulated sea trial through the real program, started as the README
// says (bash scripts/run.sh, only the environment set): a two-shaft vessel
// and a trial made in the selection dialog, shaft 2 switched to the
// simulated meter in "Setup com", shaft 1 on a pseudo-terminal fed with
// good sentences, a checksum error, a zero torque and a garbled line; a run
// recorded and stopped, its report, raw data and the trial summary.
#include <gtest/gtest.h>

#include <QColor>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QThread>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/storage/DMSystem.h"
#include "dbengine/api/VEZTable.h"
#include "tests/app/main/desktop/DesktopTestKit.h"
#include "tests/app/support/LinkTestKit.h"
#include "tests/app/support/QtTestApplication.h"
#include "tests/app/support/ScopedDocumentsFolder.h"
#include "tests/app/support/ScriptedMessageBox.h"
#include "tests/app/support/SocatPair.h"

namespace rvx::test {
namespace {

std::string GoodSentence(double torque, double speed, double power) {
  char body[96];
  std::snprintf(body, sizeof body, "SPS1,1,%.1f,0,%.1f,%.0f,0,0", torque, speed, power);
  return MeterSentence(body);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

QString Text(const char* s) {
  return QString::fromLatin1(s);
}

// Ends the program when the test stops early.
struct ProgramGuard {
  QProcess& program;
  ~ProgramGuard() {
    if (program.state() == QProcess::NotRunning) return;
    program.terminate();
    if (!program.waitForFinished(10'000)) program.kill();
    program.waitForFinished(5000);
  }
};

TEST(SeaTrialScenarioTest, RecordsATrialEndToEnd) {
#ifdef RVX_SANITIZED_BUILD
  GTEST_SKIP() << "scripts/run.sh builds and starts the default preset's program";
#endif
  EnsureQtApplication();
  ScopedDocumentsFolder docs;
  const std::string root = docs.Path();
  SocatPair port(root + "/meter1", root + "/feed1");
  SocatPair starboard(root + "/meter2", root + "/feed2");
  // A stand-in for the desktop's opener that records what it was asked.
  std::filesystem::create_directories(root + "/bin");
  const std::string opened = root + "/opened.txt";
  {
    std::ofstream script(root + "/bin/xdg-open");
    script << "#!/bin/sh\necho \"$@\" >> '" << opened << "'\n";
  }
  std::filesystem::permissions(root + "/bin/xdg-open", std::filesystem::perms::owner_all);

  VirtualDesktop desk(1920, 1200, QString::fromStdString(root));
  ASSERT_TRUE(desk.Ready());
  desk.SetEnv(Text("RVX_PORT_1"), QString::fromStdString(port.Meter()));
  desk.SetEnv(Text("RVX_PORT_2"), QString::fromStdString(starboard.Meter()));
  desk.SetEnv(Text("PATH"),
              QString::fromStdString(root + "/bin:") + desk.Environment().value(Text("PATH")));
  std::unique_ptr<QProcess> program =
      desk.Start(Text("bash"), {Text("scripts/run.sh")}, Text(RVX_SOURCE_DIR));
  ProgramGuard guard{*program};

  // Vessel and trial through the selection dialog.
  const unsigned long select = desk.FindWindow(Text("RVX - Select Vessel"), 120'000);
  ASSERT_NE(select, 0u);
  desk.Click(select, 70, 295);
  const unsigned long vessel = desk.FindWindow(Text("RVX - New Vessel"));
  ASSERT_NE(vessel, 0u);
  desk.Keys(vessel, {Text("ctrl+a")});
  desk.Type(vessel, Text("Ship"));
  desk.Keys(vessel, {Text("Tab"), Text("Tab"), Text("Down"), Text("Tab")});
  desk.Type(vessel, Text("1000"));
  desk.Keys(vessel, {Text("Tab")});
  desk.Type(vessel, Text("100"));
  desk.Click(vessel, 186, 297);  // OK
  ASSERT_TRUE(desk.WaitGone(Text("RVX - New Vessel")));
  desk.Click(select, 342, 295);
  const unsigned long trial = desk.FindWindow(Text("RVX - New Trial"));
  ASSERT_NE(trial, 0u);
  desk.Keys(trial, {Text("ctrl+a")});
  desk.Type(trial, Text("Trial 1"));
  desk.Click(trial, 178, 75);  // OK
  ASSERT_TRUE(desk.WaitGone(Text("RVX - New Trial")));
  desk.Click(select, 378, 349);
  const unsigned long main = desk.FindWindow(Text("Trelmar Rovex - Logging Program"));
  ASSERT_NE(main, 0u);

  // Shaft 2 on the simulated meter.
  desk.Keys(main, {Text("alt+t")});
  QThread::msleep(500);
  desk.Run(Text("xdotool"), {Text("key"), Text("s")});
  const unsigned long setup = desk.FindWindow(Text("RVX - Comport Setup"));
  ASSERT_NE(setup, 0u);
  desk.Click(setup, 469, 60);
  QThread::msleep(500);
  desk.Run(Text("xdotool"), {Text("key"), Text("Down"), Text("Return")});
  QThread::msleep(500);
  desk.Keys(setup, {Text("Return")});
  ASSERT_TRUE(desk.WaitGone(Text("RVX - Comport Setup")));

  // Shaft 1 hears its meter; a run is started, fed and stopped.
  port.Write(GoodSentence(95, 100, 1000));
  QThread::msleep(1500);
  // The communication lights are updated every five seconds: until then a
  // start is refused with a box, which is closed before trying again.
  unsigned long run = 0;
  for (int attempt = 0; attempt < 4 && run == 0; ++attempt) {
    port.Write(GoodSentence(95, 100, 1000));
    desk.Keys(main, {Text("alt+n")});
    run = desk.FindWindow(Text("RVX - New Run"), 15'000);
    if (run != 0) break;
    const unsigned long box = desk.FindWindow(Text("RVX Log Program"), 500);
    if (box == 0) break;
    desk.Keys(box, {Text("Return")});
    QThread::msleep(2000);
  }
  ASSERT_NE(run, 0u);
  desk.Keys(run, {Text("ctrl+a")});
  desk.Type(run, Text("Run A"));
  desk.Click(run, 196, 248);
  QThread::msleep(1000);
  int good = 0;
  for (int i = 0; i < 20; ++i, ++good)
    port.Write(GoodSentence(95 + i, 100, 1000 + i));
  port.Write("$SPS1,1,90.0,0,100.0,990,0,0*00\r\n");  // checksum error
  port.Write(GoodSentence(0, 100, 1000));             // zero torque
  port.Write("$SPS1,garbled\r\n");
  QThread::msleep(2500);
  const std::string reports = docs.ReportFolder();
  const std::string base = reports + "Ship-Trial 1-Run A";
  for (int attempt = 0; attempt < 3 && !std::filesystem::exists(base + ".pdf"); ++attempt) {
    desk.Keys(main, {Text("alt+s")});
    for (int i = 0; i < 25 && !std::filesystem::exists(base + ".pdf"); ++i)
      QThread::msleep(200);
  }
  ASSERT_TRUE(std::filesystem::exists(base + ".pdf"));
  QThread::msleep(1000);
  QImage screen = desk.Screenshot();
  int blue = 0;
  for (int y = 0; y < screen.height(); ++y)
    for (int x = 0; x < screen.width(); ++x)
      blue += screen.pixelColor(x, y) == QColor(0, 176, 240);
  EXPECT_GT(blue, 200);
  QString pdf_text;
  desk.Run(Text("pdftotext"), {QString::fromStdString(base + ".pdf"), Text("-")}, &pdf_text);
  EXPECT_TRUE(pdf_text.contains(Text("Shaft data (Port):"))) << pdf_text.toStdString();
  EXPECT_TRUE(pdf_text.contains(Text("Shaft data (Stbd):")));

  // Raw data: four files; shaft 1's unfiltered file holds the good readings.
  desk.Keys(main, {Text("alt+e")});
  QThread::msleep(3000);
  for (const char* kind : {"No filter", "Chauvenet"})
    for (int shaft : {1, 2})
      EXPECT_TRUE(std::filesystem::exists(base + " - Raw data (" + kind + ") - Shaft " +
                                          std::to_string(shaft) + ".csv"))
          << kind << shaft;
  const std::string raw = ReadFile(base + " - Raw data (No filter) - Shaft 1.csv");
  EXPECT_NE(raw.find("1019"), std::string::npos);
  EXPECT_NE(ReadFile(opened).find(reports.substr(0, reports.size() - 1)), std::string::npos);

  // The trial summary as text, spreadsheet and report.
  desk.Keys(main, {Text("alt+g")});
  const unsigned long summary = desk.FindWindow(Text("RVX - Trial Summary"));
  ASSERT_NE(summary, 0u);
  for (int y : {163, 119, 35})
    desk.Click(summary, 71, y);
  desk.Click(summary, 275, 218);
  QThread::msleep(4000);
  for (const char* extension : {".csv", ".xlsx", ".pdf"})
    EXPECT_TRUE(std::filesystem::exists(reports + "Ship-Trial 1-Summary" + extension)) << extension;

  // View > Error Log opens the error-log window; Escape closes it. Alt+V
  // belongs to the View Report button as well, so the menu is reached from
  // File.
  desk.Keys(main, {Text("alt+f")});
  QThread::msleep(500);
  desk.Run(Text("xdotool"), {Text("key"), Text("Right")});
  QThread::msleep(500);
  desk.Run(Text("xdotool"), {Text("key"), Text("e")});
  const unsigned long errors = desk.FindWindow(Text("RVX - Error Log"));
  ASSERT_NE(errors, 0u);
  desk.Keys(errors, {Text("Escape")});
  ASSERT_TRUE(desk.WaitGone(Text("RVX - Error Log")));

  // File > Exit.
  desk.Keys(main, {Text("alt+f")});
  QThread::msleep(500);
  desk.Run(Text("xdotool"), {Text("key"), Text("e")});
  ASSERT_TRUE(program->waitForFinished(30'000));
  EXPECT_EQ(program->exitCode(), 0);

  // The error log holds the checksum and torque rows of shaft 1.
  ScriptedMessageBox box;
  TDM_System log("RVX_Log.vez", box);
  vez::TVEZTable& rows = log.getErrorLogDataSource();
  std::string messages;
  for (rows.First(); !rows.Eof(); rows.Next())
    messages += rows.FieldByName("FunctionName").AsString() + ": " +
                rows.FieldByName("Message").AsString() + "\n";
  EXPECT_NE(messages.find("Checksum error: $SPS1,1,90.0"), std::string::npos) << messages;
  EXPECT_NE(messages.find("Torque 0.0 error: $SPS1,1,0.0"), std::string::npos) << messages;
}

}  // namespace
}  // namespace rvx::test

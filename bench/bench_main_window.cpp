// BM_ViewReportAndExport/25h: the main window with a stored two-shaft run of
// 25 hours at 10 Hz (900,000 readings per shaft), preloaded through
// AddDataToDb. One iteration selects the run (read-back and statistics, the
// stored-run panels), then "View report" (the PDF is written and handed to
// the shell) and "Export raw data" (four CSV files). The window is built and
// the files removed outside the timing.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "app/main/MainWindow.h"
#include "app/main/VesselSelect.h"
#include "app/run/RunManager.h"
#include "app/storage/DMSystem.h"
#include "app/util/MessageBox.h"
#include "app/util/Printer.h"
#include "app/util/Shell.h"
#include "bench/BenchDiskFiles.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZSessionList.h"

namespace {

using rvx::TDataValue;
using rvx::TDM_System;
using rvx::TMeassurement;

constexpr std::int64_t kReadings = 900000;
constexpr double kStart = 42700.5;
constexpr double kTenthSecond = 1.0 / 864000.0;

class SilentBox : public rvx::MessageBox {
 public:
  void ShowError(const std::string&) override {}
  bool Confirm(const std::string&) override { return false; }
};

class NoShell : public rvx::Shell {
 public:
  bool Open(const std::string&) override { return true; }
};

class NoPrinter : public rvx::Printer {
 public:
  bool ChoosePrinter() override { return false; }
  void Print(const std::string&, const PageRenderer&) override {}
};

QApplication& Application() {
  static int argc = 1;
  static char name[] = "bench_main_window";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Kept to the end of the process: Qt's device objects must not be torn
  // down by the exit handlers after the platform is gone.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// A two-shaft vessel whose simulated meters stay silent, a trial and the run.
int Preload() {
  SilentBox box;
  TDM_System log("RVX_Log.vez", box, vez::TVEZDurability::Off);
  rvx::TVessel v;
  v.name = "Vessel";
  v.MCRPower = 10000;
  v.MCRSpeed = 120;
  v.MCRTorque = 800;
  v.Shafts = 2;
  v.Units = "SI";
  log.addVessel(v);
  const int vessel = log.getVessels()->Item(0).ID;
  log.addTrial(rvx::TTrial{0, "Trial", vessel});
  const int trial = log.getTrialsByVesselId(vessel).back()->ID;
  for (int i = 0; i < 2; ++i) {
    log.EnsureComIndexExists(i, "Demo");
    log.setComMode(i, "Demo");
    log.SetDemoComSettings(i, 3'600'000, 500, 60, 0.0);
  }
  rvx::TRun run;
  run.name = "Run 25h";
  run.TrialID = trial;
  log.addRun(run);
  run.StartTime = kStart;
  run.StopTime = kStart + static_cast<double>(kReadings) * kTenthSecond;
  log.UpdateRun(run);
  TMeassurement m1(run.ID, 1), m2(run.ID, 2);
  log.AddMeassurement(m1);
  log.AddMeassurement(m2);
  vez::TVEZDatabase& db = log.Database();
  for (std::int64_t i = 0; i < kReadings; ++i) {
    if (i % 50000 == 0) db.StartTransaction();
    const double t = kStart + static_cast<double>(i) * kTenthSecond;
    for (const TMeassurement* m : {&m1, &m2}) {
      const TDataValue power(t, 8000.0 + static_cast<double>(i % 97), false);
      const TDataValue torque(t, 760.0 + static_cast<double>(i % 31), false);
      const TDataValue speed(t, 100.0 + static_cast<double>(i % 13) * 0.1, i % 1000 == 0);
      log.AddDataToDb(*m, &power, &torque, &speed);
    }
    if (i % 50000 == 49999 || i == kReadings - 1) db.Commit();
  }
  return run.ID;
}

void BM_ViewReportAndExport(benchmark::State& state) {
  Application();
  const std::string docs = vez::bench::BenchFilePath("bench_main_window", "run") + ".docs";
  std::filesystem::remove_all(docs);
  std::filesystem::create_directories(docs);
  setenv("RVX_DOCUMENTS", docs.c_str(), 1);
  const int run_id = Preload();
  SilentBox box;
  NoShell shell;
  NoPrinter printer;
  {
    rvx::TFrm_Main window(nullptr, rvx::TMainSeams{box, shell, printer, 1, 1200, docs});
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
      if (auto* d = qobject_cast<rvx::TFrm_VesselSelect*>(QApplication::activeModalWidget()))
        d->Btn_OK->click();
    });
    answer.start(10);
    if (!window.Start()) {
      state.SkipWithError("start-up failed");
      return;
    }
    answer.stop();
    window.show();
    const std::string reports = docs + "/RVX/reports";
    for (auto _ : state) {
      window.SelectRun(run_id);
      window.Action_RunViewReportExecute();
      window.Btn_RawDataClick();
      state.PauseTiming();
      if (window.StoredRunPanels().size() != 2 ||
          !std::filesystem::exists(reports + "/Vessel-Trial-Run 25h.pdf"))
        state.SkipWithError("run not shown or report not written");
      window.SelectRun(-1);
      std::filesystem::remove_all(reports);
      state.ResumeTiming();
    }
  }
  vez::FinalizeSessionLayer();
  std::filesystem::remove_all(docs);
}

}  // namespace

BENCHMARK(BM_ViewReportAndExport)
    ->Name("BM_ViewReportAndExport/25h")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

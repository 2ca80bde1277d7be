// The run report and the output files of a long run.
//
// BM_RunReportPdf/900k: the PDF run report of a two-shaft run of 25 hours at
// 10 Hz (900,000 readings per shaft), statistics already built (the report
// pays them once, measured in bench_run_statistics): texts, the two charts
// reduced to the page's pixel columns, fonts, and the file. "pdf_bytes" is
// the file's size; "peak_rss_growth_MB" how far the first report raised
// the process's peak memory above the data it was made from.
//
// BM_RawDataCsv/900k: the four raw-data files of that run (unfiltered and
// filtered, both shafts), about 140 MB of CR LF text.
//
// BM_TrialSummary/50runs: the CSV file, the spreadsheet and the PDF report
// of a trial of 50 two-shaft runs of 30 minutes each (statistics built).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QGuiApplication>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/acquisition/DisplaySettings.h"
#include "app/acquisition/RunData.h"
#include "app/reports/QR_Run.h"
#include "app/reports/QR_SeaTrial.h"
#include "app/reports/RawDataCSVCreator.h"
#include "app/reports/TrialSummaryCSVCreator.h"
#include "app/reports/TrialSummaryXLSCreator.h"

namespace {

constexpr std::size_t kRunReadings = 900000;

class Settings : public rvx::DisplaySettings {
 public:
  int DataWindowSize() const override { return 5; }
  void SetDataWindowSize(int) override {}
  int MinimumDataSamplesInWindow() const override { return 5; }
  void SetMinimumDataSamplesInWindow(int) override {}
  const std::vector<std::string>& ComModes() const override { return modes_; }
  int NumberOfShafts() const override { return 2; }
  int TrialId() const override { return 1; }
  std::string VesselName() const override { return "M.V. Ocean"; }
  std::string TrialName() const override { return "Trial 1"; }
  std::string Units() const override { return "SI"; }
  std::string PowerUnit() const override { return "kW"; }
  std::string SpeedUnit() const override { return "rpm"; }
  std::string TorqueUnit() const override { return "kNm"; }
  double PowerFactor() const override { return 1; }
  double SpeedFactor() const override { return 1; }
  double TorqueFactor() const override { return 1; }
  int PowerMCR() const override { return 10000; }
  int SpeedMCR() const override { return 120; }
  int TorqueMCR() const override { return 900; }

 private:
  std::vector<std::string> modes_{"RVS Auto-send", "Demo"};
};

class Run : public rvx::RunData {
 public:
  Run(std::string name, double start, std::size_t readings, std::uint64_t seed)
      : name_(std::move(name)), start_(start), stop_(start + readings / 864000.0) {
    std::mt19937_64 random(seed);
    std::normal_distribution<double> noise;
    for (int s = 0; s < 2; ++s) {
      shafts_.push_back(std::make_unique<rvx::TShaftDataSet>(5, 5));
      rvx::TShaftDataSet& shaft = *shafts_.back();
      shaft.PowerData().Reserve(readings);
      shaft.TorqueData().Reserve(readings);
      shaft.SpeedData().Reserve(readings);
      for (std::size_t i = 0; i < readings; ++i) {
        const double t = start + i / 864000.0;
        const double drift = 300 * std::sin(i / 50000.0);
        const double spike = i % 5000 == 17 ? 8 : 0;
        const double power = 8000 + drift + 40 * (noise(random) + spike);
        const double speed = 100 + drift / 100 + 0.5 * noise(random);
        const bool flag = i % 1000 == 3;
        const auto ordinal = static_cast<std::uint32_t>(i);
        shaft.AddPower(t, power, flag, ordinal);
        shaft.AddTorque(t, 9.549297 * power / speed, flag, ordinal);
        shaft.AddSpeed(t, speed, flag, ordinal);
      }
      // The report uses the statistics; build them outside the timing.
      shaft.PowerData().StatisticalShaftData();
      shaft.TorqueData().StatisticalShaftData();
      shaft.SpeedData().StatisticalShaftData();
    }
  }
  int RunId() const override { return 1; }
  std::string RunName() const override { return name_; }
  std::string Comments() const override { return "Bench run, full ahead."; }
  double StartTime() const override { return start_; }
  double StopTime() const override { return stop_; }
  std::size_t ShaftCount() const override { return shafts_.size(); }
  rvx::TShaftDataSet& ShaftDataSet(std::size_t shaft) override { return *shafts_[shaft]; }
  int ShaftId(std::size_t shaft) const override { return static_cast<int>(shaft) + 1; }

 private:
  std::string name_;
  double start_, stop_;
  std::vector<std::unique_ptr<rvx::TShaftDataSet>> shafts_;
};

void EnsureGuiApplication() {
  static QGuiApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "bench_reports";
    static char* argv[] = {name, nullptr};
    return new QGuiApplication(argc, argv);
  }();
  (void)app;
}

Run& LongRun() {
  static Run run("Run 1", 45323.0, kRunReadings, 42);
  return run;
}

std::string OutputFolder() {
  static const std::string folder = [] {
    const std::string f = std::filesystem::temp_directory_path().string() + "/bench_reports";
    std::filesystem::create_directories(f);
    return f + "/";
  }();
  return folder;
}

double PeakRssMB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
}

void BM_RunReportPdf(benchmark::State& state) {
  EnsureGuiApplication();
  Settings settings;
  Run& run = LongRun();
  const std::string path = OutputFolder() + "run.pdf";
  const double rss_before = PeakRssMB();
  bool first = true;
  double growth = 0;
  for (auto _ : state) {
    const rvx::TQR_Run report(settings, run);
    report.WritePdf(path);
    if (first) {
      growth = PeakRssMB() - rss_before;
      first = false;
    }
  }
  state.counters["pdf_bytes"] = static_cast<double>(std::filesystem::file_size(path));
  state.counters["peak_rss_growth_MB"] = growth;
}
BENCHMARK(BM_RunReportPdf)->Name("BM_RunReportPdf/900k")->Unit(benchmark::kMillisecond);

void BM_RawDataCsv(benchmark::State& state) {
  Settings settings;
  Run& run = LongRun();
  std::uintmax_t bytes = 0;
  for (auto _ : state) {
    rvx::TRawDataCSVCreator creator(settings);
    bytes = 0;
    for (std::size_t s = 0; s < run.ShaftCount(); ++s) {
      const std::string base = OutputFolder() + "raw-" + std::to_string(s);
      creator.GenerateRawValues(run.ShaftId(s), run.ShaftDataSet(s), run.RunName(),
                                base + "-nofilter.csv");
      creator.GenerateFilteredValues(run.ShaftId(s), run.ShaftDataSet(s), run.RunName(),
                                     base + "-chauvenet.csv");
      bytes += std::filesystem::file_size(base + "-nofilter.csv") +
               std::filesystem::file_size(base + "-chauvenet.csv");
    }
  }
  state.counters["csv_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_RawDataCsv)->Name("BM_RawDataCsv/900k")->Unit(benchmark::kMillisecond);

void BM_TrialSummary(benchmark::State& state) {
  EnsureGuiApplication();
  Settings settings;
  static std::vector<std::unique_ptr<Run>> runs;
  std::vector<rvx::RunData*> list;
  if (runs.empty())
    for (int i = 0; i < 50; ++i)
      runs.push_back(std::make_unique<Run>("Run " + std::to_string(i + 1), 45323.0 + i / 24.0,
                                           18000, static_cast<std::uint64_t>(i)));
  for (auto& r : runs)
    list.push_back(r.get());
  const std::string base = OutputFolder() + "summary";
  for (auto _ : state) {
    const bool twin = rvx::IsTwinShaftSummary(list);
    rvx::TTRialSummaryCSVCreator(settings).Generate(list, twin, base + ".csv");
    rvx::TTRialSummaryXLSCreator(settings).Generate(list, twin, base + ".xlsx");
    rvx::TQR_SeaTrial(settings, list).WritePdf(base + ".pdf");
  }
}
BENCHMARK(BM_TrialSummary)->Name("BM_TrialSummary/50runs")->Unit(benchmark::kMillisecond);

}  // namespace

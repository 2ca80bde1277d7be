// The cost of reading meters at line rate.
//
// BM_LineRate/two_shafts: two shafts on serial links, each on a socat pty
// pair fed by rvx_meter_feeder at 200 sentences/s for 60 s, one sentence in
// twenty damaged (wrong checksum, cut short, another device's id). The shafts
// run their whole chain (framer, decoder, flags, sample lists and moving
// averages, error manager into an error log in memory) with a counting
// observer each; no panels, no database. The process's CPU time (user +
// system, from /proc/self/stat) over the fed minute is set against an idle
// baseline taken first in the same run with the links open and nothing sent.
// Feeders and socat are other processes and not counted.
//
// BM_LineRate/two_shafts_panels: the same with a live shaft panel per shaft
// (light, error rate, numeric panel and graph, 1200 x 400 each) shown on
// the offscreen platform, so their updates and paints are counted too.
//
// Counters: cpu_pct (fed), idle_pct, net_pct (fed - idle), all in percent of
// one core; sent, delivered (readings that reached the shafts' observers),
// unrecognised (sentences logged as not readable) and unaccounted (sent -
// delivered - unrecognised, which must be 0); checksum_rows must equal the
// wrong checksums sent.
//
// BM_LineRate/recording: the same two fed shafts with their panels, while a
// run records both into a real log file under full durability (readings
// committed in groups of a quarter second), with the error-log window shown
// and every error row written to the file. The run starts after one good
// sentence per shaft, so the idle baseline is taken while recording with
// nothing sent. Counters as above, plus data_rows (the Data rows read back
// after the stop) and unaccounted = sent - data_rows - unrecognised.
//
// BM_LineRate/recording_no_sync: the same with the journal not synced, for
// reference only (the program keeps full durability).
//
// RVX_BENCH_LINE_SECONDS shortens the fed time (default 60) for a quick look;
// the idle baseline lasts a quarter of it, at least 5 s.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/acquisition/AutoCommunication.h"
#include "app/acquisition/ErrorManager.h"
#include "app/acquisition/Shaft.h"
#include "app/run/NewRunForm.h"
#include "app/run/RunManager.h"
#include "app/storage/ConfigurationManager.h"
#include "app/storage/DMSystem.h"
#include "app/ui/ErrorLogWindow.h"
#include "app/ui/ShaftPanel.h"
#include "tests/app/support/InMemoryDisplaySettings.h"
#include "tests/app/support/InMemoryLinkSettingsStore.h"
#include "tests/app/support/SocatPair.h"

extern char** environ;

namespace {

constexpr int kRate = 200;
constexpr int kBaud = 115200;

// Process CPU time (user + system) in seconds.
double ProcessCpuSeconds() {
  std::ifstream stat("/proc/self/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // Fields after the command name, which is in parentheses and may hold
  // spaces: state is field 3, utime 14, stime 15.
  std::istringstream rest(text.substr(text.rfind(')') + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The error log's rows counted by function, nothing kept (the real log
// trims itself at 1000 rows).
class CountingErrorLog : public rvx::ErrorLog {
 public:
  using ErrorLog::ErrorLog;
  std::map<std::string, long> rows;

 protected:
  std::size_t RowCount() override { return 0; }
  void DeleteOldestRow() override {}
  void AppendRow(platform::TDateTime, const std::string&, const std::string& FunctionName,
                 const std::string&) override {
    ++rows[FunctionName];
  }
};

// Counts the rows by function and hands each to the log database, which
// keeps (and trims) them in its file.
class ForwardingErrorLog : public rvx::ErrorLog {
 public:
  ForwardingErrorLog(rvx::MessageBox& box, rvx::TDM_System& db) : ErrorLog(box), db_(db) {}
  std::map<std::string, long> rows;

 protected:
  std::size_t RowCount() override { return 0; }
  void DeleteOldestRow() override {}
  void AppendRow(platform::TDateTime, const std::string& UnitName, const std::string& FunctionName,
                 const std::string& Message) override {
    ++rows[FunctionName];
    db_.newError(UnitName, FunctionName, Message, rvx::ErrorLog::kLog);
  }

 private:
  rvx::TDM_System& db_;
};

class NoBox : public rvx::MessageBox {
 public:
  int shown = 0;
  void ShowError(const std::string&) override { ++shown; }
  bool Confirm(const std::string&) override { return false; }
};

class CountingObserver : public rvx::IShaftObserver {
 public:
  long readings = 0;
  void UpdateValues(const rvx::TDataValue*, const rvx::TDataValue*,
                    const rvx::TDataValue*) override {
    ++readings;
  }
  void UpdateRunningAverageValues(const rvx::TDataValue*, const rvx::TDataValue*,
                                  const rvx::TDataValue*) override {}
  void UpdateHasCommunication(bool) override {}
  void UpdateCheckSumError(int, const std::string&, const rvx::TDataValue*, const rvx::TDataValue*,
                           const rvx::TDataValue*) override {}
  void UpdateTorqueError(int, const std::string&, const rvx::TDataValue*, const rvx::TDataValue*,
                         const rvx::TDataValue*) override {}
};

pid_t StartFeeder(const std::string& feed, int seconds, int seed, const std::string& report) {
  const std::vector<std::string> args = {RVX_METER_FEEDER,      feed,
                                         std::to_string(kRate), std::to_string(seconds),
                                         std::to_string(seed),  report};
  std::vector<char*> argv;
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, RVX_METER_FEEDER, nullptr, nullptr, argv.data(), environ) != 0)
    throw std::runtime_error("cannot start the meter feeder");
  return pid;
}

std::map<std::string, long> ReadReport(const std::string& path) {
  std::map<std::string, long> counts;
  std::ifstream in(path);
  std::string name;
  long value = 0;
  while (in >> name >> value)
    counts[name] = value;
  return counts;
}

// Runs the event loop for ms milliseconds, or until done() holds when given.
void RunLoop(int ms, const std::function<bool()>& done = {}) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  QTimer poll;
  if (done) {
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (done()) loop.quit();
    });
    poll.start(100);
  }
  loop.exec();
}

QApplication& Application() {
  static int argc = 1;
  static char name[] = "bench_acquisition";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

double CpuPercentOver(const std::function<void()>& work, double* seconds = nullptr) {
  const auto wall = std::chrono::steady_clock::now();
  const double cpu = ProcessCpuSeconds();
  work();
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
  if (seconds) *seconds = elapsed;
  return 100 * (ProcessCpuSeconds() - cpu) / elapsed;
}

int LineSeconds() {
  const char* env = std::getenv("RVX_BENCH_LINE_SECONDS");
  return env && std::atoi(env) > 0 ? std::atoi(env) : 60;
}

// Both shafts' panels one above the other in a shown window, as the program lays them out.
std::unique_ptr<QWidget> ShowPanels(const std::vector<std::shared_ptr<rvx::IShaft>>& shafts,
                                    const rvx::DisplaySettings& settings,
                                    std::vector<std::unique_ptr<rvx::TShaftPanel>>& shaftPanels) {
  auto window = std::make_unique<QWidget>();
  window->resize(1200, 800);
  for (int shaft : {0, 1}) {
    auto panel =
        std::make_unique<rvx::TShaftPanel>(window.get(), *shafts[static_cast<std::size_t>(shaft)],
                                           shaft == 0 ? "Port Shaft" : "Stbd Shaft", settings);
    panel->setPosition(0, shaft * 400);
    panel->setSize(1200, 400);
    panel->setVisible(true);
    shaftPanels.push_back(std::move(panel));
  }
  window->show();
  return window;
}

struct Fed {
  long sent = 0;
  long wrong_checksum = 0;
  double seconds = 0;
  double cpu_pct = 0;
};

// Feeds both meters for `seconds` and runs the loop until both feeders have finished and
// handled() has caught up with what they report sent (at most timeout_s); no feeder outlives it.
Fed FeedBoth(rvx::test::FreshRunDirs& dirs, rvx::test::SocatPair& meter1,
             rvx::test::SocatPair& meter2, int seconds, int timeout_s,
             const std::function<long()>& handled) {
  Fed fed;
  const std::string report1 = dirs.File("report1"), report2 = dirs.File("report2");
  std::vector<pid_t> feeders = {StartFeeder(meter1.Feed(), seconds, 1, report1),
                                StartFeeder(meter2.Feed(), seconds, 2, report2)};
  fed.cpu_pct = CpuPercentOver(
      [&] {
        RunLoop(timeout_s * 1000, [&] {
          for (pid_t& pid : feeders) {
            if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == pid) pid = -1;
          }
          if (feeders[0] > 0 || feeders[1] > 0) return false;
          if (fed.sent == 0) {
            for (const std::string& report : {report1, report2}) {
              const auto counts = ReadReport(report);
              fed.sent += counts.count("sent") ? counts.at("sent") : 0;
              fed.wrong_checksum +=
                  counts.count("wrong_checksum") ? counts.at("wrong_checksum") : 0;
            }
          }
          return handled() >= fed.sent;
        });
      },
      &fed.seconds);
  for (pid_t pid : feeders)
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  return fed;
}

// The counters of a fed run; `counted` is what arrived under the name `counted_name`.
void ReportFed(benchmark::State& state, const Fed& fed, double idle_pct, const char* counted_name,
               long counted, std::map<std::string, long>& rows, const NoBox& box) {
  const long unrecognised = rows["OnStringPacket"] + rows["ExtractSPS"];
  state.counters["cpu_pct"] = fed.cpu_pct;
  state.counters["idle_pct"] = idle_pct;
  state.counters["net_pct"] = fed.cpu_pct - idle_pct;
  state.counters["sent"] = static_cast<double>(fed.sent);
  state.counters[counted_name] = static_cast<double>(counted);
  state.counters["unrecognised"] = static_cast<double>(unrecognised);
  state.counters["unaccounted"] = static_cast<double>(fed.sent - counted - unrecognised);
  state.counters["checksum_rows"] = static_cast<double>(rows["Checksum error"]);
  state.counters["checksum_sent"] = static_cast<double>(fed.wrong_checksum);
  state.counters["fed_s"] = fed.seconds;
  if (fed.sent == 0 || counted + unrecognised != fed.sent ||
      rows["Checksum error"] != fed.wrong_checksum)
    state.SkipWithError("not every sentence is accounted for");
  if (box.shown != 0) state.SkipWithError("an error box was shown");
}

void LineRate(benchmark::State& state, bool panels) {
  Application();

  const int seconds = LineSeconds();
  const int idle_ms = std::max(5000, seconds * 250);

  for (auto _ : state) {
    rvx::test::FreshRunDirs dirs;
    rvx::test::SocatPair meter1(dirs.File("meter1"), dirs.File("feed1"));
    rvx::test::SocatPair meter2(dirs.File("meter2"), dirs.File("feed2"));
    rvx::test::ScopedEnv port1("RVX_PORT_1", meter1.Meter());
    rvx::test::ScopedEnv port2("RVX_PORT_2", meter2.Meter());

    rvx::test::InMemoryLinkSettingsStore store;
    for (int shaft : {0, 1}) {
      store.GetAutoComBaud(shaft);
      store.SetAutoComSettings(shaft, kBaud, shaft + 1);
    }
    NoBox box;
    CountingErrorLog log(box);
    rvx::LinkServices services{store, log, box};
    rvx::test::InMemoryDisplaySettings settings;
    settings.number_of_shafts = 2;

    std::vector<std::shared_ptr<rvx::IShaft>> shafts;
    std::vector<std::shared_ptr<CountingObserver>> observers;
    for (int shaft : {0, 1}) {
      auto s = std::make_shared<rvx::TShaft>(shaft, services, settings);
      auto* link = dynamic_cast<rvx::TAutoCommunication*>(s->Communication());
      if (!link || !link->IsOpen()) {
        state.SkipWithError("a link did not open");
        return;
      }
      observers.push_back(std::make_shared<CountingObserver>());
      s->RegisterObserver(observers.back());
      shafts.push_back(s);
    }
    auto manager = rvx::TErrorManager::Create(settings, shafts, log);
    std::unique_ptr<QWidget> window;
    std::vector<std::unique_ptr<rvx::TShaftPanel>> shaftPanels;
    if (panels) window = ShowPanels(shafts, settings, shaftPanels);

    // Idle: links open, status timers and time-out checks running.
    const double idle_pct = CpuPercentOver([&] { RunLoop(idle_ms); });

    // Fed: until both feeders have finished and everything sent is handled.
    const Fed fed = FeedBoth(dirs, meter1, meter2, seconds, seconds + 30, [&] {
      return observers[0]->readings + observers[1]->readings + log.rows["OnStringPacket"] +
             log.rows["ExtractSPS"];
    });

    ReportFed(state, fed, idle_pct, "delivered", observers[0]->readings + observers[1]->readings,
              log.rows, box);

    shaftPanels.clear();
    window.reset();
    manager->Disconnect();
    for (auto& s : shafts)
      s->Disconnect();
  }
}

void LineRateRecording(benchmark::State& state, vez::TVEZDurability durability) {
  Application();

  const int seconds = LineSeconds();
  const int idle_ms = std::max(5000, seconds * 250);

  for (auto _ : state) {
    rvx::test::FreshRunDirs dirs;  // RVX_DOCUMENTS of its own: a new log file
    rvx::test::SocatPair meter1(dirs.File("meter1"), dirs.File("feed1"));
    rvx::test::SocatPair meter2(dirs.File("meter2"), dirs.File("feed2"));
    rvx::test::ScopedEnv port1("RVX_PORT_1", meter1.Meter());
    rvx::test::ScopedEnv port2("RVX_PORT_2", meter2.Meter());

    NoBox box;
    rvx::TDM_System db("RVX_Log.vez", box, durability);
    ForwardingErrorLog log(box, db);
    for (int shaft : {0, 1}) {
      db.GetAutoComBaud(shaft);
      db.SetAutoComSettings(shaft, kBaud, shaft + 1);
    }
    rvx::LinkServices services{db, log, box};
    rvx::TConfigurationManager config(db);
    rvx::TVessel vessel;
    vessel.name = "Bench vessel";
    vessel.Shafts = 2;
    vessel.Units = "SI";
    db.addVessel(vessel);
    const int vesselId = db.getVessels()->Item(0).ID;
    db.addTrial(rvx::TTrial{0, "Bench trial", vesselId});
    config.Initialize(db.getTrialsByVesselId(vesselId).back()->ID);

    std::vector<std::shared_ptr<rvx::IShaft>> shafts;
    std::vector<std::shared_ptr<CountingObserver>> observers;
    for (int shaft : {0, 1}) {
      auto s = std::make_shared<rvx::TShaft>(shaft, services, config);
      auto* link = dynamic_cast<rvx::TAutoCommunication*>(s->Communication());
      if (!link || !link->IsOpen()) {
        state.SkipWithError("a link did not open");
        return;
      }
      observers.push_back(std::make_shared<CountingObserver>());
      s->RegisterObserver(observers.back());
      shafts.push_back(s);
    }
    auto manager = rvx::TErrorManager::Create(config, shafts, log);
    std::unique_ptr<QWidget> window;
    std::vector<std::unique_ptr<rvx::TShaftPanel>> shaftPanels;
    window = ShowPanels(shafts, config, shaftPanels);
    rvx::TFrm_Errorlog errorWindow(nullptr, db.getErrorLogDataSource());
    errorWindow.show();

    // One good sentence per shaft gives communication; the run starts then.
    const std::string hello = "SPS1,1,764.5,0,100.0,8000,0,0";
    unsigned sum = 0;
    for (unsigned char c : hello)
      sum += c;
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", sum % 256);
    for (rvx::test::SocatPair* meter : {&meter1, &meter2})
      meter->Write("$" + hello + "*" + digits + "\r\n");
    RunLoop(10000, [&] { return observers[0]->readings == 1 && observers[1]->readings == 1; });
    rvx::TRunManager runs(nullptr, config, shafts, db, box);
    if (!runs.IsReadyToStartRun()) {
      state.SkipWithError("no communication before the start");
      return;
    }
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
      if (auto* d = qobject_cast<rvx::TFrm_NewRun*>(QApplication::activeModalWidget()))
        d->Btn_OK->click();
    });
    answer.start(1);
    if (runs.StartNewRun() == nullptr) {
      state.SkipWithError("the run did not start");
      return;
    }
    answer.stop();
    const long before = observers[0]->readings + observers[1]->readings;

    // Idle while recording.
    const double idle_pct = CpuPercentOver([&] { RunLoop(idle_ms); });

    const Fed fed = FeedBoth(dirs, meter1, meter2, seconds, seconds + 60, [&] {
      return observers[0]->readings + observers[1]->readings - before + log.rows["OnStringPacket"] +
             log.rows["ExtractSPS"];
    });

    // The stop reads the run back from the file.
    runs.StopRun();
    long data_rows = 0;
    for (const auto& m : *runs.MeassurementManagers()) {
      rvx::TShaftDataSet& set = m->GetShaftDataSet();
      data_rows += static_cast<long>(
          std::max({set.PowerData().Values().Count(), set.TorqueData().Values().Count(),
                    set.SpeedData().Values().Count()}));
    }
    ReportFed(state, fed, idle_pct, "data_rows", data_rows, log.rows, box);

    shaftPanels.clear();
    window.reset();
    manager->Disconnect();
    for (auto& s : shafts)
      s->Disconnect();
  }
}

void BM_LineRate(benchmark::State& state) {
  LineRate(state, false);
}
void BM_LineRatePanels(benchmark::State& state) {
  LineRate(state, true);
}

BENCHMARK(BM_LineRate)->Name("BM_LineRate/two_shafts")->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_LineRatePanels)
    ->Name("BM_LineRate/two_shafts_panels")
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
void BM_LineRateRecording(benchmark::State& state) {
  LineRateRecording(state, vez::TVEZDurability::Full);
}
void BM_LineRateRecordingNormal(benchmark::State& state) {
  LineRateRecording(state, vez::TVEZDurability::Normal);
}

BENCHMARK(BM_LineRateRecording)
    ->Name("BM_LineRate/recording")
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
// For reference only: the same without the syncs, to tell their share.
BENCHMARK(BM_LineRateRecordingNormal)
    ->Name("BM_LineRate/recording_no_sync")
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

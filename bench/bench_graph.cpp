// The cost of one batched refresh of the live graph.
//
// BM_GraphRefresh/one_day_10Hz: a graph panel (1198 x 328, the graph of a
// 1200 x 400 shaft panel) on the offscreen platform, its time scale at 24
// hours, with a full day of 10 Hz moving averages of power, speed and torque
// in its buffers (864,000 each). One iteration is one refresh: the visible
// day of each buffer reduced to its pixel columns and handed to the chart.
// BM_GraphRefresh/one_day_10Hz_painted adds the repaint of the chart.
//
// Counters: points (handed to the chart per refresh, all three series) and
// cpu_pct_at_4Hz (one core's share at four refreshes a second).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QChartView>
#include <QLineSeries>
#include <QWidget>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "app/ui/GraphPanel.h"
#include "platform/core/Clock.h"
#include "tests/app/support/InMemoryDisplaySettings.h"

namespace {

QApplication& Application() {
  static int argc = 1;
  static char name[] = "bench_graph";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

void GraphRefresh(benchmark::State& state, bool paint) {
  Application();
  platform::FakeClock clock;
  platform::ScopedClock scoped(clock);
  clock.SetNow(46367.5);
  rvx::test::InMemoryDisplaySettings settings;
  settings.power_mcr = 10000;
  QWidget window;
  window.resize(1200, 400);
  rvx::TGraphPanel panel(&window, settings);
  panel.setSize(1198, 328);
  panel.GraphTimeChange(5);
  window.show();
  QApplication::processEvents();

  constexpr int kPerDay = 864000;
  const double now = platform::Now();
  for (int i = 0; i < kPerDay; ++i) {
    const double t = now - 1.0 + (i + 1) / static_cast<double>(kPerDay);
    const double wave = std::sin(i * 0.001);
    panel.PowerBuffer.Add(t, 5000 + 300 * wave + (i % 13));
    panel.SpeedBuffer.Add(t, 85 + 3 * wave);
    panel.TorqueBuffer.Add(t, 450 + 30 * wave - (i % 7));
  }
  double seconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    panel.MarkDirty();
    panel.Refresh();
    if (paint) panel.ChartView->viewport()->repaint();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  state.counters["points"] = panel.Power->count() + panel.Speed->count() + panel.Torque->count();
  // Four refreshes a second, in percent of one core.
  state.counters["cpu_pct_at_4Hz"] = 4 * 100 * seconds / static_cast<double>(state.iterations());
}

void BM_GraphRefresh(benchmark::State& state) {
  GraphRefresh(state, false);
}
void BM_GraphRefreshPainted(benchmark::State& state) {
  GraphRefresh(state, true);
}

BENCHMARK(BM_GraphRefresh)->Name("BM_GraphRefresh/one_day_10Hz")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GraphRefreshPainted)
    ->Name("BM_GraphRefresh/one_day_10Hz_painted")
    ->Unit(benchmark::kMillisecond);

}  // namespace

// The error-log window over a log file whose ErrorLog table holds 10,000
// rows, on the offscreen platform, beside SQLite 3 in the same run.
//
// BM_ErrorLogWindow/open_10k: build the window (the model reads every row of
// the table once, as display text) and paint it once.
// BM_ErrorLogWindow/page_10k: one page of scrolling, repainted (the grid asks
// the model for the cells in view).
// BM_ErrorLogWindow/cells_10k: data() for every cell of the 10,000 rows.
// BM_SQLiteErrorLogRead/10k: SELECT of the same 10,000 rows (5 columns) into
// strings, the nearest SQLite counterpart of the window's read.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <QApplication>
#include <QScrollBar>
#include <QTableView>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/storage/DMSystem.h"
#include "app/ui/ErrorLogWindow.h"
#include "bench/BenchDiskFiles.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZSessionList.h"
#include "dbengine/api/VEZTable.h"
#include "platform/core/Variant.h"

namespace {

constexpr int kRows = 10000;

QApplication& Application() {
  static int argc = 1;
  static char name[] = "bench_error_log_window";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class SilentBox : public rvx::MessageBox {
 public:
  void ShowError(const std::string&) override {}
  bool Confirm(const std::string&) override { return false; }
};

std::string Message(int i) {
  return "$SPS1,1,100.5,0,85.2,900,0,0*" + std::to_string(i % 100);
}

// A log file with kRows error rows, for the life of the object.
class FilledLog {
 public:
  FilledLog() {
    path_ = vez::bench::BenchFilePath("bench_error_log_window", "log") + ".docs";
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
    setenv("RVX_DOCUMENTS", path_.c_str(), 1);
    log_ = std::make_unique<rvx::TDM_System>("RVX_Log.vez", box_, vez::TVEZDurability::Off);
    vez::TVEZTable& t = log_->getErrorLogDataSource();
    log_->Database().StartTransaction();
    for (int i = 0; i < kRows; ++i)
      t.AppendRecord({platform::Variant(), platform::Variant::FromDate(46000.0 + i / 86400.0),
                      platform::Variant::FromString(i % 2 ? "Shaft: Port Shaft" : "Shaft: Starboa"),
                      platform::Variant::FromString(i % 3 ? "Checksum error" : "Torque 0.0 error"),
                      platform::Variant::FromString(Message(i))});
    log_->Database().Commit();
  }
  ~FilledLog() {
    log_.reset();
    vez::FinalizeSessionLayer();
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  vez::TVEZTable& Table() { return log_->getErrorLogDataSource(); }

 private:
  std::string path_;
  SilentBox box_;
  std::unique_ptr<rvx::TDM_System> log_;
};

void BM_Open(benchmark::State& state) {
  Application();
  FilledLog log;
  for (auto _ : state) {
    rvx::TFrm_Errorlog window(nullptr, log.Table());
    window.resize(900, 500);
    window.show();
    QApplication::processEvents();
    if (window.DataSource1->rowCount() != kRows) state.SkipWithError("wrong row count");
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_Open)->Name("BM_ErrorLogWindow/open_10k")->Unit(benchmark::kMillisecond);

void BM_Page(benchmark::State& state) {
  Application();
  FilledLog log;
  rvx::TFrm_Errorlog window(nullptr, log.Table());
  window.resize(900, 500);
  window.show();
  QApplication::processEvents();
  QScrollBar& bar = *window.Grid_ErrorLog->verticalScrollBar();
  int value = 0;
  for (auto _ : state) {
    value += bar.pageStep();
    if (value > bar.maximum()) value = 0;
    bar.setValue(value);
    window.Grid_ErrorLog->viewport()->repaint();
  }
}
BENCHMARK(BM_Page)->Name("BM_ErrorLogWindow/page_10k")->Unit(benchmark::kMicrosecond);

void BM_Cells(benchmark::State& state) {
  Application();
  FilledLog log;
  rvx::TFrm_Errorlog window(nullptr, log.Table());
  const QAbstractItemModel& model = *window.DataSource1;
  for (auto _ : state) {
    qsizetype chars = 0;
    for (int r = 0; r < kRows; ++r)
      for (int c = 0; c < 5; ++c)
        chars += model.data(model.index(r, c)).toString().size();
    benchmark::DoNotOptimize(chars);
  }
  state.SetItemsProcessed(state.iterations() * kRows * 5);
}
BENCHMARK(BM_Cells)->Name("BM_ErrorLogWindow/cells_10k")->Unit(benchmark::kMillisecond);

void BM_SQLiteRead(benchmark::State& state) {
  const std::string path = vez::bench::BenchFilePath("bench_error_log_window", "log") + ".sqlite";
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("sqlite open");
  sqlite3_exec(db,
               "CREATE TABLE ErrorLog (ID INTEGER PRIMARY KEY, Time REAL, UnitName TEXT, "
               "FunctionName TEXT, Message TEXT); BEGIN;",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(
      db, "INSERT INTO ErrorLog (Time, UnitName, FunctionName, Message) VALUES (?,?,?,?)", -1,
      &insert, nullptr);
  for (int i = 0; i < kRows; ++i) {
    const std::string message = Message(i);
    sqlite3_bind_double(insert, 1, 46000.0 + i / 86400.0);
    sqlite3_bind_text(insert, 2, i % 2 ? "Shaft: Port Shaft" : "Shaft: Starboa", -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 3, i % 3 ? "Checksum error" : "Torque 0.0 error", -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 4, message.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(db, "SELECT ID, Time, UnitName, FunctionName, Message FROM ErrorLog", -1,
                     &select, nullptr);
  for (auto _ : state) {
    std::vector<std::vector<std::string>> rows;
    rows.reserve(kRows);
    while (sqlite3_step(select) == SQLITE_ROW) {
      std::vector<std::string> row;
      row.reserve(5);
      for (int c = 0; c < 5; ++c) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select, c));
        row.emplace_back(text ? text : "");
      }
      rows.push_back(std::move(row));
    }
    sqlite3_reset(select);
    if (rows.size() != static_cast<std::size_t>(kRows)) state.SkipWithError("wrong row count");
  }
  sqlite3_finalize(select);
  sqlite3_close(db);
  std::filesystem::remove(path);
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_SQLiteRead)->Name("BM_SQLiteErrorLogRead/10k")->Unit(benchmark::kMillisecond);

}  // namespace

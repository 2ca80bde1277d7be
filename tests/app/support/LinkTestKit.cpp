#include "tests/app/support/LinkTestKit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include "dbengine/api/VEZTable.h"

namespace rvx::test {

std::string ByteSumChecksum(std::string_view body) {
  unsigned sum = 0;
  for (unsigned char c : body)
    sum += c;
  char digits[3];
  std::snprintf(digits, sizeof digits, "%02X", sum % 256);
  return digits;
}

std::string MeterSentence(std::string_view body) {
  return "$" + std::string(body) + "*" + ByteSumChecksum(body) + "\r\n";
}

bool WaitUntil(const std::function<bool()>& done, int timeout_ms) {
  QElapsedTimer elapsed;
  elapsed.start();
  while (!done()) {
    if (elapsed.elapsed() > timeout_ms) return false;
    // A short turn of a real event loop: the port's notifiers and the
    // queued hand-over of sentences run, and nothing spins.
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

std::string SeamBackendName(const ::testing::TestParamInfo<SeamBackend>& info) {
  return info.param == SeamBackend::kInMemory ? "InMemory" : "LogDatabase";
}

ErrorRows::operator ErrorLog&() const {
  if (database_) return *database_;
  return memory_;
}

std::vector<InMemoryErrorLog::Row> ErrorRows::Rows() const {
  if (!database_) return {memory_.Rows().begin(), memory_.Rows().end()};
  vez::TVEZTable& t = database_->getErrorLogDataSource();
  std::vector<InMemoryErrorLog::Row> rows;
  for (t.First(); !t.Eof(); t.Next())
    rows.push_back({t.FieldByName("ID").AsLargeInt(), t.FieldByName("Time").AsDateTime(),
                    t.FieldByName("UnitName").AsString(), t.FieldByName("FunctionName").AsString(),
                    t.FieldByName("Message").AsString()});
  std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.ID < b.ID; });
  return rows;
}

namespace {

std::unique_ptr<ScopedDocumentsFolder> DocumentsFor(SeamBackend backend) {
  if (backend == SeamBackend::kInMemory) return nullptr;
  return std::make_unique<ScopedDocumentsFolder>();
}

}  // namespace

LinkTestBench::LinkTestBench(SeamBackend backend)
    : documents_(DocumentsFor(backend)),
      database_(backend == SeamBackend::kInMemory
                    ? nullptr
                    : std::make_unique<TDM_System>("RVX_Log.vez", box)),
      settings(database_ ? static_cast<LinkSettingsStore&>(*database_) : store),
      errors(log, database_.get()),
      services{settings, errors, box} {}

LinkTestBench::~LinkTestBench() {
  meters_.clear();
  port_env_.clear();
  database_.reset();
}

SocatPair& LinkTestBench::StartMeter(int port) {
  const std::string n = std::to_string(port);
  auto pair = std::make_unique<SocatPair>(dirs.File("meter" + n), dirs.File("feed" + n));
  SetPortDevice(port, pair->Meter());
  SocatPair& result = *pair;
  meters_[port] = std::move(pair);
  return result;
}

void LinkTestBench::SetPortDevice(int port, const std::string& device) {
  port_env_.erase(port);
  port_env_[port] = std::make_unique<ScopedEnv>("RVX_PORT_" + std::to_string(port), device);
}

}  // namespace rvx::test

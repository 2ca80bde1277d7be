#include "tests/app/support/LinkTestKit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

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

LinkTestBench::LinkTestBench() = default;

LinkTestBench::~LinkTestBench() {
  meters_.clear();
  port_env_.clear();
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

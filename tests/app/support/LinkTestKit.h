// What meter-link tests share: the seams behind a LinkServices (in memory, or
// the real log database on a file of its own),
// fresh run directories, a socat meter per port with $RVX_PORT_<N> pointing
// to it, a wait that runs the Qt event loop, and sentences built with an
// independent checksum.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/acquisition/Communication.h"
#include "app/storage/DMSystem.h"
#include "tests/app/support/InMemoryErrorLog.h"
#include "tests/app/support/InMemoryLinkSettingsStore.h"
#include "tests/app/support/ScopedDocumentsFolder.h"
#include "tests/app/support/ScriptedMessageBox.h"
#include "tests/app/support/SocatPair.h"

namespace rvx::test {

// "$" + body + "*" + the two upper-case hex digits of the byte sum of body
// + CR LF.
std::string MeterSentence(std::string_view body);
// The checksum digits alone.
std::string ByteSumChecksum(std::string_view body);

// Runs the Qt event loop until done() holds or timeout_ms passes; returns
// done(). The time-out only guards against a hang: tests wait for events,
// never for time.
bool WaitUntil(const std::function<bool()>& done, int timeout_ms = 20000);

// Records every reading a link delivers, then runs on_reading (which may
// throw or re-enter the link, as a shaft's observers can).
class RecordingLinkObserver : public ICommunicationObserver {
 public:
  void OnDataReceived(DataSet::TDataSet& aDataSet) override {
    readings.push_back(aDataSet);
    if (on_reading) on_reading(aDataSet);
  }
  std::vector<DataSet::TDataSet> readings;
  std::function<void(DataSet::TDataSet&)> on_reading;
};

// Where the link settings and the error log live in a test.
enum class SeamBackend { kInMemory, kLogDatabase };
// "InMemory" or "LogDatabase", for parameterized test names.
std::string SeamBackendName(const ::testing::TestParamInfo<SeamBackend>& info);

// The error log under test and the rows it holds, oldest first, whichever
// backend keeps them.
class ErrorRows {
 public:
  ErrorRows(InMemoryErrorLog& memory, TDM_System* database)
      : memory_(memory), database_(database) {}
  operator ErrorLog&() const;
  std::vector<InMemoryErrorLog::Row> Rows() const;

 private:
  InMemoryErrorLog& memory_;
  TDM_System* database_;
};

class LinkTestBench {
 public:
  explicit LinkTestBench(SeamBackend backend = SeamBackend::kInMemory);
  ~LinkTestBench();

  // A socat pair <dir>/meterN - <dir>/feedN, with $RVX_PORT_N set to the
  // meter side.
  SocatPair& StartMeter(int port = 1);
  // Points $RVX_PORT_N at a path (a port that cannot open, for example).
  void SetPortDevice(int port, const std::string& device);
  // The log database (kLogDatabase only; null otherwise).
  TDM_System* Database() const { return database_.get(); }

  FreshRunDirs dirs;
  // The in-memory seams (always there; in use with kInMemory).
  InMemoryLinkSettingsStore store;
  ScriptedMessageBox box;
  InMemoryErrorLog log{box};

 private:
  std::unique_ptr<ScopedDocumentsFolder> documents_;
  std::unique_ptr<TDM_System> database_;

 public:
  // The seams in use.
  LinkSettingsStore& settings;
  ErrorRows errors;
  LinkServices services;

 private:
  std::map<int, std::unique_ptr<ScopedEnv>> port_env_;
  std::map<int, std::unique_ptr<SocatPair>> meters_;
};

}  // namespace rvx::test

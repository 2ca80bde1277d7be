// Two processes on one multi-user database: both append to the Data table at
// once, one reads while the other appends, and a reader sees only committed
// rows. The worker processes are this test program itself, started with
// --disk-table-worker and the filter of the DiskTableWorker.Serve entry;
// they answer one line per command ("ok ..." / "err NATIVE text") after a
// first "@ready" line.
//
// Commands: open PATH | append N M (N rows of measurement M, one post each)
// | begin | commit | scan | scanloop K | exit. scan answers
// "ok COUNT MINID MAXID UNIQUE INDEXED SORTED": the rows in storage order,
// their smallest and largest ids, whether the ids are unique, how many rows
// the index gives, and whether the index order is sorted and holds the same
// rows.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "platform/core/Clock.h"
#include "tests/common/WorkerProcess.h"
#include "tests/dbengine/storage/DiskTableTestSupport.h"
#include "tests/dbengine/storage/DiskTestSupport.h"

namespace vez {
namespace {

using test::MakeDataRow;
using test::TDataRow;
using test::TDiskTableEnv;
using test::TTestLocalCursor;
using test::WorkerProcess;

constexpr const char* kWorkerFlag = "--disk-table-worker";
constexpr int kClockScale = 40;

bool IsWorkerProcess() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string arg;
  while (std::getline(in, arg, '\0'))
    if (arg == kWorkerFlag) return true;
  return false;
}

std::string SelfPath() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

// Lock waits run kClockScale times faster, so two writers taking turns do
// not spend most of their time asleep.
class ScaledClock : public platform::Clock {
 public:
  ScaledClock() : start_(std::chrono::steady_clock::now()) {}
  std::uint64_t TickCount64() override {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now() - start_)
                        .count();
    return static_cast<std::uint64_t>(us) * kClockScale / 1000;
  }
  void Sleep(std::uint32_t ms) override {
    std::this_thread::sleep_for(std::chrono::microseconds(std::uint64_t{ms} * 1000 / kClockScale));
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

struct ScanResult {
  std::size_t count = 0;
  std::int64_t min_id = 0;
  std::int64_t max_id = 0;
  bool unique = true;
  std::size_t indexed = 0;
  bool sorted = true;
};

// Both passes under one shared lock, so no append falls between them.
ScanResult Scan(TTestLocalCursor& c) {
  ScanResult r;
  if (!c.LockTable(ltS, 2250, 40, true)) throw EVEZException(2, "scan: table is locked");
  std::vector<TDataRow> rows;
  std::vector<TDataRow> by_index;
  try {
    rows = TDiskTableEnv::ReadAll(c);
    by_index = TDiskTableEnv::ReadAll(c, TDiskTableEnv::IndexID(c, test::kDataIndexName));
  } catch (...) {
    c.UnlockTable(ltS, false);
    throw;
  }
  c.UnlockTable(ltS, false);
  r.count = rows.size();
  r.indexed = by_index.size();
  std::set<std::int64_t> ids;
  for (const TDataRow& row : rows)
    r.unique = ids.insert(row.id).second && r.unique;
  if (!ids.empty()) {
    r.min_id = *ids.begin();
    r.max_id = *ids.rbegin();
  }
  for (std::size_t i = 1; i < by_index.size(); ++i)
    if (by_index[i].Key() < by_index[i - 1].Key()) r.sorted = false;
  const auto by_id = [](const TDataRow& a, const TDataRow& b) { return a.id < b.id; };
  std::sort(rows.begin(), rows.end(), by_id);
  std::sort(by_index.begin(), by_index.end(), by_id);
  if (rows != by_index) r.sorted = false;
  return r;
}

std::string Format(const ScanResult& r) {
  std::ostringstream out;
  out << r.count << ' ' << r.min_id << ' ' << r.max_id << ' ' << r.unique << ' ' << r.indexed << ' '
      << r.sorted;
  return out.str();
}

// The worker's side: one env, one cursor on Data.
void ServeCommands() {
  ScaledClock clock;
  platform::ScopedClock installed(clock);
  std::unique_ptr<TDiskTableEnv> env;
  TTestLocalCursor* cursor = nullptr;
  std::cout << "@ready" << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string cmd;
    in >> cmd;
    std::string answer = "ok";
    try {
      if (cmd == "exit") {
        std::cout << "ok" << std::endl;
        break;
      } else if (cmd == "open") {
        std::string path;
        in >> path;
        env = std::make_unique<TDiskTableEnv>(path, false, true);
        cursor = &env->Open();
      } else if (cmd == "append") {
        int n = 0;
        double m = 0;
        in >> n >> m;
        std::int64_t first = 0, last = 0;
        for (int i = 0; i < n; ++i) {
          const std::int64_t id = TDiskTableEnv::Append(*cursor, MakeDataRow(m, i));
          if (id <= 0) throw EVEZException(1, "append refused: %d", {id});
          if (i == 0) first = id;
          last = id;
        }
        answer += " " + std::to_string(first) + " " + std::to_string(last);
      } else if (cmd == "begin") {
        env->Session().InTransaction = true;
      } else if (cmd == "commit") {
        env->Db().Commit(env->Session().SessionID, false);
        env->Session().InTransaction = false;
      } else if (cmd == "scan") {
        answer += " " + Format(Scan(*cursor));
      } else if (cmd == "scanloop") {
        // Repeated scans while another process appends: every one must be
        // consistent, and the count never goes back.
        int k = 0;
        in >> k;
        std::size_t last = 0;
        int good = 0;
        for (int i = 0; i < k; ++i) {
          const ScanResult r = Scan(*cursor);
          if (r.unique && r.sorted && r.indexed == r.count && r.count >= last) ++good;
          last = r.count;
        }
        answer += " " + std::to_string(good) + " " + std::to_string(last);
      } else {
        answer = "err 0 unknown command";
      }
    } catch (const EVEZException& e) {
      answer = "err " + std::to_string(e.NativeError()) + " " + e.what();
    } catch (const std::exception& e) {
      answer = std::string("err 0 ") + e.what();
    }
    std::cout << answer << std::endl;
  }
  env.reset();
}

TEST(DiskTableWorker, Serve) {
  if (!IsWorkerProcess()) GTEST_SKIP() << "the worker entry of the process tests";
  ServeCommands();
}

// A worker of this program, past its start-up lines, with the database open.
class TableWorker {
 public:
  explicit TableWorker(const std::string& path)
      : process_(SelfPath(), {"--gtest_filter=DiskTableWorker.Serve", kWorkerFlag}, 120000) {
    for (;;) {
      if (process_.ReadLine() == "@ready") break;
    }
    process_.Ok("open " + path);
  }
  WorkerProcess& Process() { return process_; }
  ScanResult Scan() {
    std::istringstream in(process_.Ok("scan"));
    ScanResult r;
    in >> r.count >> r.min_id >> r.max_id >> r.unique >> r.indexed >> r.sorted;
    return r;
  }

 private:
  WorkerProcess process_;
};

class DiskTableProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TDiskTableEnv env(path, true, true);
    env.CreateDataTable();
  }
  test::ScratchDir dir;
  std::string path = dir.Path("shared.vez");
};

void ExpectAll(const ScanResult& r, std::size_t count) {
  EXPECT_EQ(r.count, count);
  EXPECT_EQ(r.min_id, count > 0 ? 1 : 0);
  EXPECT_EQ(r.max_id, static_cast<std::int64_t>(count));
  EXPECT_TRUE(r.unique);
  EXPECT_EQ(r.indexed, count);
  EXPECT_TRUE(r.sorted);
}

TEST_F(DiskTableProcessTest, TwoWritersAtOnceGiveUniqueIdsAndOneConsistentIndex) {
  constexpr int kRows = 10000;
  TableWorker a(path);
  TableWorker b(path);
  a.Process().Send("append " + std::to_string(kRows) + " 1");
  b.Process().Send("append " + std::to_string(kRows) + " 2");
  const std::string answer_a = a.Process().ReadLine();
  const std::string answer_b = b.Process().ReadLine();
  ASSERT_EQ(answer_a.substr(0, 2), "ok") << answer_a;
  ASSERT_EQ(answer_b.substr(0, 2), "ok") << answer_b;
  ExpectAll(a.Scan(), 2 * kRows);
  ExpectAll(b.Scan(), 2 * kRows);
  // And this process, opening the file afresh, agrees.
  TDiskTableEnv env(path, false, true);
  TTestLocalCursor& c = env.Open();
  ExpectAll(Scan(c), 2 * kRows);
  std::size_t of_a = 0;
  for (const TDataRow& row : TDiskTableEnv::ReadAll(c))
    of_a += row.measurement == 1 ? 1 : 0;
  EXPECT_EQ(of_a, static_cast<std::size_t>(kRows));
}

TEST_F(DiskTableProcessTest, AReaderSeesAConsistentTableWhileAnotherProcessAppends) {
  TableWorker writer(path);
  TableWorker reader(path);
  writer.Process().Ok("append 200 1");
  writer.Process().Send("append 3000 2");
  reader.Process().Send("scanloop 50");
  const std::string reader_answer = reader.Process().ReadLine();
  const std::string writer_answer = writer.Process().ReadLine();
  ASSERT_EQ(writer_answer.substr(0, 2), "ok") << writer_answer;
  std::istringstream loop(reader_answer);
  std::string ok;
  int good = 0;
  std::size_t last = 0;
  loop >> ok >> good >> last;
  ASSERT_EQ(ok, "ok") << reader_answer;
  EXPECT_EQ(good, 50) << "every scan during the appends was consistent";
  EXPECT_GE(last, 200u);
  ExpectAll(reader.Scan(), 3200);
}

TEST_F(DiskTableProcessTest, AReaderSeesOnlyCommittedRows) {
  TableWorker writer(path);
  TableWorker reader(path);
  writer.Process().Ok("append 10 1");
  writer.Process().Ok("begin");
  writer.Process().Ok("append 25 2");
  ExpectAll(reader.Scan(), 10);
  EXPECT_EQ(writer.Scan().count, 35u) << "the writer sees its own rows";
  writer.Process().Ok("commit");
  ExpectAll(reader.Scan(), 35);
}

}  // namespace
}  // namespace vez

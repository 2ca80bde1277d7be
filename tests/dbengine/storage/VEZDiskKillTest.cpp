// Killed appenders: a worker process appends rows to the Data table with
// durability normal, committing 1 to 50 rows at a time, and is killed with
// SIGKILL at a random moment. A second process then opens the file, which
// recovers it, and must find every committed row and nothing else, with the
// index listing exactly the stored rows. A commit that had begun but not
// returned may be wholly there or wholly absent.
//
// RVX_KILL_SEED (a whole number) varies the moments and the commit sizes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/WorkerProcess.h"
#include "tests/dbengine/storage/DiskTestSupport.h"

// The sanitizer build runs the engine many times slower and starts each
// process slowly: it kills fewer appenders and lets each run longer.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kKills = 30;
constexpr std::uint32_t kMaxRunUs = 100000;
#else
constexpr int kKills = 100;
constexpr std::uint32_t kMaxRunUs = 25000;
#endif

namespace vez {
namespace {

constexpr int kWriteDelayUs = 300;

using test::ScratchDir;
using test::WorkerProcess;

std::unique_ptr<WorkerProcess> StartWorker() {
  return std::make_unique<WorkerProcess>(VEZ_TEST_WORKER, std::vector<std::string>{});
}

std::uint32_t Seed() {
  const char* s = std::getenv("RVX_KILL_SEED");
  return s != nullptr && *s != '\0' ? static_cast<std::uint32_t>(std::strtoul(s, nullptr, 10))
                                    : 22u;
}

// What the appender noted: rows whose commit returned, and the rows there
// will be when the commit under way (if any) returns.
struct Progress {
  std::int64_t committed = -1;
  std::int64_t pending = -1;
};

// A missing or empty file: the appender died before it began.
Progress ReadProgress(const std::string& path, std::int64_t rows_before) {
  std::ifstream in(path);
  Progress p;
  if (!in || !(in >> p.committed >> p.pending)) return {rows_before, rows_before};
  return p;
}

TEST(VEZDiskKillTest, KilledAppenderKeepsEveryCommittedRowAndNoOther) {
  ScratchDir dir;
  const std::string name = dir.Path("kill.vez");
  const std::string progress = dir.Path("progress");
  auto checker = StartWorker();
  checker->Ok("dbcreate " + name + " 8");
  checker->Ok("dbopen " + name + " 1 normal");
  checker->Ok("createdata");
  checker->Ok("dbclose");

  std::mt19937 rng(Seed());
  std::int64_t rows = 0;
  int killed_in_open = 0, torn_kept = 0, torn_dropped = 0;
  for (int k = 0; k < kKills; ++k) {
    SCOPED_TRACE("kill " + std::to_string(k) + ", seed " + std::to_string(Seed()));
    std::remove(progress.c_str());
    {
      auto appender = StartWorker();
      // Most kills land among the commits; some while the appender opens the
      // file, before its first commit.
      const bool in_open = rng() % 10 == 0;
      // Writes made slow, as on a slow disk, so that many kills land among
      // a commit's writes rather than between commits.
      appender->Send("slowwrites " + std::to_string(kWriteDelayUs));
      appender->Send("dbopen " + name + " 1 normal");
      appender->Send("appendloop " + progress + " " + std::to_string(rng()) + " " +
                     std::to_string(rows));
      if (in_open) {
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
      } else {
        ASSERT_EQ(appender->ReadLine(), "ok");
        ASSERT_EQ(appender->ReadLine().substr(0, 2), "ok");
        appender->AwaitEvent("appending");
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % kMaxRunUs));
      }
      appender->Kill();
      killed_in_open += in_open ? 1 : 0;
    }
    const Progress p = ReadProgress(progress, rows);
    ASSERT_GE(p.committed, rows);
    ASSERT_GE(p.pending, p.committed);

    checker->Ok("dbopen " + name + " 1 normal");
    const std::string answer = checker->Call("checkrows");
    checker->Ok("dbclose");
    ASSERT_EQ(answer.substr(0, 3), "ok ") << answer;
    const std::int64_t found = std::stoll(answer.substr(3));
    if (found != p.committed) {
      ASSERT_EQ(found, p.pending) << "committed " << p.committed << ", pending " << p.pending;
      ++torn_kept;
    } else if (p.pending != p.committed) {
      ++torn_dropped;
    }
    rows = found;
  }
  std::cout << "[kill] " << kKills << " kills (" << killed_in_open << " while opening), " << rows
            << " rows at the end; commits under way at the kill: " << torn_kept << " kept whole, "
            << torn_dropped << " dropped whole\n";
  EXPECT_GT(rows, 0);
  // Proof that the kills reach commits: with slow writes many land inside one.
  EXPECT_GT(torn_kept + torn_dropped, kKills / 10);
}

}  // namespace
}  // namespace vez

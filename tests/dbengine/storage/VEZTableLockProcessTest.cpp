// Table and record locks between two holders of one database: two handles
// in this process, and two worker processes.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "tests/common/WorkerProcess.h"
#include "tests/dbengine/storage/DiskTestSupport.h"
#include "tests/dbengine/storage/LockTestSupport.h"

namespace vez {
namespace {

using test::kCompatibilityTable;
using test::kLockKindNames;
using test::ScratchDir;
using test::WorkerProcess;

constexpr std::int32_t kMax = 8;

// One holder of locks: session `session` of a handle or a worker.
class LockSide {
 public:
  virtual ~LockSide() = default;
  virtual bool Lock(int kind, bool allow_xirw_after_sirw) = 0;
  virtual bool Unlock(int kind) = 0;
};

class HandleSide : public LockSide {
 public:
  HandleSide(const std::string& name, std::int32_t page, std::int32_t session)
      : set_(name, kMax, {page}), session_(session) {}
  bool Lock(int kind, bool allow) override {
    return set_.manager->LockTable(session_, static_cast<TVEZLockType>(kind), set_.Table(), 1, 0,
                                   allow);
  }
  bool Unlock(int kind) override {
    return set_.manager->UnlockTable(session_, static_cast<TVEZLockType>(kind), set_.Table(), false,
                                     false);
  }

 private:
  test::LockHandleSet set_;
  std::int32_t session_;
};

class WorkerSide : public LockSide {
 public:
  WorkerSide(const std::string& name, std::int32_t page, std::int32_t session)
      : worker_(VEZ_TEST_WORKER, {"--clock-scale", "50"}),
        page_(std::to_string(page)),
        session_(std::to_string(session)) {
    worker_.Ok("open " + name + " " + std::to_string(kMax));
  }
  bool Lock(int kind, bool allow) override {
    return worker_.Flag("lock " + session_ + " " + kLockKindNames[kind] + " " + page_ + " 1 0" +
                        (allow ? " allow" : ""));
  }
  bool Unlock(int kind) override {
    return worker_.Flag("unlock " + session_ + " " + kLockKindNames[kind] + " " + page_);
  }

 private:
  WorkerProcess worker_;
  std::string page_;
  std::string session_;
};

// Every pair (held by a, requested by b) of the table, then the one
// exception: ltXIRW asked with AllowXIRWAfterSIRW over another's ltSIRW.
void RunMatrix(LockSide& a, LockSide& b) {
  for (int held = 0; held < 7; ++held) {
    for (int requested = 0; requested < 7; ++requested) {
      SCOPED_TRACE(std::string("held ") + kLockKindNames[held] + ", requested " +
                   kLockKindNames[requested]);
      ASSERT_TRUE(a.Lock(held, false));
      const bool granted = b.Lock(requested, false);
      EXPECT_EQ(granted, kCompatibilityTable[held][requested] == 1);
      if (granted) {
        EXPECT_TRUE(b.Unlock(requested));
      }
      EXPECT_TRUE(a.Unlock(held));
    }
  }
  ASSERT_TRUE(a.Lock(ltSIRW, false));
  EXPECT_TRUE(b.Lock(ltXIRW, true));
  EXPECT_TRUE(b.Unlock(ltXIRW));
  EXPECT_TRUE(a.Unlock(ltSIRW));
}

TEST(VEZTableLockProcessTest, CompatibilityMatrixBetweenTwoHandles) {
  ScratchDir dir;
  const std::string name = dir.Path("m.vez");
  const std::int32_t page = test::CreateLockTestDatabase(name, kMax).at(0);
  HandleSide a(name, page, 1), b(name, page, 2);
  RunMatrix(a, b);
}

TEST(VEZTableLockProcessTest, CompatibilityMatrixBetweenTwoProcesses) {
  ScratchDir dir;
  const std::string name = dir.Path("m.vez");
  const std::int32_t page = test::CreateLockTestDatabase(name, kMax).at(0);
  WorkerSide a(name, page, 1), b(name, page, 2);
  RunMatrix(a, b);
}

TEST(VEZTableLockProcessTest, RecordLockSeenRefusedAndGoneWithItsKilledHolder) {
  ScratchDir dir;
  const std::string name = dir.Path("r.vez");
  WorkerProcess maker(VEZ_TEST_WORKER);
  const std::string t = maker.Ok("create " + name + " " + std::to_string(kMax));
  WorkerProcess a(VEZ_TEST_WORKER, {"--clock-scale", "50"});
  WorkerProcess b(VEZ_TEST_WORKER, {"--clock-scale", "50"});
  const std::string open = "open " + name + " " + std::to_string(kMax);
  a.Ok(open);
  b.Ok(open);
  ASSERT_TRUE(a.Flag("lock 1 SIRW " + t + " 1 0"));
  ASSERT_TRUE(a.Flag("lockrec 1 " + t + " 40 3 1 0"));
  EXPECT_TRUE(b.Flag("reclocked 2 " + t + " 40 3"));
  EXPECT_FALSE(b.Flag("reclocked 2 " + t + " 40 4"));
  EXPECT_FALSE(a.Flag("reclocked 1 " + t + " 40 3"));  // its own
  ASSERT_TRUE(b.Flag("lock 2 SIRW " + t + " 1 0"));
  EXPECT_FALSE(b.Flag("lockrec 2 " + t + " 40 3 15 100"));
  EXPECT_TRUE(b.Flag("lockrec 2 " + t + " 40 4 1 0"));
  EXPECT_TRUE(b.Flag("unlockrec 2 " + t + " 40 4"));
  // ltX needs everyone else gone: a's table and record locks stand in the way.
  EXPECT_FALSE(b.Flag("lock 2 X " + t + " 3 10"));

  a.Kill();
  EXPECT_FALSE(b.Flag("reclocked 2 " + t + " 40 3"));
  EXPECT_TRUE(b.Flag("lockrec 2 " + t + " 40 3 1 0"));
  EXPECT_TRUE(b.Flag("unlockrec 2 " + t + " 40 3"));
  EXPECT_TRUE(b.Flag("unlock 2 SIRW " + t));
  EXPECT_TRUE(b.Flag("lock 2 X " + t + " 1 0"));
  EXPECT_TRUE(b.Flag("unlock 2 X " + t));
}

TEST(VEZTableLockProcessTest, WaitingLockGrantedOnceTheOtherProcessReleases) {
  ScratchDir dir;
  const std::string name = dir.Path("w.vez");
  const std::string t = std::to_string(test::CreateLockTestDatabase(name, kMax).at(0));
  WorkerProcess a(VEZ_TEST_WORKER, {"--clock-scale", "50"});
  WorkerProcess b(VEZ_TEST_WORKER, {"--clock-scale", "50"});
  const std::string open = "open " + name + " " + std::to_string(kMax);
  a.Ok(open);
  b.Ok(open);
  ASSERT_TRUE(a.Flag("lock 1 S " + t + " 1 0"));
  b.Ok("pausesleep");
  // The post's lock as the cursor asks for it; b is refused once and waits.
  b.Send("lock 2 RW " + t + " 2250 40 allow");
  b.AwaitEvent("sleep");
  EXPECT_TRUE(a.Flag("unlock 1 S " + t));
  b.Send("go");
  EXPECT_EQ(b.ReadLine(), "ok 1");
  // Now a waits for b in turn, at a barrier of its own first.
  a.Send("barrier ready");
  a.AwaitEvent("ready");
  a.Send("go");
  EXPECT_EQ(a.ReadLine(), "ok");
  a.Ok("pausesleep");
  a.Send("lock 1 S " + t + " 900 100");
  a.AwaitEvent("sleep");
  EXPECT_TRUE(b.Flag("unlock 2 RW " + t));
  a.Send("go");
  EXPECT_EQ(a.ReadLine(), "ok 1");
  EXPECT_TRUE(a.Flag("unlock 1 S " + t));
}

TEST(VEZTableLockProcessTest, ReadTimesOutAndTeardownEndsAStuckWorker) {
  pid_t pid = -1;
  {
    WorkerProcess w(VEZ_TEST_WORKER, {}, 300);
    pid = w.Pid();
    w.Send("barrier never");
    w.AwaitEvent("never");
    // No answer comes while it waits: the read gives up after its time-out.
    EXPECT_THROW(w.ReadLine(), std::runtime_error);
    // The worker now waits for "go"; the destructor's "exit" ends it.
  }
  EXPECT_NE(kill(pid, 0), 0);  // gone and reaped
}

}  // namespace
}  // namespace vez

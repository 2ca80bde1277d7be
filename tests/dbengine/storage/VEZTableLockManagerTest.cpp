#include "dbengine/storage/VEZTableLockManager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "dbengine/foundation/VEZException.h"
#include "platform/core/Random.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/DiskTestSupport.h"
#include "tests/dbengine/storage/LockTestSupport.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

using test::HookClock;
using test::LockBytesProbe;
using test::LockHandleSet;
using test::ScratchDir;

constexpr std::int32_t kMax = 8;

// A database with two tables, a handle with its lock manager (sessions of
// this process), another handle as a second process, and a probe of the
// first table's bytes through that other handle.
struct Fixture {
  ScratchDir dir;
  std::string name = dir.Path("l.vez");
  std::vector<std::int32_t> pages = test::CreateLockTestDatabase(name, kMax, 2);
  HookClock clock;
  platform::ScopedClock installed{clock};
  platform::SeededRandom random{7};
  platform::ScopedRandom installed_random{random};
  LockHandleSet mine{name, kMax, pages};
  LockHandleSet other{name, kMax, pages};
  LockBytesProbe probe{other.pm, pages[0], kMax};

  TVEZDatabaseTableLockManager& M() { return *mine.manager; }
  TVEZTableLocksFile& T(std::size_t i = 0) { return mine.Table(i); }
  bool Lock(std::int32_t s, TVEZLockType k, std::int32_t tries = 1, bool allow = true) {
    return M().LockTable(s, k, T(), tries, 100, allow);
  }
  bool Unlock(std::int32_t s, TVEZLockType k) { return M().UnlockTable(s, k, T(), false, false); }
  // kind:P or kind:L per entry of the session, in order.
  std::string Entries(std::int32_t s) {
    std::string text;
    for (const TVEZTableLockItem& item : M().Locks(s)) {
      if (!text.empty()) text += " ";
      text += std::string(test::kLockKindNames[item.LockType]) + ":" + std::to_string(item.Count) +
              (item.HasPhysicalLock ? "P" : "L");
    }
    return text;
  }
};

// Runs f on another thread and waits up to 5 s for it; true when it ended in
// time. A thread that is stuck (on a lock the caller holds) is joined when
// this object goes, so the test fails instead of hanging.
class BoundedRun {
 public:
  ~BoundedRun() {
    if (thread_.joinable()) thread_.join();
  }
  bool Run(std::function<void()> f) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> ended = done->get_future();
    thread_ = std::thread([f = std::move(f), done] {
      f();
      done->set_value();
    });
    if (ended.wait_for(std::chrono::seconds(5)) != std::future_status::ready) return false;
    thread_.join();
    return true;
  }

 private:
  std::thread thread_;
};

TEST(VEZTableLockManagerTest, StrengthFollowsTheMatrixRows) {
  const struct {
    TVEZLockType a, b;
    bool at_least;
  } rows[] = {
      {ltX, ltIS, true},   {ltX, ltU, true},      {ltX, ltRW, true},      {ltIS, ltU, true},
      {ltU, ltIS, true},   {ltXIRW, ltS, true},   {ltXIRW, ltSIRW, true}, {ltXIRW, ltIS, true},
      {ltXIRW, ltU, true}, {ltRW, ltS, true},     {ltRW, ltSIRW, true},   {ltRW, ltIS, true},
      {ltRW, ltU, true},   {ltXIRW, ltRW, false}, {ltRW, ltXIRW, false},  {ltS, ltRW, false},
      {ltIS, ltS, false},  {ltS, ltIS, true},     {ltSIRW, ltS, false},   {ltRW, ltX, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(test::kLockKindNames[row.a]) + " vs " + test::kLockKindNames[row.b]);
    EXPECT_EQ(IsLockAtLeastAsStrong(row.a, row.b), row.at_least);
  }
}

TEST(VEZTableLockManagerTest, CountsSecondSIRWAndReleases) {
  Fixture f;
  ASSERT_TRUE(f.Lock(1, ltS));
  ASSERT_TRUE(f.Lock(1, ltS));
  EXPECT_EQ(f.Entries(1), "S:2P");
  EXPECT_TRUE(f.Unlock(1, ltS));
  EXPECT_TRUE(f.probe.Held(ltS, 1));  // one release of two
  EXPECT_TRUE(f.Unlock(1, ltS));
  EXPECT_FALSE(f.probe.Held(ltS, 1));
  EXPECT_EQ(NativeErrorOf([&] { f.Unlock(1, ltS); }), 20202);
  EXPECT_TRUE(f.M().UnlockTable(1, ltS, f.T(), /*ignore_if_no_lock=*/true, false));

  ASSERT_TRUE(f.Lock(1, ltSIRW));
  EXPECT_FALSE(f.Lock(1, ltSIRW));
  EXPECT_EQ(f.Entries(1), "SIRW:1P");
  EXPECT_EQ(NativeErrorOf([&] { f.M().CheckNoLocks(); }), 20201);
  EXPECT_TRUE(f.Unlock(1, ltSIRW));
  EXPECT_NO_THROW(f.M().CheckNoLocks());

  EXPECT_EQ(NativeErrorOf([&] { f.Lock(kMax, ltS); }), 20200);
  EXPECT_EQ(NativeErrorOf([&] { f.Lock(-1, ltS); }), 20200);

  TVEZTableLockList list;
  list.AddLock(ltS, 9, true, false);
  list.AddLock(ltS, 9, false, true);  // counted, flags kept
  EXPECT_TRUE(list.LockExists(ltS, 9, false));
  EXPECT_FALSE(list.RemoveLock(ltS, 9, false));
  EXPECT_TRUE(list.RemoveLock(ltS, 9, false));
  list.AddLock(ltRW, 9, true, true);
  list.AddLock(ltRW, 9, true, true);
  EXPECT_TRUE(list.RemoveLock(ltRW, 9, /*ignore_count=*/true));
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(NativeErrorOf([&] { list.RemoveLock(ltRW, 9, false); }), 20202);
}

TEST(VEZTableLockManagerTest, LocksUnderXAreLogicalAndGetTheirBytesWhenXGoes) {
  Fixture f;
  const TVEZPageItemID rec{123, 4};
  ASSERT_TRUE(f.Lock(1, ltX));
  EXPECT_TRUE(f.probe.GuardHeld());
  ASSERT_TRUE(f.Lock(1, ltS));
  ASSERT_TRUE(f.Lock(1, ltRW));
  ASSERT_TRUE(f.M().LockRecord(1, f.T(), rec, 15, 100));
  EXPECT_FALSE(f.M().LockRecord(1, f.T(), rec, 15, 100));  // one record per table
  EXPECT_EQ(f.Entries(1), "X:1P S:1L RW:1L U:1L");
  EXPECT_FALSE(f.probe.Held(ltS, 1));
  EXPECT_FALSE(f.probe.Held(ltU, 1));
  // Another table is not covered by this table's ltX.
  ASSERT_TRUE(f.M().LockTable(1, ltS, f.T(1), 1, 0, true));
  LockBytesProbe second(f.other.pm, f.pages[1], kMax);
  EXPECT_TRUE(second.Held(ltS, 1));
  EXPECT_TRUE(f.M().UnlockTable(1, ltS, f.T(1), false, false));
  // Another session waits out its tries while ltX is held.
  EXPECT_FALSE(f.Lock(2, ltIS, 3));
  EXPECT_EQ(f.clock.Count(), 2);

  EXPECT_TRUE(f.Unlock(1, ltX));
  EXPECT_FALSE(f.probe.GuardHeld());
  EXPECT_EQ(f.Entries(1), "S:1P RW:1P U:1P");
  EXPECT_TRUE(f.probe.Held(ltS, 1));
  EXPECT_TRUE(f.probe.Held(ltRW, 1));
  EXPECT_TRUE(f.probe.Held(ltU, 1));
  // The record got its slot too: another process sees which record it is.
  EXPECT_EQ(f.probe.Slot(1), rec);
  EXPECT_TRUE(f.other.Table().IsRecordLockedByAnyOtherSession(2, rec));
  EXPECT_TRUE(f.M().IsRecordLocked(2, f.T(), rec));
  EXPECT_FALSE(f.M().IsRecordLocked(1, f.T(), rec));
  EXPECT_TRUE(f.M().UnlockRecord(1, f.T(), rec));
  EXPECT_FALSE(f.M().UnlockRecord(1, f.T(), rec));
  EXPECT_TRUE(f.Unlock(1, ltRW));
  EXPECT_TRUE(f.Unlock(1, ltS));
  EXPECT_FALSE(f.probe.Held(ltS, 1) || f.probe.Held(ltRW, 1) || f.probe.Held(ltU, 1));
  EXPECT_NO_THROW(f.M().CheckNoLocks());
}

TEST(VEZTableLockManagerTest, WeakerLocksMarkedPhysicalOnlyWhereTheByteWasGot) {
  Fixture f;
  ASSERT_TRUE(f.Lock(1, ltX));
  ASSERT_TRUE(f.Lock(1, ltS));
  ASSERT_TRUE(f.Lock(1, ltRW));
  // Something else holds session 1's ltS byte: that one cannot be made real.
  ASSERT_TRUE(f.other.Table().LockTable(1, ltS));
  EXPECT_FALSE(f.Unlock(1, ltX));
  EXPECT_EQ(f.Entries(1), "S:1L RW:1P X:1P");
  EXPECT_TRUE(f.probe.GuardHeld());  // ltX kept
  ASSERT_TRUE(f.other.Table().UnlockTable(1, ltS));
  EXPECT_TRUE(f.Unlock(1, ltX));
  EXPECT_EQ(f.Entries(1), "S:1P RW:1P");
  EXPECT_TRUE(f.probe.Held(ltS, 1));
  EXPECT_TRUE(f.M().ReleaseAllLocks(1));
  EXPECT_FALSE(f.probe.Held(ltS, 1) || f.probe.Held(ltRW, 1));
  EXPECT_NO_THROW(f.M().CheckNoLocks());
}

TEST(VEZTableLockManagerTest, OwnXGuardDoesNotBlockReleasingAnEarlierLock) {
  Fixture f;
  ASSERT_TRUE(f.Lock(1, ltIS));  // a cursor's open
  ASSERT_TRUE(f.Lock(1, ltX));   // then an exclusive one of the same session
  EXPECT_EQ(f.Entries(1), "IS:1P X:1P");
  EXPECT_TRUE(f.Unlock(1, ltIS));
  EXPECT_EQ(f.clock.Count(), 0);  // no wait for its own guard
  EXPECT_FALSE(f.probe.Held(ltIS, 1));
  EXPECT_TRUE(f.Unlock(1, ltX));
  EXPECT_FALSE(f.probe.GuardHeld());
}

TEST(VEZTableLockManagerTest, ErrorsLeaveNeitherGuardNorManagerLockHeld) {
  Fixture f;
  const TVEZPageItemID rec{50, 1};
  // The byte of the session is held elsewhere although no other session
  // holds the kind: the check allows, the byte lock fails.
  ASSERT_TRUE(f.other.Table().LockTable(1, ltS));
  EXPECT_EQ(NativeErrorOf([&] { f.Lock(1, ltS); }), 20203);
  EXPECT_FALSE(f.probe.GuardHeld());
  EXPECT_EQ(f.Entries(1), "");
  ASSERT_TRUE(f.other.Table().UnlockTable(1, ltS));
  ASSERT_TRUE(f.other.Table().LockTable(1, ltU));
  EXPECT_EQ(NativeErrorOf([&] { f.M().LockRecord(1, f.T(), rec, 1, 0); }), 20205);
  EXPECT_FALSE(f.probe.GuardHeld());
  ASSERT_TRUE(f.other.Table().UnlockTable(1, ltU));

  // Unlocks whose byte went away underneath (through the same handle).
  ASSERT_TRUE(f.Lock(1, ltS));
  ASSERT_TRUE(f.T().UnlockTable(1, ltS));
  EXPECT_EQ(NativeErrorOf([&] { f.Unlock(1, ltS); }), 20204);
  EXPECT_FALSE(f.probe.GuardHeld());
  EXPECT_EQ(f.Entries(1), "S:1P");  // the list still says what it held
  ASSERT_TRUE(f.T().LockTable(1, ltS));
  EXPECT_TRUE(f.Unlock(1, ltS));
  ASSERT_TRUE(f.M().LockRecord(1, f.T(), rec, 1, 0));
  ASSERT_TRUE(f.T().UnlockRecord(1, rec));
  EXPECT_EQ(NativeErrorOf([&] { f.M().UnlockRecord(1, f.T(), rec); }), 20206);
  EXPECT_FALSE(f.probe.GuardHeld());
  // The manager's own lock was let go on every path: a call from another
  // thread goes through at once.
  bool granted = false;
  BoundedRun other;
  EXPECT_TRUE(other.Run([&] { granted = f.Lock(2, ltS); }));
  EXPECT_TRUE(granted);
  EXPECT_TRUE(f.Unlock(2, ltS));
}

TEST(VEZTableLockManagerTest, WaitingLockGrantedOnceTheHolderReleases) {
  Fixture f;
  ASSERT_TRUE(f.Lock(2, ltS));
  // Session 2's release comes from another thread during session 1's third
  // pause, which it can only make when the wait has let go of the manager.
  bool released_in_time = false, released = false;
  BoundedRun other;
  f.clock.hook = [&](int n, std::uint32_t) {
    if (n == 3) released_in_time = other.Run([&] { released = f.Unlock(2, ltS); });
  };
  EXPECT_TRUE(f.Lock(1, ltRW, 2250));
  EXPECT_TRUE(released_in_time);
  EXPECT_TRUE(released);
  EXPECT_EQ(f.clock.Count(), 3);
  for (std::uint32_t ms : f.clock.Sleeps()) {
    EXPECT_GE(ms, 50u);
    EXPECT_LE(ms, 99u);
  }
  EXPECT_TRUE(f.probe.Held(ltRW, 1));
  EXPECT_TRUE(f.Unlock(1, ltRW));
}

TEST(VEZTableLockManagerTest, LockRecordGivesUpWhenItsTimeIsSpent) {
  Fixture f;
  const TVEZPageItemID rec{9, 9};
  ASSERT_TRUE(f.M().LockRecord(2, f.T(), rec, 1, 0));
  // Each pause takes 300 ms instead of 100: 15 x 100 ms are spent after 5.
  f.clock.hook = [&](int, std::uint32_t) { f.clock.Advance(200); };
  EXPECT_FALSE(f.M().LockRecord(1, f.T(), rec, 15, 100));
  EXPECT_EQ(f.clock.Count(), 5);
  EXPECT_TRUE(f.M().LockRecord(1, f.T(), TVEZPageItemID{9, 10}, 1, 0));
  EXPECT_TRUE(f.M().UnlockRecord(1, f.T(), {}));
  EXPECT_TRUE(f.M().UnlockRecord(2, f.T(), {}));
}

TEST(VEZTableLockManagerTest, CommitWaitsForAReaderOfThisProcess) {
  Fixture f;
  ASSERT_TRUE(f.Lock(1, ltXIRW));
  ASSERT_TRUE(f.Lock(2, ltS));
  bool released_in_time = false;
  BoundedRun other;
  f.clock.hook = [&](int n, std::uint32_t) {
    if (n == 1) released_in_time = other.Run([&] { f.Unlock(2, ltS); });
  };
  EXPECT_TRUE(f.M().AddRWLocksBeforeCommit(1));
  EXPECT_TRUE(released_in_time);
  EXPECT_EQ(f.Entries(1), "XIRW:1P RW:1P");
  EXPECT_TRUE(f.M().ClearTransactionLocks(1));
  EXPECT_EQ(f.Entries(1), "");
  EXPECT_FALSE(f.probe.Held(ltXIRW, 1) || f.probe.Held(ltRW, 1));
}

TEST(VEZTableLockManagerTest, RefusedCommitReleasesEveryRWItTook) {
  Fixture f;
  // The transaction wrote both tables; a reader of the other process keeps
  // the second.
  ASSERT_TRUE(f.M().LockTable(1, ltXIRW, f.T(0), 1, 0, true));
  ASSERT_TRUE(f.M().LockTable(1, ltXIRW, f.T(1), 1, 0, true));
  ASSERT_TRUE(f.other.manager->LockTable(3, ltS, f.other.Table(1), 1, 0, true));
  EXPECT_FALSE(f.M().AddRWLocksBeforeCommit(1));
  EXPECT_EQ(f.clock.Count(), TVEZDatabaseTableLockManager::kCommitTryCount - 1);
  EXPECT_EQ(f.Entries(1), "XIRW:1P XIRW:1P");
  EXPECT_FALSE(f.probe.Held(ltRW, 1));
  EXPECT_TRUE(f.M().ClearTransactionLocks(1));
  EXPECT_EQ(f.Entries(1), "");
  EXPECT_TRUE(f.other.manager->UnlockTable(3, ltS, f.other.Table(1), false, false));
}

TEST(VEZTableLockManagerTest, TransactionLocksClearedWhenSIRWIsAlreadyHeld) {
  const TVEZPageItemID rec{77, 2};
  {
    SCOPED_TRACE("under ltX");
    Fixture f;
    ASSERT_TRUE(f.Lock(1, ltX));
    ASSERT_TRUE(f.Lock(1, ltSIRW));
    ASSERT_TRUE(f.Lock(1, ltXIRW));
    ASSERT_TRUE(f.M().LockRecord(1, f.T(), rec, 15, 100));
    EXPECT_TRUE(f.M().ClearTransactionLocks(1));
    EXPECT_EQ(f.Entries(1), "X:1P SIRW:1L U:1L");
    EXPECT_TRUE(f.M().ReleaseAllLocks(1));
    EXPECT_EQ(f.Entries(1), "");
    EXPECT_FALSE(f.probe.GuardHeld());
  }
  {
    SCOPED_TRACE("an edit begun outside, posted inside");
    Fixture f;
    ASSERT_TRUE(f.Lock(1, ltSIRW));
    ASSERT_TRUE(f.M().LockRecord(1, f.T(), rec, 15, 100));
    ASSERT_TRUE(f.Lock(1, ltXIRW));
    EXPECT_TRUE(f.M().ClearTransactionLocks(1));
    EXPECT_EQ(f.Entries(1), "SIRW:1P U:1P");
    EXPECT_FALSE(f.probe.Held(ltXIRW, 1));
    EXPECT_TRUE(f.M().UnlockRecord(1, f.T(), rec));
    EXPECT_TRUE(f.Unlock(1, ltSIRW));
  }
  {
    SCOPED_TRACE("a record edited inside keeps ltSIRW and its slot");
    Fixture f;
    ASSERT_TRUE(f.Lock(1, ltXIRW, 1, /*allow=*/false));
    ASSERT_TRUE(f.M().LockRecord(1, f.T(), rec, 15, 100));
    EXPECT_EQ(f.Entries(1), "XIRW:1P U:1L");
    EXPECT_TRUE(f.M().ClearTransactionLocks(1));
    EXPECT_EQ(f.Entries(1), "U:1P SIRW:1P");
    EXPECT_TRUE(f.probe.Held(ltSIRW, 1));
    EXPECT_EQ(f.probe.Slot(1), rec);
    EXPECT_TRUE(f.other.Table().IsRecordLockedByAnyOtherSession(2, rec));
    EXPECT_TRUE(f.M().ReleaseAllLocks(1));
  }
}

TEST(VEZTableLockManagerTest, ExclusiveFileNeedsNoLocks) {
  ScratchDir dir;
  const std::string name = dir.Path("x.vez");
  const auto pages = test::CreateLockTestDatabase(name, kMax);
  LockHandleSet only(name, kMax, pages, /*exclusive=*/true);
  EXPECT_TRUE(only.manager->LockTable(1, ltX, only.Table(), 1, 0, true));
  EXPECT_TRUE(only.manager->LockTable(2, ltX, only.Table(), 1, 0, true));
  EXPECT_TRUE(only.manager->Locks(1).empty());
  EXPECT_TRUE(only.manager->UnlockTable(1, ltS, only.Table(), false, false));
  EXPECT_TRUE(only.manager->ClearTransactionLocks(1));
}

}  // namespace
}  // namespace vez

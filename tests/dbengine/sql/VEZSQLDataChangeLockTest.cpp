// The write lock a data-changing statement takes outside a transaction,
// against a cursor that records its lock calls and refuses ltRW as often as
// a test says: the tries and pauses (on the fake clock), the table-data lock
// given up in each pause, the exclusive lock taken only when free, the
// error when every try failed with nothing left held, and the release.
#include "dbengine/sql/VEZSQLDataChange.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/core/Clock.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/StorageTestDoubles.h"

namespace vez::test {
namespace {

class RecordingCursor : public TestCursor {
 public:
  // ltRW is refused this many single tries (a multi-try call uses its count).
  std::int32_t refuse_rw = 0;
  bool refuse_xirw = false;
  std::vector<std::string> calls;
  std::int32_t data_lock_depth = 1;

  void LockTableData() override {
    ++data_lock_depth;
    calls.push_back("data+");
  }
  void UnlockTableData() override {
    --data_lock_depth;
    calls.push_back("data-");
  }
  bool LockTable(TVEZLockType type, std::int32_t tries, std::int32_t delay, bool) override {
    calls.push_back("lock " + std::to_string(type) + " " + std::to_string(tries) + "x" +
                    std::to_string(delay));
    if (type == ltRW) {
      if (refuse_rw >= tries) {
        refuse_rw -= tries;
        return false;
      }
      refuse_rw = 0;
      held_rw = true;
      return true;
    }
    if (type == ltXIRW && !refuse_xirw) {
      held_xirw = true;
      return true;
    }
    return false;
  }
  bool UnlockTable(TVEZLockType type, bool) override {
    calls.push_back("unlock " + std::to_string(type));
    if (type == ltRW) held_rw = false;
    if (type == ltXIRW) held_xirw = false;
    return true;
  }
  bool held_rw = false;
  bool held_xirw = false;
};

class WriteLockTest : public ::testing::Test {
 protected:
  platform::FakeClock clock_;
  platform::ScopedClock installed_{clock_};
  RecordingCursor cursor_;
};

TEST_F(WriteLockTest, FreeTableTakesBothLocksAndReleasesExclusiveFirst) {
  {
    TVEZStatementWriteLock lock(cursor_);
    lock.AcquireReleasingTableData(20223);
    EXPECT_TRUE(lock.HoldsRW());
    EXPECT_TRUE(lock.HoldsXIRW());
  }
  EXPECT_EQ(cursor_.calls,
            (std::vector<std::string>{"lock 4 1x0", "lock 3 1x0", "unlock 3", "unlock 4"}));
  EXPECT_TRUE(clock_.Sleeps().empty());
}

TEST_F(WriteLockTest, ExclusiveLockIsTakenOnlyWhenFree) {
  cursor_.refuse_xirw = true;
  TVEZStatementWriteLock lock(cursor_);
  lock.Acquire(20224);
  EXPECT_TRUE(lock.HoldsRW());
  EXPECT_FALSE(lock.HoldsXIRW());
  lock.Release();
  lock.Release();
  EXPECT_EQ(cursor_.calls, (std::vector<std::string>{"lock 4 1125x80", "lock 3 1x0", "unlock 4"}));
}

TEST_F(WriteLockTest, EachPauseGivesTheTableDataLockUp) {
  cursor_.refuse_rw = 3;
  TVEZStatementWriteLock lock(cursor_);
  lock.AcquireReleasingTableData(20223);
  EXPECT_EQ(clock_.Sleeps(), (std::vector<std::uint32_t>{80, 80, 80}));
  const std::vector<std::string> pause = {"lock 4 1x0", "data-", "data+"};
  std::vector<std::string> expected;
  for (int i = 0; i < 3; ++i)
    expected.insert(expected.end(), pause.begin(), pause.end());
  expected.push_back("lock 4 1x0");
  expected.push_back("lock 3 1x0");
  EXPECT_EQ(cursor_.calls, expected);
  EXPECT_EQ(cursor_.data_lock_depth, 1);
}

struct ExhaustCase {
  bool releasing_data;
  std::int32_t number;
};

class WriteLockExhaustTest : public WriteLockTest,
                             public ::testing::WithParamInterface<ExhaustCase> {};

TEST_P(WriteLockExhaustTest, AllTriesFailedRaisesAndHoldsNothing) {
  cursor_.refuse_rw = TVEZStatementWriteLock::kWriteLockAttempts;
  TVEZStatementWriteLock lock(cursor_);
  const std::int32_t error = NativeErrorOf([&] {
    if (GetParam().releasing_data)
      lock.AcquireReleasingTableData(GetParam().number);
    else
      lock.Acquire(GetParam().number);
  });
  EXPECT_EQ(error, GetParam().number);
  EXPECT_FALSE(lock.HoldsRW());
  EXPECT_FALSE(cursor_.held_rw);
  EXPECT_FALSE(cursor_.held_xirw);
  EXPECT_EQ(cursor_.data_lock_depth, 1);
  if (GetParam().releasing_data) {
    EXPECT_EQ(clock_.Sleeps().size(), 1125u);
    EXPECT_EQ(clock_.TotalSlept(), 1125u * 80u);
  }
  // One more try after the holder let go succeeds.
  lock.AcquireReleasingTableData(GetParam().number);
  EXPECT_TRUE(lock.HoldsRW());
}

INSTANTIATE_TEST_SUITE_P(Forms, WriteLockExhaustTest,
                         ::testing::Values(ExhaustCase{false, 20224}, ExhaustCase{true, 20223}),
                         [](const auto& info) {
                           return std::string(info.param.releasing_data ? "ReleasingData"
                                                                        : "CursorWaits") +
                                  std::to_string(info.param.number);
                         });

}  // namespace
}  // namespace vez::test

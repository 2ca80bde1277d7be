// Record locks of a disk table as the session layer's cursor takes them: an
// edit holds its record until it is posted or cancelled, a delete holds it
// while it runs, and IsRecordLocked tells another session about it. Two
// sessions of one multi-user database in this process; lock waits run on a
// fake clock.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "dbengine/storage/VEZTableLockManager.h"
#include "platform/core/Clock.h"
#include "tests/dbengine/storage/DiskTableTestSupport.h"
#include "tests/dbengine/storage/DiskTestSupport.h"

namespace vez {
namespace {

using test::MakeDataRow;
using test::TDiskTableEnv;
using test::TTestLocalCursor;

bool GoTo(TTestLocalCursor& c, std::int64_t id) {
  c.IndexID = -1;
  c.FirstPosition = true;
  c.LastPosition = false;
  while (c.GetRecordBuffer(grmNext) == grrOK)
    if (test::ReadDataRecord(c).id == id) return true;
  return false;
}

// One database, session A of the env and a second session B, each with a
// cursor on Data holding rows 1 .. 5.
class DiskTableRecordLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = std::make_unique<TDiskTableEnv>(dir_.Path("locks.vez"), true, true);
    env_->CreateDataTable();
    a_ = &env_->Open();
    for (int n = 0; n < 5; ++n)
      ASSERT_EQ(TDiskTableEnv::Append(*a_, MakeDataRow(1, n)), n + 1);
    session_b_.MultiUser = true;
    env_->Db().ConnectSession(session_b_);
    b_ = &env_->NewCursor("Data");
    b_->Session = &session_b_;
    b_->Open(env_->Table("Data"));
    b_->NewRecord();
  }
  void TearDown() override {
    env_->DropCursor(*b_);
    env_->Db().DisconnectSession(session_b_);
    env_.reset();
  }
  // The locks a session still holds besides its cursor's ltIS.
  std::size_t ExtraLocks(const TVEZBaseSession& session) {
    std::size_t n = 0;
    for (const TVEZTableLockItem& item : env_->Db().TableLockManager()->Locks(session.SessionID))
      n += item.LockType == ltIS ? 0 : 1;
    return n;
  }

  platform::FakeClock clock_;
  platform::ScopedClock scoped_clock_{clock_};
  test::ScratchDir dir_;
  std::unique_ptr<TDiskTableEnv> env_;
  test::TestSession session_b_;
  TTestLocalCursor* a_ = nullptr;
  TTestLocalCursor* b_ = nullptr;
};

TEST_F(DiskTableRecordLockTest, AnEditHoldsItsRecordUntilItIsPosted) {
  TTestLocalCursor& a = *a_;
  TTestLocalCursor& b = *b_;
  ASSERT_TRUE(GoTo(a, 3));
  a.BeginEdit();
  ASSERT_EQ(a.ErrorCode, cecOK);
  ASSERT_TRUE(GoTo(b, 3));
  EXPECT_TRUE(b.IsRecordLocked());
  EXPECT_FALSE(a.IsRecordLocked()) << "its own lock is not another session's";
  // B can neither edit nor delete record 3, and is left holding nothing.
  b.BeginEdit();
  EXPECT_EQ(b.ErrorCode, cecRecordLocked);
  ASSERT_TRUE(GoTo(b, 3));
  b.InternalDelete();
  EXPECT_EQ(b.ErrorCode, cecRecordLocked);
  EXPECT_EQ(ExtraLocks(session_b_), 0u);
  // Another record is free to edit meanwhile.
  ASSERT_TRUE(GoTo(b, 4));
  EXPECT_FALSE(b.IsRecordLocked());
  b.BeginEdit();
  ASSERT_EQ(b.ErrorCode, cecOK);
  test::TDataRow row4 = test::ReadDataRecord(b);
  row4.power = -4;
  test::FillDataRecord(b, row4);
  b.InternalPost(false);
  ASSERT_EQ(b.ErrorCode, cecOK);
  EXPECT_EQ(ExtraLocks(session_b_), 0u);

  test::TDataRow row3 = test::ReadDataRecord(a);
  row3.power = -3;
  test::FillDataRecord(a, row3);
  a.InternalPost(false);
  ASSERT_EQ(a.ErrorCode, cecOK);
  EXPECT_EQ(ExtraLocks(*a.Session), 0u);
  ASSERT_TRUE(GoTo(b, 3));
  EXPECT_FALSE(b.IsRecordLocked());
  EXPECT_EQ(test::ReadDataRecord(b).power, -3);
  b.InternalDelete();
  EXPECT_EQ(b.ErrorCode, cecOK);
  EXPECT_EQ(ExtraLocks(session_b_), 0u);
}

TEST_F(DiskTableRecordLockTest, ACancelledEditLetsItsRecordGo) {
  ASSERT_TRUE(GoTo(*a_, 2));
  a_->BeginEdit();
  ASSERT_EQ(a_->ErrorCode, cecOK);
  ASSERT_TRUE(GoTo(*b_, 2));
  EXPECT_TRUE(b_->IsRecordLocked());
  a_->InternalCancel(false);
  EXPECT_EQ(ExtraLocks(*a_->Session), 0u);
  ASSERT_TRUE(GoTo(*b_, 2));
  EXPECT_FALSE(b_->IsRecordLocked());
  b_->InternalDelete();
  EXPECT_EQ(b_->ErrorCode, cecOK);
}

TEST(DiskTableRecordLockSingleUser, EveryRecordCountsAsLocked) {
  test::ScratchDir dir;
  TDiskTableEnv env(dir.Path("single.vez"), true, false);
  env.CreateDataTable();
  TTestLocalCursor& c = env.Open();
  for (int n = 0; n < 3; ++n)
    TDiskTableEnv::Append(c, MakeDataRow(1, n));
  for (std::int64_t id = 1; id <= 3; ++id) {
    SCOPED_TRACE(id);
    ASSERT_TRUE(GoTo(c, id));
    EXPECT_TRUE(c.IsRecordLocked());
  }
}

}  // namespace
}  // namespace vez

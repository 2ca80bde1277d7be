// The local cursor between two multi-user sessions on one file (two session
// components, as two processes would meet): every result code with the
// situation that produces it, the full count of waits under a fake clock,
// the table data's lock left while the post and delete loops sleep, a failed
// edit that gives back only its own locks, and a delete whose re-read check
// compares values.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZEngineError.h"
#include "dbengine/api/VEZLocalCursor.h"
#include "dbengine/api/VEZSession.h"
#include "dbengine/storage/VEZDiskDatabaseData.h"
#include "dbengine/storage/VEZTableData.h"
#include "dbengine/storage/VEZTableLockManager.h"
#include "platform/core/Clock.h"
#include "tests/common/AllocationCap.h"
#include "tests/dbengine/api/LocalCursorTestSupport.h"

namespace vez {
namespace {

using test::LocalHandle;
using test::TCursorUser;
using test::TRun;

// A fake clock that also notes whether the table data's lock was held while
// the cursor slept.
class WatchingClock : public platform::FakeClock {
 public:
  TVEZTableData* table = nullptr;
  int slept_holding_lock = 0;
  void Sleep(std::uint32_t ms) override {
    if (table != nullptr && table->IsLockHeld()) ++slept_holding_lock;
    FakeClock::Sleep(ms);
  }
  std::size_t SleepsOf(std::uint32_t ms) const {
    const std::vector<std::uint32_t> all = Sleeps();
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), ms));
  }
};

class LocalCursorLockTest : public test::SessionLayerTest {
 protected:
  void SetUp() override {
    SessionLayerTest::SetUp();
    file_ = Path("shared.vez");
    test::CreateDatabaseFile(file_);
    one_ = std::make_unique<TVEZSession>();
    one_->SetSessionName("One");
    two_ = std::make_unique<TVEZSession>();
    two_->SetSessionName("Two");
    a_ = test::MakeDatabase("Log", file_, one_.get());
    b_ = test::MakeDatabase("Log", file_, two_.get());
    for (TVEZDatabase* d : {a_.get(), b_.get()}) {
      d->SetMultiUser(true);
      d->Open();
    }
    test::CreateRunsTable(A());
    ua_ = Open(A());
    ub_ = Open(B());
    for (int i = 1; i <= 3; ++i) {
      ASSERT_EQ(ua_->Insert({0, i, "r" + std::to_string(i), 10.0 * i}), cecOK);
    }
    clock_.table = ua_->c.TableData();
  }
  void TearDown() override {
    ua_.reset();
    ub_.reset();
    a_.reset();
    b_.reset();
    one_.reset();
    two_.reset();
    SessionLayerTest::TearDown();
  }

  TVEZLocalSession& A() { return LocalHandle(*a_); }
  TVEZLocalSession& B() { return LocalHandle(*b_); }
  std::unique_ptr<TCursorUser> Open(TVEZLocalSession& session, const std::string& name = "Runs") {
    auto user = std::make_unique<TCursorUser>(session, name);
    user->Open();
    return user;
  }
  // The kinds of table lock session holds on the Runs table.
  std::vector<TVEZLockType> TableLocksOf(TVEZLocalSession& session) {
    auto& disk = dynamic_cast<TVEZDiskDatabaseData&>(*session.DatabaseData());
    std::vector<TVEZLockType> kinds;
    for (const TVEZTableLockItem& item : disk.TableLockManager()->Locks(session.SessionID))
      if (item.LockType != ltIS) kinds.push_back(item.LockType);
    return kinds;
  }
  bool LockedForB(std::int64_t id) {
    if (!ub_->Seek(id)) return false;
    return ub_->c.IsRecordLocked();
  }

  std::string file_;
  WatchingClock clock_;
  platform::ScopedClock installed_{clock_};
  std::unique_ptr<TVEZSession> one_, two_;
  std::unique_ptr<TVEZDatabase> a_, b_;
  std::unique_ptr<TCursorUser> ua_, ub_;
};

// Every code from -1 to -13 and what gives it.
TEST_F(LocalCursorLockTest, EveryResultCodeComesFromItsSituation) {
  struct Row {
    std::int32_t code;
    const char* situation;
    std::function<std::int32_t()> run;
  };
  auto temp_session = test::MakeLocalSession("TEMP", "");
  temp_session->SetConnected(true);
  const std::string temp_name = "RunsTemp";
  struct TempDrop {
    TVEZLocalSession& s;
    std::string name;
    ~TempDrop() {
      try {
        TVEZLocalCursor c;
        c.Session = &s;
        c.TableName = name;
        c.DeleteTable();
      } catch (...) {
      }
    }
  };
  test::CreateRunsTable(*temp_session, temp_name);
  TempDrop drop{*temp_session, temp_name};
  auto temp = std::make_unique<TCursorUser>(*temp_session, temp_name);
  temp->c.Temporary = true;
  temp->Open();
  ASSERT_EQ(temp->Insert({0, 1, "t", 1}), cecOK);
  auto memory_session = test::MakeLocalSession("MEMORY", "");
  memory_session->SetConnected(true);
  test::CreateRunsTable(*memory_session, "RunsMem");
  TempDrop drop_memory{*memory_session, "RunsMem"};
  auto memory = std::make_unique<TCursorUser>(*memory_session, "RunsMem");
  memory->Open();

  const std::vector<Row> rows = {
      {-1, "an insert the memory table has no room for",
       [&] {
         test::AllocationCap cap;
         MemoryManager().SetMaxMemorySize(MemoryManager().TotalMemAllocated() + 16);
         return memory->Insert({0, 1, "m", 1});
       }},
      {-2, "an update the append-only temporary table refuses",
       [&] {
         temp->Seek(1);
         return temp->Post();
       }},
      {-4, "an edit of a record the other session changed since it was read",
       [&] {
         ub_->Seek(1);
         ua_->Seek(1);
         ua_->Edit();
         ua_->Set({1, 11, "changed", 1});
         EXPECT_EQ(ua_->Post(), cecOK);
         return ub_->Edit();
       }},
      {-5, "a delete of a record the other session changed",
       [&] {
         ub_->Seek(2);
         ua_->Seek(2);
         ua_->Edit();
         ua_->Set({2, 22, "changed", 2});
         EXPECT_EQ(ua_->Post(), cecOK);
         return ub_->Delete();
       }},
      {-6, "an edit of a record the other session deleted",
       [&] {
         ub_->Seek(3);
         ua_->Seek(3);
         EXPECT_EQ(ua_->Delete(), cecOK);
         return ub_->Edit();
       }},
      {-7, "a delete of a record the other session deleted",
       [&] {
         EXPECT_EQ(ua_->Insert({0, 4, "r4", 40}), cecOK);
         ub_->Seek(4);
         ua_->Seek(4);
         EXPECT_EQ(ua_->Delete(), cecOK);
         return ub_->Delete();
       }},
      {-8, "a post that breaks NOT NULL",
       [&] {
         ub_->Seek(1);
         EXPECT_EQ(ub_->Edit(), cecOK);
         SetBufferBit(true, test::kRunTrial, ub_->Buffer());
         const std::int32_t code = ub_->Post();
         EXPECT_NE(ub_->c.ErrorMessage.find("TrialID"), std::string::npos);
         // The edit keeps its locks: the other session cannot edit the
         // record; the corrected record posts.
         ua_->Seek(1);
         EXPECT_EQ(ua_->Edit(), cecRecordLocked);
         ub_->Set({1, 5, "fixed", 1});
         EXPECT_EQ(ub_->Post(), cecOK);
         ua_->Seek(1);
         EXPECT_EQ(ua_->Edit(), cecOK);
         EXPECT_EQ(ua_->Cancel(), cecOK);
         return code;
       }},
      {-9, "an edit of a temporary table",
       [&] {
         temp->Seek(1);
         return temp->Edit();
       }},
      {-10, "a delete of a temporary table",
       [&] {
         temp->Seek(1);
         return temp->Delete();
       }},
      {-12, "an edit of a record the other session is editing",
       [&] {
         ua_->Seek(1);
         EXPECT_EQ(ua_->Edit(), cecOK);
         ub_->Seek(1);
         const std::int32_t code = ub_->Edit();
         EXPECT_EQ(ub_->Delete(), cecRecordLocked);
         EXPECT_EQ(ua_->Cancel(), cecOK);
         return code;
       }},
      {-13, "an edit while the other session holds ltXIRW",
       [&] {
         EXPECT_TRUE(ua_->c.LockTable(ltXIRW, 1, 0, true));
         ub_->Seek(1);
         const std::int32_t code = ub_->Edit();
         EXPECT_TRUE(ua_->c.UnlockTable(ltXIRW, false));
         return code;
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.code) + ": " + row.situation);
    const std::int32_t code = row.run();
    EXPECT_EQ(code, row.code);
    // The dataset turns the code into the engine error with its text.
    try {
      CheckEngineResult(code, "");
      ADD_FAILURE() << "no engine error";
    } catch (const EVEZEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), row.code);
      if (row.code != -8) {
        EXPECT_EQ(e.ErrorMessage(), EVEZEngineError::CodeText(row.code));
      }
    }
  }
  // -3 and -11: no cursor operation reaches them (a delete the table refuses
  // is caught by the re-read check first; cancel reports nothing).
  EXPECT_EQ(EVEZEngineError::CodeText(-3), "Error deleting record");
  EXPECT_EQ(EVEZEngineError::CodeText(-11), "Cannot cancel operation in temporary mode");
  // No other lock of either session is left behind.
  EXPECT_TRUE(TableLocksOf(A()).empty());
  EXPECT_TRUE(TableLocksOf(B()).empty());
}

TEST_F(LocalCursorLockTest, ATableLockedByTheOtherSessionIsMinus13AfterTheFullCountOfWaits) {
  ASSERT_TRUE(ua_->c.LockTable(ltXIRW, 1, 0, true));
  ub_->Seek(1);
  const std::size_t edit_sleeps_before = clock_.Sleeps().size();
  EXPECT_EQ(ub_->Edit(), cecTableLocked);
  // The lock manager's 900 tries, 50 to 100 ms apart.
  const std::vector<std::uint32_t> sleeps = clock_.Sleeps();
  const std::size_t edit_sleeps = sleeps.size() - edit_sleeps_before;
  EXPECT_EQ(edit_sleeps, 899u);
  for (std::size_t i = edit_sleeps_before; i < sleeps.size(); ++i) {
    EXPECT_GE(sleeps[i], 50u);
    EXPECT_LT(sleeps[i], 100u);
  }

  const std::size_t posts_before = clock_.SleepsOf(40);
  EXPECT_EQ(ub_->Insert({0, 9, "x", 9}), cecTableLocked);
  EXPECT_EQ(clock_.SleepsOf(40) - posts_before, 2250u);
  const std::size_t deletes_before = clock_.SleepsOf(100);
  ub_->Seek(2);
  EXPECT_EQ(ub_->Delete(), cecTableLocked);
  EXPECT_EQ(clock_.SleepsOf(100) - deletes_before, 900u);
  // The loops slept with the table data's lock let go.
  EXPECT_EQ(clock_.slept_holding_lock, 0);

  ASSERT_TRUE(ua_->c.UnlockTable(ltXIRW, false));
  EXPECT_EQ(ub_->Insert({0, 9, "x", 9}), cecOK);
  EXPECT_EQ(ua_->All().size(), 4u);
  EXPECT_TRUE(TableLocksOf(B()).empty());
}

// A second edit in one session while the first holds ltSIRW is refused, and
// the first edit keeps both of its locks.
TEST_F(LocalCursorLockTest, ASecondEditRefusedItsTableLockLeavesTheFirstEditsLocks) {
  auto second = Open(A());
  ASSERT_TRUE(ua_->Seek(1));
  ASSERT_EQ(ua_->Edit(), cecOK);
  ASSERT_TRUE(second->Seek(2));
  EXPECT_EQ(second->Edit(), cecTableLocked);
  EXPECT_TRUE(LockedForB(1));
  const std::vector<TVEZLockType> held = TableLocksOf(A());
  EXPECT_NE(std::find(held.begin(), held.end(), ltSIRW), held.end());
  EXPECT_NE(std::find(held.begin(), held.end(), ltU), held.end());
  // The first edit ends normally and gives its locks back.
  ua_->Set({1, 100, "first", 1});
  EXPECT_EQ(ua_->Post(), cecOK);
  EXPECT_FALSE(LockedForB(1));
  EXPECT_TRUE(TableLocksOf(A()).empty());
}

// In a transaction the session's second edit gets ltXIRW again but not a
// second record lock: -12, and the first edit's record lock stays.
TEST_F(LocalCursorLockTest, ASecondEditRefusedItsRecordLockLeavesTheFirstEditsRecordLock) {
  auto second = Open(A());
  A().StartTransaction();
  ASSERT_TRUE(ua_->Seek(1));
  ASSERT_EQ(ua_->Edit(), cecOK);
  ASSERT_TRUE(second->Seek(2));
  EXPECT_EQ(second->Edit(), cecRecordLocked);
  EXPECT_TRUE(LockedForB(1));
  ua_->Set({1, 100, "first", 1});
  EXPECT_EQ(ua_->Post(), cecOK);
  A().Commit(false);
  EXPECT_FALSE(LockedForB(1));
  EXPECT_EQ(ub_->All()[0], (TRun{1, 100, "first", 1}));
}

// Two reads of one record differ in bytes the values do not cover: a BLOB
// read through an open stream leaves its cache handle in the buffer, which
// a second read does not have. The delete of the unchanged record goes ahead.
TEST_F(LocalCursorLockTest, ADeleteOfAnUnchangedRecordWithAnOpenBlobStreamSucceeds) {
  ua_->c.InternalInitRecord(ua_->Buffer(), true);
  ua_->Set({0, 7, "with note", 7});
  TVEZStream* note = ua_->c.InternalCreateBlobStream(true, false, test::kRunNote, bomWrite, false);
  ASSERT_NE(note, nullptr);
  note->WriteBuffer("a note", 6);
  ua_->c.InternalCloseBLOB(test::kRunNote);
  ua_->c.InternalPost(true);
  ASSERT_EQ(ua_->c.ErrorCode, cecOK);
  ASSERT_TRUE(ua_->Seek(4));
  TVEZStream* reader = ua_->c.InternalCreateBlobStream(false, false, test::kRunNote, bomRead, true);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->Size(), 6);
  EXPECT_EQ(ua_->Delete(), cecOK);
  ua_->c.ClearBLOBStreams(false);
  EXPECT_EQ(ub_->All().size(), 3u);
}

}  // namespace
}  // namespace vez

// The dataset component between two multi-user sessions on one file: a
// refused post raises the engine error and keeps the insert, closing while
// editing gives the record lock back.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "dbengine/api/VEZDataSet.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZEngineError.h"
#include "dbengine/api/VEZSession.h"
#include "platform/core/Clock.h"
#include "tests/dbengine/api/DataSetTestSupport.h"
#include "tests/dbengine/api/LocalCursorTestSupport.h"

namespace vez::test {
namespace {

class DataSetLockTest : public SessionLayerTest {
 protected:
  void SetUp() override {
    SessionLayerTest::SetUp();
    file_ = Path("shared.vez");
    CreateDatabaseFile(file_);
    one_ = std::make_unique<TVEZSession>();
    one_->SetSessionName("One");
    two_ = std::make_unique<TVEZSession>();
    two_->SetSessionName("Two");
    a_ = MakeDatabase("Log", file_, one_.get());
    b_ = MakeDatabase("Log", file_, two_.get());
    for (TVEZDatabase* d : {a_.get(), b_.get()}) {
      d->SetMultiUser(true);
      d->Open();
    }
    CreateRunsTable(LocalHandle(*a_));
    ub_ = std::make_unique<TCursorUser>(LocalHandle(*b_), "Runs");
    ub_->Open();
    ASSERT_EQ(ub_->Insert({0, 1, "r1", 10.0}), cecOK);
    table_ = std::make_unique<TTestTable>();
    table_->SetSessionName("One");
    table_->SetDatabaseName("Log");
    table_->TableName = "Runs";
    table_->Open();
  }
  void TearDown() override {
    table_.reset();
    ub_.reset();
    a_.reset();
    b_.reset();
    one_.reset();
    two_.reset();
    SessionLayerTest::TearDown();
  }

  std::string file_;
  platform::FakeClock clock_;
  platform::ScopedClock installed_{clock_};
  std::unique_ptr<TVEZSession> one_, two_;
  std::unique_ptr<TVEZDatabase> a_, b_;
  std::unique_ptr<TCursorUser> ub_;
  std::unique_ptr<TTestTable> table_;
};

TEST_F(DataSetLockTest, ARefusedPostRaisesTheEngineErrorAndStaysInInsert) {
  ASSERT_TRUE(ub_->c.LockTable(ltXIRW, 1, 0, true));
  table_->Append();
  table_->FieldByName("TrialID").SetAsInteger(7);
  try {
    table_->Post();
    FAIL() << "the post went through";
  } catch (const EVEZEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), cecTableLocked);
  }
  EXPECT_EQ(table_->State(), platform::TDataSetState::dsInsert);
  EXPECT_EQ(table_->FieldByName("TrialID").AsInteger(), 7);
  ASSERT_TRUE(ub_->c.UnlockTable(ltXIRW, false));
  table_->Post();
  EXPECT_EQ(table_->State(), platform::TDataSetState::dsBrowse);
  EXPECT_EQ(table_->RecordCount(), 2);
}

TEST_F(DataSetLockTest, ClosingWhileEditingGivesTheRecordLockBack) {
  table_->First();
  table_->Edit();
  table_->FieldByName("Name").SetAsString("mine");
  ASSERT_TRUE(ub_->Seek(1));
  EXPECT_TRUE(ub_->c.IsRecordLocked());
  table_->Close();
  ASSERT_TRUE(ub_->Seek(1));
  EXPECT_FALSE(ub_->c.IsRecordLocked());
  EXPECT_EQ(ub_->Edit(), cecOK);
  EXPECT_EQ(ub_->Cancel(), cecOK);
}

}  // namespace
}  // namespace vez::test

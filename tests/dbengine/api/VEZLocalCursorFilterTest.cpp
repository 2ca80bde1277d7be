// The local cursor's filter, locate and match-condition paths with the real
// SQL engine behind the expression seam: the application's "TrialID = n"
// filter on a memory Runs table, Locate on two fields, a text that does not
// parse, and a match test.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/api/VEZLocalCursor.h"
#include "tests/common/NativeError.h"
#include "tests/common/VEZTestSQLEngine.h"
#include "tests/dbengine/api/LocalCursorTestSupport.h"

namespace vez {
namespace {

using test::TCursorUser;
using test::TRun;

class LocalCursorFilterTest : public test::SessionLayerTest {
 protected:
  void SetUp() override {
    SessionLayerTest::SetUp();
    session_ = test::MakeLocalSession("MEMORY", "");
    session_->SetConnected(true);
    test::CreateRunsTable(*session_, "FilterRuns");
    user_ = std::make_unique<TCursorUser>(*session_, "FilterRuns");
    user_->Open();
    for (int i = 1; i <= 20; ++i)
      ASSERT_EQ(user_->Insert({0, i % 7, "run" + std::to_string(i % 4), 1.0 * i}), cecOK);
  }
  void TearDown() override {
    user_.reset();
    try {
      TVEZLocalCursor c;
      c.Session = session_.get();
      c.TableName = "FilterRuns";
      c.DeleteTable();
    } catch (...) {
    }
    session_->DisconnectQuietly();
    SessionLayerTest::TearDown();
  }

  test::TScopedSQLEngine engine_;
  std::unique_ptr<TVEZLocalSession> session_;
  std::unique_ptr<TCursorUser> user_;
};

TEST_F(LocalCursorFilterTest, AFilterRestrictsTheViewAndABadOneLeavesTheOldFilter) {
  user_->c.ActivateFilters("TrialID = 5", false, false);
  ASSERT_NE(user_->c.FilterExpression, nullptr);
  std::vector<TRun> rows = user_->All();
  ASSERT_EQ(rows.size(), 3u);  // runs 5, 12 and 19
  for (const TRun& r : rows)
    EXPECT_EQ(r.trial, 5);
  EXPECT_EQ(user_->c.GetRecordCount(), 3);

  TVEZBaseExpression* before = user_->c.FilterExpression;
  for (const char* bad : {"TrialID = ", "NoSuchField = 1", "", "TrialID = 5 5"}) {
    SCOPED_TRACE(bad);
    EXPECT_NE(test::NativeErrorOf([&] { user_->c.ActivateFilters(bad, false, false); }), 0);
    EXPECT_EQ(user_->c.FilterExpression, before);
    EXPECT_EQ(user_->c.GetRecordCount(), 3);
  }

  user_->c.ActivateFilters("TrialID > 4 AND Name = 'run1'", false, false);
  EXPECT_EQ(user_->All().size(), 2u);  // runs 5 and 13
  user_->c.DeactivateFilters();
  EXPECT_EQ(user_->c.FilterExpression, nullptr);
  EXPECT_EQ(user_->All().size(), 20u);
}

TEST_F(LocalCursorFilterTest, LocateFindsTheFirstRecordOfTwoFields) {
  const platform::Variant keys = platform::Variant::FromArray(
      {platform::Variant::FromInteger(3), platform::Variant::FromString("run2")});
  ASSERT_TRUE(user_->c.Locate("TrialID;Name", keys, false, false));
  EXPECT_EQ(user_->Get(), (TRun{10, 3, "run2", 10.0}));
  const platform::Variant none = platform::Variant::FromArray(
      {platform::Variant::FromInteger(3), platform::Variant::FromString("run9")});
  EXPECT_FALSE(user_->c.Locate("TrialID;Name", none, false, false));
  // Case-insensitive and partial keys reach the comparison.
  EXPECT_TRUE(user_->c.Locate("Name", platform::Variant::FromString("RUN1"), true, false));
  EXPECT_EQ(user_->Get().id, 1);
  EXPECT_FALSE(user_->c.Locate("Name", platform::Variant::FromString("RUN1"), false, false));
  EXPECT_TRUE(user_->c.Locate("Name", platform::Variant::FromString("ru"), false, true));
}

TEST_F(LocalCursorFilterTest, IsAnyRecordMatchConditionTestsTheWholeTable) {
  TVEZVariant six, seven;
  six.SetAsInteger(6);
  seven.SetAsInteger(7);
  EXPECT_TRUE(user_->c.IsAnyRecordMatchCondition("TrialID", doEQ, six));
  EXPECT_FALSE(user_->c.IsAnyRecordMatchCondition("TrialID", doEQ, seven));
  EXPECT_TRUE(user_->c.IsAnyRecordMatchCondition("TrialID", doLT, seven));
  EXPECT_FALSE(user_->c.IsAnyRecordMatchCondition("TrialID", doGT, six));
}

}  // namespace
}  // namespace vez

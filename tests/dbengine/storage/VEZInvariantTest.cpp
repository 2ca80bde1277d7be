// Rules the storage engine relies on, checked in the builds that keep the
// checks (the sanitizer build): a broken one stops the process where it
// broke. Each case breaks one rule on purpose.
#include <gtest/gtest.h>

#include <memory>

#include "dbengine/storage/VEZBTreePage.h"
#include "dbengine/storage/VEZKeyPath.h"
#include "dbengine/storage/VEZPageManager.h"
#include "tests/dbengine/storage/MemoryPageStorage.h"
#include "tests/dbengine/storage/TableTestSupport.h"

namespace vez::test {
namespace {

class InvariantTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef NDEBUG
    GTEST_SKIP() << "the checks are compiled out of this build";
#endif
  }
};

TEST_F(InvariantTest, ARecordReadWithoutTheDatabaseLockStops) {
  TTestDatabaseData db;
  TestSession session;
  TTableCursor cursor;
  cursor.TableName = "T";
  cursor.Session = &session;
  TVEZTableData* table = db.FindOrCreateTableData(cursor);
  TVEZFieldDefs fields;
  AddField(fields, "ID", aftInteger);
  TVEZIndexDefs indexes;
  TVEZConstraintDefs constraints;
  table->CreateTable(&cursor, fields, indexes, constraints);
  table->OpenTable(cursor);
  cursor.Attach(*table);
  cursor.NewRecord();
  cursor.SetInt(0, 1);
  ASSERT_TRUE(table->InsertRecord(cursor));
  cursor.FirstPosition = true;
  {
    TVEZLockGuard guard(*table);
    EXPECT_EQ(table->GetRecordBuffer(cursor, grmNext), grrOK);
  }
  cursor.FirstPosition = true;
  EXPECT_DEATH(table->GetRecordBuffer(cursor, grmNext), "holds the database lock");
  EXPECT_DEATH(db.Unlock(), "given back by the thread that holds it");
  table->CloseTable(cursor);
}

TEST_F(InvariantTest, AnUnpinnedPageIsNotReadAsAnIndexPage) {
  TMemoryPageStorage pm(512, 40);
  TVEZPage* page = pm.AddPage(0, kPageTypeTableIndex);
  pm.PutPage(page);
  TVEZRecordKeyRef key;
  EXPECT_DEATH(TVEZBTreePage(page, &key), "read only while pinned");
  pm.CancelChanges(0);
}

TEST_F(InvariantTest, AnEmptyKeyPathHasNoLastItem) {
  TVEZKeyPath path;
  EXPECT_DEATH(path.Last(), "a path that has one");
}

TEST_F(InvariantTest, ASavepointIsNotLeftOpenOverACommit) {
  TMemoryPageStorage pm(512, 40);
  pm.BeginSavepoint(0);
  EXPECT_DEATH(pm.ApplyChanges(0), "no savepoint is open while the session commits");
  pm.RollbackToSavepoint(0);
}

}  // namespace
}  // namespace vez::test

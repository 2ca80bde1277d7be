// The test local cursor does for the table data what the session layer's
// cursor does: here, that the record buffers it holds give their BLOB caches
// back to the table when the cursor goes.
#include "tests/common/VEZTestLocalCursor.h"

#include <gtest/gtest.h>

#include "tests/dbengine/storage/TableTestSupport.h"

namespace vez::test {
namespace {

class BlobCacheCountingTable : public TTestTableData {
 public:
  using TTestTableData::TTestTableData;
  int cleared = 0;
  void ClearBlobsCacheInRecordBuffer(std::uint8_t* record) override {
    if (record != nullptr) ++cleared;
  }
};

TEST(TestLocalCursor, BuffersClearTheirBlobCachesWhenTheCursorGoes) {
  TTestDatabaseData db;
  BlobCacheCountingTable table(&db);
  TVEZFieldDefs fields;
  AddField(fields, "ID", aftInteger);
  TVEZIndexDefs indexes;
  TVEZConstraintDefs constraints;
  table.SetTableName("C");
  table.CreateTable(nullptr, fields, indexes, constraints);
  TestSession session;
  session.SessionID = 1;
  {
    TTestLocalCursor cursor;
    cursor.Session = &session;
    cursor.TableName = "C";
    cursor.Open(table);
    cursor.NewRecord();
    cursor.BeginEdit();
    EXPECT_EQ(table.cleared, 0);
  }
  // Both the current and the edit buffer, before the table was closed.
  EXPECT_EQ(table.cleared, 2);
}

}  // namespace
}  // namespace vez::test

// Record bitmaps that cannot hold every record of a view: a record whose bit
// lies beyond what a bitmap can count makes it unusable, and the view is then
// searched and walked instead of answered from a bitmap that lacks records.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "dbengine/storage/VEZRecordBitmap.h"
#include "dbengine/storage/VEZTableData.h"
#include "tests/dbengine/storage/StorageTestDoubles.h"
#include "tests/dbengine/storage/TableTestSupport.h"

namespace vez::test {
namespace {

// Records from slot kFarSlot on take bits beyond the largest bitmap, as
// records deep in a large table of another engine would.
constexpr std::int32_t kFarSlot = 10;
constexpr std::int64_t kFarOffset = std::int64_t{1} << 31;

class TFarBitTableData : public TTestTableData {
 public:
  using TTestTableData::TTestTableData;
  std::int64_t RecordIDToApproximateRecNo(TVEZPageItemID id) override {
    return id.PageNo >= kFarSlot ? id.PageNo + kFarOffset : id.PageNo;
  }
  TVEZPageItemID ApproximateRecNoToRecordID(std::int64_t v) override {
    return {static_cast<std::int32_t>(v >= kFarOffset ? v - kFarOffset : v), 0};
  }
};

class TFarBitDatabaseData : public TTestDatabaseData {
 public:
  TVEZTableData* CreateTableData(TVEZCursor& cursor) override {
    auto table = std::make_unique<TFarBitTableData>(this);
    table->SetTableName(cursor.TableName);
    return AddTableData(std::move(table));
  }
};

class RecordBitmapLimitTest : public ::testing::Test {
 protected:
  static constexpr std::int32_t kID = 0;

  void SetUp() override {
    cursor_.TableName = "Far";
    cursor_.Session = &session_;
    table_ = static_cast<TTestTableData*>(db_.FindOrCreateTableData(cursor_));
    TVEZFieldDefs fields;
    AddField(fields, "ID", aftInteger);
    TVEZIndexDefs indexes;
    TVEZConstraintDefs constraints;
    table_->CreateTable(&cursor_, fields, indexes, constraints);
    table_->OpenTable(cursor_);
    cursor_.Attach(*table_);
    for (std::int32_t id = 1; id <= 14; ++id) {
      cursor_.NewRecord();
      cursor_.SetInt(kID, id);
      ASSERT_TRUE(table_->InsertRecord(cursor_));
    }
    bitmap_ = std::make_unique<TVEZRecordBitmap>(table_);
    cursor_.RecordBitmap = bitmap_.get();
    cursor_.IndexID = -1;
  }
  void TearDown() override {
    cursor_.RecordBitmap = nullptr;
    cursor_.FilterRecord = nullptr;
  }

  void Filter(std::function<bool(std::int32_t)> keep) {
    cursor_.FilterRecord = [this, keep](std::uint8_t* buffer, void*) {
      std::uint8_t* saved = cursor_.CurrentRecordBuffer;
      cursor_.CurrentRecordBuffer = buffer;
      const std::int32_t id = cursor_.GetInt(kID);
      cursor_.CurrentRecordBuffer = saved;
      return keep(id);
    };
    cursor_.DisableRecordBitmap();
  }
  std::vector<std::int32_t> Walk(bool forward) {
    TVEZLockGuard guard(*table_);
    cursor_.FirstPosition = forward;
    cursor_.LastPosition = !forward;
    std::vector<std::int32_t> ids;
    while (table_->GetRecordBuffer(cursor_, forward ? grmNext : grmPrior) == grrOK)
      ids.insert(forward ? ids.end() : ids.begin(), cursor_.GetInt(kID));
    return ids;
  }
  std::int32_t CurrentID() {
    TVEZLockGuard guard(*table_);
    EXPECT_EQ(table_->GetRecordBuffer(cursor_, grmCurrent), grrOK);
    return cursor_.GetInt(kID);
  }

  TestSession session_;
  TFarBitDatabaseData db_;
  TTableCursor cursor_;
  TTestTableData* table_ = nullptr;
  std::unique_ptr<TVEZRecordBitmap> bitmap_;
};

TEST_F(RecordBitmapLimitTest, ViewWithRecordsBeyondTheBitmapIsWalkedNotAnsweredFromIt) {
  Filter([](std::int32_t id) { return id % 2 != 0; });
  const std::vector<std::int32_t> want{1, 3, 5, 7, 9, 11, 13};
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass == 0 ? "before the count" : "after the count");
    EXPECT_EQ(Walk(true), want);
    EXPECT_EQ(Walk(false), want);
    EXPECT_EQ(table_->GetRecordCount(cursor_), 7);
    // The fill met records it could not mark: never complete, never read.
    EXPECT_TRUE(bitmap_->Unusable());
    EXPECT_FALSE(bitmap_->Active);
  }
  for (std::int64_t n = 1; n <= 7; ++n) {
    SCOPED_TRACE(n);
    table_->SetRecNo(cursor_, n);
    EXPECT_EQ(CurrentID(), want[static_cast<std::size_t>(n - 1)]);
    EXPECT_EQ(table_->GetRecNo(cursor_), n);
  }
  // Numbers beyond the view stand on its last record.
  table_->SetRecNo(cursor_, 99);
  EXPECT_EQ(CurrentID(), 13);
  // A move from a far record, and back across the limit.
  {
    TVEZLockGuard guard(*table_);
    ASSERT_EQ(table_->GetRecordBuffer(cursor_, grmPrior), grrOK);
    EXPECT_EQ(cursor_.GetInt(kID), 11);
    ASSERT_EQ(table_->GetRecordBuffer(cursor_, grmPrior), grrOK);
    EXPECT_EQ(cursor_.GetInt(kID), 9);
    ASSERT_EQ(table_->GetRecordBuffer(cursor_, grmNext), grrOK);
    EXPECT_EQ(cursor_.GetInt(kID), 11);
  }
  // A view that stays below the limit fills a complete bitmap again.
  Filter([](std::int32_t id) { return id % 2 != 0 && id <= 9; });
  EXPECT_EQ(table_->GetRecordCount(cursor_), 5);
  EXPECT_FALSE(bitmap_->Unusable());
  EXPECT_TRUE(bitmap_->Active);
  EXPECT_EQ(Walk(false), (std::vector<std::int32_t>{1, 3, 5, 7, 9}));
  table_->SetRecNo(cursor_, 4);
  EXPECT_EQ(CurrentID(), 7);
  EXPECT_EQ(table_->GetRecNo(cursor_), 4);
}

// A record inserted beyond the limit while the bitmap is complete: showing it
// makes the bitmap unusable and the view is searched again, the new record
// included.
TEST_F(RecordBitmapLimitTest, ShowingARecordBeyondTheLimitDropsACompleteBitmap) {
  Filter([](std::int32_t id) { return id <= 9 || id > 14; });
  EXPECT_EQ(table_->GetRecordCount(cursor_), 9);
  ASSERT_TRUE(bitmap_->Active);
  bitmap_->ShowRecord(TVEZPageItemID{kFarSlot + 5, 0});
  EXPECT_TRUE(bitmap_->Unusable());
  EXPECT_FALSE(bitmap_->Active);
  EXPECT_EQ(bitmap_->Size(), 0);
  cursor_.NewRecord();
  cursor_.SetInt(kID, 15);
  ASSERT_TRUE(table_->InsertRecord(cursor_));
  EXPECT_EQ(Walk(true), (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 15}));
  EXPECT_EQ(table_->GetRecordCount(cursor_), 10);
  table_->SetRecNo(cursor_, 10);
  EXPECT_EQ(CurrentID(), 15);
  EXPECT_EQ(table_->GetRecNo(cursor_), 10);
  // Hiding a record the bitmap cannot hold changes nothing.
  bitmap_->Clear();
  bitmap_->HideRecord(TVEZPageItemID{kFarSlot + 1, 0});
  EXPECT_FALSE(bitmap_->Unusable());
}

}  // namespace
}  // namespace vez::test

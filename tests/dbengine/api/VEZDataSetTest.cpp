// The dataset component: database-use flags, attachment and the cursor
// handle's life.
#include "dbengine/api/VEZDataSet.h"

#include <gtest/gtest.h>

#include <string>

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/foundation/VEZException.h"
#include "tests/dbengine/api/SessionTestSupport.h"

namespace vez::test {
namespace {

// Only the attachment of the dataset component: every record hook is inert.
class AttachOnlyDataSet : public TVEZDataSet {
 public:
  ~AttachOnlyDataSet() override { DestroyingClose(); }
  using TVEZDataSet::CloseDatabase;
  using TVEZDataSet::OpenDatabase;
  int handles_asked = 0;

 protected:
  TVEZCursor* CreateHandle() override {
    ++handles_asked;
    return nullptr;
  }
  bool GetFieldData(const platform::Field&, void*) override { return false; }
  void SetFieldData(platform::Field&, const void*) override {}
  platform::TRecordBuffer AllocRecordBuffer() override { return nullptr; }
  void FreeRecordBuffer(platform::TRecordBuffer&) override {}
  void GetBookmarkData(platform::TRecordBuffer, std::uint8_t*) override {}
  void SetBookmarkData(platform::TRecordBuffer, const std::uint8_t*) override {}
  platform::TBookmarkFlag GetBookmarkFlag(platform::TRecordBuffer) override { return {}; }
  void SetBookmarkFlag(platform::TRecordBuffer, platform::TBookmarkFlag) override {}
  platform::TGetResult GetRecord(platform::TRecordBuffer, platform::TGetMode, bool) override {
    return platform::TGetResult::grEOF;
  }
  int GetRecordSize() override { return 0; }
  void InternalInitRecord(platform::TRecordBuffer) override {}
  void InternalOpen() override {}
  void InternalClose() override {}
  void InternalInitFieldDefs() override {}
  void InternalFirst() override {}
  void InternalLast() override {}
  void InternalGotoBookmark(const std::uint8_t*) override {}
  void InternalSetToRecord(platform::TRecordBuffer) override {}
  void InternalAddRecord(platform::TRecordBuffer, bool) override {}
  void InternalDelete() override {}
};

using DataSetAttachTest = SessionLayerTest;

TEST_F(DataSetAttachTest, TheFirstFlagAttachesAndTheLastDetaches) {
  for (const char* name : {"MEMORY", "memory", "Memory"}) {
    SCOPED_TRACE(name);
    AttachOnlyDataSet dataset;
    dataset.SetDatabaseName(name);
    dataset.SetDBFlag(1, true);
    TVEZDatabase* database = dataset.Database();
    ASSERT_NE(database, nullptr);
    EXPECT_TRUE(database->Connected());
    EXPECT_EQ(database->DataSetCount(), 1);
    dataset.SetDBFlag(4, true);
    dataset.SetDBFlag(4, true);
    dataset.SetDBFlag(1, true);
    EXPECT_EQ(dataset.Database(), database);
    EXPECT_EQ(database->DataSetCount(), 1);
    EXPECT_EQ(dataset.DBFlags(), (1u << 1) | (1u << 4));
    dataset.SetDBFlag(1, false);
    dataset.SetDBFlag(1, false);
    EXPECT_EQ(dataset.Database(), database);
    dataset.SetDBFlag(4, false);
    EXPECT_EQ(dataset.Database(), nullptr);
    EXPECT_EQ(dataset.DBFlags(), 0);
  }
}

TEST_F(DataSetAttachTest, AFreedDataSetIsNoLongerListedByItsDatabase) {
  auto dataset = std::make_unique<AttachOnlyDataSet>();
  dataset->SetDatabaseName("MEMORY");
  dataset->SetDBFlag(2, true);
  TVEZDatabase* database = dataset->Database();
  ASSERT_NE(database, nullptr);
  auto keeper = std::make_unique<AttachOnlyDataSet>();
  keeper->SetDatabaseName("MEMORY");
  keeper->SetDBFlag(1, true);
  ASSERT_EQ(keeper->Database(), database);
  EXPECT_EQ(database->DataSetCount(), 2);
  dataset.reset();
  EXPECT_EQ(database->DataSetCount(), 1);
  keeper->SetDBFlag(1, false);
}

TEST_F(DataSetAttachTest, ClosingTheDatabaseDetachesADataSetThatHoldsOtherFlags) {
  AttachOnlyDataSet dataset;
  dataset.SetDatabaseName("MEMORY");
  dataset.SetDBFlag(1, true);
  TVEZDatabase* database = dataset.Database();
  ASSERT_NE(database, nullptr);
  database->CloseDataSets();
  EXPECT_EQ(database->DataSetCount(), 0);
  EXPECT_EQ(dataset.Database(), nullptr);
  EXPECT_EQ(dataset.DBFlags(), 0);
}

TEST_F(DataSetAttachTest, OpeningRefusesABlankNameAndAMissingHandleWithoutStayingAttached) {
  AttachOnlyDataSet dataset;
  dataset.Name = "Trials";
  EXPECT_EQ(DatabaseErrorOf([&] { dataset.Open(); }), "Trials: DatabaseName property is blank");
  EXPECT_EQ(dataset.handles_asked, 0);
  EXPECT_EQ(dataset.DBFlags(), 0);

  dataset.SetDatabaseName("MEMORY");
  try {
    dataset.Open();
    FAIL() << "opened without a cursor";
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), 20001);
    EXPECT_NE(std::string(e.what()).find("Error creating table handle"), std::string::npos);
  }
  EXPECT_EQ(dataset.handles_asked, 1);
  EXPECT_FALSE(dataset.Active());
  EXPECT_EQ(dataset.Database(), nullptr);
  EXPECT_EQ(dataset.DBFlags(), 0);
}

TEST_F(DataSetAttachTest, AnUnknownSessionNameRaisesAndAttachesNothing) {
  AttachOnlyDataSet dataset;
  dataset.SetDatabaseName("MEMORY");
  dataset.SetSessionName("NoSuchSession");
  EXPECT_THROW(dataset.SetDBFlag(0, true), EVEZException);
  EXPECT_EQ(dataset.DBFlags(), 0);
  EXPECT_EQ(dataset.Database(), nullptr);
}

}  // namespace
}  // namespace vez::test

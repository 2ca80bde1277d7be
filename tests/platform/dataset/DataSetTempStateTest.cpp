// Temporary states (a key filled in one step, calculated fields, a filter
// handler's record) are invisible from outside: no notification reaches the
// data sources, and the Modified flag of the real state comes back.
#include <gtest/gtest.h>

#include "platform/dataset/DataSet.h"
#include "platform/dataset/DataSource.h"
#include "tests/platform/dataset/DataSetTestUtil.h"
#include "tests/platform/dataset/FakeDataSet.h"

namespace platform::test {
namespace {

using S = TDataSetState;

class KeyFake : public FakeDataSet {
 public:
  // Fills the key in a temporary key state, as a one-step key search does,
  // and notes the Modified flag the key would take.
  void SetKeyValueTemporarily(int v) {
    TempState temp(*this, S::dsSetKey);
    FieldByName("V").SetAsInteger(v);
    key_modified = Modified();
  }
  bool key_modified = false;
};

TEST(DataSetTempStateTest, ATemporaryKeyStateReachesNoLinkAndKeepsTheRealModifiedFlag) {
  KeyFake master;
  Fill(master, {10, 20, 30});
  master.SetKey();  // puts the key buffer in place
  master.Cancel();
  DataSource source;
  source.SetDataSet(&master);
  int data_changes = 0;
  source.OnDataChange = [&](DataSource&, Field*) { ++data_changes; };
  FakeDataSet detail;
  Fill(detail, {1});
  MasterDataLink link(detail);
  int master_changes = 0;
  link.OnMasterChange = [&] { ++master_changes; };
  link.SetDataSource(&source);
  link.SetFieldNames("V");
  master_changes = 0;
  data_changes = 0;

  master.SetKeyValueTemporarily(99);
  EXPECT_TRUE(master.key_modified);
  EXPECT_EQ(master.State(), S::dsBrowse);
  EXPECT_FALSE(master.Modified());
  EXPECT_FALSE(master.ControlsDisabled());
  EXPECT_EQ(master_changes, 0);  // the detail does not follow a key being searched
  EXPECT_EQ(data_changes, 0);
  EXPECT_EQ(master.FieldByName("V").AsInteger(), 10);

  // In an edit, the edit's own Modified flag survives the temporary state.
  master.Edit();
  master.FieldByName("V").SetAsInteger(11);
  master_changes = 0;
  master.SetKeyValueTemporarily(5);
  EXPECT_EQ(master.State(), S::dsEdit);
  EXPECT_TRUE(master.Modified());
  EXPECT_EQ(master_changes, 0);
  master.Next();  // posts, since the edit is still modified
  master.First();
  EXPECT_EQ(master.FieldByName("V").AsInteger(), 11);
  // Notifications flow again once the temporary state is over.
  EXPECT_GT(master_changes, 0);
}

}  // namespace
}  // namespace platform::test

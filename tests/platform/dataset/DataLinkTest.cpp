#include "platform/dataset/DataSource.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/dataset/DatabaseError.h"
#include "tests/platform/dataset/DataSetTestUtil.h"
#include "tests/platform/dataset/FakeDataSet.h"

namespace platform::test {
namespace {

// Counts what a control would see.
class CountingLink : public DataLink {
 public:
  int active_changes = 0, dataset_changes = 0, scrolls = 0, records = 0, checks = 0, updates = 0,
      editing_changes = 0;

 protected:
  void ActiveChanged() override { ++active_changes; }
  void EditingChanged() override { ++editing_changes; }
  void DataSetChanged() override { ++dataset_changes; }
  void DataSetScrolled(int) override { ++scrolls; }
  void RecordChanged(Field*) override { ++records; }
  void CheckBrowseMode() override { ++checks; }
  void UpdateData() override { ++updates; }
};

// A detail table that shows the rows whose MasterID equals the master's ID,
// through a master link, as the table component does.
class DetailFake : public FakeDataSet {
 public:
  DetailFake() : link(*this) {
    DefineField("ID", ftAutoInc);
    DefineField("MasterID", ftInteger);
    link.OnMasterChange = [this] { Follow(); };
    link.OnMasterDisable = [this] {
      master_id = -1;  // no master record: nothing to show
      First();
    };
    SetOnFilterRecord([this](DataSet& ds, bool& accept) {
      accept = ds.FieldByName("MasterID").AsInteger() == master_id;
    });
    SetFiltered(true);
  }
  DataSource* GetDataSource() const override { return link.GetDataSource(); }
  void Follow() {
    master_id = link.Fields().empty() ? -1 : link.Fields()[0]->AsInteger();
    First();
  }
  MasterDataLink link;
  int master_id = -1;
};

std::vector<int> DetailIds(DetailFake& d) {
  std::vector<int> ids;
  for (d.First(); !d.Eof(); d.Next())
    ids.push_back(d.FieldByName("ID").AsInteger());
  return ids;
}

TEST(DataLinkTest, DetailFollowsMasterScrollingAndEmptiesWhenTheLinkIsDisabled) {
  FakeDataSet master;
  Fill(master, {10, 20, 30});  // IDs 1, 2, 3
  DetailFake detail;
  detail.Open();
  for (int m : {1, 2, 2, 3, 1})
    detail.AppendRecord({Variant(), Variant::FromInteger(m)});
  DataSource source;
  source.SetDataSet(&master);
  detail.link.SetDataSource(&source);
  detail.link.SetFieldNames("ID");
  EXPECT_EQ(DetailIds(detail), (std::vector<int>{1, 5}));
  master.Next();
  EXPECT_EQ(DetailIds(detail), (std::vector<int>{2, 3}));
  master.Last();
  EXPECT_EQ(DetailIds(detail), (std::vector<int>{4}));
  master.Close();  // the link goes inactive: the detail shows nothing
  EXPECT_TRUE(detail.IsEmpty());
  master.Open();
  EXPECT_EQ(DetailIds(detail), (std::vector<int>{1, 5}));
  source.SetEnabled(false);  // a disabled master source: nothing either
  EXPECT_TRUE(detail.IsEmpty());
  source.SetEnabled(true);
  EXPECT_EQ(DetailIds(detail), (std::vector<int>{1, 5}));
  detail.link.SetFieldNames("");
  EXPECT_TRUE(detail.IsEmpty());
  EXPECT_THROW(detail.link.SetFieldNames("Nope"), EDatabaseError);
  EXPECT_TRUE(detail.link.Fields().empty());
}

// A master that closes (and maybe reopens) while its controls are disabled
// rebuilds its fields before its links hear of it; the detail must never read
// the old ones in that window, say from the master's AfterOpen or a refresh of
// its own.
TEST(DataLinkTest, MasterFieldsRebuiltWhileControlsAreDisabledAreNeverReadStale) {
  struct Case {
    const char* name;
    bool reopen;
    std::vector<int> after_enable;
  };
  for (const Case& c : {Case{"reopened", true, {2, 3}}, Case{"left closed", false, {}}}) {
    SCOPED_TRACE(c.name);
    FakeDataSet master;
    Fill(master, {10, 20, 30});
    DetailFake detail;
    detail.Open();
    for (int m : {1, 2, 2, 3, 1})
      detail.AppendRecord({Variant(), Variant::FromInteger(m)});
    DataSource source;
    source.SetDataSet(&master);
    detail.link.SetDataSource(&source);
    detail.link.SetFieldNames("ID");
    master.Next();
    ASSERT_EQ(DetailIds(detail), (std::vector<int>{2, 3}));

    master.DisableControls();
    master.Close();
    if (c.reopen) {
      master.AfterOpen = [&](DataSet&) { detail.Follow(); };
      master.Open();
      master.Next();
    }
    detail.Follow();  // reads the link's fields before the link hears of the change
    for (const Field* f : detail.link.Fields())
      EXPECT_EQ(&master.FieldByName(f->FieldName()), f);
    EXPECT_TRUE(detail.IsEmpty());  // no master record yet as far as the link knows

    master.EnableControls();
    EXPECT_EQ(DetailIds(detail), c.after_enable);
    if (c.reopen) {
      ASSERT_EQ(detail.link.Fields().size(), 1u);
      EXPECT_EQ(detail.link.Fields()[0], &master.FieldByName("ID"));
    } else {
      EXPECT_TRUE(detail.link.Fields().empty());
    }
  }
}

TEST(DataLinkTest, MasterPostsThePendingDetailEditBeforeMoving) {
  FakeDataSet master;
  Fill(master, {10, 20});
  DetailFake detail;
  detail.Open();
  detail.AppendRecord({Variant(), Variant::FromInteger(1)});
  DataSource source;
  source.SetDataSet(&master);
  detail.link.SetDataSource(&source);
  detail.link.SetFieldNames("ID");
  detail.Edit();
  detail.FieldByName("MasterID").SetAsInteger(2);
  master.Next();  // the master's check of browse mode reaches the detail
  EXPECT_EQ(detail.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(DetailIds(detail), (std::vector<int>{1}));
}

TEST(DataLinkTest, CircularLinksAreRefused) {
  DetailFake a, b;
  DataSource sa, sb;
  sa.SetDataSet(&a);
  sb.SetDataSet(&b);
  b.link.SetDataSource(&sa);  // b follows a
  try {
    a.link.SetDataSource(&sb);  // a would follow b, which follows a
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Circular datalinks are not allowed");
  }
  EXPECT_EQ(a.link.GetDataSource(), nullptr);
  EXPECT_THROW(a.link.SetDataSource(&sa), EDatabaseError);  // a following itself
  DataSource sb2;
  EXPECT_NO_THROW(sb2.SetDataSet(&b));              // another source on b is no cycle
  EXPECT_THROW(sa.SetDataSet(&b), EDatabaseError);  // b would follow itself
  EXPECT_EQ(sa.GetDataSet(), &a);
}

TEST(DataLinkTest, LinksSeeEveryKindOfNotification) {
  FakeDataSet ds;
  DefineDefault(ds);
  DataSource source;
  CountingLink link;
  link.SetDataSource(&source);
  source.SetDataSet(&ds);
  EXPECT_FALSE(link.Active());
  Fill(ds, {1, 2});
  EXPECT_TRUE(link.Active());
  EXPECT_EQ(link.active_changes, 1);
  const int scrolls = link.scrolls;
  ds.Next();
  EXPECT_EQ(link.scrolls, scrolls + 1);
  ds.Edit();
  EXPECT_TRUE(link.Editing());
  ds.FieldByName("V").SetAsInteger(3);
  EXPECT_GE(link.records, 1);
  ds.Post();
  EXPECT_FALSE(link.Editing());
  EXPECT_EQ(link.editing_changes, 2);
  EXPECT_GE(link.updates, 1);
  EXPECT_GE(link.checks, 1);
  source.SetEnabled(false);
  EXPECT_FALSE(link.Active());
  source.SetEnabled(true);
  EXPECT_TRUE(link.Active());
  ds.Close();
  EXPECT_FALSE(link.Active());
  EXPECT_EQ(link.active_changes, 4);
}

TEST(DataLinkTest, DisableControlsBatchesIntoOneNotification) {
  FakeDataSet ds;
  Fill(ds, {1, 2, 3});
  DataSource source;
  source.SetDataSet(&ds);
  CountingLink link;
  link.SetDataSource(&source);
  int data_changes = 0;
  source.OnDataChange = [&](DataSource&, Field*) { ++data_changes; };
  ds.DisableControls();
  ds.DisableControls();  // nests
  ds.Next();
  ds.Next();
  ds.AppendRecord({Variant(), Variant(), Variant::FromInteger(4)});
  ds.Edit();
  ds.FieldByName("V").SetAsInteger(5);
  ds.Post();
  ds.First();
  EXPECT_EQ(link.dataset_changes + link.scrolls + link.records, 0);
  ds.EnableControls();
  EXPECT_EQ(link.dataset_changes + link.scrolls + link.records, 0);
  EXPECT_TRUE(ds.ControlsDisabled());
  ds.EnableControls();
  EXPECT_FALSE(ds.ControlsDisabled());
  EXPECT_EQ(link.dataset_changes, 1);
  EXPECT_EQ(link.scrolls + link.records, 0);
  EXPECT_EQ(data_changes, 1);
  ds.EnableControls();  // unbalanced: nothing happens
  EXPECT_EQ(link.dataset_changes, 1);
}

TEST(DataLinkTest, DestroyingEitherSideDetachesTheOther) {
  CountingLink link;
  auto source = std::make_unique<DataSource>();
  {
    FakeDataSet ds;
    Fill(ds, {1});
    source->SetDataSet(&ds);
    link.SetDataSource(source.get());
    EXPECT_TRUE(link.Active());
  }
  EXPECT_EQ(source->GetDataSet(), nullptr);
  EXPECT_FALSE(link.Active());
  source.reset();
  EXPECT_EQ(link.GetDataSource(), nullptr);
}

}  // namespace
}  // namespace platform::test

// The re-entrancy guard at the seams of an operation: the After events of a
// step (the post or cancel that navigation makes first) still run inside the
// operation, and starting key editing is an operation of its own.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/dataset/DataSet.h"
#include "platform/dataset/DatabaseError.h"
#include "tests/platform/dataset/DataSetTestUtil.h"
#include "tests/platform/dataset/FakeDataSet.h"

namespace platform::test {
namespace {

using S = TDataSetState;

constexpr const char* kBusy =
    "Cannot start this operation while the dataset is in the middle of another one";

bool RefusedAsBusy(const std::function<void()>& op) {
  try {
    op();
  } catch (const EDatabaseError& e) {
    return std::string(e.what()) == kBusy;
  }
  return false;
}

TEST(DataSetOperationTest, AfterEventsOfAnInnerStepCannotStartAnOperation) {
  struct Case {
    const char* name;
    bool modify;  // modified edit (posted) or not (cancelled)
    std::function<void(FakeDataSet&)> arm;
    std::function<void(FakeDataSet&, const TBookmark& last)> op;
  };
  const std::vector<Case> cases = {
      {"Next posts, AfterPost -> Edit", true,
       [](FakeDataSet& ds) { ds.AfterPost = [](DataSet& d) { d.Edit(); }; },
       [](FakeDataSet& ds, const TBookmark&) { ds.Next(); }},
      {"First cancels, AfterCancel -> Insert", false,
       [](FakeDataSet& ds) { ds.AfterCancel = [](DataSet& d) { d.Insert(); }; },
       [](FakeDataSet& ds, const TBookmark&) { ds.First(); }},
      {"Insert posts, AfterPost -> Delete", true,
       [](FakeDataSet& ds) { ds.AfterPost = [](DataSet& d) { d.Delete(); }; },
       [](FakeDataSet& ds, const TBookmark&) { ds.Insert(); }},
      {"Refresh posts, AfterPost -> Last", true,
       [](FakeDataSet& ds) { ds.AfterPost = [](DataSet& d) { d.Last(); }; },
       [](FakeDataSet& ds, const TBookmark&) { ds.Refresh(); }},
      {"GotoBookmark posts, AfterPost -> Edit", true,
       [](FakeDataSet& ds) { ds.AfterPost = [](DataSet& d) { d.Edit(); }; },
       [](FakeDataSet& ds, const TBookmark& last) { ds.GotoBookmark(last); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDataSet ds;
    Fill(ds, {1, 2, 3});
    ds.Next();  // on the second row
    const TBookmark second = ds.GetBookmark();
    ds.Last();
    const TBookmark last = ds.GetBookmark();
    ds.GotoBookmark(second);
    ds.Edit();
    if (c.modify) ds.FieldByName("V").SetAsInteger(20);
    c.arm(ds);
    EXPECT_TRUE(RefusedAsBusy([&] { c.op(ds, last); }));
    // The step itself was done; the handler's operation was not.
    EXPECT_EQ(ds.State(), S::dsBrowse);
    EXPECT_EQ(ds.RecordCount(), 3);
    ds.AfterPost = nullptr;
    ds.AfterCancel = nullptr;
    ds.GotoBookmark(second);
    EXPECT_EQ(ds.FieldByName("V").AsInteger(), c.modify ? 20 : 2);
  }
}

TEST(DataSetOperationTest, AfterEventsOfAWholeOperationMayStartTheNext) {
  FakeDataSet ds;
  Fill(ds, {1, 2, 3});
  ds.Next();
  ds.Edit();
  ds.FieldByName("V").SetAsInteger(20);
  // CheckBrowseMode on its own is the whole operation: its post is the last step.
  ds.AfterPost = [](DataSet& d) { d.Last(); };
  ds.CheckBrowseMode();
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 3);
  ds.AfterPost = nullptr;
  // So is a Cancel's: its AfterCancel may move on.
  ds.Edit();
  ds.AfterCancel = [](DataSet& d) { d.First(); };
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 1);
}

TEST(DataSetOperationTest, StartingKeyEditingFromAHandlerMidWayIsRefused) {
  FakeDataSet ds;
  Fill(ds, {1, 2, 3});
  ds.BeforeScroll = [](DataSet& d) { static_cast<FakeDataSet&>(d).SetKey(); };
  EXPECT_TRUE(RefusedAsBusy([&] { ds.Next(); }));
  EXPECT_EQ(ds.State(), S::dsBrowse);
  ds.BeforeScroll = nullptr;
  ds.Next();
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 2);
  // Outside an operation key editing starts and ends as before.
  ds.SetKey();
  EXPECT_EQ(ds.State(), S::dsSetKey);
  ds.Cancel();
  EXPECT_EQ(ds.State(), S::dsBrowse);
}

}  // namespace
}  // namespace platform::test

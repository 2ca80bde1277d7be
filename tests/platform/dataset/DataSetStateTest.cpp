// Temporary states, key editing, filters and searches, and the re-entrancy
// guard of the dataset base.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/dataset/DataSet.h"
#include "platform/dataset/DatabaseError.h"
#include "platform/ui/EngineUi.h"
#include "tests/common/ScriptedEngineUi.h"
#include "tests/platform/dataset/DataSetTestUtil.h"
#include "tests/platform/dataset/FakeDataSet.h"

namespace platform::test {
namespace {

using S = TDataSetState;

std::vector<int> Visible(FakeDataSet& ds) {
  std::vector<int> out;
  for (ds.First(); !ds.Eof(); ds.Next())
    out.push_back(ds.FieldByName("V").AsInteger());
  return out;
}

TEST(DataSetStateTest, ATemporaryStateComesBackAfterAThrowingHandler) {
  FakeDataSet ds;
  DefineDefault(ds);
  ds.AddCalculatedField("C", ftInteger);
  bool fail = false;
  ds.OnCalcFields = [&](DataSet& d) {
    EXPECT_EQ(d.State(), S::dsCalcFields);
    if (fail) throw std::runtime_error("calc failed");
  };
  Fill(ds, {1, 2});
  fail = true;
  EXPECT_THROW(ds.Next(), std::runtime_error);
  EXPECT_EQ(ds.State(), S::dsBrowse);
  fail = false;
  ds.Next();
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 2);
}

TEST(DataSetStateTest, FilterHandlerSeesEachRecordAndAThrowDoesNotStopTheScan) {
  ScriptedEngineUi ui;
  ScopedEngineUi scope(ui);
  FakeDataSet ds;
  Fill(ds, {1, 2, 3, 4, 5});
  std::vector<int> seen;
  ds.SetOnFilterRecord([&](DataSet& d, bool& accept) {
    EXPECT_EQ(d.State(), S::dsFilter);
    const int v = d.FieldByName("V").AsInteger();
    seen.push_back(v);
    accept = v != 2;
    if (v == 3) throw EDatabaseError("bad row 3");  // accept stays true
  });
  ds.SetFiltered(true);
  ui.ExpectReport(1);
  EXPECT_EQ(Visible(ds), (std::vector<int>{1, 3, 4, 5}));
  EXPECT_EQ(ds.State(), S::dsBrowse);
  EXPECT_EQ(ui.Reports(), (std::vector<std::string>{"bad row 3"}));
  EXPECT_FALSE(seen.empty());
  ds.SetFiltered(false);
  EXPECT_EQ(Visible(ds), (std::vector<int>{1, 2, 3, 4, 5}));
  ui.ExpectDone();
}

TEST(DataSetStateTest, FindFirstAndItsKinSearchThroughFindRecord) {
  FakeDataSet ds;
  Fill(ds, {1, 2, 3, 4, 5, 6});
  ds.SetOnFilterRecord(
      [](DataSet& d, bool& accept) { accept = d.FieldByName("V").AsInteger() % 2 == 0; });
  EXPECT_TRUE(ds.FindFirst());
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 2);
  EXPECT_TRUE(ds.FindNext());
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 4);
  EXPECT_TRUE(ds.FindLast());
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 6);
  EXPECT_TRUE(ds.FindPrior());
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 4);
  EXPECT_TRUE(ds.Found());
  ds.Last();
  EXPECT_FALSE(ds.FindNext());
  EXPECT_FALSE(ds.Found());
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 6);  // no move when nothing is found
  // The dataset itself stays unfiltered.
  EXPECT_EQ(Visible(ds), (std::vector<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_FALSE(ds.Locate("V", Variant::FromInteger(3), 0));
  EXPECT_TRUE(ds.Lookup("V", Variant::FromInteger(3), "Name").IsNull());
}

TEST(DataSetStateTest, CancelledKeyEditingRestoresTheKeyBuffer) {
  FakeDataSet ds;
  Fill(ds, {1, 2});
  ds.SetKey();
  EXPECT_EQ(ds.State(), S::dsSetKey);
  ds.FieldByName("V").SetAsInteger(5);
  ds.Post();
  EXPECT_EQ(ds.State(), S::dsBrowse);
  const std::vector<std::uint8_t> posted = ds.Key();
  ds.EditKey();
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 5);  // the key, not the record
  ds.FieldByName("V").SetAsInteger(9);
  ds.FieldByName("Name").SetAsString("k");
  EXPECT_NE(ds.Key(), posted);
  ds.Cancel();
  EXPECT_EQ(ds.State(), S::dsBrowse);
  EXPECT_EQ(ds.Key(), posted);
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 1);  // the record again
  // Navigation ends key editing by keeping the key.
  ds.EditKey();
  ds.FieldByName("V").SetAsInteger(7);
  ds.Next();
  ds.EditKey();
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 7);
  ds.Cancel();
  // SetKey starts from a clear key.
  ds.SetKey();
  EXPECT_TRUE(ds.FieldByName("V").IsNull());
  ds.Cancel();
  EXPECT_EQ(ds.RecordCount(), 2);
}

TEST(DataSetStateTest, HandlersCannotStartAnOperationInTheMiddleOfOne) {
  struct Case {
    const char* name;
    std::function<void(FakeDataSet&)> arm;  // installs a handler that re-enters
    std::function<void(FakeDataSet&)> op;
  };
  const std::vector<Case> cases = {
      {"BeforeScroll -> Edit",
       [](FakeDataSet& ds) { ds.BeforeScroll = [](DataSet& d) { d.Edit(); }; },
       [](FakeDataSet& ds) { ds.Next(); }},
      {"BeforePost -> Next", [](FakeDataSet& ds) { ds.BeforePost = [](DataSet& d) { d.Next(); }; },
       [](FakeDataSet& ds) {
         ds.Edit();
         ds.FieldByName("V").SetAsInteger(9);
         ds.Post();
       }},
      {"OnCalcFields -> First",
       [](FakeDataSet& ds) { ds.OnCalcFields = [](DataSet& d) { d.First(); }; },
       [](FakeDataSet& ds) { ds.Next(); }},
      {"filter handler -> Delete",
       [](FakeDataSet& ds) {
         ds.SetOnFilterRecord([](DataSet& d, bool&) { d.Delete(); });
         ds.SetFiltered(true);
       },
       [](FakeDataSet& ds) { ds.First(); }},
      {"pumped event -> AppendRecord",
       [](FakeDataSet& ds) {
         ds.fail = [&ds](std::string_view hook) {
           if (hook == "GetRecord")
             ds.AppendRecord({Variant(), Variant(), Variant::FromInteger(1)});
         };
       },
       [](FakeDataSet& ds) { ds.Last(); }},
      {"BeforeEdit -> Post", [](FakeDataSet& ds) { ds.BeforeEdit = [](DataSet& d) { d.Post(); }; },
       [](FakeDataSet& ds) { ds.Edit(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedEngineUi ui;  // the filter handler's error is reported, not thrown
    ScopedEngineUi scope(ui);
    FakeDataSet ds;
    DefineDefault(ds);
    ds.AddCalculatedField("C", ftInteger);
    Fill(ds, {1, 2, 3});
    c.arm(ds);
    bool refused = false;
    ui.ExpectReport(100);
    try {
      c.op(ds);
    } catch (const EDatabaseError& e) {
      refused = std::string(e.what()) ==
                "Cannot start this operation while the dataset is in the middle of another one";
    }
    for (const std::string& r : ui.Reports())
      refused |=
          r == "Cannot start this operation while the dataset is in the middle of another one";
    EXPECT_TRUE(refused);
    EXPECT_EQ(ds.RecordCount(), 3);
    // Once the handlers are gone the dataset works on.
    ds.BeforeScroll = nullptr;
    ds.BeforePost = nullptr;
    ds.BeforeEdit = nullptr;
    ds.OnCalcFields = nullptr;
    ds.SetOnFilterRecord(nullptr);
    ds.fail = nullptr;
    ds.Cancel();
    ds.SetFiltered(false);
    EXPECT_EQ(Visible(ds).size(), 3u);
  }
}

TEST(DataSetStateTest, AfterEventsMayStartTheNextOperation) {
  FakeDataSet ds;
  Fill(ds, {1, 2, 3});
  ds.AfterPost = [](DataSet& d) { d.First(); };
  ds.AfterOpen = [](DataSet& d) { d.Last(); };
  ds.Next();
  ds.Edit();
  ds.FieldByName("V").SetAsInteger(20);
  ds.Post();
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 1);
  ds.Close();
  ds.Open();
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 3);
  // A scroll handler may edit once the scroll is over.
  ds.AfterOpen = nullptr;
  ds.AfterPost = nullptr;
  ds.AfterScroll = [](DataSet& d) {
    if (d.State() == TDataSetState::dsBrowse && d.FieldByName("ID").AsInteger() == 2) d.Edit();
  };
  ds.First();
  ds.Next();
  EXPECT_EQ(ds.State(), S::dsEdit);
}

}  // namespace
}  // namespace platform::test

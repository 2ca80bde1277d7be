#include "platform/dataset/DataSet.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/dataset/DatabaseError.h"
#include "platform/ui/EngineUi.h"
#include "tests/common/DataSetModel.h"
#include "tests/common/ScriptedEngineUi.h"
#include "tests/platform/dataset/DataSetTestUtil.h"
#include "tests/platform/dataset/FakeDataSet.h"

namespace platform::test {
namespace {

using S = TDataSetState;

std::vector<int> Values(FakeDataSet& ds) {
  std::vector<int> out;
  for (const auto& [id, image] : ds.rows) {
    (void)image;
    std::int32_t v;
    const auto bytes = ds.StoredBytes(id, ds.FieldByName("V"));
    std::memcpy(&v, bytes.data(), 4);
    out.push_back(v);
  }
  return out;
}

void ThrowOn(FakeDataSet& ds, std::string hook, int times = 1000) {
  ds.fail = [hook, times](std::string_view h) mutable {
    if (h == hook && times-- > 0) throw EDatabaseError("injected " + hook);
  };
}

TEST(DataSetTest, OpenReadsFirstRecordAndCloseFreesBuffers) {
  FakeDataSet ds;
  Fill(ds, {5, 6, 7});
  EXPECT_EQ(ds.State(), S::dsBrowse);
  EXPECT_TRUE(ds.Bof());
  EXPECT_FALSE(ds.Eof());
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 5);
  EXPECT_EQ(ds.live_buffers, 2);
  ds.Close();
  EXPECT_EQ(ds.State(), S::dsInactive);
  EXPECT_EQ(ds.live_buffers, 0);
  EXPECT_EQ(ds.FieldCount(), 0);
  ds.Open();
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 5);
}

TEST(DataSetTest, EmptyDatasetIsBofAndEof) {
  FakeDataSet ds;
  Fill(ds, {});
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Bof());
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_TRUE(ds.FieldByName("V").IsNull());
  EXPECT_TRUE(ds.GetBookmark().empty());
}

TEST(DataSetTest, FailedOpenLeavesDatasetInactiveWithoutBuffers) {
  for (const char* hook : {"Open", "GetRecord", "AllocRecordBuffer"}) {
    SCOPED_TRACE(hook);
    FakeDataSet ds;
    DefineDefault(ds);
    ds.rows[1] = std::vector<std::uint8_t>(3 + 4 + 11 + 4, 0);  // one all-NULL row
    ThrowOn(ds, hook);
    EXPECT_THROW(ds.Open(), EDatabaseError);
    EXPECT_FALSE(ds.Active());
    EXPECT_EQ(ds.live_buffers, 0);
    EXPECT_EQ(ds.FieldCount(), 0);
    ds.fail = nullptr;
  }
}

TEST(DataSetTest, ClosedDatasetRefusesNavigationAndEditing) {
  FakeDataSet ds;
  DefineDefault(ds);
  const std::vector<std::pair<const char*, std::function<void()>>> ops = {
      {"First", [&] { ds.First(); }},   {"Next", [&] { ds.Next(); }},
      {"Insert", [&] { ds.Insert(); }}, {"Edit", [&] { ds.Edit(); }},
      {"Delete", [&] { ds.Delete(); }}, {"Refresh", [&] { ds.Refresh(); }}};
  for (const auto& [name, op] : ops) {
    SCOPED_TRACE(name);
    try {
      op();
      ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& e) {
      EXPECT_STREQ(e.what(), "Cannot perform this operation on a closed dataset");
    }
  }
  ds.Name = "TBL_Data";
  try {
    ds.First();
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "TBL_Data: Cannot perform this operation on a closed dataset");
  }
}

// ---- implicit behaviours

TEST(DataSetTest, NavigationPostsModifiedEditAndCancelsUnmodified) {
  FakeDataSet ds;
  Fill(ds, {1, 2, 3});
  ds.Edit();
  ds.FieldByName("V").SetAsInteger(10);
  ds.Next();
  EXPECT_EQ(ds.State(), S::dsBrowse);
  EXPECT_EQ(Values(ds), (std::vector<int>{10, 2, 3}));
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 2);

  ds.Edit();  // no change
  ds.Last();
  EXPECT_EQ(ds.State(), S::dsBrowse);
  EXPECT_EQ(Values(ds), (std::vector<int>{10, 2, 3}));

  ds.Insert();  // unmodified insert is dropped, not stored
  ds.First();
  EXPECT_EQ(ds.RecordCount(), 3);
}

TEST(DataSetTest, FailedPostKeepsEditUntilCancel) {
  FakeDataSet ds;
  Fill(ds, {1, 2});
  ds.Edit();
  ds.FieldByName("V").SetAsInteger(99);
  ThrowOn(ds, "Post");
  EXPECT_THROW(ds.Post(), EDatabaseError);
  EXPECT_EQ(ds.State(), S::dsEdit);
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 99);
  // Every navigation tries to post again and fails again.
  EXPECT_THROW(ds.Next(), EDatabaseError);
  EXPECT_EQ(ds.State(), S::dsEdit);
  EXPECT_THROW(ds.First(), EDatabaseError);
  EXPECT_EQ(ds.State(), S::dsEdit);
  ds.Cancel();
  EXPECT_EQ(ds.State(), S::dsBrowse);
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 1);
  EXPECT_EQ(Values(ds), (std::vector<int>{1, 2}));
  ds.fail = nullptr;
  ds.Next();
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 2);
}

TEST(DataSetTest, FailedInsertPostKeepsInsertUntilCancel) {
  FakeDataSet ds;
  Fill(ds, {1});
  ds.Append();
  ds.FieldByName("V").SetAsInteger(7);
  ThrowOn(ds, "Post");
  EXPECT_THROW(ds.Next(), EDatabaseError);
  EXPECT_EQ(ds.State(), S::dsInsert);
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 7);
  ds.fail = nullptr;
  ds.Post();
  EXPECT_EQ(Values(ds), (std::vector<int>{1, 7}));
}

TEST(DataSetTest, CursorReturnsToActiveRecordBeforeEachRecordOperation) {
  struct Case {
    const char* name;
    std::function<void(FakeDataSet&)> op;
    std::vector<int> expected;
  };
  const std::vector<Case> cases = {
      {"Delete", [](FakeDataSet& ds) { ds.Delete(); }, {1, 3}},
      {"Edit+Post",
       [](FakeDataSet& ds) {
         ds.Edit();
         ds.ScrambleCursor();
         ds.FieldByName("V").SetAsInteger(20);
         ds.ScrambleCursor();
         ds.Post();
       },
       {1, 20, 3}},
      {"Edit+Cancel",
       [](FakeDataSet& ds) {
         ds.Edit();
         ds.ScrambleCursor();
         ds.Cancel();
         EXPECT_EQ(ds.FieldByName("V").AsInteger(), 2);
       },
       {1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDataSet ds;
    Fill(ds, {1, 2, 3});
    ds.Next();
    ds.ScrambleCursor();
    c.op(ds);
    EXPECT_EQ(Values(ds), c.expected);
  }
}

TEST(DataSetTest, RequiredFieldsAreCheckedOnPost) {
  FakeDataSet ds;
  ds.DefineField("ID", ftAutoInc);
  ds.DefineField("Version", ftString, 20, true);
  ds.Open();
  ds.Append();
  try {
    ds.Post();
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'Version' must have a value");
  }
  EXPECT_EQ(ds.State(), S::dsInsert);
  EXPECT_TRUE(ds.rows.empty());
  ds.FieldByName("Version").SetAsString("2.0");
  ds.Post();
  EXPECT_EQ(ds.rows.size(), 1u);
}

TEST(DataSetTest, AfterPostTheNewRowIsActiveWithItsAutoincValue) {
  FakeDataSet ds;
  Fill(ds, {1, 2});
  ds.First();
  ds.Insert();
  EXPECT_TRUE(ds.FieldByName("ID").IsNull());
  EXPECT_EQ(ds.RecNo(), -1);
  ds.FieldByName("V").SetAsInteger(3);
  ds.Post();
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 3);
  EXPECT_EQ(ds.RecNo(), 3);
  const TBookmark b = ds.GetBookmark();
  ASSERT_FALSE(b.empty());
  ds.First();
  ds.GotoBookmark(b);
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 3);
}

TEST(DataSetTest, AppendRecordLeavesAutoincToTheTableAndShowsTheNewRow) {
  FakeDataSet ds;
  Fill(ds, {});
  ds.AppendRecord({Variant(), Variant::FromString("a"), Variant::FromInteger(4)});
  ds.AppendRecord({Variant::Null(), Variant::FromString("b"), Variant::FromInteger(5)});
  EXPECT_EQ(ds.State(), S::dsBrowse);
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 2);
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "b");
  // A value given for the autoincrement column is kept.
  ds.AppendRecord({Variant::FromInteger(40), Variant::FromString("c"), Variant()});
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 40);
  EXPECT_TRUE(ds.FieldByName("V").IsNull());
}

TEST(DataSetTest, FailedAppendRecordStaysOnTheActiveRecord) {
  FakeDataSet ds;
  Fill(ds, {1, 2});
  ds.Next();
  ThrowOn(ds, "AddRecord");
  EXPECT_THROW(ds.AppendRecord({Variant(), Variant::FromString("x"), Variant::FromInteger(9)}),
               EDatabaseError);
  EXPECT_EQ(ds.State(), S::dsBrowse);
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 2);
  EXPECT_EQ(Values(ds), (std::vector<int>{1, 2}));
  // Bad text for a field fails before anything is stored, too.
  ds.fail = nullptr;
  EXPECT_THROW(ds.AppendRecord({Variant(), Variant(), Variant::FromString("x1")}), EConvertError);
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 2);
  EXPECT_EQ(Values(ds), (std::vector<int>{1, 2}));
}

TEST(DataSetTest, EditOnEmptyInsertsAndDeleteOnEmptyRaises) {
  FakeDataSet ds;
  Fill(ds, {});
  ds.Edit();
  EXPECT_EQ(ds.State(), S::dsInsert);
  ds.Cancel();
  EXPECT_EQ(ds.State(), S::dsBrowse);
  try {
    ds.Delete();
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Cannot perform this operation on an empty dataset");
  }
}

TEST(DataSetTest, DeleteInInsertCancelsTheInsert) {
  FakeDataSet ds;
  Fill(ds, {1});
  ds.Append();
  ds.Delete();
  EXPECT_EQ(ds.State(), S::dsBrowse);
  EXPECT_EQ(Values(ds), (std::vector<int>{1}));
}

TEST(DataSetTest, DeleteShowsTheNextRecordOrThePriorAtTheEnd) {
  FakeDataSet ds;
  Fill(ds, {1, 2, 3});
  ds.Next();
  ds.Delete();
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 3);
  ds.Delete();
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 1);
  ds.Delete();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.Bof());
}

TEST(DataSetTest, ReadOnlyDatasetRefusesChanges) {
  FakeDataSet ds;
  Fill(ds, {1});
  ds.read_only = true;
  for (auto op : {&DataSet::Edit, &DataSet::Insert, &DataSet::Append}) {
    try {
      (ds.*op)();
      ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& e) {
      EXPECT_STREQ(e.what(), "Cannot modify a read-only dataset");
    }
    EXPECT_EQ(ds.State(), S::dsBrowse);
  }
}

TEST(DataSetTest, WritingAFieldInBrowseModeRaises) {
  FakeDataSet ds;
  Fill(ds, {1});
  try {
    ds.FieldByName("V").SetAsInteger(2);
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Dataset not in edit or insert mode");
  }
  EXPECT_THROW(ds.Post(), EDatabaseError);
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 1);
}

TEST(DataSetTest, ReadOnlyFieldRefusesValues) {
  FakeDataSet ds;
  Fill(ds, {1});
  ds.FieldByName("V").ReadOnly = true;
  ds.Edit();
  try {
    ds.FieldByName("V").SetAsInteger(2);
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'V' cannot be modified");
  }
}

TEST(DataSetTest, FieldByNameAndFindFieldIgnoreCase) {
  FakeDataSet ds;
  Fill(ds, {1});
  for (const char* name : {"Name", "NAME", "name", "nAmE"}) {
    SCOPED_TRACE(name);
    ASSERT_NE(ds.FindField(name), nullptr);
    EXPECT_EQ(ds.FindField(name), &ds.FieldByName(name));
    EXPECT_EQ(ds.FindField(name)->FieldName(), "Name");
  }
  EXPECT_EQ(ds.FindField("Nam"), nullptr);
  EXPECT_EQ(ds.FindField(""), nullptr);
  try {
    ds.FieldByName("Missing");
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'Missing' not found");
  }
  EXPECT_THROW(ds.Fields(3), EListError);
  EXPECT_EQ(ds.Fields(2).FieldName(), "V");
  EXPECT_EQ(ds.Fields(2).FieldNo(), 3);
}

TEST(DataSetTest, BookmarksCompareAndValidate) {
  FakeDataSet ds;
  Fill(ds, {1, 2, 3});
  const TBookmark first = ds.GetBookmark();
  ds.Last();
  const TBookmark last = ds.GetBookmark();
  EXPECT_EQ(ds.CompareBookmarks({}, {}), 0);
  EXPECT_EQ(ds.CompareBookmarks({}, last), 1);
  EXPECT_EQ(ds.CompareBookmarks(last, {}), -1);
  EXPECT_EQ(ds.CompareBookmarks(first, last), -1);
  EXPECT_EQ(ds.CompareBookmarks(last, first), 1);
  EXPECT_TRUE(ds.BookmarkValid(first));
  ds.GotoBookmark(first);
  ds.Delete();
  EXPECT_FALSE(ds.BookmarkValid(first));
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 2);
  EXPECT_THROW(ds.GotoBookmark(first), EDatabaseError);
  // The active record is still the one shown.
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 2);
  ds.GotoBookmark({});  // no bookmark: nothing happens
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 2);
}

TEST(DataSetTest, BookmarkOperationsPostAModifiedEditFirst) {
  FakeDataSet ds;
  Fill(ds, {1, 2});
  const TBookmark first = ds.GetBookmark();
  ds.Next();
  ds.Edit();
  ds.FieldByName("V").SetAsInteger(22);
  ds.GotoBookmark(first);
  EXPECT_EQ(ds.State(), S::dsBrowse);
  EXPECT_EQ(Values(ds), (std::vector<int>{1, 22}));
  ds.Edit();
  ds.FieldByName("V").SetAsInteger(11);
  ds.SetRecNo(2);
  EXPECT_EQ(Values(ds), (std::vector<int>{11, 22}));
  EXPECT_EQ(ds.FieldByName("V").AsInteger(), 22);
}

TEST(DataSetTest, FilterSettingsPostAModifiedEditFirst) {
  const std::vector<std::pair<const char*, std::function<void(FakeDataSet&)>>> ops = {
      {"Filtered", [](FakeDataSet& ds) { ds.SetFiltered(true); }},
      {"OnFilterRecord", [](FakeDataSet& ds) { ds.SetOnFilterRecord([](DataSet&, bool&) {}); }},
      {"Refresh", [](FakeDataSet& ds) { ds.Refresh(); }},
  };
  for (const auto& [name, op] : ops) {
    SCOPED_TRACE(name);
    FakeDataSet ds;
    Fill(ds, {1});
    ds.Edit();
    ds.FieldByName("V").SetAsInteger(8);
    op(ds);
    EXPECT_EQ(ds.State(), S::dsBrowse);
    EXPECT_EQ(Values(ds), (std::vector<int>{8}));
  }
}

TEST(DataSetTest, CalculatedFieldsAreComputedPerRecord) {
  FakeDataSet ds;
  DefineDefault(ds);
  Field& twice = ds.AddCalculatedField("Twice", ftInteger);
  Field& label = ds.AddCalculatedField("Label", ftString, 8);
  int calls = 0;
  ds.OnCalcFields = [&](DataSet& d) {
    ++calls;
    EXPECT_EQ(d.State(), S::dsCalcFields);
    if (!d.FieldByName("V").IsNull())
      d.FieldByName("Twice").SetAsInteger(2 * d.FieldByName("V").AsInteger());
    d.FieldByName("Label").SetAsString("row-label-too-long");
  };
  Fill(ds, {3, 4});
  EXPECT_GT(calls, 0);
  EXPECT_EQ(twice.AsInteger(), 6);
  EXPECT_EQ(label.AsString(), "row-labe");
  ds.Next();
  EXPECT_EQ(twice.AsInteger(), 8);
  // Changing a data field recalculates at once.
  ds.Edit();
  ds.FieldByName("V").SetAsInteger(10);
  EXPECT_EQ(twice.AsInteger(), 20);
  ds.Cancel();
  EXPECT_EQ(twice.AsInteger(), 8);
  EXPECT_THROW(ds.AddCalculatedField("Late", ftInteger), EDatabaseError);
  // Calculated fields survive closing; data fields are made anew.
  ds.Close();
  EXPECT_EQ(ds.FieldCount(), 2);
  ds.Open();
  EXPECT_EQ(ds.FieldCount(), 5);
  EXPECT_EQ(ds.Fields(3).FieldName(), "Twice");
}

TEST(DataSetTest, ExceptionHandlerReportsThroughTheEngineUi) {
  ScriptedEngineUi ui;
  ScopedEngineUi scope(ui);
  FakeDataSet ds;
  ui.ExpectReport();
  try {
    throw EDatabaseError("handler failed");
  } catch (...) {
    ds.HandleException();
  }
  EXPECT_EQ(ui.Reports(), (std::vector<std::string>{"handler failed"}));
  ui.ExpectDone();
}

TEST(DataSetTest, DestroyingAnEditingDatasetFreesEverythingWithoutThrowing) {
  ScriptedEngineUi ui;
  ScopedEngineUi scope(ui);
  int live = 0;
  {
    FakeDataSet ds;
    ds.buffer_counter = &live;
    Fill(ds, {1});
    ds.Edit();
    ds.FieldByName("V").SetAsInteger(5);
    EXPECT_EQ(live, 2);
  }
  EXPECT_EQ(live, 0);
  ui.ExpectDone();
}

// ---- events

struct EventCase {
  const char* name;
  std::vector<int> rows;
  std::function<void(FakeDataSet&)> setup;
  std::function<void(FakeDataSet&)> op;
  std::vector<std::string> expected;
};

TEST(DataSetTest, EventOrderOfEachOperation) {
  const auto none = [](FakeDataSet&) {};
  const std::vector<EventCase> cases = {
      {"Open",
       {1},
       [](FakeDataSet& ds) { ds.Close(); },
       [](FakeDataSet& ds) { ds.Open(); },
       {"BeforeOpen", "deUpdateState", "AfterOpen", "AfterScroll"}},
      {"Open empty",
       {},
       [](FakeDataSet& ds) { ds.Close(); },
       [](FakeDataSet& ds) { ds.Open(); },
       {"BeforeOpen", "deUpdateState", "AfterOpen"}},
      {"Close",
       {1},
       none,
       [](FakeDataSet& ds) { ds.Close(); },
       {"BeforeClose", "deUpdateState", "AfterClose"}},
      {"Next",
       {1, 2},
       none,
       [](FakeDataSet& ds) { ds.Next(); },
       {"deCheckBrowseMode", "BeforeScroll", "deDataSetScroll", "AfterScroll"}},
      {"Next at Eof",
       {1},
       [](FakeDataSet& ds) { ds.Last(); },
       [](FakeDataSet& ds) { ds.Next(); },
       {"deCheckBrowseMode", "BeforeScroll"}},
      {"First",
       {1, 2},
       none,
       [](FakeDataSet& ds) { ds.First(); },
       {"deCheckBrowseMode", "BeforeScroll", "deDataSetChange", "AfterScroll"}},
      {"Edit",
       {1},
       none,
       [](FakeDataSet& ds) { ds.Edit(); },
       {"deCheckBrowseMode", "BeforeEdit", "deUpdateState", "deRecordChange", "AfterEdit"}},
      {"Set field",
       {1},
       [](FakeDataSet& ds) { ds.Edit(); },
       [](FakeDataSet& ds) { ds.FieldByName("V").SetAsInteger(3); },
       {"deFieldChange"}},
      {"Post edit",
       {1},
       [](FakeDataSet& ds) { ds.Edit(); },
       [](FakeDataSet& ds) { ds.Post(); },
       {"deUpdateRecord", "deCheckBrowseMode", "BeforePost", "deUpdateState", "deDataSetChange",
        "AfterPost"}},
      {"Insert",
       {1},
       none,
       [](FakeDataSet& ds) { ds.Insert(); },
       {"deCheckBrowseMode", "BeforeInsert", "deUpdateState", "OnNewRecord", "deDataSetChange",
        "AfterInsert"}},
      {"Append",
       {1},
       none,
       [](FakeDataSet& ds) { ds.Append(); },
       {"deCheckBrowseMode", "BeforeInsert", "deUpdateState", "OnNewRecord", "deDataSetChange",
        "AfterInsert"}},
      {"Cancel insert",
       {1},
       [](FakeDataSet& ds) { ds.Append(); },
       [](FakeDataSet& ds) { ds.Cancel(); },
       {"deCheckBrowseMode", "BeforeCancel", "BeforeScroll", "deUpdateState", "deDataSetChange",
        "AfterCancel", "AfterScroll"}},
      {"Cancel edit",
       {1},
       [](FakeDataSet& ds) { ds.Edit(); },
       [](FakeDataSet& ds) { ds.Cancel(); },
       {"deCheckBrowseMode", "BeforeCancel", "deUpdateState", "deDataSetChange", "AfterCancel"}},
      {"Delete",
       {1, 2},
       none,
       [](FakeDataSet& ds) { ds.Delete(); },
       {"deCheckBrowseMode", "BeforeDelete", "BeforeScroll", "deDataSetChange", "AfterDelete",
        "AfterScroll"}},
      {"AppendRecord",
       {1},
       none,
       [](FakeDataSet& ds) {
         ds.AppendRecord({Variant(), Variant(), Variant::FromInteger(2)});
       },
       {"deCheckBrowseMode", "BeforeInsert", "OnNewRecord", "AfterInsert", "deFieldChange",
        "deFieldChange", "deFieldChange", "BeforePost", "deDataSetChange", "AfterPost"}},
      {"Refresh",
       {1},
       none,
       [](FakeDataSet& ds) { ds.Refresh(); },
       {"BeforeRefresh", "deCheckBrowseMode", "deDataSetChange", "AfterRefresh"}},
      {"Next posts a modified edit",
       {1, 2},
       [](FakeDataSet& ds) {
         ds.Edit();
         ds.FieldByName("V").SetAsInteger(5);
       },
       [](FakeDataSet& ds) { ds.Next(); },
       {"deCheckBrowseMode", "deUpdateRecord", "deUpdateRecord", "deCheckBrowseMode", "BeforePost",
        "deUpdateState", "deDataSetChange", "AfterPost", "BeforeScroll", "deDataSetScroll",
        "AfterScroll"}},
  };
  for (const EventCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> log;  // outlives the dataset, which logs while closing
    FakeDataSet ds;
    Fill(ds, c.rows);
    c.setup(ds);
    Record(ds, log);
    c.op(ds);
    EXPECT_EQ(log, c.expected);
  }
}

// ---- model test

TEST(DataSetTest, RandomNavigationAndEditingMatchAVectorModel) {
  std::mt19937 rng(20260920);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    FakeDataSet ds;
    Fill(ds, {});
    rvx::test::RunDataSetModel<FakeDataSet>(ds, rng, 300, Values);
  }
}

}  // namespace
}  // namespace platform::test

// The table component: the log's tables created, reopened and upgraded with
// a missing index; its reads and writes (append, key lookup, filters, edit,
// delete); key search, ranges and master/detail; schema operations and
// their refusals; Exists.
#include "dbengine/api/VEZTable.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbengine/api/VEZAdvancedDefs.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZSession.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZCursor.h"
#include "platform/core/Clock.h"
#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"
#include "platform/dataset/DataSource.h"
#include "platform/dataset/Params.h"
#include "platform/os/File.h"
#include "tests/common/VEZTestSQLEngine.h"
#include "tests/dbengine/api/LogSchemaTestSupport.h"
#include "tests/dbengine/api/SessionTestSupport.h"

namespace vez::test {
namespace {

using platform::Variant;

Variant Int(int v) {
  return Variant::FromInteger(v);
}
Variant Str(const std::string& v) {
  return Variant::FromString(v);
}

// The native number of the EVEZException f raises; 0 when none.
int NativeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EVEZException& e) {
    return e.NativeError();
  }
  return 0;
}

// A new multi-user log file "RVX_Log.vez" under the alias the application
// uses, without a kept connection.
class TableTest : public SessionLayerTest {
 protected:
  void SetUp() override {
    SessionLayerTest::SetUp();
    file_ = Path("RVX_Log.vez");
    db_ = MakeDatabase("RVX_Database", file_);
    db_->SetMultiUser(true);
    db_->SetKeepConnection(false);
    db_->CreateDatabase();
  }
  void TearDown() override {
    tables_.clear();
    db_.reset();
    SessionLayerTest::TearDown();
  }

  TVEZTable& NewTable(const std::string& name = {}) {
    tables_.push_back(std::make_unique<TVEZTable>());
    TVEZTable& t = *tables_.back();
    t.SetDatabaseName("RVX_Database");
    if (!name.empty()) t.SetTableName(name);
    return t;
  }

  // Creates the log table as declared and opens it as the adapter does.
  TVEZTable& CreateLogTable(const std::string& name) {
    const LogTable& table_def = LogTableNamed(name);
    TVEZTable& t = NewTable();
    DeclareLogTable(t, table_def);
    t.CreateTable();
    t.Open();
    if (table_def.primary_current) t.SetIndexName("Primary");
    return t;
  }

  static std::vector<int> Ids(TVEZTable& t) {
    std::vector<int> ids;
    t.First();
    while (!t.Eof()) {
      ids.push_back(t.FieldByName("ID").AsInteger());
      t.Next();
    }
    return ids;
  }

  // Runs rows: ID 1..n, TrialID = (ID - 1) / 3 + 1.
  TVEZTable& FilledRuns(int n) {
    TVEZTable& runs = CreateLogTable("Runs");
    for (int i = 1; i <= n; ++i)
      runs.AppendRecord({Variant::Null(), Int((i - 1) / 3 + 1), Str("run " + std::to_string(i))});
    return runs;
  }

  std::string file_;
  std::unique_ptr<TVEZDatabase> db_;
  std::vector<std::unique_ptr<TVEZTable>> tables_;
};

// ---------------------------------------------------------------------------
// The log's tables

void ExpectDeclared(TVEZTable& t, const LogTable& table_def) {
  SCOPED_TRACE(table_def.name);
  ASSERT_EQ(t.FieldDefs().Count(), static_cast<int>(table_def.columns.size()));
  for (std::size_t i = 0; i < table_def.columns.size(); ++i) {
    const LogColumn& c = table_def.columns[i];
    const platform::FieldDef& d = t.FieldDefs().Items(static_cast<int>(i));
    SCOPED_TRACE(c.name);
    EXPECT_EQ(d.Name, c.name);
    EXPECT_EQ(d.DataType, c.type);
    if (c.type == platform::ftString) {
      EXPECT_EQ(d.Size, c.size);
    }
    // The engine fills an autoincrement column itself, so it reads back as
    // not required.
    EXPECT_EQ(d.Required, c.required && c.type != platform::ftAutoInc);
  }
  if (*table_def.index_fields == '\0') {
    EXPECT_EQ(t.IndexDefs().Count(), 0);
  } else {
    ASSERT_EQ(t.IndexDefs().Count(), 1);
    EXPECT_EQ(t.IndexDefs().Items(0).Name, "Primary");
    EXPECT_EQ(t.IndexDefs().Items(0).Fields, table_def.index_fields);
    EXPECT_EQ(t.IndexDefs().Items(0).Options, 0u);
  }
  EXPECT_EQ(t.IndexName(), table_def.primary_current ? "Primary" : "");
}

TEST_F(TableTest, TheLogTablesAreCreatedAndReadBackAsDeclared) {
  for (const LogTable& table_def : LogTables()) {
    TVEZTable& t = NewTable();
    DeclareLogTable(t, table_def);
    EXPECT_FALSE(t.Exists()) << table_def.name;
    t.CreateTable();
    EXPECT_TRUE(t.Exists()) << table_def.name;
    t.Open();
    if (table_def.primary_current) t.SetIndexName("Primary");
    ExpectDeclared(t, table_def);
  }
  tables_.clear();
  EXPECT_FALSE(db_->Connected());
  std::vector<std::string> names = TablesOf(*db_);
  EXPECT_EQ(names.size(), LogTables().size());
  // Reopened by new components that declare nothing.
  for (const LogTable& table_def : LogTables()) {
    TVEZTable& t = NewTable(table_def.name);
    EXPECT_TRUE(t.Exists());
    t.Open();
    if (table_def.primary_current) t.SetIndexName("Primary");
    ExpectDeclared(t, table_def);
    EXPECT_TRUE(t.IsEmpty());
  }
  for (auto& t : tables_)
    EXPECT_EQ(t->DBFlags(), 1u) << t->TableName();
}

TEST_F(TableTest, AMissingIndexIsFoundMissingAndAdded) {
  const LogTable& table_def = LogTableNamed("Data");
  {
    TVEZTable& t = NewTable();
    DeclareLogTable(t, table_def, /*without_index=*/true);
    t.CreateTable();
    t.Open();
    t.AppendRecord({Variant::Null(), Variant::FromDouble(1), Variant::FromDate(45000.5)});
  }
  tables_.clear();
  TVEZTable& t = NewTable("Data");
  t.Open();
  EXPECT_EQ(t.IndexDefs().GetIndexForFields("MeasurementID;Time"), nullptr);
  t.AddIndex("Primary", "MeasurementID;Time");
  const platform::IndexDef* found = t.IndexDefs().GetIndexForFields("measurementid;time");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->Name, "Primary");
  EXPECT_EQ(t.RecordCount(), 1);
  t.Close();
  // A stored index that begins with the fields counts as present.
  TVEZTable& wider = NewTable("Data");
  wider.DeleteIndex("Primary");
  wider.AddIndex("Wide", "MeasurementID;Time;Power");
  wider.Open();
  found = wider.IndexDefs().GetIndexForFields("MeasurementID;Time");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->Name, "Wide");
  EXPECT_EQ(wider.DBFlags(), 1u);
}

// ---------------------------------------------------------------------------
// The application's reads and writes

TEST_F(TableTest, AppendWithoutAnIdGivesTheNextAutoincValueAndMakesTheRowCurrent) {
  TVEZTable& runs = CreateLogTable("Runs");
  for (int i = 1; i <= 4; ++i) {
    runs.AppendRecord({Variant::Null(), Int(7), Str("r" + std::to_string(i))});
    EXPECT_EQ(runs.FieldByName("ID").AsInteger(), i);
    EXPECT_EQ(runs.FieldByName("Name").AsString(), "r" + std::to_string(i));
    EXPECT_EQ(runs.LastAutoincValue("ID"), i);
  }
  // A row written with its own ID keeps it (the Com rows carry the shaft).
  TVEZTable& com = CreateLogTable("Com");
  com.AppendRecord({Int(1), Str("Auto")});
  com.AppendRecord({Int(0), Str("Demo")});
  EXPECT_EQ(Ids(com), (std::vector<int>{0, 1}));
}

TEST_F(TableTest, FindKeyFindsTheRowOrLeavesTheTableWhereItWas) {
  TVEZTable& runs = FilledRuns(10);
  ASSERT_TRUE(runs.FindKey({Int(5)}));
  EXPECT_EQ(runs.FieldByName("ID").AsInteger(), 5);
  EXPECT_EQ(runs.FieldByName("Name").AsString(), "run 5");
  const int recno = runs.RecNo();
  EXPECT_FALSE(runs.FindKey({Int(11)}));
  EXPECT_EQ(runs.FieldByName("ID").AsInteger(), 5);
  EXPECT_EQ(runs.RecNo(), recno);
  // Edit, post and delete after a lookup work on the row found.
  ASSERT_TRUE(runs.FindKey({Int(3)}));
  runs.Edit();
  runs.FieldByName("Comments").SetAsString("windy");
  runs.Post();
  ASSERT_TRUE(runs.FindKey({Int(7)}));
  runs.Delete();
  EXPECT_FALSE(runs.FindKey({Int(7)}));
  ASSERT_TRUE(runs.FindKey({Int(3)}));
  EXPECT_EQ(runs.FieldByName("Comments").AsString(), "windy");
  EXPECT_EQ(Ids(runs), (std::vector<int>{1, 2, 3, 4, 5, 6, 8, 9, 10}));
  // The Data table's two-column key: a lookup on the leading column.
  TVEZTable& data = CreateLogTable("Data");
  data.SetIndexName("Primary");
  for (int m = 1; m <= 3; ++m)
    for (int k = 0; k < 4; ++k)
      data.AppendRecord({Variant::Null(), Variant::FromDouble(m), Variant::FromDate(45000 + k)});
  ASSERT_TRUE(data.FindKey({Int(2)}));
  EXPECT_EQ(data.FieldByName("MeasurementID").AsFloat(), 2.0);
  EXPECT_EQ(data.FieldByName("Time").AsFloat(), 45000.0);
  ASSERT_TRUE(data.FindKey({Int(3), Variant::FromDate(45002)}));
  EXPECT_EQ(data.FieldByName("ID").AsInteger(), 11);
}

TEST_F(TableTest, FilteredListsAndLookupsAsTheLogReadsThem) {
  TScopedSQLEngine sql;
  TVEZTable& runs = FilledRuns(9);
  runs.SetFilterText("TrialID = 2");
  runs.SetFiltered(true);
  EXPECT_EQ(Ids(runs), (std::vector<int>{4, 5, 6}));
  EXPECT_EQ(runs.RecordCount(), 3);
  // A lookup of a row inside the filter works on the table as left.
  ASSERT_TRUE(runs.FindKey({Int(5)}));
  EXPECT_EQ(runs.FieldByName("Name").AsString(), "run 5");
  runs.SetFiltered(false);
  ASSERT_TRUE(runs.FindKey({Int(8)}));
  // The cascading delete: the first filtered row, until none is left.
  runs.SetFilterText("TrialID = 3");
  runs.SetFiltered(true);
  runs.First();
  while (!runs.IsEmpty()) {
    runs.First();
    runs.Delete();
  }
  runs.SetFiltered(false);
  EXPECT_EQ(Ids(runs), (std::vector<int>{1, 2, 3, 4, 5, 6}));
}

// Read calls this process has made so far.
std::int64_t ReadCalls() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::int64_t value = 0;
  while (io >> key >> value)
    if (key == "syscr:") return value;
  return 0;
}

TEST_F(TableTest, AFilteredCountChecksTheCachedPagesOnceAndSeesOtherWriters) {
  TScopedSQLEngine sql;
  TVEZTable& runs = FilledRuns(240);
  runs.SetFilterText("TrialID <= 40");
  runs.SetFiltered(true);
  const std::int64_t before = ReadCalls();
  EXPECT_EQ(runs.RecordCount(), 120);
  // Checking every cached page against the file on each row read costs a
  // read per row; one check per page under the count's lock costs a few.
  EXPECT_LT(ReadCalls() - before, 60);
  // A row another table object adds inside the filter is counted.
  TVEZTable& writer = NewTable("Runs");
  writer.Open();
  writer.AppendRecord({Variant::Null(), Int(7), Str("late")});
  writer.Close();
  runs.Refresh();
  EXPECT_EQ(runs.RecordCount(), 121);
  runs.SetFilterText("TrialID = 7");
  EXPECT_EQ(runs.RecordCount(), 4);
}

TEST_F(TableTest, AMeasurementIsReadBackInStoredOrderThroughItsFilter) {
  TScopedSQLEngine sql;
  TVEZTable& data = CreateLogTable("Data");
  // Two shafts interleaved, as recorded; an absent quantity is stored as 0.
  for (int k = 0; k < 6; ++k)
    data.AppendRecord({Variant::Null(), Variant::FromDouble(k % 2 + 1),
                       Variant::FromDate(45000 + (5 - k / 2) * 0.001), Variant::FromDouble(k),
                       Variant::FromDouble(0), Variant::FromDouble(10 * k),
                       Variant::FromBoolean(k == 4)});
  data.AppendRecord({Variant::Null(), Variant::FromDouble(1)});
  data.SetFilterText("MeasurementID=1");
  data.SetFiltered(true);
  std::vector<double> powers;
  std::vector<bool> errors;
  data.First();
  while (!data.Eof()) {
    if (!data.FieldByName("Power").IsNull()) powers.push_back(data.FieldByName("Power").AsFloat());
    errors.push_back(data.FieldByName("IsError").AsBoolean());
    data.Next();
  }
  // Stored order, not time order; the row without values reads null.
  EXPECT_EQ(powers, (std::vector<double>{0, 2, 4}));
  EXPECT_EQ(errors, (std::vector<bool>{false, false, true, false}));
  // Deleting a measurement's rows through the same filter.
  while (!data.IsEmpty()) {
    data.First();
    data.Delete();
  }
  data.SetFiltered(false);
  EXPECT_EQ(data.RecordCount(), 3);
}

// ---------------------------------------------------------------------------
// Key search and ranges

TEST_F(TableTest, KeySearchRefusesWhatItCannotDo) {
  TVEZTable& runs = FilledRuns(3);
  runs.SetIndexName("");
  EXPECT_EQ(DatabaseErrorOf([&] { runs.FindKey({Int(1)}); }), "No index currently active");
  runs.SetIndexName("Primary");
  EXPECT_EQ(DatabaseErrorOf([&] { runs.FindKey({Int(1), Int(2)}); }), "Field index out of range");
  EXPECT_EQ(DatabaseErrorOf([&] { runs.KeyExclusive(); }), "Dataset not in edit or insert mode");
  // A key value that does not fit its column.
  EXPECT_THROW(runs.FindKey({Str("not a number")}), platform::EConvertError);
  EXPECT_EQ(runs.State(), platform::TDataSetState::dsBrowse);
  ASSERT_TRUE(runs.FindKey({Int(2)}));
  TVEZTable closed;
  EXPECT_EQ(NativeOf([&] { closed.GotoKey(); }), 10290);
  EXPECT_EQ(NativeOf([&] { closed.SetKey(); }), 10286);
  EXPECT_THROW(closed.ApplyRange(), platform::EDatabaseError);
}

// FindKey converts each value as the key field itself would take it.
TEST_F(TableTest, FindKeyTakesValuesAsTheKeyFieldDoes) {
  TVEZTable& runs = FilledRuns(6);
  struct Case {
    const char* what;
    Variant value;
  };
  const std::vector<Case> cases = {
      {"integer", Int(5)},
      {"large integer", Variant::FromInt64(5)},
      {"small integer", Variant::FromSmallint(5)},
      {"double", Variant::FromDouble(5.0)},
      {"fraction", Variant::FromDouble(4.6)},
      {"digits", Str("5")},
      {"digits with blanks", Str(" 5")},
      {"word", Str("five")},
      {"null", Variant::Null()},
      {"too large", Variant::FromInt64(std::int64_t{1} << 40)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto outcome = [&](const std::function<bool()>& search) -> std::string {
      runs.First();
      try {
        const bool found = search();
        return std::string(found ? "found " : "not found ") +
               std::to_string(runs.FieldByName("ID").AsInteger());
      } catch (const std::exception& e) {
        if (runs.State() == platform::TDataSetState::dsSetKey) runs.Cancel();
        return std::string("raised ") + typeid(e).name();
      }
    };
    const std::string by_field = outcome([&] {
      runs.SetKey();
      runs.FieldByName("ID").SetValue(c.value);
      runs.Post();
      return runs.GotoKey();
    });
    const std::string by_find = outcome([&] { return runs.FindKey({c.value}); });
    EXPECT_EQ(by_find, by_field);
  }
  // A key beyond the column's range is refused rather than cut down to one
  // that exists.
  EXPECT_THROW(runs.FindKey({Variant::FromInt64((std::int64_t{1} << 40) + 5)}),
               platform::EDatabaseError);
  EXPECT_EQ(runs.State(), platform::TDataSetState::dsBrowse);
  ASSERT_TRUE(runs.FindKey({Variant::FromDouble(2.6)}));
  EXPECT_EQ(runs.FieldByName("ID").AsInteger(), 3);
}

TEST_F(TableTest, FindNearestGoesToTheNextKeyOrTheLastRecord) {
  TVEZTable& runs = FilledRuns(6);
  ASSERT_TRUE(runs.FindKey({Int(3)}));
  runs.Delete();
  runs.FindNearest({Int(3)});
  EXPECT_EQ(runs.FieldByName("ID").AsInteger(), 4);
  runs.FindNearest({Int(100)});
  EXPECT_EQ(runs.FieldByName("ID").AsInteger(), 6);
  // An exclusive key skips itself.
  runs.SetKey();
  runs.FieldByName("ID").SetAsInteger(4);
  runs.SetKeyExclusive(true);
  runs.Post();
  runs.GotoNearest();
  EXPECT_EQ(runs.FieldByName("ID").AsInteger(), 5);
}

TEST_F(TableTest, KeyEditingPostsOrRestoresTheKey) {
  TVEZTable& runs = FilledRuns(8);
  runs.SetKey();
  EXPECT_EQ(runs.State(), platform::TDataSetState::dsSetKey);
  runs.FieldByName("ID").SetAsInteger(5);
  // Only index fields take key values.
  EXPECT_EQ(NativeOf([&] { runs.FieldByName("Name").SetAsString("x"); }), 20019);
  runs.Post();
  EXPECT_EQ(runs.State(), platform::TDataSetState::dsBrowse);
  runs.EditKey();
  EXPECT_EQ(runs.FieldByName("ID").AsInteger(), 5);
  runs.FieldByName("ID").SetAsInteger(7);
  runs.Cancel();
  ASSERT_TRUE(runs.GotoKey());
  EXPECT_EQ(runs.FieldByName("ID").AsInteger(), 5);
  // SetKey starts from an empty key; KeyFieldCount 0 means all columns.
  runs.SetKey();
  EXPECT_TRUE(runs.FieldByName("ID").IsNull());
  EXPECT_EQ(runs.KeyFieldCount(), 0);
  EXPECT_FALSE(runs.KeyExclusive());
  runs.Cancel();
  ASSERT_TRUE(runs.GotoKey());
  EXPECT_EQ(runs.FieldByName("ID").AsInteger(), 5);
}

// Controls hand their pending edits to the key once when it is posted or
// cancelled, and hear of the state change once.
TEST_F(TableTest, LeavingKeyEditingNotifiesLinksOnce) {
  struct CountingLink : platform::DataLink {
    int checks = 0;
    void CheckBrowseMode() override { ++checks; }
  };
  TVEZTable& runs = FilledRuns(4);
  platform::DataSource source;
  source.SetDataSet(&runs);
  CountingLink link;
  link.SetDataSource(&source);
  for (const bool commit : {true, false}) {
    SCOPED_TRACE(commit ? "post" : "cancel");
    runs.SetKey();
    runs.FieldByName("ID").SetAsInteger(3);
    link.checks = 0;
    commit ? runs.Post() : runs.Cancel();
    EXPECT_EQ(link.checks, 1);
    EXPECT_EQ(runs.State(), platform::TDataSetState::dsBrowse);
  }
  link.SetDataSource(nullptr);
}

TEST_F(TableTest, IndexChoiceByNameOrByFields) {
  TVEZTable& runs = FilledRuns(6);
  runs.AddIndex("ByTrial", "TrialID;Name", platform::ixDescending);
  runs.SetIndexFieldNames("ID");
  EXPECT_EQ(runs.IndexName(), "");
  EXPECT_EQ(runs.IndexFieldNames(), "ID");
  EXPECT_EQ(runs.Handle()->IndexName(), "Primary");
  EXPECT_EQ(runs.IndexFieldCount(), 1);
  EXPECT_EQ(runs.GetIndexField(0).FieldName(), "ID");
  EXPECT_EQ(DatabaseErrorOf([&] { runs.GetIndexField(1); }), "Field index out of range");
  runs.SetIndexName("ByTrial");
  EXPECT_EQ(runs.IndexFieldNames(), "");
  EXPECT_EQ(Ids(runs), (std::vector<int>{6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(DatabaseErrorOf([&] { runs.SetIndexFieldNames("Name"); }),
            "No index for fields 'Name'");
  EXPECT_EQ(runs.IndexName(), "ByTrial");
  // An unknown name: at once on an open table, at opening on a closed one.
  EXPECT_EQ(NativeOf([&] { runs.SetIndexName("Nope"); }), 10325);
  runs.Close();
  runs.SetIndexName("Nope");
  EXPECT_EQ(NativeOf([&] { runs.Open(); }), 10325);
  EXPECT_FALSE(runs.Active());
  EXPECT_EQ(runs.DBFlags(), 0u);
  runs.SetIndexName("Primary");
  runs.Open();
  EXPECT_EQ(Ids(runs), (std::vector<int>{1, 2, 3, 4, 5, 6}));
}

TEST_F(TableTest, RangesRestrictTheViewAndApplyOnlyWhenChanged) {
  TVEZTable& runs = FilledRuns(9);
  runs.AddIndex("ByTrial", "TrialID");
  runs.SetIndexFieldNames("TrialID");
  runs.SetRange({Int(2)}, {Int(2)});
  EXPECT_EQ(runs.RecordCount(), 3);
  EXPECT_EQ(runs.FieldByName("ID").AsInteger(), 4);
  runs.Next();
  EXPECT_EQ(runs.FieldByName("ID").AsInteger(), 5);
  int scrolls = 0;
  runs.AfterScroll = [&](platform::DataSet&) { ++scrolls; };
  runs.SetRange({Int(2)}, {Int(2)});
  EXPECT_EQ(scrolls, 0);
  EXPECT_EQ(runs.FieldByName("ID").AsInteger(), 5);
  runs.AfterScroll = nullptr;
  // Editing the next range does not move the view before it is applied.
  runs.SetRangeStart();
  runs.FieldByName("TrialID").SetAsInteger(1);
  runs.Post();
  EXPECT_EQ(runs.RecordCount(), 3);
  runs.SetRangeEnd();
  runs.FieldByName("TrialID").SetAsInteger(2);
  runs.Post();
  runs.ApplyRange();
  EXPECT_EQ(Ids(runs), (std::vector<int>{1, 2, 3, 4, 5, 6}));
  runs.CancelRange();
  EXPECT_EQ(runs.RecordCount(), 9);
  // Switching the index drops the range.
  runs.SetRange({Int(3)}, {Int(3)});
  EXPECT_EQ(runs.RecordCount(), 3);
  runs.SetIndexName("Primary");
  EXPECT_EQ(runs.RecordCount(), 9);
}

// Another session (as another process would) holds the write lock that
// keeps readers out: the search gives up with the storage's clear error
// once its tries are spent, leaves the table where it was, and works again
// once the lock goes.
TEST_F(TableTest, ASearchWaitsForAWriterOfAnotherSessionThenSaysSo) {
  TVEZTable& runs = FilledRuns(6);
  ASSERT_TRUE(runs.FindKey({Int(2)}));
  TVEZSession other_session;
  other_session.SetSessionName("Other");
  other_session.Open();
  auto other_db = MakeDatabase("OtherLog", file_, &other_session);
  other_db->SetMultiUser(true);
  TVEZTable other(&other_session);
  other.SetSessionName("Other");
  other.SetDatabaseName("OtherLog");
  other.SetTableName("Runs");
  other.Open();
  ASSERT_TRUE(other.Handle()->LockTable(ltRW, 1, 0, false));
  platform::FakeClock clock;
  platform::ScopedClock installed(clock);
  EXPECT_EQ(NativeOf([&] { runs.FindKey({Int(4)}); }), 20215);
  EXPECT_GE(clock.Sleeps().size(), 899u);
  EXPECT_EQ(runs.State(), platform::TDataSetState::dsBrowse);
  EXPECT_EQ(runs.FieldByName("ID").AsInteger(), 2);
  other.Handle()->UnlockTable(ltRW, false);
  const std::size_t before = clock.Sleeps().size();
  ASSERT_TRUE(runs.FindKey({Int(4)}));
  EXPECT_EQ(runs.FieldByName("Name").AsString(), "run 4");
  EXPECT_EQ(clock.Sleeps().size(), before);
}

// A row another session is editing reads as locked; the editor's own view
// and other rows do not.
TEST_F(TableTest, ARowAnotherSessionEditsReadsAsLocked) {
  TVEZTable& runs = FilledRuns(4);
  TVEZTable closed;
  EXPECT_FALSE(closed.IsRecordLocked());
  TVEZSession other_session;
  other_session.SetSessionName("Other");
  other_session.Open();
  auto other_db = MakeDatabase("OtherLog", file_, &other_session);
  other_db->SetMultiUser(true);
  TVEZTable other(&other_session);
  other.SetSessionName("Other");
  other.SetDatabaseName("OtherLog");
  other.SetTableName("Runs");
  other.Open();
  other.SetIndexName("Primary");
  ASSERT_TRUE(other.FindKey({Int(2)}));
  other.Edit();
  EXPECT_FALSE(other.IsRecordLocked());
  ASSERT_TRUE(runs.FindKey({Int(2)}));
  EXPECT_TRUE(runs.IsRecordLocked());
  ASSERT_TRUE(runs.FindKey({Int(3)}));
  EXPECT_FALSE(runs.IsRecordLocked());
  other.Cancel();
  ASSERT_TRUE(runs.FindKey({Int(2)}));
  EXPECT_FALSE(runs.IsRecordLocked());
}

// ---------------------------------------------------------------------------
// Master/detail

TEST_F(TableTest, ADetailFollowsItsMasterAndNewDetailRowsTakeItsKey) {
  TVEZTable& trials = CreateLogTable("Trials");
  for (int i = 1; i <= 3; ++i)
    trials.AppendRecord({Variant::Null(), Str("trial " + std::to_string(i)), Int(1)});
  TVEZTable& runs = FilledRuns(7);  // trials 1, 1, 1, 2, 2, 2, 3
  runs.AddIndex("ByTrial", "TrialID");
  runs.SetIndexFieldNames("TrialID");
  platform::DataSource source;
  source.SetDataSet(&trials);
  runs.SetMasterSource(&source);
  runs.SetMasterFields("ID");
  const std::map<int, std::vector<int>> expected = {{1, {1, 2, 3}}, {2, {4, 5, 6}}, {3, {7}}};
  trials.First();
  while (!trials.Eof()) {
    const int trial = trials.FieldByName("ID").AsInteger();
    SCOPED_TRACE(trial);
    EXPECT_EQ(Ids(runs), expected.at(trial));
    trials.Next();
  }
  ASSERT_TRUE(trials.FindKey({Int(3)}));
  runs.Append();
  EXPECT_EQ(runs.FieldByName("TrialID").AsInteger(), 3);
  runs.FieldByName("Name").SetAsString("new");
  runs.Post();
  EXPECT_EQ(Ids(runs), (std::vector<int>{7, 8}));
  // The master links back to nothing that follows the detail.
  platform::DataSource detail_source;
  detail_source.SetDataSet(&runs);
  EXPECT_EQ(DatabaseErrorOf([&] { trials.SetMasterSource(&detail_source); }),
            "Circular datalinks are not allowed");
  // Closing the master drops the detail's range.
  trials.Close();
  EXPECT_EQ(runs.RecordCount(), 8);
  runs.SetMasterSource(nullptr);
}

// A detail must have an index column for every master field.
TEST_F(TableTest, ADetailWithoutIndexColumnsForItsMasterFieldsIsRefused) {
  TVEZTable& trials = CreateLogTable("Trials");
  trials.AppendRecord({Variant::Null(), Str("trial"), Int(1)});
  TVEZTable& runs = FilledRuns(3);
  platform::DataSource source;
  source.SetDataSet(&trials);
  struct Case {
    const char* what;
    std::string index_fields;  // empty: no index chosen
    std::string master_fields;
  };
  for (const Case& c :
       std::vector<Case>{{"no index", "", "ID"}, {"one column short", "ID", "ID;Name"}}) {
    SCOPED_TRACE(c.what);
    runs.Close();
    runs.SetIndexName("");
    if (!c.index_fields.empty()) runs.SetIndexFieldNames(c.index_fields);
    runs.SetMasterSource(&source);
    runs.SetMasterFields(c.master_fields);
    EXPECT_EQ(DatabaseErrorOf([&] { runs.Open(); }), "Field index out of range");
    EXPECT_FALSE(runs.Active());
    runs.SetMasterSource(nullptr);
  }
  runs.Open();
  EXPECT_EQ(runs.RecordCount(), 3);
}

// ---------------------------------------------------------------------------
// Indexes the SQL side asks for

TEST_F(TableTest, IndexesFoundOrMadeForColumnsAndDistinctViews) {
  TVEZTable& runs = FilledRuns(7);  // trials 1, 1, 1, 2, 2, 2, 3
  const std::vector<std::string> trial = {"TrialID"}, asc = {"ASC"}, exact = {"CASE"};
  EXPECT_FALSE(runs.IndexExists(trial, asc, exact));
  runs.AddIndex("ByTrial", "TrialID");
  EXPECT_TRUE(runs.IndexExists(trial, asc, exact));
  bool created = true;
  EXPECT_EQ(runs.FindOrCreateIndex(trial, asc, exact, created), "ByTrial");
  EXPECT_FALSE(created);
  const std::string made = runs.FindOrCreateIndex({"Name"}, {"DESC"}, exact, created);
  EXPECT_TRUE(created);
  EXPECT_FALSE(made.empty());

  const auto trials_seen = [](TVEZTable& t) {
    std::vector<int> seen;
    for (t.First(); !t.Eof(); t.Next())
      seen.push_back(t.FieldByName("TrialID").AsInteger());
    return seen;
  };
  runs.ApplyDistinct(trial, asc, exact);
  EXPECT_EQ(runs.IndexName(), "ByTrial");
  EXPECT_EQ(trials_seen(runs), (std::vector<int>{1, 2, 3}));

  // A second table takes over the first one's distinct view.
  TVEZTable& other = NewTable("Runs");
  other.Open();
  other.ApplyDistinct(runs);
  EXPECT_EQ(other.IndexName(), "ByTrial");
  EXPECT_EQ(trials_seen(other), (std::vector<int>{1, 2, 3}));

  TVEZTable closed;
  EXPECT_EQ(NativeOf([&] { closed.FindOrCreateIndex(trial, asc, exact, created); }), 10311);
  EXPECT_EQ(NativeOf([&] { closed.IndexExists(trial, asc, exact); }), 10514);
  EXPECT_EQ(NativeOf([&] { closed.ApplyDistinct(trial, asc, exact); }), 10319);
  EXPECT_EQ(NativeOf([&] { closed.ApplyDistinct(runs); }), 10319);
}

// ---------------------------------------------------------------------------
// Data-provider interface

TEST_F(TableTest, ProviderParametersRestrictTheRowsAndTheRangeSurvivesTheReread) {
  TVEZTable& runs = FilledRuns(9);  // trials 1, 1, 1, 2, 2, 2, 3, 3, 3
  runs.AddIndex("ByTrial", "TrialID");
  runs.SetIndexFieldNames("TrialID");
  struct Case {
    const char* what;
    std::string name;  // empty: by index position
    int trial;
    std::vector<int> ids;
  };
  for (const Case& c :
       std::vector<Case>{{"unnamed", "", 2, {4, 5, 6}}, {"named", "TrialID", 3, {7, 8, 9}}}) {
    SCOPED_TRACE(c.what);
    platform::Params params;
    params.CreateParam(platform::ftInteger, c.name, platform::TParamType::ptInput)
        .SetAsInteger(c.trial);
    runs.PSSetParams(params);
    EXPECT_EQ(runs.State(), platform::TDataSetState::dsBrowse);
    EXPECT_EQ(Ids(runs), c.ids);
  }
  // A parameter the index has no column for is refused; the range stays.
  platform::Params bad;
  bad.CreateParam(platform::ftInteger, "", platform::TParamType::ptInput).SetAsInteger(1);
  bad.CreateParam(platform::ftInteger, "", platform::TParamType::ptInput).SetAsInteger(1);
  EXPECT_EQ(DatabaseErrorOf([&] { runs.PSSetParams(bad); }), "Field index out of range");
  EXPECT_EQ(runs.State(), platform::TDataSetState::dsBrowse);
  EXPECT_EQ(Ids(runs), (std::vector<int>{7, 8, 9}));
  // No parameters: every row again.
  platform::Params none;
  runs.PSSetParams(none);
  EXPECT_EQ(runs.RecordCount(), 9);
  // A closed table is opened by the parameters.
  runs.Close();
  platform::Params one;
  one.CreateParam(platform::ftInteger, "", platform::TParamType::ptInput).SetAsInteger(1);
  runs.PSSetParams(one);
  EXPECT_TRUE(runs.Active());
  EXPECT_EQ(Ids(runs), (std::vector<int>{1, 2, 3}));
}

TEST_F(TableTest, ProviderKeyFieldsDefaultOrderAndCommandText) {
  TVEZTable& runs = FilledRuns(3);
  EXPECT_EQ(runs.PSGetTableName(), "Runs");
  runs.SetIndexName("");
  // No unique index yet: every field identifies the row.
  EXPECT_EQ(runs.PSGetKeyFields(), "ID;TrialID;Name;StartTime;StopTime;Comments");
  EXPECT_FALSE(runs.PSGetDefaultOrder().has_value());
  runs.AddIndex("ByName", "Name", platform::ixUnique);
  EXPECT_EQ(runs.PSGetKeyFields(), "Name");
  EXPECT_EQ(runs.PSGetIndexDefs(0).size(), 2u);
  const std::vector<platform::IndexDef> unique = runs.PSGetIndexDefs(platform::ixUnique);
  ASSERT_EQ(unique.size(), 1u);
  EXPECT_EQ(unique[0].Name, "ByName");
  EXPECT_TRUE(runs.PSGetIndexDefs(platform::ixPrimary).empty());
  std::optional<platform::IndexDef> order = runs.PSGetDefaultOrder();
  ASSERT_TRUE(order.has_value());
  EXPECT_EQ(order->Name, "ByName");
  // The chosen index comes first.
  runs.SetIndexName("Primary");
  order = runs.PSGetDefaultOrder();
  ASSERT_TRUE(order.has_value());
  EXPECT_EQ(order->Fields, "ID");
  runs.Close();
  // A closed table (no fields yet) still answers from its indexes.
  EXPECT_EQ(runs.PSGetKeyFields(), "Name");
  runs.PSSetCommandText("");
  EXPECT_EQ(runs.TableName(), "Runs");
  runs.PSSetCommandText("Trials");
  EXPECT_EQ(runs.PSGetTableName(), "Trials");
}

// ---------------------------------------------------------------------------
// Schema operations

TEST_F(TableTest, CreateTableReplacesAnExistingTable) {
  TVEZTable& runs = FilledRuns(4);
  runs.Close();
  TVEZTable& again = NewTable();
  DeclareLogTable(again, LogTableNamed("Runs"));
  again.CreateTable();
  again.Open();
  EXPECT_TRUE(again.IsEmpty());
  EXPECT_EQ(again.DBFlags(), 1u);
}

TEST_F(TableTest, BadDefinitionsAreRefusedAndCreateNothing) {
  struct Case {
    const char* what;
    std::function<void(TVEZAdvFieldDefs&)> define;
    int native;
  };
  const std::vector<Case> cases = {
      {"text of size 0", [](TVEZAdvFieldDefs& d) { d.Add("Name", aftString, 0, false); }, 30453},
      {"bytes of size 0", [](TVEZAdvFieldDefs& d) { d.Add("Raw", aftBytes, 0, false); }, 30453},
      {"no name", [](TVEZAdvFieldDefs& d) { d.Add("", aftInteger, 0, false); }, 30499},
      {"compression mode 0",
       [](TVEZAdvFieldDefs& d) {
         d.Add("Memo", aftMemo, 0, false, TCompressionAlgorithm::caZLIB, 0);
       },
       20257},
      {"compression mode 10",
       [](TVEZAdvFieldDefs& d) {
         d.Add("Memo", aftBlob, 0, false, TCompressionAlgorithm::caZLIB, 10);
       },
       20257},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TVEZTable& t = NewTable("Bad");
    t.AdvFieldDefs().Add("ID", aftInteger, 0, false);
    c.define(t.AdvFieldDefs());
    EXPECT_EQ(NativeOf([&] { t.CreateTable(); }), c.native);
    EXPECT_FALSE(t.Exists());
    EXPECT_EQ(t.DBFlags(), 0u);
  }
  TVEZTable& blank = NewTable("   ");
  blank.FieldDefs().Add("ID", platform::ftInteger);
  EXPECT_EQ(DatabaseErrorOf([&] { blank.CreateTable(); }), "Missing TableName property");
  EXPECT_EQ(DatabaseErrorOf([&] { blank.Open(); }), "Missing TableName property");
  EXPECT_EQ(blank.DBFlags(), 0u);
  // The message names the column and its SQL type.
  TVEZTable& t = NewTable("Bad");
  t.AdvFieldDefs().Add("Label", aftString, 0, false);
  try {
    t.CreateTable();
    ADD_FAILURE();
  } catch (const EVEZException& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot create table 'Bad' with field: Label STRING(0)"),
              std::string::npos)
        << e.what();
  }
}

TEST_F(TableTest, SchemaChangesAreRefusedInATransactionAndChangeNothing) {
  FilledRuns(3).Close();
  db_->SetKeepConnection(true);
  db_->Open();
  db_->StartTransaction();
  TVEZTable& t = NewTable();
  DeclareLogTable(t, LogTableNamed("Runs"));
  const std::vector<std::pair<int, std::function<void()>>> refusals = {
      {20182, [&] { t.CreateTable(); }},
      {20183, [&] { t.DeleteTable(); }},
      {20181, [&] { t.RenameTable("Races"); }},
      {20175, [&] { t.AddIndex("ByName", "Name"); }},
      {20177, [&] { t.DeleteIndex("Primary"); }},
      {20178, [&] { t.DeleteAllIndexes(); }},
      {20179, [&] { t.RenameField("Name", "Title"); }},
  };
  for (const auto& [native, operation] : refusals) {
    SCOPED_TRACE(native);
    EXPECT_EQ(NativeOf(operation), native);
    EXPECT_EQ(t.TableName(), "Runs");
    EXPECT_FALSE(t.Active());
    EXPECT_EQ(t.DBFlags(), 0u);
    EXPECT_FALSE(t.Exclusive());
  }
  db_->Rollback();
  t.Open();
  EXPECT_EQ(t.RecordCount(), 3);
  EXPECT_EQ(t.FieldDefs().Items(2).Name, "Name");
  EXPECT_EQ(t.IndexDefs().Count(), 1);
  t.Close();
  // Emptying is allowed in a transaction.
  db_->StartTransaction();
  t.EmptyTable();
  db_->Commit();
  t.Open();
  EXPECT_TRUE(t.IsEmpty());
}

TEST_F(TableTest, RenameDeleteAndIndexOperationsOnAClosedTable) {
  FilledRuns(3).Close();
  TVEZTable& t = NewTable("Runs");
  t.RenameTable("Races");
  EXPECT_EQ(t.TableName(), "Races");
  EXPECT_NE(NativeOf([&] { t.RenameTable("Races"); }), 0);
  t.RenameField("Name", "Title");
  t.AddIndex("ByTitle", "Title", 0, "Title");
  t.Open();
  EXPECT_EQ(t.FieldDefs().Items(2).Name, "Title");
  EXPECT_EQ(t.IndexDefs().Count(), 2);
  t.SetIndexName("ByTitle");
  // The current row stays current; the order is the new index's.
  EXPECT_EQ(t.FieldByName("Title").AsString(), "run 1");
  t.First();
  EXPECT_EQ(t.FieldByName("Title").AsString(), "run 3");
  t.Close();
  EXPECT_EQ(NativeOf([&] { t.AddIndex("", "Title"); }), 20046);
  EXPECT_EQ(NativeOf([&] { t.AddIndex("X", ""); }), 20047);
  EXPECT_NE(NativeOf([&] { t.DeleteIndex("Nope"); }), 0);
  t.DeleteAllIndexes();
  t.SetIndexName("");
  t.Open();
  EXPECT_EQ(t.IndexDefs().Count(), 0);
  EXPECT_EQ(t.RecordCount(), 3);
  t.DeleteTable();
  EXPECT_FALSE(t.Active());
  EXPECT_FALSE(t.Exists());
  EXPECT_NE(NativeOf([&] { t.DeleteTable(); }), 0);
  EXPECT_EQ(t.DBFlags(), 0u);
}

// An open reads the field definitions once, from the cursor it makes: what
// the table object held from an earlier open or a read while closed is never
// taken for them.
TEST_F(TableTest, EachOpenReadsTheFieldsTheTableHasNow) {
  FilledRuns(2).Close();
  TVEZTable& reader = NewTable("Runs");
  TVEZTable& changer = NewTable("Runs");
  reader.Open();
  EXPECT_EQ(reader.FieldDefs().Items(2).Name, "Name");
  reader.Close();
  changer.RenameField("Name", "Title");
  reader.Open();
  EXPECT_EQ(reader.FieldDefs().Items(2).Name, "Title");
  EXPECT_EQ(reader.FieldByName("Title").AsString(), "run 1");
  EXPECT_EQ(reader.FindField("Name"), nullptr);
  reader.Close();

  // Definitions read while closed are stale by the time of the open.
  reader.FieldDefs().Update();
  EXPECT_EQ(reader.FieldDefs().Items(2).Name, "Title");
  changer.RenameField("Title", "Label");
  reader.Open();
  EXPECT_EQ(reader.FieldDefs().Items(2).Name, "Label");
  EXPECT_EQ(reader.FieldByName("Label").AsString(), "run 1");
  reader.Close();
}

TEST_F(TableTest, AReadOnlyDatabaseMakesTheTableReadOnly) {
  FilledRuns(2).Close();
  tables_.clear();
  db_->SetReadOnly(true);
  TVEZTable& t = NewTable("Runs");
  t.Open();
  EXPECT_TRUE(t.ReadOnly());
  EXPECT_FALSE(t.CanModify());
  EXPECT_THROW(t.Edit(), platform::EDatabaseError);
  EXPECT_EQ(t.RecordCount(), 2);
}

TEST_F(TableTest, RepairOpensTheTableOnceAndLetsGo) {
  FilledRuns(3).Close();
  TVEZTable& t = NewTable("Runs");
  t.RepairTable();
  EXPECT_EQ(t.DBFlags(), 0u);
  t.Open();
  EXPECT_EQ(t.RecordCount(), 3);
}

// ---------------------------------------------------------------------------
// Exists

// Reads of the log file fail with an I/O error once armed.
class FailingReads : public platform::FileSystemWrapper {
 public:
  using FileSystemWrapper::FileSystemWrapper;
  bool armed = false;
  std::unique_ptr<platform::File> OpenFile(const std::string& path, platform::FileAccess access,
                                           platform::FileShare share) override {
    auto file = Target().OpenFile(path, access, share);
    if (!armed || path.find("RVX_Log.vez") == std::string::npos) return file;
    return std::make_unique<File>(std::move(file));
  }

 private:
  class File : public platform::FileWrapper {
   public:
    using FileWrapper::FileWrapper;
    void ReadAt(std::int64_t, void*, std::size_t) override {
      throw platform::EOSError(EIO, "read");
    }
    std::size_t ReadPartialAt(std::int64_t, void*, std::size_t) override {
      throw platform::EOSError(EIO, "read");
    }
  };
};

TEST_F(TableTest, ExistsAnswersForMissingDatabasesAndRaisesRealFailures) {
  FilledRuns(1).Close();
  tables_.clear();
  TVEZTable& no_name = NewTable("Runs");
  no_name.SetDatabaseName("");
  EXPECT_FALSE(no_name.Exists());
  TVEZTable& unknown = NewTable("Runs");
  unknown.SetDatabaseName("NoSuchDatabase");
  EXPECT_FALSE(unknown.Exists());
  auto missing = MakeDatabase("MissingFile", Path("missing.vez"));
  TVEZTable& no_file = NewTable("Runs");
  no_file.SetDatabaseName("MissingFile");
  EXPECT_FALSE(no_file.Exists());
  EXPECT_TRUE(NewTable("Runs").Exists());
  EXPECT_FALSE(NewTable("Trials").Exists());
  for (auto& t : tables_)
    EXPECT_EQ(t->DBFlags(), 0u);
  EXPECT_FALSE(db_->Connected());
  // A catalogue that cannot be read is no answer.
  FailingReads failing(platform::DefaultFileSystem());
  platform::ScopedFileSystem installed(failing);
  failing.armed = true;
  TVEZTable& t = NewTable("Runs");
  EXPECT_ANY_THROW(t.Exists());
  EXPECT_EQ(t.DBFlags(), 0u);
}

// ---------------------------------------------------------------------------
// Other operations

TEST_F(TableTest, ABlobDefaultFillsNewRecords) {
  TVEZTable& t = NewTable("Notes");
  t.AdvFieldDefs().Add("ID", aftAutoInc, 0, false);
  TVEZAdvFieldDef* memo = t.AdvFieldDefs().Add("Memo", aftMemo, 0, false);
  memo->DefaultValue.SetAsAnsiString("none yet");
  t.CreateTable();
  t.Open();
  t.Append();
  EXPECT_EQ(t.FieldByName("Memo").AsString(), "none yet");
  t.Post();
  t.First();
  EXPECT_EQ(t.FieldByName("Memo").AsString(), "none yet");
  EXPECT_FALSE(t.IsRecordLocked());
}

TEST_F(TableTest, DefaultsAreStoredInTheirColumnsTypes) {
  for (const bool with_sql : {false, true}) {
    SCOPED_TRACE(with_sql ? "SQL engine registered" : "no SQL engine");
    std::unique_ptr<TScopedSQLEngine> sql;
    if (with_sql) sql = std::make_unique<TScopedSQLEngine>();
    const std::string name = with_sql ? "WithSql" : "Plain";
    TVEZTable& t = NewTable(name);
    t.AdvFieldDefs().Add("ID", aftAutoInc, 0, false);
    t.AdvFieldDefs().Add("Count", aftInteger, 0, false)->DefaultValue.SetAsAnsiString("5");
    t.AdvFieldDefs().Add("Day", aftDate, 0, false)->DefaultValue.SetAsAnsiString("2016-09-20");
    t.AdvFieldDefs().Add("Note", aftString, 10, false)->DefaultValue.SetAsAnsiString("");
    t.AdvFieldDefs().Add("Odd", aftInteger, 0, false)->DefaultValue.SetAsAnsiString("x");
    // A text that is no number cannot be the default of a number column.
    EXPECT_NE(NativeOf([&] { t.CreateTable(); }), 0);
    EXPECT_FALSE(t.Exists());
    t.AdvFieldDefs().DeleteFieldDef("Odd");
    t.CreateTable();
    t.Open();
    ASSERT_EQ(t.AdvFieldDefs().Count(), 4);
    EXPECT_EQ(t.AdvFieldDefs().Find("Count")->DefaultValue.GetDataType(), bftSignedInt32);
    EXPECT_EQ(t.AdvFieldDefs().Find("Day")->DefaultValue.GetDataType(), bftDate);
    EXPECT_TRUE(t.AdvFieldDefs().Find("Note")->DefaultValue.GetIsNull());
    t.Append();
    EXPECT_EQ(t.FieldByName("Count").AsInteger(), 5);
    EXPECT_EQ(t.FieldByName("Day").AsFloat(), platform::EncodeDate(2016, 9, 20));
    EXPECT_TRUE(t.FieldByName("Note").IsNull());
    t.Cancel();
  }
}

TEST_F(TableTest, TemporaryAndInMemoryTablesAreMadeFromTheirDefinitions) {
  for (const bool temporary : {true, false}) {
    SCOPED_TRACE(temporary ? "temporary" : "in memory");
    TVEZTable t;
    t.SetTableName("Scratch");
    if (temporary)
      t.SetTemporary(true);
    else
      t.SetInMemory(true);
    EXPECT_EQ(t.DatabaseName(), temporary ? "TEMP" : "MEMORY");
    EXPECT_FALSE(t.Exists());
    t.FieldDefs().Add("ID", platform::ftInteger);
    t.FieldDefs().Add("Label", platform::ftString, 12);
    t.IndexDefs().Add("ByID", "ID", 0);
    t.CreateTable();
    EXPECT_TRUE(t.Exists());
    t.Open();
    t.SetIndexName("ByID");
    for (int i : {3, 1, 2})
      t.AppendRecord({Int(i), Str("l" + std::to_string(i))});
    EXPECT_EQ(Ids(t), (std::vector<int>{1, 2, 3}));
    ASSERT_TRUE(t.FindKey({Int(2)}));
    EXPECT_EQ(t.FieldByName("Label").AsString(), "l2");
    t.Close();
    t.DeleteTable();
    EXPECT_FALSE(t.Exists());
  }
}

}  // namespace
}  // namespace vez::test

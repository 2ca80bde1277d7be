// The table component's bulk copies: restructure (the log's upgrade adding
// a column, columns dropped and renamed, every failure point against a model
// of the file), record copying (progress cadence, stopping, a source that
// cannot move on), import, export, copy, their wait window and the leftover
// query.
#include "dbengine/api/VEZTableCopy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "dbengine/api/VEZAdvancedDefs.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZTypes.h"
#include "platform/core/Collation.h"
#include "platform/os/File.h"
#include "platform/ui/EngineUi.h"
#include "tests/common/ScriptedEngineUi.h"
#include "tests/dbengine/api/LogSchemaTestSupport.h"
#include "tests/dbengine/api/SessionTestSupport.h"
#include "tests/dbengine/storage/DiskTestSupport.h"
#include "tests/platform/dataset/FakeDataSet.h"

namespace vez::test {
namespace {

using platform::Variant;
using platform::test::FakeDataSet;
using platform::test::ScriptedEngineUi;

Variant Int(int v) {
  return Variant::FromInteger(v);
}
Variant Str(const std::string& v) {
  return Variant::FromString(v);
}

int NativeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EVEZException& e) {
    return e.NativeError();
  }
  return 0;
}

// A Runs row: ID, TrialID, Name.
using Row = std::tuple<int, int, std::string>;

// The file as the tests see it: its tables and the Runs-shaped rows of one.
struct FileModel {
  std::vector<std::string> tables;
  std::vector<Row> rows;
};

class TableCopyTest : public SessionLayerTest {
 protected:
  void SetUp() override {
    SessionLayerTest::SetUp();
    file_ = Path("RVX_Log.vez");
    db_ = MakeDatabase("RVX_Database", file_);
    db_->SetMultiUser(true);
    db_->SetKeepConnection(false);
    db_->SetSilentMode(true);
    db_->CreateDatabase();
  }
  void TearDown() override {
    tables_.clear();
    db_.reset();
    SessionLayerTest::TearDown();
  }

  TVEZTable& NewTable(const std::string& name = {}, const std::string& database = "RVX_Database") {
    tables_.push_back(std::make_unique<TVEZTable>());
    TVEZTable& t = *tables_.back();
    t.SetDatabaseName(database);
    if (!name.empty()) t.SetTableName(name);
    return t;
  }

  // Runs as an older program made it (no Comments column), with n rows,
  // closed.
  TVEZTable& OldRuns(int n) {
    TVEZTable& t = NewTable("Runs");
    t.FieldDefs().Add("ID", platform::ftAutoInc, 0, true);
    t.FieldDefs().Add("TrialID", platform::ftInteger);
    t.FieldDefs().Add("Name", platform::ftString, 30);
    t.IndexDefs().Add("Primary", "ID", 0);
    t.CreateTable();
    t.Open();
    for (int i = 1; i <= n; ++i)
      t.AppendRecord({Variant::Null(), Int((i - 1) / 3 + 1), Str("run " + std::to_string(i))});
    t.Close();
    return t;
  }

  // Reads the table's definitions as ALTER TABLE does: open and close.
  static void LoadDefinitions(TVEZTable& t) {
    t.Open();
    t.Close();
  }

  static void AddComments(TVEZTable& t) {
    LoadDefinitions(t);
    t.RestructureFieldDefs().Add("Comments", aftString, 500, false);
  }

  static std::vector<Row> RowsOf(TVEZTable& t) {
    const bool was_open = t.Active();
    if (!was_open) t.Open();
    std::vector<Row> rows;
    for (t.First(); !t.Eof(); t.Next())
      rows.emplace_back(t.FieldByName("ID").AsInteger(), t.FieldByName("TrialID").AsInteger(),
                        t.FieldByName("Name").AsString());
    if (!was_open) t.Close();
    return rows;
  }

  std::vector<std::string> Tables() {
    std::vector<std::string> list;
    db_->GetTablesList(list);
    return list;
  }

  FileModel ModelOf(const std::string& table) {
    FileModel model{Tables(), {}};
    TVEZTable& t = NewTable(table);
    model.rows = RowsOf(t);
    return model;
  }

  static std::vector<Row> ExpectedRows(int n) {
    std::vector<Row> rows;
    for (int i = 1; i <= n; ++i)
      rows.emplace_back(i, (i - 1) / 3 + 1, "run " + std::to_string(i));
    return rows;
  }

  std::string file_;
  std::unique_ptr<TVEZDatabase> db_;
  std::vector<std::unique_ptr<TVEZTable>> tables_;
};

bool HasLeftover(const std::vector<std::string>& tables) {
  for (const std::string& t : tables)
    if (IsRestructureLeftoverName(t)) return true;
  return false;
}

// ---------------------------------------------------------------------------
// Restructure

TEST_F(TableCopyTest, AddingAColumnKeepsRowsIdsAndIndexOrderWithTheNewColumnNull) {
  TVEZTable& runs = OldRuns(40);
  AddComments(runs);
  std::vector<std::string> during;
  runs.OnRestructureProgress = [&](platform::DataSet&, int, bool&) {
    if (during.empty()) db_->GetTablesList(during);
  };
  std::string log;
  ASSERT_TRUE(runs.RestructureTable(log)) << log;
  EXPECT_EQ(log, "");
  EXPECT_EQ(runs.TableName(), "Runs");

  // While the rows were copied the old table bore its temporary name.
  ASSERT_EQ(during.size(), 2u);
  std::string leftover;
  for (const std::string& t : during)
    if (t != "Runs") leftover = t;
  EXPECT_TRUE(IsRestructureLeftoverName(leftover)) << leftover;
  EXPECT_EQ(leftover.rfind("OLD_Runs_{", 0), 0u) << leftover;

  EXPECT_EQ(Tables(), std::vector<std::string>{"Runs"});
  runs.SetIndexName("Primary");
  runs.Open();
  ASSERT_NE(runs.FindField("Comments"), nullptr);
  EXPECT_EQ(RowsOf(runs), ExpectedRows(40));
  for (runs.First(); !runs.Eof(); runs.Next())
    EXPECT_TRUE(runs.FieldByName("Comments").IsNull());
  // New rows go on from the old ids.
  runs.AppendRecord({Variant::Null(), Int(99), Str("after"), Str("note")});
  runs.Last();
  EXPECT_EQ(runs.FieldByName("ID").AsInteger(), 41);
  runs.Close();
}

// The copied rows are written together: ten times the rows cost far fewer
// than one more file write per added row.
TEST_F(TableCopyTest, RestructureWritesTheCopiedRowsTogether) {
  auto writes_for = [&](int rows) {
    const std::string name = "Rows" + std::to_string(rows);
    auto database = MakeDatabase(name, Path(name + ".vez"));
    database->SetMultiUser(true);
    database->SetKeepConnection(false);
    database->SetSilentMode(true);
    database->CreateDatabase();
    TVEZTable& runs = NewTable("Runs", name);
    runs.FieldDefs().Add("ID", platform::ftAutoInc, 0, true);
    runs.FieldDefs().Add("TrialID", platform::ftInteger);
    runs.FieldDefs().Add("Name", platform::ftString, 30);
    runs.IndexDefs().Add("Primary", "ID", 0);
    runs.CreateTable();
    runs.Open();
    for (int i = 1; i <= rows; ++i)
      runs.AppendRecord({Variant::Null(), Int((i - 1) / 3 + 1), Str("run " + std::to_string(i))});
    runs.Close();
    AddComments(runs);
    FaultFileSystem faults;
    {
      platform::ScopedFileSystem scope(faults);
      std::string log;
      EXPECT_TRUE(runs.RestructureTable(log)) << log;
    }
    EXPECT_EQ(RowsOf(runs), ExpectedRows(rows));
    tables_.clear();
    return faults.plan.writes;
  };
  const int few = writes_for(30);
  const int many = writes_for(300);
  EXPECT_LT(many - few, 270) << few << " writes for 30 rows, " << many << " for 300";
}

// Tables that live in memory keep their rows through a restructure, and
// rows added afterwards stay.
TEST_F(TableCopyTest, RestructureOfMemoryAndTemporaryTablesKeepsTheRows) {
  for (const bool temporary : {false, true}) {
    SCOPED_TRACE(temporary ? "temporary table" : "table of the memory database");
    TVEZTable& t = temporary ? NewTable("TempRuns") : NewTable("MemRuns", "MEMORY");
    if (temporary) t.SetTemporary(true);
    t.FieldDefs().Add("ID", platform::ftAutoInc, 0, true);
    t.FieldDefs().Add("TrialID", platform::ftInteger);
    t.FieldDefs().Add("Name", platform::ftString, 30);
    t.IndexDefs().Add("Primary", "ID", 0);
    t.CreateTable();
    t.Open();
    for (int i = 1; i <= 45; ++i)
      t.AppendRecord({Variant::Null(), Int((i - 1) / 3 + 1), Str("run " + std::to_string(i))});
    t.Close();
    AddComments(t);
    std::string log;
    ASSERT_TRUE(t.RestructureTable(log)) << log;
    t.SetIndexName("Primary");
    EXPECT_EQ(RowsOf(t), ExpectedRows(45));
    t.Open();
    ASSERT_NE(t.FindField("Comments"), nullptr);
    t.AppendRecord({Variant::Null(), Int(99), Str("after"), Str("note")});
    t.Close();
    t.Open();
    EXPECT_EQ(t.RecordCount(), 46);
    t.Close();
  }
}

TEST_F(TableCopyTest, DroppedAndRenamedColumnsMapByObjectIdThenByName) {
  TVEZTable& runs = OldRuns(10);
  LoadDefinitions(runs);
  // Rename TrialID to Trial (same object id), drop Name, add a new Name
  // column (a new object id: it must not receive the dropped values).
  runs.RestructureFieldDefs().Find("TrialID")->Name = "Trial";
  runs.RestructureFieldDefs().DeleteFieldDef("Name");
  runs.RestructureFieldDefs().Add("Name", aftString, 30, false);
  runs.RestructureFieldDefs().Add("Extra", aftInteger, 0, false);
  std::string log;
  ASSERT_TRUE(runs.RestructureTable(log)) << log;
  runs.Open();
  int i = 1;
  for (runs.First(); !runs.Eof(); runs.Next(), ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(runs.FieldByName("ID").AsInteger(), i);
    EXPECT_EQ(runs.FieldByName("Trial").AsInteger(), (i - 1) / 3 + 1);
    EXPECT_EQ(runs.FieldByName("Name").AsString(), "run " + std::to_string(i));
    EXPECT_TRUE(runs.FieldByName("Extra").IsNull());
  }
  EXPECT_EQ(i, 11);
  runs.Close();
}

// Each way a restructure can fail, checked against the model of the file:
// the table ends under its own name with all its rows (and, when only the
// old copy's delete failed, the new structure plus the old copy).
struct FailurePoint {
  const char* name;
  // Prepares the failure on the closed table; returns a clean-up.
  std::function<std::function<void()>(TableCopyTest&, TVEZTable&)> arm;
  bool restructured;  // the new structure stands
  bool leftover;      // an OLD_ table remains
};

class RestructureFailureTest : public TableCopyTest,
                               public ::testing::WithParamInterface<FailurePoint> {};

TEST_P(RestructureFailureTest, TableKeepsItsNameAndRows) {
  const FailurePoint& point = GetParam();
  constexpr int kRows = 60;
  TVEZTable& runs = OldRuns(kRows);
  AddComments(runs);
  const std::function<void()> cleanup = point.arm(*this, runs);
  std::string log;
  bool result = false;
  bool raised = false;
  try {
    result = runs.RestructureTable(log);
  } catch (const std::exception& e) {
    raised = true;
    log += e.what();
  }
  if (cleanup) cleanup();
  EXPECT_EQ(result, point.restructured) << log;
  EXPECT_FALSE(raised && point.restructured);
  EXPECT_NE(log, "");
  EXPECT_EQ(runs.TableName(), "Runs");

  FileModel model = ModelOf("Runs");
  EXPECT_EQ(model.rows, ExpectedRows(kRows));
  EXPECT_EQ(HasLeftover(model.tables), point.leftover);
  EXPECT_EQ(model.tables.size(), point.leftover ? 2u : 1u);
  TVEZTable& check = NewTable("Runs");
  check.Open();
  EXPECT_EQ(check.FindField("Comments") != nullptr, point.restructured);
  check.Close();
  if (point.leftover) {
    for (const std::string& t : model.tables) {
      if (!IsRestructureLeftoverName(t)) continue;
      TVEZTable& old = NewTable(t);
      EXPECT_EQ(RowsOf(old), ExpectedRows(kRows));
    }
  }
}

std::vector<FailurePoint> FailurePoints() {
  return {
      {"CreateOfNewTableFails",
       [](TableCopyTest&, TVEZTable& t) {
         // A column without a name cannot be created.
         t.RestructureFieldDefs().Add("", aftInteger, 0, false);
         return std::function<void()>();
       },
       false, false},
      {"TwentiethPostFails",
       [](TableCopyTest&, TVEZTable& t) {
         // Rows of trial 7 and above break a new bound on TrialID.
         TVEZAdvFieldDef* def = t.RestructureFieldDefs().Find("TrialID");
         def->MaxValue.SetAsInteger(6);
         return std::function<void()>();
       },
       false, false},
      {"StoppedByProgressHandler",
       [](TableCopyTest&, TVEZTable& t) {
         t.OnRestructureProgress = [](platform::DataSet&, int percent, bool& cont) {
           if (percent > 50) cont = false;
         };
         return std::function<void()>();
       },
       false, false},
      {"BeforeEventRaises",
       [](TableCopyTest&, TVEZTable& t) {
         t.BeforeRestructure = [](platform::DataSet&) { throw std::runtime_error("refused"); };
         return std::function<void()>();
       },
       false, false},
      {"OldCopyCannotBeDeleted",
       [](TableCopyTest& test, TVEZTable& t) {
         // Another user keeps the old copy open, so it cannot be deleted.
         auto holder = std::make_shared<std::unique_ptr<TVEZTable>>();
         t.AfterRestructure = [holder](platform::DataSet& sender) {
           auto& table = dynamic_cast<TVEZTable&>(sender);
           *holder = std::make_unique<TVEZTable>();
           (*holder)->SetDatabaseName("RVX_Database");
           (*holder)->SetTableName(table.TableName());
           (*holder)->Open();
         };
         (void)test;
         return std::function<void()>([holder] { holder->reset(); });
       },
       true, true},
  };
}

INSTANTIATE_TEST_SUITE_P(Points, RestructureFailureTest, ::testing::ValuesIn(FailurePoints()),
                         [](const auto& info) { return std::string(info.param.name); });

// A write of the file that fails (EIO through the file seam) at each point of
// a restructure, one failure per run: the table is never lost, it ends under
// its own name with all its rows (new structure or old), and only a failed
// delete of the old copy leaves that copy behind, beside the new table.
TEST_F(TableCopyTest, WriteFailureAtAnyPointLosesNoRow) {
  constexpr int kRows = 40;
  int names_not_restored = 0;
  int unreadable = 0;
  auto run = [&](int index, int fail_at, FaultPlan& plan) {
    const std::string name = "Fault" + std::to_string(index);
    auto database = MakeDatabase(name, Path(name + ".vez"));
    database->SetKeepConnection(false);
    database->SetSilentMode(true);
    database->CreateDatabase();
    TVEZTable& runs = NewTable("Runs", name);
    runs.FieldDefs().Add("ID", platform::ftAutoInc, 0, true);
    runs.FieldDefs().Add("TrialID", platform::ftInteger);
    runs.FieldDefs().Add("Name", platform::ftString, 30);
    runs.IndexDefs().Add("Primary", "ID", 0);
    runs.CreateTable();
    runs.Open();
    for (int i = 1; i <= kRows; ++i)
      runs.AppendRecord({Variant::Null(), Int((i - 1) / 3 + 1), Str("run " + std::to_string(i))});
    runs.Close();
    AddComments(runs);

    FaultFileSystem faults;
    std::string log;
    bool result = false;
    {
      platform::ScopedFileSystem scope(faults);
      faults.plan.fail_at = fail_at;
      try {
        result = runs.RestructureTable(log);
      } catch (const std::exception& e) {
        log += e.what();
      }
      plan = faults.plan;
    }
    SCOPED_TRACE(log);
    bool name_back = runs.TableName() == "Runs";
    tables_.clear();
    database.reset();
    db_.reset();
    FinalizeSessionLayer();
    // The file as a new process finds it.
    database = MakeDatabase(name, Path(name + ".vez"));
    database->SetKeepConnection(false);
    std::vector<std::string> tables;
    database->GetTablesList(tables);
    bool complete = false;
    bool restructured = false;
    for (const std::string& t : tables) {
      SCOPED_TRACE(t);
      EXPECT_TRUE(t == "Runs" || IsRestructureLeftoverName(t));
      TVEZTable& check = NewTable(t, name);
      try {
        check.Open();
        if (t == "Runs") restructured = check.FindField("Comments") != nullptr;
        check.Close();
        if (RowsOf(check) == ExpectedRows(kRows)) complete = true;
      } catch (const std::exception& e) {
        // Known storage fault (see the disabled test below): a table made
        // by a create whose write failed may not be readable.
        ++unreadable;
        std::cout << "unreadable table " << t << " after failing mutation " << fail_at << ": "
                  << e.what() << "\n";
        if (t == "Runs") name_back = false;
      }
    }
    EXPECT_TRUE(complete);
    const bool leftover = HasLeftover(tables);
    if (name_back) {
      // The usual case: the table is back under its name with every row.
      TVEZTable& check = NewTable("Runs", name);
      EXPECT_EQ(RowsOf(check), ExpectedRows(kRows));
      EXPECT_EQ(tables.size(), leftover ? 2u : 1u);
      if (leftover) {
        EXPECT_TRUE(restructured && result);
      }
    } else {
      ++names_not_restored;
    }
    if (fail_at < 0) {
      EXPECT_TRUE(result && restructured && !leftover);
    }
    tables_.clear();
  };
  FaultPlan clean;
  run(0, -1, clean);
  const int mutations = clean.mutations;
  ASSERT_GT(mutations, 10);
  // Every mutation when there are few, else an even spread with the ends.
  const int stride = std::max(1, mutations / 60);
  int index = 1;
  for (int fail_at = 0; fail_at < mutations; fail_at += stride, ++index) {
    SCOPED_TRACE("failing mutation " + std::to_string(fail_at) + " of " +
                 std::to_string(mutations));
    FaultPlan plan;
    run(index, fail_at, plan);
    if (HasFailure()) break;
  }
  // A failed write can leave the open file unusable until it is reopened;
  // the old table then keeps its temporary name, listed as a leftover.
  std::cout << "write failures leaving the old name: " << names_not_restored << " of " << index - 1
            << ", unreadable tables: " << unreadable << "\n";
}

// A create whose write fails must leave a file whose every listed table can
// be opened after the file is reopened. Disabled: the storage layer can
// list a table whose first page lies past the end of the file.
TEST_F(TableCopyTest, CreateTableWithAFailedWriteLeavesEveryListedTableReadable) {
  FaultPlan clean;
  for (int fail_at = -1;; ++fail_at) {
    SCOPED_TRACE(fail_at);
    const std::string name = "Create" + std::to_string(fail_at + 1);
    auto database = MakeDatabase(name, Path(name + ".vez"));
    database->SetKeepConnection(false);
    database->CreateDatabase();
    {
      TVEZTable& first = NewTable("First", name);
      first.FieldDefs().Add("ID", platform::ftInteger);
      first.CreateTable();
      FaultFileSystem faults;
      platform::ScopedFileSystem scope(faults);
      faults.plan.fail_at = fail_at;
      TVEZTable& second = NewTable("Second", name);
      second.FieldDefs().Add("ID", platform::ftAutoInc, 0, true);
      second.FieldDefs().Add("Name", platform::ftString, 30);
      second.IndexDefs().Add("Primary", "ID", 0);
      try {
        second.CreateTable();
      } catch (const std::exception&) {
      }
      if (fail_at < 0) clean = faults.plan;
    }
    tables_.clear();
    database.reset();
    db_.reset();
    FinalizeSessionLayer();
    database = MakeDatabase(name, Path(name + ".vez"));
    database->SetKeepConnection(false);
    std::vector<std::string> tables;
    database->GetTablesList(tables);
    for (const std::string& t : tables) {
      SCOPED_TRACE(t);
      TVEZTable& check = NewTable(t, name);
      EXPECT_NO_THROW(check.Open());
      check.Close();
    }
    tables_.clear();
    database.reset();
    if (fail_at + 1 >= clean.mutations) break;
  }
}

TEST_F(TableCopyTest, RestructureIsRefusedInATransactionBeforeAnythingChanges) {
  TVEZTable& runs = OldRuns(5);
  AddComments(runs);
  TVEZTable& other = NewTable("Runs");
  other.Open();
  db_->StartTransaction();
  EXPECT_EQ(NativeOf([&] { runs.RestructureTable(); }), 20181);
  db_->Rollback();
  other.Close();
  EXPECT_EQ(Tables(), std::vector<std::string>{"Runs"});
  EXPECT_EQ(RowsOf(runs), ExpectedRows(5));
}

// ---------------------------------------------------------------------------
// Record copying

// A source of n rows (ID integer, Name string) and an empty destination.
struct FakePair {
  FakeDataSet source;
  FakeDataSet dest;
  explicit FakePair(int n) {
    for (FakeDataSet* d : {&source, &dest}) {
      d->DefineField("ID", platform::ftInteger);
      d->DefineField("Name", platform::ftString, 20);
      d->Open();
    }
    for (int i = 1; i <= n; ++i)
      source.AppendRecord({Int(i), Str("r" + std::to_string(i))});
  }
  std::vector<int> DestIds() {
    std::vector<int> ids;
    for (dest.First(); !dest.Eof(); dest.Next())
      ids.push_back(dest.Fields(0).AsInteger());
    return ids;
  }
};

std::vector<int> Range(int from, int to) {
  std::vector<int> v;
  for (int i = from; i <= to; ++i)
    v.push_back(i);
  return v;
}

struct Cadence {
  int rows;
  int min_progress;
  int max_progress;
  int calls;
};

class ProgressCadenceTest : public ::testing::TestWithParam<Cadence> {};

TEST_P(ProgressCadenceTest, ReportsEveryMinStepOrThirtyRecords) {
  const Cadence c = GetParam();
  FakePair pair(c.rows);
  std::vector<int> percents;
  std::string log;
  bool cont = true;
  EXPECT_TRUE(CopyDataSetRecords(
      nullptr, pair.source, pair.dest, log, cont, false, false,
      [&](platform::DataSet&, int p, bool&) { percents.push_back(p); }, c.min_progress,
      c.max_progress));
  EXPECT_EQ(log, "");
  EXPECT_EQ(static_cast<int>(percents.size()), c.calls);
  EXPECT_EQ(pair.DestIds(), Range(1, c.rows));
  if (c.min_progress <= c.max_progress && !percents.empty()) {
    for (std::size_t i = 1; i < percents.size(); ++i)
      EXPECT_LE(percents[i - 1], percents[i]);
    EXPECT_GE(percents.front(), c.min_progress);
    EXPECT_LE(percents.back(), c.max_progress);
  }
}

INSTANTIATE_TEST_SUITE_P(Cadences, ProgressCadenceTest,
                         ::testing::Values(Cadence{50, 0, 100, 50}, Cadence{10000, 0, 100, 334},
                                           Cadence{100, 40, 40, 100}, Cadence{90, 100, 0, 90}),
                         [](const auto& info) {
                           return "rows" + std::to_string(info.param.rows) + "_from" +
                                  std::to_string(info.param.min_progress) + "_to" +
                                  std::to_string(info.param.max_progress);
                         });

TEST(CopyRecordsTest, ContinueFalseStopsAfterTheCurrentRecord) {
  for (const int k : {1, 7, 50}) {
    SCOPED_TRACE(k);
    FakePair pair(50);
    std::string log;
    bool cont = true;
    int calls = 0;
    EXPECT_FALSE(CopyDataSetRecords(
        nullptr, pair.source, pair.dest, log, cont, false, false,
        [&](platform::DataSet&, int, bool& c) {
          if (++calls == k) c = false;
        },
        0, 100));
    EXPECT_FALSE(cont);
    EXPECT_EQ(log, "Terminated by User.\r\n");
    EXPECT_EQ(pair.DestIds(), Range(1, k));
  }
}

TEST(CopyRecordsTest, SourceReturnsToItsRecord) {
  FakePair pair(20);
  pair.source.First();
  for (int i = 0; i < 6; ++i)
    pair.source.Next();
  std::string log;
  bool cont = true;
  EXPECT_TRUE(
      CopyDataSetRecords(nullptr, pair.source, pair.dest, log, cont, false, false, {}, 0, 100));
  EXPECT_EQ(pair.source.Fields(0).AsInteger(), 7);
}

// The source fails to read: `next_failures` reads fail once record k was
// posted (the Next after it, then the positioning tries).
struct NextFailure {
  const char* name;
  int rows;
  int k;
  int failures;
  std::vector<int> copied;
  std::string log;
  bool result;
};

class SourceNextFailureTest : public ::testing::TestWithParam<NextFailure> {};

TEST_P(SourceNextFailureTest, CopyLogsAndGoesOnOrEnds) {
  const NextFailure& f = GetParam();
  FakePair pair(f.rows);
  int to_fail = 0;
  pair.source.fail = [&](std::string_view hook) {
    if (hook == "GetRecord" && to_fail > 0) {
      --to_fail;
      throw std::runtime_error("bad page");
    }
  };
  int posted = 0;
  pair.dest.AfterPost = [&](platform::DataSet&) {
    if (++posted == f.k) to_fail = f.failures;
  };
  std::string log;
  bool cont = true;
  EXPECT_EQ(CopyDataSetRecords(nullptr, pair.source, pair.dest, log, cont, true, false, {}, 0, 100),
            f.result);
  pair.source.fail = nullptr;
  pair.dest.AfterPost = nullptr;
  EXPECT_EQ(pair.DestIds(), f.copied);
  EXPECT_EQ(log, f.log);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, SourceNextFailureTest,
    ::testing::Values(
        NextFailure{"NextFailsMidway", 10, 4, 1, Range(1, 10), "", true},
        NextFailure{"NextAndOneRecordFail", 10, 4, 2,
                    [] {
                      auto v = Range(1, 4);
                      for (int i = 6; i <= 10; ++i)
                        v.push_back(i);
                      return v;
                    }(),
                    "Record #5 corrupted and skipped.\r\n", true},
        // The last record is reached by its number rather than skipped.
        NextFailure{"NextFailsBeforeTheLastRecord", 10, 9, 1, Range(1, 10), "", true},
        NextFailure{"NextFailsAtTheLastRecord", 10, 10, 1, Range(1, 10),
                    "Error copying table \"unknown\". Cannot move past record #10 due to error: "
                    "bad page\r\n",
                    false},
        NextFailure{"NothingAfterCanBeReached", 10, 3, 100, Range(1, 3),
                    "Record #4 corrupted and skipped.\r\nRecord #5 corrupted and skipped.\r\n"
                    "Record #6 corrupted and skipped.\r\nRecord #7 corrupted and skipped.\r\n"
                    "Record #8 corrupted and skipped.\r\nRecord #9 corrupted and skipped.\r\n"
                    "Record #10 corrupted and skipped.\r\nError copying table \"unknown\". Cannot "
                    "move past record #10 due to error: bad page\r\n",
                    false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CopyRecordsTest, FailedPostIsLoggedAndSkippedWithIgnoreErrorsElseRaised) {
  for (const bool ignore : {true, false}) {
    SCOPED_TRACE(ignore);
    FakePair pair(5);
    pair.dest.BeforePost = [](platform::DataSet& d) {
      if (d.Fields(0).AsInteger() == 3) throw std::runtime_error("no room");
    };
    std::string log;
    bool cont = true;
    bool result = true;
    bool raised = false;
    try {
      result =
          CopyDataSetRecords(nullptr, pair.source, pair.dest, log, cont, ignore, false, {}, 0, 100);
    } catch (const std::exception&) {
      raised = true;
    }
    pair.dest.BeforePost = nullptr;
    EXPECT_EQ(log,
              "Error copying table \"unknown\". Record #3 was not imported due to error: no "
              "room\r\n\r\n");
    EXPECT_EQ(raised, !ignore);
    if (ignore) {
      EXPECT_FALSE(result);
      EXPECT_EQ(pair.DestIds(), (std::vector<int>{1, 2, 4, 5}));
    } else {
      EXPECT_EQ(pair.DestIds(), (std::vector<int>{1, 2}));
      EXPECT_EQ(pair.dest.State(), platform::TDataSetState::dsBrowse);
    }
  }
}

// A value the destination column cannot take is logged (one CR LF line per
// value), the column left null and the row posted; without IgnoreErrors the
// first one ends the copy with its error.
TEST(CopyRecordsTest, ValueThatCannotBeAssignedIsLoggedAndLeftNull) {
  for (const bool ignore : {true, false}) {
    SCOPED_TRACE(ignore);
    FakePair pair(3);
    FakeDataSet dest;
    dest.DefineField("ID", platform::ftInteger);
    dest.DefineField("Name", platform::ftInteger);
    dest.Open();
    std::string log;
    bool cont = true;
    bool result = true;
    bool raised = false;
    try {
      result = CopyDataSetRecords(nullptr, pair.source, dest, log, cont, ignore, false, {}, 0, 100);
    } catch (const std::exception&) {
      raised = true;
    }
    EXPECT_EQ(raised, !ignore);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < log.size();) {
      const std::size_t end = log.find("\r\n", at);
      ASSERT_NE(end, std::string::npos) << log;
      lines.push_back(log.substr(at, end - at));
      at = end + 2;
    }
    ASSERT_EQ(lines.size(), ignore ? 3u : 1u) << log;
    for (std::size_t i = 0; i < lines.size(); ++i)
      EXPECT_EQ(lines[i].rfind("Error copying table \"unknown\". Record #" + std::to_string(i + 1) +
                                   ", field 'Name' was copied with Null value due to error: ",
                               0),
                0u)
          << lines[i];
    if (ignore) {
      EXPECT_FALSE(result);
      int rows = 0;
      for (dest.First(); !dest.Eof(); dest.Next(), ++rows)
        EXPECT_TRUE(dest.Fields(1).IsNull());
      EXPECT_EQ(rows, 3);
    } else {
      EXPECT_EQ(dest.State(), platform::TDataSetState::dsBrowse);
    }
  }
}

// A source field definition without a field object: 10499 naming the table
// and the field, or with IgnoreErrors the text in the log (no line break)
// and the other fields copied.
TEST(CopyRecordsTest, DefinitionWithoutAFieldIsRefusedOrLogged) {
  for (const bool ignore : {true, false}) {
    SCOPED_TRACE(ignore);
    FakePair pair(2);
    pair.source.FieldDefs().Add("Ghost", platform::ftInteger);
    std::string log;
    bool cont = true;
    bool result = true;
    int native = 0;
    try {
      result =
          CopyDataSetRecords(nullptr, pair.source, pair.dest, log, cont, ignore, false, {}, 0, 100);
    } catch (const EVEZException& e) {
      native = e.NativeError();
    }
    const std::string text =
        "Cannot copy field 'Ghost' of table 'unknown': its data type is not "
        "supported";
    if (ignore) {
      EXPECT_FALSE(result);
      EXPECT_EQ(log, text + text);
      EXPECT_EQ(pair.DestIds(), Range(1, 2));
    } else {
      EXPECT_EQ(native, 10499);
      EXPECT_EQ(log, text);
      EXPECT_EQ(pair.dest.State(), platform::TDataSetState::dsBrowse);
    }
  }
}

// ---------------------------------------------------------------------------
// Import and export

TEST_F(TableCopyTest, ImportFromAPlainDataSetNamesTheUnnamedIndexAndSkipsOneWithoutFields) {
  FakePair pair(25);
  TVEZTable& t = NewTable("Imported");
  {
    platform::IndexDefs indexes;
    indexes.Add("", "ID", 0);
    std::string log;
    ASSERT_TRUE(t.ImportTable(pair.source, log, &indexes)) << log;
    EXPECT_EQ(log, "");
  }
  t.Open();
  EXPECT_EQ(t.RecordCount(), 25);
  t.Close();
  t.IndexDefs().Update();
  ASSERT_EQ(t.IndexDefs().Count(), 1);
  EXPECT_EQ(t.IndexDefs().Items(0).Name, "idxPrimaryKey");

  TVEZTable& second = NewTable("Imported2");
  platform::IndexDefs indexes;
  indexes.Add("ByName", "", 0);
  std::string log = "before\r\n";
  EXPECT_FALSE(second.ImportTable(pair.source, log, &indexes));
  EXPECT_EQ(log,
            "before\r\nCannot import index 'ByName'. Index type is not supported, index "
            "skipped");
  second.Open();
  EXPECT_EQ(second.RecordCount(), 25);
  second.Close();
}

TEST_F(TableCopyTest, ImportReportsRecordErrorsInItsLogAndKeepsTheRest) {
  FakePair pair(6);
  TVEZTable& t = NewTable("Imported");
  t.BeforePost = [](platform::DataSet& d) {
    if (d.FieldByName("ID").AsInteger() == 4) throw std::runtime_error("rejected");
  };
  std::string log;
  EXPECT_FALSE(t.ImportTable(pair.source, log, nullptr));
  EXPECT_NE(log.find("Error importing table. Cannot copy data due to error: Error copying table "
                     "\"Imported\". Record #4 was not imported due to error: rejected"),
            std::string::npos)
      << log;
  t.BeforePost = nullptr;
  t.Open();
  EXPECT_EQ(t.RecordCount(), 5);
  t.Close();
}

TEST_F(TableCopyTest, ImportThatFailsAfterOpeningTheTableClosesIt) {
  FakePair pair(4);
  TVEZTable& t = NewTable("Imported");
  int after = 0;
  t.BeforeImport = [](platform::DataSet&) { throw std::runtime_error("refused"); };
  t.AfterImport = [&](platform::DataSet&) { ++after; };
  std::string log;
  EXPECT_THROW(t.ImportTable(pair.source, log, nullptr), std::runtime_error);
  EXPECT_EQ(after, 1);
  EXPECT_FALSE(t.Active());
  // The table is usable again: its data lock was left.
  t.BeforeImport = nullptr;
  t.Open();
  EXPECT_EQ(t.RecordCount(), 0);
  t.Close();
}

TEST_F(TableCopyTest, ImportThatCannotCreateTheTableLogsAndReturnsFalse) {
  FakePair pair(3);
  TVEZTable& t = NewTable("   ");  // names no table
  std::string log;
  EXPECT_FALSE(t.ImportTable(pair.source, log, nullptr));
  EXPECT_EQ(log.rfind("Error importing table. Cannot create table due to error: ", 0), 0u) << log;
  EXPECT_FALSE(t.Active());
}

TEST_F(TableCopyTest, ExportIntoAMemoryTableCopiesEveryRowAndPutsTheTableBack) {
  TVEZTable& runs = OldRuns(30);
  runs.Open();
  runs.First();
  runs.Next();
  runs.Next();
  TVEZTable& mem = NewTable("RunsCopy", "MEMORY");
  std::string log;
  ASSERT_TRUE(runs.ExportTable(
      mem, [&] { mem.CreateTable(); }, log))
      << log;
  EXPECT_TRUE(runs.Active());
  EXPECT_EQ(runs.FieldByName("ID").AsInteger(), 3);
  EXPECT_EQ(RowsOf(mem), ExpectedRows(30));
  mem.Close();
  runs.Close();

  TVEZTable& mem2 = NewTable("Other", "MEMORY");
  log.clear();
  EXPECT_FALSE(runs.ExportTable(
      mem2, [] { throw std::runtime_error("no file"); }, log));
  EXPECT_EQ(log, "Error exporting table. Cannot create table due to error: no file\r\n");
  EXPECT_FALSE(runs.Active());
}

// ---------------------------------------------------------------------------
// Copy

TEST_F(TableCopyTest, CopyToAnotherFileToMemoryAndWithinTheFile) {
  TVEZTable& runs = OldRuns(35);
  const std::string other = Path("Other.vez");
  CreateDatabaseFile(other);
  ASSERT_TRUE(runs.CopyTable("RunsBackup", other, ""));
  EXPECT_FALSE(runs.Active());
  {
    auto other_db = MakeDatabase("OtherDb", other);
    TVEZTable& copy = NewTable("RunsBackup", "OtherDb");
    EXPECT_EQ(RowsOf(copy), ExpectedRows(35));
    copy.IndexDefs().Update();
    EXPECT_EQ(copy.IndexDefs().Count(), 1);
    tables_.pop_back();
  }
  std::string log;
  bool cont = true;
  runs.Open();
  ASSERT_TRUE(runs.CopyTable("RunsMem", log, cont, "MEMORY", "", false, false, true, 0, 100));
  EXPECT_TRUE(runs.Active());
  TVEZTable& mem = NewTable("RunsMem", "MEMORY");
  EXPECT_EQ(RowsOf(mem), ExpectedRows(35));
  runs.Close();
  ASSERT_TRUE(runs.CopyTable("RunsSame", "", ""));
  TVEZTable& same = NewTable("RunsSame");
  EXPECT_EQ(RowsOf(same), ExpectedRows(35));
}

// Large values go in more than one commit; each arrives whole and in place.
TEST_F(TableCopyTest, CopyOfLargeBlobsToAnotherFileKeepsEveryValue) {
  TVEZTable& shots = NewTable("Shots");
  shots.FieldDefs().Add("ID", platform::ftAutoInc, 0, true);
  shots.FieldDefs().Add("Picture", platform::ftBlob);
  shots.IndexDefs().Add("Primary", "ID", platform::ixPrimary);
  shots.CreateTable();
  constexpr int kRows = 10;
  const auto value_of = [](int i) {
    std::string v(600000, '\0');
    for (std::size_t j = 0; j < v.size(); j += 4096)
      v[j] = static_cast<char>('A' + i);
    v.back() = static_cast<char>(i);
    return v;
  };
  shots.Open();
  for (int i = 1; i <= kRows; ++i)
    shots.AppendRecord({Variant::Null(), Str(value_of(i))});
  shots.Close();
  const std::string other = Path("Other.vez");
  CreateDatabaseFile(other);
  ASSERT_TRUE(shots.CopyTable("Shots", other, ""));
  auto other_db = MakeDatabase("OtherDb", other);
  TVEZTable& copy = NewTable("Shots", "OtherDb");
  copy.Open();
  int n = 0;
  for (copy.First(); !copy.Eof(); copy.Next()) {
    ++n;
    ASSERT_EQ(copy.FieldByName("ID").AsInteger(), n);
    EXPECT_TRUE(copy.FieldByName("Picture").AsString() == value_of(n)) << n;
  }
  EXPECT_EQ(n, kRows);
  copy.Close();
}

TEST_F(TableCopyTest, CopyRefusals) {
  TVEZTable& runs = OldRuns(8);
  TVEZTable& existing = NewTable("Existing");
  existing.FieldDefs().Add("X", platform::ftInteger);
  existing.CreateTable();

  std::string log;
  bool cont = true;
  // Onto an existing table of the same file (named by file name).
  EXPECT_EQ(NativeOf([&] {
              runs.CopyTable("Existing", log, cont, file_, "", false, false, true, 0, 100);
            }),
            30448);
  EXPECT_FALSE(runs.CopyTable("Existing", log, cont, file_, "", true, false, true, 0, 100));
  EXPECT_EQ(log, "Table '" + file_ + ".Existing' already exists");
  // Onto itself in its own file, in other letter case, and within the own
  // database even when overwriting is asked for.
  EXPECT_EQ(
      NativeOf([&] { runs.CopyTable("rUNS", log, cont, file_, "", false, true, true, 0, 100); }),
      30447);
  EXPECT_EQ(NativeOf([&] { runs.CopyTable("runs", log, cont, "", "", false, true, true, 0, 100); }),
            30447);
  log.clear();
  EXPECT_FALSE(runs.CopyTable("RUNS", log, cont, "", "", true, true, true, 0, 100));
  EXPECT_EQ(log, "Cannot copy table '" + file_ + ".Runs' into it self");
  // Its own file named by another path.
  const std::size_t slash = file_.rfind('/');
  const std::string other_path = file_.substr(0, slash) + "/./" + file_.substr(slash + 1);
  EXPECT_EQ(NativeOf([&] {
              runs.CopyTable("Runs", log, cont, other_path, "", false, true, true, 0, 100);
            }),
            30447);
  // Within the own database without overwriting, the name is taken like any
  // other.
  EXPECT_EQ(
      NativeOf([&] { runs.CopyTable("runs", log, cont, "", "", false, false, true, 0, 100); }),
      30448);
  log.clear();
  EXPECT_FALSE(runs.CopyTable("runs", log, cont, "", "", true, false, true, 0, 100));
  EXPECT_EQ(log, "Table '" + file_ + ".runs' already exists");
  // A destination that cannot be opened.
  EXPECT_ANY_THROW(
      runs.CopyTable("X", log, cont, Path("missing.vez"), "", false, false, true, 0, 100));
  log.clear();
  EXPECT_FALSE(runs.CopyTable("X", log, cont, Path("missing.vez"), "", true, false, true, 0, 100));
  EXPECT_NE(log, "");
  // Memory destination holding the name.
  TVEZTable& mem = NewTable("M", "MEMORY");
  mem.FieldDefs().Add("X", platform::ftInteger);
  mem.CreateTable();
  mem.Open();
  EXPECT_EQ(
      NativeOf([&] { runs.CopyTable("M", log, cont, "MEMORY", "", false, false, true, 0, 100); }),
      10515);
  mem.Close();
  // A table of the memory database copied onto itself there.
  mem.Open();
  mem.AppendRecord({Int(7)});
  mem.Close();
  EXPECT_EQ(
      NativeOf([&] { mem.CopyTable("m", log, cont, "MEMORY", "", false, true, true, 0, 100); }),
      30447);
  mem.Open();
  EXPECT_EQ(mem.RecordCount(), 1);
  mem.Close();

  EXPECT_FALSE(runs.Active());
  EXPECT_EQ(RowsOf(runs), ExpectedRows(8));
  std::vector<std::string> tables = Tables();
  std::sort(tables.begin(), tables.end());
  EXPECT_EQ(tables, (std::vector<std::string>{"Existing", "Runs"}));
}

// ---------------------------------------------------------------------------
// Wait window

// An engine UI whose event pump runs a callback.
class PumpingUi : public ScriptedEngineUi {
 public:
  std::function<void()> on_events;
  void ProcessEvents() override {
    ScriptedEngineUi::ProcessEvents();
    if (on_events) on_events();
  }
};

TEST_F(TableCopyTest, WaitWindowShowsProgressAndItsAbortStopsTheCopy) {
  db_->SetSilentMode(false);
  TVEZTable& runs = OldRuns(60);
  PumpingUi ui;
  platform::ScopedEngineUi scope(ui);
  ASSERT_TRUE(runs.CopyTable("Copy1", "", ""));
  const auto& events = ui.Log();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(), "wait:Copy Table...");
  EXPECT_EQ(events[1], "percent:0");
  EXPECT_EQ(std::count(events.begin(), events.end(), "percent:100"), 1);

  // Events pumped mid-copy may not move the table.
  int refused = 0;
  ui.on_events = [&] {
    try {
      runs.Next();
    } catch (const platform::EDatabaseError&) {
      ++refused;
    }
  };
  ui.AbortAtPercent(30);
  std::string log;
  bool cont = true;
  EXPECT_TRUE(runs.CopyTable("Copy2", log, cont, "", "", false, false, true, 0, 100));
  ui.on_events = nullptr;
  EXPECT_FALSE(cont);
  EXPECT_EQ(log, "Terminated by User.\r\n");
  EXPECT_GT(refused, 0);
  TVEZTable& copy2 = NewTable("Copy2");
  const auto rows = RowsOf(copy2);
  EXPECT_LT(rows.size(), 60u);
  EXPECT_GT(rows.size(), 0u);
  EXPECT_EQ(RowsOf(runs), ExpectedRows(60));
}

struct Dispatch {
  const char* caption;
  void (TVEZTable::*before)(platform::DataSet&);
  void (TVEZTable::*progress)(platform::DataSet&, int, bool&);
  void (TVEZTable::*after)(platform::DataSet&);
};

// Each operation's default events open the wait window with its own text,
// move its bar, pump events once per step and read its abort button; a
// user's handler replaces the window.
TEST_F(TableCopyTest, EveryOperationsDefaultEventsDriveTheWaitWindow) {
  db_->SetSilentMode(false);
  TVEZTable& runs = OldRuns(3);
  const Dispatch dispatches[] = {
      {"Copy Table...", &TVEZTable::InternalBeforeCopy, &TVEZTable::InternalOnCopyProgress,
       &TVEZTable::InternalAfterCopy},
      {"Import Table...", &TVEZTable::InternalBeforeImport, &TVEZTable::InternalOnImportProgress,
       &TVEZTable::InternalAfterImport},
      {"Export Table...", &TVEZTable::InternalBeforeExport, &TVEZTable::InternalOnExportProgress,
       &TVEZTable::InternalAfterExport},
      {"Restructure Table...", &TVEZTable::InternalBeforeRestructure,
       &TVEZTable::InternalOnRestructureProgress, &TVEZTable::InternalAfterRestructure},
      {"Batch Moving...", &TVEZTable::InternalBeforeBatchMove,
       &TVEZTable::InternalOnBatchMoveProgress, &TVEZTable::InternalAfterBatchMove},
  };
  for (const Dispatch& d : dispatches) {
    SCOPED_TRACE(d.caption);
    ScriptedEngineUi ui;
    platform::ScopedEngineUi scope(ui);
    ui.AbortAtPercent(60);
    bool cont = true;
    (runs.*d.before)(runs);
    (runs.*d.progress)(runs, 40, cont);
    EXPECT_TRUE(cont);
    (runs.*d.progress)(runs, 70, cont);
    EXPECT_FALSE(cont);
    (runs.*d.after)(runs);
    EXPECT_EQ(ui.Log(),
              (std::vector<std::string>{std::string("wait:") + d.caption, "percent:0", "events",
                                        "percent:40", "events", "percent:70", "events"}));
  }
  ScriptedEngineUi ui;
  platform::ScopedEngineUi scope(ui);
  std::vector<int> percents;
  runs.OnRestructureProgress = [&](platform::DataSet&, int percent, bool& c) {
    percents.push_back(percent);
    c = false;
  };
  bool cont = true;
  runs.InternalOnRestructureProgress(runs, 25, cont);
  EXPECT_FALSE(cont);
  EXPECT_EQ(percents, std::vector<int>{25});
  EXPECT_TRUE(ui.Log().empty());
}

TEST_F(TableCopyTest, NoWaitWindowInSilentModeOrForATemporaryTable) {
  TVEZTable& runs = OldRuns(20);
  ScriptedEngineUi ui;
  platform::ScopedEngineUi scope(ui);
  ASSERT_TRUE(runs.CopyTable("Quiet", "", ""));
  EXPECT_TRUE(ui.Log().empty());

  TVEZTable& temp = NewTable();
  temp.SetTemporary(true);
  temp.SetTableName("T1");
  temp.FieldDefs().Add("ID", platform::ftInteger);
  temp.CreateTable();
  temp.Open();
  for (int i = 0; i < 10; ++i)
    temp.AppendRecord({Int(i)});
  temp.Close();
  db_->SetSilentMode(false);
  ASSERT_TRUE(temp.CopyTable("T2", "", ""));
  EXPECT_TRUE(ui.Log().empty());

  // With a database that is not silent, a user's handler replaces the
  // window.
  int calls = 0;
  runs.OnCopyProgress = [&](platform::DataSet&, int, bool&) { ++calls; };
  runs.BeforeCopy = [](platform::DataSet&) {};
  runs.AfterCopy = [](platform::DataSet&) {};
  ASSERT_TRUE(runs.CopyTable("Handled", "", ""));
  EXPECT_TRUE(ui.Log().empty());
  EXPECT_EQ(calls, 20);
}

// ---------------------------------------------------------------------------
// Leftovers

TEST(RestructureLeftoverNameTest, RecognisesOnlyTheRestructuresNames) {
  const std::string guid = "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
  struct Case {
    std::string name;
    bool leftover;
  };
  for (const Case& c : std::vector<Case>{{"OLD_Runs_" + guid, true},
                                         {"old_Runs_" + guid, true},
                                         {"OLD_My_Table_" + guid, true},
                                         {"OLD__" + guid, false},
                                         {"OLD_Runs" + guid, false},
                                         {"Runs", false},
                                         {"OLD_Runs_{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F}", false},
                                         {"OLD_Runs_{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1FG}", false},
                                         {"OLD_Runs_0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0", false},
                                         {"OLDRuns_" + guid, false}}) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsRestructureLeftoverName(c.name), c.leftover);
  }
}

TEST_F(TableCopyTest, LeftoverQueryListsOldCopiesAndDeletesNothing) {
  OldRuns(3);
  const std::string old = MakeUniqueName("OLD_Runs_");
  TVEZTable& t = NewTable("Runs");
  t.CopyTable(old, "", "");
  EXPECT_EQ(RestructureLeftoverTables(*db_), std::vector<std::string>{old});
  EXPECT_EQ(RestructureLeftoverTables(*db_), std::vector<std::string>{old});
  EXPECT_EQ(Tables().size(), 2u);
}

}  // namespace
}  // namespace vez::test

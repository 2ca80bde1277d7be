// The table component's batch move: the six modes over one table of cases,
// the key index made for the move and dropped again, a record that cannot be
// inserted passed over and counted, and both datasets back on their records.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/api/VEZAdvancedDefs.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZTypes.h"
#include "platform/core/Exceptions.h"
#include "tests/common/VEZTestDataSet.h"
#include "tests/common/VEZTestSQLEngine.h"
#include "tests/dbengine/api/SessionTestSupport.h"

namespace vez::test {
namespace {

using Rows = std::map<int, std::string>;

struct MoveCase {
  const char* name;
  TVEZBatchMoveType type;
  Rows after;
};

void PrintTo(const MoveCase& c, std::ostream* os) {
  *os << c.name;
}

class BatchMoveTest : public SessionLayerTest {
 protected:
  void SetUp() override {
    SessionLayerTest::SetUp();
    db_ = MakeDatabase("RVX_Database", Path("RVX_Log.vez"));
    db_->SetSilentMode(true);
    db_->CreateDatabase();
  }
  void TearDown() override {
    tables_.clear();
    db_.reset();
    SessionLayerTest::TearDown();
  }

  // ID and Value; with primary an index on ID marked primary, else a plain
  // one on Value only (so no index matches records by ID).
  TVEZTable& MakeTable(const std::string& name, const Rows& rows, bool primary = true) {
    tables_.push_back(std::make_unique<TVEZTable>());
    TVEZTable& t = *tables_.back();
    t.SetDatabaseName("RVX_Database");
    t.SetTableName(name);
    t.AdvFieldDefs().Add("ID", aftInteger, 0, true);
    t.AdvFieldDefs().Add("Value", aftString, 20, false);
    if (primary)
      t.AdvIndexDefs().Add("PK", "ID", platform::ixPrimary);
    else
      t.AdvIndexDefs().Add("ByValue", "Value", 0);
    t.CreateTable();
    t.Open();
    for (const auto& [id, value] : rows)
      t.AppendRecord({platform::Variant::FromInteger(id), platform::Variant::FromString(value)});
    return t;
  }

  static Rows RowsOf(TVEZTable& t) {
    Rows rows;
    t.First();
    while (!t.Eof()) {
      rows[t.FieldByName("ID").AsInteger()] = t.FieldByName("Value").AsString();
      t.Next();
    }
    return rows;
  }

  static std::vector<std::string> IndexNames(TVEZTable& t) {
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < t.AdvIndexDefs().Count(); ++i)
      names.push_back(t.AdvIndexDefs().GetDef(i)->Name);
    return names;
  }

  std::unique_ptr<TVEZDatabase> db_;
  std::vector<std::unique_ptr<TVEZTable>> tables_;
};

const Rows kSource = {{1, "s1"}, {3, "s3"}, {4, "s4"}};
// Unmatched records next to each other (5, 6) catch a synchronize that
// steps past the record after a delete.
const Rows kTable = {{1, "x1"}, {2, "x2"}, {3, "x3"}, {5, "x5"}, {6, "x6"}};

class BatchMoveModeTest : public BatchMoveTest, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(BatchMoveModeTest, MergesByKey) {
  TVEZTable& source = MakeTable("Src", kSource);
  TVEZTable& table = MakeTable("Dst", kTable);
  int percent_seen = -1;
  table.OnBatchMoveProgress = [&](platform::DataSet&, int percent, bool&) {
    EXPECT_GE(percent, percent_seen);
    percent_seen = percent;
  };
  table.BatchMove(source, GetParam().type);
  EXPECT_EQ(table.LastBatchMoveSkipped(), 0);
  EXPECT_EQ(RowsOf(table), GetParam().after);
  EXPECT_EQ(RowsOf(source), kSource);
  EXPECT_EQ(percent_seen, 100);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, BatchMoveModeTest,
    ::testing::Values(
        MoveCase{"Append",
                 bmtAppend,
                 {{1, "x1"}, {2, "x2"}, {3, "x3"}, {4, "s4"}, {5, "x5"}, {6, "x6"}}},
        MoveCase{"Update", bmtUpdate, {{1, "s1"}, {2, "x2"}, {3, "s3"}, {5, "x5"}, {6, "x6"}}},
        MoveCase{"AppendUpdate",
                 bmtAppendUpdate,
                 {{1, "s1"}, {2, "x2"}, {3, "s3"}, {4, "s4"}, {5, "x5"}, {6, "x6"}}},
        MoveCase{"Delete", bmtDelete, {{2, "x2"}, {5, "x5"}, {6, "x6"}}},
        MoveCase{"Copy", bmtCopy, kSource}, MoveCase{"Synchronize", bmtSynchronize, kSource}),
    [](const ::testing::TestParamInfo<MoveCase>& info) { return std::string(info.param.name); });

// Without a primary key the records match on every common column.
TEST_F(BatchMoveTest, IndexMadeForTheMoveIsDroppedAgain) {
  for (TVEZBatchMoveType type : {bmtAppend, bmtSynchronize}) {
    SCOPED_TRACE(static_cast<int>(type));
    tables_.clear();
    TVEZTable& source = MakeTable("Src" + std::to_string(type), {{1, "a"}, {2, "b"}}, false);
    TVEZTable& table =
        MakeTable("Dst" + std::to_string(type), {{1, "a"}, {2, "other"}, {3, "c"}}, false);
    table.BatchMove(source, type);
    std::multimap<int, std::string> rows;
    table.First();
    while (!table.Eof()) {
      rows.emplace(table.FieldByName("ID").AsInteger(), table.FieldByName("Value").AsString());
      table.Next();
    }
    if (type == bmtAppend) {
      EXPECT_EQ(rows,
                (std::multimap<int, std::string>{{1, "a"}, {2, "other"}, {2, "b"}, {3, "c"}}));
    } else {
      EXPECT_EQ(rows, (std::multimap<int, std::string>{{1, "a"}, {2, "b"}}));
    }
    for (TVEZTable* t : {&table, &source}) {
      t->Close();
      t->Open();
      EXPECT_EQ(IndexNames(*t), std::vector<std::string>{"ByValue"});
    }
  }
}

TEST_F(BatchMoveTest, MissingTableIsMadeFromTheSource) {
  TVEZTable& source = MakeTable("Src", kSource);
  tables_.push_back(std::make_unique<TVEZTable>());
  TVEZTable& table = *tables_.back();
  table.SetDatabaseName("RVX_Database");
  table.SetTableName("Fresh");
  ASSERT_FALSE(table.Exists());
  table.BatchMove(source, bmtAppend);
  EXPECT_EQ(RowsOf(table), kSource);
}

TEST_F(BatchMoveTest, RecordThatCannotBeInsertedIsSkippedAndCounted) {
  TVEZTable& source = MakeTable("Src", {{1, "s1"}, {7, "dup"}, {8, "s8"}});
  TVEZTable& table = MakeTable("Dst", {{2, "dup"}});
  table.Close();
  table.AddIndex("UniqueValue", "Value", platform::ixUnique);
  table.Open();
  table.BatchMove(source, bmtAppend, "PK");
  EXPECT_EQ(table.LastBatchMoveSkipped(), 1);
  EXPECT_EQ(RowsOf(table), (Rows{{1, "s1"}, {2, "dup"}, {8, "s8"}}));
  table.BatchMove(source, bmtAppend, "PK");
  EXPECT_EQ(table.LastBatchMoveSkipped(), 1);  // the same record again
}

TEST_F(BatchMoveTest, BothDatasetsEndWhereTheyWere) {
  TVEZTable& source = MakeTable("Src", kSource);
  TVEZTable& table = MakeTable("Dst", kTable);
  source.First();
  source.Next();  // 3
  table.Last();   // 6
  table.BatchMove(source, bmtAppendUpdate);
  EXPECT_EQ(source.FieldByName("ID").AsInteger(), 3);
  EXPECT_EQ(table.FieldByName("ID").AsInteger(), 6);
}

TEST_F(BatchMoveTest, StoppedByProgressHandler) {
  TVEZTable& source = MakeTable("Src", kSource);
  TVEZTable& table = MakeTable("Dst", kTable);
  int calls = 0;
  bool after = false;
  table.OnBatchMoveProgress = [&](platform::DataSet&, int, bool& cont) {
    if (++calls == 2) cont = false;
  };
  table.AfterBatchMove = [&](platform::DataSet&) { after = true; };
  table.BatchMove(source, bmtSynchronize);
  EXPECT_TRUE(after);
  // Only the first record was merged; no record was deleted.
  EXPECT_EQ(RowsOf(table), (Rows{{1, "s1"}, {2, "x2"}, {3, "x3"}, {5, "x5"}, {6, "x6"}}));
}

// An update the table refuses passes on, and both datasets are still put
// back: no edit left open, controls enabled, the index choice restored.
TEST_F(BatchMoveTest, FailedUpdateStillRestoresBothDatasets) {
  TVEZTable& source = MakeTable("Src", {{1, "dup"}}, false);
  TVEZTable& table = MakeTable("Dst", {{1, "a"}, {2, "dup"}}, false);
  table.Close();
  table.AddIndex("UniqueValue", "Value", platform::ixUnique);
  table.AddIndex("ByID", "ID", 0);
  table.Open();
  table.SetIndexName("ByValue");
  bool after = false;
  table.AfterBatchMove = [&](platform::DataSet&) { after = true; };
  // Keyed on ID: record 1 is found, and its new Value collides.
  EXPECT_ANY_THROW(table.BatchMove(source, bmtUpdate, "ByID"));
  EXPECT_TRUE(after);
  EXPECT_EQ(table.State(), platform::TDataSetState::dsBrowse);
  EXPECT_FALSE(table.ControlsDisabled());
  EXPECT_FALSE(source.ControlsDisabled());
  EXPECT_EQ(table.IndexName(), "ByValue");
  EXPECT_EQ(RowsOf(table), (Rows{{1, "a"}, {2, "dup"}}));
}

// A source that is not a table component is searched with Locate in the
// synchronize pass: on one key column (one value) and on two (an array).
TEST_F(BatchMoveTest, SynchronizeWithADatasetThatIsNotATable) {
  TScopedSQLEngine engine;
  for (const bool two_columns : {false, true}) {
    SCOPED_TRACE(two_columns);
    tables_.clear();
    MakeTable("Src", kSource).Close();
    TVEZTable& table = MakeTable("Dst", kTable);
    if (two_columns) {
      // Keyed on ID and Value, source records 1 and 3 are not found, and
      // their insert collides with the primary key: skipped. Every old
      // record then lacks its match in the source; only 4 stays.
      table.Close();
      table.AddIndex("IdValue", "ID;Value", 0);
      table.Open();
    }
    TTestTable source;
    source.SetDatabaseName("RVX_Database");
    source.TableName = "Src";
    source.Open();
    source.Last();
    table.BatchMove(source, bmtSynchronize, two_columns ? "IdValue" : "");
    EXPECT_EQ(table.LastBatchMoveSkipped(), two_columns ? 2 : 0);
    EXPECT_EQ(RowsOf(table), two_columns ? (Rows{{4, "s4"}}) : kSource);
    EXPECT_EQ(source.FieldByName("ID").AsInteger(), 4);
    source.Close();
  }
}

TEST_F(BatchMoveTest, FailedLookupPassesOnAfterTheAfterEvent) {
  TVEZTable& source = MakeTable("Src", kSource);
  TVEZTable& table = MakeTable("Dst", kTable);
  bool after = false;
  table.AfterBatchMove = [&](platform::DataSet&) { after = true; };
  EXPECT_ANY_THROW(table.BatchMove(source, bmtAppend, "NoSuchIndex"));
  EXPECT_FALSE(after);  // the index is chosen before the move begins
  EXPECT_EQ(RowsOf(table), kTable);
}

}  // namespace
}  // namespace vez::test

// Single-table queries run end to end through the query component: the
// operator tree of one FROM table or sub-query, projections, ORDER BY,
// DISTINCT, TOP, INTO, the read-only rules and the table locks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "dbengine/api/VEZQuery.h"
#include "dbengine/api/VEZSession.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/sql/VEZAO.h"
#include "dbengine/sql/VEZAOSQLTopRowCount.h"
#include "dbengine/sql/VEZAOTable.h"
#include "dbengine/sql/VEZAOTableExpr.h"
#include "dbengine/sql/VEZSQLProcessor.h"
#include "dbengine/sql/VEZSQLSelect.h"
#include "dbengine/storage/VEZCursor.h"
#include "platform/core/Clock.h"
#include "tests/dbengine/sql/StatementTestSupport.h"

namespace vez::test {
namespace {

struct QueryResult {
  std::vector<std::string> columns;
  std::vector<std::string> rows;
  bool read_only = false;
};

class SelectQueryTest : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    Exec("CREATE TABLE T (A INTEGER, B VARCHAR(10), C INTEGER)");
    Insert("T", {{"1", "x", "30"}, {"2", "y", "10"}, {"3", "x", "20"}, {"4", "", "10"}});
  }

  // Rows of text values ("" leaves the column NULL).
  void Insert(const std::string& table, const std::vector<std::vector<std::string>>& rows) {
    TVEZTable& t = NewTable(table);
    t.Open();
    for (const auto& row : rows) {
      t.Append();
      for (std::size_t i = 0; i < row.size(); ++i)
        if (!row[i].empty()) t.Fields(static_cast<int>(i)).SetAsString(row[i]);
      t.Post();
    }
    t.Close();
  }

  QueryResult Open(const std::string& sql, bool live = false) {
    TVEZQuery query;
    query.SetDatabaseName("RVX_Database");
    query.SetRequestLive(live);
    query.SetSQL(sql);
    query.Open();
    QueryResult r;
    for (int i = 0; i < query.FieldCount(); ++i)
      r.columns.push_back(query.Fields(i).FieldName());
    for (query.First(); !query.Eof(); query.Next()) {
      std::string row;
      for (int i = 0; i < query.FieldCount(); ++i) {
        if (i > 0) row += "|";
        const platform::Field& f = query.Fields(i);
        row += f.IsNull() ? "NULL" : f.AsString();
      }
      r.rows.push_back(row);
    }
    r.read_only = !query.CanModify();
    query.Close();
    return r;
  }

  std::int32_t OpenError(const std::string& sql, bool live = false) {
    try {
      Open(sql, live);
    } catch (const EVEZException& e) {
      return e.NativeError();
    }
    return 0;
  }
};

using Texts = std::vector<std::string>;

TEST_F(SelectQueryTest, WhereAndProjection) {
  const QueryResult r = Open("SELECT A, C FROM T WHERE B = 'x'");
  EXPECT_EQ(r.columns, (Texts{"A", "C"}));
  EXPECT_EQ(r.rows, (Texts{"1|30", "3|20"}));
  EXPECT_TRUE(r.read_only);
}

TEST_F(SelectQueryTest, LiveSingleTableIsWritable) {
  const QueryResult r = Open("SELECT * FROM T WHERE C = 10", true);
  EXPECT_EQ(r.rows, (Texts{"2|y|10", "4|NULL|10"}));
  EXPECT_FALSE(r.read_only);
}

TEST_F(SelectQueryTest, OrderByAndDistinctAndTop) {
  EXPECT_EQ(Open("SELECT A FROM T ORDER BY C DESC, A").rows, (Texts{"1", "3", "2", "4"}));
  EXPECT_EQ(Open("SELECT DISTINCT C FROM T").rows.size(), 3u);
  EXPECT_EQ(Open("SELECT TOP 2 A FROM T ORDER BY A DESC").rows, (Texts{"4", "3"}));
  EXPECT_EQ(Open("SELECT A * 2 AS D FROM T WHERE A > 2").rows, (Texts{"6", "8"}));
}

TEST_F(SelectQueryTest, ProjectionEdgeCases) {
  // A `*` on one live table shows its columns once, in table order (the
  // result is the stored table itself); the copy of a non-live query keeps
  // the listed column too, under a unique name. A bare `*` after a comma is
  // no expression, and a lone `*` ends the list: the parser refuses both.
  EXPECT_EQ(Open("SELECT A, T.* FROM T", true).columns, (Texts{"A", "B", "C"}));
  EXPECT_EQ(Open("SELECT C, t1.* FROM T t1 WHERE A = 2", true).rows, (Texts{"2|y|10"}));
  EXPECT_EQ(Open("SELECT A, T.* FROM T").columns, (Texts{"A", "A_1", "B", "C"}));
  EXPECT_EQ(Open("SELECT C, t1.* FROM T t1 WHERE A = 2").rows, (Texts{"10|2|y|10"}));
  for (bool live : {false, true}) {
    SCOPED_TRACE(live);
    EXPECT_EQ(OpenError("SELECT A, * FROM T", live), 30160);
    EXPECT_EQ(OpenError("SELECT *, A FROM T", live), 30184);
  }
  EXPECT_EQ(OpenError("SELECT X.A FROM T"), 30327);
  EXPECT_EQ(Open("SELECT T.A FROM T t1 WHERE A = 1").rows, (Texts{"1"}));
  EXPECT_EQ(Open("SELECT t1.A FROM T t1 WHERE A = 1").rows, (Texts{"1"}));
  for (bool live : {false, true}) {
    SCOPED_TRACE(live);
    const QueryResult r = Open("SELECT A AS B FROM T WHERE A < 3", live);
    EXPECT_EQ(r.columns, (Texts{"B"}));
    EXPECT_EQ(r.rows, (Texts{"1", "2"}));
  }
  const QueryResult expr = Open("SELECT A + 1 FROM T WHERE A = 1");
  ASSERT_EQ(expr.columns.size(), 1u);
  EXPECT_EQ(expr.columns[0].rfind("Expr{", 0), 0u) << expr.columns[0];
  EXPECT_EQ(expr.columns[0].size(), 4u + 38u);
  EXPECT_EQ(expr.rows, (Texts{"2"}));
  // A repeated column becomes a second column of its own name.
  EXPECT_EQ(Open("SELECT A, A FROM T WHERE A = 2").rows, (Texts{"2|2"}));
}

TEST_F(SelectQueryTest, OrderByEdgeCases) {
  {
    TVEZTable& t = NewTable("T");
    t.AddIndex("ByC", "C");
  }
  struct Case {
    const char* sql;
    Texts rows;
  };
  const std::vector<Case> cases = {
      {"SELECT A FROM T ORDER BY C, A", {"2", "4", "3", "1"}},
      {"SELECT A FROM T ORDER BY C DESC, A DESC", {"1", "3", "4", "2"}},
      {"SELECT A, B FROM T ORDER BY B, A", {"4|NULL", "1|x", "3|x", "2|y"}},
      {"SELECT A, B FROM T ORDER BY B DESC, A", {"2|y", "1|x", "3|x", "4|NULL"}},
      {"SELECT A, C FROM T ORDER BY 2, 1", {"2|10", "4|10", "3|20", "1|30"}},
      {"SELECT A AS Z FROM T ORDER BY Z DESC", {"4", "3", "2", "1"}},
      {"SELECT * FROM T ORDER BY C, A", {"2|y|10", "4|NULL|10", "3|x|20", "1|x|30"}},
  };
  for (bool live : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.sql) + (live ? " live" : ""));
      const QueryResult r = Open(c.sql, live);
      EXPECT_EQ(r.rows, c.rows);
    }
  }
  // The ORDER BY column need not be selected: it is sorted on and not shown.
  const QueryResult extra = Open("SELECT B FROM T WHERE A > 1 ORDER BY A DESC");
  EXPECT_EQ(extra.columns, (Texts{"B"}));
  EXPECT_EQ(extra.rows, (Texts{"NULL", "x", "y"}));
  EXPECT_EQ(OpenError("SELECT A FROM T ORDER BY Nope"), 30195);
  EXPECT_EQ(OpenError("SELECT A FROM T ORDER BY 2"), 20243);
}

TEST_F(SelectQueryTest, DistinctAndTopEdgeCases) {
  // Equal values that are not adjacent in table order are kept once.
  EXPECT_EQ(Open("SELECT DISTINCT B FROM T ORDER BY B").rows, (Texts{"NULL", "x", "y"}));
  EXPECT_EQ(Open("SELECT DISTINCT C FROM T ORDER BY C").rows, (Texts{"10", "20", "30"}));
  EXPECT_EQ(Open("SELECT DISTINCT B, C FROM T WHERE B = 'x'").rows.size(), 2u);
  EXPECT_TRUE(Open("SELECT TOP 0 * FROM T").rows.empty());
  EXPECT_EQ(Open("SELECT TOP 0 * FROM T").columns, (Texts{"A", "B", "C"}));
  EXPECT_EQ(Open("SELECT TOP 2 A FROM T").rows, (Texts{"1", "2"}));
  EXPECT_EQ(Open("SELECT TOP 2, 3 A FROM T").rows, (Texts{"3", "4"}));
  EXPECT_EQ(Open("SELECT TOP 9, 2 A FROM T ORDER BY A DESC").rows, (Texts{"3", "2", "1"}));
  EXPECT_EQ(OpenError("SELECT * FROM T x y"), 20260);
}

// Rows a filter on the limited operator rejects do not shift the TOP window.
TEST_F(SelectQueryTest, TopCountsRowsAfterTheFilter) {
  // D is computed above the table, so the condition on it filters there.
  EXPECT_EQ(Open("SELECT TOP 1, 2 A + 0 AS D FROM T WHERE D > 1").rows, (Texts{"3"}));
  EXPECT_EQ(Open("SELECT TOP 2, 2 A + 0 AS D FROM T WHERE D > 1").rows, (Texts{"3", "4"}));
  EXPECT_EQ(Open("SELECT TOP 5, 1 A + 0 AS D FROM T WHERE D > 2").rows, (Texts{"3", "4"}));
}

TEST_F(SelectQueryTest, ResultsAndReadOnlyRules) {
  EXPECT_TRUE(Open("SELECT * FROM T").read_only);
  EXPECT_FALSE(Open("SELECT * FROM T", true).read_only);
  EXPECT_FALSE(Open("SELECT A, C FROM T", true).read_only);
  EXPECT_TRUE(Open("SELECT A + 1 AS D FROM T", true).read_only);
  EXPECT_TRUE(Open("SELECT TOP 1 * FROM T", true).read_only);
  for (bool live : {false, true}) {
    SCOPED_TRACE(live);
    const QueryResult empty = Open("SELECT * FROM T WHERE A > 100", live);
    EXPECT_EQ(empty.columns, (Texts{"A", "B", "C"}));
    EXPECT_TRUE(empty.rows.empty());
  }
  // A live result writes through to the table.
  {
    TVEZQuery query;
    query.SetDatabaseName("RVX_Database");
    query.SetRequestLive(true);
    query.SetSQL("SELECT * FROM T WHERE A = 2");
    query.Open();
    query.Edit();
    query.FieldByName("C").SetAsInteger(99);
    query.Post();
  }
  EXPECT_EQ(Open("SELECT C FROM T WHERE A = 2").rows, (Texts{"99"}));
}

// A database that disables temporary files still runs queries whose result
// is copied into a temporary table.
TEST_F(SelectQueryTest, ResultTablesWithoutTemporaryFiles) {
  db_->SetDisableTempFiles(true);
  EXPECT_EQ(Open("SELECT DISTINCT C FROM T ORDER BY C DESC").rows, (Texts{"30", "20", "10"}));
  EXPECT_EQ(Open("SELECT TOP 1, 2 A + 0 AS D FROM T WHERE D > 1").rows, (Texts{"3"}));
}

TEST_F(SelectQueryTest, SubqueryInFrom) {
  EXPECT_EQ(Open("SELECT X FROM (SELECT A AS X FROM T WHERE C = 10) s ORDER BY X DESC").rows,
            (Texts{"4", "2"}));
  EXPECT_EQ(Open("SELECT * FROM (SELECT A, C FROM T) s WHERE C = 20").rows, (Texts{"3|20"}));
}

// HAVING with nothing grouped would filter nothing; it is refused.
TEST_F(SelectQueryTest, HavingWithoutGroupingRaises) {
  EXPECT_EQ(OpenError("SELECT A FROM T HAVING A > 2"), 20244);
  EXPECT_EQ(Open("SELECT A FROM T WHERE A > 2").rows, (Texts{"3", "4"}));
}

TEST_F(SelectQueryTest, IntoWritesTheRowsIntoTheNamedDatabase) {
  Exec("SELECT A, C INTO Copy FROM T WHERE C = 10");
  EXPECT_EQ(Rows("Copy"), (Texts{"2|10", "4|10"}));
  // Another database file named in INTO receives the table; the query's
  // database does not.
  const std::string other = Path("Other.vez");
  {
    auto other_db = MakeDatabase("OtherDB", other);
    other_db->CreateDatabase();
  }
  Exec("SELECT A, B INTO [" + other + "].Elsewhere FROM T WHERE A < 3");
  EXPECT_FALSE(Exists("Elsewhere"));
  auto reopened = MakeDatabase("OtherDB2", other);
  TVEZTable& t = NewTable("Elsewhere", "OtherDB2");
  t.Open();
  std::vector<std::string> rows;
  for (t.First(); !t.Eof(); t.Next())
    rows.push_back(t.Fields(0).AsString() + "|" + t.Fields(1).AsString());
  t.Close();
  EXPECT_EQ(rows, (Texts{"1|x", "2|y"}));
}

TEST_F(SelectQueryTest, ALockHeldPastEveryAttemptRaisesAndUnlocks) {
  auto t = std::make_unique<TVEZTable>();
  t->SetDatabaseName("RVX_Database");
  t->SetTableName("T");
  TVEZAOTable root("T", "", nullptr, std::move(t));
  TVEZSession other_session;
  other_session.SetSessionName("Other");
  other_session.Open();
  auto other_db = MakeDatabase("OtherLog", file_, &other_session);
  other_db->SetMultiUser(true);
  TVEZTable other(&other_session);
  other.SetSessionName("Other");
  other.SetDatabaseName("OtherLog");
  other.SetTableName("T");
  other.Open();
  ASSERT_TRUE(other.Handle()->LockTable(ltRW, 1, 0, false));
  platform::FakeClock clock;
  {
    platform::ScopedClock installed(clock);
    try {
      TVEZSQLCursorCommand::LockTables(root);
      ADD_FAILURE() << "locked";
    } catch (const EVEZException& e) {
      EXPECT_EQ(e.NativeError(), 20225);
    }
  }
  // 900 attempts 100 ms apart: 90 s of virtual time.
  const auto sleeps = clock.Sleeps();
  EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 100u), 900);
  EXPECT_FALSE(root.FIsLocked);
  other.Handle()->UnlockTable(ltRW, false);
  // Nothing of the failed attempt still holds the table: another session can
  // take it exclusively for changes, and the query runs once it is free.
  ASSERT_TRUE(other.Handle()->LockTable(ltRW, 1, 0, false));
  other.Handle()->UnlockTable(ltRW, false);
  TVEZSQLCursorCommand::LockTables(root);
  EXPECT_TRUE(root.FIsLocked);
  EXPECT_TRUE(root.UnlockTables());
  EXPECT_FALSE(root.FIsLocked);
  EXPECT_EQ(Open("SELECT A FROM T WHERE A = 1").rows, (Texts{"1"}));
  // A query that fails while it executes leaves the table unlocked too.
  EXPECT_NE(OpenError("SELECT A / (C - 10) AS Q FROM T"), 0);
  ASSERT_TRUE(other.Handle()->LockTable(ltRW, 1, 0, false));
  other.Handle()->UnlockTable(ltRW, false);
}

// Building moves the WHERE parts into the operators: a statement object
// refuses a second build, and every open parses afresh.
TEST_F(SelectQueryTest, AStatementObjectBuildsItsTreeOnce) {
  TVEZQuery query;
  query.SetDatabaseName("RVX_Database");
  query.SetSQL("SELECT A FROM T WHERE C = 10");
  for (int run = 0; run < 2; ++run) {
    query.Open();
    EXPECT_EQ(query.RecordCount(), 2) << run;
    query.Close();
  }
  query.Open();
  auto* processor = static_cast<TVEZSQLProcessor*>(query.StmtHandle());
  auto* statement = static_cast<TVEZSQLCursorCommand*>(processor->CurrentStatement());
  ASSERT_NE(statement, nullptr);
  try {
    delete statement->BuildAOTree(&query, false, nullptr, nullptr, false);
    ADD_FAILURE() << "second build accepted";
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), TVEZSQLCursorCommand::kErrTreeBuiltTwice);
    // Not a number the parser raises (30095 is a missing "," in TOSTRING).
    EXPECT_EQ(e.NativeError(), 30473);
  }
  // The first build's result is untouched.
  EXPECT_EQ(query.RecordCount(), 2);
  query.Close();
}

// ---- operators built directly over a table

class OperatorTest : public SelectQueryTest {
 protected:
  std::unique_ptr<TVEZAOTable> TableOp(const std::string& name = "T") {
    auto t = std::make_unique<TVEZTable>();
    t->SetDatabaseName("RVX_Database");
    t->SetTableName(name);
    return std::make_unique<TVEZAOTable>(name, "", nullptr, std::move(t));
  }
  // A table operator showing every column (as a `*` select list makes it).
  std::unique_ptr<TVEZAOTable> AllColumns(const std::string& name = "T") {
    auto op = TableOp(name);
    std::vector<TVEZSelectListItem> all;
    op->SetResultFields(all, false);
    return op;
  }
  // Column 0 of every row of the operator's result.
  static Texts Column0(TVEZAO& ao) {
    Texts out;
    TVEZTable& r = *ao.ResultDataset();
    for (r.First(); !r.Eof(); r.Next())
      out.push_back(r.Fields(0).IsNull() ? "NULL" : r.Fields(0).AsString());
    return out;
  }
};

TEST_F(OperatorTest, HiddenAndOutOfRangeColumnsRaise) {
  auto table = TableOp();
  TVEZVariant v;
  table->ResultDataset()->First();
  EXPECT_EQ(table->FieldCount(), 3);
  try {
    table->GetFieldValue(v, 0, true, false);
    ADD_FAILURE();
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), 10310);
  }
  try {
    table->GetFieldValue(v, 3, true, true);
    ADD_FAILURE();
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), 10307);
  }
  table->GetFieldValue(v, 0, true, true);
  EXPECT_EQ(v.GetAsInteger(), 1);
}

// A negative first row number means the first row; the first row number is
// applied once although the child materialises too.
TEST_F(OperatorTest, TopOverAMaterialisingChildSkipsOnce) {
  for (const auto& [first, count, expected] : std::vector<std::tuple<int, int, Texts>>{
           {-5, 2, {"1", "2"}}, {2, 2, {"2", "3"}}, {3, 5, {"3", "4"}}, {1, 0, {}}}) {
    SCOPED_TRACE(testing::Message() << first << "," << count);
    auto expr = std::make_unique<TVEZAOTableExpr>(AllColumns());
    TVEZAOSQLTopRowCount top(std::move(expr));
    top.SetTopRowCount(first, count);
    top.Execute(true, nullptr, nullptr);
    EXPECT_EQ(Column0(top), expected);
  }
}

// A result column of an auto-increment type is plain: a NULL copied from
// the source stays NULL.
TEST_F(OperatorTest, AutoIncColumnsOfAResultArePlain) {
  Exec("CREATE TABLE S (ID LARGEINT, Name VARCHAR(5))");
  Insert("S", {{"7", "a"}, {"", "b"}, {"9", "c"}});
  for (bool with_fields : {false, true}) {
    SCOPED_TRACE(with_fields);
    auto table = AllColumns("S");
    table->FieldLink(0).FieldType = aftAutoIncLargeint;
    auto expr = std::make_unique<TVEZAOTableExpr>(std::move(table));
    if (with_fields) {
      std::vector<TVEZSelectListItem> items(2);
      items[0].FieldName = "ID";
      items[1].FieldName = "Name";
      expr->SetResultFields(items, false);
    }
    expr->Execute(true, nullptr, nullptr);
    EXPECT_EQ(Column0(*expr), (Texts{"7", "NULL", "9"}));
  }
}

// A filter on the materialising operator is counted before the first row
// number: rows it rejects do not shift the window.
TEST_F(OperatorTest, FirstRowNumberCountsFilteredRows) {
  auto expr = std::make_unique<TVEZAOTableExpr>(AllColumns());
  auto filter = std::make_unique<TVEZExpression>();
  // C = 10 passes rows 2 and 4 only.
  TVEZLexer lexer("C = 10", nullptr, false);
  lexer.GetNextCommand();
  filter->ParseForBooleanExpression(nullptr, &lexer);
  expr->SetFilter(std::move(filter));
  expr->SetTopRowCount(2, 1);
  expr->Execute(true, nullptr, nullptr);
  EXPECT_EQ(Column0(*expr), (Texts{"4"}));
}

}  // namespace
}  // namespace vez::test

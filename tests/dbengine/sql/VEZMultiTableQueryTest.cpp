// Queries over several tables run end to end through the query component:
// joins written with JOIN and with comma lists, grouping with HAVING, and
// set operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "dbengine/api/VEZQuery.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/sql/VEZExprNodeSubquery.h"
#include "tests/dbengine/sql/StatementTestSupport.h"

namespace vez::test {
namespace {

using TRows = std::vector<std::string>;

class MultiTableQueryTest : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    Exec("CREATE TABLE A (X INTEGER, V INTEGER)");
    Exec("CREATE TABLE B (Y INTEGER, W INTEGER)");
    Exec("CREATE TABLE E (X INTEGER)");
    Exec("CREATE TABLE ONE (K INTEGER)");
    Insert("A", {{"1", "10"}, {"2", "20"}, {"2", "21"}, {"", "30"}});
    Insert("B", {{"2", "5"}, {"2", "25"}, {"", "7"}, {"4", "8"}});
    Insert("ONE", {{"1"}});
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

  // The result rows ("NULL" for null, columns joined by '|'), sorted unless
  // the order is the query's.
  TRows Query(const std::string& sql, bool sorted = true) {
    TVEZQuery query;
    query.SetDatabaseName("RVX_Database");
    query.SetSQL(sql);
    query.Open();
    TRows rows;
    for (query.First(); !query.Eof(); query.Next()) {
      std::string row;
      for (int i = 0; i < query.FieldCount(); ++i) {
        if (i > 0) row += "|";
        const platform::Field& f = query.Fields(i);
        row += f.IsNull() ? "NULL" : f.AsString();
      }
      rows.push_back(row);
    }
    query.Close();
    if (sorted) std::sort(rows.begin(), rows.end());
    return rows;
  }

  std::int32_t QueryError(const std::string& sql) {
    try {
      Query(sql);
    } catch (const EVEZException& e) {
      return e.NativeError();
    }
    return 0;
  }
};

TEST_F(MultiTableQueryTest, Joins) {
  struct TCase {
    const char* sql;
    TRows rows;
  };
  const std::vector<TCase> cases = {
      {"SELECT * FROM A JOIN B ON A.X = B.Y", {"2|20|2|25", "2|20|2|5", "2|21|2|25", "2|21|2|5"}},
      {"SELECT * FROM A, B WHERE A.X = B.Y", {"2|20|2|25", "2|20|2|5", "2|21|2|25", "2|21|2|5"}},
      {"SELECT A.V, B.W FROM A LEFT JOIN B ON A.X = B.Y",
       {"10|NULL", "20|25", "20|5", "21|25", "21|5", "30|NULL"}},
      {"SELECT A.V, B.W FROM A RIGHT JOIN B ON A.X = B.Y",
       {"20|25", "20|5", "21|25", "21|5", "NULL|7", "NULL|8"}},
      {"SELECT A.V, B.W FROM A FULL JOIN B ON A.X = B.Y",
       {"10|NULL", "20|25", "20|5", "21|25", "21|5", "30|NULL", "NULL|7", "NULL|8"}},
      {"SELECT A.V, B.W FROM A JOIN B ON A.X = B.Y AND A.V > B.W", {"20|5", "21|5"}},
      {"SELECT A.V, B.W FROM A LEFT JOIN B ON A.X = B.Y AND B.W > 20",
       {"10|NULL", "20|25", "21|25", "30|NULL"}},
      // The condition names only the left input: it stays on the join.
      {"SELECT A.V, B.W FROM A LEFT JOIN B ON A.V > 25",
       {"10|NULL", "20|NULL", "21|NULL", "30|25", "30|5", "30|7", "30|8"}},
      {"SELECT A.V FROM A JOIN B ON A.X = B.Y WHERE B.W > 20", {"20", "21"}},
      {"SELECT A.V FROM A, B WHERE A.X = B.Y AND A.V > 20", {"21", "21"}},
      {"SELECT COUNT(*) FROM A, B", {"16"}},
      {"SELECT * FROM A CROSS JOIN ONE", {"1|10|1", "2|20|1", "2|21|1", "NULL|30|1"}},
      {"SELECT * FROM A JOIN E ON A.X = E.X", {}},
      {"SELECT A.V FROM A LEFT JOIN E ON A.X = E.X", {"10", "20", "21", "30"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.sql);
    try {
      EXPECT_EQ(Query(c.sql), c.rows);
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
    }
  }
}

TEST_F(MultiTableQueryTest, GroupingAndHaving) {
  struct TCase {
    const char* sql;
    TRows rows;
  };
  const std::vector<TCase> cases = {
      {"SELECT X, COUNT(*), SUM(V) FROM A GROUP BY X", {"1|1|10", "2|2|41", "NULL|1|30"}},
      {"SELECT X, COUNT(*) FROM A GROUP BY X HAVING COUNT(*) > 1", {"2|2"}},
      {"SELECT COUNT(*) FROM E", {"0"}},
      {"SELECT X, COUNT(*) FROM E GROUP BY X", {}},
      {"SELECT COUNT(*), MIN(V), MAX(V), AVG(V) FROM A", {"4|10|30|20.25"}},
      {"SELECT B.Y, COUNT(*) FROM A JOIN B ON A.X = B.Y GROUP BY B.Y", {"2|4"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.sql);
    try {
      EXPECT_EQ(Query(c.sql), c.rows);
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
    }
  }
  EXPECT_EQ(QueryError("SELECT X, COUNT(*) FROM A"), 10342);
  EXPECT_EQ(QueryError("SELECT V, COUNT(*) FROM A GROUP BY X"), 10342);
  EXPECT_EQ(QueryError("SELECT V + 1, COUNT(*) FROM A GROUP BY X"), 20269);
  EXPECT_EQ(QueryError("SELECT COUNT(*) AS N FROM A GROUP BY N"), 20245);
}

TEST_F(MultiTableQueryTest, SetOperations) {
  struct TCase {
    const char* sql;
    TRows rows;
  };
  const std::vector<TCase> cases = {
      {"SELECT K FROM ONE UNION SELECT K FROM ONE", {"1"}},
      {"SELECT K FROM ONE UNION ALL SELECT K FROM ONE", {"1", "1"}},
      {"SELECT X FROM A UNION SELECT Y FROM B", {"1", "2", "4", "NULL"}},
      {"SELECT X FROM A INTERSECT SELECT Y FROM B", {"2", "NULL"}},
      {"SELECT X FROM A EXCEPT SELECT Y FROM B", {"1"}},
      {"SELECT X FROM A EXCEPT SELECT X FROM E", {"1", "2", "NULL"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.sql);
    try {
      EXPECT_EQ(Query(c.sql), c.rows);
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
    }
  }
  EXPECT_EQ(Query("SELECT X FROM A UNION SELECT Y FROM B ORDER BY 1", false),
            (TRows{"NULL", "1", "2", "4"}));
}

TEST_F(MultiTableQueryTest, Subqueries) {
  struct TCase {
    const char* sql;
    TRows rows;
  };
  const std::vector<TCase> cases = {
      // A scalar query without a row is NULL.
      {"SELECT (SELECT W FROM B WHERE W > 100) FROM ONE", {"NULL"}},
      {"SELECT K FROM ONE WHERE K = (SELECT W FROM B WHERE W > 100)", {}},
      {"SELECT K FROM ONE WHERE K < (SELECT MAX(W) FROM B)", {"1"}},
      // ALL over no row holds; ANY over no row does not.
      {"SELECT K FROM ONE WHERE K > ALL (SELECT Y FROM B WHERE Y > 100)", {"1"}},
      {"SELECT K FROM ONE WHERE K > ANY (SELECT Y FROM B WHERE Y > 100)", {}},
      {"SELECT K FROM ONE WHERE K < ALL (SELECT Y FROM B WHERE Y > 1)", {"1"}},
      {"SELECT K FROM ONE WHERE K > ANY (SELECT W FROM B)", {}},
      {"SELECT V FROM A WHERE X IN (SELECT Y FROM B)", {"20", "21"}},
      // A NULL value is unknown against a query with rows, as against a
      // list of values: neither IN nor NOT IN holds. Against no row IN is
      // False and NOT IN True.
      {"SELECT V FROM A WHERE X NOT IN (SELECT Y FROM B)", {"10"}},
      {"SELECT V FROM A WHERE X NOT IN (2, 4)", {"10"}},
      {"SELECT V FROM A WHERE NOT (X IN (SELECT Y FROM B))", {"10"}},
      {"SELECT V FROM A WHERE X IN (SELECT Y FROM B WHERE Y > 100)", {}},
      {"SELECT V FROM A WHERE X NOT IN (SELECT Y FROM B WHERE Y > 100)", {"10", "20", "21", "30"}},
      {"SELECT V FROM A WHERE X IN (SELECT X FROM E)", {}},
      {"SELECT V FROM A WHERE X NOT IN (SELECT X FROM E)", {"10", "20", "21", "30"}},
      {"SELECT V FROM A WHERE EXISTS (SELECT * FROM B WHERE B.Y = A.X)", {"20", "21"}},
      {"SELECT V FROM A WHERE NOT EXISTS (SELECT * FROM B WHERE B.Y = A.X)", {"10", "30"}},
      {"SELECT V FROM A WHERE V > (SELECT MIN(W) FROM B WHERE B.Y = A.X)", {"20", "21"}},
      {"SELECT * FROM (SELECT X, COUNT(*) AS N FROM A GROUP BY X) S WHERE N > 1", {"2|2"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.sql);
    try {
      EXPECT_EQ(Query(c.sql), c.rows);
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
    }
  }
  EXPECT_EQ(QueryError("SELECT K FROM ONE WHERE K = (SELECT Y FROM B)"), 20247);
  EXPECT_EQ(QueryError("SELECT K FROM ONE WHERE K = (SELECT Y, W FROM B)"), 20246);
}

TEST_F(MultiTableQueryTest, AnUncorrelatedQueryRunsOnceACorrelatedOneForEachRecord) {
  std::int64_t before = TVEZExprNodeSubquery::ExecutionCount();
  EXPECT_EQ(Query("SELECT V FROM A WHERE X IN (SELECT Y FROM B)"), (TRows{"20", "21"}));
  EXPECT_EQ(TVEZExprNodeSubquery::ExecutionCount() - before, 1);
  before = TVEZExprNodeSubquery::ExecutionCount();
  EXPECT_EQ(Query("SELECT V FROM A WHERE EXISTS (SELECT * FROM B WHERE B.Y = A.X)"),
            (TRows{"20", "21"}));
  EXPECT_EQ(TVEZExprNodeSubquery::ExecutionCount() - before, 4);
  // Each opening parses again: a kept result is never older than its run.
  Insert("B", {{"1", "0"}});
  EXPECT_EQ(Query("SELECT V FROM A WHERE X IN (SELECT Y FROM B)"), (TRows{"10", "20", "21"}));
}

TEST_F(MultiTableQueryTest, MoreShapes) {
  Exec("CREATE TABLE N1 (K INTEGER, J INTEGER, P INTEGER)");
  Exec("CREATE TABLE N2 (K INTEGER, J INTEGER, Q INTEGER)");
  Insert("N1", {{"1", "1", "5"}, {"1", "2", "6"}});
  Insert("N2", {{"1", "2", "7"}, {"2", "2", "8"}});
  struct TCase {
    const char* sql;
    TRows rows;
    bool sorted = true;
  };
  const std::vector<TCase> cases = {
      // NATURAL pairs K and J and keeps both sides' columns.
      {"SELECT * FROM N1 NATURAL JOIN N2", {"1|2|6|1|2|7"}},
      {"SELECT N1.P, N2.Q FROM N1 JOIN N2 USING (K)", {"5|7", "6|7"}},
      // A computed column GROUP BY names is computed below the grouping.
      {"SELECT V * 2 AS D, COUNT(*) FROM A GROUP BY D", {"20|1", "40|1", "42|1", "60|1"}},
      // TOP n, m over a join and over a grouping: row m once.
      {"SELECT TOP 2, 2 A.V, B.W FROM A JOIN B ON A.X = B.Y ORDER BY A.V, B.W",
       {"20|25", "21|5"},
       false},
      {"SELECT TOP 1, 2 X, COUNT(*) FROM A GROUP BY X ORDER BY X", {"1|1"}, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.sql);
    try {
      EXPECT_EQ(Query(c.sql, c.sorted), c.rows);
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
    }
  }
}

TEST_F(MultiTableQueryTest, PlannerErrors) {
  EXPECT_EQ(QueryError("SELECT * FROM A JOIN B ON A.X = B.Y AND NOPE > 1"), 20270);
}

}  // namespace
}  // namespace vez::test

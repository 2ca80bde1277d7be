// Single-table queries run end to end through the query component: the
// operator tree of one FROM table or sub-query, projections, ORDER BY,
// DISTINCT, TOP, INTO, the read-only rules and the table locks.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dbengine/api/VEZQuery.h"
#include "dbengine/api/VEZTable.h"
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
    for (int i = 0; i < query.FieldCount(); ++i) r.columns.push_back(query.Fields(i).FieldName());
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

}  // namespace
}  // namespace vez::test

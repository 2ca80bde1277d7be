// ORDER BY served by a stored index whose leading columns the WHERE clause
// fixes, read forwards or backwards: results against a std oracle over
// random rows, the live view's navigation and record numbers, and the
// queries that must not take that road.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "dbengine/api/VEZQuery.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/storage/VEZCursor.h"
#include "tests/dbengine/sql/StatementTestSupport.h"

namespace vez::test {
namespace {

struct Row {
  int id;
  std::optional<int> m;
  std::optional<int> k;
  int v;
};

std::string Text(const std::optional<int>& value) {
  return value ? std::to_string(*value) : "NULL";
}

class SelectIndexOrderTest : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    Exec("CREATE TABLE R (ID INTEGER, M INTEGER, K INTEGER, V INTEGER)");
    std::mt19937 random(51);
    TVEZTable& t = NewTable("R");
    t.Open();
    for (int id = 1; id <= 400; ++id) {
      Row row{id, std::nullopt, std::nullopt, static_cast<int>(random() % 10)};
      if (random() % 12 != 0) row.m = static_cast<int>(random() % 4) + 1;
      if (random() % 9 != 0) row.k = static_cast<int>(random() % 60);
      t.Append();
      t.Fields(0).SetAsInteger(row.id);
      if (row.m) t.Fields(1).SetAsInteger(*row.m);
      if (row.k) t.Fields(2).SetAsInteger(*row.k);
      t.Fields(3).SetAsInteger(row.v);
      t.Post();
      rows_.push_back(row);
    }
    t.Close();
    NewTable("R").AddIndex("IX", "M;K;ID");
  }

  // The rows pred keeps, ordered by K (NULL first ascending, last
  // descending) and then ID in the same direction, as "K|ID" texts.
  std::vector<std::string> Oracle(const std::function<bool(const Row&)>& pred, bool desc) const {
    std::vector<Row> kept;
    for (const Row& r : rows_)
      if (pred(r)) kept.push_back(r);
    std::sort(kept.begin(), kept.end(), [desc](const Row& a, const Row& b) {
      const auto key = [](const Row& r) {
        return std::make_tuple(r.k.has_value(), r.k.value_or(0), r.id);
      };
      return desc ? key(b) < key(a) : key(a) < key(b);
    });
    std::vector<std::string> out;
    for (const Row& r : kept)
      out.push_back(Text(r.k) + "|" + std::to_string(r.id));
    return out;
  }

  std::vector<std::string> rows_texts(TVEZQuery& query) {
    std::vector<std::string> out;
    for (query.First(); !query.Eof(); query.Next())
      out.push_back((query.FieldByName("K").IsNull() ? "NULL" : query.FieldByName("K").AsString()) +
                    "|" + query.FieldByName("ID").AsString());
    return out;
  }

  std::vector<Row> rows_;
};

struct OrderCase {
  std::string where;
  std::function<bool(const Row&)> pred;
  bool desc;
  // Whether the stored index serves the order (a live result shows it).
  bool uses_index;
};

TEST_F(SelectIndexOrderTest, OrderThroughAnIndexTheFilterNarrowsMatchesTheOracle) {
  std::vector<OrderCase> cases;
  for (int m = 1; m <= 4; ++m) {
    const auto fixed = [m](const Row& r) { return r.m == m; };
    const std::string eq = std::to_string(m);
    cases.push_back({"M = " + eq, fixed, true, true});
    cases.push_back({"M = " + eq, fixed, false, true});
    cases.push_back(
        {eq + " = M AND V > 3", [m](const Row& r) { return r.m == m && r.v > 3; }, true, true});
    cases.push_back({"V < 5 AND (M = " + eq + ")",
                     [m](const Row& r) { return r.m == m && r.v < 5; }, true, true});
  }
  // Not fixed: the order is built over the table's rows.
  cases.push_back({"M > 2", [](const Row& r) { return r.m && *r.m > 2; }, true, false});
  cases.push_back(
      {"M = 2 OR V = 1", [](const Row& r) { return r.m == 2 || r.v == 1; }, true, false});
  cases.push_back({"M IS NULL", [](const Row& r) { return !r.m; }, true, false});
  cases.push_back({"V = 3", [](const Row& r) { return r.v == 3; }, true, false});
  for (const OrderCase& c : cases) {
    for (bool live : {false, true}) {
      const std::string dir = c.desc ? " DESC" : "";
      const std::string sql =
          "SELECT ID, K FROM R WHERE " + c.where + " ORDER BY K" + dir + ", ID" + dir;
      SCOPED_TRACE(sql + (live ? " live" : ""));
      TVEZQuery query;
      query.SetDatabaseName("RVX_Database");
      query.SetRequestLive(live);
      query.SetSQL(sql);
      query.Open();
      EXPECT_EQ(rows_texts(query), Oracle(c.pred, c.desc));
      if (live) {
        EXPECT_EQ(query.Handle()->IndexName() == "IX", c.uses_index);
        EXPECT_EQ(query.Handle()->ReverseOrder, c.uses_index && c.desc);
      }
      query.Close();
    }
  }
  // TOP takes the first rows of the backwards walk.
  TVEZQuery top;
  top.SetDatabaseName("RVX_Database");
  top.SetSQL("SELECT TOP 5 ID, K FROM R WHERE M = 3 ORDER BY K DESC, ID DESC");
  top.Open();
  std::vector<std::string> expected = Oracle([](const Row& r) { return r.m == 3; }, true);
  expected.resize(5);
  EXPECT_EQ(rows_texts(top), expected);
}

// The backwards live view navigates, numbers its records and places a new
// row as a forward one would.
TEST_F(SelectIndexOrderTest, BackwardsLiveViewNavigatesAndTakesNewRows) {
  TVEZQuery query;
  query.SetDatabaseName("RVX_Database");
  query.SetRequestLive(true);
  query.SetSQL("SELECT * FROM R WHERE M = 2 ORDER BY K DESC, ID DESC");
  query.Open();
  ASSERT_TRUE(query.Handle()->ReverseOrder);
  const auto pred = [](const Row& r) { return r.m == 2; };
  std::vector<std::string> expected = Oracle(pred, true);
  ASSERT_GT(expected.size(), 10u);
  EXPECT_EQ(query.RecordCount(), static_cast<int>(expected.size()));
  query.First();
  EXPECT_EQ(query.RecNo(), 1);
  query.Last();
  EXPECT_EQ(query.RecNo(), static_cast<int>(expected.size()));
  EXPECT_EQ(query.FieldByName("ID").AsString(),
            expected.back().substr(expected.back().find('|') + 1));
  // Backwards from the end gives the order reversed.
  std::vector<std::string> back;
  for (query.Last(); !query.Bof(); query.Prior())
    back.push_back((query.FieldByName("K").IsNull() ? "NULL" : query.FieldByName("K").AsString()) +
                   "|" + query.FieldByName("ID").AsString());
  std::reverse(back.begin(), back.end());
  EXPECT_EQ(back, expected);
  query.SetRecNo(4);
  EXPECT_EQ(query.RecNo(), 4);
  EXPECT_EQ(query.FieldByName("ID").AsString(), expected[3].substr(expected[3].find('|') + 1));
  // A new row of the filter takes its place in the order.
  query.Append();
  query.FieldByName("ID").SetAsInteger(1000);
  query.FieldByName("M").SetAsInteger(2);
  query.FieldByName("K").SetAsInteger(30);
  query.FieldByName("V").SetAsInteger(0);
  query.Post();
  rows_.push_back({1000, 2, 30, 0});
  expected = Oracle(pred, true);
  EXPECT_EQ(rows_texts(query), expected);
  query.Close();
}

}  // namespace
}  // namespace vez::test

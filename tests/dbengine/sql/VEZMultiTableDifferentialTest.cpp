// Generated queries over several small generated tables, run by the engine
// and by SQLite 3 on the same rows, compared as multisets of rows: joins of
// every kind with ON equalities and a further condition, comma joins,
// grouping with HAVING, set operations, EXISTS, IN over a query and scalar
// queries. Values are Int32 (keys with NULLs and duplicates) and short
// lower-case strings, so both engines write them alike.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "dbengine/api/VEZQuery.h"
#include "dbengine/api/VEZTable.h"
#include "tests/dbengine/sql/StatementTestSupport.h"

namespace vez::test {
namespace {

using TRows = std::vector<std::string>;

class SQLitePeer {
 public:
  SQLitePeer() {
    if (sqlite3_open(":memory:", &db_) != SQLITE_OK) throw std::runtime_error("sqlite3_open");
  }
  ~SQLitePeer() { sqlite3_close(db_); }
  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string text = error != nullptr ? error : "?";
      sqlite3_free(error);
      throw std::runtime_error(sql + ": " + text);
    }
  }
  TRows Rows(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK)
      throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
    TRows rows;
    while (sqlite3_step(s) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(s); ++i) {
        if (i > 0) row += "|";
        if (sqlite3_column_type(s, i) == SQLITE_NULL) {
          row += "NULL";
        } else {
          row += reinterpret_cast<const char*>(sqlite3_column_text(s, i));
        }
      }
      rows.push_back(row);
    }
    sqlite3_finalize(s);
    std::sort(rows.begin(), rows.end());
    return rows;
  }

 private:
  sqlite3* db_ = nullptr;
};

class MultiTableDifferentialTest : public StatementTest {
 protected:
  TRows EngineRows(const std::string& sql) {
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
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  // A table of three to eight rows in both engines: key NULL or 1..4, value
  // 0..9, text NULL or one of a, b, c.
  void MakeTable(const std::string& name, const std::string& value, std::mt19937& random) {
    Exec("CREATE TABLE " + name + " (k INTEGER, " + value + " INTEGER, s VARCHAR(5))");
    peer_.Exec("CREATE TABLE " + name + " (k INTEGER, " + value + " INTEGER, s TEXT)");
    TVEZTable& t = NewTable(name);
    t.Open();
    const int count = 3 + static_cast<int>(random() % 6);
    for (int i = 0; i < count; ++i) {
      const int k = static_cast<int>(random() % 5);
      const int v = static_cast<int>(random() % 10);
      const int s = static_cast<int>(random() % 4);
      t.Append();
      if (k != 0) t.Fields(0).SetAsInteger(k);
      t.Fields(1).SetAsInteger(v);
      if (s != 0) t.Fields(2).SetAsString(std::string(1, static_cast<char>('a' + s - 1)));
      t.Post();
      peer_.Exec("INSERT INTO " + name + " VALUES (" + (k ? std::to_string(k) : "NULL") + ", " +
                 std::to_string(v) + ", " +
                 (s ? "'" + std::string(1, static_cast<char>('a' + s - 1)) + "'" : "NULL") + ")");
    }
    t.Close();
  }

  SQLitePeer peer_;
};

// One data set per seed: the tables are made fresh for each.
class GeneratedQueries : public MultiTableDifferentialTest,
                         public ::testing::WithParamInterface<unsigned> {};

TEST_P(GeneratedQueries, AgreeWithSQLite) {
  std::mt19937 random(GetParam());
  MakeTable("t1", "v", random);
  MakeTable("t2", "w", random);
  MakeTable("t3", "u", random);
  const std::vector<std::string> joins = {"JOIN", "LEFT JOIN", "RIGHT JOIN", "FULL JOIN"};
  const std::vector<std::string> set_ops = {"UNION", "UNION ALL", "INTERSECT", "EXCEPT"};
  const std::vector<std::string> comparisons = {"<", ">", "<=", ">=", "<>"};
  auto pick = [&random](const std::vector<std::string>& list) {
    return list[random() % list.size()];
  };
  std::vector<std::string> queries;
  for (const std::string& join : joins) {
    queries.push_back("SELECT t1.v, t2.w FROM t1 " + join + " t2 ON t1.k = t2.k");
    queries.push_back("SELECT t1.v, t2.w, t2.s FROM t1 " + join + " t2 ON t1.k = t2.k AND t1.v " +
                      pick(comparisons) + " t2.w");
  }
  for (int round = 0; round < 12; ++round) {
    const std::string cmp = pick(comparisons);
    const std::string limit = std::to_string(random() % 10);
    queries.push_back("SELECT t1.v, t2.w FROM t1, t2 WHERE t1.k = t2.k AND t1.v " + cmp + " " +
                      limit);
    queries.push_back("SELECT t1.v, t2.w, t3.u FROM t1 " + pick(joins) +
                      " t2 ON t1.k = t2.k JOIN t3 ON t2.k = t3.k");
    queries.push_back(
        "SELECT k, COUNT(*), SUM(v), MIN(v), MAX(v) FROM t1 GROUP BY k HAVING "
        "COUNT(*) " +
        cmp + " " + std::to_string(random() % 3));
    queries.push_back(
        "SELECT t2.k, COUNT(*), SUM(t1.v) FROM t1 JOIN t2 ON t1.k = t2.k WHERE "
        "t2.w " +
        cmp + " " + limit + " GROUP BY t2.k");
    queries.push_back("SELECT k, s FROM t1 " + pick(set_ops) + " SELECT k, s FROM t2");
    queries.push_back(
        "SELECT v FROM t1 WHERE EXISTS (SELECT * FROM t2 WHERE t2.k = t1.k AND "
        "t2.w " +
        cmp + " t1.v)");
    queries.push_back("SELECT v FROM t1 WHERE k IN (SELECT k FROM t3 WHERE k IS NOT NULL AND u " +
                      cmp + " " + limit + ")");
    // t1.k holds NULLs: against rows they are unknown, against none NOT IN holds.
    queries.push_back(
        "SELECT v FROM t1 WHERE k NOT IN (SELECT k FROM t3 WHERE k IS NOT NULL AND u " + cmp + " " +
        limit + ")");
    queries.push_back("SELECT v FROM t1 WHERE v " + cmp + " (SELECT MAX(w) FROM t2)");
  }
  queries.push_back("SELECT t1.v, t2.w FROM t1 CROSS JOIN t2");
  queries.push_back("SELECT t1.v, t2.w FROM t1, t2");
  queries.push_back("SELECT COUNT(*), SUM(v), MIN(v), MAX(v) FROM t1");
  queries.push_back("SELECT COUNT(*) FROM t1, t2, t3");
  int answered = 0;
  for (const std::string& sql : queries) {
    SCOPED_TRACE(sql);
    try {
      const TRows expected = peer_.Rows(sql);
      EXPECT_EQ(EngineRows(sql), expected);
      if (!expected.empty()) ++answered;
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
    }
  }
  // The data set is not so thin that most queries answer nothing.
  EXPECT_GT(answered, static_cast<int>(queries.size()) / 3);
}

INSTANTIATE_TEST_SUITE_P(Seeds, GeneratedQueries, ::testing::Values(1u, 7u, 52u, 2026u, 31337u),
                         [](const ::testing::TestParamInfo<unsigned>& info) {
                           return "seed" + std::to_string(info.param);
                         });

}  // namespace
}  // namespace vez::test

// Generated single-table queries against SQLite 3 on the same generated rows:
// WHERE through the vez_cmp shim, projections with aliases, ORDER BY over
// every output column, DISTINCT, TOP n [, m] as LIMIT n OFFSET m - 1, live and
// non-live results, and INTO compared as table contents. Results are compared
// in order when ORDER BY covers every output column, else as multisets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "dbengine/api/VEZQuery.h"
#include "dbengine/api/VEZTable.h"
#include "tests/dbengine/sql/SQLiteOracle.h"
#include "tests/dbengine/sql/StatementTestSupport.h"

namespace vez::test {
namespace {

using Texts = std::vector<std::string>;

struct Column {
  const char* name;
  bool text;
};
const Column kColumns[] = {{"I", false}, {"J", false}, {"S", true}};
const char* const kTexts[] = {"a", "B", "ab", "Ab", "b", "zz"};

// One generated query in both dialects.
struct GeneratedQuery {
  std::string vez;
  std::string sqlite;
  bool ordered = false;  // the order of the rows is defined
  bool live = false;
};

class SelectDifferentialTest : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    Exec("CREATE TABLE D (I INTEGER, J INTEGER, S VARCHAR(8))");
    oracle_.Exec("CREATE TABLE D (I INTEGER, J INTEGER, S TEXT COLLATE VEZ)");
    TVEZTable& t = NewTable("D");
    t.Open();
    for (int r = 0; r < 60; ++r) {
      std::vector<oracle::TSQLiteOracle::TBind> binds(3);
      t.Append();
      auto maybe = [&](int n) -> std::optional<int> {
        if (Pick(6) == 0) return std::nullopt;
        return Pick(n);
      };
      const std::optional<int> i = maybe(10), j = maybe(5);
      if (i) {
        t.Fields(0).SetAsInteger(*i);
        binds[0] = {oracle::TSQLiteOracle::TBind::Type::Integer, *i, 0, {}};
      }
      if (j) {
        t.Fields(1).SetAsInteger(*j);
        binds[1] = {oracle::TSQLiteOracle::TBind::Type::Integer, *j, 0, {}};
      }
      if (Pick(6) != 0) {
        const std::string s = kTexts[Pick(6)];
        t.Fields(2).SetAsString(s);
        binds[2] = {oracle::TSQLiteOracle::TBind::Type::Text, 0, 0, s};
      }
      t.Post();
      oracle_.Run("INSERT INTO D VALUES (?, ?, ?)", binds);
    }
    t.Close();
  }

  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  std::string Condition(std::string& sqlite) {
    const Column& c = kColumns[Pick(3)];
    const char* const ops[] = {"=", "<>", "<", ">", "<=", ">="};
    const std::string op = ops[Pick(6)];
    const std::string value =
        c.text ? "'" + std::string(kTexts[Pick(6)]) + "'" : std::to_string(Pick(10));
    // The parser compares a column with a text constant without three-valued
    // logic (NULL orders lowest); with a number it uses it.
    sqlite =
        std::string("vez_cmp(") + c.name + ", '" + op + "', " + value + (c.text ? ", 0)" : ", 1)");
    return std::string(c.name) + " " + op + " " + value;
  }

  GeneratedQuery Generate(bool into, const std::string& into_name) {
    GeneratedQuery q;
    q.live = !into && Pick(2) == 0;
    const bool distinct = Pick(3) == 0;
    // The output columns: a lone `*` or a subset, some under aliases.
    std::vector<std::string> out_names, vez_items, sqlite_items;
    if (Pick(5) == 0) {
      for (const Column& c : kColumns)
        out_names.push_back(c.name);
      vez_items.push_back("*");
      sqlite_items.push_back("*");
    } else {
      std::vector<int> cols = {0, 1, 2};
      std::shuffle(cols.begin(), cols.end(), rng_);
      cols.resize(static_cast<std::size_t>(1 + Pick(3)));
      for (int c : cols) {
        std::string item = kColumns[c].name;
        std::string name = item;
        if (Pick(3) == 0) {
          name = std::string("X") + kColumns[c].name;
          item += " AS " + name;
        }
        out_names.push_back(name);
        vez_items.push_back(item);
        sqlite_items.push_back(item);
      }
    }
    auto join = [](const std::vector<std::string>& v, const char* sep) {
      std::string s;
      for (std::size_t i = 0; i < v.size(); ++i)
        s += (i ? sep : "") + v[i];
      return s;
    };
    std::string where_vez, where_sqlite;
    const int parts = Pick(3);
    for (int p = 0; p < parts; ++p) {
      std::string sq;
      const std::string v = Condition(sq);
      const char* conj = Pick(2) == 0 ? " AND " : " OR ";
      where_vez += (p ? conj : "") + v;
      where_sqlite += (p ? conj : "") + sq;
    }
    const bool order = Pick(2) == 0;
    std::string order_vez, order_sqlite;
    if (order) {
      std::vector<std::string> keys = out_names;
      std::shuffle(keys.begin(), keys.end(), rng_);
      std::vector<std::string> v, s;
      for (std::size_t k = 0; k < keys.size(); ++k) {
        // Sometimes by position, which both dialects read as the n-th column.
        std::string key = keys[k];
        if (Pick(4) == 0) {
          const auto pos =
              std::find(out_names.begin(), out_names.end(), keys[k]) - out_names.begin();
          key = std::to_string(pos + 1);
        }
        const std::string dir = Pick(2) == 0 ? " DESC" : "";
        v.push_back(key + dir);
        s.push_back(key + dir);
      }
      order_vez = " ORDER BY " + join(v, ", ");
      order_sqlite = " ORDER BY " + join(s, ", ");
    }
    // TOP only where the rows it takes are defined: a full order, or table
    // order (no DISTINCT, no sort).
    std::string top_vez, limit_sqlite;
    if (!into && (order || !distinct) && Pick(3) == 0) {
      const int n = Pick(8);
      top_vez = "TOP " + std::to_string(n) + " ";
      limit_sqlite = " LIMIT " + std::to_string(n);
      if (Pick(2) == 0) {
        const int m = 1 + Pick(6);
        top_vez = "TOP " + std::to_string(n) + ", " + std::to_string(m) + " ";
        limit_sqlite += " OFFSET " + std::to_string(m - 1);
      }
    }
    const std::string dist = distinct ? "DISTINCT " : "";
    q.vez = "SELECT " + dist + top_vez + join(vez_items, ", ") +
            (into ? " INTO " + into_name : "") + " FROM D" + (parts ? " WHERE " + where_vez : "") +
            order_vez;
    q.sqlite = "SELECT " + dist + join(sqlite_items, ", ") + " FROM D" +
               (parts ? " WHERE " + where_sqlite : "") + order_sqlite + limit_sqlite;
    q.ordered = order || (!top_vez.empty() && !distinct);
    return q;
  }

  Texts EngineRows(const GeneratedQuery& q) {
    TVEZQuery query;
    query.SetDatabaseName("RVX_Database");
    query.SetRequestLive(q.live);
    query.SetSQL(q.vez);
    query.Open();
    Texts rows;
    for (query.First(); !query.Eof(); query.Next()) {
      std::string row;
      for (int i = 0; i < query.FieldCount(); ++i) {
        const platform::Field& f = query.Fields(i);
        row += (i ? "|" : "") + (f.IsNull() ? std::string("NULL") : f.AsString());
      }
      rows.push_back(row);
    }
    return rows;
  }

  Texts OracleRows(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(oracle_.Db(), sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error(sql + ": " + sqlite3_errmsg(oracle_.Db()));
    Texts rows;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        std::string v = "NULL";
        if (sqlite3_column_type(stmt, i) != SQLITE_NULL)
          v = oracle::detail::TextOf(sqlite3_column_value(stmt, i));
        row += (i ? "|" : "") + v;
      }
      rows.push_back(row);
    }
    sqlite3_finalize(stmt);
    return rows;
  }

  static std::uint32_t Seed() {
    if (const char* s = std::getenv("VEZ_DIFF_SEED"))
      return static_cast<std::uint32_t>(std::atol(s));
    return 20261211;
  }
  std::mt19937 rng_{Seed()};
  oracle::TSQLiteOracle oracle_;
};

TEST_F(SelectDifferentialTest, GeneratedQueriesAgreeWithSQLite) {
  SCOPED_TRACE("seed " + std::to_string(Seed()) + " (VEZ_DIFF_SEED)");
  int ordered = 0;
  for (int n = 0; n < 300; ++n) {
    const GeneratedQuery q = Generate(false, "");
    SCOPED_TRACE(q.vez + (q.live ? " [live]" : "") + "  /  " + q.sqlite);
    Texts engine = EngineRows(q);
    Texts expected = OracleRows(q.sqlite);
    if (q.ordered) {
      ++ordered;
    } else {
      std::sort(engine.begin(), engine.end());
      std::sort(expected.begin(), expected.end());
    }
    ASSERT_EQ(engine, expected);
  }
  EXPECT_GT(ordered, 100);
}

TEST_F(SelectDifferentialTest, IntoTablesHoldTheQueryRows) {
  for (int n = 0; n < 40; ++n) {
    const std::string name = "R" + std::to_string(n);
    const GeneratedQuery q = Generate(true, name);
    SCOPED_TRACE(q.vez + "  /  " + q.sqlite);
    Exec(q.vez);
    Texts engine = Rows(name);
    Texts expected = OracleRows(q.sqlite);
    std::sort(engine.begin(), engine.end());
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(engine, expected);
  }
}

}  // namespace
}  // namespace vez::test

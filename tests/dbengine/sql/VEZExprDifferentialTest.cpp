// Expression trees against SQLite 3: generated expressions over a generated
// row are evaluated by the engine on a record buffer and by SQLite with a
// SELECT over the same row, and must agree; the known differences between the
// two are pinned down by table, each side's answer written out.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ExprGenerator.h"
#include "ExprTestSupport.h"
#include "SQLiteOracle.h"
#include "dbengine/foundation/VEZException.h"

namespace vez {
namespace {

using test::TNode;
using test::oracle::TExprGenerator;
using test::oracle::TGenExpr;
using test::oracle::TGenType;
using test::oracle::TGenValue;
using test::oracle::TOracleValue;
using test::oracle::TSQLiteOracle;

// The engine's answer as text: NULL, True / False, a number, 'text', or the
// error number.
std::string EngineText(const std::function<TVEZVariant*()>& evaluate) {
  TVEZVariant* v = nullptr;
  try {
    v = evaluate();
  } catch (const EVEZException& e) {
    return "error " + std::to_string(e.NativeError());
  }
  if (v == nullptr || v->GetIsNull()) return "NULL";
  switch (v->GetDataType()) {
    case bftLogical:
      return v->GetAsBoolean() ? "True" : "False";
    case bftSignedInt32:
    case bftSignedInt64:
      return std::to_string(v->GetAsInt64());
    case bftDouble: {
      char buf[64];
      auto r = std::to_chars(buf, buf + sizeof buf, v->GetAsDouble());
      return std::string(buf, r.ptr);
    }
    default:
      return "'" + v->GetAsAnsiString() + "'";
  }
}

class ExprDifferentialTest : public ::testing::Test {
 protected:
  void SetUp() override { sqlite_.Exec("CREATE TABLE t(I1, I2, D1, D2, S1, S2)"); }

  // The generator's row into the record buffer and into SQLite's table.
  void LoadRow(const TExprGenerator& g) {
    std::vector<TSQLiteOracle::TBind> binds;
    for (std::size_t c = 0; c < std::size(test::oracle::kGenColumns); ++c) {
      const std::string name = test::oracle::kGenColumns[c].name;
      const TGenValue& v = g.Value(c);
      TSQLiteOracle::TBind b;
      if (const auto* i = std::get_if<std::int32_t>(&v)) {
        rec_.SetInt(name, *i);
        b.type = TSQLiteOracle::TBind::Type::Integer;
        b.integer = *i;
      } else if (const auto* d = std::get_if<double>(&v)) {
        rec_.SetDouble(name, *d);
        b.type = TSQLiteOracle::TBind::Type::Real;
        b.real = *d;
      } else if (const auto* s = std::get_if<std::string>(&v)) {
        rec_.SetStr(name, *s);
        b.type = TSQLiteOracle::TBind::Type::Text;
        b.text = *s;
      } else {
        rec_.SetNull(name);
      }
      binds.push_back(b);
    }
    sqlite_.Exec("DELETE FROM t");
    sqlite_.Run("INSERT INTO t VALUES (?, ?, ?, ?, ?, ?)", binds);
  }

  test::TRecordVehicle rec_{{{"I1", aftInteger},
                             {"I2", aftInteger},
                             {"D1", aftDouble},
                             {"D2", aftDouble},
                             {"S1", aftString, 12},
                             {"S2", aftString, 12}}};
  TSQLiteOracle sqlite_;
};

// Whether the engine's value is SQLite's for an expression of that kind.
bool Agrees(TGenType type, const TVEZVariant& v, const TOracleValue& o) {
  if (o.type == TOracleValue::Type::Null || v.GetIsNull())
    return o.type == TOracleValue::Type::Null && v.GetIsNull();
  switch (type) {
    case TGenType::Bool:
      return v.GetDataType() == bftLogical && o.type == TOracleValue::Type::Integer &&
             v.GetAsBoolean() == (o.integer != 0);
    case TGenType::Int:
      return v.GetDataType() == bftSignedInt32 && o.type == TOracleValue::Type::Integer &&
             v.GetAsInt64() == o.integer;
    case TGenType::Dbl:
      return v.GetDataType() == bftDouble && o.type == TOracleValue::Type::Real &&
             v.GetAsDouble() == o.real;
    default:
      return false;
  }
}

TEST_F(ExprDifferentialTest, GeneratedExpressionsAgreeWithSQLite) {
  std::uint32_t seed = 20260601;
  if (const char* s = std::getenv("VEZ_DIFF_SEED")) seed = static_cast<std::uint32_t>(std::atol(s));
  SCOPED_TRACE("seed " + std::to_string(seed) + " (VEZ_DIFF_SEED)");
  TExprGenerator g(seed);
  constexpr int kExpressions = 24000;
  std::map<std::string, int> outcomes;
  int failures = 0;
  for (int i = 0; i < kExpressions && failures < 10; ++i) {
    if (i % 8 == 0) {
      g.NewRow();
      LoadRow(g);
    }
    const test::oracle::TGenPtr e = g.Any(3);
    const std::string sql = "SELECT " + test::oracle::ToSQLite(*e) + " FROM t";
    TOracleValue expected;
    try {
      expected = sqlite_.Value(sql);
    } catch (const std::exception& x) {
      ADD_FAILURE() << "SQLite: " << x.what();
      ++failures;
      continue;
    }
    TVEZExpression tree(test::oracle::BuildTree(*e, &rec_.cursor));
    tree.AssignCursorBuffer(rec_.buffer, false);
    TVEZVariant* v = nullptr;
    try {
      v = tree.GetValue(true);
    } catch (const std::exception& x) {
      ADD_FAILURE() << sql << "\n engine raised: " << x.what();
      ++failures;
      continue;
    }
    if (!Agrees(e->type, *v, expected)) {
      ADD_FAILURE() << sql << "\n engine " << EngineText([&] { return v; }) << " (type "
                    << static_cast<int>(v->GetDataType()) << "), SQLite " << expected.ToString()
                    << "\n tree " << test::TreeText(tree.Root());
      ++failures;
      continue;
    }
    const char* kind[] = {"Int", "Dbl", "Str", "Bool", "Null"};
    outcomes[std::string(kind[static_cast<int>(e->type)]) + " " +
             (v->GetIsNull() ? "NULL"
                             : (e->type == TGenType::Bool ? (v->GetAsBoolean() ? "True" : "False")
                                                          : "value"))]++;
  }
  // The generator must reach every kind of answer often enough to matter.
  for (const char* outcome :
       {"Bool True", "Bool False", "Bool NULL", "Int value", "Int NULL", "Dbl value", "Dbl NULL"}) {
    SCOPED_TRACE(outcome);
    EXPECT_GE(outcomes[outcome], 300);
  }
}

// The shim itself: vez_cmp's NULL rules and the engine's collation.
TEST_F(ExprDifferentialTest, ShimFollowsTheEngineRules) {
  struct Row {
    const char* sql;
    const char* expected;
  };
  const Row rows[] = {
      {"vez_cmp(NULL, '=', 5, 1)", "0"},    {"vez_cmp(NULL, '<>', 5, 1)", "0"},
      {"vez_cmp(NULL, '=', NULL, 0)", "1"}, {"vez_cmp(NULL, '<>', 5, 0)", "1"},
      {"vez_cmp(NULL, '<', 5, 0)", "1"},    {"vez_cmp(5, '>', NULL, 0)", "1"},
      {"vez_cmp(2, '=', 2.0, 1)", "1"},     {"vez_cmp('a', '<', 'B', 1)", "1"},
      {"vez_cmp('a', '<', 'A', 1)", "1"},   {"vez_cmp('a', '=', 'A', 1, 1)", "1"},
      {"'a' < 'B' COLLATE VEZ", "1"},       {"'ab' LIKE 'AB'", "0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.sql);
    EXPECT_EQ(sqlite_.Value(std::string("SELECT ") + row.sql).ToString(), row.expected);
  }
  EXPECT_ANY_THROW(sqlite_.Value("SELECT vez_cmp(1, '=', 'a', 1)"));
}

// Where the engine and SQLite differ by design, both answers are written out:
// the generator stays clear of these.
TEST_F(ExprDifferentialTest, KnownDifferences) {
  rec_.SetNull("I1");
  rec_.SetStr("S1", "");  // '' is stored as NULL
  sqlite_.Exec("DELETE FROM t");
  sqlite_.Exec("INSERT INTO t VALUES (NULL, 1, 1.0, 1.0, '', 'b')");
  auto f = [&](const char* name) { return test::Field(&rec_.cursor, name); };
  struct Row {
    const char* name;
    TNode tree;
    const char* sql;
    const char* engine;
    const char* sqlite;
  };
  std::vector<Row> rows;
  auto add = [&](const char* name, TNode tree, const char* sql, const char* engine,
                 const char* sqlite) {
    rows.push_back({name, std::move(tree), sql, engine, sqlite});
  };
  using namespace test;
  add("a comparison is never NULL", Not(Cmp(doEQ, f("I1"), Int(5))), "NOT (I1 = 5)", "True",
      "NULL");
  add("a column against a NULL constant orders NULL lowest", Cmp(doEQ, f("I1"), Null(), false),
      "I1 = NULL", "True", "NULL");
  add("'' is NULL", IsNull(f("S1")), "S1 IS NULL", "True", "0");
  add("IN with a NULL member gives False", In(Int(5), Int(1), Null()), "5 IN (1, NULL)", "False",
      "NULL");
  add("IN compares text without case", In(Str("a"), Str("A")), "'a' IN ('A')", "True", "0");
  add("BETWEEN compares text without case", Between(Str("b"), Str("A"), Str("C")),
      "'b' BETWEEN 'A' AND 'C'", "True", "0");
  add("BETWEEN with a NULL bound is NULL", Between(Int(3), Int(5), Null()), "3 BETWEEN 5 AND NULL",
      "NULL", "0");
  add("text order is the engine's collation", Cmp(doLT, Str("a"), Str("B")), "'a' < 'B'", "True",
      "0");
  add("Int32 wraps", Arith(doADD, Int(2147483647), Int(1)), "2147483647 + 1", "-2147483648",
      "2147483648");
  add("division by zero raises", Arith(doDIV, Int(1), Int(0)), "1 / 0", "error 30128", "NULL");
  add("text beside a number compares as text", Cmp(doEQ, Str("10"), Int(10)), "'10' = 10", "True",
      "0");
  add("NULL LIKE '%' is True", Like(Null(), Str("%")), "NULL LIKE '%'", "True", "NULL");
  add("NULL LIKE a fixed pattern is False", Like(Null(), Str("a")), "NULL LIKE 'a'", "False",
      "NULL");
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    TVEZExpression e(std::move(row.tree));
    e.AssignCursorBuffer(rec_.buffer, false);
    EXPECT_EQ(EngineText([&] { return e.GetValue(true); }), row.engine);
    EXPECT_EQ(sqlite_.Value(std::string("SELECT ") + row.sql + " FROM t").ToString(), row.sqlite);
  }
}

}  // namespace
}  // namespace vez

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
#include "dbengine/storage/VEZMemoryTableData.h"
#include "tests/common/VEZTestLocalCursor.h"
#include "tests/common/VEZTestSQLEngine.h"
#include "tests/dbengine/storage/TableTestSupport.h"

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

// A memory table of the generator's columns with an ID, read through the
// storage engine's record filter.
class TGenMemoryTable {
 public:
  TGenMemoryTable() {
    db_.ConnectSession(session_);
    cursor_.Session = &session_;
    cursor_.TableName = "T";
    table_ = static_cast<TVEZMemoryTableData*>(db_.FindOrCreateTableData(cursor_));
    TVEZFieldDefs fields;
    test::AddField(fields, "ID", aftInteger);
    for (const test::oracle::TGenColumn& c : test::oracle::kGenColumns) {
      const TVEZAdvancedFieldType type =
          c.type == TGenType::Int ? aftInteger : (c.type == TGenType::Dbl ? aftDouble : aftString);
      test::AddField(fields, c.name, type, c.type == TGenType::Str ? 12 : 0);
    }
    TVEZIndexDefs indexes;
    TVEZConstraintDefs constraints;
    table_->CreateTable(&cursor_, fields, indexes, constraints);
    cursor_.Open(*table_);
  }
  ~TGenMemoryTable() {
    cursor_.FilterExpression = nullptr;
    cursor_.Close();
    db_.DisconnectSession(session_);
  }

  void Insert(std::int32_t id, const TExprGenerator& g) {
    cursor_.NewRecord();
    TVEZVariant v;
    v.SetAsInteger(id);
    cursor_.SetFieldValue(v, 0, true);
    for (std::size_t c = 0; c < std::size(test::oracle::kGenColumns); ++c) {
      const TGenValue& value = g.Value(c);
      TVEZVariant field;
      if (const auto* i = std::get_if<std::int32_t>(&value))
        field.SetAsInteger(*i);
      else if (const auto* d = std::get_if<double>(&value))
        field.SetAsDouble(*d);
      else if (const auto* s = std::get_if<std::string>(&value))
        field.SetAsAnsiString(*s);
      else
        continue;  // stays NULL
      cursor_.SetFieldValue(field, static_cast<std::int32_t>(c + 1), true);
    }
    cursor_.InternalPost(true);
    if (cursor_.ErrorCode != cecOK) throw std::runtime_error("insert refused");
  }

  // The ids the filter lets through, in table order.
  std::vector<std::int64_t> Filtered(TVEZBaseExpression* filter) {
    cursor_.FilterExpression = filter;
    cursor_.DisableRecordBitmap();
    cursor_.InternalFirst();
    std::vector<std::int64_t> ids;
    while (cursor_.GetRecordBuffer(grmNext) == grrOK) {
      TVEZVariant id;
      cursor_.GetFieldValue(id, 0, true);
      ids.push_back(id.GetAsInteger());
    }
    cursor_.FilterExpression = nullptr;
    return ids;
  }
  TVEZCursor* Cursor() { return &cursor_; }

 private:
  TVEZMemoryDatabaseData db_;
  test::TestSession session_;
  test::TTestLocalCursor cursor_;
  TVEZMemoryTableData* table_ = nullptr;
};

// Generated filter texts over generated tables: the rows the engine's parser
// and record filter let through are the rows SQLite's WHERE selects with the
// same condition (every comparison through vez_cmp with the flag the parser
// gives it).
TEST(ExprTextDifferentialTest, FilterTextsAgreeWithSQLite) {
  std::uint32_t seed = 20260602;
  if (const char* s = std::getenv("VEZ_DIFF_SEED")) seed = static_cast<std::uint32_t>(std::atol(s));
  SCOPED_TRACE("seed " + std::to_string(seed) + " (VEZ_DIFF_SEED)");
  test::TScopedSQLEngine engine;
  TExprGenerator g(seed, true);
  constexpr int kTables = 40, kRows = 40, kFilters = 60;
  int failures = 0, nonempty = 0, partial = 0;
  for (int t = 0; t < kTables && failures < 10; ++t) {
    TSQLiteOracle sqlite;
    sqlite.Exec("CREATE TABLE t(ID INTEGER PRIMARY KEY, I1, I2, D1, D2, S1, S2)");
    TGenMemoryTable table;
    for (std::int32_t id = 1; id <= kRows; ++id) {
      g.NewRow();
      table.Insert(id, g);
      std::vector<TSQLiteOracle::TBind> binds(1);
      binds[0].type = TSQLiteOracle::TBind::Type::Integer;
      binds[0].integer = id;
      for (std::size_t c = 0; c < std::size(test::oracle::kGenColumns); ++c) {
        TSQLiteOracle::TBind b;
        const TGenValue& v = g.Value(c);
        if (const auto* i = std::get_if<std::int32_t>(&v)) {
          b.type = TSQLiteOracle::TBind::Type::Integer;
          b.integer = *i;
        } else if (const auto* d = std::get_if<double>(&v)) {
          b.type = TSQLiteOracle::TBind::Type::Real;
          b.real = *d;
        } else if (const auto* s = std::get_if<std::string>(&v)) {
          b.type = TSQLiteOracle::TBind::Type::Text;
          b.text = *s;
        }
        binds.push_back(b);
      }
      sqlite.Run("INSERT INTO t VALUES (?, ?, ?, ?, ?, ?, ?)", binds);
    }
    for (int f = 0; f < kFilters && failures < 10; ++f) {
      const test::oracle::TGenPtr e = g.Boolean(3);
      const std::string text = test::oracle::ToVEZText(*e);
      const std::string sql =
          "SELECT ID FROM t WHERE " + test::oracle::ToSQLite(*e) + " ORDER BY ID";
      std::vector<std::int64_t> expected;
      for (const TOracleValue& v : sqlite.Column(sql))
        expected.push_back(v.integer);
      std::unique_ptr<TVEZBaseExpression> filter = ExpressionFactory()->CreateExpression();
      std::vector<std::int64_t> got;
      try {
        filter->ParseForFilter(table.Cursor(), text, false, false);
        got = table.Filtered(filter.get());
      } catch (const std::exception& x) {
        ADD_FAILURE() << text << "\n engine raised: " << x.what();
        ++failures;
        continue;
      }
      if (got != expected) {
        ADD_FAILURE() << text << "\n " << sql << "\n engine " << testing::PrintToString(got)
                      << "\n SQLite " << testing::PrintToString(expected) << "\n tree "
                      << test::ShapeText(static_cast<TVEZExpression*>(filter.get())->Root());
        ++failures;
      }
      nonempty += !expected.empty() && expected.size() < kRows ? 1 : 0;
      partial += text.find("LIKE '") != std::string::npos ? 1 : 0;
    }
  }
  // Most filters must select some rows but not all, or they prove little.
  EXPECT_GE(nonempty, kTables * kFilters / 3);
  EXPECT_GE(partial, 50);
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

// Differences that come with the text: the engine's answer to the parsed text
// beside SQLite's to the same text.
TEST_F(ExprDifferentialTest, KnownTextDifferences) {
  rec_.SetInt("I1", 3);
  sqlite_.Exec("DELETE FROM t");
  sqlite_.Exec("INSERT INTO t VALUES (3, 1, 1.0, 1.0, 'a', 'b')");
  struct Row {
    const char* name;
    const char* text;
    bool condition;  // a search condition, else a value expression
    const char* engine;
    const char* sqlite;
  };
  const Row rows[] = {
      {"IS NOT FALSE is the condition itself", "(I1 BETWEEN 1 AND NULL) IS NOT FALSE", true, "NULL",
       "1"},
      {"IS TRUE is the condition itself", "(I1 BETWEEN 1 AND NULL) IS TRUE", true, "NULL", "0"},
      {"a number plus a string is a concatenation", "1 + '2'", false, "'12'", "3"},
      {"2147483646 is Int32 and wraps", "2147483646 + 2", false, "-2147483648", "2147483648"},
      {"2147483647 is Int64", "2147483647 + 1", false, "2147483648", "2147483648"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TVEZExpression e;
    e.LCursor = &rec_.cursor;
    const std::string engine = EngineText([&] {
      TVEZLexer lexer(row.text, nullptr, false);
      lexer.GetNextCommand();
      if (row.condition)
        e.ParseForBooleanExpression(nullptr, &lexer);
      else
        e.ParseForValueExpression(nullptr, &lexer);
      e.AssignCursorBuffer(rec_.buffer, false);
      return e.GetValue(true);
    });
    EXPECT_EQ(engine, row.engine);
    EXPECT_EQ(sqlite_.Value(std::string("SELECT ") + row.text + " FROM t").ToString(), row.sqlite);
  }
}

}  // namespace
}  // namespace vez

// Scalar functions against SQLite 3: generated constant expressions are
// evaluated by the engine (ParseForValueExpression + GetValue) and by SQLite
// (SELECT <expr>), written once in each dialect. Where the two agree by
// nature (ABS, COALESCE, UPPER/LOWER on ASCII, CAST of a float to an integer,
// POS = instr, LENGTH of text, searched CASE, SIGN) SQLite's own function is
// used; the engine's ROUND, SUBSTRING, LENGTH and TRIM rules come to SQLite
// through test shims. Known differences are pinned by table.
#include <gtest/gtest.h>

#include <charconv>
#include <random>
#include <string>

#include "SQLiteOracle.h"
#include "dbengine/foundation/VEZDecimalRound.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZLexer.h"
#include "dbengine/sql/VEZExpression.h"

namespace vez {
namespace {

using test::oracle::TSQLiteOracle;

// ---------------------------------------------------------------------------
// Shims: the engine's rules as SQLite functions.

std::string TextArg(sqlite3_value* v) {
  const unsigned char* t = sqlite3_value_text(v);
  return t == nullptr ? std::string() : reinterpret_cast<const char*>(t);
}

void ResultText(sqlite3_context* ctx, const std::string& s) {
  // The engine's empty string is NULL.
  if (s.empty())
    sqlite3_result_null(ctx);
  else
    sqlite3_result_text(ctx, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

// vez_round(x [, digits [, mode]]): one argument gives an integer.
void VezRound(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  const double x = sqlite3_value_double(argv[0]);
  if (argc == 1) {
    sqlite3_result_int64(ctx, static_cast<std::int64_t>(DecimalRoundDouble(0, kRoundHalfEven, x)));
    return;
  }
  const int digits = sqlite3_value_int(argv[1]);
  const int mode = argc > 2 ? sqlite3_value_int(argv[2]) : kRoundHalfEven;
  sqlite3_result_double(
      ctx, static_cast<double>(DecimalRoundDouble(digits, static_cast<std::uint8_t>(mode), x)));
}

// vez_substr(s, start [, length]): a start below 1 counts as 1.
void VezSubstr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  const std::string s = TextArg(argv[0]);
  std::int64_t start = sqlite3_value_int64(argv[1]);
  const std::int64_t length =
      argc > 2 ? sqlite3_value_int64(argv[2]) : static_cast<std::int64_t>(s.size());
  if (start < 1) start = 1;
  if (length < 0 || start > static_cast<std::int64_t>(s.size())) return ResultText(ctx, "");
  ResultText(ctx, s.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(length)));
}

// vez_len(s): 0 for NULL.
void VezLen(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_result_int64(ctx, sqlite3_value_type(argv[0]) == SQLITE_NULL
                                ? 0
                                : static_cast<std::int64_t>(TextArg(argv[0]).size()));
}

// vez_trim(s): codes up to 32 stripped at both ends.
void VezTrim(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  const std::string s = TextArg(argv[0]);
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32)
    ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32)
    --e;
  ResultText(ctx, s.substr(b, e - b));
}

void InstallShims(TSQLiteOracle& sqlite) {
  struct Shim {
    const char* name;
    int args;
    void (*fn)(sqlite3_context*, int, sqlite3_value**);
  };
  for (const Shim& s : {Shim{"vez_round", -1, VezRound}, Shim{"vez_substr", -1, VezSubstr},
                        Shim{"vez_len", 1, VezLen}, Shim{"vez_trim", 1, VezTrim}})
    ASSERT_EQ(
        sqlite3_create_function_v2(sqlite.Db(), s.name, s.args, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   nullptr, s.fn, nullptr, nullptr, nullptr),
        SQLITE_OK);
}

// ---------------------------------------------------------------------------
// The engine's answer as the oracle writes it.

std::string EngineValue(const std::string& text) {
  TVEZExpression e;
  try {
    TVEZLexer lexer(text, nullptr, false);
    lexer.GetNextCommand();
    e.ParseForValueExpression(nullptr, &lexer);
    const TVEZVariant* v = e.GetValue(true);
    if (v == nullptr || v->GetIsNull()) return "NULL";
    if (v->GetDataType() == bftDouble) {
      char buf[64];
      auto r = std::to_chars(buf, buf + sizeof buf, v->GetAsDouble());
      return std::string(buf, r.ptr);
    }
    if (v->IsStringDataType()) return "'" + v->GetAsAnsiString() + "'";
    return std::to_string(v->GetAsInt64());
  } catch (const EVEZException& x) {
    return "error " + std::to_string(x.NativeError());
  }
}

// ---------------------------------------------------------------------------
// A generator of expressions, each written for the engine and for SQLite.

struct TPair {
  std::string engine;
  std::string sqlite;
};

class TFunctionGenerator {
 public:
  explicit TFunctionGenerator(std::uint32_t seed) : rng_(seed) {}

  TPair Int(int depth) {
    switch (depth <= 0 ? 0 : Pick(9)) {
      case 0: {
        const std::string n = std::to_string(Range(-50, 50));
        return {n, n};
      }
      case 1:
        return Wrap("ABS", Int(depth - 1), "abs");
      case 2: {
        const TPair x = Pick(2) ? Int(depth - 1) : Dbl(depth - 1);
        return {"SIGN(" + x.engine + ")", "(CASE WHEN (" + x.sqlite + ") < 0 THEN -1 WHEN (" +
                                              x.sqlite + ") > 0 THEN 1 ELSE 0 END)"};
      }
      case 3:
        return Wrap("LENGTH", Str(depth - 1), "vez_len");
      case 4: {
        const TPair a = Str(depth - 1), b = Str(depth - 1);
        return {"POS(" + a.engine + ", " + b.engine + ")",
                "instr(" + b.sqlite + ", " + a.sqlite + ")"};
      }
      case 5: {
        const TPair x = Dbl(depth - 1);
        return {"CAST(" + x.engine + " AS INTEGER)", "CAST(" + x.sqlite + " AS INTEGER)"};
      }
      case 6:
        return Wrap("ROUND", Dbl(depth - 1), "vez_round");
      case 7:
        return Case(depth, [&](int d) { return Int(d); });
      default: {
        const TPair x = Int(depth - 1);
        return {"COALESCE(NULL, " + x.engine + ")", "coalesce(NULL, " + x.sqlite + ")"};
      }
    }
  }

  TPair Dbl(int depth) {
    switch (depth <= 0 ? 0 : Pick(4)) {
      case 0: {
        const std::string n =
            std::to_string(Range(-999, 999)) + "." + std::to_string(Range(0, 999));
        return {n, n};
      }
      case 1:
        return Wrap("ABS", Dbl(depth - 1), "abs");
      case 2: {
        const TPair x = Dbl(depth - 1);
        const std::string d = std::to_string(Range(-2, 3));
        return {"ROUND(" + x.engine + ", " + d + ")", "vez_round(" + x.sqlite + ", " + d + ")"};
      }
      default:
        return Case(depth, [&](int d) { return Dbl(d); });
    }
  }

  TPair Str(int depth) {
    switch (depth <= 0 ? 0 : Pick(7)) {
      case 0: {
        static const char* const kWords[] = {"abc",   "Hello", "  pad ", "x",
                                             "MiXeD", "a b c", "zz9",    "bcab"};
        const std::string w = std::string("'") + kWords[Pick(8)] + "'";
        return {w, w};
      }
      case 1:
        return Wrap("UPPER", Str(depth - 1), "upper");
      case 2:
        return Wrap("LOWER", Str(depth - 1), "lower");
      case 3:
        return Wrap("TRIM", Str(depth - 1), "vez_trim");
      case 4: {
        const TPair s = Str(depth - 1);
        const std::string a = std::to_string(Range(-1, 6)), b = std::to_string(Range(-1, 5));
        return {"SUBSTRING(" + s.engine + ", " + a + ", " + b + ")",
                "vez_substr(" + s.sqlite + ", " + a + ", " + b + ")"};
      }
      case 5:
        return Case(depth, [&](int d) { return Str(d); });
      default: {
        const TPair x = Str(depth - 1);
        return {"COALESCE(NULL, " + x.engine + ")", "coalesce(NULL, " + x.sqlite + ")"};
      }
    }
  }

 private:
  template <typename F>
  TPair Case(int depth, F branch) {
    const TPair a = Int(depth - 1), b = Int(depth - 1);
    const char* op = Pick(2) ? " < " : " = ";
    const TPair t = branch(depth - 1), f = branch(depth - 1);
    return {"CASE WHEN " + a.engine + op + b.engine + " THEN " + t.engine + " ELSE " + f.engine +
                " END",
            "CASE WHEN " + a.sqlite + op + b.sqlite + " THEN " + t.sqlite + " ELSE " + f.sqlite +
                " END"};
  }
  static TPair Wrap(const char* name, const TPair& x, const char* sqlite_name) {
    return {std::string(name) + "(" + x.engine + ")",
            std::string(sqlite_name) + "(" + x.sqlite + ")"};
  }
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  int Range(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  std::mt19937 rng_;
};

TEST(ScalarDifferentialTest, GeneratedFunctionExpressionsAgreeWithSQLite) {
  TSQLiteOracle sqlite;
  InstallShims(sqlite);
  TFunctionGenerator gen(20261211);
  int checked = 0;
  for (int i = 0; i < 1500; ++i) {
    const int kind = i % 3;
    const TPair p = kind == 0 ? gen.Int(3) : (kind == 1 ? gen.Dbl(3) : gen.Str(3));
    SCOPED_TRACE(p.engine + "  |  " + p.sqlite);
    EXPECT_EQ(EngineValue(p.engine), sqlite.Value("SELECT " + p.sqlite).ToString());
    ++checked;
  }
  EXPECT_EQ(checked, 1500);
}

// The engine's rules where SQLite's differ: each side's answer written out.
TEST(ScalarDifferentialTest, KnownDifferences) {
  TSQLiteOracle sqlite;
  struct Row {
    const char* name;
    const char* engine_text;
    const char* engine;
    const char* sqlite_text;
    const char* sqlite;
  };
  const Row rows[] = {
      {"+ between strings concatenates", "'a' + 'b'", "'ab'", "'a' + 'b'", "0"},
      {"a number plus a string is a text", "1 + '2'", "'12'", "1 + '2'", "3"},
      {"|| treats NULL as empty", "'abc' || NULL", "'abc'", "'abc' || NULL", "NULL"},
      {"CAST to CHAR(n) cuts", "CAST('abcdef' AS CHAR(3))", "'abc'", "CAST('abcdef' AS CHAR(3))",
       "'abcdef'"},
      {"ROUND ties to even, one argument is an integer", "ROUND(2.5)", "2", "round(2.5)", "3"},
      {"SUBSTRING start below 1 counts as 1", "SUBSTRING('abcdef', 0, 3)", "'abc'",
       "substr('abcdef', 0, 3)", "'ab'"},
      {"LENGTH(NULL) is 0", "LENGTH(NULL)", "0", "length(NULL)", "NULL"},
      {"TRIM strips control characters", "TRIM(' a ')", "'a'", "trim(' a ')", "'a'"},
      {"CEIL gives Int32", "CEIL(1.5)", "2", "CAST(1.5 + 0.5 AS INTEGER)", "2"},
      {"simple CASE compares without case", "CASE 'A' WHEN 'a' THEN 1 ELSE 2 END", "1",
       "CASE 'A' WHEN 'a' THEN 1 ELSE 2 END", "2"},
      {"simple CASE: NULL matches NULL", "CASE NULL WHEN NULL THEN 1 END", "1",
       "CASE NULL WHEN NULL THEN 1 END", "NULL"},
      {"numeric functions of NULL raise", "SQRT(NULL)", "error 30016", "abs(NULL)", "NULL"},
      {"searched CASE skips an unknown condition", "CASE WHEN NULL THEN 1 ELSE 2 END", "2",
       "CASE WHEN NULL THEN 1 ELSE 2 END", "2"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(EngineValue(row.engine_text), row.engine);
    EXPECT_EQ(sqlite.Value(std::string("SELECT ") + row.sqlite_text).ToString(), row.sqlite);
  }
}

}  // namespace
}  // namespace vez

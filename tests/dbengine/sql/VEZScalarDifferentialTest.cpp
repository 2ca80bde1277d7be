// Scalar functions against SQLite 3: generated constant expressions are
// evaluated by the engine (ParseForValueExpression + GetValue) and by SQLite
// (SELECT <expr>), written once in each dialect. Where the two agree by
// nature (ABS, COALESCE, UPPER/LOWER on ASCII, CAST of a float to an integer,
// POS = instr, LENGTH of text, searched CASE, SIGN) SQLite's own function is
// used; the engine's ROUND, SUBSTRING, LENGTH and TRIM rules come to SQLite
// through test shims. Known differences are pinned by table.
// Dates and times: EXTRACT, TOSTRING templates, TODATE and date-time
// arithmetic against SQLite's strftime with day modifiers; the names of months
// and days, which SQLite lacks, come from a hand-made table in the SQLite text.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

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
      {"LOG is the natural logarithm", "LOG(10)", "2.302585092994046", "ln(10)",
       "2.302585092994046"},
      {"TRIM strips tabs too", "TRIM('\ta\t')", "'a'", "trim('\ta\t')", "'\ta\t'"},
      {"float to text in the platform's general format", "CAST(1e20 AS VARCHAR)", "'1E20'",
       "CAST(1e20 AS TEXT)", "'1.0e+20'"},
      {"", "CAST(-0.000012 AS VARCHAR)", "'-1.2E-5'", "CAST(-0.000012 AS TEXT)", "'-1.2e-05'"},
      {"CAST to VARCHAR(n) cuts", "CAST('abcdef' AS VARCHAR(2))", "'ab'",
       "CAST('abcdef' AS VARCHAR(2))", "'abcdef'"},
      {"FLOOR gives Int32", "FLOOR(-1.5)", "-2", "CAST(floor(-1.5) AS INTEGER)", "-2"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name + std::string(" ") + row.engine_text);
    EXPECT_EQ(EngineValue(row.engine_text), row.engine);
    EXPECT_EQ(sqlite.Value(std::string("SELECT ") + row.sqlite_text).ToString(), row.sqlite);
  }
  // CAST to VARCHAR without a size keeps 4096 characters.
  const std::string long_text = "'" + std::string(5000, 'x') + "'";
  EXPECT_EQ(EngineValue("LENGTH(CAST(" + long_text + " AS VARCHAR))"), "4096");
  EXPECT_EQ(sqlite.Value("SELECT length(CAST(" + long_text + " AS TEXT))").ToString(), "5000");
}

// ---------------------------------------------------------------------------
// Dates and times. A moment is written once for each side: the engine's
// expression and SQLite's time-value arguments of strftime ("'ts', '+x days'").
// Day fractions are multiples of 1/1024 day (84.375 s), exact in binary and in
// milliseconds on both sides.

struct TMoment {
  std::string engine;
  std::string sqlite;  // arguments after the format of strftime
};

const char* const kMonthNames[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};
const char* const kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};
const char* const kRoman[] = {"I",   "II",   "III", "IV", "V",  "VI",
                              "VII", "VIII", "IX",  "X",  "XI", "XII"};

class TDateGenerator {
 public:
  explicit TDateGenerator(std::uint32_t seed) : rng_(seed) {}

  TMoment Moment() {
    const int year = Range(1600, 2399), month = Range(1, 12);
    const int day = Range(1, DaysInMonth(year, month));
    char date[16];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", year, month, day);
    switch (Pick(5)) {
      case 0:  // a date plus or minus whole days
      {
        const int days = Range(-800, 800);
        const std::string n = std::to_string(days < 0 ? -days : days);
        return {"(DATE '" + std::string(date) + "' " + (days < 0 ? "- " : "+ ") + n + ")",
                "'" + std::string(date) + "', '" + (days < 0 ? "-" : "+") + n + " days'"};
      }
      case 1:  // a time of day stands on day 0
      {
        const std::string t = Clock();
        return {"TIME '" + t + "'", "'1899-12-30 " + t + "'"};
      }
      case 2:  // text read back by TODATE
      {
        const std::string ts = std::string(date) + " " + Clock();
        return {"TODATE('" + ts + "', 'YYYY-MM-DD HH24:NN:SS')", "'" + ts + "'"};
      }
      default:  // a timestamp plus or minus days and parts of days
      {
        const std::string ts = std::string(date) + " " + Clock();
        const bool minus = Pick(2) == 0;
        const double x = Range(0, Pick(3) == 0 ? 900 : 3) + Range(0, 1023) / 1024.0;
        char days[32];
        std::snprintf(days, sizeof days, "%.10f", x);
        return {"(TIMESTAMP '" + ts + "' " + (minus ? "- " : "+ ") + days + ")",
                "'" + ts + "', '" + (minus ? "-" : "+") + days + " days'"};
      }
    }
  }

  // EXTRACT(field FROM moment) beside strftime read as an integer.
  TPair Extract(const TMoment& m) {
    static const char* const kFields[] = {"YEAR", "MONTH", "DAY", "HOUR", "MINUTE", "SECOND"};
    static const char* const kFormats[] = {"%Y", "%m", "%d", "%H", "%M", "%S"};
    const int f = Pick(6);
    return {"EXTRACT(" + std::string(kFields[f]) + " FROM " + m.engine + ")",
            "CAST(strftime('" + std::string(kFormats[f]) + "', " + m.sqlite + ") AS INTEGER)"};
  }

  // TOSTRING(moment, template) of 1 to 5 keywords with separators and a
  // quoted literal, beside the same text pieced together in SQLite.
  TPair ToString(const TMoment& m) {
    std::string templ, sql;
    const int count = Range(1, 5);
    for (int i = 0; i < count; ++i) {
      if (i > 0) {
        static const char* const kSeparators[] = {"-", " ", "/", ":", ".", ", "};
        const char* sep = kSeparators[Pick(6)];
        templ += sep;
        sql += " || '" + std::string(sep) + "' || ";
      }
      if (Pick(8) == 0) {
        templ += "\"at\"";
        sql += "'at'";
        continue;
      }
      const auto [keyword, piece] = Keyword(m.sqlite);
      templ += keyword;
      sql += piece;
    }
    return {"TOSTRING(" + m.engine + ", '" + templ + "')", sql};
  }

 private:
  // One keyword of the templates and the SQLite text of what it writes.
  std::pair<std::string, std::string> Keyword(const std::string& t) {
    auto f = [&](const char* fmt) { return "strftime('" + std::string(fmt) + "', " + t + ")"; };
    auto num = [&](const char* fmt) { return "CAST(" + f(fmt) + " AS INTEGER)"; };
    auto text = [](const std::string& n) { return "CAST(" + n + " AS TEXT)"; };
    auto names = [&](const std::string& index, const char* const* list, int n, int base) {
      std::string c = "CASE " + index;
      for (int i = 0; i < n; ++i)
        c += " WHEN " + std::to_string(i + base) + " THEN '" + list[i] + "'";
      return c + " END";
    };
    const std::string hour = num("%H");
    switch (Pick(22)) {
      case 0:
        return {"YYYY", f("%Y")};
      case 1:
        return {"YEAR", f("%Y")};
      case 2:
        return {"YY", "substr(" + f("%Y") + ", 3)"};
      case 3:
        return {"Q", text("(" + num("%m") + " + 2) / 3")};
      case 4:
        return {"MONTH", names(num("%m"), kMonthNames, 12, 1)};
      case 5:
        return {"MON", "substr(" + names(num("%m"), kMonthNames, 12, 1) + ", 1, 3)"};
      case 6:
        return {"MM", f("%m")};
      case 7:
        return {"M", text(num("%m"))};
      case 8:
        return {"RM", names(num("%m"), kRoman, 12, 1)};
      case 9:
        return {"DDD", "substr(" + names(num("%w"), kDayNames, 7, 0) + ", 1, 3)"};
      case 10:
        return {"DD", f("%d")};
      case 11:
        return {"DAY", names(num("%w"), kDayNames, 7, 0)};
      case 12:
        return {"DY", text(num("%j"))};
      case 13:  // 1 = Monday ... 7 = Sunday
        return {"DW", text("(" + num("%w") + " + 6) % 7 + 1")};
      case 14:
        return {"D", text(num("%d"))};
      case 15:
        return {Pick(2) ? "HH12" : "HH", "printf('%02d', " + hour + " % 12)"};
      case 16:
        return {"HH24", f("%H")};
      case 17:
        return {Pick(2) ? "H12" : "H", text(hour + " % 12")};
      case 18:
        return Pick(2) ? std::pair<std::string, std::string>{"NN", f("%M")}
                       : std::pair<std::string, std::string>{"N", text(num("%M"))};
      case 19:
        return {"SS", f("%S")};
      case 20:
        return {"S", text(num("%S"))};
      default:
        return {"AMPM", "CASE WHEN " + hour + " > 11 THEN 'PM' ELSE 'AM' END"};
    }
  }

  std::string Clock() {
    char t[16];
    std::snprintf(t, sizeof t, "%02d:%02d:%02d", Range(0, 23), Range(0, 59), Range(0, 59));
    return t;
  }
  static int DaysInMonth(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
  }
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  int Range(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  std::mt19937 rng_;
};

// Moments (dates plus or minus days, times of day, TODATE texts, timestamps
// plus or minus days and parts of days, from 1600 to 2399) read by EXTRACT and
// written by random templates.
TEST(ScalarDifferentialTest, GeneratedDateExpressionsAgreeWithSQLite) {
  TSQLiteOracle sqlite;
  TDateGenerator gen(20261211);
  for (int i = 0; i < 1500; ++i) {
    const TMoment m = gen.Moment();
    const TPair p = i % 2 ? gen.Extract(m) : gen.ToString(m);
    SCOPED_TRACE(p.engine + "  |  " + p.sqlite);
    ASSERT_EQ(EngineValue(p.engine), sqlite.Value("SELECT " + p.sqlite).ToString());
  }
}

// Date-time rules of the engine where SQLite's differ or it has no
// counterpart: each side's answer written out.
TEST(ScalarDifferentialTest, DateKnownDifferences) {
  TSQLiteOracle sqlite;
  struct Row {
    const char* name;
    const char* engine_text;
    const char* engine;
    const char* sqlite_text;
    const char* sqlite;
  };
  const Row rows[] = {
      {"a DATE plus a fraction stays a date", "TOSTRING(DATE '2024-01-15' + 0.5, 'HH24:NN')",
       "'00:00'", "strftime('%H:%M', '2024-01-15', '+0.5 days')", "'12:00'"},
      {"a number added to a time counts milliseconds",
       "TOSTRING(TIME '06:00:00' + 3600000, 'HH24:NN')", "'07:00'",
       "strftime('%H:%M', '06:00:00', '+3600000 seconds')", "'22:00'"},
      {"a day fraction is cut to the millisecond, not rounded",
       "TOSTRING(TIMESTAMP '2024-01-15 06:00:00' + 1.0 / 24, 'HH24:NN:SS')", "'06:59:59'",
       "strftime('%H:%M:%S', '2024-01-15 06:00:00', '+' || (1.0 / 24) || ' days')", "'07:00:00'"},
      {"12-hour clock writes noon as 00", "TOSTRING(TIMESTAMP '2024-01-15 12:30:00', 'HH12 AMPM')",
       "'00 PM'", "strftime('%H', '2024-01-15 12:30:00')", "'12'"},
      {"two-digit years pivot at 30", "EXTRACT(YEAR FROM TODATE('29-01-01', 'YY-MM-DD'))", "2029",
       "NULL", "NULL"},
      {"", "EXTRACT(YEAR FROM TODATE('30-01-01', 'YY-MM-DD'))", "1930", "NULL", "NULL"},
      {"a quarter reads as its first month",
       "EXTRACT(MONTH FROM TODATE('2024-Q3-05', 'YYYY-\"Q\"Q-DD'))", "7", "NULL", "NULL"},
      {"12 AM is midnight", "EXTRACT(HOUR FROM TODATE('12:30 AM', 'HH:NN AMPM'))", "0",
       "CAST(strftime('%H', '00:30') AS INTEGER)", "0"},
      {"the source of EXTRACT is a primary", "EXTRACT(DAY FROM DATE '2024-02-29' + 1)",
       "error 20282", "CAST(strftime('%d', '2024-02-29', '+1 days') AS INTEGER)", "1"},
      {"a timestamp minus a timestamp is refused",
       "TIMESTAMP '2024-01-15 06:00:00' - TIMESTAMP '2024-01-14 06:00:00'", "error 30123",
       "julianday('2024-01-15 06:00:00') - julianday('2024-01-14 06:00:00')", "1"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name + std::string(" ") + row.engine_text);
    EXPECT_EQ(EngineValue(row.engine_text), row.engine);
    EXPECT_EQ(sqlite.Value(std::string("SELECT ") + row.sqlite_text).ToString(), row.sqlite);
  }
}

}  // namespace
}  // namespace vez

// SQLite 3 as a test oracle for the SQL engine (test code only; the engine
// never links it). A connection gets a shim that gives SQLite this engine's
// rules where they can be stated independently of the engine's code:
// - collation "VEZ": the engine's text order (platform::CompareAnsi on the
//   Windows-1252 form of the UTF-8 text SQLite holds);
// - PRAGMA case_sensitive_like=ON;
// - vez_cmp(a, op, b, flag [, case_insensitive]): a comparison that is always
//   0 or 1: with flag (TrueFalseNullLogic) any NULL operand gives 0; without
//   it NULL orders below every value and equals NULL. Numbers compare as
//   numbers (two integers exactly), texts by the engine's collation; a number
//   beside a text is an error (the generators never make one).
// Texts go into SQLite as UTF-8 (AnsiToUtf8) and come back as Windows-1252.
#pragma once

#include <sqlite3.h>

#include <charconv>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/CodePage.h"
#include "platform/core/Collation.h"

namespace vez::test::oracle {

// One value SQLite returned.
struct TOracleValue {
  enum class Type { Null, Integer, Real, Text };
  Type type = Type::Null;
  std::int64_t integer = 0;
  double real = 0;
  std::string text;  // Windows-1252

  // "NULL", "5", "2.5", "'abc'".
  std::string ToString() const {
    switch (type) {
      case Type::Null:
        return "NULL";
      case Type::Integer:
        return std::to_string(integer);
      case Type::Real: {
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, real);
        return std::string(buf, r.ptr);
      }
      case Type::Text:
        return "'" + text + "'";
    }
    return "?";
  }
};

namespace detail {

inline std::string TextOf(sqlite3_value* v) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
  const int n = sqlite3_value_bytes(v);
  return platform::Utf8ToAnsi(std::string_view(p == nullptr ? "" : p, static_cast<std::size_t>(n)));
}

inline bool IsNumber(sqlite3_value* v) {
  const int t = sqlite3_value_type(v);
  return t == SQLITE_INTEGER || t == SQLITE_FLOAT;
}

// The order of two non-NULL values: <0, 0, >0; false for a pair that cannot
// be compared.
inline bool Order(sqlite3_value* a, sqlite3_value* b, bool case_insensitive, int& order) {
  if (IsNumber(a) && IsNumber(b)) {
    if (sqlite3_value_type(a) == SQLITE_INTEGER && sqlite3_value_type(b) == SQLITE_INTEGER) {
      const sqlite3_int64 x = sqlite3_value_int64(a), y = sqlite3_value_int64(b);
      order = x < y ? -1 : (x > y ? 1 : 0);
    } else {
      const double x = sqlite3_value_double(a), y = sqlite3_value_double(b);
      order = x < y ? -1 : (x > y ? 1 : 0);
    }
    return true;
  }
  if (sqlite3_value_type(a) == SQLITE_TEXT && sqlite3_value_type(b) == SQLITE_TEXT) {
    order = platform::CompareAnsi(TextOf(a), TextOf(b), case_insensitive);
    return true;
  }
  return false;
}

inline void VezCmp(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (argc != 4 && argc != 5) {
    sqlite3_result_error(ctx, "vez_cmp: 4 or 5 arguments", -1);
    return;
  }
  sqlite3_value* a = argv[0];
  sqlite3_value* b = argv[2];
  const std::string op = TextOf(argv[1]);
  const bool flag = sqlite3_value_int(argv[3]) != 0;
  const bool case_insensitive = argc == 5 && sqlite3_value_int(argv[4]) != 0;
  const bool null_a = sqlite3_value_type(a) == SQLITE_NULL;
  const bool null_b = sqlite3_value_type(b) == SQLITE_NULL;
  if (flag && (null_a || null_b)) {
    sqlite3_result_int(ctx, 0);
    return;
  }
  int order = 0;
  if (null_a || null_b) {
    order = null_a && null_b ? 0 : (null_a ? -1 : 1);
  } else if (!Order(a, b, case_insensitive, order)) {
    sqlite3_result_error(ctx, "vez_cmp: a number beside a text", -1);
    return;
  }
  bool r = false;
  if (op == "=")
    r = order == 0;
  else if (op == "<>")
    r = order != 0;
  else if (op == "<")
    r = order < 0;
  else if (op == ">")
    r = order > 0;
  else if (op == "<=")
    r = order <= 0;
  else if (op == ">=")
    r = order >= 0;
  else {
    sqlite3_result_error(ctx, "vez_cmp: unknown operator", -1);
    return;
  }
  sqlite3_result_int(ctx, r ? 1 : 0);
}

inline int VezCollation(void*, int n1, const void* s1, int n2, const void* s2) {
  const std::string a = platform::Utf8ToAnsi(
      std::string_view(static_cast<const char*>(s1), static_cast<std::size_t>(n1)));
  const std::string b = platform::Utf8ToAnsi(
      std::string_view(static_cast<const char*>(s2), static_cast<std::size_t>(n2)));
  return platform::CompareAnsi(a, b, false);
}

}  // namespace detail

// An in-memory SQLite database with the shim installed.
class TSQLiteOracle {
 public:
  TSQLiteOracle() {
    if (sqlite3_open(":memory:", &db_) != SQLITE_OK) throw std::runtime_error("sqlite3_open");
    Check(sqlite3_create_function_v2(db_, "vez_cmp", -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                     nullptr, detail::VezCmp, nullptr, nullptr, nullptr));
    Check(sqlite3_create_collation_v2(db_, "VEZ", SQLITE_UTF8, nullptr, detail::VezCollation,
                                      nullptr));
    Exec("PRAGMA case_sensitive_like=ON");
  }
  ~TSQLiteOracle() { sqlite3_close(db_); }
  TSQLiteOracle(const TSQLiteOracle&) = delete;
  TSQLiteOracle& operator=(const TSQLiteOracle&) = delete;

  sqlite3* Db() const { return db_; }

  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      std::string text = error == nullptr ? "?" : error;
      sqlite3_free(error);
      throw std::runtime_error(sql + ": " + text);
    }
  }

  // Runs a statement with bound values (nullopt binds NULL; strings are
  // Windows-1252 and go in as UTF-8).
  struct TBind {
    enum class Type { Null, Integer, Real, Text } type = Type::Null;
    std::int64_t integer = 0;
    double real = 0;
    std::string text;
  };
  void Run(const std::string& sql, const std::vector<TBind>& binds) {
    sqlite3_stmt* stmt = Prepare(sql);
    for (std::size_t i = 0; i < binds.size(); ++i) {
      const int n = static_cast<int>(i + 1);
      const TBind& b = binds[i];
      switch (b.type) {
        case TBind::Type::Null:
          sqlite3_bind_null(stmt, n);
          break;
        case TBind::Type::Integer:
          sqlite3_bind_int64(stmt, n, b.integer);
          break;
        case TBind::Type::Real:
          sqlite3_bind_double(stmt, n, b.real);
          break;
        case TBind::Type::Text: {
          const std::string utf8 = platform::AnsiToUtf8(b.text);
          sqlite3_bind_text(stmt, n, utf8.c_str(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
          break;
        }
      }
    }
    const int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) throw std::runtime_error(sql + ": " + Error());
  }

  // The first column of every row of a query; throws with SQLite's message
  // when the statement fails.
  std::vector<TOracleValue> Column(const std::string& sql) {
    sqlite3_stmt* stmt = Prepare(sql);
    std::vector<TOracleValue> out;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      TOracleValue v;
      switch (sqlite3_column_type(stmt, 0)) {
        case SQLITE_INTEGER:
          v.type = TOracleValue::Type::Integer;
          v.integer = sqlite3_column_int64(stmt, 0);
          break;
        case SQLITE_FLOAT:
          v.type = TOracleValue::Type::Real;
          v.real = sqlite3_column_double(stmt, 0);
          break;
        case SQLITE_NULL:
          break;
        default:
          v.type = TOracleValue::Type::Text;
          v.text = detail::TextOf(sqlite3_column_value(stmt, 0));
          break;
      }
      out.push_back(std::move(v));
    }
    const std::string error = rc == SQLITE_DONE ? "" : Error();
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) throw std::runtime_error(sql + ": " + error);
    return out;
  }
  // The single value of a one-row query.
  TOracleValue Value(const std::string& sql) {
    std::vector<TOracleValue> rows = Column(sql);
    if (rows.size() != 1) throw std::runtime_error(sql + ": not one row");
    return rows[0];
  }

 private:
  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error(sql + ": " + Error());
    return stmt;
  }
  std::string Error() const { return sqlite3_errmsg(db_); }
  void Check(int rc) {
    if (rc != SQLITE_OK) throw std::runtime_error("sqlite shim: " + Error());
  }

  sqlite3* db_ = nullptr;
};

}  // namespace vez::test::oracle

// A generator of random expressions for the differential tests against
// SQLite. An expression is generated once as a small syntax tree (TGenExpr)
// over one generated row of six columns (I1, I2 Int32; D1, D2 Double; S1, S2
// short strings; any of them NULL), and is then emitted both as the engine's
// node tree (BuildTree) and as SQLite text (ToSQLite) in which every
// comparison goes through the shim's vez_cmp.
//
// The generator keeps to what both sides define alike:
// - Int32 values |v| < 2^15 and doubles with at most three decimals (written
//   for SQLite as an exact quotient k/1000.0, so both sides hold the same
//   double); every integer intermediate stays within Int32 (no wrapping);
//   divisors are never zero (a non-zero constant, a column that is not zero in
//   this row, or NULL) and at least 1 in magnitude;
// - non-empty lower-case ASCII strings;
// - comparisons only between two numbers or two strings, through vez_cmp
//   with the node's TrueFalseNullLogic flag;
// - IN lists without NULL members, IN and BETWEEN over numbers only, LIKE only
//   over a value that is not NULL in this row;
// - BETWEEN: the engine gives NULL as soon as one of the three is NULL, so the
//   SQLite text spells that out (plain BETWEEN can still say False there).
//
// In table mode the expressions are filters over many rows, written as the
// engine's filter text (ToVEZText) for its parser: nothing may depend on one
// row (divisors and IN members are constants, LIKE reads S1, which is never
// NULL there), NULL literals stand only where the grammar takes an operand
// (not inside arithmetic), and every comparison carries the TrueFalseNullLogic
// flag the parser gives it (ParserFlag).
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "ExprTestSupport.h"
#include "SQLiteOracle.h"

namespace vez::test::oracle {

enum class TGenOp {
  Column,
  Int,
  Dbl,
  Str,
  Null,
  Add,
  Neg,
  Mul,
  Div,
  Compare,
  And,
  Or,
  Not,
  IsNull,
  IsNotNull,
  Between,
  NotBetween,
  Like,
  NotLike,
  In,
  NotIn
};

// The kind of value an expression gives when it is not NULL.
enum class TGenType { Int, Dbl, Str, Bool, Null };

struct TGenExpr {
  TGenOp op = TGenOp::Null;
  TGenType type = TGenType::Null;
  std::int64_t bound = 0;       // |value| never exceeds it (numbers)
  std::string column;           // Column: its name
  std::int64_t number = 0;      // Int: the value; Dbl: thousandths
  std::string text;             // Str: the text
  TVEZDataOperator cmp = doEQ;  // Compare
  bool three_valued = true;     // Compare: TrueFalseNullLogic
  std::vector<std::unique_ptr<TGenExpr>> kids;

  double DoubleValue() const { return static_cast<double>(number) / 1000.0; }
};

using TGenPtr = std::unique_ptr<TGenExpr>;

// One value of the generated row.
using TGenValue = std::variant<std::monostate, std::int32_t, double, std::string>;

struct TGenColumn {
  const char* name;
  TGenType type;
};
inline constexpr TGenColumn kGenColumns[] = {{"I1", TGenType::Int}, {"I2", TGenType::Int},
                                             {"D1", TGenType::Dbl}, {"D2", TGenType::Dbl},
                                             {"S1", TGenType::Str}, {"S2", TGenType::Str}};
inline constexpr std::int64_t kInt32Max = 2147483647;
inline constexpr std::int64_t kLeafLimit = 32767;  // |leaf value| < 2^15

// ---------------------------------------------------------------------------
// SQLite text

inline std::string CompareText(TVEZDataOperator op) {
  switch (op) {
    case doEQ:
      return "=";
    case doNE:
      return "<>";
    case doLT:
      return "<";
    case doGT:
      return ">";
    case doLE:
      return "<=";
    default:
      return ">=";
  }
}

inline std::string ToSQLite(const TGenExpr& e) {
  auto kid = [&](std::size_t i) { return ToSQLite(*e.kids[i]); };
  auto list = [&](std::size_t from, const char* separator) {
    std::string s;
    for (std::size_t i = from; i < e.kids.size(); ++i) {
      if (i > from) s += separator;
      s += kid(i);
    }
    return s;
  };
  switch (e.op) {
    case TGenOp::Column:
      return e.column;
    case TGenOp::Int:
      return e.number < 0 ? "(" + std::to_string(e.number) + ")" : std::to_string(e.number);
    case TGenOp::Dbl:
      return "(" + std::to_string(e.number) + "/1000.0)";
    case TGenOp::Str:
      return "'" + e.text + "'";
    case TGenOp::Null:
      return "NULL";
    case TGenOp::Add: {
      std::string s = "(" + kid(0);
      for (std::size_t i = 1; i < e.kids.size(); ++i)
        s += e.kids[i]->op == TGenOp::Neg ? " - " + ToSQLite(*e.kids[i]->kids[0]) : " + " + kid(i);
      return s + ")";
    }
    case TGenOp::Neg:
      return "(-" + kid(0) + ")";
    case TGenOp::Mul:
      return "(" + kid(0) + " * " + kid(1) + ")";
    case TGenOp::Div:
      return "(" + kid(0) + " / " + kid(1) + ")";
    case TGenOp::Compare:
      return "vez_cmp(" + kid(0) + ", '" + CompareText(e.cmp) + "', " + kid(1) + ", " +
             (e.three_valued ? "1" : "0") + ")";
    case TGenOp::And:
      return "(" + list(0, " AND ") + ")";
    case TGenOp::Or:
      return "(" + list(0, " OR ") + ")";
    case TGenOp::Not:
      return "(NOT " + kid(0) + ")";
    case TGenOp::IsNull:
      return "(" + kid(0) + " IS NULL)";
    case TGenOp::IsNotNull:
      return "(" + kid(0) + " IS NOT NULL)";
    case TGenOp::Between:
    case TGenOp::NotBetween:
      return "(CASE WHEN " + kid(0) + " IS NULL OR " + kid(1) + " IS NULL OR " + kid(2) +
             " IS NULL THEN NULL ELSE " + kid(0) +
             (e.op == TGenOp::Between ? " BETWEEN " : " NOT BETWEEN ") + kid(1) + " AND " + kid(2) +
             " END)";
    case TGenOp::Like:
      return "(" + kid(0) + " LIKE " + kid(1) + ")";
    case TGenOp::NotLike:
      return "(" + kid(0) + " NOT LIKE " + kid(1) + ")";
    case TGenOp::In:
      return "(" + kid(0) + " IN (" + list(1, ", ") + "))";
    case TGenOp::NotIn:
      return "(" + kid(0) + " NOT IN (" + list(1, ", ") + "))";
  }
  return "?";
}

// ---------------------------------------------------------------------------
// The engine's filter text

// The flag the parser gives a comparison: False for a column against a
// string or NULL constant, and for a string constant against anything that is
// NULL while parsing (every node but a constant, or the NULL literal).
inline bool ParserFlag(const TGenExpr& cmp) {
  const TGenExpr& a = *cmp.kids[0];
  const TGenExpr& b = *cmp.kids[1];
  auto is_const = [](const TGenExpr& x) {
    return x.op == TGenOp::Int || x.op == TGenOp::Dbl || x.op == TGenOp::Str ||
           x.op == TGenOp::Null;
  };
  auto null_or_text = [](const TGenExpr& x) { return x.op == TGenOp::Null || x.op == TGenOp::Str; };
  auto null_at_parse = [&](const TGenExpr& x) { return !is_const(x) || x.op == TGenOp::Null; };
  if (a.op == TGenOp::Column && null_or_text(b)) return false;
  if (b.op == TGenOp::Column && null_or_text(a)) return false;
  if (a.op == TGenOp::Str && null_at_parse(b)) return false;
  if (b.op == TGenOp::Str && null_at_parse(a)) return false;
  return true;
}

inline std::string ThousandthsText(std::int64_t k) {
  const std::int64_t a = k < 0 ? -k : k;
  std::string frac = std::to_string(a % 1000);
  frac.insert(0, 3 - frac.size(), '0');
  const std::string text = std::to_string(a / 1000) + "." + frac;
  return k < 0 ? "(-" + text + ")" : text;
}

inline std::string ToVEZText(const TGenExpr& e) {
  auto kid = [&](std::size_t i) { return ToVEZText(*e.kids[i]); };
  auto list = [&](std::size_t from, const char* separator) {
    std::string s;
    for (std::size_t i = from; i < e.kids.size(); ++i) {
      if (i > from) s += separator;
      s += kid(i);
    }
    return s;
  };
  switch (e.op) {
    case TGenOp::Column:
      return e.column;
    case TGenOp::Int:
      return e.number < 0 ? "(" + std::to_string(e.number) + ")" : std::to_string(e.number);
    case TGenOp::Dbl:
      return ThousandthsText(e.number);
    case TGenOp::Str:
      return "'" + e.text + "'";
    case TGenOp::Null:
      return "NULL";
    case TGenOp::Add: {
      std::string s = "(" + kid(0);
      for (std::size_t i = 1; i < e.kids.size(); ++i)
        s += e.kids[i]->op == TGenOp::Neg ? " - " + ToVEZText(*e.kids[i]->kids[0]) : " + " + kid(i);
      return s + ")";
    }
    case TGenOp::Neg:
      return "(-(" + kid(0) + "))";
    case TGenOp::Mul:
      return "(" + kid(0) + " * " + kid(1) + ")";
    case TGenOp::Div:
      return "(" + kid(0) + " / " + kid(1) + ")";
    case TGenOp::Compare:
      return "(" + kid(0) + " " + CompareText(e.cmp) + " " + kid(1) + ")";
    case TGenOp::And:
      return "(" + list(0, " AND ") + ")";
    case TGenOp::Or:
      return "(" + list(0, " OR ") + ")";
    case TGenOp::Not:
      return "(NOT " + kid(0) + ")";
    case TGenOp::IsNull:
    case TGenOp::IsNotNull: {
      // After a parenthesised condition the grammar takes IS [NOT] UNKNOWN.
      const bool condition = e.kids[0]->type == TGenType::Bool;
      return "(" + kid(0) + (e.op == TGenOp::IsNull ? " IS " : " IS NOT ") +
             (condition ? "UNKNOWN)" : "NULL)");
    }
    case TGenOp::Between:
      return "(" + kid(0) + " BETWEEN " + kid(1) + " AND " + kid(2) + ")";
    case TGenOp::NotBetween:
      return "(" + kid(0) + " NOT BETWEEN " + kid(1) + " AND " + kid(2) + ")";
    case TGenOp::Like:
      return "(" + kid(0) + " LIKE " + kid(1) + ")";
    case TGenOp::NotLike:
      return "(" + kid(0) + " NOT LIKE " + kid(1) + ")";
    case TGenOp::In:
      return "(" + kid(0) + " IN (" + list(1, ", ") + "))";
    case TGenOp::NotIn:
      return "(" + kid(0) + " NOT IN (" + list(1, ", ") + "))";
  }
  return "?";
}

// ---------------------------------------------------------------------------
// The engine's tree

inline std::unique_ptr<TVEZExprNode> BuildTree(const TGenExpr& e, TVEZCursor* cursor) {
  auto kid = [&](std::size_t i) { return BuildTree(*e.kids[i], cursor); };
  auto boolean = [&](TVEZDataOperator op) {
    auto node = std::make_unique<TVEZExprNodeBoolean>(op, false, false, "");
    for (std::size_t i = 0; i < e.kids.size(); ++i)
      node->AddChild(kid(i));
    return node;
  };
  switch (e.op) {
    case TGenOp::Column:
      return test::Field(cursor, e.column);
    case TGenOp::Int:
      return test::Int(static_cast<std::int32_t>(e.number));
    case TGenOp::Dbl:
      return test::Dbl(e.DoubleValue());
    case TGenOp::Str:
      return test::Str(e.text);
    case TGenOp::Null:
      return test::Null();
    case TGenOp::Add: {
      auto node = std::make_unique<TVEZExprNodeArithmetic>(doADD, kid(0), kid(1), false, false);
      for (std::size_t i = 2; i < e.kids.size(); ++i)
        node->AddChild(kid(i));
      return node;
    }
    case TGenOp::Neg:
      return test::Neg(kid(0));
    case TGenOp::Mul:
      return test::Arith(doMUL, kid(0), kid(1));
    case TGenOp::Div:
      return test::Arith(doDIV, kid(0), kid(1));
    case TGenOp::Compare:
      return test::Cmp(e.cmp, kid(0), kid(1), e.three_valued);
    case TGenOp::And:
      return boolean(doAND);
    case TGenOp::Or:
      return boolean(doOR);
    case TGenOp::Not:
      return boolean(doNOT);
    case TGenOp::IsNull:
      return boolean(doISNULL);
    case TGenOp::IsNotNull:
      return boolean(doISNOTNULL);
    case TGenOp::Between:
      return boolean(doBETWEEN);
    case TGenOp::NotBetween:
      return boolean(doNOTBETWEEN);
    case TGenOp::Like:
      return boolean(doLIKE);
    case TGenOp::NotLike:
      return boolean(doNOTLIKE);
    case TGenOp::In:
      return boolean(doIN);
    case TGenOp::NotIn:
      return boolean(doNOTIN);
  }
  return test::Null();
}

// ---------------------------------------------------------------------------
// The generator

class TExprGenerator {
 public:
  explicit TExprGenerator(std::uint32_t seed, bool table_mode = false)
      : rng_(seed), table_mode_(table_mode) {
    NewRow();
  }

  // A fresh random row; each value is NULL one time in five (in table mode
  // S1 never is).
  void NewRow() {
    for (std::size_t c = 0; c < std::size(kGenColumns); ++c) {
      if (Chance(5) && !(table_mode_ && c == 4)) {
        row_[c] = std::monostate{};
        continue;
      }
      switch (kGenColumns[c].type) {
        case TGenType::Int:
          row_[c] = static_cast<std::int32_t>(IntValue(kLeafLimit));
          break;
        case TGenType::Dbl:
          row_[c] = static_cast<double>(Thousandths(kLeafLimit)) / 1000.0;
          break;
        default:
          row_[c] = Word();
          break;
      }
    }
  }
  const TGenValue& Value(std::size_t column) const { return row_[column]; }

  // A Boolean expression of at most depth levels of operators.
  TGenPtr Boolean(int depth) {
    const int choice = Pick(depth <= 0 ? 5 : 10);
    switch (choice) {
      case 0:
      case 1:
        return Comparison(depth);
      case 2:
        return Make(Pick(2) == 0 ? TGenOp::IsNull : TGenOp::IsNotNull, TGenType::Bool,
                    Pick(3) == 0 ? StrLeaf()
                                 : (depth > 0 && Chance(3) ? Boolean(depth - 1)
                                                           : Numeric(depth, kInt32Max)));
      case 3: {
        auto e = Make(Pick(3) == 0 ? TGenOp::NotBetween : TGenOp::Between, TGenType::Bool,
                      NumericOperand(depth));
        e->kids.push_back(NumericOperand(depth));
        e->kids.push_back(NumericOperand(depth));
        return e;
      }
      case 4:
        return Pick(2) == 0 ? LikeExpr() : InExpr(depth);
      case 5:
      case 6: {
        auto e = Make(TGenOp::And, TGenType::Bool, Boolean(depth - 1));
        const int n = 1 + Pick(2);
        for (int i = 0; i < n; ++i)
          e->kids.push_back(Boolean(depth - 1));
        return e;
      }
      case 7:
      case 8: {
        auto e = Make(TGenOp::Or, TGenType::Bool, Boolean(depth - 1));
        e->kids.push_back(Boolean(depth - 1));
        return e;
      }
      default:
        return Make(TGenOp::Not, TGenType::Bool, Boolean(depth - 1));
    }
  }

  // A number expression whose value (and every integer intermediate) stays
  // within limit.
  TGenPtr Numeric(int depth, std::int64_t limit) {
    limit = std::max<std::int64_t>(limit, 1);
    if (depth <= 0 || Chance(3)) return NumberLeaf(limit);
    switch (Pick(4)) {
      case 0: {
        // Each addend gets an equal share of the limit, at least 1.
        if (limit < 2) return NumberLeaf(limit);
        const int n = static_cast<int>(std::min<std::int64_t>(2 + Pick(2), limit));
        auto e = std::make_unique<TGenExpr>();
        e->op = TGenOp::Add;
        for (int i = 0; i < n; ++i) {
          TGenPtr k = Numeric(depth - 1, limit / n);
          // Every other addend written as a subtraction: a + (-b).
          if (i > 0 && Chance(2)) k = Negate(std::move(k));
          e->kids.push_back(std::move(k));
        }
        Finish(*e);
        return e;
      }
      case 1:
        return Negate(Numeric(depth - 1, limit));
      case 2: {
        TGenPtr a = Numeric(depth - 1, limit);
        const std::int64_t rest = limit / std::max<std::int64_t>(a->bound, 1);
        TGenPtr b = Numeric(depth - 1, rest);
        auto e = Make(TGenOp::Mul, TGenType::Null, std::move(a));
        e->kids.push_back(std::move(b));
        Finish(*e);
        return e;
      }
      default: {
        auto e = Make(TGenOp::Div, TGenType::Null, Numeric(depth - 1, limit));
        e->kids.push_back(Divisor());
        Finish(*e);
        return e;
      }
    }
  }

  // Either kind of root.
  TGenPtr Any(int depth) { return Chance(2) ? Boolean(depth) : Numeric(depth, kInt32Max); }

 private:
  bool Chance(int one_in) { return Pick(one_in) == 0; }
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<std::uint32_t>(n)); }

  // Mostly small values, so that equalities happen; otherwise anywhere in
  // -limit .. limit.
  std::int64_t IntValue(std::int64_t limit) {
    limit = std::min(limit, kLeafLimit);
    if (Chance(2)) return std::clamp<std::int64_t>(Pick(21) - 10, -limit, limit);
    return static_cast<std::int64_t>(rng_() % static_cast<std::uint32_t>(2 * limit + 1)) - limit;
  }
  // A double of at most three decimals within limit, in thousandths; often
  // a whole number or a half.
  std::int64_t Thousandths(std::int64_t limit) {
    limit = std::min(limit, kLeafLimit);
    switch (Pick(3)) {
      case 0:
        return IntValue(limit) * 1000;
      case 1:
        return std::clamp<std::int64_t>((Pick(41) - 20) * 500, -limit * 1000, limit * 1000);
      default:
        return static_cast<std::int64_t>(rng_() %
                                         static_cast<std::uint32_t>(2 * limit * 1000 + 1)) -
               limit * 1000;
    }
  }
  std::string Word() {
    std::string s;
    const int n = 1 + Pick(3);
    for (int i = 0; i < n; ++i)
      s += static_cast<char>('a' + Pick(3));
    return s;
  }

  TGenPtr Make(TGenOp op, TGenType type, TGenPtr kid = nullptr) {
    auto e = std::make_unique<TGenExpr>();
    e->op = op;
    e->type = type;
    if (kid) e->kids.push_back(std::move(kid));
    return e;
  }
  TGenPtr Negate(TGenPtr operand) {
    auto e = Make(TGenOp::Neg, TGenType::Null, std::move(operand));
    Finish(*e);
    return e;
  }
  // Type and bound of an arithmetic node from its operands.
  static void Finish(TGenExpr& e) {
    bool any_dbl = false, any_int = false;
    for (const TGenPtr& k : e.kids) {
      any_dbl |= k->type == TGenType::Dbl;
      any_int |= k->type == TGenType::Int;
    }
    e.type = any_dbl ? TGenType::Dbl : (any_int ? TGenType::Int : TGenType::Null);
    switch (e.op) {
      case TGenOp::Add:
        e.bound = 0;
        for (const TGenPtr& k : e.kids)
          e.bound += k->bound;
        break;
      case TGenOp::Mul:
        e.bound = e.kids[0]->bound * e.kids[1]->bound;
        break;
      default:  // Neg, Div (|divisor| >= 1)
        e.bound = e.kids[0]->bound;
        break;
    }
  }

  TGenPtr Column(TGenType type) {
    std::vector<std::size_t> fits;
    for (std::size_t c = 0; c < std::size(kGenColumns); ++c)
      if (kGenColumns[c].type == type) fits.push_back(c);
    const std::size_t c = fits[static_cast<std::size_t>(Pick(static_cast<int>(fits.size())))];
    auto e = Make(TGenOp::Column, type);
    e->column = kGenColumns[c].name;
    e->bound = type == TGenType::Str ? 0 : kLeafLimit;
    return e;
  }
  TGenPtr NumberLeaf(std::int64_t limit) {
    const int choice = Pick(10);
    if (choice == 0) {
      // No NULL literal inside arithmetic in filter text; a column instead.
      if (!table_mode_) return Make(TGenOp::Null, TGenType::Null);
      if (limit >= kLeafLimit) return Column(Chance(2) ? TGenType::Int : TGenType::Dbl);
    }
    if (choice <= 4 && limit >= kLeafLimit)
      return Column(Chance(2) ? TGenType::Int : TGenType::Dbl);
    if (choice <= 7) {
      auto e = Make(TGenOp::Int, TGenType::Int);
      e->number = IntValue(limit);
      e->bound = std::abs(e->number);
      return e;
    }
    auto e = Make(TGenOp::Dbl, TGenType::Dbl);
    e->number = Thousandths(limit);
    e->bound = (std::abs(e->number) + 999) / 1000;
    return e;
  }
  // Never zero, and at least 1 in magnitude, so a quotient stays within its
  // dividend's bound.
  TGenPtr Divisor() {
    switch (table_mode_ ? 2 + Pick(3) : Pick(5)) {
      case 0:
        return Make(TGenOp::Null, TGenType::Null);
      case 1: {
        std::vector<std::size_t> usable;
        for (std::size_t c = 0; c < 4; ++c) {
          const TGenValue& v = row_[c];
          if (const auto* i = std::get_if<std::int32_t>(&v); i != nullptr && *i != 0)
            usable.push_back(c);
          if (const auto* d = std::get_if<double>(&v); d != nullptr && std::abs(*d) >= 1)
            usable.push_back(c);
        }
        if (!usable.empty()) {
          const std::size_t c =
              usable[static_cast<std::size_t>(Pick(static_cast<int>(usable.size())))];
          auto e = Make(TGenOp::Column, kGenColumns[c].type);
          e->column = kGenColumns[c].name;
          e->bound = kLeafLimit;
          return e;
        }
        [[fallthrough]];
      }
      case 2:
      case 3: {
        auto e = Make(TGenOp::Int, TGenType::Int);
        e->number = (1 + Pick(50)) * (Chance(2) ? -1 : 1);
        e->bound = std::abs(e->number);
        return e;
      }
      default: {
        auto e = Make(TGenOp::Dbl, TGenType::Dbl);
        e->number = (1000 + Pick(49001)) * (Chance(2) ? -1 : 1);
        e->bound = (std::abs(e->number) + 999) / 1000;
        return e;
      }
    }
  }
  TGenPtr StrLeaf() {
    switch (Pick(5)) {
      case 0:
        return Make(TGenOp::Null, TGenType::Null);
      case 1:
      case 2:
        return Column(TGenType::Str);
      default: {
        auto e = Make(TGenOp::Str, TGenType::Str);
        e->text = Word();
        return e;
      }
    }
  }
  TGenPtr Comparison(int depth) {
    auto e = Make(TGenOp::Compare, TGenType::Bool);
    static constexpr TVEZDataOperator kOps[] = {doEQ, doNE, doLT, doGT, doLE, doGE};
    e->cmp = kOps[Pick(6)];
    e->three_valued = Chance(2);
    if (Chance(4)) {
      e->kids.push_back(StrLeaf());
      e->kids.push_back(StrLeaf());
    } else {
      e->kids.push_back(NumericOperand(depth));
      e->kids.push_back(NumericOperand(depth));
    }
    if (table_mode_) e->three_valued = ParserFlag(*e);
    return e;
  }
  // A number expression, or now and then the NULL literal.
  TGenPtr NumericOperand(int depth) {
    if (Chance(12)) return Make(TGenOp::Null, TGenType::Null);
    return Numeric(depth, kInt32Max);
  }
  // LIKE over a value that is not NULL in this row.
  TGenPtr LikeExpr() {
    auto e = Make(Chance(3) ? TGenOp::NotLike : TGenOp::Like, TGenType::Bool);
    std::vector<std::size_t> usable;
    for (std::size_t c = 4; c < (table_mode_ ? 5 : 6); ++c)
      if (table_mode_ || std::holds_alternative<std::string>(row_[c])) usable.push_back(c);
    if (!usable.empty() && Chance(2)) {
      auto v = Make(TGenOp::Column, TGenType::Str);
      v->column =
          kGenColumns[usable[static_cast<std::size_t>(Pick(static_cast<int>(usable.size())))]].name;
      e->kids.push_back(std::move(v));
    } else {
      auto v = Make(TGenOp::Str, TGenType::Str);
      v->text = Word();
      e->kids.push_back(std::move(v));
    }
    if (Chance(6)) {
      e->kids.push_back(StrLeaf());  // a column or NULL pattern too
    } else {
      auto p = Make(TGenOp::Str, TGenType::Str);
      const int n = 1 + Pick(4);
      for (int i = 0; i < n; ++i) {
        const int k = Pick(6);
        p->text += k < 3 ? static_cast<char>('a' + k) : (k < 5 ? '%' : '_');
      }
      e->kids.push_back(std::move(p));
    }
    return e;
  }
  // IN over numbers, with list members that are not NULL in this row.
  TGenPtr InExpr(int depth) {
    auto e =
        Make(Chance(3) ? TGenOp::NotIn : TGenOp::In, TGenType::Bool, Numeric(depth, kInt32Max));
    const int n = 1 + Pick(4);
    for (int i = 0; i < n; ++i) {
      TGenPtr member;
      for (int tries = 0; tries < 4 && !member; ++tries) {
        TGenPtr candidate = NumberLeaf(kLeafLimit);
        if (candidate->op == TGenOp::Null) continue;
        if (candidate->op == TGenOp::Column && table_mode_) continue;
        if (candidate->op == TGenOp::Column) {
          const std::size_t c = static_cast<std::size_t>(candidate->column[1] - '1') +
                                (candidate->column[0] == 'D' ? 2 : 0);
          if (std::holds_alternative<std::monostate>(row_[c])) continue;
        }
        member = std::move(candidate);
      }
      if (!member) {
        member = Make(TGenOp::Int, TGenType::Int);
        member->number = IntValue(kLeafLimit);
      }
      e->kids.push_back(std::move(member));
    }
    return e;
  }

  std::mt19937 rng_;
  bool table_mode_;
  TGenValue row_[std::size(kGenColumns)];
};

}  // namespace vez::test::oracle

// The expression parser: the parsing entry points of TVEZExpression and the
// grammar they share (search conditions, predicates, comparisons, LIKE,
// operands, numeric and string value expressions, literals, parameters and
// field references).
//
// Recursive descent with backtracking over the tokens of one lexer command.
// A rule returns a tree and leaves the lexer on the first token after what it
// used, or returns nothing, frees what it built and leaves the lexer where it
// found it. Only a keyword that cannot start anything else raises at once.
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZLexer.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/sql/VEZExprNodeAggregated.h"
#include "dbengine/sql/VEZExprNodeArithmetic.h"
#include "dbengine/sql/VEZExprNodeBlob.h"
#include "dbengine/sql/VEZExprNodeBoolean.h"
#include "dbengine/sql/VEZExprNodeCase.h"
#include "dbengine/sql/VEZExprNodeCast.h"
#include "dbengine/sql/VEZExprNodeComparison.h"
#include "dbengine/sql/VEZExprNodeConst.h"
#include "dbengine/sql/VEZExprNodeDateFunction.h"
#include "dbengine/sql/VEZExprNodeField.h"
#include "dbengine/sql/VEZExprNodeStringFunction.h"
#include "dbengine/sql/VEZExprNodeSubquery.h"
#include "dbengine/sql/VEZExprNodeSystem.h"
#include "dbengine/sql/VEZExpression.h"
#include "dbengine/storage/VEZCursor.h"
#include "platform/core/CodePage.h"
#include "platform/core/Variant.h"

namespace vez {

namespace {

using TNode = std::unique_ptr<TVEZExprNode>;

// Deeper nesting of parentheses is refused: backtracking re-reads nested
// operands, so unbounded nesting would let a short text run for ages.
constexpr int kMaxNesting = 48;
constexpr std::int32_t kErrorNestedTooDeeply = 30507;

bool IsStringOrDateType(TVEZBaseFieldType t) {
  return IsStringBaseFieldType(t) || IsDateTimeBaseFieldType(t);
}

class TParser {
 public:
  explicit TParser(TVEZExpression& e) : e_(e), token_(e.Token) {}

  // ---- Token steps

  void Refresh() { e_.LLex->GetCurrentToken(token_); }
  void Advance() { e_.LLex->GetNextToken(token_); }
  std::int32_t Mark() const { return e_.LLex->GetCurrentTokenNo(); }
  void GoBack(std::int32_t mark) { e_.LLex->SetCurrentTokenNo(mark, token_); }
  bool AtEnd() const { return token_.TokenType == tktNone; }
  bool IsWord(TReservedWord w) const { return IsReservedWord(token_, w); }
  // Operator symbols are recognised by their text; a quoted or delimited
  // string is data, never an operator.
  bool IsSymbol(const char* text) const {
    return token_.TokenType != tktNone && token_.TokenType != tktQuotedString &&
           token_.TokenType != tktBracketedString && token_.Text == text;
  }
  bool IsSign() const { return IsSymbol("+") || IsSymbol("-"); }

  [[noreturn]] void RaiseFound(std::int32_t code, const char* text) const {
    throw EVEZException(code, text, {token_.Text, token_.LineNum, token_.ColumnNum});
  }
  [[noreturn]] void RaiseExpected(std::int32_t code, const std::string& expected) const {
    throw EVEZException(code, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {expected, token_.Text, token_.LineNum, token_.ColumnNum});
  }
  [[noreturn]] void RaiseNotBuilt(const std::string& what) const {
    RaiseNotImplementedYet(what + " '" + token_.Text + "' at line " +
                           std::to_string(token_.LineNum) + ", column " +
                           std::to_string(token_.ColumnNum));
  }

  // ---- Node makers (flags as the grammar gives them)

  static TNode Boolean(TVEZDataOperator op) {
    return std::make_unique<TVEZExprNodeBoolean>(op, true, false, "");
  }
  static TNode Boolean(TVEZDataOperator op, TNode a) {
    auto node = Boolean(op);
    node->AddChild(std::move(a));
    return node;
  }
  static TNode Boolean(TVEZDataOperator op, TNode a, TNode b) {
    auto node = Boolean(op, std::move(a));
    node->AddChild(std::move(b));
    return node;
  }
  static std::unique_ptr<TVEZExprNodeConst> Constant() {
    return std::make_unique<TVEZExprNodeConst>(true, false);
  }

  // ---- Search conditions

  // term { OR term }, left-associative.
  TNode SearchCondition() {
    TNode left = BooleanTerm();
    if (!left) return nullptr;
    while (IsWord(rwOR)) {
      Advance();
      TNode right = BooleanTerm();
      if (!right)
        RaiseFound(30070, "Boolean expression expected, but '%s' found at line %d, column %d");
      left = Boolean(doOR, std::move(left), std::move(right));
    }
    return left;
  }

  // factor { AND factor }: one AND over all the factors.
  TNode BooleanTerm() {
    TNode first = BooleanFactor();
    if (!first || !IsWord(rwAND)) return first;
    TNode node = Boolean(doAND, std::move(first));
    while (IsWord(rwAND)) {
      Advance();
      TNode next = BooleanFactor();
      if (!next)
        RaiseFound(30069, "Boolean expression expected, but '%s' found at line %d, column %d");
      node->AddChild(std::move(next));
    }
    return node;
  }

  // [ NOT ] test
  TNode BooleanFactor() {
    const std::int32_t start = Mark();
    const bool negated = IsWord(rwNOT);
    if (negated) Advance();
    TNode test = BooleanTest();
    if (!test) {
      GoBack(start);
      return nullptr;
    }
    return negated ? Boolean(doNOT, std::move(test)) : std::move(test);
  }

  // primary [ IS [ NOT ] ( TRUE | FALSE | UNKNOWN ) ]
  TNode BooleanTest() {
    TNode primary = BooleanPrimary();
    if (!primary || !IsWord(rwIS)) return primary;
    Advance();
    const bool negated = IsWord(rwNOT);
    if (negated) Advance();
    if (IsWord(rwTRUE) || IsWord(rwFALSE)) {
      // x IS TRUE and x IS NOT FALSE are x itself.
      const bool keep = IsWord(rwTRUE) != negated;
      Advance();
      return keep ? std::move(primary) : Boolean(doNOT, std::move(primary));
    }
    if (IsWord(rwUNKNOWN)) {
      Advance();
      return Boolean(negated ? doISNOTNULL : doISNULL, std::move(primary));
    }
    RaiseExpected(30067, "TRUE, FALSE or UNKNOWN");
  }

  // predicate, else ( search condition ), else an operand.
  TNode BooleanPrimary() {
    const std::int32_t start = Mark();
    if (TNode p = Predicate()) return p;
    GoBack(start);
    if (IsSymbol("(")) {
      NestingGuard guard(*this);
      Advance();
      TNode condition = SearchCondition();
      if (condition && IsSymbol(")")) {
        Advance();
        return condition;
      }
      condition.reset();
      GoBack(start);
    }
    TNode operand = Operand();
    if (!operand) GoBack(start);
    return operand;
  }

  // ---- Predicates

  TNode Predicate() {
    const std::int32_t start = Mark();
    // 1: a Boolean literal.
    if (TNode literal = BooleanLiteral()) return literal;
    // 8: EXISTS over a subquery.
    if (IsWord(rwEXISTS)) return ExistsPredicate();
    TNode left = Operand();
    if (!left) {
      GoBack(start);
      return nullptr;
    }
    // 2 and 3: comparisons, plain or quantified.
    if (const TVEZDataOperator op = ComparisonOperator(); op != doUNDEFINED) {
      Advance();
      if (IsWord(rwALL) || IsWord(rwANY) || IsWord(rwSOME)) {
        const TVEZQuantifier quantifier = IsWord(rwALL) ? qALL : qANY;
        Advance();
        TNode subquery = Subquery(true, false);
        if (!subquery) {
          GoBack(start);
          return nullptr;
        }
        return std::make_unique<TVEZExprNodeComparison>(op, quantifier, std::move(left),
                                                        std::move(subquery), e_.F3ValueLogic,
                                                        e_.FCaseInsensitive, e_.FPartialKey);
      }
      TNode right = Operand();
      if (!right) {
        GoBack(start);
        return nullptr;
      }
      return BuildComparison(op, std::move(left), std::move(right));
    }
    // 4, 6, 7: [ NOT ] LIKE / BETWEEN / IN; 5: IS [ NOT ] NULL.
    const bool negated = IsWord(rwNOT);
    if (negated) Advance();
    TNode result;
    if (IsWord(rwLIKE)) {
      Advance();
      result = LikePredicate(std::move(left), negated);
    } else if (IsWord(rwBETWEEN)) {
      Advance();
      result = BetweenPredicate(std::move(left), negated);
    } else if (IsWord(rwIN)) {
      Advance();
      result = InPredicate(std::move(left), negated);
    } else if (!negated && IsWord(rwIS)) {
      Advance();
      const bool is_not = IsWord(rwNOT);
      if (is_not) Advance();
      if (IsWord(rwNULL)) {
        Advance();
        result = Boolean(is_not ? doISNOTNULL : doISNULL, std::move(left));
      }
    }
    if (!result) GoBack(start);
    return result;
  }

  TVEZDataOperator ComparisonOperator() const {
    if (IsSymbol("=")) return doEQ;
    if (IsSymbol("<>")) return doNE;
    if (IsSymbol("<")) return doLT;
    if (IsSymbol(">")) return doGT;
    if (IsSymbol("<=")) return doLE;
    if (IsSymbol(">=")) return doGE;
    return doUNDEFINED;
  }

  TNode BuildComparison(TVEZDataOperator op, TNode left, TNode right) {
    bool partial = false;
    if (e_.FPartialKey) {
      for (TNode* operand : {&left, &right}) {
        if ((*operand)->Kind() != TVEZExprNodeKind::Const) continue;
        auto* c = static_cast<TVEZExprNodeConst*>(operand->get());
        if (c->Value.GetIsNull() || !c->Value.IsStringDataType()) continue;
        const std::u16string text = c->Value.GetAsWideString();
        if (text.empty() || text.back() != u'*') continue;
        c->TruncateForPartialCompare();
        partial = true;
      }
    }
    const bool left_field = left->Kind() == TVEZExprNodeKind::Field;
    const bool right_field = right->Kind() == TVEZExprNodeKind::Field;
    const bool left_const = left->Kind() == TVEZExprNodeKind::Const;
    const bool right_const = right->Kind() == TVEZExprNodeKind::Const;
    // A NULL parameter of a string or date type: = and <> become IS [NOT]
    // NULL. The keyword NULL is an Int32 NULL and stays a comparison.
    if (op == doEQ || op == doNE) {
      auto null_text = [](const TNode& n) {
        return n->Kind() == TVEZExprNodeKind::Const && n->Value.GetIsNull() &&
               IsStringOrDateType(n->Value.GetDataType());
      };
      if (left_field && null_text(right))
        return Boolean(op == doEQ ? doISNULL : doISNOTNULL, std::move(left));
      if (right_field && null_text(left))
        return Boolean(op == doEQ ? doISNULL : doISNOTNULL, std::move(right));
    }
    auto null_or_text = [](const TNode& n) {
      return n->Value.GetIsNull() || IsStringOrDateType(n->Value.GetDataType());
    };
    bool three_valued = true;
    if ((left_field && right_const && null_or_text(right)) ||
        (right_field && left_const && null_or_text(left)))
      three_valued = false;
    // Nodes other than constants hold NULL until they are evaluated.
    if ((left->Value.IsStringDataType() && right->Value.GetIsNull()) ||
        (right->Value.IsStringDataType() && left->Value.GetIsNull()))
      three_valued = false;
    return std::make_unique<TVEZExprNodeComparison>(op, std::move(left), std::move(right),
                                                    three_valued, e_.FCaseInsensitive, partial);
  }

  TNode LikePredicate(TNode value, bool negated) {
    TNode pattern = Operand();
    if (!pattern) return nullptr;
    std::string escape;
    const bool has_escape = IsWord(rwESCAPE);
    if (has_escape) {
      Advance();
      if (token_.TokenType == tktParameter && token_.ParamValue)
        escape = token_.ParamValue->GetAsAnsiString();
      else
        escape = token_.Text;
      if (escape.size() != 1)
        throw EVEZException(
            20294,
            "Invalid escape character length (should be a single character) at line %d, column %d",
            {token_.LineNum, token_.ColumnNum});
      Advance();
    }
    // A plain prefix pattern compares as a prefix, which an index can serve.
    // Only without '_': a prefix compare would take '_' literally.
    if (!has_escape && pattern->Kind() == TVEZExprNodeKind::Const) {
      auto* c = static_cast<TVEZExprNodeConst*>(pattern.get());
      if (c->IsLikePatternEqualToPartialComparePattern() &&
          c->Value.GetAsWideString().find(u'_') == std::u16string::npos) {
        c->TruncateForPartialCompare();
        return std::make_unique<TVEZExprNodeComparison>(negated ? doNE : doEQ, std::move(value),
                                                        std::move(pattern), false,
                                                        e_.FCaseInsensitive, true);
      }
    }
    auto node = std::make_unique<TVEZExprNodeBoolean>(negated ? doNOTLIKE : doLIKE,
                                                      e_.FCaseInsensitive, false, escape);
    node->AddChild(std::move(value));
    node->AddChild(std::move(pattern));
    return node;
  }

  TNode BetweenPredicate(TNode value, bool negated) {
    TNode low = Operand();
    if (!low || !IsWord(rwAND)) return nullptr;
    Advance();
    TNode high = Operand();
    if (!high) return nullptr;
    TNode node = Boolean(negated ? doNOTBETWEEN : doBETWEEN, std::move(value), std::move(low));
    node->AddChild(std::move(high));
    return node;
  }

  TNode InPredicate(TNode value, bool negated) {
    if (!IsSymbol("(")) return nullptr;
    const std::int32_t open = Mark();
    if (TNode subquery = Subquery(true, false))
      return Boolean(negated ? doNOTIN : doIN, std::move(value), std::move(subquery));
    GoBack(open);
    NestingGuard guard(*this);
    Advance();
    TNode node = Boolean(negated ? doNOTIN : doIN, std::move(value));
    for (;;) {
      TNode item = ValueExpression();
      if (!item) return nullptr;
      node->AddChild(std::move(item));
      // A ',' between values may be left out.
      if (IsSymbol(",")) Advance();
      if (IsSymbol(")")) {
        Advance();
        return node;
      }
    }
  }

  // ---- Operands and value expressions

  // A subquery giving one value, the NULL literal, or a value expression.
  TNode Operand() {
    const std::int32_t start = Mark();
    if (TNode subquery = Subquery(true, true)) {
      // (SELECT ...) + 1 is a value expression over the subquery: its
      // primary rule reads it.
      if (!IsSymbol("+") && !IsSymbol("-") && !IsSymbol("*") && !IsSymbol("/") && !IsSymbol("||"))
        return subquery;
      GoBack(start);
    }
    if (TNode null = NullLiteral()) return null;
    return ValueExpression();
  }

  // ( query expression ), or a query without parentheses: any "(" before
  // SELECT that the query does not close itself belongs to the query
  // expression, and the one this rule opened must be closed. Nothing (and
  // the lexer back where it was) when no SELECT follows the parentheses or
  // the closing parenthesis is missing.
  TNode Subquery(bool must_have_one_field, bool must_have_one_row) {
    const std::int32_t start = Mark();
    bool opened = false;
    while (IsSymbol("(")) {
      opened = true;
      Advance();
    }
    if (!IsWord(rwSELECT)) {
      GoBack(start);
      return nullptr;
    }
    GoBack(start);
    if (opened) Advance();
    TNode node = CreateSubquery(must_have_one_field, must_have_one_row);
    if (opened) {
      if (!IsSymbol(")")) {
        GoBack(start);
        return nullptr;
      }
      Advance();
    }
    return node;
  }

  // The subquery node for the query starting here; the lexer is left after
  // the query. A query read before from the same token is not parsed again:
  // backtracking would otherwise parse nested queries once per alternative
  // above them.
  TNode CreateSubquery(bool must_have_one_field, bool must_have_one_row) {
    // Running a subquery needs the statement's query and its lexer for the
    // node's whole life; a filter's own lexer is gone once it is parsed.
    if (e_.LDataset == nullptr) RaiseNotBuilt("subquery outside a query statement");
    const std::int32_t at = Mark();
    std::unique_ptr<TVEZExprNodeSubquery> node;
    if (auto it = subquery_ends_.find(at); it != subquery_ends_.end()) {
      node = std::make_unique<TVEZExprNodeSubquery>(must_have_one_field, must_have_one_row,
                                                    e_.LDataset, e_.LLex, it->second);
    } else {
      node = std::make_unique<TVEZExprNodeSubquery>(must_have_one_field, must_have_one_row,
                                                    e_.LDataset, e_.LLex);
      subquery_ends_[at] = Mark();
    }
    Refresh();
    return node;
  }

  // EXISTS [ ( ] query [ ) ]: further parentheses before SELECT belong to
  // the query expression, which closes them itself; the one after EXISTS
  // must be closed (30492).
  TNode ExistsPredicate() {
    const std::int32_t start = Mark();
    Advance();
    const std::int32_t open = Mark();
    int opens = 0;
    while (IsSymbol("(")) {
      ++opens;
      Advance();
    }
    if (!IsWord(rwSELECT)) {
      GoBack(start);
      return nullptr;
    }
    GoBack(open);
    if (opens > 0) Advance();
    TNode subquery = CreateSubquery(false, false);
    if (opens > 0) {
      if (!IsSymbol(")"))
        throw EVEZException(30492, "Missing symbol ')' at line %d, column %d",
                            {token_.LineNum, token_.ColumnNum});
      Advance();
    }
    return Boolean(doEXISTS, std::move(subquery));
  }

  TNode NullLiteral() {
    if (IsWord(rwNULL)) {
      auto c = Constant();
      c->Value.Clear(bftSignedInt32);
      Advance();
      return c;
    }
    if (token_.TokenType == tktParameter && token_.ParamValue && token_.ParamValue->GetIsNull()) {
      auto c = Constant();
      const TVEZBaseFieldType type = token_.ParamValue->GetDataType();
      c->Value.Clear(type == bftUnknown ? bftSignedInt32 : type);
      Advance();
      return c;
    }
    return nullptr;
  }

  TNode BooleanLiteral() {
    if (IsWord(rwTRUE) || IsWord(rwFALSE)) {
      auto c = Constant();
      c->Value.SetAsBoolean(IsWord(rwTRUE));
      Advance();
      return c;
    }
    if (token_.TokenType == tktParameter && token_.ParamValue && !token_.ParamValue->GetIsNull() &&
        token_.ParamValue->GetDataType() == bftLogical) {
      auto c = Constant();
      c->Value.Assign(*token_.ParamValue, true);
      Advance();
      return c;
    }
    return nullptr;
  }

  // Numeric value expression; datetime arithmetic; datetime primary; string
  // value expression (or string - datetime primary); Boolean literal; NULL;
  // MIMETOBIN.
  TNode ValueExpression() {
    const std::int32_t start = Mark();
    if (TNode n = NumericValueExpression()) return n;
    GoBack(start);
    if (TNode d = DatetimePrimary(); d && !IsSymbol("||")) {
      // date + value is ADD(date, ADD(value)); date - value ADD(date, SUB(value)).
      if (IsSign()) {
        const std::int32_t after = Mark();
        const TVEZDataOperator op = IsSymbol("+") ? doADD : doSUB;
        Advance();
        if (TNode v = ValueExpression()) {
          auto sum = std::make_unique<TVEZExprNodeArithmetic>(doADD, std::move(d), true, false);
          sum->AddChild(std::make_unique<TVEZExprNodeArithmetic>(op, std::move(v), true, false));
          return sum;
        }
        GoBack(after);
      }
      return d;
    }
    GoBack(start);
    // number + date is the date moved by the number, as date + number is, not
    // the number's text followed by the date's text.
    if (TNode n = NumericTerm(); n && IsSymbol("+")) {
      Advance();
      if (TNode d = DatetimePrimary(); d && !IsSymbol("||")) {
        auto sum = std::make_unique<TVEZExprNodeArithmetic>(doADD, std::move(d), true, false);
        sum->AddChild(std::make_unique<TVEZExprNodeArithmetic>(doADD, std::move(n), true, false));
        if (IsSign()) {
          const std::int32_t after = Mark();
          const TVEZDataOperator op = IsSymbol("+") ? doADD : doSUB;
          Advance();
          if (TNode v = ValueExpression())
            sum->AddChild(std::make_unique<TVEZExprNodeArithmetic>(op, std::move(v), true, false));
          else
            GoBack(after);
        }
        return sum;
      }
    }
    GoBack(start);
    if (TNode s = StringValueExpression()) {
      // string - date is ADD(string, SUB(date)).
      if (IsSymbol("-")) {
        const std::int32_t after = Mark();
        Advance();
        if (TNode d = DatetimePrimary()) {
          auto sum = std::make_unique<TVEZExprNodeArithmetic>(doADD, std::move(s), true, false);
          sum->AddChild(std::make_unique<TVEZExprNodeArithmetic>(doSUB, std::move(d), true, false));
          return sum;
        }
        GoBack(after);
      }
      return s;
    }
    GoBack(start);
    if (TNode b = BooleanLiteral()) return b;
    if (TNode n = NullLiteral()) return n;
    if (IsWord(rwMIMETOBIN)) return MimeToBin();
    return nullptr;
  }

  TNode DatetimePrimary() {
    TVEZDataOperator op = doUNDEFINED;
    if (IsWord(rwSYSDATE) || IsWord(rwNOW) || IsWord(rwCURRENT_TIMESTAMP))
      op = doSYSDATE;
    else if (IsWord(rwCURRENT_TIME))
      op = doCURRENT_TIME;
    else if (IsWord(rwCURRENT_DATE))
      op = doCURRENT_DATE;
    if (op != doUNDEFINED) {
      Advance();
      return std::make_unique<TVEZExprNodeDateFunction>(op);
    }
    if (IsWord(rwTODATE)) return ToDate();
    // A date, time or timestamp literal is a date-time value too: DATE
    // '2024-01-15' + 1 is the next day, not a text.
    if (IsWord(rwDATE) || IsWord(rwTIME) || IsWord(rwTIMESTAMP)) return Literal();
    if (token_.TokenType == tktParameter && token_.ParamValue && !token_.ParamValue->GetIsNull() &&
        token_.ParamValue->IsDateTimeDataType()) {
      auto c = Constant();
      c->Value.Assign(*token_.ParamValue, true);
      Advance();
      return c;
    }
    return nullptr;
  }

  // term { ( + | - ) term }: one ADD over all the terms, a "-" belonging to
  // the first factor of its term (a - b + c is ADD(a, SUB(b), c)).
  TNode NumericValueExpression() {
    const std::int32_t start = Mark();
    TNode first = NumericTerm();
    if (!first) return nullptr;
    TNode result = std::move(first);
    if (IsSign()) {
      auto sum = std::make_unique<TVEZExprNodeArithmetic>(doADD, std::move(result), true, false);
      while (IsSign()) {
        TNode term = NumericTerm();
        if (!term) {
          GoBack(start);
          return nullptr;
        }
        sum->AddChild(std::move(term));
      }
      result = std::move(sum);
    }
    // Followed by "||" it is read as a string expression instead.
    if (IsSymbol("||")) {
      GoBack(start);
      return nullptr;
    }
    return result;
  }

  // factor { ( * | / ) factor }, left-associative.
  TNode NumericTerm() {
    const std::int32_t start = Mark();
    TNode left = NumericFactor();
    if (!left) return nullptr;
    while (IsSymbol("*") || IsSymbol("/")) {
      const TVEZDataOperator op = IsSymbol("*") ? doMUL : doDIV;
      Advance();
      TNode right = NumericFactor();
      if (!right) {
        GoBack(start);
        return nullptr;
      }
      left = std::make_unique<TVEZExprNodeArithmetic>(op, std::move(left), std::move(right), true,
                                                      false);
    }
    return left;
  }

  // [ + | - ] numeric primary; "-" is a unary SUB.
  TNode NumericFactor() {
    const std::int32_t start = Mark();
    const bool negative = IsSymbol("-");
    if (negative || IsSymbol("+")) Advance();
    TNode primary = NumericPrimary();
    if (!primary) {
      GoBack(start);
      return nullptr;
    }
    if (!negative) return primary;
    return std::make_unique<TVEZExprNodeArithmetic>(doSUB, std::move(primary), true, false);
  }

  // Hands back a primary read from start that the caller does not use: the
  // next Primary at start takes it instead of reading the tokens again, so
  // nested parentheses are not re-read once per alternative above them.
  void Unread(std::int32_t start, TNode node) {
    primaries_[start] = {Mark(), std::move(node)};
    GoBack(start);
  }

  // A primary that is not a non-numeric constant, else a numeric function.
  // The NULL literal is a number too: 1 + NULL is NULL, not the text '1'
  // with the rest left unread.
  TNode NumericPrimary() {
    const std::int32_t start = Mark();
    if (TNode p = Primary()) {
      if (p->Kind() != TVEZExprNodeKind::Const || p->Value.IsNumericDataType()) return p;
      Unread(start, std::move(p));
      return nullptr;
    }
    GoBack(start);
    if (TNode null = NullLiteral()) return null;
    if (token_.TokenType != tktReservedWord) return nullptr;
    return NumericFunction();
  }

  // string primary { ( || | + ) string primary }: one CONCAT over all the
  // operands; an operator not followed by a string primary adds nothing.
  // The NULL literal joins a concatenation as an operand (read as empty), so
  // 'a' || NULL || 'b' is 'ab' rather than 'a' with the rest left unread.
  TNode StringValueExpression() {
    const std::int32_t start = Mark();
    TNode first = StringPrimary();
    if (!first) {
      GoBack(start);
      first = NullLiteral();
      if (first && !IsSymbol("||") && !IsSymbol("+")) first.reset();
      if (!first) {
        GoBack(start);
        return nullptr;
      }
    }
    if (!IsSymbol("||") && !IsSymbol("+")) return first;
    auto concat = std::make_unique<TVEZExprNodeStringFunction>(doCONCAT);
    concat->AddChild(std::move(first));
    while (IsSymbol("||") || IsSymbol("+")) {
      Advance();
      const std::int32_t at = Mark();
      if (TNode next = StringPrimary()) {
        concat->AddChild(std::move(next));
        continue;
      }
      GoBack(at);
      if (TNode null = NullLiteral())
        concat->AddChild(std::move(null));
      else
        GoBack(at);
    }
    return concat;
  }

  TNode StringPrimary() {
    const std::int32_t start = Mark();
    if (TNode p = Primary()) return p;
    GoBack(start);
    if (token_.TokenType == tktReservedWord) {
      if (TNode f = StringFunction()) return f;
    }
    return DatetimePrimary();
  }

  // literal, field reference, aggregate, subquery, COALESCE, CASE, ( value
  // expression ), CAST.
  TNode Primary() {
    const std::int32_t start = Mark();
    if (auto it = primaries_.find(start); it != primaries_.end()) {
      TNode node = std::move(it->second.node);
      GoBack(it->second.end);
      primaries_.erase(it);
      return node;
    }
    // A primary that failed here once fails again: nothing it reads changes.
    if (failed_primaries_.count(start) != 0) return nullptr;
    if (TNode l = Literal()) return l;
    GoBack(start);
    if (TNode f = FieldReference()) return f;
    GoBack(start);
    if (IsWord(rwCOUNT) || IsWord(rwAVG) || IsWord(rwMAX) || IsWord(rwMIN) || IsWord(rwSUM))
      return Aggregate();
    if (TNode subquery = Subquery(true, false)) return subquery;
    GoBack(start);
    if (IsWord(rwCOALESCE)) return Coalesce();
    if (IsWord(rwCASE)) return Case();
    if (IsSymbol("(")) {
      NestingGuard guard(*this);
      Advance();
      TNode inner = ValueExpression();
      if (inner && IsSymbol(")")) {
        Advance();
        return inner;
      }
      GoBack(start);
    }
    if (IsWord(rwCAST)) return Cast();
    failed_primaries_.insert(start);
    return nullptr;
  }

  // ---- Function and keyword primaries. Once the keyword is seen a wrong
  // token raises (no backtracking).

  void Expect(const char* symbol, std::int32_t code) {
    if (!IsSymbol(symbol)) RaiseExpected(code, symbol);
    Advance();
  }

  // COUNT(*), or COUNT/AVG/MAX/MIN/SUM "(" [DISTINCT] value ")".
  TNode Aggregate() {
    TVEZDataOperator op = doCOUNT;
    if (IsWord(rwAVG))
      op = doAVG;
    else if (IsWord(rwMAX))
      op = doMAX;
    else if (IsWord(rwMIN))
      op = doMIN;
    else if (IsWord(rwSUM))
      op = doSUM;
    Advance();
    Expect("(", 30074);
    if (op == doCOUNT && IsSymbol("*")) {
      Advance();
      Expect(")", 30073);
      return std::make_unique<TVEZExprNodeAggregated>(doCOUNTALL);
    }
    bool distinct = false;
    if (IsWord(rwDISTINCT)) {
      distinct = true;
      Advance();
    }
    TNode arg;
    {
      NestingGuard guard(*this);
      arg = ValueExpression();
    }
    if (!arg) RaiseNoArgument(30102, OperatorToText(op));
    Expect(")", 30075);
    return std::make_unique<TVEZExprNodeAggregated>(op, distinct, std::move(arg));
  }
  [[noreturn]] void RaiseNoArgument(std::int32_t code, const std::string& name) const {
    throw EVEZException(code, "Argument expected for function '%s' at line %d, column %d",
                        {name, token_.LineNum, token_.ColumnNum});
  }
  [[noreturn]] void RaiseStringArgument(std::int32_t code, const std::string& name) const {
    throw EVEZException(code,
                        "String argument expected for function '%s', but '%s' found at line %d, "
                        "column %d",
                        {name, token_.Text, token_.LineNum, token_.ColumnNum});
  }
  [[noreturn]] void RaiseDateFormat(std::int32_t code) const {
    RaiseFound(code, "Const DateFormat string expected, but '%s' found at line %d, column %d");
  }

  // A function's argument: the grammar's expression, or the NULL literal (so
  // that UPPER(NULL) is NULL and SQRT(NULL) raises the value's own error).
  TNode NumericArgument() {
    const std::int32_t at = Mark();
    if (TNode n = NumericValueExpression()) return n;
    GoBack(at);
    return NullLiteral();
  }
  TNode StringArgument() {
    const std::int32_t at = Mark();
    if (TNode n = StringValueExpression()) return n;
    GoBack(at);
    return NullLiteral();
  }

  // The numeric function primaries: POSITION/POS, EXTRACT, LENGTH,
  // LASTAUTOINC, ROWNUM, the one-argument functions, POWER and ROUND.
  TNode NumericFunction() {
    switch (token_.ReservedWord) {
      case rwPOSITION:
      case rwPOS:
        return Position();
      case rwEXTRACT:
        return Extract();
      case rwLENGTH: {
        Advance();
        Expect("(", 30083);
        TNode arg = StringArgument();
        if (!arg) RaiseNoArgument(30085, "LENGTH");
        Expect(")", 30084);
        auto node = std::make_unique<TVEZExprNodeStringFunction>(doLENGTH);
        node->AddChild(std::move(arg));
        return node;
      }
      case rwLAST_AUTOINC:
        return LastAutoinc();
      case rwROWNUM:
        Advance();
        return std::make_unique<TVEZExprNodeSystem>(doROWNUM, "", "", "", "", false);
      case rwABS:
        return OneArgumentFunction(doABS);
      case rwACOS:
        return OneArgumentFunction(doACOS);
      case rwASIN:
        return OneArgumentFunction(doASIN);
      case rwATAN:
        return OneArgumentFunction(doATAN);
      case rwCEIL:
        return OneArgumentFunction(doCEIL);
      case rwCOS:
        return OneArgumentFunction(doCOS);
      case rwEXP:
        return OneArgumentFunction(doEXP);
      case rwFLOOR:
        return OneArgumentFunction(doFLOOR);
      case rwLOG:
        return OneArgumentFunction(doLOG);
      case rwRAND:
        return OneArgumentFunction(doRAND);
      case rwSIGN:
        return OneArgumentFunction(doSIGN);
      case rwSIN:
        return OneArgumentFunction(doSIN);
      case rwSQR:
        return OneArgumentFunction(doSQR);
      case rwSQRT:
        return OneArgumentFunction(doSQRT);
      case rwPOWER:
        return Power();
      case rwROUND:
        return Round();
      default:
        return nullptr;
    }
  }

  TNode OneArgumentFunction(TVEZDataOperator op) {
    const std::string name = token_.Text;
    Advance();
    Expect("(", 20261);
    TNode arg = NumericArgument();
    if (!arg) RaiseNoArgument(20262, name);
    Expect(")", 20263);
    return std::make_unique<TVEZExprNodeArithmetic>(op, std::move(arg), true, false);
  }

  TNode Power() {
    Advance();
    Expect("(", 20264);
    TNode base = NumericArgument();
    if (!base) RaiseNoArgument(20265, "POWER");
    if (!IsSymbol(","))
      throw EVEZException(20267, "comma (\",\") expected but not found at line %d, column %d",
                          {token_.LineNum, token_.ColumnNum});
    Advance();
    TNode exponent = NumericArgument();
    if (!exponent) RaiseNoArgument(20268, "POWER");
    Expect(")", 20266);
    return std::make_unique<TVEZExprNodeArithmetic>(doPOWER, std::move(base), std::move(exponent),
                                                    true, false);
  }

  TNode Round() {
    Advance();
    Expect("(", 30502);
    TNode value = NumericArgument();
    if (!value) RaiseNoArgument(30503, "ROUND");
    auto node = std::make_unique<TVEZExprNodeArithmetic>(doROUND, std::move(value), true, false);
    if (IsSymbol(",")) {
      Advance();
      TNode digits = NumericArgument();
      if (!digits) RaiseNoArgument(30504, "ROUND");
      node->AddChild(std::move(digits));
      if (IsSymbol(",")) {
        Advance();
        if (token_.TokenType != tktReservedWord || token_.ReservedWord == rwNone)
          RaiseNoArgument(30505, "ROUND");
        auto mode = Constant();
        mode->Value.SetAsInteger(static_cast<std::int32_t>(token_.ReservedWord));
        Advance();
        node->AddChild(std::move(mode));
      }
    }
    Expect(")", 30506);
    return node;
  }

  TNode Position() {
    Advance();
    Expect("(", 30078);
    TNode first = StringArgument();
    if (!first) RaiseNoArgument(30079, "POS");
    if (!IsSymbol(",") && !IsWord(rwIN)) RaiseExpected(30080, ",' or 'IN");
    Advance();
    TNode second = StringArgument();
    if (!second) RaiseNoArgument(30081, "POS");
    Expect(")", 30082);
    auto node = std::make_unique<TVEZExprNodeStringFunction>(doPOS);
    node->AddChild(std::move(first));
    node->AddChild(std::move(second));
    return node;
  }

  TNode Extract() {
    static const char* const kFields = "YEAR or MONTH or DAY or HOUR or MINUTE or SECOND";
    Advance();
    Expect("(", 20277);
    // A word that names no field (WEEK) is 20279 like another keyword; 20278
    // is for a token that is no word at all.
    if (token_.TokenType != tktReservedWord && token_.TokenType != tktString)
      RaiseExpected(20278, kFields);
    TVEZDateTimeExtractField field;
    switch (token_.ReservedWord) {
      case rwYEAR:
        field = dtefYear;
        break;
      case rwMONTH:
        field = dtefMonth;
        break;
      case rwDAY:
        field = dtefDay;
        break;
      case rwHOUR:
        field = dtefHour;
        break;
      case rwMINUTE:
        field = dtefMinute;
        break;
      case rwSECOND:
        field = dtefSecond;
        break;
      default:
        RaiseExpected(20279, kFields);
    }
    Advance();
    if (!IsWord(rwFROM)) RaiseExpected(20280, "FROM");
    Advance();
    // The source is a primary; a date-time function (SYSDATE, TODATE ...)
    // is accepted as well.
    const std::int32_t at = Mark();
    TNode source = Primary();
    if (!source) {
      GoBack(at);
      source = DatetimePrimary();
    }
    if (!source) source = NullLiteral();
    if (!source) RaiseNoArgument(20281, "EXTRACT (... FROM ...)");
    Expect(")", 20282);
    return std::make_unique<TVEZExprNodeDateFunction>(doEXTRACT, field, std::move(source));
  }

  TNode LastAutoinc() {
    Advance();
    Expect("(", 30086);
    const std::string table_name = token_.Text;
    Advance();
    bool in_memory = e_.FInMemory;
    if (IsWord(rwMEMORY)) {
      in_memory = true;
      Advance();
    }
    Expect(",", 30334);
    const std::string column_name = token_.Text;
    Advance();
    Expect(")", 30089);
    return std::make_unique<TVEZExprNodeSystem>(doLASTAUTOINC, e_.FSessionName, e_.FDatabaseName,
                                                table_name, column_name, in_memory);
  }

  // The string function primaries: UPPER, LOWER, TRIM, LTRIM, RTRIM,
  // SUBSTRING, TOSTRING.
  TNode StringFunction() {
    switch (token_.ReservedWord) {
      case rwUPPER:
        return OneStringFunction(doUPPER);
      case rwLOWER:
        return OneStringFunction(doLOWER);
      case rwTRIM:
        return OneStringFunction(doTRIM);
      case rwLTRIM:
        return OneStringFunction(doLTRIM);
      case rwRTRIM:
        return OneStringFunction(doRTRIM);
      case rwSUBSTRING:
        return Substring();
      case rwTOSTRING:
        return ToStringFunction();
      default:
        return nullptr;
    }
  }

  TNode OneStringFunction(TVEZDataOperator op) {
    const std::string name = token_.Text;
    Advance();
    Expect("(", 30090);
    TNode arg = StringArgument();
    Expect(")", 30091);
    if (!arg) RaiseStringArgument(30092, name);
    auto node = std::make_unique<TVEZExprNodeStringFunction>(op);
    node->AddChild(std::move(arg));
    return node;
  }

  TNode Substring() {
    Advance();
    Expect("(", 30098);
    TNode text = StringArgument();
    if (!text) RaiseNoArgument(30099, OperatorToText(doSUBSTRING));
    if (!IsSymbol(",") && !IsWord(rwFROM)) RaiseExpected(30100, ",' or 'from");
    Advance();
    TNode start = NumericArgument();
    if (!start) RaiseNoArgument(30101, OperatorToText(doSUBSTRING));
    auto node = std::make_unique<TVEZExprNodeStringFunction>(doSUBSTRING);
    node->AddChild(std::move(text));
    node->AddChild(std::move(start));
    if (!IsSymbol(")")) {
      if (!IsSymbol(",") && !IsWord(rwFOR)) RaiseExpected(30103, ")' or ',' or 'FOR");
      Advance();
      if (TNode length = NumericArgument()) node->AddChild(std::move(length));
    }
    Expect(")", 30104);
    return node;
  }

  TNode ToStringFunction() {
    Advance();
    Expect("(", 30093);
    TNode value = ValueExpression();
    if (!value) value = NullLiteral();
    if (!value) RaiseNoArgument(30094, OperatorToText(doTOSTRING));
    if (!IsSymbol(",") && !IsWord(rwFROM)) RaiseExpected(30095, ",");
    Advance();
    if (token_.TokenType != tktQuotedString) RaiseDateFormat(30096);
    const std::string format = token_.Text;
    Advance();
    Expect(")", 30097);
    return std::make_unique<TVEZExprNodeDateFunction>(doTOSTRING, std::move(value), format);
  }

  TNode ToDate() {
    Advance();
    Expect("(", 30105);
    TNode text = StringArgument();
    if (!text) RaiseNoArgument(30107, "ToDate");
    Expect(",", 30108);
    if (token_.TokenType != tktQuotedString) RaiseDateFormat(30109);
    const std::string format = token_.Text;
    Advance();
    Expect(")", 30106);
    return std::make_unique<TVEZExprNodeDateFunction>(doTODATE, std::move(text), format);
  }

  // "MIMETOBIN" "(" quoted string ")".
  TNode MimeToBin() {
    Advance();
    Expect("(", 30479);
    if (token_.TokenType != tktQuotedString) RaiseStringArgument(30480, "MimeToBin()");
    auto text = Constant();
    text->Value.SetAsAnsiString(token_.Text);
    Advance();
    Expect(")", 30481);
    return std::make_unique<TVEZExprNodeBlob>(doMIMETOBIN, std::move(text));
  }

  // "COALESCE" "(" value { [ "," ] value } ")".
  TNode Coalesce() {
    Advance();
    Expect("(", 20275);
    std::vector<TNode> args;
    while (!IsSymbol(")")) {
      TNode arg = ValueExpression();
      // A token that starts no value ends the list with an error rather
      // than being read again and again.
      if (!arg)
        throw EVEZException(20276, "COALESCE arguments are missing at line %d, column %d",
                            {token_.LineNum, token_.ColumnNum});
      args.push_back(std::move(arg));
      if (IsSymbol(",")) Advance();
    }
    if (args.empty())
      throw EVEZException(20276, "COALESCE arguments are missing at line %d, column %d",
                          {token_.LineNum, token_.ColumnNum});
    Advance();
    return TVEZExprNodeCase::CreateCoalesce(std::move(args));
  }

  // CASE input WHEN value THEN result ... [ELSE result] END, or
  // CASE WHEN condition THEN result ... [ELSE result] END.
  TNode Case() {
    Advance();
    const bool searched = IsWord(rwWHEN);
    std::unique_ptr<TVEZExprNodeCase> node;
    if (searched) {
      node = TVEZExprNodeCase::CreateSearchedCase();
    } else {
      TNode input = ValueExpression();
      if (!input)
        RaiseFound(30467,
                   "Input expression for CASE function expected, but '%s' found at line %d, "
                   "column %d");
      node = TVEZExprNodeCase::CreateSimpleCase(std::move(input));
      if (!IsWord(rwWHEN)) RaiseExpected(30468, "WHEN");
    }
    const char* when_text =
        "When Expression for CASE function expected, but '%s' found at line %d, column %d";
    while (IsWord(rwWHEN)) {
      Advance();
      TNode when = searched ? SearchCondition() : ValueExpression();
      if (!when) {
        if (searched)
          RaiseFound(30474,
                     "Search Condition for CASE function expected, but '%s' found at line %d, "
                     "column %d");
        RaiseFound(30469, when_text);
      }
      node->AddWhenExpression(std::move(when));
      if (!IsWord(rwTHEN)) RaiseExpected(searched ? 30475 : 30470, "THEN");
      Advance();
      TNode result = ValueExpression();
      if (!result) RaiseFound(searched ? 30476 : 30469, when_text);
      node->AddResultExpression(std::move(result));
    }
    if (IsWord(rwELSE)) {
      Advance();
      TNode result = ValueExpression();
      if (!result)
        RaiseFound(searched ? 30477 : 30471,
                   "'Else Result Expression' for CASE function expected, but '%s' found at line "
                   "%d, column %d");
      node->SetElseResultExpression(std::move(result));
    }
    if (!IsWord(rwEND)) RaiseExpected(searched ? 30478 : 30472, "END");
    Advance();
    return node;
  }

  // "CAST" "(" ( NULL | value ) [ "," | AS ] type [ "(" size ")" ] ")".
  TNode Cast() {
    Advance();
    Expect("(", 30076);
    TNode value;
    if (IsWord(rwNULL)) {
      value = NullLiteral();
      Advance();  // the AS or "," after NULL
    } else {
      value = ValueExpression();
      if (!value) RaiseNoArgument(30076, "CAST");
      if (IsSymbol(",") || IsWord(rwAS)) Advance();
    }
    const TVEZAdvancedFieldType type = SQLTypeNameToAdvancedType(token_.Text);
    if (!IsComparableAdvancedFieldType(type))
      throw EVEZException(30077, "Cannot convert an expression to specified type: '%s'",
                          {AdvancedTypeToSQLTypeName(type)});
    Advance();
    TNode size;
    if (IsSymbol("(")) {
      Advance();
      size = NumericValueExpression();
      if (!size) RaiseNoArgument(30465, "CAST");
      Expect(")", 30465);
    }
    Expect(")", 30076);
    return std::make_unique<TVEZExprNodeCast>(std::move(value), type, std::move(size));
  }

  TNode Literal() {
    switch (token_.TokenType) {
      case tktInt: {
        // Read by the typed value's own text conversion, so a number beyond
        // 64 bits raises the conversion error rather than failing the rule.
        auto c = Constant();
        c->Value.Clear(bftSignedInt64);
        c->Value.SetAsAnsiString(token_.Text);
        if (c->Value.GetAsInt64() < 2147483647) c->Value.Cast(bftSignedInt32);
        Advance();
        return c;
      }
      case tktFloat: {
        auto c = Constant();
        c->Value.Clear(bftDouble);
        c->Value.SetAsAnsiString(token_.Text);
        Advance();
        return c;
      }
      case tktQuotedString: {
        // The text as a wide string, single-byte when nothing is lost; ''
        // is a NULL string.
        auto c = Constant();
        c->Value.SetAsWideString(platform::AnsiToWide(token_.Text));
        c->Value.TryToReduceWideStringToAnsiString();
        Advance();
        return c;
      }
      case tktParameter: {
        const std::shared_ptr<TVEZVariant>& p = token_.ParamValue;
        if (!p || p->GetIsNull()) return nullptr;
        if (!p->IsNumericDataType() && !p->IsStringDataType() && !p->IsBlobDataType())
          return nullptr;
        auto c = Constant();
        c->Value.Assign(*p, true);
        Advance();
        return c;
      }
      case tktReservedWord:
        if (IsWord(rwDATE)) return DateLiteral(bftDate);
        if (IsWord(rwTIME)) return DateLiteral(bftTime);
        if (IsWord(rwTIMESTAMP)) return DateLiteral(bftDateTime);
        return nullptr;
      default:
        return nullptr;
    }
  }

  // DATE 'YYYY-MM-DD', TIME 'HH:MM:SS', TIMESTAMP 'YYYY-MM-DD HH:MM:SS'.
  TNode DateLiteral(TVEZBaseFieldType type) {
    Advance();
    if (token_.TokenType != tktQuotedString) {
      if (type == bftDate)
        RaiseFound(20283,
                   "Date string expected \"YYYY-MM-DD\", but found \"%s\" at line %d, column %d");
      RaiseFound(type == bftTime ? 20285 : 20287,
                 "Time string expected \"HH:MM:SS\", but found \"%s\" at line %d, column %d");
    }
    double value = 0;
    auto c = Constant();
    c->Value.Clear(type);
    if (type == bftDate) {
      if (!TryParseSQLDate(token_.Text, value)) RaiseExpected(20284, "YYYY-MM-DD");
      c->Value.SetAsTDate(value);
    } else if (type == bftTime) {
      if (!TryParseSQLTime(token_.Text, value)) RaiseExpected(20286, "HH:MM:SS");
      c->Value.SetAsTTime(value);
    } else {
      if (!TryParseSQLTimestamp(token_.Text, value)) RaiseExpected(20288, "YYYY-MM-DD");
      c->Value.SetAsTDateTime(value);
    }
    Advance();
    return c;
  }

  // name [ . name ], not followed by "(".
  TNode FieldReference() {
    if (!IsName()) return nullptr;
    std::string table_name, field_name = token_.Text;
    Advance();
    if (token_.TokenType == tktDot) {
      Advance();
      if (AtEnd()) return nullptr;
      table_name = std::move(field_name);
      field_name = token_.Text;
      Advance();
    }
    if (IsSymbol("(")) return nullptr;
    return std::make_unique<TVEZExprNodeField>(e_.LCursor, field_name, table_name);
  }

  // An identifier or delimited name that is no reserved word and no
  // operator symbol.
  bool IsName() const {
    if (token_.ReservedWord != rwNone || token_.Text.empty()) return false;
    if (token_.TokenType == tktBracketedString) return true;
    if (token_.TokenType != tktString) return false;
    const char first = token_.Text[0];
    return std::string_view("=<>+-*/|!^%&~,;:?").find(first) == std::string_view::npos;
  }

  // Counts parenthesis nesting for the life of one nested rule.
  class NestingGuard {
   public:
    explicit NestingGuard(TParser& parser) : parser_(parser) {
      if (++parser_.nesting_ > kMaxNesting)
        throw EVEZException(kErrorNestedTooDeeply,
                            "Expression nested too deeply at line %d, column %d",
                            {parser_.token_.LineNum, parser_.token_.ColumnNum});
    }
    ~NestingGuard() { --parser_.nesting_; }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;

   private:
    TParser& parser_;
  };

 private:
  struct TReadPrimary {
    std::int32_t end = 0;
    TNode node;
  };

  TVEZExpression& e_;
  TToken& token_;
  int nesting_ = 0;
  std::map<std::int32_t, TReadPrimary> primaries_;
  std::set<std::int32_t> failed_primaries_;
  // Token after the query, by the token it starts on.
  std::map<std::int32_t, std::int32_t> subquery_ends_;
};

// Clears the borrowed lexer when an entry point that owns its lexer returns.
class TLexerScope {
 public:
  TLexerScope(TVEZExpression& e, TVEZLexer& lexer) : e_(e) { e_.LLex = &lexer; }
  ~TLexerScope() { e_.LLex = nullptr; }
  TLexerScope(const TLexerScope&) = delete;
  TLexerScope& operator=(const TLexerScope&) = delete;

 private:
  TVEZExpression& e_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Entry points

void TVEZExpression::ParseForBooleanExpression(platform::DataSet* dataset, TVEZLexer* lexer) {
  SetRoot(nullptr);
  LDataset = dataset;
  LLex = lexer;
  TParser parser(*this);
  parser.Refresh();
  if (parser.AtEnd())
    throw EVEZException(30118, "Unexpected end of SQL command found at line %d, column %d",
                        {Token.LineNum, Token.ColumnNum});
  TNode root = parser.SearchCondition();
  if (!root)
    parser.RaiseFound(30066, "Boolean expression expected, but '%s' found at line %d, column %d");
  SetRoot(std::move(root));
  MoveAndNodesToRoot();
  if (LCursor != nullptr) Root()->AdjustConstTypes();
}

void TVEZExpression::ParseForValueExpression(platform::DataSet* dataset, TVEZLexer* lexer) {
  LLex = lexer;
  LDataset = dataset;
  TParser parser(*this);
  parser.Refresh();
  if (parser.AtEnd())
    throw EVEZException(30136, "Unexpected end of SQL command found at line %d, column %d",
                        {Token.LineNum, Token.ColumnNum});
  SetRoot(parser.ValueExpression());
}

void TVEZExpression::ParseForRowSubqueryExpression(platform::DataSet* dataset, TVEZLexer* lexer) {
  LLex = lexer;
  LDataset = dataset;
  TParser parser(*this);
  parser.Refresh();
  if (parser.AtEnd())
    throw EVEZException(30497, "Unexpected end of SQL command found at line %d, column %d",
                        {Token.LineNum, Token.ColumnNum});
  SetRoot(parser.Subquery(false, false));
}

void TVEZExpression::ParseForFilter(TVEZCursor* cursor, const std::string& filter,
                                    bool case_insensitive, bool partial_key) {
  SetRoot(nullptr);
  LCursor = cursor;
  FCaseInsensitive = case_insensitive;
  FPartialKey = partial_key;
  TVEZLexer lexer(filter, nullptr, false);
  if (lexer.NumCommands() == 0) throw EVEZException(30119, "Blank SQL command");
  TLexerScope scope(*this, lexer);
  lexer.GetNextCommand();
  ParseForBooleanExpression(nullptr, &lexer);
  // Whatever follows the condition would otherwise be ignored: A = 1 B = 2
  // would filter on A alone.
  TToken rest;
  bool left_over = lexer.GetCurrentToken(rest);
  while (!left_over && lexer.GetNextCommand())
    left_over = lexer.GetCurrentToken(rest);
  if (left_over) {
    SetRoot(nullptr);
    throw EVEZException(20260, "End of SQL command expected, but '%s' found at line %d, column %d",
                        {rest.Text, rest.LineNum, rest.ColumnNum});
  }
  // A filter tests one record at a time: an aggregate would only ever see an
  // empty group and COUNT(*) = 0 would match every record.
  if (Root() != nullptr && Root()->IsAggregated()) {
    SetRoot(nullptr);
    RaiseNotImplementedYet("aggregate in a record filter");
  }
}

bool TVEZExpression::ParseForDefaultValueExpression(const std::string& text) {
  try {
    TVEZLexer lexer(text, nullptr, true);
    if (lexer.NumCommands() == 0) return false;
    TLexerScope scope(*this, lexer);
    lexer.GetNextCommand();
    ParseForValueExpression(nullptr, &lexer);
    // One expression and nothing after it: "5 x" is no default expression.
    TToken rest;
    return lexer.NumCommands() == 1 && Root() != nullptr && !Root()->IsAggregated() &&
           !lexer.GetCurrentToken(rest);
  } catch (const std::exception&) {
    return false;
  }
}

void TVEZExpression::ParseForLocate(TVEZCursor* cursor, const std::string& field_names,
                                    const platform::Variant& key_values, bool case_insensitive,
                                    bool partial_key) {
  SetRoot(nullptr);
  LCursor = cursor;
  F3ValueLogic = false;
  std::vector<std::string> names;
  SplitFieldNamesList(names, field_names);
  const bool is_array = key_values.IsArray();
  // Our arrays are zero-based vectors: the count is the vector's size.
  const std::size_t count = is_array ? key_values.Items().size() : 1;
  if (names.size() != count)
    throw EVEZException(
        30112, "Count of FieldNames (%d) not equal counts of KeyValues (%d)",
        {static_cast<std::int32_t>(names.size()), static_cast<std::int32_t>(count)});
  std::vector<TNode> comparisons;
  for (std::size_t i = 0; i < count; ++i) {
    auto field = std::make_unique<TVEZExprNodeField>(cursor, names[i], "");
    const platform::Variant& key = is_array ? key_values.Items()[i] : key_values;
    auto constant = std::make_unique<TVEZExprNodeConst>(true, false);
    const std::uint16_t kind = key.VarType() & platform::varTypeMask;
    const bool number = kind == platform::varSmallint || kind == platform::varInteger ||
                        kind == platform::varShortInt || kind == platform::varByte ||
                        kind == platform::varWord || kind == platform::varLongWord ||
                        kind == platform::varInt64 || kind == platform::varUInt64 ||
                        kind == platform::varSingle || kind == platform::varDouble;
    if (IsDateTimeBaseFieldType(field->FBaseFieldType) && number)
      constant->Value.SetAsVariant(platform::Variant::FromDate(key.ToDouble()));
    else
      constant->Value.SetAsVariant(key);
    comparisons.push_back(std::make_unique<TVEZExprNodeComparison>(
        doEQ, std::move(field), std::move(constant), false, case_insensitive, partial_key));
  }
  if (is_array) {
    auto and_node = std::make_unique<TVEZExprNodeBoolean>(doAND, true, false, "");
    for (TNode& c : comparisons)
      and_node->AddChild(std::move(c));
    SetRoot(std::move(and_node));
  } else {
    SetRoot(std::move(comparisons[0]));
  }
  if (cursor != nullptr) Root()->AdjustConstTypes();
}

void TVEZExpression::ParseForIsAnyRecordMatchCondition(TVEZCursor* cursor,
                                                       const std::string& field_name,
                                                       TVEZDataOperator data_operator,
                                                       const TVEZVariant& value) {
  SetRoot(nullptr);
  LCursor = cursor;
  F3ValueLogic = false;
  auto field = std::make_unique<TVEZExprNodeField>(cursor, field_name, "");
  auto constant = std::make_unique<TVEZExprNodeConst>(true, false);
  constant->Value.Assign(value, true);
  SetRoot(std::make_unique<TVEZExprNodeComparison>(data_operator, std::move(field),
                                                   std::move(constant), false, false, false));
  if (cursor != nullptr) Root()->AdjustConstTypes();
}

// ---------------------------------------------------------------------------
// Defaults

namespace {

bool HoldsVolatileFunction(const TVEZExprNode* node) {
  if (node == nullptr) return false;
  switch (node->Operator) {
    case doSYSDATE:
    case doCURRENT_DATE:
    case doCURRENT_TIME:
    case doRAND:
    case doLASTAUTOINC:
    case doROWNUM:
      return true;
    default:
      break;
  }
  for (const auto& child : node->Children)
    if (HoldsVolatileFunction(child.get())) return true;
  return false;
}

// The whole text is one quoted string (string defaults are stored quoted).
bool IsOneQuotedString(const std::string& text) {
  try {
    TVEZLexer lexer(text, nullptr, true);
    return lexer.NumCommands() == 1 && lexer.Commands[0].NumTokens() == 1 &&
           lexer.Commands[0].Tokens[0].TokenType == tktQuotedString;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

bool IsDefaultValueExpression(const TVEZVariant& value) {
  if (!IsStringBaseFieldType(value.GetDataType()) || value.GetIsNull()) return false;
  const std::string text = value.GetAsAnsiString();
  if (text.empty()) return false;
  TVEZExpression expression;
  if (!expression.ParseForDefaultValueExpression(text)) return false;
  if (expression.IsFieldsExpression()) return false;
  if (!HoldsVolatileFunction(expression.Root()) && !IsOneQuotedString(text)) return false;
  return expression.GetValue(true) != nullptr;
}

}  // namespace vez

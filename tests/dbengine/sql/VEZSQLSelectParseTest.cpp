// Query statements as parsed: SQL text in, the printed statement out
// (quantifier, TOP, items with pseudonyms and flags, FROM tree, WHERE and
// HAVING trees, GROUP BY, ORDER BY, the set-operation tree), where the
// lexer is left, every parse error, and that a failed parse frees what it
// built (the sanitizer build runs these too).
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "StatementPrinter.h"
#include "dbengine/api/VEZQuery.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZLexer.h"
#include "dbengine/foundation/VEZSQLParams.h"
#include "dbengine/sql/VEZExprNodeSubquery.h"
#include "dbengine/sql/VEZSQLSelect.h"

namespace vez {
namespace {

struct ParseRow {
  const char* sql;
  const char* printed;  // or "error N"
};

class SelectParseTest : public ::testing::Test {
 protected:
  // The printed query, " | rest '<token>'" when tokens are left after it, or
  // "error N".
  std::string Parse(const std::string& sql, TVEZSQLParams* params = nullptr) {
    TVEZLexer lexer(sql, params, false);
    if (!lexer.GetNextCommand()) return "no command";
    try {
      TVEZSQLUnion query(&lexer, &query_);
      std::string text = test::QueryText(query);
      TToken rest;
      if (lexer.GetCurrentToken(rest)) text += " | rest '" + rest.Text + "'";
      return text;
    } catch (const EVEZException& e) {
      last_message_ = e.what();
      return "error " + std::to_string(e.NativeError());
    }
  }
  void Check(const std::vector<ParseRow>& rows) {
    for (const ParseRow& row : rows) {
      SCOPED_TRACE(row.sql);
      EXPECT_EQ(Parse(row.sql), row.printed) << last_message_;
    }
  }

  TVEZQuery query_;
  std::string last_message_;
};

TEST_F(SelectParseTest, QuantifierTopAndItems) {
  Check({
      {"SELECT * FROM t", "{SELECT * FROM t}"},
      {"select * from t", "{SELECT * FROM t}"},
      {"SELECT ALL a FROM t", "{SELECT a FROM t}"},
      {"SELECT DISTINCT a, t.b FROM t", "{SELECT[distinct] a, t.b FROM t}"},
      {"SELECT TOP 5 * FROM t", "{SELECT top 5,-1 * FROM t}"},
      {"SELECT TOP 5, 10 * FROM t", "{SELECT top 5,10 * FROM t}"},
      {"SELECT DISTINCT TOP 0 a FROM t", "{SELECT[distinct] top 0,-1 a FROM t}"},
      {"SELECT t.*, a AS x, b y, c 'z', d [w] FROM t",
       "{SELECT t.*, a AS x, b AS y, c AS z, d AS w FROM t}"},
      {"SELECT a + 1 AS s, COUNT(*), SUM(DISTINCT b) FROM t",
       "{SELECT expr(+(a,1:Int32)) AS s, expr(COUNT(*)), expr(SUM[distinct](b)) FROM t}"},
      {"SELECT 'x', NULL FROM t", "{SELECT expr('x':Str), expr(NULL:Int32) FROM t}"},
      {"SELECT t.* FROM t, u", "{SELECT t.* FROM t, u}"},
  });
}

TEST_F(SelectParseTest, RepeatedColumnsGetFreeNames) {
  Check({
      {"SELECT a, a FROM t", "{SELECT a, expr(a)[dup] AS a_1 FROM t}"},
      {"SELECT a, a, a_1 FROM t", "{SELECT a, expr(a)[dup] AS a_1, a_1 FROM t}"},
      {"SELECT a, A, a FROM t", "{SELECT a, expr(A)[dup] AS A_1, expr(a)[dup] AS a_2 FROM t}"},
      // A qualified repeat must not take the name an earlier repeat took.
      {"SELECT t.a, t.a, t.a FROM t",
       "{SELECT t.a, expr(t.a)[dup] AS a_1, expr(t.a)[dup] AS a_2 FROM t}"},
      {"SELECT a_1, a, a FROM t", "{SELECT a_1, a, expr(a)[dup] AS a_2 FROM t}"},
      {"SELECT a, a AS b FROM t", "{SELECT a, expr(a)[dup] AS b FROM t}"},
      // Another table name, an expression, and t.* are not repeats.
      {"SELECT a, t.a FROM t", "{SELECT a, t.a FROM t}"},
      {"SELECT a + 0, a FROM t", "{SELECT expr(+(a,0:Int32)), a FROM t}"},
      {"SELECT t.*, t.* FROM t", "{SELECT t.*, t.* FROM t}"},
  });
}

TEST_F(SelectParseTest, IntoMovesUpToTheQuery) {
  Check({
      {"SELECT a INTO t2 FROM t", "INTO t2 {SELECT a FROM t}"},
      {"SELECT a INTO MEMORY t2 FROM t", "INTO mem t2 {SELECT a FROM t}"},
      {"SELECT a INTO MEMORY IMMEDIATE db.t2 FROM t", "INTO mem imm db.t2 {SELECT a FROM t}"},
      {"SELECT a INTO [my t] FROM t", "INTO my t {SELECT a FROM t}"},
      {"SELECT a INTO t2 FROM t1 UNION SELECT b FROM t3", "error 20272"},
      {"SELECT a FROM t1 UNION SELECT b INTO t2 FROM t3", "error 20272"},
      {"(SELECT a INTO t2 FROM t1)", "INTO t2 {SELECT a FROM t1}"},
  });
}

TEST_F(SelectParseTest, FromReferences) {
  Check({
      {"SELECT * FROM t AS x PASSWORD 'p'", "{SELECT * FROM t AS x PASSWORD p}"},
      {"SELECT * FROM MEMORY db.t x", "{SELECT * FROM mem db.t AS x}"},
      {"SELECT * FROM 'my db'.[my t]", "{SELECT * FROM my db.my t}"},
      {"SELECT * FROM t x, u AS y, v", "{SELECT * FROM t AS x, u AS y, v}"},
      // A quoted string is not a pseudonym without AS: the query ends there.
      {"SELECT * FROM t 'x'", "{SELECT * FROM t} | rest 'x'"},
      {"SELECT * FROM (t) AS x", "{SELECT * FROM t AS x}"},
      {"SELECT * FROM (SELECT a FROM t) AS s", "{SELECT * FROM SUB({SELECT a FROM t}) AS s}"},
      {"SELECT * FROM (SELECT a FROM t UNION SELECT b FROM u) s",
       "{SELECT * FROM SUB(UNION({SELECT a FROM t},{SELECT b FROM u})) AS s}"},
      {"SELECT * FROM SELECT a FROM t", "{SELECT * FROM SUB({SELECT a FROM t})}"},
  });
}

// A join keeps the names of the reference it grew from (printed after it).
TEST_F(SelectParseTest, JoinsGrowToTheLeft) {
  Check({
      {"SELECT * FROM a JOIN b ON a.x = b.y JOIN c ON b.y = c.z",
       "{SELECT * FROM ((a INNER b ON =[3v](a.x,b.y)) INNER c ON =[3v](b.y,c.z))}"},
      {"SELECT * FROM a NATURAL LEFT OUTER JOIN b", "{SELECT * FROM (a LEFT[nat] b)}"},
      {"SELECT * FROM a NATURAL JOIN b", "{SELECT * FROM (a INNER[nat] b)}"},
      {"SELECT * FROM a CROSS JOIN b", "{SELECT * FROM (a CROSS b)}"},
      {"SELECT * FROM a INNER JOIN b USING (x, y)", "{SELECT * FROM (a INNER b USING(x,y))}"},
      {"SELECT * FROM a RIGHT JOIN b ON a.x = b.x",
       "{SELECT * FROM (a RIGHT b ON =[3v](a.x,b.x))}"},
      {"SELECT * FROM a FULL OUTER JOIN b USING (x)", "{SELECT * FROM (a FULL b USING(x))}"},
      {"SELECT * FROM a x LEFT JOIN b y ON x.k = y.k, c",
       "{SELECT * FROM (a AS x LEFT b AS y ON =[3v](x.k,y.k)) AS x, c}"},
      {"SELECT * FROM (a JOIN b ON a.x = b.x) j JOIN c ON j.x = c.x",
       "{SELECT * FROM ((a INNER b ON =[3v](a.x,b.x)) AS j INNER c ON =[3v](j.x,c.x)) AS j}"},
      {"SELECT * FROM a JOIN (SELECT x FROM b) s ON a.x = s.x",
       "{SELECT * FROM (a INNER SUB({SELECT x FROM b}) AS s ON =[3v](a.x,s.x))}"},
  });
}

TEST_F(SelectParseTest, ClausesAndPseudonymsInConditions) {
  Check({
      {"SELECT a, COUNT(*) FROM t GROUP BY a, t.b HAVING COUNT(*) > 1 ORDER BY 2 DESC, t.a ASC",
       "{SELECT a, expr(COUNT(*)) FROM t GROUP a,t.b HAVING >[3v](COUNT(*),1:Int32) ORDER 2 "
       "DESC,t.a}"},
      {"SELECT a AS x FROM t WHERE x > 1", "{SELECT a AS x FROM t WHERE >[3v](a,1:Int32)}"},
      {"SELECT t.a AS x FROM t WHERE t.x > 1 AND u.x > 2",
       "{SELECT t.a AS x FROM t WHERE AND(>[3v](t.a,1:Int32),>[3v](u.x,2:Int32))}"},
      // One rename per reference: x names column a, not what a names.
      {"SELECT a AS x, b AS a FROM t WHERE x = 1",
       "{SELECT a AS x, b AS a FROM t WHERE =[3v](a,1:Int32)}"},
      // Expression items and a lone * replace nothing.
      {"SELECT a + 1 AS x FROM t WHERE x = 1",
       "{SELECT expr(+(a,1:Int32)) AS x FROM t WHERE =[3v](x,1:Int32)}"},
      {"SELECT * FROM t WHERE x = 1", "{SELECT * FROM t WHERE =[3v](x,1:Int32)}"},
      {"SELECT a AS x FROM t JOIN u ON x = u.a",
       "{SELECT a AS x FROM (t INNER u ON =[3v](a,u.a))}"},
      {"SELECT a AS x FROM t GROUP BY a HAVING x > 0",
       "{SELECT a AS x FROM t GROUP a HAVING >[3v](a,0:Int32)}"},
      {"SELECT a FROM t ORDER BY 'a', [b] DESC, t.c", "{SELECT a FROM t ORDER a,b DESC,t.c}"},
  });
}

TEST_F(SelectParseTest, SetOperations) {
  Check({
      {"SELECT a FROM t UNION SELECT b FROM u", "UNION({SELECT a FROM t},{SELECT b FROM u})"},
      {"SELECT a FROM t UNION ALL SELECT b FROM u",
       "UNION[all]({SELECT a FROM t},{SELECT b FROM u})"},
      {"SELECT a FROM t EXCEPT SELECT b FROM u", "EXCEPT({SELECT a FROM t},{SELECT b FROM u})"},
      {"SELECT a FROM t MINUS SELECT b FROM u", "EXCEPT({SELECT a FROM t},{SELECT b FROM u})"},
      {"SELECT a FROM t UNION SELECT b FROM u UNION SELECT c FROM v",
       "UNION(UNION({SELECT a FROM t},{SELECT b FROM u}),{SELECT c FROM v})"},
      {"SELECT a FROM t UNION SELECT b FROM u INTERSECT SELECT c FROM v",
       "UNION({SELECT a FROM t},INTERSECT({SELECT b FROM u},{SELECT c FROM v}))"},
      {"SELECT a FROM t INTERSECT ALL SELECT b FROM u EXCEPT SELECT c FROM v",
       "EXCEPT(INTERSECT[all]({SELECT a FROM t},{SELECT b FROM u}),{SELECT c FROM v})"},
      {"(SELECT a FROM t UNION SELECT b FROM u) INTERSECT SELECT c FROM v",
       "INTERSECT(UNION({SELECT a FROM t},{SELECT b FROM u}),{SELECT c FROM v})"},
      {"SELECT a FROM t UNION CORRESPONDING BY (a, b) SELECT a, b FROM u",
       "UNION[corr(a,b)]({SELECT a FROM t},{SELECT a, b FROM u})"},
      {"SELECT a FROM t UNION ALL CORRESPONDING SELECT a FROM u",
       "UNION[all,corr]({SELECT a FROM t},{SELECT a FROM u})"},
      // The last SELECT's ORDER BY sorts the whole result; one inside
      // parentheses on the left stays there.
      {"SELECT a FROM t UNION SELECT b FROM u ORDER BY 1",
       "UNION({SELECT a FROM t},{SELECT b FROM u}) ORDER 1"},
      {"(SELECT a FROM t ORDER BY a) UNION SELECT b FROM u",
       "UNION({SELECT a FROM t ORDER a},{SELECT b FROM u})"},
      {"(SELECT a FROM t UNION SELECT b FROM u) ORDER BY 1 DESC",
       "UNION({SELECT a FROM t},{SELECT b FROM u}) ORDER 1 DESC"},
      {"SELECT a FROM t ORDER BY a", "{SELECT a FROM t ORDER a}"},
      {"(SELECT a FROM t)", "{SELECT a FROM t}"},
      {"((SELECT a FROM t))", "{SELECT a FROM t}"},
  });
}

TEST_F(SelectParseTest, SubqueriesInExpressions) {
  // Token numbers: SELECT * FROM t WHERE is 0-4; a node keeps the number of
  // the token its query starts on (the SELECT, or a parenthesis of a
  // parenthesised query expression).
  Check({
      {"SELECT * FROM t WHERE x > ALL (SELECT a FROM u)",
       "{SELECT * FROM t WHERE >[3v,all](x,SUBQ[1f,nr]@9)}"},
      {"SELECT * FROM t WHERE x = ANY (SELECT a FROM u) AND y <> SOME (SELECT b FROM v)",
       "{SELECT * FROM t WHERE AND(=[3v,any](x,SUBQ[1f,nr]@9),<>[3v,any](y,SUBQ[1f,nr]@19))}"},
      {"SELECT * FROM t WHERE x IN (SELECT a FROM u) ORDER BY x",
       "{SELECT * FROM t WHERE IN(x,SUBQ[1f,nr]@8) ORDER x}"},
      {"SELECT * FROM t WHERE x NOT IN (SELECT a FROM u WHERE a IN (SELECT b FROM v))",
       "{SELECT * FROM t WHERE NOT IN(x,SUBQ[1f,nr]@9)}"},
      {"SELECT * FROM t WHERE EXISTS (SELECT * FROM u) AND y = 1",
       "{SELECT * FROM t WHERE AND(EXISTS(SUBQ[nf,nr]@7),=[3v](y,1:Int32))}"},
      {"SELECT * FROM t WHERE NOT EXISTS SELECT * FROM u",
       "{SELECT * FROM t WHERE NOT(EXISTS(SUBQ[nf,nr]@7))}"},
      {"SELECT * FROM t WHERE EXISTS ((SELECT * FROM u))",
       "{SELECT * FROM t WHERE EXISTS(SUBQ[nf,nr]@7)}"},
      {"SELECT * FROM t WHERE x = (SELECT MAX(a) FROM u)",
       "{SELECT * FROM t WHERE =[3v](x,SUBQ[1f,1r]@8)}"},
      {"SELECT * FROM t WHERE x = 1 + (SELECT a FROM u)",
       "{SELECT * FROM t WHERE =[3v](x,+(1:Int32,SUBQ[1f,nr]@10))}"},
      {"SELECT * FROM t WHERE (SELECT a FROM u) + 1 = x",
       "{SELECT * FROM t WHERE =[3v](+(SUBQ[1f,nr]@6,1:Int32),x)}"},
      {"SELECT * FROM t WHERE x IN ((SELECT a FROM u) UNION (SELECT b FROM v))",
       "{SELECT * FROM t WHERE IN(x,SUBQ[1f,nr]@8)}"},
      {"SELECT * FROM t WHERE x IN ((SELECT a FROM u), 5)",
       "{SELECT * FROM t WHERE IN(x,SUBQ[1f,nr]@9,5:Int32)}"},
      {"SELECT (SELECT MAX(a) FROM u) AS m, b FROM t",
       "{SELECT expr(SUBQ[1f,nr]@2) AS m, b FROM t}"},
  });
}

TEST_F(SelectParseTest, ParseErrors) {
  Check({
      {"SELECT TOP x * FROM t", "error 30158"},
      {"SELECT TOP 5, * FROM t", "error 30159"},
      {"SELECT TOP 99999999999 * FROM t", "error 30158"},
      {"SELECT TOP 5, 2.5 * FROM t", "error 30159"},
      {"SELECT *, a FROM t", "error 30184"},
      {"SELECT a, * FROM t", "error 30160"},
      {"SELECT a FROM", "error 30180"},
      {"SELECT a FROM ,", "error 30180"},
      {"SELECT a FROM t,", "error 30181"},
      {"SELECT a FROM t, ,", "error 30181"},
      {"SELECT a", "error 30184"},
      {"SELECT a t", "error 30184"},
      {"SELECT a, FROM t", "error 30160"},
      {"SELECT a AS FROM t", "error 30162"},
      {"SELECT a INTO , FROM t", "error 30165"},
      {"SELECT a INTO db., FROM t", "error 30166"},
      {"SELECT * FROM a LEFT b", "error 30171"},
      {"SELECT * FROM a CROSS b", "error 30168"},
      {"SELECT * FROM a NATURAL b", "error 30169"},
      {"SELECT * FROM a INNER b", "error 30170"},
      {"SELECT * FROM a RIGHT b", "error 30172"},
      {"SELECT * FROM a FULL b", "error 30173"},
      {"SELECT * FROM a LEFT OUTER b", "error 30174"},
      {"SELECT * FROM a LEFT WHERE x = 1", "error 30175"},
      {"SELECT * FROM a NATURAL CROSS JOIN b", "error 30175"},
      {"SELECT * FROM a JOIN", "error 30176"},
      {"SELECT * FROM a JOIN , b", "error 30176"},
      {"SELECT * FROM a JOIN b USING x", "error 30167"},
      {"SELECT * FROM t PASSWORD p", "error 30178"},
      {"SELECT * FROM (, t)", "error 30179"},
      {"SELECT * FROM t GROUP a", "error 30185"},
      {"SELECT * FROM t ORDER a", "error 30188"},
      {"SELECT * FROM t ORDER BY ,", "error 30187"},
      {"SELECT * FROM t ORDER BY a, ,", "error 30189"},
      {"SELECT * FROM t ORDER BY a.,", "error 30186"},
      {"SELECT * FROM t WHERE", "error 30118"},
      {"SELECT * FROM t WHERE ,", "error 30066"},
      {"SELECT a FROM t UNION b", "error 30194"},
      {"FROM t", "error 30194"},
      {"SELECT a FROM t UNION CORRESPONDING BY a SELECT a FROM u", "error 30193"},
      {"SELECT * FROM t WHERE EXISTS ((SELECT a FROM u) AND x = 1)", "error 30492"},
      {"SELECT * FROM t WHERE x IN (SELECT FROM u)", "error 30160"},
      {"SELECT * FROM t WHERE x IN (SELECT a FROM u WHERE a IN (SELECT b))", "error 30184"},
  });
}

TEST_F(SelectParseTest, ErrorMessagesNameTheTokenAndWhere) {
  EXPECT_EQ(Parse("SELECT TOP x * FROM t"), "error 30158");
  EXPECT_NE(last_message_.find("Integer expected, but 'x' found at line 1, column 12"),
            std::string::npos)
      << last_message_;
  EXPECT_EQ(Parse("SELECT *, a FROM t"), "error 30184");
  EXPECT_NE(last_message_.find("Token 'FROM' expected, but ',' found at line 1, column 9"),
            std::string::npos)
      << last_message_;
  EXPECT_EQ(Parse("SELECT * FROM a\n  LEFT b"), "error 30171");
  EXPECT_NE(last_message_.find("Unexpected token 'b' found at line 2, column 8"), std::string::npos)
      << last_message_;
  EXPECT_EQ(Parse("SELECT a FROM t UNION b"), "error 30194");
  EXPECT_NE(last_message_.find("Token 'SELECT' expected, but 'b' found at line 1, column 23"),
            std::string::npos)
      << last_message_;
}

TEST_F(SelectParseTest, ParametersStandForNamesAndCounts) {
  TVEZSQLParams params;
  auto add = [&params](const char* name) -> TVEZSQLParam& {
    TVEZSQLParam& p = params.AddCreated();
    p.Name = name;
    return p;
  };
  add("n").SetAsInteger(3);
  add("m").SetAsInteger(7);
  add("tab").SetAsAnsiString("\"other.vez\".runs");
  add("pw").SetAsAnsiString("secret");
  add("into").SetAsAnsiString("copy");
  EXPECT_EQ(Parse("SELECT TOP :n, :m * INTO :into FROM :tab PASSWORD :pw", &params),
            "INTO copy {SELECT top 3,7 * FROM other.vez.runs PASSWORD secret}");
}

// A TOP count from a parameter obeys the literal's range: a wider value would
// wrap to another count and a negative one would read as no TOP at all.
TEST_F(SelectParseTest, TopCountsFromParametersStayInRange) {
  TVEZSQLParams params;
  auto add = [&params](const char* name) -> TVEZSQLParam& {
    TVEZSQLParam& p = params.AddCreated();
    p.Name = name;
    return p;
  };
  add("zero").SetAsInteger(0);
  add("max").SetAsInt64(INT32_MAX);
  add("wide").SetAsInt64(5000000000LL);
  add("neg").SetAsInteger(-5);
  add("null");
  const ParseRow rows[] = {
      {"SELECT TOP :zero * FROM t", "{SELECT top 0,-1 * FROM t}"},
      {"SELECT TOP :max, :zero * FROM t", "{SELECT top 2147483647,0 * FROM t}"},
      {"SELECT TOP :wide * FROM t", "error 30158"},
      {"SELECT TOP :neg * FROM t", "error 30158"},
      {"SELECT TOP :null * FROM t", "error 30158"},
      {"SELECT TOP 1, :wide * FROM t", "error 30159"},
      {"SELECT TOP 1, :neg * FROM t", "error 30159"},
      {"SELECT TOP 1, :null * FROM t", "error 30159"},
  };
  for (const ParseRow& row : rows) {
    SCOPED_TRACE(row.sql);
    EXPECT_EQ(Parse(row.sql, &params), row.printed) << last_message_;
  }
}

// Every prefix of every statement above either parses or raises the
// engine's error: never another exception, and (under the sanitizer) never
// a leak or a stray read.
TEST_F(SelectParseTest, EveryPrefixParsesOrRaisesCleanly) {
  const std::vector<std::string> statements = {
      "SELECT DISTINCT TOP 5, 10 t.*, a AS x, a, b + 1 y INTO MEMORY db.t2 FROM MEMORY db.t AS q "
      "PASSWORD 'p' NATURAL LEFT OUTER JOIN u USING (k, j) JOIN (SELECT a FROM v) s ON s.a = q.a "
      "WHERE x > ALL (SELECT a FROM w) AND EXISTS ((SELECT * FROM w)) AND y IN (SELECT b FROM w) "
      "GROUP BY a, t.b HAVING COUNT(*) > (SELECT MAX(c) FROM w) ORDER BY 1 DESC, t.a",
      "(SELECT a FROM t ORDER BY a) UNION ALL CORRESPONDING BY (a) SELECT a FROM u INTERSECT "
      "SELECT a FROM v EXCEPT (SELECT a FROM w MINUS SELECT b FROM x) ORDER BY 1",
  };
  for (const std::string& sql : statements) {
    TVEZLexer whole(sql, nullptr, false);
    whole.GetNextCommand();
    std::vector<std::string> tokens;
    for (TToken t; whole.GetCurrentToken(t); whole.GetNextToken(t)) {
      if (t.TokenType == tktQuotedString)
        tokens.push_back("'" + t.Text + "'");
      else if (t.TokenType == tktBracketedString)
        tokens.push_back("[" + t.Text + "]");
      else
        tokens.push_back(t.Text);
    }
    std::mt19937 random(7);
    for (std::size_t n = 1; n <= tokens.size(); ++n) {
      // The prefix, and the prefix with one token dropped.
      for (int variant = 0; variant < 2; ++variant) {
        std::string text;
        const std::size_t drop = variant == 0 ? n : random() % n;
        int depth = 0;
        for (std::size_t i = 0; i < n; ++i) {
          if (i == drop) continue;
          if (tokens[i] == "(") ++depth;
          if (tokens[i] == ")") {
            if (depth == 0) continue;
            --depth;
          }
          text += tokens[i] + " ";
        }
        // The lexer refuses unbalanced parentheses itself.
        for (int i = 0; i < depth; ++i)
          text += ") ";
        SCOPED_TRACE(text);
        const std::string result = Parse(text);
        EXPECT_FALSE(result.empty());
      }
    }
  }
}

TEST_F(SelectParseTest, DeepNestingIsRefusedNotOverflowed) {
  std::string sql = "SELECT * FROM t WHERE x IN ";
  std::string tail;
  for (int i = 0; i < 200; ++i) {
    sql += "(SELECT a FROM u WHERE a IN ";
    tail += ")";
  }
  sql += "(1)" + tail;
  EXPECT_EQ(Parse(sql), "error 30507");
  std::string from = "SELECT * FROM ";
  for (int i = 0; i < 5000; ++i)
    from += "(";
  from += "t";
  for (int i = 0; i < 5000; ++i)
    from += ")";
  EXPECT_EQ(Parse(from), "error 30507");
  std::string query;
  for (int i = 0; i < 5000; ++i)
    query += "(";
  query += "SELECT a FROM t";
  for (int i = 0; i < 5000; ++i)
    query += ")";
  EXPECT_EQ(Parse(query), "error 30507");
  // Just inside the bounds: 30 nested subqueries, each condition inside 40
  // parentheses, parse (and the sanitizer build checks the stack holds).
  std::string deep = "SELECT * FROM t WHERE x IN ";
  std::string closing;
  for (int i = 0; i < 30; ++i) {
    deep += "(SELECT a FROM u WHERE " + std::string(40, '(') + "a IN ";
    closing += std::string(40, ')') + ")";
  }
  deep += "(1)" + closing;
  EXPECT_EQ(Parse(deep), "{SELECT * FROM t WHERE IN(x,SUBQ[1f,nr]@8)}");
}

// Random set-operation texts against a model of the grammar: INTERSECT binds
// tighter than UNION / EXCEPT / MINUS, each level joins from the left, and
// parentheses group as written.
struct ModelNode {
  std::string printed;  // as the statement printer shows the subtree
  std::string sql;      // fully parenthesised text of the subtree
};

struct SetOperator {
  const char* sql;
  const char* printed;
  bool intersect;
};

const SetOperator kSetOperators[] = {
    {"UNION", "UNION", false},
    {"UNION ALL", "UNION[all]", false},
    {"EXCEPT", "EXCEPT", false},
    {"MINUS", "EXCEPT", false},
    {"EXCEPT ALL", "EXCEPT[all]", false},
    {"INTERSECT", "INTERSECT", true},
    {"INTERSECT ALL", "INTERSECT[all]", true},
};

std::string LeafSql(int i) {
  return "SELECT c" + std::to_string(i) + " FROM t" + std::to_string(i);
}

std::string Combine(const SetOperator& op, const std::string& left, const std::string& right) {
  return std::string(op.printed) + "(" + left + "," + right + ")";
}

TEST_F(SelectParseTest, RandomSetOperationSequencesFollowThePrecedenceModel) {
  std::mt19937 random(2026);
  for (int round = 0; round < 300; ++round) {
    const int leaves = 1 + static_cast<int>(random() % 7);
    std::vector<const SetOperator*> ops;
    std::string sql = LeafSql(0);
    for (int i = 1; i < leaves; ++i) {
      ops.push_back(&kSetOperators[random() % std::size(kSetOperators)]);
      sql += std::string(" ") + ops.back()->sql + " " + LeafSql(i);
    }
    // Model: INTERSECT runs fold into terms, then the terms fold.
    std::vector<std::string> terms = {"{" + LeafSql(0) + "}"};
    std::vector<const SetOperator*> term_ops;
    for (int i = 1; i < leaves; ++i) {
      const SetOperator& op = *ops[static_cast<std::size_t>(i - 1)];
      const std::string leaf = "{" + LeafSql(i) + "}";
      if (op.intersect) {
        terms.back() = Combine(op, terms.back(), leaf);
      } else {
        term_ops.push_back(&op);
        terms.push_back(leaf);
      }
    }
    std::string expected = terms[0];
    for (std::size_t i = 1; i < terms.size(); ++i)
      expected = Combine(*term_ops[i - 1], expected, terms[i]);
    SCOPED_TRACE(sql);
    EXPECT_EQ(Parse(sql), expected);
  }
}

TEST_F(SelectParseTest, RandomParenthesisedSetTreesKeepTheirShape) {
  std::mt19937 random(7);
  int next_leaf = 0;
  std::function<ModelNode(int)> make = [&](int depth) -> ModelNode {
    if (depth == 0 || random() % 3 == 0) {
      const int i = next_leaf++;
      return {"{" + LeafSql(i) + "}", random() % 2 ? "(" + LeafSql(i) + ")" : LeafSql(i)};
    }
    const ModelNode left = make(depth - 1);
    const ModelNode right = make(depth - 1);
    const SetOperator& op = kSetOperators[random() % std::size(kSetOperators)];
    return {Combine(op, left.printed, right.printed),
            "(" + left.sql + " " + op.sql + " " + right.sql + ")"};
  };
  for (int round = 0; round < 200; ++round) {
    next_leaf = 0;
    const ModelNode tree = make(4);
    SCOPED_TRACE(tree.sql);
    EXPECT_EQ(Parse(tree.sql), tree.printed);
  }
}

// Random join chains grow to the left whatever their kinds.
TEST_F(SelectParseTest, RandomJoinChainsGrowToTheLeft) {
  struct JoinForm {
    const char* sql;
    const char* printed;
    bool needs_condition;
  };
  const JoinForm forms[] = {
      {"JOIN", "INNER", true},
      {"INNER JOIN", "INNER", true},
      {"CROSS JOIN", "CROSS", false},
      {"LEFT JOIN", "LEFT", true},
      {"LEFT OUTER JOIN", "LEFT", true},
      {"RIGHT OUTER JOIN", "RIGHT", true},
      {"FULL JOIN", "FULL", true},
      {"NATURAL JOIN", "INNER[nat]", false},
      {"NATURAL FULL OUTER JOIN", "FULL[nat]", false},
  };
  std::mt19937 random(11);
  for (int round = 0; round < 200; ++round) {
    const int tables = 2 + static_cast<int>(random() % 5);
    std::string sql = "SELECT * FROM t0";
    std::string expected = "t0";
    for (int i = 1; i < tables; ++i) {
      const JoinForm& form = forms[random() % std::size(forms)];
      const std::string name = "t" + std::to_string(i);
      sql += std::string(" ") + form.sql + " " + name;
      expected = "(" + expected + " " + form.printed + " " + name;
      if (form.needs_condition) {
        if (random() % 2) {
          sql += " USING (k)";
          expected += " USING(k)";
        } else {
          sql += " ON t0.k = " + name + ".k";
          expected += " ON =[3v](t0.k," + name + ".k)";
        }
      }
      expected += ")";
    }
    SCOPED_TRACE(sql);
    EXPECT_EQ(Parse(sql), "{SELECT * FROM " + expected + "}");
  }
}

}  // namespace
}  // namespace vez

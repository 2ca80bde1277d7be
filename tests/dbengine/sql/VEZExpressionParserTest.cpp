// The expression parser: the trees that filter texts become (operators,
// flags, children), its errors and the parts not built yet, value
// expressions and column defaults, and the trees of Locate and the
// record-match test.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ExprTestSupport.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLParams.h"
#include "dbengine/sql/VEZExprNodeDateFunction.h"
#include "platform/core/Clock.h"
#include "platform/core/Variant.h"
#include "tests/common/NativeError.h"
#include "tests/common/VEZTestSQLEngine.h"

namespace vez {
namespace {

using test::NativeErrorOf;
using test::ShapeText;

struct ShapeRow {
  const char* text;
  const char* shape;
};

class ParserTest : public ::testing::Test {
 protected:
  test::TRecordVehicle rec_{{{"ID", aftAutoInc},
                             {"VesselID", aftInteger},
                             {"TrialID", aftInteger},
                             {"RunID", aftInteger},
                             {"MeasurementID", aftDouble},
                             {"A", aftInteger},
                             {"B", aftInteger},
                             {"C", aftInteger},
                             {"X", aftInteger},
                             {"Name", aftString, 20},
                             {"D", aftDate},
                             {"Flag", aftBoolean}}};

  // The filter's tree, or "error N".
  std::string Filter(const std::string& text, bool partial_key = false,
                     bool case_insensitive = false) {
    TVEZExpression e;
    try {
      e.ParseForFilter(&rec_.cursor, text, case_insensitive, partial_key);
    } catch (const EVEZException& x) {
      EXPECT_EQ(e.Root(), nullptr) << "a failed parse leaves no tree";
      return "error " + std::to_string(x.NativeError());
    }
    return ShapeText(e.Root());
  }
  void CheckShapes(const std::vector<ShapeRow>& rows) {
    for (const ShapeRow& row : rows) {
      SCOPED_TRACE(row.text);
      EXPECT_EQ(Filter(row.text), row.shape);
    }
  }
};

using FilterShapeTest = ParserTest;

TEST_F(FilterShapeTest, ConditionsAndConnectives) {
  CheckShapes({
      {"TrialID = 5", "=[3v](TrialID,5:Int32)"},
      {"trialID = 5", "=[3v](trialID,5:Int32)"},
      {"TrialID = 5 AND X = 1", "AND(=[3v](TrialID,5:Int32),=[3v](X,1:Int32))"},
      {"A = 1 OR B = 2 OR C = 3", "OR(OR(=[3v](A,1:Int32),=[3v](B,2:Int32)),=[3v](C,3:Int32))"},
      {"A = 1 AND (B = 2 AND C = 3)", "AND(=[3v](A,1:Int32),=[3v](B,2:Int32),=[3v](C,3:Int32))"},
      {"(A = 1 OR B = 2) AND C = 3", "AND(OR(=[3v](A,1:Int32),=[3v](B,2:Int32)),=[3v](C,3:Int32))"},
      {"NOT A = 1", "NOT(=[3v](A,1:Int32))"},
      {"NOT (A = 1 OR B <> 2)", "NOT(OR(=[3v](A,1:Int32),<>[3v](B,2:Int32)))"},
      {"A < 1 AND B > 2 AND C <= 3 AND X >= 4",
       "AND(<[3v](A,1:Int32),>[3v](B,2:Int32),<=[3v](C,3:Int32),>=[3v](X,4:Int32))"},
      {"(A) = 1", "=[3v](A,1:Int32)"},
      {"((A = 1))", "=[3v](A,1:Int32)"},
      {"TRUE", "True:Bool"},
      {"Flag", "Flag"},
      {"Flag AND A = 1", "AND(Flag,=[3v](A,1:Int32))"},
      {"Flag IS TRUE", "Flag"},
      {"Flag IS NOT FALSE", "Flag"},
      {"Flag IS FALSE", "NOT(Flag)"},
      {"Flag IS NOT TRUE", "NOT(Flag)"},
      {"(A = 1) IS UNKNOWN", "IS NULL(=[3v](A,1:Int32))"},
      {"X IS UNKNOWN", "IS NULL(X)"},
      {"X IS NOT UNKNOWN", "IS NOT NULL(X)"},
      {"X IS NULL", "IS NULL(X)"},
      {"X IS NOT NULL", "IS NOT NULL(X)"},
      {"T.Name = 'x'", "=(T.Name,'x':Str)"},
      {"[Name] = 'x'", "=(Name,'x':Str)"},
  });
}

TEST_F(FilterShapeTest, ValuesAndArithmetic) {
  CheckShapes({
      {"VesselID=-1", "=[3v](VesselID,-(1:Int32))"},
      {"X = -5", "=[3v](X,-(5:Int32))"},
      {"X = +5", "=[3v](X,5:Int32)"},
      {"X = 2147483646", "=[3v](X,2147483646:Int32)"},
      {"X = 2147483647", "=[3v](X,2147483647:Int64)"},
      {"X = 1.5", "=[3v](X,1.5:Dbl)"},
      {"X = 1.5e3", "=[3v](X,1500:Dbl)"},
      {"X = A - B + C", "=[3v](X,+(A,-(B),C))"},
      {"X = A * B / C", "=[3v](X,/(*(A,B),C))"},
      {"X = A - B * C", "=[3v](X,+(A,*(-(B),C)))"},
      {"X = (A + 1) * 2", "=[3v](X,*(+(A,1:Int32),2:Int32))"},
      {"X + 1 = A", "=[3v](+(X,1:Int32),A)"},
      {"X = NULL", "=(X,NULL:Int32)"},
      {"NULL = X", "=(NULL:Int32,X)"},
      {"Name = 'ab'", "=(Name,'ab':Str)"},
      {"Name = ''", "IS NULL(Name)"},
      {"Name <> ''", "IS NOT NULL(Name)"},
      {"'ab' = A + 1", "=('ab':Str,+(A,1:Int32))"},
      {"D = DATE '2016-09-20'", "=(D,20/09/2016:Date)"},
      {"D < NOW", "<[3v](D,SYSDATE)"},
      {"D < SYSDATE", "<[3v](D,SYSDATE)"},
      {"D < CURRENT_TIMESTAMP", "<[3v](D,SYSDATE)"},
      {"D = CURRENT_DATE", "=[3v](D,CURRENT_DATE)"},
      {"D > CURRENT_TIME", ">[3v](D,CURRENT_TIME)"},
  });
}

TEST_F(FilterShapeTest, Predicates) {
  CheckShapes({
      {"X IN (1, 2, 3)", "IN(X,1:Int32,2:Int32,3:Int32)"},
      {"X IN (1 2 3)", "IN(X,1:Int32,2:Int32,3:Int32)"},
      {"X NOT IN (1, -2)", "NOT IN(X,1:Int32,-(2:Int32))"},
      {"X BETWEEN 1 AND 5", "BETWEEN(X,1:Int32,5:Int32)"},
      {"X NOT BETWEEN A AND B + 1", "NOT BETWEEN(X,A,+(B,1:Int32))"},
      {"X BETWEEN 1 AND 5 AND A = 2", "AND(BETWEEN(X,1:Int32,5:Int32),=[3v](A,2:Int32))"},
      {"Name LIKE 'ab%'", "=[pk](Name,'ab':Str)"},
      {"Name NOT LIKE 'ab%'", "<>[pk](Name,'ab':Str)"},
      {"Name LIKE '%'", "LIKE(Name,'%':Str)"},
      {"Name LIKE 'a%b'", "LIKE(Name,'a%b':Str)"},
      {"Name LIKE 'a%b%'", "LIKE(Name,'a%b%':Str)"},
      {"Name LIKE 'a_c%'", "LIKE(Name,'a_c%':Str)"},
      {"Name LIKE 'ab%' ESCAPE '!'", "LIKE[esc=!](Name,'ab%':Str)"},
      {"Name NOT LIKE 'a!%%' ESCAPE '!'", "NOT LIKE[esc=!](Name,'a!%%':Str)"},
      {"Name LIKE 'ab' ESCAPE 'xy'", "error 20294"},
  });
  // The case flag reaches comparisons and LIKE.
  EXPECT_EQ(Filter("Name LIKE '%b'", false, true), "LIKE[ci](Name,'%b':Str)");
  EXPECT_EQ(Filter("Name = 'b'", false, true), "=[ci](Name,'b':Str)");
}

// With PartialKey a trailing '*' marks a prefix; without it the '*' is text.
TEST_F(FilterShapeTest, PartialKey) {
  EXPECT_EQ(Filter("Name = 'ab*'", true), "=[pk](Name,'ab':Str)");
  EXPECT_EQ(Filter("Name = 'ab*'", false), "=(Name,'ab*':Str)");
  EXPECT_EQ(Filter("Name = 'ab'", true), "=(Name,'ab':Str)");
  EXPECT_EQ(Filter("X = 5", true), "=[3v](X,5:Int32)");
}

TEST_F(FilterShapeTest, Errors) {
  CheckShapes({
      {"", "error 30119"},
      {"   ", "error 30119"},
      {"TrialID = 5 junk", "error 20260"},
      {"A = 1 B = 2", "error 20260"},
      {"X = 1 '+' 2", "error 20260"},   // a quoted '+' is text, not an operator
      {"TrialID = 5)", "error 30060"},  // the lexer's
      {"TrialID = 5; X = 1", "error 20260"},
      {"Nope = 1", "error 30115"},
      {"A = 1 OR", "error 30070"},
      {"A = 1 AND", "error 30069"},
      {"= 5", "error 30066"},
      {"X IS MAYBE", "error 30067"},
      {"(A = 1) IS NULL", "error 30067"},
      {"D = DATE 5", "error 20283"},
      {"D = DATE '2016-13-45'", "error 20284"},
      {"D = TIME 5", "error 20285"},
      {"D = TIME '25:61:00'", "error 20286"},
      {"D = TIMESTAMP 5", "error 20287"},
      {"D = TIMESTAMP '2016-09-20'", "error 20288"},
      // A number the typed value cannot hold is a conversion error, not a
      // condition that ends before it.
      {"X = 99999999999999999999", "error 30051"},
      {"X = 1e999", "error 30051"},
      // Functions, concatenation and date-time arithmetic (the mode of ROUND
      // is the rounding word's ordinal).
      {"'a' + 'b' = Name", "=[3v](||('a':Str,'b':Str),Name)"},
      {"1 + '2' = Name", "=[3v](||(1:Int32,'2':Str),Name)"},
      {"UPPER(Name) = 'A'", "=(UPPER(Name),'A':Str)"},
      {"ABS(X) = 1", "=[3v](ABS(X),1:Int32)"},
      {"D = NOW + 1", "=[3v](D,+(SYSDATE,+(1:Int32)))"},
      {"D = NOW - 1", "=[3v](D,+(SYSDATE,-(1:Int32)))"},
      {"X = CAST(A AS INTEGER)", "=[3v](X,CAST(A))"},
      {"X = CASE A WHEN 1 THEN 2 ELSE 3 END", "=[3v](X,CASE(A,1:Int32,2:Int32,3:Int32))"},
      {"X = ROUND(A, 1, HALFUP)", "=[3v](X,ROUND(A,1:Int32,287:Int32))"},
      // A filter sees one record at a time: an aggregate there is refused.
      {"COUNT(*) = 0", "error 30058"},
      {"X > 1 AND SUM(X) > 1", "error 30058"},
      // A filter has no statement to run a subquery in: a clear error,
      // never a silent wrong tree.
      {"X = (SELECT 1)", "error 30058"},
      {"X IN (SELECT 1)", "error 30058"},
      {"EXISTS (SELECT 1)", "error 30058"},
      {"X = ALL (SELECT 1)", "error 30058"},
  });
  // The message names the token and where it is.
  TVEZExpression e;
  try {
    e.ParseForFilter(&rec_.cursor, "TrialID = 5 junk", false, false);
    ADD_FAILURE() << "no error";
  } catch (const EVEZException& x) {
    EXPECT_NE(std::string(x.what()).find("End of SQL command expected, but 'junk' found at line "
                                         "1, column 13"),
              std::string::npos)
        << x.what();
  }
  try {
    e.ParseForFilter(&rec_.cursor, "UPPER(Name) = 'A'", false, false);
  } catch (const EVEZException& x) {
    EXPECT_NE(std::string(x.what()).find("'UPPER' at line 1, column 1"), std::string::npos)
        << x.what();
  }
}

// Deep nesting is refused instead of taking exponential time.
TEST_F(FilterShapeTest, NestingIsBounded) {
  const std::string deep = std::string(40, '(') + "'a'" + std::string(40, ')') + " = Name";
  EXPECT_EQ(Filter(deep), "=('a':Str,Name)");
  auto nest = [](int n, const std::string& inner, const std::string& after) {
    std::string s = inner;
    for (int i = 0; i < n; ++i)
      s = "(" + s + ")" + after;
    return s;
  };
  // Each shape re-read once per alternative above it would take hours.
  EXPECT_EQ(Filter(nest(45, "A", "")), "A");
  EXPECT_EQ(Filter(nest(45, "A = 1", "")), "=[3v](A,1:Int32)");
  EXPECT_EQ(Filter(nest(45, "Flag", "") + " AND A = 1"), "AND(Flag,=[3v](A,1:Int32))");
  EXPECT_EQ(Filter(nest(40, "A", " + 1") + " = 2").substr(0, 11), "=[3v](+(+(+");
  EXPECT_EQ(Filter(nest(45, "NOT A = 1", "")), "NOT(=[3v](A,1:Int32))");
  EXPECT_EQ(Filter("X IN " + nest(45, "1", "")), "IN(X,1:Int32)");
  const std::string too_deep = std::string(60, '(') + "A" + std::string(60, ')') + " = 1";
  EXPECT_EQ(Filter(too_deep), "error 30507");
}

// Field references bind at once: names without regard to case, the column
// number fixed.
TEST_F(ParserTest, FieldsBindWhileParsing) {
  TVEZExpression e;
  e.ParseForFilter(&rec_.cursor, "trialID = 5", false, false);
  const auto* field = static_cast<const TVEZExprNodeField*>(e.Root()->Child(0));
  EXPECT_EQ(field->FFieldNo, rec_.No("TrialID"));
  EXPECT_EQ(field->LCursor, &rec_.cursor);
  rec_.SetInt("TrialID", 5);
  e.AssignCursorBuffer(rec_.buffer, false);
  EXPECT_TRUE(e.GetResult());
  rec_.SetNull("TrialID");
  EXPECT_FALSE(e.GetResult());
}

// A NULL string parameter turns = and <> into IS [NOT] NULL; the keyword NULL
// does not.
TEST_F(ParserTest, NullParameters) {
  struct Row {
    const char* text;
    TVEZBaseFieldType param_type;
    const char* shape;
  };
  const Row rows[] = {{"Name = :p", bftVarchar, "IS NULL(Name)"},
                      {"Name <> :p", bftWideVarchar, "IS NOT NULL(Name)"},
                      {":p = D", bftDate, "IS NULL(D)"},
                      {"X = :p", bftSignedInt32, "=(X,NULL:Int32)"},
                      {"X = :p", bftUnknown, "=(X,NULL:Int32)"},
                      {"X < :p", bftVarchar, "<(X,NULL:Str)"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    TVEZSQLParams params;
    TVEZSQLParam& p = params.AddCreated();
    p.Name = "p";
    p.Clear(row.param_type);
    TVEZLexer lexer(row.text, &params, false);
    lexer.GetNextCommand();
    TVEZExpression e;
    e.LCursor = &rec_.cursor;
    e.ParseForBooleanExpression(nullptr, &lexer);
    EXPECT_EQ(ShapeText(e.Root()), row.shape);
  }
  // Typed parameters become constants of their value.
  TVEZSQLParams params;
  TVEZSQLParam& p = params.AddCreated();
  p.Name = "p";
  p.SetAsInteger(7);
  TVEZLexer lexer("X = :p", &params, false);
  lexer.GetNextCommand();
  TVEZExpression e;
  e.ParseForBooleanExpression(nullptr, &lexer);
  EXPECT_EQ(ShapeText(e.Root()), "=[3v](X,7:Int32)");
}

// Statement entry points leave the lexer after what they read.
TEST_F(ParserTest, StatementEntryPointsLeaveTheRestToTheCaller) {
  TVEZLexer lexer("A = 1 ORDER BY A", nullptr, false);
  lexer.GetNextCommand();
  TVEZExpression e;
  e.ParseForBooleanExpression(nullptr, &lexer);
  EXPECT_EQ(ShapeText(e.Root()), "=[3v](A,1:Int32)");
  TToken token;
  ASSERT_TRUE(lexer.GetCurrentToken(token));
  EXPECT_EQ(token.Text, "ORDER");

  TVEZLexer values("1 + 2, 3", nullptr, false);
  values.GetNextCommand();
  TVEZExpression v;
  v.ParseForValueExpression(nullptr, &values);
  EXPECT_EQ(ShapeText(v.Root()), "+(1:Int32,2:Int32)");
  ASSERT_TRUE(values.GetCurrentToken(token));
  EXPECT_EQ(token.Text, ",");
  EXPECT_EQ(v.GetValue(true)->GetAsInteger(), 3);

  TVEZLexer none("* x", nullptr, false);
  none.GetNextCommand();
  TVEZExpression n;
  n.ParseForValueExpression(nullptr, &none);
  EXPECT_TRUE(n.IsEmpty());

  TVEZLexer empty("A", nullptr, false);
  empty.GetNextCommand();
  empty.GetNextToken(token);
  EXPECT_EQ(NativeErrorOf([&] { n.ParseForValueExpression(nullptr, &empty); }), 30136);
  EXPECT_EQ(NativeErrorOf([&] { n.ParseForBooleanExpression(nullptr, &empty); }), 30118);
}

// Aggregates in a statement's condition: COUNT(*) has no child; DISTINCT is
// a flag of the node; the lexer is left after the condition.
TEST_F(ParserTest, AggregatesInStatementConditions) {
  const std::vector<ShapeRow> rows = {
      {"COUNT(*) = 1", "=[3v](COUNT(*),1:Int32)"},
      {"COUNT( * ) > X", ">[3v](COUNT(*),X)"},
      {"COUNT(X) = 1", "=[3v](COUNT(X),1:Int32)"},
      {"COUNT(DISTINCT X) = 1", "=[3v](COUNT[distinct](X),1:Int32)"},
      {"SUM(A + B) > 2", ">[3v](SUM(+(A,B)),2:Int32)"},
      {"AVG(DISTINCT A) = 1", "=[3v](AVG[distinct](A),1:Int32)"},
      {"MIN(Name) = 'a'", "=(MIN(Name),'a':Str)"},
      {"MAX(X) - MIN(X) = 0", "=[3v](+(MAX(X),-(MIN(X))),0:Int32)"},
      {"SUM((X)) = 1", "=[3v](SUM(X),1:Int32)"},
      {"COUNT X", "error 30074"},
      {"COUNT(* X) = 1", "error 30073"},
      {"SUM() = 1", "error 30102"},
      {"SUM(DISTINCT) = 1", "error 30102"},
      {"MAX(X, 1) = 1", "error 30075"},
      {"COUNT(X Y) = 1", "error 30075"},
  };
  for (const ShapeRow& row : rows) {
    SCOPED_TRACE(row.text);
    TVEZLexer lexer(std::string(row.text) + " ORDER BY A", nullptr, false);
    lexer.GetNextCommand();
    TVEZExpression e;
    std::string got;
    try {
      e.ParseForBooleanExpression(nullptr, &lexer);
      got = ShapeText(e.Root());
      TToken token;
      EXPECT_TRUE(lexer.GetCurrentToken(token) && token.Text == "ORDER");
      EXPECT_TRUE(e.IsAggregated());
    } catch (const EVEZException& x) {
      got = "error " + std::to_string(x.NativeError());
    }
    EXPECT_EQ(got, row.shape);
  }
  // A column default is never an aggregate.
  TVEZVariant text(bftVarchar);
  text.SetAsAnsiString("COUNT(*)");
  EXPECT_FALSE(IsDefaultValueExpression(text));
}

// The current date and time come from the installed clock.
TEST_F(ParserTest, DateFunctionsReadTheClock) {
  platform::FakeClock clock;
  double noon = 0;
  ASSERT_TRUE(TryParseSQLTimestamp("2026-06-01 12:30:00", noon));
  clock.SetNow(noon);
  platform::ScopedClock scoped(clock);
  struct Row {
    const char* text;
    TVEZBaseFieldType type;
    double expected;
  };
  const Row rows[] = {{"NOW", bftDateTime, noon},
                      {"SYSDATE", bftDateTime, noon},
                      {"CURRENT_TIMESTAMP", bftDateTime, noon},
                      {"CURRENT_DATE", bftDate, 46174},
                      {"CURRENT_TIME", bftTime, 0.5208333333333334}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    TVEZExpression e;
    ASSERT_TRUE(e.ParseForDefaultValueExpression(row.text));
    const TVEZVariant* v = e.GetValue(true);
    EXPECT_EQ(v->GetDataType(), row.type);
    EXPECT_NEAR(row.type == bftTime ? v->GetAsTTime() : v->GetAsTDateTime(), row.expected, 1e-9);
  }
}

// ---------------------------------------------------------------------------
// Column defaults

TEST(DefaultValueTest, ParseForDefaultValueExpression) {
  struct Row {
    const char* text;
    bool expected;
  };
  const Row rows[] = {{"5", true},          {"NOW", true},  {"'abc'", true},  {"\"none\"", true},
                      {"2016-09-20", true}, {"5 x", false}, {"5 x y", false}, {"a; b", false},
                      {"", false},          {"((", false},  {")", false},     {"UPPER('a')", true},
                      {"NOW()", false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    TVEZExpression e;
    EXPECT_EQ(e.ParseForDefaultValueExpression(row.text), row.expected);
  }
}

TEST(DefaultValueTest, OnlyVolatileFunctionsAndQuotedStringsAreExpressions) {
  struct Row {
    const char* name;
    std::function<void(TVEZVariant&)> set;
    bool expected;
  };
  auto text = [](const char* t) { return [t](TVEZVariant& v) { v.SetAsAnsiString(t); }; };
  const Row rows[] = {
      {"NULL", [](TVEZVariant& v) { v.Clear(bftVarchar); }, false},
      {"''", text(""), false},
      {"5", text("5"), false},
      {"-1", text("-1"), false},
      {"1.5", text("1.5"), false},
      {"a column name", text("Name"), false},
      {"2016-09-20 (would compute 1987)", text("2016-09-20"), false},
      {"5 x", text("5 x"), false},
      {"a number value", [](TVEZVariant& v) { v.SetAsInteger(5); }, false},
      {"NOW", text("NOW"), true},
      {"now", text("now"), true},
      {"SYSDATE", text("SYSDATE"), true},
      {"CURRENT_DATE", text("CURRENT_DATE"), true},
      {"CURRENT_TIME", text("CURRENT_TIME"), true},
      {"\"none\"", text("\"none\""), true},
      {"'none'", text("'none'"), true},
      {"wide NOW", [](TVEZVariant& v) { v.SetAsWideString(u"NOW"); }, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TVEZVariant value;
    row.set(value);
    EXPECT_EQ(IsDefaultValueExpression(value), row.expected);
  }
}

// The storage engine's field definitions go through the registered engine.
TEST(DefaultValueTest, FieldDefinitionsKeepOnlyExpressionDefaults) {
  test::TScopedSQLEngine engine;
  struct Row {
    const char* text;
    bool expression;
  };
  const Row rows[] = {{"2016-09-20", false}, {"5", false}, {"NOW", true}, {"\"none\"", true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    TVEZFieldDef def;
    def.Name = "F";
    def.SetFieldDefDataType(aftString, 20);
    def.DefaultValue.SetAsAnsiString(row.text);
    def.RebuildDefaultValueExpression();
    EXPECT_EQ(def.DefaultValueExpr != nullptr, row.expression);
  }
  TVEZFieldDef def;
  def.DefaultValue.SetAsAnsiString("\"none\"");
  def.RebuildDefaultValueExpression();
  ASSERT_NE(def.DefaultValueExpr, nullptr);
  EXPECT_EQ(def.DefaultValueExpr->GetValue(true)->GetAsAnsiString(), "none");
}

// ---------------------------------------------------------------------------
// Locate and the record-match test

TEST_F(ParserTest, LocateTrees) {
  using platform::Variant;
  struct Row {
    const char* names;
    Variant keys;
    const char* shape;
  };
  const Row rows[] = {
      {"TrialID", Variant::FromInteger(5), "=(TRIALID,5:Int32)"},
      {"TrialID;Name", Variant::FromArray({Variant::FromInteger(5), Variant::FromString("x")}),
       "AND(=(TRIALID,5:Int32),=(NAME,'x':Str))"},
      {" name ; trialid ", Variant::FromArray({Variant::FromString("x"), Variant::FromInteger(5)}),
       "AND(=(NAME,'x':Str),=(TRIALID,5:Int32))"},
      {"TrialID", Variant::FromArray({Variant::FromInteger(5)}), "AND(=(TRIALID,5:Int32))"},
      // A number for a date column is read as a date-time.
      {"D", Variant::FromDouble(42633.0), "=(D,20/09/2016:DateTime)"},
      {"D", Variant::FromInteger(42633), "=(D,20/09/2016:DateTime)"},
      {"TrialID", Variant::Null(), "=(TRIALID,NULL:Untyped)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.names);
    TVEZExpression e;
    e.ParseForLocate(&rec_.cursor, row.names, row.keys, false, false);
    EXPECT_EQ(ShapeText(e.Root()), row.shape);
  }
  // Flags as given.
  TVEZExpression e;
  e.ParseForLocate(&rec_.cursor, "Name", Variant::FromString("ab"), true, true);
  EXPECT_EQ(ShapeText(e.Root()), "=[ci,pk](NAME,'ab':Str)");
  // The date key finds the stored date.
  e.ParseForLocate(&rec_.cursor, "D", Variant::FromInteger(42633), false, false);
  rec_.SetInt("D", TDateToVEZDate(42633));
  e.AssignCursorBuffer(rec_.buffer, false);
  EXPECT_TRUE(e.GetResult());
  // A NULL key finds a NULL column.
  e.ParseForLocate(&rec_.cursor, "TrialID", Variant::Null(), false, false);
  rec_.SetNull("TrialID");
  e.AssignCursorBuffer(rec_.buffer, false);
  EXPECT_TRUE(e.GetResult());
}

TEST_F(ParserTest, LocateCountsNamesAgainstValues) {
  using platform::Variant;
  TVEZExpression e;
  try {
    e.ParseForLocate(&rec_.cursor, "A;B", Variant::FromInteger(1), false, false);
    ADD_FAILURE() << "no error";
  } catch (const EVEZException& x) {
    EXPECT_EQ(x.NativeError(), 30112);
    EXPECT_NE(std::string(x.what()).find("(2) not equal counts of KeyValues (1)"),
              std::string::npos);
  }
  // The count of an array is its number of elements, read from index 0.
  const Variant three = Variant::FromArray(
      {Variant::FromInteger(1), Variant::FromInteger(2), Variant::FromInteger(3)});
  EXPECT_EQ(NativeErrorOf([&] { e.ParseForLocate(&rec_.cursor, "A;B", three, false, false); }),
            30112);
  e.ParseForLocate(&rec_.cursor, "A;B;C", three, false, false);
  EXPECT_EQ(ShapeText(e.Root()), "AND(=(A,1:Int32),=(B,2:Int32),=(C,3:Int32))");
  const Variant none = Variant::FromArray({});
  EXPECT_EQ(NativeErrorOf([&] { e.ParseForLocate(&rec_.cursor, "A", none, false, false); }), 30112);
  EXPECT_EQ(NativeErrorOf([&] {
              e.ParseForLocate(&rec_.cursor, "Nope", Variant::FromInteger(1), false, false);
            }),
            30115);
}

TEST_F(ParserTest, RecordMatchTree) {
  TVEZVariant value;
  value.SetAsInteger(5);
  TVEZExpression e;
  e.ParseForIsAnyRecordMatchCondition(&rec_.cursor, "TrialID", doGT, value);
  EXPECT_EQ(ShapeText(e.Root()), ">(TrialID,5:Int32)");
  value.SetAsInteger(6);  // the tree holds its own copy
  EXPECT_EQ(ShapeText(e.Root()), ">(TrialID,5:Int32)");
  rec_.SetInt("TrialID", 6);
  e.AssignCursorBuffer(rec_.buffer, false);
  EXPECT_TRUE(e.GetResult());
}

}  // namespace
}  // namespace vez

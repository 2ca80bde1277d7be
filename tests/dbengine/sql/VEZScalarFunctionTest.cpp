// The scalar functions evaluated from SQL text: goldens per group (numeric,
// string, CAST, CASE and COALESCE, dates, MIMETOBIN), their result types and
// sizes, the parser's error for every malformed call, and the domain errors
// that must raise instead of giving NaN, infinity or wrapped integers.
#include <gtest/gtest.h>

#include <charconv>
#include <string>
#include <vector>

#include "ExprTestSupport.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZBase64.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZLexer.h"
#include "dbengine/sql/VEZExprNodeBlob.h"
#include "dbengine/sql/VEZExprNodeCase.h"
#include "dbengine/sql/VEZExprNodeDateFunction.h"
#include "dbengine/sql/VEZExprNodeSystem.h"
#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"
#include "tests/dbengine/api/SessionTestSupport.h"

namespace vez {
namespace {

// The value of a value expression as text: NULL, a number, 'text', a date
// ("D:" days), "error N" for an engine error, "math: message" for a
// floating-point error.
std::string Show(const TVEZVariant* v) {
  if (v == nullptr || v->GetIsNull()) return "NULL";
  switch (v->GetDataType()) {
    case bftLogical:
      return v->GetAsBoolean() ? "True" : "False";
    case bftDouble: {
      char buf[64];
      auto r = std::to_chars(buf, buf + sizeof buf, v->GetAsDouble());
      return std::string(buf, r.ptr);
    }
    case bftDate:
    case bftDateTime:
      return "D:" + std::to_string(v->GetAsTDateTime());
    case bftTime:
      return "D:" + std::to_string(v->GetAsTTime());
    case bftBlob:
      return "blob:" + std::string(static_cast<const char*>(v->GetPData()),
                                   static_cast<std::size_t>(v->GetDataSize()));
    default:
      if (v->IsStringDataType()) return "'" + v->GetAsAnsiString() + "'";
      return std::to_string(v->GetAsInt64());
  }
}

struct TEvaluated {
  std::string value;
  TVEZAdvancedFieldType type = aftUnknown;
  std::int32_t size = 0;
};

TEvaluated Evaluate(const std::string& text) {
  TEvaluated out;
  TVEZExpression e;
  try {
    TVEZLexer lexer(text, nullptr, false);
    lexer.GetNextCommand();
    e.ParseForValueExpression(nullptr, &lexer);
    if (e.Root() == nullptr) return {"no expression"};
    out.value = Show(e.GetValue(true));
    out.type = e.Root()->GetDataType();
    out.size = e.Root()->GetDataSize();
  } catch (const EVEZException& x) {
    out.value = "error " + std::to_string(x.NativeError());
  } catch (const platform::EMathError& x) {
    out.value = std::string("math: ") + x.what();
  }
  return out;
}

std::string Eval(const std::string& text) {
  return Evaluate(text).value;
}

struct GoldenRow {
  const char* text;
  const char* value;
};

void CheckGoldens(const std::vector<GoldenRow>& rows) {
  for (const GoldenRow& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(Eval(row.text), row.value);
  }
}

TEST(ScalarFunctionTest, NumericFunctions) {
  CheckGoldens({
      {"ROUND(2.5)", "2"},
      {"ROUND(3.5)", "4"},
      {"ROUND(-2.5)", "-2"},
      {"ROUND(1234.5678, 2)", "1234.57"},
      {"ROUND(1234.5678, -2)", "1200"},
      {"ROUND(2.5, 0, HALFUP)", "3"},
      {"ROUND(-2.5, 0, HALFNEG)", "-3"},
      {"ROUND(2.675, 2, HALFDOWN)", "2.67"},
      {"ROUND(1.1, 0, RNDPOS)", "2"},
      {"ROUND(-1.1, 0, RNDDOWN)", "-1"},
      {"ABS(-3)", "3"},
      {"ABS(-2.5)", "2.5"},
      {"ABS(NULL)", "NULL"},
      {"SIGN(-0.5)", "-1"},
      {"SIGN(0)", "0"},
      {"SIGN(7)", "1"},
      {"CEIL(1.2)", "2"},
      {"FLOOR(-1.2)", "-2"},
      {"SQR(3)", "9"},
      {"SQR(1.5)", "2.25"},
      {"SQRT(16)", "4"},
      {"POWER(2, 10)", "1024"},
      {"POWER(-2, 3)", "-8"},
      {"EXP(0)", "1"},
      {"LOG(1)", "0"},
      {"COS(0)", "1"},
      {"SIN(0)", "0"},
      {"ATAN(0)", "0"},
      {"ACOS(1)", "0"},
      {"ASIN(0)", "0"},
      {"RAND(1)", "0"},
      {"SQRT(NULL)", "error 30016"},
      {"CEIL(NULL)", "error 30016"},
      {"ROUND(NULL)", "error 30016"},
      {"1 + ABS(-2) * 3", "7"},
  });
}

// Domain errors and integer results out of range raise instead of giving
// NaN, infinity or the low 32 bits of a larger number.
TEST(ScalarFunctionTest, DomainErrorsRaise) {
  const char* const texts[] = {"SQRT(-1)",
                               "LOG(0)",
                               "LOG(-1)",
                               "ACOS(1.5)",
                               "ASIN(-2)",
                               "EXP(1000)",
                               "POWER(-8, 0.5)",
                               "POWER(10, 400)",
                               "CEIL(3e9)",
                               "FLOOR(-3e9)",
                               "ROUND(3e9)",
                               "ROUND(1e300, 2)",
                               "SQR(1e200)",
                               "ROUND(2.5, 0, SELECT)",
                               "ROUND(2.5, 4294967298)"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    const std::string v = Eval(text);
    EXPECT_TRUE(v.rfind("math: ", 0) == 0 || v == "error 30505") << v;
  }
  EXPECT_EQ(Eval("CEIL(2147483646.5)"), "2147483647");
  EXPECT_EQ(Eval("FLOOR(-2147483648.5)"), "math: Invalid floating point operation");
}

TEST(ScalarFunctionTest, StringFunctions) {
  CheckGoldens({
      {"SUBSTRING('abcdef', 0, 3)", "'abc'"},
      {"SUBSTRING('abcdef', 5)", "'ef'"},
      {"SUBSTRING('abcdef' FROM 2 FOR 3)", "'bcd'"},
      {"SUBSTRING('abcdef', 2, -1)", "NULL"},
      // '' is the NULL string of the engine's values.
      {"SUBSTRING('abc', 7, 2)", "NULL"},
      {"SUBSTRING(NULL, 1)", "NULL"},
      {"POSITION('c' IN 'abcabc')", "3"},
      {"POS('x', 'abc')", "0"},
      {"POS('bc', 'abcabc')", "2"},
      {"LENGTH('abcd')", "4"},
      {"LENGTH(NULL)", "0"},
      {"LENGTH(12345)", "5"},
      {"UPPER('abc')", "'ABC'"},
      {"LOWER('ABC')", "'abc'"},
      {"UPPER(NULL)", "NULL"},
      {"TRIM(NULL)", "NULL"},
      {"TRIM('  a b  ')", "'a b'"},
      {"LTRIM('  a ')", "'a '"},
      {"RTRIM('  a ')", "'  a'"},
      {"'ab' || 'cd'", "'abcd'"},
      {"'ab' + 'cd' + 'ef'", "'abcdef'"},
      {"1 + '2'", "'12'"},
      {"'abc' || NULL", "'abc'"},
      // NULL is an operand of concatenation and of arithmetic: nothing after
      // it is left unread.
      {"'a' || 1 || NULL || 'b'", "'a1b'"},
      {"'a' + NULL + 'b'", "'ab'"},
      {"NULL || 'a'", "'a'"},
      {"1 + NULL", "NULL"},
      {"2 * NULL + 1", "NULL"},
      // Start and length beyond 32 bits are not cut to small numbers.
      {"SUBSTRING('abcdef', 1e12, 2)", "NULL"},
      {"SUBSTRING('abcdef', 4294967297, 2)", "NULL"},
      {"SUBSTRING('abcdef', 2, 4294967297)", "'bcdef'"},
      {"SUBSTRING('abcdef', -4294967295, 2)", "'ab'"},
      {"UPPER('a' || 'b')", "'AB'"},
  });
}

TEST(ScalarFunctionTest, CastCaseCoalesce) {
  CheckGoldens({
      {"CAST('abcdef' AS CHAR(3))", "'abc'"},
      {"CAST('abcdef' AS VARCHAR)", "'abcdef'"},
      {"CAST(12 AS VARCHAR)", "'12'"},
      {"CAST(2.9 AS INTEGER)", "2"},
      {"CAST(-2.9 AS INTEGER)", "-2"},
      {"CAST(NULL AS INTEGER)", "NULL"},
      {"CAST('42', INTEGER)", "42"},
      // A number outside an integer target's range is a conversion error,
      // never its low bits.
      {"CAST(3e9 AS INTEGER)", "error 30051"},
      {"CAST(3000000000 AS INTEGER)", "error 30051"},
      {"CAST(-2147483649 AS INTEGER)", "error 30051"},
      {"CAST(2147483647.9 AS INTEGER)", "2147483647"},
      {"CAST(-2147483648.9 AS INTEGER)", "-2147483648"},
      {"CAST(70000 AS SMALLINT)", "error 30051"},
      {"CAST(-32768 AS SMALLINT)", "-32768"},
      {"CAST(128 AS SHORTINT)", "error 30051"},
      {"CAST(-1 AS WORD)", "error 30051"},
      {"CAST(65535 AS WORD)", "65535"},
      {"CAST(256 AS BYTE)", "error 30051"},
      {"CAST(-0.5 AS BYTE)", "0"},
      {"CAST(4294967296 AS CARDINAL)", "error 30051"},
      {"CAST(4294967295 AS CARDINAL)", "4294967295"},
      {"CAST(1e300 AS LARGEINT)", "error 30051"},
      {"CASE 'A' WHEN 'a' THEN 1 ELSE 2 END", "1"},
      {"CASE 'B' WHEN 'a' THEN 1 ELSE 2 END", "2"},
      {"CASE 'B' WHEN 'a' THEN 1 END", "NULL"},
      {"CASE NULL WHEN NULL THEN 1 END", "1"},
      {"CASE WHEN 1 = 2 THEN 'x' WHEN 2 = 2 THEN 'y' ELSE 'z' END", "'y'"},
      {"CASE WHEN 1 = 2 THEN 'x' END", "NULL"},
      // An unknown condition is not true: its branch is skipped.
      {"CASE WHEN NULL = 1 THEN 'x' ELSE 'z' END", "'z'"},
      {"CASE WHEN NULL THEN 'x' WHEN TRUE THEN 'y' END", "'y'"},
      {"COALESCE(NULL, NULL, 3)", "3"},
      {"COALESCE(NULL)", "NULL"},
      {"COALESCE(1, 2)", "1"},
      {"COALESCE(NULL 'a' 'b')", "'a'"},
  });
}

TEST(ScalarFunctionTest, TypesAndSizes) {
  struct Row {
    const char* text;
    TVEZAdvancedFieldType type;
    std::int32_t size;
  };
  const Row rows[] = {
      {"CAST(12 AS VARCHAR)", aftString, 11},
      {"CAST(12.5 AS VARCHAR)", aftString, 26},
      {"CAST('abcdef' AS CHAR(3))", aftChar, 3},
      {"CAST(1 AS INTEGER)", aftInteger, 0},
      {"ROUND(2.5)", aftInteger, 0},
      {"ROUND(2.5, 1)", aftDouble, 0},
      {"CEIL(2.5)", aftInteger, 0},
      {"SQRT(4)", aftDouble, 0},
      {"ABS(-2)", aftInteger, 0},
      {"LENGTH('ab')", aftInteger, 0},
      {"POS('a', 'b')", aftInteger, 0},
      {"EXTRACT(YEAR FROM DATE '2024-01-15')", aftWord, 0},
      {"TOSTRING(DATE '2024-01-15', 'DD-MON-YYYY')", aftString, 11},
      {"TODATE('10:30', 'HH24:NN')", aftTime, 0},
      {"TODATE('2024-01-15', 'YYYY-MM-DD')", aftDate, 0},
      {"MIMETOBIN('QUJD')", aftBlob, 0},
      {"ROWNUM", aftInteger, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    const TEvaluated e = Evaluate(row.text);
    EXPECT_EQ(e.type, row.type) << e.value;
    EXPECT_EQ(e.size, row.size) << e.value;
  }
}

// CONCAT, CASE and COALESCE size their result after wrapping children of
// another type in a CAST to the result type.
TEST(ScalarFunctionTest, SizingWrapsChildrenInCasts) {
  TVEZExpression e;
  TVEZLexer lexer("COALESCE(NULL, 'abc', 12)", nullptr, false);
  lexer.GetNextCommand();
  e.ParseForValueExpression(nullptr, &lexer);
  auto* node = static_cast<TVEZExprNodeCase*>(e.Root());
  ASSERT_EQ(node->Kind(), TVEZExprNodeKind::Case);
  EXPECT_EQ(node->GetDataType(), aftString);
  EXPECT_EQ(node->GetDataSize(), 11);
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(node->Child(i), node->FCoalesceNodes[i]);
  }
  EXPECT_EQ(node->Child(1)->Kind(), TVEZExprNodeKind::Const);
  EXPECT_EQ(node->Child(2)->Kind(), TVEZExprNodeKind::Cast);
  EXPECT_EQ(Show(e.GetValue(true)), "'abc'");
}

TEST(ScalarFunctionTest, DateFunctions) {
  const double jan15 = platform::EncodeDate(2024, 1, 15);
  const double t0930 = platform::EncodeTime(9, 30, 0, 0);
  CheckGoldens({
      {"TOSTRING(TIMESTAMP '2024-01-15 13:05:09', 'HH12:NN AMPM')", "'01:05 PM'"},
      {"TOSTRING(DATE '2024-01-15', 'YYYY-RM-Q-DY')", "'2024-I-1-15'"},
      {"TOSTRING(NULL, 'YYYY')", "NULL"},
      {"EXTRACT(YEAR FROM DATE '2024-01-15')", "2024"},
      {"EXTRACT(MONTH FROM DATE '2024-01-15')", "1"},
      {"EXTRACT(DAY FROM DATE '2024-01-15')", "15"},
      {"EXTRACT(HOUR FROM TIMESTAMP '2024-01-15 13:05:09')", "13"},
      {"EXTRACT(MINUTE FROM TIMESTAMP '2024-01-15 13:05:09')", "5"},
      {"EXTRACT(SECOND FROM TIMESTAMP '2024-01-15 13:05:09')", "9"},
      {"EXTRACT(YEAR FROM NULL)", "NULL"},
      {"TODATE(NULL, 'YYYY')", "NULL"},
      {"TODATE('10:30 XM', 'HH:NN AMPM')", "error 30129"},
      // A number plus a date moves the date, as the date plus the number does.
      {"TOSTRING(1 + DATE '2024-01-15', 'YYYY-MM-DD')", "'2024-01-16'"},
      {"TOSTRING(2 * 3 + DATE '2024-01-15' - 1, 'YYYY-MM-DD')", "'2024-01-20'"},
      {"TOSTRING(0.5 + TIMESTAMP '2024-01-15 06:00:00', 'YYYY-MM-DD HH24:NN')",
       "'2024-01-15 18:00'"},
      // A time of day has no date: it is read on day 0, not refused.
      {"TOSTRING(TIME '06:30:15', 'HH24:NN:SS')", "'06:30:15'"},
      {"TOSTRING(TODATE('10:30 PM', 'HH:NN AMPM'), 'HH24:NN')", "'22:30'"},
      {"EXTRACT(HOUR FROM TIME '06:30:15')", "6"},
      {"EXTRACT(SECOND FROM TIME '06:30:15')", "15"},
      {"EXTRACT(YEAR FROM TIME '06:30:15')", "1899"},
      {"EXTRACT(MINUTE FROM (TIMESTAMP '2024-01-15 06:00:00' - 0.25))", "0"},
      {"EXTRACT(HOUR FROM (TIMESTAMP '2024-01-15 06:00:00' - 0.5))", "18"},
      {"EXTRACT(DAY FROM (TIMESTAMP '2024-01-15 06:00:00' - 0.5))", "14"},
  });
  EXPECT_EQ(Eval("TODATE('2024-01-15', 'YYYY-MM-DD')"), "D:" + std::to_string(jan15));
  EXPECT_EQ(Eval("TODATE('09:30', 'HH24:NN')"), "D:" + std::to_string(t0930));
  EXPECT_EQ(Eval("DATE '2024-01-15' + 1"), "D:" + std::to_string(jan15 + 1));
  EXPECT_EQ(Eval("DATE '2024-01-15' - 1"), "D:" + std::to_string(jan15 - 1));
}

// EXTRACT(SECOND) gives whole seconds: the milliseconds are dropped.
TEST(ScalarFunctionTest, ExtractSecondDropsMilliseconds) {
  TVEZExpression e;
  auto date = std::make_unique<TVEZExprNodeConst>();
  date->Value.Clear(bftDateTime);
  date->Value.SetAsTDateTime(platform::EncodeDateTime(2024, 1, 15, 13, 5, 9, 999));
  e.SetRoot(std::make_unique<TVEZExprNodeDateFunction>(doEXTRACT, dtefSecond, std::move(date)));
  EXPECT_EQ(Show(e.GetValue(true)), "9");
}

TEST(ScalarFunctionTest, RowNumCountsEvaluations) {
  TVEZExprNodeSystem rownum(doROWNUM, "", "", "", "", false);
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ(rownum.GetDataValue()->GetAsInteger(), i);
}

// LASTAUTOINC reads the counter through a table of its own: it follows
// inserts made after the node was parsed, and names a missing column; a
// missing table gives the storage's own error.
class LastAutoincTest : public test::SessionLayerTest {};

TEST_F(LastAutoincTest, ReadsTheTablesCounterAsRowsAreAdded) {
  TVEZTable t;
  t.SetInMemory(true);
  t.SetTableName("Counters");
  t.AdvFieldDefs().Add("ID", aftAutoInc, 0, false);
  t.AdvFieldDefs().Add("Label", aftString, 8, false);
  t.CreateTable();
  t.Open();
  const auto add = [&](const std::string& label) {
    t.Append();
    t.FieldByName("Label").SetAsString(label);
    t.Post();
  };
  add("a");
  add("b");

  TVEZExpression e;
  TVEZLexer lexer("LASTAUTOINC(Counters MEMORY, ID)", nullptr, false);
  lexer.GetNextCommand();
  e.ParseForValueExpression(nullptr, &lexer);
  EXPECT_EQ(e.Root()->GetDataType(), aftAutoInc);
  EXPECT_EQ(e.GetValue(true)->GetAsInt64(), 2);
  add("c");
  EXPECT_EQ(e.GetValue(true)->GetAsInt64(), 3);

  EXPECT_EQ(Eval("LASTAUTOINC(Counters MEMORY, Missing)"), "error 30337");
  EXPECT_EQ(Eval("LASTAUTOINC(NoSuchTable MEMORY, ID)"), "error 10028");
}

TEST(ScalarFunctionTest, MimeToBin) {
  TVEZExpression e;
  TVEZLexer lexer("MIMETOBIN('QUJD')", nullptr, false);
  lexer.GetNextCommand();
  e.ParseForValueExpression(nullptr, &lexer);
  const TVEZVariant* v = e.GetValue(true);
  ASSERT_FALSE(v->GetIsNull());
  EXPECT_EQ(v->GetDataType(), bftBlob);
  ASSERT_EQ(v->GetDataSize(), 3);
  EXPECT_EQ(std::string(static_cast<const char*>(v->GetPData()), 3), "ABC");
  // A result column must hold bytes, not text.
  EXPECT_EQ(e.Root()->GetDataType(), aftBlob);
}

TEST(Base64Test, DecodeTable) {
  struct Row {
    const char* text;
    const char* bytes;
  };
  const Row rows[] = {{"QUJD", "ABC"},
                      {"QUJDREVG", "ABCDEF"},
                      {"QUJD\r\nREVG", "ABCDEF"},
                      {"QQ==", "A"},
                      {"QUI=", "AB"},
                      {"QQ", "A"},
                      {"QUI", "AB"},
                      {"", ""},
                      {" Q U J D ", "ABC"},
                      {"QUJD=REVG", "ABC"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(Base64Decode(row.text), row.bytes);
  }
  std::string all;
  for (int i = 0; i < 256; ++i)
    all.push_back(static_cast<char>(i));
  for (std::size_t n = 0; n <= all.size(); n += 37) {
    SCOPED_TRACE(n);
    const std::string part = all.substr(0, n);
    EXPECT_EQ(Base64Decode(Base64Encode(part)), part);
  }
  EXPECT_EQ(Base64Encode("ABCDEF"), "QUJDREVG");
}

// Each malformed call raises its own error, naming the token found.
TEST(ScalarFunctionTest, ParserErrors) {
  struct Row {
    const char* text;
    std::int32_t error;
    const char* token;  // the token the message names, or ""
  };
  const Row rows[] = {
      {"EXTRACT(WEEK FROM D)", 20279, "WEEK"},
      {"EXTRACT(5 FROM D)", 20278, "5"},
      {"EXTRACT(Foo FROM D)", 20279, "Foo"},
      {"EXTRACT YEAR", 20277, "YEAR"},
      {"EXTRACT(YEAR D)", 20280, "D"},
      {"EXTRACT(YEAR FROM )", 20281, ""},
      {"EXTRACT(YEAR FROM 1 2)", 20282, "2"},
      {"SUBSTRING('s' 1)", 30100, "1"},
      {"SUBSTRING 's'", 30098, "s"},
      {"SUBSTRING(, 1)", 30099, ""},
      {"SUBSTRING('s', )", 30101, ""},
      {"SUBSTRING('s', 1 2)", 30103, "2"},
      {"SUBSTRING('s', 1, 2 3)", 30104, "3"},
      {"UPPER 'a'", 30090, "a"},
      {"UPPER('a' 'b')", 30091, "b"},
      {"UPPER() x", 30092, "x"},
      {"LENGTH 'a'", 30083, "a"},
      {"LENGTH()", 30085, ""},
      {"LENGTH('a' 'b')", 30084, "b"},
      {"POS('a' 'b')", 30080, "b"},
      {"POS 'a'", 30078, "a"},
      {"POS(, 'a')", 30079, ""},
      {"POS('a', )", 30081, ""},
      {"POS('a', 'b' 'c')", 30082, "c"},
      {"TOSTRING 1", 30093, "1"},
      {"TOSTRING(, 'YYYY')", 30094, ""},
      {"TOSTRING(1 'YYYY')", 30095, "YYYY"},
      {"TOSTRING(1, 2)", 30096, "2"},
      {"TOSTRING(1, 'YYYY' 2)", 30097, "2"},
      {"TODATE 'a'", 30105, "a"},
      {"TODATE(, 'YYYY')", 30107, ""},
      {"TODATE('a' 'YYYY')", 30108, "YYYY"},
      {"TODATE('a', 2)", 30109, "2"},
      {"TODATE('a', 'YYYY' 2)", 30106, "2"},
      {"ABS 1", 20261, "1"},
      {"ABS()", 20262, ""},
      {"ABS(1 2)", 20263, "2"},
      {"POWER 1", 20264, "1"},
      {"POWER(, 1)", 20265, ""},
      {"POWER(1 2)", 20267, ""},
      {"POWER(1, )", 20268, ""},
      {"POWER(1, 2 3)", 20266, "3"},
      {"ROUND 1", 30502, "1"},
      {"ROUND()", 30503, ""},
      {"ROUND(1, )", 30504, ""},
      {"ROUND(1, 2, 3)", 30505, ""},
      {"ROUND(1, 2 3)", 30506, "3"},
      {"COALESCE 1", 20275, "1"},
      {"COALESCE()", 20276, ""},
      {"CASE WHEN THEN 1 END", 30474, "THEN"},
      {"CASE WHEN 1 = 1 1 END", 30475, "1"},
      {"CASE WHEN 1 = 1 THEN END", 30476, "END"},
      {"CASE WHEN 1 = 1 THEN 1 ELSE END", 30477, "END"},
      {"CASE WHEN 1 = 1 THEN 1", 30478, ""},
      {"CASE 1 THEN 1 END", 30468, "THEN"},
      {"CASE 1 WHEN THEN 1 END", 30469, "THEN"},
      {"CASE 1 WHEN 1 1 END", 30470, "1"},
      {"CASE 1 WHEN 1 THEN 1 ELSE END", 30471, "END"},
      {"CASE 1 WHEN 1 THEN 1", 30472, ""},
      {"CAST(1 AS FOO)", 30077, ""},
      {"CAST(1 AS CHAR(3 4))", 30465, "4"},
      {"CAST(1 AS INTEGER 4)", 30076, "4"},
      {"MIMETOBIN 'a'", 30479, "a"},
      {"MIMETOBIN(1)", 30480, "1"},
      {"MIMETOBIN('a' 1)", 30481, "1"},
      {"LASTAUTOINC(T ID)", 30334, "ID"},
      {"LASTAUTOINC T", 30086, "T"},
      {"DATE '2024-13-01'", 20284, "2024-13-01"},
      {"DATE 5", 20283, ""},
      {"TIME 5", 20285, ""},
      {"TIME '10:00'", 20286, "10:00"},
      {"TIMESTAMP 5", 20287, ""},
      {"TIMESTAMP '2024-01-01 25:00:00'", 20288, "2024-01-01 25:00:00"},
      {"LASTAUTOINC(T, ID x)", 30089, "x"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    TVEZExpression e;
    try {
      TVEZLexer lexer(row.text, nullptr, false);
      lexer.GetNextCommand();
      e.ParseForValueExpression(nullptr, &lexer);
      ADD_FAILURE() << "parsed";
    } catch (const EVEZException& x) {
      EXPECT_EQ(x.NativeError(), row.error) << x.what();
      if (*row.token != '\0') {
        EXPECT_NE(std::string(x.what()).find(std::string("'") + row.token + "'"), std::string::npos)
            << x.what();
      }
    }
  }
}

}  // namespace
}  // namespace vez

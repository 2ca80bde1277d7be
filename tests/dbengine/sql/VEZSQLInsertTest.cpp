// INSERT ... VALUES through the query component on a disk file: rows and
// their count, column lists in any order, expressions and parameters, every
// parse error (which writes nothing), the count and separator checks that
// keep a value from landing in a column the statement did not name, and the
// value-to-field conversion of each field type.
#include "dbengine/sql/VEZSQLInsert.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbengine/api/VEZSession.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/sql/VEZSQLDataChange.h"
#include "dbengine/storage/VEZCursor.h"
#include "platform/core/Clock.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/sql/OtherSessionTable.h"
#include "tests/dbengine/sql/StatementTestSupport.h"

namespace vez::test {
namespace {

using platform::Variant;

class InsertTest : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    Exec("CREATE TABLE t (a INTEGER, b VARCHAR(10), c INTEGER)");
  }

  // Runs sql and returns the query's RowsAffected.
  std::int64_t Count(const std::string& sql) {
    TVEZQuery query;
    query.SetDatabaseName("RVX_Database");
    query.SetSQL(sql);
    query.ExecSQL();
    return query.RowsAffected();
  }
};

TEST_F(InsertTest, ValuesRowsAndTheirCount) {
  EXPECT_EQ(Count("INSERT INTO t VALUES (1, 'a', 10), (2, 'b', 20)"), 2);
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"1|a|10", "2|b|20"}));
  EXPECT_EQ(Count("INSERT INTO t VALUES (3, 'c', 30)"), 1);
  EXPECT_EQ(Rows("t").size(), 3u);
}

TEST_F(InsertTest, ColumnListsExpressionsAndNulls) {
  struct Case {
    const char* sql;
    const char* row;
  };
  const std::vector<Case> cases = {
      {"INSERT INTO t (c, a) VALUES (5, 6)", "6|NULL|5"},
      {"INSERT INTO t (b) VALUES ('only')", "NULL|only|NULL"},
      {"INSERT INTO t VALUES (1 + 2 * 3, 'x', -4)", "7|x|-4"},
      {"INSERT INTO t VALUES (8)", "8|NULL|NULL"},
      {"INSERT INTO t VALUES (NULL, NULL, 9)", "NULL|NULL|9"},
      {"INSERT INTO t ([a], \"b\") VALUES (10, 'q')", "10|q|NULL"},
      {"INSERT INTO t VALUES (11, 'far too long a text', 1)", "11|far too lo|1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    Exec("TRUNCATE t");
    EXPECT_EQ(Count(c.sql), 1);
    EXPECT_EQ(Rows("t"), std::vector<std::string>{c.row});
  }
}

TEST_F(InsertTest, ParseErrorsWriteNothing) {
  struct Case {
    const char* sql;
    std::int32_t number;
    const char* in_message;
  };
  const std::vector<Case> cases = {
      {"INSERT t VALUES (1)", 30206, "Token 'INTO' expected, but 't' found at line 1, column 8"},
      {"INSERT", 30205, "Unexpected end"},
      {"INSERT INTO ,", 30207, "Table name expected, but ','"},
      {"INSERT INTO MEMORY ,", 30208, "Table name expected, but ','"},
      {"INSERT INTO t", 30209, "Unexpected end"},
      {"INSERT INTO db., VALUES (1)", 30493, "Table name expected, but ','"},
      {"INSERT INTO t PASSWORD x VALUES (1)", 30210, "Quoted password expected"},
      {"INSERT INTO t PASSWORD 'x'", 30211, "Unexpected end"},
      {"INSERT INTO t (5) VALUES (1)", 2156, "Field name expected, but '5'"},
      {"INSERT INTO t (a b) VALUES (1)", 30212, "')' or ',' symbol expected, but 'b'"},
      {"INSERT INTO t (a)", 30213, "Unexpected end"},
      {"INSERT INTO t (a) WHERE", 30213, "at line 1, column 19"},
      {"INSERT INTO t x", 30213, "at line 1, column 15"},
      {"INSERT INTO t VALUES 1", 30214, "'(' symbol expected, but '1'"},
      {"INSERT INTO t VALUES (1), 2", 30214, "'(' symbol expected, but '2'"},
      {"INSERT INTO t VALUES ()", 30357, "Error parsing parameter ')' at line 1, column 23"},
      {"INSERT INTO t VALUES (1, )", 30357, "Error parsing parameter ')'"},
      // A value that runs into the next one is refused: (1 2) must not
      // write 1 alone.
      {"INSERT INTO t VALUES (1 2)", 30212,
       "')' or ',' symbol expected, but '2' found at line 1, column 25"},
      {"INSERT INTO t VALUES (1, 'a' 'b')", 30212, "but 'b'"},
      // A second row without its comma would be lost.
      {"INSERT INTO t VALUES (1) (2)", 20260, "End of SQL command expected, but '('"},
      {"INSERT INTO t (a, b) VALUES (1)", 20259,
       "Number of field names does not equal the number of field values: 2 <> 1. Found at line "
       "1, column 29"},
      // Every row must match the list; the second row is not written by
      // position into a column the statement did not name.
      {"INSERT INTO t (a) VALUES (1), (2, 3)", 20259, "1 <> 2. Found at line 1, column 31"},
      {"INSERT INTO t (a, c) VALUES (1, 2), (3)", 20259, "2 <> 1"},
      // Without a list no row may have more values than the table columns.
      {"INSERT INTO t VALUES (1, 'a', 2), (1, 'a', 2, 3)", 20259,
       "3 <> 4. Found at line 1, column 35"},
      {"INSERT INTO t (SELECT * FROM t 'x')", 20256, "Missing symbol ')' at line 1, column 32"},
      {"INSERT INTO t (SELECT * FROM t) x", 20260, "End of SQL command expected, but 'x'"},
      {"INSERT INTO t SELECT * FROM t 'x'", 20260, "End of SQL command expected, but 'x'"},
      {"INSERT INTO t (a) SELECT * FROM t", 20259, "1 <> 3"},
      {"INSERT INTO t (a, b) (SELECT a FROM t)", 20259, "2 <> 1"},
      {"INSERT INTO t SELECT * FROM nosuch", 10303, "Table 'nosuch' not exists"},
  };
  Exec("INSERT INTO t VALUES (100, 'kept', 100)");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    const StatementError error = ErrorOf(c.sql);
    EXPECT_EQ(error.number, c.number) << error.message;
    EXPECT_NE(error.message.find(c.in_message), std::string::npos) << error.message;
    EXPECT_EQ(Rows("t"), std::vector<std::string>{"100|kept|100"});
  }
  // An unknown column is found before the first row is written.
  EXPECT_ANY_THROW(Exec("INSERT INTO t (a) VALUES (1); INSERT INTO t (a, nosuch) VALUES (1, 2)"));
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"100|kept|100", "1|NULL|NULL"}));
}

TEST_F(InsertTest, ParametersGiveValues) {
  TVEZQuery query;
  query.SetDatabaseName("RVX_Database");
  query.SetSQL("INSERT INTO t (a, b) VALUES (:a, :b), (:a + 1, 'n')");
  query.ParamByName("a").SetAsInteger(41);
  query.ParamByName("b").SetAsString("p");
  query.ExecSQL();
  EXPECT_EQ(query.RowsAffected(), 2);
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"41|p|NULL", "42|n|NULL"}));
}

TEST_F(InsertTest, AFailingRowKeepsTheRowsBeforeIt) {
  Exec("CREATE UNIQUE INDEX ua ON t (a)");
  EXPECT_ANY_THROW(Exec("INSERT INTO t (a) VALUES (1), (2), (1), (3)"));
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"1|NULL|NULL", "2|NULL|NULL"}));
  // A text that is no number is refused for an INTEGER column.
  EXPECT_EQ(ErrorOf("INSERT INTO t (a) VALUES (5), ('12x')").number, 30051);
  EXPECT_EQ(Rows("t").size(), 3u);
}

TEST_F(InsertTest, MemoryTableAndNamedDatabaseFile) {
  Exec("CREATE TABLE MEMORY insert_m (a INTEGER)");
  EXPECT_EQ(Count("INSERT INTO MEMORY insert_m VALUES (1), (2)"), 2);
  TVEZTable& m = NewTable("insert_m");
  m.SetInMemory(true);
  m.Open();
  EXPECT_EQ(m.RecordCount(), 2);
  m.Close();
  // Memory tables live as long as the process.
  Exec("DROP TABLE MEMORY insert_m");
  EXPECT_EQ(Count("INSERT INTO '" + file_ + "'.t VALUES (3, 'f', 3)"), 1);
  EXPECT_EQ(Rows("t"), std::vector<std::string>{"3|f|3"});
}

// Each field type takes its value in its own way.
TEST_F(InsertTest, ValuesConvertToEveryFieldType) {
  Exec(
      "CREATE TABLE ty (i SMALLINT, l LARGEINT, f FLOAT, bo BOOLEAN, d DATE, tm TIME, dt "
      "TIMESTAMP, me MEMO, bl BLOB, s VARCHAR(20))");
  Exec(
      "INSERT INTO ty VALUES (-7, 9000000000, 2.5, TRUE, CAST('2024-03-05' AS DATE), "
      "CAST('12:30:00' AS TIME), CAST('2024-03-05 12:30:00' AS TIMESTAMP), 'memo text', 'blob "
      "text', 'str')");
  TVEZTable& t = NewTable("ty");
  t.Open();
  ASSERT_EQ(t.RecordCount(), 1);
  EXPECT_EQ(t.FieldByName("i").AsInteger(), -7);
  EXPECT_EQ(t.FieldByName("l").AsLargeInt(), 9000000000LL);
  EXPECT_DOUBLE_EQ(t.FieldByName("f").AsFloat(), 2.5);
  EXPECT_TRUE(t.FieldByName("bo").AsBoolean());
  const double date = t.FieldByName("d").AsDateTime();
  EXPECT_DOUBLE_EQ(date, 45356.0);
  EXPECT_NEAR(t.FieldByName("tm").AsDateTime(), 12.5 / 24.0, 1e-9);
  EXPECT_NEAR(t.FieldByName("dt").AsDateTime(), 45356.0 + 12.5 / 24.0, 1e-9);
  EXPECT_EQ(t.FieldByName("me").AsString(), "memo text");
  EXPECT_EQ(t.FieldByName("bl").AsString(), "blob text");
  EXPECT_EQ(t.FieldByName("s").AsString(), "str");
  t.Close();
}

TEST_F(InsertTest, BinaryValuesGoIntoByteAndBlobFields) {
  Exec("CREATE TABLE bin (vb VARBYTES(8), by BYTES(3), bl BLOB)");
  Exec("INSERT INTO bin VALUES (MimeToBin('QUJD'), MimeToBin('AAH/'), MimeToBin('AAH/'))");
  TVEZTable& t = NewTable("bin");
  t.Open();
  ASSERT_EQ(t.RecordCount(), 1);
  EXPECT_EQ(t.FieldByName("vb").AsString(), "ABC");
  EXPECT_EQ(t.FieldByName("by").AsString(), std::string("\x00\x01\xff", 3));
  EXPECT_EQ(t.FieldByName("bl").AsString(), std::string("\x00\x01\xff", 3));
  t.Close();
}

TEST_F(InsertTest, VariantToFieldRawBytesNullAndMissing) {
  Exec("CREATE TABLE b (bl BLOB, a INTEGER)");
  TVEZTable& t = NewTable("b");
  t.Open();
  t.Append();
  TVEZVariant number;
  number.SetAsInteger(0x01020304);
  // A non-string value goes into a BLOB as its raw bytes.
  VariantToField(&number, t.FieldByName("bl"));
  VariantToField(&number, t.FieldByName("a"));
  t.Post();
  EXPECT_EQ(t.FieldByName("bl").AsString(), std::string("\x04\x03\x02\x01", 4));
  EXPECT_EQ(t.FieldByName("a").AsInteger(), 0x01020304);
  t.Edit();
  TVEZVariant null_value;
  VariantToField(&null_value, t.FieldByName("a"));
  EXPECT_TRUE(t.FieldByName("a").IsNull());
  EXPECT_EQ(NativeErrorOf([&] { VariantToField(nullptr, t.FieldByName("a")); }), 30359);
  t.Cancel();
  t.Close();
}

// No expression of the dialect evaluates to nothing (an unassigned parameter
// is NULL), so the write of a value that is missing is checked on its own.
TEST_F(InsertTest, AMissingValueNamesTheColumnAndItsType) {
  Exec("CREATE TABLE m (i INTEGER, s VARCHAR(10), d DATE)");
  TVEZTable& t = NewTable("m");
  t.Open();
  t.Append();
  struct Case {
    const char* column;
    const char* message;
  };
  for (const Case& c :
       {Case{"i", "FieldName='i', Type='INTEGER'"}, Case{"s", "FieldName='s', Type='STRING'"},
        Case{"d", "FieldName='d', Type='DATE'"}}) {
    SCOPED_TRACE(c.column);
    try {
      InsertedValueToField(nullptr, t.FieldByName(c.column));
      ADD_FAILURE() << "no error";
    } catch (const EVEZException& e) {
      EXPECT_EQ(e.NativeError(), 30356);
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  TVEZVariant seven;
  seven.SetAsInteger(7);
  InsertedValueToField(&seven, t.FieldByName("i"));
  t.Post();
  EXPECT_EQ(t.FieldByName("i").AsInteger(), 7);
  t.Close();

  TVEZQuery query;
  query.SetDatabaseName("RVX_Database");
  query.SetSQL("INSERT INTO t (a, b) VALUES (:a, 'p')");
  query.ExecSQL();
  EXPECT_EQ(query.RowsAffected(), 1);
  EXPECT_EQ(Rows("t"), std::vector<std::string>{"NULL|p|NULL"});
}

TEST_F(InsertTest, FromAQuery) {
  Exec("CREATE TABLE u (x INTEGER, y VARCHAR(10), z INTEGER)");
  Exec("INSERT INTO u VALUES (1, 'p', 5), (2, 'q', 6)");
  struct Step {
    const char* sql;
    std::int64_t count;
    std::vector<std::string> rows;
  };
  const std::vector<Step> steps = {
      {"INSERT INTO t SELECT * FROM u", 2, {"1|p|5", "2|q|6"}},
      {"INSERT INTO t (SELECT * FROM u WHERE x = 2)", 1, {"1|p|5", "2|q|6", "2|q|6"}},
      {"INSERT INTO t (c, a) SELECT x, z FROM u WHERE x = 1",
       1,
       {"1|p|5", "2|q|6", "2|q|6", "5|NULL|1"}},
      {"INSERT INTO t (a) (SELECT z FROM u)",
       2,
       {"1|p|5", "2|q|6", "2|q|6", "5|NULL|1", "5|NULL|NULL", "6|NULL|NULL"}},
      {"INSERT INTO t SELECT x FROM u WHERE x > 5",
       0,
       {"1|p|5", "2|q|6", "2|q|6", "5|NULL|1", "5|NULL|NULL", "6|NULL|NULL"}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.sql);
    EXPECT_EQ(Count(step.sql), step.count);
    EXPECT_EQ(Rows("t"), step.rows);
  }
  // From the target itself: the rows there when the query ran, once.
  Exec("DELETE FROM t");
  Exec("INSERT INTO t VALUES (1, 'a', 1), (2, 'b', 2)");
  EXPECT_EQ(Count("INSERT INTO t SELECT * FROM t"), 2);
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"1|a|1", "2|b|2", "1|a|1", "2|b|2"}));
}

TEST_F(InsertTest, AFailingRowUndoesTheWholeQueryInsert) {
  Exec("CREATE UNIQUE INDEX ua ON t (a)");
  Exec("INSERT INTO t VALUES (3, 'kept', 3)");
  Exec("CREATE TABLE u (x INTEGER, y VARCHAR(10), z INTEGER)");
  Exec("INSERT INTO u VALUES (1, 'p', 5), (2, 'q', 6), (3, 'dup', 7), (4, 'r', 8)");
  EXPECT_ANY_THROW(Exec("INSERT INTO t SELECT * FROM u"));
  EXPECT_EQ(Rows("t"), std::vector<std::string>{"3|kept|3"});
  // Inside a transaction the rows before the failing one stay until ROLLBACK.
  Exec("START TRANSACTION");
  EXPECT_ANY_THROW(Exec("INSERT INTO t SELECT * FROM u"));
  EXPECT_EQ(Rows("t").size(), 3u);
  Exec("ROLLBACK");
  EXPECT_EQ(Rows("t"), std::vector<std::string>{"3|kept|3"});
}

TEST_F(InsertTest, AnotherSessionsWriteLockStopsTheQueryInsert) {
  Exec("INSERT INTO t VALUES (3, 'kept', 3)");
  platform::FakeClock clock;
  platform::ScopedClock installed(clock);
  OtherSessionTable other(file_, "t");
  TVEZTable& holder = other.table;
  ASSERT_TRUE(holder.Handle()->LockTable(ltXIRW, 1, 0, true));
  const StatementError error = ErrorOf("INSERT INTO t SELECT * FROM t");
  EXPECT_EQ(error.number, 20224) << error.message;
  // The cursor waits between its 1125 tries.
  EXPECT_GE(clock.Sleeps().size(), 1124u);
  ASSERT_TRUE(holder.Handle()->UnlockTable(ltXIRW, false));
  holder.Close();
  EXPECT_EQ(Rows("t"), std::vector<std::string>{"3|kept|3"});
  EXPECT_EQ(Count("INSERT INTO t SELECT * FROM t"), 1);
}

TEST_F(InsertTest, AColumnReferenceInValuesHasNothingToReadFrom) {
  for (const char* sql : {"INSERT INTO t VALUES (1), (a)", "INSERT INTO t VALUES (t.a + 1)"}) {
    SCOPED_TRACE(sql);
    EXPECT_EQ(ErrorOf(sql).number, 30196);
  }
  // The first row of the first statement went in before the second failed.
  EXPECT_EQ(Rows("t"), std::vector<std::string>{"1|NULL|NULL"});
}

}  // namespace
}  // namespace vez::test

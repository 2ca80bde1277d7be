// The statement processor: which statement each head dispatches to, the
// errors of heads it refuses, scripts of several commands, table clauses
// and the query component's preparation, parameters and row count.
#include "dbengine/sql/VEZSQLProcessor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbengine/foundation/VEZSQLParams.h"
#include "dbengine/sql/VEZDDLStatements.h"
#include "platform/dataset/DataSource.h"
#include "tests/dbengine/sql/StatementTestSupport.h"

namespace vez::test {
namespace {

using platform::Variant;

struct DispatchCase {
  const char* sql;
  std::int32_t number;
  const char* in_message;  // a text the message must hold
};

class ProcessorTest : public StatementTest {
 protected:
  // Runs sql through a processor of a query on the test database.
  StatementError Run(const std::string& sql) {
    TVEZQuery query;
    query.SetDatabaseName("RVX_Database");
    TVEZLocalSQLProcessor processor(&query);
    processor.PrepareStatement(sql);
    try {
      processor.ExecuteQuery();
    } catch (const EVEZException& e) {
      return {e.NativeError(), e.what()};
    }
    return {};
  }
};

TEST_F(ProcessorTest, HeadsDispatchOrRaiseTheirError) {
  const std::vector<DispatchCase> cases = {
      {"", 30145, "Blank SQL command"},
      {"   \n  ", 30145, "Blank SQL command"},
      {"CREATE VIEW v", 30147, "'VIEW' found at line 1, column 8"},
      {"CREATE", 30148, "Unexpected end"},
      {"DROP x", 30149, "'x' found"},
      {"DROP", 30150, "Unexpected end"},
      {"ALTER INDEX i", 30151, "'INDEX' found"},
      {"ALTER", 30152, "Unexpected end"},
      {"GRANT x", 30153, "SQL token expected, but 'GRANT' found at line 1, column 1"},
      {"5", 30154, "'5' found"},
      {"Runs", 30154, "'Runs' found"},
      {"RENAME", 30353, "Unexpected end"},
      {"SELECT 1 FROM t", 10303, "Error on opening table \"t\""},
      {"(SELECT 1 FROM t)", 10303, "Error on opening table \"t\""},
      {"SELECT 1 FROM t 'x'", 20260, "End of SQL command expected, but 'x' found"},
      {"(SELECT a FROM t) UNION SELECT b FROM u x y", 20260, "but 'y' found"},
      {"SELECT a FROM t WHERE a IN (SELECT b FROM u) ORDER BY a", 10303,
       "Error on opening table \"t\""},
      {"SELECT * FROM", 30180, "Table name expected"},
      {"SELECT a INTO c FROM t UNION SELECT b FROM u", 20272, "UNION subselect cannot contain"},
      {"INSERT INTO t VALUES (1)", 30157, "INSERT statement"},
      {"UPDATE t SET a = 1", 30157, "UPDATE statement"},
      {"DELETE FROM t", 30157, "DELETE statement"},
      {"CREATE INDEX i ON t (a)", 30157, "CREATE INDEX statement"},
      {"CREATE UNIQUE INDEX i ON t (a)", 30157, "CREATE INDEX statement"},
      {"DROP INDEX t.i", 30157, "DROP INDEX statement"},
      {"START TRANSACTION", 30157, "START TRANSACTION statement"},
      {"COMMIT", 30157, "COMMIT statement"},
      {"ROLLBACK", 30157, "ROLLBACK statement"},
      {"create table lower_case (a integer)", 0, ""},
  };
  for (const DispatchCase& c : cases) {
    SCOPED_TRACE(c.sql);
    const StatementError error = Run(c.sql);
    EXPECT_EQ(error.number, c.number) << error.message;
    EXPECT_NE(error.message.find(c.in_message), std::string::npos) << error.message;
  }
}

TEST_F(ProcessorTest, RenameWithAndWithoutTableIsOneStatement) {
  Exec("CREATE TABLE t (a INTEGER)");
  EXPECT_EQ(Run("RENAME t TO u").number, 0);
  EXPECT_EQ(Tables(), std::vector<std::string>{"u"});
  EXPECT_EQ(Run("RENAME TABLE u TO v").number, 0);
  EXPECT_EQ(Tables(), std::vector<std::string>{"v"});
  EXPECT_EQ(Run("RENAME TABLE v u").number, 30355);
  EXPECT_EQ(Tables(), std::vector<std::string>{"v"});
}

TEST_F(ProcessorTest, AnErrorInACommandKeepsTheCommandsBeforeIt) {
  TVEZQuery query;
  query.SetDatabaseName("RVX_Database");
  query.SetSQL(
      "CREATE TABLE a (x INTEGER);\nCREATE TABLE b (y INTEGER);\nGRANT z;\nCREATE TABLE c (z "
      "INTEGER)");
  query.Prepare();
  EXPECT_EQ(NativeErrorOf([&] { query.ExecSQL(); }), 30153);
  EXPECT_TRUE(Exists("a"));
  EXPECT_TRUE(Exists("b"));
  EXPECT_FALSE(Exists("c"));
  // The statements that ran changed no row.
  EXPECT_EQ(query.RowsAffected(), 0);
  // The last command's statement is the one that stays.
  auto* processor = dynamic_cast<TVEZSQLProcessor*>(query.StmtHandle());
  ASSERT_NE(processor, nullptr);
  EXPECT_EQ(processor->CurrentStatement(), nullptr);
}

TEST_F(ProcessorTest, TableClauses) {
  // MEMORY: the table goes to the memory database.
  Exec("CREATE TABLE MEMORY m (a INTEGER)");
  TVEZTable& memory = NewTable("m", "MEMORY");
  EXPECT_TRUE(memory.Exists());
  EXPECT_FALSE(Exists("m"));

  // A database file before a dot, a pseudonym and a password.
  const std::string other = Path("Other.vez");
  CreateDatabaseFile(other);
  Exec("CREATE TABLE '" + other + "'.t AS x PASSWORD 'p' (a INTEGER)");
  EXPECT_FALSE(Exists("t"));
  auto other_db = MakeDatabase("OtherDb", other);
  EXPECT_TRUE(other_db->TableExists("t"));
  other_db->Close();

  // A parameter in place of the table name.
  {
    TVEZQuery query;
    query.SetDatabaseName("RVX_Database");
    query.SetSQL("CREATE TABLE :name (a INTEGER)");
    ASSERT_EQ(query.ParamCount(), 1);
    query.ParamByName("name").SetAsString("FromParam");
    query.ExecSQL();
  }
  EXPECT_TRUE(Exists("FromParam"));

  // A quoted string after the name is no pseudonym (AS makes it one).
  EXPECT_EQ(ErrorOf("DROP TABLE FromParam 'x'").number, 30246);
  EXPECT_TRUE(Exists("FromParam"));
  EXPECT_EQ(ErrorOf("DROP TABLE FromParam AS 'x'").number, 0);
  EXPECT_FALSE(Exists("FromParam"));
  // A plain word after the name is one.
  EXPECT_EQ(ErrorOf("TRUNCATE TABLE t2 x").number, 30491);

  EXPECT_EQ(ErrorOf("DROP TABLE ,").number, 30230);
  EXPECT_EQ(ErrorOf("DROP TABLE MEMORY ,").number, 30231);
  EXPECT_EQ(ErrorOf("DROP TABLE t PASSWORD p").number, 30238);
  EXPECT_EQ(ErrorOf("DROP TABLE t AS ,").number, 30177);
}

// ---------------------------------------------------------------------------
// The query component

TEST_F(ProcessorTest, RowsAffectedIsUnknownThenCountedAndKeptAfterUnprepare) {
  TVEZQuery query;
  query.SetDatabaseName("RVX_Database");
  query.SetSQL("CREATE TABLE t (a INTEGER)");
  EXPECT_EQ(query.RowsAffected(), -1);
  // Prepared but not yet run: still no count, also once unprepared.
  query.Prepare();
  EXPECT_EQ(query.RowsAffected(), -1);
  query.UnPrepare();
  EXPECT_EQ(query.RowsAffected(), -1);
  query.Prepare();
  EXPECT_EQ(query.RowsAffected(), -1);
  query.ExecSQL();
  EXPECT_EQ(query.RowsAffected(), 0);
  query.UnPrepare();
  EXPECT_FALSE(query.Prepared());
  EXPECT_EQ(query.RowsAffected(), 0);
}

TEST_F(ProcessorTest, ParametersAreFoundOutsideQuotesOnly) {
  TVEZQuery query;
  query.SetSQL("SELECT \":\", ':x' FROM t WHERE a = :p AND b = :q OR c = :p");
  EXPECT_EQ(query.ParamCount(), 2);
  EXPECT_EQ(query.Params().Items(0).Name, "p");
  EXPECT_EQ(query.Params().Items(1).Name, "q");
  EXPECT_NE(query.Text().find("\":\""), std::string::npos) << query.Text();
  // Values of same-named parameters survive a new text.
  query.ParamByName("q").SetAsInteger(7);
  query.SetSQL("SELECT * FROM t WHERE b = :q");
  EXPECT_EQ(query.ParamCount(), 1);
  EXPECT_EQ(query.ParamByName("q").AsInteger(), 7);
  // Without ParamCheck the parameters stay.
  query.SetParamCheck(false);
  query.SetSQL("SELECT * FROM t WHERE b = :q AND c = :r");
  EXPECT_EQ(query.ParamCount(), 1);
}

TEST_F(ProcessorTest, TheSameTextKeepsTheQueryPrepared) {
  TVEZQuery query;
  query.SetDatabaseName("RVX_Database");
  query.SetSQL("CREATE TABLE t (a INTEGER)");
  query.Prepare();
  query.SetSQL("CREATE TABLE t (a INTEGER)");
  EXPECT_TRUE(query.Prepared());
  query.SetSQL("CREATE TABLE u (a INTEGER)");
  EXPECT_FALSE(query.Prepared());
}

TEST_F(ProcessorTest, ExecSQLWithoutKeepConnectionLeavesTheDatabaseClosed) {
  Exec("CREATE TABLE Runs (ID AUTOINC, Name VARCHAR(30))");
  db_->SetKeepConnection(false);
  db_->Close();
  TVEZQuery query;
  query.SetDatabaseName("RVX_Database");
  query.SetSQL("ALTER TABLE Runs ADD (Comments VARCHAR(500))");
  query.ExecSQL();
  EXPECT_FALSE(db_->Connected());
  EXPECT_FALSE(query.Prepared());
  EXPECT_EQ(Columns("Runs"), (std::vector<std::string>{"ID", "Name", "Comments"}));
}

TEST_F(ProcessorTest, WideMemoParameterTakesTwoBytesACharacter) {
  Exec("CREATE TABLE abc (a INTEGER)");
  TVEZQuery query;
  query.SetDatabaseName("RVX_Database");
  query.SetSQL("DROP TABLE :t");
  query.ParamByName("t").SetAsMemo("abc");
  query.ParamByName("t").DataType = platform::TFieldType::ftWideMemo;
  query.Prepare();
  query.ExecSQL();
  TVEZSQLParams& params = query.StmtHandle()->SQLParams();
  ASSERT_EQ(params.Count(), 1);
  EXPECT_EQ(params.GetValue(0).GetDataType(), bftWideVarchar);
  // Three characters of two bytes, and the closing zero character.
  EXPECT_EQ(params.GetValue(0).StrLen(), 3);
  EXPECT_EQ(params.GetValue(0).GetDataSize(), 2 * (3 + 1));
  EXPECT_FALSE(Exists("abc"));
}

TEST_F(ProcessorTest, PreparingWithoutTextOrOpeningWithoutAResultRaises) {
  TVEZQuery query;
  query.SetDatabaseName("RVX_Database");
  EXPECT_EQ(NativeErrorOf([&] { query.ExecSQL(); }), 20034);
  query.SetSQL(";");
  EXPECT_EQ(NativeErrorOf([&] { query.Prepare(); }), 30142);
  EXPECT_FALSE(query.Prepared());
  query.SetSQL("SELECT * FROM t");
  EXPECT_EQ(NativeErrorOf([&] { query.Open(); }), 10303);
  EXPECT_FALSE(query.Active());
  query.SetSQL("CREATE TABLE t (a INTEGER)");
  EXPECT_EQ(NativeErrorOf([&] { query.Open(); }), 30139);
  EXPECT_FALSE(query.Active());
  EXPECT_TRUE(Exists("t"));
}

TEST_F(ProcessorTest, ParametersComeFromTheMasterUnlessBound) {
  Exec("CREATE TABLE Names (name VARCHAR(20))");
  Exec("CREATE TABLE Old (a INTEGER)");
  Exec("CREATE TABLE Kept (a INTEGER)");
  TVEZTable& master = NewTable("Names");
  master.Open();
  master.AppendRecord({Variant::FromString("Old")});
  platform::DataSource source;
  source.SetDataSet(&master);
  {
    TVEZQuery query;
    query.SetDatabaseName("RVX_Database");
    query.SetSQL("DROP TABLE :name");
    query.SetDataSource(&source);
    EXPECT_EQ(query.DataSource(), &source);
    query.ExecSQL();
    EXPECT_EQ(query.ParamByName("name").AsString(), "Old");
    EXPECT_FALSE(query.ParamByName("name").Bound);
  }
  EXPECT_FALSE(Exists("Old"));
  EXPECT_TRUE(Exists("Kept"));
  {
    // A bound parameter keeps its own value.
    TVEZQuery query;
    query.SetDatabaseName("RVX_Database");
    query.SetSQL("DROP TABLE :name");
    query.ParamByName("name").SetAsString("Kept");
    query.SetDataSource(&source);
    query.ExecSQL();
  }
  EXPECT_FALSE(Exists("Kept"));
  master.Close();
}

TEST_F(ProcessorTest, AQueryCannotFollowItself) {
  TVEZQuery query;
  platform::DataSource source;
  source.SetDataSet(&query);
  EXPECT_THROW(query.SetDataSource(&source), platform::EDatabaseError);
  EXPECT_EQ(query.DataSource(), nullptr);
}

// ---------------------------------------------------------------------------
// Column lists

// Exposes the shared list parsers on one command of a lexer.
class ListParser : public TVEZSQLCommand {
 public:
  explicit ListParser(TVEZLexer* lexer) : TVEZSQLCommand(lexer, nullptr) {
    LLex->GetNextCommand();
    GetCurrentToken();
  }
  void Parse() override {}
  void ExecSQL(TVEZQuery*, bool, bool, bool&, TVEZAO*, TVEZCursor*) override {}
  using TVEZSQLCommand::ParseFieldList;
  using TVEZSQLCommand::ParseFieldNameList;
  using TVEZSQLCommand::Token;
};

TEST(ColumnListTest, NameListsAndFieldLists) {
  struct Case {
    const char* text;
    bool references;  // ParseFieldList, else ParseFieldNameList
    std::int32_t number;
    const char* expected;  // the names joined by ';' (table.column for references)
  };
  const std::vector<Case> cases = {
      {"a, b, [c d], \"e\"", false, 0, "a;b;c d;e"},
      {"a b", false, 0, "a"},
      {"5, a", false, 10408, ""},
      {"a, 5", false, 10406, ""},
      {"a, t.b, [c d]", true, 0, ".a;t.b;.c d"},
      {"a + 1, b", true, 10409, ""},
      {"a, 5", true, 10410, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TVEZLexer lexer(c.text, nullptr, false);
    ListParser parser(&lexer);
    std::string joined;
    const std::int32_t number = NativeErrorOf([&] {
      if (c.references) {
        std::vector<TVEZFieldReference> fields;
        parser.ParseFieldList(fields);
        for (const TVEZFieldReference& f : fields)
          joined += (joined.empty() ? "" : ";") + f.TableName + "." + f.FieldName;
      } else {
        std::vector<std::string> names;
        parser.ParseFieldNameList(names);
        for (const std::string& n : names)
          joined += (joined.empty() ? "" : ";") + n;
      }
    });
    EXPECT_EQ(number, c.number);
    if (c.number == 0) {
      EXPECT_EQ(joined, c.expected);
    }
  }
}

}  // namespace
}  // namespace vez::test

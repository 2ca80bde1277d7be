// CREATE/DROP INDEX and START TRANSACTION/COMMIT/ROLLBACK run through the
// query component on a disk file: the index each statement leaves (columns,
// descending and case-insensitive columns, uniqueness), the two- and
// three-part DROP names, the parse errors (which change nothing), and the
// transaction statements against the database component, the flush of
// COMMIT FLUSH seen as a file sync.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dbengine/sql/VEZSQLIndexStatements.h"
#include "dbengine/sql/VEZSQLTransactionStatements.h"
#include "platform/os/File.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/sql/StatementTestSupport.h"

namespace vez::test {
namespace {

using platform::Variant;

// Counts the syncs of one file.
class SyncCountingFileSystem : public platform::FileSystemWrapper {
 public:
  SyncCountingFileSystem() : FileSystemWrapper(platform::DefaultFileSystem()) {}
  std::string path;
  int syncs = 0;

  std::unique_ptr<platform::File> CreateFile(const std::string& p,
                                             platform::FileShare share) override {
    return std::make_unique<File>(FileSystemWrapper::CreateFile(p, share), *this);
  }
  std::unique_ptr<platform::File> OpenFile(const std::string& p, platform::FileAccess access,
                                           platform::FileShare share) override {
    return std::make_unique<File>(FileSystemWrapper::OpenFile(p, access, share), *this);
  }

 private:
  class File : public platform::FileWrapper {
   public:
    File(std::unique_ptr<platform::File> target, SyncCountingFileSystem& fs)
        : FileWrapper(std::move(target)), fs_(fs) {}
    void Sync() override {
      if (Path() == fs_.path) ++fs_.syncs;
      FileWrapper::Sync();
    }

   private:
    SyncCountingFileSystem& fs_;
  };
};

class IndexTransactionTest : public StatementTest {
 protected:
  // Installed before SetUp opens the file, so every handle is counted.
  SyncCountingFileSystem fs_;
  platform::ScopedFileSystem scope_{fs_};

  void SetUp() override {
    StatementTest::SetUp();
    fs_.path = file_;
    Exec("CREATE TABLE t (a INTEGER, b VARCHAR(20), c INTEGER)");
    TVEZTable& t = NewTable("t");
    t.Open();
    for (int i = 1; i <= 5; ++i)
      t.AppendRecord({Variant::FromInteger(i), Variant::FromString(i % 2 ? "x" : "X"),
                      Variant::FromInteger(i)});
    t.Close();
  }

  const TVEZAdvIndexDef* Index(const std::string& table, const std::string& name) {
    TVEZTable& t = NewTable(table);
    t.FieldDefs().Update();
    t.IndexDefs().Update();
    return t.AdvIndexDefs().Find(name);
  }

  std::vector<std::string> IndexNames(const std::string& table) {
    TVEZTable& t = NewTable(table);
    t.FieldDefs().Update();
    t.IndexDefs().Update();
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < t.AdvIndexDefs().Count(); ++i)
      names.push_back(t.AdvIndexDefs().GetDef(i)->Name);
    return names;
  }
};

TEST_F(IndexTransactionTest, CreateIndexTakesColumnsAndTheirFlags) {
  Exec("CREATE UNIQUE INDEX ix ON t (a DESC, b NOCASE)");
  const TVEZAdvIndexDef* ix = Index("t", "ix");
  ASSERT_NE(ix, nullptr);
  EXPECT_EQ(ix->Fields, "a;b");
  EXPECT_EQ(ix->DescFields, "a");
  EXPECT_EQ(ix->CaseInsFields, "b");
  EXPECT_EQ(ix->Options & platform::ixUnique, platform::ixUnique);
  // Unique over (a, b): a second row with the same pair is refused.
  TVEZTable& t = NewTable("t");
  t.Open();
  t.Append();
  t.FieldByName("a").SetAsInteger(1);
  t.FieldByName("b").SetAsString("x");
  EXPECT_THROW(t.Post(), std::exception);
  t.Cancel();
  t.Close();

  Exec("CREATE INDEX i2 ON t (c ASC CASE, b)");
  const TVEZAdvIndexDef* i2 = Index("t", "i2");
  ASSERT_NE(i2, nullptr);
  EXPECT_EQ(i2->Fields, "c;b");
  EXPECT_EQ(i2->DescFields, "");
  EXPECT_EQ(i2->CaseInsFields, "");
  EXPECT_EQ(i2->Options & platform::ixUnique, 0);
}

TEST_F(IndexTransactionTest, CreateIndexParsesItsClauses) {
  struct Case {
    const char* sql;
    const char* fields;
    const char* desc;
    const char* nocase;
    bool unique;
    const char* password;
  };
  const std::vector<Case> cases = {
      {"CREATE INDEX i ON t (a)", "a", "", "", false, ""},
      {"CREATE INDEX [my index] ON t x (a ASC, b DESC, c)", "a;b;c", "b", "", false, ""},
      {"CREATE UNIQUE INDEX i ON t (a 5 DESC NOCASE)", "a", "a", "a", true, ""},
      {"CREATE INDEX i ON t (a, PASSWORD 'pw', b) trailing words", "a;b", "", "", false, "pw"},
      {"CREATE INDEX 'q' ON t (b NOCASE DESC CASE)", "b", "b", "", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    TVEZQuery query;
    TVEZLexer lexer(c.sql, nullptr, false);
    ASSERT_TRUE(lexer.GetNextCommand());
    TToken token;
    lexer.GetNextToken(token);
    TVEZDDLCreateIndex statement(&lexer, &query);
    EXPECT_EQ(statement.FieldsText(), c.fields);
    EXPECT_EQ(statement.DescFieldsText(), c.desc);
    EXPECT_EQ(statement.CaseInsFieldsText(), c.nocase);
    EXPECT_EQ(statement.Unique, c.unique);
    EXPECT_EQ(statement.Password, c.password);
    EXPECT_EQ(statement.TableName, "t");
  }
}

TEST_F(IndexTransactionTest, IndexStatementErrorsChangeNothing) {
  struct Case {
    const char* sql;
    std::int32_t number;
    const char* in_message;
  };
  const std::vector<Case> cases = {
      {"CREATE INDEX i ON t 5", 30273, "'(' symbol expected, but '5' found at line 1, column 21"},
      {"CREATE INDEX i ON t", 30273, "'(' symbol expected"},
      {"CREATE UNIQUE i ON t (a)", 30267, "'INDEX' keyword expected, but 'i'"},
      {"CREATE UNIQUE TABLE i ON t (a)", 30268, "'INDEX' keyword expected, but 'TABLE'"},
      {"CREATE INDEX , ON t (a)", 30269, "index name expected, but ','"},
      {"CREATE INDEX i t (a)", 30270, "'ON' keyword expected, but 't'"},
      {"CREATE INDEX i FROM t (a)", 30271, "'ON' keyword expected, but 'FROM'"},
      {"CREATE INDEX i ON t (5)", 30274, "Field name expected, but '5'"},
      {"CREATE INDEX i ON t (a, PASSWORD x)", 30275, "Quoted password expected"},
      {"CREATE INDEX i ON t (PASSWORD 'p' b)", 30276, "')' or ',' symbol expected, but 'b'"},
      {"DROP INDEX i", 30498, "Table name expected, but 'i' found at line 1, column 12"},
      {"DROP INDEX", 30278, "Unexpected end"},
      {"DROP INDEX db.t.", 30281, "Unexpected end"},
      {"DROP INDEX db.t.i PASSWORD x", 30282, "Quoted password expected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    const StatementError error = ErrorOf(c.sql);
    EXPECT_EQ(error.number, c.number) << error.message;
    EXPECT_NE(error.message.find(c.in_message), std::string::npos) << error.message;
  }
  EXPECT_TRUE(IndexNames("t").empty());
  EXPECT_EQ(Rows("t").size(), 5u);
  // A missing table or index is the table component's error.
  EXPECT_NE(ErrorOf("CREATE INDEX i ON nosuch (a)").number, 0);
  EXPECT_NE(ErrorOf("DROP INDEX t.nosuch").number, 0);
}

TEST_F(IndexTransactionTest, CreateIndexEndingInsideTheColumnList) {
  // The lexer balances parentheses, so only a command the engine builds
  // itself can end there.
  TVEZQuery query;
  TVEZLexer lexer("CREATE INDEX i ON t (a DESC)", nullptr, false);
  ASSERT_TRUE(lexer.GetNextCommand());
  lexer.Commands[0].Tokens.pop_back();
  TToken token;
  lexer.GetNextToken(token);
  EXPECT_EQ(NativeErrorOf([&] { TVEZDDLCreateIndex statement(&lexer, &query); }), 30277);
}

TEST_F(IndexTransactionTest, DropIndexByTwoAndThreePartNames) {
  Exec("CREATE INDEX i ON t (a)");
  Exec("CREATE INDEX j ON t (b)");
  EXPECT_EQ(IndexNames("t").size(), 2u);
  Exec("DROP INDEX t.i");
  EXPECT_EQ(IndexNames("t"), std::vector<std::string>{"j"});
  // The database file named before the table.
  Exec("DROP INDEX '" + file_ + "'.t.j");
  EXPECT_TRUE(IndexNames("t").empty());
  EXPECT_EQ(Rows("t").size(), 5u);
}

TEST_F(IndexTransactionTest, DropIndexInAnotherDatabaseFile) {
  const std::string other = Path("other.vez");
  {
    auto db = MakeDatabase("Other", other);
    db->CreateDatabase();
    TVEZTable& u = NewTable("u", "Other");
    u.FieldDefs().Add("a", platform::ftInteger);
    u.IndexDefs().Add("k", "a", 0);
    u.CreateTable();
    tables_.clear();
  }
  Exec("CREATE INDEX k ON t (a)");
  Exec("DROP INDEX '" + other + "'.u.k");
  // The index of the same name in the query's own file stays.
  EXPECT_EQ(IndexNames("t"), std::vector<std::string>{"k"});
}

TEST_F(IndexTransactionTest, TransactionStatementsParse) {
  struct Case {
    const char* sql;
    std::int32_t number;
    const char* in_message;
  };
  const std::vector<Case> cases = {
      {"START WORK", 30460, "Token 'TRANSACTION' expected, but 'WORK' found at line 1, column 7"},
      {"START", 30459, "Unexpected end"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    const StatementError error = ErrorOf(c.sql);
    EXPECT_EQ(error.number, c.number) << error.message;
    EXPECT_NE(error.message.find(c.in_message), std::string::npos) << error.message;
  }
  EXPECT_FALSE(db_->InTransaction());

  struct CommitCase {
    const char* sql;
    bool flush;
  };
  for (const CommitCase& c : std::vector<CommitCase>{{"COMMIT", false},
                                                     {"COMMIT FLUSH", true},
                                                     {"COMMIT WORK FLUSH", true},
                                                     {"COMMIT WORK", false},
                                                     {"COMMIT x y FLUSH z", true}}) {
    SCOPED_TRACE(c.sql);
    TVEZQuery query;
    TVEZLexer lexer(c.sql, nullptr, false);
    ASSERT_TRUE(lexer.GetNextCommand());
    TVEZSQLCommit statement(&lexer, &query);
    EXPECT_EQ(statement.FFlush, c.flush);
  }
}

TEST_F(IndexTransactionTest, RollbackUndoesAndCommitKeeps) {
  Exec("START TRANSACTION");
  EXPECT_TRUE(db_->InTransaction());
  // A second one is refused as the database component refuses it.
  EXPECT_THROW(Exec("START TRANSACTION"), std::exception);
  EXPECT_TRUE(db_->InTransaction());
  TVEZTable& t = NewTable("t");
  t.Open();
  t.AppendRecord({Variant::FromInteger(6), Variant::FromString("y"), Variant::FromInteger(6)});
  t.Close();
  EXPECT_EQ(Rows("t").size(), 6u);
  Exec("ROLLBACK and any words after it");
  EXPECT_FALSE(db_->InTransaction());
  EXPECT_EQ(Rows("t").size(), 5u);

  Exec("START TRANSACTION");
  t.Open();
  t.AppendRecord({Variant::FromInteger(7), Variant::FromString("z"), Variant::FromInteger(7)});
  t.Close();
  Exec("COMMIT");
  EXPECT_FALSE(db_->InTransaction());
  EXPECT_EQ(Rows("t").size(), 6u);
}

TEST_F(IndexTransactionTest, CommitOrRollbackOutsideATransactionRaisesAsTheDatabaseDoes) {
  const std::int32_t commit = NativeErrorOf([&] { db_->Commit(); });
  const std::int32_t rollback = NativeErrorOf([&] { db_->Rollback(); });
  EXPECT_EQ(commit, 20229);
  EXPECT_EQ(ErrorOf("COMMIT").number, commit);
  EXPECT_EQ(ErrorOf("ROLLBACK").number, rollback);
}

TEST_F(IndexTransactionTest, CommitFlushSyncsTheFile) {
  auto run = [&](const std::string& commit) {
    Exec("START TRANSACTION");
    TVEZTable& t = NewTable("t");
    t.Open();
    t.AppendRecord({Variant::FromInteger(9), Variant::FromString("f"), Variant::FromInteger(9)});
    t.Close();
    const int before = fs_.syncs;
    Exec(commit);
    return fs_.syncs - before;
  };
  EXPECT_EQ(run("COMMIT"), 0);
  EXPECT_GT(run("COMMIT FLUSH"), 0);
  EXPECT_GT(run("COMMIT WORK FLUSH"), 0);
}

TEST_F(IndexTransactionTest, IndexStatementsInsideATransactionRaiseTheTableError) {
  Exec("START TRANSACTION");
  EXPECT_EQ(ErrorOf("CREATE INDEX i ON t (a)").number, 20175);
  Exec("ROLLBACK");
  Exec("CREATE INDEX i ON t (a)");
  Exec("START TRANSACTION");
  EXPECT_EQ(ErrorOf("DROP INDEX t.i").number, 20177);
  Exec("ROLLBACK");
  EXPECT_EQ(IndexNames("t"), std::vector<std::string>{"i"});
}

}  // namespace
}  // namespace vez::test

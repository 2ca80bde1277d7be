// UPDATE and DELETE: their grammar through the query component (the SET
// list, the selection's tokens handed to the internal query, the rewrite of
// DELETE into a query) and their change of a selection: a filtered view of
// the target table stands in for the internal query's result. Rows changed
// once each even when the change moves them within the walk, the SET order,
// the retried passes of a failing UPDATE on the fake clock with nothing
// changed, another session's write lock, and ROLLBACK inside a transaction.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/api/VEZSession.h"
#include "dbengine/foundation/VEZSQLParams.h"
#include "dbengine/sql/VEZSQLDelete.h"
#include "dbengine/sql/VEZSQLUpdate.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZRecordBitmap.h"
#include "platform/core/Clock.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/sql/OtherSessionTable.h"
#include "tests/dbengine/sql/StatementTestSupport.h"

namespace vez::test {
namespace {

using platform::Variant;

// The texts of the current command's tokens, joined by spaces.
std::string TokenTexts(const TVEZLexer& lexer, std::int32_t command_no) {
  std::string text;
  for (const TToken& token : lexer.Commands.at(static_cast<std::size_t>(command_no)).Tokens) {
    if (!text.empty()) text += ' ';
    text += token.Text;
  }
  return text;
}

class UpdateDeleteTest : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    Exec("CREATE TABLE t (a INTEGER, b INTEGER, c VARCHAR(10))");
    Exec("INSERT INTO t VALUES (1, 10, 'x'), (2, -20, 'y'), (3, 30, 'z'), (4, 40, NULL)");
  }

  // A parsed statement of sql on its own lexer (the lexer outlives it).
  template <typename Statement>
  std::unique_ptr<Statement> Parsed(const std::string& sql) {
    lexer_ = std::make_unique<TVEZLexer>(sql, &params_, false);
    lexer_->GetNextCommand();
    return std::make_unique<Statement>(lexer_.get(), &query_);
  }

  // The rows of t the filter shows, opened live in index order when an
  // index is named.
  TVEZTable& Selection(const std::string& filter, const std::string& index = {}) {
    TVEZTable& s = NewTable("t");
    if (!index.empty()) s.SetIndexName(index);
    if (!filter.empty()) {
      s.SetFilterText(filter);
      s.SetFiltered(true);
    }
    s.Open();
    return s;
  }

  TVEZSQLParams params_;
  TVEZQuery query_;
  std::unique_ptr<TVEZLexer> lexer_;
};

// ---------------------------------------------------------------------------
// Grammar

TEST_F(UpdateDeleteTest, UpdateGrammar) {
  struct Case {
    const char* sql;
    std::int32_t number;
    const char* in_message;
  };
  const std::vector<Case> cases = {
      {"UPDATE t x SET x.a = 1", 30221, "Token '=' expected, but '.' found at line 1, column 17"},
      {"UPDATE t SET a = 1 b = 2", 30222, "Token ',' expected, but 'b' found at line 1, column 20"},
      {"UPDATE t SET a = 1,", 30223, "Unexpected end"},
      {"UPDATE t a = 1", 30220, "Token 'SET' expected, but '='"},
      {"UPDATE , SET a = 1", 30217, "Table name expected, but ','"},
      {"UPDATE t SET a 1", 30221, "Token '=' expected, but '1'"},
      {"UPDATE t SET a = , b = 1", 30357, "Error parsing parameter ','"},
      {"UPDATE t SET a = 1 WHERE", 30118, "Unexpected end"},
      // The SET list ends at WHERE or at the end only.
      {"UPDATE t SET a = 0 ORDER BY b", 30222, "Token ',' expected, but 'ORDER'"},
      {"UPDATE t SET a = 1 WHERE b > 0 'x'", 20260, "End of SQL command expected, but 'x'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    const StatementError error = ErrorOf(c.sql);
    EXPECT_EQ(error.number, c.number) << error.message;
    EXPECT_NE(error.message.find(c.in_message), std::string::npos) << error.message;
  }
  EXPECT_EQ(Rows("t").size(), 4u);
  EXPECT_EQ(Rows("t")[0], "1|10|x");
}

// The table name qualifies a column in any letter case, accented letters of
// the single-byte text included.
TEST_F(UpdateDeleteTest, AColumnQualifiedByTheTableNameInAnyCase) {
  Exec("CREATE TABLE [T\xEAte] (a INTEGER)");
  Exec("INSERT INTO [T\xEAte] VALUES (1)");
  Exec("UPDATE [T\xEAte] SET [T\xCATE].a = 5");
  EXPECT_EQ(Rows("T\xEAte"), std::vector<std::string>{"5"});
  Exec("UPDATE [T\xEAte] SET [t\xEAte].a = [T\xCATE].a + 1");
  EXPECT_EQ(Rows("T\xEAte"), std::vector<std::string>{"6"});
}

TEST_F(UpdateDeleteTest, UpdateHandsTheSelectionItsTokens) {
  struct Case {
    const char* sql;
    const char* selection;
    std::vector<std::string> columns;
  };
  const std::vector<Case> cases = {
      {"UPDATE t SET a = a + 1 WHERE b > 0 ORDER BY c",
       "SELECT * FROM t WHERE b > 0 ORDER BY c",
       {"a"}},
      {"UPDATE t SET t.a = 1, T.b = 2, c = 'q'", "SELECT * FROM t", {"a", "b", "c"}},
      {"UPDATE MEMORY 'db'.t x PASSWORD 'pw' SET b = 1",
       "SELECT * FROM MEMORY db . t x PASSWORD pw",
       {"b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    auto statement = Parsed<TVEZSQLUpdate>(c.sql);
    EXPECT_EQ(TokenTexts(statement->FSelectLexer, 0), c.selection);
    EXPECT_EQ(statement->FieldNames, c.columns);
    EXPECT_EQ(statement->FieldValues.size(), c.columns.size());
  }
  // The moved tokens keep their kinds and parameter values.
  TVEZSQLParam& lim = params_.AddCreated();
  lim.Name = "lim";
  lim.SetAsInteger(5);
  auto statement = Parsed<TVEZSQLUpdate>("UPDATE t SET a = 1 WHERE b > :lim");
  const auto& tokens = statement->FSelectLexer.Commands.at(0).Tokens;
  ASSERT_EQ(tokens.size(), 8u);
  EXPECT_EQ(tokens[0].ReservedWord, rwSELECT);
  EXPECT_EQ(tokens[1].TokenType, tktString);
  EXPECT_EQ(tokens[2].ReservedWord, rwFROM);
  EXPECT_EQ(tokens[3].TokenType, tktString);
  EXPECT_EQ(tokens[4].ReservedWord, rwWHERE);
  EXPECT_EQ(tokens[7].TokenType, tktParameter);
  ASSERT_NE(tokens[7].ParamValue, nullptr);
  EXPECT_EQ(tokens[7].ParamValue->GetAsInteger(), 5);
}

TEST_F(UpdateDeleteTest, DeleteGrammar) {
  EXPECT_EQ(ErrorOf("DELETE t").number, 30184);
  EXPECT_NE(ErrorOf("DELETE t").message.find("Token 'FROM' expected, but 't'"), std::string::npos);
  EXPECT_EQ(ErrorOf("DELETE FROM t WHERE").number, 30118);
  EXPECT_EQ(ErrorOf("DELETE FROM t WHERE a = 1 'x'").number, 20260);
  EXPECT_EQ(Rows("t").size(), 4u);
  auto statement = Parsed<TVEZSQLDelete>("DELETE FROM t WHERE a > 2 ORDER BY b");
  EXPECT_EQ(TokenTexts(*lexer_, 0), "SELECT * FROM t WHERE a > 2 ORDER BY b");
}

// ---------------------------------------------------------------------------
// Through the query component

TEST_F(UpdateDeleteTest, StatementsChangeAndCountRows) {
  struct Step {
    const char* sql;
    std::int64_t count;
    std::vector<std::string> rows;
  };
  const std::vector<Step> steps = {
      {"UPDATE t SET t.a = 1", 4, {"1|10|x", "1|-20|y", "1|30|z", "1|40|NULL"}},
      {"UPDATE t SET a = b / 10 WHERE b > 0", 3, {"1|10|x", "1|-20|y", "3|30|z", "4|40|NULL"}},
      {"UPDATE t SET c = 'n', b = b + a WHERE c IS NULL OR a = 3",
       2,
       {"1|10|x", "1|-20|y", "3|33|n", "4|44|n"}},
      {"UPDATE t SET a = 9 WHERE a > 100", 0, {"1|10|x", "1|-20|y", "3|33|n", "4|44|n"}},
      {"DELETE FROM t WHERE b < 0", 1, {"1|10|x", "3|33|n", "4|44|n"}},
      {"DELETE FROM t", 3, {}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.sql);
    TVEZQuery query;
    query.SetDatabaseName("RVX_Database");
    query.SetSQL(step.sql);
    query.ExecSQL();
    EXPECT_EQ(query.RowsAffected(), step.count);
    EXPECT_EQ(Rows("t"), step.rows);
  }
}

TEST_F(UpdateDeleteTest, SetColumnsFromARowSubquery) {
  Exec("CREATE TABLE u (x INTEGER, z VARCHAR(10))");
  Exec("INSERT INTO u VALUES (2, 'q'), (3, 'r')");
  TVEZQuery query;
  query.SetDatabaseName("RVX_Database");
  query.SetSQL("UPDATE t SET (a, t.c) = (SELECT x, z FROM u WHERE x = 3) WHERE b > 10");
  query.ExecSQL();
  EXPECT_EQ(query.RowsAffected(), 2);
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"1|10|x", "2|-20|y", "3|30|r", "3|40|r"}));
  // Correlated: each row reads its own match (none: NULL).
  Exec("UPDATE t SET (c) = (SELECT z FROM u WHERE u.x = t.a)");
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"1|10|NULL", "2|-20|q", "3|30|r", "3|40|r"}));
  Exec("UPDATE t SET (c) = (SELECT z FROM u WHERE x = 2)");
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"1|10|q", "2|-20|q", "3|30|q", "3|40|q"}));

  struct Case {
    const char* sql;
    std::int32_t number;
  };
  for (const Case& c : std::vector<Case>{
           {"UPDATE t SET (a b) = (SELECT x, z FROM u)", 30494},
           {"UPDATE t SET (a) 5", 30495},
           {"UPDATE t SET (a) = 5", 30495},
           {"UPDATE t SET (a) = (SELECT x FROM u WHERE x = 2) x", 20260},
       }) {
    SCOPED_TRACE(c.sql);
    const StatementError error = ErrorOf(c.sql);
    EXPECT_EQ(error.number, c.number) << error.message;
  }
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"1|10|q", "2|-20|q", "3|30|q", "3|40|q"}));
}

TEST_F(UpdateDeleteTest, OrderByReachesTheSelection) {
  // The table is read in c order (an index is made for it); the rows are the
  // stored ones, so the change lands in the table.
  Exec("UPDATE t SET a = a + 1 WHERE b > 0 ORDER BY c");
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"2|10|x", "2|-20|y", "4|30|z", "5|40|NULL"}));
  TVEZQuery query;
  query.SetDatabaseName("RVX_Database");
  query.SetSQL("DELETE FROM t WHERE a > 1 ORDER BY c DESC");
  query.ExecSQL();
  EXPECT_EQ(query.RowsAffected(), 4);
  EXPECT_TRUE(Rows("t").empty());
}

TEST_F(UpdateDeleteTest, ASelectionThatIsACopyChangesNothing) {
  // A query in FROM yields a result table of its own: deleting from it
  // would report rows that are still stored.
  for (const char* sql :
       {"DELETE FROM (SELECT * FROM t) s", "DELETE FROM (SELECT TOP 2 * FROM t) s",
        "DELETE FROM (SELECT * FROM t WHERE a > 2) s WHERE b > 0"}) {
    SCOPED_TRACE(sql);
    const StatementError error = ErrorOf(sql);
    EXPECT_EQ(error.number, 30225) << error.message;
    EXPECT_EQ(Rows("t").size(), 4u);
  }
  EXPECT_EQ(Rows("t")[0], "1|10|x");
}

// ---------------------------------------------------------------------------
// Changing a selection

TEST_F(UpdateDeleteTest, UpdateChangesTheSelectedRows) {
  auto statement = Parsed<TVEZSQLUpdate>("UPDATE t SET a = a * 100 + b, c = 'u' WHERE b > 0");
  statement->UpdateSelection(Selection("b > 0"));
  EXPECT_EQ(statement->RowsAffected, 3);
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"110|10|u", "2|-20|y", "330|30|u", "440|40|u"}));
}

TEST_F(UpdateDeleteTest, SetValuesSeeTheColumnsSetBeforeThem) {
  // Kept as the dialect has it: b takes the a just written.
  auto statement = Parsed<TVEZSQLUpdate>("UPDATE t SET a = b, b = a");
  statement->UpdateSelection(Selection("a = 1"));
  EXPECT_EQ(Rows("t")[0], "10|10|x");
}

TEST_F(UpdateDeleteTest, RowsMovedByTheChangeAreChangedOnce) {
  Exec("CREATE INDEX ia ON t (a)");
  // Walking the index while moving each row ahead of the walk would meet
  // the rows again.
  auto up = Parsed<TVEZSQLUpdate>("UPDATE t SET a = a + 2");
  up->UpdateSelection(Selection("", "ia"));
  EXPECT_EQ(up->RowsAffected, 4);
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"3|10|x", "4|-20|y", "5|30|z", "6|40|NULL"}));
  // A change that takes rows out of the filter does not skip the next one.
  auto out = Parsed<TVEZSQLUpdate>("UPDATE t SET b = 0 WHERE b > 0");
  out->UpdateSelection(Selection("b > 0", "ia"));
  EXPECT_EQ(out->RowsAffected, 3);
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"3|0|x", "4|-20|y", "5|0|z", "6|0|NULL"}));
}

TEST_F(UpdateDeleteTest, AFailingUpdateIsRetriedThenChangesNothing) {
  Exec("CREATE UNIQUE INDEX ua ON t (a)");
  platform::FakeClock clock;
  platform::ScopedClock installed(clock);
  auto statement = Parsed<TVEZSQLUpdate>("UPDATE t SET a = 7");
  TVEZTable& selection = Selection("");
  EXPECT_ANY_THROW(statement->UpdateSelection(selection));
  // 15 passes, 100 ms apart.
  EXPECT_EQ(clock.Sleeps(), std::vector<std::uint32_t>(TVEZSQLUpdate::kPasses - 1, 100));
  selection.Close();
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"1|10|x", "2|-20|y", "3|30|z", "4|40|NULL"}));
  // The same through the query component.
  const std::size_t before = clock.Sleeps().size();
  EXPECT_ANY_THROW(Exec("UPDATE t SET a = 7 WHERE b > 0"));
  const std::vector<std::uint32_t> sleeps = clock.Sleeps();
  EXPECT_EQ(std::count(sleeps.begin() + static_cast<std::ptrdiff_t>(before), sleeps.end(), 100u),
            TVEZSQLUpdate::kPasses - 1);
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"1|10|x", "2|-20|y", "3|30|z", "4|40|NULL"}));
  // One row alone can take the value.
  Exec("UPDATE t SET a = 7 WHERE b = 40");
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"1|10|x", "2|-20|y", "3|30|z", "7|40|NULL"}));
}

TEST_F(UpdateDeleteTest, DeleteThroughTheSecondTableAndThroughTheBitmap) {
  {
    auto statement = Parsed<TVEZSQLDelete>("DELETE FROM t");
    TVEZTable& all = Selection("");
    EXPECT_FALSE(all.Handle()->RecordBitmap != nullptr && all.Handle()->RecordBitmap->Active);
    statement->DeleteSelection(all);
    EXPECT_EQ(statement->RowsAffected, 4);
    all.Close();
  }
  EXPECT_TRUE(Rows("t").empty());
  Exec("INSERT INTO t VALUES (1, 10, 'x'), (2, -20, 'y'), (3, 30, 'z'), (4, 40, NULL)");
  auto statement = Parsed<TVEZSQLDelete>("DELETE FROM t WHERE b > 0");
  TVEZTable& some = Selection("b > 0");
  some.First();
  some.RecordCount();
  // A filtered view counted once shows its rows through a record bitmap.
  EXPECT_TRUE(some.Handle()->RecordBitmap != nullptr && some.Handle()->RecordBitmap->Active);
  statement->DeleteSelection(some);
  EXPECT_EQ(statement->RowsAffected, 3);
  some.Close();
  EXPECT_EQ(Rows("t"), std::vector<std::string>{"2|-20|y"});
}

TEST_F(UpdateDeleteTest, InsideATransactionNothingIsLockedAndRollbackUndoesAll) {
  Exec("START TRANSACTION");
  {
    auto up = Parsed<TVEZSQLUpdate>("UPDATE t SET b = 0");
    up->UpdateSelection(Selection(""));
    EXPECT_EQ(up->RowsAffected, 4);
    auto del = Parsed<TVEZSQLDelete>("DELETE FROM t WHERE a > 2");
    del->DeleteSelection(Selection("a > 2"));
    EXPECT_EQ(del->RowsAffected, 2);
    tables_.clear();
  }
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"1|0|x", "2|0|y"}));
  Exec("ROLLBACK");
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"1|10|x", "2|-20|y", "3|30|z", "4|40|NULL"}));
}

TEST_F(UpdateDeleteTest, AnotherSessionsWriteLockStopsTheStatementAndChangesNothing) {
  platform::FakeClock clock;
  platform::ScopedClock installed(clock);
  OtherSessionTable other(file_, "t");
  TVEZTable& holder = other.table;
  // Held while another session writes: reading stays possible, writing not.
  ASSERT_TRUE(holder.Handle()->LockTable(ltXIRW, 1, 0, true));

  auto up = Parsed<TVEZSQLUpdate>("UPDATE t SET b = 0");
  EXPECT_EQ(NativeErrorOf([&] { up->UpdateSelection(Selection("")); }), 20223);
  // A lock that cannot be had is not retried in further passes.
  EXPECT_EQ(clock.Sleeps(), std::vector<std::uint32_t>(1125, 80));
  auto del = Parsed<TVEZSQLDelete>("DELETE FROM t");
  EXPECT_EQ(NativeErrorOf([&] { del->DeleteSelection(Selection("")); }), 20223);
  tables_.clear();
  EXPECT_EQ(Rows("t").size(), 4u);

  ASSERT_TRUE(holder.Handle()->UnlockTable(ltXIRW, false));
  del->DeleteSelection(Selection(""));
  EXPECT_EQ(del->RowsAffected, 4);
  tables_.clear();
  holder.Close();
  EXPECT_TRUE(Rows("t").empty());
}

}  // namespace
}  // namespace vez::test

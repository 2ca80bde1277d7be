// The table definition statements run through the query component on a
// disk file: the log's upgrade (ALTER TABLE Runs ADD one column) keeping
// every row and index, the other ALTER forms, CREATE with keys, defaults
// and autoinc options, DROP, TRUNCATE and RENAME, their parse errors (which
// lose nothing stored), and write failures during the upgrade.
#include "dbengine/sql/VEZDDLStatements.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "dbengine/api/VEZTableCopy.h"
#include "dbengine/foundation/VEZTypes.h"
#include "platform/core/Random.h"
#include "platform/os/File.h"
#include "tests/dbengine/sql/StatementTestSupport.h"

namespace vez::test {
namespace {

using platform::Variant;

class DDLTest : public StatementTest {
 protected:
  // Runs as an older program made it: no Comments column, n rows.
  void OldRuns(int n, const std::string& database = "RVX_Database") {
    TVEZTable& t = NewTable("Runs", database);
    t.FieldDefs().Add("ID", platform::ftAutoInc, 0, true);
    t.FieldDefs().Add("TrialID", platform::ftInteger);
    t.FieldDefs().Add("Name", platform::ftString, 30);
    t.FieldDefs().Add("StartTime", platform::ftDateTime);
    t.IndexDefs().Add("Primary", "ID", 0);
    t.CreateTable();
    t.Open();
    for (int i = 1; i <= n; ++i)
      t.AppendRecord({Variant::Null(), Variant::FromInteger((i - 1) / 3 + 1),
                      Variant::FromString("run " + std::to_string(i)),
                      Variant::FromDate(45000.0 + i / 1440.0)});
    t.Close();
  }

  // ID|TrialID|Name of the rows OldRuns(n) wrote.
  static std::vector<std::string> ExpectedRuns(int n) {
    std::vector<std::string> rows;
    for (int i = 1; i <= n; ++i)
      rows.push_back(std::to_string(i) + "|" + std::to_string((i - 1) / 3 + 1) + "|run " +
                     std::to_string(i));
    return rows;
  }

  // ID, TrialID and Name of every row, and whether the other columns past
  // StartTime are all null.
  std::vector<std::string> RunsRows(const std::string& database, bool& added_null) {
    TVEZTable& t = NewTable("Runs", database);
    t.Open();
    std::vector<std::string> rows;
    added_null = true;
    for (t.First(); !t.Eof(); t.Next()) {
      rows.push_back(t.FieldByName("ID").AsString() + "|" + t.FieldByName("TrialID").AsString() +
                     "|" + t.FieldByName("Name").AsString());
      for (int i = 4; i < t.FieldCount(); ++i)
        if (!t.Fields(i).IsNull()) added_null = false;
    }
    t.Close();
    return rows;
  }
};

// ---------------------------------------------------------------------------
// The log's upgrade statement, for each type the application adds.

struct AddedType {
  const char* sql_type;
  TVEZAdvancedFieldType type;
  std::int32_t size;
};

class AppUpgradeTest : public DDLTest, public ::testing::WithParamInterface<AddedType> {};

TEST_P(AppUpgradeTest, AddsTheColumnAndKeepsEveryRowAndIndex) {
  constexpr int kRows = 1000;
  OldRuns(kRows);
  {
    TVEZQuery query;
    query.SetDatabaseName("RVX_Database");
    query.SetSQL(std::string("ALTER TABLE Runs ADD (Comments ") + GetParam().sql_type + ")");
    query.Prepare();
    query.ExecSQL();
  }
  EXPECT_EQ(Tables(), std::vector<std::string>{"Runs"});
  EXPECT_EQ(Columns("Runs"),
            (std::vector<std::string>{"ID", "TrialID", "Name", "StartTime", "Comments"}));
  TVEZTable& t = NewTable("Runs");
  t.FieldDefs().Update();
  const TVEZAdvFieldDef* def = t.AdvFieldDefs().Find("Comments");
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->DataType, GetParam().type);
  EXPECT_EQ(def->Size, GetParam().size);
  EXPECT_FALSE(def->Required);
  bool added_null = false;
  EXPECT_EQ(RunsRows("RVX_Database", added_null), ExpectedRuns(kRows));
  EXPECT_TRUE(added_null);
  // The index still serves key searches.
  TVEZTable& keyed = NewTable("Runs");
  keyed.SetIndexName("Primary");
  keyed.Open();
  for (int id : {1, 500, 1000}) {
    SCOPED_TRACE(id);
    ASSERT_TRUE(keyed.FindKey({Variant::FromInteger(id)}));
    EXPECT_EQ(keyed.FieldByName("Name").AsString(), "run " + std::to_string(id));
    EXPECT_DOUBLE_EQ(keyed.FieldByName("StartTime").AsDateTime(), 45000.0 + id / 1440.0);
  }
  EXPECT_FALSE(keyed.FindKey({Variant::FromInteger(1001)}));
  keyed.Close();
}

INSTANTIATE_TEST_SUITE_P(Types, AppUpgradeTest,
                         ::testing::Values(AddedType{"INTEGER", aftInteger, 0},
                                           AddedType{"FLOAT", aftDouble, 0},
                                           AddedType{"DATETIME", aftDateTime, 0},
                                           AddedType{"VARCHAR(500)", aftString, 500},
                                           AddedType{"BOOLEAN", aftBoolean, 0}),
                         [](const auto& info) {
                           std::string name = info.param.sql_type;
                           name.erase(std::remove_if(name.begin(), name.end(),
                                                     [](char c) { return !std::isalnum(c); }),
                                      name.end());
                           return name;
                         });

TEST_F(DDLTest, AddingAnExistingColumnRaisesUnlessIfNotExists) {
  OldRuns(5);
  Exec("ALTER TABLE Runs ADD (Comments VARCHAR(500))");
  const StatementError again = ErrorOf("ALTER TABLE Runs ADD (Comments VARCHAR(500))");
  EXPECT_EQ(again.number, 30265);
  EXPECT_NE(again.message.find("Field by name 'Comments' already exists"), std::string::npos)
      << again.message;
  EXPECT_NE(again.message.find("30351"), std::string::npos) << again.message;
  EXPECT_EQ(ErrorOf("ALTER TABLE Runs ADD (IF NOT EXISTS Comments VARCHAR(500))").number, 0);
  EXPECT_EQ(Columns("Runs"),
            (std::vector<std::string>{"ID", "TrialID", "Name", "StartTime", "Comments"}));
  bool added_null = false;
  EXPECT_EQ(RunsRows("RVX_Database", added_null), ExpectedRuns(5));
}

// Bad ALTER statements raise before anything changes.
TEST_F(DDLTest, BadAlterStatementsLoseNothing) {
  OldRuns(7);
  const std::vector<std::pair<const char*, std::int32_t>> cases = {
      {"ALTER TABLE Runs ADD (x VARCHAR)", 30233},
      {"ALTER TABLE Runs ADD (x VARCHAR(a))", 30235},
      {"ALTER TABLE Runs ADD (x VARCHAR(5]", 30062},
      {"ALTER TABLE Runs ADD (x NUMBER)", 30232},
      {"ALTER TABLE Runs ADD (x ,)", 30228},
      {"ALTER TABLE Runs ADD x INTEGER", 30226},
      {"ALTER TABLE Runs ADD (x INTEGER NOT 5)", 30237},
      {"ALTER TABLE Runs ADD (x INTEGER NOT TABLE)", 2011},
      {"ALTER TABLE Runs ADD (IF EXISTS x INTEGER)", 30488},
      {"ALTER TABLE Runs ADD (IF NOT x INTEGER)", 30489},
      {"ALTER TABLE Runs ADD (x AUTOINC(FLOAT))", 30295},
      {"ALTER TABLE Runs ADD (x AUTOINCLARGEINT(INTEGER))", 30294},
      {"ALTER TABLE Runs ADD (x INTEGER BLOBBLOCKSIZE z)", 30292},
      {"ALTER TABLE Runs ADD (x INTEGER BLOBBLOCKSIZE 99999999999999999999)", 30291},
      {"ALTER TABLE Runs ADD (x BLOB BLOBCOMPRESSIONMODE 300)", 30291},
      {"ALTER TABLE Runs ADD (UNIQUE x (a))", 30267},
      {"ALTER TABLE Runs ADD (UNIQUE KEY (a))", 30268},
      {"ALTER TABLE Runs ADD (INDEX , (a))", 30269},
      {"ALTER TABLE Runs ADD (INDEX i (, a))", 30274},
      {"ALTER TABLE Runs FOO x", 30253},
      {"ALTER TABLE Runs SET x", 30252},
      {"ALTER TABLE Runs RENAME COLUMN Name Title", 30352},
      {"ALTER TABLE Runs DROP Name Title", 30246},
      {"ALTER TABLE Runs DROP (Name Title)", 30229},
      {"ALTER TABLE Runs DROP", 10408},
      {"ALTER TABLE Runs DROP COLUMN Missing", 30265},
      {"ALTER TABLE Runs DROP (Name, Missing)", 30265},
      {"ALTER TABLE Runs MODIFY (Missing INTEGER)", 30265},
      {"ALTER TABLE Missing ADD (x INTEGER)", 30265},
      {"ALTER TABLE", 30261},
  };
  for (const auto& [sql, number] : cases) {
    SCOPED_TRACE(sql);
    const StatementError error = ErrorOf(sql);
    EXPECT_EQ(error.number, number) << error.message;
    EXPECT_EQ(Tables(), std::vector<std::string>{"Runs"});
    EXPECT_EQ(Columns("Runs"), (std::vector<std::string>{"ID", "TrialID", "Name", "StartTime"}));
    bool added_null = false;
    EXPECT_EQ(RunsRows("RVX_Database", added_null), ExpectedRuns(7));
    tables_.clear();
  }
  // A missing column is named.
  const StatementError missing = ErrorOf("ALTER TABLE Runs DROP COLUMN Missing");
  EXPECT_NE(missing.message.find("Field 'Missing' not found"), std::string::npos)
      << missing.message;
  EXPECT_NE(ErrorOf("ALTER TABLE Runs MODIFY (Missing INTEGER)").message.find("30259"),
            std::string::npos);
}

TEST_F(DDLTest, DropForms) {
  OldRuns(4);
  // DROP x drops x (and only x).
  Exec("ALTER TABLE Runs DROP StartTime");
  EXPECT_EQ(Columns("Runs"), (std::vector<std::string>{"ID", "TrialID", "Name"}));
  Exec("ALTER TABLE Runs ADD (a INTEGER, b INTEGER, c INTEGER)");
  Exec("ALTER TABLE Runs DROP COLUMN a");
  EXPECT_EQ(Columns("Runs"), (std::vector<std::string>{"ID", "TrialID", "Name", "b", "c"}));
  Exec("ALTER TABLE Runs DROP (b, c)");
  EXPECT_EQ(Columns("Runs"), (std::vector<std::string>{"ID", "TrialID", "Name"}));
  EXPECT_EQ(Rows("Runs"),
            (std::vector<std::string>{"1|1|run 1", "2|1|run 2", "3|1|run 3", "4|2|run 4"}));
}

TEST_F(DDLTest, ModifyAndRenameForms) {
  OldRuns(3);
  Exec("ALTER TABLE Runs MODIFY (Name VARCHAR(60) NOT NULL)");
  TVEZTable& t = NewTable("Runs");
  t.FieldDefs().Update();
  EXPECT_EQ(t.AdvFieldDefs().Find("Name")->Size, 60);
  EXPECT_TRUE(t.AdvFieldDefs().Find("Name")->Required);
  Exec("ALTER TABLE Runs RENAME COLUMN Name TO Title");
  Exec("ALTER TABLE Runs RENAME TrialID TO Trial");
  EXPECT_EQ(Columns("Runs"), (std::vector<std::string>{"ID", "Trial", "Title", "StartTime"}));
  Exec("ALTER TABLE Runs RENAME TO Legs");
  EXPECT_EQ(Tables(), std::vector<std::string>{"Legs"});
  TVEZTable& legs = NewTable("Legs");
  legs.Open();
  std::vector<std::string> rows;
  for (legs.First(); !legs.Eof(); legs.Next())
    rows.push_back(legs.FieldByName("ID").AsString() + "|" + legs.FieldByName("Trial").AsString() +
                   "|" + legs.FieldByName("Title").AsString());
  legs.Close();
  EXPECT_EQ(rows, (std::vector<std::string>{"1|1|run 1", "2|1|run 2", "3|1|run 3"}));
}

// A new bound on TrialID fails the copy at the first row of trial 7: the
// table keeps its name, schema and rows.
TEST_F(DDLTest, RestructureFailingMidCopyKeepsTheTable) {
  constexpr int kRows = 60;
  OldRuns(kRows);
  const StatementError error = ErrorOf("ALTER TABLE Runs MODIFY (TrialID INTEGER MAXVALUE 6)");
  EXPECT_EQ(error.number, 30265);
  EXPECT_NE(error.message.find("'TrialID' cannot be greater than '6'"), std::string::npos)
      << error.message;
  EXPECT_EQ(Tables(), std::vector<std::string>{"Runs"});
  EXPECT_EQ(Columns("Runs"), (std::vector<std::string>{"ID", "TrialID", "Name", "StartTime"}));
  TVEZTable& t = NewTable("Runs");
  t.FieldDefs().Update();
  EXPECT_TRUE(t.AdvFieldDefs().Find("TrialID")->MaxValue.GetIsNull());
  bool added_null = false;
  EXPECT_EQ(RunsRows("RVX_Database", added_null), ExpectedRuns(kRows));
}

// ---------------------------------------------------------------------------
// CREATE, DROP, TRUNCATE

TEST_F(DDLTest, CreateWithKeysDefaultsAndAutoincOptions) {
  Exec(
      "CREATE TABLE t (ID AUTOINC(INTEGER, INCREMENT 2, STARTVALUE 10), Name VARCHAR(30) NOT "
      "NULL DEFAULT 'none', PRIMARY KEY (ID))");
  TVEZTable& t = NewTable("t");
  t.FieldDefs().Update();
  t.IndexDefs().Update();
  ASSERT_EQ(t.AdvIndexDefs().Count(), 1);
  EXPECT_EQ(t.AdvIndexDefs().GetDef(0)->Name, "C_PK$ID");
  EXPECT_EQ(t.AdvIndexDefs().GetDef(0)->Options & platform::ixPrimary, platform::ixPrimary);
  const TVEZAdvFieldDef* id = t.AdvFieldDefs().Find("ID");
  EXPECT_EQ(id->DataType, aftAutoInc);
  EXPECT_EQ(id->AutoincIncrement, 2);
  EXPECT_EQ(id->AutoincInitialValue, 10);
  const TVEZAdvFieldDef* name = t.AdvFieldDefs().Find("Name");
  EXPECT_EQ(name->DataType, aftString);
  EXPECT_EQ(name->Size, 30);
  EXPECT_TRUE(name->Required);
  // Rows take the default and the autoinc steps.
  t.Open();
  t.Append();
  t.Post();
  t.Append();
  t.Post();
  t.First();
  const int first = t.FieldByName("ID").AsInteger();
  EXPECT_EQ(t.FieldByName("Name").AsString(), "none");
  t.Next();
  EXPECT_EQ(t.FieldByName("ID").AsInteger(), first + 2);
  t.Close();

  Exec("CREATE TABLE u (ID INTEGER, Name VARCHAR(30) UNIQUE, Code INTEGER PRIMARY KEY)");
  TVEZTable& u = NewTable("u");
  u.IndexDefs().Update();
  std::vector<std::string> names;
  for (std::int32_t i = 0; i < u.AdvIndexDefs().Count(); ++i)
    names.push_back(u.AdvIndexDefs().GetDef(i)->Name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"C_PK$Code", "C_Unique$Name"}));
  EXPECT_EQ(u.AdvIndexDefs().Find("C_Unique$Name")->Options & platform::ixUnique,
            platform::ixUnique);

  Exec("CREATE TABLE v (a INTEGER, b VARCHAR(5), INDEX ab (a DESC, b NOCASE))");
  TVEZTable& v = NewTable("v");
  v.IndexDefs().Update();
  ASSERT_EQ(v.AdvIndexDefs().Count(), 1);
  EXPECT_EQ(v.AdvIndexDefs().GetDef(0)->Name, "ab");
}

// A quoted default holding a double quote reads back whole.
TEST_F(DDLTest, QuotedDefaultWithADoubleQuoteReadsBack) {
  Exec("CREATE TABLE t (a INTEGER, s VARCHAR(20) DEFAULT 'say \"hi\"', n INTEGER DEFAULT 6 * 7)");
  TVEZTable& t = NewTable("t");
  t.Open();
  t.AppendRecord({Variant::FromInteger(1)});
  t.First();
  EXPECT_EQ(t.FieldByName("s").AsString(), "say \"hi\"");
  EXPECT_EQ(t.FieldByName("n").AsInteger(), 42);
  t.Close();
}

// Bounds are whole numbers, below zero too (the minus is a token of its own).
TEST_F(DDLTest, ColumnBoundsReadSignedWholeNumbers) {
  struct Case {
    std::string bounds, min, max;
    std::int32_t error;
  };
  const std::vector<Case> cases = {
      {"MINVALUE 5 MAXVALUE 300", "5", "300", 0},
      {"MINVALUE -40 MAXVALUE -1", "-40", "-1", 0},
      {"MINVALUE -9223372036854775808", "-9223372036854775808", "-", 0},
      {"MINVALUE -9223372036854775809", "", "", 30291},
      {"MINVALUE - x", "", "", 30292},
      {"MINVALUE 2.5", "", "", 30292},
      {"MAXVALUE -", "", "", 30292},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bounds);
    const std::string name = "b" + std::to_string(n++);
    const std::string sql = "CREATE TABLE " + name + " (a LARGEINT " + c.bounds + ")";
    if (c.error != 0) {
      EXPECT_EQ(ErrorOf(sql).number, c.error);
      continue;
    }
    Exec(sql);
    TVEZTable& t = NewTable(name);
    t.Open();
    const TVEZAdvFieldDef& def = *t.AdvFieldDefs().GetDef(0);
    auto text = [](const TVEZVariant& v) { return v.GetIsNull() ? "-" : v.GetAsAnsiString(); };
    EXPECT_EQ(text(def.MinValue), c.min);
    EXPECT_EQ(text(def.MaxValue), c.max);
    t.Close();
  }
}

TEST_F(DDLTest, CreateErrors) {
  Exec("CREATE TABLE t (a INTEGER)");
  const StatementError trailing = ErrorOf("CREATE TABLE u (a INTEGER) x");
  EXPECT_EQ(trailing.number, 30246);
  EXPECT_NE(trailing.message.find("'x'"), std::string::npos) << trailing.message;
  EXPECT_EQ(ErrorOf("CREATE TABLE t (a INTEGER)").number, 30247);
  EXPECT_EQ(ErrorOf("CREATE TABLE IF NOT EXISTS t (b INTEGER)").number, 0);
  EXPECT_EQ(ErrorOf("CREATE TABLE IF t (b INTEGER)").number, 30486);
  EXPECT_EQ(ErrorOf("CREATE TABLE IF NOT t (b INTEGER)").number, 30487);
  EXPECT_EQ(ErrorOf("CREATE TABLE").number, 30249);
  EXPECT_EQ(ErrorOf("CREATE TABLE w (b INTEGER DEFAULT 1, c INTEGER DEFAULT (2)").number, 30059);
  EXPECT_EQ(ErrorOf("CREATE TABLE w (b VARCHAR(0))").number, 30248);
  EXPECT_EQ(Tables(), std::vector<std::string>{"t"});
  EXPECT_EQ(Columns("t"), std::vector<std::string>{"a"});
}

TEST_F(DDLTest, DropAndTruncate) {
  OldRuns(9);
  EXPECT_EQ(ErrorOf("DROP TABLE Missing").number, 0);
  EXPECT_EQ(ErrorOf("DROP TABLE IF EXISTS Missing").number, 0);
  EXPECT_EQ(ErrorOf("DROP TABLE IF Missing").number, 30485);
  EXPECT_EQ(ErrorOf("DROP TABLE").number, 30251);
  EXPECT_EQ(ErrorOf("TRUNCATE").number, 30490);
  EXPECT_EQ(ErrorOf("TRUNCATE Missing").number, 30491);
  Exec("TRUNCATE TABLE Runs");
  EXPECT_TRUE(Rows("Runs").empty());
  EXPECT_EQ(Columns("Runs"), (std::vector<std::string>{"ID", "TrialID", "Name", "StartTime"}));
  Exec("TRUNCATE Runs");
  Exec("DROP TABLE Runs");
  EXPECT_TRUE(Tables().empty());
}

// Every made-up database name is the same while the random source repeats
// itself; a database already bearing it makes naming fail each time. The
// statement gives up after a few attempts instead of trying for ever.
TEST_F(DDLTest, NamingTheStatementsDatabaseGivesUp) {
  class Constant : public platform::RandomSource {
   public:
    std::uint64_t Next64() override { return 0x0123456789ABCDEFu; }
  } constant;
  platform::ScopedRandom scope(constant);
  const std::string other = Path("Other.vez");
  CreateDatabaseFile(other);
  TVEZDatabase holder;
  holder.SetDatabaseName(MakeUniqueName("ExternalDb"));
  holder.SetDatabaseFileName(other);
  const StatementError error = ErrorOf("CREATE TABLE '" + other + "'.t (a INTEGER)");
  EXPECT_EQ(error.number, 30248);
  EXPECT_NE(error.message.find("Duplicate database name"), std::string::npos) << error.message;
}

// ---------------------------------------------------------------------------
// The upgrade under write failures: each mutating file call of the statement
// fails once. After the file is opened anew, Runs holds every row (under the
// old or the new schema), or an OLD_ copy holds them all.
TEST_F(DDLTest, UpgradeStatementUnderAFailedWriteAtEachPointLosesNoRow) {
  constexpr int kRows = 30;
  int leftovers = 0;
  auto run = [&](int index, int fail_at, FaultPlan& plan) {
    const std::string name = "Fault" + std::to_string(index);
    const std::string file = Path(name + ".vez");
    {
      auto database = MakeDatabase(name, file);
      database->SetKeepConnection(false);
      database->SetSilentMode(true);
      database->CreateDatabase();
      OldRuns(kRows, name);
      tables_.clear();
      FaultFileSystem faults;
      {
        platform::ScopedFileSystem scope(faults);
        faults.plan.fail_at = fail_at;
        try {
          TVEZQuery query;
          query.SetDatabaseName(name);
          query.SetSQL("ALTER TABLE Runs ADD (Comments VARCHAR(500))");
          query.Prepare();
          query.ExecSQL();
        } catch (const std::exception&) {
        }
        plan = faults.plan;
      }
    }
    db_.reset();
    FinalizeSessionLayer();
    // The file as a new process finds it.
    auto database = MakeDatabase(name, file);
    database->SetKeepConnection(false);
    std::vector<std::string> tables;
    database->GetTablesList(tables);
    bool complete = false;
    for (const std::string& t : tables) {
      SCOPED_TRACE(t);
      EXPECT_TRUE(t == "Runs" || IsRestructureLeftoverName(t));
      if (t != "Runs") ++leftovers;
      try {
        TVEZTable& check = NewTable(t, name);
        check.Open();
        std::vector<std::string> rows;
        for (check.First(); !check.Eof(); check.Next())
          rows.push_back(check.FieldByName("ID").AsString() + "|" +
                         check.FieldByName("TrialID").AsString() + "|" +
                         check.FieldByName("Name").AsString());
        check.Close();
        if (rows == ExpectedRuns(kRows)) complete = true;
      } catch (const std::exception& e) {
        std::cout << "unreadable table " << t << " after failing mutation " << fail_at << ": "
                  << e.what() << "\n";
      }
    }
    EXPECT_TRUE(complete);
    tables_.clear();
  };
  FaultPlan clean;
  run(0, -1, clean);
  const int mutations = clean.mutations;
  ASSERT_GT(mutations, 10);
  const int stride = std::max(1, mutations / 40);
  int index = 1;
  for (int fail_at = 0; fail_at < mutations; fail_at += stride, ++index) {
    SCOPED_TRACE("failing mutation " + std::to_string(fail_at) + " of " +
                 std::to_string(mutations));
    FaultPlan plan;
    run(index, fail_at, plan);
    if (HasFailure()) break;
  }
  std::cout << "runs: " << index - 1 << ", OLD_ tables left: " << leftovers << "\n";
}

}  // namespace
}  // namespace vez::test

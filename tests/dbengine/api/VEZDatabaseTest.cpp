// The database component: opening and creating files, names within a
// session, shared handles, keeping connections, table questions,
// transactions, the password and repair questions, and deleting and
// renaming files with their journals.
#include <gtest/gtest.h>

#include <unistd.h>
#include <fstream>
#include <iterator>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZLocalSession.h"
#include "dbengine/api/VEZSession.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/storage/VEZRollbackJournal.h"
#include "dbengine/storage/VEZTableLockManager.h"
#include "dbengine/storage/VEZTableLocksFile.h"
#include "platform/core/Clock.h"
#include "platform/dataset/DatabaseError.h"
#include "platform/ui/EngineUi.h"
#include "tests/common/ScriptedEngineUi.h"
#include "tests/dbengine/api/SessionTestSupport.h"

namespace vez {
namespace {

using platform::test::ScriptedEngineUi;
using test::DatabaseErrorOf;
using test::DiskData;
using test::DiskDatabases;
using test::FakeDataSet;
using test::IsSessionListed;
using test::LocalHandle;
using test::MakeDatabase;
using test::NativeErrorOf;
using test::TablesOf;

namespace fs = std::filesystem;

constexpr const char* kRepairQuestion =
    "confirm:Database file was not correctly closed last time. Do you want to repair it?";

class DatabaseTest : public test::SessionLayerTest {};

TEST_F(DatabaseTest, DefaultsAreThoseOfANewComponent) {
  TVEZDatabase database;
  EXPECT_FALSE(database.Connected());
  EXPECT_EQ(database.CurrentVersion(), "7.50 ");
  EXPECT_EQ(database.DatabaseName(), "");
  EXPECT_EQ(database.DatabaseFileName(), "");
  EXPECT_FALSE(database.Exclusive());
  EXPECT_EQ(database.Password(), "");
  EXPECT_FALSE(database.ReadOnly());
  EXPECT_FALSE(database.HandleShared());
  EXPECT_TRUE(database.KeepConnection());
  EXPECT_EQ(database.MaxConnections(), 500);
  EXPECT_FALSE(database.MultiUser());
  EXPECT_EQ(database.SessionName(), "Default");
  EXPECT_EQ(database.Session(), &DefaultSession());
  EXPECT_FALSE(database.SilentMode());
  EXPECT_FALSE(database.DisableTempFiles());
  EXPECT_EQ(database.PageSize(), 4096);
  EXPECT_EQ(database.PageCountInExtent(), 8);
  EXPECT_EQ(database.CryptoAlgorithm(), craRijndael_128);
  EXPECT_EQ(database.Durability(), TVEZDurability::Full);
  EXPECT_FALSE(database.Temporary());
  EXPECT_FALSE(database.InTransaction());
  EXPECT_FALSE(database.Exists());
  EXPECT_EQ(database.RefCount(), 0);
  EXPECT_EQ(database.DataSetCount(), 0);
  EXPECT_EQ(database.Handle(), nullptr);
}

TEST_F(DatabaseTest, OpeningAMissingFileMakesNothingAndCreatingLeavesTheComponentClosed) {
  const std::string file = Path("log.vez");
  auto database = MakeDatabase("RVX_Database", file);
  database->SetMultiUser(true);
  EXPECT_EQ(DatabaseErrorOf([&] { database->Open(); }),
            "Database file '" + file + "' does not exist");
  EXPECT_FALSE(database->Connected());
  EXPECT_FALSE(fs::exists(file));
  EXPECT_FALSE(fs::exists(file + "-journal"));
  EXPECT_TRUE(DiskDatabases().empty());

  database->SetPageSize(2048);
  database->SetPageCountInExtent(16);
  database->SetMaxConnections(5);
  database->CreateDatabase();
  EXPECT_FALSE(database->Connected());
  EXPECT_TRUE(database->Exists());
  EXPECT_TRUE(DiskDatabases().empty());

  // The file's settings win over the component's.
  database->SetPageSize(4096);
  database->SetPageCountInExtent(8);
  database->SetMaxConnections(500);
  database->Open();
  EXPECT_TRUE(database->Connected());
  EXPECT_EQ(database->PageSize(), 2048);
  EXPECT_EQ(database->PageCountInExtent(), 16);
  EXPECT_EQ(database->MaxConnections(), 5);
  EXPECT_FALSE(database->ReadOnly());
  EXPECT_EQ(database->GetDBFileConnectionsCount(), 1);
  // Creating over an open file is refused.
  auto other = MakeDatabase("Other", file);
  other->SetMultiUser(true);
  EXPECT_EQ(NativeErrorOf([&] { other->CreateDatabase(); }), 20092);
  EXPECT_TRUE(database->Connected());
}

TEST_F(DatabaseTest, GuardsRefuseMisuse) {
  const std::string file = Path("g.vez");
  test::CreateDatabaseFile(file);
  TVEZDatabase unnamed;
  unnamed.SetDatabaseFileName(file);
  struct Row {
    const char* what;
    std::function<void()> call;
    const char* error;
  };
  auto open = MakeDatabase("Open", file);
  open->Open();
  auto closed = MakeDatabase("Closed", file);
  const std::vector<Row> rows = {
      {"open unnamed", [&] { unnamed.Open(); }, "Database name missing"},
      {"create unnamed", [&] { unnamed.CreateDatabase(); }, "Database name missing"},
      {"flush closed", [&] { closed->FlushBuffers(); },
       "Cannot perform this operation on a closed database"},
      {"start closed", [&] { closed->StartTransaction(); },
       "Cannot perform this operation on a closed database"},
      {"commit closed", [&] { closed->Commit(); },
       "Cannot perform this operation on a closed database"},
      {"count closed", [&] { closed->GetDBFileConnectionsCount(); },
       "Cannot perform this operation on a closed database"},
      {"rename open", [&] { open->SetDatabaseName("Else"); },
       "Cannot perform this operation on an open database"},
      {"session open", [&] { open->SetSessionName("Else"); },
       "Cannot perform this operation on an open database"},
      {"create open", [&] { open->CreateDatabase(); },
       "Cannot perform this operation on an open database"},
      {"delete open", [&] { open->DeleteDatabase(); },
       "Cannot perform this operation on an open database"},
      {"move open", [&] { open->RenameDatabase(file + ".2"); },
       "Cannot perform this operation on an open database"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(DatabaseErrorOf(row.call), row.error);
  }
  EXPECT_TRUE(open->Connected());
  EXPECT_EQ(open->DatabaseName(), "Open");
  closed->SetSessionName("Nobody");
  EXPECT_EQ(NativeErrorOf([&] { closed->Open(); }), 20002);
  // A new file name closes the database.
  open->SetDatabaseFileName(Path("elsewhere.vez"));
  EXPECT_FALSE(open->Connected());
}

TEST_F(DatabaseTest, NamesAreUniqueInASessionUnlessBothShareTheirHandle) {
  const std::string file = Path("names.vez");
  test::CreateDatabaseFile(file);
  auto first = MakeDatabase("Log", file);
  auto second = MakeDatabase("Other", file);
  EXPECT_EQ(DatabaseErrorOf([&] { second->SetDatabaseName("LOG"); }),
            "Duplicate database name 'LOG'");
  EXPECT_EQ(second->DatabaseName(), "Other");
  // Another session may have the name.
  TVEZSession session;
  session.SetSessionName("Second");
  auto elsewhere = MakeDatabase("Log", file, &session);
  EXPECT_EQ(elsewhere->DatabaseName(), "Log");

  first->SetHandleShared(true);
  second->SetHandleShared(true);
  second->SetDatabaseName("log");
  first->Open();
  second->Open();
  ASSERT_TRUE(second->Connected());
  EXPECT_EQ(second->Handle(), first->Handle());
  // The one that took the handle only forgets it.
  second->Close();
  EXPECT_TRUE(first->Connected());
  EXPECT_TRUE(LocalHandle(*first).Connected());
  second->Open();
  // The handle's owner closing first closes the one that took it, which
  // would be left with a freed handle.
  first->Close();
  EXPECT_FALSE(second->Connected());
  EXPECT_EQ(second->Handle(), nullptr);
  EXPECT_TRUE(DiskDatabases().empty());
}

TEST_F(DatabaseTest, APermanentDatabaseTakesTheNameOfAnUnusedTemporaryOne) {
  const std::string file = Path("temp.vez");
  test::CreateDatabaseFile(file);
  TVEZSession& session = DefaultSession();
  {
    FakeDataSet dataset(nullptr, "d", false);
    dataset.Attach(session, "MEMORY");
    auto busy = MakeDatabase("Other", file);
    EXPECT_EQ(DatabaseErrorOf([&] { busy->SetDatabaseName("Memory"); }),
              "Duplicate database name 'Memory'");
  }
  ASSERT_EQ(session.DatabaseCount(), 1);  // kept: the session keeps connections
  auto permanent = MakeDatabase("Other", file);
  permanent->SetDatabaseName("Memory");
  EXPECT_EQ(session.DatabaseCount(), 1);
  EXPECT_EQ(session.GetDatabase(0), permanent.get());
}

TEST_F(DatabaseTest, KeepConnectionOffClosesWithTheLastDataset) {
  const std::string file = Path("keep.vez");
  test::CreateDatabaseFile(file);
  auto database = MakeDatabase("Log", file);
  database->SetKeepConnection(false);
  FakeDataSet a(nullptr, "a", false);
  FakeDataSet b(nullptr, "b", false);
  a.Attach(DefaultSession(), "log");
  EXPECT_EQ(a.Database(), database.get());
  b.Attach(DefaultSession(), "Log");
  EXPECT_EQ(database->RefCount(), 2);
  a.Detach();
  EXPECT_TRUE(database->Connected());
  b.Detach();
  EXPECT_FALSE(database->Connected());
  EXPECT_TRUE(DiskDatabases().empty());

  // Turned off while nobody uses it: closes at once.
  database->SetKeepConnection(true);
  database->Open();
  database->SetKeepConnection(false);
  EXPECT_FALSE(database->Connected());
}

TEST_F(DatabaseTest, ClosingDisconnectsQueriesFirstThenTheRestLastFirst) {
  const std::string file = Path("order.vez");
  test::CreateDatabaseFile(file);
  auto database = MakeDatabase("Log", file);
  std::vector<std::string> log;
  std::vector<std::unique_ptr<FakeDataSet>> datasets;
  for (const auto& [name, query] : std::vector<std::pair<std::string, bool>>{
           {"t1", false}, {"q1", true}, {"t2", false}, {"q2", true}, {"t3", false}}) {
    datasets.push_back(std::make_unique<FakeDataSet>(nullptr, name, query, &log));
    datasets.back()->Attach(DefaultSession(), "Log");
  }
  EXPECT_EQ(database->DataSetCount(), 5);
  EXPECT_EQ(database->RefCount(), 5);
  database->Close();
  EXPECT_EQ(log, (std::vector<std::string>{"q1", "q2", "t3", "t2", "t1"}));
  EXPECT_EQ(database->DataSetCount(), 0);
  EXPECT_EQ(database->RefCount(), 0);
  EXPECT_FALSE(database->Connected());
}

TEST_F(DatabaseTest, TableQuestionsOpenTheDatabaseAsTheyNeed) {
  const std::string file = Path("tables.vez");
  test::CreateDatabaseFile(file);
  auto database = MakeDatabase("Log", file);
  database->Open();
  test::AddCatalogueEntry(DiskData(*database), 1, "Vessels");
  test::AddCatalogueEntry(DiskData(*database), 2, "Runs");
  database->Close();

  // The list opens and closes again; the existence test stays connected.
  EXPECT_EQ(TablesOf(*database), (std::vector<std::string>{"Vessels", "Runs"}));
  EXPECT_FALSE(database->Connected());
  EXPECT_TRUE(database->TableExists("runs"));
  EXPECT_TRUE(database->Connected());
  EXPECT_FALSE(database->TableExists("Samples"));
  EXPECT_EQ(TablesOf(*database), (std::vector<std::string>{"Vessels", "Runs"}));
  EXPECT_TRUE(database->Connected());
}

TEST_F(DatabaseTest, ATablesListThatCannotBeReadIsAnErrorNotAnEmptyList) {
  const std::string file = Path("busy.vez");
  test::CreateDatabaseFile(file);
  platform::FakeClock clock;
  platform::ScopedClock installed(clock);
  // Another session component holds the file's tables lock, as another
  // process would.
  TVEZSession other;
  other.SetSessionName("Other");
  auto holder = MakeDatabase("Log", file, &other);
  holder->SetMultiUser(true);
  holder->Open();
  test::AddCatalogueEntry(DiskData(*holder), 1, "Runs");
  DiskData(*holder).LockTables();

  auto database = MakeDatabase("Log", file);
  database->SetMultiUser(true);
  std::vector<std::string> list;
  EXPECT_EQ(NativeErrorOf([&] { database->GetTablesList(list); }), 20210);
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(database->Connected());
  DiskData(*holder).UnlockTables();
  EXPECT_EQ(TablesOf(*database), std::vector<std::string>{"Runs"});
}

TEST_F(DatabaseTest, SingleUserComponentsOfAFileShareItsDatabaseDataUntilTheLastCloses) {
  const std::string file = Path("single.vez");
  test::CreateDatabaseFile(file);
  TVEZSession session;
  session.SetSessionName("Elsewhere");
  auto a = MakeDatabase("A", file);
  auto b = MakeDatabase("B", file, &session);
  // An alias of the memory database reaches it whatever the file.
  auto memory = MakeDatabase("MEMORY", file);
  for (auto* d : {a.get(), b.get(), memory.get()})
    d->Open();
  EXPECT_EQ(&DiskData(*a), &DiskData(*b));
  EXPECT_EQ(LocalHandle(*memory).DatabaseData()->DatabaseName(), "MEMORY");
  EXPECT_EQ(DiskDatabases().size(), 1u);
  a->Close();
  ASSERT_EQ(DiskDatabases().size(), 1u);
  EXPECT_TRUE(DiskData(*b).IsOpen());
  b->Close();
  EXPECT_TRUE(DiskDatabases().empty());
}

TEST_F(DatabaseTest, TwoSessionComponentsOnOneFileMeetOnlyThroughItsLocks) {
  const std::string file = Path("two.vez");
  test::CreateDatabaseFile(file);
  TVEZSession s1, s2;
  s1.SetSessionName("One");
  s2.SetSessionName("Two");
  auto a = MakeDatabase("Log", file, &s1);
  auto a2 = MakeDatabase("Log2", file, &s1);
  auto b = MakeDatabase("Log", file, &s2);
  for (auto* d : {a.get(), a2.get(), b.get()}) {
    d->SetMultiUser(true);
    d->Open();
  }
  TVEZDiskDatabaseData& da = DiskData(*a);
  TVEZDiskDatabaseData& db = DiskData(*b);
  EXPECT_EQ(&DiskData(*a2), &da);
  ASSERT_NE(&da, &db);
  EXPECT_EQ(DiskDatabases().size(), 2u);
  EXPECT_EQ(a->GetDBFileConnectionsCount(), 3);

  // A table lock of one refuses the other, as between two processes.
  TVEZTableLocksFile creator(da.DiskPageManager());
  const std::int32_t page = creator.CreateFile(16);
  da.DiskPageManager()->ApplyChanges(-2);
  TVEZTableLocksFile locks_a(da.DiskPageManager());
  TVEZTableLocksFile locks_b(db.DiskPageManager());
  locks_a.OpenFile(page);
  locks_b.OpenFile(page);
  const std::int32_t id_a = LocalHandle(*a).SessionID;
  const std::int32_t id_b = LocalHandle(*b).SessionID;
  ASSERT_TRUE(da.TableLockManager()->LockTable(id_a, ltX, locks_a, 1, 0, false));
  EXPECT_FALSE(db.TableLockManager()->LockTable(id_b, ltS, locks_b, 1, 0, false));
  ASSERT_TRUE(da.TableLockManager()->UnlockTable(id_a, ltX, locks_a, false, false));
  ASSERT_TRUE(db.TableLockManager()->LockTable(id_b, ltS, locks_b, 1, 0, false));
  EXPECT_FALSE(da.TableLockManager()->LockTable(id_a, ltX, locks_a, 1, 0, false));
  ASSERT_TRUE(db.TableLockManager()->UnlockTable(id_b, ltS, locks_b, false, false));
}

TEST_F(DatabaseTest, TransactionsGoThroughTheHandle) {
  const std::string file = Path("tx.vez");
  test::CreateDatabaseFile(file);
  auto database = MakeDatabase("Log", file);
  database->Open();
  EXPECT_EQ(NativeErrorOf([&] { database->Commit(); }), 20229);
  EXPECT_EQ(NativeErrorOf([&] { database->Rollback(); }), 20229);
  database->StartTransaction();
  EXPECT_TRUE(database->InTransaction());
  EXPECT_EQ(DatabaseErrorOf([&] { database->StartTransaction(); }),
            "Database is already within a transaction");
  database->Commit(false);
  EXPECT_FALSE(database->InTransaction());
  database->StartTransaction();
  database->Rollback();
  EXPECT_FALSE(database->InTransaction());
  database->FlushBuffers();
}

TEST_F(DatabaseTest, AHandleFromAnotherSessionIsRefusedAndATakenOneIsNotFreed) {
  const std::string file = Path("handle.vez");
  test::CreateDatabaseFile(file);
  auto owner = MakeDatabase("Owner", file);
  owner->Open();
  TVEZSession other;
  other.SetSessionName("Other");
  auto stranger = MakeDatabase("Stranger", file, &other);
  EXPECT_EQ(DatabaseErrorOf([&] { stranger->SetHandle(owner->Handle()); }),
            "Database handle owned by a different session");
  EXPECT_FALSE(stranger->Connected());

  auto taker = MakeDatabase("Taker", file);
  taker->SetHandle(owner->Handle());
  EXPECT_TRUE(taker->Connected());
  taker->SetHandle(nullptr);
  EXPECT_FALSE(taker->Connected());
  EXPECT_TRUE(LocalHandle(*owner).Connected());
}

// ---- Password.

class PasswordTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    file_ = Path("secret.vez");
    test::CreateDatabaseFile(file_);
    data_ = std::make_unique<test::PasswordGuardedData>(file_, "right");
    database_ = MakeDatabase("Log", file_);
  }
  void TearDown() override {
    database_.reset();
    data_.reset();
    DatabaseTest::TearDown();
  }

  std::string file_;
  std::unique_ptr<test::PasswordGuardedData> data_;
  std::unique_ptr<TVEZDatabase> database_;
};

TEST_F(PasswordTest, ThePromptIsAskedUntilThePasswordIsRight) {
  ScriptedEngineUi ui;
  platform::ScopedEngineUi installed(ui);
  ui.QueuePassword("wrong");
  ui.QueuePassword("right");
  database_->Open();
  EXPECT_TRUE(database_->Connected());
  EXPECT_EQ(database_->Password(), "right");
  EXPECT_EQ(data_->attempts, 3);
  EXPECT_EQ(ui.Log(), (std::vector<std::string>{"password:", "password:"}));
  EXPECT_EQ(data_->SessionList().size(), 1u);
  ui.ExpectDone();
}

TEST_F(PasswordTest, CancellingThePromptPassesTheErrorOnAndLeavesNothingConnected) {
  ScriptedEngineUi ui;
  platform::ScopedEngineUi installed(ui);
  ui.QueuePassword("wrong");
  ui.QueuePassword(std::nullopt);
  EXPECT_EQ(NativeErrorOf([&] { database_->Open(); }), 30445);
  EXPECT_FALSE(database_->Connected());
  EXPECT_EQ(data_->attempts, 2);
  EXPECT_TRUE(data_->SessionList().empty());
  EXPECT_FALSE(data_->IsOpen());
  ui.ExpectDone();
}

TEST_F(PasswordTest, SilentModeFailsAtOnceUnlessTheEventAnswers) {
  ScriptedEngineUi ui;  // any prompt fails the test
  platform::ScopedEngineUi installed(ui);
  database_->SetSilentMode(true);
  EXPECT_EQ(NativeErrorOf([&] { database_->Open(); }), 30445);
  EXPECT_EQ(data_->attempts, 1);

  int asked = 0;
  database_->OnPassword = [&](TVEZDatabase& sender, bool& cont) {
    EXPECT_FALSE(cont);
    ++asked;
    sender.SetPassword(asked == 1 ? "guess" : "right");
    cont = true;
  };
  database_->Open();
  EXPECT_TRUE(database_->Connected());
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(ui.Log().empty());
}

// ---- Repair on open.

class RepairTest : public DatabaseTest {
 protected:
  // A file whose last commit was cut off before its end (changes state 1).
  std::string TornFile(double version = 7.5) {
    const std::string file = Path("torn.vez");
    test::CreateDatabaseFile(file);
    test::EditHeader(file, [&](TVEZDBHeader& h) {
      h.WriteChangesState = kWriteChangesInProgress;
      h.Version = version;
    });
    return file;
  }
};

TEST_F(RepairTest, NoOpensTheFileAsItIs) {
  auto database = MakeDatabase("Log", TornFile());
  ScriptedEngineUi ui;
  platform::ScopedEngineUi installed(ui);
  ui.QueueConfirm(false);
  database->Open();
  EXPECT_TRUE(database->Connected());
  EXPECT_TRUE(LocalHandle(*database).RepairNeeded);
  EXPECT_EQ(ui.Log(), std::vector<std::string>{kRepairQuestion});
  ui.ExpectDone();
}

TEST_F(RepairTest, YesRepairsTheFileAndOpensTheRepairedOne) {
  for (const bool by_event : {false, true}) {
    SCOPED_TRACE(by_event);
    const std::string file = TornFile();
    auto database = MakeDatabase("Log", file);
    ScriptedEngineUi ui;
    platform::ScopedEngineUi installed(ui);
    if (by_event) {
      database->OnNeedRepair = [](TVEZDatabase&, bool& repair) { repair = true; };
    } else {
      ui.QueueConfirm(true);
    }
    database->Open();
    EXPECT_TRUE(database->Connected());
    EXPECT_FALSE(LocalHandle(*database).RepairNeeded);
    EXPECT_NE(std::find(ui.Log().begin(), ui.Log().end(), "wait:Repairing Database..."),
              ui.Log().end());
    EXPECT_FALSE(fs::exists(file + ".tmp"));
    ui.ExpectDone();
    database->Close();
  }
}

TEST_F(RepairTest, AnOldFileIsAnnouncedAndConverted) {
  const std::string file = TornFile(2.5);
  auto database = MakeDatabase("Log", file);
  ScriptedEngineUi ui;
  platform::ScopedEngineUi installed(ui);
  ui.ExpectInform();
  database->Open();
  EXPECT_TRUE(database->Connected());
  ASSERT_FALSE(ui.Log().empty());
  EXPECT_EQ(ui.Log()[0].rfind("inform:Database file you are opening is of old format.", 0), 0u);
  ui.ExpectDone();
  database->Close();
  const std::vector<std::uint8_t> bytes = test::ReadAll(file);
  EXPECT_GT(TVEZDBHeader::Decode(bytes.data()).Version, 2.5);
}

TEST_F(RepairTest, SilentModeNeverAsks) {
  auto database = MakeDatabase("Log", TornFile());
  ScriptedEngineUi ui;
  platform::ScopedEngineUi installed(ui);
  database->SetSilentMode(true);
  database->Open();
  EXPECT_TRUE(database->Connected());
  EXPECT_TRUE(ui.Log().empty());
}

// ---- Deleting and renaming files.

// A file with tables T1, T2, T3 committed one by one, the file and journal
// as a process killed in the middle of the commit of T2 left them, and a
// copy of the file as it was before that commit.
class FileOperationsTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    file_ = Path("source.vez");
    base_ = Path("base.vez");
    test::CreateDatabaseFile(file_);
    test::CommitSnapshotFileSystem snapshots(file_);
    platform::ScopedFileSystem installed(snapshots);
    auto database = MakeDatabase("Source", file_);
    database->SetDurability(TVEZDurability::Normal);
    database->Open();
    test::AddCatalogueEntry(DiskData(*database), 1, "T1");
    database->Close();
    fs::copy_file(file_, base_);
    database->Open();
    snapshots.enabled = true;
    test::AddCatalogueEntry(DiskData(*database), 2, "T2");
    snapshots.enabled = false;
    test::AddCatalogueEntry(DiskData(*database), 3, "T3");
    database->Close();
    const test::FilePair* torn = snapshots.TornCommit();
    ASSERT_NE(torn, nullptr);
    torn_ = *torn;
  }

  // Opens file with a UI that fails the test on any question.
  std::vector<std::string> TablesOfFile(const std::string& file) {
    ScriptedEngineUi ui;
    platform::ScopedEngineUi installed(ui);
    auto database = MakeDatabase("Check", file);
    database->Open();
    EXPECT_FALSE(LocalHandle(*database).RepairNeeded);
    return TablesOf(*database);
  }

  std::string file_;
  std::string base_;
  test::FilePair torn_;
};

TEST_F(FileOperationsTest, TheSnapshotIsATornCommitTheJournalUndoes) {
  const std::string file = Path("check.vez");
  test::WriteAll(file, torn_.db);
  {
    // Without its journal the file reports the cut.
    auto database = MakeDatabase("Check", file);
    database->SetSilentMode(true);
    database->Open();
    EXPECT_TRUE(LocalHandle(*database).RepairNeeded);
  }
  test::WriteAll(file, torn_.db);
  test::WriteAll(file + "-journal", torn_.journal);
  EXPECT_EQ(TablesOfFile(file), std::vector<std::string>{"T1"});
}

TEST_F(FileOperationsTest, RenameKeepsTheRepairTheJournalHolds) {
  const std::string from = Path("torn.vez");
  const std::string to = Path("moved.vez");
  test::WriteAll(from, torn_.db);
  test::WriteAll(from + "-journal", torn_.journal);
  auto database = MakeDatabase("Torn", from);
  database->RenameDatabase(to);
  EXPECT_EQ(database->DatabaseFileName(), to);
  EXPECT_FALSE(fs::exists(from));
  EXPECT_FALSE(fs::exists(from + "-journal"));
  EXPECT_FALSE(fs::exists(to + "-journal"));
  EXPECT_EQ(TablesOfFile(to), std::vector<std::string>{"T1"});
}

TEST_F(FileOperationsTest, RenameDropsAJournalLeftUnderTheNewName) {
  // A copy of the file before T2 that went its own way: its commit of X2 is
  // the very step the journal of the crashed T2 commit would undo.
  const std::string from = Path("branch.vez");
  const std::string to = Path("target.vez");
  fs::copy_file(base_, from);
  {
    auto branch = MakeDatabase("Branch", from);
    branch->Open();
    test::AddCatalogueEntry(DiskData(*branch), 2, "X2");
  }
  // The crashed file is gone; its journal is left under the new name.
  test::WriteAll(to + "-journal", torn_.journal);
  auto database = MakeDatabase("Branch", from);
  database->RenameDatabase(to);
  EXPECT_FALSE(fs::exists(to + "-journal"));
  EXPECT_EQ(TablesOfFile(to), (std::vector<std::string>{"T1", "X2"}));
}

TEST_F(FileOperationsTest, RenameIsRefusedForATakenNameOrAFileInUse) {
  const std::string from = Path("a.vez");
  const std::string taken = Path("b.vez");
  fs::copy_file(file_, from);
  fs::copy_file(file_, taken);
  // The taken name's journal is its file's own and stays.
  test::WriteAll(taken + "-journal", torn_.journal);
  auto database = MakeDatabase("A", from);
  EXPECT_EQ(NativeErrorOf([&] { database->RenameDatabase(taken); }), 30378);
  const std::string message =
      test::ErrorMessageOf<EVEZException>([&] { database->RenameDatabase(taken); });
  EXPECT_EQ(message.rfind("Cannot rename file '" + from + "' to '" + taken +
                              "' ErrorCode:" + std::to_string(EEXIST) + ". ErrorMessage: ",
                          0),
            0u)
      << message;
  EXPECT_EQ(database->DatabaseFileName(), from);
  EXPECT_EQ(test::ReadAll(taken), test::ReadAll(file_));
  EXPECT_EQ(test::ReadAll(taken + "-journal"), torn_.journal);

  auto user = MakeDatabase("User", from);
  user->Open();
  EXPECT_NE(NativeErrorOf([&] { database->RenameDatabase(Path("c.vez")); }), 0);
  EXPECT_TRUE(fs::exists(from));
  EXPECT_FALSE(fs::exists(Path("c.vez")));
  EXPECT_EQ(TablesOf(*user), (std::vector<std::string>{"T1", "T2", "T3"}));
}

TEST_F(FileOperationsTest, DeleteRemovesTheFileWithItsJournalOrReportsWhyNot) {
  const std::string file = Path("gone.vez");
  test::WriteAll(file, torn_.db);
  test::WriteAll(file + "-journal", torn_.journal);
  auto database = MakeDatabase("Gone", file);
  database->DeleteDatabase();
  EXPECT_FALSE(fs::exists(file));
  EXPECT_FALSE(fs::exists(file + "-journal"));
  // A missing file is a failure too.
  EXPECT_NE(NativeErrorOf([&] { database->DeleteDatabase(); }), 0);

  // A file someone holds stays, and its user goes on.
  fs::copy_file(file_, file);
  auto user = MakeDatabase("User", file);
  user->SetMultiUser(true);
  user->Open();
  EXPECT_NE(NativeErrorOf([&] { database->DeleteDatabase(); }), 0);
  EXPECT_TRUE(fs::exists(file));
  EXPECT_EQ(TablesOf(*user), (std::vector<std::string>{"T1", "T2", "T3"}));

  // A file that is no database at all is deleted all the same.
  const std::string foreign = Path("foreign.vez");
  test::WriteAll(foreign, std::vector<std::uint8_t>(1000, 0x42));
  database->SetDatabaseFileName(foreign);
  database->DeleteDatabase();
  EXPECT_FALSE(fs::exists(foreign));
}

// Refuses to delete one path, as a folder the user may not change does.
class RefusingDeleteFileSystem : public platform::FileSystemWrapper {
 public:
  explicit RefusingDeleteFileSystem(std::string refused)
      : FileSystemWrapper(platform::DefaultFileSystem()), refused_(std::move(refused)) {}
  void DeleteFile(const std::string& path) override {
    if (path == refused_) throw platform::EOSError(EACCES, "Cannot delete '" + path + "'");
    FileSystemWrapper::DeleteFile(path);
  }

 private:
  std::string refused_;
};

TEST_F(FileOperationsTest, AJournalThatCannotBeDeletedIsReportedAsTheEngineReportsFiles) {
  const std::string file = Path("kept.vez");
  const std::string journal = file + "-journal";
  test::WriteAll(file, torn_.db);
  test::WriteAll(journal, torn_.journal);
  RefusingDeleteFileSystem refusing(journal);
  platform::ScopedFileSystem installed(refusing);
  auto database = MakeDatabase("Kept", file);
  try {
    database->DeleteDatabase();
    ADD_FAILURE() << "the journal was deleted";
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), 30362);
    const std::string prefix = "Cannot delete file: '" + journal +
                               "' Error code: " + std::to_string(EACCES) + ". ErrorMessage: ";
    EXPECT_EQ(std::string(e.what()).rfind(prefix, 0), 0u) << e.what();
  }
  EXPECT_TRUE(fs::exists(journal));
}

}  // namespace
}  // namespace vez

// ---- Encrypted files and the password change.

namespace vez {
namespace {

class EncryptedDatabaseTest : public DatabaseTest {};

TEST_F(EncryptedDatabaseTest, CreateOpenAndChangeThePassword) {
  const std::string file = Path("enc.vez");
  auto database = MakeDatabase("Log", file);
  database->SetSilentMode(true);
  database->SetPassword("first");
  database->SetCryptoAlgorithm(craTwofish_256);
  database->CreateDatabase();
  {
    TVEZTable vessels;
    vessels.SetDatabaseName("Log");
    vessels.SetTableName("Vessels");
    vessels.FieldDefs().Add("ID", platform::ftInteger);
    vessels.CreateTable();
  }
  database->Close();

  // A wrong password is refused; the stored combination wins at open.
  database->SetPassword("second");
  EXPECT_EQ(NativeErrorOf([&] { database->Open(); }), 30445);
  EXPECT_EQ(NativeErrorOf([&] { database->ChangePassword("third"); }), 30445);
  EXPECT_FALSE(fs::exists(file + ".tmp"));
  database->SetPassword("first");
  database->SetCryptoAlgorithm(craRijndael_128);
  EXPECT_EQ(TablesOf(*database), (std::vector<std::string>{"Vessels"}));
  EXPECT_EQ(database->CryptoAlgorithm(), craTwofish_256);

  EXPECT_EQ(database->ChangePassword("second", craDES_Triple), "");
  EXPECT_EQ(database->Password(), "second");
  EXPECT_EQ(database->CryptoAlgorithm(), craDES_Triple);
  EXPECT_FALSE(fs::exists(file + ".tmp"));
  EXPECT_EQ(TablesOf(*database), (std::vector<std::string>{"Vessels"}));

  auto old = MakeDatabase("Old", file);
  old->SetSilentMode(true);
  old->SetPassword("first");
  EXPECT_EQ(NativeErrorOf([&] { old->Open(); }), 30445);

  // An open database is not changed.
  database->Open();
  EXPECT_ANY_THROW(database->ChangePassword("x"));
  database->Close();

  // Back to a plain file.
  EXPECT_EQ(database->ChangePassword(""), "");
  auto plain = MakeDatabase("Plain", file);
  EXPECT_EQ(TablesOf(*plain), (std::vector<std::string>{"Vessels"}));
}

}  // namespace
}  // namespace vez

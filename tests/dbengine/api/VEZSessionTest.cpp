// Sessions and the layer's process-wide state: the default session, session
// names (automatic ones too), tokens, temporary databases made for datasets,
// the cells list, finalization with open databases, and a process that ends
// with components still alive.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZSession.h"
#include "dbengine/api/VEZSessionList.h"
#include "platform/dataset/DatabaseError.h"
#include "tests/dbengine/api/SessionTestSupport.h"

namespace vez {
namespace {

using test::DatabaseErrorOf;
using test::DiskDatabases;
using test::FakeDataSet;
using test::LocalHandle;
using test::NativeErrorOf;

class SessionTest : public test::SessionLayerTest {};

void ExpectProcessDatabasesListed() {
  for (const std::string name : {"MEMORY", "TEMP"})
    EXPECT_NE(
        DatabaseDataList().Find([&](TVEZDatabaseData* d) { return d->DatabaseName() == name; }),
        nullptr)
        << name;
}

TEST_F(SessionTest, TheDefaultSessionIsThereBeforeAnyUseAndFoundByItsNameInAnyCase) {
  EXPECT_FALSE(SessionLayerInitialized());
  TVEZSessionList& list = Sessions();
  EXPECT_TRUE(SessionLayerInitialized());
  ASSERT_EQ(list.Count(), 1);
  TVEZSession& session = DefaultSession();
  EXPECT_EQ(list.GetSession(0), &session);
  EXPECT_TRUE(session.IsDefault());
  EXPECT_EQ(session.SessionName(), "Default");
  EXPECT_FALSE(session.Active());
  for (const std::string name : {"", "default", "DEFAULT", "Default"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(list.FindSession(name), &session);
    EXPECT_EQ(&list.GetSessionByName(name), &session);
  }
  EXPECT_EQ(list.FindSession("Other"), nullptr);
  EXPECT_EQ(NativeErrorOf([&] { list.GetSessionByName("Other"); }), 20002);
  std::vector<std::string> names;
  list.GetSessionNames(names);
  EXPECT_EQ(names, std::vector<std::string>{"Default"});
  // "MEMORY" and "TEMP" are listed from the start.
  ExpectProcessDatabasesListed();
}

TEST_F(SessionTest, TokensFollowTheActiveSessions) {
  EXPECT_EQ(NativeErrorOf([] { GetDefaultSessionHandle(); }), 20007);
  TVEZSession& def = DefaultSession();
  TVEZSessionComponentManager* token = def.Handle();
  ASSERT_NE(token, nullptr);
  EXPECT_TRUE(def.Active());
  EXPECT_EQ(GetDefaultSessionHandle(), token);
  EXPECT_EQ(Sessions().CurrentSession(), &def);

  TVEZSession other;
  other.SetSessionName("Other");
  other.Open();
  EXPECT_TRUE(other.Active());
  other.LockSession();
  EXPECT_EQ(Sessions().CurrentSession(), &other);
  EXPECT_NE(other.Handle(), token);
  other.UnlockSession();
  Sessions().SetCurrentSession(def);
  EXPECT_EQ(CurrentSessionHandle(), token);
  other.Close();
  EXPECT_FALSE(other.Active());
  EXPECT_EQ(CurrentSessionHandle(), token);
  def.Close();
  EXPECT_EQ(CurrentSessionHandle(), nullptr);
  EXPECT_EQ(NativeErrorOf([] { GetDefaultSessionHandle(); }), 20007);
}

TEST_F(SessionTest, SessionNamesAreUniqueInAnyCaseAndFixedWhileActive) {
  TVEZSession a;
  a.SetSessionName("Alpha");
  TVEZSession b;
  struct Row {
    const char* name;
    const char* error;
  };
  const Row rows[] = {{"alpha", "Duplicate session name 'alpha'"},
                      {"ALPHA", "Duplicate session name 'ALPHA'"},
                      {"DEFAULT", "Duplicate session name 'DEFAULT'"},
                      {"Beta", ""}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(DatabaseErrorOf([&] { b.SetSessionName(row.name); }), row.error);
  }
  EXPECT_EQ(b.SessionName(), "Beta");
  EXPECT_EQ(a.SessionName(), "Alpha");
  // Renaming to its own name is no clash.
  a.SetSessionName("alpha");
  EXPECT_EQ(Sessions().FindSession("ALPHA"), &a);

  b.Open();
  EXPECT_EQ(DatabaseErrorOf([&] { b.SetSessionName("Gamma"); }),
            "Cannot perform this operation on an active session");
  EXPECT_EQ(b.SessionName(), "Beta");
  TVEZSession unnamed;
  EXPECT_EQ(DatabaseErrorOf([&] { unnamed.Open(); }), "Session name missing");
  EXPECT_FALSE(unnamed.Active());
}

TEST_F(SessionTest, OpenSessionFindsOrMakesAnActiveSession) {
  TVEZSession& made = Sessions().OpenSession("Worker");
  EXPECT_TRUE(made.Active());
  EXPECT_FALSE(made.IsDefault());
  EXPECT_EQ(&Sessions().OpenSession("WORKER"), &made);
  EXPECT_EQ(&Sessions().OpenSession(""), &DefaultSession());
  EXPECT_EQ(Sessions().Count(), 2);
  // A session goes back to the default one as current when it stops.
  made.Close();
  EXPECT_EQ(Sessions().CurrentSession(), &DefaultSession());
}

TEST_F(SessionTest, AutomaticNamesTakeTheLowestFreeNumberAndReachTheOwnersComponents) {
  platform::Component form(nullptr, "Form");
  auto session = std::make_unique<TVEZSession>(&form);
  session->SetName("Sess");
  FakeDataSet table(&form, "Runs", false);
  auto database = std::make_unique<TVEZDatabase>(&form);
  EXPECT_EQ(database->Session(), &DefaultSession());

  session->SetAutoSessionName(true);
  EXPECT_EQ(session->SessionName(), "Sess_1");
  EXPECT_EQ(session->SessionNumber(), 0);
  EXPECT_EQ(table.GetSessionName(), "Sess_1");
  EXPECT_EQ(database->SessionName(), "Sess_1");
  EXPECT_EQ(database->Session(), session.get());
  EXPECT_EQ(DatabaseErrorOf([&] { session->SetSessionName("Manual"); }),
            "Sess: Cannot modify SessionName while AutoSessionName is enabled");
  // A component made on the form later joins that session.
  TVEZDatabase later(&form);
  EXPECT_EQ(later.Session(), session.get());
  EXPECT_EQ(later.SessionName(), "Sess_1");
  // Renaming the component renames the session.
  session->SetName("Main");
  EXPECT_EQ(session->SessionName(), "Main_1");

  platform::Component other_form(nullptr, "Other");
  TVEZSession second(&other_form);
  second.SetName("Second");
  second.SetAutoSessionName(true);
  EXPECT_EQ(second.SessionName(), "Second_2");

  // Disabling frees the number for the next session.
  session->SetAutoSessionName(false);
  EXPECT_EQ(session->SessionNumber(), -1);
  platform::Component third_form(nullptr, "Third");
  TVEZSession third(&third_form);
  third.SetName("Third");
  third.SetAutoSessionName(true);
  EXPECT_EQ(third.SessionName(), "Third_1");

  // One session per owner while automatic names are on.
  EXPECT_EQ(DatabaseErrorOf([&] { TVEZSession extra(&third_form); }),
            "Cannot add a session to the form or data-module while session 'Third' has "
            "AutoSessionName enabled");
  platform::Component fourth_form(nullptr, "Fourth");
  TVEZSession one(&fourth_form);
  TVEZSession two(&fourth_form);
  EXPECT_EQ(DatabaseErrorOf([&] { two.SetAutoSessionName(true); }),
            "Cannot enable AutoSessionName property with more than one session on a form or "
            "data-module");
  EXPECT_FALSE(two.AutoSessionName());
  EXPECT_EQ(two.SessionNumber(), -1);
  database.reset();
  session.reset();
}

TEST_F(SessionTest, ADatasetGetsATemporaryDatabaseThatGoesWithItsLastUser) {
  TVEZSession& session = DefaultSession();
  std::vector<std::string> events;
  session.OnDBNotify = [&](TVEZDatabaseEvent event, TVEZDatabase& database) {
    static const char* const names[] = {"open", "close", "add", "remove"};
    events.push_back(std::string(names[static_cast<int>(event)]) + ":" + database.DatabaseName());
  };
  session.SetKeepConnections(false);
  FakeDataSet a(nullptr, "a", false);
  FakeDataSet b(nullptr, "b", false);
  a.Attach(session, "MEMORY");
  b.Attach(session, "memory");
  ASSERT_EQ(a.Database(), b.Database());
  TVEZDatabase* database = a.Database();
  EXPECT_TRUE(database->Temporary());
  EXPECT_TRUE(database->SilentMode());
  EXPECT_FALSE(database->KeepConnection());
  EXPECT_EQ(database->RefCount(), 2);
  EXPECT_EQ(database->Owner(), &session);
  EXPECT_EQ(database->DataSetCount(), 2);
  EXPECT_EQ(LocalHandle(*database).DatabaseData()->DatabaseName(), "MEMORY");
  EXPECT_EQ(session.DatabaseCount(), 1);
  a.Detach();
  EXPECT_EQ(session.DatabaseCount(), 1);
  EXPECT_EQ(database->RefCount(), 1);
  b.Detach();
  EXPECT_EQ(session.DatabaseCount(), 0);
  EXPECT_EQ(events,
            (std::vector<std::string>{"add:", "open:MEMORY", "close:MEMORY", "remove:MEMORY"}));
  session.OnDBNotify = nullptr;

  // Kept connections stay until dropped.
  session.SetKeepConnections(true);
  {
    FakeDataSet c(nullptr, "c", false);
    c.Attach(session, "TEMP");
  }
  ASSERT_EQ(session.DatabaseCount(), 1);
  EXPECT_TRUE(session.GetDatabase(0)->Connected());
  EXPECT_EQ(session.GetDatabase(0)->RefCount(), 0);
  session.DropConnections();
  EXPECT_EQ(session.DatabaseCount(), 0);
}

TEST_F(SessionTest, ClosingATemporaryDatabaseByHandKeepsItUntilItsClosingEnds) {
  TVEZSession& session = DefaultSession();
  session.SetKeepConnections(false);
  FakeDataSet a(nullptr, "a", false);
  FakeDataSet b(nullptr, "b", false);
  a.Attach(session, "MEMORY");
  b.Attach(session, "MEMORY");
  TVEZDatabase* database = a.Database();
  // Each dataset letting go tells the session, which would free the
  // database in the middle of its own Close.
  database->Close();
  EXPECT_EQ(a.Database(), nullptr);
  EXPECT_EQ(b.Database(), nullptr);
  ASSERT_EQ(session.DatabaseCount(), 1);
  EXPECT_FALSE(session.GetDatabase(0)->Connected());
  session.DropConnections();
  EXPECT_EQ(session.DatabaseCount(), 0);
}

TEST_F(SessionTest, ATemporaryDatabaseThatCannotOpenIsFreedAgain) {
  TVEZSession& session = DefaultSession();
  FakeDataSet dataset(nullptr, "d", false);
  // No component declares "Nowhere" and no file backs it.
  EXPECT_NE(NativeErrorOf([&] { dataset.Attach(session, "Nowhere"); }), 0);
  EXPECT_EQ(dataset.Database(), nullptr);
  EXPECT_EQ(session.DatabaseCount(), 0);
  EXPECT_TRUE(DiskDatabases().empty());
}

TEST_F(SessionTest, SessionsFindDatabasesTheirOwnersShareFirst) {
  const std::string file = Path("shared.vez");
  test::CreateDatabaseFile(file);
  platform::Component form(nullptr, "Form");
  auto plain = test::MakeDatabase("Log", file);
  plain->SetHandleShared(true);
  plain->SetKeepConnection(false);
  auto shared = test::MakeDatabase("Other", file, &form);
  shared->SetHandleShared(true);
  shared->SetDatabaseName("log");
  TVEZSession& session = DefaultSession();
  EXPECT_EQ(session.FindDatabase("LOG"), plain.get());
  EXPECT_EQ(session.DoFindDatabase("LOG", &form), shared.get());
  EXPECT_EQ(session.DoFindDatabase("LOG", nullptr), plain.get());
  std::vector<std::string> names;
  session.GetDatabaseNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"Log", "log"}));
  // Tables of a named database: opened for the question and closed again.
  plain->Open();
  test::AddCatalogueEntry(test::DiskData(*plain), 3, "Trials");
  plain->Close();
  session.GetTableNames("Log", names);
  EXPECT_EQ(names, std::vector<std::string>{"Trials"});
  EXPECT_FALSE(plain->Connected());
  session.GetTableNames("", names);
  EXPECT_TRUE(names.empty());
}

TEST_F(SessionTest, ADestroyedSessionSendsItsDatabasesBackToTheDefaultSession) {
  const std::string file = Path("back.vez");
  test::CreateDatabaseFile(file);
  auto session = std::make_unique<TVEZSession>();
  session->SetSessionName("Temporary");
  auto database = test::MakeDatabase("Log", file, session.get());
  EXPECT_EQ(database->Session(), session.get());
  database->Open();
  session.reset();
  EXPECT_FALSE(database->Connected());
  EXPECT_EQ(database->Session(), &DefaultSession());
  EXPECT_EQ(DefaultSession().FindDatabase("Log"), database.get());
  database->Open();
  EXPECT_TRUE(database->Connected());
}

TEST_F(SessionTest, FinalizationClosesEveryDatabaseAndKeepsTheProcessDatabases) {
  const std::string file = Path("final.vez");
  test::CreateDatabaseFile(file);
  auto permanent = test::MakeDatabase("Log", file);
  permanent->Open();
  auto user_session = std::make_unique<TVEZSession>();
  user_session->SetSessionName("User");
  auto in_user_session = test::MakeDatabase("Log", file, user_session.get());
  in_user_session->Open();
  FakeDataSet dataset(nullptr, "d", false);
  dataset.Attach(DefaultSession(), "TEMP");
  // A session made by hand, outside any component, on another file.
  const std::string other_file = Path("loose.vez");
  test::CreateDatabaseFile(other_file);
  auto loose = std::make_unique<TVEZLocalSession>();
  loose->DatabaseName = "Loose";
  loose->DatabaseFileName = other_file;
  loose->SetConnected(true);
  std::u16string* cell = NewWideStringCell();
  *cell = u"cell";
  EXPECT_EQ(WideStringCellCount(), 1u);
  EXPECT_EQ(DiskDatabases().size(), 2u);

  FinalizeSessionLayer();
  // The dataset's temporary database went with the layer, letting it go.
  EXPECT_EQ(dataset.Database(), nullptr);
  EXPECT_FALSE(SessionLayerInitialized());
  EXPECT_FALSE(permanent->Connected());
  EXPECT_FALSE(in_user_session->Connected());
  EXPECT_FALSE(loose->Connected());
  EXPECT_EQ(permanent->Session(), nullptr);
  EXPECT_TRUE(DiskDatabases().empty());
  EXPECT_EQ(WideStringCellCount(), 0u);
  ExpectProcessDatabasesListed();
  // Idempotent.
  FinalizeSessionLayer();

  // The components outlive the layer; the next use starts it afresh.
  permanent->Open();
  EXPECT_TRUE(SessionLayerInitialized());
  EXPECT_EQ(permanent->Session(), &DefaultSession());
  permanent->Close();
  in_user_session.reset();
  user_session.reset();
}

// ---- The end of the process.

// A database component held by a static object, open inside a transaction
// when the process ends. Made before the layer starts, the holder is
// destroyed after the layer's exit step; made after, before it. Either way
// the process exits cleanly and the file is left whole.
[[noreturn]] void ExitWithOpenDatabase(const std::string& file, bool holder_first) {
  static std::unique_ptr<TVEZDatabase>* holder = nullptr;
  if (holder_first) {
    static std::unique_ptr<TVEZDatabase> early;
    holder = &early;
    DefaultSession();
  } else {
    DefaultSession();
    static std::unique_ptr<TVEZDatabase> late;
    holder = &late;
  }
  *holder = test::MakeDatabase("Log", file);
  (*holder)->Open();
  test::AddCatalogueEntry(test::DiskData(**holder), holder_first ? 1 : 2,
                          holder_first ? "Early" : "Late");
  (*holder)->StartTransaction();
  std::exit(0);
}

TEST_F(SessionTest, AProcessEndingWithOpenDatabasesExitsCleanly) {
  const std::string file = Path("exit.vez");
  {
    // Made without the layer, so that a child starts it itself.
    TVEZDiskDatabaseData creator(file);
    creator.SetPageSize(4096);
    creator.SetPageCountInExtent(8);
    creator.SetMaxSessionCount(16);
    creator.CreateDatabase();
  }
  ASSERT_FALSE(SessionLayerInitialized());
  EXPECT_EXIT(ExitWithOpenDatabase(file, true), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(ExitWithOpenDatabase(file, false), ::testing::ExitedWithCode(0), "");
  auto database = test::MakeDatabase("Log", file);
  database->SetExclusive(true);
  database->Open();
  EXPECT_FALSE(LocalHandle(*database).RepairNeeded);
  EXPECT_EQ(test::TablesOf(*database), (std::vector<std::string>{"Early", "Late"}));
}

}  // namespace
}  // namespace vez

// The local session: which database data a session connects to, the
// settings it reads back from the file, transactions, creating a file, a
// connect that fails after the session joined, and the local BLOB stream.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "dbengine/api/VEZLocalBLOBStream.h"
#include "dbengine/api/VEZLocalSession.h"
#include "dbengine/foundation/VEZMemoryStream.h"
#include "dbengine/storage/VEZDatabaseDataList.h"
#include "dbengine/storage/VEZDiskDatabaseData.h"
#include "tests/dbengine/api/SessionTestSupport.h"

namespace vez {
namespace {

using test::DiskDatabases;
using test::IsListed;
using test::IsSessionListed;
using test::NativeErrorOf;

class LocalSessionTest : public test::SessionLayerTest {
 protected:
  std::unique_ptr<TVEZLocalSession> MakeSession(const std::string& alias, const std::string& file,
                                                bool multi_user = false,
                                                const std::string& session_name = "") {
    auto session = std::make_unique<TVEZLocalSession>();
    session->DatabaseName = alias;
    session->DatabaseFileName = file;
    session->MultiUser = multi_user;
    session->SessionName = session_name;
    session->PageSize = 4096;
    session->PageCountInExtent = 8;
    session->MaxSessionCount = 16;
    session->Durability = TVEZDurability::Off;
    return session;
  }
};

TEST_F(LocalSessionTest, AliasAndFileChooseTheDatabaseData) {
  const std::string file = Path("a.vez");
  test::CreateDatabaseFile(file);
  struct Row {
    const char* alias;
    bool disk;
    const char* process_database;  // for the memory and temporary databases
  };
  // Only the exact aliases reach the process's databases, whatever the file.
  const Row rows[] = {{"MEMORY", false, "MEMORY"},
                      {"TEMP", false, "TEMP"},
                      {"memory", true, ""},
                      {"Temp", true, ""},
                      {"Logs", true, ""}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.alias);
    auto session = MakeSession(row.alias, file);
    session->SetConnected(true);
    ASSERT_TRUE(session->Connected());
    TVEZDatabaseData* data = session->DatabaseData();
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(IsSessionListed(*data, *session));
    if (row.disk) {
      ASSERT_NE(dynamic_cast<TVEZDiskDatabaseData*>(data), nullptr);
      EXPECT_EQ(DiskDatabases().size(), 1u);
    } else {
      EXPECT_EQ(data->DatabaseName(), row.process_database);
      EXPECT_TRUE(DiskDatabases().empty());
      // No file to cut, no sessions of other processes.
      session->TruncateDatabase();
      EXPECT_EQ(session->GetDBFileConnectionsCount(), 0);
    }
    session->SetConnected(false);
    EXPECT_FALSE(session->Connected());
    EXPECT_EQ(session->DatabaseData(), nullptr);
    // The disk database data goes with its last session; the process's
    // databases stay.
    EXPECT_TRUE(DiskDatabases().empty());
    if (!row.disk) {
      EXPECT_TRUE(IsListed(data));
      EXPECT_FALSE(IsSessionListed(*data, *session));
    }
  }
}

TEST_F(LocalSessionTest, SessionsShareADatabaseDataByFileAndSessionName) {
  const std::string file = Path("shared.vez");
  const std::string link = Path("link.vez");
  test::CreateDatabaseFile(file);
  ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
  // Single-user sessions meet in one database data whatever name reaches the
  // file; multi-user ones share it only within one session name.
  auto a = MakeSession("A", file);
  auto b = MakeSession("B", link);
  a->SetConnected(true);
  b->SetConnected(true);
  EXPECT_EQ(a->DatabaseData(), b->DatabaseData());
  EXPECT_EQ(a->DatabaseData()->SessionList().size(), 2u);
  a->SetConnected(false);
  EXPECT_TRUE(static_cast<TVEZDiskDatabaseData*>(b->DatabaseData())->IsOpen());
  b->SetConnected(false);
  EXPECT_TRUE(DiskDatabases().empty());

  auto m1 = MakeSession("M", file, true, "One");
  auto m2 = MakeSession("M", link, true, "one");
  auto m3 = MakeSession("M", file, true, "Two");
  for (auto* s : {m1.get(), m2.get(), m3.get()})
    s->SetConnected(true);
  EXPECT_EQ(m1->DatabaseData(), m2->DatabaseData());
  EXPECT_NE(m1->DatabaseData(), m3->DatabaseData());
  EXPECT_EQ(DiskDatabases().size(), 2u);
  EXPECT_NE(m1->SessionID, m2->SessionID);
  EXPECT_EQ(m1->GetDBFileConnectionsCount(), 3);
}

TEST_F(LocalSessionTest, ConnectReportsTheSettingsStoredInTheFile) {
  const std::string file = Path("geometry.vez");
  test::CreateDatabaseFile(file, 2048, 16, 5);
  auto session = MakeSession("G", file);
  session->PageSize = 8192;
  session->PageCountInExtent = 4;
  session->MaxSessionCount = 500;
  session->SetConnected(true);
  EXPECT_EQ(session->PageSize, 2048);
  EXPECT_EQ(session->PageCountInExtent, 16);
  EXPECT_EQ(session->MaxSessionCount, 5);
  EXPECT_FALSE(session->ReadOnly);
  EXPECT_FALSE(session->RepairNeeded);
  EXPECT_EQ(session->SessionID, 0);
}

TEST_F(LocalSessionTest, TransactionsAndOperationsNeedWhatTheyNeed) {
  const std::string file = Path("tx.vez");
  test::CreateDatabaseFile(file);
  auto session = MakeSession("T", file);
  std::vector<std::string> list;
  // Without a connection nothing answers as if the database were empty.
  EXPECT_EQ(NativeErrorOf([&] { session->GetTablesList(list); }), 20411);
  EXPECT_EQ(NativeErrorOf([&] { session->TableExists("x"); }), 20411);
  EXPECT_EQ(NativeErrorOf([&] { session->FlushBuffers(); }), 20411);
  // Only a disk database has a file to cut or sessions of other processes.
  EXPECT_EQ(NativeErrorOf([&] { session->TruncateDatabase(); }), 0);
  EXPECT_EQ(session->GetDBFileConnectionsCount(), 0);
  EXPECT_FALSE(session->GetSuppressDBHeaderErrors());
  EXPECT_FALSE(session->Connected());

  session->SetConnected(true);
  EXPECT_EQ(NativeErrorOf([&] { session->Commit(true); }), 20229);
  EXPECT_EQ(NativeErrorOf([&] { session->Rollback(); }), 20229);
  session->StartTransaction();
  EXPECT_TRUE(session->InTransaction);
  session->Commit(false);
  EXPECT_FALSE(session->InTransaction);
  session->StartTransaction();
  session->Rollback();
  EXPECT_FALSE(session->InTransaction);
  session->SetSuppressDBHeaderErrors(true);
  EXPECT_TRUE(session->GetSuppressDBHeaderErrors());
  list.push_back("stale");
  session->GetTablesList(list);
  EXPECT_TRUE(list.empty());
  session->FlushBuffers();
  session->TruncateDatabase();
}

TEST_F(LocalSessionTest, CreatingAFileLeavesNoDatabaseDataWhateverHappens) {
  const std::string file = Path("new.vez");
  auto creator = MakeSession("N", file);
  creator->CreateDatabase();
  EXPECT_TRUE(DiskDatabases().empty());
  EXPECT_FALSE(creator->Connected());

  // Open in this process: refused, and the open file is untouched.
  auto user = MakeSession("N", file);
  user->SetConnected(true);
  test::AddCatalogueEntry(*static_cast<TVEZDiskDatabaseData*>(user->DatabaseData()), 4, "Runs");
  EXPECT_EQ(NativeErrorOf([&] { creator->CreateDatabase(); }), 20092);
  EXPECT_EQ(DiskDatabases().size(), 1u);
  EXPECT_TRUE(user->TableExists("RUNS"));
  user->SetConnected(false);

  // A geometry the file cannot take fails and leaves nothing listed.
  auto bad = MakeSession("B", Path("bad.vez"));
  bad->PageSize = 70000;
  EXPECT_EQ(NativeErrorOf([&] { bad->CreateDatabase(); }), 10480);
  EXPECT_TRUE(DiskDatabases().empty());
  // The memory database cannot be made as a file.
  auto memory = MakeSession("MEMORY", Path("m.vez"));
  EXPECT_EQ(NativeErrorOf([&] { memory->CreateDatabase(); }), 20092);
}

TEST_F(LocalSessionTest, AConnectThatFailsAfterJoiningLeavesTheSessionUnlisted) {
  const std::string file = Path("enc.vez");
  test::CreateDatabaseFile(file);
  auto data = std::make_unique<test::EncryptedLookingData>(file, "secret");
  auto owner = MakeSession("E", file);
  owner->Password.Password = "secret";
  owner->SetConnected(true);
  ASSERT_EQ(owner->DatabaseData(), data.get());
  {
    auto other = MakeSession("E", file);
    other->Password.Password = "guess";
    EXPECT_EQ(NativeErrorOf([&] { other->SetConnected(true); }), 20298);
    EXPECT_FALSE(other->Connected());
    EXPECT_FALSE(IsSessionListed(*data, *other));
    // Its password record was not replaced by the file's.
    EXPECT_EQ(other->Password.Password, "guess");
  }
  EXPECT_EQ(data->SessionList().size(), 1u);
  owner->SetConnected(false);
  EXPECT_FALSE(data->IsOpen());
}

TEST_F(LocalSessionTest, AFailedOpenFreesTheDatabaseDataItMade) {
  // 10470: not a database file; 30364: no file at all.
  const std::string foreign = Path("foreign.vez");
  test::WriteAll(foreign, std::vector<std::uint8_t>(4096, 0x5A));
  for (const auto& [file, error] : std::vector<std::pair<std::string, std::int32_t>>{
           {foreign, 10470}, {Path("missing.vez"), 30364}}) {
    SCOPED_TRACE(file);
    auto session = MakeSession("F", file);
    EXPECT_EQ(NativeErrorOf([&] { session->SetConnected(true); }), error);
    EXPECT_FALSE(session->Connected());
    EXPECT_TRUE(DiskDatabases().empty());
  }
}

TEST_F(LocalSessionTest, DestroyingAConnectedSessionDisconnectsIt) {
  const std::string file = Path("d.vez");
  test::CreateDatabaseFile(file);
  auto keeper = MakeSession("K", file);
  keeper->SetConnected(true);
  TVEZDatabaseData* data = keeper->DatabaseData();
  {
    auto session = MakeSession("D", file);
    session->SetConnected(true);
    session->StartTransaction();
    EXPECT_EQ(data->SessionList().size(), 2u);
  }
  EXPECT_EQ(data->SessionList().size(), 1u);
  keeper.reset();
  EXPECT_TRUE(DiskDatabases().empty());
}

// A database data whose last session's rollback fails after the session
// left it and the file was closed, as a failing disk makes it.
class FailingRollbackData : public TVEZDiskDatabaseData {
 public:
  explicit FailingRollbackData(const std::string& file) : TVEZDiskDatabaseData(file) {
    SetDurability(TVEZDurability::Off);
    DatabaseDataList().Add(this);
  }
  void Rollback(std::int32_t) override { throw EVEZException(30379, "injected rollback failure"); }
  bool FreeIfNoSessionsConnected() override { return false; }
};

TEST_F(LocalSessionTest, ADisconnectThatFailsReportsWhetherTheSessionLeft) {
  const std::string file = Path("r.vez");
  test::CreateDatabaseFile(file);
  FailingRollbackData data(file);
  auto session = MakeSession("R", file);
  session->SetConnected(true);
  ASSERT_EQ(session->DatabaseData(), &data);
  session->StartTransaction();
  // The rollback fails, but the session has left and the file is closed.
  EXPECT_EQ(NativeErrorOf([&] { session->SetConnected(false); }), 30379);
  EXPECT_FALSE(session->Connected());
  EXPECT_TRUE(data.SessionList().empty());
  EXPECT_FALSE(data.IsOpen());
}

// ---- The local BLOB stream.

std::unique_ptr<TVEZLocalBLOBStream> MakeStream(TVEZBLOBOpenMode mode, const std::string& text) {
  auto data = std::make_unique<TVEZMemoryStream>();
  data->Write(text.data(), static_cast<std::int32_t>(text.size()));
  auto under = std::make_unique<TVEZMemoryStream>();
  return std::make_unique<TVEZLocalBLOBStream>(std::move(data), std::move(under), nullptr, mode, 3);
}

TEST(LocalBLOBStreamTest, AReadStreamRefusesChangesAndKeepsItsData) {
  auto stream = MakeStream(bomRead, "abcdef");
  EXPECT_EQ(stream->Position(), 0);
  EXPECT_EQ(stream->FieldNo(), 3);
  EXPECT_EQ(stream->OpenMode(), bomRead);
  EXPECT_EQ(stream->Cursor(), nullptr);
  EXPECT_EQ(stream->UserBLOBStream(), nullptr);
  EXPECT_EQ(NativeErrorOf([&] { stream->Write("x", 1); }), 10115);
  EXPECT_EQ(NativeErrorOf([&] { stream->SetSize(2); }), 10116);
  EXPECT_FALSE(stream->Modified());
  char buffer[6];
  EXPECT_EQ(stream->Read(buffer, 6), 6);
  EXPECT_EQ(std::string(buffer, 6), "abcdef");
  EXPECT_EQ(stream->Size(), 6);
}

TEST(LocalBLOBStreamTest, WritesAndSizeChangesReachTheDataAndMarkTheStream) {
  for (const TVEZBLOBOpenMode mode : {bomWrite, bomReadWrite}) {
    SCOPED_TRACE(static_cast<int>(mode));
    auto stream = MakeStream(mode, "abcdef");
    stream->Seek(0, soEnd);
    stream->WriteBuffer("gh", 2);
    EXPECT_TRUE(stream->Modified());
    EXPECT_EQ(stream->TemporaryStream()->Size(), 8);

    // Cutting a BLOB short is a change too: the table stores it.
    auto cut = MakeStream(mode, "abcdef");
    cut->SetSize(2);
    EXPECT_TRUE(cut->Modified());
    EXPECT_EQ(cut->TemporaryStream()->Size(), 2);
    cut->SetPosition(0);
    char buffer[4] = {};
    EXPECT_EQ(cut->Read(buffer, 4), 2);
    EXPECT_EQ(std::string(buffer, 2), "ab");
  }
}

}  // namespace
}  // namespace vez

// The disk database data: creating and opening the file, sessions in both
// modes, the catalogue, the database tables lock, object ids, commit and
// rollback, and finding a database by its canonical path.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZDatabaseDataList.h"
#include "dbengine/storage/VEZDiskDatabaseData.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "dbengine/storage/VEZInternalDBFile.h"
#include "dbengine/storage/VEZPageHeader.h"
#include "dbengine/storage/VEZSystemDirectory.h"
#include "dbengine/storage/VEZTableLockManager.h"
#include "dbengine/storage/VEZTableLocksFile.h"
#include "platform/core/Clock.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/DiskTestSupport.h"

namespace vez {
namespace {

using test::NativeErrorOf;
using test::ScratchDir;

constexpr std::int32_t kMaxSessions = 8;

// A session whose transaction calls go to its database data, as the local
// session's do.
class DbSession : public TVEZBaseSession {
 public:
  explicit DbSession(bool multi_user, TVEZDatabaseData* db = nullptr) : db_(db) {
    MultiUser = multi_user;
  }
  int rollbacks = 0;

  bool GetConnected() override { return false; }
  void SetConnected(bool) override {}
  bool GetSuppressDBHeaderErrors() override { return false; }
  void SetSuppressDBHeaderErrors(bool) override {}
  void CreateDatabase() override {}
  void DeleteDatabase() override {}
  void RenameDatabase(const std::string&) override {}
  void GetTablesList(std::vector<std::string>& list) override { list.clear(); }
  bool TableExists(const std::string&) override { return false; }
  void StartTransaction() override { InTransaction = true; }
  void Commit(bool flush) override {
    db_->Commit(SessionID, flush);
    InTransaction = false;
  }
  void Rollback() override {
    ++rollbacks;
    db_->Rollback(SessionID);
    InTransaction = false;
  }
  void FlushBuffers() override {}

 private:
  TVEZDatabaseData* db_;
};

// The geometry a new file gets, without syncs (the tests never pull the plug).
void SetGeometry(TVEZDiskDatabaseData& db, std::int32_t page_size = 4096, std::int32_t extent = 8,
                 std::int32_t max_sessions = kMaxSessions) {
  db.SetPageSize(page_size);
  db.SetPageCountInExtent(extent);
  db.SetMaxSessionCount(max_sessions);
  db.SetDurability(TVEZDurability::Off);
}

void CreateFile(const std::string& name, std::int32_t page_size = 4096, std::int32_t extent = 8,
                std::int32_t max_sessions = kMaxSessions) {
  TVEZDiskDatabaseData db(name);
  SetGeometry(db, page_size, extent, max_sessions);
  db.CreateDatabase();
}

std::unique_ptr<TVEZDiskDatabaseData> MakeData(const std::string& name) {
  auto db = std::make_unique<TVEZDiskDatabaseData>(name);
  db->SetDurability(TVEZDurability::Off);
  return db;
}

std::vector<std::string> Tables(TVEZDiskDatabaseData& db) {
  std::vector<std::string> list;
  db.GetTablesList(list);
  return list;
}

// A small transacted file written by a session: the stand-in for a table's
// pages in commit and rollback tests.
std::int32_t CreateDocument(TVEZDiskDatabaseData& db) {
  TVEZInternalDBTransactedAccessFile file(db.DiskPageManager(), kPageTypeTableMetaData);
  file.CreateFile(-2);
  db.DiskPageManager()->ApplyChanges(-2);
  return file.StartPageNo();
}

void WriteDocument(TVEZDiskDatabaseData& db, std::int32_t page, std::int32_t session,
                   const std::string& text) {
  TVEZInternalDBTransactedAccessFile file(db.DiskPageManager(), kPageTypeTableMetaData);
  file.OpenFile(page);
  file.WriteFile(session, text.data(), static_cast<std::int32_t>(text.size()), acaNone, 0);
}

std::string ReadDocument(TVEZDiskDatabaseData& db, std::int32_t page, std::int32_t session) {
  TVEZInternalDBTransactedAccessFile file(db.DiskPageManager(), kPageTypeTableMetaData);
  file.OpenFile(page);
  std::string text(static_cast<std::size_t>(file.GetCheckedSize(session)), '\0');
  file.ReadFile(session, text.data(), static_cast<std::int32_t>(text.size()), true);
  return text;
}

TEST(VEZDiskDatabaseDataTest, CreateLeavesTheFileClosedAndOpenReadsItsSettings) {
  ScratchDir dir;
  const std::string name = dir.Path("a.vez");
  TVEZDiskDatabaseData creator(name);
  SetGeometry(creator, 2048, 16, 5);
  creator.CreateDatabase();
  EXPECT_FALSE(creator.IsOpen());
  EXPECT_EQ(creator.PageManager(), nullptr);

  auto db = MakeData(name);
  DbSession s(false, db.get());
  db->ConnectSession(s);
  ASSERT_TRUE(db->IsOpen());
  EXPECT_EQ(db->PageManager(), db->DiskPageManager());
  EXPECT_EQ(db->PageSize(), 2048);
  EXPECT_EQ(db->PageCountInExtent(), 16);
  EXPECT_EQ(db->MaxSessionCount(), 5);
  EXPECT_FALSE(db->Encrypted());
  EXPECT_FALSE(s.RepairNeeded);
  EXPECT_TRUE(Tables(*db).empty());
  EXPECT_EQ(db->SessionList().size(), 1u);
  db->DisconnectSession(s);
  EXPECT_FALSE(db->IsOpen());
  EXPECT_EQ(db->PageManager(), nullptr);
  EXPECT_TRUE(db->SessionList().empty());
}

TEST(VEZDiskDatabaseDataTest, CreateRefusesGeometryThatDoesNotFitAndWhileOpen) {
  ScratchDir dir;
  const std::string name = dir.Path("g.vez");
  struct Row {
    std::int32_t page_size, extent;
  };
  for (const Row& row : {Row{65536 + 4096, 8}, Row{-1, 8}, Row{4096, 65536}, Row{4096, 0}}) {
    SCOPED_TRACE(std::to_string(row.page_size) + "/" + std::to_string(row.extent));
    TVEZDiskDatabaseData db(name);
    db.SetPageSize(row.page_size);
    db.SetPageCountInExtent(row.extent);
    db.SetMaxSessionCount(kMaxSessions);
    EXPECT_EQ(NativeErrorOf([&] { db.CreateDatabase(); }), 10480);
    EXPECT_FALSE(db.IsOpen());
  }
  CreateFile(name);
  auto db = MakeData(name);
  DbSession s(false, db.get());
  db->ConnectSession(s);
  EXPECT_EQ(NativeErrorOf([&] { db->CreateDatabase(); }), 20092);
  EXPECT_TRUE(db->IsOpen());
  db->DisconnectSession(s);
}

TEST(VEZDiskDatabaseDataTest, CreatingOverAFileThatIsOpenIsRefusedAndLosesNothing) {
  ScratchDir dir;
  const std::string name = dir.Path("busy.vez");
  CreateFile(name);
  for (const bool multi : {false, true}) {
    SCOPED_TRACE(multi ? "open multi-user" : "open single-user");
    auto db = MakeData(name);
    DbSession s(multi, db.get());
    db->ConnectSession(s);
    db->AddTableToList(4, multi ? "Multi" : "Single", 10, 11, 12);
    db->DiskPageManager()->ApplyChanges(-2);
    const auto before = Tables(*db);

    TVEZDiskDatabaseData other(name);
    other.SetSessionName("Other");
    SetGeometry(other);
    EXPECT_EQ(NativeErrorOf([&] { other.CreateDatabase(); }), 30361);
    EXPECT_FALSE(other.IsOpen());
    EXPECT_EQ(Tables(*db), before);
    db->DisconnectSession(s);
    db->ConnectSession(s);
    EXPECT_EQ(Tables(*db), before);
    db->DisconnectSession(s);
  }
}

TEST(VEZDiskDatabaseDataTest, AFailedOpenLeavesTheObjectClosedAndTheNextConnectTriesAgain) {
  ScratchDir dir;
  const std::string name = dir.Path("late.vez");
  auto db = MakeData(name);
  DbSession s(false, db.get());
  EXPECT_THROW(db->ConnectSession(s), std::exception);
  EXPECT_FALSE(db->IsOpen());
  EXPECT_TRUE(db->SessionList().empty());
  CreateFile(name);
  db->ConnectSession(s);
  EXPECT_TRUE(db->IsOpen());
  db->DisconnectSession(s);
}

TEST(VEZDiskDatabaseDataTest, MultiUserSessionsGetDistinctSlotsThatAreGivenBack) {
  ScratchDir dir;
  const std::string name = dir.Path("m.vez");
  CreateFile(name);
  auto db = MakeData(name);
  std::vector<std::unique_ptr<DbSession>> sessions;
  std::set<std::int32_t> ids;
  for (int i = 0; i < 3; ++i) {
    sessions.push_back(std::make_unique<DbSession>(true, db.get()));
    db->ConnectSession(*sessions.back());
    EXPECT_TRUE(sessions.back()->MultiUser);
    ids.insert(sessions.back()->SessionID);
  }
  EXPECT_EQ(ids.size(), 3u);
  for (std::int32_t id : ids) {
    EXPECT_GE(id, 0);
    EXPECT_LT(id, kMaxSessions);
  }
  EXPECT_EQ(db->GetDBFileConnectionsCount(), 3);
  EXPECT_TRUE(db->MultiUser());
  ASSERT_NE(db->TableLockManager(), nullptr);

  const std::int32_t freed = sessions[1]->SessionID;
  db->DisconnectSession(*sessions[1]);
  EXPECT_EQ(db->GetDBFileConnectionsCount(), 2);
  DbSession again(true, db.get());
  db->ConnectSession(again);
  EXPECT_EQ(again.SessionID, freed);
  db->DisconnectSession(again);
  db->DisconnectSession(*sessions[0]);
  db->DisconnectSession(*sessions[2]);
  EXPECT_FALSE(db->IsOpen());
  EXPECT_EQ(db->GetDBFileConnectionsCount(), 0);
}

TEST(VEZDiskDatabaseDataTest, MoreSessionsThanSlotsAreRefusedAndTheFileClosesWithTheLast) {
  ScratchDir dir;
  const std::string name = dir.Path("full.vez");
  CreateFile(name, 4096, 8, 2);
  auto db = MakeData(name);
  DbSession a(true, db.get()), b(true, db.get()), c(true, db.get());
  db->ConnectSession(a);
  db->ConnectSession(b);
  EXPECT_EQ(NativeErrorOf([&] { db->ConnectSession(c); }), 20094);
  EXPECT_EQ(db->SessionList().size(), 2u);
  db->DisconnectSession(a);
  db->ConnectSession(c);
  db->DisconnectSession(b);
  db->DisconnectSession(c);
  EXPECT_FALSE(db->IsOpen());
}

TEST(VEZDiskDatabaseDataTest, ASessionOfTheOtherModeIsRefusedWith20235) {
  ScratchDir dir;
  const std::string name = dir.Path("modes.vez");
  CreateFile(name);
  for (const bool first_multi : {false, true}) {
    SCOPED_TRACE(first_multi ? "opened multi-user" : "opened single-user");
    auto db = MakeData(name);
    DbSession first(first_multi, db.get()), other(!first_multi, db.get());
    db->ConnectSession(first);
    EXPECT_EQ(NativeErrorOf([&] { db->ConnectSession(other); }), 20235);
    EXPECT_EQ(db->SessionList().size(), 1u);
    EXPECT_TRUE(db->IsOpen());
    EXPECT_EQ(db->GetDBFileConnectionsCount(), first_multi ? 1 : kMaxSessions);
    db->DisconnectSession(first);
    EXPECT_FALSE(db->IsOpen());
  }
}

TEST(VEZDiskDatabaseDataTest, AnExclusiveMultiUserOpenTurnsTheDatabaseAndSessionSingleUser) {
  ScratchDir dir;
  const std::string name = dir.Path("x.vez");
  CreateFile(name);
  auto db = MakeData(name);
  DbSession s(true, db.get());
  s.Exclusive = true;
  db->ConnectSession(s);
  EXPECT_FALSE(db->MultiUser());
  EXPECT_FALSE(s.MultiUser);
  EXPECT_EQ(s.SessionID, 0);
  EXPECT_TRUE(db->SingleUserConnected());
  db->DisconnectSession(s);
}

TEST(VEZDiskDatabaseDataTest, SingleUserSessionsShareId0AndASecondHolderOnlyReads) {
  ScratchDir dir;
  const std::string name = dir.Path("s.vez");
  CreateFile(name);
  auto db = MakeData(name);
  DbSession a(false, db.get()), b(false, db.get());
  db->ConnectSession(a);
  db->ConnectSession(b);
  EXPECT_EQ(a.SessionID, 0);
  EXPECT_EQ(b.SessionID, 0);
  EXPECT_TRUE(db->SingleUserConnected());
  EXPECT_FALSE(db->ReadOnly());

  // Another holder of the file (as another process would be).
  auto other = MakeData(name);
  other->SetSessionName("second");
  DbSession c(false, other.get());
  other->ConnectSession(c);
  EXPECT_FALSE(other->SingleUserConnected());
  EXPECT_TRUE(other->ReadOnly());
  other->DisconnectSession(c);
  EXPECT_FALSE(other->ReadOnly());

  // The connection is let go only with the last session.
  db->DisconnectSession(a);
  EXPECT_EQ(db->GetDBFileConnectionsCount(), kMaxSessions);
  db->DisconnectSession(b);
  other->ConnectSession(c);
  EXPECT_TRUE(other->SingleUserConnected());
  EXPECT_FALSE(other->ReadOnly());
  other->DisconnectSession(c);
}

TEST(VEZDiskDatabaseDataTest, AReopenedObjectTakesTheSingleUserConnectionAgain) {
  ScratchDir dir;
  const std::string name = dir.Path("re.vez");
  CreateFile(name);
  auto db = MakeData(name);
  DbSession a(false, db.get());
  db->ConnectSession(a);
  db->DisconnectSession(a);
  db->ConnectSession(a);
  EXPECT_TRUE(db->SingleUserConnected());
  // Holding it for real: nobody else can connect multi-user.
  auto other = MakeData(name);
  DbSession m(true, other.get());
  EXPECT_EQ(NativeErrorOf([&] { other->ConnectSession(m); }), 20094);
  EXPECT_FALSE(other->IsOpen());
  db->DisconnectSession(a);
  other->ConnectSession(m);
  other->DisconnectSession(m);
}

TEST(VEZDiskDatabaseDataTest, CatalogueOperationsAndTheirErrorsLeaveTheListAsItWas) {
  ScratchDir dir;
  const std::string name = dir.Path("cat.vez");
  CreateFile(name);
  auto db = MakeData(name);
  DbSession s(false, db.get());
  db->ConnectSession(s);
  db->AddTableToList(7, "Data", 10, 11, 12);
  db->AddTableToList(8, "Sensors", 20, 21, 22);
  EXPECT_EQ(Tables(*db), (std::vector<std::string>{"Data", "Sensors"}));

  std::int32_t id = 0, meta = 0, most = 0, locks = 0;
  db->FindTableInList("data", id, meta, most, locks);
  EXPECT_EQ(id, 7);
  EXPECT_EQ(meta, 10);
  EXPECT_EQ(most, 11);
  EXPECT_EQ(locks, 12);

  struct Row {
    const char* what;
    std::function<void()> call;
    std::int32_t error;
  };
  const std::vector<Row> rows = {
      {"add a name in use", [&] { db->AddTableToList(9, "DATA", 1, 2, 3); }, 30395},
      {"find a missing table", [&] { db->FindTableInList("Nope", id, meta, most, locks); }, 30396},
      {"remove a missing table", [&] { db->RemoveTableFromList("Nope"); }, 30405},
      {"rename a missing table", [&] { db->RenameTableInList("Nope", "Other"); }, 30397},
      {"rename onto a name in use", [&] { db->RenameTableInList("Data", "sensors"); }, 30395},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(NativeErrorOf(row.call), row.error);
    EXPECT_EQ(Tables(*db), (std::vector<std::string>{"Data", "Sensors"}));
  }
  // A change of case only is a rename like any other.
  db->RenameTableInList("Sensors", "SENSORS");
  db->RenameTableInList("SENSORS", "Sensors");

  db->RenameTableInList("Data", "Readings");
  db->RemoveTableFromList("Sensors");
  db->DiskPageManager()->ApplyChanges(-2);
  db->DisconnectSession(s);
  db->ConnectSession(s);
  EXPECT_EQ(Tables(*db), (std::vector<std::string>{"Readings"}));
  db->FindTableInList("READINGS", id, meta, most, locks);
  EXPECT_EQ(id, 7);
  db->DisconnectSession(s);
}

TEST(VEZDiskDatabaseDataTest, CatalogueOperationsOnAClosedDatabaseRaise) {
  ScratchDir dir;
  auto db = MakeData(dir.Path("closed.vez"));
  std::int32_t id, meta, most, locks;
  struct Row {
    const char* what;
    std::function<void()> call;
    std::int32_t error;
  };
  const std::vector<Row> rows = {
      {"add", [&] { db->AddTableToList(1, "T", 1, 2, 3); }, 20128},
      {"find", [&] { db->FindTableInList("T", id, meta, most, locks); }, 20129},
      {"remove", [&] { db->RemoveTableFromList("T"); }, 20130},
      {"rename", [&] { db->RenameTableInList("T", "U"); }, 20131},
      {"lock tables", [&] { db->LockTables(); }, 10459},
      {"unlock tables", [&] { db->UnlockTables(); }, 20211},
      {"object id", [&] { db->GetNewObjectId(); }, 30399},
      {"truncate", [&] { db->TruncateDatabase(); }, 10459},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(NativeErrorOf(row.call), row.error);
  }
  EXPECT_TRUE(Tables(*db).empty());
  EXPECT_EQ(db->GetDBFileConnectionsCount(), 0);
  EXPECT_FALSE(db->GetSuppressDBHeaderErrors());
  db->FlushBuffers();
}

TEST(VEZDiskDatabaseDataTest, CatalogueSearchesSeeAnotherHoldersChanges) {
  ScratchDir dir;
  const std::string name = dir.Path("shared.vez");
  CreateFile(name);
  auto a = MakeData(name);
  auto b = MakeData(name);
  b->SetSessionName("B");
  DbSession sa(true, a.get()), sb(true, b.get());
  a->ConnectSession(sa);
  b->ConnectSession(sb);
  // b read the (empty) catalogue at its open; a adds a table afterwards.
  a->AddTableToList(3, "Data", 10, 11, 12);
  a->DiskPageManager()->ApplyChanges(-2);
  std::int32_t id = 0, meta = 0, most = 0, locks = 0;
  b->FindTableInList("Data", id, meta, most, locks);
  EXPECT_EQ(id, 3);
  EXPECT_EQ(Tables(*b), std::vector<std::string>{"Data"});
  // And a rename by b reaches a's next search.
  b->RenameTableInList("Data", "Readings");
  b->DiskPageManager()->ApplyChanges(-2);
  EXPECT_EQ(NativeErrorOf([&] { a->FindTableInList("Data", id, meta, most, locks); }), 30396);
  a->FindTableInList("Readings", id, meta, most, locks);
  EXPECT_EQ(locks, 12);
  a->DisconnectSession(sa);
  b->DisconnectSession(sb);
}

TEST(VEZDiskDatabaseDataTest, TheTablesLockNestsInOneThreadAndExcludesOtherHolders) {
  ScratchDir dir;
  const std::string name = dir.Path("tl.vez");
  CreateFile(name);
  platform::FakeClock clock;
  platform::ScopedClock installed(clock);
  auto a = MakeData(name);
  auto b = MakeData(name);
  DbSession sa(true, a.get()), sb(true, b.get());
  a->ConnectSession(sa);
  b->ConnectSession(sb);

  a->LockTables();
  a->LockTables();
  // A catalogue change while the lock is held takes it once more.
  a->AddTableToList(1, "T", 1, 2, 3);
  EXPECT_EQ(NativeErrorOf([&] { b->LockTables(); }), 20210);
  EXPECT_EQ(clock.Sleeps().size(), 200u);
  std::int32_t error_in_thread = -1;
  std::thread([&] { error_in_thread = NativeErrorOf([&] { a->UnlockTables(); }); }).join();
  EXPECT_EQ(error_in_thread, 20211);
  a->UnlockTables();
  EXPECT_EQ(NativeErrorOf([&] { b->LockTables(); }), 20210);
  a->UnlockTables();
  EXPECT_EQ(NativeErrorOf([&] { a->UnlockTables(); }), 20211);
  b->LockTables();
  b->UnlockTables();
  a->DisconnectSession(sa);
  b->DisconnectSession(sb);
}

TEST(VEZDiskDatabaseDataTest, ObjectIdsAreUniqueAcrossHoldersOfTheFile) {
  ScratchDir dir;
  const std::string name = dir.Path("ids.vez");
  CreateFile(name);
  auto a = MakeData(name);
  auto b = MakeData(name);
  DbSession sa(true, a.get()), sb(true, b.get());
  a->ConnectSession(sa);
  b->ConnectSession(sb);
  std::set<std::int32_t> seen;
  std::int32_t last = 0;
  for (int i = 0; i < 50; ++i) {
    TVEZDiskDatabaseData& db = (i % 3 == 0) ? *b : *a;
    const std::int32_t id = db.GetNewObjectId();
    EXPECT_GT(id, last);
    last = id;
    EXPECT_TRUE(seen.insert(id).second);
  }
  a->DisconnectSession(sa);
  b->DisconnectSession(sb);
}

TEST(VEZDiskDatabaseDataTest, CommitWritesTheSessionsPagesAndRollbackDropsThem) {
  ScratchDir dir;
  const std::string name = dir.Path("tx.vez");
  CreateFile(name);
  for (const bool multi : {false, true}) {
    SCOPED_TRACE(multi ? "multi-user" : "single-user");
    auto db = MakeData(name);
    DbSession s(multi, db.get());
    db->ConnectSession(s);
    const std::int32_t page = CreateDocument(*db);
    for (const bool flush : {false, true}) {
      s.StartTransaction();
      WriteDocument(*db, page, s.SessionID, flush ? "flushed" : "kept");
      s.Commit(flush);
    }
    s.StartTransaction();
    WriteDocument(*db, page, s.SessionID, "dropped");
    EXPECT_EQ(ReadDocument(*db, page, s.SessionID), "dropped");
    s.Rollback();
    EXPECT_EQ(ReadDocument(*db, page, s.SessionID), "flushed");
    db->DisconnectSession(s);

    auto again = MakeData(name);
    DbSession r(multi, again.get());
    again->ConnectSession(r);
    EXPECT_EQ(ReadDocument(*again, page, r.SessionID), "flushed");
    again->DisconnectSession(r);
  }
}

TEST(VEZDiskDatabaseDataTest, TheLastSessionLeavingInATransactionRollsItBack) {
  ScratchDir dir;
  const std::string name = dir.Path("last.vez");
  CreateFile(name);
  auto db = MakeData(name);
  DbSession a(false, db.get()), b(false, db.get());
  db->ConnectSession(a);
  db->ConnectSession(b);
  const std::int32_t page = CreateDocument(*db);
  WriteDocument(*db, page, -2, "committed");
  db->DiskPageManager()->ApplyChanges(-2);
  b.StartTransaction();
  WriteDocument(*db, page, 0, "pending");
  // Not the last session: nothing is rolled back yet.
  a.StartTransaction();
  db->DisconnectSession(a);
  EXPECT_EQ(a.rollbacks, 0);
  db->DisconnectSession(b);
  EXPECT_EQ(b.rollbacks, 1);
  EXPECT_FALSE(b.InTransaction);
  EXPECT_FALSE(db->IsOpen());
  db->ConnectSession(a);
  EXPECT_EQ(ReadDocument(*db, page, 0), "committed");
  a.InTransaction = false;
  db->DisconnectSession(a);
}

TEST(VEZDiskDatabaseDataTest, AMultiUserSessionLeavingInATransactionRollsItBackBeforeItsSlotGoes) {
  ScratchDir dir;
  const std::string name = dir.Path("slot.vez");
  CreateFile(name);
  platform::FakeClock clock;
  platform::ScopedClock installed(clock);
  auto db = MakeData(name);
  DbSession a(true, db.get()), b(true, db.get());
  db->ConnectSession(a);
  db->ConnectSession(b);
  const std::int32_t page = CreateDocument(*db);
  WriteDocument(*db, page, -2, "committed");
  db->DiskPageManager()->ApplyChanges(-2);
  TVEZTableLocksFile locks(db->DiskPageManager());
  const std::int32_t locks_page = locks.CreateFile(kMaxSessions);
  db->DiskPageManager()->ApplyChanges(-2);
  locks.OpenFile(locks_page);

  a.StartTransaction();
  WriteDocument(*db, page, a.SessionID, "pending");
  ASSERT_TRUE(db->TableLockManager()->LockTable(a.SessionID, ltXIRW, locks, 1, 0, true));
  const std::int32_t slot = a.SessionID;
  db->DisconnectSession(a);
  EXPECT_EQ(a.rollbacks, 1);
  EXPECT_FALSE(a.InTransaction);
  EXPECT_TRUE(db->TableLockManager()->Locks(slot).empty());

  // The next session gets the slot, but neither the changes nor the locks.
  DbSession c(true, db.get());
  db->ConnectSession(c);
  ASSERT_EQ(c.SessionID, slot);
  EXPECT_EQ(ReadDocument(*db, page, c.SessionID), "committed");
  c.StartTransaction();
  c.Commit(false);
  EXPECT_EQ(ReadDocument(*db, page, b.SessionID), "committed");
  EXPECT_TRUE(db->TableLockManager()->LockTable(b.SessionID, ltS, locks, 1, 0, true));
  db->DisconnectSession(c);
  db->DisconnectSession(b);
}

TEST(VEZDiskDatabaseDataTest, AMultiUserOpenOfAReadOnlyFileTurnsSingleUserAndOnlyReads) {
  ScratchDir dir;
  const std::string name = dir.Path("ro.vez");
  CreateFile(name);
  ASSERT_EQ(chmod(name.c_str(), 0444), 0);
  auto db = MakeData(name);
  DbSession s(true, db.get());
  db->ConnectSession(s);
  EXPECT_FALSE(db->MultiUser());
  EXPECT_FALSE(s.MultiUser);
  EXPECT_EQ(s.SessionID, 0);
  EXPECT_TRUE(db->ReadOnly());
  // A second multi-user session is now of the other mode.
  DbSession m(true, db.get());
  EXPECT_EQ(NativeErrorOf([&] { db->ConnectSession(m); }), 20235);
  db->DisconnectSession(s);
  EXPECT_FALSE(db->ReadOnly());
  ASSERT_EQ(chmod(name.c_str(), 0644), 0);
}

TEST(VEZDiskDatabaseDataTest, AMultiUserCommitWaitsForReadersOfChangedTablesThenRaises20233) {
  ScratchDir dir;
  const std::string name = dir.Path("rw.vez");
  CreateFile(name);
  platform::FakeClock clock;
  platform::ScopedClock installed(clock);
  auto db = MakeData(name);
  DbSession writer(true, db.get()), reader(true, db.get());
  db->ConnectSession(writer);
  db->ConnectSession(reader);
  TVEZTableLocksFile locks(db->DiskPageManager());
  const std::int32_t locks_page = locks.CreateFile(kMaxSessions);
  db->DiskPageManager()->ApplyChanges(-2);
  locks.OpenFile(locks_page);
  const std::int32_t doc = CreateDocument(*db);

  writer.StartTransaction();
  WriteDocument(*db, doc, writer.SessionID, "written");
  TVEZDatabaseTableLockManager& manager = *db->TableLockManager();
  ASSERT_TRUE(manager.LockTable(writer.SessionID, ltXIRW, locks, 1, 0, true));
  ASSERT_TRUE(manager.LockTable(reader.SessionID, ltS, locks, 1, 0, true));
  EXPECT_EQ(NativeErrorOf([&] { writer.Commit(false); }), 20233);
  // Refused: the transaction and its changes stay.
  EXPECT_TRUE(writer.InTransaction);
  EXPECT_EQ(ReadDocument(*db, doc, writer.SessionID), "written");
  EXPECT_TRUE(manager.UnlockTable(reader.SessionID, ltS, locks, false, false));
  writer.Commit(true);
  EXPECT_FALSE(writer.InTransaction);
  EXPECT_TRUE(manager.Locks(writer.SessionID).empty());
  EXPECT_EQ(ReadDocument(*db, doc, reader.SessionID), "written");
  db->DisconnectSession(reader);
  db->DisconnectSession(writer);
}

TEST(VEZDiskDatabaseDataTest, ADatabaseIsFoundByItsCanonicalPathWhateverTheName) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.Path("sub"));
  const std::string name = dir.Path("Trial.vez");
  CreateFile(name);
  std::filesystem::create_symlink(name, dir.Path("link.vez"));
  auto db = std::make_unique<TVEZDiskDatabaseData>(name);
  db->SetSessionName("Default");
  DatabaseDataList().Add(db.get());

  struct Row {
    std::string file, session;
    bool found;
  };
  const std::vector<Row> rows = {
      {name, "Default", true},
      {dir.Path("sub/../Trial.vez"), "DEFAULT", true},
      {dir.Path("link.vez"), "default", true},
      {dir.Path("./sub/../Trial.vez"), "Default", true},
      {dir.Path("trial.vez"), "Default", false},  // another file on Linux
      {name, "Other", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file + " / " + row.session);
    EXPECT_EQ(FindDiskDatabaseData(row.file, row.session), row.found ? db.get() : nullptr);
  }
  // Relative to the working folder.
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.Dir());
  TVEZDiskDatabaseData* relative = FindDiskDatabaseData("Trial.vez", "Default");
  std::filesystem::current_path(cwd);
  EXPECT_EQ(relative, db.get());
  EXPECT_EQ(FindDiskDatabaseData(dir.Path("missing/x.vez"), "Default"), nullptr);
  // A name given through the base is resolved as well.
  auto plain = std::make_unique<TVEZDiskDatabaseData>();
  plain->SetDatabaseName(dir.Path("sub/../Plain.vez"));
  DatabaseDataList().Add(plain.get());
  EXPECT_EQ(FindDiskDatabaseData(dir.Path("Plain.vez"), ""), plain.get());
  EXPECT_EQ(plain->CanonicalFileName(),
            std::filesystem::canonical(dir.Dir()).string() + "/Plain.vez");
  db.reset();
  plain.reset();
  EXPECT_EQ(FindDiskDatabaseData(name, "Default"), nullptr);
}

TEST(VEZDiskDatabaseDataTest, AFileInAMissingFolderGetsTheEnginesErrorAndIsFoundOnceMade) {
  ScratchDir dir;
  const std::string name = dir.Path("later/Trial.vez");
  auto db = std::make_unique<TVEZDiskDatabaseData>(name);
  SetGeometry(*db);
  EXPECT_EQ(db->CanonicalFileName(), "");
  DatabaseDataList().Add(db.get());
  EXPECT_EQ(FindDiskDatabaseData(name, ""), nullptr);
  DbSession s(false, db.get());
  EXPECT_EQ(NativeErrorOf([&] { db->ConnectSession(s); }), 30364);
  EXPECT_FALSE(db->IsOpen());
  EXPECT_EQ(NativeErrorOf([&] { db->CreateDatabase(); }), 30361);

  std::filesystem::create_directory(dir.Path("later"));
  db->CreateDatabase();
  EXPECT_EQ(FindDiskDatabaseData(dir.Path("later/../later/Trial.vez"), ""), db.get());
  db->ConnectSession(s);
  EXPECT_TRUE(db->IsOpen());
  db->DisconnectSession(s);
}

TEST(VEZDiskDatabaseDataTest, SuppressDBHeaderErrorsReachesTheFreeSpaceManager) {
  ScratchDir dir;
  const std::string name = dir.Path("sup.vez");
  CreateFile(name);
  auto db = MakeData(name);
  DbSession s(false, db.get());
  db->ConnectSession(s);
  EXPECT_FALSE(db->GetSuppressDBHeaderErrors());
  db->SetSuppressDBHeaderErrors(true);
  EXPECT_TRUE(db->GetSuppressDBHeaderErrors());
  db->SetSuppressDBHeaderErrors(false);
  EXPECT_FALSE(db->GetSuppressDBHeaderErrors());
  db->TruncateDatabase();
  db->FlushBuffers();
  db->DisconnectSession(s);
}

}  // namespace
}  // namespace vez

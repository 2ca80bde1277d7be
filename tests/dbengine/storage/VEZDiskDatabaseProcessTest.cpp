// The disk database data between processes: worker processes connect to one
// database file through their own database data, as separate programs would.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZDiskDatabaseData.h"
#include "tests/common/NativeError.h"
#include "tests/common/WorkerProcess.h"
#include "tests/dbengine/storage/DiskTestSupport.h"
#include "tests/dbengine/storage/StorageTestDoubles.h"

namespace vez {
namespace {

using test::NativeErrorOf;
using test::ScratchDir;
using test::WorkerProcess;

constexpr std::int32_t kMaxSessions = 8;

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;)
    words.push_back(w);
  return words;
}

std::unique_ptr<WorkerProcess> StartWorker() {
  return std::make_unique<WorkerProcess>(VEZ_TEST_WORKER,
                                         std::vector<std::string>{"--clock-scale", "50"});
}

std::unique_ptr<TVEZDiskDatabaseData> MakeData(const std::string& name) {
  auto db = std::make_unique<TVEZDiskDatabaseData>(name);
  db->SetDurability(TVEZDurability::Off);
  return db;
}

TEST(VEZDiskDatabaseProcessTest, ASingleUserDatabaseHeldByAnotherProcessIsOnlyRead) {
  ScratchDir dir;
  const std::string name = dir.Path("held.vez");
  auto worker = StartWorker();
  worker->Ok("dbcreate " + name + " " + std::to_string(kMaxSessions));
  EXPECT_EQ(worker->Ok("dbopen " + name + " 0"), "0 0 0");

  auto db = MakeData(name);
  test::TestSession s;
  s.MultiUser = false;
  db->ConnectSession(s);
  EXPECT_EQ(s.SessionID, 0);
  EXPECT_TRUE(db->ReadOnly());
  EXPECT_FALSE(db->SingleUserConnected());
  db->DisconnectSession(s);

  // A multi-user session finds no free slot while the other holds them all.
  auto multi = MakeData(name);
  test::TestSession m;
  m.MultiUser = true;
  EXPECT_EQ(NativeErrorOf([&] { multi->ConnectSession(m); }), 20094);
  EXPECT_FALSE(multi->IsOpen());

  worker->Ok("dbclose");
  db->ConnectSession(s);
  EXPECT_FALSE(db->ReadOnly());
  EXPECT_TRUE(db->SingleUserConnected());
  // Now the worker is the one that only reads.
  EXPECT_EQ(worker->Ok("dbopen " + name + " 0"), "0 1 0");
  worker->Ok("dbclose");
  db->DisconnectSession(s);
}

TEST(VEZDiskDatabaseProcessTest, MultiUserProcessesGetDistinctSlotsAndSeeEachOthersCatalogue) {
  ScratchDir dir;
  const std::string name = dir.Path("multi.vez");
  auto a = StartWorker();
  auto b = StartWorker();
  a->Ok("dbcreate " + name + " " + std::to_string(kMaxSessions));
  const auto ida = Words(a->Ok("dbopen " + name + " 1"));
  const auto idb = Words(b->Ok("dbopen " + name + " 1"));
  ASSERT_EQ(ida.size(), 3u);
  ASSERT_EQ(idb.size(), 3u);
  EXPECT_NE(ida[0], idb[0]);
  EXPECT_EQ(ida[2], "1");
  EXPECT_EQ(a->Ok("connections"), "2");

  auto db = MakeData(name);
  test::TestSession here;
  here.MultiUser = true;
  db->ConnectSession(here);
  EXPECT_EQ(db->GetDBFileConnectionsCount(), 3);
  const std::set<std::string> slots = {ida[0], idb[0], std::to_string(here.SessionID)};
  EXPECT_EQ(slots.size(), 3u);

  a->Ok("createdata");
  EXPECT_EQ(b->Ok("tables"), "Data");
  std::vector<std::string> names;
  db->GetTablesList(names);
  EXPECT_EQ(names, std::vector<std::string>{"Data"});
  db->DisconnectSession(here);
  a->Ok("dbclose");
  EXPECT_EQ(b->Ok("connections"), "1");
  b->Ok("dbclose");
}

TEST(VEZDiskDatabaseProcessTest, AReaderInAnotherProcessSeesOnlyCommittedRows) {
  ScratchDir dir;
  const std::string name = dir.Path("rows.vez");
  auto a = StartWorker();
  auto b = StartWorker();
  a->Ok("dbcreate " + name + " " + std::to_string(kMaxSessions));
  a->Ok("dbopen " + name + " 1");
  b->Ok("dbopen " + name + " 1");
  a->Ok("createdata");
  const auto first = Words(a->Ok("insert 100 1 0"));
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(b->Ok("count"), "100");

  a->Ok("begin");
  a->Ok("insert 10 2 0");
  EXPECT_EQ(a->Ok("count"), "110");
  EXPECT_EQ(b->Ok("count"), "100");
  a->Ok("commit");
  EXPECT_EQ(b->Ok("count"), "110");

  a->Ok("begin");
  a->Ok("insert 5 3 0");
  a->Ok("rollback");
  EXPECT_EQ(a->Ok("count"), "110");
  EXPECT_EQ(b->Ok("count"), "110");

  // Appends of both processes get distinct IDs.
  b->Ok("insert 20 4 0");
  a->Ok("insert 20 5 0");
  const auto ids = Words(b->Ok("ids"));
  EXPECT_EQ(ids.size(), 150u);
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), 150u);
  a->Ok("dbclose");
  b->Ok("dbclose");
}

TEST(VEZDiskDatabaseProcessTest, TwoProcessesAppendingAtOnceBothSeeEveryRowOnce) {
  constexpr int kRows = 10000;
  ScratchDir dir;
  const std::string name = dir.Path("both.vez");
  auto a = StartWorker();
  auto b = StartWorker();
  a->SetTimeout(600000);
  b->SetTimeout(600000);
  a->Ok("dbcreate " + name + " " + std::to_string(kMaxSessions));
  a->Ok("dbopen " + name + " 1");
  b->Ok("dbopen " + name + " 1");
  a->Ok("createdata");
  a->Send("insert " + std::to_string(kRows) + " 1 0");
  b->Send("insert " + std::to_string(kRows) + " 2 0");
  EXPECT_EQ(a->ReadLine().rfind("ok ", 0), 0u);
  EXPECT_EQ(b->ReadLine().rfind("ok ", 0), 0u);
  for (WorkerProcess* w : {a.get(), b.get()}) {
    const auto ids = Words(w->Ok("ids"));
    EXPECT_EQ(ids.size(), 2u * kRows);
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), 2u * kRows);
    EXPECT_EQ(w->Ok("indexscan"), std::to_string(2 * kRows) + " 1");
  }
  a->Ok("dbclose");
  b->Ok("dbclose");
}

}  // namespace
}  // namespace vez

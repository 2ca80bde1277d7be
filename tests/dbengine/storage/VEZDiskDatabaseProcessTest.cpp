// The disk database data between processes: worker processes connect to one
// database file through their own database data, as separate programs would.
// Rows shared between processes are VEZDiskTableProcessTest's.
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

}  // namespace
}  // namespace vez

// The table component against another process that has the table open:
// adding an index needs the table exclusively and gives up after its tries.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZException.h"
#include "platform/core/Clock.h"
#include "tests/common/WorkerProcess.h"
#include "tests/dbengine/api/LogSchemaTestSupport.h"
#include "tests/dbengine/api/SessionTestSupport.h"

namespace vez::test {
namespace {

using TableProcessTest = SessionLayerTest;

TEST_F(TableProcessTest, AddIndexGivesUpWhileAnotherProcessHasTheTableOpen) {
  const std::string file = Path("RVX_Log.vez");
  auto db = MakeDatabase("RVX_Database", file);
  db->SetMultiUser(true);
  db->SetKeepConnection(false);
  db->CreateDatabase();
  {
    TVEZTable data;
    data.SetDatabaseName("RVX_Database");
    DeclareLogTable(data, LogTableNamed("Data"), /*without_index=*/true);
    data.CreateTable();
  }
  WorkerProcess worker(VEZ_TEST_WORKER, {"--clock-scale", "40"});
  worker.Ok("dbopen " + file + " 1");
  EXPECT_EQ(worker.Ok("count Data"), "0");

  platform::FakeClock clock;
  platform::ScopedClock installed(clock);
  TVEZTable data;
  data.SetDatabaseName("RVX_Database");
  data.SetTableName("Data");
  data.Open();
  const std::size_t sleeps_before = clock.Sleeps().size();
  try {
    data.AddIndex("Primary", "MeasurementID;Time");
    ADD_FAILURE() << "the index was added";
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), 20228);
    EXPECT_NE(std::string(e.what()).find("Cannot access table 'Data' in exclusive mode"),
              std::string::npos);
  }
  // 50 tries, with a wait of up to 100 ms between two.
  const std::vector<std::uint32_t> sleeps = clock.Sleeps();
  EXPECT_EQ(sleeps.size() - sleeps_before, 49u);
  for (std::size_t i = sleeps_before; i < sleeps.size(); ++i)
    EXPECT_LE(sleeps[i], 100u);
  data.IndexDefs().Update();
  EXPECT_EQ(data.IndexDefs().Count(), 0);
  EXPECT_EQ(data.DBFlags(), 1u);
  // Once the other process lets go, the index goes in.
  worker.Ok("dbclose");
  data.AddIndex("Primary", "MeasurementID;Time");
  data.IndexDefs().Update();
  EXPECT_EQ(data.IndexDefs().Count(), 1);
  data.Close();
  EXPECT_EQ(data.DBFlags(), 0u);
}

}  // namespace
}  // namespace vez::test

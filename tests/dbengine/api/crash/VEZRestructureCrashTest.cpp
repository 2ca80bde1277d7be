// A restructure is several commits (rename, create, the copied rows, delete). The
// victim adds one column to a Runs table of a few hundred rows, as the log's
// upgrade does, under the crash harness's recorder; every rebuilt pair
// (killed process at every prefix and torn write, power cuts before every
// sync) must open without a repair and hold every row, under the table's own
// name or under its "OLD_<table>_{GUID}" copy (or both once the copy had
// finished). Every table the file lists must read the same rows in stored
// and in index order, and nothing else may be listed.
//
// RVX_CRASH_SCALE (a whole number, default 1) multiplies the torn versions
// per write and the power-cut subsets.
#include <gtest/gtest.h>

#include <string>

#include "dbengine/api/VEZAdvancedDefs.h"
#include "dbengine/api/VEZTable.h"
#include "tests/dbengine/api/crash/TableCrashChecks.h"

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

namespace vez::test::crash {
namespace {

class RestructureCrash : public RunsRebuildCrash {
 public:
  using RunsRebuildCrash::RunsRebuildCrash;

 protected:
  void Change() override {
    TVEZTable runs;
    runs.SetDatabaseName("Victim");
    runs.SetTableName("Runs");
    runs.Open();
    runs.Close();
    runs.RestructureFieldDefs().Add("Comments", aftString, 500, false);
    std::string log;
    EXPECT_TRUE(runs.RestructureTable(log)) << log;
  }
};

void RunScenario(TVEZDurability durability, bool killed, const char* label) {
  RunRebuildScenario<RestructureCrash>(durability, killed, kSanitized ? 60 : 300,
                                       std::string("restructure, ") + label);
}

TEST(RestructureCrashTest, FullDurabilityKilledProcess) {
  RunScenario(TVEZDurability::Full, true, "durability full, killed");
}

TEST(RestructureCrashTest, FullDurabilityPowerCut) {
  RunScenario(TVEZDurability::Full, false, "durability full, power cut");
}

TEST(RestructureCrashTest, NormalDurabilityKilledProcess) {
  RunScenario(TVEZDurability::Normal, true, "durability normal, killed");
}

}  // namespace
}  // namespace vez::test::crash

// The log's upgrade statement, ALTER TABLE Runs ADD (Comments VARCHAR(500)),
// run through the query component is several commits (rename, create, row
// copies, delete). The victim runs it on a Runs table of a few hundred rows
// under the crash harness's recorder; every rebuilt pair
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

#include "dbengine/api/VEZQuery.h"
#include "dbengine/sql/VEZSQLEngine.h"
#include "tests/dbengine/api/crash/TableCrashChecks.h"

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

namespace vez::test::crash {
namespace {

class AlterCrash : public RunsRebuildCrash {
 public:
  using RunsRebuildCrash::RunsRebuildCrash;

 protected:
  void Prepare() override { RegisterSQLEngine(); }

  void Change() override {
    TVEZQuery query;
    query.SetDatabaseName("Victim");
    query.SetSQL("ALTER TABLE Runs ADD (Comments VARCHAR(500))");
    query.Prepare();
    EXPECT_NO_THROW(query.ExecSQL());
  }
};

void RunScenario(TVEZDurability durability, bool killed, const char* label) {
  RunRebuildScenario<AlterCrash>(durability, killed, kSanitized ? 60 : 300,
                                 std::string("alter statement, ") + label);
}

TEST(AlterCrashTest, FullDurabilityKilledProcess) {
  RunScenario(TVEZDurability::Full, true, "durability full, killed");
}

TEST(AlterCrashTest, FullDurabilityPowerCut) {
  RunScenario(TVEZDurability::Full, false, "durability full, power cut");
}

}  // namespace
}  // namespace vez::test::crash

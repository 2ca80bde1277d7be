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

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZQuery.h"
#include "dbengine/api/VEZSessionList.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/api/VEZTableCopy.h"
#include "dbengine/sql/VEZSQLEngine.h"
#include "platform/core/Variant.h"
#include "tests/dbengine/storage/crash/harness/CrashRecorder.h"
#include "tests/dbengine/storage/crash/harness/CrashReplayer.h"
#include "tests/dbengine/storage/crash/harness/CrashVictim.h"

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

namespace vez::test::crash {
namespace {

using platform::Variant;
using Row = std::tuple<int, int, std::string>;

std::int32_t Scale() {
  const char* s = std::getenv("RVX_CRASH_SCALE");
  if (s == nullptr || *s == '\0') return 1;
  const int v = std::atoi(s);
  return v < 1 ? 1 : v;
}

std::vector<Row> Expected(int n) {
  std::vector<Row> rows;
  for (int i = 1; i <= n; ++i)
    rows.emplace_back(i, (i - 1) / 3 + 1, "run " + std::to_string(i));
  return rows;
}

std::unique_ptr<TVEZDatabase> MakeDb(const std::string& name, const std::string& file,
                                     TVEZDurability durability) {
  auto db = std::make_unique<TVEZDatabase>();
  db->SetDatabaseName(name);
  db->SetDatabaseFileName(file);
  db->SetDurability(durability);
  db->SetMultiUser(true);
  db->SetKeepConnection(false);
  db->SetSilentMode(true);
  return db;
}

std::vector<Row> ReadRows(TVEZTable& t, const std::string& index_name) {
  t.SetIndexName(index_name);
  t.Open();
  std::vector<Row> rows;
  for (t.First(); !t.Eof(); t.Next())
    rows.emplace_back(t.FieldByName("ID").AsInteger(), t.FieldByName("TrialID").AsInteger(),
                      t.FieldByName("Name").AsString());
  t.Close();
  return rows;
}

struct Outcome {
  std::int64_t pairs = 0;
  std::int64_t failures = 0;
  std::int64_t under_own_name = 0;
  std::int64_t under_old_name_only = 0;
  std::int64_t both = 0;
  std::vector<std::string> messages;
  std::string Summary() const {
    return std::to_string(pairs) + " pairs, " + std::to_string(failures) + " failures (" +
           std::to_string(under_own_name) + " complete under the own name only, " +
           std::to_string(both) + " under both names, " + std::to_string(under_old_name_only) +
           " under the old copy only)";
  }
};

class AlterCrash {
 public:
  AlterCrash(TVEZDurability durability, int rows)
      : durability_(durability),
        rows_(rows),
        path_(dir_.Path("victim.vez")),
        check_(dir_.Path("check.vez")) {}

  CrashLog Run() {
    RegisterSQLEngine();
    FinalizeSessionLayer();
    {
      auto db = MakeDb("Victim", path_, durability_);
      db->SetDurability(TVEZDurability::Off);
      db->CreateDatabase();
      TVEZTable runs;
      runs.SetDatabaseName("Victim");
      runs.SetTableName("Runs");
      runs.FieldDefs().Add("ID", platform::ftAutoInc, 0, true);
      runs.FieldDefs().Add("TrialID", platform::ftInteger);
      runs.FieldDefs().Add("Name", platform::ftString, 30);
      runs.IndexDefs().Add("Primary", "ID", 0);
      runs.CreateTable();
      runs.Open();
      for (int i = 1; i <= rows_; ++i)
        runs.AppendRecord({Variant::Null(), Variant::FromInteger((i - 1) / 3 + 1),
                           Variant::FromString("run " + std::to_string(i))});
      runs.Close();
    }
    FinalizeSessionLayer();
    RecordingFileSystem fs(path_);
    fs.Start();
    {
      auto db = MakeDb("Victim", path_, durability_);
      TVEZQuery query;
      query.SetDatabaseName("Victim");
      query.SetSQL("ALTER TABLE Runs ADD (Comments VARCHAR(500))");
      query.Prepare();
      EXPECT_NO_THROW(query.ExecSQL());
    }
    FinalizeSessionLayer();
    fs.Stop();
    return fs.TakeLog();
  }

  void Check(const PairImage& pair, const CrashPoint& point, Outcome& outcome) {
    ++outcome.pairs;
    WriteImage(check_, pair.files[static_cast<int>(TrackedFile::kDatabase)]);
    WriteImage(check_ + "-journal", pair.files[static_cast<int>(TrackedFile::kJournal)]);
    std::string failure;
    bool own = false;
    bool old = false;
    try {
      FinalizeSessionLayer();
      auto db = MakeDb("Check", check_, durability_);
      bool repair = false;
      db->OnNeedRepair = [&](TVEZDatabase&, bool& do_repair) {
        repair = true;
        do_repair = false;
      };
      std::vector<std::string> tables;
      db->GetTablesList(tables);
      if (repair) failure = "the file asks for a repair";
      for (const std::string& name : tables) {
        if (!failure.empty()) break;
        const bool leftover = IsRestructureLeftoverName(name);
        if (name != "Runs" && !leftover) {
          failure = "unexpected table " + name;
          break;
        }
        TVEZTable t;
        t.SetDatabaseName("Check");
        t.SetTableName(name);
        const std::vector<Row> stored = ReadRows(t, "");
        const std::vector<Row> indexed = ReadRows(t, "Primary");
        if (stored != indexed) {
          failure = name + ": stored and index order disagree";
          break;
        }
        if (stored == Expected(rows_)) (leftover ? old : own) = true;
      }
      if (failure.empty() && !own && !old) failure = "no table holds every row";
    } catch (const std::exception& e) {
      failure = e.what();
    }
    try {
      FinalizeSessionLayer();
    } catch (...) {
    }
    if (!failure.empty()) {
      ++outcome.failures;
      if (outcome.messages.size() < 5)
        outcome.messages.push_back(point.Describe() + ": " + failure);
      return;
    }
    if (own && old)
      ++outcome.both;
    else if (own)
      ++outcome.under_own_name;
    else
      ++outcome.under_old_name_only;
  }

 private:
  CrashScratchDir dir_;
  TVEZDurability durability_;
  int rows_;
  std::string path_;
  std::string check_;
};

void RunScenario(TVEZDurability durability, bool killed, const char* label) {
  const int rows = kSanitized ? 60 : 300;
  AlterCrash scenario(durability, rows);
  const CrashLog log = scenario.Run();
  ASSERT_FALSE(::testing::Test::HasFailure());
  ReplayOptions options;
  options.max_cuts_per_write = 2 * Scale();
  options.subsets_per_cut = 2 * Scale();
  options.seed = 7;
  Outcome outcome;
  const auto visit = [&](const PairImage& p, const CrashPoint& c) {
    scenario.Check(p, c, outcome);
  };
  if (killed)
    ReplayKilledProcess(log, options, visit);
  else
    ReplayPowerCut(log, options, visit);
  std::cout << "[alter statement, " << label << "] " << log.ops.size() << " file operations; "
            << outcome.Summary() << "\n";
  for (const std::string& m : outcome.messages)
    std::cout << "  " << m << "\n";
  EXPECT_GT(outcome.pairs, 0);
  EXPECT_EQ(outcome.failures, 0) << outcome.Summary();
  // The crash points reach every stage: before, during and after the copy.
  EXPECT_GT(outcome.under_own_name, 0);
  EXPECT_GT(outcome.under_old_name_only, 0);
}

TEST(AlterCrashTest, FullDurabilityKilledProcess) {
  RunScenario(TVEZDurability::Full, true, "durability full, killed");
}

TEST(AlterCrashTest, FullDurabilityPowerCut) {
  RunScenario(TVEZDurability::Full, false, "durability full, power cut");
}

}  // namespace
}  // namespace vez::test::crash

// Checks shared by the crash tests that rebuild a database file from a
// recorded run: the scale knob, the replay-and-report loop, and the check of
// a Runs table that is rebuilt through several commits (rename, create, row
// copies, delete) and must survive under its own name, its
// "OLD_<table>_{GUID}" copy, or both.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZSessionList.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/api/VEZTableCopy.h"
#include "platform/core/Variant.h"
#include "tests/dbengine/storage/crash/harness/CrashRecorder.h"
#include "tests/dbengine/storage/crash/harness/CrashReplayer.h"
#include "tests/dbengine/storage/crash/harness/CrashVictim.h"

namespace vez::test::crash {

// RVX_CRASH_SCALE (a whole number, default 1) multiplies the torn versions
// per write and the power-cut subsets.
inline std::int32_t CrashScale() {
  const char* s = std::getenv("RVX_CRASH_SCALE");
  if (s == nullptr || *s == '\0') return 1;
  const int v = std::atoi(s);
  return v < 1 ? 1 : v;
}

// Counts a failed crash point, keeping the first few messages for the report.
template <class Outcome>
void NoteFailure(Outcome& outcome, const CrashPoint& point, const std::string& failure) {
  ++outcome.failures;
  if (outcome.messages.size() < 5) outcome.messages.push_back(point.Describe() + ": " + failure);
}

// Replays the log as a killed process or as power cuts, checks every rebuilt
// pair with the scenario, and prints the summary under the title.
template <class Outcome, class Scenario>
Outcome ReplayAndReport(const CrashLog& log, Scenario& scenario, const ReplayOptions& options,
                        bool killed, const std::string& title) {
  Outcome outcome;
  const auto visit = [&](const PairImage& p, const CrashPoint& c) {
    scenario.Check(p, c, outcome);
  };
  if (killed)
    ReplayKilledProcess(log, options, visit);
  else
    ReplayPowerCut(log, options, visit);
  std::cout << "[" << title << "] " << log.ops.size() << " file operations; " << outcome.Summary()
            << "\n";
  for (const std::string& m : outcome.messages)
    std::cout << "  " << m << "\n";
  return outcome;
}

using RunsRow = std::tuple<int, int, std::string>;

struct RebuildOutcome {
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

// A Runs table of a few hundred rows, rebuilt by the subclass's Change() under
// the recorder; Check() opens every rebuilt pair and sorts it into the outcome.
class RunsRebuildCrash {
 public:
  RunsRebuildCrash(TVEZDurability durability, int rows)
      : durability_(durability),
        rows_(rows),
        path_(dir_.Path("victim.vez")),
        check_(dir_.Path("check.vez")) {}
  virtual ~RunsRebuildCrash() = default;

  CrashLog Run() {
    Prepare();
    FinalizeSessionLayer();
    {
      auto db = MakeDb("Victim", path_);
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
        runs.AppendRecord({platform::Variant::Null(),
                           platform::Variant::FromInteger((i - 1) / 3 + 1),
                           platform::Variant::FromString("run " + std::to_string(i))});
      runs.Close();
    }
    FinalizeSessionLayer();
    RecordingFileSystem fs(path_);
    fs.Start();
    {
      auto db = MakeDb("Victim", path_);
      Change();
    }
    FinalizeSessionLayer();
    fs.Stop();
    return fs.TakeLog();
  }

  void Check(const PairImage& pair, const CrashPoint& point, RebuildOutcome& outcome) {
    ++outcome.pairs;
    WriteImage(check_, pair.files[static_cast<int>(TrackedFile::kDatabase)]);
    WriteImage(check_ + "-journal", pair.files[static_cast<int>(TrackedFile::kJournal)]);
    std::string failure;
    bool own = false;
    bool old = false;
    try {
      FinalizeSessionLayer();
      auto db = MakeDb("Check", check_);
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
        const std::vector<RunsRow> stored = ReadRows(t, "");
        const std::vector<RunsRow> indexed = ReadRows(t, "Primary");
        if (stored != indexed) {
          failure = name + ": stored and index order disagree";
          break;
        }
        if (stored == Expected()) (leftover ? old : own) = true;
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
      NoteFailure(outcome, point, failure);
      return;
    }
    if (own && old)
      ++outcome.both;
    else if (own)
      ++outcome.under_own_name;
    else
      ++outcome.under_old_name_only;
  }

 protected:
  // Runs before anything is created (e.g. registering an engine).
  virtual void Prepare() {}
  // Rebuilds Runs with the "Victim" database open at the test's durability.
  virtual void Change() = 0;

 private:
  std::unique_ptr<TVEZDatabase> MakeDb(const std::string& name, const std::string& file) const {
    auto db = std::make_unique<TVEZDatabase>();
    db->SetDatabaseName(name);
    db->SetDatabaseFileName(file);
    db->SetDurability(durability_);
    db->SetMultiUser(true);
    db->SetKeepConnection(false);
    db->SetSilentMode(true);
    return db;
  }

  std::vector<RunsRow> Expected() const {
    std::vector<RunsRow> rows;
    for (int i = 1; i <= rows_; ++i)
      rows.emplace_back(i, (i - 1) / 3 + 1, "run " + std::to_string(i));
    return rows;
  }

  static std::vector<RunsRow> ReadRows(TVEZTable& t, const std::string& index_name) {
    t.SetIndexName(index_name);
    t.Open();
    std::vector<RunsRow> rows;
    for (t.First(); !t.Eof(); t.Next())
      rows.emplace_back(t.FieldByName("ID").AsInteger(), t.FieldByName("TrialID").AsInteger(),
                        t.FieldByName("Name").AsString());
    t.Close();
    return rows;
  }

  CrashScratchDir dir_;
  TVEZDurability durability_;
  int rows_;
  std::string path_;
  std::string check_;
};

// Records the rebuild once, replays it, and expects every pair to pass and
// the crash points to reach before, during and after the copy.
template <class Scenario>
void RunRebuildScenario(TVEZDurability durability, bool killed, int rows,
                        const std::string& title) {
  Scenario scenario(durability, rows);
  const CrashLog log = scenario.Run();
  ASSERT_FALSE(::testing::Test::HasFailure());
  ReplayOptions options;
  options.max_cuts_per_write = 2 * CrashScale();
  options.subsets_per_cut = 2 * CrashScale();
  options.seed = 7;
  const RebuildOutcome outcome =
      ReplayAndReport<RebuildOutcome>(log, scenario, options, killed, title);
  EXPECT_GT(outcome.pairs, 0);
  EXPECT_EQ(outcome.failures, 0) << outcome.Summary();
  EXPECT_GT(outcome.under_own_name, 0);
  EXPECT_GT(outcome.under_old_name_only, 0);
}

}  // namespace vez::test::crash

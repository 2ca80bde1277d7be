// An in-place compaction builds "<file>.tmp", syncs it, renames it over the
// file and syncs the folder. Replayed under the crash harness (killed
// process at every prefix and torn write, power cuts before every sync and
// around the rename), the name must hold the old file or the new one byte
// for byte, and either must open without a repair with every row.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZSessionList.h"
#include "dbengine/api/VEZTable.h"
#include "platform/core/Variant.h"
#include "tests/dbengine/api/crash/TableCrashChecks.h"
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
using Row = std::tuple<int, std::string>;

std::vector<Row> Expected(int n) {
  std::vector<Row> rows;
  for (int i = 1; i <= n; ++i)
    if (i % 4 != 0) rows.emplace_back(i, "reading " + std::to_string(i));
  return rows;
}

std::unique_ptr<TVEZDatabase> MakeDb(const std::string& name, const std::string& file,
                                     TVEZDurability durability) {
  auto db = std::make_unique<TVEZDatabase>();
  db->SetDatabaseName(name);
  db->SetDatabaseFileName(file);
  db->SetDurability(durability);
  db->SetSilentMode(true);
  return db;
}

std::vector<Row> ReadRows(TVEZTable& t, const std::string& index_name) {
  t.SetIndexName(index_name);
  t.Open();
  std::vector<Row> rows;
  for (t.First(); !t.Eof(); t.Next())
    rows.emplace_back(t.FieldByName("ID").AsInteger(), t.FieldByName("Name").AsString());
  t.Close();
  return rows;
}

struct Outcome {
  std::int64_t pairs = 0;
  std::int64_t failures = 0;
  std::int64_t old_file = 0;
  std::int64_t new_file = 0;
  std::vector<std::string> messages;
  std::string Summary() const {
    return std::to_string(pairs) + " pairs, " + std::to_string(failures) + " failures (" +
           std::to_string(old_file) + " old file, " + std::to_string(new_file) + " new file)";
  }
};

class CompactCrash {
 public:
  CompactCrash(TVEZDurability durability, int rows)
      : durability_(durability),
        rows_(rows),
        path_(dir_.Path("victim.vez")),
        check_(dir_.Path("check.vez")) {}

  CrashLog Run() {
    FinalizeSessionLayer();
    {
      auto db = MakeDb("Victim", path_, TVEZDurability::Off);
      db->CreateDatabase();
      TVEZTable t;
      t.SetDatabaseName("Victim");
      t.SetTableName("Data");
      t.FieldDefs().Add("ID", platform::ftAutoInc, 0, true);
      t.FieldDefs().Add("Name", platform::ftString, 30);
      t.IndexDefs().Add("Primary", "ID", platform::ixPrimary);
      t.CreateTable();
      t.Open();
      for (int i = 1; i <= rows_; ++i)
        t.AppendRecord({Variant::Null(), Variant::FromString("reading " + std::to_string(i))});
      // Deleted rows leave room for the compaction to reclaim.
      t.First();
      while (!t.Eof()) {
        if (t.FieldByName("ID").AsInteger() % 4 == 0) {
          t.Delete();
        } else {
          t.Next();
        }
      }
      t.Close();
    }
    FinalizeSessionLayer();
    old_ = ReadImage(path_);
    CrashLog log;
    {
      RecordingFileSystem fs(path_);
      fs.Start();
      {
        auto db = MakeDb("Victim", path_, durability_);
        EXPECT_TRUE(db->CompactDatabase());
      }
      FinalizeSessionLayer();
      fs.Stop();
      log = fs.TakeLog();
    }
    new_ = ReadImage(path_);
    EXPECT_NE(old_.bytes, new_.bytes);
    return log;
  }

  void Check(const PairImage& pair, const CrashPoint& point, Outcome& outcome) {
    ++outcome.pairs;
    const FileImage& db_image = pair.files[static_cast<int>(TrackedFile::kDatabase)];
    std::string failure;
    const bool is_old = db_image.exists && db_image.bytes == old_.bytes;
    const bool is_new = db_image.exists && db_image.bytes == new_.bytes;
    if (!is_old && !is_new) failure = "the name holds neither file";
    if (failure.empty()) {
      WriteImage(check_, db_image);
      WriteImage(check_ + "-journal", pair.files[static_cast<int>(TrackedFile::kJournal)]);
      try {
        FinalizeSessionLayer();
        auto db = MakeDb("Check", check_, durability_);
        bool repair = false;
        db->OnNeedRepair = [&](TVEZDatabase&, bool& do_repair) {
          repair = true;
          do_repair = false;
        };
        db->Open();
        if (repair) failure = "the file asks for a repair";
        TVEZTable t;
        t.SetDatabaseName("Check");
        t.SetTableName("Data");
        if (failure.empty() && ReadRows(t, "") != Expected(rows_)) failure = "rows differ";
        if (failure.empty() && ReadRows(t, "Primary") != Expected(rows_))
          failure = "index rows differ";
      } catch (const std::exception& e) {
        failure = e.what();
      }
      try {
        FinalizeSessionLayer();
      } catch (...) {
      }
    }
    if (!failure.empty()) {
      NoteFailure(outcome, point, failure);
      return;
    }
    ++(is_new ? outcome.new_file : outcome.old_file);
  }

 private:
  CrashScratchDir dir_;
  TVEZDurability durability_;
  int rows_;
  std::string path_;
  std::string check_;
  FileImage old_;
  FileImage new_;
};

void RunScenario(TVEZDurability durability, bool killed, const char* label) {
  const int rows = kSanitized ? 60 : 400;
  CompactCrash scenario(durability, rows);
  const CrashLog log = scenario.Run();
  ASSERT_FALSE(::testing::Test::HasFailure());
  ReplayOptions options;
  options.max_cuts_per_write = 2;
  options.subsets_per_cut = 4;
  options.seed = 11;
  const Outcome outcome = ReplayAndReport<Outcome>(log, scenario, options, killed,
                                                   std::string("compact in place, ") + label);
  EXPECT_EQ(log.CountOf(FileOp::Kind::kReplace), 1);
  EXPECT_EQ(outcome.failures, 0) << outcome.Summary();
  EXPECT_GT(outcome.old_file, 0);
  EXPECT_GT(outcome.new_file, 0);
}

TEST(CompactCrashTest, FullDurabilityKilledProcess) {
  RunScenario(TVEZDurability::Full, true, "durability full, killed");
}

TEST(CompactCrashTest, FullDurabilityPowerCut) {
  RunScenario(TVEZDurability::Full, false, "durability full, power cut");
}

TEST(CompactCrashTest, NormalDurabilityPowerCut) {
  RunScenario(TVEZDurability::Normal, false, "durability normal, power cut");
}

}  // namespace
}  // namespace vez::test::crash

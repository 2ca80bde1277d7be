// The crash harness: the replayer's rebuilt files on small hand-made logs,
// the recorder against the real files, and the victim workload crashed at
// every recorded moment. With durability off the harness must find damage
// (proof that it bites); with the rollback journal, full and normal
// durability must lose no committed row, show no uncommitted one and pass
// every integrity check. Changes that fail midway inside a transaction
// must be absent from every committed state.
//
// RVX_CRASH_SCALE (a whole number, default 1) multiplies the workload's
// commits, the torn versions per write and the power-cut subsets, for longer
// runs outside CI; RVX_CRASH_SEED (a whole number) varies the workloads and
// the cuts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "platform/os/File.h"

#include "tests/dbengine/storage/crash/harness/CrashRecorder.h"
#include "tests/dbengine/storage/crash/harness/CrashReplayer.h"
#include "tests/dbengine/storage/crash/harness/CrashVictim.h"

// The sanitizer build runs the engine some twenty times slower: it crashes a
// smaller workload, and the pair counts CI asks for are the default build's.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

namespace vez::test::crash {
namespace {

std::int32_t Scale() {
  const char* s = std::getenv("RVX_CRASH_SCALE");
  if (s == nullptr || *s == '\0') return 1;
  const int v = std::atoi(s);
  return v < 1 ? 1 : v;
}

// The seed of a run: the test's own unless RVX_CRASH_SEED changes it.
std::uint32_t Seed(std::uint32_t own) {
  const char* s = std::getenv("RVX_CRASH_SEED");
  if (s == nullptr || *s == '\0') return own;
  return own ^ static_cast<std::uint32_t>(std::strtoul(s, nullptr, 10)) * 2654435761u;
}

FileOp Write(TrackedFile f, std::int64_t offset, std::size_t count, std::uint8_t fill) {
  FileOp op;
  op.kind = FileOp::Kind::kWrite;
  op.file = f;
  op.offset = offset;
  op.data.assign(count, fill);
  return op;
}
FileOp Simple(FileOp::Kind kind, TrackedFile f, std::int64_t offset = 0) {
  FileOp op;
  op.kind = kind;
  op.file = f;
  op.offset = offset;
  return op;
}
FileOp Mark(FileOp::Kind kind, std::int32_t n) {
  FileOp op;
  op.kind = kind;
  op.mark = n;
  return op;
}

constexpr TrackedFile kDb = TrackedFile::kDatabase;
constexpr TrackedFile kJr = TrackedFile::kJournal;

TEST(CrashReplayerTest, KilledProcessSeesEveryPrefixAndEveryTornStep) {
  CrashLog log;
  log.initial.files[0] = {true, std::vector<std::uint8_t>(1024, 0xAA)};
  log.ops = {Mark(FileOp::Kind::kCommitBegin, 1),
             Simple(FileOp::Kind::kCreate, kJr),
             Write(kJr, 0, 1300, 0x11),  // torn after 512 and 1024
             Simple(FileOp::Kind::kSync, kJr),
             Write(kDb, 512, 2048, 0x22),  // torn after 512, 1024, 1536
             Simple(FileOp::Kind::kTruncate, kDb, 1536),
             Mark(FileOp::Kind::kCommitEnd, 1)};
  std::vector<PairImage> pairs;
  std::vector<CrashPoint> points;
  ReplayOptions options;
  options.max_cuts_per_write = 0;
  const std::int64_t n =
      ReplayKilledProcess(log, options, [&](const PairImage& p, const CrashPoint& c) {
        pairs.push_back(p);
        points.push_back(c);
      });
  // initial, create, 2 torn + whole journal write, 3 torn + whole db write, truncate
  ASSERT_EQ(n, 1 + 1 + 3 + 4 + 1);
  ASSERT_EQ(pairs.size(), 10u);
  EXPECT_FALSE(pairs[0].files[1].exists);
  EXPECT_TRUE(pairs[1].files[1].exists);
  EXPECT_TRUE(pairs[1].files[1].bytes.empty());
  EXPECT_EQ(pairs[2].files[1].bytes, std::vector<std::uint8_t>(512, 0x11));
  EXPECT_EQ(pairs[3].files[1].bytes, std::vector<std::uint8_t>(1024, 0x11));
  EXPECT_EQ(pairs[4].files[1].bytes, std::vector<std::uint8_t>(1300, 0x11));
  // The database write torn after 1024 bytes: old bytes below 512, new up to
  // 1536, the file as long as the new part reaches.
  const auto& torn = pairs[6].files[0].bytes;
  ASSERT_EQ(torn.size(), 1536u);
  EXPECT_EQ(torn[511], 0xAA);
  EXPECT_EQ(torn[512], 0x22);
  EXPECT_EQ(torn[1535], 0x22);
  EXPECT_EQ(pairs[8].files[0].bytes.size(), 2560u);
  EXPECT_EQ(pairs[9].files[0].bytes.size(), 1536u);
  EXPECT_EQ(points[6].torn_bytes, 1024);
  for (std::size_t i = 0; i < points.size(); ++i) {
    SCOPED_TRACE(points[i].Describe());
    EXPECT_EQ(points[i].commits_done, 0);
    EXPECT_EQ(points[i].commit_begun, i > 0);
  }
}

TEST(CrashReplayerTest, ManyStepsOfOneWriteAreSampledWithinTheLimit) {
  CrashLog log;
  log.ops = {Simple(FileOp::Kind::kCreate, kDb), Write(kDb, 0, 64 * 512, 1)};
  ReplayOptions options;
  options.max_cuts_per_write = 5;
  std::vector<std::int64_t> torn;
  ReplayKilledProcess(log, options, [&](const PairImage& p, const CrashPoint& c) {
    if (c.torn_bytes < 0) return;
    torn.push_back(c.torn_bytes);
    EXPECT_EQ(static_cast<std::int64_t>(p.files[0].bytes.size()), c.torn_bytes);
  });
  ASSERT_EQ(torn.size(), 5u);
  for (std::int64_t t : torn)
    EXPECT_EQ(t % kSectorSize, 0);
}

TEST(CrashReplayerTest, PowerCutKeepsSyncedBytesAndTossesOnlyUnsyncedSectors) {
  CrashLog log;
  log.initial.files[0] = {true, std::vector<std::uint8_t>(4096, 0)};
  log.ops = {Write(kDb, 0, 1024, 1),    Simple(FileOp::Kind::kSync, kDb),
             Write(kDb, 1024, 1024, 2), Mark(FileOp::Kind::kCommitEnd, 1),
             Write(kDb, 3072, 512, 3),  Simple(FileOp::Kind::kSync, kDb)};
  ReplayOptions options;
  options.subsets_per_cut = 64;
  int seen_new = 0, seen_old = 0, pairs = 0;
  ReplayPowerCut(log, options, [&](const PairImage& p, const CrashPoint& c) {
    ++pairs;
    SCOPED_TRACE(c.Describe());
    const auto& b = p.files[0].bytes;
    ASSERT_EQ(b.size(), 4096u);  // no size change after the first sync
    if (c.op_index == 1) {
      // Before the first sync: both sectors of the first write are tossed.
      for (int s = 0; s < 2; ++s)
        EXPECT_TRUE(b[s * 512] == 0 || b[s * 512] == 1);
      return;
    }
    EXPECT_EQ(b[0], 1);  // synced
    EXPECT_EQ(b[1023], 1);
    for (int s = 2; s < 4; ++s) {
      const std::uint8_t v = b[static_cast<std::size_t>(s) * 512];
      EXPECT_TRUE(v == 0 || v == 2);
      (v == 2 ? seen_new : seen_old)++;
    }
    if (c.op_index == 5) {
      EXPECT_EQ(c.commits_done, 1);
      EXPECT_TRUE(b[3072] == 0 || b[3072] == 3);
    }
  });
  EXPECT_EQ(pairs, 3 * 64);  // two syncs and the end
  EXPECT_GT(seen_new, 0);
  EXPECT_GT(seen_old, 0);
}

TEST(CrashRecorderTest, FollowsAFileRenamedOntoATrackedNameAndLogsOnlySucceededChanges) {
  CrashScratchDir dir;
  const std::string db = dir.Path("r.vez");
  RecordingFileSystem fs(db);
  fs.Start();
  platform::FileSystem& installed = platform::DefaultFileSystem();
  ASSERT_EQ(&installed, &fs);
  auto temp = installed.CreateFile(db + "-journal.new", platform::FileShare::kDenyNone);
  temp->WriteAt(0, "abc", 3);  // not yet the journal: not logged
  installed.RenameFile(db + "-journal.new", db + "-journal");
  temp->WriteAt(3, "de", 2);
  temp->Sync();
  auto other = installed.CreateFile(dir.Path("other"), platform::FileShare::kExclusive);
  other->WriteAt(0, "zz", 2);  // never tracked
  auto reader = installed.OpenFile(db + "-journal", platform::FileAccess::kRead,
                                   platform::FileShare::kDenyNone);
  EXPECT_THROW(reader->WriteAt(0, "x", 1), std::exception);  // refused: not logged
  reader->Close();
  temp->Close();
  installed.DeleteFile(db + "-journal");
  const CrashLog& log = fs.Log();
  ASSERT_EQ(log.ops.size(), 5u);
  EXPECT_EQ(log.ops[0].kind, FileOp::Kind::kCreate);
  EXPECT_EQ(log.ops[1].kind, FileOp::Kind::kWrite);
  EXPECT_EQ(log.ops[1].data, (std::vector<std::uint8_t>{'a', 'b', 'c'}));
  EXPECT_EQ(log.ops[2].offset, 3);
  EXPECT_EQ(log.ops[3].kind, FileOp::Kind::kSync);
  EXPECT_EQ(log.ops[4].kind, FileOp::Kind::kDelete);
  for (const FileOp& op : log.ops)
    EXPECT_EQ(op.file, kJr);
  // Replayed, the journal held "abcde" before it was deleted.
  std::vector<std::string> journals;
  ReplayKilledProcess(log, ReplayOptions{}, [&](const PairImage& p, const CrashPoint&) {
    journals.push_back(p.files[1].exists
                           ? std::string(p.files[1].bytes.begin(), p.files[1].bytes.end())
                           : "<none>");
  });
  EXPECT_EQ(journals, (std::vector<std::string>{"<none>", "", "abc", "abcde", "<none>"}));
}

// Runs the victim and checks every rebuilt pair of the chosen models.
struct HarnessRun {
  CheckStats killed, power_cut;
  // The killed-process pairs checked past a repair flag.
  CheckStats killed_unheeded;
  std::int64_t syncs = 0, commits = 0, syncs_in_commits = 0;
  std::int32_t failed_changes = 0;
};

HarnessRun RunHarness(TVEZDurability durability, bool killed, bool power_cut, std::int32_t commits,
                      std::uint32_t seed, bool unheeded = false,
                      std::uint32_t fail_one_change_in = 0, const TVEZPassword& password = {}) {
  CrashScratchDir dir;
  VictimOptions options;
  options.password = password;
  options.durability = durability;
  options.fail_one_change_in = fail_one_change_in;
  options.commits = (kSanitized ? (commits + 1) / 2 : commits) * Scale();
  options.seed = Seed(seed);
  CrashVictim victim(dir.Dir(), options);
  const CrashLog log = victim.Run();
  HarnessRun run;
  run.syncs = log.CountOf(FileOp::Kind::kSync);
  run.syncs_in_commits = log.SyncsInCommits();
  run.commits = options.commits;
  run.failed_changes = victim.FailedChanges();
  ReplayOptions replay;
  replay.seed = options.seed;
  replay.max_cuts_per_write = (kSanitized ? 2 : 6) * Scale();
  replay.subsets_per_cut = (kSanitized ? 3 : 8) * Scale();
  if (killed) {
    CrashChecker checker(victim, dir.Dir());
    ReplayKilledProcess(log, replay,
                        [&](const PairImage& p, const CrashPoint& c) { checker.Check(p, c); });
    run.killed = checker.Stats();
  }
  if (unheeded) {
    CrashChecker checker(victim, dir.Dir());
    checker.SetHeedRepairFlag(false);
    ReplayKilledProcess(log, replay,
                        [&](const PairImage& p, const CrashPoint& c) { checker.Check(p, c); });
    run.killed_unheeded = checker.Stats();
  }
  if (power_cut) {
    CrashChecker checker(victim, dir.Dir());
    ReplayPowerCut(log, replay,
                   [&](const PairImage& p, const CrashPoint& c) { checker.Check(p, c); });
    run.power_cut = checker.Stats();
  }
  return run;
}

TEST(CrashHarnessTest, RecorderLogRebuildsTheFilesTheWorkloadLeft) {
  CrashScratchDir dir;
  VictimOptions options;
  options.durability = TVEZDurability::Off;
  options.commits = 6;
  CrashVictim victim(dir.Dir(), options);
  const CrashLog log = victim.Run();
  EXPECT_EQ(log.CountOf(FileOp::Kind::kCommitEnd), 6);
  EXPECT_EQ(victim.States().size(), 7u);
  PairImage last;
  ReplayKilledProcess(log, ReplayOptions{},
                      [&](const PairImage& p, const CrashPoint&) { last = p; });
  EXPECT_EQ(last.files[0].bytes, victim.FinalImage().files[0].bytes);
  EXPECT_EQ(last.files[1].exists, victim.FinalImage().files[1].exists);
  EXPECT_EQ(last.files[1].bytes, victim.FinalImage().files[1].bytes);

  // The checker finds the finished files sound and holding the last rows.
  CrashChecker checker(victim, dir.Dir());
  CrashPoint end;
  end.op_index = log.ops.size();
  end.commits_done = 6;
  checker.Check(last, end);
  EXPECT_EQ(checker.Stats().failures, 0) << checker.Stats().Summary();
  EXPECT_GT(checker.Stats().rows_checked, 0);
  EXPECT_EQ(checker.Stats().leaked_pages, 0);

  // And it refuses a pair said to stand after the commits that made them.
  CrashPoint early = end;
  early.commits_done = 2;
  CrashChecker strict(victim, dir.Dir());
  strict.Check(last, early);
  EXPECT_EQ(strict.Stats().failures, 1);
}

TEST(CrashHarnessTest, DurabilityOffIsCaughtDamaged) {
  const HarnessRun run = RunHarness(TVEZDurability::Off, true, true, 8, 7, true);
  std::cout << "[durability off] killed: " << run.killed.Summary() << "\n"
            << "[durability off] killed, repair flag not heeded: " << run.killed_unheeded.Summary()
            << "\n"
            << "[durability off] power cut: " << run.power_cut.Summary() << "\n";
  EXPECT_EQ(run.syncs, 0);
  EXPECT_GT(run.killed.pairs, 0);
  EXPECT_GT(run.killed.failures, 0);
  EXPECT_GT(run.killed.repair_needed, 0);
  // Past the flag, torn commits show as damaged trees or wrong rows; a power
  // cut without syncs loses what the last commits wrote.
  EXPECT_GT(run.killed_unheeded.failures, 0);
  EXPECT_EQ(run.killed_unheeded.repair_needed, 0);
  EXPECT_GT(run.power_cut.failures, 0);
}

TEST(CrashHarnessTest, FullDurabilitySurvivesKilledProcess) {
  const HarnessRun run = RunHarness(TVEZDurability::Full, true, false, 12, 11);
  std::cout << "[durability full] syncs " << run.syncs << " over " << run.commits << " commits ("
            << run.syncs_in_commits << " while commits wrote, the rest for page allocations "
            << "and other shared changes)\n[durability full] killed: " << run.killed.Summary()
            << "\n";
  if (!kSanitized) {
    EXPECT_GE(run.killed.pairs, 2000);
  }
  EXPECT_EQ(run.killed.failures, 0) << run.killed.Summary();
}

// An encrypted file goes through the same crashes: pages are written coded,
// the journal holds coded images, and recovery brings back what decodes.
TEST(CrashHarnessTest, EncryptedFileSurvivesKilledProcessAndPowerCut) {
  const HarnessRun run = RunHarness(TVEZDurability::Full, true, true, 6, 13, false, 0,
                                    TVEZPassword{"crash test", craTwofish_128});
  std::cout << "[encrypted] killed: " << run.killed.Summary()
            << "\n[encrypted] power cut: " << run.power_cut.Summary() << "\n";
  EXPECT_GT(run.killed.pairs, 0);
  EXPECT_GT(run.power_cut.pairs, 0);
  EXPECT_EQ(run.killed.failures, 0) << run.killed.Summary();
  EXPECT_EQ(run.power_cut.failures, 0) << run.power_cut.Summary();
}

TEST(CrashHarnessTest, FullDurabilitySurvivesPowerCut) {
  const HarnessRun run = RunHarness(TVEZDurability::Full, false, true, 12, 11);
  std::cout << "[durability full] power cut: " << run.power_cut.Summary() << "\n";
  if (!kSanitized) {
    EXPECT_GE(run.power_cut.pairs, 1000);
  }
  EXPECT_EQ(run.power_cut.failures, 0) << run.power_cut.Summary();
}

// Changes that fail midway inside a transaction leave nothing of themselves:
// the transaction commits the others, and every crash of those commits
// shows a committed state without the failed changes.
TEST(CrashHarnessTest, ChangesFailedInsideTransactionsLeaveNothingThroughCrashes) {
  const HarnessRun run = RunHarness(TVEZDurability::Full, true, true, 10, 19, false, 4);
  std::cout << "[failed changes, durability full] " << run.failed_changes
            << " changes failed inside their transactions\n"
            << "[failed changes, durability full] killed: " << run.killed.Summary() << "\n"
            << "[failed changes, durability full] power cut: " << run.power_cut.Summary() << "\n";
  EXPECT_GT(run.failed_changes, 0);
  EXPECT_GT(run.killed.pairs, 0);
  EXPECT_EQ(run.killed.failures, 0) << run.killed.Summary();
  EXPECT_EQ(run.power_cut.failures, 0) << run.power_cut.Summary();
}

TEST(CrashHarnessTest, NormalDurabilitySurvivesKilledProcess) {
  const HarnessRun run = RunHarness(TVEZDurability::Normal, true, false, 8, 13);
  std::cout << "[durability normal] syncs " << run.syncs
            << "\n[durability normal] killed: " << run.killed.Summary() << "\n";
  EXPECT_EQ(run.syncs, 0);
  EXPECT_EQ(run.killed.failures, 0) << run.killed.Summary();
}

}  // namespace
}  // namespace vez::test::crash

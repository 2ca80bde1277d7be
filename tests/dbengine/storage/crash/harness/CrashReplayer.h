// Crash harness, part two: rebuilds a database file and its journal from a
// recorded log as a crash would have left them.
//
// Killed process: the files as of every prefix of the log (every issued
// write survives, in order), and each write also cut after every 512-byte
// step (the process died inside it).
// Power cut: just before every sync and at the end of the log, each file as
// of its own last sync plus a random subset (seeded) of the 512-byte sectors
// written since, with either the synced or the latest size.
//
// Every rebuilt pair comes with the crash point: how many commits had
// returned and whether the next one had started, so the checker knows which
// rows the pair may hold.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tests/dbengine/storage/crash/harness/CrashRecorder.h"

namespace vez::test::crash {

inline constexpr std::int64_t kSectorSize = 512;

struct CrashPoint {
  enum class Model : std::uint8_t { kKilled, kPowerCut };
  Model model = Model::kKilled;
  // Index of the log operation the crash stands at (ops before it happened,
  // apart from the cut part of a torn write).
  std::size_t op_index = 0;
  // Bytes of op_index's write that reached the file (killed model, torn write).
  std::int64_t torn_bytes = -1;
  // Power cut: which subset.
  std::int32_t subset = 0;
  // Commits that had returned before the crash, and whether the next had begun.
  std::int32_t commits_done = 0;
  bool commit_begun = false;

  std::string Describe() const;
};

using PairVisitor = std::function<void(const PairImage&, const CrashPoint&)>;

struct ReplayOptions {
  // Torn versions of one write at most (a seeded choice of its 512-byte steps
  // when it has more); every step when 0.
  std::int32_t max_cuts_per_write = 16;
  // Random sector subsets per power-cut point.
  std::int32_t subsets_per_cut = 4;
  std::uint32_t seed = 1;
};

// Calls visit for the initial pair, after every file change of the log, and
// for the torn versions of every write. Returns the number of pairs.
std::int64_t ReplayKilledProcess(const CrashLog& log, const ReplayOptions& options,
                                 const PairVisitor& visit);

// Calls visit for subsets_per_cut power cuts just before every sync and at the
// end of the log. Returns the number of pairs.
std::int64_t ReplayPowerCut(const CrashLog& log, const ReplayOptions& options,
                            const PairVisitor& visit);

// Applies one file-changing operation to the image (marks and syncs change
// nothing). A write keeps only its first `limit` bytes when limit >= 0.
void ApplyOp(FileImage& image, const FileOp& op, std::int64_t limit = -1);

}  // namespace vez::test::crash

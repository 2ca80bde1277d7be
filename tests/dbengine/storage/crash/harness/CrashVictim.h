// Crash harness, part three: the victim and the checker.
//
// The victim is one disk table (ID Integer, V Integer, B BLOB) with a B-tree
// record index on V, driven through the disk page manager, record manager,
// BLOB manager, the table's page indexes and its record indexes: commits of
// 1 to 50 appends, updates (some moving the row in the index), deletes and
// BLOB writes (empty, shared-page and own-page values); midway a commit of
// its own creates a unique index on ID over the stored rows. After every
// commit it notes the rows, the indexes with their roots, and which pages the
// free space maps mark in use.
//
// The checker opens a rebuilt pair (recovering it) and accepts it when it
// matches the last returned commit, or the next one when that had begun (a
// commit caught after its last write is whole): the page indexes' and record
// indexes' integrity walks pass, the record page index counts the rows, every
// index lists exactly the rows in key order, the rows and BLOBs are the
// state's, and every page the state uses is in use. Pages the pair marks in
// use beyond the state's are counted as leaked.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/storage/VEZDiskPageManager.h"
#include "tests/dbengine/storage/crash/harness/CrashRecorder.h"
#include "tests/dbengine/storage/crash/harness/CrashReplayer.h"

namespace vez::test::crash {

struct RowValue {
  std::int32_t v = 0;
  std::vector<std::uint8_t> blob;
  bool operator==(const RowValue&) const = default;
};
using Rows = std::map<std::int32_t, RowValue>;

// One record index of the table.
struct IndexInfo {
  std::string name;
  std::string field;
  bool unique = false;
  std::int32_t root = -1;
};

// What one returned commit left: the rows, the indexes and the pages in use.
struct CommittedState {
  Rows rows;
  std::vector<IndexInfo> indexes;
  std::vector<bool> used_pages;
};

struct VictimOptions {
  TVEZDurability durability = TVEZDurability::Full;
  std::int32_t commits = 12;
  std::uint32_t seed = 1;
  std::uint16_t page_size = 4096;
};

// Where the table's page indexes start; fixed for the life of the file.
struct TableRoots {
  std::int32_t record_index = -1;
  std::int32_t blob_index = -1;
};

class CrashVictim {
 public:
  CrashVictim(std::string directory, VictimOptions options);
  ~CrashVictim();
  CrashVictim(const CrashVictim&) = delete;
  CrashVictim& operator=(const CrashVictim&) = delete;

  // Creates the database, runs the workload under the recorder and returns
  // the log; the files are left as the last commit wrote them (also in
  // FinalImage).
  CrashLog Run();

  const std::vector<CommittedState>& States() const { return states_; }
  const TableRoots& Roots() const { return roots_; }
  const VictimOptions& Options() const { return options_; }
  const PairImage& FinalImage() const { return final_image_; }
  const std::string& DatabasePath() const { return path_; }

 private:
  struct Live;

  std::string path_;
  VictimOptions options_;
  std::vector<CommittedState> states_;
  TableRoots roots_;
  PairImage final_image_;
};

struct CheckStats {
  std::int64_t pairs = 0;
  std::int64_t rows_checked = 0;
  std::int64_t leaked_pages = 0;
  // Pairs with at least one failure; the kinds below count each failure.
  std::int64_t failures = 0;
  std::int64_t repair_needed = 0;
  std::int64_t lost_rows = 0;
  std::int64_t uncommitted_rows = 0;
  std::int64_t integrity_failures = 0;
  // Failed pairs by what failed first.
  std::map<std::string, std::int64_t> failure_kinds;
  // The first few failures, described.
  std::vector<std::string> messages;

  void Add(const CheckStats& other);
  std::string Summary() const;
};

class CrashChecker {
 public:
  // Rebuilt pairs are written to directory as "check.vez" and its journal.
  CrashChecker(const CrashVictim& victim, std::string directory);
  ~CrashChecker();

  void Check(const PairImage& pair, const CrashPoint& point);
  // False: a file that says it needs a repair is checked all the same (to
  // see what the flag guards against).
  void SetHeedRepairFlag(bool v) { heed_repair_flag_ = v; }
  const CheckStats& Stats() const { return stats_; }

 private:
  void Fail(const CrashPoint& point, const std::string& what, const std::string& kind);
  // Empty when the open database holds the state; else what differs.
  struct Verdict;
  Verdict Compare(TVEZDiskPageManager& pm, const CommittedState& state);

  const CrashVictim& victim_;
  std::string path_;
  CheckStats stats_;
  bool pair_failed_ = false;
  bool heed_repair_flag_ = true;
};

// A scratch folder in $RVX_CRASH_DIR, else /dev/shm, else $TMPDIR (default
// /tmp), removed with everything in it.
class CrashScratchDir {
 public:
  CrashScratchDir();
  ~CrashScratchDir();
  CrashScratchDir(const CrashScratchDir&) = delete;
  CrashScratchDir& operator=(const CrashScratchDir&) = delete;
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_;
};

}  // namespace vez::test::crash

// Crash harness: the victim as the program drives it. One disk table T (ID
// Integer, V Integer, B BLOB, index BY_V on V) of a database opened through
// the disk database data, written through a local cursor of a multi-user
// session: transactions of 1 to 50 appends, updates (some moving the row in
// the index), deletes and BLOB writes (none, shared-page and own-page
// values), each ended by the session's commit; midway the cursor adds a
// unique index on ID over the stored rows. On request some changes fail
// midway inside their transaction, which commits the others. After every commit it notes the
// rows, the table's index names and the pages the free space maps mark in
// use.
//
// The checker connects to a rebuilt pair (recovering it) and accepts it when
// it holds the last returned commit's state, or the next one's when that had
// begun: the record and BLOB page indexes' integrity walks pass, the record
// page index counts the rows, every B-tree index passes its integrity walk
// and lists exactly the rows in key order, the rows and BLOBs are the
// state's, and the free space maps hold every page in use. Pages the pair
// marks in use beyond the state's are counted as leaked.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZSecurity.h"
#include "dbengine/storage/VEZDurability.h"
#include "tests/dbengine/storage/crash/harness/CrashRecorder.h"
#include "tests/dbengine/storage/crash/harness/CrashReplayer.h"

namespace vez::test::crash {

struct RowValue {
  std::int32_t v = 0;
  std::vector<std::uint8_t> blob;
  bool operator==(const RowValue&) const = default;
};
using Rows = std::map<std::int32_t, RowValue>;

struct VictimOptions {
  TVEZDurability durability = TVEZDurability::Full;
  std::int32_t commits = 12;
  std::uint32_t seed = 1;
  // The database's page size (the test helper makes 4096-byte pages); BLOB
  // values are sized against it to share a page or fill pages of their own.
  std::uint16_t page_size = 4096;
  // When above 0, about one change in this many fails midway (an engine
  // error at one of the first pages it gets or adds) inside its
  // transaction; the states note the rows without it.
  std::uint32_t fail_one_change_in = 0;
  // A password encrypts the database (and opens it at every check).
  TVEZPassword password;
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

struct CommittedState {
  Rows rows;
  std::vector<std::string> indexes;
  std::vector<bool> used_pages;
};

class CrashVictim {
 public:
  CrashVictim(std::string directory, VictimOptions options);
  CrashVictim(const CrashVictim&) = delete;
  CrashVictim& operator=(const CrashVictim&) = delete;

  // Creates the database and its table, runs the workload under the
  // recorder and returns the log; the files are left as the last commit
  // wrote them (also in FinalImage).
  CrashLog Run();

  const std::vector<CommittedState>& States() const { return states_; }
  const VictimOptions& Options() const { return options_; }
  const PairImage& FinalImage() const { return final_image_; }
  // Changes that failed midway (see VictimOptions::fail_one_change_in).
  std::int32_t FailedChanges() const { return failed_changes_; }

 private:
  std::string path_;
  VictimOptions options_;
  std::vector<CommittedState> states_;
  PairImage final_image_;
  std::int32_t failed_changes_ = 0;
};

class CrashChecker {
 public:
  // Rebuilt pairs are written to directory as "check.vez" and its journal.
  CrashChecker(const CrashVictim& victim, std::string directory);

  void Check(const PairImage& pair, const CrashPoint& point);
  // False: a file that says it needs a repair is checked all the same (to
  // see what the flag guards against).
  void SetHeedRepairFlag(bool v) { heed_repair_flag_ = v; }
  const CheckStats& Stats() const { return stats_; }

 private:
  struct Verdict;
  void Fail(const CrashPoint& point, const std::string& what, const std::string& kind);

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

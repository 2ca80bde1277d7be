#include "tests/dbengine/storage/crash/harness/CrashVictim.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <utility>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZBTreePage.h"
#include "dbengine/storage/VEZBTreeRecordIndex.h"
#include "dbengine/storage/VEZDatabaseFreeSpaceManager.h"
#include "dbengine/storage/VEZDiskBlobManager.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "dbengine/storage/VEZDiskRecordManager.h"
#include "dbengine/storage/VEZDiskTableData.h"
#include "dbengine/storage/VEZIndexManager.h"
#include "dbengine/storage/VEZKeyPath.h"
#include "platform/core/Exceptions.h"
#include "tests/dbengine/storage/DiskTableTestSupport.h"

namespace vez::test::crash {

namespace {

constexpr std::int32_t kIDField = 0;
constexpr std::int32_t kVField = 1;
constexpr std::int32_t kBlobField = 2;
constexpr const char* kTable = "T";
constexpr std::size_t kMaxMessages = 8;

TVEZDiskTableData& TableOf(TTestLocalCursor& c) {
  return static_cast<TVEZDiskTableData&>(*c.table_data);
}

void AddFieldDef(TVEZFieldDefs& fields, const char* name, TVEZAdvancedFieldType type) {
  TVEZFieldDef* def = fields.AddCreated();
  def->Name = name;
  def->SetFieldDefDataType(type, 0);
}

TVEZIndexDef* AddIndex(TVEZIndexDefs& indexes, const char* name, const char* field, bool unique) {
  TVEZIndexDef* def = indexes.AddCreated();
  def->Name = name;
  def->AssignByNames({field}, std::vector<std::string>(1), std::vector<std::string>(1));
  def->Unique = unique;
  return def;
}

void CreateTable(TDiskTableEnv& conn) {
  TVEZFieldDefs fields;
  AddFieldDef(fields, "ID", aftInteger);
  AddFieldDef(fields, "V", aftInteger);
  AddFieldDef(fields, "B", aftBlob);
  TVEZIndexDefs indexes;
  AddIndex(indexes, "BY_V", "V", false);
  TVEZConstraintDefs constraints;
  TTestLocalCursor& c = conn.NewCursor(kTable);
  conn.Db().FindOrCreateTableData(c)->CreateTable(&c, fields, indexes, constraints);
}

std::vector<std::string> IndexNames(TTestLocalCursor& c) {
  std::vector<std::string> names;
  const TVEZIndexDefs& defs = TableOf(c).IndexManager()->IndexDefs();
  for (std::int32_t i = 0; i < defs.GetCount(); ++i)
    names.push_back(defs.GetDef(i)->Name);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<bool> UsedPages(TVEZDiskPageManager& pm) {
  std::vector<bool> used(static_cast<std::size_t>(pm.GetPageCount()));
  for (std::size_t p = 0; p < used.size(); ++p)
    used[p] = pm.FreeSpaceManager()->GetPageUsageFromPFS(static_cast<std::int32_t>(p));
  return used;
}

std::vector<std::uint8_t> RandomBlob(std::mt19937& rng, std::int32_t page_size) {
  std::size_t n = 0;
  const std::uint32_t dice = rng() % 10;
  if (dice >= 4 && dice < 8)
    n = 1 + rng() % 1500;  // shares a BLOB page
  else if (dice >= 8)
    n = static_cast<std::size_t>(page_size) + rng() % (2 * static_cast<std::size_t>(page_size));
  std::vector<std::uint8_t> b(n);
  for (auto& x : b)
    x = static_cast<std::uint8_t>(rng());
  return b;
}

// The cursor's current record: its ID, and V and B as a row.
RowValue ReadRow(TTestLocalCursor& c, std::int32_t& id) {
  const TVEZFieldDefs& defs = c.FieldDefs();
  RowValue row;
  id = 0;
  GetRecordFieldData(kIDField, defs, &id, c.CurrentRecordBuffer);
  GetRecordFieldData(kVField, defs, &row.v, c.CurrentRecordBuffer);
  TVEZPartialTemporaryBLOBDescriptor d;
  std::uint8_t* data = nullptr;
  TableOf(c).GetDirectBlobData(c, kBlobField, c.CurrentRecordBuffer, d, data);
  if (data != nullptr && d.CompressedSize > 0) row.blob.assign(data, data + d.CompressedSize);
  return row;
}

// Writes V and B (B null when empty) into the cursor's current record.
void WriteRow(TTestLocalCursor& c, const RowValue& row) {
  SetRecordFieldData(kVField, c.FieldDefs(), &row.v, c.CurrentRecordBuffer);
  const auto n = static_cast<std::int64_t>(row.blob.size());
  TVEZPartialTemporaryBLOBDescriptor d{1, n, n};
  auto* data = const_cast<std::uint8_t*>(row.blob.data());
  TableOf(c).SetDirectBlobData(c, kBlobField, c.CurrentRecordBuffer, d, data);
}

// Reads the record at id into the cursor.
void GoTo(TTestLocalCursor& c, TVEZPageItemID id) {
  TableOf(c).ClearBlobsCacheInRecordBuffer(c.CurrentRecordBuffer);
  c.IndexID = -1;
  c.CurrentRecordID = id;
  c.FirstPosition = c.LastPosition = false;
  if (c.GetRecordBuffer(grmCurrent) != grrOK) throw platform::Exception("victim: row not found");
}

void Post(TTestLocalCursor& c, bool to_insert) {
  c.InternalPost(to_insert);
  if (c.ErrorCode != cecOK)
    throw platform::Exception("victim: post refused (" + std::to_string(c.ErrorCode) + ")");
}

void CountDifferences(const Rows& want, const Rows& have, std::int64_t& lost, std::int64_t& extra) {
  for (const auto& [id, row] : want) {
    auto it = have.find(id);
    if (it == have.end() || !(it->second == row)) ++lost;
  }
  for (const auto& [id, row] : have)
    if (!want.contains(id)) ++extra;
}

// Fails the fail_at-th page a change gets or adds, once armed.
class TChangeFailure {
 public:
  explicit TChangeFailure(std::vector<TVEZPageManager*> managers) : managers_(std::move(managers)) {
    for (TVEZPageManager* pm : managers_) {
      pm->SetBeforePageAccess([this](std::int32_t) {
        if (fail_at_ >= 0 && count_++ == fail_at_) {
          fired_ = true;
          throw EVEZException(kInjectedFailure, "Injected failure");
        }
      });
    }
  }
  ~TChangeFailure() {
    for (TVEZPageManager* pm : managers_)
      pm->SetBeforePageAccess({});
  }
  TChangeFailure(const TChangeFailure&) = delete;
  TChangeFailure& operator=(const TChangeFailure&) = delete;

  // Runs change failing its fail_at-th page (-1: none); false when that
  // failure stopped it (any other error passes on). A failure after the
  // change's last page is never reached, and the change stands.
  template <typename F>
  bool Run(std::int32_t fail_at, F&& change) {
    fail_at_ = fail_at;
    count_ = 0;
    fired_ = false;
    try {
      change();
    } catch (const EVEZException& e) {
      if (!fired_ || e.NativeError() != kInjectedFailure) throw;
      fail_at_ = -1;
      return false;
    }
    fail_at_ = -1;
    return true;
  }

 private:
  static constexpr std::int32_t kInjectedFailure = 99;
  std::vector<TVEZPageManager*> managers_;
  std::int32_t fail_at_ = -1;
  std::int32_t count_ = 0;
  bool fired_ = false;
};

std::string KindOf(const std::exception& e) {
  if (const auto* v = dynamic_cast<const EVEZException*>(&e))
    return "native error " + std::to_string(v->NativeError());
  return std::string(e.what()).substr(0, 40);
}

}  // namespace

CrashVictim::CrashVictim(std::string directory, VictimOptions options)
    : path_(std::move(directory) + "/victim.vez"), options_(options) {}

CrashLog CrashVictim::Run() {
  RecordingFileSystem fs(path_);
  {
    TDiskTableEnv conn(path_, true, true, TVEZDurability::Off, 8, options_.password);
    CreateTable(conn);
  }
  auto conn = std::make_unique<TDiskTableEnv>(path_, false, true, options_.durability, 8,
                                              options_.password);
  TTestLocalCursor& c = conn->Open(kTable);
  TVEZDiskPageManager& pm = *conn->Db().DiskPageManager();
  TestSession& session = conn->Session();
  Rows rows;
  std::map<std::int32_t, TVEZPageItemID> ids;
  auto note_state = [&] { states_.push_back({rows, IndexNames(c), UsedPages(pm)}); };
  note_state();
  auto failure = std::make_unique<TChangeFailure>(
      std::vector<TVEZPageManager*>{&pm, TableOf(c).TemporaryPageManager()});
  fs.Start();

  std::mt19937 rng(options_.seed);
  std::int32_t next_id = 1;
  const std::int32_t index_at = std::max(1, options_.commits / 2);
  for (std::int32_t commit = 1; commit <= options_.commits; ++commit) {
    fs.Mark(FileOp::Kind::kCommitBegin, commit);
    if (commit == index_at) {
      // A new index over the stored rows; outside a transaction it is
      // written whole by itself.
      TVEZIndexDefs defs;
      fs.Mark(FileOp::Kind::kCommitApply, commit);
      c.AddIndex(*AddIndex(defs, "BY_ID", "ID", true));
    } else {
      session.StartTransaction();
      const std::int32_t operations = 1 + static_cast<std::int32_t>(rng() % 50);
      for (std::int32_t i = 0; i < operations; ++i) {
        const std::uint32_t dice = rng() % 100;
        // Some changes fail midway (at a page they get or add); they must
        // leave nothing of themselves in the transaction.
        const bool to_fail =
            options_.fail_one_change_in > 0 && rng() % options_.fail_one_change_in == 0;
        const std::int32_t fail_at = to_fail ? static_cast<std::int32_t>(rng() % 24) : -1;
        if (ids.empty() || dice < 55) {
          const std::int32_t id = next_id++;
          RowValue row{static_cast<std::int32_t>(rng() % 1000),
                       RandomBlob(rng, options_.page_size)};
          TableOf(c).ClearBlobsCacheInRecordBuffer(c.CurrentRecordBuffer);
          c.NewRecord();
          SetRecordFieldData(kIDField, c.FieldDefs(), &id, c.CurrentRecordBuffer);
          WriteRow(c, row);
          if (!failure->Run(fail_at, [&] { Post(c, true); })) {
            TableOf(c).ClearModifiedBLOBFieldsInRecordBuffer(c.CurrentRecordBuffer);
            ++failed_changes_;
            continue;
          }
          ids[id] = c.CurrentRecordID;
          rows[id] = std::move(row);
          continue;
        }
        auto it = ids.begin();
        std::advance(it, static_cast<long>(rng() % ids.size()));
        const std::int32_t id = it->first;
        GoTo(c, it->second);
        if (dice < 70) {
          if (!failure->Run(fail_at, [&] {
                c.InternalDelete();
                if (c.ErrorCode != cecOK) throw platform::Exception("victim: delete refused");
              })) {
            ++failed_changes_;
            continue;
          }
          ids.erase(it);
          rows.erase(id);
          continue;
        }
        RowValue row = rows[id];
        c.BeginEdit();
        if (dice < 85)
          row.v = static_cast<std::int32_t>(rng() % 1000);  // moves in BY_V
        else
          row.blob = RandomBlob(rng, options_.page_size);  // the old value goes
        WriteRow(c, row);
        if (!failure->Run(fail_at, [&] { Post(c, false); })) {
          TableOf(c).ClearModifiedBLOBFieldsInRecordBuffer(c.CurrentRecordBuffer);
          c.InternalCancel(false);
          ++failed_changes_;
          continue;
        }
        rows[id] = std::move(row);
        it->second = c.CurrentRecordID;
      }
      fs.Mark(FileOp::Kind::kCommitApply, commit);
      conn->Db().Commit(session.SessionID, false);
      session.InTransaction = false;
    }
    fs.Mark(FileOp::Kind::kCommitEnd, commit);
    note_state();
  }
  fs.Stop();
  final_image_.files[0] = ReadImage(path_);
  final_image_.files[1] = ReadImage(path_ + "-journal");
  CrashLog log = fs.TakeLog();
  failure.reset();
  conn.reset();
  return log;
}

void CheckStats::Add(const CheckStats& other) {
  pairs += other.pairs;
  rows_checked += other.rows_checked;
  leaked_pages += other.leaked_pages;
  failures += other.failures;
  repair_needed += other.repair_needed;
  lost_rows += other.lost_rows;
  uncommitted_rows += other.uncommitted_rows;
  integrity_failures += other.integrity_failures;
  for (const auto& [kind, n] : other.failure_kinds)
    failure_kinds[kind] += n;
  for (const auto& m : other.messages)
    if (messages.size() < kMaxMessages) messages.push_back(m);
}

std::string CheckStats::Summary() const {
  std::ostringstream s;
  s << "pairs " << pairs << ", rows checked " << rows_checked << ", leaked pages " << leaked_pages
    << ", failures " << failures << " (repair needed " << repair_needed << ", committed rows lost "
    << lost_rows << ", uncommitted rows visible " << uncommitted_rows << ", integrity "
    << integrity_failures << ")";
  for (const auto& [kind, n] : failure_kinds)
    s << "\n  " << n << " x " << kind;
  for (const auto& m : messages)
    s << "\n  " << m;
  return s.str();
}

CrashChecker::CrashChecker(const CrashVictim& victim, std::string directory)
    : victim_(victim), path_(std::move(directory) + "/check.vez") {}

void CrashChecker::Fail(const CrashPoint& point, const std::string& what, const std::string& kind) {
  if (!pair_failed_) {
    ++stats_.failures;
    ++stats_.failure_kinds[kind];
  }
  pair_failed_ = true;
  if (stats_.messages.size() < kMaxMessages)
    stats_.messages.push_back(point.Describe() + ": " + what);
}

struct CrashChecker::Verdict {
  enum class Kind : std::uint8_t { kHolds, kIntegrity, kRows, kFreeSpace };
  Kind kind = Kind::kHolds;
  std::string what;
  std::string failure_kind;
  std::int64_t rows = 0, leaked = 0, lost = 0, extra = 0;
};

namespace {

// Every row in storage order with its identity; raises on a row stored twice.
Rows ReadStored(TTestLocalCursor& c, std::map<std::int32_t, TVEZPageItemID>& ids) {
  Rows rows;
  c.IndexID = -1;
  c.FirstPosition = true;
  c.LastPosition = false;
  for (;;) {
    TableOf(c).ClearBlobsCacheInRecordBuffer(c.CurrentRecordBuffer);
    const TVEZGetRecordResult r = c.GetRecordBuffer(grmNext);
    if (r == grrEOF) break;
    if (r != grrOK)
      throw platform::Exception("record walk answered " + std::to_string(static_cast<int>(r)));
    std::int32_t id = 0;
    RowValue row = ReadRow(c, id);
    if (!rows.emplace(id, std::move(row)).second)
      throw platform::Exception("row " + std::to_string(id) + " stored twice");
    ids[id] = c.CurrentRecordID;
  }
  return rows;
}

// The index's B-tree walk, then its entries: exactly the stored rows, in key
// order.
void CheckIndex(TTestLocalCursor& c, const TVEZIndexDef& def, const Rows& rows,
                const std::map<std::int32_t, TVEZPageItemID>& ids) {
  TVEZDiskTableData& table = TableOf(c);
  const std::int32_t session = TVEZTableData::SessionIDOf(&c);
  auto& index = static_cast<TVEZBTreeRecordIndex&>(*table.IndexManager()->OpenIndex(def.ObjectID));
  {
    TVEZKeyPath path;
    TVEZBTreePage::GetIndexPage(table.PageManager(), &index.KeyRef(), session, def.RootPageNo)
        ->CheckIntegrity(session, path);
  }
  const bool by_v = def.Name == "BY_V";
  c.IndexID = def.ObjectID;
  c.FirstPosition = true;
  c.LastPosition = false;
  std::size_t seen = 0;
  std::int64_t last_key = 0;
  for (;;) {
    table.ClearBlobsCacheInRecordBuffer(c.CurrentRecordBuffer);
    const TVEZGetRecordResult r = c.GetRecordBuffer(grmNext);
    if (r == grrEOF) break;
    if (r != grrOK)
      throw platform::Exception(def.Name + " walk answered " + std::to_string(static_cast<int>(r)));
    std::int32_t id = 0;
    GetRecordFieldData(kIDField, c.FieldDefs(), &id, c.CurrentRecordBuffer);
    auto it = ids.find(id);
    if (it == ids.end() || !(it->second == c.CurrentRecordID))
      throw platform::Exception(def.Name + " lists a row the table lacks");
    const std::int64_t key = by_v ? rows.at(id).v : id;
    if (seen > 0 && key < last_key) throw platform::Exception(def.Name + " is out of order");
    last_key = key;
    if (++seen > rows.size()) throw platform::Exception(def.Name + " lists more entries than rows");
  }
  c.IndexID = -1;
  if (seen != rows.size())
    throw platform::Exception(def.Name + " lists " + std::to_string(seen) + " of " +
                              std::to_string(rows.size()) + " rows");
}

}  // namespace

void CrashChecker::Check(const PairImage& pair, const CrashPoint& point) {
  ++stats_.pairs;
  pair_failed_ = false;
  WriteImage(path_, pair.files[0]);
  WriteImage(path_ + "-journal", pair.files[1]);
  const auto& states = victim_.States();
  const auto done = static_cast<std::size_t>(point.commits_done);
  std::vector<std::size_t> allowed{done};
  if (point.commit_begun && done + 1 < states.size()) allowed.push_back(done + 1);
  try {
    TDiskTableEnv conn(path_, false, false, victim_.Options().durability, 16,
                       victim_.Options().password);
    if (conn.Session().RepairNeeded && heed_repair_flag_) {
      ++stats_.repair_needed;
      Fail(point, "the file says a repair is needed", "repair needed");
      return;
    }
    TTestLocalCursor& c = conn.Open(kTable);
    TVEZDiskTableData& table = TableOf(c);
    const std::int32_t session = TVEZTableData::SessionIDOf(&c);
    Verdict v;
    Rows rows;
    try {
      table.DiskRecordManager()->RecordPageIndex().CheckIntegrity(session);
      table.BlobManager()->BlobPageIndex().CheckIntegrity(session);
      std::map<std::int32_t, TVEZPageItemID> ids;
      rows = ReadStored(c, ids);
      v.rows = static_cast<std::int64_t>(rows.size());
      table.DiskRecordManager()->ValidateRecordPageIndex(session);
      const TVEZIndexDefs& defs = table.IndexManager()->IndexDefs();
      for (std::int32_t i = 0; i < defs.GetCount(); ++i)
        CheckIndex(c, *defs.GetDef(i), rows, ids);
    } catch (const std::exception& e) {
      v.kind = Verdict::Kind::kIntegrity;
      v.what = e.what();
      v.failure_kind = KindOf(e);
    }
    const std::vector<std::string> names = IndexNames(c);
    TVEZDatabaseFreeSpaceManager& fsm = *conn.Db().DiskPageManager()->FreeSpaceManager();
    const Verdict walked = v;
    for (std::size_t k = 0; k < allowed.size() && walked.kind != Verdict::Kind::kIntegrity; ++k) {
      const CommittedState& state = states[allowed[k]];
      Verdict s = walked;
      if (rows != state.rows || names != state.indexes) {
        CountDifferences(state.rows, rows, s.lost, s.extra);
        s.kind = Verdict::Kind::kRows;
        s.failure_kind = "rows";
        s.what = std::to_string(s.lost) + " committed rows lost or changed, " +
                 std::to_string(s.extra) + " uncommitted rows visible" +
                 (names != state.indexes ? ", other indexes" : "");
      } else {
        std::vector<std::int32_t> referenced;
        for (std::size_t p = 0; p < state.used_pages.size(); ++p) {
          const auto page = static_cast<std::int32_t>(p);
          if (state.used_pages[p] && !fsm.IsSystemPage(page)) referenced.push_back(page);
        }
        const TVEZFreeSpaceReport report = fsm.CheckIntegrity(referenced);
        s.leaked = static_cast<std::int64_t>(report.Leaked.size());
        if (!report.Sound()) {
          s.kind = Verdict::Kind::kFreeSpace;
          s.failure_kind = "free space";
          s.what = "free space: " + std::to_string(report.FreeButReferenced.size()) +
                   " pages in use marked free, " + std::to_string(report.ReferencedOutside.size()) +
                   " beyond the file or system pages, " +
                   std::to_string(report.SystemPagesFree.size()) + " system pages free";
        }
      }
      if (s.kind == Verdict::Kind::kHolds) {
        stats_.rows_checked += s.rows;
        stats_.leaked_pages += s.leaked;
        return;
      }
      if (k == 0) v = std::move(s);
    }
    // Reported against the last returned commit.
    stats_.rows_checked += v.rows;
    if (v.kind == Verdict::Kind::kRows) {
      stats_.lost_rows += v.lost;
      stats_.uncommitted_rows += v.extra;
    } else {
      ++stats_.integrity_failures;
    }
    Fail(point, v.what, v.failure_kind);
  } catch (const std::exception& e) {
    ++stats_.integrity_failures;
    Fail(point, std::string("open: ") + e.what(), "open: " + KindOf(e));
  }
}

CrashScratchDir::CrashScratchDir() {
  // Thousands of rebuilt pairs are written and read back: memory-backed
  // /dev/shm keeps them off the disk; $RVX_CRASH_DIR names another place.
  std::string base;
  if (const char* dir = std::getenv("RVX_CRASH_DIR"); dir && *dir) {
    base = dir;
  } else if (::access("/dev/shm", W_OK | X_OK) == 0) {
    base = "/dev/shm";
  } else {
    const char* tmp = std::getenv("TMPDIR");
    base = tmp && *tmp ? tmp : "/tmp";
  }
  std::string pattern = base + "/vezcrashXXXXXX";
  if (!mkdtemp(pattern.data())) throw platform::EOSError(errno, "mkdtemp " + pattern);
  dir_ = pattern;
}

CrashScratchDir::~CrashScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

}  // namespace vez::test::crash

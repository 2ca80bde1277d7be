#include "tests/dbengine/storage/crash/harness/CrashVictim.h"

#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <random>
#include <sstream>
#include <utility>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZDatabaseFreeSpaceManager.h"
#include "dbengine/storage/VEZDiskBlobManager.h"
#include "dbengine/storage/VEZDiskRecordManager.h"
#include "dbengine/storage/VEZFieldManager.h"
#include "platform/core/Exceptions.h"

namespace vez::test::crash {

namespace {

constexpr std::int32_t kSession = 1;
constexpr std::int32_t kTableID = 77;
constexpr std::int32_t kSecondTableID = 78;
constexpr std::int32_t kBlobField = 2;
constexpr std::size_t kMaxMessages = 8;

void AddField(TVEZFieldDefs& defs, const char* name, TVEZAdvancedFieldType type) {
  TVEZFieldDef* d = defs.AddCreated();
  d->Name = name;
  d->SetFieldDefDataType(type, 0);
}

// ID Integer, V Integer, B BLOB.
std::unique_ptr<TVEZBaseFieldManager> MakeFields() {
  auto fm = std::make_unique<TVEZBaseFieldManager>(nullptr);
  AddField(fm->FieldDefs(), "ID", aftInteger);
  AddField(fm->FieldDefs(), "V", aftInteger);
  AddField(fm->FieldDefs(), "B", aftBlob);
  fm->RecalcFieldOffsets();
  return fm;
}

std::int32_t Offset(const TVEZBaseFieldManager& fm, std::int32_t field) {
  return fm.FieldDefs().GetDef(field)->MemoryOffset;
}

// One table's managers over a page manager.
struct TableAccess {
  std::unique_ptr<TVEZBaseFieldManager> fm = MakeFields();
  std::unique_ptr<TVEZDiskRecordManager> rm;
  std::unique_ptr<TVEZDiskBlobManager> bm;

  TableAccess(TVEZDiskPageManager& pm, std::int32_t table_id) {
    rm = std::make_unique<TVEZDiskRecordManager>(&pm, fm.get(), table_id);
    rm->Init(fm->FieldDefs().GetMemoryRecordBufferSize(), fm->FieldDefs().GetDiskRecordBufferSize(),
             fm->FieldCount());
    bm = std::make_unique<TVEZDiskBlobManager>(&pm, fm.get(), rm.get());
  }
  ~TableAccess() {
    bm.reset();
    rm.reset();
  }
  std::vector<std::uint8_t> NewRecord() const {
    return std::vector<std::uint8_t>(
        static_cast<std::size_t>(fm->FieldDefs().GetMemoryRecordBufferSize()), 0);
  }
  void SetInts(std::vector<std::uint8_t>& rec, std::int32_t id, std::int32_t v) const {
    PutLE<std::int32_t>(rec.data() + Offset(*fm, 0), id);
    PutLE<std::int32_t>(rec.data() + Offset(*fm, 1), v);
  }
  void SetBlob(std::vector<std::uint8_t>& rec, const std::vector<std::uint8_t>& value) {
    const auto n = static_cast<std::int64_t>(value.size());
    TVEZPartialTemporaryBLOBDescriptor d{1, n, n};
    bm->SetDirectBlobInfoFromRecordBuffer(rec.data(), kBlobField, d, value.data());
    bm->WriteBlobs(kSession, rec.data());
  }
  // Every stored row in page order; raises on a duplicate id.
  Rows ReadAll(std::int64_t& count) {
    Rows rows;
    auto rec = NewRecord();
    TVEZNavigationInfo info;
    info.RecordBuffer = rec.data();
    info.FirstPosition = true;
    rm->RecordCount = 1;  // the walk needs a non-empty table; the index check counts
    count = 0;
    for (;;) {
      info.GetRecordMode = grmNext;
      rm->GetRecordBuffer(kSession, info);
      if (info.GetRecordResult == grrEOF) break;
      if (info.GetRecordResult != grrOK)
        throw platform::Exception("record walk answered " +
                                  std::to_string(static_cast<int>(info.GetRecordResult)));
      ++count;
      RowValue row;
      const std::int32_t id = GetLE<std::int32_t>(rec.data() + Offset(*fm, 0));
      row.v = GetLE<std::int32_t>(rec.data() + Offset(*fm, 1));
      TVEZPartialTemporaryBLOBDescriptor d;
      const std::uint8_t* data = nullptr;
      bm->GetDirectBlobInfoFromRecordBuffer(kSession, rec.data(), kBlobField, d, data);
      if (d.CompressedSize > 0 && data != nullptr) row.blob.assign(data, data + d.CompressedSize);
      bm->ClearBlobInRecordBuffer(rec.data(), kBlobField, false);
      if (!rows.emplace(id, std::move(row)).second)
        throw platform::Exception("row " + std::to_string(id) + " stored twice");
    }
    rm->RecordCount = count;
    return rows;
  }
};

std::vector<bool> UsedPages(TVEZDiskPageManager& pm) {
  std::vector<bool> used(static_cast<std::size_t>(pm.GetPageCount()));
  for (std::size_t p = 0; p < used.size(); ++p)
    used[p] = pm.FreeSpaceManager()->GetPageUsageFromPFS(static_cast<std::int32_t>(p));
  return used;
}

std::vector<std::uint8_t> RandomBlob(std::mt19937& rng, std::int32_t page_size) {
  std::size_t n = 0;
  switch (rng() % 10) {
    case 0:
    case 1:
    case 2:
    case 3:
      break;  // no value
    case 4:
    case 5:
    case 6:
    case 7:
      n = 1 + rng() % 1500;  // shares a BLOB page
      break;
    default:
      n = static_cast<std::size_t>(page_size) + rng() % (2 * static_cast<std::size_t>(page_size));
      break;  // pages of its own
  }
  std::vector<std::uint8_t> b(n);
  for (auto& x : b)
    x = static_cast<std::uint8_t>(rng());
  return b;
}

}  // namespace

// The victim's live objects while it runs.
struct CrashVictim::Live {
  TVEZDiskPageManager pm;
  std::unique_ptr<TableAccess> table;
  std::unique_ptr<TableAccess> second;
  // Per row: its identity and its stored memory record.
  struct Stored {
    TVEZPageItemID id;
    std::vector<std::uint8_t> record;
  };
  std::map<std::int32_t, Stored> stored;
  std::map<std::int32_t, Stored> second_stored;
};

CrashVictim::CrashVictim(std::string directory, VictimOptions options)
    : path_(std::move(directory) + "/victim.vez"), options_(options) {}

CrashVictim::~CrashVictim() = default;

CrashLog CrashVictim::Run() {
  RecordingFileSystem fs(path_);
  {
    // The file is made under a temporary name and renamed, so its first
    // handle escapes the recorder: the tables are made, then it is reopened.
    TVEZDiskPageManager pm;
    pm.CreateAndOpenDatabase(path_, TVEZPassword{}, options_.page_size, 8);
    TableAccess t(pm, kTableID);
    t.rm->CreateRecordPageIndex();
    t.bm->CreateBlobPageIndex();
    pm.ApplyChanges(-2);
    roots_.record_index = t.rm->RecordPageIndex().RootPageNo();
    roots_.blob_index = t.bm->BlobPageIndex().RootPageNo();
  }
  auto live = std::make_unique<Live>();
  TVEZDiskPageManager& pm = live->pm;
  bool read_only = false, repair_needed = false, multi_user = true;
  pm.OpenDatabase(path_, TVEZPassword{}, read_only, repair_needed, false, multi_user);
  pm.SetDurability(options_.durability);
  live->table = std::make_unique<TableAccess>(pm, kTableID);
  live->table->rm->RecordPageIndex().OpenIndex(roots_.record_index);
  live->table->bm->BlobPageIndex().OpenIndex(roots_.blob_index);

  Rows rows, second_rows;
  auto note_state = [&] {
    CommittedState s;
    s.rows = rows;
    s.second_rows = second_rows;
    s.second_table = live->second != nullptr;
    s.used_pages = UsedPages(pm);
    states_.push_back(std::move(s));
  };
  note_state();
  fs.Start();

  std::mt19937 rng(options_.seed);
  std::int32_t next_id = 1;
  const std::int32_t second_at = std::max(1, options_.commits / 2);
  for (std::int32_t commit = 1; commit <= options_.commits; ++commit) {
    if (commit == second_at && !live->second) {
      // The new table's tree is made and written by a commit of its own.
      fs.Mark(FileOp::Kind::kCommitBegin, commit);
      live->second = std::make_unique<TableAccess>(pm, kSecondTableID);
      live->second->rm->CreateRecordPageIndex();
      live->second->bm->CreateBlobPageIndex();
      pm.ApplyChanges(-2);
      roots_.second_record_index = live->second->rm->RecordPageIndex().RootPageNo();
      roots_.second_blob_index = live->second->bm->BlobPageIndex().RootPageNo();
      fs.Mark(FileOp::Kind::kCommitEnd, commit);
      note_state();
      continue;
    }
    fs.Mark(FileOp::Kind::kCommitBegin, commit);
    const std::int32_t operations = 1 + static_cast<std::int32_t>(rng() % 50);
    for (std::int32_t i = 0; i < operations; ++i) {
      const bool to_second = live->second && rng() % 4 == 0;
      TableAccess& t = to_second ? *live->second : *live->table;
      auto& stored = to_second ? live->second_stored : live->stored;
      Rows& model = to_second ? second_rows : rows;
      const std::uint32_t dice = rng() % 100;
      if (stored.empty() || dice < 55) {
        // Append.
        const std::int32_t id = next_id++;
        RowValue row{static_cast<std::int32_t>(rng()), RandomBlob(rng, options_.page_size)};
        auto rec = t.NewRecord();
        t.SetInts(rec, id, row.v);
        t.SetBlob(rec, row.blob);
        TVEZPageItemID rid;
        if (!t.rm->AddRecord(kSession, rec.data(), rid))
          throw platform::Exception("victim: append refused");
        stored[id] = {rid, rec};
        model[id] = std::move(row);
        continue;
      }
      auto it = stored.begin();
      std::advance(it, static_cast<long>(rng() % stored.size()));
      const std::int32_t id = it->first;
      Live::Stored& s = it->second;
      if (dice < 70) {
        // Delete.
        t.bm->DeleteBlobs(kSession, s.record.data());
        TVEZPageItemID rid = s.id;
        if (!t.rm->DeleteRecord(kSession, rid)) throw platform::Exception("victim: delete refused");
        stored.erase(it);
        model.erase(id);
      } else if (dice < 85) {
        // Update of the plain field only.
        RowValue& row = model[id];
        row.v = static_cast<std::int32_t>(rng());
        t.SetInts(s.record, id, row.v);
        if (!t.rm->UpdateRecord(kSession, s.record.data(), s.id))
          throw platform::Exception("victim: update refused");
      } else {
        // A new BLOB value (the old one goes).
        RowValue& row = model[id];
        row.blob = RandomBlob(rng, options_.page_size);
        t.SetBlob(s.record, row.blob);
        if (!t.rm->UpdateRecord(kSession, s.record.data(), s.id))
          throw platform::Exception("victim: BLOB update refused");
      }
    }
    pm.ApplyChanges(kSession);
    fs.Mark(FileOp::Kind::kCommitEnd, commit);
    note_state();
  }
  fs.Stop();
  final_image_.files[0] = ReadImage(path_);
  final_image_.files[1] = ReadImage(path_ + "-journal");
  CrashLog log = fs.TakeLog();
  live.reset();
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
  for (const auto& m : other.messages)
    if (messages.size() < kMaxMessages) messages.push_back(m);
}

std::string CheckStats::Summary() const {
  std::ostringstream s;
  s << "pairs " << pairs << ", rows checked " << rows_checked << ", leaked pages " << leaked_pages
    << ", failures " << failures << " (repair needed " << repair_needed << ", committed rows lost "
    << lost_rows << ", uncommitted rows visible " << uncommitted_rows << ", integrity "
    << integrity_failures << ")";
  for (const auto& m : messages)
    s << "\n  " << m;
  return s.str();
}

CrashChecker::CrashChecker(const CrashVictim& victim, std::string directory)
    : victim_(victim), path_(std::move(directory) + "/check.vez") {}

CrashChecker::~CrashChecker() = default;

void CrashChecker::Fail(const CrashPoint& point, const std::string& what) {
  if (!pair_failed_) ++stats_.failures;
  pair_failed_ = true;
  if (stats_.messages.size() < kMaxMessages)
    stats_.messages.push_back(point.Describe() + ": " + what);
}

namespace {

// Rows of `have` missing from or different in `want`, and the other way round.
void CountDifferences(const Rows& want, const Rows& have, std::int64_t& lost, std::int64_t& extra) {
  for (const auto& [id, row] : want) {
    auto it = have.find(id);
    if (it == have.end() || !(it->second == row)) ++lost;
  }
  for (const auto& [id, row] : have)
    if (!want.contains(id)) ++extra;
}

}  // namespace

void CrashChecker::Check(const PairImage& pair, const CrashPoint& point) {
  ++stats_.pairs;
  pair_failed_ = false;
  WriteImage(path_, pair.files[0]);
  WriteImage(path_ + "-journal", pair.files[1]);
  const auto& states = victim_.States();
  const auto done = static_cast<std::size_t>(point.commits_done);
  // The states the pair may hold: the last returned commit's, or the next's.
  std::vector<std::size_t> allowed{done};
  if (point.commit_begun && done + 1 < states.size()) allowed.push_back(done + 1);

  try {
    auto pm = std::make_unique<TVEZDiskPageManager>();
    bool read_only = false, repair_needed = false, multi_user = false;
    pm->OpenDatabase(path_, TVEZPassword{}, read_only, repair_needed, true, multi_user);
    if (repair_needed) {
      ++stats_.repair_needed;
      Fail(point, "the file says a repair is needed");
      return;
    }
    const TableRoots& roots = victim_.Roots();
    bool integrity_ok = true;
    // quiet: a failure only answers false (the table may rightly be absent).
    auto read_table = [&](std::int32_t table_id, std::int32_t record_root, std::int32_t blob_root,
                          Rows& out, bool quiet) {
      TableAccess t(*pm, table_id);
      t.rm->RecordPageIndex().OpenIndex(record_root);
      t.bm->BlobPageIndex().OpenIndex(blob_root);
      try {
        t.rm->RecordPageIndex().CheckIntegrity(kSession);
        t.bm->BlobPageIndex().CheckIntegrity(kSession);
        std::int64_t count = 0;
        out = t.ReadAll(count);
        t.rm->ValidateRecordPageIndex(kSession);
        stats_.rows_checked += count;
        return true;
      } catch (const std::exception& e) {
        if (quiet) return false;
        integrity_ok = false;
        ++stats_.integrity_failures;
        Fail(point, std::string("table ") + std::to_string(table_id) + ": " + e.what());
        return false;
      }
    };
    Rows rows, second_rows;
    read_table(kTableID, roots.record_index, roots.blob_index, rows, false);
    // The second table exists in some allowed states and not in others only
    // for a crash inside the commit that makes it: then whether its trees
    // read back soundly decides, and the free-space comparison below still
    // sees any page that went astray.
    std::size_t with_second = 0;
    for (std::size_t s : allowed)
      if (states[s].second_table) ++with_second;
    bool has_second = false;
    if (with_second > 0) {
      const bool certain = with_second == allowed.size();
      has_second = read_table(kSecondTableID, roots.second_record_index, roots.second_blob_index,
                              second_rows, !certain);
      if (!has_second) second_rows.clear();
    }
    if (!integrity_ok) return;

    const CommittedState* match = nullptr;
    for (std::size_t s : allowed) {
      const CommittedState& st = states[s];
      if (st.rows == rows && st.second_rows == second_rows && st.second_table == has_second) {
        match = &st;
        break;
      }
    }
    if (match == nullptr) {
      std::int64_t lost = 0, extra = 0;
      CountDifferences(states[done].rows, rows, lost, extra);
      CountDifferences(states[done].second_rows, second_rows, lost, extra);
      stats_.lost_rows += lost;
      stats_.uncommitted_rows += extra;
      Fail(point, "rows differ from every allowed commit (" + std::to_string(lost) +
                      " committed rows lost or changed, " + std::to_string(extra) +
                      " uncommitted visible)");
      return;
    }
    // Free space: every page the matched state uses must be in use here.
    const std::vector<bool> used = UsedPages(*pm);
    std::int64_t freed_in_use = 0;
    for (std::size_t p = 0; p < std::max(used.size(), match->used_pages.size()); ++p) {
      const bool want = p < match->used_pages.size() && match->used_pages[p];
      const bool have = p < used.size() && used[p];
      if (want && !have) ++freed_in_use;
      if (have && !want) ++stats_.leaked_pages;
    }
    if (freed_in_use > 0) {
      ++stats_.integrity_failures;
      Fail(point, std::to_string(freed_in_use) + " pages in use are marked free");
    }
  } catch (const std::exception& e) {
    ++stats_.integrity_failures;
    Fail(point, std::string("open or read: ") + e.what());
  }
}

CrashScratchDir::CrashScratchDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vezcrashXXXXXX";
  if (!mkdtemp(pattern.data())) throw platform::EOSError(errno, "mkdtemp");
  dir_ = pattern;
}

CrashScratchDir::~CrashScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

}  // namespace vez::test::crash

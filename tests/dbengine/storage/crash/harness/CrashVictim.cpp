#include "tests/dbengine/storage/crash/harness/CrashVictim.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <random>
#include <sstream>
#include <utility>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZBTreeRecordIndex.h"
#include "dbengine/storage/VEZDatabaseFreeSpaceManager.h"
#include "dbengine/storage/VEZDiskBlobManager.h"
#include "dbengine/storage/VEZDiskRecordManager.h"
#include "dbengine/storage/VEZFieldManager.h"
#include "platform/core/Exceptions.h"
#include "tests/dbengine/storage/TableTestSupport.h"

namespace vez::test::crash {

namespace {

constexpr std::int32_t kSession = 1;
constexpr std::int32_t kTableID = 77;
constexpr std::int32_t kIDField = 0;
constexpr std::int32_t kVField = 1;
constexpr std::int32_t kBlobField = 2;
constexpr std::size_t kMaxMessages = 8;

// The table data of the victim: records on disk record pages, B-tree record
// indexes on pages of the same database file.
class CrashTableData : public TTestTableData {
 public:
  CrashTableData(TVEZDatabaseData* database, TVEZDiskPageManager* pm)
      : TTestTableData(database), pm_(pm) {
    fake_indexes = false;
    SetPageManager(pm);
  }
  void CreateRecordManager() override {
    auto rm = std::make_unique<TVEZDiskRecordManager>(pm_, FieldManager(), kTableID);
    const TVEZFieldDefs& defs = FieldManager()->FieldDefs();
    rm->Init(defs.GetMemoryRecordBufferSize(), defs.GetDiskRecordBufferSize(),
             FieldManager()->FieldCount());
    FRecordManager = std::move(rm);
  }
  TVEZDiskRecordManager& Disk() { return static_cast<TVEZDiskRecordManager&>(*RecordManager()); }

 private:
  TVEZDiskPageManager* pm_;
};

// ID Integer, V Integer, B BLOB.
void MakeFields(TVEZFieldDefs& fields) {
  AddField(fields, "ID", aftInteger);
  AddField(fields, "V", aftInteger);
  AddField(fields, "B", aftBlob);
}

// The table over one open page manager, with a cursor of session 1 that is
// always inside a transaction: the table applies nothing by itself, the
// workload commits.
struct CrashTable {
  TestSession session;
  TTestDatabaseData database;
  std::unique_ptr<CrashTableData> table;
  std::unique_ptr<TVEZDiskBlobManager> bm;
  std::unique_ptr<TTableCursor> cursor;
  std::uint8_t* edit = nullptr;

  explicit CrashTable(TVEZDiskPageManager& pm) {
    session.SessionID = kSession;
    session.InTransaction = true;
    table = std::make_unique<CrashTableData>(&database, &pm);
    table->SetTableName("T");
  }
  ~CrashTable() {
    if (cursor) cursor->FreeRecordBuffer(edit);
    cursor.reset();
    bm.reset();
    table.reset();
  }
  CrashTable(const CrashTable&) = delete;
  CrashTable& operator=(const CrashTable&) = delete;

  // A new table: the record and BLOB page indexes and the index on V, made
  // and written by the engine's own session.
  void Create() {
    TVEZFieldDefs fields;
    MakeFields(fields);
    TVEZIndexDefs indexes;
    AddIndexDef(indexes, "BY_V", {"V"});
    TVEZConstraintDefs constraints;
    table->CreateTable(nullptr, fields, indexes, constraints);
    table->Disk().CreateRecordPageIndex();
    MakeBlobManager();
    bm->CreateBlobPageIndex();
    AttachCursor();
  }
  // The stored table with the given roots and indexes.
  void Open(const TableRoots& roots, const std::vector<IndexInfo>& index_infos) {
    TVEZFieldDefs fields;
    MakeFields(fields);
    TVEZIndexDefs indexes;
    for (const IndexInfo& info : index_infos)
      AddIndexDef(indexes, info.name, {info.field}, info.unique);
    TVEZConstraintDefs constraints;
    table->CreateFieldManager(fields);
    table->CreateIndexManager(indexes);
    table->CreateConstraintManager(constraints);
    table->CreateRecordManager();
    TVEZIndexDefs& defs = table->IndexManager()->IndexDefs();
    for (std::size_t i = 0; i < index_infos.size(); ++i)
      defs.GetDef(static_cast<std::int32_t>(i))->RootPageNo = index_infos[i].root;
    table->Disk().RecordPageIndex().OpenIndex(roots.record_index);
    MakeBlobManager();
    bm->BlobPageIndex().OpenIndex(roots.blob_index);
    AttachCursor();
  }
  std::vector<IndexInfo> Indexes() const {
    std::vector<IndexInfo> out;
    const TVEZIndexDefs& defs = table->IndexManager()->IndexDefs();
    for (std::int32_t i = 0; i < defs.GetCount(); ++i) {
      const TVEZIndexDef* d = defs.GetDef(i);
      out.push_back({d->Name, d->Name == "BY_V" ? "V" : "ID", d->Unique, d->RootPageNo});
    }
    return out;
  }
  TVEZBTreeRecordIndex& Index(std::int32_t n) {
    const std::int32_t id = table->IndexManager()->IndexDefs().GetDef(n)->ObjectID;
    return static_cast<TVEZBTreeRecordIndex&>(*table->IndexManager()->OpenIndex(id));
  }

  std::int32_t RecordSize() const {
    return table->FieldManager()->FieldDefs().GetMemoryRecordBufferSize();
  }
  std::int32_t Offset(std::int32_t field) const {
    return table->FieldManager()->FieldDefs().GetDef(field)->MemoryOffset;
  }
  std::vector<std::uint8_t> NewRecord() const {
    return std::vector<std::uint8_t>(static_cast<std::size_t>(RecordSize()), 0);
  }
  void SetInts(std::vector<std::uint8_t>& rec, std::int32_t id, std::int32_t v) const {
    PutLE<std::int32_t>(rec.data() + Offset(kIDField), id);
    PutLE<std::int32_t>(rec.data() + Offset(kVField), v);
  }
  // The value becomes the record's stored BLOB (an old one is deleted).
  void SetBlob(std::vector<std::uint8_t>& rec, const std::vector<std::uint8_t>& value) {
    const auto n = static_cast<std::int64_t>(value.size());
    TVEZPartialTemporaryBLOBDescriptor d{1, n, n};
    bm->SetDirectBlobInfoFromRecordBuffer(rec.data(), kBlobField, d, value.data());
    bm->WriteBlobs(kSession, rec.data());
  }

  TVEZPageItemID Insert(const std::vector<std::uint8_t>& rec) {
    Load(rec);
    if (!table->InsertRecord(*cursor)) throw platform::Exception("victim: append refused");
    return cursor->CurrentRecordID;
  }
  void Update(const std::vector<std::uint8_t>& old_rec, const std::vector<std::uint8_t>& new_rec,
              TVEZPageItemID id) {
    std::memcpy(edit, old_rec.data(), old_rec.size());
    cursor->EditRecordBuffer = edit;
    Load(new_rec);
    cursor->CurrentRecordID = id;
    const bool ok = table->UpdateRecord(*cursor);
    cursor->EditRecordBuffer = nullptr;
    if (!ok) throw platform::Exception("victim: update refused");
  }
  void Delete(std::vector<std::uint8_t>& rec, TVEZPageItemID id) {
    bm->DeleteBlobs(kSession, rec.data());
    Load(rec);
    cursor->CurrentRecordID = id;
    if (!table->DeleteRecord(*cursor)) throw platform::Exception("victim: delete refused");
  }
  void AddUniqueIndexOnID() {
    TVEZIndexDefs defs;
    TVEZIndexDef* def = AddIndexDef(defs, "BY_ID", {"ID"}, true);
    table->AddIndex(*def, cursor.get());
  }

  // Every stored row in page order with its identity; raises on a duplicate id.
  Rows ReadAll(std::map<std::int32_t, TVEZPageItemID>& ids) {
    Rows rows;
    auto rec = NewRecord();
    TVEZNavigationInfo info;
    info.RecordBuffer = rec.data();
    info.FirstPosition = true;
    TVEZDiskRecordManager& rm = table->Disk();
    rm.RecordCount = 1;  // the walk needs a non-empty table; the index check counts
    std::int64_t count = 0;
    for (;;) {
      info.GetRecordMode = grmNext;
      rm.GetRecordBuffer(kSession, info);
      if (info.GetRecordResult == grrEOF) break;
      if (info.GetRecordResult != grrOK)
        throw platform::Exception("record walk answered " +
                                  std::to_string(static_cast<int>(info.GetRecordResult)));
      ++count;
      RowValue row;
      const std::int32_t id = GetLE<std::int32_t>(rec.data() + Offset(kIDField));
      row.v = GetLE<std::int32_t>(rec.data() + Offset(kVField));
      TVEZPartialTemporaryBLOBDescriptor d;
      const std::uint8_t* data = nullptr;
      bm->GetDirectBlobInfoFromRecordBuffer(kSession, rec.data(), kBlobField, d, data);
      if (d.CompressedSize > 0 && data != nullptr) row.blob.assign(data, data + d.CompressedSize);
      bm->ClearBlobInRecordBuffer(rec.data(), kBlobField, false);
      if (!rows.emplace(id, std::move(row)).second)
        throw platform::Exception("row " + std::to_string(id) + " stored twice");
      ids[id] = info.RecordID;
    }
    rm.RecordCount = count;
    return rows;
  }

  // Runs index n's integrity walk and reads its entries in order: the ids of
  // the rows, which must be the table's rows in key order.
  void CheckIndex(std::int32_t n, const Rows& rows,
                  const std::map<std::int32_t, TVEZPageItemID>& ids) {
    TVEZBTreeRecordIndex& index = Index(n);
    {
      TVEZKeyPath path;
      TVEZBTreePage::GetIndexPage(table->PageManager(), &index.KeyRef(), kSession,
                                  index.IndexDef()->RootPageNo)
          ->CheckIntegrity(kSession, path);
    }
    const bool by_v = index.IndexDef()->Name == "BY_V";
    auto rec = NewRecord();
    TVEZNavigationInfo info;
    info.RecordBuffer = rec.data();
    info.FirstPosition = true;
    std::size_t seen = 0;
    std::int64_t last_key = 0;
    for (;;) {
      info.GetRecordMode = grmNext;
      index.GetRecordBuffer(kSession, info, nullptr, table->RecordManager()->TableState);
      if (info.GetRecordResult == grrEOF) break;
      if (info.GetRecordResult == grrError && seen == 0 && rows.empty()) break;
      if (info.GetRecordResult != grrOK)
        throw platform::Exception(index.IndexDef()->Name + " walk answered " +
                                  std::to_string(static_cast<int>(info.GetRecordResult)));
      const std::int32_t id = GetLE<std::int32_t>(rec.data() + Offset(kIDField));
      auto it = ids.find(id);
      if (it == ids.end() || !(it->second == info.RecordID))
        throw platform::Exception(index.IndexDef()->Name + " lists a row the table lacks");
      const std::int64_t key = by_v ? rows.at(id).v : id;
      if (seen > 0 && key < last_key)
        throw platform::Exception(index.IndexDef()->Name + " is out of order");
      last_key = key;
      if (++seen > rows.size())
        throw platform::Exception(index.IndexDef()->Name + " lists more entries than rows");
    }
    if (seen != rows.size())
      throw platform::Exception(index.IndexDef()->Name + " lists " + std::to_string(seen) + " of " +
                                std::to_string(rows.size()) + " rows");
  }

 private:
  void MakeBlobManager() {
    bm = std::make_unique<TVEZDiskBlobManager>(table->PageManager(), table->FieldManager(),
                                               table->RecordManager());
  }
  void AttachCursor() {
    cursor = std::make_unique<TTableCursor>();
    cursor->Session = &session;
    cursor->TableName = "T";
    cursor->Attach(*table);
    edit = cursor->AllocateRecordBuffer();
  }
  void Load(const std::vector<std::uint8_t>& rec) {
    std::memcpy(cursor->CurrentRecordBuffer, rec.data(), rec.size());
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

// Rows of `want` missing from or different in `have`, and rows of `have`
// that `want` lacks.
void CountDifferences(const Rows& want, const Rows& have, std::int64_t& lost, std::int64_t& extra) {
  for (const auto& [id, row] : want) {
    auto it = have.find(id);
    if (it == have.end() || !(it->second == row)) ++lost;
  }
  for (const auto& [id, row] : have)
    if (!want.contains(id)) ++extra;
}

}  // namespace

CrashVictim::CrashVictim(std::string directory, VictimOptions options)
    : path_(std::move(directory) + "/victim.vez"), options_(options) {}

CrashVictim::~CrashVictim() = default;

// The victim's live objects while it runs.
struct CrashVictim::Live {
  TVEZDiskPageManager pm;
  std::unique_ptr<CrashTable> table;
  // Per row: its identity and its stored memory record.
  struct Stored {
    TVEZPageItemID id;
    std::vector<std::uint8_t> record;
  };
  std::map<std::int32_t, Stored> stored;
};

CrashLog CrashVictim::Run() {
  RecordingFileSystem fs(path_);
  {
    // The table is made before recording starts, and the file opened again
    // as the program opens its database, shared.
    TVEZDiskPageManager pm;
    pm.CreateAndOpenDatabase(path_, TVEZPassword{}, options_.page_size, 8);
    CrashTable t(pm);
    t.Create();
    pm.ApplyChanges(-2);
    roots_.record_index = t.table->Disk().RecordPageIndex().RootPageNo();
    roots_.blob_index = t.bm->BlobPageIndex().RootPageNo();
    states_.push_back({{}, t.Indexes(), {}});
  }
  auto live = std::make_unique<Live>();
  TVEZDiskPageManager& pm = live->pm;
  bool read_only = false, repair_needed = false, multi_user = true;
  pm.OpenDatabase(path_, TVEZPassword{}, read_only, repair_needed, false, multi_user);
  pm.SetDurability(options_.durability);
  live->table = std::make_unique<CrashTable>(pm);
  CrashTable& t = *live->table;
  t.Open(roots_, states_.back().indexes);
  states_.back().used_pages = UsedPages(pm);
  fs.Start();

  Rows rows;
  auto note_state = [&] {
    CommittedState s;
    s.rows = rows;
    s.indexes = t.Indexes();
    s.used_pages = UsedPages(pm);
    states_.push_back(std::move(s));
  };
  std::mt19937 rng(options_.seed);
  std::int32_t next_id = 1;
  const std::int32_t index_at = std::max(1, options_.commits / 2);
  for (std::int32_t commit = 1; commit <= options_.commits; ++commit) {
    fs.Mark(FileOp::Kind::kCommitBegin, commit);
    if (commit == index_at) {
      // A new index over the stored rows, committed on its own.
      t.AddUniqueIndexOnID();
    } else {
      const std::int32_t operations = 1 + static_cast<std::int32_t>(rng() % 50);
      for (std::int32_t i = 0; i < operations; ++i) {
        const std::uint32_t dice = rng() % 100;
        if (live->stored.empty() || dice < 55) {
          const std::int32_t id = next_id++;
          RowValue row{static_cast<std::int32_t>(rng() % 1000),
                       RandomBlob(rng, options_.page_size)};
          auto rec = t.NewRecord();
          t.SetInts(rec, id, row.v);
          t.SetBlob(rec, row.blob);
          live->stored[id] = {t.Insert(rec), rec};
          rows[id] = std::move(row);
          continue;
        }
        auto it = live->stored.begin();
        std::advance(it, static_cast<long>(rng() % live->stored.size()));
        const std::int32_t id = it->first;
        Live::Stored& s = it->second;
        RowValue& row = rows[id];
        if (dice < 70) {
          t.Delete(s.record, s.id);
          live->stored.erase(it);
          rows.erase(id);
        } else if (dice < 85) {
          // A new V: the row moves in the index on V.
          auto old = s.record;
          row.v = static_cast<std::int32_t>(rng() % 1000);
          t.SetInts(s.record, id, row.v);
          t.Update(old, s.record, s.id);
        } else {
          // A new BLOB value (the old one goes).
          auto old = s.record;
          row.blob = RandomBlob(rng, options_.page_size);
          t.SetBlob(s.record, row.blob);
          t.Update(old, s.record, s.id);
        }
      }
    }
    fs.Mark(FileOp::Kind::kCommitApply, commit);
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

CrashChecker::~CrashChecker() = default;

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
  std::int64_t rows = 0;
  std::int64_t leaked = 0;
  std::int64_t lost = 0;
  std::int64_t extra = 0;
  std::string failure_kind;
};

namespace {

// A short name of what an exception says, to group failures by.
std::string KindOf(const std::exception& e) {
  if (const auto* v = dynamic_cast<const EVEZException*>(&e))
    return "native error " + std::to_string(v->NativeError());
  return std::string(e.what()).substr(0, 40);
}

}  // namespace

CrashChecker::Verdict CrashChecker::Compare(TVEZDiskPageManager& pm, const CommittedState& state) {
  Verdict v;
  Rows rows;
  try {
    CrashTable t(pm);
    t.Open(victim_.Roots(), state.indexes);
    t.table->Disk().RecordPageIndex().CheckIntegrity(kSession);
    t.bm->BlobPageIndex().CheckIntegrity(kSession);
    std::map<std::int32_t, TVEZPageItemID> ids;
    rows = t.ReadAll(ids);
    v.rows = static_cast<std::int64_t>(rows.size());
    t.table->Disk().ValidateRecordPageIndex(kSession);
    for (std::size_t i = 0; i < state.indexes.size(); ++i)
      t.CheckIndex(static_cast<std::int32_t>(i), rows, ids);
  } catch (const std::exception& e) {
    v.kind = Verdict::Kind::kIntegrity;
    v.what = e.what();
    v.failure_kind = KindOf(e);
    return v;
  }
  if (rows != state.rows) {
    CountDifferences(state.rows, rows, v.lost, v.extra);
    v.kind = Verdict::Kind::kRows;
    v.failure_kind = "rows";
    v.what = std::to_string(v.lost) + " committed rows lost or changed, " +
             std::to_string(v.extra) + " uncommitted rows visible";
    return v;
  }
  // Free space: the maps must hold every page the state uses (its pages are
  // what its tables and indexes reference), and be sound in themselves.
  TVEZDatabaseFreeSpaceManager& fsm = *pm.FreeSpaceManager();
  std::vector<std::int32_t> referenced;
  for (std::size_t p = 0; p < state.used_pages.size(); ++p) {
    const auto page = static_cast<std::int32_t>(p);
    if (state.used_pages[p] && !fsm.IsSystemPage(page)) referenced.push_back(page);
  }
  const TVEZFreeSpaceReport report = fsm.CheckIntegrity(referenced);
  v.leaked = static_cast<std::int64_t>(report.Leaked.size());
  if (!report.Sound()) {
    v.kind = Verdict::Kind::kFreeSpace;
    v.failure_kind = "free space";
    v.what = "free space: " + std::to_string(report.FreeButReferenced.size()) +
             " pages in use marked free, " + std::to_string(report.ReferencedOutside.size()) +
             " beyond the file or system pages, " + std::to_string(report.SystemPagesFree.size()) +
             " system pages free, " + std::to_string(report.FullExtentsWithFreePages) +
             " full extents with room" +
             (report.LastUsedPageBehind ? ", last used page behind" : "");
  }
  return v;
}

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
    TVEZDiskPageManager pm;
    bool read_only = false, repair_needed = false, multi_user = false;
    pm.OpenDatabase(path_, TVEZPassword{}, read_only, repair_needed, true, multi_user);
    if (repair_needed && heed_repair_flag_) {
      ++stats_.repair_needed;
      Fail(point, "the file says a repair is needed", "repair needed");
      return;
    }
    Verdict first;
    for (std::size_t k = 0; k < allowed.size(); ++k) {
      Verdict v = Compare(pm, states[allowed[k]]);
      if (v.kind == Verdict::Kind::kHolds) {
        stats_.rows_checked += v.rows;
        stats_.leaked_pages += v.leaked;
        return;
      }
      if (k == 0) first = std::move(v);
    }
    // Reported against the last returned commit.
    stats_.rows_checked += first.rows;
    if (first.kind == Verdict::Kind::kRows) {
      stats_.lost_rows += first.lost;
      stats_.uncommitted_rows += first.extra;
    } else {
      ++stats_.integrity_failures;
    }
    Fail(point, first.what, first.failure_kind);
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

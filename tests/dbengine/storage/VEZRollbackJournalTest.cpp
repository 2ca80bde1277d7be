#include "dbengine/storage/VEZRollbackJournal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZCrc32.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZDatabaseFile.h"
#include "dbengine/storage/VEZDatabaseFreeSpaceManager.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "platform/os/File.h"
#include "tests/common/WorkerProcess.h"
#include "tests/dbengine/storage/DiskTestSupport.h"

namespace vez {
namespace {

using test::AddPageWith;
using test::ChangePage;
using test::FaultFileSystem;
using test::MakeDatabase;
using test::Open;
using test::Opened;
using test::PageFill;
using test::ReadAll;
using test::ScratchDir;
using test::WriteAll;

constexpr std::int32_t kSession = 0;

// ---------------------------------------------------------------------------
// Encoding

TVEZJournalContents SampleJournal() {
  TVEZJournalContents c;
  c.HeaderState = 41;
  c.OriginalFileSize = 380 + 6 * 512;
  c.IsCommit = true;
  TVEZJournalRecord header;
  header.Kind = TVEZJournalRecordKind::HeaderArea;
  header.Offset = 0;
  header.Length = 76;
  header.NewCrc = 0x12345678;
  header.OldImage.assign(76, 0x11);
  TVEZJournalRecord page;
  page.Kind = TVEZJournalRecordKind::Page;
  page.Offset = 380 + 2 * 512;
  page.Length = 512;
  page.NewCrc = 0xCAFEBABE;
  for (int i = 0; i < 512; ++i)
    page.OldImage.push_back(static_cast<std::uint8_t>(i * 7));
  TVEZJournalRecord added;
  added.Kind = TVEZJournalRecordKind::NewRegion;
  added.Offset = 380 + 5 * 512;
  added.Length = 512;
  added.NewCrc = 7;
  c.Records = {header, page, added};
  c.AddedPages = {5, 9};
  return c;
}

void ExpectSame(const TVEZJournalContents& a, const TVEZJournalContents& b) {
  EXPECT_EQ(a.HeaderState, b.HeaderState);
  EXPECT_EQ(a.OriginalFileSize, b.OriginalFileSize);
  EXPECT_EQ(a.IsCommit, b.IsCommit);
  EXPECT_EQ(a.AddedPages, b.AddedPages);
  ASSERT_EQ(a.Records.size(), b.Records.size());
  for (std::size_t i = 0; i < a.Records.size(); ++i) {
    EXPECT_EQ(a.Records[i].Kind, b.Records[i].Kind);
    EXPECT_EQ(a.Records[i].Offset, b.Records[i].Offset);
    EXPECT_EQ(a.Records[i].Length, b.Records[i].Length);
    EXPECT_EQ(a.Records[i].NewCrc, b.Records[i].NewCrc);
    EXPECT_EQ(a.Records[i].OldImage, b.Records[i].OldImage);
  }
}

// The check sum recomputed, so a structural fault is seen by the decoder's
// own checks and not only by the sum.
void Reseal(std::vector<std::uint8_t>& bytes) {
  std::uint32_t crc = UpdateCrc32(0, bytes.data(), 44);
  crc = UpdateCrc32(crc, bytes.data() + kJournalHeadSize,
                    static_cast<std::uint32_t>(bytes.size() - kJournalHeadSize));
  PutLE<std::uint32_t>(bytes.data() + 44, crc);
}

TEST(VEZRollbackJournalTest, EncodeDecodeRoundTripAndLayout) {
  const TVEZJournalContents c = SampleJournal();
  const std::vector<std::uint8_t> bytes = EncodeJournal(c);
  ASSERT_EQ(bytes.size(), kJournalHeadSize + (17 + 76) + (17 + 512) + 17 + 2 * 4);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), 7), "VEZJRNL");
  EXPECT_EQ(bytes[7], 1);
  EXPECT_EQ(GetLE<std::int32_t>(bytes.data() + 12), 41);
  EXPECT_EQ(GetLE<std::int64_t>(bytes.data() + 24),
            static_cast<std::int64_t>(bytes.size() - kJournalHeadSize));
  EXPECT_EQ(GetLE<std::uint32_t>(bytes.data() + 32), 3u);
  EXPECT_EQ(GetLE<std::uint32_t>(bytes.data() + 36), 2u);
  TVEZJournalContents back;
  ASSERT_TRUE(DecodeJournal(bytes.data(), bytes.size(), back));
  ExpectSame(c, back);
  // Trailing bytes of an older, longer journal do not matter.
  std::vector<std::uint8_t> longer = bytes;
  longer.resize(bytes.size() + 3000, 0x5A);
  TVEZJournalContents again;
  ASSERT_TRUE(DecodeJournal(longer.data(), longer.size(), again));
  ExpectSame(c, again);
  // An empty journal (no record) is sound too.
  const std::vector<std::uint8_t> empty = EncodeJournal(TVEZJournalContents{});
  EXPECT_EQ(empty.size(), kJournalHeadSize);
  EXPECT_TRUE(DecodeJournal(empty.data(), empty.size(), again));
}

TEST(VEZRollbackJournalTest, DamagedJournalsAreRefused) {
  const std::vector<std::uint8_t> good = EncodeJournal(SampleJournal());
  const std::size_t page_record = kJournalHeadSize + 17 + 76;
  const struct {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    bool reseal;
  } rows[] = {
      {"cut inside the body", [](auto& b) { b.resize(b.size() - 1); }, false},
      {"cut inside the head", [](auto& b) { b.resize(40); }, false},
      {"invalidated", [](auto& b) { std::memset(b.data(), 0, 8); }, false},
      {"old image byte flipped", [&](auto& b) { b[page_record + 17 + 100] ^= 1; }, false},
      {"new CRC flipped", [&](auto& b) { b[page_record + 13] ^= 0x80; }, false},
      {"check sum flipped", [](auto& b) { b[44] ^= 1; }, false},
      {"state changed", [](auto& b) { b[12] ^= 4; }, false},
      {"version 2", [](auto& b) { PutLE<std::uint32_t>(b.data() + 8, 2); }, true},
      {"body larger than the file",
       [](auto& b) { PutLE<std::int64_t>(b.data() + 24, GetLE<std::int64_t>(b.data() + 24) + 1); },
       true},
      {"negative body", [](auto& b) { PutLE<std::int64_t>(b.data() + 24, -5); }, true},
      {"record count beyond the body",
       [](auto& b) { PutLE<std::uint32_t>(b.data() + 32, 0x7FFFFFFF); }, true},
      {"one record fewer than stored", [](auto& b) { PutLE<std::uint32_t>(b.data() + 32, 2); },
       true},
      {"added count wrong", [](auto& b) { PutLE<std::uint32_t>(b.data() + 36, 3); }, true},
      {"unknown flag", [](auto& b) { PutLE<std::uint32_t>(b.data() + 40, 3); }, true},
      {"negative original size", [](auto& b) { PutLE<std::int64_t>(b.data() + 16, -1); }, true},
      {"record kind 0", [&](auto& b) { b[page_record] = 0; }, true},
      {"record kind 4", [&](auto& b) { b[page_record] = 4; }, true},
      {"negative offset", [&](auto& b) { PutLE<std::int64_t>(b.data() + page_record + 1, -512); },
       true},
      {"zero length", [&](auto& b) { PutLE<std::uint32_t>(b.data() + page_record + 9, 0); }, true},
      {"length past the body",
       [&](auto& b) { PutLE<std::uint32_t>(b.data() + page_record + 9, 60000); }, true},
      {"negative added page", [](auto& b) { PutLE<std::int32_t>(b.data() + b.size() - 4, -1); },
       true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<std::uint8_t> bytes = good;
    row.damage(bytes);
    if (row.reseal) Reseal(bytes);
    TVEZJournalContents out;
    out.HeaderState = 99;
    EXPECT_FALSE(DecodeJournal(bytes.data(), bytes.size(), out));
    EXPECT_EQ(out.HeaderState, 99);  // untouched
  }
}

// ---------------------------------------------------------------------------
// Crashes at every write of a change (a killed process: every write issued
// before the crash reached the file, the one cut short only in part).

// The database and journal files as of one moment.
struct FilePair {
  std::vector<std::uint8_t> db, journal;
  std::string label;
};

class SnapshotFile : public platform::FileWrapper {
 public:
  SnapshotFile(
      std::unique_ptr<platform::File> target,
      std::function<void(const std::string&, std::int64_t, const void*, std::size_t)>& on_write)
      : FileWrapper(std::move(target)), on_write_(on_write) {}
  void WriteAt(std::int64_t offset, const void* buffer, std::size_t count) override {
    on_write_(Path(), offset, buffer, count);
    FileWrapper::WriteAt(offset, buffer, count);
  }
  void Truncate(std::int64_t size) override {
    on_write_(Path(), size, nullptr, 0);
    FileWrapper::Truncate(size);
  }

 private:
  std::function<void(const std::string&, std::int64_t, const void*, std::size_t)>& on_write_;
};

// Records the pair before every write and truncate, and once per 512-byte
// step inside a write (the write cut there).
class SnapshotFileSystem : public platform::FileSystemWrapper {
 public:
  explicit SnapshotFileSystem(std::string db_path)
      : FileSystemWrapper(platform::PosixFileSystem()), db_path_(std::move(db_path)) {
    on_write_ = [this](const std::string& path, std::int64_t offset, const void* buffer,
                       std::size_t count) { Take(path, offset, buffer, count); };
  }
  std::vector<FilePair> pairs;
  bool enabled = false;

  std::unique_ptr<platform::File> CreateFile(const std::string& path,
                                             platform::FileShare share) override {
    return std::make_unique<SnapshotFile>(FileSystemWrapper::CreateFile(path, share), on_write_);
  }
  std::unique_ptr<platform::File> OpenFile(const std::string& path, platform::FileAccess access,
                                           platform::FileShare share) override {
    return std::make_unique<SnapshotFile>(FileSystemWrapper::OpenFile(path, access, share),
                                          on_write_);
  }

 private:
  void Take(const std::string& path, std::int64_t offset, const void* buffer, std::size_t count) {
    if (!enabled) return;
    const FilePair now{ReadAll(db_path_), ReadAll(db_path_ + "-journal"), ""};
    const bool is_journal = path == db_path_ + "-journal";
    const int n = static_cast<int>(pairs.size());
    pairs.push_back(now);
    pairs.back().label = "before mutation of " + std::string(is_journal ? "journal" : "file") +
                         " #" + std::to_string(n);
    for (std::size_t cut = 512; buffer && cut < count; cut += 512) {
      FilePair torn = now;
      std::vector<std::uint8_t>& target = is_journal ? torn.journal : torn.db;
      const std::size_t end = static_cast<std::size_t>(offset) + cut;
      if (target.size() < end) target.resize(end, 0);
      std::memcpy(target.data() + offset, buffer, cut);
      torn.label = pairs.back().label + " cut at " + std::to_string(cut);
      pairs.push_back(std::move(torn));
    }
  }

  std::string db_path_;
  std::function<void(const std::string&, std::int64_t, const void*, std::size_t)> on_write_;
};

// Puts a database file and its journal in place, as a crash left them.
void PutFiles(const std::string& path, const std::vector<std::uint8_t>& db,
              const std::vector<std::uint8_t>& journal) {
  WriteAll(path, db);
  WriteAll(path + "-journal", journal);
}

// A database of 512-byte pages A, B, C (fills 1, 2, 3) and a run of filler
// pages, then a transaction that changes A and B, adds D and removes C (and
// with shrink, removes every filler page too, so the file is cut).
struct Scenario {
  std::int32_t a = 0, b = 0, c = 0, d = 0;
  std::vector<std::int32_t> fillers;
};

Scenario MakeScenarioBase(const std::string& name, int fillers) {
  Scenario s;
  TVEZDiskPageManager pm;
  pm.CreateAndOpenDatabase(name, {}, 512, 2);
  s.a = AddPageWith(pm, 1);
  s.b = AddPageWith(pm, 2);
  s.c = AddPageWith(pm, 3);
  // A free page before the fillers: D takes it, so releasing the fillers
  // leaves free pages at the end and the file is cut.
  const std::int32_t hole = AddPageWith(pm, 0x33);
  for (int i = 0; i < fillers; ++i)
    s.fillers.push_back(AddPageWith(pm, 0x40));
  pm.ApplyChanges(kSession);
  pm.RemovePage(kSession, hole);
  pm.ApplyChanges(kSession);
  return s;
}

void RunTransaction(TVEZDiskPageManager& pm, Scenario& s, bool remove_fillers) {
  ChangePage(pm, s.a, 0xA1);
  ChangePage(pm, s.b, 0xB1);
  s.d = AddPageWith(pm, 0xD1);
  pm.RemovePage(kSession, s.c);
  if (remove_fillers)
    for (const std::int32_t f : s.fillers)
      pm.RemovePage(kSession, f);
  pm.ApplyChanges(kSession);
}

// Records the file pairs of a commit that changes page A to 0xA1 (and B to
// 0xB1 with change_b), at the given durability or the manager's own.
void RecordCommit(SnapshotFileSystem& fs, const std::string& name, const Scenario& s, bool change_b,
                  std::optional<TVEZDurability> durability = std::nullopt) {
  platform::ScopedFileSystem scope(fs);
  TVEZDiskPageManager pm;
  Open(pm, name);
  if (durability) pm.SetDurability(*durability);
  ChangePage(pm, s.a, 0xA1);
  if (change_b) ChangePage(pm, s.b, 0xB1);
  fs.enabled = true;
  pm.ApplyChanges(kSession);
  fs.enabled = false;
}

struct CrashCounts {
  int pairs = 0, before = 0, after = 0, recovered = 0, finished = 0, leaked = 0;
};

// Opens one rebuilt pair, recovers and checks it holds exactly the state
// before or after the transaction, with sound maps.
void CheckPair(const std::string& dir_path, const FilePair& pair, const Scenario& s,
               bool remove_fillers, CrashCounts& counts) {
  SCOPED_TRACE(pair.label);
  const std::string name = dir_path + "/check.vez";
  PutFiles(name, pair.db, pair.journal);
  TVEZDiskPageManager pm;
  const Opened o = Open(pm, name);
  EXPECT_FALSE(o.repair_needed);
  counts.pairs++;
  counts.recovered += pm.RecoveredChanges();
  counts.finished += pm.FinishedJournalsSeen();
  const auto fill_a = PageFill(pm, s.a);
  ASSERT_TRUE(fill_a.second);
  std::vector<std::int32_t> referenced = {s.a, s.b};
  if (fill_a.first == 1) {
    counts.before++;
    EXPECT_EQ(PageFill(pm, s.b), std::make_pair(std::uint8_t{2}, true));
    EXPECT_EQ(PageFill(pm, s.c), std::make_pair(std::uint8_t{3}, true));
    referenced.push_back(s.c);
    for (const std::int32_t f : s.fillers) {
      EXPECT_EQ(PageFill(pm, f), std::make_pair(std::uint8_t{0x40}, true));
      referenced.push_back(f);
    }
  } else {
    counts.after++;
    EXPECT_EQ(fill_a.first, 0xA1);
    EXPECT_EQ(PageFill(pm, s.b), std::make_pair(std::uint8_t{0xB1}, true));
    EXPECT_EQ(PageFill(pm, s.d), std::make_pair(std::uint8_t{0xD1}, true));
    referenced.push_back(s.d);
    if (!remove_fillers)
      for (const std::int32_t f : s.fillers)
        referenced.push_back(f);
  }
  const TVEZFreeSpaceReport report = pm.FreeSpaceManager()->CheckIntegrity(referenced);
  EXPECT_TRUE(report.Sound()) << report.FreeButReferenced.size() << " free but referenced, "
                              << report.ReferencedOutside.size() << " outside";
  counts.leaked += static_cast<int>(report.Leaked.size());
  // The pair opens the same way a second time: recovery left nothing behind.
  pm.CloseDatabase();
  TVEZDiskPageManager again;
  Open(again, name);
  EXPECT_EQ(again.RecoveredChanges(), 0);
  EXPECT_EQ(again.FinishedJournalsSeen(), 0);
}

TEST(VEZRollbackJournalTest, KilledAtEveryWriteRecoversToBeforeOrAfter) {
  const struct {
    TVEZDurability durability;
    bool remove_fillers;
  } rows[] = {
      {TVEZDurability::Full, false},
      {TVEZDurability::Normal, false},
      {TVEZDurability::Full, true},
      {TVEZDurability::Normal, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.durability) * 10 + row.remove_fillers);
    ScratchDir dir;
    const std::string name = dir.Path("crash.vez");
    Scenario s = MakeScenarioBase(name, row.remove_fillers ? 12 : 2);
    SnapshotFileSystem fs(name);
    std::vector<std::uint8_t> final_db;
    {
      platform::ScopedFileSystem scope(fs);
      TVEZDiskPageManager pm;
      Open(pm, name);
      pm.SetDurability(row.durability);
      fs.enabled = true;
      RunTransaction(pm, s, row.remove_fillers);
      fs.enabled = false;
      pm.CloseDatabase();
    }
    fs.pairs.push_back({ReadAll(name), ReadAll(name + "-journal"), "after the transaction"});
    CrashCounts counts;
    for (const FilePair& pair : fs.pairs)
      CheckPair(dir.Dir(), pair, s, row.remove_fillers, counts);
    RecordProperty("pairs", counts.pairs);
    RecordProperty("leaked", counts.leaked);
    if (row.remove_fillers) {
      EXPECT_GE(counts.after, 3);  // also cut after the invalidation
    }
    EXPECT_GT(counts.before, 0);
    EXPECT_GT(counts.after, 0);
    // Torn allocations and commits were undone; a commit that had reached the
    // file whole before its journal was invalidated was kept.
    EXPECT_GT(counts.recovered, 0);
    EXPECT_GT(counts.finished, 0);
    EXPECT_GE(counts.pairs, 20);
    // Only D, allocated by a transaction that never committed, may be leaked.
    EXPECT_LE(counts.leaked, counts.before);
  }
}

// Whether the open database holds exactly these pages with these fills.
bool Holds(TVEZDiskPageManager& pm, const std::map<std::int32_t, std::uint8_t>& pages) {
  for (const auto& [page_no, fill] : pages) {
    try {
      if (PageFill(pm, page_no) != std::make_pair(fill, true)) return false;
    } catch (const EVEZException&) {
      return false;
    }
  }
  return true;
}

// Random transactions against a map of page -> fill; a kill before any write
// of each must leave the state before or after it, with sound maps.
TEST(VEZRollbackJournalTest, RandomTransactionsKilledAtAnyWriteMatchTheModel) {
  for (const TVEZDurability durability : {TVEZDurability::Full, TVEZDurability::Normal}) {
    SCOPED_TRACE(static_cast<int>(durability));
    ScratchDir dir;
    const std::string name = dir.Path("model.vez");
    MakeDatabase(name, 0, 1, 512, 2);
    std::mt19937 rng(20261211u + static_cast<unsigned>(durability));
    std::map<std::int32_t, std::uint8_t> model;
    int pairs = 0;
    for (int round = 0; round < 12; ++round) {
      SCOPED_TRACE(round);
      SnapshotFileSystem fs(name);
      std::map<std::int32_t, std::uint8_t> after = model;
      {
        platform::ScopedFileSystem scope(fs);
        TVEZDiskPageManager pm;
        Open(pm, name);
        pm.SetDurability(durability);
        fs.enabled = true;
        std::vector<std::int32_t> existing;
        for (const auto& entry : model)
          existing.push_back(entry.first);
        std::shuffle(existing.begin(), existing.end(), rng);
        const std::size_t changes =
            existing.empty() ? 0 : rng() % std::min<std::size_t>(4, existing.size() + 1);
        std::size_t used = 0;
        for (; used < changes; ++used) {
          const auto fill = static_cast<std::uint8_t>(rng() % 200 + 10);
          ChangePage(pm, existing[used], fill);
          after[existing[used]] = fill;
        }
        const std::size_t removes = used < existing.size() ? rng() % 3 : 0;
        for (std::size_t i = 0; i < removes && used < existing.size(); ++i, ++used) {
          pm.RemovePage(kSession, existing[used]);
          after.erase(existing[used]);
        }
        const int adds = static_cast<int>(rng() % 4);
        for (int i = 0; i < adds; ++i) {
          const auto fill = static_cast<std::uint8_t>(rng() % 200 + 10);
          after[AddPageWith(pm, fill)] = fill;
        }
        pm.ApplyChanges(kSession);
        fs.enabled = false;
      }
      for (const FilePair& pair : fs.pairs) {
        SCOPED_TRACE(pair.label);
        const std::string check = dir.Path("check.vez");
        PutFiles(check, pair.db, pair.journal);
        TVEZDiskPageManager pm;
        EXPECT_FALSE(Open(pm, check).repair_needed);
        ++pairs;
        // A released page keeps its bytes: the maps tell the states apart.
        bool removed_free = true, removed_used = true;
        for (const auto& entry : model) {
          if (after.count(entry.first)) continue;
          const bool used = pm.FreeSpaceManager()->GetPageUsageFromPFS(entry.first);
          removed_free = removed_free && !used;
          removed_used = removed_used && used;
        }
        // Pages a torn commit added keep their new bytes, released.
        const auto all_used = [&](const std::map<std::int32_t, std::uint8_t>& pages) {
          for (const auto& entry : pages)
            if (!pm.FreeSpaceManager()->GetPageUsageFromPFS(entry.first)) return false;
          return true;
        };
        const bool after_state = removed_free && all_used(after) && Holds(pm, after);
        const bool before_state =
            !after_state && removed_used && all_used(model) && Holds(pm, model);
        ASSERT_TRUE(before_state || after_state);
        std::vector<std::int32_t> referenced;
        for (const auto& entry : before_state ? model : after)
          referenced.push_back(entry.first);
        const TVEZFreeSpaceReport report = pm.FreeSpaceManager()->CheckIntegrity(referenced);
        EXPECT_TRUE(report.Sound());
      }
      model = after;
      TVEZDiskPageManager pm;
      Open(pm, name);
      ASSERT_TRUE(Holds(pm, model));
    }
    EXPECT_GE(pairs, 100);
  }
}

// A power cut: what each file held at its last sync, plus any subset of the
// 512-byte sectors written since, at any size between the synced and the
// current one.
class PowerCutFile : public platform::FileWrapper {
 public:
  PowerCutFile(std::unique_ptr<platform::File> target, std::function<void()>& before_mutation,
               std::set<std::int64_t>& dirty, std::vector<std::uint8_t>& durable)
      : FileWrapper(std::move(target)),
        before_mutation_(before_mutation),
        dirty_(dirty),
        durable_(durable) {}
  void WriteAt(std::int64_t offset, const void* buffer, std::size_t count) override {
    before_mutation_();
    for (std::int64_t s = offset / 512; count > 0 && s <= (offset + std::int64_t(count) - 1) / 512;
         ++s)
      dirty_.insert(s);
    FileWrapper::WriteAt(offset, buffer, count);
  }
  void Truncate(std::int64_t size) override {
    before_mutation_();
    FileWrapper::Truncate(size);
  }
  void Sync() override {
    before_mutation_();
    FileWrapper::Sync();
    durable_ = ReadAll(Path());
    dirty_.clear();
  }

 private:
  std::function<void()>& before_mutation_;
  std::set<std::int64_t>& dirty_;
  std::vector<std::uint8_t>& durable_;
};

class PowerCutFileSystem : public platform::FileSystemWrapper {
 public:
  PowerCutFileSystem(std::string db_path, unsigned seed, int variants)
      : FileSystemWrapper(platform::PosixFileSystem()),
        db_path_(std::move(db_path)),
        rng_(seed),
        variants_(variants) {
    for (const std::string& p : {db_path_, db_path_ + "-journal"})
      durable_[p] = ReadAll(p);
    before_mutation_ = [this] { Take(); };
  }
  std::vector<FilePair> pairs;
  bool enabled = false;

  std::unique_ptr<platform::File> OpenFile(const std::string& path, platform::FileAccess access,
                                           platform::FileShare share) override {
    return std::make_unique<PowerCutFile>(FileSystemWrapper::OpenFile(path, access, share),
                                          before_mutation_, dirty_[path], durable_[path]);
  }
  void Take() {
    if (!enabled) return;
    for (int v = 0; v < variants_; ++v) {
      FilePair pair;
      pair.db = Cut(db_path_);
      pair.journal = Cut(db_path_ + "-journal");
      pair.label = "power cut " + std::to_string(pairs.size());
      pairs.push_back(std::move(pair));
    }
  }

 private:
  std::vector<std::uint8_t> Cut(const std::string& path) {
    const std::vector<std::uint8_t> now = ReadAll(path);
    std::vector<std::uint8_t> image = durable_[path];
    const std::size_t lo = std::min(image.size(), now.size());
    const std::size_t hi = std::max(image.size(), now.size());
    const std::size_t size = lo + (hi > lo ? rng_() % (hi - lo + 1) : 0);
    image.resize(size, 0);
    for (const std::int64_t sector : dirty_[path]) {
      if (rng_() % 2) continue;
      for (std::size_t i = static_cast<std::size_t>(sector) * 512;
           i < static_cast<std::size_t>(sector + 1) * 512 && i < size; ++i)
        image[i] = i < now.size() ? now[i] : 0;
    }
    return image;
  }

  std::string db_path_;
  std::mt19937 rng_;
  int variants_;
  std::map<std::string, std::set<std::int64_t>> dirty_;
  std::map<std::string, std::vector<std::uint8_t>> durable_;
  std::function<void()> before_mutation_;
};

TEST(VEZRollbackJournalTest, FullDurabilitySurvivesAPowerCutAtEverySyncPoint) {
  for (const bool remove_fillers : {false, true}) {
    SCOPED_TRACE(remove_fillers);
    ScratchDir dir;
    const std::string name = dir.Path("power.vez");
    Scenario s = MakeScenarioBase(name, remove_fillers ? 12 : 2);
    PowerCutFileSystem fs(name, 77u + remove_fillers, 8);
    {
      platform::ScopedFileSystem scope(fs);
      TVEZDiskPageManager pm;
      Open(pm, name);
      fs.enabled = true;
      RunTransaction(pm, s, remove_fillers);
      // Once the commit returned, a cut keeps it.
      const std::size_t returned = fs.pairs.size();
      fs.Take();
      fs.enabled = false;
      CrashCounts counts;
      for (std::size_t i = 0; i < fs.pairs.size(); ++i) {
        const int after = counts.after;
        CheckPair(dir.Dir(), fs.pairs[i], s, remove_fillers, counts);
        if (i >= returned) {
          EXPECT_EQ(counts.after, after + 1) << fs.pairs[i].label;
        }
      }
      EXPECT_GT(counts.before, 0);
      EXPECT_GT(counts.recovered, 0);
      EXPECT_GE(counts.pairs, 40);
    }
  }
}

TEST(VEZRollbackJournalTest, WithoutJournalATornCommitNeedsRepair) {
  ScratchDir dir;
  const std::string name = dir.Path("off.vez");
  Scenario s = MakeScenarioBase(name, 2);
  SnapshotFileSystem fs(name);
  RecordCommit(fs, name, s, true, TVEZDurability::Off);
  // Header (state 1), A, B, header: a kill after the first header write and
  // before the last leaves the marker, and nothing undoes the pages.
  ASSERT_GE(fs.pairs.size(), 4u);
  int marked = 0, mixed = 0;
  for (const FilePair& pair : fs.pairs) {
    SCOPED_TRACE(pair.label);
    EXPECT_TRUE(pair.journal.empty() || pair.journal[0] == 0);
    const std::string check = dir.Path("check.vez");
    PutFiles(check, pair.db, pair.journal);
    TVEZDiskPageManager pm;
    const Opened o = Open(pm, check);
    EXPECT_EQ(pm.RecoveredChanges(), 0);
    const auto h = TVEZDBHeader::Decode(pair.db.data());
    EXPECT_EQ(o.repair_needed, h.WriteChangesState == 1);
    marked += o.repair_needed;
    mixed += PageFill(pm, s.a).first == 0xA1 && PageFill(pm, s.b).first == 2;
  }
  EXPECT_GE(marked, 3);
  EXPECT_GE(mixed, 1);
}

TEST(VEZRollbackJournalTest, JournalOfAFinishedCommitIsKeptAndDamagedOneNeverApplied) {
  ScratchDir dir;
  const std::string name = dir.Path("done.vez");
  Scenario s = MakeScenarioBase(name, 2);
  SnapshotFileSystem fs(name);
  RecordCommit(fs, name, s, false);
  // The last pair is taken before the invalidation: the file holds the whole
  // commit and the journal is still sound.
  const FilePair before_invalidation = fs.pairs.back();
  ASSERT_NE(before_invalidation.journal.size(), 0u);
  TVEZJournalContents journal;
  ASSERT_TRUE(DecodeJournal(before_invalidation.journal.data(), before_invalidation.journal.size(),
                            journal));
  const std::string check = dir.Path("check.vez");
  {
    PutFiles(check, before_invalidation.db, before_invalidation.journal);
    TVEZDiskPageManager pm;
    EXPECT_FALSE(Open(pm, check).repair_needed);
    EXPECT_EQ(pm.FinishedJournalsSeen(), 1);
    EXPECT_EQ(pm.RecoveredChanges(), 0);
    EXPECT_EQ(PageFill(pm, s.a).first, 0xA1);
  }
  EXPECT_EQ(ReadAll(check + "-journal")[0], 0);  // invalidated
  // A sound journal beside a torn file undoes it; the same journal with one
  // byte damaged is never applied, and the torn file stays as it is.
  FilePair torn;
  for (const FilePair& p : fs.pairs)
    if (!p.journal.empty() && p.journal[0] == 'V' &&
        TVEZDBHeader::Decode(p.db.data()).WriteChangesState == 1)
      torn = p;
  ASSERT_FALSE(torn.db.empty());
  for (const bool damage : {false, true}) {
    SCOPED_TRACE(damage);
    std::vector<std::uint8_t> j = torn.journal;
    if (damage) j[kJournalHeadSize + 30] ^= 0x10;
    PutFiles(check, torn.db, j);
    TVEZDiskPageManager pm;
    const Opened o = Open(pm, check);
    EXPECT_EQ(pm.RecoveredChanges(), damage ? 0 : 1);
    EXPECT_EQ(o.repair_needed, damage);
    if (damage) {
      EXPECT_EQ(ReadAll(check), torn.db);
    }
  }
  // A reader cannot undo: it reports a torn change as needing repair and
  // leaves both files as they are; a finished one it reads as it is.
  for (const FilePair* pair : {static_cast<const FilePair*>(&torn), &before_invalidation}) {
    PutFiles(check, pair->db, pair->journal);
    TVEZDiskPageManager pm;
    const Opened o = Open(pm, check, false, true, true);
    EXPECT_TRUE(o.read_only);
    EXPECT_EQ(o.repair_needed, pair == &torn);
    EXPECT_EQ(ReadAll(check), pair->db);
    EXPECT_EQ(ReadAll(check + "-journal"), pair->journal);
  }
}

// Sound journals that were not written for the file beside them, or whose
// sizes and records that file cannot justify, are never applied blindly: the
// file is not grown on their word, nothing is written outside whole pages on
// page boundaries, and a journal of another file (or another state of this
// one) is dropped whatever its records are.
TEST(VEZRollbackJournalTest, JournalsThatDoNotFitTheFileBesideThemAreNotApplied) {
  ScratchDir dir;
  const std::string name = dir.Path("fit.vez");
  Scenario s = MakeScenarioBase(name, 2);
  // Another database of the same page size and header state, with other
  // pages: what a user copies over the name of a crashed one.
  const std::string other_name = dir.Path("other.vez");
  MakeScenarioBase(other_name, 7);
  const std::vector<std::uint8_t> other = ReadAll(other_name);
  ASSERT_EQ(TVEZDBHeader::Decode(other.data()).State,
            TVEZDBHeader::Decode(ReadAll(name).data()).State);
  SnapshotFileSystem fs(name);
  RecordCommit(fs, name, s, true);
  FilePair torn;
  for (const FilePair& p : fs.pairs)
    if (!p.journal.empty() && p.journal[0] == 'V' &&
        TVEZDBHeader::Decode(p.db.data()).WriteChangesState == 1)
      torn = p;
  ASSERT_FALSE(torn.db.empty());
  TVEZJournalContents journal;
  ASSERT_TRUE(DecodeJournal(torn.journal.data(), torn.journal.size(), journal));
  const FilePair after = fs.pairs.back();  // the commit written whole
  constexpr std::int64_t kFirstPage = 380;
  const auto first_page_record = [](TVEZJournalContents& j) -> TVEZJournalRecord& {
    for (TVEZJournalRecord& r : j.Records)
      if (r.Kind == TVEZJournalRecordKind::Page) return r;
    throw std::logic_error("no page record");
  };
  const auto header_record = [](TVEZJournalContents& j) -> TVEZJournalRecord& {
    for (TVEZJournalRecord& r : j.Records)
      if (r.Kind == TVEZJournalRecordKind::HeaderArea && r.Length == 76) return r;
    throw std::logic_error("no header record");
  };
  enum class Outcome { kUndone, kDroppedTorn, kDroppedSound };
  const struct {
    const char* what;
    const std::vector<std::uint8_t>* db;
    std::function<void(TVEZJournalContents&)> change;
    Outcome outcome;
  } rows[] = {
      {"as written", &torn.db, [](TVEZJournalContents&) {}, Outcome::kUndone},
      {"original size of 64 GiB", &torn.db,
       [](TVEZJournalContents& j) { j.OriginalFileSize = std::int64_t{64} << 30; },
       Outcome::kUndone},
      {"a page far past the end of the file", &torn.db,
       [&](TVEZJournalContents& j) {
         TVEZJournalRecord far = first_page_record(j);
         far.Offset = kFirstPage + std::int64_t{100000} * 512;
         j.Records.push_back(far);
       },
       Outcome::kDroppedTorn},
      {"a page record at offset 0", &torn.db,
       [&](TVEZJournalContents& j) { first_page_record(j).Offset = 0; }, Outcome::kDroppedTorn},
      {"a page record off the page boundaries", &torn.db,
       [&](TVEZJournalContents& j) { first_page_record(j).Offset += 100; }, Outcome::kDroppedTorn},
      {"a page record shorter than a page", &torn.db,
       [&](TVEZJournalContents& j) {
         TVEZJournalRecord& r = first_page_record(j);
         r.Length = 100;
         r.OldImage.resize(100);
       },
       Outcome::kDroppedTorn},
      {"original size shorter than the old header's pages", &torn.db,
       [](TVEZJournalContents& j) { j.OriginalFileSize = kFirstPage + 512; },
       Outcome::kDroppedTorn},
      {"a header-area record reaching into page 0", &torn.db,
       [](TVEZJournalContents& j) {
         TVEZJournalRecord r;
         r.Kind = TVEZJournalRecordKind::HeaderArea;
         r.Offset = kFirstPage - 4;
         r.Length = 8;
         r.OldImage.assign(8, 0xEE);
         j.Records.push_back(r);
       },
       Outcome::kDroppedTorn},
      {"an added page the old header did not count", &torn.db,
       [](TVEZJournalContents& j) { j.AddedPages.push_back(1 << 20); }, Outcome::kDroppedTorn},
      {"header state of another file", &torn.db,
       [&](TVEZJournalContents& j) {
         j.HeaderState += 5;
         TVEZJournalRecord& h = header_record(j);
         PutLE<std::int32_t>(h.OldImage.data() + 38, j.HeaderState);
       },
       Outcome::kDroppedTorn},
      {"page size of another file", &torn.db,
       [&](TVEZJournalContents& j) {
         PutLE<std::uint16_t>(header_record(j).OldImage.data() + 26, 1024);
       },
       Outcome::kDroppedTorn},
      {"no header record: a small change's journal beside a finished file", &after.db,
       [&](TVEZJournalContents& j) {
         TVEZJournalRecord id;
         id.Kind = TVEZJournalRecordKind::HeaderArea;
         id.Offset = kFirstPage - 4;
         id.Length = 4;
         id.NewCrc = 0xDEADBEEF;
         id.OldImage.assign(4, 0);
         j.HeaderState = TVEZDBHeader::Decode(after.db.data()).State;
         j.OriginalFileSize = kFirstPage + 2 * 512;
         j.IsCommit = false;
         j.AddedPages.clear();
         j.Records = {id};
       },
       Outcome::kDroppedSound},
      {"the torn journal beside another database of its state", &other, [](TVEZJournalContents&) {},
       Outcome::kDroppedSound},
  };
  const std::string check = dir.Path("check.vez");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    TVEZJournalContents j = journal;
    row.change(j);
    const std::vector<std::uint8_t>& db = *row.db;
    PutFiles(check, db, EncodeJournal(j));
    TVEZDiskPageManager pm;
    Opened o;
    try {
      o = Open(pm, check);
    } catch (const EVEZException& e) {
      ADD_FAILURE() << "the open raised " << e.what();
      continue;
    }
    const auto size = std::filesystem::file_size(check);
    EXPECT_LE(size, db.size()) << "the file grew";
    if (size > db.size()) continue;
    const std::vector<std::uint8_t> now = ReadAll(check);
    switch (row.outcome) {
      case Outcome::kUndone:
        EXPECT_EQ(pm.RecoveredChanges(), 1);
        EXPECT_FALSE(o.repair_needed);
        EXPECT_EQ(PageFill(pm, s.a).first, 1);
        EXPECT_EQ(PageFill(pm, s.b).first, 2);
        break;
      case Outcome::kDroppedTorn:
      case Outcome::kDroppedSound:
        EXPECT_EQ(pm.RecoveredChanges(), 0);
        EXPECT_TRUE(now == db) << "the file was written";
        EXPECT_EQ(o.repair_needed, row.outcome == Outcome::kDroppedTorn);
        break;
    }
    pm.CloseDatabase();
    EXPECT_EQ(ReadAll(check + "-journal")[0], 0) << "the journal was left to be applied later";
  }
}

TEST(VEZRollbackJournalTest, RecoveryCallOfAnOpenManagerUndoesAChangeTornElsewhere) {
  ScratchDir dir;
  const std::string name = dir.Path("live.vez");
  Scenario s = MakeScenarioBase(name, 2);
  // A torn commit of a process that died, as the files hold it.
  SnapshotFileSystem fs(name);
  RecordCommit(fs, name, s, true);
  FilePair torn;
  for (const FilePair& p : fs.pairs) {
    if (p.journal.empty() || p.journal[0] != 'V') continue;
    const auto h = TVEZDBHeader::Decode(p.db.data());
    if (h.WriteChangesState == 1) torn = p;  // mid-pages
  }
  ASSERT_FALSE(torn.db.empty());
  const std::string live = dir.Path("open.vez");
  PutFiles(live, fs.pairs.front().db, fs.pairs.front().journal);
  TVEZDiskPageManager pm;
  Open(pm, live);
  EXPECT_EQ(PageFill(pm, s.a).first, 1);
  // Another process's torn commit lands under this open manager.
  PutFiles(live, torn.db, torn.journal);
  pm.RecoverFromJournal();
  EXPECT_EQ(pm.RecoveredChanges(), 1);
  // Each restored page carries its old state + 2.
  TVEZJournalContents journal;
  ASSERT_TRUE(DecodeJournal(torn.journal.data(), torn.journal.size(), journal));
  int pages_checked = 0;
  for (const TVEZJournalRecord& r : journal.Records) {
    if (r.Kind != TVEZJournalRecordKind::Page) continue;
    const std::int32_t page_no = static_cast<std::int32_t>((r.Offset - 380) / 512);
    std::uint8_t raw[4];
    pm.ReadPageRegion(raw, page_no, 4, 4);
    EXPECT_EQ(GetLE<std::int32_t>(raw),
              NextPageState(NextPageState(GetLE<std::int32_t>(r.OldImage.data() + 4))));
    ++pages_checked;
  }
  EXPECT_EQ(pages_checked, 2);
  pm.ReadDBHeader();
  EXPECT_EQ(pm.DBHeader().WriteChangesState, 2);
  // The restored pages carry state + 2, so the cached copies are read again.
  EXPECT_EQ(PageFill(pm, s.a).first, 1);
  EXPECT_EQ(PageFill(pm, s.b).first, 2);
  // And the next commit of this manager works on the restored file.
  ChangePage(pm, s.b, 0xB2);
  pm.ApplyChanges(kSession);
  EXPECT_EQ(PageFill(pm, s.b).first, 0xB2);
}

TEST(VEZRollbackJournalTest, SmallChangesAreJournaledAndSyncedByDurability) {
  const struct {
    TVEZDurability durability;
    int syncs;
  } rows[] = {{TVEZDurability::Full, 2}, {TVEZDurability::Normal, 0}, {TVEZDurability::Off, 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.durability));
    ScratchDir dir;
    const std::string name = dir.Path("small.vez");
    MakeDatabase(name, 3, 1, 512, 2);
    FaultFileSystem fs;
    platform::ScopedFileSystem scope(fs);
    TVEZDiskPageManager pm;
    Open(pm, name);
    pm.SetDurability(row.durability);
    fs.plan = {};
    const std::int32_t page = AddPageWith(pm, 9);
    EXPECT_EQ(fs.plan.syncs, row.syncs);
    int journal_writes = 0;
    for (const std::string& p : fs.plan.write_paths)
      journal_writes += p == name + "-journal";
    // The journal and its invalidation, or nothing.
    EXPECT_EQ(journal_writes, row.durability == TVEZDurability::Off ? 0 : 2);
    fs.plan = {};
    pm.CancelChanges(kSession);
    EXPECT_EQ(fs.plan.syncs, row.syncs);
    EXPECT_FALSE(pm.FreeSpaceManager()->GetPageUsageFromPFS(page));
    fs.plan = {};
    const std::int32_t id = pm.GetNextObjectID();
    EXPECT_EQ(pm.GetNextObjectID(), id + 1);
    EXPECT_EQ(fs.plan.syncs, 2 * row.syncs);
    if (row.durability == TVEZDurability::Off) continue;
    // The object id's journal names the header too, which the change left as
    // it was: recovery tells this file from another by it.
    std::vector<std::uint8_t> last = ReadAll(name + "-journal");
    ASSERT_GE(last.size(), kJournalHeadSize);
    std::memcpy(last.data(), "VEZJRNL\x01", 8);
    TVEZJournalContents journal;
    ASSERT_TRUE(DecodeJournal(last.data(), last.size(), journal));
    int headers = 0;
    for (const TVEZJournalRecord& r : journal.Records) {
      if (r.Kind != TVEZJournalRecordKind::HeaderArea || r.Length != 76) continue;
      ++headers;
      EXPECT_EQ(r.Offset, 0);
      EXPECT_EQ(r.NewCrc, UpdateCrc32(0, r.OldImage.data(), 76));
    }
    EXPECT_EQ(headers, 1);
  }
}

TEST(VEZRollbackJournalTest, JournalFileIsKeptAndOverwrittenInPlace) {
  ScratchDir dir;
  const std::string name = dir.Path("inplace.vez");
  MakeDatabase(name, 3, 1, 512, 2);
  TVEZDiskPageManager pm;
  Open(pm, name);
  const auto change = [&](std::uint8_t fill) {
    TVEZPage* p = pm.GetPage(kSession, 2, kPageTypeTableRecord, true);
    std::memset(p->PageData(), fill, pm.PageDataSize());
    p->SetIsDirty(true);
    pm.PutPage(p);
    pm.ApplyChanges(kSession);
  };
  change(5);
  struct stat first;
  ASSERT_EQ(stat((name + "-journal").c_str(), &first), 0);
  for (int i = 0; i < 20; ++i)
    change(static_cast<std::uint8_t>(6 + i));
  struct stat later;
  ASSERT_EQ(stat((name + "-journal").c_str(), &later), 0);
  EXPECT_EQ(later.st_ino, first.st_ino);
  EXPECT_EQ(later.st_size, first.st_size);
  EXPECT_EQ(ReadAll(name + "-journal")[0], 0);
}

// ---------------------------------------------------------------------------
// Two processes

TEST(VEZRollbackJournalTest, SecondProcessRecoversWhileTheFirstIsDead) {
  ScratchDir dir;
  const std::string name = dir.Path("two.vez");
  Scenario s = MakeScenarioBase(name, 2);
  // Stalls at each write of the commit to the file in turn: header, A, header.
  for (int stall_at = 1; stall_at <= 3; ++stall_at) {
    SCOPED_TRACE(stall_at);
    for (const char* level : {"normal", "full"}) {
      SCOPED_TRACE(level);
      test::WorkerProcess worker(VEZ_TEST_WORKER);
      worker.Send("stallcommit " + name + " " + std::to_string(s.a) + " 161 " +
                  std::to_string(stall_at) + " " + level);
      worker.AwaitEvent("stalled");
      {
        // While it lives the worker holds the header lock: nobody recovers.
        TVEZDatabaseFile probe;
        probe.OpenFile(name, amReadOnly, smShareDenyNone);
        EXPECT_TRUE(probe.IsByteLocked(360));
      }
      worker.Kill();
      TVEZDiskPageManager pm;
      const Opened o = Open(pm, name);
      EXPECT_FALSE(o.repair_needed);
      EXPECT_EQ(pm.RecoveredChanges(), 1);
      EXPECT_EQ(PageFill(pm, s.a), std::make_pair(std::uint8_t{1}, true));
      EXPECT_EQ(PageFill(pm, s.b), std::make_pair(std::uint8_t{2}, true));
      const TVEZFreeSpaceReport report =
          pm.FreeSpaceManager()->CheckIntegrity({s.a, s.b, s.c, s.fillers[0], s.fillers[1]});
      EXPECT_TRUE(report.Sound());
      EXPECT_TRUE(report.Leaked.empty());
    }
  }
}

// A commit that fails once its writes reached the file is undone at once; a
// retry then writes a state the undone page never had.
TEST(VEZRollbackJournalTest, FailedCommitIsUndoneAndItsRetryMovesThePageStateOn) {
  ScratchDir dir;
  const std::string name = dir.Path("retry.vez");
  MakeDatabase(name, 3, 1, 512, 2);
  FaultFileSystem fs;
  platform::ScopedFileSystem scope(fs);
  TVEZDiskPageManager pm;
  Open(pm, name);
  std::uint8_t raw[4];
  pm.ReadPageRegion(raw, 2, 4, 4);
  const std::int32_t old_state = GetLE<std::int32_t>(raw);
  ChangePage(pm, 2, 0x77);
  fs.plan = {};
  fs.plan.only_kind = true;
  fs.plan.kind = test::FaultPlan::Op::kWrite;
  fs.plan.fail_at = 3;  // journal, header, page, then the final header fails
  EXPECT_THROW(pm.ApplyChanges(kSession), EVEZException);
  pm.ReadDBHeader();
  EXPECT_EQ(pm.DBHeader().WriteChangesState, 2);
  pm.ReadPageRegion(raw, 2, 4, 4);
  const std::int32_t restored = GetLE<std::int32_t>(raw);
  EXPECT_EQ(restored, NextPageState(NextPageState(old_state)));
  EXPECT_EQ(pm.RecoveredChanges(), 0);  // undone by the commit itself
  fs.plan = {};
  pm.ApplyChanges(kSession);
  pm.ReadPageRegion(raw, 2, 4, 4);
  EXPECT_EQ(GetLE<std::int32_t>(raw), NextPageState(restored));
  pm.CloseDatabase();
  TVEZDiskPageManager again;
  EXPECT_FALSE(Open(again, name).repair_needed);
  EXPECT_EQ(PageFill(again, 2), std::make_pair(std::uint8_t{0x77}, true));
}

// A commit takes the old images of the pages the last commit through its
// manager wrote from memory, but only while no other commit came between:
// the undo of a failed commit then puts back what another handle wrote.
TEST(VEZRollbackJournalTest, OldImagesFromMemoryOnlyWhileNoOtherCommitCameBetween) {
  ScratchDir dir;
  const std::string name = dir.Path("recent.vez");
  MakeDatabase(name, 3, 1, 512, 2);
  FaultFileSystem fs;
  platform::ScopedFileSystem scope(fs);
  TVEZDiskPageManager a;
  TVEZDiskPageManager b;
  Open(a, name);
  Open(b, name);
  for (const bool other_between : {false, true}) {
    SCOPED_TRACE(other_between ? "another commit between" : "no other commit");
    ChangePage(a, 2, 0x11);
    a.ApplyChanges(kSession);
    if (other_between) {
      ChangePage(b, 2, 0x22);
      b.ApplyChanges(kSession);
    }
    ChangePage(a, 2, 0x33);
    fs.plan = {};
    fs.plan.only_kind = true;
    fs.plan.kind = test::FaultPlan::Op::kWrite;
    fs.plan.fail_at = 3;  // journal, header, page, then the final header fails
    EXPECT_THROW(a.ApplyChanges(kSession), EVEZException);
    fs.plan = {};
    a.CancelChanges(kSession);
    const std::uint8_t before = other_between ? 0x22 : 0x11;
    EXPECT_EQ(PageFill(b, 2), std::make_pair(before, true));
    EXPECT_EQ(PageFill(a, 2), std::make_pair(before, true));
  }
}

// Bytes written straight to a page after a commit (lock bytes) must not make
// a journal whose invalidation a power cut lost look torn: the invalidation is
// synced first, but only when that journal named the page.
TEST(VEZRollbackJournalTest, DirectWriteSyncsTheInvalidationOnlyOverJournaledPages) {
  ScratchDir dir;
  const std::string name = dir.Path("direct.vez");
  MakeDatabase(name, 3, 1, 512, 2);
  FaultFileSystem fs;
  platform::ScopedFileSystem scope(fs);
  TVEZDiskPageManager pm;
  Open(pm, name);
  ChangePage(pm, 2, 0x21);
  pm.ApplyChanges(kSession);
  const std::uint8_t bytes[2] = {1, 2};
  fs.plan = {};
  pm.WritePageRegion(bytes, 3, 100, 2);  // page 3 was not in the commit
  EXPECT_EQ(fs.plan.syncs, 0);
  pm.WritePageRegion(bytes, 2, 100, 2);
  EXPECT_EQ(fs.plan.syncs, 1);
  pm.WritePageRegion(bytes, 2, 200, 2);  // already durable
  EXPECT_EQ(fs.plan.syncs, 1);
}

// A power cut can lose the growth of the file while the header that counts
// the new pages reaches the disk, and every journaled region then matches its
// new image: the change did not finish and is undone, never kept (10479).
TEST(VEZRollbackJournalTest, GrowthLostToAPowerCutIsUndoneThoughEveryCrcMatches) {
  ScratchDir dir;
  const std::string name = dir.Path("grow.vez");
  MakeDatabase(name, 3, 1, 512, 2);
  std::int64_t before_size = 0;
  std::int32_t before_pages = 0;
  {
    TVEZDiskPageManager pm;
    Open(pm, name);
    for (int i = 0; i < 40; ++i) {
      pm.ReadDBHeader();
      before_pages = pm.DBHeader().TotalPageCount;
      before_size = static_cast<std::int64_t>(ReadAll(name).size());
      AddPageWith(pm, 0x40);
      if (static_cast<std::int64_t>(ReadAll(name).size()) > before_size) break;
    }
    pm.CloseDatabase();
  }
  const std::vector<std::uint8_t> grown = ReadAll(name);
  ASSERT_GT(static_cast<std::int64_t>(grown.size()), before_size);
  // The growing allocation's journal, as if its invalidation were lost.
  std::vector<std::uint8_t> journal = ReadAll(name + "-journal");
  std::memcpy(journal.data(), "VEZJRNL\x01", 8);
  TVEZJournalContents contents;
  ASSERT_TRUE(DecodeJournal(journal.data(), journal.size(), contents));
  ASSERT_EQ(contents.OriginalFileSize, before_size);
  struct Row {
    const char* label;
    bool growth_lost;
  };
  for (const Row& row : {Row{"growth kept", false}, Row{"growth lost", true}}) {
    SCOPED_TRACE(row.label);
    std::vector<std::uint8_t> db = grown;
    if (row.growth_lost) db.resize(static_cast<std::size_t>(before_size));
    const std::string check = dir.Path("check.vez");
    PutFiles(check, db, journal);
    TVEZDiskPageManager pm;
    EXPECT_FALSE(Open(pm, check).repair_needed);
    EXPECT_EQ(pm.RecoveredChanges(), row.growth_lost ? 1 : 0);
    EXPECT_EQ(pm.FinishedJournalsSeen(), row.growth_lost ? 0 : 1);
    pm.ReadDBHeader();
    if (row.growth_lost) {
      EXPECT_EQ(pm.DBHeader().TotalPageCount, before_pages);
    }
    EXPECT_GE(static_cast<std::int64_t>(ReadAll(check).size()),
              pm.OffsetToFirstPage() + std::int64_t{pm.DBHeader().TotalPageCount} * 512);
  }
}

// The same across processes: a journal another process finished and
// invalidated may name the page, so its invalidation is synced before the
// first direct write after each such journal, and not again for the same one.
TEST(VEZRollbackJournalTest, DirectWriteSyncsAnotherProcesssInvalidationOncePerJournal) {
  ScratchDir dir;
  const std::string name = dir.Path("direct2.vez");
  MakeDatabase(name, 3, 1, 512, 2);
  FaultFileSystem fs;
  platform::ScopedFileSystem scope(fs);
  TVEZDiskPageManager writer, other;
  Open(writer, name);
  Open(other, name);
  const std::uint8_t bytes[2] = {1, 2};
  for (const std::uint8_t fill : {0x31, 0x32}) {
    SCOPED_TRACE(fill);
    ChangePage(writer, 2, fill);
    writer.ApplyChanges(kSession);
    fs.plan = {};
    other.WritePageRegion(bytes, 2, 100, 2);
    EXPECT_EQ(fs.plan.syncs, 1);
    other.WritePageRegion(bytes, 3, 200, 2);
    EXPECT_EQ(fs.plan.syncs, 1);
  }
  // Durability normal promises nothing against a power cut: no sync.
  other.SetDurability(TVEZDurability::Normal);
  ChangePage(writer, 2, 0x33);
  writer.ApplyChanges(kSession);
  fs.plan = {};
  other.WritePageRegion(bytes, 2, 100, 2);
  EXPECT_EQ(fs.plan.syncs, 0);
}

// Every write from the n-th on fails while failing is set: a commit whose own
// undo fails as well.
class FailingFromFile : public platform::FileWrapper {
 public:
  FailingFromFile(std::unique_ptr<platform::File> target, int& writes, int& fail_from)
      : FileWrapper(std::move(target)), writes_(writes), fail_from_(fail_from) {}
  void WriteAt(std::int64_t offset, const void* buffer, std::size_t count) override {
    if (fail_from_ >= 0 && writes_++ >= fail_from_)
      throw platform::EOSError(EIO, "injected failure");
    FileWrapper::WriteAt(offset, buffer, count);
  }

 private:
  int& writes_;
  int& fail_from_;
};

class FailingFromFileSystem : public platform::FileSystemWrapper {
 public:
  FailingFromFileSystem() : FileSystemWrapper(platform::PosixFileSystem()) {}
  int writes = 0;
  int fail_from = -1;
  std::unique_ptr<platform::File> OpenFile(const std::string& path, platform::FileAccess access,
                                           platform::FileShare share) override {
    return std::make_unique<FailingFromFile>(FileSystemWrapper::OpenFile(path, access, share),
                                             writes, fail_from);
  }
};

// A commit whose undo in this process fails leaves its journal hot; the
// recovery that later undoes it leaves the pages the session added taken,
// since the session still holds them: its retry commits them and its
// rollback releases them, each exactly once.
TEST(VEZRollbackJournalTest, FailedUndoLeavesTheSessionsAddedPagesToTheSession) {
  for (const bool retry : {true, false}) {
    SCOPED_TRACE(retry ? "retry" : "rollback");
    ScratchDir dir;
    const std::string name = dir.Path("undo.vez");
    MakeDatabase(name, 3, 1, 512, 2);
    FailingFromFileSystem fs;
    platform::ScopedFileSystem scope(fs);
    TVEZDiskPageManager pm;
    Open(pm, name);
    ChangePage(pm, 2, 0x55);
    const std::int32_t added = AddPageWith(pm, 0x66);
    ASSERT_TRUE(pm.FreeSpaceManager()->GetPageUsageFromPFS(added));
    fs.writes = 0;
    fs.fail_from = 2;  // journal, header: then the pages and the undo fail
    EXPECT_THROW(pm.ApplyChanges(kSession), EVEZException);
    fs.fail_from = -1;
    if (retry) {
      pm.ApplyChanges(kSession);
    } else {
      pm.CancelChanges(kSession);
    }
    EXPECT_EQ(pm.RecoveredChanges(), 1);
    EXPECT_EQ(pm.FreeSpaceManager()->GetPageUsageFromPFS(added), retry);
    pm.CloseDatabase();
    TVEZDiskPageManager again;
    EXPECT_FALSE(Open(again, name).repair_needed);
    EXPECT_EQ(again.FreeSpaceManager()->GetPageUsageFromPFS(added), retry);
    EXPECT_EQ(PageFill(again, 2).first == 0x55, retry);
    if (retry) {
      EXPECT_EQ(PageFill(again, added), std::make_pair(std::uint8_t{0x66}, true));
    }
  }
}

}  // namespace
}  // namespace vez

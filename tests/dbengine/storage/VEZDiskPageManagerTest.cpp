#include "dbengine/storage/VEZDiskPageManager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <set>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZDatabaseFile.h"
#include "dbengine/storage/VEZDatabaseFreeSpaceManager.h"
#include "dbengine/storage/VEZDiskTablePagesCacheManager.h"
#include "platform/core/Clock.h"
#include "platform/core/Random.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/DiskTestSupport.h"

using vez::test::NativeErrorOf;

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

std::vector<std::uint8_t> NewFileGolden() {
  std::vector<std::uint8_t> g(380, 0);
  std::memcpy(g.data(), "VOZ0ERIZADORAVOV", 16);
  g[16] = 76;
  const std::uint8_t version[8] = {0, 0, 0, 0, 0, 0, 0x1E, 0x40};  // 7.5
  std::memcpy(g.data() + 18, version, 8);
  g[26] = 0x00, g[27] = 0x10;  // 4096
  g[28] = 8;
  std::memset(g.data() + 34, 0xFF, 4);  // last used page -1
  g[42] = 2;
  g[76] = 0x18, g[77] = 0x01;  // crypto header size 280
  g[356] = 20;
  return g;
}

TEST(VEZDiskPageManagerTest, NewFileGoldenAndFirstPage) {
  ScratchDir dir;
  const std::string name = dir.Path("new.vez");
  {
    TVEZDiskPageManager pm;
    pm.CreateAndOpenDatabase(name, TVEZPassword{}, 4096, 8);
    EXPECT_TRUE(pm.IsOpened());
    EXPECT_TRUE(pm.Exclusive());
    EXPECT_EQ(ReadAll(name), NewFileGolden());
    const std::int32_t first = AddPageWith(pm, 0x11);
    EXPECT_EQ(first, 2);
    pm.ApplyChanges(kSession);
  }
  const auto bytes = ReadAll(name);
  ASSERT_EQ(bytes.size(), 380u + 6 * 4096);
  const TVEZDBHeader h = TVEZDBHeader::Decode(bytes.data());
  EXPECT_EQ(h.TotalPageCount, 6);
  EXPECT_EQ(h.LastUsedPageNo, 2);
  EXPECT_EQ(h.State, 1);
  EXPECT_EQ(h.WriteChangesState, 2);
  // PFS page 0 marks pages 0, 1, 2; EAM page 1 records extent 0 as not full.
  const std::uint8_t* pfs = bytes.data() + 380;
  EXPECT_EQ(GetLE<std::uint16_t>(pfs + 8), kPageTypePFS);
  EXPECT_EQ(pfs[40], 0x07);
  EXPECT_EQ(pfs[41], 0x00);
  const std::uint8_t* eam = bytes.data() + 380 + 4096;
  EXPECT_EQ(GetLE<std::uint16_t>(eam + 8), kPageTypeEAM);
  EXPECT_EQ(eam[40], 0x01);
  EXPECT_EQ(eam[41], 0x00);
  const std::uint8_t* page = bytes.data() + 380 + 2 * 4096;
  EXPECT_EQ(std::memcmp(page, "VEZP", 4), 0);
  EXPECT_EQ(GetLE<std::uint16_t>(page + 8), kPageTypeTableRecord);
  EXPECT_EQ(GetLE<std::uint32_t>(page + 14), 0u);  // no CRC on plain pages
  EXPECT_EQ(page[20], 0);                          // no cipher
  EXPECT_EQ(page[40], 0x11);
}

TEST(VEZDiskPageManagerTest, ReopenFindsHeaderAtAnOffset) {
  ScratchDir dir;
  const std::string name = dir.Path("db.vez");
  std::vector<std::int32_t> pages;
  {
    TVEZDiskPageManager pm;
    pm.CreateAndOpenDatabase(name, TVEZPassword{}, 1024, 4);
    for (std::uint8_t i = 0; i < 20; ++i)
      pages.push_back(AddPageWith(pm, static_cast<std::uint8_t>(0x40 + i)));
    pm.ApplyChanges(kSession);
    EXPECT_EQ(pm.GetNextObjectID(), 1);
    EXPECT_EQ(pm.GetNextObjectID(), 2);
  }
  for (const std::int64_t prefix : {std::int64_t{0}, std::int64_t{123456}}) {
    SCOPED_TRACE(prefix);
    const std::string moved = dir.Path("moved" + std::to_string(prefix) + ".vez");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(prefix), 'x');
    const auto db = ReadAll(name);
    bytes.insert(bytes.end(), db.begin(), db.end());
    WriteAll(moved, bytes);
    TVEZDiskPageManager pm;
    const Opened o = Open(pm, moved);
    EXPECT_FALSE(o.repair_needed);
    EXPECT_FALSE(o.read_only);
    EXPECT_EQ(pm.OffsetToDBHeader(), prefix);
    EXPECT_EQ(pm.OffsetToFirstPage(), prefix + 380);
    EXPECT_EQ(pm.PageSize(), 1024);
    for (std::size_t i = 0; i < pages.size(); ++i)
      EXPECT_EQ(PageFill(pm, pages[i]), std::make_pair(static_cast<std::uint8_t>(0x40 + i), true));
    EXPECT_EQ(pm.GetNextObjectID(), 3);
    const std::int32_t extra = AddPageWith(pm, 0x99);
    pm.ApplyChanges(kSession);
    pm.CloseDatabase();
    Open(pm, moved);
    EXPECT_EQ(PageFill(pm, extra), std::make_pair(std::uint8_t{0x99}, true));
    EXPECT_EQ(pm.GetNextObjectID(), 4);
    // The bytes before the header were never touched.
    const auto after = ReadAll(moved);
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + prefix, bytes.begin()));
  }
}

// Rewrites header bytes of a closed database file.
void Patch(const std::string& name, std::size_t at, const std::vector<std::uint8_t>& b) {
  auto bytes = ReadAll(name);
  std::copy(b.begin(), b.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
  WriteAll(name, bytes);
}

TEST(VEZDiskPageManagerTest, DamagedAndForeignFilesAreRefused) {
  ScratchDir dir;
  const std::string good = dir.Path("good.vez");
  MakeDatabase(good, 1);
  const auto golden = ReadAll(good);
  std::vector<std::uint8_t> minus_one(4);
  PutLE<std::int32_t>(minus_one.data(), -1);
  std::vector<std::uint8_t> six(4);
  PutLE<std::int32_t>(six.data(), 6);
  const struct {
    const char* name;
    std::function<void(const std::string&)> damage;
    std::int32_t error;
    bool repair_needed;
  } rows[] = {
      {"sound", [](const std::string&) {}, 0, false},
      {"commit cut off", [](const std::string& n) { Patch(n, 42, {1}); }, 0, true},
      {"old version",
       [](const std::string& n) {
         Patch(n, 18, {0, 0, 0, 0, 0, 0, 0x04, 0x40});
       },  // 2.5
       0, true},
      {"no signature", [](const std::string& n) { Patch(n, 0, {'X'}); }, 10470, false},
      {"encrypted flag", [](const std::string& n) { Patch(n, 43, {0xFF}); }, 30445, false},
      {"crypto header size",
       [](const std::string& n) {
         Patch(n, 76, {0x19, 0x01});
       },
       20237, false},
      {"page size 40",
       [](const std::string& n) {
         Patch(n, 26, {40, 0});
       },
       10480, false},
      {"no pages per extent",
       [](const std::string& n) {
         Patch(n, 28, {0, 0});
       },
       10480, false},
      {"last used beyond the pages", [six](const std::string& n) { Patch(n, 34, six); }, 10480,
       false},
      {"negative page count", [minus_one](const std::string& n) { Patch(n, 30, minus_one); }, 10480,
       false},
      {"shorter than its pages",
       [](const std::string& n) {
         auto b = ReadAll(n);
         b.pop_back();
         WriteAll(n, b);
       },
       10479, false},
      {"longer than its pages",
       [](const std::string& n) {
         auto b = ReadAll(n);
         b.resize(b.size() + 5000, 0xAB);
         WriteAll(n, b);
       },
       0, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string name = dir.Path("damaged.vez");
    WriteAll(name, golden);
    row.damage(name);
    const auto before = ReadAll(name);
    TVEZDiskPageManager pm;
    Opened o;
    EXPECT_EQ(NativeErrorOf([&] { o = Open(pm, name); }), row.error);
    if (row.error == 0) {
      EXPECT_EQ(o.repair_needed, row.repair_needed);
    }
    // The header lock is free again, whatever happened.
    if (pm.IsOpened()) {
      EXPECT_EQ(pm.LockDBHeaderCount(), 0);
    }
    pm.CloseDatabase();
    TVEZDatabaseFile probe;
    probe.OpenFile(name, amReadOnly, smShareDenyNone);
    EXPECT_FALSE(probe.IsByteLocked(360));
    probe.CloseFile();
    // Opening wrote nothing.
    EXPECT_EQ(ReadAll(name), before);
  }
}

TEST(VEZDiskPageManagerTest, CreateArgumentsAndGuards) {
  ScratchDir dir;
  TVEZDiskPageManager pm;
  TVEZPassword pw;
  pw.Password = "secret";
  pw.CryptoAlgorithm = static_cast<TVEZCryptoAlgorithm>(8);
  EXPECT_EQ(NativeErrorOf([&] { pm.CreateAndOpenDatabase(dir.Path("p.vez"), pw, 4096, 8); }),
            10478);
  EXPECT_FALSE(std::filesystem::exists(dir.Path("p.vez")));
  EXPECT_EQ(NativeErrorOf([&] { pm.CreateAndOpenDatabase(dir.Path("p.vez"), {}, 40, 8); }), 10480);
  EXPECT_EQ(NativeErrorOf([&] { pm.CreateAndOpenDatabase(dir.Path("p.vez"), {}, 4096, 0); }),
            10480);
  EXPECT_EQ(NativeErrorOf([&] { pm.ReadDBHeader(); }), 10459);
  EXPECT_EQ(NativeErrorOf([&] { pm.WriteDBHeader(true); }), 10460);
  EXPECT_EQ(NativeErrorOf([&] { pm.GetNextObjectID(); }), 30399);
  pm.CreateAndOpenDatabase(dir.Path("p.vez"), {}, 4096, 8);
  EXPECT_EQ(NativeErrorOf([&] { pm.CreateAndOpenDatabase(dir.Path("q.vez"), {}, 4096, 8); }),
            10461);
  bool ro = false, repair = false, mu = true;
  EXPECT_EQ(NativeErrorOf([&] { pm.OpenDatabase(dir.Path("p.vez"), {}, ro, repair, false, mu); }),
            10462);
  const std::int32_t page = AddPageWith(pm, 3);
  for (std::int32_t system_page : {0, 1}) {
    SCOPED_TRACE(system_page);
    EXPECT_EQ(NativeErrorOf([&] { pm.GetPage(kSession, system_page, kPageTypeAny, true); }), 30434);
    EXPECT_EQ(NativeErrorOf([&] { pm.RemovePage(kSession, system_page); }), 30434);
  }
  pm.ApplyChanges(kSession);
  std::uint8_t buf[16];
  try {
    pm.ReadPageRegion(buf, page, 4090, 10);
    ADD_FAILURE();
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), 10476);
    EXPECT_NE(std::string(e.what()).find("offset = 4100, page size = 4096"), std::string::npos);
  }
  EXPECT_EQ(NativeErrorOf([&] { pm.WritePageRegion(buf, page, 4095, 2); }), 10477);
  EXPECT_EQ(NativeErrorOf([&] { pm.GetPageOffset(-1); }), 10471);
  pm.ReadPageRegion(buf, page, 40, 16);
  EXPECT_EQ(buf[0], 3);
  EXPECT_EQ(GetPageTypeName(kPageTypeTableIndex), "TableIndex Page");
  EXPECT_EQ(NativeErrorOf([] { GetPageTypeName(13); }), 30382);
  EXPECT_EQ(NativeErrorOf([] { CheckPageType(3, 2, 30423); }), 30423);
  EXPECT_EQ(NativeErrorOf([] { CheckPageType(99, 2, 30423); }), 30382);
}

TEST(VEZDiskPageManagerTest, TruncateDatabaseCutsEveryPageAfterTheLastUsed) {
  ScratchDir dir;
  const std::string name = dir.Path("cut.vez");
  TVEZDiskPageManager pm;
  pm.CreateAndOpenDatabase(name, {}, 4096, 8);
  for (int i = 0; i < 3; ++i)
    AddPageWith(pm, 1);
  pm.ApplyChanges(kSession);
  ASSERT_EQ(pm.DBHeader().TotalPageCount, 6);
  pm.TruncateDatabase();
  EXPECT_EQ(pm.DBHeader().TotalPageCount, 5);
  EXPECT_EQ(ReadAll(name).size(), 380u + 5 * 4096);
  pm.TruncateDatabase();  // nothing left to cut
  EXPECT_EQ(pm.DBHeader().TotalPageCount, 5);
  pm.WriteEmptyPage(4);
  std::uint8_t header[40];
  pm.ReadPageRegion(header, 4, 0, 40);
  EXPECT_EQ(std::memcmp(header, "VEZ1", 4), 0);
  EXPECT_EQ(GetLE<std::int32_t>(header + 4), 1);
  EXPECT_EQ(GetLE<std::uint16_t>(header + 8), kPageTypeEmpty);
  EXPECT_EQ(GetLE<std::int32_t>(header + 10), -1);
  EXPECT_EQ(GetLE<std::int32_t>(header + 22), -1);
  pm.CloseDatabase();
  TVEZDiskPageManager again;
  EXPECT_FALSE(Open(again, name).repair_needed);
}

TEST(VEZDiskPageManagerTest, PageStatesWrapWithoutOverflow) {
  EXPECT_EQ(NextPageState(0), 1);
  EXPECT_EQ(NextPageState(0x7FFFFFFB), 0x7FFFFFFC);
  EXPECT_EQ(NextPageState(0x7FFFFFFC), 0);
  EXPECT_EQ(NextPageState(0x7FFFFFFE), 0);
  EXPECT_EQ(NextPageState(0x7FFFFFFF), 0);
  EXPECT_EQ(NextPageState(-5), 0);
  EXPECT_EQ(NextHeaderState(0x7FFFFFFF), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(NextHeaderState(-1), 0);
  ScratchDir dir;
  TVEZDiskPageManager pm;
  pm.CreateAndOpenDatabase(dir.Path("s.vez"), {}, 512, 4);
  const std::int32_t page_no = AddPageWith(pm, 1);
  pm.ApplyChanges(kSession);
  for (const auto& [before, after] :
       {std::pair{0x7FFFFFFC, 0}, std::pair{0x7FFFFFFF, 0}, std::pair{41, 42}}) {
    SCOPED_TRACE(before);
    TVEZPage page(&pm);
    page.SetPageNo(page_no);
    page.AllocPageBuffer();
    page.PageHeader().SetState(before);
    pm.InternalWritePage(&page);
    std::uint8_t raw[4];
    pm.ReadPageRegion(raw, page_no, 4, 4);
    EXPECT_EQ(GetLE<std::int32_t>(raw), after);
  }
  // The header's commit counter wraps too.
  pm.DBHeader().State = 0x7FFFFFFF;
  pm.WriteDBHeader(true);
  ChangePage(pm, page_no, 2);
  pm.ApplyChanges(kSession);
  pm.ReadDBHeader();
  EXPECT_EQ(pm.DBHeader().State, std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(pm.DBHeader().WriteChangesState, 2);
}

TEST(VEZDiskPageManagerTest, CommitTouchesTheFileOnlyWithChangesAndSyncsByDurability) {
  ScratchDir dir;
  const std::string name = dir.Path("c.vez");
  MakeDatabase(name, 1);
  FaultFileSystem fs;
  platform::ScopedFileSystem scope(fs);
  TVEZDiskPageManager pm;
  Open(pm, name);
  fs.plan = {};
  pm.ApplyChanges(kSession);
  pm.ApplyChanges(7);
  EXPECT_EQ(PageFill(pm, 2).first, 1);
  const int reads = fs.plan.reads;
  pm.ApplyChanges(kSession);  // read a page, changed nothing
  EXPECT_EQ(fs.plan.reads, reads);
  EXPECT_EQ(fs.plan.writes, 0);
  EXPECT_EQ(fs.plan.syncs, 0);
  const struct {
    TVEZDurability durability;
    int syncs;
    int writes;
  } rows[] = {
      // journal, header, page, header, journal invalidated; synced: journal, file
      {TVEZDurability::Full, 2, 5},
      {TVEZDurability::Normal, 0, 5},
      {TVEZDurability::Off, 0, 3},  // header, page, header
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.durability));
    pm.SetDurability(row.durability);
    ChangePage(pm, 2, 9);
    fs.plan = {};
    pm.ApplyChanges(kSession);
    EXPECT_EQ(fs.plan.syncs, row.syncs);
    EXPECT_EQ(fs.plan.writes, row.writes);
  }
  // A commit that asks for it runs with full durability once.
  pm.SetDurability(TVEZDurability::Off);
  pm.RequestFullDurabilityForNextCommit();
  ChangePage(pm, 2, 10);
  fs.plan = {};
  pm.ApplyChanges(kSession);
  EXPECT_EQ(fs.plan.syncs, 2);
  ChangePage(pm, 2, 11);
  fs.plan = {};
  pm.ApplyChanges(kSession);
  EXPECT_EQ(fs.plan.syncs, 0);
  EXPECT_EQ(pm.GetDurability(), TVEZDurability::Off);
}

// A database with pages A, B, C committed, then a commit that changes A, adds
// D and removes C and D, failing at each of its writes, truncates and syncs in
// turn. With a journal the failed commit is undone at once; without one the
// pages written stay and the header says so. Either way each release is whole,
// so the rollback that follows never finds a page it holds already free.
TEST(VEZDiskPageManagerTest, FailedCommitStepsRaiseAndKeepCommittedPages) {
  ScratchDir dir;
  const std::string base = dir.Path("base.vez");
  std::int32_t a, b, c;
  {
    TVEZDiskPageManager pm;
    pm.CreateAndOpenDatabase(base, {}, 512, 2);
    a = AddPageWith(pm, 0xA0);
    b = AddPageWith(pm, 0xB0);
    c = AddPageWith(pm, 0xC0);
    pm.ApplyChanges(kSession);
  }
  const auto golden = ReadAll(base);
  const struct {
    TVEZDurability durability;
    int min_failed_steps;
  } rows[] = {
      // journal, its sync, header, page, freed state, maps, header, sync,
      // invalidation
      {TVEZDurability::Full, 9},
      // header, page, freed states and map pages of each release, header
      {TVEZDurability::Off, 7},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.durability));
    const bool journaled = row.durability != TVEZDurability::Off;
    bool succeeded = false;
    int failed_steps = 0;
    for (int fail_at = 0; !succeeded && fail_at < 80; ++fail_at) {
      SCOPED_TRACE(fail_at);
      const std::string name = dir.Path("run.vez");
      WriteAll(name, golden);
      std::int32_t d = -1;
      bool committed = false;
      std::vector<std::uint8_t> before_commit;
      {
        FaultFileSystem fs;
        platform::ScopedFileSystem scope(fs);
        TVEZDiskPageManager pm;
        Open(pm, name);
        pm.SetDurability(row.durability);
        ChangePage(pm, a, 0xA1);
        d = AddPageWith(pm, 0xD0);
        // Releasing both last pages shrinks the file.
        pm.RemovePage(kSession, c);
        pm.RemovePage(kSession, d);
        before_commit = ReadAll(name);
        fs.plan = {};
        fs.plan.fail_at = fail_at;
        try {
          pm.ApplyChanges(kSession);
          // A failed cut after the commit costs only space: the commit stands.
          const bool fired = fs.plan.mutations > fail_at;
          succeeded = !fired;
          if (!fired) {
            EXPECT_EQ(fs.plan.truncates, 1);
            EXPECT_EQ(fs.plan.syncs, journaled ? 3 : 0);
          }
          committed = true;
        } catch (const EVEZException& e) {
          ++failed_steps;
          EXPECT_GT(e.NativeError(), 0);
          EXPECT_NE(std::string(e.what()).find("injected failure"), std::string::npos) << e.what();
        }
        // The journal's write fails first: the file is untouched. Without a
        // journal the header's mark fails first and is put back at once.
        if (fail_at == 0 && journaled) {
          EXPECT_EQ(ReadAll(name), before_commit);
        }
        EXPECT_NO_THROW(pm.CancelChanges(kSession));
      }
      TVEZDiskPageManager pm;
      const Opened o = Open(pm, name);
      EXPECT_EQ(pm.RecoveredChanges(), 0);
      EXPECT_FALSE(o.repair_needed);
      EXPECT_EQ(PageFill(pm, b), std::make_pair(std::uint8_t{0xB0}, true));
      const auto fill_a = PageFill(pm, a);
      EXPECT_TRUE(fill_a.second);
      EXPECT_TRUE(fill_a.first == 0xA0 || fill_a.first == 0xA1);
      if (committed) {
        EXPECT_GE(fail_at, 1);
        EXPECT_EQ(fill_a.first, 0xA1);
        EXPECT_FALSE(pm.FreeSpaceManager()->GetPageUsageFromPFS(c));
        EXPECT_FALSE(pm.FreeSpaceManager()->GetPageUsageFromPFS(d));
      } else {
        // Undone at once, journal or not: as before the commit, and D given
        // back by the rollback.
        EXPECT_EQ(fill_a.first, 0xA0);
        EXPECT_EQ(PageFill(pm, c), std::make_pair(std::uint8_t{0xC0}, true));
        EXPECT_FALSE(pm.FreeSpaceManager()->GetPageUsageFromPFS(d));
      }
      // Never is a page lost to both the maps and the tables.
      std::vector<std::int32_t> referenced{a, b};
      if (pm.FreeSpaceManager()->GetPageUsageFromPFS(c)) referenced.push_back(c);
      const TVEZFreeSpaceReport report = pm.FreeSpaceManager()->CheckIntegrity(referenced);
      EXPECT_TRUE(report.Sound());
      EXPECT_TRUE(report.Leaked.empty());
    }
    EXPECT_TRUE(succeeded);
    EXPECT_GE(failed_steps, row.min_failed_steps);
  }
}

TEST(VEZDiskPageManagerTest, CommitWritesEveryDirtyPageBeforeReleasing) {
  for (const TVEZDurability durability : {TVEZDurability::Off, TVEZDurability::Full}) {
    SCOPED_TRACE(static_cast<int>(durability));
    ScratchDir dir;
    const std::string name = dir.Path("o.vez");
    FaultFileSystem fs;
    platform::ScopedFileSystem scope(fs);
    TVEZDiskPageManager pm;
    pm.CreateAndOpenDatabase(name, {}, 512, 2);
    pm.SetDurability(durability);
    std::vector<std::int32_t> pages;
    for (int i = 0; i < 12; ++i)
      pages.push_back(AddPageWith(pm, static_cast<std::uint8_t>(i)));
    pm.ApplyChanges(kSession);
    // Change the first pages, remove the last ones (which shrinks the file).
    for (int i = 0; i < 3; ++i)
      ChangePage(pm, pages[i], 0x70);
    for (int i = 6; i < 12; ++i)
      pm.RemovePage(kSession, pages[i]);
    fs.plan = {};
    pm.ApplyChanges(kSession);
    std::vector<std::pair<std::int64_t, std::size_t>> log, journal_log;
    std::size_t first_db_write = 0, last_db_write = 0;
    for (std::size_t i = 0; i < fs.plan.write_log.size(); ++i) {
      if (fs.plan.write_paths[i] != name + "-journal") {
        if (log.empty()) first_db_write = i;
        last_db_write = i;
        log.push_back(fs.plan.write_log[i]);
      } else {
        journal_log.push_back(fs.plan.write_log[i]);
        // The journal is written before the file, and invalidated after it.
        EXPECT_TRUE(log.empty() || i > last_db_write) << i;
      }
    }
    ASSERT_GE(log.size(), 6u);
    if (durability == TVEZDurability::Full) {
      ASSERT_EQ(journal_log.size(), 2u);
      EXPECT_LT(0u, first_db_write);
      EXPECT_EQ(journal_log.back(), std::make_pair(std::int64_t{0}, std::size_t{8}));
    } else {
      EXPECT_TRUE(journal_log.empty());
    }
    EXPECT_EQ(log.front(), std::make_pair(std::int64_t{0}, std::size_t{76}));  // header, state 1
    EXPECT_EQ(log.back(), std::make_pair(std::int64_t{0}, std::size_t{76}));   // header, state 2
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(
          log[static_cast<std::size_t>(i) + 1],
          std::make_pair(pm.GetPageOffset(pages[static_cast<std::size_t>(i)]), std::size_t{512}));
    // Then the releases: freed states, map pages and the counters.
    for (std::size_t i = 4; i + 1 < log.size(); ++i)
      EXPECT_TRUE(log[i].second == 4 || log[i].second == 512 || log[i].second == 76) << i;
    EXPECT_EQ(fs.plan.truncates, 1);
    EXPECT_EQ(pm.DBHeader().TotalPageCount * 512 + 380, std::int64_t(ReadAll(name).size()));
  }
}

TEST(VEZDiskPageManagerTest, SeededRandomGivesTheSameFileByteForByte) {
  ScratchDir dir;
  for (const char* name : {"one.vez", "two.vez"}) {
    platform::SeededRandom random(2024);
    platform::ScopedRandom scope(random);
    TVEZDiskPageManager pm;
    pm.CreateAndOpenDatabase(dir.Path(name), {}, 1024, 4);
    for (int i = 0; i < 10; ++i)
      AddPageWith(pm, static_cast<std::uint8_t>(i));
    pm.ApplyChanges(kSession);
  }
  const auto one = ReadAll(dir.Path("one.vez"));
  EXPECT_EQ(one, ReadAll(dir.Path("two.vez")));
  // And the initial states really came from the source: not all alike.
  std::set<std::int32_t> states;
  for (int p = 2; p < 12; ++p)
    states.insert(GetLE<std::int32_t>(one.data() + 380 + p * 1024 + 4));
  EXPECT_GT(states.size(), 5u);
}

TEST(VEZDiskPageManagerTest, RepairMarkerStaysUntilRepaired) {
  ScratchDir dir;
  const std::string name = dir.Path("m.vez");
  MakeDatabase(name, 1);
  Patch(name, 42, {1});
  for (int round = 0; round < 2; ++round) {
    TVEZDiskPageManager pm;
    EXPECT_TRUE(Open(pm, name).repair_needed);
    ChangePage(pm, 2, static_cast<std::uint8_t>(round));
    pm.ApplyChanges(kSession);
  }
  TVEZDiskPageManager pm;
  EXPECT_TRUE(Open(pm, name).repair_needed);
}

TEST(VEZDiskPageManagerTest, TwoHandlesConflictOnTheHeaderLock) {
  ScratchDir dir;
  const std::string name = dir.Path("h.vez");
  MakeDatabase(name, 1);
  platform::FakeClock clock;
  platform::ScopedClock clock_scope(clock);
  TVEZDiskPageManager one, two;
  EXPECT_TRUE(Open(one, name).multi_user);
  Open(two, name);
  EXPECT_TRUE(one.MultiUser());
  EXPECT_EQ(PageFill(one, 2).first, 1);  // cached by the first handle
  ChangePage(two, 2, 0x22);
  const std::int32_t added = AddPageWith(two, 0x23);
  ASSERT_TRUE(one.LockDBHeader());
  ASSERT_TRUE(one.LockDBHeader());  // counted: the nested call does not wait
  EXPECT_EQ(one.LockDBHeaderCount(), 2);
  EXPECT_FALSE(two.LockDBHeader());
  EXPECT_EQ(NativeErrorOf([&] { two.ApplyChanges(kSession); }), 20213);
  EXPECT_EQ(clock.TotalSlept(), 4500u * 20u);
  EXPECT_EQ(NativeErrorOf([&] { two.GetPageCount(); }), 20236);
  TVEZDiskPageManager three;
  EXPECT_EQ(NativeErrorOf([&] { Open(three, name); }), 20230);
  three.CloseDatabase();
  EXPECT_TRUE(one.UnlockDBHeader());
  EXPECT_TRUE(two.DatabaseFile().IsByteLocked(360));
  EXPECT_TRUE(one.UnlockDBHeader());
  EXPECT_FALSE(one.UnlockDBHeader());
  EXPECT_FALSE(two.DatabaseFile().IsByteLocked(360));
  two.ApplyChanges(kSession);
  // The other handle sees the commit: the page's stored state moved on, so
  // its cached copy is read again.
  EXPECT_EQ(PageFill(one, 2).first, 0x22);
  EXPECT_EQ(PageFill(one, added).first, 0x23);
  EXPECT_EQ(one.GetPageCount(), two.GetPageCount());
  // The other lock bytes conflict the same way.
  EXPECT_TRUE(one.LockTables());
  EXPECT_FALSE(two.LockTables());
  EXPECT_TRUE(one.UnlockTables());
  EXPECT_TRUE(two.LockLastObjectID());
  EXPECT_EQ(NativeErrorOf([&] { one.GetNextObjectID(); }), 30401);
  EXPECT_TRUE(two.UnlockLastObjectID());
  EXPECT_TRUE(one.LockPageByte(2, 7));
  EXPECT_TRUE(two.IsPageByteLocked(2, 7));
  EXPECT_TRUE(two.IsPageRegionLocked(2, 0, 40));
  EXPECT_FALSE(two.LockPageByte(2, 7));
  EXPECT_TRUE(one.UnlockPageByte(2, 7));
  EXPECT_TRUE(two.LockFreeSpaceManager());
  EXPECT_FALSE(one.LockFreeSpaceManager());
  EXPECT_TRUE(two.UnlockFreeSpaceManager());
}

// A fake clock that runs a step at its n-th sleep (the other holder letting
// its lock go while this one waits).
class StepAtSleepClock : public platform::FakeClock {
 public:
  StepAtSleepClock(int at, std::function<void()> step) : at_(at), step_(std::move(step)) {}
  void Sleep(std::uint32_t ms) override {
    FakeClock::Sleep(ms);
    if (++sleeps_ == at_) step_();
  }

 private:
  int at_;
  int sleeps_ = 0;
  std::function<void()> step_;
};

// Every taker of the header lock waits while another handle holds it for a
// moment, as the other locks of the file do, instead of failing at once.
TEST(VEZDiskPageManagerTest, EveryTakerOfTheHeaderLockWaitsForItsHolder) {
  ScratchDir dir;
  const std::string name = dir.Path("w.vez");
  MakeDatabase(name, 1);
  const struct {
    const char* what;
    std::function<void(TVEZDiskPageManager&)> take;
  } rows[] = {
      {"page count", [](TVEZDiskPageManager& pm) { EXPECT_GT(pm.GetPageCount(), 0); }},
      {"commit",
       [](TVEZDiskPageManager& pm) {
         ChangePage(pm, 2, 0x5C);
         pm.ApplyChanges(kSession);
       }},
      {"allocation", [](TVEZDiskPageManager& pm) { EXPECT_GE(AddPageWith(pm, 0x6D), 0); }},
      {"object id", [](TVEZDiskPageManager& pm) { EXPECT_GT(pm.GetNextObjectID(), 0); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    TVEZDiskPageManager holder, waiter;
    Open(holder, name);
    Open(waiter, name);
    ASSERT_TRUE(holder.LockDBHeader());
    StepAtSleepClock clock(7, [&] { holder.UnlockDBHeader(); });
    platform::ScopedClock clock_scope(clock);
    row.take(waiter);
    EXPECT_EQ(clock.TotalSlept(), 7u * 20u);
    EXPECT_EQ(waiter.LockDBHeaderCount(), 0);
    waiter.CancelChanges(kSession);
  }
}

TEST(VEZDiskPageManagerTest, ExclusiveOpenIsSingleUserThroughout) {
  ScratchDir dir;
  const std::string name = dir.Path("x.vez");
  MakeDatabase(name, 0);
  TVEZDiskPageManager pm;
  const Opened o = Open(pm, name, /*exclusive=*/true, /*multi_user=*/true);
  EXPECT_FALSE(o.multi_user);
  EXPECT_FALSE(pm.MultiUser());
  EXPECT_TRUE(pm.Exclusive());
  TVEZDiskPageManager other;
  EXPECT_EQ(NativeErrorOf([&] { Open(other, name); }), 30364);
}

TEST(VEZDiskPageManagerTest, ReadOnlyFilesOpenReadOnlyAndStayUnchanged) {
  ScratchDir dir;
  const std::string name = dir.Path("r.vez");
  {
    TVEZDiskPageManager pm;
    pm.CreateAndOpenDatabase(name, {}, 4096, 8);
    AddPageWith(pm, 5);
    pm.ApplyChanges(kSession);
    EXPECT_EQ(pm.GetNextObjectID(), 1);
  }
  const auto before = ReadAll(name);
  chmod(name.c_str(), 0444);
  TVEZDiskPageManager pm;
  const Opened o = Open(pm, name);
  EXPECT_TRUE(o.read_only);
  EXPECT_FALSE(o.multi_user);
  EXPECT_EQ(pm.DatabaseFile().AccessMode(), amReadOnly);
  platform::SeededRandom random(77);
  platform::ScopedRandom random_scope(random);
  platform::SeededRandom replay(77);
  EXPECT_EQ(pm.GetNextObjectID(), 2 + replay.Random(10000));
  EXPECT_EQ(PageFill(pm, 2).first, 5);
  pm.CloseDatabase();
  EXPECT_EQ(ReadAll(name), before);
  chmod(name.c_str(), 0644);
}

TEST(VEZDiskPageManagerTest, TableStampsCarryTheTableId) {
  ScratchDir dir;
  const std::string name = dir.Path("t.vez");
  MakeDatabase(name, 1, 5);
  FaultFileSystem fs;
  platform::ScopedFileSystem scope(fs);
  TVEZDiskPageManager pm;
  Open(pm, name);
  TVEZDiskTablePagesCacheManager& tpc = pm.TablePagesCacheManager();
  tpc.TableIsSLocked(kSession, 5);
  tpc.SetIsMostUpdatedLoaded(kSession, 5, 7);
  tpc.BeginWorkWithTable(kSession, 5);
  TVEZPage* page = pm.GetPage(kSession, 2, kPageTypeTableRecord, true);
  EXPECT_TRUE(pm.IsPageSynchronized(kSession, page));
  EXPECT_FALSE(pm.IsPageSynchronized(kSession + 1, page));
  pm.PutPage(page);
  int reads = fs.plan.reads;
  pm.PutPage(pm.GetPage(kSession, 2, kPageTypeTableRecord, true));
  EXPECT_EQ(fs.plan.reads, reads);  // trusted without a look at the file
  // Another table whose state number happens to match: checked again.
  tpc.TableIsSLocked(kSession, 6);
  tpc.SetIsMostUpdatedLoaded(kSession, 6, 7);
  tpc.BeginWorkWithTable(kSession, 6);
  page = pm.GetPage(kSession, 2, kPageTypeTableRecord, false);
  EXPECT_FALSE(pm.IsPageSynchronized(kSession, page));
  pm.PutPage(page);
  reads = fs.plan.reads;
  pm.PutPage(pm.GetPage(kSession, 2, kPageTypeTableRecord, true));
  EXPECT_EQ(fs.plan.reads, reads + 1);  // the stored state
  page = pm.GetPage(kSession, 2, kPageTypeTableRecord, false);
  EXPECT_TRUE(pm.IsPageSynchronized(kSession, page));
  pm.PutPage(page);
}

}  // namespace
}  // namespace vez

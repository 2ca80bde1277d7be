#include "dbengine/storage/VEZDatabaseFreeSpaceManager.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZDatabaseFile.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "platform/core/Clock.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/DiskTestSupport.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

using test::ReadAll;
using test::ScratchDir;

void Reopen(TVEZDiskPageManager& pm, const std::string& name) {
  pm.CloseDatabase();
  ASSERT_FALSE(test::Open(pm, name).repair_needed);
}

// Reads the maps straight from the file and checks them against the model of
// used pages.
void CheckMaps(const std::string& name, const std::set<std::int32_t>& used,
               const TVEZDatabaseFreeSpaceManager& geometry) {
  const auto bytes = ReadAll(name);
  const TVEZDBHeader h = TVEZDBHeader::Decode(bytes.data());
  const std::int32_t page_size = h.PageSize;
  const std::int32_t data = page_size - 40;
  const std::int32_t extent = h.PageCountInExtent;
  const std::int32_t total = h.TotalPageCount;
  ASSERT_EQ(static_cast<std::int64_t>(bytes.size()), 380 + std::int64_t{total} * page_size);
  ASSERT_EQ(h.LastUsedPageNo, used.empty() ? -1 : *used.rbegin());
  ASSERT_EQ(h.WriteChangesState, 2);
  const auto page = [&](std::int32_t no) {
    return bytes.data() + 380 + std::int64_t{no} * page_size;
  };
  const auto in_use = [&](std::int32_t no) {
    return no < total && (used.count(no) > 0 || geometry.IsSystemPage(no));
  };
  for (std::int32_t no = 0; no < total; ++no) {
    const std::int32_t pfs = no / (data * 8) * (data * 8);
    ASSERT_EQ(GetLE<std::uint16_t>(page(pfs) + 8), kPageTypePFS) << pfs;
    const std::int32_t bit = no - pfs;
    const bool set = (page(pfs)[40 + bit / 8] >> (bit % 8)) & 1;
    ASSERT_EQ(set, in_use(no)) << "page " << no;
  }
  const std::int32_t x = data * 4, e = x * extent;
  for (std::int32_t ext = 0; std::int64_t{ext} * extent < total; ++ext) {
    const std::int32_t k = ext * extent / e;
    const std::int32_t eam = geometry.EAMPageNo(k);
    ASSERT_LT(eam, total);
    ASSERT_EQ(GetLE<std::uint16_t>(page(eam) + 8), kPageTypeEAM) << eam;
    const std::int32_t m = ext - k * x;
    const int v = (page(eam)[40 + m / 4] >> (2 * (m % 4))) & 3;
    ASSERT_NE(v, 2) << "extent " << ext;
    bool full = true, has_data_page = false;
    for (std::int32_t p = ext * extent; p < (ext + 1) * extent; ++p) {
      full = full && in_use(p);
      has_data_page = has_data_page || !geometry.IsSystemPage(p);
    }
    if (v == 3) {
      ASSERT_TRUE(full) << "extent " << ext;
    }
    if (full && has_data_page) {
      ASSERT_EQ(v, 3) << "extent " << ext;
    }
  }
}

struct Geometry {
  std::uint16_t page_size;
  std::uint16_t extent;
};

std::string NameOf(const Geometry& g) {
  return "page" + std::to_string(g.page_size) + "_extent" + std::to_string(g.extent);
}
void PrintTo(const Geometry& g, std::ostream* os) {
  *os << NameOf(g);
}

class FreeSpaceModel : public ::testing::TestWithParam<Geometry> {};

// Allocation and release against a set of used pages, across growth past
// several PFS and EAM pages, shrinking and reopening.
TEST_P(FreeSpaceModel, MatchesASetOfUsedPages) {
  ScratchDir dir;
  const std::string name = dir.Path("fsm.vez");
  TVEZDiskPageManager pm;
  pm.CreateAndOpenDatabase(name, {}, GetParam().page_size, GetParam().extent);
  std::set<std::int32_t> used;
  std::mt19937 rng(GetParam().page_size * 31 + GetParam().extent);
  std::int32_t highest_total = 0;
  for (int op = 0; op < 3000; ++op) {
    // Phases: grow, churn, drain, grow again.
    const int phase = op / 750;
    const int alloc_percent = phase == 0 ? 85 : phase == 1 ? 50 : phase == 2 ? 10 : 75;
    TVEZDatabaseFreeSpaceManager& fsm = *pm.FreeSpaceManager();
    if (used.empty() || static_cast<int>(rng() % 100) < alloc_percent) {
      const std::int32_t p = fsm.GetPage(-1);
      ASSERT_FALSE(fsm.IsSystemPage(p)) << p;
      ASSERT_TRUE(used.insert(p).second) << "page " << p << " handed out twice";
    } else {
      auto it = used.begin();
      std::advance(it, rng() % used.size());
      fsm.FreePage(*it);
      used.erase(it);
    }
    highest_total = std::max(highest_total, pm.DBHeader().TotalPageCount);
    if (op % 13 == 0) {
      CheckMaps(name, used, *pm.FreeSpaceManager());
      for (std::int32_t p : {2, 3, 100, 250})
        EXPECT_EQ(pm.FreeSpaceManager()->GetPageUsageFromPFS(p), used.count(p) > 0);
    }
    if (op % 500 == 499) Reopen(pm, name);
    if (HasFatalFailure()) return;
  }
  CheckMaps(name, used, *pm.FreeSpaceManager());
  // Several maps were in play.
  EXPECT_GT(highest_total, 2 * pm.FreeSpaceManager()->PFSPagesAddressed());
  for (std::int32_t p : std::vector<std::int32_t>(used.begin(), used.end()))
    pm.FreeSpaceManager()->FreePage(p);
  used.clear();
  CheckMaps(name, used, *pm.FreeSpaceManager());
  EXPECT_LT(pm.DBHeader().TotalPageCount, highest_total / 4);
}

// 48-byte pages: 64 pages per PFS page, 32 extents per EAM page, so an EAM
// page sometimes follows a PFS page and sometimes stands alone.
INSTANTIATE_TEST_SUITE_P(Geometries, FreeSpaceModel,
                         ::testing::Values(Geometry{48, 3}, Geometry{48, 2}, Geometry{56, 1},
                                           Geometry{64, 5}),
                         [](const auto& info) { return NameOf(info.param); });

TEST(VEZDatabaseFreeSpaceManagerTest, GeometryOfTheDefaultPageSize) {
  ScratchDir dir;
  TVEZDiskPageManager pm;
  pm.CreateAndOpenDatabase(dir.Path("g.vez"), {}, 4096, 8);
  const TVEZDatabaseFreeSpaceManager& fsm = *pm.FreeSpaceManager();
  EXPECT_EQ(fsm.PFSPagesAddressed(), 32448);
  EXPECT_EQ(fsm.EAMExtentsAddressed(), 16224);
  EXPECT_EQ(fsm.EAMPagesAddressed(), 129792);
  for (std::int32_t p : {0, 1, 32448, 64896, 97344, 129792, 129793, 259584, 259585})
    EXPECT_TRUE(fsm.IsSystemPage(p)) << p;
  for (std::int32_t p : {2, 32447, 32449, 129791, 129794, 129795})
    EXPECT_FALSE(fsm.IsSystemPage(p)) << p;
  EXPECT_EQ(fsm.EAMPageNo(1), 129793);
  EXPECT_EQ(NativeErrorOf([&] { fsm.CheckPageNoForSystemPages(129793); }), 30434);
  EXPECT_EQ(fsm.GetAddPagesStep(), 6);
}

TEST(VEZDatabaseFreeSpaceManagerTest, GrowingPastTheSystemPagesSkipsThem) {
  ScratchDir dir;
  const std::string name = dir.Path("big.vez");
  TVEZDiskPageManager pm;
  pm.CreateAndOpenDatabase(name, {}, 4096, 8);
  TVEZDatabaseFreeSpaceManager& fsm = *pm.FreeSpaceManager();
  std::set<std::int32_t> handed_out;
  std::int32_t previous = 1;
  while (handed_out.count(129794) == 0) {
    const std::int32_t p = fsm.GetPage(-1);
    ASSERT_FALSE(fsm.IsSystemPage(p)) << p;
    ASSERT_TRUE(handed_out.insert(p).second) << p;
    // Growing past the maps at 129792 and 129793: the new map is searched
    // first.
    if (previous == 129791) {
      EXPECT_EQ(p, 129794);
    }
    previous = p;
  }
  for (std::int32_t p : {32448, 64896, 97344, 129792}) {
    std::uint8_t type[2];
    pm.ReadPageRegion(type, p, 8, 2);
    EXPECT_EQ(GetLE<std::uint16_t>(type), kPageTypePFS) << p;
  }
  std::uint8_t type[2];
  pm.ReadPageRegion(type, 129793, 8, 2);
  EXPECT_EQ(GetLE<std::uint16_t>(type), kPageTypeEAM);
}

TEST(VEZDatabaseFreeSpaceManagerTest, FreeingTheLastPageShrinksInSteps) {
  ScratchDir dir;
  const std::string name = dir.Path("s.vez");
  TVEZDiskPageManager pm;
  pm.CreateAndOpenDatabase(name, {}, 4096, 8);
  TVEZDatabaseFreeSpaceManager* fsm = pm.FreeSpaceManager();
  std::int32_t last = 0;
  while (last < 21)
    last = fsm->GetPage(-1);
  ASSERT_EQ(last, 21);
  // A file of 100 pages whose last used pages are 20 and 21.
  pm.ExtendFile(100 - pm.DBHeader().TotalPageCount);
  pm.WriteDBHeader(true);
  fsm->FreePage(21);
  // 79 pages free at the end, step 10: 70 are cut.
  EXPECT_EQ(pm.DBHeader().TotalPageCount, 30);
  EXPECT_EQ(pm.DBHeader().LastUsedPageNo, 20);
  EXPECT_EQ(ReadAll(name).size(), 380u + 30 * 4096);
  EXPECT_EQ(NativeErrorOf([&] { fsm->FreePage(21); }), 30427);
  EXPECT_EQ(NativeErrorOf([&] { fsm->FreePage(40); }), 30430);
  EXPECT_EQ(NativeErrorOf([&] {
              fsm->FreePage(19);
              fsm->FreePage(19);
            }),
            30427);
  EXPECT_EQ(pm.LockDBHeaderCount(), 0);
  // An extent whose pages were all freed is recorded as not full, not as
  // never used, and its pages come back first.
  for (std::int32_t p = 8; p < 16; ++p)
    if (p != 19) fsm->FreePage(p);
  std::uint8_t eam[1];
  pm.ReadPageRegion(eam, 1, 40, 1);
  EXPECT_EQ((eam[0] >> 2) & 3, 1);
  EXPECT_EQ(fsm->GetPage(-1), 8);
}

TEST(VEZDatabaseFreeSpaceManagerTest, WrongMapTypesRaiseAndReleaseTheLock) {
  ScratchDir dir;
  const std::string name = dir.Path("w.vez");
  TVEZDiskPageManager pm;
  pm.CreateAndOpenDatabase(name, {}, 4096, 8);
  TVEZDatabaseFreeSpaceManager* fsm = pm.FreeSpaceManager();
  const std::int32_t a = fsm->GetPage(-1);
  const std::int32_t b = fsm->GetPage(-1);
  std::uint8_t record_type[2];
  PutLE<std::uint16_t>(record_type, kPageTypeTableRecord);
  std::uint8_t saved[2];
  pm.ReadPageRegion(saved, 0, 8, 2);
  pm.WritePageRegion(record_type, 0, 8, 2);
  EXPECT_EQ(NativeErrorOf([&] { fsm->FreePage(a); }), 30424);
  EXPECT_EQ(pm.LockDBHeaderCount(), 0);
  EXPECT_FALSE(pm.DatabaseFile().IsByteLocked(360));
  pm.WritePageRegion(saved, 0, 8, 2);
  pm.ReadPageRegion(saved, 1, 8, 2);
  pm.WritePageRegion(record_type, 1, 8, 2);
  EXPECT_EQ(NativeErrorOf([&] { fsm->GetPage(-1); }), 30423);
  EXPECT_EQ(pm.LockDBHeaderCount(), 0);
  pm.WritePageRegion(saved, 1, 8, 2);
  fsm->FreePage(b);
  EXPECT_TRUE(fsm->GetPageUsageFromPFS(a));
  EXPECT_FALSE(fsm->GetPageUsageFromPFS(b));
}

TEST(VEZDatabaseFreeSpaceManagerTest, CommitReleasesPagesUnderItsOwnHeaderLock) {
  ScratchDir dir;
  const std::string name = dir.Path("c.vez");
  platform::FakeClock clock;
  platform::ScopedClock scope(clock);
  TVEZDiskPageManager pm;
  pm.CreateAndOpenDatabase(name, {}, 4096, 8);
  std::vector<std::int32_t> pages;
  for (int i = 0; i < 30; ++i) {
    TVEZPage* p = pm.AddPage(0, kPageTypeTableRecord);
    pages.push_back(p->PageNo());
    pm.PutPage(p);
  }
  pm.ApplyChanges(0);
  const std::int32_t grown = pm.DBHeader().TotalPageCount;
  for (std::int32_t p : pages)
    pm.RemovePage(0, p);
  pm.ApplyChanges(0);
  EXPECT_EQ(clock.TotalSlept(), 0u);
  EXPECT_LT(pm.DBHeader().TotalPageCount, grown);
  EXPECT_EQ(pm.DBHeader().LastUsedPageNo, -1);
  std::set<std::int32_t> none;
  CheckMaps(name, none, *pm.FreeSpaceManager());
  // A freed page carries the freed state on disk.
  for (std::int32_t p : pages) {
    if (p >= pm.DBHeader().TotalPageCount) continue;
    std::uint8_t state[4];
    pm.ReadPageRegion(state, p, 4, 4);
    EXPECT_EQ(GetLE<std::int32_t>(state), 0x7FFFFFFF);
  }
}

// Damage to the maps or the counters, and what the integrity check must say.
TEST(VEZDatabaseFreeSpaceManagerTest, IntegrityCheckFindsFreeReferencedAndLeakedPages) {
  ScratchDir dir;
  const std::string base = dir.Path("base.vez");
  std::vector<std::int32_t> pages;
  {
    TVEZDiskPageManager pm;
    pm.CreateAndOpenDatabase(base, {}, 512, 2);
    for (int i = 0; i < 9; ++i)
      pages.push_back(test::AddPageWith(pm, static_cast<std::uint8_t>(i)));
    pm.ApplyChanges(0);
  }
  const auto golden = ReadAll(base);
  // Flips the PFS bit of a page (PFS page 0 covers them all here).
  const auto flip_bit = [](TVEZDiskPageManager& pm, std::int32_t page_no) {
    std::uint8_t byte;
    const auto at = static_cast<std::uint16_t>(40 + page_no / 8);
    pm.ReadPageRegion(&byte, 0, at, 1);
    byte = static_cast<std::uint8_t>(byte ^ (1u << (page_no % 8)));
    pm.WritePageRegion(&byte, 0, at, 1);
  };
  const struct {
    const char* what;
    std::function<void(TVEZDiskPageManager&, std::vector<std::int32_t>&)> damage;
    std::function<void(const TVEZFreeSpaceReport&)> expect;
  } rows[] = {
      {"sound", [](auto&, auto&) {},
       [](const TVEZFreeSpaceReport& r) {
         EXPECT_TRUE(r.Sound());
         EXPECT_TRUE(r.Leaked.empty());
       }},
      {"a page nobody references", [&](auto&, auto& referenced) { referenced.pop_back(); },
       [&](const TVEZFreeSpaceReport& r) {
         EXPECT_TRUE(r.Sound());
         EXPECT_EQ(r.Leaked, std::vector<std::int32_t>{pages.back()});
       }},
      {"a referenced page marked free", [&](auto& pm, auto&) { flip_bit(pm, pages[3]); },
       [&](const TVEZFreeSpaceReport& r) {
         EXPECT_FALSE(r.Sound());
         EXPECT_EQ(r.FreeButReferenced, std::vector<std::int32_t>{pages[3]});
       }},
      {"a system page and a page past the end referenced",
       [](auto& pm, auto& referenced) {
         referenced.push_back(1);
         referenced.push_back(pm.DBHeader().TotalPageCount + 3);
       },
       [](const TVEZFreeSpaceReport& r) {
         EXPECT_FALSE(r.Sound());
         EXPECT_EQ(r.ReferencedOutside.size(), 2u);
       }},
      {"an EAM page marked free", [&](auto& pm, auto&) { flip_bit(pm, 1); },
       [](const TVEZFreeSpaceReport& r) {
         EXPECT_FALSE(r.Sound());
         EXPECT_EQ(r.SystemPagesFree, std::vector<std::int32_t>{1});
       }},
      {"an extent recorded full with a free page",
       [&](auto& pm, auto& referenced) {
         // The last page's bit cleared, its extent recorded as full.
         flip_bit(pm, pages.back());
         referenced.pop_back();
         std::uint8_t byte;
         const std::int32_t extent = pages.back() / 2;
         const auto at = static_cast<std::uint16_t>(40 + extent / 4);
         pm.ReadPageRegion(&byte, 1, at, 1);
         byte = static_cast<std::uint8_t>(byte | (3u << (2 * (extent % 4))));
         pm.WritePageRegion(&byte, 1, at, 1);
       },
       [](const TVEZFreeSpaceReport& r) {
         EXPECT_FALSE(r.Sound());
         EXPECT_EQ(r.FullExtentsWithFreePages, 1);
       }},
      {"the last used page behind the maps",
       [&](auto& pm, auto&) {
         pm.ReadDBHeader();
         pm.DBHeader().LastUsedPageNo = pages[2];
         pm.WriteDBHeader(true);
       },
       [](const TVEZFreeSpaceReport& r) {
         EXPECT_FALSE(r.Sound());
         EXPECT_TRUE(r.LastUsedPageBehind);
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string name = dir.Path("check.vez");
    test::WriteAll(name, golden);
    TVEZDiskPageManager pm;
    test::Open(pm, name);
    std::vector<std::int32_t> referenced = pages;
    row.damage(pm, referenced);
    const auto before = ReadAll(name);
    row.expect(pm.FreeSpaceManager()->CheckIntegrity(referenced));
    EXPECT_EQ(ReadAll(name), before);  // the check changes nothing
  }
}

}  // namespace
}  // namespace vez

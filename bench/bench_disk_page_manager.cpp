// Disk page manager throughput over a real file in $TMPDIR (default /tmp): a
// database of 20,000 pages of 4096 bytes. Reads and writes go through the
// page cache: "cached" keeps every touched page in the cache, "uncached" has
// no cache, so every read is a file read (from the system's file cache).
// Writes commit every 1000 pages; the commit figures commit one dirty page
// each at every durability level: off (no journal, no sync), normal (journal,
// no sync) and full (journal and file each synced once per commit).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchDiskFiles.h"
#include "dbengine/storage/VEZDiskPageManager.h"

namespace {

using namespace vez;

constexpr std::int32_t kSession = 1;
constexpr std::int32_t kPages = 20000;
constexpr std::int32_t kHotPages = 500;

std::string DatabasePath() {
  return bench::BenchFilePath("bench_disk_page_manager", "");
}

// One database for the whole run, built once.
struct Database {
  std::string path = DatabasePath();
  std::vector<std::int32_t> pages;
  Database() {
    TVEZDiskPageManager pm;
    pm.SetDurability(TVEZDurability::Off);
    pm.SetCacheCapacity(0);
    pm.CreateAndOpenDatabase(path, TVEZPassword{}, 4096, 8);
    for (std::int32_t i = 0; i < kPages; ++i) {
      TVEZPage* p = pm.AddPage(kSession, kPageTypeTableRecord);
      std::memset(p->PageData(), i & 0xFF, pm.PageDataSize());
      pages.push_back(p->PageNo());
      pm.PutPage(p);
      if (i % 1000 == 999) pm.ApplyChanges(kSession);
    }
    pm.ApplyChanges(kSession);
  }
  ~Database() { unlink(path.c_str()); }
};

Database& Db() {
  static Database db;
  return db;
}

void OpenFor(TVEZDiskPageManager& pm, std::int32_t cache_pages, bool multi_user) {
  bool ro = false, repair = false, mu = multi_user;
  pm.OpenDatabase(Db().path, TVEZPassword{}, ro, repair, /*exclusive=*/!multi_user, mu);
  pm.SetCacheCapacity(cache_pages);
  pm.SetDurability(TVEZDurability::Off);
}

// Opens for a read or write case: the cache holds the hot pages when cached,
// else nothing. The pages the case draws from (the hot ones, or all) are read
// once to warm the cache and the system's; returns how many they are.
std::size_t OpenWarm(TVEZDiskPageManager& pm, bool cached, bool multi_user) {
  OpenFor(pm, cached ? kHotPages * 2 : 0, multi_user);
  const auto& pages = Db().pages;
  const std::size_t span = cached ? kHotPages : pages.size();
  for (std::size_t i = 0; i < span; ++i)
    pm.PutPage(pm.GetPage(kSession, pages[i], kPageTypeTableRecord, true));
  return span;
}

void BM_ReadPage(benchmark::State& state) {
  const bool cached = state.range(0) != 0;
  const bool multi_user = state.range(1) != 0;
  TVEZDiskPageManager pm;
  const std::size_t span = OpenWarm(pm, cached, multi_user);
  const auto& pages = Db().pages;
  std::mt19937 rng(7);
  for (auto _ : state) {
    TVEZPage* p = pm.GetPage(kSession, pages[rng() % span], kPageTypeTableRecord, true);
    benchmark::DoNotOptimize(p->PageData()[0]);
    pm.PutPage(p);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadPage)
    ->ArgNames({"cached", "multi_user"})
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({0, 1});

// Pages changed and committed 1000 at a time.
void BM_WritePage(benchmark::State& state) {
  const bool cached = state.range(0) != 0;
  TVEZDiskPageManager pm;
  const std::size_t span = OpenWarm(pm, cached, false);
  const auto& pages = Db().pages;
  std::mt19937 rng(11);
  std::int64_t pending = 0;
  for (auto _ : state) {
    TVEZPage* p = pm.GetPage(kSession, pages[rng() % span], kPageTypeTableRecord, true);
    p->PageData()[0] ^= 1;
    p->SetIsDirty(true);
    pm.PutPage(p);
    if (++pending == 1000) {
      pm.ApplyChanges(kSession);
      pending = 0;
    }
  }
  pm.ApplyChanges(kSession);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WritePage)->ArgNames({"cached"})->Arg(1)->Arg(0);

void BM_CommitOneDirtyPage(benchmark::State& state) {
  static constexpr TVEZDurability kLevels[] = {TVEZDurability::Off, TVEZDurability::Normal,
                                               TVEZDurability::Full};
  TVEZDiskPageManager pm;
  OpenFor(pm, kHotPages * 2, false);
  pm.SetDurability(kLevels[state.range(0)]);
  const std::int32_t page_no = Db().pages[3];
  for (auto _ : state) {
    TVEZPage* p = pm.GetPage(kSession, page_no, kPageTypeTableRecord, true);
    p->PageData()[0] ^= 1;
    p->SetIsDirty(true);
    pm.PutPage(p);
    pm.ApplyChanges(kSession);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CommitOneDirtyPage)->ArgNames({"off0_normal1_full2"})->Arg(0)->Arg(1)->Arg(2);

}  // namespace

// B-tree throughput: inserts, point searches and range scans over 1,000,000
// Int32 keys and 200,000 40-character string keys, each beside std::multiset
// on the same keys. Pages of 4096 bytes live in an in-memory page store behind
// the page cache (1000 cached pages); inserts commit every 1000 entries.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "bench/BenchMemoryPages.h"
#include "dbengine/storage/VEZBTreeKey.h"
#include "dbengine/storage/VEZBTreePage.h"
#include "dbengine/storage/VEZPageManager.h"

namespace {

using namespace vez;

constexpr std::int32_t kSession = 1;
constexpr int kIntKeys = 1000000;
constexpr int kStringKeys = 200000;
constexpr int kScanLength = 100;

using bench::MemoryPages;

// One column: Int32 "ID" at offset 1, or Char(40) "NAME" at offset 1.
class Fields : public TVEZKeyRecordSource {
 public:
  bool HasFieldManager() const override { return true; }
  bool HasFieldDefs() const override { return true; }
  bool FindField(const std::string& name, TFieldLayout& f) const override {
    if (name == "ID") f = {0, 1, 4, bftSignedInt32};
    if (name == "NAME") f = {0, 1, 41, bftChar};
    return name == "ID" || name == "NAME";
  }
  std::int32_t GetMemoryRecordBufferSize() const override { return 48; }
  TVEZGetRecordResult ReadRecord(std::int32_t, TVEZPageItemID, std::uint8_t*) override {
    return grrError;  // keys are never truncated here
  }
};

struct Tree {
  MemoryPages pm;
  Fields fields;
  TVEZRecordKeyRef key_ref;
  std::int32_t root = -1;
  std::vector<std::uint8_t> record = std::vector<std::uint8_t>(48, 0);
  std::vector<std::uint8_t> key;

  explicit Tree(const char* column) {
    key_ref.Assign({{column, false, false, 64}}, &fields);
    key_ref.SetReferenceSize(6);
    key.resize(static_cast<std::size_t>(key_ref.ShortKeySize()));
    auto r = TVEZBTreePage::AddIndexPage(&pm, &key_ref, kSession);
    r->InitAsRoot();
    root = r->PageNo();
    r.reset();
    pm.ApplyChanges(kSession);
  }
  const std::uint8_t* KeyOf(const void* value, std::size_t size) {
    std::memset(record.data() + 1, 0, 47);
    std::memcpy(record.data() + 1, value, size);
    key_ref.MakeShortKeyFromRecordBuffer(record.data(), key.data());
    return key.data();
  }
  void Insert(const std::uint8_t* k, std::int32_t serial) {
    std::uint8_t ref[6];
    TVEZPageItemID{serial / 1000, static_cast<std::uint16_t>(serial % 1000)}.Encode(ref);
    TVEZKeyPath path;
    TVEZBTreePage::GetIndexPage(&pm, &key_ref, kSession, root)
        ->InsertLeafEntry(kSession, k, ref, path);
    if (serial % 1000 == 999) pm.ApplyChanges(kSession);
  }
  bool Find(const std::uint8_t* k, TVEZSearchCondition op, TVEZKeyPath& path) {
    path.Clear();
    return TVEZBTreePage::GetIndexPage(&pm, &key_ref, kSession, root)
        ->FindByCondition(kSession, true, k, op, path);
  }
  // Reads n entries from a position along the leaf level.
  int Scan(TVEZKeyPath& path, int n) {
    int seen = 0;
    std::int32_t page_no = path.Items[path.Count - 1].PageNo;
    std::int32_t entry = path.Items[path.Count - 1].EntryNo;
    while (page_no != -1 && seen < n) {
      auto leaf = TVEZBTreePage::GetIndexPage(&pm, &key_ref, kSession, page_no);
      for (; entry < leaf->EntryCount() && seen < n; ++entry) {
        benchmark::DoNotOptimize(leaf->GetPReference(entry)[0]);
        ++seen;
      }
      page_no = leaf->RightPageNo();
      entry = 0;
    }
    return seen;
  }
};

// The two kinds of keys: every benchmark below runs once for each.
struct Int32Keys {
  using Key = std::int32_t;
  static constexpr const char* kColumn = "ID";
  static std::vector<Key> Make() {
    std::mt19937 rng(42);
    std::vector<Key> keys(kIntKeys);
    for (auto& k : keys)
      k = static_cast<Key>(rng());
    return keys;
  }
  static const std::uint8_t* KeyOf(Tree& t, const Key& k) { return t.KeyOf(&k, 4); }
};

struct String40Keys {
  using Key = std::string;
  static constexpr const char* kColumn = "NAME";
  static std::vector<Key> Make() {
    std::mt19937 rng(43);
    std::vector<Key> keys(kStringKeys);
    for (auto& k : keys) {
      k.resize(40);
      for (auto& c : k)
        c = static_cast<char>('a' + rng() % 26);
    }
    return keys;
  }
  static const std::uint8_t* KeyOf(Tree& t, const Key& k) { return t.KeyOf(k.data(), k.size()); }
};

template <class K>
const std::vector<typename K::Key>& Keys() {
  static const auto keys = K::Make();
  return keys;
}

// A tree holding every key, built once per kind for the searches.
template <class K>
Tree& FilledTree() {
  static Tree* tree = [] {
    auto* t = new Tree(K::kColumn);
    std::int32_t serial = 0;
    for (const auto& k : Keys<K>())
      t->Insert(K::KeyOf(*t, k), serial++);
    t->pm.ApplyChanges(kSession);
    return t;
  }();
  return *tree;
}

void CountScanned(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations());
  state.counters["entries/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kScanLength, benchmark::Counter::kIsRate);
}

template <class K>
void BM_BTreeInsert(benchmark::State& state) {
  for (auto _ : state) {
    Tree t(K::kColumn);
    std::int32_t serial = 0;
    for (const auto& k : Keys<K>())
      t.Insert(K::KeyOf(t, k), serial++);
    t.pm.ApplyChanges(kSession);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(Keys<K>().size()));
}

template <class K>
void BM_MultisetInsert(benchmark::State& state) {
  for (auto _ : state) {
    std::multiset<std::pair<typename K::Key, std::int32_t>> s;
    std::int32_t serial = 0;
    for (const auto& k : Keys<K>())
      s.emplace(k, serial++);
    benchmark::DoNotOptimize(s.size());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(Keys<K>().size()));
}

template <class K>
void BM_BTreeFind(benchmark::State& state) {
  Tree& t = FilledTree<K>();
  const auto& keys = Keys<K>();
  std::size_t i = 0;
  TVEZKeyPath path;
  for (auto _ : state)
    benchmark::DoNotOptimize(t.Find(K::KeyOf(t, keys[i++ % keys.size()]), scEqual, path));
  state.SetItemsProcessed(state.iterations());
}

template <class K>
void BM_MultisetFind(benchmark::State& state) {
  const auto& keys = Keys<K>();
  std::multiset<typename K::Key> s(keys.begin(), keys.end());
  std::size_t i = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(s.find(keys[i++ % keys.size()]));
  state.SetItemsProcessed(state.iterations());
}

template <class K>
void BM_BTreeScan(benchmark::State& state) {
  Tree& t = FilledTree<K>();
  const auto& keys = Keys<K>();
  std::size_t i = 0;
  TVEZKeyPath path;
  for (auto _ : state)
    if (t.Find(K::KeyOf(t, keys[i++ % keys.size()]), scGreaterEqual, path))
      benchmark::DoNotOptimize(t.Scan(path, kScanLength));
  CountScanned(state);
}

template <class K>
void BM_MultisetScan(benchmark::State& state) {
  const auto& keys = Keys<K>();
  std::multiset<typename K::Key> s(keys.begin(), keys.end());
  std::size_t i = 0;
  for (auto _ : state) {
    auto it = s.lower_bound(keys[i++ % keys.size()]);
    for (int n = 0; n < kScanLength && it != s.end(); ++n, ++it)
      benchmark::DoNotOptimize(*it);
  }
  CountScanned(state);
}

// Each B-tree figure beside std::multiset's on the same keys.
#define VEZ_BTREE_BENCHMARKS(Kind, Suffix)                                   \
  BENCHMARK_TEMPLATE(BM_BTreeInsert, Kind)                                   \
      ->Name("BM_BTreeInsert" Suffix)                                        \
      ->Unit(benchmark::kMillisecond)                                        \
      ->Iterations(1);                                                       \
  BENCHMARK_TEMPLATE(BM_MultisetInsert, Kind)                                \
      ->Name("BM_MultisetInsert" Suffix)                                     \
      ->Unit(benchmark::kMillisecond)                                        \
      ->Iterations(1);                                                       \
  BENCHMARK_TEMPLATE(BM_BTreeFind, Kind)->Name("BM_BTreeFind" Suffix);       \
  BENCHMARK_TEMPLATE(BM_MultisetFind, Kind)->Name("BM_MultisetFind" Suffix); \
  BENCHMARK_TEMPLATE(BM_BTreeScan, Kind)->Name("BM_BTreeScan" Suffix);       \
  BENCHMARK_TEMPLATE(BM_MultisetScan, Kind)->Name("BM_MultisetScan" Suffix)

VEZ_BTREE_BENCHMARKS(Int32Keys, "Int32");
VEZ_BTREE_BENCHMARKS(String40Keys, "String40");

}  // namespace

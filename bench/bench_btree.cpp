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

#include "dbengine/storage/VEZBTreeKey.h"
#include "dbengine/storage/VEZBTreePage.h"
#include "dbengine/storage/VEZPageManager.h"

namespace {

using namespace vez;

constexpr std::int32_t kSession = 1;
constexpr int kIntKeys = 1000000;
constexpr int kStringKeys = 200000;
constexpr int kScanLength = 100;

class MemoryPages : public TVEZPageManager {
 public:
  MemoryPages() {
    SetPageSizes(4096, 40);
    SetCacheCapacity(1000);
  }
  void InternalAddPage(TVEZPage* page) override {
    page->SetPageNo(static_cast<std::int32_t>(pages_.size()));
    page->AllocPageBuffer();
    pages_.emplace_back(PageSize());
  }
  void InternalRemovePage(std::int32_t) override {}
  bool InternalReadPage(TVEZPage* page) override {
    std::memcpy(page->PageBuffer(), pages_[static_cast<std::size_t>(page->PageNo())].data(),
                PageSize());
    return true;
  }
  void InternalWritePage(TVEZPage* page) override {
    std::memcpy(pages_[static_cast<std::size_t>(page->PageNo())].data(), page->PageBuffer(),
                PageSize());
  }

 private:
  std::vector<std::vector<std::uint8_t>> pages_;
};

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

std::vector<std::int32_t> IntKeys() {
  std::mt19937 rng(42);
  std::vector<std::int32_t> keys(kIntKeys);
  for (auto& k : keys)
    k = static_cast<std::int32_t>(rng());
  return keys;
}

std::vector<std::string> StringKeys() {
  std::mt19937 rng(43);
  std::vector<std::string> keys(kStringKeys);
  for (auto& k : keys) {
    k.resize(40);
    for (auto& c : k)
      c = static_cast<char>('a' + rng() % 26);
  }
  return keys;
}

const std::vector<std::int32_t>& Ints() {
  static const auto keys = IntKeys();
  return keys;
}
const std::vector<std::string>& Strings() {
  static const auto keys = StringKeys();
  return keys;
}

Tree& IntTree() {
  static Tree* tree = [] {
    auto* t = new Tree("ID");
    std::int32_t serial = 0;
    for (std::int32_t k : Ints())
      t->Insert(t->KeyOf(&k, 4), serial++);
    t->pm.ApplyChanges(kSession);
    return t;
  }();
  return *tree;
}

Tree& StringTree() {
  static Tree* tree = [] {
    auto* t = new Tree("NAME");
    std::int32_t serial = 0;
    for (const auto& k : Strings())
      t->Insert(t->KeyOf(k.data(), k.size()), serial++);
    t->pm.ApplyChanges(kSession);
    return t;
  }();
  return *tree;
}

// ---- Int32 keys

void BM_BTreeInsertInt32(benchmark::State& state) {
  for (auto _ : state) {
    Tree t("ID");
    std::int32_t serial = 0;
    for (std::int32_t k : Ints())
      t.Insert(t.KeyOf(&k, 4), serial++);
    t.pm.ApplyChanges(kSession);
  }
  state.SetItemsProcessed(state.iterations() * kIntKeys);
}
BENCHMARK(BM_BTreeInsertInt32)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_MultisetInsertInt32(benchmark::State& state) {
  for (auto _ : state) {
    std::multiset<std::pair<std::int32_t, std::int32_t>> s;
    std::int32_t serial = 0;
    for (std::int32_t k : Ints())
      s.emplace(k, serial++);
    benchmark::DoNotOptimize(s.size());
  }
  state.SetItemsProcessed(state.iterations() * kIntKeys);
}
BENCHMARK(BM_MultisetInsertInt32)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_BTreeFindInt32(benchmark::State& state) {
  Tree& t = IntTree();
  std::size_t i = 0;
  TVEZKeyPath path;
  for (auto _ : state) {
    std::int32_t k = Ints()[i++ % kIntKeys];
    benchmark::DoNotOptimize(t.Find(t.KeyOf(&k, 4), scEqual, path));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BTreeFindInt32);

void BM_MultisetFindInt32(benchmark::State& state) {
  std::multiset<std::int32_t> s(Ints().begin(), Ints().end());
  std::size_t i = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(s.find(Ints()[i++ % kIntKeys]));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MultisetFindInt32);

void BM_BTreeScanInt32(benchmark::State& state) {
  Tree& t = IntTree();
  std::size_t i = 0;
  TVEZKeyPath path;
  for (auto _ : state) {
    std::int32_t k = Ints()[i++ % kIntKeys];
    if (t.Find(t.KeyOf(&k, 4), scGreaterEqual, path))
      benchmark::DoNotOptimize(t.Scan(path, kScanLength));
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["entries/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kScanLength, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BTreeScanInt32);

void BM_MultisetScanInt32(benchmark::State& state) {
  std::multiset<std::int32_t> s(Ints().begin(), Ints().end());
  std::size_t i = 0;
  for (auto _ : state) {
    auto it = s.lower_bound(Ints()[i++ % kIntKeys]);
    for (int n = 0; n < kScanLength && it != s.end(); ++n, ++it)
      benchmark::DoNotOptimize(*it);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["entries/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kScanLength, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MultisetScanInt32);

// ---- 40-character string keys

void BM_BTreeInsertString40(benchmark::State& state) {
  for (auto _ : state) {
    Tree t("NAME");
    std::int32_t serial = 0;
    for (const auto& k : Strings())
      t.Insert(t.KeyOf(k.data(), k.size()), serial++);
    t.pm.ApplyChanges(kSession);
  }
  state.SetItemsProcessed(state.iterations() * kStringKeys);
}
BENCHMARK(BM_BTreeInsertString40)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_MultisetInsertString40(benchmark::State& state) {
  for (auto _ : state) {
    std::multiset<std::pair<std::string, std::int32_t>> s;
    std::int32_t serial = 0;
    for (const auto& k : Strings())
      s.emplace(k, serial++);
    benchmark::DoNotOptimize(s.size());
  }
  state.SetItemsProcessed(state.iterations() * kStringKeys);
}
BENCHMARK(BM_MultisetInsertString40)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_BTreeFindString40(benchmark::State& state) {
  Tree& t = StringTree();
  std::size_t i = 0;
  TVEZKeyPath path;
  for (auto _ : state) {
    const auto& k = Strings()[i++ % kStringKeys];
    benchmark::DoNotOptimize(t.Find(t.KeyOf(k.data(), k.size()), scEqual, path));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BTreeFindString40);

void BM_MultisetFindString40(benchmark::State& state) {
  std::multiset<std::string> s(Strings().begin(), Strings().end());
  std::size_t i = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(s.find(Strings()[i++ % kStringKeys]));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MultisetFindString40);

void BM_BTreeScanString40(benchmark::State& state) {
  Tree& t = StringTree();
  std::size_t i = 0;
  TVEZKeyPath path;
  for (auto _ : state) {
    const auto& k = Strings()[i++ % kStringKeys];
    if (t.Find(t.KeyOf(k.data(), k.size()), scGreaterEqual, path))
      benchmark::DoNotOptimize(t.Scan(path, kScanLength));
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["entries/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kScanLength, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BTreeScanString40);

void BM_MultisetScanString40(benchmark::State& state) {
  std::multiset<std::string> s(Strings().begin(), Strings().end());
  std::size_t i = 0;
  for (auto _ : state) {
    auto it = s.lower_bound(Strings()[i++ % kStringKeys]);
    for (int n = 0; n < kScanLength && it != s.end(); ++n, ++it)
      benchmark::DoNotOptimize(*it);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["entries/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kScanLength, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MultisetScanString40);

}  // namespace

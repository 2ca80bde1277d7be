#include "dbengine/storage/VEZBTreePage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <tuple>

#include "dbengine/foundation/VEZException.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/BTreeTestSupport.h"
#include "tests/dbengine/storage/MemoryPageStorage.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

using test::EntryAt;
using test::Ref6;
using test::TFakeTable;
using test::TLeafEntry;
using test::TMemoryPageStorage;
using test::WalkTree;

// One record as the model sees it: (key, reference) in index order.
struct Row {
  std::optional<std::int32_t> id;
  std::string name;
  TVEZPageItemID ref;

  auto Key(bool by_name) const {
    return by_name ? std::tuple(true, 0, name)
                   : std::tuple(id.has_value(), id.value_or(0), std::string());
  }
};

struct RowLess {
  bool by_name;
  bool operator()(const Row& a, const Row& b) const {
    const auto ka = a.Key(by_name), kb = b.Key(by_name);
    if (ka != kb) return ka < kb;
    return std::tie(a.ref.PageNo, a.ref.PageItemNo) < std::tie(b.ref.PageNo, b.ref.PageItemNo);
  }
};

// A record index over one column of the fake table, with its own page cache.
class Tree {
 public:
  Tree(std::uint16_t page_size, const std::vector<TVEZKeyColumn>& columns, bool by_name,
       std::int32_t cache_capacity = 1000)
      : pm(page_size), by_name(by_name) {
    key_ref.Assign(columns, &table);
    key_ref.SetReferenceSize(6);
    auto root = TVEZBTreePage::AddIndexPage(&pm, &key_ref, kSession);
    root->InitAsRoot();
    root_no = root->PageNo();
    root.reset();
    pm.ApplyChanges(kSession);
    pm.SetCacheCapacity(cache_capacity);
  }

  static constexpr std::int32_t kSession = 1;

  std::vector<std::uint8_t> Record(const Row& r) const {
    return TFakeTable::MakeRecord(r.id.value_or(0), r.name, !r.id.has_value());
  }
  std::vector<std::uint8_t> KeyOf(const std::vector<std::uint8_t>& record) {
    std::vector<std::uint8_t> key(static_cast<std::size_t>(key_ref.ShortKeySize()));
    key_ref.MakeShortKeyFromRecordBuffer(record.data(), key.data());
    return key;
  }
  TVEZBTreePageHolder Root() {
    return TVEZBTreePage::GetIndexPage(&pm, &key_ref, kSession, root_no);
  }

  void Insert(const Row& r) {
    table.Put(r.ref, Record(r));
    const auto record = Record(r);
    const auto key = KeyOf(record);
    const auto ref = Ref6(r.ref);
    TVEZKeyPath path;
    Root()->InsertLeafEntry(kSession, key.data(), ref.data(), path);
    pm.ApplyChanges(kSession);
  }
  bool Delete(const Row& r) {
    if (!table.records.count({r.ref.PageNo, r.ref.PageItemNo})) table.Put(r.ref, Record(r));
    const auto record = Record(r);
    const auto key = KeyOf(record);
    const auto ref = Ref6(r.ref);
    TVEZKeyPath path;
    const bool found = Root()->DeleteLeafEntry(kSession, key.data(), ref.data(), path);
    pm.ApplyChanges(kSession);
    return found;
  }

  // Integrity walk plus our own shape checks, and the leaves against the model.
  void Check(const std::multiset<Row, RowLess>& model) {
    TVEZKeyPath path;
    Root()->CheckIntegrity(kSession, path);
    const auto entries = WalkTree(&pm, &key_ref, kSession, root_no, &depth);
    ASSERT_EQ(entries.size(), model.size());
    std::size_t i = 0;
    for (const Row& r : model) {
      ASSERT_EQ(entries[i].key, KeyOf(Record(r))) << "entry " << i;
      ASSERT_EQ(entries[i].ref, Ref6(r.ref)) << "entry " << i;
      ++i;
    }
    EXPECT_EQ(pm.SharedPages().Count() <= pm.CacheCapacity(), true);
  }

  TMemoryPageStorage pm;
  TFakeTable table;
  TVEZRecordKeyRef key_ref;
  std::int32_t root_no = -1;
  bool by_name;
  int depth = 0;
};

struct ModelParams {
  std::uint16_t page_size;
  bool by_name;
  int key_range;
  unsigned seed;
  std::int32_t cache_capacity = 1000;
  int percent_of_steps = 100;
};

std::string NameOf(const ModelParams& p) {
  return "page" + std::to_string(p.page_size) + (p.by_name ? "_names" : "_numbers") + "_range" +
         std::to_string(p.key_range) + "_seed" + std::to_string(p.seed) + "_cache" +
         std::to_string(p.cache_capacity) + "_steps" + std::to_string(p.percent_of_steps);
}
void PrintTo(const ModelParams& p, std::ostream* os) {
  *os << NameOf(p);
}

class BTreeModelTest : public ::testing::TestWithParam<ModelParams> {};

Row RandomRow(std::mt19937& rng, const ModelParams& p, std::int32_t serial) {
  Row r;
  if (p.by_name) {
    // Names share long prefixes so truncated keys (4 bytes) tie often.
    static const char* kStems[] = {"", "ab", "abcd", "abcde", "abcdx", "b"};
    r.name = kStems[rng() % 6];
    const int extra = static_cast<int>(rng() % 4);
    for (int i = 0; i < extra; ++i)
      r.name += static_cast<char>('a' + rng() % 3);
  } else if (rng() % 20 == 0) {
    r.id.reset();  // NULL sorts first
  } else {
    r.id = static_cast<std::int32_t>(rng() % p.key_range) - p.key_range / 2;
  }
  r.ref = {static_cast<std::int32_t>(rng() % 7) - 1, static_cast<std::uint16_t>(serial)};
  return r;
}

TEST_P(BTreeModelTest, InterleavedInsertsAndDeletesMatchMultiset) {
  const ModelParams p = GetParam();
  const std::vector<TVEZKeyColumn> columns{{p.by_name ? "NAME" : "ID", false, false, 4}};
  Tree tree(p.page_size, columns, p.by_name, p.cache_capacity);
  std::multiset<Row, RowLess> model(RowLess{p.by_name});
  std::mt19937 rng(p.seed);
  int max_depth = 0;
  std::int32_t serial = 0;
  // Grow, then shrink, then empty the tree, checking after every step.
  const int phases[][2] = {{500, 80}, {350, 30}, {0, 0}};
  for (const auto& phase : phases) {
    const int steps =
        phase[0] ? phase[0] * p.percent_of_steps / 100 : static_cast<int>(model.size());
    for (int step = 0; step < steps; ++step) {
      const bool insert = phase[0] && static_cast<int>(rng() % 100) < phase[1];
      if (insert || model.empty()) {
        if (!phase[0]) break;
        const Row r = RandomRow(rng, p, serial++);
        tree.Insert(r);
        model.insert(r);
      } else if (rng() % 10 == 0) {
        // An entry that is not there: nothing changes.
        Row r = RandomRow(rng, p, 60000);
        ASSERT_FALSE(tree.Delete(r));
      } else {
        auto it = model.begin();
        std::advance(it, static_cast<long>(rng() % model.size()));
        SCOPED_TRACE(testing::Message() << "delete at step " << step);
        ASSERT_TRUE(tree.Delete(*it));
        model.erase(it);
      }
      ASSERT_NO_FATAL_FAILURE(tree.Check(model)) << "step " << step;
      max_depth = std::max(max_depth, tree.depth);
    }
  }
  while (!model.empty()) {
    ASSERT_TRUE(tree.Delete(*model.begin()));
    model.erase(model.begin());
  }
  ASSERT_NO_FATAL_FAILURE(tree.Check(model));
  EXPECT_GE(max_depth, p.page_size <= 256 ? 3 : 2);
  // Only the empty leaf root is left.
  EXPECT_EQ(tree.depth, 1);
  EXPECT_EQ(tree.pm.stored.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Shapes, BTreeModelTest,
                         ::testing::Values(ModelParams{256, false, 40, 1, 12},
                                           ModelParams{512, false, 400, 2},
                                           ModelParams{256, true, 0, 3},
                                           ModelParams{384, false, 10, 4},
                                           // Nodes of three or four entries: single-entry
                                           // nodes and deep trees are common.
                                           ModelParams{96, false, 1000, 5, 1000, 50},
                                           ModelParams{96, false, 1000, 63, 1000, 50},
                                           ModelParams{120, true, 0, 6, 1000, 50}),
                         [](const auto& info) { return NameOf(info.param); });

// FindByCondition, first and last, for every operator against the model.
TEST(BTreeSearchTest, FindByConditionMatchesModel) {
  for (const bool by_name : {false, true}) {
    SCOPED_TRACE(by_name ? "string keys" : "integer keys");
    const ModelParams p{256, by_name, 30, 7};
    Tree tree(p.page_size, {{by_name ? "NAME" : "ID", false, false, 4}}, by_name);
    std::multiset<Row, RowLess> model(RowLess{by_name});
    std::mt19937 rng(p.seed);
    for (std::int32_t i = 0; i < 600; ++i) {
      const Row r = RandomRow(rng, p, i);
      tree.Insert(r);
      model.insert(r);
    }
    ASSERT_NO_FATAL_FAILURE(tree.Check(model));
    ASSERT_GE(tree.depth, 3);
    std::vector<Row> probes;
    for (int i = 0; i < 60; ++i)
      probes.push_back(RandomRow(rng, p, 0));
    Row below, above;
    below.id = -1000;
    above.id = 1000;
    below.name = "";
    above.name = "zzz";
    probes.push_back(below);
    probes.push_back(above);
    const TVEZSearchCondition ops[] = {scNone,    scEqual,      scLower,
                                       scGreater, scLowerEqual, scGreaterEqual};
    for (const Row& probe : probes) {
      const auto record = tree.Record(probe);
      const auto key = tree.KeyOf(record);
      const auto pk = probe.Key(by_name);
      for (const TVEZSearchCondition op : ops) {
        auto matches = [&](const Row& r) {
          const auto k = r.Key(by_name);
          switch (op) {
            case scEqual:
              return k == pk;
            case scLower:
              return k < pk;
            case scGreater:
              return k > pk;
            case scLowerEqual:
              return k <= pk;
            case scGreaterEqual:
              return k >= pk;
            default:
              return true;
          }
        };
        for (const bool first : {true, false}) {
          SCOPED_TRACE(testing::Message() << "op " << int(op) << " first " << first);
          std::optional<Row> expected;
          if (first) {
            for (const Row& r : model)
              if (matches(r)) {
                expected = r;
                break;
              }
          } else {
            for (auto it = model.rbegin(); it != model.rend(); ++it)
              if (matches(*it)) {
                expected = *it;
                break;
              }
          }
          TVEZKeyPath path;
          const bool found = tree.Root()->FindByCondition(
              Tree::kSession, first, op == scNone ? nullptr : key.data(), op, path);
          ASSERT_EQ(found, expected.has_value());
          if (found) {
            const TLeafEntry e = EntryAt(&tree.pm, &tree.key_ref, Tree::kSession, path);
            EXPECT_EQ(e.ref, Ref6(expected->ref));
            EXPECT_EQ(path.Count, tree.depth);
          }
        }
      }
    }
    // First and last positions are the ends of the model.
    TVEZKeyPath first_path, last_path;
    ASSERT_TRUE(tree.Root()->GetFirstPosition(Tree::kSession, first_path));
    ASSERT_TRUE(tree.Root()->GetLastPosition(Tree::kSession, last_path));
    EXPECT_EQ(EntryAt(&tree.pm, &tree.key_ref, Tree::kSession, first_path).ref,
              Ref6(model.begin()->ref));
    EXPECT_EQ(EntryAt(&tree.pm, &tree.key_ref, Tree::kSession, last_path).ref,
              Ref6(model.rbegin()->ref));
    EXPECT_DOUBLE_EQ(first_path.GetApproxRecNoInPercents(), 0.0);
    EXPECT_LT(last_path.GetApproxRecNoInPercents(), 1.0);
    // Each entry is found by key and reference, and its path leads back to it.
    for (const Row& r : model) {
      const auto record = tree.Record(r);
      const auto key = tree.KeyOf(record);
      const auto ref = Ref6(r.ref);
      TVEZKeyPath path;
      ASSERT_TRUE(tree.Root()->FindEntry(Tree::kSession, key.data(), ref.data(), path));
      EXPECT_EQ(EntryAt(&tree.pm, &tree.key_ref, Tree::kSession, path).ref, ref);
    }
  }
}

TEST(BTreePageTest, SplitShapeOnFileSizedPages) {
  // 4056 data bytes: a key of one Int32 column (5 bytes) gives 367 leaf
  // entries of 11 bytes; the 368th splits the leaf root into 184 + 184.
  Tree tree(4096, {{"ID", false, false, 20}}, false);
  for (std::int32_t i = 0; i < 367; ++i)
    tree.Insert({i, "", {0, static_cast<std::uint16_t>(i)}});
  {
    auto root = tree.Root();
    EXPECT_TRUE(root->IsLeaf());
    EXPECT_EQ(root->EntryCount(), 367);
    EXPECT_EQ(root->EntrySize(), 11);
  }
  tree.Insert({367, "", {0, 367}});
  auto root = tree.Root();
  EXPECT_FALSE(root->IsLeaf());
  EXPECT_TRUE(root->IsRoot());
  ASSERT_EQ(root->EntryCount(), 2);
  EXPECT_EQ(root->EntrySize(), 9);
  std::vector<std::uint8_t> zeros(5, 0);
  EXPECT_TRUE(std::equal(zeros.begin(), zeros.end(), root->GetPKey(0)));
  auto left = TVEZBTreePage::GetIndexPage(&tree.pm, &tree.key_ref, 1, root->ChildPageNo(0));
  auto right = TVEZBTreePage::GetIndexPage(&tree.pm, &tree.key_ref, 1, root->ChildPageNo(1));
  EXPECT_EQ(left->EntryCount(), 184);
  EXPECT_EQ(right->EntryCount(), 184);
  EXPECT_EQ(left->RightPageNo(), right->PageNo());
  EXPECT_EQ(right->LeftPageNo(), left->PageNo());
  EXPECT_TRUE(std::equal(right->GetPKey(0), right->GetPKey(0) + 5, root->GetPKey(1)));
}

TEST(BTreePageTest, PagesMergeWhenTheyFitExactly) {
  // 256-byte pages: 216 data bytes hold 18 leaf entries of 11 bytes exactly.
  Tree tree(256, {{"ID", false, false, 20}}, false);
  auto a = TVEZBTreePage::AddIndexPage(&tree.pm, &tree.key_ref, 1);
  auto b = TVEZBTreePage::AddIndexPage(&tree.pm, &tree.key_ref, 1);
  a->InitAsRoot();
  b->InitAsRoot();
  a->SetEntryCount(9);
  b->SetEntryCount(9);
  EXPECT_TRUE(a->Controller().CanMergePages(*b));
  b->SetEntryCount(10);
  EXPECT_FALSE(a->Controller().CanMergePages(*b));
  a->SetEntryCount(0);  // an emptied page always fits
  b->SetEntryCount(18);
  EXPECT_TRUE(a->Controller().CanMergePages(*b));
  EXPECT_FALSE(b->Controller().CanInsertEntry());
  EXPECT_FALSE(b->Controller().IsPageOverflow());
  b->SetEntryCount(9);
  EXPECT_FALSE(b->Controller().IsPageUnderflow());  // 99 bytes of 198: half
  b->SetEntryCount(8);
  EXPECT_TRUE(b->Controller().IsPageUnderflow());
  a.reset();
  b.reset();
  tree.pm.CancelChanges(1);
}

TEST(BTreePageTest, EmptyTreeAndEdgeErrors) {
  Tree tree(256, {{"ID", false, false, 20}}, false);
  TVEZKeyPath path;
  EXPECT_FALSE(tree.Root()->GetFirstPosition(1, path));
  EXPECT_EQ(path.Count, 0);
  EXPECT_FALSE(tree.Root()->FindByCondition(1, true, nullptr, scNone, path));
  std::uint8_t key[8], ref[8];
  EXPECT_EQ(NativeErrorOf([&] { tree.Root()->GetFirstEntry(1, key, ref); }), 20025);
  {
    auto root = tree.Root();
    EXPECT_EQ(NativeErrorOf([&] { root->Controller().DeleteEntryAt(0); }), 20025);
    EXPECT_EQ(NativeErrorOf([&] { root->InsertNodeEntry(1, key, ref, path); }), 20020);
    EXPECT_EQ(NativeErrorOf([&] { root->DeleteNodeEntry(1, path, true, nullptr); }), 20024);
  }
  // Deleting the only entry leaves an empty leaf root.
  tree.Insert({5, "", {1, 1}});
  EXPECT_TRUE(tree.Delete({5, "", {1, 1}}));
  EXPECT_FALSE(tree.Delete({5, "", {1, 1}}));
  path.Clear();
  EXPECT_FALSE(tree.Root()->GetFirstPosition(1, path));
}

TEST(BTreePageTest, IntegrityErrorsAreReported) {
  Tree tree(256, {{"ID", false, false, 20}}, false);
  for (std::int32_t i = 0; i < 60; ++i)
    tree.Insert({i, "", {0, static_cast<std::uint16_t>(i)}});
  auto root = tree.Root();
  ASSERT_FALSE(root->IsLeaf());
  TVEZKeyPath path;
  root->CheckIntegrity(1, path);
  // Swap two leaf keys: out of order in the leaf.
  {
    auto leaf = TVEZBTreePage::GetIndexPage(&tree.pm, &tree.key_ref, 1, root->ChildPageNo(0));
    std::vector<std::uint8_t> k0(leaf->GetPKey(0), leaf->GetPKey(0) + 5);
    leaf->UpdateKey(0, leaf->GetPKey(1));
    leaf->UpdateKey(1, k0.data());
  }
  path.Clear();
  EXPECT_EQ(NativeErrorOf([&] { root->CheckIntegrity(1, path); }), 20028);
  {
    auto leaf = TVEZBTreePage::GetIndexPage(&tree.pm, &tree.key_ref, 1, root->ChildPageNo(0));
    std::vector<std::uint8_t> k0(leaf->GetPKey(0), leaf->GetPKey(0) + 5);
    leaf->UpdateKey(0, leaf->GetPKey(1));
    leaf->UpdateKey(1, k0.data());
    // A broken sibling link to a page of the file.
    leaf->SetRightPageNo(tree.root_no);
  }
  path.Clear();
  EXPECT_EQ(NativeErrorOf([&] { root->CheckIntegrity(1, path); }), 20034);
  {
    // One past every page of the file: the page cannot be read as a tree page.
    auto leaf = TVEZBTreePage::GetIndexPage(&tree.pm, &tree.key_ref, 1, root->ChildPageNo(0));
    leaf->SetRightPageNo(12345);
  }
  path.Clear();
  EXPECT_EQ(NativeErrorOf([&] { root->CheckIntegrity(1, path); }), kErrorCorruptIndexPage);
  tree.pm.CancelChanges(1);
}

TEST(BTreePageTest, FreeAllPagesKeepsOrDropsTheRoot) {
  Tree tree(256, {{"ID", false, false, 20}}, false);
  for (std::int32_t i = 0; i < 200; ++i)
    tree.Insert({i, "", {0, static_cast<std::uint16_t>(i)}});
  ASSERT_GT(tree.pm.stored.size(), 10u);
  tree.Root()->FreeAllPages(1, true);
  tree.pm.ApplyChanges(1);
  EXPECT_EQ(tree.pm.stored.size(), 1u);
  EXPECT_EQ(tree.pm.stored.count(tree.root_no), 1u);
  {
    auto root = tree.Root();
    root->InitAsRoot();
  }
  tree.pm.ApplyChanges(1);
  tree.Insert({1, "", {0, 1}});
  tree.Root()->FreeAllPages(1, false);
  tree.pm.ApplyChanges(1);
  EXPECT_TRUE(tree.pm.stored.empty());
}

TEST(BTreePageTest, MissingRecordForFullKeyIsAnError) {
  Tree tree(256, {{"NAME", false, false, 4}}, true);
  for (std::int32_t i = 0; i < 40; ++i)
    tree.Insert({std::nullopt, "abcd" + std::to_string(i), {0, static_cast<std::uint16_t>(i)}});
  const auto before = tree.pm.stored;
  // A record the index needs for a full-key comparison has gone: the insert
  // fails part-way; cancelling restores the stored tree.
  tree.table.records.clear();
  Row r{std::nullopt, "abcd77", {0, 99}};
  const auto record = tree.Record(r);
  const auto key = tree.KeyOf(record);
  const auto ref = Ref6(r.ref);
  TVEZKeyPath path;
  EXPECT_EQ(NativeErrorOf([&] { tree.Root()->InsertLeafEntry(1, key.data(), ref.data(), path); }),
            20170);
  tree.pm.CancelChanges(1);
  EXPECT_EQ(tree.pm.stored, before);
}

TEST(BTreePageTest, SplitFailingMidwayIsCancelledNotHalfApplied) {
  Tree tree(256, {{"ID", false, false, 20}}, false, 1);
  std::multiset<Row, RowLess> model(RowLess{false});
  std::uint16_t serial = 0;
  auto add = [&](std::int32_t k) {
    const Row r{k, "", {0, serial++}};
    tree.Insert(r);
    model.insert(r);
  };
  for (std::int32_t k = 0; k < 200; k += 2)
    add(k);  // leaves of 9 or 10 entries
  for (std::int32_t k = 1; k <= 17; k += 2)
    add(k);  // the first leaf is now full
  ASSERT_NO_FATAL_FAILURE(tree.Check(model));
  std::int32_t first_leaf, second_leaf;
  {
    auto root = tree.Root();
    ASSERT_FALSE(root->IsLeaf());
    first_leaf = root->ChildPageNo(0);
    second_leaf = root->ChildPageNo(1);
    auto leaf = TVEZBTreePage::GetIndexPage(&tree.pm, &tree.key_ref, 1, first_leaf);
    ASSERT_EQ(leaf->EntryCount(), 18);
  }
  const auto before = tree.pm.stored;
  // The split of the first leaf must relink its right neighbour, whose read fails.
  tree.pm.fail_read_page = second_leaf;
  const Row r{15, "", {0, serial++}};
  const auto record = tree.Record(r);
  const auto key = tree.KeyOf(record);
  const auto ref = Ref6(r.ref);
  TVEZKeyPath path;
  EXPECT_EQ(NativeErrorOf([&] { tree.Root()->InsertLeafEntry(1, key.data(), ref.data(), path); }),
            20299);
  ASSERT_NE(tree.pm.SessionDirtyPages(1), nullptr);
  EXPECT_GT(tree.pm.SessionDirtyPages(1)->Count(), 0);  // changed pages wait for the caller
  tree.pm.CancelChanges(1);
  EXPECT_EQ(tree.pm.stored, before);
  tree.pm.fail_read_page = -2;
  ASSERT_NO_FATAL_FAILURE(tree.Check(model));
  tree.Insert(r);
  model.insert(r);
  ASSERT_NO_FATAL_FAILURE(tree.Check(model));
}

}  // namespace
}  // namespace vez

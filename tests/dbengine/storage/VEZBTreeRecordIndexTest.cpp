// The B-tree record index through the table data and the test local cursor,
// against a std::multimap-like model: random inserts, deletes and key-moving
// updates with many duplicates and NULLs on small pages; walks, seeks for
// every condition, ranges, record numbers, index builds over stored rows,
// scans across changes of the tree, and the record bitmap against a set.
#include "dbengine/storage/VEZBTreeRecordIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <tuple>

#include "dbengine/storage/VEZRecordBitmap.h"
#include "dbengine/storage/VEZScanSearchCondition.h"
#include "tests/common/NativeError.h"
#include "tests/common/VEZTestLocalCursor.h"
#include "tests/dbengine/storage/TableTestSupport.h"

namespace vez::test {
namespace {

struct ModelRow {
  std::int32_t id;
  std::optional<std::int32_t> val;
  std::optional<std::string> name;
};

// Index order: VAL (NULL first), NAME (NULL first), then the record's slot.
using ModelKey = std::tuple<bool, std::int32_t, bool, std::string, std::int32_t>;
ModelKey KeyOf(const ModelRow& r, std::int32_t slot) {
  return {r.val.has_value(), r.val.value_or(0), r.name.has_value(), r.name.value_or(""), slot};
}

// -1, 0, 1 of a VAL against a bound (NULL below every value).
int CompareVal(const std::optional<std::int32_t>& v, std::int32_t bound) {
  if (!v) return -1;
  return (*v > bound) - (*v < bound);
}

bool Satisfies(int c, TVEZSearchCondition op) {
  switch (op) {
    case scEqual:
      return c == 0;
    case scLower:
      return c < 0;
    case scGreater:
      return c > 0;
    case scLowerEqual:
      return c <= 0;
    case scGreaterEqual:
      return c >= 0;
    default:
      return false;
  }
}

class RecordIndexTest : public ::testing::Test {
 protected:
  void SetUp() override { Build(512); }

  // ID Integer, VAL Integer, NAME String(12); index BY_VAL_NAME on (VAL, NAME)
  // keeping 4 characters of NAME in its keys.
  void Build(std::uint16_t page_size) {
    session_.SessionID = 1;
    cursor_ = std::make_unique<TTestLocalCursor>();
    cursor_->Session = &session_;
    cursor_->TableName = "T";
    TTableCursor maker;
    maker.TableName = "T";
    maker.Session = &session_;
    table_ = static_cast<TTestTableData*>(db_.FindOrCreateTableData(maker));
    table_->UseBTreeIndexes(page_size);
    TVEZFieldDefs fields;
    AddField(fields, "ID", aftInteger);
    AddField(fields, "VAL", aftInteger);
    AddField(fields, "NAME", aftString, 12);
    TVEZIndexDefs indexes;
    TVEZIndexDef* def = AddIndexDef(indexes, "BY_VAL_NAME", {"VAL", "NAME"});
    def->GetIndexColumn(1)->MaxIndexedSize = 4;
    TVEZConstraintDefs constraints;
    table_->CreateTable(nullptr, fields, indexes, constraints);
    cursor_->Open(*table_);
    index_id_ = table_->IndexManager()->IndexDefs().GetDef(0)->ObjectID;
  }
  TVEZBTreeRecordIndex& Index(std::int32_t id = -1) {
    return static_cast<TVEZBTreeRecordIndex&>(
        *table_->IndexManager()->OpenIndex(id == -1 ? index_id_ : id));
  }

  void Fill(const ModelRow& r) {
    TTestLocalCursor& c = *cursor_;
    TVEZVariant v(bftSignedInt32);
    v.SetAsInteger(r.id);
    c.SetFieldValue(v, 0, true);
    TVEZVariant val(bftSignedInt32);
    if (r.val) val.SetAsInteger(*r.val);
    c.SetFieldValue(val, 1, true);
    TVEZVariant name(bftVarchar);
    if (r.name) name.SetAsAnsiString(*r.name);
    c.SetFieldValue(name, 2, true);
    c.ClearStringFieldsGarbage(c.CurrentRecordBuffer);
  }
  void Insert(const ModelRow& r) {
    cursor_->NewRecord();
    Fill(r);
    cursor_->InternalPost(true);
    ASSERT_EQ(cursor_->ErrorCode, cecOK);
    model_[cursor_->CurrentRecordID.PageNo] = r;
  }
  void ReadSlot(std::int32_t slot) {
    cursor_->IndexID = -1;
    cursor_->FirstPosition = cursor_->LastPosition = false;
    cursor_->CurrentRecordID = {slot, 0};
    ASSERT_EQ(cursor_->GetRecordBuffer(grmCurrent), grrOK);
  }
  void Delete(std::int32_t slot) {
    ReadSlot(slot);
    cursor_->InternalDelete();
    ASSERT_EQ(cursor_->ErrorCode, cecOK);
    model_.erase(slot);
  }
  void Update(std::int32_t slot, const ModelRow& r) {
    ReadSlot(slot);
    cursor_->BeginEdit();
    Fill(r);
    cursor_->InternalPost(false);
    ASSERT_EQ(cursor_->ErrorCode, cecOK);
    model_[slot] = r;
  }

  ModelRow RandomRow(std::mt19937& rng) {
    ModelRow r{next_id_++, std::nullopt, std::nullopt};
    if (rng() % 10 != 0) r.val = static_cast<std::int32_t>(rng() % 16);
    if (rng() % 10 != 0) {
      // Long shared prefixes: the keys keep 4 characters, the rest is
      // decided on the stored records.
      static const char* kNames[] = {"abcdefg", "abcdxyz", "abcd", "abc", "b", "abcdefh"};
      r.name = kNames[rng() % 6];
    }
    return r;
  }

  // Record ids (slots) in index order by the model.
  std::vector<std::int32_t> ModelOrder() const {
    std::vector<std::pair<ModelKey, std::int32_t>> keys;
    for (const auto& [slot, r] : model_)
      keys.emplace_back(KeyOf(r, slot), slot);
    std::sort(keys.begin(), keys.end());
    std::vector<std::int32_t> slots;
    for (const auto& k : keys)
      slots.push_back(k.second);
    return slots;
  }
  std::vector<std::int32_t> WalkIndex(std::int32_t index_id, bool forward) {
    cursor_->IndexID = index_id;
    cursor_->FirstPosition = forward;
    cursor_->LastPosition = !forward;
    std::vector<std::int32_t> slots;
    while (cursor_->GetRecordBuffer(forward ? grmNext : grmPrior) == grrOK)
      slots.push_back(cursor_->CurrentRecordID.PageNo);
    return slots;
  }
  // Every record a scan from restart delivers.
  std::vector<std::int32_t> Scan(const TVEZScanSearchCondition* start,
                                 const TVEZScanSearchCondition* end, bool forward) {
    TVEZBTreeRecordIndex& index = Index();
    std::unique_ptr<TVEZIndexSearchInfo> info = index.CreateSearchInfo();
    Bytes record(static_cast<std::size_t>(cursor_->RecordBufferSize));
    std::vector<std::int32_t> slots;
    TVEZPageItemID id;
    bool restart = true;
    while (index.FindRecord(1, restart, forward, start, end, record.data(), id, info.get())) {
      slots.push_back(id.PageNo);
      restart = false;
    }
    return slots;
  }
  // A condition on VAL (one key field) with value bound.
  std::unique_ptr<TVEZScanSearchCondition> Condition(TVEZSearchCondition op, std::int32_t bound) {
    auto c = std::make_unique<TVEZScanSearchCondition>();
    c->Condition = op;
    c->KeyRecordBufferSize = cursor_->RecordBufferSize;
    c->KeyRecordBuffer = cursor_->AllocateRecordBuffer();
    cursor_->InternalInitRecord(c->KeyRecordBuffer, false);
    TVEZVariant v(bftSignedInt32);
    v.SetAsInteger(bound);
    cursor_->SetFieldValue(v, 1, true, c->KeyRecordBuffer);
    c->KeyFieldCount = 1;
    c->IndexID = index_id_;
    return c;
  }
  void CheckTree() {
    TVEZBTreeRecordIndex& index = Index();
    TVEZKeyPath path;
    TVEZBTreePage::GetIndexPage(table_->PageManager(), &index.KeyRef(), 1,
                                index.IndexDef()->RootPageNo)
        ->CheckIntegrity(1, path);
  }

  TestSession session_;
  TTestDatabaseData db_;
  std::unique_ptr<TTestLocalCursor> cursor_;
  TTestTableData* table_ = nullptr;
  std::int32_t index_id_ = -1;
  std::map<std::int32_t, ModelRow> model_;  // slot -> row
  std::int32_t next_id_ = 1;
};

TEST_F(RecordIndexTest, RandomChangesAgainstTheModel) {
  std::mt19937 rng(2024);
  for (int step = 1; step <= 1500; ++step) {
    const unsigned op = rng() % 10;
    if (op < 5 || model_.size() < 5) {
      Insert(RandomRow(rng));
    } else {
      auto it = model_.begin();
      std::advance(it, rng() % model_.size());
      if (op < 8) {
        ModelRow moved = RandomRow(rng);
        moved.id = it->second.id;
        Update(it->first, moved);
      } else {
        Delete(it->first);
      }
    }
    if (step % 250 != 0) continue;
    SCOPED_TRACE(step);
    CheckTree();
    const std::vector<std::int32_t> order = ModelOrder();
    ASSERT_EQ(WalkIndex(index_id_, true), order);
    ASSERT_EQ(WalkIndex(index_id_, false), std::vector<std::int32_t>(order.rbegin(), order.rend()));
    // Record numbers both ways.
    TVEZBTreeRecordIndex& index = Index();
    for (std::size_t n = 0; n < order.size(); n += 1 + order.size() / 17) {
      const TVEZPageItemID id{order[n], 0};
      ASSERT_EQ(index.GetRecordIDByRecNo(1, static_cast<std::int64_t>(n + 1)), id);
      ReadSlot(order[n]);
      ASSERT_EQ(index.GetRecNoByRecordID(1, id, cursor_->CurrentRecordBuffer),
                static_cast<std::int64_t>(n + 1));
    }
    EXPECT_EQ(NativeErrorOf([&] { index.GetRecordIDByRecNo(1, 0); }), 20075);
    EXPECT_EQ(NativeErrorOf([&] {
                index.GetRecordIDByRecNo(1, static_cast<std::int64_t>(order.size()) + 1);
              }),
              20075);
    // Seeks for every operator, both directions, and ranges.
    for (TVEZSearchCondition op : {scEqual, scLower, scGreater, scLowerEqual, scGreaterEqual}) {
      for (std::int32_t bound : {-1, 0, 7, 15, 16}) {
        SCOPED_TRACE(testing::Message() << "op " << int(op) << " bound " << bound);
        std::vector<std::int32_t> expected;
        for (std::int32_t slot : order)
          if (Satisfies(CompareVal(model_[slot].val, bound), op)) expected.push_back(slot);
        auto c = Condition(op, bound);
        EXPECT_EQ(Scan(c.get(), nullptr, true), expected);
        EXPECT_EQ(Scan(c.get(), nullptr, false),
                  std::vector<std::int32_t>(expected.rbegin(), expected.rend()));
      }
    }
    for (auto [low, high] : {std::pair{3, 9}, std::pair{5, 5}, std::pair{9, 3}}) {
      SCOPED_TRACE(testing::Message() << "range " << low << ".." << high);
      auto start = Condition(scGreaterEqual, low);
      auto end = Condition(scLowerEqual, high);
      std::vector<std::int32_t> expected;
      for (std::int32_t slot : order) {
        const auto& v = model_[slot].val;
        if (v && *v >= low && *v <= high) expected.push_back(slot);
      }
      EXPECT_EQ(Scan(start.get(), end.get(), true), expected);
      const std::int64_t estimate = index.GetApproxRangeRecordCount(
          1, static_cast<std::int64_t>(order.size()), start.get(), end.get());
      EXPECT_GE(estimate, 0);
      EXPECT_LE(estimate, static_cast<std::int64_t>(order.size()));
    }
  }
}

TEST_F(RecordIndexTest, IndexBuiltOverStoredRowsEqualsOneKeptRowByRow) {
  std::mt19937 rng(77);
  for (int i = 0; i < 600; ++i)
    Insert(RandomRow(rng));
  for (int i = 0; i < 100; ++i)
    Delete(std::next(model_.begin(), rng() % model_.size())->first);
  for (bool with_services : {true, false}) {
    SCOPED_TRACE(with_services);
    TTestSessionLayerServices services;
    std::optional<TScopedSessionLayerServices> scoped;
    if (with_services) scoped.emplace(&services);
    TVEZIndexDef def;
    def.Name = with_services ? "AGAIN1" : "AGAIN2";
    def.AssignByNames({"VAL", "NAME"}, {"", ""}, {"", ""});
    def.GetIndexColumn(1)->MaxIndexedSize = 4;
    cursor_->AddIndex(def);
    EXPECT_EQ(services.cursors_made, with_services ? 1 : 0);
    // The build's own cursor has left the table again.
    EXPECT_EQ(table_->CursorList().size(), 1u);
    EXPECT_EQ(WalkIndex(def.ObjectID, true), WalkIndex(index_id_, true));
    EXPECT_EQ(WalkIndex(def.ObjectID, true), ModelOrder());
  }
}

TEST_F(RecordIndexTest, ScanFindsItsPlaceAgainAfterTheTreeChanges) {
  std::mt19937 rng(5);
  for (int i = 0; i < 200; ++i)
    Insert({next_id_++, static_cast<std::int32_t>(i % 10), "abcdefg"});
  TVEZBTreeRecordIndex& index = Index();
  auto start = Condition(scGreaterEqual, 3);
  std::unique_ptr<TVEZIndexSearchInfo> info = index.CreateSearchInfo();
  Bytes record(static_cast<std::size_t>(cursor_->RecordBufferSize));
  TVEZPageItemID id;
  std::vector<std::int32_t> seen;
  bool restart = true;
  for (int i = 0; i < 30; ++i) {
    ASSERT_TRUE(
        index.FindRecord(1, restart, true, start.get(), nullptr, record.data(), id, info.get()));
    seen.push_back(id.PageNo);
    restart = false;
  }
  // Many inserts split pages under the scan; the record it stood on goes.
  for (int i = 0; i < 400; ++i)
    Insert({next_id_++, static_cast<std::int32_t>(rng() % 10), "abcdefg"});
  Delete(seen.back());
  // The rest of the scan: every entry after the last one returned, in the
  // tree as it is now.
  const std::vector<std::int32_t> order = ModelOrder();
  const std::int32_t last_slot = seen.back();
  const std::int32_t last_val = last_slot % 10;  // the first 200 slots hold i % 10
  ASSERT_GE(last_val, 3);
  std::vector<std::int32_t> expected;
  for (std::int32_t slot : order) {
    const auto& v = model_[slot].val;
    if (!v || *v < 3) continue;
    if (std::pair{*v, slot} > std::pair{last_val, last_slot}) expected.push_back(slot);
  }
  std::vector<std::int32_t> rest;
  while (index.FindRecord(1, false, true, start.get(), nullptr, record.data(), id, info.get()))
    rest.push_back(id.PageNo);
  EXPECT_EQ(rest, expected);
}

TEST_F(RecordIndexTest, NavigationEnds) {
  cursor_->IndexID = index_id_;
  cursor_->FirstPosition = true;
  EXPECT_EQ(cursor_->GetRecordBuffer(grmNext), grrEOF);  // empty table
  Insert({1, 5, "a"});
  Insert({2, 3, "b"});
  cursor_->IndexID = index_id_;
  cursor_->FirstPosition = true;
  cursor_->LastPosition = false;
  ASSERT_EQ(cursor_->GetRecordBuffer(grmNext), grrOK);
  EXPECT_EQ(cursor_->CurrentRecordID.PageNo, 1);
  ASSERT_EQ(cursor_->GetRecordBuffer(grmNext), grrOK);
  EXPECT_EQ(cursor_->GetRecordBuffer(grmNext), grrEOF);
  EXPECT_TRUE(cursor_->LastPosition);
  ASSERT_EQ(cursor_->GetRecordBuffer(grmPrior), grrOK);
  EXPECT_EQ(cursor_->CurrentRecordID.PageNo, 0);
  ASSERT_EQ(cursor_->GetRecordBuffer(grmPrior), grrOK);
  EXPECT_EQ(cursor_->GetRecordBuffer(grmPrior), grrBOF);
  EXPECT_TRUE(cursor_->FirstPosition);
  TVEZNavigationInfo info;
  info.GetRecordMode = grmCurrent;
  EXPECT_EQ(NativeErrorOf([&] { Index().GetRecordBuffer(1, info, nullptr, 0); }), 20053);
  // A record that left the index under the cursor: the closest one is read.
  cursor_->FirstPosition = true;
  cursor_->LastPosition = false;
  ASSERT_EQ(cursor_->GetRecordBuffer(grmNext), grrOK);  // slot 1 (VAL 3)
  TTestLocalCursor other;
  other.Session = &session_;
  other.Open(*table_);
  other.NewRecord();
  other.CurrentRecordID = {1, 0};
  ASSERT_EQ(other.GetRecordBuffer(grmCurrent), grrOK);
  other.InternalDelete();
  ASSERT_EQ(cursor_->GetRecordBuffer(grmNext), grrOK);
  EXPECT_EQ(cursor_->CurrentRecordID.PageNo, 0);
}

TEST_F(RecordIndexTest, UniqueIndexComparesTruncatedValuesWhole) {
  Insert({1, 1, "abcdefg"});
  TVEZIndexDef def;
  def.Name = "U_NAME";
  def.Unique = true;
  def.AssignByNames({"NAME"}, {""}, {""});
  def.GetIndexColumn(0)->MaxIndexedSize = 4;
  cursor_->AddIndex(def);
  TVEZIndex& unique = *table_->IndexManager()->OpenIndex(def.ObjectID);
  cursor_->NewRecord();
  Fill({2, 1, "abcdefh"});
  EXPECT_TRUE(unique.CanInsertRecord(1, cursor_->CurrentRecordBuffer));
  Fill({2, 1, "abcdefg"});
  EXPECT_FALSE(unique.CanInsertRecord(1, cursor_->CurrentRecordBuffer));
  // Through the table data's key check: the implied constraint refuses it.
  EXPECT_EQ(NativeErrorOf([&] { cursor_->InternalPost(true); }), 30320);
  EXPECT_FALSE(cursor_->CheckConstraints(true));
}

TEST_F(RecordIndexTest, ConditionsPairOnlyALowerWithAnUpperBound) {
  TVEZBTreeRecordIndex& index = Index();
  struct Case {
    TVEZSearchCondition a, b;
    std::int32_t order;
  };
  const Case cases[] = {
      {scGreater, scLower, -1},       {scGreaterEqual, scLowerEqual, -1},
      {scLowerEqual, scGreater, 1},   {scLower, scGreaterEqual, 1},
      {scGreater, scGreaterEqual, 0}, {scLower, scLowerEqual, 0},
      {scEqual, scLower, 0},          {scGreater, scEqual, 0},
      {scNone, scLower, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.a) << " " << int(c.b));
    auto a = Condition(c.a, 1);
    auto b = Condition(c.b, 1);
    EXPECT_EQ(index.CompareConditions(*a, *b), c.order);
  }
}

TEST_F(RecordIndexTest, RecordNumbersOverThreeLeaves) {
  for (int i = 0; i < 60; ++i)
    Insert({next_id_++, i, "n"});
  TVEZBTreeRecordIndex& index = Index();
  // Walk the leaves, summing their counts: rec no k is the k-th slot.
  for (std::int64_t n : {1, 21, 60}) {
    const TVEZPageItemID id = index.GetRecordIDByRecNo(1, n);
    EXPECT_EQ(id.PageNo, n - 1);
    ReadSlot(id.PageNo);
    EXPECT_EQ(index.GetRecNoByRecordID(1, id, cursor_->CurrentRecordBuffer), n);
  }
  EXPECT_EQ(NativeErrorOf([&] { index.GetRecordIDByRecNo(1, 61); }), 20075);
  index.EmptyIndex(1);
  EXPECT_EQ(NativeErrorOf([&] { index.GetRecordIDByRecNo(1, 1); }), 20074);
}

TEST(RecordBitmap, AgainstASet) {
  TTestDatabaseData db;
  TTableCursor maker;
  maker.TableName = "B";
  TVEZTableData* table = db.FindOrCreateTableData(maker);
  EXPECT_EQ(NativeErrorOf([] { TVEZRecordBitmap none(nullptr); }), 10425);
  TVEZRecordBitmap bitmap(table);
  std::set<std::int32_t> model;
  std::mt19937 rng(9);
  for (int step = 0; step < 3000; ++step) {
    const auto slot = static_cast<std::int32_t>(rng() % 700);
    if (rng() % 3 != 0) {
      bitmap.ShowRecord(TVEZPageItemID{slot, 0});
      model.insert(slot);
    } else {
      bitmap.HideRecord(TVEZPageItemID{slot, 0});
      model.erase(slot);
    }
    if (step % 300 != 0) continue;
    ASSERT_EQ(bitmap.GetRecordCount(), static_cast<std::int64_t>(model.size()));
    std::int64_t rank = 0;
    for (std::int32_t s : model) {
      ++rank;
      ASSERT_EQ(bitmap.GetRecNoByRecordID({s, 0}), rank);
      ASSERT_EQ(bitmap.GetRecordIDByRecNo(rank).PageNo, s);
    }
    EXPECT_EQ(bitmap.GetRecNoByRecordID({100000, 0}), -1);
    // Next and prior visible records from a few places.
    for (std::int32_t from : {0, 1, 350, 699}) {
      TVEZPageItemID found;
      auto next = model.upper_bound(from);
      EXPECT_EQ(bitmap.FindRecord(false, true, {from, 0}, found), next != model.end());
      if (next != model.end()) {
        EXPECT_EQ(found.PageNo, *next);
      }
      auto prior = model.lower_bound(from);
      const bool has_prior = prior != model.begin();
      EXPECT_EQ(bitmap.FindRecord(false, false, {from, 0}, found), has_prior);
      if (has_prior) {
        EXPECT_EQ(found.PageNo, *std::prev(prior));
      }
    }
    TVEZPageItemID first;
    ASSERT_TRUE(bitmap.FindRecord(true, true, {}, first));
    EXPECT_EQ(first.PageNo, *model.begin());
    ASSERT_TRUE(bitmap.FindRecord(true, false, {}, first));
    EXPECT_EQ(first.PageNo, *model.rbegin());
  }
  // An index-based bitmap is only cleared by record ids.
  bitmap.IndexBased = true;
  bitmap.Active = true;
  bitmap.ShowRecord(TVEZPageItemID{1, 0});
  EXPECT_FALSE(bitmap.Active);
  EXPECT_EQ(bitmap.Size(), 0);
}

TEST(RecordBitmap, BitsBeyondInt32MakeItUnusableInsteadOfWrong) {
  // A physical numbering whose record numbers pass 2^31.
  class FarTable : public TTestTableData {
   public:
    using TTestTableData::TTestTableData;
    std::int64_t RecordIDToApproximateRecNo(TVEZPageItemID id) override {
      return static_cast<std::int64_t>(id.PageNo) * 4;
    }
  };
  TTestDatabaseData db;
  FarTable table(&db);
  TVEZRecordBitmap bitmap(&table);
  bitmap.ShowRecord(TVEZPageItemID{5, 0});
  EXPECT_EQ(bitmap.GetRecordCount(), 1);
  EXPECT_FALSE(bitmap.Unusable());
  bitmap.HideRecord(TVEZPageItemID{1 << 30, 0});  // nothing to hide there
  EXPECT_FALSE(bitmap.Unusable());
  bitmap.ShowRecord(TVEZPageItemID{1 << 30, 0});
  EXPECT_TRUE(bitmap.Unusable());
  EXPECT_FALSE(bitmap.Active);
  EXPECT_EQ(bitmap.Size(), 0);
  bitmap.Clear();
  EXPECT_FALSE(bitmap.Unusable());
  EXPECT_THROW(bitmap.SetSize(TVEZRecordBitmap::kMaxBitmapBits + 1), platform::EIntOverflow);
}

}  // namespace
}  // namespace vez::test

namespace vez::test {
namespace {

TEST_F(RecordIndexTest, TemporaryIndexIsBuiltAndRebuiltAfterChanges) {
  Insert({1, 2, "b"});
  Insert({2, 1, "a"});
  Insert({3, 3, "c"});
  bool created = false;
  const std::string name = cursor_->FindOrCreateIndex({"NAME"}, {""}, {""}, created);
  ASSERT_TRUE(created);
  const TVEZIndexDef* def = table_->IndexManager()->IndexDefs().GetIndexDefByName(name);
  ASSERT_NE(def, nullptr);
  const std::int32_t id = def->ObjectID;
  EXPECT_EQ(WalkIndex(id, true), (std::vector<std::int32_t>{1, 0, 2}));
  // The table changes: a rollback of the session brings the index back in
  // step with the records (here: rebuilt from them).
  Insert({4, 0, "0"});
  db_.Rollback(session_.SessionID);
  EXPECT_EQ(def->TableState, table_->RecordManager()->TableState);
  EXPECT_EQ(WalkIndex(id, true), (std::vector<std::int32_t>{3, 1, 0, 2}));
  // Closed and opened again from its def, it finds the rebuilt tree.
  table_->IndexManager()->CloseIndex(id);
  EXPECT_EQ(WalkIndex(id, true), (std::vector<std::int32_t>{3, 1, 0, 2}));
  CheckTree();
}

TEST_F(RecordIndexTest, DistinctKeepsTheFirstVisibleRecordOfEachKey) {
  Insert({1, 1, "a"});
  Insert({2, 1, "b"});
  Insert({3, 2, "c"});
  Insert({4, 2, "c"});
  TVEZBTreeRecordIndex& index = Index();
  TVEZRecordBitmap bitmap(table_);
  bitmap.IndexBased = true;
  // Show every entry, by its position in the index.
  TVEZKeyPath path;
  for (std::int32_t slot = 0; slot < 4; ++slot) {
    ReadSlot(slot);
    ASSERT_TRUE(index.GetIndexPosition(1, {slot, 0}, cursor_->CurrentRecordBuffer, path));
    bitmap.ShowRecord(index_id_, path);
  }
  ASSERT_EQ(bitmap.GetRecordCount(), 4);
  index.ApplyDistinctToRecordBitmap(1, bitmap, 1);  // distinct on VAL
  EXPECT_EQ(bitmap.GetRecordCount(), 2);
  const auto visible = [&](std::int32_t slot) {
    ReadSlot(slot);
    EXPECT_TRUE(index.GetIndexPosition(1, {slot, 0}, cursor_->CurrentRecordBuffer, path));
    return bitmap.IsRecordVisible(index_id_, path);
  };
  EXPECT_TRUE(visible(0));
  EXPECT_FALSE(visible(1));
  EXPECT_TRUE(visible(2));
  EXPECT_FALSE(visible(3));
  // On both columns (VAL, NAME) only the true duplicate goes.
  for (std::int32_t slot = 0; slot < 4; ++slot) {
    ReadSlot(slot);
    ASSERT_TRUE(index.GetIndexPosition(1, {slot, 0}, cursor_->CurrentRecordBuffer, path));
    bitmap.ShowRecord(index_id_, path);
  }
  index.ApplyDistinctToRecordBitmap(1, bitmap, 2);
  EXPECT_EQ(bitmap.GetRecordCount(), 3);
  EXPECT_FALSE(visible(3));
  // The key ref compares whole keys again afterwards.
  EXPECT_EQ(index.KeyRef().CompareFieldCount(), index.KeyRef().PartCount());
}

TEST_F(RecordIndexTest, ScanFromTheCurrentRecord) {
  for (std::int32_t i = 0; i < 9; ++i)
    Insert({i + 1, i + 1, "n"});  // slot i holds VAL i + 1
  TVEZBTreeRecordIndex& index = Index();
  auto start = Condition(scGreaterEqual, 5);
  for (auto [current, expected_first] : {std::pair{1, 4}, std::pair{6, 7}}) {
    SCOPED_TRACE(current);
    // Not restarted: the scan starts after the cursor's record, or at the
    // first match when the cursor stands before the range.
    ReadSlot(current);
    std::unique_ptr<TVEZIndexSearchInfo> info = index.CreateSearchInfo();
    TVEZPageItemID id{current, 0};
    ASSERT_TRUE(index.FindRecord(1, false, true, start.get(), nullptr, cursor_->CurrentRecordBuffer,
                                 id, info.get()));
    EXPECT_EQ(id.PageNo, expected_first);
  }
  std::unique_ptr<TVEZIndexSearchInfo> info = index.CreateSearchInfo();
  TVEZPageItemID id;
  Bytes record(static_cast<std::size_t>(cursor_->RecordBufferSize));
  ASSERT_TRUE(index.FindRecord(1, true, true, start.get(), nullptr, record.data(), id, info.get()));
  EXPECT_EQ(NativeErrorOf([&] {
              index.FindRecord(1, true, true, start.get(), nullptr, record.data(), id, info.get());
            }),
            20078);
  EXPECT_EQ(NativeErrorOf([&] {
              index.FindRecord(1, true, true, start.get(), nullptr, record.data(), id, nullptr);
            }),
            20077);
}

}  // namespace
}  // namespace vez::test

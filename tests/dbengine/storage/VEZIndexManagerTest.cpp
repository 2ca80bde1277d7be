// The index manager over real B-tree indexes through the table data and the
// test local cursor: open indexes by id, the defs' change counters,
// temporary indexes per session, field renames; and the record index's range
// scan going backward across changes of the tree.
#include "dbengine/storage/VEZIndexManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <random>

#include "dbengine/foundation/VEZMemoryStream.h"
#include "dbengine/storage/VEZBTreeRecordIndex.h"
#include "dbengine/storage/VEZRecordBitmap.h"
#include "dbengine/storage/VEZScanSearchCondition.h"
#include "tests/common/NativeError.h"
#include "tests/common/VEZTestLocalCursor.h"
#include "tests/dbengine/storage/TableTestSupport.h"

namespace vez::test {
namespace {

class IndexManagerTest : public ::testing::Test {
 protected:
  // ID Integer, VAL Integer, NAME String(12); BY_VAL on VAL and BY_NAME on
  // NAME (4 characters in its keys), on small pages.
  void SetUp() override {
    session_.SessionID = 1;
    cursor_ = std::make_unique<TTestLocalCursor>();
    cursor_->Session = &session_;
    cursor_->TableName = "T";
    TTableCursor maker;
    maker.TableName = "T";
    maker.Session = &session_;
    table_ = static_cast<TTestTableData*>(db_.FindOrCreateTableData(maker));
    table_->UseBTreeIndexes(512);
    TVEZFieldDefs fields;
    AddField(fields, "ID", aftInteger);
    AddField(fields, "VAL", aftInteger);
    AddField(fields, "NAME", aftString, 12);
    TVEZIndexDefs indexes;
    AddIndexDef(indexes, "BY_VAL", {"VAL"});
    AddIndexDef(indexes, "BY_NAME", {"NAME"})->GetIndexColumn(0)->MaxIndexedSize = 4;
    TVEZConstraintDefs constraints;
    table_->CreateTable(nullptr, fields, indexes, constraints);
    cursor_->Open(*table_);
  }
  TVEZBaseIndexManager& Manager() { return *table_->IndexManager(); }
  TVEZIndexDef& Def(std::int32_t no) { return *Manager().IndexDefs().GetDef(no); }

  void Fill(std::int32_t id, std::int32_t val, const std::string& name) {
    TVEZVariant v(bftSignedInt32);
    v.SetAsInteger(id);
    cursor_->SetFieldValue(v, 0, true);
    v.SetAsInteger(val);
    cursor_->SetFieldValue(v, 1, true);
    TVEZVariant text(bftVarchar);
    text.SetAsAnsiString(name);
    cursor_->SetFieldValue(text, 2, true);
    cursor_->ClearStringFieldsGarbage(cursor_->CurrentRecordBuffer);
  }
  std::int32_t Insert(std::int32_t id, std::int32_t val, const std::string& name) {
    cursor_->NewRecord();
    Fill(id, val, name);
    cursor_->InternalPost(true);
    EXPECT_EQ(cursor_->ErrorCode, cecOK);
    vals_[cursor_->CurrentRecordID.PageNo] = val;
    return cursor_->CurrentRecordID.PageNo;
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
    vals_.erase(slot);
  }

  TestSession session_;
  TTestDatabaseData db_;
  std::unique_ptr<TTestLocalCursor> cursor_;
  TTestTableData* table_ = nullptr;
  std::map<std::int32_t, std::int32_t> vals_;  // slot -> VAL
};

TEST_F(IndexManagerTest, OpensEachIndexOnceAndRefusesUnknownIds) {
  const std::int32_t id = Def(0).ObjectID;
  TVEZIndex* first = Manager().OpenIndex(id);
  EXPECT_EQ(Manager().OpenIndex(id), first);
  EXPECT_EQ(Manager().FindOpenIndex(id), first);
  Manager().CloseIndex(id);
  EXPECT_EQ(Manager().FindOpenIndex(id), nullptr);
  Manager().CloseIndex(id);  // not open: nothing
  EXPECT_EQ(NativeErrorOf([&] { Manager().OpenIndex(12345); }), 20018);
}

TEST_F(IndexManagerTest, EveryChangeCountsInEachDefAndTheCountersWrap) {
  const std::int32_t before0 = Def(0).TableState;
  const std::int32_t before1 = Def(1).TableState;
  const std::int32_t slot = Insert(1, 5, "abc");
  Delete(slot);
  EXPECT_EQ(Def(0).TableState, before0 + 2);
  EXPECT_EQ(Def(1).TableState, before1 + 2);
  // A long-lived table reaches the top of the counter: it wraps like the
  // other change counters instead of failing the insert.
  Def(0).TableState = std::numeric_limits<std::int32_t>::max();
  Def(1).TableState = std::numeric_limits<std::int32_t>::max() - 1;
  const std::int32_t kept = Insert(2, 6, "def");
  EXPECT_EQ(Def(0).TableState, 0);
  EXPECT_EQ(Def(1).TableState, std::numeric_limits<std::int32_t>::max());
  // An update counts once, after the record is stored.
  ReadSlot(kept);
  cursor_->BeginEdit();
  Fill(2, 7, "ghi");
  cursor_->InternalPost(false);
  ASSERT_EQ(cursor_->ErrorCode, cecOK);
  EXPECT_EQ(Def(0).TableState, 1);
  EXPECT_EQ(Def(1).TableState, 0);
}

TEST_F(IndexManagerTest, TemporaryIndexesBelongToTheirSession) {
  Insert(1, 2, "b");
  bool created = false;
  const std::string name = cursor_->FindOrCreateIndex({"ID"}, {""}, {""}, created);
  ASSERT_TRUE(created);
  EXPECT_EQ(name.rfind("TEMPORARY_INDEX_", 0), 0u);
  const TVEZIndexDef* def = Manager().IndexDefs().GetIndexDefByName(name);
  ASSERT_NE(def, nullptr);
  EXPECT_TRUE(def->Temporary);
  EXPECT_EQ(def->SessionID, 1);
  // The same session finds it again; another session does not see it.
  EXPECT_EQ(cursor_->FindOrCreateIndex({"ID"}, {""}, {""}, created), name);
  EXPECT_FALSE(created);
  EXPECT_EQ(Manager().FindIndex({"ID"}, {""}, {""}, 1, &cursor_->FieldDefs()), def->ObjectID);
  EXPECT_EQ(Manager().FindIndex({"ID"}, {""}, {""}, 2, &cursor_->FieldDefs()), -1);
  // Temporary defs are not stored with the table.
  TVEZMemoryStream stream;
  Manager().SaveMetadata(stream);
  stream.SetPosition(0);
  TVEZIndexDefs loaded;
  loaded.LoadFromStream(stream);
  EXPECT_EQ(loaded.GetCount(), 2);
}

TEST_F(IndexManagerTest, RenamedFieldIsRenamedInEveryIndexColumn) {
  Manager().RenameField("name", "TITLE");
  EXPECT_EQ(Def(1).GetIndexColumn(0)->FieldName, "TITLE");
  EXPECT_EQ(Def(0).GetIndexColumn(0)->FieldName, "VAL");
}

// A backward scan whose tree changes between two steps goes on before the
// entry it returned last, in the tree as it is now.
TEST_F(IndexManagerTest, BackwardScanFindsItsPlaceAgainAfterTheTreeChanges) {
  std::mt19937 rng(11);
  for (int i = 0; i < 200; ++i)
    Insert(i, static_cast<std::int32_t>(rng() % 10), "n");
  auto& index = static_cast<TVEZBTreeRecordIndex&>(*Manager().OpenIndex(Def(0).ObjectID));
  TVEZScanSearchCondition start;
  start.Condition = scLowerEqual;
  start.KeyRecordBufferSize = cursor_->RecordBufferSize;
  start.KeyRecordBuffer = cursor_->AllocateRecordBuffer();
  cursor_->InternalInitRecord(start.KeyRecordBuffer, false);
  TVEZVariant bound(bftSignedInt32);
  bound.SetAsInteger(7);
  cursor_->SetFieldValue(bound, 1, true, start.KeyRecordBuffer);
  start.KeyFieldCount = 1;
  start.IndexID = Def(0).ObjectID;
  std::unique_ptr<TVEZIndexSearchInfo> info = index.CreateSearchInfo();
  Bytes record(static_cast<std::size_t>(cursor_->RecordBufferSize));
  TVEZPageItemID id;
  std::pair<std::int32_t, std::int32_t> last{0, 0};
  for (int i = 0; i < 25; ++i) {
    ASSERT_TRUE(index.FindRecord(1, i == 0, false, &start, nullptr, record.data(), id, info.get()));
    last = {vals_[id.PageNo], id.PageNo};
  }
  for (int i = 0; i < 300; ++i)
    Insert(1000 + i, static_cast<std::int32_t>(rng() % 10), "n");
  Delete(last.second);
  std::vector<std::int32_t> expected;
  for (const auto& [slot, val] : vals_)
    if (val <= 7 && std::pair{val, slot} < last) expected.push_back(slot);
  std::sort(expected.begin(), expected.end(), [&](std::int32_t a, std::int32_t b) {
    return std::pair{vals_[a], a} > std::pair{vals_[b], b};
  });
  std::vector<std::int32_t> rest;
  while (index.FindRecord(1, false, false, &start, nullptr, record.data(), id, info.get()))
    rest.push_back(id.PageNo);
  EXPECT_EQ(rest, expected);
}

TEST_F(IndexManagerTest, PhysicalBitmapRanksItsShownRecords) {
  TVEZRecordBitmap bitmap(table_);
  bitmap.SetSize(10);
  bitmap.ShowRecord(TVEZPageItemID{2, 0});
  bitmap.ShowRecord(TVEZPageItemID{7, 0});
  EXPECT_EQ(bitmap.Size(), 10);
  EXPECT_EQ(bitmap.GetRecNoByRecordID({7, 0}), 2);
  EXPECT_EQ(bitmap.GetRecNoByRecordID({12, 0}), -1);
  EXPECT_EQ(bitmap.GetRecordIDByRecNo(1).PageNo, 2);
  EXPECT_EQ(NativeErrorOf([&] { bitmap.GetRecordIDByRecNo(3); }), 10428);
}

// Index numbers grow as (entries per page + 1) ^ depth: a position whose
// number passes the bit array's range is never shown by a wrong bit.
TEST_F(IndexManagerTest, IndexBitmapBeyondInt32IsUnusableInsteadOfWrong) {
  const std::int32_t id = Def(0).ObjectID;
  const std::int64_t base = Manager().OpenIndex(id)->GetMaxEntriesPerPage() + 1;
  std::int64_t far_no = 0;
  while (far_no <= std::numeric_limits<std::int32_t>::max())
    far_no = far_no * base + 1;
  TVEZKeyPath near, far, found;
  near.FillItemsByBitmapRecNo(base + 1, static_cast<std::int32_t>(base - 1));
  far.FillItemsByBitmapRecNo(far_no, static_cast<std::int32_t>(base - 1));
  TVEZRecordBitmap bitmap(table_);
  bitmap.IndexBased = true;
  bitmap.ShowRecord(id, near);
  EXPECT_EQ(bitmap.Size(), base + 2);
  EXPECT_FALSE(bitmap.IsRecordVisible(id, far));
  EXPECT_EQ(bitmap.GetRecNoByIndexPos(id, far), -1);
  EXPECT_FALSE(bitmap.FindRecord(false, true, far, found, id));
  ASSERT_TRUE(bitmap.FindRecord(false, false, far, found, id));
  EXPECT_EQ(found.Compare(near), 0);
  bitmap.HideRecord(id, far);
  EXPECT_FALSE(bitmap.Unusable());
  EXPECT_EQ(bitmap.GetRecordCount(), 1);
  bitmap.Active = true;
  bitmap.ShowRecord(id, far);
  EXPECT_TRUE(bitmap.Unusable());
  EXPECT_FALSE(bitmap.Active);
  EXPECT_EQ(bitmap.Size(), 0);
}

// Every operation on an index without a tree, and every delete of an entry
// the tree does not hold, raises its own number and changes nothing.
TEST_F(IndexManagerTest, MissingTreeAndMissingEntriesRaiseTheirNumbers) {
  const std::int32_t slot = Insert(1, 5, "abc");
  ReadSlot(slot);
  TVEZIndexDef def;
  def.Assign(Def(0));
  def.RootPageNo = -1;
  TVEZBTreeRecordIndex index(&Manager());
  index.OpenIndex(def);
  TVEZNavigationInfo info;
  info.GetRecordMode = grmNext;
  info.FirstPosition = true;
  info.RecordBuffer = cursor_->CurrentRecordBuffer;
  TVEZKeyPath path;
  TVEZScanSearchCondition condition;
  const std::uint8_t* record = cursor_->CurrentRecordBuffer;
  const struct {
    const char* name;
    std::function<void()> call;
    std::int32_t error;
  } cases[] = {
      {"DropIndex", [&] { index.DropIndex(1); }, 20119},
      {"EmptyIndex", [&] { index.EmptyIndex(1); }, 20120},
      {"GetRecordIDByRecNo", [&] { index.GetRecordIDByRecNo(1, 1); }, 20121},
      {"GetRecordBuffer", [&] { index.GetRecordBuffer(1, info, nullptr, 0); }, 20123},
      {"GetIndexPosition",
       [&] {
         index.GetIndexPosition(1, {slot, 0}, record, path);
       },
       20124},
      {"GetApproxRangeRecordCount",
       [&] { index.GetApproxRangeRecordCount(1, 1, &condition, &condition); }, 20125},
      {"CanInsertRecord", [&] { index.CanInsertRecord(1, record); }, 20126},
      {"InsertRecord", [&] { index.InsertRecord(*cursor_); }, 20127},
      {"GetClosestRecordBuffer", [&] { index.GetClosestRecordBuffer(1, info, nullptr, 0); }, 20293},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(NativeErrorOf(c.call), c.error);
  }
  // The table's own index holds the record under another identity only.
  auto& real = static_cast<TVEZBTreeRecordIndex&>(*Manager().OpenIndex(Def(0).ObjectID));
  cursor_->CurrentRecordID = {slot + 100, 0};
  EXPECT_EQ(NativeErrorOf([&] { real.DeleteRecord(*cursor_); }), 20027);
  cursor_->BeginEdit();
  Fill(1, 6, "abc");
  EXPECT_EQ(NativeErrorOf([&] { real.UpdateRecord(*cursor_, true); }), 20250);
  cursor_->CurrentRecordID = {slot, 0};
  EXPECT_EQ(real.GetRecNoByRecordID(1, {slot, 0}, cursor_->EditRecordBuffer), 1);
}

// Scans over an index whose keys keep 4 characters of longer names, with the
// table changing between every two steps: each step returns the entry that
// follows the last one returned in the tree as it is now, both ways.
TEST_F(IndexManagerTest, ScansOverCutKeysFollowTheChangingTable) {
  static const char* kNames[] = {"abcdefg", "abcdxyz", "abcd", "abc", "b", "abcdefh", "abcdeff"};
  std::map<std::int32_t, std::string> names;  // slot -> NAME
  std::mt19937 rng(3);
  const auto insert = [&] {
    const std::string name = kNames[rng() % 7];
    names[Insert(static_cast<std::int32_t>(rng() % 1000), 0, name)] = name;
  };
  for (int i = 0; i < 150; ++i)
    insert();
  const std::int32_t id = Def(1).ObjectID;
  auto& index = static_cast<TVEZBTreeRecordIndex&>(*Manager().OpenIndex(id));
  const auto condition = [&](TVEZSearchCondition op, const std::string& bound) {
    auto c = std::make_unique<TVEZScanSearchCondition>();
    c->Condition = op;
    c->KeyRecordBufferSize = cursor_->RecordBufferSize;
    c->KeyRecordBuffer = cursor_->AllocateRecordBuffer();
    cursor_->InternalInitRecord(c->KeyRecordBuffer, false);
    TVEZVariant v(bftVarchar);
    v.SetAsAnsiString(bound);
    cursor_->SetFieldValue(v, 2, true, c->KeyRecordBuffer);
    cursor_->ClearStringFieldsGarbage(c->KeyRecordBuffer);
    c->KeyFieldCount = 1;
    c->IndexID = id;
    return c;
  };
  const auto start_fwd = condition(scGreaterEqual, "abcdeff");
  const auto end_fwd = condition(scLowerEqual, "abcdxyz");
  const auto start_bwd = condition(scLower, "abcdxyz");
  for (bool forward : {true, false}) {
    SCOPED_TRACE(forward);
    const TVEZScanSearchCondition* start = forward ? start_fwd.get() : start_bwd.get();
    const TVEZScanSearchCondition* end = forward ? end_fwd.get() : nullptr;
    const auto in_range = [&](const std::string& n) {
      return forward ? n >= "abcdeff" && n <= "abcdxyz" : n < "abcdxyz";
    };
    std::unique_ptr<TVEZIndexSearchInfo> info = index.CreateSearchInfo();
    Bytes record(static_cast<std::size_t>(cursor_->RecordBufferSize));
    TVEZPageItemID found;
    std::optional<std::pair<std::string, std::int32_t>> last;
    for (int step = 0; step < 120; ++step) {
      // The entry the scan must return now.
      std::optional<std::pair<std::string, std::int32_t>> expected;
      for (const auto& [slot, name] : names) {
        const std::pair<std::string, std::int32_t> key{name, slot};
        if (!in_range(name)) continue;
        if (last && (forward ? key <= *last : key >= *last)) continue;
        if (!expected || (forward ? key < *expected : key > *expected)) expected = key;
      }
      const bool got =
          index.FindRecord(1, step == 0, forward, start, end, record.data(), found, info.get());
      SCOPED_TRACE(step);
      ASSERT_EQ(got, expected.has_value());
      if (!got) break;
      ASSERT_EQ(found.PageNo, expected->second);
      last = expected;
      // The table changes under the scan: rows come and go, the one just
      // returned among them now and then.
      for (int k = 0; k < 2; ++k)
        insert();
      if (rng() % 3 == 0) {
        const std::int32_t slot =
            rng() % 4 == 0 ? last->second : std::next(names.begin(), rng() % names.size())->first;
        Delete(slot);
        names.erase(slot);
      }
    }
  }
}

// A range estimate reads the same whichever bound comes first, comes near the
// true count, and an empty range is 0.
TEST_F(IndexManagerTest, RangeEstimatePairsTheBoundsInEitherOrder) {
  for (std::int32_t i = 0; i < 600; ++i)
    Insert(i, i % 30, "n");
  auto& index = static_cast<TVEZBTreeRecordIndex&>(*Manager().OpenIndex(Def(0).ObjectID));
  const auto condition = [&](TVEZSearchCondition op, std::int32_t bound) {
    auto c = std::make_unique<TVEZScanSearchCondition>();
    c->Condition = op;
    c->KeyRecordBufferSize = cursor_->RecordBufferSize;
    c->KeyRecordBuffer = cursor_->AllocateRecordBuffer();
    cursor_->InternalInitRecord(c->KeyRecordBuffer, false);
    TVEZVariant v(bftSignedInt32);
    v.SetAsInteger(bound);
    cursor_->SetFieldValue(v, 1, true, c->KeyRecordBuffer);
    c->KeyFieldCount = 1;
    return c;
  };
  const auto low = condition(scGreaterEqual, 10);
  const auto high = condition(scLowerEqual, 19);
  const std::int64_t forward = index.GetApproxRangeRecordCount(1, 600, low.get(), high.get());
  EXPECT_EQ(index.GetApproxRangeRecordCount(1, 600, high.get(), low.get()), forward);
  EXPECT_NEAR(static_cast<double>(forward), 200.0, 40.0);
  const auto above = condition(scGreater, 20);
  const auto below = condition(scLower, 5);
  EXPECT_EQ(index.GetApproxRangeRecordCount(1, 600, above.get(), below.get()), 0);
  EXPECT_EQ(index.GetApproxRangeRecordCount(1, 600, below.get(), above.get()), 0);
}

// Next and prior shown records from a record numbered below the first bit
// or beyond the last: everything lies after the one, before the other.
TEST(RecordBitmapEnds, FindsFromRecordsOutsideTheBits) {
  // Record numbers start 10 below the slot: slots 0..9 number below bit 0.
  class ShiftedTable : public TTestTableData {
   public:
    using TTestTableData::TTestTableData;
    std::int64_t RecordIDToApproximateRecNo(TVEZPageItemID id) override {
      return static_cast<std::int64_t>(id.PageNo) - 10;
    }
    TVEZPageItemID ApproximateRecNoToRecordID(std::int64_t v) override {
      return {static_cast<std::int32_t>(v + 10), 0};
    }
  };
  TTestDatabaseData db;
  ShiftedTable table(&db);
  TVEZRecordBitmap bitmap(&table);
  bitmap.ShowRecord(TVEZPageItemID{13, 0});
  bitmap.ShowRecord(TVEZPageItemID{15, 0});
  TVEZPageItemID found;
  const struct {
    std::int32_t from;
    bool forward;
    std::int32_t expected;  // -1: none
  } cases[] = {
      {2, true, 13},   {2, false, -1}, {40, true, -1},
      {40, false, 15}, {13, true, 15}, {15, false, 13},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.from << (c.forward ? " forward" : " backward"));
    const bool got = bitmap.FindRecord(false, c.forward, TVEZPageItemID{c.from, 0}, found);
    EXPECT_EQ(got, c.expected != -1);
    if (got) {
      EXPECT_EQ(found.PageNo, c.expected);
    }
  }
}

}  // namespace
}  // namespace vez::test

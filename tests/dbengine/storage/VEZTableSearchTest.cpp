// Locate and FindKey against a model built by walking the cursor's view: the
// first record in the cursor's order that the view shows and the search
// accepts, with and without filters, in index and storage order.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <vector>

#include "dbengine/storage/VEZTableData.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/MemoryTableTestSupport.h"
#include "tests/dbengine/storage/StorageTestDoubles.h"
#include "tests/dbengine/storage/TableTestSupport.h"

namespace vez::test {
namespace {

// An expression that tests the buffer it is bound to with a predicate.
class PredicateExpression : public FakeExpression {
 public:
  explicit PredicateExpression(std::function<bool(std::uint8_t*)> pred) : pred_(std::move(pred)) {}
  void AssignCursorBuffer(std::uint8_t* buffer, bool) override { buffer_ = buffer; }
  bool GetResult() override { return pred_(buffer_); }
  bool IsEmpty() const override { return false; }

 private:
  std::function<bool(std::uint8_t*)> pred_;
  std::uint8_t* buffer_ = nullptr;
};

class TableSearchTest : public ::testing::Test {
 protected:
  // ID Integer, NAME String(30), VAL Integer; index BY_VAL on VAL.
  TTestTableData& MakeTable(TTableCursor& cursor) {
    cursor.TableName = "Samples";
    cursor.Session = &session_;
    auto* table = static_cast<TTestTableData*>(db_.FindOrCreateTableData(cursor));
    TVEZFieldDefs fields;
    AddField(fields, "ID", aftInteger);
    AddField(fields, "NAME", aftString, 30);
    AddField(fields, "VAL", aftInteger);
    TVEZIndexDefs indexes;
    AddIndexDef(indexes, "BY_VAL", {"VAL"});
    TVEZConstraintDefs constraints;
    table->CreateTable(&cursor, fields, indexes, constraints);
    table->OpenTable(cursor);
    cursor.Attach(*table);
    return *table;
  }

  TestSession session_;
  TTestDatabaseData db_;
  // The tests stand in for the cursor, which holds the database lock around
  // its record reads.
  TVEZLockGuard<TTestDatabaseData> lock_{db_};
};

bool Holds(TVEZSearchCondition s, std::int32_t value, std::int32_t key) {
  switch (s) {
    case scEqual:
      return value == key;
    case scLower:
      return value < key;
    case scGreater:
      return value > key;
    case scLowerEqual:
      return value <= key;
    case scGreaterEqual:
      return value >= key;
    default:
      return false;
  }
}

std::int32_t IntIn(TTestLocalCursor& c, std::uint8_t* buffer, std::int32_t field_no) {
  std::uint8_t* saved = c.CurrentRecordBuffer;
  c.CurrentRecordBuffer = buffer;
  TVEZVariant v;
  c.GetFieldValue(v, field_no, true);
  c.CurrentRecordBuffer = saved;
  return v.GetIsNull() ? -999 : v.GetAsInteger();
}

// On the memory engine, whose indexes are real B-trees: FindKey on the
// leading column of BY_A (A, ID), a partial key, in the index's order.
TEST(MemoryTableSearchTest, LocateAndFindKeyMatchTheFirstVisibleRecordOfTheModel) {
  TMemoryTableFixture f;
  TTestLocalCursor& cursor = f.Cursor();
  TVEZMemoryTableData& table = f.Table();
  std::mt19937 rng(15);
  std::int32_t slot = 0;
  for (std::int32_t id = 1; id <= 60; ++id)
    ASSERT_TRUE(f.Insert({id, static_cast<std::int32_t>(rng() % 10), "n", std::nullopt}, slot));
  std::uint8_t* key = cursor.AllocateRecordBuffer();
  for (int trial = 0; trial < 200; ++trial) {
    const bool indexed = trial % 2 == 0;
    const std::int32_t modulus = 2 + trial % 4;
    cursor.IndexID = indexed ? f.IndexID(0) : -1;
    cursor.FilterRecord = nullptr;
    if (trial % 3 != 0)
      cursor.FilterRecord = [&cursor, modulus](std::uint8_t* b, void*) {
        return IntIn(cursor, b, kFieldID) % modulus != 0;
      };
    cursor.DisableRecordBitmap();
    std::vector<std::pair<std::int32_t, std::int32_t>> view;  // (ID, A) in the cursor's order
    {
      TVEZLockGuard guard(table);
      cursor.FirstPosition = true;
      cursor.LastPosition = false;
      while (table.GetRecordBuffer(cursor, grmNext) == grrOK)
        view.emplace_back(IntIn(cursor, cursor.CurrentRecordBuffer, kFieldID),
                          IntIn(cursor, cursor.CurrentRecordBuffer, kFieldA));
      // A known position that failed searches must leave alone.
      cursor.FirstPosition = true;
      cursor.LastPosition = false;
      ASSERT_EQ(table.GetRecordBuffer(cursor, grmNext), view.empty() ? grrEOF : grrOK);
    }
    const TVEZPageItemID before = cursor.CurrentRecordID;
    const bool before_first = cursor.FirstPosition;

    const std::int32_t wanted = static_cast<std::int32_t>(rng() % 12);
    SCOPED_TRACE("trial " + std::to_string(trial) + " a " + std::to_string(wanted));
    PredicateExpression expr(
        [&cursor, wanted](std::uint8_t* b) { return IntIn(cursor, b, kFieldA) == wanted; });
    std::int32_t want_id = -1;
    for (const auto& [id, a] : view) {
      if (a == wanted) {
        want_id = id;
        break;
      }
    }
    const bool found = table.Locate(cursor, &expr);
    EXPECT_EQ(found, want_id != -1);
    if (found) {
      EXPECT_EQ(IntIn(cursor, cursor.CurrentRecordBuffer, kFieldID), want_id);
      EXPECT_FALSE(cursor.FirstPosition || cursor.LastPosition);
    } else {
      EXPECT_EQ(cursor.CurrentRecordID, before);
      EXPECT_EQ(cursor.FirstPosition, before_first);
    }

    if (!indexed) continue;
    const auto s = static_cast<TVEZSearchCondition>(1 + (trial / 2) % 5);
    cursor.InternalInitRecord(key, true);
    TVEZVariant a(bftSignedInt32);
    a.SetAsInteger(wanted);
    cursor.SetFieldValue(a, kFieldA, true, key);
    cursor.KeyBuffer = key;
    cursor.KeyBufferSize = cursor.RecordSize;
    cursor.KeyFieldCount = 1;
    std::int32_t key_id = -1;
    for (const auto& [id, value] : view) {
      if (Holds(s, value, wanted)) {
        key_id = id;
        break;
      }
    }
    const TVEZPageItemID at = cursor.CurrentRecordID;
    const bool key_found = table.FindKey(cursor, s);
    EXPECT_EQ(key_found, key_id != -1);
    if (key_found) {
      TVEZLockGuard guard(table);
      ASSERT_EQ(table.GetRecordBuffer(cursor, grmCurrent), grrOK);
      EXPECT_EQ(IntIn(cursor, cursor.CurrentRecordBuffer, kFieldID), key_id);
    } else {
      EXPECT_EQ(cursor.CurrentRecordID, at);
    }
    cursor.KeyBuffer = nullptr;
  }
  cursor.FilterRecord = nullptr;
  cursor.FreeRecordBuffer(key);
}

// Bounds that exclude each other show nothing (the walk is skipped); bounds
// that meet show exactly the records on the shared key, each passed to the
// record filter.
TEST(MemoryTableSearchTest, RangeWhoseBoundsExcludeEachOtherShowsNothing) {
  TMemoryTableFixture f;
  TTestLocalCursor& cursor = f.Cursor();
  TVEZMemoryTableData& table = f.Table();
  std::int32_t slot = 0;
  for (std::int32_t id = 1; id <= 40; ++id)
    ASSERT_TRUE(f.Insert({id, id % 20, "n", std::nullopt}, slot));
  std::uint8_t* start = cursor.AllocateRecordBuffer();
  std::uint8_t* end = cursor.AllocateRecordBuffer();
  auto set_a = [&](std::uint8_t* buffer, std::int32_t value) {
    cursor.InternalInitRecord(buffer, true);
    TVEZVariant a(bftSignedInt32);
    a.SetAsInteger(value);
    cursor.SetFieldValue(a, kFieldA, true, buffer);
  };
  int asked = 0;
  cursor.FilterRecord = [&asked](std::uint8_t*, void*) {
    ++asked;
    return true;
  };
  cursor.IndexID = f.IndexID(0);
  cursor.KeyBufferSize = cursor.RecordSize;
  set_a(start, 10);
  set_a(end, 10);
  cursor.RangeStartBuffer = start;
  cursor.RangeEndBuffer = end;
  cursor.RangeStartKeyFieldCount = 1;
  cursor.RangeEndKeyFieldCount = 1;
  struct Case {
    bool end_exclusive;
    std::int64_t count;
  };
  for (const Case& c : {Case{true, 0}, Case{false, 2}}) {
    SCOPED_TRACE(c.end_exclusive ? "[10, 10)" : "[10, 10]");
    cursor.RangeEndExclusive = c.end_exclusive;
    asked = 0;
    {
      TVEZLockGuard guard(table);
      cursor.FirstPosition = true;
      cursor.LastPosition = false;
      EXPECT_EQ(table.GetRecordBuffer(cursor, grmNext), c.count == 0 ? grrEOF : grrOK);
    }
    EXPECT_EQ(table.GetRecordCount(cursor), c.count);
    EXPECT_EQ(asked > 0, c.count > 0);
  }
  cursor.RangeStartBuffer = nullptr;
  cursor.RangeEndBuffer = nullptr;
  cursor.FilterRecord = nullptr;
  cursor.FreeRecordBuffer(start);
  cursor.FreeRecordBuffer(end);
}

// The record filter sees each candidate as a record of the cursor being
// searched: a buffer of the cursor's size whose bookmark holds the record's
// identity, whether the candidate came from an index scan or a walk.
TEST(MemoryTableSearchTest, RecordFilterGetsTheCursorsBufferWithTheBookmark) {
  TMemoryTableFixture f;
  TTestLocalCursor& cursor = f.Cursor();
  TVEZMemoryTableData& table = f.Table();
  std::int32_t slot = 0;
  std::map<std::int32_t, std::int32_t> slot_of;  // ID -> slot
  for (std::int32_t id = 1; id <= 50; ++id) {
    ASSERT_TRUE(f.Insert({id, id % 7, "n", std::nullopt}, slot));
    slot_of[id] = slot;
  }
  int calls = 0;
  int wrong = 0;
  cursor.FilterRecord = [&](std::uint8_t* buffer, void* dataset) {
    ++calls;
    const TVEZPageItemID bookmark = TVEZPageItemID::Decode(buffer + cursor.BookmarkOffset);
    if (bookmark.PageNo != slot_of[IntIn(cursor, buffer, kFieldID)] || dataset != &cursor) ++wrong;
    return IntIn(cursor, buffer, kFieldID) % 2 == 0;
  };
  cursor.Dataset = &cursor;
  // A = 3 through BY_A drives an index scan; the callback decides the rest.
  PredicateExpression a3([&cursor](std::uint8_t* b) { return IntIn(cursor, b, kFieldA) == 3; });
  struct Case {
    const char* name;
    std::int32_t index_no;  // -1: storage order
    bool expression;
  };
  for (const Case& c : {Case{"walk in storage order", -1, false}, Case{"walk by BY_A", 0, false},
                        Case{"search by BY_NAME", 1, true}}) {
    SCOPED_TRACE(c.name);
    cursor.IndexID = c.index_no == -1 ? -1 : f.IndexID(c.index_no);
    cursor.FilterExpression = c.expression ? &a3 : nullptr;
    cursor.DisableRecordBitmap();
    calls = wrong = 0;
    const std::int64_t want = c.expression ? 3 : 25;  // IDs 10, 24, 38 have A = 3
    EXPECT_EQ(table.GetRecordCount(cursor), want);
    EXPECT_GT(calls, 0);
    EXPECT_EQ(wrong, 0);
  }
  cursor.FilterExpression = nullptr;
  cursor.FilterRecord = nullptr;
  cursor.Dataset = nullptr;
}

// A storage-order cursor whose only restriction yields no condition (a
// distinct count needs an index) fills its bitmap with every record at once;
// a freed slot must not count, nor may the fill come out empty.
TEST(MemoryTableSearchTest, AllRecordsAtOnceCountEveryLiveRecordOnce) {
  TMemoryTableFixture f;
  TTestLocalCursor& cursor = f.Cursor();
  TVEZMemoryTableData& table = f.Table();
  std::int32_t slot = 0;
  for (std::int32_t id = 1; id <= 12; ++id)
    ASSERT_TRUE(f.Insert({id, id, "n", std::nullopt}, slot));
  cursor.IndexID = -1;
  cursor.DistinctFieldCount = 1;
  cursor.DisableRecordBitmap();
  EXPECT_EQ(table.GetRecordCount(cursor), 12);
  EXPECT_TRUE(cursor.RecordBitmap->Active);
  table.SetRecNo(cursor, 100);
  EXPECT_EQ(table.GetRecNo(cursor), 12);
  // A freed slot in the middle: the bits are no longer exactly the records.
  cursor.DistinctFieldCount = 0;
  f.ReadSlot(4);
  {
    TVEZLockGuard guard(table);
    ASSERT_TRUE(table.DeleteRecord(cursor));
  }
  cursor.DistinctFieldCount = 1;
  cursor.DisableRecordBitmap();
  EXPECT_EQ(table.GetRecordCount(cursor), 11);
  std::vector<std::int32_t> seen;
  cursor.InternalFirst();
  while (cursor.GetRecordBuffer(grmNext) == grrOK)
    seen.push_back(IntIn(cursor, cursor.CurrentRecordBuffer, kFieldID));
  EXPECT_EQ(seen, (std::vector<std::int32_t>{1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12}));
  cursor.DistinctFieldCount = 0;
}

// An equality on one key column and a strict bound on two columns of the
// same index cannot be merged; the scan driven by one of them must still
// test the other (driving both as one range would run to the index's end).
TEST(MemoryTableSearchTest, UnmergedConditionsOnOneIndexAreBothTested) {
  TMemoryTableFixture f;
  TTestLocalCursor& cursor = f.Cursor();
  TVEZMemoryTableData& table = f.Table();
  std::int32_t slot = 0;
  for (std::int32_t id = 1; id <= 40; ++id)
    ASSERT_TRUE(f.Insert({id, id % 4, "n", std::nullopt}, slot));
  std::uint8_t* start = cursor.AllocateRecordBuffer();
  std::uint8_t* key = cursor.AllocateRecordBuffer();
  auto set = [&](std::uint8_t* buffer, std::int32_t a, std::int32_t id) {
    cursor.InternalInitRecord(buffer, true);
    TVEZVariant v(bftSignedInt32);
    v.SetAsInteger(a);
    cursor.SetFieldValue(v, kFieldA, true, buffer);
    v.SetAsInteger(id);
    cursor.SetFieldValue(v, kFieldID, true, buffer);
  };
  // BY_A is (A, ID): the view starts after (A 1, ID 20); the key asks A = 1.
  cursor.IndexID = f.IndexID(0);
  set(start, 1, 20);
  cursor.RangeStartBuffer = start;
  cursor.RangeStartKeyFieldCount = 2;
  cursor.RangeStartExclusive = true;
  cursor.KeyBufferSize = cursor.RecordBufferSize;
  cursor.DisableRecordBitmap();
  set(key, 1, 0);
  cursor.KeyBuffer = key;
  cursor.KeyFieldCount = 1;
  ASSERT_TRUE(table.FindKey(cursor, scEqual));
  {
    TVEZLockGuard guard(table);
    ASSERT_EQ(table.GetRecordBuffer(cursor, grmCurrent), grrOK);
  }
  EXPECT_EQ(IntIn(cursor, cursor.CurrentRecordBuffer, kFieldID), 21);
  // Above every A = 1 record of the view: nothing.
  set(start, 1, 37);
  cursor.DisableRecordBitmap();
  EXPECT_FALSE(table.FindKey(cursor, scEqual));
  cursor.RangeStartBuffer = nullptr;
  cursor.KeyBuffer = nullptr;
  cursor.FreeRecordBuffer(start);
  cursor.FreeRecordBuffer(key);
}

TEST_F(TableSearchTest, FindKeyWithoutAnIndexIsRefused) {
  TTableCursor cursor;
  TTestTableData& table = MakeTable(cursor);
  cursor.NewRecord();
  cursor.SetInt(0, 1);
  cursor.SetInt(2, 1);
  ASSERT_TRUE(table.InsertRecord(cursor));
  cursor.IndexID = -1;
  EXPECT_EQ(NativeErrorOf([&] { table.FindKey(cursor, scEqual); }), 20258);
}

}  // namespace
}  // namespace vez::test

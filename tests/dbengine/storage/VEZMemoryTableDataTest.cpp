#include "dbengine/storage/VEZMemoryTableData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <tuple>
#include <vector>

#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZMemoryStream.h"
#include "dbengine/storage/VEZDatabaseDataList.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/MemoryTableTestSupport.h"
#include "tests/dbengine/storage/TableModelTestSupport.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

using test::TMemoryTableFixture;
using test::TMemRow;

using MemoryTableTest = test::TEngineTableModelTest<TMemoryTableFixture>;

TEST_F(MemoryTableTest, RandomOperationsAgreeWithAModel) {
  const std::int64_t blobs_before = table().BlobHandles().LiveCount();
  RunRandomOperations(20261211, 1500, [&] {
    // Every stored BLOB has one block and nothing else is held.
    std::int64_t with_blob = 0;
    for (const auto& [s, r] : model_)
      if (r.blob) ++with_blob;
    cursor().NewRecord();
    ASSERT_EQ(table().BlobHandles().LiveCount() - blobs_before, with_blob);
  });
}

TEST_F(MemoryTableTest, DeletingMovesToTheNeighbourAndEmptyRestartsAtSlotZero) {
  for (std::int32_t i = 0; i < 3; ++i)
    Insert({i + 1, i, "n", std::nullopt});
  Delete(1);
  EXPECT_EQ(cursor().CurrentRecordID.PageNo, 2);  // the next record
  Delete(2);
  EXPECT_EQ(cursor().CurrentRecordID.PageNo, 0);  // no next: the previous one
  EXPECT_FALSE(cursor().FirstPosition);
  Delete(0);
  EXPECT_TRUE(cursor().FirstPosition);
  Insert({9, 9, "z", std::nullopt});
  EXPECT_EQ(model_.begin()->first, 0);
}

TEST_F(MemoryTableTest, UpdateOfADeletedRecordIsRefused) {
  Insert({1, 1, "a", std::string("blob")});
  Insert({2, 2, "b", std::nullopt});
  fx_.ReadSlot(0);
  cursor().BeginEdit();
  std::vector<std::uint8_t> stale(cursor().CurrentRecordBuffer,
                                  cursor().CurrentRecordBuffer + cursor().RecordBufferSize);
  Delete(0);
  std::memcpy(cursor().CurrentRecordBuffer, stale.data(), stale.size());
  cursor().CurrentRecordID = {0, 0};
  cursor().FirstPosition = cursor().LastPosition = false;
  cursor().InternalPost(false);
  EXPECT_EQ(cursor().ErrorCode, cecUpdateFailed);
  CheckAll(true);
}

TEST_F(MemoryTableTest, CancelledBlobChangesFreeOnlyTheirOwnBlocks) {
  Insert({1, 1, "a", std::string(300, 'x')});
  const std::int64_t held = table().BlobHandles().LiveCount();
  fx_.ReadSlot(0);
  cursor().BeginEdit();
  std::vector<std::uint8_t> old_copy(cursor().CurrentRecordBuffer,
                                     cursor().CurrentRecordBuffer + cursor().RecordBufferSize);
  fx_.WriteBlob(std::string(200, 'y'));
  fx_.WriteBlob(std::string(100, 'z'));  // replaces the first pending value
  EXPECT_EQ(table().BlobHandles().LiveCount(), held + 1);
  // Cancel: the buffer's pending value goes, the stored value stays.
  table().ClearBlobsCacheInRecordBuffer(cursor().CurrentRecordBuffer);
  EXPECT_EQ(table().BlobHandles().LiveCount(), held);
  fx_.ReadSlot(0);
  EXPECT_EQ(fx_.Current().blob, std::string(300, 'x'));
  // A successful update frees the replaced value; a copy of the old buffer
  // then finds no BLOB instead of another one.
  Update(0, {1, 1, "a", std::string(50, 'w')}, true);
  EXPECT_EQ(table().BlobHandles().LiveCount(), held);
  EXPECT_EQ(table().BlobBlockOf(old_copy.data(), test::kFieldData), nullptr);
  Insert({2, 2, "b", std::string(70, 'v')});  // may take the freed entry
  EXPECT_EQ(table().BlobBlockOf(old_copy.data(), test::kFieldData), nullptr);
  CheckAll(true);
}

TEST_F(MemoryTableTest, MemoryLimitDuringInsertLeavesTheTableAsItWas) {
  std::mt19937 rng(7);
  for (int i = 0; i < 999; ++i)
    Insert(RandomRow(rng));
  const std::int64_t limit = MemoryManager().MaxMemorySize();
  // Limits from tight to roomy: each insert either works or changes nothing.
  for (std::int64_t extra : {0, 64, 512, 4096, 9000, 20000, 80000}) {
    SCOPED_TRACE(extra);
    const std::int32_t state = table().RecordManager()->TableState;
    TMemRow r = RandomRow(rng);
    r.blob.reset();
    MemoryManager().SetMaxMemorySize(MemoryManager().TotalMemAllocated() + extra);
    std::int32_t slot = -1;
    bool stored = false;
    try {
      stored = fx_.Insert(r, slot);
    } catch (const EVEZException&) {
      stored = false;
    }
    MemoryManager().SetMaxMemorySize(limit);
    if (stored)
      model_[slot] = r;
    else
      EXPECT_EQ(table().RecordManager()->RecordCount, static_cast<std::int64_t>(model_.size()));
    (void)state;
    CheckAll(false);
    if (HasFatalFailure()) return;
  }
}

TEST_F(MemoryTableTest, EmptyTableFreesBlobsAndMovesTheTableState) {
  for (int i = 0; i < 5; ++i)
    Insert({i + 1, i, "e", std::string(100 + i, 'q')});
  const std::int32_t state = table().RecordManager()->TableState;
  table().EmptyTable(&cursor());
  model_.clear();
  EXPECT_NE(table().RecordManager()->TableState, state);
  EXPECT_EQ(table().BlobHandles().LiveCount(), 0);
  cursor().InternalFirst();
  EXPECT_EQ(cursor().GetRecordBuffer(grmNext), grrEOF);
  Insert({1, 1, "a", std::nullopt});
  EXPECT_EQ(model_.begin()->first, 0);
  CheckAll(true);
}

TEST_F(MemoryTableTest, SetRecNoClampsAtBothEnds) {
  for (int i = 0; i < 4; ++i)
    Insert({i + 1, 3 - i, "r", std::nullopt});
  for (std::int32_t index_no : {-1, 0}) {
    SCOPED_TRACE(index_no);
    UseOrder(index_no);
    const std::vector<std::int32_t> want = Expected(index_no);
    for (std::int64_t n : {std::int64_t{-5}, std::int64_t{0}}) {
      table().SetRecNo(cursor(), n);
      EXPECT_EQ(cursor().CurrentRecordID.PageNo, want.front());
      EXPECT_EQ(table().GetRecNo(cursor()), 1);
    }
    table().SetRecNo(cursor(), 99);
    EXPECT_EQ(cursor().CurrentRecordID.PageNo, want.back());
  }
}

TEST_F(MemoryTableTest, UnrestrictedMovesAtBothEndsInEveryOrder) {
  for (int i = 0; i < 9; ++i)
    Insert(
        {i + 1, (i * 5) % 9, std::string(1, static_cast<char>('a' + (i * 4) % 9)), std::nullopt});
  // Free slots at both ends and inside, so the live span is not the slot span.
  for (std::int32_t slot : {0, 4, 8})
    Delete(slot);
  for (std::int32_t index_no : {-1, 0, 1}) {
    SCOPED_TRACE(index_no);
    UseOrder(index_no);
    const std::vector<std::int32_t> want = Expected(index_no);
    // Prior from BOF stays at BOF; Next from there gives the first record.
    cursor().InternalFirst();
    EXPECT_EQ(cursor().GetRecordBuffer(grmPrior), grrBOF);
    EXPECT_TRUE(cursor().FirstPosition);
    EXPECT_EQ(cursor().GetRecordBuffer(grmCurrent), grrError);
    EXPECT_EQ(table().GetRecNo(cursor()), -1);
    ASSERT_EQ(cursor().GetRecordBuffer(grmNext), grrOK);
    EXPECT_EQ(cursor().CurrentRecordID.PageNo, want.front());
    // Next from EOF stays at EOF; Prior from there gives the last record.
    cursor().InternalLast();
    EXPECT_EQ(cursor().GetRecordBuffer(grmNext), grrEOF);
    EXPECT_TRUE(cursor().LastPosition);
    EXPECT_EQ(cursor().GetRecordBuffer(grmCurrent), grrError);
    EXPECT_EQ(table().GetRecNo(cursor()), -1);
    ASSERT_EQ(cursor().GetRecordBuffer(grmPrior), grrOK);
    EXPECT_EQ(cursor().CurrentRecordID.PageNo, want.back());
    // Running off either end and turning back gives the record at that end.
    table().SetRecNo(cursor(), static_cast<std::int64_t>(want.size()));
    EXPECT_EQ(cursor().GetRecordBuffer(grmNext), grrEOF);
    EXPECT_EQ(cursor().GetRecordBuffer(grmNext), grrEOF);
    ASSERT_EQ(cursor().GetRecordBuffer(grmPrior), grrOK);
    EXPECT_EQ(cursor().CurrentRecordID.PageNo, want.back());
    table().SetRecNo(cursor(), 1);
    EXPECT_EQ(cursor().GetRecordBuffer(grmPrior), grrBOF);
    EXPECT_EQ(cursor().GetRecordBuffer(grmPrior), grrBOF);
    ASSERT_EQ(cursor().GetRecordBuffer(grmNext), grrOK);
    EXPECT_EQ(cursor().CurrentRecordID.PageNo, want.front());
  }
}

TEST_F(MemoryTableTest, PagesRoundTripThroughAStreamByteForByte) {
  std::mt19937 rng(3);
  for (int i = 0; i < 3000; ++i)
    Insert(RandomRow(rng));
  TVEZMemoryStream first;
  table().MemoryPageManager().SaveToStream(first);
  first.SetPosition(0);
  TVEZMemoryPageManager copy;
  copy.LoadFromStream(first);
  TVEZMemoryStream second;
  copy.SaveToStream(second);
  ASSERT_EQ(first.Size(), second.Size());
  std::vector<std::uint8_t> a(static_cast<std::size_t>(first.Size())), b(a.size());
  first.SetPosition(0);
  second.SetPosition(0);
  first.Read(a.data(), static_cast<std::int32_t>(a.size()));
  second.Read(b.data(), static_cast<std::int32_t>(b.size()));
  EXPECT_EQ(a, b);
  EXPECT_GT(copy.GetPageCount(), 10);
}

TEST(MemoryDatabaseTest, HandsOutIdsSessionZeroAndDeletesTables) {
  test::TMemoryTableFixture fx;
  EXPECT_EQ(fx.Session().SessionID, 0);
  EXPECT_EQ(fx.Db().DatabaseName(), "MEMORY");
  const std::int32_t next = fx.Db().GetNewObjectId();
  EXPECT_EQ(fx.Db().GetNewObjectId(), next + 1);
  // An open table is not deleted.
  EXPECT_EQ(NativeErrorOf([&] { fx.Table().DeleteTable(nullptr, false); }), 20017);
  EXPECT_EQ(fx.Db().TableDataList().size(), 1u);
  fx.Cursor().Close();
  fx.Table().DeleteTable(nullptr, false);
  EXPECT_TRUE(fx.Db().TableDataList().empty());
}

TEST(MemoryDatabaseTest, TheProcessDatabaseIsListedAtStartUp) {
  // Found by name without a call that would make it.
  TVEZDatabaseData* found = DatabaseDataList().Find([](TVEZDatabaseData* d) {
    return d->DatabaseName() == TVEZMemoryDatabaseData::kDatabaseName;
  });
  ASSERT_NE(found, nullptr);
  EXPECT_NE(dynamic_cast<TVEZMemoryDatabaseData*>(found), nullptr);
}

TEST(MemoryDatabaseTest, TheProcessDatabaseIsListed) {
  TVEZMemoryDatabaseData& db = MemoryDatabaseData();
  EXPECT_EQ(&db, &MemoryDatabaseData());
  EXPECT_EQ(DatabaseDataList().Find([&](TVEZDatabaseData* d) { return d == &db; }), &db);
}

TEST(MemoryDatabaseTest, TableWithoutFieldsIsRefused) {
  TVEZMemoryDatabaseData db;
  test::TTestLocalCursor cursor;
  cursor.TableName = "E";
  TVEZTableData* table = db.FindOrCreateTableData(cursor);
  TVEZFieldDefs fields;
  TVEZIndexDefs indexes;
  TVEZConstraintDefs constraints;
  EXPECT_EQ(NativeErrorOf([&] { table->CreateTable(&cursor, fields, indexes, constraints); }),
            10025);
}

}  // namespace
}  // namespace vez

namespace vez {
namespace {

class MemoryTableViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 rng(99);
    for (std::int32_t i = 0; i < 120; ++i) {
      TMemRow r{i + 1, static_cast<std::int32_t>(rng() % 12), std::string(1, 'a'), std::nullopt};
      std::int32_t slot = -1;
      ASSERT_TRUE(fx_.Insert(r, slot));
      rows_[slot] = r;
    }
    for (std::int32_t slot = 3; slot < 120; slot += 7) {
      fx_.ReadSlot(slot);
      fx_.Cursor().InternalDelete();
      rows_.erase(slot);
    }
  }
  std::int32_t AOf(const std::uint8_t* buffer) {
    const TVEZFieldDef& def = *fx_.Table().FieldManager()->FieldDefs().GetDef(test::kFieldA);
    return GetLE<std::int32_t>(buffer + def.MemoryOffset);
  }
  // Slots of rows passing keep, in the order of BY_A (index) or storage.
  std::vector<std::int32_t> Expected(bool by_a, const std::function<bool(const TMemRow&)>& keep,
                                     bool distinct = false) {
    std::vector<std::int32_t> slots;
    for (const auto& [s, r] : rows_)
      if (keep(r)) slots.push_back(s);
    if (by_a)
      std::sort(slots.begin(), slots.end(), [&](std::int32_t x, std::int32_t y) {
        return std::tie(rows_[x].a, rows_[x].id) < std::tie(rows_[y].a, rows_[y].id);
      });
    if (distinct) {
      std::vector<std::int32_t> firsts;
      for (std::int32_t s : slots)
        if (firsts.empty() || rows_[firsts.back()].a != rows_[s].a) firsts.push_back(s);
      slots = firsts;
    }
    return slots;
  }
  std::vector<std::int32_t> Walk(bool forward) {
    test::TTestLocalCursor& c = fx_.Cursor();
    if (forward)
      c.InternalFirst();
    else
      c.InternalLast();
    std::vector<std::int32_t> slots;
    while (c.GetRecordBuffer(forward ? grmNext : grmPrior) == grrOK)
      slots.push_back(c.CurrentRecordID.PageNo);
    if (!forward) std::reverse(slots.begin(), slots.end());
    return slots;
  }
  void CheckView(const std::vector<std::int32_t>& want) {
    test::TTestLocalCursor& c = fx_.Cursor();
    EXPECT_EQ(Walk(true), want);
    // Past the last record the cursor keeps its place.
    EXPECT_EQ(c.GetRecordBuffer(grmNext), grrEOF);
    if (!want.empty()) {
      EXPECT_EQ(c.CurrentRecordID.PageNo, want.back());
    }
    EXPECT_EQ(Walk(false), want);
    // Next from EOF and Prior from BOF stay there, with no wrap to the other end.
    c.InternalLast();
    EXPECT_EQ(c.GetRecordBuffer(grmNext), grrEOF);
    EXPECT_TRUE(c.LastPosition);
    c.InternalFirst();
    EXPECT_EQ(c.GetRecordBuffer(grmPrior), grrBOF);
    EXPECT_TRUE(c.FirstPosition);
    ASSERT_EQ(fx_.Table().GetRecordCount(c), static_cast<std::int64_t>(want.size()));
    for (std::size_t n = 1; n <= want.size(); ++n) {
      fx_.Table().SetRecNo(c, static_cast<std::int64_t>(n));
      ASSERT_EQ(c.CurrentRecordID.PageNo, want[n - 1]);
      ASSERT_EQ(fx_.Table().GetRecNo(c), static_cast<std::int64_t>(n));
    }
  }

  TMemoryTableFixture fx_;
  std::map<std::int32_t, TMemRow> rows_;
};

TEST_F(MemoryTableViewTest, FilteredViewsInEveryOrder) {
  test::TTestLocalCursor& c = fx_.Cursor();
  c.FilterRecord = [&](std::uint8_t* buffer, void*) { return AOf(buffer) % 3 == 0; };
  for (bool by_a : {false, true}) {
    SCOPED_TRACE(by_a);
    c.IndexID = by_a ? fx_.IndexID(0) : -1;
    CheckView(Expected(by_a, [](const TMemRow& r) { return r.a % 3 == 0; }));
  }
  // A record the view no longer shows is not re-read.
  c.IndexID = -1;
  c.FilterRecord = nullptr;
  fx_.ReadSlot(0);
  c.FilterRecord = [&](std::uint8_t* buffer, void*) { return AOf(buffer) != rows_[0].a; };
  // A new filter drops the view's record bitmap, as the cursor's setters do.
  c.DisableRecordBitmap();
  EXPECT_EQ(c.GetRecordBuffer(grmCurrent), grrError);
  EXPECT_EQ(fx_.Table().GetRecNo(c), -1);
  // A filter that rejects everything: empty view, the cursor stays.
  c.FilterRecord = [](std::uint8_t*, void*) { return false; };
  c.DisableRecordBitmap();
  c.InternalFirst();
  EXPECT_EQ(c.GetRecordBuffer(grmNext), grrEOF);
  EXPECT_TRUE(c.FirstPosition);
  EXPECT_EQ(fx_.Table().GetRecordCount(c), 0);
}

TEST_F(MemoryTableViewTest, RestrictedMovesGoOnFromARecordDeletedUnderTheCursor) {
  test::TTestLocalCursor& c = fx_.Cursor();
  c.FilterRecord = [](std::uint8_t*, void*) { return true; };
  {
    // Storage order: an index finds the closest key, past every equal one.
    const bool by_a = false;
    c.IndexID = -1;
    const std::vector<std::int32_t> before = Expected(by_a, [](const TMemRow&) { return true; });
    const std::size_t at = before.size() / 2;
    // The cursor keeps its record and buffer while the record goes away
    // (as when another cursor deletes it).
    fx_.ReadSlot(before[at]);
    const TVEZPageItemID id = c.CurrentRecordID;
    const std::vector<std::uint8_t> kept(c.CurrentRecordBuffer,
                                         c.CurrentRecordBuffer + c.RecordBufferSize);
    c.InternalDelete();
    rows_.erase(before[at]);
    c.CurrentRecordID = id;
    c.FirstPosition = c.LastPosition = false;
    std::copy(kept.begin(), kept.end(), c.CurrentRecordBuffer);
    ASSERT_EQ(c.GetRecordBuffer(grmNext), grrOK);
    EXPECT_EQ(c.CurrentRecordID.PageNo, before[at + 1]);
    c.CurrentRecordID = id;
    std::copy(kept.begin(), kept.end(), c.CurrentRecordBuffer);
    ASSERT_EQ(c.GetRecordBuffer(grmPrior), grrOK);
    EXPECT_EQ(c.CurrentRecordID.PageNo, before[at - 1]);
  }
}

TEST_F(MemoryTableViewTest, RangesAndDistinctOnAnIndex) {
  test::TTestLocalCursor& c = fx_.Cursor();
  c.IndexID = fx_.IndexID(0);
  auto key_of = [&](std::int32_t a) {
    c.NewRecord();
    fx_.Fill({0, a, "", std::nullopt});
    return std::vector<std::uint8_t>(c.CurrentRecordBuffer,
                                     c.CurrentRecordBuffer + c.RecordBufferSize);
  };
  std::vector<std::uint8_t> low = key_of(3), high = key_of(7);
  struct Case {
    bool start_exclusive, end_exclusive;
  };
  for (const Case& k : {Case{false, false}, Case{true, false}, Case{false, true}}) {
    SCOPED_TRACE(testing::Message() << k.start_exclusive << k.end_exclusive);
    c.ApplyRange(low.data(), high.data(), 1, 1, k.start_exclusive, k.end_exclusive);
    CheckView(Expected(true, [&](const TMemRow& r) {
      return (k.start_exclusive ? r.a > 3 : r.a >= 3) && (k.end_exclusive ? r.a < 7 : r.a <= 7);
    }));
    if (HasFatalFailure()) return;
  }
  // Start above the end: nothing.
  c.ApplyRange(high.data(), low.data(), 1, 1, false, false);
  CheckView({});
  c.ResetRange();
  // Distinct on the first index field: one record per value of A.
  c.DistinctFieldCount = 1;
  const std::vector<std::int32_t> firsts = Expected(
      true, [](const TMemRow&) { return true; }, true);
  EXPECT_EQ(Walk(true), firsts);
  EXPECT_EQ(fx_.Table().GetRecordCount(c), static_cast<std::int64_t>(firsts.size()));
  c.DistinctFieldCount = 0;
}

}  // namespace
}  // namespace vez

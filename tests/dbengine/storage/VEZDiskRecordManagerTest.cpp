// Disk record storage: records of every column type through record pages of a
// database file, page geometry, navigation, record numbers, the record page
// index rebuild, a model test against a std::map, and failed inserts that
// leave nothing behind.
#include "dbengine/storage/VEZDiskRecordManager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "platform/core/Exceptions.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/DiskRecordTestSupport.h"
#include "tests/dbengine/storage/TableTestSupport.h"

namespace vez::test {
namespace {

using Rec = std::vector<std::uint8_t>;

bool operator<(const TVEZPageItemID& a, const TVEZPageItemID& b) {
  return a.PageNo != b.PageNo ? a.PageNo < b.PageNo : a.PageItemNo < b.PageItemNo;
}
struct IdLess {
  bool operator()(const TVEZPageItemID& a, const TVEZPageItemID& b) const { return a < b; }
};

// A memory record whose BLOB handle bytes are zero (they never reach the page).
Rec RandomRecord(DiskTable& t, std::mt19937& rng) {
  Rec r(static_cast<std::size_t>(t.RecordSize()));
  for (auto& b : r)
    b = static_cast<std::uint8_t>(rng());
  for (std::int32_t i = 0; i < t.FieldManager().FieldCount(); ++i) {
    const TVEZFieldDef& d = *t.Fields().GetDef(i);
    if (d.MemoryDataSize != d.DiskDataSize)
      std::memset(r.data() + d.MemoryOffset + d.DiskDataSize, 0,
                  static_cast<std::size_t>(d.MemoryDataSize - d.DiskDataSize));
  }
  // Bits past the last field in the null bitmap are kept too; nothing clears them.
  return r;
}

Rec Read(DiskTable& t, TVEZPageItemID id, TVEZGetRecordResult* result = nullptr) {
  Rec r(static_cast<std::size_t>(t.RecordSize()), 0xEE);
  TVEZNavigationInfo info;
  info.GetRecordMode = grmCurrent;
  info.RecordID = id;
  info.RecordBuffer = r.data();
  t.RM().GetRecordBuffer(kDiskSession, info);
  if (result) *result = info.GetRecordResult;
  return r;
}

// Every record in storage order, walking forward or backward.
std::vector<std::pair<TVEZPageItemID, Rec>> Walk(DiskTable& t, bool forward) {
  std::vector<std::pair<TVEZPageItemID, Rec>> out;
  TVEZNavigationInfo info;
  Rec buf(static_cast<std::size_t>(t.RecordSize()));
  info.RecordBuffer = buf.data();
  info.FirstPosition = forward;
  info.LastPosition = !forward;
  info.GetRecordMode = forward ? grmNext : grmPrior;
  for (;;) {
    t.RM().GetRecordBuffer(kDiskSession, info);
    if (info.GetRecordResult != grrOK) break;
    out.emplace_back(info.RecordID, buf);
  }
  EXPECT_EQ(info.GetRecordResult, forward ? grrEOF : grrBOF);
  if (!forward) std::reverse(out.begin(), out.end());
  return out;
}

void AddEveryType(TVEZFieldDefs& defs) {
  const std::pair<TVEZAdvancedFieldType, std::int32_t> types[] = {{aftChar, 10},
                                                                  {aftString, 10},
                                                                  {aftWideChar, 10},
                                                                  {aftWideString, 10},
                                                                  {aftShortint, 0},
                                                                  {aftSmallint, 0},
                                                                  {aftInteger, 0},
                                                                  {aftLargeint, 0},
                                                                  {aftByte, 0},
                                                                  {aftWord, 0},
                                                                  {aftCardinal, 0},
                                                                  {aftAutoInc, 0},
                                                                  {aftAutoIncLargeint, 0},
                                                                  {aftSingle, 0},
                                                                  {aftDouble, 0},
                                                                  {aftExtended, 0},
                                                                  {aftBoolean, 0},
                                                                  {aftCurrency, 0},
                                                                  {aftDate, 0},
                                                                  {aftTime, 0},
                                                                  {aftDateTime, 0},
                                                                  {aftTimeStamp, 0},
                                                                  {aftBytes, 10},
                                                                  {aftVarBytes, 10},
                                                                  {aftBlob, 0},
                                                                  {aftGraphic, 0},
                                                                  {aftMemo, 0},
                                                                  {aftFormattedMemo, 0},
                                                                  {aftWideMemo, 0},
                                                                  {aftGuid, 38}};
  int n = 0;
  for (const auto& [type, size] : types)
    AddField(defs, "F" + std::to_string(n++), type, size);
}

TEST(VEZDiskRecordManagerTest, EveryFieldTypeRoundTripsThroughPagesAndReopen) {
  DiskTable t;
  AddEveryType(t.Fields());
  t.Start();
  std::mt19937 rng(7);
  std::map<TVEZPageItemID, Rec, IdLess> model;
  // Enough rows for several pages.
  const int rows = 3 * t.RM().MaxRecordsOnPage() + 5;
  for (int i = 0; i < rows; ++i) {
    Rec r = RandomRecord(t, rng);
    TVEZPageItemID id;
    ASSERT_TRUE(t.RM().AddRecord(kDiskSession, r.data(), id));
    ASSERT_FALSE(model.count(id));
    model[id] = r;
  }
  t.PM().ApplyChanges(kDiskSession);
  t.Reopen();
  EXPECT_EQ(t.RM().RecordCount, rows);
  for (const auto& [id, r] : model)
    EXPECT_EQ(Read(t, id), r);
  const auto walked = Walk(t, true);
  ASSERT_EQ(walked.size(), model.size());
  auto it = model.begin();
  for (const auto& [id, r] : walked) {
    EXPECT_EQ(id, it->first);
    EXPECT_EQ(r, it->second);
    ++it;
  }
}

// Record sizes S and M = floor((P - 1) / (S + 1/8)) with P = 4056: sizes that
// use every byte the formula allows, others that leave room, and the first
// size that fits no record.
TEST(VEZDiskRecordManagerTest, PageGeometryFillsAndOverflowsPages) {
  struct Row {
    std::int32_t record_size;
    std::int32_t max_records;  // 0: refused with 20174
  };
  const Row rows[] = {{2, 1908}, {8, 499},  {71, 57},  {100, 40}, {101, 40},
                      {2027, 2}, {2028, 1}, {4054, 1}, {4055, 0}, {6000, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "S = " << row.record_size);
    DiskTable t;
    AddField(t.Fields(), "B", aftBytes, row.record_size - 2);  // bitmap 1 + size + 1
    ASSERT_EQ(t.Fields().GetDiskRecordBufferSize(), row.record_size);
    if (row.max_records == 0) {
      EXPECT_EQ(NativeErrorOf([&] { t.Start(); }), kErrRecordTooLarge);
      continue;
    }
    t.Start();
    ASSERT_EQ(t.PM().PageDataSize(), 4056);
    EXPECT_EQ(t.RM().MaxRecordsOnPage(), row.max_records);
    std::mt19937 rng(static_cast<unsigned>(row.record_size));
    std::set<std::int32_t> pages;
    std::vector<Rec> recs;
    // A page's worth, then one more: the extra record opens a second page.
    for (std::int32_t i = 0; i <= row.max_records; ++i) {
      recs.push_back(RandomRecord(t, rng));
      TVEZPageItemID id;
      ASSERT_TRUE(t.RM().AddRecord(kDiskSession, recs.back().data(), id));
      pages.insert(id.PageNo);
      if (i < row.max_records) {
        EXPECT_EQ(id.PageItemNo, i);
        EXPECT_EQ(pages.size(), 1u);
      } else {
        EXPECT_EQ(id.PageItemNo, 0);
        EXPECT_EQ(pages.size(), 2u);
      }
    }
    t.PM().ApplyChanges(kDiskSession);
    // Stored bytes: slot map of ceil(M / 8) bytes, then slot n at ceil(M/8) + n*S.
    const auto file = ReadAll(t.FileName());
    const std::int64_t page_off = t.PM().GetPageOffset(*pages.begin());
    const std::uint8_t* data = file.data() + page_off + 40;
    const std::int32_t map_bytes = (row.max_records + 7) / 8;
    EXPECT_EQ(GetLE<std::uint16_t>(file.data() + page_off + 8), kPageTypeTableRecord);
    EXPECT_EQ(GetLE<std::int32_t>(file.data() + page_off + 22), kDiskTableID);
    for (std::int32_t n = 0; n < row.max_records; ++n) {
      ASSERT_TRUE(data[n / 8] & (1 << (n % 8)));
      Rec disk(static_cast<std::size_t>(row.record_size));
      t.FieldManager().MemRecordBufferToDiskRecordBuffer(recs[static_cast<std::size_t>(n)].data(),
                                                         disk.data());
      ASSERT_EQ(std::memcmp(data + map_bytes + n * row.record_size, disk.data(), disk.size()), 0);
    }
  }
}

TEST(VEZDiskRecordManagerTest, SlotReuseAndEmptyPageGoesBackToFreeSpace) {
  DiskTable t;
  AddField(t.Fields(), "B", aftBytes, 98);  // S = 100, M = 40
  t.Start();
  std::mt19937 rng(3);
  std::vector<TVEZPageItemID> ids;
  for (int i = 0; i < 45; ++i) {
    Rec r = RandomRecord(t, rng);
    ids.emplace_back();
    ASSERT_TRUE(t.RM().AddRecord(kDiskSession, r.data(), ids.back()));
  }
  t.PM().ApplyChanges(kDiskSession);
  const std::int32_t first_page = ids[0].PageNo, second_page = ids[40].PageNo;
  // Emptying the second page gives it back; after the commit its bit is clear.
  for (int i = 40; i < 45; ++i)
    ASSERT_TRUE(t.RM().DeleteRecord(kDiskSession, ids[static_cast<std::size_t>(i)]));
  t.PM().ApplyChanges(kDiskSession);
  EXPECT_FALSE(t.PM().FreeSpaceManager()->GetPageUsageFromPFS(second_page));
  EXPECT_TRUE(t.PM().FreeSpaceManager()->GetPageUsageFromPFS(first_page));
  // Freed slots 3 and 7: the next insert takes slot 3, then slot 7.
  for (int i : {7, 3})
    ASSERT_TRUE(t.RM().DeleteRecord(kDiskSession, ids[static_cast<std::size_t>(i)]));
  // A freed slot keeps no record: update, delete and read all refuse it.
  Rec r = RandomRecord(t, rng);
  EXPECT_FALSE(t.RM().UpdateRecord(kDiskSession, r.data(), ids[3]));
  EXPECT_FALSE(t.RM().DeleteRecord(kDiskSession, ids[3]));
  TVEZGetRecordResult res = grrOK;
  Read(t, ids[3], &res);
  EXPECT_EQ(res, grrError);
  // So does a slot number past the page's slots.
  EXPECT_FALSE(t.RM().UpdateRecord(kDiskSession, r.data(), {first_page, 40}));
  TVEZPageItemID past{first_page, 0xFFFF};
  EXPECT_FALSE(t.RM().DeleteRecord(kDiskSession, past));
  for (std::uint16_t want : {3, 7}) {
    TVEZPageItemID id;
    ASSERT_TRUE(t.RM().AddRecord(kDiskSession, r.data(), id));
    EXPECT_EQ(id, (TVEZPageItemID{first_page, want}));
  }
  EXPECT_EQ(t.RM().RecordCount, 40);
  std::int32_t last = 0;
  ASSERT_TRUE(t.RM().RecordPageIndex().GetLastRecordPage(kDiskSession, last));
  EXPECT_EQ(last, first_page);
  t.RM().ValidateRecordPageIndex(kDiskSession);
}

TEST(VEZDiskRecordManagerTest, NavigationEdges) {
  DiskTable t;
  AddField(t.Fields(), "I", aftInteger);
  t.Start();
  TVEZNavigationInfo info;
  for (TVEZGetRecordMode mode : {grmNext, grmPrior, grmCurrent}) {
    info.GetRecordMode = mode;
    t.RM().GetRecordBuffer(kDiskSession, info);
    EXPECT_EQ(info.GetRecordResult, grrEOF);
  }
  std::mt19937 rng(1);
  std::vector<TVEZPageItemID> ids(3);
  for (auto& id : ids) {
    Rec r = RandomRecord(t, rng);
    ASSERT_TRUE(t.RM().AddRecord(kDiskSession, r.data(), id));
  }
  const struct {
    bool first, last;
    TVEZGetRecordMode mode;
    TVEZGetRecordResult result;
  } cases[] = {{true, false, grmPrior, grrBOF},
               {true, false, grmCurrent, grrError},
               {false, true, grmNext, grrEOF},
               {false, true, grmCurrent, grrError}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << c.last << int(c.mode));
    TVEZNavigationInfo i2;
    i2.FirstPosition = c.first;
    i2.LastPosition = c.last;
    i2.GetRecordMode = c.mode;
    t.RM().GetRecordBuffer(kDiskSession, i2);
    EXPECT_EQ(i2.GetRecordResult, c.result);
    EXPECT_EQ(i2.FirstPosition, c.first);
  }
  // Record numbers: 1 is the first occupied slot of the first page.
  TVEZPageItemID id;
  t.RM().SetRecNo(kDiskSession, 1, id);
  EXPECT_EQ(id, ids[0]);
  EXPECT_EQ(t.RM().GetRecNo(kDiskSession, ids[2]), 3);
  EXPECT_EQ(t.RM().GetApproximateRecNo(kDiskSession, ids[2]), 1);
  // Moving back from a page that is no longer a record page of the table
  // lands on the last record; moving forward from it ends the walk.
  TVEZPage* other = t.PM().AddPage(kDiskSession, kPageTypeTableRecord);
  other->PageHeader().SetObjectID(kDiskTableID + 1);
  const std::int32_t other_no = other->PageNo();
  t.PM().PutPage(other);
  TVEZNavigationInfo back;
  back.GetRecordMode = grmPrior;
  back.RecordID = {other_no, 0};
  t.RM().GetRecordBuffer(kDiskSession, back);
  EXPECT_EQ(back.GetRecordResult, grrOK);
  EXPECT_EQ(back.RecordID, ids[2]);
  back.GetRecordMode = grmNext;
  back.RecordID = {other_no, 0};
  t.RM().GetRecordBuffer(kDiskSession, back);
  EXPECT_EQ(back.GetRecordResult, grrEOF);
  // Only the id is wanted when no buffer is given.
  TVEZNavigationInfo ids_only;
  ids_only.FirstPosition = true;
  ids_only.GetRecordMode = grmNext;
  t.RM().GetRecordBuffer(kDiskSession, ids_only);
  EXPECT_EQ(ids_only.GetRecordResult, grrOK);
  EXPECT_EQ(ids_only.RecordID, ids[0]);
  EXPECT_EQ(t.RM().CompareRecordID(ids[0], ids[0]), 0);
  EXPECT_LT(t.RM().CompareRecordID({2, 5}, {3, 0}), 0);
  EXPECT_GT(t.RM().CompareRecordID({3, 0xFFFF}, {3, 1}), 0);
}

// The model: random adds, updates, deletes and reads against a std::map keyed
// by record id (which is storage order), with commits along the way, slot
// reuse counted, and walks, record numbers and the index checked at intervals.
TEST(VEZDiskRecordManagerTest, ModelTestOfRandomOperations) {
  DiskTable t;
  AddField(t.Fields(), "I", aftInteger);
  AddField(t.Fields(), "S", aftString, 40);
  AddField(t.Fields(), "M", aftMemo);
  t.Start();
  // 100,000 operations take a few seconds in the optimised build; the
  // sanitizer build (about eight times slower) runs 20,000.
#if defined(__SANITIZE_ADDRESS__)
  const int kOps = 20000;
#else
  const int kOps = 100000;
#endif
  std::mt19937 rng(20);
  std::map<TVEZPageItemID, Rec, IdLess> model;
  std::set<TVEZPageItemID, IdLess> ever;
  int reused = 0;
  for (int op = 0; op < kOps; ++op) {
    const unsigned pick = rng() % 100;
    // Adds lead while the table is small so that it spans many pages.
    const bool grow = model.size() < 3000;
    if (model.empty() || pick < (grow ? 55u : 35u)) {
      Rec r = RandomRecord(t, rng);
      TVEZPageItemID id;
      ASSERT_TRUE(t.RM().AddRecord(kDiskSession, r.data(), id));
      ASSERT_FALSE(model.count(id)) << op;
      reused += ever.count(id) ? 1 : 0;
      ever.insert(id);
      model[id] = r;
    } else {
      auto it = model.begin();
      std::advance(it, static_cast<long>(rng() % model.size()));
      if (pick < 70) {
        TVEZPageItemID id = it->first;
        ASSERT_TRUE(t.RM().DeleteRecord(kDiskSession, id));
        model.erase(it);
        ASSERT_FALSE(t.RM().DeleteRecord(kDiskSession, id));
      } else if (pick < 85) {
        Rec r = RandomRecord(t, rng);
        ASSERT_TRUE(t.RM().UpdateRecord(kDiskSession, r.data(), it->first));
        it->second = r;
      } else {
        ASSERT_EQ(Read(t, it->first), it->second);
        ASSERT_EQ(t.RM().GetRecNo(kDiskSession, it->first), std::distance(model.begin(), it) + 1);
      }
    }
    ASSERT_EQ(t.RM().RecordCount, static_cast<std::int64_t>(model.size()));
    if (op % 1000 == 999) t.PM().ApplyChanges(kDiskSession);
    if (op % 5000 == 4999) {
      const auto walked = Walk(t, op % 2 == 0);
      ASSERT_EQ(walked.size(), model.size());
      auto m = model.begin();
      for (const auto& [id, r] : walked) {
        ASSERT_EQ(id, m->first);
        ASSERT_EQ(r, m->second);
        ++m;
      }
      t.RM().ValidateRecordPageIndex(kDiskSession);
    }
  }
  EXPECT_GT(reused, kOps / 20);
  t.PM().ApplyChanges(kDiskSession);
  t.Reopen();
  for (const auto& [id, r] : model)
    ASSERT_EQ(Read(t, id), r);
  t.RM().ValidateRecordPageIndex(kDiskSession);
}

// A failed insert raises instead of answering False with its counters raised;
// after the caller drops the session's changes, the next commit holds only
// what was there before.
TEST(VEZDiskRecordManagerTest, FailedAddRecordRaisesAndLeavesNothingAfterCancel) {
  DiskTable t;
  AddField(t.Fields(), "B", aftBytes, 98);  // M = 40
  t.Start();
  std::mt19937 rng(5);
  std::map<TVEZPageItemID, Rec, IdLess> model;
  for (int i = 0; i < 40; ++i) {
    Rec r = RandomRecord(t, rng);
    TVEZPageItemID id;
    ASSERT_TRUE(t.RM().AddRecord(kDiskSession, r.data(), id));
    model[id] = r;
  }
  t.PM().ApplyChanges(kDiskSession);
  const std::int32_t state = t.RM().TableState;
  // The page is full: the next record needs a new page, and the file's growth fails.
  FaultFileSystem fs;
  {
    platform::ScopedFileSystem scope(fs);
    t.Reopen();
    fs.plan.fail_at = fs.plan.mutations;
    Rec r = RandomRecord(t, rng);
    TVEZPageItemID id{-5, 9};
    EXPECT_THROW(t.RM().AddRecord(kDiskSession, r.data(), id), platform::Exception);
    EXPECT_EQ(id, (TVEZPageItemID{-5, 9}));
    EXPECT_EQ(t.RM().RecordCount, 40);
    EXPECT_EQ(t.RM().TableState, state);
    fs.plan.fail_at = -1;
    t.PM().CancelChanges(kDiskSession);
    t.PM().ApplyChanges(kDiskSession);
    t.Reopen();
  }
  EXPECT_EQ(t.RM().RecordCount, 40);
  const auto walked = Walk(t, true);
  ASSERT_EQ(walked.size(), 40u);
  t.RM().ValidateRecordPageIndex(kDiskSession);
  // And the table still takes records.
  Rec r = RandomRecord(t, rng);
  TVEZPageItemID id;
  ASSERT_TRUE(t.RM().AddRecord(kDiskSession, r.data(), id));
  EXPECT_EQ(Read(t, id), r);
}

TEST(VEZDiskRecordManagerTest, RebuildCountsOnlyUsedRecordPagesOfTheTable) {
  DiskTable t;
  AddField(t.Fields(), "B", aftBytes, 98);  // M = 40
  t.Start();
  std::mt19937 rng(9);
  for (int i = 0; i < 95; ++i) {
    Rec r = RandomRecord(t, rng);
    TVEZPageItemID id;
    ASSERT_TRUE(t.RM().AddRecord(kDiskSession, r.data(), id));
  }
  // A record page of another table, and a BLOB page of this one.
  TVEZPage* other = t.PM().AddPage(kDiskSession, kPageTypeTableRecord);
  other->PageHeader().SetObjectID(kDiskTableID + 1);
  other->PageData()[0] = 0xFF;
  t.PM().PutPage(other);
  TVEZPage* blob = t.PM().AddPage(kDiskSession, kPageTypeTableBlob);
  blob->PageHeader().SetObjectID(kDiskTableID);
  blob->PageData()[0] = 0xFF;
  t.PM().PutPage(blob);
  t.PM().ApplyChanges(kDiskSession);
  t.RM().RebuildRecordPageIndex(kDiskSession);
  EXPECT_EQ(t.RM().RecordCount, 95);
  t.RM().ValidateRecordPageIndex(kDiskSession);
  EXPECT_EQ(Walk(t, true).size(), 95u);
}

TEST(VEZDiskRecordManagerTest, MostUpdatedStateAndMetadataAreChecked) {
  DiskTable t;
  AddField(t.Fields(), "I", aftInteger);
  t.Start();
  std::uint8_t buf[12] = {};
  std::int32_t off = 4;
  t.RM().TableState = 0x01020304;
  t.RM().RecordCount = 9;
  t.RM().SaveMostUpdated(buf, sizeof buf, off);
  EXPECT_EQ(off, 12);
  EXPECT_EQ(GetLE<std::int32_t>(buf + 4), 0x01020304);
  EXPECT_EQ(GetLE<std::int32_t>(buf + 8), 9);
  off = 5;
  EXPECT_EQ(NativeErrorOf([&] { t.RM().LoadMostUpdated(buf, sizeof buf, off); }),
            kErrMostUpdatedData);
  EXPECT_EQ(off, 5);
  PutLE<std::int32_t>(buf + 8, -1);
  off = 4;
  EXPECT_EQ(NativeErrorOf([&] { t.RM().LoadMostUpdated(buf, sizeof buf, off); }),
            kErrMostUpdatedData);
  EXPECT_EQ(t.RM().RecordCount, 9);
}

}  // namespace
}  // namespace vez::test

#include "dbengine/storage/VEZMemoryRecordManager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "dbengine/foundation/VEZMemoryManager.h"
#include "tests/common/NativeError.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

constexpr std::int32_t kSize = 12;

std::vector<std::uint8_t> Rec(std::uint32_t v) {
  std::vector<std::uint8_t> r(kSize, 0);
  std::memcpy(r.data(), &v, 4);
  return r;
}

std::int32_t Add(TVEZMemoryRecordManager& m, std::uint32_t v) {
  TVEZPageItemID id{-5, 9};
  EXPECT_TRUE(m.AddRecord(0, Rec(v).data(), id));
  EXPECT_EQ(id.PageItemNo, 0);
  return id.PageNo;
}

// Walks in storage order, forward or backward, and returns the slots met.
std::vector<std::int32_t> Walk(TVEZMemoryRecordManager& m, bool forward) {
  std::vector<std::uint8_t> buf(kSize);
  TVEZNavigationInfo info;
  info.RecordBuffer = buf.data();
  info.FirstPosition = forward;
  info.LastPosition = !forward;
  info.GetRecordMode = forward ? grmNext : grmPrior;
  std::vector<std::int32_t> slots;
  for (;;) {
    m.GetRecordBuffer(0, info);
    if (info.GetRecordResult != grrOK) break;
    slots.push_back(info.RecordID.PageNo);
  }
  return slots;
}

TEST(VEZMemoryRecordManagerTest, ZeroRecordSizeIsRefused) {
  EXPECT_EQ(NativeErrorOf([] { TVEZMemoryRecordManager m(0, 10); }), 10011);
}

TEST(VEZMemoryRecordManagerTest, DeletedMiddleRecordIsSkippedAndNumbered) {
  TVEZMemoryRecordManager m(kSize, 1000);
  for (std::uint32_t v : {10u, 11u, 12u})
    Add(m, v);
  TVEZPageItemID id{1, 0};
  ASSERT_TRUE(m.DeleteRecord(0, id));
  EXPECT_EQ(Walk(m, true), (std::vector<std::int32_t>{0, 2}));
  EXPECT_EQ(Walk(m, false), (std::vector<std::int32_t>{2, 0}));
  EXPECT_EQ(m.RecNoOfSlot(2), 2);
  EXPECT_EQ(m.RecNoOfSlot(1), 1);  // a free slot: the record before it
  EXPECT_EQ(m.SlotOfRecNo(2), 2);
  EXPECT_EQ(m.SlotOfRecNo(3), -1);  // past the count
  EXPECT_EQ(m.SlotOfRecNo(0), -1);
  // A deleted slot is neither updated nor deleted again.
  EXPECT_FALSE(m.UpdateRecord(0, Rec(99).data(), {1, 0}));
  const std::int32_t state = m.TableState;
  EXPECT_FALSE(m.DeleteRecord(0, id));
  EXPECT_EQ(m.TableState, state);
  EXPECT_EQ(m.RecordCount, 2);
}

TEST(VEZMemoryRecordManagerTest, RecordNumberAfterAByteBoundary) {
  TVEZMemoryRecordManager m(kSize, 1000);
  for (std::uint32_t v = 0; v < 10; ++v)
    Add(m, v);
  TVEZPageItemID id{8, 0};
  ASSERT_TRUE(m.DeleteRecord(0, id));
  EXPECT_EQ(m.SlotOfRecNo(8), 7);
  EXPECT_EQ(m.SlotOfRecNo(9), 9);
  EXPECT_EQ(m.RecNoOfSlot(9), 9);
}

TEST(VEZMemoryRecordManagerTest, DeletingTheLastMovesTheIdentityAndEmptyRestartsAtZero) {
  TVEZMemoryRecordManager m(kSize, 4);
  for (std::uint32_t v = 0; v < 6; ++v)
    Add(m, v);
  TVEZPageItemID id{5, 0};
  ASSERT_TRUE(m.DeleteRecord(0, id));
  EXPECT_EQ(id.PageNo, 4);
  EXPECT_EQ(m.LastRecordID(), 4);
  EXPECT_EQ(Add(m, 50), 5);  // free slots at the end are taken again
  for (std::int32_t s = 0; s <= 5; ++s) {
    TVEZPageItemID d{s, 0};
    ASSERT_TRUE(m.DeleteRecord(0, d));
  }
  EXPECT_EQ(m.RecordCount, 0);
  EXPECT_EQ(Add(m, 7), 0);
  const std::int32_t state = m.TableState;
  m.Empty(0);
  EXPECT_NE(m.TableState, state);  // cached positions must notice
  EXPECT_EQ(m.RecordCount, 0);
  EXPECT_EQ(Add(m, 8), 0);
}

TEST(VEZMemoryRecordManagerTest, EndsReadTheSameWayEverywhere) {
  TVEZMemoryRecordManager m(kSize, 1000);
  std::vector<std::uint8_t> buf(kSize);
  TVEZNavigationInfo info;
  info.RecordBuffer = buf.data();
  info.GetRecordMode = grmNext;
  m.GetRecordBuffer(0, info);
  EXPECT_EQ(info.GetRecordResult, grrEOF);  // empty table
  for (std::uint32_t v : {1u, 2u, 3u})
    Add(m, v);
  // Next from the last record: EOF, one past it; Prior from there: the last.
  info.FirstPosition = info.LastPosition = false;
  info.RecordID = {2, 0};
  m.GetRecordBuffer(0, info);
  EXPECT_EQ(info.GetRecordResult, grrEOF);
  EXPECT_EQ(info.RecordID.PageNo, 3);
  info.GetRecordMode = grmPrior;
  m.GetRecordBuffer(0, info);
  ASSERT_EQ(info.GetRecordResult, grrOK);
  EXPECT_EQ(info.RecordID.PageNo, 2);
  // A slot number far past the end (inside the allocation) is EOF for Next,
  // and a Prior from it finds the last record; below the first, BOF.
  for (std::int32_t s : {3, 500, 999, 5000}) {
    SCOPED_TRACE(s);
    info.FirstPosition = info.LastPosition = false;
    info.RecordID = {s, 0};
    info.GetRecordMode = grmNext;
    m.GetRecordBuffer(0, info);
    EXPECT_EQ(info.GetRecordResult, grrEOF);
    info.FirstPosition = info.LastPosition = false;
    info.RecordID = {s, 0};
    info.GetRecordMode = grmPrior;
    m.GetRecordBuffer(0, info);
    EXPECT_EQ(info.GetRecordResult, grrOK);
    EXPECT_EQ(info.RecordID.PageNo, 2);
    info.RecordID = {s, 0};
    info.GetRecordMode = grmCurrent;
    m.GetRecordBuffer(0, info);
    EXPECT_EQ(info.GetRecordResult, grrError);
  }
  info.FirstPosition = info.LastPosition = false;
  info.RecordID = {0, 0};
  info.GetRecordMode = grmPrior;
  m.GetRecordBuffer(0, info);
  EXPECT_EQ(info.GetRecordResult, grrBOF);
  EXPECT_TRUE(info.FirstPosition);
}

TEST(VEZMemoryRecordManagerTest, ApproximateRecNoStaysInRange) {
  TVEZMemoryRecordManager m(kSize, 1000);
  for (std::uint32_t v = 0; v < 100; ++v)
    Add(m, v);
  for (std::int32_t s = 1; s < 99; s += 2) {
    TVEZPageItemID id{s, 0};
    ASSERT_TRUE(m.DeleteRecord(0, id));
  }
  for (std::int32_t s = 0; s <= 99; ++s) {
    const std::int64_t n = m.GetApproximateRecNo(0, {s, 0});
    EXPECT_GE(n, 1);
    EXPECT_LE(n, m.RecordCount);
  }
  EXPECT_EQ(m.GetApproximateRecNo(0, {0, 0}), 1);
  EXPECT_EQ(m.GetApproximateRecNo(0, {99, 0}), m.RecordCount);
  EXPECT_EQ(m.GetApproximateRecNo(0, {100, 0}), -1);
}

TEST(VEZMemoryRecordManagerTest, RefusedGrowthLeavesTheRecordsAsTheyWere) {
  TVEZMemoryRecordManager m(kSize, 1000);
  for (std::uint32_t v = 0; v < 1000; ++v)
    Add(m, v);
  const std::int64_t limit = MemoryManager().MaxMemorySize();
  MemoryManager().SetMaxMemorySize(MemoryManager().TotalMemAllocated() + 100);
  TVEZPageItemID id{-1, 0};
  const bool added = m.AddRecord(0, Rec(1000).data(), id);
  MemoryManager().SetMaxMemorySize(limit);
  EXPECT_FALSE(added);
  EXPECT_EQ(m.RecordCount, 1000);
  EXPECT_EQ(m.AllocatedRecordCount(), 1000);
  EXPECT_EQ(Walk(m, true).size(), 1000u);
  EXPECT_EQ(Add(m, 1000), 1000);  // with room again, the add works
}

TEST(VEZMemoryRecordManagerTest, RandomOperationsAgreeWithAModel) {
  std::mt19937 rng(1234);
  TVEZMemoryRecordManager m(kSize, 7);
  std::map<std::int32_t, std::uint32_t> model;  // slot -> value
  for (int step = 0; step < 4000; ++step) {
    const int op = static_cast<int>(rng() % 10);
    if (op < 5 || model.empty()) {
      const std::uint32_t v = rng();
      const std::int32_t slot = Add(m, v);
      EXPECT_TRUE(model.empty() || slot == model.rbegin()->first + 1);
      model[slot] = v;
    } else if (op < 8) {
      auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
      TVEZPageItemID id{it->first, 0};
      ASSERT_TRUE(m.DeleteRecord(0, id));
      model.erase(it);
    } else {
      auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
      it->second = rng();
      ASSERT_TRUE(m.UpdateRecord(0, Rec(it->second).data(), {it->first, 0}));
    }
    ASSERT_EQ(m.RecordCount, static_cast<std::int64_t>(model.size()));
    if (step % 97 != 0) continue;
    std::vector<std::int32_t> slots;
    for (const auto& [s, v] : model)
      slots.push_back(s);
    ASSERT_EQ(Walk(m, true), slots);
    std::int64_t no = 0;
    for (const auto& [s, v] : model) {
      ++no;
      ASSERT_EQ(m.SlotOfRecNo(no), s);
      ASSERT_EQ(m.RecNoOfSlot(s), no);
      ASSERT_EQ(std::memcmp(m.SlotData(s), Rec(v).data(), kSize), 0);
    }
  }
}

}  // namespace
}  // namespace vez

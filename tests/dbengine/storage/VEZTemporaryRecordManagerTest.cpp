#include "dbengine/storage/VEZTemporaryRecordManager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/TemporaryTestSupport.h"

using vez::test::FailingTempFileSystem;
using vez::test::LimitForTenthOf;
using vez::test::NativeErrorOf;
using vez::test::ScopedMemoryLimit;

namespace vez {
namespace {

constexpr std::int32_t kRecordSize = 37;

std::vector<std::uint8_t> MakeRecord(std::mt19937& rng) {
  std::vector<std::uint8_t> r(kRecordSize);
  for (auto& b : r)
    b = static_cast<std::uint8_t>(rng());
  return r;
}

std::unique_ptr<TVEZTemporaryRecordManager> MakeSmall(std::int32_t cached_records,
                                                      std::int32_t per_page, bool disable) {
  ScopedMemoryLimit limit(LimitForTenthOf(static_cast<std::int64_t>(cached_records) * kRecordSize));
  return std::make_unique<TVEZTemporaryRecordManager>(kRecordSize, per_page, 7, disable);
}

// Walks the table forwards and backwards and compares with the oracle.
void ExpectSameAsModel(TVEZTemporaryRecordManager& rm,
                       const std::vector<std::vector<std::uint8_t>>& model) {
  std::vector<std::uint8_t> buf(kRecordSize);
  TVEZNavigationInfo info;
  info.RecordBuffer = buf.data();
  info.FirstPosition = true;
  info.GetRecordMode = grmNext;
  for (std::size_t i = 0; i < model.size(); ++i) {
    rm.GetRecordBuffer(0, info);
    ASSERT_EQ(info.GetRecordResult, grrOK) << i;
    ASSERT_EQ(TVEZTemporaryRecordManager::RecordNoOf(info.RecordID), static_cast<std::int64_t>(i));
    ASSERT_EQ(buf, model[i]) << i;
  }
  rm.GetRecordBuffer(0, info);
  EXPECT_EQ(info.GetRecordResult, model.empty() ? grrEOF : grrEOF);
  EXPECT_TRUE(model.empty() || info.LastPosition);
  info.GetRecordMode = grmPrior;
  for (std::size_t i = model.size(); i-- > 0;) {
    rm.GetRecordBuffer(0, info);
    ASSERT_EQ(info.GetRecordResult, grrOK) << i;
    ASSERT_EQ(buf, model[i]) << i;
  }
  if (!model.empty()) {
    rm.GetRecordBuffer(0, info);
    EXPECT_EQ(info.GetRecordResult, grrBOF);
    EXPECT_TRUE(info.FirstPosition);
    // From BOF the next record is the first again.
    info.GetRecordMode = grmNext;
    rm.GetRecordBuffer(0, info);
    EXPECT_EQ(info.GetRecordResult, grrOK);
    EXPECT_EQ(buf, model[0]);
  }
}

TEST(VEZTemporaryRecordManagerTest, ModelWithSpillsMidRun) {
  struct Case {
    std::int32_t cached;
    std::int32_t per_page;
    bool disable;
  };
  const Case cases[] = {
      {1, 1, false}, {5, 3, false}, {20, 10, false}, {13, 0, false}, {5, 3, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.cached << " " << c.per_page << " " << c.disable);
    auto rm = MakeSmall(c.cached, c.per_page, c.disable);
    std::mt19937 rng(static_cast<unsigned>(c.cached * 31 + c.per_page));
    std::vector<std::vector<std::uint8_t>> model;
    std::vector<std::uint8_t> buf(kRecordSize);
    for (int step = 0; step < 300; ++step) {
      if (rng() % 4 != 0) {
        auto r = MakeRecord(rng);
        TVEZPageItemID id;
        ASSERT_TRUE(rm->AddRecord(0, r.data(), id));
        EXPECT_EQ(TVEZTemporaryRecordManager::RecordNoOf(id),
                  static_cast<std::int64_t>(model.size()));
        model.push_back(r);
      } else if (!model.empty()) {
        const std::size_t n = rng() % model.size();
        TVEZNavigationInfo info;
        info.RecordBuffer = buf.data();
        info.RecordID = TVEZTemporaryRecordManager::RecordIDOf(static_cast<std::int64_t>(n));
        info.GetRecordMode = grmCurrent;
        rm->GetRecordBuffer(0, info);
        ASSERT_EQ(info.GetRecordResult, grrOK);
        ASSERT_EQ(buf, model[n]);
      }
      ASSERT_EQ(rm->RecordCount, static_cast<std::int64_t>(model.size()));
    }
    EXPECT_EQ(rm->HasSpillFile(), !c.disable);
    ExpectSameAsModel(*rm, model);
    rm->Empty(-2);
    EXPECT_EQ(rm->RecordCount, 0);
    EXPECT_FALSE(rm->HasSpillFile());
    ExpectSameAsModel(*rm, {});
  }
}

TEST(VEZTemporaryRecordManagerTest, FailedSpillWriteLeavesTheTableAsItWas) {
  FailingTempFileSystem fs;
  platform::ScopedFileSystem scope(fs);
  auto rm = MakeSmall(4, 2, false);
  std::mt19937 rng(7);
  std::vector<std::vector<std::uint8_t>> model;
  TVEZPageItemID id;
  // Fill the cache and stage two spilled records.
  while (model.size() < static_cast<std::size_t>(rm->MaxCachedRecordCount()) + 2) {
    model.push_back(MakeRecord(rng));
    ASSERT_TRUE(rm->AddRecord(0, model.back().data(), id));
  }
  fs.fail_writes = true;
  const auto lost = MakeRecord(rng);
  EXPECT_FALSE(rm->AddRecord(0, lost.data(), id));
  EXPECT_EQ(rm->RecordCount, static_cast<std::int64_t>(model.size()));
  // A read that must flush the staging page fails as an error, not as data.
  std::vector<std::uint8_t> buf(kRecordSize);
  TVEZNavigationInfo info;
  info.RecordBuffer = buf.data();
  info.RecordID =
      TVEZTemporaryRecordManager::RecordIDOf(static_cast<std::int64_t>(model.size() - 1));
  rm->GetRecordBuffer(0, info);
  EXPECT_EQ(info.GetRecordResult, grrError);
  fs.fail_writes = false;
  ExpectSameAsModel(*rm, model);
  model.push_back(MakeRecord(rng));
  ASSERT_TRUE(rm->AddRecord(0, model.back().data(), id));
  ExpectSameAsModel(*rm, model);
  ASSERT_FALSE(fs.paths.empty());
  rm.reset();
  for (const std::string& p : fs.paths)
    EXPECT_FALSE(platform::DefaultFileSystem().FileExists(p)) << p;
}

TEST(VEZTemporaryRecordManagerTest, CacheLimitFitsAnInt32AndOneBlock) {
  // The largest block the memory manager hands out.
  constexpr std::int64_t kBlock = std::numeric_limits<std::int32_t>::max() -
                                  TVEZMemoryManager::kHeadSize - TVEZMemoryManager::kTailSize;
  struct Case {
    std::int64_t free_memory;
    std::int32_t record_size;
    std::int32_t limit;
  };
  for (const Case& c : {
           Case{0, 37, 0},
           Case{369, 37, 0},
           Case{370, 37, 1},
           Case{10'000'000, 100, 10'000},
           // A machine with 32 GiB free: a tenth would pass one block.
           Case{std::int64_t{32} << 30, 64, static_cast<std::int32_t>(kBlock / 64)},
           // Far more than an Int32 of records.
           Case{std::numeric_limits<std::int64_t>::max(), 1, static_cast<std::int32_t>(kBlock)},
           Case{-5, 37, 0},
       }) {
    SCOPED_TRACE(::testing::Message() << c.free_memory << " / " << c.record_size);
    const std::int32_t limit =
        TVEZTemporaryRecordManager::MaxCachedRecordsFor(c.free_memory, c.record_size);
    EXPECT_EQ(limit, c.limit);
    EXPECT_LE(static_cast<std::int64_t>(limit) * c.record_size, kBlock);
  }
}

TEST(VEZTemporaryRecordManagerTest, FailedCacheGrowthLeavesTheTableAsItWas) {
  // Without temporary files every record must find room in the cache.
  TVEZTemporaryRecordManager rm(kRecordSize, 10, 7, true);
  std::mt19937 rng(11);
  std::vector<std::vector<std::uint8_t>> model;
  TVEZPageItemID id;
  {
    ScopedMemoryLimit limit(MemoryManager().TotalMemAllocated() + 4 * 7 * kRecordSize);
    bool refused = false;
    while (!refused && model.size() < 1000) {
      auto r = MakeRecord(rng);
      const std::int32_t state = rm.TableState;
      if (rm.AddRecord(0, r.data(), id)) {
        model.push_back(r);
        continue;
      }
      refused = true;
      EXPECT_EQ(rm.TableState, state);
    }
    ASSERT_TRUE(refused);
    EXPECT_GE(model.size(), 7u);
    EXPECT_EQ(rm.RecordCount, static_cast<std::int64_t>(model.size()));
    EXPECT_EQ(rm.CachedRecordCount(), static_cast<std::int32_t>(model.size()));
    ExpectSameAsModel(rm, model);
  }
  // With memory again the table goes on where it stopped.
  for (int i = 0; i < 50; ++i) {
    model.push_back(MakeRecord(rng));
    ASSERT_TRUE(rm.AddRecord(0, model.back().data(), id));
    EXPECT_EQ(TVEZTemporaryRecordManager::RecordNoOf(id),
              static_cast<std::int64_t>(model.size() - 1));
  }
  ExpectSameAsModel(rm, model);
  EXPECT_FALSE(rm.HasSpillFile());
}

TEST(VEZTemporaryRecordManagerTest, ErrorsAndIdentities) {
  EXPECT_EQ(NativeErrorOf([] { TVEZTemporaryRecordManager rm(0, 10, 1000, false); }), 10124);
  for (std::int64_t n : {std::int64_t{0}, std::int64_t{1}, std::int64_t{0xFFFFFFFF},
                         std::int64_t{0x123456789AB}, std::int64_t{-1}}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(TVEZTemporaryRecordManager::RecordNoOf(TVEZTemporaryRecordManager::RecordIDOf(n)), n);
  }
  TVEZTemporaryRecordManager rm(kRecordSize, 10, 1000, false);
  EXPECT_EQ(rm.CompareRecordID(rm.RecordIDOf(0x100000000), rm.RecordIDOf(5)), 1);
  EXPECT_EQ(rm.CompareRecordID(rm.RecordIDOf(5), rm.RecordIDOf(5)), 0);
  std::vector<std::uint8_t> r(kRecordSize, 1);
  TVEZPageItemID id;
  EXPECT_FALSE(rm.UpdateRecord(0, r.data(), id));
  EXPECT_FALSE(rm.DeleteRecord(0, id));
  EXPECT_EQ(rm.GetApproximateRecNo(0, id), -1);
  ASSERT_TRUE(rm.AddRecord(0, r.data(), id));
  EXPECT_EQ(rm.GetApproximateRecNo(0, id), 1);
  // Every change moves the table state: an insert, taking it back, emptying.
  std::int32_t state = rm.TableState;
  EXPECT_NE(state, 0);
  rm.DropLastRecord();
  EXPECT_EQ(rm.RecordCount, 0);
  EXPECT_NE(rm.TableState, state);
  state = rm.TableState;
  rm.Empty(-2);
  EXPECT_NE(rm.TableState, state);
}

}  // namespace
}  // namespace vez

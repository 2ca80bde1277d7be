#include "dbengine/storage/VEZTemporaryPageManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/TemporaryTestSupport.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

// Lowers the memory manager's limit for one test so that few pages fit in RAM.
class ScopedMemoryLimit {
 public:
  explicit ScopedMemoryLimit(std::int64_t limit) : old_(MemoryManager().MaxMemorySize()) {
    MemoryManager().SetMaxMemorySize(limit);
  }
  ~ScopedMemoryLimit() { MemoryManager().SetMaxMemorySize(old_); }

 private:
  std::int64_t old_;
};

std::int32_t AddFilled(TVEZTemporaryPageManager& pm, std::uint8_t fill) {
  TVEZPage* page = pm.AddPage(-2, 0);
  const std::int32_t no = page->PageNo();
  std::memset(page->PageBuffer(), fill, pm.PageSize());
  pm.PutPage(page);
  pm.ApplyChanges(-2);
  return no;
}

void ExpectFilled(TVEZTemporaryPageManager& pm, std::int32_t no, std::uint8_t fill) {
  SCOPED_TRACE(no);
  TVEZPage* page = pm.GetPage(0, no, 0, true);
  ASSERT_NE(page->PageBuffer(), nullptr);
  EXPECT_EQ(page->PageBuffer()[0], fill);
  EXPECT_EQ(page->PageBuffer()[4095], fill);
  pm.PutPage(page);
}

std::int64_t LimitForPages(std::int64_t pages) {
  return MemoryManager().TotalMemAllocated() + pages * 4096 * 10 + 4096 * 5;
}

TEST(VEZTemporaryPageManagerTest, PagesPastTheRamLimitGoToTheFileAndReadBack) {
  std::unique_ptr<TVEZTemporaryPageManager> pm;
  {
    ScopedMemoryLimit limit(LimitForPages(3));
    pm = std::make_unique<TVEZTemporaryPageManager>(false);
  }
  ASSERT_GE(pm->MaxMemoryPageCount(), 1);
  ASSERT_LE(pm->MaxMemoryPageCount(), 5);
  EXPECT_EQ(pm->PageSize(), 4096);
  EXPECT_EQ(pm->PageHeaderSize(), 0);
  const std::int32_t total = pm->MaxMemoryPageCount() + 20;
  for (std::int32_t i = 0; i < total; ++i) {
    EXPECT_EQ(AddFilled(*pm, static_cast<std::uint8_t>(i + 1)), i);
  }
  EXPECT_TRUE(pm->HasPageFile());
  EXPECT_EQ(pm->UsedPageCount(), total);
  EXPECT_EQ(pm->GetPageCount(), total);
  pm->SetCacheCapacity(2);
  for (std::int32_t i = 0; i < total; ++i)
    ExpectFilled(*pm, i, static_cast<std::uint8_t>(i + 1));

  // A freed RAM number is taken again; a freed file number never is.
  const std::int32_t file_page = total - 1;
  pm->RemovePage(-2, 0);
  pm->RemovePage(-2, file_page);
  pm->ApplyChanges(-2);
  EXPECT_FALSE(pm->IsPageAllocated(file_page));
  EXPECT_EQ(pm->UsedPageCount(), total - 2);
  EXPECT_EQ(AddFilled(*pm, 0xAA), total);
  EXPECT_EQ(pm->UsedPageCount(), total - 1);
  ExpectFilled(*pm, total, 0xAA);
  EXPECT_EQ(NativeErrorOf([&] { pm->GetPage(0, file_page, 0, true); }), 10396);
}

TEST(VEZTemporaryPageManagerTest, DisabledTempFilesKeepEveryPageInRam) {
  std::unique_ptr<TVEZTemporaryPageManager> pm;
  {
    ScopedMemoryLimit limit(LimitForPages(2));
    pm = std::make_unique<TVEZTemporaryPageManager>(true);
  }
  const std::int32_t total = pm->MaxMemoryPageCount() + 10;
  for (std::int32_t i = 0; i < total; ++i)
    AddFilled(*pm, static_cast<std::uint8_t>(i + 7));
  EXPECT_FALSE(pm->HasPageFile());
  pm->SetCacheCapacity(1);
  for (std::int32_t i = 0; i < total; ++i)
    ExpectFilled(*pm, i, static_cast<std::uint8_t>(i + 7));
}

TEST(VEZTemporaryPageManagerTest, NoPageFileRemainsAfterClose) {
  test::FailingTempFileSystem fs;
  platform::ScopedFileSystem scope(fs);
  std::unique_ptr<TVEZTemporaryPageManager> pm;
  {
    ScopedMemoryLimit limit(LimitForPages(1));
    pm = std::make_unique<TVEZTemporaryPageManager>(false);
  }
  for (std::int32_t i = 0; i < pm->MaxMemoryPageCount() + 3; ++i)
    AddFilled(*pm, static_cast<std::uint8_t>(i));
  ASSERT_TRUE(pm->HasPageFile());
  ASSERT_FALSE(fs.paths.empty());
  pm.reset();
  for (const std::string& p : fs.paths)
    EXPECT_FALSE(platform::DefaultFileSystem().FileExists(p)) << p;
}

TEST(VEZTemporaryPageManagerTest, RamPageLimitIsATenthOfTheFreeMemoryInInt32Pages) {
  struct Case {
    std::int64_t free_memory;
    std::int32_t pages;
  };
  for (const Case& c : {
           Case{0, 0},
           Case{40959, 0},
           Case{40960, 1},
           Case{std::int64_t{4} << 30, 104857},
           Case{std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int32_t>::max()},
           Case{-1, 0},
       }) {
    SCOPED_TRACE(c.free_memory);
    EXPECT_EQ(TVEZTemporaryPageManager::MaxMemoryPagesFor(c.free_memory), c.pages);
  }
}

// A commit that changes RAM and file pages and adds one, whose k-th write of
// the page file fails: the commit raises, every page reads back as before,
// and the manager takes the same change afterwards.
TEST(VEZTemporaryPageManagerTest, AFailedFileWritePutsEveryPageOfTheCommitBack) {
  constexpr int kFileWrites = 4;  // three changed file pages and the added one
  for (int k = 0; k < kFileWrites; ++k) {
    SCOPED_TRACE(testing::Message() << "write " << k << " of the commit fails");
    test::FailingTempFileSystem fs;
    platform::ScopedFileSystem scope(fs);
    std::unique_ptr<TVEZTemporaryPageManager> pm;
    {
      ScopedMemoryLimit limit(LimitForPages(3));
      pm = std::make_unique<TVEZTemporaryPageManager>(false);
    }
    const std::int32_t ram = pm->MaxMemoryPageCount();
    ASSERT_GE(ram, 1);
    const std::int32_t total = ram + 6;
    for (std::int32_t i = 0; i < total; ++i)
      AddFilled(*pm, static_cast<std::uint8_t>(i + 1));
    pm->SetCacheCapacity(2);
    const std::vector<std::int32_t> changed{0, ram - 1, ram, ram + 2, ram + 4};
    auto change = [&] {
      for (const std::int32_t no : changed) {
        TVEZPage* page = pm->GetPage(0, no, 0, true);
        std::memset(page->PageBuffer(), 0xEE, pm->PageSize());
        page->SetIsDirty(true);
        pm->PutPage(page);
      }
      TVEZPage* added = pm->AddPage(0, 0);
      std::memset(added->PageBuffer(), 0xEF, pm->PageSize());
      pm->PutPage(added);
      return added->PageNo();
    };
    change();
    fs.fail_write_at = fs.writes + k;
    EXPECT_ANY_THROW(pm->ApplyChanges(0));
    fs.fail_write_at = -1;
    pm->CancelChanges(0);
    for (std::int32_t i = 0; i < total; ++i)
      ExpectFilled(*pm, i, static_cast<std::uint8_t>(i + 1));
    EXPECT_EQ(pm->UsedPageCount(), total);

    const std::int32_t added = change();
    pm->ApplyChanges(0);
    for (std::int32_t i = 0; i < total; ++i) {
      const bool was_changed = std::find(changed.begin(), changed.end(), i) != changed.end();
      ExpectFilled(*pm, i, was_changed ? 0xEE : static_cast<std::uint8_t>(i + 1));
    }
    ExpectFilled(*pm, added, 0xEF);
  }
}

TEST(VEZTemporaryPageManagerTest, UnallocatedNumbersAreRefused) {
  TVEZTemporaryPageManager pm(false);
  EXPECT_EQ(NativeErrorOf([&] { pm.GetPage(0, 3, 0, true); }), 10396);
  EXPECT_EQ(NativeErrorOf([&] { pm.InternalRemovePage(-1); }), 10396);
}

}  // namespace
}  // namespace vez

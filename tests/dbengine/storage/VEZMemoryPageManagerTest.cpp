#include "dbengine/storage/VEZMemoryPageManager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZMemoryStream.h"
#include "tests/common/NativeError.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

// Adds a page for the engine session, fills it with fill and commits it.
std::int32_t AddFilled(TVEZMemoryPageManager& pm, std::uint8_t fill) {
  TVEZPage* page = pm.AddPage(-2, 0);
  const std::int32_t no = page->PageNo();
  std::memset(page->PageBuffer(), fill, pm.PageSize());
  page->PageBuffer()[0] = static_cast<std::uint8_t>(no);
  pm.PutPage(page);
  pm.ApplyChanges(-2);
  return no;
}

std::vector<std::uint8_t> StreamBytes(TVEZMemoryPageManager& pm) {
  TVEZMemoryStream stream;
  pm.SaveToStream(stream);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stream.Size()));
  stream.SetPosition(0);
  stream.Read(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  return bytes;
}

TEST(VEZMemoryPageManagerTest, PagesLiveInRamAndFreedNumbersComeBackClean) {
  TVEZMemoryPageManager pm;
  EXPECT_EQ(pm.PageSize(), 4096);
  EXPECT_EQ(pm.PageHeaderSize(), 0);
  std::vector<std::int32_t> numbers;
  for (int i = 0; i < 60; ++i)
    numbers.push_back(AddFilled(pm, static_cast<std::uint8_t>(0x40 + i)));
  for (int i = 0; i < 60; ++i)
    EXPECT_EQ(numbers[static_cast<std::size_t>(i)], i);
  EXPECT_EQ(pm.UsedPageCount(), 60);
  EXPECT_EQ(pm.AllocatedPageCount(), 100);  // grows by 50 pages
  // A committed page reads back with what was written.
  TVEZPage* page = pm.GetPage(0, 17, 0, true);
  EXPECT_EQ(page->PageBuffer()[0], 17);
  EXPECT_EQ(page->PageBuffer()[100], 0x40 + 17);
  pm.PutPage(page);
  // Removing frees the number; the next page takes it, zero-filled.
  pm.RemovePage(-2, 17);
  pm.ApplyChanges(-2);
  EXPECT_FALSE(pm.IsPageAllocated(17));
  EXPECT_EQ(pm.UsedPageCount(), 59);
  TVEZPage* again = pm.AddPage(-2, 0);
  EXPECT_EQ(again->PageNo(), 17);
  EXPECT_EQ(again->PageBuffer()[100], 0);
  pm.PutPage(again);
  pm.ApplyChanges(-2);
  EXPECT_EQ(pm.UsedPageCount(), 60);
}

TEST(VEZMemoryPageManagerTest, UnallocatedPagesAreRefused) {
  TVEZMemoryPageManager pm;
  AddFilled(pm, 1);
  EXPECT_EQ(NativeErrorOf([&] { pm.GetPage(0, 5, 0, true); }), 10392);
  EXPECT_EQ(NativeErrorOf([&] { pm.GetPage(0, -1, 0, true); }), 10392);
  TVEZPage stray(&pm);
  stray.SetPageNo(7);
  stray.AllocPageBuffer();
  EXPECT_EQ(NativeErrorOf([&] { pm.InternalWritePage(&stray); }), 10393);
  EXPECT_EQ(NativeErrorOf([&] { pm.InternalRemovePage(7); }), 10391);
  EXPECT_EQ(pm.UsedPageCount(), 1);
}

TEST(VEZMemoryPageManagerTest, CacheMissesReuseBuffers) {
  TVEZMemoryPageManager pm;
  pm.SetCacheCapacity(0);  // every read is a miss
  for (int i = 0; i < 20; ++i)
    AddFilled(pm, static_cast<std::uint8_t>(i));
  auto read_all = [&] {
    for (std::int32_t no = 0; no < 20; ++no) {
      TVEZPage* page = pm.GetPage(0, no, 0, true);
      ASSERT_EQ(page->PageBuffer()[0], no);
      ASSERT_EQ(page->PageBuffer(), pm.RamPage(no));  // no copy of the page
      pm.PutPage(page);
    }
  };
  read_all();
  const std::int64_t after_first = MemoryManager().TotalMemAllocated();
  for (int round = 0; round < 5; ++round)
    read_all();
  EXPECT_EQ(MemoryManager().TotalMemAllocated(), after_first);
}

TEST(VEZMemoryPageManagerTest, StreamRoundTripIsByteForByte) {
  TVEZMemoryPageManager pm;
  for (int i = 0; i < 55; ++i)
    AddFilled(pm, static_cast<std::uint8_t>(i * 7));
  for (std::int32_t no : {3, 20, 54})
    pm.RemovePage(-2, no);
  pm.ApplyChanges(-2);
  const std::vector<std::uint8_t> saved = StreamBytes(pm);
  // 20 bytes of counters, the map, 100 pages.
  ASSERT_GT(saved.size(), 20u + 100u * 4096u);

  TVEZMemoryPageManager copy;
  AddFilled(copy, 0xEE);  // replaced by the load
  TVEZPage* cached = copy.GetPage(0, 0, 0, true);
  copy.PutPage(cached);
  TVEZMemoryStream in;
  in.Write(saved.data(), static_cast<std::int32_t>(saved.size()));
  in.SetPosition(0);
  copy.LoadFromStream(in);
  EXPECT_EQ(StreamBytes(copy), saved);
  EXPECT_EQ(copy.UsedPageCount(), 52);
  EXPECT_FALSE(copy.IsPageAllocated(20));
  TVEZPage* page = copy.GetPage(0, 10, 0, true);
  EXPECT_EQ(page->PageBuffer()[5], 70);
  copy.PutPage(page);
  page = copy.GetPage(0, 0, 0, true);  // the cached object sees the loaded image
  EXPECT_EQ(page->PageBuffer()[5], 0);
  copy.PutPage(page);
  // The next page takes the first freed number.
  EXPECT_EQ(AddFilled(copy, 1), 3);
}

TEST(VEZMemoryPageManagerTest, BadStreamsChangeNothing) {
  TVEZMemoryPageManager source;
  for (int i = 0; i < 3; ++i)
    AddFilled(source, static_cast<std::uint8_t>(i + 1));
  const std::vector<std::uint8_t> good = StreamBytes(source);
  struct Case {
    const char* name;
    std::size_t keep;  // bytes of the good stream kept
    std::size_t at;    // byte to overwrite (npos: none)
    std::uint8_t value;
    std::int32_t error;
  };
  const Case cases[] = {
      {"truncated counters", 10, std::string::npos, 0, 10371},
      {"truncated pages", good.size() - 1, std::string::npos, 0, 10375},
      {"foreign page size", good.size(), 12, 0x10, 10376},
      {"negative count", good.size(), 3, 0x80, 10376},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> bytes(good.begin(),
                                    good.begin() + static_cast<std::ptrdiff_t>(c.keep));
    if (c.at != std::string::npos) bytes[c.at] = c.value;
    TVEZMemoryPageManager target;
    AddFilled(target, 0x77);
    const std::vector<std::uint8_t> before = StreamBytes(target);
    TVEZMemoryStream in;
    in.Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    in.SetPosition(0);
    EXPECT_EQ(NativeErrorOf([&] { target.LoadFromStream(in); }), c.error);
    EXPECT_EQ(StreamBytes(target), before);
  }
}

}  // namespace
}  // namespace vez

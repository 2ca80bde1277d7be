#include "dbengine/storage/VEZBlobHandleTable.h"

#include <gtest/gtest.h>

#include <vector>

#include "dbengine/foundation/VEZMemoryManager.h"

namespace vez {
namespace {

std::uint8_t* Block(std::uint8_t tag) {
  auto* b = static_cast<std::uint8_t*>(MemoryManager().GetMem(16));
  b[0] = tag;
  return b;
}

TEST(VEZBlobHandleTableTest, StaleHandlesNeverResolveToAnotherValue) {
  const std::int64_t before = MemoryManager().TotalMemAllocated();
  {
    TVEZBlobHandleTable table;
    EXPECT_EQ(table.Resolve(TVEZBlobHandleTable::kNoHandle), nullptr);
    const std::uint32_t first = table.Add(Block(1), false);
    EXPECT_NE(first, TVEZBlobHandleTable::kNoHandle);
    EXPECT_EQ(table.Resolve(first)[0], 1);
    table.Release(first);
    EXPECT_EQ(table.Resolve(first), nullptr);
    table.Release(first);  // twice: nothing
    // The entry comes back under a new generation: the old handle stays dead
    // through many reuses of the same entry.
    std::vector<std::uint32_t> seen{first};
    for (int i = 0; i < 254; ++i) {
      const std::uint32_t h = table.Add(Block(static_cast<std::uint8_t>(i)), false);
      EXPECT_EQ(h & 0x00FFFFFFu, first & 0x00FFFFFFu);  // the one free entry
      EXPECT_EQ(table.Resolve(first), nullptr);
      for (std::uint32_t old : seen)
        EXPECT_EQ(table.Resolve(old), nullptr);
      seen.push_back(h);
      table.Release(h);
    }
    EXPECT_EQ(table.LiveCount(), 0);
    // Handles of other entries and garbage do not resolve.
    const std::uint32_t live = table.Add(Block(9), true);
    EXPECT_TRUE(table.IsPending(live));
    table.SetPending(live, false);
    EXPECT_FALSE(table.IsPending(live));
    EXPECT_EQ(table.Resolve(live + 1), nullptr);
    EXPECT_EQ(table.Resolve(0xFFFFFFFFu), nullptr);
    EXPECT_EQ(table.Resolve(live ^ 0x01000000u), nullptr);
    // Oldest freed entry first.
    const std::uint32_t a = table.Add(Block(1), false);
    const std::uint32_t b = table.Add(Block(2), false);
    table.Release(a);
    table.Release(b);
    const std::uint32_t c = table.Add(Block(3), false);
    EXPECT_EQ(c & 0x00FFFFFFu, a & 0x00FFFFFFu);
    table.Clear();
    EXPECT_EQ(table.Resolve(c), nullptr);
    EXPECT_EQ(table.Resolve(live), nullptr);
    table.Add(Block(4), false);  // freed by the destructor
  }
  EXPECT_EQ(MemoryManager().TotalMemAllocated(), before);
}

}  // namespace
}  // namespace vez

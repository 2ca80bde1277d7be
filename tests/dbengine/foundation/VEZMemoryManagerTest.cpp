#include "dbengine/foundation/VEZMemoryManager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "tests/common/NativeError.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

TEST(VEZExceptionTest, MessageForms) {
  EXPECT_STREQ(EVEZException(2011, "Bad").what(), "Bad - Native error: 02011");
  EXPECT_STREQ(EVEZException(2011, "Bad %s", {"x"}).what(), "Bad x - Native error:  2011");
  EXPECT_STREQ(EVEZException(30004, "Limit %d", {5}).what(), "Limit 5 - Native error: 30004");
  EXPECT_STREQ(EVEZException(30001, "Invalid pointer").what(),
               "Invalid pointer - Native error: 30001");
  EVEZException bad(10388, "a = %d, b = %d", {1});
  EXPECT_STREQ(bad.what(), "a = %d, b = %d Arguments are invalid! - Native error: 10388");
  EXPECT_EQ(bad.NativeError(), 10388);
}

TEST(VEZMemoryManagerTest, BlockLayoutAndCounting) {
  TVEZMemoryManager mm;
  auto* p = static_cast<std::uint8_t*>(mm.GetMem(1));
  EXPECT_EQ(mm.GetMemoryBufferSize(p), 1);
  EXPECT_EQ(mm.TotalMemAllocated(), 1);
  std::int32_t size;
  std::uint32_t head, tail;
  std::memcpy(&size, p - 9, 4);
  std::memcpy(&head, p - 4, 4);
  std::memcpy(&tail, p + 1, 4);
  EXPECT_EQ(size, 1);
  EXPECT_EQ(p[-5], 0);  // method: ordinary heap
  EXPECT_EQ(head, 0xACCACCACu);
  EXPECT_EQ(tail, 0xACCEACCEu);
  void* q = mm.AllocMem(100);
  EXPECT_EQ(mm.TotalMemAllocated(), 101);
  for (int i = 0; i < 100; ++i)
    EXPECT_EQ(static_cast<std::uint8_t*>(q)[i], 0);
  mm.FreeAndNillMem(q);
  EXPECT_EQ(q, nullptr);
  mm.FreeMem(p);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
  EXPECT_EQ(mm.GetMemoryBufferSize(nullptr), 0);
}

TEST(VEZMemoryManagerTest, ErrorNumbers) {
  TVEZMemoryManager mm;
  EXPECT_EQ(NativeErrorOf([&] { mm.GetMem(0); }), 30286);
  EXPECT_EQ(NativeErrorOf([&] { mm.GetMem(-1); }), 30286);
  EXPECT_EQ(NativeErrorOf([&] { mm.GetMem(std::int64_t{1} << 31); }), 30015);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);

  TVEZMemoryManager limited(100);
  void* a = limited.GetMem(60);
  EXPECT_EQ(NativeErrorOf([&] { limited.GetMem(41); }), 30004);
  // A request whose total would pass 64 bits is over the limit, not wrapped.
  EXPECT_EQ(NativeErrorOf([&] { limited.GetMem(INT64_MAX); }), 30004);
  EXPECT_EQ(limited.TotalMemAllocated(), 60);
  void* b = limited.GetMem(40);
  limited.FreeMem(a);
  limited.FreeMem(b);

  // A foreign pointer: inside a buffer of our own so the head read is valid.
  std::vector<std::uint8_t> foreign(64, 0x11);
  void* f = foreign.data() + 32;
  EXPECT_EQ(NativeErrorOf([&] { mm.FreeAndNillMem(f); }), 30001);
  EXPECT_EQ(f, foreign.data() + 32);
  EXPECT_EQ(NativeErrorOf([&] { mm.GetMemoryBufferSize(f); }), 30005);
  void* nil = nullptr;
  EXPECT_EQ(NativeErrorOf([&] { mm.FreeAndNillMem(nil); }), 30138);
  try {
    mm.ReallocMem(f, 10, false);
    FAIL();
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), 30014);
    EXPECT_NE(std::string(e.what()).find("Invalid pointer - Native error: 30002"),
              std::string::npos);
  }
}

TEST(VEZMemoryManagerTest, OverrunIsReportedAfterFreeing) {
  TVEZMemoryManager mm;
  auto* p = static_cast<std::uint8_t*>(mm.GetMem(8));
  p[8] = 0;  // one byte past the end, into the tail signature
  void* v = p;
  EXPECT_EQ(NativeErrorOf([&] { mm.FreeAndNillMem(v); }), 30137);
  EXPECT_EQ(v, nullptr);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
}

TEST(VEZMemoryManagerTest, ReallocKeepsDataAndClearsTail) {
  TVEZMemoryManager mm;
  auto* p = static_cast<std::uint8_t*>(mm.GetMem(4));
  std::memcpy(p, "abcd", 4);
  mm.ReallocMem(p, 2, false);
  EXPECT_EQ(mm.GetMemoryBufferSize(p), 2);
  EXPECT_EQ(std::memcmp(p, "ab", 2), 0);
  mm.ReallocMemAndClearTail(p, 10);
  EXPECT_EQ(std::memcmp(p, "ab\0\0\0\0\0\0\0\0", 10), 0);
  EXPECT_EQ(mm.TotalMemAllocated(), 10);
  mm.FreeMem(p);
}

TEST(VEZMemoryManagerTest, ReallocOfOverrunBlockLeavesCallerOnTheNewBlock) {
  TVEZMemoryManager mm;
  auto* p = static_cast<std::uint8_t*>(mm.GetMem(4));
  std::memcpy(p, "abcdX", 5);  // overruns by one byte
  auto* before = p;
  EXPECT_EQ(NativeErrorOf([&] { mm.ReallocMem(p, 8, true); }), 30014);
  EXPECT_NE(p, before);
  EXPECT_EQ(mm.GetMemoryBufferSize(p), 8);
  EXPECT_EQ(std::memcmp(p, "abcd\0\0\0\0", 8), 0);
  EXPECT_EQ(mm.TotalMemAllocated(), 8);
  mm.FreeMem(p);
}

TEST(VEZMemoryManagerTest, FreeMemorySizeIsClampedByTheLimit) {
  TVEZMemoryManager unlimited;
  EXPECT_GT(unlimited.GetFreeMemorySize(), 0);
  TVEZMemoryManager limited(4096);
  EXPECT_EQ(limited.GetFreeMemorySize(), 4096);
}

// Every table open asks for this figure: it is read from the system once and
// answered from memory until it is stale, while a limit set meanwhile still
// clamps it at once.
TEST(VEZMemoryManagerTest, FreeMemorySizeIsReadOnceWhileFresh) {
  TVEZMemoryManager mm;
  const auto start = std::chrono::steady_clock::now();
  const std::int64_t first = mm.GetFreeMemorySize();
  std::vector<std::int64_t> later;
  for (int i = 0; i < 1000; ++i)
    later.push_back(mm.GetFreeMemorySize());
  mm.SetMaxMemorySize(4096);
  const std::int64_t limited = mm.GetFreeMemorySize();
  mm.SetMaxMemorySize(0);
  later.push_back(mm.GetFreeMemorySize());
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_GT(first, 0);
  EXPECT_EQ(limited, 4096);
  // A run descheduled past the refresh may see a new figure.
  if (elapsed >= std::chrono::milliseconds(TVEZMemoryManager::kFreeMemoryRefreshMs)) return;
  EXPECT_EQ(later, std::vector<std::int64_t>(later.size(), first));
}

TEST(SafeMoveTest, OverlappingMoves) {
  struct Case {
    int src, dst, count;
    const char* expected;
  };
  const Case cases[] = {
      {0, 1, 5, "aabcdeghij"}, {1, 0, 5, "bcdeffghij"}, {0, 4, 5, "abcdabcdej"},
      {0, 3, 5, "abcabcdeij"}, {2, 0, 0, "abcdefghij"}, {2, 0, -3, "abcdefghij"},
  };
  for (const auto& c : cases) {
    char buf[] = "abcdefghij";
    SafeMove(buf + c.src, buf + c.dst, c.count);
    SCOPED_TRACE(c.expected);
    EXPECT_STREQ(buf, c.expected);
  }
}

}  // namespace
}  // namespace vez

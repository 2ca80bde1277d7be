#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "platform/core/Clock.h"
#include "platform/core/Guid.h"
#include "platform/core/Random.h"

namespace platform {
namespace {

TEST(ClockTest, RealClockAdvancesAndSleeps) {
  EXPECT_EQ(&CurrentClock(), &SystemClock());
  const std::uint64_t start = TickCount64();
  Sleep(15);
  const std::uint64_t after = TickCount64();
  EXPECT_GE(after - start, 15u);
}

TEST(ClockTest, FakeClockInstalledForAScope) {
  FakeClock fake(0xFFFFFFF0u);  // just before the 32-bit tick count wraps
  {
    ScopedClock scope(fake);
    EXPECT_EQ(&CurrentClock(), &fake);
    const std::uint32_t start = TickCount();
    // A wait of 2250 polls 40 ms apart costs no real time.
    for (int i = 0; i < 2250; ++i)
      Sleep(40);
    EXPECT_EQ(static_cast<std::uint32_t>(TickCount() - start), 90000u);
    EXPECT_EQ(TickCount64(), 0xFFFFFFF0ull + 90000u);
    fake.Advance(5);
    EXPECT_EQ(TickCount64(), 0xFFFFFFF0ull + 90005u);
  }
  EXPECT_EQ(&CurrentClock(), &SystemClock());
  EXPECT_EQ(fake.Sleeps().size(), 2250u);
  EXPECT_EQ(fake.TotalSlept(), 90000u);
}

TEST(RandomTest, RangeBoundsAndReplay) {
  SeededRandom a(42), b(42);
  std::set<std::int32_t> seen;
  for (int i = 0; i < 2000; ++i) {
    const std::int32_t v = a.Random(20);
    ASSERT_EQ(v, b.Random(20));
    ASSERT_GE(v, 0);
    ASSERT_LT(v, 20);
    seen.insert(v);
  }
  EXPECT_EQ(seen.size(), 20u);
  EXPECT_EQ(a.Random(0), 0);
  EXPECT_EQ(a.Random(-5), 0);
  EXPECT_EQ(a.Random(1), 0);
  const std::int32_t big = a.Random(INT32_MAX);
  EXPECT_GE(big, 0);
}

TEST(RandomTest, InstalledSourceReplacesTheSystemOne) {
  EXPECT_EQ(&CurrentRandom(), &SystemRandom());
  SeededRandom fixed(7), twin(7);
  {
    ScopedRandom scope(fixed);
    for (int i = 0; i < 10; ++i)
      EXPECT_EQ(Random(1000), twin.Random(1000));
  }
  EXPECT_EQ(&CurrentRandom(), &SystemRandom());
}

TEST(GuidTest, TextIsBracedUpperCase) {
  Guid g;
  g.d1 = 0x0F1E2D3C;
  g.d2 = 0x4B5A;
  g.d3 = 0x6978;
  g.d4 = {0x87, 0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0};
  EXPECT_EQ(GuidToString(g), "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");
  EXPECT_EQ(GuidToString(Guid{}), "{00000000-0000-0000-0000-000000000000}");
}

TEST(GuidTest, RandomGuidsAreVersionFourAndDistinct) {
  SeededRandom source(1);
  const std::regex shape(
      "\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}");
  std::vector<std::string> texts;
  for (int i = 0; i < 200; ++i) {
    texts.push_back(NewGuidText(source));
    ASSERT_TRUE(std::regex_match(texts.back(), shape)) << texts.back();
  }
  EXPECT_EQ(std::set<std::string>(texts.begin(), texts.end()).size(), texts.size());
  SeededRandom again(1);  // the same source gives the same names
  EXPECT_EQ(NewGuidText(again), texts[0]);
}

}  // namespace
}  // namespace platform

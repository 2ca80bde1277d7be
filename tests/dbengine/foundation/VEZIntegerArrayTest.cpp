#include "dbengine/foundation/VEZIntegerArray.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/core/Exceptions.h"

namespace vez {
namespace {

std::vector<std::int32_t> Items(const TVEZIntegerArray& a) {
  return std::vector<std::int32_t>(a.Items(), a.Items() + a.ItemCount());
}

TEST(VEZIntegerArrayTest, GrowthAndShrinkTable) {
  // Each step: new size -> capacity, AllocBy, deAllocBy afterwards.
  struct Step {
    std::int32_t size, capacity, alloc_by, de_alloc_by;
  };
  const Step steps[] = {
      {1, 20, 20, 10},                       // first growth: step doubled to 20
      {20, 20, 20, 10},                      // fits
      {21, 60, 40, 10},                      // 20 + 40
      {61, 140, 80, 10},                     // 60 + 80
      {142, 240, 100, 10},                   // capped at 100
      {500, 500, 100, 10},                   // the step is not enough: exactly the size
      {495, 500, 100, 10},                   // spare 5 <= deAllocBy 10: kept
      {489, 489, 100, 20},                   // spare 11 > 10: cut, deAllocBy doubled
      {470, 489, 100, 20},                   // spare 19 <= 20
      {400, 400, 100, 40}, {0, 0, 100, 40},  // emptied: storage freed, steps keep their growth
      {1, 100, 100, 40},
  };
  TVEZIntegerArray a(0, 10, 100);
  EXPECT_EQ(a.AllocItemCount(), 0);
  for (const Step& s : steps) {
    SCOPED_TRACE(s.size);
    a.SetSize(s.size);
    EXPECT_EQ(a.ItemCount(), s.size);
    EXPECT_EQ(a.AllocItemCount(), s.capacity);
    EXPECT_EQ(a.AllocBy(), s.alloc_by);
    EXPECT_EQ(a.DeAllocBy(), s.de_alloc_by);
  }
}

TEST(VEZIntegerArrayTest, ShrinkKeepsOrCutsCapacity) {
  TVEZIntegerArray a(100, 10, 100);
  ASSERT_EQ(a.AllocItemCount(), 100);
  a.SetSize(95);
  EXPECT_EQ(a.AllocItemCount(), 100);
  a.SetSize(50);
  EXPECT_EQ(a.AllocItemCount(), 50);
  EXPECT_EQ(a.DeAllocBy(), 20);
}

TEST(VEZIntegerArrayTest, EditsAndMoves) {
  TVEZIntegerArray a(0, 4, 64);
  for (int v : {10, 20, 30, 40, 50})
    a.Append(v);
  a.Insert(0, 5);
  a.Insert(99, 60);  // past the end: appended
  a.Insert(3, 25);
  EXPECT_EQ(Items(a), (std::vector<std::int32_t>{5, 10, 20, 25, 30, 40, 50, 60}));
  a.Delete(0);
  a.Delete(a.ItemCount() - 1);
  EXPECT_EQ(Items(a), (std::vector<std::int32_t>{10, 20, 25, 30, 40, 50}));
  a.MoveTo(4, 1);  // down: lands at 1
  EXPECT_EQ(Items(a), (std::vector<std::int32_t>{10, 40, 20, 25, 30, 50}));
  a.MoveTo(1, 5);  // up: lands at 5 - 1
  EXPECT_EQ(Items(a), (std::vector<std::int32_t>{10, 20, 25, 30, 40, 50}));
  a.MoveTo(2, 3);  // neighbours swap
  EXPECT_EQ(Items(a), (std::vector<std::int32_t>{10, 20, 30, 25, 40, 50}));
  a.MoveTo(3, 3);
  EXPECT_EQ(a.IndexOf(25), 3);
  EXPECT_EQ(a.IndexOf(99), -1);
  EXPECT_TRUE(a.IsValueExists(50));
  std::int32_t out[3] = {};
  a.CopyTo(out, 2, 3);
  EXPECT_EQ((std::vector<std::int32_t>(out, out + 3)), (std::vector<std::int32_t>{30, 25, 40}));
  TVEZIntegerArray b(0, 1, 8);
  b.Assign(a);
  EXPECT_EQ(Items(b), Items(a));
  TVEZIntegerArray one(0, 1, 1);
  one.Insert(7, 42);
  EXPECT_EQ(Items(one), std::vector<std::int32_t>{42});
}

// Random edits against a std::vector oracle.
TEST(VEZIntegerArrayTest, RandomModel) {
  std::mt19937 rng(12345);
  TVEZIntegerArray a(0, 2, 32);
  std::vector<std::int32_t> model;
  for (int step = 0; step < 20000; ++step) {
    const int op = static_cast<int>(rng() % 6);
    const auto v = static_cast<std::int32_t>(rng() % 1000);
    const auto n = static_cast<std::int32_t>(model.size());
    if (op == 0 || n == 0) {
      a.Append(v);
      model.push_back(v);
    } else if (op == 1) {
      const auto i = static_cast<std::int32_t>(rng() % (n + 2));
      a.Insert(i, v);
      model.insert(model.begin() + std::min(i, n), v);
    } else if (op == 2) {
      const auto i = static_cast<std::int32_t>(rng() % n);
      a.Delete(i);
      model.erase(model.begin() + i);
    } else if (op == 3) {
      const auto i = static_cast<std::int32_t>(rng() % n);
      const auto j = static_cast<std::int32_t>(rng() % (n + 1));
      a.MoveTo(i, j);
      if (i + 1 == j || j + 1 == i) {
        if (j < n) std::swap(model[i], model[j]);
      } else if (j < i) {
        const std::int32_t x = model[i];
        model.erase(model.begin() + i);
        model.insert(model.begin() + j, x);
      } else if (j > i) {
        const std::int32_t x = model[i];
        model.erase(model.begin() + i);
        model.insert(model.begin() + (j - 1), x);
      }
    } else if (op == 4) {
      const auto size = static_cast<std::int32_t>(rng() % (n + 5));
      a.SetSize(size);
      model.resize(static_cast<std::size_t>(size));  // new items read 0
    } else {
      ASSERT_EQ(a.IndexOf(v), [&] {
        for (std::size_t k = 0; k < model.size(); ++k)
          if (model[k] == v) return static_cast<std::int32_t>(k);
        return -1;
      }());
    }
    ASSERT_LE(a.ItemCount(), a.AllocItemCount());
    ASSERT_EQ(Items(a), model) << "step " << step;
  }
}

TEST(VEZIntegerArrayTest, RefusesNegativeSize) {
  TVEZIntegerArray a(3, 2, 8);
  EXPECT_THROW(a.SetSize(-1), platform::EIntOverflow);
  EXPECT_EQ(a.ItemCount(), 3);
  TVEZIntegerArray last(0, 2, 8);
  for (int v : {1, 2, 3})
    last.Append(v);
  last.MoveTo(2, 3);  // the last item "moved" one past the end stays; no swap outside
  EXPECT_EQ(Items(last), (std::vector<std::int32_t>{1, 2, 3}));
}

}  // namespace
}  // namespace vez

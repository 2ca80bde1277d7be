#include "dbengine/storage/VEZScanConditionOptimizer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <iterator>
#include <ostream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace vez {

// The conditions by their short names in test names and failure messages.
static const char* Name(TVEZSearchCondition s) {
  static const char* names[] = {"None", "Eq", "Lo", "Gr", "LE", "GE"};
  return s < std::size(names) ? names[s] : "?";
}
static void PrintTo(TVEZSearchCondition s, std::ostream* os) {
  *os << Name(s);
}

namespace {

// Keys and records are two one-byte columns compared as unsigned bytes, so a
// record set can be listed in full and every merge checked against it.
std::int32_t CompareBytes(std::int32_t /*index_id*/, const std::uint8_t* a, const std::uint8_t* b,
                          std::int32_t field_count) {
  for (std::int32_t i = 0; i < field_count; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

const TVEZConditionKeyCompare kCompare = CompareBytes;

bool Satisfies(const std::uint8_t* record, const TVEZScanSearchCondition& cond) {
  const std::int32_t c = CompareBytes(0, record, cond.KeyRecordBuffer, cond.KeyFieldCount);
  switch (cond.Condition) {
    case scEqual:
      return c == 0;
    case scLower:
      return c < 0;
    case scGreater:
      return c > 0;
    case scLowerEqual:
      return c <= 0;
    case scGreaterEqual:
      return c >= 0;
    default:
      return false;
  }
}

constexpr std::uint8_t kValues = 4;

std::set<int> Matching(const std::vector<const TVEZScanSearchCondition*>& conds) {
  std::set<int> out;
  for (std::uint8_t a = 0; a < kValues; ++a) {
    for (std::uint8_t b = 0; b < kValues; ++b) {
      const std::uint8_t record[2] = {a, b};
      bool all = true;
      for (const auto* c : conds)
        all = all && Satisfies(record, *c);
      if (all) out.insert(a * kValues + b);
    }
  }
  return out;
}

struct Cond {
  std::array<std::uint8_t, 2> key{};
  TVEZScanSearchCondition c{true};
  Cond(TVEZSearchCondition s, std::uint8_t k0, std::uint8_t k1, std::int32_t fields,
       std::int32_t index_id = 7) {
    key = {k0, k1};
    c.KeyRecordBuffer = key.data();
    c.KeyRecordBufferSize = 2;
    c.Condition = s;
    c.KeyFieldCount = fields;
    c.IndexID = index_id;
  }
};

// Every cell of the intersection table, for every pair of keys and key field
// counts: an empty outcome means no record satisfies both, a merged one
// selects exactly the records that satisfy both, and "both" keeps both.
class IntersectTableTest
    : public ::testing::TestWithParam<std::tuple<TVEZSearchCondition, TVEZSearchCondition>> {};

TEST_P(IntersectTableTest, MergeSelectsExactlyTheRecordsOfBoth) {
  const auto [s1, s2] = GetParam();
  int decided_cells = 0;  // merged or found empty
  for (std::int32_t f1 = 1; f1 <= 2; ++f1) {
    for (std::int32_t f2 = 1; f2 <= 2; ++f2) {
      for (std::uint8_t a0 = 0; a0 < kValues; ++a0) {
        for (std::uint8_t b0 = 0; b0 < kValues; ++b0) {
          for (std::uint8_t a1 = 0; a1 < kValues; a1 += 3) {
            for (std::uint8_t b1 = 0; b1 < kValues; b1 += 3) {
              Cond c1(s1, a0, a1, f1);
              Cond c2(s2, b0, b1, f2);
              SCOPED_TRACE(std::string(Name(s1)) + "(" + std::to_string(a0) + "," +
                           std::to_string(a1) + ")/" + std::to_string(f1) + " " + Name(s2) + "(" +
                           std::to_string(b0) + "," + std::to_string(b1) + ")/" +
                           std::to_string(f2));
              const std::set<int> want = Matching({&c1.c, &c2.c});
              if (!CanIntersectScanConditions(c1.c, c2.c)) continue;
              bool is_empty = false;
              bool changed = false;
              IntersectScanConditions(c1.c, c2.c, kCompare, is_empty, changed);
              if (is_empty) {
                ++decided_cells;
                EXPECT_TRUE(want.empty());
              } else if (changed) {
                ++decided_cells;
                EXPECT_EQ(Matching({&c1.c}), want);
              }
            }
          }
        }
      }
    }
  }
  EXPECT_GT(decided_cells, 0);
}

INSTANTIATE_TEST_SUITE_P(AllPairs, IntersectTableTest,
                         ::testing::Combine(::testing::Values(scEqual, scLower, scGreater,
                                                              scLowerEqual, scGreaterEqual),
                                            ::testing::Values(scEqual, scLower, scGreater,
                                                              scLowerEqual, scGreaterEqual)),
                         [](const auto& info) {
                           return std::string(Name(std::get<0>(info.param))) + "_" +
                                  Name(std::get<1>(info.param));
                         });

TEST(ScanConditionOptimizerTest, OutcomeCellsOfTheTable) {
  using O = TVEZIntersectOutcome;
  struct Row {
    TVEZSearchCondition s1, s2;
    int sign;
    std::int32_t f1, f2;
    O want;
  };
  const Row rows[] = {
      {scEqual, scEqual, 0, 1, 2, O::More},
      {scEqual, scLowerEqual, 0, 2, 1, O::C1},
      {scEqual, scLowerEqual, 0, 1, 2, O::Both},
      {scLower, scGreaterEqual, 0, 1, 2, O::Empty},
      {scLower, scGreaterEqual, 0, 2, 1, O::Both},
      {scGreaterEqual, scLowerEqual, 0, 1, 1, O::Equal},
      {scGreaterEqual, scLowerEqual, 0, 1, 2, O::Both},
      {scGreater, scGreater, 0, 1, 2, O::Fewer},
      {scLowerEqual, scGreater, 0, 2, 1, O::Empty},
      {scLowerEqual, scGreater, 0, 1, 2, O::Both},
      {scNone, scEqual, 0, 1, 1, O::Both},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(Name(r.s1)) + " " + Name(r.s2));
    EXPECT_EQ(ScanIntersectOutcome(r.s1, r.s2, r.sign, r.f1, r.f2), r.want);
  }
}

TEST(ScanConditionOptimizerTest, GreaterEqualAndLowerEqualOnOneKeyBecomeOneEquality) {
  Cond ge(scGreaterEqual, 5, 0, 1);
  Cond le(scLowerEqual, 5, 0, 1);
  TVEZScanSearchConditionArray array;
  array.AddCondition(ge.c);
  array.AddCondition(le.c);
  bool is_empty = true;
  OptimizeScanConditions(array, kCompare, is_empty);
  EXPECT_FALSE(is_empty);
  ASSERT_EQ(array.Count(), 1);
  EXPECT_EQ(array.Items(0)->Condition, scEqual);
  EXPECT_EQ(array.Items(0)->KeyRecordBuffer[0], 5);
}

TEST(ScanConditionOptimizerTest, EmptyRangeLeavesTheArrayAsItWas) {
  Cond ge(scGreaterEqual, 10, 0, 1);
  Cond lo(scLower, 10, 0, 1);
  TVEZScanSearchConditionArray array;
  array.AddCondition(ge.c);
  array.AddCondition(lo.c);
  bool is_empty = false;
  OptimizeScanConditions(array, kCompare, is_empty);
  EXPECT_TRUE(is_empty);
  ASSERT_EQ(array.Count(), 2);
  EXPECT_EQ(array.Items(0)->Condition, scGreaterEqual);
  EXPECT_EQ(array.Items(1)->Condition, scLower);
}

TEST(ScanConditionOptimizerTest, ShortEqualityAndLongerStrictBoundBothStay) {
  Cond eq(scEqual, 1, 0, 1);
  Cond lo(scLower, 1, 2, 2);
  EXPECT_FALSE(CanIntersectScanConditions(eq.c, lo.c));
  TVEZScanSearchConditionArray array;
  array.AddCondition(eq.c);
  array.AddCondition(lo.c);
  bool is_empty = false;
  OptimizeScanConditions(array, kCompare, is_empty);
  EXPECT_FALSE(is_empty);
  EXPECT_EQ(array.Count(), 2);
}

TEST(ScanConditionOptimizerTest, DuplicatesReduceToOneAndGroupsFollowFirstAppearance) {
  Cond a(scEqual, 3, 0, 1, 9);
  Cond b(scGreater, 1, 0, 1, 7);
  Cond c(scEqual, 3, 0, 1, 9);
  TVEZScanSearchConditionArray array;
  array.AddExpression(reinterpret_cast<TVEZBaseExpression*>(&a));  // never evaluated here
  array.AddCondition(a.c);
  array.AddCondition(b.c);
  array.AddCondition(c.c);
  bool is_empty = false;
  OptimizeScanConditions(array, kCompare, is_empty);
  ASSERT_EQ(array.Count(), 3);
  EXPECT_EQ(array.Items(0)->IndexID, 9);
  EXPECT_EQ(array.Items(1)->IndexID, 7);
  EXPECT_NE(array.Items(2)->Expression, nullptr);  // expression items go last
}

TEST(ScanConditionOptimizerTest, RemoveDuplicatesKeepsOneOfEachAndNoneBound) {
  Cond a(scGreater, 3, 0, 1);
  Cond b(scGreater, 3, 1, 1);  // equal over its one key field
  Cond c(scGreater, 3, 1, 2);
  TVEZScanSearchConditionArray array;
  array.AddCondition(a.c);
  array.AddCondition(b.c);
  array.AddCondition(c.c);
  array.AddCondition(a.c);
  RemoveDuplicateScanConditions(array, kCompare);
  ASSERT_EQ(array.Count(), 2);
  EXPECT_EQ(array.Items(0)->KeyFieldCount, 2);
  EXPECT_EQ(array.Items(1)->KeyFieldCount, 1);
}

// A prefix bound is wider than the exact bound of the same key: merging or
// deduplicating it as exact would drop records the filter accepts.
TEST(ScanConditionOptimizerTest, PrefixConditionsAreNeverMergedOrDeduplicated) {
  Cond exact(scEqual, 2, 1, 2);
  Cond prefix(scEqual, 2, 1, 2);
  prefix.c.PartialCompare = true;
  EXPECT_FALSE(CanIntersectScanConditions(exact.c, prefix.c));
  EXPECT_FALSE(CanIntersectScanConditions(prefix.c, exact.c));
  EXPECT_FALSE(AreScanConditionsEqual(exact.c, prefix.c, kCompare));
  EXPECT_FALSE(AreScanConditionsEqual(prefix.c, prefix.c, kCompare));

  Cond ge(scGreaterEqual, 2, 0, 1);
  TVEZScanSearchConditionArray array;
  array.AddCondition(exact.c);
  array.AddCondition(prefix.c);
  array.AddCondition(prefix.c);
  array.AddCondition(ge.c);
  bool is_empty = false;
  OptimizeScanConditions(array, kCompare, is_empty);
  EXPECT_FALSE(is_empty);
  ASSERT_EQ(array.Count(), 3);  // ge folds into the exact equality only
  EXPECT_FALSE(array.Items(0)->PartialCompare);
  EXPECT_TRUE(array.Items(1)->PartialCompare);
  EXPECT_TRUE(array.Items(2)->PartialCompare);
}

}  // namespace
}  // namespace vez

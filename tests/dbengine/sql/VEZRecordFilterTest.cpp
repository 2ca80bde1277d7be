// The storage engine's record filter running real expression trees: a memory
// table read through the local cursor with a filter expression (and an SQL
// filter) in place, the rows compared with a model of the same condition.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ExprTestSupport.h"
#include "dbengine/foundation/VEZException.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/MemoryTableTestSupport.h"

namespace vez {
namespace {

using test::NativeErrorOf;
using test::TMemRow;
using test::TNode;

class RecordFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 rng(20260601);
    const char* names[] = {"", "alpha", "beta", "bravo", "charlie", "Beta"};
    for (std::int32_t id = 1; id <= 300; ++id) {
      TMemRow row;
      row.id = id;
      row.a = static_cast<std::int32_t>(rng() % 101) - 50;
      row.name = names[rng() % 6];  // '' is stored as NULL
      std::int32_t slot = 0;
      ASSERT_TRUE(table_.Insert(row, slot));
      rows_.push_back(row);
    }
  }

  test::TTestLocalCursor& Cursor() { return table_.Cursor(); }
  TNode F(const char* name) { return test::Field(&Cursor(), name); }

  // The ids the cursor shows, in table order.
  std::vector<std::int32_t> ShownIds() {
    test::TTestLocalCursor& c = Cursor();
    c.DisableRecordBitmap();
    c.InternalFirst();
    std::vector<std::int32_t> ids;
    while (c.GetRecordBuffer(grmNext) == grrOK) {
      TVEZVariant id;
      c.GetFieldValue(id, test::kFieldID, true);
      ids.push_back(id.GetAsInteger());
    }
    return ids;
  }
  std::vector<std::int32_t> ModelIds(const std::function<bool(const TMemRow&)>& keep) const {
    std::vector<std::int32_t> ids;
    for (const TMemRow& r : rows_)
      if (keep(r)) ids.push_back(r.id);
    return ids;
  }

  test::TMemoryTableFixture table_;
  std::vector<TMemRow> rows_;
};

struct FilterCase {
  const char* name;
  std::function<TNode(const std::function<TNode(const char*)>&)> tree;
  std::function<bool(const TMemRow&)> keep;
};

std::vector<FilterCase> FilterCases() {
  using namespace test;
  auto null_name = [](const TMemRow& r) { return r.name.empty(); };
  return {
      {"A > 10", [](auto f) { return Cmp(doGT, f("A"), Int(10)); },
       [](const TMemRow& r) { return r.a > 10; }},
      {"A BETWEEN -5 AND 5 AND NAME LIKE 'b%'",
       [](auto f) { return And(Between(f("A"), Int(-5), Int(5)), Like(f("NAME"), Str("b%"))); },
       [](const TMemRow& r) {
         return r.a >= -5 && r.a <= 5 && !r.name.empty() && r.name[0] == 'b';
       }},
      {"NAME IS NULL OR A = 0",
       [](auto f) { return Or(IsNull(f("NAME")), Cmp(doEQ, f("A"), Int(0))); },
       [=](const TMemRow& r) { return null_name(r) || r.a == 0; }},
      {"NOT (A < 0)", [](auto f) { return Not(Cmp(doLT, f("A"), Int(0))); },
       [](const TMemRow& r) { return r.a >= 0; }},
      {"A IN (1, 2, 3, NULL)", [](auto f) { return In(f("A"), Int(1), Int(2), Int(3), Null()); },
       [](const TMemRow& r) { return r.a >= 1 && r.a <= 3; }},
      {"NAME = 'beta'", [](auto f) { return Cmp(doEQ, f("NAME"), Str("beta")); },
       [](const TMemRow& r) { return r.name == "beta"; }},
      {"NAME = 'beta' without case",
       [](auto f) { return Cmp(doEQ, f("NAME"), Str("beta"), true, true); },
       [](const TMemRow& r) { return r.name == "beta" || r.name == "Beta"; }},
      {"NAME <> 'beta' (NULL is neither)", [](auto f) { return Cmp(doNE, f("NAME"), Str("beta")); },
       [](const TMemRow& r) { return !r.name.empty() && r.name != "beta"; }},
      {"NAME <> 'beta' (NULL orders lowest)",
       [](auto f) { return Cmp(doNE, f("NAME"), Str("beta"), false); },
       [](const TMemRow& r) { return r.name != "beta"; }},
      {"ID * 2 > A + 100",
       [](auto f) {
         return Cmp(doGT, Arith(doMUL, f("ID"), Int(2)), Arith(doADD, f("A"), Int(100)));
       },
       [](const TMemRow& r) { return r.id * 2 > r.a + 100; }},
      {"A / 7 = 1", [](auto f) { return Cmp(doEQ, Arith(doDIV, f("A"), Int(7)), Int(1)); },
       [](const TMemRow& r) { return r.a / 7 == 1; }},
      {"NAME LIKE NULL (unknown passes nothing)", [](auto f) { return Like(f("NAME"), Null()); },
       [](const TMemRow&) { return false; }},
      {"NOT (NAME LIKE NULL) (still unknown)", [](auto f) { return Not(Like(f("NAME"), Null())); },
       [](const TMemRow&) { return false; }},
  };
}

TEST_F(RecordFilterTest, FilterExpressionSelectsTheModelRows) {
  for (const FilterCase& c : FilterCases()) {
    SCOPED_TRACE(c.name);
    TVEZExpression filter(c.tree([&](const char* n) { return F(n); }));
    Cursor().FilterExpression = &filter;
    const std::vector<std::int32_t> expected = ModelIds(c.keep);
    EXPECT_EQ(ShownIds(), expected);
    Cursor().DisableRecordBitmap();
    EXPECT_EQ(Cursor().GetRecordCount(), static_cast<std::int64_t>(expected.size()));
    Cursor().FilterExpression = nullptr;
  }
  EXPECT_EQ(ShownIds().size(), rows_.size());
}

// The dataset filter and the SQL filter must both hold.
TEST_F(RecordFilterTest, FilterAndSQLFilterTogether) {
  TVEZExpression filter(test::Cmp(doGT, F("A"), test::Int(0)));
  TVEZExpression sql_filter(test::Cmp(doEQ, test::Field(nullptr, "NAME"), test::Str("alpha")));
  Cursor().FilterExpression = &filter;
  Cursor().SetSQLFilter(&sql_filter, nullptr, nullptr);
  EXPECT_EQ(ShownIds(), ModelIds([](const TMemRow& r) { return r.a > 0 && r.name == "alpha"; }));
  Cursor().FilterExpression = nullptr;
  EXPECT_EQ(ShownIds(), ModelIds([](const TMemRow& r) { return r.name == "alpha"; }));
  Cursor().SetSQLFilter(nullptr, nullptr, nullptr);
}

// A filter that fails on some record raises its error on the read and loses
// nothing: without it every row is there as stored.
TEST_F(RecordFilterTest, FailingFilterRaisesAndLosesNothing) {
  // 100 / A fails where A is 0.
  ASSERT_TRUE(std::any_of(rows_.begin(), rows_.end(), [](const TMemRow& r) { return r.a == 0; }));
  TVEZExpression filter(test::Cmp(doGT, test::Arith(doDIV, test::Int(100), F("A")), test::Int(1)));
  Cursor().FilterExpression = &filter;
  EXPECT_EQ(NativeErrorOf([&] { ShownIds(); }), 30128);
  Cursor().FilterExpression = nullptr;
  Cursor().DisableRecordBitmap();
  EXPECT_EQ(Cursor().GetRecordCount(), static_cast<std::int64_t>(rows_.size()));
  Cursor().DisableRecordBitmap();
  Cursor().InternalFirst();
  for (const TMemRow& expected : rows_) {
    ASSERT_EQ(Cursor().GetRecordBuffer(grmNext), grrOK);
    const TMemRow got = table_.Current();
    EXPECT_EQ(got.id, expected.id);
    EXPECT_EQ(got.a, expected.a);
    EXPECT_EQ(got.name, expected.name);
  }
}

}  // namespace
}  // namespace vez

// The join operator over memory tables: key pairs from USING lists and
// NATURAL names, every join kind, the child swap, unique column names and
// the construction errors.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "AOTestSupport.h"
#include "dbengine/sql/VEZAOJoin.h"
#include "tests/common/NativeError.h"

namespace vez::test {
namespace {

class AOJoinTest : public AOTest {
 protected:
  void SetUp() override {
    AOTest::SetUp();
    MakeTable("a", {"k INTEGER", "v INTEGER"}, {{"1", "10"}, {"2", "20"}, {"2", "21"}, {{}, "30"}});
    MakeTable("b", {"k INTEGER", "w INTEGER"}, {{"2", "5"}, {"2", "25"}, {{}, "7"}, {"4", "8"}});
    MakeTable("e", {"k INTEGER"}, {});
  }

  std::vector<std::string> Join(TVEZJoinType type, const std::string& left,
                                const std::string& right, bool natural = false) {
    const TVEZFields l = Columns({left + ".k"});
    const TVEZFields r = Columns({right + ".k"});
    TVEZAOJoin join(Scan(left), Scan(right), type, natural, natural ? nullptr : &l,
                    natural ? nullptr : &r, nullptr);
    RunAll(join);
    return ResultRows(join);
  }
};

TEST_F(AOJoinTest, EveryKindOverKeysWithNullsAndDuplicates) {
  struct TCase {
    const char* name;
    TVEZJoinType type;
    const char* left;
    const char* right;
    std::vector<std::string> rows;
  };
  const std::vector<TCase> cases = {
      {"inner", ajtInner, "a", "b", {"2|20|2|25", "2|20|2|5", "2|21|2|25", "2|21|2|5"}},
      {"left",
       ajtLeftOuter,
       "a",
       "b",
       {"1|10|NULL|NULL", "2|20|2|25", "2|20|2|5", "2|21|2|25", "2|21|2|5", "NULL|30|NULL|NULL"}},
      {"right",
       ajtRightOuter,
       "a",
       "b",
       {"2|20|2|25", "2|20|2|5", "2|21|2|25", "2|21|2|5", "NULL|NULL|4|8", "NULL|NULL|NULL|7"}},
      {"full",
       ajtFullOuter,
       "a",
       "b",
       {"1|10|NULL|NULL", "2|20|2|25", "2|20|2|5", "2|21|2|25", "2|21|2|5", "NULL|30|NULL|NULL",
        "NULL|NULL|4|8", "NULL|NULL|NULL|7"}},
      {"inner with an empty side", ajtInner, "a", "e", {}},
      {"left with an empty right",
       ajtLeftOuter,
       "a",
       "e",
       {"1|10|NULL", "2|20|NULL", "2|21|NULL", "NULL|30|NULL"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Join(c.type, c.left, c.right), c.rows);
  }
}

TEST_F(AOJoinTest, SmallerSideDrivesWithoutChangingTheColumnOrder) {
  MakeTable("one", {"k INTEGER", "z INTEGER"}, {{"2", "99"}});
  // The right child has fewer rows, so it drives; columns stay left, right.
  EXPECT_EQ(Join(ajtInner, "a", "one"), (std::vector<std::string>{"2|20|2|99", "2|21|2|99"}));
  EXPECT_EQ(
      Join(ajtFullOuter, "a", "one"),
      (std::vector<std::string>{"1|10|NULL|NULL", "2|20|2|99", "2|21|2|99", "NULL|30|NULL|NULL"}));
}

TEST_F(AOJoinTest, CrossAndInnerWithoutKeysGiveEveryPair) {
  MakeTable("three", {"x INTEGER"}, {{"1"}, {"2"}, {"3"}});
  MakeTable("four", {"y INTEGER"}, {{"1"}, {"2"}, {"3"}, {"4"}});
  TVEZAOJoin cross(Scan("three"), Scan("four"), ajtCross, false, nullptr, nullptr, nullptr);
  RunAll(cross);
  EXPECT_EQ(ResultRows(cross).size(), 12u);
  const TVEZFields none;
  TVEZAOJoin inner(Scan("three"), Scan("four"), ajtInner, false, &none, &none, nullptr);
  EXPECT_EQ(inner.JoinType(), ajtCross);
  RunAll(inner);
  EXPECT_EQ(ResultRows(inner), ResultRows(cross));
}

TEST_F(AOJoinTest, NaturalPairsEqualNamesAndKeepsBothSidesColumns) {
  MakeTable("n1", {"k INTEGER", "j INTEGER", "p INTEGER"}, {{"1", "1", "5"}, {"1", "2", "6"}});
  MakeTable("n2", {"K INTEGER", "j INTEGER", "q INTEGER"}, {{"1", "2", "7"}, {"2", "2", "8"}});
  TVEZAOJoin join(Scan("n1"), Scan("n2"), ajtInner, true, nullptr, nullptr, nullptr);
  EXPECT_EQ(join.Fields1().size(), 2u);
  RunAll(join);
  EXPECT_EQ(ResultRows(join), (std::vector<std::string>{"1|2|6|1|2|7"}));
  EXPECT_EQ(ResultColumns(join), (std::vector<std::string>{"k", "j", "p", "K_1", "j_1", "q"}));
}

TEST_F(AOJoinTest, ClashingNamesGrowTheCounterDigits) {
  MakeTable("i1", {"ID INTEGER"}, {{"1"}});
  MakeTable("i2", {"id INTEGER"}, {{"1"}});
  MakeTable("i3", {"Id INTEGER"}, {{"1"}});
  MakeTable("i4", {"ID INTEGER"}, {{"1"}});
  auto j12 = std::make_unique<TVEZAOJoin>(Scan("i1"), Scan("i2"), ajtCross, false, nullptr, nullptr,
                                          nullptr);
  auto j123 = std::make_unique<TVEZAOJoin>(std::move(j12), Scan("i3"), ajtCross, false, nullptr,
                                           nullptr, nullptr);
  TVEZAOJoin all(std::move(j123), Scan("i4"), ajtCross, false, nullptr, nullptr, nullptr);
  RunAll(all);
  EXPECT_EQ(ResultColumns(all), (std::vector<std::string>{"ID", "id_1", "Id_12", "ID_123"}));
}

TEST_F(AOJoinTest, ConstructionErrors) {
  struct TCase {
    const char* name;
    std::vector<std::string> left, right;
    std::int32_t error;
  };
  const std::vector<TCase> cases = {
      {"lists of different length", {"a.k"}, {}, 10330},
      {"unknown left column", {"a.nope"}, {"b.k"}, 10331},
      {"ambiguous left column", {"k"}, {"b.k"}, 10331},
      {"unknown right column", {"a.k"}, {"b.nope"}, 10332},
      {"both columns on one side", {"a.k"}, {"a.v"}, 10334},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TVEZFields l = Columns(c.left);
    const TVEZFields r = Columns(c.right);
    EXPECT_EQ(NativeErrorOf(
                  [&] { TVEZAOJoin join(Scan("a"), Scan("b"), ajtInner, false, &l, &r, nullptr); }),
              c.error);
  }
  // A pair written right side first is turned round.
  const TVEZFields l = Columns({"b.k"});
  const TVEZFields r = Columns({"a.k"});
  TVEZAOJoin join(Scan("a"), Scan("b"), ajtInner, false, &l, &r, nullptr);
  RunAll(join);
  EXPECT_EQ(ResultRows(join).size(), 4u);
}

}  // namespace
}  // namespace vez::test

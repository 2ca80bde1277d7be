// The set-operation and grouping operators over memory tables, and the
// join's further condition; expressions are built as trees of nodes.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "AOTestSupport.h"
#include "ExprTestSupport.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/sql/VEZAOGroupBy.h"
#include "dbengine/sql/VEZAOJoin.h"
#include "dbengine/sql/VEZAOSQLTopRowCount.h"
#include "dbengine/sql/VEZAOTableExpr.h"
#include "dbengine/sql/VEZAOUnion.h"
#include "dbengine/sql/VEZExprNodeAggregated.h"
#include "dbengine/sql/VEZExprNodeField.h"
#include "tests/common/NativeError.h"

namespace vez::test {
namespace {

std::unique_ptr<TVEZExprNode> Col(const std::string& table, const std::string& name) {
  return std::make_unique<TVEZExprNodeField>(nullptr, name, table);
}

TVEZSelectListItem Column(const std::string& name, const std::string& alias = {}) {
  TVEZSelectListItem item;
  item.FieldName = name;
  item.Pseudonym = alias;
  return item;
}

using TRows = std::vector<std::string>;

class AOSetGroupTest : public AOTest {
 protected:
  void SetUp() override {
    AOTest::SetUp();
    MakeTable("l", {"x INTEGER", "y INTEGER", "z INTEGER"},
              {{"1", "1", "9"}, {"2", "2", "9"}, {"2", "2", "8"}, {{}, "3", "7"}});
    MakeTable("r", {"y INTEGER", "x INTEGER"}, {{"2", "2"}, {"5", "5"}, {"3", {}}});
    MakeTable("e", {"x INTEGER", "y INTEGER"}, {});
  }

  // Expressions made by a test live until the test ends.
  TVEZExpression* Owned(std::unique_ptr<TVEZExprNode> root) {
    expressions_.push_back(std::make_unique<TVEZExpression>(std::move(root)));
    return expressions_.back().get();
  }
  TVEZSelectListItem Aggregate(std::unique_ptr<TVEZExprNode> node, const std::string& alias) {
    TVEZSelectListItem item;
    item.IsExpression = true;
    item.ValueExpr = Owned(std::move(node));
    item.Pseudonym = alias;
    item.FieldName = alias;
    return item;
  }
  static std::unique_ptr<TVEZExprNode> CountAll() {
    return std::make_unique<TVEZExprNodeAggregated>(doCOUNTALL);
  }
  static std::unique_ptr<TVEZExprNode> Sum(std::unique_ptr<TVEZExprNode> arg) {
    return std::make_unique<TVEZExprNodeAggregated>(doSUM, false, std::move(arg));
  }

  // The select list's expressions pass to the operator, which frees them.
  std::vector<std::string> Group(const std::string& table, const std::vector<std::string>& by,
                                 std::vector<TVEZSelectListItem> select) {
    const TVEZFields list = Columns(by);
    TVEZAOGroupBy group(Scan(table), by.empty() ? nullptr : &list, select);
    for (auto& item : select)
      Release(item);
    group.SetResultFields(select, false);
    group.Execute(true, nullptr, nullptr);
    return ResultRows(group);
  }
  void Release(TVEZSelectListItem& item) {
    for (auto& e : expressions_) {
      if (e.get() == item.ValueExpr) e.release();
    }
  }

  std::vector<std::string> SetOp(TVEZUnionType type, bool distinct, const std::string& left,
                                 const std::string& right, bool corresponding = false,
                                 const TVEZFields* by = nullptr) {
    TVEZAOUnion op(Scan(left), Scan(right), type, nullptr, nullptr, corresponding, distinct, by);
    RunAll(op);
    return ResultRows(op);
  }

  std::vector<std::unique_ptr<TVEZExpression>> expressions_;
};

TEST_F(AOSetGroupTest, SetOperationsByPositionAndByName) {
  MakeTable("l2", {"x INTEGER", "y INTEGER"}, {{"1", "1"}, {"1", "1"}, {"2", "2"}});
  MakeTable("r2", {"x INTEGER", "y INTEGER"}, {{"2", "2"}, {"3", "3"}});
  struct TCase {
    const char* name;
    TVEZUnionType type;
    bool distinct;
    const char* left;
    const char* right;
    TRows rows;
  };
  const std::vector<TCase> cases = {
      {"UNION removes duplicates", autUnion, true, "l2", "r2", {"1|1", "2|2", "3|3"}},
      {"UNION ALL keeps them", autUnion, false, "l2", "r2", {"1|1", "1|1", "2|2", "2|2", "3|3"}},
      {"INTERSECT", autIntersect, true, "l2", "r2", {"2|2"}},
      {"INTERSECT ALL keeps left duplicates",
       autIntersect,
       false,
       "l2",
       "l2",
       {"1|1", "1|1", "2|2"}},
      {"EXCEPT", autExcept, true, "l2", "r2", {"1|1"}},
      {"EXCEPT with an empty right", autExcept, false, "l2", "e", {"1|1", "1|1", "2|2"}},
      {"3 and 2 columns pair the first two",
       autUnion,
       false,
       "l",
       "r",
       {"1|1", "2|2", "2|2", "2|2", "3|NULL", "5|5", "NULL|3"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SetOp(c.type, c.distinct, c.left, c.right), c.rows);
  }
  // CORRESPONDING pairs x with x and y with y; BY keeps only the listed.
  EXPECT_EQ(SetOp(autUnion, false, "l", "r", true),
            (TRows{"1|1", "2|2", "2|2", "2|2", "5|5", "NULL|3", "NULL|3"}));
  const TVEZFields by = Columns({"y"});
  EXPECT_EQ(SetOp(autUnion, true, "l", "r", true, &by), (TRows{"1", "2", "3", "5"}));
  const TVEZFields none;
  EXPECT_EQ(NativeErrorOf([&] { SetOp(autUnion, true, "l", "r", true, &none); }), 10337);
}

TEST_F(AOSetGroupTest, ABlobColumnIsLeftOutWhereRowsAreCompared) {
  MakeTable("b1", {"k INTEGER", "b BLOB"}, {{"1", "x"}});
  MakeTable("b2", {"k INTEGER", "b BLOB"}, {{"1", "y"}});
  TVEZAOUnion all(Scan("b1"), Scan("b2"), autUnion, nullptr, nullptr, false, false, nullptr);
  EXPECT_EQ(all.FieldCount(), 2);
  for (TVEZUnionType type : {autUnion, autIntersect, autExcept}) {
    TVEZAOUnion op(Scan("b1"), Scan("b2"), type, nullptr, nullptr, false, true, nullptr);
    EXPECT_EQ(op.FieldCount(), 1) << type;
  }
}

TEST_F(AOSetGroupTest, GroupsAndTheOneGroupOfAWholeInput) {
  // NULL keys form one group.
  MakeTable("g", {"a INTEGER", "v INTEGER"},
            {{"1", "5"}, {{}, "1"}, {"1", "6"}, {{}, "2"}, {"3", "0"}});
  EXPECT_EQ(Group("g", {"a"},
                  {Column("a"), Aggregate(CountAll(), "n"), Aggregate(Sum(Col("", "v")), "s")}),
            (TRows{"1|2|11", "3|1|0", "NULL|2|3"}));
  // Grouped by a column's alias.
  EXPECT_EQ(Group("g", {"k"}, {Column("a", "k"), Aggregate(CountAll(), "n")}),
            (TRows{"1|2", "3|1", "NULL|2"}));
  // A one-row input is one group.
  MakeTable("one", {"a INTEGER", "v INTEGER"}, {{"4", "4"}});
  EXPECT_EQ(Group("one", {"a"}, {Column("a"), Aggregate(CountAll(), "n")}), (TRows{"4|1"}));
  // Over an empty input: no group with a list, one row of 0 without.
  EXPECT_EQ(Group("e", {"x"}, {Column("x"), Aggregate(CountAll(), "n")}), (TRows{}));
  EXPECT_EQ(Group("e", {}, {Aggregate(CountAll(), "n")}), (TRows{"0"}));
  EXPECT_EQ(Group("e", {}, {Aggregate(CountAll(), "n"), Aggregate(CountAll(), "m")}),
            (TRows{"0|0"}));
  EXPECT_EQ(Group("g", {}, {Aggregate(CountAll(), "n"), Aggregate(Sum(Col("", "v")), "s")}),
            (TRows{"5|14"}));
}

TEST_F(AOSetGroupTest, AColumnReadRowAfterRowTakesNoNewBlock) {
  // Grouping and aggregates read every input row into the same value: the
  // value keeps its block from row to row, so the allocator is not asked
  // even when it has not a byte to spare.
  MakeTable("rowvals", {"a INTEGER", "d FLOAT", "s VARCHAR(8)"},
            {{"1", "1.5", "ab"}, {"2", "2.5", "cd"}, {"3", {}, "ef"}, {"4", "4.5", "gh"}});
  std::unique_ptr<TVEZAO> ao = Scan("rowvals");
  RunAll(*ao);
  TVEZVariant value;
  std::vector<std::string> seen;
  for (ao->First(); !ao->GetEof(); ao->Next()) {
    // A column of another type in between takes a block of its own.
    ao->GetFieldValue(value, 2, true, true);
    ao->GetFieldValue(value, 1, true, true);
    const std::int64_t before = MemoryManager().MaxMemorySize();
    MemoryManager().SetMaxMemorySize(MemoryManager().TotalMemAllocated() - 1);
    const int error = NativeErrorOf([&] {
      ao->GetFieldValue(value, 1, true, true);
      ao->GetFieldValue(value, 1, true, true);
    });
    MemoryManager().SetMaxMemorySize(before);
    EXPECT_EQ(error, 0);
    seen.push_back(value.GetIsNull() ? "NULL" : std::to_string(value.GetAsDouble()));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"1.500000", "2.500000", "NULL", "4.500000"}));
}

TEST_F(AOSetGroupTest, GroupingErrors) {
  MakeTable("g", {"a INTEGER", "v INTEGER"}, {{"1", "5"}});
  // A plain column beside an aggregate without GROUP BY.
  EXPECT_EQ(NativeErrorOf([&] {
              Group("g", {}, {Column("a"), Aggregate(CountAll(), "n")});
            }),
            10342);
  // A column not grouped.
  EXPECT_EQ(NativeErrorOf([&] {
              Group("g", {"a"}, {Column("v"), Aggregate(CountAll(), "n")});
            }),
            10342);
  // GROUP BY an alias of an aggregate, or of nothing.
  EXPECT_EQ(NativeErrorOf([&] { Group("g", {"n"}, {Aggregate(CountAll(), "n")}); }), 20245);
  EXPECT_EQ(NativeErrorOf([&] { Group("g", {"nope"}, {Aggregate(CountAll(), "n")}); }), 20245);
}

TEST_F(AOSetGroupTest, JoinKeyWithAFurtherCondition) {
  MakeTable("ja", {"x INTEGER", "z INTEGER"}, {{"1", "5"}, {"1", "0"}, {"2", "9"}});
  MakeTable("jb", {"y INTEGER", "w INTEGER"}, {{"1", "3"}, {"3", "1"}});
  for (TVEZJoinType type : {ajtInner, ajtLeftOuter, ajtFullOuter}) {
    SCOPED_TRACE(type);
    const TVEZFields l = Columns({"ja.x"});
    const TVEZFields r = Columns({"jb.y"});
    auto condition = std::make_unique<TVEZExpression>(Cmp(doGT, Col("ja", "z"), Col("jb", "w")));
    TVEZAOJoin join(Scan("ja"), Scan("jb"), type, false, &l, &r, std::move(condition));
    RunAll(join);
    TRows expected = {"1|5|1|3"};
    if (type != ajtInner) {
      expected = {"1|0|NULL|NULL", "1|5|1|3", "2|9|NULL|NULL"};
    }
    if (type == ajtFullOuter) expected.push_back("NULL|NULL|3|1");
    EXPECT_EQ(ResultRows(join), expected);
  }
}

// TOP n, m over a child that materialises itself: n rows starting with the
// child's row m, the first row number applied once whatever m is.
TEST_F(AOSetGroupTest, TopOverAMaterialisingChildSkipsOnce) {
  MakeTable("seq", {"a INTEGER"}, {{"1"}, {"2"}, {"3"}, {"4"}, {"5"}, {"6"}});
  struct Case {
    std::int32_t first, count;
    TRows rows;
  };
  const Case cases[] = {
      {-1, 2, {"1", "2"}}, {1, 2, {"1", "2"}}, {2, 2, {"2", "3"}}, {3, 3, {"3", "4", "5"}},
      {5, 9, {"5", "6"}},  {7, 1, {}},         {4, 0, {}},         {0, 1, {"1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("TOP " + std::to_string(c.count) + ", " + std::to_string(c.first));
    TVEZAOSQLTopRowCount top(std::make_unique<TVEZAOTableExpr>(Scan("seq")));
    top.SetTopRowCount(c.first, c.count);
    RunAll(top);
    EXPECT_EQ(ResultRows(top, false), c.rows);
  }
}

// After materialising, links read the result table by physical column, so a
// visible column the projection leaves out still reads its own value; a
// hidden link has no source any more (its child is freed) and reading it is
// an invalid link, not a stale value.
TEST_F(AOSetGroupTest, LinksAfterMaterialisingReadTheirOwnColumnOrNothing) {
  TVEZVariant value(bftUnknown);
  {
    auto child = Scan("l");
    std::vector<TVEZSelectListItem> all;
    child->SetResultFields(all, false);
    TVEZAOTableExpr expr(std::move(child));
    std::vector<TVEZSelectListItem> only_z{Column("z")};
    expr.SetResultFields(only_z, false);
    expr.Execute(true, nullptr, nullptr);
    ASSERT_EQ(ResultColumns(expr), (TRows{"z"}));
    ASSERT_EQ(expr.FieldCount(), 3);  // x, y, z in the child's order
    expr.ResultDataset()->First();
    const std::pair<std::int32_t, const char*> reads[] = {{0, "1"}, {1, "1"}, {2, "9"}};
    for (const auto& [link, text] : reads) {
      SCOPED_TRACE("link " + std::to_string(link));
      expr.GetFieldValue(value, link, true, false);
      EXPECT_EQ(value.GetAsAnsiString(), text);
    }
  }
  {
    TVEZAOTableExpr expr(Scan("l"));  // the table's links start hidden
    std::vector<TVEZSelectListItem> only_z{Column("z")};
    expr.SetResultFields(only_z, false);
    expr.Execute(true, nullptr, nullptr);
    ASSERT_EQ(ResultColumns(expr), (TRows{"z"}));
    ASSERT_EQ(expr.FieldCount(), 3);
    expr.ResultDataset()->First();
    expr.GetFieldValue(value, 2, true, false);
    EXPECT_EQ(value.GetAsAnsiString(), "9");
    EXPECT_EQ(NativeErrorOf([&] { expr.GetFieldValue(value, 0, true, true); }), 10309);
    EXPECT_EQ(NativeErrorOf([&] { expr.GetFieldValue(value, 1, true, false); }), 10309);
    EXPECT_EQ(NativeErrorOf([&] { expr.GetFieldValue(value, 3, true, true); }), 10307);
  }
}

}  // namespace
}  // namespace vez::test

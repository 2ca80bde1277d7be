// The aggregate node driven by hand as the grouping code drives it: Init,
// one Accumulate per record, GetDataValue after the last record.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "ExprTestSupport.h"
#include "FilterTableTestSupport.h"
#include "SQLiteOracle.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/sql/VEZExprNodeAggregated.h"
#include "dbengine/sql/VEZExprNodeField.h"
#include "platform/core/Exceptions.h"
#include "tests/common/NativeError.h"

namespace vez {
namespace {

using test::NativeErrorOf;

// The argument: returns whatever value the test sets before each record.
class TFeedNode : public TVEZExprNode {
 public:
  explicit TFeedNode(TVEZAdvancedFieldType type = aftInteger, std::int32_t size = 0)
      : TVEZExprNode(false, false), FType(type), FSize(size) {}
  TVEZVariant* GetDataValue() override { return &Value; }
  TVEZAdvancedFieldType GetDataType() override { return FType; }
  std::int32_t GetDataSize() override { return FSize; }

 private:
  TVEZAdvancedFieldType FType;
  std::int32_t FSize;
};

// A record's argument: NULL, an integer, a double or a text.
using TIn = std::variant<std::monostate, std::int32_t, double, std::string>;

void SetFeed(TVEZVariant& v, const TIn& in) {
  if (std::holds_alternative<std::monostate>(in))
    v.SetNull(bftSignedInt32);
  else if (const auto* i = std::get_if<std::int32_t>(&in)) {
    v.Clear(bftSignedInt32);
    v.SetAsInteger(*i);
  } else if (const auto* d = std::get_if<double>(&in)) {
    v.Clear(bftDouble);
    v.SetAsDouble(*d);
  } else {
    v.Clear(bftVarchar);
    v.SetAsAnsiString(std::get<std::string>(in));
  }
}

struct TAgg {
  std::unique_ptr<TVEZExprNodeAggregated> node;
  TFeedNode* feed = nullptr;
};

TAgg Make(TVEZDataOperator op, bool distinct = false) {
  TAgg a;
  if (op == doCOUNTALL) {
    a.node = std::make_unique<TVEZExprNodeAggregated>(op);
    return a;
  }
  auto feed = std::make_unique<TFeedNode>();
  a.feed = feed.get();
  a.node = std::make_unique<TVEZExprNodeAggregated>(op, distinct, std::move(feed));
  return a;
}

// One group run through the node; the result as text ("NULL" for NULL).
std::string RunGroup(TVEZDataOperator op, bool distinct, const std::vector<TIn>& rows) {
  TAgg a = Make(op, distinct);
  a.node->Init();
  for (const TIn& in : rows) {
    if (a.feed) SetFeed(a.feed->Value, in);
    a.node->Accumulate();
  }
  const TVEZVariant* v = a.node->GetDataValue();
  return v->GetIsNull() ? "NULL" : v->GetAsAnsiString();
}

struct TRow {
  const char* name;
  TVEZDataOperator op;
  bool distinct;
  std::vector<TIn> rows;
  const char* expected;
};

TEST(AggregatedNodeTest, ResultsOverOneGroup) {
  const TIn null;
  const std::vector<TRow> table = {
      {"SUM all NULL", doSUM, false, {null, null}, "NULL"},
      {"SUM nothing", doSUM, false, {}, "NULL"},
      {"COUNT all NULL", doCOUNT, false, {null, null}, "0"},
      {"COUNT skips NULL", doCOUNT, false, {1, null, 2}, "2"},
      {"COUNT(*) every record", doCOUNTALL, false, {null, null, null}, "3"},
      {"AVG 1 2", doAVG, false, {1, 2}, "1.5"},
      {"AVG all NULL", doAVG, false, {null}, "NULL"},
      {"AVG skips NULL", doAVG, false, {null, 4, null, 2}, "3"},
      {"MIN text ignores case", doMIN, false, {std::string("b"), std::string("A")}, "A"},
      {"MAX text ignores case", doMAX, false, {std::string("b"), std::string("A")}, "b"},
      {"MIN skips NULL", doMIN, false, {null, 5, null, 3, 7}, "3"},
      {"MAX all NULL", doMAX, false, {null, null}, "NULL"},
      {"MAX of ints", doMAX, false, {-5, 9, 2}, "9"},
      {"SUM of ints", doSUM, false, {1, -3, null, 10}, "8"},
      {"SUM of doubles", doSUM, false, {1.5, 2.25}, "3.75"},
      {"SUM mixed", doSUM, false, {1, 0.5}, "1.5"},
      // Int32 values past 2^31 do not wrap.
      {"SUM wide", doSUM, false, {2147483647, 2147483647, 2}, "4294967296"},
      // DISTINCT takes each non-NULL value once.
      {"COUNT DISTINCT", doCOUNT, true, {1, 1, 2, null}, "2"},
      {"SUM DISTINCT", doSUM, true, {1, 1, 2, null}, "3"},
      {"AVG DISTINCT", doAVG, true, {1, 1, 2, null}, "1.5"},
      {"MIN DISTINCT", doMIN, true, {1, 1, 2, null}, "1"},
      {"COUNT DISTINCT text by case",
       doCOUNT,
       true,
       {std::string("a"), std::string("A"), std::string("a")},
       "2"},
  };
  for (const TRow& row : table) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(RunGroup(row.op, row.distinct, row.rows), row.expected);
  }
}

TEST(AggregatedNodeTest, ReadingTwiceAndRestartingTheGroup) {
  TAgg a = Make(doAVG);
  a.node->Init();
  for (int v : {1, 2}) {
    a.feed->Value.SetAsInteger(v);
    a.node->Accumulate();
  }
  EXPECT_DOUBLE_EQ(a.node->GetDataValue()->GetAsDouble(), 1.5);
  EXPECT_DOUBLE_EQ(a.node->GetDataValue()->GetAsDouble(), 1.5);
  EXPECT_EQ(a.node->count, 2);
  a.node->Init();
  EXPECT_TRUE(a.node->GetDataValue()->GetIsNull());

  TAgg d = Make(doCOUNT, true);
  d.node->Init();
  d.feed->Value.SetAsInteger(1);
  d.node->Accumulate();
  d.node->Init();  // a new group forgets the values seen
  d.node->Accumulate();
  EXPECT_EQ(d.node->GetDataValue()->GetAsInt64(), 1);

  TAgg m = Make(doMAX);
  m.node->Init();
  m.feed->Value.SetAsInteger(9);
  m.node->Accumulate();
  m.node->Init();
  EXPECT_TRUE(m.node->GetDataValue()->GetIsNull());

  TAgg c = Make(doCOUNTALL);
  c.node->Init();
  c.node->SetCountAll(41);
  c.node->Accumulate();
  EXPECT_EQ(c.node->GetDataValue()->GetAsInt64(), 42);
}

TEST(AggregatedNodeTest, Errors) {
  EXPECT_EQ(NativeErrorOf([] { RunGroup(doSUM, false, {1, std::string("x")}); }), 30132);
  EXPECT_EQ(NativeErrorOf([] { RunGroup(doAVG, false, {std::string("x")}); }), 30133);
  EXPECT_EQ(NativeErrorOf([] { RunGroup(doADD, false, {1}); }), 30134);
  // Past Int64 the sum raises instead of wrapping.
  TAgg a = Make(doSUM);
  a.node->Init();
  auto* feed = a.feed;
  auto add = [&](std::int64_t v) {
    feed->Value.Clear(bftSignedInt64);
    feed->Value.SetAsInt64(v);
    a.node->Accumulate();
  };
  add(INT64_MAX);
  EXPECT_THROW(add(1), platform::EIntOverflow);
}

TEST(AggregatedNodeTest, TypesSizesAndFlags) {
  struct {
    TVEZDataOperator op;
    TVEZAdvancedFieldType arg;
    TVEZAdvancedFieldType expected;
  } const rows[] = {
      {doSUM, aftInteger, aftLargeint}, {doSUM, aftSmallint, aftLargeint},
      {doSUM, aftDouble, aftDouble},    {doSUM, aftCurrency, aftCurrency},
      {doAVG, aftInteger, aftDouble},   {doMIN, aftString, aftString},
      {doMAX, aftDate, aftDate},        {doCOUNT, aftString, aftInteger},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.op) + "/" + std::to_string(row.arg));
    TVEZExprNodeAggregated node(row.op, false, std::make_unique<TFeedNode>(row.arg, 20));
    EXPECT_EQ(node.GetDataType(), row.expected);
    EXPECT_EQ(node.GetDataSize(), row.op == doMIN || row.op == doMAX ? 20 : 0);
    EXPECT_TRUE(node.IsAggregated());
    EXPECT_FALSE(node.IsAggregatedCountAll());
    EXPECT_TRUE(node.CanBeUsedInGroupBy(""));
    EXPECT_FALSE(node.CanBeAssigned(nullptr, nullptr, nullptr, false));
  }
  TVEZExprNodeAggregated all(doCOUNTALL);
  EXPECT_EQ(all.GetDataType(), aftInteger);
  EXPECT_TRUE(all.IsAggregatedCountAll());
  // A tree above an aggregate is aggregated too.
  TVEZExprNode::TNodePtr sum =
      std::make_unique<TVEZExprNodeAggregated>(doSUM, false, std::make_unique<TFeedNode>());
  TFeedNode parent;
  parent.AddChild(std::move(sum));
  EXPECT_TRUE(parent.IsAggregated());
}

// Generated groups of Int32 (|v| < 2^15) or doubles (quarters, so that sums
// are exact in any order) with NULLs, against SQLite's aggregates.
TEST(AggregatedNodeDifferentialTest, MatchesSQLiteOverGeneratedGroups) {
  struct TAggCase {
    const char* sql;
    TVEZDataOperator op;
    bool distinct;
  };
  const TAggCase aggs[] = {
      {"count(*)", doCOUNTALL, false},
      {"count(x)", doCOUNT, false},
      {"sum(x)", doSUM, false},
      {"avg(x)", doAVG, false},
      {"min(x)", doMIN, false},
      {"max(x)", doMAX, false},
      {"count(DISTINCT x)", doCOUNT, true},
      {"sum(DISTINCT x)", doSUM, true},
      {"avg(DISTINCT x)", doAVG, true},
  };
  std::mt19937 rng(20261211);
  test::oracle::TSQLiteOracle db;
  for (int group = 0; group < 200; ++group) {
    const bool doubles = group % 2 == 1;
    const int size = static_cast<int>(rng() % 12);
    const int null_share = static_cast<int>(rng() % 4);  // 0: none .. 3: most
    // Small ranges so that DISTINCT meets repeats.
    const int range = 1 + static_cast<int>(rng() % (group % 3 == 0 ? 5 : 32767));
    std::vector<TIn> rows;
    for (int i = 0; i < size; ++i) {
      if (static_cast<int>(rng() % 4) < null_share) {
        rows.emplace_back();
        continue;
      }
      const int v = static_cast<int>(rng() % (2 * range + 1)) - range;
      if (doubles)
        rows.emplace_back(v / 4.0);
      else
        rows.emplace_back(static_cast<std::int32_t>(v));
    }
    db.Exec("DROP TABLE IF EXISTS t");
    db.Exec("CREATE TABLE t (x)");
    for (const TIn& in : rows) {
      std::string text = "NULL";
      if (const auto* i = std::get_if<std::int32_t>(&in)) text = std::to_string(*i);
      if (const auto* d = std::get_if<double>(&in)) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", *d);
        text = buf;
        if (text.find_first_of(".e") == std::string::npos) text += ".0";
      }
      db.Exec("INSERT INTO t VALUES (" + text + ")");
    }
    for (const TAggCase& agg : aggs) {
      SCOPED_TRACE("group " + std::to_string(group) + " " + agg.sql);
      const test::oracle::TOracleValue want =
          db.Value(std::string("SELECT ") + agg.sql + " FROM t");
      TAgg a = Make(agg.op, agg.distinct);
      a.node->Init();
      for (const TIn& in : rows) {
        if (a.feed) SetFeed(a.feed->Value, in);
        a.node->Accumulate();
      }
      const TVEZVariant* got = a.node->GetDataValue();
      if (want.type == test::oracle::TOracleValue::Type::Null) {
        EXPECT_TRUE(got->GetIsNull()) << got->GetAsAnsiString();
        continue;
      }
      ASSERT_FALSE(got->GetIsNull()) << want.ToString();
      const double want_number = want.type == test::oracle::TOracleValue::Type::Integer
                                     ? static_cast<double>(want.integer)
                                     : want.real;
      EXPECT_DOUBLE_EQ(got->GetAsDouble(), want_number);
    }
  }
}

// The same comparison with the argument read from the records of a memory
// table, as the grouping code feeds it: a column node bound to the cursor,
// the tree pointed at each record of the group before Accumulate. Groups of
// Int32 (|v| < 2^15) and of doubles, with NULLs, side by side in one table.
class AggregatedTableDifferentialTest : public test::FilterTableTest {
 protected:
  void SetUp() override {
    TVEZFieldDefs fields;
    test::AddField(fields, "G", aftInteger);
    test::AddField(fields, "I", aftInteger);
    test::AddField(fields, "D", aftDouble);
    TVEZIndexDefs indexes;
    CreateTable("Samples", fields, indexes);
  }

  // The aggregate over column `column` of the records of group g.
  const TVEZVariant* Run(TVEZExprNodeAggregated& node, std::int32_t g) {
    node.Init();
    cursor_.InternalFirst();
    while (cursor_.GetRecordBuffer(grmNext) == grrOK) {
      TVEZVariant group;
      cursor_.GetFieldValue(group, 0, true);
      if (group.GetAsInteger() != g) continue;
      node.AssignCursorBuffer(cursor_.CurrentRecordBuffer, false);
      node.Accumulate();
    }
    return node.GetDataValue();
  }
};

TEST_F(AggregatedTableDifferentialTest, MatchesSQLiteOverTheRecordsOfATable) {
  struct TAggCase {
    const char* sql;
    TVEZDataOperator op;
    bool distinct;
  };
  const TAggCase aggs[] = {
      {"count(*)", doCOUNTALL, false},
      {"count(%s)", doCOUNT, false},
      {"sum(%s)", doSUM, false},
      {"avg(%s)", doAVG, false},
      {"min(%s)", doMIN, false},
      {"max(%s)", doMAX, false},
      {"count(DISTINCT %s)", doCOUNT, true},
      {"sum(DISTINCT %s)", doSUM, true},
      {"avg(DISTINCT %s)", doAVG, true},
  };
  std::mt19937 rng(5020);
  test::oracle::TSQLiteOracle db;
  db.Exec("CREATE TABLE t (g, i, d)");
  constexpr std::int32_t kGroups = 60;
  for (std::int32_t g = 0; g < kGroups; ++g) {
    const int size = static_cast<int>(rng() % 10);
    const int null_share = static_cast<int>(rng() % 4);
    const int range = 1 + static_cast<int>(rng() % (g % 3 == 0 ? 4 : 32767));
    for (int r = 0; r < size; ++r) {
      auto maybe = [&]() -> std::optional<std::int32_t> {
        if (static_cast<int>(rng() % 4) < null_share) return std::nullopt;
        return static_cast<std::int32_t>(rng() % (2 * range + 1)) - range;
      };
      const std::optional<std::int32_t> i = maybe();
      // Quarters: exact in double, so sums agree in any order.
      const std::optional<std::int32_t> quarters = maybe();
      NewRow();
      Set(0, std::optional<std::int32_t>(g));
      Set(1, i);
      if (quarters) Set(2, std::optional<double>(*quarters / 4.0));
      PostRow();
      db.Exec("INSERT INTO t VALUES (" + std::to_string(g) + ", " +
              (i ? std::to_string(*i) : std::string("NULL")) + ", " +
              (quarters ? std::to_string(*quarters) + ".0 / 4" : std::string("NULL")) + ")");
    }
  }
  for (const char* column : {"i", "d"}) {
    for (const TAggCase& agg : aggs) {
      char sql[64];
      std::snprintf(sql, sizeof sql, agg.sql, column);
      std::unique_ptr<TVEZExprNodeAggregated> node;
      if (agg.op == doCOUNTALL)
        node = std::make_unique<TVEZExprNodeAggregated>(agg.op);
      else
        node = std::make_unique<TVEZExprNodeAggregated>(
            agg.op, agg.distinct,
            std::make_unique<TVEZExprNodeField>(&cursor_, column[0] == 'i' ? "I" : "D", ""));
      for (std::int32_t g = 0; g < kGroups; ++g) {
        SCOPED_TRACE(std::string(sql) + " group " + std::to_string(g));
        const test::oracle::TOracleValue want =
            db.Value(std::string("SELECT ") + sql + " FROM t WHERE g = " + std::to_string(g));
        const TVEZVariant* got = Run(*node, g);
        if (want.type == test::oracle::TOracleValue::Type::Null) {
          EXPECT_TRUE(got->GetIsNull()) << got->GetAsAnsiString();
          continue;
        }
        ASSERT_FALSE(got->GetIsNull()) << want.ToString();
        const double want_number = want.type == test::oracle::TOracleValue::Type::Integer
                                       ? static_cast<double>(want.integer)
                                       : want.real;
        EXPECT_DOUBLE_EQ(got->GetAsDouble(), want_number);
      }
    }
  }
}

}  // namespace
}  // namespace vez

// Index scan conditions from filter expressions: the conditions the nodes
// give (the storage engine's protocol run by hand on a memory table with
// indexes), the rows the cursor filter shows with them, how many records the
// scan tested, and the trees after the scan. Rows are checked against the
// same filter without conditions and against SQLite with the same indexes.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ExprTestSupport.h"
#include "FilterTableTestSupport.h"
#include "SQLiteOracle.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/sql/VEZSQLEngine.h"
#include "dbengine/storage/VEZIndexManager.h"
#include "dbengine/storage/VEZMemoryTableData.h"
#include "dbengine/storage/VEZScanSearchCondition.h"
#include "platform/core/Collation.h"
#include "tests/common/NativeError.h"
#include "tests/common/VEZTestLocalCursor.h"
#include "tests/common/VEZTestSQLEngine.h"
#include "tests/dbengine/storage/DiskTableTestSupport.h"
#include "tests/dbengine/storage/DiskTestSupport.h"
#include "tests/dbengine/storage/TableTestSupport.h"

namespace vez {
namespace {

using test::NativeErrorOf;

// The filter as the engine ran it before index conditions existed: every
// record is read and tested.
class TNoConditionExpression : public TVEZExpression {
 public:
  void CreateIndexScanConditions(const TVEZIndexDefs&, TVEZScanSearchConditionArray&,
                                 std::int32_t) override {}
};

// UPPER / LOWER over a field built by hand: the node shape the scan looks for,
// apart from the parser (whose own UPPER and LOWER are tested as well).
class TCaseFunctionNode : public TVEZExprNode {
 public:
  TCaseFunctionNode(TVEZDataOperator op, TNodePtr field)
      : TVEZExprNode(op, std::move(field), false, false) {
    FKind = TVEZExprNodeKind::StringFunction;
  }
  TVEZVariant* GetDataValue() override {
    const TVEZVariant& v = *Children[0]->GetDataValue();
    if (v.GetIsNull()) {
      Value.SetNull(bftVarchar);
    } else {
      const std::string s = v.GetAsAnsiString();
      Value.SetAsAnsiString(Operator == doUPPER ? platform::AnsiUpperCase(s)
                                                : platform::AnsiLowerCase(s));
    }
    return &Value;
  }
  TVEZAdvancedFieldType GetDataType() override { return aftString; }
};

struct TRow {
  std::int32_t row_no = 0;
  std::optional<std::int32_t> id, a, b, val;
  std::optional<double> measurement;
  std::optional<std::string> name;
};

constexpr std::int32_t kNameSize = 8;

class IndexScanTest : public test::FilterTableTest {
 protected:
  void SetUp() override {
    TVEZFieldDefs fields;
    test::AddField(fields, "RowNo", aftInteger);
    test::AddField(fields, "ID", aftInteger);
    test::AddField(fields, "A", aftInteger);
    test::AddField(fields, "B", aftInteger);
    test::AddField(fields, "Val", aftInteger);
    test::AddField(fields, "MeasurementID", aftDouble);
    test::AddField(fields, "Name", aftString, kNameSize);
    TVEZIndexDefs indexes;
    test::AddIndexDef(indexes, "IX_ID", {"ID"});
    test::AddIndexDef(indexes, "IX_AB", {"A", "B"});
    test::AddIndexDef(indexes, "Primary", {"MeasurementID", "RowNo"});
    indexes.AddCreated()->Name = "IX_BDESC";
    indexes.GetIndexDefByName("IX_BDESC")->AssignByNames({"B"}, {"DESC"}, {""});
    indexes.AddCreated()->Name = "IX_NAME";
    indexes.GetIndexDefByName("IX_NAME")->AssignByNames({"Name"}, {""}, {"NO_CASE"});
    CreateTable("Data", fields, indexes);
    std::mt19937 rng(4113);
    auto maybe = [&](std::int32_t low, std::int32_t high) -> std::optional<std::int32_t> {
      if (rng() % 7 == 0) return std::nullopt;
      return low + static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(high - low + 1));
    };
    const char* names[] = {"abc", "ABC", "Abc", "beta", "abcdefg", "zz"};
    for (std::int32_t n = 0; n < 400; ++n) {
      TRow r;
      r.row_no = n;
      r.id = maybe(-2, 40);
      r.a = maybe(0, 4);
      r.b = maybe(0, 9);
      r.val = maybe(0, 9);
      if (rng() % 9 != 0) r.measurement = static_cast<double>(rng() % 28);
      if (rng() % 6 != 0) r.name = names[rng() % 6];
      Insert(r);
      rows_.push_back(r);
    }
  }

  void Insert(const TRow& r) {
    NewRow();
    Set(0, std::optional<std::int32_t>(r.row_no));
    Set(1, r.id);
    Set(2, r.a);
    Set(3, r.b);
    Set(4, r.val);
    Set(5, r.measurement);
    Set(6, r.name);
    PostRow();
  }

  TVEZIndexDefs& IndexDefs() { return table_->IndexManager()->IndexDefs(); }
  std::int32_t IndexIdOf(const std::string& name) {
    return IndexDefs().GetIndexDefByName(name)->ObjectID;
  }

  std::unique_ptr<TVEZExpression> Parse(const std::string& text, bool case_insensitive = false,
                                        bool no_conditions = false) {
    std::unique_ptr<TVEZExpression> e = no_conditions ? std::make_unique<TNoConditionExpression>()
                                                      : std::make_unique<TVEZExpression>();
    e->ParseForFilter(&cursor_, text, case_insensitive, false);
    return e;
  }

  // Steps 1 and 2 of the protocol for one filter.
  void Offer(TVEZExpression& e, TVEZScanSearchConditionArray& array) {
    array.AddExpression(&e);
    array.CreateIndexScanConditionsFromExpressions(IndexDefs(),
                                                   TVEZTableData::SessionIDOf(&cursor_));
  }
  // The conditions created on the named index.
  std::vector<TVEZScanSearchCondition*> On(const TVEZScanSearchConditionArray& array,
                                           const std::string& index) {
    std::vector<TVEZScanSearchCondition*> out;
    for (std::int32_t i = 0; i < array.Count(); ++i)
      if (array.Items(i)->Expression == nullptr && array.Items(i)->IndexID == IndexIdOf(index))
        out.push_back(array.Items(i));
    return out;
  }
  std::int32_t ConditionCount(const TVEZScanSearchConditionArray& array) {
    std::int32_t n = 0;
    for (std::int32_t i = 0; i < array.Count(); ++i)
      if (array.Items(i)->Expression == nullptr) ++n;
    return n;
  }
  // Column field_no of a key buffer (NULL as nullopt), as an integer.
  std::optional<double> KeyValue(const TVEZScanSearchCondition& c, const std::string& field) {
    TVEZExprNodeField node(&cursor_, field, "");
    node.AssignCursorBuffer(c.KeyRecordBuffer, false);
    const TVEZVariant& v = *node.GetDataValue();
    if (v.GetIsNull()) return std::nullopt;
    return v.GetAsDouble();
  }

  // The RowNo of the rows a filter shows through the cursor; `tested` gets
  // the number of records the scan tested (a counting node joins the AND).
  std::vector<std::int32_t> Shown(TVEZExpression& e, int* tested = nullptr) {
    // The node outlives this call (it stays in e): it counts into the fixture.
    shown_count_ = 0;
    test::CountRecordsTested(e, &shown_count_);
    std::vector<std::int32_t> ids = Run(e);
    if (tested != nullptr) *tested = shown_count_;
    return ids;
  }
  // The rows through the cursor with e as its filter, sorted.
  std::vector<std::int32_t> Run(TVEZExpression& e) {
    std::vector<std::int32_t> ids = test::WalkFiltered(cursor_, e);
    std::sort(ids.begin(), ids.end());
    return ids;
  }
  std::vector<std::int32_t> Shown(const std::string& text, int* tested = nullptr,
                                  bool no_conditions = false) {
    return Shown(*Parse(text, false, no_conditions), tested);
  }
  std::vector<std::int32_t> Model(const std::function<bool(const TRow&)>& keep) const {
    std::vector<std::int32_t> ids;
    for (const TRow& r : rows_)
      if (keep(r)) ids.push_back(r.row_no);
    return ids;
  }

  std::vector<TRow> rows_;
  int shown_count_ = 0;
};

std::multiset<TVEZExprNode*> NodesOf(const TVEZExpression& e) {
  std::multiset<TVEZExprNode*> out;
  if (e.Root() == nullptr) return out;
  out.insert(e.Root());
  for (const auto& child : e.Root()->Children)
    out.insert(child.get());
  return out;
}

// ---------------------------------------------------------------------------
// Conditions

TEST_F(IndexScanTest, MeasurementEqualityReadsOnlyThatMeasurement) {
  auto e = Parse("MeasurementID=12");
  TVEZExprNode* node = e->Root();
  TVEZScanSearchConditionArray array;
  Offer(*e, array);
  ASSERT_EQ(ConditionCount(array), 1);
  std::vector<TVEZScanSearchCondition*> c = On(array, "Primary");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0]->Condition, scEqual);
  EXPECT_EQ(c[0]->KeyFieldCount, 1);
  EXPECT_TRUE(c[0]->CreatedFromExpression);
  EXPECT_EQ(KeyValue(*c[0], "MeasurementID"), 12.0);
  ASSERT_EQ(c[0]->ParentExpressionNodes, std::vector<TVEZExprNode*>{node});

  std::int32_t no = 1, end_no = -1;
  array.RemoveUnusedConditionsCreatedFromExpressions(no, end_no);
  array.ExtractChosenConditionsFromExpressions(no, end_no);
  EXPECT_TRUE(e->IsEmpty());
  array.ReturnExtractedConditionsToExpressions(no, end_no);
  EXPECT_FALSE(e->IsEmpty());
  EXPECT_EQ(e->Root(), node);

  int tested = 0;
  const auto want = Model([](const TRow& r) { return r.measurement == 12.0; });
  ASSERT_FALSE(want.empty());
  EXPECT_EQ(Shown("MeasurementID=12", &tested), want);
  EXPECT_EQ(tested, static_cast<int>(want.size()));
  int full = 0;
  EXPECT_EQ(Shown("MeasurementID=12", &full, true), want);
  EXPECT_EQ(full, static_cast<int>(rows_.size()));
}

TEST_F(IndexScanTest, FiltersThatGiveNoCondition) {
  for (const char* text : {"Val = 5", "ID <> 5", "ID = 5 OR ID = 6", "NOT (ID = 5)", "ID = A",
                           "5 = 5", "Name LIKE 'ab%'"}) {
    SCOPED_TRACE(text);
    auto e = Parse(text);
    TVEZScanSearchConditionArray array;
    Offer(*e, array);
    EXPECT_EQ(ConditionCount(array), 0);
  }
  // A prefix comparison is not a key bound.
  auto e = Parse("ID = 5");
  e->Root()->FPartialKey = true;
  TVEZScanSearchConditionArray array;
  Offer(*e, array);
  EXPECT_EQ(ConditionCount(array), 0);
}

TEST_F(IndexScanTest, DirectionFollowsOperatorOperandOrderAndIndex) {
  struct Case {
    const char* text;
    const char* index;
    TVEZSearchCondition want;
  };
  const Case cases[] = {
      {"ID > 5", "IX_ID", scGreater},         {"5 < ID", "IX_ID", scGreater},
      {"ID < 5", "IX_ID", scLower},           {"5 > ID", "IX_ID", scLower},
      {"ID >= 5", "IX_ID", scGreaterEqual},   {"5 <= ID", "IX_ID", scGreaterEqual},
      {"ID <= 5", "IX_ID", scLowerEqual},     {"ID = 5", "IX_ID", scEqual},
      {"5 = ID", "IX_ID", scEqual},           {"B > 5", "IX_BDESC", scLower},
      {"5 < B", "IX_BDESC", scLower},         {"B < 5", "IX_BDESC", scGreater},
      {"B >= 5", "IX_BDESC", scLowerEqual},   {"B <= 5", "IX_BDESC", scGreaterEqual},
      {"B IS NOT NULL", "IX_BDESC", scLower}, {"ID IS NOT NULL", "IX_ID", scGreater},
      {"ID IS NULL", "IX_ID", scEqual},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " on " + c.index);
    auto e = Parse(c.text);
    TVEZScanSearchConditionArray array;
    Offer(*e, array);
    std::vector<TVEZScanSearchCondition*> on = On(array, c.index);
    ASSERT_EQ(on.size(), 1u);
    EXPECT_EQ(on[0]->Condition, c.want);
    EXPECT_EQ(on[0]->KeyFieldCount, 1);
  }
}

TEST_F(IndexScanTest, MultiColumnKeysGrowOnlyByEquality) {
  struct Case {
    const char* text;
    std::int32_t key_columns;
    std::optional<double> second;  // B's key value when two columns
  };
  const Case cases[] = {
      {"A = 1 AND B = 2", 2, 2.0},        {"B = 2 AND A = 1", 2, 2.0},
      {"A = 1 AND B > 2", 1, {}},         {"A = 1 AND B IS NULL", 2, std::nullopt},
      {"A = 1 AND B IS NOT NULL", 1, {}}, {"A > 1 AND B = 2", 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto e = Parse(c.text);
    TVEZScanSearchConditionArray array;
    Offer(*e, array);
    std::vector<TVEZScanSearchCondition*> on = On(array, "IX_AB");
    ASSERT_EQ(on.size(), 1u);
    EXPECT_EQ(on[0]->KeyFieldCount, c.key_columns);
    EXPECT_EQ(KeyValue(*on[0], "A"), 1.0);
    if (c.key_columns == 2) {
      EXPECT_EQ(KeyValue(*on[0], "B"), c.second);
      EXPECT_EQ(on[0]->ParentExpressionNodes.size(), 2u);
      EXPECT_EQ(NodesOf(*e).count(on[0]->ParentExpressionNodes[1]), 1u);
    }
  }
  // The rows agree with the full scan, and the two-column key reads fewer.
  for (const char* text : {"A = 1 AND B = 2", "A = 1 AND B IS NULL", "A = 1 AND B > 2"}) {
    SCOPED_TRACE(text);
    int tested = 0, full = 0;
    EXPECT_EQ(Shown(text, &tested), Shown(text, &full, true));
    EXPECT_LT(tested, full);
  }
}

TEST_F(IndexScanTest, StringsAndCase) {
  auto count_on_name = [&](TVEZExpression& e) {
    TVEZScanSearchConditionArray array;
    Offer(e, array);
    return On(array, "IX_NAME").size();
  };
  // The case-insensitive index serves only case-insensitive comparisons.
  EXPECT_EQ(count_on_name(*Parse("Name = 'abc'")), 0u);
  EXPECT_EQ(count_on_name(*Parse("Name = 'abc'", true)), 1u);
  // A constant as long as the column could be cut in the key.
  EXPECT_EQ(
      count_on_name(*Parse(std::string("Name = '") + std::string(kNameSize, 'a') + "'", true)), 0u);
  EXPECT_EQ(
      count_on_name(*Parse(std::string("Name = '") + std::string(kNameSize - 1, 'a') + "'", true)),
      1u);

  // UPPER(Name) = 'ABC' compares like the index; 'Abc' can never match.
  auto upper = [&](const std::string& constant) {
    auto field = std::make_unique<TVEZExprNodeField>(&cursor_, "Name", "");
    auto fn = std::make_unique<TCaseFunctionNode>(doUPPER, std::move(field));
    auto cmp = std::make_unique<TVEZExprNodeComparison>(doEQ, std::move(fn), test::Str(constant),
                                                        true, false, false);
    auto e = std::make_unique<TVEZExpression>(std::move(cmp));
    e->AssignCursor(&cursor_, nullptr, nullptr);
    return e;
  };
  auto abc = upper("ABC");
  EXPECT_EQ(count_on_name(*abc), 1u);
  EXPECT_EQ(count_on_name(*upper("Abc")), 0u);
  int tested = 0;
  const auto want =
      Model([](const TRow& r) { return r.name && platform::AnsiUpperCase(*r.name) == "ABC"; });
  EXPECT_EQ(Shown(*upper("ABC"), &tested), want);
  EXPECT_LT(tested, static_cast<int>(rows_.size()));
  EXPECT_TRUE(Shown(*upper("Abc")).empty());
}

// The parser's UPPER and LOWER: a case-matching constant takes the
// case-insensitive index, and a comparison without a constant keeps comparing
// with case (asking whether it can use an index must not change its result).
TEST_F(IndexScanTest, ParsedCaseFunctions) {
  auto upper_name = [](const TRow& r) {
    return r.name ? std::optional<std::string>(platform::AnsiUpperCase(*r.name)) : std::nullopt;
  };
  auto lower_name = [](const TRow& r) {
    return r.name ? std::optional<std::string>(platform::AnsiLowerCase(*r.name)) : std::nullopt;
  };
  struct Case {
    const char* text;
    std::size_t conditions;
    std::function<bool(const TRow&)> keep;
  };
  const Case cases[] = {
      {"UPPER(Name) = 'ABC'", 1, [&](const TRow& r) { return upper_name(r) == "ABC"; }},
      {"'abc' = LOWER(Name)", 1, [&](const TRow& r) { return lower_name(r) == "abc"; }},
      {"UPPER(Name) = 'Abc'", 0, [](const TRow&) { return false; }},
      {"UPPER(Name) = Name", 0, [&](const TRow& r) { return r.name && upper_name(r) == r.name; }},
      {"Name = LOWER(Name)", 0, [&](const TRow& r) { return r.name && lower_name(r) == r.name; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto e = Parse(c.text);
    TVEZScanSearchConditionArray array;
    Offer(*e, array);
    EXPECT_EQ(On(array, "IX_NAME").size(), c.conditions);
    EXPECT_EQ(Run(*e), Model(c.keep));
    EXPECT_EQ(Shown(c.text), Model(c.keep));
  }
}

// A walk finds each next row by a scan of its own, and the storage engine
// weighs each one afresh: the index range of Name = 'ABC' (about 40 % of the
// rows) while it costs less than the rest of the table from the current
// record, the rest of the table in storage order once that is cheaper. So
// the first row costs one record, and the walk reads between the matches and
// the whole table.
TEST_F(IndexScanTest, EachStepOfAWalkWeighsTheRangeAgainstTheRestOfTheTable) {
  const std::size_t matches = Model([](const TRow& r) {
                                return r.name && platform::AnsiUpperCase(*r.name) == "ABC";
                              }).size();
  ASSERT_GT(matches, rows_.size() / 4);
  for (const char* text : {"UPPER(Name) = 'ABC'", "Name = 'ABC'"}) {
    SCOPED_TRACE(text);
    auto e = Parse(text, std::string(text).rfind("Name", 0) == 0);
    int tested = 0;
    test::CountRecordsTested(*e, &tested);
    cursor_.FilterExpression = e.get();
    cursor_.DisableRecordBitmap();
    cursor_.InternalFirst();
    ASSERT_EQ(cursor_.GetRecordBuffer(grmNext), grrOK);
    cursor_.FilterExpression = nullptr;
    EXPECT_EQ(tested, 1);
    tested = 0;
    const std::vector<std::int32_t> shown = Run(*e);
    EXPECT_EQ(shown.size(), matches);
    EXPECT_GT(tested, static_cast<int>(matches));
    EXPECT_LT(tested, static_cast<int>(rows_.size()));
  }
}

TEST_F(IndexScanTest, TemporaryIndexOfAnotherSession) {
  TVEZIndexDef def;
  def.AssignByNames({"ID"}, {""}, {""});
  def.Temporary = true;
  def.SessionID = 77;
  auto e = Parse("ID = 5");
  EXPECT_FALSE(e->Root()->CanUseIndex(0, scNone, def, 78));
  EXPECT_TRUE(e->Root()->CanUseIndex(0, scNone, def, 77));
  def.Temporary = false;
  EXPECT_TRUE(e->Root()->CanUseIndex(0, scNone, def, 78));
  auto n = Parse("ID IS NULL");
  def.Temporary = true;
  EXPECT_FALSE(n->Root()->CanUseIndex(0, scNone, def, 78));
}

TEST_F(IndexScanTest, ErrorsWhenTheTreeChangedBetweenAskingAndAdding) {
  TVEZIndexDef empty;
  TVEZScanSearchConditionArray array;
  auto e = Parse("ID = 5");
  EXPECT_EQ(NativeErrorOf([&] { e->Root()->AddAsIndexScanCondition(array, empty, e.get()); }),
            20057);
  auto n = Parse("ID IS NULL");
  EXPECT_EQ(NativeErrorOf([&] { n->Root()->AddAsIndexScanCondition(array, empty, n.get()); }),
            20255);
  TVEZExprNodeComparison both_const(doEQ, test::Int(1), test::Int(2), true, false, false);
  EXPECT_EQ(NativeErrorOf([&] {
              both_const.AddAsIndexScanCondition(array, *IndexDefs().GetIndexDefByName("IX_ID"),
                                                 nullptr);
            }),
            20055);
  TVEZExprNodeComparison unbound(doEQ, std::make_unique<TVEZExprNodeField>(nullptr, "ID", ""),
                                 test::Int(2), true, false, false);
  EXPECT_EQ(NativeErrorOf([&] {
              unbound.AddAsIndexScanCondition(array, *IndexDefs().GetIndexDefByName("IX_ID"),
                                              nullptr);
            }),
            20054);
  EXPECT_EQ(array.Count(), 0);
}

// ---------------------------------------------------------------------------
// Round trip

TEST_F(IndexScanTest, TreesAreWholeAfterTheScanAlsoWhenItFails) {
  auto e = Parse("A = 1 AND B = 2 AND ID > 3 AND Val IS NOT NULL AND MeasurementID >= 1");
  int tested = 0;
  const auto want = Shown(*e, &tested);  // adds the counting node
  const std::multiset<TVEZExprNode*> before = NodesOf(*e);
  EXPECT_EQ(Run(*e), want);
  EXPECT_EQ(NodesOf(*e), before);

  // A record test that raises in the middle of the scan.
  int count = 0;
  e->AddNode(new test::TCountingNode(&count, 0));
  const std::multiset<TVEZExprNode*> with_failing = NodesOf(*e);
  EXPECT_EQ(NativeErrorOf([&] { Run(*e); }), 30999);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(NodesOf(*e), with_failing);

  // A single comparison as the root comes back as the root.
  auto one = Parse("ID = 7");
  TVEZExprNode* root = one->Root();
  TVEZScanSearchConditionArray array;
  Offer(*one, array);
  std::int32_t no = 1, end_no = -1;
  array.ExtractChosenConditionsFromExpressions(no, end_no);
  EXPECT_EQ(one->Root(), nullptr);
  array.ReturnExtractedConditionsToExpressions(no, end_no);
  EXPECT_EQ(one->Root(), root);
}

// A node listed by both chosen conditions, or one under a nested AND that is
// never taken out, goes back once or not at all.
TEST_F(IndexScanTest, NodesThatStayedInTheTreeAreNotAddedTwice) {
  auto e = Parse("A = 1 AND A = 2 AND B = 3");
  TVEZScanSearchConditionArray array;
  Offer(*e, array);
  std::vector<TVEZScanSearchCondition*> on = On(array, "IX_AB");
  ASSERT_EQ(on.size(), 2u);
  ASSERT_EQ(on[0]->ParentExpressionNodes[1], on[1]->ParentExpressionNodes[1]);
  const auto before = NodesOf(*e);
  std::int32_t no = 1, end_no = 2;
  ASSERT_EQ(array.Items(no), on[0]);
  array.ExtractChosenConditionsFromExpressions(no, end_no);
  array.ReturnExtractedConditionsToExpressions(no, end_no);
  EXPECT_EQ(NodesOf(*e), before);

  // AND(ID = 7, AND(...)) built by hand: the inner node stays where it is.
  auto inner = std::make_unique<TVEZExprNodeBoolean>(doAND, false, false, "");
  auto* inner_ptr = inner.get();
  inner->AddChild(Parse("B = 3")->ReleaseRoot());
  auto top = std::make_unique<TVEZExprNodeBoolean>(doAND, Parse("Val = 1")->ReleaseRoot(),
                                                   std::move(inner), false, false);
  TVEZExpression nested(std::move(top));
  nested.AssignCursor(&cursor_, nullptr, nullptr);
  TVEZScanSearchConditionArray array2;
  Offer(nested, array2);
  std::vector<TVEZScanSearchCondition*> b = On(array2, "IX_BDESC");
  ASSERT_EQ(b.size(), 1u);
  array2.ExtractChosenConditionsFromExpressions(1, -1);
  array2.ReturnExtractedConditionsToExpressions(1, -1);
  EXPECT_EQ(nested.Root()->ChildCount(), 2u);
  EXPECT_EQ(inner_ptr->ChildCount(), 1u);
}

// ---------------------------------------------------------------------------
// Mends

// NULL sorts first in an ascending index (last in a descending one): a range
// towards that end must not let NULL keys through a comparison that rejects
// them.
TEST_F(IndexScanTest, RangesTowardsNullKeysRejectNulls) {
  struct Case {
    const char* text;
    std::function<bool(const TRow&)> keep;
  };
  const Case cases[] = {
      {"ID < 5", [](const TRow& r) { return r.id && *r.id < 5; }},
      {"ID <= 5", [](const TRow& r) { return r.id && *r.id <= 5; }},
      {"5 > ID", [](const TRow& r) { return r.id && *r.id < 5; }},
      {"B < 5", [](const TRow& r) { return r.b && *r.b < 5; }},
      {"B <= 5", [](const TRow& r) { return r.b && *r.b <= 5; }},
      {"ID > 5", [](const TRow& r) { return r.id && *r.id > 5; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Shown(c.text), Model(c.keep));
  }
  // Under three-valued logic ID = NULL matches nothing, though a NULL key
  // finds the NULL keys; without it NULL equals NULL.
  for (const bool flag : {true, false}) {
    SCOPED_TRACE(flag ? "ID = NULL, TrueFalseNullLogic" : "ID = NULL");
    auto cmp = std::make_unique<TVEZExprNodeComparison>(
        doEQ, std::make_unique<TVEZExprNodeField>(&cursor_, "ID", ""), test::Null(), flag, false,
        false);
    TVEZExpression e(std::move(cmp));
    e.AssignCursor(&cursor_, nullptr, nullptr);
    TVEZScanSearchConditionArray array;
    Offer(e, array);
    EXPECT_EQ(On(array, "IX_ID").size(), flag ? 0u : 1u);
    EXPECT_EQ(Shown(e), flag ? std::vector<std::int32_t>{}
                             : Model([](const TRow& r) { return !r.id.has_value(); }));
  }
  // Without TrueFalseNullLogic NULL orders lowest and is taken in.
  auto e = Parse("ID < 5");
  static_cast<TVEZExprNodeComparison*>(e->Root())->F3ValueLogic = false;
  EXPECT_EQ(Shown(*e), Model([](const TRow& r) { return !r.id || *r.id < 5; }));
}

TEST_F(IndexScanTest, LossyConstantsGiveNoCondition) {
  for (const char* text : {"A = 1.5", "ID < 4.5", "ID > 4.5", "A = 1.5 AND B = 2"}) {
    SCOPED_TRACE(text);
    auto e = Parse(text);
    TVEZScanSearchConditionArray array;
    Offer(*e, array);
    std::vector<TVEZScanSearchCondition*> on =
        On(array, std::string(text).find("ID") == 0 ? "IX_ID" : "IX_AB");
    EXPECT_TRUE(on.empty());
  }
  EXPECT_TRUE(Shown("A = 1.5").empty());
  EXPECT_EQ(Shown("ID < 4.5"), Model([](const TRow& r) { return r.id && *r.id < 4.5; }));
  EXPECT_EQ(Shown("ID > 4.5"), Model([](const TRow& r) { return r.id && *r.id > 4.5; }));
  // An integer constant for the FLOAT column converts exactly and keeps its
  // condition (covered above by MeasurementID=12); so does 12.0.
  auto e = Parse("MeasurementID = 12.0");
  TVEZScanSearchConditionArray array;
  Offer(*e, array);
  EXPECT_EQ(On(array, "Primary").size(), 1u);
}

// The expression side of chosen numbers above 255.
TEST_F(IndexScanTest, ChosenConditionAbove255LeavesAndReturns) {
  auto e = Parse("ID = 7 AND Val = 1");
  TVEZExprNode* id = e->Root()->Child(0);
  TVEZScanSearchConditionArray array;
  array.AddExpression(e.get());
  for (int i = 0; i < 299; ++i) {
    TVEZScanSearchCondition c;
    c.IndexID = IndexIdOf("IX_ID");
    c.CreatedFromExpression = true;
    if (i == 279) {
      c.ParentExpressions.push_back(e.get());
      c.ParentExpressionNodes.push_back(id);
    }
    array.AddCondition(c);
  }
  std::int32_t no = 280, end_no = -1;
  array.RemoveUnusedConditionsCreatedFromExpressions(no, end_no);
  ASSERT_EQ(no, 1);
  array.ExtractChosenConditionsFromExpressions(no, end_no);
  EXPECT_EQ(e->Root()->ChildCount(), 1u);
  array.ReturnExtractedConditionsToExpressions(no, end_no);
  EXPECT_EQ(e->Root()->ChildCount(), 2u);

  TVEZScanSearchConditionArray big;
  big.AddExpression(e.get());
  for (int i = 0; i < 299; ++i) {
    TVEZScanSearchCondition c;
    c.IndexID = IndexIdOf("IX_ID");
    if (i == 279) {
      c.ParentExpressions.push_back(e.get());
      c.ParentExpressionNodes.push_back(id);
    }
    big.AddCondition(c);
  }
  big.ExtractChosenConditionsFromExpressions(280, -1);
  EXPECT_EQ(e->Root()->ChildCount(), 1u);
  big.ReturnExtractedConditionsToExpressions(280, -1);
  EXPECT_EQ(e->Root()->ChildCount(), 2u);
}

// ---------------------------------------------------------------------------
// The log's Data table in a database file: its index on (MeasurementID, Time)
// answers the application's filter by measurement.

class IndexScanDiskTest : public ::testing::Test {
 protected:
  static constexpr std::int32_t kRows = 28 * 40;

  void SetUp() override {
    env_ = std::make_unique<test::TDiskTableEnv>(dir_.Path("log.vez"), true, false);
    env_->CreateDataTable();
    cursor_ = &env_->Open();
    for (std::int32_t n = 0; n < kRows; ++n) {
      // Measurements interleaved, so that storage order alone never groups them.
      test::TDataRow row = test::MakeDataRow(1 + (n * 11) % 28, n);
      row.id = test::TDiskTableEnv::Append(*cursor_, row);
      ASSERT_GT(row.id, 0);
      rows_.push_back(row);
    }
  }
  void TearDown() override {
    if (cursor_ != nullptr) cursor_->FilterExpression = nullptr;
  }

  std::unique_ptr<TVEZExpression> Parse(const std::string& text) {
    auto e = std::make_unique<TVEZExpression>();
    e->ParseForFilter(cursor_, text, false, false);
    return e;
  }
  // The IDs the filter shows; `tested` gets the records the scans tested.
  std::vector<std::int32_t> Shown(const std::string& text, int* tested) {
    auto e = Parse(text);
    *tested = 0;
    test::CountRecordsTested(*e, tested);
    std::vector<std::int32_t> ids = test::WalkFiltered(*cursor_, *e);
    std::sort(ids.begin(), ids.end());
    return ids;
  }
  std::vector<std::int32_t> Model(const std::function<bool(const test::TDataRow&)>& keep) const {
    std::vector<std::int32_t> ids;
    for (const test::TDataRow& r : rows_)
      if (keep(r)) ids.push_back(static_cast<std::int32_t>(r.id));
    return ids;
  }

  test::TScopedSQLEngine engine_;
  test::ScratchDir dir_;
  std::unique_ptr<test::TDiskTableEnv> env_;
  test::TTestLocalCursor* cursor_ = nullptr;
  std::vector<test::TDataRow> rows_;
};

TEST_F(IndexScanDiskTest, MeasurementFilterGivesOneEqualityOnTheDataIndex) {
  auto e = Parse("MeasurementID=12");
  TVEZExprNode* node = e->Root();
  TVEZScanSearchConditionArray array;
  array.AddExpression(e.get());
  array.CreateIndexScanConditionsFromExpressions(cursor_->IndexDefs(),
                                                 TVEZTableData::SessionIDOf(cursor_));
  ASSERT_EQ(array.Count(), 2);
  const TVEZScanSearchCondition& c = *array.Items(1);
  EXPECT_EQ(c.IndexID, test::TDiskTableEnv::IndexID(*cursor_, test::kDataIndexName));
  EXPECT_EQ(c.Condition, scEqual);
  EXPECT_EQ(c.KeyFieldCount, 1);
  double key = 0;
  GetRecordFieldData(test::kDataMeasurement, cursor_->FieldDefs(), &key, c.KeyRecordBuffer);
  EXPECT_EQ(key, 12.0);
  ASSERT_EQ(c.ParentExpressionNodes, std::vector<TVEZExprNode*>{node});
  std::int32_t no = 1, end_no = -1;
  array.RemoveUnusedConditionsCreatedFromExpressions(no, end_no);
  array.ExtractChosenConditionsFromExpressions(no, end_no);
  EXPECT_TRUE(e->IsEmpty());
  array.ReturnExtractedConditionsToExpressions(no, end_no);
  EXPECT_EQ(e->Root(), node);
}

TEST_F(IndexScanDiskTest, FiltersReadOnlyTheRangeTheIndexGives) {
  struct Case {
    const char* text;
    std::function<bool(const test::TDataRow&)> keep;
    bool range_only;  // only the rows of the index range are read
  };
  const Case cases[] = {
      {"MeasurementID=12", [](const test::TDataRow& r) { return r.measurement == 12; }, true},
      {"12 = MeasurementID", [](const test::TDataRow& r) { return r.measurement == 12; }, true},
      // An Int32 constant against the Float column converts exactly.
      {"MeasurementID = 27 AND [Power] > 1500",
       [](const test::TDataRow& r) { return r.measurement == 27 && r.power > 1500; }, false},
      {"MeasurementID < 3", [](const test::TDataRow& r) { return r.measurement < 3; }, true},
      {"MeasurementID = 12.5", [](const test::TDataRow&) { return false; }, true},
      {"MeasurementID = 12 OR MeasurementID = 13",
       [](const test::TDataRow& r) { return r.measurement == 12 || r.measurement == 13; }, false},
      {"[Power] = 1010", [](const test::TDataRow& r) { return r.power == 1010; }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int tested = 0;
    const std::vector<std::int32_t> want = Model(c.keep);
    EXPECT_EQ(Shown(c.text, &tested), want);
    if (c.range_only) EXPECT_EQ(tested, static_cast<int>(want.size()));
    EXPECT_LE(tested, kRows);
  }
  // The measurement with an unindexed test: only that measurement is read.
  int tested = 0;
  Shown("MeasurementID = 27 AND [Power] > 1500", &tested);
  EXPECT_EQ(tested, static_cast<int>(
                        Model([](const test::TDataRow& r) { return r.measurement == 27; }).size()));
}

// ---------------------------------------------------------------------------
// Random filters: the engine with conditions, without them, and SQLite.

struct TRandomFilter {
  std::string vez;
  std::string sqlite;
};

TRandomFilter RandomFilter(std::mt19937& rng, int depth) {
  const char* columns[] = {"ID", "A", "B", "Val", "MeasurementID"};
  const char* ops[] = {"=", "<>", "<", ">", "<=", ">="};
  const std::uint32_t pick = rng() % 10;
  if (depth == 0 || pick < 5) {
    const std::string col = columns[rng() % 5];
    if (rng() % 6 == 0) {
      const bool is_null = rng() % 2 == 0;
      const std::string t = col + (is_null ? " IS NULL" : " IS NOT NULL");
      return {t, t};
    }
    const std::string op = ops[rng() % 6];
    const std::string value = std::to_string(static_cast<int>(rng() % 14) - 2);
    if (rng() % 3 == 0)
      return {value + " " + op + " " + col, "vez_cmp(" + value + ", '" + op + "', " + col + ", 1)"};
    return {col + " " + op + " " + value, "vez_cmp(" + col + ", '" + op + "', " + value + ", 1)"};
  }
  if (pick == 9) {
    TRandomFilter inner = RandomFilter(rng, depth - 1);
    return {"NOT (" + inner.vez + ")", "NOT (" + inner.sqlite + ")"};
  }
  const char* connective = pick < 8 ? "AND" : "OR";
  TRandomFilter l = RandomFilter(rng, depth - 1);
  TRandomFilter r = RandomFilter(rng, depth - 1);
  if (rng() % 2 == 0 && std::string(connective) == "AND") {
    TRandomFilter m = RandomFilter(rng, 0);
    return {"(" + l.vez + ") AND (" + r.vez + ") AND " + m.vez,
            "(" + l.sqlite + ") AND (" + r.sqlite + ") AND " + m.sqlite};
  }
  return {"(" + l.vez + ") " + connective + " (" + r.vez + ")",
          "(" + l.sqlite + ") " + connective + " (" + r.sqlite + ")"};
}

TEST_F(IndexScanTest, RandomFiltersAgreeWithoutConditionsAndWithSQLite) {
  test::oracle::TSQLiteOracle sqlite;
  sqlite.Exec(
      "CREATE TABLE Data(RowNo INTEGER, ID INTEGER, A INTEGER, B INTEGER, Val INTEGER, "
      "MeasurementID REAL, Name TEXT)");
  sqlite.Exec("CREATE INDEX IX_ID ON Data(ID)");
  sqlite.Exec("CREATE INDEX IX_AB ON Data(A, B)");
  sqlite.Exec("CREATE INDEX IX_MD ON Data(MeasurementID, RowNo)");
  sqlite.Exec("CREATE INDEX IX_BDESC ON Data(B DESC)");
  using TBind = test::oracle::TSQLiteOracle::TBind;
  auto bind_int = [](std::optional<std::int32_t> v) {
    TBind b;
    if (v) {
      b.type = TBind::Type::Integer;
      b.integer = *v;
    }
    return b;
  };
  for (const TRow& r : rows_) {
    TBind m;
    if (r.measurement) {
      m.type = TBind::Type::Real;
      m.real = *r.measurement;
    }
    TBind n;
    if (r.name) {
      n.type = TBind::Type::Text;
      n.text = *r.name;
    }
    sqlite.Run(
        "INSERT INTO Data VALUES (?, ?, ?, ?, ?, ?, ?)",
        {bind_int(r.row_no), bind_int(r.id), bind_int(r.a), bind_int(r.b), bind_int(r.val), m, n});
  }
  std::mt19937 rng(41130);
  int with_conditions = 0;
  for (int i = 0; i < 300; ++i) {
    const TRandomFilter f = RandomFilter(rng, 3);
    SCOPED_TRACE(f.vez);
    int tested = 0, full = 0;
    const std::vector<std::int32_t> got = Shown(f.vez, &tested);
    EXPECT_EQ(got, Shown(f.vez, &full, true));
    EXPECT_LE(tested, full);
    if (tested < full) ++with_conditions;
    std::vector<std::int32_t> want;
    for (const auto& v : sqlite.Column("SELECT RowNo FROM Data WHERE " + f.sqlite))
      want.push_back(static_cast<std::int32_t>(v.integer));
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
  }
  // The filters exercise the conditions, not only full scans.
  EXPECT_GT(with_conditions, 30);
}

}  // namespace
}  // namespace vez

// The search engine against a brute-force oracle, on the memory engine with
// real B-tree indexes: random tables (with NULLs, long names and freed
// slots), random conjunctions of conditions over indexed and unindexed
// columns offered to the indexes as the SQL engine would (equalities,
// ranges, LIKE prefixes, IS NULL, case-insensitive equality), key ranges,
// record filter callbacks and distinct. Every view is walked both ways,
// counted, numbered and moved through at random, with the record bitmap both
// empty and complete; Locate and FindKey (partial keys, case-insensitive
// index) are checked against the first record of the same oracle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/storage/VEZIndexDef.h"
#include "dbengine/storage/VEZMemoryTableData.h"
#include "dbengine/storage/VEZRecordBitmap.h"
#include "dbengine/storage/VEZScanSearchCondition.h"
#include "tests/dbengine/storage/MemoryTableTestSupport.h"

namespace vez::test {
namespace {

constexpr std::int32_t kID = 0, kA = 1, kB = 2, kC = 3, kName = 4;
constexpr std::int32_t kNameSize = 24;

struct TRow {
  std::int32_t id = 0;
  std::optional<std::int32_t> a, b, c;
  std::optional<std::string> name;

  std::optional<std::int32_t> Int(std::int32_t field) const {
    return field == kA ? a : field == kB ? b : field == kC ? c : std::optional<std::int32_t>(id);
  }
};

std::string Upper(std::string s) {
  for (char& ch : s)
    ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

enum class TOp { Eq, Lt, Le, Gt, Ge, IsNull, LikePrefix, LikePrefixNoCase, EqNoCase };

const char* OpName(TOp op) {
  static const char* names[] = {"=", "<", "<=", ">", ">=", "IS NULL", "LIKE", "ILIKE", "=ci"};
  return names[static_cast<int>(op)];
}

// One comparison of the top AND level of an expression.
struct TNode {
  std::int32_t field = kA;
  TOp op = TOp::Eq;
  std::int32_t number = 0;
  std::string text;

  bool Holds(const TRow& r) const {
    if (field == kName) {
      if (op == TOp::IsNull) return !r.name;
      if (!r.name) return false;
      switch (op) {
        case TOp::Eq:
          return *r.name == text;
        case TOp::EqNoCase:
          return Upper(*r.name) == Upper(text);
        case TOp::LikePrefix:
          return r.name->starts_with(text);
        case TOp::LikePrefixNoCase:
          return Upper(*r.name).starts_with(Upper(text));
        default:
          return false;
      }
    }
    const std::optional<std::int32_t> v = r.Int(field);
    if (op == TOp::IsNull) return !v;
    if (!v) return false;
    switch (op) {
      case TOp::Eq:
        return *v == number;
      case TOp::Lt:
        return *v < number;
      case TOp::Le:
        return *v <= number;
      case TOp::Gt:
        return *v > number;
      case TOp::Ge:
        return *v >= number;
      default:
        return false;
    }
  }
  std::string Text() const {
    static const char* fields[] = {"ID", "A", "B", "C", "NAME"};
    return std::string(fields[field]) + " " + OpName(op) + " " +
           (field == kName ? "'" + text + "'" : std::to_string(number));
  }
};

class TSearchTable;

// An AND of nodes, as the SQL engine's expression would offer it: each node
// that an index can serve gives a condition; a condition that selects
// exactly the node's records takes the node out of the tree while it drives
// the scan, any other (a superset) leaves the node in place to decide.
class TConjunction : public TVEZBaseExpression {
 public:
  TConjunction(TSearchTable& table, std::vector<TNode> nodes);
  bool ParseForDefaultValueExpression(const std::string&) override { return false; }
  TVEZVariant* GetValue(bool) override { return nullptr; }
  bool GetResult() override;
  bool IsEmpty() const override { return tree_.empty(); }
  void AssignCursor(TVEZCursor*, TVEZAO*, TVEZCursor*) override {}
  void AssignCursorBuffer(std::uint8_t* buffer, bool) override { buffer_ = buffer; }
  void CreateIndexScanConditions(const TVEZIndexDefs& index_defs,
                                 TVEZScanSearchConditionArray& conditions,
                                 std::int32_t session_id) override;
  bool ExtendMultiFieldIndexCondition(TVEZScanSearchCondition& condition,
                                      const TVEZIndexDef& index_def) override;
  void RemoveExtractedNodes(const TVEZScanSearchConditionArray& conditions, std::int32_t no,
                            std::int32_t end_no) override {
    for (std::int32_t chosen : {no, end_no}) {
      if (chosen < 0 || chosen >= conditions.Count()) continue;
      const TVEZScanSearchCondition& c = *conditions.Items(chosen);
      for (std::size_t p = 0; p < c.ParentExpressions.size(); ++p)
        if (c.ParentExpressions[p] == this) std::erase(tree_, c.ParentExpressionNodes[p]);
    }
  }
  void AddNode(TVEZExprNode* node) override { tree_.push_back(node); }

  bool Holds(const TRow& r) const {
    return std::all_of(nodes_.begin(), nodes_.end(), [&](const TNode& n) { return n.Holds(r); });
  }
  std::size_t TreeSize() const { return tree_.size(); }
  const std::vector<TNode>& Nodes() const { return nodes_; }

 private:
  TVEZExprNode* NodeId(std::size_t i) const {
    return reinterpret_cast<TVEZExprNode*>(const_cast<TNode*>(&nodes_[i]));
  }
  const TNode& NodeOf(TVEZExprNode* id) const { return *reinterpret_cast<const TNode*>(id); }

  TSearchTable& table_;
  std::vector<TNode> nodes_;
  std::vector<TVEZExprNode*> tree_;
  std::uint8_t* buffer_ = nullptr;
};

// ID (unique index BY_ID), A (BY_A), B (no index), C (BY_CA on C, A), NAME
// (BY_NAME, case-insensitive, keys cut at 20 bytes).
class TSearchTable {
 public:
  TSearchTable() : scoped_(&services_) {
    session_.SessionID = 3;
    db_.ConnectSession(session_);
    cursor_ = std::make_unique<TTestLocalCursor>();
    cursor_->Session = &session_;
    cursor_->TableName = "S";
    table_ = static_cast<TVEZMemoryTableData*>(db_.FindOrCreateTableData(*cursor_));
    TVEZFieldDefs fields;
    AddField(fields, "ID", aftInteger);
    AddField(fields, "A", aftInteger);
    AddField(fields, "B", aftInteger);
    AddField(fields, "C", aftInteger);
    AddField(fields, "NAME", aftString, kNameSize);
    TVEZIndexDefs indexes;
    AddIndexDef(indexes, "BY_ID", {"ID"}, true);
    AddIndexDef(indexes, "BY_A", {"A"});
    AddIndexDef(indexes, "BY_CA", {"C", "A"});
    AddIndexDef(indexes, "BY_NAME", {"NAME"})->GetIndexColumn(0)->CaseInsensitive =
        TVEZBoolByte::FromComparison(true);
    TVEZConstraintDefs constraints;
    table_->CreateTable(cursor_.get(), fields, indexes, constraints);
    cursor_->Open(*table_);
    cursor_->NewRecord();
  }
  ~TSearchTable() {
    cursor_.reset();
    db_.DisconnectSession(session_);
  }

  TVEZMemoryTableData& Table() { return *table_; }
  TTestLocalCursor& Cursor() { return *cursor_; }
  std::int32_t IndexID(const std::string& name) {
    return table_->IndexManager()->IndexDefs().GetIndexDefByName(name)->ObjectID;
  }

  void SetInt(std::uint8_t* buffer, std::int32_t field, std::optional<std::int32_t> value) {
    TVEZVariant v(bftSignedInt32);
    if (value)
      v.SetAsInteger(*value);
    else
      v.SetNull(bftSignedInt32);
    cursor_->SetFieldValue(v, field, true, buffer);
  }
  void SetName(std::uint8_t* buffer, const std::optional<std::string>& value) {
    TVEZVariant v(bftVarchar);
    if (value)
      v.SetAsAnsiString(*value);
    else
      v.SetNull(bftVarchar);
    cursor_->SetFieldValue(v, kName, true, buffer);
    cursor_->ClearStringFieldsGarbage(buffer);
  }
  TRow RowOf(std::uint8_t* buffer) {
    TTestLocalCursor& c = *cursor_;
    std::uint8_t* saved = c.CurrentRecordBuffer;
    c.CurrentRecordBuffer = buffer;
    TRow r;
    TVEZVariant v;
    auto get = [&](std::int32_t field) -> std::optional<std::int32_t> {
      c.GetFieldValue(v, field, true);
      if (v.GetIsNull()) return std::nullopt;
      return v.GetAsInteger();
    };
    r.id = get(kID).value_or(-1);
    r.a = get(kA);
    r.b = get(kB);
    r.c = get(kC);
    c.GetFieldValue(v, kName, true);
    if (!v.GetIsNull()) r.name = v.GetAsAnsiString();
    c.CurrentRecordBuffer = saved;
    return r;
  }

  void Insert(const TRow& r) {
    TTestLocalCursor& c = *cursor_;
    c.NewRecord();
    SetInt(c.CurrentRecordBuffer, kID, r.id);
    SetInt(c.CurrentRecordBuffer, kA, r.a);
    SetInt(c.CurrentRecordBuffer, kB, r.b);
    SetInt(c.CurrentRecordBuffer, kC, r.c);
    SetName(c.CurrentRecordBuffer, r.name);
    c.InternalPost(true);
    ASSERT_EQ(c.ErrorCode, cecOK);
  }
  // Deletes the record with this ID through an unrestricted cursor.
  void Delete(std::int32_t id) {
    TTestLocalCursor& c = *cursor_;
    c.IndexID = -1;
    c.InternalFirst();
    while (c.GetRecordBuffer(grmNext) == grrOK) {
      if (RowOf(c.CurrentRecordBuffer).id != id) continue;
      TVEZLockGuard guard(*table_);
      ASSERT_TRUE(table_->DeleteRecord(c));
      return;
    }
    FAIL() << "no record " << id;
  }

 private:
  TMemoryTestServices services_;
  TScopedSessionLayerServices scoped_;
  TVEZMemoryDatabaseData db_;
  TestSession session_;
  std::unique_ptr<TTestLocalCursor> cursor_;
  TVEZMemoryTableData* table_ = nullptr;
};

TConjunction::TConjunction(TSearchTable& table, std::vector<TNode> nodes)
    : table_(table), nodes_(std::move(nodes)) {
  for (std::size_t i = 0; i < nodes_.size(); ++i)
    tree_.push_back(NodeId(i));
}

bool TConjunction::GetResult() {
  const TRow r = table_.RowOf(buffer_);
  return std::all_of(tree_.begin(), tree_.end(),
                     [&](TVEZExprNode* id) { return NodeOf(id).Holds(r); });
}

void TConjunction::CreateIndexScanConditions(const TVEZIndexDefs& index_defs,
                                             TVEZScanSearchConditionArray& conditions,
                                             std::int32_t) {
  for (TVEZExprNode* id : tree_) {
    const TNode& node = NodeOf(id);
    for (std::int32_t d = 0; d < index_defs.GetCount(); ++d) {
      const TVEZIndexDef& def = *index_defs.GetDef(d);
      static const char* names[] = {"ID", "A", "B", "C", "NAME"};
      if (def.GetIndexColumn(0)->FieldName != names[node.field]) continue;
      const bool no_case = def.GetIndexColumn(0)->CaseInsensitive;
      TVEZScanSearchCondition c;
      c.IndexID = def.ObjectID;
      c.KeyFieldCount = 1;
      c.CreatedFromExpression = true;
      c.KeyRecordBufferSize = table_.Cursor().RecordBufferSize;
      c.KeyRecordBuffer = table_.Cursor().AllocateRecordBuffer();
      table_.Cursor().InternalInitRecord(c.KeyRecordBuffer, true);
      // NULL sorts first: an upper bound also admits the NULLs, so the
      // node must still decide.
      bool exact = true;
      switch (node.op) {
        case TOp::Eq:
          c.Condition = scEqual;
          exact = node.field != kName || !no_case;
          break;
        case TOp::Lt:
          c.Condition = scLower;
          exact = false;
          break;
        case TOp::Le:
          c.Condition = scLowerEqual;
          exact = false;
          break;
        case TOp::Gt:
          c.Condition = scGreater;
          break;
        case TOp::Ge:
          c.Condition = scGreaterEqual;
          break;
        case TOp::IsNull:
          c.Condition = scEqual;
          break;
        case TOp::EqNoCase:
          c.Condition = scEqual;
          exact = no_case;
          break;
        case TOp::LikePrefix:
        case TOp::LikePrefixNoCase:
          c.Condition = scEqual;
          c.PartialCompare = true;
          exact = no_case == (node.op == TOp::LikePrefixNoCase);
          break;
      }
      // A case-sensitive test over a case-insensitive key is a superset; the
      // reverse is no index condition at all.
      if (!exact && !no_case && (node.op == TOp::EqNoCase || node.op == TOp::LikePrefixNoCase))
        continue;
      if (node.field == kName)
        table_.SetName(c.KeyRecordBuffer, node.op == TOp::IsNull
                                              ? std::nullopt
                                              : std::optional<std::string>(node.text));
      else
        table_.SetInt(
            c.KeyRecordBuffer, node.field,
            node.op == TOp::IsNull ? std::nullopt : std::optional<std::int32_t>(node.number));
      if (exact) {
        c.ParentExpressions.push_back(this);
        c.ParentExpressionNodes.push_back(id);
      }
      conditions.AddCondition(c);
    }
  }
}

bool TConjunction::ExtendMultiFieldIndexCondition(TVEZScanSearchCondition& condition,
                                                  const TVEZIndexDef& index_def) {
  // Only an exact equality grows by a further exact equality: a range on a
  // later column would turn the bound into a different range.
  if (condition.Condition != scEqual || condition.PartialCompare ||
      condition.KeyFieldCount >= index_def.ColumnCount() ||
      condition.ParentExpressions.size() != static_cast<std::size_t>(condition.KeyFieldCount))
    return false;
  const std::string& column = index_def.GetIndexColumn(condition.KeyFieldCount)->FieldName;
  static const char* names[] = {"ID", "A", "B", "C", "NAME"};
  for (TVEZExprNode* id : tree_) {
    const TNode& node = NodeOf(id);
    if (node.field == kName || column != names[node.field]) continue;
    if (node.op != TOp::Eq && node.op != TOp::IsNull) continue;
    if (std::find(condition.ParentExpressionNodes.begin(), condition.ParentExpressionNodes.end(),
                  id) != condition.ParentExpressionNodes.end())
      continue;
    table_.SetInt(condition.KeyRecordBuffer, node.field,
                  node.op == TOp::IsNull ? std::nullopt : std::optional<std::int32_t>(node.number));
    ++condition.KeyFieldCount;
    condition.ParentExpressions.push_back(this);
    condition.ParentExpressionNodes.push_back(id);
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// The oracle

struct TView {
  std::int32_t index_id = -1;
  std::vector<std::int32_t> key_fields;  // the cursor's index columns
  std::vector<TNode> filter1, filter2;
  bool callback = false;  // record filter: B odd or NULL
  bool range = false;
  std::optional<std::int32_t> range_low, range_high;  // first key column
  bool low_exclusive = false, high_exclusive = false;
  bool distinct = false;
};

// Index order of two values of one int column: NULL first.
int CompareInt(std::optional<std::int32_t> x, std::optional<std::int32_t> y) {
  if (!x || !y) return x.has_value() == y.has_value() ? 0 : (!x ? -1 : 1);
  return *x < *y ? -1 : (*x > *y ? 1 : 0);
}

bool CallbackHolds(const TRow& r) {
  return !r.b || *r.b % 2 != 0;
}

std::vector<std::int32_t> Expected(const std::vector<TRow>& order, const TView& v) {
  std::vector<std::int32_t> ids;
  const TRow* previous = nullptr;
  for (const TRow& r : order) {
    auto holds = [&](const std::vector<TNode>& nodes) {
      return std::all_of(nodes.begin(), nodes.end(), [&](const TNode& n) { return n.Holds(r); });
    };
    if (!holds(v.filter1) || !holds(v.filter2)) continue;
    if (v.callback && !CallbackHolds(r)) continue;
    if (v.range) {
      const auto key = r.Int(v.key_fields[0]);
      if (v.range_low) {
        const int c = CompareInt(key, v.range_low);
        if (v.low_exclusive ? c <= 0 : c < 0) continue;
      }
      if (v.range_high) {
        const int c = CompareInt(key, v.range_high);
        if (v.high_exclusive ? c >= 0 : c > 0) continue;
      }
    }
    if (v.distinct) {
      // One record per value of the first index column, NULLs as one value.
      if (previous != nullptr) {
        const std::int32_t f = v.key_fields[0];
        const bool same = f == kName ? (previous->name.has_value() == r.name.has_value() &&
                                        (!r.name || Upper(*previous->name) == Upper(*r.name)))
                                     : CompareInt(previous->Int(f), r.Int(f)) == 0;
        if (same) continue;
      }
      previous = &r;
    }
    ids.push_back(r.id);
  }
  return ids;
}

class RecordSearchDifferentialTest : public ::testing::Test {
 protected:
  std::mt19937 rng_{20261211};

  std::int32_t Pick(std::int32_t n) { return static_cast<std::int32_t>(rng_() % n); }
  std::optional<std::int32_t> MaybeInt(std::int32_t n) {
    if (Pick(7) == 0) return std::nullopt;
    return Pick(n);
  }
  std::string RandomName() {
    // Few stems so that prefixes and case variants meet; some longer than
    // the 20 bytes an index key keeps.
    static const char* stems[] = {"ab", "Ab", "abc", "ABD", "b", "Bz", "c"};
    std::string s = stems[Pick(7)];
    const std::int32_t extra = Pick(4) == 0 ? 18 + Pick(4) : Pick(3);
    for (std::int32_t i = 0; i < extra; ++i)
      s.push_back("xyXY"[Pick(4)]);
    return s.substr(0, kNameSize);
  }
  TNode RandomNode() {
    TNode n;
    n.field = Pick(5);
    if (n.field == kName) {
      static const TOp ops[] = {TOp::Eq,     TOp::EqNoCase,         TOp::LikePrefix,
                                TOp::IsNull, TOp::LikePrefixNoCase, TOp::LikePrefix};
      n.op = ops[Pick(6)];
      n.text = RandomName();
      if (n.op == TOp::LikePrefix || n.op == TOp::LikePrefixNoCase)
        n.text = n.text.substr(0, 1 + Pick(3));
      return n;
    }
    static const TOp ops[] = {TOp::Eq, TOp::Lt, TOp::Le, TOp::Gt, TOp::Ge, TOp::IsNull, TOp::Eq};
    n.op = ops[Pick(7)];
    n.number = n.field == kID ? Pick(120) : Pick(8);
    return n;
  }
  std::vector<TNode> RandomNodes() {
    std::vector<TNode> nodes;
    const std::int32_t count = Pick(3);
    for (std::int32_t i = 0; i < count; ++i)
      nodes.push_back(RandomNode());
    return nodes;
  }
};

// The records in the cursor's order, read by unrestricted moves.
// The records in the cursor's order, read by unrestricted moves (the
// cursor's restrictions are put back afterwards).
std::vector<TRow> CursorOrder(TSearchTable& t, std::int32_t index_id) {
  TTestLocalCursor& c = t.Cursor();
  TVEZBaseExpression* const filter = c.FilterExpression;
  TVEZBaseExpression* const sql_filter = c.SQLFilterExpression;
  const TVEZFilterRecordEvent callback = c.FilterRecord;
  std::uint8_t* const start = c.RangeStartBuffer;
  std::uint8_t* const end = c.RangeEndBuffer;
  const std::int32_t distinct = c.DistinctFieldCount;
  c.FilterExpression = c.SQLFilterExpression = nullptr;
  c.FilterRecord = nullptr;
  c.RangeStartBuffer = c.RangeEndBuffer = nullptr;
  c.DistinctFieldCount = 0;
  c.IndexID = index_id;
  c.InternalFirst();
  std::vector<TRow> rows;
  while (c.GetRecordBuffer(grmNext) == grrOK)
    rows.push_back(t.RowOf(c.CurrentRecordBuffer));
  c.FilterExpression = filter;
  c.SQLFilterExpression = sql_filter;
  c.FilterRecord = callback;
  c.RangeStartBuffer = start;
  c.RangeEndBuffer = end;
  c.DistinctFieldCount = distinct;
  return rows;
}

std::vector<std::int32_t> Walk(TSearchTable& t, bool forward) {
  TTestLocalCursor& c = t.Cursor();
  if (forward)
    c.InternalFirst();
  else
    c.InternalLast();
  std::vector<std::int32_t> ids;
  while (c.GetRecordBuffer(forward ? grmNext : grmPrior) == grrOK)
    ids.push_back(t.RowOf(c.CurrentRecordBuffer).id);
  if (!forward) std::reverse(ids.begin(), ids.end());
  return ids;
}

std::string Describe(const TView& v) {
  std::string s = "index " + std::to_string(v.index_id) + " [";
  for (const auto* list : {&v.filter1, &v.filter2}) {
    for (const TNode& n : *list)
      s += n.Text() + "; ";
    s += "| ";
  }
  s += "] callback " + std::to_string(v.callback) + " range " + std::to_string(v.range);
  if (v.range)
    s += " " + (v.range_low ? std::to_string(*v.range_low) : "-") + ".." +
         (v.range_high ? std::to_string(*v.range_high) : "-");
  return s + " distinct " + std::to_string(v.distinct);
}

TEST_F(RecordSearchDifferentialTest, EveryViewMatchesTheBruteForceFilterInEveryDirection) {
  for (int table_no = 0; table_no < 8; ++table_no) {
    TSearchTable t;
    TTestLocalCursor& c = t.Cursor();
    const std::int32_t rows = table_no == 0 ? 0 : 20 + Pick(140);
    for (std::int32_t i = 0; i < rows; ++i) {
      TRow r;
      r.id = i;
      r.a = MaybeInt(8);
      r.b = MaybeInt(8);
      r.c = MaybeInt(4);
      if (Pick(8) != 0) r.name = RandomName();
      t.Insert(r);
    }
    // Freed slots in storage order (and a table whose bits are not all records).
    for (std::int32_t i = 0; i < rows / 6; ++i)
      t.Delete(i * 5);
    const std::vector<std::int32_t> orders = {-1, t.IndexID("BY_ID"), t.IndexID("BY_A"),
                                              t.IndexID("BY_CA"), t.IndexID("BY_NAME")};
    const std::map<std::int32_t, std::vector<std::int32_t>> key_fields = {
        {-1, {}},
        {t.IndexID("BY_ID"), {kID}},
        {t.IndexID("BY_A"), {kA}},
        {t.IndexID("BY_CA"), {kC, kA}},
        {t.IndexID("BY_NAME"), {kName}}};
    std::uint8_t* low = c.AllocateRecordBuffer();
    std::uint8_t* high = c.AllocateRecordBuffer();
    for (int trial = 0; trial < 100; ++trial) {
      TView v;
      v.index_id = orders[static_cast<std::size_t>(Pick(5))];
      v.key_fields = key_fields.at(v.index_id);
      v.filter1 = RandomNodes();
      v.filter2 = Pick(3) == 0 ? RandomNodes() : std::vector<TNode>{};
      v.callback = Pick(4) == 0;
      const bool int_order = v.index_id != -1 && v.key_fields[0] != kName;
      v.range = int_order && Pick(3) == 0;
      if (v.range) {
        const std::int32_t span = v.key_fields[0] == kID ? 120 : 8;
        if (Pick(4) != 0) v.range_low = Pick(span);
        if (Pick(4) != 0) v.range_high = Pick(span);
        v.low_exclusive = Pick(2) == 0;
        v.high_exclusive = Pick(2) == 0;
      }
      v.distinct = v.index_id != -1 && Pick(4) == 0;
      SCOPED_TRACE("table " + std::to_string(table_no) + " trial " + std::to_string(trial) + ": " +
                   Describe(v));

      const std::vector<TRow> order = CursorOrder(t, v.index_id);
      const std::vector<std::int32_t> want = Expected(order, v);
      TConjunction e1(t, v.filter1), e2(t, v.filter2);
      c.FilterExpression = v.filter1.empty() ? nullptr : &e1;
      c.SQLFilterExpression = v.filter2.empty() ? nullptr : &e2;
      c.FilterRecord = nullptr;
      if (v.callback)
        c.FilterRecord = [&t](std::uint8_t* buffer, void*) {
          return CallbackHolds(t.RowOf(buffer));
        };
      c.RangeStartBuffer = c.RangeEndBuffer = nullptr;
      if (v.range) {
        c.InternalInitRecord(low, true);
        c.InternalInitRecord(high, true);
        if (v.range_low) {
          t.SetInt(low, v.key_fields[0], v.range_low);
          c.RangeStartBuffer = low;
        }
        if (v.range_high) {
          t.SetInt(high, v.key_fields[0], v.range_high);
          c.RangeEndBuffer = high;
        }
        c.RangeStartKeyFieldCount = c.RangeEndKeyFieldCount = 1;
        c.RangeStartExclusive = v.low_exclusive;
        c.RangeEndExclusive = v.high_exclusive;
        // An empty range of the model needs some bound.
        v.range = c.IsRangeApplied();
      }
      c.DistinctFieldCount = v.distinct ? 1 : 0;
      c.DisableRecordBitmap();
      if (!c.IsViewRestricted()) continue;

      // Moves answered by searches (the bitmap is still empty), then the
      // count, which completes the bitmap, then moves answered by it.
      for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass == 0 ? "searching" : "from the bitmap");
        EXPECT_EQ(Walk(t, true), want);
        EXPECT_EQ(Walk(t, false), want);
        EXPECT_EQ(t.Table().GetRecordCount(c), static_cast<std::int64_t>(want.size()));
        if (pass == 1 && !want.empty() && !c.RecordBitmap->Unusable()) {
          EXPECT_TRUE(c.RecordBitmap->Active);
        }
      }
      // The expressions are whole again after every search.
      EXPECT_EQ(e1.TreeSize(), v.filter1.size());
      EXPECT_EQ(e2.TreeSize(), v.filter2.size());
      // Record numbers, then random moves from them.
      for (int probe = 0; probe < 4 && !want.empty(); ++probe) {
        const auto n = static_cast<std::int64_t>(1 + Pick(static_cast<std::int32_t>(want.size())));
        t.Table().SetRecNo(c, n);
        ASSERT_EQ(t.Table().GetRecNo(c), n);
        std::int64_t at = n - 1;
        {
          TVEZLockGuard guard(t.Table());
          ASSERT_EQ(t.Table().GetRecordBuffer(c, grmCurrent), grrOK);
        }
        ASSERT_EQ(t.RowOf(c.CurrentRecordBuffer).id, want[static_cast<std::size_t>(at)]);
        for (int step = 0; step < 6; ++step) {
          const bool forward = Pick(2) == 0;
          const TVEZGetRecordResult r = c.GetRecordBuffer(forward ? grmNext : grmPrior);
          const std::int64_t next = at + (forward ? 1 : -1);
          if (next < 0 || next >= static_cast<std::int64_t>(want.size())) {
            EXPECT_EQ(r, forward ? grrEOF : grrBOF);
            break;
          }
          ASSERT_EQ(r, grrOK);
          at = next;
          ASSERT_EQ(t.RowOf(c.CurrentRecordBuffer).id, want[static_cast<std::size_t>(at)]);
        }
      }
      // An insert through the cursor moves the table on: its complete
      // bitmap is outdated, and the view is searched again.
      if (trial % 5 == 4) {
        TRow r;
        r.id = 1000 + trial + 100 * table_no;
        r.a = MaybeInt(8);
        r.b = MaybeInt(8);
        r.c = MaybeInt(4);
        r.name = RandomName();
        t.Insert(r);
        const std::vector<std::int32_t> now = Expected(CursorOrder(t, v.index_id), v);
        EXPECT_EQ(Walk(t, true), now);
        EXPECT_EQ(t.Table().GetRecordCount(c), static_cast<std::int64_t>(now.size()));
        EXPECT_EQ(Walk(t, false), now);
      }
    }
    c.FilterExpression = c.SQLFilterExpression = nullptr;
    c.FilterRecord = nullptr;
    c.RangeStartBuffer = c.RangeEndBuffer = nullptr;
    c.DistinctFieldCount = 0;
    c.FreeRecordBuffer(low);
    c.FreeRecordBuffer(high);
  }
}

}  // namespace
}  // namespace vez::test

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
#include "tests/common/NativeError.h"
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
  // Range bounds over the leading int key columns (empty: no bound).
  std::vector<std::optional<std::int32_t>> low, high;
  bool low_exclusive = false, high_exclusive = false;
  bool distinct = false;
};

// Index order of two values of one int column: NULL first.
int CompareInt(std::optional<std::int32_t> x, std::optional<std::int32_t> y) {
  if (!x || !y) return x.has_value() == y.has_value() ? 0 : (!x ? -1 : 1);
  return *x < *y ? -1 : (*x > *y ? 1 : 0);
}

// Case-insensitive index order of two names: NULL first.
int CompareName(const std::optional<std::string>& x, const std::optional<std::string>& y) {
  if (!x || !y) return x.has_value() == y.has_value() ? 0 : (!x ? -1 : 1);
  const int c = Upper(*x).compare(Upper(*y));
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// The order of a row against int key values over the leading key columns.
int CompareKey(const TRow& r, const std::vector<std::int32_t>& fields,
               const std::vector<std::optional<std::int32_t>>& key) {
  for (std::size_t i = 0; i < key.size(); ++i) {
    const int c = CompareInt(r.Int(fields[i]), key[i]);
    if (c != 0) return c;
  }
  return 0;
}

bool CallbackHolds(const TRow& r) {
  return !r.b || *r.b % 2 != 0;
}

bool Satisfies(TVEZSearchCondition s, int c) {
  switch (s) {
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

std::vector<std::int32_t> Expected(const std::vector<TRow>& order, const TView& v) {
  std::vector<std::int32_t> ids;
  const TRow* previous = nullptr;
  for (const TRow& r : order) {
    auto holds = [&](const std::vector<TNode>& nodes) {
      return std::all_of(nodes.begin(), nodes.end(), [&](const TNode& n) { return n.Holds(r); });
    };
    if (!holds(v.filter1) || !holds(v.filter2)) continue;
    if (v.callback && !CallbackHolds(r)) continue;
    if (!v.low.empty() && !Satisfies(v.low_exclusive ? scGreater : scGreaterEqual,
                                     CompareKey(r, v.key_fields, v.low)))
      continue;
    if (!v.high.empty() &&
        !Satisfies(v.high_exclusive ? scLower : scLowerEqual, CompareKey(r, v.key_fields, v.high)))
      continue;
    if (v.distinct) {
      // One record per value of the first index column, NULLs as one value.
      if (previous != nullptr) {
        const std::int32_t f = v.key_fields[0];
        const int c = f == kName ? CompareName(previous->name, r.name)
                                 : CompareInt(previous->Int(f), r.Int(f));
        if (c == 0) continue;
      }
      previous = &r;
    }
    ids.push_back(r.id);
  }
  return ids;
}

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

std::string KeyText(const std::vector<std::optional<std::int32_t>>& key) {
  std::string s = "(";
  for (const auto& k : key)
    s += (k ? std::to_string(*k) : "NULL") + " ";
  return s + ")";
}

std::string Describe(const TView& v) {
  std::string s = "index " + std::to_string(v.index_id) + " [";
  for (const auto* list : {&v.filter1, &v.filter2}) {
    for (const TNode& n : *list)
      s += n.Text() + "; ";
    s += "| ";
  }
  s += "] callback " + std::to_string(v.callback);
  if (!v.low.empty()) s += std::string(v.low_exclusive ? " >" : " >=") + KeyText(v.low);
  if (!v.high.empty()) s += std::string(v.high_exclusive ? " <" : " <=") + KeyText(v.high);
  return s + " distinct " + std::to_string(v.distinct);
}

class RecordSearchDifferentialTest : public ::testing::Test {
 protected:
  std::mt19937 rng_{20261211};

  std::int32_t Pick(std::int32_t n) { return static_cast<std::int32_t>(rng_() % n); }
  std::optional<std::int32_t> MaybeInt(std::int32_t n) {
    if (Pick(7) == 0) return std::nullopt;
    return Pick(n);
  }
  std::int32_t Span(std::int32_t field) { return field == kID ? 120 : field == kC ? 4 : 8; }
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
    n.number = Pick(Span(n.field));
    return n;
  }
  std::vector<TNode> RandomNodes() {
    std::vector<TNode> nodes;
    const std::int32_t count = Pick(3);
    for (std::int32_t i = 0; i < count; ++i)
      nodes.push_back(RandomNode());
    return nodes;
  }
  // rows records with NULLs and long names; every sixth one deleted again so
  // that storage order has freed slots.
  void Fill(TSearchTable& t, std::int32_t rows) {
    for (std::int32_t i = 0; i < rows; ++i) {
      TRow r;
      r.id = i;
      r.a = MaybeInt(8);
      r.b = MaybeInt(8);
      r.c = MaybeInt(4);
      if (Pick(8) != 0) r.name = RandomName();
      t.Insert(r);
    }
    for (std::int32_t i = 0; i < rows / 6; ++i)
      t.Delete(i * 5);
  }
  std::vector<std::int32_t> Orders(TSearchTable& t) {
    return {-1, t.IndexID("BY_ID"), t.IndexID("BY_A"), t.IndexID("BY_CA"), t.IndexID("BY_NAME")};
  }
  std::vector<std::int32_t> KeyFields(TSearchTable& t, std::int32_t index_id) {
    if (index_id == t.IndexID("BY_ID")) return {kID};
    if (index_id == t.IndexID("BY_A")) return {kA};
    if (index_id == t.IndexID("BY_CA")) return {kC, kA};
    if (index_id == t.IndexID("BY_NAME")) return {kName};
    return {};
  }
  std::vector<std::optional<std::int32_t>> RandomKey(const std::vector<std::int32_t>& fields) {
    std::vector<std::optional<std::int32_t>> key;
    const std::int32_t count = 1 + Pick(static_cast<std::int32_t>(fields.size()));
    for (std::int32_t i = 0; i < count; ++i)
      key.push_back(MaybeInt(Span(fields[static_cast<std::size_t>(i)])));
    return key;
  }
  TView RandomView(TSearchTable& t, bool allow_distinct) {
    TView v;
    const std::vector<std::int32_t> orders = Orders(t);
    v.index_id = orders[static_cast<std::size_t>(Pick(5))];
    v.key_fields = KeyFields(t, v.index_id);
    v.filter1 = RandomNodes();
    v.filter2 = Pick(3) == 0 ? RandomNodes() : std::vector<TNode>{};
    v.callback = Pick(4) == 0;
    if (v.index_id != -1 && v.key_fields[0] != kName && Pick(3) == 0) {
      if (Pick(4) != 0) v.low = RandomKey(v.key_fields);
      if (Pick(4) != 0) v.high = RandomKey(v.key_fields);
      v.low_exclusive = Pick(2) == 0;
      v.high_exclusive = Pick(2) == 0;
    }
    v.distinct = allow_distinct && v.index_id != -1 && Pick(4) == 0;
    return v;
  }
};

// Puts a view on the cursor (its bitmap dropped, as the cursor's setters do)
// and takes it off again.
class TAppliedView {
 public:
  TAppliedView(TSearchTable& t, const TView& v) : t_(t), e1_(t, v.filter1), e2_(t, v.filter2) {
    TTestLocalCursor& c = t.Cursor();
    low_ = c.AllocateRecordBuffer();
    high_ = c.AllocateRecordBuffer();
    c.IndexID = v.index_id;
    c.FilterExpression = v.filter1.empty() ? nullptr : &e1_;
    c.SQLFilterExpression = v.filter2.empty() ? nullptr : &e2_;
    c.FilterRecord = nullptr;
    if (v.callback)
      c.FilterRecord = [&t](std::uint8_t* buffer, void*) { return CallbackHolds(t.RowOf(buffer)); };
    auto set_key = [&](std::uint8_t* buffer, const std::vector<std::optional<std::int32_t>>& key) {
      c.InternalInitRecord(buffer, true);
      for (std::size_t i = 0; i < key.size(); ++i)
        t.SetInt(buffer, v.key_fields[i], key[i]);
      return key.empty() ? nullptr : buffer;
    };
    c.RangeStartBuffer = set_key(low_, v.low);
    c.RangeEndBuffer = set_key(high_, v.high);
    c.RangeStartKeyFieldCount = static_cast<std::int32_t>(v.low.size());
    c.RangeEndKeyFieldCount = static_cast<std::int32_t>(v.high.size());
    c.RangeStartExclusive = v.low_exclusive;
    c.RangeEndExclusive = v.high_exclusive;
    c.DistinctFieldCount = v.distinct ? 1 : 0;
    c.DisableRecordBitmap();
  }
  ~TAppliedView() {
    TTestLocalCursor& c = t_.Cursor();
    c.FilterExpression = c.SQLFilterExpression = nullptr;
    c.FilterRecord = nullptr;
    c.RangeStartBuffer = c.RangeEndBuffer = nullptr;
    c.DistinctFieldCount = 0;
    c.DisableRecordBitmap();
    c.FreeRecordBuffer(low_);
    c.FreeRecordBuffer(high_);
  }
  TAppliedView(const TAppliedView&) = delete;
  TAppliedView& operator=(const TAppliedView&) = delete;
  const TConjunction& Filter1() const { return e1_; }
  const TConjunction& Filter2() const { return e2_; }

 private:
  TSearchTable& t_;
  TConjunction e1_, e2_;
  std::uint8_t* low_ = nullptr;
  std::uint8_t* high_ = nullptr;
};

TEST_F(RecordSearchDifferentialTest, EveryViewMatchesTheBruteForceFilterInEveryDirection) {
  for (int table_no = 0; table_no < 8; ++table_no) {
    TSearchTable t;
    TTestLocalCursor& c = t.Cursor();
    Fill(t, table_no == 0 ? 0 : 20 + Pick(140));
    for (int trial = 0; trial < 100; ++trial) {
      const TView v = RandomView(t, true);
      SCOPED_TRACE("table " + std::to_string(table_no) + " trial " + std::to_string(trial) + ": " +
                   Describe(v));
      const std::vector<std::int32_t> want = Expected(CursorOrder(t, v.index_id), v);
      TAppliedView applied(t, v);
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
      {
        // Without a bitmap to fill, counts and record numbers walk the view.
        SCOPED_TRACE("no bitmap");
        TVEZRecordBitmap* const bitmap = c.RecordBitmap;
        c.RecordBitmap = nullptr;
        EXPECT_EQ(Walk(t, true), want);
        EXPECT_EQ(Walk(t, false), want);
        EXPECT_EQ(t.Table().GetRecordCount(c), static_cast<std::int64_t>(want.size()));
        if (!want.empty()) {
          const auto n =
              static_cast<std::int64_t>(1 + Pick(static_cast<std::int32_t>(want.size())));
          t.Table().SetRecNo(c, n);
          EXPECT_EQ(t.Table().GetRecNo(c), n);
        }
        c.RecordBitmap = bitmap;
      }
      // The expressions are whole again after every search.
      EXPECT_EQ(applied.Filter1().TreeSize(), v.filter1.size());
      EXPECT_EQ(applied.Filter2().TreeSize(), v.filter2.size());
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
  }
}

// Locate: the first record of the view, in the cursor's order, that the
// search expression accepts (case-insensitive comparisons and prefixes
// included). FindKey: the first whose key satisfies the condition over
// KeyFieldCount columns (a partial key on BY_CA, case variants on the
// case-insensitive BY_NAME). Both read no further than that and leave the
// cursor where it was when nothing is found. A distinct view shows one record
// per group: neither lands on a record it hides.
TEST_F(RecordSearchDifferentialTest, LocateAndFindKeyFindTheFirstRecordOfTheOracle) {
  for (int table_no = 0; table_no < 5; ++table_no) {
    TSearchTable t;
    TTestLocalCursor& c = t.Cursor();
    Fill(t, table_no == 0 ? 0 : 20 + Pick(140));
    std::uint8_t* key = c.AllocateRecordBuffer();
    for (int trial = 0; trial < 120; ++trial) {
      const TView v = RandomView(t, true);
      const std::vector<TRow> order = CursorOrder(t, v.index_id);
      const std::vector<std::int32_t> view = Expected(order, v);
      std::map<std::int32_t, TRow> by_id;
      for (const TRow& r : order)
        by_id[r.id] = r;
      TAppliedView applied(t, v);
      // A known place that failed searches must leave alone.
      c.InternalLast();
      const TVEZPageItemID before = c.CurrentRecordID;

      std::vector<TNode> search = RandomNodes();
      if (search.empty()) search.push_back(RandomNode());
      SCOPED_TRACE("table " + std::to_string(table_no) + " trial " + std::to_string(trial) + ": " +
                   Describe(v) + " search " + search[0].Text());
      TConjunction expression(t, search);
      std::int32_t want_id = -1;
      for (std::int32_t id : view) {
        if (expression.Holds(by_id[id])) {
          want_id = id;
          break;
        }
      }
      const bool found = t.Table().Locate(c, &expression);
      ASSERT_EQ(found, want_id != -1);
      EXPECT_EQ(expression.TreeSize(), search.size());
      if (found) {
        EXPECT_EQ(t.RowOf(c.CurrentRecordBuffer).id, want_id);
        EXPECT_FALSE(c.FirstPosition || c.LastPosition);
      } else {
        EXPECT_TRUE(c.LastPosition);
        EXPECT_EQ(c.CurrentRecordID, before);
      }

      if (v.index_id == -1) {
        c.KeyBuffer = key;
        EXPECT_EQ(NativeErrorOf([&] { t.Table().FindKey(c, scEqual); }), 20258);
        c.KeyBuffer = nullptr;
        continue;
      }
      const auto s = static_cast<TVEZSearchCondition>(1 + Pick(5));
      c.InternalInitRecord(key, true);
      std::function<int(const TRow&)> compare;
      if (v.key_fields[0] == kName) {
        std::optional<std::string> name;
        if (Pick(6) != 0) {
          // A stored name in another case, or a fresh one.
          name =
              order.empty() || Pick(2) == 0
                  ? RandomName()
                  : order[static_cast<std::size_t>(Pick(static_cast<std::int32_t>(order.size())))]
                        .name.value_or("ab");
          if (Pick(2) == 0) *name = Upper(*name);
        }
        t.SetName(key, name);
        c.KeyFieldCount = 1;
        compare = [name](const TRow& r) { return CompareName(r.name, name); };
      } else {
        const std::vector<std::optional<std::int32_t>> k = RandomKey(v.key_fields);
        for (std::size_t i = 0; i < k.size(); ++i)
          t.SetInt(key, v.key_fields[i], k[i]);
        c.KeyFieldCount = static_cast<std::int32_t>(k.size());
        compare = [k, fields = v.key_fields](const TRow& r) { return CompareKey(r, fields, k); };
      }
      c.KeyBuffer = key;
      c.KeyBufferSize = c.RecordBufferSize;
      SCOPED_TRACE("FindKey " + std::to_string(s));
      std::int32_t key_id = -1;
      for (std::int32_t id : view) {
        if (Satisfies(s, compare(by_id[id]))) {
          key_id = id;
          break;
        }
      }
      c.InternalLast();
      const TVEZPageItemID at = c.CurrentRecordID;
      const bool key_found = t.Table().FindKey(c, s);
      ASSERT_EQ(key_found, key_id != -1);
      if (key_found) {
        TVEZLockGuard guard(t.Table());
        ASSERT_EQ(t.Table().GetRecordBuffer(c, grmCurrent), grrOK);
        EXPECT_EQ(t.RowOf(c.CurrentRecordBuffer).id, key_id);
      } else {
        EXPECT_TRUE(c.LastPosition);
        EXPECT_EQ(c.CurrentRecordID, at);
      }
      c.KeyBuffer = nullptr;
    }
    c.FreeRecordBuffer(key);
  }
}

// A walk goes on from where it stands when rows come and go between its
// moves (before it, after it, next to it, in and out of the view): every move
// lands on the row after the current one in the view as it is now. A scan
// that kept its place from the last move must notice the change.
TEST_F(RecordSearchDifferentialTest, MovesFindTheNextRowAfterRowsChangeBetweenThem) {
  for (int table_no = 0; table_no < 6; ++table_no) {
    TSearchTable t;
    TTestLocalCursor& c = t.Cursor();
    Fill(t, 40 + Pick(120));
    std::int32_t next_id = 1000;
    for (int trial = 0; trial < 40; ++trial) {
      const TView v = RandomView(t, true);
      SCOPED_TRACE("table " + std::to_string(table_no) + " trial " + std::to_string(trial) + ": " +
                   Describe(v));
      // Storage order too: a prefix scan must not go on from the current
      // row's index entry. A distinct view's row may hand its group to an
      // inserted one.
      if (v.distinct) continue;
      TAppliedView applied(t, v);
      if (!c.IsViewRestricted()) continue;
      const bool forward = Pick(2) == 0;
      std::vector<std::int32_t> want = Expected(CursorOrder(t, v.index_id), v);
      if (!forward) std::reverse(want.begin(), want.end());
      const TVEZGetRecordMode mode = forward ? grmNext : grmPrior;
      if (forward)
        c.InternalFirst();
      else
        c.InternalLast();
      if (want.empty()) {
        EXPECT_NE(c.GetRecordBuffer(mode), grrOK);
        continue;
      }
      ASSERT_EQ(c.GetRecordBuffer(mode), grrOK);
      std::int32_t current = t.RowOf(c.CurrentRecordBuffer).id;
      ASSERT_EQ(current, want[0]);
      for (int step = 0; step < 30; ++step) {
        // Some moves follow each other unchanged, the rest see a change.
        if (Pick(3) != 0) {
          const std::int32_t index_id = c.IndexID;
          const TVEZPageItemID record_id = c.CurrentRecordID;
          std::vector<std::uint8_t> record(c.CurrentRecordBuffer,
                                           c.CurrentRecordBuffer + c.RecordBufferSize);
          if (Pick(2) == 0) {
            TRow r;
            r.id = next_id++;
            r.a = MaybeInt(8);
            r.b = MaybeInt(8);
            r.c = MaybeInt(4);
            if (Pick(8) != 0) r.name = RandomName();
            t.Insert(r);
          } else {
            // A row of the view next to the current one, or any other row.
            const std::vector<TRow> all = CursorOrder(t, -1);
            std::int32_t victim =
                all[static_cast<std::size_t>(Pick(static_cast<std::int32_t>(all.size())))].id;
            const auto at = std::find(want.begin(), want.end(), current);
            if (Pick(2) == 0 && at + 1 < want.end()) victim = *(at + 1);
            if (victim != current) {
              // The delete walks the table unrestricted.
              std::uint8_t* const start = c.RangeStartBuffer;
              std::uint8_t* const end = c.RangeEndBuffer;
              TVEZBaseExpression* const filter = c.FilterExpression;
              TVEZBaseExpression* const sql_filter = c.SQLFilterExpression;
              const TVEZFilterRecordEvent callback = c.FilterRecord;
              c.RangeStartBuffer = c.RangeEndBuffer = nullptr;
              c.FilterExpression = c.SQLFilterExpression = nullptr;
              c.FilterRecord = nullptr;
              t.Delete(victim);
              c.RangeStartBuffer = start;
              c.RangeEndBuffer = end;
              c.FilterExpression = filter;
              c.SQLFilterExpression = sql_filter;
              c.FilterRecord = callback;
            }
          }
          want = Expected(CursorOrder(t, v.index_id), v);
          if (!forward) std::reverse(want.begin(), want.end());
          // Back where the walk stood, in its order and view.
          c.IndexID = index_id;
          c.CurrentRecordID = record_id;
          c.FirstPosition = c.LastPosition = false;
          std::copy(record.begin(), record.end(), c.CurrentRecordBuffer);
        }
        const auto at = std::find(want.begin(), want.end(), current);
        ASSERT_NE(at, want.end()) << "row " << current << " left the view";
        const TVEZGetRecordResult r = c.GetRecordBuffer(mode);
        if (at + 1 == want.end()) {
          EXPECT_EQ(r, forward ? grrEOF : grrBOF);
          break;
        }
        ASSERT_EQ(r, grrOK) << "step " << step;
        current = t.RowOf(c.CurrentRecordBuffer).id;
        ASSERT_EQ(current, *(at + 1)) << "step " << step;
      }
    }
  }
}

}  // namespace
}  // namespace vez::test

// Session named objects, index scan conditions and their protocol with
// scripted expressions, the process-wide database data list and the
// registration of upper-layer services.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "StorageTestDoubles.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZDatabaseDataList.h"
#include "dbengine/storage/VEZIndexDef.h"
#include "dbengine/storage/VEZScanSearchCondition.h"
#include "dbengine/storage/VEZSessionLayerServices.h"
#include "tests/common/NativeError.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

using test::FakeExpression;
using test::FakeNode;

// ---- Session

TEST(VEZBaseSession, NewSession) {
  test::TestSession s;
  EXPECT_EQ(s.SessionID, -1);
  EXPECT_FALSE(s.InTransaction);
  EXPECT_TRUE(s.NamedObjects().empty());
}

TEST(VEZBaseSession, NamedObjects) {
  test::TestSession s;
  s.SetObject(std::make_unique<TVEZSessionNamedObjectSequenceValue>(7, 100));
  s.SetObject(std::make_unique<TVEZSessionNamedObjectSequenceValue>(8, 200));
  auto named = std::make_unique<TVEZSessionNamedObject>(-1);
  named->Name = "Seq\xE9";
  s.SetObject(std::move(named));

  // Same id: the old one goes, the new one is appended at the end.
  s.SetObject(std::make_unique<TVEZSessionNamedObjectSequenceValue>(7, 101));
  ASSERT_EQ(s.NamedObjects().size(), 3u);
  EXPECT_EQ(s.NamedObjects().back()->ObjectID, 7);
  EXPECT_EQ(static_cast<TVEZSessionNamedObjectSequenceValue*>(s.GetObjectByID(7))->Value, 101);

  // Id -1: identity by name, compared upper-cased.
  auto renamed = std::make_unique<TVEZSessionNamedObject>(-1);
  renamed->Name = "SEQ\xC9";
  s.SetObject(std::move(renamed));
  ASSERT_EQ(s.NamedObjects().size(), 3u);
  EXPECT_EQ(s.GetObjectByName("seq\xE9")->Name, "SEQ\xC9");

  // Setting an object the session holds already changes nothing.
  TVEZSessionNamedObject* held = s.GetObjectByID(8);
  s.SetObject(std::unique_ptr<TVEZSessionNamedObject>(held));
  ASSERT_EQ(s.NamedObjects().size(), 3u);
  EXPECT_EQ(s.GetObjectByID(8), held);
  EXPECT_EQ(static_cast<TVEZSessionNamedObjectSequenceValue*>(held)->Value, 200);

  s.DeleteObject(8);
  EXPECT_EQ(s.GetObjectByID(8), nullptr);
  s.DeleteObject(8);  // none: nothing
  EXPECT_EQ(s.NamedObjects().size(), 2u);
  EXPECT_EQ(s.GetObjectByName("none"), nullptr);
  s.SetObject(nullptr);
  EXPECT_EQ(s.NamedObjects().size(), 2u);
}

// ---- Scan conditions

std::uint8_t* KeyBlock(std::int32_t size, std::uint8_t fill) {
  auto* p = static_cast<std::uint8_t*>(MemoryManager().GetMem(size));
  std::memset(p, fill, static_cast<std::size_t>(size));
  return p;
}

TEST(VEZScanSearchCondition, AssignIsADeepCopy) {
  FakeExpression e;
  TVEZScanSearchCondition src;
  src.Condition = scGreaterEqual;
  src.KeyRecordBuffer = KeyBlock(12, 0x5A);
  src.KeyRecordBufferSize = 12;
  src.KeyFieldCount = 2;
  src.IndexID = 9;
  src.Expression = &e;
  src.CreatedFromExpression = true;
  src.PartialCompare = true;
  src.ParentExpressions = {&e, &e};
  src.ParentExpressionNodes = {FakeNode(1), FakeNode(2)};

  TVEZScanSearchCondition copy(true);
  copy.Assign(src);
  EXPECT_FALSE(copy.ExternalKeyRecordBuffer());  // the copy owns its key
  ASSERT_NE(copy.KeyRecordBuffer, nullptr);
  EXPECT_NE(copy.KeyRecordBuffer, src.KeyRecordBuffer);
  EXPECT_EQ(std::memcmp(copy.KeyRecordBuffer, src.KeyRecordBuffer, 12), 0);
  EXPECT_EQ(MemoryManager().GetMemoryBufferSize(copy.KeyRecordBuffer), 12);
  EXPECT_EQ(copy.Condition, scGreaterEqual);
  EXPECT_EQ(copy.KeyRecordBufferSize, 12);
  EXPECT_EQ(copy.KeyFieldCount, 2);
  EXPECT_EQ(copy.IndexID, 9);
  EXPECT_EQ(copy.Expression, &e);
  EXPECT_TRUE(copy.CreatedFromExpression);
  EXPECT_TRUE(copy.PartialCompare);
  EXPECT_EQ(copy.ParentExpressionNodes, src.ParentExpressionNodes);
  src.KeyRecordBuffer[0] = 0;
  EXPECT_EQ(copy.KeyRecordBuffer[0], 0x5A);

  // Assigning a condition without a key drops the old key.
  TVEZScanSearchCondition empty;
  copy.Assign(empty);
  EXPECT_EQ(copy.KeyRecordBuffer, nullptr);
  EXPECT_EQ(copy.IndexID, -1);
  EXPECT_TRUE(copy.ParentExpressions.empty());
}

TEST(VEZScanSearchCondition, ExternalKeyIsNeverFreed) {
  std::uint8_t* key = KeyBlock(4, 1);
  {
    TVEZScanSearchCondition c(true);
    c.KeyRecordBuffer = key;
    c.KeyRecordBufferSize = 4;
    c.ClearKeyRecordBuffer();
    EXPECT_EQ(c.KeyRecordBuffer, nullptr);
    c.KeyRecordBuffer = key;
  }
  EXPECT_EQ(MemoryManager().GetMemoryBufferSize(key), 4);  // still a valid block
  MemoryManager().FreeAndNillMem(key);
}

TEST(VEZScanSearchConditionArray, AddAndDelete) {
  TVEZScanSearchConditionArray array;
  FakeExpression e;
  array.AddExpression(&e);
  ASSERT_EQ(array.Count(), 1);
  EXPECT_EQ(array.Items(0)->Expression, &e);
  EXPECT_EQ(array.Items(0)->Condition, scNone);
  EXPECT_EQ(array.Items(0)->IndexID, -1);

  TVEZScanSearchCondition c;
  EXPECT_EQ(NativeErrorOf([&] { array.AddCondition(c); }), 10388);
  c.IndexID = 3;
  c.KeyRecordBuffer = KeyBlock(8, 2);
  c.KeyRecordBufferSize = 8;
  array.AddCondition(c);
  ASSERT_EQ(array.Count(), 2);
  EXPECT_NE(array.Items(1)->KeyRecordBuffer, c.KeyRecordBuffer);  // a copy; c keeps its own

  EXPECT_EQ(NativeErrorOf([&] { array.Delete(2); }), 10413);
  EXPECT_EQ(NativeErrorOf([&] { array.Delete(-1); }), 10413);
  array.Delete(0);
  ASSERT_EQ(array.Count(), 1);
  EXPECT_EQ(array.Items(0)->IndexID, 3);
}

// Builds an array from a pattern: 'E' expression item, 'C' condition
// created from an expression, 'R' ready condition; IndexID = position.
TVEZScanSearchConditionArray* Build(TVEZScanSearchConditionArray& array, const std::string& kinds,
                                    FakeExpression& e) {
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    if (kinds[i] == 'E') {
      array.AddExpression(&e);
      continue;
    }
    TVEZScanSearchCondition c;
    c.IndexID = static_cast<std::int32_t>(i);
    c.CreatedFromExpression = kinds[i] == 'C';
    array.AddCondition(c);
  }
  return &array;
}

TEST(VEZScanSearchConditionArray, RemoveUnusedConditionsCreatedFromExpressions) {
  struct Row {
    std::string kinds;
    std::int32_t no, end_no;
    std::vector<std::int32_t> remaining;  // original positions
    std::int32_t new_no, new_end_no;
  };
  const std::vector<Row> rows = {
      {"ECCC", 2, -1, {0, 2, 3}, 1, -1},
      {"CCRC", -1, -1, {2, 3}, -1, -1},
      {"CCCCC", 3, 1, {1, 3, 4}, 1, 0},
      {"CC", 300, -1, {1}, 300, -1},  // numbers outside the array choose nothing
      {"C", -1, -1, {0}, -1, -1},     // the last item always stays
      {"RERC", 0, 3, {0, 1, 2, 3}, 0, 3},
      {"CCC", 1, 1, {1, 2}, 0, 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.kinds + " " + std::to_string(r.no) + "," + std::to_string(r.end_no));
    FakeExpression e;
    TVEZScanSearchConditionArray array;
    Build(array, r.kinds, e);
    std::int32_t no = r.no, end_no = r.end_no;
    array.RemoveUnusedConditionsCreatedFromExpressions(no, end_no);
    std::vector<std::int32_t> remaining;
    for (std::int32_t i = 0; i < array.Count(); ++i) {
      remaining.push_back(array.Items(i)->Expression ? static_cast<std::int32_t>(r.kinds.find('E'))
                                                     : array.Items(i)->IndexID);
    }
    EXPECT_EQ(remaining, r.remaining);
    EXPECT_EQ(no, r.new_no);
    EXPECT_EQ(end_no, r.new_end_no);
  }
}

// A chosen condition beyond item 255 (a scan with hundreds of candidate
// conditions) stays, keeps its number, and its nodes go out and back.
TEST(VEZScanSearchConditionArray, ChosenNumbersAbove255) {
  FakeExpression e;
  TVEZScanSearchConditionArray array;
  Build(array, "E" + std::string(299, 'C'), e);
  ASSERT_EQ(array.Count(), 300);
  std::int32_t no = 280, end_no = 290;
  array.RemoveUnusedConditionsCreatedFromExpressions(no, end_no);
  // The expression item, the two chosen conditions and the last item stay.
  ASSERT_EQ(array.Count(), 4);
  EXPECT_EQ(no, 1);
  EXPECT_EQ(end_no, 2);
  EXPECT_EQ(array.Items(no)->IndexID, 280);
  EXPECT_EQ(array.Items(end_no)->IndexID, 290);
  EXPECT_EQ(array.Items(3)->IndexID, 299);

  TVEZScanSearchConditionArray big;
  Build(big, "E" + std::string(299, 'C'), e);
  TVEZExprNode* node = FakeNode(9);
  big.Items(280)->ParentExpressions.push_back(&e);
  big.Items(280)->ParentExpressionNodes.push_back(node);
  e.nodes = {node};
  big.ExtractChosenConditionsFromExpressions(280, -1);
  EXPECT_TRUE(e.nodes.empty());
  big.ReturnExtractedConditionsToExpressions(280, -1);
  EXPECT_EQ(e.nodes, std::vector<TVEZExprNode*>{node});
}

class ScanProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddIndex(1, {"A"});
    AddIndex(2, {"A", "B", "C"});
  }
  void AddIndex(std::int32_t id, std::vector<std::string> columns) {
    TVEZIndexDef* d = indexes_.AddCreated();
    d->ObjectID = id;
    d->AssignByNames(columns, std::vector<std::string>(columns.size()),
                     std::vector<std::string>(columns.size()));
  }
  static std::unique_ptr<TVEZScanSearchCondition> Condition(std::int32_t index_id,
                                                            FakeExpression* e, TVEZExprNode* node) {
    auto c = std::make_unique<TVEZScanSearchCondition>();
    c->IndexID = index_id;
    c->Condition = scEqual;
    c->KeyFieldCount = 1;
    c->CreatedFromExpression = e != nullptr;
    if (e != nullptr) {
      c->ParentExpressions.push_back(e);
      c->ParentExpressionNodes.push_back(node);
    }
    return c;
  }
  TVEZIndexDefs indexes_;
};

TEST_F(ScanProtocolTest, ConditionsAreCreatedThenExtendedColumnByColumn) {
  FakeExpression filter, search, late;
  filter.nodes = {FakeNode(1)};
  search.nodes = {FakeNode(2), FakeNode(3)};
  std::int32_t seen_session = 0;
  filter.on_create = [&](const TVEZIndexDefs&, TVEZScanSearchConditionArray& a, std::int32_t s) {
    seen_session = s;
    a.AddCondition(*Condition(1, &filter, FakeNode(1)));
    a.AddCondition(*Condition(2, &filter, FakeNode(1)));
    a.AddExpression(&late);  // not present at the start: not asked
  };
  bool late_asked = false;
  late.on_create = [&](const TVEZIndexDefs&, TVEZScanSearchConditionArray&, std::int32_t) {
    late_asked = true;
  };
  int extend_calls_on_one_column_index = 0;
  // search supplies B then C of an equality key on index 2.
  search.on_extend = [&](TVEZScanSearchCondition& c, const TVEZIndexDef& d) {
    if (d.ObjectID == 1) ++extend_calls_on_one_column_index;
    if (c.KeyFieldCount >= d.ColumnCount()) return false;
    c.ParentExpressions.push_back(&search);
    c.ParentExpressionNodes.push_back(FakeNode(static_cast<std::uintptr_t>(c.KeyFieldCount + 1)));
    ++c.KeyFieldCount;
    return true;
  };

  TVEZScanSearchConditionArray array;
  array.AddExpression(&filter);
  array.AddExpression(&search);
  array.AddCondition(*Condition(2, nullptr, nullptr));  // a ready key search
  array.CreateIndexScanConditionsFromExpressions(indexes_, 17);

  EXPECT_EQ(seen_session, 17);
  EXPECT_FALSE(late_asked);
  ASSERT_EQ(array.Count(), 6);                  // filter, search, ready, two new, late
  EXPECT_EQ(array.Items(2)->KeyFieldCount, 3);  // the ready one grew too
  EXPECT_EQ(array.Items(3)->IndexID, 1);
  EXPECT_EQ(array.Items(3)->KeyFieldCount, 1);
  EXPECT_EQ(array.Items(4)->IndexID, 2);
  EXPECT_EQ(array.Items(4)->KeyFieldCount, 3);
  EXPECT_EQ(array.Items(4)->ParentExpressionNodes,
            (std::vector<TVEZExprNode*>{FakeNode(1), FakeNode(2), FakeNode(3)}));
  EXPECT_EQ(extend_calls_on_one_column_index, 0);

  // An expression that always claims to extend cannot loop for ever.
  FakeExpression greedy;
  greedy.on_extend = [](TVEZScanSearchCondition&, const TVEZIndexDef&) { return true; };
  TVEZScanSearchConditionArray array2;
  array2.AddExpression(&greedy);
  array2.AddCondition(*Condition(2, nullptr, nullptr));
  array2.CreateIndexScanConditionsFromExpressions(indexes_, 1);
  EXPECT_EQ(array2.Count(), 2);
}

TEST_F(ScanProtocolTest, ExtractedNodesComeBack) {
  FakeExpression filter;
  filter.nodes = {FakeNode(1), FakeNode(2), FakeNode(3)};
  TVEZScanSearchConditionArray array;
  array.AddExpression(&filter);
  auto start = Condition(2, &filter, FakeNode(1));
  start->ParentExpressions.push_back(&filter);
  start->ParentExpressionNodes.push_back(FakeNode(3));
  array.AddCondition(*start);
  array.AddCondition(*Condition(2, &filter, FakeNode(2)));

  std::int32_t no = 1, end_no = 2;
  array.RemoveUnusedConditionsCreatedFromExpressions(no, end_no);
  EXPECT_EQ(array.Count(), 3);
  array.ExtractChosenConditionsFromExpressions(no, end_no);
  EXPECT_TRUE(filter.IsEmpty());
  array.ReturnExtractedConditionsToExpressions(no, end_no);
  EXPECT_EQ(filter.nodes, (std::vector<TVEZExprNode*>{FakeNode(1), FakeNode(3), FakeNode(2)}));

  // One condition chosen as start and end: its nodes go back once.
  array.ExtractChosenConditionsFromExpressions(1, 1);
  EXPECT_EQ(filter.nodes, (std::vector<TVEZExprNode*>{FakeNode(2)}));
  array.ReturnExtractedConditionsToExpressions(1, 1);
  EXPECT_EQ(filter.nodes.size(), 3u);
  // Numbers outside the array choose nothing.
  array.ReturnExtractedConditionsToExpressions(-1, 9);
  array.ReturnExtractedConditionsToExpressions(256, 256);
  EXPECT_EQ(filter.nodes.size(), 3u);
}

// ---- Process-wide database data list and service registration

TEST(VEZDatabaseDataList, AddFindRemove) {
  TVEZDatabaseDataList list;
  auto* a = reinterpret_cast<TVEZDatabaseData*>(0x1000);
  auto* b = reinterpret_cast<TVEZDatabaseData*>(0x2000);
  list.Add(a);
  list.Add(b);
  list.Add(a);
  list.Add(nullptr);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Get(1), b);
  EXPECT_EQ(list.Get(2), nullptr);
  EXPECT_EQ(list.Find([&](TVEZDatabaseData* d) { return d == b; }), b);
  EXPECT_TRUE(list.Remove(a));
  EXPECT_FALSE(list.Remove(a));
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(&DatabaseDataList(), &DatabaseDataList());

  // The lock is re-entrant and shared by concurrent users.
  TVEZDatabaseDataList shared;
  auto worker = [&](std::uintptr_t base) {
    for (std::uintptr_t i = 1; i <= 200; ++i) {
      auto* d = reinterpret_cast<TVEZDatabaseData*>((base + i) * 16);
      shared.Lock();
      if (shared.Find([&](TVEZDatabaseData* x) { return x == d; }) == nullptr) shared.Add(d);
      shared.Unlock();
      if (i % 2 == 0) shared.Remove(d);
    }
  };
  std::thread t1(worker, 0), t2(worker, 1000);
  t1.join();
  t2.join();
  EXPECT_EQ(shared.Count(), 200);
}

TEST(VEZServices, SessionLayerThroughItsInterface) {
  test::FakeSessionLayerServices services;
  RegisterSessionLayerServices(&services);
  ASSERT_EQ(SessionLayerServices(), &services);

  // An index build: a new local cursor opened on the table data.
  std::unique_ptr<TVEZCursor> cursor = SessionLayerServices()->CreateLocalCursor();
  EXPECT_EQ(cursor->IndexID, -1);
  EXPECT_FALSE(cursor->IsOpen);
  auto* table_data = reinterpret_cast<TVEZTableData*>(0x4000);
  SessionLayerServices()->OpenLocalCursor(*cursor, *table_data);
  EXPECT_TRUE(cursor->IsOpen && cursor->FirstPosition);

  // A BLOB stream owns both streams and hands back its compressed stream.
  auto compressed = std::make_unique<TVEZMemoryStream>();
  compressed->Write("abc", 3);
  TVEZStream* compressed_raw = compressed.get();
  std::unique_ptr<TVEZBaseBLOBStream> read_only = SessionLayerServices()->CreateLocalBLOBStream(
      std::move(compressed), std::make_unique<TVEZMemoryStream>(), cursor.get(), bomRead, 2);
  EXPECT_EQ(read_only->TemporaryStream(), compressed_raw);
  EXPECT_EQ(read_only->Cursor(), cursor.get());
  EXPECT_EQ(read_only->FieldNo(), 2);
  char out[3] = {};
  EXPECT_EQ(read_only->Read(out, 3), 3);
  EXPECT_EQ(std::string(out, 3), "abc");
  EXPECT_EQ(NativeErrorOf([&] { read_only->Write("x", 1); }), 10115);
  EXPECT_EQ(NativeErrorOf([&] { read_only->SetSize(0); }), 10116);
  EXPECT_FALSE(read_only->Modified());

  RegisterSessionLayerServices(nullptr);
}

TEST(VEZServices, RegistrationIsProcessWide) {
  EXPECT_EQ(ExpressionFactory(), nullptr);
  EXPECT_EQ(SessionLayerServices(), nullptr);
  test::FakeExpressionFactory factory;
  {
    test::ScopedExpressionFactory scope(&factory);
    EXPECT_EQ(ExpressionFactory(), &factory);
  }
  EXPECT_EQ(ExpressionFactory(), nullptr);
}

}  // namespace
}  // namespace vez

// Schema definition objects: record layout, data types, lists and lookups,
// Assign, default expressions, FindIndex, and the constraint that an index
// implies.
#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "StorageTestDoubles.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/storage/VEZConstraintDef.h"
#include "dbengine/storage/VEZFieldDef.h"
#include "dbengine/storage/VEZIndexDef.h"
#include "platform/core/Exceptions.h"
#include "tests/common/NativeError.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

struct ColumnType {
  TVEZAdvancedFieldType type;
  std::int32_t size;
};

struct LayoutCase {
  std::string name;
  std::vector<ColumnType> fields;
  std::vector<std::int32_t> memory_offsets;
  std::vector<std::int32_t> disk_offsets;
  std::int32_t memory_size;
  std::int32_t disk_size;
};

TEST(VEZFieldDefs, RecordLayoutTable) {
  const std::vector<ColumnType> nine_ints(9, ColumnType{aftInteger, 0});
  const std::vector<LayoutCase> cases = {
      {"no fields", {}, {}, {}, 0, 0},
      {"string, integer, BLOB",
       {{aftString, 4}, {aftInteger, 0}, {aftBlob, 0}},
       {1, 6, 10},
       {1, 6, 10},
       20,
       16},
      {"BLOB before an integer", {{aftMemo, 0}, {aftInteger, 0}}, {1, 11}, {1, 7}, 15, 11},
      {"eight fields take one bitmap byte",
       std::vector<ColumnType>(8, ColumnType{aftSmallint, 0}),
       {1, 3, 5, 7, 9, 11, 13, 15},
       {1, 3, 5, 7, 9, 11, 13, 15},
       17,
       17},
      {"nine fields take two",
       nine_ints,
       {2, 6, 10, 14, 18, 22, 26, 30, 34},
       {2, 6, 10, 14, 18, 22, 26, 30, 34},
       38,
       38},
      {"wide string, extended, date-time, logical",
       {{aftWideString, 3}, {aftExtended, 0}, {aftDateTime, 0}, {aftBoolean, 0}},
       {1, 9, 19, 27},
       {1, 9, 19, 27},
       29,
       29},
      {"GUID, wide memo, bytes",
       {{aftGuid, 38}, {aftWideMemo, 0}, {aftBytes, 16}},
       {1, 40, 50},
       {1, 40, 46},
       67,
       63},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TVEZFieldDefs defs;
    for (const auto& f : c.fields)
      defs.AddCreated()->SetFieldDefDataType(f.type, f.size);
    defs.RecalcFieldOffsets();
    for (std::size_t i = 0; i < c.fields.size(); ++i) {
      EXPECT_EQ(defs.GetDef(static_cast<std::int32_t>(i))->MemoryOffset, c.memory_offsets[i]) << i;
      EXPECT_EQ(defs.GetDef(static_cast<std::int32_t>(i))->DiskOffset, c.disk_offsets[i]) << i;
    }
    EXPECT_EQ(defs.GetMemoryRecordBufferSize(), c.memory_size);
    EXPECT_EQ(defs.GetDiskRecordBufferSize(), c.disk_size);
  }
}

TEST(VEZFieldDefs, RecordSizeOverflowIsRefused) {
  TVEZFieldDefs defs;
  for (int i = 0; i < 3; ++i)
    defs.AddCreated()->SetFieldDefDataType(aftString, 1'000'000'000);
  EXPECT_THROW(defs.RecalcFieldOffsets(), platform::EIntOverflow);
  EXPECT_THROW(defs.GetMemoryRecordBufferSize(), platform::EIntOverflow);
}

TEST(VEZFieldDef, SetFieldDefDataType) {
  TVEZFieldDef d;
  d.SetFieldDefDataType(aftGuid, 38);
  EXPECT_EQ(d.BaseFieldType, bftChar);
  EXPECT_EQ(d.MemoryDataSize, 39);
  EXPECT_EQ(d.DiskDataSize, 39);
  d.SetFieldDefDataType(aftGraphic, 0);
  EXPECT_EQ(d.BaseFieldType, bftBlob);
  EXPECT_EQ(d.MemoryDataSize, 10);
  EXPECT_EQ(d.DiskDataSize, 6);

  // No base type: the advanced type stays, the base type is cleared, the
  // size and data sizes keep their values.
  EXPECT_EQ(NativeErrorOf([&] { d.SetFieldDefDataType(aftUnknown, 99); }), 30007);
  EXPECT_EQ(d.AdvancedFieldType, aftUnknown);
  EXPECT_EQ(d.BaseFieldType, bftUnknown);
  EXPECT_EQ(d.FieldSize, 0);
  EXPECT_EQ(d.MemoryDataSize, 10);
}

TEST(VEZFieldDef, NewDefValues) {
  TVEZFieldDef f;
  EXPECT_EQ(f.ObjectID, -1);
  EXPECT_EQ(f.SchemaID, -1);
  EXPECT_EQ(f.BLOBBlockSize, 102400);
  EXPECT_EQ(f.AutoincIncrement, 1);
  EXPECT_EQ(f.AutoincMaxValue, INT64_MAX);
  EXPECT_TRUE(f.DefaultValue.GetIsNull());
  TVEZIndexDef i;
  EXPECT_EQ(i.ObjectID, 0);
  EXPECT_EQ(i.RootPageNo, -1);
  EXPECT_EQ(i.SessionID, -1);
  TVEZConstraintDefCheck c;
  EXPECT_EQ(c.ObjectID, 0);
  EXPECT_EQ(c.ConstraintType, ctCheck);
  TVEZConstraintDefPrimary p;
  EXPECT_EQ(p.ObjectID, -1);
  EXPECT_EQ(p.ConstraintType, ctPK);
}

TEST(VEZFieldDef, AssignCopiesAllButTheVisibleReference) {
  TVEZFieldDef src;
  src.Name = "F";
  src.ObjectID = 5;
  src.SchemaName = "S";
  src.SchemaID = 2;
  src.SetFieldDefDataType(aftMemo, 0);
  src.MemoryOffset = 7;
  src.DiskOffset = 8;
  src.FieldNoReference = 3;
  src.DefaultValue.SetAsInteger(42);
  src.BLOBCompressionAlgorithm = acaBZIP;
  src.BLOBCompressionMode = 9;
  src.BLOBBlockSize = 512;
  src.AutoincIncrement = 2;
  src.AutoincInitialValue = 3;
  src.AutoincMinValue = 4;
  src.AutoincMaxValue = 5;
  src.AutoincCycled = true;

  TVEZFieldDef d;
  d.FieldNoReference = 9;
  d.Assign(src);
  EXPECT_EQ(d.Name, "F");
  EXPECT_EQ(d.ObjectID, 5);
  EXPECT_EQ(d.SchemaName, "S");
  EXPECT_EQ(d.SchemaID, 2);
  EXPECT_EQ(d.BaseFieldType, bftClob);
  EXPECT_EQ(d.AdvancedFieldType, aftMemo);
  EXPECT_EQ(d.MemoryDataSize, 10);
  EXPECT_EQ(d.DiskDataSize, 6);
  EXPECT_EQ(d.MemoryOffset, 7);
  EXPECT_EQ(d.DiskOffset, 8);
  EXPECT_EQ(d.FieldNoReference, 9);
  EXPECT_EQ(d.DefaultValue.GetAsInteger(), 42);
  EXPECT_EQ(d.BLOBCompressionAlgorithm, acaBZIP);
  EXPECT_EQ(d.BLOBCompressionMode, 9);
  EXPECT_EQ(d.BLOBBlockSize, 512);
  EXPECT_EQ(d.AutoincIncrement, 2);
  EXPECT_EQ(d.AutoincInitialValue, 3);
  EXPECT_EQ(d.AutoincMinValue, 4);
  EXPECT_EQ(d.AutoincMaxValue, 5);
  EXPECT_TRUE(d.AutoincCycled);
  // The copy owns its own default value.
  src.DefaultValue.SetAsInteger(1);
  EXPECT_EQ(d.DefaultValue.GetAsInteger(), 42);

  TVEZIndexDef not_a_field;
  EXPECT_THROW(d.Assign(not_a_field), platform::EInvalidCast);
  EXPECT_THROW(not_a_field.Assign(d), platform::EInvalidCast);
}

TEST(VEZFieldDef, DefaultExpressionIsRebuiltByAssignAndLoadOnly) {
  TVEZFieldDef src;
  src.SetFieldDefDataType(aftDateTime, 0);
  src.DefaultValue.SetAsAnsiString("NOW()");
  {
    // Without an SQL engine a default stays a literal.
    TVEZFieldDef d;
    d.Assign(src);
    EXPECT_EQ(d.DefaultValueExpr, nullptr);
  }
  test::FakeExpressionFactory factory;
  test::ScopedExpressionFactory scope(&factory);
  TVEZFieldDef d;
  d.Assign(src);
  ASSERT_NE(d.DefaultValueExpr, nullptr);
  EXPECT_EQ(static_cast<test::FakeExpression*>(d.DefaultValueExpr.get())->parsed_text, "NOW()");

  // Setting the value alone does not rebuild; Assign of a literal drops it.
  d.DefaultValue.SetAsAnsiString("abc");
  EXPECT_NE(d.DefaultValueExpr, nullptr);
  TVEZFieldDef literal;
  literal.SetFieldDefDataType(aftString, 5);
  literal.DefaultValue.SetAsAnsiString("abc");
  d.Assign(literal);
  EXPECT_EQ(d.DefaultValueExpr, nullptr);

  TVEZMemoryStream s;
  src.SaveToStream(s);
  s.SetPosition(0);
  TVEZFieldDef loaded;
  loaded.LoadFromStream(s);
  EXPECT_NE(loaded.DefaultValueExpr, nullptr);
  EXPECT_EQ(factory.created, 2);
}

TEST(VEZMetaObjectDefs, LookupsAndPositions) {
  TVEZFieldDefs defs;
  const char* names[] = {"ID", "Name", "\xC9t\xE9"};  // "Été" in the engine's code page
  for (int i = 0; i < 3; ++i) {
    TVEZFieldDef* d = defs.AddCreated();
    d->Name = names[i];
    d->ObjectID = 10 + i;
  }
  EXPECT_EQ(defs.GetDefNumberByName("id"), 0);
  EXPECT_EQ(defs.GetDefNumberByName("NAME"), 1);
  EXPECT_EQ(defs.GetDefNumberByName("\xC9T\xC9"), 2);  // upper-cased accents match
  EXPECT_EQ(defs.GetDefNumberByName("NAMES"), -1);
  EXPECT_EQ(defs.GetFieldDefByName("nAmE")->ObjectID, 11);
  EXPECT_EQ(defs.GetDefByName("missing"), nullptr);
  EXPECT_EQ(defs.GetDefNumberByObjectId(12), 2);
  EXPECT_EQ(defs.GetDefByObjectId(11)->Name, "Name");
  EXPECT_EQ(defs.GetDefNumberByObjectId(99), -1);
  EXPECT_EQ(defs.GetDefByObjectId(99), nullptr);

  defs.Move(2, 0);
  EXPECT_EQ(defs.GetDef(0)->ObjectID, 12);
  EXPECT_EQ(defs.GetDef(1)->ObjectID, 10);
  auto extra = std::make_unique<TVEZFieldDef>();
  extra->ObjectID = 20;
  defs.Insert(1, std::move(extra));
  EXPECT_EQ(defs.GetDef(1)->ObjectID, 20);
  auto replacement = std::make_unique<TVEZFieldDef>();
  replacement->ObjectID = 21;
  defs.SetDef(1, std::move(replacement));
  EXPECT_EQ(defs.GetDefNumberByObjectId(20), -1);
  // Setting the def that is there keeps it (freeing it would leave it listed).
  TVEZMetaObjectDef* same = defs.GetDef(1);
  defs.SetDef(1, std::unique_ptr<TVEZMetaObjectDef>(same));
  EXPECT_EQ(defs.GetDef(1), same);
  EXPECT_EQ(defs.GetDef(1)->ObjectID, 21);
  defs.Delete(1);
  EXPECT_EQ(defs.Count(), 3);
  EXPECT_THROW(defs.GetDef(3), platform::EListError);
  EXPECT_THROW(defs.Delete(-1), platform::EListError);
  EXPECT_THROW(defs.Insert(5, nullptr), platform::EListError);
  defs.Clear();
  EXPECT_EQ(defs.Count(), 0);
}

TEST(VEZMetaObjectDefs, Assign) {
  TVEZFieldDefs src;
  for (const char* n : {"A", "B"}) {
    TVEZFieldDef* d = src.AddCreated();
    d->Name = n;
    d->SetFieldDefDataType(aftInteger, 0);
  }
  TVEZFieldDefs copy;
  copy.AddCreated()->Name = "OLD";
  copy.Assign(src);
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy.GetDef(1)->Name, "B");
  EXPECT_EQ(copy.GetDef(1)->BaseFieldType, bftSignedInt32);

  src.AddCreated()->Name = "a";  // same name as the first, other case
  EXPECT_EQ(NativeErrorOf([&] { copy.Assign(src); }), 10424);
  EXPECT_EQ(copy.Count(), 2);  // the defs copied before the duplicate stay

  // A list without an item class cannot create defs.
  TVEZMetaObjectDefs bare;
  try {
    bare.Assign(src);
    ADD_FAILURE();
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), 30339);
    EXPECT_NE(e.Message().find("'InternalAddCreated' not overrided in class 'TVEZMetaObjectDefs'"),
              std::string::npos);
  }
  TVEZConstraintDefs constraints;
  EXPECT_EQ(NativeErrorOf([&] { constraints.InternalAddCreated(); }), 30339);
}

TEST(VEZIndexDef, ColumnsAndAssignByNames) {
  TVEZIndexDef d;
  d.SetColumnCount(3);
  d.GetIndexColumn(2)->FieldName = "C";
  d.SetColumnCount(1);
  EXPECT_EQ(d.ColumnCount(), 1);
  EXPECT_THROW(d.GetIndexColumn(1), platform::EListError);
  EXPECT_THROW(d.SetColumnCount(-1), platform::EListError);

  d.AssignByNames({"A", "B", "C"}, {"DESC", "desc", "ASC"}, {"NO_CASE", "CASE", "no_case"});
  ASSERT_EQ(d.ColumnCount(), 3);
  EXPECT_TRUE(d.GetIndexColumn(0)->Descending);
  EXPECT_FALSE(d.GetIndexColumn(1)->Descending);  // exact comparison
  EXPECT_TRUE(d.GetIndexColumn(0)->CaseInsensitive);
  EXPECT_FALSE(d.GetIndexColumn(2)->CaseInsensitive);
  EXPECT_EQ(d.GetIndexColumn(2)->MaxIndexedSize, 20);

  EXPECT_EQ(NativeErrorOf([&] { d.AssignByNames({"A"}, {}, {""}); }), 10278);
  EXPECT_EQ(NativeErrorOf([&] { d.AssignByNames({"A"}, {""}, {}); }), 10279);
  EXPECT_EQ(d.ColumnCount(), 3);

  TVEZIndexDef copy;
  d.Temporary = true;
  d.SessionID = 3;
  d.TableState = 8;
  d.NeedRebuild = true;
  d.Primary = true;
  copy.Assign(d);
  EXPECT_EQ(copy.ColumnCount(), 3);
  EXPECT_EQ(copy.GetIndexColumn(1)->FieldName, "B");
  EXPECT_TRUE(copy.Temporary);
  EXPECT_EQ(copy.SessionID, 3);
  EXPECT_EQ(copy.TableState, 8);
  EXPECT_TRUE(copy.NeedRebuild);
  EXPECT_TRUE(copy.Primary);
  EXPECT_NE(copy.GetIndexColumn(0), d.GetIndexColumn(0));
}

class FindIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (auto [name, type] : {std::pair{"A", aftString},
                              {"B", aftString},
                              {"C", aftInteger},
                              {"N", aftInteger},
                              {"W", aftWideString}}) {
      TVEZFieldDef* f = fields_.AddCreated();
      f->Name = name;
      f->SetFieldDefDataType(type, 10);
    }
    // List order matters: the first index that serves the columns wins.
    Add("I_AB", 100, {"A", "B"}, {"ASC", "ASC"}, {"CASE", "CASE"});
    Add("I_A_DESC", 101, {"A"}, {"DESC"}, {"CASE"});
    Add("I_A_NOCASE", 102, {"a"}, {"ASC"}, {"NO_CASE"});
    Add("I_C_TEMP", 103, {"C"}, {"ASC"}, {"CASE"})->Temporary = true;
    Add("I_N_NOCASE", 104, {"N"}, {"ASC"}, {"NO_CASE"});
    Add("I_W_NOCASE", 105, {"W"}, {"ASC"}, {"NO_CASE"});
    indexes_.GetIndexDef(3)->SessionID = 5;
  }
  TVEZIndexDef* Add(const char* name, std::int32_t id, std::vector<std::string> cols,
                    std::vector<std::string> dirs, std::vector<std::string> cases) {
    TVEZIndexDef* d = indexes_.AddCreated();
    d->Name = name;
    d->ObjectID = id;
    d->AssignByNames(cols, dirs, cases);
    return d;
  }
  TVEZFieldDefs fields_;
  TVEZIndexDefs indexes_;
};

TEST_F(FindIndexTest, Table) {
  struct Row {
    std::vector<std::string> names, dirs, cases;
    std::int32_t session;
    std::int32_t expected;
  };
  const std::vector<Row> rows = {
      {{"A"}, {"ASC"}, {"CASE"}, 1, 100},  // prefix of a longer index
      {{"a"}, {""}, {""}, 1, 100},         // names compare in upper case
      {{"A", "B"}, {"ASC", "ASC"}, {"CASE", "CASE"}, 1, 100},
      {{"A"}, {"DESC"}, {""}, 1, 101},
      {{"A"}, {"ASC"}, {"NO_CASE"}, 1, 102},
      {{"A"}, {"DESC"}, {"NO_CASE"}, 1, -1},  // no descending case-insensitive index
      {{"A"}, {"asc"}, {""}, 1, 100},         // other texts accept both directions
      {{"B"}, {""}, {""}, 1, -1},             // B leads no index
      {{"A", "B", "C"}, {"", "", ""}, {"", "", ""}, 1, -1},
      {{"C"}, {""}, {""}, 5, 103},      // own temporary index
      {{"C"}, {""}, {""}, 6, -1},       // another session's
      {{"N"}, {""}, {"CASE"}, 1, 104},  // CASE ignored for a number
      {{"N"}, {""}, {"NO_CASE"}, 1, 104},
      {{"W"}, {""}, {"CASE"}, 1, -1},  // CASE needs a case-sensitive string
      {{"W"}, {""}, {"NO_CASE"}, 1, 105},
      {{"Z"}, {""}, {""}, 1, -1},
      {{}, {}, {}, 1, 100},  // no columns: the first index
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(::testing::PrintToString(r.names) + " " + ::testing::PrintToString(r.dirs) + " " +
                 ::testing::PrintToString(r.cases) + " session " + std::to_string(r.session));
    EXPECT_EQ(indexes_.FindIndex(&r.names, &r.dirs, &r.cases, r.session, &fields_), r.expected);
    EXPECT_EQ(indexes_.IsIndexExists(&r.names, &r.dirs, &r.cases, r.session, &fields_),
              r.expected != -1);
  }
}

TEST_F(FindIndexTest, Errors) {
  const std::vector<std::string> one{"A"}, none{};
  EXPECT_EQ(NativeErrorOf([&] { indexes_.FindIndex(nullptr, &one, &one, 1, &fields_); }), 10389);
  EXPECT_EQ(NativeErrorOf([&] { indexes_.FindIndex(&one, nullptr, &one, 1, &fields_); }), 10390);
  EXPECT_EQ(NativeErrorOf([&] { indexes_.FindIndex(&one, &one, nullptr, 1, &fields_); }), 10391);
  EXPECT_EQ(NativeErrorOf([&] { indexes_.FindIndex(&one, &none, &one, 1, &fields_); }), 10276);
  EXPECT_EQ(NativeErrorOf([&] { indexes_.FindIndex(&one, &one, &none, 1, &fields_); }), 10277);
}

class FKDef : public TVEZConstraintDef {
 public:
  FKDef() : TVEZConstraintDef(-1, ctFK) {}
};

TEST(VEZConstraintDefs, AssignCopiesByType) {
  TVEZConstraintDefs src;
  TVEZConstraintDefNotNull* nn = src.AddNotNull();
  nn->Name = "NN";
  nn->ColumnName = "A";
  nn->ColumnObjectID = 4;
  TVEZConstraintDefCheck* ck = src.AddCheck();
  ck->MinValue.SetAsInteger(3);
  TVEZConstraintDefPrimary* pk = src.AddPK();
  pk->Columns = {{"A", 4}};
  pk->IndexName = "PKI";
  src.AddUnique()->Name = "NN";  // duplicate names are not checked here

  TVEZConstraintDefs copy;
  copy.Assign(src);
  ASSERT_EQ(copy.Count(), 4);
  auto* nn2 = dynamic_cast<TVEZConstraintDefNotNull*>(copy.GetDef(0));
  ASSERT_NE(nn2, nullptr);
  EXPECT_EQ(nn2->ColumnName, "A");
  EXPECT_EQ(nn2->ColumnObjectID, 4);
  auto* ck2 = dynamic_cast<TVEZConstraintDefCheck*>(copy.GetDef(1));
  ASSERT_NE(ck2, nullptr);
  EXPECT_EQ(ck2->MinValue.GetAsInteger(), 3);
  auto* pk2 = dynamic_cast<TVEZConstraintDefPrimary*>(copy.GetDef(2));
  ASSERT_NE(pk2, nullptr);
  EXPECT_EQ(pk2->IndexName, "PKI");
  ASSERT_EQ(pk2->Columns.size(), 1u);
  EXPECT_EQ(pk2->Columns[0].ColumnObjectID, 4);
  EXPECT_EQ(copy.GetDef(3)->ConstraintType, ctUnique);

  src.InternalAdd(std::make_unique<FKDef>());
  EXPECT_EQ(NativeErrorOf([&] { copy.Assign(src); }), 30035);

  TVEZConstraintDefUnique u;
  EXPECT_THROW(u.Assign(*nn), platform::EInvalidCast);
}

TEST(VEZConstraintDefs, CreateConstraintFromIndexDef) {
  TVEZIndexDef index;
  index.Name = "IDX";
  index.ObjectID = 31;
  index.AssignByNames({"VesselID", "Name"}, {"", ""}, {"", ""});
  TVEZConstraintDefs list;

  EXPECT_EQ(CreateConstraintFromIndexDef(index, list), nullptr);
  EXPECT_EQ(list.Count(), 0);

  index.Unique = true;
  TVEZConstraintDefUnique* u = CreateConstraintFromIndexDef(index, list);
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->ConstraintType, ctUnique);
  EXPECT_EQ(u->Name, "C_Unique$VesselID$Name");
  EXPECT_EQ(u->IndexName, "IDX");
  EXPECT_EQ(u->IndexObjectID, 31);
  ASSERT_EQ(u->Columns.size(), 2u);
  EXPECT_EQ(u->Columns[1].ColumnName, "Name");

  index.Primary = true;  // primary is tested first
  TVEZConstraintDefUnique* p = CreateConstraintFromIndexDef(index, list);
  ASSERT_NE(p, nullptr);
  EXPECT_NE(dynamic_cast<TVEZConstraintDefPrimary*>(p), nullptr);
  EXPECT_EQ(p->Name, "C_PK$VesselID$Name");
  EXPECT_EQ(list.Count(), 2);

  index.AssignByNames({std::string(200, 'x'), std::string(200, 'y')}, {"", ""}, {"", ""});
  TVEZConstraintDefUnique* longer = CreateConstraintFromIndexDef(index, list);
  EXPECT_EQ(longer->Name.size(), 255u);
  EXPECT_EQ(longer->Name.substr(0, 6), "C_PK$x");
}

// Positional list operations against a std::vector oracle (fixed seed).
TEST(VEZMetaObjectDefs, RandomOperationsMatchAVectorModel) {
  std::mt19937 rng(20261210);
  TVEZIndexDefs list;
  std::vector<std::int32_t> model;  // object ids in list order
  std::int32_t next_id = 1;
  auto pick = [&](std::size_t n) { return static_cast<std::int32_t>(rng() % n); };
  for (int step = 0; step < 3000; ++step) {
    const int op = pick(6);
    if (op == 0 || model.empty()) {
      TVEZIndexDef* d = list.AddCreated();
      d->ObjectID = next_id;
      d->Name = "I" + std::to_string(next_id);
      model.push_back(next_id++);
    } else if (op == 1) {
      const std::int32_t at = pick(model.size() + 1);
      auto d = std::make_unique<TVEZIndexDef>();
      d->ObjectID = next_id;
      d->Name = "I" + std::to_string(next_id);
      list.Insert(at, std::move(d));
      model.insert(model.begin() + at, next_id++);
    } else if (op == 2) {
      const std::int32_t at = pick(model.size());
      list.Delete(at);
      model.erase(model.begin() + at);
    } else if (op == 3) {
      const std::int32_t from = pick(model.size()), to = pick(model.size());
      list.Move(from, to);
      const std::int32_t id = model[from];
      model.erase(model.begin() + from);
      model.insert(model.begin() + to, id);
    } else if (op == 4) {
      const std::int32_t at = pick(model.size());
      auto d = std::make_unique<TVEZIndexDef>();
      d->ObjectID = next_id;
      d->Name = "I" + std::to_string(next_id);
      list.SetIndexDef(at, std::move(d));
      model[at] = next_id++;
    } else {
      const std::int32_t id = model[pick(model.size())];
      ASSERT_EQ(model[list.GetDefNumberByObjectId(id)], id);
      ASSERT_EQ(list.GetIndexDefByName("i" + std::to_string(id))->ObjectID, id);
    }
    ASSERT_EQ(list.Count(), static_cast<std::int32_t>(model.size()));
  }
  for (std::int32_t i = 0; i < list.Count(); ++i)
    EXPECT_EQ(list.GetDef(i)->ObjectID, model[i]);
}

// Random schemas survive a save and load with every stored field intact.
TEST(VEZSchemaStreams, RandomSchemasRoundTrip) {
  std::mt19937 rng(7);
  const TVEZAdvancedFieldType types[] = {aftChar,     aftString,   aftWideString, aftSmallint,
                                         aftInteger,  aftLargeint, aftAutoInc,    aftDouble,
                                         aftBoolean,  aftDateTime, aftBlob,       aftMemo,
                                         aftWideMemo, aftBytes,    aftGuid};
  auto name = [&](std::size_t max_len) {
    std::string n(rng() % (max_len + 1), 'a');
    for (char& c : n)
      c = static_cast<char>(33 + rng() % 222);  // single-byte text
    return n;
  };
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    TVEZFieldDefs fields;
    TVEZIndexDefs indexes;
    TVEZConstraintDefs constraints;
    const int n = 1 + static_cast<int>(rng() % 12);
    for (int i = 0; i < n; ++i) {
      TVEZFieldDef* f = fields.AddCreated();
      f->Name = name(255);
      f->ObjectID = static_cast<std::int32_t>(rng());
      f->SetFieldDefDataType(types[rng() % std::size(types)],
                             static_cast<std::int32_t>(rng() % 300));
      f->BLOBBlockSize = 1 + static_cast<std::int32_t>(rng() % 100000);
      f->AutoincMinValue = static_cast<std::int64_t>(rng()) - 5000;
      f->AutoincCycled = (rng() & 1) != 0;
      if (rng() & 1) f->DefaultValue.SetAsInteger(static_cast<std::int32_t>(rng()));
      TVEZIndexDef* x = indexes.AddCreated();
      x->Name = name(255);
      x->ObjectID = static_cast<std::int32_t>(rng());
      x->Temporary = (rng() % 4) == 0;
      x->SetColumnCount(static_cast<std::int32_t>(rng() % 4));
      for (std::int32_t c = 0; c < x->ColumnCount(); ++c) {
        x->GetIndexColumn(c)->FieldName = name(255);
        x->GetIndexColumn(c)->Descending = (rng() & 1) != 0;
        x->GetIndexColumn(c)->MaxIndexedSize = static_cast<std::int32_t>(rng() % 1000);
      }
      switch (rng() % 3) {
        case 0: {
          TVEZConstraintDefNotNull* d = constraints.AddNotNull();
          d->TableName = name(254);
          d->ColumnName = name(254);
          d->ColumnObjectID = static_cast<std::int32_t>(rng());
          break;
        }
        case 1: {
          TVEZConstraintDefCheck* d = constraints.AddCheck();
          d->TableSchemaName = name(254);
          d->MinValue.SetAsInteger(static_cast<std::int32_t>(rng() % 100));
          break;
        }
        default: {
          TVEZConstraintDefUnique* d = rng() & 1 ? constraints.AddUnique() : constraints.AddPK();
          d->IndexName = name(255);
          for (int c = static_cast<int>(rng() % 4); c > 0; --c) {
            d->Columns.push_back({name(255), static_cast<std::int32_t>(rng())});
          }
          break;
        }
      }
    }
    TVEZMemoryStream stream;
    fields.SaveToStream(stream);
    indexes.SaveToStream(stream);
    constraints.SaveToStream(stream);
    const test::Bytes saved = test::StreamBytes(stream);

    stream.SetPosition(0);
    TVEZFieldDefs fields2;
    TVEZIndexDefs indexes2;
    TVEZConstraintDefs constraints2;
    fields2.LoadFromStream(stream);
    indexes2.LoadFromStream(stream);
    constraints2.LoadFromStream(stream);
    EXPECT_EQ(stream.Position(), stream.Size());

    ASSERT_EQ(fields2.Count(), fields.Count());
    for (std::int32_t i = 0; i < fields.Count(); ++i) {
      const TVEZFieldDef& a = *fields.GetDef(i);
      const TVEZFieldDef& b = *fields2.GetDef(i);
      EXPECT_EQ(a.Name, b.Name);
      EXPECT_EQ(a.ObjectID, b.ObjectID);
      EXPECT_EQ(a.BaseFieldType, b.BaseFieldType);
      EXPECT_EQ(a.MemoryDataSize, b.MemoryDataSize);
      EXPECT_EQ(a.DiskDataSize, b.DiskDataSize);
      EXPECT_EQ(a.AutoincMinValue, b.AutoincMinValue);
      EXPECT_EQ(a.DefaultValue.GetIsNull(), b.DefaultValue.GetIsNull());
      if (IsBlobBaseFieldType(a.BaseFieldType)) {
        EXPECT_EQ(a.BLOBBlockSize, b.BLOBBlockSize);
      }
    }
    std::int32_t permanent = 0;
    for (std::int32_t i = 0; i < indexes.Count(); ++i) {
      const TVEZIndexDef& a = *indexes.GetIndexDef(i);
      if (a.Temporary) continue;
      const TVEZIndexDef& b = *indexes2.GetIndexDef(permanent++);
      EXPECT_EQ(a.Name, b.Name);
      ASSERT_EQ(a.ColumnCount(), b.ColumnCount());
      for (std::int32_t c = 0; c < a.ColumnCount(); ++c) {
        EXPECT_EQ(a.GetIndexColumn(c)->FieldName, b.GetIndexColumn(c)->FieldName);
        EXPECT_EQ(a.GetIndexColumn(c)->MaxIndexedSize, b.GetIndexColumn(c)->MaxIndexedSize);
      }
    }
    EXPECT_EQ(indexes2.Count(), permanent);
    ASSERT_EQ(constraints2.Count(), constraints.Count());

    TVEZMemoryStream again;
    fields2.SaveToStream(again);
    indexes2.SaveToStream(again);
    constraints2.SaveToStream(again);
    EXPECT_EQ(test::StreamBytes(again), saved);
  }
}

}  // namespace
}  // namespace vez

// Table and database data over the vector-backed test engine: building a
// table, sharing it between cursors, refusals, renames, record and index
// walks against a model, record keys that read stored records, record
// numbers, temporary indexes and the change counters.
#include "dbengine/storage/VEZTableData.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <random>

#include "dbengine/storage/VEZChangeCounter.h"
#include "dbengine/storage/VEZDatabaseDataList.h"
#include "dbengine/storage/VEZDesignMode.h"
#include "dbengine/storage/VEZRecordFieldData.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/TableTestSupport.h"

namespace vez::test {
namespace {

class TableDataTest : public ::testing::Test {
 protected:
  // ID Integer, NAME String(30), VAL Integer; index BY_VAL on VAL.
  TTestTableData& MakeTable(TTableCursor& cursor, const std::string& name = "Samples") {
    cursor.TableName = name;
    cursor.Session = &session_;
    auto* table = static_cast<TTestTableData*>(db_.FindOrCreateTableData(cursor));
    TVEZFieldDefs fields;
    AddField(fields, "ID", aftInteger);
    AddField(fields, "NAME", aftString, 30);
    AddField(fields, "VAL", aftInteger);
    TVEZIndexDefs indexes;
    AddIndexDef(indexes, "BY_VAL", {"VAL"});
    TVEZConstraintDefs constraints;
    table->CreateTable(&cursor, fields, indexes, constraints);
    table->OpenTable(cursor);
    cursor.Attach(*table);
    return *table;
  }
  void Insert(TVEZTableData& table, TTableCursor& cursor, std::int32_t id, std::int32_t val,
              const std::string& name = "x") {
    cursor.NewRecord();
    cursor.SetInt(0, id);
    cursor.SetText(1, name);
    cursor.SetInt(2, val);
    ASSERT_TRUE(table.InsertRecord(cursor));
  }
  // Every ID met walking the cursor's order from one end.
  std::vector<std::int32_t> Walk(TVEZTableData& table, TTableCursor& cursor, bool forward) {
    cursor.FirstPosition = forward;
    cursor.LastPosition = !forward;
    std::vector<std::int32_t> ids;
    while (table.GetRecordBuffer(cursor, forward ? grmNext : grmPrior) == grrOK)
      ids.push_back(cursor.GetInt(0));
    return ids;
  }

  TestSession session_;
  TTestDatabaseData db_;
  // The tests stand in for the cursor, which holds the database lock around
  // its record reads.
  TVEZLockGuard<TTestDatabaseData> lock_{db_};
};

TEST_F(TableDataTest, BuildsTheTableInOrderWithDatabaseWideIds) {
  TTableCursor cursor;
  TTestTableData& table = MakeTable(cursor);
  EXPECT_EQ(table.TableName(), "Samples");
  // Fields 1-3, index 4: ids come from the database in building order.
  EXPECT_EQ(table.FieldManager()->FieldDefs().GetDef(0)->ObjectID, 1);
  EXPECT_EQ(table.FieldManager()->FieldDefs().GetDef(2)->ObjectID, 3);
  EXPECT_EQ(table.IndexManager()->IndexDefs().GetDef(0)->ObjectID, 4);
  EXPECT_EQ(table.RecordManager()->RecordBufferSize, 1 + 4 + 31 + 4);
  EXPECT_EQ(cursor.FieldValuesOffset, 1);
  EXPECT_EQ(cursor.RecordSize, 40);
  EXPECT_EQ(table.IndexManager()->IndexDefs().GetDef(0)->RootPageNo, 104);  // built
  TTableCursor second;
  TTestTableData& other = MakeTable(second, "Other");
  EXPECT_EQ(other.FieldManager()->FieldDefs().GetDef(0)->ObjectID, 5);
}

TEST_F(TableDataTest, CursorsShareOneTableData) {
  TTableCursor a, b;
  TTestTableData& table = MakeTable(a, "MixedCase");
  b.TableName = "MIXEDCASE";
  EXPECT_EQ(db_.FindTableData(b), &table);
  EXPECT_EQ(db_.FindOrCreateTableData(b), &table);
  table.OpenTable(b);
  EXPECT_EQ(table.CursorList(), (std::vector<TVEZCursor*>{&a, &b}));
  b.Attach(table);
  Insert(table, a, 1, 10);
  table.CloseTable(a);
  EXPECT_EQ(table.CursorList(), (std::vector<TVEZCursor*>{&b}));
  EXPECT_EQ(Walk(table, b, true), (std::vector<std::int32_t>{1}));
  EXPECT_TRUE(db_.TableExists("mixedcase"));
  EXPECT_FALSE(db_.TableExists("other"));
  std::vector<std::string> names;
  db_.GetTablesList(names);
  EXPECT_EQ(names, (std::vector<std::string>{"MixedCase"}));
}

TEST_F(TableDataTest, DeleteAndRenameAreRefusedWhileOpen) {
  TTableCursor cursor;
  TTestTableData& table = MakeTable(cursor);
  EXPECT_EQ(NativeErrorOf([&] { table.DeleteTable(nullptr, false); }), 20017);
  EXPECT_EQ(NativeErrorOf([&] { table.DeleteTable(nullptr, true); }), 0);
  EXPECT_EQ(NativeErrorOf([&] { table.RenameTable("New", nullptr); }), 10150);
  EXPECT_EQ(table.TableName(), "Samples");
  table.CloseTable(cursor);
  EXPECT_EQ(NativeErrorOf([&] { table.DeleteTable(nullptr, false); }), 0);
  table.RenameTable("New", nullptr);
  EXPECT_EQ(table.TableName(), "New");
}

TEST_F(TableDataTest, RenameField) {
  TTableCursor cursor;
  TTestTableData& table = MakeTable(cursor);
  EXPECT_EQ(NativeErrorOf([&] { table.RenameField("NOPE", "X"); }), 30343);
  EXPECT_EQ(NativeErrorOf([&] { table.RenameField("VAL", "name"); }), 30344);
  EXPECT_EQ(table.FieldManager()->FieldDefs().GetDef(2)->Name, "VAL");
  table.RenameField("val", "AMOUNT");
  EXPECT_EQ(table.FieldManager()->FieldDefs().GetDef(2)->Name, "AMOUNT");
  EXPECT_EQ(table.IndexManager()->IndexDefs().GetDef(0)->GetIndexColumn(0)->FieldName, "AMOUNT");
  table.RenameField("AMOUNT", std::string(300, 'A'));
  EXPECT_EQ(table.FieldManager()->FieldDefs().GetDef(2)->Name.size(), 255u);
  // A name that would be cut into another field's name is taken too.
  EXPECT_EQ(NativeErrorOf([&] { table.RenameField("ID", std::string(280, 'a')); }), 30344);
  EXPECT_EQ(table.FieldManager()->FieldDefs().GetDef(0)->Name, "ID");
}

TEST_F(TableDataTest, NoFieldsNoRecordSize) {
  static_assert(!DesignMode());
  TTableCursor cursor;
  cursor.TableName = "Empty";
  TVEZTableData* table = db_.FindOrCreateTableData(cursor);
  EXPECT_EQ(NativeErrorOf([&] { table->GetRecordBufferSize(); }), 10131);
  TVEZFieldDefs none;
  table->CreateFieldManager(none);
  EXPECT_EQ(NativeErrorOf([&] { table->InitCursorRecordLayout(cursor); }), 10131);
}

// The model: records by slot, each (ID, VAL) or gone.
struct ModelRecord {
  std::int32_t id, val;
};

TEST_F(TableDataTest, RandomChangesWalkLikeTheModel) {
  TTableCursor cursor;
  TTestTableData& table = MakeTable(cursor);
  std::mt19937 rng(12345);
  std::map<std::int32_t, ModelRecord> model;  // slot -> record
  std::int32_t next_id = 1;
  for (int step = 0; step < 400; ++step) {
    const int op = static_cast<int>(rng() % 10);
    if (op < 5 || model.empty()) {
      const std::int32_t val = static_cast<std::int32_t>(rng() % 20);  // many duplicates
      Insert(table, cursor, next_id, val);
      model[cursor.CurrentRecordID.PageNo] = {next_id++, val};
    } else {
      auto it = model.begin();
      std::advance(it, rng() % model.size());
      cursor.CurrentRecordID = {it->first, 0};
      ASSERT_EQ(table.GetRecordBuffer(cursor, grmCurrent), grrOK);
      if (op < 8) {
        const std::int32_t val = static_cast<std::int32_t>(rng() % 20);
        cursor.SetInt(2, val);
        ASSERT_TRUE(table.UpdateRecord(cursor));
        it->second.val = val;
      } else {
        ASSERT_TRUE(table.DeleteRecord(cursor));
        model.erase(it);
      }
    }
    if (step % 37 != 0) continue;
    SCOPED_TRACE(step);
    std::vector<std::int32_t> by_slot, by_val;
    std::multimap<std::int32_t, std::int32_t> ordered;  // val -> id, ids rise with insertion
    for (const auto& [slot, r] : model) {
      by_slot.push_back(r.id);
      ordered.emplace(r.val, r.id);
    }
    cursor.IndexID = -1;
    EXPECT_EQ(Walk(table, cursor, true), by_slot);
    std::vector<std::int32_t> back(by_slot.rbegin(), by_slot.rend());
    EXPECT_EQ(Walk(table, cursor, false), back);
    cursor.IndexID = table.IndexManager()->IndexDefs().GetDef(0)->ObjectID;
    std::vector<std::int32_t> walked = Walk(table, cursor, true);
    // Equal keys keep no fixed order in the model: compare the values met.
    std::vector<std::int32_t> vals_walked, vals_model;
    for (std::int32_t id : walked) {
      for (const auto& [slot, r] : model)
        if (r.id == id) vals_walked.push_back(r.val);
    }
    for (const auto& [val, id] : ordered)
      vals_model.push_back(val);
    EXPECT_EQ(vals_walked, vals_model);
    EXPECT_EQ(walked.size(), by_slot.size());
    EXPECT_EQ(table.GetRecordCount(cursor), static_cast<std::int64_t>(model.size()));
  }
}

TEST_F(TableDataTest, EndsAndEmptyTable) {
  TTableCursor cursor;
  TTestTableData& table = MakeTable(cursor);
  cursor.FirstPosition = true;
  EXPECT_EQ(table.GetRecordBuffer(cursor, grmNext), grrEOF);
  Insert(table, cursor, 1, 5);
  Insert(table, cursor, 2, 6);
  cursor.FirstPosition = true;
  cursor.LastPosition = false;
  EXPECT_EQ(table.GetRecordBuffer(cursor, grmPrior), grrBOF);
  EXPECT_TRUE(cursor.FirstPosition);
  EXPECT_EQ(table.GetRecordBuffer(cursor, grmNext), grrOK);
  EXPECT_EQ(table.GetRecordBuffer(cursor, grmNext), grrOK);
  EXPECT_EQ(table.GetRecordBuffer(cursor, grmNext), grrEOF);
  EXPECT_TRUE(cursor.LastPosition);
  EXPECT_EQ(table.GetRecordBuffer(cursor, grmPrior), grrOK);
  EXPECT_EQ(cursor.GetInt(0), 2);
  EXPECT_EQ(NativeErrorOf([&] { table.Locate(cursor, nullptr); }), 10272);
}

TEST_F(TableDataTest, RecordNumbersInStorageAndIndexOrder) {
  TTableCursor cursor;
  TTestTableData& table = MakeTable(cursor);
  const std::int32_t vals[] = {30, 10, 20, 10, 40};
  for (std::int32_t i = 0; i < 5; ++i)
    Insert(table, cursor, i + 1, vals[i]);
  cursor.CurrentRecordID = {1, 0};
  table.DeleteRecord(cursor);  // ID 2 goes
  struct Case {
    std::int32_t index_id;
    std::vector<std::int32_t> ids;  // in the cursor's order
  };
  const std::int32_t by_val = table.IndexManager()->IndexDefs().GetDef(0)->ObjectID;
  for (const Case& c : {Case{-1, {1, 3, 4, 5}}, Case{by_val, {4, 3, 1, 5}}}) {
    SCOPED_TRACE(c.index_id);
    cursor.IndexID = c.index_id;
    EXPECT_EQ(table.GetRecordCount(cursor), 4);
    for (std::int64_t n = 1; n <= 5; ++n) {
      table.SetRecNo(cursor, n);
      ASSERT_EQ(table.GetRecordBuffer(cursor, grmCurrent), grrOK);
      const std::int64_t expected = std::min<std::int64_t>(n, 4);  // above the count: the last
      EXPECT_EQ(cursor.GetInt(0), c.ids[static_cast<std::size_t>(expected - 1)]);
      EXPECT_EQ(table.GetRecNo(cursor), expected);
    }
    cursor.FirstPosition = true;
    EXPECT_EQ(table.GetRecNo(cursor), -1);
    cursor.FirstPosition = false;
  }
}

TEST_F(TableDataTest, TruncatedKeysAreDecidedOnTheStoredRecords) {
  TTableCursor cursor;
  TTestTableData& table = MakeTable(cursor);
  const std::string long_a = "abcdefghij-same-prefix-then-A";
  const std::string long_b = "abcdefghij-same-prefix-then-B";
  Insert(table, cursor, 1, 0, long_b);
  const TVEZPageItemID id_b = cursor.CurrentRecordID;
  Insert(table, cursor, 2, 0, long_a);
  const TVEZPageItemID id_a = cursor.CurrentRecordID;

  TVEZRecordKeyRef key_ref;
  key_ref.Assign({{"NAME", false, false, 10}}, &table);
  ASSERT_TRUE(key_ref.HasTruncatedParts());
  Bytes record(static_cast<std::size_t>(table.GetMemoryRecordBufferSize()));
  Bytes key_a(static_cast<std::size_t>(key_ref.ShortKeySize()));
  Bytes key_b = key_a;
  ASSERT_EQ(table.ReadRecord(0, id_a, record.data()), grrOK);
  key_ref.MakeShortKeyFromRecordBuffer(record.data(), key_a.data());
  ASSERT_EQ(table.ReadRecord(0, id_b, record.data()), grrOK);
  key_ref.MakeShortKeyFromRecordBuffer(record.data(), key_b.data());
  Bytes ref_a(6), ref_b(6);
  id_a.Encode(ref_a.data());
  id_b.Encode(ref_b.data());
  // Equal in their stored prefix; the records tell them apart.
  EXPECT_EQ(key_ref.CompareShortKeys(key_a.data(), key_b.data(), false, 0, nullptr, nullptr), 0);
  EXPECT_EQ(
      key_ref.CompareShortKeys(key_a.data(), key_b.data(), true, 0, ref_a.data(), ref_b.data()),
      -1);
  EXPECT_EQ(
      key_ref.CompareShortKeys(key_b.data(), key_a.data(), true, 0, ref_b.data(), ref_a.data()), 1);
  // A record that is gone cannot decide: the key layer's error.
  cursor.CurrentRecordID = id_a;
  table.DeleteRecord(cursor);
  EXPECT_EQ(NativeErrorOf([&] {
              key_ref.CompareShortKeys(key_a.data(), key_b.data(), true, 0, ref_a.data(),
                                       ref_b.data());
            }),
            20170);
  TVEZKeyRecordSource::TFieldLayout layout;
  EXPECT_TRUE(table.FindField("val", layout));
  EXPECT_EQ(layout.FieldNo, 2);
  EXPECT_EQ(layout.MemoryOffset, 36);
  EXPECT_FALSE(table.FindField("NOPE", layout));
}

TEST_F(TableDataTest, ChangesCountInTheTableAndEveryIndexDef) {
  TTableCursor cursor;
  TTestTableData& table = MakeTable(cursor);
  TVEZIndexDef& def = *table.IndexManager()->IndexDefs().GetDef(0);
  const std::int32_t index_state = def.TableState;
  const std::int32_t table_state = table.RecordManager()->TableState;
  Insert(table, cursor, 1, 5);
  table.DeleteRecord(cursor);
  EXPECT_EQ(def.TableState, index_state + 2);
  EXPECT_EQ(table.RecordManager()->TableState, table_state + 2);
  // Two billion changes later both wrap instead of raising.
  table.RecordManager()->TableState = std::numeric_limits<std::int32_t>::max();
  def.TableState = std::numeric_limits<std::int32_t>::max();
  Insert(table, cursor, 2, 5);
  EXPECT_EQ(table.RecordManager()->TableState, 0);
  EXPECT_EQ(def.TableState, 0);
}

TEST(ChangeCounter, WrapsToZeroAfterTheLargestInt32) {
  struct Case {
    std::int32_t from, next;
  };
  const Case cases[] = {{0, 1}, {-5, -4}, {0x7FFFFFFE, 0x7FFFFFFF}, {0x7FFFFFFF, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from);
    EXPECT_EQ(NextChangeCounter(c.from), c.next);
  }
}

TEST_F(TableDataTest, EmptyTableRestartsCountersAndEmptiesIndexes) {
  TTableCursor cursor;
  cursor.TableName = "Auto";
  auto* table = static_cast<TTestTableData*>(db_.FindOrCreateTableData(cursor));
  TVEZFieldDefs fields;
  AddField(fields, "ID", aftAutoInc)->AutoincInitialValue = 10;
  TVEZIndexDefs indexes;
  AddIndexDef(indexes, "BY_ID", {"ID"});
  TVEZConstraintDefs constraints;
  table->CreateTable(&cursor, fields, indexes, constraints);
  cursor.Attach(*table);
  cursor.NewRecord();
  table->FieldManager()->ApplyAutoincsToRecordBuffer(&session_, cursor.CurrentRecordBuffer);
  table->InsertRecord(cursor);
  EXPECT_EQ(table->FieldManager()->LastAutoIncValues()[0], 11);
  const std::int32_t id = table->IndexManager()->IndexDefs().GetDef(0)->ObjectID;
  EXPECT_EQ(table->index_store.entries[id].size(), 1u);
  table->EmptyTable(nullptr);
  EXPECT_EQ(table->FieldManager()->LastAutoIncValues()[0], 10);
  EXPECT_TRUE(table->index_store.entries[id].empty());
}

TEST_F(TableDataTest, BlobFieldsAreClearedInFieldOrder) {
  TTableCursor cursor;
  cursor.TableName = "Blobs";
  auto* table = static_cast<TTestTableData*>(db_.FindOrCreateTableData(cursor));
  TVEZFieldDefs fields;
  AddField(fields, "A", aftMemo);
  AddField(fields, "B", aftInteger);
  AddField(fields, "C", aftBlob);
  AddField(fields, "D", aftWideMemo);
  TVEZIndexDefs indexes;
  TVEZConstraintDefs constraints;
  table->CreateTable(&cursor, fields, indexes, constraints);
  Bytes record(static_cast<std::size_t>(table->GetRecordBufferSize()));
  table->ClearBLOBFieldsInRecordBuffer(record.data());
  EXPECT_EQ(table->cleared_blob_fields, (std::vector<std::int32_t>{0, 2, 3}));
  table->FieldManager()->FieldDefs().GetDef(3)->BLOBBlockSize = 0;
  EXPECT_EQ(NativeErrorOf([&] { table->ClearBLOBFieldsInRecordBuffer(record.data()); }), 10421);
}

TEST_F(TableDataTest, TemporaryIndexesFoundCreatedAndRebuilt) {
  TTableCursor cursor;
  TTestTableData& table = MakeTable(cursor);
  Insert(table, cursor, 1, 5, "b");
  Insert(table, cursor, 2, 6, "a");
  bool created = false;
  EXPECT_EQ(table.FindOrCreateIndex(cursor, {"VAL"}, {""}, {""}, created), "BY_VAL");
  EXPECT_FALSE(created);
  const std::string name = table.FindOrCreateIndex(cursor, {"NAME"}, {""}, {""}, created);
  EXPECT_TRUE(created);
  EXPECT_EQ(name.rfind("TEMPORARY_INDEX_{", 0), 0u);
  EXPECT_EQ(table.FindOrCreateIndex(cursor, {"NAME"}, {""}, {""}, created), name);
  EXPECT_FALSE(created);
  EXPECT_TRUE(table.IndexExists(cursor, {"NAME"}, {""}, {""}));
  // Another session does not see it.
  TestSession other;
  other.SessionID = 5;
  TTableCursor stranger;
  stranger.Session = &other;
  stranger.Attach(table);
  EXPECT_FALSE(table.IndexExists(stranger, {"NAME"}, {""}, {""}));
  // It was built over the stored records, in name order.
  TVEZIndexDef* def = table.IndexManager()->IndexDefs().GetIndexDefByName(name);
  ASSERT_NE(def, nullptr);
  EXPECT_TRUE(def->Temporary);
  cursor.IndexID = def->ObjectID;
  EXPECT_EQ(Walk(table, cursor, true), (std::vector<std::int32_t>{2, 1}));
  // Rolled back: unchanged tables rebuild nothing, changed ones rebuild.
  db_.Rollback(session_.SessionID);
  EXPECT_EQ(table.index_store.rebuilds, 0);
  table.RecordManager()->IncTableState();
  db_.Rollback(session_.SessionID);
  EXPECT_EQ(table.index_store.rebuilds, 1);
  EXPECT_EQ(def->TableState, table.RecordManager()->TableState);
  // Dropping every index leaves none.
  const std::int32_t by_val = table.IndexManager()->IndexDefs().GetDef(0)->ObjectID;
  table.DeleteAllIndexes(&cursor);
  EXPECT_EQ(table.IndexManager()->IndexDefs().GetCount(), 0);
  EXPECT_EQ(NativeErrorOf([&] { table.IndexManager()->OpenIndex(by_val); }), 20018);
}

TEST_F(TableDataTest, FailedIndexBuildLeavesNoDef) {
  TTableCursor cursor;
  TTestTableData& table = MakeTable(cursor);
  const std::int32_t count = table.IndexManager()->IndexDefs().GetCount();
  TVEZIndexDef bad;
  bad.Name = "BAD";
  bad.AssignByNames({"NO_SUCH_FIELD"}, {""}, {""});
  EXPECT_EQ(NativeErrorOf([&] { table.AddIndex(bad, &cursor); }), 20043);
  EXPECT_EQ(table.IndexManager()->IndexDefs().GetCount(), count);
}

// ---------------------------------------------------------------------------
// Database data

TEST(DatabaseData, SessionsAndLifetime) {
  auto* db = new TTestDatabaseData();
  DatabaseDataList().Add(db);
  TestSession a, b;
  a.SessionID = 9;
  db->ConnectSession(a);
  db->ConnectSession(b);
  EXPECT_EQ(a.SessionID, 0);
  EXPECT_EQ(db->SessionList().size(), 2u);
  TTableCursor cursor;
  cursor.TableName = "T1";
  db->FindOrCreateTableData(cursor);
  cursor.TableName = "T2";
  db->FindOrCreateTableData(cursor);
  db->DisconnectSession(a);
  EXPECT_FALSE(db->FreeIfNoSessionsConnected());
  db->DisconnectSession(b);
  // Frees its tables and leaves the process's list.
  EXPECT_TRUE(db->FreeIfNoSessionsConnected());
  EXPECT_EQ(DatabaseDataList().Find([&](TVEZDatabaseData* d) { return d == db; }), nullptr);
}

TEST(DatabaseData, WithoutPageManagerCommitAndRollbackTouchNoPages) {
  TTestDatabaseData db;
  TTableCursor cursor;
  cursor.TableName = "T";
  TVEZTableData* table = db.FindOrCreateTableData(cursor);
  EXPECT_EQ(db.PageManager(), nullptr);
  EXPECT_NO_THROW(db.Commit(0, true));
  EXPECT_NO_THROW(db.Rollback(0));  // the table without managers synchronises nothing
  db.FreeTableData(table);
  EXPECT_TRUE(db.TableDataList().empty());
}

}  // namespace
}  // namespace vez::test

namespace vez::test {
namespace {

// The dataset layer's field access checks the field number before it reads
// the record's null bitmap (a bad number would read past it).
TEST(RecordFieldData, FieldNumbersAreCheckedBeforeTheBitmap) {
  TVEZFieldDefs defs;
  AddField(defs, "A", aftInteger);
  AddField(defs, "B", aftShortint);
  defs.RecalcFieldOffsets();
  Bytes record(1 + 4 + 1, 0);
  std::int16_t out = 0;
  for (std::int32_t bad : {-1, -9, 2, 8, 1 << 30}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(NativeErrorOf([&] { GetRecordFieldData(bad, defs, &out, record.data()); }), 10000);
    EXPECT_EQ(NativeErrorOf([&] { GetRecordFieldData(bad, defs, nullptr, record.data()); }), 10000);
    EXPECT_EQ(NativeErrorOf([&] { SetRecordFieldData(bad, defs, &out, record.data()); }), 10004);
  }
  EXPECT_EQ(record, Bytes(6, 0));
  record[5] = 0xFB;
  EXPECT_TRUE(GetRecordFieldData(1, defs, &out, record.data()));
  EXPECT_EQ(out, -5);
}

}  // namespace
}  // namespace vez::test

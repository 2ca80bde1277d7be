// Constraint manager through a test table: the checks with their error
// numbers, linking by name, automatic names and constraints implied by
// indexes.
#include "dbengine/storage/VEZConstraintManager.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>

#include "platform/core/Random.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/TableTestSupport.h"

namespace vez::test {
namespace {

class ConstraintTest : public ::testing::Test {
 protected:
  // ID Integer (primary key through PK_ID), NAME String(10) NOT NULL,
  // AGE Integer CHECK 0..120, CODE Integer (unique through U_CODE), K2 Integer.
  void SetUp() override {
    cursor_.TableName = "People";
    cursor_.Session = &session_;
    table_ = static_cast<TTestTableData*>(db_.FindOrCreateTableData(cursor_));
    TVEZFieldDefs fields;
    AddField(fields, "ID", aftInteger);
    AddField(fields, "NAME", aftString, 10);
    AddField(fields, "AGE", aftInteger);
    AddField(fields, "CODE", aftInteger);
    AddField(fields, "K2", aftInteger);
    TVEZIndexDefs indexes;
    AddIndexDef(indexes, "PK_ID", {"ID", "K2"}, false, true);
    AddIndexDef(indexes, "U_CODE", {"CODE"}, true);
    TVEZConstraintDefs constraints;
    TVEZConstraintDefPrimary* pk = constraints.AddPK();
    pk->Name = "PK";
    pk->IndexName = "pk_id";  // names link without regard to case
    pk->Columns = {{"ID", 0}, {"K2", 0}};
    TVEZConstraintDefUnique* unique = constraints.AddUnique();
    unique->Name = "UQ";
    unique->IndexName = "U_CODE";
    unique->Columns = {{"code", 0}};
    constraints.AddNotNull()->ColumnName = "NAME";
    TVEZConstraintDefCheck* check = constraints.AddCheck();
    check->ColumnName = "AGE";
    check->MinValue.SetAsInteger(0);
    check->MaxValue.SetAsInteger(120);
    table_->CreateTable(&cursor_, fields, indexes, constraints);
    cursor_.Attach(*table_);
  }

  struct Row {
    std::optional<std::int32_t> id, age, code, k2;
    std::optional<std::string> name;
  };
  void Fill(const Row& r) {
    cursor_.NewRecord();
    if (r.id) cursor_.SetInt(0, *r.id);
    if (r.name) cursor_.SetText(1, *r.name);
    if (r.age) cursor_.SetInt(2, *r.age);
    if (r.code) cursor_.SetInt(3, *r.code);
    if (r.k2) cursor_.SetInt(4, *r.k2);
  }
  void Insert(const Row& r) {
    Fill(r);
    ASSERT_TRUE(table_->InsertRecord(cursor_));
  }
  std::int32_t Check(bool to_insert, const std::uint8_t* old_record = nullptr) {
    return NativeErrorOf([&] {
      table_->ConstraintManager()->CheckConstraints(session_.SessionID, cursor_.CurrentRecordBuffer,
                                                    old_record, to_insert, cursor_.CurrentRecordID,
                                                    true, true);
    });
  }

  TestSession session_;
  TTestDatabaseData db_;
  TTableCursor cursor_;
  TTestTableData* table_ = nullptr;
};

TEST_F(ConstraintTest, LinksIdsAndNamesUnnamedConstraints) {
  const TVEZConstraintDefs& defs = table_->ConstraintManager()->ConstraintDefs();
  const TVEZFieldDefs& fields = table_->FieldManager()->FieldDefs();
  const auto* pk = static_cast<const TVEZConstraintDefUnique*>(defs.GetDef(0));
  EXPECT_EQ(pk->IndexObjectID, table_->IndexManager()->IndexDefs().GetDef(0)->ObjectID);
  EXPECT_EQ(pk->Columns[1].ColumnObjectID, fields.GetDef(4)->ObjectID);
  EXPECT_EQ(pk->TableName, "People");
  EXPECT_EQ(defs.GetDef(2)->Name, "$C_NotNull$People$NAME");
  EXPECT_EQ(defs.GetDef(3)->Name, "$C_Check$People$AGE");
  EXPECT_EQ(static_cast<const TVEZColumnConstraintDef*>(defs.GetDef(3))->ColumnObjectID,
            fields.GetDef(2)->ObjectID);
  // Every def of the database has its own id.
  std::set<std::int32_t> ids;
  for (std::int32_t i = 0; i < fields.GetCount(); ++i)
    ids.insert(fields.GetDef(i)->ObjectID);
  for (std::int32_t i = 0; i < table_->IndexManager()->IndexDefs().GetCount(); ++i)
    ids.insert(table_->IndexManager()->IndexDefs().GetDef(i)->ObjectID);
  for (std::int32_t i = 0; i < defs.GetCount(); ++i)
    ids.insert(defs.GetDef(i)->ObjectID);
  EXPECT_EQ(ids.size(), 11u);
}

TEST_F(ConstraintTest, ChecksWithTheirErrors) {
  Insert({1, 30, 100, 1, "Ann"});
  Insert({2, 40, 200, 1, "Bob"});
  struct Case {
    const char* name;
    Row row;
    std::int32_t error;
  };
  const Case cases[] = {
      {"valid", {3, 50, 300, 1, "Cy"}, 0},
      {"name NULL", {3, 50, 300, 1, std::nullopt}, 30026},
      {"age below", {3, -1, 300, 1, "Cy"}, 30029},
      {"age above", {3, 121, 300, 1, "Cy"}, 30030},
      {"age at bounds", {3, 120, 300, 1, "Cy"}, 0},
      {"age NULL passes CHECK", {3, std::nullopt, 300, 1, "Cy"}, 0},
      {"duplicate key", {1, 50, 300, 1, "Cy"}, 30319},
      {"same ID, other K2", {1, 50, 300, 2, "Cy"}, 0},
      {"one key column NULL", {std::nullopt, 50, 300, 1, "Cy"}, 0},
      {"every key column NULL", {std::nullopt, 50, 300, std::nullopt, "Cy"}, 30330},
      {"duplicate unique", {3, 50, 200, 1, "Cy"}, 30320},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fill(c.row);
    EXPECT_EQ(Check(true), c.error);
    // Without raising the answer is false, and the record is untouched.
    Bytes before(cursor_.CurrentRecordBuffer, cursor_.CurrentRecordBuffer + cursor_.RecordSize);
    EXPECT_EQ(table_->ConstraintManager()->CheckConstraints(0, cursor_.CurrentRecordBuffer, nullptr,
                                                            true, {}, false, true),
              c.error == 0);
    EXPECT_EQ(Bytes(cursor_.CurrentRecordBuffer, cursor_.CurrentRecordBuffer + cursor_.RecordSize),
              before);
  }
  // Keys are left alone without check_unique_indexes.
  Fill({1, 50, 200, 1, "Cy"});
  EXPECT_TRUE(table_->ConstraintManager()->CheckConstraints(0, cursor_.CurrentRecordBuffer, nullptr,
                                                            true, {}, true, false));
}

TEST_F(ConstraintTest, MessagesNameTheConstraintAndColumns) {
  Fill({std::nullopt, 50, 300, std::nullopt, "Cy"});
  try {
    table_->ConstraintManager()->CheckConstraints(0, cursor_.CurrentRecordBuffer, nullptr, true, {},
                                                  true, true);
    FAIL();
  } catch (const EVEZException& e) {
    EXPECT_NE(std::string(e.what()).find("Constraint 'PK' violated. Value in field 'ID,K2'"),
              std::string::npos);
  }
}

TEST_F(ConstraintTest, UpdateKeepingItsOwnKeyPasses) {
  Insert({1, 30, 100, 1, "Ann"});
  Insert({2, 40, 200, 1, "Bob"});
  Bytes old_record(cursor_.CurrentRecordBuffer, cursor_.CurrentRecordBuffer + cursor_.RecordSize);
  Fill({2, 41, 200, 1, "Bob"});
  EXPECT_EQ(Check(false, old_record.data()), 0);
  Fill({1, 41, 200, 1, "Bob"});
  EXPECT_EQ(Check(false, old_record.data()), 30319);
}

TEST_F(ConstraintTest, EmptyTableViolatesNoKey) {
  Fill({1, 30, 100, 1, "Ann"});
  EXPECT_FALSE(
      table_->IsUniqueConstraintFailed(0, 999999, cursor_.CurrentRecordBuffer, nullptr, true, {}));
}

TEST_F(ConstraintTest, UnknownColumnIdsAndTypes) {
  struct Case {
    std::int32_t def_no;
    std::int32_t error;
  };
  for (const Case c : {Case{0, 30329}, Case{2, 30024}, Case{3, 30028}}) {
    SCOPED_TRACE(c.def_no);
    SetUp();
    TVEZConstraintDef* def = table_->ConstraintManager()->ConstraintDefs().GetDef(c.def_no);
    if (auto* key = dynamic_cast<TVEZConstraintDefUnique*>(def))
      key->Columns[0].ColumnObjectID = -77;
    else
      static_cast<TVEZColumnConstraintDef*>(def)->ColumnObjectID = -77;
    Fill({3, 50, 300, 1, "Cy"});
    EXPECT_EQ(Check(true), c.error);
  }
}

TEST_F(ConstraintTest, LinkingUnknownNames) {
  struct Case {
    const char* name;
    std::function<void(TVEZConstraintDefs&)> add;
    std::int32_t error;
  };
  const Case cases[] = {
      {"pk index", [](TVEZConstraintDefs& d) { d.AddPK()->IndexName = "NOPE"; }, 30325},
      {"pk field",
       [](TVEZConstraintDefs& d) {
         auto* pk = d.AddPK();
         pk->IndexName = "PK_ID";
         pk->Columns = {{"NOPE", 0}};
       },
       30331},
      {"unique index", [](TVEZConstraintDefs& d) { d.AddUnique()->IndexName = "NOPE"; }, 30326},
      {"unique field",
       [](TVEZConstraintDefs& d) {
         auto* u = d.AddUnique();
         u->IndexName = "U_CODE";
         u->Columns = {{"NOPE", 0}};
       },
       30332},
      {"not null", [](TVEZConstraintDefs& d) { d.AddNotNull()->ColumnName = "NOPE"; }, 30027},
      {"check", [](TVEZConstraintDefs& d) { d.AddCheck()->ColumnName = "NOPE"; }, 30027},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TVEZConstraintDefs defs;
    c.add(defs);
    TVEZBaseConstraintManager* before = table_->ConstraintManager();
    EXPECT_EQ(NativeErrorOf([&] { table_->CreateConstraintManager(defs); }), c.error);
    // The table keeps its constraints, and they still hold.
    EXPECT_EQ(table_->ConstraintManager(), before);
    EXPECT_EQ(table_->ConstraintManager()->ConstraintDefs().GetCount(), 4);
    Fill({3, 50, 300, 1, std::nullopt});
    EXPECT_EQ(Check(true), 30026);
  }
}

TEST_F(ConstraintTest, ForeignKeyIsRefusedBeforeAnythingChanges) {
  TVEZBaseConstraintManager* before = table_->ConstraintManager();
  class ForeignKey : public TVEZConstraintDef {
   public:
    ForeignKey() : TVEZConstraintDef(-1, ctFK) {}
  };
  TVEZConstraintDefs defs;
  defs.InternalAdd(std::make_unique<ForeignKey>());
  const std::int32_t last_id = db_.last_id;
  EXPECT_EQ(NativeErrorOf([&] { table_->CreateConstraintManager(defs); }), 30058);
  EXPECT_EQ(table_->ConstraintManager(), before);
  EXPECT_EQ(db_.last_id, last_id);
}

TEST_F(ConstraintTest, AutoNamesStayUniqueAndWithinTheStoredLength) {
  // A random source that first repeats itself, so the loop must go round.
  class Repeating : public platform::RandomSource {
   public:
    std::uint64_t n = 0;
    std::uint64_t Next64() override { return (n++ / 3) * 0x9E3779B97F4A7C15ull; }
  } random;
  platform::ScopedRandom scoped(random);
  const std::string long_table(250, 'T');
  for (const std::string& table_name : {std::string("People"), long_table}) {
    SCOPED_TRACE(table_name.size());
    TVEZBaseConstraintManager cm(table_);
    for (int i = 0; i < 6; ++i) {
      auto* def = cm.ConstraintDefs().AddNotNull();
      def->TableName = table_name;
      def->ColumnName = "NAME";
    }
    cm.FillConstraintAutoNames();
    std::set<std::string> names;
    for (std::int32_t i = 0; i < cm.ConstraintDefs().GetCount(); ++i) {
      const std::string& name = cm.ConstraintDefs().GetDef(i)->Name;
      EXPECT_LE(name.size(), 254u);
      EXPECT_EQ(name.rfind("$C_NotNull$", 0), 0u);
      names.insert(name);
    }
    EXPECT_EQ(names.size(), 6u);
    // Each name can be stored.
    TVEZMemoryStream stream;
    EXPECT_NO_THROW(cm.SaveMetadata(stream));
  }
  TVEZBaseConstraintManager cm(table_);
  cm.ConstraintDefs().AddUnique();
  EXPECT_EQ(NativeErrorOf([&] { cm.FillConstraintAutoNames(); }), 30038);
}

TEST_F(ConstraintTest, IndexesAddAndDropTheirConstraints) {
  TVEZConstraintDefs& defs = table_->ConstraintManager()->ConstraintDefs();
  const std::int32_t count = defs.GetCount();
  TVEZIndexDef plain;
  plain.Name = "BY_AGE";
  plain.AssignByNames({"AGE"}, {""}, {""});
  table_->AddIndex(plain, &cursor_);
  EXPECT_EQ(defs.GetCount(), count);
  TVEZIndexDef unique;
  unique.Name = "BY_NAME";
  unique.Unique = true;
  unique.AssignByNames({"NAME", "AGE"}, {"", ""}, {"", ""});
  table_->AddIndex(unique, &cursor_);
  ASSERT_EQ(defs.GetCount(), count + 1);
  const auto* added = static_cast<const TVEZConstraintDefUnique*>(defs.GetDef(count));
  EXPECT_EQ(added->Name, "C_Unique$NAME$AGE");
  EXPECT_EQ(added->IndexObjectID, unique.ObjectID);
  EXPECT_EQ(added->Columns[1].ColumnObjectID,
            table_->FieldManager()->FieldDefs().GetDef(2)->ObjectID);
  EXPECT_GT(added->ObjectID, 0);
  // The new unique index is enforced at once.
  Insert({1, 30, 100, 1, "Ann"});
  Fill({2, 30, 200, 1, "Ann"});
  EXPECT_EQ(Check(true), 30320);

  table_->DeleteIndex(unique.ObjectID, &cursor_);
  EXPECT_EQ(defs.GetCount(), count);
  EXPECT_EQ(Check(true), 0);
  // A temporary cursor's index implies no constraint.
  cursor_.Temporary = true;
  TVEZIndexDef again;
  again.Name = "BY_NAME2";
  again.Unique = true;
  again.AssignByNames({"NAME"}, {""}, {""});
  table_->AddIndex(again, &cursor_);
  EXPECT_EQ(defs.GetCount(), count);
}

}  // namespace
}  // namespace vez::test

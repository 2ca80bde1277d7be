// The definition converters: field types and sizes through every vocabulary
// and back through a real table, the constraints they derive (and that the
// table then enforces), the index columns BuildIndexDef makes, and the errors
// of names that are not there.
#include "dbengine/api/VEZDefConverters.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZSQLTypes.h"
#include "platform/core/Exceptions.h"
#include "platform/dataset/DatabaseError.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/TableTestSupport.h"

namespace vez {
namespace {

using platform::TFieldType;
using test::NativeErrorOf;

// A table of the test database made from engine definitions, and what the
// table made of them: its physical fields, the visible fields a cursor would
// show without a projection, its indexes and its linked constraints.
class TBuiltTable {
 public:
  TBuiltTable(const std::string& name, TVEZFieldDefs& fields, TVEZIndexDefs& indexes,
              TVEZConstraintDefs& constraints) {
    cursor_.TableName = name;
    cursor_.Session = &session_;
    table_ = static_cast<test::TTestTableData*>(db_.FindOrCreateTableData(cursor_));
    table_->CreateTable(&cursor_, fields, indexes, constraints);
    cursor_.Attach(*table_);
    visible_.Assign(Fields());
    for (std::int32_t i = 0; i < visible_.GetCount(); ++i)
      visible_.GetDef(i)->FieldNoReference = i;
  }

  const TVEZFieldDefs& Fields() const { return table_->FieldManager()->FieldDefs(); }
  const TVEZFieldDefs& Visible() const { return visible_; }
  const TVEZIndexDefs& Indexes() const { return table_->IndexManager()->IndexDefs(); }
  const TVEZConstraintDefs& Constraints() const {
    return table_->ConstraintManager()->ConstraintDefs();
  }
  test::TTableCursor& Cursor() { return cursor_; }

  // Inserts the cursor's record when it passes every constraint; the native
  // error of the first one it breaks otherwise (0 when stored).
  std::int32_t Insert() {
    const std::int32_t error = NativeErrorOf([&] {
      table_->ConstraintManager()->CheckConstraints(session_.SessionID, cursor_.CurrentRecordBuffer,
                                                    nullptr, true, cursor_.CurrentRecordID, true,
                                                    true);
    });
    if (error == 0) {
      EXPECT_TRUE(table_->InsertRecord(cursor_));
    }
    return error;
  }

 private:
  test::TestSession session_;
  test::TTestDatabaseData db_;
  test::TTableCursor cursor_;
  test::TTestTableData* table_ = nullptr;
  TVEZFieldDefs visible_;
};

std::vector<std::string> NotNullColumns(const TVEZConstraintDefs& constraints) {
  std::vector<std::string> columns;
  for (std::int32_t i = 0; i < constraints.GetCount(); ++i) {
    if (constraints.GetDef(i)->ConstraintType == ctNotNull)
      columns.push_back(
          static_cast<const TVEZConstraintDefNotNull*>(constraints.GetDef(i))->ColumnName);
  }
  return columns;
}

// ---------------------------------------------------------------------------
// Helpers

TEST(SplitFieldNamesTest, CommaAndSemicolonSplitAlike) {
  struct Case {
    const char* text;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"", {}},
      {"ID", {"ID"}},
      {"MeasurementID;Time", {"MeasurementID", "Time"}},
      {"MeasurementID,Time", {"MeasurementID", "Time"}},
      {"A,B;C", {"A", "B", "C"}},
      // Blanks belong to the names: a column may be named with them.
      {" A ; B ,C ", {" A ", " B ", "C "}},
      {"Run Name;ID", {"Run Name", "ID"}},
      // Empty entries keep their places (sizes are positional).
      {"30;;10", {"30", "", "10"}},
      {"A;", {"A", ""}},
      {";", {"", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"");
    std::vector<std::string> list{"stale"};
    SplitFieldNames(&list, c.text);
    EXPECT_EQ(list, c.names);
  }
  EXPECT_NO_THROW(SplitFieldNames(nullptr, "A;B"));
}

TEST(DefConverterHelpersTest, FieldDefExistsAndCompressionAlgorithm) {
  platform::FieldDefs fields;
  fields.Add("MeasurementID", platform::ftFloat);
  EXPECT_TRUE(FieldDefExists(fields, "MeasurementID"));
  EXPECT_TRUE(FieldDefExists(fields, "measurementID"));
  EXPECT_FALSE(FieldDefExists(fields, "Measurement"));
  EXPECT_FALSE(FieldDefExists(platform::FieldDefs(), "ID"));

  struct Case {
    std::uint8_t engine;
    TCompressionAlgorithm expected;
  };
  for (const Case& c :
       {Case{0, TCompressionAlgorithm::caNone}, Case{1, TCompressionAlgorithm::caZLIB},
        Case{2, TCompressionAlgorithm::caBZIP}, Case{3, TCompressionAlgorithm::caPPM},
        Case{4, TCompressionAlgorithm::caNone}, Case{255, TCompressionAlgorithm::caNone}}) {
    SCOPED_TRACE(static_cast<int>(c.engine));
    EXPECT_EQ(ToCompressionAlgorithm(static_cast<TVEZCompressionAlgorithm>(c.engine)), c.expected);
  }
}

// ---------------------------------------------------------------------------
// Field round trips

struct VclTypeCase {
  TFieldType type;
  int size;  // as given to the VCL list (which sizes text and GUID columns of 0)
  TVEZAdvancedFieldType advanced;
  TFieldType back;  // the VCL type read back from the table
};

// Every VCL type the type table knows, with the column type it makes.
const VclTypeCase kVclTypes[] = {
    {platform::ftFixedChar, 10, aftChar, platform::ftFixedChar},
    {platform::ftString, 30, aftString, platform::ftString},
    {platform::ftWideString, 15, aftWideChar, platform::ftWideString},
    {platform::ftSmallint, 0, aftSmallint, platform::ftSmallint},
    {platform::ftInteger, 0, aftInteger, platform::ftInteger},
    {platform::ftWord, 0, aftWord, platform::ftWord},
    {platform::ftLargeint, 0, aftLargeint, platform::ftLargeint},
    {platform::ftAutoInc, 0, aftAutoInc, platform::ftAutoInc},
    {platform::ftFloat, 0, aftDouble, platform::ftFloat},
    {platform::ftBCD, 0, aftDouble, platform::ftFloat},
    {platform::ftCurrency, 0, aftCurrency, platform::ftCurrency},
    {platform::ftBoolean, 0, aftBoolean, platform::ftBoolean},
    {platform::ftDate, 0, aftDate, platform::ftDate},
    {platform::ftTime, 0, aftTime, platform::ftTime},
    {platform::ftDateTime, 0, aftDateTime, platform::ftDateTime},
    {platform::ftTimeStamp, 0, aftTimeStamp, platform::ftTimeStamp},
    {platform::ftBytes, 8, aftBytes, platform::ftBytes},
    {platform::ftVarBytes, 16, aftVarBytes, platform::ftVarBytes},
    {platform::ftBlob, 0, aftBlob, platform::ftBlob},
    {platform::ftParadoxOle, 0, aftBlob, platform::ftBlob},
    {platform::ftDBaseOle, 0, aftBlob, platform::ftBlob},
    {platform::ftTypedBinary, 0, aftBlob, platform::ftBlob},
    {platform::ftOraBlob, 0, aftBlob, platform::ftBlob},
    {platform::ftOraClob, 0, aftBlob, platform::ftBlob},
    {platform::ftGraphic, 0, aftGraphic, platform::ftGraphic},
    {platform::ftMemo, 0, aftMemo, platform::ftMemo},
    {platform::ftFmtMemo, 0, aftFormattedMemo, platform::ftFmtMemo},
    {platform::ftWideMemo, 0, aftWideMemo, platform::ftWideMemo},
    {platform::ftGuid, 0, aftGuid, platform::ftGuid},
};

// VCL -> adv -> engine -> table -> adv and VCL, each type once optional and
// once required.
TEST(FieldRoundTripTest, EveryVclTypeKeepsNameTypeSizeAndRequired) {
  platform::FieldDefs vcl;
  for (const VclTypeCase& c : kVclTypes) {
    const std::string name = platform::FieldTypeName(c.type);
    vcl.Add(name + "_opt", c.type, c.size, false);
    vcl.Add(name + "_req", c.type, c.size, true);
  }
  TVEZAdvFieldDefs adv;
  FieldDefsToAdvFieldDefs(vcl, adv);
  TVEZFieldDefs direct;
  FieldDefsToVEZFieldDefs(vcl, direct);
  TVEZFieldDefs fields;
  TVEZIndexDefs indexes;
  TVEZConstraintDefs constraints;
  AdvFieldDefsToVEZDefs(adv, fields, indexes, constraints, false);
  ASSERT_EQ(adv.Count(), vcl.Count());
  ASSERT_EQ(fields.GetCount(), vcl.Count());
  ASSERT_EQ(direct.GetCount(), vcl.Count());

  TBuiltTable table("Types", fields, indexes, constraints);
  TVEZAdvFieldDefs adv_back;
  VEZFieldDefsToAdvFieldDefs(table.Visible(), table.Fields(), table.Constraints(), adv_back);
  platform::FieldDefs vcl_back;
  VEZFieldDefsToFieldDefs(table.Visible(), table.Fields(), table.Constraints(), vcl_back);
  ASSERT_EQ(adv_back.Count(), vcl.Count());
  ASSERT_EQ(vcl_back.Count(), vcl.Count());

  std::int32_t required_count = 0;
  for (std::int32_t i = 0; i < vcl.Count(); ++i) {
    const VclTypeCase& c = kVclTypes[i / 2];
    const platform::FieldDef& in = vcl.Items(i);
    SCOPED_TRACE(in.Name);
    const bool sized = IsSizedAdvancedFieldType(c.advanced);
    required_count += in.Required ? 1 : 0;

    EXPECT_EQ(adv.GetDef(i)->Name, in.Name);
    EXPECT_EQ(adv.GetDef(i)->DataType, c.advanced);
    EXPECT_EQ(adv.GetDef(i)->Size, in.Size);
    EXPECT_EQ(adv.GetDef(i)->Required, in.Required);
    for (const TVEZFieldDefs* engine : {&direct, &fields}) {
      EXPECT_EQ(engine->GetDef(i)->Name, in.Name);
      EXPECT_EQ(engine->GetDef(i)->AdvancedFieldType, c.advanced);
      EXPECT_EQ(engine->GetDef(i)->BaseFieldType, AdvancedTypeToBaseType(c.advanced));
      EXPECT_EQ(engine->GetDef(i)->FieldSize, in.Size);
    }

    const TVEZAdvFieldDef& a = *adv_back.GetDef(i);
    EXPECT_EQ(a.Name, in.Name);
    EXPECT_EQ(a.ObjectID, table.Fields().GetDef(i)->ObjectID);
    EXPECT_EQ(a.DataType, c.advanced);
    EXPECT_EQ(a.Size, c.advanced == aftGuid ? 0 : in.Size);
    EXPECT_EQ(a.Required, in.Required);

    const platform::FieldDef& out = vcl_back.Items(i);
    EXPECT_EQ(out.Name, in.Name);
    EXPECT_EQ(out.DataType, c.back);
    EXPECT_EQ(out.Size, c.advanced == aftGuid ? 38 : sized ? in.Size : 0);
    // The engine fills an autoinc column; the dataset must not demand it.
    EXPECT_EQ(out.Required, in.Required && c.type != platform::ftAutoInc);
  }
  EXPECT_EQ(static_cast<std::int32_t>(NotNullColumns(table.Constraints()).size()), required_count);
}

// adv -> engine -> table -> adv and VCL for every column type, including
// those that only SQL declares. Every column is declared required.
TEST(FieldRoundTripTest, EveryColumnTypeFromAdvancedDefinitions) {
  TVEZAdvFieldDefs adv;
  for (int t = aftChar; t < kAdvancedFieldTypeCount; ++t) {
    const auto type = static_cast<TVEZAdvancedFieldType>(t);
    const std::int32_t size = type == aftGuid ? 38 : IsSizedAdvancedFieldType(type) ? 12 : 0;
    adv.Add(AdvancedTypeToSQLTypeName(type) + std::to_string(t), type, size, true);
  }
  TVEZFieldDefs fields;
  TVEZIndexDefs indexes;
  TVEZConstraintDefs constraints;
  AdvFieldDefsToVEZDefs(adv, fields, indexes, constraints, false);
  TBuiltTable table("AllTypes", fields, indexes, constraints);
  TVEZAdvFieldDefs adv_back;
  VEZFieldDefsToAdvFieldDefs(table.Visible(), table.Fields(), table.Constraints(), adv_back);
  platform::FieldDefs vcl_back;
  VEZFieldDefsToFieldDefs(table.Visible(), table.Fields(), table.Constraints(), vcl_back);
  platform::FieldDefs vcl_from_adv;
  AdvFieldDefsToFieldDefs(adv_back, vcl_from_adv);

  ASSERT_EQ(adv_back.Count(), adv.Count());
  for (std::int32_t i = 0; i < adv.Count(); ++i) {
    const TVEZAdvFieldDef& in = *adv.GetDef(i);
    SCOPED_TRACE(in.Name);
    const bool autoinc = IsAutoincAdvancedFieldType(in.DataType);
    const int vcl_size = in.DataType == aftGuid ? 38 : in.Size;
    EXPECT_EQ(adv_back.GetDef(i)->DataType, in.DataType);
    EXPECT_EQ(adv_back.GetDef(i)->Size, in.DataType == aftGuid ? 0 : in.Size);
    EXPECT_TRUE(adv_back.GetDef(i)->Required);
    for (const platform::FieldDefs* vcl : {&vcl_back, &vcl_from_adv}) {
      EXPECT_EQ(vcl->Items(i).Name, in.Name);
      EXPECT_EQ(vcl->Items(i).DataType, AdvancedTypeToVCLType(in.DataType));
      EXPECT_EQ(vcl->Items(i).Size, vcl_size);
    }
    // Read from the table, no autoinc column is required, whatever VCL type
    // shows it (AUTOINC(LARGEINT) is an ftLargeint).
    EXPECT_EQ(vcl_back.Items(i).Required, !autoinc);
  }
}

TEST(FieldRoundTripTest, ValuesAutoincAndBlobSettingsTravelBothWays) {
  TVEZAdvFieldDefs adv;
  TVEZAdvFieldDef* serial = adv.Add("Serial", aftAutoIncLargeint, 0, false);
  serial->AutoincIncrement = 5;
  serial->AutoincInitialValue = 100;
  serial->AutoincMinValue = 10;
  serial->AutoincMaxValue = 1000000;
  serial->AutoincCycled = true;
  TVEZAdvFieldDef* age = adv.Add("Age", aftInteger, 0, false);
  age->MinValue.SetAsInteger(0);
  age->MaxValue.SetAsInteger(120);
  age->DefaultValue.SetAsInteger(18);
  TVEZAdvFieldDef* rank = adv.Add("Rank", aftInteger, 0, true);
  rank->MaxValue.SetAsInteger(10);  // a maximum alone is a CHECK too
  adv.Add("Doc", aftBlob, 0, false, TCompressionAlgorithm::caZLIB, 5)->BLOBBlockSize = 4096;
  adv.Add("Pic", aftGraphic, 0, false, TCompressionAlgorithm::caBZIP, 9)->BLOBBlockSize = 0;
  adv.Add("Note", aftString, 40, false)->DefaultValue.SetAsAnsiString("none");

  TVEZFieldDefs fields;
  TVEZIndexDefs indexes;
  TVEZConstraintDefs constraints;
  AdvFieldDefsToVEZDefs(adv, fields, indexes, constraints, false);

  const TVEZFieldDef& f_serial = *fields.GetDef(0);
  EXPECT_EQ(f_serial.AutoincIncrement, 5);
  EXPECT_EQ(f_serial.AutoincInitialValue, 100);
  EXPECT_EQ(f_serial.AutoincMinValue, 10);
  EXPECT_EQ(f_serial.AutoincMaxValue, 1000000);
  EXPECT_TRUE(f_serial.AutoincCycled);
  EXPECT_EQ(fields.GetDef(1)->DefaultValue.GetAsInteger(), 18);
  EXPECT_EQ(fields.GetDef(3)->BLOBCompressionAlgorithm, acaZLIB);
  EXPECT_EQ(fields.GetDef(3)->BLOBCompressionMode, 5);
  EXPECT_EQ(fields.GetDef(3)->BLOBBlockSize, 4096);
  EXPECT_EQ(fields.GetDef(4)->BLOBCompressionAlgorithm, acaBZIP);
  EXPECT_EQ(fields.GetDef(4)->BLOBBlockSize, kDefaultBLOBBlockSize);
  EXPECT_EQ(fields.GetDef(5)->DefaultValue.GetAsAnsiString(), "none");

  // Age: CHECK 0..120; Rank: NOT NULL, then CHECK ..10.
  ASSERT_EQ(constraints.GetCount(), 3);
  const auto* check_age = dynamic_cast<const TVEZConstraintDefCheck*>(constraints.GetDef(0));
  ASSERT_NE(check_age, nullptr);
  EXPECT_EQ(check_age->ColumnName, "Age");
  EXPECT_EQ(check_age->MinValue.GetAsInteger(), 0);
  EXPECT_EQ(check_age->MaxValue.GetAsInteger(), 120);
  EXPECT_EQ(constraints.GetDef(1)->ConstraintType, ctNotNull);
  const auto* check_rank = dynamic_cast<const TVEZConstraintDefCheck*>(constraints.GetDef(2));
  ASSERT_NE(check_rank, nullptr);
  EXPECT_EQ(check_rank->ColumnName, "Rank");
  EXPECT_TRUE(check_rank->MinValue.GetIsNull());
  EXPECT_EQ(check_rank->MaxValue.GetAsInteger(), 10);

  TBuiltTable table("Settings", fields, indexes, constraints);
  TVEZAdvFieldDefs back;
  VEZFieldDefsToAdvFieldDefs(table.Visible(), table.Fields(), table.Constraints(), back);
  ASSERT_EQ(back.Count(), 6);
  const TVEZAdvFieldDef& b_serial = *back.GetDef(0);
  EXPECT_EQ(b_serial.AutoincIncrement, 5);
  EXPECT_EQ(b_serial.AutoincInitialValue, 100);
  EXPECT_EQ(b_serial.AutoincMinValue, 10);
  EXPECT_EQ(b_serial.AutoincMaxValue, 1000000);
  EXPECT_TRUE(b_serial.AutoincCycled);
  EXPECT_FALSE(b_serial.Required);
  const TVEZAdvFieldDef& b_age = *back.GetDef(1);
  EXPECT_EQ(b_age.MinValue.GetAsInteger(), 0);
  EXPECT_EQ(b_age.MaxValue.GetAsInteger(), 120);
  EXPECT_EQ(b_age.DefaultValue.GetAsInteger(), 18);
  EXPECT_FALSE(b_age.Required);
  EXPECT_TRUE(back.GetDef(2)->Required);
  EXPECT_TRUE(back.GetDef(2)->MinValue.GetIsNull());
  EXPECT_EQ(back.GetDef(2)->MaxValue.GetAsInteger(), 10);
  EXPECT_EQ(back.GetDef(3)->BLOBCompressionAlgorithm, TCompressionAlgorithm::caZLIB);
  EXPECT_EQ(back.GetDef(3)->BLOBCompressionMode, 5);
  EXPECT_EQ(back.GetDef(3)->BLOBBlockSize, 4096);
  EXPECT_EQ(back.GetDef(4)->BLOBCompressionAlgorithm, TCompressionAlgorithm::caBZIP);
  EXPECT_EQ(back.GetDef(4)->BLOBBlockSize, kDefaultBLOBBlockSize);
  EXPECT_EQ(back.GetDef(5)->DefaultValue.GetAsAnsiString(), "none");
  EXPECT_TRUE(back.GetDef(0)->MinValue.GetIsNull());
}

TEST(FieldConvertersTest, LongNamesAreCutTo255Characters) {
  const std::string long_name(300, 'N');
  platform::FieldDefs vcl;
  vcl.Add(long_name, platform::ftInteger, 0, true);
  TVEZFieldDefs direct;
  FieldDefsToVEZFieldDefs(vcl, direct);
  EXPECT_EQ(direct.GetDef(0)->Name, long_name.substr(0, 255));
  TVEZAdvFieldDefs adv;
  FieldDefsToAdvFieldDefs(vcl, adv);
  EXPECT_EQ(adv.GetDef(0)->Name, long_name);  // the adv list keeps it whole
  TVEZFieldDefs fields;
  TVEZConstraintDefs constraints;
  AdvFieldDefsToVEZDefs(adv, fields, TVEZIndexDefs(), constraints, false);
  EXPECT_EQ(fields.GetDef(0)->Name, long_name.substr(0, 255));
  EXPECT_EQ(NotNullColumns(constraints), std::vector<std::string>{long_name.substr(0, 255)});
}

// The lists stay filled up to the failing item; the caller discards them.
TEST(FieldConvertersTest, FailuresRaiseTheirNumbersAndStopAtTheFailingItem) {
  platform::FieldDefs vcl;
  vcl.Add("ID", platform::ftInteger);
  vcl.Add("Shape", platform::ftADT);  // no row of the type table
  vcl.Add("Name", platform::ftString, 10);
  TVEZAdvFieldDefs adv;
  EXPECT_EQ(NativeErrorOf([&] { FieldDefsToAdvFieldDefs(vcl, adv); }), 30289);
  EXPECT_EQ(adv.Count(), 1);
  TVEZFieldDefs direct;
  EXPECT_EQ(NativeErrorOf([&] { FieldDefsToVEZFieldDefs(vcl, direct); }), 30289);
  EXPECT_EQ(direct.GetCount(), 2);

  TVEZAdvFieldDefs bad;
  bad.Add("ID", aftInteger, 0, true);
  bad.Add("What", aftUnknown, 0, true);
  bad.Add("Name", aftString, 10, true);
  TVEZFieldDefs fields;
  TVEZConstraintDefs constraints;
  constraints.AddNotNull()->ColumnName = "Stale";
  EXPECT_EQ(NativeErrorOf(
                [&] { AdvFieldDefsToVEZDefs(bad, fields, TVEZIndexDefs(), constraints, false); }),
            30007);
  EXPECT_EQ(fields.GetCount(), 2);
  EXPECT_EQ(NotNullColumns(constraints), std::vector<std::string>{"ID"});

  // The VCL list refuses a name it already has.
  TVEZAdvFieldDefs twice;
  twice.Add("ID", aftInteger, 0, false);
  twice.Add("id", aftInteger, 0, false);
  platform::FieldDefs out;
  EXPECT_THROW(AdvFieldDefsToFieldDefs(twice, out), platform::EDatabaseError);
  EXPECT_EQ(out.Count(), 1);
}

TEST(FieldConvertersTest, TemporaryTableKeepsOnlyItsKeyConstraints) {
  TVEZAdvFieldDefs adv;
  adv.Add("ID", aftInteger, 0, true);
  TVEZAdvFieldDef* age = adv.Add("Age", aftInteger, 0, true);
  age->MinValue.SetAsInteger(0);
  age->MaxValue.SetAsInteger(120);
  platform::FieldDefs vcl;
  AdvFieldDefsToFieldDefs(adv, vcl);
  TVEZAdvIndexDefs adv_indexes;
  adv_indexes.Add("PK", "ID", platform::ixPrimary);
  adv_indexes.Add("ByAge", "Age;ID", platform::ixUnique);
  TVEZIndexDefs indexes;
  AdvIndexDefsToVEZIndexDefs(adv_indexes, indexes, vcl);

  for (const bool temporary : {false, true}) {
    SCOPED_TRACE(temporary ? "temporary" : "permanent");
    TVEZFieldDefs fields;
    TVEZConstraintDefs constraints;
    AdvFieldDefsToVEZDefs(adv, fields, indexes, constraints, temporary);
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < constraints.GetCount(); ++i) {
      const TVEZConstraintDef* def = constraints.GetDef(i);
      if (def->ConstraintType == ctNotNull || def->ConstraintType == ctCheck) {
        names.push_back(std::string(def->ConstraintType == ctNotNull ? "NOT NULL " : "CHECK ") +
                        static_cast<const TVEZColumnConstraintDef*>(def)->ColumnName);
      } else {
        names.push_back(def->Name + " on " +
                        static_cast<const TVEZConstraintDefUnique*>(def)->IndexName);
      }
    }
    std::vector<std::string> expected;
    if (!temporary) expected = {"NOT NULL ID", "NOT NULL Age", "CHECK Age"};
    expected.push_back("C_PK$ID on PK");
    expected.push_back("C_Unique$Age$ID on ByAge");
    EXPECT_EQ(names, expected);
  }
}

// The converted constraints work in a table: NOT NULL, CHECK and the
// primary key each refuse their row, and nothing stored is lost.
TEST(FieldConvertersTest, ConvertedConstraintsAreEnforcedByTheTable) {
  platform::FieldDefs vcl;
  vcl.Add("ID", platform::ftInteger, 0, true);
  vcl.Add("Age", platform::ftInteger);
  platform::IndexDefs vcl_indexes;
  vcl_indexes.Add("Primary", "ID", platform::ixPrimary);
  TVEZAdvFieldDefs adv;
  FieldDefsToAdvFieldDefs(vcl, adv);
  adv.Find("age")->MinValue.SetAsInteger(0);
  adv.Find("AGE")->MaxValue.SetAsInteger(120);
  TVEZAdvIndexDefs adv_indexes;
  IndexDefsToAdvIndexDefs(vcl_indexes, adv_indexes);
  TVEZIndexDefs indexes;
  AdvIndexDefsToVEZIndexDefs(adv_indexes, indexes, vcl);
  TVEZFieldDefs fields;
  TVEZConstraintDefs constraints;
  AdvFieldDefsToVEZDefs(adv, fields, indexes, constraints, false);
  TBuiltTable table("People", fields, indexes, constraints);

  struct Row {
    const char* label;
    std::optional<std::int32_t> id, age;
    std::int32_t error;
  };
  const Row rows[] = {
      {"first", 1, 30, 0},        {"second", 2, std::nullopt, 0}, {"no id", std::nullopt, 5, 30026},
      {"too old", 3, 121, 30030}, {"too young", 3, -1, 30029},    {"same id", 1, 40, 30319},
      {"third", 3, 120, 0},
  };
  std::int32_t stored = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    table.Cursor().NewRecord();
    if (r.id) table.Cursor().SetInt(0, *r.id);
    if (r.age) table.Cursor().SetInt(1, *r.age);
    EXPECT_EQ(table.Insert(), r.error);
    if (r.error == 0) ++stored;
  }
  EXPECT_EQ(stored, 3);
}

// ---------------------------------------------------------------------------
// Engine definitions of a projection

class ProjectionTest : public ::testing::Test {
 protected:
  // Physical A Integer (11), B String(8) (12), C Double (13), D
  // AUTOINC(LARGEINT) (14), E AUTOINC (15); visible X = C, A, Y = C, D, E.
  void SetUp() override {
    const struct {
      const char* name;
      TVEZAdvancedFieldType type;
      std::int32_t size;
    } physical[] = {{"A", aftInteger, 0},
                    {"B", aftString, 8},
                    {"C", aftDouble, 0},
                    {"D", aftAutoIncLargeint, 0},
                    {"E", aftAutoInc, 0}};
    std::int32_t id = 11;
    for (const auto& p : physical) {
      TVEZFieldDef* def = fields_.AddCreated();
      def->Name = p.name;
      def->SetFieldDefDataType(p.type, p.size);
      def->ObjectID = id++;
    }
    const struct {
      const char* name;
      std::int32_t physical;
    } shown[] = {{"X", 2}, {"A", 0}, {"Y", 2}, {"D", 3}, {"E", 4}};
    for (const auto& s : shown) {
      TVEZFieldDef* def = visible_.AddCreated();
      def->Assign(*fields_.GetDef(s.physical));
      def->Name = s.name;
      def->FieldNoReference = s.physical;
    }
    for (const std::int32_t column : {13, 14, 15})
      constraints_.AddNotNull()->ColumnObjectID = column;
    TVEZConstraintDefCheck* check = constraints_.AddCheck();
    check->ColumnObjectID = 11;
    check->MinValue.SetAsInteger(1);
    check->MaxValue.SetAsInteger(9);
    constraints_.AddPK()->IndexName = "Primary";  // keys carry nothing to columns
    constraints_.AddUnique()->IndexName = "U";
  }

  TVEZFieldDefs fields_;
  TVEZFieldDefs visible_;
  TVEZConstraintDefs constraints_;
};

TEST_F(ProjectionTest, VisibleColumnsTakeTheirPhysicalColumnsConstraints) {
  TVEZAdvFieldDefs adv;
  adv.Add("Stale", aftInteger, 0, false);
  VEZFieldDefsToAdvFieldDefs(visible_, fields_, constraints_, adv);
  ASSERT_EQ(adv.Count(), 5);
  const struct {
    const char* name;
    std::int32_t object_id;
    bool required;
    bool bounded;
  } expected[] = {{"X", 13, true, false},
                  {"A", 11, false, true},
                  {"Y", 13, true, false},
                  {"D", 14, true, false},
                  {"E", 15, true, false}};
  for (std::int32_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(expected[i].name);
    const TVEZAdvFieldDef& def = *adv.GetDef(i);
    EXPECT_EQ(def.Name, expected[i].name);
    EXPECT_EQ(def.ObjectID, expected[i].object_id);
    EXPECT_EQ(def.Required, expected[i].required);
    EXPECT_EQ(def.MinValue.GetIsNull(), !expected[i].bounded);
    if (expected[i].bounded) {
      EXPECT_EQ(def.MinValue.GetAsInteger(), 1);
      EXPECT_EQ(def.MaxValue.GetAsInteger(), 9);
    }
  }

  platform::FieldDefs vcl;
  VEZFieldDefsToFieldDefs(visible_, fields_, constraints_, vcl);
  ASSERT_EQ(vcl.Count(), 5);
  EXPECT_TRUE(vcl.Items(0).Required);
  EXPECT_FALSE(vcl.Items(1).Required);
  EXPECT_TRUE(vcl.Items(2).Required);
  // Autoinc columns are never required, however the dataset shows them.
  EXPECT_EQ(vcl.Items(3).DataType, platform::ftLargeint);
  EXPECT_FALSE(vcl.Items(3).Required);
  EXPECT_EQ(vcl.Items(4).DataType, platform::ftAutoInc);
  EXPECT_FALSE(vcl.Items(4).Required);
}

// A foreign key has no class of its own in this engine; the test makes one.
class TForeignKeyDef : public TVEZConstraintDef {
 public:
  TForeignKeyDef() : TVEZConstraintDef(-1, ctFK) {}
};

TEST_F(ProjectionTest, ConstraintsOnMissingColumnsAndForeignKeysRaise) {
  struct Case {
    const char* label;
    std::int32_t error;
  };
  for (const Case& c :
       {Case{"NOT NULL", 30032}, Case{"CHECK", 30031}, Case{"FOREIGN KEY", 30039}}) {
    SCOPED_TRACE(c.label);
    TVEZConstraintDefs constraints;
    constraints.Assign(constraints_);
    if (c.error == 30032) constraints.AddNotNull()->ColumnObjectID = 99;
    if (c.error == 30031) constraints.AddCheck()->ColumnObjectID = 99;
    if (c.error == 30039) constraints.InternalAdd(std::make_unique<TForeignKeyDef>());
    TVEZAdvFieldDefs adv;
    try {
      VEZFieldDefsToAdvFieldDefs(visible_, fields_, constraints, adv);
      ADD_FAILURE() << "no error";
    } catch (const EVEZException& e) {
      EXPECT_EQ(e.NativeError(), c.error);
      if (c.error != 30039) {
        EXPECT_STREQ(e.what(),
                     ("Field #99 not found - Native error: " + std::to_string(c.error)).c_str());
      }
    }
    // Filled up to the failing constraint: every column and the earlier
    // constraints are there.
    ASSERT_EQ(adv.Count(), 5);
    EXPECT_TRUE(adv.GetDef(0)->Required);
    EXPECT_FALSE(adv.GetDef(1)->MinValue.GetIsNull());
  }
}

// ---------------------------------------------------------------------------
// Indexes

struct ColumnExpect {
  std::string name;
  bool descending;
  bool case_insensitive;
  std::int32_t size;
};

struct BuildCase {
  const char* label;
  const char* name;
  const char* fields;
  platform::TIndexOptions options;
  const char* desc;
  const char* case_ins;
  const char* sizes;
  std::int32_t error;
  std::vector<ColumnExpect> columns;
};

const BuildCase kBuildCases[] = {
    {"Data's index",
     "Primary",
     "MeasurementID;Time",
     0,
     "",
     "",
     "",
     0,
     {{"MeasurementID", false, false, 20}, {"Time", false, false, 20}}},
    {"commas",
     "Primary",
     "MeasurementID,Time",
     0,
     "",
     "",
     "",
     0,
     {{"MeasurementID", false, false, 20}, {"Time", false, false, 20}}},
    {"blanks around a name", "I", "A; B", 0, "", "", "", 20050, {{"A", false, false, 20}}},
    {"ixDescending with DescFields B",
     "I",
     "A;B",
     platform::ixDescending,
     "B",
     "",
     "",
     0,
     {{"A", false, false, 20}, {"B", true, false, 20}}},
    {"ixDescending alone",
     "I",
     "A;B",
     platform::ixDescending,
     "",
     "",
     "",
     0,
     {{"A", true, false, 20}, {"B", true, false, 20}}},
    // A blank list is a list: it names a column " ", not none.
    {"ixDescending with blank DescFields",
     "I",
     "A;B",
     platform::ixDescending,
     " ",
     "",
     "",
     0,
     {{"A", false, false, 20}, {"B", false, false, 20}}},
    {"ixCaseInsensitive with blank CaseInsFields",
     "I",
     "A;B",
     platform::ixCaseInsensitive,
     "",
     " ",
     "",
     0,
     {{"A", false, false, 20}, {"B", false, false, 20}}},
    {"DescFields without the option, any case",
     "I",
     "A;B",
     0,
     "b",
     "",
     "",
     0,
     {{"A", false, false, 20}, {"B", true, false, 20}}},
    {"ixCaseInsensitive alone",
     "I",
     "A;B",
     platform::ixCaseInsensitive,
     "",
     "",
     "",
     0,
     {{"A", false, true, 20}, {"B", false, true, 20}}},
    {"ixCaseInsensitive with CaseInsFields a",
     "I",
     "A;B",
     platform::ixCaseInsensitive,
     "",
     "a",
     "",
     0,
     {{"A", false, true, 20}, {"B", false, false, 20}}},
    {"both by lists",
     "I",
     "A;B;Time",
     0,
     "Time,A",
     "B",
     "",
     0,
     {{"A", true, false, 20}, {"B", false, true, 20}, {"Time", true, false, 20}}},
    {"sizes with a gap",
     "I",
     "A;B;Time",
     0,
     "",
     "",
     "30;;5",
     0,
     {{"A", false, false, 30}, {"B", false, false, 20}, {"Time", false, false, 5}}},
    {"fewer sizes than columns",
     "I",
     "A;B",
     0,
     "",
     "",
     "40",
     0,
     {{"A", false, false, 40}, {"B", false, false, 20}}},
    {"field names in another case",
     "I",
     "a;time",
     0,
     "",
     "",
     "",
     0,
     {{"a", false, false, 20}, {"time", false, false, 20}}},
    {"empty name", "", "A", 0, "", "", "", 20048, {}},
    {"empty fields", "I", "", 0, "", "", "", 20049, {}},
    {"missing field", "I", "A;Nope", 0, "", "", "", 20050, {{"A", false, false, 20}}},
    {"trailing separator", "I", "A;", 0, "", "", "", 20050, {{"A", false, false, 20}}},
};

// Test names and failure messages show the case's label, not its bytes.
void PrintTo(const BuildCase& c, std::ostream* os) {
  *os << c.label;
}

class BuildIndexDefTest : public ::testing::TestWithParam<BuildCase> {
 protected:
  void SetUp() override {
    fields_.Add("A", platform::ftString, 10);
    fields_.Add("B", platform::ftInteger);
    fields_.Add("MeasurementID", platform::ftFloat);
    fields_.Add("Time", platform::ftDateTime);
  }
  platform::FieldDefs fields_;
};

TEST_P(BuildIndexDefTest, MakesColumnsFromNamesAndOptions) {
  const BuildCase& c = GetParam();
  TVEZIndexDef def;
  const std::int32_t error = NativeErrorOf([&] {
    BuildIndexDef(def, c.name, c.fields, c.options, false, c.desc, c.case_ins, c.sizes, fields_);
  });
  EXPECT_EQ(error, c.error);
  if (c.error != 0 && c.columns.empty()) return;
  if (c.error == 0) {
    EXPECT_EQ(def.Name, c.name);
    EXPECT_EQ(def.IndexType, itBTree);
    ASSERT_EQ(def.ColumnCount(), static_cast<std::int32_t>(c.columns.size()));
  }
  // A failing column leaves the columns before it filled.
  for (std::size_t i = 0; i < c.columns.size(); ++i) {
    SCOPED_TRACE(c.columns[i].name);
    const TVEZIndexColumn& column = *def.GetIndexColumn(static_cast<std::int32_t>(i));
    EXPECT_EQ(column.FieldName, c.columns[i].name);
    EXPECT_EQ(static_cast<bool>(column.Descending), c.columns[i].descending);
    EXPECT_EQ(static_cast<bool>(column.CaseInsensitive), c.columns[i].case_insensitive);
    EXPECT_EQ(column.MaxIndexedSize, c.columns[i].size);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, BuildIndexDefTest, ::testing::ValuesIn(kBuildCases),
                         [](const ::testing::TestParamInfo<BuildCase>& info) {
                           std::string name;
                           for (const char ch : std::string(info.param.label))
                             name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                           return name;
                         });

TEST(BuildIndexDefFlagsTest, OptionsSetUniquePrimaryAndTemporary) {
  platform::FieldDefs fields;
  fields.Add("ID", platform::ftAutoInc);
  struct Case {
    platform::TIndexOptions options;
    bool temporary;
    bool unique;
    bool primary;
  };
  for (const Case& c : {Case{0, false, false, false}, Case{platform::ixUnique, false, true, false},
                        Case{platform::ixPrimary, true, false, true},
                        Case{platform::ixPrimary | platform::ixUnique, false, true, true}}) {
    SCOPED_TRACE(c.options);
    TVEZIndexDef def;
    BuildIndexDef(def, "Primary", "ID", c.options, c.temporary, "", "", "", fields);
    EXPECT_EQ(static_cast<bool>(def.Unique), c.unique);
    EXPECT_EQ(static_cast<bool>(def.Primary), c.primary);
    EXPECT_EQ(def.Temporary, c.temporary);
  }
  TVEZIndexDef def;
  BuildIndexDef(def, std::string(300, 'I'), "ID", 0, false, "", "", "", fields);
  EXPECT_EQ(def.Name, std::string(255, 'I'));
  try {
    BuildIndexDef(def, "I", "ID;Missing", 0, false, "", "", "", fields);
  } catch (const EVEZException& e) {
    EXPECT_STREQ(e.what(), "Cannot find index field 'Missing' - Native error: 20050");
  }
  // An indexed size that is no number is refused with the conversion error.
  EXPECT_THROW(BuildIndexDef(def, "I", "ID", 0, false, "", "", "x", fields),
               platform::EConvertError);
}

TEST(IndexConvertersTest, EngineIndexToAdvancedJoinsColumnsBySemicolons) {
  TVEZIndexDef def;
  def.Name = "ByAll";
  def.Unique = true;
  def.Primary = true;
  def.Temporary = true;
  def.SetColumnCount(3);
  const struct {
    const char* name;
    bool desc, ci;
    std::int32_t size;
  } columns[] = {{"A", true, false, 30}, {"B", false, true, 20}, {"C", true, true, 8}};
  for (std::int32_t i = 0; i < 3; ++i) {
    TVEZIndexColumn& column = *def.GetIndexColumn(i);
    column.FieldName = columns[i].name;
    column.Descending = columns[i].desc;
    column.CaseInsensitive = columns[i].ci;
    column.MaxIndexedSize = columns[i].size;
  }
  TVEZAdvIndexDef adv;
  VEZIndexDefToAdvIndexDef(def, adv);
  EXPECT_EQ(adv.Name, "ByAll");
  EXPECT_EQ(adv.Fields, "A;B;C");
  EXPECT_EQ(adv.DescFields, "A;C");
  EXPECT_EQ(adv.CaseInsFields, "B;C");
  EXPECT_EQ(adv.MaxIndexedSizes, "30;20;8");
  EXPECT_EQ(adv.Options, platform::ixUnique | platform::ixPrimary);
  EXPECT_TRUE(adv.Temporary);

  def.Unique = false;
  def.Primary = false;
  def.Temporary = false;
  def.GetIndexColumn(0)->Descending = false;
  def.GetIndexColumn(2)->Descending = false;
  VEZIndexDefToAdvIndexDef(def, adv);
  EXPECT_EQ(adv.DescFields, "");
  EXPECT_EQ(adv.Options, 0u);
  EXPECT_FALSE(adv.Temporary);
}

TEST(IndexConvertersTest, AdvancedToVclAddsOptionsWhenListsCoverEveryColumn) {
  struct Case {
    const char* label;
    const char* desc;
    const char* case_ins;
    platform::TIndexOptions options;
    platform::TIndexOptions expected;
  };
  const Case cases[] = {
      {"no lists", "", "", 0, 0},
      {"desc all, other case and blanks", " a;time ", "", 0, platform::ixDescending},
      {"both all", "A;Time", "A;TIME", platform::ixUnique,
       platform::ixUnique | platform::ixDescending | platform::ixCaseInsensitive},
      {"part of the columns", "A", "Time", platform::ixPrimary, platform::ixPrimary},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TVEZAdvIndexDefs adv;
    adv.Add("Primary", "A;Time", c.options, false, c.desc, c.case_ins, "30;20");
    platform::IndexDefs vcl;
    vcl.Add("Stale", "X");
    AdvIndexDefsToIndexDefs(adv, vcl);
    ASSERT_EQ(vcl.Count(), 1);
    const platform::IndexDef& def = vcl.Items(0);
    EXPECT_EQ(def.Name, "Primary");
    EXPECT_EQ(def.Fields, "A;Time");
    EXPECT_EQ(def.DescFields, c.desc);
    EXPECT_EQ(def.CaseInsFields, c.case_ins);
    EXPECT_EQ(def.Options, c.expected);
  }
}

// VCL -> adv -> engine -> table -> adv -> VCL.
TEST(IndexConvertersTest, VclIndexesRoundTripThroughATable) {
  platform::FieldDefs vcl;
  vcl.Add("ID", platform::ftAutoInc, 0, true);
  vcl.Add("Name", platform::ftString, 30);
  vcl.Add("Time", platform::ftDateTime);
  platform::IndexDefs vcl_indexes;
  vcl_indexes.Add("Primary", "ID", platform::ixPrimary | platform::ixUnique);
  vcl_indexes.Add("ByTime", "Time;ID", platform::ixDescending);
  platform::IndexDef& by_name = vcl_indexes.Add("ByName", "Name,ID", 0);
  by_name.DescFields = "ID";
  by_name.CaseInsFields = "name";

  TVEZAdvIndexDefs adv;
  IndexDefsToAdvIndexDefs(vcl_indexes, adv);
  ASSERT_EQ(adv.Count(), 3);
  EXPECT_EQ(adv.GetDef(2)->Fields, "Name,ID");
  EXPECT_EQ(adv.GetDef(2)->DescFields, "ID");
  EXPECT_EQ(adv.GetDef(2)->CaseInsFields, "name");
  EXPECT_FALSE(adv.GetDef(2)->Temporary);
  EXPECT_EQ(adv.GetDef(2)->MaxIndexedSizes, "");
  TVEZIndexDefs indexes;
  AdvIndexDefsToVEZIndexDefs(adv, indexes, vcl);
  TVEZAdvFieldDefs adv_fields;
  FieldDefsToAdvFieldDefs(vcl, adv_fields);
  TVEZFieldDefs fields;
  TVEZConstraintDefs constraints;
  AdvFieldDefsToVEZDefs(adv_fields, fields, indexes, constraints, false);
  TBuiltTable table("Runs", fields, indexes, constraints);

  TVEZAdvIndexDefs adv_back;
  VEZIndexDefsToAdvIndexDefs(table.Indexes(), adv_back);
  platform::IndexDefs vcl_back;
  AdvIndexDefsToIndexDefs(adv_back, vcl_back);
  ASSERT_EQ(vcl_back.Count(), 3);
  const struct {
    const char* name;
    const char* fields;
    const char* desc;
    const char* case_ins;
    platform::TIndexOptions options;
  } expected[] = {{"Primary", "ID", "", "", platform::ixPrimary | platform::ixUnique},
                  {"ByTime", "Time;ID", "Time;ID", "", platform::ixDescending},
                  {"ByName", "Name;ID", "ID", "Name", 0}};
  for (std::int32_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(expected[i].name);
    const platform::IndexDef& def = vcl_back.Items(i);
    EXPECT_EQ(def.Name, expected[i].name);
    EXPECT_EQ(def.Fields, expected[i].fields);
    EXPECT_EQ(def.DescFields, expected[i].desc);
    EXPECT_EQ(def.CaseInsFields, expected[i].case_ins);
    EXPECT_EQ(def.Options, expected[i].options);
    EXPECT_EQ(adv_back.GetDef(i)->MaxIndexedSizes, i == 0 ? "20" : "20;20");
  }
}

// ---------------------------------------------------------------------------
// The application's ten tables

struct AppColumn {
  const char* name;
  TFieldType type;
  int size;
  bool required;
};

struct AppTable {
  const char* name;
  std::vector<AppColumn> columns;
  const char* index_fields;  // the index "Primary", null for none
};

using platform::ftAutoInc, platform::ftBoolean, platform::ftDateTime, platform::ftFloat,
    platform::ftInteger, platform::ftString;

const AppTable kAppTables[] = {
    {"System",
     {{"Version", ftString, 20, true},
      {"ReportFolder", ftString, 150, false},
      {"SummaryOptions", ftInteger, 0, false},
      {"PowerChartOffset", ftFloat, 0, false},
      {"SpeedChartOffset", ftFloat, 0, false},
      {"TorqueChartOffset", ftFloat, 0, false},
      {"RunningAvgWindowSize", ftInteger, 0, false},
      {"RunningAvgMinDataSamplesInWindow", ftInteger, 0, false}},
     nullptr},
    {"Com", {{"ID", ftAutoInc, 0, true}, {"Mode", ftString, 40, false}}, "ID"},
    {"Vessels",
     {{"ID", ftAutoInc, 0, true},
      {"Name", ftString, 30, false},
      {"Shafts", ftInteger, 0, false},
      {"MCRPower", ftInteger, 0, false},
      {"MCRSpeed", ftInteger, 0, false},
      {"MCRTorque", ftInteger, 0, false},
      {"Units", ftString, 20, false}},
     "ID"},
    {"Trials",
     {{"ID", ftAutoInc, 0, true}, {"Name", ftString, 50, false}, {"VesselID", ftInteger, 0, false}},
     "ID"},
    {"Runs",
     {{"ID", ftAutoInc, 0, true},
      {"TrialID", ftInteger, 0, false},
      {"Name", ftString, 30, false},
      {"StartTime", ftDateTime, 0, false},
      {"StopTime", ftDateTime, 0, false},
      {"Comments", ftString, 500, false}},
     "ID"},
    {"Measurements",
     {{"ID", ftAutoInc, 0, true},
      {"RunID", ftInteger, 0, false},
      {"ShaftID", ftInteger, 0, false},
      {"AvgPower", ftFloat, 0, false},
      {"AvgSpeed", ftFloat, 0, false},
      {"AvgTorque", ftFloat, 0, false}},
     "ID"},
    {"Data",
     {{"ID", ftAutoInc, 0, true},
      {"MeasurementID", ftFloat, 0, false},
      {"Time", ftDateTime, 0, false},
      {"Power", ftFloat, 0, false},
      {"Speed", ftFloat, 0, false},
      {"Torque", ftFloat, 0, false},
      {"IsError", ftBoolean, 0, false}},
     "MeasurementID;Time"},
    {"ErrorLog",
     {{"ID", ftAutoInc, 0, true},
      {"Time", ftDateTime, 0, false},
      {"UnitName", ftString, 20, false},
      {"FunctionName", ftString, 20, false},
      {"Message", ftString, 60, false}},
     nullptr},
    {"auto",
     {{"ID", ftInteger, 0, false}, {"Port", ftInteger, 0, false}, {"Baud", ftInteger, 0, false}},
     "ID"},
    {"Demo",
     {{"ID", ftInteger, 0, false},
      {"TimerInterval", ftInteger, 0, false},
      {"Power", ftInteger, 0, false},
      {"Speed", ftInteger, 0, false},
      {"SpikeChance", ftFloat, 0, false}},
     "ID"},
};

// As the table component creates a table from VCL definitions.
void ConvertForCreate(const platform::FieldDefs& vcl, const platform::IndexDefs& vcl_indexes,
                      TVEZFieldDefs& fields, TVEZIndexDefs& indexes,
                      TVEZConstraintDefs& constraints) {
  TVEZAdvFieldDefs adv;
  FieldDefsToAdvFieldDefs(vcl, adv);
  TVEZAdvIndexDefs adv_indexes;
  IndexDefsToAdvIndexDefs(vcl_indexes, adv_indexes);
  AdvIndexDefsToVEZIndexDefs(adv_indexes, indexes, vcl);
  AdvFieldDefsToVEZDefs(adv, fields, indexes, constraints, false);
}

TEST(AppTablesTest, TheTenTablesConvertWithTheirConstraints) {
  for (const AppTable& t : kAppTables) {
    SCOPED_TRACE(t.name);
    platform::FieldDefs vcl;
    std::vector<std::string> required;
    for (const AppColumn& c : t.columns) {
      vcl.Add(c.name, c.type, c.size, c.required);
      if (c.required) required.push_back(c.name);
    }
    platform::IndexDefs vcl_indexes;
    if (t.index_fields != nullptr) vcl_indexes.Add("Primary", t.index_fields, 0);

    TVEZFieldDefs fields;
    TVEZIndexDefs indexes;
    TVEZConstraintDefs constraints;
    ConvertForCreate(vcl, vcl_indexes, fields, indexes, constraints);
    ASSERT_EQ(fields.GetCount(), static_cast<std::int32_t>(t.columns.size()));
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
      const TVEZFieldDef& f = *fields.GetDef(static_cast<std::int32_t>(i));
      EXPECT_EQ(f.Name, t.columns[i].name);
      EXPECT_EQ(f.AdvancedFieldType, VCLTypeToAdvancedType(t.columns[i].type));
      EXPECT_EQ(f.FieldSize, t.columns[i].size);
    }
    // Required columns give NOT NULL; an index without options gives no key.
    EXPECT_EQ(NotNullColumns(constraints), required);
    EXPECT_EQ(constraints.GetCount(), static_cast<std::int32_t>(required.size()));

    std::vector<std::string> index_fields;
    SplitFieldNames(&index_fields, t.index_fields == nullptr ? "" : t.index_fields);
    ASSERT_EQ(indexes.GetCount(), t.index_fields == nullptr ? 0 : 1);
    if (t.index_fields != nullptr) {
      const TVEZIndexDef& index = *indexes.GetIndexDef(0);
      EXPECT_EQ(index.Name, "Primary");
      EXPECT_FALSE(index.Primary);
      EXPECT_FALSE(index.Unique);
      ASSERT_EQ(index.ColumnCount(), static_cast<std::int32_t>(index_fields.size()));
      for (std::int32_t i = 0; i < index.ColumnCount(); ++i) {
        const TVEZIndexColumn& column = *index.GetIndexColumn(i);
        EXPECT_EQ(column.FieldName, index_fields[static_cast<std::size_t>(i)]);
        EXPECT_FALSE(column.Descending);
        EXPECT_FALSE(column.CaseInsensitive);
        EXPECT_EQ(column.MaxIndexedSize, 20);
      }
    }

    // The table takes them, links each constraint to its column and reads
    // back as declared.
    TBuiltTable table(t.name, fields, indexes, constraints);
    for (std::int32_t i = 0; i < table.Constraints().GetCount(); ++i) {
      const auto* not_null =
          static_cast<const TVEZConstraintDefNotNull*>(table.Constraints().GetDef(i));
      EXPECT_EQ(not_null->ColumnObjectID,
                table.Fields().GetFieldDefByName(not_null->ColumnName)->ObjectID);
    }
    platform::FieldDefs back;
    VEZFieldDefsToFieldDefs(table.Visible(), table.Fields(), table.Constraints(), back);
    ASSERT_EQ(back.Count(), vcl.Count());
    for (std::int32_t i = 0; i < back.Count(); ++i) {
      EXPECT_EQ(back.Items(i).Name, vcl.Items(i).Name);
      EXPECT_EQ(back.Items(i).DataType, vcl.Items(i).DataType);
      EXPECT_EQ(back.Items(i).Size, vcl.Items(i).Size);
      EXPECT_EQ(back.Items(i).Required,
                vcl.Items(i).Required && vcl.Items(i).DataType != ftAutoInc);
    }
  }
}

TEST(AppTablesTest, APrimaryIndexOnIDGivesItsKeyConstraint) {
  platform::FieldDefs vcl;
  vcl.Add("ID", ftAutoInc, 0, true);
  vcl.Add("Name", ftString, 30);
  platform::IndexDefs vcl_indexes;
  vcl_indexes.Add("Primary", "ID", platform::ixPrimary);
  TVEZFieldDefs fields;
  TVEZIndexDefs indexes;
  TVEZConstraintDefs constraints;
  ConvertForCreate(vcl, vcl_indexes, fields, indexes, constraints);
  ASSERT_EQ(constraints.GetCount(), 2);
  EXPECT_EQ(constraints.GetDef(0)->ConstraintType, ctNotNull);
  const auto* pk = dynamic_cast<const TVEZConstraintDefPrimary*>(constraints.GetDef(1));
  ASSERT_NE(pk, nullptr);
  EXPECT_EQ(pk->Name, "C_PK$ID");
  EXPECT_EQ(pk->IndexName, "Primary");
  ASSERT_EQ(pk->Columns.size(), 1u);
  EXPECT_EQ(pk->Columns[0].ColumnName, "ID");
}

}  // namespace
}  // namespace vez

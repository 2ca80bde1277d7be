// The dataset component's field values through the engine: NULLs, cut
// strings, the date and time forms, every integer width at both ends of its
// range (and one past them), a byte column, a small autoincrement column.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "dbengine/api/VEZDataSet.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/foundation/VEZException.h"
#include "platform/core/DateTime.h"
#include "tests/common/VEZTestDataSet.h"
#include "tests/dbengine/api/SessionTestSupport.h"

namespace vez::test {
namespace {

using platform::TDateTime;

void CreateValuesTable(TVEZDatabase& database) {
  TVEZFieldDefs fields;
  TVEZIndexDefs indexes;
  TVEZConstraintDefs constraints;
  AddColumn(fields, "ID", aftAutoIncShortint);
  AddColumn(fields, "S", aftString, 5);
  AddColumn(fields, "D", aftDate);
  AddColumn(fields, "T", aftTime);
  AddColumn(fields, "DT", aftDateTime);
  AddColumn(fields, "I8", aftShortint);
  AddColumn(fields, "I16", aftSmallint);
  AddColumn(fields, "I32", aftInteger);
  AddColumn(fields, "I64", aftLargeint);
  AddColumn(fields, "U8", aftByte);
  AddColumn(fields, "U16", aftWord);
  AddColumn(fields, "U32", aftCardinal);
  AddColumn(fields, "BY", aftBytes, 4);
  AddColumn(fields, "F", aftDouble);
  AddColumn(fields, "VB", aftVarBytes, 4);
  AddColumn(fields, "SG", aftSingle);
  TVEZIndexDef* index = indexes.AddCreated();
  index->Name = "IX_ID";
  index->AssignByNames({"ID"}, {""}, {""});
  CreateTable(database, "Vals", fields, indexes, constraints);
}

class DataSetFieldTest : public SessionLayerTest {
 protected:
  void SetUp() override {
    SessionLayerTest::SetUp();
    table_ = std::make_unique<TTestTable>();
    table_->SetDatabaseName("MEMORY");
    table_->TableName = "Vals";
    table_->IndexName = "IX_ID";
    table_->WithDatabase([](TVEZDatabase& db) { CreateValuesTable(db); });
    table_->Open();
  }
  void TearDown() override {
    table_.reset();
    SessionLayerTest::TearDown();
  }
  platform::Field& F(const char* name) { return table_->FieldByName(name); }

  std::unique_ptr<TTestTable> table_;
};

TEST_F(DataSetFieldTest, ANewRecordReadsNullAndAStringIsCutToItsSize) {
  table_->Append();
  table_->Post();
  for (const char* name :
       {"S", "D", "T", "DT", "I8", "I16", "I32", "I64", "U8", "U16", "U32", "BY", "F"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(F(name).IsNull());
  }
  EXPECT_EQ(F("ID").AsInteger(), 1);
  table_->Edit();
  F("S").SetAsString("abcdefgh");
  table_->Post();
  table_->Refresh();
  EXPECT_EQ(F("S").AsString(), "abcde");
}

TEST_F(DataSetFieldTest, DatesAndTimesKeepTheirEngineForms) {
  const TDateTime date = platform::EncodeDate(2016, 9, 20);
  const TDateTime time = platform::EncodeTime(12, 0, 0, 500);
  // Before 1899-12-30 the time of day is the absolute fraction.
  const TDateTime early = platform::EncodeDateTime(1899, 12, 29, 6, 0, 0, 0);
  table_->Append();
  F("D").SetAsDateTime(date);
  F("T").SetAsDateTime(time);
  F("DT").SetAsDateTime(early);
  table_->Post();
  table_->Close();
  table_->Open();
  EXPECT_EQ(F("D").AsDateTime(), date);
  EXPECT_EQ(F("T").AsDateTime(), time);
  EXPECT_EQ(F("DT").AsDateTime(), early);
  int y, mo, d, h, mi, s, ms;
  platform::DecodeDateTime(F("DT").AsDateTime(), y, mo, d, h, mi, s, ms);
  EXPECT_EQ(std::vector<int>({y, mo, d, h, mi}), std::vector<int>({1899, 12, 29, 6, 0}));

  std::int32_t day = 0, msecs = 0;
  ASSERT_TRUE(F("D").GetData(&day));
  EXPECT_EQ(day, platform::DateTimeToTimeStamp(date).Date);
  ASSERT_TRUE(F("T").GetData(&msecs));
  EXPECT_EQ(msecs, 12 * 3600000 + 500);
  // The stored form of the date-time column is the engine's day and
  // milliseconds pair.
  TVEZVariant value;
  table_->GetFieldValue(value, 4, true);
  ASSERT_FALSE(value.GetIsNull());
  const TVEZDateTime stored = TVEZDateTime::Decode(value.GetPData());
  EXPECT_EQ(stored.Date, platform::DateDelta - 1);
  EXPECT_EQ(stored.Time, 6 * 3600000);
}

struct TIntegerCase {
  const char* field;
  std::int64_t min;
  std::int64_t max;
};

TEST_F(DataSetFieldTest, ADateTimeConvertsBetweenTheDoubleAndTheEnginePair) {
  const TDateTime cases[] = {platform::EncodeDateTime(2016, 9, 20, 12, 0, 0, 500),
                             platform::EncodeDateTime(1899, 12, 29, 6, 0, 0, 0),
                             platform::EncodeDateTime(1, 1, 1, 0, 0, 0, 1)};
  for (const TDateTime value : cases) {
    SCOPED_TRACE(value);
    const platform::TTimeStamp want = platform::DateTimeToTimeStamp(value);
    std::uint8_t engine[TVEZDateTime::kSize] = {};
    table_->ConvertDateTimeValue(F("DT"), &value, true, engine);
    const TVEZDateTime pair = TVEZDateTime::Decode(engine);
    EXPECT_EQ(pair.Date, want.Date);
    EXPECT_EQ(pair.Time, want.Time);
    TDateTime back = 0;
    table_->ConvertDateTimeValue(F("DT"), engine, false, &back);
    EXPECT_EQ(back, value);
  }
}

TEST_F(DataSetFieldTest, EveryIntegerWidthHoldsBothEndsAndRefusesOnePast) {
  const TIntegerCase cases[] = {
      {"I8", INT8_MIN, INT8_MAX},    {"I16", INT16_MIN, INT16_MAX}, {"I32", INT32_MIN, INT32_MAX},
      {"I64", INT64_MIN, INT64_MAX}, {"U8", 0, UINT8_MAX},          {"U16", 0, UINT16_MAX},
      {"U32", 0, UINT32_MAX},
  };
  table_->Append();
  table_->Post();
  for (const TIntegerCase& c : cases) {
    SCOPED_TRACE(c.field);
    for (const std::int64_t v : {c.min, c.max}) {
      table_->Edit();
      F(c.field).SetAsLargeInt(v);
      table_->Post();
      table_->Refresh();
      EXPECT_EQ(F(c.field).AsLargeInt(), v);
    }
    // One past either end is refused by the field or by the column, and
    // the stored value stays.
    std::vector<std::int64_t> past;
    if (c.min > INT64_MIN) past.push_back(c.min - 1);
    if (c.max < INT64_MAX) past.push_back(c.max + 1);
    for (const std::int64_t v : past) {
      SCOPED_TRACE(v);
      table_->Edit();
      EXPECT_ANY_THROW(F(c.field).SetAsLargeInt(v));
      table_->Cancel();
      EXPECT_EQ(F(c.field).AsLargeInt(), c.max);
    }
  }
}

TEST_F(DataSetFieldTest, TheColumnRefusesWhatItsWiderFieldWouldTake) {
  table_->Append();
  for (const char* name : {"I8", "U8"}) {
    SCOPED_TRACE(name);
    try {
      F(name).SetAsInteger(300);
      FAIL() << "no error";
    } catch (const EVEZException& e) {
      EXPECT_EQ(e.NativeError(), 10008);
    }
    EXPECT_TRUE(F(name).IsNull());
  }
  table_->Cancel();
}

TEST_F(DataSetFieldTest, ASingleColumnRefusesWhatItWouldStoreAsInfinity) {
  const float max = std::numeric_limits<float>::max();
  table_->Append();
  F("SG").SetAsFloat(max);
  table_->Post();
  for (const double v : {1e300, -1e300, 2.0 * max}) {
    SCOPED_TRACE(v);
    table_->Edit();
    try {
      F("SG").SetAsFloat(v);
      FAIL() << "no error";
    } catch (const EVEZException& e) {
      EXPECT_EQ(e.NativeError(), 10008);
    }
    table_->Cancel();
    EXPECT_EQ(F("SG").AsFloat(), static_cast<double>(max));
  }
  table_->Edit();
  F("SG").SetAsFloat(-1.5);
  table_->Post();
  table_->Refresh();
  EXPECT_EQ(F("SG").AsFloat(), -1.5);
}

TEST_F(DataSetFieldTest, ABytesColumnKeepsItsSize) {
  table_->Append();
  const std::uint8_t bytes[4] = {1, 0, 255, 7};
  table_->SetFieldData(F("BY"), bytes);
  F("F").SetAsFloat(2.5);
  table_->Post();
  table_->Refresh();
  std::uint8_t read[6] = {9, 9, 9, 9, 9, 9};
  ASSERT_TRUE(table_->GetFieldData(F("BY"), read));
  EXPECT_EQ(std::vector<std::uint8_t>(read, read + 6),
            std::vector<std::uint8_t>({1, 0, 255, 7, 9, 9}));
  EXPECT_EQ(F("F").AsFloat(), 2.5);
}

TEST_F(DataSetFieldTest, AVariableLengthBytesColumnKeepsItsLengthAndEveryByte) {
  // Full length, trailing zeros, the end mark's own value, empty, too long.
  const std::vector<std::string> values = {std::string("\x01\x02\x03\x04", 4),
                                           std::string("\x05\x00\x00", 3),
                                           std::string("\x80\x00\x80\x80", 4),
                                           std::string("\x00", 1),
                                           std::string(),
                                           std::string("abcdef")};
  for (const std::string& value : values) {
    SCOPED_TRACE(testing::PrintToString(value));
    table_->Append();
    F("VB").SetAsString(value);
    table_->Post();
  }
  table_->Close();
  table_->Open();
  ASSERT_EQ(table_->RecordCount(), static_cast<int>(values.size()));
  for (const std::string& value : values) {
    SCOPED_TRACE(testing::PrintToString(value));
    ASSERT_FALSE(F("VB").IsNull());
    EXPECT_EQ(F("VB").AsString(), value.substr(0, 4));
    std::uint8_t raw[6] = {9, 9, 9, 9, 9, 9};
    ASSERT_TRUE(table_->GetFieldData(F("VB"), raw));
    EXPECT_EQ(raw[0] | (raw[1] << 8), static_cast<int>(std::min<std::size_t>(value.size(), 4)));
    table_->Next();
  }
  table_->First();
  table_->Edit();
  F("VB").Clear();
  table_->Post();
  EXPECT_TRUE(F("VB").IsNull());
}

TEST_F(DataSetFieldTest, ASmallAutoincrementColumnReadsIntoItsWholeBuffer) {
  for (int i = 0; i < 3; ++i) {
    table_->Append();
    table_->Post();
  }
  std::int32_t id = -1;
  ASSERT_TRUE(F("ID").GetData(&id));
  EXPECT_EQ(id, 3);
  table_->First();
  EXPECT_EQ(F("ID").AsInteger(), 1);
}

// A Cardinal autoincrement column shows through a signed 32-bit field: a
// value beyond it is refused on read rather than shown negative, and the
// engine-level value still has it whole.
TEST_F(DataSetFieldTest, ACardinalAutoincrementBeyondItsFieldIsRefusedNotWrapped) {
  table_->WithDatabase([](TVEZDatabase& db) {
    TVEZFieldDefs fields;
    TVEZIndexDefs indexes;
    TVEZConstraintDefs constraints;
    AddColumn(fields, "ID", aftAutoIncCardinal)->AutoincInitialValue = INT32_MAX - 1;
    AddColumn(fields, "V", aftInteger);
    TVEZIndexDef* index = indexes.AddCreated();
    index->Name = "IX_ID";
    index->AssignByNames({"ID"}, {""}, {""});
    CreateTable(db, "Big", fields, indexes, constraints);
  });
  TTestTable big;
  big.SetDatabaseName("MEMORY");
  big.TableName = "Big";
  big.IndexName = "IX_ID";
  big.Open();
  for (int i = 0; i < 2; ++i) {
    big.Append();
    big.FieldByName("V").SetAsInteger(i);
    big.Post();
  }
  big.First();
  EXPECT_EQ(big.FieldByName("ID").AsLargeInt(), INT32_MAX);
  big.Next();
  EXPECT_EQ(big.FieldByName("V").AsInteger(), 1);
  try {
    (void)big.FieldByName("ID").AsLargeInt();
    FAIL() << "no error";
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), 10008);
  }
  TVEZVariant value;
  big.GetFieldValue(value, 0, true);
  EXPECT_EQ(value.GetAsInt64(), std::int64_t{INT32_MAX} + 1);
}

TEST_F(DataSetFieldTest, WritingInBrowseStateRaises10007) {
  try {
    F("I32").SetAsInteger(1);
    FAIL() << "no error";
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), 10007);
  } catch (const platform::Exception&) {
    // The field layer may refuse it first.
  }
}

}  // namespace
}  // namespace vez::test

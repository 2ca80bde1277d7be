// The cursor base: typed field access on record buffers with null bits,
// dataset-form field data, string garbage, buffers and saved positions,
// projection, ranges, SQL filter binding, index name and field renaming.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "StorageTestDoubles.h"
#include "TableTestSupport.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZRecordBitmap.h"
#include "tests/common/NativeError.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

using test::TestCursor;

// A cursor over a table with one field of each kind and its record buffer.
class CursorTest : public ::testing::Test {
 protected:
  struct Column {
    const char* name;
    TVEZAdvancedFieldType type;
    std::int32_t size;
  };
  void SetUpTable(const std::vector<Column>& columns) {
    for (const auto& c : columns) {
      TVEZFieldDef* f = cursor_.FieldDefs().AddCreated();
      f->Name = c.name;
      f->SetFieldDefDataType(c.type, c.size);
    }
    cursor_.SetUpLayout();
    cursor_.ShowAllFields();
    buffer_ = cursor_.AllocateRecordBuffer();
    cursor_.InternalInitRecord(buffer_, true);
    cursor_.CurrentRecordBuffer = buffer_;
  }
  void TearDown() override { cursor_.FreeRecordBuffer(buffer_); }

  std::int32_t Offset(std::int32_t field) const {
    return cursor_.FieldDefs().GetDef(field)->MemoryOffset;
  }

  TestCursor cursor_;
  std::uint8_t* buffer_ = nullptr;
};

TEST_F(CursorTest, SetAndGetEveryBaseTypeWithTheNullBit) {
  struct Row {
    Column column;
    std::function<void(TVEZVariant&)> set;
    std::function<void(const TVEZVariant&)> check;
  };
  TVEZDateTime stamp{739000, 45296789};
  const std::vector<Row> rows = {
      {{"CH", aftChar, 3},
       [](TVEZVariant& v) { v.SetAsAnsiString("ab"); },
       [](const TVEZVariant& v) { EXPECT_EQ(v.GetAsAnsiString(), "ab"); }},
      {{"VC", aftString, 10},
       [](TVEZVariant& v) { v.SetAsAnsiString("abc"); },
       [](const TVEZVariant& v) {
         EXPECT_EQ(v.GetAsAnsiString(), "abc");
         EXPECT_EQ(v.StrLen(), 3);  // the value ends at its terminator
       }},
      {{"WC", aftWideChar, 2},
       [](TVEZVariant& v) { v.SetAsWideString(u"\u00e9"); },
       [](const TVEZVariant& v) { EXPECT_EQ(v.GetAsWideString(), u"\u00e9"); }},
      {{"WV", aftWideString, 5},
       [](TVEZVariant& v) { v.SetAsWideString(u"h\u20acy"); },
       [](const TVEZVariant& v) {
         EXPECT_EQ(v.GetAsWideString(), u"h\u20acy");
         EXPECT_EQ(v.StrLen(), 3);
       }},
      {{"I8", aftShortint, 0},
       [](TVEZVariant& v) { v.SetAsShortint(-5); },
       [](const TVEZVariant& v) { EXPECT_EQ(v.GetAsShortint(), -5); }},
      {{"I16", aftSmallint, 0},
       [](TVEZVariant& v) { v.SetAsSmallint(-300); },
       [](const TVEZVariant& v) { EXPECT_EQ(v.GetAsSmallint(), -300); }},
      {{"I32", aftInteger, 0},
       [](TVEZVariant& v) { v.SetAsInteger(-123456); },
       [](const TVEZVariant& v) { EXPECT_EQ(v.GetAsInteger(), -123456); }},
      {{"I64", aftLargeint, 0},
       [](TVEZVariant& v) { v.SetAsInt64(-(1LL << 40)); },
       [](const TVEZVariant& v) { EXPECT_EQ(v.GetAsInt64(), -(1LL << 40)); }},
      {{"U8", aftByte, 0},
       [](TVEZVariant& v) { v.SetAsByte(200); },
       [](const TVEZVariant& v) { EXPECT_EQ(v.GetAsByte(), 200); }},
      {{"U16", aftWord, 0},
       [](TVEZVariant& v) { v.SetAsWord(60000); },
       [](const TVEZVariant& v) { EXPECT_EQ(v.GetAsWord(), 60000); }},
      {{"U32", aftCardinal, 0},
       [](TVEZVariant& v) { v.SetAsCardinal(4000000000u); },
       [](const TVEZVariant& v) { EXPECT_EQ(v.GetAsCardinal(), 4000000000u); }},
      {{"SG", aftSingle, 0},
       [](TVEZVariant& v) { v.SetAsSingle(1.5f); },
       [](const TVEZVariant& v) { EXPECT_EQ(v.GetAsSingle(), 1.5f); }},
      {{"DB", aftDouble, 0},
       [](TVEZVariant& v) { v.SetAsDouble(-2.25); },
       [](const TVEZVariant& v) { EXPECT_EQ(v.GetAsDouble(), -2.25); }},
      {{"EX", aftExtended, 0},
       [](TVEZVariant& v) { v.SetAsExtended(3.5L); },
       [](const TVEZVariant& v) { EXPECT_EQ(v.GetAsExtended(), 3.5L); }},
      {{"LG", aftBoolean, 0},
       [](TVEZVariant& v) { v.SetAsBoolean(true); },
       [](const TVEZVariant& v) { EXPECT_TRUE(v.GetAsBoolean()); }},
      {{"CU", aftCurrency, 0},
       [](TVEZVariant& v) { v.SetAsCurrency(12.5); },
       [](const TVEZVariant& v) { EXPECT_EQ(v.GetAsCurrency(), 12.5); }},
      {{"DT", aftDate, 0},
       [](TVEZVariant& v) { v.SetAsVEZDate(739000); },
       [](const TVEZVariant& v) { EXPECT_EQ(v.GetAsVEZDate(), 739000); }},
      {{"TM", aftTime, 0},
       [](TVEZVariant& v) { v.SetAsVEZTime(3600000); },
       [](const TVEZVariant& v) { EXPECT_EQ(v.GetAsVEZTime(), 3600000); }},
      {{"TS", aftDateTime, 0},
       [stamp](TVEZVariant& v) { v.SetAsVEZDateTime(stamp); },
       [stamp](const TVEZVariant& v) { EXPECT_EQ(v.GetAsVEZDateTime(), stamp); }},
      {{"BY", aftBytes, 3},
       [](TVEZVariant& v) {
         const std::uint8_t raw[4] = {1, 2, 3, 4};
         v.SetData(raw, 4, bftBytes, true);
       },
       [](const TVEZVariant& v) {
         ASSERT_EQ(v.GetDataSize(), 4);
         EXPECT_EQ(std::memcmp(v.GetPData(), "\x01\x02\x03\x04", 4), 0);
       }},
      {{"CAST", aftInteger, 0},
       [](TVEZVariant& v) { v.SetAsAnsiString("77"); },
       [](const TVEZVariant& v) {  // converted to the field's type on the way in
         EXPECT_EQ(v.GetDataType(), bftSignedInt32);
         EXPECT_EQ(v.GetAsInteger(), 77);
       }},
  };
  std::vector<Column> columns;
  for (const auto& r : rows)
    columns.push_back(r.column);
  SetUpTable(columns);

  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].column.name);
    const auto n = static_cast<std::int32_t>(i);
    const bool direct = i % 2 == 0;  // physical and visible numbers alike
    ASSERT_TRUE(GetBufferBit(n, buffer_));
    TVEZVariant value;
    rows[i].set(value);
    cursor_.SetFieldValue(value, n, direct, nullptr);
    EXPECT_FALSE(GetBufferBit(n, buffer_));
    TVEZVariant read;
    cursor_.GetFieldValue(read, n, !direct);
    ASSERT_FALSE(read.GetIsNull());
    EXPECT_EQ(read.GetDataType(), cursor_.FieldDefs().GetDef(n)->BaseFieldType);
    rows[i].check(read);
    // The next field is still NULL.
    if (i + 1 < rows.size()) {
      EXPECT_TRUE(GetBufferBit(n + 1, buffer_));
    }

    // NULL sets the bit and leaves the bytes.
    std::vector<std::uint8_t> before(
        buffer_ + Offset(n), buffer_ + Offset(n) + cursor_.FieldDefs().GetDef(n)->MemoryDataSize);
    TVEZVariant null_value;
    cursor_.SetFieldValue(null_value, n, direct, nullptr);
    EXPECT_TRUE(GetBufferBit(n, buffer_));
    EXPECT_EQ(std::memcmp(before.data(), buffer_ + Offset(n), before.size()), 0);
    TVEZVariant read_null;
    read_null.SetAsInteger(1);
    cursor_.GetFieldValue(read_null, n, direct);
    EXPECT_TRUE(read_null.GetIsNull());
  }
}

TEST_F(CursorTest, RefusedValueLeavesTheRecordAsItWas) {
  SetUpTable({{"S", aftString, 3}, {"N", aftInteger, 0}});
  TVEZVariant v;
  v.SetAsAnsiString("abc");
  cursor_.SetFieldValue(v, 0, true);
  std::vector<std::uint8_t> before(buffer_, buffer_ + cursor_.RecordSize);

  TVEZVariant too_long;
  too_long.SetAsAnsiString("abcd");
  EXPECT_EQ(NativeErrorOf([&] { cursor_.SetFieldValue(too_long, 0, true); }), 20056);
  TVEZVariant not_a_number;
  not_a_number.SetAsAnsiString("x1");
  EXPECT_THROW(cursor_.SetFieldValue(not_a_number, 1, true), EVEZException);
  EXPECT_EQ(std::memcmp(before.data(), buffer_, before.size()), 0);
}

TEST_F(CursorTest, EmptyStringReplacesTheOldText) {
  SetUpTable({{"S", aftString, 5}, {"W", aftWideString, 5}});
  TVEZVariant v;
  v.SetAsAnsiString("abc");
  cursor_.SetFieldValue(v, 0, true);
  v.SetAsWideString(u"abc");
  cursor_.SetFieldValue(v, 1, true);
  const std::uint8_t narrow_empty[1] = {0};
  const std::uint8_t wide_empty[2] = {0, 0};
  TVEZVariant empty;
  empty.SetData(narrow_empty, 1, bftVarchar, true);
  cursor_.SetFieldValue(empty, 0, true);
  empty.SetData(wide_empty, 2, bftWideVarchar, true);
  cursor_.SetFieldValue(empty, 1, true);
  TVEZVariant read;
  cursor_.GetFieldValue(read, 0, true);
  EXPECT_EQ(read.GetAsAnsiString(), "");
  cursor_.GetFieldValue(read, 1, true);
  EXPECT_EQ(read.GetAsWideString(), u"");
}

TEST_F(CursorTest, FieldNumbersAreCheckedAtBothEnds) {
  SetUpTable({{"A", aftInteger, 0}, {"B", aftInteger, 0}, {"C", aftInteger, 0}});
  cursor_.ApplyProjection({"C", "A"}, {"", ""});  // two visible of three physical
  std::uint8_t data[8] = {};
  TVEZVariant v;
  v.SetAsInteger(1);
  struct Row {
    const char* name;
    std::function<void()> call;
    std::int32_t error;
  };
  const std::vector<Row> rows = {
      {"GetFieldData = visible count", [&] { cursor_.GetFieldData(2, data, buffer_); }, 10005},
      {"GetFieldData -1", [&] { cursor_.GetFieldData(-1, data, buffer_); }, 10005},
      {"SetFieldData = visible count", [&] { cursor_.SetFieldData(2, data, buffer_); }, 10006},
      {"SetFieldData -1", [&] { cursor_.SetFieldData(-1, data, buffer_); }, 10006},
      {"GetFieldValue physical 3", [&] { cursor_.GetFieldValue(v, 3, true); }, 20191},
      {"GetFieldValue physical -1", [&] { cursor_.GetFieldValue(v, -1, true); }, 20191},
      {"GetFieldValue visible 2", [&] { cursor_.GetFieldValue(v, 2, false); }, 10317},
      {"GetFieldValue visible -1", [&] { cursor_.GetFieldValue(v, -1, false); }, 10317},
      {"SetFieldValue physical 3", [&] { cursor_.SetFieldValue(v, 3, true); }, 20192},
      {"SetFieldValue visible 2", [&] { cursor_.SetFieldValue(v, 2, false); }, 20193},
      {"SetFieldValue visible -7", [&] { cursor_.SetFieldValue(v, -7, false); }, 20193},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(NativeErrorOf(r.call), r.error);
  }

  // One less than the visible count reads the last visible field (A).
  cursor_.SetFieldValue(v, 1, false);
  std::int32_t out = 0;
  EXPECT_TRUE(cursor_.GetFieldData(1, &out, buffer_));
  EXPECT_EQ(out, 1);
  EXPECT_FALSE(cursor_.GetFieldData(0, &out, buffer_));  // C is NULL

  cursor_.CurrentRecordBuffer = nullptr;
  EXPECT_EQ(NativeErrorOf([&] { cursor_.GetFieldValue(v, 0, true); }), 20191);
  EXPECT_EQ(NativeErrorOf([&] { cursor_.SetFieldValue(v, 0, true); }), 20192);
}

TEST_F(CursorTest, FieldDataInDatasetForm) {
  SetUpTable({{"I8", aftShortint, 0},
              {"U32", aftCardinal, 0},
              {"SG", aftSingle, 0},
              {"EX", aftExtended, 0},
              {"S", aftString, 4},
              {"B", aftBlob, 0}});
  const std::int16_t shortint = -5;
  const std::int64_t cardinal = 4000000000LL;
  const double single = 0.25, extended = -1.5;
  cursor_.SetFieldData(0, &shortint, buffer_);
  cursor_.SetFieldData(1, &cardinal, buffer_);
  cursor_.SetFieldData(2, &single, buffer_);
  cursor_.SetFieldData(3, &extended, buffer_);
  EXPECT_EQ(buffer_[Offset(0)], 0xFB);  // one stored byte
  TVEZVariant v;
  cursor_.GetFieldValue(v, 3, true);
  EXPECT_EQ(v.GetAsExtended(), -1.5L);

  std::int16_t out16 = 0;
  std::int64_t out64 = 0;
  double outd = 0;
  EXPECT_TRUE(cursor_.GetFieldData(0, &out16, buffer_));
  EXPECT_EQ(out16, -5);
  EXPECT_TRUE(cursor_.GetFieldData(1, &out64, buffer_));
  EXPECT_EQ(out64, 4000000000LL);
  EXPECT_TRUE(cursor_.GetFieldData(2, &outd, buffer_));
  EXPECT_EQ(outd, 0.25);
  EXPECT_TRUE(cursor_.GetFieldData(3, &outd, buffer_));
  EXPECT_EQ(outd, -1.5);

  // Empty text is NULL, one blank is not; a null buffer stores NULL.
  cursor_.SetFieldData(4, "", buffer_);
  EXPECT_TRUE(GetBufferBit(4, buffer_));
  cursor_.SetFieldData(4, " \0\0\0", buffer_);
  EXPECT_FALSE(GetBufferBit(4, buffer_));
  cursor_.SetFieldData(4, nullptr, buffer_);
  EXPECT_TRUE(GetBufferBit(4, buffer_));

  // NULL answers false and leaves the buffer; a null buffer only asks.
  std::int16_t untouched = 99;
  SetBufferBit(true, 0, buffer_);
  EXPECT_FALSE(cursor_.GetFieldData(0, &untouched, buffer_));
  EXPECT_EQ(untouched, 99);
  EXPECT_TRUE(cursor_.GetFieldData(1, nullptr, buffer_));

  // A BLOB with a value answers true and copies nothing.
  SetBufferBit(false, 5, buffer_);
  std::uint8_t blob_out[10] = {7, 7, 7, 7, 7, 7, 7, 7, 7, 7};
  EXPECT_TRUE(cursor_.GetFieldData(5, blob_out, buffer_));
  EXPECT_EQ(blob_out[0], 7);
}

TEST_F(CursorTest, ClearStringFieldsGarbage) {
  SetUpTable({{"S", aftString, 5}, {"W", aftWideString, 4}, {"N", aftInteger, 0}});
  TVEZVariant v;
  v.SetAsAnsiString("abcde");
  cursor_.SetFieldValue(v, 0, true);
  v.SetAsAnsiString("x");
  cursor_.SetFieldValue(v, 0, true);
  v.SetAsWideString(u"wxyz");
  cursor_.SetFieldValue(v, 1, true);
  v.SetAsWideString(u"q");
  cursor_.SetFieldValue(v, 1, true);
  // x \0 c d e \0 remain until the garbage is cleared.
  EXPECT_EQ(buffer_[Offset(0) + 2], 'c');
  EXPECT_EQ(buffer_[Offset(1) + 4], 'y');

  std::uint8_t* other = cursor_.AllocateRecordBuffer();
  cursor_.InternalInitRecord(other, true);
  v.SetAsAnsiString("x");
  cursor_.SetFieldValue(v, 0, true, other);
  v.SetAsWideString(u"q");
  cursor_.SetFieldValue(v, 1, true, other);
  EXPECT_NE(std::memcmp(buffer_, other, cursor_.RecordSize), 0);
  cursor_.ClearStringFieldsGarbage(buffer_);
  cursor_.ClearStringFieldsGarbage(other);
  EXPECT_EQ(std::memcmp(buffer_, other, cursor_.RecordSize), 0);

  // A NULL string field that held abc is zero-filled.
  v.SetAsAnsiString("abc");
  cursor_.SetFieldValue(v, 0, true);
  TVEZVariant null_value;
  cursor_.SetFieldValue(null_value, 0, true);
  EXPECT_EQ(buffer_[Offset(0)], 'a');
  cursor_.ClearStringFieldsGarbage(buffer_);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(buffer_[Offset(0) + i], 0) << i;

  // A field without a terminator is left alone (the scan stays inside it),
  // and a value read from it is cut to the field.
  std::memset(buffer_ + Offset(0), 'z', 6);
  SetBufferBit(false, 0, buffer_);
  cursor_.ClearStringFieldsGarbage(buffer_);
  EXPECT_EQ(buffer_[Offset(0) + 5], 'z');
  cursor_.GetFieldValue(v, 0, true);
  EXPECT_EQ(v.GetAsAnsiString(), "zzzzz");
  cursor_.FreeRecordBuffer(other);
  EXPECT_EQ(other, nullptr);
}

TEST_F(CursorTest, Projection) {
  SetUpTable({{"A", aftInteger, 0}, {"B", aftString, 3}, {"C", aftInteger, 0}});
  auto names = [&] {
    std::vector<std::string> out;
    for (std::int32_t i = 0; i < cursor_.VisibleFieldDefs().Count(); ++i)
      out.push_back(cursor_.VisibleFieldDefs().GetDef(i)->Name);
    return out;
  };
  cursor_.ApplyProjection({"A", "b"}, {"X", "X"});
  EXPECT_EQ(names(), (std::vector<std::string>{"X", "X_1"}));
  EXPECT_EQ(cursor_.VisibleFieldDefs().GetDef(1)->FieldNoReference, 1);
  EXPECT_EQ(cursor_.VisibleFieldDefs().GetDef(1)->BaseFieldType, bftVarchar);

  cursor_.ApplyProjection({"C", "A", "B"}, {"", "", ""});
  EXPECT_EQ(names(), (std::vector<std::string>{"C", "A", "B"}));
  EXPECT_EQ(cursor_.VisibleFieldDefs().GetDef(0)->FieldNoReference, 2);

  // An alias that is a field name already taken by an earlier visible def.
  cursor_.ApplyProjection({"A", "B", "C"}, {"", "A", "a"});
  EXPECT_EQ(names(), (std::vector<std::string>{"A", "A_1", "a_2"}));

  // Long aliases keep their suffix within 255 characters.
  const std::string long_alias(255, 'L');
  cursor_.ApplyProjection({"A", "B"}, {long_alias, long_alias});
  EXPECT_EQ(names()[0], long_alias);
  EXPECT_EQ(names()[1], std::string(253, 'L') + "_1");

  EXPECT_EQ(NativeErrorOf([&] { cursor_.ApplyProjection({"A"}, {}); }), 10321);
  EXPECT_EQ(NativeErrorOf([&] { cursor_.ApplyProjection({}, {}); }), 10322);
  EXPECT_EQ(NativeErrorOf([&] { cursor_.ApplyProjection({"A", "Z", "B"}, {"", "", ""}); }), 10323);
  EXPECT_EQ(names(), (std::vector<std::string>{"A"}));  // the defs added so far stay
}

TEST_F(CursorTest, BuffersAndPositions) {
  SetUpTable({{"A", aftInteger, 0}, {"B", aftString, 3}});
  EXPECT_EQ(MemoryManager().GetMemoryBufferSize(buffer_), cursor_.RecordBufferSize);
  std::uint8_t* key = cursor_.AllocateKeyRecordBuffer();
  EXPECT_EQ(MemoryManager().GetMemoryBufferSize(key), cursor_.KeyBufferSize);
  std::memset(key, 0xAB, static_cast<std::size_t>(cursor_.KeyBufferSize));
  cursor_.InternalInitKeyBuffer(key);
  EXPECT_TRUE(GetBufferBit(0, key) && GetBufferBit(1, key));
  EXPECT_EQ(key[cursor_.KeyBufferSize - 1], 0);  // past the record: zero-filled
  cursor_.FreeRecordBuffer(key);

  cursor_.FirstPosition = false;
  cursor_.LastPosition = true;
  cursor_.CurrentRecordID = {123456, 789};
  void* pos = cursor_.SavePosition();
  EXPECT_EQ(MemoryManager().GetMemoryBufferSize(pos), 8);
  cursor_.LastPosition = false;
  cursor_.FirstPosition = true;
  cursor_.CurrentRecordID = {1, 1};
  cursor_.RestorePosition(pos);
  EXPECT_FALSE(cursor_.FirstPosition);
  EXPECT_TRUE(cursor_.LastPosition);
  EXPECT_EQ(cursor_.CurrentRecordID, (TVEZPageItemID{123456, 789}));
  cursor_.FreePosition(pos);
  EXPECT_EQ(pos, nullptr);
  cursor_.FreePosition(pos);  // nothing for null
}

TEST_F(CursorTest, RangeFiltersAndRecordBitmap) {
  SetUpTable({{"A", aftInteger, 0}});
  EXPECT_FALSE(cursor_.IsViewRestricted());
  std::uint8_t start[8] = {}, end[8] = {};
  cursor_.ApplyRange(start, end, 1, 2, true, false);  // no bitmap to clear
  EXPECT_TRUE(cursor_.IsRangeApplied());
  EXPECT_TRUE(cursor_.IsViewRestricted());
  EXPECT_EQ(cursor_.RangeStartBuffer, start);
  EXPECT_EQ(cursor_.RangeEndKeyFieldCount, 2);
  EXPECT_TRUE(cursor_.RangeStartExclusive);
  EXPECT_FALSE(cursor_.RangeEndExclusive);

  // A change of range empties the cursor's bitmap, to be rebuilt when next
  // needed.
  test::TTestDatabaseData db;
  test::TTestTableData table(&db);
  TVEZRecordBitmap bitmap(&table);
  const auto fill = [&] {
    bitmap.SetSize(10);
    bitmap.SetAllBits();
    bitmap.Active = true;
  };
  cursor_.RecordBitmap = &bitmap;
  fill();
  cursor_.ResetRange();
  EXPECT_FALSE(bitmap.Active);
  EXPECT_EQ(bitmap.Size(), 0);
  EXPECT_FALSE(cursor_.IsRangeApplied());
  fill();
  cursor_.ApplyRange(nullptr, end, 0, 1, false, true);
  EXPECT_FALSE(bitmap.Active);
  EXPECT_EQ(bitmap.GetRecordCount(), 0);
  cursor_.RecordBitmap = nullptr;

  cursor_.ResetRange();
  cursor_.DistinctFieldCount = 1;
  EXPECT_TRUE(cursor_.IsDistinctApplied() && cursor_.IsViewRestricted());
  cursor_.DistinctFieldCount = 0;
  cursor_.FilterRecord = [](std::uint8_t*, void*) { return true; };
  EXPECT_TRUE(cursor_.IsFilterApplied());
  cursor_.FilterRecord = nullptr;
  EXPECT_FALSE(cursor_.IsViewRestricted());

  test::FakeExpression filter;
  TestCursor parent;
  cursor_.SetSQLFilter(&filter, nullptr, &parent);
  EXPECT_EQ(cursor_.SQLFilterExpression, &filter);
  EXPECT_EQ(filter.bound_cursor, &cursor_);
  EXPECT_EQ(filter.bound_parent_cursor, &parent);
  EXPECT_TRUE(cursor_.IsFilterApplied());
  cursor_.SetSQLFilter(nullptr, nullptr, nullptr);
  EXPECT_EQ(cursor_.SQLFilterExpression, nullptr);
  EXPECT_EQ(filter.assign_cursor_calls, 1);
}

TEST_F(CursorTest, IndexNameAndRenameField) {
  SetUpTable({{"A", aftInteger, 0}, {"B", aftInteger, 0}});
  TVEZIndexDef* idx = cursor_.IndexDefs().AddCreated();
  idx->Name = "ByA";
  idx->ObjectID = 42;
  EXPECT_EQ(cursor_.GetIndexDefs(), &cursor_.IndexDefs());
  cursor_.SetIndexName("BYA");
  EXPECT_EQ(cursor_.IndexID, 42);
  EXPECT_TRUE(cursor_.IsIndexApplied());
  cursor_.SetIndexName("Nope");
  EXPECT_EQ(cursor_.IndexID, -1);
  EXPECT_EQ(cursor_.IndexName(), "Nope");

  EXPECT_EQ(NativeErrorOf([&] { cursor_.RenameField("Z", "Y"); }), 30345);
  EXPECT_EQ(NativeErrorOf([&] { cursor_.RenameField("A", "b"); }), 30346);
  cursor_.RenameField("a", std::string(300, 'R'));
  EXPECT_EQ(cursor_.FieldDefs().GetDef(0)->Name, std::string(255, 'R'));
  EXPECT_EQ(cursor_.VisibleFieldDefs().GetDef(0)->Name, "A");  // only the physical defs
  // A name that, cut to 255 characters, is the one A now has is taken.
  EXPECT_EQ(NativeErrorOf([&] { cursor_.RenameField("B", std::string(256, 'r')); }), 30346);
  EXPECT_EQ(cursor_.FieldDefs().GetDef(1)->Name, "B");
}

}  // namespace
}  // namespace vez

// Field manager: record layouts over every column type, the memory/disk move,
// defaults, autoincrement counters and the most-updated block.
#include "dbengine/storage/VEZFieldManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "platform/core/Exceptions.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/StorageTestDoubles.h"
#include "tests/dbengine/storage/TableTestSupport.h"

namespace vez::test {
namespace {

struct LayoutRow {
  TVEZAdvancedFieldType type;
  std::int32_t size;
  std::int32_t memory;  // MemoryDataSize
  std::int32_t disk;    // DiskDataSize
};

// Every column type with the bytes it takes in each form.
const LayoutRow kLayout[] = {
    {aftChar, 10, 11, 11},
    {aftString, 10, 11, 11},
    {aftWideChar, 10, 22, 22},
    {aftWideString, 10, 22, 22},
    {aftShortint, 0, 1, 1},
    {aftSmallint, 0, 2, 2},
    {aftInteger, 0, 4, 4},
    {aftLargeint, 0, 8, 8},
    {aftByte, 0, 1, 1},
    {aftWord, 0, 2, 2},
    {aftCardinal, 0, 4, 4},
    {aftAutoInc, 0, 4, 4},
    {aftAutoIncShortint, 0, 1, 1},
    {aftAutoIncSmallint, 0, 2, 2},
    {aftAutoIncInteger, 0, 4, 4},
    {aftAutoIncLargeint, 0, 8, 8},
    {aftAutoIncByte, 0, 1, 1},
    {aftAutoIncWord, 0, 2, 2},
    {aftAutoIncCardinal, 0, 4, 4},
    {aftSingle, 0, 4, 4},
    {aftDouble, 0, 8, 8},
    {aftExtended, 0, 10, 10},
    {aftBoolean, 0, 2, 2},
    {aftCurrency, 0, 8, 8},
    {aftDate, 0, 4, 4},
    {aftTime, 0, 4, 4},
    {aftDateTime, 0, 8, 8},
    {aftTimeStamp, 0, 8, 8},
    {aftBytes, 10, 11, 11},
    {aftVarBytes, 10, 11, 11},
    {aftBlob, 0, 10, 6},
    {aftGraphic, 0, 10, 6},
    {aftMemo, 0, 10, 6},
    {aftFormattedMemo, 0, 10, 6},
    {aftWideMemo, 0, 10, 6},
    {aftGuid, 38, 39, 39},
};

TEST(FieldManagerLayout, EveryTypeLaidOutInBothForms) {
  TVEZBaseFieldManager fm(nullptr);
  std::int32_t n = 0;
  for (const LayoutRow& row : kLayout)
    AddField(fm.FieldDefs(), "F" + std::to_string(n++), row.type, row.size);
  fm.RecalcFieldOffsets();
  const std::int32_t bitmap = (n + 7) / 8;
  ASSERT_EQ(bitmap, 5);
  ASSERT_EQ(fm.FieldDefs().NullBitmapSize(), bitmap);
  std::int32_t mem = bitmap, disk = bitmap;
  for (std::int32_t i = 0; i < n; ++i) {
    SCOPED_TRACE(AdvancedTypeToSQLTypeName(kLayout[i].type));
    const TVEZFieldDef& def = *fm.FieldDefs().GetDef(i);
    EXPECT_EQ(def.MemoryDataSize, kLayout[i].memory);
    EXPECT_EQ(def.DiskDataSize, kLayout[i].disk);
    EXPECT_EQ(def.MemoryOffset, mem);
    EXPECT_EQ(def.DiskOffset, disk);
    mem += kLayout[i].memory;
    disk += kLayout[i].disk;
  }
  EXPECT_EQ(fm.FieldDefs().GetMemoryRecordBufferSize(), mem);
  EXPECT_EQ(fm.FieldDefs().GetDiskRecordBufferSize(), disk);

  // Memory -> disk -> memory keeps everything but the 4 memory-only bytes of
  // each BLOB field, which come back zero.
  Bytes record(static_cast<std::size_t>(mem));
  for (std::size_t i = 0; i < record.size(); ++i)
    record[i] = static_cast<std::uint8_t>(i * 7 + 1);
  Bytes disk_record(static_cast<std::size_t>(disk), 0xEE);
  Bytes back(static_cast<std::size_t>(mem), 0xEE);
  fm.MemRecordBufferToDiskRecordBuffer(record.data(), disk_record.data());
  fm.DiskRecordBufferToMemRecordBuffer(disk_record.data(), back.data());
  EXPECT_EQ(std::memcmp(back.data(), record.data(), static_cast<std::size_t>(bitmap)), 0);
  for (std::int32_t i = 0; i < n; ++i) {
    SCOPED_TRACE(i);
    const TVEZFieldDef& def = *fm.FieldDefs().GetDef(i);
    EXPECT_EQ(std::memcmp(disk_record.data() + def.DiskOffset, record.data() + def.MemoryOffset,
                          static_cast<std::size_t>(def.DiskDataSize)),
              0);
    EXPECT_EQ(std::memcmp(back.data() + def.MemoryOffset, record.data() + def.MemoryOffset,
                          static_cast<std::size_t>(def.DiskDataSize)),
              0);
    for (std::int32_t b = def.DiskDataSize; b < def.MemoryDataSize; ++b)
      EXPECT_EQ(back[static_cast<std::size_t>(def.MemoryOffset + b)], 0);
  }
  EXPECT_TRUE(fm.CompareRecordBuffers(record.data(), back.data()));
}

// Disk to memory clears every byte the fields do not fill, whether the
// fields lie end to end (as laid out) or an offset leaves a gap between them.
TEST(FieldManagerLayout, DiskToMemoryClearsWhatNoFieldFills) {
  for (const bool gap : {false, true}) {
    SCOPED_TRACE(gap ? "gap after the first field" : "end to end");
    TVEZBaseFieldManager fm(nullptr);
    AddField(fm.FieldDefs(), "A", aftInteger);
    AddField(fm.FieldDefs(), "B", aftBlob);
    AddField(fm.FieldDefs(), "C", aftDouble);
    fm.RecalcFieldOffsets();
    if (gap) {
      fm.FieldDefs().GetDef(1)->MemoryOffset += 3;
      fm.FieldDefs().GetDef(2)->MemoryOffset += 3;
    }
    const TVEZFieldDef& last = *fm.FieldDefs().GetDef(2);
    const auto mem = static_cast<std::size_t>(last.MemoryOffset + last.MemoryDataSize);
    Bytes disk_record(static_cast<std::size_t>(fm.FieldDefs().GetDiskRecordBufferSize()), 0xAB);
    Bytes back(std::max(mem, static_cast<std::size_t>(fm.FieldDefs().GetMemoryRecordBufferSize())),
               0xEE);
    fm.DiskRecordBufferToMemRecordBuffer(disk_record.data(), back.data());
    Bytes expected(back.size(), 0);
    std::fill_n(expected.begin(), fm.FieldDefs().NullBitmapSize(), 0xAB);
    for (std::int32_t i = 0; i < 3; ++i) {
      const TVEZFieldDef& def = *fm.FieldDefs().GetDef(i);
      std::fill_n(expected.begin() + def.MemoryOffset, def.DiskDataSize, 0xAB);
    }
    if (!gap) {
      EXPECT_EQ(back, expected);
    } else {
      // The buffer the defs name is cleared up to its size, the gap too.
      const auto cleared = static_cast<std::size_t>(fm.FieldDefs().GetMemoryRecordBufferSize());
      EXPECT_TRUE(std::equal(back.begin(), back.begin() + static_cast<std::ptrdiff_t>(cleared),
                             expected.begin()));
    }
  }
}

TEST(FieldManagerLayout, NineFieldsTakeTwoBitmapBytes) {
  TVEZBaseFieldManager fm(nullptr);
  for (int i = 0; i < 9; ++i)
    AddField(fm.FieldDefs(), "F" + std::to_string(i), aftByte);
  fm.RecalcFieldOffsets();
  EXPECT_EQ(fm.FieldDefs().GetDef(0)->MemoryOffset, 2);
  Bytes record(11, 0);
  record[1] = 1;  // bit 0 of byte 1
  EXPECT_TRUE(fm.IsFieldNull(8, record.data()));
  EXPECT_FALSE(fm.IsFieldNull(0, record.data()));
  for (std::int32_t bad : {-1, 9, 1000000}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(NativeErrorOf([&] { fm.IsFieldNull(bad, record.data()); }), 10000);
  }
}

TEST(FieldManagerLayout, CompareSeesEveryByteOfEveryField) {
  TVEZBaseFieldManager fm(nullptr);
  AddField(fm.FieldDefs(), "A", aftInteger);
  AddField(fm.FieldDefs(), "B", aftString, 5);
  AddField(fm.FieldDefs(), "C", aftBlob);
  fm.RecalcFieldOffsets();
  const std::int32_t size = fm.FieldDefs().GetMemoryRecordBufferSize();
  Bytes a(static_cast<std::size_t>(size), 0);
  for (std::int32_t at = 0; at < size; ++at) {
    SCOPED_TRACE(at);
    Bytes b = a;
    b[static_cast<std::size_t>(at)] = 1;
    const TVEZFieldDef& blob = *fm.FieldDefs().GetDef(2);
    // The memory-only bytes of a BLOB field are not part of the record.
    const bool memory_only = at >= blob.MemoryOffset + blob.DiskDataSize;
    EXPECT_EQ(fm.CompareRecordBuffers(a.data(), b.data()), memory_only);
  }
}

TEST(FieldManagerBlob, EveryBlobFieldNeedsABlockSize) {
  TVEZBaseFieldManager fm(nullptr);
  AddField(fm.FieldDefs(), "A", aftInteger);
  EXPECT_FALSE(fm.BlobFieldsPresent());
  AddField(fm.FieldDefs(), "B1", aftBlob);
  EXPECT_TRUE(fm.BlobFieldsPresent());
  TVEZFieldDef* second = AddField(fm.FieldDefs(), "B2", aftMemo);
  second->BLOBBlockSize = 0;
  try {
    fm.BlobFieldsPresent();
    FAIL() << "no error";
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), 10421);
    EXPECT_NE(std::string(e.what()).find("B2"), std::string::npos);
  }
}

// ---------------------------------------------------------------------------
// Defaults

class FakeValueExpression : public FakeExpression {
 public:
  std::unique_ptr<TVEZVariant> value;
  TVEZVariant* GetValue(bool) override { return value.get(); }
};

TEST(FieldManagerDefaults, LiteralsAreCastAndFitTheField) {
  TVEZBaseFieldManager fm(nullptr);
  AddField(fm.FieldDefs(), "I", aftInteger)->DefaultValue.SetAsAnsiString("42");
  AddField(fm.FieldDefs(), "S", aftString, 4)->DefaultValue.SetAsAnsiString("abcdefgh");
  AddField(fm.FieldDefs(), "W", aftWideString, 3)->DefaultValue.SetAsAnsiString("xyzw");
  AddField(fm.FieldDefs(), "D", aftDouble)->DefaultValue.SetAsInteger(3);
  AddField(fm.FieldDefs(), "N", aftInteger);  // no default
  AddField(fm.FieldDefs(), "B", aftBlob)->DefaultValue.SetAsAnsiString("blob");
  AddField(fm.FieldDefs(), "SH", aftShortint)->DefaultValue.SetAsInteger(-2);
  fm.RecalcFieldOffsets();
  Bytes record(static_cast<std::size_t>(fm.FieldDefs().GetMemoryRecordBufferSize()), 0);
  record[0] = 0x7F;  // every field NULL
  fm.ApplyDefaultValuesToRecordBuffer(nullptr, record.data());
  const auto at = [&](int f) { return record.data() + fm.FieldDefs().GetDef(f)->MemoryOffset; };
  EXPECT_EQ(GetLE<std::int32_t>(at(0)), 42);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(at(1)), 5), std::string("abcd\0", 5));
  EXPECT_EQ(GetLE<std::uint16_t>(at(2) + 4), u'z');
  EXPECT_EQ(GetLE<std::uint16_t>(at(2) + 6), 0);
  double d = 0;
  std::memcpy(&d, at(3), 8);
  EXPECT_EQ(d, 3.0);
  EXPECT_EQ(static_cast<std::int8_t>(at(6)[0]), -2);
  // Null bits: set fields cleared, the plain and the BLOB field stay NULL.
  EXPECT_EQ(record[0], (1u << 4) | (1u << 5));
}

TEST(FieldManagerDefaults, ExpressionYieldingNullLeavesTheFieldNull) {
  FakeExpressionFactory factory;
  ScopedExpressionFactory scoped(&factory);
  TVEZBaseFieldManager fm(nullptr);
  TVEZFieldDef* def = AddField(fm.FieldDefs(), "T", aftInteger);
  def->DefaultValue.SetAsAnsiString("NOW()");
  auto expr = std::make_unique<FakeValueExpression>();
  expr->value = std::make_unique<TVEZVariant>(bftSignedInt32);  // NULL
  FakeValueExpression* raw = expr.get();
  def->DefaultValueExpr = std::move(expr);
  fm.RecalcFieldOffsets();
  Bytes record(5, 0);
  record[0] = 1;
  fm.ApplyDefaultValuesToRecordBuffer(nullptr, record.data());
  EXPECT_EQ(record[0], 1);  // still NULL
  raw->value->SetAsAnsiString("17");
  fm.ApplyDefaultValuesToRecordBuffer(nullptr, record.data());
  EXPECT_EQ(record[0], 0);
  EXPECT_EQ(GetLE<std::int32_t>(record.data() + 1), 17);
}

TEST(FieldManagerDefaults, UnconvertibleDefaultRaises) {
  TVEZBaseFieldManager fm(nullptr);
  AddField(fm.FieldDefs(), "I", aftInteger)->DefaultValue.SetAsAnsiString("not a number");
  fm.RecalcFieldOffsets();
  Bytes record(5, 0);
  record[0] = 1;
  EXPECT_NE(NativeErrorOf([&] { fm.ApplyDefaultValuesToRecordBuffer(nullptr, record.data()); }), 0);
  EXPECT_EQ(record[0], 1);
}

// ---------------------------------------------------------------------------
// Autoincrement

struct AutoincRow {
  const char* name;
  TVEZAdvancedFieldType type;
  std::int64_t initial, increment, min, max;
  bool cycled;
  std::vector<std::int64_t> expected;  // values generated in order
  std::int32_t error;                  // raised by the next one (0: none)
};

TEST(FieldManagerAutoinc, SequencesAndTheirLimits) {
  constexpr std::int64_t kNoMax = std::numeric_limits<std::int64_t>::max();
  const AutoincRow rows[] = {
      {"counts from 0 by 1", aftAutoInc, 0, 0, 0, kNoMax, false, {1, 2, 3}, 0},
      {"step 5", aftAutoInc, 10, 5, 0, kNoMax, false, {15, 20}, 0},
      {"cycled", aftAutoInc, 0, 1, 1, 3, true, {1, 2, 3, 1, 2}, 0},
      {"max not cycled", aftAutoInc, 0, 1, 0, 3, false, {1, 2, 3}, 20160},
      {"shortint range", aftAutoIncShortint, 125, 1, 0, kNoMax, false, {126, 127}, 20160},
      {"byte range", aftAutoIncByte, 253, 1, 0, kNoMax, false, {254, 255}, 20160},
      {"word range", aftAutoIncWord, 65534, 1, 0, kNoMax, false, {65535}, 20160},
      {"integer range", aftAutoIncInteger, 2147483646, 1, 0, kNoMax, false, {2147483647}, 20160},
      {"cardinal holds 2^32-1",
       aftAutoIncCardinal,
       4294967294,
       1,
       0,
       kNoMax,
       false,
       {4294967295},
       20160},
      {"largeint overflow", aftAutoIncLargeint, kNoMax - 1, 1, 0, 0, false, {kNoMax}, 20160},
      {"negative step below shortint", aftAutoIncShortint, -127, -1, 0, 0, false, {-128}, 20160},
  };
  for (const AutoincRow& row : rows) {
    SCOPED_TRACE(row.name);
    TVEZBaseFieldManager fm(nullptr);
    TVEZFieldDef* def = AddField(fm.FieldDefs(), "ID", row.type);
    def->AutoincInitialValue = row.initial;
    def->AutoincIncrement = row.increment;
    def->AutoincMinValue = row.min;
    def->AutoincMaxValue = row.max;
    def->AutoincCycled = row.cycled;
    fm.RecalcFieldOffsets();
    fm.InitLastAutoIncValues();
    for (std::int64_t v : row.expected)
      EXPECT_EQ(fm.InternalGetNextAutoinc(0), v);
    if (row.error != 0) {
      const std::int64_t before = fm.LastAutoIncValues()[0];
      EXPECT_EQ(NativeErrorOf([&] { fm.InternalGetNextAutoinc(0); }), row.error);
      // Past the column's type nothing is counted; past AutoincMaxValue the
      // value stays counted, as it always has.
      if (row.max == kNoMax || row.max == 0) {
        EXPECT_EQ(fm.LastAutoIncValues()[0], before);
      }
    }
  }
}

TEST(FieldManagerAutoinc, BadFieldNumbers) {
  TVEZBaseFieldManager fm(nullptr);
  AddField(fm.FieldDefs(), "ID", aftAutoInc);
  fm.RecalcFieldOffsets();
  EXPECT_EQ(NativeErrorOf([&] { fm.InternalGetNextAutoinc(1); }), 30402);
  EXPECT_EQ(NativeErrorOf([&] { fm.InternalGetNextAutoinc(-1); }), 30402);
  EXPECT_EQ(NativeErrorOf([&] { fm.InternalGetNextAutoinc(0); }), 30403);  // no counters yet
  fm.InitLastAutoIncValues();
  EXPECT_EQ(fm.InternalGetNextAutoinc(0), 1);
  EXPECT_EQ(NativeErrorOf([&] { fm.GetLastAutoinc(nullptr, 5); }), 30402);
}

TEST(FieldManagerAutoinc, ApplyFillsNullsAndFollowsExplicitValues) {
  TVEZBaseFieldManager fm(nullptr);
  AddField(fm.FieldDefs(), "ID", aftAutoInc)->ObjectID = 7;
  AddField(fm.FieldDefs(), "SH", aftAutoIncShortint)->ObjectID = 8;
  AddField(fm.FieldDefs(), "W", aftAutoIncWord)->ObjectID = 9;
  fm.RecalcFieldOffsets();
  fm.InitLastAutoIncValues();
  TestSession session;
  Bytes record(1 + 4 + 1 + 2, 0);
  record[0] = 7;
  fm.ApplyAutoincsToRecordBuffer(&session, record.data());
  EXPECT_EQ(record[0], 0);
  EXPECT_EQ(GetLE<std::int32_t>(record.data() + 1), 1);
  EXPECT_EQ(fm.GetLastAutoinc(&session, 0), 1);

  // Explicit 100 in ID: the next generated value is 101. Explicit -1 (0xFF)
  // in the Shortint field is -1, not 255, so it does not raise the counter;
  // 0xFFFF in the Word field is 65535.
  PutLE<std::int32_t>(record.data() + 1, 100);
  record[5] = 0xFF;
  PutLE<std::uint16_t>(record.data() + 6, 0xFFFF);
  fm.ApplyAutoincsToRecordBuffer(&session, record.data());
  EXPECT_EQ(fm.LastAutoIncValues()[0], 100);
  EXPECT_EQ(fm.LastAutoIncValues()[1], 1);
  EXPECT_EQ(fm.LastAutoIncValues()[2], 65535);
  EXPECT_EQ(fm.GetLastAutoinc(&session, 0), 100);
  record[0] = 1;
  fm.ApplyAutoincsToRecordBuffer(&session, record.data());
  EXPECT_EQ(GetLE<std::int32_t>(record.data() + 1), 101);
}

TEST(FieldManagerAutoinc, LastValueOfASession) {
  TVEZBaseFieldManager fm(nullptr);
  AddField(fm.FieldDefs(), "ID", aftAutoInc)->ObjectID = 3;
  AddField(fm.FieldDefs(), "X", aftInteger)->ObjectID = 4;
  fm.RecalcFieldOffsets();
  fm.InitLastAutoIncValues();
  fm.InternalGetNextAutoinc(0);
  TestSession single, multi;
  multi.MultiUser = true;
  EXPECT_EQ(fm.GetLastAutoinc(&single, 0), 1);
  EXPECT_EQ(fm.GetLastAutoinc(&single, 1), 0);
  EXPECT_EQ(NativeErrorOf([&] { fm.GetLastAutoinc(&multi, 0); }), 30012);
  EXPECT_EQ(fm.GetNextAutoinc(&multi, 0), 2);
  EXPECT_EQ(fm.GetLastAutoinc(&multi, 0), 2);
  fm.InternalGetNextAutoinc(0);  // another session's insert
  EXPECT_EQ(fm.GetLastAutoinc(&multi, 0), 2);
}

// ---------------------------------------------------------------------------
// Most-updated block

TEST(FieldManagerMostUpdated, RoundTripAndBounds) {
  TVEZBaseFieldManager fm(nullptr);
  AddField(fm.FieldDefs(), "A", aftAutoInc)->AutoincInitialValue = 40;
  AddField(fm.FieldDefs(), "B", aftInteger);
  AddField(fm.FieldDefs(), "C", aftAutoIncLargeint)->AutoincInitialValue = -5;
  fm.RecalcFieldOffsets();
  fm.InitLastAutoIncValues();
  ASSERT_EQ(fm.MostUpdatedSize(), 4 + 3 * 8);
  Bytes buffer(3 + 28 + 2, 0xAB);
  std::int32_t offset = 3;
  fm.SaveMostUpdated(buffer.data(), static_cast<std::int32_t>(buffer.size()), offset);
  EXPECT_EQ(offset, 31);
  EXPECT_EQ(GetLE<std::int32_t>(buffer.data() + 3), 3);
  EXPECT_EQ(GetLE<std::int64_t>(buffer.data() + 7), 40);
  EXPECT_EQ(GetLE<std::int64_t>(buffer.data() + 23), -5);
  EXPECT_EQ(buffer[31], 0xAB);

  TVEZBaseFieldManager other(nullptr);
  other.FieldDefs().Assign(fm.FieldDefs());
  other.RecalcFieldOffsets();
  other.InitLastAutoIncValues();
  other.InternalGetNextAutoinc(0);
  offset = 3;
  other.LoadMostUpdated(buffer.data(), static_cast<std::int32_t>(buffer.size()), offset);
  EXPECT_EQ(offset, 31);
  EXPECT_EQ(other.LastAutoIncValues(), fm.LastAutoIncValues());

  // A block that does not fit the buffer, or a damaged count, raises and
  // changes nothing.
  struct Case {
    const char* name;
    std::int32_t size, offset, count;
  };
  const Case bad[] = {{"count cut off", 5, 3, 3},
                      {"values cut off", 30, 3, 3},
                      {"negative count", 33, 3, -1},
                      {"huge count", 33, 3, 0x7FFFFFFF},
                      {"negative offset", 33, -1, 3}};
  for (const Case& c : bad) {
    SCOPED_TRACE(c.name);
    Bytes b = buffer;
    PutLE<std::int32_t>(b.data() + 3, c.count);
    std::int32_t at = c.offset;
    EXPECT_EQ(NativeErrorOf([&] { other.LoadMostUpdated(b.data(), c.size, at); }), 20164);
    EXPECT_EQ(at, c.offset);
    EXPECT_EQ(other.LastAutoIncValues(), fm.LastAutoIncValues());
  }
  std::int32_t at = 10;
  EXPECT_EQ(NativeErrorOf([&] { fm.SaveMostUpdated(buffer.data(), 37, at); }), 20164);
}

TEST(FieldManagerMostUpdated, BlockOfAnotherFieldCountFitsTheTable) {
  TVEZBaseFieldManager fm(nullptr);
  AddField(fm.FieldDefs(), "A", aftAutoInc);
  AddField(fm.FieldDefs(), "B", aftAutoInc)->AutoincInitialValue = 9;
  fm.RecalcFieldOffsets();
  fm.InitLastAutoIncValues();
  for (std::int32_t n : {0, 1, 3}) {
    SCOPED_TRACE(n);
    Bytes block(static_cast<std::size_t>(4 + 8 * n), 0);
    PutLE<std::int32_t>(block.data(), n);
    for (std::int32_t i = 0; i < n; ++i)
      PutLE<std::int64_t>(block.data() + 4 + 8 * i, 100 + i);
    fm.InitLastAutoIncValues();
    std::int32_t offset = 0;
    fm.LoadMostUpdated(block.data(), static_cast<std::int32_t>(block.size()), offset);
    EXPECT_EQ(offset, 4 + 8 * n);
    ASSERT_EQ(fm.LastAutoIncValues().size(), 2u);
    EXPECT_EQ(fm.LastAutoIncValues()[0], n > 0 ? 100 : 0);
    EXPECT_EQ(fm.LastAutoIncValues()[1], n > 1 ? 101 : 9);
    EXPECT_EQ(fm.InternalGetNextAutoinc(1), (n > 1 ? 101 : 9) + 1);
  }
}

}  // namespace
}  // namespace vez::test

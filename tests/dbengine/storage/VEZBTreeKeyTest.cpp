#include "dbengine/storage/VEZBTreeKey.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/storage/VEZIndexDef.h"
#include "dbengine/storage/VEZKeyPath.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/BTreeTestSupport.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

using test::Ref6;
using test::TFakeTable;

std::vector<std::uint8_t> LongRecord(std::int32_t id, const std::string& long_text) {
  auto r = TFakeTable::MakeRecord(id, "");
  std::memcpy(r.data() + 48, long_text.data(), std::min<std::size_t>(long_text.size(), 50));
  return r;
}

std::vector<std::uint8_t> WideRecord(const std::u16string& text, bool null = false) {
  auto r = TFakeTable::MakeRecord(0, "");
  std::memcpy(r.data() + 26, text.data(), std::min<std::size_t>(text.size(), 10) * 2);
  if (null) r[0] |= 4;
  return r;
}

TEST(VEZRecordKeyRefTest, LayoutOfShortAndFullKeys) {
  TFakeTable table;
  TVEZRecordKeyRef kr;
  kr.Assign({{"ID", false, false, 20}, {"LONG", false, false, 20}}, &table);
  EXPECT_EQ(kr.PartCount(), 2);
  EXPECT_EQ(kr.CompareFieldCount(), 2);
  EXPECT_EQ(kr.ShortKeySize(), (1 + 4) + (1 + 20 + 2));
  EXPECT_EQ(kr.FullKeySize(), (1 + 4) + (1 + 51));
  EXPECT_EQ(kr.Part(0).AddedSize, 0);
  EXPECT_EQ(kr.Part(1).AddedSize, 2);
  EXPECT_EQ(kr.Part(1).OffsetInShortKeyBuffer, 5);
  EXPECT_EQ(kr.Part(1).OffsetInFullKeyBuffer, 5);
  EXPECT_EQ(kr.Part(1).OffsetInRecordBuffer, 48);
  EXPECT_EQ(kr.Part(1).FieldNo, 3);
  EXPECT_FALSE(kr.KeyIsReference());
  EXPECT_TRUE(kr.HasTruncatedParts());

  // A wide prefix keeps whole UTF-16 units: 7 bytes become 6.
  TVEZRecordKeyRef wide;
  wide.Assign({{"WNAME", true, true, 7}}, &table);
  EXPECT_EQ(wide.Part(0).ShortSize, 6 + 3);
  EXPECT_TRUE(wide.Part(0).Descending);
  EXPECT_TRUE(wide.Part(0).CaseInsensitive);

  const auto record = LongRecord(-7, std::string(30, 'q'));
  std::vector<std::uint8_t> key(static_cast<std::size_t>(kr.ShortKeySize()), 0xEE);
  kr.MakeShortKeyFromRecordBuffer(record.data(), key.data());
  EXPECT_EQ(key[0], 0);
  std::int32_t id;
  std::memcpy(&id, key.data() + 1, 4);
  EXPECT_EQ(id, -7);
  EXPECT_EQ(key[5], 0);
  EXPECT_EQ(key[6], 'q');
  EXPECT_EQ(key[25], 'q');
  EXPECT_EQ(key[26], 0);  // the two added bytes are zero
  EXPECT_EQ(key[27], 0);
  EXPECT_EQ(kr.RecordBuffer(), record.data());
}

TEST(VEZRecordKeyRefTest, AssignFromIndexDef) {
  TFakeTable table;
  TVEZIndexDef def;
  def.AssignByNames({"LONG", "ID"}, {"DESC", "ASC"}, {"NO_CASE", "CASE"});
  TVEZRecordKeyRef kr;
  kr.Assign(def, &table);
  ASSERT_EQ(kr.PartCount(), 2);
  EXPECT_EQ(kr.ShortKeySize(), (1 + 20 + 2) + (1 + 4));  // MaxIndexedSize 20
  EXPECT_TRUE(kr.Part(0).Descending);
  EXPECT_TRUE(kr.Part(0).CaseInsensitive);
  EXPECT_FALSE(kr.Part(1).Descending);
  EXPECT_EQ(kr.Part(1).OffsetInShortKeyBuffer, 23);
}

TEST(VEZRecordKeyRefTest, AssignErrors) {
  TFakeTable table;
  TVEZRecordKeyRef kr;
  struct Case {
    const char* field;
    bool manager, defs;
    std::int32_t error;
  } cases[] = {{"ID", false, true, 20044},
               {"ID", true, false, 20045},
               {"MISSING", true, true, 20043},
               {"DATA", true, true, 20295}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    table.has_field_manager = c.manager;
    table.has_field_defs = c.defs;
    EXPECT_EQ(NativeErrorOf([&] { kr.Assign({{c.field, false, false, 20}}, &table); }), c.error);
  }
  table.has_field_manager = table.has_field_defs = true;
  try {
    kr.Assign({{"MISSING", false, false, 20}}, &table);
  } catch (const EVEZException& e) {
    EXPECT_STREQ(e.what(), "Cannot find index field 'MISSING' - Native error: 20043");
  }
}

TEST(VEZRecordKeyRefTest, TruncatedPartsFallBackToFullKeys) {
  TFakeTable table;
  TVEZRecordKeyRef kr;
  kr.Assign({{"LONG", false, false, 20}}, &table);
  kr.SetReferenceSize(6);
  const std::string common(20, 'm');
  const auto r1 = LongRecord(0, common + "b"), r2 = LongRecord(0, common + "a");
  table.Put({1, 1}, r1);
  table.Put({1, 2}, r2);
  const auto ref1 = Ref6({1, 1}), ref2 = Ref6({1, 2});
  std::vector<std::uint8_t> k1(static_cast<std::size_t>(kr.ShortKeySize())),
      k2(static_cast<std::size_t>(kr.ShortKeySize()));
  kr.MakeShortKeyFromRecordBuffer(r2.data(), k2.data());
  kr.MakeShortKeyFromRecordBuffer(r1.data(), k1.data());
  EXPECT_EQ(kr.CompareShortKeys(k1.data(), k2.data(), false, 1, nullptr, ref2.data()), 0);
  // Key 1 from the record buffer it was made from, key 2 from its record.
  EXPECT_EQ(kr.CompareShortKeys(k1.data(), k2.data(), true, 1, nullptr, ref2.data()), 1);
  EXPECT_EQ(kr.CompareShortKeys(k2.data(), k1.data(), true, 1, ref2.data(), ref1.data()), -1);
  EXPECT_EQ(kr.CompareShortKeys(k1.data(), k1.data(), true, 1, ref1.data(), ref1.data()), 0);
  // Without a reference there is nothing to read: the prefixes decide.
  EXPECT_EQ(kr.CompareShortKeys(k1.data(), k2.data(), true, 1, nullptr, nullptr), 0);
  // A shorter value equal to the other's prefix needs no record at all.
  const auto r3 = LongRecord(0, "mm");
  std::vector<std::uint8_t> k3(static_cast<std::size_t>(kr.ShortKeySize()));
  kr.MakeShortKeyFromRecordBuffer(r3.data(), k3.data());
  table.reads = 0;
  EXPECT_EQ(kr.CompareShortKeys(k3.data(), k3.data(), true, 1, nullptr, ref2.data()), 0);
  EXPECT_EQ(table.reads, 0);
  // A record that cannot be read.
  const auto missing = Ref6({9, 9});
  EXPECT_EQ(NativeErrorOf([&] {
              kr.CompareShortKeys(k1.data(), k2.data(), true, 1, missing.data(), ref2.data());
            }),
            20170);
}

// Byte strings are cut like text: BYTES(50) indexed with 20 bytes keeps 20
// value bytes and two zero bytes; fixed-width values stay whole whatever the
// column says, since a cut number would not keep its order.
TEST(VEZRecordKeyRefTest, EveryStringTypeIsTruncatedAndScalarsStayWhole) {
  TFakeTable table;
  struct Case {
    const char* field;
    std::int32_t max_indexed;
    std::int32_t short_size;
    std::int32_t added_size;
  };
  const Case cases[] = {
      {"RAW", 20, 1 + 20 + 2, 2},   // BYTES(50): cut
      {"RAW", 50, 1 + 50, 0},       // indexes every byte: whole
      {"RAW", 0, 1 + 0 + 2, 2},     // nothing but the two zero bytes
      {"LONG", 20, 1 + 20 + 2, 2},  // text, as before
      {"ID", 2, 1 + 4, 0},          // Int32 never cut
      {"ID", 0, 1 + 4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " " + std::to_string(c.max_indexed));
    TVEZRecordKeyRef kr;
    kr.Assign({{c.field, false, false, c.max_indexed}}, &table);
    EXPECT_EQ(kr.ShortKeySize(), c.short_size);
    EXPECT_EQ(kr.Part(0).AddedSize, c.added_size);
    EXPECT_EQ(kr.HasTruncatedParts(), c.added_size != 0);
  }

  TVEZRecordKeyRef kr;
  kr.Assign({{"ID", false, false, 2}, {"RAW", false, false, 20}}, &table);
  kr.SetReferenceSize(6);
  EXPECT_EQ(kr.ShortKeySize(), (1 + 4) + (1 + 20 + 2));
  EXPECT_EQ(kr.FullKeySize(), (1 + 4) + (1 + 50));
  std::string bytes1(30, '\x7f'), bytes2(30, '\x7f');
  bytes1[25] = '\x01';
  bytes2[25] = '\x02';
  const auto r1 = LongRecord(65536, bytes1), r2 = LongRecord(65536, bytes2);
  table.Put({1, 1}, r1);
  table.Put({1, 2}, r2);
  std::vector<std::uint8_t> k1(static_cast<std::size_t>(kr.ShortKeySize()), 0xEE),
      k2(static_cast<std::size_t>(kr.ShortKeySize()), 0xEE);
  kr.MakeShortKeyFromRecordBuffer(r2.data(), k2.data());
  kr.MakeShortKeyFromRecordBuffer(r1.data(), k1.data());
  // Stored bytes: the whole Int32, then 20 value bytes and two zero bytes.
  std::int32_t id;
  std::memcpy(&id, k1.data() + 1, 4);
  EXPECT_EQ(id, 65536);
  EXPECT_EQ(k1[5], 0);
  EXPECT_EQ(k1[6], 0x7f);
  EXPECT_EQ(k1[25], 0x7f);
  EXPECT_EQ(k1[26], 0);
  EXPECT_EQ(k1[27], 0);
  // Equal in the stored prefix: 0 on short keys, the full values decide.
  const auto ref1 = Ref6({1, 1}), ref2 = Ref6({1, 2});
  EXPECT_EQ(kr.CompareShortKeys(k1.data(), k2.data(), false, 1, nullptr, ref2.data()), 0);
  EXPECT_EQ(kr.CompareShortKeys(k1.data(), k2.data(), true, 1, ref1.data(), ref2.data()), -1);
  EXPECT_EQ(kr.CompareShortKeys(k2.data(), k1.data(), true, 1, ref2.data(), ref1.data()), 1);
  // A difference inside the prefix needs no record.
  const auto r3 = LongRecord(65536, std::string(30, '\x10'));
  std::vector<std::uint8_t> k3(static_cast<std::size_t>(kr.ShortKeySize()));
  kr.MakeShortKeyFromRecordBuffer(r3.data(), k3.data());
  table.reads = 0;
  EXPECT_EQ(kr.CompareShortKeys(k3.data(), k1.data(), true, 1, nullptr, ref1.data()), -1);
  EXPECT_EQ(table.reads, 0);
  // The Int32 part kept whole still orders by its value, not by its low bytes.
  const auto r4 = LongRecord(1, bytes1);
  std::vector<std::uint8_t> k4(static_cast<std::size_t>(kr.ShortKeySize()));
  kr.MakeShortKeyFromRecordBuffer(r4.data(), k4.data());
  EXPECT_EQ(kr.CompareShortKeys(k4.data(), k1.data(), false, 1, nullptr, nullptr), -1);
}

TEST(VEZRecordKeyRefTest, WideTruncatedPartsStayInTheirBytes) {
  TFakeTable table;
  TVEZRecordKeyRef kr;
  kr.Assign({{"WNAME", false, false, 6}}, &table);  // 3 UTF-16 units kept
  ASSERT_EQ(kr.ShortKeySize(), 9);
  const auto r1 = WideRecord(u"abcz"), r2 = WideRecord(u"abcd");
  table.Put({0, 1}, r1);
  table.Put({0, 2}, r2);
  // Exact-size keys: a read past their end would be caught by the sanitizer.
  std::vector<std::uint8_t> k1(9), k2(9);
  kr.MakeShortKeyFromRecordBuffer(r2.data(), k2.data());
  kr.MakeShortKeyFromRecordBuffer(r1.data(), k1.data());
  EXPECT_EQ(kr.CompareShortKeys(k1.data(), k2.data(), false, 1, nullptr, nullptr), 0);
  const auto ref2 = Ref6({0, 2});
  EXPECT_EQ(kr.CompareShortKeys(k1.data(), k2.data(), true, 1, nullptr, ref2.data()), 1);
  // Short values compare whole.
  const auto r3 = WideRecord(u"ab");
  std::vector<std::uint8_t> k3(9);
  kr.MakeShortKeyFromRecordBuffer(r3.data(), k3.data());
  EXPECT_EQ(kr.CompareShortKeys(k3.data(), k2.data(), true, 1, nullptr, ref2.data()), -1);
}

TEST(VEZRecordKeyRefTest, NullsAndDescendingParts) {
  TFakeTable table;
  struct Case {
    bool descending;
    bool null1, null2;
    std::int32_t v1, v2;
    std::int32_t expected;
  } cases[] = {
      {false, true, false, 0, -100, -1}, {false, false, true, -100, 0, 1},
      {false, true, true, 1, 2, 0},      {true, true, false, 0, -100, 1},
      {true, false, false, 1, 2, 1},     {false, false, false, 1, 2, -1},
      {false, false, false, -5, -5, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.descending << c.null1 << c.null2 << c.v1 << c.v2);
    TVEZRecordKeyRef kr;
    kr.Assign({{"ID", c.descending, false, 20}}, &table);
    const auto a = TFakeTable::MakeRecord(c.v1, "", c.null1);
    const auto b = TFakeTable::MakeRecord(c.v2, "", c.null2);
    std::vector<std::uint8_t> ka(5), kb(5), fa(5), fb(5);
    kr.MakeShortKeyFromRecordBuffer(a.data(), ka.data());
    kr.MakeShortKeyFromRecordBuffer(b.data(), kb.data());
    kr.MakeFullKeyFromRecordBuffer(a.data(), fa.data());
    kr.MakeFullKeyFromRecordBuffer(b.data(), fb.data());
    EXPECT_EQ(kr.CompareShortKeys(ka.data(), kb.data(), false, 1, nullptr, nullptr), c.expected);
    EXPECT_EQ(kr.CompareFullKeys(fa.data(), fb.data()), c.expected);
  }
}

TEST(VEZRecordKeyRefTest, PartialCompareAndCompareFieldCount) {
  TFakeTable table;
  TVEZRecordKeyRef kr;
  kr.Assign({{"NAME", false, false, 20}, {"ID", false, false, 20}}, &table);
  const auto search = TFakeTable::MakeRecord(1, "AB");
  const auto stored = TFakeTable::MakeRecord(2, "ABCD");
  std::vector<std::uint8_t> ks(static_cast<std::size_t>(kr.ShortKeySize())),
      kt(static_cast<std::size_t>(kr.ShortKeySize()));
  kr.MakeShortKeyFromRecordBuffer(search.data(), ks.data());
  kr.MakeShortKeyFromRecordBuffer(stored.data(), kt.data());
  EXPECT_EQ(kr.CompareShortKeys(ks.data(), kt.data(), false, 1, nullptr, nullptr), -1);
  kr.SetCompareFieldCount(1);
  kr.SetPartialCompare(search.data(), true);
  EXPECT_EQ(kr.CompareShortKeys(ks.data(), kt.data(), false, 1, nullptr, nullptr), 0);
  kr.SetPartialCompare(search.data(), false);
  EXPECT_EQ(kr.CompareShortKeys(ks.data(), kt.data(), false, 1, nullptr, nullptr), -1);
  // Case-insensitive parts.
  TVEZRecordKeyRef ci;
  ci.Assign({{"NAME", false, true, 20}}, &table);
  const auto lower = TFakeTable::MakeRecord(0, "abcd");
  std::vector<std::uint8_t> kl(static_cast<std::size_t>(ci.ShortKeySize())),
      ku(static_cast<std::size_t>(ci.ShortKeySize()));
  ci.MakeShortKeyFromRecordBuffer(lower.data(), kl.data());
  ci.MakeShortKeyFromRecordBuffer(stored.data(), ku.data());
  EXPECT_EQ(ci.CompareShortKeys(kl.data(), ku.data(), false, 1, nullptr, nullptr), 0);
}

TEST(VEZRecordKeyRefTest, WholeNumberPartsOrderAsTypedValues) {
  // Whole-number parts are compared without the typed value's general
  // comparison: the order must be the same, NULLs included.
  const TVEZBaseFieldType types[] = {bftSignedInt8,    bftSignedInt16,  bftSignedInt32,
                                     bftSignedInt64,   bftUnsignedInt8, bftUnsignedInt16,
                                     bftUnsignedInt32, bftDate,         bftTime};
  std::mt19937_64 rng(11);
  for (const TVEZBaseFieldType t : types) {
    SCOPED_TRACE(testing::Message() << "type " << int(t));
    for (int i = 0; i < 300; ++i) {
      std::uint8_t a[8], b[8];
      const std::uint64_t x = rng(), y = i % 3 == 0 ? x : rng();
      std::memcpy(a, &x, 8);
      std::memcpy(b, &y, 8);
      if (i % 2) b[0] = a[0];  // equal low bytes, so higher bytes decide
      const bool null1 = i % 17 == 0, null2 = i % 13 == 0;
      EXPECT_EQ(CompareKeyPartValues(a, b, t, null1, null2, -1, false, 8),
                CompareTypedValuesOrder(a, b, t, t, null1, null2, -1, false, 0x400, 8, 8));
    }
  }
}

TEST(VEZBTreeKeyRefTest, ReferencesAndPageKeys) {
  const auto a = Ref6({-1, 5}), b = Ref6({0, 0}), c = Ref6({0, 1}), d = Ref6({0, 65535});
  EXPECT_EQ(TVEZBTreeKeyRef::CompareReferences(a.data(), b.data(), 6), -1);
  EXPECT_EQ(TVEZBTreeKeyRef::CompareReferences(d.data(), c.data(), 6), 1);
  EXPECT_EQ(TVEZBTreeKeyRef::CompareReferences(c.data(), c.data(), 6), 0);
  const std::uint8_t x[2] = {1, 0}, y[2] = {0, 1};
  EXPECT_EQ(TVEZBTreeKeyRef::CompareReferences(x, y, 2), 1);  // bytes from the first

  TVEZPageKeyRef pk;
  EXPECT_EQ(pk.ShortKeySize(), 4);
  EXPECT_EQ(pk.FullKeySize(), 4);
  EXPECT_EQ(pk.ReferenceSize(), 2);
  EXPECT_EQ(pk.PartCount(), 1);
  EXPECT_EQ(pk.Part(0).DataType, bftSignedInt32);
  std::uint8_t k1[4], k2[4];
  PutLE<std::int32_t>(k1, -3);
  PutLE<std::int32_t>(k2, 2);
  EXPECT_EQ(pk.CompareShortKeys(k1, k2, true, 5, nullptr, nullptr), -1);
  EXPECT_EQ(pk.CompareFullKeys(k2, k1), 1);
  EXPECT_EQ(pk.CompareFullKeys(k2, k2), 0);
  std::uint8_t* buffer = pk.AllocShortKeyBuffer();
  EXPECT_EQ(GetLE<std::int32_t>(buffer), 0);
  TVEZBTreeKeyRef::FreeAndNilKeyBuffer(buffer);
  EXPECT_EQ(buffer, nullptr);
}

TEST(VEZKeyPathTest, FractionAndBitmapNumbers) {
  TVEZKeyPath path;
  path.AddItem(10, 1, 4);
  path.AddItem(20, 2, 8);
  EXPECT_DOUBLE_EQ(path.GetApproxRecNoInPercents(), 0.3125);
  EXPECT_EQ(path.GetBitmapRecNoByIndexPosition(9), 23);
  TVEZKeyPath back;
  back.FillItemsByBitmapRecNo(23, 9);
  ASSERT_EQ(back.Count, 2);
  EXPECT_EQ(back.ItemNo, 0);
  EXPECT_EQ(back.Items[0].EntryNo, 1);
  EXPECT_EQ(back.Items[1].EntryNo, 2);
  EXPECT_EQ(back.Items[0].PageNo, -1);
  EXPECT_EQ(back.Items[1].EntryCount, 0);
  EXPECT_TRUE(path.PageExists(20));
  EXPECT_FALSE(path.PageExists(30));
  TVEZKeyPath empty;
  EXPECT_DOUBLE_EQ(empty.GetApproxRecNoInPercents(), 0.0);
}

TEST(VEZKeyPathTest, BitmapNumbersRoundTripDeepPaths) {
  std::mt19937 rng(11);
  for (const std::int32_t max_entries : {9, 367, 673}) {
    for (std::int32_t depth = 1; depth <= 6; ++depth) {
      SCOPED_TRACE(testing::Message() << max_entries << " depth " << depth);
      TVEZKeyPath path;
      for (std::int32_t i = 0; i < depth; ++i)
        path.AddItem(i, static_cast<std::int32_t>(rng() % max_entries), max_entries);
      const std::int64_t n = path.GetBitmapRecNoByIndexPosition(max_entries);
      EXPECT_GT(n, 0);
      TVEZKeyPath back;
      back.FillItemsByBitmapRecNo(n, max_entries);
      ASSERT_EQ(back.Count, depth);
      for (std::int32_t i = 0; i < depth; ++i)
        EXPECT_EQ(back.Items[i].EntryNo, path.Items[i].EntryNo);
      // Numbers beyond 32 bits survive (depth 4 of 673 entries already needs 38 bits).
      if (max_entries == 673 && depth >= 4) {
        EXPECT_GT(n, std::int64_t{1} << 32);
      }
    }
  }
  // Beyond 64 bits: an overflow error, never a wrapped number.
  TVEZKeyPath deep;
  for (int i = 0; i < 8; ++i)
    deep.AddItem(i, 672, 673);
  EXPECT_THROW(deep.GetBitmapRecNoByIndexPosition(673), platform::EIntOverflow);
}

TEST(VEZKeyPathTest, CompareAssignAndLimits) {
  TVEZKeyPath a, b;
  a.AddItem(1, 0, 3);
  a.AddItem(5, 2, 9);
  b.Assign(a);
  b.PositionType = kppOnKey;
  EXPECT_EQ(a.Compare(b), 0);
  b.Items[1].EntryNo = 3;
  EXPECT_EQ(a.Compare(b), -1);
  EXPECT_EQ(b.Compare(a), 1);
  b.Items[1].PageNo = 6;
  EXPECT_EQ(NativeErrorOf([&] { a.Compare(b); }), 20052);
  b.DeleteLastItem();
  EXPECT_EQ(NativeErrorOf([&] { a.Compare(b); }), 20051);
  a.DecLevel();
  EXPECT_EQ(a.CurrentPageNo(), 5);
  a.SetCurrentPageNo(7);
  EXPECT_EQ(a.Items[1].PageNo, 7);
  a.IncLevel();
  TVEZKeyPath full;
  for (int i = 0; i < TVEZKeyPath::kMaxDepth; ++i)
    full.AddItem(i, 0, 1);
  EXPECT_EQ(NativeErrorOf([&] { full.AddItem(99, 0, 1); }), 20051);
  TVEZKeyPath bad;
  EXPECT_EQ(NativeErrorOf([&] { bad.FillItemsByBitmapRecNo(0, 9); }), 20051);
  EXPECT_EQ(NativeErrorOf([&] { bad.FillItemsByBitmapRecNo(10, 9); }), 20051);  // digit 0

  TVEZIndexPositionCache cache;
  EXPECT_EQ(cache.IndexID, -1);
  EXPECT_EQ(cache.TableState, -1);
  ASSERT_NE(cache.Position, nullptr);
  EXPECT_EQ(cache.Position->Count, 0);
}

}  // namespace
}  // namespace vez

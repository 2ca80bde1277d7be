#include "dbengine/storage/VEZTemporaryTableData.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZTemporaryStream.h"
#include "dbengine/storage/VEZDatabaseDataList.h"
#include "platform/os/File.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/MemoryTableTestSupport.h"
#include "tests/dbengine/storage/TableModelTestSupport.h"
#include "tests/dbengine/storage/TemporaryTestSupport.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

using test::TMemRow;
using test::TTemporaryTableFixture;

// About 8 KiB of RAM for each of the record cache and the index pages: a
// few hundred records and two pages, so the model test spills both.
constexpr std::int64_t kSmallTenth = 2 * 4096;

class TSpillingTemporaryFixture : public TTemporaryTableFixture {
 public:
  TSpillingTemporaryFixture() : TTemporaryTableFixture(64, kSmallTenth) {}
};

// Open descriptors of the process: temporary files are unlinked at once, so
// a file that is still there shows only as a descriptor.
std::size_t OpenFileCount() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
    ++n;
  return n;
}

using TemporaryTableTest = test::TEngineTableModelTest<TSpillingTemporaryFixture>;

TEST_F(TemporaryTableTest, RandomOperationsAgreeWithAModelWhileSpilling) {
  TVEZTemporaryRecordManager& records = *table().TemporaryRecordManager();
  TVEZTemporaryPageManager& pages = *table().TemporaryPageManager();
  ASSERT_GT(records.MaxCachedRecordCount(), 50);
  ASSERT_LT(records.MaxCachedRecordCount(), 500);
  ASSERT_LE(pages.MaxMemoryPageCount(), 2);
  bool spilled_records = false, spilled_pages = false;
  bool checked_before_spill = false;
  RunRandomOperations(20261211, 1500, [&] {
    if (!records.HasSpillFile()) checked_before_spill = true;
    spilled_records = spilled_records || records.HasSpillFile();
    spilled_pages = spilled_pages || pages.HasPageFile();
  });
  // The model was checked with everything in RAM and again after both spills.
  EXPECT_TRUE(checked_before_spill);
  EXPECT_TRUE(spilled_records);
  EXPECT_TRUE(spilled_pages);
  EXPECT_GT(records.RecordCount, records.MaxCachedRecordCount());
}

TEST_F(TemporaryTableTest, EdgesOfTheRecordNumbers) {
  for (int i = 0; i < 3; ++i)
    Insert({i + 1, 2 - i, "r", std::nullopt});
  UseOrder(-1);
  for (std::int64_t rec_no : {std::int64_t{0}, std::int64_t{1}}) {
    SCOPED_TRACE(rec_no);
    table().InternalSetRecNo(cursor(), rec_no);
    EXPECT_EQ(TVEZTemporaryRecordManager::RecordNoOf(cursor().CurrentRecordID), 0);
    EXPECT_EQ(table().InternalGetRecNo(cursor()), 1);
  }
  table().InternalSetRecNo(cursor(), 3);
  EXPECT_EQ(cursor().CurrentRecordID.PageNo, 2);
  EXPECT_EQ(table().GetApproximateRecordCount(0), 3);
  EXPECT_EQ(table().RecordIDToApproximateRecNo(table().ApproximateRecNoToRecordID(2)), 2);
  CheckAll(true);
}

TEST_F(TemporaryTableTest, BlobEntriesAreAppendedAndEmptyTableStartsAFreshFile) {
  Insert({1, 1, "a", std::string(300, 'x')});
  const std::int64_t first_size = table().BLOBFile()->Size();
  // Written twice: two entries, the record refers to the second.
  cursor().NewRecord();
  fx_.Fill({2, 2, "b", std::nullopt});
  fx_.WriteBlob(std::string(100, 'y'));
  const std::int64_t between = table().BLOBFile()->Size();
  fx_.WriteBlob(std::string(50, 'z'));
  cursor().InternalPost(true);
  ASSERT_EQ(cursor().ErrorCode, cecOK);
  model_[cursor().CurrentRecordID.PageNo] = {2, 2, "b", std::string(50, 'z')};
  EXPECT_GT(between, first_size);
  EXPECT_GT(table().BLOBFile()->Size(), between);
  const TVEZFieldDef& def = *table().FieldManager()->FieldDefs().GetDef(test::kFieldData);
  EXPECT_EQ(TVEZTemporaryTableData::BlobOffsetOf(cursor().CurrentRecordBuffer, def), between);
  CheckAll(true);

  const std::int32_t state = table().RecordManager()->TableState;
  table().EmptyTable(&cursor());
  model_.clear();
  EXPECT_NE(table().RecordManager()->TableState, state);
  ASSERT_NE(table().BLOBFile(), nullptr);
  EXPECT_EQ(table().BLOBFile()->Size(), 0);
  // BLOBs work at once after emptying.
  Insert({3, 3, "c", std::string(70, 'v')});
  Insert({4, 4, "d", std::nullopt});
  CheckAll(true);
}

TEST_F(TemporaryTableTest, InsertsMoveTheTableState) {
  Insert({1, 1, "a", std::nullopt});
  const std::int32_t state = table().RecordManager()->TableState;
  Insert({2, 2, "b", std::nullopt});
  EXPECT_NE(table().RecordManager()->TableState, state);
}

TEST_F(TemporaryTableTest, DirectBlobDataRoundTripsAndRefusesDamagedOffsets) {
  Insert({1, 1, "a", std::string(500, 'q')});
  fx_.ReadSlot(0);
  TVEZPartialTemporaryBLOBDescriptor descriptor;
  std::uint8_t* data = nullptr;
  table().GetDirectBlobData(cursor(), test::kFieldData, cursor().CurrentRecordBuffer, descriptor,
                            data);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(descriptor.UncompressedSize, 500);
  // Copied into another record through the direct path, it reads back the same.
  cursor().NewRecord();
  fx_.Fill({2, 2, "b", std::nullopt});
  table().SetDirectBlobData(cursor(), test::kFieldData, cursor().CurrentRecordBuffer, descriptor,
                            data);
  table().FreeDirectBlobData(cursor(), test::kFieldData, cursor().CurrentRecordBuffer, descriptor,
                             data);
  EXPECT_EQ(data, nullptr);
  cursor().InternalPost(true);
  ASSERT_EQ(cursor().ErrorCode, cecOK);
  model_[0] = {1, 1, "a", std::string(500, 'q')};
  model_[1] = {2, 2, "b", std::string(500, 'q')};
  CheckAll(true);
  // An offset before the file, past it or inside an entry is an error, never
  // a read of what is not there.
  const TVEZFieldDef& def = *table().FieldManager()->FieldDefs().GetDef(test::kFieldData);
  struct Case {
    std::int64_t offset;
    std::int32_t stream_error, direct_error;
  };
  for (const Case& c :
       {Case{-8, 10141, 10509}, Case{1 << 30, 10142, 10510},
        Case{table().BLOBFile()->Size() - 4, 10142, 10510}, Case{3, 10142, 10510}}) {
    SCOPED_TRACE(c.offset);
    fx_.ReadSlot(0);
    PutLE<std::int64_t>(cursor().CurrentRecordBuffer + def.MemoryOffset, c.offset);
    EXPECT_EQ(NativeErrorOf([&] { fx_.ReadBlob(); }), c.stream_error);
    EXPECT_EQ(NativeErrorOf([&] {
                table().GetDirectBlobData(cursor(), test::kFieldData, cursor().CurrentRecordBuffer,
                                          descriptor, data);
              }),
              c.direct_error);
    EXPECT_EQ(data, nullptr);
  }
  CheckAll(true);
}

TEST_F(TemporaryTableTest, DamagedEntryHeadersAreRefusedBeforeAnyDataIsRead) {
  Insert({1, 1, "a", std::string(700, 'h')});
  Insert({2, 2, "b", std::string(90, 'k')});
  const TVEZFieldDef& def = *table().FieldManager()->FieldDefs().GetDef(test::kFieldData);
  fx_.ReadSlot(0);
  const std::int64_t entry =
      TVEZTemporaryTableData::BlobOffsetOf(cursor().CurrentRecordBuffer, def);
  TVEZStream& file = *table().BLOBFile();
  std::uint8_t head[TVEZPartialTemporaryBLOBDescriptor::kSize];
  file.SetPosition(entry);
  file.ReadBuffer(head, sizeof head);
  const TVEZPartialTemporaryBLOBDescriptor good = TVEZPartialTemporaryBLOBDescriptor::Decode(head);
  ASSERT_GT(good.CompressedSize, 0);
  // Each row damages one field of the entry's head in the file itself: a
  // size past the file, a negative size or count must not become a wild
  // allocation or a read of what is not there.
  struct Case {
    const char* what;
    std::int32_t num_blocks;
    std::int64_t uncompressed, compressed;
  };
  const std::int64_t past_end = file.Size() - entry - TVEZPartialTemporaryBLOBDescriptor::kSize + 1;
  for (const Case& c : {
           Case{"compressed size past the file", good.NumBlocks, good.UncompressedSize, past_end},
           Case{"huge compressed size", good.NumBlocks, good.UncompressedSize,
                std::numeric_limits<std::int64_t>::max()},
           Case{"negative compressed size", good.NumBlocks, good.UncompressedSize, -1},
           Case{"negative uncompressed size", good.NumBlocks, -700, good.CompressedSize},
           Case{"negative block count", -1, good.UncompressedSize, good.CompressedSize},
       }) {
    SCOPED_TRACE(c.what);
    TVEZPartialTemporaryBLOBDescriptor bad = good;
    bad.NumBlocks = c.num_blocks;
    bad.UncompressedSize = c.uncompressed;
    bad.CompressedSize = c.compressed;
    bad.Encode(head);
    file.SetPosition(entry);
    file.WriteBuffer(head, sizeof head);
    fx_.ReadSlot(0);
    EXPECT_EQ(NativeErrorOf([&] { fx_.ReadBlob(); }), 10142);
    TVEZPartialTemporaryBLOBDescriptor descriptor;
    std::uint8_t* data = nullptr;
    EXPECT_EQ(NativeErrorOf([&] {
                table().GetDirectBlobData(cursor(), test::kFieldData, cursor().CurrentRecordBuffer,
                                          descriptor, data);
              }),
              10510);
    EXPECT_EQ(data, nullptr);
  }
  // The head mended, the value reads as written; the other entry never suffered.
  good.Encode(head);
  file.SetPosition(entry);
  file.WriteBuffer(head, sizeof head);
  CheckAll(true);
}

TEST(TemporaryDatabaseTest, ACursorOfATemporaryTableIsMarkedTemporary) {
  TTemporaryTableFixture fx;
  EXPECT_TRUE(fx.Cursor().Temporary);
  // Through such a cursor a unique index implies no constraint; without a
  // cursor it does.
  TVEZIndexDefs defs;
  fx.Table().AddIndex(*test::AddIndexDef(defs, "U_ID", {"ID"}, true), &fx.Cursor());
  EXPECT_EQ(fx.Table().ConstraintManager()->ConstraintDefs().GetCount(), 0);
  fx.Table().AddIndex(*test::AddIndexDef(defs, "U_NAME", {"NAME", "ID"}, true), nullptr);
  EXPECT_EQ(fx.Table().ConstraintManager()->ConstraintDefs().GetCount(), 1);
}

TEST(TemporaryTableFilesTest, FailedTemporaryFileWritesLeaveTheTableAsItWas) {
  test::FailingTempFileSystem fs;
  platform::ScopedFileSystem scope(fs);
  TSpillingTemporaryFixture fx;
  TVEZTemporaryTableData& table = fx.Table();
  std::map<std::int32_t, TMemRow> model;
  std::mt19937 rng(5);
  std::int32_t next_id = 1;
  auto row = [&] {
    const std::int32_t id = next_id++;
    return TMemRow{id, static_cast<std::int32_t>(rng() % 50),
                   std::string(1 + rng() % 8, static_cast<char>('a' + rng() % 20)), std::nullopt};
  };
  // Past the record cache and the RAM pages.
  while (!table.TemporaryRecordManager()->HasSpillFile() ||
         !table.TemporaryPageManager()->HasPageFile() || model.size() < 600) {
    const TMemRow r = row();
    std::int32_t slot = -1;
    ASSERT_TRUE(fx.Insert(r, slot));
    model[slot] = r;
  }
  auto check = [&] {
    test::TTestLocalCursor& c = fx.Cursor();
    for (std::int32_t index_id : {-1, fx.IndexID(0), fx.IndexID(1)}) {
      SCOPED_TRACE(index_id);
      c.IndexID = index_id;
      c.InternalFirst();
      std::size_t seen = 0;
      std::int32_t prev_a = -1;
      while (c.GetRecordBuffer(grmNext) == grrOK) {
        const TMemRow got = fx.Current();
        const TMemRow& want = model.at(c.CurrentRecordID.PageNo);
        ASSERT_EQ(got.id, want.id);
        ASSERT_EQ(got.a, want.a);
        ASSERT_EQ(got.name, want.name);
        if (index_id == fx.IndexID(0)) {
          ASSERT_GE(got.a, prev_a);
          prev_a = got.a;
        }
        ++seen;
      }
      ASSERT_EQ(seen, model.size());
      ASSERT_EQ(table.GetRecordCount(c), static_cast<std::int64_t>(model.size()));
    }
  };
  check();
  int failed = 0, thrown = 0;
  for (int i = 0; i < 60; ++i) {
    SCOPED_TRACE(i);
    const TMemRow r = row();
    fs.fail_writes = true;
    std::int32_t slot = -1;
    bool stored = false;
    try {
      stored = fx.Insert(r, slot);
    } catch (const std::exception&) {
      // The index pages could not be written: the entries were taken out.
      ++thrown;
      stored = false;
    }
    fs.fail_writes = false;
    if (stored) {
      model[slot] = r;
    } else {
      ++failed;
      ASSERT_EQ(table.RecordManager()->RecordCount, static_cast<std::int64_t>(model.size()));
    }
  }
  // Index page writes failed after the record was staged (the record
  // manager's own spill failures are its tests').
  EXPECT_GT(failed, 0);
  EXPECT_GT(thrown, 0);
  check();
  // And the table goes on working once the disk takes writes again.
  for (int i = 0; i < 50; ++i) {
    const TMemRow r = row();
    std::int32_t slot = -1;
    ASSERT_TRUE(fx.Insert(r, slot));
    model[slot] = r;
  }
  check();
}

TEST(TemporaryTableFilesTest, FailedBlobWriteLeavesTheFileAndTheRecordAsTheyWere) {
  test::FailingTempFileSystem fs;
  platform::ScopedFileSystem scope(fs);
  TTemporaryTableFixture fx;
  TVEZTemporaryTableData& table = fx.Table();
  std::string big(TVEZTemporaryTableData::kBLOBFileMemoryLimit + 1000, '\0');
  std::mt19937 rng(2);
  for (char& ch : big)
    ch = static_cast<char>(rng());
  std::int32_t slot = -1;
  ASSERT_TRUE(fx.Insert({1, 1, "big", big}, slot));
  auto* blob_file = dynamic_cast<TVEZTemporaryStream*>(table.BLOBFile());
  ASSERT_NE(blob_file, nullptr);
  ASSERT_FALSE(blob_file->InMemory());
  const std::int64_t size = blob_file->Size();
  fx.ReadSlot(0);
  const std::vector<std::uint8_t> before(
      fx.Cursor().CurrentRecordBuffer,
      fx.Cursor().CurrentRecordBuffer + fx.Cursor().RecordBufferSize);
  fs.fail_writes = true;
  EXPECT_THROW(fx.WriteBlob(std::string(9000, 'n')), std::exception);
  fs.fail_writes = false;
  EXPECT_EQ(blob_file->Size(), size);
  EXPECT_EQ(
      std::vector<std::uint8_t>(fx.Cursor().CurrentRecordBuffer,
                                fx.Cursor().CurrentRecordBuffer + fx.Cursor().RecordBufferSize),
      before);
  EXPECT_EQ(fx.Current().blob, big);
  // The next entry starts where the failed one did.
  ASSERT_TRUE(fx.Insert({2, 2, "next", std::string(300, 'm')}, slot));
  const TVEZFieldDef& def = *table.FieldManager()->FieldDefs().GetDef(test::kFieldData);
  EXPECT_EQ(TVEZTemporaryTableData::BlobOffsetOf(fx.Cursor().CurrentRecordBuffer, def), size);
  fx.ReadSlot(1);
  EXPECT_EQ(fx.Current().blob, std::string(300, 'm'));
  fx.ReadSlot(0);
  EXPECT_EQ(fx.Current().blob, big);
}

TEST(TemporaryTableFilesTest, NoFileRemainsAfterClose) {
  test::FailingTempFileSystem fs;
  platform::ScopedFileSystem scope(fs);
  const std::size_t open_before = OpenFileCount();
  {
    TSpillingTemporaryFixture fx;
    std::int32_t slot = -1;
    // A BLOB past the BLOB file's memory limit takes it to a file too.
    std::string big(TVEZTemporaryTableData::kBLOBFileMemoryLimit + 1000, '\0');
    std::mt19937 rng(1);
    for (char& ch : big)
      ch = static_cast<char>(rng());
    ASSERT_TRUE(fx.Insert({1, 1, "big", big}, slot));
    for (std::int32_t i = 2; i < 800; ++i)
      ASSERT_TRUE(fx.Insert({i, i % 13, "n" + std::to_string(i % 17), std::nullopt}, slot));
    auto* blob_file = dynamic_cast<TVEZTemporaryStream*>(fx.Table().BLOBFile());
    ASSERT_NE(blob_file, nullptr);
    EXPECT_FALSE(blob_file->InMemory());
    EXPECT_TRUE(fx.Table().TemporaryRecordManager()->HasSpillFile());
    EXPECT_TRUE(fx.Table().TemporaryPageManager()->HasPageFile());
    EXPECT_GE(fs.paths.size(), 3u);
    fx.ReadSlot(0);
    EXPECT_EQ(fx.Current().blob, big);
    EXPECT_GE(OpenFileCount(), open_before + 3);
  }
  EXPECT_EQ(OpenFileCount(), open_before);
  for (const std::string& p : fs.paths)
    EXPECT_FALSE(platform::DefaultFileSystem().FileExists(p)) << p;
}

TEST(TemporaryTableFilesTest, DisabledTempFilesKeepEverythingInMemory) {
  test::FailingTempFileSystem fs;
  platform::ScopedFileSystem scope(fs);
  // Room for the BLOB file's first MiB; the record and page limits, which
  // the table ignores here, are some thousand records and 50 pages.
  TTemporaryTableFixture fx(64, 25 * kSmallTenth, true);
  const std::int32_t limit = fx.Table().TemporaryRecordManager()->MaxCachedRecordCount();
  std::int32_t slot = -1;
  for (std::int32_t i = 1; i <= limit + 1000; ++i)
    ASSERT_TRUE(fx.Insert({i, i % 13, "n", std::string(i % 3 == 0 ? 40 : 0, 'b')}, slot));
  EXPECT_FALSE(fx.Table().TemporaryRecordManager()->HasSpillFile());
  EXPECT_FALSE(fx.Table().TemporaryPageManager()->HasPageFile());
  EXPECT_TRUE(fs.paths.empty());
  EXPECT_EQ(fx.Table().RecordManager()->RecordCount, limit + 1000);
  EXPECT_GT(fx.Table().TemporaryPageManager()->UsedPageCount(),
            fx.Table().TemporaryPageManager()->MaxMemoryPageCount());
}

TEST(TemporaryDatabaseTest, TablesWithoutBlobFieldsHaveNoBlobFile) {
  test::TMemoryTestServices services;
  test::TScopedSessionLayerServices scoped(&services);
  TVEZTemporaryDatabaseData db;
  test::TTestLocalCursor cursor;
  cursor.TableName = "N";
  auto* table = static_cast<TVEZTemporaryTableData*>(db.FindOrCreateTableData(cursor));
  TVEZFieldDefs fields;
  TVEZIndexDefs indexes;
  TVEZConstraintDefs constraints;
  EXPECT_EQ(NativeErrorOf([&] { table->CreateTable(&cursor, fields, indexes, constraints); }),
            10132);
  test::AddField(fields, "ID", aftInteger);
  table->CreateTable(&cursor, fields, indexes, constraints);
  EXPECT_EQ(table->BLOBFile(), nullptr);
  EXPECT_NE(table->TemporaryPageManager(), nullptr);
  cursor.Open(*table);
  cursor.NewRecord();
  EXPECT_EQ(NativeErrorOf([&] {
              TVEZLockGuard guard(*table);
              table->InternalCreateBlobStream(cursor, false, 0, bomRead);
            }),
            10140);
  TVEZPartialTemporaryBLOBDescriptor descriptor;
  descriptor.UncompressedSize = 1;
  std::uint8_t* data = nullptr;
  EXPECT_EQ(NativeErrorOf([&] {
              table->SetDirectBlobData(cursor, 0, cursor.CurrentRecordBuffer, descriptor, data);
            }),
            10506);
  cursor.InternalPost(true);
  EXPECT_EQ(cursor.ErrorCode, cecOK);
  // Open: not deleted; closed: the table data frees itself.
  EXPECT_EQ(NativeErrorOf([&] { table->DeleteTable(nullptr, false); }), 20017);
  cursor.Close();
  table->DeleteTable(nullptr, false);
  EXPECT_TRUE(db.TableDataList().empty());
}

TEST(TemporaryDatabaseTest, HandsOutIdsFromOne) {
  TVEZTemporaryDatabaseData db;
  EXPECT_EQ(db.DatabaseName(), "TEMP");
  EXPECT_EQ(db.PageManager(), nullptr);
  EXPECT_EQ(db.GetNewObjectId(), 1);
  EXPECT_EQ(db.GetNewObjectId(), 2);
}

TEST(TemporaryDatabaseTest, TheProcessDatabaseIsListedAtStartUp) {
  // Found by name without a call that would make it.
  TVEZDatabaseData* found = DatabaseDataList().Find([](TVEZDatabaseData* d) {
    return d->DatabaseName() == TVEZTemporaryDatabaseData::kDatabaseName;
  });
  ASSERT_NE(found, nullptr);
  EXPECT_NE(dynamic_cast<TVEZTemporaryDatabaseData*>(found), nullptr);
  EXPECT_EQ(found, &TemporaryDatabaseData());
}

}  // namespace
}  // namespace vez

// BLOB fields of a disk table through the table data's BLOB streams, as the
// session layer's cursor uses them: written, read back, replaced, kept by an
// update that does not touch them, deleted with their record, and read again
// after the database is reopened, against a std::map model.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>

#include "tests/dbengine/storage/DiskTableTestSupport.h"
#include "tests/dbengine/storage/DiskTestSupport.h"

namespace vez {
namespace {

using test::ScratchDir;
using test::TDiskTableEnv;
using test::TTestLocalCursor;

constexpr std::int32_t kNoteID = 0, kNoteKey = 1, kNotePlain = 2, kNotePacked = 3;
constexpr const char* kNotes = "Notes";

using Blob = std::optional<std::string>;  // an empty value is stored as NULL
struct TNote {
  Blob plain;
  Blob packed;
  bool operator==(const TNote&) const = default;
};
using Model = std::map<std::int32_t, TNote>;  // by Key

// ID AutoInc, Key Integer, Plain Blob (blocks of 64 bytes, uncompressed),
// Packed Blob (ZLIB mode 1 unless given, blocks of 1000 bytes).
void CreateNotesTable(TDiskTableEnv& env, TVEZCompressionAlgorithm algorithm = acaZLIB,
                      std::uint8_t mode = 1) {
  TVEZFieldDefs fields;
  test::AddField(fields, "ID", aftAutoInc);
  test::AddField(fields, "Key", aftInteger);
  test::AddField(fields, "Plain", aftBlob)->BLOBBlockSize = 64;
  TVEZFieldDef* packed = test::AddField(fields, "Packed", aftBlob);
  packed->BLOBBlockSize = 1000;
  packed->BLOBCompressionAlgorithm = algorithm;
  packed->BLOBCompressionMode = mode;
  TVEZIndexDefs indexes;
  test::AddIndexDef(indexes, "IX_Key", {"Key"}, true);
  TVEZConstraintDefs constraints;
  TTestLocalCursor& c = env.NewCursor(kNotes);
  env.Table(kNotes).CreateTable(&c, fields, indexes, constraints);
  env.DropCursor(c);
}

void WriteBlob(TTestLocalCursor& c, std::int32_t field_no, const Blob& value) {
  TVEZTableData& table = *c.table_data;
  std::unique_ptr<TVEZStream> stream;
  {
    TVEZLockGuard guard(table);
    stream = table.InternalCreateBlobStream(c, false, field_no, bomWrite);
  }
  if (value && !value->empty())
    stream->Write(value->data(), static_cast<std::int32_t>(value->size()));
  stream->SetModified(true);
  TVEZLockGuard guard(table);
  table.WriteBLOBFieldToRecordBuffer(c, field_no, *stream);
}

Blob ReadBlob(TTestLocalCursor& c, std::int32_t field_no) {
  if (GetBufferBit(field_no, c.CurrentRecordBuffer)) return std::nullopt;
  TVEZTableData& table = *c.table_data;
  std::unique_ptr<TVEZStream> stream;
  {
    TVEZLockGuard guard(table);
    stream = table.InternalCreateBlobStream(c, false, field_no, bomRead);
  }
  std::string s(static_cast<std::size_t>(stream->Size()), '\0');
  if (!s.empty()) {
    EXPECT_EQ(stream->Read(s.data(), static_cast<std::int32_t>(s.size())),
              static_cast<std::int32_t>(s.size()));
  }
  return s;
}

std::int32_t KeyOf(TTestLocalCursor& c) {
  std::int32_t key = 0;
  GetRecordFieldData(kNoteKey, c.FieldDefs(), &key, c.CurrentRecordBuffer);
  return key;
}

bool GoTo(TTestLocalCursor& c, std::int32_t key) {
  c.IndexID = -1;
  c.FirstPosition = true;
  c.LastPosition = false;
  while (c.GetRecordBuffer(grmNext) == grrOK)
    if (KeyOf(c) == key) return true;
  return false;
}

// Every record's BLOBs, read through fresh streams, are the model's.
void ExpectNotesAre(TTestLocalCursor& c, const Model& model) {
  Model seen;
  c.IndexID = -1;
  c.FirstPosition = true;
  c.LastPosition = false;
  while (c.GetRecordBuffer(grmNext) == grrOK)
    seen[KeyOf(c)] = TNote{ReadBlob(c, kNotePlain), ReadBlob(c, kNotePacked)};
  EXPECT_EQ(seen.size(), model.size());
  for (const auto& [key, note] : model) {
    SCOPED_TRACE(testing::Message() << "key " << key);
    auto it = seen.find(key);
    ASSERT_NE(it, seen.end());
    EXPECT_EQ(it->second.plain, note.plain);
    EXPECT_EQ(it->second.packed, note.packed);
  }
}

// A value of n bytes that compresses a little (a NULL for n == 0).
Blob MakeBlob(std::mt19937& rng, std::size_t n) {
  if (n == 0) return std::nullopt;
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>(i % 5 == 0 ? rng() % 256 : 'a' + (i / 7) % 26);
  return s;
}

// Sizes around the block and page boundaries, and one of several pages.
constexpr std::size_t kSizes[] = {0, 1, 63, 64, 65, 999, 1000, 1001, 4000, 4096, 9000, 30000};

class DiskTableBlobTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string path = dir.Path("notes.vez");
};

TEST_F(DiskTableBlobTest, BlobsAreWrittenReadReplacedDeletedAndReopened) {
  Model model;
  std::mt19937 rng(2116);
  const auto random_blob = [&] { return MakeBlob(rng, kSizes[rng() % std::size(kSizes)]); };
  {
    TDiskTableEnv env(path, true, false);
    CreateNotesTable(env);
    TTestLocalCursor& c = env.Open(kNotes);
    for (std::int32_t key = 0; key < 60; ++key) {
      SCOPED_TRACE(testing::Message() << "insert " << key);
      const TNote note{random_blob(), random_blob()};
      c.NewRecord();
      SetRecordFieldData(kNoteKey, c.FieldDefs(), &key, c.CurrentRecordBuffer);
      WriteBlob(c, kNotePlain, note.plain);
      WriteBlob(c, kNotePacked, note.packed);
      c.InternalPost(true);
      ASSERT_EQ(c.ErrorCode, cecOK);
      model[key] = note;
      // The record just posted reads back through its stream.
      EXPECT_EQ(ReadBlob(c, kNotePlain), note.plain);
    }
    ExpectNotesAre(c, model);

    for (int step = 0; step < 80; ++step) {
      auto it = model.begin();
      std::advance(it, static_cast<long>(rng() % model.size()));
      SCOPED_TRACE(testing::Message() << "step " << step << " key " << it->first);
      ASSERT_TRUE(GoTo(c, it->first));
      switch (rng() % 4) {
        case 0:
          c.InternalDelete();
          ASSERT_EQ(c.ErrorCode, cecOK);
          model.erase(it);
          break;
        case 1: {
          // Only the key changes: both BLOBs stay as stored.
          c.BeginEdit();
          const std::int32_t key = it->first + 1000;
          SetRecordFieldData(kNoteKey, c.FieldDefs(), &key, c.CurrentRecordBuffer);
          c.InternalPost(false);
          ASSERT_EQ(c.ErrorCode, cecOK);
          model[key] = it->second;
          model.erase(it);
          break;
        }
        default: {
          // One or both BLOBs are replaced (by NULL too).
          c.BeginEdit();
          TNote note = it->second;
          if (rng() % 2 == 0) {
            note.plain = random_blob();
            WriteBlob(c, kNotePlain, note.plain);
          }
          note.packed = random_blob();
          WriteBlob(c, kNotePacked, note.packed);
          c.InternalPost(false);
          ASSERT_EQ(c.ErrorCode, cecOK);
          it->second = note;
          break;
        }
      }
      if (model.empty()) break;
    }
    ExpectNotesAre(c, model);
  }
  TDiskTableEnv env(path, false, false);
  TTestLocalCursor& c = env.Open(kNotes);
  ExpectNotesAre(c, model);
}

// A BLOB column that asks for PPM stores its values packed and reads them
// back, also after the database is reopened.
TEST_F(DiskTableBlobTest, PPMBlobColumnReadsBackAfterReopen) {
  Model model;
  std::mt19937 rng(54);
  {
    TDiskTableEnv env(path, true, false);
    CreateNotesTable(env, acaPPM, 3);
    TTestLocalCursor& c = env.Open(kNotes);
    std::int32_t key = 0;
    for (std::size_t n : kSizes) {
      SCOPED_TRACE(testing::Message() << "size " << n);
      const TNote note{MakeBlob(rng, n / 2), MakeBlob(rng, n)};
      c.NewRecord();
      SetRecordFieldData(kNoteKey, c.FieldDefs(), &key, c.CurrentRecordBuffer);
      WriteBlob(c, kNotePlain, note.plain);
      WriteBlob(c, kNotePacked, note.packed);
      c.InternalPost(true);
      ASSERT_EQ(c.ErrorCode, cecOK);
      EXPECT_EQ(ReadBlob(c, kNotePacked), note.packed);
      model[key++] = note;
    }
    ExpectNotesAre(c, model);
  }
  TDiskTableEnv env(path, false, false);
  TTestLocalCursor& c = env.Open(kNotes);
  EXPECT_EQ(c.FieldDefs().GetDef(kNotePacked)->BLOBCompressionAlgorithm, acaPPM);
  ExpectNotesAre(c, model);
}

// A deleted record's BLOB pages are given back: filling the table again with
// the same values after deleting every record reuses them (the file grows by
// no more than one extent where pages were freed out of order, far below the
// ~300 KiB of one fill).
TEST_F(DiskTableBlobTest, DeletedBlobsGiveTheirPagesBack) {
  TDiskTableEnv env(path, true, false);
  CreateNotesTable(env);
  TTestLocalCursor& c = env.Open(kNotes);
  const auto fill = [&] {
    std::mt19937 rng(7);
    for (std::int32_t key = 0; key < 20; ++key) {
      c.NewRecord();
      SetRecordFieldData(kNoteKey, c.FieldDefs(), &key, c.CurrentRecordBuffer);
      WriteBlob(c, kNotePlain, MakeBlob(rng, 9000));
      WriteBlob(c, kNotePacked, MakeBlob(rng, 30000));
      c.InternalPost(true);
      ASSERT_EQ(c.ErrorCode, cecOK);
    }
  };
  fill();
  const std::int64_t filled = static_cast<std::int64_t>(std::filesystem::file_size(path));
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    for (std::int32_t key = 0; key < 20; ++key) {
      ASSERT_TRUE(GoTo(c, key));
      c.InternalDelete();
      ASSERT_EQ(c.ErrorCode, cecOK);
    }
    EXPECT_EQ(c.table_data->RecordManager()->RecordCount, 0);
    fill();
    EXPECT_LE(static_cast<std::int64_t>(std::filesystem::file_size(path)), filled + 8 * 4096);
  }
}

}  // namespace
}  // namespace vez

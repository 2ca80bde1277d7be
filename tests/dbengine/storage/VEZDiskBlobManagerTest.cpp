// Disk BLOB storage: values of every size class round-tripped through shared
// and own pages of a database file, replaced and deleted with their pages
// given back, shared-page ids, caches by handle, and damaged pages and page
// lists that raise and change nothing.
#include "dbengine/storage/VEZDiskBlobManager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "dbengine/foundation/VEZCompressedBLOBStream.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryStream.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/DiskRecordTestSupport.h"
#include "tests/dbengine/storage/TableTestSupport.h"

namespace vez::test {
namespace {

using Bytes8 = std::vector<std::uint8_t>;
constexpr std::int32_t kP = 4056;  // page data size of 4096-byte pages
constexpr std::int32_t kBlobField = 1;

// A table (I integer, B blob) with its BLOB manager, reopened at will.
class BlobTable {
 public:
  BlobTable() {
    AddField(t.Fields(), "I", aftInteger);
    AddField(t.Fields(), "B", aftBlob);
    t.Start();
    bm = std::make_unique<TVEZDiskBlobManager>(&t.PM(), &t.FieldManager(), &t.RM());
    bm->CreateBlobPageIndex();
    t.PM().ApplyChanges(-2);
  }
  ~BlobTable() {
    if (bm) {
      EXPECT_EQ(bm->Caches().LiveCount(), 0);
    }
  }
  void Reopen() {
    const std::int32_t root = bm->BlobPageIndex().RootPageNo();
    bm.reset();
    t.Reopen();
    bm = std::make_unique<TVEZDiskBlobManager>(&t.PM(), &t.FieldManager(), &t.RM());
    bm->BlobPageIndex().OpenIndex(root);
  }
  Bytes8 NewRecord() { return Bytes8(static_cast<std::size_t>(t.RecordSize()), 0); }

  // Gives the record's BLOB field the value and stores the record.
  void Put(Bytes8& rec, const Bytes8& value, TVEZPageItemID& rid, bool insert) {
    TVEZPartialTemporaryBLOBDescriptor d{3, static_cast<std::int64_t>(value.size()) * 2,
                                         static_cast<std::int64_t>(value.size())};
    bm->SetDirectBlobInfoFromRecordBuffer(rec.data(), kBlobField, d, value.data());
    if (insert) {
      bm->WriteBlobs(kDiskSession, rec.data());
      ASSERT_TRUE(t.RM().AddRecord(kDiskSession, rec.data(), rid));
    } else {
      bm->WriteBlobs(kDiskSession, rec.data());
      ASSERT_TRUE(t.RM().UpdateRecord(kDiskSession, rec.data(), rid));
    }
  }
  // The stored record and its BLOB value (empty for NULL).
  Bytes8 Get(TVEZPageItemID rid, Bytes8* rec_out = nullptr) {
    Bytes8 rec = NewRecord();
    TVEZNavigationInfo info;
    info.RecordID = rid;
    info.RecordBuffer = rec.data();
    t.RM().GetRecordBuffer(kDiskSession, info);
    EXPECT_EQ(info.GetRecordResult, grrOK);
    TVEZPartialTemporaryBLOBDescriptor d;
    const std::uint8_t* data = nullptr;
    bm->GetDirectBlobInfoFromRecordBuffer(kDiskSession, rec.data(), kBlobField, d, data);
    Bytes8 out(data, data + d.CompressedSize);
    if (d.CompressedSize > 0) {
      EXPECT_EQ(d.NumBlocks, 3);
      EXPECT_EQ(d.UncompressedSize, d.CompressedSize * 2);
    }
    bm->ClearBlobInRecordBuffer(rec.data(), kBlobField, false);
    if (rec_out) *rec_out = rec;
    return out;
  }
  std::int32_t UsedPages() {
    std::int32_t n = 0;
    for (std::int32_t i = 0; i < t.PM().GetPageCount(); ++i)
      n += t.PM().FreeSpaceManager()->GetPageUsageFromPFS(i) ? 1 : 0;
    return n;
  }

  DiskTable t;
  std::unique_ptr<TVEZDiskBlobManager> bm;
};

Bytes8 RandomBytes(std::size_t n, std::mt19937& rng) {
  Bytes8 b(n);
  for (auto& x : b)
    x = static_cast<std::uint8_t>(rng());
  return b;
}

// Sizes around every boundary: empty, the largest small value, the smallest
// large one, a large value whose last data page is exactly full (its list
// starts a page of its own) or nearly full (the list continues on a linked
// page), and several megabytes.
const std::int64_t kSizes[] = {0,
                               1,
                               kP - 26,
                               kP - 25,
                               kP - 24,
                               kP - 23,
                               (kP - 32) + kP,
                               (kP - 32) + kP - 2,
                               (kP - 32) + 3 * kP - 5,
                               3 * 1024 * 1024 + 17};

TEST(VEZDiskBlobManagerTest, EverySizeRoundTripsIsReplacedAndDeletedWithPagesGivenBack) {
  for (const std::int64_t size : kSizes) {
    SCOPED_TRACE(testing::Message() << "size " << size);
    BlobTable bt;
    const std::int32_t baseline = bt.UsedPages();
    std::mt19937 rng(static_cast<unsigned>(size));
    const Bytes8 value = RandomBytes(static_cast<std::size_t>(size), rng);
    Bytes8 rec = bt.NewRecord();
    TVEZPageItemID rid;
    bt.Put(rec, value, rid, true);
    EXPECT_EQ(bt.bm->Caches().LiveCount(), 0);
    const TVEZPageItemID bid = bt.bm->GetBlobID(rec.data(), kBlobField);
    if (size == 0) {
      EXPECT_TRUE(bid.PageNo == 0 || bid.PageNo == -1);
    } else {
      EXPECT_EQ(bid.PageItemNo == kLargeBlobItemNo, size + 24 >= kP);
    }
    bt.t.PM().ApplyChanges(kDiskSession);
    bt.Reopen();
    EXPECT_EQ(bt.Get(rid), value);
    // Replace with a value of the other size class, then with an empty one.
    const Bytes8 other = RandomBytes(size + 24 < kP ? 9000 : 100, rng);
    Bytes8 stored;
    bt.Get(rid, &stored);
    bt.Put(stored, other, rid, false);
    bt.t.PM().ApplyChanges(kDiskSession);
    EXPECT_EQ(bt.Get(rid), other);
    bt.Get(rid, &stored);
    bt.Put(stored, {}, rid, false);
    EXPECT_EQ(bt.bm->GetBlobID(stored.data(), kBlobField), (TVEZPageItemID{-1, 0xFFFF}));
    bt.t.PM().ApplyChanges(kDiskSession);
    EXPECT_TRUE(bt.Get(rid).empty());
    // Only the record page remains beside the indexes.
    EXPECT_EQ(bt.UsedPages(), baseline + 1);
    bt.Get(rid, &stored);
    bt.Put(stored, value, rid, false);
    bt.t.PM().ApplyChanges(kDiskSession);
    bt.bm->DeleteBlobs(kDiskSession, stored.data());
    ASSERT_TRUE(bt.t.RM().DeleteRecord(kDiskSession, rid));
    bt.t.PM().ApplyChanges(kDiskSession);
    EXPECT_EQ(bt.UsedPages(), baseline);
  }
}

TEST(VEZDiskBlobManagerTest, SharedPageIdsAndDeletesInTheMiddle) {
  BlobTable bt;
  std::mt19937 rng(4);
  std::vector<Bytes8> values;
  std::vector<Bytes8> recs;
  std::vector<TVEZPageItemID> rids;
  for (int i = 0; i < 5; ++i) {
    values.push_back(RandomBytes(100 + static_cast<std::size_t>(i), rng));
    recs.push_back(bt.NewRecord());
    rids.emplace_back();
    bt.Put(recs.back(), values.back(), rids.back(), true);
    const TVEZPageItemID bid = bt.bm->GetBlobID(recs.back().data(), kBlobField);
    EXPECT_EQ(bid.PageItemNo, i);
    EXPECT_EQ(bid.PageNo, bt.bm->GetBlobID(recs[0].data(), kBlobField).PageNo);
  }
  const std::int32_t page = bt.bm->GetBlobID(recs[0].data(), kBlobField).PageNo;
  // Entry 2 goes: the others keep their ids and values.
  bt.bm->DeleteBlobs(kDiskSession, recs[2].data());
  ASSERT_TRUE(bt.t.RM().DeleteRecord(kDiskSession, rids[2]));
  for (int i : {0, 1, 3, 4})
    EXPECT_EQ(bt.Get(rids[static_cast<std::size_t>(i)]), values[static_cast<std::size_t>(i)]);
  // BlobCount is 4 and id 4 is taken: the next free id from 4 upwards is 5.
  Bytes8 rec = bt.NewRecord();
  TVEZPageItemID rid;
  bt.Put(rec, values[0], rid, true);
  EXPECT_EQ(bt.bm->GetBlobID(rec.data(), kBlobField), (TVEZPageItemID{page, 5}));
  EXPECT_EQ(bt.bm->BlobPageIndex().GetBlobPageAllocatedSpace(kDiskSession, page),
            100 + 101 + 103 + 104 + 100 + 5 * 22);
  bt.t.PM().ApplyChanges(kDiskSession);
}

TEST(VEZDiskBlobManagerTest, CachesAreHandlesThatGoStaleInCopies) {
  BlobTable bt;
  std::mt19937 rng(8);
  const Bytes8 value = RandomBytes(500, rng);
  Bytes8 rec = bt.NewRecord();
  TVEZPageItemID rid;
  bt.Put(rec, value, rid, true);
  Bytes8 stored;
  bt.Get(rid, &stored);
  bt.bm->ReadBlob(kDiskSession, stored.data(), kBlobField);
  const std::uint32_t handle = bt.bm->GetCacheHandle(stored.data(), kBlobField);
  EXPECT_NE(handle, 0u);
  EXPECT_EQ(NativeErrorOf([&] { bt.bm->CheckCachesReleased(); }), kErrBlobCacheNotReleased);
  Bytes8 copy = stored;
  bt.bm->ClearBlobInRecordBuffer(stored.data(), kBlobField, false);
  // The copy's handle no longer resolves; reading it again reads the pages.
  TVEZPartialTemporaryBLOBDescriptor d;
  const std::uint8_t* data = nullptr;
  bt.bm->GetDirectBlobInfoFromRecordBuffer(kDiskSession, copy.data(), kBlobField, d, data);
  EXPECT_NE(bt.bm->GetCacheHandle(copy.data(), kBlobField), handle);
  EXPECT_EQ(Bytes8(data, data + d.CompressedSize), value);
  // A pending cache survives a clear without force.
  bt.bm->SetDirectBlobInfoFromRecordBuffer(copy.data(), kBlobField, {1, 2, 2}, value.data());
  bt.bm->ClearBlobInRecordBuffer(copy.data(), kBlobField, false);
  EXPECT_EQ(bt.bm->Caches().LiveCount(), 1);
  bt.bm->ClearBlobInRecordBuffer(copy.data(), kBlobField, true);
  EXPECT_EQ(bt.bm->Caches().LiveCount(), 0);
  bt.t.PM().ApplyChanges(kDiskSession);
}

TEST(VEZDiskBlobManagerTest, StreamsInAndOut) {
  BlobTable bt;
  std::mt19937 rng(2);
  const Bytes8 value = RandomBytes(20000, rng);
  TVEZMemoryStream raw;
  TVEZBLOBDescriptor desc;
  desc.BlockSize = 4096;
  desc.CompressionAlgorithm = static_cast<std::uint8_t>(acaZLIB);
  desc.CompressionMode = 6;
  {
    TVEZCompressedBLOBStream s(raw, desc, true, false);
    s.WriteBuffer(value.data(), static_cast<std::int32_t>(value.size()));
    Bytes8 rec = bt.NewRecord();
    bt.bm->CopyBlobFromStreamToRecordBuffer(rec.data(), kBlobField, true, s);
    EXPECT_FALSE(bt.t.FieldManager().IsFieldNull(kBlobField, rec.data()));
    TVEZPageItemID rid;
    bt.bm->WriteBlobs(kDiskSession, rec.data());
    ASSERT_TRUE(bt.t.RM().AddRecord(kDiskSession, rec.data(), rid));
    bt.t.PM().ApplyChanges(kDiskSession);
    Bytes8 stored = bt.NewRecord();
    TVEZNavigationInfo info;
    info.RecordID = rid;
    info.RecordBuffer = stored.data();
    bt.t.RM().GetRecordBuffer(kDiskSession, info);
    TVEZMemoryStream out;
    TVEZBLOBDescriptor got;
    bt.bm->CopyBlobFromRecordBufferToStream(kDiskSession, stored.data(), kBlobField, got, out);
    bt.bm->ClearBlobInRecordBuffer(stored.data(), kBlobField, false);
    EXPECT_EQ(got.UncompressedSize, 20000);
    EXPECT_EQ(out.Size(), raw.Size());
    got.BlockSize = desc.BlockSize;
    got.CompressionAlgorithm = s.BLOBDescriptor().CompressionAlgorithm;
    got.CompressionMode = s.BLOBDescriptor().CompressionMode;
    got.StartPosition = 0;
    TVEZCompressedBLOBStream back(out, got, false, false);
    Bytes8 again(value.size());
    back.ReadBuffer(again.data(), static_cast<std::int32_t>(again.size()));
    EXPECT_EQ(again, value);
  }
}

// Damaged stored bytes: each damage raises on read and on delete, and after
// the caller drops its changes the file is as it was.
TEST(VEZDiskBlobManagerTest, DamagedPagesAndListsRaiseAndChangeNothing) {
  struct Row {
    const char* name;
    std::int64_t size;
    // Page (0: the BLOB's first page) and data offset to overwrite, and the value.
    std::int32_t offset;
    std::int64_t value;
    int width;
    std::int32_t error;
  };
  const Row rows[] = {
      {"large: page count too small", 3 * kP, 28, 2, 4, kErrCannotReadBlob},
      {"large: page count too large", 3 * kP, 28, 9, 4, kErrCannotReadBlob},
      {"large: size beyond the list", 3 * kP, 6, 10 * kP, 8, kErrCannotReadBlob},
      {"large: negative size", 3 * kP, 6, -5, 8, kErrCannotReadBlob},
      {"large: largest size", 3 * kP, 6, std::numeric_limits<std::int64_t>::max(), 8,
       kErrCannotReadBlob},
      {"large: list on a missing page", 3 * kP, 22, -1, 4, kErrCannotReadBlob},
      {"small: entry size past the page", 300, 2 + 6, 5000, 8, kErrBlobNotFound},
      {"small: negative entry size", 300, 2 + 6, -1, 8, kErrBlobNotFound},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    BlobTable bt;
    std::mt19937 rng(1);
    Bytes8 rec = bt.NewRecord();
    TVEZPageItemID rid;
    bt.Put(rec, RandomBytes(static_cast<std::size_t>(row.size), rng), rid, true);
    bt.t.PM().ApplyChanges(kDiskSession);
    const TVEZPageItemID bid = bt.bm->GetBlobID(rec.data(), kBlobField);
    {
      TVEZPage* p = bt.t.PM().GetPage(kDiskSession, bid.PageNo, kPageTypeTableBlob, true);
      std::uint8_t* at = p->PageData() + row.offset;
      if (row.width == 2) PutLE<std::uint16_t>(at, static_cast<std::uint16_t>(row.value));
      if (row.width == 4) PutLE<std::int32_t>(at, static_cast<std::int32_t>(row.value));
      if (row.width == 8) PutLE<std::int64_t>(at, row.value);
      p->SetIsDirty(true);
      bt.t.PM().PutPage(p);
      bt.t.PM().ApplyChanges(kDiskSession);
    }
    const auto before = ReadAll(bt.t.FileName());
    const std::int32_t used = bt.UsedPages();
    Bytes8 stored;
    TVEZNavigationInfo info;
    stored = bt.NewRecord();
    info.RecordID = rid;
    info.RecordBuffer = stored.data();
    bt.t.RM().GetRecordBuffer(kDiskSession, info);
    EXPECT_EQ(NativeErrorOf([&] { bt.bm->ReadBlob(kDiskSession, stored.data(), kBlobField); }),
              row.error);
    EXPECT_EQ(bt.bm->Caches().LiveCount(), 0);
    EXPECT_EQ(NativeErrorOf([&] { bt.bm->DeleteBlobs(kDiskSession, stored.data()); }), row.error);
    bt.t.PM().CancelChanges(kDiskSession);
    bt.t.PM().ApplyChanges(kDiskSession);
    EXPECT_EQ(bt.UsedPages(), used);
    EXPECT_EQ(ReadAll(bt.t.FileName()), before);
  }
}

// Id 255 is an ordinary shared-page id.
TEST(VEZDiskBlobManagerTest, ItemId255IsReadAsASharedPageEntry) {
  BlobTable bt;
  std::mt19937 rng(6);
  const Bytes8 value = RandomBytes(64, rng);
  Bytes8 rec = bt.NewRecord();
  TVEZPageItemID rid;
  bt.Put(rec, value, rid, true);
  TVEZPageItemID bid = bt.bm->GetBlobID(rec.data(), kBlobField);
  TVEZPage* p = bt.t.PM().GetPage(kDiskSession, bid.PageNo, kPageTypeTableBlob, true);
  PutLE<std::uint16_t>(p->PageData() + 2, 255);
  p->SetIsDirty(true);
  bt.t.PM().PutPage(p);
  bid.PageItemNo = 255;
  bid.Encode(rec.data() + bt.t.Fields().GetDef(kBlobField)->MemoryOffset);
  ASSERT_TRUE(bt.t.RM().UpdateRecord(kDiskSession, rec.data(), rid));
  EXPECT_EQ(bt.Get(rid), value);
  Bytes8 stored;
  bt.Get(rid, &stored);
  bt.bm->DeleteBlobs(kDiskSession, stored.data());
  bt.t.PM().ApplyChanges(kDiskSession);
  EXPECT_EQ(bt.bm->BlobPageIndex().GetBlobPageAllocatedSpace(kDiskSession, bid.PageNo), -1);
}

TEST(VEZDiskBlobManagerTest, EmptyDropsEveryStoredBlob) {
  BlobTable bt;
  const std::int32_t baseline = bt.UsedPages();
  std::mt19937 rng(12);
  for (int i = 0; i < 30; ++i) {
    Bytes8 rec = bt.NewRecord();
    TVEZPageItemID rid;
    bt.Put(rec, RandomBytes(i % 3 == 0 ? 9000 : 700, rng), rid, true);
  }
  bt.t.PM().ApplyChanges(kDiskSession);
  bt.bm->Empty(kDiskSession);
  bt.t.RM().Empty(kDiskSession);
  bt.t.PM().ApplyChanges(kDiskSession);
  EXPECT_EQ(bt.UsedPages(), baseline);
}

}  // namespace
}  // namespace vez::test

// Faults outside a commit: a failed header read or a failed growth while a
// page is handed out must leave a file that opens with counters its maps
// agree with, and a foreign file too short for a header is refused as one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZDatabaseFile.h"
#include "dbengine/storage/VEZDatabaseFreeSpaceManager.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/DiskTestSupport.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

using test::AddPageWith;
using test::FaultFileSystem;
using test::Open;
using test::ReadAll;
using test::ScratchDir;
using test::WriteAll;

constexpr std::int32_t kSession = 0;

// Fails every read of exactly fail_count bytes at fail_offset while armed.
struct ReadFault {
  bool armed = false;
  std::int64_t fail_offset = 0;
  std::size_t fail_count = 0;
};

class ReadFaultFile : public platform::FileWrapper {
 public:
  ReadFaultFile(std::unique_ptr<platform::File> target, ReadFault& fault)
      : FileWrapper(std::move(target)), fault_(fault) {}
  void ReadAt(std::int64_t offset, void* buffer, std::size_t count) override {
    if (fault_.armed && offset == fault_.fail_offset && count == fault_.fail_count)
      throw platform::EOSError(EIO, "injected read failure");
    FileWrapper::ReadAt(offset, buffer, count);
  }

 private:
  ReadFault& fault_;
};

class ReadFaultFileSystem : public platform::FileSystemWrapper {
 public:
  ReadFaultFileSystem() : FileSystemWrapper(platform::PosixFileSystem()) {}
  ReadFault fault;
  std::unique_ptr<platform::File> OpenFile(const std::string& path, platform::FileAccess access,
                                           platform::FileShare share) override {
    return std::make_unique<ReadFaultFile>(FileSystemWrapper::OpenFile(path, access, share), fault);
  }
};

std::string MakeDatabase(const ScratchDir& dir, int pages) {
  const std::string name = dir.Path("f.vez");
  test::MakeDatabase(name, pages, 1, 512, 2);
  return name;
}

TEST(VEZDiskFaultTest, FailedHeaderReadNeverWritesABlankHeader) {
  ScratchDir dir;
  const std::string name = MakeDatabase(dir, 3);
  const auto before = ReadAll(name);
  ReadFaultFileSystem fs;
  platform::ScopedFileSystem scope(fs);
  {
    TVEZDiskPageManager pm;
    // Single-user the header is read from the file; multi-user it is read
    // through the mapped header under its lock, which no read fault reaches.
    Open(pm, name, /*exclusive=*/false, /*multi_user=*/false);
    fs.fault = {true, 0, TVEZDBHeader::kSize};
    // Handing out a page and giving one back both start by reading the header.
    EXPECT_EQ(NativeErrorOf([&] { pm.AddPage(kSession, kPageTypeTableRecord); }), 10464);
    EXPECT_EQ(NativeErrorOf([&] { pm.FreeSpaceManager()->FreePage(3); }), 10464);
    EXPECT_EQ(pm.LockDBHeaderCount(), 0);
    // The copy in memory is still the header it was.
    EXPECT_TRUE(pm.DBHeader().HasSignature());
    EXPECT_EQ(pm.DBHeader().PageSize, 512);
    fs.fault.armed = false;
    pm.CancelChanges(kSession);
  }
  EXPECT_EQ(ReadAll(name), before);
  TVEZDiskPageManager pm;
  Open(pm, name);
  EXPECT_EQ(pm.DBHeader().TotalPageCount, TVEZDBHeader::Decode(before.data()).TotalPageCount);
}

// A page hand-out that grows the file fails at each write of the first
// growth, and at the truncate of a later one: the file still opens, its
// counters fit its size, and the next hand-out works.
TEST(VEZDiskFaultTest, FailedGrowthLeavesCountersTheFileHolds) {
  ScratchDir dir;
  const std::string golden_name = MakeDatabase(dir, 0);
  const auto golden = ReadAll(golden_name);
  for (const bool first_growth : {true, false}) {
    // First growth: truncate, two new maps, their bits, the page's bits, the
    // header.
    for (int fail_at = 0; fail_at < (first_growth ? 8 : 1); ++fail_at) {
      SCOPED_TRACE(testing::Message() << "first growth " << first_growth << ", step " << fail_at);
      const std::string name = dir.Path("g.vez");
      WriteAll(name, golden);
      std::int32_t kept = -1;
      {
        FaultFileSystem fs;
        platform::ScopedFileSystem scope(fs);
        TVEZDiskPageManager pm;
        Open(pm, name);
        if (!first_growth) {
          // Fill the file so that the next page makes it grow again.
          kept = AddPageWith(pm, 0x5A);
          while (pm.DBHeader().LastUsedPageNo + 1 < pm.DBHeader().TotalPageCount)
            AddPageWith(pm, 0x5B);
          pm.ApplyChanges(kSession);
        }
        fs.plan = {};
        fs.plan.fail_at = fail_at;
        try {
          AddPageWith(pm, 0x77);
        } catch (const EVEZException& e) {
          EXPECT_NE(std::string(e.what()).find("injected failure"), std::string::npos) << e.what();
        }
        fs.plan.fail_at = -1;
        pm.CancelChanges(kSession);
      }
      TVEZDiskPageManager pm;
      EXPECT_FALSE(Open(pm, name).repair_needed);
      const TVEZDBHeader& h = pm.DBHeader();
      EXPECT_LT(h.LastUsedPageNo, h.TotalPageCount);
      const std::int32_t next = AddPageWith(pm, 0x66);
      EXPECT_FALSE(pm.FreeSpaceManager()->IsSystemPage(next));
      EXPECT_NE(next, kept);
      pm.ApplyChanges(kSession);
      pm.CloseDatabase();
      Open(pm, name);
      TVEZPage* p = pm.GetPage(kSession, next, kPageTypeTableRecord, true);
      EXPECT_EQ(p->PageData()[0], 0x66);
      pm.PutPage(p);
      if (kept >= 0) {
        p = pm.GetPage(kSession, kept, kPageTypeTableRecord, true);
        EXPECT_EQ(p->PageData()[0], 0x5A);
        pm.PutPage(p);
      }
    }
  }
}

// 48-byte pages with two pages per extent: PFS pages at 0, 64, ... and EAM
// pages right after them. A hand-out that grows the file from 60 to 67 pages
// creates the maps at 64 and 65; it fails at each of its writes in turn.
// Whatever is left, no map page is ever handed out and every map page inside
// the file keeps its type and its bit.
TEST(VEZDiskFaultTest, FailedGrowthIntoNewMapsNeverHandsOutAMapPage) {
  ScratchDir dir;
  const std::string golden_name = dir.Path("maps.vez");
  {
    TVEZDiskPageManager pm;
    pm.CreateAndOpenDatabase(golden_name, {}, 48, 2);
    const TVEZDBHeader& h = pm.DBHeader();
    while (!(h.LastUsedPageNo + 1 == h.TotalPageCount &&
             h.TotalPageCount > 64 - std::max(h.TotalPageCount / 10, 2)))
      AddPageWith(pm, 1);
    ASSERT_EQ(h.TotalPageCount, 60);
    pm.ApplyChanges(kSession);
  }
  const auto golden = ReadAll(golden_name);
  // Truncate, two new maps, the EAM page's bit, the new PFS page's extent,
  // the page's bit and extent (both in the old maps), the header.
  for (int fail_at = 0; fail_at < 8; ++fail_at) {
    SCOPED_TRACE(fail_at);
    const std::string name = dir.Path("run.vez");
    WriteAll(name, golden);
    {
      FaultFileSystem fs;
      platform::ScopedFileSystem scope(fs);
      TVEZDiskPageManager pm;
      Open(pm, name);
      fs.plan.fail_at = fail_at;
      EXPECT_NE(NativeErrorOf([&] { AddPageWith(pm, 2); }), 0);
      fs.plan.fail_at = -1;
      pm.CancelChanges(kSession);
    }
    TVEZDiskPageManager pm;
    EXPECT_FALSE(Open(pm, name).repair_needed);
    EXPECT_LT(pm.DBHeader().LastUsedPageNo, pm.DBHeader().TotalPageCount);
    std::set<std::int32_t> handed;
    for (int i = 0; i < 20; ++i) {
      std::int32_t no = -1;
      // A page marked used by the failed call may be refused once.
      if (NativeErrorOf([&] { no = AddPageWith(pm, 3); }) != 0) continue;
      EXPECT_FALSE(pm.FreeSpaceManager()->IsSystemPage(no)) << no;
      EXPECT_TRUE(handed.insert(no).second) << no;
    }
    EXPECT_GE(handed.size(), 19u);
    pm.ApplyChanges(kSession);
    ASSERT_GT(pm.DBHeader().TotalPageCount, 66);
    for (const auto& [map_page, type] :
         {std::pair{0, kPageTypePFS}, std::pair{1, kPageTypeEAM}, std::pair{64, kPageTypePFS},
          std::pair{65, kPageTypeEAM}}) {
      SCOPED_TRACE(map_page);
      std::uint8_t raw[2];
      pm.ReadPageRegion(raw, map_page, 8, 2);
      EXPECT_EQ(GetLE<std::uint16_t>(raw), type);
      EXPECT_TRUE(pm.FreeSpaceManager()->GetPageUsageFromPFS(map_page));
    }
  }
}

TEST(VEZDiskFaultTest, FilesTooShortForAHeaderAreForeign) {
  ScratchDir dir;
  for (const std::size_t size :
       {std::size_t{0}, std::size_t{1}, std::size_t{40}, std::size_t{75}}) {
    SCOPED_TRACE(size);
    const std::string name = dir.Path("short.vez");
    WriteAll(name, std::vector<std::uint8_t>(size, 'q'));
    TVEZDiskPageManager pm;
    EXPECT_EQ(NativeErrorOf([&] { Open(pm, name); }), 10470);
    pm.CloseDatabase();
    EXPECT_EQ(ReadAll(name), std::vector<std::uint8_t>(size, 'q'));
  }
}

// A file another opener holds is never unlinked from under it.
TEST(VEZDiskFaultTest, DeletingAFileInUseIsRefused) {
  ScratchDir dir;
  const std::string name = dir.Path("held.vez");
  WriteAll(name, std::vector<std::uint8_t>(10, 7));
  TVEZDatabaseFile f;
  f.OpenFile(name, amReadWrite, smShareDenyNone);
  f.CloseFile();
  {
    TVEZDatabaseFile holder;
    holder.OpenFile(name, amReadOnly, smShareDenyNone);
    EXPECT_EQ(NativeErrorOf([&] { f.DeleteFile(""); }), 30362);
    EXPECT_EQ(ReadAll(name), std::vector<std::uint8_t>(10, 7));
  }
  f.DeleteFile("");
  EXPECT_FALSE(std::filesystem::exists(name));
}

}  // namespace
}  // namespace vez

#include "dbengine/storage/VEZInternalDBFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <numeric>
#include <random>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZActiveSessionsFile.h"
#include "dbengine/storage/VEZDatabaseFreeSpaceManager.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "dbengine/storage/VEZSystemDirectory.h"
#include "dbengine/storage/VEZTableLocksFile.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/DiskTestSupport.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

using test::Open;
using test::ReadAll;
using test::ScratchDir;

constexpr std::int32_t kInternal = -2;

// A new database as the database data builds it: the system directory, the
// active sessions file and the table list, committed as the internal session.
void CreateDatabase(const std::string& name, std::int32_t max_sessions = 500) {
  TVEZDiskPageManager pm;
  pm.CreateAndOpenDatabase(name, {}, 4096, 8);
  TVEZSystemDirectory dir(&pm);
  dir.CreateDirectory();
  TVEZActiveSessionsFile sessions(&pm);
  const std::int32_t sessions_page = sessions.CreateFile(max_sessions);
  TVEZTableListFile tables(&pm);
  const std::int32_t tables_page = tables.CreateFile();
  dir.CreateFile(dbftActiveSessionsList, sessions_page);
  dir.CreateFile(dbftTablesList, tables_page);
  dir.SaveDirectory();
  pm.ApplyChanges(kInternal);
}

// Opens the database, lets make create a file, commits as the internal
// session and returns the file's first page.
std::int32_t CommitNewFile(const std::string& name,
                           const std::function<std::int32_t(TVEZDiskPageManager&)>& make) {
  TVEZDiskPageManager pm;
  Open(pm, name);
  const std::int32_t start = make(pm);
  pm.ApplyChanges(kInternal);
  return start;
}

TEST(VEZInternalFilesTest, NewDatabaseLayout) {
  ScratchDir dir;
  const std::string name = dir.Path("new.vez");
  CreateDatabase(name);
  const auto bytes = ReadAll(name);
  ASSERT_EQ(bytes.size(), 24956u);
  const auto page = [&](int n) { return bytes.data() + 380 + n * 4096; };
  const std::uint16_t types[] = {kPageTypePFS, kPageTypeEAM, kPageTypeFileSystemDirectory,
                                 kPageTypeActiveSessionList, kPageTypeTableList};
  for (int n = 0; n < 5; ++n)
    EXPECT_EQ(GetLE<std::uint16_t>(page(n) + 8), types[n]) << n;
  EXPECT_EQ(page(0)[40], 0x1F);  // pages 0 to 4 in use, page 5 not
  const std::uint8_t directory[] = {10, 10, 0, 0, 0, 10, 0, 0, 0, 0,  // head
                                    2,  3,  0, 0, 0, 1,  4, 0, 0, 0};
  EXPECT_EQ(std::memcmp(page(2) + 40, directory, sizeof directory), 0);
  const std::uint8_t sessions_head[] = {10, 0xF4, 0x01, 0, 0, 0, 0, 0, 0, 0};  // 500 bytes
  EXPECT_EQ(std::memcmp(page(3) + 40, sessions_head, 10), 0);
  const std::uint8_t empty_head[] = {10, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(page(4) + 40, empty_head, 10), 0);

  TVEZDiskPageManager pm;
  Open(pm, name);
  TVEZSystemDirectory sysdir(&pm);
  sysdir.LoadDirectory();
  ASSERT_EQ(sysdir.Items().size(), 2u);
  EXPECT_EQ(sysdir.Items()[0].FileID, dbftActiveSessionsList);
  EXPECT_EQ(sysdir.GetFileFirstPageNo(dbftActiveSessionsList), 3);
  EXPECT_EQ(sysdir.GetFileFirstPageNo(dbftTablesList), 4);
  EXPECT_EQ(sysdir.GetFileFirstPageNo(dbftUnknown), -1);
  TVEZActiveSessionsFile sessions(&pm);
  sessions.OpenFile(3);
  EXPECT_EQ(sessions.MaxSessionCount(), 500);
  TVEZTableListFile tables(&pm);
  tables.OpenFile(4);
  tables.Load();
  EXPECT_TRUE(tables.Items().empty());
  EXPECT_EQ(NativeErrorOf([&] { tables.OpenFile(4); }), 30393);
  // A second directory cannot start elsewhere than page 2.
  TVEZSystemDirectory again(&pm);
  EXPECT_EQ(NativeErrorOf([&] { again.CreateDirectory(); }), 30392);
  pm.CancelChanges(kInternal);
}

std::vector<std::uint8_t> Pattern(std::int32_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> v(static_cast<std::size_t>(n));
  std::mt19937 rng(seed);
  // Compressible: runs of a few values.
  for (auto& b : v)
    b = static_cast<std::uint8_t>(rng() % 4 == 0 ? rng() : 'a');
  return v;
}

// Pages of a transacted file's chain, read from the file.
std::vector<std::int32_t> Chain(TVEZDiskPageManager& pm, std::int32_t start) {
  std::vector<std::int32_t> pages;
  for (std::int32_t p = start; p >= 0 && pages.size() < 100;) {
    pages.push_back(p);
    std::uint8_t next[4];
    pm.ReadPageRegion(next, p, 10, 4);
    p = GetLE<std::int32_t>(next);
  }
  return pages;
}

TEST(VEZInternalFilesTest, TransactedFilesRoundTripThroughCommitAndReopen) {
  ScratchDir dir;
  const std::string name = dir.Path("t.vez");
  CreateDatabase(name);
  std::int32_t start = -1;
  std::int32_t baseline_last_used = 0;
  {
    TVEZDiskPageManager pm;
    Open(pm, name);
    TVEZInternalDBTransactedAccessFile f(&pm, kPageTypeTableMetaData);
    f.CreateFile(kInternal);
    start = f.StartPageNo();
    pm.ApplyChanges(kInternal);
    baseline_last_used = pm.DBHeader().LastUsedPageNo;
  }
  const struct {
    std::int32_t size;
    TVEZCompressionAlgorithm algorithm;
    std::size_t pages;  // 0: not checked (compressed)
  } rows[] = {
      {4046, acaNone, 1}, {4047, acaNone, 2},  {0, acaNone, 1},     {9000, acaNone, 3},
      {1, acaNone, 1},    {40000, acaZLIB, 0}, {20000, acaNone, 5}, {30000, acaBZIP, 0},
      {3, acaZLIB, 0},    {12158, acaNone, 3}, {0, acaZLIB, 1},     {12159, acaNone, 4},
  };
  std::uint32_t seed = 1;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.size);
    SCOPED_TRACE(row.algorithm);
    const auto data = Pattern(row.size, ++seed);
    {
      TVEZDiskPageManager pm;
      Open(pm, name);
      TVEZInternalDBTransactedAccessFile f(&pm, kPageTypeTableMetaData);
      f.OpenFile(start);
      f.WriteFile(kInternal, data.data(), row.size, row.algorithm, 6);
      EXPECT_EQ(f.GetSize(kInternal), row.size);
      pm.ApplyChanges(kInternal);
    }
    TVEZDiskPageManager pm;
    Open(pm, name);
    TVEZInternalDBTransactedAccessFile f(&pm, kPageTypeTableMetaData);
    f.OpenFile(start);
    std::int32_t stored, decompressed;
    TVEZCompressionAlgorithm algorithm;
    bool changed;
    f.GetFileSize(kInternal, stored, decompressed, algorithm, changed, true);
    EXPECT_TRUE(changed);  // read from the file by this new manager
    EXPECT_EQ(decompressed, row.size);
    if (row.size > 0) {
      EXPECT_EQ(algorithm, row.algorithm);
    }
    std::vector<std::uint8_t> back(data.size() + 1, 0xEE);
    f.ReadFile(kInternal, back.data(), row.size, true);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin()));
    EXPECT_EQ(back.back(), 0xEE);
    const auto chain = Chain(pm, start);
    if (row.pages) {
      EXPECT_EQ(chain.size(), row.pages);
    }
    // Pages past the end are released, not left taken: only the chain is in
    // use beyond what the database had.
    std::int32_t in_use = 0;
    for (std::int32_t p = baseline_last_used + 1; p <= pm.DBHeader().LastUsedPageNo; ++p)
      in_use += pm.FreeSpaceManager()->GetPageUsageFromPFS(p);
    EXPECT_EQ(in_use + 1, static_cast<std::int32_t>(chain.size()));
    EXPECT_EQ(NativeErrorOf([&] {
                std::vector<std::uint8_t> more(data.size() + 2);
                f.ReadFile(kInternal, more.data(), row.size + 1, true);
              }),
              30387);
  }
}

TEST(VEZInternalFilesTest, DamagedTransactedFilesRaiseAndChangeNothing) {
  ScratchDir dir;
  const std::string name = dir.Path("d.vez");
  CreateDatabase(name);
  const auto data = Pattern(6000, 9);
  const std::int32_t start = CommitNewFile(name, [&](TVEZDiskPageManager& pm) {
    TVEZInternalDBTransactedAccessFile f(&pm, kPageTypeTableMetaData);
    f.CreateFile(kInternal);
    f.WriteFile(kInternal, data.data(), 6000, acaNone, 0);
    return f.StartPageNo();
  });
  const auto golden = ReadAll(name);
  std::vector<std::uint8_t> minus_one(4), huge(4), odd(4);
  PutLE<std::int32_t>(minus_one.data(), -1);
  PutLE<std::int32_t>(huge.data(), 0x7FFFFFF0);
  const struct {
    const char* name;
    std::uint16_t offset;
    std::vector<std::uint8_t> bytes;
    std::int32_t error;
  } rows[] = {
      {"chain cut after the first page", 10, minus_one, 30388},
      {"stored size beyond the file", 41, huge, 30388},
      {"decompressed size beyond the stored bytes", 45, huge, 30388},
      {"negative stored size", 41, minus_one, 30388},
      {"page type", 8, {kPageTypeTableMostUpdated, 0}, 20153},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    test::WriteAll(name, golden);
    TVEZDiskPageManager pm;
    Open(pm, name);
    pm.WritePageRegion(row.bytes.data(), start, row.offset,
                       static_cast<std::uint16_t>(row.bytes.size()));
    const auto damaged = ReadAll(name);
    TVEZInternalDBTransactedAccessFile f(&pm, kPageTypeTableMetaData);
    f.OpenFile(start);
    std::vector<std::uint8_t> back(6000);
    EXPECT_EQ(NativeErrorOf([&] { f.GetCheckedSize(kInternal); }), row.error);
    EXPECT_EQ(NativeErrorOf([&] { f.ReadFile(kInternal, back.data(), 6000, true); }), row.error);
    pm.CloseDatabase();
    EXPECT_EQ(ReadAll(name), damaged);
  }
  // A head whose stored size is not a whole number of table list items.
  test::WriteAll(name, golden);
  TVEZDiskPageManager pm;
  Open(pm, name);
  TVEZTableListFile tables(&pm);
  tables.OpenFile(4);
  tables.AddTable(7, "Orders", 10, 11, 12);
  tables.Save();
  pm.ApplyChanges(kInternal);
  std::uint8_t size[4];
  PutLE<std::int32_t>(size, 273);
  pm.WritePageRegion(size, 4, 41, 4);
  pm.WritePageRegion(size, 4, 45, 4);
  pm.CloseDatabase();
  TVEZDiskPageManager fresh;
  Open(fresh, name);
  TVEZTableListFile reopened(&fresh);
  reopened.OpenFile(4);
  EXPECT_EQ(NativeErrorOf([&] { reopened.Load(); }), 30387);
  EXPECT_TRUE(reopened.Items().empty());
  EXPECT_EQ(NativeErrorOf([&] { TVEZInternalDBTransactedAccessFile(&fresh, 8).GetSize(0); }),
            30389);
}

// Damaged heads of the table list and the system directory raise before any
// item is taken, and what was in memory stays.
TEST(VEZInternalFilesTest, DamagedListHeadsRaiseAndKeepTheItems) {
  ScratchDir dir;
  const std::string name = dir.Path("h.vez");
  CreateDatabase(name);
  {
    TVEZDiskPageManager pm;
    Open(pm, name);
    TVEZTableListFile tables(&pm);
    tables.OpenFile(4);
    tables.AddTable(7, "Orders", 10, 11, 12);
    tables.AddTable(8, "Lines", 20, 21, 22);
    tables.Save();
    pm.ApplyChanges(kInternal);
  }
  const auto golden = ReadAll(name);
  const auto head = [](std::int32_t stored, std::int32_t decompressed, std::uint8_t algorithm) {
    std::vector<std::uint8_t> h(9);
    PutLE<std::int32_t>(h.data(), stored);
    PutLE<std::int32_t>(h.data() + 4, decompressed);
    h[8] = algorithm;
    return h;
  };
  const struct {
    const char* name;
    std::int32_t page;
    std::vector<std::uint8_t> head;  // bytes 1 to 9 of the file head
    std::int32_t error;
  } rows[] = {
      {"list: not whole items", 4, head(273, 273, acaNone), 30387},
      {"list: one item short of its bytes", 4, head(544, 272, acaNone), 30388},
      {"list: compressed with a huge size", 4, head(544, 272 * 7895160, acaZLIB), 30388},
      {"list: bzip2 with a huge size", 4, head(544, 272 * 7895160, acaBZIP), 30388},
      {"list: beyond the file", 4, head(272 * 1000, 272 * 1000, acaNone), 30388},
      {"directory: not whole items", 2, head(11, 11, acaNone), 30387},
      {"directory: compressed with a huge size", 2, head(10, 0x7FFFFFFA, acaZLIB), 30388},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    test::WriteAll(name, golden);
    {
      TVEZDiskPageManager pm;
      Open(pm, name);
      pm.WritePageRegion(row.head.data(), row.page, 41, 9);
    }
    const auto damaged = ReadAll(name);
    TVEZDiskPageManager pm;
    Open(pm, name);
    if (row.page == 4) {
      TVEZTableListFile tables(&pm);
      tables.OpenFile(4);
      tables.AddTable(1, "Kept", 1, 2, 3);
      EXPECT_EQ(NativeErrorOf([&] { tables.Load(); }), row.error);
      ASSERT_EQ(tables.Items().size(), 1u);
      EXPECT_EQ(tables.Items()[0].Name(), "Kept");
    } else {
      TVEZSystemDirectory sysdir(&pm);
      sysdir.CreateFile(dbftTablesList, 99);
      EXPECT_EQ(NativeErrorOf([&] { sysdir.LoadDirectory(); }), row.error);
      EXPECT_EQ(sysdir.GetFileFirstPageNo(dbftTablesList), 99);
    }
    pm.CloseDatabase();
    EXPECT_EQ(ReadAll(name), damaged);
  }
}

// Another process sees a transacted file's new contents only after the
// writer's commit, and learns from FileWasChanged that its copy was refreshed.
TEST(VEZInternalFilesTest, OtherProcessesSeeTransactedFilesAtCommit) {
  ScratchDir dir;
  const std::string name = dir.Path("v.vez");
  CreateDatabase(name);
  TVEZDiskPageManager one, two;
  Open(one, name);
  Open(two, name);
  TVEZInternalDBTransactedAccessFile writer(&one, kPageTypeTableMetaData);
  writer.CreateFile(0);
  const auto first = Pattern(5000, 21);
  writer.WriteFile(0, first.data(), 5000, acaNone, 0);
  one.ApplyChanges(0);
  TVEZInternalDBTransactedAccessFile reader(&two, kPageTypeTableMetaData);
  reader.OpenFile(writer.StartPageNo());
  const auto size_and_change = [&] {
    std::int32_t stored, decompressed;
    TVEZCompressionAlgorithm algorithm;
    bool changed = false;
    reader.GetFileSize(0, stored, decompressed, algorithm, changed, true);
    return std::make_pair(decompressed, changed);
  };
  EXPECT_EQ(size_and_change(), std::make_pair(5000, true));   // first read
  EXPECT_EQ(size_and_change(), std::make_pair(5000, false));  // cached and current
  const auto second = Pattern(9000, 22);
  writer.WriteFile(0, second.data(), 9000, acaZLIB, 6);
  std::vector<std::uint8_t> back(9000);
  EXPECT_EQ(size_and_change(), std::make_pair(5000, false));  // not committed yet
  reader.ReadFile(0, back.data(), 5000, true);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), back.begin()));
  one.ApplyChanges(0);
  EXPECT_EQ(size_and_change(), std::make_pair(9000, true));
  reader.ReadFile(0, back.data(), 9000, true);
  EXPECT_EQ(back, second);
}

// A negative count is refused and the file keeps its contents.
TEST(VEZInternalFilesTest, NegativeWriteChangesNothing) {
  ScratchDir dir;
  const std::string name = dir.Path("w.vez");
  CreateDatabase(name);
  TVEZDiskPageManager pm;
  Open(pm, name);
  TVEZInternalDBTransactedAccessFile f(&pm, kPageTypeTableMetaData);
  f.CreateFile(kInternal);
  const auto data = Pattern(5000, 5);
  f.WriteFile(kInternal, data.data(), 5000, acaNone, 0);
  EXPECT_EQ(NativeErrorOf([&] { f.WriteFile(kInternal, data.data(), -1, acaNone, 0); }), 20158);
  EXPECT_EQ(NativeErrorOf([&] { f.SetFileSize(kInternal, 10, -3, acaNone); }), 20158);
  EXPECT_EQ(NativeErrorOf([&] { f.WriteFile(kInternal, data.data(), -1, acaZLIB, 6); }), 20187);
  std::vector<std::uint8_t> back(5000);
  f.ReadFile(kInternal, back.data(), 5000, true);
  EXPECT_EQ(back, data);
}

// The stored bytes of the table list: 272-byte items after the head.
TEST(VEZInternalFilesTest, TableListLayout) {
  ScratchDir dir;
  const std::string name = dir.Path("y.vez");
  CreateDatabase(name);
  {
    TVEZDiskPageManager pm;
    Open(pm, name);
    TVEZTableListFile tables(&pm);
    tables.OpenFile(4);
    tables.AddTable(0x01020304, "Orders", 0x11, 0x2233, -1);
    for (int i = 0; i < 15; ++i)  // 16 items: 4352 bytes on two pages
      tables.AddTable(100 + i, "T" + std::to_string(i), i, i + 1, i + 2);
    tables.Save();
    pm.ApplyChanges(kInternal);
  }
  const auto bytes = ReadAll(name);
  const std::uint8_t* data = bytes.data() + 380 + 4 * 4096 + 40;
  const std::uint8_t head[] = {10, 0x00, 0x11, 0, 0, 0x00, 0x11, 0, 0, 0};  // 4352 bytes
  EXPECT_EQ(std::memcmp(data, head, sizeof head), 0);
  const std::uint8_t* item = data + 10;
  EXPECT_EQ(item[0], 6);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(item) + 1, 6), "Orders");
  EXPECT_TRUE(std::all_of(item + 7, item + 256, [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(GetLE<std::int32_t>(item + 256), 0x01020304);
  EXPECT_EQ(GetLE<std::int32_t>(item + 260), 0x11);
  EXPECT_EQ(GetLE<std::int32_t>(item + 264), 0x2233);
  EXPECT_EQ(GetLE<std::int32_t>(item + 268), -1);
  EXPECT_EQ(item[272], 2);  // the next item's name "T0"
  TVEZDiskPageManager pm;
  Open(pm, name);
  ASSERT_EQ(Chain(pm, 4).size(), 2u);
  TVEZTableListFile tables(&pm);
  tables.OpenFile(4);
  std::vector<std::string> list;
  tables.GetTablesList(list);
  ASSERT_EQ(list.size(), 16u);
  EXPECT_EQ(list.back(), "T14");
}

TEST(VEZInternalFilesTest, DeletedFilesGiveTheirPagesBackAndHeadersReset) {
  ScratchDir dir;
  const std::string name = dir.Path("x.vez");
  CreateDatabase(name);
  TVEZDiskPageManager pm;
  Open(pm, name);
  const std::int32_t before = pm.DBHeader().LastUsedPageNo;
  TVEZInternalDBTransactedAccessFile t(&pm, kPageTypeTableMetaData);
  t.CreateFile(kInternal);
  const auto data = Pattern(9000, 3);
  t.WriteFile(kInternal, data.data(), 9000, acaNone, 0);
  TVEZInternalDBDirectAccessFile d(&pm, kPageTypeTableLocks);
  d.CreateFile(5000);
  TVEZInternalDBTransactedAccessFile r(&pm, kPageTypeTableMostUpdated);
  r.CreateFile(kInternal);
  const std::int32_t one = 1;
  r.WriteFile(kInternal, &one, 4, acaNone, 0);
  pm.ApplyChanges(kInternal);
  EXPECT_EQ(pm.DBHeader().LastUsedPageNo, before + 6);
  // A most-updated file whose first page was damaged is reset in place.
  const std::uint8_t junk[2] = {'J', 'U'};
  pm.WritePageRegion(junk, r.StartPageNo(), 8, 2);
  {
    TVEZDiskPageManager other;
    Open(other, name);
    other.SetCacheCapacity(0);  // the reset must survive without the cache holding it
    TVEZInternalDBTransactedAccessFile reset(&other, kPageTypeTableMostUpdated);
    reset.OpenFile(r.StartPageNo());
    EXPECT_EQ(NativeErrorOf([&] { reset.GetSize(kInternal); }), 20153);
    reset.InitFileHeader(kInternal);
    EXPECT_FALSE(other.IgnoreCRCErrors());
    const std::int32_t v = 42;
    reset.WriteFile(kInternal, &v, 4, acaNone, 0);
    other.ApplyChanges(kInternal);
    TVEZInternalDBTransactedAccessFile closed(&other, kPageTypeTableMostUpdated);
    EXPECT_EQ(NativeErrorOf([&] { closed.InitFileHeader(kInternal); }), 20301);
  }
  TVEZDiskPageManager again;
  Open(again, name);
  TVEZInternalDBTransactedAccessFile r2(&again, kPageTypeTableMostUpdated);
  r2.OpenFile(r.StartPageNo());
  std::int32_t back = 0;
  r2.ReadFile(kInternal, &back, 4, true);
  EXPECT_EQ(back, 42);
  TVEZInternalDBTransactedAccessFile t2(&again, kPageTypeTableMetaData);
  t2.OpenFile(t.StartPageNo());
  EXPECT_EQ(t2.GetSize(kInternal), 9000);
  t2.DeleteFile(kInternal, -1);
  EXPECT_EQ(t2.StartPageNo(), -1);
  TVEZInternalDBDirectAccessFile d2(&again, kPageTypeTableLocks);
  d2.OpenFile(d.StartPageNo());
  d2.DeleteFile(-1);
  r2.DeleteFile(kInternal, -1);
  again.ApplyChanges(kInternal);
  EXPECT_EQ(again.DBHeader().LastUsedPageNo, before);
  for (std::int32_t p = before + 1; p <= before + 6; ++p)
    EXPECT_FALSE(again.FreeSpaceManager()->GetPageUsageFromPFS(p)) << p;
}

TEST(VEZInternalFilesTest, DirectFilesLocateBytesAcrossPages) {
  ScratchDir dir;
  const std::string name = dir.Path("l.vez");
  CreateDatabase(name);
  const std::int32_t start = CommitNewFile(name, [](TVEZDiskPageManager& pm) {
    TVEZInternalDBDirectAccessFile f(&pm, kPageTypeTableLocks);
    f.CreateFile(6000);
    EXPECT_EQ(NativeErrorOf([&] { f.CreateFile(1); }), 20157);
    return f.StartPageNo();
  });
  TVEZDiskPageManager one, two;
  Open(one, name);
  Open(two, name);
  TVEZInternalDBDirectAccessFile a(&one, kPageTypeTableLocks), b(&two, kPageTypeTableLocks);
  a.OpenFile(start);
  b.OpenFile(start);
  ASSERT_EQ(a.FilePages().size(), 2u);
  EXPECT_EQ(a.FileSize(), 6000);
  EXPECT_EQ(a.StoredSizeAtOpen(), 6000);
  EXPECT_EQ(a.GetSize(), 6000);
  const std::int32_t second = a.FilePages()[1];
  const struct {
    std::int32_t byte;
    std::int32_t page;
    std::uint16_t offset;
  } rows[] = {{0, start, 50}, {4045, start, 4095}, {4046, second, 40}, {5999, second, 1993}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.byte);
    EXPECT_FALSE(two.IsPageByteLocked(row.page, row.offset));
    ASSERT_TRUE(a.LockByte(row.byte));
    EXPECT_TRUE(two.IsPageByteLocked(row.page, row.offset));
    EXPECT_TRUE(b.IsByteLocked(row.byte));
    EXPECT_FALSE(b.LockByte(row.byte));
    EXPECT_TRUE(b.IsRegionLocked(row.byte == 0 ? 0 : row.byte - 1, 2));
    EXPECT_TRUE(a.UnlockByte(row.byte));
  }
  // A region across the page boundary.
  ASSERT_TRUE(a.LockByte(4050));
  EXPECT_TRUE(b.IsRegionLocked(4000, 100));
  EXPECT_FALSE(b.IsRegionLocked(4000, 50));
  EXPECT_FALSE(b.IsRegionLocked(4000, 0));
  // Writes and reads across the boundary, seen by the other handle at once.
  std::vector<std::uint8_t> data(200);
  std::iota(data.begin(), data.end(), std::uint8_t{0});
  a.WriteBuffer(data.data(), 200, 3950);
  std::vector<std::uint8_t> back(200);
  b.ReadBuffer(back.data(), 200, 3950);
  EXPECT_EQ(back, data);
  EXPECT_EQ(NativeErrorOf([&] { a.WriteBuffer(data.data(), 2, 5999); }), 20158);
  EXPECT_EQ(NativeErrorOf([&] { a.ReadBuffer(back.data(), 1, 6001); }), 20159);
  EXPECT_EQ(NativeErrorOf([&] { a.LockByte(-1); }), 20159);
  // The file lock is byte 0 of the first page.
  EXPECT_TRUE(a.LockFile());
  EXPECT_FALSE(b.LockFile());
  EXPECT_TRUE(two.IsPageByteLocked(start, 0));
  // A file another handle holds locked still opens: its lock byte is not read.
  TVEZInternalDBDirectAccessFile third(&two, kPageTypeTableLocks);
  third.OpenFile(start);
  EXPECT_EQ(third.FilePages(), a.FilePages());
  EXPECT_EQ(third.StoredSizeAtOpen(), 6000);
  EXPECT_TRUE(a.UnlockFile());
  TVEZInternalDBDirectAccessFile closed(&one, kPageTypeTableLocks);
  EXPECT_EQ(NativeErrorOf([&] { closed.LockFile(); }), 20156);
  // Damaged chains are refused before anything is walked.
  TVEZInternalDBDirectAccessFile wrong(&one, kPageTypeActiveSessionList);
  EXPECT_EQ(NativeErrorOf([&] { wrong.OpenFile(start); }), 20155);
  std::uint8_t huge[4];
  PutLE<std::int32_t>(huge, 0x7FFFFFF0);
  one.WritePageRegion(huge, start, 41, 4);
  TVEZInternalDBDirectAccessFile damaged(&one, kPageTypeTableLocks);
  EXPECT_EQ(NativeErrorOf([&] { damaged.OpenFile(start); }), 20159);
}

TEST(VEZInternalFilesTest, SessionConnections) {
  ScratchDir dir;
  const std::string name = dir.Path("s.vez");
  CreateDatabase(name, 4);
  TVEZDiskPageManager one, two;
  Open(one, name);
  Open(two, name);
  TVEZActiveSessionsFile a(&one), b(&two);
  a.OpenFile(3);
  b.OpenFile(3);
  EXPECT_EQ(a.MaxSessionCount(), 4);
  EXPECT_EQ(a.MultiUserConnect(), 0);
  EXPECT_EQ(a.MultiUserConnect(), 1);
  EXPECT_EQ(b.GetDBFileConnectionsCount(), 2);
  a.MultiUserDisconnect(0);
  EXPECT_EQ(NativeErrorOf([&] { a.MultiUserDisconnect(0); }), 20095);
  EXPECT_EQ(b.MultiUserConnect(), 0);
  // Another handle's multi-user connection makes a single-user one fail,
  // and the attempt takes nothing.
  EXPECT_FALSE(b.SingleUserConnect());
  EXPECT_EQ(a.GetDBFileConnectionsCount(), 2);
  EXPECT_EQ(b.MultiUserConnect(), 2);
  EXPECT_EQ(a.MultiUserConnect(), 3);
  EXPECT_EQ(NativeErrorOf([&] { a.MultiUserConnect(); }), 20094);
  for (int s : {1, 3})
    a.MultiUserDisconnect(s);
  for (int s : {0, 2})
    b.MultiUserDisconnect(s);
  EXPECT_EQ(a.GetDBFileConnectionsCount(), 0);
  EXPECT_TRUE(a.SingleUserConnect());
  EXPECT_EQ(b.GetDBFileConnectionsCount(), 4);
  EXPECT_EQ(NativeErrorOf([&] { b.MultiUserConnect(); }), 20094);
  EXPECT_FALSE(b.SingleUserConnect());
  a.SingleUserDisconnect();
  EXPECT_EQ(b.GetDBFileConnectionsCount(), 0);
  // No file lock is left behind by any of it.
  EXPECT_FALSE(two.IsPageByteLocked(3, 0));
  // A single-user database gives session 0 without locking.
  TVEZDiskPageManager single;
  two.CloseDatabase();
  one.CloseDatabase();
  Open(single, name, /*exclusive=*/false, /*multi_user=*/false);
  TVEZActiveSessionsFile c(&single);
  c.OpenFile(3);
  EXPECT_EQ(c.MultiUserConnect(), 0);
  EXPECT_EQ(c.GetDBFileConnectionsCount(), 0);
}

TEST(VEZInternalFilesTest, TableLocks) {
  ScratchDir dir;
  const std::string name = dir.Path("k.vez");
  CreateDatabase(name);
  const std::int32_t start = CommitNewFile(
      name, [](TVEZDiskPageManager& pm) { return TVEZTableLocksFile(&pm).CreateFile(500); });
  TVEZDiskPageManager one, two;
  Open(one, name);
  Open(two, name);
  TVEZTableLocksFile a(&one), b(&two);
  EXPECT_EQ(NativeErrorOf([&] { a.LockTable(0, ltS); }), 10489);
  EXPECT_EQ(NativeErrorOf([&] { a.UnlockTable(0, ltS); }), 10494);
  EXPECT_EQ(NativeErrorOf([&] { a.IsTableLockedByAnyOtherSession(0, ltS); }), 10490);
  EXPECT_EQ(NativeErrorOf([&] { a.LockRecord(0, {}); }), 10491);
  EXPECT_EQ(NativeErrorOf([&] { a.UnlockRecord(0, {}); }), 10492);
  EXPECT_EQ(NativeErrorOf([&] { a.IsRecordLockedByAnyOtherSession(0, {}); }), 10493);
  EXPECT_EQ(NativeErrorOf([&] { a.StartPageNo(); }), 10483);
  a.OpenFile(start);
  b.OpenFile(start);
  EXPECT_EQ(a.MaxSessionCount(), 500);
  EXPECT_EQ(a.StartPageNo(), start);
  EXPECT_FALSE(a.LockTable(3, ltX));  // no byte
  EXPECT_EQ(NativeErrorOf([&] { a.LockTable(500, ltS); }), 20200);
  ASSERT_TRUE(a.LockTable(3, ltS));
  EXPECT_FALSE(b.LockTable(3, ltS));
  EXPECT_TRUE(b.IsTableLockedByAnyOtherSession(4, ltS));
  EXPECT_FALSE(b.IsTableLockedByAnyOtherSession(3, ltS));
  EXPECT_FALSE(b.IsTableLockAllowed(4, ltRW, false));
  EXPECT_TRUE(b.IsTableLockAllowed(3, ltRW, false));  // its own lock is no obstacle
  EXPECT_TRUE(b.IsTableLockAllowed(4, ltSIRW, false));
  ASSERT_TRUE(a.LockTable(3, ltSIRW));
  EXPECT_FALSE(b.IsTableLockAllowed(4, ltXIRW, false) && !a.UnlockTable(3, ltS));
  ASSERT_TRUE(a.UnlockTable(3, ltS));
  EXPECT_FALSE(b.IsTableLockAllowed(4, ltXIRW, false));
  EXPECT_TRUE(b.IsTableLockAllowed(4, ltXIRW, true));
  EXPECT_TRUE(a.UnlockTable(3, ltSIRW));
  EXPECT_FALSE(a.UnlockTable(3, ltSIRW));
  // Record locks: the holder's own record is not locked for it.
  const TVEZPageItemID rec{77, 5};
  ASSERT_TRUE(a.LockRecord(3, rec));
  EXPECT_FALSE(a.IsRecordLockedByAnyOtherSession(3, rec));
  EXPECT_TRUE(b.IsRecordLockedByAnyOtherSession(4, rec));
  EXPECT_FALSE(b.IsRecordLockedByAnyOtherSession(4, TVEZPageItemID{77, 6}));
  EXPECT_FALSE(b.LockRecord(3, rec));
  EXPECT_TRUE(b.LockRecord(4, TVEZPageItemID{77, 6}));
  EXPECT_TRUE(a.IsRecordLockedByAnyOtherSession(3, TVEZPageItemID{77, 6}));
  // Layout: the record byte is 5 * M + s, the record itself at 6 * M + 6 * s.
  TVEZInternalDBDirectAccessFile raw(&two, kPageTypeTableLocks);
  raw.OpenFile(start);
  EXPECT_TRUE(raw.IsByteLocked(5 * 500 + 3));
  std::uint8_t stored[6];
  raw.ReadBuffer(stored, 6, 6 * 500 + 6 * 3);
  EXPECT_EQ(TVEZPageItemID::Decode(stored), rec);
  ASSERT_TRUE(a.LockTable(7, ltRW));
  EXPECT_TRUE(raw.IsByteLocked(ltRW * 500 + 7));
  EXPECT_FALSE(raw.IsRegionLocked(ltRW * 500 + 8, 500 - 8));
  EXPECT_TRUE(a.UnlockTable(7, ltRW));
  EXPECT_TRUE(a.UnlockRecord(3, rec));
  EXPECT_FALSE(b.IsRecordLockedByAnyOtherSession(4, rec));
  // The unlock leaves the stored record as it was.
  raw.ReadBuffer(stored, 6, 6 * 500 + 6 * 3);
  EXPECT_EQ(TVEZPageItemID::Decode(stored), rec);
  EXPECT_TRUE(a.LockFile());
  EXPECT_FALSE(b.LockFile());
  EXPECT_TRUE(a.UnlockFile());
  // The compatibility matrix is symmetric.
  for (int h = ltIS; h <= ltX; ++h)
    for (int r = ltIS; r <= ltX; ++r)
      EXPECT_EQ(IsLockCompatible(static_cast<TVEZLockType>(h), static_cast<TVEZLockType>(r)),
                IsLockCompatible(static_cast<TVEZLockType>(r), static_cast<TVEZLockType>(h)));
}

TEST(VEZInternalFilesTest, TableListNamesAndRoundTrip) {
  ScratchDir dir;
  const std::string name = dir.Path("n.vez");
  CreateDatabase(name);
  {
    TVEZDiskPageManager pm;
    Open(pm, name);
    TVEZTableListFile tables(&pm);
    EXPECT_EQ(NativeErrorOf([&] { tables.Load(); }), 30389);
    tables.OpenFile(4);
    tables.AddTable(1, "Orders", 10, 11, 12);
    tables.AddTable(2, "\xC4rger", 20, 21, 22);  // "Ärger"
    tables.AddTable(3, std::string(300, 'x'), 30, 31, 32);
    const struct {
      const char* name;
      bool exists;
    } names[] = {{"ORDERS", true},   {"orders", true},    {"Order", false},
                 {"\xC4RGER", true}, {"\xE4rger", false},  // only a to z fold
                 {"Orders ", false}};
    for (const auto& row : names) {
      SCOPED_TRACE(row.name);
      EXPECT_EQ(tables.TableExists(row.name), row.exists);
    }
    EXPECT_TRUE(tables.TableExists(std::string(255, 'X')));  // cut to 255
    EXPECT_EQ(NativeErrorOf([&] { tables.AddTable(9, "oRdErS", 1, 1, 1); }), 30395);
    tables.AddTable(4, "Long name to shorten", 40, 41, 42);
    tables.RenameTable("long NAME to shorten", "Short");
    EXPECT_EQ(NativeErrorOf([&] { tables.RenameTable("nope", "x"); }), 30397);
    EXPECT_EQ(NativeErrorOf([&] { tables.RemoveTable("nope"); }), 30405);
    tables.RemoveTable("\xC4RGER");
    tables.Save();
    pm.ApplyChanges(kInternal);
  }
  TVEZDiskPageManager pm;
  Open(pm, name);
  TVEZTableListFile tables(&pm);
  tables.OpenFile(4);
  std::vector<std::string> list;
  tables.GetTablesList(list);
  EXPECT_EQ(list, (std::vector<std::string>{"Orders", std::string(255, 'x'), "Short"}));
  std::int32_t id, meta, most, locks;
  tables.OpenTable("short", id, meta, most, locks);
  EXPECT_EQ(std::vector<std::int32_t>({id, meta, most, locks}),
            (std::vector<std::int32_t>{4, 40, 41, 42}));
  EXPECT_EQ(NativeErrorOf([&] { tables.OpenTable("gone", id, meta, most, locks); }), 30396);
  // A rename keeps the old bytes after the new name.
  const auto& raw = tables.Items()[2].TableName;
  EXPECT_EQ(raw[0], 5);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw.data()) + 1, 20), "Shortname to shorten");
}

// A page found by walking the chain stays pinned while the file links new
// pages to it, even when the cache keeps (almost) nothing unpinned.
TEST(VEZInternalFilesTest, ResizingWithASmallCacheKeepsTheChain) {
  ScratchDir dir;
  const std::string name = dir.Path("c.vez");
  CreateDatabase(name);
  const std::int32_t start = CommitNewFile(name, [](TVEZDiskPageManager& pm) {
    TVEZInternalDBTransactedAccessFile f(&pm, kPageTypeTableMetaData);
    f.CreateFile(kInternal);
    return f.StartPageNo();
  });
  const std::int32_t sizes[] = {5000, 13000, 9000, 20000, 100, 12000};
  std::uint32_t seed = 40;
  for (const std::int32_t capacity : {0, 1, 2}) {
    for (const std::int32_t size : sizes) {
      SCOPED_TRACE(capacity);
      SCOPED_TRACE(size);
      const auto data = Pattern(size, ++seed);
      {
        TVEZDiskPageManager pm;
        Open(pm, name);
        pm.SetCacheCapacity(capacity);
        TVEZInternalDBTransactedAccessFile f(&pm, kPageTypeTableMetaData);
        f.OpenFile(start);
        // Bring the whole chain into the cache as clean pages first.
        std::vector<std::uint8_t> old(static_cast<std::size_t>(f.GetSize(kInternal)));
        f.ReadFile(kInternal, old.data(), static_cast<std::int32_t>(old.size()), true);
        f.WriteFile(kInternal, data.data(), size, acaNone, 0);
        pm.ApplyChanges(kInternal);
      }
      TVEZDiskPageManager pm;
      Open(pm, name);
      TVEZInternalDBTransactedAccessFile f(&pm, kPageTypeTableMetaData);
      f.OpenFile(start);
      std::vector<std::uint8_t> back(data.size());
      f.ReadFile(kInternal, back.data(), size, true);
      EXPECT_EQ(back, data);
      EXPECT_EQ(Chain(pm, start).size(),
                static_cast<std::size_t>((size + 10 + pm.PageDataSize() - 1) / pm.PageDataSize()));
    }
  }
}

}  // namespace
}  // namespace vez

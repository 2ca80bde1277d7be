#include "dbengine/storage/VEZDatabaseFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZDBFileFormat.h"
#include "platform/os/File.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/DiskTestSupport.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

using test::ReadAll;
using test::ScratchDir;
using test::WriteAll;

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t fill) {
  return std::vector<std::uint8_t>(n, fill);
}

TEST(VEZDatabaseFileTest, ShortReadsAreErrorsAndWritesComplete) {
  ScratchDir dir;
  TVEZDatabaseFile f;
  f.CreateAndOpenFile(dir.Path("a.vez"));
  EXPECT_TRUE(f.IsOpened());
  EXPECT_EQ(f.AccessMode(), amReadWrite);
  EXPECT_EQ(f.ShareMode(), smExclusive);
  const auto data = Bytes(150, 0x5A);
  f.WriteBuffer(data.data(), 150, 0, 777);
  EXPECT_EQ(f.GetSize(), 150);
  ASSERT_TRUE(f.LockByte(360, 1));
  std::vector<std::uint8_t> buf(100, 0xEE);
  // 100 bytes at 50 bytes before the end: a short read fails, not a partial
  // success that leaves stale bytes.
  EXPECT_FALSE(f.ReadBuffer(buf.data(), 100, 100));
  EXPECT_EQ(NativeErrorOf([&] { f.ReadBuffer(buf.data(), 100, 100, 4242); }), 4242);
  // A failed call reopens nothing: the handle and its locks are still there.
  EXPECT_TRUE(f.IsOpened());
  EXPECT_TRUE(f.IsByteLocked(360));
  EXPECT_TRUE(f.UnlockByte(360, 1));
  EXPECT_TRUE(f.ReadBuffer(buf.data(), 100, 50));
  EXPECT_EQ(buf, Bytes(100, 0x5A));
  EXPECT_FALSE(f.ReadBuffer(buf.data(), 1, -1));
  EXPECT_EQ(NativeErrorOf([&] { f.WriteBuffer(buf.data(), 1, -5, 99); }), 99);
  f.SetSize(10);
  EXPECT_EQ(f.GetSize(), 10);
  f.SetPosition(7);
  EXPECT_EQ(f.GetPosition(), 7);
  EXPECT_EQ(NativeErrorOf([&] { f.SetPosition(-1); }), 30372);
  EXPECT_EQ(NativeErrorOf([&] { f.SetSize(-1); }), 30372);
  f.FlushFileBuffers();
  f.CloseFile();
  EXPECT_EQ(ReadAll(dir.Path("a.vez")), Bytes(10, 0x5A));
}

TEST(VEZDatabaseFileTest, ClosedAndOpenedGuards) {
  ScratchDir dir;
  TVEZDatabaseFile f;
  std::uint8_t b[1];
  const struct {
    const char* name;
    std::function<void()> call;
  } closed[] = {
      {"ReadBuffer", [&] { f.ReadBuffer(b, 1, 0); }},
      {"WriteBuffer", [&] { f.WriteBuffer(b, 1, 0, 1); }},
      {"GetSize", [&] { f.GetSize(); }},
      {"SetSize", [&] { f.SetSize(0); }},
      {"GetPosition", [&] { f.GetPosition(); }},
      {"SetPosition", [&] { f.SetPosition(0); }},
      {"FlushFileBuffers", [&] { f.FlushFileBuffers(); }},
      {"LockByte", [&] { f.LockByte(0, 1); }},
      {"UnlockByte", [&] { f.UnlockByte(0, 1); }},
      {"IsByteLocked", [&] { f.IsByteLocked(0); }},
      {"IsRegionLocked", [&] { f.IsRegionLocked(0, 1); }},
      {"CloseFile", [&] { f.CloseFile(); }},
  };
  for (const auto& row : closed) {
    SCOPED_TRACE(row.name);
    try {
      row.call();
      ADD_FAILURE() << "no error";
    } catch (const EVEZException& e) {
      EXPECT_EQ(e.NativeError(), 30376);
      EXPECT_NE(std::string(e.what()).find(std::string("(") + row.name + ")"), std::string::npos);
    }
  }
  EXPECT_EQ(NativeErrorOf([&] { f.CreateAndOpenFile(""); }), 30374);
  EXPECT_EQ(NativeErrorOf([&] { f.OpenFile(dir.Path("missing"), amReadWrite, smShareDenyNone); }),
            30364);
  EXPECT_EQ(NativeErrorOf([&] {
              f.OpenFile(dir.Path("x"), static_cast<TVEZAccessMode>(9), smShareDenyNone);
            }),
            30366);
  EXPECT_EQ(
      NativeErrorOf([&] { f.OpenFile(dir.Path("x"), amReadOnly, static_cast<TVEZShareMode>(9)); }),
      30367);
  f.CreateAndOpenFile(dir.Path("x"));
  EXPECT_EQ(NativeErrorOf([&] { f.CreateAndOpenFile(dir.Path("y")); }), 30377);
  EXPECT_EQ(NativeErrorOf([&] { f.OpenFile(dir.Path("x"), amReadOnly, smShareDenyNone); }), 30377);
  EXPECT_EQ(NativeErrorOf([&] { f.DeleteFile(""); }), 30377);
  f.CloseFile();
  f.DeleteFile("ignored");
  EXPECT_FALSE(std::filesystem::exists(dir.Path("x")));
  EXPECT_EQ(NativeErrorOf([&] { f.DeleteFile(""); }), 30362);
}

TEST(VEZDatabaseFileTest, CreateReplacesOnlyFilesNobodyHolds) {
  ScratchDir dir;
  const std::string name = dir.Path("db.vez");
  WriteAll(name, Bytes(64, 1));
  {
    TVEZDatabaseFile holder;
    holder.OpenFile(name, amReadOnly, smShareDenyNone);
    TVEZDatabaseFile f;
    EXPECT_EQ(NativeErrorOf([&] { f.CreateAndOpenFile(name); }), 30361);
    EXPECT_FALSE(f.IsOpened());
    // The held file lost nothing, and no temporary file is left behind.
    EXPECT_EQ(ReadAll(name), Bytes(64, 1));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Dir()), {}), 1);
  }
  // Nobody holds it now, and it is read-only: it is replaced all the same.
  chmod(name.c_str(), 0444);
  TVEZDatabaseFile f;
  f.CreateAndOpenFile(name);
  EXPECT_EQ(f.GetSize(), 0);
  f.WriteBuffer("ab", 2, 0, 1);
  // Exclusive: nobody else opens it meanwhile.
  TVEZDatabaseFile other;
  EXPECT_EQ(NativeErrorOf([&] { other.OpenFile(name, amReadOnly, smShareDenyNone); }), 30364);
  f.CloseFile();
  EXPECT_EQ(ReadAll(name), (std::vector<std::uint8_t>{'a', 'b'}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Dir()), {}), 1);
}

TEST(VEZDatabaseFileTest, RenameNeverReplaces) {
  ScratchDir dir;
  WriteAll(dir.Path("a"), Bytes(3, 1));
  WriteAll(dir.Path("b"), Bytes(3, 2));
  EXPECT_EQ(NativeErrorOf([&] { TVEZDatabaseFile::RenameFile(dir.Path("a"), dir.Path("b")); }),
            30378);
  TVEZDatabaseFile::RenameFile(dir.Path("a"), dir.Path("c"));
  EXPECT_EQ(ReadAll(dir.Path("c")), Bytes(3, 1));
  EXPECT_EQ(ReadAll(dir.Path("b")), Bytes(3, 2));
}

TEST(VEZDatabaseFileTest, LocksAndProbes) {
  ScratchDir dir;
  const std::string name = dir.Path("l.vez");
  WriteAll(name, Bytes(10, 0));
  TVEZDatabaseFile a, b;
  a.OpenFile(name, amReadWrite, smShareDenyNone);
  b.OpenFile(name, amReadWrite, smShareDenyNone);
  EXPECT_FALSE(a.IsByteLocked(360));
  EXPECT_TRUE(a.LockByte(360, 1));
  // A held byte cannot be locked again, through this handle or another.
  EXPECT_FALSE(a.LockByte(360, 1));
  EXPECT_FALSE(b.LockByte(360, 1));
  EXPECT_TRUE(a.IsByteLocked(360));
  EXPECT_TRUE(b.IsByteLocked(360));
  EXPECT_TRUE(b.IsRegionLocked(355, 10));
  EXPECT_FALSE(b.IsRegionLocked(361, 10));
  // Unlocking what this handle does not hold fails and changes nothing.
  EXPECT_FALSE(b.UnlockByte(360, 1));
  EXPECT_TRUE(a.IsByteLocked(360));
  EXPECT_TRUE(a.UnlockByte(360, 1));
  // The probe took nothing: the byte is free for the other handle.
  EXPECT_FALSE(b.IsByteLocked(360));
  EXPECT_TRUE(b.LockByte(360, 1));
  EXPECT_TRUE(b.UnlockByte(360, 1));
  // A lock call the system refuses raises, is never granted, and leaves
  // nothing sticky: the next call behaves normally.
  EXPECT_EQ(NativeErrorOf([&] { a.LockByte(-4, 1); }), 30380);
  EXPECT_FALSE(a.UnlockByte(-4, 1));
  EXPECT_EQ(NativeErrorOf([&] { a.IsRegionLocked(5, 0); }), 30380);
  EXPECT_FALSE(a.UnlockByte(360, 1));
  EXPECT_TRUE(a.LockByte(360, 1));
  EXPECT_FALSE(b.LockByte(360, 1));
}

std::vector<std::uint8_t> HeaderBytes(std::int16_t header_size) {
  std::vector<std::uint8_t> h(kDBHeaderSize + 4, 0);
  std::memcpy(h.data(), kDBSignature, 16);
  PutLE<std::int16_t>(h.data() + 16, header_size);
  return h;
}

TEST(VEZDatabaseFileTest, FindSignatureTable) {
  ScratchDir dir;
  const struct {
    const char* name;
    std::int64_t file_size;
    std::vector<std::pair<std::int64_t, std::int16_t>> headers;  // offset, header size
    bool found;
    std::int64_t offset;
  } rows[] = {
      {"at zero", 200, {{0, 76}}, true, 0},
      {"far into the file", 130000, {{123456, 76}}, true, 123456},
      {"other header size is no header", 20000, {{5000, 77}}, false, 0},
      {"first real one wins", 30000, {{100, 75}, {15000, 76}, {25000, 76}}, true, 15000},
      {"straddling the first window", 30000, {{9990, 76}}, true, 9990},
      {"size bytes past the window", 30000, {{9984 - 17, 76}}, true, 9984 - 17},
      {"at the second window start", 30000, {{9984, 76}}, true, 9984},
      {"at the very end", 20018, {{20000, 76}}, true, 20000},
      {"signature cut by the end", 20010, {{20000, 76}}, false, 0},
      {"no signature", 50000, {}, false, 0},
      {"last place looked at",
       TVEZDatabaseFile::kSignatureSearchLimit + 200,
       {{TVEZDatabaseFile::kSignatureSearchLimit - 1, 76}},
       true,
       TVEZDatabaseFile::kSignatureSearchLimit - 1},
      {"past the search limit",
       TVEZDatabaseFile::kSignatureSearchLimit + 200,
       {{TVEZDatabaseFile::kSignatureSearchLimit, 76}},
       false,
       0},
      {"empty file", 0, {}, false, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(row.file_size), 'V');
    for (auto [at, size] : row.headers) {
      const auto h = HeaderBytes(size);
      for (std::size_t i = 0; i < h.size() && at + static_cast<std::int64_t>(i) < row.file_size;
           ++i)
        bytes[static_cast<std::size_t>(at) + i] = h[i];
    }
    WriteAll(dir.Path("s"), bytes);
    TVEZDatabaseFile f;
    f.OpenFile(dir.Path("s"), amReadOnly, smShareDenyNone);
    f.SetPosition(42);
    std::int64_t offset = -7;
    EXPECT_EQ(f.FindSignature(offset), row.found);
    EXPECT_EQ(offset, row.found ? row.offset : -7);
    EXPECT_EQ(f.GetPosition(), 42);
  }
}

// A large file whose first bytes are damaged: the search reads the first
// kSignatureSearchLimit bytes (and one window past them), not the whole file,
// and a header further in is not taken.
TEST(VEZDatabaseFileTest, SignatureSearchOfADamagedLargeFileIsBounded) {
  ScratchDir dir;
  const std::string name = dir.Path("big");
  constexpr std::int64_t kSize = std::int64_t{64} << 20;
  {
    // Sparse: a header deep inside and nothing at the start.
    const auto h = HeaderBytes(76);
    platform::FileSystem& fs = platform::PosixFileSystem();
    auto f = fs.CreateFile(name, platform::FileShare::kDenyNone);
    f->Truncate(kSize);
    f->WriteAt(kSize / 2, h.data(), h.size());
    f->Close();
  }
  test::FaultFileSystem fs;
  platform::ScopedFileSystem scope(fs);
  TVEZDatabaseFile f;
  f.OpenFile(name, amReadOnly, smShareDenyNone);
  std::int64_t offset = -7;
  EXPECT_FALSE(f.FindSignature(offset));
  EXPECT_EQ(offset, -7);
  // One read of the head, then windows over the first MiB only.
  const int windows = static_cast<int>(TVEZDatabaseFile::kSignatureSearchLimit / (10000 - 16)) + 1;
  EXPECT_LE(fs.plan.reads, 1 + windows);
}

}  // namespace
}  // namespace vez

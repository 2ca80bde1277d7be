#include "dbengine/foundation/VEZFileStream.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryStream.h"
#include "dbengine/foundation/VEZTemporaryFileName.h"
#include "dbengine/foundation/VEZTemporaryStream.h"
#include "platform/core/Exceptions.h"
#include "platform/os/TempFile.h"
#include "tests/common/NativeError.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

// Every test gets its own temporary folder (TMPDIR), so it can see exactly
// which files appear in it.
class StreamFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vezstreamtestXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    const char* old = std::getenv("TMPDIR");
    had_tmpdir_ = old != nullptr;
    if (old) old_tmpdir_ = old;
    setenv("TMPDIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    if (had_tmpdir_)
      setenv("TMPDIR", old_tmpdir_.c_str(), 1);
    else
      unsetenv("TMPDIR");
    std::filesystem::remove_all(dir_);
  }

  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_))
      names.push_back(e.path().filename().string());
    return names;
  }

  // True when this process still has a descriptor on a file of that name.
  static bool DescriptorOpenOn(const std::string& name) {
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      const auto target = std::filesystem::read_symlink(e.path(), ec).string();
      if (!ec && target.rfind(name, 0) == 0) return true;
    }
    return false;
  }

  std::string Path(const char* name) const { return dir_ + "/" + name; }

  std::string dir_;
  std::string old_tmpdir_;
  bool had_tmpdir_ = false;
};

TEST_F(StreamFiles, CreateWriteReadSeekAndSize) {
  const std::string name = Path("data.bin");
  {
    TVEZFileStream f(name, TVEZFileStream::kModeCreate, false);
    EXPECT_GE(f.Handle(), 0);
    EXPECT_EQ(f.FileName(), name);
    EXPECT_EQ(f.Mode(), 0xFF00);
    EXPECT_FALSE(f.IsTemporary());
    EXPECT_EQ(f.BlockSize(), 102400);
    EXPECT_EQ(f.Write("hello world", 11), 11);
    EXPECT_EQ(f.Size(), 11);
    EXPECT_EQ(f.Seek(-5, soEnd), 6);
    char b[16] = {};
    EXPECT_EQ(f.Read(b, 16), 5);
    EXPECT_STREQ(b, "world");
    EXPECT_EQ(f.Read(b, 16), 0);
    EXPECT_EQ(f.Seek(-1, soBeginning), -1);
    EXPECT_EQ(f.Position(), 11);
    // Writing past the end: the gap reads back as zeros.
    f.Seek(14, soBeginning);
    EXPECT_EQ(f.Write("!", 1), 1);
    f.SetPosition(11);
    EXPECT_EQ(f.Read(b, 4), 4);
    EXPECT_EQ(std::memcmp(b, "\0\0\0!", 4), 0);
    // Shrinking moves a position beyond the new end; growing keeps it.
    f.SetSize(5);
    EXPECT_EQ(f.Position(), 5);
    f.SetPosition(2);
    f.SetSize(100);
    EXPECT_EQ(f.Position(), 2);
    EXPECT_EQ(f.Size(), 100);
    EXPECT_THROW(f.SetSize(-1), platform::EOSError);
  }
  EXPECT_EQ(std::filesystem::file_size(name), 100u);
  // Creating again truncates.
  TVEZFileStream again(name, 0xFF00, false);
  EXPECT_EQ(again.Size(), 0);
}

TEST_F(StreamFiles, OpenModesAndSharing) {
  const std::string name = Path("shared.bin");
  { TVEZFileStream(name, 0xFF00, false).Write("abc", 3); }
  struct Row {
    const char* name;
    std::uint16_t first;  // held while the second opens
    std::uint16_t second;
    std::int32_t error;  // of the second open
  };
  const Row rows[] = {
      {"read deny-none twice", 0x40, 0x40, 0},
      {"read deny-write twice", 0x20, 0x20, 0},
      {"read-write deny-none twice", 0x42, 0x42, 0},
      {"exclusive then any", 0x12, 0x40, 10105},
      {"any then exclusive", 0x40, 0x10, 10105},
      {"compatibility mode is exclusive", 0x00, 0x40, 10105},
      {"create while opened", 0x40, 0xFF00, 10104},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TVEZFileStream first(name, row.first, false);
    EXPECT_EQ(NativeErrorOf([&] { TVEZFileStream second(name, row.second, false); }), row.error);
    // A refused create left the content alone.
    char b[3];
    first.SetPosition(0);
    EXPECT_EQ(first.Read(b, 3), 3);
  }
  // Access from the mode's low bits.
  {
    TVEZFileStream reader(name, 0x40, false);
    EXPECT_THROW(reader.Write("x", 1), platform::EOSError);  // EBADF: opened for reading
    TVEZFileStream writer(name, 0x41, false);
    char b;
    EXPECT_THROW(writer.Read(&b, 1), platform::EOSError);
    EXPECT_EQ(writer.Write("x", 1), 1);
  }
  EXPECT_EQ(NativeErrorOf([&] { TVEZFileStream f(name, 0x43, false); }), 10105);  // unknown access
  EXPECT_EQ(NativeErrorOf([&] { TVEZFileStream f(name, 0x52, false); }), 10105);  // unknown sharing
  EXPECT_EQ(NativeErrorOf([&] { TVEZFileStream f(Path("missing"), 0x40, false); }), 10105);
  EXPECT_EQ(NativeErrorOf([&] { TVEZFileStream f(Path("no/such/dir"), 0xFF00, false); }), 10104);
  try {
    TVEZFileStream f(Path("missing"), 0x40, false);
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.Message(), "Cannot open file. FileName = " + Path("missing") +
                               ", Mode = 64 - Native error: 10105");
  }
}

TEST_F(StreamFiles, SaveToFileAndLoadFromFile) {
  TVEZMemoryStream source;
  std::vector<std::uint8_t> data(250000);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<std::uint8_t>(i * 7);
  source.Write(data.data(), static_cast<std::int32_t>(data.size()));
  source.SaveToFile(Path("saved.bin"));
  TVEZMemoryStream loaded;
  loaded.LoadFromFile(Path("saved.bin"));
  ASSERT_EQ(loaded.Size(), static_cast<std::int64_t>(data.size()));
  EXPECT_EQ(std::memcmp(loaded.Buffer(), data.data(), data.size()), 0);
  EXPECT_EQ(NativeErrorOf([&] { loaded.LoadFromFile(Path("missing")); }), 10105);
  EXPECT_EQ(loaded.Size(), static_cast<std::int64_t>(data.size()));  // kept
}

TEST_F(StreamFiles, TemporaryFileStreamVanishesWithItsHandle) {
  const std::string name = GetTemporaryFileName();
  EXPECT_EQ(name.rfind(dir_ + "/VEZ", 0), 0u) << name;
  EXPECT_FALSE(std::filesystem::exists(name));  // reserved, never visible
  int fd;
  {
    TVEZFileStream f(name, 0xFF00, true);
    EXPECT_TRUE(f.IsTemporary());
    fd = f.Handle();
    EXPECT_EQ(f.Write("temp", 4), 4);
    f.SetPosition(0);
    char b[4];
    EXPECT_EQ(f.Read(b, 4), 4);
    EXPECT_TRUE(Entries().empty());
  }
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(platform::PendingTempReservations(), 0u);
  // A name that was not reserved is created and unlinked at once.
  {
    TVEZFileStream f(Path("VEZplain"), 0xFF00, true);
    EXPECT_TRUE(Entries().empty());
    EXPECT_EQ(f.Write("x", 1), 1);
  }
  EXPECT_TRUE(Entries().empty());
}

TEST_F(StreamFiles, TemporaryStreamMovesToAFileOnePastTheLimit) {
  const std::int32_t limit = TVEZTemporaryStream::kDefaultMemoryLimit;
  std::vector<std::uint8_t> data(static_cast<std::size_t>(limit) + 1);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<std::uint8_t>(i * 13 + 1);
  std::string file_name;
  {
    TVEZTemporaryStream t(false);
    EXPECT_EQ(t.MemoryLimit(), 1048576);
    EXPECT_EQ(t.BlockSize(), 102400);
    EXPECT_TRUE(t.InMemory());
    EXPECT_TRUE(t.FileName().empty());
    ASSERT_EQ(t.Write(data.data(), limit - 100), limit - 100);
    t.SetPosition(10);  // the size counts, not the position
    ASSERT_EQ(t.Seek(limit - 100, soBeginning), limit - 100);
    ASSERT_EQ(t.Write(data.data() + limit - 100, 100), 100);  // size + count == limit
    EXPECT_TRUE(t.InMemory());
    EXPECT_EQ(t.FileStream(), nullptr);
    t.SetPosition(5);
    // Size + 1 passes the limit although the write lies inside the stream.
    ASSERT_EQ(t.Write(data.data() + 5, 1), 1);
    EXPECT_FALSE(t.InMemory());
    EXPECT_EQ(t.MemoryStream(), nullptr);
    ASSERT_NE(t.FileStream(), nullptr);
    file_name = t.FileName();
    EXPECT_EQ(file_name.rfind(dir_ + "/VEZ", 0), 0u) << file_name;
    EXPECT_TRUE(t.FileStream()->IsTemporary());
    EXPECT_EQ(t.Position(), 6);
    EXPECT_EQ(t.Size(), limit);
    // Append the last byte; everything reads back from the file.
    t.Seek(0, soEnd);
    ASSERT_EQ(t.Write(data.data() + limit, 1), 1);
    std::vector<std::uint8_t> back(data.size());
    t.SetPosition(0);
    ASSERT_EQ(t.Read(back.data(), static_cast<std::int32_t>(back.size())),
              static_cast<std::int32_t>(back.size()));
    EXPECT_EQ(back, data);
    // Shrinking keeps it in the file.
    t.SetSize(3);
    EXPECT_FALSE(t.InMemory());
    EXPECT_TRUE(Entries().empty());  // unlinked while open
    EXPECT_TRUE(DescriptorOpenOn(file_name));
  }
  EXPECT_FALSE(DescriptorOpenOn(file_name));
  EXPECT_TRUE(Entries().empty());
}

TEST_F(StreamFiles, TemporaryStreamPositionBeyondTheEndIsKeptOnTheMove) {
  TVEZTemporaryStream t(false);
  t.SetMemoryLimit(16);
  t.Write("0123456789", 10);
  t.Seek(20, soBeginning);
  ASSERT_EQ(t.Write("ab", 2), 2);  // 10 + 2 <= 16: memory, gap of zeros
  EXPECT_TRUE(t.InMemory());
  t.SetPosition(30);
  ASSERT_EQ(t.Write("cdefgh", 6), 6);  // 22 + 6 > 16: file
  EXPECT_FALSE(t.InMemory());
  EXPECT_EQ(t.Size(), 36);
  std::vector<char> back(36);
  t.SetPosition(0);
  ASSERT_EQ(t.Read(back.data(), 36), 36);
  EXPECT_EQ(std::string(back.data(), 36), std::string("0123456789") + std::string(10, '\0') + "ab" +
                                              std::string(8, '\0') + "cdefgh");
}

TEST_F(StreamFiles, TemporaryStreamWithoutTempFilesStaysInMemory) {
  TVEZTemporaryStream t(true);
  t.SetMemoryLimit(8);
  std::vector<std::uint8_t> big(5000, 0x5A);
  ASSERT_EQ(t.Write(big.data(), 5000), 5000);
  ASSERT_EQ(t.Write(big.data(), 5000), 5000);
  EXPECT_TRUE(t.InMemory());
  EXPECT_EQ(t.Size(), 10000);
  EXPECT_TRUE(Entries().empty());
  EXPECT_EQ(t.FileStream(), nullptr);
}

// Files come through the installed file system. A failing disk raises the
// OS error with its errno text; it never reads or writes "0 bytes", which
// would make a full disk look like a damaged file.
class FailingDisk : public platform::FileSystemWrapper {
 public:
  FailingDisk(platform::FileSystem& target, int read_errno, int write_errno)
      : FileSystemWrapper(target), read_errno_(read_errno), write_errno_(write_errno) {}
  std::unique_ptr<platform::File> CreateDeleteOnCloseFile(const std::string& path) override {
    class Failing : public platform::FileWrapper {
     public:
      Failing(std::unique_ptr<platform::File> target, const FailingDisk& disk)
          : FileWrapper(std::move(target)), disk_(disk) {}
      std::size_t ReadPartialAt(std::int64_t offset, void* buffer, std::size_t count) override {
        if (disk_.failing && disk_.read_errno_ != 0)
          throw platform::EOSError(disk_.read_errno_, "injected");
        return FileWrapper::ReadPartialAt(offset, buffer, count);
      }
      void ReadAt(std::int64_t offset, void* buffer, std::size_t count) override {
        if (disk_.failing && disk_.read_errno_ != 0)
          throw platform::EOSError(disk_.read_errno_, "injected");
        FileWrapper::ReadAt(offset, buffer, count);
      }
      void WriteAt(std::int64_t offset, const void* buffer, std::size_t count) override {
        if (disk_.failing && disk_.write_errno_ != 0)
          throw platform::EOSError(disk_.write_errno_, "injected");
        FileWrapper::WriteAt(offset, buffer, count);
      }

     private:
      const FailingDisk& disk_;
    };
    return std::make_unique<Failing>(Target().CreateDeleteOnCloseFile(path), *this);
  }
  bool failing = false;

 private:
  int read_errno_;
  int write_errno_;
};

// The errno of the EOSError that f raises; 0 when f raises nothing. Other
// exceptions (a "0 bytes" EVEZException, for one) pass through and fail.
int OsErrorOf(const std::function<void()>& f, std::string* message = nullptr) {
  try {
    f();
  } catch (const platform::EOSError& e) {
    if (message != nullptr) *message = e.what();
    return e.ErrorCode();
  }
  return 0;
}

TEST_F(StreamFiles, AFailingDiskRaisesTheOsErrorWithItsText) {
  struct Row {
    const char* name;
    int read_errno;
    int write_errno;
    std::function<void(TVEZFileStream&)> op;
    int expected;
  };
  TVEZMemoryStream other;
  other.Write("0123456789", 10);
  const std::vector<Row> rows = {
      {"Read", EIO, 0,
       [](TVEZFileStream& f) {
         char b[4];
         f.Read(b, 4);
       },
       EIO},
      {"ReadBuffer", EIO, 0,
       [](TVEZFileStream& f) {
         char b[4];
         f.ReadBuffer(b, 4);
       },
       EIO},
      {"CheckedStreamRead", EIO, 0,
       [](TVEZFileStream& f) {
         char b[4];
         CheckedStreamRead(b, 4, f, 2106);
       },
       EIO},
      {"SaveToStream", EIO, 0, [&](TVEZFileStream& f) { f.SaveToStream(other); }, EIO},
      {"Write", 0, ENOSPC, [](TVEZFileStream& f) { f.Write("abc", 3); }, ENOSPC},
      {"WriteBuffer", 0, ENOSPC, [](TVEZFileStream& f) { f.WriteBuffer("abc", 3); }, ENOSPC},
      {"CheckedStreamWrite", 0, ENOSPC,
       [](TVEZFileStream& f) { CheckedStreamWrite("abc", 3, f, 2107); }, ENOSPC},
      {"LoadFromStream", 0, ENOSPC, [&](TVEZFileStream& f) { f.LoadFromStream(other); }, ENOSPC},
      {"Write EDQUOT", 0, EDQUOT, [](TVEZFileStream& f) { f.Write("abc", 3); }, EDQUOT},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FailingDisk disk(platform::PosixFileSystem(), row.read_errno, row.write_errno);
    platform::ScopedFileSystem scope(disk);
    TVEZFileStream f(GetTemporaryFileName(), 0xFF00, true);
    ASSERT_EQ(f.Write("ABCDEFGH", 8), 8);
    f.SetPosition(2);
    disk.failing = true;
    std::string message;
    EXPECT_EQ(OsErrorOf([&] { row.op(f); }, &message), row.expected);
    EXPECT_NE(message.find(std::strerror(row.expected)), std::string::npos) << message;
    disk.failing = false;
    // A load empties the stream before it copies, and a copy moves the
    // position; the other operations leave position and bytes as they were.
    const std::string name = row.name;
    if (name == "LoadFromStream") continue;
    if (name != "SaveToStream") {
      EXPECT_EQ(f.Position(), 2);
    }
    char back[8];
    f.SetPosition(0);
    ASSERT_EQ(f.Read(back, 8), 8);
    EXPECT_EQ(std::string(back, 8), "ABCDEFGH");
  }
}

TEST_F(StreamFiles, ATemporaryStreamThatCannotMoveToAFullDiskStaysWholeInMemory) {
  FailingDisk disk(platform::PosixFileSystem(), 0, ENOSPC);
  disk.failing = true;
  platform::ScopedFileSystem scope(disk);
  TVEZTemporaryStream t(false);
  t.SetMemoryLimit(4);
  t.Write("abcd", 4);
  EXPECT_EQ(OsErrorOf([&] { t.Write("e", 1); }), ENOSPC);
  EXPECT_TRUE(t.InMemory());
  EXPECT_EQ(t.Size(), 4);
  EXPECT_TRUE(Entries().empty());
}

}  // namespace
}  // namespace vez

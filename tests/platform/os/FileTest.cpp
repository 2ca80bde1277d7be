#include "platform/os/File.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/Exceptions.h"
#include "platform/os/TempFile.h"

namespace platform {
namespace {

int ErrnoOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EOSError& e) {
    return e.ErrorCode();
  }
  return 0;
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vezfiletestXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Path(const char* name) const { return dir_ + "/" + name; }

  FileSystem& fs_ = PosixFileSystem();
  std::string dir_;
};

TEST_F(Files, PositionedReadsAndWritesComplete) {
  auto f = fs_.CreateFile(Path("a"), FileShare::kExclusive);
  EXPECT_EQ(f->Path(), Path("a"));
  EXPECT_EQ(f->Access(), FileAccess::kReadWrite);
  EXPECT_EQ(f->Size(), 0);
  std::vector<char> big(3 << 20);
  for (std::size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<char>(i % 251);
  f->WriteAt(0, big.data(), big.size());
  std::vector<char> back(big.size());
  f->ReadAt(0, back.data(), back.size());
  EXPECT_EQ(back, big);
  // A write past the end leaves a gap of zeros.
  f->WriteAt(static_cast<std::int64_t>(big.size()) + 10, "z", 1);
  EXPECT_EQ(f->Size(), static_cast<std::int64_t>(big.size()) + 11);
  char tail[11];
  f->ReadAt(static_cast<std::int64_t>(big.size()), tail, 11);
  EXPECT_EQ(std::memcmp(tail, "\0\0\0\0\0\0\0\0\0\0z", 11), 0);
  // A short read is an error unless asked for.
  char b[20];
  EXPECT_THROW(f->ReadAt(f->Size() - 5, b, 20), EReadError);
  EXPECT_EQ(f->ReadPartialAt(f->Size() - 5, b, 20), 5u);
  EXPECT_EQ(f->ReadPartialAt(f->Size() + 100, b, 20), 0u);
  EXPECT_EQ(ErrnoOf([&] { f->ReadAt(-1, b, 1); }), EINVAL);
  EXPECT_EQ(ErrnoOf([&] { f->WriteAt(INT64_MAX, b, 2); }), EINVAL);
  f->Truncate(7);
  EXPECT_EQ(f->Size(), 7);
  f->Truncate(9);
  f->ReadAt(7, b, 2);
  EXPECT_EQ(std::memcmp(b, "\0\0", 2), 0);
  EXPECT_EQ(ErrnoOf([&] { f->Truncate(-1); }), EINVAL);
  EXPECT_NO_THROW(f->Sync());
  f->Close();
  EXPECT_NO_THROW(f->Close());
  EXPECT_EQ(ErrnoOf([&] { f->Size(); }), EBADF);
  EXPECT_EQ(ErrnoOf([&] { f->WriteAt(0, "x", 1); }), EBADF);
}

TEST_F(Files, AccessIsEnforced) {
  fs_.CreateFile(Path("a"), FileShare::kDenyNone)->WriteAt(0, "abc", 3);
  auto reader = fs_.OpenFile(Path("a"), FileAccess::kRead, FileShare::kDenyNone);
  EXPECT_EQ(ErrnoOf([&] { reader->WriteAt(0, "x", 1); }), EBADF);
  EXPECT_EQ(ErrnoOf([&] { reader->Truncate(0); }), EBADF);
  auto writer = fs_.OpenFile(Path("a"), FileAccess::kWrite, FileShare::kDenyNone);
  char b[3];
  EXPECT_EQ(ErrnoOf([&] { writer->ReadAt(0, b, 1); }), EBADF);
  writer->WriteAt(0, "X", 1);
  reader->ReadAt(0, b, 3);
  EXPECT_EQ(std::string(b, 3), "Xbc");
  EXPECT_EQ(
      ErrnoOf([&] { fs_.OpenFile(Path("missing"), FileAccess::kRead, FileShare::kDenyNone); }),
      ENOENT);
  EXPECT_EQ(ErrnoOf([&] { fs_.OpenFile(dir_, FileAccess::kRead, FileShare::kDenyNone); }), EISDIR);
}

TEST_F(Files, ShareModesWithinTheProcess) {
  fs_.CreateFile(Path("s"), FileShare::kDenyNone)->WriteAt(0, "keep", 4);
  struct Row {
    const char* name;
    FileShare first;
    FileShare second;
    bool second_opens;
  };
  const Row rows[] = {
      {"deny none, deny none", FileShare::kDenyNone, FileShare::kDenyNone, true},
      {"deny write, deny none", FileShare::kDenyWrite, FileShare::kDenyNone, true},
      {"deny read, deny write", FileShare::kDenyRead, FileShare::kDenyWrite, true},
      {"exclusive, deny none", FileShare::kExclusive, FileShare::kDenyNone, false},
      {"deny none, exclusive", FileShare::kDenyNone, FileShare::kExclusive, false},
      {"exclusive, exclusive", FileShare::kExclusive, FileShare::kExclusive, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto first = fs_.OpenFile(Path("s"), FileAccess::kRead, row.first);
    const int error = ErrnoOf([&] { fs_.OpenFile(Path("s"), FileAccess::kReadWrite, row.second); });
    EXPECT_EQ(error, row.second_opens ? 0 : kSharingViolation);
    if (!row.second_opens) {
      EXPECT_EQ(ErrnoOf([&] { fs_.CreateFile(Path("s"), row.second); }), kSharingViolation);
      EXPECT_EQ(first->Size(), 4);  // a refused create truncates nothing
    }
  }
  // The hold ends with the handle.
  { auto exclusive = fs_.OpenFile(Path("s"), FileAccess::kReadWrite, FileShare::kExclusive); }
  EXPECT_NO_THROW(fs_.OpenFile(Path("s"), FileAccess::kReadWrite, FileShare::kExclusive));
}

TEST_F(Files, RenameRefusesAnExistingTargetAndDeleteRemoves) {
  fs_.CreateFile(Path("from"), FileShare::kDenyNone)->WriteAt(0, "from", 4);
  fs_.CreateFile(Path("to"), FileShare::kDenyNone)->WriteAt(0, "target", 6);
  EXPECT_EQ(ErrnoOf([&] { fs_.RenameFile(Path("from"), Path("to")); }), EEXIST);
  EXPECT_EQ(std::filesystem::file_size(Path("to")), 6u);
  EXPECT_TRUE(fs_.FileExists(Path("from")));
  fs_.RenameFile(Path("from"), Path("new"));
  EXPECT_FALSE(fs_.FileExists(Path("from")));
  EXPECT_TRUE(fs_.FileExists(Path("new")));
  EXPECT_EQ(ErrnoOf([&] { fs_.RenameFile(Path("from"), Path("other")); }), ENOENT);
  fs_.DeleteFile(Path("new"));
  EXPECT_FALSE(fs_.FileExists(Path("new")));
  EXPECT_EQ(ErrnoOf([&] { fs_.DeleteFile(Path("new")); }), ENOENT);
  EXPECT_FALSE(fs_.FileExists(dir_));  // a folder is not a file
}

TEST_F(Files, ReplaceTakesTheTargetsNameAndFolderQueriesAnswer) {
  fs_.CreateFile(Path("new"), FileShare::kDenyNone)->WriteAt(0, "new", 3);
  fs_.CreateFile(Path("old"), FileShare::kDenyNone)->WriteAt(0, "old file", 8);
  fs_.ReplaceFile(Path("new"), Path("old"));
  EXPECT_FALSE(fs_.FileExists(Path("new")));
  EXPECT_EQ(std::filesystem::file_size(Path("old")), 3u);
  fs_.ReplaceFile(Path("old"), Path("free"));
  EXPECT_TRUE(fs_.FileExists(Path("free")));
  EXPECT_EQ(ErrnoOf([&] { fs_.ReplaceFile(Path("old"), Path("x")); }), ENOENT);
  EXPECT_NO_THROW(fs_.SyncFolder(dir_));
  EXPECT_EQ(ErrnoOf([&] { fs_.SyncFolder(Path("missing")); }), ENOENT);
  const std::int64_t free = fs_.FreeSpace(dir_);
  EXPECT_GT(free, 0);
  EXPECT_LE(free, static_cast<std::int64_t>(std::filesystem::space(dir_).capacity));
  EXPECT_EQ(ErrnoOf([&] { fs_.FreeSpace(Path("missing")); }), ENOENT);
}

TEST_F(Files, TemporaryFilesAreUnlinkedAtOnce) {
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  setenv("TMPDIR", (dir_ + "//").c_str(), 1);
  EXPECT_EQ(fs_.TempDirectory(), dir_);
  std::string name;
  {
    auto t = fs_.CreateTempFile(&name);
    EXPECT_EQ(name.rfind(dir_ + "/VEZ", 0), 0u) << name;
    EXPECT_EQ(name.size(), dir_.size() + 1 + 3 + 6);
    EXPECT_FALSE(std::filesystem::exists(name));
    t->WriteAt(0, "data", 4);
    EXPECT_EQ(t->Size(), 4);
  }
  const std::string reserved = fs_.ReserveTempFileName();
  EXPECT_NE(reserved, name);
  EXPECT_FALSE(std::filesystem::exists(reserved));
  EXPECT_EQ(PendingTempReservations(), 1u);
  {
    auto t = fs_.CreateDeleteOnCloseFile(reserved);
    EXPECT_EQ(PendingTempReservations(), 0u);
    EXPECT_EQ(t->Path(), reserved);
    t->WriteAt(0, "x", 1);
    EXPECT_FALSE(std::filesystem::exists(reserved));
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
  if (old)
    setenv("TMPDIR", saved.c_str(), 1);
  else
    unsetenv("TMPDIR");
  EXPECT_EQ(fs_.TempDirectory(), old && *old ? TempDirectory() : "/tmp");
}

// The seam: a wrapper overrides one operation and the rest is untouched.
class FullDisk : public FileSystemWrapper {
 public:
  using FileSystemWrapper::FileSystemWrapper;
  std::unique_ptr<File> CreateFile(const std::string& path, FileShare share) override {
    class NoSpace : public FileWrapper {
     public:
      using FileWrapper::FileWrapper;
      void WriteAt(std::int64_t, const void*, std::size_t) override {
        throw EOSError(ENOSPC, "injected");
      }
    };
    return std::make_unique<NoSpace>(Target().CreateFile(path, share));
  }
};

TEST_F(Files, AWrapperInstalledForAScopeInjectsFaults) {
  EXPECT_EQ(&DefaultFileSystem(), &PosixFileSystem());
  FullDisk full(PosixFileSystem());
  {
    ScopedFileSystem scope(full);
    EXPECT_EQ(&DefaultFileSystem(), &full);
    auto f = DefaultFileSystem().CreateFile(Path("w"), FileShare::kDenyNone);
    EXPECT_EQ(ErrnoOf([&] { f->WriteAt(0, "x", 1); }), ENOSPC);
    EXPECT_EQ(f->Size(), 0);
    EXPECT_TRUE(f->LockRange(0, 1));
  }
  EXPECT_EQ(&DefaultFileSystem(), &PosixFileSystem());
}

}  // namespace
}  // namespace platform

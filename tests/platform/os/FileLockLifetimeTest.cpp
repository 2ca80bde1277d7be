// The lock layer at process exit and under file permissions that allow only
// reading or only writing. Each case runs in a child process: exit-time
// destruction needs a process that really exits, and permissions bind only a
// process without root's override, so a child started as root drops to
// "nobody" first.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/core/Exceptions.h"
#include "platform/os/File.h"
#include "platform/os/FileLock.h"
#include "platform/os/TempFile.h"

namespace platform {
namespace {

class LockLifetime : public ::testing::Test {
 protected:
  void SetUp() override {
    // A fresh process per death test: the registry must not exist yet when
    // the static file below is made, as in a program that opens its
    // database before its first lock.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    char pattern[] = "/tmp/vezlocklifeXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    // Reachable by the unprivileged user the permission cases run as.
    ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string dir_;
};

// Exits with 0 when check returns an empty text, else prints it and exits 1.
[[noreturn]] void Finish(const std::string& failure) {
  if (failure.empty()) std::exit(0);
  std::fprintf(stderr, "%s\n", failure.c_str());
  std::exit(1);
}

// Drops root's permission override so that file modes bind.
void BecomeUnprivileged() {
  if (geteuid() != 0) return;
  if (setgid(65534) != 0 || setuid(65534) != 0) Finish("cannot drop to nobody");
}

// A file with exactly mode, made by the (unprivileged) caller.
std::string MakeFile(const std::string& dir, const char* name, mode_t mode) {
  const std::string path = dir + "/" + name;
  const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
  if (fd == -1 || write(fd, "0123456789", 10) != 10 || fchmod(fd, mode) != 0)
    Finish("cannot make " + path);
  close(fd);
  return path;
}

int OsErrorOf(const std::function<void()>& f, std::string* message = nullptr) {
  try {
    f();
  } catch (const EOSError& e) {
    if (message) *message = e.what();
    return e.ErrorCode();
  }
  return 0;
}

// The engine's list of open databases is a static object: its files close in
// its destructor at exit. The lock registry, first used after that object was
// made, must still be there.
TEST_F(LockLifetime, AStaticFileClosesAtExitAfterTheRegistryWasFirstUsed) {
  const std::string path = dir_ + "/db.bin";
  EXPECT_EXIT(
      {
        static std::unique_ptr<File> database =
            PosixFileSystem().CreateFile(path, FileShare::kDenyNone);
        static std::unique_ptr<File> second =
            PosixFileSystem().OpenFile(path, FileAccess::kReadWrite, FileShare::kDenyNone);
        if (!database->LockRange(0, 4) || !second->LockRange(8, 2) || database->LockRange(9, 1))
          Finish("locks not as expected");
        std::exit(0);  // static destructors run now
      },
      ::testing::ExitedWithCode(0), "");
}

// A static object that spills to a temporary file on its way out: the table
// of reserved temporary names, first used after that object was made, must
// still be there when its destructor reserves and claims a name at exit.
TEST_F(LockLifetime, AStaticObjectReservesATempFileAtExitAfterTheTableWasFirstUsed) {
  struct SpillsAtExit {
    ~SpillsAtExit() {
      FileSystem& fs = PosixFileSystem();
      const std::string name = fs.ReserveTempFileName();
      auto spill = fs.CreateDeleteOnCloseFile(name);
      spill->WriteAt(0, "spill", 5);
      if (PendingTempReservations() != pending) _exit(2);
    }
    std::size_t pending = 0;
  };
  EXPECT_EXIT(
      {
        static SpillsAtExit spiller;
        // First use of the table, after spiller was made; left unclaimed.
        PosixFileSystem().ReserveTempFileName();
        spiller.pending = PendingTempReservations();
        std::exit(0);  // static destructors run now
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(LockLifetime, AWriteOnlyOpenerCannotHideFromAnExclusiveOpener) {
  const std::string dir = dir_;
  EXPECT_EXIT(
      {
        BecomeUnprivileged();
        const std::string path = MakeFile(dir, "write-only.bin", 0200);
        FileSystem& fs = PosixFileSystem();
        // Shared opens cannot take part in the share emulation: refused,
        // saying why.
        for (FileShare share :
             {FileShare::kDenyNone, FileShare::kDenyWrite, FileShare::kDenyRead}) {
          std::string message;
          const int error =
              OsErrorOf([&] { fs.OpenFile(path, FileAccess::kWrite, share); }, &message);
          if (error != EACCES || message.find("writing only") == std::string::npos)
            Finish("a shared write-only open was let in: " + std::to_string(error) + " " + message);
        }
        // An exclusive one holds the share byte and keeps everyone else out.
        auto only = fs.OpenFile(path, FileAccess::kWrite, FileShare::kExclusive);
        only->WriteAt(0, "AB", 2);
        if (OsErrorOf([&] { fs.OpenFile(path, FileAccess::kWrite, FileShare::kExclusive); }) !=
            kSharingViolation)
          Finish("two exclusive write-only openers");
        if (!only->LockRange(0, 1) || only->LockRange(0, 1)) Finish("byte locks");
        Finish("");
      },
      ::testing::ExitedWithCode(0), "");
}

// Read-only handles take shared byte locks: the registry refuses a second
// lock of a byte within a process, another process gets it all the same.
TEST_F(LockLifetime, ReadOnlyHandlesShareByteLocksAcrossProcesses) {
  const std::string dir = dir_;
  EXPECT_EXIT(
      {
        BecomeUnprivileged();
        const std::string path = MakeFile(dir, "read-only.bin", 0400);
        FileSystem& fs = PosixFileSystem();
        // The other process starts before this one holds anything, so that it
        // inherits no registry entries; it locks when told to.
        int go[2];
        if (pipe(go) != 0) Finish("pipe");
        const pid_t child = fork();
        if (child == 0) {
          char c;
          if (read(go[0], &c, 1) != 1) _exit(3);
          try {
            auto other = fs.OpenFile(path, FileAccess::kRead, FileShare::kDenyWrite);
            _exit(other->LockRange(5, 1) ? 0 : 1);
          } catch (...) {
            _exit(2);
          }
        }
        auto a = fs.OpenFile(path, FileAccess::kRead, FileShare::kDenyWrite);
        auto b = fs.OpenFile(path, FileAccess::kRead, FileShare::kDenyWrite);
        if (!a->LockRange(5, 1)) Finish("first lock refused");
        if (b->LockRange(5, 1)) Finish("a second handle of this process got a held byte");
        if (!b->IsRangeLocked(5, 1)) Finish("the held byte probes free");
        if (OsErrorOf([&] { fs.OpenFile(path, FileAccess::kRead, FileShare::kExclusive); }) !=
            EACCES)
          Finish("an exclusive open without write permission");
        if (write(go[1], "x", 1) != 1) Finish("pipe");
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
          Finish("another process's read-only handle did not get the byte: " +
                 std::to_string(status));
        Finish("");
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace platform

#include "platform/os/FileLock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/core/Exceptions.h"
#include "platform/os/File.h"

namespace platform {
namespace {

// A forked process with its own handle on a file, driven through pipes: each
// command is answered with '1' (true), '0' (false) or 'E' (exception).
class ChildProcess {
 public:
  enum Op : char { kLock = 'L', kUnlock = 'U', kProbe = 'P', kOpenExclusive = 'X', kQuit = 'Q' };

  explicit ChildProcess(const std::string& path) {
    int to_child[2], from_child[2];
    if (pipe(to_child) != 0 || pipe(from_child) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      close(to_child[1]);
      close(from_child[0]);
      Serve(path, to_child[0], from_child[1]);
      _exit(0);  // never return into the test runner
    }
    close(to_child[0]);
    close(from_child[1]);
    commands_ = to_child[1];
    replies_ = from_child[0];
  }

  ~ChildProcess() {
    if (pid_ > 0) Kill();
  }

  char Send(Op op, std::int64_t offset = 0, std::int64_t count = 0) {
    char message[17];
    message[0] = op;
    std::memcpy(message + 1, &offset, 8);
    std::memcpy(message + 9, &count, 8);
    if (write(commands_, message, sizeof message) != sizeof message) return '?';
    char reply = '?';
    if (read(replies_, &reply, 1) != 1) return '?';
    return reply;
  }

  // Dies without releasing anything.
  void Kill() {
    kill(pid_, SIGKILL);
    int status;
    waitpid(pid_, &status, 0);
    close(commands_);
    close(replies_);
    pid_ = -1;
  }

 private:
  static void Serve(const std::string& path, int in, int out) {
    std::unique_ptr<File> file;
    try {
      file = PosixFileSystem().OpenFile(path, FileAccess::kReadWrite, FileShare::kDenyNone);
    } catch (...) {
      _exit(2);
    }
    char message[17];
    while (read(in, message, sizeof message) == sizeof message) {
      std::int64_t offset, count;
      std::memcpy(&offset, message + 1, 8);
      std::memcpy(&count, message + 9, 8);
      char reply = 'E';
      try {
        bool result = false;
        switch (message[0]) {
          case kLock:
            result = file->LockRange(offset, count);
            break;
          case kUnlock:
            result = file->UnlockRange(offset, count);
            break;
          case kProbe:
            result = file->IsRangeLocked(offset, count);
            break;
          case kOpenExclusive:
            // In place of its own shared handle, which would conflict.
            file.reset();
            file = PosixFileSystem().OpenFile(path, FileAccess::kReadWrite, FileShare::kExclusive);
            result = true;
            break;
          case kQuit:
            _exit(0);
        }
        reply = result ? '1' : '0';
      } catch (...) {
      }
      if (write(out, &reply, 1) != 1) _exit(3);
    }
    _exit(0);
  }

  pid_t pid_ = -1;
  int commands_ = -1;
  int replies_ = -1;
};

class LockFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vezlocktestXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/db.bin";
    auto f = PosixFileSystem().CreateFile(path_, FileShare::kDenyNone);
    f->WriteAt(0, "0123456789012345678901234567890123456789", 40);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::unique_ptr<File> Open() {
    return PosixFileSystem().OpenFile(path_, FileAccess::kReadWrite, FileShare::kDenyNone);
  }

  std::string dir_;
  std::string path_;
};

TEST_F(LockFiles, SemanticsTable) {
  // Forked first: a child shares the descriptions of handles open at fork.
  ChildProcess child(path_);
  auto h1 = Open();
  auto h2 = Open();
  constexpr std::int64_t kFar = std::int64_t{1} << 40;  // far beyond the end of the file

  enum Actor { H1, H2, Child, CloseH1, KillChild };
  enum Op { Lock, Unlock, Probe, None };
  struct Row {
    const char* name;
    Actor actor;
    Op op;
    std::int64_t offset;
    std::int64_t count;
    bool expected;
  };
  const Row rows[] = {
      {"lock a free byte", H1, Lock, 10, 1, true},
      {"same handle again", H1, Lock, 10, 1, false},
      {"second handle of the process", H2, Lock, 10, 1, false},
      {"another process", Child, Lock, 10, 1, false},
      {"overlapping range, same handle", H1, Lock, 8, 5, false},
      {"probe through the holder", H1, Probe, 10, 1, true},
      {"probe through a second handle", H2, Probe, 10, 1, true},
      {"probe from another process", Child, Probe, 10, 1, true},
      {"probe of a range touching it", Child, Probe, 5, 6, true},
      {"probe of a free byte", H1, Probe, 11, 1, false},
      {"the probe took no lock", Child, Lock, 11, 1, true},
      {"the probe dropped no lock", Child, Probe, 10, 1, true},
      {"child holds 11", H2, Probe, 11, 1, true},
      {"unlock of another handle's lock", H2, Unlock, 10, 1, false},
      {"still held after the refused unlock", Child, Probe, 10, 1, true},
      {"unlock of an unheld byte", H1, Unlock, 12, 1, false},
      {"unlock with another count", H1, Unlock, 10, 2, false},
      {"unlock of the child's byte", H1, Unlock, 11, 1, false},
      {"lock beyond the end of the file", H1, Lock, kFar, 1, true},
      {"seen beyond the end by another process", Child, Probe, kFar, 1, true},
      {"refused beyond the end to another process", Child, Lock, kFar, 1, false},
      {"child locks a byte", Child, Lock, 20, 1, true},
      {"refused to this process", H1, Lock, 20, 1, false},
      {"seen by this process", H2, Probe, 20, 1, true},
      {"a range across two holders", H2, Lock, 9, 13, false},
      {"unlock by the holder", H1, Unlock, 10, 1, true},
      {"second unlock fails", H1, Unlock, 10, 1, false},
      {"free for the other process", Child, Lock, 10, 1, true},
      {"child unlocks it", Child, Unlock, 10, 1, true},
      {"free for a second handle", H2, Lock, 10, 1, true},
      {"second handle unlocks", H2, Unlock, 10, 1, true},
      {"close releases the handle's locks", CloseH1, None, 0, 0, true},
      {"free after close", Child, Lock, kFar, 1, true},
      {"the child's locks survive", H2, Probe, 20, 1, true},
      {"process death releases its locks", KillChild, None, 0, 0, true},
      {"free after death", H2, Lock, 20, 1, true},
      {"and the other one", H2, Lock, 11, 1, true},
      {"nothing else is held", H2, Probe, 0, 10, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    bool got = true;
    switch (row.actor) {
      case H1:
      case H2: {
        File& f = row.actor == H1 ? *h1 : *h2;
        got = row.op == Lock     ? f.LockRange(row.offset, row.count)
              : row.op == Unlock ? f.UnlockRange(row.offset, row.count)
                                 : f.IsRangeLocked(row.offset, row.count);
        break;
      }
      case Child: {
        const char reply = child.Send(row.op == Lock     ? ChildProcess::kLock
                                      : row.op == Unlock ? ChildProcess::kUnlock
                                                         : ChildProcess::kProbe,
                                      row.offset, row.count);
        ASSERT_TRUE(reply == '0' || reply == '1') << reply;
        got = reply == '1';
        break;
      }
      case CloseH1:
        h1->Close();
        EXPECT_EQ(h1->Descriptor(), -1);
        break;
      case KillChild:
        child.Kill();
        break;
    }
    EXPECT_EQ(got, row.expected);
  }
}

TEST_F(LockFiles, BadRangesRaiseAndClosedHandlesRefuse) {
  auto f = Open();
  EXPECT_THROW(f->LockRange(-1, 1), EOSError);
  EXPECT_THROW(f->LockRange(0, 0), EOSError);
  EXPECT_THROW(f->LockRange(kShareLockOffset, 1), EOSError);
  EXPECT_THROW(f->IsRangeLocked(0, -1), EOSError);
  EXPECT_FALSE(f->UnlockRange(-1, 1));
  EXPECT_TRUE(f->LockRange(kShareLockOffset - 1, 1));  // the last byte ranges may use
  f->Close();
  EXPECT_THROW(f->LockRange(0, 1), EOSError);
  try {
    f->IsRangeLocked(0, 1);
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), EBADF);
  }
}

TEST_F(LockFiles, ExclusiveOpenIsSeenByOtherProcesses) {
  {
    ChildProcess child(path_);
    auto shared = Open();
    EXPECT_EQ(child.Send(ChildProcess::kOpenExclusive), 'E');  // we hold it shared
  }
  {
    ChildProcess child(path_);
    EXPECT_EQ(child.Send(ChildProcess::kOpenExclusive), '1');
    EXPECT_THROW(Open(), EOSError);
    try {
      PosixFileSystem().OpenFile(path_, FileAccess::kRead, FileShare::kDenyWrite);
    } catch (const EOSError& e) {
      EXPECT_EQ(e.ErrorCode(), kSharingViolation);
    }
    // Nor may another process create the file over it: the content stays.
    EXPECT_THROW(PosixFileSystem().CreateFile(path_, FileShare::kDenyNone), EOSError);
    EXPECT_EQ(std::filesystem::file_size(path_), 40u);
    child.Kill();  // death releases the exclusive hold
  }
  EXPECT_NO_THROW(Open());
}

}  // namespace
}  // namespace platform

#include "platform/os/File.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "platform/core/Exceptions.h"
#include "platform/os/FileLock.h"
#include "platform/os/FileQueries.h"
#include "platform/os/TempFile.h"

namespace platform {

namespace {

int OpenRetrying(const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = open(path, flags | O_CLOEXEC, mode);
  } while (fd == -1 && errno == EINTR);
  return fd;
}

FileIdentity IdentityOf(int fd, const std::string& path) {
  struct stat st {};
  if (fstat(fd, &st) == -1) throw EOSError(errno, "Cannot examine '" + path + "'");
  if (S_ISDIR(st.st_mode)) throw EOSError(EISDIR, "Cannot use '" + path + "' as a file");
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

class PosixFile final : public File {
 public:
  // Takes ownership of fd. readable/writable say what the descriptor allows
  // (which may be more than access, so that locks can be exclusive).
  PosixFile(int fd, std::string path, FileAccess access, bool readable, bool writable)
      : path_(std::move(path)), access_(access), readable_(readable) {
    lock_.fd = fd;
    lock_.owner = NewLockOwner();
    lock_.writable = writable;
    try {
      lock_.id = IdentityOf(fd, path_);
    } catch (...) {
      close(fd);
      throw;
    }
  }

  ~PosixFile() override {
    try {
      Close();
    } catch (...) {
      // A destructor never throws; Close reports failures to callers who ask.
    }
  }

  // Takes the share-mode lock; raises EOSError(kSharingViolation) on conflict.
  void TakeShareLock(FileShare share) {
    const bool exclusive = share == FileShare::kExclusive;
    if (exclusive && !lock_.writable)
      throw EOSError(EACCES, "Cannot open '" + path_ + "' exclusively without write permission");
    // A descriptor that cannot read cannot hold the shared share byte; let in,
    // it would be invisible to a later exclusive opener.
    if (!exclusive && !readable_)
      throw EOSError(EACCES, "Cannot open '" + path_ +
                                 "' for writing only without exclusive sharing: the share "
                                 "mode needs read permission on the file");
    if (!AcquireShareLock(lock_, exclusive))
      throw EOSError(kSharingViolation, "Cannot open '" + path_ + "': the file is in use");
  }

  const std::string& Path() const override { return path_; }
  FileAccess Access() const override { return access_; }
  int Descriptor() const override { return lock_.fd; }

  void ReadAt(std::int64_t offset, void* buffer, std::size_t count) override {
    const std::size_t n = ReadPartialAt(offset, buffer, count);
    if (n != count)
      throw EReadError("Read past the end of '" + path_ + "': " + std::to_string(count) +
                       " bytes at " + std::to_string(offset) + ", " + std::to_string(n) +
                       " available");
  }

  std::size_t ReadPartialAt(std::int64_t offset, void* buffer, std::size_t count) override {
    CheckOpen("read");
    if (access_ == FileAccess::kWrite) throw EOSError(EBADF, "Cannot read '" + path_ + "'");
    CheckOffset(offset, count, "read");
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
      const ssize_t n =
          pread(lock_.fd, out + done, count - done, static_cast<off_t>(offset + done));
      if (n == -1) {
        if (errno == EINTR) continue;
        throw EOSError(errno, "Cannot read " + std::to_string(count) + " bytes at " +
                                  std::to_string(offset) + " from '" + path_ + "'");
      }
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    return done;
  }

  void WriteAt(std::int64_t offset, const void* buffer, std::size_t count) override {
    CheckOpen("write");
    CheckWritable("write");
    CheckOffset(offset, count, "write");
    const auto* in = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
      const ssize_t n =
          pwrite(lock_.fd, in + done, count - done, static_cast<off_t>(offset + done));
      if (n == -1 && errno == EINTR) continue;
      if (n <= 0)
        throw EOSError(n == 0 ? EIO : errno, "Cannot write " + std::to_string(count) +
                                                 " bytes at " + std::to_string(offset) + " to '" +
                                                 path_ + "'");
      done += static_cast<std::size_t>(n);
    }
  }

  std::int64_t Size() override {
    CheckOpen("size");
    struct stat st {};
    if (fstat(lock_.fd, &st) == -1) throw EOSError(errno, "Cannot get the size of '" + path_ + "'");
    return st.st_size;
  }

  void Truncate(std::int64_t size) override {
    CheckOpen("truncate");
    CheckWritable("truncate");
    int r;
    do {
      r = ftruncate(lock_.fd, static_cast<off_t>(size));
    } while (r == -1 && errno == EINTR);
    if (r == -1)
      throw EOSError(errno, "Cannot set the size of '" + path_ + "' to " + std::to_string(size));
  }

  void Sync() override {
    CheckOpen("sync");
    int r;
    do {
      r = fdatasync(lock_.fd);
    } while (r == -1 && errno == EINTR);
    if (r == -1) throw EOSError(errno, "Cannot flush '" + path_ + "'");
  }

  bool LockRange(std::int64_t offset, std::int64_t count) override {
    CheckOpen("lock");
    return LockFileRange(lock_, offset, count);
  }

  bool UnlockRange(std::int64_t offset, std::int64_t count) override {
    CheckOpen("unlock");
    return UnlockFileRange(lock_, offset, count);
  }

  bool IsRangeLocked(std::int64_t offset, std::int64_t count) override {
    CheckOpen("lock probe");
    return IsFileRangeLocked(lock_, offset, count);
  }

  void Close() override {
    if (lock_.fd < 0) return;
    const int fd = lock_.fd;
    // Close first: the OFD locks go with the descriptor, then the registry
    // forgets this handle's ranges.
    const int r = close(fd);
    const int error = errno;
    ForgetFileLocks(lock_);
    lock_.fd = -1;
    if (r == -1 && error != EINTR) throw EOSError(error, "Cannot close '" + path_ + "'");
  }

 private:
  void CheckOpen(const char* operation) const {
    if (lock_.fd < 0)
      throw EOSError(EBADF, std::string("Cannot ") + operation + " closed file '" + path_ + "'");
  }

  void CheckWritable(const char* operation) const {
    if (access_ == FileAccess::kRead)
      throw EOSError(
          EBADF, std::string("Cannot ") + operation + " '" + path_ + "': opened for reading only");
  }

  void CheckOffset(std::int64_t offset, std::size_t count, const char* operation) const {
    if (offset < 0 || count > static_cast<std::uint64_t>(INT64_MAX - offset))
      throw EOSError(EINVAL, std::string("Cannot ") + operation + " " + std::to_string(count) +
                                 " bytes at " + std::to_string(offset) + " of '" + path_ + "'");
  }

  std::string path_;
  FileAccess access_;
  bool readable_;
  LockHandle lock_;
};

class Posix final : public FileSystem {
 public:
  std::unique_ptr<File> CreateFile(const std::string& path, FileShare share) override {
    // Not O_TRUNC: the share lock must be ours before any byte is dropped.
    const int fd = OpenRetrying(path.c_str(), O_RDWR | O_CREAT, 0666);
    if (fd == -1) throw EOSError(errno, "Cannot create '" + path + "'");
    auto file = std::make_unique<PosixFile>(fd, path, FileAccess::kReadWrite, true, true);
    file->TakeShareLock(share);
    file->Truncate(0);
    return file;
  }

  std::unique_ptr<File> OpenFile(const std::string& path, FileAccess access,
                                 FileShare share) override {
    // The descriptor is opened for reading and writing where permitted, so
    // that byte locks can be exclusive whatever the access; access is then
    // enforced by PosixFile.
    bool readable = true, writable = true;
    int fd = OpenRetrying(path.c_str(), O_RDWR, 0);
    if (fd == -1 && (errno == EACCES || errno == EROFS || errno == ETXTBSY || errno == EPERM)) {
      if (access == FileAccess::kRead) {
        writable = false;
        fd = OpenRetrying(path.c_str(), O_RDONLY, 0);
      } else if (access == FileAccess::kWrite) {
        readable = false;
        fd = OpenRetrying(path.c_str(), O_WRONLY, 0);
      }
    }
    if (fd == -1) throw EOSError(errno, "Cannot open '" + path + "'");
    auto file = std::make_unique<PosixFile>(fd, path, access, readable, writable);
    file->TakeShareLock(share);
    return file;
  }

  std::unique_ptr<File> CreateTempFile(std::string* path) override {
    std::string name;
    const int fd = MakeUnlinkedTempFile(&name);
    if (path) *path = name;
    return std::make_unique<PosixFile>(fd, name, FileAccess::kReadWrite, true, true);
  }

  std::string ReserveTempFileName() override { return ReserveTempFile(); }

  std::unique_ptr<File> CreateDeleteOnCloseFile(const std::string& path) override {
    int fd = ClaimReservedTempFile(path);
    if (fd == -1) {
      fd = OpenRetrying(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
      if (fd == -1) throw EOSError(errno, "Cannot create '" + path + "'");
      if (unlink(path.c_str()) == -1) {
        const int error = errno;
        close(fd);
        throw EOSError(error, "Cannot unlink '" + path + "'");
      }
    }
    auto file = std::make_unique<PosixFile>(fd, path, FileAccess::kReadWrite, true, true);
    file->Truncate(0);
    return file;
  }

  std::string TempDirectory() override { return platform::TempDirectory(); }

  bool FileExists(const std::string& path) override {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
  }

  void DeleteFile(const std::string& path) override {
    if (unlink(path.c_str()) == -1) throw EOSError(errno, "Cannot delete '" + path + "'");
  }

  void RenameFile(const std::string& from, const std::string& to) override {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
    int error = errno;
    if (error == EINVAL || error == ENOSYS) {
      // A file system without RENAME_NOREPLACE: link refuses an existing name.
      if (link(from.c_str(), to.c_str()) == 0) {
        if (unlink(from.c_str()) == 0) return;
        error = errno;
        unlink(to.c_str());
      } else {
        error = errno;
      }
    }
    throw EOSError(error, "Cannot rename '" + from + "' to '" + to + "'");
  }

  void ReplaceFile(const std::string& from, const std::string& to) override {
    if (rename(from.c_str(), to.c_str()) == -1)
      throw EOSError(errno, "Cannot rename '" + from + "' to '" + to + "'");
  }

  void SyncFolder(const std::string& folder) override { SyncDirectory(folder); }

  std::int64_t FreeSpace(const std::string& folder) override {
    struct statvfs st {};
    int r;
    do {
      r = statvfs(folder.c_str(), &st);
    } while (r == -1 && errno == EINTR);
    if (r == -1) throw EOSError(errno, "Cannot query the free space of '" + folder + "'");
    std::int64_t bytes = 0;
    if (__builtin_mul_overflow(st.f_bavail, st.f_frsize, &bytes)) return INT64_MAX;
    return bytes;
  }
};

std::atomic<FileSystem*>& Installed() {
  static std::atomic<FileSystem*> installed{&PosixFileSystem()};
  return installed;
}

}  // namespace

// Never destroyed, as the lock registry and the temporary-file table: a static
// object may still open or create files in its destructor at exit.
FileSystem& PosixFileSystem() {
  static Posix* const file_system = new Posix;
  return *file_system;
}

FileSystem& DefaultFileSystem() {
  return *Installed().load(std::memory_order_acquire);
}

ScopedFileSystem::ScopedFileSystem(FileSystem& file_system)
    : previous_(Installed().exchange(&file_system)) {}

ScopedFileSystem::~ScopedFileSystem() {
  Installed().store(previous_);
}

}  // namespace platform

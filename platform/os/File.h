// The engine's seam to the operating system's files (in the manner of an
// "Env"): every file the engine opens, reads, writes, locks, syncs, deletes or
// renames goes through a FileSystem and the File handles it returns. The
// process has one installed FileSystem, the POSIX one unless a test installs
// another (ScopedFileSystem). FileSystemWrapper and FileWrapper forward every
// call, so fault injection (short write, full disk, failed sync, lost unsynced
// writes) overrides one operation and needs no change to engine code.
//
// Errors: every operation that fails raises EOSError with the system's errno
// (ErrorCode()) and text, except where a contract below says otherwise.
//
// Thread safety: a FileSystem may be used from any thread. A File may be used
// from several threads for positioned reads and writes and lock calls; closing
// it must not race with other use.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// What a handle may do with the file's bytes. Ordinals are the low bits of the
// engine's open mode words.
enum class FileAccess : std::uint8_t { kRead = 0, kWrite = 1, kReadWrite = 2 };

// What other openers may do meanwhile. Emulated (see FileLock.h): an exclusive
// opener excludes every other opener and is refused while any other exists;
// the deny-read and deny-write modes are honoured as shared.
enum class FileShare : std::uint8_t { kExclusive, kDenyWrite, kDenyRead, kDenyNone };

// errno of an open refused by the share-mode emulation.
inline constexpr int kSharingViolation = EBUSY;

// One open handle. Closing it (Close or destruction) releases its byte-range
// locks and its share lock.
class File {
 public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  // Closes the handle when still open; never throws.
  virtual ~File() = default;

  // The name the file was opened by (for temporary files, the name they had).
  virtual const std::string& Path() const = 0;
  virtual FileAccess Access() const = 0;
  // The descriptor, or -1 once closed.
  virtual int Descriptor() const = 0;

  // Reads exactly count bytes at offset or raises: EOSError on a system error,
  // EReadError when the file ends first.
  virtual void ReadAt(std::int64_t offset, void* buffer, std::size_t count) = 0;
  // Reads up to count bytes at offset; fewer only where the file ends. Returns
  // the number read.
  virtual std::size_t ReadPartialAt(std::int64_t offset, void* buffer, std::size_t count) = 0;
  // Writes all count bytes at offset (the file grows as needed; a gap reads
  // back as zeros) or raises EOSError; a write that makes no progress raises
  // EOSError(EIO). REQUIRES: opened with write access (else EOSError(EBADF)).
  virtual void WriteAt(std::int64_t offset, const void* buffer, std::size_t count) = 0;

  virtual std::int64_t Size() = 0;
  // Sets the file's size; growth reads back as zeros. REQUIRES: write access.
  virtual void Truncate(std::int64_t size) = 0;
  // Makes written data durable (fdatasync).
  virtual void Sync() = 0;

  // Byte-range locks with the semantics of FileLock.h.
  virtual bool LockRange(std::int64_t offset, std::int64_t count) = 0;
  virtual bool UnlockRange(std::int64_t offset, std::int64_t count) = 0;
  virtual bool IsRangeLocked(std::int64_t offset, std::int64_t count) = 0;

  // Closes the handle; raises EOSError when the system reports a failure (the
  // handle is closed all the same). Closing a closed handle does nothing.
  virtual void Close() = 0;
};

class FileSystem {
 public:
  FileSystem() = default;
  FileSystem(const FileSystem&) = delete;
  FileSystem& operator=(const FileSystem&) = delete;
  virtual ~FileSystem() = default;

  // Creates path, or truncates it when it exists, for reading and writing with
  // the given sharing. An existing file held by an exclusive opener (or any
  // opener, when share is exclusive) is left untouched and the call raises
  // EOSError(kSharingViolation).
  virtual std::unique_ptr<File> CreateFile(const std::string& path, FileShare share) = 0;

  // Opens an existing file. A share-mode conflict raises
  // EOSError(kSharingViolation). Where the file's permissions allow writing
  // but not reading, only an exclusive open for writing is possible: any other
  // share raises EOSError(EACCES) (see FileLock.h). Where they allow reading
  // only, an open for reading gets a handle whose byte locks are shared.
  virtual std::unique_ptr<File> OpenFile(const std::string& path, FileAccess access,
                                         FileShare share) = 0;

  // A new empty file in TempDirectory() named "VEZ" + six unique characters,
  // for reading and writing, already unlinked: it vanishes when closed, even if
  // the process dies. The name it had is stored in *path when given.
  virtual std::unique_ptr<File> CreateTempFile(std::string* path) = 0;

  // Reserves a temporary file as CreateTempFile does and returns its name
  // (the name is unlinked at once). CreateDeleteOnCloseFile on that name hands
  // out the reserved file; until then the process holds one descriptor for it.
  virtual std::string ReserveTempFileName() = 0;

  // A delete-on-close file for reading and writing: the reserved temporary
  // file when path came from ReserveTempFileName, else path created (or
  // truncated) and unlinked at once.
  virtual std::unique_ptr<File> CreateDeleteOnCloseFile(const std::string& path) = 0;

  // $TMPDIR when set and not empty, else "/tmp"; no trailing '/'.
  virtual std::string TempDirectory() = 0;

  virtual bool FileExists(const std::string& path) = 0;
  virtual void DeleteFile(const std::string& path) = 0;
  // Renames from to to; refuses an existing target with EOSError(EEXIST).
  virtual void RenameFile(const std::string& from, const std::string& to) = 0;
  // Renames from to to in one step, replacing a file named to: at every
  // moment the name holds the old file or the new one, whole.
  virtual void ReplaceFile(const std::string& from, const std::string& to) = 0;
  // Makes the entries of folder durable (a create, rename or unlink in it).
  virtual void SyncFolder(const std::string& folder) = 0;
  // The bytes the calling process may still write on the file system that
  // holds folder.
  virtual std::int64_t FreeSpace(const std::string& folder) = 0;
};

// The POSIX file system.
FileSystem& PosixFileSystem();

// The installed file system.
FileSystem& DefaultFileSystem();

// Installs a file system for the life of this object; scopes must nest.
class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(FileSystem& file_system);
  ~ScopedFileSystem();
  ScopedFileSystem(const ScopedFileSystem&) = delete;
  ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

 private:
  FileSystem* previous_;
};

// Forwards every call to a target handle it owns; override what you need.
class FileWrapper : public File {
 public:
  explicit FileWrapper(std::unique_ptr<File> target) : target_(std::move(target)) {}
  File& Target() { return *target_; }

  const std::string& Path() const override { return target_->Path(); }
  FileAccess Access() const override { return target_->Access(); }
  int Descriptor() const override { return target_->Descriptor(); }
  void ReadAt(std::int64_t offset, void* buffer, std::size_t count) override {
    target_->ReadAt(offset, buffer, count);
  }
  std::size_t ReadPartialAt(std::int64_t offset, void* buffer, std::size_t count) override {
    return target_->ReadPartialAt(offset, buffer, count);
  }
  void WriteAt(std::int64_t offset, const void* buffer, std::size_t count) override {
    target_->WriteAt(offset, buffer, count);
  }
  std::int64_t Size() override { return target_->Size(); }
  void Truncate(std::int64_t size) override { target_->Truncate(size); }
  void Sync() override { target_->Sync(); }
  bool LockRange(std::int64_t offset, std::int64_t count) override {
    return target_->LockRange(offset, count);
  }
  bool UnlockRange(std::int64_t offset, std::int64_t count) override {
    return target_->UnlockRange(offset, count);
  }
  bool IsRangeLocked(std::int64_t offset, std::int64_t count) override {
    return target_->IsRangeLocked(offset, count);
  }
  void Close() override { target_->Close(); }

 private:
  std::unique_ptr<File> target_;
};

// Forwards every call to a target file system it does not own.
class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem& target) : target_(target) {}
  FileSystem& Target() { return target_; }

  std::unique_ptr<File> CreateFile(const std::string& path, FileShare share) override {
    return target_.CreateFile(path, share);
  }
  std::unique_ptr<File> OpenFile(const std::string& path, FileAccess access,
                                 FileShare share) override {
    return target_.OpenFile(path, access, share);
  }
  std::unique_ptr<File> CreateTempFile(std::string* path) override {
    return target_.CreateTempFile(path);
  }
  std::string ReserveTempFileName() override { return target_.ReserveTempFileName(); }
  std::unique_ptr<File> CreateDeleteOnCloseFile(const std::string& path) override {
    return target_.CreateDeleteOnCloseFile(path);
  }
  std::string TempDirectory() override { return target_.TempDirectory(); }
  bool FileExists(const std::string& path) override { return target_.FileExists(path); }
  void DeleteFile(const std::string& path) override { target_.DeleteFile(path); }
  void RenameFile(const std::string& from, const std::string& to) override {
    target_.RenameFile(from, to);
  }
  void ReplaceFile(const std::string& from, const std::string& to) override {
    target_.ReplaceFile(from, to);
  }
  void SyncFolder(const std::string& folder) override { target_.SyncFolder(folder); }
  std::int64_t FreeSpace(const std::string& folder) override { return target_.FreeSpace(folder); }

 private:
  FileSystem& target_;
};

}  // namespace platform

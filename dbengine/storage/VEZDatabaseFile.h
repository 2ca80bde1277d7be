// TVEZDatabaseFile: the operating-system file under a disk database. Every
// access goes through the installed platform::FileSystem (File.h), so tests
// can fail, record or replay any read, write, sync, truncate or lock.
//
// Contract:
// - Reads and writes are positioned and complete: a short read or write is an
//   error (the Boolean read answers false, the raising forms raise the
//   caller's native error). A failed call leaves the file open; there is no
//   reopen, since a local descriptor does not go bad and a reopen would drop
//   every byte lock the handle holds.
// - Byte locks are the handle's (FileLock.h): a held byte cannot be locked
//   again through any handle of any process. A lock call that the system
//   refuses (not a conflict but a failure) raises 30380; it is never reported
//   as granted and leaves nothing behind. "Is this byte locked" is a probe and
//   takes no lock.
// - Creating a file never unlinks a file another opener holds: an existing
//   file is first opened exclusively (refused while in use: 30361), then
//   deleted; the new file is made under a temporary name in the same folder
//   and renamed to its name without replacing anything.
//
// Thread safety: none of its own; the owning page manager serialises calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dbengine/foundation/VEZTypes.h"

namespace platform {
class File;
}

namespace vez {

class TVEZDatabaseFile {
 public:
  TVEZDatabaseFile();
  // Closes the file when open; never throws.
  ~TVEZDatabaseFile();
  TVEZDatabaseFile(const TVEZDatabaseFile&) = delete;
  TVEZDatabaseFile& operator=(const TVEZDatabaseFile&) = delete;

  const std::string& FileName() const { return file_name_; }
  bool IsOpened() const { return file_ != nullptr; }
  TVEZAccessMode AccessMode() const { return access_mode_; }
  TVEZShareMode ShareMode() const { return share_mode_; }
  // The system's descriptor (for a mapped view), -1 when closed or when the
  // installed file system has none.
  int Descriptor() const;

  // Creates file_name (replacing a file nobody holds open) and opens it for
  // reading and writing, not shared. Raises 30377 when open, 30374 for an
  // empty name, 30361 when the file cannot be made or the old one is in use.
  void CreateAndOpenFile(const std::string& file_name);
  // Opens an existing file. Raises 30377 when open, 30366 / 30367 for unknown
  // modes, 30364 when the system refuses (also a sharing conflict).
  void OpenFile(const std::string& file_name, TVEZAccessMode access_mode, TVEZShareMode share_mode);
  // Raises 30376 when closed, 30365 when the system reports a failure (the
  // file is closed all the same).
  void CloseFile();

  // Reads exactly count bytes at position; false on any failure or when the
  // file ends first (the buffer may then be partly filled).
  bool ReadBuffer(void* buffer, std::int64_t count, std::int64_t position);
  // The same, raising error_code on failure.
  void ReadBuffer(void* buffer, std::int64_t count, std::int64_t position, std::int32_t error_code);
  // Writes all count bytes at position or raises error_code.
  void WriteBuffer(const void* buffer, std::int64_t count, std::int64_t position,
                   std::int32_t error_code);

  // Raises 30371.
  std::int64_t GetSize();
  // Raises 30370 (30372 for a negative size).
  void SetSize(std::int64_t new_size);
  // The remembered position (the reads and writes are positioned and do not
  // move it). SetPosition raises 30372 for a negative value.
  std::int64_t GetPosition();
  void SetPosition(std::int64_t value);
  // Makes every written byte durable. Raises 30379.
  void FlushFileBuffers();

  // True when granted; false when the range is held by anyone. Raises 30380
  // when the system call fails.
  bool LockByte(std::int64_t offset, std::int32_t count);
  // True when released; false when this handle held no such lock.
  bool UnlockByte(std::int64_t offset, std::int32_t count);
  // Probes: true when any byte is held by any handle (this one included).
  bool IsByteLocked(std::int64_t offset);
  bool IsRegionLocked(std::int64_t offset, std::int32_t count);

  // Finds the database header (signature followed by the Int16 header size
  // 76): offset 0 first, then a scan in 10000-byte windows that overlap by the
  // signature's length, for a header starting in the first
  // kSignatureSearchLimit bytes only. Offset is unchanged when nothing is
  // found.
  bool FindSignature(std::int64_t& offset);
  // How far into a file a header is looked for (1 MiB): a file whose first
  // bytes are damaged is read that far, not whole, and a header kept in its
  // pages (a database stored as a BLOB) is not taken for its own.
  static constexpr std::int64_t kSignatureSearchLimit = std::int64_t{1} << 20;

  // Deletes the file this object names (the argument is not used). Raises
  // 30377 when open, 30362 when the system refuses or another opener holds
  // the file.
  void DeleteFile(const std::string& file_name);
  // Renames without replacing. Raises 30378.
  static void RenameFile(const std::string& old_file_name, const std::string& new_file_name);

 private:
  void CheckOpen(const char* operation) const;
  void CheckClosed(const char* operation) const;
  std::int64_t SizeForMessage() noexcept;

  std::string file_name_;
  TVEZAccessMode access_mode_ = amReadWrite;
  TVEZShareMode share_mode_ = smExclusive;
  std::int64_t position_ = 0;
  std::unique_ptr<platform::File> file_;
};

}  // namespace vez

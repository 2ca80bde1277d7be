// The rollback journal of a disk database: the file "<database file>-journal"
// beside it, which holds what is needed to undo one commit (or one smaller
// change of shared structures) that was cut off. It is written before the
// first byte of the change reaches the database file, and invalidated once
// the change is complete. The file is kept and overwritten in place: never
// deleted, and grown only when a change needs more room than any before.
//
// Layout (little-endian, packed):
//   0   8  magic "VEZJRNL" followed by 0x01
//   8   4  UInt32 format version (1)
//   12  4  Int32 header State of the database before the change
//   16  8  Int64 size of the database file before the change
//   24  8  Int64 body size in bytes (what follows the 48-byte head)
//   32  4  UInt32 record count
//   36  4  UInt32 added page count
//   40  4  UInt32 flags (bit 0: a commit)
//   44  4  UInt32 check sum: CRC-32 over bytes 0..43 and the body
// body: the records, then the added page numbers (Int32 each). A record:
//   0   1  kind (1 header area, 2 page, 3 new region: no old image)
//   1   8  Int64 offset in the database file
//   9   4  UInt32 length
//   13  4  UInt32 CRC-32 of the image the change writes there
//   17  the old image (length bytes; none for kind 3)
// Every journal holds a 76-byte header-area record of the database header
// (its old image even when the change leaves the header as it is), which ties
// it to the file and state it was written for. Invalidating zeroes the magic.
// A journal whose magic, version, sizes or check sum do not hold is damaged
// and never applied.
//
// Thread safety: none; the journal is used only while the database's header
// lock is held, so one process at a time writes or applies it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class File;
}

namespace vez {

enum class TVEZJournalRecordKind : std::uint8_t { HeaderArea = 1, Page = 2, NewRegion = 3 };

struct TVEZJournalRecord {
  TVEZJournalRecordKind Kind = TVEZJournalRecordKind::Page;
  std::int64_t Offset = 0;
  std::uint32_t Length = 0;
  std::uint32_t NewCrc = 0;
  // Length bytes, empty for a new region.
  std::vector<std::uint8_t> OldImage;
};

struct TVEZJournalContents {
  std::int32_t HeaderState = 0;
  std::int64_t OriginalFileSize = 0;
  bool IsCommit = false;
  std::vector<TVEZJournalRecord> Records;
  // Pages the committing transaction added: released when it is undone.
  std::vector<std::int32_t> AddedPages;
};

inline constexpr std::size_t kJournalHeadSize = 48;
// No record is longer than the largest page.
inline constexpr std::uint32_t kJournalMaxRecordLength = 65536;

std::vector<std::uint8_t> EncodeJournal(const TVEZJournalContents& contents);
// Whether bytes (a whole journal file, or more) start with a journal that is
// sound; contents is filled only then.
bool DecodeJournal(const std::uint8_t* bytes, std::size_t size, TVEZJournalContents& contents);
// The body size a sound head announces, or -1 for a head that is not one.
std::int64_t JournalBodySize(const std::uint8_t* head);

// The journal file. Errors: 10481 for a journal that cannot be opened,
// written, synced or read.
class TVEZRollbackJournal {
 public:
  TVEZRollbackJournal();
  ~TVEZRollbackJournal();
  TVEZRollbackJournal(const TVEZRollbackJournal&) = delete;
  TVEZRollbackJournal& operator=(const TVEZRollbackJournal&) = delete;

  static std::string PathFor(const std::string& database_file_name) {
    return database_file_name + "-journal";
  }

  // Opens the journal of the database for reading and writing, creating it
  // when missing; truncate empties an existing one (a new database). Returns
  // whether the file was made (its folder then needs a sync to keep it).
  bool Open(const std::string& database_file_name, bool truncate);
  // Opens an existing journal for reading only; false when there is none.
  bool OpenForReading(const std::string& database_file_name);
  void Close() noexcept;
  bool IsOpened() const { return file_ != nullptr; }
  bool CanWrite() const { return writable_; }
  const std::string& Path() const { return path_; }

  // Writes contents at the start of the file, then syncs it when sync is set.
  void Write(const TVEZJournalContents& contents, bool sync);
  // A sound journal in the file: true and its contents; false when the file
  // holds none (empty, invalidated, torn or damaged).
  bool Read(TVEZJournalContents& contents);
  // Quick test of the magic only.
  bool MayBeValid();
  // Zeroes the magic (not synced unless SyncInvalidation is called).
  void Invalidate();
  void SyncInvalidation();
  bool InvalidationUnsynced() const { return invalidation_unsynced_; }
  // Syncs the file when the journal it holds is an invalidated one this
  // handle neither wrote nor synced (another process's, whose invalidation
  // may not be durable yet).
  void SyncInvalidationOfOthers();

 private:
  [[noreturn]] void Fail(const char* what, const std::exception& e) const;

  std::string path_;
  std::unique_ptr<platform::File> file_;
  bool writable_ = false;
  bool invalidation_unsynced_ = false;
  // Head bytes 8..47 of the last journal this handle wrote or synced: they
  // stay when the magic is zeroed, and tell one journal from the next.
  std::uint8_t known_head_[kJournalHeadSize - 8] = {};
  bool head_known_ = false;
};

}  // namespace vez

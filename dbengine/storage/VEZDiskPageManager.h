// TVEZDiskPageManager: the page cache of a disk database over its one file.
// It owns the file (TVEZDatabaseFile), the in-memory copies of the header
// records, the free space manager and the table pages cache manager; turns
// page numbers into file offsets; reads and writes whole pages with a state
// counter; reads and writes page regions directly for the internal files;
// takes the single-byte file locks that coordinate processes; hands out
// object ids; and wraps every commit in the header protocol.
//
// A commit (ApplyChanges), and what a crash at each step leaves:
//   1. header lock taken; header re-read (counters of other processes).
//   2. header written with WriteChangesState 1. With durability off a crash
//      from here to step 5 leaves 1 on disk: every later open reports
//      RepairNeeded, and a marker found at a commit is kept (only a repair
//      clears it).
//   3. every dirty page written, each with its state raised.
//   4. pages the session removed released (state 0x7FFFFFFF written, free
//      space maps updated) - after the dirty pages, never before.
//   5. header written with State + 1 (wrapping) and WriteChangesState 2.
//   6. with full durability, the file synced.
//   7. header lock released (also when a step raises).
// Steps 2 to 5 are first gathered in memory, at every durability, with the
// old image of every region they touch; with durability full or normal the
// rollback journal (VEZRollbackJournal.h) receives those images and the CRC of
// each new image, and is synced (full) before the gathered writes reach the
// file in the order above; the journal is then invalidated. Old images come
// from memory where the file is known to hold them: the header just read under
// the lock, and the pages the last commit through this manager wrote, while
// the header's state shows no commit since
// (a torn commit undone meanwhile restored them with state + 2 only, which
// the undo of this journal adds again). A shrink the releases ask for is
// done after that: header first, then the truncation. Allocations and
// releases outside a commit (and file growth with them) and object ids are
// journaled the same way as small changes (with durability off they are still
// gathered first, without a journal, so a failure leaves none of them half
// done). A change that fails in
// this process after its writes began is undone at once from the images in
// memory; a commit undone so reports the storage as restored.
//
// Recovery: whenever this manager takes the header lock (at open too), a
// sound journal in the file is hot, since no live process holds the lock.
// Every journal names the database header as the change found it; one that
// does not fit the file beside it (another file's header or state, pages the
// file does not hold, records off the page boundaries) is dropped unapplied.
// When every region already holds its new image the change finished and the
// journal is only invalidated; otherwise the old images are written back
// (pages with their old state + 2, so no process trusts a copy cached from the
// torn change), the file is cut to its old size (never grown), synced, the
// journal is invalidated and the pages the torn commit added are released.
//
// Shrinking writes the header before it truncates, and growing sizes the
// file before the header counts the pages: a crash between leaves a file
// longer than its pages say, which opens; a shorter one is refused (10479).
//
// Multi-user: the header, tables, free-space and object-id bytes of the
// lock-byte area are locked per handle; the header lock is counted, so
// nested calls of one manager do not wait for themselves. Opened exclusively
// the database is single-user throughout.
//
// The reader's shortcut: every commit writes the header's commit state
// (WriteChangesState 1) before its first page and the raised State with
// WriteChangesState 2 after its last, so the pair (State, WriteChangesState)
// differs from any earlier value from the first byte a commit puts in the
// file until long after it returns. This manager maps the header read-only
// (a shared mapping, which Linux keeps coherent with every process's
// pwrite) and ReadChangeMark reads the pair with no system call. A reader
// that finds the pair as it was at its last full read bracket, with nothing
// of its own changed since, may skip the journal check and the reload of the
// table's most-updated state (the table data), and may answer moves from
// rows it read ahead in that bracket: no commit has reached the file since,
// so they are what the file holds, and a commit that has returned has left
// a new pair behind, so the very next move reads the file again and sees it,
// as a bracket per move would. A killed writer leaves WriteChangesState 1
// (a change, so readers take the full path, which recovers) or nothing in
// the file at all (nothing to see). Recovery may restore an earlier pair,
// but only with the images it had before the torn commit, which readers
// already hold. Without a mapping (a file system without descriptors, or
// the system refusing) the mark is never read and every bracket is full.
//
// With a password every page but the free-space maps and the direct-access
// internal files is stored with its data encrypted (the 40-byte header stays
// plain) and a CRC of the plain data in its header; the crypto header's
// control block proves the password at open (30445 when it is wrong).
//
// Not built yet: the design-time open-and-close.
//
// Thread safety: none of its own; callers hold the database data's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dbengine/foundation/VEZSecurity.h"
#include "dbengine/storage/VEZDBFileFormat.h"
#include "dbengine/storage/VEZDurability.h"
#include "dbengine/storage/VEZPageManager.h"
#include "platform/os/FileView.h"

namespace vez {

class TVEZDatabaseFile;
class TVEZDatabaseFreeSpaceManager;
class TVEZDiskTablePagesCacheManager;
class TVEZRollbackJournal;
struct TVEZJournalContents;

// The header's commit state as a reader compares it (see the head).
struct TVEZFileChangeMark {
  std::int32_t State = 0;
  std::uint8_t WriteChangesState = 0;
  bool operator==(const TVEZFileChangeMark&) const = default;
};

class TVEZDiskPageManager : public TVEZPageManager {
 public:
  TVEZDiskPageManager();
  // Closes the database; never throws.
  ~TVEZDiskPageManager() override;

  // Creates a new database file (replacing a file nobody holds) and leaves it
  // open, not shared; encrypted when the password text is not empty. Raises
  // 10461 when open, 10478 for a combination this build cannot code (no file
  // is made), 10480 for a page size not above 40 bytes or an extent of no
  // pages, the file errors of TVEZDatabaseFile.
  void CreateAndOpenDatabase(const std::string& database_file_name, const TVEZPassword& password,
                             std::uint16_t page_size, std::uint16_t extent_page_count);
  // Opens an existing file. read_only: in, and out when the file cannot be
  // written; repair_needed: out; multi_user: in, and out false when the file
  // carries the read-only attribute or exclusive is set. Raises 10462 when
  // open, 20230 when the header lock is not got, 10470 for a file without the
  // signature, 30445 for an encrypted file and a wrong password (10478 for a
  // stored combination this build cannot code), 20237 / 10480 / 10479 for damaged
  // header records or a file shorter than its pages. A failure after the file
  // was opened leaves it open for the caller to close.
  void OpenDatabase(const std::string& database_file_name, const TVEZPassword& password,
                    bool& read_only, bool& repair_needed, bool exclusive, bool& multi_user);
  // Writes a copy of the open database to dest_file_name (created or
  // replaced) whose pages are encrypted under new_password, or stored plain
  // when its text is empty; this file is not changed. Pages are moved as
  // whole pages in their order, so the copy keeps every page number. Raises
  // 30446 for a page in use that does not decode under the current password,
  // 10478 for a combination this build cannot code, the file errors of the
  // destination. The caller opens the source exclusively. progress, when
  // given, hears the percentage done (0 to 100) and answers whether to go on;
  // false stops the copy and answers false (the caller drops the copy).
  bool WriteRekeyedCopy(const std::string& dest_file_name, const TVEZPassword& new_password,
                        const std::function<bool(std::int32_t percent)>& progress = {});
  // Closes the file (swallowing a close error) and frees the free space
  // manager; does nothing when closed. Cached pages stay: a database is
  // opened again with a new manager.
  void CloseDatabase() noexcept;

  bool IsOpened() const;
  bool Encrypted() const { return header_.IsEncrypted(); }
  bool Exclusive() const { return exclusive_; }
  const TVEZPassword& Password() const { return password_; }
  TVEZDBHeader& DBHeader() { return header_; }
  const TVEZCryptoHeader& CryptoHeader() const { return crypto_header_; }
  TVEZDatabaseFile& DatabaseFile() { return *file_; }
  TVEZDatabaseFreeSpaceManager* FreeSpaceManager() { return free_space_manager_.get(); }
  TVEZDiskTablePagesCacheManager& TablePagesCacheManager() { return *table_pages_cache_; }
  std::int64_t OffsetToLockedBytes() const { return offset_to_locked_bytes_; }
  std::int64_t OffsetToFirstPage() const { return offset_to_first_page_; }
  std::int64_t OffsetToDBHeader() const { return offset_to_db_header_; }

  // Full is the default for disk databases (see VEZDurability.h).
  TVEZDurability GetDurability() const { return durability_; }
  TVEZDurability Durability() const { return durability_; }
  void SetDurability(TVEZDurability v) { durability_ = v; }
  // The next commit runs with full durability whatever the setting (a commit
  // that asks to flush the buffers); a commit with nothing to write forgets
  // the request as well.
  void RequestFullDurabilityForNextCommit() { full_durability_requested_ = true; }

  // The header's commit state, read through the mapped header without a
  // system call; false (mark untouched) when multi-user with no mapping, or
  // single-user (nothing else changes the file then).
  bool ReadChangeMark(TVEZFileChangeMark& mark) const;

  // Page cache operations.
  // Multi-user, the count is read from the file under the header lock (20236
  // when it is not got in time); single-user it is the header copy's.
  std::int32_t GetPageCount() override;
  // From the header copy; the header is re-read (under its lock) only for a
  // number at or past the count it gives. A count that another process has
  // lowered since is still believed: only a damaged page names such a page,
  // and reading it then fails.
  bool IsPageNoInStorage(std::int32_t page_no) override;
  bool IsPageSynchronized(std::int32_t session_id, TVEZPage* page) override;
  void MarkPageSynchronized(std::int32_t session_id, TVEZPage* page) override;
  // Both refuse a PFS or EAM page number (30434).
  TVEZPage* GetPage(std::int32_t session_id, std::int32_t page_no, std::uint16_t page_type,
                    bool synchronize_allowed) override;
  void RemovePage(std::int32_t session_id, std::int32_t page_no) override;
  // The cache's commit under the durability in force for it.
  void ApplyChanges(std::int32_t session_id) override;

  void InternalAddPage(TVEZPage* page) override;
  void InternalRemovePage(std::int32_t page_no) override;
  // Raises 20299 with the file's cause when the read fails.
  void InternalReadPage(TVEZPage* page) override;
  void InternalWritePage(TVEZPage* page) override;
  bool CanSynchronizePages() const override { return MultiUser(); }
  // After session_id's commit returned, with the table's write lock held all
  // along (no other session can have changed its pages meanwhile): the pages
  // the session checked under table state from_state, and those the commit
  // wrote, count as checked under to_state (the state the commit stored), so
  // its next change reads none of their states again. Nothing when the last
  // commit was another session's.
  void KeepStampsAfterOwnCommit(std::int32_t session_id, std::int32_t table_id,
                                std::int32_t from_state, std::int32_t to_state);
  bool ReadStoredPageState(std::int32_t page_no, std::int32_t& state) noexcept override;

  // Count bytes at offset of page page_no (header included), straight from or
  // to the file. Raise 10476 / 10477 past the page's end, 10474 / 10475 on a
  // file error.
  void ReadPageRegion(void* buffer, std::int32_t page_no, std::uint16_t offset,
                      std::uint16_t count);
  void WritePageRegion(const void* buffer, std::int32_t page_no, std::uint16_t offset,
                       std::uint16_t count);
  // The page's stored state; 0x7FFFFFFF when single-user or unreadable.
  std::int32_t InternalReadPageState(std::int32_t page_no);
  // Raises 20198 on a file error.
  void InternalWritePageState(std::int32_t page_no, std::int32_t page_state);
  // A fresh "VEZ1" page of type 1 written through InternalWritePage.
  void WriteEmptyPage(std::int32_t page_no);

  // Brings the file back to a consistent state when a journal left by a
  // process that died (or by a failed change of this one) is hot: when a
  // journal is there and the header lock is free, takes it (which recovers)
  // and lets it go; never waits. Nothing (no read) while the mapped header
  // shows no commit in progress: a reader needs no other recovery. Called by the table data when it
  // reloads a table's most-updated state; taking the header lock does it too. Raises the journal's
  // 10481 and the file errors of a recovery.
  void RecoverFromJournal();
  // How many torn changes recovery undid, and how many finished ones it found
  // with their journal still sound, since this manager was made (for tests
  // and the crash harness).
  std::int32_t RecoveredChanges() const { return recovered_changes_; }
  std::int32_t FinishedJournalsSeen() const { return finished_journals_seen_; }

  // File locks: true when the call succeeded. Each call tries once.
  bool LockFreeSpaceManager();
  bool UnlockFreeSpaceManager();
  bool LockTables();
  bool UnlockTables();
  bool LockDBHeader();
  bool UnlockDBHeader();
  bool LockLastObjectID();
  bool UnlockLastObjectID();
  bool LockPageByte(std::int32_t page_no, std::uint16_t offset);
  bool UnlockPageByte(std::int32_t page_no, std::uint16_t offset);
  bool IsPageByteLocked(std::int32_t page_no, std::uint16_t offset);
  bool IsPageRegionLocked(std::int32_t page_no, std::uint16_t offset, std::uint16_t count);
  std::int32_t LockDBHeaderCount() const { return lock_db_header_count_; }
  // Takes the header lock (counted, as LockDBHeader), waiting for another
  // holder as every lock of the file does: 4500 tries 20 ms apart. Raises
  // lock_error "Database is locked" when it is not got, and what recovery
  // raises. Every taker of the lock but RecoverFromJournal waits so.
  void WaitForDBHeaderLock(std::int32_t lock_error);

  // Object ids. The arguments have no effect (4500 tries 20 ms apart).
  std::int32_t GetNextObjectID(std::int32_t try_count = 4500, std::int32_t delay_ms = 20);
  void InitObjectID(std::int32_t try_count = 4500, std::int32_t delay_ms = 20);

  // File size, in pages.
  void ExtendFile(std::int32_t page_count);
  void TruncateFile(std::int32_t page_count);
  void TruncateDatabase();

  // Header records.
  void ReadDBHeader();
  void WriteDBHeader(bool check_state);
  void ReadCryptoHeader();
  // Decrypts the control block read from the file under the password and
  // the stored combination (which it copies into the password record).
  // Raises 30445 when its CRC does not match, 10478 for an unknown one.
  void CheckPassword();
  // Whether the page's data are stored encrypted.
  bool PageIsEncrypted(const TVEZPage* page) const;
  void WriteCryptoHeader();
  void ReadLockedBytes();
  void WriteLockedBytes();
  // Raises 10471 for -1.
  std::int64_t GetPageOffset(std::int32_t page_no) const;

 protected:
  // The header protocol around the page cache's commit (see the head of this
  // file).
  void BeforeCommitWrites(std::int32_t session_id, const TVEZCommitChanges& changes) override;
  void AfterCommitWrites(std::int32_t session_id, const TVEZCommitChanges& changes) override;
  TVEZFailedCommitStorage OnCommitFailed(std::int32_t session_id,
                                         const TVEZCommitChanges& changes) noexcept override;

 public:
  // Whether the file cannot be written; multi_user becomes false when it
  // carries the read-only attribute. Writes nothing.
  static bool IsFileReadOnly(const std::string& file_name, bool& multi_user);

 private:
  // A change gathered in memory before it reaches the file (see the head).
  struct Capture;

  void InitDBHeader();
  void SetPageGeometry(std::uint16_t page_size);
  // Raises 30379 when the folder's entries cannot be made durable.
  static void SyncFolderOf(const std::string& file_name);
  // File access through the change being gathered, when there is one.
  void FileRead(void* buffer, std::int64_t count, std::int64_t position, std::int32_t error_code);
  void FileWrite(const void* buffer, std::int64_t count, std::int64_t position,
                 std::int32_t error_code);
  void BlockOf(std::int64_t position, std::int64_t count, std::int64_t& start, std::int64_t& length,
               bool& is_page) const;
  void BeginCapture(bool is_commit, const std::vector<std::int32_t>* added_pages);
  // Journals and writes the gathered change. Raises what the journal or the
  // file raise; the capture then stays for AbandonCapture.
  void FinishCapture(TVEZDurability durability);
  // Drops a failed change: true when the file is as before it.
  bool AbandonCapture() noexcept;
  // Runs body (allocations, releases) as one small journaled change under the
  // header lock, or as part of the change being gathered.
  template <class Body>
  void RunAsSmallChange(std::int32_t lock_error, Body body);
  // Writes the old images of a journal back and cuts the file to its old
  // size (never growing it: images past its end are not written); raises the
  // file's errors.
  void RestoreFromJournal(const TVEZJournalContents& journal);
  bool JournalChangeFinished(const TVEZJournalContents& journal);
  // Whether the file is long enough for the pages header (found at
  // header_offset) counts.
  bool FileHoldsPagesOf(std::int64_t header_offset, const TVEZDBHeader& header);
  // The offset of page 0 for a header found at header_offset, from the sizes
  // of the crypto header and lock-byte area after it; false when they are
  // not a sound file's.
  bool FirstPageOffsetOf(std::int64_t header_offset, const TVEZDBHeader& header,
                         std::int64_t& first_page);
  // Whether a sound journal was written for the file beside it, as it is: its
  // header record's old image is a header of the journal's state, which the
  // file holds as found, marked in progress or as left; the old header's
  // pages lie in the file and within the journal's original size; page
  // records are whole pages on page boundaries, header-area records lie in
  // the header area, added pages were counted before.
  bool JournalFitsFile(const TVEZJournalContents& journal);
  void RecoverWhileLocked();
  void ReleaseRecoveredPages();
  // The journal's invalidation made durable before a write it does not cover.
  void SyncJournalInvalidation();
  // The same, only when the last journal named a byte of the range.
  void SyncJournalInvalidationOver(std::int64_t position, std::int64_t count);
  void ForgetStamps(std::int32_t page_no);
  // The images of the pages a commit wrote, kept as the old images of the
  // next commit while no other commit came between (header state unchanged).
  void KeepRecentImages(Capture& capture);
  const std::vector<std::uint8_t>* RecentImage(std::int64_t offset,
                                               std::int32_t header_state) const;
  void ForgetRecentImages() noexcept {
    recent_images_.clear();
    recent_pages_.clear();
  }
  void CheckHeaderRecords(const std::string& file_name);

  std::unique_ptr<TVEZDatabaseFreeSpaceManager> free_space_manager_;
  std::unique_ptr<TVEZDatabaseFile> file_;
  // The header's bytes, mapped while open multi-user.
  platform::FileView header_view_;
  TVEZDBHeader header_;
  TVEZCryptoHeader crypto_header_;
  TVEZPassword password_;
  // Scratch copy of a page whose data are encrypted on their way to the file.
  std::vector<std::uint8_t> crypt_buffer_;
  TVEZLockedBytes locked_bytes_;
  std::int32_t lock_db_header_count_ = 0;
  bool exclusive_ = false;
  std::unique_ptr<TVEZDiskTablePagesCacheManager> table_pages_cache_;
  std::unique_ptr<TVEZRollbackJournal> journal_;
  std::unique_ptr<Capture> capture_;
  // Pages added by a torn commit undone before the free space manager existed.
  std::vector<std::int32_t> pending_release_;
  // Added pages of a commit of this process whose own undo failed (its journal
  // stays hot, from header state kept_header_state_): the session still holds
  // them, so the recovery of that journal here leaves them taken.
  std::vector<std::int32_t> kept_added_pages_;
  std::int32_t kept_header_state_ = 0;
  // The file ranges [from, to) the last journal written names.
  std::vector<std::pair<std::int64_t, std::int64_t>> journal_regions_;
  bool recovering_ = false;
  std::int32_t recovered_changes_ = 0;
  std::int32_t finished_journals_seen_ = 0;
  std::int64_t offset_to_db_header_ = 0;
  std::int64_t offset_to_crypto_header_ = kDBHeaderSize;
  std::int64_t offset_to_locked_bytes_ = kDBHeaderSize + kCryptoHeaderSize;
  std::int64_t offset_to_last_object_id_ = kDBHeaderSize + kCryptoHeaderSize + kLockedByteSize;
  std::int64_t offset_to_first_page_ = kDBHeaderSize + kCryptoHeaderSize + kLockedByteSize + 4;
  TVEZDurability durability_ = TVEZDurability::Full;
  bool full_durability_requested_ = false;
  // The durability of the commit in progress.
  TVEZDurability commit_durability_ = TVEZDurability::Full;
  // Set while a commit holds the header lock, with what the header said.
  bool commit_holds_header_lock_ = false;
  bool commit_found_damage_ = false;
  // Per page number, the sessions that checked it and under which work table
  // (id and state). Dropped whenever the page's image is read, added or freed,
  // so a stamp never outlives the copy it was made for.
  struct Stamp {
    std::int32_t session_id;
    std::int32_t table_id;
    std::int32_t table_state;
  };
  std::unordered_map<std::int32_t, std::vector<Stamp>> stamps_;
  // Per (session, table): a run of the session's own commits took the table
  // from state base to state current; stamps made under base hold under
  // current (see KeepStampsAfterOwnCommit).
  struct OwnCommits {
    std::int32_t base;
    std::int32_t current;
  };
  std::map<std::pair<std::int32_t, std::int32_t>, OwnCommits> own_commits_;
  // The pages the last commit wrote, and whose commit it was.
  static constexpr std::int32_t kNoCommitSession = -3;
  std::int32_t last_commit_session_ = kNoCommitSession;
  std::vector<std::int32_t> last_commit_pages_;
  // See KeepRecentImages: by file offset, and the header state they hold at.
  std::map<std::int64_t, std::vector<std::uint8_t>> recent_images_;
  std::int32_t recent_images_state_ = 0;
  std::vector<std::int32_t> recent_pages_;
};

}  // namespace vez

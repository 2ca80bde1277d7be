// TVEZDiskTableData: the shared state of one table of a database file, one
// object per table per open database, used by every cursor of the process that
// opens the table. Beside the base's managers it keeps the table's three
// internal files, its record and BLOB managers on the database's pages, the
// most-updated state that keeps processes in step, and the door to the table
// and record locks of the database's lock manager.
//
// In the database file each table has a catalogue entry (name, id, the first
// pages of the three files below), its record and BLOB pages with their page
// indexes, its index pages, and:
//   - the metadata file (transacted, page type 8, stored ZLIB-compressed):
//     field defs, index defs (permanent only), constraint defs, Int32 root
//     of the record page index, Int32 root of the BLOB page index;
//   - the most-updated file (transacted, page type 9, uncompressed), 12 + 8 N
//     bytes for N fields, little-endian: Int32 N | N x Int64 last
//     autoincrement value | Int32 table state | Int32 record count (low half);
//   - the lock-byte file (direct, page type 7, TVEZTableLocksFile).
// Every change of a record moves the table state on and rewrites the
// most-updated file, so another process or session that reloads it sees that
// its cached pages of this table may be stale.
//
// Multi-user reads (GetRecordBuffer, Locate, FindKey, the record numbers and
// the record count) hold ltS on the table and reload the most-updated state
// first. Inserts, updates and deletes go through the base's record change
// (VEZTableData.h): a post takes ltRW (ltXIRW in a transaction, kept until it
// ends), and every change reloads the most-updated state and brings the
// session's temporary indexes in step before it begins. Single-user they
// touch no lock byte and never reload.
//
// Two shortcuts rest on the file's change mark (VEZDiskPageManager.h): a
// reload (a read bracket's, or a post's under ltRW) whose mark equals the one
// of the last load by the same session, with the counters as then loaded,
// keeps them instead of reading the block again (a session's own commit
// counts as such a load, since it holds ltRW until after it); and a move that
// goes on in the direction of the last one is answered, with no lock, from
// rows read ahead in that move's bracket while the mark is still the one of
// that bracket. Any change here (a post, a commit, a rollback, another
// session's reload) drops both.
//
// Failure: an insert, update or delete that fails (raises, or the record
// manager refuses) leaves nothing of itself, in a transaction as well as
// outside one: its record, BLOB, index and most-updated pages go back to the
// savepoint it opened on the database's and the temporary page managers, the
// counters it moved come back, and BLOB values it stored from the cursor's
// buffer wait there again, pending.
//
// Ownership: the database data owns this object; this object owns its
// managers, the internal file objects and the temporary page manager that
// holds the pages of temporary indexes. The managers and files exist while at
// least one cursor has the table open; CloseTable frees them with the last.
//
// Thread safety: the database data's lock (Lock/Unlock) guards every
// operation; the lock manager's own lock is taken inside it, never around it.
// GetRecordBuffer and the BLOB stream operations rely on the cursor holding
// the table lock as well; a record change through PostRecord takes the
// table's write lock itself, while InsertRecord, UpdateRecord and
// DeleteRecord rely on the caller holding it.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "dbengine/storage/VEZDiskBlobManager.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "dbengine/storage/VEZDiskRecordManager.h"
#include "dbengine/storage/VEZInternalDBFile.h"
#include "dbengine/storage/VEZTableData.h"
#include "dbengine/storage/VEZTableLocksFile.h"
#include "dbengine/storage/VEZTemporaryPageManager.h"

namespace vez {

class TVEZDiskDatabaseData;
class TVEZDiskPageManager;
class TVEZDiskTablePagesCacheManager;

class TVEZDiskTableData : public TVEZTableData {
 public:
  // Lock waits of the table's own operations.
  static constexpr std::int32_t kOpenLockTryCount = 50;
  static constexpr std::int32_t kOpenLockDelayMS = 100;
  static constexpr std::int32_t kReadLockTryCount = 2250;
  static constexpr std::int32_t kReadLockDelayMS = 40;
  static constexpr std::int32_t kWriteLockTryCount = 2250;
  static constexpr std::int32_t kWriteLockDelayMS = 40;

  // database_data is a TVEZDiskDatabaseData whose page manager is open.
  explicit TVEZDiskTableData(TVEZDatabaseData* database_data);
  // Frees the index manager, the BLOB manager and the temporary page manager
  // first (they borrow the others), then the base frees the rest.
  ~TVEZDiskTableData() override;

  // ---- Virtual operations of the table data.

  // A TVEZDiskRecordManager sized from the field defs (20174 when a record
  // does not fit a page; 20142 without fields).
  void CreateRecordManager() override;
  void CreateFieldManager(TVEZFieldDefs& field_defs) override;
  // A new temporary page manager comes with the new index manager.
  void CreateIndexManager(TVEZIndexDefs& index_defs) override;
  // 30040 for a foreign key or unknown constraint type.
  void CreateConstraintManager(TVEZConstraintDefs& constraint_defs) override;
  // Always the temporary page manager's step, then the base step; a failure
  // to write the temporary indexes' pages leaves them the session's for the
  // next apply and is not reported (they are this process's own copy).
  void ApplyChanges(std::int32_t session_id, bool in_transaction) override;
  void CancelChanges(std::int32_t session_id, bool in_transaction) override;
  // 20128 without fields. Writes the table's files and its catalogue entry
  // as the engine's session -2; a failure drops every page change of that
  // session and leaves no entry and no managers.
  void CreateTable(TVEZCursor* cursor, TVEZFieldDefs& field_defs, TVEZIndexDefs& index_defs,
                   TVEZConstraintDefs& constraint_defs) override;
  // Opens the table exclusively for cursor, gives back every page of the
  // table and removes its catalogue entry (also when a step fails).
  void DeleteTable(TVEZCursor* cursor, bool design_mode) override;
  // Opens the table exclusively for cursor and drops every record, BLOB and
  // index entry; the table state, record count and autoincrement counters
  // start again.
  void EmptyTable(TVEZCursor* cursor) override;
  // Refused (20242, 20208) while another cursor has the table open; the
  // catalogue entry takes the new name, this object keeps the old one.
  void RenameTable(const std::string& new_table_name, TVEZCursor* cursor) override;
  // The first cursor loads the table from the file; 20242 for an exclusive
  // cursor while others have it open; 20208 / 20209 when the ltX / ltIS
  // lock is refused (the cursor is then not listed).
  void OpenTable(TVEZCursor& cursor) override;
  void CloseTable(TVEZCursor& cursor) override;
  void RenameField(const std::string& field_name, const std::string& new_field_name) override;
  // A failure leaves the table without the index, in memory and on file.
  void AddIndex(TVEZIndexDef& index_def, TVEZCursor* cursor) override;
  // A temporary index's removal does not rewrite the metadata.
  void DeleteIndex(std::int32_t index_id, TVEZCursor* cursor) override;
  std::int64_t GetApproximateRecordCount(std::int32_t session_id) override;
  std::int64_t RecordIDToApproximateRecNo(TVEZPageItemID record_id) override;
  TVEZPageItemID ApproximateRecNoToRecordID(std::int64_t value) override;
  void ClearBlobsCacheInRecordBuffer(std::uint8_t* record) override;
  // Multi-user: grrError when ltS is refused.
  TVEZGetRecordResult GetRecordBuffer(TVEZCursor& cursor, TVEZGetRecordMode mode) override;
  // Multi-user: 20214 / 20215 "Table is locked" when ltS is refused.
  bool Locate(TVEZCursor& cursor, TVEZBaseExpression* search_expression) override;
  bool FindKey(TVEZCursor& cursor, TVEZSearchCondition search_condition) override;
  void WriteBLOBFieldToRecordBuffer(TVEZCursor& cursor, std::int32_t field_no,
                                    TVEZStream& blob_stream) override;
  void ClearBLOBFieldInRecordBuffer(std::uint8_t* record, std::int32_t field_no) override;
  // 20149 for a field whose block size is 0, 20248 for a stored negative
  // size.
  std::unique_ptr<TVEZStream> InternalCreateBlobStream(TVEZCursor& cursor, bool to_insert,
                                                       std::int32_t field_no,
                                                       TVEZBLOBOpenMode open_mode) override;
  // data points into the field's cache in record (kept by it).
  void GetDirectBlobData(TVEZCursor& cursor, std::int32_t field_no, std::uint8_t* record,
                         TVEZPartialTemporaryBLOBDescriptor& descriptor,
                         std::uint8_t*& data) override;
  void SetDirectBlobData(TVEZCursor& cursor, std::int32_t field_no, std::uint8_t* record,
                         TVEZPartialTemporaryBLOBDescriptor& descriptor,
                         std::uint8_t*& data) override;
  void FreeDirectBlobData(TVEZCursor& cursor, std::int32_t field_no, std::uint8_t* record,
                          TVEZPartialTemporaryBLOBDescriptor& descriptor,
                          std::uint8_t*& data) override;
  // Multi-user: 20216, 20217, 20219, 20220, 20218 when ltS is refused.
  void SetRecNo(TVEZCursor& cursor, std::int64_t rec_no) override;
  std::int64_t GetRecNo(TVEZCursor& cursor) override;
  // Multi-user: a restricted view is counted inside one read bracket, so the
  // cached pages are checked against the file once, not on every page read.
  std::int64_t GetRecordCount(TVEZCursor& cursor) override;
  void InternalSetRecNo(TVEZCursor& cursor, std::int64_t rec_no) override;
  std::int64_t InternalGetRecNo(TVEZCursor& cursor) override;
  std::int64_t InternalGetRecordCount(TVEZCursor& cursor) override;
  std::int64_t LastAutoincValue(std::int32_t field_no, TVEZBaseSession* session) override;
  // The committed most-updated state again, and the session's temporary
  // indexes in step; nothing while the table is closed.
  void Rollback(std::int32_t session_id) override;

  // ---- Operations of the disk table.

  // Frees this object (through its database data) when no cursor has the
  // table open; true when it did. The pointer dangles afterwards.
  bool FreeIfNoCursorsConnected();
  // Frees the BLOB caches of every BLOB field of record, modified ones too
  // (a cancelled edit).
  void ClearModifiedBLOBFieldsInRecordBuffer(std::uint8_t* record);
  // Reads the most-updated state (autoincrement counters, table state, record
  // count). 20176 while the table is closed; 20164 for a block whose size or
  // field count does not match the table (nothing changes then).
  void LoadMostUpdated(std::int32_t session_id);

  // The table's locks. In a database that is not multi-user they do nothing
  // and answer true (IsRecordLocked too: every record counts as locked).
  bool LockTable(std::int32_t session_id, TVEZLockType lock_type, std::int32_t try_count,
                 std::int32_t delay, bool allow_xirw_after_sirw);
  bool UnlockTable(std::int32_t session_id, TVEZLockType lock_type, bool ignore_if_no_lock);
  bool LockRecord(std::int32_t session_id, TVEZPageItemID record_id, std::int32_t try_count,
                  std::int32_t delay);
  bool UnlockRecord(std::int32_t session_id, TVEZPageItemID record_id);
  bool IsRecordLocked(std::int32_t session_id, TVEZPageItemID record_id);

  std::int32_t TableID() const { return FTableID; }
  bool Exclusive() const { return FExclusive; }
  std::int32_t LastUsedTableState() const { return FLastUsedTableState; }
  bool IsOpen() const { return FTableMostUpdatedFile != nullptr; }
  TVEZDiskRecordManager* DiskRecordManager() const;
  TVEZDiskBlobManager* BlobManager() const { return FBlobManager.get(); }
  TVEZTemporaryPageManager* TemporaryPageManager() const { return FTemporaryPageManager.get(); }
  // First pages of the metadata, most-updated and lock-byte files (-1 closed).
  std::int32_t MetadataFilePageNo() const;
  std::int32_t MostUpdatedFilePageNo() const;

 protected:
  std::unique_ptr<TVEZBaseIndexManager> NewIndexManager() override;

  // Hooks of the base's record change.
  //
  // 20135 / 20136 (insert), 20138 / 20139 (update), 20137 (delete) without
  // record manager or record buffer.
  bool CanChangeRecord(TVEZCursor& cursor, TVEZRecordChange change) override;
  // ltRW, or ltXIRW in a transaction (released when the transaction ends).
  bool LockForChange(TVEZCursor& cursor) override;
  void UnlockAfterChange(TVEZCursor& cursor) noexcept override;
  // Multi-user: the most-updated state, and the session's temporary indexes
  // in step.
  void ReloadSharedState(TVEZCursor& cursor) override;
  // Pending BLOB caches of the buffer become stored values (their caches stay
  // until the change succeeded); a delete frees the stored record's values.
  void StoreBlobs(TVEZCursor& cursor, TVEZRecordChangeContext& context) override;
  // Writes the most-updated state.
  void SaveSharedState(TVEZCursor& cursor) override;
  void UndoRecordChange(TVEZCursor& cursor,
                        const TVEZRecordChangeContext& context) noexcept override;
  void FinishRecordChange(TVEZCursor& cursor, TVEZRecordChangeContext& context) noexcept override;

 private:
  TVEZDiskDatabaseData& DiskDatabase() const;
  TVEZDiskPageManager& DiskPageManager() const;
  TVEZDiskTablePagesCacheManager& PagesCache() const;
  bool MultiUser() const;

  void CreateInternalFiles();
  void OpenInternalFiles(std::int32_t metadata_file_page_no, std::int32_t most_updated_file_page_no,
                         std::int32_t locks_file_page_no);
  void DeleteInternalFiles();
  void FreeInternalFiles();
  // Frees every manager (the state of a closed table).
  void FreeManagers();
  std::int32_t GetDiskRecordBufferSize() const;
  void CreateBlobManager();
  void LoadTableMetadata(std::int32_t session_id);
  void SaveTableMetadata(std::int32_t session_id);
  void InitTableMostUpdated(std::int32_t session_id);
  void SaveTableMostUpdated(std::int32_t session_id);
  // The most-updated block of the counters as they are; its size.
  std::int32_t EncodeMostUpdated(std::vector<std::uint8_t>& buffer) const;
  // Whether the counters are still the state loaded (or committed) by
  // session_id at the file's current change mark; reads the mark (marked:
  // whether there is one).
  bool LoadedStateHolds(std::int32_t session_id, TVEZFileChangeMark& mark, bool& marked);
  // The counters are the table's state as of mark, for session_id.
  void NoteLoadedState(std::int32_t session_id, const TVEZFileChangeMark& mark);
  void RepairRecordPageIndex(std::int32_t session_id);
  void LoadMostUpdatedOrRepair(TVEZCursor& cursor);
  // Drops the session's changes (outside a transaction) and reloads the
  // most-updated state after a failed EmptyTable; raises nothing.
  void UndoFailedChange(TVEZCursor& cursor) noexcept;
  // Takes an index whose addition failed out of the index and constraint
  // managers again; raises nothing.
  void UndoAddedIndex(TVEZIndexDef& index_def, TVEZCursor* cursor) noexcept;
  // Multi-user read: ltS (lock_error when refused, 0: answer grrError),
  // the most-updated state, the pages cache's work table (begin_work) and
  // the temporary indexes (synchronize), then read(); unlocked afterwards.
  template <typename R, typename F>
  R ReadBracket(TVEZCursor& cursor, std::int32_t lock_error, bool begin_work, bool synchronize,
                F&& read);
  // The counters may no longer be the state loaded at the last mark: the
  // next bracket reloads, and every row read ahead is dropped.
  void ForgetLoadedState();
  // In a bracket, after the move in mode that left the cursor on a record:
  // reads the rows the next moves in that direction would give.
  void ReadAhead(TVEZCursor& cursor, TVEZGetRecordMode mode) noexcept;
  // Answers a move from the rows read ahead: true when it did (the cursor is
  // then on the next row), false when the move must read the file.
  bool MoveFromReadAhead(TVEZCursor& cursor, TVEZGetRecordMode mode);

  std::int32_t FTableID = 0;
  std::unique_ptr<TVEZTableLocksFile> FTableLocksFile;
  std::unique_ptr<TVEZInternalDBTransactedAccessFile> FTableMetadataFile;
  std::unique_ptr<TVEZInternalDBTransactedAccessFile> FTableMostUpdatedFile;
  std::unique_ptr<TVEZDiskBlobManager> FBlobManager;
  std::unique_ptr<TVEZTemporaryPageManager> FTemporaryPageManager;
  bool FExclusive = false;
  bool FIsChangingTableList = false;
  std::int32_t FLastUsedTableState = -1;
  // The change mark of the file when the counters were last loaded, and for
  // which session; valid only while nothing changed the counters since.
  bool FLoadedStateValid = false;
  std::int32_t FLoadedStateSession = 0;
  TVEZFileChangeMark FLoadedStateMark;
  // The counters' block as loaded, to tell a change made without a post.
  std::vector<std::uint8_t> FLoadedBlock;
  // Set from LockForChange to UnlockAfterChange outside a transaction: the
  // change works with this table (its pages' stamps count), and its commit
  // keeps them (TVEZDiskPageManager::KeepStampsAfterOwnCommit).
  bool FChangeWork = false;
  std::int32_t FChangeWorkSession = 0;
  // Rows read ahead for one cursor (see the head).
  struct TReadAhead {
    std::int32_t SessionID = 0;
    TVEZFileChangeMark Mark;
    TVEZGetRecordMode Mode = grmNext;
    std::int32_t IndexID = -1;
    // Where the cursor stands when the next row follows.
    TVEZPageItemID AtRecordID;
    bool AtFirst = false;
    bool AtLast = false;
    std::int32_t RecordSize = 0;
    std::vector<TVEZPageItemID> RecordIDs;
    std::vector<std::uint8_t> Records;
    std::size_t Next = 0;
    // How many rows the next bracket reads ahead.
    std::size_t Depth = 0;
  };
  std::unordered_map<const TVEZCursor*, TReadAhead> FReadAhead;
  // The most-updated block as it is written or read, kept between posts.
  std::vector<std::uint8_t> FMostUpdatedScratch;
};

// Whether a failure to load a table's stored state says the stored bytes are
// damaged, which a repair open mends by rebuilding them from the record
// pages. The storage failing to serve sound bytes is no damage and passes on:
// an I/O error, a lock another user holds, memory running out, a closed file.
bool IsStoredDataDamage(const std::exception& e) noexcept;

}  // namespace vez

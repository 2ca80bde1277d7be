// TVEZLocalCursor: the in-process cursor, the one way the dataset components
// and the SQL engine reach the rows of a table. It binds to the shared state
// of one table (TVEZTableData) in the database its session is connected to
// (TVEZLocalSession), forwards row, index and BLOB work to it, and adds what
// belongs to one user of the table: the record buffer layout, the lock
// protocol of multi-user databases, the re-read checks that catch changes
// made by other processes, and the result codes of the record operations.
//
// Record buffer layout (InternalInitFieldDefs, from the table's fields after
// RecalcFieldOffsets):
//   [null bitmap][field values at their MemoryOffset][bookmark: 7 bytes]
// BookmarkOffset = end of the last field (0 without fields); the bookmark is
// the record's page number (Int32), item number (UInt16) and a flag byte.
// KeyOffset = BookmarkOffset, KeyBufferSize = BookmarkOffset + 6,
// RecordSize = RecordBufferSize = CalculatedFieldsOffset = BookmarkOffset + 7.
// A size that does not fit an Int32 raises the integer-overflow error.
// The dataset writes the bookmark of the records it reads; post and delete
// take the record to change from the bookmark of CurrentRecordBuffer.
//
// Record operations (InternalEdit, InternalPost, InternalDelete,
// InternalCancel) never raise for a refused or failed change: they leave a
// result code in ErrorCode (TVEZCursorErrorCode; -8 with its text in
// ErrorMessage), which the dataset turns into EVEZEngineError. On a disk
// table of a multi-user session:
// - an edit takes ltSIRW (ltXIRW in a transaction) and the record's lock and
//   re-reads the record; both locks stay until the post or cancel of that
//   edit. A failed edit gives back only the locks it took itself.
// - a post takes ltRW (ltXIRW in a transaction), up to 2250 tries 40 ms
//   apart, and a delete up to 900 tries 100 ms apart, leaving the table
//   data's lock while they sleep; a delete also locks the record. Outside a
//   transaction the write lock goes before they return; ltXIRW stays with
//   the transaction.
// - a post that fails with -8 keeps the edit's locks, so the corrected
//   record can be posted again.
// Every wait goes through the installed clock (platform Clock.h).
// Each stored change is one call of the table data's record-change routine
// (TVEZTableData::PostRecord), which leaves nothing of a failed change.
//
// Ownership: the cursor owns its record bitmap, index position cache,
// dataset filter expression and open BLOB streams. The buffers named by
// CurrentRecordBuffer and EditRecordBuffer are the caller's (a dataset points
// them at its own buffers); the cursor never frees them.
//
// Thread safety: a cursor is used by one thread at a time. The table data's
// lock (the database data's critical section) is shared by every cursor of
// the database; record operations hold it throughout, except while the post
// and delete retry loops sleep.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZKeyPath.h"
#include "dbengine/storage/VEZRecordBitmap.h"
#include "dbengine/storage/VEZTableData.h"

namespace vez {

class TVEZDatabaseData;
class TVEZDiskTableData;
class TVEZTableData;

class TVEZLocalCursor : public TVEZCursor {
 public:
  // The waits of the lock protocol (the lock manager sleeps between its own
  // tries; the post and delete loops sleep here).
  static constexpr std::int32_t kEditLockTryCount = 900;
  static constexpr std::int32_t kEditLockDelayMS = 100;
  static constexpr std::int32_t kRecordLockTryCount = 15;
  static constexpr std::int32_t kRecordLockDelayMS = 100;
  static constexpr std::int32_t kPostLockTryCount = 2250;
  static constexpr std::int32_t kPostLockSleepMS = 40;
  static constexpr std::int32_t kDeleteLockTryCount = 900;
  static constexpr std::int32_t kDeleteLockSleepMS = 100;
  static constexpr std::int32_t kBlobLockTryCount = 2250;
  static constexpr std::int32_t kBlobLockDelayMS = 40;
  // Bookmark area: record id (6 bytes) and the flag byte.
  static constexpr std::int32_t kBookmarkSize = TVEZPageItemID::kSize + 1;
  // The bookmark flag of a record the cursor has just inserted.
  static constexpr std::uint8_t kInsertedRecordFlag = 3;

  // Unbound: no table data, IndexID -1, no filters, no record bitmap; its
  // own index position cache.
  TVEZLocalCursor();
  // CloseTable; errors are dropped.
  ~TVEZLocalCursor() override;

  // Binds the cursor to table_data, an existing table (an index build reads
  // the table through a cursor): under the database lock the table data opens
  // the table for it; then the cursor stands before the first record, copies
  // the index defs, lays out its record buffers and makes its record bitmap.
  void OpenTable(TVEZTableData& table_data);

  // The bound table data (null while unbound) and its database.
  TVEZTableData* TableData() const { return FTableData; }
  TVEZDatabaseData* DatabaseData() const { return FDatabaseData; }
  // Whether an edit of this cursor holds its locks (multi-user disk tables).
  bool HoldsEditLocks() const { return FEditLocks.TableLocked || FEditLocks.RecordLocked; }

  // ---- TVEZCursor (see VEZCursor.h for the shared contracts).

  // Under the database lock: an existing table of this name is dropped
  // first; the table data creates the table (20151 when none can be made).
  // The cursor is unbound afterwards, also on an error.
  void CreateTable(TVEZFieldDefs& field_defs, TVEZIndexDefs& index_defs,
                   TVEZConstraintDefs& constraint_defs) override;
  // 20132 when the table does not exist; the session's named objects of its
  // columns go with it.
  void DeleteTable() override;
  // 20133 when the table does not exist.
  void EmptyTable() override;
  // 20134 when the table does not exist; 30451 when another table has the new
  // name; 30452 for exactly the same name (another letter case is a rename).
  void RenameTable(const std::string& new_table_name) override;
  // Copies the field defs (visible ones too, unless a projection is being
  // set) and the constraint defs from the table, then lays out the buffers.
  void InternalInitFieldDefs() override;
  // Nothing when open. Finds the table's data; a disk database makes it, a
  // memory or temporary one raises 10028 when the table does not exist.
  // Then opens it as OpenTable does, with InternalInitFieldDefs.
  void OpenTableByFieldDefs(TVEZFieldDefs& field_defs, TVEZIndexDefs& index_defs,
                            TVEZConstraintDefs& constraint_defs) override;
  // Unbinds; frees the record bitmap, the dataset filter, the defs and every
  // BLOB stream (open write streams are dropped, not stored). An edit's
  // locks still held are given back.
  void CloseTable() override;
  void LockTableData() override;
  void UnlockTableData() override;
  // Under the table data's lock. Unbound: 20221 / 20222. Tables that are not on
  // disk: true.
  bool LockTable(TVEZLockType lock_type, std::int32_t try_count, std::int32_t delay,
                 bool allow_xirw_after_sirw) override;
  bool UnlockTable(TVEZLockType lock_type, bool ignore_if_no_lock) override;
  // The table's field (the caller reopens the table).
  void RenameField(const std::string& field_name, const std::string& new_field_name) override;
  // The index manager's defs, refreshed.
  TVEZIndexDefs* GetIndexDefs() override;
  // 20022 when the name is taken. The index and constraint defs are
  // refreshed afterwards.
  void AddIndex(TVEZIndexDef& index_def) override;
  // 20021 when there is no index of that name.
  void DeleteIndex(const std::string& name) override;
  void DeleteAllIndexes() override;
  // A name of a visible column (a projection's alias) stands for its
  // physical column: the lists are translated before the table data looks.
  std::string FindOrCreateIndex(const std::vector<std::string>& field_names,
                                const std::vector<std::string>& asc_desc_list,
                                const std::vector<std::string>& case_sensitivity_list,
                                bool& is_created) override;
  bool IndexExists(const std::vector<std::string>& field_names,
                   const std::vector<std::string>& asc_desc_list,
                   const std::vector<std::string>& case_sensitivity_list) override;
  // 10501 / 10502 for field numbers out of range. A NULL source makes the
  // destination NULL; equal types and sizes copy bytes; BLOBs move as their
  // stored form; anything else converts through a value.
  void CopyFieldValue(std::int32_t src_field_no, bool direct_access, std::int32_t dest_field_no,
                      TVEZCursor* dest_cursor) override;
  void InternalInitRecord(std::uint8_t* record_buffer, bool insert_mode) override;
  // Gives the BLOB caches of the buffer back to the table first.
  void FreeRecordBuffer(std::uint8_t*& buffer) override;
  std::int64_t GetRecordCount() override;
  TVEZGetRecordResult GetRecordBuffer(TVEZGetRecordMode get_record_mode = grmCurrent) override;
  void SetRecNo(std::int64_t value) override;
  std::int64_t GetRecNo() override;
  // In the current index, then by page and item number. A record that
  // cannot be read orders first (record_id1) or last (record_id2). The
  // position and CurrentRecordBuffer are kept.
  std::int32_t CompareRecordsOrder(const TVEZPageItemID& record_id1,
                                   const TVEZPageItemID& record_id2) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalInsert() override;
  // -9 on a temporary table; -13 / -12 when the table or record lock is
  // refused; -6 / -4 when the record is gone or was changed (the caller's
  // image is put back).
  void InternalEdit() override;
  // Closes the open write streams into the record, drops BLOB values the
  // record holds but does not store, and gives back an edit's locks.
  void InternalCancel(bool to_insert) override;
  // -13 when the write lock is refused; -8 with the text of the engine error
  // raised by the change (autoincrement, constraint, or the store itself;
  // nothing of the change is left); -1 / -2 when the table refused it;
  // -6 / -4 when the edited record is gone or was changed by another
  // process. An insert writes the record id and flag 3 into the bookmark,
  // also when the table refused it.
  void InternalPost(bool to_insert) override;
  // -13 / -12 when the write or record lock is refused; -10 on a temporary
  // table; -7 / -5 when the record is gone or its values changed; -3 when
  // the table refused it.
  void InternalDelete() override;
  bool IsRecordLocked() override;
  void ApplyDistinct(const std::vector<std::string>& field_names,
                     const std::vector<std::string>& asc_desc_list,
                     const std::vector<std::string>& case_sensitivity_list) override;
  // The filter, locate and match-condition expressions come from the
  // registered expression factory (the SQL engine); without one these raise
  // 30058. A filter that does not parse raises and leaves the old filter.
  void ActivateFilters(const std::string& filter_text, bool case_insensitive,
                       bool partial_key) override;
  void DeactivateFilters() override;
  bool Locate(const std::string& key_fields, const platform::Variant& key_values,
              bool case_insensitive, bool partial_key) override;
  bool FindKey(TVEZSearchCondition search_condition) override;
  bool IsAnyRecordMatchCondition(const std::string& field_name, TVEZDataOperator data_operator,
                                 const TVEZVariant& value) override;
  // Null when a multi-user disk table refuses its shared lock (ltS) or the
  // current record cannot be read again before the first stream opens; the
  // caller decides what a null stream means. 10110 for a field number out
  // of range; 10115 for a second write stream on one field (read streams may
  // be opened beside it).
  TVEZStream* InternalCreateBlobStream(bool to_insert, bool to_edit, std::int32_t field_no,
                                       TVEZBLOBOpenMode open_mode,
                                       bool can_do_get_record_buffer) override;
  // 10118 for a field number out of range.
  void InternalCloseBLOB(std::int32_t field_no) override;
  // Closes the streams in list order; write streams are stored into
  // CurrentRecordBuffer as InternalCloseBLOB stores them.
  void ClearBLOBStreams(bool write_only) override;
  std::int64_t LastAutoincValue(std::int32_t field_no) override;
  void BeginBatchUpdate() override;
  void EndBatchUpdate() override;
  void CancelBatchUpdate() override;
  bool CheckConstraints(bool to_insert) override;

 private:
  // The locks a successful edit holds until its post or cancel.
  struct TEditLocks {
    bool TableLocked = false;
    TVEZLockType TableLockType = ltSIRW;
    bool RecordLocked = false;
    TVEZPageItemID RecordID;
  };

  // The session's database data (20151 when the session has none).
  TVEZDatabaseData& SessionDatabase();
  // The bound table data; native when unbound.
  TVEZTableData& Bound(std::int32_t native) const;
  TVEZDiskTableData* DiskTable() const;
  bool IsMultiUserDisk() const;
  bool IsTemporaryTable() const;
  bool InTransaction() const;
  std::int32_t SessionID() const;
  // Shared steps of OpenTable and OpenTableByFieldDefs after the table data
  // opened the table for this cursor.
  void FinishOpen();
  // CloseTable for the destructor: errors are dropped and the cursor ends
  // unbound.
  void CloseQuietly() noexcept;
  // Record id in the bookmark of CurrentRecordBuffer.
  TVEZPageItemID BookmarkRecordID() const;
  void WriteInsertBookmark();
  // Reads the current record again into CurrentRecordBuffer (position flags
  // kept).
  TVEZGetRecordResult ReReadCurrent();
  // Table lock of lock_type for a post or delete: try_count single tries,
  // sleeping sleep_ms with the table data's lock left between them.
  bool LockTableForChange(TVEZLockType lock_type, std::int32_t try_count, std::int32_t sleep_ms);
  bool LockRecord(TVEZPageItemID record_id, std::int32_t try_count, std::int32_t delay);
  void UnlockRecord(TVEZPageItemID record_id);
  // Gives back an edit's locks: the record lock and an ltSIRW (an ltXIRW
  // stays with the transaction until it ends).
  void ReleaseEditLocks();
  // The change as one call of the table data's record-change routine; an
  // engine error raised by it becomes -8 with its text.
  std::int32_t ChangeRecord(TVEZRecordChange change);
  // Closes FBLOBStreams[index]: a write stream is stored into the record;
  // an unmodified stream on a disk table drops the field's cache.
  void CloseBLOBStream(std::size_t index);
  // Physical names for visible (aliased) ones.
  std::vector<std::string> TranslateFieldNames(const std::vector<std::string>& field_names) const;
  void RefreshIndexAndConstraintDefs();
  // A new expression of the registered factory (30058 without one).
  static std::unique_ptr<TVEZBaseExpression> NewExpression();

  TVEZTableData* FTableData = nullptr;
  TVEZDatabaseData* FDatabaseData = nullptr;
  TVEZIndexPositionCache FPositionCache;
  std::unique_ptr<TVEZRecordBitmap> FRecordBitmap;
  std::unique_ptr<TVEZBaseExpression> FFilterExpression;
  TEditLocks FEditLocks;
};

}  // namespace vez

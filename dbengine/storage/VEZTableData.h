// TVEZTableData: the state of one open table, shared by every cursor that has
// the table open: its field, index, constraint and record managers, the page
// manager that holds its index pages, and the list of its cursors. The
// session layer's cursor reads and changes the table through the virtual
// operations below; this base implements the ones that do not depend on where
// records live, and each engine (disk, memory, temporary) supplies the rest.
//
// Building a table, in every engine: TableName, then CreateFieldManager,
// CreateIndexManager, CreateConstraintManager, CreateRecordManager (the record
// manager last, because its record size comes from the field manager; the
// constraints after the fields and indexes, because linking them needs their
// ids). Object ids come from the database data, so every def of a database
// has its own id, across tables too.
//
// Ownership: the database data owns the table data (VEZDatabaseData.h); the
// table data owns its four managers; the cursors in CursorList are not owned.
//
// What the engines must still supply: the record manager, CreateTable, the
// record-number mapping of record bitmaps, BLOB storage and the hooks of a
// record change (see "Record changes" below), and storage-order record
// numbers and counts; the disk engine also wraps reads in its multi-user
// bracket. Restricted views (filters, ranges, distinct), Locate and FindKey go
// through the search engine of this base (VEZTableDataSearch.cpp): the
// restrictions become scan conditions, conditions on one index are merged,
// the cheapest scan is chosen (an index range or the whole table) and each
// candidate is tested against what the scan does not guarantee. A full pass
// fills the cursor's record bitmap, which then answers moves, counts and
// record numbers until the table changes.
//
// Record changes: every insert, update and delete of every engine goes
// through one routine of this base, in this order:
//   1. (PostRecord only) the table's write lock (LockForChange);
//   2. the shared state other processes may have moved on is reloaded
//      (ReloadSharedState); an update or delete of a record that is gone
//      stops here (false); a delete finds where the cursor goes afterwards;
//   3. savepoints open on the table's page managers, and the shared table
//      state held in memory (record count, table state, autoincrement
//      counters, the index defs' change counters) is noted;
//   4. (PostRecord only) an insert takes its autoincrement values, and an
//      insert or update must pass the constraints;
//   5. the BLOBs are stored or deleted (StoreBlobs), the old index entries of
//      an update or delete leave, the record is stored, updated or deleted
//      (false when the record manager refuses), the new index entries of an
//      insert or update are made, and the shared table state is written
//      (SaveSharedState);
//   6. the savepoints are released and the session's changes applied
//      (outside a transaction and a batch update);
//   7. the change is applied to the cursor: its record bitmap (dropped when
//      it cannot follow), its position (a delete moves it to the next record
//      of its view, else the previous one), and what the engine finishes
//      (FinishRecordChange); nothing here raises.
// A change that fails at any step from 3 to 6, or that the record manager
// refuses, leaves nothing of itself, in a transaction as well as outside
// one: the savepoints give the page cache back as it was (outside a
// transaction a failed apply cancels the session's changes instead), the
// engine undoes what lives outside pages (UndoRecordChange), the noted
// shared state comes back, and the cursor's record buffer and
// CurrentRecordID are as they were before the call.
//
// Thread safety: all work on a database is serialised by its database data's
// re-entrant lock; Lock()/Unlock() take that lock. The record changes take
// it themselves; GetRecordBuffer and the BLOB operations do not lock by
// themselves: the cursor holds the lock around them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZCompressionTypes.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZBTreeKey.h"
#include "dbengine/storage/VEZBaseRecordManager.h"
#include "dbengine/storage/VEZConstraintManager.h"
#include "dbengine/storage/VEZFieldManager.h"
#include "dbengine/storage/VEZIndexManager.h"

namespace vez {

class TVEZBaseExpression;
class TVEZBaseSession;
class TVEZKeyPath;
class TVEZRecordBitmap;
class TVEZScanSearchCondition;
class TVEZScanSearchConditionArray;
class TVEZCursor;
class TVEZDatabaseData;
class TVEZPageManager;
class TVEZPageSavepoints;
class TVEZStream;
enum TVEZCursorErrorCode : std::int32_t;

// The change a record change makes to the cursor's current record.
enum class TVEZRecordChange { kInsert, kUpdate, kDelete };

// What one record change keeps between its steps, for the engines' hooks.
struct TVEZRecordChangeContext {
  TVEZRecordChange Change = TVEZRecordChange::kInsert;
  std::int32_t SessionID = -2;
  // The stored record before an update or delete (a memory record).
  std::vector<std::uint8_t> StoredRecord;
  // Whether the record manager stored, overwrote or removed the record.
  bool RecordStored = false;
  // The BLOB fields whose values StoreBlobs stored from caches the cursor's
  // buffer still holds (disk engine).
  std::vector<std::int32_t> StoredBlobFields;
  // The shared table state held in memory before the change.
  std::int64_t RecordCount = 0;
  std::int32_t TableState = 0;
  std::vector<std::int64_t> AutoIncValues;
  std::vector<std::int32_t> IndexTableStates;
};

class TVEZTableData : public TVEZKeyRecordSource {
 public:
  // Steps of a restricted view in index order after which the cursor's
  // record bitmap is filled and answers the rest of the walk.
  static constexpr std::int32_t kIndexStepsBeforeBitmap = 64;
  // No managers, no cursors. database_data (the owner) must outlive it; the
  // constructor does not list it there (the database data's CreateTableData
  // does).
  explicit TVEZTableData(TVEZDatabaseData* database_data);
  // Frees the field, index, constraint and record managers, in that order.
  ~TVEZTableData() override;
  TVEZTableData(const TVEZTableData&) = delete;
  TVEZTableData& operator=(const TVEZTableData&) = delete;

  // ---- Virtual operations.

  // Makes the record manager (replacing an old one).
  virtual void CreateRecordManager() = 0;
  // A new field manager over a copy of field_defs, which first get new
  // object ids; then the layout and the autoincrement counters.
  virtual void CreateFieldManager(TVEZFieldDefs& field_defs);
  // A new index manager (NewIndexManager) whose defs are a copy of
  // index_defs, which first get new object ids.
  virtual void CreateIndexManager(TVEZIndexDefs& index_defs);
  // A new constraint manager over a copy of constraint_defs, which first get
  // new object ids and this table's name; then links and automatic names.
  // A foreign key or unknown type raises 30058 before anything changes.
  virtual void CreateConstraintManager(TVEZConstraintDefs& constraint_defs);
  // The cursor's FieldValuesOffset (the first field's memory offset, 0
  // without fields) and RecordSize (GetRecordBufferSize).
  virtual void InitCursorRecordLayout(TVEZCursor& cursor);
  // Outside a transaction, the page manager applies or drops the session's
  // changed pages; inside one, nothing.
  virtual void ApplyChanges(std::int32_t session_id, bool in_transaction);
  virtual void CancelChanges(std::int32_t session_id, bool in_transaction);
  // Creates the table's storage with these defs (ids are given here).
  virtual void CreateTable(TVEZCursor* cursor, TVEZFieldDefs& field_defs, TVEZIndexDefs& index_defs,
                           TVEZConstraintDefs& constraint_defs) = 0;
  // Base: refuses (20017) while any cursor has the table open, unless
  // design_mode; the engine then removes the storage.
  virtual void DeleteTable(TVEZCursor* cursor, bool design_mode);
  // Base: restarts the autoincrement counters and empties every index (the
  // cursor's session, -2 without a cursor).
  virtual void EmptyTable(TVEZCursor* cursor);
  // Refuses (10150) while any cursor has the table open.
  virtual void RenameTable(const std::string& new_table_name, TVEZCursor* cursor);
  // List and unlist the cursor.
  virtual void OpenTable(TVEZCursor& cursor);
  virtual void CloseTable(TVEZCursor& cursor);
  // Unknown field 30343, new name taken 30344 (nothing changes); the name and
  // the index columns on it take new_field_name.
  virtual void RenameField(const std::string& field_name, const std::string& new_field_name);
  // Builds the index (the cursor's position is kept) and, for a primary or
  // unique index of a table that is not temporary, adds its constraint.
  virtual void AddIndex(TVEZIndexDef& index_def, TVEZCursor* cursor);
  // Drops the index and, when neither it nor the cursor is temporary, the
  // constraint tied to it.
  virtual void DeleteIndex(std::int32_t index_id, TVEZCursor* cursor);
  // The bit numbering of physical record bitmaps: how many bits the table
  // needs, and the bit of a record and the record of a bit.
  virtual std::int64_t GetApproximateRecordCount(std::int32_t session_id) = 0;
  virtual std::int64_t RecordIDToApproximateRecNo(TVEZPageItemID record_id) = 0;
  virtual TVEZPageItemID ApproximateRecNoToRecordID(std::int64_t value) = 0;
  // Releases what a record buffer holds beside its bytes (BLOB caches).
  virtual void ClearBlobsCacheInRecordBuffer(std::uint8_t* /*record*/) {}
  // Moves the cursor (grmNext, grmPrior) or reads its current record again
  // (grmCurrent) into CurrentRecordBuffer, in the cursor's index order or
  // storage order. An empty table gives grrEOF. The cursor takes
  // CurrentRecordID, FirstPosition and LastPosition from the move, also at an
  // end. A move of a restricted view (filter, range, distinct) goes to the
  // next or previous visible record; when there is none it answers grrEOF or
  // grrBOF and the cursor keeps its position (a Prior from BOF or a Next from
  // EOF stays there). A re-read record that the view no longer shows gives
  // grrError. The caller holds the lock.
  virtual TVEZGetRecordResult GetRecordBuffer(TVEZCursor& cursor, TVEZGetRecordMode mode);
  // Locate: the first record in the cursor's order that the view shows and
  // the expression accepts, read into CurrentRecordBuffer; false leaves the
  // cursor where it was. 10272 without an expression.
  // FindKey: the first such record whose key satisfies search_condition
  // against the cursor's KeyBuffer (KeyFieldCount fields); the record is not
  // read. 20258 on a cursor without an index.
  virtual bool Locate(TVEZCursor& cursor, TVEZBaseExpression* search_expression);
  virtual bool FindKey(TVEZCursor& cursor, TVEZSearchCondition search_condition);
  // Stores a written BLOB stream into the cursor's current record.
  virtual void WriteBLOBFieldToRecordBuffer(TVEZCursor& cursor, std::int32_t field_no,
                                            TVEZStream& blob_stream) = 0;
  // Frees one BLOB field's value held in record. Base: nothing.
  virtual void ClearBLOBFieldInRecordBuffer(std::uint8_t* /*record*/, std::int32_t /*field_no*/) {}
  // ClearBLOBFieldInRecordBuffer for every BLOB field, in field order
  // (BlobFieldsPresent checks the fields first).
  virtual void ClearBLOBFieldsInRecordBuffer(std::uint8_t* record);
  // A stream over a BLOB field of the cursor's current record.
  virtual std::unique_ptr<TVEZStream> InternalCreateBlobStream(TVEZCursor& cursor, bool to_insert,
                                                               std::int32_t field_no,
                                                               TVEZBLOBOpenMode open_mode) = 0;
  // A BLOB's compressed bytes and descriptor, for copying between tables
  // without recompressing (get, set, free); data is a memory-manager block.
  virtual void GetDirectBlobData(TVEZCursor& cursor, std::int32_t field_no, std::uint8_t* record,
                                 TVEZPartialTemporaryBLOBDescriptor& descriptor,
                                 std::uint8_t*& data) = 0;
  virtual void SetDirectBlobData(TVEZCursor& cursor, std::int32_t field_no, std::uint8_t* record,
                                 TVEZPartialTemporaryBLOBDescriptor& descriptor,
                                 std::uint8_t*& data) = 0;
  virtual void FreeDirectBlobData(TVEZCursor& cursor, std::int32_t field_no, std::uint8_t* record,
                                  TVEZPartialTemporaryBLOBDescriptor& descriptor,
                                  std::uint8_t*& data) = 0;
  // 1-based record numbers in the cursor's view. SetRecNo takes a number
  // outside 1..count to the nearest end and does not read the record;
  // GetRecNo is -1 at an end, in an empty view, or for a record the view
  // does not show.
  virtual void SetRecNo(TVEZCursor& cursor, std::int64_t rec_no);
  virtual std::int64_t GetRecNo(TVEZCursor& cursor);
  // Storage-order record numbers and the record count.
  virtual void InternalSetRecNo(TVEZCursor& cursor, std::int64_t rec_no) = 0;
  virtual std::int64_t InternalGetRecNo(TVEZCursor& cursor) = 0;
  virtual std::int64_t InternalGetRecordCount(TVEZCursor& cursor) = 0;
  // The last autoincrement value of the field. Base 0.
  virtual std::int64_t LastAutoincValue(std::int32_t field_no, TVEZBaseSession* session);
  // Brings the session's temporary indexes back in step.
  virtual void Rollback(std::int32_t session_id);

  // ---- Record changes (see the head of this file for their steps).

  // The post of a cursor's insert, update or delete as the session layer
  // makes it: the write lock, then the change with autoincrement values and
  // constraints. cecOK, cecTableLocked when the write lock is refused, or
  // cecInsertFailed / cecUpdateFailed / cecDeleteFailed when the record
  // manager refused or the record is gone; other failures raise.
  TVEZCursorErrorCode PostRecord(TVEZCursor& cursor, TVEZRecordChange change);
  // Store, remove or overwrite the cursor's current record with its index
  // entries, without the write lock, autoincrement values and constraints;
  // false when the record manager refused or the record is gone.
  bool InsertRecord(TVEZCursor& cursor);
  bool DeleteRecord(TVEZCursor& cursor);
  bool UpdateRecord(TVEZCursor& cursor);

  // ---- Operations of the base.

  // Enter and leave the database data's lock (re-entrant, shared by every
  // table of the database).
  void Lock();
  void Unlock();
  // Whether this thread holds that lock.
  bool IsLockHeld() const;

  // Under the lock, empties one index.
  void EmptyIndex(std::int32_t index_id, std::int32_t session_id);
  // DeleteIndex of the first def until none is left.
  void DeleteAllIndexes(TVEZCursor* cursor);
  void EmptyAllIndexes(std::int32_t session_id);
  // Under the lock, with the cursor's position kept: the name of an index
  // that serves the columns, else of a new temporary one (is_created); the
  // session's page changes are applied, or dropped when it fails (the error
  // then passes on). 10324 when the id has no def.
  std::string FindOrCreateIndex(TVEZCursor& cursor, const std::vector<std::string>& field_names,
                                const std::vector<std::string>& asc_desc_list,
                                const std::vector<std::string>& case_sensitivity_list,
                                bool& is_created);
  bool IndexExists(TVEZCursor& cursor, const std::vector<std::string>& field_names,
                   const std::vector<std::string>& asc_desc_list,
                   const std::vector<std::string>& case_sensitivity_list);
  // Whether new_record would break the uniqueness of index index_id: false
  // on an empty table; else the index's CanInsertRecord / CanUpdateRecord.
  bool IsUniqueConstraintFailed(std::int32_t session_id, std::int32_t index_id,
                                const std::uint8_t* new_record, const std::uint8_t* old_record,
                                bool to_insert, TVEZPageItemID current_record_id);
  // Records in the cursor's view: a restricted view counts the set bits of
  // its record bitmap, filled when needed.
  virtual std::int64_t GetRecordCount(TVEZCursor& cursor);
  // Whether the cursor's CurrentRecordBuffer lies in its key range (true
  // without a range), by the cursor's index.
  bool IsRecordInRange(TVEZCursor& cursor);
  // IsRecordInRange, then the filter expression, the SQL filter expression
  // and the record filter callback, each only while the earlier ones pass.
  bool IsRecordAccepted(TVEZCursor& cursor);
  // For every cursor of session_id, brings the temporary indexes in step.
  void RebuildTemporaryIndexes(std::int32_t session_id);
  // Bytes of a memory record; 10131 without fields.
  std::int32_t GetRecordBufferSize() const;
  // One step through the index (info.IndexID, moves only) or the record
  // manager. 10015 without record manager, 10380 without index manager,
  // 10016 without record buffer.
  void ReadRecord(std::int32_t session_id, TVEZNavigationInfo& info, std::int32_t table_state,
                  TVEZIndexPositionCache* cache);

  // ---- TVEZKeyRecordSource: the layout of the fields and the stored
  // records, for the keys of the table's indexes.
  bool HasFieldManager() const override { return FFieldManager != nullptr; }
  bool HasFieldDefs() const override;
  bool FindField(const std::string& name, TFieldLayout& layout) const override;
  std::int32_t GetMemoryRecordBufferSize() const override;
  TVEZGetRecordResult ReadRecord(std::int32_t session_id, TVEZPageItemID record_id,
                                 std::uint8_t* buffer) override;

  // ---- Properties.
  TVEZDatabaseData* DatabaseData() const { return FDatabaseData; }
  TVEZPageManager* PageManager() const { return FPageManager; }
  const std::string& TableName() const { return FTableName; }
  void SetTableName(const std::string& name) { FTableName = name; }
  bool IsRepairing() const { return FIsRepairing; }
  void SetIsRepairing(bool value) { FIsRepairing = value; }
  bool DisableTempFiles() const { return FDisableTempFiles; }
  TVEZBaseFieldManager* FieldManager() const { return FFieldManager.get(); }
  TVEZBaseIndexManager* IndexManager() const { return FIndexManager.get(); }
  TVEZBaseConstraintManager* ConstraintManager() const { return FConstraintManager.get(); }
  TVEZBaseRecordManager* RecordManager() const { return FRecordManager.get(); }
  // The cursors that have the table open, in opening order (not owned).
  const std::vector<TVEZCursor*>& CursorList() const { return FCursorList; }

  // The session id a cursor works for: its session's, -2 (the engine's own)
  // without a cursor or session.
  static std::int32_t SessionIDOf(const TVEZCursor* cursor);
  // Whether the cursor's session is inside a transaction (false without a
  // cursor or session).
  static bool InTransaction(const TVEZCursor* cursor);

 protected:
  // Applies the cursor's session's changes; within a transaction they wait
  // for the commit.
  void ApplyOutsideTransaction(TVEZCursor* cursor);
  // Shows the cursor's current record in its active record bitmap when the
  // cursor's view accepts it, else hides it.
  void ShowOrHideInBitmap(TVEZCursor& cursor);
  // Where a delete leaves the cursor: the next record of its own view, else
  // the previous one; false when there is neither. The cursor's position,
  // buffer and CurrentRecordID are as before when this returns or raises.
  bool FindNeighbourForDelete(TVEZCursor& cursor, TVEZPageItemID& neighbour);
  // The index manager CreateIndexManager makes; engines give it their
  // temporary page manager.
  virtual std::unique_ptr<TVEZBaseIndexManager> NewIndexManager();
  // Gives every def, in list order, a new object id of the database.
  void AssignNewObjectIds(TVEZMetaObjectDefs& defs);
  void SetPageManager(TVEZPageManager* page_manager) { FPageManager = page_manager; }
  void SetDisableTempFiles(bool value) { FDisableTempFiles = value; }
  // Whether the numbering of physical record bitmaps (GetApproximateRecordCount
  // and the record-number mapping) gives
  // every stored record its own bit and no bit to anything else when the
  // approximate record count equals the record count, so that a bitmap of
  // that many set bits shows exactly the table. Base: false.
  virtual bool HasExactRecordBits() const { return false; }

  // ---- Hooks of a record change (see the head of this file).

  // Raises the engine's errors for a change it cannot start (no record
  // manager, no record buffer for an insert or update); false when the
  // engine keeps no such change (an append-only table refuses updates and
  // deletes). Base: 10015 / 10016.
  virtual bool CanChangeRecord(TVEZCursor& cursor, TVEZRecordChange change);
  // The table's write lock for a post; false when refused. Released by
  // UnlockAfterChange, which must not raise. Base: no lock.
  virtual bool LockForChange(TVEZCursor& /*cursor*/) { return true; }
  virtual void UnlockAfterChange(TVEZCursor& /*cursor*/) noexcept {}
  // Reloads what other processes may have changed before the change begins.
  // Base: nothing.
  virtual void ReloadSharedState(TVEZCursor& /*cursor*/) {}
  // Stores the BLOB values of the cursor's buffer (insert, update) or
  // deletes the stored record's (delete), before its index entries and the
  // record change. Base: nothing (BLOBs kept in the record buffer itself).
  virtual void StoreBlobs(TVEZCursor& /*cursor*/, TVEZRecordChangeContext& /*context*/) {}
  // Writes the shared table state after a change. Base: nothing.
  virtual void SaveSharedState(TVEZCursor& /*cursor*/) {}
  // Undoes what the change did outside the page cache, after a failure
  // (the page cache is rolled back apart). Base: a record the record
  // manager stored is removed again and an overwritten one gets its old
  // bytes (records kept outside pages); an engine that keeps its records on
  // pages has nothing to undo there. Must not raise.
  virtual void UndoRecordChange(TVEZCursor& cursor,
                                const TVEZRecordChangeContext& context) noexcept;
  // Finishes a change that succeeded, after it reached the cursor (BLOB
  // values the record now owns, and those it no longer holds). Must not
  // raise: the change is stored. Base: nothing.
  virtual void FinishRecordChange(TVEZCursor& /*cursor*/,
                                  TVEZRecordChangeContext& /*context*/) noexcept {}
  // Opens the savepoints of a change on every page manager the table's
  // records, BLOBs, indexes and shared state live on. Base: the table's
  // page manager and the index manager's temporary one.
  virtual void OpenSavepoints(TVEZPageSavepoints& savepoints);

 private:
  // One search: the conditions, the chosen scan and where it starts.
  struct TScanState;
  // The undo of one record change (see the head of this file).
  class TChangeUndo;

  // The one routine of every record change; post adds autoincrement values
  // and constraints.
  bool ChangeRecord(TVEZCursor& cursor, TVEZRecordChange change, bool post);

  TVEZGetRecordResult InternalGetRecordBuffer(TVEZCursor& cursor, TVEZGetRecordMode mode,
                                              bool fill_bitmap);
  // record_id, a record of a distinct view, becomes the first record of its
  // group in the cursor's order (the one the view shows).
  void FirstOfDistinctGroup(TVEZCursor& cursor, TVEZPageItemID& record_id);
  // Whether the record can still be read.
  bool IsRecordPresent(std::int32_t session_id, TVEZPageItemID record_id);
  // The move of a restricted view whose current record is gone: raw steps
  // from its slot or key (held in CurrentRecordBuffer) to the next record the
  // view accepts.
  bool StepFromGoneRecord(TVEZCursor& cursor, bool go_forward, TVEZPageItemID& record_id);
  // Whether record (a record of the table, identity record_id) passes the
  // cursor's range and filters.
  bool IsBufferAccepted(TVEZCursor& cursor, std::uint8_t* record, TVEZPageItemID record_id);
  // The cursor's record filter callback on a copy of record in a buffer of
  // the cursor, with the identity at its bookmark.
  bool CallFilterRecord(TVEZCursor& cursor, const std::uint8_t* record, TVEZPageItemID record_id);
  // The search engine: the next record of the cursor's view (restart: the
  // first, or the last going back) that also satisfies search_expression and
  // search_condition. record_id may be null. bitmap (the cursor's, or null)
  // answers the move when it is complete; fill_bitmap marks every visible
  // record in it and answers false; a search that sees the whole view on the
  // way (a restart through an index in another order) completes it too.
  bool FindRecord(TVEZCursor& cursor, TVEZBaseExpression* search_expression,
                  const TVEZScanSearchCondition* search_condition, bool restart, bool go_forward,
                  TVEZPageItemID* record_id, TVEZRecordBitmap* bitmap, bool fill_bitmap);
  void PrepareScanConditions(TVEZCursor& cursor, TVEZScanSearchConditionArray& array,
                             const TVEZScanSearchCondition* search_condition,
                             TVEZBaseExpression* search_expression, bool go_forward);
  void OptimizeScanConditions(TVEZScanSearchConditionArray& array, bool& is_empty);
  void ChooseScanConditions(TScanState& state);
  bool FindDirectScanCondition(TScanState& state);
  bool IsUniqueIndex(std::int32_t index_id);
  void ChooseCheapestScan(TScanState& state);
  double GetIndexScanCost(TScanState& state, std::int32_t start_no, std::int32_t end_no);
  double GetFullScanCost(TScanState& state);
  bool ScanByConditions(TScanState& state);
  bool ScanTable(TScanState& state);
  bool ScanIndex(TScanState& state);
  bool ScanIndexInRecordOrder(TScanState& state);
  bool ScanIndexInCursorOrder(TScanState& state);
  bool IsScanConditionMatched(const TVEZScanSearchCondition& condition, const std::uint8_t* record);
  bool AreOtherConditionsPresent(const TScanState& state) const;
  bool IsRecordMatched(TScanState& state, std::uint8_t* record, TVEZPageItemID record_id);
  bool FindRecordInBitmap(TVEZCursor& cursor, TVEZRecordBitmap& bitmap, bool restart,
                          bool go_forward, TVEZPageItemID& record_id);
  // Bitmap upkeep.
  void ResetRecordBitmap(TVEZRecordBitmap& bitmap, std::int32_t index_id);
  void RefreshRecordBitmap(TVEZCursor& cursor);
  void RebuildRecordBitmap(TVEZCursor& cursor);
  // The bitmap of the cursor when it holds the whole view (after a refresh),
  // else null: then counts and numbers walk the view.
  TVEZRecordBitmap* CompleteRecordBitmap(TVEZCursor& cursor);
  bool GetIndexPositionOfRecord(std::int32_t session_id, std::int32_t index_id,
                                TVEZKeyPath& index_pos, TVEZPageItemID record_id);
  void GetRecordIDByIndexPosition(std::int32_t session_id, std::int32_t index_id,
                                  TVEZPageItemID& record_id, const TVEZKeyPath& index_pos);
  // Calls visit(record id, 1-based number) for every visible record in the
  // cursor's order until it answers false, step by step through the search;
  // for views whose bitmap cannot hold them.
  std::int64_t WalkView(TVEZCursor& cursor,
                        const std::function<bool(TVEZPageItemID, std::int64_t)>& visit);
  // Locate and FindKey: the first record of the search that the view shows
  // (a distinct view hides all but the first record of a group); on success
  // the cursor stands on it.
  bool FindShownRecord(TVEZCursor& cursor, TVEZBaseExpression* search_expression,
                       const TVEZScanSearchCondition* search_condition);
  // Whether a distinct view hides the cursor's current record, which is read
  // into record.
  bool IsHiddenByDistinct(TVEZCursor& cursor, std::uint8_t* record);
  // Compares two key buffers by the index the conditions are on.
  std::int32_t CompareKeys(std::int32_t index_id, const std::uint8_t* key1,
                           const std::uint8_t* key2, std::int32_t field_count);

 protected:
  bool FIsRepairing = false;
  // Not owned: the database's for disk tables, the engine's own otherwise.
  TVEZPageManager* FPageManager = nullptr;
  TVEZDatabaseData* FDatabaseData;
  std::string FTableName;
  std::unique_ptr<TVEZBaseFieldManager> FFieldManager;
  std::unique_ptr<TVEZBaseConstraintManager> FConstraintManager;
  std::unique_ptr<TVEZBaseIndexManager> FIndexManager;
  std::unique_ptr<TVEZBaseRecordManager> FRecordManager;
  std::vector<TVEZCursor*> FCursorList;
  bool FDisableTempFiles = false;
};

}  // namespace vez

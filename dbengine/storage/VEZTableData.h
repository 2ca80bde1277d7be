// TVEZTableData: the state of one open table, shared by every cursor that has
// the table open: its field, index, constraint and record managers, the page
// manager that holds its index pages, and the list of its cursors. The
// session layer's cursor reads and changes the table through the 40 virtual
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
// What the engines must still supply: the record manager (slot 0), CreateTable
// (7), the record-number mapping of record bitmaps (16-18), BLOB storage
// (23, 26-29, and 19/24 where records hold BLOB caches), InsertRecord,
// DeleteRecord, UpdateRecord (30-32) and storage-order record numbers and
// counts (35-37); the disk engine also wraps reads in its multi-user bracket.
// Restricted views (filters, ranges, distinct), Locate and FindKey go through
// the search engine of this base (VEZTableDataSearch.cpp): the restrictions
// become scan conditions, conditions on one index are merged, the cheapest
// scan is chosen (an index range or the whole table) and each candidate is
// tested against what the scan does not guarantee. A full pass fills the
// cursor's record bitmap, which then answers moves, counts and record numbers
// until the table changes.
//
// Thread safety: all work on a database is serialised by its database data's
// re-entrant lock; Lock()/Unlock() take that lock. GetRecordBuffer,
// InsertRecord, UpdateRecord, DeleteRecord and the BLOB operations do not lock
// by themselves: the cursor holds the lock around them.
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
class TVEZStream;

class TVEZTableData : public TVEZKeyRecordSource {
 public:
  // No managers, no cursors. database_data (the owner) must outlive it; the
  // constructor does not list it there (the database data's CreateTableData
  // does).
  explicit TVEZTableData(TVEZDatabaseData* database_data);
  // Frees the field, index, constraint and record managers, in that order.
  ~TVEZTableData() override;
  TVEZTableData(const TVEZTableData&) = delete;
  TVEZTableData& operator=(const TVEZTableData&) = delete;

  // ---- Virtual operations, in slot order.

  // 0: makes the record manager (replacing an old one).
  virtual void CreateRecordManager() = 0;
  // 1: a new field manager over a copy of field_defs, which first get new
  // object ids; then the layout and the autoincrement counters.
  virtual void CreateFieldManager(TVEZFieldDefs& field_defs);
  // 2: a new index manager (NewIndexManager) whose defs are a copy of
  // index_defs, which first get new object ids.
  virtual void CreateIndexManager(TVEZIndexDefs& index_defs);
  // 3: a new constraint manager over a copy of constraint_defs, which first
  // get new object ids and this table's name; then links and automatic names.
  // A foreign key or unknown type raises 30058 before anything changes.
  virtual void CreateConstraintManager(TVEZConstraintDefs& constraint_defs);
  // 4: the cursor's FieldValuesOffset (the first field's memory offset, 0
  // without fields) and RecordSize (GetRecordBufferSize).
  virtual void InitCursorRecordLayout(TVEZCursor& cursor);
  // 5, 6: outside a transaction, the page manager applies or drops the
  // session's changed pages; inside one, nothing.
  virtual void ApplyChanges(std::int32_t session_id, bool in_transaction);
  virtual void CancelChanges(std::int32_t session_id, bool in_transaction);
  // 7: creates the table's storage with these defs (ids are given here).
  virtual void CreateTable(TVEZCursor* cursor, TVEZFieldDefs& field_defs, TVEZIndexDefs& index_defs,
                           TVEZConstraintDefs& constraint_defs) = 0;
  // 8: base: refuses (20017) while any cursor has the table open, unless
  // design_mode; the engine then removes the storage.
  virtual void DeleteTable(TVEZCursor* cursor, bool design_mode);
  // 9: base: restarts the autoincrement counters and empties every index
  // (the cursor's session, -2 without a cursor).
  virtual void EmptyTable(TVEZCursor* cursor);
  // 10: refuses (10150) while any cursor has the table open.
  virtual void RenameTable(const std::string& new_table_name, TVEZCursor* cursor);
  // 11, 12: list and unlist the cursor.
  virtual void OpenTable(TVEZCursor& cursor);
  virtual void CloseTable(TVEZCursor& cursor);
  // 13: unknown field 30343, new name taken 30344 (nothing changes); the
  // name and the index columns on it take new_field_name.
  virtual void RenameField(const std::string& field_name, const std::string& new_field_name);
  // 14: builds the index (the cursor's position is kept) and, for a primary
  // or unique index of a table that is not temporary, adds its constraint.
  virtual void AddIndex(TVEZIndexDef& index_def, TVEZCursor* cursor);
  // 15: drops the index and, when neither it nor the cursor is temporary,
  // the constraint tied to it.
  virtual void DeleteIndex(std::int32_t index_id, TVEZCursor* cursor);
  // 16-18: the bit numbering of physical record bitmaps.
  virtual std::int64_t GetApproximateRecordCount(std::int32_t session_id) = 0;
  virtual std::int64_t RecordIDToApproximateRecNo(TVEZPageItemID record_id) = 0;
  virtual TVEZPageItemID ApproximateRecNoToRecordID(std::int64_t value) = 0;
  // 19: releases what a record buffer holds beside its bytes (BLOB caches).
  virtual void ClearBlobsCacheInRecordBuffer(std::uint8_t* /*record*/) {}
  // 20: moves the cursor (grmNext, grmPrior) or reads its current record
  // again (grmCurrent) into CurrentRecordBuffer, in the cursor's index order
  // or storage order. An empty table gives grrEOF. The cursor takes
  // CurrentRecordID, FirstPosition and LastPosition from the move, also at
  // an end. A move of a restricted view (filter, range, distinct) goes to the
  // next or previous visible record; when there is none it answers grrEOF or
  // grrBOF and the cursor keeps its position (a Prior from BOF or a Next from
  // EOF stays there). A re-read record that the view no longer shows gives
  // grrError.
  virtual TVEZGetRecordResult GetRecordBuffer(TVEZCursor& cursor, TVEZGetRecordMode mode);
  // 21: the first record in the cursor's order that the view shows and the
  // expression accepts, read into CurrentRecordBuffer; false leaves the
  // cursor where it was. 10272 without an expression.
  // 22: the first such record whose key satisfies search_condition against
  // the cursor's KeyBuffer (KeyFieldCount fields); the record is not read.
  // 20258 on a cursor without an index.
  virtual bool Locate(TVEZCursor& cursor, TVEZBaseExpression* search_expression);
  virtual bool FindKey(TVEZCursor& cursor, TVEZSearchCondition search_condition);
  // 23: stores a written BLOB stream into the cursor's current record.
  virtual void WriteBLOBFieldToRecordBuffer(TVEZCursor& cursor, std::int32_t field_no,
                                            TVEZStream& blob_stream) = 0;
  // 24: frees one BLOB field's value held in record. Base: nothing.
  virtual void ClearBLOBFieldInRecordBuffer(std::uint8_t* /*record*/, std::int32_t /*field_no*/) {}
  // 25: slot 24 for every BLOB field, in field order (BlobFieldsPresent
  // checks the fields first).
  virtual void ClearBLOBFieldsInRecordBuffer(std::uint8_t* record);
  // 26: a stream over a BLOB field of the cursor's current record.
  virtual std::unique_ptr<TVEZStream> InternalCreateBlobStream(TVEZCursor& cursor, bool to_insert,
                                                               std::int32_t field_no,
                                                               TVEZBLOBOpenMode open_mode) = 0;
  // 27-29: a BLOB's compressed bytes and descriptor, for copying between
  // tables without recompressing; data is a memory-manager block.
  virtual void GetDirectBlobData(TVEZCursor& cursor, std::int32_t field_no, std::uint8_t* record,
                                 TVEZPartialTemporaryBLOBDescriptor& descriptor,
                                 std::uint8_t*& data) = 0;
  virtual void SetDirectBlobData(TVEZCursor& cursor, std::int32_t field_no, std::uint8_t* record,
                                 TVEZPartialTemporaryBLOBDescriptor& descriptor,
                                 std::uint8_t*& data) = 0;
  virtual void FreeDirectBlobData(TVEZCursor& cursor, std::int32_t field_no, std::uint8_t* record,
                                  TVEZPartialTemporaryBLOBDescriptor& descriptor,
                                  std::uint8_t*& data) = 0;
  // 30-32: store, remove or overwrite the cursor's current record with its
  // index entries; false when the record manager refused.
  virtual bool InsertRecord(TVEZCursor& cursor) = 0;
  virtual bool DeleteRecord(TVEZCursor& cursor) = 0;
  virtual bool UpdateRecord(TVEZCursor& cursor) = 0;
  // 33, 34: 1-based record numbers in the cursor's view. SetRecNo takes a
  // number outside 1..count to the nearest end and does not read the record;
  // GetRecNo is -1 at an end, in an empty view, or for a record the view
  // does not show.
  virtual void SetRecNo(TVEZCursor& cursor, std::int64_t rec_no);
  virtual std::int64_t GetRecNo(TVEZCursor& cursor);
  // 35-37: storage-order record numbers and the record count.
  virtual void InternalSetRecNo(TVEZCursor& cursor, std::int64_t rec_no) = 0;
  virtual std::int64_t InternalGetRecNo(TVEZCursor& cursor) = 0;
  virtual std::int64_t InternalGetRecordCount(TVEZCursor& cursor) = 0;
  // 38: base 0.
  virtual std::int64_t LastAutoincValue(std::int32_t field_no, TVEZBaseSession* session);
  // 39: brings the session's temporary indexes back in step.
  virtual void Rollback(std::int32_t session_id);

  // ---- Operations of the base.

  // Enter and leave the database data's lock (re-entrant, shared by every
  // table of the database).
  void Lock();
  void Unlock();

  // Under the lock, empties one index.
  void EmptyIndex(std::int32_t index_id, std::int32_t session_id);
  // DeleteIndex (slot 15) of the first def until none is left.
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
  std::int64_t GetRecordCount(TVEZCursor& cursor);
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
  // Whether the numbering of physical record bitmaps (slots 16-18) gives
  // every stored record its own bit and no bit to anything else when the
  // approximate record count equals the record count, so that a bitmap of
  // that many set bits shows exactly the table. Base: false.
  virtual bool HasExactRecordBits() const { return false; }

 private:
  // One search: the conditions, the chosen scan and where it starts.
  struct TScanState;

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

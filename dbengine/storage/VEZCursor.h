// TVEZCursor: the storage engine's view of one open table as one dataset sees
// it: table and index, record buffers and their layout, filters, key range,
// visible (projected) fields and current position. The session and dataset
// layer implements the 48 abstract operations in its local cursor; the table
// data, the table engines and the B-tree index take a cursor as argument and
// read and write its public fields while they serve it. This base implements
// field access on record buffers, buffer allocation, saved positions,
// projection, key ranges and the binding of an SQL filter.
//
// Record buffers are engine memory-manager blocks of RecordBufferSize bytes
// that start with the memory record of the table (VEZFieldDef.h: null bitmap,
// then each field at its MemoryOffset; null bit set = NULL).
//
// Record operations of the implementation report through ErrorCode (see
// TVEZCursorErrorCode) instead of raising; other failures are EVEZException.
//
// Thread safety: a cursor is used by one thread at a time and takes no locks
// of its own; LockTableData/UnlockTableData guard the shared table state.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZCompressionTypes.h"
#include "dbengine/foundation/VEZStream.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/storage/VEZBaseExpression.h"
#include "dbengine/storage/VEZConstraintDef.h"
#include "dbengine/storage/VEZFieldDef.h"
#include "dbengine/storage/VEZIndexDef.h"

namespace platform {
class Variant;
}

namespace vez {

class TVEZBaseSession;
class TVEZIndexPositionCache;
class TVEZRecordBitmap;

// Results of the implementation's record operations, in ErrorCode.
enum TVEZCursorErrorCode : std::int32_t {
  cecOK = 0,
  cecInsertFailed = -1,
  cecUpdateFailed = -2,
  cecDeleteFailed = -3,
  cecUpdateRecordChanged = -4,  // another process changed the record
  cecDeleteRecordChanged = -5,
  cecUpdateRecordDeleted = -6,  // another process deleted the record
  cecDeleteRecordDeleted = -7,
  cecErrorMessage = -8,  // the text is in ErrorMessage
  cecUpdateInTemporaryMode = -9,
  cecDeleteInTemporaryMode = -10,
  cecCancelInTemporaryMode = -11,
  cecRecordLocked = -12,
  cecTableLocked = -13
};

// The dataset layer's record filter: true keeps the record in buffer.
using TVEZFilterRecordEvent = std::function<bool(std::uint8_t* buffer, void* dataset)>;

class TVEZCursor {
 public:
  TVEZCursor() = default;
  // Frees the cursor's open BLOB streams. Record buffers, the record bitmap,
  // the index position cache and the filter expressions belong to the
  // implementation, which frees them.
  virtual ~TVEZCursor() = default;
  TVEZCursor(const TVEZCursor&) = delete;
  TVEZCursor& operator=(const TVEZCursor&) = delete;

  // ---- Abstract operations, in the order of the engine's cursor contract.
  //
  // Conventions for all of them unless a comment says otherwise:
  // - Failures raise EVEZException with its native number. The record
  //   operations InternalEdit, InternalCancel, InternalPost and
  //   InternalDelete report instead: they set ErrorCode (cecOK on success;
  //   ErrorMessage goes with cecErrorMessage) and return normally.
  // - An operation that raises before its first write changes nothing.
  // - Defs passed by reference stay the caller's. Record buffers named by the
  //   public fields belong to the implementation; a buffer passed as an
  //   argument stays the caller's and holds RecordBufferSize bytes.
  // - Field numbers are visible ones unless direct_access says physical.

  // Creates table TableName with these defs; the database gives the object
  // ids. Raises when the table cannot be created.
  virtual void CreateTable(TVEZFieldDefs& field_defs, TVEZIndexDefs& index_defs,
                           TVEZConstraintDefs& constraint_defs) = 0;
  // Drops table TableName. Raises while another dataset has it open.
  virtual void DeleteTable() = 0;
  // Removes every record of the table; the defs stay. Needs the table
  // exclusively: raises while another dataset has it open.
  virtual void EmptyTable() = 0;
  // Renames table TableName. Needs the table exclusively: raises while
  // another dataset has it open.
  virtual void RenameTable(const std::string& new_table_name) = 0;
  // Fills FieldDefs (and the record layout fields) from the stored table.
  virtual void InternalInitFieldDefs() = 0;
  // Opens table TableName, creating it with these defs when it does not
  // exist yet; afterwards IsOpen is set, the cursor's defs and record layout
  // fields (RecordSize, RecordBufferSize, FieldValuesOffset) describe the
  // table. Raises when the table cannot be opened in the requested mode
  // (ReadOnly, Exclusive).
  virtual void OpenTableByFieldDefs(TVEZFieldDefs& field_defs, TVEZIndexDefs& index_defs,
                                    TVEZConstraintDefs& constraint_defs) = 0;
  // Closes the table for this cursor; IsOpen becomes false.
  virtual void CloseTable() = 0;
  // Enter and leave the table data's lock (re-entrant, shared by all tables
  // of the database); each Lock is paired with one Unlock on the same
  // thread. Without table data they raise 10260 / 10261.
  virtual void LockTableData() = 0;
  virtual void UnlockTableData() = 0;
  // Takes a table lock of lock_type for the cursor's session, trying
  // try_count times delay ms apart (waits go through the injectable clock).
  // Returns true when it is held, false when other sessions kept it through
  // every try; raises only when the lock state cannot be read or written.
  virtual bool LockTable(TVEZLockType lock_type, std::int32_t try_count, std::int32_t delay,
                         bool allow_xirw_after_sirw) = 0;
  // Releases a table lock of lock_type held by the cursor's session. Returns
  // true when released, or when not held and ignore_if_no_lock; false when
  // not held otherwise.
  virtual bool UnlockTable(TVEZLockType lock_type, bool ignore_if_no_lock) = 0;

  // Base: renames a field of this cursor's own FieldDefs (the table is not
  // changed). Unknown field_name raises 30345; a field already named
  // new_field_name (case-insensitive) raises 30346. The new name is cut to
  // 255 characters.
  virtual void RenameField(const std::string& field_name, const std::string& new_field_name);
  // Base: the cursor's IndexDefs, owned by the cursor; never null.
  virtual TVEZIndexDefs* GetIndexDefs();

  // Adds an index made from index_def (copied; the database gives its id)
  // over the table's records.
  virtual void AddIndex(TVEZIndexDef& index_def) = 0;
  // Drops the index of that name.
  virtual void DeleteIndex(const std::string& name) = 0;
  // Drops every index of the table.
  virtual void DeleteAllIndexes() = 0;
  // Returns the name of an index on these columns (one entry per column in
  // each list: field name, "ASC" / "DESC", "CASE" / "NO_CASE"): one found as
  // TVEZIndexDefs::FindIndex finds it (is_created false), else a temporary
  // index built by the table data for this session (is_created true).
  virtual std::string FindOrCreateIndex(const std::vector<std::string>& field_names,
                                        const std::vector<std::string>& asc_desc_list,
                                        const std::vector<std::string>& case_sensitivity_list,
                                        bool& is_created) = 0;
  // True when the table has an index on these columns (lists as
  // FindOrCreateIndex). Creates nothing.
  virtual bool IndexExists(const std::vector<std::string>& field_names,
                           const std::vector<std::string>& asc_desc_list,
                           const std::vector<std::string>& case_sensitivity_list) = 0;
  // Copies field src_field_no (physical with direct_access, else visible)
  // of the current record into visible field dest_field_no of dest_cursor's
  // CurrentRecordBuffer. REQUIRES: dest_cursor is not null (it stays its
  // owner's). Raises the field-number errors of GetFieldValue and
  // SetFieldValue.
  virtual void CopyFieldValue(std::int32_t src_field_no, bool direct_access,
                              std::int32_t dest_field_no, TVEZCursor* dest_cursor) = 0;
  // Makes record_buffer an empty record: every null bit set, every field
  // byte zero; for an insert into a table that is not temporary, then the
  // column defaults.
  virtual void InternalInitRecord(std::uint8_t* record_buffer, bool insert_mode) = 0;
  // Base: frees a record buffer through the engine memory manager and sets
  // buffer to null; nothing for a null buffer.
  virtual void FreeRecordBuffer(std::uint8_t*& buffer);
  // Returns the number of records in the cursor's view (filters, range and
  // distinct applied).
  virtual std::int64_t GetRecordCount() = 0;
  // Reads the current, next or previous visible record into
  // CurrentRecordBuffer and its identity into CurrentRecordID, under the
  // table data's lock. Returns grrOK when a record was read; grrBOF or
  // grrEOF when there is none before or after the position; grrError when
  // the record could not be read. Repeated grmNext on a freshly opened
  // cursor delivers every visible record once, then a result other than
  // grrOK.
  virtual TVEZGetRecordResult GetRecordBuffer(TVEZGetRecordMode get_record_mode = grmCurrent) = 0;
  // Positions on the record of 1-based number value in the view.
  virtual void SetRecNo(std::int64_t value) = 0;
  // Returns the 1-based number of the current record in the view.
  virtual std::int64_t GetRecNo() = 0;
  // Returns the order of two records in the current index (or physical
  // order): <0, 0 or >0.
  virtual std::int32_t CompareRecordsOrder(const TVEZPageItemID& record_id1,
                                           const TVEZPageItemID& record_id2) = 0;
  // Stand before the first visible record (FirstPosition) / after the last
  // one (LastPosition).
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  // Begins a new record in CurrentRecordBuffer; nothing is stored before
  // InternalPost(true).
  virtual void InternalInsert() = 0;
  // Locks the current record for an edit; EditRecordBuffer keeps the record
  // as read, which InternalPost compares against. Refused: ErrorCode
  // cecTableLocked or cecRecordLocked.
  virtual void InternalEdit() = 0;
  // Ends the insert or edit under way without storing it. Refused in
  // temporary mode: ErrorCode cecCancelInTemporaryMode.
  virtual void InternalCancel(bool to_insert) = 0;
  // Stores CurrentRecordBuffer (insert or update) under the table's write
  // lock, with autoincrement values filled in and the constraints checked,
  // then releases the edit's record lock. A failure leaves the stored record
  // as it was and sets ErrorCode: cecInsertFailed, cecUpdateFailed,
  // cecUpdateRecordChanged, cecUpdateRecordDeleted, cecErrorMessage,
  // cecUpdateInTemporaryMode or cecTableLocked.
  virtual void InternalPost(bool to_insert) = 0;
  // Deletes the current record. A failure leaves it and sets ErrorCode:
  // cecDeleteFailed, cecDeleteRecordChanged, cecDeleteRecordDeleted,
  // cecDeleteInTemporaryMode, cecRecordLocked or cecTableLocked.
  virtual void InternalDelete() = 0;
  // True when another session holds the current record's lock. Takes no
  // lock.
  virtual bool IsRecordLocked() = 0;
  // Restricts the view to records distinct in these leading index columns
  // (lists as FindOrCreateIndex); sets DistinctFieldCount.
  virtual void ApplyDistinct(const std::vector<std::string>& field_names,
                             const std::vector<std::string>& asc_desc_list,
                             const std::vector<std::string>& case_sensitivity_list) = 0;
  // Parses filter_text into FilterExpression (owned by the implementation).
  // Raises the parser's error for text it cannot parse.
  virtual void ActivateFilters(const std::string& filter_text, bool case_insensitive,
                               bool partial_key) = 0;
  // Removes the dataset filter: FilterExpression is null afterwards.
  virtual void DeactivateFilters() = 0;
  // Positions on the first visible record whose key_fields (names separated
  // by ';') hold key_values (one value per field). Returns true when found.
  virtual bool Locate(const std::string& key_fields, const platform::Variant& key_values,
                      bool case_insensitive, bool partial_key) = 0;
  // Key search of KeyBuffer (KeyFieldCount fields) on the current index;
  // returns true when found, positioned on the record.
  virtual bool FindKey(TVEZSearchCondition search_condition) = 0;
  // True when a record has a value of field_name that stands in
  // data_operator to value.
  virtual bool IsAnyRecordMatchCondition(const std::string& field_name,
                                         TVEZDataOperator data_operator,
                                         const TVEZVariant& value) = 0;
  // Opens a BLOB stream on visible field field_no of the current record (or
  // of the record being inserted or edited). The stream is kept in
  // BLOBStreams (owned by the cursor) until InternalCloseBLOB or
  // ClearBLOBStreams; the result is a borrowed pointer. Null when a
  // multi-user disk table refuses the shared lock the open needs, or when the
  // current record cannot be read again first; other failures raise.
  virtual TVEZStream* InternalCreateBlobStream(bool to_insert, bool to_edit, std::int32_t field_no,
                                               TVEZBLOBOpenMode open_mode,
                                               bool can_do_get_record_buffer) = 0;
  // Writes the field's open write streams into the record image and frees
  // every stream of the field: pointers to them dangle afterwards.
  virtual void InternalCloseBLOB(std::int32_t field_no) = 0;
  // Frees all open BLOB streams (only the writing ones with write_only):
  // pointers to them dangle afterwards.
  virtual void ClearBLOBStreams(bool write_only) = 0;
  // Returns the table data's last autoincrement value of the field for this
  // cursor's session.
  virtual std::int64_t LastAutoincValue(std::int32_t field_no) = 0;
  // Starts a batch: changes collect in the session until EndBatchUpdate or
  // CancelBatchUpdate.
  virtual void BeginBatchUpdate() = 0;
  // Outside a transaction: applies (End) or drops (Cancel) the batch's
  // changes and ends the batch. Inside one both do nothing: the changes stay
  // with the transaction. End raises when the changes cannot be written.
  virtual void EndBatchUpdate() = 0;
  virtual void CancelBatchUpdate() = 0;
  // Returns whether CurrentRecordBuffer passes the table's constraints for
  // this session (with CurrentRecordID and, for an update, EditRecordBuffer
  // as the old record). A violation answers false and raises nothing.
  virtual bool CheckConstraints(bool to_insert) = 0;

  // ---- Operations of the base.

  const std::string& IndexName() const { return FIndexName; }
  // Stores the name; IndexID := ObjectID of the index def of that name in
  // IndexDefs (case-insensitive), or -1 when there is none.
  void SetIndexName(const std::string& name);

  std::int64_t RecordCount() { return GetRecordCount(); }

  // Copies visible field field_no of record_buffer into buffer in dataset
  // form (VEZRecordFieldData.h); false for NULL. A number outside the
  // visible fields raises 10005.
  bool GetFieldData(std::int32_t field_no, void* buffer, const std::uint8_t* record_buffer);
  // Writes buffer (dataset form; null or an empty string = NULL) into
  // visible field field_no of record_buffer. Outside the visible fields: 10006.
  void SetFieldData(std::int32_t field_no, const void* buffer, std::uint8_t* record_buffer);

  // Reads field field_no of CurrentRecordBuffer into value: a physical
  // number with direct_access (outside FieldDefs: 20191), else a visible one
  // (outside: 10317). A NULL field gives a NULL value of the field's type;
  // a string value ends at its terminator (within the field), any other
  // value takes the field's MemoryDataSize bytes. No current record buffer:
  // 20191 "Nil pointer occured".
  void GetFieldValue(TVEZVariant& value, std::int32_t field_no, bool direct_access);
  // Writes value into field field_no of record_buffer (CurrentRecordBuffer
  // when null); numbers as GetFieldValue with 20192 / 20193. A NULL value
  // sets the null bit and leaves the bytes. Otherwise value is converted in
  // place to the field's base type, checked against MemoryDataSize (20056
  // "Buffer size exceeded"), and only then written with the null bit
  // cleared, so a refused value leaves the record as it was.
  void SetFieldValue(TVEZVariant& value, std::int32_t field_no, bool direct_access,
                     std::uint8_t* record_buffer = nullptr);

  // Zero-fills the bytes after each string value (and the whole of a NULL
  // string field), so that two records holding equal values are byte-equal.
  void ClearStringFieldsGarbage(std::uint8_t* record_buffer) const;

  // A zero-filled block of RecordBufferSize bytes.
  std::uint8_t* AllocateRecordBuffer() const;
  // A block of KeyBufferSize bytes, not initialised.
  std::uint8_t* AllocateKeyRecordBuffer() const;
  // Zero-fills KeyBufferSize bytes of record_buffer, then InternalInitRecord
  // (record_buffer, false).
  void InternalInitKeyBuffer(std::uint8_t* record_buffer);

  // An opaque 8-byte position block (FirstPosition, LastPosition,
  // CurrentRecordID) from the engine memory manager.
  void* SavePosition() const;
  // REQUIRES: position came from SavePosition.
  void RestorePosition(const void* position);
  // Frees the block and sets position to null; nothing for null.
  void FreePosition(void*& position) const;

  // Clears the record bitmap, when there is one, so that the table data
  // rebuilds it when it is next needed.
  void DisableRecordBitmap();

  // Rebuilds VisibleFieldDefs from the named physical fields: the lists must
  // have the same length (10321) and must not be empty (10322); an unknown
  // name raises 10323 (the visible fields added so far stay). Each visible
  // def is a copy of its field with FieldNoReference = the physical number;
  // a non-empty alias becomes its name, made unique among the visible defs
  // with "_1", "_2" ... (at most 255 characters).
  void ApplyProjection(const std::vector<std::string>& field_names,
                       const std::vector<std::string>& alias_list);

  // The session id the cursor works for: its session's, -2 (the engine's
  // own) without a session.
  std::int32_t SessionID() const;
  bool IsIndexApplied() const { return IndexID != -1; }
  bool IsDistinctApplied() const { return DistinctFieldCount > 0; }
  bool IsFilterApplied() const {
    return FilterExpression != nullptr || static_cast<bool>(FilterRecord) ||
           SQLFilterExpression != nullptr;
  }
  bool IsRangeApplied() const { return RangeStartBuffer != nullptr || RangeEndBuffer != nullptr; }
  bool IsViewRestricted() const {
    return IsFilterApplied() || IsRangeApplied() || IsDistinctApplied();
  }

  // Both range buffers null, then DisableRecordBitmap.
  void ResetRange();
  // Stores the range (the buffers are referenced, not copied; they stay the
  // caller's), then DisableRecordBitmap.
  void ApplyRange(std::uint8_t* start_buffer, std::uint8_t* end_buffer,
                  std::int32_t start_key_field_count, std::int32_t end_key_field_count,
                  bool start_exclusive, bool end_exclusive);

  // Makes filter_expr the SQL filter (not owned) and, when not null, binds it
  // to this cursor and the parent operator and cursor of a correlated
  // subquery.
  void SetSQLFilter(TVEZBaseExpression* filter_expr, TVEZAO* parent_query_ao,
                    TVEZCursor* parent_cursor);

  TVEZFieldDefs& FieldDefs() { return FFieldDefs; }
  const TVEZFieldDefs& FieldDefs() const { return FFieldDefs; }
  TVEZFieldDefs& VisibleFieldDefs() { return FVisibleFieldDefs; }
  const TVEZFieldDefs& VisibleFieldDefs() const { return FVisibleFieldDefs; }
  TVEZIndexDefs& IndexDefs() { return *GetIndexDefs(); }
  TVEZConstraintDefs& ConstraintDefs() { return FConstraintDefs; }
  const TVEZConstraintDefs& ConstraintDefs() const { return FConstraintDefs; }
  // Open BLOB streams of the cursor, owned by it.
  const std::vector<std::unique_ptr<TVEZStream>>& BLOBStreams() const { return FBLOBStreams; }
  // The cursor's index position cache (owned by the implementation).
  TVEZIndexPositionCache* IndexPositionCache() const { return FIndexPositionCache; }

  // ---- State read and written by the storage engine and the upper layers.

  bool FSettingProjection = false;
  std::string TableName;
  std::int32_t IndexID = -1;
  bool ReadOnly = false;
  bool Exclusive = false;
  bool InMemory = false;               // a table of the memory engine
  bool Temporary = false;              // a temporary table
  TVEZBaseSession* Session = nullptr;  // not owned
  bool IsOpen = false;
  bool PhysicalOrder = false;                    // the implementation's
  void* CurrentRecordPositionInIndex = nullptr;  // the implementation's
  std::uint8_t* CurrentRecordBuffer = nullptr;
  std::uint8_t* DistinctRecordBuffer = nullptr;
  std::uint8_t* EditRecordBuffer = nullptr;
  TVEZCompression BLOBCompression;
  // Owned by the implementation (made when the table opens).
  TVEZRecordBitmap* RecordBitmap = nullptr;
  bool TableLockedByCursor = false;
  bool InBatchUpdate = false;
  bool FDisableTempFiles = false;
  bool IsRepairing = false;
  std::int32_t ErrorCode = cecOK;
  std::string ErrorMessage;
  bool IsDesignMode = false;
  std::int32_t RecordBufferSize = 0;
  std::int32_t RecordSize = 0;
  std::int32_t KeyBufferSize = 0;
  std::int32_t KeyOffset = 0;
  std::int32_t KeyFieldCount = 0;
  std::int32_t FieldValuesOffset = 0;
  std::int32_t CalculatedFieldsOffset = 0;
  // At BookmarkOffset a record buffer holds the record's TVEZPageItemID.
  std::int32_t BookmarkOffset = 0;
  // Not owned by the base: the implementation owns its dataset filter; the
  // SQL filter belongs to the statement that set it.
  TVEZBaseExpression* FilterExpression = nullptr;
  TVEZBaseExpression* SQLFilterExpression = nullptr;
  std::uint8_t* KeyBuffer = nullptr;
  std::uint8_t* RangeStartBuffer = nullptr;
  std::uint8_t* RangeEndBuffer = nullptr;
  bool RangeStartExclusive = false;
  bool RangeEndExclusive = false;
  std::int32_t RangeStartKeyFieldCount = 0;
  std::int32_t RangeEndKeyFieldCount = 0;
  std::int32_t DistinctFieldCount = 0;
  TVEZPageItemID CurrentRecordID;
  std::int32_t CurrentIndexID = -1;  // the implementation's
  bool FirstPosition = false;
  bool LastPosition = false;
  // The view shows the current index's order backwards: first is the index's
  // last record and a move forward goes back in the index (an index that
  // serves a descending order). A different index name clears it.
  bool ReverseOrder = false;
  // Steps of a restricted view in index order since its start that did not
  // come from the record bitmap (the table data's).
  std::int32_t IndexStepsWithoutBitmap = 0;
  TVEZFilterRecordEvent FilterRecord;
  void* Dataset = nullptr;  // the dataset that owns the cursor

 protected:
  // Physical field number of field_no, checked against the visible or the
  // physical defs; raises native_error with the field-number text.
  std::int32_t PhysicalFieldNo(std::int32_t field_no, bool direct_access,
                               std::int32_t physical_error, std::int32_t visible_error) const;

  std::string FIndexName;
  TVEZFieldDefs FFieldDefs;
  TVEZFieldDefs FVisibleFieldDefs;
  TVEZIndexDefs FIndexDefs;
  TVEZConstraintDefs FConstraintDefs;
  std::vector<std::unique_ptr<TVEZStream>> FBLOBStreams;
  TVEZIndexPositionCache* FIndexPositionCache = nullptr;
};

}  // namespace vez

// TVEZDataSet: the engine's dataset component over a cursor. It names a
// database (DatabaseName) and optionally a session (SessionName); the
// database is attached while at least one database-use flag is set and let
// go of when the last one is cleared. Table and query components derive
// from it and supply the cursor (CreateHandle).
//
// Database-use flags: 0 cursor open, 1 query prepared, 2 query statement
// running, 3 table created/deleted/emptied/renamed, 4 field definitions of a
// closed table read, 5 index added/deleted or refreshed, 10 provider
// transaction, 11 table repair, 15 a projection reopening the dataset.
//
// Record buffers have the cursor's layout: null flags and column values,
// the 7-byte bookmark area at the cursor's BookmarkOffset (page number Int32,
// item number UInt16, flag byte: 0 current, 1 before first, 2 after last, 3
// being inserted), then the calculated-field area of CalcFieldsSize bytes at
// CalculatedFieldsOffset. A bookmark handed out is the 6-byte record id plus
// one zero byte (BookmarkSize 7). A record being inserted carries id -1/-1.
//
// Key buffers (six, KeyBufferSize bytes each, for the table component's key
// search and ranges) hold at KeyOffset: Modified (1 byte), Exclusive (1
// byte), FieldCount (Int32, 0 = all index columns).
//
// Failed edit, post, delete and cancel raise EVEZEngineError with the
// cursor's result code and keep the dataset's state and buffers. An
// operation that needs the cursor and finds none raises EVEZException
// "Nil pointer occured" with a number of its own.
//
// Not built: the provider interface (nothing in the system calls it and the
// platform dataset has none) and form-file streaming of definitions.
//
// Thread safety: a dataset is used by one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/api/VEZAdvancedDefs.h"
#include "dbengine/api/VEZBaseDataSet.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/storage/VEZConstraintDef.h"
#include "dbengine/storage/VEZFieldDef.h"
#include "dbengine/storage/VEZIndexDef.h"
#include "platform/dataset/DataSet.h"
#include "platform/dataset/FieldDefs.h"

namespace vez {

class TVEZAO;
class TVEZBaseExpression;
class TVEZCursor;
class TVEZDatabase;
class TVEZSession;
class TVEZStream;

class TVEZDataSet : public platform::DataSet, public TVEZBaseDataSet {
 public:
  // Index of each key buffer in KeyBuffers.
  enum TVEZKeyIndex : int {
    kiLookup = 0,
    kiRangeStart = 1,
    kiRangeEnd = 2,
    kiCurRangeStart = 3,
    kiCurRangeEnd = 4,
    kiSave = 5
  };
  static constexpr int kKeyBufferCount = 6;
  static constexpr int kBookmarkSize = 7;
  // Key state bytes at KeyOffset of a key buffer.
  static constexpr int kKeyModifiedOffset = 0;
  static constexpr int kKeyExclusiveOffset = 1;
  static constexpr int kKeyFieldCountOffset = 2;

  explicit TVEZDataSet(platform::Component* owner = nullptr);
  ~TVEZDataSet() override;

  // ---- TVEZBaseDataSet
  // Closes the dataset and clears every database-use flag, so the database
  // no longer lists it.
  void Disconnect() override;
  bool IsQuery() const override { return false; }
  std::string GetSessionName() const override { return FSessionName; }
  // REQUIRES closed: raises the dataset's "cannot perform on an open
  // dataset" error otherwise.
  void SetSessionName(const std::string& session_name) override;

  const std::string& DatabaseName() const { return FDatabaseName; }
  // REQUIRES closed, and no database attached ("Cannot perform this
  // operation on an open database"). "MEMORY" in any letter case sets
  // InMemory, any other name clears it.
  void SetDatabaseName(const std::string& value);
  bool InMemory() const { return FInMemory; }
  // REQUIRES closed. True also names the database "MEMORY".
  void SetInMemory(bool value);
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value) { FReadOnly = value; }
  bool StoreDefs() const { return FStoreDefs; }
  void SetStoreDefs(bool value) { FStoreDefs = value; }
  // The engine version, "7.50 ".
  static std::string CurrentVersion();

  // The cursor while open, else null.
  TVEZCursor* Handle() const { return FHandle; }
  // The database in use while any flag is set, else null.
  TVEZDatabase* Database() const { return FDatabase; }
  // The attached database's session; else the session named SessionName
  // when there is one; else the default session.
  TVEZSession* DBSession() const;
  // The names of DBSession's databases, in its order.
  void GetDatabaseNameList(std::vector<std::string>& list) const;
  bool DBFlag(int flag) const;
  std::uint16_t DBFlags() const { return FDBFlags; }

  // Sets or clears one database-use flag (0..15). Setting the first one
  // attaches the database (the dataset joins its dataset list); clearing
  // the last one detaches it, which may close the database. A failed attach
  // leaves the flag clear.
  virtual void SetDBFlag(int flag, bool value);

  // ---- definitions
  platform::IndexDefs& IndexDefs() { return FIndexDefs; }
  TVEZAdvFieldDefs& AdvFieldDefs() { return FAdvFieldDefs; }
  TVEZAdvIndexDefs& AdvIndexDefs() { return FAdvIndexDefs; }
  TVEZAdvFieldDefs& RestructureFieldDefs() { return FRestructureFieldDefs; }
  TVEZAdvIndexDefs& RestructureIndexDefs() { return FRestructureIndexDefs; }
  TVEZFieldDefs& VEZFieldDefs() { return FVEZFieldDefs; }
  TVEZIndexDefs& VEZIndexDefs() { return FVEZIndexDefs; }
  TVEZConstraintDefs& VEZConstraintDefs() { return FVEZConstraintDefs; }
  // Sum of the memory sizes of the current index's columns.
  int KeySize() const { return FKeySize; }
  int IndexFieldCount() const { return FIndexFieldCount; }
  // Per column of the current index its 1-based physical column number (0
  // when the name is not a column).
  const std::vector<std::uint16_t>& IndexFieldMap() const { return FIndexFieldMap; }

  // ---- the platform dataset's public operations
  void SetActive(bool value) override;
  void SetRecNo(int value) override;
  bool BookmarkValid(const platform::TBookmark& bookmark) override;
  int CompareBookmarks(const platform::TBookmark& bookmark1,
                       const platform::TBookmark& bookmark2) override;
  bool GetFieldData(const platform::Field& field, void* buffer) override;
  void SetFieldData(platform::Field& field, const void* buffer) override;
  using platform::DataSet::GetFieldData;
  using platform::DataSet::SetFieldData;
  void DataConvert(const platform::Field& field, const void* source, void* dest,
                   bool to_native) override;
  // A TVEZBLOBStream over the field of the active record. A writing mode on
  // a read-only dataset raises 10107. When the cursor gives no stream the
  // dataset refreshes once and tries again; still none raises.
  std::unique_ptr<platform::Stream> CreateBlobStream(platform::Field& field,
                                                     platform::TBlobStreamMode mode) override;
  void SetFilterText(const std::string& value) override;
  void SetFiltered(bool value) override;
  void SetFilterOptions(platform::TFilterOptions value) override;
  void SetOnFilterRecord(TFilterRecordEvent handler) override;
  bool Locate(const std::string& key_fields, const platform::Variant& key_values,
              platform::TLocateOptions options) override;
  platform::Variant Lookup(const std::string& key_fields, const platform::Variant& key_values,
                           const std::string& result_fields) override;

  // ---- engine-level values (the SQL engine's; field numbers 0-based,
  // physical with direct_access, else visible)
  void GetFieldValue(TVEZVariant& value, std::int32_t field_no, bool direct_access);
  void SetFieldValue(TVEZVariant& value, std::int32_t field_no, bool direct_access);
  void CopyFieldValue(std::int32_t src_field_no, bool use_direct_field_access,
                      std::int32_t dest_field_no, TVEZDataSet* dest_dataset);

  // ---- SQL engine hooks
  // The expression (not owned) becomes the cursor's SQL filter.
  void SetSQLFilter(TVEZBaseExpression* filter_expr, TVEZAO* parent_query_ao,
                    TVEZCursor* parent_cursor);
  // Restricts and renames the cursor's visible columns and reopens the
  // dataset on the same cursor. A failed reopen frees the cursor and leaves
  // the dataset closed.
  void ApplyProjection(const std::vector<std::string>& field_names,
                       const std::vector<std::string>& alias_list);

  // ---- BLOB streams (used by TVEZBLOBStream)
  // The cursor's stream (owned by the cursor) for the field of the active
  // record, or null when the cursor refused it.
  TVEZStream* OpenFieldBlobStream(platform::Field& field, platform::TBlobStreamMode mode);
  void CloseBlob(platform::Field& field) override;
  // The field-change notice of a BLOB stream that wrote into the field.
  void BlobFieldChanged(platform::Field& field);

  // The record buffer the current state works on (see the state list in
  // the implementation); null when there is none.
  platform::TRecordBuffer GetActiveRecordBuffer() const;
  // True while the cursor has a current index.
  bool HasCurrentIndex() const;

 protected:
  // The cursor to open with; the base has none. Ownership: the dataset
  // frees it in DestroyHandle unless it is the external cursor.
  virtual TVEZCursor* CreateHandle() { return nullptr; }
  // Frees the dataset's own cursor; forgets an external one.
  virtual void DestroyHandle();
  // The last step of opening; the base does nothing.
  virtual void ApplyMasterRange() {}

  // A cursor owned by someone else, used instead of CreateHandle's.
  void SetExternalHandle(TVEZCursor* cursor) { FExternalHandle = cursor; }

  // The session named SessionName, asked to open DatabaseName for this
  // dataset's owner.
  TVEZDatabase& OpenDatabase();
  // One user less of database (null: nothing).
  void CloseDatabase(TVEZDatabase* database);
  // Moves a database known only to the default session into the session
  // this dataset names.
  void SyncDatabaseSession();

  // ---- record buffers and bookmarks
  platform::TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(platform::TRecordBuffer& buffer) override;
  void GetBookmarkData(platform::TRecordBuffer buffer, std::uint8_t* data) override;
  void SetBookmarkData(platform::TRecordBuffer buffer, const std::uint8_t* data) override;
  platform::TBookmarkFlag GetBookmarkFlag(platform::TRecordBuffer buffer) override;
  void SetBookmarkFlag(platform::TRecordBuffer buffer, platform::TBookmarkFlag value) override;
  platform::TGetResult GetRecord(platform::TRecordBuffer buffer, platform::TGetMode mode,
                                 bool do_check) override;
  int GetRecordSize() override;
  bool GetCurrentRecord(platform::TRecordBuffer buffer) override;
  void InitRecord(platform::TRecordBuffer buffer) override;
  void InternalInitRecord(platform::TRecordBuffer buffer) override;
  void ClearCalcFields(platform::TRecordBuffer buffer) override;

  // ---- cursor hooks
  bool IsCursorOpen() override { return FHandle != nullptr; }
  void OpenCursor(bool info_query) override;
  void CloseCursor() override;
  void InternalOpen() override;
  void InternalClose() override;
  void InternalInitFieldDefs() override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalGotoBookmark(const std::uint8_t* bookmark) override;
  void InternalSetToRecord(platform::TRecordBuffer buffer) override;
  void InternalAddRecord(platform::TRecordBuffer buffer, bool append) override;
  void InternalInsert() override;
  void InternalEdit() override;
  void InternalPost() override;
  void InternalCancel() override;
  void InternalDelete() override;
  void InternalRefresh() override;
  bool GetCanModify() override { return platform::DataSet::GetCanModify() && !FReadOnly; }
  int GetRecordCount() override;
  int GetRecNo() override;
  bool GetIsIndexField(const platform::Field& field) override;
  bool FindRecord(bool restart, bool go_forward) override;
  // The cursor's key initialisation (zero-filled, then an empty record).
  void InitKeyBuffer(platform::TRecordBuffer buffer, int size) override;
  platform::TRecordBuffer InitKeyBuffer(platform::TRecordBuffer buffer);

  // ---- key buffers and the current index
  // Allocates and initialises the six key buffers; on a failure those made
  // are freed and the error passes on.
  void AllocKeyBuffers();
  void FreeKeyBuffers();
  platform::TRecordBuffer KeyBuffers(int index) const {
    return FKeyBuffers[static_cast<std::size_t>(index)];
  }
  bool KeyModified(const std::uint8_t* key) const;
  void SetKeyModified(std::uint8_t* key, bool value) const;
  bool KeyExclusive(const std::uint8_t* key) const;
  void SetKeyExclusive(std::uint8_t* key, bool value) const;
  std::int32_t KeyFieldCount(const std::uint8_t* key) const;
  void SetKeyFieldCount(std::uint8_t* key, std::int32_t value) const;
  // Range reset; true when a range was in force (buffers 3 and 4 are then
  // re-initialised).
  bool ResetCursorRange();
  // Makes index_name the cursor's index (the range reset first).
  void SwitchToIndex(const std::string& index_name);
  // KeySize, IndexFieldCount and the map from the cursor's index (10325
  // when the cursor's index definitions lack it).
  void BuildIndexFieldMap();

  // ---- filters and search
  // Stores text and options; on an active filtered dataset re-applies the
  // filter and moves to the first record. A text that does not parse stays
  // stored and the error passes on.
  void SetFilterData(const std::string& text, platform::TFilterOptions options);
  void ActivateFilters();
  void DeactivateFilters();
  // The dataset's verdict on one record (OnFilterRecord when active).
  bool InternalFilterRecord(platform::TRecordBuffer buffer);
  // The callback the cursor calls: dataset's InternalFilterRecord.
  static bool FilterRecord(std::uint8_t* buffer, void* dataset);
  // Positions the cursor on the record; the dataset does not move. The
  // found record is in the spare buffer.
  bool LocateRecord(const std::string& key_fields, const platform::Variant& key_values,
                    platform::TLocateOptions options);

  // ---- date and time forms
  // Converts a date, time, date-time or time-stamp field's value between
  // the exchange form and the engine form (see DataConvert).
  void ConvertDateTimeValue(const platform::Field& field, const void* source, bool to_native,
                            void* dest);

  // Raises EVEZException(number, "Nil pointer occured") without a cursor.
  TVEZCursor& CheckHandle(std::int32_t number) const;
  // The cursor's result of the last record operation, raised as
  // EVEZEngineError when not 0.
  void CheckEngineResult();
  // Frees the edit copy when there is one.
  void FreeEditRecordBuffer();
  // The position in Fields of the data field with that 1-based column
  // number; -1 when none.
  int FieldIndexOfFieldNo(int field_no) const;

  TVEZCursor* FHandle = nullptr;
  TVEZCursor* FExternalHandle = nullptr;
  // The record as it was when editing began (from a successful InternalEdit
  // until post, cancel or close).
  std::uint8_t* FEditRecordBuffer = nullptr;
  // The record a filter handler or a locate looks at (state dsFilter).
  std::uint8_t* FFilterBuffer = nullptr;
  std::array<std::uint8_t*, kKeyBufferCount> FKeyBuffers{};
  std::vector<std::uint16_t> FIndexFieldMap;
  int FIndexFieldCount = 0;
  int FKeySize = 0;
  bool FIsRefreshing = false;
  bool FIgnoreDesignMode = false;
  // Set by a CreateHandle that already read the field definitions of the
  // cursor it made: the open that follows need not read them again.
  bool FFieldDefsReadFromNewHandle = false;
  // Set while a CreateHandle reads the definitions of a cursor it has just
  // opened, which has made its own definitions already.
  bool FCursorFieldDefsFresh = false;

  platform::IndexDefs FIndexDefs;
  TVEZFieldDefs FVEZFieldDefs;
  TVEZIndexDefs FVEZIndexDefs;
  TVEZConstraintDefs FVEZConstraintDefs;
  TVEZAdvFieldDefs FAdvFieldDefs;
  TVEZAdvIndexDefs FAdvIndexDefs;
  TVEZAdvFieldDefs FRestructureFieldDefs;
  TVEZAdvIndexDefs FRestructureIndexDefs;

 private:
  // Clears every flag at once, detaching the database.
  void DetachAll();
  void ApplyFilterCallback();

  std::string FSessionName;
  std::string FDatabaseName;
  std::uint16_t FDBFlags = 0;
  TVEZDatabase* FDatabase = nullptr;
  bool FInMemory = false;
  bool FReadOnly = false;
  bool FStoreDefs = false;
};

}  // namespace vez

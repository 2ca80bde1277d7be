// TVEZTable: the dataset over one stored table, named by TableName in the
// database named by DatabaseName. Besides reading and writing rows (the
// dataset component) it creates, deletes, empties and renames its table,
// adds and drops indexes, reads records in the order of one index chosen by
// name (IndexName) or by field list (IndexFieldNames), searches that index
// by key (FindKey, FindNearest), restricts it to a key range (SetRange) and
// follows a master dataset's current record (MasterSource, MasterFields).
//
// Schema operations work through a short-lived cursor of their own in the
// database's session, so they run on a closed table; each holds one
// database-use flag for its duration (3 table, 4 field definitions, 5
// indexes, 11 repair), which attaches the database and lets it go again.
// Every flag taken is cleared and every temporary cursor freed on every
// path, also when the operation raises. Schema changes are refused inside a
// transaction before anything changes (20175..20183; EmptyTable is allowed).
//
// Key buffers (the dataset's six): 0 lookup key, 1 range start, 2 range end,
// 3 range start in force, 4 range end in force, 5 saved copy while a key is
// edited. Each holds at KeyOffset its state: Modified (1 byte), Exclusive (1
// byte), FieldCount (Int32 LE; 0 means all index columns).
//
// Key searches and ranges re-read the dataset's records under the shared
// table lock (ltS, up to 900 tries 100 ms apart through the installed clock)
// so no writer of another process changes the table meanwhile; when the lock
// is refused they re-read without it. A refused lock never fails them.
//
// Not built: form-file streaming.
//
// Thread safety: a table is used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dbengine/api/VEZDataSet.h"
#include "dbengine/api/VEZTableExport.h"
#include "platform/core/Variant.h"
#include "platform/dataset/DataSource.h"
#include "platform/dataset/FieldDefs.h"
#include "platform/dataset/Params.h"
#include "platform/ui/EngineUi.h"

namespace vez {

class TVEZLocalCursor;
class TVEZAdvFieldDefs;
class TVEZAdvIndexDefs;

class TVEZTable : public TVEZDataSet {
 public:
  // Lock waits: AddIndex's exclusive lock, the searches' shared one.
  static constexpr std::int32_t kIndexLockTryCount = 50;
  static constexpr std::int32_t kIndexLockDelayMS = 100;
  static constexpr std::int32_t kReadLockTryCount = 900;
  static constexpr std::int32_t kReadLockDelayMS = 100;
  // The indexed size an index column of an unsized type gets.
  static constexpr std::int32_t kUnsizedIndexColumnSize = 20;

  explicit TVEZTable(platform::Component* owner = nullptr);
  ~TVEZTable() override;

  // ---- properties
  const std::string& TableName() const { return FTableName; }
  // REQUIRES closed when the name changes; the index definitions are then
  // out of date.
  void SetTableName(const std::string& value);
  bool Exclusive() const { return FExclusive; }
  void SetExclusive(bool value);
  bool Temporary() const { return FTemporary; }
  // REQUIRES closed; true also names the temporary database "TEMP".
  void SetTemporary(bool value);
  bool DisableTempFiles() const { return FDisableTempFiles; }
  void SetDisableTempFiles(bool value) { FDisableTempFiles = value; }
  // Whether the database holds the table. False for an empty DatabaseName,
  // a name no database component or alias answers to, or a database whose
  // file does not exist; any other failure (an unreadable catalogue, an I/O
  // error) raises, so it cannot be taken for a missing table.
  bool Exists();

  // ---- table operations (closed table unless said otherwise)
  // Makes the table from AdvFieldDefs when there are any, else from
  // FieldDefs (and likewise AdvIndexDefs / IndexDefs); an existing table of
  // that name is replaced. 30499 for a column without a name, 30453 for a
  // sized column of size 0, 20257 for a bad BLOB compression mode, 20182 in
  // a transaction.
  void CreateTable();
  // Closes an open table first. 20183 in a transaction.
  void DeleteTable();
  // Removes every row (allowed in a transaction).
  void EmptyTable();
  // 20181 in a transaction (TableName stays); afterwards TableName is the
  // new name.
  void RenameTable(const std::string& new_table_name);
  // Opens the table exclusively for the rename and closes it again. 20179 in
  // a transaction.
  void RenameField(const std::string& field_name, const std::string& new_field_name);

  // ---- index operations (open or closed table)
  // 20046 for an empty name, 20047 for empty fields, 20175 in a
  // transaction, 20228 when the table cannot be locked exclusively (another
  // user has it open) after kIndexLockTryCount tries.
  void AddIndex(const std::string& name, const std::string& fields,
                platform::TIndexOptions options = 0, const std::string& desc_fields = {},
                const std::string& case_ins_fields = {});
  // 20177 in a transaction.
  void DeleteIndex(const std::string& name);
  // 20178 in a transaction.
  void DeleteAllIndexes();
  // REQUIRES open (10311): an index over these columns, made when none fits.
  std::string FindOrCreateIndex(const std::vector<std::string>& field_names,
                                const std::vector<std::string>& asc_desc_list,
                                const std::vector<std::string>& case_sensitivity_list,
                                bool& is_created);
  // REQUIRES open (10514).
  bool IndexExists(const std::vector<std::string>& field_names,
                   const std::vector<std::string>& asc_desc_list,
                   const std::vector<std::string>& case_sensitivity_list);

  // ---- other
  // Another session holds the current record's lock; false when closed.
  bool IsRecordLocked();
  // REQUIRES open.
  std::int64_t LastAutoincValue(std::int32_t field_index);
  std::int64_t LastAutoincValue(const std::string& field_name);
  // Opens the table in repair mode once, which lets the storage repair it.
  void RepairTable();

  // ---- index choice
  // The index name, empty while a field list chose the index.
  std::string IndexName() const { return FFieldsIndex ? std::string() : FIndexName; }
  void SetIndexName(const std::string& value) { SetIndex(value, false); }
  // The field list, empty while a name chose the index.
  std::string IndexFieldNames() const { return FFieldsIndex ? FIndexName : std::string(); }
  void SetIndexFieldNames(const std::string& value) { SetIndex(value, !value.empty()); }
  // "Field index out of range" outside 0..IndexFieldCount()-1; "Cannot
  // access index field '%s'" when the dataset has no field of that column.
  platform::Field& GetIndexField(int index);
  void SetIndexField(int index, const platform::Field& value);
  // REQUIRES open (10319): restricts the view to distinct values of these
  // columns over an index found or made for them.
  void ApplyDistinct(const std::vector<std::string>& field_names,
                     const std::vector<std::string>& asc_desc_list,
                     const std::vector<std::string>& case_sensitivity_list);
  // Takes over the index and distinct columns of ds's cursor.
  void ApplyDistinct(TVEZDataSet& ds);

  // ---- key editing (state dsSetKey until Post or Cancel)
  void SetKey() { SetKeyBuffer(kiLookup, true); }
  void EditKey() { SetKeyBuffer(kiLookup, false); }
  void SetRangeStart() { SetKeyBuffer(kiRangeStart, true); }
  void SetRangeEnd() { SetKeyBuffer(kiRangeEnd, true); }
  void EditRangeStart() { SetKeyBuffer(kiRangeStart, false); }
  void EditRangeEnd() { SetKeyBuffer(kiRangeEnd, false); }
  // Readable and writable only in dsSetKey.
  bool KeyExclusive();
  void SetKeyExclusive(bool value);
  int KeyFieldCount();
  void SetKeyFieldCount(int value);

  // ---- key search
  // Moves to the first record whose leading index columns equal the key;
  // false (and no move) when none does.
  bool GotoKey();
  void GotoNearest();
  bool FindKey(std::span<const platform::Variant> key_values);
  bool FindKey(std::initializer_list<platform::Variant> key_values) {
    return FindKey(std::span<const platform::Variant>(key_values.begin(), key_values.size()));
  }
  // Moves to the first record at or after the key (after it when the key is
  // exclusive); to the last record when none is.
  void FindNearest(std::span<const platform::Variant> key_values);
  void FindNearest(std::initializer_list<platform::Variant> key_values) {
    FindNearest(std::span<const platform::Variant>(key_values.begin(), key_values.size()));
  }

  // ---- ranges
  void SetRange(std::span<const platform::Variant> start_values,
                std::span<const platform::Variant> end_values);
  void SetRange(std::initializer_list<platform::Variant> start_values,
                std::initializer_list<platform::Variant> end_values) {
    SetRange(std::span<const platform::Variant>(start_values.begin(), start_values.size()),
             std::span<const platform::Variant>(end_values.begin(), end_values.size()));
  }
  // Puts the edited range (buffers 1 and 2) in force and goes to its first
  // record; nothing when that range is already in force.
  void ApplyRange();
  void CancelRange();

  // ---- master/detail
  platform::DataSource* MasterSource() const { return FMasterLink->GetDataSource(); }
  // "Circular datalinks are not allowed" when source follows this table.
  void SetMasterSource(platform::DataSource* source);
  const std::string& MasterFields() const { return FMasterLink->FieldNames(); }
  void SetMasterFields(const std::string& value) { FMasterLink->SetFieldNames(value); }
  platform::DataSource* GetDataSource() const override { return MasterSource(); }

  // ---- data-provider interface
  const std::string& PSGetTableName() const { return FTableName; }
  // A non-empty text becomes TableName.
  void PSSetCommandText(const std::string& text);
  // The fields that identify a row: the first unique or primary index whose
  // fields the dataset has (any index while it has no fields), when the
  // table exists; else every field, joined by ';'.
  std::string PSGetKeyFields();
  // Copies of the index definitions with any of these options (all of them
  // for none).
  std::vector<platform::IndexDef> PSGetIndexDefs(platform::TIndexOptions index_types);
  // The order rows are handed out in: the chosen index when the dataset has
  // all its fields, else the first primary, else the first unique one whose
  // fields it has; nothing when none fits.
  std::optional<platform::IndexDef> PSGetDefaultOrder();
  // With parameters: opens the table and restricts it to the rows whose
  // index columns equal them (a named parameter sets the field of its name,
  // an unnamed one index column i). Without: an open table drops its range.
  // The rows are then read again, keeping the range.
  void PSSetParams(const platform::Params& params);

  // ---- dataset overrides
  void DataEvent(platform::TDataEvent event, std::intptr_t info) override;

  // ---- bulk copies: restructure, import, export, copy (VEZTableCopy.cpp)
  // Before/After events get the table; a progress event gets the table, the
  // percent done and a flag it clears to stop the copy. Without a handler the
  // engine UI's wait window shows the progress (not for a temporary table or
  // a database in SilentMode). Log lines end in CR LF.
  using TVEZDataSetNotifyEvent = std::function<void(platform::DataSet& sender)>;
  using TVEZProgressEvent =
      std::function<void(platform::DataSet& sender, int percent_done, bool& cont)>;
  TVEZDataSetNotifyEvent BeforeCopy, AfterCopy, BeforeImport, AfterImport, BeforeExport,
      AfterExport, BeforeRestructure, AfterRestructure, BeforeBatchMove, AfterBatchMove;
  TVEZProgressEvent OnCopyProgress, OnImportProgress, OnExportProgress, OnRestructureProgress,
      OnBatchMoveProgress;
  void InternalBeforeCopy(platform::DataSet& sender);
  void InternalOnCopyProgress(platform::DataSet& sender, int percent_done, bool& cont);
  void InternalAfterCopy(platform::DataSet& sender);
  void InternalBeforeImport(platform::DataSet& sender);
  void InternalOnImportProgress(platform::DataSet& sender, int percent_done, bool& cont);
  void InternalAfterImport(platform::DataSet& sender);
  void InternalBeforeExport(platform::DataSet& sender);
  void InternalOnExportProgress(platform::DataSet& sender, int percent_done, bool& cont);
  void InternalAfterExport(platform::DataSet& sender);
  void InternalBeforeRestructure(platform::DataSet& sender);
  void InternalOnRestructureProgress(platform::DataSet& sender, int percent_done, bool& cont);
  void InternalAfterRestructure(platform::DataSet& sender);
  void InternalBeforeBatchMove(platform::DataSet& sender);
  void InternalOnBatchMoveProgress(platform::DataSet& sender, int percent_done, bool& cont);
  void InternalAfterBatchMove(platform::DataSet& sender);
  // REQUIRES closed. Recreates the table from source's definitions (and
  // index_defs' indexes with fields) and copies its rows under the table
  // data's lock. True exactly when nothing was added to log.
  bool ImportTable(platform::DataSet& source_table, std::string& log,
                   const platform::IndexDefs* index_defs);
  bool ImportTable(platform::DataSet& source_table);
  // Gives destination this table's definitions, calls create_table, opens it
  // and copies every row into it. True exactly when nothing was added to log.
  bool ExportTable(platform::DataSet& destination_table, const std::function<void()>& create_table,
                   std::string& log);
  bool ExportTable(platform::DataSet& destination_table, const std::function<void()>& create_table);
  // Copies the table (RestructureFieldDefs, with copy_indexes its indexes) as
  // new_table_name into this database (empty file name), the memory database
  // ("MEMORY") or another file. A copy onto itself is refused (30447).
  bool CopyTable(const std::string& new_table_name, std::string& log, bool& cont,
                 const std::string& dest_database_file_name,
                 const std::string& dest_database_password, bool ignore_errors,
                 bool overwrite_existing_table, bool copy_indexes, int min_progress,
                 int max_progress);
  bool CopyTable(const std::string& new_table_name, const std::string& dest_database_file_name,
                 const std::string& dest_database_password);
  // REQUIRES closed. Rebuilds the table with RestructureFieldDefs and
  // RestructureIndexDefs and copies its rows (by column object id, else by
  // name). The old table is "OLD_<name>_<GUID>" during the copy; any failure
  // gives it its name back. Once every row is copied the restructure stands
  // even if the old copy cannot be deleted (it stays, logged).
  bool RestructureTable(std::string& log);
  bool RestructureTable();

  // ---- SQL script export and batch move (VEZTableExport.cpp)
  TVEZExportToSqlOptions& ExportToSqlOptions() { return FExportToSqlOptions; }
  // REQUIRES closed (left closed, also when it raises). Writes the table as a
  // script of the engine's SQL, as ExportToSqlOptions says: DROP and CREATE
  // TABLE with columns and indexes, one INSERT per record, CR LF line
  // breaks, a final line break. Numbers are written in their shortest form
  // that reads back to the same value; binary values as MimeToBin('<base64>').
  // The stream gets the engine's single-byte text.
  void ExportToSQL(platform::Stream& stream);
  // To a new file (an existing one is truncated).
  void ExportToSQL(const std::string& file_name);
  // The script as text.
  std::string ExportToSQL();
  // Merges source's records into the table, matched by the key index: the
  // one named, else the first primary, else one over the common columns
  // (made for the move and dropped again). The table is created from
  // source's definitions when missing, and recreated for bmtCopy. A record
  // that cannot be inserted is passed over and counted; errors of updates,
  // deletes and lookups pass on. Both datasets go back to their records.
  void BatchMove(TVEZDataSet& source, TVEZBatchMoveType move_type,
                 const std::string& key_index_name = {});
  // Records the last BatchMove could not insert.
  std::int64_t LastBatchMoveSkipped() const { return FLastBatchMoveSkipped; }

 private:
  void WriteSQLScript(const std::function<void(std::string_view)>& sink);
  // Assigns each source field the table has a definition of.
  void CopyBatchMoveRecord(platform::DataSet& source);
  TVEZExportToSqlOptions FExportToSqlOptions;
  std::int64_t FLastBatchMoveSkipped = 0;
  // ---- end of SQL script export and batch move

 protected:
  TVEZCursor* CreateHandle() override;
  void ApplyMasterRange() override;
  void InternalInitFieldDefs() override;
  void UpdateIndexDefs() override;
  void PostKeyBuffer(bool commit) override;

  // A new cursor on the table, opened with the table's settings; the
  // caller owns it. Raises (nothing left) when the table cannot be opened.
  std::unique_ptr<TVEZLocalCursor> OpenTableCursor();
  // "Missing TableName property" for a blank name.
  void CheckTableName() const;

  void SetIndex(const std::string& value, bool fields_index);
  // The index name a choice stands for: Value itself, or for a field list
  // the index the index definitions find for it (raising when none fits).
  std::string ResolveIndexName(const std::string& value, bool fields_index);
  void SetKeyBuffer(int key_index, bool clear);
  using platform::DataSet::SetKeyBuffer;
  // Puts values into the index fields of key buffer key_index.
  void SetKeyFields(int key_index, std::span<const platform::Variant> values);
  // Puts the edited range in force in the cursor; false when it is already.
  bool SetCursorRange();
  void SetLinkRanges(const std::vector<platform::Field*>& master_fields);
  void CheckMasterRange();
  void MasterChanged();
  void MasterDisabled();
  // Fills the master's values and BLOB defaults into a new record.
  void DoOnNewRecord() override;
  // The key-state accessors of a given key buffer.
  using TVEZDataSet::KeyExclusive;
  using TVEZDataSet::KeyFieldCount;
  using TVEZDataSet::SetKeyExclusive;
  using TVEZDataSet::SetKeyFieldCount;

  // ---- bulk copies (VEZTableCopy.cpp)
  // No wait window: a temporary table or a database in SilentMode.
  bool QuietBulkOperation();
  void DefaultBefore(const char* caption);
  void DefaultProgress(int percent_done, bool& cont);
  void DefaultAfter();
  std::unique_ptr<platform::WaitWindow> FWaitWindow;

 private:
  // A cursor for a schema operation: not exclusive unless said, read-write,
  // in the database's session.
  std::unique_ptr<TVEZLocalCursor> NewSchemaCursor(bool exclusive);
  // The session of the attached database is in a transaction.
  bool InTransaction() const;
  // Raises 20175..20183 for `operation` when in a transaction.
  void CheckNotInTransaction(std::int32_t native_error, const char* operation) const;
  bool CursorDisablesTempFiles() const;
  void NormalizeAdvFieldDefs();
  void ValidateAdvFieldDefs();
  void NormalizeIndexColumnSizes();
  void ApplyBlobDefaults();
  // The cursor for index operations: the open table's or a new one.
  TVEZCursor& IndexCursor(std::unique_ptr<TVEZLocalCursor>& temporary);
  // Re-reads the records under the shared table lock when it is granted.
  template <typename F>
  void UnderReadLock(F&& reread);
  // A key search and its re-read in one shared-lock bracket, so the storage
  // neither locks nor revalidates its page cache again in between and no
  // writer moves the found row before it is read. Only when the lock is free
  // at once: false (nothing run) otherwise, and the caller searches and
  // waits for the re-read's lock on its own.
  template <typename F>
  bool UnderFreeReadLock(F&& search_and_reread);
  // Points the cursor at the lookup key and its column count.
  void PrepareCursorKey();
  void CheckSetKeyMode();

  std::string FTableName;
  bool FExclusive = false;
  bool FTemporary = false;
  std::string FIndexName;
  bool FFieldsIndex = false;
  std::unique_ptr<platform::MasterDataLink> FMasterLink;
  bool FDisableTempFiles = false;
  bool FIsRepairing = false;
};

}  // namespace vez

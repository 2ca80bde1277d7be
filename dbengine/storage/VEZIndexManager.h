// The indexes of one table. TVEZIndex is one open index (its one kind is the
// B-tree record index); TVEZBaseIndexManager, owned by the table data, owns
// the table's index defs and its open index objects: it opens indexes on
// demand by object id, creates and drops them, builds temporary indexes for
// one session, and keeps every index in step when a record is inserted,
// updated or deleted.
//
// Index ids are the defs' ObjectIDs, handed out by the database data, so they
// are unique across the database. Positions in an index are key paths
// (VEZKeyPath.h). A temporary index lives for one session in the temporary
// page manager and is never stored in the table's metadata.
//
// Thread safety: none of its own; callers hold the table data's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZIndexDef.h"

namespace vez {

class TVEZCursor;
class TVEZFieldDefs;
class TVEZBaseRecordManager;
class TVEZIndexPositionCache;
class TVEZKeyRecordSource;
class TVEZKeyPath;
class TVEZPageManager;
class TVEZRecordBitmap;
class TVEZScanSearchCondition;
class TVEZStream;
class TVEZTableData;
class TVEZBaseIndexManager;

// The state an index keeps between the steps of one condition search.
class TVEZIndexSearchInfo {
 public:
  TVEZIndexSearchInfo() = default;
  virtual ~TVEZIndexSearchInfo() = default;
  TVEZIndexSearchInfo(const TVEZIndexSearchInfo&) = delete;
  TVEZIndexSearchInfo& operator=(const TVEZIndexSearchInfo&) = delete;

  // The index position of the entry the last step returned; null when the
  // index keeps none (the caller then finds it by the record).
  virtual const TVEZKeyPath* FoundPosition() const { return nullptr; }
};

class TVEZIndex {
 public:
  // No def yet. index_manager (not owned) must outlive the index.
  explicit TVEZIndex(TVEZBaseIndexManager* index_manager) : FIndexManager(index_manager) {}
  virtual ~TVEZIndex();
  TVEZIndex(const TVEZIndex&) = delete;
  TVEZIndex& operator=(const TVEZIndex&) = delete;

  const TVEZIndexDef* IndexDef() const { return FIndexDef.get(); }
  TVEZIndexDef* IndexDef() { return FIndexDef.get(); }
  TVEZBaseIndexManager* IndexManager() const { return FIndexManager; }

  // Builds the index over the table's records for cursor and sets
  // index_def's RootPageNo. Base: keeps a copy of index_def (unless it is
  // already the index's own def); implementations call it first.
  virtual void CreateIndex(TVEZCursor* cursor, TVEZIndexDef& index_def);
  // Frees the index's pages.
  virtual void DropIndex(std::int32_t session_id) = 0;
  // Removes every entry.
  virtual void EmptyIndex(std::int32_t session_id) = 0;
  // Opens an existing index. Base: replaces the copy of the def by a copy of
  // index_def; implementations call it first.
  virtual void OpenIndex(const TVEZIndexDef& index_def);
  // Builds a temporary index again from the table's records.
  virtual void RebuildTemporaryIndex(TVEZCursor* cursor) = 0;
  // First, last, next or prior record in index order (the record manager
  // reads it into info.RecordBuffer).
  virtual void GetRecordBuffer(std::int32_t session_id, TVEZNavigationInfo& info,
                               TVEZIndexPositionCache* cache, std::int32_t table_state) = 0;
  // The record nearest to where info.RecordID stood, when it is gone.
  virtual void GetClosestRecordBuffer(std::int32_t session_id, TVEZNavigationInfo& info,
                                      TVEZIndexPositionCache* cache, std::int32_t table_state) = 0;
  virtual std::unique_ptr<TVEZKeyPath> CreateIndexPosition() = 0;
  // The position of record record_id (whose memory record is record).
  virtual bool GetIndexPosition(std::int32_t session_id, TVEZPageItemID record_id,
                                const std::uint8_t* record, TVEZKeyPath& position) = 0;
  virtual std::int32_t CompareRecordPositionsInIndex(const TVEZKeyPath& position1,
                                                     const TVEZKeyPath& position2) = 0;
  virtual std::int64_t GetRecNoByRecordID(std::int32_t session_id, TVEZPageItemID record_id,
                                          const std::uint8_t* record) = 0;
  virtual TVEZPageItemID GetRecordIDByRecNo(std::int32_t session_id, std::int64_t rec_no) = 0;
  virtual void ApplyDistinctToRecordBitmap(std::int32_t session_id, TVEZRecordBitmap& bitmap,
                                           std::int32_t distinct_field_count) = 0;
  virtual std::unique_ptr<TVEZIndexSearchInfo> CreateSearchInfo() = 0;
  // The next record within the conditions (end may be null).
  virtual bool FindRecord(std::int32_t session_id, bool restart, bool go_forward,
                          const TVEZScanSearchCondition* start_condition,
                          const TVEZScanSearchCondition* end_condition, std::uint8_t* record,
                          TVEZPageItemID& record_id, TVEZIndexSearchInfo* search_info) = 0;
  // Order of two memory records over the first index_field_count columns.
  virtual std::int32_t CompareRecordBuffersByIndex(const std::uint8_t* record1,
                                                   const std::uint8_t* record2,
                                                   std::int32_t index_field_count) = 0;
  virtual std::int32_t CompareConditions(const TVEZScanSearchCondition& condition1,
                                         const TVEZScanSearchCondition& condition2) = 0;
  virtual std::int64_t GetApproxRangeRecordCount(std::int32_t session_id,
                                                 std::int64_t table_record_count,
                                                 const TVEZScanSearchCondition* condition1,
                                                 const TVEZScanSearchCondition* condition2) = 0;
  // Whether the record may be added without breaking the index's uniqueness.
  virtual bool CanInsertRecord(std::int32_t session_id, const std::uint8_t* record) = 0;
  virtual bool CanUpdateRecord(std::int32_t session_id, const std::uint8_t* old_record,
                               const std::uint8_t* new_record) = 0;
  // Entries of the cursor's CurrentRecordBuffer / CurrentRecordID.
  virtual void InsertRecord(TVEZCursor& cursor) = 0;
  virtual void DeleteRecord(TVEZCursor& cursor) = 0;
  virtual void UpdateRecord(TVEZCursor& cursor, bool before_new_record_is_stored) = 0;
  virtual std::int32_t GetMaxEntriesPerPage() = 0;
  // Bytes one entry takes on an index page, for the cost of a scan; 0 when
  // the index cannot tell (the cost then takes a page's share per entry).
  virtual std::int32_t GetEntrySize() { return 0; }
  virtual void GetRecordIDByIndexPosition(std::int32_t session_id, const TVEZKeyPath& position,
                                          TVEZPageItemID& record_id) = 0;

 protected:
  std::unique_ptr<TVEZIndexDef> FIndexDef;
  TVEZBaseIndexManager* FIndexManager;
};

class TVEZBaseIndexManager {
 public:
  // Empty defs, nothing open; the page manager is the table data's.
  // temporary_page_manager (may be null) holds temporary indexes.
  TVEZBaseIndexManager(TVEZTableData* table_data, TVEZPageManager* temporary_page_manager);
  // Closes every open index, then frees the defs.
  virtual ~TVEZBaseIndexManager();
  TVEZBaseIndexManager(const TVEZBaseIndexManager&) = delete;
  TVEZBaseIndexManager& operator=(const TVEZBaseIndexManager&) = delete;

  TVEZTableData* TableData() const { return FTableData; }
  // The table's records and their layout, as the indexes read them.
  TVEZBaseRecordManager* RecordManager() const;
  TVEZKeyRecordSource* KeyRecordSource() const;
  TVEZIndexDefs& IndexDefs() { return FIndexDefs; }
  const TVEZIndexDefs& IndexDefs() const { return FIndexDefs; }
  TVEZPageManager* PageManager() const { return FPageManager; }
  TVEZPageManager* TemporaryPageManager() const { return FTemporaryPageManager; }

  // The def list's stream form (temporary defs are not stored).
  virtual void LoadMetadata(TVEZStream& stream);
  virtual void SaveMetadata(TVEZStream& stream) const;
  // The def list becomes a copy of index_defs.
  virtual void CreateIndexDefs(const TVEZIndexDefs& index_defs);

  // The temporary page manager for a temporary index (when there is one),
  // else the table's.
  TVEZPageManager* GetPageManager(const TVEZIndex& index) const;

  // TVEZIndexDefs::FindIndex / IsIndexExists over the manager's defs.
  std::int32_t FindIndex(const std::vector<std::string>& field_names,
                         const std::vector<std::string>& asc_desc_list,
                         const std::vector<std::string>& case_sensitivity_list,
                         std::int32_t session_id, const TVEZFieldDefs* field_defs) const;
  bool IsIndexExists(const std::vector<std::string>& field_names,
                     const std::vector<std::string>& asc_desc_list,
                     const std::vector<std::string>& case_sensitivity_list, std::int32_t session_id,
                     const TVEZFieldDefs* field_defs) const;

  // The open index of that id, or null.
  TVEZIndex* FindOpenIndex(std::int32_t index_id) const;
  // The open index of that id, opening it when needed (20018 when no def
  // has that id). The index stays owned by the manager.
  TVEZIndex* OpenIndex(std::int32_t index_id);
  // Frees the open index of that id; nothing when it is not open.
  void CloseIndex(std::int32_t index_id);

  // index_def gets a new object id of the database; a copy is appended to
  // the defs and the index is built over the table's records (with
  // RootPageNo copied back). A failed build removes the def again. Returns
  // the id; the caller keeps index_def.
  std::int32_t CreateIndex(TVEZCursor* cursor, TVEZIndexDef& index_def);
  // Builds every def's index, in list order (a new table).
  void CreateIndexesByIndexDefs(TVEZCursor* cursor);
  // A temporary index "TEMPORARY_INDEX_<GUID>" of cursor's session over the
  // named columns (see TVEZIndexDef::AssignByNames); returns its id.
  std::int32_t CreateTemporaryIndex(TVEZCursor* cursor, const std::vector<std::string>& field_names,
                                    const std::vector<std::string>& asc_desc_list,
                                    const std::vector<std::string>& case_sensitivity_list);
  // An index that serves the columns, else a new temporary one (is_created).
  std::int32_t FindOrCreateIndex(TVEZCursor* cursor, const std::vector<std::string>& field_names,
                                 const std::vector<std::string>& asc_desc_list,
                                 const std::vector<std::string>& case_sensitivity_list,
                                 bool& is_created);
  // Frees the index's pages, closes it and deletes its def.
  void DropIndex(std::int32_t session_id, std::int32_t index_id);
  // Removes every entry of the index, then closes it.
  void EmptyIndex(std::int32_t session_id, std::int32_t index_id);
  void EmptyAllIndexes(std::int32_t session_id);

  // Reads the record at info in the order of index info.IndexID: the current
  // record is read again first; when it is gone the index finds the closest.
  void GetRecordBuffer(std::int32_t session_id, TVEZNavigationInfo& info,
                       TVEZIndexPositionCache* cache, std::int32_t table_state);

  // Keep every index in step with the cursor's current record; each def's
  // TableState counts the change (wrapping).
  void InsertRecord(TVEZCursor& cursor);
  void UpdateRecord(TVEZCursor& cursor, bool before_new_record_is_stored);
  void DeleteRecord(TVEZCursor& cursor);
  // Rebuilds every temporary index whose TableState differs from the
  // table's; is_changed when one was rebuilt. Does nothing when called again
  // while it runs.
  void SynchronizeTemporaryIndexes(TVEZCursor* cursor, bool& is_changed);

  // Index columns on field_name (case-insensitive) take new_field_name; the
  // defs of open indexes are not changed.
  void RenameField(const std::string& field_name, const std::string& new_field_name);

 protected:
  // A new, unopened index object of the one kind this engine builds.
  virtual std::unique_ptr<TVEZIndex> NewIndex();

 private:
  TVEZIndex* InternalOpenIndex(std::int32_t index_id);
  void InternalCreateIndex(TVEZCursor* cursor, TVEZIndexDef& index_def);
  std::int32_t CurrentTableState() const;

  TVEZTableData* FTableData;
  TVEZIndexDefs FIndexDefs;
  std::vector<std::unique_ptr<TVEZIndex>> FOpenIndexList;
  TVEZPageManager* FPageManager;
  TVEZPageManager* FTemporaryPageManager;
  bool FSynchronizingTemporaryIndexes = false;
};

}  // namespace vez

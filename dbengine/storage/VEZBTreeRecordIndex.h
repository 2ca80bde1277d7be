// TVEZBTreeRecordIndex: one index of a table as a B-tree whose leaf entries are
// (short key of a record, the record's 6-byte TVEZPageItemID). It keeps the
// tree in step with the table's records, walks records in index order, runs
// the range scans of scan conditions, maps record numbers, checks unique
// indexes and applies distinct filters to record bitmaps.
//
// Positions are key paths (VEZKeyPath.h). A path names pages and entry
// numbers, so it is only good while the tree is unchanged: a cursor's cached
// position is reused only at the table state it was taken at, and a range
// scan that finds the table state changed between two steps finds its place
// again by the last entry it returned instead of following old page
// references.
//
// The tree's pages come from the index manager's page manager for this index
// (the temporary one for a temporary index). The root page keeps its number
// for the life of the tree (RootPageNo in the index def; -1: no tree).
//
// Failure: an operation that raises midway may leave changed pages in the
// session's dirty list (see VEZBTreePage.h); the table data's record change
// rolls them back to its savepoint (VEZTableData.h).
//
// Thread safety: none; the table data's lock serialises calls.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dbengine/storage/VEZBTreeKey.h"
#include "dbengine/storage/VEZBTreePage.h"
#include "dbengine/storage/VEZIndexManager.h"
#include "dbengine/storage/VEZKeyPath.h"

namespace vez {

// The state of one range scan between FindRecord calls.
class TVEZBTreeSearchInfo : public TVEZIndexSearchInfo {
 public:
  bool Started = false;
  std::unique_ptr<TVEZKeyPath> EndPosition;
  TVEZKeyPath Position;
  // Where the scan stands, by content: the table state at the last step and
  // the entry returned then.
  std::int32_t TableState = 0;
  std::vector<std::uint8_t> Key;
  std::uint8_t Reference[TVEZPageItemID::kSize] = {};
  // The entry's record as it was, for keys whose stored parts are cut: the
  // record itself may be gone when the place is sought again.
  std::vector<std::uint8_t> Record;

  const TVEZKeyPath* FoundPosition() const override { return Started ? &Position : nullptr; }
};

class TVEZBTreeRecordIndex : public TVEZIndex {
 public:
  explicit TVEZBTreeRecordIndex(TVEZBaseIndexManager* index_manager);

  TVEZRecordKeyRef& KeyRef() { return FKeyRef; }

  // A new empty tree, then one entry per stored record when cursor is given:
  // read through a local cursor of the session layer when one is registered,
  // else straight from the record manager (the same records in the same
  // order). RootPageNo goes to index_def and the own copy.
  void CreateIndex(TVEZCursor* cursor, TVEZIndexDef& index_def) override;
  // 20119 / 20120 without a tree.
  void DropIndex(std::int32_t session_id) override;
  void EmptyIndex(std::int32_t session_id) override;
  void OpenIndex(const TVEZIndexDef& index_def) override;
  void RebuildTemporaryIndex(TVEZCursor* cursor) override;
  // grmCurrent raises 20053; 20123 without a tree. See TVEZIndex.
  void GetRecordBuffer(std::int32_t session_id, TVEZNavigationInfo& info,
                       TVEZIndexPositionCache* cache, std::int32_t table_state) override;
  // The first entry with a key above (grmNext) or the last below the key of
  // info.RecordBuffer. 20293 without a tree.
  void GetClosestRecordBuffer(std::int32_t session_id, TVEZNavigationInfo& info,
                              TVEZIndexPositionCache* cache, std::int32_t table_state) override;
  std::unique_ptr<TVEZKeyPath> CreateIndexPosition() override;
  // 20124 without a tree.
  bool GetIndexPosition(std::int32_t session_id, TVEZPageItemID record_id,
                        const std::uint8_t* record, TVEZKeyPath& position) override;
  std::int32_t CompareRecordPositionsInIndex(const TVEZKeyPath& position1,
                                             const TVEZKeyPath& position2) override;
  // -1 when the entry is not in the tree.
  std::int64_t GetRecNoByRecordID(std::int32_t session_id, TVEZPageItemID record_id,
                                  const std::uint8_t* record) override;
  // 20074 on an empty tree, 20075 past the last entry or below 1.
  TVEZPageItemID GetRecordIDByRecNo(std::int32_t session_id, std::int64_t rec_no) override;
  // Of each run of entries equal on the first distinct_field_count columns
  // only the first one the bitmap shows stays shown.
  void ApplyDistinctToRecordBitmap(std::int32_t session_id, TVEZRecordBitmap& bitmap,
                                   std::int32_t distinct_field_count) override;
  std::unique_ptr<TVEZIndexSearchInfo> CreateSearchInfo() override;
  // One step of a range scan; see the class comment for a changed table.
  // 20077 without search info, 20078 for a restart of a started scan.
  bool FindRecord(std::int32_t session_id, bool restart, bool go_forward,
                  const TVEZScanSearchCondition* start_condition,
                  const TVEZScanSearchCondition* end_condition, std::uint8_t* record,
                  TVEZPageItemID& record_id, TVEZIndexSearchInfo* search_info) override;
  std::int32_t CompareRecordBuffersByIndex(const std::uint8_t* record1, const std::uint8_t* record2,
                                           std::int32_t index_field_count) override;
  // Orders the two bounds of a range: -1 when condition1 is the lower bound
  // (scGreater, scGreaterEqual) and condition2 the upper one (scLower,
  // scLowerEqual), 1 the other way round, 0 when they do not form a range.
  std::int32_t CompareConditions(const TVEZScanSearchCondition& condition1,
                                 const TVEZScanSearchCondition& condition2) override;
  // 20125 without a tree; never negative, never above table_record_count.
  std::int64_t GetApproxRangeRecordCount(std::int32_t session_id, std::int64_t table_record_count,
                                         const TVEZScanSearchCondition* condition1,
                                         const TVEZScanSearchCondition* condition2) override;
  // 20126 without a tree.
  bool CanInsertRecord(std::int32_t session_id, const std::uint8_t* record) override;
  bool CanUpdateRecord(std::int32_t session_id, const std::uint8_t* old_record,
                       const std::uint8_t* new_record) override;
  // 20127 without a tree.
  void InsertRecord(TVEZCursor& cursor) override;
  // 20027 when the entry is missing.
  void DeleteRecord(TVEZCursor& cursor) override;
  // Moves the entry from EditRecordBuffer's key to CurrentRecordBuffer's:
  // deleted before the record is stored (20250 when missing), inserted after.
  void UpdateRecord(TVEZCursor& cursor, bool before_new_record_is_stored) override;
  std::int32_t GetMaxEntriesPerPage() override;
  // A short key and a record identity.
  std::int32_t GetEntrySize() override;
  void GetRecordIDByIndexPosition(std::int32_t session_id, const TVEZKeyPath& position,
                                  TVEZPageItemID& record_id) override;

 private:
  TVEZPageManager* Pages() const;
  TVEZBTreePageHolder Root(std::int32_t session_id, std::int32_t no_tree_error);
  TVEZBTreePageHolder Page(std::int32_t session_id, std::int32_t page_no);
  void LayoutKey();
  std::vector<std::uint8_t> ShortKey(const std::uint8_t* record);
  bool GotoNextPosition(std::int32_t session_id, TVEZKeyPath& path);
  bool GotoPriorPosition(std::int32_t session_id, TVEZKeyPath& path);
  void GetReferenceAtPosition(std::int32_t session_id, const TVEZKeyPath& path,
                              std::uint8_t* reference);
  TVEZPageItemID RecordIDAt(std::int32_t session_id, const TVEZKeyPath& path);
  // Fills info from the entry at path and reads its record.
  void ReadEntry(std::int32_t session_id, TVEZNavigationInfo& info, const TVEZKeyPath& path,
                 TVEZIndexPositionCache* cache, std::int32_t table_state);
  void InsertEntry(std::int32_t session_id, const std::uint8_t* record, TVEZPageItemID record_id);
  bool PositionAtScanStart(std::int32_t session_id, bool restart, bool go_forward,
                           const TVEZScanSearchCondition* condition, const std::uint8_t* record,
                           TVEZPageItemID record_id, TVEZBTreeSearchInfo& info);
  bool PositionAtScanEnd(std::int32_t session_id, bool go_forward,
                         const TVEZScanSearchCondition* start_condition,
                         const TVEZScanSearchCondition* end_condition, TVEZBTreeSearchInfo& info);
  // Finds the scan's place again after the table changed: the entry after
  // (go_forward) or before the one last returned.
  bool Reseek(std::int32_t session_id, bool go_forward, TVEZBTreeSearchInfo& info);
  void RememberEntry(std::int32_t session_id, TVEZBTreeSearchInfo& info);
  std::int32_t CurrentTableState() const;

  // Where the last scan step landed, so that the next move of a cursor over
  // the same range goes on from there instead of seeking its start, its end
  // and the current entry again (three descents per row).
  struct TScanResume {
    bool Valid = false;
    std::int32_t SessionID = -1;
    std::int32_t TableState = 0;
    std::int32_t RootPageNo = -1;
    bool GoForward = true;
    std::vector<std::uint8_t> Bounds;
    std::uint8_t Reference[TVEZPageItemID::kSize] = {};
    TVEZKeyPath Position;
    bool HasEnd = false;
    std::uint8_t EndReference[TVEZPageItemID::kSize] = {};
    TVEZKeyPath EndPosition;
  };
  // The scan's bounds as bytes that decide its start and end; false when
  // they cannot be told apart by bytes (partial or cut keys).
  bool ScanBounds(const TVEZScanSearchCondition* start_condition,
                  const TVEZScanSearchCondition* end_condition, std::vector<std::uint8_t>& bounds);
  bool ResumeScan(std::int32_t session_id, bool go_forward,
                  const TVEZScanSearchCondition* start_condition,
                  const TVEZScanSearchCondition* end_condition, TVEZPageItemID record_id,
                  TVEZBTreeSearchInfo& info);
  void KeepScanResume(std::int32_t session_id, bool go_forward,
                      const TVEZScanSearchCondition* start_condition,
                      const TVEZScanSearchCondition* end_condition,
                      const TVEZBTreeSearchInfo& info);
  static bool SamePath(const TVEZKeyPath& a, const TVEZKeyPath& b);
  // True when the leaf entry at path holds reference.
  bool EntryHolds(std::int32_t session_id, const TVEZKeyPath& path, const std::uint8_t* reference);
  void ForgetScanResume() { FScanResume.Valid = false; }

  TVEZRecordKeyRef FKeyRef;
  TScanResume FScanResume;
  std::vector<std::uint8_t> FScanBoundsScratch;  // kept to spare an allocation per move
};

}  // namespace vez

// TVEZDiskTablePagesCacheManager: lets a session trust cached pages without
// reading their state from the file while it holds a shared or read-write
// lock on the table it works with and has loaded that table's state from the
// most-updated file. The disk page manager stamps each page it checked for a
// session with the work table's id and state; a page is trusted only when
// both match the session's current work table.
//
// Per (session, table): unlocked (counts 0, state -1, not loaded) -> locked
// (a count above 0) -> loaded -> unlocked again when both counts return to 0.
//
// Thread safety: none; callers hold the database data's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace vez {

// One table as one session sees it.
class TVEZDTPCTableInfo {
 public:
  explicit TVEZDTPCTableInfo(std::int32_t table_id) : TableID(table_id) {}

  void TableIsSLocked();
  void TableIsSUnlocked();
  void TableIsRWLocked();
  void TableIsRWUnlocked();
  bool GetIsMostUpdatedLoaded() const { return IsMostUpdatedLoaded; }
  // Only the first load of a lock period counts.
  void SetIsMostUpdatedLoaded(std::int32_t table_state);
  bool IsTableLockedFromModification() const { return TableSLockCount + TableRWLockCount > 0; }

  std::int32_t TableID;
  std::int32_t TableSLockCount = 0;
  std::int32_t TableRWLockCount = 0;
  bool IsMostUpdatedLoaded = false;
  std::int32_t TableState = -1;

 private:
  void Reset();
};

// One session: its tables in order of first use and the stack of tables it
// works with (the last is the current one).
class TVEZDTPCSessionInfo {
 public:
  TVEZDTPCTableInfo& GetTableInfo(std::int32_t table_id);
  void BeginWorkWithTable(std::int32_t table_id);
  void EndWorkWithTable(std::int32_t table_id);
  // False (and nothing set) without a work table; otherwise table_id and
  // state are the work table's, and the result says whether its pages may be
  // trusted (locked and loaded).
  bool GetWorkTableState(std::int32_t& table_id, std::int32_t& work_table_state);

 private:
  std::vector<std::unique_ptr<TVEZDTPCTableInfo>> table_info_;
  std::vector<std::int32_t> work_table_ids_;
};

class TVEZDiskTablePagesCacheManager {
 public:
  void TableIsSLocked(std::int32_t session_id, std::int32_t table_id);
  void TableIsSUnlocked(std::int32_t session_id, std::int32_t table_id);
  void TableIsRWLocked(std::int32_t session_id, std::int32_t table_id);
  void TableIsRWUnlocked(std::int32_t session_id, std::int32_t table_id);
  bool GetIsMostUpdatedLoaded(std::int32_t session_id, std::int32_t table_id);
  void SetIsMostUpdatedLoaded(std::int32_t session_id, std::int32_t table_id,
                              std::int32_t table_state);
  void BeginWorkWithTable(std::int32_t session_id, std::int32_t table_id);
  void EndWorkWithTable(std::int32_t session_id, std::int32_t table_id);
  bool GetWorkTableState(std::int32_t session_id, std::int32_t& table_id,
                         std::int32_t& work_table_state);
  // The session places (session id + 2), for tests.
  std::size_t SessionPlaces() const { return session_info_.size(); }

 private:
  // Raises EVEZException 20186 for a session id below -2.
  TVEZDTPCSessionInfo& Session(std::int32_t session_id);

  std::vector<std::unique_ptr<TVEZDTPCSessionInfo>> session_info_;
};

}  // namespace vez

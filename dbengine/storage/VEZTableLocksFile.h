// TVEZTableLocksFile: the lock bytes of one table, in a direct internal file
// (page type 7) of 12 * M bytes for M = MaxSessionCount:
//   byte t * M + s        lock type t (ltIS .. ltU) held by session s;
//   byte 5 * M + s        also session s's record lock byte;
//   6 * M + 6 * s .. + 5  the record session s has locked (PageNo Int32,
//                         PageItemNo UInt16).
// ltX has no byte: an exclusive lock is the file lock kept (byte 0 of the
// first page), which the lock manager holds around every check-and-lock.
//
// Thread safety: none; callers hold the table lock manager's lock.
#pragma once

#include <cstdint>
#include <memory>

#include "dbengine/foundation/VEZTypes.h"

namespace vez {

class TVEZDiskPageManager;
class TVEZInternalDBDirectAccessFile;

// Whether a lock of kind requested may be granted while another session
// holds held (symmetric).
bool IsLockCompatible(TVEZLockType held, TVEZLockType requested);

class TVEZTableLocksFile {
 public:
  explicit TVEZTableLocksFile(TVEZDiskPageManager* page_manager);
  ~TVEZTableLocksFile();
  TVEZTableLocksFile(const TVEZTableLocksFile&) = delete;
  TVEZTableLocksFile& operator=(const TVEZTableLocksFile&) = delete;

  // Creates the file as session -2 and keeps the handle; the pages reach the
  // file at that session's commit, and the handle is usable once opened.
  std::int32_t CreateFile(std::int32_t max_session_count);
  void DeleteFile();
  void OpenFile(std::int32_t start_page_no);
  void CloseFile();
  // Raises 10483 when not open.
  std::int32_t StartPageNo() const;
  std::int32_t MaxSessionCount() const { return max_session_count_; }

  // Without a handle these raise "Nil pointer occured" (10489 .. 10494).
  // LockTable raises 20200 for a session number outside the file; ltX gives
  // false and touches nothing.
  bool LockTable(std::int32_t session_id, TVEZLockType lock_type);
  bool UnlockTable(std::int32_t session_id, TVEZLockType lock_type);
  bool IsTableLockedByAnyOtherSession(std::int32_t session_id, TVEZLockType lock_type);
  bool IsTableLockAllowed(std::int32_t session_id, TVEZLockType lock_type,
                          bool allow_xirw_after_sirw);
  bool LockRecord(std::int32_t session_id, const TVEZPageItemID& record_id);
  bool UnlockRecord(std::int32_t session_id, const TVEZPageItemID& record_id);
  bool IsRecordLockedByAnyOtherSession(std::int32_t session_id, const TVEZPageItemID& record_id);
  bool LockFile();
  bool UnlockFile();

 private:
  TVEZInternalDBDirectAccessFile& Handle(std::int32_t nil_error) const;
  void CheckSession(std::int32_t session_id) const;
  // Whether any other session's byte of the row starting at base is held.
  bool OthersHold(TVEZInternalDBDirectAccessFile& file, std::int32_t base, std::int32_t session_id);

  TVEZDiskPageManager* page_manager_;
  std::unique_ptr<TVEZInternalDBDirectAccessFile> handle_;
  std::int32_t max_session_count_ = 0;
};

}  // namespace vez

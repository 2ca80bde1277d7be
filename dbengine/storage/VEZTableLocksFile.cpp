#include "dbengine/storage/VEZTableLocksFile.h"

#include <algorithm>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "dbengine/storage/VEZInternalDBFile.h"
#include "platform/core/CheckedMath.h"

namespace vez {

namespace {

// Row: held kind, column: requested kind (ltIS .. ltX).
constexpr bool kCompatible[7][7] = {
    {1, 1, 1, 1, 1, 1, 0}, {1, 1, 1, 1, 0, 1, 0}, {1, 1, 1, 0, 1, 1, 0}, {1, 1, 0, 0, 0, 1, 0},
    {1, 0, 1, 0, 0, 1, 0}, {1, 1, 1, 1, 1, 1, 0}, {0, 0, 0, 0, 0, 0, 0},
};

EVEZException NilPointer(std::int32_t native_error) {
  return EVEZException(native_error, "Nil pointer occured");
}

}  // namespace

bool IsLockCompatible(TVEZLockType held, TVEZLockType requested) {
  if (held > ltX || requested > ltX) return false;
  return kCompatible[held][requested];
}

TVEZTableLocksFile::TVEZTableLocksFile(TVEZDiskPageManager* page_manager)
    : page_manager_(page_manager) {}

TVEZTableLocksFile::~TVEZTableLocksFile() = default;

std::int32_t TVEZTableLocksFile::CreateFile(std::int32_t max_session_count) {
  auto handle =
      std::make_unique<TVEZInternalDBDirectAccessFile>(page_manager_, kPageTypeTableLocks);
  handle->CreateFile(platform::CheckedMul<std::int32_t>(12, max_session_count));
  max_session_count_ = max_session_count;
  handle_ = std::move(handle);
  return handle_->StartPageNo();
}

void TVEZTableLocksFile::DeleteFile() {
  Handle(10483).DeleteFile(-1);
}

void TVEZTableLocksFile::OpenFile(std::int32_t start_page_no) {
  auto handle =
      std::make_unique<TVEZInternalDBDirectAccessFile>(page_manager_, kPageTypeTableLocks);
  handle->OpenFile(start_page_no);
  // Only bytes the chain really holds count.
  max_session_count_ = std::max(0, std::min(handle->StoredSizeAtOpen(), handle->FileSize())) / 12;
  handle_ = std::move(handle);
}

void TVEZTableLocksFile::CloseFile() {
  handle_.reset();
  max_session_count_ = 0;
}

std::int32_t TVEZTableLocksFile::StartPageNo() const {
  return Handle(10483).StartPageNo();
}

TVEZInternalDBDirectAccessFile& TVEZTableLocksFile::Handle(std::int32_t nil_error) const {
  if (!handle_) throw NilPointer(nil_error);
  return *handle_;
}

void TVEZTableLocksFile::CheckSession(std::int32_t session_id) const {
  if (session_id < 0 || session_id >= max_session_count_)
    throw EVEZException(20200,
                        "Cannot set table lock. Try to repair database or to increase number of "
                        "allowed connections");
}

bool TVEZTableLocksFile::OthersHold(TVEZInternalDBDirectAccessFile& file, std::int32_t base,
                                    std::int32_t session_id) {
  return file.IsRegionLocked(base, session_id) ||
         file.IsRegionLocked(base + session_id + 1, max_session_count_ - session_id - 1);
}

bool TVEZTableLocksFile::LockTable(std::int32_t session_id, TVEZLockType lock_type) {
  TVEZInternalDBDirectAccessFile& file = Handle(10489);
  CheckSession(session_id);
  if (lock_type >= ltX) return false;
  return file.LockByte(lock_type * max_session_count_ + session_id);
}

bool TVEZTableLocksFile::UnlockTable(std::int32_t session_id, TVEZLockType lock_type) {
  TVEZInternalDBDirectAccessFile& file = Handle(10494);
  if (lock_type >= ltX) return false;
  CheckSession(session_id);
  return file.UnlockByte(lock_type * max_session_count_ + session_id);
}

bool TVEZTableLocksFile::IsTableLockedByAnyOtherSession(std::int32_t session_id,
                                                        TVEZLockType lock_type) {
  TVEZInternalDBDirectAccessFile& file = Handle(10490);
  if (lock_type >= ltX) return false;
  CheckSession(session_id);
  return OthersHold(file, lock_type * max_session_count_, session_id);
}

bool TVEZTableLocksFile::IsTableLockAllowed(std::int32_t session_id, TVEZLockType lock_type,
                                            bool allow_xirw_after_sirw) {
  TVEZInternalDBDirectAccessFile& file = Handle(10490);
  CheckSession(session_id);
  const auto obstacle = [&](int h) {
    const auto held = static_cast<TVEZLockType>(h);
    return !IsLockCompatible(held, lock_type) &&
           !(allow_xirw_after_sirw && lock_type == ltXIRW && held == ltSIRW);
  };
  // Obstacle kinds next to each other have one block of bytes: one probe of
  // the block answers for all of them when nobody holds any of its bytes (the
  // usual case); only a held block is asked per kind without this session's
  // bytes. ltX has no byte (its holder keeps the guard).
  const std::int32_t m = max_session_count_;
  for (int first = ltIS; first < ltX;) {
    if (!obstacle(first)) {
      ++first;
      continue;
    }
    int end = first + 1;
    while (end < ltX && obstacle(end))
      ++end;
    if (file.IsRegionLocked(first * m, (end - first) * m)) {
      for (int h = first; h < end; ++h)
        if (OthersHold(file, h * m, session_id)) return false;
    }
    first = end;
  }
  return true;
}

bool TVEZTableLocksFile::LockRecord(std::int32_t session_id, const TVEZPageItemID& record_id) {
  TVEZInternalDBDirectAccessFile& file = Handle(10491);
  CheckSession(session_id);
  if (!file.LockByte(5 * max_session_count_ + session_id)) return false;
  std::uint8_t raw[6];
  record_id.Encode(raw);
  try {
    file.WriteBuffer(raw, 6, 6 * max_session_count_ + 6 * session_id);
  } catch (...) {
    // A byte without its record would block the session's record locks for
    // as long as the handle lives.
    try {
      file.UnlockByte(5 * max_session_count_ + session_id);
    } catch (...) {
    }
    throw;
  }
  return true;
}

bool TVEZTableLocksFile::UnlockRecord(std::int32_t session_id,
                                      const TVEZPageItemID& /*record_id*/) {
  TVEZInternalDBDirectAccessFile& file = Handle(10492);
  CheckSession(session_id);
  return file.UnlockByte(5 * max_session_count_ + session_id);
}

bool TVEZTableLocksFile::IsRecordLockedByAnyOtherSession(std::int32_t session_id,
                                                         const TVEZPageItemID& record_id) {
  TVEZInternalDBDirectAccessFile& file = Handle(10493);
  CheckSession(session_id);
  const std::int32_t base = 5 * max_session_count_;
  if (!OthersHold(file, base, session_id)) return false;
  for (std::int32_t i = 0; i < max_session_count_; ++i) {
    if (i == session_id || !file.IsByteLocked(base + i)) continue;
    std::uint8_t raw[6];
    file.ReadBuffer(raw, 6, 6 * max_session_count_ + 6 * i);
    const TVEZPageItemID held = TVEZPageItemID::Decode(raw);
    if (held.PageNo == record_id.PageNo && held.PageItemNo == record_id.PageItemNo) return true;
  }
  return false;
}

bool TVEZTableLocksFile::LockFile() {
  return Handle(10483).LockFile();
}

bool TVEZTableLocksFile::UnlockFile() {
  return Handle(10483).UnlockFile();
}

}  // namespace vez

#include "dbengine/storage/VEZActiveSessionsFile.h"

#include <algorithm>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "dbengine/storage/VEZInternalDBFile.h"

namespace vez {

TVEZActiveSessionsFile::TVEZActiveSessionsFile(TVEZDiskPageManager* page_manager)
    : page_manager_(page_manager) {}

TVEZActiveSessionsFile::~TVEZActiveSessionsFile() = default;

std::int32_t TVEZActiveSessionsFile::CreateFile(std::int32_t max_session_count) {
  TVEZInternalDBDirectAccessFile file(page_manager_, kPageTypeActiveSessionList);
  file.CreateFile(max_session_count);
  return file.StartPageNo();
}

void TVEZActiveSessionsFile::OpenFile(std::int32_t start_page_no) {
  auto handle =
      std::make_unique<TVEZInternalDBDirectAccessFile>(page_manager_, kPageTypeActiveSessionList);
  handle->OpenFile(start_page_no);
  max_session_count_ = std::max(0, std::min(handle->GetSize(), handle->FileSize()));
  handle_ = std::move(handle);
}

void TVEZActiveSessionsFile::CloseFile() {
  handle_.reset();
  max_session_count_ = 0;
}

std::int32_t TVEZActiveSessionsFile::StartPageNo() const {
  return handle_ ? handle_->StartPageNo() : -1;
}

TVEZInternalDBDirectAccessFile& TVEZActiveSessionsFile::Handle() const {
  if (!handle_)
    throw EVEZException(20156, "Cannot perform this operation (%s) on closed internal file",
                        {std::string("LockFile")});
  return *handle_;
}

template <typename F>
auto TVEZActiveSessionsFile::UnderFileLock(std::int32_t unlock_error, F&& f) {
  TVEZInternalDBDirectAccessFile& file = Handle();
  // The wait's outcome is not decisive: the byte locks themselves keep
  // connections apart; the file lock only orders the decisions.
  const bool locked = RetryCall(4500, 20, [&] { return file.LockFile(); });
  const auto release = [&] {
    if (locked && !file.UnlockFile())
      throw EVEZException(unlock_error, "Cannot unlock sessions file");
  };
  try {
    auto result = f(file);
    release();
    return result;
  } catch (...) {
    try {
      if (locked) file.UnlockFile();
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
}

std::int32_t TVEZActiveSessionsFile::MultiUserConnect() {
  if (!page_manager_->MultiUser()) return 0;
  return UnderFileLock(20093, [&](TVEZInternalDBDirectAccessFile& file) {
    for (std::int32_t b = 0; b < max_session_count_; ++b)
      if (file.LockByte(b)) return b;
    throw EVEZException(20094,
                        "Cannot connect session. Maximum connections quantity exceeded or "
                        "database is open in single-user mode");
  });
}

void TVEZActiveSessionsFile::MultiUserDisconnect(std::int32_t session_id) {
  if (!page_manager_->MultiUser()) return;
  UnderFileLock(20096, [&](TVEZInternalDBDirectAccessFile& file) {
    if (session_id < 0 || session_id >= max_session_count_ || !file.UnlockByte(session_id))
      throw EVEZException(20095, "Cannot disconnect session");
    return 0;
  });
}

bool TVEZActiveSessionsFile::SingleUserConnect() {
  return UnderFileLock(20240, [&](TVEZInternalDBDirectAccessFile& file) {
    if (file.IsRegionLocked(0, max_session_count_)) return false;
    for (std::int32_t b = 0; b < max_session_count_; ++b) {
      if (!file.LockByte(b)) {
        // Someone took a byte meanwhile: give back what was taken.
        while (--b >= 0)
          file.UnlockByte(b);
        return false;
      }
    }
    return true;
  });
}

void TVEZActiveSessionsFile::SingleUserDisconnect() {
  UnderFileLock(20241, [&](TVEZInternalDBDirectAccessFile& file) {
    for (std::int32_t b = 0; b < max_session_count_; ++b)
      file.UnlockByte(b);
    return 0;
  });
}

std::int32_t TVEZActiveSessionsFile::GetDBFileConnectionsCount() {
  return UnderFileLock(30484, [&](TVEZInternalDBDirectAccessFile& file) {
    std::int32_t n = 0;
    for (std::int32_t b = 0; b < max_session_count_; ++b)
      if (file.IsByteLocked(b)) ++n;
    return n;
  });
}

}  // namespace vez

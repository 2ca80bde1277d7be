// TVEZActiveSessionsFile: one lock byte per possible connection of a disk
// database, in a direct internal file (page type 5). A multi-user connection
// holds the byte of its session number for as long as it lasts; a
// single-user connection holds every byte, so neither kind can join the
// other. Every decision is made under the file lock (byte 0 of the file's
// first page).
//
// Thread safety: none; callers hold the database data's lock.
#pragma once

#include <cstdint>
#include <memory>

namespace vez {

class TVEZDiskPageManager;
class TVEZInternalDBDirectAccessFile;

class TVEZActiveSessionsFile {
 public:
  explicit TVEZActiveSessionsFile(TVEZDiskPageManager* page_manager);
  ~TVEZActiveSessionsFile();
  TVEZActiveSessionsFile(const TVEZActiveSessionsFile&) = delete;
  TVEZActiveSessionsFile& operator=(const TVEZActiveSessionsFile&) = delete;

  // Creates a file of max_session_count bytes as session -2 and returns its
  // first page; the handle is not kept.
  std::int32_t CreateFile(std::int32_t max_session_count);
  void OpenFile(std::int32_t start_page_no);
  void CloseFile();
  std::int32_t StartPageNo() const;
  std::int32_t MaxSessionCount() const { return max_session_count_; }

  // The new session number (0 when the database is single-user). Raises
  // 20094 when every byte is held, 20093 when the file lock cannot be let go.
  std::int32_t MultiUserConnect();
  // Raises 20095 when the session's byte was not held, 20096 as above.
  void MultiUserDisconnect(std::int32_t session_id);
  // Takes every byte when none is held (true); otherwise takes nothing.
  bool SingleUserConnect();
  void SingleUserDisconnect();
  // How many bytes are held, this process's connections included.
  std::int32_t GetDBFileConnectionsCount();

 private:
  TVEZInternalDBDirectAccessFile& Handle() const;
  // Runs f under the file lock and lets the lock go after it, raising
  // unlock_error when that fails.
  template <typename F>
  auto UnderFileLock(std::int32_t unlock_error, F&& f);

  TVEZDiskPageManager* page_manager_;
  std::unique_ptr<TVEZInternalDBDirectAccessFile> handle_;
  std::int32_t max_session_count_ = 0;
};

}  // namespace vez

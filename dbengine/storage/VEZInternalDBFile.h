// Internal files: variable-size data inside the database file that is not a
// table's records, BLOBs or indexes. An internal file is a chain of pages of
// one page type linked through NextPageNo; its first page's data area starts
// with a 10-byte head:
//   0 head size Byte (10) | 1 stored size Int32 | 5 decompressed size Int32 |
//   9 compression Byte
// and the contents follow (from data offset 10 on the first page, from data
// offset 0 on the others). S stored bytes need ceil((S + 10) / PageDataSize)
// pages, at least one.
//
// - TVEZInternalDBTransactedAccessFile goes through the page cache on behalf
//   of a session: its changes reach the file at that session's commit. Its
//   contents may be compressed. It is read and rewritten whole.
// - TVEZInternalDBDirectAccessFile reads and writes straight in the file at
//   the moment of the call; its bytes serve as targets of byte-range locks. Its
//   size never changes after creation.
//
// Every size and page count read from a head is checked against what the
// database file can hold before anything is allocated or walked; a chain that
// ends early raises, and a walk never takes more steps than the file has pages.
//
// Thread safety: none; callers hold the database data's lock (or the table
// lock manager's).
#pragma once

#include <cstdint>
#include <vector>

#include "dbengine/foundation/VEZCompressionTypes.h"

namespace vez {

class TVEZDiskPageManager;
class TVEZPage;

inline constexpr std::int32_t kInternalFileHeadSize = 10;

class TVEZInternalDBTransactedAccessFile {
 public:
  TVEZInternalDBTransactedAccessFile(TVEZDiskPageManager* page_manager, std::uint16_t page_type);
  TVEZInternalDBTransactedAccessFile(const TVEZInternalDBTransactedAccessFile&) = delete;
  TVEZInternalDBTransactedAccessFile& operator=(const TVEZInternalDBTransactedAccessFile&) = delete;

  TVEZDiskPageManager* PageManager() const { return page_manager_; }
  std::int32_t StartPageNo() const { return start_page_no_; }

  // Adds the first page with an empty head. Raises 30383 when open.
  void CreateFile(std::int32_t session_id);
  // Remembers the first page (-1 keeps the current one); reads nothing.
  void OpenFile(std::int32_t start_page_no);
  // Removes every page of the chain from start_page_no (-1: this file's) as
  // the session; the file is closed afterwards.
  void DeleteFile(std::int32_t session_id, std::int32_t start_page_no);

  // The head of the first page; file_was_changed when the cache had to read
  // the page from the file during this call.
  void GetFileSize(std::int32_t session_id, std::int32_t& size, std::int32_t& decompressed_size,
                   TVEZCompressionAlgorithm& algorithm, bool& file_was_changed,
                   bool synchronize_allowed);
  // The decompressed size.
  std::int32_t GetSize(std::int32_t session_id);
  // The decompressed size, after checking the head (30388): the stored size
  // against the chain's own pages (walked as far as the size reaches) and the
  // decompressed size against what the stored bytes can expand to with the
  // head's algorithm. What a caller may allocate before ReadFile.
  std::int32_t GetCheckedSize(std::int32_t session_id);
  // Makes the chain hold new_size stored bytes (pages after the new end are
  // released as the session) and writes the head. Raises 20158 for a negative
  // size.
  void SetFileSize(std::int32_t session_id, std::int32_t new_size, std::int32_t decompressed_size,
                   TVEZCompressionAlgorithm algorithm);

  // Reads the first count bytes of the contents. Raises 30389 when closed,
  // 30387 when the contents are shorter, 30388 when the chain holds fewer bytes
  // than its head says, 20189 when they do not decompress.
  void ReadFile(std::int32_t session_id, void* buffer, std::int32_t count,
                bool synchronize_allowed);
  // Replaces the contents with count bytes, compressed with the algorithm
  // (none for an empty file). Raises 30389 when closed, 20187 when the
  // compression fails, 20158 for a negative count (nothing is changed).
  void WriteFile(std::int32_t session_id, const void* buffer, std::int32_t count,
                 TVEZCompressionAlgorithm algorithm, std::int32_t compression_mode);

  // Gives the first page a fresh header and an empty head (the decompressed
  // size bytes are kept), loading it even when its check fails. The page is
  // marked dirty for the session. Raises 20301 when closed.
  void InitFileHeader(std::int32_t session_id);

  bool LockFile();
  bool UnlockFile();

 private:
  void CheckOpen(const char* operation) const;
  // Pins page index of the chain for the session (20300 when it ends first).
  TVEZPage* GetChainPage(std::int32_t session_id, std::int32_t index, bool synchronize_allowed);
  TVEZPage* Get(std::int32_t session_id, std::int32_t page_no, bool synchronize_allowed);
  std::int32_t PagesNeeded(std::int64_t stored_size) const;
  // Raises 30388 when a head's stored size is negative or more than the file
  // can hold, an uncompressed file's sizes differ, or the decompressed size
  // is more than the stored bytes can expand to.
  void CheckStoredSize(std::int32_t stored_size, std::int32_t decompressed_size,
                       TVEZCompressionAlgorithm algorithm) const;
  // Whether the chain from the first page has at least page_count pages.
  bool ChainHasPages(std::int32_t session_id, std::int32_t page_count);

  TVEZDiskPageManager* page_manager_;
  std::int32_t start_page_no_ = -1;
  std::uint16_t page_type_;
};

class TVEZInternalDBDirectAccessFile {
 public:
  TVEZInternalDBDirectAccessFile(TVEZDiskPageManager* page_manager, std::uint16_t page_type);
  TVEZInternalDBDirectAccessFile(const TVEZInternalDBDirectAccessFile&) = delete;
  TVEZInternalDBDirectAccessFile& operator=(const TVEZInternalDBDirectAccessFile&) = delete;

  std::int32_t StartPageNo() const { return start_page_no_; }
  // The size the object knows (valid from OpenFile on).
  std::int32_t FileSize() const { return file_size_; }
  const std::vector<std::int32_t>& FilePages() const { return file_pages_; }
  // The stored size as OpenFile read it (GetSize reads it again).
  std::int32_t StoredSizeAtOpen() const { return stored_size_at_open_; }

  // Adds the pages of a file of size bytes as the internal session -2 (they
  // reach the file at its commit). Raises 20157 when open.
  void CreateFile(std::int32_t size);
  // Walks the chain from start_page_no (-1: this file's), checking each page's
  // type (20155), and learns its pages. Raises 20156 when closed.
  void OpenFile(std::int32_t start_page_no);
  // Removes every page of the chain as session -2; the file is closed.
  void DeleteFile(std::int32_t start_page_no);
  // The stored size, read from the file now.
  std::int32_t GetSize();

  // Raise 20159 for a position past the file, 20158 (write) past the stored
  // size.
  void ReadBuffer(void* buffer, std::int32_t count, std::int32_t position);
  void WriteBuffer(const void* buffer, std::int32_t count, std::int32_t position);

  // The lock on byte 0 of the first page, which guards the whole file.
  bool LockFile();
  bool UnlockFile();
  bool LockByte(std::int32_t byte_no);
  bool UnlockByte(std::int32_t byte_no);
  bool IsByteLocked(std::int32_t byte_no);
  bool IsRegionLocked(std::int32_t byte_no, std::int32_t byte_count);

 private:
  void CheckOpen(const char* operation) const;
  // The page and page offset of byte position.
  void Locate(std::int32_t position, std::int32_t& page_index, std::int32_t& offset) const;
  // Reads the header of a chain page, checking its type; the page's next page.
  std::int32_t ReadChainHeader(std::int32_t page_no, bool skip_first_byte);
  // The next page of a chain header read into header[0, 40), checking its type.
  std::int32_t ChainHeaderNext(const std::uint8_t* header) const;
  template <typename F>
  void ForEachSpan(std::int32_t count, std::int32_t position, F&& f);

  TVEZDiskPageManager* page_manager_;
  std::int32_t start_page_no_ = -1;
  std::uint16_t page_type_;
  std::int32_t file_size_ = 0;
  std::int32_t stored_size_at_open_ = 0;
  std::vector<std::int32_t> file_pages_;
};

}  // namespace vez

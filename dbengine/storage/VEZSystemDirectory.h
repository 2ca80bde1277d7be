// The catalog files of a database, both transacted internal files written as
// the internal session -2 (reaching the file at its commit):
// - TVEZSystemDirectory, always starting at page 2: 5-byte items (FileID Byte,
//   FirstPageNo Int32) naming the database-wide internal files.
// - TVEZTableListFile: one 272-byte item per table: TableName as a 256-byte
//   short string (length byte, up to 255 single-byte characters; bytes after
//   the name are zero in a new item and keep their values after a rename),
//   TableID Int32, then the first pages of its metadata, most-updated and
//   locks files (Int32 each).
// Loading refuses a stored size that is not a whole number of items, and
// reads exactly the items it counts.
//
// Thread safety: none; callers hold the database data's lock.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"

namespace vez {

class TVEZDiskPageManager;
class TVEZInternalDBTransactedAccessFile;

struct TVEZSystemDirectoryListItem {
  static constexpr std::int32_t kSize = 5;
  TVEZDBFileType FileID = dbftUnknown;
  std::int32_t FirstPageNo = -1;
};

inline constexpr std::int32_t kSystemDirectoryPageNo = 2;

class TVEZSystemDirectory {
 public:
  explicit TVEZSystemDirectory(TVEZDiskPageManager* page_manager);
  ~TVEZSystemDirectory();
  TVEZSystemDirectory(const TVEZSystemDirectory&) = delete;
  TVEZSystemDirectory& operator=(const TVEZSystemDirectory&) = delete;

  // Creates the directory's file; raises 30392 when its first page is not 2.
  void CreateDirectory();
  // Reads the items from page 2. Raises 30387 for a stored size that is not a
  // whole number of items (nothing is changed then).
  void LoadDirectory();
  void SaveDirectory();
  // Appends an item in memory.
  void CreateFile(TVEZDBFileType file_type, std::int32_t first_page_no);
  // The first page of the first item of the type; -1 when none.
  std::int32_t GetFileFirstPageNo(TVEZDBFileType file_type) const;
  const std::vector<TVEZSystemDirectoryListItem>& Items() const { return items_; }

 private:
  TVEZDiskPageManager* page_manager_;
  std::unique_ptr<TVEZInternalDBTransactedAccessFile> handle_;
  std::vector<TVEZSystemDirectoryListItem> items_;
};

struct TVEZTableListItem {
  static constexpr std::int32_t kSize = 272;
  std::array<std::uint8_t, 256> TableName{};  // short string, stored as is
  std::int32_t TableID = 0;
  std::int32_t MetaDataFilePageNo = -1;
  std::int32_t MostUpdatedFilePageNo = -1;
  std::int32_t LocksFilePageNo = -1;

  std::string Name() const;
  // Cuts to 255 characters; bytes after the name keep their values.
  void SetName(const std::string& name);
};

class TVEZTableListFile {
 public:
  explicit TVEZTableListFile(TVEZDiskPageManager* page_manager);
  ~TVEZTableListFile();
  TVEZTableListFile(const TVEZTableListFile&) = delete;
  TVEZTableListFile& operator=(const TVEZTableListFile&) = delete;

  // Creates an empty list as session -2 and returns its first page; the handle
  // is not kept.
  std::int32_t CreateFile();
  // Raises 30393 when already open.
  void OpenFile(std::int32_t start_page_no);
  void CloseFile();
  std::int32_t StartPageNo() const;

  // Raise 30389 when not open; Load raises 30387 for a stored size that is not
  // a whole number of items (the list in memory is then unchanged).
  void Load();
  void Save();

  // Names compare with the letters a to z upper-cased, nothing else folded.
  void AddTable(std::int32_t table_id, const std::string& table_name,
                std::int32_t metadata_file_page_no, std::int32_t most_updated_file_page_no,
                std::int32_t locks_file_page_no);  // 30395 for a name in use
  void OpenTable(const std::string& table_name, std::int32_t& table_id,
                 std::int32_t& metadata_file_page_no, std::int32_t& most_updated_file_page_no,
                 std::int32_t& locks_file_page_no) const;  // 30396
  void RemoveTable(const std::string& table_name);         // 30405
  void RenameTable(const std::string& table_name,
                   const std::string& new_table_name);  // 30397
  bool TableExists(const std::string& table_name) const;
  // Loads, then gives every name in stored order.
  void GetTablesList(std::vector<std::string>& list);
  const std::vector<TVEZTableListItem>& Items() const { return items_; }

 private:
  std::int32_t Find(const std::string& table_name) const;
  TVEZInternalDBTransactedAccessFile& Handle(const char* operation) const;

  TVEZDiskPageManager* page_manager_;
  std::unique_ptr<TVEZInternalDBTransactedAccessFile> handle_;
  std::vector<TVEZTableListItem> items_;
};

}  // namespace vez

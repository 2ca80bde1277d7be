#include "dbengine/storage/VEZSystemDirectory.h"

#include <cstring>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "dbengine/storage/VEZInternalDBFile.h"
#include "platform/core/CheckedMath.h"

namespace vez {

namespace {

constexpr std::int32_t kInternalSession = -2;

// Reads a file holding whole items of item_size bytes.
std::vector<std::uint8_t> LoadItems(TVEZInternalDBTransactedAccessFile& file,
                                    std::int32_t item_size) {
  std::int32_t stored, decompressed;
  TVEZCompressionAlgorithm algorithm;
  bool changed;
  file.GetFileSize(kInternalSession, stored, decompressed, algorithm, changed, true);
  // These lists are always saved as they are: a compressed head is damage, and
  // its decompressed size, which nothing bounds, is not allocated.
  if (algorithm != acaNone)
    throw EVEZException(30388, "Cannot Read internal file. FileSize=%d. ReadSize=%d. FileSize=%d",
                        {stored, 0, stored});
  const std::int32_t size = file.GetCheckedSize(kInternalSession);
  if (size < 0 || size % item_size != 0)
    throw EVEZException(30387, "Cannot Read internal file. FileSize=%d. ReadSize=%d",
                        {size, size / item_size * item_size});
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  file.ReadFile(kInternalSession, bytes.data(), size, true);
  return bytes;
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  const auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
  for (std::size_t i = 0; i < a.size(); ++i)
    if (up(a[i]) != up(b[i])) return false;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// System directory

TVEZSystemDirectory::TVEZSystemDirectory(TVEZDiskPageManager* page_manager)
    : page_manager_(page_manager),
      handle_(std::make_unique<TVEZInternalDBTransactedAccessFile>(page_manager,
                                                                   kPageTypeFileSystemDirectory)) {}

TVEZSystemDirectory::~TVEZSystemDirectory() = default;

void TVEZSystemDirectory::CreateDirectory() {
  handle_->CreateFile(kInternalSession);
  if (handle_->StartPageNo() != kSystemDirectoryPageNo)
    throw EVEZException(30392,
                        "Error Creating SystemDirectory. SystemDirectoryPageNo=%d. Real PageNo=%d.",
                        {handle_->StartPageNo(), kSystemDirectoryPageNo});
}

void TVEZSystemDirectory::LoadDirectory() {
  handle_->OpenFile(kSystemDirectoryPageNo);
  const auto bytes = LoadItems(*handle_, TVEZSystemDirectoryListItem::kSize);
  std::vector<TVEZSystemDirectoryListItem> items;
  for (std::size_t at = 0; at < bytes.size(); at += TVEZSystemDirectoryListItem::kSize)
    items.push_back({static_cast<TVEZDBFileType>(bytes[at]), GetLE<std::int32_t>(&bytes[at + 1])});
  items_ = std::move(items);
}

void TVEZSystemDirectory::SaveDirectory() {
  std::vector<std::uint8_t> bytes(items_.size() * TVEZSystemDirectoryListItem::kSize);
  for (std::size_t i = 0; i < items_.size(); ++i) {
    bytes[i * 5] = items_[i].FileID;
    PutLE<std::int32_t>(&bytes[i * 5 + 1], items_[i].FirstPageNo);
  }
  handle_->WriteFile(kInternalSession, bytes.data(),
                     platform::CheckedCast<std::int32_t>(bytes.size()), acaNone, 0);
}

void TVEZSystemDirectory::CreateFile(TVEZDBFileType file_type, std::int32_t first_page_no) {
  items_.push_back({file_type, first_page_no});
}

std::int32_t TVEZSystemDirectory::GetFileFirstPageNo(TVEZDBFileType file_type) const {
  for (const auto& item : items_)
    if (item.FileID == file_type) return item.FirstPageNo;
  return -1;
}

// ---------------------------------------------------------------------------
// Table list

std::string TVEZTableListItem::Name() const {
  return std::string(reinterpret_cast<const char*>(TableName.data()) + 1, TableName[0]);
}

void TVEZTableListItem::SetName(const std::string& name) {
  const std::size_t n = std::min<std::size_t>(name.size(), 255);
  TableName[0] = static_cast<std::uint8_t>(n);
  std::memcpy(TableName.data() + 1, name.data(), n);
}

TVEZTableListFile::TVEZTableListFile(TVEZDiskPageManager* page_manager)
    : page_manager_(page_manager) {}

TVEZTableListFile::~TVEZTableListFile() = default;

std::int32_t TVEZTableListFile::CreateFile() {
  TVEZInternalDBTransactedAccessFile file(page_manager_, kPageTypeTableList);
  file.CreateFile(kInternalSession);
  return file.StartPageNo();
}

void TVEZTableListFile::OpenFile(std::int32_t start_page_no) {
  if (handle_) throw EVEZException(30393, "Table list file already opened.");
  handle_ = std::make_unique<TVEZInternalDBTransactedAccessFile>(page_manager_, kPageTypeTableList);
  handle_->OpenFile(start_page_no);
}

void TVEZTableListFile::CloseFile() {
  handle_.reset();
}

std::int32_t TVEZTableListFile::StartPageNo() const {
  return handle_ ? handle_->StartPageNo() : -1;
}

TVEZInternalDBTransactedAccessFile& TVEZTableListFile::Handle(const char* operation) const {
  if (!handle_)
    throw EVEZException(30389, "Cannot perform this operation (%s) on closed internal file",
                        {std::string(operation)});
  return *handle_;
}

void TVEZTableListFile::Load() {
  const auto bytes = LoadItems(Handle("ReadFile"), TVEZTableListItem::kSize);
  std::vector<TVEZTableListItem> items(bytes.size() / TVEZTableListItem::kSize);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::uint8_t* p = &bytes[i * TVEZTableListItem::kSize];
    std::memcpy(items[i].TableName.data(), p, 256);
    items[i].TableID = GetLE<std::int32_t>(p + 256);
    items[i].MetaDataFilePageNo = GetLE<std::int32_t>(p + 260);
    items[i].MostUpdatedFilePageNo = GetLE<std::int32_t>(p + 264);
    items[i].LocksFilePageNo = GetLE<std::int32_t>(p + 268);
  }
  items_ = std::move(items);
}

void TVEZTableListFile::Save() {
  TVEZInternalDBTransactedAccessFile& file = Handle("WriteFile");
  std::vector<std::uint8_t> bytes(items_.size() * TVEZTableListItem::kSize);
  for (std::size_t i = 0; i < items_.size(); ++i) {
    std::uint8_t* p = &bytes[i * TVEZTableListItem::kSize];
    std::memcpy(p, items_[i].TableName.data(), 256);
    PutLE<std::int32_t>(p + 256, items_[i].TableID);
    PutLE<std::int32_t>(p + 260, items_[i].MetaDataFilePageNo);
    PutLE<std::int32_t>(p + 264, items_[i].MostUpdatedFilePageNo);
    PutLE<std::int32_t>(p + 268, items_[i].LocksFilePageNo);
  }
  file.WriteFile(kInternalSession, bytes.data(), platform::CheckedCast<std::int32_t>(bytes.size()),
                 acaNone, 0);
}

std::int32_t TVEZTableListFile::Find(const std::string& table_name) const {
  const std::string wanted = table_name.substr(0, 255);
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (SameName(items_[i].Name(), wanted)) return static_cast<std::int32_t>(i);
  return -1;
}

void TVEZTableListFile::AddTable(std::int32_t table_id, const std::string& table_name,
                                 std::int32_t metadata_file_page_no,
                                 std::int32_t most_updated_file_page_no,
                                 std::int32_t locks_file_page_no) {
  if (Find(table_name) >= 0)
    throw EVEZException(30395, "Cannot create table. Table '%s' already exists", {table_name});
  TVEZTableListItem item;
  item.SetName(table_name);
  item.TableID = table_id;
  item.MetaDataFilePageNo = metadata_file_page_no;
  item.MostUpdatedFilePageNo = most_updated_file_page_no;
  item.LocksFilePageNo = locks_file_page_no;
  items_.push_back(item);
}

void TVEZTableListFile::OpenTable(const std::string& table_name, std::int32_t& table_id,
                                  std::int32_t& metadata_file_page_no,
                                  std::int32_t& most_updated_file_page_no,
                                  std::int32_t& locks_file_page_no) const {
  const std::int32_t i = Find(table_name);
  if (i < 0) throw EVEZException(30396, "Table '%s' not exists.", {table_name});
  const TVEZTableListItem& item = items_[static_cast<std::size_t>(i)];
  table_id = item.TableID;
  metadata_file_page_no = item.MetaDataFilePageNo;
  most_updated_file_page_no = item.MostUpdatedFilePageNo;
  locks_file_page_no = item.LocksFilePageNo;
}

void TVEZTableListFile::RemoveTable(const std::string& table_name) {
  const std::int32_t i = Find(table_name);
  if (i < 0) throw EVEZException(30405, "Table '%s' not exists.", {table_name});
  items_.erase(items_.begin() + i);
}

void TVEZTableListFile::RenameTable(const std::string& table_name,
                                    const std::string& new_table_name) {
  const std::int32_t i = Find(table_name);
  if (i < 0) throw EVEZException(30397, "Table '%s' not exists.", {table_name});
  items_[static_cast<std::size_t>(i)].SetName(new_table_name);
}

bool TVEZTableListFile::TableExists(const std::string& table_name) const {
  return Find(table_name) >= 0;
}

void TVEZTableListFile::GetTablesList(std::vector<std::string>& list) {
  Load();
  list.clear();
  for (const auto& item : items_)
    list.push_back(item.Name());
}

}  // namespace vez

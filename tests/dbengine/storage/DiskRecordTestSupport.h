// Test support for disk record and BLOB storage: a database file in a scratch
// folder with one table's field manager and record manager, reopened at will.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/storage/VEZDatabaseFreeSpaceManager.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "dbengine/storage/VEZDiskRecordManager.h"
#include "dbengine/storage/VEZFieldManager.h"
#include "tests/dbengine/storage/DiskTestSupport.h"

namespace vez::test {

inline constexpr std::int32_t kDiskSession = 0;
inline constexpr std::int32_t kDiskTableID = 77;

// One table on a database file. Fields are added to Fields() before Start.
class DiskTable {
 public:
  explicit DiskTable(std::uint16_t page_size = 4096) : page_size_(page_size) {
    name_ = dir_.Path("t.vez");
  }

  TVEZFieldDefs& Fields() { return fm_->FieldDefs(); }
  TVEZBaseFieldManager& FieldManager() { return *fm_; }
  TVEZDiskPageManager& PM() { return *pm_; }
  TVEZDiskRecordManager& RM() { return *rm_; }
  const std::string& FileName() const { return name_; }

  // Creates the file and the table's record page index.
  void Start() {
    fm_->RecalcFieldOffsets();
    pm_ = std::make_unique<TVEZDiskPageManager>();
    pm_->CreateAndOpenDatabase(name_, TVEZPassword{}, page_size_, 8);
    pm_->SetDurability(TVEZDurability::Off);
    MakeRecordManager();
    rm_->CreateRecordPageIndex();
    pm_->ApplyChanges(-2);
  }

  // Closes and opens the file again with a new page manager, keeping the
  // table's stored state as the disk table data would.
  void Reopen() {
    std::vector<std::uint8_t> mu(8);
    std::int32_t off = 0;
    rm_->SaveMostUpdated(mu.data(), 8, off);
    const std::int32_t root = rm_->RecordPageIndex().RootPageNo();
    rm_.reset();
    pm_.reset();
    pm_ = std::make_unique<TVEZDiskPageManager>();
    bool ro = false, repair = false, multi = false;
    pm_->OpenDatabase(name_, TVEZPassword{}, ro, repair, false, multi);
    pm_->SetDurability(TVEZDurability::Off);
    MakeRecordManager();
    rm_->RecordPageIndex().OpenIndex(root);
    off = 0;
    rm_->LoadMostUpdated(mu.data(), 8, off);
  }

  std::int32_t RecordSize() const { return fm_->FieldDefs().GetMemoryRecordBufferSize(); }

 private:
  void MakeRecordManager() {
    rm_ = std::make_unique<TVEZDiskRecordManager>(pm_.get(), fm_.get(), kDiskTableID);
    rm_->Init(fm_->FieldDefs().GetMemoryRecordBufferSize(),
              fm_->FieldDefs().GetDiskRecordBufferSize(), fm_->FieldCount());
  }

  ScratchDir dir_;
  std::string name_;
  std::uint16_t page_size_;
  std::unique_ptr<TVEZBaseFieldManager> fm_ = std::make_unique<TVEZBaseFieldManager>(nullptr);
  std::unique_ptr<TVEZDiskPageManager> pm_;
  std::unique_ptr<TVEZDiskRecordManager> rm_;
};

}  // namespace vez::test

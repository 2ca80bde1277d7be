// Page indexes: the small B-trees a disk table keeps beside its record and
// BLOB pages. The record page index lists every record page with its record
// count; the BLOB page index every BLOB page with its allocated bytes. Key: the
// page number (Int32, unique in a tree); reference: the page's value (UInt16).
// A page whose value falls to 0 leaves the tree.
//
// Stored pages are never trusted: besides the checks of every B-tree page
// view, the root must be marked root, entries read through a path must exist
// in a leaf, steps along a
// level must land on a page that links back, and leaf-level walks enter each
// page once. Anything else raises kErrorCorruptIndexPage naming the page.
//
// Failure: an operation that raises midway may leave pages it already changed
// in the session's dirty list; the caller rolls back to a savepoint or
// cancels the session's changes (VEZPageManager.h) instead of applying them.
//
// Thread safety: none; the disk table data serialises calls.
#pragma once

#include <cstdint>

#include "dbengine/storage/VEZBTreeKey.h"
#include "dbengine/storage/VEZBTreePage.h"
#include "dbengine/storage/VEZKeyPath.h"
#include "dbengine/storage/VEZPageManager.h"

namespace vez {

class TVEZBTreePageIndex {
 public:
  explicit TVEZBTreePageIndex(TVEZPageManager* page_manager) : page_manager_(page_manager) {}
  virtual ~TVEZBTreePageIndex() = default;
  TVEZBTreePageIndex(const TVEZBTreePageIndex&) = delete;
  TVEZBTreePageIndex& operator=(const TVEZBTreePageIndex&) = delete;

  std::int32_t RootPageNo() const { return root_page_no_; }
  TVEZPageKeyRef& KeyRef() { return key_ref_; }

  // Whether a page holding value can take amount more.
  virtual bool HasRoom(std::int32_t value, std::int32_t amount) = 0;

  // A new empty tree (one leaf root page, dirty in the session's list).
  void CreateIndex(std::int32_t session_id);
  // Frees every page of the tree; RootPageNo becomes -1.
  void DropIndex(std::int32_t session_id);
  // Frees every page but the root, which becomes an empty leaf root again.
  void EmptyIndex(std::int32_t session_id);
  // Uses the tree rooted at root_page_no; reads no page.
  void OpenIndex(std::int32_t root_page_no) { root_page_no_ = root_page_no; }

  // Runs the tree's integrity walk (raises the B-tree integrity errors).
  void CheckIntegrity(std::int32_t session_id);

 protected:
  TVEZBTreePageHolder Root(std::int32_t session_id);
  TVEZBTreePageHolder Page(std::int32_t session_id, std::int32_t page_no);
  bool GetFirstPosition(std::int32_t session_id, TVEZKeyPath& path);
  bool GetLastPosition(std::int32_t session_id, TVEZKeyPath& path);
  bool GotoNextPosition(std::int32_t session_id, TVEZKeyPath& path);
  bool GotoPriorPosition(std::int32_t session_id, TVEZKeyPath& path);
  bool FindPage(std::int32_t session_id, std::int32_t page_no, TVEZKeyPath& path);
  std::int32_t GetValueAt(std::int32_t session_id, const TVEZKeyPath& path);
  void SetValueAt(std::int32_t session_id, const TVEZKeyPath& path, std::int32_t value);
  std::int32_t GetPageNoAt(std::int32_t session_id, const TVEZKeyPath& path);
  // Tries the last leaf from its end, then the first leaf from its start.
  bool FindPageWithRoom(std::int32_t session_id, std::int32_t amount, std::int32_t& page_no);
  void AddToPageValue(std::int32_t session_id, std::int32_t amount, std::int32_t page_no);
  // new_value >= 0 sets the value, below 0 subtracts amount; 0 removes the page.
  void SubtractFromPageValue(std::int32_t session_id, std::int32_t amount, std::int32_t new_value,
                             std::int32_t page_no);

  TVEZPageManager* PageManager() const { return page_manager_; }
  // A leaf entry's key (a page number) and its value; both raise
  // kErrorCorruptIndexPage for an entry the leaf does not hold.
  static std::int32_t StoredPageNo(const TVEZBTreePage& leaf, std::int32_t entry_no);
  static std::int32_t StoredValue(const TVEZBTreePage& leaf, std::int32_t entry_no);

 private:
  static void CheckNeighbour(const TVEZBTreePage& page, const TVEZBTreePage& neighbour, bool right);

  std::int32_t root_page_no_ = -1;
  TVEZPageKeyRef key_ref_;
  TVEZPageManager* page_manager_;
};

class TVEZBTreeRecordPageIndex : public TVEZBTreePageIndex {
 public:
  using TVEZBTreePageIndex::TVEZBTreePageIndex;

  std::int32_t MaxRecordsOnPage() const { return max_records_on_page_; }
  void SetMaxRecordsOnPage(std::int32_t v) { max_records_on_page_ = v; }
  bool HasRoom(std::int32_t value, std::int32_t) override { return value < max_records_on_page_; }

  bool FindPageForNewRecord(std::int32_t session_id, std::int32_t& page_no);
  // Raises 20106 when the page is full, 20118 without a tree.
  void AddRecord(std::int32_t session_id, std::int32_t page_no, std::int32_t add_count);
  // Sets the page's count to new_item_count; 0 removes the page from the tree.
  void DeleteRecord(std::int32_t session_id, std::int32_t page_no, std::int32_t new_item_count);
  bool GetFirstRecordPage(std::int32_t session_id, std::int32_t& page_no);
  bool GetLastRecordPage(std::int32_t session_id, std::int32_t& page_no);
  // False after the last page; raises 20104 when current_page_no is not in the tree.
  bool GetNextRecordPage(std::int32_t session_id, std::int32_t current_page_no,
                         std::int32_t& next_page_no);
  // False before the first page; raises 20105 when current_page_no is not in the tree.
  bool GetPriorRecordPage(std::int32_t session_id, std::int32_t current_page_no,
                          std::int32_t& prior_page_no);
  // The page holding record rec_no (from 0) in page order and its position
  // there. Raises 20113 past the last record.
  void GetRecordByRecNo(std::int32_t session_id, std::int64_t rec_no, std::int32_t& page_no,
                        std::int32_t& rec_no_on_page);
  // Raises 20114 when the page is not in the tree.
  void GetRecNoByRecord(std::int32_t session_id, std::int32_t page_no, std::int32_t rec_no_on_page,
                        std::int64_t& rec_no);
  // Raises 20292 when the counts do not add up to stored_record_count.
  void Validate(std::int32_t session_id, std::int64_t stored_record_count);

 private:
  // The next (forward) or prior page number after current_page_no.
  bool StepRecordPage(std::int32_t session_id, std::int32_t current_page_no, bool forward,
                      std::int32_t& page_no);

  std::int32_t max_records_on_page_ = 0;
};

class TVEZBTreeBlobPageIndex : public TVEZBTreePageIndex {
 public:
  using TVEZBTreePageIndex::TVEZBTreePageIndex;

  bool HasRoom(std::int32_t value, std::int32_t amount) override;

  bool FindPageForNewBlob(std::int32_t session_id, std::int32_t blob_size, std::int32_t& page_no);
  void AddBlob(std::int32_t session_id, std::int32_t blob_size, std::int32_t page_no);
  void DeleteBlob(std::int32_t session_id, std::int32_t blob_size, std::int32_t page_no);
  // The page's allocated bytes, -1 when the page is not in the tree.
  std::int32_t GetBlobPageAllocatedSpace(std::int32_t session_id, std::int32_t page_no);
};

}  // namespace vez

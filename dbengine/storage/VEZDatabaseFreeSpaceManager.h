// TVEZDatabaseFreeSpaceManager: which pages of a database file are in use. It
// hands out a page for every page the cache adds, takes back every page a
// commit removes, grows the file by a tenth of its size (at least one extent;
// 6 pages for a new file) when nothing is free, and shrinks it in steps of the
// same size when enough pages at its end are free.
//
// Two kinds of bitmap pages live inside the file (the system pages; the cache
// never hands them out):
// - PFS page j is page j * P (P = PageDataSize * 8) and holds one bit per page
//   of pages j * P .. (j + 1) * P - 1: bit b of data byte i is page
//   j * P + i * 8 + b; 1 is in use. It marks itself in use.
// - EAM page k covers the extents k * X .. (k + 1) * X - 1 (X = PageDataSize *
//   4 extents of PageCountInExtent pages, E = X * PageCountInExtent pages). It
//   is page k * E, or k * E + 1 when that is a PFS page. Two bits per extent at
//   shift 2 * (m mod 4) of byte m div 4: 0 never recorded, 1 has a page and is
//   not full, 3 full.
//
// Invariants: every map change and counter update happens under the header
// lock (TVEZDiskPageManager::LockDBHeader, counted, so a commit that holds it
// frees pages without waiting); the counters are reloaded from the header at
// the start of each operation and written back at its end, also when it
// fails. The file never ends with a system page, so the maps the counters
// imply always exist.
//
// Thread safety: none; callers hold the database data's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace vez {

class TVEZDiskPageManager;
class TVEZPage;

// What CheckIntegrity found. Sound when every list is empty and the counters
// agree; leaked pages alone cost space, not data.
struct TVEZFreeSpaceReport {
  // Referenced pages the maps call free: the next allocation hands them out
  // again, over live data.
  std::vector<std::int32_t> FreeButReferenced;
  // Referenced page numbers that are system pages or lie beyond the file.
  std::vector<std::int32_t> ReferencedOutside;
  // Pages marked in use that are neither system pages nor referenced.
  std::vector<std::int32_t> Leaked;
  // System pages the maps call free.
  std::vector<std::int32_t> SystemPagesFree;
  // Extents recorded as full that hold a free page (never searched again).
  std::int32_t FullExtentsWithFreePages = 0;
  // The header's last used page lies below a page in use: growth would hand
  // that page out again.
  bool LastUsedPageBehind = false;

  bool Sound() const {
    return FreeButReferenced.empty() && ReferencedOutside.empty() && SystemPagesFree.empty() &&
           FullExtentsWithFreePages == 0 && !LastUsedPageBehind;
  }
};

class TVEZDatabaseFreeSpaceManager {
 public:
  // Geometry and counters from the page manager's header copy. Raises
  // EIntOverflow when the geometry does not fit Int32 page numbers.
  explicit TVEZDatabaseFreeSpaceManager(TVEZDiskPageManager* page_manager);
  ~TVEZDatabaseFreeSpaceManager();
  TVEZDatabaseFreeSpaceManager(const TVEZDatabaseFreeSpaceManager&) = delete;
  TVEZDatabaseFreeSpaceManager& operator=(const TVEZDatabaseFreeSpaceManager&) = delete;

  // Takes a free page (growing the file when none is left) and returns its
  // number. The argument has no effect. Raises 20231 when the header lock is
  // not got.
  std::int32_t GetPage(std::int32_t desired_start_page_no);
  // Gives a page back and shrinks the file when enough pages at its end are
  // free. Raises 20232 when the header lock is not got, 30427 for a free page.
  void FreePage(std::int32_t page_no);
  // Releases the page when the maps mark it in use (a page a torn commit
  // added, released by recovery); returns whether it did. System pages and
  // pages beyond the file are left alone. Raises 20232 when the header lock
  // is not got.
  bool ReleaseIfUsed(std::int32_t page_no);
  // Compares the maps with the pages the caller found referenced (by the
  // tables, indexes and internal files), under the header lock (20231). Reads
  // every bitmap page once; changes nothing.
  TVEZFreeSpaceReport CheckIntegrity(const std::vector<std::int32_t>& referenced);
  // Whether the page is marked in use (false for a page above the maps).
  bool GetPageUsageFromPFS(std::int32_t page_no);
  // Raises 30434 for a PFS or EAM page number.
  void CheckPageNoForSystemPages(std::int32_t page_no) const;
  bool IsSystemPage(std::int32_t page_no) const;
  std::int32_t GetAddPagesStep() const;
  std::int32_t GetDelPagesStep() const { return GetAddPagesStep(); }

  bool SuppressDBHeaderErrors() const { return suppress_db_header_errors_; }
  void SetSuppressDBHeaderErrors(bool v) { suppress_db_header_errors_ = v; }

  std::int32_t PFSPagesAddressed() const { return pfs_pages_addressed_; }
  std::int32_t EAMExtentsAddressed() const { return eam_extents_addressed_; }
  std::int32_t EAMPagesAddressed() const { return eam_pages_addressed_; }
  std::int32_t LastUsedPageNo() const { return last_used_page_no_; }
  std::int32_t TotalPageCount() const { return total_page_count_; }

  // Geometry, public for tests and the integrity check.
  std::int32_t PFSPageNo(std::int32_t index) const;
  std::int32_t EAMPageNo(std::int32_t index) const;
  std::int32_t PFSPageFor(std::int32_t page_no) const;
  std::int32_t EAMPageFor(std::int32_t page_no) const;

 private:
  // A bitmap page held for the length of one operation.
  struct Held;

  void LoadPageCounters();
  void SavePageCounters();
  std::int32_t FindFreePage();
  std::int32_t FindFreePageInExtentMap(std::int32_t eam_page_no);
  std::int32_t AppendPage();
  std::int32_t FindLastUsedPage();
  void SetPageUsed(std::int32_t page_no, bool used);
  void SetPFSBit(std::int32_t page_no, bool used);
  void UpdateExtentState(std::int32_t page_no);
  void ShrinkFile();
  bool PageBit(std::int32_t page_no, std::int32_t check_error);
  std::int32_t LastPFSIndex() const;
  std::int32_t LastEAMIndex() const;

  // The page's image, read (or taken from this operation's copy) and checked
  // to have type page_type (else check_error).
  TVEZPage& Load(std::int32_t page_no, std::uint16_t page_type, std::int32_t check_error);
  // Writes a loaded page (its state is raised).
  void Store(TVEZPage& page);
  // A new bitmap page of the type, data byte 0 = 1, written at once.
  void CreateBitmapPage(std::int32_t page_no, std::uint16_t page_type);
  // Forgets the copies: other processes may change the maps between operations.
  void ForgetHeldPages();

  TVEZDiskPageManager* page_manager_;
  std::int32_t page_count_in_extent_;
  std::int32_t pfs_pages_addressed_;
  std::int32_t eam_extents_addressed_;
  std::int32_t eam_pages_addressed_;
  std::int32_t last_used_page_no_ = -1;
  std::int32_t total_page_count_ = 0;
  bool suppress_db_header_errors_ = false;
  std::unique_ptr<Held> pfs_;
  std::unique_ptr<Held> eam_;
};

}  // namespace vez

// TVEZMemoryPageManager: the page storage of one memory table's indexes. Pages
// live in RAM blocks of the engine's memory manager, one per page number, and
// a cached page object points straight at its RAM page instead of holding a
// copy, so reads and writes copy nothing. Numbers come from an allocation
// bitmap; a removed page's RAM block is kept for the next page that takes the
// number. Pages have no header: 4096 bytes, all of them data.
//
// The page cache above (VEZPageManager.h) is shared as for every engine; since
// a cached page works on the RAM page itself, a change is in storage at once
// and CancelChanges cannot take it back (memory tables are not transactional).
//
// Stream form (SaveToStream / LoadFromStream), little-endian: Int32 allocated
// page count, Int32 last allocated page number, Int32 growth step, UInt16 page
// size, UInt16 header size, Int32 page count, the allocation bitmap in its own
// stream form, then every allocated RAM page in page order.
//
// Thread safety: none of its own; the table data's lock guards every call.
#pragma once

#include <cstdint>
#include <vector>

#include "dbengine/foundation/VEZBitsArray.h"
#include "dbengine/storage/VEZPageManager.h"

namespace vez {

class TVEZMemoryPageManager : public TVEZPageManager {
 public:
  static constexpr std::uint16_t kMemoryPageSize = 4096;
  static constexpr std::int32_t kAllocateBy = 50;

  TVEZMemoryPageManager();
  // Frees the cached pages (base) and every RAM page.
  ~TVEZMemoryPageManager() override;

  // Replaces every RAM page, the map and the counters with the stream's; on a
  // failure (the stream's checked-read errors, 10376 for a form this manager
  // cannot hold) nothing changes. The images are copied into the RAM pages
  // that cached page objects point at.
  void LoadFromStream(TVEZStream& stream) override;
  void SaveToStream(TVEZStream& stream) override;

  // The first free number (else the next after the highest handed out); its
  // RAM page, zero-filled, becomes the page's buffer. 20037 when the map says
  // the number is taken while the count says it cannot be.
  void InternalAddPage(TVEZPage* page) override;
  void InternalRemovePage(std::int32_t page_no) override;
  // Points the page at its RAM page (the buffer the cache gave it goes back
  // to the cache's spare buffers). 10392 for a number not allocated.
  void InternalReadPage(TVEZPage* page) override;
  // Copies an own buffer into the RAM page; nothing for a page that works on
  // it. 10393 for a number not allocated.
  void InternalWritePage(TVEZPage* page) override;

  // Pages in use; GetPageCount is the bound of the page numbers in use
  // (the highest + 1), as a file's page count is, for the range checks of
  // the B-tree.
  std::int32_t UsedPageCount() const { return FUsedPageCount; }
  std::int32_t GetPageCount() override;
  std::int32_t AllocatedPageCount() const { return FAllocatedPageCount; }
  std::int32_t LastAllocatedPageNo() const { return FLastAllocatedPageNo; }
  bool IsPageAllocated(std::int32_t page_no) const;
  // The RAM page of page_no (nullptr beyond the pages made).
  const std::uint8_t* RamPage(std::int32_t page_no) const;

 private:
  void CheckAllocated(std::int32_t page_no, std::int32_t error) const;
  void FreeRamPages(std::vector<std::uint8_t*>& pages) noexcept;
  // Grows FDataPtrs to at least count entries of zero-filled pages; on
  // failure the pages already added stay (they are simply spare).
  void GrowRamPages(std::size_t count);

  TVEZBitsArray FAllocatedPageMap;
  std::int32_t FAllocatedPageCount = 0;
  std::int32_t FAllocateBy = kAllocateBy;
  std::int32_t FLastAllocatedPageNo = 0;
  std::int32_t FUsedPageCount = 0;
  std::vector<std::uint8_t*> FDataPtrs;
};

}  // namespace vez

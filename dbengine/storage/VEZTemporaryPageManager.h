// TVEZTemporaryPageManager: the page storage of a temporary table's indexes
// (and of the disk engine's temporary indexes). Pages below a limit of a
// tenth of the free memory live in RAM through a memory page manager; pages
// from the limit on live in an unnamed temporary file that is unlinked at once,
// at byte offset page number x 4096. File page numbers are never reused.
// Pages have no header: 4096 bytes, all of them data.
// Cached pages, RAM ones too, are copies: storage changes only at commit.
//
// Thread safety: none of its own; the table data's lock guards every call.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dbengine/foundation/VEZBitsArray.h"
#include "dbengine/foundation/VEZFileStream.h"
#include "dbengine/storage/VEZMemoryPageManager.h"
#include "dbengine/storage/VEZPageManager.h"

namespace vez {

class TVEZTemporaryPageManager : public TVEZPageManager {
 public:
  static constexpr std::uint16_t kTemporaryPageSize = 4096;

  // The RAM page limit for a free memory figure: a tenth of it in pages.
  static std::int32_t MaxMemoryPagesFor(std::int64_t free_memory);

  // The RAM page limit is fixed here from the memory manager's free memory.
  explicit TVEZTemporaryPageManager(bool disable_temp_files);
  // Frees the cached pages, the page file (which goes with it) and the RAM
  // pages; never throws.
  ~TVEZTemporaryPageManager() override;

  // Below the RAM limit (or with temporary files disabled) the memory page
  // manager chooses the number; from the limit on the next number after all
  // handed out, in the page file. Storage is made before any counter moves,
  // so a failure leaves the manager as it was.
  void InternalAddPage(TVEZPage* page) override;
  void InternalRemovePage(std::int32_t page_no) override;
  // 10396 / 10397 "Page allocation not released" for a number not in use;
  // 30482 "Invalid pointer" reading a file page without a page file.
  void InternalReadPage(TVEZPage* page) override;
  void InternalWritePage(TVEZPage* page) override;

  // The bound of the page numbers in use, for the B-tree's range checks.
  std::int32_t GetPageCount() override { return FAllocatedPageCount; }
  std::int32_t UsedPageCount() const { return FUsedPageCount; }
  std::int32_t AllocatedPageCount() const { return FAllocatedPageCount; }
  std::int32_t MaxMemoryPageCount() const { return FMaxMemoryPageCount; }
  bool DisableTempFiles() const { return FDisableTempFiles; }
  bool HasPageFile() const { return FTempPageFile != nullptr; }
  bool IsPageAllocated(std::int32_t page_no) const;

 protected:
  // A commit that writes a page of the page file first keeps the stored
  // image of every page it writes over (pages it added have none worth
  // keeping); a failed write puts them all back, so the indexes stay the
  // tree they were before the commit and the session's changes can be
  // cancelled. When a page cannot be put back the commit is left partly
  // written, and the table builds its temporary indexes again.
  void BeforeCommitWrites(std::int32_t session_id, const TVEZCommitChanges& changes) override;
  void AfterCommitWrites(std::int32_t session_id, const TVEZCommitChanges& changes) override;
  TVEZFailedCommitStorage OnCommitFailed(std::int32_t session_id,
                                         const TVEZCommitChanges& changes) noexcept override;

 private:
  struct TOldImage {
    std::int32_t PageNo = -1;
    std::vector<std::uint8_t> Bytes;
  };

  bool IsRamPage(std::int32_t page_no) const {
    return FDisableTempFiles || page_no < FMaxMemoryPageCount;
  }
  void CheckAllocated(std::int32_t page_no, std::int32_t error) const;
  void EnsurePageFile();

  TVEZBitsArray FAllocatedPageMap;
  std::int32_t FAllocatedPageCount = 0;
  std::int32_t FUsedPageCount = 0;
  std::unique_ptr<TVEZFileStream> FTempPageFile;
  std::int32_t FMaxMemoryPageCount = 0;
  std::unique_ptr<TVEZMemoryPageManager> FMemoryPageManager;
  bool FDisableTempFiles = false;
  // The stored images a commit in progress writes over (see
  // BeforeCommitWrites).
  std::vector<TOldImage> FOldImages;
};

}  // namespace vez

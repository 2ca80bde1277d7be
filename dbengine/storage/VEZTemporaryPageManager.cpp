#include "dbengine/storage/VEZTemporaryPageManager.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZTemporaryFileName.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/Invariant.h"

namespace vez {

using platform::CheckedAdd;
using platform::CheckedMul;

std::int32_t TVEZTemporaryPageManager::MaxMemoryPagesFor(std::int64_t free_memory) {
  // Clamped to the Int32 page numbers.
  const std::int64_t pages = free_memory / 10 / kTemporaryPageSize;
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(pages, 0, std::numeric_limits<std::int32_t>::max()));
}

TVEZTemporaryPageManager::TVEZTemporaryPageManager(bool disable_temp_files)
    : FMaxMemoryPageCount(MaxMemoryPagesFor(MemoryManager().GetFreeMemorySize())),
      FMemoryPageManager(std::make_unique<TVEZMemoryPageManager>()),
      FDisableTempFiles(disable_temp_files) {
  SetPageSizes(kTemporaryPageSize, 0);
}

TVEZTemporaryPageManager::~TVEZTemporaryPageManager() = default;

bool TVEZTemporaryPageManager::IsPageAllocated(std::int32_t page_no) const {
  return page_no >= 0 && page_no < FAllocatedPageMap.Size() && FAllocatedPageMap.GetBit(page_no);
}

void TVEZTemporaryPageManager::CheckAllocated(std::int32_t page_no, std::int32_t error) const {
  if (!IsPageAllocated(page_no)) throw EVEZException(error, "Page allocation not released");
}

void TVEZTemporaryPageManager::EnsurePageFile() {
  if (FTempPageFile) return;
  FTempPageFile =
      std::make_unique<TVEZFileStream>(GetTemporaryFileName(), TVEZFileStream::kModeCreate, true);
}

void TVEZTemporaryPageManager::InternalAddPage(TVEZPage* page) {
  const std::int32_t used = CheckedAdd(FUsedPageCount, 1);
  if (!FDisableTempFiles && FAllocatedPageCount >= FMaxMemoryPageCount) {
    const std::int32_t n = FAllocatedPageCount;
    const std::int32_t count = CheckedAdd(n, 1);
    const std::int64_t needed = CheckedMul<std::int64_t>(kTemporaryPageSize, count);
    EnsurePageFile();
    if (FTempPageFile->GetSize() < needed) FTempPageFile->SetSize(needed / 2 * 3);
    if (page->PageBuffer() == nullptr) page->AllocPageBuffer();
    FAllocatedPageMap.SetSize(count);
    FAllocatedPageMap.SetBit(n, true);
    FAllocatedPageCount = count;
    FUsedPageCount = used;
    page->SetPageNo(n);
    return;
  }
  FMemoryPageManager->InternalAddPage(page);
  const std::int32_t n = page->PageNo();
  try {
    if (n >= FAllocatedPageCount) FAllocatedPageMap.SetSize(CheckedAdd(n, 1));
    // An own (zeroed) buffer, as a read gives: RAM changes only at commit.
    page->AllocPageBuffer();
  } catch (...) {
    FMemoryPageManager->InternalRemovePage(n);
    throw;
  }
  if (n >= FAllocatedPageCount) FAllocatedPageCount = n + 1;
  FAllocatedPageMap.SetBit(n, true);
  FUsedPageCount = used;
}

void TVEZTemporaryPageManager::InternalRemovePage(std::int32_t page_no) {
  CheckAllocated(page_no, 10396);
  RVX_INVARIANT(FUsedPageCount > 0, "an allocated page is counted");
  if (IsRamPage(page_no)) FMemoryPageManager->InternalRemovePage(page_no);
  FAllocatedPageMap.SetBit(page_no, false);
  --FUsedPageCount;
}

void TVEZTemporaryPageManager::InternalReadPage(TVEZPage* page) {
  const std::int32_t n = page->PageNo();
  CheckAllocated(n, 10396);
  if (page->PageBuffer() == nullptr || !page->OwnBuffer()) page->AllocPageBuffer();
  if (IsRamPage(n)) {
    // A copy, not the RAM page itself: a change stays in the session's copy
    // until its commit, so a failed commit or a cancel leaves RAM as it was.
    const std::uint8_t* ram = FMemoryPageManager->RamPage(n);
    if (ram == nullptr) throw EVEZException(10396, "Page allocation not released");
    std::memcpy(page->PageBuffer(), ram, kTemporaryPageSize);
    return;
  }
  if (!FTempPageFile) throw EVEZException(30482, "Invalid pointer");
  FTempPageFile->File().ReadAt(CheckedMul<std::int64_t>(n, kTemporaryPageSize), page->PageBuffer(),
                               kTemporaryPageSize);
}

void TVEZTemporaryPageManager::InternalWritePage(TVEZPage* page) {
  const std::int32_t n = page->PageNo();
  CheckAllocated(n, 10397);
  if (IsRamPage(n)) {
    FMemoryPageManager->InternalWritePage(page);
    return;
  }
  if (page->PageBuffer() == nullptr) return;
  EnsurePageFile();
  FTempPageFile->File().WriteAt(CheckedMul<std::int64_t>(n, kTemporaryPageSize), page->PageBuffer(),
                                kTemporaryPageSize);
}

void TVEZTemporaryPageManager::BeforeCommitWrites(std::int32_t /*session_id*/,
                                                  const TVEZCommitChanges& changes) {
  FOldImages.clear();
  // Only a write to the page file can fail; a commit of RAM pages alone
  // needs no copies.
  const bool writes_file = std::any_of(changes.PagesToWrite.begin(), changes.PagesToWrite.end(),
                                       [&](const TVEZPage* p) { return !IsRamPage(p->PageNo()); });
  if (!writes_file) return;
  std::vector<std::int32_t> added(changes.AddedPageNumbers);
  std::sort(added.begin(), added.end());
  std::vector<TOldImage> images;
  images.reserve(changes.PagesToWrite.size());
  for (const TVEZPage* p : changes.PagesToWrite) {
    const std::int32_t n = p->PageNo();
    if (std::binary_search(added.begin(), added.end(), n)) continue;
    TOldImage image{n, std::vector<std::uint8_t>(kTemporaryPageSize)};
    if (IsRamPage(n)) {
      const std::uint8_t* ram = FMemoryPageManager->RamPage(n);
      if (ram == nullptr) throw EVEZException(10397, "Page allocation not released");
      std::memcpy(image.Bytes.data(), ram, kTemporaryPageSize);
    } else {
      if (!FTempPageFile) throw EVEZException(30482, "Invalid pointer");
      FTempPageFile->File().ReadAt(CheckedMul<std::int64_t>(n, kTemporaryPageSize),
                                   image.Bytes.data(), kTemporaryPageSize);
    }
    images.push_back(std::move(image));
  }
  FOldImages = std::move(images);
}

void TVEZTemporaryPageManager::AfterCommitWrites(std::int32_t /*session_id*/,
                                                 const TVEZCommitChanges& /*changes*/) {
  FOldImages.clear();
}

TVEZFailedCommitStorage TVEZTemporaryPageManager::OnCommitFailed(
    std::int32_t /*session_id*/, const TVEZCommitChanges& changes) noexcept {
  std::vector<TOldImage> images = std::move(FOldImages);
  FOldImages.clear();
  // Every write was done and a release failed: what is stored is the new tree.
  if (changes.ReleasedCount > 0) return TVEZFailedCommitStorage::kPartlyCommitted;
  bool restored = true;
  for (TOldImage& image : images) {
    try {
      if (IsRamPage(image.PageNo)) {
        TVEZPage page(FMemoryPageManager.get());
        page.SetPageNo(image.PageNo);
        page.SetBorrowedPageBuffer(image.Bytes.data());
        FMemoryPageManager->InternalWritePage(&page);
      } else {
        FTempPageFile->File().WriteAt(CheckedMul<std::int64_t>(image.PageNo, kTemporaryPageSize),
                                      image.Bytes.data(), kTemporaryPageSize);
      }
    } catch (...) {
      restored = false;
    }
  }
  return restored ? TVEZFailedCommitStorage::kRestored : TVEZFailedCommitStorage::kPartlyCommitted;
}

}  // namespace vez

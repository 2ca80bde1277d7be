#include "dbengine/storage/VEZMemoryPageManager.h"

#include <algorithm>
#include <cstring>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZStream.h"
#include "platform/core/CheckedMath.h"
#include "platform/core/Invariant.h"

namespace vez {

using platform::CheckedAdd;

namespace {

constexpr std::int32_t kErrBadStreamForm = 10376;

template <typename T>
void WriteLE(TVEZStream& stream, T value, std::int32_t error) {
  std::uint8_t bytes[sizeof(T)];
  for (std::size_t i = 0; i < sizeof(T); ++i)
    bytes[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
  CheckedStreamWrite(bytes, sizeof(T), stream, error);
}

template <typename T>
T ReadLE(TVEZStream& stream, std::int32_t error) {
  std::uint8_t bytes[sizeof(T)];
  CheckedStreamRead(bytes, sizeof(T), stream, error);
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i)
    v |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
  return static_cast<T>(v);
}

std::uint8_t* NewRamPage() {
  return static_cast<std::uint8_t*>(
      MemoryManager().AllocMem(TVEZMemoryPageManager::kMemoryPageSize));
}

}  // namespace

TVEZMemoryPageManager::TVEZMemoryPageManager() {
  SetPageSizes(kMemoryPageSize, 0);
}

std::int32_t TVEZMemoryPageManager::GetPageCount() {
  return FUsedPageCount > 0 ? FLastAllocatedPageNo + 1 : 0;
}

TVEZMemoryPageManager::~TVEZMemoryPageManager() {
  FreeRamPages(FDataPtrs);
}

void TVEZMemoryPageManager::FreeRamPages(std::vector<std::uint8_t*>& pages) noexcept {
  for (std::uint8_t*& p : pages) {
    if (p == nullptr) continue;
    try {
      MemoryManager().FreeAndNillMem(p);
    } catch (...) {
      // A damaged block is reported by the allocator; a release cannot pass it on.
    }
  }
  pages.clear();
}

void TVEZMemoryPageManager::GrowRamPages(std::size_t count) {
  if (FDataPtrs.size() >= count) return;
  FDataPtrs.reserve(count);
  while (FDataPtrs.size() < count)
    FDataPtrs.push_back(NewRamPage());
}

bool TVEZMemoryPageManager::IsPageAllocated(std::int32_t page_no) const {
  return page_no >= 0 && page_no < FAllocatedPageMap.Size() && FAllocatedPageMap.GetBit(page_no);
}

const std::uint8_t* TVEZMemoryPageManager::RamPage(std::int32_t page_no) const {
  if (page_no < 0 || static_cast<std::size_t>(page_no) >= FDataPtrs.size()) return nullptr;
  return FDataPtrs[static_cast<std::size_t>(page_no)];
}

void TVEZMemoryPageManager::CheckAllocated(std::int32_t page_no, std::int32_t error) const {
  if (!IsPageAllocated(page_no) || static_cast<std::size_t>(page_no) >= FDataPtrs.size())
    throw EVEZException(error, "Page allocation not released");
}

void TVEZMemoryPageManager::InternalAddPage(TVEZPage* page) {
  std::int32_t n = 0;
  std::int32_t map_size = FAllocatedPageCount;
  if (!FAllocatedPageMap.FindBit(false, n)) {
    n = FAllocatedPageCount > 0 ? CheckedAdd(FLastAllocatedPageNo, 1) : 0;
    if (n >= FAllocatedPageCount) map_size = CheckedAdd(FAllocatedPageCount, FAllocateBy);
  }
  const std::int32_t page_count = CheckedAdd(FUsedPageCount, 1);
  if (n < page_count - 1 && IsPageAllocated(n))
    throw EVEZException(20037, "Page allocation not released");
  // Storage first, counters after: a refused allocation leaves the map, the
  // counters and the pages as they were.
  const auto needed = static_cast<std::size_t>(n) + 1;
  if (needed > FDataPtrs.size())
    GrowRamPages(std::max(needed, FDataPtrs.size() + static_cast<std::size_t>(FAllocateBy)));
  if (map_size != FAllocatedPageMap.Size()) FAllocatedPageMap.SetSize(map_size);
  FAllocatedPageCount = map_size;
  FAllocatedPageMap.SetBit(n, true);
  FUsedPageCount = page_count;
  FLastAllocatedPageNo = std::max(FLastAllocatedPageNo, n);
  std::uint8_t* ram = FDataPtrs[static_cast<std::size_t>(n)];
  // A number taken again gets a clean page, as a new one would.
  std::memset(ram, 0, kMemoryPageSize);
  page->SetPageNo(n);
  page->SetBorrowedPageBuffer(ram);
}

void TVEZMemoryPageManager::InternalRemovePage(std::int32_t page_no) {
  CheckAllocated(page_no, 10391);
  RVX_INVARIANT(FUsedPageCount > 0, "an allocated page is counted");
  FAllocatedPageMap.SetBit(page_no, false);
  --FUsedPageCount;
}

void TVEZMemoryPageManager::InternalReadPage(TVEZPage* page) {
  CheckAllocated(page->PageNo(), 10392);
  std::uint8_t* ram = FDataPtrs[static_cast<std::size_t>(page->PageNo())];
  if (page->PageBuffer() == ram) return;
  // The buffer the cache handed out for the read is not needed: back to the
  // cache's spare buffers, so the next miss allocates nothing.
  RecycleBuffer(page->DetachPageBuffer());
  page->SetBorrowedPageBuffer(ram);
}

void TVEZMemoryPageManager::InternalWritePage(TVEZPage* page) {
  CheckAllocated(page->PageNo(), 10393);
  std::uint8_t* ram = FDataPtrs[static_cast<std::size_t>(page->PageNo())];
  if (page->PageBuffer() == ram || page->PageBuffer() == nullptr) return;
  std::memcpy(ram, page->PageBuffer(), kMemoryPageSize);
}

void TVEZMemoryPageManager::SaveToStream(TVEZStream& stream) {
  WriteLE<std::int32_t>(stream, FAllocatedPageCount, 10362);
  WriteLE<std::int32_t>(stream, FLastAllocatedPageNo, 10363);
  WriteLE<std::int32_t>(stream, FAllocateBy, 10364);
  WriteLE<std::uint16_t>(stream, PageSize(), 10365);
  WriteLE<std::uint16_t>(stream, PageHeaderSize(), 10366);
  WriteLE<std::int32_t>(stream, FUsedPageCount, 10367);
  FAllocatedPageMap.SaveToStream(stream);
  for (std::int32_t i = 0; i < FAllocatedPageCount; ++i) {
    const std::uint8_t* ram = RamPage(i);
    if (ram != nullptr) {
      CheckedStreamWrite(ram, kMemoryPageSize, stream, 10368);
    } else {
      const std::vector<std::uint8_t> zero(kMemoryPageSize, 0);
      CheckedStreamWrite(zero.data(), kMemoryPageSize, stream, 10368);
    }
  }
}

void TVEZMemoryPageManager::LoadFromStream(TVEZStream& stream) {
  const auto allocated = ReadLE<std::int32_t>(stream, 10369);
  const auto last = ReadLE<std::int32_t>(stream, 10370);
  const auto allocate_by = ReadLE<std::int32_t>(stream, 10371);
  const auto page_size = ReadLE<std::uint16_t>(stream, 10372);
  const auto header_size = ReadLE<std::uint16_t>(stream, 10373);
  const auto page_count = ReadLE<std::int32_t>(stream, 10374);
  // Only this manager's geometry can be held; a count the stream cannot
  // hold is refused before anything is allocated.
  const std::int64_t remaining = stream.Size() - stream.Position();
  if (page_size != kMemoryPageSize || header_size != 0 || allocated < 0 || allocate_by < 1 ||
      page_count < 0 || page_count > allocated || last < 0 ||
      (allocated > 0 && last >= allocated) ||
      static_cast<std::int64_t>(allocated) * kMemoryPageSize > remaining)
    throw EVEZException(kErrBadStreamForm, "Invalid memory page manager stream");
  TVEZBitsArray map;
  map.LoadFromStream(stream);
  if (map.Size() != allocated || map.NonZeroBitCount() != page_count)
    throw EVEZException(kErrBadStreamForm, "Invalid memory page manager stream");
  std::vector<std::uint8_t*> pages;
  try {
    pages.reserve(static_cast<std::size_t>(allocated));
    for (std::int32_t i = 0; i < allocated; ++i) {
      pages.push_back(NewRamPage());
      CheckedStreamRead(pages.back(), kMemoryPageSize, stream, 10375);
    }
  } catch (...) {
    FreeRamPages(pages);
    throw;
  }
  // Cached page objects point at the RAM pages: the new images are copied
  // into them, so no cached page is left on a freed block.
  try {
    GrowRamPages(static_cast<std::size_t>(allocated));
  } catch (...) {
    FreeRamPages(pages);
    throw;
  }
  for (std::size_t i = 0; i < pages.size(); ++i)
    std::memcpy(FDataPtrs[i], pages[i], kMemoryPageSize);
  FreeRamPages(pages);
  FAllocatedPageMap.SetSize(0);
  FAllocatedPageMap.SetSize(allocated);
  for (std::int32_t i = 0; i < allocated; ++i)
    if (map.GetBit(i)) FAllocatedPageMap.SetBit(i, true);
  FAllocatedPageCount = allocated;
  FLastAllocatedPageNo = last;
  FAllocateBy = allocate_by;
  FUsedPageCount = page_count;
}

}  // namespace vez

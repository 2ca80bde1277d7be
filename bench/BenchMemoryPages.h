// Bench support: a page store in memory behind the engine's page cache, so
// that a benchmark measures the page and index code, not the disk.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "dbengine/storage/VEZPageManager.h"

namespace vez::bench {

// Pages of 4096 bytes (40 of header), 1000 of them cached.
class MemoryPages : public TVEZPageManager {
 public:
  MemoryPages() {
    SetPageSizes(4096, 40);
    SetCacheCapacity(1000);
  }
  void InternalAddPage(TVEZPage* page) override {
    page->SetPageNo(static_cast<std::int32_t>(pages_.size()));
    page->AllocPageBuffer();
    pages_.emplace_back(PageSize());
    SetPageCount(static_cast<std::int32_t>(pages_.size()));
  }
  void InternalRemovePage(std::int32_t) override {}
  void InternalReadPage(TVEZPage* page) override {
    std::memcpy(page->PageBuffer(), pages_[static_cast<std::size_t>(page->PageNo())].data(),
                PageSize());
  }
  void InternalWritePage(TVEZPage* page) override {
    std::memcpy(pages_[static_cast<std::size_t>(page->PageNo())].data(), page->PageBuffer(),
                PageSize());
  }

 private:
  std::vector<std::vector<std::uint8_t>> pages_;
};

}  // namespace vez::bench

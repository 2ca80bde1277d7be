// Test page manager: pages stored in a map, every storage operation counted,
// failures injectable. Shared by the page cache and B-tree tests.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZPageManager.h"
#include "platform/core/Exceptions.h"

namespace vez::test {

class TMemoryPageStorage : public TVEZPageManager {
 public:
  explicit TMemoryPageStorage(std::uint16_t page_size = 4096, std::uint16_t header_size = 40) {
    SetPageSizes(page_size, header_size);
  }

  struct Counts {
    int add = 0, remove = 0, read = 0, write = 0;
  };
  Counts counts;
  std::map<std::int32_t, std::vector<std::uint8_t>> stored;
  std::set<std::int32_t> free_numbers;
  std::int32_t next_page_no = 0;
  std::int32_t fail_read_page = -2;
  std::int32_t fail_write_page = -2;
  std::int32_t fail_remove_page = -2;
  static constexpr std::int32_t kMissingPageError = 4;
  bool synchronize = false;
  std::map<std::int32_t, std::int32_t> unreadable_state;  // page -> 1 when state unreadable

  void InternalAddPage(TVEZPage* page) override {
    ++counts.add;
    std::int32_t no;
    if (!free_numbers.empty()) {
      no = *free_numbers.begin();
      free_numbers.erase(free_numbers.begin());
    } else {
      no = next_page_no++;
    }
    page->SetPageNo(no);
    page->AllocPageBuffer();
    stored[no] = std::vector<std::uint8_t>(PageSize(), 0);
    // Page numbers run below next_page_no, freed ones included, as in a file.
    SetPageCount(next_page_no);
  }
  void InternalRemovePage(std::int32_t page_no) override {
    ++counts.remove;
    if (page_no == fail_remove_page) throw EVEZException(2, "remove failed");
    stored.erase(page_no);
    free_numbers.insert(page_no);
  }
  // A failing read raises an OS error (EIO), a page never stored an engine
  // error of its own, as a storage would.
  void InternalReadPage(TVEZPage* page) override {
    ++counts.read;
    if (page->PageNo() == fail_read_page)
      throw platform::EOSError(EIO, "Reading page " + std::to_string(page->PageNo()));
    auto it = stored.find(page->PageNo());
    if (it == stored.end()) throw EVEZException(kMissingPageError, "No such page");
    std::memcpy(page->PageBuffer(), it->second.data(), PageSize());
    page->SetReloaded(true);
  }
  void InternalWritePage(TVEZPage* page) override {
    ++counts.write;
    if (page->PageNo() == fail_write_page) throw EVEZException(1, "write failed");
    stored[page->PageNo()].assign(page->PageBuffer(), page->PageBuffer() + PageSize());
  }
  bool CanSynchronizePages() const override { return synchronize; }
  bool ReadStoredPageState(std::int32_t page_no, std::int32_t& state) override {
    if (unreadable_state.count(page_no)) return false;
    auto it = stored.find(page_no);
    if (it == stored.end()) return false;
    std::memcpy(&state, it->second.data() + 4, 4);
    return true;
  }

  // Writes a stored page directly, as another process would.
  void Store(std::int32_t page_no, std::uint16_t type, std::uint8_t fill, std::int32_t state = 0) {
    std::vector<std::uint8_t> b(std::max<std::size_t>(PageSize(), 40), fill);
    TVEZDiskPageHeaderView h(b.data());
    h.Init();
    h.SetPageType(type);
    h.SetState(state);
    stored[page_no] = b;
    if (page_no >= next_page_no) next_page_no = page_no + 1;
    SetPageCount(next_page_no);
  }
};

}  // namespace vez::test

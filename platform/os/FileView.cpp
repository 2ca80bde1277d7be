#include "platform/os/FileView.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cassert>

namespace platform {

FileView::~FileView() {
  Close();
}

bool FileView::Open(int descriptor, std::int64_t offset, std::size_t count) {
  Close();
  if (descriptor < 0 || offset < 0 || count == 0) return false;
  const long page = sysconf(_SC_PAGESIZE);
  if (page <= 0) return false;
  const std::int64_t start = offset - offset % page;
  const auto size = static_cast<std::size_t>(offset - start) + count;
  void* p = mmap(nullptr, size, PROT_READ, MAP_SHARED, descriptor, static_cast<off_t>(start));
  if (p == MAP_FAILED) return false;
  mapping_ = p;
  mapping_size_ = size;
  bytes_ = static_cast<const volatile std::uint8_t*>(p) + (offset - start);
  count_ = count;
  return true;
}

void FileView::Close() noexcept {
  if (mapping_ != nullptr) munmap(mapping_, mapping_size_);
  mapping_ = nullptr;
  mapping_size_ = 0;
  bytes_ = nullptr;
  count_ = 0;
}

void FileView::Load(std::size_t offset, void* buffer, std::size_t count) const {
  assert(bytes_ != nullptr && offset + count <= count_);
  // Loads after whatever the caller did before (a lock, a message from the
  // writer) are not moved ahead of it.
  std::atomic_thread_fence(std::memory_order_acquire);
  auto* out = static_cast<std::uint8_t*>(buffer);
  for (std::size_t i = 0; i < count; ++i)
    out[i] = bytes_[offset + i];
}

}  // namespace platform

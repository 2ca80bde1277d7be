#include "dbengine/storage/VEZBlobHandleTable.h"

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"

namespace vez {

namespace {

void FreeBlock(std::uint8_t*& block) noexcept {
  if (block == nullptr) return;
  try {
    MemoryManager().FreeAndNillMem(block);
  } catch (...) {
    block = nullptr;  // a damaged block is reported by the allocator only
  }
}

std::uint8_t NextGeneration(std::uint8_t g) {
  return g == 255 ? 1 : static_cast<std::uint8_t>(g + 1);
}

}  // namespace

TVEZBlobHandleTable::~TVEZBlobHandleTable() {
  Clear();
}

std::uint32_t TVEZBlobHandleTable::Add(std::uint8_t* block, bool pending) {
  try {
    std::uint32_t no;
    if (!free_.empty()) {
      no = free_.front();
      free_.pop_front();
    } else {
      if (entries_.size() >= kMaxEntries)
        throw EVEZException(10430, "Too many BLOB values are open");
      entries_.emplace_back();
      no = static_cast<std::uint32_t>(entries_.size() - 1);
    }
    TEntry& e = entries_[no];
    e.Block = block;
    e.Pending = pending;
    ++live_count_;
    return (static_cast<std::uint32_t>(e.Generation) << 24) | (no + 1);
  } catch (...) {
    FreeBlock(block);
    throw;
  }
}

const TVEZBlobHandleTable::TEntry* TVEZBlobHandleTable::Find(std::uint32_t handle) const {
  const std::uint32_t no_plus_one = handle & 0x00FFFFFFu;
  if (no_plus_one == 0 || no_plus_one > entries_.size()) return nullptr;
  const TEntry& e = entries_[no_plus_one - 1];
  if (e.Block == nullptr || e.Generation != (handle >> 24)) return nullptr;
  return &e;
}

std::uint8_t* TVEZBlobHandleTable::Resolve(std::uint32_t handle) const {
  const TEntry* e = Find(handle);
  return e != nullptr ? e->Block : nullptr;
}

bool TVEZBlobHandleTable::IsPending(std::uint32_t handle) const {
  const TEntry* e = Find(handle);
  return e != nullptr && e->Pending;
}

void TVEZBlobHandleTable::SetPending(std::uint32_t handle, bool pending) {
  if (Find(handle) != nullptr) entries_[(handle & 0x00FFFFFFu) - 1].Pending = pending;
}

void TVEZBlobHandleTable::Release(std::uint32_t handle) noexcept {
  if (Find(handle) == nullptr) return;
  const std::uint32_t no = (handle & 0x00FFFFFFu) - 1;
  TEntry& e = entries_[no];
  FreeBlock(e.Block);
  e.Pending = false;
  e.Generation = NextGeneration(e.Generation);
  --live_count_;
  try {
    free_.push_back(no);
  } catch (...) {
    // Without room in the free list the entry is simply not reused.
  }
}

void TVEZBlobHandleTable::Clear() noexcept {
  for (std::size_t no = 0; no < entries_.size(); ++no) {
    TEntry& e = entries_[no];
    if (e.Block == nullptr) continue;
    FreeBlock(e.Block);
    e.Pending = false;
    e.Generation = NextGeneration(e.Generation);
    try {
      free_.push_back(static_cast<std::uint32_t>(no));
    } catch (...) {
    }
  }
  live_count_ = 0;
}

}  // namespace vez

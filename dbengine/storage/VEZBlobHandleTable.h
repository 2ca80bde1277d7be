// TVEZBlobHandleTable: the per-table table of cached BLOB values that record
// buffers refer to. A record buffer never holds a machine pointer: a BLOB
// field's memory form keeps a 32-bit handle, and the handle is resolved here.
// A handle carries its entry's generation, raised whenever the entry is
// released, so a stale handle left in a copied buffer resolves to "no BLOB"
// instead of to whatever value took the entry later.
//
// Handle layout: bits 0-23 the entry number + 1, bits 24-31 the generation
// (1..255). Handle 0 is "no BLOB". Released entries are reused oldest first,
// so an entry comes back with the same generation only after 255 releases of
// that entry.
//
// Each entry holds one engine memory-manager block (the table keeps no
// ownership rules of its own beyond freeing the blocks it still holds when it
// is cleared or destroyed) and a Pending flag: set while the value is written
// into a record buffer but not yet stored in a record, so that a cancelled
// change can free it.
//
// Thread safety: none of its own; the table data's lock guards every call.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

namespace vez {

class TVEZBlobHandleTable {
 public:
  static constexpr std::uint32_t kNoHandle = 0;
  static constexpr std::uint32_t kMaxEntries = 0x00FFFFFF;

  TVEZBlobHandleTable() = default;
  // Frees every block still held.
  ~TVEZBlobHandleTable();
  TVEZBlobHandleTable(const TVEZBlobHandleTable&) = delete;
  TVEZBlobHandleTable& operator=(const TVEZBlobHandleTable&) = delete;

  // Takes ownership of block (a memory-manager block, not null) and returns
  // its handle. On a failure (10430 when every entry is in use, or out of
  // memory) the block is freed and the error passes on.
  std::uint32_t Add(std::uint8_t* block, bool pending);
  // The block of a live handle, nullptr for kNoHandle or a stale handle.
  std::uint8_t* Resolve(std::uint32_t handle) const;
  bool IsPending(std::uint32_t handle) const;
  void SetPending(std::uint32_t handle, bool pending);
  // Frees the block and retires the handle; nothing for a stale handle.
  void Release(std::uint32_t handle) noexcept;
  // Frees every block; every handle given out so far becomes stale.
  void Clear() noexcept;
  // Handles that resolve.
  std::int64_t LiveCount() const { return live_count_; }

 private:
  struct TEntry {
    std::uint8_t* Block = nullptr;
    std::uint8_t Generation = 1;
    bool Pending = false;
  };
  const TEntry* Find(std::uint32_t handle) const;

  std::vector<TEntry> entries_;
  std::deque<std::uint32_t> free_;  // entry numbers, oldest release first
  std::int64_t live_count_ = 0;
};

}  // namespace vez

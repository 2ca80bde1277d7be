// TVEZMemoryManager: the guarded allocator of the engine's record, key, page,
// value and stream buffers. Each block carries a head (size, method, signature)
// before the data and a signature after it, so a foreign pointer or a write
// past the end of a buffer is detected when the block is freed.
//
// Block layout (in memory only, never in a file), packed, for N requested bytes:
//   0 Int32 size N | 4 Byte method (0 = ordinary heap) | 5 UInt32 0xACCACCAC |
//   9 N data bytes (the pointer handed out) | 9+N UInt32 0xACCEACCE
// Data pointers are not aligned beyond that: copy values in and out with memcpy.
//
// Thread safety: all operations may be called from several threads; a block
// belongs to whoever holds its pointer.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>

namespace vez {

class TVEZMemoryManager {
 public:
  static constexpr std::uint32_t kHeadSignature = 0xACCACCACu;
  static constexpr std::uint32_t kTailSignature = 0xACCEACCEu;
  static constexpr std::int64_t kHeadSize = 9;
  static constexpr std::int64_t kTailSize = 4;

  TVEZMemoryManager() = default;
  explicit TVEZMemoryManager(std::int64_t max_memory_size) : max_memory_size_(max_memory_size) {}
  TVEZMemoryManager(const TVEZMemoryManager&) = delete;
  TVEZMemoryManager& operator=(const TVEZMemoryManager&) = delete;

  // A new block of buffer_size bytes, not initialised. Raises 30286 for a size
  // below 1, 30004 when the limit would be passed, 30015 when the heap refuses
  // or the block would not fit a 32-bit size.
  void* GetMem(std::int64_t buffer_size);
  // GetMem with the data bytes set to zero.
  void* AllocMem(std::int64_t buffer_size);

  // Checks and frees the block, then sets buffer to nullptr. Callers test for
  // nullptr first; a nullptr raises 30138. Raises 30001 (head wrong; nothing
  // freed, buffer kept) or 30137 (tail overwritten; the block is freed and
  // counted off first).
  void FreeAndNillMem(void*& buffer);
  template <typename T>
  void FreeAndNillMem(T*& buffer) {
    void* p = buffer;
    try {
      FreeAndNillMem(p);
    } catch (...) {
      buffer = static_cast<T*>(p);
      throw;
    }
    buffer = nullptr;
  }
  void FreeMem(void* buffer) { FreeAndNillMem(buffer); }

  // Moves the data into a new block of buffer_size bytes and points buffer at
  // it. With clear_tail, bytes past the old size are zero. Every failure is
  // reported as 30014. When the old block's tail was overwritten, buffer still
  // ends up on the new, valid block before 30014 is raised, so the caller
  // neither leaks nor keeps a freed pointer.
  void ReallocMem(void*& buffer, std::int64_t buffer_size, bool clear_tail);
  template <typename T>
  void ReallocMem(T*& buffer, std::int64_t buffer_size, bool clear_tail) {
    void* p = buffer;
    try {
      ReallocMem(p, buffer_size, clear_tail);
    } catch (...) {
      buffer = static_cast<T*>(p);
      throw;
    }
    buffer = static_cast<T*>(p);
  }
  template <typename T>
  void ReallocMemAndClearTail(T*& buffer, std::int64_t buffer_size) {
    ReallocMem(buffer, buffer_size, true);
  }

  // The requested size of the block; 0 for nullptr. Raises 30005 for a block
  // whose head is wrong.
  std::int64_t GetMemoryBufferSize(const void* buffer) const;

  // Free physical memory (64-bit), or the limit when one is set and smaller.
  // The system's figure is read at most once per kFreeMemoryRefreshMs; in
  // between the last figure read is answered.
  std::int64_t GetFreeMemorySize();
  static constexpr std::int64_t kFreeMemoryRefreshMs = 1000;

  std::int64_t MaxMemorySize() const { return max_memory_size_.load(std::memory_order_relaxed); }
  void SetMaxMemorySize(std::int64_t size) {
    max_memory_size_.store(size, std::memory_order_relaxed);
  }
  std::int64_t TotalMemAllocated() const { return total_mem_allocated_.load(); }

 private:
  // Atomic: sessions on other threads read them while one changes them.
  std::atomic<std::int64_t> max_memory_size_{0};
  std::atomic<std::int64_t> total_mem_allocated_{0};
  std::atomic<std::int64_t> free_system_memory_size_{0};
  static constexpr std::int64_t kNeverAsked = std::numeric_limits<std::int64_t>::min();
  std::atomic<std::int64_t> free_system_memory_asked_ms_{kNeverAsked};
};

// The engine's one allocator, alive for the whole process.
TVEZMemoryManager& MemoryManager();

// Copies count bytes from source to dest; correct when the ranges overlap.
// Count 0 or below copies nothing.
void SafeMove(const void* source, void* dest, std::int32_t count);

}  // namespace vez

#include "dbengine/foundation/VEZMemoryManager.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "dbengine/foundation/VEZException.h"
#include "platform/os/MemoryStatus.h"

namespace vez {

namespace {

// Error numbers raised from more than one place in this file.
constexpr std::int32_t kErrorGetMem = 30015;     // an allocation the system refuses
constexpr std::int32_t kErrorAllocSize = 30286;  // an allocation size below 1

}  // namespace

namespace {

constexpr std::uint8_t kMethodHeap = 0;

std::uint8_t* BlockOf(const void* data) {
  return const_cast<std::uint8_t*>(static_cast<const std::uint8_t*>(data)) -
         TVEZMemoryManager::kHeadSize;
}

std::uint32_t ReadU32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void WriteU32(std::uint8_t* p, std::uint32_t v) {
  std::memcpy(p, &v, 4);
}

std::int32_t BlockSize(const std::uint8_t* block) {
  std::int32_t v;
  std::memcpy(&v, block, 4);
  return v;
}

bool HeadValid(const void* data) {
  return ReadU32(BlockOf(data) + 5) == TVEZMemoryManager::kHeadSignature;
}

}  // namespace

void* TVEZMemoryManager::GetMem(std::int64_t buffer_size) {
  if (buffer_size == 0) throw EVEZException(kErrorAllocSize, "Cannot allocate 0 bytes");
  if (buffer_size < 0)
    throw EVEZException(kErrorAllocSize, "Cannot allocate %d bytes", {buffer_size});
  // A total that would not fit 64 bits passes any limit (no signed wrap).
  std::int64_t total_after;
  const std::int64_t limit = max_memory_size_.load(std::memory_order_relaxed);
  if (limit != 0 &&
      (__builtin_add_overflow(total_mem_allocated_.load(), buffer_size, &total_after) ||
       total_after > limit))
    throw EVEZException(30004, "Memory limit exceeded (Limit = %d bytes)", {limit});
  // The head stores the size as Int32: a larger block would corrupt it.
  if (buffer_size > std::numeric_limits<std::int32_t>::max() - kHeadSize - kTailSize)
    throw EVEZException(kErrorGetMem, "GetMem error: %s",
                        {"block of " + std::to_string(buffer_size) + " bytes is too large"});
  auto* block = static_cast<std::uint8_t*>(
      std::malloc(static_cast<std::size_t>(buffer_size + kHeadSize + kTailSize)));
  if (!block) throw EVEZException(kErrorGetMem, "GetMem error: %s", {"Out of memory"});
  const auto size32 = static_cast<std::int32_t>(buffer_size);
  std::memcpy(block, &size32, 4);
  block[4] = kMethodHeap;
  WriteU32(block + 5, kHeadSignature);
  WriteU32(block + kHeadSize + buffer_size, kTailSignature);
  total_mem_allocated_.fetch_add(buffer_size);
  return block + kHeadSize;
}

void* TVEZMemoryManager::AllocMem(std::int64_t buffer_size) {
  void* p = GetMem(buffer_size);
  std::memset(p, 0, static_cast<std::size_t>(buffer_size));
  return p;
}

void TVEZMemoryManager::FreeAndNillMem(void*& buffer) {
  // A nil block has no head to read: report it as a failed free, not a crash.
  if (!buffer) throw EVEZException(30138, "FreeAndNillMem error: %s", {"nil pointer"});
  std::uint8_t* block = BlockOf(buffer);
  if (ReadU32(block + 5) != kHeadSignature) throw EVEZException(30001, "Invalid pointer");
  const std::int32_t size = BlockSize(block);
  const bool overrun = ReadU32(block + kHeadSize + size) != kTailSignature;
  total_mem_allocated_.fetch_sub(size);
  std::free(block);
  buffer = nullptr;
  if (overrun) throw EVEZException(30137, "Memory overrun detected");
}

void TVEZMemoryManager::ReallocMem(void*& buffer, std::int64_t buffer_size, bool clear_tail) {
  try {
    if (!buffer || !HeadValid(buffer)) throw EVEZException(30002, "Invalid pointer");
    const std::int64_t old_size = BlockSize(BlockOf(buffer));
    void* fresh = GetMem(buffer_size);
    const std::int64_t keep = std::min(old_size, buffer_size);
    std::memcpy(fresh, buffer, static_cast<std::size_t>(keep));
    if (clear_tail && old_size < buffer_size)
      std::memset(static_cast<std::uint8_t*>(fresh) + old_size, 0,
                  static_cast<std::size_t>(buffer_size - old_size));
    void* old = buffer;
    // The caller owns the new block from here on, even if freeing the old
    // one reports an overrun.
    buffer = fresh;
    FreeAndNillMem(old);
  } catch (const platform::Exception& e) {
    throw EVEZException(30014, "ReallocMem error: %s", {e.Message()});
  }
}

std::int64_t TVEZMemoryManager::GetMemoryBufferSize(const void* buffer) const {
  if (!buffer) return 0;
  if (!HeadValid(buffer)) throw EVEZException(30005, "Invalid pointer");
  return BlockSize(BlockOf(buffer));
}

std::int64_t TVEZMemoryManager::GetFreeMemorySize() {
  // Every table open sizes its caches from this figure; reading the system's
  // figure costs a file read, so it is asked again only once it is stale.
  const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
  const std::int64_t asked = free_system_memory_asked_ms_.load(std::memory_order_acquire);
  std::int64_t free_size = free_system_memory_size_.load(std::memory_order_relaxed);
  if (asked == kNeverAsked || now - asked >= kFreeMemoryRefreshMs || now < asked) {
    const std::uint64_t free_bytes = std::min<std::uint64_t>(
        platform::FreePhysicalMemory(),
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()));
    free_size = static_cast<std::int64_t>(free_bytes);
    free_system_memory_size_.store(free_size, std::memory_order_relaxed);
    free_system_memory_asked_ms_.store(now, std::memory_order_release);
  }
  const std::int64_t limit = max_memory_size_.load(std::memory_order_relaxed);
  return limit != 0 ? std::min(limit, free_size) : free_size;
}

TVEZMemoryManager& MemoryManager() {
  // Never destroyed: blocks may be freed by other static objects at exit.
  static TVEZMemoryManager* instance = new TVEZMemoryManager();
  return *instance;
}

void SafeMove(const void* source, void* dest, std::int32_t count) {
  if (count <= 0) return;
  std::memmove(dest, source, static_cast<std::size_t>(count));
}

}  // namespace vez

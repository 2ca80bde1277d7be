// Helpers for the temporary engine's tests: a lowered memory limit, so that
// few records or pages fit in RAM, and a file system whose temporary files can
// be made to fail their writes and whose paths can be checked after close.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZMemoryManager.h"
#include "platform/core/Exceptions.h"
#include "platform/os/File.h"

namespace vez::test {

class ScopedMemoryLimit {
 public:
  explicit ScopedMemoryLimit(std::int64_t limit) : old_(MemoryManager().MaxMemorySize()) {
    MemoryManager().SetMaxMemorySize(limit);
  }
  ~ScopedMemoryLimit() { MemoryManager().SetMaxMemorySize(old_); }
  ScopedMemoryLimit(const ScopedMemoryLimit&) = delete;
  ScopedMemoryLimit& operator=(const ScopedMemoryLimit&) = delete;

 private:
  std::int64_t old_;
};

// A limit under which the free memory is about bytes x 10 above what is live.
inline std::int64_t LimitForTenthOf(std::int64_t bytes) {
  return MemoryManager().TotalMemAllocated() + bytes * 10 + 1;
}

class FailingTempFileSystem : public platform::FileSystemWrapper {
 public:
  FailingTempFileSystem() : platform::FileSystemWrapper(platform::DefaultFileSystem()) {}

  std::atomic<bool> fail_writes{false};
  // Writes seen so far; the one whose 0-based number this is fails (-1: none).
  std::atomic<int> writes{0};
  std::atomic<int> fail_write_at{-1};
  std::vector<std::string> paths;

  std::unique_ptr<platform::File> CreateTempFile(std::string* path) override {
    return Wrap(Target().CreateTempFile(path));
  }
  std::unique_ptr<platform::File> CreateDeleteOnCloseFile(const std::string& path) override {
    return Wrap(Target().CreateDeleteOnCloseFile(path));
  }

 private:
  class Failing : public platform::FileWrapper {
   public:
    Failing(std::unique_ptr<platform::File> f, FailingTempFileSystem& owner)
        : platform::FileWrapper(std::move(f)), owner_(owner) {}
    void WriteAt(std::int64_t offset, const void* buffer, std::size_t count) override {
      const int n = owner_.writes++;
      if (owner_.fail_writes || n == owner_.fail_write_at)
        throw platform::EOSError(ENOSPC, "No space left on device");
      platform::FileWrapper::WriteAt(offset, buffer, count);
    }

   private:
    FailingTempFileSystem& owner_;
  };

  std::unique_ptr<platform::File> Wrap(std::unique_ptr<platform::File> f) {
    paths.push_back(f->Path());
    return std::make_unique<Failing>(std::move(f), *this);
  }
};

}  // namespace vez::test

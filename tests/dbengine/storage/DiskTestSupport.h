// Test support for the database file: a scratch folder, and a file system that
// counts every mutating call (write, truncate, sync) and fails the n-th one.
#pragma once

#include <stdlib.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/Exceptions.h"
#include "platform/os/File.h"

namespace vez::test {

class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/vezdbfileXXXXXX";
    if (!mkdtemp(pattern)) throw platform::EOSError(errno, "mkdtemp");
    dir_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_;
};

inline std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// What a FaultFileSystem saw and is told to break.
struct FaultPlan {
  enum class Op { kWrite, kTruncate, kSync };
  // The mutating call (0-based, over all files) that fails with EIO; -1 never.
  int fail_at = -1;
  // Only calls of this kind count towards fail_at when set.
  bool only_kind = false;
  Op kind = Op::kWrite;
  int mutations = 0;
  int writes = 0, truncates = 0, syncs = 0, reads = 0;
  // Offset and size of every write, in order.
  std::vector<std::pair<std::int64_t, std::size_t>> write_log;

  void Hit(Op op) {
    if (only_kind && op != kind) return;
    const int n = mutations++;
    if (n == fail_at) throw platform::EOSError(EIO, "injected failure");
  }
};

class FaultFile : public platform::FileWrapper {
 public:
  FaultFile(std::unique_ptr<platform::File> target, FaultPlan& plan)
      : FileWrapper(std::move(target)), plan_(plan) {}
  void ReadAt(std::int64_t offset, void* buffer, std::size_t count) override {
    ++plan_.reads;
    FileWrapper::ReadAt(offset, buffer, count);
  }
  std::size_t ReadPartialAt(std::int64_t offset, void* buffer, std::size_t count) override {
    ++plan_.reads;
    return FileWrapper::ReadPartialAt(offset, buffer, count);
  }
  void WriteAt(std::int64_t offset, const void* buffer, std::size_t count) override {
    ++plan_.writes;
    plan_.write_log.emplace_back(offset, count);
    plan_.Hit(FaultPlan::Op::kWrite);
    FileWrapper::WriteAt(offset, buffer, count);
  }
  void Truncate(std::int64_t size) override {
    ++plan_.truncates;
    plan_.Hit(FaultPlan::Op::kTruncate);
    FileWrapper::Truncate(size);
  }
  void Sync() override {
    ++plan_.syncs;
    plan_.Hit(FaultPlan::Op::kSync);
    FileWrapper::Sync();
  }

 private:
  FaultPlan& plan_;
};

class FaultFileSystem : public platform::FileSystemWrapper {
 public:
  FaultFileSystem() : FileSystemWrapper(platform::PosixFileSystem()) {}
  FaultPlan plan;

  std::unique_ptr<platform::File> CreateFile(const std::string& path,
                                             platform::FileShare share) override {
    return std::make_unique<FaultFile>(FileSystemWrapper::CreateFile(path, share), plan);
  }
  std::unique_ptr<platform::File> OpenFile(const std::string& path, platform::FileAccess access,
                                           platform::FileShare share) override {
    return std::make_unique<FaultFile>(FileSystemWrapper::OpenFile(path, access, share), plan);
  }
};

}  // namespace vez::test

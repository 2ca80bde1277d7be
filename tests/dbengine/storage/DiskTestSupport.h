// Test support for the database file: a scratch folder, a file system that
// counts every mutating call (write, truncate, sync) and fails the n-th one,
// and the few page manager steps every disk test takes.
#pragma once

#include <stdlib.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/storage/VEZDiskPageManager.h"
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
  // The file of each write in write_log.
  std::vector<std::string> write_paths;

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
    plan_.write_paths.push_back(Path());
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

// What OpenDatabase reported back through its in-out flags.
struct Opened {
  bool read_only = false;
  bool repair_needed = false;
  bool multi_user = true;
};

inline Opened Open(TVEZDiskPageManager& pm, const std::string& name, bool exclusive = false,
                   bool multi_user = true, bool read_only = false) {
  Opened o;
  o.multi_user = multi_user;
  o.read_only = read_only;
  pm.OpenDatabase(name, TVEZPassword{}, o.read_only, o.repair_needed, exclusive, o.multi_user);
  return o;
}

// A new table record page, every data byte = fill, handed back at once.
inline std::int32_t AddPageWith(TVEZDiskPageManager& pm, std::uint8_t fill,
                                std::int32_t session = 0) {
  TVEZPage* p = pm.AddPage(session, kPageTypeTableRecord);
  std::memset(p->PageData(), fill, pm.PageDataSize());
  const std::int32_t no = p->PageNo();
  pm.PutPage(p);
  return no;
}

// Sets every data byte of a table record page to fill.
inline void ChangePage(TVEZDiskPageManager& pm, std::int32_t page_no, std::uint8_t fill,
                       std::int32_t session = 0) {
  TVEZPage* p = pm.GetPage(session, page_no, kPageTypeTableRecord, true);
  std::memset(p->PageData(), fill, pm.PageDataSize());
  p->SetIsDirty(true);
  pm.PutPage(p);
}

// The first data byte of a page and whether every data byte equals it.
inline std::pair<std::uint8_t, bool> PageFill(TVEZDiskPageManager& pm, std::int32_t page_no,
                                              std::int32_t session = 0) {
  TVEZPage* p = pm.GetPage(session, page_no, kPageTypeTableRecord, true);
  const std::uint8_t first = p->PageData()[0];
  bool same = true;
  for (std::int32_t i = 0; i < pm.PageDataSize(); ++i)
    same = same && p->PageData()[i] == first;
  pm.PutPage(p);
  return {first, same};
}

// A new database file, closed, with `pages` table record pages committed; the
// n-th has every data byte = first_fill + n.
inline void MakeDatabase(const std::string& name, int pages, std::uint8_t first_fill = 1,
                         std::int32_t page_size = 4096, std::int32_t extent = 8) {
  TVEZDiskPageManager pm;
  pm.CreateAndOpenDatabase(name, TVEZPassword{}, page_size, extent);
  for (int i = 0; i < pages; ++i)
    AddPageWith(pm, static_cast<std::uint8_t>(first_fill + i));
  pm.ApplyChanges(0);
}

}  // namespace vez::test

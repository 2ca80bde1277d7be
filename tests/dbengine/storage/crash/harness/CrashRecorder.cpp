#include "tests/dbengine/storage/crash/harness/CrashRecorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/core/Exceptions.h"

namespace vez::test::crash {

namespace {

// A handle of a file that is or may become tracked: every change goes to the
// real file first, and is logged only when it succeeded.
class RecordingFile : public platform::FileWrapper {
 public:
  RecordingFile(std::unique_ptr<platform::File> target, RecordingFileSystem& fs,
                std::shared_ptr<RecordingFileSystem::Target> tracked)
      : FileWrapper(std::move(target)), fs_(fs), tracked_(std::move(tracked)) {}

  void WriteAt(std::int64_t offset, const void* buffer, std::size_t count) override {
    FileWrapper::WriteAt(offset, buffer, count);
    if (tracked_->index < 0) return;
    FileOp op = Op(FileOp::Kind::kWrite);
    op.offset = offset;
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    op.data.assign(p, p + count);
    fs_.Record(std::move(op));
  }
  void Truncate(std::int64_t size) override {
    FileWrapper::Truncate(size);
    if (tracked_->index < 0) return;
    FileOp op = Op(FileOp::Kind::kTruncate);
    op.offset = size;
    fs_.Record(std::move(op));
  }
  void Sync() override {
    FileWrapper::Sync();
    if (tracked_->index >= 0) fs_.Record(Op(FileOp::Kind::kSync));
  }

 private:
  FileOp Op(FileOp::Kind kind) const {
    FileOp op;
    op.kind = kind;
    op.file = static_cast<TrackedFile>(tracked_->index);
    return op;
  }

  RecordingFileSystem& fs_;
  std::shared_ptr<RecordingFileSystem::Target> tracked_;
};

}  // namespace

std::int64_t CrashLog::CountOf(FileOp::Kind kind) const {
  std::int64_t n = 0;
  for (const FileOp& op : ops)
    if (op.kind == kind) ++n;
  return n;
}

std::int64_t CrashLog::SyncsInCommits() const {
  std::int64_t n = 0;
  bool applying = false;
  for (const FileOp& op : ops) {
    if (op.kind == FileOp::Kind::kCommitApply) applying = true;
    if (op.kind == FileOp::Kind::kCommitEnd) applying = false;
    if (op.kind == FileOp::Kind::kSync && applying) ++n;
  }
  return n;
}

std::int64_t CrashLog::SyncsInTransactions() const {
  return CountOf(FileOp::Kind::kSync) - SyncsInCommits();
}

RecordingFileSystem::RecordingFileSystem(std::string database_path)
    : FileSystemWrapper(platform::PosixFileSystem()), installed_(*this) {
  paths_[0] = database_path;
  paths_[1] = std::move(database_path) + "-journal";
}

RecordingFileSystem::~RecordingFileSystem() = default;

void RecordingFileSystem::Start() {
  for (int i = 0; i < kTrackedFileCount; ++i)
    log_.initial.files[i] = ReadImage(paths_[i]);
  log_.ops.clear();
  recording_ = true;
}

void RecordingFileSystem::Mark(FileOp::Kind kind, std::int32_t number) {
  FileOp op;
  op.kind = kind;
  op.mark = number;
  Record(std::move(op));
}

int RecordingFileSystem::TrackedIndex(const std::string& path) const {
  for (int i = 0; i < kTrackedFileCount; ++i)
    if (path == paths_[i]) return i;
  return -1;
}

void RecordingFileSystem::Record(FileOp op) {
  if (recording_) log_.ops.push_back(std::move(op));
}

std::shared_ptr<RecordingFileSystem::Target> RecordingFileSystem::TargetOf(
    const std::string& path) {
  auto& slot = targets_[path];
  if (!slot) {
    slot = std::make_shared<Target>();
    slot->index = TrackedIndex(path);
  }
  return slot;
}

std::unique_ptr<platform::File> RecordingFileSystem::CreateFile(const std::string& path,
                                                                platform::FileShare share) {
  auto file = FileSystemWrapper::CreateFile(path, share);
  auto target = TargetOf(path);
  if (target->index >= 0) {
    FileOp op;
    op.kind = FileOp::Kind::kCreate;
    op.file = static_cast<TrackedFile>(target->index);
    Record(std::move(op));
  }
  return std::make_unique<RecordingFile>(std::move(file), *this, std::move(target));
}

std::unique_ptr<platform::File> RecordingFileSystem::OpenFile(const std::string& path,
                                                              platform::FileAccess access,
                                                              platform::FileShare share) {
  auto file = FileSystemWrapper::OpenFile(path, access, share);
  return std::make_unique<RecordingFile>(std::move(file), *this, TargetOf(path));
}

void RecordingFileSystem::DeleteFile(const std::string& path) {
  FileSystemWrapper::DeleteFile(path);
  auto it = targets_.find(path);
  std::shared_ptr<Target> target = it != targets_.end() ? it->second : nullptr;
  if (it != targets_.end()) targets_.erase(it);
  const int index = TrackedIndex(path);
  if (target) target->index = -1;  // open handles now write to a nameless file
  if (index < 0) return;
  FileOp op;
  op.kind = FileOp::Kind::kDelete;
  op.file = static_cast<TrackedFile>(index);
  Record(std::move(op));
}

void RecordingFileSystem::RenameFile(const std::string& from, const std::string& to) {
  FileSystemWrapper::RenameFile(from, to);
  RecordRename(from, to);
}

void RecordingFileSystem::ReplaceFile(const std::string& from, const std::string& to) {
  FileSystemWrapper::ReplaceFile(from, to);
  const int to_index = TrackedIndex(to);
  if (to_index < 0 || TrackedIndex(from) >= 0) {
    RecordRename(from, to);
    return;
  }
  std::shared_ptr<Target> target;
  if (auto it = targets_.find(from); it != targets_.end()) {
    target = it->second;
    targets_.erase(it);
  }
  // Handles of the replaced file now write to a nameless file.
  if (auto it = targets_.find(to); it != targets_.end()) it->second->index = -1;
  if (target) {
    target->index = to_index;
    targets_[to] = target;
  } else {
    targets_.erase(to);
  }
  FileOp op;
  op.kind = FileOp::Kind::kReplace;
  op.file = static_cast<TrackedFile>(to_index);
  op.data = ReadImage(to).bytes;
  Record(std::move(op));
}

void RecordingFileSystem::SyncFolder(const std::string& folder) {
  FileSystemWrapper::SyncFolder(folder);
  FileOp op;
  op.kind = FileOp::Kind::kFolderSync;
  Record(std::move(op));
}

void RecordingFileSystem::RecordRename(const std::string& from, const std::string& to) {
  const int from_index = TrackedIndex(from);
  const int to_index = TrackedIndex(to);
  std::shared_ptr<Target> target;
  if (auto it = targets_.find(from); it != targets_.end()) {
    target = it->second;
    targets_.erase(it);
  }
  if (from_index >= 0) {
    FileOp op;
    op.kind = FileOp::Kind::kDelete;
    op.file = static_cast<TrackedFile>(from_index);
    Record(std::move(op));
  }
  if (target) {
    target->index = to_index;
    targets_[to] = target;
  } else {
    targets_.erase(to);
  }
  if (to_index >= 0) {
    // The file arrives whole under the tracked name.
    FileOp create;
    create.kind = FileOp::Kind::kCreate;
    create.file = static_cast<TrackedFile>(to_index);
    Record(std::move(create));
    FileOp write;
    write.kind = FileOp::Kind::kWrite;
    write.file = static_cast<TrackedFile>(to_index);
    write.data = ReadImage(to).bytes;
    if (!write.data.empty()) Record(std::move(write));
  }
}

FileImage ReadImage(const std::string& path) {
  FileImage image;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return image;
    throw platform::EOSError(errno, "open " + path);
  }
  image.exists = true;
  std::uint8_t chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      throw platform::EOSError(err, "read " + path);
    }
    if (n == 0) break;
    image.bytes.insert(image.bytes.end(), chunk, chunk + n);
  }
  ::close(fd);
  return image;
}

void WriteImage(const std::string& path, const FileImage& image) {
  if (!image.exists) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
      throw platform::EOSError(errno, "unlink " + path);
    return;
  }
  // Overwritten in place and cut to size: a truncation to zero would make the
  // file system start write-back at close, and thousands of pairs would wait
  // on the disk.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw platform::EOSError(errno, "create " + path);
  std::size_t done = 0;
  while (done < image.bytes.size()) {
    const ssize_t n = ::pwrite(fd, image.bytes.data() + done, image.bytes.size() - done,
                               static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      throw platform::EOSError(err, "write " + path);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::ftruncate(fd, static_cast<off_t>(image.bytes.size())) != 0) {
    const int err = errno;
    ::close(fd);
    throw platform::EOSError(err, "truncate " + path);
  }
  ::close(fd);
}

}  // namespace vez::test::crash

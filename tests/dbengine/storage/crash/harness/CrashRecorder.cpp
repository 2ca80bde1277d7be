#include "tests/dbengine/storage/crash/harness/CrashRecorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/core/Exceptions.h"

namespace vez::test::crash {

namespace {

// A handle of a tracked file: every change goes to the real file first, and
// is logged only when it succeeded.
class RecordingFile : public platform::FileWrapper {
 public:
  RecordingFile(std::unique_ptr<platform::File> target, RecordingFileSystem& fs, TrackedFile file)
      : FileWrapper(std::move(target)), fs_(fs), file_(file) {}

  void WriteAt(std::int64_t offset, const void* buffer, std::size_t count) override {
    FileWrapper::WriteAt(offset, buffer, count);
    FileOp op;
    op.kind = FileOp::Kind::kWrite;
    op.file = file_;
    op.offset = offset;
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    op.data.assign(p, p + count);
    fs_.Record(std::move(op));
  }
  void Truncate(std::int64_t size) override {
    FileWrapper::Truncate(size);
    FileOp op;
    op.kind = FileOp::Kind::kTruncate;
    op.file = file_;
    op.offset = size;
    fs_.Record(std::move(op));
  }
  void Sync() override {
    FileWrapper::Sync();
    FileOp op;
    op.kind = FileOp::Kind::kSync;
    op.file = file_;
    fs_.Record(std::move(op));
  }

 private:
  RecordingFileSystem& fs_;
  TrackedFile file_;
};

}  // namespace

std::int64_t CrashLog::CountOf(FileOp::Kind kind) const {
  std::int64_t n = 0;
  for (const FileOp& op : ops)
    if (op.kind == kind) ++n;
  return n;
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

std::unique_ptr<platform::File> RecordingFileSystem::CreateFile(const std::string& path,
                                                                platform::FileShare share) {
  auto file = FileSystemWrapper::CreateFile(path, share);
  const int index = TrackedIndex(path);
  if (index < 0) return file;
  FileOp op;
  op.kind = FileOp::Kind::kCreate;
  op.file = static_cast<TrackedFile>(index);
  Record(std::move(op));
  return std::make_unique<RecordingFile>(std::move(file), *this, static_cast<TrackedFile>(index));
}

std::unique_ptr<platform::File> RecordingFileSystem::OpenFile(const std::string& path,
                                                              platform::FileAccess access,
                                                              platform::FileShare share) {
  auto file = FileSystemWrapper::OpenFile(path, access, share);
  const int index = TrackedIndex(path);
  if (index < 0) return file;
  return std::make_unique<RecordingFile>(std::move(file), *this, static_cast<TrackedFile>(index));
}

void RecordingFileSystem::DeleteFile(const std::string& path) {
  FileSystemWrapper::DeleteFile(path);
  const int index = TrackedIndex(path);
  if (index < 0) return;
  FileOp op;
  op.kind = FileOp::Kind::kDelete;
  op.file = static_cast<TrackedFile>(index);
  Record(std::move(op));
}

void RecordingFileSystem::RenameFile(const std::string& from, const std::string& to) {
  // The engine never renames its own files; a rename of one would leave the
  // log unable to say what the files hold.
  if (recording_ && (TrackedIndex(from) >= 0 || TrackedIndex(to) >= 0))
    throw platform::EOSError(EINVAL, "crash recorder: rename of a tracked file");
  FileSystemWrapper::RenameFile(from, to);
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

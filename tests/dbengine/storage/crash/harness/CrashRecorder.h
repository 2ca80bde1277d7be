// Crash harness, part one: a file system on the engine's file seam that
// writes through to the real files (byte locks need real descriptors) and
// logs every change of a database file and its journal with the data, so a
// replayer (CrashReplayer.h) can rebuild both files as of any moment.
//
// The log also carries marks the workload puts between file operations
// ("commit k begins", "commit k has returned"), which tell the checker which
// rows a rebuilt pair must hold.
//
// Thread safety: one writer at a time (the engine calls under its own locks).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/os/File.h"

namespace vez::test::crash {

// The two files of one database.
enum class TrackedFile : std::uint8_t { kDatabase = 0, kJournal = 1 };
inline constexpr int kTrackedFileCount = 2;

// A file's bytes, or no file at all.
struct FileImage {
  bool exists = false;
  std::vector<std::uint8_t> bytes;
};

// Both files of a database as of one moment.
struct PairImage {
  FileImage files[kTrackedFileCount];
};

struct FileOp {
  enum class Kind : std::uint8_t {
    kWrite,     // data at offset
    kTruncate,  // size
    kSync,
    kCreate,  // the file exists, empty (create or truncate-on-create)
    kDelete,
    kCommitBegin,  // mark: commit number `mark` starts
    kCommitEnd,    // mark: commit number `mark` has returned
    kCommitApply,  // mark: commit number `mark` starts writing its changes
    // data is a whole synced file renamed over this one in one step; until
    // the folder is synced a power cut may leave either under the name.
    kReplace,
    kFolderSync,  // the folder holding the files was synced
  };
  Kind kind = Kind::kWrite;
  TrackedFile file = TrackedFile::kDatabase;
  std::int64_t offset = 0;  // kWrite: where; kTruncate: the new size
  std::vector<std::uint8_t> data;
  std::int32_t mark = 0;

  bool IsMark() const {
    return kind == Kind::kCommitBegin || kind == Kind::kCommitEnd || kind == Kind::kCommitApply;
  }
};

struct CrashLog {
  // The files when recording started.
  PairImage initial;
  std::vector<FileOp> ops;

  std::int64_t CountOf(FileOp::Kind kind) const;
  // Syncs while commits wrote their changes, and while their transactions
  // ran (page allocations and the like).
  std::int64_t SyncsInCommits() const;
  std::int64_t SyncsInTransactions() const;
};

// Installs itself as the process's file system for its lifetime. Records
// nothing until Start; files other than the database and its journal pass
// through unrecorded. A file made under another name and renamed onto a
// tracked one (how the engine creates files) is logged as created with the
// bytes it had, and its open handles are recorded from then on.
class RecordingFileSystem : public platform::FileSystemWrapper {
 public:
  // database_path: the database file; its journal is database_path + "-journal".
  explicit RecordingFileSystem(std::string database_path);
  ~RecordingFileSystem() override;

  // Takes both files' present bytes as the log's initial images and records
  // from now on.
  void Start();
  void Stop() { recording_ = false; }
  void Mark(FileOp::Kind kind, std::int32_t number);

  const CrashLog& Log() const { return log_; }
  CrashLog TakeLog() { return std::move(log_); }

  // The tracked file path names, or -1.
  int TrackedIndex(const std::string& path) const;
  void Record(FileOp op);

  // Which tracked file the handles opened under one name write to (-1: none);
  // shared by those handles, so a rename retargets them all.
  struct Target {
    int index = -1;
  };

  std::unique_ptr<platform::File> CreateFile(const std::string& path,
                                             platform::FileShare share) override;
  std::unique_ptr<platform::File> OpenFile(const std::string& path, platform::FileAccess access,
                                           platform::FileShare share) override;
  void DeleteFile(const std::string& path) override;
  void RenameFile(const std::string& from, const std::string& to) override;
  // Onto a tracked name from an untracked one: recorded as kReplace.
  void ReplaceFile(const std::string& from, const std::string& to) override;
  void SyncFolder(const std::string& folder) override;

 private:
  std::shared_ptr<Target> TargetOf(const std::string& path);
  void RecordRename(const std::string& from, const std::string& to);

  std::string paths_[kTrackedFileCount];
  std::map<std::string, std::shared_ptr<Target>> targets_;
  bool recording_ = false;
  CrashLog log_;
  platform::ScopedFileSystem installed_;
};

// Reads a whole file into an image (absent: exists false).
FileImage ReadImage(const std::string& path);
// Makes path hold the image: written whole, or removed when it does not exist.
void WriteImage(const std::string& path, const FileImage& image);

}  // namespace vez::test::crash

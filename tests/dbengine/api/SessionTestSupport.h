// Test support for the session layer: a fixture that starts every test with
// a fresh layer, files made through the database component, a dataset
// double, database data doubles that stand in for an encrypted file, and a
// file system that snapshots a database and its journal in the middle of a
// commit (a crash left them so).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/api/VEZBaseDataSet.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZLocalSession.h"
#include "dbengine/api/VEZSession.h"
#include "dbengine/api/VEZSessionList.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZDBFileFormat.h"
#include "dbengine/storage/VEZDatabaseDataList.h"
#include "dbengine/storage/VEZDiskDatabaseData.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "platform/dataset/Component.h"
#include "platform/dataset/DatabaseError.h"
#include "platform/os/File.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/DiskTestSupport.h"

namespace vez::test {

// Every test starts and ends without a session layer.
class SessionLayerTest : public ::testing::Test {
 protected:
  void SetUp() override { FinalizeSessionLayer(); }
  void TearDown() override { FinalizeSessionLayer(); }

  std::string Path(const std::string& name) const { return dir_.Path(name); }

  ScratchDir dir_;
};

// The message of the E that f raises; empty when f returns normally. Other
// exceptions pass through.
template <typename E>
std::string ErrorMessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "";
}

inline std::string DatabaseErrorOf(const std::function<void()>& f) {
  return ErrorMessageOf<platform::EDatabaseError>(f);
}

// The disk database data objects listed in the process.
inline std::vector<TVEZDiskDatabaseData*> DiskDatabases() {
  std::vector<TVEZDiskDatabaseData*> found;
  TVEZLockGuard guard(DatabaseDataList());
  for (std::int32_t i = 0; i < DatabaseDataList().Count(); ++i)
    if (auto* disk = dynamic_cast<TVEZDiskDatabaseData*>(DatabaseDataList().Get(i)))
      found.push_back(disk);
  return found;
}

inline bool IsListed(const TVEZDatabaseData* data) {
  return DatabaseDataList().Find([&](TVEZDatabaseData* d) { return d == data; }) != nullptr;
}

inline bool IsSessionListed(const TVEZDatabaseData& data, const TVEZBaseSession& session) {
  const auto& list = data.SessionList();
  return std::find(list.begin(), list.end(), &session) != list.end();
}

// The local session a database component holds.
inline TVEZLocalSession& LocalHandle(const TVEZDatabase& database) {
  auto* local = dynamic_cast<TVEZLocalSession*>(database.Handle());
  if (local == nullptr) throw std::logic_error("the database has no local session");
  return *local;
}

inline TVEZDiskDatabaseData& DiskData(const TVEZDatabase& database) {
  auto* disk = dynamic_cast<TVEZDiskDatabaseData*>(LocalHandle(database).DatabaseData());
  if (disk == nullptr) throw std::logic_error("the database is not a disk database");
  return *disk;
}

// A database component on file, fast to write (no syncs).
inline std::unique_ptr<TVEZDatabase> MakeDatabase(const std::string& database_name,
                                                  const std::string& file,
                                                  platform::Component* owner = nullptr) {
  auto database = std::make_unique<TVEZDatabase>(owner);
  database->SetDatabaseName(database_name);
  database->SetDatabaseFileName(file);
  database->SetDurability(TVEZDurability::Off);
  return database;
}

// A new database file of that geometry.
inline void CreateDatabaseFile(const std::string& file, std::int32_t page_size = 4096,
                               std::int32_t extent = 8, std::int32_t max_connections = 16) {
  auto database = MakeDatabase("Creator", file);
  database->SetPageSize(page_size);
  database->SetPageCountInExtent(extent);
  database->SetMaxConnections(max_connections);
  database->CreateDatabase();
}

// Puts a table name in the catalogue of an open database and commits it (the
// table has no pages: only its name is asked for).
inline void AddCatalogueEntry(TVEZDiskDatabaseData& data, std::int32_t id,
                              const std::string& name) {
  data.AddTableToList(id, name, 100 + id, 200 + id, 300 + id);
  data.DiskPageManager()->ApplyChanges(-2);
}

inline std::vector<std::string> TablesOf(TVEZDatabase& database) {
  std::vector<std::string> list;
  database.GetTablesList(list);
  return list;
}

// Rewrites the header of a closed file through f.
inline void EditHeader(const std::string& file, const std::function<void(TVEZDBHeader&)>& f) {
  std::vector<std::uint8_t> bytes = ReadAll(file);
  TVEZDBHeader header = TVEZDBHeader::Decode(bytes.data());
  f(header);
  header.Encode(bytes.data());
  WriteAll(file, bytes);
}

// A dataset as the dataset component uses its database: attaching opens the
// database through the session and counts one more user; letting go takes
// it out of the database's list and tells the session.
class FakeDataSet : public platform::Component, public TVEZBaseDataSet {
 public:
  FakeDataSet(platform::Component* owner, std::string name, bool is_query,
              std::vector<std::string>* log = nullptr)
      : platform::Component(owner, std::move(name)), is_query_(is_query), log_(log) {}
  ~FakeDataSet() override { Detach(); }

  void Attach(TVEZSession& session, const std::string& database_name) {
    database_ = &session.DoOpenDatabase(database_name, Owner());
    database_->AddDataSet(*this);
  }
  void Detach() {
    TVEZDatabase* database = std::exchange(database_, nullptr);
    if (database == nullptr) return;
    database->RemoveDataSet(*this);
    database->Session()->CloseDatabase(database);
  }
  TVEZDatabase* Database() const { return database_; }

  void Disconnect() override {
    if (log_ != nullptr) log_->push_back(Name);
    Detach();
  }
  bool IsQuery() const override { return is_query_; }
  std::string GetSessionName() const override { return session_name_; }
  void SetSessionName(const std::string& value) override { session_name_ = value; }

 private:
  bool is_query_;
  std::vector<std::string>* log_;
  std::string session_name_;
  TVEZDatabase* database_ = nullptr;
};

// Stands in for an encrypted file: a session connects only with the right
// password and gets 30445 otherwise, as the encrypted engine will answer.
// Listed under the file's canonical path by its maker, who owns it.
class PasswordGuardedData : public TVEZDiskDatabaseData {
 public:
  PasswordGuardedData(const std::string& file, std::string password)
      : TVEZDiskDatabaseData(file), password_(std::move(password)) {
    SetDurability(TVEZDurability::Off);
    DatabaseDataList().Add(this);
  }
  void ConnectSession(TVEZBaseSession& session) override {
    ++attempts;
    const auto& local = dynamic_cast<const TVEZLocalSession&>(session);
    if (local.Password.Password != password_)
      throw EVEZException(30445, "Invalid password for database '%s'", {DatabaseName()});
    TVEZDiskDatabaseData::ConnectSession(session);
  }
  // Its maker frees it.
  bool FreeIfNoSessionsConnected() override { return false; }

  int attempts = 0;

 private:
  std::string password_;
};

// Stands in for an encrypted file opened with password: once open, the page
// manager reports the file as encrypted (in memory only; the flag is taken
// back before the last session leaves, so nothing writes it).
class EncryptedLookingData : public TVEZDiskDatabaseData {
 public:
  EncryptedLookingData(const std::string& file, std::string password)
      : TVEZDiskDatabaseData(file), password_(std::move(password)) {
    SetDurability(TVEZDurability::Off);
    DatabaseDataList().Add(this);
  }
  void ConnectSession(TVEZBaseSession& session) override {
    TVEZDiskDatabaseData::ConnectSession(session);
    DiskPageManager()->DBHeader().Encrypted = 1;
    SetPassword(TVEZPassword{password_, craRijndael_128});
  }
  void DisconnectSession(TVEZBaseSession& session) override {
    if (SessionList().size() == 1 && IsSessionListed(*this, session) && DiskPageManager())
      DiskPageManager()->DBHeader().Encrypted = 0;
    TVEZDiskDatabaseData::DisconnectSession(session);
  }
  bool FreeIfNoSessionsConnected() override { return false; }

 private:
  std::string password_;
};

// Records, before every write to the database file, the database file and
// its journal as they are on disk: each record is what a process killed at
// that moment leaves behind.
struct FilePair {
  std::vector<std::uint8_t> db;
  std::vector<std::uint8_t> journal;
};

class CommitSnapshotFileSystem : public platform::FileSystemWrapper {
 public:
  explicit CommitSnapshotFileSystem(std::string db_path)
      : FileSystemWrapper(platform::DefaultFileSystem()), db_path_(std::move(db_path)) {}

  bool enabled = false;
  std::vector<FilePair> pairs;

  std::unique_ptr<platform::File> CreateFile(const std::string& path,
                                             platform::FileShare share) override {
    return std::make_unique<File>(FileSystemWrapper::CreateFile(path, share), *this);
  }
  std::unique_ptr<platform::File> OpenFile(const std::string& path, platform::FileAccess access,
                                           platform::FileShare share) override {
    return std::make_unique<File>(FileSystemWrapper::OpenFile(path, access, share), *this);
  }

  // The first pair whose header says a commit is under way and whose
  // journal is sound: a torn commit the journal undoes.
  const FilePair* TornCommit() const {
    for (const FilePair& pair : pairs) {
      if (pair.db.size() < static_cast<std::size_t>(TVEZDBHeader::kSize) || pair.journal.empty())
        continue;
      if (TVEZDBHeader::Decode(pair.db.data()).WriteChangesState == kWriteChangesInProgress &&
          pair.journal[0] == 'V')
        return &pair;
    }
    return nullptr;
  }

 private:
  class File : public platform::FileWrapper {
   public:
    File(std::unique_ptr<platform::File> target, CommitSnapshotFileSystem& fs)
        : FileWrapper(std::move(target)), fs_(fs) {}
    void WriteAt(std::int64_t offset, const void* buffer, std::size_t count) override {
      if (fs_.enabled && Path() == fs_.db_path_)
        fs_.pairs.push_back({ReadAll(fs_.db_path_), ReadAll(fs_.db_path_ + "-journal")});
      FileWrapper::WriteAt(offset, buffer, count);
    }

   private:
    CommitSnapshotFileSystem& fs_;
  };

  std::string db_path_;
};

}  // namespace vez::test

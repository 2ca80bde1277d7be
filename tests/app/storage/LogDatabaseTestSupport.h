// Helpers of the log database tests: a fresh documents folder and fake clock
// per test, the adapter opened on the real file, and direct access to the
// file through the engine's components (to read back what the adapter
// stored, or to make an older file before the adapter opens it).
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "app/storage/DMSystem.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZTable.h"
#include "platform/core/Clock.h"
#include "platform/core/Exceptions.h"
#include "platform/os/File.h"
#include "tests/app/support/ScopedDocumentsFolder.h"
#include "tests/app/support/ScriptedMessageBox.h"

namespace rvx::test {

inline constexpr const char* kLogFileName = "RVX_Log.vez";

// The engine's own view of the log file, under another alias, for tests
// that look behind the adapter. Open it only while no adapter holds the
// file, or read-only alongside one (multi-user).
class EngineFile {
 public:
  explicit EngineFile(const std::string& path, bool create = false) {
    db_ = std::make_unique<vez::TVEZDatabase>();
    db_->SetDatabaseName("RVX_Test_Engine");
    db_->SetDatabaseFileName(path);
    db_->SetMultiUser(true);
    db_->SetKeepConnection(false);
    if (create) db_->CreateDatabase();
  }
  ~EngineFile() {
    tables_.clear();
    db_->Close();
  }
  vez::TVEZTable& Table(const std::string& name) {
    tables_.push_back(std::make_unique<vez::TVEZTable>());
    vez::TVEZTable& t = *tables_.back();
    t.SetDatabaseName("RVX_Test_Engine");
    t.SetTableName(name);
    return t;
  }
  // "Name:Type:Size:Required" per column of the stored table, in order.
  std::vector<std::string> Columns(const std::string& name) {
    vez::TVEZTable& t = Table(name);
    t.Open();
    std::vector<std::string> out;
    for (int i = 0; i < t.FieldDefs().Count(); ++i) {
      const platform::FieldDef& d = t.FieldDefs().Items(i);
      out.push_back(d.Name + ":" + platform::FieldTypeName(d.DataType) + ":" +
                    std::to_string(d.Size) + ":" + (d.Required ? "R" : "-"));
    }
    t.Close();
    return out;
  }
  // "Name:Fields:Options" per stored index.
  std::vector<std::string> Indexes(const std::string& name) {
    vez::TVEZTable& t = Table(name);
    t.Open();
    t.IndexDefs().Update();
    std::vector<std::string> out;
    for (int i = 0; i < t.IndexDefs().Count(); ++i) {
      const platform::IndexDef& d = t.IndexDefs().Items(i);
      out.push_back(d.Name + ":" + d.Fields + ":" + std::to_string(d.Options));
    }
    t.Close();
    return out;
  }
  vez::TVEZDatabase& Db() { return *db_; }

 private:
  std::unique_ptr<vez::TVEZDatabase> db_;
  std::vector<std::unique_ptr<vez::TVEZTable>> tables_;
};

class LogDatabaseTest : public ::testing::Test {
 protected:
  LogDatabaseTest() : scoped_clock_(clock_) { clock_.SetNow(42700.5); }

  std::unique_ptr<TDM_System> OpenLog() { return std::make_unique<TDM_System>(kLogFileName, box_); }
  std::string LogPath() const { return docs_.Path() + "/RVX/data/" + kLogFileName; }

  ScopedDocumentsFolder docs_;
  ScriptedMessageBox box_;
  platform::FakeClock clock_;
  platform::ScopedClock scoped_clock_;
};

// Fails every sync while armed: a commit then fails before its first byte
// reaches the database file.
class FailingSyncFileSystem : public platform::FileSystemWrapper {
 public:
  FailingSyncFileSystem() : FileSystemWrapper(platform::PosixFileSystem()) {}
  bool armed = false;
  // Disarms after the first failure (a passing fault).
  bool once = false;
  int failures = 0;

  std::unique_ptr<platform::File> CreateFile(const std::string& path,
                                             platform::FileShare share) override {
    return Wrap(FileSystemWrapper::CreateFile(path, share));
  }
  std::unique_ptr<platform::File> OpenFile(const std::string& path, platform::FileAccess access,
                                           platform::FileShare share) override {
    return Wrap(FileSystemWrapper::OpenFile(path, access, share));
  }

 private:
  class FailingFile : public platform::FileWrapper {
   public:
    FailingFile(std::unique_ptr<platform::File> target, FailingSyncFileSystem& fs)
        : FileWrapper(std::move(target)), fs_(fs) {}
    void Sync() override {
      if (fs_.armed) {
        ++fs_.failures;
        if (fs_.once) fs_.armed = false;
        throw platform::EOSError(EIO, "sync " + Path());
      }
      FileWrapper::Sync();
    }

   private:
    FailingSyncFileSystem& fs_;
  };
  std::unique_ptr<platform::File> Wrap(std::unique_ptr<platform::File> f) {
    return std::make_unique<FailingFile>(std::move(f), *this);
  }
};

}  // namespace rvx::test

// The database component's maintenance: every operation that changes the
// file's contents as a whole copies each table of the closed database into a
// new file and, in place, renames that file over the old one. The old file
// is never deleted first, so a crash or a failure leaves it whole.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZFlagScope.h"
#include "dbengine/api/VEZLocalSession.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZRollbackJournal.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Format.h"
#include "platform/os/File.h"
#include "platform/os/FileQueries.h"
#include "platform/ui/EngineUi.h"

namespace vez {

namespace {

constexpr const char* kCrLf = "\r\n";

std::string MessageOf(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown exception";
  }
}

constexpr const char* kOperationNames[] = {"RepairDatabase", "CompactDatabase", "ChangePassword",
                                           "ChangeDatabaseSettings"};

[[noreturn]] void RaiseFailed(const char* operation, const std::string& reason) {
  throw EVEZException(30456, "Operation %s failed: %s", {operation, reason});
}

// Removes a file this component wrote, and its journal, dropping errors: the
// failure that led here is the one to report.
void DropFile(const std::string& path) noexcept {
  for (const std::string& name : {path, TVEZRollbackJournal::PathFor(path)}) {
    try {
      platform::FileSystem& fs = platform::DefaultFileSystem();
      if (fs.FileExists(name)) fs.DeleteFile(name);
    } catch (...) {
      // Nothing more to do with it.
    }
  }
}

std::int64_t FileSizeOf(const std::string& path) {
  return platform::DefaultFileSystem()
      .OpenFile(path, platform::FileAccess::kRead, platform::FileShare::kDenyNone)
      ->Size();
}

bool SameFile(const std::string& a, const std::string& b) {
  return platform::CanonicalPath(a) == platform::CanonicalPath(b);
}

// The file a rebuild writes to: creating it would overwrite a file under the
// name, and a failure deletes it, so only a free name other than the
// database's own is taken.
void CheckNewFile(const char* operation, const std::string& new_file, const std::string& own) {
  if (new_file.empty() || SameFile(new_file, own))
    RaiseFailed(operation, "the new file must not be the database's own file");
  if (platform::DefaultFileSystem().FileExists(new_file))
    RaiseFailed(operation, platform::Format("the file '%s' already exists", {new_file}));
}

std::string UniqueTempDatabaseName() {
  static std::atomic<std::uint64_t> counter{0};
  return "TempDatabase" + std::to_string(++counter);
}

const char* WaitTextOf(int operation) {
  static constexpr const char* kTexts[] = {"Repairing Database...", "Compacting Database...",
                                           "Changing Database Password...",
                                           "Changing Database Settings..."};
  return kTexts[operation];
}

}  // namespace

// ---- Events and the wait window.

void TVEZDatabase::MaintenanceBefore(Maintenance operation) {
  const TVEZNotifyEvent* events[] = {&BeforeRepair, &BeforeCompact, &BeforeChangePassword,
                                     &BeforeChangeDatabaseSettings};
  const auto index = static_cast<int>(operation);
  if (*events[index]) {
    (*events[index])(*this);
    return;
  }
  if (FSilentMode) return;
  platform::EngineUi& ui = platform::CurrentEngineUi();
  frmWait = ui.OpenWaitWindow(WaitTextOf(index));
  // A repair usually runs as a file opens: the user sees at once why.
  if (operation == Maintenance::kRepair) {
    frmWait->MakeVisible();
    ui.ProcessEvents();
  }
}

void TVEZDatabase::MaintenanceProgress(Maintenance operation, int percent_done, bool& cont) {
  const TVEZProgressEvent* events[] = {&OnRepairProgress, &OnCompactProgress,
                                       &OnChangePasswordProgress,
                                       &OnChangeDatabaseSettingsProgress};
  const TVEZProgressEvent& event = *events[static_cast<int>(operation)];
  if (event) {
    event(*this, percent_done, cont);
    return;
  }
  if (FSilentMode || !frmWait) return;
  frmWait->SetPercent(percent_done);
  if (operation == Maintenance::kRepair) frmWait->MakeVisible();
  platform::CurrentEngineUi().ProcessEvents();
  cont = !frmWait->AbortRequested();
}

void TVEZDatabase::MaintenanceAfter(Maintenance operation) {
  const TVEZNotifyEvent* events[] = {&AfterRepair, &AfterCompact, &AfterChangePassword,
                                     &AfterChangeDatabaseSettings};
  const TVEZNotifyEvent& event = *events[static_cast<int>(operation)];
  if (event) {
    event(*this);
    return;
  }
  frmWait.reset();
}

// ---- The rebuild.

bool TVEZDatabase::RebuildDatabaseFile(
    const std::string& new_database_file_name, std::string& log, bool ignore_errors,
    const std::string& new_password, TVEZCryptoAlgorithm new_crypto_algorithm,
    std::int32_t new_page_size, std::int32_t new_page_count_in_extent,
    std::int32_t new_max_connections, const std::function<void()>& on_before,
    const std::function<void(int percent_done, bool& cont)>& on_progress,
    const std::function<void()>& on_after) {
  CheckDatabaseName();
  AttachSession(true);
  CheckInactive();
  const bool saved_exclusive = FExclusive;
  const bool saved_silent = FSilentMode;
  log.clear();
  if (on_before) on_before();
  std::unique_ptr<TVEZDatabase> new_database;
  struct Finally {
    TVEZDatabase& self;
    std::unique_ptr<TVEZDatabase>& new_database;
    bool exclusive, silent;
    const std::function<void()>& on_after;
    ~Finally() {
      new_database.reset();
      self.FExclusive = exclusive;
      self.FSilentMode = silent;
      if (!on_after) return;
      try {
        on_after();
      } catch (...) {
        platform::ReportCurrentException();
      }
    }
  } finally{*this, new_database, saved_exclusive, saved_silent, on_after};
  auto progress = [&](int percent, bool& cont) {
    if (on_progress) on_progress(percent, cont);
  };

  // The new file is about as large as the old one, and both exist until
  // the end.
  platform::FileSystem& fs = platform::DefaultFileSystem();
  const std::int64_t needed = FileSizeOf(FDatabaseFileName);
  if (fs.FreeSpace(platform::DirectoryOf(new_database_file_name)) < needed)
    throw EVEZException(20303,
                        "There is not enough free space on drive to perform required operation "
                        "with the database file.");

  try {
    new_database = std::make_unique<TVEZDatabase>();
    new_database->SetSessionName(FSessionName);
    new_database->SetDatabaseName(UniqueTempDatabaseName());
    new_database->SetDatabaseFileName(new_database_file_name);
    new_database->SetPassword(new_password);
    new_database->SetCryptoAlgorithm(new_crypto_algorithm);
    new_database->SetPageSize(new_page_size);
    new_database->SetPageCountInExtent(new_page_count_in_extent);
    new_database->SetMaxConnections(new_max_connections);
    // Nothing names the new file until it is complete: it is written
    // without per-commit syncs and synced once at the end.
    new_database->SetDurability(TVEZDurability::Off);
    new_database->SetSilentMode(true);
    new_database->CreateDatabase();
    new_database->Open();
  } catch (...) {
    log = platform::Format("Create database error: '%s'", {MessageOf(std::current_exception())});
    if (!ignore_errors) throw EVEZException(30449, log);
    return false;
  }

  FExclusive = true;
  FSilentMode = true;
  try {
    Open();
  } catch (...) {
    FSilentMode = saved_silent;
    throw;
  }
  FSilentMode = saved_silent;
  bool aborted = false;
  try {
    FHandle->SetSuppressDBHeaderErrors(true);
    // An unreadable list raises: an empty one would make an empty file that
    // replaces the old one.
    std::vector<std::string> tables;
    GetTablesList(tables);
    const auto count = static_cast<std::int64_t>(tables.size());
    for (std::int64_t i = 0; i < count && !aborted; ++i) {
      const std::string& table_name = tables[static_cast<std::size_t>(i)];
      try {
        TVEZTable table;
        table.SetSessionName(FSessionName);
        table.SetDatabaseName(FDatabaseName);
        table.SetTableName(table_name);
        if (ignore_errors) table.RepairTable();
        table.Open();
        table.Close();
        table.OnCopyProgress = [&](platform::DataSet&, int percent, bool& cont) {
          progress(percent, cont);
        };
        table.BeforeCopy = [](platform::DataSet&) {};
        table.AfterCopy = [](platform::DataSet&) {};
        bool cont = true;
        table.CopyTable(table_name, log, cont, new_database_file_name, new_password, ignore_errors,
                        false, true, static_cast<int>(i * 100 / count),
                        static_cast<int>((i + 1) * 100 / count));
        aborted = !cont;
      } catch (...) {
        const std::string text =
            platform::Format("Problem occured while copying table '%s': '%s'",
                             {table_name, MessageOf(std::current_exception())});
        if (!ignore_errors) throw EVEZException(20199, text);
        log += text;
        log += kCrLf;
      }
    }
  } catch (...) {
    try {
      FHandle->SetSuppressDBHeaderErrors(false);
      Close();
    } catch (...) {
      // The copy's error is the one to report.
    }
    throw;
  }
  FHandle->SetSuppressDBHeaderErrors(false);
  Close();

  bool cont = true;
  progress(100, cont);
  new_database->Close();
  new_database->TruncateDatabase();
  // An aborted rebuild holds only part of the tables, whatever errors were
  // to be ignored.
  if (aborted) return false;
  fs.OpenFile(new_database_file_name, platform::FileAccess::kReadWrite,
              platform::FileShare::kExclusive)
      ->Sync();
  fs.SyncFolder(platform::DirectoryOf(new_database_file_name));
  return ignore_errors || log.empty();
}

bool TVEZDatabase::Rebuild(const std::string& new_database_file_name, std::string& log,
                           bool ignore_errors, const std::string& new_password,
                           TVEZCryptoAlgorithm new_crypto_algorithm, std::int32_t new_page_size,
                           std::int32_t new_page_count_in_extent, std::int32_t new_max_connections,
                           Maintenance operation) {
  return RebuildDatabaseFile(
      new_database_file_name, log, ignore_errors, new_password, new_crypto_algorithm, new_page_size,
      new_page_count_in_extent, new_max_connections,
      [this, operation] { MaintenanceBefore(operation); },
      [this, operation](int percent, bool& cont) { MaintenanceProgress(operation, percent, cont); },
      [this, operation] { MaintenanceAfter(operation); });
}

bool TVEZDatabase::RebuildInPlace(std::string& log, bool ignore_errors,
                                  const std::string& new_password,
                                  TVEZCryptoAlgorithm new_crypto_algorithm,
                                  std::int32_t new_page_size, std::int32_t new_page_count_in_extent,
                                  std::int32_t new_max_connections, Maintenance operation) {
  CheckDatabaseName();
  AttachSession(true);
  CheckInactive();
  // A file the user made read-only is not replaced behind his back.
  if (platform::QueryFileWritability(FDatabaseFileName) != platform::FileWritability::kWritable)
    RaiseFailed(kOperationNames[static_cast<int>(operation)], "the database file is read-only");
  const std::string tmp = FDatabaseFileName + ".tmp";
  // A ".tmp" file is what an interrupted maintenance left behind.
  DropFile(tmp);
  try {
    if (!Rebuild(tmp, log, ignore_errors, new_password, new_crypto_algorithm, new_page_size,
                 new_page_count_in_extent, new_max_connections, operation)) {
      DropFile(tmp);
      return false;
    }
    platform::FileSystem& fs = platform::DefaultFileSystem();
    // The old file was closed cleanly: its journal holds nothing to apply,
    // and must never be applied to the new file.
    DropFile(TVEZRollbackJournal::PathFor(FDatabaseFileName));
    DropFile(TVEZRollbackJournal::PathFor(tmp));
    fs.ReplaceFile(tmp, FDatabaseFileName);
  } catch (const EVEZException&) {
    DropFile(tmp);
    throw;
  } catch (const platform::Exception& e) {
    DropFile(tmp);
    RaiseFailed(kOperationNames[static_cast<int>(operation)], e.what());
  } catch (...) {
    DropFile(tmp);
    throw;
  }
  try {
    platform::DefaultFileSystem().SyncFolder(platform::DirectoryOf(FDatabaseFileName));
  } catch (const EVEZException&) {
    throw;
  } catch (const platform::Exception& e) {
    // The new file is in place; only its name's durability is in doubt.
    RaiseFailed("SyncFolder", e.what());
  }
  return true;
}

// ---- Operations.

bool TVEZDatabase::CompactDatabase(const std::string& new_database_file_name) {
  CheckDatabaseName();
  AttachSession(true);
  CheckInactiveOrClose();
  Open();
  Close();
  CheckNewFile("CompactDatabase", new_database_file_name, FDatabaseFileName);
  std::string log;
  bool ok = false;
  try {
    ok = Rebuild(new_database_file_name, log, false, FPassword, FCryptoAlgorithm, FPageSize,
                 FPageCountInExtent, FMaxConnections, Maintenance::kCompact);
  } catch (...) {
    DropFile(new_database_file_name);
    throw;
  }
  if (!ok) {
    DropFile(new_database_file_name);
    RaiseFailed("CompactDatabase", log);
  }
  return true;
}

bool TVEZDatabase::CompactDatabase() {
  CheckDatabaseName();
  AttachSession(true);
  CheckInactiveOrClose();
  Open();
  Close();
  std::string log;
  if (!RebuildInPlace(log, false, FPassword, FCryptoAlgorithm, FPageSize, FPageCountInExtent,
                      FMaxConnections, Maintenance::kCompact))
    RaiseFailed("CompactDatabase", log);
  return true;
}

bool TVEZDatabase::RepairDatabase(const std::string& new_database_file_name, std::string& log) {
  CheckDatabaseName();
  AttachSession(true);
  CheckInactive();
  Open();
  Close();
  CheckNewFile("RepairDatabase", new_database_file_name, FDatabaseFileName);
  bool ok = false;
  try {
    ok = Rebuild(new_database_file_name, log, true, FPassword, FCryptoAlgorithm, FPageSize,
                 FPageCountInExtent, FMaxConnections, Maintenance::kRepair);
  } catch (...) {
    DropFile(new_database_file_name);
    throw;
  }
  if (!ok) DropFile(new_database_file_name);
  return ok;
}

std::string TVEZDatabase::RepairDatabase() {
  std::string log;
  if (!RebuildInPlace(log, true, FPassword, FCryptoAlgorithm, FPageSize, FPageCountInExtent,
                      FMaxConnections, Maintenance::kRepair) &&
      log.empty())
    log = "Unknown error";
  return log;
}

std::string TVEZDatabase::ChangePassword(const std::string& new_password) {
  return ChangePassword(new_password, FCryptoAlgorithm);
}

std::string TVEZDatabase::ChangePassword(const std::string& new_password,
                                         TVEZCryptoAlgorithm new_crypto_algorithm) {
  std::string log;
  if (RebuildInPlace(log, false, new_password, new_crypto_algorithm, FPageSize, FPageCountInExtent,
                     FMaxConnections, Maintenance::kChangePassword)) {
    FPassword = new_password;
    FCryptoAlgorithm = new_crypto_algorithm;
  } else if (log.empty()) {
    log = "Terminated by User.";
  }
  return log;
}

bool TVEZDatabase::ChangeDatabaseSettings(std::string& log, bool ignore_errors,
                                          const std::string& new_password,
                                          TVEZCryptoAlgorithm new_crypto_algorithm,
                                          std::int32_t new_page_size,
                                          std::int32_t new_page_count_in_extent,
                                          std::int32_t new_max_connections) {
  CheckDatabaseName();
  AttachSession(true);
  CheckInactive();
  if (new_max_connections <= 0)
    throw EVEZException(20274, "MaxConnections value must be positive ( >= 0)");
  Open();
  Close();
  if (!RebuildInPlace(log, ignore_errors, new_password, new_crypto_algorithm, new_page_size,
                      new_page_count_in_extent, new_max_connections, Maintenance::kChangeSettings))
    return false;
  FPassword = new_password;
  FCryptoAlgorithm = new_crypto_algorithm;
  FPageSize = new_page_size;
  FPageCountInExtent = new_page_count_in_extent;
  FMaxConnections = new_max_connections;
  return true;
}

// ---- File operations.

void TVEZDatabase::TruncateDatabase() {
  CheckDatabaseName();
  AttachSession(true);
  CheckInactive();
  TVEZFlagScope exclusive(FExclusive, true);
  Open();
  try {
    if (auto* local = dynamic_cast<TVEZLocalSession*>(FHandle)) local->TruncateDatabase();
  } catch (...) {
    try {
      Close();
    } catch (...) {
      // The cut's error is the one to report.
    }
    throw;
  }
  Close();
}

void TVEZDatabase::MakeExecutableDatabase(const std::string& exe_stub_file_name,
                                          const std::string& exe_db_file_name) {
  CheckDatabaseName();
  AttachSession(true);
  CheckInactive();
  platform::FileSystem& fs = platform::DefaultFileSystem();
  if (SameFile(exe_db_file_name, FDatabaseFileName) ||
      SameFile(exe_db_file_name, exe_stub_file_name))
    RaiseFailed("MakeExecutableDatabase", "the new file must not be one of its sources");
  try {
    std::unique_ptr<platform::File> out =
        fs.CreateFile(exe_db_file_name, platform::FileShare::kExclusive);
    std::int64_t at = 0;
    std::vector<char> buffer(1 << 20);
    auto append = [&](const std::string& path, platform::FileShare share) {
      std::unique_ptr<platform::File> in = fs.OpenFile(path, platform::FileAccess::kRead, share);
      for (std::int64_t from = 0;;) {
        const std::size_t got = in->ReadPartialAt(from, buffer.data(), buffer.size());
        if (got == 0) break;
        out->WriteAt(at, buffer.data(), got);
        from += static_cast<std::int64_t>(got);
        at += static_cast<std::int64_t>(got);
      }
    };
    append(exe_stub_file_name, platform::FileShare::kDenyNone);
    append(FDatabaseFileName, platform::FileShare::kDenyWrite);
    out->Sync();
    out->Close();
  } catch (...) {
    DropFile(exe_db_file_name);
    throw;
  }
}

}  // namespace vez

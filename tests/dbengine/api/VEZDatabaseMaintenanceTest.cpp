// The database component's maintenance: compaction (to a new file and in
// place), repair, password and settings changes, truncation and the
// executable database, with aborts, a full disk and failing writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZSystemDirectory.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Variant.h"
#include "platform/os/File.h"
#include "platform/ui/EngineUi.h"
#include "tests/common/ScriptedEngineUi.h"
#include "tests/dbengine/api/SessionTestSupport.h"
#include "tests/dbengine/storage/DiskTestSupport.h"

namespace vez {
namespace {

namespace fs = std::filesystem;
using platform::Variant;
using platform::test::ScriptedEngineUi;
using test::MakeDatabase;
using test::NativeErrorOf;

// (ID, Value, Name) of one table in index order.
using Row = std::tuple<int, int, std::string>;
using Contents = std::map<std::string, std::vector<Row>>;

constexpr const char* kTables[] = {"Trials", "Runs"};

void CreateTables(const std::string& database_name, int rows) {
  for (const char* name : kTables) {
    TVEZTable t;
    t.SetDatabaseName(database_name);
    t.SetTableName(name);
    t.FieldDefs().Add("ID", platform::ftAutoInc, 0, true);
    t.FieldDefs().Add("Value", platform::ftInteger);
    t.FieldDefs().Add("Name", platform::ftString, 40);
    t.IndexDefs().Add("Primary", "ID", platform::ixPrimary);
    t.IndexDefs().Add("ByValue", "Value", 0);
    t.CreateTable();
    t.Open();
    for (int i = 1; i <= rows; ++i)
      t.AppendRecord({Variant::Null(), Variant::FromInteger((i * 7919) % 1000),
                      Variant::FromString(std::string(name) + " row " + std::to_string(i))});
    t.Close();
  }
}

// Deletes every row but each tenth from every table.
void DeleteMostRows(const std::string& database_name) {
  for (const char* name : kTables) {
    TVEZTable t;
    t.SetDatabaseName(database_name);
    t.SetTableName(name);
    t.Open();
    t.First();
    while (!t.Eof()) {
      if (t.FieldByName("ID").AsInteger() % 10 != 0) {
        t.Delete();
      } else {
        t.Next();
      }
    }
    t.Close();
  }
}

std::vector<Row> RowsOf(TVEZTable& t, const std::string& index_name) {
  t.SetIndexName(index_name);
  t.Open();
  std::vector<Row> rows;
  for (t.First(); !t.Eof(); t.Next())
    rows.emplace_back(t.FieldByName("ID").AsInteger(), t.FieldByName("Value").AsInteger(),
                      t.FieldByName("Name").AsString());
  t.Close();
  return rows;
}

struct Snapshot {
  Contents rows;
  std::map<std::string, std::int64_t> autoinc;
  bool operator==(const Snapshot&) const = default;
};

// Every table's rows (checked to agree in stored, primary and secondary
// order) and last autoinc value.
Snapshot SnapshotOf(const std::string& database_name) {
  Snapshot s;
  for (const char* name : kTables) {
    TVEZTable t;
    t.SetDatabaseName(database_name);
    t.SetTableName(name);
    const std::vector<Row> primary = RowsOf(t, "Primary");
    std::vector<Row> stored = RowsOf(t, "");
    std::vector<Row> by_value = RowsOf(t, "ByValue");
    std::sort(stored.begin(), stored.end());
    std::sort(by_value.begin(), by_value.end());
    EXPECT_EQ(stored, primary) << name;
    EXPECT_EQ(by_value, primary) << name;
    s.rows[name] = primary;
    t.Open();
    s.autoinc[name] = t.LastAutoincValue("ID");
    t.Close();
  }
  return s;
}

class MaintenanceTest : public test::SessionLayerTest {
 protected:
  // A file with both tables; most rows deleted when thinned.
  std::unique_ptr<TVEZDatabase> MakeFilled(const std::string& file, int rows = 200,
                                           bool thinned = false) {
    auto database = MakeDatabase("Log", file);
    database->SetSilentMode(true);
    database->CreateDatabase();
    CreateTables("Log", rows);
    if (thinned) DeleteMostRows("Log");
    database->Close();
    return database;
  }
};

// ---- Compaction.

class CompactTest : public MaintenanceTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CompactTest, KeepsRowsIndexesAndCountersAndShrinksTheFile) {
  const bool in_place = GetParam();
  const std::string file = Path("log.vez");
  auto database = MakeFilled(file, 600, true);
  const Snapshot before = SnapshotOf("Log");
  database->Close();
  const auto old_size = fs::file_size(file);
  std::string result_file = file;
  if (in_place) {
    EXPECT_TRUE(database->CompactDatabase());
  } else {
    result_file = Path("compact.vez");
    EXPECT_TRUE(database->CompactDatabase(result_file));
    EXPECT_EQ(fs::file_size(file), old_size);
  }
  EXPECT_FALSE(fs::exists(file + ".tmp"));
  EXPECT_LT(fs::file_size(result_file), old_size);
  auto result = MakeDatabase("Result", result_file);
  result->SetSilentMode(true);
  result->Open();
  EXPECT_EQ(SnapshotOf("Result"), before);
  // A new row continues the counter.
  TVEZTable runs;
  runs.SetDatabaseName("Result");
  runs.SetTableName("Runs");
  runs.Open();
  runs.AppendRecord({Variant::Null(), Variant::FromInteger(1), Variant::FromString("new")});
  EXPECT_EQ(runs.LastAutoincValue("ID"), before.autoinc.at("Runs") + 1);
  runs.Close();
}

INSTANTIATE_TEST_SUITE_P(Both, CompactTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("InPlace") : std::string("ToNewFile");
                         });

TEST_F(MaintenanceTest, CompactionOntoItsOwnFileOrAnExistingOneIsRefusedAndDeletesNothing) {
  const std::string file = Path("log.vez");
  auto database = MakeFilled(file, 20);
  const auto bytes = test::ReadAll(file);
  const std::string other = Path("other.vez");
  test::WriteAll(other, {1, 2, 3});
  for (const std::string& target : {file, Path("./log.vez"), Path("sub/../log.vez"), other}) {
    SCOPED_TRACE(target);
    fs::create_directories(Path("sub"));
    EXPECT_EQ(NativeErrorOf([&] { database->CompactDatabase(target); }), 30456);
    EXPECT_EQ(test::ReadAll(file), bytes);
  }
  EXPECT_EQ(test::ReadAll(other), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_FALSE(database->Connected());
}

// ---- Aborts.

struct AbortCase {
  const char* name;
  bool through_ui;
};

class AbortTest : public MaintenanceTest, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(AbortTest, AnAbortedInPlaceCompactionRaisesAndKeepsTheOldFile) {
  const std::string file = Path("log.vez");
  auto database = MakeFilled(file, 300);
  const auto bytes = test::ReadAll(file);
  ScriptedEngineUi ui;
  platform::ScopedEngineUi installed(ui);
  if (GetParam().through_ui) {
    database->SetSilentMode(false);
    ui.AbortAtPercent(50);
  } else {
    database->OnCompactProgress = [](TVEZDatabase&, int percent, bool& cont) {
      if (percent >= 50) cont = false;
    };
  }
  try {
    database->CompactDatabase();
    ADD_FAILURE() << "the compaction was not stopped";
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), 30456);
    EXPECT_EQ(std::string(e.what()).rfind("Operation CompactDatabase failed: ", 0), 0u) << e.what();
  }
  EXPECT_EQ(test::ReadAll(file), bytes);
  EXPECT_FALSE(fs::exists(file + ".tmp"));
  EXPECT_FALSE(fs::exists(file + ".tmp-journal"));
  if (GetParam().through_ui) {
    ASSERT_FALSE(ui.Log().empty());
    EXPECT_EQ(ui.Log().front(), "wait:Compacting Database...");
  }
}

TEST_P(AbortTest, AnAbortedPasswordChangeKeepsTheOldFileAndPassword) {
  const std::string file = Path("log.vez");
  auto database = MakeFilled(file, 300);
  ASSERT_EQ(database->ChangePassword("first"), "");
  database->Open();
  const Snapshot before = SnapshotOf("Log");
  database->Close();
  const auto bytes = test::ReadAll(file);
  ScriptedEngineUi ui;
  platform::ScopedEngineUi installed(ui);
  if (GetParam().through_ui) {
    database->SetSilentMode(false);
    ui.AbortAtPercent(50);
  } else {
    database->OnChangePasswordProgress = [](TVEZDatabase&, int percent, bool& cont) {
      if (percent >= 50) cont = false;
    };
  }
  // A stopped change must not read as a successful one (an empty log).
  EXPECT_NE(database->ChangePassword("second"), "");
  database->SetSilentMode(true);
  EXPECT_EQ(database->Password(), "first");
  EXPECT_EQ(test::ReadAll(file), bytes);
  EXPECT_FALSE(fs::exists(file + ".tmp"));
  EXPECT_FALSE(fs::exists(file + ".tmp-journal"));

  auto with_new = MakeDatabase("New", file);
  with_new->SetSilentMode(true);
  with_new->SetPassword("second");
  EXPECT_EQ(NativeErrorOf([&] { with_new->Open(); }), 30445);
  auto with_old = MakeDatabase("Old", file);
  with_old->SetSilentMode(true);
  with_old->SetPassword("first");
  with_old->Open();
  EXPECT_EQ(SnapshotOf("Old"), before);
}

INSTANTIATE_TEST_SUITE_P(Ways, AbortTest,
                         ::testing::Values(AbortCase{"WaitWindow", true},
                                           AbortCase{"ProgressEvent", false}),
                         [](const ::testing::TestParamInfo<AbortCase>& info) {
                           return std::string(info.param.name);
                         });

// ---- The file system refusing.

class FullDiskFileSystem : public platform::FileSystemWrapper {
 public:
  FullDiskFileSystem() : FileSystemWrapper(platform::PosixFileSystem()) {}
  std::int64_t FreeSpace(const std::string&) override { return 4096; }
};

// Writes to files whose name ends in ".tmp" fail after a number of them.
class FailingTmpWrites : public platform::FileSystemWrapper {
 public:
  explicit FailingTmpWrites(int allowed)
      : FileSystemWrapper(platform::PosixFileSystem()), allowed_(allowed) {}

  std::unique_ptr<platform::File> CreateFile(const std::string& path,
                                             platform::FileShare share) override {
    return Wrap(path, FileSystemWrapper::CreateFile(path, share));
  }
  std::unique_ptr<platform::File> OpenFile(const std::string& path, platform::FileAccess access,
                                           platform::FileShare share) override {
    return Wrap(path, FileSystemWrapper::OpenFile(path, access, share));
  }
  void RenameFile(const std::string& from, const std::string& to) override {
    FileSystemWrapper::RenameFile(from, to);
  }
  int Allowed() const { return allowed_; }

 private:
  class File : public platform::FileWrapper {
   public:
    File(std::unique_ptr<platform::File> target, int& allowed)
        : FileWrapper(std::move(target)), allowed_(allowed) {}
    void WriteAt(std::int64_t offset, const void* buffer, std::size_t count) override {
      if (allowed_-- <= 0) throw platform::EOSError(ENOSPC, "No space left on device");
      FileWrapper::WriteAt(offset, buffer, count);
    }

   private:
    int& allowed_;
  };

  std::unique_ptr<platform::File> Wrap(const std::string& path,
                                       std::unique_ptr<platform::File> file) {
    // The engine makes files under a temporary name and renames them.
    if (path.find(".tmp") == std::string::npos) return file;
    return std::make_unique<File>(std::move(file), allowed_);
  }

  int allowed_;
};

// ---- The program's own events.

struct EventCase {
  const char* name;
  TVEZNotifyEvent TVEZDatabase::*before;
  TVEZProgressEvent TVEZDatabase::*progress;
  TVEZNotifyEvent TVEZDatabase::*after;
  std::function<void(TVEZDatabase&)> run;
};

class EventTest : public MaintenanceTest, public ::testing::WithParamInterface<EventCase> {};

// Assigned events replace the wait window, run in order, and the after event
// runs however the operation ends.
TEST_P(EventTest, AssignedEventsReplaceTheWaitWindowAndAfterAlwaysRuns) {
  const EventCase& c = GetParam();
  const std::string file = Path("log.vez");
  auto database = MakeFilled(file, 100);
  database->SetSilentMode(false);
  std::vector<std::string> trace;
  (*database).*c.before = [&](TVEZDatabase&) { trace.push_back("before"); };
  (*database).*c.progress = [&](TVEZDatabase&, int percent, bool&) {
    trace.push_back("progress " + std::to_string(percent));
  };
  (*database).*c.after = [&](TVEZDatabase&) { trace.push_back("after"); };
  ScriptedEngineUi ui;
  platform::ScopedEngineUi installed(ui);
  c.run(*database);
  EXPECT_TRUE(ui.Log().empty());
  ASSERT_GE(trace.size(), 3u);
  EXPECT_EQ(trace.front(), "before");
  EXPECT_EQ(trace[trace.size() - 2], "progress 100");
  EXPECT_EQ(trace.back(), "after");

  trace.clear();
  FullDiskFileSystem full;
  platform::ScopedFileSystem full_installed(full);
  EXPECT_EQ(NativeErrorOf([&] { c.run(*database); }), 20303);
  EXPECT_EQ(trace, (std::vector<std::string>{"before", "after"}));
  EXPECT_TRUE(ui.Log().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Operations, EventTest,
    ::testing::Values(EventCase{"Compact", &TVEZDatabase::BeforeCompact,
                                &TVEZDatabase::OnCompactProgress, &TVEZDatabase::AfterCompact,
                                [](TVEZDatabase& d) { EXPECT_TRUE(d.CompactDatabase()); }},
                      EventCase{"Repair", &TVEZDatabase::BeforeRepair,
                                &TVEZDatabase::OnRepairProgress, &TVEZDatabase::AfterRepair,
                                [](TVEZDatabase& d) { EXPECT_EQ(d.RepairDatabase(), ""); }},
                      EventCase{"ChangePassword", &TVEZDatabase::BeforeChangePassword,
                                &TVEZDatabase::OnChangePasswordProgress,
                                &TVEZDatabase::AfterChangePassword,
                                [](TVEZDatabase& d) { EXPECT_EQ(d.ChangePassword(""), ""); }},
                      EventCase{"ChangeSettings", &TVEZDatabase::BeforeChangeDatabaseSettings,
                                &TVEZDatabase::OnChangeDatabaseSettingsProgress,
                                &TVEZDatabase::AfterChangeDatabaseSettings,
                                [](TVEZDatabase& d) {
                                  std::string log;
                                  EXPECT_TRUE(d.ChangeDatabaseSettings(
                                      log, false, "", craRijndael_128, 4096, 8, 16));
                                }}),
    [](const ::testing::TestParamInfo<EventCase>& info) { return std::string(info.param.name); });

TEST_F(MaintenanceTest, AFullDiskRaisesBeforeAnythingIsWritten) {
  const std::string file = Path("log.vez");
  auto database = MakeFilled(file, 50);
  const auto bytes = test::ReadAll(file);
  FullDiskFileSystem full;
  platform::ScopedFileSystem installed(full);
  EXPECT_EQ(NativeErrorOf([&] { database->CompactDatabase(); }), 20303);
  EXPECT_EQ(NativeErrorOf([&] { database->CompactDatabase(Path("new.vez")); }), 20303);
  EXPECT_EQ(NativeErrorOf([&] { database->ChangePassword("x"); }), 20303);
  EXPECT_EQ(test::ReadAll(file), bytes);
  EXPECT_FALSE(fs::exists(file + ".tmp"));
  EXPECT_FALSE(fs::exists(Path("new.vez")));
}

TEST_F(MaintenanceTest, AWriteFailingMidRebuildLeavesTheOldFileAndRemovesThePartialOne) {
  const std::string file = Path("log.vez");
  auto database = MakeFilled(file, 300);
  const auto bytes = test::ReadAll(file);
  // How many writes a whole rebuild makes, to fail at its start, middle and
  // last one.
  int writes = 0;
  {
    constexpr int kMany = 1 << 30;
    FailingTmpWrites counting(kMany);
    platform::ScopedFileSystem installed(counting);
    EXPECT_TRUE(database->CompactDatabase(Path("count.tmp.vez")));
    writes = kMany - counting.Allowed();
  }
  ASSERT_GT(writes, 8);
  for (const int allowed : {0, 3, writes / 2, writes - 1}) {
    SCOPED_TRACE(allowed);
    FailingTmpWrites failing(allowed);
    platform::ScopedFileSystem installed(failing);
    EXPECT_ANY_THROW(database->CompactDatabase());
    EXPECT_FALSE(database->Connected());
    EXPECT_EQ(test::ReadAll(file), bytes);
    EXPECT_FALSE(fs::exists(file + ".tmp"));
    EXPECT_FALSE(fs::exists(file + ".tmp-journal"));
  }
  database->Open();
  EXPECT_EQ(SnapshotOf("Log").rows.at("Runs").size(), 300u);
}

// ---- Settings and password.

TEST_F(MaintenanceTest, ChangeDatabaseSettingsGivesTheNewFileItsGeometry) {
  const std::string file = Path("log.vez");
  auto database = MakeFilled(file, 100);
  database->Open();
  const Snapshot before = SnapshotOf("Log");
  database->Close();
  const auto bytes = test::ReadAll(file);
  std::string log;
  for (const std::int32_t bad : {0, -1}) {
    EXPECT_EQ(NativeErrorOf([&] {
                database->ChangeDatabaseSettings(log, false, "", craRijndael_128, 8192, 16, bad);
              }),
              20274);
  }
  EXPECT_EQ(test::ReadAll(file), bytes);
  EXPECT_TRUE(database->ChangeDatabaseSettings(log, false, "", craRijndael_128, 8192, 16, 40));
  EXPECT_EQ(log, "");
  auto reopened = MakeDatabase("Again", file);
  reopened->SetSilentMode(true);
  reopened->Open();
  EXPECT_EQ(reopened->PageSize(), 8192);
  EXPECT_EQ(reopened->PageCountInExtent(), 16);
  EXPECT_EQ(reopened->MaxConnections(), 40);
  EXPECT_EQ(SnapshotOf("Again"), before);
}

TEST_F(MaintenanceTest, APasswordChangeEncryptsTheRebuiltFileEndToEnd) {
  const std::string file = Path("log.vez");
  auto database = MakeFilled(file, 80);
  database->Open();
  const Snapshot before = SnapshotOf("Log");
  database->Close();
  ScriptedEngineUi ui;
  platform::ScopedEngineUi installed(ui);
  database->SetSilentMode(false);
  EXPECT_EQ(database->ChangePassword("secret", craTwofish_256), "");
  database->SetSilentMode(true);
  ASSERT_FALSE(ui.Log().empty());
  EXPECT_EQ(ui.Log().front(), "wait:Changing Database Password...");
  EXPECT_EQ(database->Password(), "secret");
  EXPECT_FALSE(fs::exists(file + ".tmp"));
  // No plain text of a row is left in the file.
  const auto bytes = test::ReadAll(file);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_EQ(text.find("Runs row 17"), std::string::npos);

  auto wrong = MakeDatabase("Wrong", file);
  wrong->SetSilentMode(true);
  EXPECT_EQ(NativeErrorOf([&] { wrong->Open(); }), 30445);
  auto right = MakeDatabase("Right", file);
  right->SetSilentMode(true);
  right->SetPassword("secret");
  right->Open();
  EXPECT_EQ(right->CryptoAlgorithm(), craTwofish_256);
  EXPECT_EQ(SnapshotOf("Right"), before);
  right->Close();

  // A wrong current password changes nothing.
  database->SetPassword("guess");
  EXPECT_EQ(NativeErrorOf([&] { database->ChangePassword("other"); }), 30445);
  EXPECT_EQ(test::ReadAll(file), bytes);
  EXPECT_FALSE(fs::exists(file + ".tmp"));
  database->SetPassword("secret");
  EXPECT_EQ(database->ChangePassword(""), "");
  auto plain = MakeDatabase("Plain", file);
  plain->SetSilentMode(true);
  plain->Open();
  EXPECT_EQ(SnapshotOf("Plain"), before);
}

TEST_F(MaintenanceTest, AReadOnlyFileIsNotReplaced) {
  const std::string file = Path("log.vez");
  auto database = MakeFilled(file, 20);
  const auto bytes = test::ReadAll(file);
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  std::string log;
  EXPECT_EQ(NativeErrorOf([&] { database->ChangePassword("x"); }), 30456);
  EXPECT_EQ(NativeErrorOf([&] { database->CompactDatabase(); }), 30456);
  EXPECT_EQ(NativeErrorOf([&] { database->RepairDatabase(); }), 30456);
  EXPECT_EQ(NativeErrorOf([&] {
              database->ChangeDatabaseSettings(log, false, "", craRijndael_128, 4096, 8, 10);
            }),
            30456);
  EXPECT_EQ(database->Password(), "");
  EXPECT_EQ(test::ReadAll(file), bytes);
  EXPECT_FALSE(fs::exists(file + ".tmp"));
  fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(MaintenanceTest, ATableOfMoreRowsThanOneCommitHoldsIsCopiedWhole) {
  const std::string file = Path("log.vez");
  auto database = MakeFilled(file, 10);
  database->Open();
  {
    // One commit for the filling keeps the test quick.
    TVEZTable runs;
    runs.SetDatabaseName("Log");
    runs.SetTableName("Runs");
    runs.Open();
    database->StartTransaction();
    for (int i = 0; i < 12345; ++i)
      runs.AppendRecord({Variant::Null(), Variant::FromInteger((i * 7919) % 1000),
                         Variant::FromString("Runs row " + std::to_string(i))});
    database->Commit();
    runs.Close();
  }
  const Snapshot before = SnapshotOf("Log");
  ASSERT_EQ(before.rows.at("Runs").size(), 12355u);
  database->Close();
  EXPECT_TRUE(database->CompactDatabase());
  database->Open();
  EXPECT_EQ(SnapshotOf("Log"), before);
}

// ---- Damaged files.

// Overwrites the first page of the file's list of tables.
void DamageTableList(TVEZDatabase& database) {
  const std::string file = database.DatabaseFileName();
  database.Open();
  TVEZDiskDatabaseData& data = test::DiskData(database);
  const std::int64_t offset =
      data.DiskPageManager()->OffsetToFirstPage() +
      static_cast<std::int64_t>(data.TableListFile()->StartPageNo()) * database.PageSize();
  database.Close();
  auto bytes = test::ReadAll(file);
  ASSERT_LE(offset + database.PageSize(), static_cast<std::int64_t>(bytes.size()));
  for (std::int64_t i = 16; i < database.PageSize(); ++i)
    bytes[static_cast<std::size_t>(offset + i)] = static_cast<std::uint8_t>(i * 13 + 5);
  test::WriteAll(file, bytes);
}

TEST_F(MaintenanceTest, ARebuildWhoseTableListCannotBeReadRaisesAndReplacesNothing) {
  const std::string file = Path("log.vez");
  auto database = MakeFilled(file, 40);
  DamageTableList(*database);
  const auto bytes = test::ReadAll(file);
  std::string log;
  // Repair ignores errors of tables, never of the list (read as the file
  // opens): an empty list would replace the file with an empty one.
  EXPECT_EQ(NativeErrorOf([&] { database->RepairDatabase(); }), 30388);
  EXPECT_ANY_THROW(database->RepairDatabase());
  EXPECT_ANY_THROW(database->RepairDatabase(Path("repaired.vez"), log));
  EXPECT_ANY_THROW(database->CompactDatabase());
  EXPECT_ANY_THROW(database->ChangeDatabaseSettings(log, true, "", craRijndael_128, 4096, 8, 16));
  EXPECT_EQ(test::ReadAll(file), bytes);
  EXPECT_FALSE(fs::exists(file + ".tmp"));
  EXPECT_FALSE(fs::exists(Path("repaired.vez")));
  EXPECT_FALSE(database->Connected());
}

// ---- Repair.

TEST_F(MaintenanceTest, RepairLogsAnUnreadableTableAndKeepsTheOthersWhole) {
  const std::string file = Path("log.vez");
  auto database = MakeFilled(file, 120);
  database->Open();
  const Snapshot before = SnapshotOf("Log");
  // A table whose pages are not its own: it cannot be read.
  test::AddCatalogueEntry(test::DiskData(*database), 90, "Broken");
  database->Close();

  // Without ignoring errors the rebuild stops at the table.
  EXPECT_EQ(NativeErrorOf([&] { database->CompactDatabase(Path("c.vez")); }), 20199);
  EXPECT_FALSE(fs::exists(Path("c.vez")));

  std::string log;
  EXPECT_TRUE(database->RepairDatabase(Path("repaired.vez"), log));
  EXPECT_EQ(log.rfind("Problem occured while copying table 'Broken': '", 0), 0u) << log;

  log = database->RepairDatabase();
  EXPECT_EQ(log.rfind("Problem occured while copying table 'Broken': '", 0), 0u) << log;
  EXPECT_FALSE(fs::exists(file + ".tmp"));
  database->Open();
  std::vector<std::string> tables;
  database->GetTablesList(tables);
  EXPECT_EQ(tables, (std::vector<std::string>{"Trials", "Runs"}));
  EXPECT_EQ(SnapshotOf("Log"), before);
}

TEST_F(MaintenanceTest, AnAbortedRepairDoesNotReplaceTheFileThoughErrorsAreIgnored) {
  const std::string file = Path("log.vez");
  auto database = MakeFilled(file, 300);
  const auto bytes = test::ReadAll(file);
  database->OnRepairProgress = [](TVEZDatabase&, int percent, bool& cont) {
    if (percent >= 50) cont = false;
  };
  std::string log;
  EXPECT_FALSE(database->RepairDatabase(Path("repaired.vez"), log));
  EXPECT_FALSE(fs::exists(Path("repaired.vez")));
  // A file already under the name is not the repair's to delete.
  test::WriteAll(Path("kept.vez"), {1, 2, 3});
  EXPECT_EQ(NativeErrorOf([&] { database->RepairDatabase(Path("kept.vez"), log); }), 30456);
  EXPECT_EQ(NativeErrorOf([&] { database->RepairDatabase(file, log); }), 30456);
  EXPECT_EQ(test::ReadAll(file), bytes);
  EXPECT_EQ(test::ReadAll(Path("kept.vez")), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_FALSE(database->RepairDatabase().empty());
  EXPECT_EQ(test::ReadAll(file), bytes);
  EXPECT_FALSE(fs::exists(file + ".tmp"));
}

TEST_F(MaintenanceTest, AFileLeftMidCommitIsRepairedWhenTheUserSaysYes) {
  const std::string file = Path("log.vez");
  auto database = MakeFilled(file, 60);
  database->Open();
  const Snapshot before = SnapshotOf("Log");
  test::AddCatalogueEntry(test::DiskData(*database), 90, "Broken");
  database->Close();
  test::EditHeader(file, [](TVEZDBHeader& h) { h.WriteChangesState = kWriteChangesInProgress; });

  ScriptedEngineUi ui;
  platform::ScopedEngineUi installed(ui);
  ui.QueueConfirm(true);
  ui.ExpectInform();
  auto opening = MakeDatabase("Opening", file);
  opening->Open();
  EXPECT_TRUE(opening->Connected());
  EXPECT_FALSE(test::LocalHandle(*opening).RepairNeeded);
  ui.ExpectDone();
  const std::vector<std::string>& calls = ui.Log();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[1], "wait:Repairing Database...");
  EXPECT_EQ(calls[2], "visible");
  EXPECT_EQ(calls.back().rfind("inform:Problem occured while copying table 'Broken'", 0), 0u);
  EXPECT_EQ(SnapshotOf("Opening"), before);
}

// ---- Truncation and the executable database.

TEST_F(MaintenanceTest, TruncateCutsTheFileAfterItsLastUsedPageAndRestoresExclusive) {
  const std::string file = Path("log.vez");
  auto database = MakeFilled(file, 300);
  const auto size = fs::file_size(file);
  fs::resize_file(file, size + 40 * 4096);
  database->TruncateDatabase();
  EXPECT_FALSE(database->Exclusive());
  EXPECT_FALSE(database->Connected());
  EXPECT_LE(fs::file_size(file), size);
  database->Open();
  EXPECT_EQ(SnapshotOf("Log").rows.at("Trials").size(), 300u);
}

TEST_F(MaintenanceTest, AnExecutableDatabaseOpensAsTheDatabase) {
  const std::string file = Path("log.vez");
  auto database = MakeFilled(file, 40);
  database->Open();
  const Snapshot before = SnapshotOf("Log");
  database->Close();
  const std::string stub = Path("stub.bin");
  std::vector<std::uint8_t> stub_bytes(10000);
  for (std::size_t i = 0; i < stub_bytes.size(); ++i)
    stub_bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
  test::WriteAll(stub, stub_bytes);
  const std::string exe = Path("log.exe");
  database->MakeExecutableDatabase(stub, exe);
  EXPECT_EQ(fs::file_size(exe), stub_bytes.size() + fs::file_size(file));
  auto carried = MakeDatabase("Carried", exe);
  carried->SetSilentMode(true);
  carried->Open();
  EXPECT_EQ(SnapshotOf("Carried"), before);
  EXPECT_EQ(NativeErrorOf([&] { database->MakeExecutableDatabase(stub, file); }), 30456);
}

}  // namespace
}  // namespace vez

// ---- The order of the replace.

namespace vez {
namespace {

// Logs syncs of files, replaces and folder syncs.
class OrderLoggingFileSystem : public platform::FileSystemWrapper {
 public:
  OrderLoggingFileSystem() : FileSystemWrapper(platform::PosixFileSystem()) {}
  std::vector<std::string> log;

  std::unique_ptr<platform::File> OpenFile(const std::string& path, platform::FileAccess access,
                                           platform::FileShare share) override {
    return std::make_unique<File>(FileSystemWrapper::OpenFile(path, access, share), *this);
  }
  void ReplaceFile(const std::string& from, const std::string& to) override {
    log.push_back("replace " + fs::path(from).filename().string() + " " +
                  fs::path(to).filename().string());
    FileSystemWrapper::ReplaceFile(from, to);
  }
  void SyncFolder(const std::string& folder) override {
    log.push_back("sync folder");
    FileSystemWrapper::SyncFolder(folder);
  }

 private:
  class File : public platform::FileWrapper {
   public:
    File(std::unique_ptr<platform::File> target, OrderLoggingFileSystem& owner)
        : FileWrapper(std::move(target)), owner_(owner) {}
    void Sync() override {
      owner_.log.push_back("sync " + fs::path(Path()).filename().string());
      FileWrapper::Sync();
    }

   private:
    OrderLoggingFileSystem& owner_;
  };
};

TEST_F(MaintenanceTest, TheNewFileIsSyncedBeforeTheRenameAndTheFolderAfterIt) {
  const std::string file = Path("log.vez");
  auto database = MakeFilled(file, 30);
  OrderLoggingFileSystem logging;
  {
    platform::ScopedFileSystem installed(logging);
    EXPECT_TRUE(database->CompactDatabase());
  }
  const auto at = [&](const std::string& entry) {
    return std::find(logging.log.begin(), logging.log.end(), entry) - logging.log.begin();
  };
  const auto replace = at("replace log.vez.tmp log.vez");
  ASSERT_LT(replace, static_cast<std::ptrdiff_t>(logging.log.size()));
  EXPECT_LT(at("sync log.vez.tmp"), replace);
  ASSERT_LT(replace + 1, static_cast<std::ptrdiff_t>(logging.log.size()));
  EXPECT_EQ(logging.log[static_cast<std::size_t>(replace + 1)], "sync folder");
}

}  // namespace
}  // namespace vez

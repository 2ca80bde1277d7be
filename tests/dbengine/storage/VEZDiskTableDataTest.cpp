// The disk table data end to end in one process: the log's Data table is
// created, filled, searched, changed and reopened through the test cursor,
// against a std::map model of the rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbengine/storage/VEZDiskPageManager.h"
#include "dbengine/storage/VEZDiskTableData.h"
#include "dbengine/storage/VEZInternalDBFile.h"
#include "dbengine/storage/VEZSystemDirectory.h"
#include "platform/core/Exceptions.h"
#include "platform/os/File.h"
#include "tests/common/AllocationCap.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/DiskTableTestSupport.h"
#include "tests/dbengine/storage/DiskTestSupport.h"
#include "tests/dbengine/storage/TemporaryTestSupport.h"

namespace vez {
namespace {

using test::FaultFileSystem;
using test::MakeDataRow;
using test::ScratchDir;
using test::TDataRow;
using test::TDiskTableEnv;
using test::TTestLocalCursor;

using Model = std::map<std::int64_t, TDataRow>;

// Every row of the table in storage order and in index order must be the
// model's, the index order sorted by (MeasurementID, Time).
void ExpectTableIs(TTestLocalCursor& c, const Model& model) {
  std::vector<TDataRow> rows = TDiskTableEnv::ReadAll(c);
  ASSERT_EQ(rows.size(), model.size());
  Model seen;
  for (const TDataRow& r : rows) {
    EXPECT_TRUE(seen.emplace(r.id, r).second) << "duplicate id " << r.id;
  }
  EXPECT_EQ(seen, model);
  std::vector<TDataRow> by_index =
      TDiskTableEnv::ReadAll(c, TDiskTableEnv::IndexID(c, test::kDataIndexName));
  ASSERT_EQ(by_index.size(), model.size());
  for (std::size_t i = 1; i < by_index.size(); ++i)
    EXPECT_LE(by_index[i - 1].Key(), by_index[i].Key()) << "index order at " << i;
  std::sort(by_index.begin(), by_index.end(),
            [](const TDataRow& a, const TDataRow& b) { return a.id < b.id; });
  std::vector<TDataRow> expected;
  for (const auto& [id, row] : model)
    expected.push_back(row);
  EXPECT_EQ(by_index, expected);
  EXPECT_EQ(c.table_data->RecordManager()->RecordCount, static_cast<std::int64_t>(model.size()));
}

// Reads the record with id into the cursor's current record (storage order).
bool GoTo(TTestLocalCursor& c, std::int64_t id) {
  c.IndexID = -1;
  c.FirstPosition = true;
  c.LastPosition = false;
  while (c.GetRecordBuffer(grmNext) == grrOK)
    if (test::ReadDataRecord(c).id == id) return true;
  return false;
}

std::vector<std::string> Tables(TVEZDiskDatabaseData& db) {
  std::vector<std::string> list;
  db.GetTablesList(list);
  return list;
}

class DiskTableDataTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string path = dir.Path("log.vez");
};

TEST_F(DiskTableDataTest, AppendSearchUpdateDeleteAndReopenMatchTheModel) {
  Model model;
  std::mt19937 rng(21);
  {
    TDiskTableEnv env(path, true, false);
    env.CreateDataTable();
    TTestLocalCursor& c = env.Open();
    for (std::int32_t n = 0; n < 600; ++n) {
      TDataRow row = MakeDataRow(1 + n % 3, n);
      row.id = TDiskTableEnv::Append(c, row);
      ASSERT_EQ(row.id, n + 1) << "autoincrement ids run from 1";
      model[row.id] = row;
    }
    ExpectTableIs(c, model);

    // Random updates (the key moves in the index) and deletes.
    for (int step = 0; step < 200; ++step) {
      auto it = model.begin();
      std::advance(it, static_cast<long>(rng() % model.size()));
      SCOPED_TRACE(testing::Message() << "step " << step << " id " << it->first);
      ASSERT_TRUE(GoTo(c, it->first));
      if (rng() % 3 == 0) {
        c.InternalDelete();
        ASSERT_EQ(c.ErrorCode, cecOK);
        model.erase(it);
      } else {
        c.BeginEdit();
        TDataRow row = it->second;
        row.measurement = 1 + rng() % 4;
        row.power = -step;
        test::FillDataRecord(c, row);
        c.InternalPost(false);
        ASSERT_EQ(c.ErrorCode, cecOK);
        it->second = row;
      }
    }
    ExpectTableIs(c, model);

    // An indexed search: the first reading of measurement 2.
    c.IndexID = TDiskTableEnv::IndexID(c, test::kDataIndexName);
    c.KeyBuffer = c.AllocateKeyRecordBuffer();
    c.InternalInitKeyBuffer(c.KeyBuffer);
    const double wanted = 2;
    SetRecordFieldData(test::kDataMeasurement, c.FieldDefs(), &wanted, c.KeyBuffer);
    c.KeyFieldCount = 1;
    ASSERT_TRUE(c.FindKey(scEqual));
    ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
    const TDataRow found = test::ReadDataRecord(c);
    TDataRow first_of_2;
    first_of_2.measurement = -1;
    for (const auto& [id, row] : model) {
      if (row.measurement == 2 && (first_of_2.measurement < 0 || row.Key() < first_of_2.Key()))
        first_of_2 = row;
    }
    EXPECT_EQ(found, first_of_2);
    c.FreeRecordBuffer(c.KeyBuffer);
  }
  // Reopened from the file: the same rows, and ids go on after the last.
  TDiskTableEnv env(path, false, false);
  TTestLocalCursor& c = env.Open();
  ExpectTableIs(c, model);
  const std::int64_t next = TDiskTableEnv::Append(c, MakeDataRow(9, 9));
  EXPECT_EQ(next, 601);
}

TEST_F(DiskTableDataTest, RenamedTableKeepsItsRowsUnderTheNewName) {
  TDiskTableEnv env(path, true, false);
  env.CreateDataTable();
  {
    TTestLocalCursor& c = env.Open();
    for (int n = 0; n < 10; ++n)
      TDiskTableEnv::Append(c, MakeDataRow(1, n));
    env.DropCursor(c);
  }
  TTestLocalCursor& renamer = env.NewCursor("Data");
  env.Table("Data").RenameTable("Readings", &renamer);
  EXPECT_EQ(Tables(env.Db()), std::vector<std::string>{"Readings"});
  TTestLocalCursor& c = env.Open("Readings");
  EXPECT_EQ(TDiskTableEnv::ReadAll(c).size(), 10u);
  // The old name is gone from the catalogue.
  TTestLocalCursor& old = env.NewCursor("Data");
  EXPECT_EQ(test::NativeErrorOf([&] { old.Open(env.Table("Data")); }), 30396);
}

TEST_F(DiskTableDataTest, RenameAndExclusiveOpenAreRefusedWhileAnotherCursorHasTheTable) {
  TDiskTableEnv env(path, true, false);
  env.CreateDataTable();
  env.Open();
  TTestLocalCursor& exclusive = env.NewCursor("Data", true);
  EXPECT_EQ(test::NativeErrorOf([&] { exclusive.Open(env.Table("Data")); }), 20242);
  TTestLocalCursor& renamer = env.NewCursor("Data");
  EXPECT_EQ(test::NativeErrorOf([&] { env.Table("Data").RenameTable("Other", &renamer); }), 20242);
  EXPECT_EQ(Tables(env.Db()), std::vector<std::string>{"Data"});
  EXPECT_EQ(env.Table("Data").CursorList().size(), 1u) << "refused cursors are not listed";
}

TEST_F(DiskTableDataTest, EmptyTableRestartsIdsStateAndCount) {
  TDiskTableEnv env(path, true, false);
  env.CreateDataTable();
  {
    TTestLocalCursor& c = env.Open();
    for (int n = 0; n < 50; ++n)
      TDiskTableEnv::Append(c, MakeDataRow(1, n));
    EXPECT_NE(c.table_data->RecordManager()->TableState, 0);
    env.DropCursor(c);
  }
  TTestLocalCursor& emptier = env.NewCursor("Data");
  env.Table("Data").EmptyTable(&emptier);
  TTestLocalCursor& c = env.Open();
  EXPECT_EQ(c.table_data->RecordManager()->RecordCount, 0);
  EXPECT_EQ(c.table_data->RecordManager()->TableState, 0);
  EXPECT_TRUE(TDiskTableEnv::ReadAll(c).empty());
  EXPECT_TRUE(TDiskTableEnv::ReadAll(c, TDiskTableEnv::IndexID(c, test::kDataIndexName)).empty());
  EXPECT_EQ(TDiskTableEnv::Append(c, MakeDataRow(1, 1)), 1) << "ids start again";
}

TEST_F(DiskTableDataTest, CreateWithoutFieldsLeavesNoCatalogueEntry) {
  TDiskTableEnv env(path, true, false);
  TVEZFieldDefs fields;
  TVEZIndexDefs indexes;
  TVEZConstraintDefs constraints;
  TTestLocalCursor& c = env.NewCursor("Empty");
  EXPECT_EQ(test::NativeErrorOf(
                [&] { env.Table("Empty").CreateTable(&c, fields, indexes, constraints); }),
            20128);
  // A record too large for a page is refused when its manager is made.
  test::AddField(fields, "Huge", aftString, 8000);
  EXPECT_EQ(test::NativeErrorOf(
                [&] { env.Table("Empty").CreateTable(&c, fields, indexes, constraints); }),
            20174);
  EXPECT_TRUE(Tables(env.Db()).empty());
  EXPECT_EQ(env.Table("Empty").FieldManager(), nullptr);
  // The database is still usable.
  env.CreateDataTable();
  EXPECT_EQ(Tables(env.Db()), std::vector<std::string>{"Data"});
}

TEST_F(DiskTableDataTest, DeleteMovesTheCursorToTheNextElseThePriorRecord) {
  TDiskTableEnv env(path, true, false);
  env.CreateDataTable();
  TTestLocalCursor& c = env.Open();
  for (int n = 0; n < 4; ++n)
    TDiskTableEnv::Append(c, MakeDataRow(1, n));
  struct Case {
    std::int64_t id;
    std::int64_t expected_id;  // 0: before the first record
  };
  // ids 1..4: delete 2 -> 3; delete 4 (last) -> 3; delete 1 -> 3; delete 3 (only) -> BOF.
  for (const Case& k : {Case{2, 3}, Case{4, 3}, Case{1, 3}, Case{3, 0}}) {
    SCOPED_TRACE(k.id);
    ASSERT_TRUE(GoTo(c, k.id));
    c.InternalDelete();
    ASSERT_EQ(c.ErrorCode, cecOK);
    if (k.expected_id == 0) {
      EXPECT_TRUE(c.FirstPosition);
      EXPECT_FALSE(c.LastPosition);
      continue;
    }
    EXPECT_FALSE(c.FirstPosition);
    ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
    EXPECT_EQ(test::ReadDataRecord(c).id, k.expected_id);
  }
  EXPECT_EQ(c.table_data->RecordManager()->RecordCount, 0);
}

// The bytes of a page as they are in the file now.
std::vector<std::uint8_t> FilePage(const std::string& path, TVEZDiskPageManager& pm,
                                   std::int32_t page_no) {
  const std::vector<std::uint8_t> all = test::ReadAll(path);
  const auto offset = static_cast<std::size_t>(pm.GetPageOffset(page_no));
  return {all.begin() + static_cast<long>(offset),
          all.begin() + static_cast<long>(offset + pm.PageSize())};
}

TEST_F(DiskTableDataTest, DroppingATemporaryIndexDoesNotRewriteTheMetadata) {
  TDiskTableEnv env(path, true, false);
  env.CreateDataTable();
  TTestLocalCursor& c = env.Open();
  for (int n = 0; n < 20; ++n)
    TDiskTableEnv::Append(c, MakeDataRow(1, n));
  TVEZDiskTableData& table = env.Table("Data");
  TVEZDiskPageManager& pm = *env.Db().DiskPageManager();
  bool created = false;
  const std::string name = c.FindOrCreateIndex({"Power"}, {""}, {""}, created);
  ASSERT_TRUE(created);
  const std::int32_t temporary_id =
      c.IndexDefs().GetIndexDefByName(name) != nullptr
          ? c.IndexDefs().GetIndexDefByName(name)->ObjectID
          : table.IndexManager()->IndexDefs().GetIndexDefByName(name)->ObjectID;
  const std::vector<std::uint8_t> before = FilePage(path, pm, table.MetadataFilePageNo());
  {
    TVEZLockGuard guard(table);
    table.DeleteIndex(temporary_id, &c);
  }
  EXPECT_EQ(FilePage(path, pm, table.MetadataFilePageNo()), before);
  const std::int32_t permanent_id = TDiskTableEnv::IndexID(c, test::kDataIndexName);
  {
    TVEZLockGuard guard(table);
    table.DeleteIndex(permanent_id, &c);
  }
  EXPECT_NE(FilePage(path, pm, table.MetadataFilePageNo()), before);
  EXPECT_EQ(table.IndexManager()->IndexDefs().GetCount(), 0);
}

// A temporary index that spills to its page file, and an insert whose commit
// fails writing that file: the insert raises, the table keeps every row it
// had, and the index lists them as a new index does.
TEST_F(DiskTableDataTest, FailedTemporaryIndexWriteFailsTheChangeAndKeepsTheIndexWhole) {
  test::FailingTempFileSystem temp_files;
  platform::ScopedFileSystem scope(temp_files);
  TDiskTableEnv env(path, true, false);
  TTestLocalCursor* opened = nullptr;
  {
    // The temporary page manager fixes its RAM limit as the table is made.
    test::ScopedMemoryLimit limit(test::LimitForTenthOf(2 * 4096));
    env.CreateDataTable();
    opened = &env.Open();
  }
  TTestLocalCursor& c = *opened;
  TVEZDiskTableData& table = env.Table("Data");
  ASSERT_LE(table.TemporaryPageManager()->MaxMemoryPageCount(), 2);
  ASSERT_GE(table.TemporaryPageManager()->MaxMemoryPageCount(), 1);
  Model model;
  for (int n = 0; n < 1500; ++n) {
    TDataRow row = MakeDataRow(1, n);
    row.power = (n * 37) % 101;
    row.id = TDiskTableEnv::Append(c, row);
    model[row.id] = row;
  }
  bool created = false;
  const std::string name = c.FindOrCreateIndex({"Power"}, {""}, {""}, created);
  ASSERT_TRUE(created);
  ASSERT_TRUE(table.TemporaryPageManager()->HasPageFile());
  const std::int32_t index_id = table.IndexManager()->IndexDefs().GetIndexDefByName(name)->ObjectID;
  auto by_power = [&] {
    std::vector<std::pair<double, std::int64_t>> keys;
    for (const TDataRow& row : TDiskTableEnv::ReadAll(c, index_id))
      keys.emplace_back(row.power, row.id);
    return keys;
  };
  auto expected = [&] {
    std::vector<std::pair<double, std::int64_t>> keys;
    for (const auto& [id, row] : model)
      keys.emplace_back(row.power, id);
    std::sort(keys.begin(), keys.end());
    return keys;
  };
  auto sorted = [](std::vector<std::pair<double, std::int64_t>> keys) {
    std::sort(keys.begin(), keys.end());
    return keys;
  };
  ASSERT_EQ(sorted(by_power()), expected());

  temp_files.fail_write_at = temp_files.writes.load();  // the insert's first write
  TDataRow extra = MakeDataRow(2, 1000);
  extra.power = 50;
  EXPECT_ANY_THROW(TDiskTableEnv::Append(c, extra));
  const bool failed_a_write = temp_files.writes > temp_files.fail_write_at;
  temp_files.fail_write_at = -1;
  EXPECT_TRUE(failed_a_write);
  ExpectTableIs(c, model);
  const auto listed = by_power();
  EXPECT_EQ(sorted(listed), expected());
  for (std::size_t i = 1; i < listed.size(); ++i)
    EXPECT_LE(listed[i - 1].first, listed[i].first) << "index order at " << i;

  // The table and the index take the same row afterwards.
  extra.id = TDiskTableEnv::Append(c, extra);
  model[extra.id] = extra;
  ExpectTableIs(c, model);
  EXPECT_EQ(sorted(by_power()), expected());
}

// Rewrites the table's most-updated file as session -2 with block.
void WriteMostUpdated(TVEZDiskPageManager& pm, std::int32_t page_no,
                      const std::vector<std::uint8_t>& block) {
  TVEZInternalDBTransactedAccessFile file(&pm, kPageTypeTableMostUpdated);
  file.OpenFile(page_no);
  file.WriteFile(-2, block.data(), static_cast<std::int32_t>(block.size()), acaNone, 0);
  pm.ApplyChanges(-2);
}

std::vector<std::uint8_t> ReadMostUpdated(TVEZDiskPageManager& pm, std::int32_t page_no) {
  TVEZInternalDBTransactedAccessFile file(&pm, kPageTypeTableMostUpdated);
  file.OpenFile(page_no);
  std::vector<std::uint8_t> block(static_cast<std::size_t>(file.GetCheckedSize(-2)));
  file.ReadFile(-2, block.data(), static_cast<std::int32_t>(block.size()), true);
  return block;
}

TEST_F(DiskTableDataTest, RepairOpenRecountsAWrongRecordCount) {
  TDiskTableEnv env(path, true, false);
  env.CreateDataTable();
  TTestLocalCursor& c = env.Open();
  for (int n = 0; n < 30; ++n)
    TDiskTableEnv::Append(c, MakeDataRow(1, n));
  TVEZDiskTableData& table = env.Table("Data");
  const std::int32_t most_updated = table.MostUpdatedFilePageNo();
  env.DropCursor(c);
  TVEZDiskPageManager& pm = *env.Db().DiskPageManager();
  std::vector<std::uint8_t> block = ReadMostUpdated(pm, most_updated);
  PutLE<std::int32_t>(block.data() + block.size() - 4, 7);  // the stored record count
  WriteMostUpdated(pm, most_updated, block);

  TTestLocalCursor& repair = env.NewCursor("Data");
  repair.IsRepairing = true;
  repair.Open(env.Table("Data"));
  EXPECT_EQ(env.Table("Data").RecordManager()->RecordCount, 30);
  EXPECT_EQ(TDiskTableEnv::ReadAll(repair).size(), 30u);
  env.DropCursor(repair);
  env.Table("Data").SetIsRepairing(false);
  // Written back: a plain open sees the right count.
  TTestLocalCursor& plain = env.Open();
  EXPECT_EQ(env.Table("Data").RecordManager()->RecordCount, 30);
  EXPECT_EQ(TDiskTableEnv::Append(plain, MakeDataRow(1, 99)), 31);
}

// Fails the first read that touches [from, to) once armed: with an I/O error,
// or as if memory ran out while it was served.
struct OneReadFault {
  std::int64_t from = 0, to = 0;
  bool out_of_memory = false;
  bool armed = false;
  int hits = 0;
  void Check(std::int64_t offset, std::size_t count) {
    if (!armed || offset >= to || offset + static_cast<std::int64_t>(count) <= from) return;
    armed = false;
    ++hits;
    if (out_of_memory) throw std::bad_alloc();
    throw platform::EOSError(EIO, "injected read failure");
  }
};

class OneReadFaultFile : public platform::FileWrapper {
 public:
  OneReadFaultFile(std::unique_ptr<platform::File> target, OneReadFault& fault)
      : FileWrapper(std::move(target)), fault_(fault) {}
  void ReadAt(std::int64_t offset, void* buffer, std::size_t count) override {
    fault_.Check(offset, count);
    FileWrapper::ReadAt(offset, buffer, count);
  }
  std::size_t ReadPartialAt(std::int64_t offset, void* buffer, std::size_t count) override {
    fault_.Check(offset, count);
    return FileWrapper::ReadPartialAt(offset, buffer, count);
  }

 private:
  OneReadFault& fault_;
};

class OneReadFaultFileSystem : public platform::FileSystemWrapper {
 public:
  OneReadFaultFileSystem() : FileSystemWrapper(platform::PosixFileSystem()) {}
  OneReadFault fault;
  std::unique_ptr<platform::File> OpenFile(const std::string& path, platform::FileAccess access,
                                           platform::FileShare share) override {
    return std::make_unique<OneReadFaultFile>(FileSystemWrapper::OpenFile(path, access, share),
                                              fault);
  }
};

// A repair open rebuilds a table only from damaged bytes: a read that fails
// (an I/O error, memory running out) passes on and the file is not rewritten.
TEST_F(DiskTableDataTest, RepairOpenRebuildsOnlyWhatIsDamaged) {
  std::int64_t from = 0, to = 0;
  {
    TDiskTableEnv env(path, true, false);
    env.CreateDataTable();
    TTestLocalCursor& c = env.Open();
    for (int n = 0; n < 30; ++n)
      TDiskTableEnv::Append(c, MakeDataRow(1, n));
    TVEZDiskPageManager& pm = *env.Db().DiskPageManager();
    from = pm.GetPageOffset(env.Table("Data").MostUpdatedFilePageNo());
    to = from + pm.PageSize();
  }
  const std::vector<std::uint8_t> stored = test::ReadAll(path);
  const struct {
    const char* what;
    bool out_of_memory;
  } rows[] = {{"read error", false}, {"out of memory", true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    OneReadFaultFileSystem fs;
    fs.fault = {from, to, row.out_of_memory};
    {
      platform::ScopedFileSystem scope(fs);
      TDiskTableEnv env(path, false, false);
      TTestLocalCursor& repair = env.NewCursor("Data");
      repair.IsRepairing = true;
      fs.fault.armed = true;
      if (row.out_of_memory) {
        EXPECT_THROW(repair.Open(env.Table("Data")), std::bad_alloc);
      } else {
        EXPECT_EQ(test::NativeErrorOf([&] { repair.Open(env.Table("Data")); }), kErrPageRead);
      }
      EXPECT_EQ(fs.fault.hits, 1);
      env.DropCursor(repair);
    }
    EXPECT_TRUE(test::ReadAll(path) == stored) << "the file was rewritten";
  }
  // With nothing failing, the sound table opens for repair as it is.
  TDiskTableEnv env(path, false, false);
  TTestLocalCursor& repair = env.NewCursor("Data");
  repair.IsRepairing = true;
  repair.Open(env.Table("Data"));
  EXPECT_EQ(TDiskTableEnv::ReadAll(repair).size(), 30u);
}

TEST(DiskTableDataDamageTest, OnlyDamageCountsAsDamage) {
  const struct {
    const char* what;
    std::function<void()> raise;
    bool damage;
  } rows[] = {
      {"damaged most-updated block",
       [] { throw EVEZException(20164, "Invalid table header data"); }, true},
      {"index and count disagree",
       [] { throw EVEZException(20292, "Invalid table RecordPageIndex"); }, true},
      {"damaged index page", [] { throw EVEZException(20035, "Corrupt index page"); }, true},
      {"internal file shorter than its head", [] { throw EVEZException(30388, "short"); }, true},
      {"counter overflow", [] { throw platform::EIntOverflow(); }, true},
      {"page read error", [] { throw EVEZException(kErrPageRead, "read"); }, false},
      {"header read error", [] { throw EVEZException(10464, "read"); }, false},
      {"journal error", [] { throw EVEZException(10481, "journal"); }, false},
      {"system error", [] { throw platform::EOSError(EIO, "io"); }, false},
      {"header locked", [] { throw EVEZException(20236, "Database is locked"); }, false},
      {"page pinned by another session", [] { throw EVEZException(20090, "pinned"); }, false},
      {"memory limit", [] { throw EVEZException(30004, "Memory limit exceeded"); }, false},
      {"system memory", [] { throw EVEZException(30015, "GetMem error"); }, false},
      {"heap", [] { throw std::bad_alloc(); }, false},
      {"not an engine failure", [] { throw std::logic_error("bug"); }, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    try {
      row.raise();
      FAIL() << "nothing raised";
    } catch (const std::exception& e) {
      EXPECT_EQ(IsStoredDataDamage(e), row.damage);
    }
  }
}

TEST_F(DiskTableDataTest, DamagedMostUpdatedBlockIsRefusedAndChangesNothing) {
  TDiskTableEnv env(path, true, false);
  env.CreateDataTable();
  std::int32_t most_updated = 0;
  std::vector<std::uint8_t> good;
  {
    TTestLocalCursor& c = env.Open();
    for (int n = 0; n < 5; ++n)
      TDiskTableEnv::Append(c, MakeDataRow(1, n));
    most_updated = env.Table("Data").MostUpdatedFilePageNo();
    env.DropCursor(c);
    good = ReadMostUpdated(*env.Db().DiskPageManager(), most_updated);
  }
  ASSERT_EQ(good.size(), 4u + 8u * 7u + 8u);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> block;
  };
  std::vector<Case> cases;
  {
    std::vector<std::uint8_t> b = good;
    PutLE<std::int32_t>(b.data(), 6);  // another field count, same size
    cases.push_back({"field count", b});
  }
  {
    std::vector<std::uint8_t> b = good;
    b.resize(b.size() - 8);  // the record manager's part missing
    cases.push_back({"short block", b});
  }
  {
    std::vector<std::uint8_t> b = good;
    PutLE<std::int32_t>(b.data() + b.size() - 4, -3);  // a negative count
    cases.push_back({"negative count", b});
  }
  TVEZDiskPageManager& pm = *env.Db().DiskPageManager();
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    WriteMostUpdated(pm, most_updated, k.block);
    TTestLocalCursor& c = env.NewCursor("Data");
    EXPECT_EQ(test::NativeErrorOf([&] { c.Open(env.Table("Data")); }), 20164);
    EXPECT_FALSE(env.Table("Data").IsOpen());
    env.DropCursor(c);
    EXPECT_EQ(ReadMostUpdated(pm, most_updated), k.block) << "nothing was written";
  }
  WriteMostUpdated(pm, most_updated, good);
  TTestLocalCursor& c = env.Open();
  EXPECT_EQ(TDiskTableEnv::ReadAll(c).size(), 5u);
}

// A metadata head whose sizes the table's own pages cannot hold is refused
// before anything of that size is allocated (the allocator is capped near
// what is in use, so an allocation of the claimed size fails loudly).
TEST_F(DiskTableDataTest, DamagedMetadataSizeDoesNotAllocateWhatItClaims) {
  std::int32_t metadata_page = 0;
  std::int32_t room = 0;
  {
    TDiskTableEnv env(path, true, false);
    env.CreateDataTable();
    env.Open();
    metadata_page = env.Table("Data").MetadataFilePageNo();
    TVEZDiskPageManager& pm = *env.Db().DiskPageManager();
    room = pm.DBHeader().TotalPageCount * pm.PageDataSize();
  }
  const std::vector<std::uint8_t> golden = test::ReadAll(path);
  // Head at data offset 0: stored size at 1, decompressed size at 5,
  // algorithm at 9; the chain is one page.
  const struct {
    const char* what;
    std::int32_t stored;  // -1: as written
    std::int32_t decompressed;
    std::int32_t algorithm;  // -1: as written
  } rows[] = {
      {"decompressed size of almost 2 GiB", -1, 0x7FFF0000, -1},
      {"stored size beyond the file", 1000000, 1000000 * 1000, -1},
      {"stored size beyond the chain, inside the file", room - 100, (room - 100) * 1000, -1},
      {"an algorithm metadata is never written with", -1, 5000000, acaBZIP},
  };
  ASSERT_GT(room, 1000);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    test::WriteAll(path, golden);
    {
      TVEZDiskPageManager pm;
      test::Open(pm, path, false, false);
      const auto at = [&](int offset) {
        return static_cast<std::uint16_t>(pm.PageHeaderSize() + offset);
      };
      std::uint8_t value[4];
      if (row.stored >= 0) {
        PutLE<std::int32_t>(value, row.stored);
        pm.WritePageRegion(value, metadata_page, at(1), 4);
      }
      PutLE<std::int32_t>(value, row.decompressed);
      pm.WritePageRegion(value, metadata_page, at(5), 4);
      if (row.algorithm >= 0) {
        value[0] = static_cast<std::uint8_t>(row.algorithm);
        pm.WritePageRegion(value, metadata_page, at(9), 1);
      }
    }
    TDiskTableEnv env(path, false, false);
    test::AllocationCap cap;
    TTestLocalCursor& c = env.NewCursor("Data");
    try {
      c.Open(env.Table("Data"));
      ADD_FAILURE() << "opened a table with damaged metadata";
    } catch (const EVEZException& e) {
      EXPECT_FALSE(test::IsMemoryError(e)) << e.what();
      EXPECT_EQ(e.NativeError(), 30388);
    }
    EXPECT_FALSE(env.Table("Data").IsOpen());
  }
}

TEST_F(DiskTableDataTest, FailedCommitOfAnInsertIsCancelledAndTheStateReloaded) {
  FaultFileSystem fs;
  platform::ScopedFileSystem scope(fs);
  Model model;
  {
    TDiskTableEnv env(path, true, false);
    env.CreateDataTable();
    TTestLocalCursor& c = env.Open();
    for (int n = 0; n < 10; ++n) {
      TDataRow row = MakeDataRow(1, n);
      row.id = TDiskTableEnv::Append(c, row);
      model[row.id] = row;
    }
    TVEZTableData& table = *c.table_data;
    const std::int32_t state = table.RecordManager()->TableState;
    fs.plan.fail_at = fs.plan.mutations;  // the next commit's first write
    EXPECT_ANY_THROW(TDiskTableEnv::Append(c, MakeDataRow(1, 10)));
    fs.plan.fail_at = -1;
    EXPECT_EQ(table.RecordManager()->RecordCount, 10) << "the count is the committed one";
    EXPECT_EQ(table.RecordManager()->TableState, state);
    ExpectTableIs(c, model);
    TDataRow row = MakeDataRow(2, 11);
    row.id = TDiskTableEnv::Append(c, row);
    EXPECT_EQ(row.id, 11);
    model[row.id] = row;
    ExpectTableIs(c, model);
  }
  TDiskTableEnv env(path, false, false);
  ExpectTableIs(env.Open(), model);
}

// Every write of an index addition fails once in turn: a failed addition
// leaves no index in the table's managers and the table as it was; the same
// index can then be added and is stored.
TEST_F(DiskTableDataTest, FailedIndexAdditionLeavesNoIndexBehind) {
  FaultFileSystem fs;
  platform::ScopedFileSystem scope(fs);
  constexpr const char* kName = "IX_Power";
  const auto expect_power_order = [](TTestLocalCursor& c, const Model& model) {
    std::vector<TDataRow> rows = TDiskTableEnv::ReadAll(c, TDiskTableEnv::IndexID(c, kName));
    ASSERT_EQ(rows.size(), model.size());
    for (std::size_t i = 1; i < rows.size(); ++i)
      EXPECT_LT(rows[i - 1].power, rows[i].power) << "at " << i;
  };
  bool succeeded = false;
  for (int k = 0; !succeeded && k < 200; ++k) {
    SCOPED_TRACE(testing::Message() << "failing write " << k);
    const std::string file = dir.Path("index" + std::to_string(k) + ".vez");
    Model model;
    {
      TDiskTableEnv env(file, true, false);
      env.CreateDataTable();
      TTestLocalCursor& c = env.Open();
      for (int n = 0; n < 300; ++n) {
        TDataRow row = MakeDataRow(1 + n % 2, n);
        row.power = (n * 37) % 300;
        row.id = TDiskTableEnv::Append(c, row);
        ASSERT_GT(row.id, 0);
        model[row.id] = row;
      }
      TVEZIndexDefs defs;
      TVEZIndexDef& def = *test::AddIndexDef(defs, kName, {"Power"}, true);
      fs.plan.fail_at = fs.plan.mutations + k;
      try {
        c.AddIndex(def);
        succeeded = true;
      } catch (const std::exception&) {
      }
      fs.plan.fail_at = -1;
      TVEZTableData& table = *c.table_data;
      if (!succeeded) {
        EXPECT_EQ(table.IndexManager()->IndexDefs().GetIndexDefByName(kName), nullptr);
        EXPECT_EQ(table.IndexManager()->IndexDefs().GetCount(), 1);
        EXPECT_EQ(table.ConstraintManager()->ConstraintDefs().GetCount(), 0)
            << "the unique index's constraint went with it";
        ExpectTableIs(c, model);
        TVEZIndexDefs again;
        c.AddIndex(*test::AddIndexDef(again, kName, {"Power"}, true));
      }
      TDataRow row = MakeDataRow(3, 1000);
      row.power = 1000;
      row.id = TDiskTableEnv::Append(c, row);
      ASSERT_GT(row.id, 0);
      model[row.id] = row;
      ExpectTableIs(c, model);
      expect_power_order(c, model);
    }
    TDiskTableEnv env(file, false, false);
    TTestLocalCursor& c = env.Open();
    ExpectTableIs(c, model);
    expect_power_order(c, model);
  }
  EXPECT_TRUE(succeeded) << "the addition never got through without a fault";
}

// Every file change of a catalogue change (create, rename, delete of a table,
// an index added) fails once in turn, journaled or not: the change either stands or leaves
// the file as it was, every listed table opens, and the rows stored before
// are all there.
TEST_F(DiskTableDataTest, FailedCatalogueChangeLeavesEveryListedTableReadable) {
  enum class Op { kCreate, kAddIndex, kRename, kDelete };
  const struct {
    Op op;
    const char* name;
  } ops[] = {{Op::kCreate, "create"},
             {Op::kAddIndex, "add index"},
             {Op::kRename, "rename"},
             {Op::kDelete, "delete"}};
  constexpr int kRows = 20;
  // Normal journals as full does, without the syncs.
  for (const TVEZDurability durability : {TVEZDurability::Off, TVEZDurability::Normal}) {
    for (const auto& row : ops) {
      SCOPED_TRACE(testing::Message()
                   << row.name << " durability " << static_cast<int>(durability));
      bool succeeded = false;
      int failed = 0;
      for (int k = 0; !succeeded && k < 200; ++k) {
        SCOPED_TRACE(testing::Message() << "failing change " << k);
        const std::string file = dir.Path(std::string(row.name) + std::to_string(k) + ".vez");
        {
          FaultFileSystem fs;
          platform::ScopedFileSystem scope(fs);
          TDiskTableEnv env(file, true, false, durability);
          env.CreateDataTable();
          TTestLocalCursor& c = env.Open();
          for (int n = 0; n < kRows; ++n)
            ASSERT_GT(TDiskTableEnv::Append(c, MakeDataRow(1, n)), 0);
          env.DropCursor(c);
          fs.plan.fail_at = fs.plan.mutations + k;
          try {
            switch (row.op) {
              case Op::kCreate:
                env.CreateDataTable("Other");
                break;
              case Op::kAddIndex: {
                TVEZIndexDefs defs;
                env.Open().AddIndex(*test::AddIndexDef(defs, "IX_Power", {"Power"}, false));
                break;
              }
              case Op::kRename:
                env.Table("Data").RenameTable("Readings", &env.NewCursor("Data"));
                break;
              case Op::kDelete:
                env.Table("Data").DeleteTable(&env.NewCursor("Data"), false);
                break;
            }
            succeeded = fs.plan.mutations <= fs.plan.fail_at;
            if (!succeeded) ++failed;
          } catch (const EVEZException& e) {
            ++failed;
            EXPECT_NE(std::string(e.what()).find("injected failure"), std::string::npos)
                << e.what();
          }
          fs.plan.fail_at = -1;
        }
        TDiskTableEnv env(file, false, false, durability);
        const std::vector<std::string> tables = Tables(env.Db());
        for (const std::string& name : tables) {
          SCOPED_TRACE(name);
          std::size_t rows = 0;
          ASSERT_NO_THROW(rows = TDiskTableEnv::ReadAll(env.Open(name)).size());
          EXPECT_EQ(rows, name == "Other" ? 0u : static_cast<std::size_t>(kRows));
        }
        const auto listed = [&](const char* name) {
          return std::find(tables.begin(), tables.end(), name) != tables.end();
        };
        switch (row.op) {
          case Op::kCreate:
          case Op::kAddIndex:
            EXPECT_TRUE(listed("Data"));
            break;
          case Op::kRename:
            EXPECT_NE(listed("Data"), listed("Readings"));
            break;
          case Op::kDelete:
            break;
        }
      }
      EXPECT_TRUE(succeeded) << "the change never got through without a fault";
      EXPECT_GT(failed, 0);
    }
  }
}

TEST_F(DiskTableDataTest, UpdateOfADeletedRecordLeavesNoIndexEntries) {
  TDiskTableEnv env(path, true, false);
  env.CreateDataTable();
  TTestLocalCursor& c = env.Open();
  Model model;
  for (int n = 0; n < 5; ++n) {
    TDataRow row = MakeDataRow(1, n);
    row.id = TDiskTableEnv::Append(c, row);
    model[row.id] = row;
  }
  ASSERT_TRUE(GoTo(c, 3));
  c.BeginEdit();
  const TVEZPageItemID id = c.CurrentRecordID;
  TTestLocalCursor& other = env.Open();
  ASSERT_TRUE(GoTo(other, 3));
  other.InternalDelete();
  ASSERT_EQ(other.ErrorCode, cecOK);
  model.erase(3);
  // The record is gone; the edit posts a new key for it.
  c.CurrentRecordID = id;
  TDataRow row = model.begin()->second;
  row.id = 3;
  row.measurement = 7;
  test::FillDataRecord(c, row);
  bool stored = true;
  try {
    TVEZLockGuard guard(*c.table_data);
    stored = c.table_data->UpdateRecord(c);
  } catch (const EVEZException&) {
    stored = false;
  }
  EXPECT_FALSE(stored);
  ExpectTableIs(c, model);
}

TEST_F(DiskTableDataTest, DeleteOfADeletedRecordIsRefusedAndChangesNothing) {
  Model model;
  {
    TDiskTableEnv env(path, true, false);
    env.CreateDataTable();
    TTestLocalCursor& c = env.Open();
    for (int n = 0; n < 5; ++n) {
      TDataRow row = MakeDataRow(1, n);
      row.id = TDiskTableEnv::Append(c, row);
      model[row.id] = row;
    }
    ASSERT_TRUE(GoTo(c, 2));
    TTestLocalCursor& other = env.Open();
    ASSERT_TRUE(GoTo(other, 2));
    other.InternalDelete();
    ASSERT_EQ(other.ErrorCode, cecOK);
    model.erase(2);
    const std::int32_t state = c.table_data->RecordManager()->TableState;
    bool deleted = true;
    try {
      c.InternalDelete();
      deleted = c.ErrorCode == cecOK;
    } catch (const EVEZException&) {
      deleted = false;
    }
    EXPECT_FALSE(deleted);
    EXPECT_EQ(c.table_data->RecordManager()->TableState, state);
    ExpectTableIs(c, model);
    // Nothing of the refused delete reaches the file with the next change.
    TDataRow row = MakeDataRow(2, 9);
    row.id = TDiskTableEnv::Append(c, row);
    model[row.id] = row;
  }
  TDiskTableEnv env(path, false, false);
  ExpectTableIs(env.Open(), model);
}

}  // namespace
}  // namespace vez

namespace vez {
namespace {

// Multi-user, a post reloads the table's counters unless the file's change
// mark shows no commit since this session's last load and the counters are
// still as loaded: an autoincrement handed out to a post that then failed
// (before the table data stored anything) is given again, as a reload would.
TEST(DiskTableDataMultiUserTest, AnAutoincrementOfAFailedPostIsGivenAgain) {
  ScratchDir dir;
  const std::string path = dir.Path("refused.vez");
  TDiskTableEnv env(path, true, true);
  ASSERT_TRUE(env.Db().MultiUser());
  env.CreateDataTable();
  TTestLocalCursor& c = env.Open();
  EXPECT_EQ(TDiskTableEnv::Append(c, MakeDataRow(1, 0)), 1);
  EXPECT_EQ(TDiskTableEnv::Append(c, MakeDataRow(1, 1)), 2);
  // What the cursor's post does first; here the post goes no further.
  c.NewRecord();
  c.table_data->FieldManager()->ApplyAutoincsToRecordBuffer(&env.Session(), c.CurrentRecordBuffer);
  EXPECT_EQ(TDiskTableEnv::Append(c, MakeDataRow(1, 2)), 3);
  EXPECT_EQ(TDiskTableEnv::ReadAll(c).size(), 3u);
}

}  // namespace
}  // namespace vez

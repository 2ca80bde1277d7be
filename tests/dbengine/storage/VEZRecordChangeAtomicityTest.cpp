// A record change that fails leaves nothing of itself. In every engine, an
// insert, an update and a delete (with BLOBs and two indexes, one of long
// keys so that pages split and merge) are made to fail at every step in
// turn: each page the change gets or adds (an injected engine error) and,
// on disk, each write, truncation and sync of the file and its journal.
// After every attempt the table must equal a model without the failed
// change, in storage order and in both index orders, with every index's
// B-tree integrity walk passing; inside a transaction the failed changes sit
// among changes that succeed, and the commit must write exactly the model
// (a disk database is opened again to see it).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/storage/VEZBTreePage.h"
#include "dbengine/storage/VEZBTreeRecordIndex.h"
#include "dbengine/storage/VEZDiskDatabaseData.h"
#include "dbengine/storage/VEZDiskTableData.h"
#include "dbengine/storage/VEZKeyPath.h"
#include "dbengine/storage/VEZMemoryTableData.h"
#include "dbengine/storage/VEZTemporaryTableData.h"
#include "platform/core/Exceptions.h"
#include "tests/common/VEZTestLocalCursor.h"
#include "tests/dbengine/storage/DiskTableTestSupport.h"
#include "tests/dbengine/storage/DiskTestSupport.h"
#include "tests/dbengine/storage/MemoryTableTestSupport.h"

namespace vez {
namespace {

using test::TTestLocalCursor;

constexpr std::int32_t kID = 0, kA = 1, kName = 2, kData = 3;
constexpr std::int32_t kInjectedError = 99;

enum class TEngine { kMemory, kTemporary, kDisk };
enum class TOp { kInsert, kUpdate, kDelete };
enum class TFault { kPageAccess, kFileChange };

struct TCase {
  TEngine engine;
  TOp op;
  bool in_transaction;
  TFault fault;
};

std::string NameOf(const TCase& c) {
  static const char* engines[] = {"Memory", "Temporary", "Disk"};
  static const char* ops[] = {"Insert", "Update", "Delete"};
  return std::string(engines[static_cast<int>(c.engine)]) + ops[static_cast<int>(c.op)] +
         (c.in_transaction ? "InTransaction" : "Alone") +
         (c.fault == TFault::kPageAccess ? "FailingEachPageAccess" : "FailingEachFileChange");
}

void PrintTo(const TCase& c, std::ostream* os) {
  *os << NameOf(c);
}

struct TRow {
  std::int32_t id = 0;
  std::int32_t a = 0;
  std::string name;
  std::optional<std::string> blob;
  bool operator==(const TRow&) const = default;
};

// A table T (ID Integer, A Integer, NAME String(200), DATA Blob; indexes
// BY_A (A, ID) and BY_NAME (NAME, ID)) of one engine, with one cursor.
class TTable {
 public:
  // A disk table is made in a new file at path, or opened there again.
  TTable(TEngine engine, const std::string& path, bool create = true)
      : engine_(engine), path_(path) {
    if (engine == TEngine::kDisk && !create) {
      disk_ = std::make_unique<test::TDiskTableEnv>(path, false, true, TVEZDurability::Normal);
      cursor_ = &disk_->Open("T");
      return;
    }
    if (engine == TEngine::kDisk) {
      disk_ = std::make_unique<test::TDiskTableEnv>(path, true, true, TVEZDurability::Normal);
      TTestLocalCursor& c = disk_->NewCursor("T");
      TVEZFieldDefs fields;
      TVEZIndexDefs indexes;
      TVEZConstraintDefs constraints;
      Defs(fields, indexes);
      disk_->Table("T").CreateTable(&c, fields, indexes, constraints);
      disk_->DropCursor(c);
      cursor_ = &disk_->Open("T");
      return;
    }
    scoped_ = std::make_unique<test::TScopedSessionLayerServices>(&services_);
    if (engine == TEngine::kMemory)
      db_ = std::make_unique<TVEZMemoryDatabaseData>();
    else
      db_ = std::make_unique<TVEZTemporaryDatabaseData>();
    db_->ConnectSession(session_);
    own_cursor_ = std::make_unique<TTestLocalCursor>();
    own_cursor_->Session = &session_;
    own_cursor_->TableName = "T";
    own_cursor_->FDisableTempFiles = true;
    TVEZTableData* table = db_->FindOrCreateTableData(*own_cursor_);
    TVEZFieldDefs fields;
    TVEZIndexDefs indexes;
    TVEZConstraintDefs constraints;
    Defs(fields, indexes);
    table->CreateTable(own_cursor_.get(), fields, indexes, constraints);
    own_cursor_->Open(*table);
    own_cursor_->NewRecord();
    cursor_ = own_cursor_.get();
  }
  ~TTable() {
    if (own_cursor_ != nullptr) {
      own_cursor_.reset();
      db_->DisconnectSession(session_);
    }
  }

  static void Defs(TVEZFieldDefs& fields, TVEZIndexDefs& indexes) {
    test::AddField(fields, "ID", aftInteger);
    test::AddField(fields, "A", aftInteger);
    test::AddField(fields, "NAME", aftString, 200);
    test::AddField(fields, "DATA", aftBlob)->BLOBBlockSize = 64;
    test::AddIndexDef(indexes, "BY_A", {"A", "ID"});
    test::AddIndexDef(indexes, "BY_NAME", {"NAME", "ID"});
  }

  TTestLocalCursor& Cursor() { return *cursor_; }
  TVEZTableData& Table() { return *cursor_->table_data; }
  TVEZBaseSession& Session() {
    return disk_ != nullptr ? static_cast<TVEZBaseSession&>(disk_->Session()) : session_;
  }
  TVEZDatabaseData& Database() {
    return disk_ != nullptr ? static_cast<TVEZDatabaseData&>(disk_->Db()) : *db_;
  }
  bool AppendOnly() const { return engine_ == TEngine::kTemporary; }

  void StartTransaction() { Session().StartTransaction(); }
  void Commit() {
    Database().Commit(Session().SessionID, false);
    Session().InTransaction = false;
  }

  void Fill(const TRow& r) {
    TTestLocalCursor& c = Cursor();
    TVEZVariant id(bftSignedInt32);
    id.SetAsInteger(r.id);
    c.SetFieldValue(id, kID, true);
    TVEZVariant a(bftSignedInt32);
    a.SetAsInteger(r.a);
    c.SetFieldValue(a, kA, true);
    TVEZVariant name(bftVarchar);
    name.SetAsAnsiString(r.name);
    c.SetFieldValue(name, kName, true);
    c.ClearStringFieldsGarbage(c.CurrentRecordBuffer);
  }
  void WriteBlob(const std::optional<std::string>& value) {
    TTestLocalCursor& c = Cursor();
    std::unique_ptr<TVEZStream> stream;
    {
      TVEZLockGuard guard(Table());
      stream = Table().InternalCreateBlobStream(c, true, kData, bomWrite);
    }
    if (value && !value->empty())
      stream->Write(value->data(), static_cast<std::int32_t>(value->size()));
    stream->SetModified(true);
    TVEZLockGuard guard(Table());
    Table().WriteBLOBFieldToRecordBuffer(c, kData, *stream);
  }
  std::optional<std::string> ReadBlob() {
    TTestLocalCursor& c = Cursor();
    if (GetBufferBit(kData, c.CurrentRecordBuffer)) return std::nullopt;
    TVEZLockGuard guard(Table());
    auto stream = Table().InternalCreateBlobStream(c, false, kData, bomRead);
    std::string s(static_cast<std::size_t>(stream->Size()), '\0');
    if (!s.empty()) stream->Read(s.data(), static_cast<std::int32_t>(s.size()));
    return s;
  }
  TRow Current() {
    TTestLocalCursor& c = Cursor();
    TRow r;
    TVEZVariant v;
    c.GetFieldValue(v, kID, true);
    r.id = v.GetAsInteger();
    c.GetFieldValue(v, kA, true);
    r.a = v.GetAsInteger();
    c.GetFieldValue(v, kName, true);
    r.name = v.GetAsAnsiString();
    r.blob = ReadBlob();
    return r;
  }
  // Drops what the buffer holds beside its bytes, as a cancel would.
  void ForgetBuffer() {
    TVEZLockGuard guard(Table());
    Table().ClearBlobsCacheInRecordBuffer(Cursor().CurrentRecordBuffer);
  }
  void GoTo(TVEZPageItemID id) {
    ForgetBuffer();
    TTestLocalCursor& c = Cursor();
    c.IndexID = -1;
    c.CurrentRecordID = id;
    c.FirstPosition = c.LastPosition = false;
    if (c.GetRecordBuffer(grmCurrent) != grrOK) throw std::runtime_error("row not found");
  }

  // The change, as the session layer makes it; true when it was stored.
  bool Insert(const TRow& r, TVEZPageItemID& id) {
    ForgetBuffer();
    Cursor().NewRecord();
    Fill(r);
    WriteBlob(r.blob);
    Cursor().InternalPost(true);
    if (Cursor().ErrorCode != cecOK) return false;
    id = Cursor().CurrentRecordID;
    return true;
  }
  bool Update(TVEZPageItemID id, const TRow& r) {
    GoTo(id);
    Cursor().BeginEdit();
    if (Cursor().ErrorCode != cecOK) return false;
    Fill(r);
    WriteBlob(r.blob);
    Cursor().InternalPost(false);
    if (Cursor().ErrorCode == cecOK) return true;
    Cursor().InternalCancel(false);
    return false;
  }
  bool Delete(TVEZPageItemID id) {
    GoTo(id);
    Cursor().InternalDelete();
    return Cursor().ErrorCode == cecOK;
  }

  // Every row in the order of index_id (-1: storage order), with its id.
  std::vector<std::pair<TRow, TVEZPageItemID>> Walk(std::int32_t index_id) {
    TTestLocalCursor& c = Cursor();
    c.IndexID = index_id;
    c.FirstPosition = true;
    c.LastPosition = false;
    std::vector<std::pair<TRow, TVEZPageItemID>> rows;
    for (;;) {
      ForgetBuffer();
      const TVEZGetRecordResult r = c.GetRecordBuffer(grmNext);
      if (r == grrEOF) break;
      if (r != grrOK) throw std::runtime_error("walk answered " + std::to_string(r));
      rows.emplace_back(Current(), c.CurrentRecordID);
    }
    c.IndexID = -1;
    return rows;
  }
  // The B-tree integrity walks of every index, and on disk of the record and
  // BLOB page indexes.
  void CheckIntegrity() {
    TVEZTableData& table = Table();
    TVEZLockGuard guard(table);
    const std::int32_t session = TVEZTableData::SessionIDOf(&Cursor());
    const TVEZIndexDefs& defs = table.IndexManager()->IndexDefs();
    for (std::int32_t i = 0; i < defs.GetCount(); ++i) {
      auto& index = static_cast<TVEZBTreeRecordIndex&>(
          *table.IndexManager()->OpenIndex(defs.GetDef(i)->ObjectID));
      TVEZKeyPath path;
      TVEZBTreePage::GetIndexPage(table.IndexManager()->GetPageManager(index), &index.KeyRef(),
                                  session, defs.GetDef(i)->RootPageNo)
          ->CheckIntegrity(session, path);
    }
    if (auto* disk = dynamic_cast<TVEZDiskTableData*>(&table)) {
      disk->DiskRecordManager()->RecordPageIndex().CheckIntegrity(session);
      disk->BlobManager()->BlobPageIndex().CheckIntegrity(session);
      disk->DiskRecordManager()->ValidateRecordPageIndex(session);
    }
  }
  std::int32_t IndexID(std::int32_t no) {
    return Table().IndexManager()->IndexDefs().GetDef(no)->ObjectID;
  }
  // A temporary index of the cursor's session on (A, NAME); its id.
  std::int32_t AddTemporaryIndex() {
    bool created = false;
    const std::string name = Cursor().FindOrCreateIndex({"A", "NAME"}, {"", ""}, {"", ""}, created);
    return Table().IndexManager()->IndexDefs().GetIndexDefByName(name)->ObjectID;
  }

  // Page managers whose accesses the fault counts.
  std::vector<TVEZPageManager*> PageManagers() {
    std::vector<TVEZPageManager*> managers{Table().PageManager()};
    TVEZPageManager* temporary = Table().IndexManager()->TemporaryPageManager();
    if (temporary != nullptr && temporary != managers[0]) managers.push_back(temporary);
    return managers;
  }

 private:
  TEngine engine_;
  std::string path_;
  std::unique_ptr<test::TDiskTableEnv> disk_;
  test::TMemoryTestServices services_;
  std::unique_ptr<test::TScopedSessionLayerServices> scoped_;
  std::unique_ptr<TVEZDatabaseData> db_;
  test::TestSession session_;
  std::unique_ptr<TTestLocalCursor> own_cursor_;
  TTestLocalCursor* cursor_ = nullptr;
};

// The table as the model says: rows by ID and where each is stored.
struct TModel {
  std::map<std::int32_t, TRow> rows;
  std::map<std::int32_t, TVEZPageItemID> ids;
};

void ExpectTableIs(TTable& t, const TModel& model, std::int32_t temporary_index = -1) {
  const auto stored = t.Walk(-1);
  std::map<std::int32_t, TRow> rows;
  for (const auto& [row, id] : stored) {
    ASSERT_TRUE(rows.emplace(row.id, row).second) << "row " << row.id << " stored twice";
    ASSERT_TRUE(model.ids.count(row.id)) << "row " << row.id << " is not the model's";
    ASSERT_TRUE(model.ids.at(row.id) == id) << "row " << row.id << " moved";
  }
  ASSERT_EQ(rows, model.rows);
  ASSERT_EQ(t.Table().RecordManager()->RecordCount, static_cast<std::int64_t>(model.rows.size()));
  // Each index lists exactly the rows, in key order.
  for (std::int32_t no : {0, 1}) {
    SCOPED_TRACE(no == 0 ? "BY_A" : "BY_NAME");
    const auto listed = t.Walk(t.IndexID(no));
    std::vector<std::int32_t> got, want;
    for (const auto& [row, id] : listed)
      got.push_back(row.id);
    for (const auto& [id, row] : model.rows)
      want.push_back(id);
    std::sort(want.begin(), want.end(), [&](std::int32_t x, std::int32_t y) {
      const TRow& rx = model.rows.at(x);
      const TRow& ry = model.rows.at(y);
      return no == 0 ? std::tie(rx.a, rx.id) < std::tie(ry.a, ry.id)
                     : std::tie(rx.name, rx.id) < std::tie(ry.name, ry.id);
    });
    ASSERT_EQ(got, want);
  }
  if (temporary_index != -1) {
    // A temporary index of the session follows the table too.
    SCOPED_TRACE("temporary index");
    std::vector<std::pair<std::int32_t, std::string>> got, want;
    for (const auto& [row, id] : t.Walk(temporary_index))
      got.emplace_back(row.a, row.name);
    for (const auto& [id, row] : model.rows)
      want.emplace_back(row.a, row.name);
    std::sort(want.begin(), want.end());
    ASSERT_EQ(got, want);
  }
  ASSERT_NO_THROW(t.CheckIntegrity());
}

TRow RandomRow(std::mt19937& rng, std::int32_t id) {
  TRow r;
  r.id = id;
  r.a = static_cast<std::int32_t>(rng() % 30);
  // Long names: few entries fit an index page, so changes split pages.
  r.name = std::string(120 + rng() % 70, static_cast<char>('a' + rng() % 5)) + std::to_string(id);
  const int kind = static_cast<int>(rng() % 3);
  if (kind == 1) r.blob = std::string(1 + rng() % 60, static_cast<char>('0' + rng() % 10));
  if (kind == 2) {
    r.blob = std::string();
    // Some share a BLOB page, some fill pages of their own.
    for (std::size_t i = 0, n = 300 + rng() % 6000; i < n; ++i)
      r.blob->push_back(static_cast<char>(rng()));
  }
  return r;
}

// Arms a failure at the fail_at-th event from now; Fired says whether one
// came.
class TFaultArm {
 public:
  TFaultArm(TTable& table, TFault fault, test::FaultFileSystem* fs) : fs_(fs), fault_(fault) {
    if (fault == TFault::kPageAccess) {
      for (TVEZPageManager* pm : table.PageManagers()) {
        pm->SetBeforePageAccess([this](std::int32_t) {
          if (armed_ && count_++ == fail_at_) {
            fired_ = true;
            throw EVEZException(kInjectedError, "Injected failure");
          }
        });
        managers_.push_back(pm);
      }
    }
  }
  ~TFaultArm() {
    for (TVEZPageManager* pm : managers_)
      pm->SetBeforePageAccess({});
  }
  void Arm(int fail_at) {
    fired_ = false;
    count_ = 0;
    fail_at_ = fail_at;
    armed_ = true;
    if (fault_ == TFault::kFileChange) {
      fs_->plan.mutations = 0;
      fs_->plan.fail_at = fail_at;
    }
  }
  // Stops failing; whether the armed failure came.
  bool Disarm() {
    armed_ = false;
    if (fault_ == TFault::kFileChange) {
      fired_ = fs_->plan.mutations > fs_->plan.fail_at;
      fs_->plan.fail_at = -1;
    }
    return fired_;
  }

 private:
  test::FaultFileSystem* fs_;
  TFault fault_;
  std::vector<TVEZPageManager*> managers_;
  bool armed_ = false;
  bool fired_ = false;
  int count_ = 0;
  int fail_at_ = -1;
};

class RecordChangeAtomicityTest : public ::testing::TestWithParam<TCase> {
 protected:
  test::ScratchDir dir_;
};

TEST_P(RecordChangeAtomicityTest, AFailedChangeLeavesNothingOfItself) {
  const TCase& param = GetParam();
  test::FaultFileSystem fs;
  platform::ScopedFileSystem scope(fs);
  const std::string path = dir_.Path("t.vez");
  TModel model;
  std::mt19937 rng(static_cast<std::uint32_t>(static_cast<int>(param.op) * 31 +
                                              static_cast<int>(param.engine) * 7 + 5));
  std::int32_t next_id = 1;
  int changes_tried = 0, failures_seen = 0;
  {
    TTable t(param.engine, path);
    for (int i = 0; i < 120; ++i) {
      const TRow r = RandomRow(rng, next_id++);
      TVEZPageItemID id;
      ASSERT_TRUE(t.Insert(r, id));
      model.rows[r.id] = r;
      model.ids[r.id] = id;
    }
    // On disk a temporary index of the session lives in pages of its own.
    const std::int32_t temporary_index =
        param.engine == TEngine::kDisk ? t.AddTemporaryIndex() : -1;
    if (param.in_transaction) t.StartTransaction();
    TFaultArm arm(t, param.fault, &fs);
    // Several changes, each swept over every failure point; in a transaction
    // the changes that succeed stay beside the failed ones until the commit.
    for (int change = 0; change < 4; ++change) {
      SCOPED_TRACE("change " + std::to_string(change));
      const TRow row = RandomRow(rng, param.op == TOp::kInsert ? next_id++ : 0);
      auto target = std::next(model.rows.begin(), static_cast<long>(rng() % model.rows.size()));
      const std::int32_t target_id = target->first;
      for (int fail_at = 0;; ++fail_at) {
        SCOPED_TRACE("failure at " + std::to_string(fail_at));
        ASSERT_LT(fail_at, 2000) << "the change never got through";
        arm.Arm(fail_at);
        bool stored = false;
        TVEZPageItemID id;
        TRow changed = row;
        changed.id = target_id;
        try {
          switch (param.op) {
            case TOp::kInsert:
              stored = t.Insert(row, id);
              break;
            case TOp::kUpdate:
              stored = t.Update(model.ids.at(target_id), changed);
              break;
            case TOp::kDelete:
              stored = t.Delete(model.ids.at(target_id));
              break;
          }
        } catch (const platform::Exception&) {
          stored = false;
        }
        const bool fired = arm.Disarm();
        ++changes_tried;
        if (fired) ++failures_seen;
        if (stored) {
          switch (param.op) {
            case TOp::kInsert:
              model.rows[row.id] = row;
              model.ids[row.id] = id;
              break;
            case TOp::kUpdate:
              model.rows[target_id] = changed;
              break;
            case TOp::kDelete:
              model.rows.erase(target_id);
              model.ids.erase(target_id);
              break;
          }
        }
        ExpectTableIs(t, model, temporary_index);
        if (HasFatalFailure()) return;
        if (!fired) {
          // Nothing failed: the change must have gone through (an append-only
          // table refuses updates and deletes whatever happens).
          ASSERT_EQ(stored, !t.AppendOnly() || param.op == TOp::kInsert);
          break;
        }
      }
    }
    if (param.in_transaction) {
      t.Commit();
      ExpectTableIs(t, model);
      if (HasFatalFailure()) return;
    }
  }
  // In a transaction only page allocations reach the file before the commit
  // (a delete makes none).
  if (param.fault == TFault::kPageAccess || !param.in_transaction) {
    EXPECT_GE(failures_seen, 2 * 4) << "the sweep hit too few steps of the changes";
  }
  std::cout << "[" << NameOf(param) << "] " << changes_tried << " attempts, " << failures_seen
            << " failed\n";
  if (param.engine == TEngine::kDisk) {
    // What reached the file: the model, every index sound.
    TTable again(TEngine::kDisk, path, false);
    ExpectTableIs(again, model);
  }
}

std::vector<TCase> Cases() {
  std::vector<TCase> cases;
  for (TEngine engine : {TEngine::kMemory, TEngine::kTemporary, TEngine::kDisk})
    for (TOp op : {TOp::kInsert, TOp::kUpdate, TOp::kDelete})
      for (bool in_transaction : {false, true})
        for (TFault fault : {TFault::kPageAccess, TFault::kFileChange}) {
          if (engine == TEngine::kTemporary && op != TOp::kInsert) continue;
          if (engine != TEngine::kDisk && fault == TFault::kFileChange) continue;
          cases.push_back({engine, op, in_transaction, fault});
        }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryEngine, RecordChangeAtomicityTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<TCase>& info) {
                           return NameOf(info.param);
                         });

}  // namespace
}  // namespace vez

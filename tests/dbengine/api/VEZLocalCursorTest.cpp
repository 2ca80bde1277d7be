// The local cursor on one session: the engine error of record operations,
// the record buffer layout, records against a model on a memory table and a
// disk file, bookmarks after an insert, schema operations on an unbound
// cursor, record order, field copies between cursors, BLOB streams, and an
// index built over existing rows through the layer's registered services.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dbengine/api/VEZEngineError.h"
#include "dbengine/api/VEZLocalBLOBStream.h"
#include "dbengine/api/VEZLocalCursor.h"
#include "dbengine/api/VEZLocalSessionLayerServices.h"
#include "dbengine/api/VEZSessionList.h"
#include "dbengine/storage/VEZSessionLayerServices.h"
#include "tests/common/AllocationCap.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/api/LocalCursorTestSupport.h"

namespace vez {
namespace {

using test::CreateRunsTable;
using test::kRunNote;
using test::kRunPower;
using test::kRunTrial;
using test::MakeLocalSession;
using test::NativeErrorOf;
using test::TCursorUser;
using test::TRun;

// ---------------------------------------------------------------------------
// The engine error

TEST(EngineErrorTest, EveryCodeHasItsTextAndTheMessageFormat) {
  struct Row {
    std::int32_t code;
    const char* text;
  };
  const std::vector<Row> rows = {
      {-1, "Error adding record"},
      {-2, "Error updating record"},
      {-3, "Error deleting record"},
      {-4, "Error updating record - record was modified by other process"},
      {-5, "Error deleting record - record was modified by other process"},
      {-6, "Error updating record - record was deleted by other process"},
      {-7, "Error deleting record - record was deleted by other process"},
      {-8, "Field 'TrialID' must have a value"},
      {-9, "Cannot update record in temporary mode"},
      {-10, "Cannot delete record in temporary mode"},
      {-11, "Cannot cancel operation in temporary mode"},
      {-12, "Record is locked"},
      {-13, "Table is locked"},
      {-14, ""},
      {5, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    try {
      RaiseEngineError(row.code, "Field 'TrialID' must have a value");
      ADD_FAILURE() << "nothing raised";
    } catch (const platform::EDatabaseError& e) {
      const auto* engine = dynamic_cast<const EVEZEngineError*>(&e);
      ASSERT_NE(engine, nullptr);
      EXPECT_EQ(engine->ErrorCode(), row.code);
      EXPECT_EQ(engine->ErrorMessage(), row.text);
      EXPECT_EQ(std::string(e.what()),
                "VEZ Engine Error # " + std::to_string(row.code) + " " + row.text);
    }
  }
  EXPECT_NO_THROW(CheckEngineResult(0, "ignored"));
  EXPECT_THROW(CheckEngineResult(-13, ""), EVEZEngineError);
}

// ---------------------------------------------------------------------------
// Fixtures: a memory table and a disk file

enum class Engine { kMemory, kDisk };

std::string EngineName(const ::testing::TestParamInfo<Engine>& info) {
  return info.param == Engine::kMemory ? "Memory" : "Disk";
}

class LocalCursorTest : public test::SessionLayerTest {
 protected:
  void SetUp() override {
    SessionLayerTest::SetUp();
    // The layer registers its services when it starts.
    InitializeSessionLayer();
  }
  void TearDown() override {
    for (const std::string& name : memory_tables_) {
      try {
        TVEZLocalCursor c;
        c.Session = memory_.get();
        c.TableName = name;
        if (memory_->TableExists(name)) c.DeleteTable();
      } catch (...) {
      }
    }
    if (memory_) memory_->DisconnectQuietly();
    if (disk_) disk_->DisconnectQuietly();
    SessionLayerTest::TearDown();
  }

  TVEZLocalSession& Memory() {
    if (!memory_) {
      memory_ = MakeLocalSession("MEMORY", "");
      memory_->SetConnected(true);
    }
    return *memory_;
  }
  TVEZLocalSession& Disk() {
    if (!disk_) {
      const std::string file = Path("cursor.vez");
      test::CreateDatabaseFile(file);
      disk_ = MakeLocalSession("Log", file);
      disk_->SetConnected(true);
    }
    return *disk_;
  }
  TVEZLocalSession& SessionOf(Engine engine) {
    return engine == Engine::kMemory ? Memory() : Disk();
  }
  // A Runs table (of that name) in the session's database.
  void CreateTable(TVEZLocalSession& session, const std::string& name = "Runs") {
    if (&session == memory_.get()) memory_tables_.push_back(name);
    CreateRunsTable(session, name);
  }
  std::unique_ptr<TCursorUser> OpenUser(TVEZLocalSession& session,
                                        const std::string& name = "Runs") {
    auto user = std::make_unique<TCursorUser>(session, name);
    user->Open();
    return user;
  }

  std::unique_ptr<TVEZLocalSession> memory_;
  std::unique_ptr<TVEZLocalSession> disk_;
  std::vector<std::string> memory_tables_;
};

class LocalCursorEngineTest : public LocalCursorTest,
                              public ::testing::WithParamInterface<Engine> {};

TEST_F(LocalCursorTest, TheLayerRegistersItsCursorAndBlobStream) {
  EXPECT_EQ(SessionLayerServices(), &LocalSessionLayerServices());
  std::unique_ptr<TVEZCursor> cursor = SessionLayerServices()->CreateLocalCursor();
  EXPECT_NE(dynamic_cast<TVEZLocalCursor*>(cursor.get()), nullptr);
  EXPECT_EQ(cursor->IndexID, -1);
  EXPECT_FALSE(cursor->IsOpen);
}

TEST_P(LocalCursorEngineTest, RecordBufferLayoutFollowsTheFieldsAndEndsWithTheBookmark) {
  TVEZLocalSession& session = SessionOf(GetParam());
  CreateTable(session);
  auto user = OpenUser(session);
  TVEZLocalCursor& c = user->c;
  const TVEZFieldDefs& defs = c.FieldDefs();
  ASSERT_EQ(defs.GetCount(), 5);
  const TVEZFieldDef& last = *defs.GetDef(4);
  EXPECT_EQ(c.FieldValuesOffset, defs.GetDef(0)->MemoryOffset);
  EXPECT_EQ(c.FieldValuesOffset, 1);  // one byte of null flags for five fields
  EXPECT_EQ(c.BookmarkOffset, last.MemoryOffset + last.MemoryDataSize);
  EXPECT_EQ(c.BookmarkOffset, defs.GetMemoryRecordBufferSize());
  EXPECT_EQ(c.KeyOffset, c.BookmarkOffset);
  EXPECT_EQ(c.KeyBufferSize, c.BookmarkOffset + 6);
  EXPECT_EQ(c.RecordSize, c.BookmarkOffset + 7);
  EXPECT_EQ(c.RecordBufferSize, c.RecordSize);
  EXPECT_EQ(c.CalculatedFieldsOffset, c.RecordSize);
  for (std::int32_t i = 0; i < c.VisibleFieldDefs().GetCount(); ++i)
    EXPECT_EQ(c.VisibleFieldDefs().GetDef(i)->FieldNoReference, i);
  EXPECT_EQ(c.ConstraintDefs().GetCount(), 1);
  EXPECT_EQ(c.IndexDefs().GetCount(), 1);
  EXPECT_TRUE(c.IsOpen);
  EXPECT_TRUE(c.FirstPosition);
}

// A random walk of inserts, edits, posts, cancels and deletes against a map.
TEST_P(LocalCursorEngineTest, RecordOperationsFollowAModel) {
  TVEZLocalSession& session = SessionOf(GetParam());
  CreateTable(session);
  auto user = OpenUser(session);
  std::map<std::int64_t, TRun> model;
  std::mt19937 random(20240611u);
  std::int64_t next_id = 1;
  for (int step = 0; step < 400; ++step) {
    SCOPED_TRACE(step);
    const int what = model.empty() ? 0 : static_cast<int>(random() % 10);
    if (what < 4) {
      TRun r{0, static_cast<std::int32_t>(random() % 50), "run" + std::to_string(step),
             100.0 + step};
      ASSERT_EQ(user->Insert(r), cecOK);
      r.id = next_id++;
      EXPECT_EQ(user->Get(), r);
      // The new record's id and the inserted-record flag are in the bookmark.
      EXPECT_EQ(user->BookmarkID(), user->c.CurrentRecordID);
      EXPECT_EQ(user->BookmarkFlag(), 3);
      model[r.id] = r;
      continue;
    }
    auto it = model.begin();
    std::advance(it, static_cast<long>(random() % model.size()));
    ASSERT_TRUE(user->Seek(it->first));
    if (what < 8) {
      ASSERT_EQ(user->Edit(), cecOK);
      TRun changed = it->second;
      changed.trial = static_cast<std::int32_t>(random() % 50);
      changed.power += 0.5;
      changed.name = "edited" + std::to_string(step);
      user->Set(changed);
      if (what == 7) {
        ASSERT_EQ(user->Cancel(), cecOK);
      } else {
        ASSERT_EQ(user->Post(), cecOK);
        it->second = changed;
      }
    } else {
      ASSERT_EQ(user->Delete(), cecOK);
      model.erase(it);
    }
    if (step % 25 == 0) {
      std::vector<TRun> rows = user->All();
      std::sort(rows.begin(), rows.end(), [](const TRun& a, const TRun& b) { return a.id < b.id; });
      std::vector<TRun> expected;
      for (const auto& [id, r] : model)
        expected.push_back(r);
      ASSERT_EQ(rows, expected);
      EXPECT_EQ(user->c.GetRecordCount(), static_cast<std::int64_t>(model.size()));
    }
  }
  // In index order the rows come by TrialID.
  user->c.SetIndexName(test::kRunIndex);
  std::vector<TRun> by_trial = user->All();
  EXPECT_TRUE(std::is_sorted(by_trial.begin(), by_trial.end(),
                             [](const TRun& a, const TRun& b) { return a.trial < b.trial; }));
  EXPECT_EQ(by_trial.size(), model.size());
}

TEST_P(LocalCursorEngineTest, AConstraintViolationIsMinus8AndACorrectedPostSucceeds) {
  TVEZLocalSession& session = SessionOf(GetParam());
  CreateTable(session);
  auto user = OpenUser(session);
  ASSERT_EQ(user->Insert({0, 1, "a", 1.0}), cecOK);
  const TVEZPageItemID stored = user->BookmarkID();
  // An insert refused by its constraint writes no bookmark and stores nothing.
  EXPECT_EQ(user->Insert({0, 0, "b", 2.0}, true), cecErrorMessage);
  EXPECT_NE(user->c.ErrorMessage.find("TrialID"), std::string::npos) << user->c.ErrorMessage;
  EXPECT_EQ(user->BookmarkFlag(), 3);
  EXPECT_NE(user->BookmarkID(), stored);
  EXPECT_EQ(user->c.GetRecordCount(), 1);
  // An edit that breaks it stays in edit: fixed, it posts.
  ASSERT_TRUE(user->Seek(1));
  ASSERT_EQ(user->Edit(), cecOK);
  SetBufferBit(true, kRunTrial, user->Buffer());
  EXPECT_EQ(user->Post(), cecErrorMessage);
  user->Set({1, 7, "a", 1.0});
  EXPECT_EQ(user->Post(), cecOK);
  EXPECT_EQ(user->All(), (std::vector<TRun>{{1, 7, "a", 1.0}}));
}

TEST_F(LocalCursorTest, AnInsertTheTableRefusesIsMinus1AndStillWritesTheBookmark) {
  CreateTable(Memory());
  auto user = OpenUser(Memory());
  user->c.CurrentRecordID = {41, 0};
  // No room for the memory table's first block of records: the record
  // manager refuses the record.
  {
    test::AllocationCap cap;
    MemoryManager().SetMaxMemorySize(MemoryManager().TotalMemAllocated() + 16);
    EXPECT_EQ(user->Insert({0, 1, "a", 1.0}), cecInsertFailed);
  }
  EXPECT_EQ(user->BookmarkID(), (TVEZPageItemID{41, 0}));
  EXPECT_EQ(user->BookmarkFlag(), 3);
  EXPECT_EQ(user->c.GetRecordCount(), 0);
  EXPECT_EQ(user->Insert({0, 1, "a", 1.0}), cecOK);
  EXPECT_EQ(user->All().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Engines, LocalCursorEngineTest,
                         ::testing::Values(Engine::kMemory, Engine::kDisk), EngineName);

// ---------------------------------------------------------------------------
// Schema operations on an unbound cursor

TEST_F(LocalCursorTest, SchemaOperationsCheckNamesAndLeaveTheCursorUnbound) {
  TVEZLocalSession& session = Disk();
  CreateTable(session, "Runs");
  CreateTable(session, "Other");
  {
    auto user = OpenUser(session);
    ASSERT_EQ(user->Insert({0, 1, "a", 1.0}), cecOK);
  }
  auto cursor_on = [&](const std::string& name) {
    auto c = std::make_unique<TVEZLocalCursor>();
    c->Session = &session;
    c->TableName = name;
    return c;
  };
  struct Row {
    const char* what;
    std::function<void()> call;
    std::int32_t error;
  };
  const std::vector<Row> rows = {
      {"delete missing", [&] { cursor_on("Nope")->DeleteTable(); }, 20132},
      {"empty missing", [&] { cursor_on("Nope")->EmptyTable(); }, 20133},
      {"rename missing", [&] { cursor_on("Nope")->RenameTable("X"); }, 20134},
      {"rename onto another", [&] { cursor_on("Runs")->RenameTable("OTHER"); }, 30451},
      {"rename into itself", [&] { cursor_on("Runs")->RenameTable("Runs"); }, 30452},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(NativeErrorOf(row.call), row.error);
  }
  // Nothing was lost on the way.
  EXPECT_EQ(OpenUser(session)->All().size(), 1u);

  // A change of letter case only is a rename.
  auto rename = cursor_on("Runs");
  rename->RenameTable("RUNS");
  EXPECT_EQ(rename->TableName, "RUNS");
  EXPECT_FALSE(rename->IsOpen);
  EXPECT_EQ(rename->TableData(), nullptr);
  std::vector<std::string> tables;
  session.GetTablesList(tables);
  EXPECT_NE(std::find(tables.begin(), tables.end(), "RUNS"), tables.end());

  // Emptying keeps the table; creating over it replaces it; deleting drops it.
  cursor_on("RUNS")->EmptyTable();
  EXPECT_TRUE(OpenUser(session, "RUNS")->All().empty());
  {
    auto user = OpenUser(session, "RUNS");
    ASSERT_EQ(user->Insert({0, 1, "a", 1.0}), cecOK);
  }
  CreateRunsTable(session, "RUNS");
  EXPECT_TRUE(OpenUser(session, "RUNS")->All().empty());
  cursor_on("RUNS")->DeleteTable();
  EXPECT_FALSE(session.TableExists("RUNS"));
  EXPECT_TRUE(session.TableExists("Other"));
}

TEST_F(LocalCursorTest, AMemoryTableThatDoesNotExistIsNotMadeByOpening) {
  TCursorUser user(Memory(), "Missing");
  EXPECT_EQ(NativeErrorOf([&] { user.Open(); }), 10028);
  EXPECT_FALSE(user.c.IsOpen);
}

// ---------------------------------------------------------------------------
// Record order, field copies

TEST_F(LocalCursorTest, CompareRecordsOrderUsesTheIndexThenThePhysicalOrder) {
  TVEZLocalSession& session = Disk();
  CreateTable(session);
  auto user = OpenUser(session);
  ASSERT_EQ(user->Insert({0, 9, "late", 1}), cecOK);
  const TVEZPageItemID nine = user->c.CurrentRecordID;
  ASSERT_EQ(user->Insert({0, 5, "early", 2}), cecOK);
  const TVEZPageItemID five = user->c.CurrentRecordID;
  ASSERT_EQ(user->Insert({0, 5, "same", 3}), cecOK);
  const TVEZPageItemID five_too = user->c.CurrentRecordID;
  ASSERT_EQ(user->Insert({0, 1, "gone", 4}), cecOK);
  const TVEZPageItemID gone = user->c.CurrentRecordID;
  ASSERT_EQ(user->Delete(), cecOK);
  // Storage order: page, then item.
  EXPECT_EQ(user->c.CompareRecordsOrder(nine, five), -1);
  EXPECT_EQ(user->c.CompareRecordsOrder(five, nine), 1);
  EXPECT_EQ(user->c.CompareRecordsOrder(five, five), 0);
  EXPECT_EQ(user->c.CompareRecordsOrder({nine.PageNo + 1, 0}, {nine.PageNo, 9}), 1);
  // In IX_Trial the 5s come first; equal keys fall back to storage order.
  user->c.SetIndexName(test::kRunIndex);
  ASSERT_NE(user->c.IndexID, -1);
  std::uint8_t* before = user->c.CurrentRecordBuffer;
  const TVEZPageItemID position = user->c.CurrentRecordID;
  EXPECT_EQ(user->c.CompareRecordsOrder(nine, five), 1);
  EXPECT_EQ(user->c.CompareRecordsOrder(five, nine), -1);
  EXPECT_EQ(user->c.CompareRecordsOrder(five, five_too), -1);
  // A record that cannot be read orders first as the first argument.
  EXPECT_EQ(user->c.CompareRecordsOrder(gone, five), -1);
  EXPECT_EQ(user->c.CompareRecordsOrder(five, gone), 1);
  EXPECT_EQ(user->c.CurrentRecordBuffer, before);
  EXPECT_EQ(user->c.CurrentRecordID, position);
}

// Writes bytes into the Note of the cursor's current record through a stream.
void WriteNote(TVEZLocalCursor& c, bool to_insert, const std::string& bytes) {
  TVEZStream* stream = c.InternalCreateBlobStream(to_insert, !to_insert, kRunNote, bomWrite, false);
  ASSERT_NE(stream, nullptr);
  stream->WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  c.InternalCloseBLOB(kRunNote);
}

std::string ReadNote(TVEZLocalCursor& c) {
  TVEZStream* stream = c.InternalCreateBlobStream(false, false, kRunNote, bomRead, true);
  if (stream == nullptr) return "<null>";
  std::string bytes(static_cast<std::size_t>(stream->Size()), '\0');
  if (!bytes.empty()) stream->ReadBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  c.InternalCloseBLOB(kRunNote);
  return bytes;
}

TEST_F(LocalCursorTest, CopyFieldValueCopiesConvertsNullsAndMovesBlobs) {
  TVEZLocalSession& session = Disk();
  CreateTable(session, "Runs");
  CreateTable(session, "Copy");
  auto src = OpenUser(session, "Runs");
  auto dest = OpenUser(session, "Copy");
  ASSERT_EQ(src->Insert({0, 42, "source", 7.25}), cecOK);
  ASSERT_TRUE(src->Seek(1));
  ASSERT_EQ(src->Edit(), cecOK);
  WriteNote(src->c, false, std::string(3000, 'n') + "end");
  ASSERT_EQ(src->Post(), cecOK);
  ASSERT_TRUE(src->Seek(1));

  dest->c.InternalInitRecord(dest->Buffer(), true);
  dest->c.CopyFieldValue(test::kRunName, false, test::kRunName, &dest->c);  // same type
  dest->c.CopyFieldValue(kRunTrial, true, kRunTrial, &dest->c);  // the destination's own NULL
  src->c.CopyFieldValue(kRunTrial, false, kRunTrial, &dest->c);  // same type and size
  src->c.CopyFieldValue(kRunTrial, true, kRunPower, &dest->c);   // Integer into Double
  src->c.CopyFieldValue(test::kRunName, false, test::kRunName, &dest->c);
  src->c.CopyFieldValue(kRunNote, false, kRunNote, &dest->c);  // a BLOB
  TRun got = dest->Get();
  EXPECT_EQ(got.trial, 42);
  EXPECT_EQ(got.power, 42.0);
  EXPECT_EQ(got.name, "source");
  // A NULL source makes the destination NULL.
  SetBufferBit(true, kRunPower, src->Buffer());
  src->c.CopyFieldValue(kRunPower, false, kRunPower, &dest->c);
  EXPECT_TRUE(GetBufferBit(kRunPower, dest->Buffer()));
  dest->c.InternalPost(true);
  ASSERT_EQ(dest->c.ErrorCode, cecOK);
  ASSERT_TRUE(dest->Seek(1));
  EXPECT_EQ(ReadNote(dest->c), std::string(3000, 'n') + "end");

  EXPECT_EQ(NativeErrorOf([&] { src->c.CopyFieldValue(5, false, 0, &dest->c); }), 10501);
  EXPECT_EQ(NativeErrorOf([&] { src->c.CopyFieldValue(0, false, 5, &dest->c); }), 10502);
}

// ---------------------------------------------------------------------------
// BLOB streams

TEST_P(LocalCursorEngineTest, BlobStreamsWriteReadAndRefuseASecondWriter) {
  TVEZLocalSession& session = SessionOf(GetParam());
  CreateTable(session);
  auto user = OpenUser(session);
  user->c.InternalInitRecord(user->Buffer(), true);
  user->Set({0, 1, "blob", 1});
  WriteNote(user->c, true, "first value");
  user->c.InternalPost(true);
  ASSERT_EQ(user->c.ErrorCode, cecOK);
  ASSERT_TRUE(user->Seek(1));
  EXPECT_EQ(ReadNote(user->c), "first value");

  // Read streams beside one write stream; a second write stream is refused.
  ASSERT_EQ(user->Edit(), cecOK);
  TVEZStream* r1 = user->c.InternalCreateBlobStream(false, true, kRunNote, bomRead, true);
  TVEZStream* w = user->c.InternalCreateBlobStream(false, true, kRunNote, bomWrite, true);
  TVEZStream* r2 = user->c.InternalCreateBlobStream(false, true, kRunNote, bomRead, true);
  ASSERT_NE(r1, nullptr);
  ASSERT_NE(w, nullptr);
  ASSERT_NE(r2, nullptr);
  EXPECT_EQ(user->c.BLOBStreams().size(), 3u);
  for (TVEZBLOBOpenMode mode : {bomWrite, bomReadWrite}) {
    EXPECT_EQ(
        NativeErrorOf([&] { user->c.InternalCreateBlobStream(false, true, kRunNote, mode, true); }),
        10115);
  }
  EXPECT_EQ(NativeErrorOf([&] { user->c.InternalCreateBlobStream(false, true, 5, bomRead, true); }),
            10110);
  EXPECT_EQ(NativeErrorOf([&] { user->c.InternalCloseBLOB(5); }), 10118);
  w->WriteBuffer("second", 6);
  // A post stores the open write stream and leaves the read streams open.
  ASSERT_EQ(user->Post(), cecOK);
  EXPECT_EQ(user->c.BLOBStreams().size(), 2u);
  user->c.ClearBLOBStreams(false);
  EXPECT_TRUE(user->c.BLOBStreams().empty());
  ASSERT_TRUE(user->Seek(1));
  EXPECT_EQ(ReadNote(user->c), "second");

  // A cancelled edit stores nothing of its stream.
  ASSERT_EQ(user->Edit(), cecOK);
  WriteNote(user->c, false, "dropped");
  ASSERT_EQ(user->Cancel(), cecOK);
  ASSERT_TRUE(user->Seek(1));
  EXPECT_EQ(ReadNote(user->c), "second");
}

// ---------------------------------------------------------------------------
// Index builds through the registered services

TEST_P(LocalCursorEngineTest, AnIndexBuiltOverExistingRowsEqualsOneKeptRowByRow) {
  TVEZLocalSession& session = SessionOf(GetParam());
  CreateTable(session, "Kept");
  CreateTable(session, "Built");
  auto kept = OpenUser(session, "Kept");
  auto built = OpenUser(session, "Built");
  TVEZIndexDef by_power;
  by_power.Name = "IX_Power";
  by_power.AssignByNames({"Power"}, {"DESC"}, {""});
  kept->c.AddIndex(by_power);
  std::mt19937 random(7u);
  for (int i = 0; i < 300; ++i) {
    const TRun r{0, i, "r" + std::to_string(i), static_cast<double>(random() % 97)};
    ASSERT_EQ(kept->Insert(r), cecOK);
    ASSERT_EQ(built->Insert(r), cecOK);
  }
  // Some gone, so the build walks a table with holes.
  for (std::int64_t id = 3; id <= 300; id += 7) {
    ASSERT_TRUE(kept->Seek(id));
    ASSERT_EQ(kept->Delete(), cecOK);
    ASSERT_TRUE(built->Seek(id));
    ASSERT_EQ(built->Delete(), cecOK);
  }
  TVEZIndexDef again;
  again.Assign(by_power);
  built->c.AddIndex(again);
  EXPECT_EQ(NativeErrorOf([&] { built->c.AddIndex(again); }), 20022);
  kept->c.SetIndexName("IX_Power");
  built->c.SetIndexName("IX_Power");
  ASSERT_NE(built->c.IndexID, -1);
  const std::vector<TRun> a = kept->All();
  const std::vector<TRun> b = built->All();
  ASSERT_EQ(a.size(), 300u - 43u);
  EXPECT_EQ(a, b);
  EXPECT_EQ(NativeErrorOf([&] { built->c.DeleteIndex("IX_Nope"); }), 20021);
  built->c.DeleteIndex("IX_Power");
  EXPECT_EQ(built->c.IndexDefs().GetIndexDefByName("IX_Power"), nullptr);
}

// ---------------------------------------------------------------------------
// Without an SQL engine

TEST_F(LocalCursorTest, FiltersAndSearchesRaiseAClearErrorWithoutAnSqlEngine) {
  if (ExpressionFactory() != nullptr) GTEST_SKIP() << "an SQL engine is registered";
  CreateTable(Memory());
  auto user = OpenUser(Memory());
  TVEZVariant five;
  five.SetAsInteger(5);
  EXPECT_EQ(NativeErrorOf([&] { user->c.ActivateFilters("TrialID = 5", false, false); }), 30058);
  EXPECT_EQ(user->c.FilterExpression, nullptr);
  EXPECT_EQ(NativeErrorOf([&] {
              user->c.Locate("TrialID", platform::Variant::FromInteger(5), false, false);
            }),
            30058);
  EXPECT_EQ(NativeErrorOf([&] { user->c.IsAnyRecordMatchCondition("TrialID", doEQ, five); }),
            30058);
}

}  // namespace
}  // namespace vez

// Record index throughput on a table of 1,000,000 rows (ID Int32 random,
// VAL Int32) with a B-tree index on ID: point seeks (find the key through
// the index, read the record) and range scans of 100 rows (each record read),
// through TVEZBTreeRecordIndex::FindRecord as the search engine drives it.
// Pages of 4096 bytes behind the page cache (1000 cached pages), as in
// bench_btree.cpp, whose bare B-tree figures these stand beside.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include <cstring>
#include <string>

#include "bench/BenchMemoryPages.h"
#include "dbengine/storage/VEZBTreeRecordIndex.h"
#include "dbengine/storage/VEZBaseSession.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZDatabaseData.h"
#include "dbengine/storage/VEZKeyPath.h"
#include "dbengine/storage/VEZPageManager.h"
#include "dbengine/storage/VEZScanSearchCondition.h"
#include "dbengine/storage/VEZTableData.h"
#include "tests/dbengine/storage/StorageTestDoubles.h"

namespace {

using namespace vez;

using bench::MemoryPages;

// Records in slots of one vector, never deleted here. Identity (slot, 0).
class Records : public TVEZBaseRecordManager {
 public:
  explicit Records(std::int32_t size) { RecordBufferSize = size; }
  void Empty(std::int32_t) override { data_.clear(); }
  bool AddRecord(std::int32_t, const std::uint8_t* record, TVEZPageItemID& id) override {
    id = {static_cast<std::int32_t>(RecordCount), 0};
    data_.insert(data_.end(), record, record + RecordBufferSize);
    ++RecordCount;
    IncTableState();
    return true;
  }
  bool UpdateRecord(std::int32_t, const std::uint8_t*, TVEZPageItemID) override { return false; }
  bool DeleteRecord(std::int32_t, TVEZPageItemID&) override { return false; }
  void GetRecordBuffer(std::int32_t, TVEZNavigationInfo& info) override {
    std::int64_t s = info.RecordID.PageNo;
    if (info.GetRecordMode == grmNext) s = info.FirstPosition ? 0 : s + 1;
    if (info.GetRecordMode == grmPrior) s = info.LastPosition ? RecordCount - 1 : s - 1;
    if (s < 0 || s >= RecordCount) {
      info.GetRecordResult = info.GetRecordMode == grmCurrent ? grrError
                             : info.GetRecordMode == grmNext  ? grrEOF
                                                              : grrBOF;
      return;
    }
    info.RecordID = {static_cast<std::int32_t>(s), 0};
    info.FirstPosition = info.LastPosition = false;
    info.GetRecordResult = grrOK;
    std::memcpy(info.RecordBuffer, data_.data() + s * RecordBufferSize,
                static_cast<std::size_t>(RecordBufferSize));
  }
  std::int32_t CompareRecordID(const TVEZPageItemID& a, const TVEZPageItemID& b) override {
    return (a.PageNo > b.PageNo) - (a.PageNo < b.PageNo);
  }
  std::int64_t GetApproximateRecNo(std::int32_t, TVEZPageItemID id) override {
    return id.PageNo + 1;
  }

 private:
  std::vector<std::uint8_t> data_;
};

class Table : public TVEZTableData {
 public:
  explicit Table(TVEZDatabaseData* db) : TVEZTableData(db) { SetPageManager(&pages); }
  MemoryPages pages;
  void CreateRecordManager() override {
    FRecordManager = std::make_unique<Records>(GetRecordBufferSize());
  }
  void CreateTable(TVEZCursor*, TVEZFieldDefs& f, TVEZIndexDefs& i,
                   TVEZConstraintDefs& c) override {
    CreateFieldManager(f);
    CreateIndexManager(i);
    CreateConstraintManager(c);
    CreateRecordManager();
  }
  std::int64_t GetApproximateRecordCount(std::int32_t) override {
    return RecordManager()->RecordCount;
  }
  std::int64_t RecordIDToApproximateRecNo(TVEZPageItemID id) override { return id.PageNo; }
  TVEZPageItemID ApproximateRecNoToRecordID(std::int64_t v) override {
    return {static_cast<std::int32_t>(v), 0};
  }
  void WriteBLOBFieldToRecordBuffer(TVEZCursor&, std::int32_t, TVEZStream&) override {}
  std::unique_ptr<TVEZStream> InternalCreateBlobStream(TVEZCursor&, bool, std::int32_t,
                                                       TVEZBLOBOpenMode) override {
    return nullptr;
  }
  void GetDirectBlobData(TVEZCursor&, std::int32_t, std::uint8_t*,
                         TVEZPartialTemporaryBLOBDescriptor&, std::uint8_t*&) override {}
  void SetDirectBlobData(TVEZCursor&, std::int32_t, std::uint8_t*,
                         TVEZPartialTemporaryBLOBDescriptor&, std::uint8_t*&) override {}
  void FreeDirectBlobData(TVEZCursor&, std::int32_t, std::uint8_t*,
                          TVEZPartialTemporaryBLOBDescriptor&, std::uint8_t*&) override {}
  void InternalSetRecNo(TVEZCursor&, std::int64_t) override {}
  std::int64_t InternalGetRecNo(TVEZCursor&) override { return 0; }
  std::int64_t InternalGetRecordCount(TVEZCursor&) override { return RecordManager()->RecordCount; }
};

class Database : public TVEZDatabaseData {
 public:
  std::int32_t last_id = 0;
  TVEZTableData* CreateTableData(TVEZCursor& cursor) override {
    auto table = std::make_unique<Table>(this);
    table->SetTableName(cursor.TableName);
    return AddTableData(std::move(table));
  }
  std::int32_t GetNewObjectId() override { return ++last_id; }
};

using Session = test::TestSession;

// The test cursor, with record reads going straight to the table.
class Cursor : public test::TestCursor {
 public:
  TVEZTableData* table = nullptr;
  TVEZIndexPositionCache cache;
  Cursor() { FIndexPositionCache = &cache; }
  TVEZGetRecordResult GetRecordBuffer(TVEZGetRecordMode mode) override {
    return table->GetRecordBuffer(*this, mode);
  }
};

constexpr int kRows = 1000000;
constexpr int kScanLength = 100;

struct Fixture {
  Session session;
  Database db;
  Table* table = nullptr;
  std::unique_ptr<Cursor> cursor;
  std::vector<std::int32_t> ids;
  std::int32_t index_id = -1;

  Fixture() {
    session.SessionID = 1;
    session.connected = true;
    cursor = std::make_unique<Cursor>();
    cursor->Session = &session;
    cursor->TableName = "T";
    table = static_cast<Table*>(db.FindOrCreateTableData(*cursor));
    TVEZFieldDefs fields;
    for (const char* name : {"ID", "VAL"}) {
      TVEZFieldDef* def = fields.AddCreated();
      def->Name = name;
      def->SetFieldDefDataType(aftInteger, 0);
    }
    TVEZIndexDefs no_indexes;
    TVEZConstraintDefs constraints;
    table->CreateTable(cursor.get(), fields, no_indexes, constraints);
    cursor->table = table;
    cursor->FieldDefs().Assign(table->FieldManager()->FieldDefs());
    cursor->FieldDefs().RecalcFieldOffsets();
    cursor->RecordSize = table->GetRecordBufferSize();
    cursor->RecordBufferSize = cursor->RecordSize + TVEZPageItemID::kSize;
    cursor->CurrentRecordBuffer = cursor->AllocateRecordBuffer();
    std::mt19937 rng(42);
    ids.resize(kRows);
    for (auto& id : ids)
      id = static_cast<std::int32_t>(rng());
    for (int i = 0; i < kRows; ++i) {
      PutLE<std::int32_t>(cursor->CurrentRecordBuffer + 1, ids[static_cast<std::size_t>(i)]);
      PutLE<std::int32_t>(cursor->CurrentRecordBuffer + 5, i);
      cursor->CurrentRecordBuffer[0] = 0;
      TVEZPageItemID id;
      table->RecordManager()->AddRecord(1, cursor->CurrentRecordBuffer, id);
    }
    // The index is built over the stored rows.
    TVEZIndexDef def;
    def.Name = "BY_ID";
    def.AssignByNames({"ID"}, {""}, {""});
    table->AddIndex(def, cursor.get());
    table->ApplyChanges(1, false);
    index_id = def.ObjectID;
  }
  TVEZBTreeRecordIndex& Index() {
    return static_cast<TVEZBTreeRecordIndex&>(*table->IndexManager()->OpenIndex(index_id));
  }
  std::unique_ptr<TVEZScanSearchCondition> Condition(TVEZSearchCondition op) {
    auto c = std::make_unique<TVEZScanSearchCondition>();
    c->Condition = op;
    c->KeyRecordBufferSize = cursor->RecordBufferSize;
    c->KeyRecordBuffer = cursor->AllocateRecordBuffer();
    c->KeyFieldCount = 1;
    c->IndexID = index_id;
    return c;
  }
};

Fixture& Filled() {
  static Fixture* fixture = new Fixture();
  return *fixture;
}

void BM_IndexPointSeek(benchmark::State& state) {
  Fixture& f = Filled();
  TVEZBTreeRecordIndex& index = f.Index();
  auto condition = f.Condition(scEqual);
  std::vector<std::uint8_t> record(static_cast<std::size_t>(f.cursor->RecordBufferSize));
  std::size_t i = 0;
  for (auto _ : state) {
    PutLE<std::int32_t>(condition->KeyRecordBuffer + 1, f.ids[i++ % f.ids.size()]);
    std::unique_ptr<TVEZIndexSearchInfo> info = index.CreateSearchInfo();
    TVEZPageItemID id;
    if (index.FindRecord(1, true, true, condition.get(), nullptr, record.data(), id, info.get()))
      benchmark::DoNotOptimize(f.table->ReadRecord(1, id, record.data()));
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_IndexRangeScan100(benchmark::State& state) {
  Fixture& f = Filled();
  TVEZBTreeRecordIndex& index = f.Index();
  auto condition = f.Condition(scGreaterEqual);
  std::vector<std::uint8_t> record(static_cast<std::size_t>(f.cursor->RecordBufferSize));
  std::size_t i = 0;
  for (auto _ : state) {
    PutLE<std::int32_t>(condition->KeyRecordBuffer + 1, f.ids[i++ % f.ids.size()]);
    std::unique_ptr<TVEZIndexSearchInfo> info = index.CreateSearchInfo();
    TVEZPageItemID id;
    bool restart = true;
    for (int n = 0; n < kScanLength; ++n) {
      if (!index.FindRecord(1, restart, true, condition.get(), nullptr, record.data(), id,
                            info.get()))
        break;
      restart = false;
      benchmark::DoNotOptimize(f.table->ReadRecord(1, id, record.data()));
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["rows/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kScanLength, benchmark::Counter::kIsRate);
}

// A seek, then 100 steps of an unfiltered cursor on the index through the
// table data (each step reads its record; the cursor's position cache saves
// a descent per step).
void BM_IndexCursorWalk100(benchmark::State& state) {
  Fixture& f = Filled();
  TVEZBTreeRecordIndex& index = f.Index();
  auto condition = f.Condition(scEqual);
  std::vector<std::uint8_t> record(static_cast<std::size_t>(f.cursor->RecordBufferSize));
  f.cursor->IndexID = f.index_id;
  std::size_t i = 0;
  for (auto _ : state) {
    PutLE<std::int32_t>(condition->KeyRecordBuffer + 1, f.ids[i++ % f.ids.size()]);
    std::unique_ptr<TVEZIndexSearchInfo> info = index.CreateSearchInfo();
    TVEZPageItemID id;
    if (!index.FindRecord(1, true, true, condition.get(), nullptr, record.data(), id, info.get()))
      continue;
    f.cursor->CurrentRecordID = id;
    f.cursor->FirstPosition = f.cursor->LastPosition = false;
    for (int n = 0; n < kScanLength; ++n)
      if (f.cursor->GetRecordBuffer(grmNext) != grrOK) break;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["rows/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kScanLength, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_IndexPointSeek);
BENCHMARK(BM_IndexRangeScan100);
BENCHMARK(BM_IndexCursorWalk100);

}  // namespace

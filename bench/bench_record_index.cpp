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

#include "dbengine/storage/VEZBTreeRecordIndex.h"
#include "dbengine/storage/VEZScanSearchCondition.h"
#include "tests/common/VEZTestLocalCursor.h"
#include "tests/dbengine/storage/TableTestSupport.h"

namespace {

using namespace vez;
using namespace vez::test;

constexpr int kRows = 1000000;
constexpr int kScanLength = 100;

struct Fixture {
  TestSession session;
  TTestDatabaseData db;
  TTestTableData* table = nullptr;
  std::unique_ptr<TTestLocalCursor> cursor;
  std::vector<std::int32_t> ids;
  std::int32_t index_id = -1;

  Fixture() {
    session.SessionID = 1;
    TTableCursor maker;
    maker.TableName = "T";
    maker.Session = &session;
    table = static_cast<TTestTableData*>(db.FindOrCreateTableData(maker));
    table->UseBTreeIndexes(4096);
    table->own_pages->SetCacheCapacity(1000);
    TVEZFieldDefs fields;
    AddField(fields, "ID", aftInteger);
    AddField(fields, "VAL", aftInteger);
    TVEZIndexDefs no_indexes;
    TVEZConstraintDefs constraints;
    table->CreateTable(nullptr, fields, no_indexes, constraints);
    cursor = std::make_unique<TTestLocalCursor>();
    cursor->Session = &session;
    cursor->TableName = "T";
    cursor->Open(*table);
    std::mt19937 rng(42);
    ids.resize(kRows);
    for (auto& id : ids)
      id = static_cast<std::int32_t>(rng());
    cursor->NewRecord();
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
    cursor->AddIndex(def);
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

Fixture& Table() {
  static Fixture* fixture = new Fixture();
  return *fixture;
}

void BM_IndexPointSeek(benchmark::State& state) {
  Fixture& f = Table();
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
  Fixture& f = Table();
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
  Fixture& f = Table();
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

// Disk record and BLOB storage over a real file in $TMPDIR (default /tmp),
// 4096-byte pages, one session.
// AddRecords: records of a shaft power reading (id, time, four doubles, a
// 20-character tag; 75 bytes on disk) added one by one, committed every 1,000;
// argument 0 = durability off (no sync), 1 = full (one fdatasync per commit).
// BlobWrite1MiB: one record with a 1 MiB BLOB (incompressible bytes, stored as
// given) added and committed per iteration, durability off. BlobRead1MiB:
// a stored 1 MiB BLOB read from its pages into a cache; argument = the page
// cache's capacity in pages (0: every page comes from the file through the
// system's file cache; 1000: the BLOB's pages stay cached).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchDiskFiles.h"
#include "dbengine/storage/VEZDiskBlobManager.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "dbengine/storage/VEZDiskRecordManager.h"
#include "dbengine/storage/VEZFieldManager.h"

namespace {

using namespace vez;

constexpr std::int32_t kSession = 1;

std::string DatabasePath() {
  return bench::BenchFilePath("bench_disk_records", "");
}

void Add(TVEZFieldDefs& defs, const char* name, TVEZAdvancedFieldType type, std::int32_t size = 0) {
  TVEZFieldDef* d = defs.AddCreated();
  d->Name = name;
  d->SetFieldDefDataType(type, size);
}

struct Table {
  std::string path = DatabasePath();
  TVEZBaseFieldManager fm{nullptr};
  std::unique_ptr<TVEZDiskPageManager> pm;
  std::unique_ptr<TVEZDiskRecordManager> rm;
  std::unique_ptr<TVEZDiskBlobManager> bm;

  explicit Table(bool with_blob, TVEZDurability durability) {
    Add(fm.FieldDefs(), "ID", aftInteger);
    Add(fm.FieldDefs(), "T", aftDateTime);
    Add(fm.FieldDefs(), "TORQUE", aftDouble);
    Add(fm.FieldDefs(), "RPM", aftDouble);
    Add(fm.FieldDefs(), "POWER", aftDouble);
    Add(fm.FieldDefs(), "THRUST", aftDouble);
    Add(fm.FieldDefs(), "TAG", aftString, 20);
    if (with_blob) Add(fm.FieldDefs(), "B", aftBlob);
    fm.RecalcFieldOffsets();
    pm = std::make_unique<TVEZDiskPageManager>();
    pm->CreateAndOpenDatabase(path, TVEZPassword{}, 4096, 8);
    pm->SetDurability(durability);
    rm = std::make_unique<TVEZDiskRecordManager>(pm.get(), &fm, 5);
    rm->Init(fm.FieldDefs().GetMemoryRecordBufferSize(), fm.FieldDefs().GetDiskRecordBufferSize(),
             fm.FieldCount());
    rm->CreateRecordPageIndex();
    bm = std::make_unique<TVEZDiskBlobManager>(pm.get(), &fm, rm.get());
    bm->CreateBlobPageIndex();
    pm->ApplyChanges(-2);
  }
  ~Table() {
    bm.reset();
    rm.reset();
    pm.reset();
    unlink(path.c_str());
  }
  // Every field set (no NULLs); a BLOB field names no stored value yet.
  std::vector<std::uint8_t> Record() const {
    std::vector<std::uint8_t> r(
        static_cast<std::size_t>(fm.FieldDefs().GetMemoryRecordBufferSize()), 0x5A);
    std::memset(r.data(), 0, static_cast<std::size_t>(fm.FieldDefs().NullBitmapSize()));
    for (std::int32_t i = 0; i < fm.FieldCount(); ++i) {
      const TVEZFieldDef& d = *fm.FieldDefs().GetDef(i);
      if (d.MemoryDataSize != d.DiskDataSize)
        std::memset(r.data() + d.MemoryOffset, 0, static_cast<std::size_t>(d.MemoryDataSize));
    }
    return r;
  }
};

void BM_AddRecords(benchmark::State& state) {
  Table t(false, state.range(0) ? TVEZDurability::Full : TVEZDurability::Off);
  auto rec = t.Record();
  std::int64_t n = 0;
  for (auto _ : state) {
    PutLE<std::int32_t>(rec.data() + t.fm.FieldDefs().GetDef(0)->MemoryOffset,
                        static_cast<std::int32_t>(n));
    TVEZPageItemID id;
    t.rm->AddRecord(kSession, rec.data(), id);
    if (++n % 1000 == 0) t.pm->ApplyChanges(kSession);
  }
  t.pm->ApplyChanges(kSession);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AddRecords)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

std::vector<std::uint8_t> RandomMiB() {
  std::vector<std::uint8_t> v(1 << 20);
  std::mt19937 rng(1);
  for (auto& b : v)
    b = static_cast<std::uint8_t>(rng());
  return v;
}

void BM_BlobWrite1MiB(benchmark::State& state) {
  Table t(true, TVEZDurability::Off);
  const auto value = RandomMiB();
  const std::int32_t blob_field = 7;
  for (auto _ : state) {
    auto rec = t.Record();
    TVEZPartialTemporaryBLOBDescriptor d{1, static_cast<std::int64_t>(value.size()),
                                         static_cast<std::int64_t>(value.size())};
    t.bm->SetDirectBlobInfoFromRecordBuffer(rec.data(), blob_field, d, value.data());
    t.bm->WriteBlobs(kSession, rec.data());
    TVEZPageItemID id;
    t.rm->AddRecord(kSession, rec.data(), id);
    t.pm->ApplyChanges(kSession);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(value.size()));
}
BENCHMARK(BM_BlobWrite1MiB)->Unit(benchmark::kMillisecond);

void BM_BlobRead1MiB(benchmark::State& state) {
  Table t(true, TVEZDurability::Off);
  t.pm->SetCacheCapacity(static_cast<std::int32_t>(state.range(0)));
  const auto value = RandomMiB();
  const std::int32_t blob_field = 7;
  auto rec = t.Record();
  TVEZPartialTemporaryBLOBDescriptor d{1, static_cast<std::int64_t>(value.size()),
                                       static_cast<std::int64_t>(value.size())};
  t.bm->SetDirectBlobInfoFromRecordBuffer(rec.data(), blob_field, d, value.data());
  t.bm->WriteBlobs(kSession, rec.data());
  TVEZPageItemID id;
  t.rm->AddRecord(kSession, rec.data(), id);
  t.pm->ApplyChanges(kSession);
  for (auto _ : state) {
    TVEZPartialTemporaryBLOBDescriptor got;
    const std::uint8_t* data = nullptr;
    t.bm->GetDirectBlobInfoFromRecordBuffer(kSession, rec.data(), blob_field, got, data);
    benchmark::DoNotOptimize(data);
    t.bm->ClearBlobInRecordBuffer(rec.data(), blob_field, false);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(value.size()));
}
BENCHMARK(BM_BlobRead1MiB)->Arg(0)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

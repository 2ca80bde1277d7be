// Appends to the log's Data table on disk, one commit per row, beside SQLite 3
// on the same rows and the same (MeasurementID, Time) index, in one run.
// Files live in $TMPDIR (default /tmp), 4096-byte pages on both sides.
//
// Rows: two shafts logging at 10 Hz, their readings interleaved in append
// order; each measurement holds 36,000 readings (one hour), the two shafts'
// measurements of one run get consecutive IDs.
//
// BM_AppendVEZ/<durability>, BM_AppendSQLite/<mode>: one iteration appends
// 20,000 rows to a new file, each posted (VEZ: through a local cursor, so
// autoincrement, constraints, record and index entry) and committed on its
// own. items_per_second is rows per wall-clock second; p99_us and p50_us are
// quantiles of the per-row latency (post and commit) in microseconds.
// The VEZ table is the disk table data of a disk database data, opened
// multi-user by one session as the application opens its log; a post outside
// a transaction is committed with the database's durability setting.
// SQLite modes: rollback_full = journal DELETE, synchronous FULL; wal_full /
// wal_normal = WAL, synchronous FULL / NORMAL; off = no journal, no sync. SQLite's ID is its rowid
// alias (no AUTOINCREMENT table), its cache 4 MB like the VEZ page cache of 1000 pages.
//
// BM_AppendVEZEncrypted/full_<cipher>: BM_AppendVEZ/full on a file encrypted
// with the cheapest (Rijndael_128) and the dearest (DES_Triple) combination.
//
// BM_ReadBackVEZ, BM_ReadBackSQLite: every row of one measurement (36,000 of
// 1,000,000) found through the index (VEZ: the cursor's FindKey, then its
// moves) and read whole, on files built once per process outside the timed
// loop.
//
// The VEZ benchmarks also count the calls the engine makes through the file
// seam (each about one system call: a read, write, size, truncate, sync or
// byte-lock call): calls_per_commit and syncs_per_commit for appends,
// calls_per_row for read-back, with reads, writes and locks broken out.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/storage/VEZDiskDatabaseData.h"
#include "dbengine/storage/VEZFieldDef.h"
#include "dbengine/storage/VEZIndexDef.h"
#include "dbengine/storage/VEZRecordFieldData.h"
#include "dbengine/storage/VEZTableData.h"
#include "platform/os/File.h"
#include "tests/common/VEZTestLocalCursor.h"
#include "tests/dbengine/storage/DiskTableTestSupport.h"

namespace {

using namespace vez;

constexpr std::int64_t kAppendRows = 20000;
constexpr std::int64_t kReadBackRows = 1000000;
constexpr std::int64_t kReadingsPerMeasurement = 36000;
// A measurement in the middle of the file, its rows interleaved with the
// other shaft's.
constexpr double kReadBackMeasurement = 13;
// Rows of the read-back files committed together while they are built.
constexpr std::int64_t kBuildBatch = 10000;

// ---------------------------------------------------------------------------
// Calls through the file seam

struct SeamCounts {
  std::int64_t reads = 0, writes = 0, locks = 0, syncs = 0, other = 0;
  std::int64_t Total() const { return reads + writes + locks + syncs + other; }
  SeamCounts operator-(const SeamCounts& o) const {
    return {reads - o.reads, writes - o.writes, locks - o.locks, syncs - o.syncs, other - o.other};
  }
};

SeamCounts& Counts() {
  static SeamCounts counts;
  return counts;
}

class CountingFile : public platform::FileWrapper {
 public:
  using FileWrapper::FileWrapper;
  void ReadAt(std::int64_t offset, void* buffer, std::size_t count) override {
    ++Counts().reads;
    FileWrapper::ReadAt(offset, buffer, count);
  }
  std::size_t ReadPartialAt(std::int64_t offset, void* buffer, std::size_t count) override {
    ++Counts().reads;
    return FileWrapper::ReadPartialAt(offset, buffer, count);
  }
  void WriteAt(std::int64_t offset, const void* buffer, std::size_t count) override {
    ++Counts().writes;
    FileWrapper::WriteAt(offset, buffer, count);
  }
  std::int64_t Size() override {
    ++Counts().other;
    return FileWrapper::Size();
  }
  void Truncate(std::int64_t size) override {
    ++Counts().other;
    FileWrapper::Truncate(size);
  }
  void Sync() override {
    ++Counts().syncs;
    FileWrapper::Sync();
  }
  bool LockRange(std::int64_t offset, std::int64_t count) override {
    ++Counts().locks;
    return FileWrapper::LockRange(offset, count);
  }
  bool UnlockRange(std::int64_t offset, std::int64_t count) override {
    ++Counts().locks;
    return FileWrapper::UnlockRange(offset, count);
  }
  bool IsRangeLocked(std::int64_t offset, std::int64_t count) override {
    ++Counts().locks;
    return FileWrapper::IsRangeLocked(offset, count);
  }
};

class CountingFileSystem : public platform::FileSystemWrapper {
 public:
  CountingFileSystem() : FileSystemWrapper(platform::PosixFileSystem()) {}
  std::unique_ptr<platform::File> CreateFile(const std::string& path,
                                             platform::FileShare share) override {
    return std::make_unique<CountingFile>(FileSystemWrapper::CreateFile(path, share));
  }
  std::unique_ptr<platform::File> OpenFile(const std::string& path, platform::FileAccess access,
                                           platform::FileShare share) override {
    return std::make_unique<CountingFile>(FileSystemWrapper::OpenFile(path, access, share));
  }
};

// Installed for the whole run: the SQLite side does not use the seam.
CountingFileSystem& CountingSeam() {
  static CountingFileSystem file_system;
  static platform::ScopedFileSystem installed(file_system);
  return file_system;
}

// The calls of one timed stretch, per unit (commit or row).
void ReportSeamCounts(benchmark::State& state, const SeamCounts& calls, std::int64_t units,
                      const char* per) {
  if (units <= 0) return;
  const auto per_unit = [&](std::int64_t n) {
    return static_cast<double>(n) / static_cast<double>(units);
  };
  const std::string suffix = std::string("_per_") + per;
  state.counters["calls" + suffix] = per_unit(calls.Total());
  state.counters["reads" + suffix] = per_unit(calls.reads);
  state.counters["writes" + suffix] = per_unit(calls.writes);
  state.counters["locks" + suffix] = per_unit(calls.locks);
  state.counters["syncs" + suffix] = per_unit(calls.syncs);
}

// ---------------------------------------------------------------------------
// The rows

// The platform day of 1 June 2026; the engine counts 693594 days more.
constexpr std::int32_t kFirstDay = 46174;
constexpr std::int32_t kEngineDayOffset = 693594;
constexpr std::int64_t kMsPerDay = 86400000;

struct Reading {
  double measurement;
  std::int32_t day;  // platform day number
  std::int32_t ms;   // of the day
  double power, speed, torque;
  bool is_error;

  double PlatformTime() const {
    return day + static_cast<double>(ms) / static_cast<double>(kMsPerDay);
  }
};

// Row i in append order: runs of two measurements, shaft 1 and 2 alternating,
// readings 100 ms apart from 08:00, one run a day.
Reading MakeReading(std::int64_t i) {
  const std::int64_t run = i / (2 * kReadingsPerMeasurement);
  const std::int64_t in_run = i % (2 * kReadingsPerMeasurement);
  const std::int64_t shaft = in_run % 2;
  const std::int64_t k = in_run / 2;
  Reading r{};
  r.measurement = static_cast<double>(2 * run + 1 + shaft);
  r.day = kFirstDay + static_cast<std::int32_t>(run);
  r.ms = static_cast<std::int32_t>(8 * 3600000 + k * 100);
  r.power = 5000.0 + static_cast<double>(i % 97) + static_cast<double>(shaft) * 3.5;
  r.speed = 90.0 + static_cast<double>(i % 13) / 10.0;
  r.torque = r.power / r.speed;
  r.is_error = i % 1000 == 999;
  return r;
}

std::string ScratchPath(const std::string& tag) {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/bench_append." + std::to_string(getpid()) +
         "." + tag;
}

// The database file and whatever a journal or log left beside it.
void RemoveDatabaseFiles(const std::string& path) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"})
    unlink((path + suffix).c_str());
}

// Per-row latencies of one run, in nanoseconds.
class Latencies {
 public:
  explicit Latencies(std::int64_t n) { ns_.reserve(static_cast<std::size_t>(n)); }
  void Add(std::chrono::steady_clock::duration d) {
    ns_.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(d).count());
  }
  // The q-quantile (nearest rank) in microseconds.
  double QuantileUs(double q) {
    if (ns_.empty()) return 0;
    auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(ns_.size())));
    rank = std::clamp<std::size_t>(rank, 1, ns_.size()) - 1;
    std::nth_element(ns_.begin(), ns_.begin() + static_cast<std::ptrdiff_t>(rank), ns_.end());
    return static_cast<double>(ns_[rank]) / 1000.0;
  }

 private:
  std::vector<std::int64_t> ns_;
};

// One iteration appends kAppendRows rows, each committed, to a new file made
// by open (outside the timing). items_per_second counts rows per second of
// wall-clock time: a commit that waits for the disk uses little CPU.
template <typename Open, typename Append>
void AppendRun(benchmark::State& state, Open open, Append append) {
  Latencies latencies(kAppendRows);
  std::chrono::steady_clock::duration wall{};
  std::int64_t rows = 0;
  SeamCounts calls;
  for (auto _ : state) {
    state.PauseTiming();
    auto data = open();
    state.ResumeTiming();
    const SeamCounts before = Counts();
    const auto begin = std::chrono::steady_clock::now();
    auto last = begin;
    for (std::int64_t i = 0; i < kAppendRows; ++i) {
      append(*data, i);
      const auto now = std::chrono::steady_clock::now();
      latencies.Add(now - last);
      last = now;
    }
    wall += last - begin;
    const SeamCounts run = Counts() - before;
    calls = {calls.reads + run.reads, calls.writes + run.writes, calls.locks + run.locks,
             calls.syncs + run.syncs, calls.other + run.other};
    rows += kAppendRows;
    state.PauseTiming();
    const bool all_there = data->RowCount() == kAppendRows;
    data.reset();
    state.ResumeTiming();
    if (!all_there) {
      state.SkipWithError("rows lost");
      break;
    }
  }
  const double seconds = std::chrono::duration<double>(wall).count();
  state.counters["items_per_second"] = seconds > 0 ? static_cast<double>(rows) / seconds : 0;
  state.counters["p99_us"] = latencies.QuantileUs(0.99);
  state.counters["p50_us"] = latencies.QuantileUs(0.50);
  // Each row is one commit; SQLite makes no calls through the seam.
  if (calls.Total() > 0) ReportSeamCounts(state, calls, rows, "commit");
}

// ---------------------------------------------------------------------------
// VEZ: the Data table on a disk database

// A new database file with the Data table, reached through the disk database
// data by one multi-user session (as the application opens its log), with
// one cursor open on the table.
class VezData {
 public:
  VezData(const std::string& path, TVEZDurability durability, const TVEZPassword& password = {})
      : path_(path) {
    CountingSeam();
    RemoveDatabaseFiles(path_);
    connection_ = std::make_unique<test::TDiskTableEnv>(
        path_, /*create=*/true, /*multi_user=*/true, durability, 16, password);
    TVEZFieldDefs fields;
    auto add = [&](const char* name, TVEZAdvancedFieldType type) {
      TVEZFieldDef* def = fields.AddCreated();
      def->Name = name;
      def->SetFieldDefDataType(type, 0);
    };
    add("ID", aftAutoInc);
    add("MeasurementID", aftDouble);
    add("Time", aftDateTime);
    add("Power", aftDouble);
    add("Speed", aftDouble);
    add("Torque", aftDouble);
    add("IsError", aftBoolean);
    // The log defines its indexes with no options.
    TVEZIndexDefs indexes;
    TVEZIndexDef* index = indexes.AddCreated();
    index->Name = "Primary";
    index->AssignByNames({"MeasurementID", "Time"}, {"", ""}, {"", ""});
    TVEZConstraintDefs constraints;
    test::TTestLocalCursor& maker = connection_->NewCursor("Data");
    connection_->Db().FindOrCreateTableData(maker)->CreateTable(&maker, fields, indexes,
                                                                constraints);
    cursor_ = &connection_->Open("Data");
    index_id_ = cursor_->table_data->IndexManager()->IndexDefs().GetDef(0)->ObjectID;
  }
  ~VezData() {
    // The cursor does not own its key buffer.
    if (cursor_->KeyBuffer != nullptr) cursor_->FreeRecordBuffer(cursor_->KeyBuffer);
    connection_.reset();
    RemoveDatabaseFiles(path_);
  }
  VezData(const VezData&) = delete;
  VezData& operator=(const VezData&) = delete;

  // Posts row i; outside a transaction or batch the post commits.
  void Post(std::int64_t i) {
    const Reading r = MakeReading(i);
    test::TDataRow row;
    row.measurement = r.measurement;
    row.day = r.day + kEngineDayOffset;
    row.ms = r.ms;
    row.power = r.power;
    row.speed = r.speed;
    row.torque = r.torque;
    row.is_error = r.is_error;
    cursor_->NewRecord();
    test::FillDataRecord(*cursor_, row);
    cursor_->InternalPost(true);
    if (cursor_->ErrorCode != cecOK) throw std::runtime_error("insert refused");
  }
  // Posts that follow collect in the session's pages until Commit.
  void SetBatch(bool on) { cursor_->InBatchUpdate = on; }
  void Commit() { cursor_->table_data->ApplyChanges(connection_->Session().SessionID, false); }
  std::int64_t RowCount() { return cursor_->GetRecordCount(); }

  // Every row of one measurement through the index, each read whole; the
  // number of rows read.
  std::int64_t ReadMeasurement(double measurement) {
    test::TTestLocalCursor& c = *cursor_;
    c.IndexID = index_id_;
    if (c.KeyBuffer == nullptr) c.KeyBuffer = c.AllocateKeyRecordBuffer();
    c.InternalInitKeyBuffer(c.KeyBuffer);
    SetRecordFieldData(test::kDataMeasurement, c.FieldDefs(), &measurement, c.KeyBuffer);
    c.KeyFieldCount = 1;
    std::int64_t rows = 0;
    if (!c.FindKey(scEqual)) return 0;
    for (TVEZGetRecordMode mode = grmCurrent; c.GetRecordBuffer(mode) == grrOK; mode = grmNext) {
      if (test::ReadDataRecord(c).measurement != measurement) break;
      ++rows;
    }
    return rows;
  }

 private:
  std::string path_;
  std::unique_ptr<test::TDiskTableEnv> connection_;
  test::TTestLocalCursor* cursor_ = nullptr;
  std::int32_t index_id_ = -1;
};

const char* DurabilityName(TVEZDurability d) {
  switch (d) {
    case TVEZDurability::Full:
      return "full";
    case TVEZDurability::Normal:
      return "normal";
    case TVEZDurability::Off:
      return "off";
  }
  return "?";
}

void BM_AppendVEZ(benchmark::State& state, TVEZDurability durability) {
  const std::string path =
      ScratchPath(std::string("append.") + DurabilityName(durability) + ".vez");
  AppendRun(
      state, [&] { return std::make_unique<VezData>(path, durability); },
      [](VezData& data, std::int64_t i) {
        data.Post(i);
        data.Commit();
      });
}

// The same at full durability on an encrypted file.
void BM_AppendVEZEncrypted(benchmark::State& state, TVEZCryptoAlgorithm algorithm) {
  const std::string path = ScratchPath("append.encrypted.vez");
  AppendRun(
      state,
      [&] {
        return std::make_unique<VezData>(path, TVEZDurability::Full,
                                         TVEZPassword{"sea trial", algorithm});
      },
      [](VezData& data, std::int64_t i) {
        data.Post(i);
        data.Commit();
      });
}

// ---------------------------------------------------------------------------
// SQLite: the same table and index

class SqliteData {
 public:
  // pragmas run before the table is made (journal mode, synchronous).
  SqliteData(const std::string& path, const std::string& pragmas) : path_(path) {
    RemoveDatabaseFiles(path_);
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK)
      Fail("open");
    Exec("PRAGMA page_size=4096; PRAGMA cache_size=-4000; " + pragmas);
    Exec(
        "CREATE TABLE Data (ID INTEGER PRIMARY KEY, MeasurementID REAL, Time REAL, Power REAL, "
        "Speed REAL, Torque REAL, IsError INTEGER);"
        "CREATE INDEX \"Primary\" ON Data (MeasurementID, Time);");
    insert_ = Prepare(
        "INSERT INTO Data (MeasurementID, Time, Power, Speed, Torque, IsError) "
        "VALUES (?, ?, ?, ?, ?, ?)");
    select_ = Prepare("SELECT * FROM Data WHERE MeasurementID = ?");
  }
  ~SqliteData() {
    sqlite3_finalize(insert_);
    sqlite3_finalize(select_);
    sqlite3_close(db_);
    RemoveDatabaseFiles(path_);
  }
  SqliteData(const SqliteData&) = delete;
  SqliteData& operator=(const SqliteData&) = delete;

  void Exec(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
  }
  // Inserts row i; outside an explicit transaction this is its commit.
  void Insert(std::int64_t i) {
    const Reading r = MakeReading(i);
    sqlite3_bind_double(insert_, 1, r.measurement);
    sqlite3_bind_double(insert_, 2, r.PlatformTime());
    sqlite3_bind_double(insert_, 3, r.power);
    sqlite3_bind_double(insert_, 4, r.speed);
    sqlite3_bind_double(insert_, 5, r.torque);
    sqlite3_bind_int(insert_, 6, r.is_error ? 1 : 0);
    if (sqlite3_step(insert_) != SQLITE_DONE) Fail("insert");
    sqlite3_reset(insert_);
  }
  std::int64_t RowCount() {
    sqlite3_stmt* s = Prepare("SELECT count(*) FROM Data");
    std::int64_t n = -1;
    if (sqlite3_step(s) == SQLITE_ROW) n = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    return n;
  }
  // As VezData::ReadMeasurement: every column of every row read.
  std::int64_t ReadMeasurement(double measurement) {
    sqlite3_bind_double(select_, 1, measurement);
    std::int64_t rows = 0;
    bool ok = true;
    while (sqlite3_step(select_) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_int64(select_, 0));
      ok = ok && sqlite3_column_double(select_, 1) == measurement;
      for (int c = 2; c <= 5; ++c)
        benchmark::DoNotOptimize(sqlite3_column_double(select_, c));
      benchmark::DoNotOptimize(sqlite3_column_int(select_, 6));
      ++rows;
    }
    sqlite3_reset(select_);
    return ok ? rows : -1;
  }

 private:
  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) Fail(sql);
    return s;
  }
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("sqlite: " + what + ": " + sqlite3_errmsg(db_));
  }

  std::string path_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
};

void BM_AppendSQLite(benchmark::State& state, const char* tag, const char* pragmas) {
  const std::string path = ScratchPath(std::string("append.") + tag + ".sqlite");
  AppendRun(
      state, [&] { return std::make_unique<SqliteData>(path, pragmas); },
      [](SqliteData& data, std::int64_t i) { data.Insert(i); });
}

// ---------------------------------------------------------------------------
// Read-back

VezData& VezReadBackFile() {
  static const std::unique_ptr<VezData> data = [] {
    auto d = std::make_unique<VezData>(ScratchPath("readback.vez"), TVEZDurability::Off);
    d->SetBatch(true);
    for (std::int64_t i = 0; i < kReadBackRows; ++i) {
      d->Post(i);
      if ((i + 1) % kBuildBatch == 0) d->Commit();
    }
    d->Commit();
    d->SetBatch(false);
    return d;
  }();
  return *data;
}

SqliteData& SqliteReadBackFile() {
  static const std::unique_ptr<SqliteData> data = [] {
    auto d = std::make_unique<SqliteData>(ScratchPath("readback.sqlite"),
                                          "PRAGMA journal_mode=DELETE; PRAGMA synchronous=OFF;");
    for (std::int64_t i = 0; i < kReadBackRows; ++i) {
      if (i % kBuildBatch == 0) d->Exec("BEGIN");
      d->Insert(i);
      if ((i + 1) % kBuildBatch == 0) d->Exec("COMMIT");
    }
    if (kReadBackRows % kBuildBatch != 0) d->Exec("COMMIT");
    return d;
  }();
  return *data;
}

template <typename Data>
void ReadBack(benchmark::State& state, Data& data) {
  std::int64_t rows = 0;
  const SeamCounts before = Counts();
  for (auto _ : state) {
    const std::int64_t n = data.ReadMeasurement(kReadBackMeasurement);
    if (n != kReadingsPerMeasurement) {
      state.SkipWithError("wrong rows read back");
      break;
    }
    rows += n;
  }
  state.SetItemsProcessed(rows);
  const SeamCounts calls = Counts() - before;
  if (calls.Total() > 0) ReportSeamCounts(state, calls, rows, "row");
}

void BM_ReadBackVEZ(benchmark::State& state) {
  ReadBack(state, VezReadBackFile());
}
void BM_ReadBackSQLite(benchmark::State& state) {
  ReadBack(state, SqliteReadBackFile());
}

// The pairs a goal compares run next to each other: the time a sync takes
// drifts with whatever else the machine's disk is doing.
BENCHMARK_CAPTURE(BM_AppendVEZ, full, TVEZDurability::Full)->Unit(benchmark::kSecond);
// The cheapest and the dearest page cipher (bench_crypto).
BENCHMARK_CAPTURE(BM_AppendVEZEncrypted, full_rijndael_128, craRijndael_128)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_AppendVEZEncrypted, full_des_triple, craDES_Triple)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_AppendSQLite, wal_full, "wal_full",
                  "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;")
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_AppendSQLite, rollback_full, "rollback_full",
                  "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;")
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_AppendVEZ, normal, TVEZDurability::Normal)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_AppendSQLite, wal_normal, "wal_normal",
                  "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;")
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_AppendVEZ, off, TVEZDurability::Off)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_AppendSQLite, off, "off", "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;")
    ->Unit(benchmark::kSecond);
// Reading is CPU work on cached pages: the rate is per CPU second.
BENCHMARK(BM_ReadBackVEZ)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadBackSQLite)->Unit(benchmark::kMillisecond);

}  // namespace

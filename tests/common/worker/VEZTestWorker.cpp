// The test worker: a second process for tests of what processes see of each
// other through the database file. It reads one command per line from its
// standard input and answers each with one line on its standard output:
// "ok [value]" or "err NATIVE text". Lines starting with "@" are events.
//
// Options: --clock-scale N  installs a clock whose ticks run N times faster
//                           than real time (sleeps last 1/N as long), so lock
//                           waits of thousands of polls take moments.
//
// Commands (S a session id, KIND one of IS S SIRW XIRW RW U X, T the first
// page of a table's lock-byte file, R a record as PAGE ITEM):
//   create PATH MAX [TABLES]   new database; answers the lock files' pages
//   open PATH MAX              opens it multi-user with a lock manager
//   close
//   lock S KIND T TRIES DELAY [allow]     -> 1 / 0
//   unlock S KIND T [ignorenolock] [ignorecount]
//   lockrec S T R TRIES DELAY / unlockrec S T R / reclocked S T R
//   commitlocks S / clearlocks S / releaseall S
//   locks S                    the session's entries, "KIND:T:COUNT:P|L" ...
//   barrier NAME               writes @NAME, waits for "go", answers ok
//   pausesleep                 the next sleep writes "@sleep" and waits for
//                              "go" first (an exact point inside a wait)
//   stallcommit PATH PAGE FILL N [normal|full]
//                              opens PATH single-session, fills the data of
//                              page PAGE with FILL and commits; the N-th write
//                              to the database file (1-based) writes "@stalled"
//                              and never returns, so the test can kill the
//                              worker in the middle of the commit
//   pid / ping / exit
// Commands on a database through the disk database data and disk tables (one
// session; the log's Data table):
//   dbcreate PATH MAX          new database file, left closed
//   dbopen PATH MULTI [DUR]    connects a session (MULTI 1 multi-user, 0
//                              single-user; DUR off, normal or full, default
//                              off); answers "SESSIONID READONLY MULTI"
//   dbclose                    disconnects
//   createdata [TABLE]         creates the Data table
//   insert N [M] [FROM]        appends N rows of measurement M (default 1),
//                              the FROM-th reading onwards (default 0), one
//                              post each; answers the first and last new ID
//   count [TABLE]              the rows a full scan sees
//   scan                       both scans of Data under one shared table lock
//                              (no append falls between them): "COUNT MINID
//                              MAXID UNIQUE INDEXED SORTED", the rows in
//                              storage order, their smallest and largest ID,
//                              1 when the IDs are unique, the rows of a scan
//                              of IX_MeasTime, 1 when that scan is in key
//                              order and holds the same rows
//   scanloop K                 K scans while others append: "GOOD LAST", how
//                              many were consistent (unique, sorted, complete
//                              index, count never going back) and the last
//                              count
//   begin / commit [flush] / rollback   the session's transaction
//   tables                     the catalogue's table names
//   connections                the sessions file's connection count
//   slowwrites US              from now on every write to a file waits US
//                              microseconds first (a slow disk)
//   appendloop FILE SEED FROM  commits of 1 to 50 rows of measurement 1 from
//                              reading FROM on, for ever, after "@appending";
//                              FILE holds "COMMITTED PENDING" (rows), PENDING
//                              past COMMITTED while a commit may be under way
//   mixloop N M SEED [TABLE]   N random posts on this worker's rows of
//                              measurement M in TABLE (default Data), each its
//                              own commit: appends, updates of a row found
//                              through IX_MeasTime, deletes; answers "DONE
//                              APPENDED UPDATED DELETED LEFT" (LEFT the rows of
//                              M that remain)
//   checkrows                  the rows of measurement 1 must be readings
//                              0..N-1 with IDs 1..N, in storage order and in
//                              IX_MeasTime order; answers N
// A read of the commands waits at most 60 s; then, or at the end of input,
// the worker ends, so it never outlives a test that lost it.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "dbengine/storage/VEZTableLockManager.h"
#include "dbengine/storage/VEZTableLocksFile.h"
#include "platform/core/Clock.h"
#include "platform/os/File.h"
#include "tests/common/LockTestDatabase.h"
#include "tests/dbengine/storage/DiskTableTestSupport.h"

namespace {

using namespace vez;

constexpr int kReadTimeoutMs = 60000;

std::string input_buffer;

// One line of standard input; false at its end or after the time-out.
bool ReadCommand(std::string& line) {
  for (;;) {
    const std::size_t eol = input_buffer.find('\n');
    if (eol != std::string::npos) {
      line = input_buffer.substr(0, eol);
      input_buffer.erase(0, eol + 1);
      return true;
    }
    pollfd p{0, POLLIN, 0};
    const int r = poll(&p, 1, kReadTimeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    char chunk[512];
    const ssize_t n = read(0, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    input_buffer.append(chunk, static_cast<std::size_t>(n));
  }
}

void WriteLine(const std::string& text) {
  const std::string line = text + "\n";
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = write(1, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) std::exit(3);  // the test is gone
    done += static_cast<std::size_t>(n);
  }
}

// Waits for "go"; anything else ends the worker (the test lost its place).
void WaitForGo() {
  std::string line;
  if (!ReadCommand(line) || line != "go") std::exit(4);
}

// Real time, scaled: the ticks run scale times faster, and a sleep of ms
// lasts ms / scale real milliseconds. A fake clock cannot span processes.
class ScaledClock : public platform::Clock {
 public:
  explicit ScaledClock(std::uint64_t scale)
      : scale_(scale == 0 ? 1 : scale), start_(std::chrono::steady_clock::now()) {}
  std::uint64_t TickCount64() override {
    const auto real = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - start_)
                          .count();
    return static_cast<std::uint64_t>(real) * scale_ / 1000;
  }
  void Sleep(std::uint32_t ms) override {
    if (pause_next_.exchange(false)) {
      WriteLine("@sleep");
      WaitForGo();
    }
    std::this_thread::sleep_for(std::chrono::microseconds(std::uint64_t{ms} * 1000 / scale_));
  }
  void PauseNextSleep() { pause_next_ = true; }

 private:
  std::uint64_t scale_;
  std::chrono::steady_clock::time_point start_;
  std::atomic<bool> pause_next_{false};
};

// Stops the process for good at the n-th write to one file: a process that
// dies there, with its locks held until the test kills it.
class StallFile : public platform::FileWrapper {
 public:
  StallFile(std::unique_ptr<platform::File> target, const std::string& stall_path, int& count,
            int stall_at)
      : FileWrapper(std::move(target)), path_(stall_path), count_(count), stall_at_(stall_at) {}
  void WriteAt(std::int64_t offset, const void* buffer, std::size_t count) override {
    if (Path() == path_ && ++count_ == stall_at_) {
      WriteLine("@stalled");
      for (;;)
        pause();
    }
    FileWrapper::WriteAt(offset, buffer, count);
  }

 private:
  std::string path_;
  int& count_;
  int stall_at_;
};

class StallFileSystem : public platform::FileSystemWrapper {
 public:
  StallFileSystem(std::string path, int stall_at)
      : FileSystemWrapper(platform::PosixFileSystem()),
        path_(std::move(path)),
        stall_at_(stall_at) {}
  std::unique_ptr<platform::File> OpenFile(const std::string& path, platform::FileAccess access,
                                           platform::FileShare share) override {
    return std::make_unique<StallFile>(FileSystemWrapper::OpenFile(path, access, share), path_,
                                       count_, stall_at_);
  }

 private:
  std::string path_;
  int stall_at_;
  int count_ = 0;
};

// Every write waits first, as on a slow disk: a kill at a random moment then
// often lands among a commit's writes instead of between commits.
class SlowFile : public platform::FileWrapper {
 public:
  SlowFile(std::unique_ptr<platform::File> target, int delay_us)
      : FileWrapper(std::move(target)), delay_us_(delay_us) {}
  void WriteAt(std::int64_t offset, const void* buffer, std::size_t count) override {
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us_));
    FileWrapper::WriteAt(offset, buffer, count);
  }

 private:
  int delay_us_;
};

class SlowFileSystem : public platform::FileSystemWrapper {
 public:
  explicit SlowFileSystem(int delay_us)
      : FileSystemWrapper(platform::PosixFileSystem()), delay_us_(delay_us) {}
  std::unique_ptr<platform::File> CreateFile(const std::string& path,
                                             platform::FileShare share) override {
    return std::make_unique<SlowFile>(FileSystemWrapper::CreateFile(path, share), delay_us_);
  }
  std::unique_ptr<platform::File> OpenFile(const std::string& path, platform::FileAccess access,
                                           platform::FileShare share) override {
    return std::make_unique<SlowFile>(FileSystemWrapper::OpenFile(path, access, share), delay_us_);
  }

 private:
  int delay_us_;
};

TVEZLockType KindOf(const std::string& name) {
  static const std::map<std::string, TVEZLockType> kinds = {
      {"IS", ltIS}, {"S", ltS}, {"SIRW", ltSIRW}, {"XIRW", ltXIRW},
      {"RW", ltRW}, {"U", ltU}, {"X", ltX}};
  const auto it = kinds.find(name);
  if (it == kinds.end()) throw std::invalid_argument("unknown lock kind " + name);
  return it->second;
}

const char* KindName(TVEZLockType kind) {
  static const char* const names[] = {"IS", "S", "SIRW", "XIRW", "RW", "U", "X"};
  return kind <= ltX ? names[kind] : "?";
}

class Worker {
 public:
  explicit Worker(ScaledClock& clock) : clock_(clock) {}

  // The answer line of one command; false for exit.
  bool Run(const std::vector<std::string>& w, std::string& answer) {
    const std::string& cmd = w.at(0);
    if (cmd == "exit") {
      Close();
      answer = "ok";
      return false;
    }
    if (cmd == "ping") {
      answer = "ok";
    } else if (cmd == "pid") {
      answer = "ok " + std::to_string(getpid());
    } else if (cmd == "create") {
      const auto pages =
          test::CreateLockTestDatabase(w.at(1), Int(w.at(2)), w.size() > 3 ? Int(w.at(3)) : 1);
      answer = "ok";
      for (std::int32_t p : pages)
        answer += " " + std::to_string(p);
    } else if (cmd == "open") {
      Close();
      auto pm = std::make_unique<TVEZDiskPageManager>();
      bool read_only = false, repair = false, multi_user = true;
      pm->OpenDatabase(w.at(1), {}, read_only, repair, false, multi_user);
      page_manager_ = std::move(pm);
      manager_ = std::make_unique<TVEZDatabaseTableLockManager>(Int(w.at(2)), page_manager_.get());
      answer = "ok";
    } else if (cmd == "close") {
      Close();
      answer = "ok";
    } else if (cmd == "stallcommit") {
      Close();
      StallFileSystem fs(w.at(1), Int(w.at(4)));
      platform::ScopedFileSystem scope(fs);
      TVEZDiskPageManager pm;
      bool read_only = false, repair = false, multi_user = true;
      pm.OpenDatabase(w.at(1), {}, read_only, repair, false, multi_user);
      if (w.size() > 5)
        pm.SetDurability(w.at(5) == "full" ? TVEZDurability::Full : TVEZDurability::Normal);
      TVEZPage* page = pm.GetPage(0, Int(w.at(2)), 255, true);
      std::fill(page->PageData(), page->PageData() + pm.PageDataSize(),
                static_cast<std::uint8_t>(Int(w.at(3))));
      page->SetIsDirty(true);
      pm.PutPage(page);
      pm.ApplyChanges(0);
      pm.CloseDatabase();
      answer = "ok";
    } else if (cmd == "lock") {
      answer = Bool(Manager().LockTable(Int(w.at(1)), KindOf(w.at(2)), Table(w.at(3)), Int(w.at(4)),
                                        Int(w.at(5)), Has(w, 6, "allow")));
    } else if (cmd == "unlock") {
      answer = Bool(Manager().UnlockTable(Int(w.at(1)), KindOf(w.at(2)), Table(w.at(3)),
                                          Has(w, 4, "ignorenolock"), Has(w, 4, "ignorecount")));
    } else if (cmd == "lockrec") {
      answer = Bool(Manager().LockRecord(Int(w.at(1)), Table(w.at(2)), Record(w, 3), Int(w.at(5)),
                                         Int(w.at(6))));
    } else if (cmd == "unlockrec") {
      answer = Bool(Manager().UnlockRecord(Int(w.at(1)), Table(w.at(2)), Record(w, 3)));
    } else if (cmd == "reclocked") {
      answer = Bool(Manager().IsRecordLocked(Int(w.at(1)), Table(w.at(2)), Record(w, 3)));
    } else if (cmd == "commitlocks") {
      answer = Bool(Manager().AddRWLocksBeforeCommit(Int(w.at(1))));
    } else if (cmd == "clearlocks") {
      answer = Bool(Manager().ClearTransactionLocks(Int(w.at(1))));
    } else if (cmd == "releaseall") {
      answer = Bool(Manager().ReleaseAllLocks(Int(w.at(1))));
    } else if (cmd == "locks") {
      answer = "ok";
      for (const TVEZTableLockItem& item : Manager().Locks(Int(w.at(1))))
        answer += std::string(" ") + KindName(item.LockType) + ":" +
                  std::to_string(item.LocksFilePageNo) + ":" + std::to_string(item.Count) + ":" +
                  (item.HasPhysicalLock ? "P" : "L");
    } else if (cmd == "barrier") {
      WriteLine("@" + w.at(1));
      WaitForGo();
      answer = "ok";
    } else if (cmd == "pausesleep") {
      clock_.PauseNextSleep();
      answer = "ok";
    } else if (RunDatabase(w, answer)) {
    } else {
      throw std::invalid_argument("unknown command " + cmd);
    }
    return true;
  }

  void Close() {
    cursors_.clear();
    env_.reset();
    tables_.clear();
    manager_.reset();
    page_manager_.reset();
  }

 private:
  static std::int32_t Int(const std::string& text) {
    std::size_t used = 0;
    const long value = std::stol(text, &used);
    if (used != text.size()) throw std::invalid_argument("not a number: " + text);
    return static_cast<std::int32_t>(value);
  }
  static bool Has(const std::vector<std::string>& w, std::size_t from, const std::string& flag) {
    for (std::size_t i = from; i < w.size(); ++i)
      if (w[i] == flag) return true;
    return false;
  }
  static std::string Bool(bool value) { return value ? "ok 1" : "ok 0"; }
  static TVEZPageItemID Record(const std::vector<std::string>& w, std::size_t at) {
    return {Int(w.at(at)), static_cast<std::uint16_t>(Int(w.at(at + 1)))};
  }
  TVEZDatabaseTableLockManager& Manager() {
    if (!manager_) throw std::logic_error("no database open");
    return *manager_;
  }
  TVEZTableLocksFile& Table(const std::string& page_text) {
    const std::int32_t page = Int(page_text);
    auto& file = tables_[page];
    if (!file) {
      auto opened = std::make_unique<TVEZTableLocksFile>(page_manager_.get());
      opened->OpenFile(page);
      file = std::move(opened);
    }
    return *file;
  }

  // The database commands; false for a command that is not one of them.
  bool RunDatabase(const std::vector<std::string>& w, std::string& answer) {
    const std::string& cmd = w.at(0);
    if (cmd == "dbcreate") {
      Close();
      test::TDiskTableEnv(w.at(1), true, false, TVEZDurability::Off, Int(w.at(2)));
      answer = "ok";
    } else if (cmd == "dbopen") {
      Close();
      env_ = std::make_unique<test::TDiskTableEnv>(w.at(1), false, Int(w.at(2)) != 0,
                                                   DurabilityOf(w.size() > 3 ? w[3] : "off"));
      answer = "ok " + std::to_string(env_->Session().SessionID) + " " +
               (env_->Db().ReadOnly() ? "1" : "0") + " " + (env_->Db().MultiUser() ? "1" : "0");
    } else if (cmd == "dbclose") {
      Close();
      answer = "ok";
    } else if (cmd == "createdata") {
      Env().CreateDataTable(TableName(w, 1));
      answer = "ok";
    } else if (cmd == "insert") {
      const std::int32_t count = Int(w.at(1));
      const double measurement = w.size() > 2 ? Int(w[2]) : 1;
      const std::int32_t from = w.size() > 3 ? Int(w[3]) : 0;
      test::TTestLocalCursor& c = Cursor("Data");
      std::int64_t first = 0, last = 0;
      for (std::int32_t i = 0; i < count; ++i) {
        const std::int64_t id =
            test::TDiskTableEnv::Append(c, test::MakeDataRow(measurement, from + i));
        if (id <= 0)
          throw std::runtime_error("row " + std::to_string(i) + " refused: " + std::to_string(id));
        if (i == 0) first = id;
        last = id;
      }
      answer = "ok " + std::to_string(first) + " " + std::to_string(last);
    } else if (cmd == "count") {
      answer = "ok " + std::to_string(test::TDiskTableEnv::ReadAll(Cursor(TableName(w, 1))).size());
    } else if (cmd == "scan") {
      const ScanResult r = Scan(Cursor("Data"));
      answer = "ok " + std::to_string(r.count) + " " + std::to_string(r.min_id) + " " +
               std::to_string(r.max_id) + " " + (r.unique ? "1" : "0") + " " +
               std::to_string(r.indexed) + " " + (r.sorted ? "1" : "0");
    } else if (cmd == "scanloop") {
      // Every scan while another process appends must be consistent, and
      // the count never goes back.
      const std::int32_t k = Int(w.at(1));
      std::size_t last = 0;
      std::int32_t good = 0;
      for (std::int32_t i = 0; i < k; ++i) {
        const ScanResult r = Scan(Cursor("Data"));
        if (r.unique && r.sorted && r.indexed == r.count && r.count >= last) ++good;
        last = r.count;
      }
      answer = "ok " + std::to_string(good) + " " + std::to_string(last);
    } else if (cmd == "begin") {
      Env().Session().StartTransaction();
      answer = "ok";
    } else if (cmd == "commit") {
      Env().Db().Commit(Env().Session().SessionID, Has(w, 1, "flush"));
      Env().Session().InTransaction = false;
      answer = "ok";
    } else if (cmd == "rollback") {
      Env().Db().Rollback(Env().Session().SessionID);
      Env().Session().InTransaction = false;
      answer = "ok";
    } else if (cmd == "tables") {
      std::vector<std::string> names;
      Env().Db().GetTablesList(names);
      answer = "ok";
      for (const std::string& name : names)
        answer += " " + name;
    } else if (cmd == "connections") {
      answer = "ok " + std::to_string(Env().Db().GetDBFileConnectionsCount());
    } else if (cmd == "slowwrites") {
      Close();
      slow_scope_.reset();
      slow_fs_ = std::make_unique<SlowFileSystem>(Int(w.at(1)));
      slow_scope_ = std::make_unique<platform::ScopedFileSystem>(*slow_fs_);
      answer = "ok";
    } else if (cmd == "appendloop") {
      AppendLoop(w.at(1), static_cast<std::uint32_t>(Int(w.at(2))), Int(w.at(3)));
    } else if (cmd == "mixloop") {
      answer = "ok " + MixLoop(Int(w.at(1)), Int(w.at(2)), static_cast<std::uint32_t>(Int(w.at(3))),
                               TableName(w, 4));
    } else if (cmd == "checkrows") {
      answer = "ok " + std::to_string(CheckRows());
    } else {
      return false;
    }
    return true;
  }

  struct ScanResult {
    std::size_t count = 0;
    std::int64_t min_id = 0;
    std::int64_t max_id = 0;
    bool unique = true;
    std::size_t indexed = 0;
    bool sorted = true;
  };
  // Both passes under one shared lock, so no append falls between them.
  static ScanResult Scan(test::TTestLocalCursor& c) {
    if (!c.LockTable(ltS, 2250, 40, true)) throw EVEZException(2, "scan: table is locked");
    std::vector<test::TDataRow> rows, by_index;
    try {
      rows = test::TDiskTableEnv::ReadAll(c);
      by_index =
          test::TDiskTableEnv::ReadAll(c, test::TDiskTableEnv::IndexID(c, test::kDataIndexName));
    } catch (...) {
      c.UnlockTable(ltS, false);
      throw;
    }
    c.UnlockTable(ltS, false);
    ScanResult r;
    r.count = rows.size();
    r.indexed = by_index.size();
    std::set<std::int64_t> ids;
    for (const test::TDataRow& row : rows)
      r.unique = ids.insert(row.id).second && r.unique;
    if (!ids.empty()) {
      r.min_id = *ids.begin();
      r.max_id = *ids.rbegin();
    }
    for (std::size_t i = 1; i < by_index.size(); ++i)
      if (by_index[i].Key() < by_index[i - 1].Key()) r.sorted = false;
    const auto by_id = [](const test::TDataRow& a, const test::TDataRow& b) { return a.id < b.id; };
    std::sort(rows.begin(), rows.end(), by_id);
    std::sort(by_index.begin(), by_index.end(), by_id);
    if (rows != by_index) r.sorted = false;
    return r;
  }
  // Never returns: the test kills the worker at a moment of its choosing.
  void AppendLoop(const std::string& progress_path, std::uint32_t seed, std::int32_t from) {
    // One pwrite each: a killed process leaves either the old or the new pair.
    const auto write_line = [](int fd, std::int64_t committed, std::int64_t pending) {
      const std::string text = std::to_string(committed) + " " + std::to_string(pending) + "\n";
      char line[48] = {};
      std::copy(text.begin(), text.end(), line);
      if (::pwrite(fd, line, sizeof line, 0) != static_cast<ssize_t>(sizeof line)) std::exit(5);
    };
    std::int64_t committed = from;
    // The file appears under its name with its first pair already in it: a
    // kill before that leaves no file, never an empty one.
    const std::string first = progress_path + ".new";
    const int first_fd = ::open(first.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (first_fd < 0) throw std::runtime_error("cannot open " + first);
    write_line(first_fd, committed, committed);
    ::close(first_fd);
    if (::rename(first.c_str(), progress_path.c_str()) != 0)
      throw std::runtime_error("cannot rename " + first);
    const int fd = ::open(progress_path.c_str(), O_WRONLY);
    if (fd < 0) throw std::runtime_error("cannot open " + progress_path);
    const auto note = [&](std::int64_t done, std::int64_t pending) {
      write_line(fd, done, pending);
    };
    test::TTestLocalCursor& c = Cursor("Data");
    std::mt19937 rng(seed);
    WriteLine("@appending");
    for (;;) {
      const auto n = static_cast<std::int32_t>(1 + rng() % 50);
      Env().Session().StartTransaction();
      for (std::int32_t i = 0; i < n; ++i) {
        const auto reading = static_cast<std::int32_t>(committed + i);
        if (test::TDiskTableEnv::Append(c, test::MakeDataRow(1, reading)) != reading + 1)
          throw std::runtime_error("append of reading " + std::to_string(reading) + " refused");
      }
      note(committed, committed + n);
      Env().Db().Commit(Env().Session().SessionID, false);
      Env().Session().InTransaction = false;
      committed += n;
      note(committed, committed);
    }
  }
  // Appends (half of the posts), updates and deletes of rows of measurement
  // m; any refused post or engine error ends the loop with that error.
  std::string MixLoop(std::int32_t n, std::int32_t m, std::uint32_t seed,
                      const std::string& table) {
    test::TTestLocalCursor& c = Cursor(table);
    const std::int32_t index_id = test::TDiskTableEnv::IndexID(c, test::kDataIndexName);
    // The cursor does not own its key buffer: the loop frees the one it
    // made, also when a refused post ends it.
    struct TKeyBufferScope {
      test::TTestLocalCursor& cursor;
      ~TKeyBufferScope() {
        try {
          MemoryManager().FreeAndNillMem(cursor.KeyBuffer);
        } catch (...) {
        }
        cursor.KeyBuffer = nullptr;
      }
    };
    if (c.KeyBuffer == nullptr) c.KeyBuffer = c.AllocateKeyRecordBuffer();
    TKeyBufferScope key_buffer{c};
    std::mt19937 rng(seed);
    std::vector<std::int32_t> alive;
    std::int32_t next = 0, appended = 0, updated = 0, deleted = 0;
    const double measurement = m;
    for (std::int32_t i = 0; i < n; ++i) {
      const std::uint32_t kind = rng() % 4;
      if (alive.empty() || kind < 2) {
        const test::TDataRow row = test::MakeDataRow(measurement, next);
        if (test::TDiskTableEnv::Append(c, row) <= 0)
          throw std::runtime_error("append refused, error " + std::to_string(c.ErrorCode));
        alive.push_back(next++);
        ++appended;
        continue;
      }
      const std::size_t at = rng() % alive.size();
      test::TDataRow row = test::MakeDataRow(measurement, alive[at]);
      c.IndexID = index_id;
      c.InternalInitKeyBuffer(c.KeyBuffer);
      std::uint8_t time[8];
      PutLE<std::int32_t>(time, row.day);
      PutLE<std::int32_t>(time + 4, row.ms);
      SetRecordFieldData(test::kDataMeasurement, c.FieldDefs(), &measurement, c.KeyBuffer);
      SetRecordFieldData(test::kDataTime, c.FieldDefs(), time, c.KeyBuffer);
      c.KeyFieldCount = 2;
      if (!c.FindKey(scEqual) || c.GetRecordBuffer(grmCurrent) != grrOK)
        throw std::runtime_error("reading " + std::to_string(alive[at]) + " not found");
      if (kind == 2) {
        c.BeginEdit();
        row = test::ReadDataRecord(c);
        row.power = -i;
        test::FillDataRecord(c, row);
        c.InternalPost(false);
        ++updated;
      } else {
        c.InternalDelete();
        alive.erase(alive.begin() + static_cast<std::ptrdiff_t>(at));
        ++deleted;
      }
      if (c.ErrorCode != cecOK)
        throw std::runtime_error("post refused, error " + std::to_string(c.ErrorCode));
    }
    c.IndexID = -1;
    return std::to_string(n) + " " + std::to_string(appended) + " " + std::to_string(updated) +
           " " + std::to_string(deleted) + " " + std::to_string(alive.size());
  }
  std::int64_t CheckRows() {
    test::TTestLocalCursor& c = Cursor("Data");
    const auto stored = test::TDiskTableEnv::ReadAll(c);
    const TVEZIndexDef* index = c.IndexDefs().GetIndexDefByName(test::kDataIndexName);
    if (index == nullptr) throw std::logic_error("no index");
    const auto by_index = test::TDiskTableEnv::ReadAll(c, index->ObjectID);
    for (const auto* rows : {&stored, &by_index}) {
      const char* order = rows == &stored ? "storage" : "index";
      if (rows->size() != stored.size())
        throw std::runtime_error(std::string(order) + " order has " + std::to_string(rows->size()) +
                                 " rows, storage order " + std::to_string(stored.size()));
      for (std::size_t i = 0; i < rows->size(); ++i) {
        test::TDataRow want = test::MakeDataRow(1, static_cast<std::int32_t>(i));
        want.id = static_cast<std::int64_t>(i) + 1;
        if (!((*rows)[i] == want))
          throw std::runtime_error(std::string(order) + " order: row " + std::to_string(i) +
                                   " is ID " + std::to_string((*rows)[i].id) + ", not reading " +
                                   std::to_string(i));
      }
    }
    return static_cast<std::int64_t>(stored.size());
  }
  static TVEZDurability DurabilityOf(const std::string& name) {
    if (name == "off") return TVEZDurability::Off;
    if (name == "normal") return TVEZDurability::Normal;
    if (name == "full") return TVEZDurability::Full;
    throw std::invalid_argument("unknown durability " + name);
  }
  static std::string TableName(const std::vector<std::string>& w, std::size_t at) {
    return w.size() > at ? w[at] : "Data";
  }
  test::TDiskTableEnv& Env() {
    if (!env_) throw std::logic_error("no database connected");
    return *env_;
  }
  // One open cursor per table, kept between commands.
  test::TTestLocalCursor& Cursor(const std::string& table) {
    auto& cursor = cursors_[table];
    if (cursor == nullptr) cursor = &Env().Open(table);
    return *cursor;
  }

  ScaledClock& clock_;
  std::unique_ptr<SlowFileSystem> slow_fs_;
  std::unique_ptr<platform::ScopedFileSystem> slow_scope_;
  std::unique_ptr<test::TDiskTableEnv> env_;
  std::map<std::string, test::TTestLocalCursor*> cursors_;
  std::unique_ptr<TVEZDiskPageManager> page_manager_;
  std::unique_ptr<TVEZDatabaseTableLockManager> manager_;
  std::map<std::int32_t, std::unique_ptr<TVEZTableLocksFile>> tables_;
};

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t scale = 1;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--clock-scale") scale = std::strtoull(argv[i + 1], nullptr, 10);
  ScaledClock clock(scale);
  platform::ScopedClock installed(clock);
  Worker worker(clock);
  std::string line;
  while (ReadCommand(line)) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
      words.push_back(w);
    if (words.empty()) continue;
    std::string answer;
    bool go_on = true;
    try {
      go_on = worker.Run(words, answer);
    } catch (const EVEZException& e) {
      answer = "err " + std::to_string(e.NativeError()) + " " + e.what();
    } catch (const std::exception& e) {
      answer = std::string("err 0 ") + e.what();
    }
    WriteLine(answer);
    if (!go_on) return 0;
  }
  worker.Close();
  return 0;
}

// Two processes on one multi-user database: both append to the Data table at
// once, one reads while the other appends, and a reader sees only committed
// rows. The other processes are test workers (tests/common/worker) with the
// database open through their own disk database data.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/WorkerProcess.h"
#include "tests/dbengine/storage/DiskTableTestSupport.h"
#include "tests/dbengine/storage/DiskTestSupport.h"

namespace vez {
namespace {

using test::TDataRow;
using test::TDiskTableEnv;
using test::TTestLocalCursor;
using test::WorkerProcess;

struct ScanResult {
  std::size_t count = 0;
  std::int64_t min_id = 0;
  std::int64_t max_id = 0;
  bool unique = false;
  std::size_t indexed = 0;
  bool sorted = false;
};

ScanResult ParseScan(const std::string& text) {
  std::istringstream in(text);
  ScanResult r;
  in >> r.count >> r.min_id >> r.max_id >> r.unique >> r.indexed >> r.sorted;
  return r;
}

// A worker with the database open multi-user. Lock waits run 40 times
// faster, so two writers taking turns do not spend most of their time asleep.
class TableWorker {
 public:
  explicit TableWorker(const std::string& path)
      : process_(VEZ_TEST_WORKER, {"--clock-scale", "40"}, 600000) {
    process_.Ok("dbopen " + path + " 1");
  }
  WorkerProcess& Process() { return process_; }
  ScanResult Scan() { return ParseScan(process_.Ok("scan")); }

 private:
  WorkerProcess process_;
};

class DiskTableProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TDiskTableEnv env(path, true, true);
    env.CreateDataTable();
  }
  test::ScratchDir dir;
  std::string path = dir.Path("shared.vez");
};

void ExpectAll(const ScanResult& r, std::size_t count) {
  EXPECT_EQ(r.count, count);
  EXPECT_EQ(r.min_id, count > 0 ? 1 : 0);
  EXPECT_EQ(r.max_id, static_cast<std::int64_t>(count));
  EXPECT_TRUE(r.unique);
  EXPECT_EQ(r.indexed, count);
  EXPECT_TRUE(r.sorted);
}

TEST_F(DiskTableProcessTest, TwoWritersAtOnceGiveUniqueIdsAndOneConsistentIndex) {
  constexpr int kRows = 10000;
  TableWorker a(path);
  TableWorker b(path);
  a.Process().Send("insert " + std::to_string(kRows) + " 1");
  b.Process().Send("insert " + std::to_string(kRows) + " 2");
  const std::string answer_a = a.Process().ReadLine();
  const std::string answer_b = b.Process().ReadLine();
  ASSERT_EQ(answer_a.substr(0, 2), "ok") << answer_a;
  ASSERT_EQ(answer_b.substr(0, 2), "ok") << answer_b;
  ExpectAll(a.Scan(), 2 * kRows);
  ExpectAll(b.Scan(), 2 * kRows);
  // And this process, opening the file afresh, agrees.
  TDiskTableEnv env(path, false, true);
  TTestLocalCursor& c = env.Open();
  const std::vector<TDataRow> rows = TDiskTableEnv::ReadAll(c);
  const std::vector<TDataRow> by_index =
      TDiskTableEnv::ReadAll(c, TDiskTableEnv::IndexID(c, test::kDataIndexName));
  EXPECT_EQ(rows.size(), 2u * kRows);
  EXPECT_EQ(by_index.size(), 2u * kRows);
  std::size_t of_a = 0;
  for (const TDataRow& row : rows)
    of_a += row.measurement == 1 ? 1 : 0;
  EXPECT_EQ(of_a, static_cast<std::size_t>(kRows));
}

TEST_F(DiskTableProcessTest, AReaderSeesAConsistentTableWhileAnotherProcessAppends) {
  TableWorker writer(path);
  TableWorker reader(path);
  writer.Process().Ok("insert 200 1");
  writer.Process().Send("insert 3000 2");
  reader.Process().Send("scanloop 50");
  const std::string reader_answer = reader.Process().ReadLine();
  const std::string writer_answer = writer.Process().ReadLine();
  ASSERT_EQ(writer_answer.substr(0, 2), "ok") << writer_answer;
  std::istringstream loop(reader_answer);
  std::string ok;
  int good = 0;
  std::size_t last = 0;
  loop >> ok >> good >> last;
  ASSERT_EQ(ok, "ok") << reader_answer;
  EXPECT_EQ(good, 50) << "every scan during the appends was consistent";
  EXPECT_GE(last, 200u);
  ExpectAll(reader.Scan(), 3200);
}

TEST_F(DiskTableProcessTest, AReaderSeesOnlyCommittedRows) {
  TableWorker writer(path);
  TableWorker reader(path);
  writer.Process().Ok("insert 10 1");
  writer.Process().Ok("begin");
  writer.Process().Ok("insert 25 2");
  ExpectAll(reader.Scan(), 10);
  EXPECT_EQ(writer.Scan().count, 35u) << "the writer sees its own rows";
  writer.Process().Ok("commit");
  ExpectAll(reader.Scan(), 35);

  // Rows of a transaction rolled back reach nobody.
  writer.Process().Ok("begin");
  writer.Process().Ok("insert 5 3");
  EXPECT_EQ(writer.Process().Ok("count"), "40");
  writer.Process().Ok("rollback");
  EXPECT_EQ(writer.Process().Ok("count"), "35");
  EXPECT_EQ(reader.Process().Ok("count"), "35");

  // Later appends of both processes still get IDs of their own.
  reader.Process().Ok("insert 20 4");
  writer.Process().Ok("insert 20 5");
  for (TableWorker* w : {&writer, &reader}) {
    const ScanResult r = w->Scan();
    EXPECT_EQ(r.count, 75u);
    EXPECT_TRUE(r.unique);
    EXPECT_EQ(r.indexed, 75u);
    EXPECT_TRUE(r.sorted);
  }
}

// A reader in this process watches a writer in another: each commit is seen
// by the reader's next move after the commit returned, and no move sees it
// before. The reader's moves go on in one direction, so most are answered
// from rows read ahead; its counts take the read bracket that keeps the
// loaded state while the file's change mark stands still.
TEST_F(DiskTableProcessTest, AReaderSeesEachCommitOfAnotherProcessAtItsNextMove) {
  constexpr int kRows = 24;
  TableWorker writer(path);
  // Measurements 2, 4, .., 2 kRows; the writer later puts each odd one in
  // right after the row the reader stands on.
  for (int j = 1; j <= kRows; ++j)
    writer.Process().Ok("insert 1 " + std::to_string(2 * j));
  TDiskTableEnv env(path, false, true);
  ASSERT_TRUE(env.Db().MultiUser());
  TTestLocalCursor& c = env.Open();
  c.IndexID = TDiskTableEnv::IndexID(c, test::kDataIndexName);
  c.FirstPosition = true;
  c.LastPosition = false;
  const auto move = [&](TVEZGetRecordMode mode) {
    return c.GetRecordBuffer(mode) == grrOK ? test::ReadDataRecord(c).measurement : -1.0;
  };
  ASSERT_EQ(move(grmNext), 2.0);
  std::int64_t count = kRows;
  for (int j = 1; j < kRows; ++j) {
    SCOPED_TRACE(j);
    // Before the commit: the rows next to the reader are the old ones, both
    // ways, and the count is unchanged. The last move forward leaves rows
    // read ahead behind it, which the commit must make stale.
    EXPECT_EQ(move(grmNext), 2.0 * j + 2);
    EXPECT_EQ(move(grmPrior), 2.0 * j);
    EXPECT_EQ(move(grmPrior), j == 1 ? -1.0 : 2.0 * j - 1);
    EXPECT_EQ(move(grmNext), 2.0 * j);
    EXPECT_EQ(c.GetRecordCount(), count);
    writer.Process().Ok("insert 1 " + std::to_string(2 * j + 1));
    ++count;
    // The commit has returned: the next move sees its row, the count too.
    EXPECT_EQ(move(grmNext), 2.0 * j + 1);
    EXPECT_EQ(c.GetRecordCount(), count);
    EXPECT_EQ(move(grmNext), 2.0 * j + 2);
  }
  EXPECT_EQ(move(grmNext), -1.0);
  // And backwards through everything, with nothing changing meanwhile.
  for (int m = 2 * kRows; m >= 2; --m)
    ASSERT_EQ(move(grmPrior), static_cast<double>(m));
  EXPECT_EQ(move(grmPrior), -1.0);
}

// A writer here keeps trusting the pages of its own commits only until
// another process commits: posts taking turns with another process's lose
// nothing, on the same record and index pages.
TEST_F(DiskTableProcessTest, PostsTakingTurnsWithAnotherProcessLoseNothing) {
  constexpr int kTurns = 40;
  TableWorker other(path);
  TDiskTableEnv env(path, false, true);
  TTestLocalCursor& c = env.Open();
  for (int i = 0; i < kTurns; ++i) {
    SCOPED_TRACE(i);
    ASSERT_GT(TDiskTableEnv::Append(c, test::MakeDataRow(1, i)), 0);
    // Two posts in a row here, sometimes: a run of own commits.
    if (i % 3 == 0) {
      ASSERT_GT(TDiskTableEnv::Append(c, test::MakeDataRow(3, i)), 0);
    }
    other.Process().Ok("insert 1 2 " + std::to_string(i));
  }
  const std::vector<TDataRow> stored = TDiskTableEnv::ReadAll(c);
  const std::vector<TDataRow> by_index =
      TDiskTableEnv::ReadAll(c, TDiskTableEnv::IndexID(c, test::kDataIndexName));
  ASSERT_EQ(stored.size(), static_cast<std::size_t>(2 * kTurns + (kTurns + 2) / 3));
  ASSERT_EQ(by_index.size(), stored.size());
  std::vector<std::int64_t> ids;
  for (const TDataRow& row : stored)
    ids.push_back(row.id);
  std::sort(ids.begin(), ids.end());
  for (std::size_t i = 0; i < ids.size(); ++i)
    ASSERT_EQ(ids[i], static_cast<std::int64_t>(i + 1));
  ExpectAll(other.Scan(), stored.size());
}

// A writer killed in the middle of its commit leaves the reader's next moves
// the rows committed before it or, when the commit had finished its writes,
// with its row; never a mixture, and later commits show at once as before.
TEST_F(DiskTableProcessTest, AReaderWatchingAWriterKilledMidCommitSeesWholeCommits) {
  TableWorker first(path);
  first.Process().Ok("insert 20 1");
  TDiskTableEnv env(path, false, true);
  TTestLocalCursor& c = env.Open();
  const std::int32_t index = TDiskTableEnv::IndexID(c, test::kDataIndexName);
  ASSERT_EQ(TDiskTableEnv::ReadAll(c, index).size(), 20u);
  {
    WorkerProcess killed(VEZ_TEST_WORKER, {"--clock-scale", "40"}, 600000);
    killed.Ok("slowwrites 20000");
    killed.Ok("dbopen " + path + " 1 normal");
    killed.Send("insert 1 2");
    // Inside the commit's writes (each takes 20 ms) at the latest.
    usleep(120 * 1000);
    killed.Kill();
  }
  const std::size_t seen = TDiskTableEnv::ReadAll(c, index).size();
  EXPECT_TRUE(seen == 20u || seen == 21u) << seen;
  EXPECT_EQ(TDiskTableEnv::ReadAll(c).size(), seen);
  EXPECT_EQ(c.GetRecordCount(), static_cast<std::int64_t>(seen));
  first.Process().Ok("insert 1 3");
  EXPECT_EQ(TDiskTableEnv::ReadAll(c, index).size(), seen + 1);
  EXPECT_EQ(TDiskTableEnv::ReadAll(c).size(), seen + 1);
}

// Two processes appending, updating and deleting rows at once, each post its
// own commit: every post waits for the other process's locks (the header lock
// among them) instead of failing with "Database is locked", and the table
// ends with exactly the rows each process kept, in storage and index order.
TEST_F(DiskTableProcessTest, TwoProcessesPostingAtOnceWaitForEachOthersLocks) {
  constexpr int kPosts = 1500;
  // A table each, so that no table lock takes turns for them: one reads its
  // index while the other commits.
  const char* const kTables[2] = {"Data", "Other"};
  {
    TDiskTableEnv env(path, false, false);
    env.CreateDataTable(kTables[1]);
  }
  std::vector<std::unique_ptr<WorkerProcess>> workers;
  for (int w = 0; w < 2; ++w) {
    workers.push_back(std::make_unique<WorkerProcess>(
        VEZ_TEST_WORKER, std::vector<std::string>{"--clock-scale", "40"}, 600000));
    workers.back()->Ok("dbopen " + path + " 1 normal");
  }
  for (int w = 0; w < 2; ++w)
    workers[static_cast<std::size_t>(w)]->Send("mixloop " + std::to_string(kPosts) + " " +
                                               std::to_string(w + 1) + " " +
                                               std::to_string(31 + w) + " " + kTables[w]);
  std::size_t left[2] = {};
  for (int w = 0; w < 2; ++w) {
    const std::string answer = workers[static_cast<std::size_t>(w)]->ReadLine();
    SCOPED_TRACE("worker " + std::to_string(w + 1));
    ASSERT_EQ(answer.substr(0, 3), "ok ") << answer;
    std::istringstream in(answer.substr(3));
    int done = 0, appended = 0, updated = 0, deleted = 0;
    in >> done >> appended >> updated >> deleted >> left[w];
    EXPECT_EQ(done, kPosts);
    EXPECT_GT(updated, 0);
    EXPECT_GT(deleted, 0);
    EXPECT_EQ(left[w], static_cast<std::size_t>(appended - deleted));
  }
  // A worker that leaked what the loop allocated ends non-zero under a
  // sanitizer.
  for (auto& worker : workers)
    EXPECT_EQ(worker->Exit(), 0);
  workers.clear();
  TDiskTableEnv env(path, false, true);
  for (int w = 0; w < 2; ++w) {
    SCOPED_TRACE(kTables[w]);
    TTestLocalCursor& c = env.Open(kTables[w]);
    const std::vector<TDataRow> rows = TDiskTableEnv::ReadAll(c);
    const std::vector<TDataRow> by_index =
        TDiskTableEnv::ReadAll(c, TDiskTableEnv::IndexID(c, test::kDataIndexName));
    EXPECT_EQ(rows.size(), left[w]);
    EXPECT_EQ(by_index.size(), rows.size());
    for (const TDataRow& row : rows)
      EXPECT_EQ(row.measurement, w + 1);
  }
}

// Every record change reloads the shared state another process moved on,
// not only a post through a cursor: an insert, an update and a delete made
// straight through the table data after another process appended keep the
// record count, the table state and the autoincrement counter that process
// left, and the file holds exactly the rows afterwards.
TEST_F(DiskTableProcessTest, EveryRecordChangeReloadsWhatAnotherProcessStored) {
  TDiskTableEnv env(path, false, true);
  TTestLocalCursor& c = env.Open();
  TVEZDiskTableData& table = static_cast<TVEZDiskTableData&>(*c.table_data);
  ASSERT_EQ(TDiskTableEnv::Append(c, test::MakeDataRow(1, 0)), 1);
  TableWorker other(path);
  const std::int32_t session = TVEZTableData::SessionIDOf(&c);
  std::int64_t expected = 1;
  for (TVEZRecordChange change :
       {TVEZRecordChange::kInsert, TVEZRecordChange::kUpdate, TVEZRecordChange::kDelete}) {
    SCOPED_TRACE(static_cast<int>(change));
    other.Process().Ok("insert 5 2");
    expected += 5;
    {
      TVEZLockGuard guard(table);
      const std::int32_t state_before = table.RecordManager()->TableState;
      c.IndexID = -1;
      if (change == TVEZRecordChange::kInsert) {
        c.NewRecord();
        TDataRow row = test::MakeDataRow(3, static_cast<std::int32_t>(expected));
        row.id = expected + 100;
        test::FillDataRecord(c, row);
        ASSERT_TRUE(table.InsertRecord(c));
        ++expected;
      } else {
        c.FirstPosition = true;
        c.LastPosition = false;
        ASSERT_EQ(table.GetRecordBuffer(c, grmNext), grrOK);
        if (change == TVEZRecordChange::kUpdate) {
          c.BeginEdit();
          TDataRow row = test::ReadDataRecord(c);
          row.power += 1;
          test::FillDataRecord(c, row);
          ASSERT_TRUE(table.UpdateRecord(c));
          c.InternalCancel(false);  // the edit's locks go
        } else {
          ASSERT_TRUE(table.DeleteRecord(c));
          --expected;
        }
      }
      EXPECT_EQ(table.RecordManager()->RecordCount, expected);
      EXPECT_NE(table.RecordManager()->TableState, state_before);
      table.LoadMostUpdated(session);
      EXPECT_EQ(table.RecordManager()->RecordCount, expected) << "as written to the file";
    }
    EXPECT_EQ(other.Process().Ok("count"), std::to_string(expected));
  }
  // The next post continues the other process's autoincrement values.
  const std::int64_t id = TDiskTableEnv::Append(c, test::MakeDataRow(4, 0));
  EXPECT_EQ(id, 1 + 5 * 3 + 1);
  const ScanResult r = other.Scan();
  EXPECT_EQ(r.count, static_cast<std::size_t>(expected + 1));
  EXPECT_TRUE(r.unique);
  EXPECT_EQ(r.indexed, r.count);
}

}  // namespace
}  // namespace vez

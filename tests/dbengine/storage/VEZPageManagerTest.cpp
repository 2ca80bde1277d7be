#include "dbengine/storage/VEZPageManager.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "platform/core/Random.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/MemoryPageStorage.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

using test::TMemoryPageStorage;

TEST(VEZSortedPageListTest, FindInsertDeleteAndErrors) {
  TMemoryPageStorage pm;
  std::vector<std::unique_ptr<TVEZPage>> pages;
  TVEZSortedPageList list;
  for (int no : {9, 3, 7, 1}) {
    pages.push_back(std::make_unique<TVEZPage>(&pm));
    pages.back()->SetPageNo(no);
    list.Insert(pages.back().get());
  }
  ASSERT_EQ(list.Count(), 4);
  const std::vector<int> expected{1, 3, 7, 9};
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(list.PageAt(i)->PageNo(), expected[i]);
  EXPECT_EQ(list.Find(7), pages[2].get());
  EXPECT_EQ(list.Find(5), nullptr);
  EXPECT_EQ(NativeErrorOf([&] { list.Delete(5); }), 20166);
  try {
    list.Delete(4);
  } catch (const EVEZException& e) {
    EXPECT_STREQ(e.what(),
                 "TSortedPageList.Delete - element not found, key = 4, itemCount = 4 - Native "
                 "error: 20166");
  }
  list.Delete(3);
  list.Delete(1);
  list.Delete(9);
  // One element left: a wrong number is still refused, the right one removed.
  EXPECT_EQ(NativeErrorOf([&] { list.Delete(1); }), 20166);
  EXPECT_EQ(list.Count(), 1);
  list.Delete(7);
  EXPECT_EQ(NativeErrorOf([&] { list.Delete(7); }), 20165);
  EXPECT_EQ(NativeErrorOf([&] { list.UpdateLRU(pages[0].get()); }), 20167);
  EXPECT_EQ(list.FirstByLRU(), nullptr);
}

TEST(VEZSortedPageListTest, LeastRecentlyUsedWalk) {
  TMemoryPageStorage pm;
  std::vector<std::unique_ptr<TVEZPage>> pages;
  TVEZSortedPageList list;
  for (int no : {5, 2, 8}) {
    pages.push_back(std::make_unique<TVEZPage>(&pm));
    pages.back()->SetPageNo(no);
    list.Insert(pages.back().get());
  }
  list.UpdateLRU(pages[0].get());  // 5 becomes the most recent
  std::vector<int> order;
  for (TVEZPage* p = list.FirstByLRU(); p; p = list.NextByLRU())
    order.push_back(p->PageNo());
  EXPECT_EQ(order, (std::vector<int>{2, 8, 5}));
}

TEST(VEZPageTest, BufferHeaderAndEnlarge) {
  TMemoryPageStorage pm(256);
  TVEZPage page(&pm);
  EXPECT_EQ(NativeErrorOf([&] { page.EnlargePageBuffer(300); }), 20038);
  page.AllocPageBuffer();
  EXPECT_TRUE(page.PageHeader().HasSignature());
  EXPECT_EQ(page.PageHeader().State(), 0);
  EXPECT_EQ(page.PageHeader().NextPageNo(), -1);
  EXPECT_EQ(page.PageHeader().ObjectID(), -1);
  EXPECT_EQ(page.PageHeader().RecordIDPageNo(), -1);
  EXPECT_EQ(page.PageHeader().RecordIDPageItemNo(), 0);
  EXPECT_EQ(page.PageDataSize(), 216);
  EXPECT_EQ(page.PageData(), page.PageBuffer() + 40);
  page.PageData()[215] = 0x5A;
  EXPECT_EQ(NativeErrorOf([&] { page.EnlargePageBuffer(255); }), 20039);
  page.EnlargePageBuffer(300);
  EXPECT_EQ(page.PageData()[215], 0x5A);
  EXPECT_EQ(MemoryManager().GetMemoryBufferSize(page.PageBuffer()), 300);

  std::vector<std::uint8_t> borrowed(256, 7);
  TVEZPage view(&pm);
  view.SetBorrowedPageBuffer(borrowed.data());
  EXPECT_FALSE(view.OwnBuffer());
  view.EnlargePageBuffer(260);
  EXPECT_TRUE(view.OwnBuffer());
  EXPECT_EQ(view.PageBuffer()[255], 7);
  EXPECT_NE(view.PageBuffer(), borrowed.data());
}

TEST(VEZPageTest, TableStatesPerSession) {
  TMemoryPageStorage pm;
  TVEZPage page(&pm);
  std::int32_t state = 99;
  EXPECT_FALSE(page.GetTableState(-2, state));
  page.SetTableState(3, 17);
  EXPECT_TRUE(page.GetTableState(3, state));
  EXPECT_EQ(state, 17);
  EXPECT_FALSE(page.GetTableState(1, state));  // grown over, not assigned
  EXPECT_FALSE(page.GetTableState(10, state));
}

class PageCacheTest : public ::testing::Test {
 protected:
  PageCacheTest() : pm(256) {
    for (int no = 0; no < 10; ++no)
      pm.Store(no, kPageTypeTableRecord, static_cast<std::uint8_t>(no));
  }
  TMemoryPageStorage pm;
};

TEST_F(PageCacheTest, EvictionSkipsPinnedPages) {
  pm.SetCacheCapacity(2);
  for (int no = 1; no <= 3; ++no) {
    pm.PutPage(pm.GetPage(1, no, kPageTypeTableRecord, false));
    EXPECT_EQ(pm.SharedPages().Count(), std::min(no, 2));
  }
  EXPECT_EQ(pm.SharedPages().Find(1), nullptr);  // least recently used went first
  EXPECT_NE(pm.SharedPages().Find(2), nullptr);

  // Again with the oldest page pinned: the next oldest goes instead.
  TMemoryPageStorage pm2(256);
  for (int no = 1; no <= 3; ++no)
    pm2.Store(no, kPageTypeTableRecord, 1);
  pm2.SetCacheCapacity(2);
  TVEZPage* p1 = pm2.GetPage(1, 1, kPageTypeTableRecord, false);
  pm2.PutPage(pm2.GetPage(1, 2, kPageTypeTableRecord, false));
  pm2.PutPage(pm2.GetPage(1, 3, kPageTypeTableRecord, false));
  EXPECT_NE(pm2.SharedPages().Find(1), nullptr);
  EXPECT_EQ(pm2.SharedPages().Find(2), nullptr);
  EXPECT_NE(pm2.SharedPages().Find(3), nullptr);
  pm2.PutPage(p1);
  EXPECT_EQ(pm2.SharedPages().Count(), 2);
  EXPECT_EQ(pm2.counts.read, 3);
}

// The pin holder gives its page back on every path: at scope end, when moved
// over, when reset or released; a detached pin is the caller's.
TEST_F(PageCacheTest, PinnedPageHolderGivesThePageBackOnEveryPath) {
  const auto pin = [&](std::int32_t no) {
    return TVEZPinnedPage(&pm, pm.GetPage(1, no, kPageTypeTableRecord, false));
  };
  TVEZPage* seven = nullptr;
  {
    TVEZPinnedPage held = pin(7);
    seven = held.get();
    EXPECT_EQ(seven->UseCount(), 1);
    TVEZPinnedPage moved(std::move(held));
    EXPECT_FALSE(held);
    EXPECT_EQ(moved->UseCount(), 1);
    moved = pin(8);  // seven is given back
    EXPECT_EQ(seven->UseCount(), 0);
    moved.Reset(pm.GetPage(1, 9, kPageTypeTableRecord, false));
    EXPECT_EQ(pm.SharedPages().Find(8)->UseCount(), 0);
  }
  EXPECT_EQ(pm.SharedPages().Find(9)->UseCount(), 0);
  TVEZPinnedPage released = pin(7);
  released.Release();
  EXPECT_FALSE(released);
  EXPECT_EQ(seven->UseCount(), 0);
  TVEZPage* detached = nullptr;
  {
    TVEZPinnedPage holder = pin(7);
    detached = holder.Detach();
  }
  EXPECT_EQ(detached->UseCount(), 1);
  pm.PutPage(detached);
  EXPECT_EQ(detached->UseCount(), 0);
}

TEST_F(PageCacheTest, PinsAndOtherSessions) {
  TVEZPage* a = pm.GetPage(1, 7, kPageTypeTableRecord, false);
  TVEZPage* b = pm.GetPage(1, 7, kPageTypeTableRecord, false);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->UseCount(), 2);
  EXPECT_EQ(pm.counts.read, 1);
  EXPECT_EQ(NativeErrorOf([&] { pm.GetPage(2, 7, kPageTypeTableRecord, false); }), 20090);
  pm.PutPage(a);
  pm.PutPage(b);
  TVEZPage* c = pm.GetPage(2, 7, kPageTypeTableRecord, false);
  EXPECT_EQ(c, a);
  pm.PutPage(c);
  EXPECT_EQ(NativeErrorOf([&] { pm.GetPage(-1, 7, kPageTypeTableRecord, false); }), 20186);
}

TEST_F(PageCacheTest, DirtyPagesStayPrivateUntilApplied) {
  TVEZPage* a = pm.GetPage(1, 7, kPageTypeTableRecord, false);
  a->PageData()[0] = 0xAA;
  a->SetIsDirty(true);
  pm.PutPage(a);
  EXPECT_EQ(pm.SharedPages().Find(7), nullptr);
  ASSERT_EQ(pm.SessionDirtyPages(1)->Count(), 1);

  // Session 2 reads the stored page, not session 1's change.
  TVEZPage* b = pm.GetPage(2, 7, kPageTypeTableRecord, false);
  EXPECT_NE(b, a);
  EXPECT_EQ(b->PageData()[0], 7);
  // Session 1 still sees its own copy.
  TVEZPage* a2 = pm.GetPage(1, 7, kPageTypeTableRecord, false);
  EXPECT_EQ(a2, a);
  pm.PutPage(a2);

  // Session 1 commits while session 2 still holds its old copy.
  pm.ApplyChanges(1);
  EXPECT_EQ(pm.stored[7][40], 0xAA);
  EXPECT_EQ(pm.counts.write, 1);
  EXPECT_EQ(pm.SessionDirtyPages(1)->Count(), 0);
  EXPECT_EQ(pm.GetPage(2, 7, kPageTypeTableRecord, false), b);  // its pinned copy, unchanged
  pm.PutPage(b);
  pm.PutPage(b);
  // Released, the superseded copy is gone: the next read sees the commit.
  TVEZPage* fresh = pm.GetPage(2, 7, kPageTypeTableRecord, false);
  EXPECT_EQ(fresh->PageData()[0], 0xAA);
  pm.PutPage(fresh);
  EXPECT_EQ(pm.SharedPages().Count(), 1);
}

TEST_F(PageCacheTest, CommitReplacesUnpinnedOlderSharedCopy) {
  TVEZPage* a = pm.GetPage(1, 4, kPageTypeTableRecord, false);
  a->SetIsDirty(true);
  a->PageData()[3] = 0x11;
  pm.PutPage(a);
  TVEZPage* b = pm.GetPage(2, 4, kPageTypeTableRecord, false);  // old copy in the shared list
  pm.PutPage(b);
  pm.ApplyChanges(1);
  ASSERT_EQ(pm.SharedPages().Count(), 1);
  EXPECT_EQ(pm.SharedPages().Find(4), a);
  TVEZPage* c = pm.GetPage(2, 4, kPageTypeTableRecord, false);
  EXPECT_EQ(c->PageData()[3], 0x11);
  pm.PutPage(c);
}

TEST_F(PageCacheTest, PageTypeAndReadFailuresLeaveNothingCached) {
  EXPECT_EQ(NativeErrorOf([&] { pm.GetPage(1, 3, kPageTypeTableIndex, false); }), 20153);
  EXPECT_EQ(pm.SharedPages().Count(), 0);
  TVEZPage* any = pm.GetPage(1, 3, kPageTypeAny, false);
  EXPECT_EQ(any->PageHeader().PageType(), kPageTypeTableRecord);
  pm.PutPage(any);
  EXPECT_EQ(pm.counts.read, 2);

  pm.fail_read_page = 5;
  try {
    pm.GetPage(1, 5, kPageTypeTableRecord, false);
    FAIL();
  } catch (const EVEZException& e) {
    // The page read error, with the storage's cause.
    EXPECT_EQ(e.NativeError(), kErrPageRead);
    EXPECT_STREQ(e.what(),
                 "Error reading database file page. Page No: 5, type 10: Reading page 5: "
                 "Input/output error (5) - Native error: 20299");
  }
  EXPECT_EQ(pm.SharedPages().Find(5), nullptr);
  // An engine error from the storage reaches the caller as it is.
  EXPECT_EQ(NativeErrorOf([&] { pm.GetPage(1, 77, kPageTypeTableRecord, false); }),
            TMemoryPageStorage::kMissingPageError);
  EXPECT_EQ(pm.SharedPages().Find(77), nullptr);
  pm.fail_read_page = -2;
  TVEZPage* p = pm.GetPage(1, 5, kPageTypeTableRecord, false);
  EXPECT_EQ(p->PageData()[0], 5);
  pm.PutPage(p);

  pm.SetIgnoreCRCErrors(true);
  TVEZPage* q = pm.GetPage(1, 6, kPageTypeTableIndex, false);
  pm.PutPage(q);
}

TEST_F(PageCacheTest, AddCancelAndRemove) {
  TVEZPage* p = pm.AddPage(1, kPageTypeTableIndex);
  EXPECT_EQ(p->PageNo(), 10);
  EXPECT_TRUE(p->IsDirty());
  EXPECT_EQ(p->UseCount(), 1);
  EXPECT_EQ(p->PageHeader().PageType(), kPageTypeTableIndex);
  EXPECT_GE(p->PageHeader().State(), 0);
  EXPECT_LT(p->PageHeader().State(), 1073741823);
  EXPECT_EQ(NativeErrorOf([&] { pm.CancelChanges(1); }), 20088);
  // A failed commit keeps the added number, so the rollback still frees it.
  EXPECT_EQ(NativeErrorOf([&] { pm.ApplyChanges(1); }), 20086);
  EXPECT_EQ(NativeErrorOf([&] { pm.CheckNoUncommittedPages(); }), 20097);
  pm.PutPage(p);
  pm.CancelChanges(1);
  EXPECT_EQ(pm.counts.remove, 1);
  EXPECT_EQ(pm.free_numbers.count(10), 1u);
  EXPECT_EQ(pm.counts.write, 0);
  pm.CheckNoUncommittedPages();

  pm.RemovePage(1, 2);
  pm.CancelChanges(1);
  EXPECT_EQ(pm.counts.remove, 1);
  pm.RemovePage(1, 2);
  pm.ApplyChanges(1);
  EXPECT_EQ(pm.counts.remove, 2);
  pm.ApplyChanges(1);
  EXPECT_EQ(pm.counts.remove, 2);

  // A session that never used the manager.
  pm.ApplyChanges(42);
  pm.CancelChanges(42);
  EXPECT_EQ(pm.SessionDirtyPages(42), nullptr);
}

TEST_F(PageCacheTest, RemovedPageLeavesTheCache) {
  TVEZPage* p = pm.GetPage(1, 2, kPageTypeTableRecord, false);
  pm.PutPage(p);
  ASSERT_NE(pm.SharedPages().Find(2), nullptr);
  pm.RemovePage(1, 2);
  pm.ApplyChanges(1);
  EXPECT_EQ(pm.SharedPages().Find(2), nullptr);
  EXPECT_EQ(pm.stored.count(2), 0u);
}

TEST_F(PageCacheTest, CommitAndRollbackChecks) {
  TVEZPage* shared = pm.GetPage(1, 1, kPageTypeTableRecord, false);
  EXPECT_EQ(NativeErrorOf([&] { pm.ApplyChanges(1); }), 20152);
  pm.PutPage(shared);

  TVEZPage* a = pm.AddPage(1, kPageTypeTableIndex);
  TVEZPage* b = pm.AddPage(1, kPageTypeTableIndex);
  pm.PutPage(a);
  pm.PutPage(b);
  b->SetIsDirty(false);
  // Checked before anything is written: nothing is, both pages stay.
  EXPECT_EQ(NativeErrorOf([&] { pm.ApplyChanges(1); }), 20085);
  EXPECT_EQ(pm.counts.write, 0);
  ASSERT_EQ(pm.SessionDirtyPages(1)->Count(), 2);
  EXPECT_TRUE(a->IsDirty());
  EXPECT_EQ(NativeErrorOf([&] { pm.CancelChanges(1); }), 20087);
  // The rollback dropped a before it stopped at b: only b is left to write.
  ASSERT_EQ(pm.SessionDirtyPages(1)->Count(), 1);
  b->SetIsDirty(true);
  pm.ApplyChanges(1);
  EXPECT_EQ(pm.counts.write, 1);
}

// Which pages the shared list holds, and what each holds.
struct SharedEntry {
  std::int32_t page_no;
  const TVEZPage* page;
  std::vector<std::uint8_t> image;
  bool operator==(const SharedEntry&) const = default;
};
std::vector<SharedEntry> SharedSnapshot(const TVEZPageManager& pm) {
  std::vector<SharedEntry> out;
  for (std::int32_t i = 0; i < pm.SharedPages().Count(); ++i) {
    const TVEZPage* p = pm.SharedPages().PageAt(i);
    out.push_back({p->PageNo(), p, {p->PageBuffer(), p->PageBuffer() + p->PageSize()}});
  }
  return out;
}

TEST_F(PageCacheTest, FailedCommitLeavesTheSharedCacheAsItWas) {
  // Session 1 changes pages 1 to 4, adds one and removes page 6, while
  // session 2 has the stored copies of 1 to 6 cached.
  std::vector<TVEZPage*> mine;
  for (int no = 1; no <= 4; ++no) {
    TVEZPage* p = pm.GetPage(1, no, kPageTypeTableRecord, false);
    p->PageData()[0] = static_cast<std::uint8_t>(0xA0 + no);
    p->SetIsDirty(true);
    pm.PutPage(p);
    mine.push_back(p);
  }
  TVEZPage* added = pm.AddPage(1, kPageTypeTableIndex);
  const std::int32_t added_no = added->PageNo();
  pm.PutPage(added);
  mine.push_back(added);
  pm.RemovePage(1, 6);
  for (int no = 1; no <= 6; ++no)
    pm.PutPage(pm.GetPage(2, no, kPageTypeTableRecord, false));
  const std::vector<SharedEntry> before = SharedSnapshot(pm);
  ASSERT_EQ(before.size(), 6u);

  pm.fail_write_page = 3;  // the third of five writes
  EXPECT_EQ(NativeErrorOf([&] { pm.ApplyChanges(1); }), 1);
  EXPECT_EQ(SharedSnapshot(pm), before);
  ASSERT_EQ(pm.SessionDirtyPages(1)->Count(), 5);
  for (std::int32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(pm.SessionDirtyPages(1)->PageAt(i), mine[static_cast<std::size_t>(i)]);
    EXPECT_TRUE(mine[static_cast<std::size_t>(i)]->IsDirty());
  }
  EXPECT_EQ(pm.counts.remove, 0);  // page 6 is released only after every write
  EXPECT_EQ(pm.stored.count(6), 1u);
  // Session 2 is still served its cached copy.
  TVEZPage* old3 = pm.GetPage(2, 3, kPageTypeTableRecord, false);
  EXPECT_EQ(old3->PageData()[0], 3);
  pm.PutPage(old3);

  // The rollback drops the work and gives the added page back.
  pm.CancelChanges(1);
  EXPECT_EQ(pm.counts.remove, 1);
  EXPECT_EQ(pm.free_numbers, (std::set<std::int32_t>{added_no}));
  EXPECT_EQ(SharedSnapshot(pm), before);
  pm.CheckNoUncommittedPages();
}

TEST_F(PageCacheTest, CommitRetriedAfterAFailureCompletes) {
  std::vector<TVEZPage*> pages;
  for (int i = 0; i < 4; ++i)
    pages.push_back(pm.AddPage(1, kPageTypeTableIndex));
  for (TVEZPage* p : pages)
    pm.PutPage(p);
  pm.fail_write_page = pages[2]->PageNo();
  EXPECT_EQ(NativeErrorOf([&] { pm.ApplyChanges(1); }), 1);
  EXPECT_EQ(pm.SessionDirtyPages(1)->Count(), 4);
  EXPECT_EQ(pm.SharedPages().Count(), 0);
  pm.fail_write_page = -2;
  pm.ApplyChanges(1);
  EXPECT_EQ(pm.counts.write, 3 + 4);
  EXPECT_EQ(pm.SessionDirtyPages(1)->Count(), 0);
  for (TVEZPage* p : pages) {
    EXPECT_EQ(pm.SharedPages().Find(p->PageNo()), p);
    EXPECT_FALSE(p->IsDirty());
  }
}

TEST_F(PageCacheTest, FailedRollbackKeepsTheWorkNotDone) {
  // A rollback stopped by a pinned page drops the pages before it only.
  std::vector<TVEZPage*> more;
  for (int i = 0; i < 3; ++i)
    more.push_back(pm.AddPage(1, kPageTypeTableIndex));
  pm.PutPage(more[0]);
  pm.PutPage(more[2]);
  EXPECT_EQ(NativeErrorOf([&] { pm.CancelChanges(1); }), 20088);
  ASSERT_EQ(pm.SessionDirtyPages(1)->Count(), 2);
  EXPECT_EQ(pm.SessionDirtyPages(1)->PageAt(0), more[1]);
  pm.PutPage(more[1]);
  pm.CancelChanges(1);
  EXPECT_EQ(pm.SessionDirtyPages(1)->Count(), 0);
  EXPECT_EQ(pm.counts.remove, 3);  // the three added pages went back
}

TEST_F(PageCacheTest, PageAddedAndRemovedIsFreedOnceWhenCommitFails) {
  TVEZPage* a = pm.AddPage(1, kPageTypeTableIndex);
  TVEZPage* b = pm.AddPage(1, kPageTypeTableIndex);
  const std::int32_t a_no = a->PageNo(), b_no = b->PageNo();
  pm.PutPage(a);
  pm.PutPage(b);
  pm.RemovePage(1, a_no);
  pm.fail_write_page = b_no;
  EXPECT_EQ(NativeErrorOf([&] { pm.ApplyChanges(1); }), 1);
  EXPECT_EQ(pm.counts.remove, 0);  // a removed page is released after the writes
  EXPECT_EQ(pm.counts.write, 1);   // a is released, never written
  pm.CancelChanges(1);
  EXPECT_EQ(pm.counts.remove, 2);  // each added page given back once
  EXPECT_EQ(pm.free_numbers, (std::set<std::int32_t>{a_no, b_no}));
}

// Records every storage operation and commit hook; any of them can be made to
// fail, and the failure hook can claim to have restored the storage.
class HookedStorage : public TMemoryPageStorage {
 public:
  HookedStorage() : TMemoryPageStorage(256) {}
  std::vector<std::string> log;
  std::string fail_at;  // a log entry that raises instead
  TVEZFailedCommitStorage answer = TVEZFailedCommitStorage::kPartlyCommitted;

  std::vector<std::int32_t> RemovedNumbers(std::int32_t session_id) const {
    return FindSessionInfo(session_id)->RemovedPageNumbers;
  }

  void InternalWritePage(TVEZPage* page) override {
    Note("write " + std::to_string(page->PageNo()));
    TMemoryPageStorage::InternalWritePage(page);
  }
  void InternalRemovePage(std::int32_t page_no) override {
    Note("release " + std::to_string(page_no));
    TMemoryPageStorage::InternalRemovePage(page_no);
  }

 protected:
  void BeforeCommitWrites(std::int32_t session_id, const TVEZCommitChanges& c) override {
    std::string entry = "before " + std::to_string(session_id) + " write";
    for (const TVEZPage* p : c.PagesToWrite)
      entry += " " + std::to_string(p->PageNo());
    entry += " added";
    for (std::int32_t no : c.AddedPageNumbers)
      entry += " " + std::to_string(no);
    entry += " removed";
    for (std::int32_t no : c.RemovedPageNumbers)
      entry += " " + std::to_string(no);
    Note(entry);
  }
  void AfterCommitWrites(std::int32_t session_id, const TVEZCommitChanges& c) override {
    Note("after " + std::to_string(session_id) + " released " + std::to_string(c.ReleasedCount));
  }
  TVEZFailedCommitStorage OnCommitFailed(std::int32_t session_id,
                                         const TVEZCommitChanges& c) noexcept override {
    log.push_back("failed " + std::to_string(session_id) + " released " +
                  std::to_string(c.ReleasedCount));
    return answer;
  }

 private:
  void Note(const std::string& entry) {
    log.push_back(entry);
    if (entry == fail_at) throw EVEZException(3, "hook failed");
  }
};

TEST(PageCacheCommitHooks, OrderAndFailurePoints) {
  struct Row {
    const char* fail_at;
    TVEZFailedCommitStorage answer;
    std::vector<std::string> log;
    std::vector<std::int32_t> removed_after;  // the session's removed numbers after the failure
    std::int32_t rollback_releases;           // InternalRemovePage calls by CancelChanges
  };
  const std::string before = "before 1 write 1 2 4 added 4 5 removed 3 5";
  const std::vector<Row> rows{
      {"",
       TVEZFailedCommitStorage::kPartlyCommitted,
       {before, "write 1", "write 2", "write 4", "release 3", "release 5", "after 1 released 2"},
       {},
       0},
      {"before 1 write 1 2 4 added 4 5 removed 3 5",
       TVEZFailedCommitStorage::kPartlyCommitted,
       {before, "failed 1 released 0"},
       {3, 5},
       2},
      {"write 2",
       TVEZFailedCommitStorage::kPartlyCommitted,
       {before, "write 1", "write 2", "failed 1 released 0"},
       {3, 5},
       2},
      {"release 5",
       TVEZFailedCommitStorage::kPartlyCommitted,
       {before, "write 1", "write 2", "write 4", "release 3", "release 5", "failed 1 released 1"},
       {5},
       2},
      {"release 5",
       TVEZFailedCommitStorage::kRestored,
       {before, "write 1", "write 2", "write 4", "release 3", "release 5", "failed 1 released 1"},
       {3, 5},
       2},
      {"after 1 released 2",
       TVEZFailedCommitStorage::kPartlyCommitted,
       {before, "write 1", "write 2", "write 4", "release 3", "release 5", "after 1 released 2",
        "failed 1 released 2"},
       {},
       1},
      {"after 1 released 2",
       TVEZFailedCommitStorage::kRestored,
       {before, "write 1", "write 2", "write 4", "release 3", "release 5", "after 1 released 2",
        "failed 1 released 2"},
       {3, 5},
       2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("fail at '") + row.fail_at + "' restored " +
                 std::to_string(row.answer == TVEZFailedCommitStorage::kRestored));
    HookedStorage pm;
    for (int no = 0; no < 4; ++no)
      pm.Store(no, kPageTypeTableRecord, static_cast<std::uint8_t>(no));
    for (int no : {2, 1, 3}) {
      TVEZPage* p = pm.GetPage(1, no, kPageTypeTableRecord, false);
      p->SetIsDirty(true);
      pm.PutPage(p);
    }
    pm.PutPage(pm.AddPage(1, kPageTypeTableIndex));  // 4
    pm.PutPage(pm.AddPage(1, kPageTypeTableIndex));  // 5, removed again
    pm.RemovePage(1, 3);
    pm.RemovePage(1, 5);
    pm.PutPage(pm.GetPage(2, 0, kPageTypeTableRecord, false));
    const std::vector<SharedEntry> shared_before = SharedSnapshot(pm);
    pm.fail_at = row.fail_at;
    pm.answer = row.answer;
    const std::int32_t error = NativeErrorOf([&] { pm.ApplyChanges(1); });
    EXPECT_EQ(pm.log, row.log);
    if (*row.fail_at == '\0') {
      EXPECT_EQ(error, 0);
      EXPECT_EQ(pm.SessionDirtyPages(1)->Count(), 0);
      EXPECT_EQ(pm.SharedPages().Count(), 4);  // 0 and the three written
      continue;
    }
    EXPECT_EQ(error, 3);
    EXPECT_EQ(SharedSnapshot(pm), shared_before);
    EXPECT_EQ(pm.SessionDirtyPages(1)->Count(), 5);
    EXPECT_EQ(pm.RemovedNumbers(1), row.removed_after);
    const std::int32_t releases_before = pm.counts.remove;
    pm.fail_at.clear();
    pm.CancelChanges(1);
    EXPECT_EQ(pm.counts.remove - releases_before, row.rollback_releases);
    pm.CheckNoUncommittedPages();
  }
}

TEST(PageCacheCommitHooks, NotCalledWithoutChanges) {
  HookedStorage pm;
  pm.Store(0, kPageTypeTableRecord, 0);
  pm.PutPage(pm.GetPage(1, 0, kPageTypeTableRecord, false));
  pm.ApplyChanges(1);
  pm.ApplyChanges(7);
  EXPECT_TRUE(pm.log.empty());
}

TEST_F(PageCacheTest, ReadsAfterEvictionSeeTheirOwnPage) {
  // Evicted pages' buffers serve later reads: each read shows its own page.
  pm.SetCacheCapacity(1);
  for (int round = 0; round < 3; ++round)
    for (int no = 0; no < 10; ++no) {
      TVEZPage* p = pm.GetPage(1, no, kPageTypeTableRecord, false);
      EXPECT_EQ(p->PageData()[0], no);
      EXPECT_EQ(p->PageData()[p->PageDataSize() - 1], no);
      EXPECT_TRUE(p->PageHeader().HasSignature());
      pm.PutPage(p);
    }
  EXPECT_EQ(pm.counts.read, 30);
  EXPECT_EQ(pm.SharedPages().Count(), 1);
}

TEST_F(PageCacheTest, CommittedPagesBeyondCapacityAreFreed) {
  pm.SetCacheCapacity(1);
  TVEZPage* a = pm.AddPage(1, kPageTypeTableIndex);
  TVEZPage* b = pm.AddPage(1, kPageTypeTableIndex);
  pm.PutPage(a);
  pm.PutPage(b);
  pm.ApplyChanges(1);
  EXPECT_EQ(pm.SharedPages().Count(), 1);
  EXPECT_EQ(pm.counts.write, 2);
}

TEST_F(PageCacheTest, SynchronizeReloadsChangedOrUnknownPages) {
  pm.synchronize = true;
  TVEZPage* p = pm.GetPage(1, 3, kPageTypeTableRecord, true);
  pm.PutPage(p);
  EXPECT_EQ(pm.counts.read, 1);
  // Unchanged stored state: kept.
  p = pm.GetPage(1, 3, kPageTypeTableRecord, true);
  pm.PutPage(p);
  EXPECT_EQ(pm.counts.read, 1);
  // Another process rewrote the page.
  pm.Store(3, kPageTypeTableRecord, 0x33, 5);
  p = pm.GetPage(1, 3, kPageTypeTableRecord, true);
  EXPECT_EQ(pm.counts.read, 2);
  EXPECT_EQ(p->PageData()[0], 0x33);
  // While this session has changed it, the copy is never replaced.
  p->SetIsDirty(true);
  p->PageData()[0] = 0x44;
  pm.Store(3, kPageTypeTableRecord, 0x55, 6);
  TVEZPage* again = pm.GetPage(1, 3, kPageTypeTableRecord, true);
  EXPECT_EQ(again->PageData()[0], 0x44);
  pm.PutPage(again);
  pm.PutPage(p);
  pm.CancelChanges(1);
  // A state that cannot be read reloads instead of trusting the copy.
  p = pm.GetPage(1, 3, kPageTypeTableRecord, true);
  pm.PutPage(p);
  const int reads = pm.counts.read;
  pm.unreadable_state[3] = 1;
  p = pm.GetPage(1, 3, kPageTypeTableRecord, true);
  EXPECT_EQ(pm.counts.read, reads + 1);
  pm.PutPage(p);
  // The reload itself failing is an error that names its cause, and the copy
  // is no longer served.
  pm.fail_read_page = 3;
  try {
    pm.GetPage(1, 3, kPageTypeTableRecord, true);
    FAIL();
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), kErrPageRead);
    EXPECT_NE(std::string(e.what()).find("Reading page 3: Input/output error"), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(pm.SharedPages().Find(3), nullptr);
}

// A read hold keeps the last pages a session got pinned and hands them out
// again without a synchronisation check; once it ends every pin is given back
// and a page changed meanwhile in storage is reloaded at its next GetPage.
TEST_F(PageCacheTest, ReadHoldKeepsItsLastPagesPinnedUntilItEnds) {
  pm.synchronize = true;
  pm.SetCacheCapacity(3);
  pm.PutPage(pm.GetPage(1, 3, kPageTypeTableRecord, true));
  ASSERT_EQ(pm.counts.read, 1);
  pm.BeginReadHold(1);
  TVEZPage* p = pm.GetPage(1, 3, kPageTypeTableRecord, true);
  pm.PutPage(p);
  EXPECT_EQ(p->UseCount(), 1);  // the hold's own pin
  // Another session waits for the page as for any pin.
  EXPECT_EQ(NativeErrorOf([&] { pm.GetPage(2, 3, kPageTypeTableRecord, true); }), 20090);
  // Rewritten in storage while held: the held copy is served unchecked.
  pm.Store(3, kPageTypeTableRecord, 0x33, 5);
  TVEZPage* again = pm.GetPage(1, 3, kPageTypeTableRecord, true);
  EXPECT_EQ(again, p);
  EXPECT_EQ(pm.counts.read, 1);
  pm.PutPage(again);
  // More pages than the hold keeps: the oldest pin is given back in turn,
  // and the cache is trimmed past the pages still held.
  for (int no = 4; no <= 8; ++no)
    pm.PutPage(pm.GetPage(1, no, kPageTypeTableRecord, true));
  // Page 3's pin went back first, and the trim may then have freed it.
  const TVEZPage* three = pm.SharedPages().Find(3);
  EXPECT_TRUE(three == nullptr || three->UseCount() == 0);
  int pinned = 0;
  for (std::int32_t i = 0; i < pm.SharedPages().Count(); ++i)
    pinned += pm.SharedPages().PageAt(i)->UseCount();
  EXPECT_EQ(pinned, 4);  // 5 to 8
  EXPECT_LE(pm.SharedPages().Count(), 4);
  pm.EndReadHold();
  for (std::int32_t i = 0; i < pm.SharedPages().Count(); ++i)
    EXPECT_EQ(pm.SharedPages().PageAt(i)->UseCount(), 0);
  EXPECT_LE(pm.SharedPages().Count(), 4);
  // After the hold the rewritten page is reloaded, and the other session may
  // have it.
  const int reads = pm.counts.read;
  TVEZPage* reloaded = pm.GetPage(1, 3, kPageTypeTableRecord, true);
  EXPECT_EQ(pm.counts.read, reads + 1);
  EXPECT_EQ(reloaded->PageData()[0], 0x33);
  pm.PutPage(reloaded);
  pm.PutPage(pm.GetPage(2, 3, kPageTypeTableRecord, true));
  // While a savepoint is open no hold is taken: each page's first GetPage
  // must reach the savepoint's notes.
  pm.BeginSavepoint(1);
  pm.BeginReadHold(1);
  TVEZPage* noted = pm.GetPage(1, 5, kPageTypeTableRecord, true);
  pm.PutPage(noted);
  EXPECT_EQ(noted->UseCount(), 0);
  pm.EndReadHold();
  pm.ReleaseSavepoint(1);
  // A session that applies its changes after a hold ended finds no pin left.
  pm.BeginReadHold(1);
  pm.PutPage(pm.GetPage(1, 6, kPageTypeTableRecord, true));
  pm.EndReadHold();
  EXPECT_NO_THROW(pm.ApplyChanges(1));
}

// The states and stored bytes of pages added through a fresh manager while
// a source seeded with seed is installed.
std::pair<std::vector<std::int32_t>, std::map<std::int32_t, std::vector<std::uint8_t>>>
AddPagesSeeded(std::uint64_t seed) {
  platform::SeededRandom source(seed);
  platform::ScopedRandom installed(source);
  TMemoryPageStorage pm(256);
  std::vector<std::int32_t> states;
  for (int i = 0; i < 8; ++i) {
    TVEZPage* p = pm.AddPage(1, kPageTypeTableIndex);
    states.push_back(p->PageHeader().State());
    pm.PutPage(p);
  }
  pm.ApplyChanges(1);
  return {states, pm.stored};
}

TEST(PageCacheStates, NewPagesTakeTheirStatesFromTheInstalledSource) {
  const auto first = AddPagesSeeded(11);
  const auto again = AddPagesSeeded(11);
  EXPECT_EQ(first.first, again.first);
  EXPECT_EQ(first.second, again.second);  // byte for byte
  platform::SeededRandom expected(11);
  for (const std::int32_t state : first.first)
    EXPECT_EQ(state, expected.Random(kInitialPageStateRange));
  EXPECT_NE(AddPagesSeeded(12).first, first.first);
}

TEST(PageCacheStates, WrittenStatesWrapAndNeverMarkAFreedPage) {
  const struct {
    std::int32_t state, next;
  } rows[] = {
      {0, 1},
      {41, 42},
      {kInitialPageStateRange - 1, kInitialPageStateRange},
      {kLastWrittenPageState - 1, kLastWrittenPageState},
      {kLastWrittenPageState, 0},
      {0x7FFFFFFD, 0},
      {0x7FFFFFFE, 0},
      {kFreedPageState, 0},  // no overflow error for a freed or damaged page
      {-1, 0},
      {std::numeric_limits<std::int32_t>::min(), 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.state);
    EXPECT_EQ(NextPageState(row.state), row.next);
  }
  static_assert(kLastWrittenPageState < kFreedPageState);
}

class NoNumberStorage : public TMemoryPageStorage {
 public:
  void InternalAddPage(TVEZPage*) override {}
};

TEST(PageCacheErrors, AddedPageWithoutNumber) {
  NoNumberStorage pm;
  EXPECT_EQ(NativeErrorOf([&] { pm.AddPage(1, kPageTypeTableIndex); }), 20064);
  pm.CheckNoUncommittedPages();
}

}  // namespace
}  // namespace vez

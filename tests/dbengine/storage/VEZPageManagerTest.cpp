#include "dbengine/storage/VEZPageManager.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
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
    EXPECT_EQ(e.NativeError(), 20299);
    EXPECT_STREQ(e.what(),
                 "Error reading database file page. Page No: 5, type 10 - Native error: 20299");
  }
  EXPECT_EQ(pm.SharedPages().Find(5), nullptr);
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
  EXPECT_EQ(NativeErrorOf([&] { pm.ApplyChanges(1); }), 20085);
  // The first page was written and moved on; the failing one stays.
  EXPECT_EQ(pm.counts.write, 1);
  ASSERT_EQ(pm.SessionDirtyPages(1)->Count(), 1);
  EXPECT_EQ(pm.SessionDirtyPages(1)->PageAt(0), b);
  EXPECT_EQ(NativeErrorOf([&] { pm.CancelChanges(1); }), 20087);
  b->SetIsDirty(true);
  pm.ApplyChanges(1);
  EXPECT_EQ(pm.counts.write, 2);
}

TEST_F(PageCacheTest, FailedCommitOrRollbackKeepsTheWorkNotDone) {
  std::vector<TVEZPage*> pages;
  for (int i = 0; i < 4; ++i)
    pages.push_back(pm.AddPage(1, kPageTypeTableIndex));
  for (TVEZPage* p : pages)
    pm.PutPage(p);
  // The third write fails: the first two are committed and shared, the rest
  // wait in the dirty list for a retry.
  pm.fail_write_page = pages[2]->PageNo();
  EXPECT_EQ(NativeErrorOf([&] { pm.ApplyChanges(1); }), 1);
  ASSERT_EQ(pm.SessionDirtyPages(1)->Count(), 2);
  EXPECT_EQ(pm.SessionDirtyPages(1)->PageAt(0), pages[2]);
  EXPECT_EQ(pm.SessionDirtyPages(1)->PageAt(1), pages[3]);
  EXPECT_EQ(pm.SharedPages().Find(pages[0]->PageNo()), pages[0]);
  EXPECT_FALSE(pages[0]->IsDirty());
  pm.fail_write_page = -2;
  pm.ApplyChanges(1);
  EXPECT_EQ(pm.counts.write, 5);
  EXPECT_EQ(pm.SessionDirtyPages(1)->Count(), 0);

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
  EXPECT_EQ(pm.counts.remove, 1);  // a went back to free space at once
  pm.CancelChanges(1);
  EXPECT_EQ(pm.counts.remove, 2);  // only b is given back by the rollback
  EXPECT_EQ(pm.free_numbers, (std::set<std::int32_t>{a_no, b_no}));
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
  // The reload itself failing is an error.
  pm.fail_read_page = 3;
  EXPECT_EQ(NativeErrorOf([&] { pm.GetPage(1, 3, kPageTypeTableRecord, true); }), 20299);
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

// Savepoints of the page cache: one operation's page changes undone alone,
// with earlier uncommitted work of the session kept, on a storage with its
// own page copies (the test storage, as the disk engine) and on storages
// whose cached pages work on the stored image (the memory and temporary
// engines). A random model drives changes, additions, removals, commits,
// cancels and nested savepoints against a std::map of what each page holds.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/storage/VEZMemoryPageManager.h"
#include "dbengine/storage/VEZPageManager.h"
#include "dbengine/storage/VEZTemporaryPageManager.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/MemoryPageStorage.h"
#include "tests/dbengine/storage/TemporaryTestSupport.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

constexpr std::int32_t kSession = 3;
constexpr std::uint16_t kType = kPageTypeTableIndex;

// Every data byte of the page is fill; an enlarged page keeps its growth.
void Fill(TVEZPageManager& pm, std::int32_t page_no, std::uint8_t fill, bool enlarge = false) {
  TVEZPage* page = pm.GetPage(kSession, page_no, kPageTypeAny, true);
  if (enlarge) page->EnlargePageBuffer(pm.PageSize() + 64);
  std::memset(page->PageData(), fill, pm.PageDataSize());
  page->SetIsDirty(true);
  pm.PutPage(page);
}

std::int32_t Add(TVEZPageManager& pm, std::uint8_t fill) {
  TVEZPage* page = pm.AddPage(kSession, kType);
  std::memset(page->PageData(), fill, pm.PageDataSize());
  const std::int32_t no = page->PageNo();
  pm.PutPage(page);
  return no;
}

// The first data byte, and whether every data byte equals it.
std::pair<std::uint8_t, bool> Read(TVEZPageManager& pm, std::int32_t session,
                                   std::int32_t page_no) {
  TVEZPage* page = pm.GetPage(session, page_no, kPageTypeAny, true);
  const std::uint8_t first = page->PageData()[0];
  bool same = true;
  for (std::int32_t i = 0; i < pm.PageDataSize(); ++i)
    same = same && page->PageData()[i] == first;
  pm.PutPage(page);
  return {first, same};
}

// A page storage under test, with what it can say about a page number.
struct TStorage {
  std::string name;
  std::function<std::unique_ptr<TVEZPageManager>()> make;
  // Whether page_no is taken in the storage.
  std::function<bool(TVEZPageManager&, std::int32_t)> taken;
};

void PrintTo(const TStorage& storage, std::ostream* os) {
  *os << storage.name;
}

std::vector<TStorage> Storages() {
  return {
      {"OwnCopies", [] { return std::make_unique<test::TMemoryPageStorage>(512, 40); },
       [](TVEZPageManager& pm, std::int32_t no) {
         return static_cast<test::TMemoryPageStorage&>(pm).stored.count(no) > 0;
       }},
      {"MemoryEngine", [] { return std::make_unique<TVEZMemoryPageManager>(); },
       [](TVEZPageManager& pm, std::int32_t no) {
         return static_cast<TVEZMemoryPageManager&>(pm).IsPageAllocated(no);
       }},
      {"TemporaryEngine", [] { return std::make_unique<TVEZTemporaryPageManager>(true); },
       [](TVEZPageManager& pm, std::int32_t no) {
         return static_cast<TVEZTemporaryPageManager&>(pm).IsPageAllocated(no);
       }},
  };
}

class PageSavepointTest : public ::testing::TestWithParam<TStorage> {
 protected:
  void SetUp() override { pm_ = GetParam().make(); }
  void TearDown() override {
    if (pm_ != nullptr && pm_->SavepointDepth(kSession) == 0) pm_->CancelChanges(kSession);
  }
  TVEZPageManager& pm() { return *pm_; }
  bool Taken(std::int32_t no) { return GetParam().taken(*pm_, no); }

  std::unique_ptr<TVEZPageManager> pm_;
};

TEST_P(PageSavepointTest, RollbackUndoesOnlyTheChangesMadeSinceItOpened) {
  // Committed: pages a (1) and b (2). Uncommitted before the savepoint: a is 3.
  const std::int32_t a = Add(pm(), 1);
  const std::int32_t b = Add(pm(), 2);
  const std::int32_t gone = Add(pm(), 9);
  pm().ApplyChanges(kSession);
  Fill(pm(), a, 3);
  pm().BeginSavepoint(kSession);
  Fill(pm(), a, 4, true);  // dirty before: its image comes back
  Fill(pm(), b, 5);        // clean before: the stored page comes back
  const std::int32_t added = Add(pm(), 6);
  pm().RemovePage(kSession, gone);
  EXPECT_EQ(Read(pm(), kSession, a).first, 4);
  pm().RollbackToSavepoint(kSession);
  EXPECT_EQ(pm().SavepointDepth(kSession), 0u);
  EXPECT_EQ(Read(pm(), kSession, a), std::make_pair(std::uint8_t{3}, true));
  EXPECT_EQ(Read(pm(), kSession, b), std::make_pair(std::uint8_t{2}, true));
  EXPECT_FALSE(Taken(added)) << "the added page went back to the storage";
  // The commit writes the work from before the savepoint, and keeps the
  // page whose removal was undone.
  pm().ApplyChanges(kSession);
  EXPECT_EQ(Read(pm(), kSession + 1, a), std::make_pair(std::uint8_t{3}, true));
  EXPECT_EQ(Read(pm(), kSession + 1, b), std::make_pair(std::uint8_t{2}, true));
  EXPECT_TRUE(Taken(gone));
  EXPECT_EQ(Read(pm(), kSession + 1, gone).first, 9);
}

TEST_P(PageSavepointTest, ReleaseKeepsTheChangesForTheEnclosingSavepoint) {
  const std::int32_t a = Add(pm(), 1);
  pm().ApplyChanges(kSession);
  pm().BeginSavepoint(kSession);
  Fill(pm(), a, 2);
  pm().BeginSavepoint(kSession);
  Fill(pm(), a, 3);
  const std::int32_t added = Add(pm(), 4);
  pm().ReleaseSavepoint(kSession);
  EXPECT_EQ(Read(pm(), kSession, a).first, 3);
  EXPECT_TRUE(Taken(added));
  // The outer savepoint covers the released inner one's changes as well.
  pm().RollbackToSavepoint(kSession);
  EXPECT_EQ(Read(pm(), kSession, a).first, 1);
  EXPECT_FALSE(Taken(added));
  // An inner rollback keeps what the outer savepoint's scope did before it.
  pm().BeginSavepoint(kSession);
  Fill(pm(), a, 5);
  pm().BeginSavepoint(kSession);
  Fill(pm(), a, 6);
  pm().RollbackToSavepoint(kSession);
  EXPECT_EQ(Read(pm(), kSession, a).first, 5);
  pm().ReleaseSavepoint(kSession);
  pm().ApplyChanges(kSession);
  EXPECT_EQ(Read(pm(), kSession + 1, a).first, 5);
}

TEST_P(PageSavepointTest, RandomWorkAgreesWithAModel) {
  std::mt19937 rng(17);
  // What the session sees, and the views to go back to (innermost last).
  std::map<std::int32_t, std::uint8_t> view;
  std::vector<std::map<std::int32_t, std::uint8_t>> marks;
  std::set<std::int32_t> removed;
  const auto check = [&] {
    for (const auto& [no, fill] : view) {
      SCOPED_TRACE(no);
      ASSERT_EQ(Read(pm(), kSession, no), std::make_pair(fill, true));
      ASSERT_TRUE(Taken(no));
    }
  };
  for (int step = 0; step < 3000; ++step) {
    const int op = static_cast<int>(rng() % 100);
    const auto fill = static_cast<std::uint8_t>(rng());
    if (op < 30 && !view.empty()) {
      auto it = std::next(view.begin(), static_cast<long>(rng() % view.size()));
      Fill(pm(), it->first, fill, rng() % 8 == 0);
      it->second = fill;
    } else if (op < 50) {
      const std::int32_t no = Add(pm(), fill);
      ASSERT_FALSE(view.count(no)) << "a page number in use was handed out again";
      view[no] = fill;
    } else if (op < 58 && !view.empty()) {
      auto it = std::next(view.begin(), static_cast<long>(rng() % view.size()));
      pm().RemovePage(kSession, it->first);
      removed.insert(it->first);
      view.erase(it);
    } else if (op < 72 && marks.size() < 4) {
      pm().BeginSavepoint(kSession);
      marks.push_back(view);
    } else if (op < 84 && !marks.empty()) {
      pm().RollbackToSavepoint(kSession);
      for (const auto& [no, f] : marks.back())
        if (!view.count(no)) removed.erase(no);
      view = marks.back();
      marks.pop_back();
    } else if (op < 94 && !marks.empty()) {
      pm().ReleaseSavepoint(kSession);
      marks.pop_back();
    } else if (marks.empty()) {
      pm().ApplyChanges(kSession);
      for (const std::int32_t no : removed)
        ASSERT_FALSE(Taken(no)) << "a removed page is released by the commit";
      removed.clear();
    }
    if (step % 25 == 0) {
      SCOPED_TRACE(step);
      check();
      if (HasFatalFailure()) return;
    }
  }
  while (!marks.empty()) {
    pm().ReleaseSavepoint(kSession);
    marks.pop_back();
  }
  pm().ApplyChanges(kSession);
  check();
}

TEST_P(PageSavepointTest, AnImageThatCannotBeKeptFailsTheGetAndPinsNothing) {
  const std::int32_t a = Add(pm(), 1);
  Fill(pm(), a, 2);  // dirty: its image must be kept
  pm().BeginSavepoint(kSession);
  {
    test::ScopedMemoryLimit limit(MemoryManager().TotalMemAllocated());
    EXPECT_THROW(pm().GetPage(kSession, a, kPageTypeAny, true), EVEZException);
  }
  pm().RollbackToSavepoint(kSession);
  EXPECT_EQ(Read(pm(), kSession, a).first, 2);
  pm().ApplyChanges(kSession);
}

TEST_P(PageSavepointTest, RollbackWithAPinnedPageIsABrokenRule) {
  const std::int32_t a = Add(pm(), 1);
  pm().BeginSavepoint(kSession);
  TVEZPage* page = pm().GetPage(kSession, a, kPageTypeAny, true);
  EXPECT_DEBUG_DEATH(pm().RollbackToSavepoint(kSession), "pins no page");
  pm().PutPage(page);
  if (pm().SavepointDepth(kSession) > 0) pm().RollbackToSavepoint(kSession);
}

INSTANTIATE_TEST_SUITE_P(Storages, PageSavepointTest, ::testing::ValuesIn(Storages()),
                         [](const ::testing::TestParamInfo<TStorage>& info) {
                           return info.param.name;
                         });

TEST(PageSavepoint, AnAddedPageTheStorageWillNotTakeBackIsReleasedByTheCommit) {
  test::TMemoryPageStorage pm(512, 40);
  pm.BeginSavepoint(kSession);
  const std::int32_t added = Add(pm, 7);
  pm.fail_remove_page = added;
  pm.RollbackToSavepoint(kSession);
  EXPECT_TRUE(pm.stored.count(added)) << "still taken after the refused release";
  pm.fail_remove_page = -2;
  pm.ApplyChanges(kSession);
  EXPECT_FALSE(pm.stored.count(added));
}

TEST(PageSavepoint, CommitAndCancelWithAnOpenSavepointAreBrokenRules) {
  test::TMemoryPageStorage pm(512, 40);
  pm.BeginSavepoint(kSession);
  EXPECT_DEBUG_DEATH(pm.ApplyChanges(kSession), "no savepoint is open");
  EXPECT_DEBUG_DEATH(pm.CancelChanges(kSession), "no savepoint is open");
}

TEST(PageSavepoint, GivingBackAnUnpinnedPageIsABrokenRule) {
  test::TMemoryPageStorage pm(512, 40);
  TVEZPage* page = pm.AddPage(kSession, kType);
  pm.PutPage(page);
  EXPECT_DEBUG_DEATH(pm.PutPage(page), "given back as often as it was got");
  pm.CancelChanges(kSession);
}

}  // namespace
}  // namespace vez

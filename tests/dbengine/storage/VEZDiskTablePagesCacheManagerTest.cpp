#include "dbengine/storage/VEZDiskTablePagesCacheManager.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "tests/common/NativeError.h"

using vez::test::NativeErrorOf;

namespace vez {
namespace {

TEST(VEZDiskTablePagesCacheManagerTest, LockPeriodsTable) {
  TVEZDiskTablePagesCacheManager m;
  std::int32_t id = 0, state = 0;
  EXPECT_FALSE(m.GetWorkTableState(0, id, state));  // no work table yet
  m.BeginWorkWithTable(0, 4);
  EXPECT_FALSE(m.GetWorkTableState(0, id, state));
  EXPECT_EQ(state, -1);
  m.TableIsSLocked(0, 4);
  m.SetIsMostUpdatedLoaded(0, 4, 7);
  m.SetIsMostUpdatedLoaded(0, 4, 9);  // the first load of a period counts
  EXPECT_TRUE(m.GetWorkTableState(0, id, state));
  EXPECT_EQ(id, 4);
  EXPECT_EQ(state, 7);
  m.TableIsSLocked(0, 4);  // nested: only counts
  m.TableIsSUnlocked(0, 4);
  EXPECT_TRUE(m.GetWorkTableState(0, id, state));
  m.TableIsRWLocked(0, 4);
  m.TableIsSUnlocked(0, 4);
  EXPECT_TRUE(m.GetWorkTableState(0, id, state));
  m.TableIsRWUnlocked(0, 4);  // period over: reset
  EXPECT_FALSE(m.GetWorkTableState(0, id, state));
  EXPECT_EQ(state, -1);
  EXPECT_FALSE(m.GetIsMostUpdatedLoaded(0, 4));
  m.TableIsRWUnlocked(0, 4);  // no matching lock: stays at 0
  m.TableIsSLocked(0, 4);
  m.SetIsMostUpdatedLoaded(0, 4, 9);
  EXPECT_TRUE(m.GetWorkTableState(0, id, state));
  EXPECT_EQ(state, 9);
  // The work table is the last begun; ending removes the first occurrence.
  m.BeginWorkWithTable(0, 8);
  EXPECT_FALSE(m.GetWorkTableState(0, id, state));
  EXPECT_EQ(id, 8);
  m.BeginWorkWithTable(0, 4);
  m.EndWorkWithTable(0, 4);  // [4, 8, 4] becomes [8, 4]
  EXPECT_TRUE(m.GetWorkTableState(0, id, state));
  EXPECT_EQ(id, 4);
  m.EndWorkWithTable(0, 8);
  EXPECT_TRUE(m.GetWorkTableState(0, id, state));
  EXPECT_EQ(id, 4);
  // Sessions are apart; session -2 has place 0, session 5 makes 8 places.
  EXPECT_FALSE(m.GetWorkTableState(1, id, state));
  m.BeginWorkWithTable(-2, 4);
  EXPECT_FALSE(m.GetWorkTableState(-2, id, state));
  m.TableIsSLocked(5, 1);
  EXPECT_EQ(m.SessionPlaces(), 8u);
  EXPECT_EQ(NativeErrorOf([&] { m.TableIsSLocked(-3, 1); }), 20186);
}

// Random lock, unlock and load calls against a plain model of counts.
TEST(VEZDiskTablePagesCacheManagerTest, MatchesAModel) {
  struct Model {
    int s = 0, rw = 0, state = -1;
    bool loaded = false;
  };
  TVEZDiskTablePagesCacheManager m;
  std::map<std::pair<int, int>, Model> model;
  std::mt19937 rng(3);
  for (int i = 0; i < 20000; ++i) {
    const int session = static_cast<int>(rng() % 4) - 2, table = static_cast<int>(rng() % 3);
    Model& t = model[{session, table}];
    const auto reset = [&] {
      if (t.s == 0 && t.rw == 0) t.loaded = false, t.state = -1;
    };
    switch (rng() % 5) {
      case 0:
        if (t.s == 0 && t.rw == 0) reset();
        ++t.s;
        m.TableIsSLocked(session, table);
        break;
      case 1:
        if (t.s > 0) --t.s;
        reset();
        m.TableIsSUnlocked(session, table);
        break;
      case 2:
        if (t.s == 0 && t.rw == 0) reset();
        ++t.rw;
        m.TableIsRWLocked(session, table);
        break;
      case 3:
        if (t.rw > 0) --t.rw;
        reset();
        m.TableIsRWUnlocked(session, table);
        break;
      default: {
        const int state = static_cast<int>(rng() % 50);
        if (!t.loaded) t.loaded = true, t.state = state;
        m.SetIsMostUpdatedLoaded(session, table, state);
      }
    }
    m.BeginWorkWithTable(session, table);
    std::int32_t id = -9, state = -9;
    const bool trusted = m.GetWorkTableState(session, id, state);
    m.EndWorkWithTable(session, table);
    ASSERT_EQ(id, table);
    ASSERT_EQ(state, t.state);
    ASSERT_EQ(trusted, t.loaded && t.s + t.rw > 0);
    ASSERT_EQ(m.GetIsMostUpdatedLoaded(session, table), t.loaded);
  }
}

}  // namespace
}  // namespace vez

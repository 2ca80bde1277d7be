// The model test of the engines' table data: a table driven through a local
// cursor by random inserts, updates and deletes, with a std::map (slot ->
// row) as the oracle, walked in storage order and in both index orders.
// Append-only engines must refuse every update and delete and keep the record.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "tests/dbengine/storage/MemoryTableTestSupport.h"

namespace vez::test {

template <class Fx>
class TEngineTableModelTest : public ::testing::Test {
 protected:
  // Whether the engine keeps records as written (no update, no delete).
  static constexpr bool kAppendOnly =
      std::is_same_v<std::remove_reference_t<decltype(std::declval<Fx&>().Table())>,
                     TVEZTemporaryTableData>;

  Fx fx_;
  std::map<std::int32_t, TMemRow> model_;  // slot -> row
  std::int32_t next_id_ = 1;

  auto& table() { return fx_.Table(); }
  test::TTestLocalCursor& cursor() { return fx_.Cursor(); }

  void Insert(const TMemRow& r) {
    std::int32_t slot = -1;
    ASSERT_TRUE(fx_.Insert(r, slot));
    model_[slot] = r;
  }
  void Update(std::int32_t slot, const TMemRow& r, bool write_blob) {
    fx_.ReadSlot(slot);
    cursor().BeginEdit();
    fx_.Fill(r);
    if (write_blob) fx_.WriteBlob(r.blob);
    cursor().InternalPost(false);
    if (kAppendOnly) {
      // Refused, and the stored record stays as it was.
      ASSERT_EQ(cursor().ErrorCode, cecUpdateFailed);
      return;
    }
    ASSERT_EQ(cursor().ErrorCode, cecOK);
    TMemRow stored = r;
    if (!write_blob) stored.blob = model_[slot].blob;
    model_[slot] = stored;
  }
  void Delete(std::int32_t slot) {
    fx_.ReadSlot(slot);
    cursor().InternalDelete();
    if (kAppendOnly) {
      ASSERT_EQ(cursor().ErrorCode, cecDeleteFailed);
      return;
    }
    ASSERT_EQ(cursor().ErrorCode, cecOK);
    model_.erase(slot);
  }

  // The slots in the order of index_no (-1: storage order).
  std::vector<std::int32_t> Expected(std::int32_t index_no) {
    std::vector<std::int32_t> slots;
    for (const auto& [s, r] : model_)
      slots.push_back(s);
    if (index_no == 0)
      std::sort(slots.begin(), slots.end(), [&](std::int32_t x, std::int32_t y) {
        return std::tie(model_[x].a, model_[x].id) < std::tie(model_[y].a, model_[y].id);
      });
    if (index_no == 1)
      std::sort(slots.begin(), slots.end(), [&](std::int32_t x, std::int32_t y) {
        return std::tie(model_[x].name, model_[x].id) < std::tie(model_[y].name, model_[y].id);
      });
    return slots;
  }
  void UseOrder(std::int32_t index_no) {
    cursor().IndexID = index_no < 0 ? -1 : fx_.IndexID(index_no);
  }
  std::vector<std::int32_t> Walk(std::int32_t index_no, bool forward, bool check_rows) {
    UseOrder(index_no);
    if (forward)
      cursor().InternalFirst();
    else
      cursor().InternalLast();
    std::vector<std::int32_t> slots;
    for (;;) {
      const TVEZGetRecordResult r = cursor().GetRecordBuffer(forward ? grmNext : grmPrior);
      if (r != grrOK) {
        EXPECT_EQ(r, forward ? grrEOF : grrBOF);
        break;
      }
      slots.push_back(cursor().CurrentRecordID.PageNo);
      if (check_rows) {
        const TMemRow got = fx_.Current();
        const TMemRow& want = model_.at(cursor().CurrentRecordID.PageNo);
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.a, want.a);
        EXPECT_EQ(got.name, want.name);
        EXPECT_EQ(got.blob, want.blob);
      }
    }
    if (!forward) std::reverse(slots.begin(), slots.end());
    return slots;
  }
  void CheckAll(bool check_rows) {
    for (std::int32_t index_no : {-1, 0, 1}) {
      SCOPED_TRACE(index_no);
      const std::vector<std::int32_t> want = Expected(index_no);
      ASSERT_EQ(Walk(index_no, true, check_rows), want);
      ASSERT_EQ(Walk(index_no, false, false), want);
      UseOrder(index_no);
      ASSERT_EQ(table().GetRecordCount(cursor()), static_cast<std::int64_t>(want.size()));
      for (std::size_t n = 1; n <= want.size(); n += 1 + want.size() / 7) {
        table().SetRecNo(cursor(), static_cast<std::int64_t>(n));
        ASSERT_EQ(cursor().CurrentRecordID.PageNo, want[n - 1]);
        ASSERT_EQ(table().GetRecNo(cursor()), static_cast<std::int64_t>(n));
      }
    }
  }
  TMemRow RandomRow(std::mt19937& rng) {
    TMemRow r;
    r.id = next_id_++;
    r.a = static_cast<std::int32_t>(rng() % 20);
    r.name = std::string(1 + rng() % 5, static_cast<char>('a' + rng() % 4));
    const int kind = static_cast<int>(rng() % 4);
    if (kind == 1) r.blob = std::string(1 + rng() % 40, static_cast<char>('0' + rng() % 10));
    if (kind == 2) {  // several 64-byte blocks
      r.blob = std::string();
      for (std::size_t i = 0, n = 100 + rng() % 400; i < n; ++i)
        r.blob->push_back(static_cast<char>(rng()));
    }
    if (kind == 3) r.blob = std::string();  // written empty: stays NULL
    if (r.blob && r.blob->empty()) r.blob.reset();
    return r;
  }

  // Random inserts, updates and deletes (half inserts), each checked against
  // the model; every 150 steps every order is walked and checkpoint runs.
  void RunRandomOperations(std::uint32_t seed, int steps,
                           const std::function<void()>& checkpoint = {}) {
    std::mt19937 rng(seed);
    for (int step = 0; step < steps; ++step) {
      const int op = static_cast<int>(rng() % 10);
      if (op < 5 || model_.empty()) {
        Insert(RandomRow(rng));
      } else if (op < 7) {
        auto it = std::next(model_.begin(), static_cast<long>(rng() % model_.size()));
        Delete(it->first);
      } else {
        auto it = std::next(model_.begin(), static_cast<long>(rng() % model_.size()));
        TMemRow r = RandomRow(rng);
        r.id = it->second.id;
        Update(it->first, r, rng() % 2 == 0);
      }
      if (::testing::Test::HasFatalFailure()) return;
      if (step % 150 == 149) {
        SCOPED_TRACE(step);
        CheckAll(step % 300 == 299);
        if (::testing::Test::HasFatalFailure()) return;
        if (checkpoint) checkpoint();
        if (::testing::Test::HasFatalFailure()) return;
      }
    }
    CheckAll(true);
  }
};

}  // namespace vez::test

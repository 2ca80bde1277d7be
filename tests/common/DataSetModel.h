// The dataset layer's randomized model test: navigation, editing,
// bookmarks and record numbers against a vector of the stored values. Any
// dataset that shows an integer field "V", keeps new rows at the end and
// starts empty and open can run it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/dataset/DataSet.h"

namespace rvx::test {

// Runs steps random operations on ds and checks it after each one; values
// gives the stored values in order at the end. reused_bookmarks: a dataset
// whose bookmarks are record places, which a later insert may take over.
template <typename DS>
void RunDataSetModel(DS& ds, std::mt19937& rng, int steps,
                     const std::function<std::vector<int>(DS&)>& values,
                     bool reused_bookmarks = false) {
  using platform::TBookmark;
  std::vector<int> model;  // values in stored order
  int active = 0;
  bool bof = true, eof = true;
  int next_value = 1;
  std::vector<int> uids;  // identity of each model row, parallel to model
  int next_uid = 0;
  std::vector<std::pair<TBookmark, int>> marks;  // bookmark, uid
  for (int step = 0; step < steps; ++step) {
    const int op = static_cast<int>(rng() % 10);
    const int n = static_cast<int>(model.size());
    SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op));
    switch (op) {
      case 0:
      case 1: {  // append or insert, then post: the new row goes to the end
        const int v = next_value++;
        if (op == 0)
          ds.Append();
        else
          ds.Insert();
        ds.FieldByName("V").SetAsInteger(v);
        const bool via_next = rng() % 2 != 0;  // navigation posts as well
        if (via_next)
          ds.Next();
        else
          ds.Post();
        model.push_back(v);
        uids.push_back(next_uid++);
        active = static_cast<int>(model.size()) - 1;
        bof = false;
        eof = via_next;
        break;
      }
      case 2:
        ds.First();
        active = 0;
        bof = true;
        eof = n == 0;
        break;
      case 3:
        ds.Last();
        active = n == 0 ? 0 : n - 1;
        eof = true;
        bof = n == 0;
        break;
      case 4:
      case 5: {
        const int d = static_cast<int>(rng() % 5) - 2;
        const int moved = ds.MoveBy(d);
        int expect_moved = 0;
        if ((d > 0 && !eof) || (d < 0 && !bof)) {
          bof = eof = false;
          int target = active + d;
          if (target > n - 1) {
            eof = true;
            target = n - 1;
          }
          if (target < 0) {
            bof = true;
            target = 0;
          }
          expect_moved = target - active;
          active = target;
        }
        EXPECT_EQ(moved, expect_moved);
        break;
      }
      case 6:
        if (n == 0) break;
        ds.Edit();
        ds.FieldByName("V").SetAsInteger(next_value);
        ds.Post();
        model[static_cast<std::size_t>(active)] = next_value++;
        bof = eof = false;
        break;
      case 7:
        if (n == 0) break;
        ds.Delete();
        model.erase(model.begin() + active);
        uids.erase(uids.begin() + active);
        if (model.empty()) {
          active = 0;
          bof = eof = true;
        } else {
          if (active >= static_cast<int>(model.size())) active = static_cast<int>(model.size()) - 1;
          bof = eof = false;
        }
        break;
      case 8:
        if (n > 0) marks.emplace_back(ds.GetBookmark(), uids[static_cast<std::size_t>(active)]);
        break;
      case 9: {
        if (marks.empty()) break;
        const auto& [mark, uid] = marks[rng() % marks.size()];
        auto it = std::find(uids.begin(), uids.end(), uid);
        const bool valid = ds.BookmarkValid(mark);
        if (it == uids.end()) {
          // A deleted row's place may be given to a new row, whose bookmark
          // then reads the same.
          if (!reused_bookmarks) {
            EXPECT_FALSE(valid);
          }
          break;
        }
        EXPECT_TRUE(valid);
        ds.GotoBookmark(mark);
        active = static_cast<int>(it - uids.begin());
        bof = eof = false;
        break;
      }
    }
    ASSERT_EQ(ds.RecordCount(), static_cast<int>(model.size()));
    ASSERT_EQ(ds.Bof(), bof);
    ASSERT_EQ(ds.Eof(), eof);
    ASSERT_EQ(ds.IsEmpty(), model.empty());
    if (!model.empty()) {
      ASSERT_EQ(ds.FieldByName("V").AsInteger(), model[static_cast<std::size_t>(active)]);
      ASSERT_EQ(ds.RecNo(), active + 1);
    }
  }
  EXPECT_EQ(values(ds), model);
}

}  // namespace rvx::test

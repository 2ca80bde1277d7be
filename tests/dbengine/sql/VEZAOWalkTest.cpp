// The join, set-operation and grouping walks run over hand-made ordered
// inputs and over generated ones against a nested-loop model of SQL.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/sql/VEZAOGroupBy.h"
#include "dbengine/sql/VEZAOJoin.h"
#include "dbengine/sql/VEZAOUnion.h"
#include "tests/common/NativeError.h"

namespace vez {
namespace {

using test::NativeErrorOf;
using TCell = std::optional<int>;
using TRow = std::vector<TCell>;

// Rows moved like a dataset: Next at the last row sets Eof and keeps the
// last row current.
class TVecInput : public TVEZWalkInput {
 public:
  explicit TVecInput(std::vector<TRow> rows) : Rows(std::move(rows)) {}
  void First() override {
    Pos = 0;
    AtEof = Rows.empty();
  }
  void Next() override {
    if (AtEof) return;
    if (Pos + 1 < Rows.size()) {
      ++Pos;
    } else {
      AtEof = true;
    }
  }
  void Prior() override {
    if (Pos > 0 && !AtEof) --Pos;
    AtEof = Rows.empty();
  }
  bool Eof() override { return AtEof; }
  bool IsEmpty() override { return Rows.empty(); }
  std::int64_t RecordCount() override { return static_cast<std::int64_t>(Rows.size()); }
  platform::TBookmark Bookmark() override {
    platform::TBookmark b(sizeof(Pos));
    std::memcpy(b.data(), &Pos, sizeof(Pos));
    return b;
  }
  void GotoBookmark(const platform::TBookmark& b) override {
    std::memcpy(&Pos, b.data(), sizeof(Pos));
    AtEof = false;
  }
  void GetValue(std::int32_t no, TVEZVariant& value) override {
    const TCell& cell = Row()[static_cast<std::size_t>(no)];
    value.SetNull(bftSignedInt32);
    if (cell) value.SetAsInteger(*cell);
  }
  std::string ValueName(std::int32_t no) override { return "C" + std::to_string(no); }
  const TRow& Row() const { return Rows[Pos]; }

  std::vector<TRow> Rows;
  std::size_t Pos = 0;
  bool AtEof = true;
};

// Ordered by every column, NULL first, as an index over the keys reads.
std::vector<TRow> Sorted(std::vector<TRow> rows) {
  std::stable_sort(rows.begin(), rows.end(), [](const TRow& a, const TRow& b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i] == b[i]) continue;
      if (!a[i]) return true;
      if (!b[i]) return false;
      return *a[i] < *b[i];
    }
    return false;
  });
  return rows;
}

std::string Text(const std::vector<TRow>& rows) {
  std::ostringstream s;
  for (const TRow& r : rows) {
    s << "(";
    for (const TCell& c : r)
      s << (c ? std::to_string(*c) : "N") << " ";
    s << ")";
  }
  return s.str();
}

// ---- Joins. Rows are (key, aux, id); the key pair is column 0; the
// condition, when asked for, is left.aux > right.aux. A result row is
// (left id or -1, right id or -1).
using TPair = std::pair<int, int>;

std::vector<TPair> RunJoin(TVEZJoinType type, const std::vector<TRow>& left,
                           const std::vector<TRow>& right, bool keys, bool condition,
                           bool swap = false) {
  TVecInput l(Sorted(left));
  TVecInput r(Sorted(right));
  TVEZJoinWalk::TCondition cond;
  if (condition) cond = [&] { return *l.Row()[1] > *r.Row()[1]; };
  TVEZJoinWalk walk(type, swap ? &r : &l, swap ? &l : &r, keys ? 1 : 0, cond);
  std::vector<TPair> out;
  walk.DoFirst();
  for (int guard = 0; !walk.DoGetEof(); ++guard) {
    EXPECT_LT(guard, 10000) << "the walk does not end";
    if (guard >= 10000) break;
    const bool ln = swap ? walk.RightNull() : walk.LeftNull();
    const bool rn = swap ? walk.LeftNull() : walk.RightNull();
    out.emplace_back(ln ? -1 : *l.Row()[2], rn ? -1 : *r.Row()[2]);
    walk.DoNext();
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<TPair> ModelJoin(TVEZJoinType type, const std::vector<TRow>& left,
                             const std::vector<TRow>& right, bool keys, bool condition) {
  std::vector<TPair> out;
  std::vector<bool> right_used(right.size());
  for (const TRow& a : left) {
    bool used = false;
    for (std::size_t j = 0; j < right.size(); ++j) {
      const TRow& b = right[j];
      bool match = type == ajtCross || !keys || (a[0] && b[0] && *a[0] == *b[0]);
      if (condition) match = match && *a[1] > *b[1];
      if (match) {
        out.emplace_back(*a[2], *b[2]);
        used = true;
        right_used[j] = true;
      }
    }
    if (!used && (type == ajtLeftOuter || type == ajtFullOuter)) out.emplace_back(*a[2], -1);
  }
  if (type == ajtRightOuter || type == ajtFullOuter) {
    for (std::size_t j = 0; j < right.size(); ++j) {
      if (!right_used[j]) out.emplace_back(-1, *right[j][2]);
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

// (key, aux) rows get ids from base on.
std::vector<TRow> JoinRows(const std::vector<std::pair<TCell, int>>& cells, int base) {
  std::vector<TRow> rows;
  for (const auto& [key, aux] : cells) {
    rows.push_back({key, aux, base + static_cast<int>(rows.size())});
  }
  return rows;
}

const char* TypeName(TVEZJoinType t) {
  static const char* names[] = {"cross", "inner", "left", "right", "full"};
  return names[t];
}

struct TJoinCase {
  const char* name;
  TVEZJoinType type;
  std::vector<std::pair<TCell, int>> left, right;
  bool keys, condition;
  std::vector<TPair> expected;
};

TEST(VEZJoinWalk, HandMadeCases) {
  const TCell N;
  const std::vector<TJoinCase> cases = {
      {"1,2,2 x 2,2 inner gives four",
       ajtInner,
       {{1, 0}, {2, 0}, {2, 0}},
       {{2, 0}, {2, 0}},
       true,
       false,
       {{11, 20}, {11, 21}, {12, 20}, {12, 21}}},
      {"null keys never pair inner",
       ajtInner,
       {{N, 0}, {1, 0}},
       {{N, 0}, {1, 0}},
       true,
       false,
       {{11, 21}}},
      {"left null key once with nulls",
       ajtLeftOuter,
       {{N, 0}, {1, 0}},
       {{N, 0}, {1, 0}},
       true,
       false,
       {{10, -1}, {11, 21}}},
      {"right null key once with nulls",
       ajtRightOuter,
       {{N, 0}, {1, 0}},
       {{N, 0}, {1, 0}},
       true,
       false,
       {{-1, 20}, {11, 21}}},
      {"full outer two null keys",
       ajtFullOuter,
       {{N, 0}},
       {{N, 0}},
       true,
       false,
       {{-1, 20}, {10, -1}}},
      {"inner empty right", ajtInner, {{1, 0}}, {}, true, false, {}},
      {"inner empty left", ajtInner, {}, {{1, 0}}, true, false, {}},
      {"left empty right", ajtLeftOuter, {{1, 0}, {N, 0}}, {}, true, false, {{10, -1}, {11, -1}}},
      {"key plus condition", ajtInner, {{1, 5}, {1, 0}}, {{1, 3}}, true, true, {{10, 20}}},
      {"3 x 4 cross",
       ajtCross,
       {{1, 0}, {2, 0}, {3, 0}},
       {{1, 0}, {2, 0}, {3, 0}, {4, 0}},
       false,
       false,
       {}},
      {"left join condition only",
       ajtLeftOuter,
       {{1, 1}, {2, 0}},
       {{7, 0}},
       false,
       true,
       {{10, 20}, {11, -1}}},
  };
  for (const TJoinCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto left = JoinRows(c.left, 10);
    const auto right = JoinRows(c.right, 20);
    auto expected = c.expected;
    if (c.type == ajtCross) expected = ModelJoin(ajtCross, left, right, false, false);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(RunJoin(c.type, left, right, c.keys, c.condition), expected);
  }
  // The full outer pair of NULL keys comes out left row first.
  TVecInput l(JoinRows({{N, 0}}, 10));
  TVecInput r(JoinRows({{N, 0}}, 20));
  TVEZJoinWalk walk(ajtFullOuter, &l, &r, 1, {});
  walk.DoFirst();
  EXPECT_TRUE(walk.RightNull());
  walk.DoNext();
  EXPECT_TRUE(walk.LeftNull());
  walk.DoNext();
  EXPECT_TRUE(walk.DoGetEof());
}

TEST(VEZJoinWalk, CrossCountIsTheProduct) {
  TVecInput l(JoinRows({{1, 0}, {2, 0}, {3, 0}}, 0));
  TVecInput r(JoinRows({{1, 0}, {2, 0}, {3, 0}, {4, 0}}, 0));
  EXPECT_EQ(TVEZJoinWalk(ajtCross, &l, &r, 0, {}).CrossRecordCount(), 12);
  EXPECT_EQ(TVEZJoinWalk(ajtInner, &l, &r, 1, {}).CrossRecordCount(), 0);
}

TEST(VEZJoinWalk, KeyComparisonErrorBecomesTheJoinError) {
  // A key value that cannot be read raises inside the comparison.
  class TFailingInput : public TVecInput {
   public:
    using TVecInput::TVecInput;
    void GetValue(std::int32_t, TVEZVariant&) override { throw EVEZException(30000, "bad"); }
  };
  TFailingInput l(std::vector<TRow>{{1, 0, 0}});
  TVecInput r(std::vector<TRow>{{1, 0, 0}});
  TVEZJoinWalk walk(ajtInner, &l, &r, 1, {});
  EXPECT_EQ(NativeErrorOf([&] { walk.DoFirst(); }), 10328);
  TVEZUnionWalk union_walk(autIntersect, false, &l, &r, 1);
  EXPECT_EQ(NativeErrorOf([&] { union_walk.DoFirst(); }), 10335);
}

// Generated inputs of up to six rows, keys 1..3 with NULLs and duplicates,
// every join kind with and without keys and condition, and the swapped
// children of inner and full outer joins.
TEST(VEZJoinWalk, MatchesTheModelOnGeneratedInputs) {
  std::mt19937 random(52);
  auto gen = [&](int base) {
    std::vector<std::pair<TCell, int>> cells(random() % 7);
    for (auto& [key, aux] : cells) {
      const int k = static_cast<int>(random() % 4);
      key = k == 0 ? TCell{} : TCell{k};
      aux = static_cast<int>(random() % 4);
    }
    return JoinRows(cells, base);
  };
  for (int round = 0; round < 3000; ++round) {
    const auto left = gen(100);
    const auto right = gen(200);
    for (TVEZJoinType type : {ajtCross, ajtInner, ajtLeftOuter, ajtRightOuter, ajtFullOuter}) {
      for (int variant = 0; variant < 4; ++variant) {
        const bool keys = type != ajtCross && (variant & 1) == 0;
        const bool condition = type != ajtCross && (variant & 2) != 0;
        if (type != ajtCross && !keys && !condition) continue;
        for (bool swap : {false, true}) {
          if (swap && type != ajtInner && type != ajtFullOuter) continue;
          SCOPED_TRACE(std::string(TypeName(type)) + " keys=" + std::to_string(keys) +
                       " condition=" + std::to_string(condition) + " swap=" + std::to_string(swap) +
                       " left=" + Text(Sorted(left)) + " right=" + Text(Sorted(right)));
          EXPECT_EQ(RunJoin(type, left, right, keys, condition, swap),
                    ModelJoin(type, left, right, keys, condition));
        }
      }
    }
  }
}

// ---- Set operations over one- and two-column rows.
std::vector<TRow> RunUnion(TVEZUnionType type, bool all, const std::vector<TRow>& left,
                           const std::vector<TRow>& right) {
  TVecInput l(Sorted(left));
  TVecInput r(Sorted(right));
  const auto pairs = static_cast<std::int32_t>(left.empty() ? (right.empty() ? 1 : right[0].size())
                                                            : left[0].size());
  TVEZUnionWalk walk(type, all, &l, &r, pairs);
  std::vector<TRow> out;
  walk.DoFirst();
  for (int guard = 0; !walk.DoGetEof(); ++guard) {
    EXPECT_LT(guard, 10000);
    if (guard >= 10000) break;
    out.push_back(walk.ShowLeft() ? l.Row() : r.Row());
    walk.DoNext();
  }
  return Sorted(out);
}

std::vector<TRow> ModelUnion(TVEZUnionType type, bool all, const std::vector<TRow>& left,
                             const std::vector<TRow>& right) {
  std::vector<TRow> out;
  auto in = [](const std::vector<TRow>& rows, const TRow& row) {
    return std::find(rows.begin(), rows.end(), row) != rows.end();
  };
  if (type == autUnion) {
    out = left;
    out.insert(out.end(), right.begin(), right.end());
  } else {
    for (const TRow& row : left) {
      if (in(right, row) == (type == autIntersect)) out.push_back(row);
    }
  }
  out = Sorted(out);
  if (!all) out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

TEST(VEZUnionWalk, HandMadeCases) {
  const TCell N;
  auto rows = [](std::vector<TCell> cells) {
    std::vector<TRow> r;
    for (const TCell& c : cells)
      r.push_back({c});
    return r;
  };
  // The walk's rows before the distinct result table drops repeats.
  EXPECT_EQ(RunUnion(autUnion, true, rows({1}), rows({1})), rows({1, 1}));
  EXPECT_EQ(RunUnion(autIntersect, false, rows({2, 2, 3}), rows({2})), rows({2, 2}));
  EXPECT_EQ(RunUnion(autExcept, false, rows({1, 2, 2, 3}), rows({2})), rows({1, 3}));
  EXPECT_EQ(RunUnion(autExcept, false, rows({N, 1}), rows({})), rows({N, 1}));
  EXPECT_EQ(RunUnion(autIntersect, false, rows({N, 1}), rows({N})), rows({N}));
  EXPECT_EQ(RunUnion(autIntersect, false, rows({1}), rows({})), rows({}));
  EXPECT_EQ(RunUnion(autUnion, true, rows({}), rows({4, 5})), rows({4, 5}));
}

TEST(VEZUnionWalk, MatchesTheModelOnGeneratedInputs) {
  std::mt19937 random(4);
  auto gen = [&](std::size_t width) {
    std::vector<TRow> rows(random() % 7);
    for (TRow& row : rows) {
      for (std::size_t i = 0; i < width; ++i) {
        const int k = static_cast<int>(random() % 4);
        row.push_back(k == 0 ? TCell{} : TCell{k});
      }
    }
    return rows;
  };
  for (int round = 0; round < 3000; ++round) {
    const std::size_t width = 1 + random() % 2;
    const auto left = gen(width);
    const auto right = gen(width);
    for (TVEZUnionType type : {autUnion, autIntersect, autExcept}) {
      for (bool all : {false, true}) {
        SCOPED_TRACE("type=" + std::to_string(type) + " all=" + std::to_string(all) +
                     " left=" + Text(Sorted(left)) + " right=" + Text(Sorted(right)));
        auto got = RunUnion(type, all, left, right);
        // Without ALL the result table keeps each row once; INTERSECT and
        // EXCEPT keep the walk's left duplicates in their ALL form.
        if (!all) got.erase(std::unique(got.begin(), got.end()), got.end());
        const bool keeps_left_duplicates = type != autUnion || all;
        ASSERT_EQ(got, ModelUnion(type, keeps_left_duplicates && all, left, right));
      }
    }
  }
}

TEST(VEZUnionPairing, Cases) {
  auto cols = [](std::vector<std::string> names, int blob_at = -1) {
    std::vector<TVEZUnionColumn> c;
    for (auto& n : names)
      c.push_back({n, static_cast<int>(c.size()) != blob_at});
    return c;
  };
  using P = std::vector<std::pair<std::int32_t, std::int32_t>>;
  EXPECT_EQ(PairUnionColumns(cols({"A", "B", "C"}), cols({"X", "Y"}), false, nullptr, true),
            (P{{0, 0}, {1, 1}}));
  EXPECT_EQ(PairUnionColumns(cols({"A", "B", "C"}), cols({"c", "a"}), true, nullptr, true),
            (P{{0, 1}, {2, 0}}));
  // A BLOB column is left out where rows are compared, kept for UNION ALL.
  EXPECT_EQ(PairUnionColumns(cols({"A", "B"}, 1), cols({"A", "B"}), false, nullptr, true),
            (P{{0, 0}}));
  EXPECT_EQ(PairUnionColumns(cols({"A", "B"}, 1), cols({"A", "B"}), false, nullptr, false),
            (P{{0, 0}, {1, 1}}));
  const std::vector<std::string> by = {"b", "z"};
  EXPECT_EQ(PairUnionColumns(cols({"A", "B"}), cols({"B", "A"}), true, &by, true), (P{{1, 0}}));
  const std::vector<std::string> empty;
  EXPECT_EQ(NativeErrorOf([&] { PairUnionColumns(cols({"A"}), cols({"A"}), true, &empty, true); }),
            10337);
  EXPECT_EQ(NativeErrorOf([&] { PairUnionColumns(cols({"A"}), cols({"B"}), true, nullptr, true); }),
            10339);
  EXPECT_EQ(
      NativeErrorOf([&] { PairUnionColumns(cols({"A"}, 0), cols({"A"}), false, nullptr, true); }),
      10339);
}

// ---- Grouping: rows (key, value); a group row is (key, count, sum).
struct TGroupRun {
  std::vector<TRow> groups;
  int rows_read = 0;
};

TGroupRun RunGroup(const std::vector<TRow>& rows, bool grouped, bool count_all_only,
                   bool has_expressions = true) {
  TVecInput input(Sorted(rows));
  int count = 0;
  int sum = 0;
  TGroupRun run;
  TVEZGroupWalk::THooks hooks;
  hooks.InitAggregates = [&] { count = sum = 0; };
  hooks.AccumulateAggregates = [&] {
    ++count;
    ++run.rows_read;
    sum += *input.Row()[1];
  };
  hooks.IsCountAllOnly = [&] { return count_all_only; };
  hooks.SetCountAll = [&](std::int32_t n) { count = n; };
  TVEZGroupWalk walk(&input, grouped ? 1 : 0, has_expressions, hooks);
  walk.DoFirst();
  for (int guard = 0; !walk.DoGetEof(); ++guard) {
    EXPECT_LT(guard, 1000);
    if (guard >= 1000) break;
    run.groups.push_back({grouped && !input.Rows.empty() ? input.Row()[0] : TCell{}, count, sum});
    walk.DoNext();
  }
  return run;
}

TEST(VEZGroupWalk, HandMadeCases) {
  const TCell N;
  EXPECT_EQ(RunGroup({}, false, true).groups, (std::vector<TRow>{{N, 0, 0}}));
  EXPECT_EQ(RunGroup({}, false, false).groups, (std::vector<TRow>{{N, 0, 0}}));
  EXPECT_EQ(RunGroup({}, true, false).groups, (std::vector<TRow>{}));
  EXPECT_EQ(RunGroup({{7, 2}}, true, false).groups, (std::vector<TRow>{{7, 1, 2}}));
  EXPECT_EQ(RunGroup({{N, 1}, {1, 1}, {N, 2}}, true, false).groups,
            (std::vector<TRow>{{N, 2, 3}, {1, 1, 1}}));
  // COUNT(*) alone takes the record count and reads no row.
  const TGroupRun counted = RunGroup({{1, 1}, {2, 2}, {3, 3}}, false, true);
  EXPECT_EQ(counted.groups, (std::vector<TRow>{{N, 3, 0}}));
  EXPECT_EQ(counted.rows_read, 0);
}

TEST(VEZGroupWalk, MatchesTheModelOnGeneratedInputs) {
  std::mt19937 random(9);
  for (int round = 0; round < 2000; ++round) {
    std::vector<TRow> rows(random() % 9);
    std::map<TCell, std::pair<int, int>> model;
    for (TRow& row : rows) {
      const int k = static_cast<int>(random() % 4);
      row = {k == 0 ? TCell{} : TCell{k}, static_cast<int>(random() % 10)};
      auto& [count, sum] = model[row[0]];
      ++count;
      sum += *row[1];
    }
    std::vector<TRow> expected;
    for (const auto& [key, cs] : model)
      expected.push_back({key, cs.first, cs.second});
    SCOPED_TRACE(Text(Sorted(rows)));
    ASSERT_EQ(RunGroup(rows, true, false).groups, expected);
    int total = 0;
    for (const TRow& row : rows)
      total += *row[1];
    ASSERT_EQ(RunGroup(rows, false, false).groups,
              (std::vector<TRow>{{TCell{}, static_cast<int>(rows.size()), total}}));
  }
}

}  // namespace
}  // namespace vez

// TVEZVariant moves: the block changes hands as it is, so rows and parameter
// lists of values can live in standard containers.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "dbengine/foundation/VEZVariant.h"

namespace vez {
namespace {

static_assert(std::is_nothrow_move_constructible_v<TVEZVariant>);
static_assert(std::is_nothrow_move_assignable_v<TVEZVariant>);
static_assert(!std::is_copy_constructible_v<TVEZVariant>);

TEST(VEZVariantMoveTest, MoveKeepsOwnedAndLinkedBlocksAsTheyAre) {
  TVEZVariant owned;
  owned.SetAsAnsiString("shaft power");
  const void* block = owned.GetPData();
  TVEZVariant moved(std::move(owned));
  EXPECT_EQ(moved.GetPData(), block);
  EXPECT_FALSE(moved.GetIsDataLinked());
  EXPECT_EQ(moved.GetAsAnsiString(), "shaft power");
  // The moved-from value is NULL without data, keeps its type, and can be
  // reused.
  EXPECT_TRUE(owned.GetIsNull());
  EXPECT_EQ(owned.GetPData(), nullptr);
  EXPECT_EQ(owned.GetDataSize(), 0);
  EXPECT_EQ(owned.GetDataType(), moved.GetDataType());
  owned.SetAsAnsiString("again");
  EXPECT_EQ(owned.GetAsAnsiString(), "again");

  // A link stays a link to the same bytes, which still belong to their owner.
  TVEZVariant link;
  link.Assign(moved, false);
  TVEZVariant link2;
  link2 = std::move(link);
  EXPECT_TRUE(link2.GetIsDataLinked());
  EXPECT_EQ(link2.GetPData(), block);
  EXPECT_TRUE(link.GetIsNull());
  EXPECT_FALSE(link.GetIsDataLinked());

  // Assigning over an owned value releases its block (the leak check of the
  // sanitizer build sees it otherwise); over a link releases nothing.
  TVEZVariant target;
  target.SetAsInteger(7);
  target = std::move(moved);
  EXPECT_EQ(target.GetPData(), block);
  EXPECT_EQ(target.GetAsAnsiString(), "shaft power");
  link2 = std::move(owned);
  EXPECT_FALSE(link2.GetIsDataLinked());
  EXPECT_EQ(link2.GetAsAnsiString(), "again");
  EXPECT_EQ(target.GetAsAnsiString(), "shaft power");

  // Self-move keeps the value.
  TVEZVariant& same = target;
  target = std::move(same);
  EXPECT_EQ(target.GetAsAnsiString(), "shaft power");

  // A NULL value keeps its block for reuse; moving takes that along.
  TVEZVariant null_value;
  null_value.SetAsInteger(3);
  null_value.SetNull(bftSignedInt32);
  TVEZVariant took(std::move(null_value));
  EXPECT_TRUE(took.GetIsNull());
  took.SetAsInteger(4);
  EXPECT_EQ(took.GetAsInteger(), 4);
}

// A growing, shrinking vector of values against a vector of their texts.
TEST(VEZVariantMoveTest, VectorOfValuesKeepsEveryValue) {
  std::mt19937 rng(11);
  std::vector<TVEZVariant> values;
  std::vector<std::string> model;  // "" stands for NULL
  TVEZVariant anchor;
  anchor.SetAsAnsiString("linked bytes");
  for (int step = 0; step < 3000; ++step) {
    const unsigned op = rng() % 10;
    if (op < 6) {
      TVEZVariant v;
      std::string text;
      switch (rng() % 4) {
        case 0:
          v.SetAsInteger(static_cast<std::int32_t>(rng()));
          text = v.GetAsAnsiString();
          break;
        case 1:
          text = "row " + std::to_string(step) + std::string(rng() % 50, 'x');
          v.SetAsAnsiString(text);
          break;
        case 2:
          v.Assign(anchor, false);
          text = "linked bytes";
          break;
        default:
          v.SetNull(bftDouble);
          break;
      }
      const auto at = values.begin() + static_cast<std::ptrdiff_t>(rng() % (values.size() + 1));
      model.insert(model.begin() + (at - values.begin()), text);
      values.insert(at, std::move(v));
      EXPECT_TRUE(v.GetIsNull());
    } else if (op < 9 && !values.empty()) {
      const auto i = static_cast<std::ptrdiff_t>(rng() % values.size());
      values.erase(values.begin() + i);
      model.erase(model.begin() + i);
    } else if (!values.empty()) {
      // Swap two through moves.
      const std::size_t a = rng() % values.size(), b = rng() % values.size();
      std::swap(values[a], values[b]);
      std::swap(model[a], model[b]);
    }
    if (step % 100 == 0) values.shrink_to_fit();
  }
  ASSERT_EQ(values.size(), model.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(i);
    if (model[i].empty()) {
      EXPECT_TRUE(values[i].GetIsNull());
    } else {
      EXPECT_EQ(values[i].GetAsAnsiString(), model[i]);
      EXPECT_EQ(values[i].GetIsDataLinked(), model[i] == "linked bytes");
    }
  }
}

}  // namespace
}  // namespace vez

#include "dbengine/foundation/VEZSQLParams.h"

#include <gtest/gtest.h>

#include "platform/core/Exceptions.h"

namespace vez {
namespace {

TEST(VEZSQLParams, AddFindReplaceClear) {
  TVEZSQLParams params;
  EXPECT_EQ(params.Count(), 0);
  TVEZSQLParam& fresh = params.AddCreated();
  EXPECT_EQ(fresh.Name, "");
  EXPECT_TRUE(fresh.GetIsNull());
  EXPECT_EQ(fresh.GetDataType(), bftUnknown);

  fresh.Name = "Speed";
  fresh.SetAsInteger(1);
  TVEZSQLParam& twin = params.AddCreated();
  twin.Name = "SPEED";
  twin.SetAsInteger(2);
  TVEZSQLParam& other = params.AddCreated();
  other.Name = "\xC4rea";  // A-umlaut: outside a to z, so its case matters
  EXPECT_EQ(params.Count(), 3);

  // Names compare without regard to case of a to z; the first match wins.
  EXPECT_EQ(params.GetParamByName("speed"), &params.GetValue(0));
  EXPECT_EQ(params.GetParamByName("SPEED"), &params.GetValue(0));
  EXPECT_EQ(params.GetParamByName("\xC4REA"), &params.GetValue(2));
  EXPECT_EQ(params.GetParamByName("\xE4rea"), nullptr);
  EXPECT_EQ(params.GetParamByName("spee"), nullptr);
  EXPECT_EQ(params.GetParamByName(""), nullptr);

  auto replacement = std::make_unique<TVEZSQLParam>();
  replacement->Name = "Torque";
  TVEZSQLParam* raw = replacement.get();
  params.SetValue(0, std::move(replacement));
  EXPECT_EQ(&params.GetValue(0), raw);
  EXPECT_EQ(params.GetParamByName("speed"), &params.GetValue(1));

  params.Clear();
  EXPECT_EQ(params.Count(), 0);
  EXPECT_EQ(params.GetParamByName("torque"), nullptr);
}

TEST(VEZSQLParams, IndexOutsideTheListRaisesAndChangesNothing) {
  TVEZSQLParams params;
  params.AddCreated().Name = std::string("a");
  for (std::int32_t index : {-1, 1, 1000}) {
    SCOPED_TRACE(::testing::Message() << "index " << index);
    EXPECT_THROW(params.GetValue(index), platform::EListError);
    EXPECT_THROW(params.SetValue(index, std::make_unique<TVEZSQLParam>()), platform::EListError);
  }
  EXPECT_THROW(params.SetValue(0, nullptr), platform::EListError);
  ASSERT_EQ(params.Count(), 1);
  EXPECT_EQ(params.GetValue(0).Name, "a");
}

}  // namespace
}  // namespace vez

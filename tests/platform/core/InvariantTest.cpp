// The checks of rules the code relies on: silent while the rule holds, and in
// builds that keep them (the sanitizer build) a broken rule names itself and
// stops the process.
#include "platform/core/Invariant.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(InvariantTest, AKeptRuleCostsNothingAndABrokenOneStopsWithItsName) {
  int evaluated = 0;
  RVX_INVARIANT(++evaluated > 0, "counted");
#ifdef NDEBUG
  EXPECT_EQ(evaluated, 0) << "release builds compile the checks away";
#else
  EXPECT_EQ(evaluated, 1);
  EXPECT_DEATH(RVX_INVARIANT(evaluated == 2, "the answer is two"),
               "rule broken: the answer is two \\(evaluated == 2\\)");
#endif
}

}  // namespace
}  // namespace platform

// The last-resort guard around every delivered event: results pass through,
// and whatever a handler raises ends in the error box, never beyond.
#include "app/main/GuardedApplication.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/core/Exceptions.h"
#include "tests/app/support/ScriptedMessageBox.h"

namespace rvx::test {
namespace {

struct RaiseCase {
  const char* name;
  std::function<bool()> deliver;
  bool handled;
  const char* shown;  // nullptr: no box
};

TEST(GuardedApplicationTest, HandlersThatRaiseEndInTheErrorBox) {
  const RaiseCase cases[] = {
      {"handled", [] { return true; }, true, nullptr},
      {"ignored", [] { return false; }, false, nullptr},
      {"standard error", []() -> bool { throw std::runtime_error("disk full"); }, true,
       "error:disk full"},
      {"engine error", []() -> bool { throw platform::Exception("Table is locked"); }, true,
       "error:Table is locked"},
      {"anything else", []() -> bool { throw 42; }, true, "error:Unknown error."},
  };
  for (const RaiseCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedMessageBox box;
    if (c.shown != nullptr) box.ExpectErrors(1);
    EXPECT_EQ(DeliverGuarded(&box, c.deliver), c.handled);
    if (c.shown == nullptr) {
      EXPECT_TRUE(box.Log().empty());
    } else {
      ASSERT_EQ(box.Log().size(), 1u);
      EXPECT_EQ(box.Log()[0], c.shown);
    }
  }
}

// A box that fails while showing an error.
class FailingBox : public MessageBox {
 public:
  void ShowError(const std::string&) override { throw std::runtime_error("no display"); }
  bool Confirm(const std::string&) override { return false; }
};

TEST(GuardedApplicationTest, WithoutABoxOrWithAFailingOneNothingEscapes) {
  FailingBox failing;
  EXPECT_TRUE(DeliverGuarded(&failing, []() -> bool { throw std::runtime_error("x"); }));
  EXPECT_TRUE(DeliverGuarded(nullptr, []() -> bool { throw std::runtime_error("x"); }));
}

}  // namespace
}  // namespace rvx::test

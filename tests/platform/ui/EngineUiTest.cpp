#include "platform/ui/EngineUi.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/common/ScriptedEngineUi.h"

namespace platform {
namespace {

TEST(EngineUiTest, SilentUiAnswersNoAndNeverAborts) {
  EngineUi& ui = CurrentEngineUi();
  EXPECT_NE(dynamic_cast<SilentEngineUi*>(&ui), nullptr);
  std::string password = "kept";
  EXPECT_FALSE(ui.PromptPassword("db", password));
  EXPECT_EQ(password, "kept");
  EXPECT_FALSE(ui.Confirm("Repair?"));
  auto wait = ui.OpenWaitWindow("Compacting Database...");
  ASSERT_NE(wait, nullptr);
  wait->SetPercent(50);
  EXPECT_FALSE(wait->AbortRequested());
}

TEST(EngineUiTest, ScopedInstallersNestAndRestore) {
  test::ScriptedEngineUi outer, inner;
  {
    ScopedEngineUi a(outer);
    EXPECT_EQ(&CurrentEngineUi(), &outer);
    {
      ScopedEngineUi b(inner);
      EXPECT_EQ(&CurrentEngineUi(), &inner);
    }
    EXPECT_EQ(&CurrentEngineUi(), &outer);
  }
  EXPECT_NE(dynamic_cast<SilentEngineUi*>(&CurrentEngineUi()), nullptr);
}

TEST(EngineUiTest, ScriptedUiAnswersInOrderAndLogs) {
  test::ScriptedEngineUi ui;
  ScopedEngineUi scope(ui);
  ui.QueuePassword("secret");
  ui.QueuePassword(std::nullopt);
  ui.QueueConfirm(true);
  ui.ExpectInform();
  ui.ExpectReport();
  ui.AbortAtPercent(60);
  std::string p;
  EXPECT_TRUE(CurrentEngineUi().PromptPassword("RVX", p));
  EXPECT_EQ(p, "secret");
  EXPECT_FALSE(CurrentEngineUi().PromptPassword("RVX", p));
  EXPECT_TRUE(CurrentEngineUi().Confirm("Repair?"));
  CurrentEngineUi().Inform("Old format");
  auto wait = CurrentEngineUi().OpenWaitWindow("Repairing Database...");
  wait->SetPercent(50);
  EXPECT_FALSE(wait->AbortRequested());
  wait->SetPercent(75);
  EXPECT_TRUE(wait->AbortRequested());
  CurrentEngineUi().ProcessEvents();
  try {
    throw std::runtime_error("boom");
  } catch (...) {
    ReportCurrentException();
  }
  EXPECT_EQ(ui.Log(),
            (std::vector<std::string>{"password:RVX", "password:RVX", "confirm:Repair?",
                                      "inform:Old format", "wait:Repairing Database...",
                                      "percent:50", "percent:75", "events", "report:boom"}));
  ui.ExpectDone();
}

TEST(EngineUiTest, ReportOutsideAHandlerReportsNothing) {
  test::ScriptedEngineUi ui;
  ScopedEngineUi scope(ui);
  ReportCurrentException();
  EXPECT_TRUE(ui.Log().empty());
  ui.ExpectDone();
}

}  // namespace
}  // namespace platform

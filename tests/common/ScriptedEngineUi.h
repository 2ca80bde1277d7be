// Test helper: an EngineUi that answers from a script and logs every call.
// Each question takes the next queued answer of its kind; a question with no
// answer queued fails the test (and answers "no"). Install it with
// platform::ScopedEngineUi.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/EngineUi.h"

namespace platform::test {

class ScriptedEngineUi : public EngineUi {
 public:
  // Queued answers. A password of nullopt cancels the prompt.
  void QueuePassword(std::optional<std::string> password) {
    passwords_.push_back(std::move(password));
  }
  void QueueConfirm(bool yes) { confirms_.push_back(yes); }
  // Informs and reported exceptions are expected only when allowed.
  void ExpectInform(int count = 1) { informs_allowed_ += count; }
  void ExpectReport(int count = 1) { reports_allowed_ += count; }
  // The wait window asks for abort once its bar reached this percent.
  void AbortAtPercent(double percent) { abort_at_ = percent; }

  // "password:<name>", "confirm:<text>", "inform:<text>", "wait:<caption>",
  // "percent:<n>", "visible", "events", "report:<message>".
  const std::vector<std::string>& Log() const { return log_; }
  const std::vector<std::string>& Reports() const { return reports_; }

  // Everything queued was used.
  void ExpectDone() const {
    EXPECT_TRUE(passwords_.empty()) << "unused password answers";
    EXPECT_TRUE(confirms_.empty()) << "unused confirm answers";
    EXPECT_EQ(informs_allowed_, 0) << "expected informs not shown";
    EXPECT_EQ(reports_allowed_, 0) << "expected exception reports not made";
  }

  bool PromptPassword(const std::string& name, std::string& password) override {
    log_.push_back("password:" + name);
    if (passwords_.empty()) {
      ADD_FAILURE() << "unexpected password prompt for '" << name << "'";
      return false;
    }
    auto answer = std::move(passwords_.front());
    passwords_.pop_front();
    if (!answer) return false;
    password = *answer;
    return true;
  }

  bool Confirm(const std::string& message) override {
    log_.push_back("confirm:" + message);
    if (confirms_.empty()) {
      ADD_FAILURE() << "unexpected confirmation: " << message;
      return false;
    }
    const bool yes = confirms_.front();
    confirms_.pop_front();
    return yes;
  }

  void Inform(const std::string& message) override {
    log_.push_back("inform:" + message);
    if (informs_allowed_-- <= 0) ADD_FAILURE() << "unexpected information box: " << message;
  }

  std::unique_ptr<WaitWindow> OpenWaitWindow(const std::string& caption) override {
    log_.push_back("wait:" + caption);
    return std::make_unique<Window>(*this);
  }

  void ProcessEvents() override { log_.push_back("events"); }

  void ReportException(const std::exception& error) noexcept override {
    try {
      log_.push_back(std::string("report:") + error.what());
      reports_.push_back(error.what());
      if (reports_allowed_-- <= 0) ADD_FAILURE() << "unexpected exception report: " << error.what();
    } catch (...) {
    }
  }

 private:
  class Window : public WaitWindow {
   public:
    explicit Window(ScriptedEngineUi& ui) : ui_(ui) {}
    void SetPercent(double percent) override {
      ui_.log_.push_back("percent:" + std::to_string(static_cast<int>(percent)));
      if (ui_.abort_at_ && percent >= *ui_.abort_at_) aborted_ = true;
    }
    void MakeVisible() override { ui_.log_.push_back("visible"); }
    bool AbortRequested() const override { return aborted_; }

   private:
    ScriptedEngineUi& ui_;
    bool aborted_ = false;
  };

  std::deque<std::optional<std::string>> passwords_;
  std::deque<bool> confirms_;
  int informs_allowed_ = 0;
  int reports_allowed_ = 0;
  std::optional<double> abort_at_;
  std::vector<std::string> log_;
  std::vector<std::string> reports_;
};

}  // namespace platform::test

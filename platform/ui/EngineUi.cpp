#include "platform/ui/EngineUi.h"

#include <atomic>
#include <cstdio>
#include <stdexcept>

namespace platform {

namespace {

class SilentWaitWindow : public WaitWindow {
 public:
  void SetPercent(double) override {}
  void MakeVisible() override {}
  bool AbortRequested() const override { return false; }
};

SilentEngineUi& DefaultUi() {
  static SilentEngineUi ui;
  return ui;
}

std::atomic<EngineUi*> g_current{nullptr};

}  // namespace

bool SilentEngineUi::PromptPassword(const std::string&, std::string&) {
  return false;
}
bool SilentEngineUi::Confirm(const std::string&) {
  return false;
}
void SilentEngineUi::Inform(const std::string&) {}
std::unique_ptr<WaitWindow> SilentEngineUi::OpenWaitWindow(const std::string&) {
  return std::make_unique<SilentWaitWindow>();
}
void SilentEngineUi::ProcessEvents() {}
void SilentEngineUi::ReportException(const std::exception& error) noexcept {
  std::fprintf(stderr, "%s\n", error.what());
}

EngineUi& CurrentEngineUi() {
  EngineUi* ui = g_current.load(std::memory_order_acquire);
  return ui ? *ui : DefaultUi();
}

ScopedEngineUi::ScopedEngineUi(EngineUi& ui)
    : previous_(g_current.exchange(&ui, std::memory_order_acq_rel)) {}

ScopedEngineUi::~ScopedEngineUi() {
  g_current.store(previous_, std::memory_order_release);
}

void ReportCurrentException() noexcept {
  // Outside a handler there is nothing to report; the rethrow below would
  // end the process.
  if (!std::current_exception()) return;
  try {
    throw;
  } catch (const std::exception& e) {
    CurrentEngineUi().ReportException(e);
  } catch (...) {
    CurrentEngineUi().ReportException(std::runtime_error("Unknown exception"));
  }
}

}  // namespace platform

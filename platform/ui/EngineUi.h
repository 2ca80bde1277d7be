// EngineUi: what the engine and the dataset layer ask of a user interface,
// without naming one: a password prompt, a Yes/No confirmation, an
// information box, a wait window with a progress bar and an "Abort" button,
// letting queued events run during long work, and the report of an exception
// that a handler or a callback could not pass on (the platform's default
// exception box). The application installs its Qt version; without one the
// silent version answers every question with "no" and shows nothing.
//
// Thread safety: the current instance is read and replaced atomically; the
// instance itself is used from the thread that drives the engine.
#pragma once

#include <exception>
#include <memory>
#include <string>

namespace platform {

// A wait window shown during a long operation. Destroying it closes it.
class WaitWindow {
 public:
  virtual ~WaitWindow() = default;
  // Moves the progress bar; percent runs from 0 to 100.
  virtual void SetPercent(double percent) = 0;
  // Makes the window visible at once instead of after its usual delay.
  virtual void MakeVisible() = 0;
  // True once the user pressed "Abort"; stays true.
  virtual bool AbortRequested() const = 0;
};

class EngineUi {
 public:
  EngineUi() = default;
  EngineUi(const EngineUi&) = delete;
  EngineUi& operator=(const EngineUi&) = delete;
  virtual ~EngineUi() = default;

  // Asks for the password of the database `name` (may be empty). True with
  // `password` set when the user confirmed; false (password untouched) when
  // cancelled.
  virtual bool PromptPassword(const std::string& name, std::string& password) = 0;
  // A Yes/No question; true for Yes.
  virtual bool Confirm(const std::string& message) = 0;
  // An information box with OK.
  virtual void Inform(const std::string& message) = 0;
  // Shows a wait window with the caption and its bar at 0. Never null.
  virtual std::unique_ptr<WaitWindow> OpenWaitWindow(const std::string& caption) = 0;
  // Lets queued events (timers, input, readings) run once.
  virtual void ProcessEvents() = 0;
  // Shows an exception that could not be passed on to a caller.
  // Never throws.
  virtual void ReportException(const std::exception& error) noexcept = 0;
};

// Shows nothing: no password (cancel), No to every question, a wait window
// that is never aborted. Reported exceptions go to standard error, so a
// process without a user interface still leaves a trace of them.
class SilentEngineUi : public EngineUi {
 public:
  bool PromptPassword(const std::string& name, std::string& password) override;
  bool Confirm(const std::string& message) override;
  void Inform(const std::string& message) override;
  std::unique_ptr<WaitWindow> OpenWaitWindow(const std::string& caption) override;
  void ProcessEvents() override;
  void ReportException(const std::exception& error) noexcept override;
};

// The process-wide instance: the one installed last, else a silent one.
EngineUi& CurrentEngineUi();

// Installs an instance for the life of the guard and puts the previous one
// back afterwards. Guards nest; destroy them in reverse order.
class ScopedEngineUi {
 public:
  explicit ScopedEngineUi(EngineUi& ui);
  ScopedEngineUi(const ScopedEngineUi&) = delete;
  ScopedEngineUi& operator=(const ScopedEngineUi&) = delete;
  ~ScopedEngineUi();

 private:
  EngineUi* previous_;
};

// Reports the exception being handled through the current instance;
// anything that is not a std::exception is reported as "Unknown exception".
// Outside a catch block it reports nothing.
void ReportCurrentException() noexcept;

}  // namespace platform

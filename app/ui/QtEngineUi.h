// QtEngineUi: the engine's user interface callbacks shown with Qt: the
// database password dialog, Yes/No and information boxes, the wait window of
// long operations, the event pump and the exception box. The program
// installs one (platform::ScopedEngineUi) for its whole run.
//
// TVEZPassDialog: "Database authentication", the database's name above a
// password edit that shows "*" for each character, OK and Cancel.
//
// TfrmWait: "Please Wait...", a message, a progress bar (0 to 100), "Abort"
// and "Background Mode". It stays hidden for its first half second, and
// appears then only when the bar has not passed 50 (short work never
// flashes a window); MakeVisible shows it at once. While shown, the other
// windows of the program take no input. "Abort" (or Escape) asks the work
// to stop; "Background Mode" hides it and minimises the program's windows
// until the program is brought back, when the wait starts over (not
// aborted, shown after the delay if the work is not half done). Closing the
// wait brings back the program's minimised windows.
//
// Texts cross into Qt as Windows-1252.
//
// Thread safety: GUI thread only, with a QApplication in place.
#pragma once

#include <QDialog>

#include <memory>
#include <string>

#include "platform/ui/EngineUi.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace rvx {

class TVEZPassDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TVEZPassDialog(QWidget* parent = nullptr);

  QLabel* lbName;
  QLabel* Label1;
  QLineEdit* Pass;
  QPushButton* cbOk;
  QPushButton* cbCancel;
};

class TfrmWait : public QDialog {
  Q_OBJECT

 public:
  // show_delay_ms: how long the window waits before it may appear.
  explicit TfrmWait(int show_delay_ms = 500, QWidget* parent = nullptr);

  // Starts the wait with the message: not aborted, shown after the delay.
  void Show(const QString& text);
  void SetPercent(double percent);
  void MakeVisible();
  bool Terminated() const { return terminated_; }
  // Hides the window for good.
  void CloseWait();

  QLabel* lMessage;
  QPushButton* btnCancel;
  QProgressBar* pb;
  QPushButton* btnBgMode;
  QTimer* ShowTimer;

 protected:
  // Escape asks for abort instead of closing.
  void reject() override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void ShowFormOnTimer();
  void BackgroundMode();
  void ApplicationStateChanged(Qt::ApplicationState state);
  // Shows the program's minimised windows again.
  void RestoreProgram();

  bool terminated_ = false;
  bool closed_ = false;
  bool in_background_ = false;
};

class QtEngineUi : public platform::EngineUi {
 public:
  bool PromptPassword(const std::string& name, std::string& password) override;
  bool Confirm(const std::string& message) override;
  void Inform(const std::string& message) override;
  std::unique_ptr<platform::WaitWindow> OpenWaitWindow(const std::string& caption) override;
  void ProcessEvents() override;
  void ReportException(const std::exception& error) noexcept override;
};

}  // namespace rvx

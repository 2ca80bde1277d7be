#include "app/ui/QtEngineUi.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/ui/QtMessageBox.h"
#include "app/util/QtText.h"

namespace rvx {

namespace {

class QtWaitWindow : public platform::WaitWindow {
 public:
  explicit QtWaitWindow(const std::string& caption) : window_(new TfrmWait()) {
    window_->setAttribute(Qt::WA_DeleteOnClose, false);
    window_->Show(ToQString(caption));
  }
  ~QtWaitWindow() override {
    if (window_) {
      window_->CloseWait();
      delete window_;
    }
  }
  void SetPercent(double percent) override {
    if (window_) window_->SetPercent(percent);
  }
  void MakeVisible() override {
    if (window_) window_->MakeVisible();
  }
  bool AbortRequested() const override { return window_ && window_->Terminated(); }

 private:
  // Guarded: the application may destroy its windows first at shutdown.
  QPointer<TfrmWait> window_;
};

}  // namespace

TVEZPassDialog::TVEZPassDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Database authentication"));
  lbName = new QLabel(this);
  lbName->setAlignment(Qt::AlignCenter);
  Label1 = new QLabel(QStringLiteral("Password:"), this);
  Pass = new QLineEdit(this);
  Pass->setEchoMode(QLineEdit::Password);
  // Each typed character shows as "*", whatever the style's own mask.
  Pass->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
  Label1->setBuddy(Pass);
  cbOk = new QPushButton(QStringLiteral("OK"), this);
  cbOk->setDefault(true);
  cbCancel = new QPushButton(QStringLiteral("Cancel"), this);
  connect(cbOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(cbCancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* grid = new QGridLayout(this);
  grid->addWidget(lbName, 0, 0, 1, 2);
  grid->addWidget(Label1, 1, 0, 1, 2);
  grid->addWidget(Pass, 2, 0, 1, 2);
  grid->addWidget(cbOk, 3, 0);
  grid->addWidget(cbCancel, 3, 1);
  setMinimumSize(216, 118);
  Pass->setFocus();
}

TfrmWait::TfrmWait(int show_delay_ms, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowStaysOnTopHint) {
  setWindowTitle(QStringLiteral("Please Wait..."));
  setCursor(Qt::WaitCursor);
  setWindowModality(Qt::ApplicationModal);
  lMessage = new QLabel(QStringLiteral("Wait..."), this);
  lMessage->setAlignment(Qt::AlignCenter);
  lMessage->setWordWrap(true);
  pb = new QProgressBar(this);
  pb->setRange(0, 100);
  pb->setValue(0);
  pb->setTextVisible(false);
  btnCancel = new QPushButton(QStringLiteral("Abort"), this);
  btnCancel->setDefault(true);
  btnBgMode = new QPushButton(QStringLiteral("Background Mode"), this);
  ShowTimer = new QTimer(this);
  ShowTimer->setSingleShot(true);
  ShowTimer->setInterval(show_delay_ms);
  connect(ShowTimer, &QTimer::timeout, this, &TfrmWait::ShowFormOnTimer);
  connect(btnCancel, &QPushButton::clicked, this, [this] { terminated_ = true; });
  connect(btnBgMode, &QPushButton::clicked, this, &TfrmWait::BackgroundMode);
  connect(qApp, &QGuiApplication::applicationStateChanged, this,
          &TfrmWait::ApplicationStateChanged);

  auto* column = new QVBoxLayout(this);
  column->addWidget(lMessage);
  column->addWidget(pb);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  buttons->addWidget(btnCancel);
  buttons->addWidget(btnBgMode);
  buttons->addStretch();
  column->addLayout(buttons);
  resize(312, 118);
}

void TfrmWait::Show(const QString& text) {
  lMessage->setText(text);
  terminated_ = false;
  closed_ = false;
  btnCancel->setFocus();
  ShowTimer->start();
}

void TfrmWait::SetPercent(double percent) {
  if (!std::isfinite(percent)) return;
  pb->setValue(static_cast<int>(std::lround(std::clamp(percent, 0.0, 100.0))));
}

void TfrmWait::MakeVisible() {
  ShowTimer->stop();
  if (!closed_ && !in_background_) show();
}

void TfrmWait::CloseWait() {
  ShowTimer->stop();
  closed_ = true;
  in_background_ = false;
  hide();
  // The finished work brings the program back, from background mode too.
  RestoreProgram();
}

void TfrmWait::reject() {
  terminated_ = true;
}

void TfrmWait::closeEvent(QCloseEvent* event) {
  // Only CloseWait ends the window; the window manager's close asks for
  // abort as the button does.
  if (!closed_) {
    terminated_ = true;
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void TfrmWait::ShowFormOnTimer() {
  if (!closed_ && !in_background_ && pb->value() <= 50) show();
  QCoreApplication::processEvents();
}

void TfrmWait::BackgroundMode() {
  in_background_ = true;
  hide();
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != this && w->isVisible()) w->showMinimized();
  QCoreApplication::processEvents();
}

void TfrmWait::ApplicationStateChanged(Qt::ApplicationState state) {
  if (!in_background_ || state != Qt::ApplicationActive) return;
  in_background_ = false;
  RestoreProgram();
  // The wait starts over with its message: the window comes after the delay
  // if the work is not half done by then.
  if (!closed_) Show(lMessage->text());
  QCoreApplication::processEvents();
}

void TfrmWait::RestoreProgram() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != this && w->isMinimized()) w->showNormal();
}

bool QtEngineUi::PromptPassword(const std::string& name, std::string& password) {
  TVEZPassDialog dialog(QApplication::activeWindow());
  dialog.lbName->setText(ToQString(name));
  dialog.Pass->clear();
  if (dialog.exec() != QDialog::Accepted) return false;
  password = FromQString(dialog.Pass->text());
  return true;
}

bool QtEngineUi::Confirm(const std::string& message) {
  return QtMessageBox().Confirm(message);
}

void QtEngineUi::Inform(const std::string& message) {
  ShowMessageBox(QMessageBox::Information, message, QMessageBox::Ok, QMessageBox::Ok);
}

std::unique_ptr<platform::WaitWindow> QtEngineUi::OpenWaitWindow(const std::string& caption) {
  return std::make_unique<QtWaitWindow>(caption);
}

void QtEngineUi::ProcessEvents() {
  QCoreApplication::processEvents();
}

void QtEngineUi::ReportException(const std::exception& error) noexcept {
  try {
    QtMessageBox().ShowError(error.what());
  } catch (...) {
    // The box itself failed: standard error still keeps a trace.
    std::fprintf(stderr, "%s\n", error.what());
  }
}

}  // namespace rvx

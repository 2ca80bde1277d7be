// The engine's Qt user interface on the offscreen platform: every callback
// is answered through its widgets, as a user would answer it.
#include "app/ui/QtEngineUi.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <stdexcept>

#include "app/ui/QtMessageBox.h"
#include "tests/app/support/QtTestApplication.h"
#include "tests/app/support/ScriptedMessageBox.h"

namespace rvx {
namespace {

// Runs `answer` on the next modal window once it is up (checked every 10 ms
// while the modal loop runs). The test fails if none comes.
class ModalAnswer : public QObject {
 public:
  explicit ModalAnswer(std::function<void(QWidget*)> answer) : answer_(std::move(answer)) {
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || done_) return;
      done_ = true;
      timer_.stop();
      answer_(modal);
    });
    timer_.start();
  }
  ~ModalAnswer() override { EXPECT_TRUE(done_) << "no modal window came up"; }

 private:
  std::function<void(QWidget*)> answer_;
  QTimer timer_;
  bool done_ = false;
};

// Clicks a standard button of the message box that is up, after checking
// its icon and text.
std::function<void(QWidget*)> ClickBox(QMessageBox::Icon icon, const QString& text,
                                       QMessageBox::StandardButton button) {
  return [=](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr) << "not a message box";
    EXPECT_EQ(box->icon(), icon);
    EXPECT_EQ(box->text(), text);
    ASSERT_NE(box->button(button), nullptr);
    QTest::mouseClick(box->button(button), Qt::LeftButton);
  };
}

class QtEngineUiTest : public ::testing::Test {
 protected:
  void SetUp() override { test::EnsureQtApplication(); }
  QtEngineUi ui_;
};

TEST_F(QtEngineUiTest, PasswordTypedAndConfirmed) {
  QImage before, after;
  ModalAnswer answer([&](QWidget* modal) {
    auto* dialog = qobject_cast<TVEZPassDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Database authentication"));
    EXPECT_EQ(dialog->lbName->text(), QStringLiteral("Sea Trials"));
    EXPECT_EQ(dialog->Pass->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog->Pass->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr,
                                               dialog->Pass),
              '*');
    before = dialog->Pass->grab().toImage();
    QTest::keyClicks(dialog->Pass, QStringLiteral("Geh"));
    // A letter beyond ASCII arrives as the text of a key event.
    QKeyEvent e_acute(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("\u00e9"));
    QApplication::sendEvent(dialog->Pass, &e_acute);
    QTest::keyClicks(dialog->Pass, QStringLiteral("im"));
    after = dialog->Pass->grab().toImage();
    QTest::mouseClick(dialog->cbOk, Qt::LeftButton);
  });
  std::string password = "old";
  EXPECT_TRUE(ui_.PromptPassword("Sea Trials", password));
  EXPECT_EQ(password, "Geh\xE9im");  // Windows-1252
  // Something (the masking characters) was drawn for the typed letters.
  EXPECT_NE(before, after);
}

TEST_F(QtEngineUiTest, PasswordCancelledLeavesThePasswordAlone) {
  ModalAnswer answer([](QWidget* modal) {
    auto* dialog = qobject_cast<TVEZPassDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    QTest::keyClicks(dialog->Pass, QStringLiteral("typed"));
    QTest::mouseClick(dialog->cbCancel, Qt::LeftButton);
  });
  std::string password = "kept";
  EXPECT_FALSE(ui_.PromptPassword("", password));
  EXPECT_EQ(password, "kept");
}

TEST_F(QtEngineUiTest, ConfirmAnswersYesAndNo) {
  for (auto [button, expected] :
       {std::pair{QMessageBox::Yes, true}, std::pair{QMessageBox::No, false}}) {
    SCOPED_TRACE(expected);
    ModalAnswer answer(ClickBox(QMessageBox::Question,
                                QStringLiteral("Repair the table \u00ab Runs \u00bb?"), button));
    EXPECT_EQ(ui_.Confirm("Repair the table \xAB Runs \xBB?"), expected);
  }
}

TEST_F(QtEngineUiTest, InformShowsTheMessage) {
  ModalAnswer answer(
      ClickBox(QMessageBox::Information, QStringLiteral("Database repaired."), QMessageBox::Ok));
  ui_.Inform("Database repaired.");
}

TEST_F(QtEngineUiTest, ExceptionsAreShownInTheErrorBox) {
  {
    ModalAnswer answer(ClickBox(QMessageBox::Critical, QStringLiteral("Caf\u00e9 table is locked"),
                                QMessageBox::Ok));
    ui_.ReportException(std::runtime_error("Caf\xE9 table is locked"));
  }
  // Through the process-wide instance: anything not a std::exception.
  platform::ScopedEngineUi installed(ui_);
  ModalAnswer answer(
      ClickBox(QMessageBox::Critical, QStringLiteral("Unknown exception"), QMessageBox::Ok));
  try {
    throw 42;
  } catch (...) {
    platform::ReportCurrentException();
  }
}

TEST_F(QtEngineUiTest, ProcessEventsRunsQueuedWork) {
  bool ran = false;
  QMetaObject::invokeMethod(
      qApp, [&] { ran = true; }, Qt::QueuedConnection);
  EXPECT_FALSE(ran);
  ui_.ProcessEvents();
  EXPECT_TRUE(ran);
}

// The wait window that is up, if any.
TfrmWait* VisibleWaitWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* wait = qobject_cast<TfrmWait*>(w); wait && wait->isVisible()) return wait;
  return nullptr;
}

TEST_F(QtEngineUiTest, WaitWindowShowsProgressAndTakesAbort) {
  std::unique_ptr<platform::WaitWindow> wait = ui_.OpenWaitWindow("Compacting Database...");
  EXPECT_EQ(VisibleWaitWindow(), nullptr);  // not before its delay
  wait->MakeVisible();
  QPointer<TfrmWait> window = VisibleWaitWindow();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Please Wait..."));
  EXPECT_EQ(window->lMessage->text(), QStringLiteral("Compacting Database..."));
  // The other windows take no input while it is up.
  EXPECT_EQ(QApplication::activeModalWidget(), window.data());

  const QImage at_zero = window->pb->grab().toImage();
  wait->SetPercent(60.4);
  EXPECT_EQ(window->pb->value(), 60);
  const QImage at_sixty = window->pb->grab().toImage();
  EXPECT_NE(at_zero, at_sixty);  // the bar has filled
  wait->SetPercent(250);
  EXPECT_EQ(window->pb->value(), 100);

  EXPECT_FALSE(wait->AbortRequested());
  QTest::keyClick(window, Qt::Key_Escape);  // Escape asks for abort, closes nothing
  EXPECT_TRUE(wait->AbortRequested());
  EXPECT_TRUE(window->isVisible());
  wait.reset();
  EXPECT_TRUE(window.isNull());
  EXPECT_EQ(VisibleWaitWindow(), nullptr);
}

TEST_F(QtEngineUiTest, AbortButton) {
  std::unique_ptr<platform::WaitWindow> wait = ui_.OpenWaitWindow("Repairing Database...");
  wait->MakeVisible();
  TfrmWait* window = VisibleWaitWindow();
  ASSERT_NE(window, nullptr);
  QTest::mouseClick(window->btnCancel, Qt::LeftButton);
  EXPECT_TRUE(wait->AbortRequested());
}

TEST_F(QtEngineUiTest, WaitWindowAppearsOnlyForWorkNotHalfDone) {
  for (auto [percent, shown] : {std::pair{40.0, true}, std::pair{60.0, false}}) {
    SCOPED_TRACE(percent);
    TfrmWait window(0);
    window.Show(QStringLiteral("Wait"));
    window.SetPercent(percent);
    for (int i = 0; i < 500 && window.ShowTimer->isActive(); ++i)
      QTest::qWait(10);
    ASSERT_FALSE(window.ShowTimer->isActive());
    EXPECT_EQ(window.isVisible(), shown);
    window.CloseWait();
  }
}

TEST_F(QtEngineUiTest, BackgroundModeHidesTheWindowAndMinimisesTheProgram) {
  QWidget main_window;
  main_window.resize(300, 200);
  main_window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&main_window));
  TfrmWait window;
  window.Show(QStringLiteral("Changing Database Settings..."));
  window.MakeVisible();
  QTest::mouseClick(window.btnBgMode, Qt::LeftButton);
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(main_window.isMinimized());
  window.MakeVisible();  // stays in the background until the program comes back
  EXPECT_FALSE(window.isVisible());
  window.CloseWait();
}

// Ending the wait brings the program back from the background.
TEST_F(QtEngineUiTest, ClosingTheWaitRestoresTheProgram) {
  QWidget main_window;
  main_window.resize(300, 200);
  main_window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&main_window));
  TfrmWait window;
  window.Show(QStringLiteral("Compacting Database..."));
  window.MakeVisible();
  QTest::mouseClick(window.btnBgMode, Qt::LeftButton);
  ASSERT_TRUE(main_window.isMinimized());
  window.CloseWait();
  EXPECT_FALSE(main_window.isMinimized());
  EXPECT_FALSE(window.isVisible());
}

// Coming back from the background starts the wait over with the current
// message: not aborted, and shown after the delay only while the work is
// not half done.
TEST_F(QtEngineUiTest, ProgramBackFromTheBackgroundStartsTheWaitOver) {
  for (auto [percent, shown] : {std::pair{40.0, true}, std::pair{60.0, false}}) {
    SCOPED_TRACE(percent);
    QWidget main_window;
    main_window.resize(300, 200);
    main_window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main_window));
    TfrmWait window(50);
    window.Show(QStringLiteral("Repairing Database..."));
    window.MakeVisible();
    window.SetPercent(percent);
    QTest::keyClick(&window, Qt::Key_Escape);
    ASSERT_TRUE(window.Terminated());
    QTest::mouseClick(window.btnBgMode, Qt::LeftButton);
    ASSERT_TRUE(main_window.isMinimized());

    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_FALSE(main_window.isMinimized());
    EXPECT_FALSE(window.Terminated());
    EXPECT_EQ(window.lMessage->text(), QStringLiteral("Repairing Database..."));
    EXPECT_FALSE(window.isVisible());  // not before its delay
    for (int i = 0; i < 500 && window.ShowTimer->isActive(); ++i)
      QTest::qWait(10);
    ASSERT_FALSE(window.ShowTimer->isActive());
    EXPECT_EQ(window.isVisible(), shown);
    window.CloseWait();
  }
}

class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void Open(const QUrl& url) { urls.append(url); }
};

TEST_F(QtEngineUiTest, ShellOpensFilesThroughTheDesktop) {
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
  QtShell shell;
  EXPECT_TRUE(shell.Open("/srv/RVX/reports/Run 1.pdf"));
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  ASSERT_EQ(catcher.urls.size(), 1);
  EXPECT_EQ(catcher.urls[0].toLocalFile(), QStringLiteral("/srv/RVX/reports/Run 1.pdf"));
}

// The test printer names its PDF after the document, a Windows-1252 text.
TEST_F(QtEngineUiTest, RecordingPrinterTitlesThePdfWithTheDocumentName) {
  const QString pdfinfo = QStandardPaths::findExecutable(QStringLiteral("pdfinfo"));
  if (pdfinfo.isEmpty()) GTEST_SKIP() << "pdfinfo (poppler-utils) is not installed";
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString pdf = dir.filePath(QStringLiteral("printed.pdf"));
  test::RecordingPrinter printer(QFile::encodeName(pdf).toStdString());
  printer.Print("Caf\xE9 Run", [](QPagedPaintDevice& device) {
    QPainter painter(&device);
    painter.drawText(100, 100, QStringLiteral("Run"));
  });
  ASSERT_EQ(printer.Documents().size(), 1u);
  QProcess info;
  info.start(pdfinfo, {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf});
  ASSERT_TRUE(info.waitForFinished());
  QString title;
  for (const QString& line : QString::fromUtf8(info.readAllStandardOutput()).split('\n'))
    if (line.startsWith(QStringLiteral("Title:"))) title = line.mid(6).trimmed();
  EXPECT_EQ(title, QStringLiteral("Caf\u00e9 Run"));
}

TEST_F(QtEngineUiTest, MessageBoxErrorAndConfirmation) {
  QtMessageBox box;
  {
    ModalAnswer answer(
        ClickBox(QMessageBox::Critical, QStringLiteral("Select Run first."), QMessageBox::Ok));
    box.ShowError("Select Run first.");
  }
  ModalAnswer answer(ClickBox(QMessageBox::Question,
                              QStringLiteral("Are you sure you want to delete Run 1"),
                              QMessageBox::No));
  EXPECT_FALSE(box.Confirm("Are you sure you want to delete Run 1"));
}

}  // namespace
}  // namespace rvx

#include "QtEngineUiTest.moc"

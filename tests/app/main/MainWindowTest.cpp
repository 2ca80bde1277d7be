// The main window on a real log file with simulated meters and the fake
// clock: start-up, layouts, the run commands, comments, reports and the
// menu commands. Modal dialogs are answered by polling the active modal
// widget; boxes go through the scripted message box.
#include "app/main/MainWindow.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/main/VesselSelect.h"
#include "app/run/NewRunForm.h"
#include "app/run/RunManager.h"
#include "app/storage/ConfigurationManager.h"
#include "app/ui/SettingsForms.h"
#include "app/ui/ShaftPanel.h"
#include "dbengine/api/VEZTable.h"
#include "tests/app/main/MainTestSupport.h"

namespace rvx::test {
namespace {

constexpr std::uint64_t kMinuteMs = 60'000;

class MainWindowTest : public ::testing::Test, public MainWindowFixture {
 protected:
  void TearDown() override { window_.reset(); }

  // Starts the window through the welcome window and the selection (OK).
  void StartWindow(int screen_height = 1200) {
    window_ = NewWindow(screen_height);
    ModalAnswerer answer;
    answer.On<TFrm_VesselSelect>([](TFrm_VesselSelect& d) { d.Btn_OK->click(); });
    ASSERT_TRUE(window_->Start());
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }

  void WaitForCommunication() {
    for (const auto& shaft : window_->Shafts())
      ASSERT_TRUE(QTest::qWaitFor([&] { return shaft->GetHasCommunication(); }, 10'000));
  }

  // A new run through the dialog; minutes > 0 gives a fixed duration.
  void NewRun(const std::string& name, int minutes = 0) {
    ModalAnswerer answer;
    answer.On<TFrm_NewRun>([&](TFrm_NewRun& d) {
      d.Edit_Name->setText(QString::fromStdString(name));
      d.Memo_Comments->setPlainText(QStringLiteral("abc"));
      if (minutes > 0) {
        d.CB_AutoStop->click();
        d.DateTimePicker_AutoStopHours->setValue(0);
        d.DateTimePicker_AutoStopMinutes->setValue(minutes);
      }
      d.Btn_OK->click();
    });
    window_->Action_RunNewExecute();
    ASSERT_TRUE(window_->RunManager()->IsRunInProgress());
  }

  // Lets the simulated meters send a few readings.
  void Record() { QTest::qWait(300); }

  std::string RunPdf(const std::string& run) const {
    return docs_.ReportFolder() + "Vessel-Trial-" + run + ".pdf";
  }

  QColor RunCellColour(int row) const {
    return window_->Grid_Runs->item(row, 1)->background().color();
  }

  // Pixels of the grabbed runs list that have colour.
  int PixelsOf(QColor colour) const {
    const QImage picture = window_->Grid_Runs->grab().toImage();
    int count = 0;
    for (int y = 0; y < picture.height(); ++y)
      for (int x = 0; x < picture.width(); ++x)
        count += QColor(picture.pixel(x, y)) == colour;
    return count;
  }

  std::unique_ptr<TFrm_Main> window_;
};

TEST_F(MainWindowTest, CancellingTheSelectionEndsWithNothingBuilt) {
  window_ = NewWindow();
  ModalAnswerer answer;
  answer.On<TFrm_VesselSelect>([](TFrm_VesselSelect& d) { d.Btn_Cancel->click(); });
  EXPECT_FALSE(window_->Start());
  EXPECT_TRUE(window_->shutDown);
  EXPECT_TRUE(window_->Shafts().empty());
  EXPECT_EQ(window_->DMSystem(), nullptr);
  EXPECT_EQ(window_->RunManager(), nullptr);
  // The file was closed: another adapter opens it.
  TDM_System again(TFrm_Main::kDatabaseName, box_);
  EXPECT_EQ(again.getVessels()->Count(), 0u);
}

TEST_F(MainWindowTest, ClosingTheWelcomeWindowEndsTheProgram) {
  window_ =
      std::make_unique<TFrm_Main>(nullptr, TMainSeams{box_, shell_, printer_, 60'000, 1200, {}});
  ModalAnswerer answer;
  answer.On<TFrm_Welcome>([](TFrm_Welcome& d) { d.reject(); });
  EXPECT_FALSE(window_->Start());
  EXPECT_EQ(window_->DMSystem(), nullptr);
}

struct LayoutCase {
  int screen_height;
  int shafts;
  QSize window;
  int grid_reserve;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
  *os << "screen " << c.screen_height << ", " << c.shafts << " shafts";
}

class MainWindowLayoutTest : public MainWindowTest,
                             public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(MainWindowLayoutTest, ScreenHeightPicksTheLayoutAndPanelsShareTheColumn) {
  const LayoutCase& c = GetParam();
  AddVesselAndTrial(c.shafts);
  StartWindow(c.screen_height);
  EXPECT_EQ(window_->size(), c.window);
  EXPECT_EQ(window_->IsCompactLayout(), c.screen_height < TFrm_Main::kClientHeight);
  EXPECT_EQ(window_->Panel_Runs->height() - window_->Grid_Runs->height(), c.grid_reserve);
  ASSERT_EQ(window_->LivePanels().size(), static_cast<std::size_t>(c.shafts));
  const int column_top = window_->Panel_Runs->y();
  const int half = static_cast<int>(std::nearbyint(window_->Panel_Runs->height() / 2.0));
  EXPECT_EQ(window_->LivePanels()[0]->Panel->y(), column_top);
  if (c.shafts == 2) {
    EXPECT_EQ(window_->LivePanels()[1]->Panel->y(), column_top + half);
  }
  EXPECT_EQ(window_->Lbl_VesselName->text(), QStringLiteral("Vessel"));
  EXPECT_EQ(window_->Lbl_TrialName->text(), QStringLiteral("Trial"));
  // A trial without runs: one empty row, "Saved Runs" off, real time.
  EXPECT_EQ(window_->Grid_Runs->rowCount(), 1);
  EXPECT_FALSE(window_->RadioBtn_Runs->isEnabled());
  EXPECT_TRUE(window_->RadioBtn_RealTime->isChecked());
}

INSTANTIATE_TEST_SUITE_P(Screens, MainWindowLayoutTest,
                         ::testing::Values(LayoutCase{768, 1, QSize(800, 600), 350},
                                           LayoutCase{1200, 2, QSize(865, 841), 510}));

TEST_F(MainWindowTest, FixedDurationRunStopsAtTheFirstTickAfterItsPlan) {
  AddVesselAndTrial(1);
  StartWindow();
  WaitForCommunication();
  NewRun("Run A", 1);
  EXPECT_TRUE(window_->Panel_UnfinishedRun->isVisibleTo(window_.get()));
  EXPECT_FALSE(window_->Btn_NewRun->isVisibleTo(window_.get()));
  EXPECT_EQ(RunCellColour(0), QColor(0, 170, 0));
  EXPECT_FALSE(window_->Action_Settings->isEnabled());
  Record();
  clock_.Advance(30'000);
  window_->Run_TimerTimer();
  EXPECT_EQ(window_->Lbl_RunTime->text(), QStringLiteral("Time left: 00:00:30"));
  clock_.Advance(30'000);
  window_->Run_TimerTimer();
  EXPECT_FALSE(window_->RunManager()->IsRunInProgress());
  EXPECT_TRUE(std::filesystem::exists(RunPdf("Run A")));
  EXPECT_TRUE(window_->RadioBtn_Runs->isChecked());
  EXPECT_TRUE(window_->Panel_Run->isVisibleTo(window_.get()));
  EXPECT_EQ(window_->Lbl_Duration->text(), QStringLiteral("00:01:00"));
  EXPECT_EQ(window_->StoredRunPanels().size(), 1u);
  EXPECT_TRUE(window_->Action_Settings->isEnabled());
  EXPECT_TRUE(window_->Client->isEnabled());
  EXPECT_EQ(RunCellColour(0), QColor(0, 176, 240));
  EXPECT_GT(PixelsOf(QColor(0, 176, 240)), 100);
  // Stored: the stop time is in the log.
  const auto runs = window_->DMSystem()->GetTrialRuns(window_->ConfigurationManager()->TrialId());
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_GT(runs[0]->StopTime, runs[0]->StartTime);
}

TEST_F(MainWindowTest, DeletingTheOnlyRunFallsBackToRealTime) {
  AddVesselAndTrial(1);
  StartWindow();
  WaitForCommunication();
  NewRun("Run A");
  Record();
  window_->Action_RunStopExecute();
  ASSERT_TRUE(std::filesystem::exists(RunPdf("Run A")));
  box_.QueueConfirm(true);  // the run
  box_.QueueConfirm(true);  // its report
  window_->Action_RunDeleteExecute();
  EXPECT_EQ(box_.Log()[0], "confirm:Are you sure you want to delete Run A");
  EXPECT_FALSE(std::filesystem::exists(RunPdf("Run A")));
  EXPECT_EQ(window_->RunManager()->SelectedRun(), nullptr);
  EXPECT_TRUE(window_->RunManager()->AllRuns().empty());
  EXPECT_TRUE(window_->RadioBtn_RealTime->isChecked());
  EXPECT_FALSE(window_->RadioBtn_Runs->isEnabled());
  EXPECT_EQ(GridRowId(window_->Grid_Runs, 0), -1);
  // Nothing selected any more: the command refuses.
  box_.ExpectErrors(1);
  window_->Action_RunDeleteExecute();
  EXPECT_EQ(box_.Log().back(), "error:Select Run first.");
  box_.ExpectDone();
}

TEST_F(MainWindowTest, ReturnAndEscapeInTheWindowDoNothing) {
  AddVesselAndTrial(1);
  StartWindow();
  WaitForCommunication();
  ModalAnswerer answer;
  bool dialog_shown = false;
  answer.On<TFrm_NewRun>([&](TFrm_NewRun& d) {
    dialog_shown = true;
    d.Btn_Cancel->click();
  });
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
    QTest::keyClick(window_.get(), key);
    QTest::qWait(50);
  }
  EXPECT_FALSE(dialog_shown);
  EXPECT_FALSE(window_->RunManager()->IsRunInProgress());
  EXPECT_TRUE(window_->isVisible());
}

TEST_F(MainWindowTest, SavedRunsDuringARunFallsBackToRealTime) {
  AddVesselAndTrial(1);
  StartWindow();
  WaitForCommunication();
  NewRun("Run A");
  window_->RadioBtn_Runs->click();
  EXPECT_TRUE(window_->RadioBtn_RealTime->isChecked());
  EXPECT_FALSE(window_->Panel_Run->isVisibleTo(window_.get()));
  // Deleting during a run is refused.
  box_.ExpectErrors(1);
  window_->Action_RunDeleteExecute();
  EXPECT_EQ(box_.Log().back(), "error:Select Run first.");
}

TEST_F(MainWindowTest, AutomaticStopWhileTheRestartQuestionIsOpenRestartsNothing) {
  AddVesselAndTrial(1);
  StartWindow();
  WaitForCommunication();
  NewRun("Run A", 1);
  Record();
  box_.on_confirm = [&] {
    clock_.Advance(kMinuteMs + 1000);
    window_->Run_TimerTimer();
  };
  box_.QueueConfirm(true);
  window_->Action_RunRestartExecute();
  EXPECT_FALSE(window_->RunManager()->IsRunInProgress());
  const auto runs = window_->DMSystem()->GetTrialRuns(window_->ConfigurationManager()->TrialId());
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_GT(runs[0]->StopTime, runs[0]->StartTime);
  EXPECT_TRUE(window_->Btn_NewRun->isVisibleTo(window_.get()));
  box_.ExpectDone();
}

TEST_F(MainWindowTest, ListScrollsToANewRun) {
  AddVesselAndTrial(1);
  StartWindow(768);
  WaitForCommunication();
  for (int i = 1; i <= 6; ++i) {
    NewRun("R" + std::to_string(i));
    window_->Action_RunStopExecute();
  }
  NewRun("R7");
  QTest::qWait(50);
  const QRect last = window_->Grid_Runs->visualItemRect(window_->Grid_Runs->item(6, 1));
  EXPECT_TRUE(window_->Grid_Runs->viewport()->rect().intersects(last));
  EXPECT_EQ(RunCellColour(6), QColor(0, 170, 0));
  window_->Action_RunStopExecute();
}

TEST_F(MainWindowTest, CommentsEditKeysCancelAndSave) {
  AddVesselAndTrial(1);
  StartWindow();
  WaitForCommunication();
  NewRun("Run A");
  window_->Action_RunStopExecute();
  ASSERT_EQ(window_->Memo_Comments->toPlainText(), QStringLiteral("abc"));
  window_->Btn_ToggleMemoEdit->click();
  EXPECT_EQ(window_->Btn_ToggleMemoEdit->text(), QStringLiteral("Cancel"));
  EXPECT_FALSE(window_->Action_RunDelete->isEnabled());
  window_->activateWindow();
  window_->Memo_Comments->setFocus();
  window_->Memo_Comments->moveCursor(QTextCursor::Start);
  QTest::keyClick(window_->Memo_Comments, Qt::Key_Delete);
  EXPECT_EQ(window_->Memo_Comments->toPlainText(), QStringLiteral("bc"));
  EXPECT_EQ(window_->RunManager()->AllRuns().size(), 1u);
  // Cancel restores the stored text.
  window_->Btn_ToggleMemoEdit->click();
  EXPECT_EQ(window_->Memo_Comments->toPlainText(), QStringLiteral("abc"));
  EXPECT_TRUE(window_->Action_RunDelete->isEnabled());
  // Save stores the text and writes the report again.
  std::filesystem::remove(RunPdf("Run A"));
  window_->Btn_ToggleMemoEdit->click();
  window_->Memo_Comments->setPlainText(QStringLiteral("calm sea"));
  window_->Btn_SaveMemo->click();
  EXPECT_TRUE(std::filesystem::exists(RunPdf("Run A")));
  EXPECT_FALSE(window_->Btn_SaveMemo->isVisibleTo(window_.get()));
  const auto runs = window_->DMSystem()->GetTrialRuns(window_->ConfigurationManager()->TrialId());
  EXPECT_EQ(runs[0]->Comments, "calm sea");
}

TEST_F(MainWindowTest, SelectingAnotherRunDropsTheCommentEdits) {
  AddVesselAndTrial(1);
  StartWindow();
  WaitForCommunication();
  NewRun("Run A");
  window_->Action_RunStopExecute();
  NewRun("Run B");
  window_->Action_RunStopExecute();
  window_->Btn_ToggleMemoEdit->click();
  window_->Memo_Comments->setPlainText(QStringLiteral("meant for Run B"));
  window_->Grid_RunsSelectCell(0);
  EXPECT_EQ(window_->RunManager()->SelectedRun()->name, "Run A");
  EXPECT_EQ(window_->Btn_ToggleMemoEdit->text(), QStringLiteral("Edit"));
  EXPECT_FALSE(window_->Btn_SaveMemo->isVisibleTo(window_.get()));
  EXPECT_EQ(window_->Memo_Comments->toPlainText(), QStringLiteral("abc"));
  EXPECT_TRUE(window_->Action_RunDelete->isEnabled());
}

TEST_F(MainWindowTest, ReportCommandsGoThroughTheShellAndThePrinter) {
  AddVesselAndTrial(2);
  StartWindow();
  WaitForCommunication();
  NewRun("Run A");
  Record();
  window_->Action_RunStopExecute();
  std::filesystem::remove(RunPdf("Run A"));
  window_->Action_RunViewReportExecute();  // writes and opens
  ASSERT_EQ(shell_.Opened().size(), 1u);
  EXPECT_EQ(shell_.Opened()[0], RunPdf("Run A"));
  window_->Action_RunPrintReportExecute();
  EXPECT_EQ(printer_.Documents().size(), 1u);
  window_->Btn_RawDataClick();
  for (const char* kind : {"No filter", "Chauvenet"})
    for (int shaft : {1, 2})
      EXPECT_TRUE(std::filesystem::exists(docs_.ReportFolder() + "Vessel-Trial-Run A - Raw data (" +
                                          kind + ") - Shaft " + std::to_string(shaft) + ".csv"))
          << kind << shaft;
  EXPECT_EQ(shell_.Opened().back(), docs_.ReportFolder());
  window_->Action_FilePrinterSettingsExecute();
  EXPECT_EQ(printer_.Dialogs(), 1);
  EXPECT_TRUE(window_->Client->isEnabled());
}

TEST_F(MainWindowTest, TrialSummaryDialogRemembersTheChoice) {
  AddVesselAndTrial(1);
  StartWindow();
  WaitForCommunication();
  NewRun("Run A");
  Record();
  window_->Action_RunStopExecute();
  {
    TFrm_TrialSummary dialog(nullptr, *window_->ReportManager(), *window_->RunManager(),
                             *window_->DMSystem(), box_);
    EXPECT_FALSE(dialog.Btn_Continue->isEnabled());
    dialog.Btn_CSV->click();
    EXPECT_TRUE(dialog.Btn_Continue->isEnabled());
    dialog.Btn_XLS->click();
    dialog.Btn_ContinueClick();
  }
  EXPECT_TRUE(std::filesystem::exists(docs_.ReportFolder() + "Vessel-Trial-Summary.csv"));
  EXPECT_TRUE(std::filesystem::exists(docs_.ReportFolder() + "Vessel-Trial-Summary.xlsx"));
  EXPECT_FALSE(std::filesystem::exists(docs_.ReportFolder() + "Vessel-Trial-Summary.pdf"));
  TFrm_TrialSummary again(nullptr, *window_->ReportManager(), *window_->RunManager(),
                          *window_->DMSystem(), box_);
  EXPECT_TRUE(again.Btn_CSV->isChecked());
  EXPECT_TRUE(again.Btn_XLS->isChecked());
  EXPECT_FALSE(again.Btn_PDF->isChecked());
  EXPECT_TRUE(again.Btn_Continue->isEnabled());
}

TEST_F(MainWindowTest, AFailingSummaryShowsTheBoxKeepsTheDialogAndTheWindowUsable) {
  AddVesselAndTrial(1);
  StartWindow();
  WaitForCommunication();
  NewRun("Run A");
  Record();
  window_->Action_RunStopExecute();
  // The report folder cannot be made, so the summary report fails.
  std::filesystem::remove_all(docs_.ReportFolder());
  std::ofstream(docs_.Path() + "/RVX/reports") << "not a folder";
  box_.ExpectErrors(1);
  bool disabled_while_working = false, open_after_failure = false, enabled_after_failure = false;
  ModalAnswerer answer;
  answer.On<TFrm_TrialSummary>([&](TFrm_TrialSummary& d) {
    d.Btn_CSV->setChecked(false);
    d.Btn_XLS->setChecked(false);
    d.Btn_PDF->setChecked(true);
    d.Btn_Click();
    QObject::connect(d.Btn_Continue, &QPushButton::pressed, &d,
                     [&] { disabled_while_working = !window_->Client->isEnabled(); });
    // A real click: the failure comes through the button's signal.
    QTest::mouseClick(d.Btn_Continue, Qt::LeftButton);
    open_after_failure = d.isVisible();
    enabled_after_failure = window_->Client->isEnabled() && window_->MainMenu->isEnabled();
    d.Btn_Cancel->click();
  });
  window_->Action_RunPrintTrialSummary->trigger();
  EXPECT_TRUE(answer.Done());
  ASSERT_EQ(box_.Log().size(), 1u);
  EXPECT_NE(box_.Log()[0].find("Not a directory"), std::string::npos) << box_.Log()[0];
  EXPECT_TRUE(disabled_while_working);
  EXPECT_TRUE(open_after_failure);
  EXPECT_TRUE(enabled_after_failure);
  EXPECT_TRUE(shell_.Opened().empty());
  // The failed choice was not stored.
  bool csv = false, xls = false, pdf = false, print = false;
  window_->DMSystem()->GetSummarySelections(csv, xls, pdf, print);
  EXPECT_FALSE(pdf);
  EXPECT_TRUE(window_->Client->isEnabled());
}

TEST_F(MainWindowTest, WindowIsDisabledWhileRunsAreReadBackAndEnabledAfterAFailure) {
  AddVesselAndTrial(1);
  StartWindow();
  WaitForCommunication();
  NewRun("Run A");
  Record();
  // Whenever a progress window shows, the window's commands must be off.
  int seen = 0, enabled_meanwhile = 0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qobject_cast<TBusyForm*>(w) != nullptr && w->isVisible()) {
        ++seen;
        enabled_meanwhile += window_->Client->isEnabled() || window_->Action_RunNew->isEnabled();
      }
  });
  watch.start(0);
  window_->Action_RunStopExecute();
  window_->SelectRun(-1);
  window_->SelectLastRun();
  watch.stop();
  EXPECT_GT(seen, 0);
  EXPECT_EQ(enabled_meanwhile, 0);
  EXPECT_TRUE(window_->Client->isEnabled());
  EXPECT_TRUE(window_->Action_RunNew->isEnabled());

  // The report folder cannot be made: the command fails with the box and
  // leaves the window usable.
  std::filesystem::remove_all(docs_.ReportFolder());
  std::ofstream(docs_.Path() + "/RVX/reports") << "not a folder";
  box_.ExpectErrors(1);
  window_->Action_RunViewReport->trigger();
  ASSERT_EQ(box_.Log().size(), 1u);
  EXPECT_NE(box_.Log()[0].find("Not a directory"), std::string::npos) << box_.Log()[0];
  EXPECT_TRUE(window_->Client->isEnabled());
  EXPECT_TRUE(window_->MainMenu->isEnabled());
  EXPECT_TRUE(window_->Action_RunViewReport->isEnabled());
  EXPECT_TRUE(shell_.Opened().empty());
}

TEST_F(MainWindowTest, MissingManualGivesTheBoxAndALogRow) {
  AddVesselAndTrial(1);
  StartWindow();
  box_.ExpectErrors(1);
  window_->Action_HelpManualExecute();
  EXPECT_EQ(box_.Log().back(), "error:Unable to open manual");
  EXPECT_TRUE(shell_.Opened().empty());
  vez::TVEZTable& rows = window_->DMSystem()->getErrorLogDataSource();
  EXPECT_GE(rows.RecordCount(), 1);
}

TEST_F(MainWindowTest, ClosingDuringARunStoresTheStopAndTheReport) {
  AddVesselAndTrial(1);
  StartWindow();
  WaitForCommunication();
  NewRun("Run A");
  Record();
  window_.reset();
  EXPECT_TRUE(std::filesystem::exists(RunPdf("Run A")));
  TDM_System log(TFrm_Main::kDatabaseName, box_);
  const auto vessels = log.getVessels();
  const int trial = log.getTrialsByVesselId(vessels->Item(0).ID).back()->ID;
  const auto runs = log.GetTrialRuns(trial);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_GT(runs[0]->StopTime, 0);
}

}  // namespace
}  // namespace rvx::test

// The program's windows around the runs: the main window TFrm_Main, the
// welcome window TFrm_Welcome, the About box TFrm_About and the trial
// summary dialog TFrm_TrialSummary.
//
// TFrm_Main owns everything that lives as long as the program runs: the log
// database adapter, the configuration manager, the report manager, the
// shafts with their live panels, the run manager and the error manager.
// Start() shows the welcome window and the vessel selection and builds the
// acquisition chain; when either is not accepted the window is abandoned
// (shutDown) and Start() returns false. Destroying the window stops a run
// in progress and writes its report before the log is closed.
//
// The left column holds the run commands, the runs list (the selected run
// light blue, green while it records), the real-time and saved-runs views,
// the run's comments and the run clock, which stops a run when its planned
// time is up. Every command catches what it raises and shows it in the
// error box, so no exception reaches the event loop. While runs are read
// back (stop, selection, summary) the window is disabled, and enabled again
// also when that fails.
//
// Thread safety: GUI thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/acquisition/Shaft.h"
#include "app/util/ControlStyle.h"

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QTimer;

namespace rvx {

class MessageBox;
class Printer;
class Shell;
class TConfigurationManager;
class TDMReportCatalog;
class TDM_System;
class TErrorManager;
class TReportManager;
class TRunManager;
class TShaftPanel;
class TRunDataSet;

// What the windows ask the desktop through, and what tests may change.
struct TMainSeams {
  MessageBox& Box;
  Shell& DesktopShell;
  Printer& CurrentPrinter;
  // How long the welcome window stays.
  int WelcomeMs = 3000;
  // The screen height that picks the layout; the primary screen's when
  // absent.
  std::optional<int> ScreenHeight;
  // The folder of the manual; the program file's folder when empty.
  std::string ProgramFolder;
};

class TFrm_Welcome : public TFormAC {
  Q_OBJECT

 public:
  TFrm_Welcome(QWidget* AOwner, int closeAfterMs);
  void CloseWelcome() { accept(); }

  QLabel* Image1;
  QLabel* Image_Logo;
  QTimer* Timer1;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

class TFrm_About : public TFormAC {
  Q_OBJECT

 public:
  explicit TFrm_About(QWidget* AOwner);

  QLabel* Lbl_Version;
  QPushButton* Btn_OK;
};

class TFrm_TrialSummary : public TFormAC {
  Q_OBJECT

 public:
  TFrm_TrialSummary(QWidget* AOwner, TReportManager& aReportManager, TRunManager& aRunManager,
                    TDM_System& aDMSystem, MessageBox& aMessageBox);

  void Btn_Click();
  // Writes the chosen outputs, stores the choice and closes with Yes. When
  // the report fails, the error box shows it, the choice is not stored and
  // the dialog stays open.
  void Btn_ContinueClick();

  QWidget* Panel1;
  QPushButton* Btn_Continue;
  QPushButton* Btn_Cancel;
  QPushButton* Btn_CSV;
  QPushButton* Btn_XLS;
  QPushButton* Btn_PDF;
  QPushButton* Btn_Print;
  QPlainTextEdit* Memo_text;

 private:
  TReportManager& FReportManager;
  TRunManager& FRunManager;
  TDM_System& FDMSystem;
  MessageBox& FMessageBox;
};

class TFrm_Main : public TFormAC {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 865;
  static constexpr int kClientHeight = 841;
  static constexpr const char* kCaption = "Trelmar Rovex - Logging Program";
  static constexpr const char* kManualName = "RVX Log v2 manual.pdf";
  static constexpr const char* kDatabaseName = "RVX_Log.vez";

  TFrm_Main(QWidget* parent, TMainSeams seams);
  ~TFrm_Main() override;

  // The welcome window, the log, the vessel selection and the chain. False
  // when the user ended the program there (shutDown).
  bool Start();

  // ---- Part of the window tests drive
  void CreateShafts();
  void FillRunsGrid();
  void SelectRun(int aRunId);
  void SelectLastRun();
  void ShowSelectedRun();
  void FormResize();
  void OpenReportsDirectory();
  void StopRunAndCreateReport();

  void Action_RunNewExecute();
  void Action_RunStopExecute();
  void Action_RunRestartExecute();
  void Action_RunDeleteExecute();
  void Action_RunViewReportExecute();
  void Action_RunPrintReportExecute();
  void Action_RunPrintTrialSummaryExecute();
  void Btn_RawDataClick();
  void Btn_ToggleMemoEditClick();
  void Btn_SaveMemoClick();
  void Grid_RunsSelectCell(int row);
  void RadioBtn_RealTimeClick();
  void RadioBtn_RunsClick();
  void Run_TimerTimer();
  void Action_FilePrinterSettingsExecute();
  void Action_ViewErrorsExecute();
  void Action_ToolsSetupExecute();
  void Action_SettingsExecute();
  void Action_HelpManualExecute();
  void Action_HelpAboutExecute();

  TDM_System* DMSystem() const { return DM_System.get(); }
  TConfigurationManager* ConfigurationManager() const { return FConfigurationManager.get(); }
  TRunManager* RunManager() const { return FRunManager.get(); }
  TReportManager* ReportManager() const { return FReportManager.get(); }
  const std::vector<std::shared_ptr<IShaft>>& Shafts() const { return ShaftList; }
  const std::vector<std::unique_ptr<TShaftPanel>>& LivePanels() const { return ShaftPanels; }
  const std::vector<std::unique_ptr<TShaftPanel>>& StoredRunPanels() const { return RunShafts; }
  bool IsCompactLayout() const { return FCompact; }

  QMenuBar* MainMenu;
  QWidget* Client;
  QLabel* Image_Logo;
  QWidget* Panel_Title;
  QLabel* Lbl_VesselName;
  QLabel* Lbl_TrialName;
  QWidget* Panel_Runs;
  QRadioButton* RadioBtn_RealTime;
  QRadioButton* RadioBtn_Runs;
  QTableWidget* Grid_Runs;
  QPushButton* Btn_NewRun;
  QPushButton* Btn_Delete;
  QWidget* Panel_UnfinishedRun;
  QLabel* Lbl_RunInProgress;
  QPushButton* btn_Restart;
  QPushButton* Btn_Stop;
  QLabel* Lbl_RunTime;
  QWidget* Panel_Run;
  QLabel* Lbl_StartTimeStatic;
  QLabel* Lbl_StartTime;
  QLabel* Lbl_StopTimeStatic;
  QLabel* Lbl_StopTime;
  QLabel* Lbl_DurationStatic;
  QLabel* Lbl_Duration;
  QLabel* Lbl_Comments_Static;
  QPlainTextEdit* Memo_Comments;
  QPushButton* Btn_ToggleMemoEdit;
  QPushButton* Btn_SaveMemo;
  QPushButton* Btn_View;
  QPushButton* Btn_Print;
  QPushButton* Btn_TrialRpt;
  QPushButton* Btn_RawData;
  QLabel* Lbl_Size;
  QTimer* Run_Timer;

  QAction* Action_FilePrinterSettings;
  QAction* Action_FileExit;
  QAction* Action_ViewCom;
  QAction* Action_ViewErrors;
  QAction* Action_ViewReportsDirectory;
  QAction* Action_ToolsSetup;
  QAction* Action_Settings;
  QAction* Action_HelpManual;
  QAction* Action_HelpAbout;
  QAction* Action_RunNew;
  QAction* Action_RunDelete;
  QAction* Action_RunRestart;
  QAction* Action_RunStop;
  QAction* Action_RunViewReport;
  QAction* Action_RunPrintReport;
  QAction* Action_RunPrintTrialSummary;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  class DisabledScope;

  // Runs a command; what it raises is shown in the error box.
  template <class Work>
  void Guard(Work&& work);
  QAction* NewAction(QMenu* menu, const char* caption, void (TFrm_Main::*handler)());
  QAction* RunAction(const char* caption, const char* hint, void (TFrm_Main::*handler)());
  void BuildControls();
  void ApplyCompactLayout();
  void FreeShafts();
  void FreeShaftPanels();
  void FreeRunManager();
  void FreeRunShaftPanels();
  void ResetRunShaftPanels();
  int ShowVesselSelect();
  void ShowStartTime();
  void ShowStopTimeAndDuration();
  void ShowRunShaftPanels();
  void ShowRunInProgress(bool flag);
  void UpdateRunButtons();
  void MarkRunStart();
  void AfterRunStopped();
  void PaintRunsGrid();
  void SetRunActionsActive(bool active);
  void LeaveMemoEdit();
  void ShutDownChain();
  // The selected run with its managers; the error box and none without one.
  std::unique_ptr<TRunDataSet> SelectedRunData();

  TMainSeams FSeams;
  std::unique_ptr<TDM_System> DM_System;
  std::unique_ptr<TDMReportCatalog> FReportCatalog;
  std::unique_ptr<TConfigurationManager> FConfigurationManager;
  std::unique_ptr<TReportManager> FReportManager;
  std::vector<std::shared_ptr<IShaft>> ShaftList;
  std::vector<std::unique_ptr<TShaftPanel>> ShaftPanels;
  std::vector<std::unique_ptr<TShaftPanel>> RunShafts;
  std::unique_ptr<TRunManager> FRunManager;
  std::shared_ptr<TErrorManager> FErrorManager;
  bool FCompact = false;
  bool FMemoEditing = false;
  int FMemoRunId = -1;
  bool FShutDownDone = false;
};

}  // namespace rvx

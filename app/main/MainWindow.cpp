#include "app/main/MainWindow.h"

#include <cmath>
#include <exception>
#include <new>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTableWidget>
#include <QTimer>

#include "app/acquisition/ErrorManager.h"
#include "app/main/VesselSelect.h"
#include "app/reports/DMReportCatalog.h"
#include "app/reports/ReportManager.h"
#include "app/run/RunDataSet.h"
#include "app/run/RunManager.h"
#include "app/storage/ConfigurationManager.h"
#include "app/storage/DMSystem.h"
#include "app/ui/ErrorLogWindow.h"
#include "app/ui/SettingsForms.h"
#include "app/ui/SetupComPorts.h"
#include "app/ui/ShaftPanel.h"
#include "app/util/MessageBox.h"
#include "app/util/Printer.h"
#include "app/util/ProgramInfo.h"
#include "app/util/QtText.h"
#include "app/util/Shell.h"
#include "app/util/Utils.h"
#include "platform/core/TextConvert.h"
#include "platform/os/File.h"

namespace rvx {

namespace {

const QColor kSelectedRunColour(0, 176, 240);
const QColor kRecordingRunColour(0, 170, 0);
const QColor kBrandBlue(0, 84, 166);
constexpr const char* kNoData = "No data...";
constexpr int kPanelRunsLeft = 8;
constexpr int kPanelRunsWidth = 180;

// Our own picture: the program's initials on the brand colour.
QPixmap Logo(int width, int height) {
  QPixmap picture(width, height);
  picture.fill(kBrandBlue);
  QPainter painter(&picture);
  painter.setPen(Qt::white);
  QFont font(QStringLiteral("Arial"));
  font.setBold(true);
  font.setPixelSize(std::max(10, height / 3));
  painter.setFont(font);
  painter.drawText(picture.rect(), Qt::AlignCenter, QStringLiteral("RVX"));
  return picture;
}

QPixmap WelcomePicture(int width, int height) {
  QPixmap picture(width, height);
  picture.fill(Qt::white);
  QPainter painter(&picture);
  painter.fillRect(QRect(0, height / 3, width, height / 3), kBrandBlue);
  painter.setPen(Qt::white);
  QFont font(QStringLiteral("Arial"));
  font.setBold(true);
  font.setPixelSize(48);
  painter.setFont(font);
  painter.drawText(QRect(0, height / 3, width, height / 3), Qt::AlignCenter,
                   QStringLiteral("RVX Log"));
  painter.setPen(kBrandBlue);
  font.setPixelSize(20);
  painter.setFont(font);
  painter.drawText(QRect(0, 2 * height / 3, width, 60), Qt::AlignCenter,
                   QStringLiteral("Shaft power logging for sea trials"));
  return picture;
}

QLabel* Label(const char* text, QWidget* parent, int x, int y, int w = 160, int h = 16) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setGeometry(x, y, w, h);
  return label;
}

QPushButton* GlowButton(const char* text, QWidget* parent, QRect place) {
  auto* button = new QPushButton(QString::fromLatin1(text), parent);
  button->setAutoDefault(false);
  button->setGeometry(place);
  return button;
}

int NearestEven(double value) {
  return static_cast<int>(std::nearbyint(value));
}

std::string FormatRunTime(platform::TDateTime value) {
  return platform::FormatDateTime("dd.mmm.yyyy hh:nn:ss", value);
}

}  // namespace

// ---- Welcome window

TFrm_Welcome::TFrm_Welcome(QWidget* AOwner, int closeAfterMs) : TFormAC(AOwner) {
  setWindowTitle(QStringLiteral("Trelmar Rovex - Log"));
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);
  Image1 = new QLabel(this);
  Image1->setGeometry(0, 0, 705, 556);
  Image1->setPixmap(WelcomePicture(705, 556));
  Image1->installEventFilter(this);
  Image_Logo = new QLabel(this);
  Image_Logo->setGeometry(8, 8, 85, 72);
  Image_Logo->setPixmap(Logo(85, 72));
  Timer1 = new QTimer(this);
  Timer1->setSingleShot(true);
  connect(Timer1, &QTimer::timeout, this, &TFrm_Welcome::CloseWelcome);
  Timer1->start(closeAfterMs);
  setFixedSize(705, 556);
}

bool TFrm_Welcome::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Image1 && event->type() == QEvent::MouseButtonRelease) {
    CloseWelcome();
    return true;
  }
  return TFormAC::eventFilter(watched, event);
}

// ---- About box

TFrm_About::TFrm_About(QWidget* AOwner) : TFormAC(AOwner) {
  setWindowTitle(QStringLiteral("RVX - About"));
  auto* logo = new QLabel(this);
  logo->setGeometry(16, 16, 85, 72);
  logo->setPixmap(Logo(85, 72));
  QFont bold(QStringLiteral("Arial"));
  bold.setBold(true);
  bold.setPixelSize(18);
  auto* heading1 = Label("Trelmar Rovex", this, 120, 20, 220, 24);
  heading1->setFont(bold);
  auto* heading2 = Label("Logging program", this, 120, 48, 220, 24);
  heading2->setFont(bold);
  Lbl_Version = Label("Version : N/A", this, 120, 84, 220, 18);
  auto* line = new QFrame(this);
  line->setGeometry(16, 112, 324, 2);
  line->setStyleSheet(QStringLiteral("background-color: rgb(0, 0, 255);"));
  Btn_OK = GlowButton("OK", this, QRect(240, 124, 100, 38));
  StyleGlowButton(Btn_OK);
  Btn_OK->setFixedHeight(38);
  SetGlowButtonLayout(Btn_OK, TButtonLayout::blGlyphLeft);
  connect(Btn_OK, &QPushButton::clicked, this, &QDialog::accept);
  // FormCreate: the version read at start.
  Lbl_Version->setText(QStringLiteral("Version : ") + QString::fromStdString(ProgramVersion));
  setFixedSize(356, 172);
}

// ---- Trial summary dialog

TFrm_TrialSummary::TFrm_TrialSummary(QWidget* AOwner, TReportManager& aReportManager,
                                     TRunManager& aRunManager, TDM_System& aDMSystem,
                                     MessageBox& aMessageBox)
    : TFormAC(AOwner),
      FReportManager(aReportManager),
      FRunManager(aRunManager),
      FDMSystem(aDMSystem),
      FMessageBox(aMessageBox) {
  setWindowTitle(QStringLiteral("RVX - Trial Summary"));
  Panel1 = new QWidget(this);
  Panel1->setGeometry(8, 8, 127, 185);
  Panel1->setAutoFillBackground(true);
  QPalette dark = Panel1->palette();
  dark.setColor(QPalette::Window, QColor(0x44, 0x44, 0x44));
  Panel1->setPalette(dark);
  auto toggle = [this](const char* text, int top, const char* hint) {
    QPushButton* button = GlowButton(text, Panel1, QRect(7, top, 112, 38));
    button->setToolTip(QString::fromLatin1(hint));
    StyleGlowButton(button);
    button->setFixedSize(112, 38);
    SetGlowButtonLayout(button, TButtonLayout::blGlyphLeft);
    button->setCheckable(true);
    button->setChecked(false);
    connect(button, &QPushButton::clicked, this, &TFrm_TrialSummary::Btn_Click);
    return button;
  };
  Btn_PDF = toggle("View\nreport", 8, "View the Trial Summary report");
  Btn_Print = toggle("Print\nreport", 48, "Print a Trial Summary Report to the default printer");
  Btn_XLS = toggle("Excel\xC2\xAE\n(.XLSX)", 92,
                   "make a speadsheet of the Trial Summary to import into MS Excel\xC2\xAE");
  Btn_XLS->setText(QStringLiteral("Excel\u00AE\n(.XLSX)"));
  Btn_XLS->setToolTip(
      QStringLiteral("make a speadsheet of the Trial Summary to import into MS Excel\u00AE"));
  Btn_CSV = toggle("Text\n (.CSV)", 136,
                   "Save the Trial Summary as a comma separated text file, for importing to other "
                   "applications");
  Btn_Continue = GlowButton("Continue", this, QRect(219, 199, 112, 38));
  Btn_Cancel = GlowButton("Cancel", this, QRect(15, 199, 112, 38));
  for (QPushButton* button : {Btn_Continue, Btn_Cancel}) {
    StyleGlowButton(button);
    button->setFixedSize(112, 38);
  }
  Memo_text = new QPlainTextEdit(this);
  Memo_text->setGeometry(152, 8, 179, 161);
  Memo_text->setPlainText(QStringLiteral(
      "Select the required output \ntype(s)  and press 'Continue'.\n\n'View Report'  "
      "will also \ngenerate a .PDF file"));
  Memo_text->setReadOnly(true);
  Memo_text->setEnabled(false);
  Memo_text->setFrameShape(QFrame::NoFrame);
  connect(Btn_Continue, &QPushButton::clicked, this, &TFrm_TrialSummary::Btn_ContinueClick);
  connect(Btn_Cancel, &QPushButton::clicked, this, &QDialog::reject);
  setFixedSize(347, 248);

  Btn_Continue->setEnabled(false);
  bool csv = false, xls = false, pdf = false, print = false;
  FDMSystem.GetSummarySelections(csv, xls, pdf, print);
  Btn_CSV->setChecked(csv);
  Btn_XLS->setChecked(xls);
  Btn_PDF->setChecked(pdf);
  Btn_Print->setChecked(print);
  Btn_Click();
}

void TFrm_TrialSummary::Btn_Click() {
  Btn_Continue->setEnabled(Btn_CSV->isChecked() || Btn_XLS->isChecked() || Btn_PDF->isChecked() ||
                           Btn_Print->isChecked());
}

void TFrm_TrialSummary::Btn_ContinueClick() {
  const bool csv = Btn_CSV->isChecked(), xls = Btn_XLS->isChecked(), pdf = Btn_PDF->isChecked(),
             print = Btn_Print->isChecked();
  // This runs from the button's signal: what the report raises must end
  // here, not in the event loop.
  try {
    {
      const std::vector<std::unique_ptr<TRunDataSet>> runs = FRunManager.GetRunDataSetsForAllRuns();
      std::vector<RunData*> data;
      for (const std::unique_ptr<TRunDataSet>& run : runs)
        data.push_back(run.get());
      FReportManager.GenerateTrialSummary(data, csv, xls, pdf, print);
    }
    FDMSystem.SetSummarySelections(csv, xls, pdf, print);
  } catch (const std::exception& e) {
    FMessageBox.ShowError(e.what());
    return;
  }
  done(QDialog::Accepted);
}

// ---- Main window

// Disables the window's controls and commands for the life of the scope;
// they come back also when the work raises.
class TFrm_Main::DisabledScope {
 public:
  explicit DisabledScope(TFrm_Main& window) : window_(window) {
    window_.Client->setEnabled(false);
    window_.MainMenu->setEnabled(false);
    for (QAction* action : window_.actions())
      if (action->isEnabled()) {
        action->setEnabled(false);
        disabled_.push_back(action);
      }
  }
  ~DisabledScope() {
    window_.Client->setEnabled(true);
    window_.MainMenu->setEnabled(true);
    for (QAction* action : disabled_)
      action->setEnabled(true);
  }
  DisabledScope(const DisabledScope&) = delete;
  DisabledScope& operator=(const DisabledScope&) = delete;

 private:
  TFrm_Main& window_;
  std::vector<QAction*> disabled_;
};

TFrm_Main::TFrm_Main(QWidget* parent, TMainSeams seams) : TFormAC(parent), FSeams(seams) {
  setWindowFlag(Qt::WindowMaximizeButtonHint, true);
  setWindowFlag(Qt::WindowMinimizeButtonHint, true);
  BuildControls();
  resize(kClientWidth, kClientHeight);
  // The designed minimum (873 x 670) counts the frame, which the window
  // manager adds outside our size here.
  setMinimumSize(865, 636);
  const int screen_height = FSeams.ScreenHeight
                                ? *FSeams.ScreenHeight
                                : (QGuiApplication::primaryScreen() != nullptr
                                       ? QGuiApplication::primaryScreen()->geometry().height()
                                       : kClientHeight);
  FCompact = screen_height < kClientHeight;
  if (FCompact) {
    ApplyCompactLayout();
    GlowButtonHeight = 36;
    GlowButtonLayout = TButtonLayout::blGlyphLeftAdjusted;
    RunsGridReserve = 350;
    RunsGridGap = 4;
  } else {
    GlowButtonHeight = 60;
    GlowButtonLayout = TButtonLayout::blGlyphTop;
    RunsGridReserve = 510;
    RunsGridGap = 8;
  }
  for (QPushButton* button : {Btn_NewRun, Btn_Delete, btn_Restart, Btn_Stop, Btn_View, Btn_Print,
                              Btn_TrialRpt, Btn_RawData})
    StyleGlowButton(button);
  for (QPushButton* button : {Btn_TrialRpt, Btn_RawData}) {
    button->setFixedHeight(36);
    SetGlowButtonLayout(button, TButtonLayout::blGlyphLeftAdjusted);
  }
  shutDown = false;
  setWindowTitle(QString::fromLatin1(kCaption));
}

TFrm_Main::~TFrm_Main() {
  ShutDownChain();
}

template <class Work>
void TFrm_Main::Guard(Work&& work) {
  try {
    work();
  } catch (const std::exception& e) {
    FSeams.Box.ShowError(e.what());
  }
}

QAction* TFrm_Main::NewAction(QMenu* menu, const char* caption, void (TFrm_Main::*handler)()) {
  auto* action = new QAction(QString::fromLatin1(caption), this);
  if (menu != nullptr) menu->addAction(action);
  addAction(action);
  if (handler != nullptr)
    connect(action, &QAction::triggered, this,
            [this, handler] { Guard([&] { (this->*handler)(); }); });
  return action;
}

QAction* TFrm_Main::RunAction(const char* caption, const char* hint, void (TFrm_Main::*handler)()) {
  QAction* action = NewAction(nullptr, caption, handler);
  action->setToolTip(QString::fromLatin1(hint));
  return action;
}

void TFrm_Main::BuildControls() {
  MainMenu = new QMenuBar(this);
  QMenu* file = MainMenu->addMenu(QStringLiteral("&File"));
  Action_FilePrinterSettings =
      NewAction(file, "P&rinter settings", &TFrm_Main::Action_FilePrinterSettingsExecute);
  file->addSeparator();
  Action_FileExit = NewAction(file, "&Exit", nullptr);
  connect(Action_FileExit, &QAction::triggered, this, [this] {
    Action_FileExit->setEnabled(false);
    close();
  });
  QMenu* view = MainMenu->addMenu(QStringLiteral("&View"));
  Action_ViewCom = NewAction(view, "&Communication", nullptr);
  Action_ViewCom->setVisible(false);
  Action_ViewErrors = NewAction(view, "&Error Log", &TFrm_Main::Action_ViewErrorsExecute);
  Action_ViewReportsDirectory =
      NewAction(view, "Reports Directory", &TFrm_Main::OpenReportsDirectory);
  QMenu* tools = MainMenu->addMenu(QStringLiteral("&Tools"));
  Action_ToolsSetup = NewAction(tools, "&Setup com", &TFrm_Main::Action_ToolsSetupExecute);
  Action_Settings = NewAction(tools, "Moving average settings", &TFrm_Main::Action_SettingsExecute);
  QMenu* help = MainMenu->addMenu(QStringLiteral("&Help"));
  Action_HelpManual = NewAction(help, "&Manual", &TFrm_Main::Action_HelpManualExecute);
  Action_HelpAbout = NewAction(help, "&About", &TFrm_Main::Action_HelpAboutExecute);

  Action_RunNew = RunAction("New...", "Start a new run", &TFrm_Main::Action_RunNewExecute);
  Action_RunDelete =
      RunAction("&Delete...", "Delete selected run", &TFrm_Main::Action_RunDeleteExecute);
  Action_RunDelete->setShortcut(QKeySequence(Qt::Key_Delete));
  Action_RunRestart =
      RunAction("&Restart...", "Restart the run", &TFrm_Main::Action_RunRestartExecute);
  Action_RunStop = RunAction("&Stop", "Stop current run", &TFrm_Main::Action_RunStopExecute);
  Action_RunViewReport = RunAction("&View report", "Opens a pdf version of the run report",
                                   &TFrm_Main::Action_RunViewReportExecute);
  Action_RunPrintReport = RunAction("&Print report", "Prints a report for the run",
                                    &TFrm_Main::Action_RunPrintReportExecute);
  Action_RunPrintTrialSummary = RunAction(" &Generate Trial Summary Report",
                                          "Make a summary report for all runs in this trial",
                                          &TFrm_Main::Action_RunPrintTrialSummaryExecute);

  Client = new QWidget(this);
  Image_Logo = new QLabel(Client);
  Image_Logo->setGeometry(8, 4, 100, 80);
  Image_Logo->setPixmap(Logo(100, 80));
  Image_Logo->setScaledContents(true);
  Panel_Title = new QWidget(Client);
  Panel_Title->setGeometry(120, 4, 737, 80);
  Lbl_VesselName = new QLabel(Panel_Title);
  Lbl_VesselName->setGeometry(0, 0, 737, 48);
  Lbl_VesselName->setAlignment(Qt::AlignCenter);
  QFont vessel_font(QStringLiteral("Arial"));
  vessel_font.setPixelSize(40);
  Lbl_VesselName->setFont(vessel_font);
  Lbl_TrialName = new QLabel(Panel_Title);
  Lbl_TrialName->setGeometry(0, 48, 737, 32);
  Lbl_TrialName->setAlignment(Qt::AlignCenter);
  QFont trial_font(QStringLiteral("Arial"));
  trial_font.setPixelSize(27);
  Lbl_TrialName->setFont(trial_font);

  Panel_Runs = new QWidget(Client);
  Panel_Runs->setGeometry(kPanelRunsLeft, 92, kPanelRunsWidth, 700);
  RadioBtn_RealTime = new QRadioButton(QStringLiteral("Real Time"), Panel_Runs);
  RadioBtn_RealTime->setGeometry(8, 4, 160, 18);
  RadioBtn_Runs = new QRadioButton(QStringLiteral("Saved Runs"), Panel_Runs);
  RadioBtn_Runs->setGeometry(8, 24, 160, 18);
  Grid_Runs = new QTableWidget(1, 2, Panel_Runs);
  Grid_Runs->setGeometry(8, 48, 164, 200);
  Grid_Runs->horizontalHeader()->hide();
  Grid_Runs->verticalHeader()->hide();
  Grid_Runs->setColumnHidden(0, true);
  Grid_Runs->setColumnWidth(1, 146);
  Grid_Runs->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Grid_Runs->setSelectionMode(QAbstractItemView::NoSelection);
  Grid_Runs->setFocusPolicy(Qt::NoFocus);
  Btn_NewRun = GlowButton("&New Run...", Panel_Runs, QRect(8, 256, 78, 60));
  Btn_NewRun->setToolTip(Action_RunNew->toolTip());
  Btn_Delete = GlowButton("&Delete Run...", Panel_Runs, QRect(94, 256, 78, 60));
  Btn_Delete->setToolTip(Action_RunDelete->toolTip());
  Panel_UnfinishedRun = new QWidget(Panel_Runs);
  Panel_UnfinishedRun->setGeometry(0, 256, kPanelRunsWidth, 100);
  Lbl_RunInProgress = Label("Run in progress...", Panel_UnfinishedRun, 8, 0);
  btn_Restart = GlowButton("&Restart...", Panel_UnfinishedRun, QRect(8, 18, 78, 60));
  btn_Restart->setToolTip(Action_RunRestart->toolTip());
  Btn_Stop = GlowButton("&Stop", Panel_UnfinishedRun, QRect(94, 18, 78, 60));
  Btn_Stop->setToolTip(Action_RunStop->toolTip());
  Lbl_RunTime = Label("", Panel_UnfinishedRun, 8, 82, 170, 16);
  Panel_UnfinishedRun->hide();

  Panel_Run = new QWidget(Panel_Runs);
  Panel_Run->setGeometry(0, 330, kPanelRunsWidth, 380);
  Lbl_StartTimeStatic = Label("Start Time:", Panel_Run, 8, 0);
  Lbl_StartTime = Label(kNoData, Panel_Run, 8, 16, 170);
  Lbl_StopTimeStatic = Label("Stop Time:", Panel_Run, 8, 36);
  Lbl_StopTime = Label(kNoData, Panel_Run, 8, 52, 170);
  Lbl_DurationStatic = Label("Duration:", Panel_Run, 8, 72);
  Lbl_Duration = Label("", Panel_Run, 8, 88, 170);
  Lbl_Comments_Static = Label("Comments:", Panel_Run, 8, 108, 70);
  Btn_ToggleMemoEdit = GlowButton("Edit", Panel_Run, QRect(80, 104, 44, 22));
  Btn_SaveMemo = GlowButton("Save", Panel_Run, QRect(128, 104, 44, 22));
  Btn_SaveMemo->hide();
  Memo_Comments = new QPlainTextEdit(Panel_Run);
  Memo_Comments->setGeometry(8, 128, 164, 70);
  Memo_Comments->setReadOnly(true);
  Btn_View = GlowButton("&View Report", Panel_Run, QRect(8, 204, 78, 60));
  Btn_View->setToolTip(Action_RunViewReport->toolTip());
  Btn_Print = GlowButton("&Print Report", Panel_Run, QRect(94, 204, 78, 60));
  Btn_Print->setToolTip(Action_RunPrintReport->toolTip());
  Btn_TrialRpt = GlowButton(" &Generate Trial Summary Report", Panel_Run, QRect(8, 270, 164, 36));
  Btn_TrialRpt->setToolTip(Action_RunPrintTrialSummary->toolTip());
  Btn_RawData = GlowButton(" &Export raw data files", Panel_Run, QRect(8, 312, 164, 36));
  Btn_RawData->setToolTip(
      QStringLiteral("Export selected run's data to CSV files; filtered and unfiltered."));
  Panel_Run->hide();
  Lbl_Size = Label("debug Window size", Client, 8, 0);
  Lbl_Size->hide();

  // The memo's text is cut at its limit as it is typed.
  connect(Memo_Comments, &QPlainTextEdit::textChanged, this, [this] {
    const QString text = Memo_Comments->toPlainText();
    if (text.size() > 500) {
      Memo_Comments->setPlainText(text.left(500));
      Memo_Comments->moveCursor(QTextCursor::End);
    }
  });
  auto button = [this](QPushButton* b, QAction* action) {
    connect(b, &QPushButton::clicked, action, &QAction::trigger);
    connect(action, &QAction::enabledChanged, b, &QPushButton::setEnabled);
  };
  button(Btn_NewRun, Action_RunNew);
  button(Btn_Delete, Action_RunDelete);
  button(btn_Restart, Action_RunRestart);
  button(Btn_Stop, Action_RunStop);
  button(Btn_View, Action_RunViewReport);
  button(Btn_Print, Action_RunPrintReport);
  button(Btn_TrialRpt, Action_RunPrintTrialSummary);
  connect(Btn_RawData, &QPushButton::clicked, this, [this] { Guard([&] { Btn_RawDataClick(); }); });
  connect(Btn_ToggleMemoEdit, &QPushButton::clicked, this,
          [this] { Guard([&] { Btn_ToggleMemoEditClick(); }); });
  connect(Btn_SaveMemo, &QPushButton::clicked, this,
          [this] { Guard([&] { Btn_SaveMemoClick(); }); });
  connect(Grid_Runs, &QTableWidget::cellClicked, this,
          [this](int row, int) { Guard([&] { Grid_RunsSelectCell(row); }); });
  connect(RadioBtn_RealTime, &QRadioButton::toggled, this, [this](bool on) {
    if (on) Guard([&] { RadioBtn_RealTimeClick(); });
  });
  connect(RadioBtn_Runs, &QRadioButton::toggled, this, [this](bool on) {
    if (on) Guard([&] { RadioBtn_RunsClick(); });
  });
  Run_Timer = new QTimer(this);
  Run_Timer->setInterval(1000);
  connect(Run_Timer, &QTimer::timeout, this, [this] { Guard([&] { Run_TimerTimer(); }); });
}

void TFrm_Main::ApplyCompactLayout() {
  setMinimumSize(800, 600);
  resize(800, 600);
  Image_Logo->setGeometry(8, 4, 85, 72);
  Panel_Runs->setGeometry(kPanelRunsLeft, 84, kPanelRunsWidth, 452);
  Panel_Run->setGeometry(0, 190, kPanelRunsWidth, 260);
  Lbl_StartTimeStatic->setGeometry(8, 3, 160, 16);
  Lbl_StartTime->setGeometry(8, 16, 170, 16);
  Lbl_StopTimeStatic->setGeometry(8, 34, 160, 16);
  Lbl_StopTime->setGeometry(8, 48, 170, 16);
  Lbl_DurationStatic->setGeometry(8, 66, 160, 16);
  Lbl_Duration->setGeometry(8, 80, 170, 16);
  Lbl_Comments_Static->move(8, 98);
  Btn_ToggleMemoEdit->move(80, 94);
  Btn_SaveMemo->move(128, 94);
  Memo_Comments->setGeometry(8, 114, 164, 62);
  Btn_View->move(8, 182);
  Btn_Print->move(94, 182);
  Btn_TrialRpt->setGeometry(8, 222, 78, 36);
  Btn_RawData->setGeometry(94, 222, 78, 36);
  RadioBtn_RealTime->move(8, 4);
  RadioBtn_Runs->move(8, 22);
  Grid_Runs->setGeometry(8, 44, 164, 48);
  Lbl_RunTime->move(8, 71);
  btn_Restart->move(8, 18);
  Btn_Stop->move(94, 18);
  Btn_NewRun->move(8, 124);
  Btn_Delete->move(94, 124);
  Panel_Title->setGeometry(92, 4, 692, 76);
  Lbl_VesselName->setGeometry(0, 0, 692, 42);
  QFont vessel_font = Lbl_VesselName->font();
  vessel_font.setPixelSize(35);
  Lbl_VesselName->setFont(vessel_font);
  Lbl_TrialName->setGeometry(0, 42, 692, 28);
}

bool TFrm_Main::Start() {
  {
    TFrm_Welcome welcome(nullptr, FSeams.WelcomeMs);
    if (welcome.exec() != QDialog::Accepted) {
      shutDown = true;
      return false;
    }
  }
  DM_System = std::make_unique<TDM_System>(kDatabaseName, FSeams.Box);
  FConfigurationManager = std::make_unique<TConfigurationManager>(*DM_System);
  FReportCatalog = std::make_unique<TDMReportCatalog>(*DM_System);
  FReportManager =
      std::make_unique<TReportManager>(*FConfigurationManager, *FReportCatalog, *DM_System,
                                       FSeams.Box, FSeams.DesktopShell, FSeams.CurrentPrinter);
  if (ShowVesselSelect() != QDialog::Accepted) {
    FReportManager.reset();
    FReportCatalog.reset();
    FConfigurationManager.reset();
    DM_System.reset();
    shutDown = true;
    return false;
  }
  CreateShafts();
  FillRunsGrid();
  SelectRun(-1);
  Lbl_VesselName->setText(ToQString(FConfigurationManager->VesselName()));
  Lbl_TrialName->setText(ToQString(FConfigurationManager->TrialName()));
  FormResize();
  Run_Timer->start();
  return true;
}

int TFrm_Main::ShowVesselSelect() {
  TFrm_VesselSelect dialog(this, *FConfigurationManager, *FReportManager, *DM_System, FSeams.Box);
  return dialog.exec();
}

void TFrm_Main::CreateShafts() {
  FreeRunManager();
  FreeShaftPanels();
  FreeShafts();
  const int n = FConfigurationManager->NumberOfShafts();
  for (int i = 0; i < n; ++i) {
    auto shaft = std::make_shared<TShaft>(i, LinkServices{*DM_System, *DM_System, FSeams.Box},
                                          *FConfigurationManager);
    ShaftList.push_back(shaft);
    ShaftPanels.push_back(
        std::make_unique<TShaftPanel>(Client, *shaft, ShaftName(i, n), *FConfigurationManager));
  }
  ResetRunShaftPanels();
  FRunManager = std::make_unique<TRunManager>(this, *FConfigurationManager, ShaftList, *DM_System,
                                              FSeams.Box);
  FErrorManager = TErrorManager::Create(*FConfigurationManager, ShaftList, *DM_System);
}

void TFrm_Main::FreeShafts() {
  for (const std::shared_ptr<IShaft>& shaft : ShaftList)
    shaft->Disconnect();
  ShaftList.clear();
}

void TFrm_Main::FreeShaftPanels() {
  ShaftPanels.clear();
}

void TFrm_Main::FreeRunManager() {
  FRunManager.reset();
}

void TFrm_Main::FreeRunShaftPanels() {
  RunShafts.clear();
}

void TFrm_Main::ResetRunShaftPanels() {
  FreeRunShaftPanels();
}

void TFrm_Main::resizeEvent(QResizeEvent* event) {
  TFormAC::resizeEvent(event);
  const int menu_height = MainMenu->sizeHint().height();
  MainMenu->setGeometry(0, 0, width(), menu_height);
  Client->setGeometry(0, menu_height, width(), height() - menu_height);
  // The left column reaches the bottom of the window.
  Panel_Runs->resize(Panel_Runs->width(), std::max(100, Client->height() - Panel_Runs->y() - 8));
  FormResize();
}

void TFrm_Main::FormResize() {
  if (!DM_System || shutDown || !FConfigurationManager) return;
  const int n = std::max(1, FConfigurationManager->NumberOfShafts());
  Grid_Runs->resize(Grid_Runs->width(), std::max(24, Panel_Runs->height() - RunsGridReserve));
  const int buttons_top = Grid_Runs->y() + Grid_Runs->height() + RunsGridGap;
  Btn_NewRun->move(Btn_NewRun->x(), buttons_top);
  Btn_Delete->move(Btn_Delete->x(), buttons_top);
  Panel_UnfinishedRun->move(Panel_UnfinishedRun->x(), buttons_top);
  const int left = Panel_Runs->x() + Panel_Runs->width();
  const int panel_width = width() - Panel_Runs->x() - Panel_Runs->width() - 13;
  const int panel_height = NearestEven(static_cast<double>(Panel_Runs->height()) / n);
  auto place = [&](std::vector<std::unique_ptr<TShaftPanel>>& panels, bool show) {
    for (std::size_t i = 0; i < panels.size(); ++i) {
      panels[i]->setPosition(
          left, Panel_Runs->y() + NearestEven(static_cast<double>(i) * Panel_Runs->height() / n));
      panels[i]->setSize(panel_width, panel_height);
      if (show) panels[i]->setVisible(true);
    }
  };
  place(ShaftPanels, false);
  place(RunShafts, true);
  if (DebuggerAttached) {
    Lbl_Size->setText(QStringLiteral("(%1,%2)").arg(width()).arg(height()));
    Lbl_Size->show();
  }
}

// ---- Runs list and views

void TFrm_Main::FillRunsGrid() {
  const auto& runs = FRunManager->AllRuns();
  Grid_Runs->clearContents();
  Grid_Runs->setRowCount(std::max<int>(1, static_cast<int>(runs.size())));
  for (std::size_t r = 0; r < runs.size(); ++r) {
    Grid_Runs->setItem(static_cast<int>(r), 0, new QTableWidgetItem(QString::number(runs[r]->ID)));
    Grid_Runs->setItem(static_cast<int>(r), 1, new QTableWidgetItem(ToQString(runs[r]->name)));
  }
  RadioBtn_Runs->setEnabled(!runs.empty());
  if (runs.empty()) RadioBtn_RealTime->setChecked(true);
  PaintRunsGrid();
}

void TFrm_Main::PaintRunsGrid() {
  const TRun* selected = FRunManager ? FRunManager->SelectedRun() : nullptr;
  const QColor colour =
      FRunManager && FRunManager->IsRunInProgress() ? kRecordingRunColour : kSelectedRunColour;
  for (int r = 0; r < Grid_Runs->rowCount(); ++r) {
    QTableWidgetItem* cell = Grid_Runs->item(r, 1);
    if (cell == nullptr) continue;
    const bool on = selected != nullptr && GridRowId(Grid_Runs, r) == selected->ID;
    cell->setBackground(on ? QBrush(colour) : QBrush());
  }
}

void TFrm_Main::SelectRun(int aRunId) {
  // A read-back pumps events: no command may start meanwhile.
  DisabledScope disabled(*this);
  if (!FRunManager->IsRunInProgress()) FRunManager->SelectRun(aRunId);
  PaintRunsGrid();
  QRadioButton* view = aRunId == -1 ? RadioBtn_RealTime : RadioBtn_Runs;
  if (!view->isChecked()) view->setChecked(true);
  ShowSelectedRun();
}

void TFrm_Main::SelectLastRun() {
  const int last = Grid_Runs->rowCount() - 1;
  Grid_Runs->scrollToItem(Grid_Runs->item(last, 1) != nullptr ? Grid_Runs->item(last, 1)
                                                              : Grid_Runs->item(0, 1));
  SelectRun(GridRowId(Grid_Runs, last));
}

void TFrm_Main::ShowSelectedRun() {
  ShowStartTime();
  ShowStopTimeAndDuration();
  ShowRunShaftPanels();
  const TRun* run = FRunManager->SelectedRun();
  // Edits belong to the run they were started on: another selection drops
  // them, so Save never writes them into a different run.
  if (FMemoEditing && (run == nullptr || run->ID != FMemoRunId)) LeaveMemoEdit();
  if (!FMemoEditing) Memo_Comments->setPlainText(run ? ToQString(run->Comments) : QString());
  ShowRunInProgress(FRunManager->IsRunInProgress());
  PaintRunsGrid();
}

void TFrm_Main::ShowStartTime() {
  const TRun* run = FRunManager->SelectedRun();
  Lbl_StartTime->setText(run != nullptr && run->StartTime > 0
                             ? ToQString(FormatRunTime(run->StartTime))
                             : QString::fromLatin1(kNoData));
}

void TFrm_Main::ShowStopTimeAndDuration() {
  const TRun* run = FRunManager->SelectedRun();
  if (run == nullptr) {
    Lbl_StopTime->setText(QString::fromLatin1(kNoData));
    return;
  }
  if (run->StopTime > 0) {
    Lbl_StopTime->setText(ToQString(FormatRunTime(run->StopTime)));
    Lbl_Duration->setText(ToQString(FormatDuration(run->StopTime - run->StartTime)));
  } else {
    Lbl_StopTime->setText(QString::fromLatin1(kNoData));
    Lbl_Duration->setText(ToQString(FormatDuration(0)));
  }
}

void TFrm_Main::ShowRunShaftPanels() {
  const TMeassurementManagerList* managers = FRunManager->MeassurementManagers();
  if (FRunManager->SelectedRun() == nullptr || FRunManager->IsRunInProgress() ||
      managers == nullptr) {
    ResetRunShaftPanels();
    for (const auto& panel : ShaftPanels)
      panel->setVisible(true);
    return;
  }
  for (const auto& panel : ShaftPanels)
    panel->setVisible(false);
  ResetRunShaftPanels();
  const int n = FConfigurationManager->NumberOfShafts();
  for (const std::shared_ptr<IMeassurementManager>& manager : *managers)
    RunShafts.push_back(
        std::make_unique<TShaftPanel>(Client, ShaftName(manager->GetMeassurement().ShaftId - 1, n),
                                      *FConfigurationManager, manager->GetShaftDataSet()));
  FormResize();
}

void TFrm_Main::ShowRunInProgress(bool flag) {
  Panel_UnfinishedRun->setVisible(flag);
  Btn_NewRun->setVisible(!flag);
  Btn_Delete->setVisible(!flag);
}

void TFrm_Main::UpdateRunButtons() {
  const bool idle = !FRunManager->IsRunInProgress();
  Action_RunNew->setEnabled(idle);
  Action_RunDelete->setEnabled(idle);
}

void TFrm_Main::MarkRunStart() {
  Action_Settings->setEnabled(false);
  const TRun* run = FRunManager->SelectedRun();
  if (run == nullptr) return;
  for (const auto& panel : ShaftPanels)
    panel->addStart(run->StartTime, run->name);
}

void TFrm_Main::AfterRunStopped() {
  SelectLastRun();
  if (const TRun* run = FRunManager->SelectedRun())
    for (const auto& panel : ShaftPanels)
      panel->addStop(run->StopTime, run->name);
  ShowSelectedRun();
  UpdateRunButtons();
  Action_Settings->setEnabled(true);
}

void TFrm_Main::StopRunAndCreateReport() {
  ShowRunInProgress(false);
  {
    DisabledScope disabled(*this);
    FRunManager->StopRun();
  }
  AfterRunStopped();
  DisabledScope disabled(*this);
  if (TRun* run = FRunManager->SelectedRun()) {
    TRunDataSet data(*run, *FRunManager->MeassurementManagers());
    FReportManager->GenerateRunPdfFile(data, false, false);
  }
}

void TFrm_Main::RadioBtn_RealTimeClick() {
  Panel_Run->hide();
  SelectRun(-1);
  ResetRunShaftPanels();
  for (const auto& panel : ShaftPanels)
    panel->setVisible(true);
}

void TFrm_Main::RadioBtn_RunsClick() {
  if (FRunManager->IsRunInProgress()) {
    RadioBtn_RealTime->setChecked(true);
    return;
  }
  Panel_Run->show();
  if (FRunManager->SelectedRun() == nullptr) SelectLastRun();
}

void TFrm_Main::Grid_RunsSelectCell(int row) {
  const int id = GridRowId(Grid_Runs, row);
  if (id != -1) SelectRun(id);
}

// ---- Run commands

void TFrm_Main::Action_RunNewExecute() {
  if (FRunManager->StartNewRun() == nullptr) return;
  MarkRunStart();
  FillRunsGrid();
  RadioBtn_RealTime->setChecked(true);
  SelectLastRun();
  UpdateRunButtons();
}

void TFrm_Main::Action_RunStopExecute() {
  if (!FRunManager->IsRunInProgress()) return;
  StopRunAndCreateReport();
}

void TFrm_Main::Action_RunRestartExecute() {
  if (!FRunManager->IsRunInProgress()) return;
  if (!FSeams.Box.Confirm("Are you sure you want to restart the current run?")) return;
  // The run may have stopped by itself while the question was open.
  if (!FRunManager->IsRunInProgress()) return;
  FRunManager->RestartRun();
  for (const auto& panel : ShaftPanels)
    panel->deleteLastStart();
  MarkRunStart();
  ShowSelectedRun();
}

void TFrm_Main::Action_RunDeleteExecute() {
  TRun* run = FRunManager->SelectedRun();
  if (run == nullptr || FRunManager->IsRunInProgress()) {
    FSeams.Box.ShowError("Select Run first.");
    return;
  }
  if (!FSeams.Box.Confirm("Are you sure you want to delete " + run->name)) return;
  // The question pumps events: the run may be gone or a run started.
  if (FRunManager->SelectedRun() != run || FRunManager->IsRunInProgress()) return;
  FReportManager->DeleteRunPdf(
      {run->ID, FConfigurationManager->VesselName(), FConfigurationManager->TrialName(), run->name},
      true);
  FRunManager->DeleteSelectedRun();
  FillRunsGrid();
  SelectLastRun();
}

std::unique_ptr<TRunDataSet> TFrm_Main::SelectedRunData() {
  TRun* run = FRunManager->SelectedRun();
  const TMeassurementManagerList* managers = FRunManager->MeassurementManagers();
  if (run == nullptr || managers == nullptr) {
    FSeams.Box.ShowError("Select Run first.");
    return nullptr;
  }
  return std::make_unique<TRunDataSet>(*run, *managers);
}

void TFrm_Main::Action_RunViewReportExecute() {
  const std::unique_ptr<TRunDataSet> data = SelectedRunData();
  if (!data) return;
  DisabledScope disabled(*this);
  FReportManager->OpenRunPdf(*data);
}

void TFrm_Main::Action_RunPrintReportExecute() {
  const std::unique_ptr<TRunDataSet> data = SelectedRunData();
  if (!data) return;
  DisabledScope disabled(*this);
  FReportManager->PrintRunPdf(*data);
}

void TFrm_Main::Btn_RawDataClick() {
  const std::unique_ptr<TRunDataSet> data = SelectedRunData();
  if (!data) return;
  {
    DisabledScope disabled(*this);
    FReportManager->GenerateRunRawDataCsvFiles(*data);
  }
  OpenReportsDirectory();
}

void TFrm_Main::Action_RunPrintTrialSummaryExecute() {
  TFrm_TrialSummary dialog(nullptr, *FReportManager, *FRunManager, *DM_System, FSeams.Box);
  // The window is off while the summary reads the runs back, and on again
  // when the dialog's work ends, also after a failure that leaves it open.
  auto enable = [this](bool on) {
    Client->setEnabled(on);
    MainMenu->setEnabled(on);
  };
  connect(dialog.Btn_Continue, &QPushButton::pressed, this, [enable] { enable(false); });
  connect(dialog.Btn_Continue, &QPushButton::clicked, this, [enable] { enable(true); });
  dialog.exec();
  enable(true);
}

// ---- Comments

void TFrm_Main::SetRunActionsActive(bool active) {
  for (QAction* action : {Action_RunNew, Action_RunDelete, Action_RunRestart, Action_RunStop,
                          Action_RunViewReport, Action_RunPrintReport, Action_RunPrintTrialSummary})
    action->setEnabled(active);
  if (active) UpdateRunButtons();
}

void TFrm_Main::LeaveMemoEdit() {
  FMemoEditing = false;
  Btn_ToggleMemoEdit->setText(QStringLiteral("Edit"));
  Memo_Comments->setReadOnly(true);
  SetRunActionsActive(true);
  const TRun* run = FRunManager->SelectedRun();
  Memo_Comments->setPlainText(run ? ToQString(run->Comments) : QString());
  Btn_SaveMemo->hide();
}

void TFrm_Main::Btn_ToggleMemoEditClick() {
  if (FMemoEditing) {
    LeaveMemoEdit();
    return;
  }
  FMemoEditing = true;
  FMemoRunId = FRunManager->SelectedRun() ? FRunManager->SelectedRun()->ID : -1;
  Btn_ToggleMemoEdit->setText(QStringLiteral("Cancel"));
  Memo_Comments->setReadOnly(false);
  SetRunActionsActive(false);
  Memo_Comments->setFocus();
  Btn_SaveMemo->show();
}

void TFrm_Main::Btn_SaveMemoClick() {
  if (FRunManager->SelectedRun() == nullptr) {
    LeaveMemoEdit();
    return;
  }
  FRunManager->UpdateSelectedRunComment(FromQString(Memo_Comments->toPlainText()));
  LeaveMemoEdit();
  TRunDataSet data(*FRunManager->SelectedRun(), *FRunManager->MeassurementManagers());
  DisabledScope disabled(*this);
  FReportManager->GenerateRunPdfFile(data, false, false);
}

// ---- Run clock

void TFrm_Main::Run_TimerTimer() {
  if (!FRunManager || !FRunManager->IsRunInProgress()) {
    Lbl_RunInProgress->hide();
    Lbl_RunTime->clear();
    return;
  }
  if (FRunManager->IsBusy()) return;
  if (FRunManager->RunTimeLeft() > 0) {
    Lbl_RunInProgress->show();
    Lbl_RunTime->setText(ToQString(FRunManager->RunTimeCaption()));
    return;
  }
  StopRunAndCreateReport();
}

// ---- Menu commands

void TFrm_Main::Action_FilePrinterSettingsExecute() {
  FSeams.CurrentPrinter.ChoosePrinter();
}

void TFrm_Main::Action_ViewErrorsExecute() {
  try {
    TFrm_Errorlog dialog(this, DM_System->getErrorLogDataSource());
    dialog.exec();
  } catch (const std::bad_alloc& e) {
    DM_System->newError("Main", "ErrorLog", e.what(), ErrorLog::kLogAndShow);
  }
}

void TFrm_Main::Action_ToolsSetupExecute() {
  try {
    TFrm_SetupComPorts dialog(this, *FConfigurationManager, *DM_System, ShaftList);
    dialog.exec();
  } catch (const std::bad_alloc& e) {
    DM_System->newError("Main", "Action_ToolsSetupExecute", e.what(), ErrorLog::kLogAndShow);
  }
}

void TFrm_Main::Action_SettingsExecute() {
  if (FRunManager->IsRunInProgress()) return;
  TFrm_Settings dialog(nullptr, *FConfigurationManager, FSeams.Box);
  if (dialog.exec() != QDialog::Accepted) return;
  CreateShafts();
  FormResize();
  FillRunsGrid();
  if (RadioBtn_RealTime->isChecked())
    RadioBtn_RealTimeClick();
  else
    RadioBtn_RealTime->setChecked(true);
}

void TFrm_Main::Action_HelpManualExecute() {
  try {
    std::string folder = FSeams.ProgramFolder;
    if (folder.empty()) {
      const std::string program = ProgramFilePath();
      folder = program.substr(0, program.find_last_of('/'));
    }
    const std::string manual = folder + "/" + kManualName;
    if (!platform::DefaultFileSystem().FileExists(manual) || !FSeams.DesktopShell.Open(manual))
      DM_System->newError("Main", "HelpManualExecute", "Unable to open manual",
                          ErrorLog::kLogAndShow);
  } catch (const std::exception&) {
    DM_System->newError("Main", "HelpManualExecute", "Unable to open manual",
                        ErrorLog::kLogAndShow);
  }
}

void TFrm_Main::Action_HelpAboutExecute() {
  try {
    TFrm_About dialog(this);
    dialog.exec();
  } catch (const std::bad_alloc& e) {
    DM_System->newError("Main", "AboutExecute", e.what(), ErrorLog::kLogAndShow);
  }
}

void TFrm_Main::OpenReportsDirectory() {
  try {
    if (!FSeams.DesktopShell.Open(DM_System->getReportPath())) throw std::runtime_error("shell");
  } catch (const std::exception&) {
    DM_System->newError("Main", "Action_ViewReportsDirectoryExecute",
                        "Unable to open report directory.", ErrorLog::kLogAndShow);
  }
}

// ---- Shutdown

void TFrm_Main::closeEvent(QCloseEvent* event) {
  event->accept();
  TFormAC::closeEvent(event);
}

void TFrm_Main::keyPressEvent(QKeyEvent* event) {
  // Escape would reject the window like a dialog, and Return would click a
  // default button (starting a run); the main window does neither.
  if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
      event->key() == Qt::Key_Enter) {
    event->ignore();
    return;
  }
  TFormAC::keyPressEvent(event);
}

void TFrm_Main::ShutDownChain() {
  if (FShutDownDone) return;
  FShutDownDone = true;
  Run_Timer->stop();
  // The run is stopped and its report written before the log closes.
  if (FRunManager && FRunManager->IsRunInProgress()) {
    try {
      StopRunAndCreateReport();
    } catch (const std::exception& e) {
      FSeams.Box.ShowError(e.what());
    }
  }
  if (FErrorManager) FErrorManager->Disconnect();
  FReportManager.reset();
  FReportCatalog.reset();
  if (shutDown) {
    FConfigurationManager.reset();
    return;
  }
  FreeRunManager();
  FreeShaftPanels();
  FreeRunShaftPanels();
  FErrorManager.reset();
  FreeShafts();
  // The configuration manager goes after the shafts and panels that read it.
  DM_System.reset();
  FConfigurationManager.reset();
}

}  // namespace rvx

#include "app/main/VesselSelect.h"

#include <exception>
#include <memory>
#include <vector>

#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "app/reports/ReportManager.h"
#include "app/storage/ConfigurationManager.h"
#include "app/storage/DMSystem.h"
#include "app/util/MessageBox.h"
#include "app/util/QtText.h"
#include "app/util/Utils.h"

namespace rvx {

namespace {

const QColor kSelectedColour(0, 176, 240);

QLabel* FieldLabel(const char* text, QWidget* parent, int x, int y) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->move(x, y);
  return label;
}

QPushButton* Button(const char* text, const char* hint, QWidget* parent, QRect place) {
  auto* button = new QPushButton(QString::fromLatin1(text), parent);
  button->setToolTip(QString::fromLatin1(hint));
  StyleGlowButton(button);
  button->setGeometry(place);
  return button;
}

QTableWidget* Grid(QWidget* parent, const char* hint, QRect place) {
  auto* grid = new QTableWidget(1, 2, parent);
  grid->setHorizontalHeaderLabels({QStringLiteral("ID"), QStringLiteral("Name")});
  grid->verticalHeader()->hide();
  grid->setColumnWidth(0, 0);
  grid->setColumnHidden(0, true);
  grid->horizontalHeader()->setStretchLastSection(true);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionMode(QAbstractItemView::NoSelection);
  grid->setFocusPolicy(Qt::NoFocus);
  grid->setToolTip(QString::fromLatin1(hint));
  grid->setGeometry(place);
  return grid;
}

// Rows of (ID, name); with none, one empty row.
template <class List>
void FillGrid(QTableWidget* grid, const List& list) {
  const int rows = static_cast<int>(list.Count());
  grid->clearContents();
  grid->setRowCount(rows == 0 ? 1 : rows);
  for (int r = 0; r < rows; ++r) {
    const auto& item = list.Item(static_cast<std::size_t>(r));
    grid->setItem(r, 0, new QTableWidgetItem(QString::number(item.ID)));
    grid->setItem(r, 1, new QTableWidgetItem(ToQString(item.name)));
  }
}

}  // namespace

int GridRowId(const QTableWidget* grid, int row) {
  if (row < 0 || row >= grid->rowCount()) return -1;
  const QTableWidgetItem* cell = grid->item(row, 0);
  if (cell == nullptr || cell->text().isEmpty()) return -1;
  bool ok = false;
  const int id = cell->text().toInt(&ok);
  return ok ? id : -1;
}

// ---- New vessel

TFrm_NewVessel::TFrm_NewVessel(QWidget* AOwner, TDM_System& aDMSystem, MessageBox& aMessageBox)
    : TFormAC(AOwner), FDMSystem(aDMSystem), FMessageBox(aMessageBox) {
  setWindowTitle(QStringLiteral("RVX - New Vessel"));
  auto* vessel = new QGroupBox(QStringLiteral("Vessel Settings"), this);
  vessel->setGeometry(8, 8, 336, 60);
  FieldLabel("Name:", vessel, 10, 28);
  Edit_Name = new QLineEdit(QStringLiteral("Vessel Name"), vessel);
  Edit_Name->setMaxLength(kNameLength);
  Edit_Name->setToolTip(QStringLiteral("Vessel name"));
  Edit_Name->setGeometry(130, 24, 190, 24);

  auto* parameters = new QGroupBox(QStringLiteral("Parameter Settings"), this);
  parameters->setGeometry(8, 76, 336, 60);
  FieldLabel("Units:", parameters, 10, 28);
  CB_Units = new QComboBox(parameters);
  CB_Units->addItems({QStringLiteral("SI"), QStringLiteral("Metric")});
  CB_Units->setToolTip(QStringLiteral("Units for this vessel (default SI)"));
  CB_Units->setGeometry(130, 24, 100, 24);

  auto* design = new QGroupBox(QStringLiteral("Design data for engine"), this);
  design->setGeometry(8, 144, 336, 124);
  FieldLabel("Shafts:", design, 10, 28);
  CB_Shafts = new QComboBox(design);
  CB_Shafts->addItems({QStringLiteral("1"), QStringLiteral("2")});
  CB_Shafts->setToolTip(QStringLiteral("Number of shafts to measure"));
  CB_Shafts->setGeometry(160, 24, 60, 24);
  FieldLabel("Shaft Power at MCR:", design, 10, 60);
  Edit_Power = new QLineEdit(design);
  Edit_Power->setToolTip(QStringLiteral("Maximum Continous power for each shaft"));
  Edit_Power->setGeometry(160, 56, 100, 24);
  Lbl_PowerUnit = FieldLabel("kW", design, 268, 60);
  FieldLabel("Shaft Speed at MCR:", design, 10, 92);
  Edit_RPM = new QLineEdit(design);
  Edit_RPM->setToolTip(QStringLiteral("Maximum Continous speed for each shaft"));
  Edit_RPM->setGeometry(160, 88, 100, 24);
  Lbl_SpeedUnit = FieldLabel("rpm", design, 268, 92);

  Btn_OK = Button("OK", "Create Vessel", this, QRect(136, 278, 100, 38));
  Btn_Cancel = Button("Cancel", "Cancel", this, QRect(244, 278, 100, 38));
  connect(CB_Units, &QComboBox::currentIndexChanged, this, [this] { CB_UnitsChange(); });
  connect(Btn_OK, &QPushButton::clicked, this, &TFrm_NewVessel::Btn_OKClick);
  connect(Btn_Cancel, &QPushButton::clicked, this, &QDialog::reject);
  setFixedSize(352, 326);
}

void TFrm_NewVessel::CB_UnitsChange() {
  Lbl_PowerUnit->setText(CB_Units->currentText() == QStringLiteral("Metric")
                             ? QStringLiteral("SHp")
                             : QStringLiteral("kW"));
}

void TFrm_NewVessel::Btn_OKClick() {
  try {
    const std::string name = FromQString(Edit_Name->text());
    const bool metric = CB_Units->currentText() == QStringLiteral("Metric");
    const std::string power_text = FromQString(Edit_Power->text());
    // A metric entry is in shaft horsepower; the log keeps kW.
    const int power =
        metric ? TConfigurationManager::RoundHalfEven(ParseFloatText(power_text, 'x') / kShpPerKw)
               : ParseIntegerPart(power_text);
    const int speed = ParseIntegerPart(FromQString(Edit_RPM->text()));
    if (FDMSystem.vesselExist(name)) {
      FMessageBox.ShowError("Vessel allready exist.");
      return;
    }
    if (power <= 0 || speed <= 0) {
      FMessageBox.ShowError("Please enter a valid Power and Speed.");
      return;
    }
    TVessel vessel;
    vessel.name = name;
    vessel.MCRPower = power;
    vessel.MCRSpeed = speed;
    vessel.MCRTorque = TConfigurationManager::RoundHalfEven(power * kTorquePerPowerBySpeed / speed);
    vessel.Shafts = CB_Shafts->currentIndex() + 1;
    vessel.Units = metric ? "Metric" : "SI";
    FDMSystem.addVessel(vessel);
  } catch (const std::exception& e) {
    FMessageBox.ShowError(e.what());
    return;
  }
  accept();
}

// ---- New trial

TFrm_NewTrial::TFrm_NewTrial(QWidget* AOwner, TDM_System& aDMSystem, MessageBox& aMessageBox)
    : TFormAC(AOwner), FDMSystem(aDMSystem), FMessageBox(aMessageBox) {
  setWindowTitle(QStringLiteral("RVX - New Trial"));
  FieldLabel("Name:", this, 16, 20);
  Edit_Name = new QLineEdit(QStringLiteral("Trial name"), this);
  Edit_Name->setMaxLength(kNameLength);
  Edit_Name->setToolTip(QStringLiteral("Trial name"));
  Edit_Name->setGeometry(70, 16, 266, 24);
  Btn_OK = Button("OK", "Create a new trial for selected vessel", this, QRect(128, 56, 100, 38));
  Btn_Cancel = Button("Cancel", "Cancel", this, QRect(236, 56, 100, 38));
  connect(Btn_OK, &QPushButton::clicked, this, &TFrm_NewTrial::Btn_OKClick);
  connect(Btn_Cancel, &QPushButton::clicked, this, &QDialog::reject);
  setFixedSize(352, 104);
}

void TFrm_NewTrial::Btn_OKClick() {
  try {
    const std::string name = FromQString(Edit_Name->text());
    if (FDMSystem.trialExist(VesselID, name)) {
      FMessageBox.ShowError("A trial named '" + name + "' allready exist for vessel '" +
                            FDMSystem.getVesselName(VesselID) + "'");
      return;
    }
    TTrial trial;
    trial.name = name;
    trial.VesselID = VesselID;
    FDMSystem.addTrial(trial);
  } catch (const std::exception& e) {
    FMessageBox.ShowError(e.what());
    return;
  }
  accept();
}

// ---- Selection

TFrm_VesselSelect::TFrm_VesselSelect(QWidget* AOwner, TConfigurationManager& aConfigurationManager,
                                     TReportManager& aReportManager, TDM_System& aDMSystem,
                                     MessageBox& aMessageBox)
    : TFormAC(AOwner),
      FConfigurationManager(aConfigurationManager),
      FReportManager(aReportManager),
      FDMSystem(aDMSystem),
      FMessageBox(aMessageBox) {
  setWindowTitle(QStringLiteral("RVX - Select Vessel"));
  OvcLabel1 = FieldLabel("Vessels", this, 8, 8);
  OvcLabel2 = FieldLabel("Trials", this, 280, 8);
  Grid_Vessels = Grid(this, "Select a vessel", QRect(8, 28, 256, 240));
  Grid_Trial = Grid(this, "Select a trial", QRect(280, 28, 256, 240));
  Btn_NewVessel = Button("New Vessel...", "Create a new vessel", this, QRect(8, 276, 124, 38));
  Btn_DeleteVessel =
      Button("Delete Vessel...", "Delete selected vessel", this, QRect(140, 276, 124, 38));
  Btn_NewTrial = Button("New Trial...", "Create a new trial for selected vessel", this,
                        QRect(280, 276, 124, 38));
  Btn_DeleteTrial =
      Button("Delete Trial...", "Delete selected trial", this, QRect(412, 276, 124, 38));
  Btn_OK = Button("OK", "Start program", this, QRect(328, 330, 100, 38));
  Btn_Cancel = Button("Cancel", "Close program", this, QRect(436, 330, 100, 38));
  connect(Grid_Vessels, &QTableWidget::cellClicked, this,
          [this](int row, int) { Guard([&] { Grid_VesselsSelectCell(row); }); });
  connect(Grid_Trial, &QTableWidget::cellClicked, this,
          [this](int row, int) { Guard([&] { Grid_TrialSelectCell(row); }); });
  connect(Btn_NewVessel, &QPushButton::clicked, this,
          [this] { Guard([&] { Btn_NewVesselClick(); }); });
  connect(Btn_DeleteVessel, &QPushButton::clicked, this,
          [this] { Guard([&] { Btn_DeleteVesselClick(); }); });
  connect(Btn_NewTrial, &QPushButton::clicked, this,
          [this] { Guard([&] { Btn_NewTrialClick(); }); });
  connect(Btn_DeleteTrial, &QPushButton::clicked, this,
          [this] { Guard([&] { Btn_DeleteTrialClick(); }); });
  connect(Btn_OK, &QPushButton::clicked, this, [this] { Guard([&] { Btn_OKClick(); }); });
  connect(Btn_Cancel, &QPushButton::clicked, this, &QDialog::reject);
  setFixedSize(544, 378);

  // An engine error here leaves the dialog with nothing selected; OK then
  // refuses, Cancel ends the program.
  Guard([&] {
    LoadVessels();
    SelectLastVessel();
    SelectLastTrial();
  });
}

template <class Work>
void TFrm_VesselSelect::Guard(Work&& work) {
  try {
    work();
  } catch (const std::exception& e) {
    FMessageBox.ShowError(e.what());
  }
}

void TFrm_VesselSelect::Highlight(QTableWidget* grid, int selected) {
  for (int r = 0; r < grid->rowCount(); ++r) {
    const bool on = selected != -1 && GridRowId(grid, r) == selected;
    for (int c = 0; c < 2; ++c) {
      QTableWidgetItem* cell = grid->item(r, c);
      if (cell == nullptr) continue;
      cell->setBackground(on ? QBrush(kSelectedColour) : QBrush());
    }
  }
}

void TFrm_VesselSelect::LoadVessels() {
  FillGrid(Grid_Vessels, *FDMSystem.getVessels());
  Highlight(Grid_Vessels, VesselID);
}

void TFrm_VesselSelect::LoadTrials() {
  FillGrid(Grid_Trial, *FDMSystem.getTrials(VesselID));
  Highlight(Grid_Trial, TrialID);
}

void TFrm_VesselSelect::SelectVessel(int id) {
  VesselID = id;
  Highlight(Grid_Vessels, VesselID);
  LoadTrials();
}

void TFrm_VesselSelect::SelectTrial(int id) {
  TrialID = id;
  Highlight(Grid_Trial, TrialID);
}

void TFrm_VesselSelect::SelectLastVessel() {
  SelectVessel(GridRowId(Grid_Vessels, Grid_Vessels->rowCount() - 1));
}

void TFrm_VesselSelect::SelectLastTrial() {
  SelectTrial(GridRowId(Grid_Trial, Grid_Trial->rowCount() - 1));
}

void TFrm_VesselSelect::Grid_VesselsSelectCell(int row) {
  const int id = GridRowId(Grid_Vessels, row);
  if (id == -1) return;
  SelectVessel(id);
  SelectLastTrial();
}

void TFrm_VesselSelect::Grid_TrialSelectCell(int row) {
  const int id = GridRowId(Grid_Trial, row);
  if (id != -1) SelectTrial(id);
}

void TFrm_VesselSelect::Btn_NewVesselClick() {
  {
    TFrm_NewVessel dialog(nullptr, FDMSystem, FMessageBox);
    dialog.exec();
  }
  LoadVessels();
  SelectLastVessel();
  SelectLastTrial();
}

void TFrm_VesselSelect::Btn_NewTrialClick() {
  if (VesselID == -1) {
    FMessageBox.ShowError("Select vessel first.");
    return;
  }
  {
    TFrm_NewTrial dialog(nullptr, FDMSystem, FMessageBox);
    dialog.setVesselID(VesselID);
    dialog.exec();
  }
  LoadTrials();
  SelectLastTrial();
}

void TFrm_VesselSelect::DeleteTrialFiles(int aTrialId, bool confirmDelete) {
  const std::unique_ptr<TTrial> trial = FDMSystem.GetTrialById(aTrialId);
  if (!trial) return;
  const TReportTrialEntry entry{trial->ID, FDMSystem.getVesselName(trial->VesselID), trial->name};
  std::vector<TReportRunEntry> runs;
  for (const std::unique_ptr<TRun>& run : FDMSystem.GetTrialRuns(aTrialId))
    runs.push_back({run->ID, entry.VesselName, entry.TrialName, run->name});
  FReportManager.DeleteTrialSummaryFiles(entry, runs, confirmDelete);
}

void TFrm_VesselSelect::DeleteVesselFiles(int aVesselId) {
  const std::string name = FDMSystem.getVesselName(aVesselId);
  if (!FMessageBox.Confirm("Delete all reports for '" + name + "' too?")) return;
  for (const std::unique_ptr<TTrial>& trial : FDMSystem.getTrialsByVesselId(aVesselId))
    DeleteTrialFiles(trial->ID, false);
}

void TFrm_VesselSelect::Btn_DeleteVesselClick() {
  if (VesselID == -1) {
    FMessageBox.ShowError("Select vessel first.");
    return;
  }
  if (!FMessageBox.Confirm("Are you sure you want to delete " + FDMSystem.getVesselName(VesselID)))
    return;
  DeleteVesselFiles(VesselID);
  // The file reads above leave the tables filtered; the vessel list is read
  // again so the delete finds its row.
  FDMSystem.getVessels();
  FDMSystem.deleteVessel(VesselID);
  TrialID = -1;
  LoadVessels();
  SelectLastVessel();
  SelectLastTrial();
}

void TFrm_VesselSelect::Btn_DeleteTrialClick() {
  if (TrialID == -1) {
    FMessageBox.ShowError("Select Trial first.");
    return;
  }
  if (!FMessageBox.Confirm("Are you sure you want to delete trial '" +
                           FDMSystem.getTrialName(TrialID) + "' from '" +
                           FDMSystem.getVesselName(VesselID) + "'?"))
    return;
  DeleteTrialFiles(TrialID, true);
  FDMSystem.getTrials(VesselID);
  FDMSystem.deleteTrial(TrialID);
  TrialID = -1;
  LoadTrials();
  SelectLastTrial();
}

void TFrm_VesselSelect::Btn_OKClick() {
  if (VesselID == -1 || TrialID == -1) {
    FMessageBox.ShowError("Select vessel and trial first.");
    return;
  }
  FConfigurationManager.Initialize(TrialID);
  accept();
}

}  // namespace rvx

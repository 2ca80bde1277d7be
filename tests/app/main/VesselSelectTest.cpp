// The vessel and trial selection on a real log file: creation rules, the
// preselection, and deleting with the report files.
#include "app/main/VesselSelect.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <filesystem>
#include <fstream>

#include "app/reports/DMReportCatalog.h"
#include "app/reports/ReportManager.h"
#include "app/storage/ConfigurationManager.h"
#include "tests/app/main/MainTestSupport.h"

namespace rvx::test {
namespace {

class VesselSelectTest : public ::testing::Test, public MainWindowFixture {
 protected:
  void SetUp() override {
    log_ = std::make_unique<TDM_System>(TFrm_Main::kDatabaseName, box_);
    config_ = std::make_unique<TConfigurationManager>(*log_);
    catalog_ = std::make_unique<TDMReportCatalog>(*log_);
    reports_ = std::make_unique<TReportManager>(*config_, *catalog_, *log_, box_, shell_, printer_);
  }
  std::unique_ptr<TFrm_VesselSelect> Dialog() {
    return std::make_unique<TFrm_VesselSelect>(nullptr, *config_, *reports_, *log_, box_);
  }
  int AddVessel(const std::string& name) {
    TVessel v;
    v.name = name;
    v.MCRPower = 100;
    v.MCRSpeed = 10;
    v.Shafts = 1;
    v.Units = "SI";
    log_->addVessel(v);
    const auto vessels = log_->getVessels();
    return vessels->Item(vessels->Count() - 1).ID;
  }
  int AddTrial(int vessel, const std::string& name) {
    log_->addTrial(TTrial{0, name, vessel});
    return log_->getTrialsByVesselId(vessel).back()->ID;
  }

  std::unique_ptr<TDM_System> log_;
  std::unique_ptr<TConfigurationManager> config_;
  std::unique_ptr<TDMReportCatalog> catalog_;
  std::unique_ptr<TReportManager> reports_;
};

TEST_F(VesselSelectTest, EmptyLogShowsOneEmptyRowAndRefusesOkAndNewTrial) {
  auto dialog = Dialog();
  for (QTableWidget* grid : {dialog->Grid_Vessels, dialog->Grid_Trial}) {
    EXPECT_EQ(grid->rowCount(), 1);
    EXPECT_EQ(GridRowId(grid, 0), -1);
  }
  box_.ExpectErrors(2);
  dialog->Btn_OK->click();
  dialog->Btn_NewTrial->click();
  EXPECT_EQ(box_.Log(), (std::vector<std::string>{"error:Select vessel and trial first.",
                                                  "error:Select vessel first."}));
  EXPECT_EQ(dialog->result(), 0);
}

TEST_F(VesselSelectTest, PreselectsTheLastVesselAndItsLastTrial) {
  AddVessel("A");
  AddVessel("B");
  const int third = AddVessel("C");
  int fifth = -1;
  for (int t = 1; t <= 5; ++t)
    fifth = AddTrial(third, "T" + std::to_string(t));
  auto dialog = Dialog();
  EXPECT_EQ(dialog->VesselID, third);
  EXPECT_EQ(dialog->TrialID, fifth);
  EXPECT_EQ(dialog->Grid_Trial->rowCount(), 5);
  // The selected rows carry the highlight colour.
  EXPECT_EQ(dialog->Grid_Vessels->item(2, 1)->background().color(), QColor(0, 176, 240));
  dialog->Btn_OK->click();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(config_->TrialName(), "T5");
  EXPECT_EQ(config_->VesselName(), "C");
}

struct VesselEntry {
  const char* name;
  const char* units;
  const char* power;
  const char* speed;
  int stored_power;
  int stored_torque;
};

void PrintTo(const VesselEntry& e, std::ostream* os) {
  *os << e.units << " " << e.power << " at " << e.speed;
}

class NewVesselTest : public VesselSelectTest, public ::testing::WithParamInterface<VesselEntry> {};

TEST_P(NewVesselTest, StoresPowerInKwAndTheTorque) {
  const VesselEntry& e = GetParam();
  TFrm_NewVessel dialog(nullptr, *log_, box_);
  dialog.Edit_Name->setText(QString::fromLatin1(e.name));
  dialog.CB_Units->setCurrentText(QString::fromLatin1(e.units));
  dialog.CB_Shafts->setCurrentIndex(1);
  dialog.Edit_Power->setText(QString::fromLatin1(e.power));
  dialog.Edit_RPM->setText(QString::fromLatin1(e.speed));
  dialog.Btn_OKClick();
  ASSERT_EQ(dialog.result(), QDialog::Accepted);
  const auto vessels = log_->getVessels();
  ASSERT_EQ(vessels->Count(), 1u);
  const std::unique_ptr<TVessel> stored = log_->GetVesselById(vessels->Item(0).ID);
  ASSERT_TRUE(stored);
  const TVessel& v = *stored;
  EXPECT_EQ(v.MCRPower, e.stored_power);
  EXPECT_EQ(v.MCRSpeed, 100);
  EXPECT_EQ(v.MCRTorque, e.stored_torque);
  EXPECT_EQ(v.Shafts, 2);
  EXPECT_EQ(v.Units, e.units);
  EXPECT_EQ(dialog.Lbl_PowerUnit->text(),
            std::string(e.units) == "Metric" ? QStringLiteral("SHp") : QStringLiteral("kW"));
}

INSTANTIATE_TEST_SUITE_P(Entries, NewVesselTest,
                         ::testing::Values(VesselEntry{"M", "Metric", "10000", "100", 7355, 702},
                                           VesselEntry{"S", "SI", "7355,5", "100", 7355, 702}));

TEST_F(VesselSelectTest, NamesAreExactAndBadNumbersAreRefused) {
  AddVessel("Ship");
  TFrm_NewVessel dialog(nullptr, *log_, box_);
  dialog.Edit_Power->setText(QStringLiteral("100"));
  dialog.Edit_RPM->setText(QStringLiteral("10"));
  box_.ExpectErrors(2);
  dialog.Edit_Name->setText(QStringLiteral("Ship"));
  dialog.Btn_OKClick();
  dialog.Edit_Name->setText(QStringLiteral("ship"));
  dialog.Edit_RPM->setText(QStringLiteral("0"));
  dialog.Btn_OKClick();
  EXPECT_EQ(box_.Log(), (std::vector<std::string>{"error:Vessel allready exist.",
                                                  "error:Please enter a valid Power and Speed."}));
  dialog.Edit_RPM->setText(QStringLiteral("10"));
  dialog.Btn_OKClick();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(log_->getVessels()->Count(), 2u);  // "Ship" and "ship"
}

TEST_F(VesselSelectTest, DeletingATrialWithConsentRemovesItsReportFiles) {
  const int vessel = AddVessel("V");
  const int trial = AddTrial(vessel, "T");
  TRun run;
  run.name = "R1";
  run.TrialID = trial;
  log_->addRun(run);
  const std::string folder = log_->getReportPath();
  const std::vector<std::string> files = {folder + "V-T-Summary.csv", folder + "V-T-Summary.xlsx",
                                          folder + "V-T-Summary.pdf", folder + "V-T-R1.pdf"};
  for (const std::string& f : files)
    std::ofstream(f) << "x";
  auto dialog = Dialog();
  ASSERT_EQ(dialog->TrialID, trial);
  box_.QueueConfirm(true);  // the trial
  box_.QueueConfirm(true);  // its reports
  dialog->Btn_DeleteTrial->click();
  for (const std::string& f : files)
    EXPECT_FALSE(std::filesystem::exists(f)) << f;
  EXPECT_EQ(dialog->TrialID, -1);
  EXPECT_EQ(log_->getTrialsByVesselId(vessel).size(), 0u);
  box_.ExpectDone();
}

TEST_F(VesselSelectTest, KeepingTheReportsDeletesOnlyTheVessel) {
  const int vessel = AddVessel("V");
  AddTrial(vessel, "T");
  const std::string summary = log_->getReportPath() + "V-T-Summary.csv";
  std::ofstream(summary) << "x";
  auto dialog = Dialog();
  box_.QueueConfirm(true);   // the vessel
  box_.QueueConfirm(false);  // its reports stay
  dialog->Btn_DeleteVessel->click();
  EXPECT_TRUE(std::filesystem::exists(summary));
  EXPECT_EQ(log_->getVessels()->Count(), 0u);
  EXPECT_EQ(dialog->VesselID, -1);
  box_.ExpectDone();
}

}  // namespace
}  // namespace rvx::test

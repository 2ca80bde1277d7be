// The vessel and trial selection at start-up (TFrm_VesselSelect) and its two
// creation dialogs (TFrm_NewVessel, TFrm_NewTrial).
//
// The selection dialog lists every vessel and the trials of the selected
// one, preselects the vessel and trial of highest ID, creates and deletes
// vessels and trials (deleting their report files when the user agrees) and
// on OK loads the chosen trial into the configuration manager. The log is
// changed at once by each create and delete; Cancel undoes nothing.
//
// It lives beside the main window because it deletes report files through
// the report manager, which sits above the panels and dialogs of app/ui.
//
// Errors: refusals show an error box and keep the dialog open; an engine
// error in a handler is shown in the error box and ends that handler.
//
// Thread safety: GUI thread only.
#pragma once

#include <string>

#include "app/util/ControlStyle.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace rvx {

class MessageBox;
class TConfigurationManager;
class TDM_System;
class TReportManager;

class TFrm_NewVessel : public TFormAC {
  Q_OBJECT

 public:
  static constexpr int kNameLength = 30;
  // Shaft horsepower per kW.
  static constexpr double kShpPerKw = 1.3596;
  // kNm per (kW / rpm).
  static constexpr double kTorquePerPowerBySpeed = 9.549297;

  TFrm_NewVessel(QWidget* AOwner, TDM_System& aDMSystem, MessageBox& aMessageBox);

  void CB_UnitsChange();
  void Btn_OKClick();

  QLineEdit* Edit_Name;
  QComboBox* CB_Units;
  QComboBox* CB_Shafts;
  QLineEdit* Edit_Power;
  QLabel* Lbl_PowerUnit;
  QLineEdit* Edit_RPM;
  QLabel* Lbl_SpeedUnit;
  QPushButton* Btn_OK;
  QPushButton* Btn_Cancel;

 private:
  TDM_System& FDMSystem;
  MessageBox& FMessageBox;
};

class TFrm_NewTrial : public TFormAC {
  Q_OBJECT

 public:
  static constexpr int kNameLength = 50;

  TFrm_NewTrial(QWidget* AOwner, TDM_System& aDMSystem, MessageBox& aMessageBox);

  void setVesselID(int newVesselID) { VesselID = newVesselID; }
  void Btn_OKClick();

  QLineEdit* Edit_Name;
  QPushButton* Btn_OK;
  QPushButton* Btn_Cancel;
  int VesselID = -1;

 private:
  TDM_System& FDMSystem;
  MessageBox& FMessageBox;
};

class TFrm_VesselSelect : public TFormAC {
  Q_OBJECT

 public:
  // The references must outlive the dialog.
  TFrm_VesselSelect(QWidget* AOwner, TConfigurationManager& aConfigurationManager,
                    TReportManager& aReportManager, TDM_System& aDMSystem, MessageBox& aMessageBox);

  void LoadVessels();
  void LoadTrials();
  void SelectVessel(int id);
  void SelectTrial(int id);
  void SelectLastVessel();
  void SelectLastTrial();

  void Grid_VesselsSelectCell(int row);
  void Grid_TrialSelectCell(int row);
  void Btn_NewVesselClick();
  void Btn_DeleteVesselClick();
  void Btn_NewTrialClick();
  void Btn_DeleteTrialClick();
  void Btn_OKClick();

  QLabel* OvcLabel1;
  QLabel* OvcLabel2;
  QTableWidget* Grid_Vessels;
  QTableWidget* Grid_Trial;
  QPushButton* Btn_NewVessel;
  QPushButton* Btn_DeleteVessel;
  QPushButton* Btn_NewTrial;
  QPushButton* Btn_DeleteTrial;
  QPushButton* Btn_OK;
  QPushButton* Btn_Cancel;
  int VesselID = -1;
  int TrialID = -1;

 private:
  // Runs a handler; an error is shown and ends it.
  template <class Work>
  void Guard(Work&& work);
  void DeleteVesselFiles(int aVesselId);
  void DeleteTrialFiles(int aTrialId, bool confirmDelete);
  void Highlight(QTableWidget* grid, int selected);

  TConfigurationManager& FConfigurationManager;
  TReportManager& FReportManager;
  TDM_System& FDMSystem;
  MessageBox& FMessageBox;
};

// The ID in a grid row; -1 for a row without one.
int GridRowId(const QTableWidget* grid, int row);

}  // namespace rvx

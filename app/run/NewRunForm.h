// TFrm_NewRun: the modal dialog that names a new run ("RVX - New Run"):
// name (at most 30 characters), comments (at most 500), and an optional
// fixed duration in whole hours and minutes. Start refuses a name that a
// run of the current trial already has (an error box; the dialog stays
// open) and closes with OK otherwise.
//
// Thread safety: GUI thread only.
#pragma once

#include <memory>
#include <string>

#include "app/storage/LogRecords.h"
#include "app/util/ControlStyle.h"
#include "platform/core/DateTime.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QWidget;

namespace rvx {

class TConfigurationManager;
class TDM_System;
class MessageBox;

class TFrm_NewRun : public TFormAC {
  Q_OBJECT

 public:
  static constexpr int kNameLength = 30;
  static constexpr int kCommentsLength = 500;
  // The plan of a run without a fixed duration: 25 hours.
  static constexpr platform::TDateTime kDefaultStopAfter = 1.0416666666666667;

  TFrm_NewRun(QWidget* AOwner, TConfigurationManager& aConfigurationManager, TDM_System& aDMSystem,
              MessageBox& aMessageBox);

  void setTrialID(int newTrialID) { FTrialID = newTrialID; }
  // Ticked, and at least one picker is not zero.
  bool isAutoStop() const;
  // Hours plus minutes, as a day fraction.
  platform::TDateTime getStopAfter() const;
  std::unique_ptr<TRun> GetNewRun() const;

  void CB_AutoStopClick();
  void Btn_OKClick();

  QLabel* Label1;
  QLineEdit* Edit_Name;
  QLabel* Label2;
  QPlainTextEdit* Memo_Comments;
  QCheckBox* CB_AutoStop;
  QWidget* Panel_AutoStop;
  QSpinBox* DateTimePicker_AutoStopHours;
  QSpinBox* DateTimePicker_AutoStopMinutes;
  QPushButton* Btn_OK;
  QPushButton* Btn_Cancel;

 private:
  TConfigurationManager& FConfigurationManager;
  TDM_System& FDMSystem;
  MessageBox& FMessageBox;
  int FTrialID = 0;
};

}  // namespace rvx

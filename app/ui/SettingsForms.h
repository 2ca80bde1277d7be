// The moving-average settings dialog and the progress window.
//
// TFrm_Settings edits the window size and minimum good samples. OK stores
// them (minimum first) and closes only when minimum > 0, window > 0 and
// window >= minimum; any other numbers are refused without a message and the
// dialog stays open. A text that is not an integer shows the conversion error
// through the message box and the dialog stays open.
//
// TBusyForm is shown on creation, not modal, and processes pending events in
// setup and step so it paints and the readings go on meanwhile.
//
// Thread safety: GUI thread only.
#pragma once

#include <string>

#include "app/util/ControlStyle.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace rvx {

class DisplaySettings;
class MessageBox;

class TFrm_Settings : public TFormAC {
  Q_OBJECT

 public:
  TFrm_Settings(QWidget* AOwner, DisplaySettings& aConfigurationManager, MessageBox& aMessageBox);

  void Btn_OKClick();

  QLabel* Lbl_DataWindowSize;
  QLineEdit* Edit_DataWindowSize;
  QLabel* Lbl_MinimumDataSamplesInWindow;
  QLineEdit* Edit_MinimumDataSamplesInWindow;
  QPushButton* Btn_OK;
  QPushButton* Btn_Cancel;

 private:
  DisplaySettings& FConfigurationManager;
  MessageBox& FMessageBox;
};

class TBusyForm : public TFormAC {
  Q_OBJECT

 public:
  explicit TBusyForm(QWidget* AOwner = nullptr);

  void setup(const std::string& LV_Caption, const std::string& LV_Text, int Steps);
  void step();
  void step(int count);

  QLabel* Img_glyph;
  QLabel* Lbl_text;
  QProgressBar* ProgressBar;
  QLabel* Lbl_PercentFinished;
  int CV_increment = 1;
};

}  // namespace rvx

// TFrm_AutoComSetup: the dialog in which the user picks a serial meter's port
// number (1 to 25, each shown with the device it stands for) and baud rate
// (4800 or 9600). The caller stores the result; the link uses it at its next
// Connect.
//
// Thread safety: GUI thread only.
#pragma once

#include "app/util/ControlStyle.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace rvx {

class TFrm_AutoComSetup : public TFormAC {
  Q_OBJECT

 public:
  static constexpr int kPortCount = 25;

  explicit TFrm_AutoComSetup(QWidget* AOwner = nullptr);

  // Baud := aInitialBaud, Port := aInitialPort; the lists select port
  // aInitialPort and "4800" when aInitialBaud is 4800, else "9600". Shown
  // modally; OK sets Port := selected item + 1 (unchanged when a port
  // beyond the list selected none) and Baud := 4800 x (selected item + 1)
  // and returns true; Cancel keeps the initial values.
  bool Show(int aInitialBaud, int aInitialPort);

  int Baud = 4800;
  int Port = 1;

  QLabel* Lbl_Port;
  QLabel* Lbl_Baud;
  QComboBox* CB_Port;
  QComboBox* CB_Baud;
  QPushButton* Btn_OK;
  QPushButton* Btn_Cancel;

 private:
  void FormCreate();
};

}  // namespace rvx

// TFrm_BuildStatus: the window the program shows while its main window is
// not built yet: the program's name and version and what this build can and
// cannot do, with a Close button. It goes once the main window lands.
//
// Thread safety: GUI thread only.
#pragma once

#include "app/util/ControlStyle.h"

class QLabel;
class QPushButton;

namespace rvx {

class TFrm_BuildStatus : public TFormAC {
  Q_OBJECT

 public:
  explicit TFrm_BuildStatus(QWidget* parent = nullptr);

  QLabel* Lbl_Title;
  QLabel* Lbl_Version;
  QLabel* Lbl_Status;
  QPushButton* Btn_Close;
};

}  // namespace rvx

// TFrm_DemoComSetup: the dialog that edits a simulated meter's settings: the
// interval in ms, base power and speed (stored as kW and rpm whatever unit
// labels the caller passes) and the spike chance, shown in percent. Entries
// are read leniently and never refused: letters are ignored, an empty edit
// gives 0, "," and "." both mark decimals in the spike chance. The caller
// stores the result.
//
// Thread safety: GUI thread only.
#pragma once

#include <string>

#include "app/util/ControlStyle.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace rvx {

class TFrm_DemoComSetup : public TFormAC {
  Q_OBJECT

 public:
  explicit TFrm_DemoComSetup(QWidget* AOwner = nullptr);

  // Sets the four properties to the initial values, fills the edits (the
  // spike chance x 100 in the process number format) and the power and
  // speed unit labels, and shows the dialog modally. OK reads the edits
  // (integers: ParseIntegerPart; spike chance: ParseFloatText / 100) and
  // returns true; Cancel keeps the initial values.
  bool Show(int aInitialInterval, int aInitialPower, int aInitialSpeed, double aInitialSpikeChance,
            const std::string& aPowerUnit, const std::string& aSpeedUnit);

  int Interval = 0;
  int Power = 0;
  int Speed = 0;
  double SpikeChance = 0;

  QLabel* Lbl_Interval;
  QLabel* Lbl_Power;
  QLabel* Lbl_Speed;
  QLabel* Lbl_SpikeChance;
  QLineEdit* Edit_Timer;
  QLineEdit* Edit_Power;
  QLineEdit* Edit_speed;
  QLineEdit* Edit_SpikeChance;
  QLabel* Lbl_IntervalUnit;
  QLabel* Lbl_PowerUnit;
  QLabel* Lbl_SpeedUnit;
  QLabel* Lbl_SpikeChanceUnit;
  QPushButton* Btn_OK;
  QPushButton* Btn_Cancel;

 private:
  void FormCreate();
};

}  // namespace rvx

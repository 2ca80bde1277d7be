#include "app/ui/DemoComSetup.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/ui/SetupDialogButtons.h"
#include "app/util/QtText.h"
#include "app/util/Utils.h"
#include "platform/core/TextConvert.h"

namespace rvx {

TFrm_DemoComSetup::TFrm_DemoComSetup(QWidget* AOwner) : TFormAC(AOwner) {
  setWindowTitle(QStringLiteral("RVX - Demo setup"));
  Lbl_Interval = new QLabel(QStringLiteral("Interval:"), this);
  Lbl_Power = new QLabel(QStringLiteral("Power:"), this);
  Lbl_Speed = new QLabel(QStringLiteral("Speed:"), this);
  Lbl_SpikeChance = new QLabel(QStringLiteral("Spike chance:"), this);
  Edit_Timer = new QLineEdit(this);
  Edit_Power = new QLineEdit(this);
  Edit_speed = new QLineEdit(this);
  Edit_SpikeChance = new QLineEdit(this);
  Lbl_IntervalUnit = new QLabel(QStringLiteral("ms"), this);
  Lbl_PowerUnit = new QLabel(QStringLiteral("kW"), this);
  Lbl_SpeedUnit = new QLabel(QStringLiteral("rpm"), this);
  Lbl_SpikeChanceUnit = new QLabel(QStringLiteral("%"), this);
  CreateSetupDialogButtons(this, Btn_OK, Btn_Cancel);

  auto* grid = new QGridLayout(this);
  QLabel* const names[] = {Lbl_Interval, Lbl_Power, Lbl_Speed, Lbl_SpikeChance};
  QLineEdit* const edits[] = {Edit_Timer, Edit_Power, Edit_speed, Edit_SpikeChance};
  QLabel* const units[] = {Lbl_IntervalUnit, Lbl_PowerUnit, Lbl_SpeedUnit, Lbl_SpikeChanceUnit};
  for (int row = 0; row < 4; ++row) {
    grid->addWidget(names[row], row, 0);
    grid->addWidget(edits[row], row, 1);
    grid->addWidget(units[row], row, 2);
  }
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Btn_OK);
  buttons->addWidget(Btn_Cancel);
  grid->addLayout(buttons, 4, 0, 1, 3);
  grid->setSizeConstraint(QLayout::SetFixedSize);
  FormCreate();
}

void TFrm_DemoComSetup::FormCreate() {
  for (QLabel* label : {Lbl_Interval, Lbl_Power, Lbl_Speed, Lbl_SpikeChance, Lbl_IntervalUnit,
                        Lbl_PowerUnit, Lbl_SpeedUnit, Lbl_SpikeChanceUnit})
    StyleOvcLabel(label);
  StyleGlowButton(Btn_OK);
  StyleGlowButton(Btn_Cancel);
}

bool TFrm_DemoComSetup::Show(int aInitialInterval, int aInitialPower, int aInitialSpeed,
                             double aInitialSpikeChance, const std::string& aPowerUnit,
                             const std::string& aSpeedUnit) {
  Interval = aInitialInterval;
  Power = aInitialPower;
  Speed = aInitialSpeed;
  SpikeChance = aInitialSpikeChance;
  Edit_Timer->setText(QString::number(aInitialInterval));
  Edit_Power->setText(QString::number(aInitialPower));
  Edit_speed->setText(QString::number(aInitialSpeed));
  Edit_SpikeChance->setText(ToQString(platform::FloatToStr(aInitialSpikeChance * 100)));
  Lbl_PowerUnit->setText(ToQString(aPowerUnit));
  Lbl_SpeedUnit->setText(ToQString(aSpeedUnit));
  for (QLabel* label : {Lbl_PowerUnit, Lbl_SpeedUnit})
    StyleOvcLabel(label);
  if (exec() != QDialog::Accepted) return false;
  Interval = ParseIntegerPart(FromQString(Edit_Timer->text()));
  Power = ParseIntegerPart(FromQString(Edit_Power->text()));
  Speed = ParseIntegerPart(FromQString(Edit_speed->text()));
  // Either "," or "." marks the decimals.
  SpikeChance = ParseFloatText(FromQString(Edit_SpikeChance->text()), 'x') / 100;
  return true;
}

}  // namespace rvx

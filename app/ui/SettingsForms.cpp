#include "app/ui/SettingsForms.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <algorithm>
#include <cmath>

#include "app/acquisition/DisplaySettings.h"
#include "app/util/MessageBox.h"
#include "app/util/QtText.h"
#include "platform/core/Exceptions.h"
#include "platform/core/TextConvert.h"

namespace rvx {
namespace {

const char* const kWindowHint =
    "While in the real time mode,\r\nthe display panel shows the current moving average "
    "value,\r\nwhich is the mean value of the latest X values received from the RVX "
    "unit.\r\n\r\nX is the data window size and is configurable here.";
const char* const kMinimumHint =
    "In case of communication error, bad values could be received from the RVX unit,\r\nbut "
    "they will be marked as errors and will not affect the data set as such.\r\n\r\nHowever, "
    "they would indirectly affect the current moving average value,\r\nand so the \x93Minimum "
    "good samples in window\x94 setting allows configuring\r\nhow many such errors should be "
    "tolerated before the current moving average value\r\nno longer will be shown (\x93N/A\x94 "
    "will be shown instead).\r\n\r\nExample:\r\nIf data window size is 5, and minimum good "
    "samples is 4,\r\nthen at least 4 good values are required to be present in the moving "
    "average window\r\nin order to produce a current moving average value.\r\nIn other words, "
    "a 20% error rate is tolerated.\r\n";

}  // namespace

TFrm_Settings::TFrm_Settings(QWidget* AOwner, DisplaySettings& aConfigurationManager,
                             MessageBox& aMessageBox)
    : TFormAC(AOwner), FConfigurationManager(aConfigurationManager), FMessageBox(aMessageBox) {
  setWindowTitle(QStringLiteral("Moving average settings"));
  Lbl_DataWindowSize = new QLabel(QStringLiteral("Data window size:"), this);
  Lbl_MinimumDataSamplesInWindow =
      new QLabel(QStringLiteral("Minimum good samples in window:"), this);
  StyleOvcLabel(Lbl_DataWindowSize);
  StyleOvcLabel(Lbl_MinimumDataSamplesInWindow);
  Lbl_DataWindowSize->move(16, 24);
  Lbl_MinimumDataSamplesInWindow->move(16, 64);
  Lbl_DataWindowSize->setToolTip(ToQString(kWindowHint));
  Lbl_MinimumDataSamplesInWindow->setToolTip(ToQString(kMinimumHint));
  Edit_DataWindowSize =
      new QLineEdit(QString::number(aConfigurationManager.DataWindowSize()), this);
  Edit_MinimumDataSamplesInWindow =
      new QLineEdit(QString::number(aConfigurationManager.MinimumDataSamplesInWindow()), this);
  Edit_DataWindowSize->setGeometry(300, 22, 80, 24);
  Edit_MinimumDataSamplesInWindow->setGeometry(300, 62, 80, 24);
  Btn_OK = new QPushButton(QStringLiteral("OK"), this);
  Btn_OK->setToolTip(QStringLiteral("Close and save changes"));
  Btn_Cancel = new QPushButton(QStringLiteral("Cancel"), this);
  Btn_Cancel->setToolTip(QStringLiteral("Cancel"));
  Btn_OK->setGeometry(200, 110, 88, 32);
  Btn_Cancel->setGeometry(296, 110, 88, 32);
  StyleGlowButton(Btn_OK);
  StyleGlowButton(Btn_Cancel);
  connect(Btn_OK, &QPushButton::clicked, this, &TFrm_Settings::Btn_OKClick);
  connect(Btn_Cancel, &QPushButton::clicked, this, &QDialog::reject);
  setFixedSize(400, 160);
}

void TFrm_Settings::Btn_OKClick() {
  // The program's own integer conversion and its error text, as everywhere
  // a number is typed.
  int minimum = 0, window = 0;
  try {
    minimum = platform::StrToInt(FromQString(Edit_MinimumDataSamplesInWindow->text()));
    window = platform::StrToInt(FromQString(Edit_DataWindowSize->text()));
  } catch (const platform::EConvertError& e) {
    FMessageBox.ShowError(e.Message());
    return;
  }
  if (minimum > 0 && window > 0 && window >= minimum) {
    FConfigurationManager.SetMinimumDataSamplesInWindow(minimum);
    FConfigurationManager.SetDataWindowSize(window);
    accept();
  }
}

TBusyForm::TBusyForm(QWidget* AOwner) : TFormAC(AOwner) {
  setWindowTitle(QStringLiteral("RVX Busy"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowStaysOnTopHint);
  Img_glyph = new QLabel(this);
  Img_glyph->setGeometry(16, 16, 32, 32);
  Img_glyph->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
  Lbl_text = new QLabel(this);
  Lbl_text->setWordWrap(true);
  Lbl_text->setGeometry(64, 16, 225, 60);
  ProgressBar = new QProgressBar(this);
  ProgressBar->setGeometry(16, 84, 273, 20);
  ProgressBar->setTextVisible(false);
  ProgressBar->setRange(0, 100);
  ProgressBar->setValue(0);
  Lbl_PercentFinished = new QLabel(QStringLiteral("0% finished"), this);
  Lbl_PercentFinished->setGeometry(16, 110, 273, 20);
  setFixedSize(305, 140);
  show();
}

void TBusyForm::setup(const std::string& LV_Caption, const std::string& LV_Text, int Steps) {
  setWindowTitle(LV_Caption.empty() ? QStringLiteral("Busy") : ToQString(LV_Caption));
  Lbl_text->setText(LV_Text.empty() ? QStringLiteral("Working...") : ToQString(LV_Text));
  // A bar whose range no longer holds its position would reset to one
  // before the start; the position stays, held within the new range.
  const int position = ProgressBar->value();
  ProgressBar->setMaximum(Steps);
  ProgressBar->setValue(std::clamp(position, ProgressBar->minimum(), ProgressBar->maximum()));
  QApplication::processEvents();
}

void TBusyForm::step() {
  if (ProgressBar->value() < ProgressBar->maximum())
    ProgressBar->setValue(ProgressBar->value() + 1);
  // An empty range counts as finished instead of dividing by 0.
  const int maximum = ProgressBar->maximum();
  const double percent =
      maximum > 0 ? static_cast<double>(ProgressBar->value()) / maximum * 100 : 100;
  Lbl_PercentFinished->setText(QString::number(static_cast<int>(std::nearbyint(percent))) +
                               QStringLiteral("% finished"));
  QApplication::processEvents();
}

void TBusyForm::step(int count) {
  for (int i = 0; i < count; ++i)
    step();
}

}  // namespace rvx

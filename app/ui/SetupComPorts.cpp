#include "app/ui/SetupComPorts.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <utility>

#include "app/acquisition/DisplaySettings.h"
#include "app/acquisition/LinkSettingsStore.h"
#include "app/acquisition/Shaft.h"
#include "app/ui/AutoComSetup.h"
#include "app/ui/DemoComSetup.h"
#include "app/util/QtText.h"

namespace rvx {

namespace {

constexpr int kFrameGap = 3;
constexpr int kDialogMargin = 10;
constexpr int kDialogExtraHeight = 130;

}  // namespace

TFrame_ComPort::TFrame_ComPort(QWidget* AOwner, DisplaySettings& aConfigurationManager,
                               LinkSettingsStore& aDMSystem, std::shared_ptr<IShaft> aShaft,
                               int aNumberOfShafts)
    : QFrame(AOwner),
      FDMSystem(aDMSystem),
      FConfigurationManager(aConfigurationManager),
      FShaft(std::move(aShaft)) {
  resize(kFrameWidth, kFrameHeight);
  Panel1 = new QFrame(this);
  Panel1->setFrameShape(QFrame::StyledPanel);
  Panel1->setGeometry(0, 0, kFrameWidth, kFrameHeight);
  Lbl_Header = new QLabel(Panel1);
  Lbl_Mode = new QLabel(QStringLiteral("Mode:"), Panel1);
  CB_Mode = new QComboBox(Panel1);
  CB_Mode->setEditable(false);
  Btn_Setup = new QPushButton(QStringLiteral("Setup"), Panel1);
  Btn_Setup->setToolTip(QStringLiteral("Setup the ComPort"));
  connect(Btn_Setup, &QPushButton::clicked, this, [this] { Btn_SetupClick(); });

  const auto& modes = FConfigurationManager.ComModes();
  for (const auto& mode : modes)
    CB_Mode->addItem(ToQString(mode));
  const std::string current = FShaft ? FShaft->GetComMode() : std::string();
  const auto it = std::find(modes.begin(), modes.end(), current);
  CB_Mode->setCurrentIndex(it == modes.end() ? -1 : static_cast<int>(it - modes.begin()));

  if (aNumberOfShafts <= 1 || !FShaft) {
    Lbl_Header->setText(QStringLiteral("Com Port Setup"));
  } else if (FShaft->GetID() == 1) {
    Lbl_Header->setText(QStringLiteral("Com Port Setup (Port)"));
  } else if (FShaft->GetID() == 2) {
    Lbl_Header->setText(QStringLiteral("Com Port Setup (Starboard)"));
  }
  StyleOvcLabel(Lbl_Header);
  StyleOvcLabel(Lbl_Mode);
  StyleGlowButton(Btn_Setup);
  SetGlowButtonLayout(Btn_Setup, TButtonLayout::blGlyphLeft);

  Lbl_Header->move(10, 8);
  Lbl_Mode->move(10, 40);
  CB_Mode->setGeometry(70, 38, 200, 24);
  Btn_Setup->setGeometry(10, 64, 120, kSetupButtonHeight);
}

std::string TFrame_ComPort::ComMode() const {
  const int index = CB_Mode->currentIndex();
  const auto& modes = FConfigurationManager.ComModes();
  if (index < 0 || index >= static_cast<int>(modes.size())) return {};
  return modes[static_cast<std::size_t>(index)];
}

void TFrame_ComPort::Btn_SetupClick() {
  if (ComMode() == kComModeDemo) {
    ShowDemoComSetup();
  } else {
    ShowAutoComSetup();
  }
}

void TFrame_ComPort::ShowDemoComSetup() {
  const int index = FShaft->GetShaftIndex();
  const int interval = FDMSystem.GetDemoComInterval(index);
  const int power = FDMSystem.GetDemoComPower(index);
  const int speed = FDMSystem.GetDemoComSpeed(index);
  const double spike = FDMSystem.GetDemoComSpikeChance(index);
  TFrm_DemoComSetup dialog(this);
  // A cancelled dialog returns the values it was given; storing them is
  // harmless.
  dialog.Show(interval, power, speed, spike, FConfigurationManager.PowerUnit(),
              FConfigurationManager.SpeedUnit());
  FDMSystem.SetDemoComSettings(index, dialog.Interval, dialog.Power, dialog.Speed,
                               dialog.SpikeChance);
}

void TFrame_ComPort::ShowAutoComSetup() {
  const int index = FShaft->GetShaftIndex();
  const int port = FDMSystem.GetAutoComPort(index);
  const int baud = FDMSystem.GetAutoComBaud(index);
  TFrm_AutoComSetup dialog(this);
  dialog.Show(baud, port);
  FDMSystem.SetAutoComSettings(index, dialog.Baud, dialog.Port);
}

TFrm_SetupComPorts::TFrm_SetupComPorts(QWidget* AOwner, DisplaySettings& aConfigurationManager,
                                       LinkSettingsStore& aDMSystem,
                                       std::vector<std::shared_ptr<IShaft>> aShaftList)
    : TFormAC(AOwner),
      FConfigurationManager(aConfigurationManager),
      FDMSystem(aDMSystem),
      FShaftList(std::move(aShaftList)) {
  setWindowTitle(QStringLiteral("RVX - Comport Setup"));
  Btn_OK = new QPushButton(QStringLiteral("OK"), this);
  Btn_OK->setToolTip(QStringLiteral("Close and save changes"));
  Btn_OK->setDefault(true);
  Btn_Cancel = new QPushButton(QStringLiteral("Cancel"), this);
  Btn_Cancel->setToolTip(QStringLiteral("Cancel"));
  connect(Btn_OK, &QPushButton::clicked, this, [this] { Btn_OKClick(); });
  connect(Btn_Cancel, &QPushButton::clicked, this, &QDialog::reject);
  FormCreate();
}

void TFrm_SetupComPorts::FormCreate() {
  const int shafts = static_cast<int>(std::min<std::size_t>(FShaftList.size(), kMaxShafts));
  for (int i = 0; i < shafts; ++i) {
    auto* frame = new TFrame_ComPort(this, FConfigurationManager, FDMSystem,
                                     FShaftList[static_cast<std::size_t>(i)], shafts);
    frame->setObjectName(QStringLiteral("ComPortFrame") + QString::number(i));
    frame->move(i * (TFrame_ComPort::kFrameWidth + kFrameGap) + kDialogMargin, kDialogMargin);
    Frame_ComSetup[static_cast<std::size_t>(i)] = frame;
  }
  const int width = shafts * (TFrame_ComPort::kFrameWidth + kFrameGap) + 2 * kDialogMargin;
  const int height = TFrame_ComPort::kFrameHeight + kDialogExtraHeight;
  // A fixed dialog border: the size is the dialog's own.
  setFixedSize(width, height);
  StyleGlowButton(Btn_OK);
  StyleGlowButton(Btn_Cancel);
  const int buttonsTop = kDialogMargin + TFrame_ComPort::kFrameHeight + 20;
  Btn_Cancel->setGeometry(width - kDialogMargin - 90, buttonsTop, 90, Btn_Cancel->height());
  Btn_OK->setGeometry(width - kDialogMargin - 190, buttonsTop, 90, Btn_OK->height());
}

void TFrm_SetupComPorts::Btn_OKClick() {
  for (std::size_t i = 0; i < FShaftList.size() && i < kMaxShafts; ++i) {
    IShaft& shaft = *FShaftList[i];
    shaft.Disconnect();
    // A mode the list does not know stays as stored; the shaft reconnects
    // with it.
    const std::string mode = Frame_ComSetup[i]->ComMode();
    try {
      if (!mode.empty()) FDMSystem.setComMode(shaft.GetShaftIndex(), mode);
    } catch (...) {
      // The mode could not be stored: the shaft goes back on the link it
      // had rather than stay without one, and the error reaches the caller.
      // The later shafts were not touched; the dialog stays open.
      shaft.Connect();
      throw;
    }
    shaft.Connect();
  }
  accept();
}

}  // namespace rvx

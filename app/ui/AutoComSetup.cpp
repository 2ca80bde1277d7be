#include "app/ui/AutoComSetup.h"

#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "app/acquisition/AutoCommunication.h"
#include "app/ui/SetupDialogButtons.h"

namespace rvx {

namespace {

constexpr int kBaudStep = 4800;

}  // namespace

TFrm_AutoComSetup::TFrm_AutoComSetup(QWidget* AOwner) : TFormAC(AOwner) {
  setWindowTitle(QStringLiteral("RVX - AutoCom Setup"));
  Lbl_Port = new QLabel(QStringLiteral("Port:"), this);
  Lbl_Baud = new QLabel(QStringLiteral("Baud:"), this);
  CB_Port = new QComboBox(this);
  CB_Port->setEditable(false);
  CB_Baud = new QComboBox(this);
  CB_Baud->setEditable(false);
  CB_Baud->addItems({QStringLiteral("4800"), QStringLiteral("9600")});
  CreateSetupDialogButtons(this, Btn_OK, Btn_Cancel);

  auto* grid = new QGridLayout(this);
  grid->addWidget(Lbl_Port, 0, 0);
  grid->addWidget(CB_Port, 0, 1);
  grid->addWidget(Lbl_Baud, 1, 0);
  grid->addWidget(CB_Baud, 1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Btn_OK);
  buttons->addWidget(Btn_Cancel);
  grid->addLayout(buttons, 2, 0, 1, 2);
  // A fixed border: the dialog keeps the size its contents need.
  grid->setSizeConstraint(QLayout::SetFixedSize);
  FormCreate();
}

void TFrm_AutoComSetup::FormCreate() {
  StyleOvcLabel(Lbl_Port);
  StyleOvcLabel(Lbl_Baud);
  StyleGlowButton(Btn_OK);
  StyleGlowButton(Btn_Cancel);
}

bool TFrm_AutoComSetup::Show(int aInitialBaud, int aInitialPort) {
  Baud = aInitialBaud;
  Port = aInitialPort;
  // Device paths follow $RVX_PORT_<N> and the devices present now.
  CB_Port->clear();
  for (int port = 1; port <= kPortCount; ++port) {
    CB_Port->addItem(QString::number(port) + QStringLiteral(" (") +
                     QFile::decodeName(SerialPortDevice(port).c_str()) + QStringLiteral(")"));
  }
  CB_Port->setCurrentIndex(aInitialPort >= 1 && aInitialPort <= kPortCount ? aInitialPort - 1 : -1);
  CB_Baud->setCurrentIndex(aInitialBaud == kBaudStep ? 0 : 1);
  if (exec() != QDialog::Accepted) return false;
  // A stored port beyond the list selects nothing; it then stays as it was.
  if (CB_Port->currentIndex() >= 0) Port = CB_Port->currentIndex() + 1;
  Baud = kBaudStep * (CB_Baud->currentIndex() + 1);
  return true;
}

}  // namespace rvx

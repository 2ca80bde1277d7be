#include "app/run/NewRunForm.h"

#include <exception>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

#include "app/storage/ConfigurationManager.h"
#include "app/storage/DMSystem.h"
#include "app/util/MessageBox.h"
#include "app/util/QtText.h"

namespace rvx {

namespace {
const char* const kPickerHint = "Time from start until automatic stop";

// Hours or minutes in two digits, as a time picker shows them.
class TwoDigitPicker : public QSpinBox {
 public:
  using QSpinBox::QSpinBox;

 protected:
  QString textFromValue(int value) const override {
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
  }
};

QSpinBox* Picker(QWidget* parent, int maximum, int value, int x, const char* unit) {
  auto* box = new TwoDigitPicker(parent);
  box->setRange(0, maximum);
  box->setWrapping(true);
  box->setValue(value);
  box->setGeometry(x, 4, 56, 24);
  box->setToolTip(QString::fromLatin1(kPickerHint));
  auto* label = new QLabel(QString::fromLatin1(unit), parent);
  label->move(x + 60, 8);
  return box;
}
}  // namespace

TFrm_NewRun::TFrm_NewRun(QWidget* AOwner, TConfigurationManager& aConfigurationManager,
                         TDM_System& aDMSystem, MessageBox& aMessageBox)
    : TFormAC(AOwner),
      FConfigurationManager(aConfigurationManager),
      FDMSystem(aDMSystem),
      FMessageBox(aMessageBox) {
  setWindowTitle(QStringLiteral("RVX - New Run"));
  Label1 = new QLabel(QStringLiteral("Run Name:"), this);
  Label1->move(16, 16);
  Edit_Name = new QLineEdit(QStringLiteral("Run"), this);
  Edit_Name->setMaxLength(kNameLength);
  Edit_Name->setToolTip(QStringLiteral("Run name"));
  Edit_Name->setGeometry(16, 36, 320, 24);
  Label2 = new QLabel(QStringLiteral("Comments:"), this);
  Label2->move(16, 70);
  Memo_Comments = new QPlainTextEdit(this);
  Memo_Comments->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo_Comments->setToolTip(QStringLiteral("Run comments such as sea state, weather etc."));
  Memo_Comments->setGeometry(16, 90, 320, 90);
  // The memo has no length property; text past the limit is cut as typed.
  connect(Memo_Comments, &QPlainTextEdit::textChanged, this, [this] {
    const QString text = Memo_Comments->toPlainText();
    if (text.size() > kCommentsLength) {
      Memo_Comments->setPlainText(text.left(kCommentsLength));
      Memo_Comments->moveCursor(QTextCursor::End);
    }
  });
  CB_AutoStop = new QCheckBox(QStringLiteral("Fixed duration"), this);
  CB_AutoStop->setToolTip(QStringLiteral("Automatically stop the run after a given time"));
  CB_AutoStop->setGeometry(16, 190, 120, 24);
  Panel_AutoStop = new QWidget(this);
  Panel_AutoStop->setGeometry(140, 186, 200, 32);
  DateTimePicker_AutoStopHours = Picker(Panel_AutoStop, 23, 0, 0, "hrs");
  DateTimePicker_AutoStopMinutes = Picker(Panel_AutoStop, 59, 5, 96, "mins");
  Panel_AutoStop->hide();
  Btn_OK = new QPushButton(QStringLiteral("Start"), this);
  Btn_Cancel = new QPushButton(QStringLiteral("Cancel"), this);
  Btn_OK->setGeometry(152, 232, 88, 32);
  Btn_Cancel->setGeometry(248, 232, 88, 32);
  StyleGlowButton(Btn_OK);
  StyleGlowButton(Btn_Cancel);
  connect(CB_AutoStop, &QCheckBox::clicked, this, &TFrm_NewRun::CB_AutoStopClick);
  connect(Btn_OK, &QPushButton::clicked, this, &TFrm_NewRun::Btn_OKClick);
  connect(Btn_Cancel, &QPushButton::clicked, this, &QDialog::reject);
  setFixedSize(352, 280);
}

bool TFrm_NewRun::isAutoStop() const {
  return CB_AutoStop->isChecked() && (DateTimePicker_AutoStopHours->value() != 0 ||
                                      DateTimePicker_AutoStopMinutes->value() != 0);
}

platform::TDateTime TFrm_NewRun::getStopAfter() const {
  return (DateTimePicker_AutoStopHours->value() * 60 + DateTimePicker_AutoStopMinutes->value()) /
         1440.0;
}

std::unique_ptr<TRun> TFrm_NewRun::GetNewRun() const {
  auto run = std::make_unique<TRun>();
  run->name = FromQString(Edit_Name->text());
  run->Comments = FromQString(Memo_Comments->toPlainText());
  run->TrialID = FTrialID;
  run->IsAutoStop = isAutoStop();
  run->StopAfter = run->IsAutoStop ? getStopAfter() : kDefaultStopAfter;
  return run;
}

void TFrm_NewRun::CB_AutoStopClick() {
  Panel_AutoStop->setVisible(CB_AutoStop->isChecked());
  if (CB_AutoStop->isChecked()) DateTimePicker_AutoStopMinutes->setFocus();
}

void TFrm_NewRun::Btn_OKClick() {
  const std::string name = FromQString(Edit_Name->text());
  bool taken = false;
  // A slot must not let the log's errors (a locked table, a lost file) reach
  // the event loop: the user sees them and the dialog stays open.
  try {
    taken = FDMSystem.runExistInTrial(name, FConfigurationManager.TrialId());
  } catch (const std::exception& e) {
    FMessageBox.ShowError(e.what());
    return;
  }
  if (taken) {
    FMessageBox.ShowError("A run named '" + name + "' allready exist for trial '" +
                          FConfigurationManager.TrialName() + "'");
    return;
  }
  accept();
}

}  // namespace rvx

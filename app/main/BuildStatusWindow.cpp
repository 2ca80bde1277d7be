#include "app/main/BuildStatusWindow.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/util/ProgramInfo.h"
#include "app/util/QtText.h"

namespace rvx {

TFrm_BuildStatus::TFrm_BuildStatus(QWidget* parent) : TFormAC(parent) {
  setWindowTitle(QStringLiteral("RVX Log"));
  Lbl_Title = new QLabel(QStringLiteral("RVX Log"), this);
  StyleLabel(Lbl_Title);
  Lbl_Version =
      new QLabel(QStringLiteral("Version : ") +
                     (ProgramVersion.empty() ? QStringLiteral("N/A") : ToQString(ProgramVersion)),
                 this);
  StyleLabel(Lbl_Version);
  Lbl_Status = new QLabel(
      QStringLiteral("This build holds the database engine (storage, encryption, datasets, "
                     "tables, queries and table statements) and the application's meter links, "
                     "shafts, shaft panels and graphs, log database, run control, statistics "
                     "and report files.\n\n"
                     "The main window and the vessel and trial selection are not built yet, so "
                     "nothing can be recorded with this version."),
      this);
  Lbl_Status->setWordWrap(true);
  Btn_Close = new QPushButton(QStringLiteral("Close"), this);
  Btn_Close->setDefault(true);
  connect(Btn_Close, &QPushButton::clicked, this, &QDialog::accept);

  auto* column = new QVBoxLayout(this);
  column->addWidget(Lbl_Title);
  column->addWidget(Lbl_Version);
  column->addWidget(Lbl_Status, 1);
  column->addWidget(Btn_Close, 0, Qt::AlignRight);
}

}  // namespace rvx

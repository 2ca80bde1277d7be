// The OK and Cancel pair both link setup dialogs show when the program
// starts: OK (the default button) accepts and starts, Cancel rejects.
#pragma once

#include <QDialog>
#include <QPushButton>
#include <QString>

namespace rvx {

inline void CreateSetupDialogButtons(QDialog* dialog, QPushButton*& ok, QPushButton*& cancel) {
  ok = new QPushButton(QStringLiteral("OK"), dialog);
  ok->setToolTip(QStringLiteral("Start program"));
  ok->setDefault(true);
  cancel = new QPushButton(QStringLiteral("Cancel"), dialog);
  cancel->setToolTip(QStringLiteral("Close program"));
  QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
}

}  // namespace rvx

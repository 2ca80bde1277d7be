#include "app/ui/QtMessageBox.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QPrintDialog>
#include <QUrl>

#include "app/util/QtText.h"
#include "platform/core/Exceptions.h"

namespace rvx {

QMessageBox::StandardButton ShowMessageBox(QMessageBox::Icon icon, const std::string& text,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::StandardButton default_button) {
  QMessageBox box(icon, QGuiApplication::applicationDisplayName(), ToQString(text), buttons,
                  QApplication::activeWindow());
  box.setDefaultButton(default_button);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void QtMessageBox::ShowError(const std::string& text) {
  ShowMessageBox(QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool QtMessageBox::Confirm(const std::string& text) {
  return ShowMessageBox(QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No,
                        QMessageBox::Yes) == QMessageBox::Yes;
}

bool QtShell::Open(const std::string& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(path.c_str())));
}

QtPrinter::QtPrinter() : printer_(QPrinter::HighResolution) {}

bool QtPrinter::ChoosePrinter() {
  QPrintDialog dialog(&printer_, QApplication::activeWindow());
  return dialog.exec() == QDialog::Accepted;
}

void QtPrinter::Print(const std::string& documentName, const PageRenderer& render) {
  // Without any printer Qt falls back to a PDF printer without a file.
  const bool no_printer = printer_.outputFormat() == QPrinter::NativeFormat
                              ? printer_.printerName().isEmpty()
                              : printer_.outputFileName().isEmpty();
  if (no_printer) throw platform::Exception("There is no printer to print on");
  if (!printer_.isValid()) throw platform::Exception("The printer cannot be used");
  printer_.setDocName(ToQString(documentName));
  render(printer_);
}

}  // namespace rvx

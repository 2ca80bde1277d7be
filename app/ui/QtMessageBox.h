// QtMessageBox: the application's message boxes as Qt shows them: modal,
// over the active window, with the application's name as caption. Texts are
// Windows-1252. Also the Qt versions of the shell and the printer seams.
//
// Thread safety: GUI thread only.
#pragma once

#include <QMessageBox>
#include <QPrinter>

#include <string>

#include "app/util/MessageBox.h"
#include "app/util/Printer.h"
#include "app/util/Shell.h"

namespace rvx {

// Shows a modal box with the icon, the text and the buttons; returns the
// button pressed (escape or closing: the escape button, else NoButton).
QMessageBox::StandardButton ShowMessageBox(QMessageBox::Icon icon, const std::string& text,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::StandardButton default_button);

class QtMessageBox : public MessageBox {
 public:
  void ShowError(const std::string& text) override;
  bool Confirm(const std::string& text) override;
};

class QtShell : public Shell {
 public:
  bool Open(const std::string& path) override;
};

// The system's default printer until the print dialog picks another.
class QtPrinter : public Printer {
 public:
  QtPrinter();
  bool ChoosePrinter() override;
  void Print(const std::string& documentName, const PageRenderer& render) override;

 private:
  QPrinter printer_;
};

}  // namespace rvx

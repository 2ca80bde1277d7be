// Printer: the current printer of the program. The print dialog picks it;
// reports are printed on it. Behind an interface so that tests can observe
// what is printed; the Qt version lives in app/ui.
//
// Thread safety: GUI thread only.
#pragma once

#include <functional>
#include <string>

class QPagedPaintDevice;

namespace rvx {

class Printer {
 public:
  // Paints a document on the device with a QPainter of its own, calling the
  // device's newPage() before every page after the first.
  using PageRenderer = std::function<void(QPagedPaintDevice& device)>;

  Printer() = default;
  Printer(const Printer&) = delete;
  Printer& operator=(const Printer&) = delete;
  virtual ~Printer() = default;

  // The print dialog: the user picks the printer that later printing uses.
  // True when the choice was confirmed; a cancelled dialog changes nothing.
  virtual bool ChoosePrinter() = 0;
  // Prints a document on the current printer as a job named documentName
  // (Windows-1252). Raises platform::Exception when there is no printer to
  // print on or the job cannot be started; an exception from render passes
  // on and the job is abandoned.
  virtual void Print(const std::string& documentName, const PageRenderer& render) = 0;
};

}  // namespace rvx

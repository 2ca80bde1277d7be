// Shell: hands a file or a folder to the desktop, which opens it with the
// user's program for it (a PDF viewer, a file manager), in a normal window.
// Behind an interface so that tests can observe it; the Qt version lives in
// app/ui.
//
// Thread safety: GUI thread only.
#pragma once

#include <string>

namespace rvx {

class Shell {
 public:
  Shell() = default;
  Shell(const Shell&) = delete;
  Shell& operator=(const Shell&) = delete;
  virtual ~Shell() = default;

  // Opens path (as the file system names it). False when the desktop could
  // not be asked; whether a program then shows the file is the desktop's
  // affair.
  virtual bool Open(const std::string& path) = 0;
};

}  // namespace rvx

// The program on a virtual X server: a server of its own on a free display,
// the program started with only the environment set, windows found by title
// and driven with xdotool, and screenshots of the whole screen.
//
// There is no window manager: windows are found by title with time-outs,
// and clicked or typed into directly.
#pragma once

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace rvx::test {

class VirtualDesktop {
 public:
  // A server with one screen of width x height; documents in documents.
  VirtualDesktop(int width, int height, const QString& documents);
  ~VirtualDesktop();
  VirtualDesktop(const VirtualDesktop&) = delete;
  VirtualDesktop& operator=(const VirtualDesktop&) = delete;

  bool Ready() const { return !display_.isEmpty(); }
  const QProcessEnvironment& Environment() const { return env_; }
  // Sets a variable for every program started from now on.
  void SetEnv(const QString& name, const QString& value) { env_.insert(name, value); }
  // Starts any program with the desktop's environment, in folder.
  std::unique_ptr<QProcess> Start(const QString& program, const QStringList& arguments,
                                  const QString& folder);

  // Starts the program (not waiting for it).
  std::unique_ptr<QProcess> StartProgram(const QStringList& arguments = {});
  // The output and exit code of a helper program on this display; nullopt
  // when it did not end within timeout_ms.
  std::optional<int> Run(const QString& program, const QStringList& arguments,
                         QString* output = nullptr, int timeout_ms = 30'000);
  // The first visible window whose title is exactly title; 0 when none
  // showed within timeout_ms.
  unsigned long FindWindow(const QString& title, int timeout_ms = 20'000);
  // Waits until no visible window is titled title; false after timeout_ms.
  bool WaitGone(const QString& title, int timeout_ms = 20'000);
  // Visible windows titled exactly title, now.
  int CountWindows(const QString& title);
  QRect Geometry(unsigned long window);
  // A left click at (x, y) of the window.
  void Click(unsigned long window, int x, int y);
  // Keys (xdotool names) typed into the window after focusing it.
  void Keys(unsigned long window, const QStringList& keys);
  void Type(unsigned long window, const QString& text);
  QImage Screenshot();

 private:
  QProcess server_;
  QString display_;
  QString runtime_;
  QProcessEnvironment env_;
};

}  // namespace rvx::test

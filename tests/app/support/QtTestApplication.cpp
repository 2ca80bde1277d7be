#include "tests/app/support/QtTestApplication.h"

#include <QApplication>

#include <cstdlib>

namespace rvx::test {

QApplication& EnsureQtApplication() {
  static QApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "rvx-app-test";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return *app;
}

}  // namespace rvx::test

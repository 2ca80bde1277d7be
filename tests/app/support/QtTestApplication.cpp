#include "tests/app/support/QtTestApplication.h"

#include <QApplication>

#include <cstdlib>

// Fontconfig keeps caches it never frees for the life of the process; the
// sanitizer build's leak check would take them for the tests' leaks. Linked
// into every GUI test through EnsureQtApplication.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

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

// The one QApplication of a GUI test program, made on first use and kept
// until the process ends (Qt allows one per process). Tests run on the
// offscreen platform unless the environment names another.
#pragma once

class QApplication;

namespace rvx::test {

QApplication& EnsureQtApplication();

}  // namespace rvx::test

// RVX Log: start-up. The utility module's start step runs before anything
// else; the engine's questions and errors are shown through Qt from the
// first window on. One instance runs at a time: a second one ends at once
// and shows nothing.
#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

#include "app/main/GuardedApplication.h"
#include "app/main/MainWindow.h"
#include "app/ui/QtEngineUi.h"
#include "app/ui/QtMessageBox.h"
#include "app/util/ProgramInfo.h"
#include "platform/ui/EngineUi.h"

namespace {

// The guard's lock file in the user's runtime folder.
QString InstanceLockPath() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  return folder + QStringLiteral("/Trelmar Rovex - Logging Program.lock");
}

}  // namespace

int main(int argc, char** argv) {
  rvx::UtilsStartUp();
  int result = 0;
  {
    rvx::TGuardedApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("RVX Log Program"));
    QLockFile instance(InstanceLockPath());
    // A lock left by a crashed instance is taken over (its process is gone).
    if (!instance.tryLock(0)) {
      rvx::UtilsShutDown();
      return 0;
    }
    rvx::QtEngineUi ui;
    platform::ScopedEngineUi installed(ui);
    rvx::QtMessageBox box;
    app.SetMessageBox(&box);
    // The box goes before the application: unset it first.
    struct UnsetBox {
      rvx::TGuardedApplication& app;
      ~UnsetBox() { app.SetMessageBox(nullptr); }
    } unset_box{app};
    rvx::QtShell shell;
    rvx::QtPrinter printer;
    rvx::TFrm_Main window(nullptr, rvx::TMainSeams{box, shell, printer, 3000, std::nullopt, {}});
    if (window.Start()) {
      window.show();
      result = app.exec();
    }
  }
  rvx::UtilsShutDown();
  return result;
}

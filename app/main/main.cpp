// RVX Log: start-up. The utility module's start step runs before anything
// else; the engine's questions and errors are shown through Qt from the
// first window on.
#include <QApplication>

#include "app/main/BuildStatusWindow.h"
#include "app/ui/QtEngineUi.h"
#include "app/util/ProgramInfo.h"
#include "platform/ui/EngineUi.h"

int main(int argc, char** argv) {
  rvx::UtilsStartUp();
  int result = 0;
  {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("RVX Log Program"));
    rvx::QtEngineUi ui;
    platform::ScopedEngineUi installed(ui);
    rvx::TFrm_BuildStatus window;
    window.show();
    result = app.exec();
  }
  rvx::UtilsShutDown();
  return result;
}

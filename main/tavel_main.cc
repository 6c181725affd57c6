// Tavel on the desktop: the Qt runtime, the application shell and the Run.
#include <QApplication>
#include <QDir>
#include <csignal>
#include <memory>
#include <string>

#include "app/records.h"
#include "app/shell.h"
#include "main/runtime_folder.h"
#include "platform/qt/qt_runtime.h"
#include "run/run_command.h"

int main(int argc, char** argv) {
  // Qt wants a private runtime folder; desktops provide one, bare X servers
  // and containers often do not.
  const auto runtimeFolder = tavel::mainprog::provideRuntimeFolder();
  // A file-size limit (ulimit -f) must fail the write that crosses it, which
  // the program reports as a file not written, rather than kill the process.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tavel"));
  QApplication::setApplicationVersion(QStringLiteral("1.0 beta"));

  tavel::platform::qt::QtRuntime runtime;
  tavel::app::AppState state;
  tavel::app::Shell shell(runtime, state);
  shell.setRunCommand([&] { tavel::run::onRun(runtime, state, shell); });
  // A menu bar that could not be built is reported by the runtime; the
  // program still starts so its output window can be read.
  runtime.createFrame([&] { return shell.buildMenus(); });
  shell.startUp();
  return application.exec();
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Tavel on the desktop: the Qt runtime, the application shell and the Run.
#include <QApplication>
#include <QDir>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/gui_arguments.h"
#include "app/records.h"
#include "app/shell.h"
#include "main/runtime_folder.h"
#include "platform/qt/qt_runtime.h"
#include "run/run_command.h"
#include "tavel_version.h"

namespace {

void write(std::FILE* to, const std::string& text) { std::fwrite(text.data(), 1, text.size(), to); }

// 0 when the text reached standard output (--help | head may close it early).
int printed(const std::string& text) {
  write(stdout, text);
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  using tavel::app::GuiRequest;
  // --help and --version answer before Qt starts, so they need no display.
  const GuiRequest early =
      tavel::app::readGuiArguments(std::vector<std::string>(argv + 1, argv + argc), false);
  if (early.kind == GuiRequest::Kind::Help) return printed(tavel::app::guiUsageText());
  if (early.kind == GuiRequest::Kind::Version) return printed(tavel::app::guiVersionText());

  // Qt wants a private runtime folder; desktops provide one, bare X servers
  // and containers often do not.
  const auto runtimeFolder = tavel::mainprog::provideRuntimeFolder();
  // A file-size limit (ulimit -f) must fail the write that crosses it, which
  // the program reports as a file not written, rather than kill the process.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tavel"));
  QApplication::setApplicationVersion(QStringLiteral(TAVEL_VERSION));
  // What is left once Qt has taken its own options is ours.
  const GuiRequest request =
      tavel::app::readGuiArguments(std::vector<std::string>(argv + 1, argv + argc), true);
  if (request.kind == GuiRequest::Kind::Usage) {
    write(stderr, "tavel: " + request.problem + "\n" + tavel::app::guiUsageText());
    return 2;
  }

  tavel::platform::qt::QtRuntime runtime;
  tavel::app::AppState state;
  tavel::app::Shell shell(runtime, state);
  shell.setRunCommand([&] { tavel::run::onRun(runtime, state, shell); });
  // A menu bar that could not be built is reported by the runtime; the
  // program still starts so its output window can be read.
  runtime.createFrame([&] { return shell.buildMenus(); });
  shell.startUp();
  // A file named on the command line (a file manager's "Open With") is read
  // as the first command, once the window is up.
  if (!request.dataFile.empty())
    QTimer::singleShot(0, &application,
                       [&] { runtime.runCommand([&] { shell.openDataFile(request.dataFile); }); });
  return application.exec();
}

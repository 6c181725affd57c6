// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/qt/qt_test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QDialog>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <memory>

namespace tavel::qt_test {
namespace {

std::unique_ptr<QApplication> application;
std::unique_ptr<QTemporaryDir> scratch;
int argc = 1;
char name[] = "tavel_qt_tests";
char* argv[] = {name, nullptr};

// Destroys the application before static destruction begins.
class QtEnvironment : public ::testing::Environment {
 public:
  void TearDown() override {
    scratch.reset();
    application.reset();
  }
};
[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

QApplication& app() {
  if (!application) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
      const QString runtimeDir = QDir::tempPath() + QStringLiteral("/tavel-qt-tests-runtime");
      QDir().mkpath(runtimeDir);
      QFile::setPermissions(runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
      qputenv("XDG_RUNTIME_DIR", runtimeDir.toLocal8Bit());
    }
    application = std::make_unique<QApplication>(argc, argv);
  }
  return *application;
}

QString tempDir() {
  app();
  if (!scratch) scratch = std::make_unique<QTemporaryDir>();
  static int counter = 0;
  const QString path = scratch->path() + QStringLiteral("/t%1").arg(++counter);
  QDir().mkpath(path);
  return path;
}

CommandResult runCommand(const std::string& command) {
  CommandResult r;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
  const int raw = ::pclose(pipe);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

ModalAction::ModalAction(std::function<void(QWidget*)> action) : action_(std::move(action)) {
  app();
  waited_.start();
  connect(&polling_, &QTimer::timeout, this, &ModalAction::poll);
  connect(&watchdog_, &QTimer::timeout, this, &ModalAction::watch);
  polling_.start(10);
}

ModalAction::~ModalAction() {
  polling_.stop();
  watchdog_.stop();
  if (!acted_ && !reported_) ADD_FAILURE() << "no modal window appeared";
}

void ModalAction::poll() {
  if (acted_) return;
  QWidget* modal = QApplication::activeModalWidget();
  if (modal != nullptr && modal->isVisible()) {
    polling_.stop();
    acted_ = true;
    modal_ = modal;
    waited_.restart();
    watchdog_.start(50);
    action_(modal);
  } else if (waited_.elapsed() > kModalTimeoutMs) {
    polling_.stop();
    reported_ = true;
    ADD_FAILURE() << "no modal window appeared";
  }
}

void ModalAction::watch() {
  if (modal_.isNull() || !modal_->isVisible()) {
    watchdog_.stop();
    return;
  }
  if (waited_.elapsed() <= kModalTimeoutMs) return;
  if (!reported_) {
    reported_ = true;
    ADD_FAILURE() << "the modal window stayed open after the test's action";
  }
  // The box on top first: the action may be waiting in one it opened.
  QWidget* top = QApplication::activeModalWidget();
  if (top == nullptr || !top->isVisible()) top = modal_;
  if (auto* dialog = qobject_cast<QDialog*>(top)) {
    dialog->reject();
  } else {
    top->close();
  }
}

int countPixels(const QImage& image, const QRect& area, QRgb colour) {
  int n = 0;
  const QRect r = area.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) ++n;
  return n;
}

}  // namespace tavel::qt_test

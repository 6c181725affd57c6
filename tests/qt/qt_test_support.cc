#include "tests/qt/qt_test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
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

void whenModalShown(std::function<void(QWidget*)> action) {
  auto* timer = new QTimer(&app());
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, tries, action = std::move(action)] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal->isVisible()) {
      timer->stop();
      timer->deleteLater();
      action(modal);
    } else if (++*tries > 300) {
      timer->stop();
      timer->deleteLater();
      ADD_FAILURE() << "no modal window appeared";
    }
  });
  timer->start(10);
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

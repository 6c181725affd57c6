// SPDX-License-Identifier: GPL-3.0-or-later
// One QApplication for the whole test executable, on the offscreen platform
// so the tests run without a display (and when ctest lists them at build time).
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

namespace tavel::qt_test {

// The control of a dialog with the given id (null when there is none).
template <typename T>
T* control(QWidget* dialog, int id) {
  return dialog->findChild<T*>(QString::number(id));
}

// Creates the application on first use.
QApplication& app();

// A fresh empty folder for files a test writes; removed at exit.
QString tempDir();

// What a shell command line printed (standard output; the line itself
// redirects standard error when it wants it) and its exit status, -1 when
// it did not exit normally.
struct CommandResult {
  int status = -1;
  std::string out;
};
CommandResult runCommand(const std::string& command);

// Runs an action on the next modal dialog or message box once it is up, so
// the caller's blocking call can return. Keep the returned object for as long
// as the blocking call runs:
//
//   auto answer = qt_test::whenModalShown([](QWidget* box) { box->close(); });
//   rt().stop("message");  // shows the box, which the action closes
//
// A wait never becomes a hang: a test fails when no modal comes up within
// kModalTimeoutMs, and when the action leaves its modal open (a failed
// assertion, a button that did not close it) the modal and any box it
// opened are closed after kModalTimeoutMs. When the object goes, its timers
// go too: no action outlives its test to act on the next test's windows.
inline constexpr int kModalTimeoutMs = 5000;

class ModalAction : public QObject {
 public:
  explicit ModalAction(std::function<void(QWidget*)> action);
  ~ModalAction() override;
  ModalAction(const ModalAction&) = delete;
  ModalAction& operator=(const ModalAction&) = delete;

 private:
  void poll();
  void watch();

  std::function<void(QWidget*)> action_;
  QTimer polling_;
  QTimer watchdog_;  // a timer of its own: it fires while the action waits
  QElapsedTimer waited_;
  QPointer<QWidget> modal_;
  bool acted_ = false;
  bool reported_ = false;
};

[[nodiscard]] inline std::unique_ptr<ModalAction> whenModalShown(
    std::function<void(QWidget*)> action) {
  return std::make_unique<ModalAction>(std::move(action));
}

// Counts the pixels of a colour inside a rectangle of an image.
int countPixels(const QImage& image, const QRect& area, QRgb colour);

}  // namespace tavel::qt_test

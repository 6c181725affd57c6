// One QApplication for the whole test executable, on the offscreen platform
// so the tests run without a display (and when ctest lists them at build time).
#pragma once

#include <QApplication>
#include <QImage>
#include <QString>
#include <functional>
#include <string>

namespace tavel::qt_test {

// Creates the application on first use.
QApplication& app();

// A fresh empty folder for files a test writes; removed at exit.
QString tempDir();

// Runs action once the next modal dialog or message box is up (then the
// caller's blocking call can return). Gives up after a few seconds.
void whenModalShown(std::function<void(QWidget*)> action);

// Counts the pixels of a colour inside a rectangle of an image.
int countPixels(const QImage& image, const QRect& area, QRgb colour);

}  // namespace tavel::qt_test

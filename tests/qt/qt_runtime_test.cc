// SPDX-License-Identifier: GPL-3.0-or-later
// The Qt runtime: menus, the about box, the output window, graphics windows,
// commands, stop, files, geometry and the open-file dialog; and the shell's
// Prepare dialog played on real widgets.
#include "platform/qt/qt_runtime.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QImageReader>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/options_dialog.h"
#include "app/prepare_dialog.h"
#include "app/records.h"
#include "app/shell.h"
#include "platform/qt/graphics_view.h"
#include "tests/qt/qt_test_support.h"

namespace tavel::platform::qt {
namespace {

class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = QDir::currentPath();
    dir_ = qt_test::tempDir();
    QDir::setCurrent(dir_);
    runtime_.emplace();
    runtime_->setExitHandler([this](int status) { exitStatus_ = status; });
  }
  void TearDown() override {
    runtime_.reset();
    QDir::setCurrent(previous_);
  }
  QtRuntime& rt() { return *runtime_; }
  QString outputText() {
    rt().flushOutput();
    return rt().outputView()->toPlainText();
  }
  // The top-level entries of the menu bar.
  QList<QAction*> titles() { return rt().frame()->menuBar()->actions(); }
  QAction* item(const QString& title, const QString& text) {
    for (QAction* t : titles())
      if (t->text() == title && t->menu() != nullptr)
        for (QAction* a : t->menu()->actions())
          if (a->text() == text) return a;
    return nullptr;
  }
  QAction* title(const QString& text) {
    for (QAction* t : titles())
      if (t->text() == text) return t;
    return nullptr;
  }

  QApplication& app_ = qt_test::app();
  QString previous_, dir_;
  std::optional<QtRuntime> runtime_;
  std::optional<int> exitStatus_;
};

TEST_F(RuntimeTest, ShellMenusAreFiveTitlesWithTheirItems) {
  app::AppState state;
  app::Shell shell(rt(), state);
  ASSERT_TRUE(rt().createFrame([&] { return shell.buildMenus(); }));
  QStringList names;
  for (QAction* t : titles()) names << t->text();
  EXPECT_EQ(names, QStringList({"&File", "&Prepare", "&Options", "&Run", "&Windows...", "&Help"}));

  // File and Windows drop down; the three commands sit on the bar itself.
  ASSERT_NE(title("&File")->menu(), nullptr);
  ASSERT_NE(title("&Windows...")->menu(), nullptr);
  EXPECT_EQ(title("&Prepare")->menu(), nullptr);
  EXPECT_EQ(title("&Options")->menu(), nullptr);
  EXPECT_EQ(title("&Run")->menu(), nullptr);
  QStringList file, windows;
  for (QAction* a : title("&File")->menu()->actions()) file << a->text();
  for (QAction* a : title("&Windows...")->menu()->actions()) windows << a->text();
  EXPECT_EQ(file, QStringList({"&Input Dat File...", "E&xit", "Save &Model...", "&Open Model...",
                               "&Predict New Data...", "&Export Results..."}));
  // The runtime's own window entries follow the documented ones.
  EXPECT_EQ(windows, QStringList({"&Cascade", "&Full screen", "&About...", "&Tabbed View", "",
                                  "&Tile", "", "&1 Output"}));
  QStringList help;
  for (QAction* a : title("&Help")->menu()->actions()) help << a->text();
  EXPECT_EQ(help, QStringList({"Tavel &Help", "&About Tavel..."}));
  for (QAction* a :
       title("&File")->menu()->actions() + title("&Windows...")->menu()->actions().mid(0, 3)) {
    EXPECT_TRUE(a->isEnabled());
    EXPECT_FALSE(a->isChecked());
  }
  EXPECT_TRUE(rt().frame()->isVisible());

  // Exit ends the program with its message, after closing every unit.
  shell.startUp();
  ASSERT_TRUE(rt().isOpen(app::kLogUnit));
  QString shown;
  const auto readExitMessage = qt_test::whenModalShown([&](QWidget* modal) {
    shown = static_cast<QMessageBox*>(modal)->text();
    static_cast<QMessageBox*>(modal)->accept();
  });
  item("&File", "E&xit")->trigger();
  EXPECT_EQ(shown, "Program terminated. See output files...");
  EXPECT_EQ(exitStatus_, 0);
  EXPECT_FALSE(rt().isOpen(app::kLogUnit));
}

TEST_F(RuntimeTest, AppendMenuFollowsTheNumberingAndCallsBack) {
  std::vector<bool> calls;
  MenuCallback record = [&](bool checked) { calls.push_back(checked); };
  EXPECT_FALSE(rt().appendMenu(2, true, "&Two", nullptr));  // no menu 1 yet
  EXPECT_FALSE(rt().appendMenu(0, true, "&Zero", nullptr));
  EXPECT_TRUE(rt().appendMenu(1, true, "&One", nullptr));
  EXPECT_TRUE(rt().appendMenu(1, true, "&Item", record));
  EXPECT_TRUE(rt().appendMenu(1, false, "&Off", record));
  EXPECT_TRUE(rt().appendMenu(2, true, "&Command", record));
  EXPECT_FALSE(rt().appendMenu(2, true, "&Under a command", record));
  EXPECT_FALSE(rt().appendMenu(4, true, "&Four", nullptr));
  EXPECT_TRUE(rt().createFrame({}));

  EXPECT_FALSE(item("&One", "&Off")->isEnabled());
  item("&One", "&Item")->trigger();
  title("&Command")->trigger();
  EXPECT_EQ(calls, (std::vector<bool>{false, false}));

  // A failing start-up hook is reported on the output window (and in a box).
  const auto acceptFailureBox =
      qt_test::whenModalShown([](QWidget* modal) { static_cast<QMessageBox*>(modal)->accept(); });
  EXPECT_FALSE(rt().createFrame([] { return false; }));
  EXPECT_TRUE(outputText().contains("menu bar could not be built"));
}

TEST_F(RuntimeTest, AboutBoxShowsTheAboutTextLineByLine) {
  ASSERT_TRUE(rt().appendMenu(1, true, "&Windows...", nullptr));
  ASSERT_TRUE(rt().appendMenu(1, true, "&About...", nullptr, BuiltinAction::About));
  rt().setAboutText("TAVEL\r\rcredits line\rVersion 1.0 beta");
  EXPECT_EQ(rt().aboutText(), "TAVEL\r\rcredits line\rVersion 1.0 beta");
  QString text;
  const auto readAboutText = qt_test::whenModalShown([&](QWidget* modal) {
    text = static_cast<QMessageBox*>(modal)->text();
    static_cast<QMessageBox*>(modal)->accept();
  });
  item("&Windows...", "&About...")->trigger();
  EXPECT_EQ(text, "TAVEL\n\ncredits line\nVersion 1.0 beta");

  // The shell hands over its own text at start-up.
  app::AppState state;
  app::Shell shell(rt(), state);
  shell.startUp();
  EXPECT_TRUE(rt().aboutText().startsWith("TAVEL\r\r"));
  // ... ending with the build's release number.
  EXPECT_TRUE(rt().aboutText().contains(
      QRegularExpression(QStringLiteral("\rVersion [0-9]+\\.[0-9]+(\\.[0-9]+)?$"))))
      << rt().aboutText().toStdString();
}

TEST_F(RuntimeTest, OutputWindowShowsLinesInOrderAndClears) {
  EXPECT_TRUE(rt().isOpen(kScreenUnit));
  EXPECT_TRUE(rt().writeLine(kScreenUnit, ""));  // a leading empty line is kept
  EXPECT_TRUE(rt().writeLine(kScreenUnit, " numCol1=           4"));
  rt().flushOutput();
  EXPECT_TRUE(rt().writeLine(kScreenUnit, "last"));
  EXPECT_EQ(outputText(), "\n numCol1=           4\nlast");
  EXPECT_TRUE(rt().outputView()->isReadOnly());
  EXPECT_TRUE(rt().outputView()->font().fixedPitch() ||
              QFontInfo(rt().outputView()->font()).fixedPitch());
  rt().clearFocusedWindow();
  EXPECT_EQ(outputText(), "");
  rt().writeLine(kScreenUnit, "again");
  EXPECT_EQ(outputText(), "again");
  EXPECT_TRUE(rt().flush(kScreenUnit));
}

// A command runs on a worker thread: meanwhile the GUI thread shows its
// lines, refuses a second command and still arranges the windows.
TEST_F(RuntimeTest, CommandsRunOneAtATimeWhileTheWindowStaysLive) {
  int runs = 0;
  ASSERT_TRUE(rt().appendMenu(1, true, "&Run", [&](bool) { ++runs; }));
  ASSERT_TRUE(rt().appendMenu(2, true, "&Windows...", nullptr));
  ASSERT_TRUE(rt().appendMenu(2, true, "&Cascade", nullptr, BuiltinAction::Cascade));
  ASSERT_TRUE(rt().createFrame({}));

  std::atomic<bool> release{false};
  bool busyMeanwhile = false;
  QSize outputMeanwhile;
  QTimer probe;
  probe.setInterval(5);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (!rt().outputView()->toPlainText().contains("iteration 1")) return;
    probe.stop();
    busyMeanwhile = rt().busy();
    title("&Run")->trigger();                       // refused: a command runs
    item("&Windows...", "&Cascade")->trigger();     // served
    outputMeanwhile = rt().outputWindow()->size();  // the one window fills the area
    release = true;
  });
  probe.start();
  std::thread::id commandThread;
  rt().runCommand([&] {
    commandThread = std::this_thread::get_id();
    rt().writeLine(kScreenUnit, "iteration 1");
    QElapsedTimer waited;
    waited.start();
    while (!release && waited.elapsed() < 5000) QThread::msleep(2);
    rt().writeLine(kScreenUnit, "iteration 2");
  });
  EXPECT_TRUE(release) << "the line never showed while the command ran";
  EXPECT_NE(commandThread, std::this_thread::get_id());
  EXPECT_TRUE(busyMeanwhile);
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(outputMeanwhile, rt().mdiArea()->viewport()->size());
  EXPECT_FALSE(rt().busy());
  EXPECT_EQ(outputText(), "iteration 1\niteration 2");
  title("&Run")->trigger();
  EXPECT_EQ(runs, 1);

  // Running out of memory ends the command, not the program; the sheet it
  // was writing is dropped and an earlier one stays.
  { std::ofstream("Taveltr.xls") << "earlier\n"; }
  rt().runCommand([&] {
    rt().openFileReplacing(21, "Taveltr.xls");
    rt().writeLine(21, "half a sheet");
    throw std::bad_alloc();
  });
  EXPECT_TRUE(outputText().contains("not enough memory for this command"))
      << outputText().toStdString();
  EXPECT_FALSE(rt().isOpen(21));
  EXPECT_EQ(QDir(dir_).entryList(QDir::Files), QStringList{"Taveltr.xls"});
  std::ifstream sheet((dir_ + "/Taveltr.xls").toStdString());
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(sheet), {}), "earlier\n");
  EXPECT_FALSE(exitStatus_.has_value());

  // Any other error escaping a command ends the program with a message.
  ASSERT_TRUE(rt().openFile(2, "Tavel.log", false));
  QString message;
  const auto readErrorMessage = qt_test::whenModalShown([&](QWidget* modal) {
    message = static_cast<QMessageBox*>(modal)->text();
    static_cast<QMessageBox*>(modal)->accept();
  });
  rt().runCommand([] { throw std::runtime_error("out of memory"); });
  EXPECT_TRUE(message.contains("out of memory"));
  EXPECT_EQ(exitStatus_, 0);
  EXPECT_FALSE(rt().isOpen(2));
}

// Lines and windows appear in the order the command made them, as they did
// when commands ran on the GUI thread itself: a window comes after the lines
// written before it and before the lines written after it.
TEST_F(RuntimeTest, ACommandOnTheWorkerKeepsTheOrderOfLinesAndWindows) {
  ASSERT_TRUE(rt().createFrame({}));
  QStringList seen;  // each plot window as it comes up, with the lines shown then
  QObject::connect(rt().mdiArea(), &QMdiArea::subWindowActivated, [&](QMdiSubWindow* w) {
    if (w == nullptr || w == rt().outputWindow()) return;
    const QString entry = w->windowTitle() + ": " + rt().outputView()->toPlainText();
    if (seen.isEmpty() || seen.last() != entry) seen << entry;
  });
  bool drewOnTwo = false;
  rt().runCommand([&] {
    rt().writeLine(kScreenUnit, "A");
    rt().openGraphics(11, "one");
    rt().writeLine(kScreenUnit, "B");
    rt().writeLine(kScreenUnit, "C");
    rt().openGraphics(12, "two");
    Canvas* canvas = rt().activeCanvas();
    if (canvas != nullptr) {
      canvas->setColour(4);
      canvas->rectanglePixel(kFill, 0, 0, 9, 9);
      drewOnTwo = true;
    }
    rt().close(11);
    rt().writeLine(kScreenUnit, "D");
  });
  EXPECT_EQ(seen, QStringList({"one: A", "two: A\nB\nC"}));
  EXPECT_EQ(outputText(), "A\nB\nC\nD");
  EXPECT_EQ(rt().graphicsWindow(11), nullptr);
  ASSERT_NE(rt().canvasOf(12), nullptr);
  EXPECT_TRUE(drewOnTwo);
  EXPECT_EQ(rt().canvasOf(12)->image().pixel(5, 5), paletteColour(4).rgb());
}

// What a Run leaves: the report readable across the bottom, every plot whole
// beside the others, none maximised over the report, even when the output
// window was maximised at start-up. Cascade then keeps every window large.
TEST_F(RuntimeTest, TheWindowsOfARunAreArrangedSoEveryOneShows) {
  ASSERT_TRUE(rt().createFrame({}));
  rt().frame()->resize(1600, 1200);
  rt().outputWindow()->showMaximized();
  rt().runCommand([&] {
    for (int unit = 11; unit <= 14; ++unit) rt().openGraphics(unit, "plot " + std::to_string(unit));
  });
  EXPECT_FALSE(rt().tabbedView());
  const QRect area = rt().mdiArea()->viewport()->rect();
  std::vector<QMdiSubWindow*> windows{rt().outputWindow()};
  for (int unit = 11; unit <= 14; ++unit) {
    windows.push_back(rt().graphicsWindow(unit));
    // Large enough to read: about 480 x 360 inside the frame at least.
    EXPECT_GE(rt().graphicsView(unit)->width(), 480);
    EXPECT_GE(rt().graphicsView(unit)->height(), 360);
  }
  for (std::size_t i = 0; i < windows.size(); ++i) {
    const QRect r = windows[i]->geometry();
    EXPECT_FALSE(windows[i]->isMaximized()) << i;
    EXPECT_TRUE(area.contains(r)) << i;
    for (std::size_t j = 0; j < i; ++j) EXPECT_FALSE(r.intersects(windows[j]->geometry())) << i;
  }
  EXPECT_EQ(rt().outputWindow()->width(), area.width());
  EXPECT_GE(rt().outputWindow()->height(), area.height() / 4);

  // More plots than the workspace holds readably: tabs, each the whole
  // workspace, until they are turned back.
  rt().frame()->resize(1000, 760);
  rt().runCommand([&] {
    for (int unit = 15; unit <= 22; ++unit) rt().openGraphics(unit, "plot " + std::to_string(unit));
  });
  EXPECT_TRUE(rt().tabbedView());
  for (int unit = 15; unit <= 22; ++unit) windows.push_back(rt().graphicsWindow(unit));
  rt().mdiArea()->setActiveSubWindow(rt().graphicsWindow(15));
  EXPECT_GE(rt().graphicsView(15)->width(), 480);
  EXPECT_GE(rt().graphicsView(15)->height(), 360);

  rt().setTabbedView(false);
  EXPECT_FALSE(rt().tabbedView());
  const QRect smaller = rt().mdiArea()->viewport()->rect();
  for (QMdiSubWindow* w : windows) {
    EXPECT_TRUE(smaller.contains(w->geometry()));
    EXPECT_GE(w->width(), smaller.width() / 2);
    EXPECT_GE(w->height(), smaller.height() / 2);
  }
  rt().cascade();
  for (QMdiSubWindow* w : windows) {
    EXPECT_TRUE(smaller.contains(w->geometry()));
    EXPECT_GE(w->width(), smaller.width() / 2);
    EXPECT_GE(w->height(), smaller.height() / 2);
  }
  // Every title bar stays in sight: the windows step down one after another.
  QList<int> tops;
  for (QMdiSubWindow* w : rt().mdiArea()->subWindowList(QMdiArea::StackingOrder)) tops << w->y();
  for (qsizetype k = 1; k < tops.size(); ++k) EXPECT_GT(tops[k], tops[k - 1]);
}

// A plot window shows its 800 x 600 picture whole at any window size, 4:3,
// without scroll bars; the picture saved from it keeps its own size.
TEST_F(RuntimeTest, APlotWindowShowsItsWholePictureAtAnySize) {
  ASSERT_TRUE(rt().createFrame({}));
  ASSERT_TRUE(rt().openGraphics(11, "plot"));
  Canvas* canvas = rt().activeCanvas();
  canvas->setColour(1);  // a blue frame 40 pixels wide around a white middle
  canvas->rectanglePixel(kFill, 0, 0, 799, 599);
  canvas->setColour(15);
  canvas->rectanglePixel(kFill, 40, 40, 759, 559);
  const QColor blue = paletteColour(1);
  const QColor white = paletteColour(15);
  auto near = [](QColor a, QColor b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
               std::abs(a.blue() - b.blue()) <
           24;
  };
  QMdiSubWindow* window = rt().graphicsWindow(11);
  EXPECT_TRUE(window->findChildren<QAbstractScrollArea*>().isEmpty());
  for (QSize size : {QSize(430, 260), QSize(300, 520), QSize(1000, 800)}) {
    window->resize(size);
    QCoreApplication::processEvents();
    QWidget* view = window->widget();
    const QImage seen = view->grab().toImage();
    // The picture is what is not margin: find its box.
    const QColor margin = seen.pixelColor(0, 0);
    QRect box;
    for (int y = 0; y < seen.height(); ++y)
      for (int x = 0; x < seen.width(); ++x)
        if (seen.pixelColor(x, y) != margin) box |= QRect(x, y, 1, 1);
    SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
    EXPECT_TRUE(box.width() == seen.width() || box.height() == seen.height());
    EXPECT_NEAR(box.width() * 3.0 / (box.height() * 4.0), 1.0, 0.02);
    for (QPoint corner : {box.topLeft() + QPoint(3, 3), box.topRight() + QPoint(-3, 3),
                          box.bottomLeft() + QPoint(3, -3), box.bottomRight() + QPoint(-3, -3)})
      EXPECT_TRUE(near(seen.pixelColor(corner), blue)) << corner.x() << "," << corner.y();
    EXPECT_TRUE(near(seen.pixelColor(box.center()), white));
  }
  ASSERT_GE(rt().saveImage("whole.bmp", 0, 0, 799, 599), 0);
  EXPECT_EQ(QImageReader(dir_ + "/whole.bmp").size(), QSize(800, 600));
}

TEST_F(RuntimeTest, GraphicsWindowsAreActiveInOrderAndSaveTheirPictures) {
  EXPECT_EQ(rt().activeCanvas(), nullptr);
  EXPECT_LT(rt().saveImage("none.bmp", 0, 0, 799, 599), 0);
  EXPECT_FALSE(rt().openGraphics(kScreenUnit, "x"));

  ASSERT_TRUE(rt().openGraphics(11, "A Optimal Transformation"));
  ASSERT_TRUE(rt().openGraphics(12, "B Optimal Transformation"));
  EXPECT_EQ(rt().graphicsWindow(11)->windowTitle(), "A Optimal Transformation");
  EXPECT_TRUE(rt().isOpen(11));
  EXPECT_EQ(rt().activeCanvas(), rt().canvasOf(12));  // the last opened
  rt().mdiArea()->setActiveSubWindow(rt().graphicsWindow(11));
  EXPECT_EQ(rt().activeCanvas(), rt().canvasOf(11));  // the last activated
  EXPECT_FALSE(rt().writeLine(11, "text"));

  Canvas* canvas = rt().activeCanvas();
  WindowConfig config;
  ASSERT_TRUE(canvas->getWindowConfig(config));
  EXPECT_EQ(config.pixelsX, 800);
  EXPECT_EQ(config.pixelsY, 600);
  ASSERT_TRUE(canvas->setWindowConfigMaximum());
  ASSERT_TRUE(canvas->getWindowConfig(config));
  EXPECT_EQ(config.pixelsX, 800);
  canvas->setColour(14);
  canvas->rectanglePixel(kFill, 0, 0, 99, 99);

  // Relative names are taken from the current directory.
  ASSERT_GE(rt().saveImage("pic_A.bmp", 0, 0, 799, 599), 0);
  QImageReader reader(dir_ + "/pic_A.bmp");
  EXPECT_EQ(reader.format(), "bmp");
  const QImage picture = reader.read();
  EXPECT_EQ(picture.size(), QSize(800, 600));
  EXPECT_EQ(picture.pixel(50, 50), paletteColour(14).rgb());

  // "Save Picture As..." writes the format its extension names.
  GraphicsView* view = rt().graphicsView(11);
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->canvas().recording());
  ASSERT_TRUE(view->savePicture(dir_ + "/saved.png"));
  ASSERT_TRUE(view->savePicture(dir_ + "/saved.bmp"));
  EXPECT_EQ(QImageReader(dir_ + "/saved.png").format(), "png");
  EXPECT_EQ(QImageReader(dir_ + "/saved.bmp").size(), QSize(800, 600));
  if (QImageCanvas::svgSupported()) {
    ASSERT_TRUE(view->savePicture(dir_ + "/saved.svg"));
    QFile svg(dir_ + "/saved.svg");
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    EXPECT_TRUE(svg.readAll().contains("viewBox=\"0 0 800 600\""));
  }
  EXPECT_FALSE(view->savePicture(dir_ + "/missing/saved.png"));

  // Closing the active window makes the previous one active; the user's
  // close box counts as closing too.
  rt().close(11);
  EXPECT_FALSE(rt().isOpen(11));
  EXPECT_EQ(rt().activeCanvas(), rt().canvasOf(12));
  rt().graphicsWindow(12)->close();
  QCoreApplication::processEvents();
  EXPECT_EQ(rt().activeCanvas(), nullptr);
  EXPECT_FALSE(rt().isOpen(12));

  // Reopening a unit replaces its window; a file on the unit is closed first.
  ASSERT_TRUE(rt().openFile(13, "plot.txt", false));
  ASSERT_TRUE(rt().openGraphics(13, "again"));
  EXPECT_NE(rt().canvasOf(13), nullptr);
  EXPECT_FALSE(rt().writeLine(13, "a line"));
  ASSERT_TRUE(rt().openFile(13, "plot.txt", false));
  EXPECT_EQ(rt().canvasOf(13), nullptr);
  EXPECT_TRUE(rt().writeLine(13, "a line"));
}

TEST_F(RuntimeTest, StopShowsTheMessageClosesEveryUnitAndEnds) {
  ASSERT_TRUE(rt().openFile(2, "Tavel.log", false));
  ASSERT_TRUE(rt().writeLine(2, "kept"));
  ASSERT_TRUE(rt().openGraphics(11, "plot"));
  QString message;
  const auto readStopMessage = qt_test::whenModalShown([&](QWidget* modal) {
    message = static_cast<QMessageBox*>(modal)->text();
    static_cast<QMessageBox*>(modal)->accept();
  });
  rt().stop("Program terminated. See output files...");
  EXPECT_EQ(message, "Program terminated. See output files...");
  EXPECT_EQ(exitStatus_, 0);
  EXPECT_FALSE(rt().isOpen(2));
  EXPECT_FALSE(rt().isOpen(11));
  QFile log(dir_ + "/Tavel.log");
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  EXPECT_EQ(log.readAll(), "kept\n");  // flushed on closing
}

TEST_F(RuntimeTest, FilesLiveInTheCurrentDirectory) {
  EXPECT_FALSE(rt().openFile(kScreenUnit, "screen.txt", false));
  ASSERT_TRUE(rt().openFile(1, "data.dat", false));
  ASSERT_TRUE(rt().writeLine(1, "A B"));
  EXPECT_TRUE(rt().closeChecked(1));
  EXPECT_TRUE(QFile::exists(dir_ + "/data.dat"));
  EXPECT_EQ(rt().resolvePath("Tavel.log"), "Tavel.log");

  for (const char* name : {"pic_A.bmp", "pic_].bmp", "pic_mine.bmp", "pic.bmp", "keep_A.bmp"}) {
    QFile f(dir_ + "/" + name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  rt().deleteFiles("pic_*.bmp");
  EXPECT_EQ(QDir(dir_).entryList({"*.bmp"}, QDir::Files), QStringList({"keep_A.bmp", "pic.bmp"}));
}

TEST_F(RuntimeTest, GeometryOfFrameAndWindows) {
  ASSERT_TRUE(rt().createFrame({}));
  Geometry frame;
  ASSERT_TRUE(rt().getGeometry(kFrameUnit, frame));
  EXPECT_GT(frame.width, 0);
  EXPECT_GT(frame.height, 0);
  ASSERT_TRUE(
      rt().applyGeometry(kFrameUnit, Geometry{10, 20, 900, 700}, GeometryRequest::SetPositionSize));
  ASSERT_TRUE(rt().getGeometry(kFrameUnit, frame));
  EXPECT_EQ(frame.width, 900);
  EXPECT_EQ(frame.height, 700);

  Geometry output;
  ASSERT_TRUE(rt().getGeometry(kScreenUnit, output));
  ASSERT_TRUE(rt().applyGeometry(kScreenUnit, output, GeometryRequest::Maximise));
  EXPECT_TRUE(rt().outputWindow()->isMaximized());
  ASSERT_TRUE(rt().applyGeometry(kScreenUnit, output, GeometryRequest::Restore));
  EXPECT_FALSE(rt().outputWindow()->isMaximized());

  EXPECT_FALSE(rt().getGeometry(11, output));  // not open
  EXPECT_FALSE(rt().applyGeometry(11, output, GeometryRequest::Maximise));
  ASSERT_TRUE(rt().openGraphics(11, "plot"));
  EXPECT_TRUE(rt().getGeometry(11, output));

  // The output window cannot be closed by the user.
  rt().outputWindow()->close();
  EXPECT_TRUE(rt().outputWindow()->isVisible());
}

TEST_F(RuntimeTest, OpenFileDialogOffersTheFiltersAndReturnsTheChoice) {
  QFile data(dir_ + "/rates.dat");
  ASSERT_TRUE(data.open(QIODevice::WriteOnly));
  data.close();
  QStringList filters;
  const auto chooseRatesFile = qt_test::whenModalShown([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "Input Dat File");
    filters = dialog->nameFilters();
    // Typed as a user would: selectFile() leaves the name box alone while it
    // has the focus, which it has once the dialog is the active window, and
    // the Open button then has no file to accept.
    auto* nameBox = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(nameBox, nullptr);
    nameBox->setText("rates.dat");
    static_cast<QDialog*>(dialog)->accept();  // as the Open button does
  });
  std::string name(100, ' ');
  ASSERT_TRUE(rt().openFileDialog(
      "Input Dat File",
      {{"Data files(*.DAT)", "*.dat"}, {"All files(*.*)", "*.*"}, {"CSV files(*.CSV)", "*.csv"}},
      name));
  // "*.*" also lists the files without a dot in their names.
  EXPECT_EQ(filters, QStringList({"Data files(*.DAT)", "All files (*)", "CSV files(*.CSV)"}));
  EXPECT_EQ(QFileInfo(QString::fromStdString(name)).canonicalFilePath(),
            QFileInfo(dir_ + "/rates.dat").canonicalFilePath());

  const auto cancel =
      qt_test::whenModalShown([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
  std::string kept = "before";
  EXPECT_FALSE(rt().openFileDialog("Input Dat File", {{"Data files(*.DAT)", "*.dat"}}, kept));
  EXPECT_EQ(kept, "before");
}

// The shell's Prepare dialog on real widgets: what a user clicks ends up in
// the selection.
TEST_F(RuntimeTest, PrepareDialogPlaysOnQtWidgets) {
  app::AppState state;
  state.data.numCol1 = 3;
  state.data.numCol = 3;
  state.data.nRows = 10;
  for (const char* name : {"C", "A", "B"}) {
    std::string padded = name;
    padded.resize(app::kNameLength, ' ');
    state.data.colName.push_back(padded);
  }
  app::Shell shell(rt(), state);
  ASSERT_TRUE(rt().createFrame([&] { return shell.buildMenus(); }));

  std::vector<std::string> included;
  const auto playPrepare = qt_test::whenModalShown([&](QWidget* modal) {
    auto* all = qt_test::control<QListWidget>(modal, app::kPrepareVariableList);
    auto* include = qt_test::control<QListWidget>(modal, app::kPrepareIncludeList);
    ASSERT_TRUE(all && include);
    ASSERT_EQ(all->count(), 3);
    EXPECT_EQ(all->item(0)->text(), "A");  // sorted for the user
    EXPECT_EQ(modal->findChildren<QRadioButton*>().size(), 30);
    EXPECT_FALSE(qt_test::control<QRadioButton>(modal, app::kFirstDepRadio)->isEnabled());
    for (int i = 0; i < 3; ++i) all->item(i)->setSelected(true);
    qt_test::control<QPushButton>(modal, app::kPrepareMoveIn)->click();
    for (int i = 0; i < include->count(); ++i)
      included.push_back(include->item(i)->text().toStdString());
    EXPECT_TRUE(qt_test::control<QRadioButton>(modal, app::kFirstDepRadio + 2)->isEnabled());
    EXPECT_FALSE(qt_test::control<QRadioButton>(modal, app::kFirstDepRadio + 3)->isEnabled());
    qt_test::control<QRadioButton>(modal, app::kFirstDepRadio + 1)->click();  // row 2: B
    qt_test::control<QPushButton>(modal, app::kOkButton)->click();
  });
  title("&Prepare")->trigger();
  EXPECT_EQ(included, (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(state.selection.p, 2);
  EXPECT_EQ(state.selection.dep, 3);                           // B
  EXPECT_EQ(state.selection.indep, (std::vector<int>{2, 1}));  // A, C
  EXPECT_EQ(state.options.l[2], tavel::model::VarFlag::Monotone);
  EXPECT_TRUE(outputText().contains("Prepare done:"));
}

}  // namespace
}  // namespace tavel::platform::qt

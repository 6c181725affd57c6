// The Qt runtime: menus, the about box, the output window, graphics windows,
// commands, stop, files, geometry and the open-file dialog; and the shell's
// Prepare dialog played on real widgets.
#include "platform/qt/qt_runtime.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
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
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

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
  EXPECT_EQ(names, QStringList({"&File", "&Prepare", "&Options", "&Run", "&Windows..."}));

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
                               "&Predict New Data..."}));
  EXPECT_EQ(windows, QStringList({"&Cascade", "&Full screen", "&About..."}));
  for (QAction* a : title("&File")->menu()->actions() + title("&Windows...")->menu()->actions()) {
    EXPECT_TRUE(a->isEnabled());
    EXPECT_FALSE(a->isChecked());
  }
  EXPECT_TRUE(rt().frame()->isVisible());

  // Exit ends the program with its message, after closing every unit.
  shell.startUp();
  ASSERT_TRUE(rt().isOpen(app::kLogUnit));
  QString shown;
  qt_test::whenModalShown([&](QWidget* modal) {
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
  qt_test::whenModalShown([&](QWidget* modal) {
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
  EXPECT_TRUE(rt().aboutText().endsWith("\rVersion 1.0 beta"));
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

TEST_F(RuntimeTest, CommandsShowProgressRunOneAtATimeAndStopOnErrors) {
  int nested = 0;
  ASSERT_TRUE(rt().appendMenu(1, true, "&Run", [&](bool) { ++nested; }));
  QString seenDuring;
  rt().runCommand([&] {
    rt().writeLine(kScreenUnit, "iteration 1");
    QThread::msleep(60);
    rt().writeLine(kScreenUnit, "iteration 2");  // more than 50 ms later: shown now
    seenDuring = rt().outputView()->toPlainText();
    EXPECT_TRUE(rt().busy());
    title("&Run")->trigger();  // no second command while one runs
  });
  EXPECT_TRUE(seenDuring.contains("iteration 1"));
  EXPECT_TRUE(seenDuring.contains("iteration 2"));
  EXPECT_EQ(nested, 0);
  EXPECT_FALSE(rt().busy());
  title("&Run")->trigger();
  EXPECT_EQ(nested, 1);

  // An error escaping a command ends the program with a message.
  ASSERT_TRUE(rt().openFile(2, "Tavel.log", false));
  QString message;
  qt_test::whenModalShown([&](QWidget* modal) {
    message = static_cast<QMessageBox*>(modal)->text();
    static_cast<QMessageBox*>(modal)->accept();
  });
  rt().runCommand([] { throw std::runtime_error("out of memory"); });
  EXPECT_TRUE(message.contains("out of memory"));
  EXPECT_EQ(exitStatus_, 0);
  EXPECT_FALSE(rt().isOpen(2));
}

// Clicks a user makes while a command runs wait in the window system's
// queue; when they arrive after the command they must start nothing.
TEST_F(RuntimeTest, InputMadeDuringACommandIsDroppedWhenItArrives) {
  int clicks = 0;
  QPushButton button("&Run");
  button.resize(60, 20);
  QObject::connect(&button, &QPushButton::clicked, [&] { ++clicks; });
  auto click = [&](quint64 stamp) {
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    press.setTimestamp(stamp);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    release.setTimestamp(stamp + 1);
    QCoreApplication::sendEvent(&button, &press);
    QCoreApplication::sendEvent(&button, &release);
  };
  click(100000);  // the click that starts the command; its time stamp is the clock
  EXPECT_EQ(clicks, 1);
  rt().runCommand([] { QThread::msleep(40); });
  click(100020);  // made 20 ms into the 40 ms command, arriving only now
  EXPECT_EQ(clicks, 1);
  click(100001 + 40 + 200);  // made after the command
  EXPECT_EQ(clicks, 2);
  click(100030);  // stale input stays stale
  EXPECT_EQ(clicks, 2);
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
  qt_test::whenModalShown([&](QWidget* modal) {
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
  qt_test::whenModalShown([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "Input Dat File");
    filters = dialog->nameFilters();
    dialog->selectFile("rates.dat");
    static_cast<QDialog*>(dialog)->accept();  // as the Open button does
  });
  std::string name(100, ' ');
  ASSERT_TRUE(rt().openFileDialog("Input Dat File",
                                  {{"Data files(*.DAT)", "*.dat"}, {"All files", "*"}}, name));
  EXPECT_EQ(filters, QStringList({"Data files(*.DAT)", "All files (*)"}));
  EXPECT_EQ(QFileInfo(QString::fromStdString(name)).canonicalFilePath(),
            QFileInfo(dir_ + "/rates.dat").canonicalFilePath());

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
  qt_test::whenModalShown([&](QWidget* modal) {
    auto* all = modal->findChild<QListWidget*>("1016");
    auto* include = modal->findChild<QListWidget*>("1017");
    ASSERT_TRUE(all && include);
    ASSERT_EQ(all->count(), 3);
    EXPECT_EQ(all->item(0)->text(), "A");  // sorted for the user
    EXPECT_EQ(modal->findChildren<QRadioButton*>().size(), 30);
    EXPECT_FALSE(modal->findChild<QRadioButton*>("1052")->isEnabled());
    for (int i = 0; i < 3; ++i) all->item(i)->setSelected(true);
    modal->findChild<QPushButton*>("1018")->click();
    for (int i = 0; i < include->count(); ++i)
      included.push_back(include->item(i)->text().toStdString());
    EXPECT_TRUE(modal->findChild<QRadioButton*>("1054")->isEnabled());
    EXPECT_FALSE(modal->findChild<QRadioButton*>("1055")->isEnabled());
    modal->findChild<QRadioButton*>("1053")->click();  // row 2: B
    modal->findChild<QPushButton*>("1")->click();
  });
  title("&Prepare")->trigger();
  EXPECT_EQ(included, (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(state.selection.p, 2);
  EXPECT_EQ(state.selection.dep, 3);                           // B
  EXPECT_EQ(state.selection.indep, (std::vector<int>{2, 1}));  // A, C
  EXPECT_EQ(state.options.l[2], 3);
  EXPECT_TRUE(outputText().contains("Prepare done:"));
}

}  // namespace
}  // namespace tavel::platform::qt

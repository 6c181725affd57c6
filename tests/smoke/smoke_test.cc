// SPDX-License-Identifier: GPL-3.0-or-later
// Tavel in a real window: the program is put together as the desktop main
// does it and driven by mouse and key events on its own widgets, from the
// data file to the plot windows, the way a user would do it. Meant for a real
// display (an X server, Xvfb in CI); run it through run_smoke.sh.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/options_dialog.h"
#include "app/prepare_dialog.h"
#include "app/records.h"
#include "app/shell.h"
#include "platform/qt/qt_runtime.h"
#include "run/run_command.h"

namespace {

using tavel::platform::qt::QtRuntime;
namespace app = tavel::app;
namespace model = tavel::model;

// The control of a dialog with the given id (null when there is none).
template <typename T>
T* control(QWidget* dialog, int id) {
  return dialog->findChild<T*>(QString::number(id));
}

// ---- input as a user makes it

void click(QWidget* widget, QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QTest::mouseClick(widget, Qt::LeftButton, modifiers, at);
}

void click(QWidget* widget) { click(widget, widget->rect().center()); }

// Runs action on the modal dialog with this title once it is on the screen.
// Gives up (and fails the test) after 10 s.
void whenDialogShown(const QString& title, std::function<void(QWidget*)> action) {
  auto* timer = new QTimer(qApp);
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  QObject::connect(timer, &QTimer::timeout, timer, [=] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal->isVisible() && modal->windowTitle() == title) {
      timer->stop();
      timer->deleteLater();
      // Let the window manager map it before it is clicked.
      (void)QTest::qWaitForWindowExposed(modal, 2000);
      action(modal);
    } else if (clock->elapsed() > 10000) {
      timer->stop();
      timer->deleteLater();
      ADD_FAILURE() << "dialog \"" << title.toStdString() << "\" did not appear";
      if (modal != nullptr) modal->close();  // do not hang on an unexpected one
    }
  });
  timer->start(20);
}

// ---- the program

class SmokeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Qt wants a private runtime folder; bare X servers often lack one.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
      const std::string dir = "/tmp/tavel-smoke-runtime-" + std::to_string(::getuid());
      ::mkdir(dir.c_str(), 0700);
      ::chmod(dir.c_str(), 0700);
      qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir));
    }
    static int argc = 1;
    static char name[] = "tavel";
    static char* argv[] = {name, nullptr};
    application_ = new QApplication(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavel"));
  }
  static void TearDownTestSuite() {
    delete application_;
    application_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(work_.isValid());
    previous_ = QDir::currentPath();
    ASSERT_TRUE(QFile::copy(QStringLiteral(TAVEL_EXAMPLE_PATH),
                            work_.filePath(QStringLiteral("reaction_rates.dat"))));
    // A picture of an earlier use goes at start-up.
    QFile old(work_.filePath(QStringLiteral("pic_A.bmp")));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.close();
    QDir::setCurrent(work_.path());

    runtime_ = std::make_unique<QtRuntime>();
    runtime_->setExitHandler([this](int status) { exitStatus_ = status; });
    shell_ = std::make_unique<tavel::app::Shell>(*runtime_, state_);
    shell_->setRunCommand([this] { tavel::run::onRun(*runtime_, state_, *shell_); });
    ASSERT_TRUE(runtime_->createFrame([this] { return shell_->buildMenus(); }));
    shell_->startUp();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(runtime_->frame(), 5000));
    QTest::qWait(100);
  }

  void TearDown() override {
    shell_.reset();
    runtime_.reset();
    QDir::setCurrent(previous_);
  }

  QMenuBar* menuBar() { return runtime_->frame()->menuBar(); }
  QAction* title(const QString& text) {
    for (QAction* a : menuBar()->actions())
      if (a->text() == text) return a;
    ADD_FAILURE() << "no menu " << text.toStdString();
    return nullptr;
  }
  // Clicks a command on the menu bar; returns when the command is done.
  void command(const QString& text) {
    QAction* action = title(text);
    ASSERT_NE(action, nullptr);
    QTest::qWait(30);  // after the previous command, as a user would be
    click(menuBar(), menuBar()->actionGeometry(action).center());
  }
  // Opens a drop-down and clicks one of its items.
  void menuItem(const QString& menu, const QString& item) {
    QAction* top = title(menu);
    ASSERT_TRUE(top != nullptr && top->menu() != nullptr);
    QTest::qWait(30);
    click(menuBar(), menuBar()->actionGeometry(top).center());
    QMenu* dropDown = top->menu();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dropDown, 3000)) << menu.toStdString();
    QAction* entry = nullptr;
    for (QAction* a : dropDown->actions())
      if (a->text() == item) entry = a;
    ASSERT_NE(entry, nullptr) << item.toStdString();
    QTest::qWait(30);
    click(dropDown, dropDown->actionGeometry(entry).center());
  }

  QString outputText() {
    runtime_->flushOutput();
    return runtime_->outputView()->toPlainText();
  }
  QStringList lastLines(int n) {
    QStringList lines = outputText().split(QLatin1Char('\n'));
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty()) lines.removeLast();
    return lines.mid(std::max(0, static_cast<int>(lines.size()) - n));
  }
  QString fileText(const QString& name) {
    QFile f(work_.filePath(name));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromLatin1(f.readAll());
  }
  // The plot windows on the screen, by their titles with blanks collapsed.
  QStringList plotTitles() {
    QCoreApplication::processEvents();
    QStringList titles;
    for (QMdiSubWindow* w : runtime_->mdiArea()->subWindowList())
      if (w != runtime_->outputWindow() && w->isVisible()) titles << w->windowTitle().simplified();
    return titles;
  }

  // A click on a list row, as a user picks a variable.
  static void pickRow(QListWidget* list, const QString& text) {
    const QList<QListWidgetItem*> found = list->findItems(text, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << text.toStdString();
    list->scrollToItem(found.first());
    click(list->viewport(), list->visualItemRect(found.first()).center());
  }

  void saveScreenshot(const QString& name) {
    const QString dir = qEnvironmentVariable("TAVEL_SMOKE_ARTIFACTS", previous_);
    QDir().mkpath(dir);
    QImage shot;
    if (QScreen* screen = runtime_->frame()->screen()) shot = screen->grabWindow(0).toImage();
    // Without a window system to read from, the frame paints itself.
    if (shot.isNull() || shot.allGray()) shot = runtime_->frame()->grab().toImage();
    ASSERT_FALSE(shot.isNull());
    const QString path = dir + QLatin1Char('/') + name;
    ASSERT_TRUE(shot.save(path, "PNG")) << path.toStdString();
    std::printf("screenshot: %s (%dx%d)\n", qPrintable(path), shot.width(), shot.height());
  }

  // With TAVEL_SHOTS_DIR set, a picture of the whole screen as the window
  // system shows it (window manager included), named after the screen size.
  void shot(const QString& name) {
    const QString dir = qEnvironmentVariable("TAVEL_SHOTS_DIR");
    QTest::qWait(250);  // let every window finish painting
    if (dir.isEmpty()) return;
    const QSize screen = runtime_->frame()->screen()->size();
    const QString path =
        QStringLiteral("%1/%2-%3x%4.png").arg(dir, name).arg(screen.width()).arg(screen.height());
    if (QProcess::execute(QStringLiteral("import"), {"-window", "root", path}) != 0)
      saveScreenshot(name + QStringLiteral(".png"));
  }

  // File / Input with the example, then Prepare: the variables go into the
  // analysis, the dependent is chosen by its radio button.
  void inputAndPrepare(const QStringList& chosen, const QString& dependent,
                       const QString& file = QStringLiteral("reaction_rates.dat")) {
    whenDialogShown(QStringLiteral("Input Tavel Data File"), [&](QWidget* modal) {
      auto* name = modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      ASSERT_NE(name, nullptr);
      click(name);
      name->clear();
      QTest::keyClicks(name, file);
      QTest::keyClick(name, Qt::Key_Return);
    });
    whenDialogShown(QStringLiteral("Prepare"), [&](QWidget* modal) {
      auto* all = control<QListWidget>(modal, app::kPrepareVariableList);
      auto* include = control<QListWidget>(modal, app::kPrepareIncludeList);
      ASSERT_TRUE(all != nullptr && include != nullptr);
      for (const QString& v : chosen) pickRow(all, v);
      click(control<QPushButton>(modal, app::kPrepareMoveIn));
      const QList<QListWidgetItem*> dep = include->findItems(dependent, Qt::MatchExactly);
      ASSERT_EQ(dep.size(), 1);
      click(control<QRadioButton>(modal, app::kFirstDepRadio + include->row(dep.first())));
      shot(QStringLiteral("prepare"));
      click(control<QPushButton>(modal, app::kOkButton));
    });
    menuItem(QStringLiteral("&File"), QStringLiteral("&Input Dat File..."));
  }

  static QApplication* application_;
  QTemporaryDir work_;
  QString previous_;
  tavel::app::AppState state_;
  std::unique_ptr<QtRuntime> runtime_;
  std::unique_ptr<tavel::app::Shell> shell_;
  std::optional<int> exitStatus_;
};

QApplication* SmokeTest::application_ = nullptr;

TEST_F(SmokeTest, InputPrepareOptionsRunOnTheExampleData) {
  EXPECT_TRUE(runtime_->frame()->isVisible());
  EXPECT_FALSE(QFile::exists(work_.filePath(QStringLiteral("pic_A.bmp"))));
  EXPECT_TRUE(QFile::exists(work_.filePath(QStringLiteral("Tavel.log"))));

  // File / Input: the file name typed into the open-file dialog. The scan
  // opens the Prepare dialog by itself.
  QString fileDialogTitle;
  QStringList variables;
  whenDialogShown(QStringLiteral("Input Tavel Data File"), [&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    fileDialogTitle = dialog->windowTitle();
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    click(name);
    name->clear();
    QTest::keyClicks(name, QStringLiteral("reaction_rates.dat"));
    QTest::keyClick(name, Qt::Key_Return);
  });
  whenDialogShown(QStringLiteral("Prepare"), [&](QWidget* modal) {
    auto* all = control<QListWidget>(modal, app::kPrepareVariableList);
    auto* include = control<QListWidget>(modal, app::kPrepareIncludeList);
    ASSERT_TRUE(all != nullptr && include != nullptr);
    for (int i = 0; i < all->count(); ++i) variables << all->item(i)->text();
    for (const char* v : {"T", "P", "RATE"}) pickRow(all, QString::fromLatin1(v));
    click(control<QPushButton>(modal, app::kPrepareMoveIn));
    ASSERT_EQ(include->count(), 3);
    const QList<QListWidgetItem*> rate =
        include->findItems(QStringLiteral("RATE"), Qt::MatchExactly);
    ASSERT_EQ(rate.size(), 1);
    const int row = include->row(rate.first());
    auto* radio = control<QRadioButton>(modal, app::kFirstDepRadio + row);
    ASSERT_NE(radio, nullptr);
    EXPECT_TRUE(radio->isEnabled());
    click(radio);
    EXPECT_TRUE(radio->isChecked());
    click(control<QPushButton>(modal, app::kOkButton));
  });
  menuItem(QStringLiteral("&File"), QStringLiteral("&Input Dat File..."));
  EXPECT_EQ(fileDialogTitle, "Input Tavel Data File");
  EXPECT_EQ(state_.data.numCol1, 4);
  EXPECT_EQ(state_.data.nRows, 200);
  // Every column of the example is positive, so each has its logarithm.
  variables.sort();
  EXPECT_EQ(variables, QStringList({"CATALYST", "P", "RATE", "T", "_ln_CATALYST", "_ln_P",
                                    "_ln_RATE", "_ln_T"}));
  ASSERT_EQ(state_.selection.p, 2);
  EXPECT_EQ(state_.selection.dep, 4);  // RATE
  EXPECT_TRUE(outputText().contains("Prepare done:"));

  // Options: T becomes monotone, equilibration is asked for.
  std::vector<bool> flagShown;
  whenDialogShown(QStringLiteral("OPTIONS"), [&](QWidget* modal) {
    auto* list = control<QListWidget>(modal, app::kPrepareVariableList);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count(), 3);
    pickRow(list, QStringLiteral("T"));
    auto* orderable = control<QRadioButton>(modal, app::flagRadio(model::VarFlag::Orderable));
    auto* monotone = control<QRadioButton>(modal, app::flagRadio(model::VarFlag::Monotone));
    ASSERT_TRUE(orderable != nullptr && monotone != nullptr);
    flagShown = {orderable->isEnabled(), orderable->isChecked()};
    click(monotone);
    EXPECT_TRUE(monotone->isChecked());
    auto* equilibration = control<QCheckBox>(modal, app::kEquilibrationBox);
    ASSERT_NE(equilibration, nullptr);
    click(equilibration);
    EXPECT_TRUE(equilibration->isChecked());
    click(control<QPushButton>(modal, app::kOkButton));
  });
  command(QStringLiteral("&Options"));
  EXPECT_EQ(flagShown, (std::vector<bool>{true, true}));  // T was an independent: Orderable
  EXPECT_TRUE(state_.options.Equilibration);
  ASSERT_EQ(state_.selection.indep.size(), 2u);
  for (int j = 0; j < 2; ++j)  // T (variable 1) monotone, P still orderable
    EXPECT_EQ(model::engineCode(state_.options.l[j]), state_.selection.indep[j] == 1 ? 3 : 1) << j;
  EXPECT_EQ(state_.options.l[2], model::VarFlag::Monotone);
  EXPECT_TRUE(outputText().contains("Options done:"));

  // Run. P is still orderable, so there is no equilibration, but the
  // dependent is monotone, so there is a prediction.
  QElapsedTimer runTime;
  runTime.start();
  command(QStringLiteral("&Run"));
  std::printf("run: %lld ms\n", static_cast<long long>(runTime.elapsed()));
  EXPECT_EQ(exitStatus_, std::nullopt);

  const QStringList last = lastLines(12);
  ASSERT_FALSE(last.isEmpty());
  EXPECT_EQ(last.last(), " Taveltr.xls is done");
  const QString text = outputText();
  const int finalAt = text.lastIndexOf(QStringLiteral(" FINAL SQUARED CORRELATION ="));
  ASSERT_GE(finalAt, 0);
  const QString finalLine = text.mid(finalAt).section(QLatin1Char('\n'), 0, 0);
  bool numeric = false;
  const double rsq = finalLine.section(QLatin1Char('='), 1).trimmed().toDouble(&numeric);
  ASSERT_TRUE(numeric) << finalLine.toStdString();
  // Rates of an Arrhenius-like law in T and P: ACE explains nearly all.
  EXPECT_GT(rsq, 0.9);
  EXPECT_LE(rsq, 1.0);
  EXPECT_FALSE(text.contains("EQUILIBRATION IS ENABLED"));
  EXPECT_TRUE(text.contains(" Avedev="));
  EXPECT_FALSE(text.contains("Tavelcr.xls"));

  // One window per transformation, the correlation and the prediction.
  QStringList titles = plotTitles();
  titles.sort();
  EXPECT_EQ(titles, QStringList({"Optimal Correlation", "P Optimal Transformation",
                                 "RATE Optimal Transformation", "RATE Predict",
                                 "T Optimal Transformation"}));
  // The windows hold drawn plots, not empty canvases.
  for (int unit = 11; unit <= 15; ++unit) {
    ASSERT_NE(runtime_->canvasOf(unit), nullptr) << unit;
    const QImage picture = runtime_->graphicsWindow(unit)->widget()->grab().toImage();
    EXPECT_FALSE(picture.allGray() &&
                 picture.pixel(picture.width() / 2, picture.height() / 2) == picture.pixel(1, 1))
        << unit;
  }

  EXPECT_TRUE(QFile::exists(work_.filePath(QStringLiteral("Taveltr.xls"))));
  EXPECT_FALSE(QFile::exists(work_.filePath(QStringLiteral("Tavelcr.xls"))));
  const QString log = fileText(QStringLiteral("Tavel.log"));
  EXPECT_TRUE(log.contains("Prepare done:"));
  EXPECT_TRUE(log.contains("Options done:"));
  EXPECT_TRUE(log.contains(finalLine)) << finalLine.toStdString();
  const QStringList sheet = fileText(QStringLiteral("Taveltr.xls")).split('\n', Qt::SkipEmptyParts);
  // N and p, the column titles, then one record per observation.
  ASSERT_EQ(sheet.size(), 2 + 200);
  EXPECT_EQ(sheet[0].simplified(), "200 2");
  EXPECT_TRUE(sheet[1].startsWith(QStringLiteral("P\tP_Tr\t")) ||
              sheet[1].startsWith(QStringLiteral("T\tT_Tr\t")))
      << sheet[1].toStdString();
  for (const QString& record : sheet) EXPECT_TRUE(record.endsWith(QLatin1Char('\t')));

  QTest::qWait(300);  // let every window finish painting
  saveScreenshot(QStringLiteral("tavel-after-run.png"));

  // Windows / Cascade brings the output window and every plot into view.
  menuItem(QStringLiteral("&Windows..."), QStringLiteral("&Cascade"));
  QTest::qWait(300);
  for (QMdiSubWindow* w : runtime_->mdiArea()->subWindowList())
    EXPECT_FALSE(w->isMaximized()) << w->windowTitle().simplified().toStdString();
  saveScreenshot(QStringLiteral("tavel-cascaded.png"));

  // A second run replaces the plot windows and appends its report to the log.
  command(QStringLiteral("&Run"));
  QTest::qWait(100);
  EXPECT_EQ(plotTitles().size(), 5);
  EXPECT_EQ(lastLines(1), QStringList({" Taveltr.xls is done"}));
  EXPECT_EQ(fileText(QStringLiteral("Tavel.log")).count(finalLine), 2);
}

// The example with equilibration, as a user runs it: every variable
// monotone and a logarithmic dependent, so the run opens nine plots besides
// its report. Afterwards the
// report and every plot are in sight, each picture whole; Cascade and Tile
// keep it so.
TEST_F(SmokeTest, AnEquilibratedRunShowsItsReportAndEveryPlot) {
  inputAndPrepare({"T", "P", "_ln_RATE"}, QStringLiteral("_ln_RATE"));
  ASSERT_EQ(state_.selection.p, 2);

  whenDialogShown(QStringLiteral("OPTIONS"), [&](QWidget* modal) {
    auto* list = control<QListWidget>(modal, app::kPrepareVariableList);
    auto* monotone = control<QRadioButton>(modal, app::flagRadio(model::VarFlag::Monotone));
    ASSERT_TRUE(list != nullptr && monotone != nullptr);
    for (const char* v : {"T", "P"}) {
      pickRow(list, QString::fromLatin1(v));
      click(monotone);
    }
    click(control<QCheckBox>(modal, app::kEquilibrationBox));
    // The menu bar does not keep "&Options" highlighted behind its dialog.
    EXPECT_EQ(menuBar()->activeAction(), nullptr);
    shot(QStringLiteral("options"));
    click(control<QPushButton>(modal, app::kOkButton));
  });
  command(QStringLiteral("&Options"));
  ASSERT_TRUE(state_.options.Equilibration);

  command(QStringLiteral("&Run"));
  const QString text = outputText();
  EXPECT_TRUE(text.contains("EQUILIBRATION IS ENABLED"));
  EXPECT_EQ(plotTitles().size(), 9);
  EXPECT_TRUE(runtime_->statusLine().startsWith(QStringLiteral("Run done in ")))
      << runtime_->statusLine().toStdString();
  EXPECT_EQ(runtime_->frame()->windowTitle(), QStringLiteral("reaction_rates.dat - Tavel"));
  // Nine plots do not fit the screen readably: each is a tab, drawn at the
  // size of the whole workspace.
  EXPECT_TRUE(runtime_->tabbedView());
  for (QMdiSubWindow* w : runtime_->mdiArea()->subWindowList()) {
    if (w == runtime_->outputWindow()) continue;
    runtime_->mdiArea()->setActiveSubWindow(w);
    QCoreApplication::processEvents();
    EXPECT_GE(w->widget()->width(), 480) << w->windowTitle().toStdString();
    EXPECT_GE(w->widget()->height(), 360) << w->windowTitle().toStdString();
  }
  shot(QStringLiteral("run-equilibrated"));

  auto expectEveryWindowInSight = [&](bool apart) {
    const QRect area = runtime_->mdiArea()->viewport()->rect();
    const QList<QMdiSubWindow*> windows = runtime_->mdiArea()->subWindowList();
    EXPECT_EQ(windows.size(), 10);
    for (qsizetype i = 0; i < windows.size(); ++i) {
      const QString name = windows[i]->windowTitle().simplified();
      EXPECT_FALSE(windows[i]->isMaximized()) << name.toStdString();
      EXPECT_TRUE(area.contains(windows[i]->geometry())) << name.toStdString();
      for (qsizetype j = 0; apart && j < i; ++j)
        EXPECT_FALSE(windows[i]->geometry().intersects(windows[j]->geometry()))
            << name.toStdString() << " / " << windows[j]->windowTitle().toStdString();
    }
  };

  menuItem(QStringLiteral("&Windows..."), QStringLiteral("&Cascade"));
  EXPECT_FALSE(runtime_->tabbedView());
  expectEveryWindowInSight(false);
  EXPECT_GE(runtime_->outputWindow()->width(), runtime_->mdiArea()->width() / 2);
  shot(QStringLiteral("cascade"));

  // Tiles would be too small to read: tabs again.
  menuItem(QStringLiteral("&Windows..."), QStringLiteral("&Tile"));
  EXPECT_TRUE(runtime_->tabbedView());
}

// Before any data file, Run has nothing to do and says what to do first.
TEST_F(SmokeTest, ARefusedRunSaysWhatToDoFirst) {
  command(QStringLiteral("&Run"));
  EXPECT_EQ(runtime_->statusLine(),
            QStringLiteral("Run refused: load a data file first: File / Input Dat File..."));
  EXPECT_EQ(runtime_->statusStage()->text(), runtime_->statusLine());
  shot(QStringLiteral("refused-run"));
}

TEST_F(SmokeTest, HelpShowsTheGuide) {
  menuItem(QStringLiteral("&Help"), QStringLiteral("Tavel &Help"));
  QWidget* help = runtime_->helpWindow();
  ASSERT_NE(help, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(help, 3000));
  auto* text = help->findChild<QTextBrowser*>(QStringLiteral("helpText"));
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(text->toPlainText().contains(QStringLiteral("Monotone Tr")));
  EXPECT_TRUE(text->toPlainText().contains(QStringLiteral("Taveltr.xls")));
  shot(QStringLiteral("help"));
  help->close();
}

// A file of 300000 rows and its every third row: the transformations have the
// same shape, and the large one says in its legend that it shows a sample.
void writeRows(const QString& path, int rows, int step) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  QByteArray text = "X1 X2 X3 Y\n";
  std::uint32_t seed = 12345;
  auto uniform = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) / 16777216.0;
  };
  for (int i = 0; i < rows; ++i) {
    const double x1 = uniform(), x2 = uniform(), x3 = uniform(), e = uniform() - 0.5;
    if (i % step != 0) continue;
    const double y = x1 + x2 * x2 + 0.03 * x3 + 0.05 * e;
    text += QByteArray::number(x1, 'f', 6) + ' ' + QByteArray::number(x2, 'f', 6) + ' ' +
            QByteArray::number(x3, 'f', 6) + ' ' + QByteArray::number(y, 'f', 6) + '\n';
  }
  f.write(text);
}

class LargeFileTest : public SmokeTest {
 protected:
  void runAndShowX3(const QString& file, int rows, int step) {
    writeRows(work_.filePath(file), 300000, step);
    inputAndPrepare({"X1", "X2", "X3", "Y"}, QStringLiteral("Y"), file);
    ASSERT_EQ(state_.data.nRows, rows);
    command(QStringLiteral("&Run"));
    EXPECT_TRUE(runtime_->statusLine().startsWith(QStringLiteral("Run done in ")));
    QMdiSubWindow* x3 = nullptr;
    for (QMdiSubWindow* w : runtime_->mdiArea()->subWindowList())
      if (w->windowTitle().simplified() == QStringLiteral("X3 Optimal Transformation")) x3 = w;
    ASSERT_NE(x3, nullptr);
    runtime_->mdiArea()->setActiveSubWindow(x3);
    shot(QStringLiteral("x3-%1").arg(rows));
    const QString dir = qEnvironmentVariable("TAVEL_SHOTS_DIR");
    if (!dir.isEmpty())
      x3->widget()->grab().save(QStringLiteral("%1/x3-window-%2.png").arg(dir).arg(rows));
  }
};

TEST_F(LargeFileTest, ThreeHundredThousandRowsArePlottedAsAnEvenSample) {
  runAndShowX3(QStringLiteral("big.dat"), 300000, 1);
}

TEST_F(LargeFileTest, TheirEveryThirdRowPlotsTheSameShape) {
  runAndShowX3(QStringLiteral("subset.dat"), 100000, 3);
}

}  // namespace

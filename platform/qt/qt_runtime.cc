// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/qt_runtime.h"

#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTextCursor>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <thread>

#include "platform/qt/app_icon.h"
#include "platform/qt/graphics_view.h"
#include "platform/qt/gui_dialog.h"
#include "platform/qt/gui_thread.h"
#include "platform/qt/qt_dialog.h"
#include "platform/qt/workspace_layout.h"

namespace tavel::platform::qt {
namespace {

constexpr int kFlushDelayMs = 30;       // output lines are shown in batches
constexpr int kProgressPeriodMs = 100;  // status bar updates while a command runs
constexpr int kCommandNice = 10;        // the worker's scheduling priority
constexpr int kTileDelayMs = 400;       // re-arrangements while a command opens windows
const QSize kPicture(QImageCanvas::kWidth, QImageCanvas::kHeight);

QString toQt(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The frame lets the runtime decide whether a close request ends the program.
class FrameWindow : public QMainWindow {
 public:
  std::function<void(bool&)> onClose;

 protected:
  void closeEvent(QCloseEvent* event) override {
    bool accept = true;
    if (onClose) onClose(accept);
    if (accept) {
      event->accept();
    } else {
      event->ignore();
    }
  }
};

// Refuses to close a window unless allowed: the main output window stays for
// the whole run of the program, and a plot window stays while a command may
// still draw in it.
class CloseGuard : public QObject {
 public:
  CloseGuard(QObject* parent, std::function<bool()> allowed)
      : QObject(parent), allowed_(std::move(allowed)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Close && !allowed_()) {
      event->ignore();
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<bool()> allowed_;
};

// Qt's "Description (patterns)" filter text. A description that already ends
// with the pattern in parentheses is used as it is. "*.*" means every file,
// also those without a dot in their name, as it does on the desktops the
// pattern comes from; Qt would take it literally.
QString nameFilter(const FileFilter& filter) {
  QString description = toQt(filter.description).trimmed();
  QString pattern = toQt(filter.pattern).trimmed();
  static const QRegularExpression trailing(QStringLiteral("\\(([^()]*)\\)\\s*$"));
  const QRegularExpressionMatch m = trailing.match(description);
  const bool described =
      m.hasMatch() && m.captured(1).trimmed().compare(pattern, Qt::CaseInsensitive) == 0;
  if (pattern == QLatin1String("*.*")) {
    pattern = QStringLiteral("*");
    if (described) description = description.left(m.capturedStart(0)).trimmed();
  } else if (described) {
    return description;
  }
  if (pattern.isEmpty()) return description;
  return description + QStringLiteral(" (") + pattern + QStringLiteral(")");
}

// The command yields the processor to the window: on a busy machine the GUI
// thread then still gets its turns. Threads the command starts inherit it.
void lowerPriority() {
#ifdef __linux__
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), kCommandNice);
#endif
}

}  // namespace

template <typename F>
auto QtRuntime::onGui(F&& f) {
  return onThreadOf(frame_.get(), std::forward<F>(f));
}

QtRuntime::QtRuntime() : pictureFolder_(std::make_shared<QString>()) {
  auto* frame = new FrameWindow;
  frame_.reset(frame);
  frame->setWindowTitle(QStringLiteral("Tavel"));
  const QIcon icon = applicationIcon();
  QApplication::setWindowIcon(icon);
  frame->setWindowIcon(icon);
  frame->onClose = [this](bool& accept) { frameCloseRequested(accept); };

  mdi_ = new QMdiArea(frame);
  // Windows are arranged to fit the workspace, so it never needs scrolling
  // (a scrolled workspace would also shift the arrangements).
  mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  frame->setCentralWidget(mdi_);
  QObject::connect(mdi_, &QMdiArea::subWindowActivated, mdi_, [this](QMdiSubWindow* window) {
    for (const auto& [unit, g] : graphics_) {
      if (g.window == window && window != nullptr) {
        activation_.erase(std::remove(activation_.begin(), activation_.end(), unit),
                          activation_.end());
        activation_.push_back(unit);
        break;
      }
    }
  });

  output_ = new QPlainTextEdit;
  output_->setReadOnly(true);
  output_->setUndoRedoEnabled(false);
  output_->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont mono(resolveFontFamily(QStringLiteral("Courier New")));
  if (mono.family().isEmpty()) mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  mono.setStyleHint(QFont::Monospace);
  mono.setPointSize(10);
  output_->setFont(mono);
  // The output window cannot be closed, so it offers no close button.
  outputWindow_ = mdi_->addSubWindow(output_);
  outputWindow_->setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                Qt::WindowMinMaxButtonsHint);
  outputWindow_->setWindowTitle(QStringLiteral("Output"));
  outputWindow_->installEventFilter(new CloseGuard(outputWindow_, [this] { return stopping_; }));
  outputWindow_->resize(760, 420);
  outputWindow_->show();

  stage_ = new QLabel;
  bar_ = new QProgressBar;
  bar_->setFixedWidth(180);
  bar_->setTextVisible(true);
  bar_->hide();
  frame->statusBar()->addWidget(stage_, 1);
  frame->statusBar()->addPermanentWidget(bar_);
  progressTimer_ = new QTimer(frame);
  progressTimer_->setInterval(kProgressPeriodMs);
  QObject::connect(progressTimer_, &QTimer::timeout, frame, [this] { updateProgress(); });

  escape_ = new QShortcut(QKeySequence(Qt::Key_Escape), frame);
  escape_->setContext(Qt::ApplicationShortcut);
  escape_->setEnabled(false);
  QObject::connect(escape_, &QShortcut::activated, frame, [this] { leaveFullScreen(); });

  tileTimer_ = new QTimer(frame);
  tileTimer_->setSingleShot(true);
  tileTimer_->setInterval(kTileDelayMs);
  QObject::connect(tileTimer_, &QTimer::timeout, frame, [this] { tile(); });

  flushTimer_ = new QTimer(frame);
  flushTimer_->setSingleShot(true);
  flushTimer_->setInterval(kFlushDelayMs);
  QObject::connect(flushTimer_, &QTimer::timeout, frame, [this] {
    // Never wait for a command that holds the lines: try again shortly.
    if (!flushOutput(false)) flushTimer_->start();
  });

  QRect area(0, 0, 1024, 768);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect available = screen->availableGeometry();
    area.setSize(QSize(available.width() * 92 / 100, available.height() * 92 / 100));
    area.moveCenter(available.center());
  }
  frame->setGeometry(area);

  exitHandler_ = [](int status) {
    std::fflush(nullptr);
    std::_Exit(status);
  };
}

QtRuntime::~QtRuntime() {
  stopping_ = true;  // let the output window close with the frame
  files_.closeAll();
  frame_.reset();
}

bool QtRuntime::createFrame(std::function<bool()> startupHook) {
  const bool ok = startupHook ? startupHook() : true;
  addWindowActions();
  frame_->show();
  if (!ok) {
    writeLine(kScreenUnit, "The menu bar could not be built.");
    flushOutput();
    QMessageBox::warning(frame_.get(), QStringLiteral("Tavel"),
                         QStringLiteral("The menu bar could not be built."));
  }
  return ok;
}

// ---- menus and built-in actions

bool QtRuntime::appendMenu(int menu, bool enabled, std::string_view text, MenuCallback callback,
                           BuiltinAction action) {
  return onGui([&] {
    const int count = static_cast<int>(menus_.size());
    if (menu < 1 || menu > count + 1) return false;
    const QString label = toQt(text);
    QMenuBar* bar = frame_->menuBar();
    const bool acts = static_cast<bool>(callback) || action != BuiltinAction::None;
    QAction* item = nullptr;
    if (menu == count + 1) {
      MenuSlot slot;
      if (acts) {
        // A title with an action is a command on the menu bar itself.
        slot.command = bar->addAction(label);
        item = slot.command;
      } else {
        slot.menu = bar->addMenu(label);
        slot.menu->menuAction()->setEnabled(enabled);
      }
      menus_.push_back(slot);
    } else {
      MenuSlot& slot = menus_[static_cast<std::size_t>(menu - 1)];
      if (slot.menu == nullptr) return false;  // a command has no drop-down
      item = slot.menu->addAction(label);
      if (action == BuiltinAction::Cascade || action == BuiltinAction::FullScreen)
        windowsMenu_ = slot.menu;
    }
    if (item != nullptr) {
      item->setEnabled(enabled);
      item->setCheckable(action == BuiltinAction::TabbedView);
      if (action == BuiltinAction::TabbedView) tabbedAction_ = item;
      // Menu commands wait for each other: while one runs the others are
      // greyed out rather than ignored when chosen.
      if (action == BuiltinAction::None && callback) commandActions_.push_back(item);
      QObject::connect(item, &QAction::triggered, frame_.get(),
                       [this, callback = std::move(callback), action](bool checked) {
                         trigger(callback, action, checked);
                       });
    }
    return true;
  });
}

// After the program's own entries of its window menu: Tile, and the list of
// open windows (filled each time the menu opens).
void QtRuntime::addWindowActions() {
  if (windowsMenu_ == nullptr || windowListStart_ != nullptr) return;
  windowsMenu_->addSeparator();
  windowsMenu_->addAction(QStringLiteral("&Tile"), frame_.get(), [this] {
    userTabbed_ = false;
    tile();
  });
  windowListStart_ = windowsMenu_->addSeparator();
  QObject::connect(windowsMenu_, &QMenu::aboutToShow, frame_.get(), [this] { listWindows(); });
  listWindows();
}

void QtRuntime::listWindows() {
  const QList<QAction*> actions = windowsMenu_->actions();
  const qsizetype start = actions.indexOf(windowListStart_);
  for (qsizetype i = start + 1; i < actions.size(); ++i) {
    windowsMenu_->removeAction(actions[i]);
    actions[i]->deleteLater();
  }
  int number = 0;
  for (QMdiSubWindow* window : mdi_->subWindowList(QMdiArea::CreationOrder)) {
    if (window->isHidden() && !window->isMinimized()) continue;
    ++number;
    const QString title = window->windowTitle().simplified();
    const QString text = number <= 9 ? QStringLiteral("&%1 %2").arg(number).arg(title)
                                     : QStringLiteral("%1 %2").arg(number).arg(title);
    QAction* item = windowsMenu_->addAction(text);
    item->setCheckable(true);
    item->setChecked(window == mdi_->activeSubWindow());
    QPointer<QMdiSubWindow> target = window;
    QObject::connect(item, &QAction::triggered, frame_.get(), [this, target] {
      if (target.isNull()) return;
      if (target->isMinimized()) target->showNormal();
      mdi_->setActiveSubWindow(target);
      target->raise();
    });
  }
  windowListStart_->setVisible(number > 0);
}

void QtRuntime::trigger(const MenuCallback& callback, BuiltinAction action, bool checked) {
  // A command on the menu bar would otherwise keep its title highlighted
  // while it runs (its dialog takes the mouse away from the bar).
  frame_->menuBar()->setActiveAction(nullptr);
  switch (action) {
    case BuiltinAction::Cascade:
      // Asked for by name: the windows overlap, even where tabs were shown.
      if (tabbedView()) {
        userTabbed_ = false;
        if (tabbedAction_ != nullptr) tabbedAction_->setChecked(false);
        mdi_->setViewMode(QMdiArea::SubWindowView);
      }
      cascade();
      return;
    case BuiltinAction::FullScreen:
      enterFullScreen();
      return;
    case BuiltinAction::About:
      showAbout();
      return;
    case BuiltinAction::TabbedView:
      setTabbedView(checked, true);
      return;
    case BuiltinAction::Help:
      showHelp();
      return;
    case BuiltinAction::None:
      break;
  }
  if (callback) runCommand([&] { callback(checked); });
}

void QtRuntime::runCommand(const std::function<void()>& command) {
  if (busy_ || QThread::currentThread() != frame_->thread()) return;
  busy_ = true;
  windowsChanged_ = false;
  for (QAction* a : commandActions_) a->setEnabled(false);
  {
    std::lock_guard lock(statusMutex_);
    pendingStatus_.clear();
  }
  progress_.start();
  showProgress(true);
  QString failure;
  bool outOfMemory = false;
  QEventLoop loop;
  std::thread worker([&] {
    lowerPriority();
    try {
      command();
    } catch (const std::bad_alloc&) {
      outOfMemory = true;
    } catch (const std::exception& e) {
      failure = QString::fromUtf8(e.what());
      if (failure.isEmpty()) failure = QStringLiteral("unknown error");
    } catch (...) {
      failure = QStringLiteral("unknown error");
    }
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  busy_ = false;
  for (QAction* a : commandActions_) a->setEnabled(true);
  showProgress(false);
  {
    std::lock_guard lock(statusMutex_);
    status_ = pendingStatus_;
  }
  stage_->setText(status_);
  flushOutput();
  tileTimer_->stop();
  if (windowsChanged_) tile();
  // A command that ended half way leaves its outputs incomplete: the files
  // it was replacing keep their earlier content.
  if (outOfMemory || !failure.isEmpty()) files_.abandonReplacing();
  if (outOfMemory) {
    // The data or the analysis was too large; the program and what it
    // holds stay usable, so it goes on.
    writeLine(kScreenUnit,
              " error: not enough memory for this command; it was stopped, and the files it "
              "was writing were left as they were");
    flushOutput();
  }
  if (!failure.isEmpty()) {
    stop(QStringLiteral("The program stopped after an error: %1").arg(failure).toStdString());
    return;
  }
  if (quitAfterCommand_) {
    quitAfterCommand_ = false;
    frame_->close();
  }
}

void QtRuntime::showProgress(bool running) {
  if (running) {
    stage_->setText(QStringLiteral("Working"));
    bar_->setRange(0, 0);  // busy until a fraction is known
    bar_->show();
    progressTimer_->start();
  } else {
    progressTimer_->stop();
    bar_->hide();
    stage_->clear();
  }
}

void QtRuntime::updateProgress() {
  // While a dialog waits for the user, nothing is in progress.
  const bool waiting = QApplication::activeModalWidget() != nullptr;
  bar_->setVisible(!waiting);
  if (waiting) {
    stage_->clear();
    return;
  }
  CommandProgress::Snapshot now;
  if (!progress_.trySnapshot(now)) return;  // next time
  stage_->setText(QStringLiteral("%1   (%2 s)")
                      .arg(QString::fromStdString(now.stage))
                      .arg(now.elapsedMs / 1000));
  if (now.fraction >= 0) {
    bar_->setRange(0, 1000);
    bar_->setFormat(QStringLiteral("%p%"));
    bar_->setValue(static_cast<int>(now.fraction * 1000));
  } else {
    bar_->setRange(0, 0);
  }
}

void QtRuntime::setAboutText(std::string_view text) {
  onGui([&] { aboutText_ = toQt(text); });
}

void QtRuntime::setHelpText(std::string_view markdown) {
  onGui([&] { helpText_ = toQt(markdown); });
}

void QtRuntime::showStatus(std::string_view line) {
  const QString text = toQt(line);
  {
    std::lock_guard lock(statusMutex_);
    pendingStatus_ = text;
  }
  // Outside a command the line shows at once.
  if (!busy_) {
    onGui([&] {
      status_ = text;
      stage_->setText(status_);
    });
  }
}

void QtRuntime::setDocumentName(std::string_view name) {
  onGui([&] {
    const QString file = toQt(name).trimmed();
    frame_->setWindowTitle(file.isEmpty() ? QStringLiteral("Tavel")
                                          : file + QStringLiteral(" - Tavel"));
  });
}

void QtRuntime::showHelp() {
  if (help_.isNull()) {
    auto* window = new QWidget(frame_.get(), Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QStringLiteral("Tavel Help"));
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* text = new QTextBrowser(window);
    text->setObjectName(QStringLiteral("helpText"));
    text->setOpenExternalLinks(false);
    text->setMarkdown(helpText_);
    layout->addWidget(text);
    // Most of a small screen, a comfortable page on a large one.
    const QRect screen = frame_->screen() != nullptr ? frame_->screen()->availableGeometry()
                                                     : QRect(0, 0, 1024, 768);
    window->resize(std::min(760, screen.width() * 9 / 10), std::min(820, screen.height() * 9 / 10));
    help_ = window;
  }
  help_->show();
  help_->raise();
  help_->activateWindow();
}

void QtRuntime::showAbout() {
  QString text = aboutText_;
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  QMessageBox box(frame_.get());
  box.setWindowTitle(QStringLiteral("About Tavel"));
  box.setTextFormat(Qt::PlainText);
  box.setText(text);
  box.setIconPixmap(applicationIcon().pixmap(64, 64));
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
}

// ---- window arrangements

// What a sub-window adds around its contents (frame and title bar).
QSize QtRuntime::decorations() const {
  for (QMdiSubWindow* w : mdi_->subWindowList()) {
    if (w->isVisible() && !w->isMaximized() && !w->isMinimized() && w->widget() != nullptr) {
      const QSize extra = w->size() - w->contentsRect().size();
      if (extra.width() > 0 && extra.height() > 0) return extra;
    }
  }
  return QSize(8, 30);
}

std::vector<QMdiSubWindow*> QtRuntime::plotWindows() const {
  std::vector<QMdiSubWindow*> windows;
  for (const auto& [unit, g] : graphics_)
    if (!g.window.isNull() && !g.window->isHidden()) windows.push_back(g.window.data());
  return windows;
}

// Arrangements place windows by hand; a maximised window would otherwise
// make every new one maximised too, hiding the report.
void QtRuntime::restoreMaximised() {
  // Tabs show every window maximised, and so they stay.
  if (fullScreen_ || tabbedView()) return;
  for (QMdiSubWindow* w : mdi_->subWindowList())
    if (w->isMaximized()) w->showNormal();
  mdi_->horizontalScrollBar()->setValue(0);
  mdi_->verticalScrollBar()->setValue(0);
}

bool QtRuntime::tabbedView() const { return mdi_->viewMode() == QMdiArea::TabbedView; }

void QtRuntime::setTabbedView(bool on, bool byUser) {
  if (fullScreen_) return;
  if (byUser) userTabbed_ = on;
  if (tabbedAction_ != nullptr) tabbedAction_->setChecked(on);
  if (on == tabbedView()) return;
  if (on) {
    mdi_->setViewMode(QMdiArea::TabbedView);
    mdi_->setTabsMovable(true);
    mdi_->setDocumentMode(true);
    return;
  }
  mdi_->setViewMode(QMdiArea::SubWindowView);
  // Side by side where every plot stays readable, else overlapping.
  if (!tile(false)) cascade();
}

bool QtRuntime::tile(bool mayTab) {
  if (fullScreen_) return true;
  forgetClosedWindows();
  const QSize extra = tabbedView() ? QSize(8, 30) : decorations();
  const int minOutput = output_->fontMetrics().lineSpacing() * 8 + extra.height();
  const std::vector<QMdiSubWindow*> plots = plotWindows();
  const QRect area = mdi_->viewport()->rect();
  const TileLayout layout =
      tileLayout(area, static_cast<int>(plots.size()), kPicture, extra, minOutput);
  // Tiles too small to read become tabs, each plot as large as the
  // workspace; the Windows menu's "Tabbed View" turns them back.
  if (!plotsReadable(layout, extra)) {
    if (mayTab && !tabbedView()) setTabbedView(true, false);
    return false;
  }
  if (tabbedView()) {
    if (userTabbed_) return true;
    setTabbedView(false, false);
  }
  restoreMaximised();
  if (outputWindow_->isMinimized()) outputWindow_->showNormal();
  outputWindow_->setGeometry(layout.output);
  for (std::size_t k = 0; k < plots.size(); ++k) plots[k]->setGeometry(layout.plots[k]);
  return true;
}

void QtRuntime::cascade() {
  if (fullScreen_ || tabbedView()) return;
  forgetClosedWindows();
  restoreMaximised();
  // In their stacking order, so the window on top stays on top.
  std::vector<QMdiSubWindow*> windows;
  for (QMdiSubWindow* w : mdi_->subWindowList(QMdiArea::StackingOrder))
    if (!w->isHidden()) windows.push_back(w);
  const QSize extra = decorations();
  const std::vector<QRect> rects =
      cascadeLayout(mdi_->viewport()->rect(), static_cast<int>(windows.size()),
                    extra.height() - extra.width() / 2);
  for (std::size_t k = 0; k < windows.size(); ++k) {
    QRect r = rects[k];
    // A plot larger than its picture would only add margins.
    if (windows[k] != outputWindow_) r.setSize(r.size().boundedTo(kPicture + extra));
    windows[k]->setGeometry(r);
    windows[k]->raise();
  }
  if (!windows.empty()) mdi_->setActiveSubWindow(windows.back());
}

void QtRuntime::enterFullScreen() {
  if (fullScreen_) return;
  QMdiSubWindow* child = mdi_->activeSubWindow();
  if (child == nullptr) child = outputWindow_;
  fullScreenChild_ = child;
  childWasMaximised_ = child->isMaximized();
  frameWasMaximised_ = frame_->isMaximized();
  frame_->menuBar()->hide();
  frame_->statusBar()->hide();
  child->showMaximized();
  frame_->showFullScreen();
  escape_->setEnabled(true);
  fullScreen_ = true;
}

void QtRuntime::leaveFullScreen() {
  if (!fullScreen_) return;
  fullScreen_ = false;
  escape_->setEnabled(false);
  frame_->menuBar()->show();
  frame_->statusBar()->show();
  if (fullScreenChild_ && !childWasMaximised_) fullScreenChild_->showNormal();
  if (frameWasMaximised_) {
    frame_->showMaximized();
  } else {
    frame_->showNormal();
  }
}

void QtRuntime::frameCloseRequested(bool& accept) {
  if (stopping_) return;
  if (busy_) {
    // A command is running: end once it is done.
    quitAfterCommand_ = true;
    accept = false;
    return;
  }
  stopping_ = true;
  closeAllUnits();
  accept = true;
}

void QtRuntime::stop(std::string_view message) {
  onGui([&] {
    stopping_ = true;
    flushOutput();
    QMessageBox box(QMessageBox::Information, QStringLiteral("Tavel"), toQt(message),
                    QMessageBox::Ok, frame_.get());
    box.setTextFormat(Qt::PlainText);
    box.exec();
    closeAllUnits();
    frame_->hide();
    exitHandler_(0);
    stopping_ = false;  // only reached when the exit handler returns (tests)
  });
}

// ---- geometry

QWidget* QtRuntime::geometryWidget(int unit) const {
  if (unit == kFrameUnit) return frame_.get();
  if (unit == kScreenUnit) return outputWindow_;
  return graphicsWindow(unit);
}

bool QtRuntime::getGeometry(int unit, Geometry& geometry) {
  return onGui([&] {
    const QWidget* w = geometryWidget(unit);
    if (w == nullptr) return false;
    const QRect r = w->geometry();
    geometry = Geometry{r.x(), r.y(), r.width(), r.height()};
    return true;
  });
}

bool QtRuntime::applyGeometry(int unit, const Geometry& geometry, GeometryRequest request) {
  return onGui([&] {
    QWidget* w = geometryWidget(unit);
    if (w == nullptr) return false;
    switch (request) {
      case GeometryRequest::Minimise:
        w->showMinimized();
        break;
      case GeometryRequest::Maximise:
        w->showMaximized();
        break;
      case GeometryRequest::Restore:
        w->showNormal();
        break;
      case GeometryRequest::SetPositionSize:
        w->showNormal();
        if (geometry.width > 0 && geometry.height > 0) {
          w->setGeometry(geometry.x, geometry.y, geometry.width, geometry.height);
        } else {
          w->move(geometry.x, geometry.y);
        }
        break;
      default:
        return false;
    }
    return true;
  });
}

// ---- open-file dialog and dialogs

bool QtRuntime::openFileDialog(std::string_view title, const std::vector<FileFilter>& filters,
                               std::string& name) {
  return fileDialog(title, filters, name, true);
}

bool QtRuntime::saveFileDialog(std::string_view title, const std::vector<FileFilter>& filters,
                               std::string& name) {
  return fileDialog(title, filters, name, false);
}

bool QtRuntime::fileDialog(std::string_view title, const std::vector<FileFilter>& filters,
                           std::string& name, bool existing) {
  return onGui([&] {
    flushOutput();
    QFileDialog dialog(frame_.get(), toQt(title), QDir::currentPath());
    // Qt's own dialog: the same on every desktop, and it works under Xvfb.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(existing ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(existing ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    QStringList names;
    for (const FileFilter& f : filters) names << nameFilter(f);
    if (!names.isEmpty()) dialog.setNameFilters(names);
    const QString initial = toQt(name).trimmed();
    if (!initial.isEmpty()) dialog.selectFile(initial);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    name = dialog.selectedFiles().first().toStdString();
    return true;
  });
}

void QtRuntime::addDialogResource(const DialogResource& resource) {
  onGui([&] { resources_[resource.id] = resource; });
}

std::unique_ptr<Dialog> QtRuntime::initDialog(int resourceId) {
  return onGui([&]() -> std::unique_ptr<Dialog> {
    auto it = resources_.find(resourceId);
    if (it == resources_.end()) return nullptr;
    return std::make_unique<GuiDialog>(
        frame_.get(),
        std::make_unique<QtDialog>(it->second, frame_.get(), [this] { flushOutput(); }));
  });
}

// ---- units
// A unit is a file or a graphics window, never both; file units are served
// on the caller's thread, windows on the GUI thread.

bool QtRuntime::openFile(int unit, std::string_view fileName, bool append) {
  if (unit == kScreenUnit || unit == kFrameUnit) return false;
  close(unit);
  if (!files_.open(unit, fileName, append)) return false;
  progress_.fileOpened(unit, files_.resolve(fileName), false);
  return true;
}

bool QtRuntime::openFileForReading(int unit, std::string_view fileName) {
  if (unit == kScreenUnit || unit == kFrameUnit) return false;
  close(unit);
  if (!files_.openForReading(unit, fileName)) return false;
  progress_.fileOpened(unit, files_.resolve(fileName), false);
  return true;
}

bool QtRuntime::openFileReplacing(int unit, std::string_view fileName) {
  if (unit == kScreenUnit || unit == kFrameUnit) return false;
  close(unit);
  if (!files_.openReplacing(unit, fileName)) return false;
  progress_.fileOpened(unit, files_.resolve(fileName), true);
  return true;
}

bool QtRuntime::openGraphics(int unit, std::string_view title) {
  if (unit == kScreenUnit || unit == kFrameUnit) return false;
  close(unit);
  progress_.plotOpened(title);
  return onGui([&] { return openGraphicsWindow(unit, title); });
}

bool QtRuntime::openGraphicsWindow(int unit, std::string_view title) {
  flushOutput();  // the lines written before the window come before it
  auto* view = new GraphicsView;
  view->setSavingAllowed([this] { return !busy_; });
  view->setPictureFolder(pictureFolder_);
  QMdiSubWindow* window = mdi_->addSubWindow(view);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->installEventFilter(new CloseGuard(window, [this] { return !busy_ || stopping_; }));
  // Titles are built from blank-padded names; the padding is not shown.
  QString shown = toQt(title).simplified();
  if (shown.isEmpty()) shown = QStringLiteral("Graphic %1").arg(unit);
  window->setWindowTitle(shown);
  graphics_[unit] = GraphicsUnit{window, view};
  windowsChanged_ = true;
  restoreMaximised();
  window->show();
  mdi_->setActiveSubWindow(window);
  // The activation may have been reported for another window first.
  activation_.erase(std::remove(activation_.begin(), activation_.end(), unit), activation_.end());
  activation_.push_back(unit);
  // Every window re-arranged repaints its scaled picture: while a command
  // opens one window after another, arrange them a few times a second.
  if (!busy_) {
    tile();
  } else if (!tileTimer_->isActive()) {
    tileTimer_->start();
  }
  return true;
}

void QtRuntime::forgetClosedWindows() {
  for (auto it = graphics_.begin(); it != graphics_.end();) {
    // A window the user closed is hidden at once and deleted a moment later.
    if (it->second.view.isNull() || it->second.window.isNull() || it->second.window->isHidden()) {
      const int unit = it->first;
      activation_.erase(std::remove(activation_.begin(), activation_.end(), unit),
                        activation_.end());
      it = graphics_.erase(it);
    } else {
      ++it;
    }
  }
}

void QtRuntime::closeGraphics(int unit) {
  auto it = graphics_.find(unit);
  if (it == graphics_.end()) return;
  QPointer<QMdiSubWindow> window = it->second.window;
  graphics_.erase(it);
  activation_.erase(std::remove(activation_.begin(), activation_.end(), unit), activation_.end());
  windowsChanged_ = true;
  delete window.data();
}

void QtRuntime::close(int unit) { closeChecked(unit); }

bool QtRuntime::closeChecked(int unit) {
  if (unit == kScreenUnit) return true;
  if (files_.isOpen(unit)) {
    progress_.fileClosed(unit);
    return files_.closeChecked(unit);
  }
  onGui([&] {
    forgetClosedWindows();
    closeGraphics(unit);
  });
  return true;
}

void QtRuntime::closeAllUnits() {
  files_.closeAll();
  forgetClosedWindows();
  while (!graphics_.empty()) closeGraphics(graphics_.begin()->first);
}

bool QtRuntime::isOpen(int unit) {
  if (unit == kScreenUnit || files_.isOpen(unit)) return true;
  return onGui([&] { return viewOf(unit) != nullptr; });
}

bool QtRuntime::rewind(int unit) {
  progress_.rewound(unit);
  return files_.rewind(unit);
}

ReadResult QtRuntime::readLine(int unit, std::string& line) {
  const ReadResult result = files_.readLine(unit, line);
  if (result == ReadResult::Success) {
    progress_.lineRead(unit, line.size() + 1);  // with its line end
  } else if (result == ReadResult::EndOfFile) {
    progress_.endOfFile(unit);
  }
  return result;
}

ReadResult QtRuntime::readPiece(int unit, std::string& piece, std::size_t maxChars,
                                bool& lineEnded) {
  const ReadResult result = files_.readPiece(unit, piece, maxChars, lineEnded);
  if (result == ReadResult::Success) {
    if (lineEnded || !piece.empty()) progress_.lineRead(unit, piece.size() + (lineEnded ? 1 : 0));
  } else if (result == ReadResult::EndOfFile) {
    progress_.endOfFile(unit);
  }
  return result;
}

bool QtRuntime::writeLine(int unit, std::string_view line) {
  if (unit == kScreenUnit) {
    progress_.screenLine(line);
    {
      std::lock_guard lock(outputMutex_);
      pending_ << toQt(line);
    }
    scheduleFlush();
    return true;
  }
  // Graphics windows take no text lines; only files do.
  if (!files_.isOpen(unit)) return false;
  progress_.lineWritten(unit);
  return files_.writeLine(unit, line);
}

bool QtRuntime::flush(int unit) {
  if (unit == kScreenUnit) {
    onGui([this] { flushOutput(); });
    return true;
  }
  if (!files_.isOpen(unit)) return true;  // a graphics window, or nothing
  return files_.flush(unit);
}

void QtRuntime::scheduleFlush() {
  if (QThread::currentThread() == frame_->thread()) {
    if (!flushTimer_->isActive()) flushTimer_->start();
    return;
  }
  if (flushPosted_.exchange(true)) return;
  QMetaObject::invokeMethod(
      frame_.get(),
      [this] {
        flushPosted_ = false;
        if (!flushTimer_->isActive()) flushTimer_->start();
      },
      Qt::QueuedConnection);
}

void QtRuntime::flushOutput() { flushOutput(true); }

bool QtRuntime::flushOutput(bool wait) {
  QStringList lines;
  {
    std::unique_lock lock(outputMutex_, std::defer_lock);
    if (wait) {
      lock.lock();
    } else if (!lock.try_lock()) {
      return false;
    }
    lines.swap(pending_);
  }
  if (lines.isEmpty()) return true;
  QString text = lines.join(QLatin1Char('\n'));
  // One insertion per batch keeps long outputs fast; a fresh document's
  // first block takes the first line.
  QTextCursor cursor(output_->document());
  cursor.movePosition(QTextCursor::End);
  if (outputHasLines_) text.prepend(QLatin1Char('\n'));
  cursor.insertText(text);
  outputHasLines_ = true;
  QScrollBar* bar = output_->verticalScrollBar();
  bar->setValue(bar->maximum());
  return true;
}

void QtRuntime::clearFocusedWindow() {
  progress_.reportStarted();
  onGui([this] {
    {
      std::lock_guard lock(outputMutex_);
      pending_.clear();
    }
    output_->clear();
    outputHasLines_ = false;
  });
}

// ---- graphics

GraphicsView* QtRuntime::viewOf(int unit) const {
  auto it = graphics_.find(unit);
  if (it == graphics_.end() || it->second.window.isNull() || it->second.window->isHidden())
    return nullptr;
  return it->second.view.data();
}

QMdiSubWindow* QtRuntime::graphicsWindow(int unit) const {
  auto it = graphics_.find(unit);
  if (it == graphics_.end()) return nullptr;
  return it->second.window.data();
}

QImageCanvas* QtRuntime::canvasOf(int unit) const {
  GraphicsView* view = viewOf(unit);
  return view != nullptr ? &view->canvas() : nullptr;
}

int QtRuntime::activeGraphicsUnit() const {
  for (auto it = activation_.rbegin(); it != activation_.rend(); ++it)
    if (viewOf(*it) != nullptr) return *it;
  return kScreenUnit;
}

Canvas* QtRuntime::activeCanvas() {
  return onGui([this]() -> Canvas* {
    forgetClosedWindows();
    const int unit = activeGraphicsUnit();
    return unit == kScreenUnit ? nullptr : canvasOf(unit);
  });
}

void QtRuntime::setActiveWindowRedraw(Redraw redraw) {
  onGui([&] {
    forgetClosedWindows();
    const int unit = activeGraphicsUnit();
    if (GraphicsView* view = viewOf(unit)) view->setRedraw(std::move(redraw));
  });
}

int QtRuntime::saveImage(std::string_view fileName, int x1, int y1, int x2, int y2) {
  // The canvas is written on the caller's thread; it guards its own pixels.
  Canvas* canvas = activeCanvas();
  if (canvas == nullptr) return -1;
  return canvas->saveImage(files_.resolve(fileName), x1, y1, x2, y2);
}

}  // namespace tavel::platform::qt

#include "platform/qt/qt_runtime.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QInputEvent>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "platform/qt/graphics_view.h"
#include "platform/qt/qt_dialog.h"

namespace tavel::platform::qt {
namespace {

constexpr int kPumpIntervalMs = 50;

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

// Refuses to close a window (the main output window stays for the whole run
// of the program) unless allowed.
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
// with the pattern in parentheses is used as it is.
QString nameFilter(const FileFilter& filter) {
  const QString description = toQt(filter.description).trimmed();
  const QString pattern = toQt(filter.pattern).trimmed();
  static const QRegularExpression trailing(QStringLiteral("\\(([^()]*)\\)\\s*$"));
  const QRegularExpressionMatch m = trailing.match(description);
  if (m.hasMatch() && m.captured(1).trimmed().compare(pattern, Qt::CaseInsensitive) == 0)
    return description;
  if (pattern.isEmpty()) return description;
  return description + QStringLiteral(" (") + pattern + QStringLiteral(")");
}

bool isUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
      return true;
    default:
      return false;
  }
}

}  // namespace

// Drops the user input that piled up while a command ran, so a click on
// "&Run" made during a run does not start a second one afterwards. Input is
// told apart by its time stamp (the window system's clock, in ms): what was
// made between the start and the end of a command is stale, whenever it
// arrives.
class QtRuntime::InputGate : public QObject {
 public:
  quint64 lastStamp = 0;  // the latest user input seen
  quint64 staleFrom = 0;  // [staleFrom, staleUntil): made during a command
  quint64 staleUntil = 0;

  void commandStarted() {
    commandStart_ = lastStamp;
    clock_.start();
  }
  void commandEnded() {
    if (commandStart_ == 0) return;  // no input seen yet: no clock to compare with
    staleFrom = commandStart_;
    staleUntil = commandStart_ + static_cast<quint64>(clock_.elapsed()) + 1;
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (isUserInput(event->type())) {
      if (const auto* input = dynamic_cast<const QInputEvent*>(event)) {
        const quint64 stamp = input->timestamp();
        if (stamp != 0) {
          if (stamp > staleFrom && stamp < staleUntil) return true;
          lastStamp = std::max(lastStamp, stamp);
        }
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  quint64 commandStart_ = 0;
  QElapsedTimer clock_;
};

QtRuntime::QtRuntime() : gate_(std::make_unique<InputGate>()) {
  auto* frame = new FrameWindow;
  frame_.reset(frame);
  frame->setWindowTitle(QStringLiteral("Tavel"));
  frame->onClose = [this](bool& accept) { frameCloseRequested(accept); };

  mdi_ = new QMdiArea(frame);
  mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
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
  outputWindow_ = mdi_->addSubWindow(output_);
  outputWindow_->setWindowTitle(QStringLiteral("Output"));
  outputWindow_->installEventFilter(new CloseGuard(outputWindow_, [this] { return stopping_; }));
  outputWindow_->resize(760, 420);
  outputWindow_->show();

  escape_ = new QShortcut(QKeySequence(Qt::Key_Escape), frame);
  escape_->setContext(Qt::ApplicationShortcut);
  escape_->setEnabled(false);
  QObject::connect(escape_, &QShortcut::activated, frame, [this] { leaveFullScreen(); });

  flushTimer_ = new QTimer(frame);
  flushTimer_->setSingleShot(true);
  flushTimer_->setInterval(0);
  QObject::connect(flushTimer_, &QTimer::timeout, frame, [this] { flushOutput(); });

  qApp->installEventFilter(gate_.get());

  QRect area(0, 0, 1024, 768);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect available = screen->availableGeometry();
    area.setSize(QSize(std::min(1100, available.width() * 9 / 10),
                       std::min(850, available.height() * 9 / 10)));
    area.moveCenter(available.center());
  }
  frame->setGeometry(area);

  exitHandler_ = [](int status) {
    std::fflush(nullptr);
    std::_Exit(status);
  };
}

QtRuntime::~QtRuntime() {
  if (qApp != nullptr) qApp->removeEventFilter(gate_.get());
  stopping_ = true;  // let the output window close with the frame
  files_.closeAll();
  frame_.reset();
}

bool QtRuntime::createFrame(std::function<bool()> startupHook) {
  const bool ok = startupHook ? startupHook() : true;
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
  }
  if (item != nullptr) {
    item->setEnabled(enabled);
    item->setCheckable(false);
    QObject::connect(item, &QAction::triggered, frame_.get(),
                     [this, callback = std::move(callback), action](bool checked) {
                       trigger(callback, action, checked);
                     });
  }
  return true;
}

void QtRuntime::trigger(const MenuCallback& callback, BuiltinAction action, bool checked) {
  if (busy_) return;
  switch (action) {
    case BuiltinAction::Cascade:
      cascade();
      return;
    case BuiltinAction::FullScreen:
      enterFullScreen();
      return;
    case BuiltinAction::About:
      showAbout();
      return;
    case BuiltinAction::None:
      break;
  }
  if (callback) runCommand([&] { callback(checked); });
}

void QtRuntime::runCommand(const std::function<void()>& command) {
  if (busy_) return;
  busy_ = true;
  gate_->commandStarted();
  pumpClock_.start();
  QString failure;
  try {
    command();
  } catch (const std::exception& e) {
    failure = QString::fromUtf8(e.what());
    if (failure.isEmpty()) failure = QStringLiteral("unknown error");
  } catch (...) {
    failure = QStringLiteral("unknown error");
  }
  busy_ = false;
  flushOutput();
  gate_->commandEnded();
  if (!failure.isEmpty()) {
    stop(QStringLiteral("The program stopped after an error: %1").arg(failure).toStdString());
    return;
  }
  if (quitAfterCommand_) {
    quitAfterCommand_ = false;
    frame_->close();
  }
}

void QtRuntime::setAboutText(std::string_view text) { aboutText_ = toQt(text); }

void QtRuntime::showAbout() {
  QString text = aboutText_;
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  QMessageBox box(frame_.get());
  box.setWindowTitle(QStringLiteral("About Tavel"));
  box.setTextFormat(Qt::PlainText);
  box.setText(text);
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
}

void QtRuntime::cascade() {
  mdi_->cascadeSubWindows();
  // The cascade leaves every window at a small default size; grow each plot
  // window, as far as the frame has room, so its whole picture shows.
  const QSize area = mdi_->viewport()->size();
  for (auto& [unit, g] : graphics_) {
    if (g.window == nullptr || g.view == nullptr) continue;
    auto* scroller = qobject_cast<QScrollArea*>(g.window->widget());
    if (scroller == nullptr) continue;
    const QSize missing = (g.view->size() - scroller->viewport()->size()).expandedTo(QSize(0, 0));
    QSize wanted = g.window->size() + missing;
    const QPoint at = g.window->pos();
    wanted = wanted.boundedTo(QSize(area.width() - at.x(), area.height() - at.y()));
    if (wanted.isValid()) g.window->resize(wanted.expandedTo(g.window->size()));
  }
}

void QtRuntime::enterFullScreen() {
  if (fullScreen_) return;
  QMdiSubWindow* child = mdi_->activeSubWindow();
  if (child == nullptr) child = outputWindow_;
  fullScreenChild_ = child;
  childWasMaximised_ = child->isMaximized();
  frameWasMaximised_ = frame_->isMaximized();
  frame_->menuBar()->hide();
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
  stopping_ = true;
  flushOutput();
  QMessageBox box(QMessageBox::Information, QStringLiteral("Tavel"), toQt(message), QMessageBox::Ok,
                  frame_.get());
  box.setTextFormat(Qt::PlainText);
  box.exec();
  closeAllUnits();
  frame_->hide();
  exitHandler_(0);
  stopping_ = false;  // only reached when the exit handler returns (tests)
}

// ---- geometry

bool QtRuntime::getGeometry(int unit, Geometry& geometry) {
  QWidget* w = nullptr;
  if (unit == kFrameUnit) {
    w = frame_.get();
  } else if (unit == kScreenUnit) {
    w = outputWindow_;
  } else {
    w = graphicsWindow(unit);
  }
  if (w == nullptr) return false;
  const QRect r = w->geometry();
  geometry = Geometry{r.x(), r.y(), r.width(), r.height()};
  return true;
}

bool QtRuntime::applyGeometry(int unit, const Geometry& geometry, GeometryRequest request) {
  QWidget* w = nullptr;
  if (unit == kFrameUnit) {
    w = frame_.get();
  } else if (unit == kScreenUnit) {
    w = outputWindow_;
  } else {
    w = graphicsWindow(unit);
  }
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
}

// ---- open-file dialog and dialogs

bool QtRuntime::openFileDialog(std::string_view title, const std::vector<FileFilter>& filters,
                               std::string& name) {
  flushOutput();
  QFileDialog dialog(frame_.get(), toQt(title), QDir::currentPath());
  // Qt's own dialog: the same on every desktop, and it works under Xvfb.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  QStringList names;
  for (const FileFilter& f : filters) names << nameFilter(f);
  if (!names.isEmpty()) dialog.setNameFilters(names);
  const QString initial = toQt(name).trimmed();
  if (!initial.isEmpty()) dialog.selectFile(initial);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  name = dialog.selectedFiles().first().toStdString();
  return true;
}

bool QtRuntime::saveFileDialog(std::string_view title, const std::vector<FileFilter>& filters,
                               std::string& name) {
  flushOutput();
  QFileDialog dialog(frame_.get(), toQt(title), QDir::currentPath());
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  QStringList names;
  for (const FileFilter& f : filters) names << nameFilter(f);
  if (!names.isEmpty()) dialog.setNameFilters(names);
  const QString initial = toQt(name).trimmed();
  if (!initial.isEmpty()) dialog.selectFile(initial);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  name = dialog.selectedFiles().first().toStdString();
  return true;
}

void QtRuntime::addDialogResource(const DialogResource& resource) {
  resources_[resource.id] = resource;
}

std::unique_ptr<Dialog> QtRuntime::initDialog(int resourceId) {
  auto it = resources_.find(resourceId);
  if (it == resources_.end()) return nullptr;
  return std::make_unique<QtDialog>(it->second, frame_.get(), [this] { flushOutput(); });
}

// ---- units

bool QtRuntime::openFile(int unit, std::string_view fileName, bool append) {
  if (unit == kScreenUnit || unit == kFrameUnit) return false;
  close(unit);
  return files_.open(unit, fileName, append);
}

bool QtRuntime::openFileForReading(int unit, std::string_view fileName) {
  if (unit == kScreenUnit || unit == kFrameUnit) return false;
  close(unit);
  return files_.openForReading(unit, fileName);
}

bool QtRuntime::openFileReplacing(int unit, std::string_view fileName) {
  if (unit == kScreenUnit || unit == kFrameUnit) return false;
  close(unit);
  return files_.openReplacing(unit, fileName);
}

bool QtRuntime::openGraphics(int unit, std::string_view title) {
  if (unit == kScreenUnit || unit == kFrameUnit) return false;
  close(unit);
  auto* view = new GraphicsView;
  view->setChangedHook([this] { keepResponsive(); });
  view->setSavingAllowed([this] { return !busy_; });
  auto* scroller = new QScrollArea;
  scroller->setWidget(view);
  scroller->setAlignment(Qt::AlignCenter);
  scroller->setBackgroundRole(QPalette::Dark);
  QMdiSubWindow* window = mdi_->addSubWindow(scroller);
  window->setAttribute(Qt::WA_DeleteOnClose);
  QString shown = toQt(title).trimmed();
  if (shown.isEmpty()) shown = QStringLiteral("Graphic %1").arg(unit);
  window->setWindowTitle(shown);
  graphics_[unit] = GraphicsUnit{window, view};
  activation_.push_back(unit);
  window->show();
  // Large enough to show the whole picture when the frame has room.
  const QSize missing = view->size() - scroller->viewport()->size();
  if (!window->isMaximized() && (missing.width() > 0 || missing.height() > 0))
    window->resize(window->size() + missing.expandedTo(QSize(0, 0)));
  mdi_->setActiveSubWindow(window);
  // The activation may have been reported for another window first.
  activation_.erase(std::remove(activation_.begin(), activation_.end(), unit), activation_.end());
  activation_.push_back(unit);
  keepResponsive();
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
  delete window.data();
}

void QtRuntime::close(int unit) { closeChecked(unit); }

bool QtRuntime::closeChecked(int unit) {
  forgetClosedWindows();
  if (graphics_.count(unit) != 0) {
    closeGraphics(unit);
    return true;
  }
  if (unit == kScreenUnit) return true;
  return files_.closeChecked(unit);
}

void QtRuntime::closeAllUnits() {
  files_.closeAll();
  forgetClosedWindows();
  while (!graphics_.empty()) closeGraphics(graphics_.begin()->first);
}

bool QtRuntime::isOpen(int unit) {
  if (unit == kScreenUnit) return true;
  return viewOf(unit) != nullptr || files_.isOpen(unit);
}

bool QtRuntime::rewind(int unit) { return files_.rewind(unit); }

ReadResult QtRuntime::readLine(int unit, std::string& line) { return files_.readLine(unit, line); }

ReadResult QtRuntime::readPiece(int unit, std::string& piece, std::size_t maxChars,
                                bool& lineEnded) {
  return files_.readPiece(unit, piece, maxChars, lineEnded);
}

bool QtRuntime::writeLine(int unit, std::string_view line) {
  if (unit == kScreenUnit) {
    pending_ << toQt(line);
    if (!flushTimer_->isActive()) flushTimer_->start();
    keepResponsive();
    return true;
  }
  if (viewOf(unit) != nullptr) return false;  // graphics windows take no text lines
  return files_.writeLine(unit, line);
}

bool QtRuntime::flush(int unit) {
  if (unit == kScreenUnit) {
    flushOutput();
    return true;
  }
  if (viewOf(unit) != nullptr) return true;
  return files_.flush(unit);
}

void QtRuntime::flushOutput() {
  if (pending_.isEmpty()) return;
  QString text = pending_.join(QLatin1Char('\n'));
  pending_.clear();
  // One insertion per batch keeps long outputs fast; a fresh document's
  // first block takes the first line.
  QTextCursor cursor(output_->document());
  cursor.movePosition(QTextCursor::End);
  if (outputHasLines_) text.prepend(QLatin1Char('\n'));
  cursor.insertText(text);
  outputHasLines_ = true;
  QScrollBar* bar = output_->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void QtRuntime::clearFocusedWindow() {
  pending_.clear();
  output_->clear();
  outputHasLines_ = false;
}

void QtRuntime::keepResponsive() {
  if (!busy_ || stopping_) return;
  if (pumpClock_.isValid() && pumpClock_.elapsed() < kPumpIntervalMs) return;
  pumpClock_.restart();
  flushOutput();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
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
  forgetClosedWindows();
  const int unit = activeGraphicsUnit();
  return unit == kScreenUnit ? nullptr : canvasOf(unit);
}

int QtRuntime::saveImage(std::string_view fileName, int x1, int y1, int x2, int y2) {
  Canvas* canvas = activeCanvas();
  if (canvas == nullptr) return -1;
  return canvas->saveImage(files_.resolve(fileName), x1, y1, x2, y2);
}

}  // namespace tavel::platform::qt

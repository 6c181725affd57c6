// SPDX-License-Identifier: GPL-3.0-or-later
// The windowing runtime on Qt Widgets: a QMainWindow frame with a QMdiArea,
// the main output window (read-only text), graphics windows showing their
// QImageCanvas scaled to the window, menus with callbacks, dialogs from
// resource tables, the open-file dialog, file units (platform::FileUnits) and
// a status bar that shows what a running command is doing.
//
// Threads: a menu command runs on a worker thread while the GUI thread keeps
// serving the window (repaints, moves, resizes, the Windows menu), and
// runCommand returns when the command is done. Every call of the command
// that touches a widget is carried to the GUI thread and waited for
// (gui_thread.h), so lines and windows appear in the order the command made
// them; dialogs run modally on the GUI thread while the command waits. File
// units are used by the command directly: nothing else touches them while a
// command runs. Commands run one at a time: menu commands chosen meanwhile
// are refused; the built-in window actions keep working.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_units.h"
#include "platform/qt/command_progress.h"
#include "platform/qt/qimage_canvas.h"
#include "platform/runtime.h"

class QAction;
class QLabel;
class QMainWindow;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QShortcut;
class QTimer;
class QWidget;

namespace tavel::platform::qt {

class GraphicsView;

class QtRuntime : public Runtime {
 public:
  QtRuntime();
  ~QtRuntime() override;
  QtRuntime(const QtRuntime&) = delete;
  QtRuntime& operator=(const QtRuntime&) = delete;

  // Calls the start-up hook (which appends the menus) and shows the frame.
  // A false hook result is reported to the user; the result is the hook's.
  bool createFrame(std::function<bool()> startupHook);

  // ---- Runtime (callable from the GUI thread and from a command's worker)
  bool appendMenu(int menu, bool enabled, std::string_view text, MenuCallback callback,
                  BuiltinAction action = BuiltinAction::None) override;
  void setAboutText(std::string_view text) override;
  void setHelpText(std::string_view markdown) override;
  void showStatus(std::string_view line) override;
  void setDocumentName(std::string_view name) override;
  void reportStage(std::string_view stage) override { progress_.stageNamed(stage); }
  void setActiveWindowRedraw(Redraw redraw) override;
  void stop(std::string_view message) override;
  bool getGeometry(int unit, Geometry& geometry) override;
  bool applyGeometry(int unit, const Geometry& geometry, GeometryRequest request) override;
  bool openFileDialog(std::string_view title, const std::vector<FileFilter>& filters,
                      std::string& name) override;
  bool saveFileDialog(std::string_view title, const std::vector<FileFilter>& filters,
                      std::string& name) override;
  void deleteFiles(std::string_view pattern) override { files_.deleteFiles(pattern); }
  std::string resolvePath(std::string_view name) override { return files_.resolve(name); }
  PathKind pathKind(std::string_view fileName) override { return files_.kind(fileName); }
  std::unique_ptr<TextSource> readAgain(std::string_view fileName) override {
    return FileSource::open(files_, fileName);
  }
  void addDialogResource(const DialogResource& resource) override;
  std::unique_ptr<Dialog> initDialog(int resourceId) override;
  bool openFile(int unit, std::string_view fileName, bool append) override;
  bool openFileForReading(int unit, std::string_view fileName) override;
  bool openGraphics(int unit, std::string_view title) override;
  bool openFileReplacing(int unit, std::string_view fileName) override;
  void close(int unit) override;
  bool closeChecked(int unit) override;
  bool isOpen(int unit) override;
  bool rewind(int unit) override;
  ReadResult readLine(int unit, std::string& line) override;
  ReadResult readPiece(int unit, std::string& piece, std::size_t maxChars,
                       bool& lineEnded) override;
  bool writeLine(int unit, std::string_view line) override;
  bool flush(int unit) override;
  bool writeFailed(int unit) override { return files_.writeFailed(unit); }
  void clearFocusedWindow() override;
  Canvas* activeCanvas() override;
  int saveImage(std::string_view fileName, int x1, int y1, int x2, int y2) override;

  // ---- the windows, for main, tests and tools (GUI thread)
  QMainWindow* frame() const { return frame_.get(); }
  QMdiArea* mdiArea() const { return mdi_; }
  QPlainTextEdit* outputView() const { return output_; }
  QMdiSubWindow* outputWindow() const { return outputWindow_; }
  QMdiSubWindow* graphicsWindow(int unit) const;
  QImageCanvas* canvasOf(int unit) const;
  GraphicsView* graphicsView(int unit) const { return viewOf(unit); }
  int activeGraphicsUnit() const;
  const QString& aboutText() const { return aboutText_; }
  QMenu* windowsMenu() const { return windowsMenu_; }
  QLabel* statusStage() const { return stage_; }
  bool busy() const { return busy_; }
  bool fullScreen() const { return fullScreen_; }

  // Built-in actions.
  void showAbout();
  // The guide, in a window of its own beside the frame.
  void showHelp();
  QWidget* helpWindow() const { return help_; }
  // Tabs instead of windows (on) or the windows side by side (off). byUser:
  // the Windows menu's choice, which later arrangements keep.
  void setTabbedView(bool on, bool byUser = true);
  bool tabbedView() const;
  QAction* tabbedViewAction() const { return tabbedAction_; }
  // The line the status bar shows between commands.
  QString statusLine() const { return status_; }
  void cascade();
  // The report across the bottom, every plot whole in a grid above it.
  // False when the workspace cannot give every plot kMinReadablePlot: the
  // windows are then shown as tabs when mayTab, else left as they are.
  bool tile(bool mayTab = true);
  void enterFullScreen();
  void leaveFullScreen();

  // Shows pending output lines now.
  void flushOutput();
  // How the program ends after stop() (default: leave the process with the
  // given status). Tests replace it.
  void setExitHandler(std::function<void(int)> handler) { exitHandler_ = std::move(handler); }
  // Runs a menu command on a worker thread and returns when it is done; one
  // at a time (a call while one runs does nothing). Errors that escape it
  // end the program with a message.
  void runCommand(const std::function<void()>& command);

 private:
  struct MenuSlot {
    QMenu* menu = nullptr;       // a title with a drop-down
    QAction* command = nullptr;  // a command on the menu bar itself
  };
  struct GraphicsUnit {
    QPointer<QMdiSubWindow> window;
    QPointer<GraphicsView> view;
  };

  // Runs f on the GUI thread and waits for it (at once when already there).
  template <typename F>
  auto onGui(F&& f);

  void trigger(const MenuCallback& callback, BuiltinAction action, bool checked);
  void addWindowActions();
  void listWindows();
  // The open-file dialog (existing: a file that exists) or the save dialog.
  bool fileDialog(std::string_view title, const std::vector<FileFilter>& filters, std::string& name,
                  bool existing);
  bool openGraphicsWindow(int unit, std::string_view title);
  GraphicsView* viewOf(int unit) const;
  QWidget* geometryWidget(int unit) const;
  void forgetClosedWindows();
  void closeGraphics(int unit);
  void closeAllUnits();
  void frameCloseRequested(bool& accept);
  void scheduleFlush();
  bool flushOutput(bool wait);  // false: the lines were busy, nothing shown
  void restoreMaximised();
  QSize decorations() const;
  std::vector<QMdiSubWindow*> plotWindows() const;
  void showProgress(bool running);
  void updateProgress();

  std::unique_ptr<QMainWindow> frame_;
  QMdiArea* mdi_ = nullptr;
  QMdiSubWindow* outputWindow_ = nullptr;
  QPlainTextEdit* output_ = nullptr;
  QShortcut* escape_ = nullptr;
  QTimer* flushTimer_ = nullptr;
  QTimer* tileTimer_ = nullptr;
  std::vector<MenuSlot> menus_;
  QMenu* windowsMenu_ = nullptr;  // the menu holding the window actions
  QAction* windowListStart_ = nullptr;
  QString aboutText_;
  QString helpText_;
  QPointer<QWidget> help_;
  QAction* tabbedAction_ = nullptr;
  bool userTabbed_ = false;               // the user chose tabs: arrangements keep them
  std::vector<QAction*> commandActions_;  // disabled while a command runs
  QString status_;
  std::mutex statusMutex_;
  QString pendingStatus_;  // set by the command, shown when it is over

  std::mutex outputMutex_;
  QStringList pending_;  // output lines not yet shown (any thread appends)
  std::atomic<bool> flushPosted_{false};
  bool outputHasLines_ = false;

  FileUnits files_;
  std::map<int, DialogResource> resources_;
  std::map<int, GraphicsUnit> graphics_;
  std::vector<int> activation_;  // graphics units, most recently active last
  bool windowsChanged_ = false;  // plot windows opened or closed by the command
  std::shared_ptr<QString> pictureFolder_;

  std::atomic<bool> busy_{false};
  bool quitAfterCommand_ = false;
  bool stopping_ = false;
  CommandProgress progress_;
  QLabel* stage_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QTimer* progressTimer_ = nullptr;

  bool fullScreen_ = false;
  bool frameWasMaximised_ = false;
  QPointer<QMdiSubWindow> fullScreenChild_;
  bool childWasMaximised_ = false;
  std::function<void(int)> exitHandler_;
};

}  // namespace tavel::platform::qt

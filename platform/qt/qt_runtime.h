// The windowing runtime on Qt Widgets: a QMainWindow frame with a QMdiArea,
// the main output window (read-only text), graphics windows showing their
// QImageCanvas, menus with callbacks, dialogs from resource tables, the
// open-file dialog, and file units (platform::FileUnits).
//
// Commands run one at a time. While one runs, the output window shows new
// lines as they come and the windows keep repainting (events are processed
// every 50 ms without user input); input made meanwhile is dropped when it
// arrives, so a click made during a long run starts nothing afterwards.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_units.h"
#include "platform/qt/qimage_canvas.h"
#include "platform/runtime.h"

class QAction;
class QMainWindow;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QPlainTextEdit;
class QShortcut;
class QTimer;

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

  // ---- Runtime
  bool appendMenu(int menu, bool enabled, std::string_view text, MenuCallback callback,
                  BuiltinAction action = BuiltinAction::None) override;
  void setAboutText(std::string_view text) override;
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
  void yieldIdle() override { keepResponsive(); }
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

  // ---- the windows, for main, tests and tools
  QMainWindow* frame() const { return frame_.get(); }
  QMdiArea* mdiArea() const { return mdi_; }
  QPlainTextEdit* outputView() const { return output_; }
  QMdiSubWindow* outputWindow() const { return outputWindow_; }
  QMdiSubWindow* graphicsWindow(int unit) const;
  QImageCanvas* canvasOf(int unit) const;
  GraphicsView* graphicsView(int unit) const { return viewOf(unit); }
  int activeGraphicsUnit() const;
  const QString& aboutText() const { return aboutText_; }
  bool busy() const { return busy_; }
  bool fullScreen() const { return fullScreen_; }

  // Built-in actions.
  void showAbout();
  void cascade();
  void enterFullScreen();
  void leaveFullScreen();

  // Shows pending output lines now.
  void flushOutput();
  // During a command: at most every 50 ms, shows new output and lets the
  // windows repaint, without taking user input.
  void keepResponsive();
  // How the program ends after stop() (default: leave the process with the
  // given status). Tests replace it.
  void setExitHandler(std::function<void(int)> handler) { exitHandler_ = std::move(handler); }
  // Runs a menu command: one at a time; errors that escape it end the
  // program with a message.
  void runCommand(const std::function<void()>& command);

 private:
  class InputGate;
  struct MenuSlot {
    QMenu* menu = nullptr;       // a title with a drop-down
    QAction* command = nullptr;  // a command on the menu bar itself
  };
  struct GraphicsUnit {
    QPointer<QMdiSubWindow> window;
    QPointer<GraphicsView> view;
  };

  void trigger(const MenuCallback& callback, BuiltinAction action, bool checked);
  GraphicsView* viewOf(int unit) const;
  void forgetClosedWindows();
  void closeGraphics(int unit);
  void closeAllUnits();
  void frameCloseRequested(bool& accept);

  std::unique_ptr<QMainWindow> frame_;
  QMdiArea* mdi_ = nullptr;
  QMdiSubWindow* outputWindow_ = nullptr;
  QPlainTextEdit* output_ = nullptr;
  QShortcut* escape_ = nullptr;
  QTimer* flushTimer_ = nullptr;
  std::unique_ptr<InputGate> gate_;
  std::vector<MenuSlot> menus_;
  QString aboutText_;
  QStringList pending_;  // output lines not yet shown
  bool outputHasLines_ = false;
  FileUnits files_;
  std::map<int, DialogResource> resources_;
  std::map<int, GraphicsUnit> graphics_;
  std::vector<int> activation_;  // graphics units, most recently active last
  bool busy_ = false;
  bool quitAfterCommand_ = false;
  bool stopping_ = false;
  QElapsedTimer pumpClock_;
  bool fullScreen_ = false;
  bool frameWasMaximised_ = false;
  QPointer<QMdiSubWindow> fullScreenChild_;
  bool childWasMaximised_ = false;
  std::function<void(int)> exitHandler_;
};

}  // namespace tavel::platform::qt

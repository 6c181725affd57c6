// SPDX-License-Identifier: GPL-3.0-or-later
// The windowing runtime without a display: files in a folder of the caller's
// choosing, the main output window as a list of lines (optionally echoed to a
// sink such as standard output), graphics windows on canvases made by a
// factory, menus that tests invoke by text, scripted dialogs and file choices.
// Used by the tests and by tavel-batch.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_units.h"
#include "platform/headless/scripted_dialog.h"
#include "platform/runtime.h"

namespace tavel::platform::headless {

using CanvasFactory = std::function<std::unique_ptr<Canvas>()>;
using LineSink = std::function<void(std::string_view)>;

struct MenuEntry {
  int menu = 0;
  bool enabled = true;
  std::string text;
  MenuCallback callback;
  BuiltinAction action = BuiltinAction::None;
};

struct GraphicsWindow {
  int unit = 0;
  std::string title;
  std::unique_ptr<Canvas> canvas;
};

class HeadlessRuntime : public Runtime {
 public:
  // baseDir: the "current directory" for relative names ("" = process cwd).
  // factory: makes the canvas of each graphics window (default: a canvas
  // that draws nothing and reports an 800 x 600 window).
  explicit HeadlessRuntime(std::string baseDir = "", CanvasFactory factory = {});
  ~HeadlessRuntime() override;

  // ---- Runtime
  bool appendMenu(int menu, bool enabled, std::string_view text, MenuCallback callback,
                  BuiltinAction action) override;
  void setAboutText(std::string_view text) override { aboutText_ = std::string(text); }
  void setHelpText(std::string_view markdown) override { helpText_ = std::string(markdown); }
  void showStatus(std::string_view line) override { statusLines_.emplace_back(line); }
  void setDocumentName(std::string_view name) override { documentName_ = std::string(name); }
  void setActiveWindowRedraw(Redraw redraw) override { redraw_ = std::move(redraw); }
  // The redraw the last plot left for its window (empty when none).
  const Redraw& activeWindowRedraw() const { return redraw_; }
  void stop(std::string_view message) override;
  bool getGeometry(int unit, Geometry& geometry) override;
  bool applyGeometry(int unit, const Geometry& geometry, GeometryRequest request) override;
  bool openFileDialog(std::string_view title, const std::vector<FileFilter>& filters,
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
  bool openFileReplacing(int unit, std::string_view fileName) override;
  bool openGraphics(int unit, std::string_view title) override;
  void close(int unit) override;
  bool closeChecked(int unit) override;
  bool isOpen(int unit) override;
  bool rewind(int unit) override { return files_.rewind(unit); }
  ReadResult readLine(int unit, std::string& line) override { return files_.readLine(unit, line); }
  ReadResult readPiece(int unit, std::string& piece, std::size_t maxChars,
                       bool& lineEnded) override {
    return files_.readPiece(unit, piece, maxChars, lineEnded);
  }
  bool writeLine(int unit, std::string_view line) override;
  bool writeLines(int unit, std::string_view lines) override;
  bool flush(int unit) override { return files_.flush(unit); }
  bool writeFailed(int unit) override { return files_.writeFailed(unit); }
  void clearFocusedWindow() override { screen_.clear(); }
  Canvas* activeCanvas() override;
  int saveImage(std::string_view fileName, int x1, int y1, int x2, int y2) override;

  // ---- for tests and the batch program
  void setScreenSink(LineSink sink) { screenSink_ = std::move(sink); }
  // Lines of the main output window since it was last cleared, and all lines ever written.
  const std::vector<std::string>& screen() const { return screen_; }
  const std::vector<std::string>& screenHistory() const { return history_; }
  const std::vector<MenuEntry>& menus() const { return menus_; }
  // Runs the callback of the entry with this text; false when there is none.
  bool invokeMenu(std::string_view text);
  // Makes the append with this 1-based call number fail (0: none fails).
  void failMenuAppendAt(int callNumber) { failAppendAt_ = callNumber; }
  const std::string& aboutText() const { return aboutText_; }
  const std::string& helpText() const { return helpText_; }
  // Every status line shown, oldest first.
  const std::vector<std::string>& statusLines() const { return statusLines_; }
  const std::string& documentName() const { return documentName_; }
  const std::optional<std::string>& stopMessage() const { return stopMessage_; }
  // The next open-file dialog answers with this name (nullopt: cancelled).
  void queueFileChoice(std::optional<std::string> name) { fileChoices_.push_back(std::move(name)); }
  const std::vector<std::string>& fileDialogTitles() const { return fileDialogTitles_; }
  const std::string& lastOfferedFileName() const { return lastOfferedName_; }
  // The next run of the dialog with this resource plays the script.
  void queueDialogScript(int resourceId, DialogScript script);
  // Resources that initDialog should treat as missing.
  void hideDialogResource(int resourceId) { hidden_.push_back(resourceId); }
  const std::vector<GraphicsWindow>& graphicsWindows() const { return windows_; }
  Canvas* canvasOf(int unit);
  FileUnits& files() { return files_; }

 private:
  FileUnits files_;
  CanvasFactory factory_;
  LineSink screenSink_;
  std::vector<std::string> screen_;
  std::vector<std::string> history_;
  std::vector<MenuEntry> menus_;
  int appendCalls_ = 0;
  int failAppendAt_ = 0;
  int menuCount_ = 0;
  std::string aboutText_;
  std::string helpText_;
  std::vector<std::string> statusLines_;
  std::string documentName_;
  Redraw redraw_;
  std::optional<std::string> stopMessage_;
  std::deque<std::optional<std::string>> fileChoices_;
  std::vector<std::string> fileDialogTitles_;
  std::string lastOfferedName_;
  std::map<int, DialogResource> resources_;
  std::map<int, std::deque<DialogScript>> scripts_;
  std::vector<int> hidden_;
  std::vector<GraphicsWindow> windows_;  // in opening order; the last is active
  std::map<int, Geometry> geometry_;
};

}  // namespace tavel::platform::headless

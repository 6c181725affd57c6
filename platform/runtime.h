// SPDX-License-Identifier: GPL-3.0-or-later
// The windowing runtime as the program sees it: the frame and its menus,
// numbered text units (the main output window, files, graphics windows),
// dialogs by resource number, the open-file dialog and file housekeeping.
// No toolkit types here; platform/qt and platform/headless realise it.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/canvas.h"
#include "platform/dialog.h"

namespace tavel::platform {

// The default output unit: the main output window ("the screen").
inline constexpr int kScreenUnit = 0;
// The frame window, for the geometry operations.
inline constexpr int kFrameUnit = -1;

using MenuCallback = std::function<void(bool checked)>;

enum class BuiltinAction { None, Cascade, FullScreen, About, TabbedView, Help };

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
};

enum class GeometryRequest { Minimise = 1, Maximise = 2, Restore = 3, SetPositionSize = 4 };

struct FileFilter {
  std::string description;  // "Data files(*.DAT)"
  std::string pattern;      // "*.dat"
};

enum class ReadResult { Success, EndOfFile, Error };

// Where the readers of text files take their lines from: a runtime's units,
// or a reader of its own over one file for another thread (readAgain).
class TextSource {
 public:
  virtual ~TextSource() = default;
  virtual bool rewind(int unit) = 0;
  // Reads the next at most maxChars characters of the current record, so a
  // huge line never has to be held whole. lineEnded is true when the record
  // ended within them (its line end is consumed, not stored); a record
  // that goes on gives at least one more character at the next call.
  // EndOfFile only when no record is left at all.
  virtual ReadResult readPiece(int unit, std::string& piece, std::size_t maxChars,
                               bool& lineEnded) = 0;
};

// What a name stands for now, following links.
enum class PathKind { Missing, RegularFile, Other };

class Runtime : public TextSource {
 public:
  // ---- frame and menus
  // A menu number one above the current count adds a menu-bar title; further
  // calls add items to it. A title with a callback is a command on the bar.
  virtual bool appendMenu(int menu, bool enabled, std::string_view text, MenuCallback callback,
                          BuiltinAction action = BuiltinAction::None) = 0;
  virtual void setAboutText(std::string_view text) = 0;  // lines separated by '\r'
  // The user's guide (Markdown) that the Help menu shows.
  virtual void setHelpText(std::string_view markdown) { (void)markdown; }
  // One line saying how the last command ended ("Run done in 0.3 s: ..."),
  // shown once the command is over until the next one starts.
  virtual void showStatus(std::string_view line) { (void)line; }
  // What a running command is doing now, for a progress display (the
  // runtime also follows the command's files and lines on its own).
  virtual void reportStage(std::string_view stage) { (void)stage; }
  // The data file the work is about, for the frame's title.
  virtual void setDocumentName(std::string_view name) { (void)name; }
  // Shows the message, closes all units and ends the application.
  virtual void stop(std::string_view message) = 0;
  virtual bool getGeometry(int unit, Geometry& geometry) = 0;
  virtual bool applyGeometry(int unit, const Geometry& geometry, GeometryRequest request) = 0;
  // Shows the open-file dialog; name holds the initial name and receives the
  // chosen path. True when the user confirmed.
  virtual bool openFileDialog(std::string_view title, const std::vector<FileFilter>& filters,
                              std::string& name) = 0;
  // The same dialog for a file to write: a name that does not exist yet may
  // be chosen. Runtimes without a separate form answer as openFileDialog.
  virtual bool saveFileDialog(std::string_view title, const std::vector<FileFilter>& filters,
                              std::string& name) {
    return openFileDialog(title, filters, name);
  }
  // Deletes every file of the current directory matching a wildcard pattern.
  virtual void deleteFiles(std::string_view pattern) = 0;
  // The folder that relative file names are taken from ("" = process cwd).
  virtual std::string resolvePath(std::string_view name) = 0;
  // Whether a name is missing, a regular file, or something else (a folder,
  // a pipe, a device, a socket), so a refusal can say why.
  virtual PathKind pathKind(std::string_view fileName) = 0;
  virtual void yieldIdle() {}

  // ---- dialogs
  virtual void addDialogResource(const DialogResource& resource) = 0;
  // Null when the resource is missing.
  virtual std::unique_ptr<Dialog> initDialog(int resourceId) = 0;

  // ---- text units
  // Opens a file on a unit with status "unknown" (created when missing),
  // at its start, or at its end when append is true. False on failure,
  // and for anything that is not a regular file (a pipe, a device, a
  // folder): such names are refused without waiting on them.
  virtual bool openFile(int unit, std::string_view fileName, bool append) = 0;
  // The same for a file that is only read (the data file): opened
  // read-only, so a pipe never waits for its own writer; a missing file is
  // created empty first. Writes to the unit fail.
  virtual bool openFileForReading(int unit, std::string_view fileName) = 0;
  // Opens a graphics child window (device "user") with a window title; it
  // becomes the active graphics window.
  virtual bool openGraphics(int unit, std::string_view title) = 0;
  // Opens a file that replaces an earlier one only when complete: writes go
  // to a temporary file of its own beside it (a fresh name, never an
  // existing file or link, removed again if the process is interrupted),
  // which closeChecked renames into place. An existing name that is not a
  // regular file is refused.
  virtual bool openFileReplacing(int unit, std::string_view fileName) = 0;
  virtual void close(int unit) = 0;  // no effect when not open
  // Closes a unit; false when buffered output or the final rename failed
  // (a replacing file then leaves the earlier file untouched).
  virtual bool closeChecked(int unit) = 0;
  virtual bool isOpen(int unit) = 0;
  // (rewind and readPiece: TextSource.)
  // Reads one record (one line, without its line end). A line ends at LF,
  // CR LF or a lone CR.
  virtual ReadResult readLine(int unit, std::string& line) = 0;
  // A reader of its own over the regular file of that name, rewound on
  // unit 1, that another thread may use while this runtime goes on (the
  // runtime's own units are for its thread only). Null when the runtime
  // has no such reader or the file is not a regular file that opens.
  virtual std::unique_ptr<TextSource> readAgain(std::string_view fileName) {
    (void)fileName;
    return nullptr;
  }
  // Writes one line (the line end is added). False when it cannot be written.
  virtual bool writeLine(int unit, std::string_view line) = 0;
  // Writes many lines at once, each ended by '\n' (a last one without it
  // gets it): the same bytes as a writeLine for each, which a runtime may
  // hand to a file in one write. False when any of them could not be
  // written; the others are still tried.
  virtual bool writeLines(int unit, std::string_view lines) {
    bool ok = true;
    while (!lines.empty()) {
      const std::size_t end = lines.find('\n');
      ok = writeLine(unit, lines.substr(0, end)) && ok;
      if (end == std::string_view::npos) break;
      lines.remove_prefix(end + 1);
    }
    return ok;
  }
  // Flushes a file unit; false when buffered output could not be written.
  virtual bool flush(int unit) = 0;
  // True once a write, flush or close of a file on this unit number has
  // failed, and from then on for the life of the runtime: the record
  // survives closing and reopening the unit (the log is reopened during a
  // Run), so a lost line is noticed whenever the caller looks.
  virtual bool writeFailed(int unit) = 0;
  // Clears the window that has the focus (the main output window).
  virtual void clearFocusedWindow() = 0;

  // ---- graphics
  // The active graphics window's canvas; null when there is none.
  virtual Canvas* activeCanvas() = 0;
  // How the active graphics window draws its picture again at the size the
  // window has on the screen (any size; fonts keep their pixel sizes). The
  // 800 x 600 canvas stays what captures and saved pictures are made of.
  // Without one a window shows its 800 x 600 picture scaled.
  using Redraw = std::function<void(Canvas& canvas)>;
  virtual void setActiveWindowRedraw(Redraw redraw) { (void)redraw; }
  // Saves a pixel rectangle of the active graphics window; negative on failure.
  virtual int saveImage(std::string_view fileName, int x1, int y1, int x2, int y2) = 0;
};

}  // namespace tavel::platform

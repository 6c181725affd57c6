// SPDX-License-Identifier: GPL-3.0-or-later
// The application shell: start-up, the menu bar and its commands, and the
// picture-saving routine the Run uses. All work runs in menu callbacks.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "app/records.h"
#include "platform/runtime.h"

namespace tavel::app {

// The capture counter runs over the character codes "@" to "]"; a run's
// first picture has the code after "@" (pic_A.bmp).
inline constexpr int kFirstCaptureCode = '@';
inline constexpr int kLastCaptureCode = ']';

// The picture the capture counter names with code: "pic_" + the character
// of that code + ".bmp".
std::string capturePictureName(int code);

// The picture names the capture counter gives (a wildcard pattern for
// Runtime::deleteFiles).
inline constexpr std::string_view kCapturePicturePattern = "pic_[]@-[\\\\].bmp";

// What to do first when a command needs data rows and there are none: "load
// a data file first: File / Input Dat File...", or that the loaded file has
// no data rows.
std::string loadDataFirst(const AppState& state);

// The name of the data file without its folder.
std::string dataFileBaseName(const AppState& state);

// Deletes the pictures of an earlier run or use of the program: only the
// names the capture counter makes, never another picture of the user's
// (pic_holiday.bmp stays).
void deleteCapturePictures(platform::Runtime& runtime);

class Shell {
 public:
  Shell(platform::Runtime& runtime, AppState& state);

  // Start-up hook: appends the menu entries in table order (the ten
  // documented ones, with the three model commands after the File entries);
  // false at the first append that fails.
  bool buildMenus();
  // The main program's start-up after the frame exists: about text, old
  // pictures deleted, frame and output window geometry, Tavel.log opened.
  void startUp();

  // Menu commands (the argument is the item's check state, ignored).
  void onInputDataFile(bool checked);
  void onExit(bool checked);
  void onPrepare(bool checked);
  void onOptions(bool checked);
  void onRun(bool checked);
  // A data file named on the command line (tavel FILE): read as
  // "Input Dat File..." reads a chosen file, so the Prepare dialog opens. A
  // file that does not exist is refused (the scan would create it empty).
  void openDataFile(std::string_view fileName);

  // The Run lives in run/, which builds on this shell; main installs it.
  void setRunCommand(std::function<void()> run) { run_ = std::move(run); }

  // Saves the active graphics window as the next picture when captures are on.
  void saveCapture(bool reset);

  // Says on the screen, and in state().problems, that lines of Tavel.log
  // were lost (a full disk, a write error), the first time the runtime
  // reports a failed write on the log unit; later calls stay silent. Every
  // menu command ends with it; a long command may call it earlier.
  void reportLogFailure();

  // The end of every menu command: the log is flushed, so what the command
  // wrote is on disk whatever happens next, and a lost line is reported.
  // Commands given without the menus (tavel-batch's session) end with it too.
  void finishCommand();

  platform::Runtime& runtime() { return runtime_; }
  AppState& state() { return state_; }

 private:
  void sayWhatWasRead(std::size_t problemsBefore);
  // Runs a menu command and ends it with one status line: the one the
  // command set, else its first problem, else that it is done.
  void command(std::string_view name, const std::function<void()>& body);
  // The previous run's plot windows are closed when another data file is
  // chosen: they show results of data that are no longer loaded.
  void closeEarlierPlots();

  platform::Runtime& runtime_;
  AppState& state_;
  std::function<void()> run_;
  bool logFailureReported_ = false;
};

}  // namespace tavel::app

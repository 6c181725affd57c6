// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shell.h"

#include <filesystem>
#include <string>
#include <vector>

#include "app/data_file.h"
#include "app/model_commands.h"
#include "app/options_dialog.h"
#include "app/prepare_dialog.h"
#include "app/results_export.h"
#include "app/sheet_dialog.h"
#include "app/user_guide.h"
#include "io/field_format.h"
#include "io/trace.h"
#include "tavel_version.h"

namespace tavel::app {
namespace {

using platform::BuiltinAction;

constexpr std::string_view kAboutText =
    "TAVEL\r\r"
    "ACE regression after L. Breiman and J. H. Friedman; program by the Tavel developers\r"
    "Version " TAVEL_VERSION;
constexpr std::string_view kExitMessage = "Program terminated. See output files...";

}  // namespace

std::string capturePictureName(int code) {
  std::string name = "pic_";
  name += static_cast<char>(code);
  name += ".bmp";
  return name;
}

std::string dataFileBaseName(const AppState& state) {
  const std::string name(trimName(state.data.dataFileName));
  return std::filesystem::path(name).filename().string();
}

std::string loadDataFirst(const AppState& state) {
  if (trimName(state.data.dataFileName).empty())
    return "load a data file first: File / Input Dat File...";
  return dataFileBaseName(state) + " has no data rows: load another data file (File / Input Dat " +
         "File...)";
}

void deleteCapturePictures(platform::Runtime& runtime) {
  runtime.deleteFiles(kCapturePicturePattern);
}

Shell::Shell(platform::Runtime& runtime, AppState& state) : runtime_(runtime), state_(state) {
  runtime_.addDialogResource(prepareDialogResource());
  runtime_.addDialogResource(optionsDialogResource());
  runtime_.addDialogResource(sheetDialogResource());
}

bool Shell::buildMenus() {
  struct Entry {
    int menu;
    std::string_view text;
    platform::MenuCallback callback;
    BuiltinAction action;
  };
  const Entry entries[] = {
      {1, "&File", nullptr, BuiltinAction::None},
      {1, "&Input Dat File...", [this](bool c) { onInputDataFile(c); }, BuiltinAction::None},
      {1, "E&xit", [this](bool c) { onExit(c); }, BuiltinAction::None},
      // The model commands follow the documented File entries.
      {1, "Save &Model...",
       [this](bool) { command("Save Model", [this] { onSaveModel(runtime_, state_); }); },
       BuiltinAction::None},
      {1, "&Open Model...",
       [this](bool) { command("Open Model", [this] { onOpenModel(runtime_, state_); }); },
       BuiltinAction::None},
      {1, "&Predict New Data...",
       [this](bool) {
         command("Predict New Data", [this] { onPredictNewData(runtime_, state_); });
       },
       BuiltinAction::None},
      {1, "&Export Results...",
       [this](bool) { command("Export Results", [this] { onExportResults(runtime_, state_); }); },
       BuiltinAction::None},
      {2, "&Prepare", [this](bool c) { onPrepare(c); }, BuiltinAction::None},
      {3, "&Options", [this](bool c) { onOptions(c); }, BuiltinAction::None},
      {4, "&Run", [this](bool c) { onRun(c); }, BuiltinAction::None},
      {5, "&Windows...", nullptr, BuiltinAction::None},
      {5, "&Cascade", nullptr, BuiltinAction::Cascade},
      {5, "&Full screen", nullptr, BuiltinAction::FullScreen},
      {5, "&About...", nullptr, BuiltinAction::About},
      // One tab per window when the workspace cannot show every plot readably.
      {5, "&Tabbed View", nullptr, BuiltinAction::TabbedView},
      // Help after the documented menus; About there too.
      {6, "&Help", nullptr, BuiltinAction::None},
      {6, "Tavel &Help", nullptr, BuiltinAction::Help},
      {6, "&About Tavel...", nullptr, BuiltinAction::About},
  };
  for (const Entry& e : entries)
    if (!runtime_.appendMenu(e.menu, true, e.text, e.callback, e.action)) return false;
  return true;
}

void Shell::startUp() {
  runtime_.setAboutText(kAboutText);
  runtime_.setHelpText(userGuide());
  deleteCapturePictures(runtime_);

  platform::Geometry frame;
  if (runtime_.getGeometry(platform::kFrameUnit, frame))
    runtime_.applyGeometry(platform::kFrameUnit, frame, platform::GeometryRequest::SetPositionSize);
  platform::Geometry output;
  if (runtime_.getGeometry(platform::kScreenUnit, output))
    runtime_.applyGeometry(platform::kScreenUnit, output, platform::GeometryRequest::Maximise);

  // An existing log keeps its content until the first line written replaces
  // it. A pipe or device in its place is never opened: writing to it could
  // wait for ever.
  std::string problem;
  if (runtime_.pathKind(kLogFileName) == platform::PathKind::Other)
    problem = listLine({"error: ", kLogFileName,
                        " is not a regular file (a folder, pipe or device); the run log is not "
                        "written"});
  else if (!runtime_.openFile(kLogUnit, kLogFileName, false))
    problem = listLine({"error: cannot open ", kLogFileName, "; the run log is not written"});
  if (!problem.empty()) {
    traceScreen(runtime_, problem);
    state_.problems.push_back(problem.substr(1));
  }
}

void Shell::onInputDataFile(bool) {
  command("Input Dat File", [this] {
    const std::size_t problemsBefore = state_.problems.size();
    if (!inputDataFile(runtime_, state_, [this] { closeEarlierPlots(); })) {
      state_.status = "Input Dat File cancelled: nothing changed";
      return;
    }
    sayWhatWasRead(problemsBefore);
  });
}

// The frame's title and the status line after a data file was read.
void Shell::sayWhatWasRead(std::size_t problemsBefore) {
  runtime_.setDocumentName(dataFileBaseName(state_));
  if (state_.problems.size() > problemsBefore) return;
  const DataTable& d = state_.data;
  if (d.nRows > 0) {
    state_.status = "Read " + dataFileBaseName(state_) + ": " + std::to_string(d.nRows) +
                    " rows, " + std::to_string(d.numCol) + " variables";
  } else if (d.numCol1 == 0) {
    state_.status = dataFileBaseName(state_) +
                    " has no column names: choose another file (File / Input Dat File...)";
  } else {
    state_.status = dataFileBaseName(state_) +
                    " has no usable data rows (the output window says why): choose another file "
                    "(File / Input Dat File...)";
  }
}

void Shell::closeEarlierPlots() {
  if (state_.firstPlotUnit > 0)
    for (int u = state_.firstPlotUnit; u <= state_.lastPlotUnit; ++u) runtime_.close(u);
  state_.firstPlotUnit = 0;
  state_.lastPlotUnit = 0;
}

void Shell::openDataFile(std::string_view fileName) {
  command("Input Dat File", [this, fileName] {
    const std::size_t problemsBefore = state_.problems.size();
    const std::string name(fileName);
    if (runtime_.pathKind(name) == platform::PathKind::Missing) {
      refuse(runtime_, state_, listLine({"error: cannot read ", name, ": no such file"}));
      return;
    }
    bool scanned = false;
    readChosenSheet(runtime_, state_, name,
                    [&] { scanned = readDataFile(runtime_, state_, name); });
    // The user chooses the variables of a file that has rows.
    if (scanned && state_.data.nRows != 0) prepareDialog(runtime_, state_);
    sayWhatWasRead(problemsBefore);
  });
}

void Shell::onExit(bool) { runtime_.stop(kExitMessage); }

void Shell::onPrepare(bool) {
  command("Prepare", [this] {
    if (state_.data.nRows == 0) {
      state_.status = "Prepare refused: " + loadDataFirst(state_);
      return;
    }
    prepareDialog(runtime_, state_);
    state_.status = state_.selection.p >= 1
                        ? "Prepare done: " + std::to_string(state_.selection.p) +
                              " independent variables; next: Options or Run"
                        : "Prepare done: no analysis chosen (include at least two variables and "
                          "tick the dependent one)";
  });
}

void Shell::onOptions(bool) {
  command("Options", [this] {
    if (state_.data.nRows == 0) {
      state_.status = "Options refused: " + loadDataFirst(state_);
      return;
    }
    const std::vector<std::string> kept = optionsDialog(runtime_, state_);
    std::string line = "Options done";
    for (const std::string& k : kept) line += "; " + k;
    state_.status = line;
  });
}

void Shell::onRun(bool) {
  command("Run", [this] {
    if (run_) run_();
  });
}

void Shell::command(std::string_view name, const std::function<void()>& body) {
  state_.status.clear();
  const std::size_t problemsBefore = state_.problems.size();
  body();
  finishCommand();
  std::string line = state_.status;
  if (line.empty() && state_.problems.size() > problemsBefore)
    line = std::string(name) + " refused: " + state_.problems[problemsBefore];
  if (line.empty()) line = std::string(name) + " done";
  runtime_.showStatus(line);
}

void Shell::finishCommand() {
  if (runtime_.isOpen(kLogUnit)) runtime_.flush(kLogUnit);
  reportLogFailure();
}

void Shell::reportLogFailure() {
  if (logFailureReported_ || !runtime_.writeFailed(kLogUnit)) return;
  logFailureReported_ = true;
  const std::string line =
      listLine({"error: ", kLogFileName,
                " could not be written (a full disk or a write error): lines are missing from it"});
  traceScreen(runtime_, line);
  state_.problems.push_back(line.substr(1));
}

void Shell::saveCapture(bool reset) {
  if (!state_.options.ScreenCaptures) return;
  if (reset) {
    state_.captureCounter = kFirstCaptureCode;
    return;
  }
  if (++state_.captureCounter == kLastCaptureCode + 1) state_.captureCounter = kFirstCaptureCode;
  const std::string name = capturePictureName(state_.captureCounter);
  if (runtime_.saveImage(name, 0, 0, 799, 599) >= 0) {
    if (runtime_.isOpen(kLogUnit)) runtime_.writeLine(kLogUnit, name + " file is done");
    return;
  }
  // A picture that was asked for and not saved is said, not skipped.
  const std::string line = name + " could not be saved";
  runtime_.writeLine(platform::kScreenUnit, " " + line);
  if (runtime_.isOpen(kLogUnit)) runtime_.writeLine(kLogUnit, " " + line);
  state_.problems.push_back(line);
}

}  // namespace tavel::app

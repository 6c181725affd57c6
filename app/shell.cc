#include "app/shell.h"

#include <string>

#include "app/data_file.h"
#include "app/field_format.h"
#include "app/model_commands.h"
#include "app/options_dialog.h"
#include "app/prepare_dialog.h"
#include "app/trace.h"
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

void deleteCapturePictures(platform::Runtime& runtime) {
  runtime.deleteFiles(kCapturePicturePattern);
}

Shell::Shell(platform::Runtime& runtime, AppState& state) : runtime_(runtime), state_(state) {
  runtime_.addDialogResource(prepareDialogResource());
  runtime_.addDialogResource(optionsDialogResource());
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
      {1, "Save &Model...", [this](bool) { onSaveModel(runtime_, state_); }, BuiltinAction::None},
      {1, "&Open Model...", [this](bool) { onOpenModel(runtime_, state_); }, BuiltinAction::None},
      {1, "&Predict New Data...", [this](bool) { onPredictNewData(runtime_, state_); },
       BuiltinAction::None},
      {2, "&Prepare", [this](bool c) { onPrepare(c); }, BuiltinAction::None},
      {3, "&Options", [this](bool c) { onOptions(c); }, BuiltinAction::None},
      {4, "&Run", [this](bool c) { onRun(c); }, BuiltinAction::None},
      {5, "&Windows...", nullptr, BuiltinAction::None},
      {5, "&Cascade", nullptr, BuiltinAction::Cascade},
      {5, "&Full screen", nullptr, BuiltinAction::FullScreen},
      {5, "&About...", nullptr, BuiltinAction::About},
  };
  for (const Entry& e : entries)
    if (!runtime_.appendMenu(e.menu, true, e.text, e.callback, e.action)) return false;
  return true;
}

void Shell::startUp() {
  runtime_.setAboutText(kAboutText);
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
  inputDataFile(runtime_, state_);
  finishCommand();
}

void Shell::openDataFile(std::string_view fileName) {
  if (runtime_.pathKind(fileName) == platform::PathKind::Missing)
    refuse(runtime_, state_, listLine({"error: cannot read ", fileName, ": no such file"}));
  else
    readDataFile(runtime_, state_, fileName);
  finishCommand();
}

void Shell::onExit(bool) { runtime_.stop(kExitMessage); }

void Shell::onPrepare(bool) {
  if (state_.data.nRows != 0) prepareDialog(runtime_, state_);
  finishCommand();
}

void Shell::onOptions(bool) {
  if (state_.data.nRows != 0) optionsDialog(runtime_, state_);
  finishCommand();
}

void Shell::onRun(bool) {
  if (run_) run_();
  finishCommand();
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

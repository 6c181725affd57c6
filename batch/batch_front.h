// SPDX-License-Identifier: GPL-3.0-or-later
// tavel-batch without its toolkit: the command line turned into the
// operations of an analysis session (load, choose, flags and options, run,
// save, export, predict) on the headless runtime, with the checks that turn
// every refusal or failure into exit status 1 and a reason.
// main/tavel_batch_main.cc adds the QImage canvas for pictures; the tests and
// the fuzz target call it in process.
//
//   BatchIo io{.out = toStdout, .err = toStderr};
//   app::AppState state;
//   int status = runBatch({"--dep", "Y", "data.dat"}, io, state);
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/records.h"
#include "app/shell.h"
#include "platform/headless/headless_runtime.h"
#include "platform/runtime.h"

namespace tavel::batch {

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;  // refused, or something asked for was not done
inline constexpr int kExitUsage = 2;   // the command line itself is wrong

// Variables the include list holds: the dependent and 29 independents.
inline constexpr int kMaxChosen = app::kMaxIncluded;
// Standard input or a pipe larger than this is refused rather than copied:
// an endless producer must not fill the temporary folder.
inline constexpr long long kMaxStreamBytes = 1LL << 30;

using TextSink = std::function<void(std::string_view)>;
using RunCommand = std::function<void(platform::Runtime&, app::AppState&, app::Shell&)>;

struct BatchIo {
  TextSink out;  // standard output: lines of the main output window, --help
  TextSink err;  // standard error; every piece ends with its line end
  platform::headless::CanvasFactory canvas;  // pictures ({}: drawn nowhere)
  int inputFd = 0;                           // read for the data file "-"
  RunCommand run;                            // {}: the Run command of run/
  // The progress line ({}: none; main gives it when standard error is a
  // terminal). Pieces begin with '\r' and hold no line end.
  TextSink progress;
};

// Runs one command line (arguments after the program name) and returns the
// exit status. `state` is left as the commands left it, for callers that
// check what was analysed. The command line is read with getopt_long, whose
// state is the process's: one call at a time.
int runBatch(const std::vector<std::string>& args, const BatchIo& io, app::AppState& state);

}  // namespace tavel::batch

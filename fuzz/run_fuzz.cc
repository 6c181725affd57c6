// SPDX-License-Identifier: GPL-3.0-or-later
// A whole analysis on arbitrary data: the first four bytes choose the
// variables (a mask over the first eight rows of the Prepare list), the
// dependent variable's include row, the flag codes and the Equilibration and
// Screen Captures switches; the rest is the data file. Input, Prepare, Run
// must end without a crash or a sanitizer report, whatever the file holds.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/prepare_dialog.h"
#include "app/records.h"
#include "app/shell.h"
#include "fuzz/fuzz_check.h"
#include "platform/headless/headless_runtime.h"
#include "run/run_command.h"

namespace {

using tavel::platform::headless::DialogAction;

const std::string& workDir() {
  static const std::string dir = [] {
    const char* shm = "/dev/shm";
    std::string pattern =
        std::string(std::filesystem::is_directory(shm) ? shm : "/tmp") + "/tavel-fuzz-run-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::uint8_t mask = data[0], depRow = data[1], flags = data[2], switches = data[3];
  {
    std::FILE* f = std::fopen((workDir() + "/in.dat").c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 4 && std::fwrite(data + 4, 1, size - 4, f) != size - 4) std::abort();
    std::fclose(f);
  }

  tavel::platform::headless::HeadlessRuntime runtime(workDir());
  tavel::app::AppState state;
  tavel::app::Shell shell(runtime, state);
  shell.buildMenus();
  shell.setRunCommand([&] { tavel::run::onRun(runtime, state, shell); });
  shell.startUp();

  std::vector<int> rows;
  for (int r = 0; r < 8; ++r)
    if (mask & (1u << r)) rows.push_back(r + 1);
  runtime.queueFileChoice("in.dat");
  runtime.queueDialogScript(tavel::app::kPrepareResource,
                            {DialogAction::selectRows(tavel::app::kPrepareVariableList, rows),
                             DialogAction::press(tavel::app::kPrepareMoveIn),
                             DialogAction::clickRadio(tavel::app::kFirstDepRadio + depRow % 8),
                             DialogAction::press(tavel::app::kOkButton)});
  runtime.invokeMenu("&Input Dat File...");

  // The OPTIONS choices, stored as the dialog stores them.
  const int p = state.selection.p;
  for (int e = 0; e <= p && e <= tavel::app::kMaxIncluded; ++e)
    state.options.l[e] = *tavel::model::flagFromCode(1 + (flags >> (e % 4)) % 5);
  state.options.Equilibration = switches & 1;
  state.options.ScreenCaptures = switches & 2;
  runtime.invokeMenu("&Run");
  runtime.invokeMenu("&Run");  // a second run replaces the first one's windows and files
  FUZZ_CHECK(!runtime.stopMessage().has_value(), "the program stopped: %s",
             runtime.stopMessage()->c_str());
  return 0;
}

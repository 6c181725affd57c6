// SPDX-License-Identifier: GPL-3.0-or-later
// The data file: choosing it (File / "&Input Dat File...") and scanning it
// into the application state. The scan itself is io's (io/data_file.h).
#pragma once

#include <functional>
#include <string_view>

#include "app/records.h"
#include "platform/runtime.h"

namespace tavel::app {

// Dialog texts of the file choice.
inline constexpr std::string_view kDataFileDialogTitle = "Input Tavel Data File";

// The scan of a chosen file (io::scanDataFile, reading it as state asks:
// readAsCsv, readAsTsv, sheetAsked), then RunOptions reset to its defaults
// when the scan reached its end. It opens no dialog: the menu command runs
// Prepare after a scan that reached its end with rows (the result says
// whether it did). Refusals are added to state.problems, and lines that
// disagree with the names to state.warnings.
bool readDataFile(platform::Runtime& runtime, AppState& state, std::string_view fileName);

// Menu command: the open-file dialog (the previous name offered again), then
// the scan of the chosen file and, when it found rows, the Prepare dialog. Cancelling changes
// nothing. chosen runs between the dialog and the scan; the result says whether a file was chosen.
bool inputDataFile(platform::Runtime& runtime, AppState& state,
                   const std::function<void()>& chosen = {});

}  // namespace tavel::app

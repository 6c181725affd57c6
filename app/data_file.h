// SPDX-License-Identifier: GPL-3.0-or-later
// The data file: choosing it (File / "&Input Dat File...") and scanning it
// into the application state. The scan itself is io's (io/data_file.h).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

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

// What a scan found and said on another runtime, for tavel-batch: it scans
// the file before it writes anything, and the analysis then takes that scan
// over instead of reading the file once more.
struct EarlierScan {
  DataTable table;
  std::vector<std::string> lines;  // said on the screen and in the log, in order
  std::vector<std::string> warnings;
};

// The end of readDataFile for a scan that reached its end elsewhere: its
// lines said on this runtime's screen and log as the scan said them, its
// table and warnings taken, its file put back on the data unit for the Run
// and RunOptions reset. A file that cannot be opened again is refused as the
// scan refuses it (" error: cannot read NAME", added to state.problems) and
// the table is not taken.
bool takeDataFileScan(platform::Runtime& runtime, AppState& state, EarlierScan scan);

// Menu command: the open-file dialog (the previous name offered again), then
// the scan of the chosen file and, when it found rows, the Prepare dialog. Cancelling changes
// nothing. chosen runs between the dialog and the scan; the result says whether a file was chosen.
bool inputDataFile(platform::Runtime& runtime, AppState& state,
                   const std::function<void()>& chosen = {});

}  // namespace tavel::app

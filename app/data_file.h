// SPDX-License-Identifier: GPL-3.0-or-later
// The data file: choosing it (File / "&Input Dat File...") and scanning it
// once to fill DataTable: the names of the header line, the number of
// readable rows, and a "_ln_" log variable for every column whose values are
// all positive. The file stays open on the data unit, rewound, for the Run.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/header_names.h"
#include "app/records.h"
#include "platform/runtime.h"

namespace tavel::app {

// Dialog texts of the file choice.
inline constexpr std::string_view kDataFileDialogTitle = "Input Tavel Data File";

// Characters of a log variable's name taken from its column's name.
inline constexpr int kLnNameChars = kNameLength - 4;

// True for a name ending in ".csv" in any case: such a file is read as CSV.
bool isCsvFileName(std::string_view name);

// Looks at every data line of an open data file (read as CSV with that
// separator, or in free form when it is 0) and counts what each of its
// columns holds; the unit is rewound before and after.
ColumnSurvey surveyColumns(platform::Runtime& runtime, int unit, char csvSeparator,
                           std::size_t columns);

// The scan of a chosen file: trace "open " + name, open it read-only on the
// data unit (created empty when missing), read the header and count the
// rows, add the log variables, rewind and reset RunOptions to its defaults.
// It opens no dialog: the menu command runs Prepare after a scan that
// reached its end with rows (the result says whether it did). The reader is chosen by
// app/file_format.h (free form, or CSV by the rules of app/csv_reader.h)
// and the table remembers a CSV separator for the Run. Every scan starts its
// row buffer from zeros. What the reading rules did to the file (rows skipped or
// completed from the row before, names dropped, cut or alike) is said once,
// on the screen and in the log, when it happened.
//
// Refusals: anything that is not a regular file, or a file that cannot be
// opened or read, leaves DataTable as it was (the previous data file stays
// open); a first line without names clears DataTable as an empty file does.
// Each says so on the screen and in the log and is added to state.problems.
bool readDataFile(platform::Runtime& runtime, AppState& state, std::string_view fileName);

// Menu command: the open-file dialog (the previous name offered again), then
// the scan of the chosen file and, when it found rows, the Prepare dialog. Cancelling changes
// nothing. chosen runs between the dialog and the scan; the result says whether a file was chosen.
bool inputDataFile(platform::Runtime& runtime, AppState& state,
                   const std::function<void()>& chosen = {});

}  // namespace tavel::app

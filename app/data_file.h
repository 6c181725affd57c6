// The data file: choosing it (File / "&Input Dat File...") and scanning it
// once to fill DataTable: the names of the header line, the number of
// readable rows, and a "_ln_" log variable for every column whose values are
// all positive. The file stays open on the data unit, rewound, for the Run.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/records.h"
#include "platform/runtime.h"

namespace tavel::app {

// Dialog texts of the file choice.
inline constexpr std::string_view kDataFileDialogTitle = "Input Tavel Data File";

// Characters of a log variable's name taken from its column's name.
inline constexpr int kLnNameChars = kNameLength - 4;

// Turns a header line into column names (each blank padded or cut to
// kNameLength). Only the first kHeaderLength characters count (a UTF-8
// byte-order mark before them is dropped); names are separated by runs of
// blanks, tabs and "~"; leading separators are ignored; a name that runs to
// the end of those characters has no separator after it and is not counted;
// at most kMaxNames names are kept.
// "X1 X2\tY" gives X1, X2, Y; "\t A\t\tB" gives A, B.
std::vector<std::string> headerToNames(std::string_view headerLine);

// The scan of a chosen file: trace "open " + name, open it on the data unit
// (created empty when missing), read the header and count the rows, add the
// log variables, rewind, reset RunOptions to its defaults and, when rows
// were found, run the Prepare dialog. A file that cannot be opened or read
// leaves DataTable as it was (the previous data file stays open) and says so
// on the screen and in the log. An empty file clears DataTable.
void readDataFile(platform::Runtime& runtime, AppState& state, std::string_view fileName);

// Menu command: the open-file dialog (the previous name offered again), then
// the scan of the chosen file. Cancelling changes nothing.
void inputDataFile(platform::Runtime& runtime, AppState& state);

}  // namespace tavel::app

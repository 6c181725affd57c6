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

// A text blank padded or cut to width bytes; a cut never splits a UTF-8
// character (the name then ends before it, and cutInsideCharacter is set).
std::string cutToWidth(std::string_view text, std::size_t width,
                       bool* cutInsideCharacter = nullptr);

// The names of a header line and what was left out of them.
struct HeaderNames {
  std::vector<std::string> names;  // at most kMaxNames, each kNameLength bytes
  int complete = 0;  // names ended by a separator within the first kHeaderLength characters
  bool lastReachesEnd = false;  // a name runs to the last of those characters (not counted)
  std::vector<std::string> cutInsideCharacter;  // kept names shortened to a whole character
};

// Turns a header line into column names (each cut by cutToWidth to
// kNameLength). Only the first kHeaderLength characters count (a UTF-8
// byte-order mark before them is dropped); names are separated by runs of
// blanks, tabs and "~"; leading separators are ignored; a name that runs to
// the end of those characters has no separator after it and is not counted;
// at most kMaxNames names are kept.
// "X1 X2\tY" gives X1, X2, Y; "\t A\t\tB" gives A, B.
HeaderNames splitHeader(std::string_view headerLine);
std::vector<std::string> headerToNames(std::string_view headerLine);

// True for a name ending in ".csv" in any case: such a file is read as CSV.
bool isCsvFileName(std::string_view name);

// Looks at every data line of an open data file (read as CSV with that
// separator, or in free form when it is 0) and counts what each of its
// columns holds; the unit is rewound before and after.
ColumnSurvey surveyColumns(platform::Runtime& runtime, int unit, char csvSeparator,
                           std::size_t columns);

// The scan of a chosen file: trace "open " + name, open it read-only on the
// data unit (created empty when missing), read the header and count the
// rows, add the log variables, rewind, reset RunOptions to its defaults and,
// when rows were found, run the Prepare dialog. A CSV file (by its name, or
// any file when state.readAsCsv is set) is read by the rules of
// app/csv_reader.h, and the table remembers its separator for the Run. Every scan starts its row
// buffer from zeros. What the reading rules did to the file (rows skipped or
// completed from the row before, names dropped, cut or alike) is said once,
// on the screen and in the log, when it happened.
//
// Refusals: anything that is not a regular file, or a file that cannot be
// opened or read, leaves DataTable as it was (the previous data file stays
// open); a first line without names clears DataTable as an empty file does.
// Each says so on the screen and in the log and is added to state.problems.
void readDataFile(platform::Runtime& runtime, AppState& state, std::string_view fileName);

// Menu command: the open-file dialog (the previous name offered again), then
// the scan of the chosen file. Cancelling changes nothing.
void inputDataFile(platform::Runtime& runtime, AppState& state);

}  // namespace tavel::app

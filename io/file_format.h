// SPDX-License-Identifier: GPL-3.0-or-later
// Which reader a data file gets: free form, or CSV with its separator. The
// scan, the Run's re-read (through DataTable::csvSeparator) and Predict New
// Data choose alike, so a model predicts the file it was fitted on.
//
// - ".tsv" and ".tab" files (and every file when tab reading is asked for)
//   are CSV with the tab as the separator: an empty cell is a missing value.
// - ".csv" files (and every other file when CSV is asked for) are CSV with
//   commas, or semicolons and decimal commas (detectCsvSeparator).
// - Any other file, standard input's copy included, is looked at: it is CSV
//   when its first line holds double-quoted names, or when its first data
//   lines hold as many commas, semicolons or tabs (at least one) outside
//   quotes as the first line and splitting at blanks would read the file
//   otherwise. A file whose lines agree with its header when split at
//   blanks, such as a blank- or tab-separated table, stays free form.
//
// Example: "A;B\n1,5;2\n" named data.txt is CSV with ';'; "A\tB\n1\t2\n"
// named data.dat is free form; the same bytes named data.tsv are CSV.
#pragma once

#include <string>
#include <string_view>

#include "platform/runtime.h"

namespace tavel::io {

// Data lines the look at a file's content takes into account.
inline constexpr int kSniffDataLines = 20;

// True for a name ending in ".tsv" or ".tab" in any case.
bool isTabFileName(std::string_view name);

// What the user asked for whatever the file's name (tavel-batch --csv and
// --tsv); both false in the GUI.
struct ReadingAsked {
  bool csv = false;
  bool tsv = false;
};

// The separator for the file open on unit, read from its start (the unit is
// rewound afterwards): 0 for free form, else ',', ';' or '\t'.
char chooseFileReading(platform::Runtime& runtime, int unit, std::string_view fileName,
                       ReadingAsked asked);

// The content test alone (the unit is rewound afterwards): 0 when the file
// is to be read in free form.
char sniffCsvSeparator(platform::Runtime& runtime, int unit);

// The line the scan says once for a file read as CSV.
std::string csvReadingLine(char separator);

}  // namespace tavel::io

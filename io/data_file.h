// SPDX-License-Identifier: GPL-3.0-or-later
// The scan of a data file: read it once to fill DataTable with the names of
// the header line, the number of readable rows, and a "_ln_" log variable for
// every column whose values are all positive. The file stays open on the
// data unit, rewound, for the Run. The scan asks nothing and opens no
// dialog: what the user chose (CSV or tab reading, a worksheet) comes in a
// ReadingRequest.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "io/column_kinds.h"
#include "io/data_table.h"
#include "io/header_names.h"
#include "platform/runtime.h"

namespace tavel::io {

// Characters of a log variable's name taken from its column's name.
inline constexpr int kLnNameChars = kNameLength - 4;

// True for a name ending in ".csv" in any case: such a file is read as CSV.
bool isCsvFileName(std::string_view name);

// Looks at every data line of an open data file (read as CSV with that
// separator, or in free form when it is 0) and counts what each of its
// columns holds; the unit is rewound before and after.
ColumnSurvey surveyColumns(platform::Runtime& runtime, int unit, char csvSeparator,
                           std::size_t columns);

// How the user asked a data file to be read, whatever its name.
struct ReadingRequest {
  bool readAsCsv = false;  // every file as CSV (tavel-batch --csv)
  bool readAsTsv = false;  // every file as CSV with tabs (--tsv)
  // The worksheet of a workbook, by name or 1-based number; empty: the first.
  std::string sheetAsked;
};

// The scan of a chosen file: trace "open " + name, open it read-only on the
// data unit (created empty when missing), read the header and count the
// rows, add the log variables and rewind. The reader is chosen by
// io/file_format.h (free form, or CSV by the rules of io/csv_reader.h) and
// the table remembers a CSV separator for the Run. Every scan starts its row
// buffer from zeros. What the reading rules did to the file (rows skipped or
// completed from the row before, names dropped, cut or alike) is said once,
// on the screen and in the log, when it happened; lines of the file that
// disagree with its names here and there are also added to warnings (which
// the scan clears first). True when the scan reached its end.
//
// Refusals: anything that is not a regular file, or a file that cannot be
// opened or read, leaves the table as it was (the previous data file stays
// open); a first line without names clears the table as an empty file does.
// Each says so on the screen and in the log and is added to problems.
bool scanDataFile(platform::Runtime& runtime, const ReadingRequest& request,
                  std::string_view fileName, DataTable& data, std::vector<std::string>& problems,
                  std::vector<std::string>& warnings);

// Opens the file a scan read (its worksheet, for a workbook) on the data
// unit, rewound, as the scan leaves it; false when that is not possible.
bool openScannedFile(platform::Runtime& runtime, const DataTable& data);

}  // namespace tavel::io

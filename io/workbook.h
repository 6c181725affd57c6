// SPDX-License-Identifier: GPL-3.0-or-later
// Worksheets of .xlsx (Office Open XML) and .ods (OpenDocument) workbooks as
// the rows of a CSV file, so that the CSV reader's rules (names, missing
// marks, text columns, ISO dates, row names) apply to a worksheet unchanged:
// the scan, the Run's re-read and Predict New Data read the same cells.
//
// What a cell becomes: a number as stored (shortest digits that give the
// same double); a number formatted as a date (or an ODS date) an ISO date,
// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS[.fff]"; a string (shared, inline or a
// formula's cached text) its text, quoted, line ends as blanks; a boolean
// TRUE or FALSE; an empty cell or an error value (#N/A, #DIV/0!) nothing,
// which the CSV rules take as missing. Rows before the first row with names
// are skipped when they are empty or hold only titles merged over several
// columns; columns before the first one that holds a cell are dropped.
//
// Bounds: an XML part larger than the limit uncompressed (2 GiB; a smaller
// one in tests) is refused before it is read, and its reading stops there
// should the archive understate it; a workbook whose parts are missing or
// whose references climb out of the package ("..", a drive, an external
// link) is refused. Only the parts the workbook names are read, by name;
// nothing is extracted.
//
// Example: a sheet with A1 "T", B1 "note", A2 300 and B2 "ok" gives
// `T,"note"` and `300,"ok"`.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime.h"

namespace tavel::io {

inline constexpr std::uint64_t kMaxWorkbookPartBytes = std::uint64_t{2} << 30;

// True for a name ending in ".xlsx", ".xlsm" or ".ods" in any case.
bool isWorkbookFileName(std::string_view name);

struct WorkbookLimits {
  std::uint64_t maxPartBytes = kMaxWorkbookPartBytes;
};

// The names of a workbook's sheets in their order. False with the reason.
bool workbookSheetNames(const std::string& path, std::vector<std::string>& names, std::string& why,
                        const WorkbookLimits& limits = {});

// What was read of a workbook.
struct SheetRead {
  std::string sheetName;
  int sheetNumber = 0;  // 1-based
  int sheetCount = 0;
  std::uint64_t namesRow = 0;  // the sheet's row (1-based) that held the names; 0: none
};

// Writes the chosen sheet as CSV lines (',' separated, each ending in '\n')
// to sink, which returns false when it cannot take more. asked is empty for
// the first sheet, a sheet's name, or its 1-based number (a name wins).
// False with the reason (for a refusal, or when the sink failed).
bool writeSheetAsCsv(const std::string& path, std::string_view asked,
                     const std::function<bool(std::string_view)>& sink, SheetRead& read,
                     std::string& why, const WorkbookLimits& limits = {});

// Opens the unit for reading on the CSV form of the sheet: a private
// temporary file, removed as soon as it is open (the unit keeps it).
bool openWorkbookForReading(platform::Runtime& runtime, int unit, const std::string& path,
                            std::string_view asked, SheetRead& read, std::string& why);

// The line the scan says for the sheet it read.
std::string sheetReadingLine(const SheetRead& read);

}  // namespace tavel::io

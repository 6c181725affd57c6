// SPDX-License-Identifier: GPL-3.0-or-later
// The results of the last Run as a table a spreadsheet, pandas or R opens
// as it is (File / "Export Results...", tavel-batch --export): one row per
// observation under a header of names, no counts line, no trailing
// separators, every value at full precision. Beside it the run's settings
// and figures: a second sheet "summary" of an .xlsx file, or NAME.summary.csv
// beside NAME.csv.
//
// Columns: each variable of the run (predictors, then the response), each
// one's transformation (NAME_Tr), Sum_Tr_Indep, and when the response is
// monotone its prediction NAME_Predicted and NAME_Residual (measured minus
// predicted), for a "_ln_" response also on the raw scale; when the data
// were equilibrated, each variable's equilibrated value (NAME_Corr).
//
// CSV: comma separated, a field quoted (quotes doubled) when it holds a
// comma, a quote, a line end or blanks at its ends; numbers in the
// shortest digits that read back as the same double. The .xlsx file is
// written with libxlsxwriter, numbers as numbers (in the 16 significant
// digits that library writes), in a private folder and then put in place by
// the safe writer, so a failed export leaves an earlier file as it was.
//
// Example: a run of T and P on y gives the header
// T,P,y,T_Tr,P_Tr,y_Tr,Sum_Tr_Indep,y_Predicted,y_Residual
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/records.h"
#include "platform/runtime.h"

namespace tavel::app {

inline constexpr std::string_view kExportDialogTitle = "Export Results";

// True for a name ending in ".xlsx" (any case); otherwise the export is CSV.
bool isXlsxExportName(std::string_view name);
// "results.csv" -> "results.summary.csv"; a name without ".csv" gets
// ".summary.csv" added.
std::string summaryCsvName(std::string_view csvName);
// The files an export to name writes: name, and for CSV its summary.
std::vector<std::string> exportFiles(std::string_view name);

// The results table: a header and the columns of values.
struct ResultsTable {
  std::vector<std::string> header;
  std::vector<std::vector<double>> columns;  // columns[c][i]: observation i
};
ResultsTable resultsTable(const RunResults& results);

// The summary: rows of a quantity, the variable it belongs to (or empty)
// and its value, a number or a text.
struct SummaryRow {
  std::string quantity;
  std::string variable;
  std::string text;  // when not a number
  double number = 0.0;
  bool isNumber = false;
};
std::vector<SummaryRow> summaryRows(const RunResults& results);

// One CSV field, quoted when needed.
std::string csvField(std::string_view text);
// A number as its shortest round-trip digits; an empty field when not finite.
std::string csvNumber(double value);
std::string resultsCsv(const ResultsTable& table);
std::string summaryCsv(const std::vector<SummaryRow>& rows);

// Writes the export of state.results to path (relative names from the
// runtime's folder). Without results, or when a file cannot be written,
// the reason goes to the screen and the log and into state.problems, and
// false is returned; a success says " Results exported to NAME".
bool exportResults(platform::Runtime& runtime, AppState& state, const std::string& path);

// Menu command: the save dialog ("results.xlsx" offered), then the export.
void onExportResults(platform::Runtime& runtime, AppState& state);

}  // namespace tavel::app

// SPDX-License-Identifier: GPL-3.0-or-later
// What a run reports in text: the echo of its input, the equilibration
// notice, the prediction statistics, the closing report (squared correlation
// and the tables of the variables), and the two tab-separated spreadsheets
// Taveltr.xls and Tavelcr.xls.
//
// Every block goes to the main output window (short form: the first three
// observations) and to the log on unit 2 (every observation). Lines are built
// in one reused buffer, so a log of a million observations costs little more
// than the bytes it holds.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/records.h"
#include "platform/runtime.h"
#include "run/inverse_stats.h"

namespace tavel::run {

inline constexpr std::string_view kTransformSheetName = "Taveltr.xls";
inline constexpr std::string_view kCorrectionSheetName = "Tavelcr.xls";

// Observations shown on the main output window per table.
inline constexpr int kScreenRows = 3;

// The arrays a report prints: column-major with n rows, p predictors.
struct ReportArrays {
  int n = 0;
  int p = 0;
  const double* x = nullptr;      // (n, p)
  const double* y = nullptr;      // (n)
  const double* tx = nullptr;     // (n, p)
  const double* ty = nullptr;     // (n)
  const double* xEq = nullptr;    // (n, p); none (0.0 printed) when equilibration did not run
  const double* yEq = nullptr;    // (n): 0.0 when equilibration did not run
  const double* sumTx = nullptr;  // (n)
  const double* yPred = nullptr;  // (n)
};

// The 50-character names by engine position: names[j] for predictor j+1,
// names[p] for the response.
std::vector<std::string> engineNames(const app::DataTable& data,
                                     const app::VarSelection& selection);

// A name without its trailing blanks.
std::string_view trimmedName(std::string_view name);

// The heading, the "Column:" and "Flag:" lines and the data rows; then the
// line "  ..." after the rows on the main output window. codes: l(1..p+1).
void writeInputEcho(platform::Runtime& runtime, const std::vector<std::string>& names,
                    const int* codes, const ReportArrays& arrays);

// "  EQUILIBRATION IS ENABLED", screen then log.
void writeEquilibrationNotice(platform::Runtime& runtime);

// " Avedev=..." screen then log.
void writePredictionStats(platform::Runtime& runtime, const PredictionStats& stats);

// The two " Exp_..." lines, each screen then log.
void writeBackTransformedStats(platform::Runtime& runtime, const ExpStats& stats);

// The final squared correlation and the response and predictor tables.
void writeClosingReport(platform::Runtime& runtime, double rsq, const ReportArrays& arrays);

// Writes Taveltr.xls (replacing an earlier one only when complete) and then
// "Taveltr.xls is done" on the screen. prediction: the response's code is
// "Monotone Tr", so sumTx and yPred hold the prediction (else 0.0 columns).
// logResponse: the response is a "_ln_" variable (two further columns).
// When the file cannot be written the earlier file stays, a line saying so
// goes to the screen and the log (it mentions the earlier file only when
// there was one), and false is returned.
bool writeTransformSheet(platform::Runtime& runtime, const std::vector<std::string>& names,
                         const ReportArrays& arrays, bool prediction, bool logResponse);

// Writes Tavelcr.xls (raw and equilibrated values) and "Tavelcr.xls is done";
// failures as for writeTransformSheet.
bool writeCorrectionSheet(platform::Runtime& runtime, const std::vector<std::string>& names,
                          const ReportArrays& arrays);

struct SheetResults {
  bool transform = false;   // Taveltr.xls written
  bool correction = false;  // Tavelcr.xls written (when asked for)
  // One line per file that could not be written, as told on the screen
  // (without the leading blank).
  std::vector<std::string> problems;
};

// Both spreadsheets in one pass over the observations (the raw values they
// share are formatted once): the same files and screen lines as
// writeTransformSheet followed, when correction is true, by
// writeCorrectionSheet, in less time for large runs.
SheetResults writeSpreadsheets(platform::Runtime& runtime, const std::vector<std::string>& names,
                               const ReportArrays& arrays, bool prediction, bool logResponse,
                               bool correction);

}  // namespace tavel::run

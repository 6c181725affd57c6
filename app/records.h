// SPDX-License-Identifier: GPL-3.0-or-later
// The records the shell and the Run share: the data file scan, the variable
// selection and the run options, plus the application state that holds one
// instance of each. Storage is 0-based; the 1-based numbers of the
// documented behaviour (variable numbers, engine positions) map to index - 1.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ace/ace.h"
#include "ace/ace_settings.h"
#include "app/io_names.h"
#include "app/run_results.h"
#include "app/stage_timings.h"
#include "io/data_table.h"
#include "model/model.h"
#include "model/variable_flag.h"

namespace tavel::app {

inline constexpr int kMaxIncluded = 30;  // rows of the include list

// Unit numbers: the data unit and the log's are io's (io/data_table.h).

// The plot windows of a Run, in the order it draws them. e is an engine
// position counted from 0: 0..p-1 the independents, p the dependent.
inline constexpr int kFirstPlotUnitNumber = 11;
// The optimal transformation of engine position e.
constexpr int transformationPlotUnit(int e) { return kFirstPlotUnitNumber + e; }
// The transformed dependent against the sum of the transformed independents.
constexpr int correlationPlotUnit(int p) { return transformationPlotUnit(p) + 1; }
// The data correction of engine position e (equilibration only).
constexpr int correctionPlotUnit(int p, int e) { return correlationPlotUnit(p) + 1 + e; }
// The prediction through the inverse transformation: after the correction
// plots when the run equilibrated, else after the correlation plot.
constexpr int predictionPlotUnit(int p, bool equilibrated) {
  return equilibrated ? correctionPlotUnit(p, p) + 1 : correlationPlotUnit(p) + 1;
}
// The back-transformed prediction of a log dependent.
constexpr int backTransformedPlotUnit(int p, bool equilibrated) {
  return predictionPlotUnit(p, equilibrated) + 1;
}
// The highest unit a Run's plots take: every independent the include list
// holds, equilibration and a log dependent.
inline constexpr int kLastPossiblePlotUnit = backTransformedPlotUnit(kMaxIncluded - 1, true);

// The spreadsheets' units lie above every plot window a Run can open: on 21
// and 22 they closed the plots that had those units.
inline constexpr int kTransformSheetUnit = 81;
inline constexpr int kCorrectionSheetUnit = 82;
static_assert(kTransformSheetUnit > kLastPossiblePlotUnit &&
              kCorrectionSheetUnit > kLastPossiblePlotUnit);

// Characters of AppState::plotSubtitle, the second title line of a plot.
inline constexpr int kPlotSubtitleLength = 40;

// The scan's table and its helpers are io's; the shell and the Run name
// them as their own.
using io::categoryLabels;
using io::columnKind;
using io::DataTable;
using io::readingPlan;

struct VarSelection {
  int p = 0;               // number of independents; below 1: no usable selection
  std::vector<int> indep;  // indep[j-1]: variable number of engine position j
  int dep = 0;             // variable number of the dependent (engine position p+1)
  int depChoice = 1;       // include-list row of the chosen radio button (1..30)
  std::vector<int> fromltoreg =
      std::vector<int>(kMaxIncluded + 1, 0);  // [i-1]: engine position of row i
};

struct RunOptions {
  // l[e-1]: the flag of engine position e.
  std::vector<model::VarFlag> l =
      std::vector<model::VarFlag>(kMaxIncluded + 1, model::VarFlag::Orderable);
  // The engine's defaults: NumTerm 2, DelRsq 1.0e-4 in single precision
  // (9.999999747378752e-05).
  int NumTerm = ace::AceOptions{}.NumTerm;
  double DelRsq = ace::AceOptions{}.DelRsq;
  bool Equilibration = false;
  bool ScreenCaptures = false;
  int CvFolds = 0;  // K of the cross-validation after a Run; 0: none
  // Smoothness of the supersmoother: the engine's own bass and adaptive span
  // (0) unless the user chooses; Tune lets the cross-validation choose.
  double Bass = ace::AceSettings{}.bass;
  double Span = ace::AceSettings{}.fixed_span;
  bool Tune = false;
  // How the Run's model and its cross-validation invert a score beyond the
  // fitted range of the response's transformation (not the Run's own
  // in-sample prediction, which always extends the end intervals).
  model::Extrapolation extrapolate = model::Extrapolation::Hold;
};

// The flags as the engine's codes (l(1..) of its interface), one per entry.
inline std::vector<int> engineCodes(const std::vector<model::VarFlag>& flags) {
  std::vector<int> codes;
  codes.reserve(flags.size());
  for (model::VarFlag f : flags) codes.push_back(model::engineCode(f));
  return codes;
}

// One instance per process; passed by reference, so tests start fresh.
struct AppState {
  DataTable data;
  VarSelection selection;
  RunOptions options;
  ace::AceSettings aceSettings;
  int captureCounter = 0;
  int firstPlotUnit = 0;
  int lastPlotUnit = 0;
  std::string plotSubtitle = std::string(kPlotSubtitleLength, ' ');
  // What a command was asked to do and could not (a refused Run, an engine
  // error, an output file or log that could not be written), one line each,
  // in the order they happened. The GUI has already shown them; tavel-batch
  // prints them on standard error and exits 1 when any are left.
  std::vector<std::string> problems;
  // What a command did that the user should know of but that is no failure
  // (lines of a data file that disagree with its names here and there), one
  // line each; tavel-batch prints them on standard error as warnings.
  std::vector<std::string> warnings;
  // How the current menu command ended, in one line for the status bar
  // ("Run done in 0.3 s: ...", "Run refused: ..."). A command that sets none
  // gets one from the shell: its first problem, or that it is done.
  std::string status;
  // The current model: the last Run that reached its end keeps its own, and
  // File / Open Model replaces it. Empty after a Run that did not finish.
  std::optional<model::Model> model;
  // The values and figures of the last Run that reached its end, for the
  // results export; empty after a Run that did not finish.
  std::optional<RunResults> results;
  // Whether a Run keeps its model and its results for later commands. The
  // GUI keeps both (Save Model, Export Results may follow); tavel-batch
  // knows beforehand and keeps only what its options ask for, since each
  // costs as much memory as the fit's own columns.
  bool keepModel = true;
  bool keepResults = true;
  // Every data file is read as CSV, whatever its name (tavel-batch --csv).
  bool readAsCsv = false;
  // Every data file is read as CSV with tabs, whatever its name (--tsv).
  bool readAsTsv = false;
  // The worksheet of a workbook to read, by name or 1-based number
  // (tavel-batch --sheet, the GUI's question); empty: the first.
  std::string sheetAsked;
  // Time per stage of the commands (tavel-batch --timings).
  StageTimings timings;
};

}  // namespace tavel::app

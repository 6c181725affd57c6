// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/data_file.h"

#include <string>
#include <utility>
#include <vector>

#include "app/prepare_dialog.h"
#include "app/sheet_dialog.h"
#include "io/data_file.h"
#include "io/trace.h"

namespace tavel::app {
namespace {

void resetRunOptions(RunOptions& options) {
  const RunOptions defaults;
  options.NumTerm = defaults.NumTerm;
  options.DelRsq = defaults.DelRsq;
  options.Equilibration = defaults.Equilibration;
  options.ScreenCaptures = defaults.ScreenCaptures;
  options.CvFolds = defaults.CvFolds;
  options.Bass = defaults.Bass;
  options.Span = defaults.Span;
  options.Tune = defaults.Tune;
  options.extrapolate = defaults.extrapolate;
}

}  // namespace

void refuse(platform::Runtime& runtime, AppState& state, std::string_view line) {
  io::refuse(runtime, state.problems, line);
}

ReadingAsked readingAsked(const AppState& state) {
  return ReadingAsked{.csv = state.readAsCsv, .tsv = state.readAsTsv};
}

bool readDataFile(platform::Runtime& runtime, AppState& state, std::string_view fileName) {
  const StageTimer timer(state.timings, "scan");
  const io::ReadingRequest request{
      .readAsCsv = state.readAsCsv, .readAsTsv = state.readAsTsv, .sheetAsked = state.sheetAsked};
  if (!io::scanDataFile(runtime, request, fileName, state.data, state.problems, state.warnings))
    return false;
  // A new data file starts from the default options.
  resetRunOptions(state.options);
  return true;
}

bool takeDataFileScan(platform::Runtime& runtime, AppState& state, EarlierScan scan) {
  for (const std::string& line : scan.lines) io::traceBoth(runtime, line);
  state.warnings = std::move(scan.warnings);
  if (!io::openScannedFile(runtime, scan.table)) {
    refuse(runtime, state, " error: cannot read " + scan.table.dataFileName);
    return false;
  }
  state.data = std::move(scan.table);
  resetRunOptions(state.options);
  return true;
}

bool inputDataFile(platform::Runtime& runtime, AppState& state,
                   const std::function<void()>& chosen) {
  const std::vector<platform::FileFilter> filters = {{"Data files(*.DAT)", "*.dat"},
                                                     {"All files(*.*)", "*.*"},
                                                     {"CSV files(*.CSV)", "*.csv"},
                                                     {"Spreadsheets", "*.xlsx *.ods"}};
  std::string name = state.data.dataFileName;
  if (!runtime.openFileDialog(kDataFileDialogTitle, filters, name) || name.empty()) return false;
  if (chosen) chosen();
  bool scanned = false;
  readChosenSheet(runtime, state, name, [&] { scanned = readDataFile(runtime, state, name); });
  if (scanned && state.data.nRows != 0) prepareDialog(runtime, state);
  return true;
}

}  // namespace tavel::app

// The Run command, stage by stage. The order of the stages is what users see
// (screen, log, windows, files), so it is kept exactly; the work arrays live
// only for the length of the command and are sized by the number of chosen
// variables, not by the largest selection.
#include "run/run_command.h"

#include <cmath>
#include <cstddef>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ace/ace.h"
#include "app/csv_reader.h"
#include "app/free_form_reader.h"
#include "run/column_scale.h"
#include "run/inverse_stats.h"
#include "run/model_hooks.h"
#include "run/report.h"
#include "run/result_plots.h"

namespace tavel::run {
namespace {

constexpr std::string_view kLogFileName = "Tavel.log";
constexpr int kScratchColumns = 12;  // what the engine asks for
constexpr std::string_view kLogLostLine =
    " Tavel.log cannot be opened for writing: this run is not logged.";

// Every array of one run, zero-filled, column-major with n rows.
struct WorkArrays {
  WorkArrays(int n, int p, int numCol1)
      : y(n),
        x(static_cast<std::size_t>(n) * p),
        w(n, 1.0),
        ty(n),
        tx(static_cast<std::size_t>(n) * p),
        m(static_cast<std::size_t>(n) * (p + 1)),
        z(static_cast<std::size_t>(n) * kScratchColumns),
        rowBuf(numCol1),
        tableRaw(n),
        tableTransformed(n),
        xEq(static_cast<std::size_t>(n) * p),
        yEq(n),
        eqTarget(n),
        sumTx(n),
        yPred(n),
        expPred(n) {}

  std::vector<double> y, x, w, ty, tx;
  std::vector<int> m;
  std::vector<double> z, rowBuf, tableRaw, tableTransformed, xEq, yEq, eqTarget, sumTx, yPred,
      expPred;
};

void toScreenAndLog(platform::Runtime& runtime, std::string_view line) {
  runtime.writeLine(platform::kScreenUnit, line);
  runtime.writeLine(app::kLogUnit, line);
}

// Something the Run was asked to do and could not: said on the screen and in
// the log (on disk at once), and kept for tavel-batch's exit status.
void refuse(platform::Runtime& runtime, app::AppState& state, const std::string& line) {
  toScreenAndLog(runtime, line);
  runtime.flush(app::kLogUnit);
  const std::size_t text = line.find_first_not_of(' ');
  state.problems.push_back(text == std::string::npos ? line : line.substr(text));
}

// The log is closed and opened again in append mode at fixed points of a run,
// so that what has been written so far is on disk whatever happens next.
// False when it cannot be opened again.
bool reopenLog(platform::Runtime& runtime) {
  runtime.close(app::kLogUnit);
  if (!runtime.openFile(app::kLogUnit, kLogFileName, true)) {
    runtime.writeLine(platform::kScreenUnit, kLogLostLine);
    return false;
  }
  return true;
}

// The value of variable number v from one data row: a file column, or the
// natural logarithm of the file column a log variable stands for.
double variableValue(const app::DataTable& data, const std::vector<double>& row, int v) {
  if (v <= data.numCol1) return row[v - 1];
  return std::log(row[data.lnSource[v - 1] - 1]);
}

// Reads the data rows again from the open data file with the scan's reading
// rules. Rows beyond the n allocated ones are counted but not stored. Returns
// the number of readable rows in the file.
int rereadData(platform::Runtime& runtime, const app::AppState& state, WorkArrays& a, int n,
               int p) {
  const app::DataTable& data = state.data;
  const app::VarSelection& sel = state.selection;
  // The row buffer starts as the scan's did, so an empty field in the first
  // row keeps the same value in both passes.
  for (int j = 0; j < data.numCol1 && j < static_cast<int>(data.rowCarryIn.size()); ++j)
    a.rowBuf[j] = data.rowCarryIn[j];

  int count = 0;
  const auto keep = [&] {
    if (count < n) {
      a.y[count] = variableValue(data, a.rowBuf, sel.dep);
      for (int j = 0; j < p; ++j)
        a.x[static_cast<std::size_t>(j) * n + count] = variableValue(data, a.rowBuf, sel.indep[j]);
    }
    ++count;
  };
  runtime.rewind(app::kDataUnit);
  if (data.csvSeparator != 0) {
    app::CsvReader reader(runtime, app::kDataUnit, data.csvSeparator);
    std::vector<std::string> names;
    if (reader.readHeader(names, 0))
      while (reader.nextRow(std::span<double>(a.rowBuf))) keep();
    return count;
  }
  app::FreeFormReader reader(runtime, app::kDataUnit);
  if (reader.discardRecord() == platform::ReadResult::Success)
    while (reader.nextRow(std::span<double>(a.rowBuf))) keep();
  return count;
}

bool variableFitsData(const app::DataTable& data, int v) {
  if (v < 1 || v > data.numCol || v > static_cast<int>(data.colName.size())) return false;
  if (v <= data.numCol1) return true;
  if (v > static_cast<int>(data.lnSource.size())) return false;
  const int source = data.lnSource[v - 1];
  return source >= 1 && source <= data.numCol1;
}

bool selectionFitsData(const app::DataTable& data, const app::VarSelection& sel) {
  if (sel.p > app::kMaxIncluded || static_cast<int>(sel.indep.size()) < sel.p) return false;
  for (int j = 0; j < sel.p; ++j)
    if (!variableFitsData(data, sel.indep[j])) return false;
  return variableFitsData(data, sel.dep);
}

std::string tooFewLine(int n) {
  return " Too few observations for the smoothers: " + std::to_string(n) + " rows (at least " +
         std::to_string(kMinRunObservations) + " are needed). Run stopped.";
}

// More independents than observations leave the fit without meaning (any
// data fit exactly); the engine is not asked.
std::string tooFewForPredictorsLine(int n, int p) {
  return " Too few observations for " + std::to_string(p) +
         " independent variables: " + std::to_string(n) + " rows (at least " + std::to_string(p) +
         " are needed). Run stopped.";
}

std::string estimateFailedLine(int ierr) {
  return " The estimate failed (ierr = " + std::to_string(ierr) +
         "): no plots or spreadsheets were made.";
}

bool allFinite(const double* v, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

// The checks of every column of the engine's input: names[j] for predictor
// j + 1, names[p] for the response. Returns the refusal line of the first
// column that cannot be analysed, or an empty string; exponents receives
// the scaling of each column.
std::string checkColumns(const std::vector<std::string>& names, const int* codes,
                         const WorkArrays& a, int n, int p, std::vector<int>& exponents) {
  exponents.assign(static_cast<std::size_t>(p) + 1, 0);
  for (int j = 0; j <= p; ++j) {
    const double* column = j < p ? a.x.data() + static_cast<std::size_t>(j) * n : a.y.data();
    const bool circular = codes[j] == app::kCircular || codes[j] == -app::kCircular;
    const ColumnCheck check = checkColumn(column, n, circular);
    const std::string name(trimmedName(names[static_cast<std::size_t>(j)]));
    switch (check.state) {
      case ColumnState::kNotFinite:
        return " The value of " + name + " in observation " + std::to_string(check.row + 1) +
               " is not a finite number. Run stopped.";
      case ColumnState::kTooWide:
        return " The values of " + name +
               " span too many orders of magnitude to be analysed together. Run stopped.";
      case ColumnState::kTinyCircle:
        return " " + name +
               " is Circular with a period of 1, but all its values are below 1e-100; "
               "choose another flag. Run stopped.";
      case ColumnState::kUsable:
        exponents[static_cast<std::size_t>(j)] = check.exponent;
        break;
    }
  }
  return {};
}

}  // namespace

void onRun(platform::Runtime& runtime, app::AppState& state, app::Shell& shell) {
  app::DataTable& data = state.data;
  const app::VarSelection& sel = state.selection;
  app::RunOptions& options = state.options;

  // Stage 2: no data file scanned or nothing selected.
  if (data.numCol1 == 0 || sel.p < 1) return;
  // A selection left over from an earlier file may name variables this file
  // does not have; it counts as no selection rather than a read past the
  // tables.
  if (!selectionFitsData(data, sel)) return;
  // A model is only as current as the last Run: one that does not reach its
  // end leaves none, so no later prediction uses a fit of other data.
  state.model.reset();
  const int p = sel.p;
  const int allocated = data.nRows;
  if (allocated < kMinRunObservations) {
    refuse(runtime, state, tooFewLine(allocated));
    return;
  }
  if (p > allocated) {
    refuse(runtime, state, tooFewForPredictorsLine(allocated, p));
    return;
  }

  // Stage 1: the work arrays (zero-filled; the weights all 1.0, stage 6).
  WorkArrays a(allocated, p, data.numCol1);
  const int* l = options.l.data();

  // Stage 3.
  bool allMonotone = true;
  for (int i = 0; i < p + 1; ++i) allMonotone = allMonotone && l[i] == app::kMonotone;

  // Stage 4.
  ace::AceSettings& settings = state.aceSettings;
  settings.bass = 5.0;
  settings.max_iterations = 10;
  settings.trial_spans = {0.05, 0.2, 0.5};
  settings.huge_value = 1e20;
  settings.tiny_value = 1e-7;
  settings.scale_fraction = 0.001;
  settings.fixed_span = 0.0;

  // Stage 5: the previous run's plot windows disappear.
  if (state.firstPlotUnit > 0) {
    for (int u = state.firstPlotUnit; u <= state.lastPlotUnit; ++u) runtime.close(u);
  }
  // From here on a run that stops early has no windows to close next time.
  auto forgetWindows = [&state] {
    state.firstPlotUnit = 0;
    state.lastPlotUnit = 0;
  };

  // Stage 7: re-read. A file that changed since its scan never writes past
  // the rows allocated; the run then uses the rows it has and says so.
  const int found = rereadData(runtime, state, a, allocated, p);
  data.nRows = found;
  const int n = found < allocated ? found : allocated;

  // Stage 8.
  runtime.clearFocusedWindow();
  if (found != allocated) {
    toScreenAndLog(runtime,
                   " The data file has changed since it was read: " + std::to_string(found) +
                       " rows found, " + std::to_string(n) + " rows used.");
  }
  if (n < kMinRunObservations || p > n) {
    forgetWindows();
    refuse(runtime, state, n < kMinRunObservations ? tooFewLine(n) : tooFewForPredictorsLine(n, p));
    return;
  }

  const std::vector<std::string> names = engineNames(data, sel);
  const std::string& depName = names[p];
  const bool logResponse = isLogVariableName(depName);
  // Columns were filled with the allocated row count as their stride; with a
  // file that shrank, close the gaps so every consumer sees n rows a column.
  const int ld = allocated;
  if (n != ld) {
    for (int j = 1; j < p; ++j)
      for (int i = 0; i < n; ++i)
        a.x[static_cast<std::size_t>(j) * n + i] = a.x[static_cast<std::size_t>(j) * ld + i];
  }
  std::vector<int> exponents;
  if (const std::string refusal = checkColumns(names, l, a, n, p, exponents); !refusal.empty()) {
    forgetWindows();
    refuse(runtime, state, refusal);
    return;
  }
  const ReportArrays report{.n = n,
                            .p = p,
                            .x = a.x.data(),
                            .y = a.y.data(),
                            .tx = a.tx.data(),
                            .ty = a.ty.data(),
                            .xEq = a.xEq.data(),
                            .yEq = a.yEq.data(),
                            .sumTx = a.sumTx.data(),
                            .yPred = a.yPred.data()};

  // Stage 9.
  bool logLost = !reopenLog(runtime);

  // Stage 10.
  writeInputEcho(runtime, names, l, report);
  runtime.flush(app::kLogUnit);

  // Columns beyond the magnitudes the engine's sums can hold go in and out
  // of the numeric stages scaled by a power of two (exact both ways).
  auto scaleAll = [&](int sign) {
    for (int j = 0; j < p; ++j) {
      const int e = sign * exponents[static_cast<std::size_t>(j)];
      const std::size_t col = static_cast<std::size_t>(j) * n;
      scaleColumn(a.x.data() + col, n, e);
      scaleColumn(a.xEq.data() + col, n, e);
    }
    const int e = sign * exponents[static_cast<std::size_t>(p)];
    scaleColumn(a.y.data(), n, e);
    scaleColumn(a.yEq.data(), n, e);
    scaleColumn(a.yPred.data(), n, e);
  };
  scaleAll(1);

  // Stage 11: the engine's lines go to the main output window.
  double rsq = 0.0;
  int ierr = 0;
  const ace::LineSink engineSink = [&runtime](std::string_view line) {
    runtime.writeLine(platform::kScreenUnit, line);
  };
  // Only the first NumTerm entries of the history are read, and the engine
  // sets them at every call, so a fresh history per run behaves the same.
  ace::RsqHistory rsqHistory{};
  ace::ace_estimate(n, p, a.x.data(), a.y.data(), a.w.data(), l, options.DelRsq, a.tx.data(),
                    a.ty.data(), rsq, ierr, a.m.data(), a.z.data(), n, settings, options.NumTerm,
                    rsqHistory, engineSink);

  // Stage 12.
  logLost = !reopenLog(runtime) || logLost;
  auto stop = [&](const std::string& line) {
    forgetWindows();
    refuse(runtime, state, line);
    if (logLost) state.problems.emplace_back(kLogLostLine.substr(1));
  };

  // After an engine error its transformations mean nothing: the engine has
  // said why, and no plot or file may present them as results (an earlier
  // Taveltr.xls stays as it was).
  if (ierr != 0) {
    stop(estimateFailedLine(ierr));
    return;
  }
  if (!std::isfinite(rsq) || !allFinite(a.tx.data(), a.tx.size()) ||
      !allFinite(a.ty.data(), a.ty.size())) {
    stop(
        " The estimate failed: its transformations are not finite numbers. "
        "No plots or spreadsheets were made.");
    return;
  }

  const LineSink screenSink = [&runtime](std::string_view line) {
    runtime.writeLine(platform::kScreenUnit, line);
  };
  const RunArrays run{n, p, a.x.data(), a.y.data(), a.tx.data(), a.ty.data(), a.m.data()};
  const bool equilibration = options.Equilibration && allMonotone;
  const bool prediction = l[p] == app::kMonotone;

  // The numbers of stages 13, 16 and 19 are all computed here, before any
  // window opens, so that a result that is not a number stops the run
  // instead of being drawn and written. The plots write nothing on the
  // screen, so the screen keeps the order of the stages.

  // Stage 13.
  if (equilibration) {
    writeEquilibrationNotice(runtime);
    equilibrate(run, a.tableRaw.data(), a.tableTransformed.data(), a.eqTarget.data(), a.xEq.data(),
                a.yEq.data(), screenSink);
  }
  // Stage 16.
  sumTransforms(n, p, a.tx.data(), a.sumTx.data());
  // Stage 19, its numbers.
  PredictionStats stats;
  if (prediction) {
    stats = predictResponse(run, a.sumTx.data(), a.tableRaw.data(), a.tableTransformed.data(),
                            a.yPred.data(), screenSink);
  }
  scaleAll(-1);
  const int yExponent = -exponents[static_cast<std::size_t>(p)];
  stats.Avedev = std::ldexp(stats.Avedev, yExponent);
  stats.Stdev = std::ldexp(stats.Stdev, yExponent);
  stats.Bias = std::ldexp(stats.Bias, yExponent);
  ExpStats expStats;
  if (prediction && logResponse)
    expStats = backTransformedStats(n, a.y.data(), a.yPred.data(), a.expPred.data());
  {
    const double values[] = {stats.Avedev,
                             stats.Stdev,
                             stats.Bias,
                             expStats.Exp_Avedev,
                             expStats.Exp_Stdev,
                             expStats.Exp_Bias,
                             expStats.Exp_AvedevPercent,
                             expStats.Exp_StdevPercent,
                             expStats.Exp_BiasPercent};
    const bool finite =
        allFinite(values, std::size(values)) && allFinite(a.xEq.data(), a.xEq.size()) &&
        allFinite(a.yEq.data(), a.yEq.size()) && allFinite(a.yPred.data(), a.yPred.size()) &&
        allFinite(a.expPred.data(), a.expPred.size());
    if (!finite) {
      stop(
          " The equilibrated or predicted values or their statistics are beyond the range of "
          "numbers. No plots or spreadsheets were made.");
      return;
    }
  }

  // Stage 14.
  app::deleteCapturePictures(runtime);
  shell.saveCapture(true);

  PlotContext plots{runtime, shell, state, {}};

  // Stage 15.
  for (int j = 0; j < p; ++j) {
    const std::size_t col = static_cast<std::size_t>(j) * n;
    if (!plotTransformation(plots, app::kFirstPlotUnitNumber + j, names[j], false, n,
                            a.x.data() + col, a.tx.data() + col))
      return;
  }
  if (!plotTransformation(plots, p + app::kFirstPlotUnitNumber, depName, true, n, a.y.data(),
                          a.ty.data()))
    return;
  state.firstPlotUnit = app::kFirstPlotUnitNumber;

  // Stage 17.
  if (!plotCorrelation(plots, p + 12, depName, rsq, n, a.sumTx.data(), a.ty.data())) return;
  state.lastPlotUnit = p + 12;

  // Stage 18.
  if (equilibration) {
    for (int j = 0; j < p; ++j) {
      const std::size_t col = static_cast<std::size_t>(j) * n;
      if (!plotCorrection(plots, p + 13 + j, names[j], n, a.x.data() + col, a.xEq.data() + col))
        return;
    }
    if (!plotCorrection(plots, 2 * p + 13, depName, n, a.y.data(), a.yEq.data())) return;
    state.lastPlotUnit = 2 * p + 13;
  }

  // Stage 19: the statistics and their plots.
  if (prediction) {
    writePredictionStats(runtime, stats);
    runtime.flush(app::kLogUnit);
    state.lastPlotUnit += 1;
    if (!plotPrediction(plots, state.lastPlotUnit, depName, stats.Avedev, stats.Stdev, n,
                        a.y.data(), a.yPred.data()))
      return;
    if (logResponse) {
      writeBackTransformedStats(runtime, expStats);
      runtime.flush(app::kLogUnit);
      state.lastPlotUnit += 1;
      // The measured values on their own scale; the engine's scratch is free now.
      double* expY = a.z.data();
      for (int i = 0; i < n; ++i) expY[i] = std::exp(a.y[i]);
      if (!plotExpPrediction(plots, state.lastPlotUnit, expStats.Exp_AvedevPercent,
                             expStats.Exp_StdevPercent, n, expY, a.expPred.data()))
        return;
    }
  }

  // Stage 20.
  logLost = !reopenLog(runtime) || logLost;

  // Stage 21.
  writeClosingReport(runtime, rsq, report);
  runtime.flush(app::kLogUnit);

  // Stages 22 and 23.
  SheetResults sheets =
      writeSpreadsheets(runtime, names, report, prediction, logResponse, equilibration);
  runtime.flush(app::kLogUnit);
  if (logLost) state.problems.emplace_back(kLogLostLine.substr(1));
  for (std::string& line : sheets.problems) state.problems.push_back(std::move(line));

  // The fit is kept as a model for new data, and scored out of sample when
  // asked for. A fit the engine refused is no model.
  if (ierr == 0) {
    keepRunModel(
        state, model::FitArrays{n, p, a.x.data(), a.y.data(), a.tx.data(), a.ty.data(), a.m.data()},
        rsq);
    crossValidateRun(runtime, state, n, p, a.x.data(), a.y.data());
  }
  // Stages 24 and 25: the work arrays go with this scope.
}

}  // namespace tavel::run

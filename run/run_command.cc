// The Run command, stage by stage. The order of the stages is what users see
// (screen, log, windows, files), so it is kept exactly; the work arrays live
// only for the length of the command and are sized by the number of chosen
// variables, not by the largest selection.
#include "run/run_command.h"

#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "ace/ace.h"
#include "app/free_form_reader.h"
#include "run/inverse_stats.h"
#include "run/model_hooks.h"
#include "run/report.h"
#include "run/result_plots.h"

namespace tavel::run {
namespace {

constexpr std::string_view kLogFileName = "Tavel.log";
constexpr int kScratchColumns = 12;  // what the engine asks for

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

// The log is closed and opened again in append mode at fixed points of a run,
// so that what has been written so far is on disk whatever happens next.
void reopenLog(platform::Runtime& runtime) {
  runtime.close(app::kLogUnit);
  if (!runtime.openFile(app::kLogUnit, kLogFileName, true)) {
    runtime.writeLine(platform::kScreenUnit,
                      " Tavel.log cannot be opened for writing: this run is not logged.");
  }
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

  runtime.rewind(app::kDataUnit);
  app::FreeFormReader reader(runtime, app::kDataUnit);
  int count = 0;
  if (reader.discardRecord() == platform::ReadResult::Success) {
    while (reader.nextRow(std::span<double>(a.rowBuf))) {
      if (count < n) {
        a.y[count] = variableValue(data, a.rowBuf, sel.dep);
        for (int j = 0; j < p; ++j)
          a.x[static_cast<std::size_t>(j) * n + count] =
              variableValue(data, a.rowBuf, sel.indep[j]);
      }
      ++count;
    }
  }
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
    toScreenAndLog(runtime, tooFewLine(allocated));
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
  if (n < kMinRunObservations) {
    // The windows of the previous run are already closed: forget them.
    state.firstPlotUnit = 0;
    state.lastPlotUnit = 0;
    toScreenAndLog(runtime, tooFewLine(n));
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
  reopenLog(runtime);

  // Stage 10.
  writeInputEcho(runtime, names, l, report);

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
  reopenLog(runtime);

  const LineSink screenSink = [&runtime](std::string_view line) {
    runtime.writeLine(platform::kScreenUnit, line);
  };
  const RunArrays run{n, p, a.x.data(), a.y.data(), a.tx.data(), a.ty.data(), a.m.data()};
  const bool equilibration = options.Equilibration && allMonotone;

  // Stage 13.
  if (equilibration) {
    writeEquilibrationNotice(runtime);
    equilibrate(run, a.tableRaw.data(), a.tableTransformed.data(), a.eqTarget.data(), a.xEq.data(),
                a.yEq.data(), screenSink);
  }

  // Stage 14.
  runtime.deleteFiles("pic_*.bmp");
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

  // Stage 16.
  sumTransforms(n, p, a.tx.data(), a.sumTx.data());

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

  // Stage 19.
  const bool prediction = l[p] == app::kMonotone;
  if (prediction) {
    const PredictionStats stats =
        predictResponse(run, a.sumTx.data(), a.tableRaw.data(), a.tableTransformed.data(),
                        a.yPred.data(), screenSink);
    writePredictionStats(runtime, stats);
    state.lastPlotUnit += 1;
    if (!plotPrediction(plots, state.lastPlotUnit, depName, stats.Avedev, stats.Stdev, n,
                        a.y.data(), a.yPred.data()))
      return;
    if (logResponse) {
      const ExpStats expStats =
          backTransformedStats(n, a.y.data(), a.yPred.data(), a.expPred.data());
      writeBackTransformedStats(runtime, expStats);
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
  reopenLog(runtime);

  // Stage 21.
  writeClosingReport(runtime, rsq, report);

  // Stages 22 and 23.
  writeSpreadsheets(runtime, names, report, prediction, logResponse, equilibration);

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

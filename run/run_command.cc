// SPDX-License-Identifier: GPL-3.0-or-later
// The Run command as a sequence of named stages, called in order by onRun.
// The order is what users see (screen, log, windows, files), so it is kept
// exactly; the work arrays live only for the length of the command and are
// sized by the number of chosen variables, not by the largest selection.
#include "run/run_command.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <filesystem>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "ace/ace.h"
#include "app/stage_timings.h"
#include "io/csv_reader.h"
#include "io/field_format.h"
#include "io/free_form_reader.h"
#include "io/row_reader.h"
#include "io/trace.h"
#include "model/column_scale.h"
#include "model/cross_validation.h"
#include "model/tuning.h"
#include "run/inverse_stats.h"
#include "run/model_hooks.h"
#include "run/report.h"
#include "run/result_plots.h"

namespace tavel::run {
using model::checkColumn;
using model::ColumnCheck;
using model::columnOffset;
using model::ColumnState;
using model::scaleColumn;
using model::shiftColumn;

namespace {

// The engine's codes of the flags the Run asks about.
constexpr int kCircularCode = model::engineCode(model::VarFlag::Circular);
constexpr int kMonotoneCode = model::engineCode(model::VarFlag::Monotone);
constexpr int kLinearCode = model::engineCode(model::VarFlag::Linear);

std::string logLostLine() {
  return " " + std::string(app::kLogFileName) +
         " cannot be opened for writing: this run is not logged.";
}

// The arrays of one run, column-major with n rows. The engine's own are
// allocated zero-filled before the re-read. What the stages after the
// engine compute lives in the engine's scratch z, which is free by then
// (ResultColumns), so a run needs little more memory than its engine; only
// the equilibrated predictors take an array of their own, and only when the
// run equilibrates.
struct WorkArrays {
  WorkArrays(int n, int p, int numCol1)
      : y(n),
        x(static_cast<std::size_t>(n) * p),
        w(n, 1.0),
        ty(n),
        tx(static_cast<std::size_t>(n) * p),
        m(static_cast<std::size_t>(n) * (p + 1)),
        z(static_cast<std::size_t>(n) * ace::kWorkColumns),
        rowBuf(numCol1) {}

  std::vector<double> y, x, w, ty, tx;
  std::vector<int> m;
  std::vector<double> z, rowBuf;
  std::vector<double> xEq;  // (n, p) when the run equilibrates, else empty
};

// The columns of z that the stages after the engine fill, n rows each,
// zeroed before use as fresh arrays would be.
struct ResultColumns {
  double* expY = nullptr;  // the measured values on their own scale, for a plot
  double* sumTx = nullptr;
  double* yPred = nullptr;
  double* expPred = nullptr;  // only for a "_ln_" dependent
  double* tableRaw = nullptr;
  double* tableTransformed = nullptr;
  double* eqTarget = nullptr;
  double* yEq = nullptr;
};
constexpr int kResultColumns = 8;
static_assert(kResultColumns <= ace::kWorkColumns, "the results live in the engine's scratch");

// Lines for the main output window, from the engine and the numeric stages.
LineSink screenLines(platform::Runtime& runtime) {
  return [&runtime](std::string_view line) { runtime.writeLine(platform::kScreenUnit, line); };
}

// Something the Run was asked to do and could not: said on the screen and in
// the log (on disk at once), and kept for tavel-batch's exit status.
void refuseRun(platform::Runtime& runtime, app::AppState& state, const std::string& line) {
  app::refuse(runtime, state, line);
  runtime.flush(app::kLogUnit);
}

// The log is closed and opened again in append mode at fixed points of a run,
// so that what has been written so far is on disk whatever happens next.
// False when it cannot be opened again.
bool reopenLog(platform::Runtime& runtime) {
  runtime.close(app::kLogUnit);
  if (!runtime.openFile(app::kLogUnit, app::kLogFileName, true)) {
    runtime.writeLine(platform::kScreenUnit, logLostLine());
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
  int count = 0;
  const auto keep = [&] {
    if (count < n) {
      a.y[count] = variableValue(data, a.rowBuf, sel.dep);
      for (int j = 0; j < p; ++j)
        a.x[static_cast<std::size_t>(j) * n + count] = variableValue(data, a.rowBuf, sel.indep[j]);
    }
    ++count;
  };
  // The scan's reading rules, plan of the columns and first row buffer:
  // labels and dates read as it read them, and an empty field in the first
  // row keeps the same value in both passes.
  io::RowReader reader(runtime, io::kDataUnit, io::rowFormat(data));
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

// The refusal of a run on `rows` rows of p independents, or an empty text:
// the smoothers need their minimum of rows, and more independents than
// observations leave the fit without meaning (any data fit exactly); the
// engine is not asked.
std::string tooFewRowsLine(int rows, int p) {
  if (rows < kMinRunObservations)
    return " Too few observations for the smoothers: " + std::to_string(rows) + " rows (at least " +
           std::to_string(kMinRunObservations) + " are needed). Run stopped.";
  if (p > rows)
    return " Too few observations for " + std::to_string(p) +
           " independent variables: " + std::to_string(rows) + " rows (at least " +
           std::to_string(p) + " are needed). Run stopped.";
  return {};
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
std::string columnRefusal(const std::vector<std::string>& names, const int* codes,
                          const WorkArrays& a, int n, int p, std::vector<int>& exponents) {
  exponents.assign(static_cast<std::size_t>(p) + 1, 0);
  for (int j = 0; j <= p; ++j) {
    const double* column = j < p ? a.x.data() + static_cast<std::size_t>(j) * n : a.y.data();
    const bool circular = codes[j] == kCircularCode || codes[j] == -kCircularCode;
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

// One Run: where it writes, what it was asked for, its work arrays and its
// results so far. Every stage below reads it and adds what it found.
struct RunContext {
  RunContext(platform::Runtime& runtime_, app::AppState& state_, app::Shell& shell_)
      : runtime(runtime_),
        state(state_),
        shell(shell_),
        p(state_.selection.p),
        allocated(state_.data.nRows),
        a(allocated, p, state_.data.numCol1),
        codes(app::engineCodes(state_.options.l)),
        l(codes.data()),
        names(engineNames(state_.data, state_.selection)),
        equilibration(state_.options.Equilibration && allCodesMonotone(l, p)),
        prediction(l[p] == kMonotoneCode),
        monotoneDependent(l[p] == kMonotoneCode),
        logResponse(isLogVariableName(names[static_cast<std::size_t>(p)])) {}

  platform::Runtime& runtime;
  app::AppState& state;
  app::Shell& shell;
  const int p;
  const int allocated;  // rows the arrays hold: the scan's count
  WorkArrays a;
  // The flags as the engine's codes, by engine position; a tuning puts its
  // winner's codes here and in the options.
  std::vector<int> codes;
  const int* const l;
  const std::vector<std::string> names;  // by engine position; names[p] the dependent
  const bool equilibration;              // asked for, and every code is "Monotone Tr"
  // The dependent's code is "Monotone Tr" (or was, before a tuning made it
  // Linear Tr, which is monotone too and inverted the same way).
  bool prediction;
  const bool monotoneDependent;
  const bool logResponse;  // the dependent is a "_ln_" variable

  ResultColumns r;              // set once the engine is done
  int found = 0;                // rows the re-read found
  int n = 0;                    // rows analysed: found, at most allocated
  std::vector<int> exponents;   // power-of-two scaling of each column
  std::vector<double> offsets;  // the offset each column is analysed from
  bool logLost = false;         // the log could not be opened again
  double rsq = 0.0;
  int ierr = 0;
  PredictionStats stats;
  OutsideRange outside;  // in-sample predictions beyond the observed response range
  ExpStats expStats;
};

const std::string& depName(const RunContext& run) {
  return run.names[static_cast<std::size_t>(run.p)];
}

// Column e of a run's (n, p) matrix, or the dependent's vector for e = p.
double* column(RunContext& run, double* matrix, double* dependent, int e) {
  if (e == run.p) return dependent;
  return matrix + static_cast<std::size_t>(e) * run.n;
}

ReportArrays reportArrays(RunContext& run) {
  WorkArrays& a = run.a;
  return ReportArrays{.n = run.n,
                      .p = run.p,
                      .x = a.x.data(),
                      .y = a.y.data(),
                      .tx = a.tx.data(),
                      .ty = a.ty.data(),
                      .xEq = a.xEq.empty() ? nullptr : a.xEq.data(),
                      .yEq = run.r.yEq,
                      .sumTx = run.r.sumTx,
                      .yPred = run.r.yPred};
}

// A run that stops after the previous plots were closed has no windows to
// close next time.
void forgetPlots(app::AppState& state) {
  state.firstPlotUnit = 0;
  state.lastPlotUnit = 0;
}

// Ends a run that has closed the previous plots: the reason goes to the
// screen, the log and the problems, with the lost log if it was.
void stopRun(RunContext& run, const std::string& line) {
  forgetPlots(run.state);
  refuseRun(run.runtime, run.state, line);
  if (run.logLost) run.state.problems.emplace_back(logLostLine().substr(1));
}

// ---- The stages, in the order onRun calls them.

// A data file has been scanned and at least one independent is chosen, of
// variables this file has. A selection left over from an earlier file may
// name variables this file does not have; it counts as no selection rather
// than a read past the tables.
bool checkSelection(const app::AppState& state) {
  if (state.data.numCol1 == 0 || state.selection.p < 1) return false;
  return selectionFitsData(state.data, state.selection);
}

// The scan found enough rows for the smoothers and for the independents.
bool checkScannedRows(platform::Runtime& runtime, app::AppState& state) {
  const std::string refusal = tooFewRowsLine(state.data.nRows, state.selection.p);
  if (!refusal.empty()) refuseRun(runtime, state, refusal);
  return refusal.empty();
}

// An independent that is the dependent on another scale would make the fit
// perfect and mean nothing.
bool checkTwins(platform::Runtime& runtime, app::AppState& state) {
  const std::string refusal = dependentTwinRefusal(state.data, state.selection);
  if (!refusal.empty()) refuseRun(runtime, state, refusal);
  return refusal.empty();
}

// Every run uses the engine's own tuning values, with the smoothness the
// Options chose (the engine's own bass and adaptive span by default).
void assignEngineSettings(app::AppState& state) {
  state.aceSettings = ace::AceSettings{};
  state.aceSettings.bass = state.options.Bass;
  state.aceSettings.fixed_span = state.options.Span;
}

// The previous run's plot windows disappear.
void closePreviousPlots(RunContext& run) {
  if (run.state.firstPlotUnit > 0) {
    for (int u = run.state.firstPlotUnit; u <= run.state.lastPlotUnit; ++u) run.runtime.close(u);
  }
}

// A file that changed since its scan never writes past the rows allocated;
// the run then uses the rows it has and says so (clearOutputWindow).
void rereadRows(RunContext& run) {
  run.found = rereadData(run.runtime, run.state, run.a, run.allocated, run.p);
  run.state.data.nRows = run.found;
  run.n = run.found < run.allocated ? run.found : run.allocated;
}

// The window with the focus is the main output window once the previous
// plots are closed.
void clearOutputWindow(RunContext& run) {
  run.runtime.clearFocusedWindow();
  if (run.found != run.allocated) {
    app::traceBoth(run.runtime,
                   " The data file has changed since it was read: " + std::to_string(run.found) +
                       " rows found, " + std::to_string(run.n) + " rows used.");
  }
}

bool checkRereadRows(RunContext& run) {
  const std::string refusal = tooFewRowsLine(run.n, run.p);
  if (!refusal.empty()) stopRun(run, refusal);
  return refusal.empty();
}

// A column of values that differ only far behind a large common part (1e14
// + x) is analysed from its median; every other column from 0, so ordinary
// data go through unchanged.
void findOffsets(RunContext& run) {
  run.offsets.assign(static_cast<std::size_t>(run.p) + 1, 0.0);
  for (int j = 0; j <= run.p; ++j) {
    const double* v =
        j < run.p ? run.a.x.data() + static_cast<std::size_t>(j) * run.n : run.a.y.data();
    const bool circular = run.l[j] == kCircularCode || run.l[j] == -kCircularCode;
    run.offsets[static_cast<std::size_t>(j)] = columnOffset(v, run.n, circular);
  }
}

// Sign 1 takes each column's offset off, -1 puts it back (both exact). The
// results exist only after the engine and go back only where they hold
// values: the equilibrated columns when the run equilibrated, the
// prediction when it predicted.
void shiftColumns(RunContext& run, int sign, bool results = false) {
  WorkArrays& a = run.a;
  const int n = run.n;
  for (int j = 0; j < run.p; ++j) {
    const double offset = run.offsets[static_cast<std::size_t>(j)];
    const std::size_t col = static_cast<std::size_t>(j) * n;
    shiftColumn(a.x.data() + col, n, offset, sign);
    if (results && run.equilibration) shiftColumn(a.xEq.data() + col, n, offset, sign);
  }
  const double offset = run.offsets[static_cast<std::size_t>(run.p)];
  shiftColumn(a.y.data(), n, offset, sign);
  if (results && run.equilibration) shiftColumn(run.r.yEq, n, offset, sign);
  if (results && run.prediction) shiftColumn(run.r.yPred, n, offset, sign);
}

// Columns were filled with the allocated row count as their stride; with a
// file that shrank, the gaps close so every later stage sees n rows a
// column. Then every column must be one the engine can analyse.
bool checkColumns(RunContext& run) {
  const int n = run.n;
  const int ld = run.allocated;
  if (n != ld) {
    std::vector<double>& x = run.a.x;
    for (int j = 1; j < run.p; ++j)
      for (int i = 0; i < n; ++i)
        x[static_cast<std::size_t>(j) * n + i] = x[static_cast<std::size_t>(j) * ld + i];
  }
  findOffsets(run);
  shiftColumns(run, 1);
  const std::string refusal = columnRefusal(run.names, run.l, run.a, n, run.p, run.exponents);
  shiftColumns(run, -1);
  if (refusal.empty()) return true;
  stopRun(run, refusal);
  return false;
}

// --tune (the Options' "Tune by CV"): every candidate smoothness is
// cross-validated on this run's rows, the table goes to the screen and the
// log, and the run goes on with the winner's bass, span and codes (the
// codes only for this run: onRun puts the Options' own back). A tuning that
// cannot be done stops the run: it was asked for.
bool tuneIfAsked(RunContext& run) {
  app::AppState& state = run.state;
  if (!state.options.Tune) return true;
  const app::StageTimer timer(state.timings, "tuning");
  const int folds = state.options.CvFolds;
  std::string why;
  if (folds < 2) {
    why = "it needs a cross-validation of 2 or more folds";
  } else if (run.l[run.p] != kMonotoneCode && run.l[run.p] != kLinearCode) {
    why =
        "the dependent must be Monotone Tr or Linear Tr, so that its errors are measured on "
        "its own scale";
  } else {
    why = model::crossValidationRefusal(run.n, run.p, folds);
  }
  if (!why.empty()) {
    stopRun(run, " Tuning refused: " + why + ". Run stopped.");
    return false;
  }
  model::CvInput in;
  in.n = run.n;
  in.p = run.p;
  in.x = run.a.x.data();
  in.y = run.a.y.data();
  in.codes = run.l;
  in.DelRsq = state.options.DelRsq;
  in.NumTerm = state.options.NumTerm;
  in.settings = state.aceSettings;
  in.folds = folds;
  in.logResponse = run.logResponse;
  in.extrapolate = state.options.extrapolate;
  for (const std::string& line : model::tuningHeading(folds, run.logResponse))
    app::traceBoth(run.runtime, line);
  const model::TuningResult tuned = model::tuneSmoothness(in, [&run](const model::TuningResult& r,
                                                                     int k) {
    app::traceBoth(run.runtime, model::tuningTableLine(r.candidates[static_cast<std::size_t>(k)]));
    run.runtime.flush(app::kLogUnit);
  });
  if (!tuned.done) {
    stopRun(run, " Tuning scored no candidate: " + tuned.refusal + ". Run stopped.");
    return false;
  }
  const model::TuningCandidate& best = tuned.candidates[static_cast<std::size_t>(tuned.best)];
  state.aceSettings = best.settings;
  for (std::size_t k = 0; k < best.codes.size() && k < run.codes.size(); ++k) {
    run.codes[k] = best.codes[k];
    state.options.l[k] = model::flagFromCode(best.codes[k]).value_or(state.options.l[k]);
  }
  run.prediction = run.monotoneDependent;
  app::traceBoth(run.runtime, model::tuningWinnerLine(tuned));
  run.runtime.flush(app::kLogUnit);
  return true;
}

// The Options' codes, put back when the run ends however it ends: a tuned
// run may use others.
class KeepCodes {
 public:
  explicit KeepCodes(app::RunOptions& options) : options_(options), codes_(options.l) {}
  ~KeepCodes() { options_.l = codes_; }
  KeepCodes(const KeepCodes&) = delete;
  KeepCodes& operator=(const KeepCodes&) = delete;

 private:
  app::RunOptions& options_;
  std::vector<model::VarFlag> codes_;
};

// The log is opened again, so the echo follows what is on disk.
void echoInput(RunContext& run) {
  run.logLost = !reopenLog(run.runtime);
  writeInputEcho(run.runtime, run.names, run.l, reportArrays(run));
  run.runtime.flush(app::kLogUnit);
}

// A Circular variable is periodic (period 1) only when its values lie in
// [0, 1]; otherwise the smoother treats it as Orderable, which the user
// would not otherwise learn. Said once per variable, only when it happens.
void warnCircular(RunContext& run) {
  for (int j = 0; j <= run.p; ++j) {
    if (run.l[j] != kCircularCode && run.l[j] != -kCircularCode) continue;
    const double* v =
        j < run.p ? run.a.x.data() + static_cast<std::size_t>(j) * run.n : run.a.y.data();
    bool outside = false;
    for (int i = 0; i < run.n && !outside; ++i) outside = v[i] < 0.0 || v[i] > 1.0;
    if (!outside) continue;
    const std::string line =
        std::string(trimmedName(run.names[static_cast<std::size_t>(j)])) +
        " is smoothed as Orderable: its values are outside 0 .. 1; divide by the period "
        "(degrees / 360) to make it periodic";
    app::traceBoth(run.runtime, " " + line);
    run.state.warnings.push_back(line);
  }
}

// Columns beyond the magnitudes the engine's sums can hold go in and out of
// the numeric stages scaled by a power of two (exact both ways); sign 1
// scales, -1 restores.
void scaleColumns(RunContext& run, int sign) {
  WorkArrays& a = run.a;
  const int n = run.n;
  for (int j = 0; j < run.p; ++j) {
    const int e = sign * run.exponents[static_cast<std::size_t>(j)];
    const std::size_t col = static_cast<std::size_t>(j) * n;
    scaleColumn(a.x.data() + col, n, e);
    if (sign < 0 && !a.xEq.empty()) scaleColumn(a.xEq.data() + col, n, e);
  }
  const int e = sign * run.exponents[static_cast<std::size_t>(run.p)];
  scaleColumn(a.y.data(), n, e);
  // The results exist only after the engine: they go back, never in.
  if (sign < 0) {
    scaleColumn(run.r.yEq, n, e);
    scaleColumn(run.r.yPred, n, e);
  }
}

// The engine's one call; its lines go to the main output window.
void callEngine(RunContext& run) {
  WorkArrays& a = run.a;
  app::RunOptions& options = run.state.options;
  const std::size_t n = static_cast<std::size_t>(run.n);
  const std::size_t p = static_cast<std::size_t>(run.p);
  const ace::AceProblem problem{.n = run.n,
                                .p = run.p,
                                .ld = run.n,
                                .x = {a.x.data(), n * p},
                                .y = {a.y.data(), n},
                                .w = {a.w.data(), n},
                                .l = {run.l, p + 1},
                                .tx = {a.tx.data(), n * p},
                                .ty = {a.ty.data(), n},
                                .m = {a.m.data(), n * (p + 1)},
                                .z = {a.z.data(), n * ace::kWorkColumns}};
  // Only the first NumTerm entries of the history are read, and the engine
  // sets them at every call, so a fresh history per run behaves the same.
  const ace::AceOptions engineOptions{.DelRsq = options.DelRsq,
                                      .NumTerm = options.NumTerm,
                                      .settings = run.state.aceSettings,
                                      .rsq_history = {}};
  const ace::AceSummary summary = ace::ace_solve(problem, engineOptions, screenLines(run.runtime));
  run.rsq = summary.rsq;
  run.ierr = static_cast<int>(summary.error);
  // The dialog shows NumTerm as the engine used it.
  options.NumTerm = summary.num_term;
}

// The engine on the scaled columns; the log is opened again afterwards so
// the engine's lines are followed by what comes next.
void estimate(RunContext& run) {
  shiftColumns(run, 1);
  scaleColumns(run, 1);
  callEngine(run);
  run.logLost = !reopenLog(run.runtime) || run.logLost;
}

// After an engine error its transformations mean nothing: the engine has
// said why, and no plot or file may present them as results (an earlier
// Taveltr.xls stays as it was).
bool checkEstimate(RunContext& run) {
  if (run.ierr != 0) {
    stopRun(run, estimateFailedLine(run.ierr));
    return false;
  }
  const WorkArrays& a = run.a;
  if (!std::isfinite(run.rsq) || !allFinite(a.tx.data(), a.tx.size()) ||
      !allFinite(a.ty.data(), a.ty.size())) {
    stopRun(run,
            " The estimate failed: its transformations are not finite numbers. "
            "No plots or spreadsheets were made.");
    return false;
  }
  return true;
}

// The engine is done with its scratch: the result columns take it, zeroed.
void claimScratch(RunContext& run) {
  const auto n = static_cast<std::size_t>(run.n);
  double* const z = run.a.z.data();
  std::fill(z, z + kResultColumns * n, 0.0);
  double* const columns[kResultColumns] = {z,         z + n,     z + 2 * n, z + 3 * n,
                                           z + 4 * n, z + 5 * n, z + 6 * n, z + 7 * n};
  run.r = ResultColumns{.expY = columns[0],
                        .sumTx = columns[1],
                        .yPred = columns[2],
                        .expPred = columns[3],
                        .tableRaw = columns[4],
                        .tableTransformed = columns[5],
                        .eqTarget = columns[6],
                        .yEq = columns[7]};
  if (run.equilibration) run.a.xEq.assign(n * static_cast<std::size_t>(run.p), 0.0);
}

// Equilibration, the sum of the transformed independents and the
// prediction with its statistics, all before any window opens, so that a
// result that is not a number stops the run (checkResults) instead of being
// drawn and written. The plots write nothing on the screen, so the screen
// keeps the order of the stages.
void computeResults(RunContext& run) {
  claimScratch(run);
  WorkArrays& a = run.a;
  ResultColumns& r = run.r;
  const int n = run.n;
  const LineSink screenSink = screenLines(run.runtime);
  const RunArrays arrays{n, run.p, a.x.data(), a.y.data(), a.tx.data(), a.ty.data(), a.m.data()};
  if (run.equilibration) {
    const app::StageTimer timer(run.state.timings, "equilibration");
    writeEquilibrationNotice(run.runtime);
    equilibrate(arrays, r.tableRaw, r.tableTransformed, r.eqTarget, a.xEq.data(), r.yEq,
                screenSink);
  }
  const app::StageTimer timer(run.state.timings, "prediction");
  sumTransforms(n, run.p, a.tx.data(), r.sumTx);
  if (run.prediction) {
    run.stats =
        predictResponse(arrays, r.sumTx, r.tableRaw, r.tableTransformed, r.yPred, screenSink);
    // A value no double holds, or whose exponential is none, would stop the
    // run and lose a good fit: such rows are held at the observed range
    // (and said in the report); every other row keeps its documented value.
    run.outside = holdUnrepresentable(
        n, a.y.data(), r.yPred, run.exponents[static_cast<std::size_t>(run.p)], run.logResponse);
    if (run.outside.held > 0) run.stats = errorStats(n, a.y.data(), r.yPred);
  }
  scaleColumns(run, -1);
  shiftColumns(run, -1, true);
  const int yExponent = -run.exponents[static_cast<std::size_t>(run.p)];
  run.stats.Avedev = std::ldexp(run.stats.Avedev, yExponent);
  run.stats.Stdev = std::ldexp(run.stats.Stdev, yExponent);
  run.stats.Bias = std::ldexp(run.stats.Bias, yExponent);
  if (run.prediction && run.logResponse)
    run.expStats = backTransformedStats(n, a.y.data(), r.yPred, r.expPred);
}

bool checkResults(RunContext& run) {
  const PredictionStats& stats = run.stats;
  const ExpStats& expStats = run.expStats;
  const WorkArrays& a = run.a;
  const ResultColumns& r = run.r;
  const auto n = static_cast<std::size_t>(run.n);
  const double values[] = {stats.Avedev,
                           stats.Stdev,
                           stats.Bias,
                           expStats.Exp_Avedev,
                           expStats.Exp_Stdev,
                           expStats.Exp_Bias,
                           expStats.Exp_AvedevPercent,
                           expStats.Exp_StdevPercent,
                           expStats.Exp_BiasPercent};
  const bool finite = allFinite(values, std::size(values)) &&
                      allFinite(a.xEq.data(), a.xEq.size()) && allFinite(r.yEq, n) &&
                      allFinite(r.yPred, n) && allFinite(r.expPred, n);
  if (finite) return true;
  stopRun(run,
          " The equilibrated or predicted values or their statistics are beyond the range of "
          "numbers. No plots or spreadsheets were made.");
  return false;
}

// The pictures of an earlier run go, and this run's are numbered from the
// start.
void startCaptures(RunContext& run) {
  app::deleteCapturePictures(run.runtime);
  run.shell.saveCapture(true);
}

// ---- The plots; each returns false after the program has been stopped.

bool drawTransformationPlots(RunContext& run, PlotContext& plots) {
  WorkArrays& a = run.a;
  for (int e = 0; e <= run.p; ++e) {
    if (!plotTransformation(plots, app::transformationPlotUnit(e),
                            run.names[static_cast<std::size_t>(e)], e == run.p, run.n,
                            column(run, a.x.data(), a.y.data(), e),
                            column(run, a.tx.data(), a.ty.data(), e)))
      return false;
  }
  run.state.firstPlotUnit = app::kFirstPlotUnitNumber;
  return true;
}

bool drawCorrelationPlot(RunContext& run, PlotContext& plots) {
  const int unit = app::correlationPlotUnit(run.p);
  if (!plotCorrelation(plots, unit, depName(run), run.rsq, run.n, run.r.sumTx, run.a.ty.data()))
    return false;
  run.state.lastPlotUnit = unit;
  return true;
}

bool drawCorrectionPlots(RunContext& run, PlotContext& plots) {
  if (!run.equilibration) return true;
  WorkArrays& a = run.a;
  for (int e = 0; e <= run.p; ++e) {
    if (!plotCorrection(
            plots, app::correctionPlotUnit(run.p, e), run.names[static_cast<std::size_t>(e)], run.n,
            column(run, a.x.data(), a.y.data(), e), column(run, a.xEq.data(), run.r.yEq, e)))
      return false;
  }
  run.state.lastPlotUnit = app::correctionPlotUnit(run.p, run.p);
  return true;
}

// The statistics on the screen and in the log, each followed by its plot.
bool reportPrediction(RunContext& run, PlotContext& plots) {
  if (!run.prediction) return true;
  WorkArrays& a = run.a;
  const int n = run.n;
  writePredictionStats(run.runtime, run.stats);
  // Said only when it happens, so the report of every other run is as before.
  const std::string outside = outsideRangeLine(run.outside, trimmedName(depName(run)));
  if (!outside.empty()) app::traceBoth(run.runtime, outside);
  run.runtime.flush(app::kLogUnit);
  run.state.lastPlotUnit = app::predictionPlotUnit(run.p, run.equilibration);
  if (!plotPrediction(plots, run.state.lastPlotUnit, depName(run), run.stats.Avedev,
                      run.stats.Stdev, n, a.y.data(), run.r.yPred))
    return false;
  if (!run.logResponse) return true;
  writeBackTransformedStats(run.runtime, run.expStats);
  run.runtime.flush(app::kLogUnit);
  run.state.lastPlotUnit = app::backTransformedPlotUnit(run.p, run.equilibration);
  double* expY = run.r.expY;
  for (int i = 0; i < n; ++i) expY[i] = std::exp(a.y[i]);
  return plotExpPrediction(plots, run.state.lastPlotUnit, run.expStats.Exp_AvedevPercent,
                           run.expStats.Exp_StdevPercent, n, expY, run.r.expPred);
}

bool drawPlots(RunContext& run) {
  PlotContext plots{run.runtime, run.shell, run.state, {}};
  return drawTransformationPlots(run, plots) && drawCorrelationPlot(run, plots) &&
         drawCorrectionPlots(run, plots) && reportPrediction(run, plots);
}

// ---- The end of the run.

// The log is opened again first, so the report follows what is on disk.
void writeFinalReport(RunContext& run) {
  run.logLost = !reopenLog(run.runtime) || run.logLost;
  writeClosingReport(run.runtime, run.rsq, reportArrays(run));
  run.runtime.flush(app::kLogUnit);
}

void writeSheets(RunContext& run) {
  SheetResults sheets = writeSpreadsheets(run.runtime, run.names, reportArrays(run), run.prediction,
                                          run.logResponse, run.equilibration);
  run.runtime.flush(app::kLogUnit);
  if (run.logLost) run.state.problems.emplace_back(logLostLine().substr(1));
  for (std::string& line : sheets.problems) run.state.problems.push_back(std::move(line));
}

// The values and figures of the run, as printed, for the results export,
// when they are wanted (the GUI's Export Results, tavel-batch --export).
// The run's own arrays end here, so they move into the results; the
// columns in the engine's scratch are copied. Moved arrays keep their
// storage: what points into them stays valid.
void keepResults(RunContext& run) {
  if (!run.state.keepResults) return;
  const app::StageTimer timer(run.state.timings, "results");
  const ReportArrays r = reportArrays(run);
  const app::AppState& state = run.state;
  app::RunResults k;
  k.dataFile = state.data.dataFileName;
  k.sheet = state.data.sheetName;
  k.n = r.n;
  k.p = r.p;
  for (const std::string& name : run.names) k.names.emplace_back(trimmedName(name));
  k.codes.assign(run.l, run.l + run.p + 1);
  k.NumTerm = state.options.NumTerm;
  k.DelRsq = state.options.DelRsq;
  k.bass = state.aceSettings.bass;
  k.span = state.aceSettings.fixed_span;
  k.prediction = run.prediction;
  k.logResponse = run.logResponse;
  k.equilibrated = run.equilibration;
  const std::size_t np = static_cast<std::size_t>(r.n) * static_cast<std::size_t>(r.p);
  const std::size_t n = static_cast<std::size_t>(r.n);
  // Shrinking keeps the storage: the arrays hold the allocated rows, of
  // which the run used n.
  const auto take = [](std::vector<double>& from, std::size_t size) {
    std::vector<double> taken = std::move(from);
    taken.resize(size);
    return taken;
  };
  WorkArrays& a = run.a;
  k.x = take(a.x, np);
  k.tx = take(a.tx, np);
  k.y = take(a.y, n);
  k.ty = take(a.ty, n);
  if (run.equilibration) {
    k.xEq = take(a.xEq, np);
    k.yEq.assign(r.yEq, r.yEq + n);
  }
  k.sumTx.assign(r.sumTx, r.sumTx + n);
  k.yPred.assign(r.yPred, r.yPred + n);
  k.figures.emplace_back("r**2", run.rsq);
  if (run.prediction) {
    k.figures.emplace_back("Avedev", run.stats.Avedev);
    k.figures.emplace_back("Stdev", run.stats.Stdev);
    k.figures.emplace_back("Bias", run.stats.Bias);
    if (run.logResponse) {
      const ExpStats& e = run.expStats;
      k.figures.emplace_back("Exp_Avedev", e.Exp_Avedev);
      k.figures.emplace_back("Exp_Stdev", e.Exp_Stdev);
      k.figures.emplace_back("Exp_Bias", e.Exp_Bias);
      k.figures.emplace_back("Exp_Avedev%", e.Exp_AvedevPercent);
      k.figures.emplace_back("Exp_Stdev%", e.Exp_StdevPercent);
      k.figures.emplace_back("Exp_Bias%", e.Exp_BiasPercent);
    }
  }
  run.state.results = std::move(k);
}

// The fit's columns as the engine left them; taken before keepResults,
// which may move their storage elsewhere but keeps it.
model::FitArrays fitArrays(RunContext& run) {
  WorkArrays& a = run.a;
  return model::FitArrays{run.n,       run.p,       a.x.data(), a.y.data(),
                          a.tx.data(), a.ty.data(), a.m.data()};
}

// The fit is kept as a model for new data when it is wanted (the GUI's
// Save Model, tavel-batch --save-model; its tables cost as much memory as
// the fit's own columns), and scored out of sample when asked for. Only a
// run that got this far has one: an engine error stopped the run at
// checkEstimate.
void keepModel(RunContext& run, const model::FitArrays& fit) {
  std::optional<app::StageTimer> timer;
  if (run.state.keepModel) {
    timer.emplace(run.state.timings, "model");
    keepRunModel(run.state, fit, run.rsq);
    // A dependent the tuning made Linear Tr is inverted through its table
    // as the Monotone Tr it was asked to be: a linear transformation is
    // monotone.
    if (run.prediction && run.state.model)
      run.state.model->response.flag = model::VarFlag::Monotone;
    timer.reset();
  }
  if (run.state.options.CvFolds != 0) timer.emplace(run.state.timings, "cross-validation");
  crossValidateRun(run.runtime, run.state, run.n, run.p, fit.x, fit.y);
}

// The variables that keep equilibration from being done, by name.
std::string notMonotoneNames(const RunContext& run) {
  std::string names;
  for (int e = 0; e <= run.p; ++e) {
    if (run.l[e] == kMonotoneCode) continue;
    if (!names.empty()) names += ", ";
    names += app::trimName(run.names[static_cast<std::size_t>(e)]);
  }
  return names;
}

// "Run done in 0.3 s: r**2 = 0.9990, 7 plots, Taveltr.xls written in /path",
// with what was asked for and not done after it.
std::string runDoneLine(const RunContext& run, double seconds) {
  char digits[32];
  std::string line = "Run done in ";
  line.append(
      digits,
      std::to_chars(digits, digits + sizeof digits, seconds, std::chars_format::fixed, 1).ptr);
  std::string rsq;
  app::appendF(rsq, run.rsq, 7, 4);
  line += " s: r**2 = " + std::string(app::trimName(rsq.substr(rsq.find_first_not_of(' ')))) + ", ";
  const int plots = run.state.lastPlotUnit - run.state.firstPlotUnit + 1;
  line += std::to_string(plots) + " plots, ";
  std::error_code error;
  std::filesystem::path sheet(run.runtime.resolvePath(kTransformSheetName));
  const std::filesystem::path whole = std::filesystem::absolute(sheet, error);
  if (!error) sheet = whole;
  line += sheet.filename().string();
  if (run.equilibration) line += " and " + std::string(kCorrectionSheetName);
  line += " written in " + sheet.parent_path().string();
  if (run.state.options.Equilibration && !run.equilibration) {
    const std::string names = notMonotoneNames(run);
    line += "; equilibration not done: it needs every variable Monotone Tr, and " + names +
            (names.find(',') == std::string::npos ? " is not" : " are not");
  }
  return line;
}

// Runs one stage under its timer (tavel-batch --timings).
template <typename Stage>
auto timed(app::AppState& state, std::string_view name, Stage&& stage) {
  const app::StageTimer timer(state.timings, name);
  return stage();
}

}  // namespace

int logTwin(const app::DataTable& data, int v) {
  if (v < 1 || v > data.numCol || v > static_cast<int>(data.lnSource.size())) return 0;
  if (v > data.numCol1) return data.lnSource[v - 1];
  for (int t = data.numCol1 + 1; t <= data.numCol && t <= static_cast<int>(data.lnSource.size());
       ++t)
    if (data.lnSource[t - 1] == v) return t;
  return 0;
}

std::string dependentTwinRefusal(const app::DataTable& data, const app::VarSelection& sel) {
  const int twin = logTwin(data, sel.dep);
  if (twin == 0) return {};
  for (int j = 0; j < sel.p && j < static_cast<int>(sel.indep.size()); ++j) {
    if (sel.indep[j] != twin) continue;
    const auto name = [&data](int v) {
      return std::string(trimmedName(data.colName[static_cast<std::size_t>(v - 1)]));
    };
    return " The independent variable " + name(twin) + " is the dependent " + name(sel.dep) +
           " on another scale: the dependent cannot predict itself. Run stopped.";
  }
  return {};
}

bool allCodesMonotone(const int* l, int p) {
  bool allMonotone = true;
  for (int i = 0; i < p + 1; ++i) allMonotone = allMonotone && l[i] == kMonotoneCode;
  return allMonotone;
}

void onRun(platform::Runtime& runtime, app::AppState& state, app::Shell& shell) {
  const auto started = std::chrono::steady_clock::now();
  const std::size_t problemsAtStart = state.problems.size();
  if (!checkSelection(state)) {
    state.status = "Run refused: " + (state.data.nRows == 0
                                          ? app::loadDataFirst(state)
                                          : std::string("choose the variables first: Prepare"));
    return;
  }
  // A model is only as current as the last Run: one that does not reach its
  // end leaves none, so no later prediction uses a fit of other data.
  state.model.reset();
  state.results.reset();
  if (!checkScannedRows(runtime, state) || !checkTwins(runtime, state)) return;

  std::optional<app::StageTimer> allocating(std::in_place, state.timings, "allocate");
  RunContext run(runtime, state, shell);  // the work arrays, zero-filled
  allocating.reset();
  assignEngineSettings(state);
  closePreviousPlots(run);
  timed(state, "re-read", [&] { rereadRows(run); });
  clearOutputWindow(run);
  if (!checkRereadRows(run) || !timed(state, "checks", [&] { return checkColumns(run); })) return;
  const KeepCodes keepCodes(state.options);
  if (!tuneIfAsked(run)) return;
  timed(state, "echo", [&] { echoInput(run); });
  warnCircular(run);
  timed(state, "engine", [&] { estimate(run); });
  if (!checkEstimate(run)) return;
  computeResults(run);
  if (!checkResults(run)) return;
  startCaptures(run);
  if (!timed(state, "plots", [&] { return drawPlots(run); })) return;
  timed(state, "report", [&] { writeFinalReport(run); });
  timed(state, "sheets", [&] { writeSheets(run); });
  const model::FitArrays fit = fitArrays(run);
  keepResults(run);
  // Nothing reads the scratch any more: the model and the folds get its memory.
  run.a.z = std::vector<double>();
  run.r = ResultColumns{};
  keepModel(run, fit);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  state.status = runDoneLine(run, took.count());
  // A file or step asked for and not done is said after the rest.
  if (!state.problems.empty() && state.problems.size() > problemsAtStart)
    state.status += "; not done: " + state.problems[problemsAtStart];
  // The work arrays go with the run.
}

}  // namespace tavel::run

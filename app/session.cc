// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/session.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

#include "app/data_file.h"
#include "app/model_commands.h"
#include "app/options_dialog.h"
#include "app/prepare_dialog.h"
#include "app/results_export.h"
#include "app/shell.h"
#include "io/field_format.h"
#include "io/trace.h"
#include "model/cross_validation.h"
#include "platform/list_order.h"

namespace tavel::app {
namespace {

std::string inQuotes(std::string_view text) { return "'" + std::string(text) + "'"; }

std::string numberText(double x) {
  char digits[32];
  const auto r = std::to_chars(digits, digits + sizeof digits, x);
  return r.ec == std::errc() ? std::string(digits, r.ptr) : std::string();
}

std::string variableName(const DataTable& data, int v) {
  if (v < 1 || v > data.numCol || v > static_cast<int>(data.colName.size())) return {};
  return std::string(trimName(data.colName[static_cast<std::size_t>(v - 1)]));
}

// The other scale of variable v (the log variable of a column, the column of
// a log variable), 0 when it has none: the two hold the same information.
int logTwinOf(const DataTable& data, int v) {
  if (v < 1 || v > data.numCol || v > static_cast<int>(data.lnSource.size())) return 0;
  if (v > data.numCol1) return data.lnSource[static_cast<std::size_t>(v - 1)];
  for (int t = data.numCol1 + 1; t <= data.numCol && t <= static_cast<int>(data.lnSource.size());
       ++t)
    if (data.lnSource[static_cast<std::size_t>(t - 1)] == v) return t;
  return 0;
}

// The variable whose 50-character name is the list item's text; 0 for none.
int findVariable(const DataTable& data, std::string_view itemText) {
  const std::string name = padded(itemText, kNameLength);
  for (int v = 1; v <= data.numCol && v <= static_cast<int>(data.colName.size()); ++v)
    if (data.colName[static_cast<std::size_t>(v - 1)] == name) return v;
  return 0;
}

bool selectionUsable(const AppState& state) {
  const VarSelection& sel = state.selection;
  if (sel.p < 1 || static_cast<int>(sel.indep.size()) < sel.p) return false;
  for (int j = 0; j < sel.p; ++j)
    if (variableName(state.data, sel.indep[static_cast<std::size_t>(j)]).empty()) return false;
  return !variableName(state.data, sel.dep).empty();
}

Outcome refused(std::string line) { return Outcome{false, {std::move(line)}}; }

}  // namespace

bool numTermAllowed(int numTerm) { return numTerm >= 1; }
bool delRsqAllowed(double delRsq) { return std::isfinite(delRsq); }
bool cvFoldsAllowed(int folds) { return folds >= 0; }
bool bassAllowed(double bass) { return bass >= 0.0 && bass <= kMaxBass; }
bool spanAllowed(double span) { return span >= 0.0 && span <= 1.0; }

std::vector<std::string> optionsRefusals(const AnalysisOptions& asked) {
  std::vector<std::string> lines;
  auto check = [&lines](bool allowed, std::string_view setting, const std::string& value,
                        std::string_view rule) {
    if (!allowed) lines.push_back(std::string(setting) + " " + value + " " + std::string(rule));
  };
  if (asked.numTerm)
    check(numTermAllowed(*asked.numTerm), "NumTerm", std::to_string(*asked.numTerm), kNumTermRule);
  if (asked.delRsq)
    check(delRsqAllowed(*asked.delRsq), "DelRsq", numberText(*asked.delRsq), kDelRsqRule);
  if (asked.cvFolds)
    check(cvFoldsAllowed(*asked.cvFolds), "CV folds", std::to_string(*asked.cvFolds), kCvFoldsRule);
  if (asked.bass) check(bassAllowed(*asked.bass), "Bass", numberText(*asked.bass), kBassRule);
  if (asked.span) check(spanAllowed(*asked.span), "Span", numberText(*asked.span), kSpanRule);
  return lines;
}

Outcome storeOptions(const AnalysisOptions& asked, RunOptions& options) {
  Outcome outcome;
  outcome.lines = optionsRefusals(asked);
  outcome.ok = outcome.lines.empty();
  if (!outcome.ok) return outcome;
  if (asked.numTerm) options.NumTerm = *asked.numTerm;
  if (asked.delRsq) options.DelRsq = *asked.delRsq;
  if (asked.equilibration) options.Equilibration = *asked.equilibration;
  if (asked.screenCaptures) options.ScreenCaptures = *asked.screenCaptures;
  if (asked.cvFolds) options.CvFolds = *asked.cvFolds;
  if (asked.bass) options.Bass = *asked.bass;
  if (asked.span) options.Span = *asked.span;
  if (asked.tune) options.Tune = *asked.tune;
  if (asked.extrapolate) options.extrapolate = *asked.extrapolate;
  return outcome;
}

std::string selectionRefusal(const DataTable& data, const std::string& dependent,
                             const std::vector<std::string>& independents) {
  const int chosen = static_cast<int>(independents.size()) + 1;
  if (chosen > kMaxIncluded)
    return std::to_string(chosen) + " variables were chosen, but at most " +
           std::to_string(kMaxIncluded) + " variables, the dependent and " +
           std::to_string(kMaxIncluded - 1) + " independents, can be chosen";
  std::vector<std::string> all = independents;
  all.push_back(dependent);
  std::string twin;
  for (const std::string& wanted : all) {
    int matches = 0;
    for (int v = 1; v <= data.numCol && v <= static_cast<int>(data.colName.size()); ++v) {
      if (variableName(data, v) != wanted) continue;
      ++matches;
      if (wanted == dependent && logTwinOf(data, v) != 0)
        twin = variableName(data, logTwinOf(data, v));
    }
    if (matches == 0) return "unknown variable " + inQuotes(wanted);
    if (matches > 1)
      return "the name " + inQuotes(wanted) + " belongs to " + std::to_string(matches) +
             " variables of the file, which cannot be told apart";
  }
  auto named = [&independents](const std::string& name) {
    return std::find(independents.begin(), independents.end(), name) != independents.end();
  };
  if (named(dependent))
    return "the dependent variable " + inQuotes(dependent) +
           " was also named as an independent variable";
  if (!twin.empty() && named(twin))
    return "the dependent variable " + inQuotes(dependent) +
           " was also named as an independent variable, as " + inQuotes(twin) +
           " on its other scale";
  std::vector<std::string> sorted = independents;
  std::sort(sorted.begin(), sorted.end());
  const auto twice = std::adjacent_find(sorted.begin(), sorted.end());
  if (twice != sorted.end())
    return inQuotes(*twice) + " was named twice as an independent variable";
  if (independents.empty())
    return "no independent variable was chosen for the dependent variable " + inQuotes(dependent);
  return {};
}

Session::Session(platform::Runtime& runtime, AppState& state) : runtime_(runtime), state_(state) {}

std::vector<std::string> Session::problemsSince(std::size_t before) const {
  if (before >= state_.problems.size()) return {};
  return {state_.problems.begin() + static_cast<std::ptrdiff_t>(before), state_.problems.end()};
}

ScanOutcome Session::load(const std::string& path, const ReadingRequest& reading) {
  return loadBy(reading, [&] {
    // The scan would create a missing file empty.
    if (runtime_.pathKind(path) == platform::PathKind::Missing) {
      refuse(runtime_, state_, listLine({"error: cannot read ", path, ": no such file"}));
      return false;
    }
    return readDataFile(runtime_, state_, path);
  });
}

ScanOutcome Session::load(EarlierScan scan, const ReadingRequest& reading) {
  return loadBy(reading, [&] { return takeDataFileScan(runtime_, state_, std::move(scan)); });
}

ScanOutcome Session::loadBy(const ReadingRequest& reading, const std::function<bool()>& scan) {
  state_.readAsCsv = reading.csv;
  state_.readAsTsv = reading.tsv;
  state_.sheetAsked = reading.sheet;
  const std::size_t before = state_.problems.size();
  ScanOutcome outcome;
  // The plots of an earlier run show data that are no longer loaded.
  if (state_.firstPlotUnit > 0)
    for (int u = state_.firstPlotUnit; u <= state_.lastPlotUnit; ++u) runtime_.close(u);
  state_.firstPlotUnit = 0;
  state_.lastPlotUnit = 0;
  outcome.ok = scan();
  endCommand();
  outcome.lines = problemsSince(before);
  outcome.ok = outcome.ok && outcome.lines.empty();
  outcome.rows = state_.data.nRows;
  outcome.variables = state_.data.numCol;
  outcome.warnings = state_.warnings;
  return outcome;
}

Outcome Session::choose(const std::string& dependent,
                        const std::vector<std::string>& independents) {
  if (state_.data.nRows == 0) return refused(loadDataFirst(state_));
  const std::string why = selectionRefusal(state_.data, dependent, independents);
  if (!why.empty()) return refused(why);
  const std::size_t before = state_.problems.size();
  tracePrepareVariables(runtime_, state_.data);
  // The include list is sorted: its rows, and so the engine positions, are
  // in the list's order whatever order the names were given in.
  std::vector<std::string> rows = independents;
  rows.push_back(dependent);
  std::sort(rows.begin(), rows.end(), [](const std::string& a, const std::string& b) {
    return platform::listItemLess(a, b);
  });
  const auto depRow = std::find(rows.begin(), rows.end(), dependent) - rows.begin() + 1;
  Outcome outcome = chooseIncluded(rows, static_cast<int>(depRow));
  endCommand();
  return withProblemsSince(before, std::move(outcome));
}

Outcome Session::chooseIncluded(const std::vector<std::string>& rows, int dependentRow) {
  const DataTable& data = state_.data;
  VarSelection& sel = state_.selection;
  const int n = static_cast<int>(rows.size());
  if (n > kMaxIncluded)
    return refused(std::to_string(n) + " rows in the include list; it holds " +
                   std::to_string(kMaxIncluded));
  std::vector<int> variables;
  for (const std::string& row : rows) {
    const int v = findVariable(data, row);
    if (v == 0) return refused("unknown variable " + inQuotes(row));
    variables.push_back(v);
  }
  sel.p = n - 1;
  if (sel.p < 1) return refused("include at least two variables and tick the dependent one");
  const int p = sel.p;
  traceBoth(runtime_, listLine({"num of indep p:", p}));

  sel.depChoice = dependentRow >= 1 && dependentRow <= n ? dependentRow : 1;
  sel.indep.clear();
  for (int i = 1; i <= n; ++i) {
    const int v = variables[static_cast<std::size_t>(i - 1)];
    if (i == sel.depChoice) {
      sel.dep = v;
      sel.fromltoreg[static_cast<std::size_t>(i - 1)] = p + 1;
    } else {
      sel.indep.push_back(v);
      sel.fromltoreg[static_cast<std::size_t>(i - 1)] = static_cast<int>(sel.indep.size());
    }
  }

  RunOptions& options = state_.options;
  for (int e = 1; e <= kMaxIncluded + 1; ++e) options.l[e - 1] = model::VarFlag::Orderable;
  options.l[p] = model::VarFlag::Monotone;
  // A category's numbers only name its labels: they have no order.
  for (int e = 1; e <= p + 1; ++e) {
    const int v = e <= p ? sel.indep[e - 1] : sel.dep;
    if (columnKind(data, v) == ColumnKind::Category) options.l[e - 1] = model::VarFlag::Unorderable;
  }

  traceBoth(runtime_, listLine({"indep var:"}));
  for (int i = 1; i <= p; ++i) {
    const int v = sel.indep[i - 1];
    traceBoth(runtime_, listLine({i, v, " ", data.colName[v - 1]}));
  }
  traceBoth(runtime_, listLine({"dep var:"}));
  traceBoth(runtime_, listLine({p + 1, sel.dep, " ", data.colName[sel.dep - 1]}));
  traceBoth(runtime_, listLine({"Prepare done:"}));
  return {};
}

Outcome Session::setFlag(const std::string& name, model::VarFlag flag) {
  if (!selectionUsable(state_)) return refused("choose the variables before their flags");
  const VarSelection& sel = state_.selection;
  int e = 0;
  if (variableName(state_.data, sel.dep) == name) e = sel.p + 1;
  for (int j = 1; j <= sel.p && e == 0; ++j)
    if (variableName(state_.data, sel.indep[static_cast<std::size_t>(j - 1)]) == name) e = j;
  if (e == 0) return refused(inQuotes(name) + " is not a chosen variable");
  // The OPTIONS list shows the chosen variables in the include list's order.
  int row = 0;
  for (int r = 1; r <= sel.p + 1 && row == 0; ++r)
    if (sel.fromltoreg[static_cast<std::size_t>(r - 1)] == e) row = r;
  state_.options.l[static_cast<std::size_t>(e - 1)] = flag;
  traceScreen(runtime_, listLine({"Selected, l(fromltoreg(sel)):", row, model::engineCode(flag)}));
  return {};
}

Outcome Session::setOptions(const AnalysisOptions& asked) {
  std::vector<std::string> lines = optionsRefusals(asked);
  if (asked.cvFolds && *asked.cvFolds > 0 && selectionUsable(state_)) {
    const std::string why =
        model::crossValidationRefusal(state_.data.nRows, state_.selection.p, *asked.cvFolds);
    if (!why.empty()) lines.push_back("CV folds " + std::to_string(*asked.cvFolds) + ": " + why);
  }
  if (!lines.empty()) return Outcome{false, lines};
  const std::size_t before = state_.problems.size();
  storeOptions(asked, state_.options);
  traceBoth(runtime_, listLine({"Options done:"}));
  endCommand();
  return withProblemsSince(before, {});
}

Outcome Session::withProblemsSince(std::size_t before, Outcome outcome) const {
  // A log that could not be written, said at the end of the command.
  for (std::string& line : problemsSince(before)) outcome.lines.push_back(std::move(line));
  outcome.ok = outcome.ok && outcome.lines.empty();
  return outcome;
}

Outcome Session::run() {
  if (!run_) return refused("there is no Run command");
  const std::size_t before = state_.problems.size();
  run_();
  Outcome outcome;
  outcome.lines = problemsSince(before);
  outcome.ok = outcome.lines.empty();
  return outcome;
}

// A command of the shell that says whether it did its work; its lines are
// the problems it left.
Outcome Session::tracked(const std::function<bool()>& command) const {
  const std::size_t before = state_.problems.size();
  Outcome outcome;
  outcome.ok = command();
  outcome.lines = problemsSince(before);
  return outcome;
}

Outcome Session::saveModel(const std::string& path) {
  Outcome outcome = tracked([&] { return app::saveModel(runtime_, state_, path); });
  if (!outcome.ok && outcome.lines.empty()) outcome.lines.push_back("the model could not be saved");
  return outcome;
}

Outcome Session::openModel(const std::string& path) {
  return tracked([&] { return app::openModel(runtime_, state_, path); });
}

Outcome Session::predict(const std::string& path) {
  if (!state_.model) return refused("there is no model: run an analysis or open a model first");
  return tracked([&] { return predictDataFile(runtime_, state_, *state_.model, path); });
}

Outcome Session::exportResults(const std::string& path) {
  return tracked([&] { return app::exportResults(runtime_, state_, path); });
}

}  // namespace tavel::app

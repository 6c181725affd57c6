// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/options_dialog.h"

#include <charconv>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/session.h"
#include "io/field_format.h"
#include "io/free_form_reader.h"
#include "io/trace.h"

namespace tavel::app {
namespace {

using platform::ControlKind;
using platform::Dialog;

constexpr int kFlagCount = 5;
constexpr int kFlagRadioGroup = 1;

// Engine position of a row of the variable list; 0 when the row has none.
int enginePosition(const VarSelection& sel, int row) {
  if (row < 1 || row > static_cast<int>(sel.fromltoreg.size())) return 0;
  const int e = sel.fromltoreg[row - 1];
  return e >= 1 && e <= kMaxIncluded + 1 ? e : 0;
}

std::string stripped(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

bool isVariable(const DataTable& data, int v) { return v >= 1 && v <= data.numCol; }

// The rows of the variable list: the independents, then the dependent. A
// selection with fewer than two variables (or one that does not belong to
// the current table) has no rows.
bool selectionUsable(const AppState& state) {
  const VarSelection& sel = state.selection;
  if (sel.p < 1 || static_cast<int>(sel.indep.size()) < sel.p) return false;
  for (int j = 0; j < sel.p; ++j)
    if (!isVariable(state.data, sel.indep[j])) return false;
  return isVariable(state.data, sel.dep);
}

// The shortest text that reads back as the same number.
std::string shortestNumberText(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string();
}

}  // namespace

platform::DialogResource optionsDialogResource() {
  platform::DialogResource r;
  r.id = kOptionsResource;
  r.title = "OPTIONS";
  r.width = 192;
  r.height = 132;
  const int listStyle =
      platform::kStyleSorted | platform::kStyleNotify | platform::kStyleVerticalScroll;
  r.controls = {
      {1, ControlKind::DefaultPushButton, "OK", 129, 7, 50, 14, 0, 0},
      {-1, ControlKind::GroupBox, "Variable Flag", 7, 1, 96, 120, 0, 0},
      {kOptionsVariableList, ControlKind::ListBox, "", 11, 12, 79, 44, listStyle, 0},
  };
  static const char* const kFlagTexts[kFlagCount] = {"Orderable", "Circular", "Monotone Tr",
                                                     "Linear Tr", "Unorderable"};
  for (int k = 0; k < kFlagCount; ++k)
    r.controls.push_back({kFirstFlagRadio + k, ControlKind::RadioButton, kFlagTexts[k], 27,
                          59 + 12 * k, 64, 10, 0, kFlagRadioGroup});
  const std::vector<platform::ControlSpec> rest = {
      {kEquilibrationBox, ControlKind::CheckBox, "Equilibration", 112, 27, 64, 14, 0, 0},
      {kScreenCapturesBox, ControlKind::CheckBox, "Screen Captures", 112, 42, 64, 14, 0, 0},
      {-1, ControlKind::GroupBox, "Convergence Criteriom", 105, 62, 81, 59, 0, 0},
      {-1, ControlKind::StaticText, "NumTerm", 135, 73, 32, 8, 0, 0},
      {kNumTermBox, ControlKind::EditBox, "", 123, 80, 54, 12, 0, 0},
      {-1, ControlKind::StaticText, "DelRsq", 137, 98, 24, 8, 0, 0},
      {kDelRsqBox, ControlKind::EditBox, "", 123, 105, 54, 13, 0, 0},
  };
  r.controls.insert(r.controls.end(), rest.begin(), rest.end());
  // Cross-validation, in a row of its own below the two groups.
  r.controls.push_back({-1, ControlKind::StaticText, "CV folds", 11, 123, 36, 8, 0, 0});
  r.controls.push_back({kCvFoldsBox, ControlKind::EditBox, "", 50, 122, 40, 9, 0, 0});
  // The smoothness, in one more row: the dialog grows by it and every
  // documented control keeps its place.
  r.height = 146;
  r.controls.push_back({kTuneBox, ControlKind::CheckBox, "Tune by CV", 105, 121, 60, 10, 0, 0});
  r.controls.push_back({-1, ControlKind::StaticText, "Smoothness: bass", 11, 134, 60, 8, 0, 0});
  r.controls.push_back({kBassBox, ControlKind::EditBox, "", 72, 133, 24, 10, 0, 0});
  r.controls.push_back({-1, ControlKind::StaticText, "fixed span", 105, 134, 36, 8, 0, 0});
  r.controls.push_back({kSpanBox, ControlKind::EditBox, "", 142, 133, 36, 10, 0, 0});
  return r;
}

void onVariableSelect(Dialog& dialog, AppState& state) {
  auto enableFlags = [&dialog](bool on) {
    for (int k = 0; k < kFlagCount; ++k)
      dialog.setLogical(kFirstFlagRadio + k, on, platform::kIndexEnable);
  };
  if (dialog.getInt(kOptionsVariableList) == 0) {
    enableFlags(false);
    return;
  }
  const int selected = dialog.getInt(kOptionsVariableList, 1);
  const int row = selected != 0 ? selected : 1;
  const int e = enginePosition(state.selection, row);
  const int f = e != 0 ? model::engineCode(state.options.l[e - 1]) : 0;
  auto showFlag = [&] {
    if (f >= 1 && f <= kFlagCount) dialog.setLogical(kFirstFlagRadio + f - 1, true);
  };
  if (selected != 0) {
    enableFlags(true);
    showFlag();
  } else {
    showFlag();
    enableFlags(false);
  }
}

void onFlagRadio(platform::Runtime& runtime, Dialog& dialog, AppState& state, int id) {
  // The radio buttons are enabled only while a row is selected.
  const int row = dialog.getInt(kOptionsVariableList, 1);
  const int e = enginePosition(state.selection, row);
  if (row == 0 || e == 0) return;
  const std::optional<model::VarFlag> flag = model::flagFromCode(id - (kFirstFlagRadio - 1));
  if (!flag) return;
  state.options.l[e - 1] = *flag;
  traceScreen(runtime, listLine({"Selected, l(fromltoreg(sel)):", row, model::engineCode(*flag)}));
}

void setUpOptionsDialog(platform::Runtime& runtime, Dialog& dialog, AppState& state) {
  const RunOptions& options = state.options;
  const VarSelection& sel = state.selection;
  const DataTable& data = state.data;
  dialog.setText(kNumTermBox, numTermText(options.NumTerm));
  dialog.setText(kDelRsqBox, delRsqText(options.DelRsq));
  dialog.setLogical(kEquilibrationBox, options.Equilibration);
  dialog.setLogical(kScreenCapturesBox, options.ScreenCaptures);
  dialog.setText(kCvFoldsBox, numTermText(options.CvFolds));
  dialog.setText(kBassBox, shortestNumberText(options.Bass));
  dialog.setText(kSpanBox, options.Span > 0.0 ? shortestNumberText(options.Span) : "");
  dialog.setLogical(kTuneBox, options.Tune);

  if (selectionUsable(state)) {
    dialog.setInt(kOptionsVariableList, sel.p + 1);
    for (int j = 1; j <= sel.p; ++j)
      dialog.setText(kOptionsVariableList, trimName(data.colName[sel.indep[j - 1] - 1]), j);
    dialog.setText(kOptionsVariableList, trimName(data.colName[sel.dep - 1]), sel.p + 1);
  } else {
    dialog.setInt(kOptionsVariableList, 0);
  }

  onVariableSelect(dialog, state);
  dialog.setCallback(kOptionsVariableList,
                     [&state](Dialog& d, int, int) { onVariableSelect(d, state); });
  for (int k = 0; k < kFlagCount; ++k)
    dialog.setCallback(kFirstFlagRadio + k, [&runtime, &state](Dialog& d, int id, int) {
      onFlagRadio(runtime, d, state, id);
    });
}

void readBackOptions(Dialog& dialog, RunOptions& options, std::vector<std::string>* kept) {
  // A text that is not read, or a value the rules refuse, keeps the setting;
  // the user is told which.
  auto keptLine = [kept](std::string_view field, const std::string& text, std::string_view rule,
                         const std::string& value) {
    if (kept == nullptr) return;
    kept->push_back(std::string(field) + " '" + stripped(text) + "' " + std::string(rule) + ": " +
                    stripped(value) + " kept");
  };
  auto numberText = [](double x) {
    char digits[32];
    return std::string(digits, std::to_chars(digits, digits + sizeof digits, x).ptr);
  };
  AnalysisOptions asked;
  asked.equilibration = dialog.getLogical(kEquilibrationBox);
  asked.screenCaptures = dialog.getLogical(kScreenCapturesBox);
  asked.tune = dialog.getLogical(kTuneBox);
  // The engine divides by NumTerm: a count below 1 is refused like text
  // that is not a number.
  int numTerm = 0;
  const std::string numTermBox = dialog.getText(kNumTermBox);
  if (readFreeFormNumber(numTermBox, numTerm) && numTermAllowed(numTerm))
    asked.numTerm = numTerm;
  else
    keptLine("NumTerm", numTermBox, kNumTermRule, numTermText(options.NumTerm));
  double delRsq = 0.0;
  const std::string delRsqBox = dialog.getText(kDelRsqBox);
  if (readFreeFormNumber(std::string_view(delRsqBox).substr(0, kDelRsqTextLength), delRsq) &&
      delRsqAllowed(delRsq))
    asked.delRsq = delRsq;
  else
    keptLine("DelRsq", delRsqBox, kDelRsqRule, delRsqText(options.DelRsq));
  // Too many folds for the data are refused by the Run, which knows the rows.
  int cvFolds = 0;
  const std::string cvBox = dialog.getText(kCvFoldsBox);
  if (readFreeFormNumber(cvBox, cvFolds) && cvFoldsAllowed(cvFolds))
    asked.cvFolds = cvFolds;
  else
    keptLine("CV folds", cvBox, kCvFoldsRule, std::to_string(options.CvFolds));
  double bass = 0.0;
  const std::string bassBox = dialog.getText(kBassBox);
  if (readFreeFormNumber(bassBox, bass) && bassAllowed(bass))
    asked.bass = bass;
  else
    keptLine("Bass", bassBox, kBassRule, numberText(options.Bass));
  // An empty span box (or 0) is the adaptive span.
  double span = 0.0;
  const std::string spanBox = dialog.getText(kSpanBox);
  if (spanBox.find_first_not_of(' ') == std::string::npos)
    asked.span = 0.0;
  else if (readFreeFormNumber(spanBox, span) && spanAllowed(span))
    asked.span = span;
  else
    keptLine("Span", spanBox, kSpanRule, numberText(options.Span));
  storeOptions(asked, options);
}

std::vector<std::string> optionsDialog(platform::Runtime& runtime, AppState& state) {
  std::vector<std::string> kept;
  std::unique_ptr<Dialog> dialog = runtime.initDialog(kOptionsResource);
  if (!dialog) {
    traceScreen(runtime, listLine({"error: resource not found"}));
    return kept;
  }
  setUpOptionsDialog(runtime, *dialog, state);
  dialog->runModal();
  readBackOptions(*dialog, state.options, &kept);
  dialog.reset();
  traceBoth(runtime, listLine({"Options done:"}));
  return kept;
}

}  // namespace tavel::app

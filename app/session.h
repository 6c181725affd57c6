// SPDX-License-Identifier: GPL-3.0-or-later
// One analysis as typed operations: load a data file, choose the variables,
// set their flags and the options, run, save or open a model, predict, export.
// The dialogs store what the user chose through it and tavel-batch calls it
// directly, so both front ends check a choice by the same rules and leave the
// same trace lines and files. Each operation checks its input first and
// changes nothing when it refuses.
//
//   Session session(runtime, state);
//   session.setRunCommand([&] { shell.onRun(false); });
//   if (!session.load("data.dat").ok) ...
//   Outcome chosen = session.choose("y", {"T", "P"});
//   if (!chosen.ok) std::cerr << chosen.lines.front();   // "unknown variable 'P'"
//   session.setFlag("T", model::VarFlag::Monotone);
//   session.run();
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/data_file.h"
#include "app/records.h"
#include "model/variable_flag.h"
#include "platform/runtime.h"

namespace tavel::app {

// What an operation did. ok: it did its work; lines: the refusal, or what
// went wrong on the way (a file that could not be written), one line each
// without a leading blank. A refusal has ok false and changed nothing.
struct Outcome {
  bool ok = true;
  std::vector<std::string> lines;
};

// How to read a data file whose name does not say (the file's own name and
// content decide by default).
struct ReadingRequest {
  bool csv = false;   // CSV whatever the name
  bool tsv = false;   // CSV with tabs whatever the name
  std::string sheet;  // the worksheet of a workbook, by name or number; empty: the first
};

// The scan's outcome: ok when it reached its end, the table's size, and the
// remarks that are no failure (lines of the file that disagree here and there).
struct ScanOutcome {
  bool ok = true;
  std::vector<std::string> lines;
  int rows = 0;
  int variables = 0;
  std::vector<std::string> warnings;
};

// The settings of the OPTIONS dialog and the ones no dialog control holds;
// nothing given keeps the current value.
struct AnalysisOptions {
  std::optional<int> numTerm;
  std::optional<double> delRsq;
  std::optional<bool> equilibration;
  std::optional<bool> screenCaptures;
  std::optional<int> cvFolds;  // 0: no cross-validation
  std::optional<double> bass;
  std::optional<double> span;  // 0: the adaptive span
  std::optional<bool> tune;
  std::optional<model::Extrapolation> extrapolate;
};

// The rules of the settings, as the refusals say them ("NumTerm 0 is not a
// whole number of at least 1"). The OPTIONS dialog reads its boxes by them.
inline constexpr std::string_view kNumTermRule = "is not a whole number of at least 1";
inline constexpr std::string_view kDelRsqRule = "is not a number";
inline constexpr std::string_view kCvFoldsRule = "is not a whole number of 0 or more";
inline constexpr std::string_view kBassRule = "is not a number from 0 to 10";
inline constexpr std::string_view kSpanRule = "is not a number from 0 to 1";
bool numTermAllowed(int numTerm);
bool delRsqAllowed(double delRsq);
bool cvFoldsAllowed(int folds);
bool bassAllowed(double bass);
bool spanAllowed(double span);

// The refusals of the settings given, one line each; empty when every one
// may be stored.
std::vector<std::string> optionsRefusals(const AnalysisOptions& asked);
// Stores the settings given when optionsRefusals has none; the result is
// optionsRefusals' lines.
Outcome storeOptions(const AnalysisOptions& asked, RunOptions& options);

// Why a dependent and its independents cannot be analysed together (a name
// the table does not have or has twice, the dependent also an independent,
// also on its other scale, an independent named twice, none or too many), or
// an empty text.
std::string selectionRefusal(const DataTable& data, const std::string& dependent,
                             const std::vector<std::string>& independents);

class Session {
 public:
  Session(platform::Runtime& runtime, AppState& state);

  // The Run command (run/ builds on app/; its front end installs it).
  void setRunCommand(std::function<void()> run) { run_ = std::move(run); }
  // Called at the end of every operation that writes to the log (the shell's
  // end of a command: the log flushed, lost lines reported).
  void setCommandEnd(std::function<void()> end) { end_ = std::move(end); }

  // Scans a data file as File / Input Dat File does (the plots of an earlier
  // run are closed first); the options go back to their defaults. A workbook
  // of several sheets without a sheet asked for reads its first.
  ScanOutcome load(const std::string& path, const ReadingRequest& reading = {});
  // load without reading the file again: a scan that reached its end on
  // another runtime, with the same reading, is taken over (its lines said
  // here as the scan said them; app/data_file.h).
  ScanOutcome load(EarlierScan scan, const ReadingRequest& reading = {});

  // The variables of the analysis, as the Prepare dialog stores them when
  // its include list holds these and the dependent's radio button is
  // clicked: the rows in the list's order, the flags reset (independents
  // Orderable, a category Unorderable, the dependent Monotone Tr), and the
  // dialog's trace lines.
  Outcome choose(const std::string& dependent, const std::vector<std::string>& independents);
  // The part the Prepare dialog uses when it closes: the include list's rows
  // in order and the row (1-based) of the dependent's radio button. Fewer
  // than two rows leave no analysis chosen (and trace nothing).
  Outcome chooseIncluded(const std::vector<std::string>& rows, int dependentRow);

  // The flag of a chosen variable, traced as a click on its radio button.
  Outcome setFlag(const std::string& name, model::VarFlag flag);
  // The settings given, checked all before any is stored; traced as the
  // OPTIONS dialog's close. Folds are also checked against the rows and
  // independents chosen.
  Outcome setOptions(const AnalysisOptions& asked);
  // The rule for scores beyond the fitted range (no dialog control holds it).
  void setExtrapolation(model::Extrapolation rule) { state_.options.extrapolate = rule; }

  // The Run; its lines are the problems it left.
  Outcome run();
  Outcome saveModel(const std::string& path);
  Outcome openModel(const std::string& path);
  // Predicts the rows of a data file with the current model into Tavelpr.xls.
  // ok when the sheet was written; lines may still say what went wrong.
  Outcome predict(const std::string& path);
  Outcome exportResults(const std::string& path);

 private:
  std::vector<std::string> problemsSince(std::size_t before) const;
  Outcome withProblemsSince(std::size_t before, Outcome outcome) const;
  Outcome tracked(const std::function<bool()>& command) const;
  ScanOutcome loadBy(const ReadingRequest& reading, const std::function<bool()>& scan);
  void endCommand() {
    if (end_) end_();
  }

  platform::Runtime& runtime_;
  AppState& state_;
  std::function<void()> run_;
  std::function<void()> end_;
};

}  // namespace tavel::app

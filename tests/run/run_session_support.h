// SPDX-License-Identifier: GPL-3.0-or-later
// Whole analyses on the headless runtime, driven as a user would (Input,
// Prepare, Options, Run), and the texts a run must produce, laid out here
// from the report layouts.
//
// The numbers in those texts are NOT independent answers: Reference gets
// them by calling the same engine and numeric stages the Run calls, and the
// expected texts format them with the program's own field formatters. So a
// comparison against them checks the wiring (the Run hands the right arrays
// and settings to the right stages, in the right order), the layout (which
// line, which field, which destination, what is left out) and that the Run
// changes nothing on the way; it cannot catch a wrong number that the
// engine, a stage or a formatter computes. Answers from outside the program
// are in outside_answers_test.cc and in the tests of each stage.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/records.h"
#include "app/shell.h"
#include "platform/headless/headless_runtime.h"

namespace tavel::run::testing {

// The canvas of every graphics window: a recorder of an 800 x 600 window
// whose pictures save successfully.
std::unique_ptr<platform::Canvas> makeCanvas();

// Reads a whole file into lines (without line ends); empty when missing.
std::vector<std::string> fileLines(const std::filesystem::path& path);
std::string fileText(const std::filesystem::path& path);

// A tab-separated sheet (each field followed by a tab) as columns by title;
// titleLine: the index of the title line.
std::map<std::string, std::vector<std::string>> sheetColumns(const std::vector<std::string>& lines,
                                                             std::size_t titleLine);

class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  std::filesystem::path dir() const { return dir_; }
  std::filesystem::path path(const std::string& name) const { return dir_ / name; }
  void writeFile(const std::string& name, const std::string& text) const;

  // File / Input Dat File with the Prepare dialog that follows: includes the
  // named variables and marks dep as the dependent.
  void input(const std::string& fileName, const std::vector<std::string>& include,
             const std::string& dep);
  // OPTIONS: flag codes by variable name, the two switches.
  void options(const std::map<std::string, int>& flags, bool equilibration, bool captures = false);
  void run();

  // The Run's part of the log: from its input heading to the end.
  std::vector<std::string> runLog(int which = 1) const;

  platform::headless::HeadlessRuntime runtime;
  app::AppState state;
  app::Shell shell;

 private:
  std::filesystem::path dir_;
};

// The values a run computes, obtained by calling the engine and the numeric
// stages directly on the same data: the program's own results, for checking
// the Run's wiring and layout, not a second opinion on them.
struct Reference {
  int n = 0;
  int p = 0;
  std::vector<std::string> names;  // 50 characters, by engine position
  std::vector<int> codes;          // l(1..p+1)
  std::vector<double> x, y, tx, ty, xEq, yEq, sumTx, yPred, expPred;
  std::vector<int> m;
  double rsq = 0.0;
  bool equilibration = false;
  bool prediction = false;
  bool logResponse = false;
  double Avedev = 0, Stdev = 0, Bias = 0;
  double ExpAvedev = 0, ExpStdev = 0, ExpBias = 0, ExpAvedevPct = 0, ExpStdevPct = 0,
         ExpBiasPct = 0;
  std::vector<std::string> engineLines;   // the iteration lines
  std::vector<std::string> numericLines;  // messages of equilibration and prediction
};

// columns: the file's values by column name (as the scan reads them: each
// text parsed to double), names: the engine's variables (a "_ln_" name takes
// the logarithm of its column).
Reference computeReference(const std::map<std::string, std::vector<double>>& columns,
                           const std::vector<std::string>& names, const std::vector<int>& codes,
                           bool equilibrationSwitch, double delRsq, int numTerm);

// Texts from the layouts, with the numbers of a Reference formatted by the
// program's field formatters (whose own tests hold their known answers).
std::vector<std::string> expectedEchoLines(const Reference& r, int rows, bool screen);
std::vector<std::string> expectedRunLog(const Reference& r);
std::vector<std::string> expectedRunScreen(const Reference& r);
std::vector<std::string> expectedTransformSheet(const Reference& r);
std::vector<std::string> expectedCorrectionSheet(const Reference& r);

}  // namespace tavel::run::testing

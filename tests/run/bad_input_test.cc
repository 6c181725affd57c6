// SPDX-License-Identifier: GPL-3.0-or-later
// Files and choices people really make: exported, hand-edited, half-written
// or odd data files, degenerate data, extreme settings, a data file changed
// behind the program's back and output that cannot be written. Every case
// ends with a clear message or a defined output, and never with a crash (this
// suite also runs under the address and undefined-behaviour sanitizers).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/options_dialog.h"
#include "app/prepare_dialog.h"
#include "io/free_form_reader.h"
#include "run/run_command.h"
#include "tests/run/run_session_support.h"

namespace tavel::run {
namespace {

using platform::headless::DialogAction;
using testing::fileLines;
using testing::fileText;
using testing::Session;
using Lines = std::vector<std::string>;

bool hasLine(const Lines& lines, const std::string& part) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

bool completeRun(const Session& s) {
  const Lines& screen = s.runtime.screen();
  return hasLine(screen, "FINAL SQUARED CORRELATION =") &&
         std::find(screen.begin(), screen.end(), " Taveltr.xls is done") != screen.end();
}

std::string trimmedName(const std::string& name) {
  return name.substr(0, name.find_last_not_of(' ') + 1);
}

Lines variableNames(const Session& s) {
  Lines out;
  for (const std::string& n : s.state.data.colName) out.push_back(trimmedName(n));
  return out;
}

// Numbers as the outputs print them never read "NaN" or "Inf", nor a field
// of asterisks (how a value that is not finite is written) unless allowed.
void expectNoNonNumbers(const std::string& text, const std::string& what,
                        bool starsAllowed = false) {
  for (const char* bad : {"nan", "NaN", "NAN", "inf", "Inf", "INF"})
    EXPECT_EQ(text.find(bad), std::string::npos) << what << " holds " << bad;
  if (!starsAllowed) {
    EXPECT_EQ(text.find("**"), std::string::npos) << what << " holds **";
  }
}

// ---------------------------------------------------------------------------
// The scan of odd files: what the table holds and whether the Prepare
// dialog follows (only when rows were read; otherwise the "open" line is all
// the user sees).

struct ScanCase {
  const char* label;
  std::string content;
  int numCol1;
  int numCol;
  int nRows;
  Lines names;  // the first names offered (empty: not checked)
};

std::string bigHeader() { return "A B " + std::string(1 << 20, 'h') + "\n1 2\n3 4\n"; }
std::string bigRow() {
  std::string line = "5 6";
  for (int k = 0; k < (1 << 19); ++k) line += " 1";
  return "A B\n1 2\n" + line + "\n7 8\n";
}

TEST(BadInputScan, OddFilesGiveADefinedTable) {
  const std::vector<ScanCase> cases = {
      // The whole header line is read, and its end ends the last name.
      {"name reaching the 256th character of the header",
       "A " + std::string(254, 'z') + "\n1 9\n2 9\n",
       2,
       4,
       2,
       {"A", std::string(50, 'z'), "_ln_A"}},
      // Three names over lines of two values that never make whole rows:
      // refused rather than read as rows built from pieces of lines.
      {"a header line of 1 MB", bigHeader(), 0, 0, 0, {}},
      {"a data line of 1 MB", bigRow(), 2, 4, 3, {"A", "B", "_ln_A", "_ln_B"}},
      // Every label once: identifiers, no columns to analyse.
      {"rows of words", "A B\nno numbers\nat all here\nnone\n", 0, 0, 0, {}},
      // The row with the NUL byte is skipped alone.
      {"NUL bytes",
       std::string("A\0B C\n1 2\n3\0 4\n5 6\n7 8\n", 23),
       2,
       4,
       3,
       {std::string("A\0B", 3), "C"}},
      {"unreadable last record", "A B\n1 2\n3 4\nthe end\n", 2, 4, 2, {}},
      {"single-precision overflow and underflow",
       "A B\n1e39 1e-50\n2 3\n",
       2,
       3,
       2,
       {"A", "B", "_ln_A"}},
      {"beyond the double range: unreadable", "A B\n1e400 1\nskipped\n2 3\n4 5\n", 2, 4, 2, {}},
      {"negative zero is not positive", "A B\n-0 1\n2 3\n", 2, 3, 2, {"A", "B", "_ln_B"}},
      {"repeats, slashes, empty comma fields", "A B C\n3*2.5\n1 /\n,,4\n", 3, 6, 3, {}},
  };
  for (const ScanCase& c : cases) {
    SCOPED_TRACE(c.label);
    Session s;
    s.writeFile("odd.dat", c.content);
    s.input("odd.dat", {}, "");
    EXPECT_EQ(s.state.data.numCol1, c.numCol1);
    EXPECT_EQ(s.state.data.numCol, c.numCol);
    EXPECT_EQ(s.state.data.nRows, c.nRows);
    const Lines names = variableNames(s);
    ASSERT_GE(names.size(), c.names.size());
    for (std::size_t k = 0; k < c.names.size(); ++k)
      EXPECT_EQ(names[k], c.names[k]) << "name " << k + 1;
    const Lines& screen = s.runtime.screen();
    ASSERT_FALSE(screen.empty());
    EXPECT_EQ(screen.front().rfind(" open ", 0), 0u);
    EXPECT_EQ(hasLine(screen, " numCol1="), c.nRows > 0);
  }
}

TEST(BadInputScan, FileWithoutRowsOffersNothingToRun) {
  for (const std::string& content :
       {std::string(), std::string("A B\n"), std::string("A B\nwords only\nand more\n")}) {
    Session s;
    s.writeFile("none.dat", content);
    s.input("none.dat", {"A", "B"}, "B");
    EXPECT_EQ(s.state.data.nRows, 0);
    EXPECT_EQ(s.state.selection.p, 0);  // no Prepare dialog was shown
    const std::size_t before = s.runtime.screenHistory().size();
    s.run();
    EXPECT_EQ(s.runtime.screenHistory().size(), before) << "the Run is silent";
    EXPECT_TRUE(s.runtime.graphicsWindows().empty());
    EXPECT_FALSE(std::filesystem::exists(s.path("Taveltr.xls")));
  }
}

TEST(BadInputScan, NamesBeyondSixtyFourAreDroppedAndTheLastKeptOnesRun) {
  std::string header, text;
  for (int j = 1; j <= 70; ++j) header += "c" + std::to_string(j) + " ";
  text = header + "\n";
  for (int i = 1; i <= 6; ++i) {
    for (int j = 1; j <= 70; ++j) text += std::to_string(i * i + j) + " ";
    text += "\n";
  }
  Session s;
  s.writeFile("wide.dat", text);
  // The last kept column by its log (c64 itself would predict its own log).
  s.input("wide.dat", {"c1", "c63", "_ln_c64"}, "_ln_c64");
  ASSERT_EQ(s.state.data.numCol1, 64);
  ASSERT_EQ(s.state.data.numCol, 128);
  ASSERT_EQ(s.state.selection.p, 2);
  s.run();
  EXPECT_TRUE(completeRun(s));
  const Lines sheet = fileLines(s.path("Taveltr.xls"));
  ASSERT_EQ(sheet.size(), 8u);
  EXPECT_EQ(sheet[1].substr(0, 39), "c1\tc1_Tr\tc63\tc63_Tr\t_ln_c64\t_ln_c64_Tr\t");
}

// ---------------------------------------------------------------------------
// Files that differ from a plain file only in their form give the same run.

const char* const kPlainRows[] = {"300 1.0 0.12", "310 2.5 2.5", "320 1.5 0.39",
                                  "330 1.5 1.2",  "340 2.0 1.2", "350 3.0 3.1",
                                  "360 3.5 5.2",  "370 4.0 9.9", "380 4.5 14.0"};

std::string plainFile() {
  std::string text = "T P Y\n";
  for (const char* row : kPlainRows) text += std::string(row) + "\n";
  return text;
}

// The plain file with row k (0-based) written as replacement.
std::string withRow(std::size_t k, const std::string& replacement) {
  std::string text = "T P Y\n";
  for (std::size_t i = 0; i < std::size(kPlainRows); ++i)
    text += (i == k ? replacement : std::string(kPlainRows[i])) + "\n";
  return text;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

struct RunOutputs {
  Lines log, screen, sheet;
};

RunOutputs runFile(const std::string& content) {
  Session s;
  s.writeFile("d.dat", content);
  s.input("d.dat", {"T", "P", "_ln_Y"}, "_ln_Y");
  s.options({{"T", 3}, {"P", 3}}, true);
  s.run();
  return {s.runLog(), s.runtime.screen(), fileLines(s.path("Taveltr.xls"))};
}

TEST(BadInputRun, FormsOfTheSameDataGiveTheSameRun) {
  const RunOutputs plain = runFile(plainFile());
  ASSERT_FALSE(plain.log.empty());
  ASSERT_EQ(plain.sheet.size(), std::size(kPlainRows) + 2);
  std::string huge = "370 4.0 9.9";
  for (int k = 0; k < (1 << 19); ++k) huge += " x";
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"CRLF line ends", replaceAll(plainFile(), "\n", "\r\n")},
      {"byte-order mark", "\xEF\xBB\xBF" + plainFile()},
      {"odd header separators", "\t T ~P  \tY\n" + plainFile().substr(6)},
      {"repeat 2*2.5", withRow(1, "310 2*2.5")},
      {"empty comma field", withRow(3, "330,,1.2")},
      {"slash ends the row", withRow(4, "340 2.0 /")},
      {"row over three lines", withRow(5, "350\n\n3.0\n3.1")},
      {"tabs and commas", withRow(8, "380\t4.5 , 14.0")},
      {"extra values and text after a row", withRow(6, "360 3.5 5.2 999 junk;")},
      {"a 1 MB line", withRow(7, huge)},
      {"text line", withRow(2, "text here\n320 1.5 0.39")},
      {"NUL byte", withRow(2, std::string("1\0 2 3\n", 7) + "320 1.5 0.39")},
      {"unreadable last record", plainFile() + "end of data\n"},
      {"number beyond the double range", withRow(0, "1e999 1 1\n300 1.0 0.12")},
  };
  for (const auto& [label, content] : cases) {
    SCOPED_TRACE(label);
    const RunOutputs o = runFile(content);
    EXPECT_EQ(o.log, plain.log);
    EXPECT_EQ(o.screen, plain.screen);
    EXPECT_EQ(o.sheet, plain.sheet);
  }
}

// ---------------------------------------------------------------------------
// Values at the edges of the number ranges, carried through a whole run.

TEST(BadInputRun, ValuesBeyondSinglePrecisionKeepTheirDoubleValue) {
  Session s;
  // A reaches 1e39 (an infinity in single precision, still positive: its
  // logarithm is offered); B holds 1e-50 (zero in single precision: no
  // logarithm) and a negative zero.
  s.writeFile("edge.dat", "A B Y\n1 1e-50 1\n2 -0 2\n3 3 3.5\n4 4 3.9\n5 5 6\n6 6 6.2\n1e39 7 8\n");
  s.input("edge.dat", {"_ln_A", "B", "Y"}, "Y");
  EXPECT_EQ(variableNames(s), (Lines{"A", "B", "Y", "_ln_A", "_ln_Y"}));
  s.run();
  ASSERT_TRUE(completeRun(s));
  const Lines sheet = fileLines(s.path("Taveltr.xls"));
  ASSERT_EQ(sheet.size(), 9u);
  // _ln_A of 1e39 is 89.8; B keeps its tiny value; a negative zero prints as zero.
  EXPECT_EQ(sheet[8].substr(0, 16), "    8.98008E+01\t");
  EXPECT_EQ(sheet[2].substr(32, 16), "    1.00000E-50\t");
  EXPECT_EQ(sheet[3].substr(32, 16), "    0.00000E+00\t");
  expectNoNonNumbers(fileText(s.path("Taveltr.xls")), "Taveltr.xls");
  expectNoNonNumbers(fileText(s.path("Tavel.log")), "Tavel.log");
}

// ---------------------------------------------------------------------------
// Degenerate data: the run still ends with a complete report.

struct DegenerateCase {
  const char* label;
  std::string content;
  std::map<std::string, int> flags;
};

TEST(BadInputRun, DegenerateDataStillGiveACompleteReport) {
  const std::vector<DegenerateCase> cases = {
      {"constant independent", "X C Y\n1 5 2\n2 5 3\n3 5 5\n4 5 4\n5 5 7\n6 5 8\n", {}},
      {"dependent with two values", "X Z Y\n1 3 1\n2 1 2\n3 4 1\n4 1 2\n5 5 1\n6 9 2\n", {}},
      {"collinear linear predictors",
       "X Z Y\n1 2 1.5\n2 4 2.1\n3 6 3.9\n4 8 4.2\n5 10 5.8\n6 12 6.1\n",
       {{"X", 4}, {"Z", 4}}},
      // Squares of these leave the double range; the statistics are still
      // numbers, not fields of asterisks.
      {"values near the double range",
       "X Z Y\n1e300 2 1\n-1e300 4 2\n3e300 6 3\n4 8 4e300\n5 10 5\n6 12 -6e300\n",
       {}},
  };
  for (const DegenerateCase& c : cases) {
    SCOPED_TRACE(c.label);
    Session s;
    s.writeFile("deg.dat", c.content);
    const Lines names = {trimmedName(c.content.substr(0, 1)), trimmedName(c.content.substr(2, 1)),
                         "Y"};
    s.input("deg.dat", names, "Y");
    ASSERT_EQ(s.state.selection.p, 2);
    if (!c.flags.empty()) s.options(c.flags, false);
    s.run();
    EXPECT_TRUE(completeRun(s));
    EXPECT_TRUE(s.state.problems.empty());
    EXPECT_EQ(fileLines(s.path("Taveltr.xls")).size(),
              static_cast<std::size_t>(s.state.data.nRows) + 2);
    // Three transformations, the correlation and the prediction.
    EXPECT_EQ(s.runtime.graphicsWindows().size(), 5u);
    expectNoNonNumbers(fileText(s.path("Taveltr.xls")), "Taveltr.xls");
    expectNoNonNumbers(fileText(s.path("Tavel.log")), "Tavel.log");
  }
}

// ---------------------------------------------------------------------------
// Data the engine cannot be given: refused with one line on the screen and
// in the log, kept as the run's problem, and nothing drawn or written.

std::string tableOf(int rows, int columns) {
  std::string text;
  for (int j = 1; j < columns; ++j) text += "X" + std::to_string(j) + " ";
  text += "Y\n";
  for (int i = 1; i <= rows; ++i) {
    for (int j = 1; j <= columns; ++j) text += std::to_string((i * j * 7) % 11 + j) + " ";
    text += "\n";
  }
  return text;
}

Lines allNames(int columns) {
  Lines names;
  for (int j = 1; j < columns; ++j) names.push_back("X" + std::to_string(j));
  names.push_back("Y");
  return names;
}

struct RefusedCase {
  const char* label;
  std::string content;
  Lines include;
  std::map<std::string, int> flags;
  std::string changedContent;  // written between the scan and the Run when not empty
  std::string line;
};

TEST(BadInputRun, DataTheEngineCannotTakeAreRefusedWithOneLine) {
  const std::vector<RefusedCase> cases = {
      {"more independents than rows",
       tableOf(6, 21),
       allNames(21),
       {},
       "",
       " Too few observations for 20 independent variables: 6 rows (at least 20 are needed). "
       "Run stopped."},
      {"3n + 1 independents",
       tableOf(5, 17),
       allNames(17),
       {},
       "",
       " Too few observations for 16 independent variables: 5 rows (at least 16 are needed). "
       "Run stopped."},
      {"file lost rows below the independents' count",
       tableOf(9, 8),
       allNames(8),
       {},
       tableOf(6, 8),
       " Too few observations for 7 independent variables: 6 rows (at least 7 are needed). "
       "Run stopped."},
      {"logarithm of a value that became zero",
       "A B Y\n1 2 3\n2 3 5\n3 1 4\n4 5 8\n5 4 9\n6 6 7\n",
       {"_ln_A", "B", "Y"},
       {},
       "A B Y\n1 2 3\n2 3 5\n0 1 4\n4 5 8\n5 4 9\n6 6 7\n",
       " The value of _ln_A in observation 3 is not a finite number. Run stopped."},
      {"magnitudes from 1e-300 to 1e300 in one column",
       "X Z Y\n1e300 2 1\n1e-300 4 2\n3 6 3\n4 8 4\n5 10 5\n6 12 6\n",
       {"X", "Z", "Y"},
       {},
       "",
       " The values of X span too many orders of magnitude to be analysed together. Run "
       "stopped."},
      {"circular variable far below its period",
       "X Z Y\n1e-150 2 1\n2e-150 4 2\n3e-150 6 3\n4e-150 8 4\n5e-150 10 5\n6e-150 12 6\n",
       {"X", "Z", "Y"},
       {{"X", 2}},
       "",
       " X is Circular with a period of 1, but all its values are below 1e-100; choose another "
       "flag. Run stopped."},
  };
  for (const RefusedCase& c : cases) {
    SCOPED_TRACE(c.label);
    Session s;
    s.writeFile("d.dat", c.content);
    s.input("d.dat", c.include, "Y");
    ASSERT_EQ(s.state.selection.p, static_cast<int>(c.include.size()) - 1);
    if (!c.flags.empty()) s.options(c.flags, false);
    if (!c.changedContent.empty()) s.writeFile("d.dat", c.changedContent);
    s.run();
    ASSERT_FALSE(s.runtime.screen().empty());
    EXPECT_EQ(s.runtime.screen().back(), c.line);
    EXPECT_EQ(fileLines(s.path("Tavel.log")).back(), c.line);
    EXPECT_EQ(s.state.problems, Lines{c.line.substr(1)});
    EXPECT_FALSE(hasLine(s.runtime.screen(), "iteration"));
    EXPECT_TRUE(s.runtime.graphicsWindows().empty());
    EXPECT_FALSE(std::filesystem::exists(s.path("Taveltr.xls")));
  }
}

// The run's report reaches the disk block by block, not only when the log is
// closed: the input echo before the engine starts (a long estimate or a
// crash in it leaves the echo), and everything when the Run ends.
TEST(BadInputRun, TheLogIsOnDiskBeforeTheEngineAndAfterTheRun) {
  Session s;
  s.writeFile("d.dat", plainFile());
  s.input("d.dat", {"T", "P", "Y"}, "Y");
  Lines logAtFirstIteration;
  s.runtime.setScreenSink([&](std::string_view line) {
    if (logAtFirstIteration.empty() && line.rfind(" iteration", 0) == 0)
      logAtFirstIteration = fileLines(s.path("Tavel.log"));
  });
  s.runtime.invokeMenu("&Run");  // Session::run would flush the log itself
  ASSERT_TRUE(completeRun(s));
  ASSERT_FALSE(logAtFirstIteration.empty());
  // The last echo row: observation 9 as I11 after one blank.
  EXPECT_EQ(logAtFirstIteration.back().substr(0, 13), std::string(11, ' ') + "9 ");
  const Lines atEnd = fileLines(s.path("Tavel.log"));
  s.runtime.flush(app::kLogUnit);
  EXPECT_EQ(atEnd, fileLines(s.path("Tavel.log")));
  EXPECT_TRUE(hasLine(atEnd, "FINAL SQUARED CORRELATION"));
}

// ---------------------------------------------------------------------------
// Extreme settings typed into the OPTIONS dialog.

void typeCriteria(Session& s, const std::string& numTerm, const std::string& delRsq) {
  s.runtime.queueDialogScript(app::kOptionsResource, {DialogAction::type(app::kNumTermBox, numTerm),
                                                      DialogAction::type(app::kDelRsqBox, delRsq),
                                                      DialogAction::press(app::kOkButton)});
  s.runtime.invokeMenu("&Options");
}

TEST(BadInputOptions, AWholeNumberHasOneSignAtMost) {
  int value = 7;
  for (const char* text : {"+-4", "2*+-4", "-+4", "++4", "--4"})
    EXPECT_FALSE(app::readFreeFormNumber(text, value)) << text;
  EXPECT_EQ(value, 7);
  EXPECT_TRUE(app::readFreeFormNumber("2*-4", value));
  EXPECT_EQ(value, -4);
}

TEST(BadInputOptions, ExtremeCriteriaAreTakenOrRefusedAndTheRunEnds) {
  struct Case {
    std::string numTerm, delRsq;
    int wantNumTerm;  // as the dialog leaves it
    double wantDelRsq;
  };
  const std::vector<Case> cases = {
      {"0", "0", 2, 0.0},        // a count the engine cannot use keeps the setting
      {"100", "-1", 100, -1.0},  // taken as typed; the engine uses at most 10 passes
      {"+-4", "1e-3", 2, 1e-3},  // two signs: not a number
      {"-3", "1e999", 2, static_cast<double>(1.0e-4f)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.numTerm + " / " + c.delRsq);
    Session s;
    s.writeFile("d.dat", plainFile());
    s.input("d.dat", {"T", "P", "Y"}, "Y");
    typeCriteria(s, c.numTerm, c.delRsq);
    EXPECT_EQ(s.state.options.NumTerm, c.wantNumTerm);
    EXPECT_EQ(s.state.options.DelRsq, c.wantDelRsq);
    s.run();
    EXPECT_TRUE(completeRun(s));
    EXPECT_LE(s.state.options.NumTerm, 10);
  }
}

// ---------------------------------------------------------------------------
// The data file changes between its scan and the Run.

TEST(BadInputRun, DataFileDeletedAfterTheScanIsStillReadFromTheOpenFile) {
  const RunOutputs plain = runFile(plainFile());
  Session s;
  s.writeFile("d.dat", plainFile());
  s.input("d.dat", {"T", "P", "_ln_Y"}, "_ln_Y");
  s.options({{"T", 3}, {"P", 3}}, true);
  std::filesystem::remove(s.path("d.dat"));
  s.run();
  EXPECT_EQ(s.runLog(), plain.log);
  EXPECT_EQ(fileLines(s.path("Taveltr.xls")), plain.sheet);
}

TEST(BadInputRun, DataFileEmptiedAfterTheScanStopsTheRunWithTheReason) {
  Session s;
  s.writeFile("d.dat", plainFile());
  s.input("d.dat", {"T", "P", "Y"}, "Y");
  std::filesystem::resize_file(s.path("d.dat"), 0);
  s.run();
  const Lines& screen = s.runtime.screen();
  ASSERT_EQ(screen.size(), 2u);
  EXPECT_NE(screen[0].find("0 rows found, 0 rows used"), std::string::npos) << screen[0];
  EXPECT_NE(screen[1].find("Too few observations"), std::string::npos) << screen[1];
  EXPECT_TRUE(s.runtime.graphicsWindows().empty());
  EXPECT_FALSE(std::filesystem::exists(s.path("Taveltr.xls")));
}

// ---------------------------------------------------------------------------
// Output that cannot be written: the run still ends and says what is missing.

TEST(BadInputOutput, FolderThatCannotHoldFilesGivesMessagesNotACrash) {
  Session data;  // only for a readable data file elsewhere
  data.writeFile("d.dat", plainFile());
  const std::filesystem::path blocker = data.path("not_a_folder");
  data.writeFile("not_a_folder", "a regular file");

  app::AppState state;
  platform::headless::HeadlessRuntime runtime((blocker / "out").string(),
                                              [] { return testing::makeCanvas(); });
  app::Shell shell(runtime, state);
  shell.buildMenus();
  shell.setRunCommand([&] { onRun(runtime, state, shell); });
  shell.startUp();
  EXPECT_TRUE(hasLine(runtime.screen(), "error: cannot open Tavel.log"));

  runtime.queueFileChoice(data.path("d.dat").string());
  runtime.queueDialogScript(
      app::kPrepareResource,
      {DialogAction::select(app::kPrepareVariableList, {"T", "P", "Y"}),
       DialogAction::press(app::kPrepareMoveIn), DialogAction::press(app::kOkButton)});
  runtime.invokeMenu("&Input Dat File...");
  ASSERT_EQ(state.selection.p, 2);
  state.options.ScreenCaptures = true;
  runtime.invokeMenu("&Run");
  const Lines& screen = runtime.screen();
  EXPECT_TRUE(hasLine(screen, "FINAL SQUARED CORRELATION ="));
  EXPECT_TRUE(hasLine(screen, "Tavel.log cannot be opened for writing"));
  EXPECT_TRUE(hasLine(screen, "Taveltr.xls could not be written"));
  EXPECT_FALSE(hasLine(screen, "is done"));
  EXPECT_FALSE(std::filesystem::exists(blocker / "out"));
  // Each failure is kept once (the log's once per run, not per reopening),
  // and no earlier spreadsheet is promised where there was none.
  const auto count = [&](const std::string& line) {
    return std::count(state.problems.begin(), state.problems.end(), line);
  };
  EXPECT_EQ(count("Tavel.log cannot be opened for writing: this run is not logged."), 1);
  EXPECT_EQ(count("Taveltr.xls could not be written"), 1);
}

TEST(BadInputOutput, LogReplacedByAFolderBetweenRuns) {
  Session s;
  s.writeFile("d.dat", plainFile());
  s.input("d.dat", {"T", "P", "Y"}, "Y");
  s.runtime.close(app::kLogUnit);
  std::filesystem::remove(s.path("Tavel.log"));
  std::filesystem::create_directory(s.path("Tavel.log"));
  s.run();
  EXPECT_TRUE(completeRun(s));
  EXPECT_TRUE(hasLine(s.runtime.screen(), "Tavel.log cannot be opened for writing"));
  EXPECT_TRUE(std::filesystem::is_directory(s.path("Tavel.log")));
  EXPECT_EQ(fileLines(s.path("Taveltr.xls")).size(), std::size(kPlainRows) + 2);
}

}  // namespace
}  // namespace tavel::run

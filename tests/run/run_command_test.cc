// SPDX-License-Identifier: GPL-3.0-or-later
// Whole analyses driven through the menus as a user would, checked against
// the texts the report layouts give for the values that the engine and the
// numeric stages produce when called directly (see run_session_support.h):
// the Run's wiring and layout, not its numbers.
#include "run/run_command.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/field_format.h"
#include "tests/run/run_session_support.h"

namespace tavel::run {
namespace {

using testing::computeReference;
using testing::expectedCorrectionSheet;
using testing::expectedRunLog;
using testing::expectedRunScreen;
using testing::expectedTransformSheet;
using testing::fileLines;
using testing::Reference;
using testing::Session;

using Columns = std::map<std::string, std::vector<double>>;

// A data file with the given header and rows, and its columns as doubles.
struct DataSet {
  std::string text;
  Columns columns;
};

DataSet makeDataSet(const std::vector<std::string>& header,
                    const std::vector<std::vector<std::string>>& rows) {
  DataSet d;
  for (std::size_t k = 0; k < header.size(); ++k) d.text += (k ? "\t" : "") + header[k];
  d.text += "\n";
  for (const auto& row : rows) {
    for (std::size_t k = 0; k < row.size(); ++k) {
      d.text += (k ? " " : "") + row[k];
      d.columns[header[k]].push_back(std::stod(row[k]));
    }
    d.text += "\n";
  }
  return d;
}

// Reaction rates against temperature and pressure.
DataSet rates(int rowCount = 12) {
  const std::vector<std::vector<std::string>> rows = {
      {"300", "1.0", "0.1158"}, {"370", "3.5", "5.18"},   {"320", "1.5", "0.3919"},
      {"390", "4.0", "11.01"},  {"340", "2.0", "1.216"},  {"410", "4.5", "21.89"},
      {"360", "2.5", "3.177"},  {"310", "5.0", "0.4232"}, {"380", "3.0", "6.709"},
      {"330", "1.0", "0.5076"}, {"400", "3.5", "13.41"},  {"350", "1.5", "1.517"},
      {"345", "2.2", "1.602"},  {"365", "4.1", "5.023"},  {"305", "2.9", "0.2611"}};
  return makeDataSet({"T", "P", "RATE"}, {rows.begin(), rows.begin() + rowCount});
}

Reference referenceFor(const Session& s, const Columns& columns,
                       const std::vector<std::string>& names) {
  const int p = s.state.selection.p;
  const std::vector<int> all = app::engineCodes(s.state.options.l);
  std::vector<int> codes(all.begin(), all.begin() + p + 1);
  return computeReference(columns, names, codes, s.state.options.Equilibration,
                          s.state.options.DelRsq, s.state.options.NumTerm);
}

std::vector<std::string> engineNamesOf(const Session& s) {
  std::vector<std::string> names;
  const auto& sel = s.state.selection;
  auto trimmed = [&](int v) {
    std::string name = s.state.data.colName[v - 1];
    return name.substr(0, name.find_last_not_of(' ') + 1);
  };
  for (int j = 0; j < sel.p; ++j) names.push_back(trimmed(sel.indep[j]));
  names.push_back(trimmed(sel.dep));
  return names;
}

std::vector<int> windowUnits(const Session& s) {
  std::vector<int> units;
  for (const auto& w : s.runtime.graphicsWindows()) units.push_back(w.unit);
  return units;
}

std::string windowTitle(const Session& s, int unit) {
  for (const auto& w : s.runtime.graphicsWindows())
    if (w.unit == unit) return w.title;
  return "(no window)";
}

std::string pad50(const std::string& name) { return name + std::string(50 - name.size(), ' '); }

void expectSameLines(const std::vector<std::string>& actual,
                     const std::vector<std::string>& expected, const std::string& what) {
  const std::size_t n = std::max(actual.size(), expected.size());
  int shown = 0;
  for (std::size_t i = 0; i < n && shown < 5; ++i) {
    const std::string a = i < actual.size() ? actual[i] : "(missing)";
    const std::string e = i < expected.size() ? expected[i] : "(missing)";
    if (a != e) {
      ADD_FAILURE() << what << " line " << i + 1 << "\n  actual:   [" << a << "]\n  expected: ["
                    << e << "]";
      ++shown;
    }
  }
  EXPECT_EQ(actual.size(), expected.size()) << what;
}

// ---------------------------------------------------------------------------
// Every code "Monotone Tr", equilibration on, a logarithmic dependent variable.

class MonotoneLogRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = rates();
    s_.writeFile("rates.dat", data_.text);
    s_.input("rates.dat", {"T", "P", "_ln_RATE"}, "_ln_RATE");
    s_.options({{"P", 3}, {"T", 3}}, true);
    s_.run();
    names_ = engineNamesOf(s_);
    ref_ = referenceFor(s_, data_.columns, names_);
  }
  Session s_;
  DataSet data_;
  std::vector<std::string> names_;
  Reference ref_;
};

TEST_F(MonotoneLogRunTest, LogScreenAndSpreadsheetsFollowTheLayouts) {
  ASSERT_EQ(names_, (std::vector<std::string>{"P", "T", "_ln_RATE"}));
  ASSERT_EQ(ref_.n, 12);
  expectSameLines(s_.runLog(), expectedRunLog(ref_), "Tavel.log");
  expectSameLines(s_.runtime.screen(), expectedRunScreen(ref_), "screen");
  expectSameLines(fileLines(s_.path("Taveltr.xls")), expectedTransformSheet(ref_), "Taveltr.xls");
  expectSameLines(fileLines(s_.path("Tavelcr.xls")), expectedCorrectionSheet(ref_), "Tavelcr.xls");
}

TEST_F(MonotoneLogRunTest, FixedTextsOfTheEchoAndTheTitleRecord) {
  const std::vector<std::string> log = s_.runLog();
  ASSERT_GE(log.size(), 6u);
  EXPECT_EQ(log[0], "  INDEPENDENT VARIABLES, DEPENDENT VARIABLE IS LAST");
  EXPECT_EQ(log[1], "");
  EXPECT_EQ(log[2], " Column:    P          T          _ln_RATE   ");
  EXPECT_EQ(log[3], " Flag:            3          3          3");
  // P = 1.0, T = 300, ln(0.1158) = -2.1559...
  EXPECT_EQ(log[4], "           1   1.00       300.      -2.16    ");
  EXPECT_NE(std::find(log.begin(), log.end(), "  EQUILIBRATION IS ENABLED"), log.end());

  const std::vector<std::string> sheet = fileLines(s_.path("Taveltr.xls"));
  ASSERT_GE(sheet.size(), 3u);
  EXPECT_EQ(sheet[0], "   12\t    2\t");
  EXPECT_EQ(sheet[1],
            "P\tP_Tr\tT\tT_Tr\t_ln_RATE\t_ln_RATE_Tr\tSum_Tr_Indep\t_ln_RATE_Meas\t"
            "_ln_RATE_Calc_Inv_Tr\tRATE_Meas\tRATE_Calc_Inv_Tr\t");
  // Raw values and the measured rate on its own scale.
  EXPECT_EQ(sheet[2].substr(0, 16), "    1.00000E+00\t");
  EXPECT_EQ(sheet[2].substr(sheet[2].size() - 32, 16), "    1.15800E-01\t");
  const std::vector<std::string> cr = fileLines(s_.path("Tavelcr.xls"));
  ASSERT_GE(cr.size(), 2u);
  EXPECT_EQ(cr[1], "P\tP_Corr\tT\tT_Corr\t_ln_RATE\t_ln_RATE_Corr\t");
  // The screen shows three rows of the echo, then the continuation mark.
  const auto& screen = s_.runtime.screen();
  ASSERT_GE(screen.size(), 8u);
  EXPECT_EQ(screen[7], "  ...");
  EXPECT_EQ(screen.back(), " Tavelcr.xls is done");
}

TEST_F(MonotoneLogRunTest, NinePlotWindowsWithTheirTitles) {
  EXPECT_EQ(windowUnits(s_), (std::vector<int>{11, 12, 13, 14, 15, 16, 17, 18, 19}));
  EXPECT_EQ(s_.state.firstPlotUnit, 11);
  EXPECT_EQ(s_.state.lastPlotUnit, 19);
  EXPECT_EQ(windowTitle(s_, 11), pad50("P") + "Optimal Transformation");
  EXPECT_EQ(windowTitle(s_, 12), pad50("T") + "Optimal Transformation");
  EXPECT_EQ(windowTitle(s_, 13), pad50("_ln_RATE") + "Optimal Transformation");
  EXPECT_EQ(windowTitle(s_, 14), "Optimal Correlation");
  EXPECT_EQ(windowTitle(s_, 15), pad50("P") + "Correction");
  EXPECT_EQ(windowTitle(s_, 17), pad50("_ln_RATE") + "Correction");
  EXPECT_EQ(windowTitle(s_, 18), "_ln_RATE Predict");
  EXPECT_EQ(windowTitle(s_, 19), "Exp Predicted");
  // The last subtitle set is the back-transformed one, 40 characters.
  EXPECT_EQ(s_.state.plotSubtitle.size(), 40u);
  EXPECT_EQ(s_.state.plotSubtitle.substr(0, 8), "Exp_AvD=");
  EXPECT_EQ(s_.state.plotSubtitle, "Exp_AvD=" + app::fieldF(ref_.ExpAvedevPct, 8, 1) +
                                       " %   Exp_StD%=" + app::fieldF(ref_.ExpStdevPct, 8, 1) +
                                       " %");
}

TEST_F(MonotoneLogRunTest, SecondRunReplacesWindowsAndAppendsToTheLog) {
  s_.options({}, false);  // equilibration off: fewer windows
  s_.run();
  Reference second = referenceFor(s_, data_.columns, names_);
  // The correction windows of the first run are gone; no unit is doubled.
  EXPECT_EQ(windowUnits(s_), (std::vector<int>{11, 12, 13, 14, 15, 16}));
  EXPECT_EQ(windowTitle(s_, 15), "_ln_RATE Predict");
  EXPECT_EQ(s_.state.lastPlotUnit, 16);
  // The first run's report is followed by the Options trace of the second.
  {
    std::vector<std::string> first = s_.runLog(1);
    const std::vector<std::string> expected = expectedRunLog(ref_);
    ASSERT_GE(first.size(), expected.size());
    first.resize(expected.size());
    expectSameLines(first, expected, "first run in the log");
  }
  expectSameLines(s_.runLog(2), expectedRunLog(second), "second run in the log");
  expectSameLines(s_.runtime.screen(), expectedRunScreen(second), "screen of the second run");
}

// The unit of every plot a Run can draw, for the smallest, a small and the
// largest selection, numbered by hand from the plot table: transformations
// from 11 with the dependent's last, the correlation, the corrections (with
// equilibration), then the prediction and the back-transformed prediction.
TEST(PlotUnitTest, EveryPlotOfTheSmallestAndTheLargestSelection) {
  struct Row {
    int p;
    int lastIndepTransform, depTransform, correlation, firstCorrection, depCorrection;
    int prediction, backTransformed;      // without equilibration
    int predictionEq, backTransformedEq;  // after the corrections
  };
  const Row rows[] = {
      {1, 11, 12, 13, 14, 15, 14, 15, 16, 17},
      {2, 12, 13, 14, 15, 17, 15, 16, 18, 19},
      {29, 39, 40, 41, 42, 71, 42, 43, 72, 73},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE("p = " + std::to_string(r.p));
    EXPECT_EQ(app::transformationPlotUnit(0), 11);
    EXPECT_EQ(app::transformationPlotUnit(r.p - 1), r.lastIndepTransform);
    EXPECT_EQ(app::transformationPlotUnit(r.p), r.depTransform);
    EXPECT_EQ(app::correlationPlotUnit(r.p), r.correlation);
    EXPECT_EQ(app::correctionPlotUnit(r.p, 0), r.firstCorrection);
    EXPECT_EQ(app::correctionPlotUnit(r.p, r.p), r.depCorrection);
    EXPECT_EQ(app::predictionPlotUnit(r.p, false), r.prediction);
    EXPECT_EQ(app::backTransformedPlotUnit(r.p, false), r.backTransformed);
    EXPECT_EQ(app::predictionPlotUnit(r.p, true), r.predictionEq);
    EXPECT_EQ(app::backTransformedPlotUnit(r.p, true), r.backTransformedEq);
  }
  EXPECT_EQ(app::kLastPossiblePlotUnit, 73);
}

// ---------------------------------------------------------------------------

TEST(RunCommandTest, ThreeIndependentsOneLinearNoEquilibration) {
  Session s;
  const DataSet d = makeDataSet({"A", "B", "C", "Y"}, {{"1", "7", "0.5", "3.1"},
                                                       {"2", "3", "0.1", "4.7"},
                                                       {"3", "8", "0.9", "6.2"},
                                                       {"4", "1", "0.3", "6.9"},
                                                       {"5", "6", "0.7", "9.8"},
                                                       {"6", "2", "0.2", "10.1"},
                                                       {"7", "9", "0.8", "13.7"},
                                                       {"8", "4", "0.4", "13.9"},
                                                       {"9", "5", "0.6", "16.4"},
                                                       {"10", "10", "1.0", "19.6"}});
  s.writeFile("abc.dat", d.text);
  s.input("abc.dat", {"A", "B", "C", "Y"}, "Y");
  s.options({{"B", 4}}, true);
  s.run();
  const Reference r = referenceFor(s, d.columns, engineNamesOf(s));
  ASSERT_EQ(r.codes, (std::vector<int>{1, 4, 1, 3}));
  EXPECT_FALSE(r.equilibration);
  expectSameLines(s.runLog(), expectedRunLog(r), "Tavel.log");
  expectSameLines(s.runtime.screen(), expectedRunScreen(r), "screen");
  expectSameLines(fileLines(s.path("Taveltr.xls")), expectedTransformSheet(r), "Taveltr.xls");
  EXPECT_FALSE(std::filesystem::exists(s.path("Tavelcr.xls")));
  // No correction plots: transformations 11-14, correlation 15, prediction 16.
  EXPECT_EQ(windowUnits(s), (std::vector<int>{11, 12, 13, 14, 15, 16}));
  // The equilibrated table prints zeros.
  const std::vector<std::string> log = s.runLog();
  const auto head = std::find(log.begin(), log.end(), " EQUILIBRATED INDEPENDENT VARIABLES ");
  ASSERT_NE(head, log.end());
  const std::string zero = app::fieldE(0.0, 11, 3);
  EXPECT_EQ(*(head + 1), "    1" + zero + zero + zero);
}

TEST(RunCommandTest, SevenIndependentsContinueOnSecondLines) {
  Session s;
  std::vector<std::vector<std::string>> rows;
  for (int i = 1; i <= 9; ++i) {
    std::vector<std::string> row;
    double sum = 0.0;
    for (int j = 1; j <= 7; ++j) {
      const int v = (i * (j + 2)) % 11 + j;
      row.push_back(std::to_string(v));
      sum += v * (j % 3 + 1);
    }
    row.push_back(std::to_string(static_cast<int>(sum)) + ".5");
    rows.push_back(row);
  }
  const DataSet d = makeDataSet({"X1", "X2", "X3", "X4", "X5", "X6", "X7", "Z"}, rows);
  s.writeFile("seven.dat", d.text);
  s.input("seven.dat", {"X1", "X2", "X3", "X4", "X5", "X6", "X7", "Z"}, "Z");
  s.run();
  const Reference r = referenceFor(s, d.columns, engineNamesOf(s));
  ASSERT_EQ(r.p, 7);
  const std::vector<std::string> log = s.runLog();
  ASSERT_GE(log.size(), 7u);
  EXPECT_EQ(log[2],
            " Column:    X1         X2         X3         X4         X5         X6         ");
  EXPECT_EQ(log[3], " X7         Z          ");
  EXPECT_EQ(log[4], " Flag:            1          1          1          1          1          1");
  EXPECT_EQ(log[5], "       1          3");
  // Observation 1: i and six values, then two values on a second line.
  EXPECT_EQ(log[6].size(), 1u + 11 + 6 * 11);
  EXPECT_EQ(log[7].size(), 1u + 2 * 11);
  expectSameLines(log, expectedRunLog(r), "Tavel.log");
  expectSameLines(s.runtime.screen(), expectedRunScreen(r), "screen");
  expectSameLines(fileLines(s.path("Taveltr.xls")), expectedTransformSheet(r), "Taveltr.xls");
}

// Eight independents put the prediction plot on unit 21: the spreadsheets
// must not take it over (and close it) when they are written.
TEST(RunCommandTest, SpreadsheetsLeaveEveryPlotWindowOpen) {
  Session s;
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> names;
  for (int j = 1; j <= 8; ++j) names.push_back("X" + std::to_string(j));
  names.push_back("Z");
  for (int i = 1; i <= 12; ++i) {
    std::vector<std::string> row;
    int sum = 0;
    for (int j = 1; j <= 8; ++j) {
      const int v = (i * (j + 3)) % 13 + j;
      row.push_back(std::to_string(v));
      sum += v;
    }
    row.push_back(std::to_string(sum));
    rows.push_back(row);
  }
  s.writeFile("eight.dat", makeDataSet(names, rows).text);
  s.input("eight.dat", names, "Z");
  s.run();
  std::vector<int> units;
  for (int u = 11; u <= 21; ++u) units.push_back(u);
  EXPECT_EQ(windowUnits(s), units);
  EXPECT_EQ(s.state.lastPlotUnit, 21);
  EXPECT_FALSE(fileLines(s.path("Taveltr.xls")).empty());
}

TEST(RunCommandTest, DependentNotMonotoneGivesNoPrediction) {
  Session s;
  const DataSet d = rates();
  s.writeFile("rates.dat", d.text);
  s.input("rates.dat", {"T", "P", "_ln_RATE"}, "_ln_RATE");
  s.options({{"_ln_RATE", 1}}, true);
  s.run();
  const Reference r = referenceFor(s, d.columns, engineNamesOf(s));
  EXPECT_FALSE(r.prediction);
  expectSameLines(s.runLog(), expectedRunLog(r), "Tavel.log");
  expectSameLines(s.runtime.screen(), expectedRunScreen(r), "screen");
  const std::vector<std::string> sheet = fileLines(s.path("Taveltr.xls"));
  expectSameLines(sheet, expectedTransformSheet(r), "Taveltr.xls");
  // Sum, predicted and its exponential: 0, 0 and 1.
  ASSERT_GE(sheet.size(), 3u);
  const std::string& row = sheet[2];
  EXPECT_EQ(row.substr(row.size() - 16), "    1.00000E+00\t");
  EXPECT_EQ(row.substr(row.size() - 48, 16), "    0.00000E+00\t");
  for (const std::string& line : s.runLog()) EXPECT_EQ(line.find("Avedev"), std::string::npos);
  EXPECT_EQ(windowUnits(s), (std::vector<int>{11, 12, 13, 14}));
  EXPECT_EQ(s.state.lastPlotUnit, 14);
}

// An engine error ends the run: the engine's own line, one line saying what
// was not made, and the results of the previous run left alone.
TEST(RunCommandTest, EngineErrorStopsTheRunAndKeepsTheEarlierFiles) {
  Session s;
  s.writeFile("rates.dat", rates().text);
  s.input("rates.dat", {"T", "P", "RATE"}, "RATE");
  s.options({{"P", 3}, {"T", 3}}, true);
  s.run();
  const std::string trBefore = testing::fileText(s.path("Taveltr.xls"));
  const std::string crBefore = testing::fileText(s.path("Tavelcr.xls"));
  ASSERT_FALSE(trBefore.empty());
  ASSERT_FALSE(crBefore.empty());
  ASSERT_TRUE(s.state.problems.empty());

  std::vector<std::vector<std::string>> rows;
  for (int i = 1; i <= 12; ++i) rows.push_back({std::to_string(290 + 10 * i), "2.5"});
  s.writeFile("flat.dat", makeDataSet({"T", "Y"}, rows).text);
  s.input("flat.dat", {"T", "Y"}, "Y");
  s.options({{"T", 3}}, true);
  s.run();
  const std::string failed = " The estimate failed (ierr = 2): no plots or spreadsheets were made.";
  const std::vector<std::string>& screen = s.runtime.screen();
  ASSERT_GE(screen.size(), 2u);
  EXPECT_EQ(screen[screen.size() - 2], " ierr = 2: y has zero variance.");
  EXPECT_EQ(screen.back(), failed);
  EXPECT_EQ(fileLines(s.path("Tavel.log")).back(), failed);
  EXPECT_EQ(s.state.problems, (std::vector<std::string>{failed.substr(1)}));
  for (const std::string& line : screen) EXPECT_EQ(line.find("last = first"), std::string::npos);
  EXPECT_TRUE(s.runtime.graphicsWindows().empty());
  EXPECT_EQ(s.state.firstPlotUnit, 0);
  EXPECT_EQ(testing::fileText(s.path("Taveltr.xls")), trBefore);
  EXPECT_EQ(testing::fileText(s.path("Tavelcr.xls")), crBefore);
}

// Magnitudes whose squares leave the double range (or vanish in it) go
// through the engine scaled by a power of two: a column multiplied by 2^k in
// the file gives the run of the plain data with that column's raw,
// equilibrated and predicted values (and their statistics) multiplied by 2^k
// and the transformations unchanged: bit for bit for the dependent, to the
// printed digits for an independent (the engine's first least-squares
// scaling converges in steps that depend on the columns' scales).
TEST(RunCommandTest, MagnitudesBeyondTheSumsAreAnalysedAsThePlainData) {
  struct Case {
    const char* label;
    int tShift, rateShift;
  };
  for (const Case& c :
       {Case{"dependent near 1e160", 0, 532}, Case{"dependent near 1e-200", 0, -665},
        Case{"dependent near 1e305", 0, 1010},
        Case{"independent near 1e160, dependent near 1e-200", 532, -665}}) {
    SCOPED_TRACE(c.label);
    const DataSet plain = rates();
    auto text = [](double v) {
      char buf[64];
      return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
    };
    std::vector<std::vector<std::string>> rows;
    for (std::size_t i = 0; i < plain.columns.at("T").size(); ++i) {
      rows.push_back({text(std::ldexp(plain.columns.at("T")[i], c.tShift)),
                      text(plain.columns.at("P")[i]),
                      text(std::ldexp(plain.columns.at("RATE")[i], c.rateShift))});
    }
    const DataSet scaled = makeDataSet({"T", "P", "RATE"}, rows);
    Session s;
    s.writeFile("scaled.dat", scaled.text);
    s.input("scaled.dat", {"T", "P", "RATE"}, "RATE");
    s.options({{"P", 3}, {"T", 3}}, true);
    s.run();
    ASSERT_TRUE(s.state.problems.empty()) << s.state.problems[0];

    Reference r = referenceFor(s, plain.columns, engineNamesOf(s));
    ASSERT_EQ(r.names[1].substr(0, 2), "T ");
    ASSERT_EQ(r.names[2].substr(0, 5), "RATE ");
    for (int i = 0; i < r.n; ++i) {
      r.x[r.n + i] = std::ldexp(r.x[r.n + i], c.tShift);
      r.xEq[r.n + i] = std::ldexp(r.xEq[r.n + i], c.tShift);
    }
    for (std::vector<double>* v : {&r.y, &r.yEq, &r.yPred})
      for (double& e : *v) e = std::ldexp(e, c.rateShift);
    for (double* e : {&r.Avedev, &r.Stdev, &r.Bias}) *e = std::ldexp(*e, c.rateShift);
    expectSameLines(fileLines(s.path("Taveltr.xls")), expectedTransformSheet(r), "Taveltr.xls");
    expectSameLines(fileLines(s.path("Tavelcr.xls")), expectedCorrectionSheet(r), "Tavelcr.xls");
    expectSameLines(s.runLog(), expectedRunLog(r), "Tavel.log");
  }
}

// ---------------------------------------------------------------------------
// Runs that cannot or must not go ahead.

TEST(RunCommandGuardTest, NothingBeforeAnyDataFile) {
  Session s;
  const std::vector<std::string> logBefore = fileLines(s.path("Tavel.log"));
  s.run();
  EXPECT_TRUE(s.runtime.screen().empty());
  EXPECT_TRUE(s.runtime.graphicsWindows().empty());
  EXPECT_EQ(fileLines(s.path("Tavel.log")), logBefore);
  EXPECT_FALSE(std::filesystem::exists(s.path("Taveltr.xls")));
}

TEST(RunCommandGuardTest, SelectionNamingMissingVariablesRunsNothing) {
  Session s;
  s.writeFile("rates.dat", rates().text);
  s.input("rates.dat", {"T", "P", "_ln_RATE"}, "_ln_RATE");
  const std::size_t screenBefore = s.runtime.screen().size();
  s.state.selection.dep = s.state.data.numCol + 1;  // as if left from a wider file
  s.run();
  s.state.selection.dep = 1;
  s.state.selection.indep[0] = 0;
  s.run();
  EXPECT_EQ(s.runtime.screen().size(), screenBefore);
  EXPECT_TRUE(s.runtime.graphicsWindows().empty());
}

TEST(RunCommandGuardTest, TooFewObservationsSayItAndChangeNothing) {
  Session s;
  const DataSet good = rates();
  s.writeFile("rates.dat", good.text);
  s.input("rates.dat", {"T", "P", "RATE"}, "RATE");
  s.run();
  const std::vector<int> windowsBefore = windowUnits(s);
  const std::string sheetBefore = testing::fileText(s.path("Taveltr.xls"));
  ASSERT_FALSE(windowsBefore.empty());

  s.writeFile("few.dat", rates(4).text);
  s.input("few.dat", {"T", "P", "RATE"}, "RATE");
  ASSERT_EQ(s.state.data.nRows, 4);
  const std::size_t screenBefore = s.runtime.screen().size();
  s.run();
  ASSERT_EQ(s.runtime.screen().size(), screenBefore + 1);
  const std::string line = s.runtime.screen().back();
  EXPECT_NE(line.find("Too few observations"), std::string::npos) << line;
  EXPECT_NE(line.find(" 4 "), std::string::npos) << line;
  EXPECT_EQ(fileLines(s.path("Tavel.log")).back(), line);
  // The previous run's spreadsheet stays as it was; its windows went when
  // the other file was chosen, and the refused run opens none.
  EXPECT_TRUE(windowUnits(s).empty());
  EXPECT_EQ(s.state.firstPlotUnit, 0);
  EXPECT_EQ(testing::fileText(s.path("Taveltr.xls")), sheetBefore);
}

TEST(RunCommandGuardTest, FileThatGrewUsesTheRowsOfTheScan) {
  Session s;
  s.writeFile("rates.dat", rates(12).text);
  s.input("rates.dat", {"T", "P", "RATE"}, "RATE");
  const DataSet grown = rates(15);
  s.writeFile("rates.dat", grown.text);
  s.run();
  const std::vector<std::string>& screen = s.runtime.screen();
  ASSERT_FALSE(screen.empty());
  EXPECT_NE(screen[0].find("changed"), std::string::npos) << screen[0];
  EXPECT_NE(screen[0].find("15 rows found, 12 rows used"), std::string::npos) << screen[0];
  // The run is the analysis of the first 12 rows.
  const Reference r = referenceFor(s, rates(12).columns, engineNamesOf(s));
  expectSameLines(fileLines(s.path("Taveltr.xls")), expectedTransformSheet(r), "Taveltr.xls");
  EXPECT_EQ(s.state.data.nRows, 15);
}

TEST(RunCommandGuardTest, FileThatShrankUsesTheRowsItStillHas) {
  Session s;
  s.writeFile("rates.dat", rates(12).text);
  s.input("rates.dat", {"T", "P", "RATE"}, "RATE");
  s.writeFile("rates.dat", rates(8).text);
  s.run();
  ASSERT_FALSE(s.runtime.screen().empty());
  EXPECT_NE(s.runtime.screen()[0].find("8 rows found, 8 rows used"), std::string::npos);
  const Reference r = referenceFor(s, rates(8).columns, engineNamesOf(s));
  expectSameLines(fileLines(s.path("Taveltr.xls")), expectedTransformSheet(r), "Taveltr.xls");
  std::vector<std::string> log = s.runLog();
  const std::vector<std::string> expected = expectedRunLog(r);
  expectSameLines(log, expected, "Tavel.log");

  // Shrunk below what the smoothers need: stopped with the reason, the
  // previous windows are closed and not closed again by the next run.
  s.writeFile("rates.dat", rates(3).text);
  s.run();
  EXPECT_TRUE(s.runtime.graphicsWindows().empty());
  EXPECT_EQ(s.state.lastPlotUnit, 0);
  EXPECT_NE(s.runtime.screen().back().find("Too few observations"), std::string::npos);
}

TEST(RunCommandGuardTest, UnwritableSpreadsheetKeepsTheRunGoing) {
  Session s;
  s.writeFile("rates.dat", rates().text);
  // A folder where the spreadsheet should go: it cannot be replaced.
  std::filesystem::create_directory(s.path("Taveltr.xls"));
  s.writeFile("Taveltr.xls/keep", "x");
  s.input("rates.dat", {"T", "P", "_ln_RATE"}, "_ln_RATE");
  s.options({{"P", 3}, {"T", 3}}, true);
  s.run();
  const std::vector<std::string>& screen = s.runtime.screen();
  bool told = false;
  for (const std::string& line : screen)
    told = told || (line.find("Taveltr.xls") != std::string::npos &&
                    line.find("is done") == std::string::npos);
  EXPECT_TRUE(told);
  EXPECT_EQ(std::find(screen.begin(), screen.end(), " Taveltr.xls is done"), screen.end());
  EXPECT_EQ(screen.back(), " Tavelcr.xls is done");
  EXPECT_TRUE(std::filesystem::is_regular_file(s.path("Tavelcr.xls")));
  EXPECT_EQ(s.state.problems,
            (std::vector<std::string>{
                "Taveltr.xls could not be written: a folder of that name is in the way"}));
}

TEST(RunCommandCaptureTest, PicturesInPlotOrderAfterOldOnesAreDeleted) {
  Session s;
  s.writeFile("rates.dat", rates().text);
  s.writeFile("pic_Q.bmp", "old");
  s.input("rates.dat", {"T", "P", "_ln_RATE"}, "_ln_RATE");
  s.options({{"P", 3}, {"T", 3}}, true, true);
  s.run();
  EXPECT_FALSE(std::filesystem::exists(s.path("pic_Q.bmp")));
  std::vector<std::string> notices;
  for (const std::string& line : s.runLog())
    if (line.find("file is done") != std::string::npos) notices.push_back(line);
  const std::vector<std::string> expected = {
      "pic_A.bmp file is done", "pic_B.bmp file is done", "pic_C.bmp file is done",
      "pic_D.bmp file is done", "pic_E.bmp file is done", "pic_F.bmp file is done",
      "pic_G.bmp file is done", "pic_H.bmp file is done", "pic_I.bmp file is done"};
  EXPECT_EQ(notices, expected);
  // The notice of the prediction plot follows the statistics line.
  const std::vector<std::string> log = s.runLog();
  const auto stats = std::find_if(log.begin(), log.end(),
                                  [](const std::string& l) { return l.rfind(" Avedev=", 0) == 0; });
  ASSERT_NE(stats, log.end());
  EXPECT_EQ(*(stats + 1), "pic_H.bmp file is done");
}

}  // namespace
}  // namespace tavel::run

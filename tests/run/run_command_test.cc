// SPDX-License-Identifier: GPL-3.0-or-later
// Whole analyses driven through the menus as a user would: the texts, files
// and windows a Run makes, checked against texts written out by hand and
// against properties that hold whatever the fitted numbers are (a second Run
// reports as a first one would, a file that changed is analysed as the rows
// the scan counted, a column scaled by 2^k scales its results). The numbers
// of whole runs are compared with reviewed files in golden_test.cc.
#include "run/run_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/records.h"
#include "app/run_results.h"
#include "io/field_format.h"
#include "tests/run/run_session_support.h"

namespace tavel::run {
namespace {

using testing::fileLines;
using testing::fileText;
using testing::Session;

using Rows = std::vector<std::vector<std::string>>;

// A data file with the given header and rows, and the rows it was made of.
struct DataSet {
  std::string text;
  Rows rows;
};

DataSet makeDataSet(const std::vector<std::string>& header, const Rows& rows) {
  DataSet d;
  d.rows = rows;
  for (std::size_t k = 0; k < header.size(); ++k) d.text += (k ? "\t" : "") + header[k];
  d.text += "\n";
  for (const auto& row : rows) {
    for (std::size_t k = 0; k < row.size(); ++k) d.text += (k ? " " : "") + row[k];
    d.text += "\n";
  }
  return d;
}

// Reaction rates against temperature and pressure.
DataSet rates(int rowCount = 12) {
  const Rows rows = {{"300", "1.0", "0.1158"}, {"370", "3.5", "5.18"},   {"320", "1.5", "0.3919"},
                     {"390", "4.0", "11.01"},  {"340", "2.0", "1.216"},  {"410", "4.5", "21.89"},
                     {"360", "2.5", "3.177"},  {"310", "5.0", "0.4232"}, {"380", "3.0", "6.709"},
                     {"330", "1.0", "0.5076"}, {"400", "3.5", "13.41"},  {"350", "1.5", "1.517"},
                     {"345", "2.2", "1.602"},  {"365", "4.1", "5.023"},  {"305", "2.9", "0.2611"}};
  return makeDataSet({"T", "P", "RATE"}, {rows.begin(), rows.begin() + rowCount});
}

// The flag codes of the run's variables, by engine position.
std::vector<int> codesOf(const Session& s) {
  const std::vector<int> all = app::engineCodes(s.state.options.l);
  return {all.begin(), all.begin() + s.state.selection.p + 1};
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

// A whole analysis of the rates file: every variable Monotone, the dependent
// _ln_RATE.
void runMonotoneLog(Session& s, bool equilibration) {
  s.writeFile("rates.dat", rates().text);
  s.input("rates.dat", {"T", "P", "_ln_RATE"}, "_ln_RATE");
  s.options({{"P", 3}, {"T", 3}}, equilibration);
  s.run();
}

class MonotoneLogRunTest : public ::testing::Test {
 protected:
  void SetUp() override { runMonotoneLog(s_, true); }
  Session s_;
};

TEST_F(MonotoneLogRunTest, FixedTextsOfTheEchoAndTheTitleRecord) {
  ASSERT_EQ(engineNamesOf(s_), (std::vector<std::string>{"P", "T", "_ln_RATE"}));
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

// A number written in a fixed or G field, as a double; NaN when none.
double fieldValue(std::string_view text) {
  const std::size_t start = text.find_first_not_of(' ');
  double v = std::nan("");
  if (start != std::string_view::npos) std::from_chars(text.data() + start, text.end(), v);
  return v;
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
  // The last subtitle set is the back-transformed one, 40 characters:
  // "Exp_AvD=" F8.1 " %   Exp_StD%=" F8.1 " %".
  const std::string& subtitle = s_.state.plotSubtitle;
  ASSERT_EQ(subtitle.size(), 40u);
  EXPECT_EQ(subtitle.substr(0, 8), "Exp_AvD=");
  EXPECT_EQ(subtitle.substr(16, 14), " %   Exp_StD%=");
  EXPECT_EQ(subtitle.substr(38), " %");
  // Its figures are the log's percentages: those have three significant
  // digits (G11.3, from column 13 and 39), the subtitle one decimal.
  const std::vector<std::string> log = s_.runLog();
  const auto percent = std::find_if(log.begin(), log.end(), [](const std::string& l) {
    return l.rfind(" Exp_Avedev%=", 0) == 0;
  });
  ASSERT_NE(percent, log.end());
  const double avedev = fieldValue(std::string_view(*percent).substr(13, 11));
  const double stdev = fieldValue(std::string_view(*percent).substr(39, 11));
  ASSERT_TRUE(std::isfinite(avedev) && std::isfinite(stdev)) << *percent;
  EXPECT_NEAR(fieldValue(subtitle.substr(8, 8)), avedev, 0.05 + 0.005 * std::abs(avedev));
  EXPECT_NEAR(fieldValue(subtitle.substr(30, 8)), stdev, 0.05 + 0.005 * std::abs(stdev));
}

TEST_F(MonotoneLogRunTest, SecondRunReplacesWindowsAndAppendsToTheLog) {
  const std::string firstLog = fileText(s_.path("Tavel.log"));
  s_.options({}, false);  // equilibration off: fewer windows
  s_.run();
  // The correction windows of the first run are gone; no unit is doubled.
  EXPECT_EQ(windowUnits(s_), (std::vector<int>{11, 12, 13, 14, 15, 16}));
  EXPECT_EQ(windowTitle(s_, 15), "_ln_RATE Predict");
  EXPECT_EQ(s_.state.lastPlotUnit, 16);
  // The first run's report stays as it was, and the second reports what a
  // first Run with its options would.
  EXPECT_EQ(fileText(s_.path("Tavel.log")).substr(0, firstLog.size()), firstLog);
  Session fresh;
  runMonotoneLog(fresh, false);
  expectSameLines(s_.runLog(2), fresh.runLog(1), "second run in the log");
  expectSameLines(s_.runtime.screen(), fresh.runtime.screen(), "screen of the second run");
  EXPECT_EQ(fileText(s_.path("Taveltr.xls")), fileText(fresh.path("Taveltr.xls")));
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
  ASSERT_EQ(codesOf(s), (std::vector<int>{1, 4, 1, 3}));
  // B is Linear: no equilibration, though it was asked for.
  const std::vector<std::string> log = s.runLog();
  EXPECT_EQ(std::find(log.begin(), log.end(), "  EQUILIBRATION IS ENABLED"), log.end());
  EXPECT_FALSE(std::filesystem::exists(s.path("Tavelcr.xls")));
  // No correction plots: transformations 11-14, correlation 15, prediction 16.
  EXPECT_EQ(windowUnits(s), (std::vector<int>{11, 12, 13, 14, 15, 16}));
  // The equilibrated table prints zeros.
  const auto head = std::find(log.begin(), log.end(), " EQUILIBRATED INDEPENDENT VARIABLES ");
  ASSERT_NE(head, log.end());
  const std::string zero = "  0.000E+00";  // E11.3
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
  ASSERT_EQ(s.state.selection.p, 7);
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
  // The sheet keeps one line per observation, whatever the width.
  const std::vector<std::string> sheet = fileLines(s.path("Taveltr.xls"));
  ASSERT_EQ(sheet.size(), 2u + 9);
  EXPECT_EQ(sheet[0], "    9\t    7\t");
  EXPECT_EQ(std::count(sheet[2].begin(), sheet[2].end(), '\t'), 2 * 8 + 3);
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
  ASSERT_EQ(codesOf(s), (std::vector<int>{1, 1, 1}));
  const std::vector<std::string> sheet = fileLines(s.path("Taveltr.xls"));
  ASSERT_EQ(sheet.size(), 2u + 12);
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
  const std::string trBefore = fileText(s.path("Taveltr.xls"));
  const std::string crBefore = fileText(s.path("Tavelcr.xls"));
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
  EXPECT_EQ(fileText(s.path("Taveltr.xls")), trBefore);
  EXPECT_EQ(fileText(s.path("Tavelcr.xls")), crBefore);
}

// Magnitudes whose squares leave the double range (or vanish in it) go
// through the engine scaled by a power of two: a column multiplied by 2^k in
// the file gives the run of the plain data with that column's raw,
// equilibrated and predicted values (and their statistics) multiplied by 2^k
// and the transformations unchanged: bit for bit for the dependent, to far
// more than the printed digits for an independent (the engine's first
// least-squares scaling converges in steps that depend on the columns'
// scales).
TEST(RunCommandTest, MagnitudesBeyondTheSumsAreAnalysedAsThePlainData) {
  // The sheets print six digits; an independent's scale moves the last few
  // bits of what is derived from its transformation (5e-15 of the values'
  // unit seen). Relative to the larger of the value and its unit, 2^shift:
  // the transformations are of order 1.
  constexpr double kIndependentScaleTolerance = 1e-9;
  auto runOf = [](const std::string& text) {
    Session s;
    s.writeFile("rates.dat", text);
    s.input("rates.dat", {"T", "P", "RATE"}, "RATE");
    s.options({{"P", 3}, {"T", 3}}, true);
    s.run();
    EXPECT_TRUE(s.state.problems.empty()) << s.state.problems[0];
    EXPECT_TRUE(s.state.results.has_value());
    return s.state.results.value_or(app::RunResults{});
  };
  const DataSet plain = rates();
  const app::RunResults base = runOf(plain.text);
  ASSERT_EQ(base.names, (std::vector<std::string>{"P", "T", "RATE"}));
  ASSERT_TRUE(base.prediction && base.equilibrated);
  const std::size_t n = base.y.size();
  ASSERT_EQ(n, 12u);

  struct Case {
    const char* label;
    int tShift, rateShift;
  };
  for (const Case& c :
       {Case{"dependent near 1e160", 0, 532}, Case{"dependent near 1e-200", 0, -665},
        Case{"dependent near 1e305", 0, 1010},
        Case{"independent near 1e160, dependent near 1e-200", 532, -665}}) {
    SCOPED_TRACE(c.label);
    auto scaledText = [](const std::string& decimal, int shift) {
      double v = 0.0;
      std::from_chars(decimal.data(), decimal.data() + decimal.size(), v);
      char buf[64];
      return std::string(buf, std::to_chars(buf, buf + sizeof buf, std::ldexp(v, shift)).ptr);
    };
    Rows rows;
    for (const auto& row : plain.rows)
      rows.push_back({scaledText(row[0], c.tShift), row[1], scaledText(row[2], c.rateShift)});
    const app::RunResults r = runOf(makeDataSet({"T", "P", "RATE"}, rows).text);
    ASSERT_EQ(r.names, base.names);
    ASSERT_EQ(r.y.size(), n);
    const double tolerance = c.tShift == 0 ? 0.0 : kIndependentScaleTolerance;
    auto expectScaled = [&](const std::vector<double>& got, const std::vector<double>& plainValues,
                            std::size_t first, int shift, double tol, const char* what) {
      for (std::size_t i = 0; i < n; ++i) {
        const double want = std::ldexp(plainValues[first + i], shift);
        if (tol == 0.0)
          EXPECT_EQ(got[first + i], want) << what << " row " << i + 1;
        else
          EXPECT_NEAR(got[first + i], want, tol * std::max(std::abs(want), std::ldexp(1.0, shift)))
              << what << " row " << i + 1;
      }
    };
    // By engine position: P is column 0 of x, T column 1.
    expectScaled(r.x, base.x, 0, 0, 0.0, "P");
    expectScaled(r.x, base.x, n, c.tShift, 0.0, "T");
    expectScaled(r.y, base.y, 0, c.rateShift, 0.0, "RATE");
    expectScaled(r.tx, base.tx, 0, 0, tolerance, "P_Tr");
    expectScaled(r.tx, base.tx, n, 0, tolerance, "T_Tr");
    expectScaled(r.ty, base.ty, 0, 0, tolerance, "RATE_Tr");
    expectScaled(r.sumTx, base.sumTx, 0, 0, tolerance, "Sum_Tr_Indep");
    expectScaled(r.yPred, base.yPred, 0, c.rateShift, tolerance, "RATE_Calc_Inv_Tr");
    expectScaled(r.xEq, base.xEq, 0, 0, tolerance, "P_Corr");
    expectScaled(r.xEq, base.xEq, n, c.tShift, tolerance, "T_Corr");
    expectScaled(r.yEq, base.yEq, 0, c.rateShift, tolerance, "RATE_Corr");
    ASSERT_EQ(r.figures.size(), base.figures.size());
    for (std::size_t k = 0; k < r.figures.size(); ++k) {
      const auto& [name, value] = base.figures[k];
      const int shift = name == "Avedev" || name == "Stdev" || name == "Bias" ? c.rateShift : 0;
      const double want = std::ldexp(value, shift);
      EXPECT_EQ(r.figures[k].first, name);
      EXPECT_NEAR(r.figures[k].second, want,
                  tolerance * std::max(std::abs(want), std::ldexp(1.0, shift)))
          << name;
    }
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
  const std::string sheetBefore = fileText(s.path("Taveltr.xls"));
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
  EXPECT_EQ(fileText(s.path("Taveltr.xls")), sheetBefore);
}

// What a fresh session's Run of `text` with the default flags writes: the
// analysis a file that changed after its scan must come down to.
struct PlainRun {
  std::string sheet;
  std::vector<std::string> log;
};
PlainRun plainRunOf(const std::string& text) {
  Session s;
  s.writeFile("rates.dat", text);
  s.input("rates.dat", {"T", "P", "RATE"}, "RATE");
  s.run();
  return {fileText(s.path("Taveltr.xls")), s.runLog()};
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
  EXPECT_EQ(fileText(s.path("Taveltr.xls")), plainRunOf(rates(12).text).sheet);
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
  const PlainRun eight = plainRunOf(rates(8).text);
  EXPECT_EQ(fileText(s.path("Taveltr.xls")), eight.sheet);
  expectSameLines(s.runLog(), eight.log, "Tavel.log");

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

// SPDX-License-Identifier: GPL-3.0-or-later
// Whole analyses, driven through the menus (Input, Prepare, Options, Run),
// whose answers are known without the program: exact models whose optimal
// transformations are straight lines, a five-row case worked out by hand,
// and statistics recomputed from the columns the run wrote with a few lines
// of arithmetic here. Nothing below calls the engine, the numeric stages or
// the field formatters; the program's numbers are read back from the screen,
// the log and Taveltr.xls.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tests/run/run_session_support.h"

namespace tavel::run {
namespace {

using testing::fileLines;
using testing::Session;

// Taveltr.xls prints every value with six significant digits (E15.5): one
// unit in the last digit is 1e-5 of the value. Where the exact value is 0
// the run prints its rounding noise (about 1e-16 for values of order 1).
constexpr double kSheetRelative = 1e-5;
constexpr double kSheetAbsolute = 1e-9;

bool nearPrinted(double printed, double exact) {
  return std::fabs(printed - exact) <= kSheetRelative * std::fabs(exact) + kSheetAbsolute;
}

std::string_view trimmed(std::string_view s) {
  const std::size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

double parseNumber(std::string_view text) {
  const std::string_view t = trimmed(text);
  double v = std::nan("");
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || end != t.data() + t.size()) {
    ADD_FAILURE() << "not a number: [" << text << "]";
    return std::nan("");
  }
  return v;
}

std::string numberText(double v) {
  char buf[64];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// Taveltr.xls by column title.
std::map<std::string, std::vector<double>> readSheet(const Session& s) {
  const std::vector<std::string> lines = fileLines(s.path("Taveltr.xls"));
  std::map<std::string, std::vector<double>> columns;
  if (lines.size() < 3) {
    ADD_FAILURE() << "Taveltr.xls has " << lines.size() << " lines";
    return columns;
  }
  auto fields = [](const std::string& line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      out.push_back(line.substr(start, tab - start));
    return out;
  };
  const std::vector<std::string> titles = fields(lines[1]);
  for (std::size_t r = 2; r < lines.size(); ++r) {
    const std::vector<std::string> values = fields(lines[r]);
    EXPECT_EQ(values.size(), titles.size()) << "record " << r + 1;
    for (std::size_t k = 0; k < std::min(values.size(), titles.size()); ++k)
      columns[titles[k]].push_back(parseNumber(values[k]));
  }
  return columns;
}

// The one line of `lines` that starts with `prefix` (empty when none).
std::string lineStarting(const std::vector<std::string>& lines, const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& l : lines)
    if (l.rfind(prefix, 0) == 0) found.push_back(l);
  EXPECT_EQ(found.size(), 1u) << "lines starting with [" << prefix << "]";
  return found.empty() ? std::string() : found[0];
}

// A statistics line holds "Name=" followed by an 11-character field.
double statistic(const std::string& line, const std::string& name) {
  const std::size_t at = line.find(" " + name + "=");
  if (at == std::string::npos) {
    ADD_FAILURE() << name << " missing from [" << line << "]";
    return std::nan("");
  }
  return parseNumber(line.substr(at + name.size() + 2, 11));
}

double mean(const std::vector<double>& v) {
  double s = 0.0;
  for (double e : v) s += e;
  return s / static_cast<double>(v.size());
}

// Standard deviation with divisor N, the scaling the engine gives ty.
double spread(const std::vector<double>& v) {
  const double m = mean(v);
  double s = 0.0;
  for (double e : v) s += (e - m) * (e - m);
  return std::sqrt(s / static_cast<double>(v.size()));
}

void expectColumn(const std::vector<double>& printed, const std::vector<double>& exact,
                  const std::string& what) {
  ASSERT_EQ(printed.size(), exact.size()) << what;
  for (std::size_t i = 0; i < exact.size(); ++i)
    EXPECT_TRUE(nearPrinted(printed[i], exact[i]))
        << what << " row " << i + 1 << ": printed " << printed[i] << ", exact " << exact[i];
}

// ---------------------------------------------------------------------------
// y = 2 x1 - 3 x2 + 1 exactly. x1 = 1..24 and x2 = 7 x1 mod 13 are far from
// collinear and give 24 distinct y. The best transformations are the
// standardised straight lines: with s the standard deviation of y (divisor
// N), ty = (y - mean y) / s, tx1 = 2 (x1 - mean x1) / s, tx2 = -3 (x2 -
// mean x2) / s, and ty equals tx1 + tx2, so the squared correlation is 1.

struct LinearData {
  std::vector<double> x1, x2, y;
  std::string text;
};

LinearData linearData() {
  LinearData d;
  d.text = "X1 X2 Y\n";
  for (int i = 1; i <= 24; ++i) {
    const int x2 = (7 * i) % 13;
    const int y = 2 * i - 3 * x2 + 1;
    d.x1.push_back(i);
    d.x2.push_back(x2);
    d.y.push_back(y);
    d.text += std::to_string(i) + " " + std::to_string(x2) + " " + std::to_string(y) + "\n";
  }
  return d;
}

std::vector<double> standardised(const std::vector<double>& v, double factor, double s) {
  std::vector<double> out;
  const double m = mean(v);
  for (double e : v) out.push_back(factor * (e - m) / s);
  return out;
}

TEST(OutsideAnswersTest, LinearModelWithLinearCodesIsFittedExactly) {
  const LinearData d = linearData();
  const double s = spread(d.y);
  Session session;
  session.writeFile("linear.dat", d.text);
  session.input("linear.dat", {"X1", "X2", "Y"}, "Y");
  session.options({{"X1", 4}, {"X2", 4}, {"Y", 4}}, false);
  session.run();

  const std::string fin = " FINAL SQUARED CORRELATION = 1.0000";
  EXPECT_EQ(lineStarting(session.runLog(), " FINAL SQUARED CORRELATION"), fin);
  EXPECT_EQ(lineStarting(session.runtime.screen(), " FINAL SQUARED CORRELATION"), fin);
  auto sheet = readSheet(session);
  expectColumn(sheet["Y_Tr"], standardised(d.y, 1.0, s), "Y_Tr");
  expectColumn(sheet["X1_Tr"], standardised(d.x1, 2.0, s), "X1_Tr");
  expectColumn(sheet["X2_Tr"], standardised(d.x2, -3.0, s), "X2_Tr");

  // A monotone response is a straight line too; now the run predicts y back
  // through the inverse of ty, and gets the data.
  session.options({{"Y", 3}}, false);
  session.run();
  EXPECT_EQ(lineStarting(session.runLog(2), " FINAL SQUARED CORRELATION"), fin);
  sheet = readSheet(session);
  expectColumn(sheet["Y_Tr"], standardised(d.y, 1.0, s), "Y_Tr, monotone");
  expectColumn(sheet["Sum_Tr_Indep"], standardised(d.y, 1.0, s), "Sum_Tr_Indep");
  expectColumn(sheet["Y_Meas"], d.y, "Y_Meas");
  expectColumn(sheet["Y_Calc_Inv_Tr"], d.y, "Y_Calc_Inv_Tr");
  // The statistics are the rounding noise of exact predictions: errors of
  // about 1e-16 of the values (|y| <= 32) summed over 24 rows. A prediction
  // off by one table interval would be off by at least 1.
  const std::string stats = lineStarting(session.runLog(2), " Avedev=");
  for (const char* name : {"Avedev", "Stdev", "Bias"})
    EXPECT_LT(std::fabs(statistic(stats, name)), 1e-9) << name << " in [" << stats << "]";
}

// ---------------------------------------------------------------------------
// y = exp(x1 + x2): its logarithm, the variable _ln_Y that the scan offers,
// is additive and linear, so with the codes Prepare leaves (Orderable
// independents, Monotone dependent) the fit is exact and predicting Y back
// on its own scale reproduces the file.

TEST(OutsideAnswersTest, ExponentialModelPredictsItsResponseBackExactly) {
  std::string text = "X1 X2 Y\n";
  std::vector<double> y;
  for (int i = 1; i <= 24; ++i) {
    const double x1 = 0.1 * i;
    const double x2 = 0.25 * ((7 * i) % 13);
    y.push_back(std::exp(x1 + x2));
    text += numberText(x1) + " " + numberText(x2) + " " + numberText(y.back()) + "\n";
  }
  Session session;
  session.writeFile("exp.dat", text);
  session.input("exp.dat", {"X1", "X2", "_ln_Y"}, "_ln_Y");
  ASSERT_EQ(session.state.options.l[2],
            model::VarFlag::Monotone);  // Prepare's default for the dependent
  session.run();

  const std::vector<std::string> log = session.runLog();
  EXPECT_EQ(lineStarting(log, " FINAL SQUARED CORRELATION"), " FINAL SQUARED CORRELATION = 1.0000");
  // Rounding noise only: ln and exp are good to an ulp, the least-squares
  // start of the engine is already the exact additive fit and a smoother
  // keeps a straight line. 1e-9 (Y < 250; errors of some 1e-13 are
  // expected) is far below any fault: the sums x1 + x2 lie 0.05 or more
  // apart, so a prediction one table interval off misses by 5 % or more.
  const std::string abs = lineStarting(log, " Exp_Avedev=");
  for (const char* name : {"Exp_Avedev", "Exp_Stdev", "Exp_Bias"})
    EXPECT_LT(std::fabs(statistic(abs, name)), 1e-9) << name << " in [" << abs << "]";
  const std::string rel = lineStarting(log, " Exp_Avedev%=");
  for (const char* name : {"Exp_Avedev%", "Exp_Stdev%", "Exp_Bias%"})
    EXPECT_LT(std::fabs(statistic(rel, name)), 1e-9) << name << " in [" << rel << "]";
  auto sheet = readSheet(session);
  expectColumn(sheet["Y_Meas"], y, "Y_Meas");
  expectColumn(sheet["Y_Calc_Inv_Tr"], y, "Y_Calc_Inv_Tr");
}

// ---------------------------------------------------------------------------
// Five rows: x = 1..5, y = 1, 3, 2, 5, 4, x Linear, y Monotone.
//
// With five points the response smooth is a straight line in y (checked
// first, from the sheet), so ty is y standardised: mean 3, variance
// (4+1+0+1+4)/5 = 2, ty = (y - 3)/sqrt(2). The straight-line fit of ty on
// x (Linear code): slope = sum ty (x-3) / sum (x-3)^2, where
// sum (y-3)(x-3) = (-2)(-2) + 0(-1) + (-1)0 + 2*1 + 1*2 = 8, so the slope
// is (8/sqrt(2))/10 = 0.4 sqrt(2) and tx = 0.4 sqrt(2) (x - 3).
// Squared correlation: 8^2 / (10 * 10) = 0.64.
// Prediction: sumTx = tx; inverting ty gives y = 3 + sqrt(2) sumTx
//   = 3 + 0.8 (x - 3) = 1.4, 2.2, 3.0, 3.8, 4.6.
// Errors d = y - yPred = -0.4, 0.8, -1.0, 1.2, -0.6:
//   Avedev = (0.4+0.8+1.0+1.2+0.6)/5 = 0.8
//   Stdev  = sqrt((0.16+0.64+1.00+1.44+0.36)/5) = sqrt(0.72) = 0.8485 -> 0.849
//   Bias   = (-0.4+0.8-1.0+1.2-0.6)/5 = 0

TEST(OutsideAnswersTest, FiveRowsWorkedByHand) {
  Session session;
  session.writeFile("five.dat", "X Y\n1 1\n2 3\n3 2\n4 5\n5 4\n");
  session.input("five.dat", {"X", "Y"}, "Y");
  session.options({{"X", 4}}, false);
  session.run();

  const double r2 = std::sqrt(2.0);
  auto sheet = readSheet(session);
  ASSERT_EQ(sheet["Y"], (std::vector<double>{1, 3, 2, 5, 4}));
  expectColumn(sheet["Y_Tr"], {-2 / r2, 0, -1 / r2, 2 / r2, 1 / r2}, "Y_Tr (the premise)");
  const double b = 0.4 * r2;
  expectColumn(sheet["X_Tr"], {-2 * b, -b, 0, b, 2 * b}, "X_Tr");
  expectColumn(sheet["Sum_Tr_Indep"], {-2 * b, -b, 0, b, 2 * b}, "Sum_Tr_Indep");
  expectColumn(sheet["Y_Calc_Inv_Tr"], {1.4, 2.2, 3.0, 3.8, 4.6}, "Y_Calc_Inv_Tr");

  const std::vector<std::string> log = session.runLog();
  EXPECT_EQ(lineStarting(log, " FINAL SQUARED CORRELATION"), " FINAL SQUARED CORRELATION = 0.6400");
  // G11.3: "0.800" and "0.849" right-aligned in 7, then 4 blanks; the
  // bias is rounding noise, printed in exponent form.
  const std::string stats = lineStarting(log, " Avedev=");
  EXPECT_EQ(stats.substr(0, 47), " Avedev=  0.800       Stdev=  0.849       Bias=");
  EXPECT_LT(std::fabs(statistic(stats, "Bias")), 1e-12) << stats;
  EXPECT_EQ(lineStarting(session.runtime.screen(), " Avedev="), stats);
}

// ---------------------------------------------------------------------------
// A noisy log-linear data set: the fit is not exact, so the statistics are
// not 0. Every printed statistic must follow from the columns the run wrote
// (measured and predicted, on the log and on the raw scale) by its formula:
// d = measured - predicted, r = d / measured; Avedev = sum |d| / N,
// Stdev = sqrt(sum d^2 / N), Bias = sum d / N; the percentages are 100
// times the same of r.

struct Stats {
  double avedev = 0, stdev = 0, bias = 0;
};

Stats statsOf(const std::vector<double>& measured, const std::vector<double>& predicted,
              bool relative) {
  Stats s;
  const double n = static_cast<double>(measured.size());
  for (std::size_t i = 0; i < measured.size(); ++i) {
    double d = measured[i] - predicted[i];
    if (relative) d = 100.0 * d / measured[i];
    s.avedev += std::fabs(d) / n;
    s.stdev += d * d / n;
    s.bias += d / n;
  }
  s.stdev = std::sqrt(s.stdev);
  return s;
}

// A G11.3 field holds three significant digits: half a unit of the third
// digit, plus what six-digit inputs (kSheetRelative of `scale`) can move.
void expectPrinted(double printed, double formula, double scale, const std::string& what) {
  const double tolerance = 0.005 * std::fabs(formula) + 2 * kSheetRelative * scale;
  EXPECT_NEAR(printed, formula, tolerance) << what;
}

TEST(OutsideAnswersTest, StatisticsFollowFromThePrintedPredictions) {
  const double noise[12] = {0.08, -0.05, 0.03, -0.09, 0.06, -0.02,
                            0.07, -0.04, 0.01, -0.08, 0.05, -0.03};
  std::string text = "X1 X2 Y\n";
  for (int i = 1; i <= 12; ++i) {
    const int x2 = (5 * i) % 7 + 1;
    const double y = std::exp(0.25 * i - 0.3 * x2) * (1.0 + noise[i - 1]);
    text += std::to_string(i) + " " + std::to_string(x2) + " " + numberText(y) + "\n";
  }
  Session session;
  session.writeFile("noisy.dat", text);
  session.input("noisy.dat", {"X1", "X2", "_ln_Y"}, "_ln_Y");
  session.run();

  auto sheet = readSheet(session);
  const std::vector<double>& lnY = sheet["_ln_Y_Meas"];
  const std::vector<double>& lnPred = sheet["_ln_Y_Calc_Inv_Tr"];
  const std::vector<double>& rawY = sheet["Y_Meas"];
  const std::vector<double>& rawPred = sheet["Y_Calc_Inv_Tr"];
  ASSERT_EQ(lnY.size(), 12u);
  ASSERT_EQ(lnPred.size(), 12u);
  ASSERT_EQ(rawY.size(), 12u);
  ASSERT_EQ(rawPred.size(), 12u);
  double lnScale = 0, rawScale = 0;
  for (int i = 0; i < 12; ++i) {
    lnScale = std::max(lnScale, std::fabs(lnY[i]));
    rawScale = std::max(rawScale, rawY[i]);
  }

  const std::vector<std::string> log = session.runLog();
  const std::string plain = lineStarting(log, " Avedev=");
  const std::string abs = lineStarting(log, " Exp_Avedev=");
  const std::string pct = lineStarting(log, " Exp_Avedev%=");
  const Stats onLog = statsOf(lnY, lnPred, false);
  const Stats onRaw = statsOf(rawY, rawPred, false);
  const Stats inPercent = statsOf(rawY, rawPred, true);
  // Not a trivial fit: the errors are of the size of the noise.
  EXPECT_GT(onLog.stdev, 0.01);

  expectPrinted(statistic(plain, "Avedev"), onLog.avedev, lnScale, "Avedev");
  expectPrinted(statistic(plain, "Stdev"), onLog.stdev, lnScale, "Stdev");
  expectPrinted(statistic(plain, "Bias"), onLog.bias, lnScale, "Bias");
  expectPrinted(statistic(abs, "Exp_Avedev"), onRaw.avedev, rawScale, "Exp_Avedev");
  expectPrinted(statistic(abs, "Exp_Stdev"), onRaw.stdev, rawScale, "Exp_Stdev");
  expectPrinted(statistic(abs, "Exp_Bias"), onRaw.bias, rawScale, "Exp_Bias");
  expectPrinted(statistic(pct, "Exp_Avedev%"), inPercent.avedev, 100.0, "Exp_Avedev%");
  expectPrinted(statistic(pct, "Exp_Stdev%"), inPercent.stdev, 100.0, "Exp_Stdev%");
  expectPrinted(statistic(pct, "Exp_Bias%"), inPercent.bias, 100.0, "Exp_Bias%");
}

}  // namespace
}  // namespace tavel::run

// SPDX-License-Identifier: GPL-3.0-or-later
#include "run/inverse_stats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace tavel::run {
namespace {

// Interpolation results are a few operations on exact inputs.
constexpr double kTight = 1e-12;

struct Captured {
  std::vector<std::string> lines;
  LineSink sink() {
    return [this](std::string_view line) { lines.emplace_back(line); };
  }
};

double invert(const std::vector<double>& a, const std::vector<double>& b, double t,
              Captured* messages = nullptr, double start = -777.0) {
  double result = start;
  Captured ignore;
  interpolateTable(static_cast<int>(a.size()), a.data(), b.data(), t, result,
                   (messages ? messages : &ignore)->sink());
  return result;
}

// The bisection used for monotone tables must pick exactly the interval the
// outward search picks: same bits, including flat steps, exact hits of table
// values, values outside the table and descending tables.
TEST(InterpolateTableTest, MonotoneBisectionAgreesWithTheOutwardSearchBitForBit) {
  std::mt19937 rng(12345);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int trial = 0; trial < 300; ++trial) {
    const int n = 2 + static_cast<int>(rng() % 60);
    const bool descending = trial % 2 == 1;
    std::vector<double> a(n), b(n);
    double level = 0.0;
    for (int i = 0; i < n; ++i) {
      a[i] = i * 1.5 + unit(rng);
      // Flat steps are common in monotone fits.
      if (i > 0 && unit(rng) < 0.4)
        level += 0.0;
      else
        level += unit(rng) * (trial % 3 == 0 ? 100.0 : 1.0);
      b[i] = descending ? -level : level;
    }
    ASSERT_TRUE(isMonotoneTable(n, b.data()));
    std::vector<double> probes;
    for (double v : b) probes.push_back(v);
    for (int k = 0; k < 40; ++k)
      probes.push_back((unit(rng) * 1.4 - 0.2) * (b[n - 1] - b[0]) + b[0]);
    for (double t : probes) {
      double slow = -777.0, fast = -777.0;
      Captured ignore;
      interpolateTable(n, a.data(), b.data(), t, slow, ignore.sink(), false);
      interpolateTable(n, a.data(), b.data(), t, fast, ignore.sink(), true);
      ASSERT_EQ(std::memcmp(&slow, &fast, sizeof slow), 0)
          << "n=" << n << " t=" << t << " slow=" << slow << " fast=" << fast;
    }
  }
  const std::vector<double> turning = {0.0, 2.0, 1.0};
  EXPECT_FALSE(isMonotoneTable(3, turning.data()));
}

TEST(BuildInvTableTest, OneEntryPerDistinctRawValueFirstTieWins) {
  const std::vector<double> raw = {3.0, 1.0, 3.0, 2.0};
  const std::vector<double> transformed = {30.0, 10.0, 31.0, 20.0};
  std::vector<double> a(4, -1.0), b(4, -1.0);
  InvTable table{a.data(), b.data(), 0};

  const std::vector<int> order = {2, 4, 1, 3};
  EXPECT_EQ(buildInvTable(4, order.data(), raw.data(), transformed.data(), table), 3);
  EXPECT_EQ(table.size, 3);
  EXPECT_EQ(a, (std::vector<double>{1.0, 2.0, 3.0, -1.0}));
  EXPECT_EQ(b, (std::vector<double>{10.0, 20.0, 30.0, -1.0}));

  const std::vector<int> otherTieOrder = {2, 4, 3, 1};
  buildInvTable(4, otherTieOrder.data(), raw.data(), transformed.data(), table);
  EXPECT_EQ(b[2], 31.0);
}

TEST(BuildInvTableTest, StartValueAndOrdersOutsideTheArrays) {
  const std::vector<double> raw = {999999995904.0, 2.0e12};
  const std::vector<double> transformed = {1.0, 2.0};
  std::vector<double> a(2, 0.0), b(2, 0.0);
  InvTable table{a.data(), b.data(), 0};
  const std::vector<int> order = {1, 2};
  // A smallest value equal to the start value is not entered.
  EXPECT_EQ(buildInvTable(2, order.data(), raw.data(), transformed.data(), table), 1);
  EXPECT_EQ(a[0], 2.0e12);

  // Orders an engine never filled in (zeros, garbage) are passed over.
  const std::vector<int> unfilled = {0, 7};
  EXPECT_EQ(buildInvTable(2, unfilled.data(), raw.data(), transformed.data(), table), 0);
}

TEST(InterpolateTableTest, InsideAndBeyondTheEnds) {
  const std::vector<double> a = {1.0, 2.0, 3.0, 4.0};
  const std::vector<double> b = {10.0, 20.0, 40.0, 80.0};
  EXPECT_NEAR(invert(a, b, 15.0), 1.5, kTight);
  EXPECT_NEAR(invert(a, b, 30.0), 2.5, kTight);
  EXPECT_NEAR(invert(a, b, 60.0), 3.5, kTight);
  EXPECT_EQ(invert(a, b, 40.0), 3.0);
  // Below the first and above the last entry: along the end intervals.
  EXPECT_NEAR(invert(a, b, 5.0), 0.5, kTight);
  EXPECT_NEAR(invert(a, b, 120.0), 5.0, kTight);
}

TEST(InterpolateTableTest, DescendingTable) {
  const std::vector<double> a = {1.0, 2.0, 3.0};
  const std::vector<double> b = {30.0, 20.0, 10.0};
  EXPECT_NEAR(invert(a, b, 25.0), 1.5, kTight);
  EXPECT_NEAR(invert(a, b, 15.0), 2.5, kTight);
  EXPECT_NEAR(invert(a, b, 35.0), 0.5, kTight);
  EXPECT_NEAR(invert(a, b, 0.0), 4.0, kTight);
}

TEST(InterpolateTableTest, FlatStepGivesTheFirstEntryReachedBySearch) {
  // t = 1 lies on a step of seven equal values. The guess is
  // round(10 * 1 / 3) = 3; the first pass tests interval 2 before 3, and
  // interval 2 ends on the step, so the result is A(2) with no blend.
  const std::vector<double> a = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const std::vector<double> b = {0, 1, 1, 1, 1, 1, 1, 1, 2, 3};
  EXPECT_EQ(invert(a, b, 1.0), 2.0);
  // When the step reaches B(n-1) the end bracket takes the last interval.
  const std::vector<double> toEnd = {0, 1, 1, 1, 1, 1, 1, 1, 1, 3};
  EXPECT_EQ(invert(a, toEnd, 1.0), 9.0);
}

TEST(InterpolateTableTest, DegenerateTablesLeaveTheResultAndSaySo) {
  Captured messages;
  // One entry (a constant variable).
  EXPECT_EQ(invert({5.0}, {0.0}, 0.3, &messages), -777.0);
  // Equal first and last transformed values with t inside.
  EXPECT_EQ(invert({1.0, 2.0, 3.0}, {5.0, 3.0, 5.0}, 4.0, &messages), -777.0);
  ASSERT_EQ(messages.lines.size(), 2u);
  EXPECT_EQ(messages.lines[0], " last = first, sorry");
  EXPECT_EQ(messages.lines[1], " last = first, sorry");

  // An end bracket is found before the degenerate test.
  messages.lines.clear();
  EXPECT_NEAR(invert({1.0, 2.0, 3.0}, {5.0, 7.0, 5.0}, 6.0, &messages), 1.5, kTight);
  EXPECT_TRUE(messages.lines.empty());
}

TEST(InterpolateTableTest, WildInputsStayInsideTheTable) {
  Captured messages;
  // A table that is not monotone sends the guess far beyond n.
  EXPECT_NEAR(invert({1.0, 2.0, 3.0}, {0.0, 1000.0, 1.0}, 500.0), 1.5, kTight);
  // Not a number: no interval holds it; nothing written, no message.
  EXPECT_EQ(invert({1.0, 2.0, 3.0}, {0.0, 1.0, 2.0}, std::nan(""), &messages), -777.0);
  EXPECT_TRUE(messages.lines.empty());
}

TEST(SumTransformsTest, AccumulatesInPredictorOrder) {
  // Column-major, n = 2, p = 3. Row 1 in order: (1 + 1e16) - 1e16 = 0.
  const std::vector<double> tx = {1.0, 0.5, 1e16, 0.25, -1e16, 0.125};
  std::vector<double> sum(2);
  sumTransforms(2, 3, tx.data(), sum.data());
  EXPECT_EQ(sum[0], 0.0);
  EXPECT_EQ(sum[1], 0.875);
}

TEST(PredictionTest, StatisticsDivideByN) {
  // y = 1, 2 with ty = 10 y; predictions at 0 and 30 invert to 0 and 3:
  // errors +1 and -1.
  const std::vector<double> x = {7.0, 8.0};
  const std::vector<double> y = {1.0, 2.0};
  const std::vector<double> tx = {0.0, 0.0};
  const std::vector<double> ty = {10.0, 20.0};
  const std::vector<int> m = {1, 2, 1, 2};
  RunArrays run{2, 1, x.data(), y.data(), tx.data(), ty.data(), m.data()};
  const std::vector<double> sumTx = {0.0, 30.0};
  std::vector<double> ta(2), tb(2), yPred(2, 99.0);
  Captured messages;
  const PredictionStats s =
      predictResponse(run, sumTx.data(), ta.data(), tb.data(), yPred.data(), messages.sink());
  EXPECT_NEAR(yPred[0], 0.0, kTight);
  EXPECT_NEAR(yPred[1], 3.0, kTight);
  EXPECT_NEAR(s.Avedev, 1.0, kTight);
  EXPECT_NEAR(s.Stdev, 1.0, kTight);
  EXPECT_NEAR(s.Bias, 0.0, kTight);
  EXPECT_TRUE(messages.lines.empty());
}

TEST(PredictionTest, ConstantResponseLeavesZerosAndSaysSoOnceWithTheCount) {
  const std::vector<double> x = {1.0, 2.0, 3.0};
  const std::vector<double> y = {4.0, 4.0, 4.0};
  const std::vector<double> tx = {-1.0, 0.0, 1.0};
  const std::vector<double> ty = {0.0, 0.0, 0.0};
  const std::vector<int> m = {1, 2, 3, 1, 2, 3};
  RunArrays run{3, 1, x.data(), y.data(), tx.data(), ty.data(), m.data()};
  std::vector<double> ta(3), tb(3), yPred(3, 99.0);
  Captured messages;
  const PredictionStats s =
      predictResponse(run, tx.data(), ta.data(), tb.data(), yPred.data(), messages.sink());
  EXPECT_EQ(yPred, (std::vector<double>{0.0, 0.0, 0.0}));
  EXPECT_EQ(messages.lines,
            (std::vector<std::string>{
                " last = first, sorry: 3 observations could not be inverted and hold 0.0"}));
  EXPECT_EQ(s.Bias, 4.0);
  EXPECT_EQ(s.Avedev, 4.0);
}

TEST(PredictionTest, BackTransformedStatistics) {
  // exp(y) = 2, 4 against predictions 1, 5: errors +1, -1; relative 0.5, -0.25.
  const std::vector<double> y = {std::log(2.0), std::log(4.0)};
  const std::vector<double> yPred = {0.0, std::log(5.0)};
  std::vector<double> expPred(2);
  const ExpStats s = backTransformedStats(2, y.data(), yPred.data(), expPred.data());
  EXPECT_NEAR(expPred[0], 1.0, kTight);
  EXPECT_NEAR(expPred[1], 5.0, kTight);
  EXPECT_NEAR(s.Exp_Avedev, 1.0, kTight);
  EXPECT_NEAR(s.Exp_Stdev, 1.0, kTight);
  EXPECT_NEAR(s.Exp_Bias, 0.0, kTight);
  EXPECT_NEAR(s.Exp_AvedevPercent, 37.5, kTight);
  EXPECT_NEAR(s.Exp_StdevPercent, 100.0 * std::sqrt(0.15625), kTight);
  EXPECT_NEAR(s.Exp_BiasPercent, 12.5, kTight);

  EXPECT_TRUE(isLogVariableName("_ln_RATE" + std::string(42, ' ')));
  EXPECT_FALSE(isLogVariableName("RATE_ln_"));
  EXPECT_FALSE(isLogVariableName("_ln"));
}

// Observed range 0 .. 10, margin 1: 10.5 is a small overshoot and not
// counted, -3 is, and an infinite extension is held at 10 and counted.
TEST(OutsideRangeTest, CountsFarPredictionsAndHoldsWhatNoDoubleHolds) {
  const std::vector<double> y = {0.0, 10.0, 5.0, 2.0};
  std::vector<double> yPred = {0.5, 10.5, -3.0, std::numeric_limits<double>::infinity()};
  const OutsideRange r = holdUnrepresentable(4, y.data(), yPred.data(), 0, false);
  EXPECT_EQ(r.count, 2);
  EXPECT_EQ(r.held, 1);
  EXPECT_EQ(r.farthestRow, 4);
  EXPECT_EQ(yPred, (std::vector<double>{0.5, 10.5, -3.0, 10.0}));
  EXPECT_EQ(outsideRangeLine(r, "Y"),
            " 2 predictions of Y lie outside its observed range 0 .. 10 by more than a tenth of "
            "it (the farthest beyond the range of numbers, row 4): the inverse transformation "
            "was extended past its ends; 1 that could not be represented was held at the "
            "nearer end");
  // Without the infinite one: the farthest is -3, and nothing is held.
  yPred = {0.5, 10.5, -3.0, 12.0};
  const OutsideRange two = holdUnrepresentable(4, y.data(), yPred.data(), 0, false);
  EXPECT_EQ(outsideRangeLine(two, "Y"),
            " 2 predictions of Y lie outside its observed range 0 .. 10 by more than a tenth of "
            "it (the farthest -3, row 3): the inverse transformation was extended past its ends");
  // A prediction whose error squared overflows cannot enter the statistics.
  yPred = {0.5, 10.5, 5.0, 1e200};
  EXPECT_EQ(holdUnrepresentable(4, y.data(), yPred.data(), 0, false).held, 1);
  EXPECT_EQ(yPred[3], 10.0);
  // Every prediction inside: nothing to say.
  yPred = {0.0, 10.0, 5.0, 10.9};
  EXPECT_EQ(outsideRangeLine(holdUnrepresentable(4, y.data(), yPred.data(), 0, false), "Y"), "");
}

// A log response (ln y from 0 to 2): 800 overflows exp and is held at 2;
// on columns scaled by 2^-8 the range and values are told on their own scale.
TEST(OutsideRangeTest, LogOverflowAndScaledColumns) {
  const std::vector<double> y = {0.0, 1.0, 2.0};
  std::vector<double> yPred = {800.0, 1.0, -0.5};
  const OutsideRange r = holdUnrepresentable(3, y.data(), yPred.data(), 0, true);
  EXPECT_EQ(r.count, 2);
  EXPECT_EQ(r.held, 1);
  EXPECT_EQ(yPred[0], 2.0);
  EXPECT_EQ(yPred[2], -0.5);  // exp(-0.5) is a number: the documented value stays
  EXPECT_EQ(r.farthest, 800.0);
  EXPECT_EQ(r.farthestRow, 1);

  // y 256, 512, 1024 in the engine's units of 2^-8 (so 1, 2, 4).
  const std::vector<double> scaled = {1.0, 2.0, 4.0};
  std::vector<double> p = {1.0, 6.0, 2.0};
  const OutsideRange s = holdUnrepresentable(3, scaled.data(), p.data(), -8, false);
  EXPECT_EQ(s.count, 1);
  EXPECT_EQ(s.lo, 256.0);
  EXPECT_EQ(s.hi, 1024.0);
  EXPECT_EQ(outsideRangeLine(s, "V"),
            " 1 prediction of V lies outside its observed range 256 .. 1024 by more than a tenth "
            "of it (1536, row 2): the inverse transformation was extended past its ends");
}

TEST(EquilibrationTest, LinearTransformsMoveToTheMidpoint) {
  // n = 5, p = 2, every transformation linear, so every inverse is exact:
  // tx1 = 2 x1, tx2 = x2 / 10, ty = y. The moved values of each observation
  // sum to the target, which is the midpoint of ty and tx1 + tx2.
  const int n = 5;
  const std::vector<double> x = {1, 2, 3, 4, 5, 50, 40, 30, 20, 10};
  const std::vector<double> tx = {2, 4, 6, 8, 10, 5, 4, 3, 2, 1};
  const std::vector<double> y = {6, 9, 8, 11, 10};
  const std::vector<double>& ty = y;
  const std::vector<int> m = {1, 2, 3, 4, 5, 5, 4, 3, 2, 1, 1, 3, 2, 5, 4};
  RunArrays run{n, 2, x.data(), y.data(), tx.data(), ty.data(), m.data()};
  std::vector<double> ta(n), tb(n), target(n), xEq(2 * n, 99.0), yEq(n, 99.0);
  Captured messages;
  equilibrate(run, ta.data(), tb.data(), target.data(), xEq.data(), yEq.data(), messages.sink());
  EXPECT_TRUE(messages.lines.empty());
  for (int i = 0; i < n; ++i) {
    const double sum = tx[i] + tx[n + i];
    EXPECT_NEAR(target[i], 0.5 * (y[i] + sum), kTight) << i;
    const double shift = (ty[i] - target[i]) / 2;
    EXPECT_NEAR(xEq[i], (tx[i] + shift) / 2.0, kTight) << i;
    EXPECT_NEAR(xEq[n + i], (tx[n + i] + shift) * 10.0, kTight) << i;
    EXPECT_NEAR(yEq[i], target[i], kTight) << i;
    EXPECT_NEAR(2.0 * xEq[i] + xEq[n + i] / 10.0, target[i], kTight) << i;
  }
}

TEST(EquilibrationTest, ConstantPredictorKeepsItsValue) {
  const int n = 3;
  const std::vector<double> x = {7, 7, 7};
  const std::vector<double> tx = {0, 0, 0};
  const std::vector<double> y = {1, 2, 3};
  const std::vector<double> ty = {-1, 0, 1};
  const std::vector<int> m = {1, 2, 3, 1, 2, 3};
  RunArrays run{n, 1, x.data(), y.data(), tx.data(), ty.data(), m.data()};
  std::vector<double> ta(n), tb(n), target(n), xEq(n, 99.0), yEq(n, 99.0);
  Captured messages;
  equilibrate(run, ta.data(), tb.data(), target.data(), xEq.data(), yEq.data(), messages.sink());
  // A variable that cannot move is its own corrected value (not 0.0, which
  // would read as a correction to zero).
  EXPECT_EQ(xEq, (std::vector<double>{7.0, 7.0, 7.0}));
  // Said once for the predictor's table, not once per observation; the
  // response's table is sound and says nothing.
  EXPECT_EQ(messages.lines, (std::vector<std::string>{" last = first, sorry: 3 observations "
                                                      "could not be inverted and keep their "
                                                      "raw values"}));
  EXPECT_NEAR(yEq[0], 1.5, kTight);  // target -0.5 on y = 2 + ty
  EXPECT_NEAR(yEq[2], 2.5, kTight);
}

}  // namespace
}  // namespace tavel::run

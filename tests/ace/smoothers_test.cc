// SPDX-License-Identifier: GPL-3.0-or-later
#include "ace/smoothers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "ace/monotone.h"

namespace tavel::ace {
namespace {

constexpr double kSumTolerance = 1e-12;  // a few sums of O(1) values

std::vector<double> Smooth(int code, const std::vector<double>& x, const std::vector<double>& y,
                           const std::vector<double>& w) {
  const int n = static_cast<int>(x.size());
  std::vector<double> result(n), scratch(n * 7);
  AceSettings settings;
  smooth_variable(code, n, n, x.data(), y.data(), w.data(), result.data(), scratch.data(),
                  settings);
  return result;
}

TEST(SmoothVariable, StraightLine) {
  // Ordinates on a line through the weighted mean of the abscissa (x = 2).
  std::vector<double> x{0, 1, 2, 3, 5}, w{1, 2, 2, 1, 0.5};
  double sw = 0, swx = 0;
  for (size_t j = 0; j < x.size(); ++j) sw += w[j], swx += w[j] * x[j];
  const double c = swx / sw;
  std::vector<double> y;
  for (double xv : x) y.push_back(1.5 * (xv - c));
  const auto r = Smooth(4, x, y, w);
  for (size_t j = 0; j < x.size(); ++j) EXPECT_NEAR(r[j], y[j], kSumTolerance);

  // All abscissae equal: no slope, zeros instead of NaN.
  const auto flat = Smooth(4, {3, 3, 3, 3, 3}, {1, -1, 2, 0, 5}, {1, 1, 1, 1, 1});
  for (double v : flat) EXPECT_EQ(v, 0.0);
  const auto noweight = Smooth(4, {1, 2, 3, 4, 5}, {1, -1, 2, 0, 5}, {0, 0, 0, 0, 0});
  for (double v : noweight) EXPECT_EQ(v, 0.0);
}

TEST(SmoothVariable, GroupMeansAndOtherCodes) {
  const std::vector<double> x{1, 1, 2, 2, 2}, y{1, 4, 3, 6, 9}, w{1, 1, 1, 1, 1};
  const std::vector<double> expected{2.5, 2.5, 6, 6, 6};
  EXPECT_EQ(Smooth(5, x, y, w), expected);
  for (int code : {0, -2, 6, 99}) EXPECT_EQ(Smooth(code, x, y, w), expected) << code;

  // A group whose weights sum to 0 gets 0 instead of NaN.
  const auto r = Smooth(5, x, y, {0, 0, 1, 2, 1});
  EXPECT_EQ(r[0], 0.0);
  EXPECT_EQ(r[1], 0.0);
  EXPECT_DOUBLE_EQ(r[2], 6.0);
}

TEST(MonotoneFit, PoolsAdjacentViolators) {
  std::vector<double> a{1, 3, 2};
  monotone_fit(a.data(), 3);
  EXPECT_EQ(a, (std::vector<double>{1, 2.5, 2.5}));
  std::vector<double> b{3, 2, 1};
  monotone_fit(b.data(), 3);
  EXPECT_EQ(b, (std::vector<double>{2, 2, 2}));
  std::vector<double> c{-1, 0, 0, 2, 7, 7, 8};
  const auto c0 = c;
  monotone_fit(c.data(), 7);
  EXPECT_EQ(c, c0);
  std::vector<double> d{4, 0, 2, 1, 3};  // pools 4,0,2,1 -> 1.75 x4, then 3
  monotone_fit(d.data(), 5);
  EXPECT_EQ(d, (std::vector<double>{1.75, 1.75, 1.75, 1.75, 3}));
}

// The stack form must leave exactly the digits of the in-place pooling,
// including the block boundaries that equal values create.
TEST(MonotoneFit, StackFormMatchesInPlaceFormBitForBit) {
  std::mt19937 gen(7);
  std::uniform_int_distribution<int> pick(0, 5);
  std::normal_distribution<double> noise(0.0, 1.0);
  for (int trial = 0; trial < 3000; ++trial) {
    const int n = 1 + trial % 60;
    std::vector<double> v(n);
    for (int j = 0; j < n; ++j) {
      switch (trial % 4) {
        case 0:
          v[j] = pick(gen);
          break;  // many ties
        case 1:
          v[j] = noise(gen);
          break;  // no ties
        case 2:
          v[j] = -0.1 * j + 0.3 * noise(gen);
          break;  // decreasing
        default:
          v[j] = pick(gen) == 0 ? 0.0 : -0.0 + pick(gen) / 3.0;
          break;
      }
    }
    if (trial % 8 == 3 && n > 1) v[1] = -0.0;
    std::vector<double> a = v, b = v, starts(n), values(n);
    monotone_fit(a.data(), n);
    monotone_fit_pooled(b.data(), n, starts.data(), values.data());
    ASSERT_EQ(0, std::memcmp(a.data(), b.data(), n * sizeof(double))) << "trial " << trial;
  }
  // A long strictly decreasing run (the quadratic case of the in-place form).
  const int n = 200000;
  std::vector<double> v(n), starts(n), values(n);
  for (int j = 0; j < n; ++j) v[j] = n - j;
  monotone_fit_pooled(v.data(), n, starts.data(), values.data());
  for (int j = 0; j < n; ++j) ASSERT_EQ(v[j], (n + 1) / 2.0);
}

std::vector<double> MonotoneStep(std::vector<double> result, const std::vector<double>& x) {
  const int n = static_cast<int>(result.size());
  std::vector<double> scratch(n * 7);
  monotone_step(n, n, x.data(), result.data(), scratch.data());
  return result;
}

TEST(MonotoneStep, ChoosesTheBetterDirectionAndRampsFlatStretches) {
  const std::vector<double> x{1, 2, 3, 4, 5};
  // Strictly decreasing: the nonincreasing fit is exact (Q = 0 < P).
  EXPECT_EQ(MonotoneStep({5, 4, 2, 1, 0}, x), (std::vector<double>{5, 4, 2, 1, 0}));
  // Middle stretch: ramps from halfway to its left neighbour to halfway to
  // its right one.
  EXPECT_EQ(MonotoneStep({0, 1, 1, 1, 2}, x), (std::vector<double>{0, 0.5, 1.0, 1.5, 2}));
  // Stretch at the start: symmetric ramp with its one neighbour's half gap.
  EXPECT_EQ(MonotoneStep({1, 1, 1, 3}, {1, 2, 3, 4}), (std::vector<double>{0, 1, 2, 3}));
  // Constant stays constant (P = Q: the nonincreasing fit, equal anyway).
  EXPECT_EQ(MonotoneStep({2, 2, 2, 2, 2}, x), std::vector<double>(5, 2.0));
  // A violation pooled by the fit becomes a stretch and then a ramp:
  // 0, 2, 1, 3, 4 -> 0, 1.5, 1.5, 3, 4 -> 0, 0.75, 2.25, 3, 4.
  EXPECT_EQ(MonotoneStep({0, 2, 1, 3, 4}, x), (std::vector<double>{0, 0.75, 2.25, 3, 4}));
}

TEST(MonotoneStep, EqualAbscissaeEndWithTheMeanOfTheirRampedValues) {
  // 0, 1, 1, 1, 2 ramps to 0, 0.5, 1.0, 1.5, 2; positions 2 and 3 tie.
  const auto r = MonotoneStep({0, 1, 1, 1, 2}, {1, 2, 2, 4, 5});
  EXPECT_EQ(r, (std::vector<double>{0, 0.75, 0.75, 1.5, 2}));
}

TEST(SmoothVariable, MonotoneCodeGivesAMonotoneResult) {
  const int n = 300;
  std::mt19937 gen(3);
  std::normal_distribution<double> noise(0.0, 0.2);
  std::vector<double> x(n), y(n), w(n, 1.0);
  for (int j = 0; j < n; ++j) {
    x[j] = j / 10.0;
    y[j] = -std::exp(x[j] / 10.0) + std::sin(x[j]) * 0.3 + noise(gen);
  }
  const auto r = Smooth(3, x, y, w);
  for (int j = 1; j < n; ++j) EXPECT_LE(r[j], r[j - 1]) << j;
}

}  // namespace
}  // namespace tavel::ace

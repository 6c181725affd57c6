// SPDX-License-Identifier: GPL-3.0-or-later
#include "ace/supersmoother.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "ace/helper_thread.h"
#include "ace/running_line_lanes.h"
#include "ace/supersmoother_passes.h"

namespace tavel::ace {
namespace {

// Rounding of a handful of running sums of O(1) values.
constexpr double kSumTolerance = 1e-12;

// Weighted least-squares line through the points idx (abscissae given, so a
// wrapped point can be passed shifted by the period), evaluated at x0.
double LocalLine(const std::vector<double>& xs, const std::vector<double>& ys,
                 const std::vector<double>& ws, double x0) {
  double sw = 0, sx = 0, sy = 0;
  for (size_t t = 0; t < xs.size(); ++t) {
    sw += ws[t];
    sx += ws[t] * xs[t];
    sy += ws[t] * ys[t];
  }
  const double xm = sx / sw, ym = sy / sw;
  double sxx = 0, sxy = 0;
  for (size_t t = 0; t < xs.size(); ++t) {
    sxx += ws[t] * (xs[t] - xm) * (xs[t] - xm);
    sxy += ws[t] * (xs[t] - xm) * (ys[t] - ym);
  }
  return ym + sxy / sxx * (x0 - xm);
}

struct Data {
  std::vector<double> x, y, w;
};

Data Wavy(int n, unsigned seed, bool unit_interval, bool ties, bool unequal_weights) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.3);
  Data d;
  d.x.resize(n);
  for (int j = 0; j < n; ++j) d.x[j] = unit_interval ? u(gen) : -2.0 + 5.0 * u(gen);
  if (ties) {
    for (int j = 0; j < n; ++j) d.x[j] = std::round(d.x[j] * 20.0) / 20.0;
  }
  std::sort(d.x.begin(), d.x.end());
  for (int j = 0; j < n; ++j) {
    d.y.push_back(std::sin(6.0 * d.x[j]) + noise(gen));
    d.w.push_back(unequal_weights ? 0.5 + u(gen) : 1.0);
  }
  return d;
}

TEST(RunningLine, StraightLineComesBackUnchanged) {
  const int n = 40;
  std::vector<double> x(n), y(n), w(n, 1.0), smo(n), acvr(n);
  for (int j = 0; j < n; ++j) {
    x[j] = 0.25 * j + 0.01 * j * j;
    y[j] = 3.0 - 2.0 * x[j];
  }
  for (double span : {0.05, 0.2, 0.5, 0.9}) {
    running_line_smooth(n, x.data(), y.data(), w.data(), span, 1, 1e-6, smo.data(), acvr.data());
    for (int j = 0; j < n; ++j) EXPECT_NEAR(smo[j], y[j], kSumTolerance) << span << " " << j;
  }
}

// With n = 20 and span 0.05 the half-width rounds to 1 and is raised to 2:
// interior windows hold 5 points, the ends keep the first/last 5 points.
TEST(RunningLine, HalfWidthRuleAndEndWindows) {
  const int n = 20;
  Data d = Wavy(n, 3, false, false, true);
  std::vector<double> smo(n), acvr(n);
  running_line_smooth(n, d.x.data(), d.y.data(), d.w.data(), 0.05, 1, 0.0, smo.data(), acvr.data());
  auto window = [&](int first, int last, int at) {
    std::vector<double> xs(d.x.begin() + first, d.x.begin() + last + 1);
    std::vector<double> ys(d.y.begin() + first, d.y.begin() + last + 1);
    std::vector<double> ws(d.w.begin() + first, d.w.begin() + last + 1);
    return LocalLine(xs, ys, ws, d.x[at]);
  };
  for (int j = 0; j < n; ++j) {
    const int first = std::min(std::max(j - 2, 0), n - 5);
    EXPECT_NEAR(smo[j], window(first, first + 4, j), kSumTolerance) << j;
  }
  // The cross-validation residual is the leave-one-out residual of the same
  // weighted line fit: |y - fit without the point| (interior windows).
  for (int j = 2; j < n - 2; ++j) {
    std::vector<double> xs, ys, ws;
    for (int t = j - 2; t <= j + 2; ++t) {
      if (t == j) continue;
      xs.push_back(d.x[t]);
      ys.push_back(d.y[t]);
      ws.push_back(d.w[t]);
    }
    EXPECT_NEAR(acvr[j], std::fabs(d.y[j] - LocalLine(xs, ys, ws, d.x[j])), 1e-9) << j;
  }
}

TEST(RunningLine, PeriodicWindowsWrapAroundTheEnds) {
  const int n = 20;
  Data d = Wavy(n, 11, true, false, false);
  std::vector<double> smo(n), acvr(n);
  running_line_smooth(n, d.x.data(), d.y.data(), d.w.data(), 0.05, 2, 0.0, smo.data(), acvr.data());
  for (int j = 0; j < n; ++j) {
    std::vector<double> xs, ys, ws;
    for (int t = j - 2; t <= j + 2; ++t) {
      const int k = (t + n) % n;
      xs.push_back(d.x[k] + (t < 0 ? -1.0 : t >= n ? 1.0 : 0.0));
      ys.push_back(d.y[k]);
      ws.push_back(1.0);
    }
    EXPECT_NEAR(smo[j], LocalLine(xs, ys, ws, d.x[j]), kSumTolerance) << j;
  }
}

TEST(RunningLine, TiedAbscissaeShareTheirWeightedMean) {
  const int n = 12;
  std::vector<double> x{0, 1, 1, 1, 2, 3, 4, 4, 5, 6, 7, 8};
  std::vector<double> y{0, 5, -1, 2, 1, 0, 3, -3, 2, 1, 0, 4};
  std::vector<double> w{1, 1, 2, 0, 1, 1, 0, 0, 1, 1, 1, 1};
  std::vector<double> smo(n);
  running_line_smooth(n, x.data(), y.data(), w.data(), 0.3, -1, 0.0, smo.data(), nullptr);
  EXPECT_EQ(smo[1], smo[2]);
  EXPECT_EQ(smo[2], smo[3]);
  EXPECT_EQ(smo[6], 0.0);  // a tied group without weight gets 0, not NaN
  EXPECT_EQ(smo[7], 0.0);
  for (double s : smo) EXPECT_TRUE(std::isfinite(s));
}

TEST(RunningLine, WideSpansNeverReadOutsideTheData) {
  const int n = 5;
  std::vector<double> x{0.1, 0.2, 0.4, 0.7, 0.9}, y{1, 3, 2, 5, 4}, w(n, 1.0), smo(n), acvr(n);
  for (int iper : {1, 2}) {
    running_line_smooth(n, x.data(), y.data(), w.data(), 4.0, iper, 0.0, smo.data(), acvr.data());
    for (double s : smo) EXPECT_TRUE(std::isfinite(s));
  }
}

TEST(Supersmoother, ConstantAbscissaGivesTheWeightedMean) {
  AceSettings settings;
  const int n = 6;
  std::vector<double> x(n, 2.0), y{1, 2, 3, 4, 5, 6}, w{1, 1, 1, 1, 1, 3};
  std::vector<double> smo(n), sc(n * 7);
  supersmoother(n, n, x.data(), y.data(), w.data(), 1, 0.0, 5.0, smo.data(), sc.data(), settings);
  for (double s : smo) EXPECT_DOUBLE_EQ(s, 33.0 / 8.0);
  std::vector<double> w0(n, 0.0);
  supersmoother(n, n, x.data(), y.data(), w0.data(), 1, 0.0, 5.0, smo.data(), sc.data(), settings);
  for (double s : smo) EXPECT_EQ(s, 0.0);
}

TEST(Supersmoother, CircularIsPeriodicOnlyInsideTheUnitInterval) {
  AceSettings settings;
  const int n = 200;
  Data d = Wavy(n, 5, true, false, false);
  std::vector<double> a(n), b(n), sc(n * 7);
  supersmoother(n, n, d.x.data(), d.y.data(), d.w.data(), 2, 0.0, 5.0, a.data(), sc.data(),
                settings);
  supersmoother(n, n, d.x.data(), d.y.data(), d.w.data(), 1, 0.0, 5.0, b.data(), sc.data(),
                settings);
  EXPECT_NE(a.front(), b.front());  // ends share windows with the other end
  EXPECT_NE(a.back(), b.back());

  for (double& x : d.x) x = 0.1 + 1.2 * x;  // now 0.1 .. 1.3
  supersmoother(n, n, d.x.data(), d.y.data(), d.w.data(), 2, 0.0, 5.0, a.data(), sc.data(),
                settings);
  supersmoother(n, n, d.x.data(), d.y.data(), d.w.data(), 1, 0.0, 5.0, b.data(), sc.data(),
                settings);
  EXPECT_EQ(a, b);
}

TEST(Supersmoother, FixedSpanIsOneRunningLine) {
  AceSettings settings;
  const int n = 50;
  Data d = Wavy(n, 9, false, false, false);
  std::vector<double> a(n), b(n), acvr(n), sc(n * 7);
  supersmoother(n, n, d.x.data(), d.y.data(), d.w.data(), 1, 0.3, 5.0, a.data(), sc.data(),
                settings);
  // Variance floor: (0.001 * (x(3n/4) - x(n/4)))^2 with 1-based indices.
  const double scale = 0.001 * (d.x[3 * (n / 4) - 1] - d.x[n / 4 - 1]);
  running_line_smooth(n, d.x.data(), d.y.data(), d.w.data(), 0.3, 1, scale * scale, b.data(),
                      acvr.data());
  EXPECT_EQ(a, b);
}

TEST(Supersmoother, SpanChoiceTiesAndBass) {
  AceSettings settings;
  const int n = 3;
  std::vector<double> sc(n * 7, 0.0);
  auto set = [&](int j, int col, double v) { sc[(col - 1) * n + (j - 1)] = v; };
  auto get = [&](int j, int col) { return sc[(col - 1) * n + (j - 1)]; };
  // Point 1: all three smoothed residuals equal -> smallest span, no raise
  // (resmin is not below the large-span residual).
  // Point 2: the middle residual is least and below the large one.
  // Point 3: all residuals 0 -> no raise (resmin not positive).
  for (int col : {2, 4, 6}) set(1, col, 0.7);
  set(2, 2, 0.5);
  set(2, 4, 0.2);
  set(2, 6, 0.4);
  supersmoother_choose_span(1, n, sc.data(), n, 5.0, settings);
  EXPECT_EQ(get(1, 7), 0.05);
  EXPECT_EQ(get(2, 7), 0.2 + (0.5 - 0.2) * std::pow(0.5, 5.0));
  EXPECT_EQ(get(3, 7), 0.05);

  for (double bass : {0.0, -1.0, 10.5}) {
    supersmoother_choose_span(1, n, sc.data(), n, bass, settings);
    EXPECT_EQ(get(2, 7), 0.2) << bass;
  }
  supersmoother_choose_span(1, n, sc.data(), n, 10.0, settings);
  EXPECT_EQ(get(2, 7), 0.5);
}

TEST(Supersmoother, BlendClampsAndInterpolates) {
  AceSettings settings;
  const int n = 4;
  std::vector<double> sc(n * 7, 0.0);
  auto at = [&](int j, int col) -> double& { return sc[(col - 1) * n + (j - 1)]; };
  const double spans[] = {0.01, 0.2, 0.35, 0.9};
  for (int j = 1; j <= n; ++j) {
    at(j, 1) = 1.0;
    at(j, 3) = 2.0;
    at(j, 5) = 4.0;
    at(j, 2) = spans[j - 1];
  }
  supersmoother_blend(1, n, sc.data(), n, settings);
  EXPECT_EQ(at(1, 4), 1.0);
  EXPECT_EQ(at(2, 4), 2.0);
  EXPECT_DOUBLE_EQ(at(3, 4), 3.0);
  EXPECT_EQ(at(4, 4), 4.0);
}

// The lane-parallel passes, on one thread or two, must give exactly the
// plain method's digits, also where windows lose all their weight and where
// long runs of equal abscissae hold up the thread that follows.
TEST(RunningLine, TieGroupsAreTheRunsOfEqualNeighbours) {
  const auto groups = [](std::vector<double> x) {
    std::vector<std::pair<int, int>> out;
    const TieMarks marks(static_cast<int>(x.size()), x.data());
    for (TieGroup g = marks.next_group(1); g.first != 0; g = marks.next_group(g.last + 1))
      out.emplace_back(g.first, g.last);
    return out;
  };
  using G = std::vector<std::pair<int, int>>;
  EXPECT_EQ(groups({1, 1, 2, 3, 3, 3, 4}), (G{{1, 2}, {4, 6}}));
  EXPECT_EQ(groups({1, 2, 3, 4, 4}), (G{{4, 5}}));  // a group that ends the data
  EXPECT_EQ(groups({1, 2, 3}), G{});
  EXPECT_EQ(groups({5, 5, 5}), (G{{1, 3}}));
  // Groups across and at the end of 64-point words.
  std::vector<double> x(130);
  for (int j = 0; j < 130; ++j) x[j] = j;
  for (int j = 61; j <= 65; ++j) x[j] = 61;
  for (int j = 127; j <= 129; ++j) x[j] = 127;
  EXPECT_EQ(groups(x), (G{{62, 66}, {128, 130}}));
}

TEST(Supersmoother, FastPathsMatchThePlainOneBitForBit) {
  AceSettings settings;
  HelperThread helper;
  ASSERT_TRUE(helper.started());
  int case_no = 0;
  for (int n : {5, 6, 7, 11, 40, 203, 1000, 20011, 70001}) {
    for (int iper : {1, 2, 3}) {
      for (int kind = 0; kind < 5; ++kind) {
        ++case_no;
        if (n > 20011 && iper == 3) continue;
        const bool ties = kind == 1 || kind == 3 || kind == 4;
        Data d = Wavy(n, 100 + case_no, iper == 2, ties, kind == 2 || kind == 3);
        // Equal weights other than 1: the windows then take w(1) for every point.
        if (kind == 4) std::fill(d.w.begin(), d.w.end(), 0.37);
        if (kind == 3) {
          // Zero weights in stretches, and a run of equal abscissae a fifth long.
          for (int j = n / 3; j < n / 3 + n / 10 + 2 && j < n; ++j) d.w[j] = 0.0;
          for (int j = n / 2; j < n / 2 + n / 5; ++j) d.x[j] = d.x[n / 2];
          std::sort(d.x.begin(), d.x.end());
        }
        const int ld = n + 3;
        std::vector<double> plain_out(n), sc0(ld * 7, -1.0);
        plain::supersmoother(n, ld, d.x.data(), d.y.data(), d.w.data(), iper, 0.0, 5.0,
                             plain_out.data(), sc0.data(), settings);
        for (bool two_threads : {false, true}) {
          // Two threads also get the caller's spare vector instead of their own.
          std::vector<double> fast(n), sc(ld * 7, -1.0), spare(n, -1.0);
          supersmoother_in_lanes(n, ld, d.x.data(), d.y.data(), d.w.data(), iper, 0.0, 5.0,
                                 fast.data(), sc.data(), settings, two_threads ? &helper : nullptr,
                                 two_threads ? spare.data() : nullptr);
          ASSERT_EQ(0, std::memcmp(fast.data(), plain_out.data(), n * sizeof(double)))
              << "n=" << n << " iper=" << iper << " kind=" << kind
              << " two_threads=" << two_threads;
        }
      }
    }
  }
}

}  // namespace
}  // namespace tavel::ace

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ace/ace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "ace/engine_paths.h"

namespace tavel::ace {
namespace {

// Caller-side storage for one engine call, laid out as the Run lays it out.
struct Problem {
  int n = 0;
  int p = 0;
  int ld = 0;
  std::vector<double> x, y, w, tx, ty, z;
  std::vector<int> l, m;
  double DelRsq = static_cast<double>(1.0e-4f);
  double rsq = -1.0;
  int ierr = -1;
  int NumTerm = 2;
  RsqHistory history{};
  AceSettings settings;
  std::vector<std::string> lines;

  Problem(int n_, int p_) : n(n_), p(p_), ld(n_) {
    x.assign(ld * p, 0.0);
    y.assign(n, 0.0);
    w.assign(n, 1.0);
    tx.assign(ld * p, 0.0);
    ty.assign(n, 0.0);
    z.assign(ld * 12, 0.0);
    l.assign(p + 1, 1);
    l[p] = 3;
    m.assign(ld * (p + 1), 0);
  }
  double& X(int j, int i) { return x[(i - 1) * ld + (j - 1)]; }
  double& TX(int j, int i) { return tx[(i - 1) * ld + (j - 1)]; }
  AceProblem View() { return AceProblem{n, p, ld, x, y, w, l, tx, ty, m, z}; }
  AceOptions Options() const { return AceOptions{DelRsq, NumTerm, settings, history}; }
  LineSink Sink() {
    return [this](std::string_view s) { lines.emplace_back(s); };
  }
  void Run() {
    lines.clear();
    ace_estimate(n, p, x.data(), y.data(), w.data(), l.data(), DelRsq, tx.data(), ty.data(), rsq,
                 ierr, m.data(), z.data(), ld, settings, NumTerm, history,
                 [this](std::string_view s) { lines.emplace_back(s); });
  }
};

Problem SmoothModel(int n, int p, unsigned seed, double noise_sd) {
  Problem pr(n, p);
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::normal_distribution<double> noise(0.0, noise_sd);
  for (int j = 1; j <= n; ++j) {
    double s = 0.0;
    for (int i = 1; i <= p; ++i) {
      pr.X(j, i) = u(gen);
      s += (i % 2 ? std::sin(2.0 * pr.X(j, i)) : pr.X(j, i) * pr.X(j, i));
    }
    pr.y[j - 1] = s + noise(gen);
  }
  return pr;
}

double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
  const double n = static_cast<double>(a.size());
  double ma = 0, mb = 0;
  for (size_t j = 0; j < a.size(); ++j) ma += a[j], mb += b[j];
  ma /= n, mb /= n;
  double sab = 0, saa = 0, sbb = 0;
  for (size_t j = 0; j < a.size(); ++j) {
    sab += (a[j] - ma) * (b[j] - mb);
    saa += (a[j] - ma) * (a[j] - ma);
    sbb += (b[j] - mb) * (b[j] - mb);
  }
  return sab / std::sqrt(saa * sbb);
}

TEST(AceValidation, LinesComeInOrderAndTheLastCodeWins) {
  Problem pr(10, 3);
  for (int j = 1; j <= 10; ++j) pr.y[j - 1] = j, pr.X(j, 1) = j, pr.X(j, 2) = j, pr.X(j, 3) = j;
  pr.l = {1, 7, 1, 0};
  pr.Run();
  ASSERT_EQ(pr.lines.size(), 2u);
  EXPECT_EQ(pr.lines[0], " ierr = 6: l( 2) must be .ge. -5 and .le. 5.");
  EXPECT_EQ(pr.lines[1], " ierr = 4: l( 4) must be nonzero.");
  EXPECT_EQ(pr.ierr, 4);
  for (double t : pr.tx) EXPECT_EQ(t, 0.0);  // untouched

  pr.l = {0, 0, 0, 3};
  pr.w.assign(10, 0.0);
  pr.Run();
  ASSERT_EQ(pr.lines.size(), 2u);
  EXPECT_EQ(pr.lines[0], " ierr = 5: at least one l(1) - l( 3) must be positive.");
  EXPECT_EQ(pr.lines[1], " ierr = 1: sum of weights not positive.");
  EXPECT_EQ(pr.ierr, 1);
  EXPECT_EQ(pr.ty, pr.y);  // copied before the checks returned

  pr.l = {-6, 0, 0, 3};
  pr.w.assign(10, 1.0);
  pr.Run();  // an out-of-range code still counts as a used predictor
  ASSERT_EQ(pr.lines.size(), 1u);
  EXPECT_EQ(pr.lines[0], " ierr = 6: l( 1) must be .ge. -5 and .le. 5.");
  EXPECT_EQ(pr.ierr, 6);

  // A single negative predictor code counts as active.
  pr.l = {0, -1, 0, 3};
  pr.TX(1, 2) = 1.0;
  pr.Run();
  EXPECT_EQ(pr.ierr, 0);
}

TEST(AceValidation, ZeroVarianceResponse) {
  Problem pr(8, 1);
  for (int j = 1; j <= 8; ++j) pr.X(j, 1) = j, pr.y[j - 1] = 2.5;
  pr.Run();
  EXPECT_EQ(pr.ierr, 2);
  ASSERT_EQ(pr.lines.size(), 1u);
  EXPECT_EQ(pr.lines[0], " ierr = 2: y has zero variance.");

  pr.l[1] = -3;
  pr.ty.assign(8, 1.0);
  pr.Run();
  EXPECT_EQ(pr.ierr, 3);
  ASSERT_EQ(pr.lines.size(), 1u);
  EXPECT_EQ(pr.lines[0], " ierr = 3: y has zero variance.");
}

TEST(AceValidation, FewerThanFiveObservationsTouchNothing) {
  Problem pr(4, 1);
  for (int j = 1; j <= 4; ++j) pr.X(j, 1) = j, pr.y[j - 1] = j * j;
  pr.ty.assign(4, 9.0);
  pr.NumTerm = 0;
  pr.Run();
  EXPECT_EQ(pr.ierr, 7);
  ASSERT_EQ(pr.lines.size(), 1u);
  EXPECT_EQ(pr.lines[0].rfind(" ierr = 7:", 0), 0u);
  EXPECT_EQ(pr.ty, std::vector<double>(4, 9.0));
  EXPECT_EQ(pr.NumTerm, 0);
}

TEST(AceEstimate, IterationLineFormat) {
  EXPECT_EQ(ace_iteration_line(1, 0.98765432), " iteration 1  r**2 = 1 - e**2 =   0.9876543");
  EXPECT_EQ(ace_iteration_line(10, -0.5), " iteration10  r**2 = 1 - e**2 =  -0.5000000");
  EXPECT_EQ(ace_iteration_line(3, 1.0).size(), 43u);
}

TEST(AceEstimate, LinearModelWithLinearCodesIsExact) {
  Problem pr(50, 2);
  std::mt19937 gen(1);
  std::uniform_real_distribution<double> u(0.0, 10.0);
  for (int j = 1; j <= 50; ++j) {
    pr.X(j, 1) = u(gen);
    pr.X(j, 2) = u(gen);
    pr.y[j - 1] = pr.X(j, 1) + pr.X(j, 2);
  }
  pr.l = {4, 4, 4};
  pr.Run();
  ASSERT_EQ(pr.ierr, 0);
  EXPECT_NEAR(pr.rsq, 1.0, 1e-9);
  EXPECT_EQ(pr.lines.back().substr(0, 31), " iteration 2  r**2 = 1 - e**2 =");
}

TEST(AceEstimate, MonotoneResponseRecoversTheLogarithm) {
  const int n = 400;
  Problem pr(n, 2);
  std::mt19937 gen(2);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.02);
  std::vector<double> logy(n);
  for (int j = 1; j <= n; ++j) {
    pr.X(j, 1) = u(gen);
    pr.X(j, 2) = u(gen);
    pr.y[j - 1] = std::exp(pr.X(j, 1) + pr.X(j, 2) + noise(gen));
    logy[j - 1] = std::log(pr.y[j - 1]);
  }
  pr.l = {1, 1, 3};
  pr.Run();
  ASSERT_EQ(pr.ierr, 0);
  EXPECT_GT(Correlation(pr.ty, logy), 0.99);
  EXPECT_GT(pr.rsq, 0.95);
}

TEST(AceEstimate, InvariantsOnReturn) {
  const int n = 300;
  Problem pr = SmoothModel(n, 4, 4, 0.3);
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> u(0.2, 2.0);
  for (double& w : pr.w) w = u(gen);
  pr.l = {1, 0, 2, 5, 3};
  for (int j = 1; j <= n; ++j) pr.X(j, 3) = (pr.X(j, 3) + 1.0) / 2.0;      // circular in [0, 1]
  for (int j = 1; j <= n; ++j) pr.X(j, 4) = std::round(pr.X(j, 4) * 3.0);  // categories
  pr.TX(7, 2) = 5.0;                                                       // inactive column
  pr.Run();
  ASSERT_EQ(pr.ierr, 0);
  double sw = 0;
  for (double w : pr.w) sw += w;
  for (int i : {1, 3, 4}) {
    double s = 0;
    for (int j = 1; j <= n; ++j) s += pr.w[j - 1] * pr.TX(j, i);
    EXPECT_NEAR(s / sw, 0.0, 1e-12) << i;
  }
  for (int j = 1; j <= n; ++j) EXPECT_EQ(pr.TX(j, 2), 0.0);
  double s = 0, v = 0;
  for (int j = 0; j < n; ++j) s += pr.w[j] * pr.ty[j], v += pr.w[j] * pr.ty[j] * pr.ty[j];
  EXPECT_NEAR(s / sw, 0.0, 1e-12);
  EXPECT_NEAR(v / sw, 1.0, 1e-12);
  // rsq is 1 - e**2 of what is returned.
  double e = 0;
  for (int j = 1; j <= n; ++j) {
    const double d = pr.ty[j - 1] - (pr.TX(j, 1) + pr.TX(j, 3) + pr.TX(j, 4));
    e += pr.w[j - 1] * d * d;
  }
  EXPECT_NEAR(pr.rsq, 1.0 - e / sw, 1e-12);
  // Sort orders: column i orders x(., i), the last column orders y.
  for (int j = 2; j <= n; ++j) {
    EXPECT_LE(pr.X(pr.m[j - 2], 1), pr.X(pr.m[j - 1], 1));
    EXPECT_LE(pr.y[pr.m[4 * n + j - 2] - 1], pr.y[pr.m[4 * n + j - 1] - 1]);
  }
}

TEST(AceEstimate, NumTermIsClampedAndStoredBack) {
  Problem pr = SmoothModel(200, 2, 6, 0.5);
  pr.NumTerm = 25;
  pr.history.fill(-7.0);
  pr.Run();
  ASSERT_EQ(pr.ierr, 0);
  EXPECT_EQ(pr.NumTerm, 10);
  EXPECT_EQ(pr.lines.size(), 10u);  // unfilled entries of 100.0 force all passes

  pr.NumTerm = 1;
  pr.history.fill(-7.0);
  pr.Run();
  EXPECT_EQ(pr.lines.size(), 1u);
  EXPECT_EQ(pr.history[0], pr.rsq);
  EXPECT_EQ(pr.history[1], -7.0);  // beyond NumTerm: left alone

  pr.NumTerm = -3;  // would divide by zero in the history position
  pr.Run();
  EXPECT_EQ(pr.NumTerm, 1);
  EXPECT_EQ(pr.lines.size(), 1u);
}

TEST(AceEstimate, StopsWhenTwoPassesAgreeOrAfterTenPasses) {
  Problem pr = SmoothModel(300, 3, 7, 0.4);
  pr.Run();
  ASSERT_EQ(pr.ierr, 0);
  const size_t passes = pr.lines.size();
  ASSERT_GE(passes, 2u);
  ASSERT_LE(passes, 10u);
  std::vector<double> rsqs;
  for (const auto& line : pr.lines) rsqs.push_back(std::stod(line.substr(31)));
  if (passes < 10) {
    EXPECT_LE(std::fabs(rsqs[passes - 1] - rsqs[passes - 2]), pr.DelRsq + 1e-7);
  }
  for (size_t k = 1; k + 1 < passes; ++k) {
    EXPECT_GT(std::fabs(rsqs[k] - rsqs[k - 1]), pr.DelRsq - 1e-7) << k;
  }

  pr.DelRsq = -1.0;  // never converges: the cap ends it
  pr.Run();
  EXPECT_EQ(pr.lines.size(), 10u);
  EXPECT_EQ(pr.lines.back().substr(0, 12), " iteration10");
}

// With one active predictor a second inner pass would smooth the same
// partial residual again and be discarded: it must not be made at all.
TEST(AceEstimate, SingleActivePredictorMakesOneInnerPassPerOuterPass) {
  Problem pr = SmoothModel(200, 3, 12, 0.3);
  pr.l = {0, 1, 0, 3};
  pr.NumTerm = 10;  // forces ten outer passes
  AceSummary summary = ace_solve(pr.View(), pr.Options());
  ASSERT_EQ(summary.error, AceError::kNone);
  EXPECT_EQ(summary.outer_passes, 10);
  EXPECT_EQ(summary.inner_passes, 10);

  pr.l = {1, 1, 0, 3};  // two active predictors: the inner loop may repeat
  summary = ace_solve(pr.View(), pr.Options());
  EXPECT_EQ(summary.outer_passes, 10);
  EXPECT_GT(summary.inner_passes, 10);
}

TEST(AceEstimate, DegenerateColumnsGiveNoNaN) {
  Problem pr = SmoothModel(60, 3, 8, 0.2);
  for (int j = 1; j <= 60; ++j) pr.X(j, 2) = 4.0;  // constant predictor
  pr.l = {4, 4, 1, 3};
  pr.Run();
  ASSERT_EQ(pr.ierr, 0);
  EXPECT_TRUE(std::isfinite(pr.rsq));
  for (double t : pr.tx) ASSERT_TRUE(std::isfinite(t));
  for (double t : pr.ty) ASSERT_TRUE(std::isfinite(t));
  for (int j = 1; j <= 60; ++j) EXPECT_EQ(pr.TX(j, 2), 0.0);
}

// More predictors than observations: the initial scaling keeps p
// coefficients per work column, which must not spill into (or past) the
// caller's z, whose columns hold only ld rows. 6 x 20 and 9 x 30 are what
// users tried; 5 x 16 (p = 3n + 1) is the first size whose coefficients
// cannot fit in z at all. The sanitizer build catches any stray access;
// every build checks that the results are numbers with the invariants of a
// successful return.
TEST(AceEstimate, MorePredictorsThanObservationsStayInsideTheArrays) {
  constexpr double kMomentTolerance = 1e-9;  // sums of a few O(1) terms
  for (const auto& [n, p] : {std::pair{6, 20}, std::pair{5, 16}, std::pair{9, 30}}) {
    SCOPED_TRACE(std::to_string(n) + " x " + std::to_string(p));
    Problem pr(n, p);  // every array exactly the size the contract names
    for (int j = 1; j <= n; ++j) {
      double s = 0.0;
      for (int i = 1; i <= p; ++i) {
        pr.X(j, i) = (j * (i + 2)) % 7 + 0.25 * i;
        s += pr.X(j, i) * (i % 3 - 1);
      }
      pr.y[j - 1] = s + j;
    }
    pr.Run();
    ASSERT_EQ(pr.ierr, 0);
    ASSERT_TRUE(std::isfinite(pr.rsq));
    EXPECT_LE(pr.rsq, 1.0 + kMomentTolerance);
    for (double t : pr.tx) ASSERT_TRUE(std::isfinite(t));
    double mean = 0.0, square = 0.0;
    for (double t : pr.ty) {
      ASSERT_TRUE(std::isfinite(t));
      mean += t / n;
      square += t * t / n;
    }
    EXPECT_NEAR(mean, 0.0, kMomentTolerance);
    EXPECT_NEAR(square, 1.0, kMomentTolerance);
  }
}

TEST(AceEstimate, NegativeCodesStartFromTheCallersValues) {
  // The start only matters through the scaling and the first residuals; a
  // start equal to the raw values must give the same digits as a positive code.
  Problem a = SmoothModel(150, 2, 9, 0.3);
  Problem b = a;
  b.l = {-1, 1, -3};
  for (int j = 1; j <= 150; ++j) b.TX(j, 1) = b.X(j, 1);
  b.ty = b.y;
  a.Run();
  b.Run();
  ASSERT_EQ(a.ierr, 0);
  EXPECT_EQ(a.lines, b.lines);
  EXPECT_EQ(a.tx, b.tx);
  EXPECT_EQ(a.ty, b.ty);
}

// Callers show the error's number, so each value must be the number the
// engine prints for that fault: 1 weights, 2 and 3 a constant response, 4 a
// zero response code, 5 no predictor, 6 a code out of range, 7 too few rows.
TEST(AceSolve, EachErrorCarriesTheNumberItsLinePrints) {
  struct Case {
    const char* fault;
    int expected;
    void (*spoil)(Problem&);
  };
  const Case cases[] = {
      {"weights sum to 0", 1, [](Problem& pr) { pr.w.assign(8, 0.0); }},
      {"constant y", 2, [](Problem& pr) { pr.y.assign(8, 2.5); }},
      {"constant start", 3, [](Problem& pr) { pr.l[1] = -3, pr.ty.assign(8, 1.0); }},
      {"response code 0", 4, [](Problem& pr) { pr.l[1] = 0; }},
      {"no predictor", 5, [](Problem& pr) { pr.l[0] = 0; }},
      {"code 7", 6, [](Problem& pr) { pr.l[0] = 7; }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.fault);
    Problem pr(8, 1);
    for (int j = 1; j <= 8; ++j) pr.X(j, 1) = j, pr.y[j - 1] = j * j;
    k.spoil(pr);
    const AceSummary summary = ace_solve(pr.View(), pr.Options(), pr.Sink());
    EXPECT_EQ(static_cast<int>(summary.error), k.expected);
    ASSERT_EQ(pr.lines.size(), 1u);
    EXPECT_EQ(pr.lines[0].substr(0, 10), " ierr = " + std::to_string(k.expected) + ":");
    EXPECT_EQ(summary.outer_passes, 0);
    EXPECT_EQ(summary.rsq, 0.0);
  }
  Problem few(4, 1);
  for (int j = 1; j <= 4; ++j) few.X(j, 1) = j, few.y[j - 1] = j * j;
  EXPECT_EQ(static_cast<int>(ace_solve(few.View(), few.Options()).error), 7);
}

// The positional wrapper and the typed call are one computation; work arrays
// the engine allocates itself give the same digits as the caller's.
TEST(AceSolve, WrapperTypedCallAndOwnWorkArraysAgreeBitForBit) {
  Problem wrapped = SmoothModel(120, 3, 21, 0.3);
  wrapped.NumTerm = 3;
  wrapped.history.fill(-7.0);
  Problem typed = wrapped;
  wrapped.Run();
  ASSERT_EQ(wrapped.ierr, 0);

  AceProblem view = typed.View();
  view.m = {};
  view.z = {};
  const AceSummary summary = ace_solve(view, typed.Options(), typed.Sink());
  ASSERT_EQ(summary.error, AceError::kNone);
  EXPECT_EQ(typed.lines, wrapped.lines);
  EXPECT_EQ(0, std::memcmp(typed.tx.data(), wrapped.tx.data(), typed.tx.size() * sizeof(double)));
  EXPECT_EQ(0, std::memcmp(typed.ty.data(), wrapped.ty.data(), typed.ty.size() * sizeof(double)));
  EXPECT_EQ(0, std::memcmp(&summary.rsq, &wrapped.rsq, sizeof(double)));
  EXPECT_EQ(summary.rsq_history, wrapped.history);
  EXPECT_EQ(summary.num_term, wrapped.NumTerm);
  EXPECT_EQ(summary.outer_passes, static_cast<int>(typed.lines.size()));
  // The newest rsq sits at position (passes - 1) mod NumTerm; entries past
  // NumTerm come back as they went in.
  EXPECT_EQ(summary.rsq_history[(summary.outer_passes - 1) % 3], summary.rsq);
  for (int t = 3; t < 10; ++t) EXPECT_EQ(summary.rsq_history[t], -7.0) << t;

  // A call that makes no pass leaves the wrapper's rsq as the caller had it.
  wrapped.rsq = -1.0;
  wrapped.w.assign(120, 0.0);
  wrapped.Run();
  EXPECT_EQ(wrapped.ierr, 1);
  EXPECT_EQ(wrapped.rsq, -1.0);
}

void CompareFastAndPlain(bool weighted);

// The whole engine on its fast paths (two threads for sorting and smoothing,
// vector lanes, linear-time pooling) against the plain step-by-step paths:
// every printed line and every bit of the results must agree.
TEST(AceEstimate, FastAndPlainPathsAgreeBitForBit) {
  for (bool weighted : {false, true}) {
    SCOPED_TRACE(weighted ? "unequal weights" : "equal weights");
    CompareFastAndPlain(weighted);
  }
}

void CompareFastAndPlain(bool weighted) {
  const int n = 17000;
  Problem fast = SmoothModel(n, 4, 10, 0.4);
  if (weighted) {
    for (int j = 0; j < n; ++j) fast.w[j] = 0.5 + (j % 7) * 0.25;
  }
  for (int j = 1; j <= n; ++j) {
    fast.X(j, 2) = (fast.X(j, 2) + 1.0) / 2.0;              // circular, periodic
    fast.X(j, 4) = std::round(fast.X(j, 4) * 50.0) / 50.0;  // many ties
    fast.y[j - 1] = std::exp(0.5 * fast.y[j - 1]);
  }
  fast.l = {1, 2, 3, 1, 3};
  Problem plain = fast;
  fast.Run();
  ASSERT_EQ(fast.ierr, 0);
  const AceSummary summary =
      ace_solve_on(Paths::kPlain, plain.View(), plain.Options(), plain.Sink());
  plain.ierr = static_cast<int>(summary.error);
  plain.rsq = summary.rsq;
  ASSERT_EQ(plain.ierr, 0);
  EXPECT_EQ(fast.lines, plain.lines);
  EXPECT_EQ(fast.m, plain.m);
  EXPECT_EQ(0, std::memcmp(fast.tx.data(), plain.tx.data(), fast.tx.size() * sizeof(double)));
  EXPECT_EQ(0, std::memcmp(fast.ty.data(), plain.ty.data(), fast.ty.size() * sizeof(double)));
  EXPECT_EQ(0, std::memcmp(&fast.rsq, &plain.rsq, sizeof(double)));
}

}  // namespace
}  // namespace tavel::ace

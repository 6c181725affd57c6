// SPDX-License-Identifier: GPL-3.0-or-later
#include "ace/helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "ace/helper_thread.h"

namespace tavel::ace {
namespace {

std::vector<int> Iota(int n) {
  std::vector<int> a(n);
  std::iota(a.begin(), a.end(), 1);
  return a;
}

TEST(SortWithIndex, SmallCasesAndTrivialInputs) {
  std::vector<double> v{3, 1, 2};
  std::vector<int> a{1, 2, 3};
  sort_with_index(v.data(), a.data(), 1, 3);
  EXPECT_EQ(v, (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(a, (std::vector<int>{2, 3, 1}));

  std::vector<double> sorted{1, 2, 2, 5, 7};
  std::vector<int> as = Iota(5);
  sort_with_index(sorted.data(), as.data(), 1, 5);
  EXPECT_EQ(sorted, (std::vector<double>{1, 2, 2, 5, 7}));

  std::vector<double> constant(7, 4.5);
  std::vector<int> ac = Iota(7);
  sort_with_index(constant.data(), ac.data(), 1, 7);
  EXPECT_EQ(constant, std::vector<double>(7, 4.5));

  std::vector<double> one{9.0};
  std::vector<int> a1{42};
  sort_with_index(one.data(), a1.data(), 1, 1);
  EXPECT_EQ(one[0], 9.0);
  EXPECT_EQ(a1[0], 42);
}

// The order among equal values is part of the result: the smoothers see tied
// abscissae in this order. Both expected orders were traced by hand through
// the partition and the insertion finish (the second one shifts equal values
// past the inserted one many times).
TEST(SortWithIndex, TieOrderFollowsTheMethod) {
  std::vector<double> v{2, 1, 2, 1};
  std::vector<int> a = Iota(4);
  sort_with_index(v.data(), a.data(), 1, 4);
  EXPECT_EQ(a, (std::vector<int>{2, 4, 3, 1}));  // a stable sort would give 2, 4, 1, 3

  std::vector<double> w{3, 2, 3, 2, 3, 3, 3, 3, 1, 2, 1, 3, 1, 1, 1,
                        2, 2, 1, 2, 3, 1, 3, 1, 1, 3, 1, 2, 2, 1, 2};
  std::vector<int> b = Iota(30);
  sort_with_index(w.data(), b.data(), 1, 30);
  EXPECT_TRUE(std::is_sorted(w.begin(), w.end()));
  EXPECT_EQ(b, (std::vector<int>{15, 29, 26, 9, 11, 18, 13, 14, 21, 23, 24, 19, 27, 28, 4,
                                 17, 16, 30, 2, 10, 3,  5,  25, 6,  7,  22, 8,  20, 12, 1}));
}

TEST(SortWithIndex, LongInputsSortAndCarryTheIndex) {
  // 2000 descending values, then a large input with many ties and patterns
  // that stress the stack (organ pipe).
  const int n = 2000;
  std::vector<double> v(n);
  for (int j = 0; j < n; ++j) v[j] = n - j;
  std::vector<int> a = Iota(n);
  sort_with_index(v.data(), a.data(), 1, n);
  for (int j = 0; j < n; ++j) {
    EXPECT_EQ(v[j], j + 1);
    EXPECT_EQ(a[j], n - j);
  }

  const int big = 300001;
  std::vector<double> pipe(big);
  for (int j = 0; j < big; ++j) pipe[j] = j < big / 2 ? j % 97 : (big - j) % 89;
  const std::vector<double> original = pipe;
  std::vector<int> ap = Iota(big);
  sort_with_index(pipe.data(), ap.data(), 1, big);
  EXPECT_TRUE(std::is_sorted(pipe.begin(), pipe.end()));
  std::vector<int> seen(big + 1, 0);
  for (int j = 0; j < big; ++j) {
    ASSERT_EQ(pipe[j], original[ap[j] - 1]);
    ++seen[ap[j]];
  }
  EXPECT_EQ(std::count(seen.begin() + 1, seen.end(), 1), big);
}

TEST(SortWithIndex, SubrangeLeavesTheRestAlone) {
  std::vector<double> v{9, 5, 4, 3, 2, 1, 8, 7, 6, 5, 4, 3, 2, 1, 0, -1};
  std::vector<int> a = Iota(16);
  sort_with_index(v.data(), a.data(), 3, 15);
  EXPECT_EQ(v[0], 9);
  EXPECT_EQ(v[1], 5);
  EXPECT_EQ(v[15], -1);
  EXPECT_TRUE(std::is_sorted(v.begin() + 2, v.begin() + 15));
}

constexpr double kCgTolerance = 1e-10;  // CG on a tiny well-conditioned system

TEST(ScalePredictors, OnePredictorEqualToTheTarget) {
  const int n = 6;
  std::vector<double> w(n, 1.0);
  std::vector<double> ty{-1.5, -0.5, 0.25, 0.5, 0.75, 0.5};
  std::vector<double> tx = ty;
  std::vector<double> r(n);
  std::vector<double> sc(n * 5);
  scale_predictors(n, 1, n, w.data(), n, ty.data(), tx.data(), 1e-4, 1, r.data(), sc.data());
  EXPECT_DOUBLE_EQ(sc[0], 1.0);  // coefficient 1 (to rounding) after one step
  for (int j = 0; j < n; ++j) EXPECT_DOUBLE_EQ(tx[j], ty[j]);
}

TEST(ScalePredictors, ZeroColumnsStayZero) {
  const int n = 5;
  const int p = 3;
  std::vector<double> w(n, 1.0);
  std::vector<double> ty{1, -1, 2, -2, 0};
  std::vector<double> tx(n * p, 0.0);
  std::vector<double> r(n);
  std::vector<double> sc(n * 5, 7.0);
  scale_predictors(n, p, n, w.data(), n, ty.data(), tx.data(), 1e-4, p, r.data(), sc.data());
  for (double t : tx) EXPECT_EQ(t, 0.0);
  for (int i = 0; i < p; ++i) EXPECT_EQ(sc[i], 0.0);
}

TEST(ScalePredictors, FindsTheWeightedLeastSquaresCoefficients) {
  // ty = 2*t1 - 0.5*t2 exactly, with unequal weights: coefficients 2, -0.5.
  const int n = 8;
  const int ld = 10;
  std::vector<double> w{1, 2, 1, 3, 1, 2, 1, 0.5};
  std::vector<double> tx(ld * 2, 0.0);
  std::vector<double> ty(n);
  for (int j = 0; j < n; ++j) {
    tx[j] = j - 3.5;
    tx[ld + j] = (j % 3) - 1.0 + 0.1 * j;
    ty[j] = 2.0 * tx[j] - 0.5 * tx[ld + j];
  }
  const std::vector<double> before = tx;
  std::vector<double> r(n);
  std::vector<double> sc(ld * 5);
  double sw = 0;
  for (double x : w) sw += x;
  scale_predictors(n, 2, ld, w.data(), sw, ty.data(), tx.data(), 1e-12, 2, r.data(), sc.data());
  EXPECT_NEAR(sc[0], 2.0, kCgTolerance);
  EXPECT_NEAR(sc[1], -0.5, kCgTolerance);
  for (int j = 0; j < n; ++j) {
    EXPECT_EQ(tx[j], sc[0] * before[j]);
    EXPECT_EQ(tx[ld + j], sc[1] * before[ld + j]);
  }
}

TEST(ScalePredictors, MorePredictorsThanObservations) {
  // Two observations, three predictors t1 = (1, 0), t2 = (0, 1), t3 = (1, 1)
  // and ty = (1, 2). Conjugate gradients from c = 0 stay in the row space of
  // the predictors and reach the minimum-norm solution
  // c = T' (T T')^-1 ty = T' (0, 1) = (0, 1, 1), which fits exactly.
  const int n = 2;
  const int p = 3;
  std::vector<double> w(n, 1.0);
  std::vector<double> ty{1, 2};
  std::vector<double> tx{1, 0, 0, 1, 1, 1};
  std::vector<double> r(n);
  std::vector<double> sc(p * 5);  // five columns of p coefficients, no more
  scale_predictors(n, p, n, w.data(), n, ty.data(), tx.data(), 1e-12, p, r.data(), sc.data());
  EXPECT_NEAR(sc[0], 0.0, kCgTolerance);
  EXPECT_NEAR(sc[1], 1.0, kCgTolerance);
  EXPECT_NEAR(sc[2], 1.0, kCgTolerance);
  EXPECT_NEAR(tx[0] + tx[2] + tx[4], 1.0, kCgTolerance);
  EXPECT_NEAR(tx[1] + tx[3] + tx[5], 2.0, kCgTolerance);
}

TEST(ScalePredictors, TwoThreadsGiveTheBitsOfOne) {
  // Odd p (a pass of fewer than four columns), unequal weights, ld > n.
  for (int p : {1, 5, 7}) {
    const int n = 20011, ld = n + 5;
    std::mt19937 gen(17 + p);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> tx(static_cast<std::size_t>(ld) * p), ty(n), w(n);
    double sw = 0.0;
    for (int j = 0; j < n; ++j) {
      w[j] = 0.5 + 0.5 * (u(gen) + 1.0);
      sw += w[j];
      ty[j] = u(gen);
      for (int i = 0; i < p; ++i) tx[static_cast<std::size_t>(i) * ld + j] = u(gen) + 0.3 * ty[j];
    }
    std::vector<double> one = tx, two = tx, r(n), u_work(n), sc1(5 * p), sc2(5 * p);
    scale_predictors(n, p, ld, w.data(), sw, ty.data(), one.data(), 1e-4, p, r.data(), sc1.data());
    HelperThread helper;
    ASSERT_TRUE(helper.started());
    scale_predictors(n, p, ld, w.data(), sw, ty.data(), two.data(), 1e-4, p, r.data(), sc2.data(),
                     &helper, u_work.data());
    EXPECT_EQ(0, std::memcmp(one.data(), two.data(), one.size() * sizeof(double))) << "p=" << p;
    EXPECT_EQ(0, std::memcmp(sc1.data(), sc2.data(), p * sizeof(double))) << "p=" << p;
  }
}

}  // namespace
}  // namespace tavel::ace

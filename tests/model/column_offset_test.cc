// SPDX-License-Identifier: GPL-3.0-or-later
// The offset a column is analysed from: only a column of values that differ
// far behind a large common part gets one, and taking it off and putting it
// back gives every value back bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "model/column_scale.h"

namespace tavel::model {
namespace {

TEST(ColumnOffset, OnlyNarrowColumnsFarFromZeroAreShiftedByTheirLowerMedian) {
  // 1e14 + 0, 0.25, 0.5, 0.75, 1 in some order: the median is 1e14 + 0.5.
  std::vector<double> v = {1e14 + 1.0, 1e14, 1e14 + 0.5, 1e14 + 0.75, 1e14 + 0.25};
  EXPECT_EQ(columnOffset(v.data(), 5), 1e14 + 0.5);
  // With an even count the lower of the two middle values, a value of the
  // column.
  EXPECT_EQ(columnOffset(v.data(), 4), 1e14 + 0.5);
  // The same below zero.
  std::vector<double> neg;
  for (double x : v) neg.push_back(-x);
  EXPECT_EQ(columnOffset(neg.data(), 5), -1e14 - 0.5);

  // Ordinary columns, and narrow ones too close to zero, are left alone.
  const std::vector<std::vector<double>> untouched = {
      {1, 2, 3, 4, 5},
      {1e14, 1e14 + 1e9, 1e14 + 2e8},  // spread 1e9 is 1e-5 of the median
      {-1e-3, 1e-3, 0.0},              // both signs
      {0.0, 0.0, 0.0},
      {7.0, 7.0, 7.0},  // a constant has no digits to lose
      {1e14, std::numeric_limits<double>::quiet_NaN(), 1e14},
      {1e14, std::numeric_limits<double>::infinity(), 1e14}};
  for (const auto& u : untouched) {
    EXPECT_EQ(columnOffset(u.data(), static_cast<int>(u.size())), 0.0) << u[0] << " " << u[1];
  }
  // A circular column inside [0, 1] keeps its period.
  const std::vector<double> turns = {0.5, 0.5 + 1e-9, 0.5 - 1e-9};
  EXPECT_EQ(columnOffset(turns.data(), 3, true), 0.0);
  EXPECT_EQ(columnOffset(turns.data(), 3, false), 0.5);
  const std::vector<double> degrees = {1e8, 1e8 + 1.0, 1e8 + 2.0};
  EXPECT_EQ(columnOffset(degrees.data(), 3, true), 1e8 + 1.0);
}

TEST(ColumnOffset, TakingItOffAndPuttingItBackIsExact) {
  for (double base : {1e13, 1e14, 1e15, 9007199254740992.0, -3e17, 1e300}) {
    std::vector<double> v;
    for (int i = 0; i < 50; ++i) v.push_back(base + std::ldexp(base, -30) * (i % 17) / 17.0);
    const std::vector<double> original = v;
    const double offset = columnOffset(v.data(), 50);
    ASSERT_NE(offset, 0.0) << base;
    shiftColumn(v.data(), 50, offset, 1);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(v[i], original[i] - offset);
    // The differences are exact: the largest is the spread itself.
    EXPECT_LT(std::fabs(v[16] - v[0]), std::ldexp(std::fabs(base), -30));
    shiftColumn(v.data(), 50, offset, -1);
    EXPECT_EQ(v, original) << base;
  }
}

}  // namespace
}  // namespace tavel::model

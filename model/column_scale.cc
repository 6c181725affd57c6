// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/column_scale.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

namespace tavel::model {

ColumnCheck checkColumn(const double* v, int n, bool circular) {
  ColumnCheck check;
  double largest = 0.0;
  double smallest = 0.0;  // smallest non-zero magnitude
  bool negative = false;
  for (int i = 0; i < n; ++i) {
    if (!std::isfinite(v[i])) {
      check.state = ColumnState::kNotFinite;
      check.row = i;
      return check;
    }
    negative = negative || v[i] < 0.0;
    const double a = std::fabs(v[i]);
    if (a > largest) largest = a;
    if (a > 0.0 && (smallest == 0.0 || a < smallest)) smallest = a;
  }
  if (largest == 0.0 || (largest >= kSmallestPlain && largest <= kLargestPlain)) return check;
  if (circular && !negative && largest < kSmallestPlain) {
    check.state = ColumnState::kTinyCircle;
    return check;
  }
  // The largest magnitude moves to [2, 4).
  const int exponent = 1 - std::ilogb(largest);
  // Every scaled value must stay a normal number, or the scaling would
  // round or flush the smallest ones and the way back would not be exact.
  if (std::ilogb(smallest) + exponent < DBL_MIN_EXP - 1) {
    check.state = ColumnState::kTooWide;
    return check;
  }
  check.exponent = exponent;
  return check;
}

void scaleColumn(double* v, int n, int exponent) {
  if (exponent == 0) return;
  for (int i = 0; i < n; ++i) v[i] = std::ldexp(v[i], exponent);
}

double columnOffset(const double* v, int n, bool circular) {
  if (n < 1) return 0.0;
  double lo = v[0], hi = v[0];
  for (int i = 0; i < n; ++i) {
    if (!std::isfinite(v[i])) return 0.0;
    lo = std::min(lo, v[i]);
    hi = std::max(hi, v[i]);
  }
  if (circular && lo >= 0.0 && hi <= 1.0) return 0.0;
  // Both ends on one side of zero, the spread tiny against them: only then
  // is the median worth finding.
  const double smallEnd = std::min(std::fabs(lo), std::fabs(hi));
  // A constant column has nothing to lose: it stays as it is.
  if (lo == hi || (lo <= 0.0 && hi >= 0.0) || !(hi - lo < kNarrowSpread * smallEnd)) return 0.0;
  std::vector<double> copy(v, v + n);
  const auto middle = copy.begin() + (n - 1) / 2;
  std::nth_element(copy.begin(), middle, copy.end());
  const double m = *middle;
  const double a = std::fabs(m);
  if (!(hi - lo < kNarrowSpread * a)) return 0.0;
  for (int i = 0; i < n; ++i) {
    const double b = std::fabs(v[i]);
    if (b < 0.5 * a || b > 2.0 * a) return 0.0;
  }
  return m;
}

void shiftColumn(double* v, int n, double offset, int sign) {
  if (offset == 0.0) return;
  if (sign > 0) {
    for (int i = 0; i < n; ++i) v[i] -= offset;
  } else {
    for (int i = 0; i < n; ++i) v[i] += offset;
  }
}

}  // namespace tavel::model

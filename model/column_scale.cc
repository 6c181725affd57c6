#include "model/column_scale.h"

#include <cfloat>
#include <cmath>

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

}  // namespace tavel::model

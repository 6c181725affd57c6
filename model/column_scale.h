// Magnitudes the engine can work with. Its sums of squares overflow for
// values near 1e160 and underflow for values near 1e-160, which turns a good
// column into zeros or NaN; so a column whose largest magnitude lies outside
// kSmallestPlain..kLargestPlain is multiplied by a power of two before the
// engine and divided by it afterwards. Scaling by a power of two is exact in
// binary floating point, the transformations do not depend on a variable's
// scale, and a column inside the range is left alone: ordinary data keep
// every digit.
#pragma once

namespace tavel::model {

inline constexpr double kLargestPlain = 1e100;
inline constexpr double kSmallestPlain = 1e-100;

enum class ColumnState {
  kUsable,      // finite; `exponent` brings it into range
  kNotFinite,   // `row` (0-based) holds an infinity or a NaN
  kTooWide,     // no power of two brings the largest value into range while
                // keeping the smallest non-zero one a normal number
  kTinyCircle,  // circular, every value in [0, 1] but too small: the period
                // of 1 cannot be kept through a scaling
};

struct ColumnCheck {
  ColumnState state = ColumnState::kUsable;
  // The column is used as v * 2^exponent; 0 for a column already in range.
  int exponent = 0;
  int row = -1;
};

// Inspects n values. A scaled column's largest magnitude lands in [2, 4), so
// that a circular variable (periodic only when all its values lie in [0, 1])
// stays as periodic as it was: not at all, as its values exceed 1e100 or
// some are negative; circular says the column is one.
ColumnCheck checkColumn(const double* v, int n, bool circular = false);

// v[i] = v[i] * 2^exponent for i < n (nothing when exponent is 0).
void scaleColumn(double* v, int n, int exponent);

}  // namespace tavel::model

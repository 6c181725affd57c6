// SPDX-License-Identifier: GPL-3.0-or-later
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

// Large offsets. The engine's smoothers work on differences and sums of
// squares about window means; a column such as 1e14 + x with x in [0, 1]
// keeps only a few significant digits of x in those sums and fits as noise.
// A column whose values all lie within a factor of two of their median m,
// and whose spread (largest minus smallest) is below kNarrowSpread * |m|, is
// analysed as v - m: exact in binary floating point for every such v
// (Sterbenz), so v - m + m gives v back. m is a value of the column (the
// lower middle one), so the shift is exact too. Any other column, and one
// holding a value that is not finite, or a constant one, gets 0: ordinary
// data are untouched.
// A circular column within [0, 1] keeps its period and is never shifted.
inline constexpr double kNarrowSpread = 1e-6;
double columnOffset(const double* v, int n, bool circular = false);

// v[i] = v[i] - offset (sign 1) or v[i] + offset (sign -1) for i < n;
// nothing when offset is 0.
void shiftColumn(double* v, int n, double offset, int sign);

}  // namespace tavel::model

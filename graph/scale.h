// SPDX-License-Identifier: GPL-3.0-or-later
// How an axis maps values onto its length: linear over low..high, or
// logarithmic over the whole decades kLow..kHigh nearest to low and high.
// Shared by the axes and the series so that data and ticks agree.
#pragma once

#include "graph/records.h"

namespace tavel::graph {

inline constexpr double kSinglePrecisionE = 2.7182817459106445;

// Base of a logarithmic scale type (10, e or 2); 0 for a linear one.
double logBase(int scaleType);

// The angle (radians, counter-clockwise from the right) at which a Theta axis
// starts, by its position: 1 bottom, 2 top, 3 left, anything else right.
double thetaStartAngle(int position);

struct AxisScale {
  bool logarithmic = false;
  double base = 10.0;
  double low = 0.0;   // linear: the axis' low; logarithmic: kLow
  double high = 1.0;  // linear: the axis' high; logarithmic: kHigh

  // The value as measured along the axis (its logarithm on a log axis).
  double measure(double value) const;
  // Fraction 0..1 of the way from low to high.
  double fraction(double value) const { return (measure(value) - low) / (high - low); }
};

// False when the axis cannot map values: an unknown scale type, high not
// above low, or a logarithmic axis that does not span a whole decade above 0.
bool makeAxisScale(const AxisRecord& axis, AxisScale& scale);

}  // namespace tavel::graph

// SPDX-License-Identifier: GPL-3.0-or-later
#include "graph/scale.h"

#include <cmath>
#include <numbers>

namespace tavel::graph {

double logBase(int scaleType) {
  switch (scaleType) {
    case kLog10:
      return 10.0;
    case kLogE:
      return kSinglePrecisionE;
    case kLog2:
      return 2.0;
    default:
      return 0.0;
  }
}

double AxisScale::measure(double value) const {
  return logarithmic ? std::log(value) / std::log(base) : value;
}

bool makeAxisScale(const AxisRecord& axis, AxisScale& scale) {
  if (axis.scaleType < kLinear || axis.scaleType > kLog2) return false;
  if (!(axis.low < axis.high)) return false;
  scale = AxisScale{};
  if (axis.scaleType == kLinear) {
    scale.low = axis.low;
    scale.high = axis.high;
    return true;
  }
  if (axis.low <= 0.0) return false;
  scale.logarithmic = true;
  scale.base = logBase(axis.scaleType);
  scale.low = std::round(std::log(axis.low) / std::log(scale.base));
  scale.high = std::round(std::log(axis.high) / std::log(scale.base));
  return scale.low < scale.high;
}

double thetaStartAngle(int position) {
  constexpr double pi = std::numbers::pi;
  switch (position) {
    case 1:
      return 3.0 * pi / 2.0;
    case 2:
      return pi / 2.0;
    case 3:
      return pi;
    default:
      return 0.0;
  }
}

}  // namespace tavel::graph

// SPDX-License-Identifier: GPL-3.0-or-later
#include "graph/axes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>
#include <string>

#include "graph/defaults.h"
#include "graph/scale.h"
#include "graph/window.h"

namespace tavel::graph {

namespace {

constexpr double kMajorTick = 240.0;
constexpr double kMinorTick = 80.0;
constexpr double kXLabelGap = 144.0;
constexpr double kYLabelGap = 64.0;
constexpr double kXTitleGap = 288.0;
constexpr double kYTitleGap = 704.0;
constexpr double kYTitleGapVertical = 352.0;
constexpr double kFrameCorner = 128.0;
constexpr double kMainTitleY = 192.0;
constexpr double kUnitRounding = 2.220446049250313e-16;
constexpr int kLabelWidth = 10;

// A spacing counts as a short decimal when it is one to within this relative
// error: axis ranges brought back from a comfortable size carry the error of
// a single-precision scale factor (0.01f is 0.0099999998).
constexpr double kDecimalTolerance = 1e-6;

// The fewest decimals (0..most) that write |value| exactly, or most + 1 when
// even `most` decimals cannot.
int exactDecimals(double value, int most) {
  double scaled = std::fabs(value);
  if (!std::isfinite(scaled)) return most + 1;
  for (int d = 0; d <= most; ++d) {
    const double nearest = std::round(scaled);
    if (std::fabs(scaled - nearest) <= kDecimalTolerance * std::max(1.0, scaled)) return d;
    scaled *= 10.0;
  }
  return most + 1;
}

// Decimals of the tick labels of an axis: never fewer than the record asks
// for, and more when the ticks need them to be written exactly (a spacing of
// 0.25 needs two), up to what the defaults would choose for an axis of this
// size. Labels that a record's decimals already state exactly stay as they are.
int labelDecimalsFor(const AxisRecord& axis, const AxisScale& scale) {
  const int asked = std::clamp(axis.labelDecimals, 0, 99);
  int most = 0;
  int needed = 0;
  if (scale.logarithmic) {
    // Majors are the whole powers of the base; the lowest needs the most decimals.
    most = defaultLogDecimals(std::max(scale.low, -99.0));
    needed = exactDecimals(std::pow(scale.base, scale.low), most);
  } else {
    const double span = axis.high - axis.low;
    const double decades = std::floor(std::log10(span));
    // The defaults' decimals suit an axis at a comfortable size; an axis whose
    // span is below 1 is that size scaled down, so it earns one more decimal
    // per decade.
    most =
        kDefaultLinearDecimals + (decades < 0.0 ? static_cast<int>(std::min(-decades, 40.0)) : 0);
    needed = std::max(exactDecimals(axis.tickInterval, most), exactDecimals(axis.low, most));
  }
  return std::max(asked, std::min(needed, most));
}

// The label of a major tick: the decimals the axis needs, fewer (down to
// the record's own) only when a long value would not fit the label field.
std::string majorLabel(double value, int decimals, int asked) {
  for (int d = decimals; d > asked; --d) {
    std::string text = tickLabel(value, d);
    if (text[0] != '*') return text;
  }
  return tickLabel(value, asked);
}

bool isCategoryGraph(int type) { return type >= kCategoryBars && type <= kCategoryLinesErrors; }

// Where a Cartesian axis lies: its line at coordinate b (y for X axes, x for
// the others) and the outward direction d of its ticks and labels.
struct AxisSide {
  bool isX = true;
  double b = kPlotBottom;
  double d = -1.0;
};

AxisSide sideOf(const AxisRecord& axis) {
  AxisSide side;
  side.isX = (axis.axisFunction == kAxisX);
  if (side.isX) {
    side.b = (axis.position == 2) ? kPlotTop : kPlotBottom;
    side.d = (axis.position == 2) ? 1.0 : -1.0;
  } else {
    side.b = (axis.position == 3) ? kPlotLeft : kPlotRight;
    side.d = (axis.position == 3) ? 1.0 : -1.0;
  }
  return side;
}

// Tick from..to along the outward direction for a tick type; false for
// type 0 (and unknown types), which draw no tick.
bool tickExtent(int tickType, double b, double d, double length, double& from, double& to) {
  switch (tickType) {
    case 1:
      from = b + d * length;
      to = b;
      return true;
    case 2:
      from = b - d * length;
      to = b;
      return true;
    case 3:
      from = b + d * length;
      to = b - d * length;
      return true;
    default:
      return false;
  }
}

// Where labels go: beyond the tick for ticks that reach outwards, beyond
// the axis line otherwise (inside ticks and no ticks alike).
double labelAnchor(int tickType, double b, double d, double length, double gap) {
  if (tickType == 2 || tickType == 3) return b - d * (length + gap);
  return b - d * gap;
}

// A tick across the line at `along` (x for X axes, y for the others).
void drawCartesianTick(platform::Canvas& canvas, const AxisSide& side, int tickType, double along,
                       double length) {
  double from = 0.0;
  double to = 0.0;
  if (!tickExtent(tickType, side.b, side.d, length, from, to)) return;
  if (side.isX) {
    drawStyledLine(canvas, 1, along, from, along, to);
  } else {
    drawStyledLine(canvas, 1, from, along, to, along);
  }
}

void drawGridLine(platform::Canvas& canvas, const AxisRecord& axis, bool isX, double along) {
  canvas.setColour(axis.gridColour);
  if (isX) {
    drawStyledLine(canvas, axis.gridLineType, along, kPlotTop, along, kPlotBottom);
  } else {
    drawStyledLine(canvas, axis.gridLineType, kPlotLeft, along, kPlotRight, along);
  }
}

bool gridAtMajor(int gridStyle) { return gridStyle != 0 && gridStyle != 3; }
bool gridAtMinor(int gridStyle) { return gridStyle == 2 || gridStyle == 5; }
bool zeroLine(int gridStyle) { return gridStyle >= 3 && gridStyle <= 5; }

void drawAxisTitle(platform::Canvas& canvas, const PixelScale& scale, const AxisRecord& axis,
                   const AxisSide& side, double anchor) {
  selectGraphFont(canvas, axis.titleFont);
  canvas.setColour(axis.titleColour);
  if (side.isX) {
    const double y = anchor - side.d * kXTitleGap;
    drawTextCentred(canvas, scale.sx, scale.sy, kPlotLeft, kPlotRight, y, y, axis.title);
  } else {
    const double gap = isTrue(axis.verticalLabels) ? kYTitleGapVertical : kYTitleGap;
    const double x = anchor - side.d * gap;
    drawTextVerticalCentred(canvas, scale.sx, scale.sy, x, x, kPlotTop, kPlotBottom, axis.title);
  }
}

// The X axis of a category graph: a tick at every category centre and no
// tick labels (the series write the category names).
int drawCategoryAxis(platform::Canvas& canvas, const PixelScale& scale, const AxisRecord& axis,
                     const AxisSide& side) {
  canvas.setColour(axis.majorTickColour);
  if (selectGraphFont(canvas, axis.labelFont) < 0) return kFontError;
  const double span = axis.high - axis.low;
  const long n = std::lround(span / axis.tickInterval) - 1;
  for (long i = 0; i <= n; ++i) {
    const double x =
        kPlotLeft + (static_cast<double>(i) + 0.5) * axis.tickInterval / span * kPlotWidth;
    if (gridAtMajor(axis.gridStyle)) {
      drawGridLine(canvas, axis, true, x);
      canvas.setColour(axis.majorTickColour);
    }
    drawCartesianTick(canvas, side, axis.tickType, x, kMajorTick);
  }
  const double anchor = side.b - side.d * (kMajorTick + kXLabelGap);
  drawAxisTitle(canvas, scale, axis, side, anchor);
  return kOk;
}

int drawCartesianAxis(platform::Canvas& canvas, const PixelScale& scale, const GraphRecord& graph,
                      const AxisRecord& axis) {
  const AxisSide side = sideOf(axis);
  AxisScale axisScale;
  if (!makeAxisScale(axis, axisScale)) return kAxisError;

  // Start values; on a logarithmic axis the ends move to whole decades.
  double low = axis.low;
  double high = axis.high;
  int m = axis.minorTicks;
  if (side.isX && isCategoryGraph(graph.graphType) && !axisScale.logarithmic) m = 1;
  if (m < 1) m = 1;  // a major interval has at least one step
  double minorStep = 0.0;
  const double base = axisScale.base;
  if (axisScale.logarithmic) {
    low = std::pow(base, axisScale.low);
    high = std::pow(base, axisScale.high);
    minorStep = (low * base - low) / m;
  } else {
    minorStep = axis.tickInterval / m;
  }

  // The zero line, only when zero lies on the axis.
  if (zeroLine(axis.gridStyle) && low <= 0.0 && high >= 0.0) {
    canvas.setColour(axis.majorTickColour);
    if (side.isX) {
      const double x0 = kPlotLeft - low / (high - low) * kPlotWidth;
      drawStyledLine(canvas, axis.gridLineType, x0, kPlotTop, x0, kPlotBottom);
    } else {
      const double y0 = kPlotBottom + low / (high - low) * kPlotHeight;
      drawStyledLine(canvas, axis.gridLineType, kPlotLeft, y0, kPlotRight, y0);
    }
  }

  if (side.isX && isCategoryGraph(graph.graphType)) {
    return drawCategoryAxis(canvas, scale, axis, side);
  }

  canvas.setColour(axis.minorTickColour);
  if (selectGraphFont(canvas, axis.labelFont) < 0) return kFontError;

  const long n = axisScale.logarithmic
                     ? static_cast<long>(m) * std::lround(axisScale.high - axisScale.low)
                     : std::lround((high - low) / minorStep);
  const double gap = side.isX ? kXLabelGap : kYLabelGap;
  const int decimals = labelDecimalsFor(axis, axisScale);
  double v = low;
  int minorIndex = 0;
  long majorsDone = 0;
  for (long i = 0; i <= n; ++i) {
    const bool major = (minorIndex == 0);
    const double p = axisScale.logarithmic
                         ? (axisScale.measure(v) - axisScale.low) / (axisScale.high - axisScale.low)
                         : (v - low) / (high - low);
    const double along = side.isX ? kPlotLeft + p * kPlotWidth : kPlotBottom - p * kPlotHeight;

    const bool grid =
        major ? (i != 0 && i != n && gridAtMajor(axis.gridStyle)) : gridAtMinor(axis.gridStyle);
    if (grid) {
      drawGridLine(canvas, axis, side.isX, along);
      canvas.setColour(axis.minorTickColour);
    }

    const double length = major ? kMajorTick : kMinorTick;
    if (major) canvas.setColour(axis.majorTickColour);
    drawCartesianTick(canvas, side, axis.tickType, along, length);

    if (major) {
      const double anchor = labelAnchor(axis.tickType, side.b, side.d, length, gap);
      // Each label from the tick's own value, not the running sum, so that
      // equal magnitudes round alike on both sides of zero.
      const double value =
          axisScale.logarithmic ? v : low + static_cast<double>(majorsDone) * axis.tickInterval;
      const std::string label = majorLabel(value, decimals, axis.labelDecimals);
      if (side.isX) {
        drawTextCentred(canvas, scale.sx, scale.sy, along, along, anchor, anchor, label);
      } else if (isTrue(axis.verticalLabels)) {
        drawTextVerticalAligned(canvas, scale.sx, scale.sy, anchor, axis.position == 3, along,
                                along, label);
      } else {
        drawTextAligned(canvas, scale.sx, scale.sy, anchor, axis.position == 3, along, along,
                        label);
      }
      canvas.setColour(axis.minorTickColour);
    }

    ++minorIndex;
    if (minorIndex == m) {
      minorIndex = 0;
      ++majorsDone;
      if (axisScale.logarithmic) {
        v = std::pow(base, axisScale.low + static_cast<double>(majorsDone));
        minorStep = (v * base - v) / m;
      } else {
        v += minorStep;
      }
    } else {
      v += minorStep;
    }
  }

  // The title keeps its distance from the major-tick labels.
  const double anchor = labelAnchor(axis.tickType, side.b, side.d, kMajorTick, gap);
  drawAxisTitle(canvas, scale, axis, side, anchor);
  return kOk;
}

int drawCartesianAxes(platform::Canvas& canvas, const PixelScale& scale, const GraphRecord& graph,
                      std::span<const AxisRecord> axes) {
  const size_t count = axes.size();
  if (count < 2 || count > 4) return kAxisError;
  bool used[5] = {false, false, false, false, false};
  for (const AxisRecord& axis : axes) {
    if (axis.position < 1 || axis.position > 4) return kAxisError;
    if (axis.axisFunction == kAxisX && axis.position != 1 && axis.position != 2) return kAxisError;
    if (axis.axisFunction == kAxisY && axis.position != 3 && axis.position != 4) return kAxisError;
    if (!(axis.tickInterval > 0.0) || !(axis.high > axis.low)) return kAxisError;
    if (axis.scaleType < kLinear || axis.scaleType > kLog2) return kAxisError;
    if (used[axis.position]) return kAxisError;
    used[axis.position] = true;
  }

  // Axis lines: each axis draws its own edge and the opposite one when no
  // axis sits there.
  bool drawn[5] = {false, false, false, false, false};
  auto edge = [&](int position) {
    drawn[position] = true;
    switch (position) {
      case 1:
        drawStyledLine(canvas, 1, kPlotLeft, kPlotBottom, kPlotRight, kPlotBottom);
        break;
      case 2:
        drawStyledLine(canvas, 1, kPlotLeft, kPlotTop, kPlotRight, kPlotTop);
        break;
      case 3:
        drawStyledLine(canvas, 1, kPlotLeft, kPlotTop, kPlotLeft, kPlotBottom);
        break;
      default:
        drawStyledLine(canvas, 1, kPlotRight, kPlotTop, kPlotRight, kPlotBottom);
        break;
    }
  };
  constexpr int kOpposite[5] = {0, 2, 1, 4, 3};
  for (const AxisRecord& axis : axes) {
    canvas.setColour(axis.axisColour);
    edge(axis.position);
    if (!used[kOpposite[axis.position]]) edge(kOpposite[axis.position]);
  }
  // Axes all on one pair of sides leave the other pair open: close it.
  canvas.setColour(graph.graphColour);
  for (int position = 1; position <= 4; ++position) {
    if (!drawn[position]) edge(position);
  }

  for (const AxisRecord& axis : axes) {
    const int result = drawCartesianAxis(canvas, scale, graph, axis);
    if (result != kOk) return result;
  }
  return kOk;
}

// Ticks of the R axis along one diameter: horizontal (labelled, with grid
// circles) or vertical (ticks only).
void drawRadialTicks(platform::Canvas& canvas, const PixelScale& scale, const AxisRecord& axis,
                     bool horizontal, double& anchorOut) {
  int m = axis.minorTicks;
  if (m < 1) m = 1;
  const double minorStep = axis.tickInterval / m;
  const double d = (axis.position == 2) ? 1.0 : -1.0;
  const long n = std::lround((axis.high - axis.low) / minorStep);
  const int decimals = labelDecimalsFor(axis, AxisScale{});
  double v = axis.low;
  int minorIndex = 0;
  long majorsDone = 0;
  for (long i = 0; i <= n; ++i) {
    const bool major = (minorIndex == 0);
    const double r = (v - axis.low) / (axis.high - axis.low) * kPolarRadius;
    if (horizontal) {
      const bool grid =
          major ? (i != 0 && i != n && gridAtMajor(axis.gridStyle)) : gridAtMinor(axis.gridStyle);
      if (grid) {
        canvas.setColour(axis.gridColour);
        drawStyledCircle(canvas, kPolarCentreX, kPolarCentreY, r, axis.gridLineType,
                         platform::kBorder);
        canvas.setColour(axis.minorTickColour);
      }
    }
    const double length = major ? kMajorTick : kMinorTick;
    if (major) canvas.setColour(axis.majorTickColour);
    double from = 0.0;
    double to = 0.0;
    if (horizontal) {
      if (tickExtent(axis.tickType, kPolarCentreY, d, length, from, to)) {
        drawStyledLine(canvas, 1, kPolarCentreX + r, from, kPolarCentreX + r, to);
        drawStyledLine(canvas, 1, kPolarCentreX - r, from, kPolarCentreX - r, to);
      }
    } else {
      if (tickExtent(axis.tickType, kPolarCentreX, d, length, from, to)) {
        drawStyledLine(canvas, 1, from, kPolarCentreY + r, to, kPolarCentreY + r);
        drawStyledLine(canvas, 1, from, kPolarCentreY - r, to, kPolarCentreY - r);
      }
    }
    if (major) {
      if (horizontal) {
        const double anchor = labelAnchor(axis.tickType, kPolarCentreY, d, length, kXLabelGap);
        const double x = kPolarCentreX + r;
        const double value = axis.low + static_cast<double>(majorsDone) * axis.tickInterval;
        drawTextCentred(canvas, scale.sx, scale.sy, x, x, anchor, anchor,
                        majorLabel(value, decimals, axis.labelDecimals));
      }
      canvas.setColour(axis.minorTickColour);
    }
    ++minorIndex;
    if (minorIndex == m) {
      minorIndex = 0;
      ++majorsDone;
    }
    v += minorStep;
  }
  anchorOut = labelAnchor(axis.tickType, kPolarCentreY, d, kMajorTick, kXLabelGap);
}

double snapUnit(double value) {
  if (std::fabs(value) <= kUnitRounding) return 0.0;
  if (std::fabs(std::fabs(value) - 1.0) <= kUnitRounding) return value < 0.0 ? -1.0 : 1.0;
  return value;
}

void drawThetaAxis(platform::Canvas& canvas, const PixelScale& scale, const AxisRecord& axis) {
  int m = axis.minorTicks;
  if (m < 1) m = 1;
  const double minorStep = axis.tickInterval / m;
  const long n = std::lround((axis.high - axis.low) / minorStep);
  canvas.setColour(axis.minorTickColour);
  const double pi = std::numbers::pi;
  double a0 = thetaStartAngle(axis.position);
  double delta = 2.0 * pi / ((axis.high - axis.low) / minorStep);
  if (!isTrue(axis.clockwise)) {
    delta = -delta;
    a0 = -a0;
  }
  double a = a0;
  const int decimals = labelDecimalsFor(axis, AxisScale{});
  int minorIndex = 0;
  long majorsDone = 0;
  for (long i = 0; i < n; ++i) {
    const bool major = (minorIndex == 0);
    if (major) a = a0 + static_cast<double>(i) * delta;
    const double c = snapUnit(std::cos(a));
    const double s = snapUnit(std::sin(a));
    const double length = major ? kMajorTick : kMinorTick;
    auto at = [&](double radius, double& x, double& y) {
      x = kPolarCentreX + radius * c;
      y = kPolarCentreY + radius * s;
    };
    double xIn = 0, yIn = 0, xOn = 0, yOn = 0, xOut = 0, yOut = 0, xFar = 0, yFar = 0;
    at(kPolarRadius - length, xIn, yIn);
    at(kPolarRadius, xOn, yOn);
    at(kPolarRadius + length, xOut, yOut);
    at(kPolarRadius + 2.0 * length, xFar, yFar);

    const bool grid = major ? gridAtMajor(axis.gridStyle) : gridAtMinor(axis.gridStyle);
    if (grid) {
      canvas.setColour(axis.gridColour);
      drawStyledLine(canvas, axis.gridLineType, kPolarCentreX, kPolarCentreY, xOn, yOn);
      canvas.setColour(axis.minorTickColour);
    }
    if (major) canvas.setColour(axis.majorTickColour);
    double labelX = xOut;
    double labelY = yOut;
    switch (axis.tickType) {
      case 1:
        drawStyledLine(canvas, 1, xIn, yIn, xOn, yOn);
        break;
      case 2:
        drawStyledLine(canvas, 1, xOn, yOn, xOut, yOut);
        labelX = xFar;
        labelY = yFar;
        break;
      case 3:
        drawStyledLine(canvas, 1, xIn, yIn, xOut, yOut);
        labelX = xFar;
        labelY = yFar;
        break;
      default:
        break;
    }
    if (major) {
      const double value = axis.low + static_cast<double>(majorsDone) * axis.tickInterval;
      drawTextCentred(canvas, scale.sx, scale.sy, labelX, labelX, labelY, labelY,
                      majorLabel(value, decimals, axis.labelDecimals));
      canvas.setColour(axis.minorTickColour);
    }
    a += delta;
    ++minorIndex;
    if (minorIndex == m) {
      minorIndex = 0;
      ++majorsDone;
    }
  }
}

int drawPolarAxes(platform::Canvas& canvas, const PixelScale& scale,
                  std::span<const AxisRecord> axes) {
  if (axes.size() != 2) return kAxisError;
  const AxisRecord* rAxis = nullptr;
  const AxisRecord* thetaAxis = nullptr;
  for (const AxisRecord& axis : axes) {
    if (axis.axisFunction == kAxisR && rAxis == nullptr) {
      rAxis = &axis;
    } else if (axis.axisFunction == kAxisTheta && thetaAxis == nullptr) {
      thetaAxis = &axis;
    }
    if (axis.gridStyle == 3 || axis.gridStyle == 5) return kAxisError;
    // Ticks are counted by stepping through the range: it must be a real one.
    if (!(axis.tickInterval > 0.0) || !(axis.high > axis.low)) return kAxisError;
  }
  if (rAxis == nullptr || thetaAxis == nullptr) return kAxisError;

  canvas.setColour(rAxis->axisColour);
  drawStyledLine(canvas, 1, kPolarCentreX - kPolarRadius, kPolarCentreY,
                 kPolarCentreX + kPolarRadius, kPolarCentreY);
  drawStyledLine(canvas, 1, kPolarCentreX, kPolarCentreY - kPolarRadius, kPolarCentreX,
                 kPolarCentreY + kPolarRadius);
  canvas.setColour(thetaAxis->axisColour);
  drawStyledCircle(canvas, kPolarCentreX, kPolarCentreY, kPolarRadius, 1, platform::kBorder);

  // R along the horizontal diameter, with labels, grid circles and title.
  canvas.setColour(rAxis->minorTickColour);
  if (selectGraphFont(canvas, rAxis->labelFont) < 0) return kFontError;
  double anchor = 0.0;
  drawRadialTicks(canvas, scale, *rAxis, true, anchor);
  const double d = (rAxis->position == 2) ? 1.0 : -1.0;
  selectGraphFont(canvas, rAxis->titleFont);
  canvas.setColour(rAxis->titleColour);
  const double titleY = anchor - d * kXTitleGap;
  drawTextCentred(canvas, scale.sx, scale.sy, kPolarCentreX, kPolarCentreX + kPolarRadius, titleY,
                  titleY, rAxis->title);

  // R along the vertical diameter: ticks only.
  canvas.setColour(rAxis->minorTickColour);
  if (selectGraphFont(canvas, rAxis->labelFont) < 0) return kFontError;
  drawRadialTicks(canvas, scale, *rAxis, false, anchor);

  if (selectGraphFont(canvas, thetaAxis->labelFont) < 0) return kFontError;
  drawThetaAxis(canvas, scale, *thetaAxis);
  return kOk;
}

}  // namespace

std::string tickLabel(double value, int labelDecimals) {
  const std::string overflow(kLabelWidth, '*');
  // Decimals beyond what the two-digit field holds are kept to its range.
  const int d = labelDecimals < 0 ? 0 : (labelDecimals > 99 ? 99 : labelDecimals);
  if (!std::isfinite(value) || std::fabs(value) >= 1e12) return overflow;

  // Exact decimal expansion of |value|, then rounding half away from zero
  // at d decimals (the rounding of formatted output). to_chars writes '.'
  // whatever the C locale, which the toolkit takes from the environment.
  char exact[1200];
  const auto written =
      std::to_chars(exact, exact + sizeof exact, std::fabs(value), std::chars_format::fixed, 1100);
  if (written.ec != std::errc()) return overflow;
  const std::string digits(exact, written.ptr);
  const size_t point = digits.find('.');
  std::string whole = digits.substr(0, point);
  std::string fraction = digits.substr(point + 1, static_cast<size_t>(d));
  const bool roundUp = digits[point + 1 + static_cast<size_t>(d)] >= '5';
  std::string number = whole + fraction;
  if (roundUp) {
    int k = static_cast<int>(number.size()) - 1;
    while (k >= 0 && number[static_cast<size_t>(k)] == '9') {
      number[static_cast<size_t>(k)] = '0';
      --k;
    }
    if (k < 0) {
      number.insert(number.begin(), '1');
    } else {
      ++number[static_cast<size_t>(k)];
    }
  }
  whole = number.substr(0, number.size() - static_cast<size_t>(d));
  fraction = number.substr(number.size() - static_cast<size_t>(d));
  // A value that rounds to zero is shown without a sign.
  const bool negative = value < 0.0 && number.find_first_not_of('0') != std::string::npos;
  // The leading zero is optional and goes first when space is short.
  const bool dropZero =
      whole == "0" && static_cast<int>(whole.size() + fraction.size()) + 1 + negative > kLabelWidth;
  std::string text;
  if (negative) text.push_back('-');
  if (!dropZero) text.append(whole);
  text.push_back('.');
  text.append(fraction);
  if (static_cast<int>(text.size()) > kLabelWidth) return overflow;
  return text;
}

int drawGraph(platform::Canvas& canvas, GraphRecord& graph, std::span<const AxisRecord> axes,
              int seriesCount) {
  if (axes.empty() || seriesCount < 1) return kCountError;
  // A graph of no known type would be drawn without axes and reported as drawn.
  if (graph.graphType < kCategoryBars || graph.graphType > kPolar) return kTypeError;
  if (!beginGraphWindow(canvas, graph)) return kWindowError;
  const PixelScale scale = pixelScale(graph);

  // Frame with concave corners: erase the corners, then arc them inwards.
  canvas.setColour(graph.graphColour);
  canvas.rectangleWorld(platform::kBorder, 0.0, 0.0, kWorldWidth, kWorldHeight);
  const double c = kFrameCorner;
  const double w = kWorldWidth;
  const double h = kWorldHeight;
  canvas.setColour(graph.backgroundColour);
  canvas.rectangleWorld(platform::kBorder, 0.0, 0.0, c, c);
  canvas.rectangleWorld(platform::kBorder, w, 0.0, w - c, c);
  canvas.rectangleWorld(platform::kBorder, w, h, w - c, h - c);
  canvas.rectangleWorld(platform::kBorder, 0.0, h, c, h - c);
  canvas.setColour(graph.graphColour);
  canvas.ellipseWorld(platform::kBorder, -c, -c, c, c);
  canvas.ellipseWorld(platform::kBorder, w + c, -c, w - c, c);
  canvas.ellipseWorld(platform::kBorder, w + c, h + c, w - c, h - c);
  canvas.ellipseWorld(platform::kBorder, -c, h + c, c, h - c);

  canvas.initFonts();
  canvas.setTextRotation(0);

  if (selectGraphFont(canvas, graph.titleFont) < 1) return kFontError;
  const int titleHeight = currentFontHeight(canvas);
  canvas.setColour(graph.titleColour);
  drawTextCentred(canvas, scale.sx, scale.sy, 0.0, w, kMainTitleY, kMainTitleY, graph.title);
  if (selectGraphFont(canvas, graph.subtitleFont) < 1) return kFontError;
  canvas.setColour(graph.subtitleColour);
  const double subtitleY = 8.0 * titleHeight + 320.0;
  drawTextCentred(canvas, scale.sx, scale.sy, 0.0, w, subtitleY, subtitleY, graph.subtitle);
  canvas.setColour(graph.graphColour);

  const int result = (graph.graphType == kPolar) ? drawPolarAxes(canvas, scale, axes)
                                                 : drawCartesianAxes(canvas, scale, graph, axes);
  if (result != kOk) return result;

  ++graph.timesDrawn;
  graph.legendEntriesExpected += seriesCount;
  return kOk;
}

}  // namespace tavel::graph

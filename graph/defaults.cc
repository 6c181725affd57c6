// SPDX-License-Identifier: GPL-3.0-or-later
#include "graph/defaults.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>

namespace tavel::graph {

namespace {

constexpr std::array<int, 16> kColourSequence = {15, 14, 13, 11, 7, 10, 12, 9,
                                                 6,  5,  3,  8,  2, 4,  0,  1};
constexpr std::array<int, 6> kBarFillSequence = {3, 4, 5, 6, 2, 1};

// Floor and ceiling that ignore a fractional part below single-precision
// resolution, so that values like 2.9999999 / 1 still round to 3.
constexpr double kRoundingEpsilon = 1.0 / 8388608.0;  // 2^-23

double tolerantFloor(double q) {
  double t = std::trunc(q);
  if (q < 0.0 && std::fabs(q - t) >= kRoundingEpsilon) t -= 1.0;
  return t;
}

double tolerantCeil(double q) {
  double t = std::trunc(q);
  if (q > 0.0 && std::fabs(q - t) >= kRoundingEpsilon) t += 1.0;
  return t;
}

// "Data Range" followed by n in a two-character field and eight blanks.
std::string defaultSeriesTitle(int n) {
  char number[8];
  if (n > 99 || n < -9) {
    std::snprintf(number, sizeof number, "**");
  } else {
    std::snprintf(number, sizeof number, "%2d", n);
  }
  return paddedText(std::string("Data Range") + number, kSeriesTitleLength);
}

// Number of floats that `count` series of `pointCount` points of
// `valuesPerPoint` values occupy.
long long valuesNeeded(int count, int pointCount, int valuesPerPoint) {
  return static_cast<long long>(count) * pointCount * valuesPerPoint;
}

double valueAt(std::span<const float> data, const SeriesRecord& series, int s, int j, int c) {
  int index = seriesValueIndex(series, s, j, c);
  if (index < 1 || static_cast<size_t>(index) > data.size()) return 0.0;
  return static_cast<double>(data[static_cast<size_t>(index - 1)]);
}

}  // namespace

int seriesColour(int n) { return kColourSequence[static_cast<size_t>((n - 1) % 16)]; }
int seriesMarker(int n) { return (n - 1) % 10 + 1; }
int seriesBarFill(int n) { return kBarFillSequence[static_cast<size_t>((n - 1) % 6)]; }

int initGraphRecord(int graphType, GraphRecord& graph) {
  graph = GraphRecord{};
  graph.graphType = graphType;
  return (graphType < 1 || graphType > 6) ? kTypeError : kOk;
}

int seriesValueIndex(const SeriesRecord& series, int s, int j, int c) {
  if (c > series.valuesPerPoint || j > series.pointCount || j < 1 || c < 1) return -1;
  int component = isTrue(series.componentsInOrder) ? c : series.valuesPerPoint - c + 1;
  long long index =
      (static_cast<long long>(s - 1) * series.pointCount + j - 1) * series.valuesPerPoint +
      component;
  if (index < 1 || index > 0x7fffffff) return -1;
  return static_cast<int>(index);
}

int initSeriesRecordMulti(GraphRecord& graph, int pointCount, std::span<const float> data,
                          std::span<SeriesRecord> series) {
  const long long seriesCount = static_cast<long long>(series.size());
  if (pointCount < 1 || seriesCount < 1) return kCountError;
  const int type = graph.graphType;
  if (type == 1 || type == 2 || type == 3) return kTypeError;
  const bool withErrors = (type == 5);
  const int valuesPerPoint = withErrors ? 3 : 2;
  // The counts must describe data that is really there.
  if (valuesNeeded(static_cast<int>(seriesCount), pointCount, valuesPerPoint) >
      static_cast<long long>(data.size())) {
    return kCountError;
  }

  for (size_t i = 0; i < series.size(); ++i) {
    const int s = static_cast<int>(i) + 1;
    SeriesRecord& rec = series[i];
    ++graph.seriesDefaulted;
    const int n = graph.seriesDefaulted;
    const int colour = seriesColour(n);
    rec.title = defaultSeriesTitle(n);
    rec.legendFont = 2;
    rec.legendColour = colour;
    rec.markerType = seriesMarker(n);
    rec.markerColour = colour;
    rec.lineType = 1;
    rec.lineColour = colour;
    rec.barFill = 0;
    rec.barColour = 0;
    rec.errorBarType = withErrors ? 1 : 0;
    rec.errorBarColour = withErrors ? colour : 0;
    rec.dataKind = 1;
    rec.componentsInOrder = kTrue;
    rec.pointCount = pointCount;
    rec.valuesPerPoint = valuesPerPoint;

    for (int j = 1; j <= pointCount; ++j) {
      const double x = valueAt(data, rec, s, j, 1);
      const double y = valueAt(data, rec, s, j, 2);
      const double e = withErrors ? valueAt(data, rec, s, j, 3) : 0.0;
      const double lowY = y - e;
      const double highY = y + e;
      if (j == 1) {
        rec.xMin = x;
        rec.xMax = x;
        rec.yMin = lowY;
        rec.yMax = highY;
        continue;
      }
      if (x < rec.xMin) rec.xMin = x;
      if (x > rec.xMax) rec.xMax = x;
      if (lowY < rec.yMin) rec.yMin = lowY;
      if (highY > rec.yMax) rec.yMax = highY;
    }
  }
  return kOk;
}

int initSeriesRecord(GraphRecord& graph, int pointCount, std::span<const float> data,
                     SeriesRecord& series) {
  return initSeriesRecordMulti(graph, pointCount, data, std::span<SeriesRecord>(&series, 1));
}

int initCategorySeriesRecordMulti(GraphRecord& graph, int pointCount,
                                  std::span<const std::string> /*labels*/,
                                  std::span<const float> data, std::span<SeriesRecord> series) {
  const long long seriesCount = static_cast<long long>(series.size());
  if (pointCount < 1 || seriesCount < 1) return kCountError;
  const int type = graph.graphType;
  if (type != 1 && type != 2 && type != 3) return kTypeError;
  const bool withErrors = (type == 3);
  const int valuesPerPoint = withErrors ? 2 : 1;
  if (valuesNeeded(static_cast<int>(seriesCount), pointCount, valuesPerPoint) >
      static_cast<long long>(data.size())) {
    return kCountError;
  }

  for (size_t i = 0; i < series.size(); ++i) {
    const int s = static_cast<int>(i) + 1;
    SeriesRecord& rec = series[i];
    ++graph.seriesDefaulted;
    const int n = graph.seriesDefaulted;
    const int colour = seriesColour(n);
    rec.title = defaultSeriesTitle(n);
    rec.legendFont = 2;
    rec.legendColour = colour;
    rec.dataKind = 2;
    rec.componentsInOrder = kTrue;
    rec.pointCount = pointCount;
    rec.valuesPerPoint = valuesPerPoint;
    if (type == 1) {
      rec.markerType = 0;
      rec.markerColour = 0;
      rec.lineType = 0;
      rec.lineColour = 0;
      rec.barFill = seriesBarFill(n);
      rec.barColour = colour;
      rec.errorBarType = 0;
      rec.errorBarColour = 0;
    } else {
      rec.lineType = 1;
      rec.lineColour = colour;
      rec.markerType = seriesMarker(n);
      rec.markerColour = colour;
      rec.barFill = 0;
      rec.barColour = 0;
      rec.errorBarType = withErrors ? 1 : 0;
      rec.errorBarColour = withErrors ? colour : 0;
    }
    rec.xMin = 0.0;
    rec.xMax = pointCount;
    for (int j = 1; j <= pointCount; ++j) {
      const double v = valueAt(data, rec, s, j, 1);
      const double e = withErrors ? valueAt(data, rec, s, j, 2) : 0.0;
      const double lowY = v - e;
      const double highY = v + e;
      if (j == 1) {
        rec.yMin = lowY;
        rec.yMax = highY;
        continue;
      }
      if (lowY < rec.yMin) rec.yMin = lowY;
      if (highY > rec.yMax) rec.yMax = highY;
    }
  }
  return kOk;
}

int initCategorySeriesRecord(GraphRecord& graph, int pointCount,
                             std::span<const std::string> labels, std::span<const float> data,
                             SeriesRecord& series) {
  return initCategorySeriesRecordMulti(graph, pointCount, labels, data,
                                       std::span<SeriesRecord>(&series, 1));
}

namespace {

std::string defaultAxisTitle(int axisFunction) {
  switch (axisFunction) {
    case kAxisX:
      return paddedText("X Axis", kAxisTitleLength);
    case kAxisY:
      return paddedText("Y Axis", kAxisTitleLength);
    case kAxisR:
      return paddedText("R Axis", kAxisTitleLength);
    default:
      return paddedText("Theta Axis", kAxisTitleLength);
  }
}

// The first horizontal axis goes below the plot, later ones above; the first
// vertical axis left, later ones (and every theta axis) right.
void placeAxis(GraphRecord& g, AxisRecord& a, int axisFunction, bool horizontal) {
  if (horizontal) {
    a.position = (g.xAxesDefaulted == 0) ? 1 : 2;
    ++g.xAxesDefaulted;
  } else {
    a.position = (axisFunction == kAxisTheta || g.yAxesDefaulted != 0) ? 4 : 3;
    ++g.yAxesDefaulted;
  }
}

// Colours, fonts, ticks and grid taken from the graph.
void styleAxis(const GraphRecord& g, AxisRecord& a) {
  a.axisColour = g.graphColour;
  a.labelFont = 6;
  a.verticalLabels = kFalse;
  a.titleFont = g.titleFont;
  a.titleColour = g.titleColour;
  a.clockwise = kFalse;
  a.tickType = 3;
  a.majorTickColour = a.axisColour;
  a.minorTickColour = a.axisColour % 8;
  a.gridStyle = 1;
  a.gridLineType = 5;
  a.gridColour = a.axisColour;
}

// The smallest and largest value over all series along the axis; an R axis
// starts at 0 and reaches the largest magnitude.
void dataRange(std::span<const SeriesRecord> series, int axisFunction, bool horizontal, double& low,
               double& high) {
  low = horizontal ? series[0].xMin : series[0].yMin;
  high = horizontal ? series[0].xMax : series[0].yMax;
  for (const SeriesRecord& rec : series.subspan(1)) {
    const double lo = horizontal ? rec.xMin : rec.yMin;
    const double hi = horizontal ? rec.xMax : rec.yMax;
    if (lo < low) low = lo;
    if (hi > high) high = hi;
  }
  if (axisFunction == kAxisR && low < 0.0) {
    if (-low <= high) {
      low = 0.0;
    } else {
      high = -low;
      low = 0.0;
    }
  }
}

// Ends rounded out to a power of ten (quarter turns or 90 degrees for a
// theta axis), divided into a readable number of intervals.
void scaleLinear(AxisRecord& a, int axisFunction, bool polar, double low, double high) {
  double unit = 0.0;
  if (axisFunction == kAxisTheta) {
    if (high - low <= 4.0 * std::numbers::pi) {
      unit = std::numbers::pi / 2.0;
      a.labelDecimals = 3;
    } else {
      unit = 90.0;  // data in degrees
      a.labelDecimals = 2;
    }
  } else {
    unit = std::pow(10.0, std::trunc(std::log10(high - low)));
    a.labelDecimals = kDefaultLinearDecimals;
  }
  const double lowRounded = tolerantFloor(low / unit) * unit;
  const double highRounded = tolerantCeil(high / unit) * unit;
  const double n = std::trunc((highRounded - lowRounded) / unit);
  double intervals = n;
  if (axisFunction == kAxisTheta) {
    if (n <= 2.0 || n == 4.0) {
      intervals = 4.0;
    } else if (n == 3.0) {
      intervals = 6.0;
    }
  } else {
    if (n <= 1.0 || n == 5.0) {
      intervals = 10.0;
    } else if (n == 2.0 || n == 4.0) {
      intervals = 8.0;
    } else if (n == 3.0) {
      intervals = 6.0;
    }
  }
  a.tickInterval = (highRounded - lowRounded) / intervals;
  if (polar && axisFunction != kAxisTheta) a.tickInterval *= 2.0;
  a.minorTicks = 5;
  a.low = lowRounded;
  a.high = highRounded;
}

// Ends rounded out to whole powers of the base; a range reaching 0 or below
// has no logarithmic scale.
int scaleLogarithmic(AxisRecord& a, int scaleType, double low, double high) {
  if (low <= 0.0) return kRangeError;
  double base = 10.0;
  if (scaleType == kLogE) base = 2.7182817459106445;
  if (scaleType == kLog2) base = 2.0;
  a.minorTicks = (scaleType == kLog2) ? 8 : 9;
  double t = std::log(low) / std::log(base);
  double k = std::trunc(t);
  if (t < 0.0 && t != k) k -= 1.0;
  a.labelDecimals = defaultLogDecimals(k);
  a.low = std::pow(base, k);
  t = std::log(high) / std::log(base);
  double kh = std::trunc(t);
  if (t > 0.0 && t != kh) kh += 1.0;
  a.high = std::pow(base, kh);
  a.tickInterval = 1.0;
  return kOk;
}

}  // namespace

int initAxisRecordMulti(GraphRecord& graph, std::span<const SeriesRecord> series, int axisFunction,
                        int scaleType, AxisRecord& axis) {
  if (series.empty()) return kCountError;
  if (axisFunction < 0 || axisFunction > 3) return kAxisError;

  // Work on copies: a refused axis leaves both records as they were.
  GraphRecord g = graph;
  AxisRecord a = axis;
  const bool horizontal = (axisFunction == kAxisX || axisFunction == kAxisR);
  a.title = defaultAxisTitle(axisFunction);
  placeAxis(g, a, axisFunction, horizontal);

  const bool polar = (g.graphType == kPolar);
  const bool polarFunction = (axisFunction == kAxisR || axisFunction == kAxisTheta);
  if (polar != polarFunction || scaleType < 0 || scaleType > 3) return kAxisError;

  a.axisFunction = axisFunction;
  a.scaleType = scaleType;
  styleAxis(g, a);

  if (horizontal && series[0].dataKind == 2) {
    // One tick per category.
    a.low = 0.0;
    a.high = series[0].pointCount;
    a.tickInterval = 1.0;
    a.minorTicks = 1;
    a.labelDecimals = 0;
  } else {
    double low = 0.0;
    double high = 0.0;
    dataRange(series, axisFunction, horizontal, low, high);
    // Written as a negated test so that NaN ranges are refused too.
    if (!(low < high)) return kRangeError;
    if (scaleType == kLinear) {
      scaleLinear(a, axisFunction, polar, low, high);
    } else if (const int result = scaleLogarithmic(a, scaleType, low, high); result != kOk) {
      return result;
    }
  }
  graph = g;
  axis = a;
  return kOk;
}

int initAxisRecord(GraphRecord& graph, const SeriesRecord& series, int axisFunction, int scaleType,
                   AxisRecord& axis) {
  return initAxisRecordMulti(graph, std::span<const SeriesRecord>(&series, 1), axisFunction,
                             scaleType, axis);
}

}  // namespace tavel::graph

// SPDX-License-Identifier: GPL-3.0-or-later
#include "graph/series.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include "graph/axes.h"
#include "graph/defaults.h"
#include "graph/marks.h"
#include "graph/scale.h"
#include "graph/window.h"

namespace tavel::graph {

namespace {

// A mapped point; positions are kept as 32-bit floats.
struct Point {
  float x = 0.0f;
  float y = 0.0f;
  bool valid = false;  // false when a coordinate is not a finite number
};

bool finite(float v) { return std::isfinite(v); }

// Component c of point j of series s, or false when the record does not
// have it (a position of -1) or it lies outside the data.
bool readValue(std::span<const float> data, const SeriesRecord& rec, int s, int j, int c,
               double& value) {
  const int index = seriesValueIndex(rec, s, j, c);
  if (index < 1 || static_cast<size_t>(index) > data.size()) return false;
  value = static_cast<double>(data[static_cast<size_t>(index - 1)]);
  return true;
}

// Every value a series' record describes must lie in the data array.
bool fitsData(std::span<const float> data, const SeriesRecord& rec, int s) {
  const long long last =
      static_cast<long long>(s) * rec.pointCount * static_cast<long long>(rec.valuesPerPoint);
  return last <= static_cast<long long>(data.size());
}

float mapX(const AxisScale& scale, double x) {
  return static_cast<float>(kPlotLeft + scale.fraction(x) * kPlotWidth);
}

float mapY(const AxisScale& scale, double y) {
  return static_cast<float>(kPlotBottom - scale.fraction(y) * kPlotHeight);
}

// Maps (r, theta) onto the polar circle, with the start angle and sense of
// rotation that the Theta axis' ticks use.
struct PolarMap {
  double rSpan = 1.0;
  double thetaSpan = 1.0;
  double a0 = 0.0;
  double sense = 1.0;  // -1 when angles grow counter-clockwise on the screen

  PolarMap(const AxisRecord& rAxis, const AxisRecord& thetaAxis) {
    rSpan = rAxis.high - rAxis.low;
    thetaSpan = thetaAxis.high - thetaAxis.low;
    a0 = thetaStartAngle(thetaAxis.position);
    if (!isTrue(thetaAxis.clockwise)) {
      a0 = -a0;
      sense = -1.0;
    }
  }

  Point map(double r, double theta) const {
    const double radius = r * kPolarRadius / rSpan;
    const double a = a0 + sense * (theta * 2.0 * std::numbers::pi / thetaSpan);
    Point p;
    p.x = static_cast<float>(kPolarCentreX + radius * std::cos(a));
    p.y = static_cast<float>(kPolarCentreY + radius * std::sin(a));
    p.valid = finite(p.x) && finite(p.y);
    return p;
  }
};

// The axes of one plotting call, checked once.
struct Mapping {
  bool polar = false;
  AxisScale xScale;
  AxisScale yScale;

  Point cartesian(double x, double y) const {
    Point p;
    p.x = mapX(xScale, x);
    p.y = mapY(yScale, y);
    p.valid = finite(p.x) && finite(p.y);
    return p;
  }
};

void drawLegendSample(platform::Canvas& canvas, const PixelScale& scale, const GraphRecord& g,
                      int entry, const LegendSample& sample) {
  drawLegendEntry(canvas, scale.sx, scale.sy, entry, g.legendEntriesExpected, sample.lineType,
                  sample.lineColour, sample.markerType, sample.markerColour, sample.barFill,
                  sample.barColour, sample.textColour, sample.title, g.graphColour,
                  g.legendCellWidth);
}

// One legend entry per series. Cells are as wide as the widest title so far
// needs; when an entry widens them, the box is cleared and the earlier
// entries are drawn again in the wider cells, so no title runs over its cell.
int legendStep(platform::Canvas& canvas, GraphRecord& g, std::span<const SeriesRecord> series) {
  const PixelScale scale = pixelScale(g);
  for (const SeriesRecord& rec : series) {
    ++g.legendEntriesDrawn;
    if (g.legendEntriesDrawn > g.legendEntriesExpected) return kTypeError;
    if (selectGraphFont(canvas, rec.legendFont) < 1) return kFontError;
    LegendSample sample{rec.lineType,     rec.lineColour, rec.markerType,
                        rec.markerColour, rec.barFill,    rec.barColour,
                        rec.legendColour, rec.legendFont, rec.title};
    const double titleWidth = legendTitleWidth(canvas, scale.sx, rec.title);
    const double cellWidth = legendCellWidthFor(titleWidth);
    const bool shown = g.legendEntriesExpected <= kMaxLegendEntries;
    if (shown && cellWidth > g.legendCellWidth && !g.legendSamples.empty()) {
      g.legendCellWidth = cellWidth;
      const LegendBox box = legendBox(g.legendEntriesExpected, scale.sy, g.legendCellWidth);
      canvas.setColour(g.backgroundColour);
      setFillCode(canvas, 2);
      canvas.rectangleWorld(platform::kFill, box.left, box.top, box.left + box.width,
                            box.top + box.height);
      for (size_t k = 0; k < g.legendSamples.size(); ++k) {
        const LegendSample& earlier = g.legendSamples[k];
        if (selectGraphFont(canvas, earlier.font) < 1) return kFontError;
        drawLegendSample(canvas, scale, g, static_cast<int>(k) + 1, earlier);
      }
      if (selectGraphFont(canvas, rec.legendFont) < 1) return kFontError;
    }
    g.legendCellWidth = std::max(g.legendCellWidth, cellWidth);
    drawLegendSample(canvas, scale, g, g.legendEntriesDrawn, sample);
    if (shown) g.legendSamples.push_back(std::move(sample));
  }
  return kOk;
}

void joinPoints(platform::Canvas& canvas, int lineType, const Point& from, const Point& to) {
  if (!from.valid || !to.valid) return;
  drawStyledLine(canvas, lineType, from.x, from.y, to.x, to.y);
}

// Error bar from the mapped ends of value - e and value + e; nothing when
// either end cannot be placed.
void errorBarAt(platform::Canvas& canvas, const Mapping& map, const Point& p, double value,
                double e, const SeriesRecord& rec) {
  if (!p.valid) return;
  const float yLow = mapY(map.yScale, value - e);
  const float yHigh = mapY(map.yScale, value + e);
  if (!finite(yLow) || !finite(yHigh)) return;
  drawErrorBar(canvas, p.x, p.y, yLow, yHigh, rec.errorBarType, rec.errorBarColour);
}

}  // namespace

int drawSeriesMulti(platform::Canvas& canvas, GraphRecord& graph, std::span<const float> data,
                    std::span<const SeriesRecord> series, const AxisRecord& xAxis,
                    const AxisRecord& yAxis) {
  if (graph.timesDrawn == 0) return kNotDrawn;
  if (selectGraphFont(canvas, graph.titleFont) < 1) return kFontError;
  for (size_t i = 0; i < series.size(); ++i) {
    const SeriesRecord& rec = series[i];
    if (rec.pointCount < 1 || (rec.valuesPerPoint != 2 && rec.valuesPerPoint != 3)) {
      return kSeriesError;
    }
    if (!fitsData(data, rec, static_cast<int>(i) + 1)) return kSeriesError;
  }

  Mapping map;
  map.polar = (graph.graphType == kPolar);
  if (map.polar) {
    if (!(xAxis.high > xAxis.low) || !(yAxis.high > yAxis.low)) return kAxisError;
  } else if (!makeAxisScale(xAxis, map.xScale) || !makeAxisScale(yAxis, map.yScale)) {
    return kAxisError;
  }
  const PolarMap polar(xAxis, yAxis);
  auto position = [&](double x, double y) {
    return map.polar ? polar.map(x, y) : map.cartesian(x, y);
  };

  for (size_t i = 0; i < series.size(); ++i) {
    const SeriesRecord& rec = series[i];
    if (rec.lineType == 0) continue;
    const int s = static_cast<int>(i) + 1;
    canvas.setColour(rec.lineColour);
    Point previous;
    for (int j = 1; j <= rec.pointCount; ++j) {
      double x = 0.0;
      double y = 0.0;
      Point p;
      if (readValue(data, rec, s, j, 1, x) && readValue(data, rec, s, j, 2, y)) {
        p = position(x, y);
      }
      if (j > 1) joinPoints(canvas, rec.lineType, previous, p);
      previous = p;
    }
  }

  const bool withErrors = (graph.graphType == kCategoryLinesErrors || graph.graphType == kXYErrors);
  for (size_t i = 0; i < series.size(); ++i) {
    const SeriesRecord& rec = series[i];
    if (rec.markerType == 0) continue;
    const int s = static_cast<int>(i) + 1;
    for (int j = 1; j <= rec.pointCount; ++j) {
      double x = 0.0;
      double y = 0.0;
      if (!readValue(data, rec, s, j, 1, x) || !readValue(data, rec, s, j, 2, y)) continue;
      const Point p = position(x, y);
      double e = 0.0;
      if (withErrors && !map.polar && readValue(data, rec, s, j, 3, e)) {
        errorBarAt(canvas, map, p, y, e, rec);
      }
      if (p.valid) drawMarker(canvas, p.x, p.y, rec.markerType, rec.markerColour);
    }
  }

  GraphRecord g = graph;
  const int result = legendStep(canvas, g, series);
  if (result != kOk) return result;
  graph = g;
  return kOk;
}

int drawSeries(platform::Canvas& canvas, GraphRecord& graph, std::span<const float> data,
               const SeriesRecord& series, const AxisRecord& xAxis, const AxisRecord& yAxis) {
  return drawSeriesMulti(canvas, graph, data, std::span<const SeriesRecord>(&series, 1), xAxis,
                         yAxis);
}

int drawCategorySeriesMulti(platform::Canvas& canvas, GraphRecord& graph,
                            std::span<const std::string> labels, std::span<const float> data,
                            std::span<const SeriesRecord> series, const AxisRecord& xAxis,
                            const AxisRecord& yAxis) {
  if (series.empty()) return kCountError;
  if (graph.timesDrawn == 0) return kNotDrawn;
  if (selectGraphFont(canvas, graph.titleFont) < 1) return kFontError;
  for (size_t i = 0; i < series.size(); ++i) {
    const SeriesRecord& rec = series[i];
    if (rec.pointCount < 1 || rec.valuesPerPoint < 1 || rec.valuesPerPoint > 3) {
      return kSeriesError;
    }
    if (!fitsData(data, rec, static_cast<int>(i) + 1)) return kSeriesError;
  }
  const int categories = series[0].pointCount;
  if (xAxis.scaleType != kLinear || xAxis.low != 0.0 ||
      xAxis.high != static_cast<double>(categories) || xAxis.tickInterval != 1.0) {
    return kAxisError;
  }
  Mapping map;
  if (!makeAxisScale(xAxis, map.xScale) || !makeAxisScale(yAxis, map.yScale)) return kAxisError;

  if (graph.graphType == kCategoryBars) {
    const double b = 1.0 / (static_cast<double>(series.size()) + 0.5);
    const double unitsPerCategory = kPlotWidth / (xAxis.high - xAxis.low);
    const float y0 = (yAxis.low >= 0.0) ? static_cast<float>(kPlotBottom) : mapY(map.yScale, 0.0);
    for (int j = 1; j <= categories; ++j) {
      for (size_t i = 0; i < series.size(); ++i) {
        const SeriesRecord& rec = series[i];
        const int s = static_cast<int>(i) + 1;
        double v = 0.0;
        if (!readValue(data, rec, s, j, 1, v)) continue;
        const double x = (j - 1) + b / 4.0 + (s - 1) * b;
        const float left = mapX(map.xScale, x);
        const float top = mapY(map.yScale, v);
        if (!finite(left) || !finite(top)) continue;
        drawFilledBox(canvas, left, y0, b * unitsPerCategory - 16.0, top - y0, rec.barFill,
                      rec.barColour);
      }
    }
  } else {
    for (size_t i = 0; i < series.size(); ++i) {
      const SeriesRecord& rec = series[i];
      if (rec.lineType == 0) continue;
      const int s = static_cast<int>(i) + 1;
      canvas.setColour(rec.lineColour);
      Point previous;
      for (int j = 1; j <= rec.pointCount; ++j) {
        double v = 0.0;
        Point p;
        if (readValue(data, rec, s, j, 1, v)) p = map.cartesian(j - 0.5, v);
        if (j > 1) joinPoints(canvas, rec.lineType, previous, p);
        previous = p;
      }
    }
    for (size_t i = 0; i < series.size(); ++i) {
      const SeriesRecord& rec = series[i];
      const int s = static_cast<int>(i) + 1;
      for (int j = 1; j <= rec.pointCount; ++j) {
        double v = 0.0;
        if (!readValue(data, rec, s, j, 1, v)) continue;
        const Point p = map.cartesian(j - 0.5, v);
        double e = 0.0;
        if (graph.graphType == kCategoryLinesErrors && readValue(data, rec, s, j, 2, e)) {
          errorBarAt(canvas, map, p, v, e, rec);
        }
        if (p.valid) drawMarker(canvas, p.x, p.y, rec.markerType, rec.markerColour);
      }
    }
  }

  const PixelScale scale = pixelScale(graph);
  if (selectGraphFont(canvas, xAxis.labelFont) < 1) return kFontError;
  canvas.setColour(xAxis.axisColour);
  const double nameY = (xAxis.position == 2) ? kPlotTop - 342.0 : kPlotBottom + 342.0;
  for (int j = 1; j <= categories && static_cast<size_t>(j) <= labels.size(); ++j) {
    const double x = mapX(map.xScale, j - 0.5);
    drawTextCentred(canvas, scale.sx, scale.sy, x, x, nameY, nameY,
                    labels[static_cast<size_t>(j - 1)]);
  }

  GraphRecord g = graph;
  const int result = legendStep(canvas, g, series);
  if (result != kOk) return result;
  graph = g;
  return kOk;
}

int drawCategorySeries(platform::Canvas& canvas, GraphRecord& graph,
                       std::span<const std::string> labels, std::span<const float> data,
                       const SeriesRecord& series, const AxisRecord& xAxis,
                       const AxisRecord& yAxis) {
  return drawCategorySeriesMulti(canvas, graph, labels, data,
                                 std::span<const SeriesRecord>(&series, 1), xAxis, yAxis);
}

}  // namespace tavel::graph

// SPDX-License-Identifier: GPL-3.0-or-later
#include "graph/defaults.h"

#include <gtest/gtest.h>

#include <numbers>
#include <vector>

namespace tavel::graph {
namespace {

// One x-y series over the given x and y values.
SeriesRecord xySeries(GraphRecord& graph, const std::vector<float>& xs,
                      const std::vector<float>& ys) {
  std::vector<float> data;
  for (size_t i = 0; i < xs.size(); ++i) {
    data.push_back(xs[i]);
    data.push_back(ys[i]);
  }
  SeriesRecord series;
  EXPECT_EQ(initSeriesRecord(graph, static_cast<int>(xs.size()), data, series), kOk);
  return series;
}

TEST(GraphRecordDefaults, TemplateFilledEvenForUnknownType) {
  for (int type : {0, 7}) {
    GraphRecord graph;
    graph.timesDrawn = 5;
    EXPECT_EQ(initGraphRecord(type, graph), kTypeError);
    EXPECT_EQ(graph.graphType, type);
    EXPECT_EQ(graph.timesDrawn, 0);
    EXPECT_EQ(graph.title, "Graph" + std::string(35, ' '));
  }
  GraphRecord graph;
  ASSERT_EQ(initGraphRecord(kPolar, graph), kOk);
  EXPECT_EQ(graph.titleColour, 14);
  EXPECT_EQ(graph.subtitleFont, 2);
  EXPECT_EQ(graph.backgroundColour, 1);
  EXPECT_EQ(graph.right, 639);
  EXPECT_EQ(graph.bottom, 479);
  EXPECT_TRUE(isTrue(graph.maximiseWindow));
}

TEST(SeriesDefaults, SequencesCycleOverTheGraphsSeries) {
  GraphRecord graph;
  initGraphRecord(kXY, graph);
  std::vector<float> data(2 * 17, 1.0f);
  std::vector<SeriesRecord> series(17);
  ASSERT_EQ(initSeriesRecordMulti(graph, 1, data, series), kOk);
  EXPECT_EQ(graph.seriesDefaulted, 17);
  EXPECT_EQ(series[0].lineColour, 15);
  EXPECT_EQ(series[1].lineColour, 14);
  EXPECT_EQ(series[15].lineColour, 1);
  EXPECT_EQ(series[16].lineColour, 15);  // 17th takes the first colour again
  EXPECT_EQ(series[9].markerType, 10);
  EXPECT_EQ(series[10].markerType, 1);  // 11th takes marker 1 again
  EXPECT_EQ(series[0].title, "Data Range 1        ");
  EXPECT_EQ(series[16].title, "Data Range17        ");

  GraphRecord bars;
  initGraphRecord(kCategoryBars, bars);
  std::vector<SeriesRecord> barSeries(7);
  std::vector<float> values(7, 1.0f);
  ASSERT_EQ(initCategorySeriesRecordMulti(bars, 1, {}, values, barSeries), kOk);
  EXPECT_EQ(barSeries[0].barFill, 3);
  EXPECT_EQ(barSeries[5].barFill, 1);
  EXPECT_EQ(barSeries[6].barFill, 3);  // 7th bar series takes fill 3 again
  EXPECT_EQ(barSeries[0].markerType, 0);
  EXPECT_EQ(barSeries[0].lineType, 0);
  EXPECT_EQ(barSeries[0].valuesPerPoint, 1);

  graph.seriesDefaulted = 99;
  SeriesRecord hundredth;
  initSeriesRecord(graph, 1, data, hundredth);
  EXPECT_EQ(hundredth.title, "Data Range**        ");
}

TEST(SeriesDefaults, RangesIncludeErrorBars) {
  GraphRecord graph;
  initGraphRecord(kXYErrors, graph);
  const std::vector<float> data = {2, 5, 1, /**/ -1, 3, 0.5, /**/ 4, 9, 2};
  SeriesRecord series;
  ASSERT_EQ(initSeriesRecord(graph, 3, data, series), kOk);
  EXPECT_EQ(series.valuesPerPoint, 3);
  EXPECT_EQ(series.errorBarType, 1);
  EXPECT_EQ(series.xMin, -1.0);
  EXPECT_EQ(series.xMax, 4.0);
  EXPECT_EQ(series.yMin, 2.5);   // 3 - 0.5
  EXPECT_EQ(series.yMax, 11.0);  // 9 + 2

  GraphRecord category;
  initGraphRecord(kCategoryLinesErrors, category);
  const std::vector<float> values = {3, 1, -2, 0.5};
  SeriesRecord cat;
  ASSERT_EQ(initCategorySeriesRecord(category, 2, {}, values, cat), kOk);
  EXPECT_EQ(cat.dataKind, 2);
  EXPECT_EQ(cat.xMin, 0.0);
  EXPECT_EQ(cat.xMax, 2.0);
  EXPECT_EQ(cat.yMin, -2.5);
  EXPECT_EQ(cat.yMax, 4.0);
}

TEST(SeriesDefaults, RefusalsLeaveRecordsUnchanged) {
  std::vector<float> data(4, 1.0f);
  SeriesRecord series;
  series.title = "kept";
  GraphRecord category;
  initGraphRecord(kCategoryBars, category);
  EXPECT_EQ(initSeriesRecord(category, 2, data, series), kTypeError);
  GraphRecord xy;
  initGraphRecord(kXY, xy);
  EXPECT_EQ(initSeriesRecord(xy, 0, data, series), kCountError);
  EXPECT_EQ(initCategorySeriesRecord(xy, 2, {}, data, series), kTypeError);
  // More points than the data holds: refused instead of reading past it.
  EXPECT_EQ(initSeriesRecord(xy, 3, data, series), kCountError);
  EXPECT_EQ(series.title, "kept");
  EXPECT_EQ(xy.seriesDefaulted, 0);
  EXPECT_EQ(category.seriesDefaulted, 0);
}

TEST(AxisDefaults, LinearRoundingExamples) {
  GraphRecord graph;
  initGraphRecord(kXY, graph);
  SeriesRecord series = xySeries(graph, {0.37f, 2.9f}, {-0.3f, 0.7f});
  series.xMin = 0.37;  // exact values, free of float rounding
  series.xMax = 2.9;
  series.yMin = -0.3;
  series.yMax = 0.7;
  AxisRecord x;
  ASSERT_EQ(initAxisRecord(graph, series, kAxisX, kLinear, x), kOk);
  EXPECT_EQ(x.low, 0.0);
  EXPECT_EQ(x.high, 3.0);
  EXPECT_EQ(x.tickInterval, 0.5);  // n = 3: six intervals
  EXPECT_EQ(x.minorTicks, 5);
  EXPECT_EQ(x.labelDecimals, 3);
  EXPECT_EQ(x.position, 1);
  EXPECT_EQ(x.title, "X Axis" + std::string(19, ' '));
  EXPECT_EQ(x.minorTickColour, 7);  // 15 mod 8
  EXPECT_EQ(x.gridLineType, 5);
  AxisRecord y;
  ASSERT_EQ(initAxisRecord(graph, series, kAxisY, kLinear, y), kOk);
  EXPECT_EQ(y.low, -1.0);
  EXPECT_EQ(y.high, 1.0);
  EXPECT_EQ(y.tickInterval, 0.25);  // n = 2: eight intervals
  EXPECT_EQ(y.position, 3);

  // Later axes go to the opposite sides.
  AxisRecord x2, y2;
  initAxisRecord(graph, series, kAxisX, kLinear, x2);
  initAxisRecord(graph, series, kAxisY, kLinear, y2);
  EXPECT_EQ(x2.position, 2);
  EXPECT_EQ(y2.position, 4);
  EXPECT_EQ(graph.xAxesDefaulted, 2);
  EXPECT_EQ(graph.yAxesDefaulted, 2);
}

TEST(AxisDefaults, ThetaInRadiansOrDegrees) {
  GraphRecord graph;
  initGraphRecord(kPolar, graph);
  SeriesRecord series = xySeries(graph, {1, 2}, {0.0f, 6.2f});
  AxisRecord theta;
  ASSERT_EQ(initAxisRecord(graph, series, kAxisTheta, kLinear, theta), kOk);
  EXPECT_EQ(theta.low, 0.0);
  EXPECT_EQ(theta.high, 2.0 * std::numbers::pi);
  EXPECT_EQ(theta.tickInterval, std::numbers::pi / 2.0);
  EXPECT_EQ(theta.labelDecimals, 3);
  EXPECT_EQ(theta.position, 4);

  series.yMax = 350.0;
  ASSERT_EQ(initAxisRecord(graph, series, kAxisTheta, kLinear, theta), kOk);
  EXPECT_EQ(theta.high, 360.0);
  EXPECT_EQ(theta.tickInterval, 90.0);
  EXPECT_EQ(theta.labelDecimals, 2);
}

TEST(AxisDefaults, RAxisMadeNonNegativeAndTicksDoubled) {
  GraphRecord graph;
  initGraphRecord(kPolar, graph);
  SeriesRecord series = xySeries(graph, {-5.0f, 3.0f}, {0, 1});
  AxisRecord r;
  ASSERT_EQ(initAxisRecord(graph, series, kAxisR, kLinear, r), kOk);
  EXPECT_EQ(r.low, 0.0);
  EXPECT_EQ(r.high, 5.0);
  EXPECT_EQ(r.tickInterval, 1.0);  // ten intervals of 0.5, doubled on a polar graph
  EXPECT_EQ(r.title, "R Axis" + std::string(19, ' '));
}

TEST(AxisDefaults, LogarithmicBases) {
  GraphRecord graph;
  initGraphRecord(kXY, graph);
  SeriesRecord series = xySeries(graph, {0.05f, 300.0f}, {3, 40});
  series.xMin = 0.05;
  series.xMax = 300.0;
  AxisRecord x;
  ASSERT_EQ(initAxisRecord(graph, series, kAxisX, kLog10, x), kOk);
  EXPECT_DOUBLE_EQ(x.low, 0.01);
  EXPECT_DOUBLE_EQ(x.high, 1000.0);
  EXPECT_EQ(x.labelDecimals, 2);
  EXPECT_EQ(x.minorTicks, 9);
  EXPECT_EQ(x.tickInterval, 1.0);
  AxisRecord y;
  ASSERT_EQ(initAxisRecord(graph, series, kAxisY, kLog2, y), kOk);
  EXPECT_EQ(y.low, 2.0);
  EXPECT_EQ(y.high, 64.0);
  EXPECT_EQ(y.minorTicks, 8);
  ASSERT_EQ(initAxisRecord(graph, series, kAxisY, kLogE, y), kOk);
  EXPECT_NEAR(y.low, 2.7182817459106445, 1e-15);
  EXPECT_EQ(y.minorTicks, 9);
}

TEST(AxisDefaults, RefusalsLeaveAxisAndCountersUnchanged) {
  GraphRecord polar;
  initGraphRecord(kPolar, polar);
  SeriesRecord series = xySeries(polar, {1, 1}, {-1, 2});
  AxisRecord axis;
  axis.title = "untouched";
  EXPECT_EQ(initAxisRecord(polar, series, kAxisX, kLinear, axis), kAxisError);
  EXPECT_EQ(initAxisRecord(polar, series, kAxisR, 4, axis), kAxisError);
  EXPECT_EQ(initAxisRecord(polar, series, 5, kLinear, axis), kAxisError);
  EXPECT_EQ(initAxisRecordMulti(polar, {}, kAxisR, kLinear, axis), kCountError);
  EXPECT_EQ(polar.xAxesDefaulted, 0);

  GraphRecord xy;
  initGraphRecord(kXY, xy);
  EXPECT_EQ(initAxisRecord(xy, series, kAxisR, kLinear, axis), kAxisError);
  EXPECT_EQ(initAxisRecord(xy, series, kAxisX, kLinear, axis), kRangeError);  // all x equal
  EXPECT_EQ(initAxisRecord(xy, series, kAxisY, kLog10, axis), kRangeError);   // values <= 0
  EXPECT_EQ(axis.title, "untouched");
  EXPECT_EQ(xy.xAxesDefaulted, 0);
  EXPECT_EQ(xy.yAxesDefaulted, 0);
}

TEST(AxisDefaults, CategoryAxisCoversTheCategories) {
  GraphRecord graph;
  initGraphRecord(kCategoryLines, graph);
  std::vector<float> values = {4, 8, 1, 5, 3};
  SeriesRecord series;
  ASSERT_EQ(initCategorySeriesRecord(graph, 5, {}, values, series), kOk);
  AxisRecord x;
  ASSERT_EQ(initAxisRecord(graph, series, kAxisX, kLinear, x), kOk);
  EXPECT_EQ(x.low, 0.0);
  EXPECT_EQ(x.high, 5.0);
  EXPECT_EQ(x.tickInterval, 1.0);
  EXPECT_EQ(x.minorTicks, 1);
  EXPECT_EQ(x.labelDecimals, 0);
}

TEST(SeriesValueIndex, PositionsAndOutOfRange) {
  SeriesRecord series;
  series.pointCount = 4;
  series.valuesPerPoint = 2;
  EXPECT_EQ(seriesValueIndex(series, 1, 1, 1), 1);
  EXPECT_EQ(seriesValueIndex(series, 2, 3, 2), 14);
  EXPECT_EQ(seriesValueIndex(series, 1, 1, 3), -1);
  EXPECT_EQ(seriesValueIndex(series, 1, 5, 1), -1);
  EXPECT_EQ(seriesValueIndex(series, 1, 0, 1), -1);
  EXPECT_EQ(seriesValueIndex(series, 1, 1, 0), -1);
  series.componentsInOrder = kFalse;
  EXPECT_EQ(seriesValueIndex(series, 1, 1, 1), 2);
  EXPECT_EQ(seriesValueIndex(series, 2, 3, 2), 13);
}

}  // namespace
}  // namespace tavel::graph

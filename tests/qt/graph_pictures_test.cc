// SPDX-License-Identifier: GPL-3.0-or-later
// One picture per graph type drawn by the graphing library on the image
// canvas, saved as PNG (into $TAVEL_GRAPH_PICTURES when set, so a person can
// look at them), with pixels checked where the layout fixes them.
#include <gtest/gtest.h>

#include <QDir>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "graph/graph.h"
#include "platform/qt/qimage_canvas.h"
#include "tests/qt/qt_test_support.h"

namespace tavel::graph {
namespace {

using platform::qt::paletteColour;
using platform::qt::QImageCanvas;

// World units to image pixels for a graph filling the 800 x 600 window.
int px(double x) { return static_cast<int>(std::lround(x * 799.0 / 10240.0)); }
int py(double y) { return static_cast<int>(std::lround(y * 599.0 / 7680.0)); }

class GraphPictures : public ::testing::Test {
 protected:
  GraphRecord newGraph(int type) {
    GraphRecord graph;
    initGraphRecord(type, graph);
    graph.right = 799;
    graph.bottom = 599;
    return graph;
  }
  QRgb pixel(int x, int y) { return canvas.image().pixel(x, y); }
  QRgb colour(int index) { return paletteColour(index).rgb(); }
  // Some pixel within `radius` of (x, y) has the colour (lines may round to a
  // neighbouring pixel).
  bool near(int x, int y, int index, int radius = 1) {
    for (int dy = -radius; dy <= radius; ++dy) {
      for (int dx = -radius; dx <= radius; ++dx) {
        if (pixel(x + dx, y + dy) == colour(index)) return true;
      }
    }
    return false;
  }
  // Frame corner erased and arced; frame edge and background where they belong.
  void expectFrame(const GraphRecord& graph) {
    EXPECT_EQ(pixel(0, 0), colour(graph.backgroundColour));
    EXPECT_EQ(pixel(799, 599), colour(graph.backgroundColour));
    EXPECT_TRUE(near(400, 0, graph.graphColour, 0));
    EXPECT_TRUE(near(0, 300, graph.graphColour, 0));
    EXPECT_TRUE(near(px(128), py(128) - 3, graph.graphColour, 3));  // the corner arc
  }
  void save(int type) {
    QString dir = qEnvironmentVariable("TAVEL_GRAPH_PICTURES");
    if (dir.isEmpty()) dir = qt_test::tempDir();
    QDir().mkpath(dir);
    const std::string path = (dir + QStringLiteral("/graph_type_%1.png").arg(type)).toStdString();
    EXPECT_GE(canvas.saveImage(path, 0, 0, 799, 599), 0) << path;
  }

  QApplication& app_ = qt_test::app();
  QImageCanvas canvas;
};

// Three weekly series shown as bars, lines or lines with error bars.
struct Week {
  std::vector<std::string> labels = {"Mon", "Tue", "Wed", "Thu", "Fri"};
  std::vector<float> values = {3.0f, 4.5f,  2.0f, 6.0f, 5.0f,   // series 1
                               1.5f, 2.5f,  3.5f, 2.0f, 4.0f,   // series 2
                               2.0f, -1.0f, 1.0f, 3.0f, 2.5f};  // series 3
  std::vector<float> withErrors() const {
    std::vector<float> out;
    for (size_t i = 0; i < 10; ++i) {
      out.push_back(values[i]);
      out.push_back(0.3f + 0.1f * static_cast<float>(i % 4));
    }
    return out;
  }
};

TEST_F(GraphPictures, CategoryGraphs) {
  for (int type : {kCategoryBars, kCategoryLines, kCategoryLinesErrors}) {
    canvas.clearWindow();
    Week week;
    GraphRecord graph = newGraph(type);
    graph.title = paddedText("Weekly output", kGraphTitleLength);
    graph.subtitle = paddedText(type == 1 ? "bars" : "lines", kGraphTitleLength);
    const int count = (type == kCategoryBars) ? 3 : 2;
    const std::vector<float> data =
        (type == kCategoryLinesErrors) ? week.withErrors() : week.values;
    std::vector<SeriesRecord> series(static_cast<size_t>(count));
    ASSERT_EQ(initCategorySeriesRecordMulti(graph, 5, week.labels, data, series), kOk);
    std::vector<AxisRecord> axes(2);
    ASSERT_EQ(initAxisRecordMulti(graph, series, kAxisX, kLinear, axes[0]), kOk);
    ASSERT_EQ(initAxisRecordMulti(graph, series, kAxisY, kLinear, axes[1]), kOk);
    axes[0].title = paddedText("Day", kAxisTitleLength);
    axes[1].title = paddedText("Output", kAxisTitleLength);
    ASSERT_EQ(drawGraph(canvas, graph, axes, count), kOk);
    ASSERT_EQ(drawCategorySeriesMulti(canvas, graph, week.labels, data, series, axes[0], axes[1]),
              kOk);
    save(type);

    expectFrame(graph);
    EXPECT_TRUE(near(px(kPlotLeft), py(3000), axes[1].axisColour));  // left axis line
    if (type == kCategoryBars) {
      // Inside the first bar of Thursday (series 1, value 6): its fill colour somewhere.
      const double x = 1300 + (3 + 1.0 / 14 + 0.1) / 5 * 7640;
      const double y0 = 6032 + axes[1].low / (axes[1].high - axes[1].low) * 4784;
      const double y = y0 - 5.5 / (axes[1].high - axes[1].low) * 4784;
      EXPECT_TRUE(near(px(x), py(y), series[0].barColour, 4));
    } else {
      // The marker of Thursday's first-series point (a square outline, 48 units
      // each side): its edge passes 48 units left of the centre.
      const double x = 1300 + 3.5 / 5 * 7640;
      const double y = 6032 - (6.0 - axes[1].low) / (axes[1].high - axes[1].low) * 4784;
      EXPECT_TRUE(near(px(x - 48), py(y), series[0].markerColour));
    }
  }
}

TEST_F(GraphPictures, XYGraphs) {
  for (int type : {kXY, kXYErrors}) {
    canvas.clearWindow();
    GraphRecord graph = newGraph(type);
    // The result-plot look: white background, blue frame and titles.
    graph.title =
        paddedText(type == kXY ? "Optimal Transformation" : "Measured decay", kGraphTitleLength);
    graph.subtitle = paddedText("Independent variable", kGraphTitleLength);
    graph.titleFont = 3;
    graph.graphColour = 1;
    graph.titleColour = 1;
    graph.subtitleColour = 0;
    graph.backgroundColour = 15;
    const int points = 40;
    const int values = (type == kXYErrors) ? 3 : 2;
    std::vector<float> data;
    for (int s = 0; s < 2; ++s) {
      for (int i = 0; i < points; ++i) {
        const double t = 0.25 * i;
        data.push_back(static_cast<float>(t));
        data.push_back(static_cast<float>(s == 0 ? 3.0 * std::exp(-0.3 * t) * std::cos(t)
                                                 : 2.0 * std::exp(-0.2 * t)));
        if (values == 3) data.push_back(0.1f + 0.02f * static_cast<float>(i % 5));
      }
    }
    std::vector<SeriesRecord> series(2);
    ASSERT_EQ(initSeriesRecordMulti(graph, points, data, series), kOk);
    series[0].title = paddedText("Oscillation", kSeriesTitleLength);
    series[1].title = paddedText("Envelope", kSeriesTitleLength);
    series[1].lineType = 2;
    series[0].markerColour = series[0].lineColour = series[0].legendColour = 2;
    series[1].markerColour = series[1].lineColour = series[1].legendColour = 4;
    series[0].errorBarColour = 2;
    series[1].errorBarColour = 4;
    series[0].markerType = 7;
    std::vector<AxisRecord> axes(2);
    ASSERT_EQ(initAxisRecordMulti(graph, series, kAxisX, kLinear, axes[0]), kOk);
    ASSERT_EQ(initAxisRecordMulti(graph, series, kAxisY, kLinear, axes[1]), kOk);
    for (AxisRecord& axis : axes) {
      axis.tickType = 2;
      axis.gridLineType = 1;
      axis.gridColour = 11;
      axis.axisColour = 3;
      axis.minorTickColour = 13;
      axis.titleColour = 1;
      axis.labelFont = 4;
      axis.labelDecimals -= 2;
      axis.gridStyle = (&axis == &axes[1]) ? 4 : 1;  // zero line across
    }
    axes[0].title = paddedText("Time (s)", kAxisTitleLength);
    axes[1].title = paddedText("Amplitude", kAxisTitleLength);
    ASSERT_EQ(drawGraph(canvas, graph, axes, 2), kOk);
    ASSERT_EQ(drawSeriesMulti(canvas, graph, data, series, axes[0], axes[1]), kOk);
    save(type);

    expectFrame(graph);
    EXPECT_TRUE(near(px(5000), py(kPlotBottom), 3));  // bottom axis line
    // Centre of the filled marker of the first point (0, 3).
    const double y = 6032 - (3.0 - axes[1].low) / (axes[1].high - axes[1].low) * 4784;
    const double x = 1300 - axes[0].low / (axes[0].high - axes[0].low) * 7640;
    EXPECT_EQ(pixel(px(x), py(y)), colour(2));
  }
}

TEST_F(GraphPictures, PolarGraph) {
  GraphRecord graph = newGraph(kPolar);
  graph.title = paddedText("Antenna pattern", kGraphTitleLength);
  graph.subtitle = paddedText("cardioid", kGraphTitleLength);
  const int points = 73;
  std::vector<float> data;
  for (int i = 0; i < points; ++i) {
    const double theta = 2 * std::numbers::pi * i / (points - 1);
    data.push_back(static_cast<float>(1.0 + std::cos(theta)));
    data.push_back(static_cast<float>(theta));
  }
  SeriesRecord series;
  ASSERT_EQ(initSeriesRecord(graph, points, data, series), kOk);
  series.markerType = 0;
  series.title = paddedText("1 + cos t", kSeriesTitleLength);
  std::vector<AxisRecord> axes(2);
  ASSERT_EQ(initAxisRecord(graph, series, kAxisR, kLinear, axes[0]), kOk);
  ASSERT_EQ(initAxisRecord(graph, series, kAxisTheta, kLinear, axes[1]), kOk);
  axes[0].gridStyle = 1;
  axes[1].gridStyle = 1;
  axes[0].gridColour = axes[1].gridColour = 7;
  ASSERT_EQ(drawGraph(canvas, graph, axes, 1), kOk);
  ASSERT_EQ(drawSeries(canvas, graph, data, series, axes[0], axes[1]), kOk);
  save(kPolar);

  expectFrame(graph);
  EXPECT_TRUE(near(px(5120), py(3640 - 2560), axes[1].axisColour));  // top of the circle
  // The curve starts at r = 2 on the right, halfway out when R runs 0..4.
  const double r = 2.0 * 2560 / (axes[0].high - axes[0].low);
  EXPECT_TRUE(near(px(5120 + r), py(3640), series.lineColour, 2));
}

}  // namespace
}  // namespace tavel::graph

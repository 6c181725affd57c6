// SPDX-License-Identifier: GPL-3.0-or-later
#include "graph/series.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numbers>

#include "graph/marks.h"
#include "graph_support.h"

namespace tavel::graph {
namespace {

using testing::RecordedCall;
using testing::RecordingCanvas;
using testing::Segment;

constexpr double kSy = 12.8;  // world units per pixel of an 800 x 600 graph

// A drawn x-y (or polar) graph over 0..10 on both axes, announced for
// `announced` series, with the canvas log cleared.
struct Plot {
  RecordingCanvas canvas;
  GraphRecord graph;
  std::vector<AxisRecord> axes;
  explicit Plot(int type, int announced = 1) : graph(testing::windowGraph(type)) {
    if (type == kPolar) {
      axes = {testing::linearAxis(kAxisR, 1, 0, 5, 1, 1),
              testing::linearAxis(kAxisTheta, 4, 0, 2 * std::numbers::pi, std::numbers::pi / 2, 1)};
    } else {
      axes = {testing::linearAxis(kAxisX, 1, 0, 10, 2, 1),
              testing::linearAxis(kAxisY, 3, 0, 10, 2, 1)};
    }
    EXPECT_EQ(drawGraph(canvas, graph, axes, announced), kOk);
    canvas.clearLog();
  }
  const AxisRecord& x() const { return axes[0]; }
  const AxisRecord& y() const { return axes[1]; }
};

SeriesRecord defaulted(GraphRecord& graph, int points, const std::vector<float>& data) {
  SeriesRecord series;
  GraphRecord copy = graph;  // defaults must not disturb the drawn graph's counters
  EXPECT_EQ(initSeriesRecord(copy, points, data, series), kOk);
  return series;
}

// Shapes drawn inside the plot area (the legend lies below it).
int shapesInPlot(const RecordingCanvas& canvas, const std::string& name) {
  int count = 0;
  for (const RecordedCall& call : canvas.calls()) {
    if (call.name == name && call.args[2] < kPlotBottom) ++count;
  }
  return count;
}

TEST(SeriesPlotting, RefusedBeforeDrawingAndBeyondTheAnnouncement) {
  RecordingCanvas canvas;
  GraphRecord graph = testing::windowGraph(kXY);
  const std::vector<float> data = {1, 1, 2, 2};
  SeriesRecord series = defaulted(graph, 2, data);
  AxisRecord axis = testing::linearAxis(kAxisX, 1, 0, 10, 2, 1);
  EXPECT_EQ(drawSeries(canvas, graph, data, series, axis, axis), kNotDrawn);
  EXPECT_EQ(drawCategorySeriesMulti(canvas, graph, {}, data, {}, axis, axis), kCountError);
  EXPECT_TRUE(canvas.calls().empty());

  Plot plot(kXY, 1);
  ASSERT_EQ(drawSeries(plot.canvas, plot.graph, data, series, plot.x(), plot.y()), kOk);
  EXPECT_EQ(plot.graph.legendEntriesDrawn, 1);
  plot.canvas.clearLog();
  EXPECT_EQ(drawSeries(plot.canvas, plot.graph, data, series, plot.x(), plot.y()), kTypeError);
  EXPECT_EQ(plot.graph.legendEntriesDrawn, 1);
  EXPECT_EQ(testing::segments(plot.canvas).size(), 1u);       // its line is drawn
  EXPECT_EQ(shapesInPlot(plot.canvas, "rectangleWorld"), 2);  // and its square markers
  EXPECT_FALSE(testing::hasText(plot.canvas, series.title));  // but no legend entry
}

TEST(SeriesPlotting, BadRecordsAndAxesRefused) {
  Plot plot(kXY, 3);
  const std::vector<float> data = {1, 1, 2, 2};
  SeriesRecord series = defaulted(plot.graph, 2, data);
  const GraphRecord before = plot.graph;
  SeriesRecord wrong = series;
  wrong.valuesPerPoint = 1;
  EXPECT_EQ(drawSeries(plot.canvas, plot.graph, data, wrong, plot.x(), plot.y()), kSeriesError);
  wrong = series;
  wrong.pointCount = 3;  // more points than the data holds
  EXPECT_EQ(drawSeries(plot.canvas, plot.graph, data, wrong, plot.x(), plot.y()), kSeriesError);
  AxisRecord flat = plot.y();
  flat.high = flat.low;
  EXPECT_EQ(drawSeries(plot.canvas, plot.graph, data, series, plot.x(), flat), kAxisError);
  EXPECT_TRUE(testing::callsNamed(plot.canvas, "lineToWorld").empty());

  plot.canvas.setFontAnswer(graphFontOptions(series.legendFont), 0);
  EXPECT_EQ(drawSeries(plot.canvas, plot.graph, data, series, plot.x(), plot.y()), kFontError);
  EXPECT_EQ(plot.graph.legendEntriesDrawn, before.legendEntriesDrawn);
}

TEST(SeriesPlotting, LinesMarkersAndErrorBars) {
  Plot plot(kXYErrors, 3);
  const std::vector<float> data = {5, 5, 1, /**/ 8, 2, 0.5};
  SeriesRecord series = defaulted(plot.graph, 2, data);
  series.markerType = 7;
  ASSERT_EQ(drawSeries(plot.canvas, plot.graph, data, series, plot.x(), plot.y()), kOk);
  const auto lines = testing::segments(plot.canvas);
  // Joining line from (5, 5) to (8, 2), then the error bar of the first point.
  EXPECT_DOUBLE_EQ(lines[0].x1, 5120);
  EXPECT_DOUBLE_EQ(lines[0].y1, 3640);
  EXPECT_FLOAT_EQ(lines[0].x2, 1300 + 0.8f * 7640);
  EXPECT_FLOAT_EQ(lines[1].y2, static_cast<float>(6032 - 0.6 * 4784));  // up to y + e
  EXPECT_DOUBLE_EQ(lines[2].x1, 5040);                                  // cap 80 each side
  EXPECT_DOUBLE_EQ(lines[2].x2, 5200);
  EXPECT_FLOAT_EQ(lines[4].y2, static_cast<float>(6032 - 0.4 * 4784));  // down to y - e
  EXPECT_EQ(shapesInPlot(plot.canvas, "rectangleWorld"), 2);

  plot.canvas.clearLog();
  series.markerType = 0;  // no markers: no error bars either
  series.lineType = 0;    // and no joining line
  ASSERT_EQ(drawSeries(plot.canvas, plot.graph, data, series, plot.x(), plot.y()), kOk);
  EXPECT_TRUE(testing::segments(plot.canvas).empty());  // the legend has no line either

  // A hand-made record without error values: markers only, nothing read beyond the data.
  plot.canvas.clearLog();
  const std::vector<float> pairs = {5, 5, 8, 2};
  SeriesRecord twoValues = series;
  twoValues.valuesPerPoint = 2;
  twoValues.markerType = 7;
  ASSERT_EQ(drawSeries(plot.canvas, plot.graph, pairs, twoValues, plot.x(), plot.y()), kOk);
  EXPECT_EQ(shapesInPlot(plot.canvas, "rectangleWorld"), 2);
  EXPECT_TRUE(testing::segments(plot.canvas).empty());
}

TEST(SeriesPlotting, PolarPointOnTheCircle) {
  Plot plot(kPolar);
  const std::vector<float> data = {5, 0};
  SeriesRecord series = defaulted(plot.graph, 1, data);
  series.markerType = 4;
  ASSERT_EQ(drawSeries(plot.canvas, plot.graph, data, series, plot.x(), plot.y()), kOk);
  const auto circles = testing::callsNamed(plot.canvas, "ellipseWorld");
  ASSERT_FALSE(circles.empty());
  EXPECT_EQ(circles[0].args, (std::vector<double>{2, 7680 - 64, 3640 - 64, 7680 + 64, 3640 + 64}));
}

TEST(Markers, Shapes) {
  RecordingCanvas canvas;
  drawMarker(canvas, 1000, 2000, 2, 5);
  drawMarker(canvas, 1000, 2000, 6, 5);
  drawMarker(canvas, 1000, 2000, 10, 5);
  drawMarker(canvas, 1000, 2000, 0, 5);
  const auto lines = canvas.lines();
  EXPECT_EQ(lines[0], "setColour 5");
  EXPECT_EQ(lines[3], "polygonWorld 2 1000 1936 1064 2064 936 2064");
  EXPECT_EQ(lines[8], "lineToWorld 1064 1936");
  EXPECT_EQ(lines.back(),
            "polygonWorld 3 1000 2064 1045.248 2045.248 1064 2000 1045.248 1954.752 1000 1936 "
            "954.752 1954.752 936 2000 954.752 2045.248");
}

TEST(Legend, BoxOfTwoAndOfFiveEntries) {
  const LegendBox two = legendBox(2, kSy);
  EXPECT_EQ(two.rows, 1);
  EXPECT_EQ(two.width, 4000);
  EXPECT_EQ(two.left, 3120);
  EXPECT_DOUBLE_EQ(two.top, 6032 + 640 + 16 * kSy);
  const LegendBox five = legendBox(5, kSy);
  EXPECT_EQ(five.rows, 2);
  EXPECT_EQ(five.columns, 3);
  EXPECT_EQ(legendBox(8, kSy).columns, 4);

  RecordingCanvas canvas;
  selectGraphFont(canvas, 2);
  drawLegendEntry(canvas, 12.8, kSy, 4, 5, 1, 3, 0, 0, 0, 0, 9, "Fourth", 15);
  const auto box = testing::callsNamed(canvas, "rectangleWorld");
  ASSERT_EQ(box.size(), 1u);
  EXPECT_EQ(box[0].args, (std::vector<double>{2, 2120, five.top, 8120, five.top + 640}));
  const auto text = testing::texts(canvas);
  ASSERT_EQ(text.size(), 1u);  // row 2, column 1
  EXPECT_DOUBLE_EQ(text[0].x, 2120 + 160 + 272);
  EXPECT_DOUBLE_EQ(text[0].y, five.top + 1.5 * 320 - 0.5 * 20 * kSy);

  canvas.clearLog();
  drawLegendEntry(canvas, 12.8, kSy, 1, 9, 1, 3, 0, 0, 0, 0, 9, "Too many", 15);
  EXPECT_TRUE(canvas.calls().empty());
}

// The legend of a two-series plot, entries drawn in the order given, each
// title in the given legend font.
struct TwoEntryLegend {
  Plot plot{kXY, 2};
  explicit TwoEntryLegend(int font, const std::string& first, const std::string& second) {
    const std::vector<float> data = {1, 1, 2, 2};
    for (const std::string& title : {first, second}) {
      SeriesRecord series = defaulted(plot.graph, 2, data);
      series.title = paddedText(title, kSeriesTitleLength);
      series.legendFont = font;
      EXPECT_EQ(drawSeries(plot.canvas, plot.graph, data, series, plot.x(), plot.y()), kOk);
    }
  }
  // The last border drawn around the legend: {left, top, right, bottom}.
  std::vector<double> box() const {
    std::vector<double> last;
    for (const RecordedCall& call : plot.canvas.calls()) {
      // (the legend's square marker samples are far narrower)
      if (call.name == "rectangleWorld" && call.args[0] == 2 && call.args[2] > kPlotBottom &&
          call.args[3] - call.args[1] > 1000) {
        last.assign(call.args.begin() + 1, call.args.end());
      }
    }
    return last;
  }
  // Where a title was last written.
  double textX(const std::string& title) const {
    double x = -1;
    for (const auto& t : testing::texts(plot.canvas)) {
      if (trimBlanks(t.text) == title) x = t.x;
    }
    return x;
  }
};

TEST(Legend, CellsAsWideAsTheirTitlesInEachFont) {
  const std::string longTitle = "_ln_RATE_Predicted";  // 18 characters
  const std::string line = "45 degree line";
  const int pixelWidth[7] = {0, 10, 9, 13, 8, 12, 6};  // the fonts' w option
  for (int font = 1; font <= 6; ++font) {
    SCOPED_TRACE(font);
    // Sample inset 160 and text offset 272 before the title, 160 after it.
    const double need = 160 + 272 + 18 * pixelWidth[font] * 12.8 + 160;
    const double cell = std::max(2000.0, need);
    for (bool longFirst : {true, false}) {
      const TwoEntryLegend legend(font, longFirst ? longTitle : line, longFirst ? line : longTitle);
      const double left = 5120 - cell;  // two cells centred under the plot area
      const std::vector<double> box = legend.box();
      ASSERT_EQ(box.size(), 4u);
      EXPECT_NEAR(box[0], left, 1e-9);
      EXPECT_NEAR(box[2], 5120 + cell, 1e-9);
      EXPECT_NEAR(legend.textX(longFirst ? longTitle : line), left + 432, 1e-9);
      EXPECT_NEAR(legend.textX(longFirst ? line : longTitle), left + cell + 432, 1e-9);
      // A legend that fits the standard cells is drawn without clearing it.
      const auto fills = testing::callsNamed(legend.plot.canvas, "rectangleWorld");
      const bool cleared = std::any_of(fills.begin(), fills.end(), [](const RecordedCall& c) {
        return c.args[0] == 3 && c.args[2] > kPlotBottom;
      });
      EXPECT_EQ(cleared, need > 2000 && !longFirst);
    }
  }
}

TEST(Legend, BoxStaysInsideThePictureAndCutsWholeCharacters) {
  Plot plot(kXY, 4);
  const std::vector<float> data = {1, 1, 2, 2};
  const std::vector<std::string> titles = {"WWWWWWWWWWWWWWWWWWWW", "abcdefghijklm\xC3\xA9xyz",
                                           "short", "WWWWWWWWWWWWWWWWWWWW"};
  for (const std::string& title : titles) {
    SeriesRecord series = defaulted(plot.graph, 2, data);
    series.title = paddedText(title, kSeriesTitleLength);
    series.legendFont = 1;  // 10 pixels a character: 20 need 3152 units a cell
    ASSERT_EQ(drawSeries(plot.canvas, plot.graph, data, series, plot.x(), plot.y()), kOk);
  }
  // Four cells of (10240 - 2 x 160) / 4 = 2480 leave 1888 units (147 pixels) a title.
  const LegendBox box = legendBox(4, kSy, 1e9);
  EXPECT_EQ(box.cellWidth, 2480);
  EXPECT_EQ(box.left, 160);
  std::vector<std::string> shown;
  for (const auto& t : testing::texts(plot.canvas)) shown.push_back(t.text);
  ASSERT_GE(shown.size(), 4u);
  shown.erase(shown.begin(), shown.end() - 4);  // the legend as last drawn
  EXPECT_EQ(shown,
            (std::vector<std::string>{"WWWWWWWWWWWWWW", "abcdefghijklm",
                                      paddedText("short", kSeriesTitleLength), "WWWWWWWWWWWWWW"}));
}

struct CategoryPlot {
  RecordingCanvas canvas;
  GraphRecord graph;
  std::vector<AxisRecord> axes;
  std::vector<std::string> labels = {"alpha", "beta"};
  CategoryPlot(int type, double yLow, int announced)
      : graph(testing::windowGraph(type)),
        axes{testing::linearAxis(kAxisX, 1, 0, 2, 1, 1),
             testing::linearAxis(kAxisY, 3, yLow, 10, 2, 1)} {
    EXPECT_EQ(drawGraph(canvas, graph, axes, announced), kOk);
    canvas.clearLog();
  }
};

TEST(CategorySeries, BarsSideBySideAndHangingBelowZero) {
  CategoryPlot plot(kCategoryBars, -10, 3);
  const std::vector<float> data = {5, -5, 1, 1, 2, 2};  // three series of two categories
  std::vector<SeriesRecord> series(3);
  GraphRecord copy = plot.graph;
  ASSERT_EQ(initCategorySeriesRecordMulti(copy, 2, plot.labels, data, series), kOk);
  ASSERT_EQ(drawCategorySeriesMulti(plot.canvas, plot.graph, plot.labels, data, series,
                                    plot.axes[0], plot.axes[1]),
            kOk);
  std::vector<RecordedCall> bars;
  for (const RecordedCall& call : testing::callsNamed(plot.canvas, "rectangleWorld")) {
    if (call.args[0] == platform::kBorder && call.args[2] < 6032) bars.push_back(call);
  }
  ASSERT_EQ(bars.size(), 6u);
  const double b = 1 / 3.5;
  const double perCategory = 7640 / 2.0;
  EXPECT_FLOAT_EQ(bars[0].args[1], static_cast<float>(1300 + 1.0 / 14 * perCategory));
  EXPECT_FLOAT_EQ(bars[1].args[1], static_cast<float>(1300 + (1.0 / 14 + b) * perCategory));
  EXPECT_NEAR(bars[0].args[3] - bars[0].args[1], b * perCategory - 16, 1e-3);
  // Bars stand on the zero line, halfway up this axis; -5 hangs down from it.
  EXPECT_EQ(bars[0].args[2], 3640);
  EXPECT_FLOAT_EQ(bars[0].args[4], static_cast<float>(6032 - 0.75 * 4784));
  EXPECT_FLOAT_EQ(bars[3].args[4], static_cast<float>(6032 - 0.25 * 4784));  // category 2, -5
  // Patterned bars are laid on black first.
  EXPECT_EQ(plot.canvas.lines()[1], "setColour 0");  // after the title font check

  const auto names = testing::texts(plot.canvas);
  const auto* alpha = testing::findText(names, "alpha");
  ASSERT_NE(alpha, nullptr);
  EXPECT_DOUBLE_EQ(alpha->x, 1300 + 0.25 * 7640 - 5 * 6 * 12.8 / 2);
  EXPECT_DOUBLE_EQ(alpha->y, 6032 + 342 - 12 * kSy / 2);
}

TEST(CategorySeries, ErrorBarsWithoutMarkersAndChecks) {
  CategoryPlot plot(kCategoryLinesErrors, 0, 2);
  const std::vector<float> data = {4, 1, 6, 2};
  SeriesRecord series;
  GraphRecord copy = plot.graph;
  ASSERT_EQ(initCategorySeriesRecord(copy, 2, plot.labels, data, series), kOk);
  series.markerType = 0;
  series.lineType = 0;
  ASSERT_EQ(drawCategorySeries(plot.canvas, plot.graph, plot.labels, data, series, plot.axes[0],
                               plot.axes[1]),
            kOk);
  const auto lines = testing::segments(plot.canvas);
  ASSERT_EQ(lines.size(), 8u);  // two error bars of four strokes, no joining line
  EXPECT_DOUBLE_EQ(lines[0].x1, 1300 + 0.25 * 7640);
  EXPECT_FLOAT_EQ(lines[0].y2, static_cast<float>(6032 - 0.5 * 4784));  // 4 + 1
  EXPECT_EQ(testing::callsNamed(plot.canvas, "polygonWorld").size(), 0u);

  AxisRecord wrongX = plot.axes[0];
  wrongX.high = 3;  // does not match the two categories
  EXPECT_EQ(
      drawCategorySeries(plot.canvas, plot.graph, plot.labels, data, series, wrongX, plot.axes[1]),
      kAxisError);
  EXPECT_EQ(plot.graph.legendEntriesDrawn, 1);
}

}  // namespace
}  // namespace tavel::graph

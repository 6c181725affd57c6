// SPDX-License-Identifier: GPL-3.0-or-later
#include "run/result_plots.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "graph/defaults.h"
#include "platform/headless/headless_runtime.h"
#include "platform/headless/recording_canvas.h"

namespace tavel::run {
namespace {

// ---------------------------------------------------------------------------
// The sample of large plots.

// Observation i (0-based) of a file whose rows are all different and whose y
// is a known function of x: a plotted pair is an observation exactly when
// its y is that function of its x.
double observedY(double x) { return 3.0 * x - 7.0; }

TEST(SamplePointsTest, EveryPlottedPairIsAnObservationSpreadOverTheWholeFile) {
  struct Case {
    int n, step, shown, lastRow;  // lastRow: 1-based row of the last point shown
  };
  // K = (n - 1) div 100000 + 1; rows 1, 1 + K, ...; (n - 1) div K + 1 points.
  for (const Case c : {Case{100000, 1, 100000, 100000}, Case{100001, 2, 50001, 100001},
                       Case{250000, 3, 83334, 250000}, Case{300000, 3, 100000, 299998},
                       Case{300001, 4, 75001, 300001}}) {
    SCOPED_TRACE(c.n);
    std::vector<double> x(c.n), y(c.n);
    for (int i = 0; i < c.n; ++i) {
      x[i] = i + 1;  // the row number, exact in a float below 2^24
      y[i] = observedY(x[i]);
    }
    EXPECT_EQ(plotSampleStep(c.n), c.step);
    std::vector<float> out;
    ASSERT_EQ(samplePoints(c.n, x.data(), y.data(), out), c.shown);
    ASSERT_EQ(out.size(), 2u * c.shown);
    EXPECT_LE(c.shown, kMaxPlotPoints);
    for (int i = 0; i < c.shown; ++i) {
      ASSERT_EQ(out[2 * i], static_cast<float>(1 + i * c.step));
      ASSERT_EQ(out[2 * i + 1], static_cast<float>(observedY(1 + i * c.step)));
    }
    EXPECT_EQ(out[2 * (c.shown - 1)], static_cast<float>(c.lastRow));
    EXPECT_GT(c.lastRow, c.n - c.step);  // the end of the file is shown
  }
  std::vector<float> out{1.0f};
  EXPECT_EQ(samplePoints(0, nullptr, nullptr, out), 0);
  EXPECT_TRUE(out.empty());
}

TEST(SamplePointsTest, LegendSaysHowManyOfHowMany) {
  EXPECT_EQ(sampleLegendText(100000, 100000), "");
  EXPECT_EQ(sampleLegendText(100000, 300000), "shown 100000/300000");
  EXPECT_EQ(sampleLegendText(100000, 1999999), "shown 100000/1999999");
  EXPECT_EQ(sampleLegendText(100000, 20000000), "100000 of 20000000");
}

// ---------------------------------------------------------------------------
// The straight line.

graph::AxisRecord axis(double low, double high) {
  graph::AxisRecord a;
  a.low = low;
  a.high = high;
  return a;
}

TEST(LineEndPointsTest, OnePerCentInsideTheXRange) {
  const auto e = lineEndPoints(axis(-10, 10), axis(-10, 10), 1.0, 0.0);
  const float x1 = static_cast<float>(-10.0 + static_cast<double>(0.01f) * 10.0);
  const float x2 = static_cast<float>(10.0 - static_cast<double>(0.01f) * 10.0);
  EXPECT_EQ(e[0], x1);
  EXPECT_EQ(e[1], x1);
  EXPECT_EQ(e[2], x2);
  EXPECT_EQ(e[3], x2);
}

TEST(LineEndPointsTest, ShortenedWhereItWouldLeaveTheYRange) {
  const auto e = lineEndPoints(axis(0, 10), axis(2, 5), 1.0, 0.0);
  const float y1 = static_cast<float>(2.0 + static_cast<double>(0.01f) * 2.0);
  const float y2 = static_cast<float>(5.0 - static_cast<double>(0.01f) * 5.0);
  EXPECT_EQ(e[1], y1);
  EXPECT_EQ(e[0], y1);  // x = (y - 0) / 1
  EXPECT_EQ(e[3], y2);
  EXPECT_EQ(e[2], y2);
}

TEST(LineEndPointsTest, FlatLineAboveTheRangeMovesToTheMiddle) {
  const auto e = lineEndPoints(axis(0, 10), axis(0, 10), 0.0, 20.0);
  const float x2 = static_cast<float>(10.0 - static_cast<double>(0.01f) * 10.0);
  EXPECT_EQ(e[0], 0.0f);
  EXPECT_EQ(e[1], 20.0f);  // Y1 is not below the range: left as computed
  EXPECT_EQ(e[3], static_cast<float>(10.0 - static_cast<double>(0.01f) * 10.0));
  EXPECT_EQ(e[2], x2 / 2.0f);
}

// ---------------------------------------------------------------------------
// Axis defaults on comfortable ranges.

graph::SeriesRecord seriesWithRanges(double xMin, double xMax, double yMin, double yMax) {
  graph::SeriesRecord s;
  s.dataKind = 1;
  s.pointCount = 2;
  s.valuesPerPoint = 2;
  s.xMin = xMin;
  s.xMax = xMax;
  s.yMin = yMin;
  s.yMax = yMax;
  return s;
}

TEST(ScaleAxisDefaultsTest, SmallRangesAreScaledForTheDefaultsAndBack) {
  graph::GraphRecord g;
  graph::initGraphRecord(graph::kXY, g);
  // Ranges 0.004 and 0.05: the smaller one gives k = -2, a factor of 100.
  graph::SeriesRecord s = seriesWithRanges(0.0, 0.004, 0.0, 0.05);
  graph::AxisRecord x;
  EXPECT_EQ(scaleAxisDefaults(g, s, graph::kAxisX, graph::kLinear, x), graph::kOk);
  // Defaults on 0..0.4: unit 1, 0 to 1 in ten intervals; back by 0.01f.
  const double t = static_cast<double>(1.0f / 100.0f);
  EXPECT_EQ(x.low, 0.0);
  EXPECT_EQ(x.high, 1.0 * t);
  EXPECT_DOUBLE_EQ(x.tickInterval, 0.1 * t);
  EXPECT_EQ(x.labelDecimals, 1);  // two fewer than the library's 3
  EXPECT_EQ(x.labelFont, 4);
  // The series ranges are restored up to the single-precision factors.
  EXPECT_EQ(s.xMax, 0.004 * 100.0 * t);
  EXPECT_EQ(s.yMax, 0.05 * 100.0 * t);
}

TEST(ScaleAxisDefaultsTest, OrdinaryRangesAreLeftAlone) {
  graph::GraphRecord g;
  graph::initGraphRecord(graph::kXY, g);
  graph::SeriesRecord s = seriesWithRanges(0.37, 2.9, -0.3, 0.7);
  graph::AxisRecord y;
  EXPECT_EQ(scaleAxisDefaults(g, s, graph::kAxisY, graph::kLinear, y), graph::kOk);
  EXPECT_EQ(y.low, -1.0);
  EXPECT_EQ(y.high, 1.0);
  EXPECT_EQ(y.tickInterval, 0.25);
  EXPECT_EQ(y.labelDecimals, 1);
  EXPECT_EQ(s.xMin, 0.37);
}

TEST(ScaleAxisDefaultsTest, ConstantVariableSkipsTheRescaling) {
  graph::GraphRecord g;
  graph::initGraphRecord(graph::kXY, g);
  graph::SeriesRecord s = seriesWithRanges(5.0, 5.0, 0.001, 0.002);
  graph::AxisRecord x, y;
  EXPECT_EQ(scaleAxisDefaults(g, s, graph::kAxisX, graph::kLinear, x), graph::kRangeError);
  EXPECT_EQ(s.xMin, 5.0);
  EXPECT_EQ(s.yMax, 0.002);  // untouched: no factor was applied
  EXPECT_EQ(scaleAxisDefaults(g, s, graph::kAxisY, graph::kLinear, y), graph::kOk);
  EXPECT_LT(y.low, 0.001 + 1e-12);
  EXPECT_GT(y.high, 0.002 - 1e-12);
  EXPECT_EQ(y.labelFont, 4);
}

// ---------------------------------------------------------------------------
// One plot and its records.

class PlotResultTest : public ::testing::Test {
 protected:
  PlotResultTest()
      : runtime_("", [] { return std::make_unique<platform::headless::RecordingCanvas>(); }),
        shell_(runtime_, state_),
        context_{runtime_, shell_, state_, {}} {}
  platform::headless::RecordingCanvas& canvas(int unit) {
    return static_cast<platform::headless::RecordingCanvas&>(*runtime_.canvasOf(unit));
  }
  platform::headless::HeadlessRuntime runtime_;
  app::AppState state_;
  app::Shell shell_;
  PlotContext context_;
};

TEST_F(PlotResultTest, RecordsCarryTheTitlesColoursAndLine) {
  ASSERT_TRUE(openPlotWindow(context_, 14, "Optimal Correlation"));
  const std::vector<double> x = {1, 2, 3, 4, 5}, y = {1.1, 1.9, 3.2, 3.9, 5.1};
  ASSERT_TRUE(plotResult(context_, 5, "Optimal Correlation",
                         "A subtitle that is longer than forty characters", "Sum[Transf_x]",
                         "A_Long_Response_Name_Trans", x.data(), y.data(), true, 1.0, 0.0));
  const PlotStorage& s = context_.storage;
  EXPECT_EQ(s.graph.graphType, graph::kXY);
  EXPECT_EQ(s.graph.title, "Optimal Correlation" + std::string(21, ' '));
  EXPECT_EQ(s.graph.subtitle, "A subtitle that is longer than forty cha");
  EXPECT_EQ(s.graph.right, 799);
  EXPECT_EQ(s.graph.bottom, 599);
  EXPECT_EQ(s.graph.maximiseWindow, graph::kFalse);
  EXPECT_EQ(s.graph.backgroundColour, 15);
  EXPECT_EQ(s.series[0].title, "A_Long_Response_Name");
  EXPECT_EQ(s.series[0].pointCount, 5);
  EXPECT_EQ(s.series[0].lineType, 0);
  EXPECT_EQ(s.series[0].markerColour, 2);
  EXPECT_EQ(s.axes[0].title, "Sum[Transf_x]" + std::string(12, ' '));
  EXPECT_EQ(s.axes[1].title, "A_Long_Response_Name_Tran");
  EXPECT_EQ(s.axes[0].tickType, 2);
  EXPECT_EQ(s.axes[1].axisColour, 3);
  EXPECT_EQ(s.axes[1].minorTickColour, 13);
  EXPECT_EQ(s.series[1].title, "45 degree line      ");
  EXPECT_EQ(s.series[1].lineColour, 12);
  EXPECT_EQ(s.series[1].markerType, 0);
  // The line's end points lie inside the axes defaulted on the data.
  EXPECT_EQ(s.lineSeries, lineEndPoints(s.axes[0], s.axes[1], 1.0, 0.0));
  EXPECT_FALSE(runtime_.stopMessage().has_value());
  // Drawn into the window, with the title; captures are off: nothing saved.
  bool titleDrawn = false, saved = false;
  for (const auto& call : canvas(14).calls()) {
    titleDrawn = titleDrawn || (call.name == "outText" && call.text == "Optimal Correlation");
    saved = saved || call.name == "saveImage";
  }
  EXPECT_TRUE(titleDrawn);
  EXPECT_FALSE(saved);
}

// Values a float cannot hold are drawn in units of a power of ten that the
// axis title names; a plot with the 45-degree line keeps one unit for both
// axes, so that the line still means "predicted = measured".
TEST_F(PlotResultTest, ValuesBeyondSinglePrecisionAreDrawnInNamedUnits) {
  ASSERT_TRUE(openPlotWindow(context_, 11, "w"));
  const std::vector<double> big = {4.2e162, 4.5e162, 5.0e162, 5.7e162};
  const std::vector<double> tx = {-1.0, -0.5, 0.5, 1.0};
  ASSERT_TRUE(plotResult(context_, 4, "t", "s", std::string(50, 'T'), "Transformed", big.data(),
                         tx.data(), false, 1.0, 0.0));
  const PlotStorage& s = context_.storage;
  EXPECT_EQ(s.axes[0].title, std::string(16, 'T') + " / 1E+162");
  EXPECT_EQ(s.axes[1].title, "Transformed" + std::string(14, ' '));
  EXPECT_EQ(s.dataSeries[0], 4.2f);
  EXPECT_EQ(s.dataSeries[1], -1.0f);
  EXPECT_TRUE(std::isfinite(s.axes[0].low) && std::isfinite(s.axes[0].high));
  EXPECT_LE(s.axes[0].low, 4.2f);
  EXPECT_GE(s.axes[0].high, 5.7f);

  ASSERT_TRUE(openPlotWindow(context_, 12, "w"));
  const std::vector<double> measured = {2e-200, 3e-200, 5e-200},
                            predicted = {2e-199, 3e-200, 4e-200};
  ASSERT_TRUE(plotResult(context_, 3, "t", "s", "Y_Meas", "Y_Predicted", measured.data(),
                         predicted.data(), true, 1.0, 0.0));
  EXPECT_EQ(s.axes[0].title, "Y_Meas / 1E-199" + std::string(10, ' '));
  EXPECT_EQ(s.axes[1].title, "Y_Predicted / 1E-199" + std::string(5, ' '));
  EXPECT_FLOAT_EQ(s.dataSeries[0], 0.2f);
  EXPECT_FLOAT_EQ(s.dataSeries[1], 2.0f);
}

TEST_F(PlotResultTest, CapturesSaveTheWholeWindowAfterDrawing) {
  state_.options.ScreenCaptures = true;
  shell_.saveCapture(true);
  ASSERT_TRUE(openPlotWindow(context_, 11, "w"));
  const std::vector<double> x = {1, 2, 3}, y = {3, 1, 2};
  ASSERT_TRUE(plotResult(context_, 3, "t", "s", "x", "y", x.data(), y.data(), false, 1.0, 0.0));
  const auto& calls = canvas(11).calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().name, "saveImage");
  EXPECT_EQ(calls.back().args, (std::vector<double>{0, 0, 799, 599}));
  EXPECT_NE(calls.back().text.find("pic_A.bmp"), std::string::npos);
}

// A sampled plot has one legend entry more, without a swatch, naming the
// count; a plot of every observation has none.
TEST_F(PlotResultTest, SampledPlotNamesItsCountInTheLegend) {
  auto legendTexts = [this](int unit) {
    std::vector<std::string> texts;
    for (const auto& call : canvas(unit).calls()) {
      const std::string text = call.text.substr(0, call.text.find_last_not_of(' ') + 1);
      if (call.name == "outText" && text.rfind("shown", 0) == 0) texts.push_back(text);
    }
    return texts;
  };
  const int n = 250000;
  std::vector<double> x(n), y(n);
  for (int i = 0; i < n; ++i) {
    x[i] = i;
    y[i] = (i % 7) * 0.5;
  }
  ASSERT_TRUE(openPlotWindow(context_, 11, "w"));
  ASSERT_TRUE(plotResult(context_, n, "t", "s", "x", "y", x.data(), y.data(), false, 1.0, 0.0));
  EXPECT_EQ(context_.storage.series[0].pointCount, 83334);
  EXPECT_EQ(legendTexts(11), (std::vector<std::string>{"shown 83334/250000"}));
  EXPECT_EQ(context_.storage.graph.legendEntriesDrawn, 2);

  ASSERT_TRUE(openPlotWindow(context_, 12, "w"));
  ASSERT_TRUE(
      plotResult(context_, 100000, "t", "s", "x", "y", x.data(), y.data(), false, 1.0, 0.0));
  EXPECT_TRUE(legendTexts(12).empty());
  EXPECT_EQ(context_.storage.graph.legendEntriesDrawn, 1);
}

// The window can draw the same plot at any size of its own: the viewport is
// the whole canvas given, the fonts are the ones of the 800 x 600 picture.
TEST_F(PlotResultTest, LeavesARedrawForTheWindowsOwnSize) {
  ASSERT_TRUE(openPlotWindow(context_, 11, "w"));
  const std::vector<double> x = {1, 2, 3}, y = {3, 1, 2};
  ASSERT_TRUE(plotResult(context_, 3, "t", "s", "x", "y", x.data(), y.data(), true, 1.0, 0.0));
  ASSERT_TRUE(static_cast<bool>(runtime_.activeWindowRedraw()));
  auto fontsAndViewports = [](const platform::headless::RecordingCanvas& c) {
    std::vector<std::string> seen;
    for (const auto& call : c.calls())
      if (call.name == "setFont" || call.name == "setViewport")
        seen.push_back(platform::headless::RecordingCanvas::formatCall(call));
    return seen;
  };
  platform::headless::RecordingCanvas own;
  own.window = {500, 380};
  runtime_.activeWindowRedraw()(own);
  std::vector<std::string> expected = fontsAndViewports(canvas(11));
  for (std::string& line : expected) {
    const auto at = line.find("799 599");
    if (at != std::string::npos) line.replace(at, 7, "499 379");
  }
  EXPECT_EQ(fontsAndViewports(own), expected);
  EXPECT_NE(std::find(expected.begin(), expected.end(), "setViewport 0 0 499 379"), expected.end());
}

TEST_F(PlotResultTest, UnreadableWindowStopsTheProgram) {
  ASSERT_TRUE(openPlotWindow(context_, 12, "w"));
  canvas(12).windowReadable = false;
  const std::vector<double> x = {1, 2}, y = {1, 2};
  EXPECT_FALSE(plotResult(context_, 2, "t", "s", "x", "y", x.data(), y.data(), true, 1.0, 0.0));
  EXPECT_EQ(runtime_.stopMessage().value_or(""), "Window Not Open");
}

TEST_F(PlotResultTest, NoWindowStopsTheProgram) {
  const std::vector<double> x = {1, 2}, y = {1, 2};
  EXPECT_FALSE(plotResult(context_, 2, "t", "s", "x", "y", x.data(), y.data(), false, 1.0, 0.0));
  ASSERT_TRUE(runtime_.stopMessage().has_value());
  EXPECT_EQ(*runtime_.stopMessage(), "Window Not Open");
}

TEST(PlotTextsTest, SubtitlesAndWindowTitles) {
  EXPECT_EQ(correlationSubtitle(0.98765), "Final squared correlation =  0.9877");
  EXPECT_EQ(predictionSubtitle(0.0123, 12.345), "Avedev=  0.123E-01   Stdev=   12.3    ");
  const std::string exp = expPredictionSubtitle(5.55, 12.25);
  EXPECT_EQ(exp, "Exp_AvD=     5.6 %   Exp_StD%=    12.3 %");
  EXPECT_EQ(exp.size(), 40u);
  const std::string name = "X1" + std::string(48, ' ');
  EXPECT_EQ(transformationWindowTitle(name).size(), 72u);
  EXPECT_EQ(correctionWindowTitle(name), name + "Correction");
}

}  // namespace
}  // namespace tavel::run

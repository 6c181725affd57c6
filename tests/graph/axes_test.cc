// SPDX-License-Identifier: GPL-3.0-or-later
#include "graph/axes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <set>

#include "graph/scale.h"
#include "graph_support.h"

namespace tavel::graph {
namespace {

using testing::RecordingCanvas;
using testing::Segment;

constexpr double kTolerance = 1e-6;  // world units; positions come from summed steps

// X axis at the bottom and Y axis at the left, as most graphs have them.
struct CartesianGraph {
  RecordingCanvas canvas;
  GraphRecord graph = testing::windowGraph(kXY);
  std::vector<AxisRecord> axes = {testing::linearAxis(kAxisX, 1, 0, 10, 2, 5),
                                  testing::linearAxis(kAxisY, 3, 0, 1, 0.5, 1)};
  int draw(int seriesCount = 1) { return drawGraph(canvas, graph, axes, seriesCount); }
};

// Ticks of the bottom axis (tick type 2 reaches below the line at 6032).
std::vector<Segment> bottomTicks(const RecordingCanvas& canvas) {
  std::vector<Segment> out;
  for (const Segment& s : testing::segments(canvas)) {
    if (s.y2 == kPlotBottom && s.x1 == s.x2 && (s.y1 == 6272 || s.y1 == 6112)) out.push_back(s);
  }
  return out;
}

bool hasSegment(const RecordingCanvas& canvas, double x1, double y1, double x2, double y2) {
  for (const Segment& s : testing::segments(canvas)) {
    if (s.x1 == x1 && s.y1 == y1 && s.x2 == x2 && s.y2 == y2) return true;
  }
  return false;
}

TEST(DrawGraph, FailuresLeaveTheRecordUnchanged) {
  CartesianGraph g;
  EXPECT_EQ(drawGraph(g.canvas, g.graph, {}, 1), kCountError);
  EXPECT_EQ(g.draw(0), kCountError);
  EXPECT_TRUE(g.canvas.calls().empty());

  g.graph.bottom = 601;  // beyond the window (its height itself is accepted)
  EXPECT_EQ(g.draw(), kWindowError);
  g.graph.bottom = 599;

  g.canvas.setFontAnswer(graphFontOptions(g.graph.titleFont), 0);
  EXPECT_EQ(g.draw(), kFontError);
  g.canvas.setFontAnswer(graphFontOptions(g.graph.titleFont), 1);

  g.axes[1].position = 1;  // two axes at the bottom
  EXPECT_EQ(g.draw(), kAxisError);
  g.axes[1].position = 3;
  g.axes[0].tickInterval = 0;
  EXPECT_EQ(g.draw(), kAxisError);
  g.axes[0].tickInterval = 2;
  g.axes.resize(1);
  EXPECT_EQ(g.draw(), kAxisError);
  g.graph.graphType = 7;
  EXPECT_EQ(g.draw(), kTypeError);

  EXPECT_EQ(g.graph.timesDrawn, 0);
  EXPECT_EQ(g.graph.legendEntriesExpected, 0);
}

TEST(DrawGraph, FrameTitlesAndCounters) {
  CartesianGraph g;
  g.graph.subtitle = paddedText("second", kGraphTitleLength);
  ASSERT_EQ(g.draw(2), kOk);
  ASSERT_EQ(g.draw(2), kOk);
  EXPECT_EQ(g.graph.timesDrawn, 2);
  EXPECT_EQ(g.graph.legendEntriesExpected, 4);

  const auto lines = g.canvas.lines();
  auto has = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  EXPECT_TRUE(has("rectangleWorld 2 0 0 10240 7680"));
  EXPECT_TRUE(has("rectangleWorld 2 10240 7680 10112 7552"));  // corner erased
  EXPECT_TRUE(has("ellipseWorld 2 -128 7808 128 7552"));       // and arced inwards
  // 800 x 600 pixels: 12.8 world units per pixel; font 1 is 20 x 10 pixels.
  const auto all = testing::texts(g.canvas);
  const auto* title = testing::findText(all, "Graph");
  ASSERT_NE(title, nullptr);
  EXPECT_DOUBLE_EQ(title->x, (10240 - 5 * 10 * 12.8) / 2);
  EXPECT_DOUBLE_EQ(title->y, 192 - 20 * 12.8 / 2);
  EXPECT_EQ(title->colour, 14);
  const auto* second = testing::findText(all, "second");
  ASSERT_NE(second, nullptr);
  EXPECT_DOUBLE_EQ(second->y, 8 * 20 + 320 - 20 * 12.8 / 2);  // font 2 is 20 pixels high too
}

TEST(DrawGraph, PlotAreaAlwaysClosed) {
  CartesianGraph g;
  g.axes[0].axisColour = 4;
  g.axes[1].axisColour = 5;
  ASSERT_EQ(g.draw(), kOk);
  for (const Segment& s : testing::segments(g.canvas)) {
    if (s.x1 == kPlotLeft && s.y1 == kPlotTop && s.x2 == kPlotRight && s.y2 == kPlotTop) {
      EXPECT_EQ(s.colour, 4);  // the top edge by the bottom axis
    }
    if (s.x1 == kPlotRight && s.y1 == kPlotTop && s.x2 == kPlotRight && s.y2 == kPlotBottom) {
      EXPECT_EQ(s.colour, 5);  // the right edge by the left axis
    }
  }
  EXPECT_TRUE(hasSegment(g.canvas, kPlotLeft, kPlotTop, kPlotRight, kPlotTop));
  EXPECT_TRUE(hasSegment(g.canvas, kPlotRight, kPlotTop, kPlotRight, kPlotBottom));

  // Two X axes and no Y axis: the sides are closed in the graph colour.
  CartesianGraph twoX;
  twoX.axes[1] = testing::linearAxis(kAxisX, 2, 0, 5, 1, 1);
  ASSERT_EQ(twoX.draw(), kOk);
  EXPECT_TRUE(hasSegment(twoX.canvas, kPlotLeft, kPlotTop, kPlotLeft, kPlotBottom));
  EXPECT_TRUE(hasSegment(twoX.canvas, kPlotRight, kPlotTop, kPlotRight, kPlotBottom));
}

TEST(CartesianTicks, LinearMajorMinorLabelsAndGrid) {
  CartesianGraph g;
  g.axes[1].labelDecimals = 1;
  ASSERT_EQ(g.draw(), kOk);
  const auto ticks = bottomTicks(g.canvas);
  ASSERT_EQ(ticks.size(), 26u);
  EXPECT_EQ(
      std::count_if(ticks.begin(), ticks.end(), [](const Segment& s) { return s.y1 == 6272; }), 6);
  EXPECT_NEAR(ticks.back().x1, kPlotRight, kTolerance);

  std::vector<double> grid;
  for (const Segment& s : testing::segments(g.canvas)) {
    if (s.colour == 11 && s.y1 == kPlotTop && s.y2 == kPlotBottom) grid.push_back(s.x1);
  }
  ASSERT_EQ(grid.size(), 4u);  // at 2, 4, 6, 8: none on the edges
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(grid[k], kPlotLeft + (k + 1) * 0.2 * kPlotWidth, 1e-6);

  std::set<std::string> labels;
  for (const auto& t : testing::texts(g.canvas)) {
    if (t.text.find(".000") != std::string::npos) labels.insert(t.text);
  }
  EXPECT_EQ(labels, (std::set<std::string>{"0.000", "2.000", "4.000", "6.000", "8.000", "10.000"}));
  // Labels hang 144 below the outside tick: centred on 6032 + 240 + 144.
  const auto all = testing::texts(g.canvas);
  EXPECT_DOUBLE_EQ(testing::findText(all, "2.000")->y, 6416 - 6 * 12.8);
  // Y labels are right-aligned 64 left of the outside tick.
  EXPECT_DOUBLE_EQ(testing::findText(all, "0.5")->x, 1300 - 240 - 64 - 3 * 6 * 12.8);
}

TEST(CartesianTicks, LogarithmicDecades) {
  CartesianGraph g;
  g.axes[0] = testing::linearAxis(kAxisX, 1, 1, 100, 1, 9);
  g.axes[0].scaleType = kLog10;
  ASSERT_EQ(g.draw(), kOk);
  const auto ticks = bottomTicks(g.canvas);
  ASSERT_EQ(ticks.size(), 19u);
  EXPECT_NEAR(ticks[1].x1, kPlotLeft + std::log10(2.0) / 2 * kPlotWidth, kTolerance);
  EXPECT_NEAR(ticks[10].x1, kPlotLeft + std::log10(20.0) / 2 * kPlotWidth, kTolerance);
  EXPECT_NEAR(ticks[18].x1, kPlotRight, kTolerance);
  EXPECT_TRUE(testing::hasText(g.canvas, "1.000"));
  EXPECT_TRUE(testing::hasText(g.canvas, "10.000"));
  EXPECT_TRUE(testing::hasText(g.canvas, "100.000"));
  EXPECT_FALSE(testing::hasText(g.canvas, "2.000"));

  // A range within one decade cannot be ticked.
  g.axes[0].high = 2;
  EXPECT_EQ(g.draw(), kAxisError);
}

TEST(CartesianTicks, ZeroLineOnlyWhereZeroLies) {
  CartesianGraph g;
  g.axes[1] = testing::linearAxis(kAxisY, 3, -2, 8, 2, 1);
  g.axes[1].gridStyle = 3;
  g.axes[1].majorTickColour = 9;
  ASSERT_EQ(g.draw(), kOk);
  std::vector<Segment> zero;
  for (const Segment& s : testing::segments(g.canvas)) {
    if (s.colour == 9 && s.x1 == kPlotLeft && s.x2 == kPlotRight) zero.push_back(s);
  }
  ASSERT_EQ(zero.size(), 1u);
  EXPECT_DOUBLE_EQ(zero[0].y1, kPlotBottom - 0.2 * kPlotHeight);
  EXPECT_EQ(zero[0].style, "AAAA");

  CartesianGraph below;
  below.axes[1] = testing::linearAxis(kAxisY, 3, -8, -2, 2, 1);
  below.axes[1].gridStyle = 3;
  below.axes[1].majorTickColour = 9;
  ASSERT_EQ(below.draw(), kOk);
  for (const Segment& s : testing::segments(below.canvas)) {
    EXPECT_FALSE(s.colour == 9 && s.x1 == kPlotLeft && s.x2 == kPlotRight) << s.y1;
  }
}

TEST(CartesianTicks, NoTicksPlacesLabelsAsInsideTicks) {
  CartesianGraph g;
  g.axes[0].tickType = 0;
  ASSERT_EQ(g.draw(), kOk);
  EXPECT_TRUE(bottomTicks(g.canvas).empty());
  const auto all = testing::texts(g.canvas);
  EXPECT_DOUBLE_EQ(testing::findText(all, "2.000")->y, 6032 + 144 - 6 * 12.8);
}

TEST(CartesianTicks, PolarFunctionsOnCartesianGraphUseYRules) {
  CartesianGraph g;
  g.axes[1] = testing::linearAxis(kAxisTheta, 4, 0, 1, 0.5, 1);
  ASSERT_EQ(g.draw(), kOk);
  const auto all = testing::texts(g.canvas);
  // Left-aligned labels right of the right edge.
  EXPECT_DOUBLE_EQ(testing::findText(all, "0.500")->x, kPlotRight + 240 + 64);
}

TEST(CategoryAxis, TicksAtCategoryCentresWithoutLabels) {
  CartesianGraph g;
  g.graph.graphType = kCategoryLines;
  g.axes[0] = testing::linearAxis(kAxisX, 1, 0, 5, 1, 1);
  g.axes[0].labelDecimals = 4;
  ASSERT_EQ(g.draw(), kOk);
  const auto ticks = bottomTicks(g.canvas);
  ASSERT_EQ(ticks.size(), 5u);
  EXPECT_DOUBLE_EQ(ticks[0].x1, kPlotLeft + 0.1 * kPlotWidth);
  EXPECT_DOUBLE_EQ(ticks[4].x1, kPlotLeft + 0.9 * kPlotWidth);
  for (const auto& t : testing::texts(g.canvas)) EXPECT_EQ(t.text.find(".0000"), std::string::npos);
}

struct PolarGraph {
  RecordingCanvas canvas;
  GraphRecord graph = testing::windowGraph(kPolar);
  std::vector<AxisRecord> axes = {
      testing::linearAxis(kAxisR, 1, 0, 5, 1, 1),
      testing::linearAxis(kAxisTheta, 4, 0, 2 * std::numbers::pi, std::numbers::pi / 2, 5)};
  int draw() { return drawGraph(canvas, graph, axes, 1); }
};

TEST(PolarAxes, ChecksAndCircle) {
  PolarGraph p;
  p.axes[0].axisFunction = kAxisX;
  EXPECT_EQ(p.draw(), kAxisError);
  p.axes[0].axisFunction = kAxisR;
  p.axes[1].gridStyle = 5;
  EXPECT_EQ(p.draw(), kAxisError);
  p.axes[1].gridStyle = 4;
  p.canvas.clearLog();
  ASSERT_EQ(p.draw(), kOk);
  EXPECT_TRUE(hasSegment(p.canvas, 2560, 3640, 7680, 3640));
  EXPECT_TRUE(hasSegment(p.canvas, 5120, 1080, 5120, 6200));
  const auto lines = p.canvas.lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "ellipseWorld 2 2560 1080 7680 6200"),
            lines.end());
}

TEST(PolarAxes, ThetaLabelsCounterClockwiseFromTheRight) {
  PolarGraph p;
  p.axes[0].labelDecimals = 1;  // R labels apart from the Theta ones
  ASSERT_EQ(p.draw(), kOk);
  const auto all = testing::texts(p.canvas);
  const auto* zero = testing::findText(all, "0.000");
  const auto* quarter = testing::findText(all, "1.571");
  ASSERT_NE(zero, nullptr);
  ASSERT_NE(quarter, nullptr);
  // Label points at radius 2560 + 2 x 240 (crossing ticks); texts centred on them.
  EXPECT_NEAR(zero->x + 5 * 6 * 12.8 / 2, 5120 + 3040, kTolerance);
  EXPECT_NEAR(zero->y + 12 * 12.8 / 2, 3640, kTolerance);
  EXPECT_NEAR(quarter->x + 5 * 6 * 12.8 / 2, 5120, kTolerance);
  EXPECT_NEAR(quarter->y + 12 * 12.8 / 2, 3640 - 3040, kTolerance);
  EXPECT_FALSE(testing::hasText(p.canvas, "6.283"));  // coincides with 0: not drawn

  p.axes[1].clockwise = kTrue;
  p.canvas.clearLog();
  ASSERT_EQ(p.draw(), kOk);
  const auto turned = testing::texts(p.canvas);
  EXPECT_NEAR(testing::findText(turned, "1.571")->y + 12 * 12.8 / 2, 3640 + 3040, kTolerance);
}

// The labels of the bottom axis in drawing order: texts centred on the label
// line 144 below its outside ticks (label font 6 is 12 pixels high).
std::vector<std::string> bottomLabels(const RecordingCanvas& canvas) {
  std::vector<std::string> out;
  for (const auto& t : testing::texts(canvas)) {
    if (t.y == 6416 - 6 * 12.8 && !t.text.empty()) out.push_back(t.text);
  }
  return out;
}

std::vector<std::string> labelsOf(AxisRecord x) {
  CartesianGraph g;
  g.axes[0] = x;
  EXPECT_EQ(g.draw(), kOk);
  return bottomLabels(g.canvas);
}

// An axis as the result plots leave it: defaults computed on data brought to
// a comfortable size by 10^-k, then scaled back by the single-precision 10^k,
// with two decimals fewer than the defaults' three.
AxisRecord scaledBack(double low, double high, double interval, int k) {
  const double back = static_cast<double>(std::pow(10.0f, static_cast<float>(k)));
  AxisRecord x = testing::linearAxis(kAxisX, 1, low * back, high * back, interval * back, 5);
  x.labelDecimals = 1;
  return x;
}

using Labels = std::vector<std::string>;

TEST(TickLabels, StateTheTicksTheSpacingNeeds) {
  // A spacing of 0.25 needs two decimals: the same on both sides of zero.
  EXPECT_EQ(labelsOf(scaledBack(-1, 1, 0.25, 0)),
            (Labels{"-1.00", "-0.75", "-0.50", "-0.25", "0.00", "0.25", "0.50", "0.75", "1.00"}));
  // Spacings that one decimal already states keep their labels.
  EXPECT_EQ(labelsOf(scaledBack(0, 3, 0.5, 0)),
            (Labels{"0.0", "0.5", "1.0", "1.5", "2.0", "2.5", "3.0"}));
  EXPECT_EQ(labelsOf(scaledBack(-10, 10, 2.5, 0)),
            (Labels{"-10.0", "-7.5", "-5.0", "-2.5", "0.0", "2.5", "5.0", "7.5", "10.0"}));
  // Data about 0.004 to 0.008 wide, ticked on a hundredfold scale.
  EXPECT_EQ(labelsOf(scaledBack(0, 1, 0.1, -2)),
            (Labels{"0.000", "0.001", "0.002", "0.003", "0.004", "0.005", "0.006", "0.007", "0.008",
                    "0.009", "0.010"}));
  // A thousandfold scale earns the defaults three more decimals, enough for 0.00025.
  const Labels fine = labelsOf(scaledBack(-1, 1, 0.25, -3));
  ASSERT_EQ(fine.size(), 9u);
  EXPECT_EQ(fine[0], "-0.00100");
  EXPECT_EQ(fine[3], "-0.00025");
  EXPECT_EQ(fine[4], "0.00000");
  EXPECT_EQ(fine[5], "0.00025");
  // Large ranges: no decimals are needed and the record's stay.
  EXPECT_EQ(labelsOf(scaledBack(0, 400, 100, 0)),
            (Labels{"0.0", "100.0", "200.0", "300.0", "400.0"}));
}

TEST(TickLabels, EqualMagnitudesRoundAlike) {
  // 12.5625 needs four decimals, one more than an axis of this size gets:
  // the halves round away from zero on both sides, as the tick values are
  // taken whole and not summed from minor steps.
  AxisRecord x = testing::linearAxis(kAxisX, 1, -25.125, 25.125, 12.5625, 5);
  x.labelDecimals = 1;
  EXPECT_EQ(labelsOf(x), (Labels{"-25.125", "-12.563", "0.000", "12.563", "25.125"}));
}

TEST(TickLabels, LogarithmicDecadesStated) {
  AxisRecord x = testing::linearAxis(kAxisX, 1, 0.01, 100, 1, 9);
  x.scaleType = kLog10;
  x.labelDecimals = 0;
  EXPECT_EQ(labelsOf(x), (Labels{"0.01", "0.10", "1.00", "10.00", "100.00"}));
  x.low = 1;
  x.high = 1000;
  x.labelDecimals = 2;  // the defaults' choice stays
  EXPECT_EQ(labelsOf(x), (Labels{"1.00", "10.00", "100.00", "1000.00"}));
  AxisRecord two = testing::linearAxis(kAxisX, 1, 0.0625, 1, 1, 8);
  two.scaleType = kLog2;
  two.labelDecimals = 1;
  EXPECT_EQ(labelsOf(two), (Labels{"0.0625", "0.1250", "0.2500", "0.5000", "1.0000"}));
  // Powers of e have no exact decimals: as many as the defaults would give.
  const double e2 = kSinglePrecisionE * kSinglePrecisionE;
  AxisRecord e = testing::linearAxis(kAxisX, 1, 1 / e2, e2, 1, 9);
  e.scaleType = kLogE;
  e.labelDecimals = 0;
  EXPECT_EQ(labelsOf(e), (Labels{"0.14", "0.37", "1.00", "2.72", "7.39"}));
}

// Run by tests/locale/decimal_comma_test.sh with a decimal-comma locale in
// TAVEL_DECIMAL_COMMA_LOCALE (built there with localedef); skipped without one.
TEST(DecimalCommaLocale, LabelsKeepTheirPoint) {
  const char* name = std::getenv("TAVEL_DECIMAL_COMMA_LOCALE");
  if (name == nullptr || std::setlocale(LC_ALL, name) == nullptr) {
    GTEST_SKIP() << "no decimal-comma locale given; the locale test script provides one";
  }
  struct RestoreC {
    ~RestoreC() { std::setlocale(LC_ALL, "C"); }
  } restore;
  ASSERT_STREQ(std::localeconv()->decimal_point, ",") << name << " does not write decimal commas";

  EXPECT_EQ(labelsOf(scaledBack(-1, 1, 0.25, 0)),
            (Labels{"-1.00", "-0.75", "-0.50", "-0.25", "0.00", "0.25", "0.50", "0.75", "1.00"}));
  EXPECT_EQ(tickLabel(1234567.8, 2), "1234567.80");
}

TEST(TickLabels, FixedPointWidthTen) {
  EXPECT_EQ(tickLabel(0.5, 3), "0.500");
  EXPECT_EQ(tickLabel(-1.2345, 2), "-1.23");
  EXPECT_EQ(tickLabel(0.125, 2), "0.13");  // halves round away from zero
  EXPECT_EQ(tickLabel(-0.125, 2), "-0.13");
  EXPECT_EQ(tickLabel(2.5, 0), "3.");
  EXPECT_EQ(tickLabel(9.9996, 3), "10.000");
  EXPECT_EQ(tickLabel(-1e-17, 3), "0.000");  // no sign on a zero
  EXPECT_EQ(tickLabel(1234567.8, 2), "1234567.80");
  EXPECT_EQ(tickLabel(12345678.9, 2), "**********");
  EXPECT_EQ(tickLabel(0.5, 9), ".500000000");  // leading zero dropped to fit
  EXPECT_EQ(tickLabel(0.5, 150), "**********");
  EXPECT_EQ(tickLabel(-3.0, -2), "-3.");
  EXPECT_EQ(tickLabel(std::nan(""), 2), "**********");
}

}  // namespace
}  // namespace tavel::graph

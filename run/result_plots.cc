// SPDX-License-Identifier: GPL-3.0-or-later
// Result plots: the sample of large plots, axis defaults on comfortable ranges, the
// 45-degree line and the table of a run's plot windows.
#include "run/result_plots.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <span>

#include "graph/axes.h"
#include "graph/defaults.h"
#include "graph/series.h"
#include "io/field_format.h"

namespace tavel::run {
namespace {

std::string trimTrailing(const std::string& text) {
  std::size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::string padded(std::string_view text, int length) {
  std::string out(text.substr(0, std::min<std::size_t>(text.size(), length)));
  out.resize(length, ' ');
  return out;
}

// 10 raised to a non-negative integer power by repeated single-precision
// multiplication (exact up to 10**10).
float tenToThe(int power) {
  float s = 1.0f;
  for (int i = 0; i < power; ++i) s *= 10.0f;
  return s;
}

std::string decimal(int value) {
  char digits[16];
  return std::string(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void setSubtitle(app::AppState& state, std::string_view text) {
  state.plotSubtitle = padded(text, app::kPlotSubtitleLength);
}

double largestMagnitude(int n, const double* v) {
  double largest = 0.0;
  for (int i = 0; i < n; ++i)
    if (std::isfinite(v[i]) && std::fabs(v[i]) > largest) largest = std::fabs(v[i]);
  return largest;
}

// The power of ten that plot data of this largest magnitude are drawn in
// units of: 0 inside kPlotLargest..kPlotSmallest, where single-precision
// plot data and the axis arithmetic are at ease.
int plotUnitExponent(double largest) {
  if (largest == 0.0 || (largest <= kPlotLargest && largest >= kPlotSmallest)) return 0;
  return static_cast<int>(std::floor(std::log10(largest)));
}

// An axis title that names the unit: "T / 1E+162", the name shortened so
// that the unit always shows.
std::string unitTitle(std::string_view title, int exponent) {
  if (exponent == 0) return std::string(title);
  char digits[8];
  const auto end = std::to_chars(digits, digits + sizeof digits, std::abs(exponent)).ptr;
  std::string suffix = " / 1E";
  suffix += exponent < 0 ? '-' : '+';
  suffix.append(digits, end);
  std::string name = trimTrailing(std::string(title));
  const std::size_t room = graph::kAxisTitleLength - suffix.size();
  if (name.size() > room) name.resize(room);
  return name + suffix;
}

}  // namespace

int plotSampleStep(int n) { return n <= kMaxPlotPoints ? 1 : (n - 1) / kMaxPlotPoints + 1; }

int samplePoints(int n, const double* xData, const double* yData, std::vector<float>& out) {
  if (n <= 0) {
    out.clear();
    return 0;
  }
  const int k = plotSampleStep(n);
  const int m = (n - 1) / k + 1;
  out.assign(2 * static_cast<std::size_t>(m), 0.0f);
  for (int i = 0; i < m; ++i) {
    const std::size_t row = static_cast<std::size_t>(i) * k;
    out[2 * static_cast<std::size_t>(i)] = static_cast<float>(xData[row]);
    out[2 * static_cast<std::size_t>(i) + 1] = static_cast<float>(yData[row]);
  }
  return m;
}

std::string sampleLegendText(int shown, int n) {
  if (shown >= n) return {};
  const std::string m = decimal(shown);
  const std::string all = decimal(n);
  std::string text = "shown " + m + "/" + all;
  if (text.size() > static_cast<std::size_t>(graph::kSeriesTitleLength)) text = m + " of " + all;
  return text;
}

std::array<float, 4> lineEndPoints(const graph::AxisRecord& xAxis, const graph::AxisRecord& yAxis,
                                   double a, double b) {
  const double c = kLineInset;
  const double xlow = xAxis.low, xhigh = xAxis.high;
  const double ylow = yAxis.low, yhigh = yAxis.high;
  float x1 = static_cast<float>(xlow + c * std::fabs(xlow));
  float x2 = static_cast<float>(xhigh - c * std::fabs(xhigh));
  float y1 = static_cast<float>(a * x1 + b);
  float y2 = static_cast<float>(a * x2 + b);
  if (y1 < ylow) {
    y1 = static_cast<float>(ylow + c * std::fabs(ylow));
    x1 = a != 0.0 ? static_cast<float>((y1 - b) / a)
                  : static_cast<float>((static_cast<double>(x1) + x2) / 2.0);
  }
  if (y2 > yhigh) {
    y2 = static_cast<float>(yhigh - c * std::fabs(yhigh));
    x2 = a != 0.0 ? static_cast<float>((y2 - b) / a)
                  : static_cast<float>((static_cast<double>(x1) + x2) / 2.0);
  }
  return {x1, y1, x2, y2};
}

int scaleAxisDefaults(graph::GraphRecord& graph, graph::SeriesRecord& series, int axisFunction,
                      int scaleType, graph::AxisRecord& axis) {
  const double ey = std::log10(series.yMax - series.yMin);
  const double ex = std::log10(series.xMax - series.xMin);
  const double e = ex < ey ? ex : ey;
  // A constant variable has a range of zero and no logarithm: its ranges are
  // left as they are (the defaults then report the empty range).
  int k = 0;
  if (std::isfinite(e) && e > -38.0 && e < 39.0) k = static_cast<int>(std::trunc(e));
  float s = 1.0f;
  if (k < 0) {
    s = tenToThe(-k);
    series.xMin *= s;
    series.xMax *= s;
    series.yMin *= s;
    series.yMax *= s;
  }
  const int r = graph::initAxisRecord(graph, series, axisFunction, scaleType, axis);
  if (k < 0) {
    const float t = 1.0f / s;
    series.xMin *= t;
    series.xMax *= t;
    series.yMin *= t;
    series.yMax *= t;
    axis.low *= t;
    axis.high *= t;
    axis.tickInterval *= t;
  }
  axis.labelFont = 4;
  axis.labelDecimals = axis.labelDecimals - 2;
  return r;
}

bool plotResult(PlotContext& context, int n, std::string_view title, std::string_view subtitle,
                std::string_view xTitle, std::string_view yTitle, const double* xData,
                const double* yData, bool drawLine, double lineSlope, double lineIntercept) {
  platform::Runtime& runtime = context.runtime;
  platform::Canvas* canvas = runtime.activeCanvas();
  platform::WindowConfig config;
  if (canvas == nullptr || !canvas->getWindowConfig(config)) {
    runtime.stop("Window Not Open");
    return false;
  }
  PlotStorage& s = context.storage;
  graph::GraphRecord& g = s.graph;
  graph::AxisRecord& xAxis = s.axes[0];
  graph::AxisRecord& yAxis = s.axes[1];
  graph::SeriesRecord& data = s.series[0];
  graph::SeriesRecord& line = s.series[1];

  // Values that single precision cannot hold (or hold only roughly) are
  // drawn in units of a power of ten, named in the axis title. Both axes of
  // a plot with the 45-degree line share one unit, so the line stays true.
  const double xLargest = largestMagnitude(n, xData);
  const double yLargest = largestMagnitude(n, yData);
  int xExponent = plotUnitExponent(xLargest);
  int yExponent = plotUnitExponent(yLargest);
  if (drawLine) xExponent = yExponent = plotUnitExponent(std::fmax(xLargest, yLargest));
  std::vector<double> xScaled, yScaled;
  auto inUnits = [n](const double* v, int exponent, std::vector<double>& scaled) {
    if (exponent == 0) return v;
    const double factor = std::pow(10.0, -exponent);
    scaled.resize(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) scaled[static_cast<std::size_t>(i)] = v[i] * factor;
    return static_cast<const double*>(scaled.data());
  };
  const int m = samplePoints(n, inUnits(xData, xExponent, xScaled),
                             inUnits(yData, yExponent, yScaled), s.dataSeries);

  graph::initGraphRecord(graph::kXY, g);
  g.right = config.pixelsX - 1;
  g.bottom = config.pixelsY - 1;
  g.maximiseWindow = graph::kFalse;
  g.title = padded(title, graph::kGraphTitleLength);
  g.subtitle = padded(subtitle, graph::kGraphTitleLength);
  g.titleFont = 3;
  g.graphColour = 1;
  g.titleColour = 1;
  g.subtitleColour = 0;
  g.backgroundColour = 15;

  graph::initSeriesRecord(g, m, s.dataSeries, data);
  data.title = padded(yTitle, graph::kSeriesTitleLength);
  data.markerColour = 2;
  data.lineType = 0;
  data.legendColour = 1;

  scaleAxisDefaults(g, data, graph::kAxisX, graph::kLinear, xAxis);
  xAxis.tickType = 2;
  xAxis.gridStyle = 1;
  xAxis.gridLineType = 1;
  xAxis.gridColour = 11;
  xAxis.title = padded(unitTitle(xTitle, xExponent), graph::kAxisTitleLength);

  scaleAxisDefaults(g, data, graph::kAxisY, graph::kLinear, yAxis);
  yAxis.titleColour = 1;
  yAxis.axisColour = 3;
  yAxis.minorTickColour = 13;
  yAxis.tickType = 2;
  yAxis.gridStyle = 1;
  yAxis.gridLineType = 1;
  yAxis.gridColour = 11;
  yAxis.title = padded(unitTitle(yTitle, yExponent), graph::kAxisTitleLength);

  if (drawLine) {
    s.lineSeries = lineEndPoints(xAxis, yAxis, lineSlope, lineIntercept);
    graph::initSeriesRecord(g, 2, s.lineSeries, line);
    line.lineType = 1;
    line.lineColour = 12;
    line.markerType = 0;
    line.title = padded("45 degree line", graph::kSeriesTitleLength);
    line.legendColour = 12;
  }

  // A sampled plot says in its legend how many observations it shows. The
  // entry has no swatch and draws no point (its one point is a shown one).
  const std::string sampleText = sampleLegendText(m, n);
  const bool sampled = !sampleText.empty();
  if (sampled) {
    s.countPoint = {s.dataSeries[0], s.dataSeries[1]};
    graph::initSeriesRecord(g, 1, s.countPoint, s.countSeries);
    s.countSeries.markerType = 0;
    s.countSeries.lineType = 0;
    s.countSeries.title = padded(sampleText, graph::kSeriesTitleLength);
    s.countSeries.legendColour = 1;
  }

  // The window draws the same plot again at its own size: the records as
  // they stand before drawing, with the viewport of the canvas given.
  auto replay = std::make_shared<const PlotStorage>(s);
  const int seriesCount = (drawLine ? 2 : 1) + (sampled ? 1 : 0);
  auto draw = [drawLine, sampled, seriesCount](platform::Canvas& onto, PlotStorage& r) {
    graph::drawGraph(onto, r.graph, r.axes, seriesCount);
    graph::drawSeries(onto, r.graph, r.dataSeries, r.series[0], r.axes[0], r.axes[1]);
    if (drawLine) graph::drawSeries(onto, r.graph, r.lineSeries, r.series[1], r.axes[0], r.axes[1]);
    if (sampled)
      graph::drawSeries(onto, r.graph, r.countPoint, r.countSeries, r.axes[0], r.axes[1]);
  };
  draw(*canvas, s);
  runtime.setActiveWindowRedraw([replay, draw](platform::Canvas& onto) {
    platform::WindowConfig size;
    if (!onto.getWindowConfig(size) || size.pixelsX < 1 || size.pixelsY < 1) return;
    PlotStorage r = *replay;
    r.graph.right = size.pixelsX - 1;
    r.graph.bottom = size.pixelsY - 1;
    draw(onto, r);
  });

  context.shell.saveCapture(false);
  return true;
}

bool openPlotWindow(PlotContext& context, int unit, std::string_view windowTitle) {
  context.runtime.close(unit);
  if (!context.runtime.openGraphics(unit, windowTitle)) {
    context.runtime.stop("Window Not Open");
    return false;
  }
  return true;
}

std::string transformationWindowTitle(const std::string& name) {
  return padded(name, app::kNameLength) + "Optimal Transformation";
}

std::string correctionWindowTitle(const std::string& name) {
  return padded(name, app::kNameLength) + "Correction";
}

std::string correlationSubtitle(double rsq) {
  return "Final squared correlation =" + app::fieldF(rsq, 8, 4);
}

std::string predictionSubtitle(double avedev, double stdev) {
  return "Avedev=" + app::fieldG(avedev, 11, 3) + "   Stdev=" + app::fieldG(stdev, 11, 3);
}

std::string expPredictionSubtitle(double expAvedevPercent, double expStdevPercent) {
  return "Exp_AvD=" + app::fieldF(expAvedevPercent, 8, 1) +
         " %   Exp_StD%=" + app::fieldF(expStdevPercent, 8, 1) + " %";
}

bool plotTransformation(PlotContext& context, int unit, const std::string& name, bool dependent,
                        int n, const double* raw, const double* transformed) {
  if (!openPlotWindow(context, unit, transformationWindowTitle(name))) return false;
  setSubtitle(context.state, dependent ? "Dependent variable" : "Independent variable");
  return plotResult(context, n, "Optimal Transformation", context.state.plotSubtitle, name,
                    "Transformed", raw, transformed, false, 1.0, 0.0);
}

bool plotCorrelation(PlotContext& context, int unit, const std::string& depName, double rsq, int n,
                     const double* sumTx, const double* ty) {
  if (!openPlotWindow(context, unit, "Optimal Correlation")) return false;
  setSubtitle(context.state, correlationSubtitle(rsq));
  return plotResult(context, n, "Optimal Correlation", context.state.plotSubtitle, "Sum[Transf_x]",
                    trimTrailing(depName) + "_Trans", sumTx, ty, true, 1.0, 0.0);
}

bool plotCorrection(PlotContext& context, int unit, const std::string& name, int n,
                    const double* raw, const double* corrected) {
  if (!openPlotWindow(context, unit, correctionWindowTitle(name))) return false;
  setSubtitle(context.state, "");
  return plotResult(context, n, "Data Correction", context.state.plotSubtitle, name, "Corrected",
                    raw, corrected, true, 1.0, 0.0);
}

bool plotPrediction(PlotContext& context, int unit, const std::string& depName, double avedev,
                    double stdev, int n, const double* y, const double* yPred) {
  const std::string dep = trimTrailing(depName);
  if (!openPlotWindow(context, unit, dep + " Predict")) return false;
  setSubtitle(context.state, predictionSubtitle(avedev, stdev));
  return plotResult(context, n, "Predicted From Inv Tran", context.state.plotSubtitle,
                    dep + "_Meas", dep + "_Predicted", y, yPred, true, 1.0, 0.0);
}

bool plotExpPrediction(PlotContext& context, int unit, double expAvedevPercent,
                       double expStdevPercent, int n, const double* expY, const double* expPred) {
  if (!openPlotWindow(context, unit, "Exp Predicted")) return false;
  setSubtitle(context.state, expPredictionSubtitle(expAvedevPercent, expStdevPercent));
  return plotResult(context, n, "Exp_Predicted From Inv Tran", context.state.plotSubtitle,
                    "Exp_Meas", "Exp_Predicted", expY, expPred, true, 1.0, 0.0);
}

}  // namespace tavel::run

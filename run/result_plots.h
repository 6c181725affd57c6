// SPDX-License-Identifier: GPL-3.0-or-later
// The result plots of a run: one scatter plot per graphics window, drawn
// through the graphing library with an optional straight line, then handed to
// the shell's picture saving. Also the table of a run's plot windows: their
// units, window titles, titles and subtitles.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "app/records.h"
#include "app/shell.h"
#include "graph/records.h"
#include "platform/runtime.h"

namespace tavel::run {

// Plots of more observations than this show an even sample of them.
inline constexpr int kMaxPlotPoints = 100000;

// Plot data whose largest magnitude lies outside this range are drawn in
// units of a power of ten (named in the axis title): single-precision plot
// data overflow near 3.4e38 and lose digits near 1e-38.
inline constexpr double kPlotLargest = 1e30;
inline constexpr double kPlotSmallest = 1e-30;

// 0.01 as a single-precision constant: the line stays one per cent inside
// the axes.
inline constexpr float kLineInset = 0.01f;

// The records and arrays every plot is drawn from. Each plot starts again
// from the defaults operations, so nothing carries over between plots.
struct PlotStorage {
  graph::GraphRecord graph;
  std::array<graph::AxisRecord, 2> axes;      // X, Y
  std::array<graph::SeriesRecord, 2> series;  // data, line
  std::vector<float> dataSeries;              // x, y pairs
  std::array<float, 4> lineSeries{};          // (X1, Y1), (X2, Y2)
  // A legend entry without a swatch that says how many observations a
  // sampled plot shows; drawn only when the plot is sampled.
  graph::SeriesRecord countSeries;
  std::array<float, 2> countPoint{};
};

// Where a plot is drawn and saved.
struct PlotContext {
  platform::Runtime& runtime;
  app::Shell& shell;
  app::AppState& state;
  PlotStorage storage;
};

// The step K of the sample of a plot of n observations: 1 up to
// kMaxPlotPoints, else (n - 1) div kMaxPlotPoints + 1.
int plotSampleStep(int n);

// The points a plot of n observations shows, as float (x, y) pairs: every
// observation up to kMaxPlotPoints, else every K-th in file order from the
// first (observations 1, 1 + K, 1 + 2K, ...), so what is left out is spread
// over the whole file and the last observation shown is within K of the end.
// Every point is an observation; none is a mean of unrelated rows. Returns
// the number of points, (n - 1) div K + 1, at most kMaxPlotPoints.
int samplePoints(int n, const double* xData, const double* yData, std::vector<float>& out);

// The legend text of a sampled plot: "shown M/N", or "M of N" when that
// would not fit a series title. Empty when every observation is shown.
std::string sampleLegendText(int shown, int n);

// The end points of the line y = a x + b one per cent inside the axes,
// shortened where it would leave the Y range; single precision throughout.
std::array<float, 4> lineEndPoints(const graph::AxisRecord& xAxis, const graph::AxisRecord& yAxis,
                                   double a, double b);

// The axis defaults on data ranges brought to a comfortable size: when the
// smaller of the two ranges is below 0.1 the ranges are scaled up by a power
// of ten for the defaults and the axis is scaled back. Tick labels use font 4
// and two decimals fewer. Returns the result code of initAxisRecord.
int scaleAxisDefaults(graph::GraphRecord& graph, graph::SeriesRecord& series, int axisFunction,
                      int scaleType, graph::AxisRecord& axis);

// Draws one scatter plot into the active graphics window and saves it as a
// picture when captures are on. False when the window could not be read: the
// program has then been stopped with "Window Not Open" and the caller must
// not go on.
bool plotResult(PlotContext& context, int n, std::string_view title, std::string_view subtitle,
                std::string_view xTitle, std::string_view yTitle, const double* xData,
                const double* yData, bool drawLine, double lineSlope, double lineIntercept);

// Closes unit and opens it again as a new graphics window with the title;
// stops the program with "Window Not Open" and returns false when the runtime
// cannot open it.
bool openPlotWindow(PlotContext& context, int unit, std::string_view windowTitle);

// ---- the plots of a run; each opens its window, sets plotSubtitle and draws.
// name is a 50-character colName entry. All return false after a stop.

bool plotTransformation(PlotContext& context, int unit, const std::string& name, bool dependent,
                        int n, const double* raw, const double* transformed);
bool plotCorrelation(PlotContext& context, int unit, const std::string& depName, double rsq, int n,
                     const double* sumTx, const double* ty);
bool plotCorrection(PlotContext& context, int unit, const std::string& name, int n,
                    const double* raw, const double* corrected);
bool plotPrediction(PlotContext& context, int unit, const std::string& depName, double avedev,
                    double stdev, int n, const double* y, const double* yPred);
bool plotExpPrediction(PlotContext& context, int unit, double expAvedevPercent,
                       double expStdevPercent, int n, const double* expY, const double* expPred);

// Texts of the table, exposed for the tests.
std::string transformationWindowTitle(const std::string& name);
std::string correctionWindowTitle(const std::string& name);
std::string correlationSubtitle(double rsq);
std::string predictionSubtitle(double avedev, double stdev);
std::string expPredictionSubtitle(double expAvedevPercent, double expStdevPercent);

}  // namespace tavel::run

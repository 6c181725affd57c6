// SPDX-License-Identifier: GPL-3.0-or-later
// A 100 000-point scatter with markers on the 800 x 600 canvas, drawn the way
// the result plots draw it: frame, axes, then the data series.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "graph/graph.h"
#include "platform/headless/blank_canvas.h"
#include "platform/headless/recording_canvas.h"

#if __has_include(<QGuiApplication>)
#include <QGuiApplication>

#include "platform/qt/qimage_canvas.h"
#define TAVEL_BENCH_HAVE_QT 1
#endif

namespace {

using namespace tavel::graph;

constexpr int kPoints = 100000;

struct Scatter {
  std::vector<float> data;
  GraphRecord graph;
  SeriesRecord series;
  std::vector<AxisRecord> axes = std::vector<AxisRecord>(2);

  Scatter() {
    data.reserve(2 * kPoints);
    for (int i = 0; i < kPoints; ++i) {
      const double x = -3.0 + 6.0 * i / kPoints;
      data.push_back(static_cast<float>(x));
      data.push_back(static_cast<float>(x * x * x - 2.0 * x + 0.5 * std::sin(37.0 * x)));
    }
  }
  // Records as the result plots set them, from fresh defaults each time.
  void prepare() {
    initGraphRecord(kXY, graph);
    graph.right = 799;
    graph.bottom = 599;
    graph.maximiseWindow = kFalse;
    graph.titleFont = 3;
    graph.backgroundColour = 15;
    graph.graphColour = graph.titleColour = 1;
    initSeriesRecord(graph, kPoints, data, series);
    series.markerColour = 2;
    series.lineType = 0;
    initAxisRecord(graph, series, kAxisX, kLinear, axes[0]);
    initAxisRecord(graph, series, kAxisY, kLinear, axes[1]);
    for (AxisRecord& axis : axes) {
      axis.tickType = 2;
      axis.gridLineType = 1;
      axis.gridColour = 11;
    }
  }
  void draw(tavel::platform::Canvas& canvas) {
    prepare();
    drawGraph(canvas, graph, axes, 1);
    drawSeries(canvas, graph, data, series, axes[0], axes[1]);
  }
};

void BM_ScatterNull(benchmark::State& state) {
  Scatter scatter;
  // Queries answered, primitives ignored: what is left is the library's own cost.
  tavel::platform::headless::BlankCanvas canvas;
  for (auto _ : state) scatter.draw(canvas);
}
BENCHMARK(BM_ScatterNull)->Unit(benchmark::kMillisecond);

// Every primitive logged as the tests see it, nothing rasterised.
void BM_ScatterRecording(benchmark::State& state) {
  Scatter scatter;
  for (auto _ : state) {
    tavel::platform::headless::RecordingCanvas canvas;
    scatter.draw(canvas);
    benchmark::DoNotOptimize(canvas.calls().size());
  }
}
BENCHMARK(BM_ScatterRecording)->Unit(benchmark::kMillisecond);

#ifdef TAVEL_BENCH_HAVE_QT
QGuiApplication& application() {
  static int argc = 1;
  static char name[] = "graph_scatter_bench";
  static char* argv[] = {name, nullptr};
  static std::unique_ptr<QGuiApplication> app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::make_unique<QGuiApplication>(argc, argv);
  }();
  return *app;
}

// state.range(0): 1 keeps the picture recording that SVG export needs.
void BM_ScatterImage(benchmark::State& state) {
  application();
  Scatter scatter;
  for (auto _ : state) {
    state.PauseTiming();
    auto canvas = std::make_unique<tavel::platform::qt::QImageCanvas>();
    canvas->setRecording(state.range(0) != 0);
    state.ResumeTiming();
    scatter.draw(*canvas);
    benchmark::DoNotOptimize(canvas->image().constBits());
  }
}
BENCHMARK(BM_ScatterImage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

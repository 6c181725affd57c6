// SPDX-License-Identifier: GPL-3.0-or-later
// Plotting of data series onto a graph that drawGraph has drawn: joining
// lines, markers, error bars, bars, category names and the legend.
#pragma once

#include <span>
#include <string>

#include "graph/records.h"
#include "platform/canvas.h"

namespace tavel::graph {

// x-y and polar graphs; for polar graphs xAxis is the R axis and yAxis the
// Theta axis. The axes must be those passed to drawGraph.
int drawSeriesMulti(platform::Canvas& canvas, GraphRecord& graph, std::span<const float> data,
                    std::span<const SeriesRecord> series, const AxisRecord& xAxis,
                    const AxisRecord& yAxis);
int drawSeries(platform::Canvas& canvas, GraphRecord& graph, std::span<const float> data,
               const SeriesRecord& series, const AxisRecord& xAxis, const AxisRecord& yAxis);

// Category graphs (types 1..3); labels holds one category name per point.
int drawCategorySeriesMulti(platform::Canvas& canvas, GraphRecord& graph,
                            std::span<const std::string> labels, std::span<const float> data,
                            std::span<const SeriesRecord> series, const AxisRecord& xAxis,
                            const AxisRecord& yAxis);
int drawCategorySeries(platform::Canvas& canvas, GraphRecord& graph,
                       std::span<const std::string> labels, std::span<const float> data,
                       const SeriesRecord& series, const AxisRecord& xAxis,
                       const AxisRecord& yAxis);

}  // namespace tavel::graph
